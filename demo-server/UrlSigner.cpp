#include "demo-server/UrlSigner.h"

#include <QMessageAuthenticationCode>

UrlSigner::UrlSigner(QByteArray secret) : key(std::move(secret)) {}

QString UrlSigner::signature(const QString &method, const QString &path, qint64 expires) const
{
    const QByteArray message =
        method.toUpper().toUtf8() + '\n' + path.toUtf8() + '\n' + QByteArray::number(expires);
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256).toHex());
}

QString UrlSigner::query(const QString &method, const QString &path, qint64 expires) const
{
    return QStringLiteral("expires=%1&signature=%2").arg(expires).arg(signature(method, path, expires));
}

UrlSigner::Check UrlSigner::check(const QString &method, const QString &path, const QUrlQuery &query,
                                  qint64 now) const
{
    if (!query.hasQueryItem(QStringLiteral("expires")) || !query.hasQueryItem(QStringLiteral("signature")))
        return Check::Missing;
    bool ok = false;
    const qint64 expires = query.queryItemValue(QStringLiteral("expires")).toLongLong(&ok);
    const QByteArray given = query.queryItemValue(QStringLiteral("signature")).toLatin1();
    if (!ok || given.size() != 64)
        return Check::Malformed;
    const QByteArray expected = signature(method, path, expires).toLatin1();
    int difference = 0;
    for (int i = 0; i < 64; ++i)
        difference |= given.at(i) ^ expected.at(i);
    if (difference != 0)
        return Check::BadSignature;
    // The signature covers the expiry, so it is checked only once the
    // signature shows that the expiry is the one handed out.
    if (expires < now)
        return Check::Expired;
    return Check::Valid;
}

QString UrlSigner::describe(Check check)
{
    switch (check) {
    case Check::Valid:
        return QStringLiteral("valid");
    case Check::Missing:
        return QStringLiteral("The URL carries no signature.");
    case Check::Malformed:
        return QStringLiteral("The URL signature is malformed.");
    case Check::Expired:
        return QStringLiteral("The URL has expired.");
    case Check::BadSignature:
        return QStringLiteral("The URL signature does not match.");
    }
    return {};
}
