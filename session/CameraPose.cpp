#include "session/CameraPose.h"

#include <QByteArray>

#include <charconv>
#include <cmath>
#include <limits>

float CameraPose::toFloat(double value)
{
    if (std::isnan(value))
        return 0.0f;
    constexpr double maxFloat = std::numeric_limits<float>::max();
    if (value > maxFloat)
        return std::numeric_limits<float>::infinity();
    if (value < -maxFloat)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

double CameraPose::floatToJsonNumber(float value)
{
    if (!std::isfinite(value))
        return static_cast<double>(value);
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    if (result.ec != std::errc())
        return static_cast<double>(value);
    // QByteArray::toDouble reads in the C locale whatever the user's locale is.
    bool ok = false;
    const double parsed = QByteArray(buffer, int(result.ptr - buffer)).toDouble(&ok);
    return ok ? parsed : static_cast<double>(value);
}

CameraPose CameraPose::fromJson(const QJsonValue &value)
{
    const QJsonObject o = value.toObject();
    CameraPose pose;
    pose.x = toFloat(o.value(QLatin1String("x")).toDouble());
    pose.y = toFloat(o.value(QLatin1String("y")).toDouble());
    pose.z = toFloat(o.value(QLatin1String("z")).toDouble());
    pose.alpha = o.value(QLatin1String("alpha")).toDouble();
    pose.beta = o.value(QLatin1String("beta")).toDouble();
    return pose;
}

QJsonObject CameraPose::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("x"), floatToJsonNumber(x));
    o.insert(QLatin1String("y"), floatToJsonNumber(y));
    o.insert(QLatin1String("z"), floatToJsonNumber(z));
    o.insert(QLatin1String("alpha"), alpha);
    o.insert(QLatin1String("beta"), beta);
    return o;
}
