#include "statistics/QtRangeSlider.h"

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

class tst_RangeSlider : public QObject
{
    Q_OBJECT

private slots:
    void setters_data();
    void setters();
    void setRangeKeepsHandlesInOrder_data();
    void setRangeKeepsHandlesInOrder();
    void dragNeverCrosses_data();
    void dragNeverCrosses();
};

namespace {

// A slider 220 pixels wide: the handle centres run from x = 10 to x = 210,
// two pixels per step over 0..100. Lower value 20 (x = 50), upper 60 (x = 130).
struct Fixture
{
    QtRangeSlider slider;
    Fixture()
    {
        slider.resize(220, 30);
        slider.setRange(0, 100);
        slider.setUpperValue(60);
        slider.setLowerValue(20);
    }
};

void send(QWidget *widget, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), widget->mapToGlobal(QPointF(pos)), Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

void tst_RangeSlider::setters_data()
{
    QTest::addColumn<bool>("lowerHandle");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("lowerSignals");
    QTest::addColumn<int>("upperSignals");

    QTest::newRow("lower moves") << true << 30 << 30 << 60 << 1 << 0;
    QTest::newRow("lower onto upper") << true << 60 << 60 << 60 << 1 << 0;
    QTest::newRow("lower above upper") << true << 61 << 20 << 60 << 0 << 0;
    QTest::newRow("lower below minimum") << true << -1 << 20 << 60 << 0 << 0;
    QTest::newRow("upper onto lower") << false << 20 << 20 << 20 << 0 << 1;
    QTest::newRow("upper below lower") << false << 19 << 20 << 60 << 0 << 0;
    QTest::newRow("upper above maximum") << false << 101 << 20 << 60 << 0 << 0;
}

void tst_RangeSlider::setters()
{
    QFETCH(bool, lowerHandle);
    QFETCH(int, value);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(int, lowerSignals);
    QFETCH(int, upperSignals);

    Fixture f;
    QSignalSpy lowerSpy(&f.slider, &QtRangeSlider::lowerValueChanged);
    QSignalSpy upperSpy(&f.slider, &QtRangeSlider::upperValueChanged);
    if (lowerHandle)
        f.slider.setLowerValue(value);
    else
        f.slider.setUpperValue(value);

    QCOMPARE(f.slider.lowerValue(), lower);
    QCOMPARE(f.slider.upperValue(), upper);
    QCOMPARE(lowerSpy.size(), lowerSignals);
    QCOMPARE(upperSpy.size(), upperSignals);
}

void tst_RangeSlider::setRangeKeepsHandlesInOrder_data()
{
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");

    QTest::newRow("inside both values") << 30 << 50 << 30 << 50;
    QTest::newRow("wholly above both values") << 70 << 90 << 70 << 70;
    QTest::newRow("wholly below both values") << 0 << 10 << 10 << 10;
    QTest::newRow("inverted range collapses") << 40 << 10 << 40 << 40;
}

void tst_RangeSlider::setRangeKeepsHandlesInOrder()
{
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(int, lower);
    QFETCH(int, upper);

    Fixture f;
    QSignalSpy lowerSpy(&f.slider, &QtRangeSlider::lowerValueChanged);
    QSignalSpy upperSpy(&f.slider, &QtRangeSlider::upperValueChanged);
    f.slider.setRange(min, max);

    QCOMPARE(f.slider.lowerValue(), lower);
    QCOMPARE(f.slider.upperValue(), upper);
    QCOMPARE(lowerSpy.size(), 0);
    QCOMPARE(upperSpy.size(), 0);
}

void tst_RangeSlider::dragNeverCrosses_data()
{
    QTest::addColumn<int>("pressX");
    QTest::addColumn<int>("moveX");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");

    QTest::newRow("lower past upper stops a step before") << 50 << 200 << 59 << 60;
    QTest::newRow("lower past the left end") << 50 << -40 << 0 << 60;
    QTest::newRow("upper past lower stops a step after") << 130 << 0 << 20 << 21;
    QTest::newRow("handle edge grabs it") << 134 << 170 << 20 << 80;
    QTest::newRow("press on the groove grabs nothing") << 90 << 150 << 20 << 60;
}

void tst_RangeSlider::dragNeverCrosses()
{
    QFETCH(int, pressX);
    QFETCH(int, moveX);
    QFETCH(int, lower);
    QFETCH(int, upper);

    Fixture f;
    send(&f.slider, QEvent::MouseButtonPress, QPoint(pressX, 15), Qt::LeftButton);
    send(&f.slider, QEvent::MouseMove, QPoint((pressX + moveX) / 2, 15), Qt::LeftButton);
    send(&f.slider, QEvent::MouseMove, QPoint(moveX, 15), Qt::LeftButton);
    send(&f.slider, QEvent::MouseButtonRelease, QPoint(moveX, 15), Qt::NoButton);
    QCOMPARE(f.slider.lowerValue(), lower);
    QCOMPARE(f.slider.upperValue(), upper);
}

QTEST_MAIN(tst_RangeSlider)
#include "tst_rangeslider.moc"
