#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

class DemoDatabase;
class UrlSigner;

// Presigned storage URLs and upload targets as the API hands them out, and
// the small readers that every group of handlers shares.
class DemoLinks
{
public:
    DemoLinks(DemoDatabase &db, const UrlSigner &signer, std::function<QString()> baseUrl,
              int urlLifetimeSeconds);

    QString base() const { return m_baseUrl(); }
    // When a URL handed out now expires (Unix time).
    qint64 expiresFromNow() const;
    // A GET or PUT URL of a stored object; expires defaults to expiresFromNow().
    QString signedUrl(const QString &method, const QString &object, std::optional<qint64> expires = {}) const;
    // A PUT URL recorded as an upload target, with its "fields" unless withFields is false.
    QJsonObject uploadTarget(const QString &object, const QString &purpose, int patientId, int sessionId,
                             const QString &name, qint64 reportId, const QString &username, bool withFields);

    static qint64 now();
    static QByteArray contentTypeOf(const QString &object);
    // The body as a JSON object, or nothing when it is no JSON object.
    static std::optional<QJsonObject> jsonObject(const QByteArray &body);

private:
    DemoDatabase &m_db;
    const UrlSigner &m_signer;
    std::function<QString()> m_baseUrl;
    int m_urlLifetimeSeconds = 3600;
};
