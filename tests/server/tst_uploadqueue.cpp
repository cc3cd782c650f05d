// The upload queue of the server client against the stand-in server over
// HTTPS on loopback: order, progress, back-off after each kind of failure,
// documents of secondary sessions, logout and late answers.

#include "StandIn.h"

#include "demo-server/DemoFaults.h"
#include "session/SessionVisualizer.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace {

constexpr int kPatient = 11;
constexpr int kFirstDelay = 40;
constexpr int kLongestDelay = 1000;

QString documentObject(int session)
{
    return QStringLiteral("sessions/%1/%2/session.json").arg(kPatient).arg(session);
}

// An 'L' job whose document names what it is, so that each stored version
// can be told apart.
UploadJob documentJob(int session, const QString &marker)
{
    UploadJob job;
    job.type = 'L';
    job.patientId = kPatient;
    job.sessionId = session;
    job.sessionJson =
        QJsonDocument(QJsonObject{{QStringLiteral("marker"), marker}, {QStringLiteral("Version"), 1}});
    return job;
}

QString markerOf(const QByteArray &stored)
{
    return QJsonDocument::fromJson(stored).object().value(QStringLiteral("marker")).toString();
}

QStringList markersOf(const QList<QByteArray> &versions)
{
    QStringList markers;
    for (const QByteArray &version : versions)
        markers << markerOf(version);
    return markers;
}

DemoFaults::Fault parsedFault(const QString &text, QString *group)
{
    DemoFaults::Fault parsed;
    QString error;
    if (!DemoFaults::parseFault(text, group, &parsed, &error))
        qFatal("bad fault %s: %s", qPrintable(text), qPrintable(error));
    return parsed;
}

QList<int> intsOf(const QSignalSpy &spy, int argument)
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

    void allDoneOnlyOnceTheDocumentIsStored();
    void jobsRunOneAfterAnother();
    void failureKinds_data();
    void failureKinds();
    void backOffAndNotices();
    void secondarySessionKeepsItsDocument();
    void reportUploadIgnoresAbortPostS3();
    void logoutWithPutInFlight();
    void lateAnswerOfADroppedJob();

private:
    bool waitUntilDrained(int timeout = 15000);

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
    client->setRetryDelays(kFirstDelay, kLongestDelay);
    client->setTransferTimeouts(10000, 10000);
}

void tst_UploadQueue::cleanup()
{
    standIn->clearFaults();
    const int left = client->uploadQueueSize();
    client->dropUploads(); // a failed case leaves nothing to the next one
    QCOMPARE(left, 0);
}

bool tst_UploadQueue::waitUntilDrained(int timeout)
{
    const bool drained = QTest::qWaitFor([this] { return client->uploadQueueSize() == 0; }, timeout);
    // Anything still to come (a second "done", a stray restart) shows by now.
    QTest::qWait(150);
    return drained;
}

// A "done" sent with the document PUT, before its answer, would find the
// old document still stored (the storage answers 300 ms late).
void tst_UploadQueue::allDoneOnlyOnceTheDocumentIsStored()
{
    DemoFaults::Fault slow;
    slow.latencyMs = 300;
    standIn->setFault(QStringLiteral("storage-put"), slow);
    QStringList storedAtDone;
    QObject context; // the connection dies with this test
    connect(client.get(), &ServerVisualizer::allDoneProgressBar, &context,
            [&] { storedAtDone << markerOf(standIn->storedObject(documentObject(101))); });

    client->queueUpload(documentJob(101, QStringLiteral("first save")));
    QVERIFY(waitUntilDrained());
    QCOMPARE(storedAtDone, QStringList{QStringLiteral("first save")});
}

// Only the first job starts on queueing; each next one after the document
// of the one before was stored. A cancelDownload() (leaving a view) does not
// touch the queue's requests.
void tst_UploadQueue::jobsRunOneAfterAnother()
{
    DemoFaults::Fault slow;
    slow.latencyMs = 150;
    standIn->setFault(QStringLiteral("assign"), slow);
    SignalLog log(client.get());
    RequestLog requests(client.get());

    client->queueUpload(documentJob(101, QStringLiteral("a")));
    client->queueUpload(documentJob(102, QStringLiteral("b")));
    client->queueUpload(documentJob(103, QStringLiteral("c")));
    QCOMPARE(client->uploadQueueSize(), 3);
    emit client->cancelDownload();
    QVERIFY(waitUntilDrained());

    QStringList sent;
    for (const SentRequest &r : requests.requests) {
        QCOMPARE(r.error, QNetworkReply::NoError);
        static const QRegularExpression session(QStringLiteral("/(10[1-5])/"));
        sent << QString::fromLatin1(r.verb) + QLatin1Char(' ') + session.match(r.url.path()).captured(1);
    }
    QCOMPARE(sent, (QStringList{"POST 101", "PUT 101", "POST 102", "PUT 102", "POST 103", "PUT 103"}));
    QCOMPARE(intsOf(log["uploadQueueChanged"], 0), (QList<int>{1, 2, 3, 2, 1, 0}));
    QCOMPARE(intsOf(log["setMaximumProgressBar"], 0), (QList<int>{2, 2, 2}));
    QCOMPARE(intsOf(log["setValueProgressBar"], 0), (QList<int>{1, 2, 1, 2, 1, 2}));
    QCOMPARE(log.count("allDoneProgressBar"), 3);
    QCOMPARE(log.count("uploadRetryScheduled"), 0);
    QCOMPARE(markerOf(standIn->storedObject(documentObject(102))), QStringLiteral("b"));
}

void tst_UploadQueue::failureKinds_data()
{
    QTest::addColumn<QString>("faultText");
    // The fault is cleared once this many attempts failed (0: it ends by itself).
    QTest::addColumn<int>("clearAfter");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QList<int>>("delays");
    // Versions the storage accepted: a lost acknowledgement stores one twice.
    QTest::addColumn<int>("versions");

    QTest::newRow("assign 500") << "assign:fail=2,status=500" << 0 << 10000 << QList<int>{40, 80} << 1;
    QTest::newRow("assign notJson") << "assign:notJson" << 2 << 10000 << QList<int>{40, 80} << 1;
    QTest::newRow("assign noFields") << "assign:noFields" << 2 << 10000 << QList<int>{40, 80} << 1;
    QTest::newRow("assign cut short") << "assign:truncate" << 1 << 10000 << QList<int>{40} << 1;
    QTest::newRow("PUT 503") << "storage-put:fail=2,status=503" << 0 << 10000 << QList<int>{40, 80} << 1;
    QTest::newRow("PUT hang") << "storage-put:hang" << 2 << 500 << QList<int>{40, 80} << 1;
    QTest::newRow("PUT afterStore") << "storage-put:fail=1,afterStore" << 0 << 10000 << QList<int>{40} << 2;
    QTest::newRow("PUT hang afterStore") << "storage-put:hang,afterStore" << 1 << 500 << QList<int>{40} << 2;
}

// Each failure ends with the job done once, its document stored, after the
// back-off's delays.
void tst_UploadQueue::failureKinds()
{
    QFETCH(QString, faultText);
    QFETCH(int, clearAfter);
    QFETCH(int, timeoutMs);
    QFETCH(QList<int>, delays);
    QFETCH(int, versions);

    const int session = 104;
    const QString marker = QString::fromLatin1(QTest::currentDataTag());
    const int before = int(standIn->storedHistory(documentObject(session)).size());
    client->setTransferTimeouts(timeoutMs, timeoutMs);
    QString group;
    const DemoFaults::Fault fault = parsedFault(faultText, &group);
    standIn->setFault(group, fault);
    SignalLog log(client.get());
    QObject context; // the connection dies with this test
    connect(client.get(), &ServerVisualizer::uploadRetryScheduled, &context, [&](int, int failures) {
        if (failures == clearAfter)
            standIn->clearFaults();
    });

    client->queueUpload(documentJob(session, marker));
    QVERIFY(waitUntilDrained());

    QCOMPARE(intsOf(log["uploadRetryScheduled"], 0), delays);
    QList<int> failures;
    for (int i = 1; i <= delays.size(); ++i)
        failures << i;
    QCOMPARE(intsOf(log["uploadRetryScheduled"], 1), failures);
    QCOMPARE(log.count("allDoneProgressBar"), 1);
    QCOMPARE(log.count("uploadNotice"), 0);
    QCOMPARE(markerOf(standIn->storedObject(documentObject(session))), marker);
    const QList<QByteArray> history = standIn->storedHistory(documentObject(session));
    QCOMPARE(int(history.size()) - before, versions);
    QCOMPARE(markersOf(history.mid(before)), QStringList(versions, marker));
}

// 1 s doubling to 60 s in the product; here 5 ms doubling to 40 ms. Thirteen
// failures: told at the 3rd and the 13th, then "All changes saved"; the next
// job starts from the first delay again.
void tst_UploadQueue::backOffAndNotices()
{
    client->setRetryDelays(5, 40);
    standIn->setFault(QStringLiteral("assign"), [] {
        DemoFaults::Fault f;
        f.failNext = 13;
        f.failStatus = 500;
        return f;
    }());
    SignalLog log(client.get());
    QList<int> failuresAtNotice;
    auto context = std::make_unique<QObject>();
    connect(client.get(), &ServerVisualizer::uploadNotice, context.get(),
            [&] { failuresAtNotice << int(log["uploadRetryScheduled"].size()); });

    client->queueUpload(documentJob(105, QStringLiteral("after an outage")));
    QVERIFY(waitUntilDrained());
    QCOMPARE(intsOf(log["uploadRetryScheduled"], 0),
             (QList<int>{5, 10, 20, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40}));
    QStringList notices;
    for (const QList<QVariant> &call : log["uploadNotice"])
        notices << call.at(0).toString();
    QCOMPARE(notices, (QStringList{QString::fromUtf8("Changes not yet saved – retrying"),
                                   QString::fromUtf8("Changes not yet saved – retrying"),
                                   QStringLiteral("All changes saved")}));
    QCOMPARE(failuresAtNotice, (QList<int>{3, 13, 13}));
    QCOMPARE(log.count("allDoneProgressBar"), 1);
    context.reset();

    standIn->setFault(QStringLiteral("assign"), [] {
        DemoFaults::Fault f;
        f.failNext = 1;
        f.failStatus = 500;
        return f;
    }());
    SignalLog next(client.get());
    client->queueUpload(documentJob(105, QStringLiteral("next")));
    QVERIFY(waitUntilDrained());
    QCOMPARE(intsOf(next["uploadRetryScheduled"], 0), QList<int>{5});
    QCOMPARE(next.count("uploadNotice"), 0);
}

// A dermatoscopic image added to a lesion of a secondary session goes with
// that session's own document; the principal's is saved as its own.
void tst_UploadQueue::secondarySessionKeepsItsDocument()
{
    auto sessionOf = [this](int id) {
        const QJsonDocument stored = QJsonDocument::fromJson(standIn->storedObject(documentObject(id)));
        auto session = QSharedPointer<SessionVisualizer>::create(
            QStringLiteral("sessions/%1/%2").arg(kPatient).arg(id), kPatient, id, stored,
            QDateTime(QDate(2025, 1, 1), QTime(9, 0)));
        session->readSessionJson();
        return session;
    };
    // Sample documents, untouched by the tests before.
    auto principal = sessionOf(101);
    auto secondary = sessionOf(102);
    QVERIFY(!principal->getLesions().isEmpty());
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(QColor(180, 120, 100));

    SignalLog log(client.get());
    const UploadJob imageJob =
        UploadJob::fromSession(*secondary, 'D', picture, QStringLiteral("20261210_1e.jpg"));
    const UploadJob principalJob = UploadJob::fromSession(*principal, 'L');
    QCOMPARE(imageJob.sessionId, 102);
    client->queueUpload(imageJob);
    client->queueUpload(principalJob);
    QVERIFY(waitUntilDrained());

    const QJsonObject stored102 =
        QJsonDocument::fromJson(standIn->storedObject(documentObject(102))).object();
    const QJsonObject stored101 =
        QJsonDocument::fromJson(standIn->storedObject(documentObject(101))).object();
    QCOMPARE(stored102, imageJob.sessionJson.object());
    QCOMPARE(stored101, principalJob.sessionJson.object());
    QVERIFY(stored101 != stored102);
    QVERIFY(standIn->storedObject(QStringLiteral("sessions/11/102/dermatoscopic/20261210_1e.jpg"))
                .startsWith("\xFF\xD8"));
    QVERIFY(standIn->storedObject(QStringLiteral("sessions/11/101/dermatoscopic/20261210_1e.jpg")).isEmpty());
    QCOMPARE(intsOf(log["setMaximumProgressBar"], 0), (QList<int>{3, 2}));
    QCOMPARE(intsOf(log["setValueProgressBar"], 0), (QList<int>{1, 2, 3, 1, 2}));
    QCOMPARE(log.count("allDoneProgressBar"), 2);
}

// abortPostS3() is the queue's: a report upload in flight is not aborted.
void tst_UploadQueue::reportUploadIgnoresAbortPostS3()
{
    RequestLog requests(client.get());
    SignalLog log(client.get());
    QNetworkRequest request(
        QUrl(standIn->baseUrl() + QStringLiteral("/api/patients/11/sessions/101/reports/")));
    client->getRequest(QUrl(standIn->baseUrl() + QStringLiteral("/api/me/")), QStringLiteral("ec2"),
                       QStringLiteral("tokenProbe"));
    QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 1, 10000);
    request.setRawHeader("X-Session-Token", requests.requests.front().request.rawHeader("X-Session-Token"));
    client->postRequest(request, QByteArray(), QStringLiteral("ec2"), QStringLiteral("reportTarget"));
    QTRY_COMPARE_WITH_TIMEOUT(int(requests.requests.size()), 2, 10000);
    const QUrl target(QJsonDocument::fromJson(requests.requests.back().unreadBody)
                          .object()
                          .value("url")
                          .toObject()
                          .value("url")
                          .toString());
    QVERIFY(target.isValid());

    DemoFaults::Fault slow;
    slow.latencyMs = 300;
    standIn->setFault(QStringLiteral("storage-put"), slow);
    client->putFile(target, QByteArray("%PDF-1.4\n%%EOF\n"), QStringLiteral("report"),
                    QStringLiteral("uploadReport"));
    QTest::qWait(50);
    emit client->abortPostS3();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("reportUploaded"), 1, 10000);
    QCOMPARE(requests.requests.back().error, QNetworkReply::NoError);
}

// Logout while the document PUT is on its way: it is aborted and nothing of
// that login is stored, not even after another user logs in and saves.
void tst_UploadQueue::logoutWithPutInFlight()
{
    DemoFaults::Fault slow;
    slow.latencyMs = 600;
    standIn->setFault(QStringLiteral("storage-put"), slow);
    const QList<QByteArray> before101 = standIn->storedHistory(documentObject(101));
    const QList<QByteArray> before102 = standIn->storedHistory(documentObject(102));
    SignalLog log(client.get());

    client->queueUpload(documentJob(101, QStringLiteral("left at logout")));
    client->queueUpload(documentJob(102, QStringLiteral("also left")));
    // The first step answered: the document PUT is in flight.
    QTRY_COMPARE_WITH_TIMEOUT(intsOf(log["setValueProgressBar"], 0), QList<int>{1}, 10000);
    client->clearSession();
    QCOMPARE(client->uploadQueueSize(), 0);
    QCOMPARE(intsOf(log["uploadQueueChanged"], 0).last(), 0);
    // Saved while logged out (after the token went): nothing to queue.
    client->queueUpload(documentJob(102, QStringLiteral("saved while logged out")));
    QCOMPARE(client->uploadQueueSize(), 0);

    standIn->clearFaults();
    QVERIFY(logIn(*client, *standIn.server, QStringLiteral("doctor")));
    client->queueUpload(documentJob(103, QStringLiteral("next login")));
    QVERIFY(waitUntilDrained());
    QTest::qWait(700); // past the latency the aborted PUT would have waited

    QCOMPARE(markerOf(standIn->storedObject(documentObject(103))), QStringLiteral("next login"));
    QCOMPARE(standIn->storedHistory(documentObject(101)), before101);
    QCOMPARE(standIn->storedHistory(documentObject(102)), before102);
    QCOMPARE(log.count("allDoneProgressBar"), 1);
    QCOMPARE(log.count("uploadRetryScheduled"), 0);
}

// The queue is dropped while the first step's answer is still to come, and
// the next save starts at once. That late answer belongs to the dropped
// job: taken for the new job's, it would send the new document to the old
// session's target.
void tst_UploadQueue::lateAnswerOfADroppedJob()
{
    DemoFaults::Fault slow;
    slow.latencyMs = 400;
    standIn->setFault(QStringLiteral("assign"), slow);
    const QList<QByteArray> before101 = standIn->storedHistory(documentObject(101));
    const int before103 = int(standIn->storedHistory(documentObject(103)).size());
    RequestLog requests(client.get());
    SignalLog log(client.get());

    client->queueUpload(documentJob(101, QStringLiteral("dropped")));
    QTest::qWait(100);
    client->dropUploads();
    client->queueUpload(documentJob(103, QStringLiteral("after the late answer")));
    QVERIFY(waitUntilDrained());
    QTest::qWait(500);

    QCOMPARE(standIn->storedHistory(documentObject(101)), before101);
    const QList<QByteArray> history103 = standIn->storedHistory(documentObject(103));
    QCOMPARE(markersOf(history103.mid(before103)), QStringList{QStringLiteral("after the late answer")});
    int puts = 0;
    for (const SentRequest &r : requests.requests)
        puts += r.verb == "PUT" ? 1 : 0;
    QCOMPARE(puts, 1);
    QCOMPARE(log.count("allDoneProgressBar"), 1);
    QCOMPARE(log.count("uploadRetryScheduled"), 0);
}

QTEST_MAIN(tst_UploadQueue)
#include "tst_uploadqueue.moc"
