#include "VersionsPatient.h"
#include "dermoscopy/DermatoDialogListView.h"
#include "dermoscopy/DermatoImageBudget.h"
#include "dermoscopy/QtDermatoscopicDialog.h"
#include "dermoscopy/QtImageComparisonWidget.h"
#include "dermoscopy/QtMovableListView.h"
#include "session/DermatoscopicItemModel.h"
#include "statistics/QtSliderAction.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "widgets/QtNotificationWidget.h"

#include <QApplication>
#include <QDir>
#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSplitter>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

QString screenshotDir()
{
    const QString dir = qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QDir::tempPath());
    QDir().mkpath(dir);
    return dir;
}

QStringList notifications()
{
    QStringList texts;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QtNotificationWidget *>(widget) && widget->isVisible())
            for (QLabel *label : widget->findChildren<QLabel *>())
                if (!label->text().isEmpty())
                    texts << label->text();
    return texts;
}

void applyStyleSheet()
{
    QFile file(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    if (file.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
}

// The row of the item whose first id ends so.
int rowOf(const DermatoscopicItemModel *model, const QString &ending)
{
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->itemAt(row)->getIds().front().endsWith(ending))
            return row;
    return -1;
}

void select(QListView *list, int row)
{
    list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect);
}

void clickVersion(QtDermatoscopicDialog &dialog, int side, int version)
{
    QtMovableListView *list = dialog.versionList(side);
    const QModelIndex index = list->model()->index(version, 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
}

// Full-size images held now: by the items and by the dialog (adjusted ones).
int fullImages(const QtDermatoscopicDialog &dialog)
{
    int count = dialog.adjustedFullCount();
    const DermatoscopicItemModel *model = dialog.itemModel();
    for (int row = 0; row < model->rowCount(); ++row)
        count += model->itemAt(row)->fullImageCount();
    return count;
}

QColor pixmapPixel(const QGraphicsPixmapItem *item, const QPointF &scenePoint)
{
    const QPointF local = item->mapFromScene(scenePoint);
    return QColor(item->pixmap().toImage().pixel(local.toPoint()));
}

void waitForPool()
{
    QTRY_VERIFY_WITH_TIMEOUT(QThreadPool::globalInstance()->activeThreadCount() == 0, 30000);
    QCoreApplication::processEvents();
}

} // namespace

class tst_DermatoscopicViewer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void opensTheTwinInThePrincipalSession();
    void lesionWithoutImagesOpensNothing();
    void placement();
    void versionList_data();
    void versionList();
    void rightPaneOnTheSecondSelection();
    void brightnessOfOneVersionOnly();
    void memoryBoundOverTenVersions();
    void superpositionAlignsTheFirstImages();
    void placeholderVersionRefitsWhenItsImageArrives();
    void closedWithRefitAndNewImagePending();

private:
    std::unique_ptr<QtDermatoscopicDialog> open(const QSharedPointer<LesionVisualizer> &lesion,
                                                bool show = true);
    // The ten versions on the right pane, the wide image on the left.
    std::unique_ptr<QtDermatoscopicDialog> openWithTwoPanes();

    VersionsPatient::Loaded m_loaded;
    QString m_tenId;
};

void tst_DermatoscopicViewer::initTestCase()
{
    applyStyleSheet();
    m_loaded = VersionsPatient::load();
    QVERIFY(m_loaded.lesion && m_loaded.twin);
    QCOMPARE(int(m_loaded.lesion->getDermatosopicIds().size()), 1);
    QCOMPARE(int(m_loaded.twin->getDermatosopicIds().size()), 3);
    m_tenId = m_loaded.lesion->getDermatosopicIds().front().front();
}

void tst_DermatoscopicViewer::cleanup()
{
    waitForPool();
    QCOMPARE(DermatoImageBudget::shared()->count(), 0);
    DermatoImageBudget::shared()->resetPeak();
}

void tst_DermatoscopicViewer::cleanupTestCase()
{
    qDeleteAll(QApplication::topLevelWidgets());
}

std::unique_ptr<QtDermatoscopicDialog>
tst_DermatoscopicViewer::open(const QSharedPointer<LesionVisualizer> &lesion, bool show)
{
    std::unique_ptr<QtDermatoscopicDialog> dialog(QtDermatoscopicDialog::create(lesion, nullptr));
    if (dialog && show) {
        // Larger than the offscreen screen, as a doctor's screen is.
        dialog->setWindowState(Qt::WindowNoState);
        dialog->resize(1900, 1000);
        dialog->show();
        if (!QTest::qWaitForWindowExposed(dialog.get()))
            return nullptr;
    }
    return dialog;
}

std::unique_ptr<QtDermatoscopicDialog> tst_DermatoscopicViewer::openWithTwoPanes()
{
    auto dialog = open(m_loaded.lesion);
    if (!dialog)
        return nullptr;
    select(dialog->itemList(QtDermatoscopicDialog::leftSide),
           rowOf(dialog->itemModel(), QStringLiteral("_v01")));
    return dialog;
}

void tst_DermatoscopicViewer::opensTheTwinInThePrincipalSession()
{
    // Opened from the newer session's lesion: the principal session's twin.
    auto dialog = open(m_loaded.twin);
    QVERIFY(dialog);
    QCOMPARE(dialog->objectName(), QStringLiteral("QtDermatoscopicDialog"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Dermatoscopic Image Viewer"));
    QVERIFY(dialog->findChild<QSplitter *>(QStringLiteral("horizontalSplitter")));
    QVERIFY(dialog->findChild<QWidget *>(QStringLiteral("dermaFrame")));
    QVERIFY(dialog->findChild<QPushButton *>(QStringLiteral("zoomInButtonD")));
    QVERIFY(dialog->findChild<QPushButton *>(QStringLiteral("zoomOutButtonD")));
    QVERIFY(dialog->findChild<QLabel *>(QStringLiteral("label_brightness")));
    QVERIFY(dialog->findChild<QLabel *>(QStringLiteral("label_sharpness")));
    QCOMPARE(dialog->itemList(QtDermatoscopicDialog::leftSide)->objectName(),
             QStringLiteral("dermatoDialogLeftListView"));
    QCOMPARE(dialog->itemList(QtDermatoscopicDialog::leftSide)->width(), 166);
    // Its own group first, then the twin's three; listed newest first.
    QCOMPARE(dialog->itemModel()->rowCount(), 4);
    QCOMPARE(dialog->itemModel()->itemAt(3)->getIds().front(), m_tenId);
    QCOMPARE(dialog->itemModel()->itemAt(3)->getLesion(), m_loaded.lesion);
    QVERIFY(dialog->itemModel()->itemAt(0)->getIds().front().endsWith(QLatin1String("_wide")));
    // Row 0 on the left pane, one pane only.
    QCOMPARE(dialog->shownItem(QtDermatoscopicDialog::leftSide), dialog->itemModel()->itemAt(0));
    QVERIFY(!dialog->view(QtDermatoscopicDialog::rightSide));
    QVERIFY(dialog->isFirstClick());
    QVERIFY(!dialog->compareButton()->isVisible());
    QVERIFY(!dialog->superpositionButton()->isVisible());
    // A pane's view shows its image's rectangle, fitted keeping the ratio.
    GraphicsView *left = dialog->view(QtDermatoscopicDialog::leftSide);
    const QRectF wide = dialog->sceneRects(dialog->itemModel()->itemAt(0)->getIds().front()).front();
    QCOMPARE(left->sceneRect(), wide);
    QCOMPARE(wide.size(), QSizeF(3000, 1000));
    QTRY_VERIFY(left->currentScale() > 0);
    QCOMPARE(left->transform().m11(), left->transform().m22());
    QVERIFY(std::abs(wide.width() * left->currentScale() - left->viewport()->width()) < 6);
}

void tst_DermatoscopicViewer::lesionWithoutImagesOpensNothing()
{
    // A lesion of the newer session without any dermatoscopic image and
    // without a twin that has some.
    QSharedPointer<LesionVisualizer> bare;
    for (const auto &list : m_loaded.newer->getLesions())
        for (const QSharedPointer<LesionVisualizer> &lesion : list)
            if (!lesion->hasDermatoscopicGroups() && !bare) {
                bool historic = false;
                for (const auto &other : lesion->getHistoricLesions())
                    historic = historic || other->hasDermatoscopicGroups();
                if (!historic)
                    bare = lesion;
            }
    QVERIFY(bare);
    QWidget parent;
    QVERIFY(!QtDermatoscopicDialog::create(bare, &parent));
    QVERIFY(parent.findChildren<QtDermatoscopicDialog *>().isEmpty());
    QTRY_VERIFY(notifications().contains(QStringLiteral("This lesion has no dermatoscopic images")));
}

void tst_DermatoscopicViewer::placement()
{
    auto dialog = open(m_loaded.lesion, false);
    QVERIFY(dialog);
    const int w = dialog->width();
    QVERIFY(w > 100);
    // Items in the order they were built: the ten versions, then the twin's
    // wide, tall and greyscale images.
    const QString first = m_tenId;
    QStringList ids;
    for (const auto &group : m_loaded.twin->getDermatosopicIds())
        ids << group.front();
    const QList<QRectF> ten = dialog->sceneRects(first);
    QCOMPARE(ten.size(), 10);
    QCOMPARE(ten[0], QRectF(0, 0, 6000, 4000));
    // Gaps of 10000 x i above version i.
    QCOMPARE(ten[1], QRectF(0, 4000 + 10000, 6000, 4000));
    QCOMPARE(ten[2], QRectF(0, 14000 + 4000 + 2 * 10000, 6000, 4000));
    QCOMPARE(ten[9].top(), ten[8].bottom() + 9 * 10000);
    const double wideX = 6000 + w + 10000;
    QCOMPARE(dialog->sceneRects(ids[0]), QList<QRectF>{QRectF(wideX, 0, 3000, 1000)});
    const double tallX = wideX + 3000 + w + 10000;
    QCOMPARE(dialog->sceneRects(ids[1]), QList<QRectF>{QRectF(tallX, 0, 1500, 2500)});
    const double greyX = tallX + 1500 + w + 10000;
    QCOMPARE(dialog->sceneRects(ids[2]), QList<QRectF>{QRectF(greyX, 0, 2400, 1800)});
    // Every version has its geometry at once, whatever it shows yet.
    const QList<QGraphicsPixmapItem *> items = dialog->pixmapItems(first);
    QCOMPARE(items.size(), 10);
    QCOMPARE(items[3]->pos(), ten[3].topLeft());
    // Nothing at full size before a pane asks for it.
    QVERIFY(fullImages(*dialog) <= 1);
}

void tst_DermatoscopicViewer::versionList_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<int>("versions");
    QTest::addColumn<int>("width");
    QTest::newRow("ten versions") << "_v01" << 10 << 10 * 70 + 100;
    QTest::newRow("three versions") << "_v02" << 3 << 310;
    QTest::newRow("one version: hidden") << "_tall" << 1 << 0;
}

void tst_DermatoscopicViewer::versionList()
{
    QFETCH(QString, ending);
    QFETCH(int, versions);
    QFETCH(int, width);
    auto dialog = open(m_loaded.lesion);
    QVERIFY(dialog);
    if (versions == 3) {
        // A group of three of the lesion's images, as a retake would make.
        const std::vector<QString> ten = m_loaded.lesion->getDermatosopicIds().front();
        dialog->addItem(QSharedPointer<DermatoscopicItem>::create(
            m_loaded.lesion, std::vector<QString>{ten[1], ten[2], ten[3]}));
    }
    const int row = rowOf(dialog->itemModel(), ending);
    QVERIFY(row >= 0);
    select(dialog->itemList(QtDermatoscopicDialog::leftSide), row);
    const int side = QtDermatoscopicDialog::rightSide;
    QVERIFY(dialog->view(side));
    QtMovableListView *list = dialog->versionList(side);
    QCOMPARE(list->objectName(), QStringLiteral("DermatoItemSubListView"));
    QCOMPARE(list->isVisible(), versions > 1);
    if (versions == 1)
        return;
    QCOMPARE(list->height(), 80);
    QCOMPARE(list->model()->rowCount(), versions);
    QCOMPARE(list->currentIndex().row(), 0);
    // Centred under the view, 20 pixels above its bottom edge.
    QTest::qWait(80);
    const QRect view = dialog->view(side)->geometry();
    // Never wider than the view (ten versions in half a screen).
    QCOMPARE(list->width(), std::min(width, view.width()));
    QVERIFY(std::abs(list->geometry().center().x() - view.center().x()) <= 1);
    QCOMPARE(list->geometry().bottom(), view.bottom() - 20);
    // A version clicked is shown on that pane only.
    clickVersion(*dialog, side, 1);
    const QSharedPointer<DermatoscopicItem> item = dialog->shownItem(side);
    QVERIFY(item);
    QCOMPARE(item->getCurrentVersion(), 1);
    QCOMPARE(dialog->view(side)->sceneRect(), dialog->sceneRects(item->getIds().front())[1]);
    QVERIFY(dialog->view(QtDermatoscopicDialog::leftSide)->sceneRect() != dialog->view(side)->sceneRect());
}

void tst_DermatoscopicViewer::rightPaneOnTheSecondSelection()
{
    auto dialog = open(m_loaded.lesion);
    QVERIFY(dialog);
    DermatoDialogListView *leftList = dialog->itemList(QtDermatoscopicDialog::leftSide);
    // Row 0 again while on one pane: nothing opens.
    select(leftList, 0);
    QVERIFY(!dialog->view(QtDermatoscopicDialog::rightSide));
    const int tenRow = rowOf(dialog->itemModel(), QStringLiteral("_v01"));
    select(leftList, tenRow);
    GraphicsView *left = dialog->view(QtDermatoscopicDialog::leftSide);
    GraphicsView *right = dialog->view(QtDermatoscopicDialog::rightSide);
    QVERIFY(right);
    QVERIFY(!dialog->isFirstClick());
    QCOMPARE(dialog->itemList(QtDermatoscopicDialog::rightSide)->objectName(),
             QStringLiteral("dermatoDialogRightListView"));
    QCOMPARE(dialog->itemList(QtDermatoscopicDialog::rightSide)->currentIndex().row(), tenRow);
    QCOMPARE(leftList->currentIndex().row(), 0);
    QCOMPARE(dialog->shownItem(QtDermatoscopicDialog::leftSide), dialog->itemModel()->itemAt(0));
    QCOMPARE(dialog->shownItem(QtDermatoscopicDialog::rightSide)->getIds().front(), m_tenId);
    QVERIFY(dialog->compareButton()->isVisible());
    QVERIFY(dialog->superpositionButton()->isVisible());
    QCOMPARE(left->getPairedView(), right);
    QCOMPARE(right->getPairedView(), left);
    QVERIFY(left->isParallel() && right->isParallel());
    const QList<int> sizes = dialog->splitter()->sizes();
    QCOMPARE(sizes.size(), 2);
    QVERIFY(std::abs(sizes[0] - sizes[1]) <= 1);
    QCOMPARE(right->sceneRect(), dialog->sceneRects(m_tenId).front());

    // After the delayed refit both views still show their own images.
    QTest::qWait(120);
    QVERIFY(right->currentScale() > 0 && left->currentScale() > 0);
    QVERIFY(right->mapToScene(right->viewport()->rect()).boundingRect().intersects(right->sceneRect()));

    // Linked: zoom on one pane zooms the other; unlinked it does not.
    dialog->fitInViewButton(QtDermatoscopicDialog::leftSide);
    dialog->fitInViewButton(QtDermatoscopicDialog::rightSide);
    const double before = right->currentScale();
    dialog->zoomIn(QtDermatoscopicDialog::leftSide);
    QVERIFY(right->currentScale() > before * 1.1);
    dialog->compareButton()->click();
    QVERIFY(!left->isParallel() && !right->isParallel());
    const double linked = right->currentScale();
    dialog->zoomIn(QtDermatoscopicDialog::leftSide);
    QCOMPARE(right->currentScale(), linked);
    dialog->fitInViewButton(QtDermatoscopicDialog::rightSide);
    QVERIFY(right->currentScale() < linked);

    // From now on each list drives its pane.
    const int tallRow = rowOf(dialog->itemModel(), QStringLiteral("_tall"));
    select(leftList, tallRow);
    QCOMPARE(dialog->shownItem(QtDermatoscopicDialog::leftSide)->getIds().front(),
             dialog->itemModel()->itemAt(tallRow)->getIds().front());
    QCOMPARE(dialog->shownItem(QtDermatoscopicDialog::rightSide)->getIds().front(), m_tenId);
    // An emptied selection comes back.
    leftList->selectionModel()->clearSelection();
    QCOMPARE(leftList->selectionModel()->selectedIndexes().value(0).row(), tallRow);
}

void tst_DermatoscopicViewer::brightnessOfOneVersionOnly()
{
    auto dialog = openWithTwoPanes();
    QVERIFY(dialog);
    const int side = QtDermatoscopicDialog::rightSide;
    const QSharedPointer<DermatoscopicItem> ten = dialog->shownItem(side);
    // Version 1 fully decoded first, so that the change is seen at full size.
    clickVersion(*dialog, side, 1);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->showsFullImage(m_tenId, 1), 30000);
    waitForPool();
    QGraphicsPixmapItem *version0 = dialog->pixmapItems(m_tenId)[0];
    QGraphicsPixmapItem *version1 = dialog->pixmapItems(m_tenId)[1];
    const QPointF probe0 = dialog->sceneRects(m_tenId)[0].topLeft() + QPointF(3000, 2000);
    const QColor plain0 = pixmapPixel(version0, probe0);
    const QPointF probe = dialog->sceneRects(m_tenId)[1].topLeft() + QPointF(3000, 2000);
    const QColor plain = pixmapPixel(version1, probe);

    dialog->sliderAction(side, 0)->slider()->setValue(100);
    QCOMPARE(dialog->parameters(m_tenId, 1), std::make_pair(2.0, 1.0));
    QCOMPARE(dialog->parameters(m_tenId, 0), std::make_pair(1.0, 1.0));
    // The full image adjusted in the background replaces the adjusted preview.
    QTRY_VERIFY_WITH_TIMEOUT(dialog->adjustedFullCount() == 1, 30000);
    QVERIFY(dialog->showsFullImage(m_tenId, 1));
    QCOMPARE(version1->transform(), QTransform());
    const QColor bright = pixmapPixel(version1, probe);
    QVERIFY2(bright.lightness() > plain.lightness() + 20, qPrintable(plain.name() + bright.name()));
    // Version 0 keeps its own pixels (a preview or its full image).
    waitForPool();
    QVERIFY(std::abs(pixmapPixel(version0, probe0).lightness() - plain0.lightness()) < 12);
    // The left pane's sliders did not move.
    QCOMPARE(dialog->sliderAction(QtDermatoscopicDialog::leftSide, 0)->value(), 50);
    // Back to 50: the version shows its own pixels again.
    dialog->sliderAction(side, 0)->slider()->setValue(50);
    QCOMPARE(dialog->parameters(m_tenId, 1), std::make_pair(1.0, 1.0));
    QCOMPARE(dialog->adjustedFullCount(), 0);
    QCOMPARE(pixmapPixel(version1, probe), plain);
}

void tst_DermatoscopicViewer::memoryBoundOverTenVersions()
{
    auto dialog = openWithTwoPanes();
    QVERIFY(dialog);
    DermatoImageBudget *budget = dialog->imageBudget();
    int most = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] { most = std::max(most, fullImages(*dialog)); });
    sampler.start(1);
    const QSharedPointer<DermatoscopicItem> ten =
        dialog->itemModel()->itemAt(rowOf(dialog->itemModel(), "_v01"));
    auto connection = connect(ten.data(), &DermatoscopicItem::imageLoaded, this,
                              [&] { most = std::max(most, fullImages(*dialog)); });

    // Version 2 brightened, so that its return can be checked.
    const int right = QtDermatoscopicDialog::rightSide;
    clickVersion(*dialog, right, 2);
    dialog->sliderAction(right, 0)->slider()->setValue(90);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->adjustedFullCount() == 1, 30000);

    // Every version on the right pane in turn, each decoded at full size.
    for (int v = 0; v < 10; ++v) {
        clickVersion(*dialog, right, v);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->showsFullImage(m_tenId, v), 30000);
    }
    // Then on the left pane, the right one keeping its last version.
    select(dialog->itemList(QtDermatoscopicDialog::leftSide), rowOf(dialog->itemModel(), "_v01"));
    for (int v = 9; v >= 0; --v) {
        clickVersion(*dialog, QtDermatoscopicDialog::leftSide, v);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->showsFullImage(m_tenId, v), 30000);
        QVERIFY(fullImages(*dialog) <= 3);
    }
    QCOMPARE(dialog->shownItem(QtDermatoscopicDialog::leftSide)->getCurrentVersion(), 0);
    sampler.stop();
    disconnect(connection);
    QVERIFY2(most <= 3, qPrintable(QString::number(most)));
    QVERIFY2(budget->peak() <= 3, qPrintable(QString::number(budget->peak())));
    QVERIFY(most >= 2);

    // Back on version 2: its brightness is still there, and what shows is
    // adjusted before and after its full image is decoded again.
    QGraphicsPixmapItem *version2 = dialog->pixmapItems(m_tenId)[2];
    const QPointF probe = dialog->sceneRects(m_tenId)[2].topLeft() + QPointF(3000, 2000);
    bool shownUnadjusted = false;
    connect(ten.data(), &DermatoscopicItem::imageLoaded, this, [&](int index) {
        if (index == 2 && version2->transform() == QTransform() && dialog->adjustedFullCount() == 0)
            shownUnadjusted = true;
    });
    clickVersion(*dialog, QtDermatoscopicDialog::leftSide, 2);
    QCOMPARE(dialog->sliderAction(QtDermatoscopicDialog::leftSide, 0)->value(), 90);
    QCOMPARE(dialog->parameters(m_tenId, 2).first, 1.8);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->adjustedFullCount() == 1 && dialog->showsFullImage(m_tenId, 2), 30000);
    QVERIFY(!shownUnadjusted);
    const QImage original = ten->loadedImage(2).isNull() ? ten->getImage(2) : ten->loadedImage(2);
    const QColor raw(original.pixel(3000, 2000));
    QVERIFY(pixmapPixel(version2, probe).lightness() > raw.lightness() + 10);
    QVERIFY(fullImages(*dialog) <= 3);
}

void tst_DermatoscopicViewer::superpositionAlignsTheFirstImages()
{
    auto dialog = openWithTwoPanes();
    QVERIFY(dialog);
    // Left: the greyscale image; right: the ten versions, at their fifth.
    select(dialog->itemList(QtDermatoscopicDialog::leftSide), rowOf(dialog->itemModel(), "_grey"));
    clickVersion(*dialog, QtDermatoscopicDialog::rightSide, 4);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->showsFullImage(m_tenId, 4), 30000);
    QVERIFY(dialog->grab().save(screenshotDir() + QStringLiteral("/dermatoscopic_viewer_two_panes.png")));

    const QSharedPointer<DermatoscopicItem> base = dialog->shownItem(QtDermatoscopicDialog::leftSide);
    const QSharedPointer<DermatoscopicItem> top = dialog->shownItem(QtDermatoscopicDialog::rightSide);
    bool checked = false;
    QPointF baseCentre, topCentre;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *comparison = qobject_cast<QtImageComparisonWidget *>(QApplication::activeModalWidget());
        if (!comparison || checked)
            return;
        checked = true;
        // The first images, unadjusted, their lesion centres on each other.
        const QSize baseSize = base->getImageSize(0);
        const QSize topSize = top->getImageSize(0);
        const QPointF a = base->getDermatoscopicCenter(baseSize);
        const QPointF b = top->getDermatoscopicCenter(topSize);
        baseCentre = comparison->getBaseLayer()->mapToScene(a * comparison->imageScale() +
                                                            QPointF(comparison->baseOffset()));
        topCentre = comparison->getTopLayer()->mapToScene(b * comparison->imageScale() +
                                                          QPointF(comparison->topOffset()));
        // 6000 wide: a quarter, padded to 6000 x 4000.
        QCOMPARE(comparison->getBaseLayer()->pixmap().size(), QSize(1500, 1000));
        comparison->resize(1400, 900);
        comparison->slider()->setValue(40);
        QTest::qWait(50);
        comparison->grab().save(screenshotDir() + QStringLiteral("/superposition_dermatoscopic.png"));
        comparison->close();
    });
    poll.start(20);
    dialog->superpose();
    QTRY_VERIFY_WITH_TIMEOUT(checked, 30000);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(baseCentre, topCentre);
    // The panes get their full images back.
    QTRY_VERIFY_WITH_TIMEOUT(dialog->showsFullImage(m_tenId, 4), 30000);
    QVERIFY(DermatoImageBudget::shared()->peak() <= 3);
}

void tst_DermatoscopicViewer::placeholderVersionRefitsWhenItsImageArrives()
{
    // A group whose second id is not in the session folder yet.
    const QString missing = m_tenId.left(8) + QStringLiteral("_0_99_late");
    auto dialog = openWithTwoPanes();
    QVERIFY(dialog);
    dialog->addItem(QSharedPointer<DermatoscopicItem>::create(m_loaded.lesion,
                                                              std::vector<QString>{m_tenId + "x", missing}));
    // Not a group of the session: its own first id is missing too, so it is
    // not downloaded; its geometry is the placeholder's.
    const QString first = m_tenId + "x";
    QCOMPARE(dialog->sceneRects(first)[0].size(), QSizeF(400, 100));
    QCOMPARE(dialog->sceneRects(first)[1].size(), QSizeF(400, 100));
    // The placeholder press downloads and keeps the selection.
    DermatoDialogListView *rightList = dialog->itemList(QtDermatoscopicDialog::rightSide);
    const int row = rowOf(dialog->itemModel(), "x");
    const int selected = rightList->currentIndex().row();
    QSignalSpy asked(m_loaded.lesion.data(), &LesionVisualizer::download);
    rightList->scrollTo(rightList->model()->index(row, 0));
    QTest::mouseClick(rightList->viewport(), Qt::LeftButton, {},
                      rightList->visualRect(rightList->model()->index(row, 0)).center());
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.at(0).at(0).toString(), first);
    QCOMPARE(rightList->currentIndex().row(), selected);
    // Shown on a pane all the same: never fitted to an empty rectangle.
    const QModelIndex index = dialog->itemModel()->index(row, 0);
    rightList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    GraphicsView *right = dialog->view(QtDermatoscopicDialog::rightSide);
    QCOMPARE(right->sceneRect().size(), QSizeF(400, 100));
    QVERIFY(right->currentScale() > 0);

    // The image arrives: the pane takes its size and is fitted to it.
    const std::vector<QString> ten = m_loaded.lesion->getDermatosopicIds().front();
    const QByteArray bytes = m_loaded.older->getDermatoscopicBytes(ten[5]);
    const QString folder = m_loaded.older->getFolderPath() + QStringLiteral("/dermatoscopic/");
    m_loaded.older->storeFile(folder + first + QStringLiteral(".jpg"), bytes, 1);
    emit m_loaded.lesion->downloadDone(first, 1);
    QCOMPARE(dialog->sceneRects(first)[0].size(), QSizeF(6000, 4000));
    QCOMPARE(right->sceneRect(), dialog->sceneRects(first)[0]);
    QVERIFY(std::abs(6000 * right->currentScale() - right->viewport()->width()) < 6);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->showsFullImage(first, 0), 30000);
    m_loaded.older->storeFile(folder + first + QStringLiteral(".jpg"), QByteArray(), 1);
}

void tst_DermatoscopicViewer::closedWithRefitAndNewImagePending()
{
    auto dialog = open(m_loaded.lesion);
    QVERIFY(dialog);
    QPointer<QtDermatoscopicDialog> watched = dialog.get();
    select(dialog->itemList(QtDermatoscopicDialog::leftSide), 2);
    // The 50 ms refit is pending; the dialog closes and goes.
    dialog->close();
    dialog.reset();
    QVERIFY(!watched);
    QTest::qWait(120);
    // An image captured afterwards reaches no dialog.
    emit m_loaded.lesion->newDermatoImage(m_tenId);
    QTest::qWait(20);
}

QTEST_MAIN(tst_DermatoscopicViewer)
#include "tst_dermatoscopicviewer.moc"
