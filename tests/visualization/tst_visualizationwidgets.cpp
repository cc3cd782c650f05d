#include "dermoscopy/DermatoGraphicsView.h"
#include "dermoscopy/QtDermatoscopicDialog.h"
#include "session/ClinicalPixmapItem.h"
#include "session/SessionTestSupport.h"
#include "statistics/QtRangeSlider.h"
#include "statistics/QtStatisticsWidget.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "visualization/ImageItem.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ListView.h"
#include "visualization/QtVisualizationWidgets.h"
#include "visualization/StandInSession.h"
#include "widgets/CustomTitleBar.h"
#include <QLabel>
#include <QTimer>

#include <QJsonArray>
#include <QSplitter>
#include <QToolButton>
#include <QtTest>

namespace {

const std::vector<QString> positionNames{"frontal", "right", "back", "left"};

// Session 105 of the stand-in (patient 11): three external images, 7, 6, 7
// and 7 camera poses on the four positions; session 104 of the same patient
// has no external image.
constexpr int sessionWithExternal = 105;
constexpr int earlierSession = 104;

int markersIn(QGraphicsScene *scene)
{
    int count = 0;
    if (scene)
        for (QGraphicsItem *item : scene->items())
            count += item->type() == ImageItemRect::Type ? 1 : 0;
    return count;
}

// Markers drawn on the image shown in the close-up.
int visibleMarkersOnShownImage(const QtVisualizationWidgets &widget)
{
    QGraphicsItem *tile = widget.getOverviewView()->getShownTile();
    if (!tile || tile->childItems().isEmpty())
        return -1;
    int count = 0;
    for (QGraphicsItem *child : tile->childItems().first()->childItems())
        count += child->type() == ImageItemRect::Type && child->isVisible() ? 1 : 0;
    return count;
}

int listRows(const QtVisualizationWidgets &widget)
{
    return widget.getListView()->getProxyModel() ? widget.getListView()->getProxyModel()->rowCount() : -1;
}

QJsonObject pose(double x, double y)
{
    return QJsonObject{{"x", x}, {"y", y}, {"z", 1}, {"alpha", 40}, {"beta", 7}};
}

QJsonObject box(int x, int y)
{
    return QJsonObject{{"x", x}, {"y", y}, {"w", 80}, {"h", 80}};
}

QJsonObject lesion(int number, const QJsonObject &mainPose, const QJsonArray &instances, const QString &id,
                   double radius = 2.5)
{
    QJsonArray boxes;
    for (int i = 0; i < instances.size(); ++i)
        boxes.append(box(1500 + 100 * i, 1500));
    return QJsonObject{{"numericID", number},
                       {"lesionLabel", "Captured"},
                       {"radius", radius},
                       {"mainPose", mainPose},
                       {"bbox", boxes.first()},
                       {"instancesBbox", boxes},
                       {"instancesBboxR", boxes},
                       {"instancesPosition", instances},
                       {"dermatoscopicIds", QJsonArray{QJsonArray{id}}}};
}

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

void grabTo(QWidget &widget, const QString &name)
{
    QTRY_COMPARE_WITH_TIMEOUT(ClinicalPixmapItem::pendingDecodes(), 0, 10000);
    QTest::qWait(100);
    QVERIFY(widget.grab().save(SessionTestSupport::screenshotPath(name)));
}

} // namespace

class tst_VisualizationWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void markersAndRowsPerScene_data();
    void markersAndRowsPerScene();
    void labelFilter_data();
    void labelFilter();
    void labelFilterInDermoscopicLayoutChangesOnlyTheList();
    void sizeFilter_data();
    void sizeFilter();
    void clickingARowTwice();
    void doubleClicksOpenTheDermatoscopicViewer_data();
    void doubleClicksOpenTheDermatoscopicViewer();
    void rebuildWithAnotherSessionStartsAfresh();
    void sessionShownInTwoWidgetsSurvivesARebuildOfOne();
    void rebuildingTheExternalSceneReplacesIt();
    void outOfRangeRequestsAreHarmless();
    void sessionWithoutPositions();
    void appearancesWithoutImageAreSkipped();
    void positionNamesOutsideTheFixedSet();
    void pendingPairMarkerDoesNotOutliveItsScene();
    void capturedLesionsAreListedOnce();
    void keyboardStepsThroughImages();
    void layoutsRearrangeTheFrames();
    void splitterStatesNeedSixEntries();

private:
    // Built once for the cases that only read it.
    std::unique_ptr<QtVisualizationWidgets> m_built;
    std::unique_ptr<QtVisualizationWidgets> shown(const QSharedPointer<SessionVisualizer> &session,
                                                  int viewIndex = 0);
};

std::unique_ptr<QtVisualizationWidgets>
tst_VisualizationWidgets::shown(const QSharedPointer<SessionVisualizer> &session, int viewIndex)
{
    auto widget = std::make_unique<QtVisualizationWidgets>(positionNames, viewIndex, nullptr);
    widget->resize(1600, 1000);
    widget->show();
    widget->showHybridLayout();
    if (!QTest::qWaitForWindowExposed(widget.get()) || !widget->buildView(session))
        return nullptr;
    return widget;
}

void tst_VisualizationWidgets::initTestCase()
{
    m_built = shown(StandInSession::load(sessionWithExternal));
    QVERIFY(m_built);
}

void tst_VisualizationWidgets::cleanupTestCase()
{
    m_built.reset();
}

void tst_VisualizationWidgets::markersAndRowsPerScene_data()
{
    QTest::addColumn<int>("sceneIndex");
    QTest::addColumn<int>("tiles");
    QTest::addColumn<int>("markers");
    QTest::addColumn<int>("rows");
    // Markers: one per appearance on an image of the position; rows: the
    // lesions with a dermatoscopic image, listed under one of the six labels
    // ("Biopsy" is none of them, a lesion without label reads "Captured").
    QTest::newRow("External") << 0 << 3 << 2 << 2;
    QTest::newRow("frontal") << 1 << 7 << 22 << 5;
    QTest::newRow("right") << 2 << 6 << 24 << 7;
    QTest::newRow("back") << 3 << 7 << 17 << 5;
    QTest::newRow("left") << 4 << 7 << 25 << 6;
}

void tst_VisualizationWidgets::markersAndRowsPerScene()
{
    QFETCH(int, sceneIndex);
    QFETCH(int, tiles);
    QFETCH(int, markers);
    QFETCH(int, rows);
    QtVisualizationWidgets *widget = m_built.get();
    QCOMPARE(widget->getSceneCount(), 5);
    GraphicsScene *scene = widget->getScene(sceneIndex);
    int tileCount = 0;
    for (QGraphicsItem *item : scene->items())
        tileCount += item->type() == ImageItem::itemType ? 1 : 0;
    QCOMPARE(tileCount, tiles);
    QCOMPARE(markersIn(scene), markers);

    // Only this position's filter button checked: the list shows its rows.
    for (auto *button : widget->findChildren<QAbstractButton *>())
        if (button->property("positionName").isValid() && button->isChecked())
            button->click();
    widget->changeSceneRealIndex(sceneIndex);
    const QString name = sceneIndex == 0 ? QStringLiteral("External") : positionNames[size_t(sceneIndex - 1)];
    for (auto *button : widget->findChildren<QAbstractButton *>())
        if (button->property("positionName").toString() == name)
            button->click();
    QCOMPARE(listRows(*widget), rows);
}

void tst_VisualizationWidgets::labelFilter_data()
{
    QTest::addColumn<QString>("hidden");
    QTest::addColumn<int>("visibleMarkers");
    QTest::addColumn<int>("rows");
    // Frontal image 1 shows lesions 1 (Biopsy), 2 and 8 (Detected), 5 and 10
    // (Custom 1). The label menu never lists "Detected", so once a label
    // changes no detected lesion is listed (none of them has an image).
    QTest::newRow("Detected") << "Detected" << 3 << 25;
    QTest::newRow("Custom 1") << "Custom 1" << 3 << 21;
}

void tst_VisualizationWidgets::labelFilter()
{
    QFETCH(QString, hidden);
    QFETCH(int, visibleMarkers);
    QFETCH(int, rows);
    auto widget = shown(StandInSession::load(sessionWithExternal));
    QVERIFY(widget);
    widget->selectImageAt(0, 1);
    QCOMPARE(visibleMarkersOnShownImage(*widget), 5);
    QCOMPARE(listRows(*widget), 25);

    widget->setLabelsShown({{hidden, false}});
    QCOMPARE(visibleMarkersOnShownImage(*widget), visibleMarkers);
    QCOMPARE(listRows(*widget), rows);
    widget->setLabelsShown({{hidden, true}});
    QCOMPARE(visibleMarkersOnShownImage(*widget), 5);
}

void tst_VisualizationWidgets::labelFilterInDermoscopicLayoutChangesOnlyTheList()
{
    auto widget = shown(StandInSession::load(sessionWithExternal));
    QVERIFY(widget);
    widget->showDermoscopicLayout();
    widget->setLabelsShown({{"Custom 1", false}});
    QCOMPARE(listRows(*widget), 21);
    // Back in the hybrid layout the markers were never told to hide.
    widget->showHybridLayout();
    widget->selectImageAt(0, 1);
    QCOMPARE(visibleMarkersOnShownImage(*widget), 5);
}

void tst_VisualizationWidgets::sizeFilter_data()
{
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("visibleMarkers");
    QTest::addColumn<int>("rows");
    // Radii on frontal image 1: 0.60, 1.88, 2.81, 2.77, 6.83; the slider
    // runs from 0 to 8 (the largest radius is 7.72).
    QTest::newRow("0-3") << 0 << 3 << 4 << 9;
    QTest::newRow("5-8") << 5 << 8 << 1 << 9;
    QTest::newRow("full") << 0 << 8 << 5 << 25;
}

void tst_VisualizationWidgets::sizeFilter()
{
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(int, visibleMarkers);
    QFETCH(int, rows);
    auto widget = shown(StandInSession::load(sessionWithExternal));
    QVERIFY(widget);
    QtRangeSlider *slider = widget->getStatisticsWidget()->rangeSlider();
    QCOMPARE(slider->maximum(), 8);
    widget->selectImageAt(0, 1);
    slider->setUpperValue(upper);
    slider->setLowerValue(lower);
    QCOMPARE(visibleMarkersOnShownImage(*widget), visibleMarkers);
    QCOMPARE(listRows(*widget), rows);

    // The dermoscopic layout lists every size; the hybrid one applies the
    // slider again, to the list and to the markers.
    widget->showDermoscopicLayout();
    QCOMPARE(listRows(*widget), 25);
    widget->showHybridLayout();
    widget->selectImageAt(0, 1);
    QCOMPARE(listRows(*widget), rows);
    QCOMPARE(visibleMarkersOnShownImage(*widget), visibleMarkers);
}

void tst_VisualizationWidgets::clickingARowTwice()
{
    auto widget = shown(StandInSession::load(sessionWithExternal));
    QVERIFY(widget);
    ListView *list = widget->getListView();
    // The build selected the first row; a row of another position is clicked.
    const QModelIndex row = list->getProxyModel()->index(7, 0);
    const auto lesion = LesionsModel::lesionOf(list->getProxyModel()->mapToSource(row));
    QVERIFY(lesion);
    QCOMPARE(lesion->getPosition(), 1);
    const QPoint centre = list->visualRect(row).center();

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    QCOMPARE(widget->getSelectedRow(), list->getProxyModel()->mapToSource(row).row());
    QVERIFY(list->isHighlighted());
    QCOMPARE(widget->getCurrentSceneIndex(), 2);
    QGraphicsItem *tile = widget->getOverviewView()->getShownTile();
    QVERIFY(tile);
    QCOMPARE(tile->childItems().first(), widget->principalClinicalItemOf(lesion));
    QCOMPARE(widget->getHighlightedLesion(), lesion);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    QCOMPARE(widget->getSelectedRow(), -1);
    QVERIFY(!list->isHighlighted());
    QCOMPARE(widget->getCurrentSceneIndex(), 2);
    QCOMPARE(widget->getOverviewView()->getShownTile(), tile);
}

void tst_VisualizationWidgets::doubleClicksOpenTheDermatoscopicViewer_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("list entry") << "list";
    QTest::newRow("dermatoscopic preview") << "preview";
    QTest::newRow("close-up") << "closeUp";
    QTest::newRow("marker") << "marker";
}

void tst_VisualizationWidgets::doubleClicksOpenTheDermatoscopicViewer()
{
    QFETCH(QString, where);
    auto widget = shown(StandInSession::load(sessionWithExternal));
    QVERIFY(widget);
    ListView *list = widget->getListView();
    const QModelIndex row = list->getProxyModel()->index(3, 0);
    const auto lesion = LesionsModel::lesionOf(list->getProxyModel()->mapToSource(row));
    QVERIFY(lesion && lesion->hasDermatoscopicGroups());
    const QPoint centre = list->visualRect(row).center();
    // The viewer runs modally: it is looked at and closed from inside.
    QString title;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<QtDermatoscopicDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->findChild<CustomTitleBar *>()->titleLabel->text();
        dialog->close();
    });
    poll.start(20);
    if (where == QLatin1String("list")) {
        emit list->doubleClicked(row);
    } else if (where == QLatin1String("marker")) {
        emit widget->getCloseUpView()->dermatoscopicViewerRequested(lesion);
    } else {
        // The current list entry's lesion.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
        QGraphicsView *view = where == QLatin1String("preview")
                                  ? static_cast<QGraphicsView *>(widget->getPreviewView())
                                  : widget->getClinicalCloseUpView();
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->viewport()->rect().center());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!title.isEmpty(), 20000);
    QCOMPARE(title, QStringLiteral("Lesion %1 detail").arg(lesion->getLesionIdText()));
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY(widget->findChildren<QtDermatoscopicDialog *>().isEmpty());
}

void tst_VisualizationWidgets::rebuildWithAnotherSessionStartsAfresh()
{
    auto first = StandInSession::load(sessionWithExternal);
    auto widget = shown(first);
    QVERIFY(widget);
    QtRangeSlider *slider = widget->getStatisticsWidget()->rangeSlider();
    slider->setUpperValue(5);
    slider->setLowerValue(2);
    // Radii from 2 to 5: two external lesions, frontal 5 (frontal 3 is
    // 5.001), right 2, 3, 6 and 8, back 1, left 3 and 7.
    QCOMPARE(listRows(*widget), 10);
    QPointer<GraphicsScene> oldScene = widget->getScene(1);
    const auto oldLesion = first->getLesions().value(0).front();
    QVERIFY(oldLesion->getPrincipalClinicalItem());

    QVERIFY(widget->buildView(StandInSession::load(earlierSession)));
    settle();
    QVERIFY(oldScene.isNull());
    // The old session's lesions no longer point into the scenes that went.
    QVERIFY(!oldLesion->getPrincipalClinicalItem());
    QVERIFY(!widget->principalClinicalItemOf(oldLesion));
    widget->focusLesion(oldLesion);
    widget->changeDermatoImage(oldLesion);

    QCOMPARE(slider->lowerValue(), 0);
    QCOMPARE(slider->upperValue(), 8);
    QCOMPARE(widget->getSceneCount(), 5);
    QCOMPARE(markersIn(widget->getScene(0)), 0);
    QCOMPARE(markersIn(widget->getScene(1)), 25);
    QCOMPARE(listRows(*widget), 24);
    widget->selectImageAt(0, 1);
    // Frontal image 1 of session 104: lesions 1, 2, 4, 5, 8 and 10.
    QCOMPARE(visibleMarkersOnShownImage(*widget), 6);

    // An empty session: an empty histogram, nothing filtered.
    QVERIFY(widget->buildView(SessionTestSupport::makeSession(
        QJsonObject{{"PositionNames", QJsonArray{"frontal"}}, {"Version", 1}, {"Lesions", QJsonObject{}}})));
    settle();
    QVERIFY(widget->getStatisticsWidget()->binIntervals().empty());
    QCOMPARE(listRows(*widget), 0);
}

void tst_VisualizationWidgets::sessionShownInTwoWidgetsSurvivesARebuildOfOne()
{
    const auto session = StandInSession::load(sessionWithExternal);
    auto primary = shown(session, 0);
    auto secondary = shown(session, 1);
    QVERIFY(primary && secondary);
    const auto lesion = session->getLesions().value(1).front();
    ClinicalPixmapItem *own = primary->principalClinicalItemOf(lesion);
    QVERIFY(own);
    QCOMPARE(own->scene(), primary->getScene(2));

    QVERIFY(secondary->buildView(StandInSession::load(earlierSession)));
    settle();
    QVERIFY(!lesion->getPrincipalClinicalItem());
    QCOMPARE(primary->principalClinicalItemOf(lesion), own);

    const QModelIndex row = primary->getListView()->proxyIndexOf(lesion);
    QVERIFY(row.isValid());
    emit primary->getListView()->clicked(row);
    QCOMPARE(primary->getCurrentSceneIndex(), 2);
    QCOMPARE(primary->getOverviewView()->getShownTile()->childItems().first(), own);
    primary->showDermoscopicLayout();
    primary->focusLesion(lesion);
}

void tst_VisualizationWidgets::rebuildingTheExternalSceneReplacesIt()
{
    auto widget = shown(StandInSession::load(sessionWithExternal));
    QVERIFY(widget);
    const QRect frontalLimits = widget->getOverviewLimits(1);
    for (int round = 0; round < 2; ++round) {
        QPointer<GraphicsScene> old = widget->getScene(0);
        widget->rebuildExternalScene();
        settle();
        QVERIFY(old.isNull());
        QCOMPARE(widget->getSceneCount(), 5);
        QCOMPARE(markersIn(widget->getScene(0)), 2);
        QCOMPARE(widget->getCurrentSceneIndex(), 0);
    }
    // The External limits were replaced, never appended.
    QVERIFY(widget->getOverviewLimits(5).isNull());
    QCOMPARE(widget->getOverviewLimits(1), frontalLimits);
}

void tst_VisualizationWidgets::outOfRangeRequestsAreHarmless()
{
    auto widget = shown(StandInSession::load(sessionWithExternal));
    QVERIFY(widget);
    widget->changeSceneRealIndex(2);
    GraphicsScene *scene = widget->getScene(2);
    for (int index : {5, 99, -1, -5})
        widget->changeSceneRealIndex(index);
    QCOMPARE(widget->getCurrentSceneIndex(), 2);
    QCOMPARE(widget->getOverviewView()->scene(), scene);
    widget->selectImageAt(1, 6); // right has six images: 0 to 5
    widget->selectImageAt(7, 0);
    widget->selectImageAt(-2, 0);
    widget->changeScene(42);
    QCOMPARE(widget->getCurrentSceneIndex(), 2);
    emit widget->getListView()->clicked(QModelIndex());
    emit widget->getListView()->itemSelected(QModelIndex());
    widget->focusLesion({});
    widget->changeDermatoImage({});
    QCOMPARE(widget->getCurrentSceneIndex(), 2);
}

void tst_VisualizationWidgets::sessionWithoutPositions()
{
    QtVisualizationWidgets widget(positionNames, 0, nullptr);
    widget.resize(800, 600);
    widget.show();
    widget.rebuildExternalScene();
    QVERIFY(widget.buildView(SessionTestSupport::makeSession(
        QJsonObject{{"PositionNames", QJsonArray{}}, {"Version", 1}, {"Lesions", QJsonObject{}}})));
    QCOMPARE(widget.getSceneCount(), 1);
    widget.changeScene(0);
    widget.changeScene(-1);
    widget.showNextImage();
    widget.selectImageAt(0, 0);
    widget.rebuildExternalScene();
    QCOMPARE(widget.getSceneCount(), 1);
    QCOMPARE(widget.currentImagePosition(), std::make_pair(QString(), -1));
}

void tst_VisualizationWidgets::appearancesWithoutImageAreSkipped()
{
    // One image (pose 12, 3) on frontal; pose (40, 3) has no image.
    const QJsonObject withImage = pose(12, 3);
    const QJsonObject without = pose(40, 3);
    const QJsonObject document{
        {"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
        {"Version", 1},
        {"CameraPositions", QJsonObject{{"0", QJsonArray{withImage}}}},
        {"Lesions",
         QJsonObject{{"0", QJsonArray{lesion(1, withImage, {withImage, without}, "20240101_1", 25.0),
                                      lesion(2, without, {without}, "20240101_2"),
                                      lesion(3, without, {withImage, without}, "20240101_3")}}}},
        {"LastLesionID", QJsonArray{3, 0, 0, 0, 0}}};
    const auto session = SessionTestSupport::makeSession(document);
    session->storeFile(session->clinicalImagePath(CameraPose(12, 3, 1, 40, 7), 0),
                       SessionTestSupport::jpeg(QSize(5472, 3648)), 0);
    auto widget = shown(session);
    QVERIFY(widget);
    // Lesion 1 on its image; lesion 3 too, but it has no principal marker.
    QCOMPARE(markersIn(widget->getScene(1)), 2);
    // Lesion 1 (radius 25, beyond the histogram) stays listed and drawn
    // while the whole histogram is selected.
    QCOMPARE(listRows(*widget), 1);
    widget->selectImageAt(0, 0);
    QCOMPARE(visibleMarkersOnShownImage(*widget), 2);
    // Positions without images: no area to fit, a close-up of at least 1 x 1.
    QVERIFY(!widget->getOverviewLimits(2).isValid());
    QVERIFY(widget->getCloseUpRect(2).width() >= 1 && widget->getCloseUpRect(2).height() >= 1);
    widget->changeSceneRealIndex(2);
    QVERIFY(widget->getOverviewView()->transform().m11() > 0);
    QVERIFY(widget->getCloseUpView()->transform().m11() > 0);
    for (const auto &each : session->getLesions().value(0)) {
        widget->focusLesion(each);
        widget->changeDermatoImage(each);
    }
    QVERIFY(!widget->principalClinicalItemOf(session->getLesions().value(0)[1]));
    widget->showDermoscopicLayout();
    for (const auto &each : session->getLesions().value(0))
        widget->changeDermatoImage(each);
}

void tst_VisualizationWidgets::positionNamesOutsideTheFixedSet()
{
    const QJsonObject document{{"PositionNames", QJsonArray{"frontal", "side"}},
                               {"Version", 1},
                               {"CameraPositions", QJsonObject{{"0", QJsonArray{pose(12, 3)}},
                                                               {"1", QJsonArray{pose(12, 3), pose(30, 3)}}}},
                               {"Lesions", QJsonObject{}},
                               {"LastLesionID", QJsonArray{0, 0, 0, 0, 0}}};
    auto widget = shown(SessionTestSupport::makeSession(document));
    QVERIFY(widget);
    QCOMPARE(widget->getSceneCount(), 3);
    auto silhouettes = [&](int sceneIndex) {
        int count = 0;
        for (QGraphicsItem *item : widget->getScene(sceneIndex)->items())
            count += item->type() == GraphicsView::silhouetteType ? 1 : 0;
        return count;
    };
    QCOMPARE(silhouettes(1), 1);
    QCOMPARE(silhouettes(2), 0);
    // "side" has no button; the buttons of positions the session lacks stay
    // hidden and show nothing when clicked.
    QVERIFY(widget->findChild<QToolButton *>("frontal")->isVisible());
    QVERIFY(!widget->findChild<QToolButton *>("left")->isVisible());
    widget->changeSceneRealIndex(1);
    widget->changeScene(3);
    QCOMPARE(widget->getCurrentSceneIndex(), 1);
    widget->selectImageAt(1, 1);
    QCOMPARE(widget->getCurrentSceneIndex(), 2);
}

void tst_VisualizationWidgets::pendingPairMarkerDoesNotOutliveItsScene()
{
    auto widget = shown(StandInSession::load(sessionWithExternal, 0));
    QVERIFY(widget);
    widget->selectImageAt(0, 1);
    QTest::qWait(100);
    widget->setPairMode(true);
    GraphicsView *view = widget->getCloseUpView();
    ImageItemRect *marker = nullptr;
    for (QGraphicsItem *item : view->scene()->items())
        if (item->type() == ImageItemRect::Type && item->isVisible() && item->parentItem()->opacity() > 0)
            marker = static_cast<ImageItemRect *>(item);
    QVERIFY(marker);
    const QPoint at = view->mapFromScene(marker->sceneBoundingRect().center());
    QSignalSpy selected(view, &GraphicsView::lesionSelected);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(view->getPendingPairMarker(), marker);

    QVERIFY(widget->buildView(StandInSession::load(earlierSession)));
    settle();
    QVERIFY(!view->getPendingPairMarker());
    widget->setPairMode(false);
    QVERIFY(!widget->isPairMode());
}

void tst_VisualizationWidgets::capturedLesionsAreListedOnce()
{
    const auto session = StandInSession::load(sessionWithExternal);
    auto widget = shown(session);
    QVERIFY(widget);
    // Detected lesion 2 of frontal gets two groups in one round (a retake).
    const auto fresh = session->getLesions().value(0)[1];
    QCOMPARE(fresh->getNumericID(), 2);
    fresh->addDermatoscopicImage("20261117_0_2_90");
    fresh->addDermatoscopicImage("20261117_0_2_91");
    const auto listed = session->getLesions().value(0)[2];
    LesionsModel *model = widget->getListView()->getLesionsModel();
    const int before = model->rowCount();
    widget->addCapturedLesions({{"a", fresh}, {"b", listed}, {"c", fresh}});
    QCOMPARE(model->rowCount(), before + 1);
    QVERIFY(model->indexOf(fresh).isValid());
}

void tst_VisualizationWidgets::keyboardStepsThroughImages()
{
    auto widget = shown(StandInSession::load(sessionWithExternal));
    QVERIFY(widget);
    widget->selectImageAt(1, 4);
    QCOMPARE(widget->currentImagePosition(), std::make_pair(QStringLiteral("right"), 4));
    widget->showNextImage();
    QCOMPARE(widget->currentImagePosition(), std::make_pair(QStringLiteral("right"), 5));
    widget->showNextImage();
    QCOMPARE(widget->currentImagePosition(), std::make_pair(QStringLiteral("right"), 5));
    widget->selectImageAt(1, 0);
    widget->showPreviousImage();
    QCOMPARE(widget->currentImagePosition(), std::make_pair(QStringLiteral("right"), 0));
    widget->showNextImage();
    QCOMPARE(widget->currentImagePosition(), std::make_pair(QStringLiteral("right"), 1));
}

void tst_VisualizationWidgets::layoutsRearrangeTheFrames()
{
    // Frontal images at the device's size, as the screenshots show them.
    auto widget = shown(StandInSession::load(sessionWithExternal, 0));
    QVERIFY(widget);
    auto frame = [&](const char *name) { return widget->findChild<QWidget *>(name); };
    widget->selectImageAt(0, 1);
    QVERIFY(frame("leftFrame")->isVisible());
    QVERIFY(frame("statisticsWidget")->isVisible());
    QVERIFY(!frame("clinicalSplitFrame")->isVisible());
    QTest::qWait(100);
    QVERIFY(widget->getStatisticsWidget()->chartView());
    grabTo(*widget, QStringLiteral("visualization_hybrid.png"));

    widget->showDermoscopicLayout();
    QTest::qWait(150);
    QVERIFY(widget->isDermoscopicLayout());
    QVERIFY(!frame("leftFrame")->isVisible());
    QVERIFY(frame("clinicalSplitFrame")->isVisible());
    QVERIFY(widget->getListView()->isIconMode());
    // The remembered lesion is focused: the far view shows its image, the
    // close-up window lies inside the clinical image.
    QVERIFY(widget->getClinicalFarView()->scene());
    const QRectF window = widget->getClinicalCloseUpView()->sceneRect();
    QVERIFY(widget->getCloseUpView()->sceneRect().contains(window));
    grabTo(*widget, QStringLiteral("visualization_dermoscopic.png"));

    widget->showClinicalLayout();
    // The main window takes the preview frame out beside its body schemes.
    QWidget schemeArea;
    widget->getDermaFrame()->setParent(&schemeArea);
    QTest::qWait(100);
    QVERIFY(widget->isClinicalLayout());
    QVERIFY(frame("rightFrame")->isVisible());
    QVERIFY(!frame("listViewFrame")->isVisible());
    QVERIFY(!frame("leftFrame")->isVisible());
    grabTo(*widget, QStringLiteral("visualization_clinical.png"));

    widget->showHybridLayout();
    QTest::qWait(100);
    QVERIFY(widget->isHybridLayout());
    QVERIFY(frame("leftFrame")->isVisible());
    QVERIFY(frame("dermaFrame")->isVisible());
    QVERIFY(!widget->getListView()->isIconMode());
}

void tst_VisualizationWidgets::splitterStatesNeedSixEntries()
{
    QtVisualizationWidgets widget(positionNames, 0, nullptr);
    widget.resize(1200, 800);
    widget.show();
    widget.showHybridLayout();
    auto *horizontal = widget.findChild<QSplitter *>("horizontalSplitter");
    horizontal->setSizes({100, 700, 300});
    const QByteArray wide = horizontal->saveState();
    widget.setSplitterStates({wide, {}, {}});
    QCOMPARE(widget.getSplitterStates(), QList<QByteArray>(6));

    widget.showDermoscopicLayout();
    QCOMPARE(widget.getSplitterStates().at(0), wide);
    horizontal->setSizes({400, 400, 400, 400});
    QList<QByteArray> states = widget.getSplitterStates();
    states[0] = QByteArray();
    widget.setSplitterStates(states);
    widget.showHybridLayout();
    QCOMPARE(widget.getSplitterStates().at(0), QByteArray());
    QVERIFY(!widget.getSplitterStates().at(4).isNull());
}

QTEST_MAIN(tst_VisualizationWidgets)
#include "tst_visualizationwidgets.moc"
