#include "SessionTestSupport.h"
#include "session/SessionVisualizer.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

using namespace SessionTestSupport;

namespace {
const QString folder = QStringLiteral("sessions/7/11");

QJsonObject entry(const QString &name)
{
    return QJsonObject{{"name", name}, {"url", "https://storage.test/" + name}};
}

QString dermato(const QString &id)
{
    return folder + "/dermatoscopic/" + id + ".jpg";
}
QString clinical(const QString &name)
{
    return folder + "/imgL/" + name + ".jpg";
}

// Two dermatoscopic images and one clinical image.
QJsonDocument listing()
{
    return QJsonDocument(
        QJsonObject{{"dermatos", QJsonArray{entry(dermato("20230102_5")), entry(dermato("20230102_5s"))}},
                    {"generals", QJsonArray{entry(clinical("10_20_30_0"))}}});
}

QSharedPointer<SessionVisualizer> emptySession()
{
    return makeSession(QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}}});
}

QList<int> progressValues(const QSignalSpy &spy)
{
    QList<int> values;
    for (const auto &args : spy)
        values << args.at(0).toInt();
    return values;
}
} // namespace

class tst_SessionDownload : public QObject
{
    Q_OBJECT

private slots:
    void arrivalsInAnyOrder_data();
    void arrivalsInAnyOrder();
    void nothingToFetchSettlesAtTheNextCheck();
    void cancelThenSecondListing_data();
    void cancelThenSecondListing();
    void timerAnnouncesCompletion();
    void centeredSquare_data();
    void centeredSquare();
    void lesionImageIsTheSquareAroundTheLesion();
};

void tst_SessionDownload::arrivalsInAnyOrder_data()
{
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<bool>("silently");
    QTest::newRow("listing order") << QStringList{dermato("20230102_5"), dermato("20230102_5s"),
                                                  clinical("10_20_30_0")}
                                   << QStringList{"D", "D", "C"} << false;
    QTest::newRow("clinical first, silent")
        << QStringList{clinical("10_20_30_0"), dermato("20230102_5s"), dermato("20230102_5")}
        << QStringList{"C", "D", "D"} << true;
    // A duplicate of one image must not stand in for the other.
    QTest::newRow("duplicate then the rest") << QStringList{dermato("20230102_5"), dermato("20230102_5"),
                                                            clinical("10_20_30_0"), dermato("20230102_5s")}
                                             << QStringList{"D", "D", "C", "D"} << false;
}

void tst_SessionDownload::arrivalsInAnyOrder()
{
    QFETCH(QStringList, order);
    QFETCH(QStringList, types);
    QFETCH(bool, silently);
    auto session = emptySession();
    QSignalSpy requests(session.data(), &SessionVisualizer::downloadImage);
    QSignalSpy done(session.data(), &SessionVisualizer::downloadSessionDone);
    QSignalSpy progress(session.data(), &SessionVisualizer::progressBarUpdateValue);

    session->sessionDownloadReply(listing(), silently);
    QCOMPARE(requests.count(), 3);
    QCOMPARE(requests.at(2).at(4).toString(), QStringLiteral("C"));
    QVERIFY(session->isDownloading());

    for (int i = 0; i < order.size(); ++i) {
        session->downloadCheckStatus();
        QCOMPARE(done.count(), 0);
        session->imageDownloaded(order[i], jpeg(QSize(8, 8)), types[i], 1);
    }
    // Arrivals alone change nothing but the folder: the document is unchanged.
    QVERIFY(!session->hasChangesToSave());
    session->downloadCheckStatus();
    QCOMPARE(done.count(), 1);
    QVERIFY(session->isDownloaded());
    QVERIFY(!session->isDownloading());
    QCOMPARE(progressValues(progress), (silently ? QList<int>{40} : QList<int>{40, 70}));
    session->downloadCheckStatus();
    QCOMPARE(done.count(), 1);
}

void tst_SessionDownload::nothingToFetchSettlesAtTheNextCheck()
{
    auto session = emptySession();
    session->storeFile(dermato("20230102_5"), jpeg(QSize(8, 8)), 1);
    session->storeFile(dermato("20230102_5s"), jpeg(QSize(8, 8)), -2);
    QSignalSpy requests(session.data(), &SessionVisualizer::downloadImage);
    session->sessionDownloadReply(listing(), false);
    QCOMPARE(requests.count(), 1);
    QVERIFY(!session->areDermatosDownloaded());
    session->downloadCheckStatus();
    QVERIFY(session->areDermatosDownloaded());
    QVERIFY(!session->isDownloaded());
}

void tst_SessionDownload::cancelThenSecondListing_data()
{
    QTest::addColumn<bool>("failure");
    QTest::newRow("cancelled") << false;
    QTest::newRow("failed") << true;
}

void tst_SessionDownload::cancelThenSecondListing()
{
    QFETCH(bool, failure);
    auto session = emptySession();
    QSignalSpy requests(session.data(), &SessionVisualizer::downloadImage);
    QSignalSpy done(session.data(), &SessionVisualizer::downloadSessionDone);
    QSignalSpy failed(session.data(), &SessionVisualizer::downloadSessionFailed);

    session->sessionDownloadReply(listing(), false);
    session->imageDownloaded(dermato("20230102_5s"), jpeg(QSize(8, 8)), "D", -2);
    if (failure)
        session->errorDownloadingSession();
    else
        session->cancelDownload();
    QCOMPARE(failed.count(), 1);
    QVERIFY(!session->isDownloading());
    // No completion is announced for a round that did not complete.
    session->downloadCheckStatus();
    QCOMPARE(done.count(), 0);
    QVERIFY(!session->isDownloaded());

    // A second listing asks only for what is still missing and completes.
    requests.clear();
    session->sessionDownloadReply(listing(), false);
    QCOMPARE(requests.count(), 2);
    QCOMPARE(requests.at(0).at(2).toString(), dermato("20230102_5"));
    // A late arrival of the first round that this round does not await
    // counts for nothing.
    session->imageDownloaded(dermato("20230102_5s"), jpeg(QSize(8, 8)), "D", -2);
    session->downloadCheckStatus();
    QCOMPARE(done.count(), 0);
    session->imageDownloaded(dermato("20230102_5"), jpeg(QSize(8, 8)), "D", 1);
    session->imageDownloaded(clinical("10_20_30_0"), jpeg(QSize(8, 8)), "C", 1);
    session->downloadCheckStatus();
    QCOMPARE(done.count(), 1);
    QVERIFY(session->isDownloaded());
}

void tst_SessionDownload::timerAnnouncesCompletion()
{
    auto session = emptySession();
    QSignalSpy done(session.data(), &SessionVisualizer::downloadSessionDone);
    session->sessionDownloadReply(listing(), true);
    session->imageDownloaded(dermato("20230102_5s"), jpeg(QSize(8, 8)), "D", -2);
    session->imageDownloaded(clinical("10_20_30_0"), jpeg(QSize(8, 8)), "C", 1);
    session->imageDownloaded(dermato("20230102_5"), jpeg(QSize(8, 8)), "D", 1);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QVERIFY(session->isDownloaded());
}

void tst_SessionDownload::centeredSquare_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QRect>("square");
    QTest::newRow("top-left corner") << QSize(1000, 800) << QRect(0, 0, 20, 10) << QRect(0, 0, 400, 400);
    QTest::newRow("bottom-right corner")
        << QSize(1000, 800) << QRect(990, 790, 10, 10) << QRect(600, 400, 400, 400);
    QTest::newRow("centred") << QSize(1000, 800) << QRect(480, 380, 40, 40) << QRect(299, 199, 400, 400);
    QTest::newRow("large rect") << QSize(1000, 800) << QRect(100, 100, 600, 300) << QRect(99, 0, 600, 600);
    // The square cannot fit: it is cut to the image.
    QTest::newRow("narrow image") << QSize(100, 800) << QRect(40, 390, 20, 20) << QRect(0, 199, 100, 400);
    QTest::newRow("rect beyond the image")
        << QSize(300, 200) << QRect(-50, -50, 1000, 1000) << QRect(0, 0, 300, 200);
    // A clinical image not downloaded yet.
    QTest::newRow("null image") << QSize(0, 0) << QRect(0, 0, 20, 10) << QRect();
}

void tst_SessionDownload::centeredSquare()
{
    QFETCH(QSize, imageSize);
    QFETCH(QRect, rect);
    QFETCH(QRect, square);
    QCOMPARE(SessionVisualizer::centeredSquare(imageSize, rect), square);

    QImage image;
    if (!imageSize.isEmpty()) {
        image = QImage(imageSize, QImage::Format_RGB32);
        image.fill(Qt::white);
        image.setPixel(square.topLeft(), qRgb(255, 0, 0));
    }
    const QImage result = SessionVisualizer::getCenteredSquareImage(image, rect);
    QCOMPARE(result.size(), square.size());
    if (!result.isNull())
        QCOMPARE(result.pixel(0, 0), qRgb(255, 0, 0));
}

void tst_SessionDownload::lesionImageIsTheSquareAroundTheLesion()
{
    auto session = makeSession(QJsonObject{
        {"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
        {"Lesions",
         QJsonObject{
             {"0", QJsonArray{QJsonObject{
                       {"numericID", 1},
                       {"mainPose", QJsonObject{{"x", 20}, {"y", 10}, {"z", 30}, {"alpha", 0}, {"beta", 0}}},
                       {"bbox", QJsonObject{{"x", 480}, {"y", 380}, {"w", 40}, {"h", 40}}},
                       {"instancesBbox",
                        QJsonArray{QJsonObject{{"x", 480}, {"y", 380}, {"w", 40}, {"h", 40}}}}}}}}}});
    const auto lesion = session->getLesions().value(0).at(0);
    // Not downloaded yet: an empty image, at once.
    QVERIFY(session->getLesionImage(lesion).isNull());
    session->storeFile(session->clinicalImagePath(lesion->getMainPose(), 0),
                       jpeg(QSize(1000, 800), Qt::white), 1);
    const QImage image = session->getLesionImage(lesion);
    QCOMPARE(image.size(), QSize(400, 400));
    // The square starts at (299, 199), so the lesion's rectangle (480, 380)
    // lies at (181, 181) in it; its 10-pixel black outline is drawn there,
    // the centre stays light.
    QVERIFY(qGray(image.pixel(181, 200)) < 60);
    QVERIFY(qGray(image.pixel(200, 200)) > 60);
    auto future = session->lesionImageAsync(lesion);
    QTRY_VERIFY(future.isFinished());
    QCOMPARE(future.result().size(), QSize(400, 400));
}

QTEST_MAIN(tst_SessionDownload)
#include "tst_sessiondownload.moc"
