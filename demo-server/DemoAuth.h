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
        // Accounts whose failed logins are counted at one time; the table
        // never grows past this however many names are tried.
        int attemptTableSize = 4096;
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

    // The authenticator code this server accepts now; totpCode() unless the
    // clock was moved on by freshTotpCode().
    QString currentTotpCode(const QString &username) const;
    // Moves this server's authenticator clock one step on and returns the code
    // of that step: a code never used, so that tests can log in again at once
    // although a used code is refused.
    QString freshTotpCode(const QString &username);

private:
    void finishLogin(const ExchangePtr &exchange, const QString &username, bool passwordOk);
    void replyLoggedIn(const ExchangePtr &exchange, const QVariantMap &user);
    QString issueToken(const QString &username, const QString &stage, QString *hash);
    void sendMailCode(const QString &username, const QString &tokenHash);
    static QString hashToken(const QString &token);
    static QJsonObject userJson(const QVariantMap &user);
    // Counts a login attempt of an account before its password is verified,
    // so that parallel tries cannot pass the limit. False (and answered) when
    // the account is locked or the table has no room.
    bool reserveAttempt(const ExchangePtr &exchange, const QString &username);
    // The time step of the accepted code, or -1.
    qint64 acceptedTotpStep(const QByteArray &secret, const QString &code) const;

    DemoDatabase &db;
    Settings settings;
    QHash<QString, QString> mailed;
    struct Failures
    {
        int count = 0;
        qint64 since = 0;
    };
    // Login attempts per account (known or not), bounded by attemptTableSize.
    QHash<QString, Failures> failures;
    // The last authenticator step accepted per account: a code of that step
    // or an earlier one is not accepted again.
    QHash<QString, qint64> lastTotpStep;
    qint64 totpClockOffset = 0;
};
