#include "demo-server/DemoSessions.h"

#include "demo-server/DemoDatabase.h"
#include "demo-server/DemoLinks.h"
#include "demo-server/DemoStorage.h"
#include "demo-server/SampleData.h"

#include <QRegularExpression>

#include <map>

DemoSessions::DemoSessions(DemoDatabase &db, DemoLinks &links) : m_db(db), m_links(links) {}

std::optional<QVariantMap> DemoSessions::sessionOf(DemoDatabase &db, const ExchangePtr &exchange,
                                                   const QString &patient, const QString &session)
{
    const auto row = db.selectOne(QStringLiteral("SELECT * FROM sessions WHERE id = ? AND patient_id = ?"),
                                  {session.toInt(), patient.toInt()});
    if (!row)
        exchange->replyError(404, QStringLiteral("not_found"),
                             QStringLiteral("No such session of this patient."));
    return row;
}

void DemoSessions::sessionList(const ExchangePtr &exchange, const QStringList &c)
{
    const int patientId = c[1].toInt();
    if (!m_db.selectOne(QStringLiteral("SELECT id FROM patients WHERE id = ?"), {patientId})) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such patient."));
        return;
    }
    QJsonArray list;
    for (const QVariantMap &s : m_db.select(
             QStringLiteral("SELECT * FROM sessions WHERE patient_id = ? ORDER BY id"), {patientId})) {
        const int id = s.value(QStringLiteral("id")).toInt();
        const bool hasDocument = s.value(QStringLiteral("has_document")).toInt() != 0;
        list.append(QJsonObject{
            {QStringLiteral("pk"), id},
            {QStringLiteral("date"), s.value(QStringLiteral("date")).toString()},
            {QStringLiteral("jsonUrl"),
             hasDocument ? QJsonValue(m_links.signedUrl(
                               QStringLiteral("GET"),
                               QStringLiteral("sessions/%1/%2/session.json").arg(patientId).arg(id)))
                         : QJsonValue(QJsonValue::Null)}});
    }
    exchange->replyJson(200, QJsonObject{{QStringLiteral("patientID"), patientId},
                                         {QStringLiteral("sessions_patient"), list}});
}

QJsonArray DemoSessions::clinicalEntries(const QVariantMap &session, const QString &only,
                                         const QString &quality, bool *found)
{
    const int patientId = session.value(QStringLiteral("patient_id")).toInt();
    const int sessionId = session.value(QStringLiteral("id")).toInt();
    const QString folder = QStringLiteral("sessions/%1/%2/").arg(patientId).arg(sessionId);
    std::map<QString, QString> objects; // name -> object served for it
    const SampleData::Session *sample = SampleData::findSession(sessionId);
    if (sample && sample->patientId == patientId && sample->hasDocument) {
        for (const SampleData::ClinicalImage &image : sample->images)
            objects[image.name] =
                folder + QStringLiteral("imgL/") + image.name + quality + QStringLiteral(".jpg");
    }
    for (const QVariantMap &f :
         m_db.select(QStringLiteral("SELECT * FROM session_files WHERE session_id = ? AND kind = 'clinical'"),
                     {sessionId}))
        objects[f.value(QStringLiteral("name")).toString()] = f.value(QStringLiteral("object")).toString();
    QJsonArray out;
    for (const auto &entry : objects) {
        if (!only.isEmpty() && entry.first != only)
            continue;
        *found = true;
        out.append(QJsonObject{
            {QStringLiteral("name"), folder + QStringLiteral("imgL/") + entry.first + QStringLiteral(".jpg")},
            {QStringLiteral("url"), m_links.signedUrl(QStringLiteral("GET"), entry.second)}});
    }
    return out;
}

QJsonArray DemoSessions::dermatoscopicEntries(const QVariantMap &session, const QString &only, bool *found)
{
    const int patientId = session.value(QStringLiteral("patient_id")).toInt();
    const int sessionId = session.value(QStringLiteral("id")).toInt();
    const QString folder = QStringLiteral("sessions/%1/%2/dermatoscopic/").arg(patientId).arg(sessionId);
    QJsonArray out;
    auto add = [&](const QString &id, const QString &object, const QString &thumbnail) {
        out.append(QJsonObject{{QStringLiteral("name"), folder + id + QStringLiteral(".jpg")},
                               {QStringLiteral("url"), m_links.signedUrl(QStringLiteral("GET"), object)}});
        if (!thumbnail.isEmpty())
            out.append(
                QJsonObject{{QStringLiteral("name"), folder + id + QStringLiteral("s.jpg")},
                            {QStringLiteral("url"), m_links.signedUrl(QStringLiteral("GET"), thumbnail)}});
    };
    const SampleData::Session *sample = SampleData::findSession(sessionId);
    if (sample && sample->patientId == patientId && sample->hasDocument) {
        for (const SampleData::Dermatoscopic &d : sample->dermatoscopic) {
            // One picture is kept out of the session's listing, as if the
            // listing had missed it; asked for by name it is still there.
            if (only.isEmpty() ? !d.listed : d.id != only)
                continue;
            *found = true;
            add(d.id, folder + d.id + QStringLiteral(".jpg"),
                d.hasThumbnail ? folder + d.id + QStringLiteral("s.jpg") : QString());
        }
    }
    for (const QVariantMap &f : m_db.select(
             QStringLiteral(
                 "SELECT * FROM session_files WHERE session_id = ? AND kind = 'dermatoscopic' ORDER BY id"),
             {sessionId})) {
        const QString id = f.value(QStringLiteral("name")).toString();
        if (!only.isEmpty() && id != only)
            continue;
        *found = true;
        add(id, f.value(QStringLiteral("object")).toString(),
            f.value(QStringLiteral("thumbnail")).toString());
    }
    return out;
}

void DemoSessions::sessionListing(const ExchangePtr &exchange, const QStringList &c)
{
    const auto session = sessionOf(m_db, exchange, c[1], c[2]);
    if (!session)
        return;
    const QString part = c.value(3);
    QString file = c.value(4);
    const bool dermatoscopic = part.isEmpty() || part.startsWith(QLatin1String("dermatoscopic/"));
    const bool clinical = part.isEmpty() || part.startsWith(QLatin1String("clinical/"));
    if (file.endsWith(QLatin1String(".jpg")))
        file.chop(4);
    if (!file.isEmpty() && !DemoStorage::isValidObject(file)) {
        exchange->replyError(400, QStringLiteral("invalid"), QStringLiteral("Not a valid image name."));
        return;
    }
    QString quality;
    const QString q = exchange->query.queryItemValue(QStringLiteral("quality"));
    if (q.isEmpty() || q == QLatin1String("l"))
        quality = QStringLiteral("l");
    else if (q == QLatin1String("h"))
        quality = QString();
    else if (q == QLatin1String("m") || q == QLatin1String("s") || q == QLatin1String("e"))
        quality = q;
    else {
        exchange->replyError(400, QStringLiteral("invalid_quality"),
                             QStringLiteral("quality must be h, l, m, s or e."));
        return;
    }
    const bool hasDocument = session->value(QStringLiteral("has_document")).toInt() != 0;
    bool found = false;
    QJsonArray dermatos, generals;
    if (hasDocument || !file.isEmpty()) {
        if (dermatoscopic)
            dermatos = dermatoscopicEntries(*session, file, &found);
        if (clinical)
            generals = clinicalEntries(*session, file, quality, &found);
    }
    // Only the lists of the parts asked for: a viewer takes a list that is
    // there for the whole of that part, so an empty "generals" in the reply
    // to the dermatoscopic part would read as a session without clinical
    // images.
    QJsonObject reply;
    if (dermatoscopic)
        reply.insert(QStringLiteral("dermatos"), file.isEmpty() ? dermatos : QJsonArray());
    if (clinical)
        reply.insert(QStringLiteral("generals"), file.isEmpty() ? generals : QJsonArray());
    if (!file.isEmpty()) {
        if (!found) {
            exchange->replyError(404, QStringLiteral("not_found"),
                                 QStringLiteral("No such image in this session."));
            return;
        }
        // A single picture is listed both under its kind and under "images",
        // so that a session whose pictures were all fetched takes it too.
        if (dermatoscopic)
            reply.insert(QStringLiteral("dermatos"), dermatos);
        reply.insert(QStringLiteral("images"), dermatoscopic ? dermatos : generals);
    }
    exchange->replyJson(200, reply);
}

void DemoSessions::assignExternal(const ExchangePtr &exchange, const QStringList &c,
                                  const DemoAuth::Identity &who)
{
    const auto session = sessionOf(m_db, exchange, c[1], c[2]);
    if (!session)
        return;
    const auto body = DemoLinks::jsonObject(exchange->body);
    if (!body || !body->value(QStringLiteral("type")).isString()) {
        exchange->replyError(400, QStringLiteral("invalid"),
                             QStringLiteral("A JSON object with \"filename\" and \"type\" is expected."));
        return;
    }
    const QString type = body->value(QStringLiteral("type")).toString();
    const QString filename = body->value(QStringLiteral("filename")).toString();
    if (type != QLatin1String("D") && type != QLatin1String("L") && type != QLatin1String("G")) {
        exchange->replyError(400, QStringLiteral("invalid_type"),
                             QStringLiteral("type must be \"D\", \"L\" or \"G\"."));
        return;
    }
    static const QRegularExpression imageName(QStringLiteral("^([A-Za-z0-9_-]{1,100})\\.(?:jpg|jpeg)$"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = imageName.match(filename);
    if (type != QLatin1String("L") && !m.hasMatch()) {
        exchange->replyError(400, QStringLiteral("invalid_filename"),
                             QStringLiteral("filename must be a .jpg name of letters, digits, '_' or '-'."));
        return;
    }
    const int patientId = c[1].toInt(), sessionId = c[2].toInt();
    const QString folder = QStringLiteral("sessions/%1/%2/").arg(patientId).arg(sessionId);
    const bool fields = !exchange->fault.noFields;
    QJsonObject reply{
        {QStringLiteral("json"),
         m_links.uploadTarget(folder + QStringLiteral("session.json"), QStringLiteral("session"), patientId,
                              sessionId, QString(), 0, who.username, fields)}};
    if (type == QLatin1String("D"))
        reply.insert(QStringLiteral("file"),
                     m_links.uploadTarget(folder + QStringLiteral("dermatoscopic/") + m.captured(1) +
                                              QStringLiteral(".jpg"),
                                          QStringLiteral("dermatoscopic"), patientId, sessionId,
                                          m.captured(1), 0, who.username, fields));
    else if (type == QLatin1String("G"))
        reply.insert(
            QStringLiteral("file"),
            m_links.uploadTarget(folder + QStringLiteral("imgL/") + m.captured(1) + QStringLiteral("e.jpg"),
                                 QStringLiteral("clinical"), patientId, sessionId, m.captured(1), 0,
                                 who.username, fields));
    exchange->replyJson(201, reply);
}
