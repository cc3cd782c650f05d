#include "session/ClinicalPixmapItem.h"
#include "session/SessionTestSupport.h"

#include <QGraphicsScene>
#include <QtTest>

class tst_ClinicalPixmapItem : public QObject
{
    Q_OBJECT

private slots:
    void sizes_data();
    void sizes();
    void showDecodesAtTargetSize_data();
    void showDecodesAtTargetSize();
    void hideBeforeDecodeLeavesNoPixmap();
    void halfOpacityChangesNothing();
    void destroyedWhileDecoding();
    void unreadableBytesStayEmpty();
};

void tst_ClinicalPixmapItem::sizes_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QRect>("clip");
    QTest::addColumn<QSize>("maxSize");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<QSize>("placeholder");

    QTest::newRow("whole image") << QSize(4000, 3000) << QRect() << QSize(0, 0) << QSize(4000, 3000)
                                 << QSize(381, 285);
    QTest::newRow("device clip") << QSize(5472, 3648) << QRect(QPoint(900, 0), QPoint(5471, 3647)) << QSize()
                                 << QSize(4572, 3648) << QSize(381, 304);
    QTest::newRow("fit within bound")
        << QSize(4000, 3000) << QRect() << QSize(1000, 1000) << QSize(1000, 750) << QSize(381, 285);
    // A device clip on a smaller picture shows only what exists of it.
    QTest::newRow("clip beyond image")
        << QSize(2000, 1000) << QRect(900, 0, 4572, 3648) << QSize() << QSize(1100, 1000) << QSize(334, 304);
}

void tst_ClinicalPixmapItem::sizes()
{
    QFETCH(QSize, imageSize);
    QFETCH(QRect, clip);
    QFETCH(QSize, maxSize);
    QFETCH(QSize, target);
    QFETCH(QSize, placeholder);

    ClinicalPixmapItem item(SessionTestSupport::jpeg(imageSize), clip, maxSize);
    QCOMPARE(item.getTargetSize(), target);
    QCOMPARE(item.getPlaceholderSize(), placeholder);
    QVERIFY(item.pixmap().isNull());
    QVERIFY(!item.isShown());
}

void tst_ClinicalPixmapItem::showDecodesAtTargetSize_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QRect>("clip");
    QTest::addColumn<QSize>("maxSize");
    QTest::addColumn<QSize>("target");

    QTest::newRow("clip") << QSize(1800, 800) << QRect(900, 0, 900, 800) << QSize() << QSize(900, 800);
    QTest::newRow("scaled") << QSize(1600, 1200) << QRect() << QSize(800, 800) << QSize(800, 600);
}

void tst_ClinicalPixmapItem::showDecodesAtTargetSize()
{
    QFETCH(QSize, imageSize);
    QFETCH(QRect, clip);
    QFETCH(QSize, maxSize);
    QFETCH(QSize, target);

    QGraphicsScene scene;
    auto *item = new ClinicalPixmapItem(SessionTestSupport::jpeg(imageSize), clip, maxSize);
    scene.addItem(item);
    item->setOpacity(0.0);
    item->setOpacity(1.0);
    // At once: the placeholder, with the final geometry.
    QVERIFY(!item->pixmap().isNull());
    QCOMPARE(item->pixmap().size(), item->getPlaceholderSize());
    QCOMPARE(item->boundingRect(), QRectF(QPointF(0, 0), QSizeF(target)));
    QVERIFY(!item->hasFullImage());

    QTRY_VERIFY(item->hasFullImage());
    QCOMPARE(item->pixmap().size(), target);
    QCOMPARE(item->boundingRect(), QRectF(QPointF(0, 0), QSizeF(target)));
    // The clip shows the right part: in the "clip" row the darker middle
    // square starts at x = 450 of the full picture, i.e. it covers the left
    // half of the clip.
    if (clip.isValid()) {
        const QImage shown = item->pixmap().toImage();
        QVERIFY(qGray(shown.pixel(100, 400)) < qGray(shown.pixel(800, 400)));
    }
}

void tst_ClinicalPixmapItem::hideBeforeDecodeLeavesNoPixmap()
{
    QGraphicsScene scene;
    auto *item = new ClinicalPixmapItem(SessionTestSupport::jpeg(QSize(2000, 1500)), QRect(), QSize());
    scene.addItem(item);
    item->setOpacity(1.0);
    item->setOpacity(0.0);
    QTRY_COMPARE(ClinicalPixmapItem::pendingDecodes(), 0);
    QTRY_VERIFY(item->pixmap().isNull());
    QVERIFY(!item->hasFullImage());
    QCOMPARE(item->boundingRect(), QRectF());

    // Showing it again decodes again.
    item->setOpacity(1.0);
    QTRY_VERIFY(item->hasFullImage());
}

void tst_ClinicalPixmapItem::halfOpacityChangesNothing()
{
    QGraphicsScene scene;
    auto *item = new ClinicalPixmapItem(SessionTestSupport::jpeg(QSize(800, 600)), QRect(), QSize());
    scene.addItem(item);
    item->setOpacity(0.5);
    QCoreApplication::processEvents();
    QVERIFY(item->pixmap().isNull());
    QCOMPARE(ClinicalPixmapItem::pendingDecodes(), 0);

    item->setOpacity(1.0);
    QTRY_VERIFY(item->hasFullImage());
    item->setOpacity(0.5);
    QCoreApplication::processEvents();
    QVERIFY(item->hasFullImage());
}

void tst_ClinicalPixmapItem::destroyedWhileDecoding()
{
    // A large picture, so that the decode is still running when the scene
    // goes (as when a view is rebuilt); the late result must find nothing.
    const QByteArray bytes = SessionTestSupport::jpeg(QSize(5472, 3648));
    for (int round = 0; round < 3; ++round) {
        auto scene = std::make_unique<QGraphicsScene>();
        auto *item = new ClinicalPixmapItem(bytes, QRect(QPoint(900, 0), QPoint(5471, 3647)), QSize());
        scene->addItem(item);
        item->setOpacity(1.0);
        QTRY_VERIFY(ClinicalPixmapItem::pendingDecodes() > 0);
        scene.reset();
        QTRY_COMPARE(ClinicalPixmapItem::pendingDecodes(), 0);
    }
}

void tst_ClinicalPixmapItem::unreadableBytesStayEmpty()
{
    ClinicalPixmapItem item(QByteArray("not a picture"), QRect(), QSize());
    QVERIFY(item.isUnreadable());
    item.setOpacity(1.0);
    QCoreApplication::processEvents();
    QVERIFY(item.pixmap().isNull());
    QCOMPARE(ClinicalPixmapItem::pendingDecodes(), 0);
}

QTEST_MAIN(tst_ClinicalPixmapItem)
#include "tst_clinicalpixmapitem.moc"
