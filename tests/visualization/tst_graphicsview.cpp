#include "session/ClinicalPixmapItem.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "visualization/ImageItemRect.h"
#include "visualization/MyReleaseEvent.h"
#include "visualization/ViewTestSupport.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsRectItem>
#include <QGraphicsTextItem>
#include <QMenu>
#include <QPainter>
#include <QRadialGradient>
#include <QScrollBar>
#include <QtTest>

using namespace ViewTestSupport;

namespace {

// An overview tile (the type the views select) that, when it is shown,
// delivers a second press to the view from inside the first one.
class ReentrantTile : public QGraphicsRectItem
{
public:
    ReentrantTile(QWidget *viewport, const QPoint &at)
        : QGraphicsRectItem(0, 0, 200, 200), m_viewport(viewport), m_at(at)
    {
    }
    int type() const override { return GraphicsView::tileType; }
    int nestedPresses = 0;

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override
    {
        if (change == ItemOpacityChange && value.toDouble() == 1.0 && nestedPresses == 0) {
            ++nestedPresses;
            press(m_viewport, m_at);
            release(m_viewport, m_at);
        }
        return QGraphicsRectItem::itemChange(change, value);
    }

private:
    QWidget *m_viewport;
    QPoint m_at;
};

void prepare(GraphicsView &view, const QSize &size = QSize(800, 600))
{
    view.setFrameShape(QFrame::NoFrame);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(size);
}

// A clinical picture: skin tones with a few darker spots.
QByteArray skinPicture(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient skin(0, 0, size.width(), size.height());
    skin.setColorAt(0, QColor(224, 178, 150));
    skin.setColorAt(1, QColor(196, 142, 112));
    painter.fillRect(image.rect(), skin);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPoint spots[] = {{300, 300}, {820, 260}, {1250, 420}, {520, 820}, {1100, 900}};
    for (const QPoint &spot : spots) {
        QRadialGradient mole(spot, 30);
        mole.setColorAt(0, QColor(90, 55, 40));
        mole.setColorAt(1, QColor(150, 100, 80, 0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(mole);
        painter.drawEllipse(spot, 30, 30);
    }
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

} // namespace

class tst_GraphicsView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void wheelZoom_data();
    void wheelZoom();
    void zoomBeforeFitDoesNothing();
    void zoomNeverTurnsBack_data();
    void zoomNeverTurnsBack();
    void clickTolerance_data();
    void clickTolerance();
    void edgePull_data();
    void edgePull();
    void swipeWhenFitting_data();
    void swipeWhenFitting();
    void pairClicks();
    void reentrantOverviewPress();
    void releaseEventEndsPanning();
    void sceneDestroyedUnderTheView();
    void markSpot_data();
    void markSpot();
    void unparseableNameMarksNothing();
    void spotMenuOnlyOverShownClinicalImage();
    void screenshotMarkers();

private:
    QSharedPointer<SessionVisualizer> m_session;
    std::unique_ptr<GraphicsScene> m_scene;
};

void tst_GraphicsView::init()
{
    m_session = SessionTestSupport::makeSession(document(1));
    m_scene = std::make_unique<GraphicsScene>(0, m_session, nullptr);
    m_scene->addRect(0, 0, 4000, 3000, Qt::NoPen, QColor(90, 90, 90));
}

void tst_GraphicsView::cleanup()
{
    m_scene.reset();
    m_session.reset();
}

void tst_GraphicsView::wheelZoom_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("ratio"); // scale after / fitted scale

    QTest::newRow("one step in") << 1 << 1 << 120 << 1.1970559;
    QTest::newRow("two steps in") << 1 << 2 << 120 << 1.4329429;
    QTest::newRow("clamped at 4x") << 1 << 1 << 960 << 4.0;
    QTest::newRow("clamped at 4x after steps") << 1 << 9 << 120 << 4.0;
    QTest::newRow("never below the fit") << 1 << 1 << -120 << 1.0;
    QTest::newRow("dermatoscopic clamped at 3x") << 3 << 1 << 960 << 3.0;
}

void tst_GraphicsView::wheelZoom()
{
    QFETCH(int, mode);
    QFETCH(int, steps);
    QFETCH(int, delta);
    QFETCH(double, ratio);

    GraphicsView view(nullptr, mode, QStringLiteral("zoom"));
    prepare(view);
    view.setFitRect(QRect(0, 0, 4000, 3000));
    view.setCurrentScene(m_scene.get());
    view.setSceneRect(0, 0, 4000, 3000);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const double fitted = view.getMinimumScale();
    QVERIFY(fitted > 0.19 && fitted < 0.21);

    const QPoint cursor(200, 150);
    for (int i = 0; i < steps; ++i) {
        const QPointF under = view.mapToScene(cursor);
        QWheelEvent wheel(QPointF(cursor), QPointF(view.viewport()->mapToGlobal(cursor)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &wheel);
        const QPoint now = view.mapFromScene(under);
        QVERIFY2(std::abs(now.x() - cursor.x()) <= 1 && std::abs(now.y() - cursor.y()) <= 1,
                 qPrintable(QStringLiteral("point moved to %1,%2").arg(now.x()).arg(now.y())));
    }
    QVERIFY(qAbs(view.currentScale() / fitted - ratio) < 1e-6);
}

void tst_GraphicsView::zoomBeforeFitDoesNothing()
{
    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("zoom"));
    view.setCurrentScene(m_scene.get());
    QCOMPARE(view.getMinimumScale(), GraphicsView::noScale);
    view.zoom(2.0);
    QCOMPARE(view.currentScale(), 1.0);

    GraphicsView overview(nullptr, GraphicsView::Overview, QStringLiteral(" "));
    overview.setCurrentScene(m_scene.get());
    overview.fitScene();
    const double fitted = overview.currentScale();
    overview.zoom(2.0);
    QCOMPARE(overview.currentScale(), fitted);
}

void tst_GraphicsView::zoomNeverTurnsBack_data()
{
    QTest::addColumn<QRect>("shown"); // fitted to it after the fit of the scene
    QTest::addColumn<double>("factor");
    QTest::addColumn<int>("direction"); // 1: larger or equal, -1: smaller or equal
    // A small area fitted in the viewer lies beyond three times the fit.
    QTest::newRow("in, beyond the maximum") << QRect(0, 0, 400, 300) << 1.2 << 1;
    QTest::newRow("out, beyond the maximum") << QRect(0, 0, 400, 300) << 0.8 << -1;
    QTest::newRow("out, below the minimum") << QRect(0, 0, 40000, 30000) << 0.8 << -1;
    QTest::newRow("in, below the minimum") << QRect(0, 0, 40000, 30000) << 1.2 << 1;
}

void tst_GraphicsView::zoomNeverTurnsBack()
{
    QFETCH(QRect, shown);
    QFETCH(double, factor);
    QFETCH(int, direction);
    GraphicsView view(nullptr, GraphicsView::Dermatoscopic, QStringLiteral("zoom"));
    prepare(view);
    view.setCurrentScene(m_scene.get());
    view.setSceneRect(0, 0, 4000, 3000);
    view.setFitRect(QRect(0, 0, 4000, 3000));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.fitScene();
    view.fitToRect(shown);
    const double before = view.currentScale();
    view.zoom(factor);
    const double after = view.currentScale();
    QVERIFY2(direction > 0 ? after >= before - 1e-9 : after <= before + 1e-9,
             qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
}

void tst_GraphicsView::clickTolerance_data()
{
    QTest::addColumn<QPointF>("click"); // scene point
    QTest::addColumn<bool>("withSecond");
    QTest::addColumn<int>("expected"); // 0 none, 1 first, 2 second

    // At scale 0.5 the tolerance square reaches 10 scene units from the
    // point. The first marker's drawing area ends at x = 1124, the second's
    // starts at x = 1136.
    QTest::newRow("on the marker") << QPointF(1050, 1050) << false << 1;
    QTest::newRow("8 units beside it") << QPointF(1132, 1050) << false << 1;
    QTest::newRow("14 units beside it") << QPointF(1138, 1050) << false << 0;
    QTest::newRow("between two, nearer the first") << QPointF(1128, 1050) << true << 1;
    QTest::newRow("between two, nearer the second") << QPointF(1131, 1050) << true << 2;
}

void tst_GraphicsView::clickTolerance()
{
    QFETCH(QPointF, click);
    QFETCH(bool, withSecond);
    QFETCH(int, expected);

    auto *clinical = m_scene->items().constFirst();
    auto *first =
        new ImageItemRect(m_session->createLesion(CameraPose(), 0, 0, 0, QRect(1000, 1000, 100, 100)), 0,
                          QString(), clinical, new QGraphicsTextItem, nullptr, 0);
    ImageItemRect *second = nullptr;
    if (withSecond)
        second =
            new ImageItemRect(m_session->createLesion(CameraPose(), 0, 0, 0, QRect(1160, 1000, 100, 100)), 0,
                              QString(), clinical, new QGraphicsTextItem, nullptr, 0);

    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("pick"));
    prepare(view);
    view.setCurrentScene(m_scene.get());
    view.setSceneRect(0, 0, 4000, 3000);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setTransform(QTransform::fromScale(0.5, 0.5));
    view.centerOn(click);

    ImageItemRect *hit = view.markerAt(view.mapFromScene(click));
    ImageItemRect *wanted = expected == 1 ? first : expected == 2 ? second : nullptr;
    QCOMPARE(hit, wanted);
}

void tst_GraphicsView::edgePull_data()
{
    QTest::addColumn<QString>("horizontal"); // min, mid or max
    QTest::addColumn<QString>("vertical");
    QTest::addColumn<QPoint>("pressAt");
    QTest::addColumn<QPoint>("pull");
    QTest::addColumn<int>("indicator"); // shown before the release, -1 none
    QTest::addColumn<int>("direction"); // emitted, -1 none

    // Viewport 800 x 600: a release must be more than 160 px (x) or 120 px
    // (y) from where the edge was reached, the first move.
    QTest::newRow("left edge, long pull") << "min"
                                          << "mid" << QPoint(300, 300) << QPoint(200, 0) << 0 << 0;
    QTest::newRow("left edge, short pull") << "min"
                                           << "mid" << QPoint(300, 300) << QPoint(175, 0) << 0 << -1;
    QTest::newRow("left edge, too short to show") << "min"
                                                  << "mid" << QPoint(300, 300) << QPoint(100, 0) << -1 << -1;
    QTest::newRow("right edge") << "max"
                                << "mid" << QPoint(500, 300) << QPoint(-200, 0) << 1 << 3;
    QTest::newRow("top edge, left half") << "mid"
                                         << "min" << QPoint(100, 200) << QPoint(0, 200) << 2 << 1;
    QTest::newRow("top edge, right half") << "mid"
                                          << "min" << QPoint(700, 200) << QPoint(0, 200) << 2 << 2;
    QTest::newRow("bottom edge, right half") << "mid"
                                             << "max" << QPoint(700, 400) << QPoint(0, -200) << 3 << 4;
    QTest::newRow("bottom edge, left half") << "mid"
                                            << "max" << QPoint(100, 400) << QPoint(0, -200) << 3 << 5;
    QTest::newRow("not at an edge") << "mid"
                                    << "mid" << QPoint(300, 300) << QPoint(200, 0) << -1 << -1;
}

void tst_GraphicsView::edgePull()
{
    QFETCH(QString, horizontal);
    QFETCH(QString, vertical);
    QFETCH(QPoint, pressAt);
    QFETCH(QPoint, pull);
    QFETCH(int, indicator);
    QFETCH(int, direction);

    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("edges"));
    prepare(view);
    view.setCurrentScene(m_scene.get());
    view.setSceneRect(0, 0, 4000, 3000);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.zoom(2.0);
    auto place = [](QScrollBar *bar, const QString &where) {
        QVERIFY(bar->maximum() > bar->minimum());
        bar->setValue(where == "min"   ? bar->minimum()
                      : where == "max" ? bar->maximum()
                                       : (bar->minimum() + bar->maximum()) / 2);
    };
    place(view.horizontalScrollBar(), horizontal);
    place(view.verticalScrollBar(), vertical);

    QSignalSpy moves(&view, &GraphicsView::moveVisualization);
    drag(view.viewport(), pressAt, pressAt + pull);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(view.getIndicator(i)->isVisible(), i == indicator);
    release(view.viewport(), pressAt + pull);

    QCOMPARE(moves.count(), direction < 0 ? 0 : 1);
    if (direction >= 0)
        QCOMPARE(moves.at(0).at(0).toInt(), direction);
    for (int i = 0; i < 4; ++i)
        QVERIFY(!view.getIndicator(i)->isVisible());
}

void tst_GraphicsView::swipeWhenFitting_data()
{
    QTest::addColumn<QPoint>("pressAt");
    QTest::addColumn<QPoint>("swipe");
    QTest::addColumn<int>("direction");

    QTest::newRow("to the right") << QPoint(300, 300) << QPoint(250, 20) << 0;
    QTest::newRow("to the left") << QPoint(500, 300) << QPoint(-250, 20) << 3;
    QTest::newRow("down, left half") << QPoint(200, 200) << QPoint(20, 250) << 1;
    QTest::newRow("up, right half") << QPoint(600, 400) << QPoint(20, -250) << 4;
    QTest::newRow("too short") << QPoint(300, 300) << QPoint(120, 20) << -1;
}

void tst_GraphicsView::swipeWhenFitting()
{
    QFETCH(QPoint, pressAt);
    QFETCH(QPoint, swipe);
    QFETCH(int, direction);

    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("swipe"));
    prepare(view);
    view.setCurrentScene(m_scene.get());
    view.setSceneRect(0, 0, 4000, 3000);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QSignalSpy moves(&view, &GraphicsView::moveVisualization);
    drag(view.viewport(), pressAt, pressAt + swipe);
    QVERIFY(view.isSwipePending());
    QTRY_VERIFY(!view.isSwipePending());
    release(view.viewport(), pressAt + swipe);

    QCOMPARE(moves.count(), direction < 0 ? 0 : 1);
    if (direction >= 0)
        QCOMPARE(moves.at(0).at(0).toInt(), direction);
}

void tst_GraphicsView::pairClicks()
{
    auto *clinical = m_scene->items().constFirst();
    const auto lesion = m_session->createLesion(CameraPose(), 0, 0, 0, QRect(1000, 1000, 100, 100));
    auto *marker = new ImageItemRect(lesion, 0, QString(), clinical, new QGraphicsTextItem, nullptr, 0);

    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("pair"));
    prepare(view);
    view.setCurrentScene(m_scene.get());
    view.setSceneRect(0, 0, 4000, 3000);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setPairMode(true);

    QSignalSpy selected(&view, &GraphicsView::lesionSelected);
    const QPoint at = view.mapFromScene(QPointF(1050, 1050));
    press(view.viewport(), at);
    release(view.viewport(), at);
    QCOMPARE(marker->getCurrentColor(), QColor(0, 255, 0));
    QCOMPARE(view.getPendingPairMarker(), marker);
    QVERIFY(!view.isPanning());
    press(view.viewport(), at);
    release(view.viewport(), at);

    QCOMPARE(selected.count(), 2);
    QCOMPARE(selected.at(0).at(0).value<QSharedPointer<LesionVisualizer>>(), lesion);
    QVERIFY(selected.at(1).at(0).value<QSharedPointer<LesionVisualizer>>().isNull());
    QCOMPARE(marker->getCurrentColor(), QColor("#a09393"));
    QCOMPARE(view.getPendingPairMarker(), nullptr);
}

void tst_GraphicsView::reentrantOverviewPress()
{
    GraphicsView view(nullptr, GraphicsView::Overview, QStringLiteral(" "));
    prepare(view);
    QGraphicsScene scene;
    view.setScene(&scene);
    view.setSceneRect(0, 0, 800, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.resetTransform();
    const QPoint at = view.mapFromScene(QPointF(100, 100));
    auto *tile = new ReentrantTile(view.viewport(), at);
    tile->setOpacity(0.2);
    scene.addItem(tile);

    // The nested press arrives while the first one holds the view's lock:
    // it is dropped instead of waiting for ever.
    press(view.viewport(), at);
    release(view.viewport(), at);
    QCOMPARE(tile->nestedPresses, 1);
    QCOMPARE(view.getPressedTile(), tile);
    QCOMPARE(view.getPressedTileState(), 1);
    QCOMPARE(view.getShownTile(), tile);
    QCOMPARE(tile->opacity(), 1.0);

    // A second click on the pinned tile unpins it; it stays shown.
    press(view.viewport(), at);
    release(view.viewport(), at);
    QCOMPARE(view.getPressedTileState(), -1);
    QCOMPARE(view.getShownTile(), tile);
}

void tst_GraphicsView::releaseEventEndsPanning()
{
    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("release"));
    prepare(view);
    view.setCurrentScene(m_scene.get());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    press(view.viewport(), QPoint(300, 300));
    QVERIFY(view.isPanning());
    // What a closing popup leaves behind: the release arrives as this event.
    QCoreApplication::postEvent(&view, new MyReleaseEvent);
    QTRY_VERIFY(!view.isPanning());
}

void tst_GraphicsView::sceneDestroyedUnderTheView()
{
    // Scenes are rebuilt with every session; the close-up view keeps living
    // and must not touch its indicators or tiles of the scene that is gone.
    GraphicsView overview(nullptr, GraphicsView::Overview, QStringLiteral(" "));
    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("rebuild"));
    prepare(view);
    auto first = std::make_unique<GraphicsScene>(0, m_session, nullptr);
    view.setCurrentScene(first.get());
    overview.setCurrentScene(first.get());
    auto *tile = new ReentrantTile(view.viewport(), QPoint());
    tile->nestedPresses = 1;
    first->addItem(tile);
    overview.selectTile(tile);
    QCOMPARE(overview.getCurrentTile(), tile);
    first.reset();

    QCOMPARE(overview.getCurrentTile(), nullptr);
    QCOMPARE(view.getIndicator(0), nullptr);
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &wheel);
    overview.reset();
    view.reset();
    GraphicsScene second(1, m_session, nullptr);
    view.setCurrentScene(&second);
    QVERIFY(view.getIndicator(0));
    QCOMPARE(view.getIndicator(0)->scene(), &second);
}

void tst_GraphicsView::markSpot_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("position");
    QTest::addColumn<QRect>("box");
    QTest::addColumn<int>("number");
    QTest::addColumn<double>("alpha");

    // The name of a version-0 image has four parts, of version 1 six.
    QTest::newRow("device image, version 0")
        << 0 << 0 << QRect(QPoint(860, -40), QPoint(959, 59)) << 5 << 0.0;
    QTest::newRow("device image, version 1")
        << 1 << 0 << QRect(QPoint(860, -40), QPoint(959, 59)) << 5 << 40.0;
    QTest::newRow("external image") << 1 << -1 << QRect(QPoint(-40, -40), QPoint(59, 59)) << 3 << 40.0;
}

void tst_GraphicsView::markSpot()
{
    QFETCH(int, version);
    QFETCH(int, position);
    QFETCH(QRect, box);
    QFETCH(int, number);
    QFETCH(double, alpha);

    const auto session = SessionTestSupport::makeSession(document(version));
    GraphicsScene scene(position, session, nullptr);
    auto *item = new ClinicalPixmapItem(SessionTestSupport::jpeg(QSize(2000, 1000)), QRect(), QSize());
    scene.addItem(item);
    item->setPos(50000, 0);
    const CameraPose pose(12, 3, 1, 40, 7);
    item->setData(0, session->clinicalImageName(pose, position));
    item->setOpacity(1.0);

    ImageItemRect *marker = scene.markSpotAt(item, item->mapToScene(QPointF(10, 10)));
    QVERIFY(marker);
    const auto lesion = marker->getLesion();
    QCOMPARE(lesion->getNumericID(), number);
    QCOMPARE(lesion->getPosition(), position);
    QCOMPARE(lesion->getMainRect(), box);
    QCOMPARE(lesion->getMainPose().x, 12.0f);
    QCOMPARE(lesion->getMainPose().y, 3.0f);
    QCOMPARE(lesion->getMainPose().alpha, alpha);
    QCOMPARE(lesion->getLabel(), QStringLiteral("Detected"));
    QCOMPARE(lesion->getPrincipalClinicalItem(), item);
    QCOMPARE(lesion->getSceneIndex(), position + 1);
    QCOMPARE(lesion->toJson().value("positionCaptured").toInt(), position);
    QVERIFY(session->hasChangesToSave());
    const auto &listed = session->getLesions().value(position);
    QCOMPARE(int(listed.size()), 1);
    QCOMPARE(listed.front(), lesion);

    QCOMPARE(marker->parentItem(), item);
    QCOMPARE(marker->opacity(), 0.5);
    QCOMPARE(marker->getInnerRect(), QRect(QPoint(-40, -40), QPoint(59, 59)));
    QCOMPARE(marker->getNumberLabel()->toPlainText(), QString::number(number));
    QCOMPARE(marker->getNumberLabel()->font().pointSize(), 20);
}

void tst_GraphicsView::unparseableNameMarksNothing()
{
    const auto session = SessionTestSupport::makeSession(document(1));
    GraphicsScene scene(0, session, nullptr);
    auto *item = new ClinicalPixmapItem(SessionTestSupport::jpeg(QSize(400, 300)), QRect(), QSize());
    scene.addItem(item);
    item->setOpacity(1.0);
    for (const QString &name : {QStringLiteral("3_12_1_0"), QStringLiteral("3_12_1_2_40_7"), QString()}) {
        item->setData(0, name);
        QVERIFY(!scene.markSpotAt(item, QPointF(10, 10)));
    }
    QVERIFY(session->getLesions().value(0).empty());
    QVERIFY(!session->hasChangesToSave());
}

void tst_GraphicsView::spotMenuOnlyOverShownClinicalImage()
{
    GraphicsScene scene(0, m_session, nullptr);
    auto *other = scene.addRect(0, 0, 100, 100);
    auto *item = new ClinicalPixmapItem(SessionTestSupport::jpeg(QSize(400, 300)), QRect(), QSize());
    scene.addItem(item);
    item->setPos(1000, 0);
    item->setData(0, m_session->clinicalImageName(CameraPose(12, 3, 1, 40, 7), 0));
    auto *label = new QGraphicsTextItem(QStringLiteral("5"), item);

    QVERIFY(!scene.openSpotMenu(nullptr, QPointF(), QPoint()));
    QVERIFY(!scene.openSpotMenu(other, QPointF(10, 10), QPoint()));
    QVERIFY(!scene.openSpotMenu(item, QPointF(1010, 10), QPoint())); // not shown
    item->setOpacity(1.0);
    // Over the image, or over something drawn on it.
    QVERIFY(scene.openSpotMenu(label, QPointF(1010, 10), QPoint(10, 10)));
    QCOMPARE(scene.getClickedItem(), item);
    scene.getLesionMenu()->hide();
}

void tst_GraphicsView::screenshotMarkers()
{
    const auto session = SessionTestSupport::makeSession(document(1));
    GraphicsScene scene(-1, session, nullptr);
    auto *item = new ClinicalPixmapItem(skinPicture(QSize(1600, 1200)), QRect(), QSize());
    scene.addItem(item);
    item->setData(0, session->clinicalImageName(CameraPose(), -1));
    item->setOpacity(1.0);

    struct Spot
    {
        QRect box;
        QString label;
        int priority;
    };
    const Spot spots[] = {{QRect(280, 280, 40, 40), "Detected", 3},
                          {QRect(790, 230, 60, 60), "Captured", 1},
                          {QRect(1220, 390, 60, 60), "Exeresis", 5},
                          {QRect(500, 800, 40, 40), "Follow up", 3},
                          {QRect(1070, 870, 60, 60), "Custom 2", 2}};
    std::vector<ImageItemRect *> markers;
    for (const Spot &spot : spots) {
        const auto lesion = session->createLesion(CameraPose(), 0, 0, -1, spot.box);
        lesion->setLabel(spot.label);
        lesion->setPriority(spot.priority);
        auto *label = new QGraphicsTextItem;
        QFont font = label->font();
        font.setPointSize(20);
        label->setFont(font);
        auto *marker = new ImageItemRect(lesion, 0, QString(), item, label, nullptr, 0);
        marker->setOpacity(0.5);
        markers.push_back(marker);
    }

    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("VisualView0"));
    prepare(view, QSize(900, 675));
    view.setRenderHint(QPainter::Antialiasing);
    view.setCurrentScene(&scene);
    view.setSceneRect(0, 0, 1600, 1200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.fitScene();
    view.setEditMode(true);
    markers[2]->setSelected(true);                  // edit mode selection
    emit markers[3]->getLesion()->highlight();      // highlighted
    markers[4]->setCurrentColor(QColor(0, 255, 0)); // pending pair marker
    QTRY_VERIFY(item->hasFullImage());
    QTRY_COMPARE(markers[3]->scale(), 3.0);

    const QImage shot = view.grab().toImage();
    QVERIFY(shot.save(SessionTestSupport::screenshotPath(QStringLiteral("clinicalview_markers.png"))));
    // The full picture is drawn over the whole view (skin tones, not the
    // view's background) and the selected marker's grey handles are there.
    const QColor centre = shot.pixelColor(shot.width() / 2, shot.height() / 2);
    QVERIFY(centre.red() > 150 && centre.red() > centre.blue() + 40);
}

QTEST_MAIN(tst_GraphicsView)
#include "tst_graphicsview.moc"
