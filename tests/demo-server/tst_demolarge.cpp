#include "demo-server/DemoStorage.h"
#include "demo-server/DemoTestSupport.h"
#include "demo-server/SampleData.h"

#include <QtTest>

// The large examination is there only when asked for, after the others.
class tst_DemoLarge : public QObject
{
    Q_OBJECT

private slots:
    void largeExamination();
    void absentWithoutTheOption();
};

void tst_DemoLarge::largeExamination()
{
    DemoServer::Options options = withControls();
    options.largeExamination = true;
    TestServer server(options);
    QVERIFY2(server.started, qPrintable(server.server->errorString()));
    TestClient client;
    client.token = loginToken(client, server);

    const HttpResult list = client.get(server.url(QStringLiteral("/api/patients/20/json/")));
    QCOMPARE(list.status, 200);
    const QJsonArray found = list.object().value(QStringLiteral("sessions_patient")).toArray();
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.at(0).toObject().value(QStringLiteral("pk")).toInt(), 113);
    // The other patients keep their sessions.
    QCOMPARE(client.get(server.url(QStringLiteral("/api/patients/13/json/")))
                 .object()
                 .value(QStringLiteral("sessions_patient"))
                 .toArray()
                 .size(),
             2);

    const QJsonObject document =
        client.get(found.at(0).toObject().value(QStringLiteral("jsonUrl")).toString(), false).object();
    int lesions = 0;
    for (const char *position : {"0", "1", "2", "3"}) {
        QCOMPARE(document.value("CameraPositions").toObject().value(position).toArray().size(), 9);
        for (const QJsonValue &lesion : document.value("Lesions").toObject().value(position).toArray()) {
            QVERIFY(!lesion.toObject().value("dermatoscopicIds").toArray().isEmpty());
            ++lesions;
        }
    }
    QCOMPARE(lesions, 40);

    const QJsonObject listing =
        client.get(server.url(QStringLiteral("/api/patients/20/sessions/113/"))).object();
    QCOMPARE(listing.value(QStringLiteral("generals")).toArray().size(), 36);
    // An image and a thumbnail per dermatoscopic id, at least one id per lesion.
    QVERIFY(listing.value(QStringLiteral("dermatos")).toArray().size() >= 80);
}

void tst_DemoLarge::absentWithoutTheOption()
{
    TestServer server;
    QVERIFY2(server.started, qPrintable(server.server->errorString()));
    TestClient client;
    client.token = loginToken(client, server);
    QCOMPARE(client.get(server.url(QStringLiteral("/api/patients/20/json/"))).status, 404);
    // Its pictures are made only where the data folder holds it.
    QVERIFY(DemoStorage::sampleImageObjects(true).size() > DemoStorage::sampleImageObjects(false).size());
}

QTEST_MAIN(tst_DemoLarge)
#include "tst_demolarge.moc"
