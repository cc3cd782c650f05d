#pragma once

#include "demo-server/HttpExchange.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

class DemoDatabase;

// Accounts, passwords, second factors and session tokens.
class DemoAuth : public QObject
{
    Q_OBJECT
public:
    struct Account
    {
        QString username;
        QString displayName;
        QString email;
        bool doctor = false;
        bool patientAdmin = false;
        // "none", "totp", "mail", or "flows" (a finished code flow, then TOTP)
        QString secondFactor;
    };

    struct Identity
    {
        QString username;
        QString displayName;
        QString email;
        bool doctor = false;
        bool patientAdmin = false;
        QString stage; // "pending" (a second factor is due) or "full"
        QString tokenHash;
        QString secondFactor;
    };

    struct Settings
    {
        int tokenIdleSeconds = 4 * 3600;
        int tokenAbsoluteSeconds = 12 * 3600;
        int pendingSeconds = 600;
        int mailCodeSeconds = 600;
        int maxCodeAttempts = 5;
        int maxLoginFailures = 8;
        int lockoutSeconds = 300;
        QString outboxFile;
        bool log = true;
    };

    static const QList<Account> &accounts();
    static QString password() { return QStringLiteral("demo-password"); }
    // The authenticator secret of the accounts that use one (RFC 4648 base32).
    static QString totpSecretBase32() { return QStringLiteral("KVDEMOTOTPKVDEMOTOTPKVDEMOTOTP23"); }
    static bool usesTotp(const QString &username);
    // The current code (or that of another time) of an account; empty for an
    // account without an authenticator.
    static QString totpCode(const QString &username, qint64 unixTime = -1);

    static QString hashPassword(const QString &password);
    static bool verifyPassword(const QString &password, const QString &stored);

    DemoAuth(DemoDatabase &db, Settings settings, QObject *parent = nullptr);

    // Stores the accounts with freshly salted password hashes.
    bool createAccounts();

    void login(const ExchangePtr &exchange);
    void authenticateTotp(const ExchangePtr &exchange, const Identity &identity);
    void confirmMailCode(const ExchangePtr &exchange, const Identity &identity);

    enum class TokenState
    {
        Valid,
        Missing,
        Unknown,
        Expired
    };
    std::optional<Identity> identify(const QByteArray &token, TokenState *state);
    void revoke(const QString &tokenHash);

    // The last code mailed to an account (for tests and the control endpoint).
    QString lastMailedCode(const QString &username) const { return mailed.value(username); }

private:
    void finishLogin(const ExchangePtr &exchange, const QString &username, bool passwordOk);
    void replyLoggedIn(const ExchangePtr &exchange, const QVariantMap &user);
    QString issueToken(const QString &username, const QString &stage, QString *hash);
    void sendMailCode(const QString &username, const QString &tokenHash);
    static QString hashToken(const QString &token);
    static QJsonObject userJson(const QVariantMap &user);

    DemoDatabase &db;
    Settings settings;
    QHash<QString, QString> mailed;
    struct Failures
    {
        int count = 0;
        qint64 since = 0;
    };
    QHash<QString, Failures> failures;
};
