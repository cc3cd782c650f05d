// The server client against the stand-in server over HTTPS on loopback:
// configuration and trust, the dispatcher and its error path, the cancel
// signals, every login flow, patients, session documents and images, the
// inactivity timer, and what the trace lines may carry.

#include "StandIn.h"

#include "demo-server/DemoAuth.h"
#include "demo-server/DemoFaults.h"
#include "demo-server/SampleData.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>
#include <QUrlQuery>

#include <functional>

namespace {

using Trigger = std::function<void(ServerVisualizer &)>;

const SampleData::Patient &samplePatient(int sessions)
{
    for (const SampleData::Patient &p : SampleData::instance().patients)
        if (int(p.sessions.size()) == sessions)
            return p;
    qFatal("no sample patient with %d sessions", sessions);
}

const SampleData::Patient &patientNamed(const QString &lastName)
{
    for (const SampleData::Patient &p : SampleData::instance().patients)
        if (p.lastName == lastName)
            return p;
    qFatal("no sample patient named %s", qPrintable(lastName));
}

// The first session of a patient that has a document.
const SampleData::Session &documentedSession()
{
    for (const auto &[id, session] : SampleData::instance().sessions)
        if (session.hasDocument && !session.images.empty() && !session.dermatoscopic.empty())
            return session;
    qFatal("no documented sample session");
}

DemoFaults::Fault fault(const QString &faultText, QString *group)
{
    DemoFaults::Fault parsed;
    QString error;
    if (!DemoFaults::parseFault(faultText, group, &parsed, &error))
        qFatal("bad fault faultText %s: %s", qPrintable(faultText), qPrintable(error));
    return parsed;
}

// The stored object a presigned storage URL points at.
QString storageObject(const QUrl &url)
{
    const QString path = url.path(QUrl::FullyDecoded);
    return path.mid(path.indexOf(QLatin1String("/storage/")) + 9);
}

} // namespace

class tst_ServerVisualizer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void configuration_data();
    void configuration();
    void trust_data();
    void trust();
    void serverNames_data();
    void serverNames();
    void systemRootsStayTrusted();
    void onlyHttpsIsFetched_data();
    void onlyHttpsIsFetched();
    void redirectsAreFailures_data();
    void redirectsAreFailures();
    void newLoginForgetsTheOldToken_data();
    void newLoginForgetsTheOldToken();

    void loginAccounts_data();
    void loginAccounts();
    void loginFailures_data();
    void loginFailures();
    void secondFactorFailures_data();
    void secondFactorFailures();
    void tokenHeaders();

    void dispatchRows_data();
    void dispatchRows();
    void errorPath_data();
    void errorPath();
    void cancelSignals_data();
    void cancelSignals();

    void patientList();
    void search_data();
    void search();
    void sessionDocuments_data();
    void sessionDocuments();
    void downloadSessionPaths_data();
    void downloadSessionPaths();
    void imageDownload_data();
    void imageDownload();

    void inactivityTimer();
    void traceHasNoSecrets();

private:
    std::unique_ptr<ServerVisualizer> freshChief();
    // Waits until the client's log shows exactly `expected`, then a little
    // longer to see that nothing else follows.
    void expectSignals(SignalLog &log, const QString &expected, int timeout = 15000);

    StandIn standIn;
    std::unique_ptr<ServerVisualizer> client;
    // A doctor and patient administrator, logged in once for the whole run.
    std::unique_ptr<ServerVisualizer> chief;
    const QString encodedLastName = QStringLiteral("Smith & Wesson+Co #7 100%");
};

void tst_ServerVisualizer::initTestCase()
{
    QVERIFY2(standIn.start(), qPrintable(standIn->errorString()));
    chief = standIn.client();
    QVERIFY(logIn(*chief, *standIn.server, QStringLiteral("chief")));

    // A patient whose name holds the characters that split or cut a query.
    SignalLog log(chief.get());
    chief->registerPatient(QStringLiteral("Query"), encodedLastName, QStringLiteral("KV-ENC-1"),
                           QStringLiteral("query@example.org"));
    QTRY_COMPARE_WITH_TIMEOUT(log.count("registeredPatientCorrectly"), 1, 10000);
}

void tst_ServerVisualizer::init()
{
    client = standIn.client();
}

void tst_ServerVisualizer::cleanup()
{
    client.reset();
    standIn->clearFaults();
}

void tst_ServerVisualizer::expectSignals(SignalLog &log, const QString &expected, int timeout)
{
    QTRY_COMPARE_WITH_TIMEOUT(log.emitted(), expected, timeout);
    QTest::qWait(150);
    QCOMPARE(log.emitted(), expected);
}

// --- configuration and trust -----------------------------------------------------------

void tst_ServerVisualizer::configuration_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<int>("problems");

    const QString fallback = ServerVisualizer::defaultDirectoryUrl();
    QTest::newRow("nothing set") << QByteArray("{}") << fallback << 0;
    QTest::newRow("directory") << QByteArray(R"({"directory":"https://dir.example.org:9443"})")
                               << "https://dir.example.org:9443" << 0;
    QTest::newRow("directory with trailing slash")
        << QByteArray(R"({"directory":"https://dir.example.org/"})") << "https://dir.example.org" << 0;
    QTest::newRow("plain http refused")
        << QByteArray(R"({"directory":"http://dir.example.org"})") << fallback << 1;
    QTest::newRow("directory not text") << QByteArray(R"({"directory":8443})") << fallback << 1;
    QTest::newRow("one authority as text") << QByteArray(R"({"caCertificates":"$CA"})") << fallback << 0;
    QTest::newRow("authorities as list") << QByteArray(R"({"caCertificates":["$CA"]})") << fallback << 0;
    QTest::newRow("missing authority file")
        << QByteArray(R"({"caCertificates":["$CA","/nonexistent/ca.pem"]})") << fallback << 1;
    QTest::newRow("authority entry not text")
        << QByteArray(R"({"caCertificates":[3,"$CA"]})") << fallback << 1;
    QTest::newRow("authorities not a list") << QByteArray(R"({"caCertificates":{"a":1}})") << fallback << 1;
    QTest::newRow("both wrong") << QByteArray(R"({"directory":"","caCertificates":[""]})") << fallback << 2;
}

void tst_ServerVisualizer::configuration()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, directory);
    QFETCH(int, problems);

    json.replace("$CA", DemoServer::caCertificatePath().toUtf8());
    ServerVisualizer visualizer(QStringLiteral("https://api.example.org"));
    const QStringList reported = visualizer.applyConfiguration(QJsonDocument::fromJson(json).object());
    QCOMPARE(visualizer.getDirectoryUrl(), directory);
    QCOMPARE(reported.size(), problems);
    QCOMPARE(visualizer.getBaseUrl(), QStringLiteral("https://api.example.org"));
}

void tst_ServerVisualizer::trust_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("trustAfterFailure");

    QTest::newRow("system authorities only") << false << false;
    QTest::newRow("configured authority") << true << false;
    QTest::newRow("authority added after a refused connection") << false << true;
}

void tst_ServerVisualizer::trust()
{
    QFETCH(bool, trusted);
    QFETCH(bool, trustAfterFailure);

    auto visualizer = standIn.client(trusted);
    SignalLog log(visualizer.get());
    visualizer->getEndpoint(QStringLiteral("demo"));
    visualizer->login(QStringLiteral("doctor"), DemoServer::password());
    if (!trusted) {
        expectSignals(log, QStringLiteral("incorrectServerName:1 loginIncorrect:1"));
        QCOMPARE(log["loginIncorrect"].at(0).at(0).toString(),
                 QStringLiteral("Secure connection to the server failed"));
        if (!trustAfterFailure)
            return;
        // The refused connection must not be reused once the authority is trusted.
        visualizer->applyConfiguration(standIn.configuration());
        log["incorrectServerName"].clear();
        log["loginIncorrect"].clear();
        visualizer->getEndpoint(QStringLiteral("demo"));
        visualizer->login(QStringLiteral("doctor"), DemoServer::password());
    }
    expectSignals(log, QStringLiteral("correctServerName:1 loginCorrect:1"));
    QCOMPARE(log["correctServerName"].at(0).at(0).toString(), standIn->baseUrl());
}

void tst_ServerVisualizer::serverNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("known");

    QTest::newRow("demo") << "demo" << true;
    QTest::newRow("unknown") << "elsewhere" << false;
    QTest::newRow("other letter case") << "Demo" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("climbing path") << "x/../demo" << false;
    QTest::newRow("trailing slash") << "demo/" << false;
    QTest::newRow("query") << "demo?x=1" << false;
    QTest::newRow("fragment") << "demo#x" << false;
    QTest::newRow("encoded slash") << "demo%2F" << false;
}

void tst_ServerVisualizer::serverNames()
{
    QFETCH(QString, name);
    QFETCH(bool, known);

    auto visualizer = std::make_unique<ServerVisualizer>(QStringLiteral("https://before.example.org"));
    visualizer->applyConfiguration(standIn.configuration());
    SignalLog log(visualizer.get());
    visualizer->getEndpoint(name);
    if (known) {
        expectSignals(log, QStringLiteral("correctServerName:1"));
        QCOMPARE(visualizer->getBaseUrl(), standIn->baseUrl());
    } else {
        expectSignals(log, QStringLiteral("incorrectServerName:1"));
        QCOMPARE(visualizer->getBaseUrl(), QStringLiteral("https://before.example.org"));
    }
}

void tst_ServerVisualizer::systemRootsStayTrusted()
{
    const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    QVERIFY(!system.isEmpty());
    QFile file(DemoServer::caCertificatePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QSslCertificate> standInCa = QSslCertificate::fromData(file.readAll());
    QCOMPARE(standInCa.size(), 1);

    auto visualizer = standIn.client();
    RequestLog requests(visualizer.get());
    SignalLog log(visualizer.get());
    visualizer->getEndpoint(QStringLiteral("demo"));
    expectSignals(log, QStringLiteral("correctServerName:1"));
    QCOMPARE(int(requests.requests.size()), 1);
    // What the request was sent with: every system root and the configured one.
    const QList<QSslCertificate> trusted =
        requests.requests.front().request.sslConfiguration().caCertificates();
    const QSet<QByteArray> trustedDer = [&] {
        QSet<QByteArray> der;
        for (const QSslCertificate &c : trusted)
            der.insert(c.toDer());
        return der;
    }();
    for (const QSslCertificate &root : system)
        QVERIFY2(trustedDer.contains(root.toDer()), qPrintable(root.subjectDisplayName()));
    QVERIFY(trustedDer.contains(standInCa.front().toDer()));
    QCOMPARE(int(trustedDer.size()), int(QSet<QByteArray>(trustedDer).size()));
    QVERIFY(trusted.size() >= system.size() + 1);
}

void tst_ServerVisualizer::onlyHttpsIsFetched_data()
{
    QTest::addColumn<QString>("url"); // "$FILE" a local JPEG, "$HTTP" a plain listener
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("retryAt"); // the API URL asked again, or empty
    QTest::addColumn<QString>("told");    // the signals that tell the failure

    const QString jpegData = QStringLiteral("data:image/jpeg;base64,/9j/4AAQSkZJRgABAQAAAQABAAD/2Q==");
    QTest::newRow("file: image") << "$FILE"
                                 << "downloadImage" << QString() << QString();
    QTest::newRow("qrc: image") << "qrc:/icon/AppIconSVG"
                                << "downloadImage" << QString() << QString();
    QTest::newRow("data: image") << jpegData << "downloadImage" << QString() << QString();
    QTest::newRow("http: image") << "$HTTP"
                                 << "downloadImage" << QString() << QString();
    QTest::newRow("data: session document") << QStringLiteral("data:application/json,%7B%22a%22%3A1%7D")
                                            << "getSessionJson" << QString() << "sessionDocumentFailed:1";
    QTest::newRow("file: report template") << "$FILE"
                                           << "getReportTemplate" << QString() << "reportRequestFailed:1";
    QTest::newRow("file: captured image") << "$FILE"
                                          << "downloadManual"
                                          << "/api/sync/abcdef/manuals/0_4/" << QString();
}

void tst_ServerVisualizer::onlyHttpsIsFetched()
{
    QFETCH(QString, url);
    QFETCH(QString, operation);
    QFETCH(QString, retryAt);
    QFETCH(QString, told);

    QTemporaryFile local;
    QVERIFY(local.open());
    local.write("\xFF\xD8\xFF\xE0 a local file that must not be read");
    local.flush();
    QTcpServer plain;
    QVERIFY(plain.listen(QHostAddress::LocalHost, 0));
    url.replace(QLatin1String("$FILE"), QUrl::fromLocalFile(local.fileName()).toString());
    url.replace(QLatin1String("$HTTP"), QStringLiteral("http://127.0.0.1:%1/a.jpg").arg(plain.serverPort()));

    // A client of its own: the failed image lookup is asked again later.
    client->setTransferTimeouts(1000, 1000);
    RequestLog requests(client.get());
    SignalLog log(client.get());
    TraceCapture trace;
    const SampleData::Session &s = documentedSession();
    if (operation == QLatin1String("downloadImage"))
        client->downloadImage(s.patientId, s.id, QStringLiteral("a.jpg"), url, QStringLiteral("C"));
    else if (operation == QLatin1String("downloadManual"))
        client->getRequest(QUrl(url), QStringLiteral("s3"), operation,
                           {{QStringLiteral("filename"), QStringLiteral("0_4")},
                            {QStringLiteral("ec2url"), standIn->baseUrl() + retryAt}});
    else
        client->getRequest(QUrl(url), QStringLiteral("s3"), operation);

    // It ends as a failed request of its kind, without reaching the manager.
    const QString failure = QStringLiteral("ERROR SERVER s3 OPERATION ") + operation;
    QTRY_VERIFY_WITH_TIMEOUT(trace.text().contains(failure), 5000);
    if (!retryAt.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.withOperation("downloadManualImgSync").size()), 1, 5000);
        QCOMPARE(requests.requests.front().url, QUrl(standIn->baseUrl() + retryAt));
    }
    expectSignals(log, told);
    QVERIFY(requests.withOperation(operation).empty());
    QVERIFY(!plain.hasPendingConnections());
}

void tst_ServerVisualizer::redirectsAreFailures_data()
{
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("requests");

    QTest::newRow("image") << "storage-get:redirect"
                           << "sessionDownloadReply:1" << 2;
    QTest::newRow("session listing") << "sessions:redirect"
                                     << "" << 1;
    QTest::newRow("session document") << "storage-get:redirect"
                                      << "sessionDocumentFailed:1 sessionDocumentsRequested:1" << 2;
    // Not asked again as an unusable answer would be: a redirect is a failure.
    QTest::newRow("permissions") << "patients:redirect"
                                 << "serverTimeout:1" << 1;
    QTest::newRow("registration") << "patients:redirect"
                                  << "registeredPatientIncorrectly:1" << 1;
    QTest::newRow("login") << "auth:redirect"
                           << "loginIncorrect:1" << 1;
}

void tst_ServerVisualizer::redirectsAreFailures()
{
    QFETCH(QString, faultText);
    QFETCH(QString, expected);
    QFETCH(int, requests);
    const QString row = QString::fromLatin1(QTest::currentDataTag());
    const SampleData::Session &session = documentedSession();

    auto visualizer = freshChief();
    QVERIFY(visualizer);
    RequestLog log(visualizer.get());
    SignalLog signalLog(visualizer.get());
    QString group;
    const DemoFaults::Fault f = fault(faultText, &group);

    if (row == QLatin1String("image")) {
        visualizer->downloadSession(session.patientId, session.id, false, true, true, QString(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(signalLog.count("sessionDownloadReply"), 1, 10000);
        const QJsonObject entry = signalLog["sessionDownloadReply"]
                                      .at(0)
                                      .at(2)
                                      .toJsonDocument()
                                      .object()
                                      .value("generals")
                                      .toArray()
                                      .first()
                                      .toObject();
        standIn->setFault(group, f);
        visualizer->downloadImage(session.patientId, session.id, entry.value("name").toString(),
                                  entry.value("url").toString(), QStringLiteral("C"));
    } else if (row == QLatin1String("session listing")) {
        standIn->setFault(group, f);
        visualizer->downloadSession(session.patientId, session.id, true, true, false, QString(), 0);
    } else if (row == QLatin1String("session document")) {
        standIn->setFault(group, f);
        visualizer->getSessionsJsons(QString::number(samplePatient(1).id));
    } else if (row == QLatin1String("permissions")) {
        standIn->setFault(group, f);
        visualizer->checkPermissions();
    } else if (row == QLatin1String("registration")) {
        standIn->setFault(group, f);
        visualizer->registerPatient(QStringLiteral("Moved"), QStringLiteral("Away"),
                                    QStringLiteral("KV-MOVED-1"), QStringLiteral("moved@example.org"));
    } else if (row == QLatin1String("login")) {
        standIn->setFault(group, f);
        visualizer->login(QStringLiteral("doctor"), DemoServer::password());
    } else {
        QFAIL("row without trigger");
    }
    QTRY_COMPARE_WITH_TIMEOUT(int(log.requests.size()), requests, 10000);
    QCOMPARE(log.requests.back().status, 302);
    expectSignals(signalLog, expected, 10000);
    QCOMPARE(int(log.requests.size()), requests);
    if (row == QLatin1String("login"))
        QCOMPARE(signalLog["loginIncorrect"].at(0).at(0).toString(),
                 QStringLiteral("Unexpected answer from the server (HTTP 302)"));
}

void tst_ServerVisualizer::newLoginForgetsTheOldToken_data()
{
    QTest::addColumn<QString>("firstAccount");
    QTest::addColumn<QString>("firstStep");

    QTest::newRow("after a complete login") << "doctor"
                                            << "loginCorrect";
    QTest::newRow("after Back from the authenticator page") << "doctor.totp"
                                                            << "totpNeeded";
    QTest::newRow("after Back from the e-mailed code page") << "doctor.mail"
                                                            << "mailCodeNeeded";
}

void tst_ServerVisualizer::newLoginForgetsTheOldToken()
{
    QFETCH(QString, firstAccount);
    QFETCH(QString, firstStep);

    RequestLog requests(client.get());
    SignalLog log(client.get());
    client->login(firstAccount, DemoServer::password());
    expectSignals(log, firstStep + QStringLiteral(":1"), 20000);
    // Another account whose login fails at its first step: no token of its own.
    client->login(QStringLiteral("admin"), QStringLiteral("not-the-password"));
    QTRY_COMPARE_WITH_TIMEOUT(log.count("usernamePasswordIncorrect"), 1, 20000);

    // Nothing of the earlier login may authorise anything now.
    if (firstStep == QLatin1String("totpNeeded"))
        client->verifyTOTP(standIn->freshTotpCode(firstAccount));
    else if (firstStep == QLatin1String("mailCodeNeeded"))
        client->verifyMailCode(standIn->lastMailedCode(firstAccount));
    else
        client->checkPermissions();
    QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 3, 20000);
    const SentRequest &last = requests.requests.back();
    QVERIFY(last.request.rawHeader("X-Session-Token").isEmpty());
    QCOMPARE(last.status, 403);
    QTest::qWait(200);
    QCOMPARE(log.count("loginCorrect"), firstStep == QLatin1String("loginCorrect") ? 1 : 0);
    QCOMPARE(log.count("userPermissions"), 0);
}

// --- login -------------------------------------------------------------------------------

void tst_ServerVisualizer::loginAccounts_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("firstStep");

    QTest::newRow("doctor") << "doctor"
                            << "loginCorrect";
    QTest::newRow("doctor.totp") << "doctor.totp"
                                 << "totpNeeded";
    QTest::newRow("doctor.mail") << "doctor.mail"
                                 << "mailCodeNeeded";
    QTest::newRow("doctor.flows") << "doctor.flows"
                                  << "totpNeeded";
    QTest::newRow("admin") << "admin"
                           << "loginCorrect";
    QTest::newRow("chief") << "chief"
                           << "loginCorrect";
    QTest::newRow("visitor") << "visitor"
                             << "loginCorrect";
}

void tst_ServerVisualizer::loginAccounts()
{
    QFETCH(QString, account);
    QFETCH(QString, firstStep);

    SignalLog log(client.get());
    client->login(account, DemoServer::password());
    expectSignals(log, firstStep + QStringLiteral(":1"), 20000);

    QString rejected;
    if (firstStep != QLatin1String("loginCorrect")) {
        const bool totp = firstStep == QLatin1String("totpNeeded");
        // A wrong code first: same page, message shown, login not complete.
        const QString right = totp ? standIn->freshTotpCode(account) : standIn->lastMailedCode(account);
        QVERIFY(!right.isEmpty());
        rejected = totp ? QStringLiteral("codeTOTPincorrect") : QStringLiteral("codeMailIncorrect");
        if (totp)
            client->verifyTOTP(wrongCode(right));
        else
            client->verifyMailCode(wrongCode(right));
        expectSignals(log, QStringLiteral("%1:1 %2:1").arg(rejected, firstStep));
        QCOMPARE(log[rejected].at(0).at(0).toString(), QStringLiteral("Incorrect code."));
        if (totp)
            client->verifyTOTP(right);
        else
            client->verifyMailCode(right);
    }
    QTRY_COMPARE_WITH_TIMEOUT(log.count("loginCorrect"), 1, 20000);

    // The token of the last step authorises what follows.
    client->checkPermissions();
    QStringList expected{QStringLiteral("loginCorrect:1"), QStringLiteral("userPermissions:1")};
    if (!rejected.isEmpty())
        expected << rejected + QStringLiteral(":1") << firstStep + QStringLiteral(":1");
    expected.sort();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("userPermissions"), 1, 20000);
    if (account == QLatin1String("visitor"))
        QTest::qWait(1500); // an account with neither role is not asked again
    expectSignals(log, expected.join(QLatin1Char(' ')));

    const auto accounts = DemoAuth::accounts();
    const auto it = std::find_if(accounts.begin(), accounts.end(),
                                 [&](const DemoAuth::Account &a) { return a.username == account; });
    QVERIFY(it != accounts.end());
    const QList<QVariant> permissions = log["userPermissions"].at(0);
    QCOMPARE(permissions.at(0).toBool(), it->doctor);
    QCOMPARE(permissions.at(1).toBool(), it->patientAdmin);
    QCOMPARE(permissions.at(2).toString(), it->displayName);
}

void tst_ServerVisualizer::loginFailures_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QString>("message");

    const QString mismatch = QStringLiteral("The username and/or password you specified are not correct.");
    QTest::newRow("wrong password") << "admin"
                                    << "not-the-password" << QString() << QString()
                                    << "usernamePasswordIncorrect" << mismatch;
    QTest::newRow("unknown user") << "nobody"
                                  << "demo-password" << QString() << QString() << "usernamePasswordIncorrect"
                                  << mismatch;
    QTest::newRow("refused connection")
        << "doctor"
        << "demo-password" << QString() << QStringLiteral("https://127.0.0.1:%1").arg(closedPort())
        << "loginIncorrect"
        << "Server not reachable";
    QTest::newRow("no endpoint yet") << "doctor"
                                     << "demo-password" << QString() << ""
                                     << "loginIncorrect"
                                     << "Server not reachable";
    QTest::newRow("server failure with message") << "doctor"
                                                 << "demo-password"
                                                 << "auth:fail=1,status=503" << QString() << "loginIncorrect"
                                                 << "This failure was injected for a test.";
    QTest::newRow("401 without usable body") << "doctor.totp"
                                             << "demo-password"
                                             << "auth:notJson" << QString() << "loginIncorrect"
                                             << "Unexpected answer from the server (HTTP 401)";
    QTest::newRow("error page") << "doctor"
                                << "not-the-password"
                                << "auth:notJson" << QString() << "loginIncorrect"
                                << "Unexpected answer from the server (HTTP 400)";
    QTest::newRow("no answer in time") << "doctor"
                                       << "demo-password"
                                       << "auth:hang" << QString() << "loginIncorrect"
                                       << "Server not reachable";
    QTest::newRow("answer cut short") << "doctor"
                                      << "demo-password"
                                      << "auth:truncate" << QString() << "loginIncorrect"
                                      << "Server not reachable";
}

void tst_ServerVisualizer::loginFailures()
{
    QFETCH(QString, account);
    QFETCH(QString, password);
    QFETCH(QString, faultText);
    QFETCH(QString, baseUrl);
    QFETCH(QString, signal);
    QFETCH(QString, message);

    if (!baseUrl.isNull()) {
        client = std::make_unique<ServerVisualizer>(baseUrl);
        client->applyConfiguration(standIn.configuration());
    }
    if (!faultText.isEmpty()) {
        QString group;
        const DemoFaults::Fault f = fault(faultText, &group);
        standIn->setFault(group, f);
    }
    client->setTransferTimeouts(1000, 1000);
    SignalLog log(client.get());
    client->login(account, password);
    // Exactly one signal, so that the dialog offers its button again.
    expectSignals(log, signal + QStringLiteral(":1"), 20000);
    QCOMPARE(log[signal].at(0).at(0).toString(), message);
}

void tst_ServerVisualizer::secondFactorFailures_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<QString>("message");

    QTest::newRow("authenticator: 2xx without meta") << "doctor.totp"
                                                     << "auth:notJson"
                                                     << "Unexpected answer from the server (HTTP 200)";
    QTest::newRow("authenticator: server failure") << "doctor.totp"
                                                   << "auth:fail=1,status=500"
                                                   << "This failure was injected for a test.";
    QTest::newRow("authenticator: no answer") << "doctor.totp"
                                              << "auth:hang"
                                              << "Server not reachable";
    QTest::newRow("mail: 2xx without meta") << "doctor.mail"
                                            << "auth:notJson"
                                            << "Unexpected answer from the server (HTTP 200)";
    QTest::newRow("mail: answer cut short") << "doctor.mail"
                                            << "auth:truncate"
                                            << "Server not reachable";
}

void tst_ServerVisualizer::secondFactorFailures()
{
    QFETCH(QString, account);
    QFETCH(QString, faultText);
    QFETCH(QString, message);

    client->setTransferTimeouts(1000, 1000);
    SignalLog log(client.get());
    client->login(account, DemoServer::password());
    QTRY_COMPARE_WITH_TIMEOUT(log.count("totpNeeded") + log.count("mailCodeNeeded"), 1, 20000);
    const bool totp = log.count("totpNeeded") == 1;

    QString group;
    const DemoFaults::Fault f = fault(faultText, &group);
    standIn->setFault(group, f);
    if (totp)
        client->verifyTOTP(standIn->freshTotpCode(account));
    else
        client->verifyMailCode(standIn->lastMailedCode(account));
    const QString first = totp ? QStringLiteral("totpNeeded:1") : QStringLiteral("mailCodeNeeded:1");
    expectSignals(log, QStringLiteral("loginIncorrect:1 ") + first, 20000);
    QCOMPARE(log["loginIncorrect"].at(0).at(0).toString(), message);
}

void tst_ServerVisualizer::tokenHeaders()
{
    RequestLog requests(client.get());
    QVERIFY(logIn(*client, *standIn.server, QStringLiteral("doctor")));
    const SampleData::Session &session = documentedSession();
    SignalLog log(client.get());

    client->checkPermissions();
    client->downloadSession(session.patientId, session.id, true, false, false, QString(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(log.count("sessionDownloadReply"), 1, 10000);
    const QJsonObject listing = log["sessionDownloadReply"].at(0).at(2).toJsonDocument().object();
    const QJsonObject first = listing.value(QStringLiteral("dermatos")).toArray().first().toObject();
    client->downloadImage(session.patientId, session.id, first.value("name").toString(),
                          first.value("url").toString(), QStringLiteral("D"));
    const QString storageDelete = standIn->presignedUrl(QStringLiteral("GET"), QStringLiteral("nothing.jpg"));
    client->deleteRequest(QUrl(storageDelete), QStringLiteral("s3"), QStringLiteral("tokenProbe"));
    client->deleteRequest(QUrl(standIn->baseUrl() + QStringLiteral("/api/sync/abc/manuals/cancel/")),
                          QStringLiteral("ec2"), QStringLiteral("tokenProbe"));
    client->putFile(QUrl(standIn->presignedUrl(QStringLiteral("PUT"), QStringLiteral("nothing.pdf"))),
                    QByteArray("%PDF-1.4"), QStringLiteral("application/pdf"), QStringLiteral("tokenProbe"));
    QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 7, 10000);

    QByteArray token;
    for (const SentRequest &sent : requests.requests) {
        const QByteArray header = sent.request.rawHeader("X-Session-Token");
        const bool carries = sent.request.hasRawHeader("X-Session-Token");
        if (sent.operation == QLatin1String("login")) {
            QVERIFY2(!carries, "the password post carries no token");
        } else if (sent.verb == "DELETE" || sent.server == QLatin1String("ec2")) {
            QVERIFY2(carries && !header.isEmpty(), qPrintable(sent.operation + " " + sent.verb));
            if (token.isEmpty())
                token = header;
            QCOMPARE(header, token);
        } else {
            QCOMPARE(sent.server, QStringLiteral("s3"));
            QVERIFY2(!carries, qPrintable(sent.operation + " " + sent.verb));
        }
        if (sent.verb == "PUT")
            QCOMPARE(sent.request.header(QNetworkRequest::ContentTypeHeader).toString(),
                     QStringLiteral("application/octet-stream"));
    }
    // The token of the login reply itself authorised these requests.
    QCOMPARE(log.count("userPermissions"), 1);
    QCOMPARE(log.count("imgDownloadDone"), 1);
}

// --- dispatcher ----------------------------------------------------------------------------

std::unique_ptr<ServerVisualizer> tst_ServerVisualizer::freshChief()
{
    auto visualizer = standIn.client();
    if (!logIn(*visualizer, *standIn.server, QStringLiteral("chief")))
        return nullptr;
    return visualizer;
}

void tst_ServerVisualizer::dispatchRows_data()
{
    QTest::addColumn<QString>("expected");

    const SampleData::Patient &five = samplePatient(5);
    int documents = 0;
    for (int id : five.sessions)
        documents += SampleData::instance().session(id)->hasDocument ? 1 : 0;

    QTest::newRow("ec2 listPatients") << "newPatients:1";
    QTest::newRow("ec2 listPatientsSearch") << "newPatients:1";
    QTest::newRow("ec2 checkPermissions") << "userPermissions:1";
    QTest::newRow("ec2 registerPatient") << "registeredPatientCorrectly:1";
    QTest::newRow("ec2 getSessionsJsons, s3 getSessionJson")
        << QStringLiteral("recievedSessionJson:%1 sessionDocumentsRequested:1").arg(documents);
    QTest::newRow("ec2 downloadSession") << "sessionDownloadReply:1";
    QTest::newRow("s3 downloadImage") << "imgDownloadDone:1 sessionDownloadReply:1";
    QTest::newRow("ec2 getReportTemplate") << "receivedReportTemplateList:1";
    QTest::newRow("s3 getReportTemplate") << "receivedReportTemplateList:1 recievedReportTemplate:1";
    QTest::newRow("s3 uploadReport") << "reportUploaded:1";
    QTest::newRow("ec2 retakeManual") << "";
    QTest::newRow("globalServer getEndpoint") << "correctServerName:1";
    QTest::newRow("pair not in the table") << "";
    QTest::newRow("known tag, other server kind") << "";
}

void tst_ServerVisualizer::dispatchRows()
{
    QFETCH(QString, expected);
    const QString row = QString::fromLatin1(QTest::currentDataTag());
    const SampleData::Patient &five = samplePatient(5);
    const SampleData::Session &session = documentedSession();
    const QString api = standIn->baseUrl();

    RequestLog requests(chief.get());
    SignalLog log(chief.get());
    TraceCapture trace;
    static int registered = 0;

    if (row == QLatin1String("ec2 listPatients")) {
        chief->listPatients();
    } else if (row == QLatin1String("ec2 listPatientsSearch")) {
        chief->listPatientsSearch(five.centerId);
    } else if (row == QLatin1String("ec2 checkPermissions")) {
        chief->checkPermissions();
    } else if (row == QLatin1String("ec2 registerPatient")) {
        chief->registerPatient(QStringLiteral("Row"), QStringLiteral("Dispatch"),
                               QStringLiteral("KV-DISPATCH-%1").arg(++registered),
                               QStringLiteral("r@example.org"));
    } else if (row.startsWith(QLatin1String("ec2 getSessionsJsons"))) {
        chief->getSessionsJsons(QString::number(five.id));
    } else if (row == QLatin1String("ec2 downloadSession")) {
        chief->downloadSession(session.patientId, session.id, true, true, false, QString(), 0);
    } else if (row == QLatin1String("s3 downloadImage")) {
        chief->downloadSession(session.patientId, session.id, false, true, true, QString(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(log.count("sessionDownloadReply"), 1, 10000);
        const QJsonObject entry = log["sessionDownloadReply"]
                                      .at(0)
                                      .at(2)
                                      .toJsonDocument()
                                      .object()
                                      .value("generals")
                                      .toArray()
                                      .first()
                                      .toObject();
        chief->downloadImage(session.patientId, session.id, entry.value("name").toString(),
                             entry.value("url").toString(), QStringLiteral("C"));
    } else if (row == QLatin1String("ec2 getReportTemplate")) {
        chief->getRequest(QUrl(api + QStringLiteral("/api/me/reportTemplate/")), QStringLiteral("ec2"),
                          QStringLiteral("getReportTemplate"));
    } else if (row == QLatin1String("s3 getReportTemplate")) {
        chief->getRequest(QUrl(api + QStringLiteral("/api/me/reportTemplate/")), QStringLiteral("ec2"),
                          QStringLiteral("getReportTemplate"));
        QTRY_COMPARE_WITH_TIMEOUT(log.count("receivedReportTemplateList"), 1, 10000);
        const QJsonArray clinics = log["receivedReportTemplateList"].at(0).at(0).toJsonDocument().array();
        QVERIFY(!clinics.isEmpty());
        const QString url = clinics.first()["files"].toArray().first()["url"].toString();
        chief->getRequest(QUrl(url), QStringLiteral("s3"), QStringLiteral("getReportTemplate"));
    } else if (row == QLatin1String("s3 uploadReport")) {
        QNetworkRequest request(QUrl(
            api +
            QStringLiteral("/api/patients/%1/sessions/%2/reports/").arg(session.patientId).arg(session.id)));
        // The target arrives under a tag the table does not know, so the
        // test reads it.
        chief->getRequest(QUrl(api + QStringLiteral("/api/me/")), QStringLiteral("ec2"), QStringLiteral("x"));
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 1, 10000);
        const QByteArray token = requests.requests.front().request.rawHeader("X-Session-Token");
        request.setRawHeader("X-Session-Token", token);
        chief->postRequest(request, QByteArray(), QStringLiteral("ec2"), QStringLiteral("reportTarget"));
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 2, 10000);
        const QJsonObject target =
            QJsonDocument::fromJson(requests.requests.back().unreadBody).object().value("url").toObject();
        QVERIFY(target.contains("fields"));
        chief->putFile(QUrl(target.value("url").toString()), QByteArray("%PDF-1.4\n%%EOF\n"),
                       QStringLiteral("application/pdf"), QStringLiteral("uploadReport"));
    } else if (row == QLatin1String("ec2 retakeManual")) {
        chief->getRequest(QUrl(api + QStringLiteral("/api/me/")), QStringLiteral("ec2"),
                          QStringLiteral("retakeManual"));
    } else if (row == QLatin1String("globalServer getEndpoint")) {
        chief->getEndpoint(QStringLiteral("demo"));
    } else if (row == QLatin1String("pair not in the table")) {
        chief->getRequest(QUrl(api + QStringLiteral("/api/me/")), QStringLiteral("ec2"),
                          QStringLiteral("noSuchOperation"));
    } else if (row == QLatin1String("known tag, other server kind")) {
        chief->getRequest(QUrl(api + QStringLiteral("/api/me/")), QStringLiteral("s3"),
                          QStringLiteral("checkPermissions"));
    } else {
        QFAIL("row without trigger");
    }

    QTRY_VERIFY_WITH_TIMEOUT(!requests.requests.empty(), 10000);
    expectSignals(log, expected);
    for (const SentRequest &sent : requests.requests) {
        // A storage request carries no token, so this one is refused; its
        // failure must not be taken for a failed permissions request either.
        if (row != QLatin1String("known tag, other server kind"))
            QCOMPARE(sent.error, QNetworkReply::NoError);
        // Every reply is released one pass of the event loop after it finished.
        QTRY_VERIFY(sent.reply.isNull());
    }
    if (row == QLatin1String("ec2 retakeManual"))
        QVERIFY(trace.text().contains(QLatin1String("Retake Manual correct")));
}

void tst_ServerVisualizer::errorPath_data()
{
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<QString>("expected");

    QTest::newRow("registration refused") << QString() << "registeredPatientIncorrectly:1";
    QTest::newRow("registration unanswered") << "patients:hang"
                                             << "registeredPatientIncorrectly:1";
    QTest::newRow("permissions failed") << "patients:fail=1,status=503"
                                        << "serverTimeout:1";
    // The challenge logs out, and the failure that follows does not again.
    QTest::newRow("permissions challenged") << "patients:fail=1,status=401,challenge"
                                            << "serverTimeout:1";
    QTest::newRow("permissions not JSON") << "patients:notJson"
                                          << "serverTimeout:1";
    QTest::newRow("directory failed") << "directory:fail=1,status=500"
                                      << "incorrectServerName:1";
    QTest::newRow("storage upload refused") << QString() << "abortPostS3:1";
    QTest::newRow("patient list failed") << "patients:fail=1,status=500"
                                         << "";
    QTest::newRow("patient list cut short") << "patients:truncate"
                                            << "";
    QTest::newRow("session list failed") << "sessions:fail=1,status=502"
                                         << "sessionListFailed:1";
    QTest::newRow("session list not JSON") << "sessions:notJson"
                                           << "sessionListFailed:1";
    QTest::newRow("session listing unanswered") << "sessions:hang"
                                                << "";
    QTest::newRow("image cut short") << "storage-get:truncate"
                                     << "sessionDownloadReply:1";
    QTest::newRow("session document not JSON") << "storage-get:notJson"
                                               << "sessionDocumentFailed:1 sessionDocumentsRequested:1";
    QTest::newRow("one document of three failed") << "storage-get:fail=1,status=500"
                                                  << "recievedSessionJson:2 sessionDocumentFailed:1 "
                                                     "sessionDocumentsRequested:1";
    // A challenge from the API server means the login is gone: the user is
    // logged out. One on a storage URL is only written to the trace.
    QTest::newRow("API server challenge") << "patients:fail=1,status=401,challenge"
                                          << "serverTimeout:1";
    QTest::newRow("storage challenge") << "storage-get:fail=1,status=401,challenge"
                                       << "";
    QTest::newRow("image lookup failed") << QString() << "";
    QTest::newRow("captured image download failed") << QString() << "";
}

void tst_ServerVisualizer::errorPath()
{
    QFETCH(QString, faultText);
    QFETCH(QString, expected);
    const QString row = QString::fromLatin1(QTest::currentDataTag());
    const QString api = standIn->baseUrl();
    const SampleData::Session &session = documentedSession();

    auto visualizer = freshChief();
    QVERIFY(visualizer);
    visualizer->setTransferTimeouts(1000, 1000);
    RequestLog requests(visualizer.get());
    SignalLog log(visualizer.get());

    if (!faultText.isEmpty()) {
        QString group;
        const DemoFaults::Fault f = fault(faultText, &group);
        standIn->setFault(group, f);
    }

    if (row == QLatin1String("registration refused")) {
        visualizer->registerPatient(QStringLiteral("Again"), encodedLastName, QStringLiteral("KV-ENC-1"),
                                    QStringLiteral("again@example.org"));
        expectSignals(log, expected);
        QVERIFY(log["registeredPatientIncorrectly"].at(0).at(0).toString().contains(
            QLatin1String("A patient with this identifier already exists.")));
    } else if (row == QLatin1String("registration unanswered")) {
        visualizer->registerPatient(QStringLiteral("No"), QStringLiteral("Answer"), QStringLiteral("KV-HANG"),
                                    QStringLiteral("n@example.org"));
        expectSignals(log, expected);
        QCOMPARE(log["registeredPatientIncorrectly"].at(0).at(0).toString(),
                 QStringLiteral("Server not reachable"));
    } else if (row == QLatin1String("permissions failed") || row == QLatin1String("permissions challenged")) {
        visualizer->checkPermissions();
        expectSignals(log, expected);
        QCOMPARE(int(requests.withOperation("checkPermissions").size()), 1);
    } else if (row == QLatin1String("permissions not JSON")) {
        // Asked three more times, a second apart, then given up as failed.
        visualizer->checkPermissions();
        expectSignals(log, expected, 10000);
        QCOMPARE(int(requests.withOperation("checkPermissions").size()), 4);
        QTest::qWait(1300);
        QCOMPARE(int(requests.withOperation("checkPermissions").size()), 4);
    } else if (row == QLatin1String("directory failed")) {
        visualizer->getEndpoint(QStringLiteral("demo"));
        expectSignals(log, expected);
    } else if (row == QLatin1String("storage upload refused")) {
        QUrl url(standIn->presignedUrl(QStringLiteral("PUT"), QStringLiteral("reports/1/1/999.pdf")));
        QUrlQuery query(url);
        const auto items = query.queryItems();
        QVERIFY(!items.isEmpty());
        query.removeQueryItem(items.last().first);
        query.addQueryItem(items.last().first, QStringLiteral("0") + items.last().second);
        url.setQuery(query);
        visualizer->putFile(url, QByteArray("x"), QStringLiteral("json"), QStringLiteral("post"));
        expectSignals(log, expected);
    } else if (row.startsWith(QLatin1String("patient list"))) {
        visualizer->listPatients();
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 1, 10000);
        expectSignals(log, expected);
        QVERIFY(requests.requests.front().error != QNetworkReply::NoError);
    } else if (row.startsWith(QLatin1String("session list "))) {
        visualizer->getSessionsJsons(QString::number(session.patientId));
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 1, 10000);
        expectSignals(log, expected);
        QCOMPARE(log["sessionListFailed"].at(0).at(0).toString(), QString::number(session.patientId));
    } else if (row == QLatin1String("session listing unanswered")) {
        visualizer->downloadSession(session.patientId, session.id, true, true, false, QString(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 1, 10000);
        QCOMPARE(requests.requests.front().error, QNetworkReply::OperationCanceledError);
        expectSignals(log, expected);
    } else if (row == QLatin1String("image cut short")) {
        visualizer->downloadSession(session.patientId, session.id, true, false, false, QString(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(log.count("sessionDownloadReply"), 1, 10000);
        const QJsonObject entry = log["sessionDownloadReply"]
                                      .at(0)
                                      .at(2)
                                      .toJsonDocument()
                                      .object()
                                      .value("dermatos")
                                      .toArray()
                                      .first()
                                      .toObject();
        visualizer->downloadImage(session.patientId, session.id, entry.value("name").toString(),
                                  entry.value("url").toString(), QStringLiteral("D"));
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 2, 10000);
        QVERIFY(requests.requests.back().error != QNetworkReply::NoError);
        expectSignals(log, expected);
    } else if (row == QLatin1String("session document not JSON")) {
        // An unreadable document is reported as failed, never delivered as an
        // empty session; the caller still learns that it will not come.
        const SampleData::Patient &one = samplePatient(1);
        visualizer->getSessionsJsons(QString::number(one.id));
        expectSignals(log, expected);
        QCOMPARE(log["sessionDocumentFailed"].at(0).at(0).toString(), QString::number(one.id));
        QCOMPARE(log["sessionDocumentFailed"].at(0).at(1).toString(), QString::number(one.sessions.front()));
    } else if (row == QLatin1String("one document of three failed")) {
        const SampleData::Patient &three = samplePatient(3);
        visualizer->getSessionsJsons(QString::number(three.id));
        expectSignals(log, expected);
        QCOMPARE(log["sessionDocumentsRequested"].at(0).at(1).toInt(), 3);
        QSet<QString> seen;
        for (const QList<QVariant> &arguments : log["recievedSessionJson"])
            seen.insert(arguments.at(2).toString());
        seen.insert(log["sessionDocumentFailed"].at(0).at(1).toString());
        QCOMPARE(seen.size(), 3);
    } else if (row == QLatin1String("API server challenge")) {
        TraceCapture trace;
        visualizer->listPatients();
        expectSignals(log, expected);
        QVERIFY(trace.text().contains(QLatin1String("FALTA AUTENTIFICACIO")));
        QCOMPARE(requests.withOperation("listPatients").front().status, 401);
    } else if (row == QLatin1String("storage challenge")) {
        TraceCapture trace;
        const QUrl url(standIn->presignedUrl(
            QStringLiteral("GET"),
            QStringLiteral("sessions/%1/%2/session.json").arg(session.patientId).arg(session.id)));
        visualizer->downloadImage(session.patientId, session.id, QStringLiteral("session.json"),
                                  url.toString(), QStringLiteral("F"));
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 1, 10000);
        expectSignals(log, expected);
        QVERIFY(trace.text().contains(QLatin1String("FALTA AUTENTIFICACIO")));
        QCOMPARE(requests.requests.front().status, 401);
    } else if (row == QLatin1String("image lookup failed")) {
        const QUrl lookup(api + QStringLiteral("/api/sync/abcdef/manuals/0_1/"));
        visualizer->getRequest(lookup, QStringLiteral("ec2"), QStringLiteral("downloadManualImgSync"));
        // Asked again after a pause, at the same URL.
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.withOperation("downloadManualImgSync").size()), 2, 5000);
        QCOMPARE(requests.requests.at(1).url, lookup);
        expectSignals(log, expected);
    } else if (row == QLatin1String("captured image download failed")) {
        const QString lookup = api + QStringLiteral("/api/sync/abcdef/manuals/0_2/");
        const QUrl storage(standIn->presignedUrl(QStringLiteral("GET"), QStringLiteral("missing/0_2.jpg")));
        visualizer->getRequest(
            storage, QStringLiteral("s3"), QStringLiteral("downloadManual"),
            {{QStringLiteral("filename"), QStringLiteral("0_2")}, {QStringLiteral("ec2url"), lookup}});
        // A fresh storage URL is asked of the API server.
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.withOperation("downloadManualImgSync").size()), 1, 5000);
        QCOMPARE(requests.withOperation("downloadManualImgSync").front().url, QUrl(lookup));
        expectSignals(log, expected);
    } else {
        QFAIL("row without trigger");
    }
}

void tst_ServerVisualizer::cancelSignals_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<bool>("aborted");

    struct Kind
    {
        const char *name;
        bool byCancelDownload, byListCancel, byStorageAbort;
    };
    const Kind kinds[] = {
        {"GET ec2", true, false, false},
        {"GET s3", true, false, false},
        {"DELETE", true, false, false},
        {"POST builder", true, false, false},
        {"PUT builder", true, false, false},
        {"listPatients", true, true, false},
        {"listPatientsSearch", true, true, false},
        {"putFile", false, false, true},
        {"putFile of a report", false, false, false},
        {"registerPatient", false, false, false},
        {"login", false, false, false},
        {"mfa", false, false, false},
    };
    for (const Kind &kind : kinds) {
        QTest::addRow("%s by cancelDownload", kind.name)
            << kind.name << "cancelDownload" << kind.byCancelDownload;
        QTest::addRow("%s by cancelDownloadListPatients", kind.name)
            << kind.name << "cancelDownloadListPatients" << kind.byListCancel;
        QTest::addRow("%s by abortPostS3", kind.name) << kind.name << "abortPostS3" << kind.byStorageAbort;
    }
}

void tst_ServerVisualizer::cancelSignals()
{
    QFETCH(QString, request);
    QFETCH(QString, signal);
    QFETCH(bool, aborted);

    const QString api = standIn->baseUrl();
    client->setTransferTimeouts(20000, 20000);
    for (const QString &group : DemoFaults::groups()) {
        DemoFaults::Fault hang;
        hang.hang = true;
        standIn->setFault(group, hang);
    }
    RequestLog requests(client.get());
    QNetworkRequest json(QUrl(api + QStringLiteral("/api/sync/")));
    json.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));

    if (request == QLatin1String("GET ec2"))
        client->getRequest(QUrl(api + QStringLiteral("/api/me/")), QStringLiteral("ec2"),
                           QStringLiteral("probe"));
    else if (request == QLatin1String("GET s3"))
        client->getRequest(QUrl(standIn->presignedUrl(QStringLiteral("GET"), QStringLiteral("a.jpg"))),
                           QStringLiteral("s3"), QStringLiteral("probe"));
    else if (request == QLatin1String("DELETE"))
        client->deleteRequest(QUrl(api + QStringLiteral("/api/sync/abc/manuals/cancel/")),
                              QStringLiteral("ec2"), QStringLiteral("probe"));
    else if (request == QLatin1String("POST builder"))
        client->postRequest(json, QByteArray("{}"), QStringLiteral("ec2"), QStringLiteral("probe"));
    else if (request == QLatin1String("PUT builder"))
        client->putRequest(QNetworkRequest(QUrl(api + QStringLiteral("/api/sync/abc/manuals/0_1/retake/"))),
                           QByteArray(), QStringLiteral("ec2"), QStringLiteral("probe"));
    else if (request == QLatin1String("listPatients"))
        client->listPatients();
    else if (request == QLatin1String("listPatientsSearch"))
        client->listPatientsSearch(QStringLiteral("KV"));
    else if (request == QLatin1String("putFile"))
        client->putFile(QUrl(standIn->presignedUrl(QStringLiteral("PUT"), QStringLiteral("a.pdf"))),
                        QByteArray("x"), QStringLiteral("big"), QStringLiteral("post"));
    else if (request == QLatin1String("putFile of a report"))
        client->putFile(QUrl(standIn->presignedUrl(QStringLiteral("PUT"), QStringLiteral("a.pdf"))),
                        QByteArray("x"), QStringLiteral("report"), QStringLiteral("uploadReport"));
    else if (request == QLatin1String("registerPatient"))
        client->registerPatient(QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                                QStringLiteral("d@e.fg"));
    else if (request == QLatin1String("login"))
        client->login(QStringLiteral("doctor"), DemoServer::password());
    else if (request == QLatin1String("mfa"))
        client->verifyTOTP(QStringLiteral("123456"));
    else
        QFAIL("row without request");

    // Let the request reach the server, where it hangs.
    QTest::qWait(200);
    QVERIFY(requests.requests.empty());
    const QByteArray signature = QMetaObject::normalizedSignature(qPrintable(signal + QStringLiteral("()")));
    const int index = client->metaObject()->indexOfSignal(signature.constData());
    QVERIFY(index >= 0);
    client->metaObject()->method(index).invoke(client.get(), Qt::DirectConnection);

    if (aborted) {
        QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 1, 3000);
        QCOMPARE(requests.requests.front().error, QNetworkReply::OperationCanceledError);
    } else {
        QTest::qWait(300);
        QVERIFY(requests.requests.empty());
    }
}

// --- patients ------------------------------------------------------------------------------

void tst_ServerVisualizer::patientList()
{
    SignalLog log(chief.get());
    chief->listPatients();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("newPatients"), 1, 10000);
    const auto patients = log["newPatients"].at(0).at(0).value<std::unordered_map<std::string, Patient>>();

    int withoutDate = 0;
    for (const SampleData::Patient &sample : SampleData::instance().patients) {
        const auto it = patients.find(std::to_string(sample.id));
        QVERIFY2(it != patients.end(), qPrintable(sample.centerId));
        const Patient &patient = it->second;
        QCOMPARE(QString::fromStdString(patient.centerID), sample.centerId);
        QCOMPARE(QString::fromStdString(patient.clinicIdentifier), sample.centerId);
        QCOMPARE(QString::fromStdString(patient.name), sample.name() + sample.tag);
        const QDate expected = QDate::fromString(sample.birthdate, QStringLiteral("yyyy-MM-dd"));
        QCOMPARE(patient.birthdate, expected);
        withoutDate += patient.birthdate.isNull() ? 1 : 0;
    }
    // The sample data has a patient without birth date and one with an impossible one.
    QVERIFY(withoutDate >= 2);
}

void tst_ServerVisualizer::search_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("centers");

    QTest::newRow("plus sign") << "Wesson+Co"
                               << "KV-ENC-1";
    QTest::newRow("ampersand") << "& Wesson"
                               << "KV-ENC-1";
    QTest::newRow("hash") << "#7"
                          << "KV-ENC-1";
    QTest::newRow("percent") << "100%"
                             << "KV-ENC-1";
    QTest::newRow("all of them") << encodedLastName << "KV-ENC-1";
    QTest::newRow("clinic identifier") << samplePatient(5).centerId << samplePatient(5).centerId;
    QTest::newRow("non-ASCII") << QString::fromUtf8("sgård")
                               << patientNamed(QString::fromUtf8("Åsgård")).centerId;
    QTest::newRow("nothing found") << "zz-no-such-patient"
                                   << "";
}

void tst_ServerVisualizer::search()
{
    QFETCH(QString, text);
    QFETCH(QString, centers);

    RequestLog requests(chief.get());
    SignalLog log(chief.get());
    chief->listPatientsSearch(text);
    QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 1, 10000);
    QCOMPARE(requests.requests.front().error, QNetworkReply::NoError);
    if (centers.isEmpty()) {
        // Nothing found emits nothing: the caller keeps its list.
        expectSignals(log, QString());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(log.count("newPatients"), 1, 5000);
    QStringList found;
    for (const auto &[id, patient] :
         log["newPatients"].at(0).at(0).value<std::unordered_map<std::string, Patient>>())
        found << QString::fromStdString(patient.centerID);
    found.sort();
    QCOMPARE(found.join(QLatin1Char(',')), centers);
}

// --- session download ------------------------------------------------------------------------

void tst_ServerVisualizer::sessionDocuments_data()
{
    QTest::addColumn<int>("patientId");
    for (const SampleData::Patient &p : SampleData::instance().patients)
        QTest::addRow("%s, %d sessions", qPrintable(p.centerId), int(p.sessions.size())) << p.id;
}

void tst_ServerVisualizer::sessionDocuments()
{
    QFETCH(int, patientId);
    const SampleData::Patient *patient = SampleData::instance().patient(patientId);
    QVERIFY(patient);
    std::map<QString, const SampleData::Session *> expected;
    for (int id : patient->sessions) {
        const SampleData::Session *s = SampleData::instance().session(id);
        if (s->hasDocument)
            expected[QString::number(id)] = s;
    }

    RequestLog requests(chief.get());
    SignalLog log(chief.get());
    chief->getSessionsJsons(QString::number(patientId));
    QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), int(expected.size()) + 1, 15000);
    expectSignals(log, expected.empty() ? QStringLiteral("sessionDocumentsRequested:1")
                                        : QStringLiteral("recievedSessionJson:%1 sessionDocumentsRequested:1")
                                              .arg(expected.size()));
    QCOMPARE(log["sessionDocumentsRequested"].at(0).at(0).toString(), QString::number(patientId));
    QCOMPARE(log["sessionDocumentsRequested"].at(0).at(1).toInt(), int(expected.size()));

    QSet<QString> delivered;
    for (const QList<QVariant> &arguments : log["recievedSessionJson"]) {
        const QString sessionId = arguments.at(2).toString();
        QVERIFY2(expected.count(sessionId), qPrintable(sessionId));
        const SampleData::Session *s = expected.at(sessionId);
        QCOMPARE(arguments.at(0).toJsonDocument().object(), s->document);
        QCOMPARE(arguments.at(1).toString(), QString::number(patientId));
        QCOMPARE(arguments.at(3).toDateTime(), s->date);
        QCOMPARE(arguments.at(4).toInt(), int(expected.size()));
        delivered.insert(sessionId);
    }
    QCOMPARE(int(delivered.size()), int(expected.size()));
}

void tst_ServerVisualizer::downloadSessionPaths_data()
{
    QTest::addColumn<bool>("dermatoscopic");
    QTest::addColumn<bool>("clinical");
    QTest::addColumn<bool>("silently");
    QTest::addColumn<QString>("filename");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QString>("suffix"); // "-" when nothing is sent

    const SampleData::Session &s = documentedSession();
    const QString image = s.images.front().name;
    const QString dermato = s.dermatoscopic.front().id;
    QTest::newRow("whole session") << true << true << false << QString() << 0 << "";
    QTest::newRow("whole session, file ignored") << true << true << true << image << 1 << "";
    QTest::newRow("dermatoscopic") << true << false << true << QString() << 0 << "dermatoscopic/";
    QTest::newRow("clinical") << false << true << false << QString() << 1 << "clinical/";
    QTest::newRow("one dermatoscopic image")
        << true << false << true << dermato << 0 << "dermatoscopic/" + dermato;
    QTest::newRow("one clinical image, high quality")
        << false << true << true << image << 1 << "clinical/" + image + "?quality=h";
    QTest::newRow("one clinical image, other quality")
        << false << true << true << image << -3 << "clinical/" + image;
    QTest::newRow("name with reserved characters")
        << false << true << true << "a/b?c#d" << 1 << "clinical/a%2Fb%3Fc%23d?quality=h";
    QTest::newRow("neither") << false << false << true << image << 1 << "-";
}

void tst_ServerVisualizer::downloadSessionPaths()
{
    QFETCH(bool, dermatoscopic);
    QFETCH(bool, clinical);
    QFETCH(bool, silently);
    QFETCH(QString, filename);
    QFETCH(int, quality);
    QFETCH(QString, suffix);

    const SampleData::Session &s = documentedSession();
    RequestLog requests(chief.get());
    SignalLog log(chief.get());
    chief->downloadSession(s.patientId, s.id, dermatoscopic, clinical, silently, filename, quality);
    if (suffix == QLatin1String("-")) {
        QTest::qWait(300);
        QVERIFY(requests.requests.empty());
        QCOMPARE(log.emitted(), QString());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 1, 10000);
    const QString prefix =
        standIn->baseUrl() + QStringLiteral("/api/patients/%1/sessions/%2/").arg(s.patientId).arg(s.id);
    QCOMPARE(requests.requests.front().url.toString(QUrl::FullyEncoded), prefix + suffix);
    if (requests.requests.front().error != QNetworkReply::NoError) {
        // The server knows no image of that name: nothing is delivered.
        expectSignals(log, QString());
        return;
    }
    expectSignals(log, QStringLiteral("sessionDownloadReply:1"));
    const QList<QVariant> reply = log["sessionDownloadReply"].at(0);
    QCOMPARE(reply.at(0).toInt(), s.patientId);
    QCOMPARE(reply.at(1).toInt(), s.id);
    QVERIFY(reply.at(2).toJsonDocument().isObject());
    QCOMPARE(reply.at(3).toBool(), silently);
}

void tst_ServerVisualizer::imageDownload_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("urlFileName"); // name the image by its URL's file name
    QTest::addColumn<QString>("nameEnding");
    QTest::addColumn<int>("quality");   // the code imgDownloadDone carries
    QTest::addColumn<bool>("withoutL"); // the "l" before ".jpg" is taken out of the name

    QTest::newRow("clinical image") << "generals"
                                    << "C" << false << ".jpg" << 1 << false;
    QTest::newRow("clinical image named by its stored file") << "generals"
                                                             << "F" << true << "l.jpg" << 0 << true;
    QTest::newRow("dermatoscopic image") << "dermatos"
                                         << "D" << false << ".jpg" << 1 << false;
    QTest::newRow("dermatoscopic thumbnail") << "dermatos"
                                             << "D" << false << "s.jpg" << -2 << false;
}

void tst_ServerVisualizer::imageDownload()
{
    QFETCH(QString, list);
    QFETCH(QString, type);
    QFETCH(bool, urlFileName);
    QFETCH(QString, nameEnding);
    QFETCH(int, quality);
    QFETCH(bool, withoutL);

    const SampleData::Session &s = documentedSession();
    SignalLog log(chief.get());
    chief->downloadSession(s.patientId, s.id, true, true, true, QString(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(log.count("sessionDownloadReply"), 1, 10000);
    const QJsonArray entries =
        log["sessionDownloadReply"].at(0).at(2).toJsonDocument().object().value(list).toArray();
    QJsonObject entry;
    for (const QJsonValue &e : entries) {
        const QString name = e["name"].toString();
        const bool thumbnail = name.endsWith(QLatin1String("s.jpg"));
        if (thumbnail == (nameEnding == QLatin1String("s.jpg")) && !name.endsWith(QLatin1String("l.jpg"))) {
            entry = e.toObject();
            break;
        }
    }
    QVERIFY(!entry.isEmpty());
    const QUrl url(entry.value("url").toString());
    const QString name = urlFileName ? url.fileName() : entry.value("name").toString();

    chief->downloadImage(s.patientId, s.id, name, url.toString(), type);
    QTRY_COMPARE_WITH_TIMEOUT(log.count("imgDownloadDone"), 1, 10000);
    const QList<QVariant> done = log["imgDownloadDone"].at(0);
    QVERIFY2(name.endsWith(nameEnding), qPrintable(name));
    // "20240307_01l.jpg" is delivered as "20240307_01.jpg"; other names as they are.
    const QString delivered = withoutL ? name.chopped(5) + QStringLiteral(".jpg") : name;
    QCOMPARE(done.at(0).toInt(), s.patientId);
    QCOMPARE(done.at(1).toInt(), s.id);
    QCOMPARE(done.at(2).toString(), delivered);
    QCOMPARE(done.at(3).toByteArray(), standIn->storedObject(storageObject(url)));
    QVERIFY(done.at(3).toByteArray().startsWith("\xFF\xD8"));
    QCOMPARE(done.at(4).toString(), type);
    QCOMPARE(done.at(5).toInt(), quality);
}

// --- timers and logout ---------------------------------------------------------------------------

void tst_ServerVisualizer::inactivityTimer()
{
    const SampleData::Session &s = documentedSession();
    client->setInactivityInterval(1500);
    RequestLog requests(client.get());
    SignalLog log(client.get());
    QVERIFY(logIn(*client, *standIn.server, QStringLiteral("doctor")));
    QTest::qWait(900);
    // Sends nothing, yet counts as activity.
    client->downloadSession(s.patientId, s.id, false, false, false, QString(), 0);
    QTest::qWait(900);
    QCOMPARE(log.count("serverTimeout"), 0);
    QTRY_COMPARE_WITH_TIMEOUT(log.count("serverTimeout"), 1, 3000);
    QVERIFY(requests.withOperation("downloadSession").empty());

    // After a logout nothing of the old login times out, and the token is gone.
    log["serverTimeout"].clear();
    QVERIFY(logIn(*client, *standIn.server, QStringLiteral("doctor")));
    client->clearSession();
    QTest::qWait(2000);
    QCOMPARE(log.count("serverTimeout"), 0);
    client->checkPermissions();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("serverTimeout"), 1, 5000);
    QCOMPARE(requests.withOperation("checkPermissions").back().status, 403);
}

// --- trace lines ---------------------------------------------------------------------------------

namespace {
QStringList capturedMessages;
void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    capturedMessages << message;
}
} // namespace

void tst_ServerVisualizer::traceHasNoSecrets()
{
    const QString account = QStringLiteral("doctor.totp");
    const SampleData::Patient &five = samplePatient(5);
    const SampleData::Session &s = documentedSession();
    RequestLog requests(client.get());
    SignalLog log(client.get());
    QStringList secrets;
    capturedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    QString output;
    QString code;
    {
        TraceCapture trace;
        client->getEndpoint(QStringLiteral("demo"));
        client->login(account, DemoServer::password());
        QTRY_COMPARE_WITH_TIMEOUT(log.count("totpNeeded"), 1, 20000);
        code = standIn->freshTotpCode(account);
        client->verifyTOTP(wrongCode(code));
        QTRY_COMPARE_WITH_TIMEOUT(log.count("codeTOTPincorrect"), 1, 10000);
        client->verifyTOTP(code);
        QTRY_COMPARE_WITH_TIMEOUT(log.count("loginCorrect"), 1, 10000);
        client->checkPermissions();
        client->listPatients();
        client->listPatientsSearch(five.lastName);
        client->getSessionsJsons(QString::number(five.id));
        client->downloadSession(s.patientId, s.id, true, true, false, QString(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(log.count("sessionDownloadReply"), 1, 10000);
        const QJsonObject listing = log["sessionDownloadReply"].at(0).at(2).toJsonDocument().object();
        int images = 0;
        for (const QString &key : {QStringLiteral("dermatos"), QStringLiteral("generals")})
            for (const QJsonValue &e : listing.value(key).toArray()) {
                client->downloadImage(s.patientId, s.id, e["name"].toString(), e["url"].toString(),
                                      QStringLiteral("C"));
                ++images;
            }
        client->registerPatient(QStringLiteral("Secret"), QStringLiteral("Person"),
                                QStringLiteral("KV-SECRET"), QStringLiteral("secret@example.org"));
        QTRY_COMPARE_WITH_TIMEOUT(log.count("imgDownloadDone"), images, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(log.count("registeredPatientIncorrectly"), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(log.count("newPatients"), 2, 10000);

        // A storage request that fails (its signature no longer matches), and
        // a registration that succeeds, by a patient administrator.
        const QJsonValue first = listing.value(QStringLiteral("generals")).toArray().first();
        QUrl tampered(first["url"].toString());
        QUrlQuery query(tampered);
        const QString signature = query.queryItemValue(QStringLiteral("signature"));
        QVERIFY(!signature.isEmpty());
        query.removeQueryItem(QStringLiteral("signature"));
        query.addQueryItem(
            QStringLiteral("signature"),
            QString(signature).replace(
                0, 1, signature.at(0) == QLatin1Char('0') ? QStringLiteral("1") : QStringLiteral("0")));
        tampered.setQuery(query);
        secrets << signature << query.queryItemValue(QStringLiteral("signature"));
        client->downloadImage(s.patientId, s.id, first["name"].toString(), tampered.toString(),
                              QStringLiteral("C"));
        QTRY_VERIFY_WITH_TIMEOUT(
            trace.text().contains(QLatin1String("ERROR SERVER s3 OPERATION downloadImage")), 10000);
        SignalLog chiefLog(chief.get());
        chief->registerPatient(QStringLiteral("Secret"), QStringLiteral("Registered"),
                               QStringLiteral("KV-SECRET-2"), QStringLiteral("registered@example.org"));
        QTRY_COMPARE_WITH_TIMEOUT(chiefLog.count("registeredPatientCorrectly"), 1, 10000);
        output = trace.text();
    }
    qInstallMessageHandler(previous);
    output += capturedMessages.join(QLatin1Char('\n'));

    // The capture did see the client's trace.
    QVERIFY(output.contains(QLatin1String("DINS ec2 listPatients")));
    QVERIFY(output.contains(QLatin1String("GET: ")));

    secrets << DemoServer::password() << code << wrongCode(code);
    for (const SentRequest &sent : requests.requests) {
        const QByteArray token = sent.request.rawHeader("X-Session-Token");
        if (!token.isEmpty())
            secrets << QString::fromUtf8(token);
        if (sent.server == QLatin1String("s3") && sent.url.hasQuery()) {
            secrets << sent.url.query(QUrl::FullyEncoded) << sent.url.query(QUrl::FullyDecoded);
            for (const auto &item : QUrlQuery(sent.url).queryItems(QUrl::FullyEncoded))
                secrets << item.second;
        }
    }
    for (const SampleData::Patient &p : SampleData::instance().patients) {
        secrets << p.name() << p.name() + p.tag;
        if (!p.birthdate.isEmpty())
            secrets << p.birthdate << QString(p.birthdate).remove(QLatin1Char('-'));
    }
    secrets << QStringLiteral("Secret Person") << QStringLiteral("secret@example.org")
            << QStringLiteral("Secret Registered") << QStringLiteral("Registered")
            << QStringLiteral("registered@example.org");
    secrets.removeAll(QString());
    secrets.removeDuplicates();
    QVERIFY(secrets.size() > 10);
    for (const QString &secret : secrets) {
        QVERIFY2(!output.contains(secret),
                 qPrintable(QStringLiteral("trace carries a secret of length %1").arg(secret.size())));
    }
}

QTEST_GUILESS_MAIN(tst_ServerVisualizer)
#include "tst_servervisualizer.moc"
