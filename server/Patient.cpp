#include "server/Patient.h"

#include <QJsonValue>

#include <cmath>

namespace {

std::string textOf(const QJsonValue &value)
{
    return value.isString() ? value.toString().toStdString() : std::string();
}

// The server sends the id as a JSON number; anything that is not a whole
// number is treated as absent rather than rounded onto another patient's id.
std::string idText(const QJsonValue &value)
{
    if (!value.isDouble())
        return {};
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number || std::fabs(number) > 9.0e15)
        return {};
    return std::to_string(static_cast<long long>(number));
}

} // namespace

Patient Patient::fromJson(const QJsonObject &object)
{
    Patient patient;
    patient.patientID = idText(object.value(QStringLiteral("patientID")));
    patient.centerID = textOf(object.value(QStringLiteral("centerID")));
    patient.name = textOf(object.value(QStringLiteral("name"))) + textOf(object.value(QStringLiteral("tag")));
    patient.clinicIdentifier = patient.centerID;
    const QJsonValue birth = object.value(QStringLiteral("birthdate"));
    if (birth.isString())
        patient.birthdate = QDate::fromString(birth.toString(), QStringLiteral("yyyy-MM-dd"));
    return patient;
}
