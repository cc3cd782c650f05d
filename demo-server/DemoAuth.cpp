#include "demo-server/DemoAuth.h"

#include "demo-server/DemoDatabase.h"
#include "demo-server/Totp.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QtConcurrent>

#include <cstdio>

namespace {
constexpr int pbkdf2Iterations = 50000;

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(bytes.data()),
                                         reinterpret_cast<quint32 *>(bytes.data() + count));
    return bytes;
}

bool constantTimeEqual(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    int difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= a.at(i) ^ b.at(i);
    return difference == 0;
}

std::optional<QJsonObject> jsonObject(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}
} // namespace

const QList<DemoAuth::Account> &DemoAuth::accounts()
{
    static const QList<Account> list = {
        {QStringLiteral("doctor"), QStringLiteral("Dr. Laia Serra"), QStringLiteral("doctor@demo.example"),
         true, false, QStringLiteral("none")},
        {QStringLiteral("doctor.totp"), QStringLiteral("Dr. Tomas Oller"),
         QStringLiteral("doctor.totp@demo.example"), true, false, QStringLiteral("totp")},
        {QStringLiteral("doctor.mail"), QStringLiteral("Dr. Maria Lopez"),
         QStringLiteral("doctor.mail@demo.example"), true, false, QStringLiteral("mail")},
        {QStringLiteral("admin"), QStringLiteral("Alex Admin"), QStringLiteral("admin@demo.example"), false,
         true, QStringLiteral("none")},
        {QStringLiteral("chief"), QStringLiteral("Dr. Carme Pons"), QStringLiteral("chief@demo.example"),
         true, true, QStringLiteral("none")},
        {QStringLiteral("visitor"), QStringLiteral("Victor Visitor"), QStringLiteral("visitor@demo.example"),
         false, false, QStringLiteral("none")},
        {QStringLiteral("doctor.flows"), QStringLiteral("Dr. Ferran Flows"),
         QStringLiteral("doctor.flows@demo.example"), true, false, QStringLiteral("flows")},
    };
    return list;
}

bool DemoAuth::usesTotp(const QString &username)
{
    for (const Account &a : accounts()) {
        if (a.username == username)
            return a.secondFactor == QLatin1String("totp") || a.secondFactor == QLatin1String("flows");
    }
    return false;
}

QString DemoAuth::totpCode(const QString &username, qint64 unixTime)
{
    if (!usesTotp(username))
        return {};
    return Totp::code(Totp::fromBase32(totpSecretBase32()), unixTime < 0 ? now() : unixTime);
}

QString DemoAuth::hashPassword(const QString &password)
{
    const QByteArray salt = randomBytes(16);
    const QByteArray key = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(),
                                                              salt, pbkdf2Iterations, 32);
    return QStringLiteral("pbkdf2_sha256$%1$%2$%3")
        .arg(pbkdf2Iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(key.toBase64()));
}

bool DemoAuth::verifyPassword(const QString &password, const QString &stored)
{
    const QStringList parts = stored.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != QLatin1String("pbkdf2_sha256"))
        return false;
    bool ok = false;
    const int iterations = parts[1].toInt(&ok);
    if (!ok || iterations < 1 || iterations > 10000000)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts[2].toLatin1());
    const QByteArray expected = QByteArray::fromBase64(parts[3].toLatin1());
    const QByteArray key = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(),
                                                              salt, iterations, quint64(expected.size()));
    return constantTimeEqual(key, expected);
}

DemoAuth::DemoAuth(DemoDatabase &database, Settings s, QObject *parent)
    : QObject(parent), db(database), settings(std::move(s))
{
}

bool DemoAuth::createAccounts()
{
    const QList<Account> list = accounts();
    // Hashing is deliberately slow; the accounts are hashed side by side.
    const QStringList hashes = QtConcurrent::blockingMapped<QStringList>(
        list, [](const Account &) { return hashPassword(password()); });
    for (int i = 0; i < list.size(); ++i) {
        const Account &a = list[i];
        if (!db.exec(QStringLiteral("INSERT OR REPLACE INTO users(username, display_name, email, "
                                    "password_hash, is_doctor, is_patient_admin, second_factor, "
                                    "totp_secret) VALUES(?, ?, ?, ?, ?, ?, ?, ?)"),
                     {a.username, a.displayName, a.email, hashes[i], a.doctor ? 1 : 0, a.patientAdmin ? 1 : 0,
                      a.secondFactor, usesTotp(a.username) ? QVariant(totpSecretBase32()) : QVariant()}))
            return false;
    }
    return true;
}

QString DemoAuth::hashToken(const QString &token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QJsonObject DemoAuth::userJson(const QVariantMap &user)
{
    return {{QStringLiteral("username"), user.value(QStringLiteral("username")).toString()},
            {QStringLiteral("display"), user.value(QStringLiteral("display_name")).toString()},
            {QStringLiteral("email"), user.value(QStringLiteral("email")).toString()}};
}

QString DemoAuth::issueToken(const QString &username, const QString &stage, QString *hash)
{
    const QString token = QString::fromLatin1(
        randomBytes(32).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    *hash = hashToken(token);
    const qint64 t = now();
    const bool pending = stage == QLatin1String("pending");
    const qint64 idle = pending ? settings.pendingSeconds : settings.tokenIdleSeconds;
    const qint64 absolute = pending ? settings.pendingSeconds : settings.tokenAbsoluteSeconds;
    db.exec(QStringLiteral("DELETE FROM tokens WHERE absolute_expiry < ? OR expires < ?"), {t, t});
    db.exec(QStringLiteral("INSERT INTO tokens(token_hash, username, stage, created, expires, "
                           "absolute_expiry) VALUES(?, ?, ?, ?, ?, ?)"),
            {*hash, username, stage, t, t + idle, t + absolute});
    return token;
}

void DemoAuth::revoke(const QString &tokenHash)
{
    db.exec(QStringLiteral("DELETE FROM tokens WHERE token_hash = ?"), {tokenHash});
}

std::optional<DemoAuth::Identity> DemoAuth::identify(const QByteArray &token, TokenState *state)
{
    if (token.isEmpty()) {
        *state = TokenState::Missing;
        return std::nullopt;
    }
    const QString hash = hashToken(QString::fromUtf8(token));
    const auto row =
        db.selectOne(QStringLiteral("SELECT t.*, u.display_name, u.email, u.is_doctor, u.is_patient_admin, "
                                    "u.second_factor FROM tokens t JOIN users u ON u.username = t.username "
                                    "WHERE t.token_hash = ?"),
                     {hash});
    if (!row) {
        *state = TokenState::Unknown;
        return std::nullopt;
    }
    const qint64 t = now();
    if (row->value(QStringLiteral("expires")).toLongLong() < t ||
        row->value(QStringLiteral("absolute_expiry")).toLongLong() < t) {
        revoke(hash);
        *state = TokenState::Expired;
        return std::nullopt;
    }
    Identity id;
    id.username = row->value(QStringLiteral("username")).toString();
    id.displayName = row->value(QStringLiteral("display_name")).toString();
    id.email = row->value(QStringLiteral("email")).toString();
    id.doctor = row->value(QStringLiteral("is_doctor")).toInt() != 0;
    id.patientAdmin = row->value(QStringLiteral("is_patient_admin")).toInt() != 0;
    id.stage = row->value(QStringLiteral("stage")).toString();
    id.secondFactor = row->value(QStringLiteral("second_factor")).toString();
    id.tokenHash = hash;
    if (id.stage == QLatin1String("full")) {
        // An idle timeout: every use moves the expiry on, up to the absolute limit.
        const qint64 next = std::min(t + settings.tokenIdleSeconds,
                                     row->value(QStringLiteral("absolute_expiry")).toLongLong());
        db.exec(QStringLiteral("UPDATE tokens SET expires = ? WHERE token_hash = ?"), {next, hash});
    }
    *state = TokenState::Valid;
    return id;
}

void DemoAuth::login(const ExchangePtr &exchange)
{
    const auto body = jsonObject(exchange->body);
    if (!body || !body->value(QStringLiteral("username")).isString() ||
        !body->value(QStringLiteral("password")).isString()) {
        exchange->replyError(400, QStringLiteral("invalid"),
                             QStringLiteral("A JSON object with \"username\" and \"password\" is expected."));
        return;
    }
    const QString username = body->value(QStringLiteral("username")).toString().trimmed();
    const QString pass = body->value(QStringLiteral("password")).toString();
    if (username.size() > 150 || pass.size() > 1024) {
        exchange->replyError(400, QStringLiteral("invalid"),
                             QStringLiteral("Username or password too long."));
        return;
    }
    if (!reserveAttempt(exchange, username))
        return;
    const auto user =
        db.selectOne(QStringLiteral("SELECT password_hash FROM users WHERE username = ?"), {username});
    // An unknown user costs the same time as a known one, so that timing does
    // not tell which user names exist.
    static const QString decoy = hashPassword(QStringLiteral("decoy password"));
    const QString stored = user ? user->value(QStringLiteral("password_hash")).toString() : decoy;
    const bool known = user.has_value();
    auto *watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, exchange, username, known] {
        watcher->deleteLater();
        finishLogin(exchange, username, known && watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([pass, stored] { return verifyPassword(pass, stored); }));
}

bool DemoAuth::reserveAttempt(const ExchangePtr &exchange, const QString &username)
{
    const qint64 t = now();
    auto it = failures.find(username);
    if (it != failures.end() && t - it->since >= settings.lockoutSeconds) {
        failures.erase(it);
        it = failures.end();
    }
    if (it == failures.end()) {
        if (failures.size() >= settings.attemptTableSize) {
            // Forget the counts whose window is over, then the oldest count
            // below the limit; a locked account is never forgotten early.
            for (auto e = failures.begin(); e != failures.end();)
                e = t - e->since >= settings.lockoutSeconds ? failures.erase(e) : std::next(e);
            if (failures.size() >= settings.attemptTableSize) {
                auto oldest = failures.end();
                for (auto e = failures.begin(); e != failures.end(); ++e)
                    if (e->count < settings.maxLoginFailures &&
                        (oldest == failures.end() || e->since < oldest->since))
                        oldest = e;
                if (oldest != failures.end())
                    failures.erase(oldest);
            }
        }
        if (failures.size() >= settings.attemptTableSize) {
            exchange->replyError(429, QStringLiteral("too_many_attempts"),
                                 QStringLiteral("Too many failed attempts. Try again in a few minutes."));
            return false;
        }
        it = failures.insert(username, Failures{0, t});
    }
    if (it->count >= settings.maxLoginFailures) {
        exchange->replyError(429, QStringLiteral("too_many_attempts"),
                             QStringLiteral("Too many failed attempts. Try again in a few minutes."));
        return false;
    }
    ++it->count;
    return true;
}

void DemoAuth::finishLogin(const ExchangePtr &exchange, const QString &username, bool passwordOk)
{
    if (!passwordOk) {
        // The attempt was counted when it arrived.
        QJsonObject body = HttpExchange::errorBody(
            400, QStringLiteral("username_password_mismatch"),
            QStringLiteral("The username and/or password you specified are not correct."));
        exchange->replyJson(400, body);
        return;
    }
    failures.remove(username);
    const auto user = db.selectOne(QStringLiteral("SELECT * FROM users WHERE username = ?"), {username});
    if (!user) {
        exchange->replyError(400, QStringLiteral("username_password_mismatch"),
                             QStringLiteral("The username and/or password you specified are not correct."));
        return;
    }
    const QString factor = user->value(QStringLiteral("second_factor")).toString();
    if (factor == QLatin1String("none")) {
        replyLoggedIn(exchange, *user);
        return;
    }
    QString hash;
    const QString pendingToken = issueToken(username, QStringLiteral("pending"), &hash);
    QJsonArray flows;
    flows.append(QJsonObject{{QStringLiteral("id"), QStringLiteral("login")}});
    if (factor == QLatin1String("mail")) {
        sendMailCode(username, hash);
        flows.append(QJsonObject{{QStringLiteral("id"), QStringLiteral("login_by_code")},
                                 {QStringLiteral("is_pending"), true}});
    } else {
        if (factor == QLatin1String("flows"))
            flows.append(QJsonObject{{QStringLiteral("id"), QStringLiteral("login_by_code")},
                                     {QStringLiteral("is_pending"), false}});
        flows.append(QJsonObject{{QStringLiteral("id"), QStringLiteral("mfa_authenticate")},
                                 {QStringLiteral("types"), QJsonArray{QStringLiteral("totp")}}});
    }
    // A 401 that asks for the next step, without a WWW-Authenticate challenge.
    exchange->replyJson(
        401,
        QJsonObject{{QStringLiteral("status"), 401},
                    {QStringLiteral("data"), QJsonObject{{QStringLiteral("flows"), flows}}},
                    {QStringLiteral("meta"), QJsonObject{{QStringLiteral("is_authenticated"), false},
                                                         {QStringLiteral("session_token"), pendingToken}}}});
}

void DemoAuth::replyLoggedIn(const ExchangePtr &exchange, const QVariantMap &user)
{
    QString hash;
    const QString token =
        issueToken(user.value(QStringLiteral("username")).toString(), QStringLiteral("full"), &hash);
    exchange->replyJson(
        200, QJsonObject{{QStringLiteral("status"), 200},
                         {QStringLiteral("data"), QJsonObject{{QStringLiteral("user"), userJson(user)},
                                                              {QStringLiteral("flows"), QJsonArray()}}},
                         {QStringLiteral("meta"), QJsonObject{{QStringLiteral("is_authenticated"), true},
                                                              {QStringLiteral("session_token"), token}}}});
}

void DemoAuth::sendMailCode(const QString &username, const QString &tokenHash)
{
    const QString code =
        QString::number(QRandomGenerator::system()->bounded(1000000u)).rightJustified(6, QLatin1Char('0'));
    const qint64 expires = now() + settings.mailCodeSeconds;
    db.exec(
        QStringLiteral("UPDATE tokens SET mail_code_hash = ?, mail_code_expires = ? WHERE token_hash = ?"),
        {hashToken(code + tokenHash), expires, tokenHash});
    mailed.insert(username, code);
    const auto user = db.selectOne(QStringLiteral("SELECT email FROM users WHERE username = ?"), {username});
    const QString email = user ? user->value(QStringLiteral("email")).toString() : username;
    // The stand-in for e-mail: the message goes to the log and to the outbox.
    const QString message = QStringLiteral("mail to %1: your login code is %2 (valid %3 minutes)")
                                .arg(email, code)
                                .arg(settings.mailCodeSeconds / 60);
    if (settings.log) {
        std::fprintf(stdout, "%s\n", qPrintable(message));
        std::fflush(stdout);
    }
    if (!settings.outboxFile.isEmpty()) {
        QFile outbox(settings.outboxFile);
        if (outbox.open(QIODevice::Append | QIODevice::Text))
            outbox.write(QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + ' ' +
                         message.toUtf8() + '\n');
    }
}

namespace {
bool checkCodeBody(const ExchangePtr &exchange, QString *code)
{
    const auto body = jsonObject(exchange->body);
    if (!body || !body->value(QStringLiteral("code")).isString()) {
        exchange->replyError(400, QStringLiteral("invalid"),
                             QStringLiteral("A JSON object with \"code\" is expected."));
        return false;
    }
    *code = body->value(QStringLiteral("code")).toString().trimmed();
    return true;
}
} // namespace

void DemoAuth::authenticateTotp(const ExchangePtr &exchange, const Identity &identity)
{
    QString code;
    if (!checkCodeBody(exchange, &code))
        return;
    if (identity.stage != QLatin1String("pending") || !usesTotp(identity.username)) {
        exchange->replyError(409, QStringLiteral("not_expected"),
                             QStringLiteral("No authenticator code is expected for this login."));
        return;
    }
    const auto user =
        db.selectOne(QStringLiteral("SELECT * FROM users WHERE username = ?"), {identity.username});
    const QByteArray secret =
        Totp::fromBase32(user ? user->value(QStringLiteral("totp_secret")).toString() : QString());
    const qint64 step = acceptedTotpStep(secret, code);
    // A code is good once: one seen by someone else cannot be used again.
    const bool replayed = step >= 0 && step <= lastTotpStep.value(identity.username, -1);
    if (step < 0 || replayed) {
        db.exec(QStringLiteral("UPDATE tokens SET attempts = attempts + 1 WHERE token_hash = ?"),
                {identity.tokenHash});
        const auto row = db.selectOne(QStringLiteral("SELECT attempts FROM tokens WHERE token_hash = ?"),
                                      {identity.tokenHash});
        if (row && row->value(QStringLiteral("attempts")).toInt() >= settings.maxCodeAttempts) {
            revoke(identity.tokenHash);
            exchange->replyError(429, QStringLiteral("too_many_attempts"),
                                 QStringLiteral("Too many wrong codes. Please log in again."));
            return;
        }
        exchange->replyError(400, QStringLiteral("incorrect_code"), QStringLiteral("Incorrect code."));
        return;
    }
    lastTotpStep.insert(identity.username, step);
    revoke(identity.tokenHash);
    replyLoggedIn(exchange, *user);
}

qint64 DemoAuth::acceptedTotpStep(const QByteArray &secret, const QString &code) const
{
    if (secret.isEmpty())
        return -1;
    const qint64 t = now() + totpClockOffset;
    qint64 accepted = -1;
    // Every step of the window is compared, so that the time taken does not
    // tell which one matched.
    for (int skew = -1; skew <= 1; ++skew) {
        const qint64 at = t + qint64(skew) * Totp::defaultPeriod;
        if (constantTimeEqual(Totp::code(secret, at).toLatin1(), code.toLatin1()))
            accepted = at / Totp::defaultPeriod;
    }
    return accepted;
}

QString DemoAuth::currentTotpCode(const QString &username) const
{
    return totpCode(username, now() + totpClockOffset);
}

QString DemoAuth::freshTotpCode(const QString &username)
{
    totpClockOffset += Totp::defaultPeriod;
    return currentTotpCode(username);
}

void DemoAuth::confirmMailCode(const ExchangePtr &exchange, const Identity &identity)
{
    QString code;
    if (!checkCodeBody(exchange, &code))
        return;
    const auto row =
        db.selectOne(QStringLiteral("SELECT * FROM tokens WHERE token_hash = ?"), {identity.tokenHash});
    if (identity.stage != QLatin1String("pending") || !row ||
        row->value(QStringLiteral("mail_code_hash")).isNull()) {
        exchange->replyError(409, QStringLiteral("not_expected"),
                             QStringLiteral("No e-mailed code is expected for this login."));
        return;
    }
    if (row->value(QStringLiteral("mail_code_expires")).toLongLong() < now()) {
        revoke(identity.tokenHash);
        exchange->replyError(400, QStringLiteral("code_expired"),
                             QStringLiteral("The code has expired. Please log in again."));
        return;
    }
    const QByteArray expected = row->value(QStringLiteral("mail_code_hash")).toString().toLatin1();
    if (!constantTimeEqual(hashToken(code + identity.tokenHash).toLatin1(), expected)) {
        const int attempts = row->value(QStringLiteral("attempts")).toInt() + 1;
        db.exec(QStringLiteral("UPDATE tokens SET attempts = ? WHERE token_hash = ?"),
                {attempts, identity.tokenHash});
        if (attempts >= settings.maxCodeAttempts) {
            revoke(identity.tokenHash);
            exchange->replyError(429, QStringLiteral("too_many_attempts"),
                                 QStringLiteral("Too many wrong codes. Please log in again."));
            return;
        }
        exchange->replyError(400, QStringLiteral("incorrect_code"), QStringLiteral("Incorrect code."));
        return;
    }
    revoke(identity.tokenHash);
    mailed.remove(identity.username);
    const auto user =
        db.selectOne(QStringLiteral("SELECT * FROM users WHERE username = ?"), {identity.username});
    replyLoggedIn(exchange, *user);
}
