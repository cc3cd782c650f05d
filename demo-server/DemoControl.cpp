#include "demo-server/DemoControl.h"

#include "demo-server/DemoFaults.h"
#include "demo-server/DemoLinks.h"
#include "demo-server/DemoServer.h"

#include <QJsonArray>

DemoControl::DemoControl(DemoServer &server, DemoFaults &faults) : m_server(server), m_faults(faults) {}

void DemoControl::handle(const ExchangePtr &exchange, const QStringList &c)
{
    const QString path = c.value(1);
    const QString method = exchange->method;
    const auto body = exchange->body.isEmpty() ? std::optional<QJsonObject>(QJsonObject())
                                               : DemoLinks::jsonObject(exchange->body);
    if (!body) {
        exchange->replyError(400, QStringLiteral("invalid"), QStringLiteral("A JSON object is expected."));
        return;
    }
    const QString syncId = body->value(QStringLiteral("sync")).toString();
    if (path.isEmpty() || path == QLatin1String("/")) {
        exchange->replyJson(
            200,
            QJsonObject{{QStringLiteral("endpoints"),
                         QJsonArray{QStringLiteral("POST /control/reset"),
                                    QStringLiteral("GET|POST|DELETE /control/faults[/GROUP]"),
                                    QStringLiteral("GET /control/phone"),
                                    QStringLiteral("POST /control/phone/join|advance|fail|cancel|finish"),
                                    QStringLiteral("GET /control/uploads"),
                                    QStringLiteral("GET /control/objects/OBJECT"),
                                    QStringLiteral("GET /control/history/OBJECT"),
                                    QStringLiteral("GET /control/outbox/USER"),
                                    QStringLiteral("GET /control/totp/USER")}},
                        {QStringLiteral("faultGroups"), QJsonArray::fromStringList(DemoFaults::groups())}});
    } else if (path == QLatin1String("/reset") && method == QLatin1String("POST")) {
        const bool ok = m_server.resetData();
        exchange->replyJson(ok ? 200 : 500, QJsonObject{{QStringLiteral("reset"), ok}});
    } else if (path.startsWith(QLatin1String("/faults"))) {
        const QString group = path.mid(8);
        if (!group.isEmpty() && !DemoFaults::groups().contains(group)) {
            exchange->replyError(404, QStringLiteral("unknown_group"),
                                 QStringLiteral("No such fault group."));
            return;
        }
        if (method == QLatin1String("DELETE")) {
            m_faults.clear(group);
        } else if (method == QLatin1String("POST")) {
            const QString target = group.isEmpty() ? body->value(QStringLiteral("group")).toString() : group;
            if (!DemoFaults::groups().contains(target)) {
                exchange->replyError(400, QStringLiteral("unknown_group"),
                                     QStringLiteral("Give a known \"group\"."));
                return;
            }
            QJsonObject settings = *body;
            settings.remove(QStringLiteral("group"));
            DemoFaults::Fault f = m_faults.get(target);
            QString why;
            if (!f.apply(settings, &why)) {
                exchange->replyError(400, QStringLiteral("invalid"), why);
                return;
            }
            m_faults.set(target, f);
        }
        exchange->replyJson(200, m_faults.toJson());
    } else if (path == QLatin1String("/phone") && method == QLatin1String("GET")) {
        exchange->replyJson(200, m_server.phoneState(exchange->query.queryItemValue(QStringLiteral("sync"))));
    } else if (path.startsWith(QLatin1String("/phone/")) && method == QLatin1String("POST")) {
        const QString action = path.mid(7);
        int result = -1;
        if (action == QLatin1String("join"))
            result = m_server.phoneJoin(syncId) ? 1 : 0;
        else if (action == QLatin1String("advance"))
            result = m_server.phoneAdvance(syncId) ? 1 : 0;
        else if (action == QLatin1String("fail"))
            result = m_server.phoneFail(syncId) ? 1 : 0;
        else if (action == QLatin1String("cancel"))
            result = m_server.phoneCancel(syncId) ? 1 : 0;
        else if (action == QLatin1String("finish"))
            result = m_server.phoneFinish(syncId);
        if (result < 0) {
            exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("Unknown phone action."));
            return;
        }
        QJsonObject state = m_server.phoneState(syncId);
        state.insert(QStringLiteral("result"), result);
        exchange->replyJson(result > 0 || action == QLatin1String("finish") ? 200 : 409, state);
    } else if (path == QLatin1String("/uploads") && method == QLatin1String("GET")) {
        QJsonArray list;
        for (const DemoServer::Upload &u : m_server.uploads())
            list.append(QJsonObject{{QStringLiteral("time"), u.time},
                                    {QStringLiteral("purpose"), u.purpose},
                                    {QStringLiteral("object"), u.object},
                                    {QStringLiteral("size"), u.size},
                                    {QStringLiteral("patientID"), u.patientId},
                                    {QStringLiteral("sessionID"), u.sessionId},
                                    {QStringLiteral("name"), u.name},
                                    {QStringLiteral("username"), u.username}});
        exchange->replyJson(200, QJsonDocument(list));
    } else if (path.startsWith(QLatin1String("/objects/")) && method == QLatin1String("GET")) {
        const QString object = path.mid(9);
        const QByteArray bytes = m_server.storedObject(object);
        if (bytes.isEmpty())
            exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such object."));
        else
            exchange->replyBytes(200, bytes, DemoLinks::contentTypeOf(object));
    } else if (path.startsWith(QLatin1String("/history/")) && method == QLatin1String("GET")) {
        const QString object = path.mid(9);
        QJsonArray versions;
        for (const QByteArray &bytes : m_server.storedHistory(object))
            versions.append(QJsonObject{{QStringLiteral("size"), bytes.size()},
                                        {QStringLiteral("base64"), QString::fromLatin1(bytes.toBase64())}});
        exchange->replyJson(
            200, QJsonObject{{QStringLiteral("object"), object}, {QStringLiteral("versions"), versions}});
    } else if (path.startsWith(QLatin1String("/outbox/")) && method == QLatin1String("GET")) {
        const QString code = m_server.lastMailedCode(path.mid(8));
        if (code.isEmpty())
            exchange->replyError(404, QStringLiteral("not_found"),
                                 QStringLiteral("No code was mailed to that user."));
        else
            exchange->replyJson(200, QJsonObject{{QStringLiteral("code"), code}});
    } else if (path.startsWith(QLatin1String("/totp/")) && method == QLatin1String("GET")) {
        const QString code = m_server.currentTotpCode(path.mid(6));
        if (code.isEmpty())
            exchange->replyError(404, QStringLiteral("not_found"),
                                 QStringLiteral("That user has no authenticator."));
        else
            exchange->replyJson(200, QJsonObject{{QStringLiteral("code"), code}});
    } else {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such control."));
    }
}
