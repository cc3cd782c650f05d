#include "DemoTestSupport.h"

#include "demo-server/DemoAuth.h"

#include <QJsonArray>

#include <map>

class tst_DemoAuth : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void login_data();
    void login();
    void wrongCredentials_data();
    void wrongCredentials();
    void malformedLogin_data();
    void malformedLogin();
    void authenticatorFlow_data();
    void authenticatorFlow();
    void mailedCodeFlow();
    void codeAttemptsAreLimited();
    void codeOnTheWrongFlow();
    void permissions_data();
    void permissions();
    void tokenRequired_data();
    void tokenRequired();
    void roles_data();
    void roles();
    void tokenExpires();
    void repeatedFailuresLockTheAccount();
    void authenticatorCodeIsUsedOnce();
    void parallelTriesCannotPassTheLimit();
    void attemptTableIsBounded();
    void passwordsAreHashed();

private:
    QString loginStep(TestClient &client, const QString &user, HttpResult *reply = nullptr);
    std::unique_ptr<TestServer> server;
};

void tst_DemoAuth::initTestCase()
{
    server = std::make_unique<TestServer>();
    QVERIFY2(server->started, qPrintable(server->server->errorString()));
}

QString tst_DemoAuth::loginStep(TestClient &client, const QString &user, HttpResult *reply)
{
    const HttpResult r = client.postJson(
        server->url(QStringLiteral("/api-auth/app/v1/auth/login")),
        {{QStringLiteral("username"), user}, {QStringLiteral("password"), DemoServer::password()}}, false);
    if (reply)
        *reply = r;
    return r.object()
        .value(QStringLiteral("meta"))
        .toObject()
        .value(QStringLiteral("session_token"))
        .toString();
}

void tst_DemoAuth::login_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("nextStep"); // what the program reads from the flows
    QTest::newRow("doctor") << "doctor" << 200 << "";
    QTest::newRow("chief") << "chief" << 200 << "";
    QTest::newRow("admin") << "admin" << 200 << "";
    QTest::newRow("visitor") << "visitor" << 200 << "";
    QTest::newRow("authenticator") << "doctor.totp" << 401 << "mfa_authenticate";
    QTest::newRow("mailed code") << "doctor.mail" << 401 << "login_by_code";
    QTest::newRow("finished code flow, then authenticator") << "doctor.flows" << 401 << "mfa_authenticate";
}

void tst_DemoAuth::login()
{
    QFETCH(QString, user);
    QFETCH(int, status);
    QFETCH(QString, nextStep);
    TestClient client;
    HttpResult r;
    const QString token = loginStep(client, user, &r);
    QCOMPARE(r.status, status);
    QVERIFY(!token.isEmpty());
    QVERIFY(!r.hasHeader("WWW-Authenticate"));
    const QJsonObject body = r.object();
    QCOMPARE(body.value(QStringLiteral("meta")).toObject().value(QStringLiteral("is_authenticated")).toBool(),
             status == 200);
    // The walk the program makes over the flows: the first pending
    // "login_by_code", or else the first "mfa_authenticate".
    QString step;
    for (const QJsonValue &f :
         body.value(QStringLiteral("data")).toObject().value(QStringLiteral("flows")).toArray()) {
        const QJsonObject flow = f.toObject();
        if (flow.value(QStringLiteral("id")) == QLatin1String("login_by_code") &&
            flow.value(QStringLiteral("is_pending")).toBool()) {
            step = QStringLiteral("login_by_code");
            break;
        }
        if (flow.value(QStringLiteral("id")) == QLatin1String("mfa_authenticate")) {
            step = QStringLiteral("mfa_authenticate");
            break;
        }
    }
    QCOMPARE(step, nextStep);
    if (user == QLatin1String("doctor.flows")) {
        const QJsonArray flows =
            body.value(QStringLiteral("data")).toObject().value(QStringLiteral("flows")).toArray();
        QVERIFY(std::any_of(flows.begin(), flows.end(), [](const QJsonValue &f) {
            return f.toObject().value(QStringLiteral("id")) == QLatin1String("login_by_code") &&
                   f.toObject().value(QStringLiteral("is_pending")) == QJsonValue(false);
        }));
    }
}

void tst_DemoAuth::wrongCredentials_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("wrong password") << "doctor"
                                    << "demo-passwort";
    QTest::newRow("unknown user") << "nobody"
                                  << "demo-password";
    QTest::newRow("empty password") << "doctor"
                                    << "";
    QTest::newRow("user name in other case") << "Doctor"
                                             << "demo-password";
}

void tst_DemoAuth::wrongCredentials()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    TestClient client;
    const HttpResult r =
        client.postJson(server->url(QStringLiteral("/api-auth/app/v1/auth/login")),
                        {{QStringLiteral("username"), user}, {QStringLiteral("password"), password}}, false);
    QCOMPARE(r.status, 400);
    QCOMPARE(r.errorCode(), QStringLiteral("username_password_mismatch"));
    QVERIFY(!r.object()
                 .value(QStringLiteral("errors"))
                 .toArray()
                 .at(0)
                 .toObject()
                 .value(QStringLiteral("message"))
                 .toString()
                 .isEmpty());
    QVERIFY(!r.object().contains(QStringLiteral("meta")));
}

void tst_DemoAuth::malformedLogin_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("not JSON") << QByteArray("username=doctor");
    QTest::newRow("array") << QByteArray("[\"doctor\", \"demo-password\"]");
    QTest::newRow("no password") << QByteArray("{\"username\": \"doctor\"}");
    QTest::newRow("password a number") << QByteArray("{\"username\": \"doctor\", \"password\": 5}");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated") << QByteArray("{\"username\": \"doc");
}

void tst_DemoAuth::malformedLogin()
{
    QFETCH(QByteArray, body);
    TestClient client;
    const HttpResult r = client.post(server->url(QStringLiteral("/api-auth/app/v1/auth/login")), body,
                                     QByteArrayLiteral("application/json"), false);
    QCOMPARE(r.status, 400);
    QCOMPARE(r.errorCode(), QStringLiteral("invalid"));
}

void tst_DemoAuth::authenticatorFlow_data()
{
    QTest::addColumn<QString>("user");
    QTest::newRow("doctor.totp") << "doctor.totp";
    QTest::newRow("doctor.flows") << "doctor.flows";
}

void tst_DemoAuth::authenticatorFlow()
{
    QFETCH(QString, user);
    TestClient client;
    client.token = loginStep(client, user);
    QVERIFY(!client.token.isEmpty());
    const QString pending = client.token;

    // A pending login cannot use the API yet: a 401 asking for the next step.
    HttpResult me = client.get(server->url(QStringLiteral("/api/me/")));
    QCOMPARE(me.status, 401);
    QVERIFY(!me.hasHeader("WWW-Authenticate"));
    QCOMPARE(me.errorCode(), QStringLiteral("login_step_required"));

    const QString mfa = server->url(QStringLiteral("/api-auth/app/v1/auth/2fa/authenticate"));
    const QString right = server->server->freshTotpCode(user);
    const QString wrong = wrongCode(right);
    HttpResult r = client.postJson(mfa, {{QStringLiteral("code"), wrong}});
    QCOMPARE(r.status, 400);
    QCOMPARE(r.errorCode(), QStringLiteral("incorrect_code"));

    r = client.postJson(mfa, {{QStringLiteral("code"), right}});
    QCOMPARE(r.status, 200);
    const QString full =
        r.object().value(QStringLiteral("meta")).toObject().value(QStringLiteral("session_token")).toString();
    QVERIFY(!full.isEmpty());
    QVERIFY(full != pending);

    // The pending token is spent; the new one works.
    QCOMPARE(client.get(server->url(QStringLiteral("/api/me/"))).status, 403);
    client.token = full;
    me = client.get(server->url(QStringLiteral("/api/me/")));
    QCOMPARE(me.status, 200);
    QCOMPARE(me.object().value(QStringLiteral("username")).toString(), user);
}

void tst_DemoAuth::mailedCodeFlow()
{
    TestClient client;
    client.token = loginStep(client, QStringLiteral("doctor.mail"));
    const QString code = server->server->lastMailedCode(QStringLiteral("doctor.mail"));
    QCOMPARE(code.size(), 6);
    QFile outbox(server->dir.filePath(QStringLiteral("outbox.txt")));
    QVERIFY(outbox.open(QIODevice::ReadOnly));
    QVERIFY(outbox.readAll().contains("doctor.mail@demo.example: your login code is " + code.toLatin1()));

    const QString confirm = server->url(QStringLiteral("/api-auth/app/v1/auth/code/confirm"));
    const QString wrong =
        code == QLatin1String("123456") ? QStringLiteral("654321") : QStringLiteral("123456");
    HttpResult r = client.postJson(confirm, {{QStringLiteral("code"), wrong}});
    QCOMPARE(r.status, 400);
    QCOMPARE(r.errorCode(), QStringLiteral("incorrect_code"));
    r = client.postJson(confirm, {{QStringLiteral("code"), code}});
    QCOMPARE(r.status, 200);
    const QString full =
        r.object().value(QStringLiteral("meta")).toObject().value(QStringLiteral("session_token")).toString();
    // The code and its pending login are spent.
    r = client.postJson(confirm, {{QStringLiteral("code"), code}});
    QCOMPARE(r.status, 403);
    client.token = full;
    QCOMPARE(client.get(server->url(QStringLiteral("/api/me/"))).status, 200);
}

void tst_DemoAuth::codeAttemptsAreLimited()
{
    TestClient client;
    client.token = loginStep(client, QStringLiteral("doctor.totp"));
    const QString mfa = server->url(QStringLiteral("/api-auth/app/v1/auth/2fa/authenticate"));
    const QString right = server->server->freshTotpCode(QStringLiteral("doctor.totp"));
    const QString wrong = wrongCode(right);
    HttpResult r;
    for (int i = 0; i < 5; ++i)
        r = client.postJson(mfa, {{QStringLiteral("code"), wrong}});
    QCOMPARE(r.status, 429);
    QCOMPARE(r.errorCode(), QStringLiteral("too_many_attempts"));
    QCOMPARE(client.postJson(mfa, {{QStringLiteral("code"), right}}).status, 403);
}

void tst_DemoAuth::codeOnTheWrongFlow()
{
    TestClient client;
    client.token = loginStep(client, QStringLiteral("doctor.mail"));
    const HttpResult r =
        client.postJson(server->url(QStringLiteral("/api-auth/app/v1/auth/2fa/authenticate")),
                        {{QStringLiteral("code"), DemoServer::totpCode(QStringLiteral("doctor.totp"))}});
    QCOMPARE(r.status, 409);
    // A full token needs no further step.
    client.token = loginToken(client, *server);
    QCOMPARE(client
                 .postJson(server->url(QStringLiteral("/api-auth/app/v1/auth/code/confirm")),
                           {{QStringLiteral("code"), QStringLiteral("123456")}})
                 .status,
             409);
}

void tst_DemoAuth::permissions_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("doctor");
    QTest::addColumn<bool>("admin");
    QTest::newRow("doctor") << "doctor" << true << false;
    QTest::newRow("admin") << "admin" << false << true;
    QTest::newRow("chief") << "chief" << true << true;
    QTest::newRow("visitor") << "visitor" << false << false;
}

void tst_DemoAuth::permissions()
{
    QFETCH(QString, user);
    QFETCH(bool, doctor);
    QFETCH(bool, admin);
    TestClient client;
    client.token = loginToken(client, *server, user);
    const HttpResult r = client.get(server->url(QStringLiteral("/api/me/")));
    QCOMPARE(r.status, 200);
    const QJsonObject me = r.object();
    QCOMPARE(me.value(QStringLiteral("isDoctor")), QJsonValue(doctor));
    QCOMPARE(me.value(QStringLiteral("isPatientAdmin")), QJsonValue(admin));
    QVERIFY(me.value(QStringLiteral("name")).isString());
    QVERIFY(!me.value(QStringLiteral("name")).toString().isEmpty());
}

void tst_DemoAuth::tokenRequired_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("path");
    QTest::newRow("me") << QByteArray("GET") << "/api/me/";
    QTest::newRow("patients") << QByteArray("GET") << "/api/patients/";
    QTest::newRow("search") << QByteArray("GET") << "/api/patients/?id=KV";
    QTest::newRow("register") << QByteArray("POST") << "/api/patients/";
    QTest::newRow("sessions") << QByteArray("GET") << "/api/patients/11/json/";
    QTest::newRow("listing") << QByteArray("GET") << "/api/patients/11/sessions/101/";
    QTest::newRow("assign") << QByteArray("POST") << "/api/patients/11/sessions/101/assign_external/";
    QTest::newRow("sync") << QByteArray("POST") << "/api/sync/";
    QTest::newRow("cancel") << QByteArray("DELETE") << "/api/sync/abc/manuals/cancel/";
    QTest::newRow("templates") << QByteArray("GET") << "/api/me/reportTemplate/";
    QTest::newRow("reports") << QByteArray("GET") << "/api/patients/11/reports/";
    QTest::newRow("mfa") << QByteArray("POST") << "/api-auth/app/v1/auth/2fa/authenticate";
}

void tst_DemoAuth::tokenRequired()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, path);
    TestClient client;
    HttpResult r = client.send(verb, server->url(path), QByteArrayLiteral("{}"), false,
                               QByteArrayLiteral("application/json"));
    QCOMPARE(r.status, 403);
    QCOMPARE(r.errorCode(), QStringLiteral("not_authenticated"));
    client.token = QStringLiteral("not-a-token");
    r = client.send(verb, server->url(path), QByteArrayLiteral("{}"), true,
                    QByteArrayLiteral("application/json"));
    QCOMPARE(r.status, 403);
    QCOMPARE(r.errorCode(), QStringLiteral("invalid_token"));
    QVERIFY(!r.hasHeader("WWW-Authenticate"));
}

void tst_DemoAuth::roles_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::newRow("visitor lists patients") << "visitor" << QByteArray("GET") << "/api/patients/" << 403;
    QTest::newRow("admin lists patients") << "admin" << QByteArray("GET") << "/api/patients/" << 403;
    QTest::newRow("admin opens sessions") << "admin" << QByteArray("GET") << "/api/patients/11/json/" << 403;
    QTest::newRow("doctor registers") << "doctor" << QByteArray("POST") << "/api/patients/" << 403;
    QTest::newRow("visitor registers") << "visitor" << QByteArray("POST") << "/api/patients/" << 403;
    QTest::newRow("chief lists patients") << "chief" << QByteArray("GET") << "/api/patients/" << 200;
    QTest::newRow("admin registers") << "admin" << QByteArray("POST") << "/api/patients/" << 201;
    QTest::newRow("chief registers") << "chief" << QByteArray("POST") << "/api/patients/" << 201;
}

void tst_DemoAuth::roles()
{
    QFETCH(QString, user);
    QFETCH(QByteArray, verb);
    QFETCH(QString, path);
    QFETCH(int, status);
    TestClient client;
    client.token = loginToken(client, *server, user);
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("CenterID"), QStringLiteral("ROLE-%1").arg(user)},
                                  {QStringLiteral("Email"), QStringLiteral("role@clinic.example")},
                                  {QStringLiteral("FirstName"), QStringLiteral("Rita")},
                                  {QStringLiteral("LastName"), QStringLiteral("Role")}})
            .toJson();
    const HttpResult r = client.send(verb, server->url(path), verb == "POST" ? body : QByteArray(), true,
                                     QByteArrayLiteral("application/json"));
    QCOMPARE(r.status, status);
    if (status == 403)
        QCOMPARE(r.errorCode(), QStringLiteral("permission_denied"));
}

void tst_DemoAuth::tokenExpires()
{
    DemoServer::Options options;
    options.tokenLifetimeSeconds = 1;
    TestServer shortLived(options);
    QVERIFY(shortLived.started);
    TestClient client;
    client.token = loginToken(client, shortLived);
    QCOMPARE(client.get(shortLived.url(QStringLiteral("/api/me/"))).status, 200);
    QTest::qWait(2200);
    const HttpResult r = client.get(shortLived.url(QStringLiteral("/api/me/")));
    QCOMPARE(r.status, 403);
    QCOMPARE(r.errorCode(), QStringLiteral("token_expired"));
}

void tst_DemoAuth::repeatedFailuresLockTheAccount()
{
    TestClient client;
    const QString url = server->url(QStringLiteral("/api-auth/app/v1/auth/login"));
    for (int i = 0; i < 8; ++i)
        QCOMPARE(client
                     .postJson(url,
                               {{QStringLiteral("username"), QStringLiteral("visitor")},
                                {QStringLiteral("password"), QStringLiteral("guess")}},
                               false)
                     .status,
                 400);
    const HttpResult r = client.postJson(url,
                                         {{QStringLiteral("username"), QStringLiteral("visitor")},
                                          {QStringLiteral("password"), DemoServer::password()}},
                                         false);
    QCOMPARE(r.status, 429);
    QCOMPARE(r.errorCode(), QStringLiteral("too_many_attempts"));
    // Other accounts are not affected.
    QVERIFY(!loginToken(client, *server, QStringLiteral("doctor")).isEmpty());
}

void tst_DemoAuth::authenticatorCodeIsUsedOnce()
{
    const QString mfa = server->url(QStringLiteral("/api-auth/app/v1/auth/2fa/authenticate"));
    TestClient first, second, otherAccount;
    first.token = loginStep(first, QStringLiteral("doctor.totp"));
    second.token = loginStep(second, QStringLiteral("doctor.totp"));
    otherAccount.token = loginStep(otherAccount, QStringLiteral("doctor.flows"));
    const QString code = server->server->freshTotpCode(QStringLiteral("doctor.totp"));
    QCOMPARE(first.postJson(mfa, {{QStringLiteral("code"), code}}).status, 200);

    // Seen once, the code is no good to anyone else within its window.
    const HttpResult replay = second.postJson(mfa, {{QStringLiteral("code"), code}});
    QCOMPARE(replay.status, 400);
    QCOMPARE(replay.errorCode(), QStringLiteral("incorrect_code"));
    // The same code of another account (the accounts share a secret) is that account's own.
    QCOMPARE(otherAccount.postJson(mfa, {{QStringLiteral("code"), code}}).status, 200);
    // The next code is taken.
    QCOMPARE(second
                 .postJson(mfa, {{QStringLiteral("code"),
                                  server->server->freshTotpCode(QStringLiteral("doctor.totp"))}})
                 .status,
             200);
}

// Wrong passwords sent at once are all counted before any is verified, so no
// more than the limit (8) are tried.
void tst_DemoAuth::parallelTriesCannotPassTheLimit()
{
    QNetworkAccessManager manager;
    QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
    QFile ca(DemoServer::caCertificatePath());
    QVERIFY(ca.open(QIODevice::ReadOnly));
    trust.addCaCertificates(QSslCertificate::fromData(ca.readAll()));
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("username"), QStringLiteral("intruder")},
                                  {QStringLiteral("password"), QStringLiteral("guess")}})
            .toJson();
    std::map<int, int> statuses;
    int finished = 0;
    for (int i = 0; i < 20; ++i) {
        QNetworkRequest request(QUrl(server->url(QStringLiteral("/api-auth/app/v1/auth/login"))));
        request.setSslConfiguration(trust);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        QNetworkReply *reply = manager.post(request, body);
        QObject::connect(reply, &QNetworkReply::finished, &manager, [reply, &statuses, &finished] {
            ++statuses[reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()];
            ++finished;
            reply->deleteLater();
        });
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished, 20, 30000);
    QCOMPARE(statuses[400], 8);
    QCOMPARE(statuses[429], 12);
}

void tst_DemoAuth::attemptTableIsBounded()
{
    DemoServer::Options options;
    options.loginAttemptTableSize = 2;
    TestServer small(options);
    QVERIFY(small.started);
    TestClient client;
    const QString url = small.url(QStringLiteral("/api-auth/app/v1/auth/login"));
    auto attempt = [&](const QString &user, const QString &password) {
        return client
            .postJson(url, {{QStringLiteral("username"), user}, {QStringLiteral("password"), password}},
                      false)
            .status;
    };
    // Counts below the limit make room for new names, oldest first.
    QCOMPARE(attempt(QStringLiteral("guess-1"), QStringLiteral("x")), 400);
    QCOMPARE(attempt(QStringLiteral("guess-2"), QStringLiteral("x")), 400);
    QCOMPARE(attempt(QStringLiteral("doctor"), DemoServer::password()), 200);
    // A table full of locked names lets no new name in until their lock ends.
    for (const QString &user : {QStringLiteral("lock-1"), QStringLiteral("lock-2")})
        for (int i = 0; i < 8; ++i)
            QCOMPARE(attempt(user, QStringLiteral("x")), 400);
    QCOMPARE(attempt(QStringLiteral("lock-1"), DemoServer::password()), 429);
    QCOMPARE(attempt(QStringLiteral("admin"), DemoServer::password()), 429);
}

void tst_DemoAuth::passwordsAreHashed()
{
    const QString a = DemoAuth::hashPassword(QStringLiteral("demo-password"));
    const QString b = DemoAuth::hashPassword(QStringLiteral("demo-password"));
    QVERIFY(a != b); // salted
    QVERIFY(a.startsWith(QLatin1String("pbkdf2_sha256$")));
    QVERIFY(DemoAuth::verifyPassword(QStringLiteral("demo-password"), a));
    QVERIFY(!DemoAuth::verifyPassword(QStringLiteral("demo-passwore"), a));
    QVERIFY(!DemoAuth::verifyPassword(QStringLiteral("demo-password"), QStringLiteral("plain")));
    QVERIFY(!DemoAuth::verifyPassword(QStringLiteral("demo-password"),
                                      QStringLiteral("pbkdf2_sha256$0$AA==$AA==")));
    for (const QString &file : {QStringLiteral("demo.sqlite"), QStringLiteral("demo.sqlite-wal")}) {
        QFile database(server->dir.filePath(file));
        if (database.open(QIODevice::ReadOnly))
            QVERIFY(!database.readAll().contains("demo-password"));
    }
}

QTEST_MAIN(tst_DemoAuth)
#include "tst_demoauth.moc"
