#include "DemoTestSupport.h"

#include "demo-server/SampleData.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSignalSpy>

class tst_DemoFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void failNextPerGroup_data();
    void failNextPerGroup();
    void latency();
    void hang();
    void truncate();
    void notJson();
    void redirect();
    void targetsWithoutFields();
    void shares_data();
    void shares();
    void historyKeepsEveryVersion();
    void faultsOverHttp_data();
    void faultsOverHttp();
    void commandLineFaults_data();
    void commandLineFaults();
    void faultsFromOptions();
    void otherControls();
    void controlsNeedTheOption_data();
    void controlsNeedTheOption();

private:
    HttpResult requestOf(const QString &group);
    // Sets the fault, then for each of n requests of the patients group
    // whether the fault hit it ('x') or not ('.').
    QString failurePattern(const QString &faultText, int n);
    std::unique_ptr<TestServer> server;
    std::unique_ptr<TestServer> withoutControls;
    TestClient client;
    int session = 0;
};

void tst_DemoFaults::initTestCase()
{
    server = std::make_unique<TestServer>();
    QVERIFY2(server->started, qPrintable(server->server->errorString()));
    client.token = loginToken(client, *server);
    session = SampleData::instance().patient(11)->sessions.back();
}

void tst_DemoFaults::cleanup()
{
    server->server->clearFaults();
}

// One request of each endpoint group.
HttpResult tst_DemoFaults::requestOf(const QString &group)
{
    if (group == QLatin1String("directory"))
        return client.get(server->url(QStringLiteral("/api/server/demo/")), false);
    if (group == QLatin1String("auth"))
        return client.postJson(server->url(QStringLiteral("/api-auth/app/v1/auth/login")),
                               {{QStringLiteral("username"), QStringLiteral("doctor")},
                                {QStringLiteral("password"), DemoServer::password()}},
                               false);
    if (group == QLatin1String("patients"))
        return client.get(server->url(QStringLiteral("/api/me/")));
    if (group == QLatin1String("sessions"))
        return client.get(server->url(QStringLiteral("/api/patients/11/json/")));
    if (group == QLatin1String("storage-get"))
        return client.get(
            server->server->presignedUrl(QStringLiteral("GET"),
                                         QStringLiteral("sessions/11/%1/session.json").arg(session)),
            false);
    if (group == QLatin1String("assign"))
        return client.postJson(
            server->url(QStringLiteral("/api/patients/11/sessions/%1/assign_external/").arg(session)),
            {{QStringLiteral("filename"), QString()}, {QStringLiteral("type"), QStringLiteral("L")}});
    if (group == QLatin1String("sync"))
        return client.postJson(server->url(QStringLiteral("/api/sync/")),
                               {{QStringLiteral("session"), session}});
    if (group == QLatin1String("reports"))
        return client.get(server->url(QStringLiteral("/api/me/reportTemplate/")));
    return {};
}

void tst_DemoFaults::failNextPerGroup_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("status");
    for (const QString &group : DemoFaults::groups()) {
        if (group != QLatin1String("storage-put"))
            QTest::newRow(qPrintable(group)) << group << (group == QLatin1String("auth") ? 500 : 503);
    }
    QTest::newRow("storage-put") << "storage-put" << 502;
}

void tst_DemoFaults::failNextPerGroup()
{
    QFETCH(QString, group);
    QFETCH(int, status);
    QString target;
    if (group == QLatin1String("storage-put")) {
        target = requestOf(QStringLiteral("assign"))
                     .object()
                     .value(QStringLiteral("json"))
                     .toObject()
                     .value(QStringLiteral("url"))
                     .toString();
        QVERIFY(!target.isEmpty());
    }
    auto send = [&] {
        return group == QLatin1String("storage-put")
                   ? client.put(target,
                                QJsonDocument(SampleData::instance().session(session)->document).toJson())
                   : requestOf(group);
    };
    const HttpResult normal = send();
    QVERIFY(normal.status >= 200 && normal.status < 300);
    DemoFaults::Fault fault;
    fault.failNext = 2;
    fault.failStatus = status;
    server->server->setFault(group, fault);
    // Another group is not touched.
    const QString other =
        group == QLatin1String("directory") ? QStringLiteral("sessions") : QStringLiteral("directory");
    QCOMPARE(requestOf(other).status, 200);
    for (int i = 0; i < 2; ++i) {
        const HttpResult failed = send();
        QCOMPARE(failed.status, status);
        QCOMPARE(failed.errorCode(), QStringLiteral("injected_fault"));
    }
    const HttpResult again = send();
    QVERIFY(again.status >= 200 && again.status < 300);
    QVERIFY(server->server->fault(group).isEmpty());
}

void tst_DemoFaults::latency()
{
    DemoFaults::Fault fault;
    fault.latencyMs = 400;
    server->server->setFault(QStringLiteral("patients"), fault);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(requestOf(QStringLiteral("patients")).status, 200);
    QVERIFY(timer.elapsed() >= 400);
}

void tst_DemoFaults::hang()
{
    DemoFaults::Fault fault;
    fault.hang = true;
    server->server->setFault(QStringLiteral("sessions"), fault);
    QSignalSpy finished(server->server.get(), &DemoServer::requestFinished);
    client.timeoutMs = 700;
    const HttpResult r = requestOf(QStringLiteral("sessions"));
    client.timeoutMs = 20000;
    QVERIFY(r.timedOut);
    QCOMPARE(r.status, 0);
    // The client gave up: the hung exchange is let go (status 0) without
    // waiting for another request to hang.
    QTRY_COMPARE_WITH_TIMEOUT(int(finished.size()), 1, 10000);
    QCOMPARE(finished.at(0).at(0).toString(), QStringLiteral("GET"));
    QCOMPARE(finished.at(0).at(1).toString(), QStringLiteral("/api/patients/11/json/"));
    QCOMPARE(finished.at(0).at(2).toInt(), 0);
    server->server->clearFaults();
    QCOMPARE(requestOf(QStringLiteral("sessions")).status, 200);
}

void tst_DemoFaults::truncate()
{
    const QByteArray whole = requestOf(QStringLiteral("storage-get")).body;
    QVERIFY(whole.size() > 100);
    DemoFaults::Fault fault;
    fault.truncate = true;
    server->server->setFault(QStringLiteral("storage-get"), fault);
    const HttpResult cut = requestOf(QStringLiteral("storage-get"));
    QVERIFY(cut.error != QNetworkReply::NoError);
    QVERIFY(cut.body.size() < whole.size());
}

void tst_DemoFaults::notJson()
{
    DemoFaults::Fault fault;
    fault.notJson = true;
    server->server->setFault(QStringLiteral("patients"), fault);
    const HttpResult r = requestOf(QStringLiteral("patients"));
    QCOMPARE(r.status, 200);
    QVERIFY(!r.body.isEmpty());
    QJsonParseError error;
    QJsonDocument::fromJson(r.body, &error);
    QVERIFY(error.error != QJsonParseError::NoError);
}

void tst_DemoFaults::redirect()
{
    QString group, error;
    DemoFaults::Fault fault;
    QVERIFY(DemoFaults::parseFault(QStringLiteral("storage-get:redirect"), &group, &fault, &error));
    server->server->setFault(group, fault);
    // Sent as written: the client library would follow the redirect.
    const QUrl url(server->server->presignedUrl(QStringLiteral("GET"),
                                                QStringLiteral("sessions/11/%1/session.json").arg(session)));
    const HttpResult r = rawRequest(server->server->port(), "GET",
                                    url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toLatin1());
    QCOMPARE(r.status, 302);
    QCOMPARE(r.header("Location"), (server->server->baseUrl() + QStringLiteral("/moved")).toLatin1());
    QVERIFY(r.header("Content-Type").startsWith("text/html"));
    server->server->clearFaults();
    QCOMPARE(requestOf(QStringLiteral("storage-get")).status, 200);
}

void tst_DemoFaults::targetsWithoutFields()
{
    DemoFaults::Fault fault;
    fault.noFields = true;
    server->server->setFault(QStringLiteral("assign"), fault);
    server->server->setFault(QStringLiteral("reports"), fault);
    const HttpResult assign = client.postJson(
        server->url(QStringLiteral("/api/patients/11/sessions/%1/assign_external/").arg(session)),
        {{QStringLiteral("filename"), QStringLiteral("x.jpg")},
         {QStringLiteral("type"), QStringLiteral("D")}});
    QCOMPARE(assign.status, 201);
    for (const char *key : {"json", "file"}) {
        const QJsonObject target = assign.object().value(QLatin1String(key)).toObject();
        QVERIFY(target.contains(QStringLiteral("url")));
        QVERIFY(!target.contains(QStringLiteral("fields")));
    }
    const HttpResult report = client.post(
        server->url(QStringLiteral("/api/patients/11/sessions/%1/reports/").arg(session)), QByteArray());
    QCOMPARE(report.status, 201);
    QVERIFY(!report.object().value(QStringLiteral("url")).toObject().contains(QStringLiteral("fields")));
    server->server->clearFaults();
    QVERIFY(requestOf(QStringLiteral("assign"))
                .object()
                .value(QStringLiteral("json"))
                .toObject()
                .contains(QStringLiteral("fields")));
}

QString tst_DemoFaults::failurePattern(const QString &faultText, int n)
{
    QString group, error;
    DemoFaults::Fault fault;
    if (!DemoFaults::parseFault(faultText, &group, &fault, &error))
        qFatal("%s", qPrintable(error));
    server->server->setFault(group, fault);
    QString pattern;
    for (int i = 0; i < n; ++i) {
        const HttpResult r = requestOf(QStringLiteral("patients"));
        pattern += r.status == 503 || r.header("Content-Type").startsWith("text/html") ? 'x' : '.';
    }
    return pattern;
}

void tst_DemoFaults::shares_data()
{
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<QString>("otherSeed");
    QTest::addColumn<int>("least"); // about three standard deviations around n x share
    QTest::addColumn<int>("most");
    QTest::newRow("failRate") << "patients:failRate=0.5,seed=7"
                              << "patients:failRate=0.5,seed=8" << 15 << 45;
    QTest::newRow("rate of notJson") << "patients:notJson,rate=0.25,seed=3"
                                     << "patients:notJson,rate=0.25,seed=4" << 4 << 26;
}

// A share of the requests is hit, drawn from the group's seeded generator:
// setting the same seed again draws the same requests, another seed others.
void tst_DemoFaults::shares()
{
    QFETCH(QString, faultText);
    QFETCH(QString, otherSeed);
    QFETCH(int, least);
    QFETCH(int, most);
    const QString first = failurePattern(faultText, 60);
    const qsizetype hit = first.count(QLatin1Char('x'));
    QVERIFY2(hit >= least && hit <= most, qPrintable(first));
    QCOMPARE(failurePattern(faultText, 60), first);
    QVERIFY(failurePattern(otherSeed, 60) != first);
}

// Every accepted version in order, several within one millisecond too, over
// the controls as well; a refused upload is none. With afterStore the
// document is stored although its acknowledgement is a failure.
void tst_DemoFaults::historyKeepsEveryVersion()
{
    const int other = SampleData::instance().patient(11)->sessions.front();
    const QString object = QStringLiteral("sessions/11/%1/session.json").arg(other);
    const QString target =
        client
            .postJson(server->url(QStringLiteral("/api/patients/11/sessions/%1/assign_external/").arg(other)),
                      {{"filename", QString()}, {"type", "L"}})
            .object()
            .value("json")
            .toObject()
            .value("url")
            .toString();
    const QList<QByteArray> versions = {"{\"v\": 1}", "{\"v\": 2}", "{\"v\": 2}", "{\"v\": 4}", "{\"v\": 5}"};
    for (const QByteArray &version : versions.mid(0, 4))
        QCOMPARE(client.put(target, version).status, 200);
    QCOMPARE(client.put(target, "not json").status, 400);
    DemoFaults::Fault lostAcknowledgement;
    lostAcknowledgement.failNext = 1;
    lostAcknowledgement.afterStore = true;
    server->server->setFault(QStringLiteral("storage-put"), lostAcknowledgement);
    QCOMPARE(client.put(target, versions.last()).status, 503);
    QCOMPARE(server->server->storedObject(object), versions.last());
    QCOMPARE(server->server->storedHistory(object), versions);

    const HttpResult r = TestClient().get(server->url(QStringLiteral("/control/history/") + object), false);
    QList<QByteArray> listed;
    for (const QJsonValue &v : r.object().value("versions").toArray())
        listed << QByteArray::fromBase64(v.toObject().value("base64").toString().toLatin1());
    QCOMPARE(listed, versions);
}

void tst_DemoFaults::faultsOverHttp_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("by body") << "/control/faults"
                             << QJsonObject{{QStringLiteral("group"), QStringLiteral("patients")},
                                            {QStringLiteral("failNext"), 1},
                                            {QStringLiteral("failStatus"), 500}}
                             << 200;
    QTest::newRow("by path") << "/control/faults/patients"
                             << QJsonObject{{QStringLiteral("failNext"), 1},
                                            {QStringLiteral("failStatus"), 500}}
                             << 200;
    QTest::newRow("unknown group") << "/control/faults"
                                   << QJsonObject{{QStringLiteral("group"), QStringLiteral("cache")},
                                                  {QStringLiteral("failNext"), 1}}
                                   << 400;
    QTest::newRow("unknown setting") << "/control/faults/patients"
                                     << QJsonObject{{QStringLiteral("explode"), true}} << 400;
    QTest::newRow("not an error status")
        << "/control/faults/patients"
        << QJsonObject{{QStringLiteral("failNext"), 1}, {QStringLiteral("failStatus"), 200}} << 400;
    QTest::newRow("status the server cannot write")
        << "/control/faults/patients"
        << QJsonObject{{QStringLiteral("failNext"), 1}, {QStringLiteral("failStatus"), 599}} << 400;
    QTest::newRow("negative latency")
        << "/control/faults/patients" << QJsonObject{{QStringLiteral("latencyMs"), -5}} << 400;
}

void tst_DemoFaults::faultsOverHttp()
{
    QFETCH(QString, path);
    QFETCH(QJsonObject, body);
    QFETCH(int, status);
    TestClient control;
    const HttpResult r = control.postJson(server->url(path), body, false);
    QCOMPARE(r.status, status);
    const HttpResult me = requestOf(QStringLiteral("patients"));
    if (status == 200) {
        QCOMPARE(me.status, body.value(QStringLiteral("failStatus")).toInt());
        QCOMPARE(control.get(server->url(QStringLiteral("/control/faults")), false).object().size(), 0);
    } else {
        QCOMPARE(me.status, 200);
    }
    // Setting and clearing.
    control.postJson(server->url(QStringLiteral("/control/faults/sessions")),
                     {{QStringLiteral("latencyMs"), 10}}, false);
    QCOMPARE(control.get(server->url(QStringLiteral("/control/faults")), false)
                 .object()
                 .value(QStringLiteral("sessions"))
                 .toObject()
                 .value(QStringLiteral("latencyMs"))
                 .toInt(),
             10);
    QCOMPARE(control.del(server->url(QStringLiteral("/control/faults"))).status, 200);
    QVERIFY(server->server->fault(QStringLiteral("sessions")).isEmpty());
}

void tst_DemoFaults::commandLineFaults_data()
{
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QJsonObject>("fault");
    auto f = [](int latency, int failNext, int status, bool hang, bool truncate, bool notJson,
                bool noFields) {
        DemoFaults::Fault x;
        x.latencyMs = latency;
        x.failNext = failNext;
        x.failStatus = status;
        x.hang = hang;
        x.truncate = truncate;
        x.notJson = notJson;
        x.noFields = noFields;
        return x.toJson();
    };
    QTest::newRow("latency") << "storage-get:latency=400" << true << "storage-get"
                             << f(400, 0, 503, false, false, false, false);
    QTest::newRow("failures with status")
        << "assign:fail=2,status=500" << true << "assign" << f(0, 2, 500, false, false, false, false);
    QTest::newRow("one failure") << "sync:fail" << true << "sync" << f(0, 1, 503, false, false, false, false);
    QTest::newRow("flags") << "reports:noFields,notJson" << true << "reports"
                           << f(0, 0, 503, false, false, true, true);
    QTest::newRow("hang") << "sessions:hang" << true << "sessions" << f(0, 0, 503, true, false, false, false);
    {
        DemoFaults::Fault x;
        x.failRate = 0.3;
        x.seed = 9;
        x.afterStore = true;
        QTest::newRow("failRate, seed, afterStore")
            << "storage-put:failRate=0.3,seed=9,afterStore" << true << "storage-put" << x.toJson();
        DemoFaults::Fault y;
        y.noFields = true;
        y.rate = 0.1;
        QTest::newRow("rate") << "assign:noFields,rate=0.1" << true << "assign" << y.toJson();
    }
    QTest::newRow("share above 1") << "storage-put:failRate=1.5" << false << "" << QJsonObject();
    QTest::newRow("negative rate") << "assign:hang,rate=-0.1" << false << "" << QJsonObject();
    QTest::newRow("unknown group") << "cache:latency=1" << false << "" << QJsonObject();
    QTest::newRow("not a number") << "patients:latency=soon" << false << "" << QJsonObject();
    QTest::newRow("unknown key") << "patients:explode" << false << "" << QJsonObject();
    QTest::newRow("success status") << "patients:fail=1,status=204" << false << "" << QJsonObject();
}

void tst_DemoFaults::commandLineFaults()
{
    QFETCH(QString, faultText);
    QFETCH(bool, valid);
    QFETCH(QString, group);
    QFETCH(QJsonObject, fault);
    QString parsedGroup, error;
    DemoFaults::Fault parsed;
    QCOMPARE(DemoFaults::parseFault(faultText, &parsedGroup, &parsed, &error), valid);
    if (valid) {
        QCOMPARE(parsedGroup, group);
        QCOMPARE(parsed.toJson(), fault);
    } else {
        QVERIFY(!error.isEmpty());
    }
}

void tst_DemoFaults::faultsFromOptions()
{
    DemoServer::Options options;
    DemoFaults::Fault fault;
    fault.failNext = 1;
    fault.failStatus = 502;
    options.faults.insert(QStringLiteral("directory"), fault);
    TestServer faulty(options);
    QVERIFY(faulty.started);
    TestClient c;
    QCOMPARE(c.get(faulty.url(QStringLiteral("/api/server/demo/")), false).status, 502);
    QCOMPARE(c.get(faulty.url(QStringLiteral("/api/server/demo/")), false).status, 200);
}

void tst_DemoFaults::otherControls()
{
    TestClient control;
    HttpResult r = control.get(server->url(QStringLiteral("/control/totp/doctor.totp")), false);
    QCOMPARE(r.status, 200);
    QCOMPARE(r.object().value(QStringLiteral("code")).toString().size(), 6);
    QCOMPARE(control.get(server->url(QStringLiteral("/control/totp/doctor")), false).status, 404);

    control.postJson(server->url(QStringLiteral("/api-auth/app/v1/auth/login")),
                     {{QStringLiteral("username"), QStringLiteral("doctor.mail")},
                      {QStringLiteral("password"), DemoServer::password()}},
                     false);
    r = control.get(server->url(QStringLiteral("/control/outbox/doctor.mail")), false);
    QCOMPARE(r.object().value(QStringLiteral("code")).toString(),
             server->server->lastMailedCode(QStringLiteral("doctor.mail")));

    // An upload is listed and readable through the controls.
    const QString target = requestOf(QStringLiteral("assign"))
                               .object()
                               .value(QStringLiteral("json"))
                               .toObject()
                               .value(QStringLiteral("url"))
                               .toString();
    QJsonObject edited = SampleData::instance().session(session)->document;
    edited.insert(QStringLiteral("EditedBy"), QStringLiteral("controls"));
    QCOMPARE(client.put(target, QJsonDocument(edited).toJson()).status, 200);
    r = control.get(server->url(QStringLiteral("/control/uploads")), false);
    const QJsonArray uploads = r.json().array();
    QVERIFY(!uploads.isEmpty());
    const QString object = uploads.last().toObject().value(QStringLiteral("object")).toString();
    QCOMPARE(object, QStringLiteral("sessions/11/%1/session.json").arg(session));
    QCOMPARE(control.get(server->url(QStringLiteral("/control/objects/") + object), false)
                 .object()
                 .value(QStringLiteral("EditedBy"))
                 .toString(),
             QStringLiteral("controls"));

    // Reset puts the sample data back.
    QCOMPARE(control.post(server->url(QStringLiteral("/control/reset")), QByteArray(), {}, false).status,
             200);
    QCOMPARE(QJsonDocument::fromJson(server->server->storedObject(object)).object(),
             SampleData::instance().session(session)->document);
    QVERIFY(server->server->uploads().isEmpty());
    // Tokens are gone with the old data.
    QCOMPARE(client.get(server->url(QStringLiteral("/api/me/"))).status, 403);
    client.token = loginToken(client, *server);
    QCOMPARE(client.get(server->url(QStringLiteral("/api/me/"))).status, 200);
}

void tst_DemoFaults::controlsNeedTheOption_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("path");
    QTest::newRow("authenticator code") << QByteArray("GET") << "/control/totp/doctor.totp";
    QTest::newRow("e-mailed code") << QByteArray("GET") << "/control/outbox/doctor.mail";
    QTest::newRow("faults") << QByteArray("GET") << "/control/faults";
    QTest::newRow("reset") << QByteArray("POST") << "/control/reset";
    QTest::newRow("index") << QByteArray("GET") << "/control/";
}

void tst_DemoFaults::controlsNeedTheOption()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, path);
    // Started without Options::control: no endpoint there, as on a real server.
    if (!withoutControls)
        withoutControls = std::make_unique<TestServer>(DemoServer::Options());
    QVERIFY(withoutControls->started);
    TestClient anyone;
    const HttpResult r = anyone.send(verb, withoutControls->url(path), QByteArray(), false, {});
    QCOMPARE(r.status, 404);
    QCOMPARE(r.errorCode(), QStringLiteral("not_found"));
    QVERIFY(!r.object().contains(QStringLiteral("code")));
}

QTEST_MAIN(tst_DemoFaults)
#include "tst_demofaults.moc"
