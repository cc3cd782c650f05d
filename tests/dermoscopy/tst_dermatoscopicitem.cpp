#include "dermoscopy/DermatoGraphicsView.h"
#include "dermoscopy/DermatoImageBudget.h"
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
    void previewIsBoundedByTheScreen_data();
    void previewIsBoundedByTheScreen();
    void budgetEvictsTheOldestUnpinned();
    void fullImagesStayWithinTheBudget();
    void waitingImageDecodesWhenRoomIsMade();
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

    // Sizes come from the JPEG headers at once; nothing is decoded at full
    // size until a view asks for it.
    QCOMPARE(item.getImageSize(0), QSize(2400, 1800));
    QCOMPARE(item.getImageSize(1), QSize(800, 600));
    QVERIFY(!item.getRegion().isNull());
    waitForPool();
    QVERIFY(!item.isImageLoaded(0) && !item.isImageLoaded(1));
    QCOMPARE(item.fullImageCount(), 0);
    item.requestImage(0);
    item.requestImage(1);
    QTRY_VERIFY(item.isImageLoaded(0) && item.isImageLoaded(1));
    QCOMPARE(item.loadedImage(0).size(), QSize(2400, 1800));
    QCOMPARE(item.getImage(1).size(), QSize(800, 600));
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
    QCOMPARE(item.getImageSize(0), QSize(1200, 900));
    item.requestImage(0);
    QTRY_VERIFY(item.isImageLoaded(0));
    QCOMPARE(item.loadedImage(0).size(), QSize(1200, 900));

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
    item->requestPreview(0);
    item->requestImage(0);
    QVERIFY(QThreadPool::globalInstance()->activeThreadCount() > 0);
    // The item and the session go while the decode runs.
    item.reset();
    session.reset();
    waitForPool();
}

void tst_DermatoscopicItem::previewIsBoundedByTheScreen_data()
{
    QTest::addColumn<QSize>("full");
    QTest::addColumn<bool>("reduced");
    const QSize screen = DermatoscopicItem::previewBound();
    QTest::newRow("larger than the screen") << QSize(screen.width() * 2, screen.height() * 2) << true;
    QTest::newRow("wider than the screen") << QSize(screen.width() + 400, screen.height() / 2) << true;
    QTest::newRow("smaller: as it is") << QSize(screen.width() / 2, screen.height() / 2) << false;
}

void tst_DermatoscopicItem::previewIsBoundedByTheScreen()
{
    QFETCH(QSize, full);
    QFETCH(bool, reduced);
    const auto session = sessionWithGroup();
    store(session, mainId + "s", QSize(400, 300));
    store(session, mainId, full);
    DermatoscopicItem item(lesionOf(session), {mainId});
    QSignalSpy loaded(&item, &DermatoscopicItem::previewLoaded);
    item.requestPreview(0);
    QTRY_COMPARE(loaded.count(), 1);
    const QSize preview = item.getPreview(0).size();
    const QSize bound = DermatoscopicItem::previewBound();
    QVERIFY2(preview.width() <= bound.width() && preview.height() <= bound.height(),
             qPrintable(QStringLiteral("%1x%2").arg(preview.width()).arg(preview.height())));
    QCOMPARE(preview == full, !reduced);
    // The geometry stays the full image's.
    QCOMPARE(item.getImageSize(0), full);
    QVERIFY(!item.isImageLoaded(0));
}

void tst_DermatoscopicItem::budgetEvictsTheOldestUnpinned()
{
    DermatoImageBudget budget(3);
    QObject a, b, c, d, e;
    QStringList evicted;
    auto evictor = [&evicted](const QString &name) { return [&evicted, name] { evicted << name; }; };
    QVERIFY(budget.reserve(&a, 0, true, evictor("a")));
    QVERIFY(budget.reserve(&b, 0, false, evictor("b")));
    QVERIFY(budget.reserve(&c, 0, false, evictor("c")));
    budget.markHeld(&a, 0);
    budget.markHeld(&b, 0);
    // c is still being decoded: it cannot be taken back.
    QVERIFY(budget.reserve(&d, 0, false, evictor("d")));
    QCOMPARE(evicted, QStringList{"b"});
    QCOMPARE(budget.count(), 3);
    // a is pinned, c and d are being decoded: no room.
    QVERIFY(!budget.reserve(&e, 0, true, evictor("e")));
    budget.markHeld(&c, 0);
    budget.markHeld(&d, 0);
    budget.touch(&c, 0);
    QVERIFY(budget.reserve(&e, 0, true, evictor("e")));
    QCOMPARE(evicted, (QStringList{"b", "d"}));
    QCOMPARE(budget.peak(), 3);
    // A holder that goes gives its slots back.
    QSignalSpy freed(&budget, &DermatoImageBudget::slotFreed);
    {
        QObject gone;
        budget.release(&c, 0);
        QVERIFY(budget.reserve(&gone, 7, true, evictor("gone")));
        QCOMPARE(budget.count(), 3);
    }
    QCOMPARE(budget.count(), 2);
    QVERIFY(freed.count() >= 2);
    QVERIFY(!budget.holds(&b, 0));
    QVERIFY(budget.isPinned(&a, 0));
}

void tst_DermatoscopicItem::fullImagesStayWithinTheBudget()
{
    const auto session = sessionWithGroup();
    std::vector<QString> ids;
    for (int i = 0; i < 5; ++i) {
        ids.push_back(QStringLiteral("20230517_v%1").arg(i));
        store(session, ids.back() + "s", QSize(200, 150));
        store(session, ids.back(), QSize(1600 + 10 * i, 1200));
    }
    DermatoImageBudget budget(2);
    DermatoscopicItem item(lesionOf(session), ids);
    item.setImageBudget(&budget);
    QSignalSpy released(&item, &DermatoscopicItem::imageReleased);
    int most = 0;
    // Shown one after the other, as a pane steps through versions.
    for (int i = 0; i < 5; ++i) {
        if (i > 0)
            item.setImagePinned(i - 1, false);
        item.requestImage(i, true);
        most = std::max(most, item.fullImageCount());
        QTRY_VERIFY(item.isImageLoaded(i));
        most = std::max(most, item.fullImageCount());
        QCOMPARE(item.loadedImage(i).width(), 1600 + 10 * i);
    }
    QCOMPARE(most, 2);
    QCOMPARE(budget.peak(), 2);
    QCOMPARE(item.fullImageCount(), 2);
    QCOMPARE(released.count(), 3);
    QVERIFY(item.isImageLoaded(3) && item.isImageLoaded(4));
    QVERIFY(!item.isImageLoaded(0) && !item.isImageLoaded(2));
}

void tst_DermatoscopicItem::waitingImageDecodesWhenRoomIsMade()
{
    const auto session = sessionWithGroup();
    store(session, mainId + "s", QSize(200, 150));
    store(session, mainId, QSize(1200, 900));
    store(session, secondId, QSize(800, 600));
    DermatoImageBudget budget(1);
    DermatoscopicItem item(lesionOf(session), {mainId, secondId});
    item.setImageBudget(&budget);
    item.requestImage(0, true);
    QTRY_VERIFY(item.isImageLoaded(0));
    // The only slot is pinned: the second image waits.
    item.requestImage(1, true);
    waitForPool();
    QVERIFY(!item.isImageLoaded(1));
    QCOMPARE(item.fullImageCount(), 1);
    QSignalSpy released(&item, &DermatoscopicItem::imageReleased);
    item.setImagePinned(0, false);
    QTRY_VERIFY(item.isImageLoaded(1));
    QCOMPARE(released.count(), 1);
    QCOMPARE(released.at(0).at(0).toInt(), 0);
    QVERIFY(!item.isImageLoaded(0));
    QCOMPARE(budget.peak(), 1);
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
