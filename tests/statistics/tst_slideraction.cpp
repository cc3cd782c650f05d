#include "statistics/QtSliderAction.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

using namespace std::chrono_literals;

class tst_SliderAction : public QObject
{
    Q_OBJECT

private slots:
    void throttle_data();
    void throttle();
    void resetReturnsToInitialValue();
};

void tst_SliderAction::throttle_data()
{
    QTest::addColumn<qint64>("intervalNs");
    QTest::addColumn<bool>("dragged");
    QTest::addColumn<int>("emittedDuringChanges");
    QTest::addColumn<int>("emittedAfterRelease");

    // An hour-long interval drops every change of a drag, whatever the
    // machine's speed; a zero interval drops none.
    QTest::newRow("dropped changes of a drag are applied once on release")
        << qint64(std::chrono::nanoseconds(1h).count()) << true << 0 << 1;
    QTest::newRow("a drag without dropped changes emits nothing on release") << qint64(0) << true << 3 << 3;
    QTest::newRow("changes without a drag are never throttled")
        << qint64(std::chrono::nanoseconds(1h).count()) << false << 3 << 3;
}

void tst_SliderAction::throttle()
{
    QFETCH(qint64, intervalNs);
    QFETCH(bool, dragged);
    QFETCH(int, emittedDuringChanges);
    QFETCH(int, emittedAfterRelease);

    QtSliderAction action(new QLabel, 50);
    action.setThrottleInterval(std::chrono::nanoseconds(intervalNs));
    QSignalSpy changed(&action, &QAction::changed);

    QSlider *slider = action.slider();
    slider->setSliderDown(dragged);
    slider->setValue(60);
    slider->setValue(70);
    slider->setValue(80);
    QCOMPARE(changed.size(), emittedDuringChanges);

    slider->setSliderDown(false);
    QTRY_COMPARE(changed.size(), emittedAfterRelease);
    QCOMPARE(action.value(), 80);
}

void tst_SliderAction::resetReturnsToInitialValue()
{
    QtSliderAction action(new QLabel, 50);
    auto *reset = action.defaultWidget()->findChild<QPushButton *>(QStringLiteral("resetButton"));
    QVERIFY(reset);
    QSignalSpy changed(&action, &QAction::changed);

    // At the initial value already: no change follows.
    reset->click();
    QCOMPARE(changed.size(), 0);

    action.slider()->setValue(90);
    QCOMPARE(changed.size(), 1);
    reset->click();
    QCOMPARE(action.value(), 50);
    QCOMPARE(changed.size(), 2);
}

QTEST_MAIN(tst_SliderAction)
#include "tst_slideraction.moc"
