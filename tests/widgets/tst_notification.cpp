#include "widgets/QtNotificationWidget.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

QRect available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

} // namespace

class tst_QtNotificationWidget : public QObject
{
    Q_OBJECT

private slots:
    void placedWithinTheAvailableArea_data();
    void placedWithinTheAvailableArea();
    void slidesInToItsRestingPlace();
    void closeButtonDestroysOnce();
    void fadeDestroysOnce();
    void fadeDuringSlideStillEnds();
    void closingDuringFade();
    void twoNotificationsShareTheSpot();
    void showsPlainTextAndLooksRight();
    void aLongMessageIsShownWhole();
};

void tst_QtNotificationWidget::placedWithinTheAvailableArea_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QPoint>("rest");
    QTest::newRow("task bar at the bottom")
        << QRect(0, 0, 1920, 1040) << QPoint(1910, 930) << QPoint(1610, 930);
    QTest::newRow("task bar at the top")
        << QRect(0, 40, 1920, 1040) << QPoint(1910, 970) << QPoint(1610, 970);
    QTest::newRow("task bar on the left")
        << QRect(60, 0, 1860, 1080) << QPoint(1910, 970) << QPoint(1610, 970);
    QTest::newRow("screen right of another")
        << QRect(1920, 0, 1280, 984) << QPoint(3190, 874) << QPoint(2890, 874);
}

void tst_QtNotificationWidget::placedWithinTheAvailableArea()
{
    QFETCH(QRect, area);
    QFETCH(QPoint, start);
    QFETCH(QPoint, rest);
    QCOMPARE(QtNotificationWidget::startPosition(area), start);
    QCOMPARE(QtNotificationWidget::restingPosition(area), rest);
    // At rest the whole panel lies inside the area.
    QVERIFY(area.contains(QRect(rest, QSize(300, 100))));
}

void tst_QtNotificationWidget::slidesInToItsRestingPlace()
{
    auto *n = new QtNotificationWidget(QStringLiteral("Session downloaded"));
    QPointer<QtNotificationWidget> guard(n);
    QCOMPARE(n->size(), QSize(300, 100));
    QVERIFY(n->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(n->windowFlags() & Qt::WindowStaysOnTopHint);
    n->show();
    QCOMPARE(n->pos(), QtNotificationWidget::startPosition(available()));
    QTRY_COMPARE_WITH_TIMEOUT(n->pos(), QtNotificationWidget::restingPosition(available()), 2000);
    n->close();
    QTRY_VERIFY(guard.isNull());
}

void tst_QtNotificationWidget::closeButtonDestroysOnce()
{
    auto *n = new QtNotificationWidget(QStringLiteral("Recieved new image."));
    QPointer<QtNotificationWidget> guard(n);
    QSignalSpy destroyed(n, &QObject::destroyed);
    // The main window arms its timer this way; the panel is its context.
    QTimer::singleShot(300, n, &QtNotificationWidget::closeWithAnimation);
    n->show();
    auto *closeButton = n->findChild<QPushButton *>(QStringLiteral("closeButton"));
    QVERIFY(closeButton);
    closeButton->click();
    QTRY_VERIFY(guard.isNull());
    QTest::qWait(500);
    QCOMPARE(destroyed.count(), 1);
}

void tst_QtNotificationWidget::fadeDestroysOnce()
{
    auto *n = new QtNotificationWidget(QStringLiteral("Uploading Report"));
    QPointer<QtNotificationWidget> guard(n);
    QSignalSpy destroyed(n, &QObject::destroyed);
    n->show();
    QTest::qWait(QtNotificationWidget::slideDurationMs + 50);
    n->closeWithAnimation();
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(n->graphicsEffect());
    QVERIFY(effect);
    QTRY_VERIFY(effect->opacity() < 1.0);
    QVERIFY(!guard.isNull());
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 2000);
    QCOMPARE(destroyed.count(), 1);
}

void tst_QtNotificationWidget::fadeDuringSlideStillEnds()
{
    // A timeout shorter than the slide starts the fade while the panel moves.
    auto *n = new QtNotificationWidget(QStringLiteral("Short"));
    QPointer<QtNotificationWidget> guard(n);
    QSignalSpy destroyed(n, &QObject::destroyed);
    n->show();
    QTimer::singleShot(100, n, &QtNotificationWidget::closeWithAnimation);
    QTest::qWait(QtNotificationWidget::fadeDurationMs - 50);
    QVERIFY(!guard.isNull());
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 2000);
    QCOMPARE(destroyed.count(), 1);
}

void tst_QtNotificationWidget::closingDuringFade()
{
    auto *n = new QtNotificationWidget(QStringLiteral("Twice"));
    QPointer<QtNotificationWidget> guard(n);
    QSignalSpy destroyed(n, &QObject::destroyed);
    n->show();
    n->closeWithAnimation();
    n->closeWithAnimation(); // a second request changes nothing
    QTest::qWait(100);
    n->findChild<QPushButton *>(QStringLiteral("closeButton"))->click();
    QTRY_VERIFY(guard.isNull());
    QTest::qWait(QtNotificationWidget::fadeDurationMs + 100);
    QCOMPARE(destroyed.count(), 1);
}

void tst_QtNotificationWidget::twoNotificationsShareTheSpot()
{
    auto *first = new QtNotificationWidget(QStringLiteral("First"));
    auto *second = new QtNotificationWidget(QStringLiteral("Second"));
    QPointer<QtNotificationWidget> a(first), b(second);
    first->show();
    second->show();
    const QPoint rest = QtNotificationWidget::restingPosition(available());
    QTRY_COMPARE(first->pos(), rest);
    QTRY_COMPARE(second->pos(), rest);
    first->close();
    second->close();
    QTRY_VERIFY(a.isNull() && b.isNull());
}

void tst_QtNotificationWidget::showsPlainTextAndLooksRight()
{
    auto *n = new QtNotificationWidget(QStringLiteral("<b>Session</b> saved"));
    QPointer<QtNotificationWidget> guard(n);
    n->show();
    auto *label = n->findChild<QLabel *>(QStringLiteral("messageLabel"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("<b>Session</b> saved"));
    QCOMPARE(label->textFormat(), Qt::PlainText);

    const QImage image = n->grab().toImage();
    QVERIFY(image.save(qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QStringLiteral(".")) +
                       QStringLiteral("/notification.png")));
    QCOMPARE(image.pixelColor(10, 50), QColor(33, 33, 36));
    const QColor border = image.pixelColor(3, 50);
    QVERIFY2(border.red() > 200 && border.green() > 170 && border.blue() > 150, qPrintable(border.name()));
    n->close();
    QTRY_VERIFY(guard.isNull());
}

void tst_QtNotificationWidget::aLongMessageIsShownWhole()
{
    auto *n = new QtNotificationWidget(QStringLiteral("Printing stopped: page 12 could not be rendered"));
    QPointer<QtNotificationWidget> guard(n);
    n->show();
    auto *label = n->findChild<QLabel *>(QStringLiteral("messageLabel"));
    QVERIFY(label);
    // Neither cut at the sides nor at the bottom.
    QVERIFY2(label->minimumSizeHint().width() <= label->width(),
             qPrintable(QString::number(label->minimumSizeHint().width())));
    const int needed = label->heightForWidth(label->width());
    QVERIFY2(needed > 0 && needed <= label->height(), qPrintable(QString::number(needed)));
    QVERIFY(n->grab().save(qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QStringLiteral(".")) +
                           QStringLiteral("/notification-long.png")));
    n->close();
    QTRY_VERIFY(guard.isNull());
}

QTEST_MAIN(tst_QtNotificationWidget)
#include "tst_notification.moc"
