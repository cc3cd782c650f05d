// The upload queue against the stand-in server over HTTPS on loopback: order
// and progress, the back-off after each kind of failure, secondary sessions,
// logout and late answers.

#include "StandIn.h"

#include "demo-server/DemoFaults.h"
#include "session/SessionVisualizer.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace {

QString documentObject(int session)
{
    return QStringLiteral("sessions/11/%1/session.json").arg(session);
}

// An 'L' job of patient 11 whose document names itself.
UploadJob documentJob(int session, const QString &marker)
{
    UploadJob job;
    job.patientId = 11;
    job.sessionId = session;
    job.sessionJson = QJsonDocument(QJsonObject{{QStringLiteral("marker"), marker}});
    return job;
}

QStringList markersOf(const QList<QByteArray> &versions)
{
    QStringList markers;
    for (const QByteArray &version : versions)
        markers << QJsonDocument::fromJson(version).object().value(QStringLiteral("marker")).toString();
    return markers;
}

QList<int> intsOf(const QSignalSpy &spy, int argument = 0)
{
    QList<int> values;
    for (const QList<QVariant> &call : spy)
        values << call.at(argument).toInt();
    return values;
}

} // namespace

class tst_UploadQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void jobsRunOneAfterAnother();
    void failureKinds_data();
    void failureKinds();
    void backOffAndNotices();
    void logoutWithPutInFlight();
    void lateAnswerOfADroppedJob();

private:
    void setFault(const QString &text);
    QList<QByteArray> history(int session) const { return standIn->storedHistory(documentObject(session)); }
    bool drained();

    StandIn standIn;
    std::unique_ptr<ServerVisualizer> client;
};

void tst_UploadQueue::initTestCase()
{
    QVERIFY2(standIn.start(), qPrintable(standIn->errorString()));
    client = standIn.client();
    QVERIFY(logIn(*client, *standIn.server, QStringLiteral("chief")));
}

void tst_UploadQueue::init()
{
    client->setRetryDelays(40, 1000);
    client->setTransferTimeouts(10000, 10000);
}

void tst_UploadQueue::cleanup()
{
    standIn->clearFaults();
    const int left = client->uploadQueueSize();
    client->dropUploads(); // a failed case leaves nothing to the next one
    QCOMPARE(left, 0);
}

void tst_UploadQueue::setFault(const QString &text)
{
    QString group, error;
    DemoFaults::Fault fault;
    QVERIFY2(DemoFaults::parseFault(text, &group, &fault, &error), qPrintable(error));
    standIn->setFault(group, fault);
}

bool tst_UploadQueue::drained()
{
    const bool empty = QTest::qWaitFor([this] { return client->uploadQueueSize() == 0; }, 15000);
    QTest::qWait(150); // a second "done" or a stray restart would show by now
    return empty;
}

// Only the first job starts on queueing, each next one once the document of
// the one before is stored; cancelDownload() (leaving a view) stops nothing.
// An image added to a lesion of a secondary session goes with that session's
// own document, the principal's is saved as its own.
void tst_UploadQueue::jobsRunOneAfterAnother()
{
    auto sessionOf = [this](int id) {
        auto session = QSharedPointer<SessionVisualizer>::create(
            QStringLiteral("sessions/11/%1").arg(id), 11, id,
            QJsonDocument::fromJson(standIn->storedObject(documentObject(id))), QDateTime::currentDateTime());
        session->readSessionJson();
        return session;
    };
    auto principal = sessionOf(101), secondary = sessionOf(102);
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(180, 120, 100));
    const UploadJob imageJob = UploadJob::fromSession(*secondary, 'D', picture, QStringLiteral("d_1e.jpg"));
    const UploadJob principalJob = UploadJob::fromSession(*principal, 'L');
    QVERIFY(imageJob.sessionJson.object().value("Lesions") !=
            principalJob.sessionJson.object().value("Lesions"));
    setFault(QStringLiteral("assign:latency=150"));
    SignalLog log(client.get());
    RequestLog requests(client.get());
    client->queueUpload(imageJob);
    client->queueUpload(principalJob);
    client->queueUpload(documentJob(103, QStringLiteral("third")));
    emit client->cancelDownload();
    QVERIFY(drained());

    QStringList sent;
    static const QRegularExpression session(QStringLiteral("/(10[1-5])/"));
    for (const SentRequest &r : requests.requests)
        sent << QString::fromLatin1(r.verb) + QLatin1Char(' ') + session.match(r.url.path()).captured(1) +
                    (r.error == QNetworkReply::NoError ? QString() : QStringLiteral(" failed"));
    QCOMPARE(sent,
             (QStringList{"POST 102", "PUT 102", "PUT 102", "POST 101", "PUT 101", "POST 103", "PUT 103"}));
    QCOMPARE(intsOf(log["uploadQueueChanged"]), (QList<int>{1, 2, 3, 2, 1, 0}));
    QCOMPARE(intsOf(log["setMaximumProgressBar"]), (QList<int>{3, 2, 2}));
    QCOMPARE(intsOf(log["setValueProgressBar"]), (QList<int>{1, 2, 3, 1, 2, 1, 2}));
    QCOMPARE(log.count("allDoneProgressBar"), 3);
    QCOMPARE(QJsonDocument::fromJson(standIn->storedObject(documentObject(102))), imageJob.sessionJson);
    QCOMPARE(QJsonDocument::fromJson(standIn->storedObject(documentObject(101))), principalJob.sessionJson);
    QVERIFY(standIn->storedObject("sessions/11/102/dermatoscopic/d_1e.jpg").startsWith("\xFF\xD8"));
}

void tst_UploadQueue::failureKinds_data()
{
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<int>("clearAfter"); // failures after which the fault is cleared; 0: never
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QList<int>>("delays");
    QTest::addColumn<int>("versions"); // a lost acknowledgement stores one twice

    // A "done" sent with the document PUT would find the old document stored.
    QTest::newRow("slow storage") << "storage-put:latency=300" << 0 << 10000 << QList<int>{} << 1;
    QTest::newRow("assign 500") << "assign:fail=2,status=500" << 0 << 10000 << QList<int>{40, 80} << 1;
    QTest::newRow("assign notJson") << "assign:notJson" << 2 << 10000 << QList<int>{40, 80} << 1;
    QTest::newRow("assign noFields") << "assign:noFields" << 2 << 10000 << QList<int>{40, 80} << 1;
    QTest::newRow("assign cut short") << "assign:truncate" << 1 << 10000 << QList<int>{40} << 1;
    QTest::newRow("PUT 503") << "storage-put:fail=2,status=503" << 0 << 10000 << QList<int>{40, 80} << 1;
    QTest::newRow("PUT hang") << "storage-put:hang" << 2 << 500 << QList<int>{40, 80} << 1;
    QTest::newRow("PUT afterStore") << "storage-put:fail=1,afterStore" << 0 << 10000 << QList<int>{40} << 2;
    QTest::newRow("PUT hang afterStore") << "storage-put:hang,afterStore" << 1 << 500 << QList<int>{40} << 2;
}

// Each failure ends with the job done once, after its document was stored,
// with the back-off's delays.
void tst_UploadQueue::failureKinds()
{
    QFETCH(QString, faultText);
    QFETCH(int, clearAfter);
    QFETCH(int, timeoutMs);
    QFETCH(QList<int>, delays);
    QFETCH(int, versions);
    const QString marker = QString::fromLatin1(QTest::currentDataTag());
    const qsizetype before = history(104).size();
    client->setTransferTimeouts(timeoutMs, timeoutMs);
    setFault(faultText);
    SignalLog log(client.get());
    QStringList storedAtDone;
    QObject context; // the connections die with this case
    connect(client.get(), &ServerVisualizer::uploadRetryScheduled, &context, [&](int, int failures) {
        if (failures == clearAfter)
            standIn->clearFaults();
    });
    connect(client.get(), &ServerVisualizer::allDoneProgressBar, &context,
            [&] { storedAtDone << markersOf({standIn->storedObject(documentObject(104))}); });

    client->queueUpload(documentJob(104, marker));
    QVERIFY(drained());
    QCOMPARE(storedAtDone, QStringList{marker});
    QCOMPARE(intsOf(log["uploadRetryScheduled"]), delays);
    QCOMPARE(intsOf(log["uploadRetryScheduled"], 1), (QList<int>{1, 2}).mid(0, delays.size()));
    QCOMPARE(log.count("uploadNotice"), 0);
    QCOMPARE(markersOf(history(104).mid(before)), QStringList(versions, marker));
}

// 5 ms doubling to 40 ms here (1 s to 60 s in use). Told at the 3rd and 13th
// failure, then "All changes saved". (That the next job starts from the first
// delay again shows in failureKinds: every row starts at 40 ms.)
void tst_UploadQueue::backOffAndNotices()
{
    client->setRetryDelays(5, 40);
    setFault(QStringLiteral("assign:fail=13,status=500"));
    SignalLog log(client.get());
    QList<int> failuresAtNotice;
    QObject context; // the connection dies with this case
    connect(client.get(), &ServerVisualizer::uploadNotice, &context,
            [&] { failuresAtNotice << int(log["uploadRetryScheduled"].size()); });
    client->queueUpload(documentJob(105, QStringLiteral("after an outage")));
    QVERIFY(drained());
    QCOMPARE(intsOf(log["uploadRetryScheduled"]),
             (QList<int>{5, 10, 20, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40}));
    const QString retrying = QString::fromUtf8("Changes not yet saved – retrying");
    const QList<QList<QVariant>> notices = log["uploadNotice"];
    QCOMPARE(notices,
             (QList<QList<QVariant>>{{retrying}, {retrying}, {QStringLiteral("All changes saved")}}));
    QCOMPARE(failuresAtNotice, (QList<int>{3, 13, 13}));
    QCOMPARE(log.count("allDoneProgressBar"), 1);
}

// Logout while the document PUT is on its way: that PUT may still land (it
// is on the wire), but nothing else of that login is sent, not even after
// another user logs in and saves.
void tst_UploadQueue::logoutWithPutInFlight()
{
    setFault(QStringLiteral("storage-put:latency=600"));
    const qsizetype before101 = history(101).size(), before103 = history(103).size();
    const QList<QByteArray> before102 = history(102);
    SignalLog log(client.get());
    client->queueUpload(documentJob(101, QStringLiteral("left at logout")));
    client->queueUpload(documentJob(102, QStringLiteral("also left")));
    QTRY_COMPARE_WITH_TIMEOUT(intsOf(log["setValueProgressBar"]), QList<int>{1}, 10000); // the PUT is sent
    client->clearSession();
    QCOMPARE(intsOf(log["uploadQueueChanged"]), (QList<int>{1, 2, 0}));
    RequestLog after(client.get());
    client->queueUpload(documentJob(102, QStringLiteral("saved while logged out")));
    QCOMPARE(client->uploadQueueSize(), 0);

    standIn->clearFaults();
    QVERIFY(logIn(*client, *standIn.server, QStringLiteral("doctor")));
    client->queueUpload(documentJob(103, QStringLiteral("next login")));
    QVERIFY(drained());
    QTest::qWait(700); // past the latency of the PUT on its way
    const QStringList landed = markersOf(history(101).mid(before101));
    QVERIFY(landed.size() <= 1);
    QCOMPARE(landed, QStringList(landed.size(), QStringLiteral("left at logout")));
    QCOMPARE(history(102), before102);
    QCOMPARE(markersOf(history(103).mid(before103)), QStringList{QStringLiteral("next login")});
    for (const SentRequest &r : after.requests)
        QVERIFY2(!r.url.path().contains(QLatin1String("/101/")) &&
                     !r.url.path().contains(QLatin1String("/102/")),
                 qPrintable(r.url.path()));
    QCOMPARE(log.count("uploadRetryScheduled"), 0);
}

// The queue is dropped while the first step's answer is still to come and the
// next save starts at once. Taken for the new job's, that late answer would
// send the new document to the dropped job's session.
void tst_UploadQueue::lateAnswerOfADroppedJob()
{
    setFault(QStringLiteral("assign:latency=400"));
    const QList<QByteArray> before101 = history(101);
    const qsizetype before103 = history(103).size();
    SignalLog log(client.get());
    client->queueUpload(documentJob(101, QStringLiteral("dropped")));
    QTest::qWait(100);
    client->dropUploads();
    client->queueUpload(documentJob(103, QStringLiteral("after the late answer")));
    QVERIFY(drained());
    QTest::qWait(500);
    QCOMPARE(history(101), before101);
    QCOMPARE(markersOf(history(103).mid(before103)), QStringList{QStringLiteral("after the late answer")});
    QCOMPARE(log.count("allDoneProgressBar"), 1);
    QCOMPARE(log.count("uploadRetryScheduled"), 0);
}

QTEST_MAIN(tst_UploadQueue)
#include "tst_uploadqueue.moc"
