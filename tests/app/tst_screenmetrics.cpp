#include "app/ScreenMetrics.h"

#include <QTest>

class tst_ScreenMetrics : public QObject
{
    Q_OBJECT

private slots:
    void figuresForAScreen_data();
    void figuresForAScreen();
};

void tst_ScreenMetrics::figuresForAScreen_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("ratio");
    QTest::addColumn<int>("labelIcon");
    QTest::addColumn<int>("renderedLabelIcon");
    QTest::addColumn<int>("buttonIcon");
    QTest::addColumn<int>("legend");
    QTest::addColumn<int>("viewIcon");

    // Worked by hand from the sizing rules (W x 0.025, W x 0.0078 + 20,
    // W / 128 + 30, W x 0.005 + 10), all truncated.
    QTest::newRow("1920") << 1920 << 1.0 << 48 << 48 << 34 << 45 << 19;
    QTest::newRow("1920 at ratio 2") << 1920 << 2.0 << 48 << 96 << 34 << 45 << 19;
    QTest::newRow("1920 at ratio 1.25") << 1920 << 1.25 << 48 << 60 << 34 << 45 << 19;
    // 0.0078 rather than 1/128 shows at 1280: 29, not 30.
    QTest::newRow("1280") << 1280 << 1.0 << 32 << 32 << 29 << 40 << 16;
    QTest::newRow("1366") << 1366 << 1.0 << 34 << 34 << 30 << 40 << 16;
    QTest::newRow("2560") << 2560 << 1.0 << 64 << 64 << 39 << 50 << 22;
    QTest::newRow("3840") << 3840 << 1.5 << 96 << 144 << 49 << 60 << 29;
}

void tst_ScreenMetrics::figuresForAScreen()
{
    QFETCH(int, width);
    QFETCH(double, ratio);
    QFETCH(int, labelIcon);
    QFETCH(int, renderedLabelIcon);
    QFETCH(int, buttonIcon);
    QFETCH(int, legend);
    QFETCH(int, viewIcon);

    const ScreenMetrics m = ScreenMetrics::forScreen(width, ratio);
    QCOMPARE(m.labelIconSide, labelIcon);
    QCOMPARE(m.renderedLabelIconSide, renderedLabelIcon);
    QCOMPARE(m.buttonIconSide, buttonIcon);
    QCOMPARE(m.buttonIconSize(), QSize(buttonIcon, buttonIcon));
    QCOMPARE(m.legendHeight, legend);
    QCOMPARE(m.visualizationIconSide, viewIcon);
}

QTEST_APPLESS_MAIN(tst_ScreenMetrics)
#include "tst_screenmetrics.moc"
