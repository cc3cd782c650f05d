#pragma once

#include <QByteArray>
#include <QString>
#include <QUrlQuery>

// Presigned storage URLs: an HMAC-SHA256 over method, path and expiry, carried
// in the query as "expires" and "signature". Whoever holds the URL may use it
// until it expires; nobody can make one without the server's secret.
class UrlSigner
{
public:
    enum class Check
    {
        Valid,
        Missing,
        Malformed,
        Expired,
        BadSignature
    };

    explicit UrlSigner(QByteArray secret = {});

    void setSecret(const QByteArray &secret) { key = secret; }
    QByteArray secret() const { return key; }

    QString signature(const QString &method, const QString &path, qint64 expires) const;
    // "expires=...&signature=..." for the given path (encoded path, leading slash).
    QString query(const QString &method, const QString &path, qint64 expires) const;
    Check check(const QString &method, const QString &path, const QUrlQuery &query, qint64 now) const;

    static QString describe(Check check);

private:
    QByteArray key;
};
