#include "demo-server/DemoFaults.h"

#include <algorithm>
#include <iterator>

bool DemoFaults::Fault::isEmpty() const
{
    return latencyMs == 0 && failNext == 0 && failRate == 0 && rate == 1 && seed == 1 && !afterStore &&
           !hang && !truncate && !notJson && !noFields && !challenge && !redirect &&
           !noUrl;
}

QJsonObject DemoFaults::Fault::toJson() const
{
    return {{QStringLiteral("latencyMs"), latencyMs},
            {QStringLiteral("failNext"), failNext},
            {QStringLiteral("failStatus"), failStatus},
            {QStringLiteral("hang"), hang},
            {QStringLiteral("truncate"), truncate},
            {QStringLiteral("notJson"), notJson},
            {QStringLiteral("noFields"), noFields},
            {QStringLiteral("challenge"), challenge},
            {QStringLiteral("redirect"), redirect},
            {QStringLiteral("failRate"), failRate},
            {QStringLiteral("rate"), rate},
            {QStringLiteral("seed"), qint64(seed)},
            {QStringLiteral("afterStore"), afterStore},
            {QStringLiteral("noUrl"), noUrl}};
}

bool DemoFaults::Fault::apply(const QJsonObject &json, QString *error)
{
    Fault next = *this;
    for (auto it = json.begin(); it != json.end(); ++it) {
        const QString key = it.key();
        const QJsonValue v = it.value();
        if (key == QLatin1String("latencyMs") || key == QLatin1String("failNext") ||
            key == QLatin1String("failStatus")) {
            if (!v.isDouble() || v.toDouble() < 0 || v.toDouble() > 3600000 ||
                v.toDouble() != double(v.toInt())) {
                *error = QStringLiteral("%1 must be a whole number from 0 to 3600000").arg(key);
                return false;
            }
            if (key == QLatin1String("latencyMs"))
                next.latencyMs = v.toInt();
            else if (key == QLatin1String("failNext"))
                next.failNext = v.toInt();
            else
                next.failStatus = v.toInt();
        } else if (key == QLatin1String("failRate") || key == QLatin1String("rate")) {
            if (!v.isDouble() || !(v.toDouble() >= 0 && v.toDouble() <= 1)) {
                *error = QStringLiteral("%1 must be a number from 0 to 1").arg(key);
                return false;
            }
            (key == QLatin1String("rate") ? next.rate : next.failRate) = v.toDouble();
        } else if (key == QLatin1String("seed")) {
            if (!v.isDouble() || v.toDouble() < 0 || v.toDouble() > 4294967295.0 ||
                v.toDouble() != double(qint64(v.toDouble()))) {
                *error = QStringLiteral("seed must be a whole number from 0 to 4294967295");
                return false;
            }
            next.seed = quint32(qint64(v.toDouble()));
        } else if (key == QLatin1String("hang") || key == QLatin1String("truncate") ||
                   key == QLatin1String("notJson") || key == QLatin1String("noFields") ||
                   key == QLatin1String("challenge") || key == QLatin1String("redirect") ||
                   key == QLatin1String("afterStore") || key == QLatin1String("noUrl")) {
            if (!v.isBool()) {
                *error = QStringLiteral("%1 must be true or false").arg(key);
                return false;
            }
            bool &flag = key == QLatin1String("hang")         ? next.hang
                         : key == QLatin1String("truncate")   ? next.truncate
                         : key == QLatin1String("notJson")    ? next.notJson
                         : key == QLatin1String("noFields")   ? next.noFields
                         : key == QLatin1String("redirect")   ? next.redirect
                         : key == QLatin1String("afterStore") ? next.afterStore
                         : key == QLatin1String("noUrl")      ? next.noUrl
                                                              : next.challenge;
            flag = v.toBool();
        } else {
            *error = QStringLiteral("unknown fault setting %1").arg(key);
            return false;
        }
    }
    if (!isKnownStatus(next.failStatus) || next.failStatus < 400) {
        *error = QStringLiteral("failStatus must be an HTTP error status");
        return false;
    }
    *this = next;
    return true;
}

const QStringList &DemoFaults::groups()
{
    static const QStringList list = {
        QStringLiteral("directory"), QStringLiteral("auth"),        QStringLiteral("patients"),
        QStringLiteral("sessions"),  QStringLiteral("storage-get"), QStringLiteral("storage-put"),
        QStringLiteral("assign"),    QStringLiteral("sync"),        QStringLiteral("reports")};
    return list;
}

bool DemoFaults::isKnownStatus(int status)
{
    // The statuses the responder has a status line for; others could not be written.
    static const int known[] = {200, 201, 204, 302, 400, 401, 403, 404, 405, 408, 409,
                                410, 413, 415, 422, 429, 500, 501, 502, 503, 504};
    return std::find(std::begin(known), std::end(known), status) != std::end(known);
}

bool DemoFaults::parseFault(const QString &faultText, QString *group, Fault *fault, QString *error)
{
    const qsizetype colon = faultText.indexOf(QLatin1Char(':'));
    *group = (colon < 0 ? faultText : faultText.left(colon)).trimmed();
    if (!groups().contains(*group)) {
        *error = QStringLiteral("unknown fault group %1 (groups: %2)")
                     .arg(*group, groups().join(QLatin1String(", ")));
        return false;
    }
    QJsonObject json;
    const QStringList parts =
        colon < 0 ? QStringList() : faultText.mid(colon + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QString key = part.section(QLatin1Char('='), 0, 0).trimmed();
        const QString value = part.section(QLatin1Char('='), 1).trimmed();
        bool ok = true;
        if (key == QLatin1String("latency"))
            json.insert(QStringLiteral("latencyMs"), value.toInt(&ok));
        else if (key == QLatin1String("fail"))
            json.insert(QStringLiteral("failNext"), value.isEmpty() ? 1 : value.toInt(&ok));
        else if (key == QLatin1String("status"))
            json.insert(QStringLiteral("failStatus"), value.toInt(&ok));
        else if (key == QLatin1String("failRate") || key == QLatin1String("rate"))
            json.insert(key, value.toDouble(&ok));
        else if (key == QLatin1String("seed"))
            json.insert(key, double(value.toUInt(&ok)));
        else if (key == QLatin1String("hang") || key == QLatin1String("truncate") ||
                 key == QLatin1String("notJson") || key == QLatin1String("noFields") ||
                 key == QLatin1String("challenge") || key == QLatin1String("redirect") ||
                 key == QLatin1String("afterStore") || key == QLatin1String("noUrl"))
            json.insert(key,
                        value.isEmpty() || value == QLatin1String("true") || value == QLatin1String("1"));
        else {
            *error = QStringLiteral("unknown fault setting %1").arg(key);
            return false;
        }
        if (!ok) {
            *error = QStringLiteral("%1 needs a number").arg(key);
            return false;
        }
    }
    return fault->apply(json, error);
}

void DemoFaults::set(const QString &group, const Fault &fault)
{
    if (fault.isEmpty()) {
        faults.remove(group);
        generators.remove(group);
    } else {
        faults.insert(group, fault);
        generators.insert(group, QRandomGenerator(fault.seed));
    }
}

void DemoFaults::clear(const QString &group)
{
    if (group.isEmpty()) {
        faults.clear();
        generators.clear();
    } else {
        faults.remove(group);
        generators.remove(group);
    }
}

DemoFaults::Fault DemoFaults::get(const QString &group) const
{
    return faults.value(group);
}

DemoFaults::Fault DemoFaults::take(const QString &group)
{
    auto it = faults.find(group);
    if (it == faults.end())
        return {};
    Fault now = *it;
    QRandomGenerator &random = generators[group];
    bool fails = false;
    if (it->failNext > 0) {
        fails = true;
        --it->failNext;
    } else if (it->failRate > 0) {
        fails = random.generateDouble() < it->failRate;
    }
    now.failNext = fails ? 1 : 0;
    const bool rated = now.hang || now.truncate || now.notJson || now.noFields;
    if (rated && now.rate < 1 && !(random.generateDouble() < now.rate))
        now.hang = now.truncate = now.notJson = now.noFields = false;
    if (it->isEmpty()) {
        faults.erase(it);
        generators.remove(group);
    }
    return now;
}

QJsonObject DemoFaults::toJson() const
{
    QJsonObject out;
    for (auto it = faults.begin(); it != faults.end(); ++it)
        out.insert(it.key(), it->toJson());
    return out;
}
