#include "demo-server/DemoPatients.h"

#include "demo-server/DemoDatabase.h"
#include "demo-server/DemoLinks.h"

#include <QJsonArray>
#include <QRegularExpression>

DemoPatients::DemoPatients(DemoDatabase &db, std::function<QString()> baseUrl)
    : m_db(db), m_baseUrl(std::move(baseUrl))
{
}

void DemoPatients::directory(const ExchangePtr &exchange, const QStringList &c)
{
    if (c[1] != QLatin1String("demo")) {
        exchange->replyError(404, QStringLiteral("unknown_server"),
                             QStringLiteral("No server of that name is known."));
        return;
    }
    exchange->replyJson(
        200, QJsonObject{{QStringLiteral("name"), c[1]}, {QStringLiteral("endpoint"), m_baseUrl()}});
}

void DemoPatients::me(const ExchangePtr &exchange, const DemoAuth::Identity &who)
{
    exchange->replyJson(200, QJsonObject{{QStringLiteral("username"), who.username},
                                         {QStringLiteral("name"), who.displayName},
                                         {QStringLiteral("email"), who.email},
                                         {QStringLiteral("isDoctor"), who.doctor},
                                         {QStringLiteral("isPatientAdmin"), who.patientAdmin}});
}

void DemoPatients::listPatients(const ExchangePtr &exchange)
{
    // The search text arrives percent-encoded; "+" stays a plus sign.
    const QString text = exchange->query.queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded).trimmed();
    QJsonArray results;
    for (const QVariantMap &p : m_db.select(QStringLiteral("SELECT * FROM patients ORDER BY id"))) {
        const QString name = p.value(QStringLiteral("first_name")).toString() + QLatin1Char(' ') +
                             p.value(QStringLiteral("last_name")).toString();
        const QString center = p.value(QStringLiteral("center_id")).toString();
        if (!text.isEmpty() && !center.contains(text, Qt::CaseInsensitive) &&
            !name.contains(text, Qt::CaseInsensitive))
            continue;
        QJsonObject entry{{QStringLiteral("patientID"), p.value(QStringLiteral("id")).toInt()},
                          {QStringLiteral("centerID"), center},
                          {QStringLiteral("name"), name}};
        if (!p.value(QStringLiteral("tag")).isNull())
            entry.insert(QStringLiteral("tag"), p.value(QStringLiteral("tag")).toString());
        if (!p.value(QStringLiteral("birthdate")).isNull())
            entry.insert(QStringLiteral("birthdate"), p.value(QStringLiteral("birthdate")).toString());
        entry.insert(QStringLiteral("email"), p.value(QStringLiteral("email")).toString());
        results.append(entry);
    }
    exchange->replyJson(200, QJsonObject{{QStringLiteral("count"), results.size()},
                                         {QStringLiteral("next"), QJsonValue::Null},
                                         {QStringLiteral("previous"), QJsonValue::Null},
                                         {QStringLiteral("results"), results}});
}

void DemoPatients::registerPatient(const ExchangePtr &exchange)
{
    const auto body = DemoLinks::jsonObject(exchange->body);
    if (!body) {
        exchange->replyError(400, QStringLiteral("invalid"), QStringLiteral("A JSON object is expected."));
        return;
    }
    QString values[4];
    const char *keys[4] = {"CenterID", "Email", "FirstName", "LastName"};
    for (int i = 0; i < 4; ++i) {
        const QJsonValue v = body->value(QLatin1String(keys[i]));
        if (!v.isString()) {
            exchange->replyError(400, QStringLiteral("missing_field"),
                                 QStringLiteral("%1 is missing.").arg(QLatin1String(keys[i])));
            return;
        }
        values[i] = v.toString().simplified();
    }
    const QString &center = values[0], &email = values[1], &first = values[2], &last = values[3];
    static const QRegularExpression centerPattern(QStringLiteral("^[\\p{L}\\p{N}._/-]{1,40}$"));
    static const QRegularExpression emailPattern(QStringLiteral("^[^@\\s]{1,64}@[^@\\s]+\\.[^@\\s]{2,}$"));
    if (!centerPattern.match(center).hasMatch()) {
        exchange->replyError(
            400, QStringLiteral("invalid_center_id"),
            QStringLiteral("The identifier must be 1 to 40 letters, digits, '.', '-', '_' or '/'."));
        return;
    }
    if (first.isEmpty() || last.isEmpty() || first.size() > 100 || last.size() > 100) {
        exchange->replyError(400, QStringLiteral("invalid_name"),
                             QStringLiteral("First and last name are required."));
        return;
    }
    if (email.size() > 254 || !emailPattern.match(email).hasMatch()) {
        exchange->replyError(400, QStringLiteral("invalid_email"),
                             QStringLiteral("The e-mail address is not valid."));
        return;
    }
    if (m_db.selectOne(QStringLiteral("SELECT id FROM patients WHERE lower(center_id) = lower(?)"),
                       {center})) {
        exchange->replyError(409, QStringLiteral("duplicate_center_id"),
                             QStringLiteral("A patient with this identifier already exists."));
        return;
    }
    qint64 id = 0;
    if (!m_db.exec(QStringLiteral("INSERT INTO patients(center_id, first_name, last_name, email, created) "
                                  "VALUES(?, ?, ?, ?, ?)"),
                   {center, first, last, email, DemoLinks::now()}, &id)) {
        exchange->replyError(500, QStringLiteral("server_error"),
                             QStringLiteral("The patient could not be stored."));
        return;
    }
    exchange->replyJson(201, QJsonObject{{QStringLiteral("patientID"), id},
                                         {QStringLiteral("centerID"), center},
                                         {QStringLiteral("name"), first + QLatin1Char(' ') + last},
                                         {QStringLiteral("email"), email}});
}
