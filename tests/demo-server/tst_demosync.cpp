#include "DemoTestSupport.h"

#include "demo-server/SampleData.h"

#include <QBuffer>
#include <QImageReader>
#include <QJsonArray>
#include <QUrlQuery>

namespace {

QSize jpegSize(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer, "jpeg").size();
}

int newestSessionOf(int patient)
{
    return SampleData::instance().patient(patient)->sessions.back();
}

} // namespace

class tst_DemoSync : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void syncSessionIsKeptPerExamination();
    void pairingPageJoinsThePhone();
    void captureRound();
    void clinicalCaptureJoinsTheSession();
    void badRequests_data();
    void badRequests();
    void otherUsersDoNotSeeIt();
    void controlsOverHttp();
    void automaticPhone();
    void pictureUrlsFollowTheUrlLifetime();

private:
    QString createSync(TestClient &client, TestServer &s, int session, int *status = nullptr);
    QJsonObject status(TestClient &client, TestServer &s, const QString &id);
    QJsonObject lookup(TestClient &client, TestServer &s, const QString &id, const QString &name);
    HttpResult request(TestClient &client, TestServer &s, const QString &id, const QJsonArray &names);

    std::unique_ptr<TestServer> server;
    TestClient client;
};

void tst_DemoSync::initTestCase()
{
    server = std::make_unique<TestServer>();
    QVERIFY2(server->started, qPrintable(server->server->errorString()));
    client.token = loginToken(client, *server);
}

QString tst_DemoSync::createSync(TestClient &c, TestServer &s, int session, int *code)
{
    const HttpResult r =
        c.postJson(s.url(QStringLiteral("/api/sync/")), {{QStringLiteral("session"), session}});
    if (code)
        *code = r.status;
    return r.object().value(QStringLiteral("id")).toString();
}

QJsonObject tst_DemoSync::status(TestClient &c, TestServer &s, const QString &id)
{
    return c.get(s.url(QStringLiteral("/api/sync/%1/").arg(id))).object();
}

QJsonObject tst_DemoSync::lookup(TestClient &c, TestServer &s, const QString &id, const QString &name)
{
    return c.get(s.url(QStringLiteral("/api/sync/%1/manuals/%2/").arg(id, name))).object();
}

HttpResult tst_DemoSync::request(TestClient &c, TestServer &s, const QString &id, const QJsonArray &names)
{
    return c.postJson(s.url(QStringLiteral("/api/sync/%1/manuals/").arg(id)),
                      {{QStringLiteral("names"), names}});
}

void tst_DemoSync::syncSessionIsKeptPerExamination()
{
    const int session = newestSessionOf(12);
    int code = 0;
    const QString id = createSync(client, *server, session, &code);
    QCOMPARE(code, 201);
    QVERIFY(id.size() >= 16);
    QCOMPARE(createSync(client, *server, session, &code), id);
    QCOMPARE(code, 200);
    const QString other = createSync(client, *server, SampleData::instance().patient(12)->sessions.front());
    QVERIFY(!other.isEmpty() && other != id);
    const QJsonObject s = status(client, *server, id);
    QCOMPARE(s.value(QStringLiteral("hasDevice")), QJsonValue(false));
    QCOMPARE(s.value(QStringLiteral("nextImage")).toString(), QStringLiteral("-1"));
}

void tst_DemoSync::pairingPageJoinsThePhone()
{
    const QString id = createSync(client, *server, newestSessionOf(14));
    TestClient phone;
    HttpResult page = phone.get(server->url(QStringLiteral("/external/sync/%1").arg(id)), false);
    QCOMPARE(page.status, 200);
    QVERIFY(page.header("Content-Type").startsWith("text/html"));
    QCOMPARE(status(client, *server, id).value(QStringLiteral("hasDevice")), QJsonValue(true));
    page = phone.get(server->url(QStringLiteral("/external/sync/0123456789abcdef")), false);
    QCOMPARE(page.status, 404);
    QCOMPARE(phone.get(server->url(QStringLiteral("/external/sync/")), false).status, 200);
}

void tst_DemoSync::captureRound()
{
    const int session = newestSessionOf(11);
    const QString id = createSync(client, *server, session);
    QVERIFY(server->server->phoneJoin(id));
    const QJsonArray names{QJsonObject{{QStringLiteral("name"), QStringLiteral("0_1")},
                                       {QStringLiteral("type"), QStringLiteral("D")}},
                           QJsonObject{{QStringLiteral("name"), QStringLiteral("0_2")},
                                       {QStringLiteral("type"), QStringLiteral("D")}},
                           QJsonObject{{QStringLiteral("name"), QStringLiteral("1_3")},
                                       {QStringLiteral("type"), QStringLiteral("D")}}};
    const HttpResult round = request(client, *server, id, names);
    QCOMPARE(round.status, 201);
    QCOMPARE(round.object().value(QStringLiteral("nImgDermatos")).toInt(), 3);
    QCOMPARE(status(client, *server, id).value(QStringLiteral("nextImage")).toString(),
             QStringLiteral("0_1"));
    QJsonObject first = lookup(client, *server, id, QStringLiteral("0_1"));
    QVERIFY(!first.contains(QStringLiteral("isDone")));
    QCOMPARE(first.value(QStringLiteral("cancelled")), QJsonValue(false));

    // The phone takes the first picture: it is done, with its URL, once it is
    // stored, and only then does the phone move on.
    QVERIFY(server->server->phoneAdvance(id));
    QTRY_VERIFY_WITH_TIMEOUT(
        lookup(client, *server, id, QStringLiteral("0_1")).contains(QStringLiteral("url")), 10000);
    first = lookup(client, *server, id, QStringLiteral("0_1"));
    QCOMPARE(first.value(QStringLiteral("isDone")), QJsonValue(true));
    QCOMPARE(status(client, *server, id).value(QStringLiteral("nextImage")).toString(),
             QStringLiteral("0_2"));
    const QUrl url(first.value(QStringLiteral("url")).toString());
    const QString day = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    QVERIFY2(url.fileName().startsWith(day + QLatin1Char('_')) &&
                 url.fileName().endsWith(QLatin1String("m.jpg")),
             qPrintable(url.fileName()));
    TestClient storage;
    const HttpResult picture = storage.get(url.toString(), false);
    QCOMPARE(picture.status, 200);
    QCOMPARE(jpegSize(picture.body), QSize(600, 450));
    const QString firstFile = url.fileName();

    // A failed picture, then a retake of the first: the phone goes back to it.
    QVERIFY(server->server->phoneFail(id));
    QCOMPARE(lookup(client, *server, id, QStringLiteral("0_2")).value(QStringLiteral("isDone")),
             QJsonValue(false));
    QCOMPARE(status(client, *server, id).value(QStringLiteral("nextImage")).toString(),
             QStringLiteral("1_3"));
    QCOMPARE(
        client
            .put(server->url(QStringLiteral("/api/sync/%1/manuals/0_1/retake/").arg(id)), QByteArray(), true)
            .status,
        200);
    QCOMPARE(status(client, *server, id).value(QStringLiteral("nextImage")).toString(),
             QStringLiteral("0_1"));
    QVERIFY(!lookup(client, *server, id, QStringLiteral("0_1")).contains(QStringLiteral("isDone")));
    QVERIFY(server->server->phoneAdvance(id));
    QTRY_VERIFY_WITH_TIMEOUT(
        lookup(client, *server, id, QStringLiteral("0_1")).contains(QStringLiteral("url")), 10000);
    QCOMPARE(status(client, *server, id).value(QStringLiteral("nextImage")).toString(),
             QStringLiteral("1_3"));
    const QString retaken =
        QUrl(lookup(client, *server, id, QStringLiteral("0_1")).value(QStringLiteral("url")).toString())
            .fileName();
    QVERIFY(retaken != firstFile);

    // Cancelling ends what is left.
    const HttpResult cancel = client.del(server->url(QStringLiteral("/api/sync/%1/manuals/cancel/").arg(id)));
    QCOMPARE(cancel.status, 200);
    QCOMPARE(cancel.object().value(QStringLiteral("cancelled")).toInt(), 1);
    QCOMPARE(status(client, *server, id).value(QStringLiteral("nextImage")).toString(), QStringLiteral("-1"));
    QCOMPARE(lookup(client, *server, id, QStringLiteral("1_3")).value(QStringLiteral("cancelled")),
             QJsonValue(true));
    QCOMPARE(client.get(server->url(QStringLiteral("/api/sync/%1/manuals/9_9/").arg(id))).status, 404);

    // The kept picture belongs to the examination now; the discarded one not.
    const QJsonArray dermatos =
        client.get(server->url(QStringLiteral("/api/patients/11/sessions/%1/dermatoscopic/").arg(session)))
            .object()
            .value(QStringLiteral("dermatos"))
            .toArray();
    QStringList listed;
    for (const QJsonValue &v : dermatos)
        listed << v.toObject().value(QStringLiteral("name")).toString().section(QLatin1Char('/'), -1);
    QVERIFY(listed.contains(retaken));
    QVERIFY(listed.contains(retaken.chopped(4) + QStringLiteral("s.jpg")));
    QVERIFY(!listed.contains(firstFile));
}

void tst_DemoSync::clinicalCaptureJoinsTheSession()
{
    const int session = newestSessionOf(16);
    const QString id = createSync(client, *server, session);
    server->server->phoneJoin(id);
    const QString name = QStringLiteral("0_0_0_-1_0_0");
    QCOMPARE(
        request(client, *server, id,
                {QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("type"), QStringLiteral("C")}}})
            .object()
            .value(QStringLiteral("nImgDermatos"))
            .toInt(),
        0);
    QVERIFY(server->server->phoneAdvance(id));
    QTRY_VERIFY_WITH_TIMEOUT(lookup(client, *server, id, name).contains(QStringLiteral("url")), 10000);
    const QUrl url(lookup(client, *server, id, name).value(QStringLiteral("url")).toString());
    QCOMPARE(url.fileName(), name + QStringLiteral("e.jpg"));
    TestClient storage;
    QCOMPARE(jpegSize(storage.get(url.toString(), false).body), QSize(400, 300));
    const QJsonArray generals =
        client.get(server->url(QStringLiteral("/api/patients/16/sessions/%1/clinical/").arg(session)))
            .object()
            .value(QStringLiteral("generals"))
            .toArray();
    bool found = false;
    for (const QJsonValue &v : generals)
        found = found || v.toObject().value(QStringLiteral("name")).toString() ==
                             QStringLiteral("sessions/16/%1/imgL/%2.jpg").arg(session).arg(name);
    QVERIFY(found);
}

void tst_DemoSync::badRequests_data()
{
    QTest::addColumn<QString>("path"); // after /api/sync/<id>
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("no names") << "/manuals/" << QByteArray("{\"names\": []}") << 400;
    QTest::newRow("names not an array") << "/manuals/" << QByteArray("{\"names\": \"0_1\"}") << 400;
    QTest::newRow("unknown type") << "/manuals/"
                                  << QByteArray("{\"names\": [{\"name\": \"0_1\", \"type\": \"X\"}]}") << 400;
    QTest::newRow("name with a slash")
        << "/manuals/" << QByteArray("{\"names\": [{\"name\": \"0/1\", \"type\": \"D\"}]}") << 400;
    QTest::newRow("not JSON") << "/manuals/" << QByteArray("names=0_1") << 400;
    QTest::newRow("unknown sync session")
        << "-none" << QByteArray("{\"names\": [{\"name\": \"0_1\", \"type\": \"D\"}]}") << 404;
}

void tst_DemoSync::badRequests()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    const QString id = createSync(client, *server, newestSessionOf(12));
    const QString url = path == QLatin1String("-none")
                            ? server->url(QStringLiteral("/api/sync/00ff00ff00ff/manuals/"))
                            : server->url(QStringLiteral("/api/sync/%1%2").arg(id, path));
    QCOMPARE(client.post(url, body, QByteArrayLiteral("application/json")).status, status);
    QCOMPARE(client.postJson(server->url(QStringLiteral("/api/sync/")), {{QStringLiteral("session"), 99999}})
                 .status,
             404);
    QCOMPARE(client
                 .postJson(server->url(QStringLiteral("/api/sync/")),
                           {{QStringLiteral("session"), QStringLiteral("101")}})
                 .status,
             400);
}

void tst_DemoSync::otherUsersDoNotSeeIt()
{
    const QString id = createSync(client, *server, newestSessionOf(12));
    TestClient other;
    other.token = loginToken(other, *server, QStringLiteral("chief"));
    QCOMPARE(other.get(server->url(QStringLiteral("/api/sync/%1/").arg(id))).status, 404);
    QCOMPARE(other.del(server->url(QStringLiteral("/api/sync/%1/manuals/cancel/").arg(id))).status, 404);
}

void tst_DemoSync::controlsOverHttp()
{
    const QString id = createSync(client, *server, newestSessionOf(14));
    request(client, *server, id,
            {QJsonObject{{QStringLiteral("name"), QStringLiteral("2_1")},
                         {QStringLiteral("type"), QStringLiteral("D")}}});
    TestClient control;
    const QJsonObject which{{QStringLiteral("sync"), id}};
    QCOMPARE(control.postJson(server->url(QStringLiteral("/control/phone/join")), which, false).status, 200);
    HttpResult r = control.postJson(server->url(QStringLiteral("/control/phone/advance")), which, false);
    QCOMPARE(r.status, 200);
    // Being taken, the picture is still the current one; there is nothing else to start.
    QCOMPARE(r.object().value(QStringLiteral("nextImage")).toString(), QStringLiteral("2_1"));
    QCOMPARE(control.postJson(server->url(QStringLiteral("/control/phone/advance")), which, false).status,
             409);
    QTRY_COMPARE_WITH_TIMEOUT(control.get(server->url(QStringLiteral("/control/phone?sync=") + id), false)
                                  .object()
                                  .value(QStringLiteral("nextImage"))
                                  .toString(),
                              QStringLiteral("-1"), 10000);
    r = control.get(server->url(QStringLiteral("/control/phone?sync=") + id), false);
    QCOMPARE(r.object().value(QStringLiteral("hasDevice")), QJsonValue(true));
    QCOMPARE(r.object().value(QStringLiteral("images")).toArray().size(), 1);
    QCOMPARE(control.postJson(server->url(QStringLiteral("/control/phone/dance")), which, false).status, 404);
}

void tst_DemoSync::automaticPhone()
{
    DemoServer::Options options;
    options.phone = QStringLiteral("auto");
    options.phoneJoinDelayMs = 100;
    options.phoneCaptureDelayMs = 150;
    options.phoneUploadDelayMs = 20;
    TestServer automatic(options);
    QVERIFY(automatic.started);
    TestClient c;
    c.token = loginToken(c, automatic);
    const QString id = createSync(c, automatic, newestSessionOf(11));
    QTRY_COMPARE_WITH_TIMEOUT(status(c, automatic, id).value(QStringLiteral("hasDevice")), QJsonValue(true),
                              5000);
    request(c, automatic, id,
            {QJsonObject{{QStringLiteral("name"), QStringLiteral("0_1")},
                         {QStringLiteral("type"), QStringLiteral("D")}},
             QJsonObject{{QStringLiteral("name"), QStringLiteral("0_2")},
                         {QStringLiteral("type"), QStringLiteral("D")}}});
    QTRY_VERIFY_WITH_TIMEOUT(lookup(c, automatic, id, QStringLiteral("0_2")).contains(QStringLiteral("url")),
                             10000);
    QCOMPARE(lookup(c, automatic, id, QStringLiteral("0_1")).value(QStringLiteral("isDone")),
             QJsonValue(true));
    QCOMPARE(status(c, automatic, id).value(QStringLiteral("nextImage")).toString(), QStringLiteral("-1"));

    // With a long join delay the pairing page joins at once.
    DemoServer::Options slow = options;
    slow.phoneJoinDelayMs = 600000;
    TestServer waiting(slow);
    QVERIFY(waiting.started);
    TestClient w;
    w.token = loginToken(w, waiting);
    const QString other = createSync(w, waiting, newestSessionOf(11));
    QCOMPARE(status(w, waiting, other).value(QStringLiteral("hasDevice")), QJsonValue(false));
    QCOMPARE(w.get(waiting.url(QStringLiteral("/external/sync/") + other), false).status, 200);
    QCOMPARE(status(w, waiting, other).value(QStringLiteral("hasDevice")), QJsonValue(true));
}

void tst_DemoSync::pictureUrlsFollowTheUrlLifetime()
{
    DemoServer::Options options;
    options.urlLifetimeSeconds = 90;
    options.phoneUploadDelayMs = 10;
    TestServer shortUrls(options);
    QVERIFY(shortUrls.started);
    TestClient c;
    c.token = loginToken(c, shortUrls);
    const QString id = createSync(c, shortUrls, newestSessionOf(11));
    request(c, shortUrls, id,
            {QJsonObject{{QStringLiteral("name"), QStringLiteral("0_1")},
                         {QStringLiteral("type"), QStringLiteral("D")}}});
    QVERIFY(shortUrls.server->phoneJoin(id));
    QVERIFY(shortUrls.server->phoneAdvance(id));
    QTRY_VERIFY_WITH_TIMEOUT(lookup(c, shortUrls, id, QStringLiteral("0_1")).contains(QStringLiteral("url")),
                             10000);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    const QUrl url(lookup(c, shortUrls, id, QStringLiteral("0_1")).value(QStringLiteral("url")).toString());
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    const qint64 expires = QUrlQuery(url).queryItemValue(QStringLiteral("expires")).toLongLong();
    QVERIFY2(expires >= before + 90 && expires <= after + 90, qPrintable(QString::number(expires - before)));
}

QTEST_MAIN(tst_DemoSync)
#include "tst_demosync.moc"
