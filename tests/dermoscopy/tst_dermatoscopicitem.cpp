#include "dermoscopy/DermatoGraphicsView.h"
#include "dermoscopy/DermatoPixmapItem.h"
#include "dermoscopy/DermatoscopicItem.h"
#include "session/LesionVisualizer.h"
#include "session/SessionTestSupport.h"

#include <QApplication>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QSignalSpy>
#include <QThreadPool>
#include <QtTest>

using namespace SessionTestSupport;

namespace {

const QString mainId = QStringLiteral("20230517_abc");
const QString secondId = QStringLiteral("20230517_def");

QSharedPointer<SessionVisualizer> sessionWithGroup()
{
    const QJsonArray outline{QJsonObject{{"x", 0}, {"y", 0}}, QJsonObject{{"x", 10}, {"y", 0}},
                             QJsonObject{{"x", 10}, {"y", 5}}};
    const QJsonObject lesion{{"numericID", 1},
                             {"radius", 1.0},
                             {"dermatoscopicIds", QJsonArray{QJsonArray{mainId, secondId}}},
                             {"dermatoscopicContour", QJsonArray{QJsonArray{outline, QJsonArray()}}}};
    return makeSession(QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                                   {"Lesions", QJsonObject{{"0", QJsonArray{lesion}}}}});
}

QSharedPointer<LesionVisualizer> lesionOf(const QSharedPointer<SessionVisualizer> &session)
{
    return session->getLesions().value(0).at(0);
}

void store(const QSharedPointer<SessionVisualizer> &session, const QString &name, const QSize &size)
{
    session->addDermatoscopicFile(name + QStringLiteral(".jpg"), jpeg(size), 1);
}

// Grey with a two-pixel black column at x = 600: sharp at full size, washed
// out in a 300 by 200 preview scaled back up.
QByteArray lineJpeg(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(160, 160, 160));
    for (int y = 0; y < size.height(); ++y)
        for (int x = 600; x < 602; ++x)
            image.setPixel(x, y, qRgb(0, 0, 0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 95);
    return bytes;
}

QPixmap previewOf(const QByteArray &bytes)
{
    return QPixmap::fromImage(LesionVisualizer::decodePreview(bytes, LesionVisualizer::previewBound));
}

void waitForPool()
{
    QTRY_VERIFY(QThreadPool::globalInstance()->activeThreadCount() == 0);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

class tst_DermatoscopicItem : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();
    void downloadedItem();
    void placeholderItem();
    void centre_data();
    void centre();
    void downloadSwitchesToDownloaded();
    void requestWithFilesPresentStillAsks();
    void itemDestroyedWhileLoading();
    void pixmapItemPreviewThenFull();
    void pixmapItemDropsStaleDecode();
    void pixmapItemDestroyedWhileDecoding();
    void viewZoomLimits_data();
    void viewZoomLimits();
    void screenshot();
};

void tst_DermatoscopicItem::cleanupTestCase()
{
    // Download requests show notifications; none may outlive the application.
    qDeleteAll(QApplication::topLevelWidgets());
}

void tst_DermatoscopicItem::downloadedItem()
{
    const auto session = sessionWithGroup();
    store(session, mainId + "s", QSize(1600, 1200));
    store(session, mainId, QSize(2400, 1800));
    store(session, secondId, QSize(800, 600));
    DermatoscopicItem item(lesionOf(session), {mainId, secondId});

    QVERIFY(item.isDownloaded());
    QCOMPARE(item.getDate(), QDate(2023, 5, 17));
    QCOMPARE(DermatoscopicItem::dateLabelOf(mainId), QStringLiteral("2023/05/17"));
    QCOMPARE(item.getIcon().availableSizes().value(0), QSize(200, 150));
    // The central 1200 by 1200 square of the thumbnail, as a circle.
    QCOMPARE(item.getIcons().at(0).availableSizes().value(0), QSize(1200, 1200));
    const QImage circle = item.getIcons().at(0).pixmap(QSize(1200, 1200)).toImage();
    QCOMPARE(qAlpha(circle.pixel(2, 2)), 0);
    QCOMPARE(qAlpha(circle.pixel(120, 120)), 0); // outside a circle, inside a rounded square
    QCOMPARE(qAlpha(circle.pixel(600, 2)), 255);
    QCOMPARE(qAlpha(circle.pixel(600, 600)), 255);
    // The second id has no thumbnail of its own: its full image stands in.
    QCOMPARE(item.getIcons().at(1).availableSizes().value(0), QSize(600, 600));

    // Both full images arrive from the background without being asked for.
    QTRY_VERIFY(item.isImageLoaded(0) && item.isImageLoaded(1));
    QCOMPARE(item.getImageSize(0), QSize(2400, 1800));
    QCOMPARE(item.getImage(1).size(), QSize(800, 600));
    QVERIFY(!item.getRegion().isNull());
}

void tst_DermatoscopicItem::placeholderItem()
{
    const auto session = sessionWithGroup();
    DermatoscopicItem item(lesionOf(session), {mainId});
    QVERIFY(!item.isDownloaded());
    // The 400 by 100 placeholder at the icon width of 200.
    QCOMPARE(item.getIcon().availableSizes().value(0), QSize(200, 50));
    QVERIFY(item.getIcons().at(0).isNull());
    const QImage placeholder = DermatoscopicItem::downloadPlaceholder().toImage();
    QCOMPARE(placeholder.size(), QSize(400, 100));
    QCOMPARE(QColor(placeholder.pixel(300, 50)), QColor(Qt::gray));
    QVERIFY(QColor(placeholder.pixel(60, 50)) != QColor(Qt::gray)); // the download icon
    waitForPool();
    QVERIFY(!item.isImageLoaded(0));
    QCOMPARE(item.getImageSize(0), QSize(-1, -1));
}

void tst_DermatoscopicItem::centre_data()
{
    QTest::addColumn<bool>("withOutline");
    QTest::addColumn<QPoint>("centre");
    QTest::newRow("outline mean, truncated") << true << QPoint(6, 1);
    QTest::newRow("no outline: middle of the size") << false << QPoint(400, 300);
}

void tst_DermatoscopicItem::centre()
{
    QFETCH(bool, withOutline);
    QFETCH(QPoint, centre);
    const auto session = sessionWithGroup();
    // The second id of the group has an empty outline.
    DermatoscopicItem item(lesionOf(session), {withOutline ? mainId : secondId});
    QCOMPARE(item.getDermatoscopicCenter(QSize(800, 600)), centre);
    // Cached with an outline; recomputed from the size without.
    QCOMPARE(item.getDermatoscopicCenter(QSize(200, 100)), withOutline ? centre : QPoint(100, 50));
}

void tst_DermatoscopicItem::downloadSwitchesToDownloaded()
{
    const auto session = sessionWithGroup();
    const auto lesion = lesionOf(session);
    DermatoscopicItem item(lesion, {mainId});
    QSignalSpy asked(lesion.data(), &LesionVisualizer::download);
    QSignalSpy updated(&item, &DermatoscopicItem::updated);
    item.requestDownload();
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.at(0).at(0).toString(), mainId);
    QCOMPARE(asked.at(0).at(1).toInt(), -1);

    store(session, mainId + "s", QSize(400, 300));
    emit lesion->downloadDone(mainId + "s", -2);
    QVERIFY(!item.isDownloaded());
    store(session, mainId, QSize(1200, 900));
    emit lesion->downloadDone(mainId, 1);
    QVERIFY(item.isDownloaded());
    QCOMPARE(updated.count(), 1);
    QCOMPARE(updated.at(0).at(0).toInt(), int(DermatoscopicItem::IconUpdated));
    QCOMPARE(item.getIcon().availableSizes().value(0), QSize(200, 150));
    QTRY_VERIFY(item.isImageLoaded(0));
    QCOMPARE(item.getImageSize(0), QSize(1200, 900));

    // No longer listening once downloaded.
    emit lesion->downloadDone(mainId, 1);
    QCOMPARE(updated.count(), 1);
}

void tst_DermatoscopicItem::requestWithFilesPresentStillAsks()
{
    const auto session = sessionWithGroup();
    const auto lesion = lesionOf(session);
    store(session, mainId + "s", QSize(400, 300));
    store(session, mainId, QSize(1200, 900));
    DermatoscopicItem item(lesion, {mainId});
    QSignalSpy asked(lesion.data(), &LesionVisualizer::download);
    item.requestDownload();
    QCOMPARE(asked.count(), 1);
    QVERIFY(item.isDownloaded());
}

void tst_DermatoscopicItem::itemDestroyedWhileLoading()
{
    auto session = sessionWithGroup();
    store(session, mainId + "s", QSize(300, 200));
    store(session, mainId, QSize(5000, 4000));
    auto item = QSharedPointer<DermatoscopicItem>::create(lesionOf(session), std::vector<QString>{mainId});
    QVERIFY(QThreadPool::globalInstance()->activeThreadCount() > 0);
    // The item and the session go while the decode runs.
    item.reset();
    session.reset();
    waitForPool();
}

void tst_DermatoscopicItem::pixmapItemPreviewThenFull()
{
    QGraphicsScene scene;
    auto *item = new DermatoPixmapItem(&scene);
    scene.addItem(item);
    const QByteArray bytes = lineJpeg(QSize(1200, 800));
    item->showImage(previewOf(bytes), bytes);
    // At once: the preview at the image's true size, the line washed out.
    QCOMPARE(item->pixmap().size(), QSize(1200, 800));
    QVERIFY(!item->isShowingFullImage());
    QVERIFY(qGray(item->pixmap().toImage().pixel(600, 400)) > 60);
    QTRY_VERIFY(item->isShowingFullImage());
    QCOMPARE(item->pixmap().size(), QSize(1200, 800));
    QVERIFY(qGray(item->pixmap().toImage().pixel(600, 400)) < 40);
}

void tst_DermatoscopicItem::pixmapItemDropsStaleDecode()
{
    QGraphicsScene scene;
    auto *item = new DermatoPixmapItem(&scene);
    scene.addItem(item);
    // The first image decodes slowly, the second fast: without the generation
    // check the first result would arrive last and win.
    const QByteArray slow = jpeg(QSize(5000, 4000));
    const QByteArray fast = lineJpeg(QSize(1200, 800));
    item->showImage(previewOf(slow), slow);
    QCOMPARE(item->pixmap().size(), QSize(5000, 4000));
    QCoreApplication::processEvents(); // the first decode starts
    item->showImage(previewOf(fast), fast);
    QTRY_VERIFY(item->isShowingFullImage());
    waitForPool();
    QCOMPARE(item->pixmap().size(), QSize(1200, 800));
    QVERIFY(qGray(item->pixmap().toImage().pixel(600, 400)) < 40);
}

void tst_DermatoscopicItem::pixmapItemDestroyedWhileDecoding()
{
    QGraphicsScene scene;
    auto *item = new DermatoPixmapItem(&scene);
    scene.addItem(item);
    const QByteArray bytes = jpeg(QSize(5000, 4000));
    item->showImage(previewOf(bytes), bytes);
    QTRY_VERIFY(QThreadPool::globalInstance()->activeThreadCount() > 0);
    delete item;
    waitForPool();
    QVERIFY(scene.items().isEmpty());

    // And the owner going first drops the delivery too.
    auto *owner = new QGraphicsScene;
    auto *orphan = new DermatoPixmapItem(owner);
    orphan->showImage(previewOf(bytes), bytes);
    QTRY_VERIFY(QThreadPool::globalInstance()->activeThreadCount() > 0);
    delete owner;
    waitForPool();
    QVERIFY(!orphan->isShowingFullImage());
    delete orphan;
}

void tst_DermatoscopicItem::screenshot()
{
    const auto session = sessionWithGroup();
    store(session, mainId + "s", QSize(640, 480));
    store(session, mainId, QSize(1200, 900));
    DermatoscopicItem downloaded(lesionOf(session), {mainId, secondId});
    const auto other = sessionWithGroup();
    DermatoscopicItem missing(lesionOf(other), {mainId});

    QWidget panel;
    panel.setStyleSheet("background: rgb(33,33,36);");
    auto *layout = new QHBoxLayout(&panel);
    for (const QIcon &icon : {downloaded.getIcon(), missing.getIcon(), downloaded.getIcons().at(0)}) {
        auto *label = new QLabel;
        label->setPixmap(icon.pixmap(icon.availableSizes().value(0)).scaled(200, 200, Qt::KeepAspectRatio));
        layout->addWidget(label);
    }
    QGraphicsScene scene;
    auto *view = new QGraphicsView(&scene);
    view->setFixedSize(420, 300);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *item = new DermatoPixmapItem(&scene);
    scene.addItem(item);
    const QByteArray bytes = lineJpeg(QSize(1200, 800));
    item->showImage(previewOf(bytes), bytes);
    layout->addWidget(view);
    panel.show();
    view->fitInView(item, Qt::KeepAspectRatio);
    QVERIFY(panel.grab().save(screenshotPath("dermatoscopic_item_preview.png")));
    QTRY_VERIFY(item->isShowingFullImage());
    QVERIFY(panel.grab().save(screenshotPath("dermatoscopic_item_full.png")));
}

void tst_DermatoscopicItem::viewZoomLimits_data()
{
    QTest::addColumn<QList<int>>("wheelSteps");
    QTest::addColumn<double>("scaleOverFit");
    // One wheel notch is 120: 1.0015^120 = 1.197.
    QTest::newRow("one notch in") << QList<int>{120} << 1.197;
    QTest::newRow("out below the fit stops at the fit") << QList<int>{-120} << 1.0;
    QTest::newRow("far in stops at four times") << QList<int>{1200, 1200} << 4.0;
    QTest::newRow("in then out") << QList<int>{240, -120} << 1.197;
}

void tst_DermatoscopicItem::viewZoomLimits()
{
    QFETCH(QList<int>, wheelSteps);
    QFETCH(double, scaleOverFit);
    QGraphicsScene scene;
    QImage image(2000, 1000, QImage::Format_RGB32);
    image.fill(Qt::gray);
    scene.addPixmap(QPixmap::fromImage(image));
    DermatoGraphicsView view;
    view.setScene(&scene);
    view.setSceneRect(0, 0, 2000, 1000);
    QSignalSpy sized(&view, &DermatoGraphicsView::sizeChanged);
    view.resize(420, 320);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(sized.count() >= 1);
    const double fit = view.fitScale();
    QVERIFY(fit > 0.1 && fit < 0.25);
    for (int delta : wheelSteps) {
        QWheelEvent wheel(QPointF(100, 100), view.viewport()->mapToGlobal(QPointF(100, 100)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view.viewport(), &wheel);
    }
    QVERIFY2(std::abs(view.currentScale() / fit - scaleOverFit) < 0.002,
             qPrintable(QString::number(view.currentScale() / fit)));
    QVERIFY(view.isUserZoomed());
}

QTEST_MAIN(tst_DermatoscopicItem)
#include "tst_dermatoscopicitem.moc"
