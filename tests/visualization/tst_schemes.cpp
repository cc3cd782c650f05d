#include "session/SessionTestSupport.h"
#include "visualization/NoPropagationView.h"
#include "visualization/SchemeMultipleSessions.h"
#include "visualization/SinglePositionScheme.h"
#include "visualization/ViewTestSupport.h"

#include <QGraphicsRectItem>
#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

using Pairs = std::vector<std::pair<int, int>>;
Q_DECLARE_METATYPE(Pairs)

namespace {

QJsonArray row(int count, int y)
{
    QJsonArray poses;
    for (int x = 0; x < count; ++x)
        poses.append(QJsonObject{{"x", x}, {"y", y}, {"z", 0}, {"alpha", 0}, {"beta", 0}});
    return poses;
}

// Session 0: frontal three in a row, right two, back one, left one.
// Session 1: frontal one, no poses on right, back one; its fourth position
// has an empty name, so it has no "left" (its two poses there must be drawn
// nowhere).
QJsonObject document(const QJsonArray &names, const QJsonObject &cameraPositions)
{
    return QJsonObject{{"PositionNames", names},
                       {"Version", 1},
                       {"CameraPositions", cameraPositions},
                       {"Lesions", QJsonObject{}},
                       {"LastLesionID", QJsonArray{0, 0, 0, 0, 0}}};
}

std::vector<QSharedPointer<SessionVisualizer>> twoSessions()
{
    auto first = SessionTestSupport::makeSession(
        document(QJsonArray{"frontal", "right", "back", "left"},
                 QJsonObject{{"0", row(3, 0)}, {"1", row(2, 0)}, {"2", row(1, 0)}, {"3", row(1, 0)}}),
        7, 11);
    auto second = SessionTestSupport::makeSession(
        document(QJsonArray{"frontal", "right", "back", ""},
                 QJsonObject{{"0", row(1, 0)}, {"2", row(1, 0)}, {"3", row(2, 0)}}),
        7, 12);
    return {first, second};
}

// Counts the mouse events that reach it.
class Parent : public QWidget
{
public:
    int mouseEvents = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++mouseEvents; }
    void mouseMoveEvent(QMouseEvent *) override { ++mouseEvents; }
    void mouseReleaseEvent(QMouseEvent *) override { ++mouseEvents; }
};

} // namespace

class tst_Schemes : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void click_data();
    void click();
    void dragRepeatsSelection();
    void selectCameraRectangle();
    void showAll();
    void missingSilhouette();
    void noPropagation();
    void screenshot();

private:
    std::unique_ptr<SchemeMultipleSessions> m_widget;
};

void tst_Schemes::init()
{
    qRegisterMetaType<Pairs>();
    m_widget = std::make_unique<SchemeMultipleSessions>(twoSessions(), 300);
    m_widget->resize(700, 420);
    m_widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_widget.get()));
}

void tst_Schemes::cleanup()
{
    m_widget.reset();
}

void tst_Schemes::click_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QPointF>("scenePoint");
    QTest::addColumn<int>("index0");
    QTest::addColumn<int>("index1");
    QTest::addColumn<Pairs>("pairs");

    // Frontal, session 0: three 27.8 x 22.24 at x 18.9, 63, 107.1; session 1:
    // one 103.4 x 82.72 centred at (63, 41.36).
    QTest::newRow("covered by both") << "frontal" << QPointF(63, 11) << 1 << 0 << Pairs{{0, 1}, {0, 0}};
    QTest::newRow("session 1 only, session 0 within 5")
        << "frontal" << QPointF(63, 26) << 1 << 0 << Pairs{{0, 1}, {0, 0}};
    // Back: both sessions one rectangle from y 0 to 82.72.
    QTest::newRow("both within 5 below") << "back" << QPointF(63, 86) << 0 << 0 << Pairs{{2, 0}, {2, 0}};
    QTest::newRow("far from all") << "back" << QPointF(63, 200) << -1 << -1 << Pairs{{2, -1}, {2, -1}};
    // Session 1 has no "left": it contributes (-2, 0), and the poses of its
    // empty-named position are drawn on no silhouette (an empty name occurs
    // in every name; drawn there they would give a session-1 hit).
    QTest::newRow("left, lacking in session 1")
        << "left" << QPointF(60, 41) << 0 << -1 << Pairs{{3, 0}, {-2, 0}};
    // Session 1 names "right" but has no poses there: its own index, no image.
    QTest::newRow("right, no poses in session 1")
        << "right" << QPointF(93, 18) << 1 << -1 << Pairs{{1, 1}, {1, -1}};
}

void tst_Schemes::click()
{
    QFETCH(QString, scheme);
    QFETCH(QPointF, scenePoint);
    QFETCH(int, index0);
    QFETCH(int, index1);
    QFETCH(Pairs, pairs);

    SinglePositionScheme *view = m_widget->positionView(scheme);
    QVERIFY(view);
    QSignalSpy indices(view, &SinglePositionScheme::mouseClickedIndex);
    QSignalSpy clicked(m_widget.get(), &SchemeMultipleSessions::schemeClicked);
    ViewTestSupport::press(view->viewport(), view->mapFromScene(scenePoint));

    QCOMPARE(indices.count(), 1);
    QCOMPARE(indices.at(0).at(0).toInt(), index0);
    QCOMPARE(indices.at(0).at(1).toInt(), index1);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(clicked.at(0).at(0).value<Pairs>(), pairs);
    QVERIFY(view->isSelectionTimerActive());
    ViewTestSupport::release(view->viewport(), view->mapFromScene(scenePoint));
}

void tst_Schemes::dragRepeatsSelection()
{
    SinglePositionScheme *view = m_widget->positionView(QStringLiteral("frontal"));
    QSignalSpy indices(view, &SinglePositionScheme::mouseClickedIndex);
    ViewTestSupport::press(view->viewport(), view->mapFromScene(QPointF(18.9, 11)));
    QCOMPARE(indices.count(), 1);
    QCOMPARE(indices.last().at(0).toInt(), 0);

    // The pointer moves on to the third rectangle with the button held: the
    // selection runs again there once the timer fires.
    const QPoint third = view->mapFromScene(QPointF(107.1, 11));
    ViewTestSupport::move(view->viewport(), view->mapFromScene(QPointF(63, 11)));
    ViewTestSupport::move(view->viewport(), third);
    QCOMPARE(view->getSelectionPoint(), third);
    QTRY_COMPARE(indices.count(), 2);
    QCOMPARE(indices.last().at(0).toInt(), 2);
    QCOMPARE(indices.last().at(1).toInt(), 0);
    ViewTestSupport::release(view->viewport(), third);
}

void tst_Schemes::selectCameraRectangle()
{
    QSignalSpy clicked(m_widget.get(), &SchemeMultipleSessions::schemeClicked);
    m_widget->selectCameraRectangle(m_widget->positionView(QStringLiteral("frontal")), 2);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(clicked.at(0).at(0).value<Pairs>(), (Pairs{{0, 2}, {0, 0}}));

    // No such rectangle, or no view: nothing is selected.
    m_widget->selectCameraRectangle(m_widget->positionView(QStringLiteral("frontal")), 3);
    m_widget->selectCameraRectangle(nullptr, 0);
    QCOMPARE(clicked.count(), 1);
}

void tst_Schemes::showAll()
{
    const auto opacities = [this](int session) {
        QList<qreal> values;
        for (const QString &name : SchemeMultipleSessions::schemeNames()) {
            for (QGraphicsItem *item : m_widget->positionScene(name)->items()) {
                if (item->type() == QGraphicsRectItem::Type && item->data(1).toInt() == session)
                    values.append(item->opacity());
            }
        }
        return values;
    };
    QCOMPARE(opacities(1), (QList<qreal>{0.01, 0.01}));
    m_widget->showAllButton()->click();
    QVERIFY(m_widget->showAllButton()->isChecked());
    QCOMPARE(opacities(1), (QList<qreal>{1.0, 1.0}));
    QCOMPARE(opacities(0), (QList<qreal>{1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0}));
    m_widget->showAllButton()->click();
    QCOMPARE(opacities(1), (QList<qreal>{0.01, 0.01}));
}

void tst_Schemes::missingSilhouette()
{
    QGraphicsScene scene;
    QVERIFY(!SchemeMultipleSessions::addSilhouette(&scene, QStringLiteral(":/rsc/nowhere.svg"), 126));
    QVERIFY(scene.items().isEmpty());
    QGraphicsItem *frontal =
        SchemeMultipleSessions::addSilhouette(&scene, QStringLiteral(":/rsc/frontal.svg"), 126);
    QVERIFY(frontal);
    const QRectF bounds = frontal->sceneBoundingRect();
    QVERIFY2(std::abs(bounds.top()) < 1e-6 && std::abs(bounds.height() - 300) < 1e-6,
             qPrintable(QStringLiteral("%1 %2").arg(bounds.top()).arg(bounds.height())));
    QVERIFY2(std::abs(bounds.center().x() - 63) < 1e-6, qPrintable(QString::number(bounds.center().x())));
}

void tst_Schemes::noPropagation()
{
    Parent parent;
    parent.resize(300, 200);
    auto *view = new NoPropagationView(&parent);
    QGraphicsScene scene(0, 0, 1000, 500);
    view->setScene(&scene);
    view->setGeometry(0, 0, 300, 200);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QSignalSpy doubleClicked(view, &NoPropagationView::doubleClicked);

    const QPoint at(100, 80);
    ViewTestSupport::press(view->viewport(), at);
    ViewTestSupport::move(view->viewport(), at + QPoint(30, 10));
    ViewTestSupport::release(view->viewport(), at + QPoint(30, 10));
    QCOMPARE(parent.mouseEvents, 0);
    ViewTestSupport::mouse(view->viewport(), QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(doubleClicked.count(), 1);
    QCOMPARE(parent.mouseEvents, 0);
    // A resize fits the scene rectangle (1000 x 500 into 300 x 200): its width fills the view but for a
    // margin of 2 on each side.
    QVERIFY(std::abs(view->mapFromScene(scene.sceneRect()).boundingRect().width() -
                     view->viewport()->width()) <= 5);

    // A plain view passes the same press on to its parent, which is what
    // NoPropagationView prevents.
    auto *plain = new QGraphicsView(&scene, &parent);
    plain->setGeometry(0, 0, 300, 200);
    plain->show();
    ViewTestSupport::press(plain->viewport(), at);
    QCOMPARE(parent.mouseEvents, 1);
}

void tst_Schemes::screenshot()
{
    m_widget->showAllButton()->click();
    QVERIFY(m_widget->grab().save(
        SessionTestSupport::screenshotPath(QStringLiteral("schemes_two_sessions.png"))));
}

QTEST_MAIN(tst_Schemes)
#include "tst_schemes.moc"
