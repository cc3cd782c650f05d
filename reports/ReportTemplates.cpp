#include "reports/ReportTemplates.h"

#include <QJsonArray>

std::optional<std::vector<ReportTemplates::Clinic>>
ReportTemplates::clinics(const QJsonDocument &templatesList)
{
    if (!templatesList.isArray())
        return std::nullopt;
    std::vector<Clinic> result;
    for (const QJsonValue &value : templatesList.array()) {
        const QJsonObject object = value.toObject();
        Clinic clinic;
        clinic.name = object.value(QStringLiteral("name")).toString();
        for (const QJsonValue &file : object.value(QStringLiteral("files")).toArray()) {
            const QJsonObject entry = file.toObject();
            clinic.files.emplace_back(entry.value(QStringLiteral("filename")).toString(),
                                      QUrl(entry.value(QStringLiteral("url")).toString()));
        }
        auto same = std::find_if(result.begin(), result.end(),
                                 [&](const Clinic &known) { return known.name == clinic.name; });
        if (same != result.end())
            same->files = std::move(clinic.files);
        else
            result.push_back(std::move(clinic));
    }
    return result;
}

bool ReportTemplates::isKnownType(const QString &type)
{
    return type.size() == 1 && type.at(0) >= QLatin1Char('0') && type.at(0) <= QLatin1Char('4');
}

std::optional<ReportTemplates::Template> ReportTemplates::parseTemplate(const QJsonDocument &document)
{
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    Template result;
    result.logo = object.value(QStringLiteral("logo")).toString();
    for (const QJsonValue &value : object.value(QStringLiteral("sections")).toArray()) {
        const QJsonObject section = value.toObject();
        if (isKnownType(section.value(QStringLiteral("type")).toString()))
            result.sections.push_back(section);
    }
    return result;
}
