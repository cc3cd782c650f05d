#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ViewTestSupport.h"

#include <QGraphicsRectItem>
#include <QGraphicsTextItem>
#include <QPointer>
#include <QScrollBar>
#include <QtTest>

using namespace ViewTestSupport;

class tst_ImageItemRect : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void geometry_data();
    void geometry();
    void followsLesion_data();
    void followsLesion();
    void rebindsOnMerge();
    void deletionRemovesMarkerAndLabel();
    void highlightStaysUntilRemoved();
    void editDrag_data();
    void editDrag();

private:
    QSharedPointer<LesionVisualizer> lesionWithBox(const QRect &box, int position = 0);

    QSharedPointer<SessionVisualizer> m_session;
};

void tst_ImageItemRect::init()
{
    m_session = SessionTestSupport::makeSession(document(0));
}

void tst_ImageItemRect::cleanup()
{
    m_session.reset();
}

QSharedPointer<LesionVisualizer> tst_ImageItemRect::lesionWithBox(const QRect &box, int position)
{
    return m_session->createLesion(CameraPose(12, 3, 1), 0, 0, position, box);
}

void tst_ImageItemRect::geometry_data()
{
    QTest::addColumn<QRect>("box");
    QTest::addColumn<int>("xOffset");
    QTest::addColumn<QRect>("inner");
    QTest::addColumn<QPointF>("labelPos");

    QTest::newRow("10x10 grows to 50x50 around it")
        << QRect(100, 100, 10, 10) << 0 << QRect(80, 80, 50, 50) << QPointF(100, 30);
    QTest::newRow("30x80 grows only in width")
        << QRect(0, 0, 30, 80) << 0 << QRect(-10, 0, 50, 80) << QPointF(0, -50);
    QTest::newRow("29x29 grows to 49x49")
        << QRect(0, 0, 29, 29) << 0 << QRect(-10, -10, 49, 49) << QPointF(0, -60);
    QTest::newRow("device image offset")
        << QRect(1000, 200, 60, 70) << 900 << QRect(100, 200, 60, 70) << QPointF(100, 150);
}

void tst_ImageItemRect::geometry()
{
    QFETCH(QRect, box);
    QFETCH(int, xOffset);
    QFETCH(QRect, inner);
    QFETCH(QPointF, labelPos);

    QGraphicsScene scene;
    auto *clinical = scene.addRect(0, 0, 4572, 3648);
    auto *label = new QGraphicsTextItem;
    auto *marker = new ImageItemRect(lesionWithBox(box), 0, QString(), clinical, label, nullptr, xOffset);

    QCOMPARE(marker->getInnerRect(), inner);
    QCOMPARE(marker->getOuterRect(), inner.adjusted(-15, -15, 15, 15));
    QCOMPARE(marker->parentItem(), clinical);
    QCOMPARE(label->parentItem(), clinical);
    QCOMPARE(label->pos(), labelPos);
    QCOMPARE(label->toPlainText(), QStringLiteral("5"));
    QCOMPARE(marker->type(), QGraphicsItem::UserType + 2);
}

void tst_ImageItemRect::followsLesion_data()
{
    QTest::addColumn<int>("priority");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("penWidth");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("priority 1, Captured") << 1 << "Captured" << 3 << QColor("#9DBF9E");
    QTest::newRow("priority 2, Exeresis") << 2 << "Exeresis" << 6 << QColor("#D17B74");
    QTest::newRow("priority 5, Follow up") << 5 << "Follow up" << 15 << QColor("#9E7B9B");
    QTest::newRow("label outside the set") << 4 << "Biopsy" << 12 << QColor("#ede15b");
}

void tst_ImageItemRect::followsLesion()
{
    QFETCH(int, priority);
    QFETCH(QString, label);
    QFETCH(int, penWidth);
    QFETCH(QColor, colour);

    QGraphicsScene scene;
    auto *clinical = scene.addRect(0, 0, 1000, 1000);
    const auto lesion = lesionWithBox(QRect(100, 100, 10, 10));
    auto *marker = new ImageItemRect(lesion, 0, QString(), clinical, new QGraphicsTextItem, nullptr, 0);
    QCOMPARE(marker->getPenWidth(), 9);
    QCOMPARE(marker->getCurrentColor(), QColor("#a09393"));

    lesion->setPriority(priority);
    lesion->setLabel(label);
    QCOMPARE(marker->getPenWidth(), penWidth);
    QCOMPARE(marker->getCurrentColor(), colour);
    QCOMPARE(marker->getStoredColor(), colour);
    // The drawing area covers the widest pen.
    QVERIFY(marker->boundingRect().contains(
        QRectF(marker->getInnerRect())
            .adjusted(-10 - penWidth / 2.0, -10 - penWidth / 2.0, 10 + penWidth / 2.0, 10 + penWidth / 2.0)));
}

void tst_ImageItemRect::rebindsOnMerge()
{
    QGraphicsScene scene;
    auto *clinical = scene.addRect(0, 0, 1000, 1000);
    const auto first = lesionWithBox(QRect(100, 100, 10, 10));
    const auto second = lesionWithBox(QRect(300, 300, 10, 10));
    second->setLabel(QStringLiteral("Exeresis"));
    auto *label = new QGraphicsTextItem;
    auto *marker = new ImageItemRect(first, 0, QString(), clinical, label, nullptr, 0);

    second->mergeLesion(first);
    QCOMPARE(marker->getLesion(), second);
    QCOMPARE(marker->getCurrentColor(), QColor("#D17B74"));
    QCOMPARE(label->toPlainText(), QString::number(second->getNumericID()));
    // The old lesion no longer reaches the marker.
    first->setLabel(QStringLiteral("Custom 1"));
    QCOMPARE(marker->getCurrentColor(), QColor("#D17B74"));
}

void tst_ImageItemRect::deletionRemovesMarkerAndLabel()
{
    QGraphicsScene scene;
    auto *clinical = scene.addRect(0, 0, 1000, 1000);
    const auto lesion = lesionWithBox(QRect(100, 100, 10, 10));
    QPointer<QGraphicsTextItem> label = new QGraphicsTextItem;
    QPointer<ImageItemRect> marker = new ImageItemRect(lesion, 0, QString(), clinical, label, nullptr, 0);

    m_session->deleteLesion(lesion);
    QCOMPARE(clinical->childItems().size(), 0);
    QTRY_VERIFY(marker.isNull());
    QTRY_VERIFY(label.isNull());
}

void tst_ImageItemRect::highlightStaysUntilRemoved()
{
    QGraphicsScene scene;
    auto *clinical = scene.addRect(0, 0, 1000, 1000);
    const auto lesion = lesionWithBox(QRect(100, 100, 10, 10));
    auto *marker = new ImageItemRect(lesion, 0, QString(), clinical, new QGraphicsTextItem, nullptr, 0);

    emit lesion->highlight();
    QTRY_COMPARE(marker->scale(), 3.0);
    // A circle: the radius is half the drawn frame (50 + 2 * 10).
    QCOMPARE(marker->cornerRadius(), 35.0);
    QVERIFY(marker->isHighlighted());

    emit lesion->removeHighlight();
    QCOMPARE(marker->scale(), 1.0);
    QCOMPARE(marker->cornerRadius(), 15.0);
    QVERIFY(!marker->isHighlighted());
}

void tst_ImageItemRect::editDrag_data()
{
    QTest::addColumn<QRect>("box");
    QTest::addColumn<QPoint>("pressAt"); // in clinical image coordinates
    QTest::addColumn<QPoint>("dragBy");
    QTest::addColumn<QRect>("expected");
    QTest::addColumn<int>("saves");

    // A click must not turn a 10 x 10 lesion into its 50 x 50 marker.
    QTest::newRow("click on a small lesion")
        << QRect(400, 300, 10, 10) << QPoint(425, 325) << QPoint(0, 0) << QRect(400, 300, 10, 10) << 0;
    QTest::newRow("click on a large lesion")
        << QRect(400, 300, 300, 300) << QPoint(550, 450) << QPoint(0, 0) << QRect(400, 300, 300, 300) << 0;
    // A move shifts the lesion's own box.
    QTest::newRow("move") << QRect(400, 300, 300, 300) << QPoint(550, 450) << QPoint(60, 40)
                          << QRect(460, 340, 300, 300) << 1;
    // A small marker is grabbed at its bottom-left corner; a resize stores
    // the new rectangle.
    QTest::newRow("resize") << QRect(400, 300, 10, 10) << QPoint(425, 325) << QPoint(-20, 20)
                            << QRect(360, 280, 70, 70) << 1;
    QTest::newRow("resize below 50 refused")
        << QRect(400, 300, 10, 10) << QPoint(425, 325) << QPoint(20, -20) << QRect(400, 300, 10, 10) << 0;
    QTest::newRow("resize beyond the image refused")
        << QRect(20, 300, 10, 10) << QPoint(45, 325) << QPoint(-40, 0) << QRect(20, 300, 10, 10) << 0;
}

void tst_ImageItemRect::editDrag()
{
    QFETCH(QRect, box);
    QFETCH(QPoint, pressAt);
    QFETCH(QPoint, dragBy);
    QFETCH(QRect, expected);
    QFETCH(int, saves);

    GraphicsScene scene(0, m_session, nullptr);
    auto *clinical = scene.addRect(0, 0, 1600, 1200, Qt::NoPen);
    const auto lesion = lesionWithBox(box);
    new ImageItemRect(lesion, 0, QString(), clinical, new QGraphicsTextItem, nullptr, 0);

    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("edit"));
    view.setFrameShape(QFrame::NoFrame);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(800, 600);
    view.setCurrentScene(&scene);
    view.setSceneRect(0, 0, 1600, 1200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.resetTransform();
    view.centerOn(pressAt);
    view.setEditMode(true);

    QSignalSpy changes(lesion.data(), &LesionVisualizer::changesToSave);
    const QPoint from = view.mapFromScene(pressAt);
    drag(view.viewport(), from, from + dragBy);
    release(view.viewport(), from + dragBy);

    QCOMPARE(lesion->getInstancesBbox().at(0), expected);
    QCOMPARE(changes.count(), saves);
}

QTEST_MAIN(tst_ImageItemRect)
#include "tst_imageitemrect.moc"
