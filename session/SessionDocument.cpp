#include "session/SessionDocument.h"

#include <QJsonObject>
#include <QStringList>

#include <cmath>
#include <limits>

bool SessionDocument::toIntStrict(const QJsonValue &value, int *out)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d))
        return false;
    if (d < double(std::numeric_limits<int>::min()) || d > double(std::numeric_limits<int>::max()))
        return false;
    *out = static_cast<int>(d);
    return true;
}

int SessionDocument::intOr(const QJsonValue &value, int defaultValue)
{
    int v = 0;
    return toIntStrict(value, &v) ? v : defaultValue;
}

int SessionDocument::truncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    const double t = std::trunc(value);
    if (t <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (t >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(t);
}

static int coordinate(const QJsonObject &o, const char *key)
{
    const int v = SessionDocument::intOr(o.value(QLatin1String(key)), 0);
    return (v > SessionDocument::coordinateLimit || v < -SessionDocument::coordinateLimit) ? 0 : v;
}

QRect SessionDocument::readRect(const QJsonValue &value)
{
    const QJsonObject o = value.toObject();
    return QRect(coordinate(o, "x"), coordinate(o, "y"), coordinate(o, "w"), coordinate(o, "h"));
}

QJsonObject SessionDocument::rectToJson(const QRect &rect)
{
    QJsonObject o;
    o.insert(QLatin1String("x"), rect.x());
    o.insert(QLatin1String("y"), rect.y());
    o.insert(QLatin1String("w"), rect.width());
    o.insert(QLatin1String("h"), rect.height());
    return o;
}

QPoint SessionDocument::readPoint(const QJsonValue &value)
{
    const QJsonObject o = value.toObject();
    return QPoint(coordinate(o, "x"), coordinate(o, "y"));
}

QJsonObject SessionDocument::pointToJson(const QPoint &point)
{
    QJsonObject o;
    o.insert(QLatin1String("x"), point.x());
    o.insert(QLatin1String("y"), point.y());
    return o;
}

std::vector<QPoint> SessionDocument::readPoints(const QJsonValue &value)
{
    std::vector<QPoint> points;
    const QJsonArray array = value.toArray();
    points.reserve(size_t(array.size()));
    for (const QJsonValue &p : array)
        points.push_back(readPoint(p));
    return points;
}

QJsonArray SessionDocument::pointsToJson(const std::vector<QPoint> &points)
{
    QJsonArray array;
    for (const QPoint &p : points)
        array.append(pointToJson(p));
    return array;
}

QString SessionDocument::textOf(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double: {
        const qint64 whole = value.toInteger(std::numeric_limits<qint64>::min());
        if (whole != std::numeric_limits<qint64>::min() || value.toDouble() == double(whole))
            return QString::number(whole);
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    }
    default:
        return QString();
    }
}

bool SessionDocument::parsePositionKey(const QString &key, int *position)
{
    bool ok = false;
    const int p = key.toInt(&ok);
    if (!ok || QString::number(p) != key)
        return false;
    *position = p;
    return true;
}

QString SessionDocument::clinicalImageName(const CameraPose &pose, int position, int version)
{
    QString name = QString::number(truncateToInt(pose.y)) + QLatin1Char('_') +
                   QString::number(truncateToInt(pose.x)) + QLatin1Char('_') +
                   QString::number(truncateToInt(pose.z)) + QLatin1Char('_') + QString::number(position);
    if (version >= 1) {
        name += QLatin1Char('_') + QString::number(truncateToInt(pose.alpha)) + QLatin1Char('_') +
                QString::number(truncateToInt(pose.beta));
    }
    return name;
}

bool SessionDocument::parseClinicalImageName(const QString &name, int version, CameraPose *pose,
                                             int *position)
{
    const QStringList parts = name.split(QLatin1Char('_'), Qt::KeepEmptyParts);
    auto number = [&parts](int i) { return i < parts.size() ? parts.at(i).toDouble() : 0.0; };
    CameraPose p;
    p.y = CameraPose::toFloat(number(0));
    p.x = CameraPose::toFloat(number(1));
    p.z = CameraPose::toFloat(number(2));
    int pos = 0;
    if (parts.size() > 3) {
        bool ok = false;
        pos = parts.at(3).toInt(&ok);
        if (!ok)
            pos = 0;
    }
    if (version >= 1) {
        p.alpha = number(4);
        p.beta = number(5);
    }
    *pose = p;
    *position = pos;
    return parts.size() >= (version >= 1 ? 6 : 4);
}

std::vector<int> SessionDocument::completeCounters(std::vector<int> counters,
                                                   const std::map<int, std::vector<int>> &numbersByPosition)
{
    auto lastNumberOf = [&numbersByPosition](int position) {
        const auto it = numbersByPosition.find(position);
        return (it == numbersByPosition.end() || it->second.empty()) ? 0 : it->second.back();
    };
    const bool hasExternal = numbersByPosition.count(-1) != 0;
    // Only the device positions and the external one have counters; other
    // position keys must not shift the external counter to another index
    // from one read to the next.
    size_t positionCount = 0;
    for (const auto &entry : numbersByPosition)
        positionCount += (entry.first >= -1 && entry.first <= 3) ? 1 : 0;

    // The device's rule: one counter per position in order, the external one
    // after the fourth.
    int t = int(counters.size());
    while (counters.size() < positionCount) {
        counters.push_back(lastNumberOf(t));
        ++t;
        if (hasExternal && counters.size() == 4)
            counters.push_back(lastNumberOf(-1));
    }
    if (hasExternal && counters.size() == 4)
        counters.push_back(lastNumberOf(-1));

    // A document lacking one of the device positions leaves fewer than five;
    // complete the layout so that every device position has its own counter,
    // then the external one (0 when the document has no external lesions).
    // A list that already holds an external counter is not lengthened.
    while (counters.size() < 4)
        counters.push_back(lastNumberOf(int(counters.size())));
    if (counters.size() == 4)
        counters.push_back(lastNumberOf(-1));
    return counters;
}

int SessionDocument::counterIndex(int position, int counterCount)
{
    if (counterCount <= 0)
        return -1;
    if (position == -1)
        return counterCount - 1;
    if (position >= 0 && position < counterCount - 1)
        return position;
    return -1;
}
