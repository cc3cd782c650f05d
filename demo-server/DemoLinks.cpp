#include "demo-server/DemoLinks.h"

#include "demo-server/DemoDatabase.h"
#include "demo-server/UrlSigner.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QVariant>

DemoLinks::DemoLinks(DemoDatabase &db, const UrlSigner &signer, std::function<QString()> baseUrl,
                     int urlLifetimeSeconds)
    : m_db(db), m_signer(signer), m_baseUrl(std::move(baseUrl)), m_urlLifetimeSeconds(urlLifetimeSeconds)
{
}

qint64 DemoLinks::now()
{
    return QDateTime::currentSecsSinceEpoch();
}

qint64 DemoLinks::expiresFromNow() const
{
    return now() + m_urlLifetimeSeconds;
}

QString DemoLinks::signedUrl(const QString &method, const QString &object,
                             std::optional<qint64> expires) const
{
    const QString path = QStringLiteral("/storage/") + object;
    return base() + path + QLatin1Char('?') +
           m_signer.query(method, path, expires ? *expires : expiresFromNow());
}

QJsonObject DemoLinks::uploadTarget(const QString &object, const QString &purpose, int patientId,
                                    int sessionId, const QString &name, qint64 reportId,
                                    const QString &username, bool withFields)
{
    const qint64 expires = expiresFromNow();
    const QString path = QStringLiteral("/storage/") + object;
    m_db.exec(QStringLiteral("DELETE FROM upload_targets WHERE expires < ?"), {now()});
    m_db.exec(
        QStringLiteral("INSERT INTO upload_targets(object, expires, purpose, patient_id, session_id, name, "
                       "report_id, username, created) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {object, expires, purpose, patientId, sessionId, name, reportId > 0 ? QVariant(reportId) : QVariant(),
         username, now()});
    QJsonObject target{{QStringLiteral("url"), base() + path + QLatin1Char('?') +
                                                   m_signer.query(QStringLiteral("PUT"), path, expires)}};
    if (withFields)
        target.insert(
            QStringLiteral("fields"),
            QJsonObject{{QStringLiteral("key"), object},
                        {QStringLiteral("expires"), QString::number(expires)},
                        {QStringLiteral("Content-Type"), QString::fromLatin1(contentTypeOf(object))}});
    return target;
}

QByteArray DemoLinks::contentTypeOf(const QString &object)
{
    if (object.endsWith(QLatin1String(".jpg")))
        return QByteArrayLiteral("image/jpeg");
    if (object.endsWith(QLatin1String(".json")))
        return QByteArrayLiteral("application/json");
    if (object.endsWith(QLatin1String(".pdf")))
        return QByteArrayLiteral("application/pdf");
    return QByteArrayLiteral("application/octet-stream");
}

std::optional<QJsonObject> DemoLinks::jsonObject(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}
