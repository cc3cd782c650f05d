#include "statistics/QtStatisticsWidget.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFile>
#include <QStackedBarSeries>
#include <QTest>
#include <QValueAxis>

#include <limits>

using Intervals = std::vector<std::pair<double, double>>;
using Radii = std::vector<double>;

class tst_StatisticsWidget : public QObject
{
    Q_OBJECT

private slots:
    void histogram_data();
    void histogram();
    void sliderSelectsWholeBins_data();
    void sliderSelectsWholeBins();
    void barClickTogglesOneBin();
    void rebuildResetsSliderToFullRange_data();
    void rebuildResetsSliderToFullRange();
    void screenshot();
};

namespace {

const Radii kThreeLesions{0.4, 1.2, 3.2};

void record(QtStatisticsWidget &widget, std::vector<Intervals> &emitted)
{
    QObject::connect(&widget, &QtStatisticsWidget::selectionChanged, &widget,
                     [&emitted](Intervals intervals) { emitted.push_back(std::move(intervals)); });
}

QList<QBarSet *> barSets(const QtStatisticsWidget &widget)
{
    auto *series = qobject_cast<QStackedBarSeries *>(widget.chartView()->chart()->series().value(0));
    return series ? series->barSets() : QList<QBarSet *>{};
}

// Bar i is set i's value at category i; a set with a value elsewhere gives -1.
QList<double> barHeights(const QtStatisticsWidget &widget)
{
    QList<double> heights;
    const QList<QBarSet *> sets = barSets(widget);
    for (int i = 0; i < sets.size(); ++i) {
        bool elsewhere = false;
        for (int j = 0; j < sets[i]->count(); ++j)
            elsewhere = elsewhere || (j != i && sets[i]->at(j) != 0);
        heights << (elsewhere ? -1.0 : sets[i]->at(i));
    }
    return heights;
}

// Opaque bars are selected (1), faded ones not (0).
QString selectedBits(const QtStatisticsWidget &widget)
{
    QString bits;
    for (QBarSet *set : barSets(widget))
        bits += set->color().alpha() == 255 ? '1' : set->color().alpha() == 100 ? '0' : '?';
    return bits;
}

QString text(const QtStatisticsWidget &widget, const char *name)
{
    auto *label = widget.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing>");
}

} // namespace

void tst_StatisticsWidget::histogram_data()
{
    QTest::addColumn<Radii>("radii");
    QTest::addColumn<QStringList>("categories");
    QTest::addColumn<QList<double>>("heights");
    QTest::addColumn<double>("countAxisMaximum");
    QTest::addColumn<int>("sliderMaximum");
    QTest::addColumn<QString>("range");

    QTest::newRow("three lesions, one empty bin") << kThreeLesions << QStringList{"0-2", "2-4", "4-6", "6-8"}
                                                  << QList<double>{1, 1, 0, 1} << 2.0 << 4 << "0 - 8";
    QTest::newRow("0, negative, 20, beyond and NaN not counted")
        << Radii{0.0, -1.0, 20.0, 25.0, 1.5, std::numeric_limits<double>::quiet_NaN()}
        << QStringList{"0-2", "2-4"} << QList<double>{0, 1} << 2.0 << 2 << "0 - 4";
    QTest::newRow("largest radius on a bin edge counts in the top bin")
        << Radii{3.0, 2.5, 2.1} << QStringList{"0-2", "2-4", "4-6"} << QList<double>{0, 0, 3} << 4.0 << 3
        << "0 - 6";
    QTest::newRow("count margin is 15 percent")
        << Radii(14, 0.5) << QStringList{"0-2"} << QList<double>{14} << 16.0 << 1 << "0 - 2";
    QTest::newRow("nothing countable")
        << Radii{0.0, -1.0, 20.0} << QStringList{} << QList<double>{} << 1.0 << 0 << "0 - 0";
}

void tst_StatisticsWidget::histogram()
{
    QFETCH(Radii, radii);
    QFETCH(QStringList, categories);
    QFETCH(QList<double>, heights);
    QFETCH(double, countAxisMaximum);
    QFETCH(int, sliderMaximum);
    QFETCH(QString, range);

    QtStatisticsWidget widget;
    QVERIFY(!widget.chartView());
    widget.setData(radii);

    QVERIFY(widget.chartView());
    QChart *chart = widget.chartView()->chart();
    auto *xAxis = qobject_cast<QBarCategoryAxis *>(chart->axes(Qt::Horizontal).value(0));
    auto *yAxis = qobject_cast<QValueAxis *>(chart->axes(Qt::Vertical).value(0));
    QVERIFY(xAxis && yAxis);
    QCOMPARE(xAxis->categories(), categories);
    QCOMPARE(barHeights(widget), heights);
    QCOMPARE(yAxis->max(), countAxisMaximum);
    QCOMPARE(widget.rangeSlider()->maximum(), sliderMaximum);
    QCOMPARE(text(widget, "selectedRange"), range);
    QCOMPARE(text(widget, "labelLower") + " - " + text(widget, "labelUpper"), range);
}

void tst_StatisticsWidget::sliderSelectsWholeBins_data()
{
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<Intervals>("selected");
    QTest::addColumn<QString>("bits");
    QTest::addColumn<QString>("range");

    QTest::newRow("1..3") << 1 << 3 << Intervals{{1, 2}, {2, 3}} << "0110"
                          << "2 - 6";
    QTest::newRow("0..3") << 0 << 3 << Intervals{{0, 1}, {1, 2}, {2, 3}} << "1110"
                          << "0 - 6";
    QTest::newRow("handles together select nothing") << 2 << 2 << Intervals{} << "0000"
                                                     << "4 - 4";
}

void tst_StatisticsWidget::sliderSelectsWholeBins()
{
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(Intervals, selected);
    QFETCH(QString, bits);
    QFETCH(QString, range);

    std::vector<Intervals> emitted;
    QtStatisticsWidget widget;
    widget.setData(kThreeLesions);
    record(widget, emitted);
    widget.rangeSlider()->setUpperValue(upper);
    widget.rangeSlider()->setLowerValue(lower);

    QVERIFY(!emitted.empty());
    QCOMPARE(emitted.back(), selected);
    QCOMPARE(selectedBits(widget), bits);
    QCOMPARE(text(widget, "selectedRange"), range);
    QVERIFY(!widget.isFullRangeSelected());
}

void tst_StatisticsWidget::barClickTogglesOneBin()
{
    std::vector<Intervals> emitted;
    QtStatisticsWidget widget;
    widget.setData(kThreeLesions);
    record(widget, emitted);

    widget.handleBarClicked(1);
    QCOMPARE(emitted, std::vector<Intervals>{(Intervals{{0, 1}, {2, 3}, {3, 4}})});
    QCOMPARE(selectedBits(widget), QStringLiteral("1011"));
    widget.handleBarClicked(-1);
    widget.handleBarClicked(4);
    QCOMPARE(emitted.size(), size_t(1));
}

void tst_StatisticsWidget::rebuildResetsSliderToFullRange_data()
{
    QTest::addColumn<Radii>("first");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<Radii>("second");
    QTest::addColumn<int>("expectedUpper");
    QTest::addColumn<QString>("range");
    QTest::addColumn<Intervals>("published");

    QTest::newRow("smaller data after a narrowed range")
        << Radii{5.5, 7.2} << 3 << 6 << kThreeLesions << 4 << "0 - 8"
        << Intervals{{0, 1}, {1, 2}, {2, 3}, {3, 4}};
    QTest::newRow("larger data after a narrowed range")
        << kThreeLesions << 1 << 2 << Radii{5.5, 0.3} << 6 << "0 - 12"
        << Intervals{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}};
    QTest::newRow("no lesions") << kThreeLesions << 1 << 3 << Radii{} << 0 << "0 - 0" << Intervals{};
    QTest::newRow("only hand-marked and oversized lesions")
        << kThreeLesions << 1 << 3 << Radii{-1.0, 0.0, 22.0} << 0 << "0 - 0" << Intervals{};
}

void tst_StatisticsWidget::rebuildResetsSliderToFullRange()
{
    QFETCH(Radii, first);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(Radii, second);
    QFETCH(int, expectedUpper);
    QFETCH(QString, range);
    QFETCH(Intervals, published);

    std::vector<Intervals> emitted;
    QtStatisticsWidget widget;
    widget.setData(first);
    // Shown, so that the rebuild replaces a chart whose bars are still animating.
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    widget.rangeSlider()->setLowerValue(lower);
    widget.rangeSlider()->setUpperValue(upper);
    QCOMPARE(widget.rangeSlider()->upperValue(), upper);
    record(widget, emitted);
    widget.setData(second);

    QCOMPARE(widget.rangeSlider()->lowerValue(), 0);
    QCOMPARE(widget.rangeSlider()->upperValue(), expectedUpper);
    QCOMPARE(text(widget, "selectedRange"), range);
    // The previous chart is gone; every new bar is selected.
    QCOMPARE(widget.findChildren<QChartView *>().size(), qsizetype(1));
    QCOMPARE(selectedBits(widget), QString(int(published.size()), '1'));
    QVERIFY(widget.isFullRangeSelected());
    // One publication of the whole new range, for the owner's filters.
    QCOMPARE(emitted, std::vector<Intervals>{published});
}

void tst_StatisticsWidget::screenshot()
{
    QFile styleSheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + "/resources/styleSheet.qss");
    if (styleSheet.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
    QtStatisticsWidget widget;
    widget.setStyleSheet(QStringLiteral("QtStatisticsWidget { background-color: #1c1c1e; }"));
    widget.setAttribute(Qt::WA_StyledBackground);
    widget.resize(520, 320);
    widget.setData({0.4, 1.2, 1.7, 1.9, 2.2, 2.5, 2.8, 3.2, 3.6, 4.1, 5.3, 0.8, 1.1, 2.0, -1.0});
    widget.chartView()->chart()->setAnimationOptions(QChart::NoAnimation);
    widget.rangeSlider()->setUpperValue(5);
    widget.rangeSlider()->setLowerValue(1);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    const QString dir = qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QDir::tempPath());
    QVERIFY(widget.grab().toImage().save(dir + "/statisticswidget.png"));

    // The next patient has no measured lesions: nothing of the previous chart remains.
    widget.setData({});
    widget.chartView()->chart()->setAnimationOptions(QChart::NoAnimation);
    QTRY_VERIFY(widget.chartView()->isVisible());
    QVERIFY(widget.grab().toImage().save(dir + "/statisticswidget-empty.png"));
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(tst_StatisticsWidget)
#include "tst_statisticswidget.moc"
