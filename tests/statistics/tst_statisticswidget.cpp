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

#include <cmath>
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
    void draggedHandlesUpdateLabelWithoutCrossing();
    void barClickTogglesOneBin();
    void emptyDataReplacesPreviousHistogram_data();
    void emptyDataReplacesPreviousHistogram();
    void rebuildResetsSliderToFullRange_data();
    void rebuildResetsSliderToFullRange();
    void screenshot();
};

namespace {

// Records every published selection.
struct SelectionRecorder
{
    std::vector<Intervals> emitted;
    explicit SelectionRecorder(QtStatisticsWidget &widget)
    {
        QObject::connect(&widget, &QtStatisticsWidget::selectionChanged, &widget,
                         [this](Intervals intervals) { emitted.push_back(std::move(intervals)); });
    }
};

QStackedBarSeries *seriesOf(const QtStatisticsWidget &widget)
{
    if (!widget.chartView() || widget.chartView()->chart()->series().size() != 1)
        return nullptr;
    return qobject_cast<QStackedBarSeries *>(widget.chartView()->chart()->series().first());
}

QStringList categoriesOf(const QtStatisticsWidget &widget)
{
    const auto axes = widget.chartView()->chart()->axes(Qt::Horizontal);
    auto *axis = axes.isEmpty() ? nullptr : qobject_cast<QBarCategoryAxis *>(axes.first());
    return axis ? axis->categories() : QStringList{QStringLiteral("<no axis>")};
}

double countAxisMaximum(const QtStatisticsWidget &widget)
{
    const auto axes = widget.chartView()->chart()->axes(Qt::Vertical);
    auto *axis = axes.isEmpty() ? nullptr : qobject_cast<QValueAxis *>(axes.first());
    return axis ? axis->max() : -1;
}

// The height of every bar: the value of set i at category i; every other
// value of a set must be 0.
QList<double> barHeights(const QtStatisticsWidget &widget)
{
    QList<double> heights;
    QStackedBarSeries *series = seriesOf(widget);
    if (!series)
        return {-1};
    const QList<QBarSet *> sets = series->barSets();
    for (int i = 0; i < sets.size(); ++i) {
        for (int j = 0; j < sets[i]->count(); ++j) {
            if (j != i && sets[i]->at(j) != 0)
                return {-2};
        }
        heights << sets[i]->at(i);
    }
    return heights;
}

QString label(const QtStatisticsWidget &widget, const char *name)
{
    auto *l = widget.findChild<QLabel *>(QString::fromLatin1(name));
    return l ? l->text() : QStringLiteral("<missing>");
}

QString selectedBits(const QtStatisticsWidget &widget)
{
    // Bars of selected bins are opaque, the others faded.
    QString bits;
    QStackedBarSeries *series = seriesOf(widget);
    if (!series)
        return QStringLiteral("<no series>");
    for (QBarSet *set : series->barSets())
        bits += set->color().alpha() == 255   ? QLatin1Char('1')
                : set->color().alpha() == 100 ? QLatin1Char('0')
                                              : QLatin1Char('?');
    return bits;
}

const Radii kThreeLesions{0.4, 1.2, 3.2};

} // namespace

void tst_StatisticsWidget::histogram_data()
{
    QTest::addColumn<Radii>("radii");
    QTest::addColumn<QStringList>("categories");
    QTest::addColumn<QList<double>>("heights");
    QTest::addColumn<double>("axisMaximum");
    QTest::addColumn<int>("sliderMaximum");
    QTest::addColumn<QString>("upperLabel");

    QTest::newRow("three lesions, one empty bin") << kThreeLesions << QStringList{"0-2", "2-4", "4-6", "6-8"}
                                                  << QList<double>{1, 1, 0, 1} << 2.0 << 4 << "8";
    QTest::newRow("0, negative, 20, beyond 20 and NaN are not counted")
        << Radii{0.0, -1.0, 20.0, 25.0, 1.5, std::numeric_limits<double>::quiet_NaN()}
        << QStringList{"0-2", "2-4"} << QList<double>{0, 1} << 2.0 << 2 << "4";
    QTest::newRow("radius on a bin edge counts in the bin below the top")
        << Radii{3.0, 2.5, 2.1} << QStringList{"0-2", "2-4", "4-6"} << QList<double>{0, 0, 3} << 4.0 << 3
        << "6";
    QTest::newRow("margin above the largest count is 15 percent")
        << Radii(14, 0.5) << QStringList{"0-2"} << QList<double>{14} << 16.0 << 1 << "2";
    QTest::newRow("just under 20") << Radii{19.99, 0.1} <<
        [] {
            QStringList all;
            for (int i = 0; i < 20; ++i)
                all << QStringLiteral("%1-%2").arg(2 * i).arg(2 * i + 2);
            return all;
        }() << QList<double>{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}
                                   << 2.0 << 20 << "40";
    QTest::newRow("nothing countable")
        << Radii{0.0, -1.0, 20.0} << QStringList{} << QList<double>{} << 1.0 << 0 << "0";
}

void tst_StatisticsWidget::histogram()
{
    QFETCH(Radii, radii);
    QFETCH(QStringList, categories);
    QFETCH(QList<double>, heights);
    QFETCH(double, axisMaximum);
    QFETCH(int, sliderMaximum);
    QFETCH(QString, upperLabel);

    QtStatisticsWidget widget;
    QVERIFY(!widget.chartView());
    widget.setData(radii);

    QVERIFY(widget.chartView());
    QCOMPARE(widget.chartView()->objectName(), QStringLiteral("histogramChartView"));
    QCOMPARE(categoriesOf(widget), categories);
    QCOMPARE(barHeights(widget), heights);
    QCOMPARE(countAxisMaximum(widget), axisMaximum);
    QCOMPARE(widget.rangeSlider()->minimum(), 0);
    QCOMPARE(widget.rangeSlider()->maximum(), sliderMaximum);
    QCOMPARE(label(widget, "labelLower"), QStringLiteral("0"));
    QCOMPARE(label(widget, "labelUpper"), upperLabel);
    QCOMPARE(label(widget, "selectedRange"), "0 - " + upperLabel);
}

void tst_StatisticsWidget::sliderSelectsWholeBins_data()
{
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<Intervals>("selected");
    QTest::addColumn<QString>("bits");
    QTest::addColumn<QString>("rangeText");

    QTest::newRow("1..3") << 1 << 3 << Intervals{{1, 2}, {2, 3}} << "0110"
                          << "2 - 6";
    QTest::newRow("0..3") << 0 << 3 << Intervals{{0, 1}, {1, 2}, {2, 3}} << "1110"
                          << "0 - 6";
    QTest::newRow("3..4") << 3 << 4 << Intervals{{3, 4}} << "0001"
                          << "6 - 8";
    QTest::newRow("handles together select nothing") << 2 << 2 << Intervals{} << "0000"
                                                     << "4 - 4";
}

void tst_StatisticsWidget::sliderSelectsWholeBins()
{
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(Intervals, selected);
    QFETCH(QString, bits);
    QFETCH(QString, rangeText);

    QtStatisticsWidget widget;
    widget.setData(kThreeLesions);
    SelectionRecorder recorder(widget);
    // Narrow first so that both setters take effect whatever the order.
    widget.rangeSlider()->setUpperValue(upper);
    widget.rangeSlider()->setLowerValue(lower);

    QVERIFY(!recorder.emitted.empty());
    QCOMPARE(recorder.emitted.back(), selected);
    QCOMPARE(widget.selectedIntervals(), selected);
    QCOMPARE(selectedBits(widget), bits);
    QCOMPARE(label(widget, "selectedRange"), rangeText);
    QVERIFY(!widget.isFullRangeSelected());
}

void tst_StatisticsWidget::draggedHandlesUpdateLabelWithoutCrossing()
{
    QtStatisticsWidget widget;
    widget.resize(400, 300);
    widget.setData(kThreeLesions);
    QtRangeSlider *slider = widget.rangeSlider();
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));

    // Lower handle dragged far past the upper one stops a step before it.
    const QPoint lowerHandle = slider->handleRect(slider->lowerValue()).center();
    QTest::mousePress(slider, Qt::LeftButton, {}, lowerHandle);
    QTest::mouseMove(slider, QPoint(slider->width() + 50, lowerHandle.y()));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() + 50, lowerHandle.y()));
    QCOMPARE(slider->lowerValue(), 3);
    QCOMPARE(slider->upperValue(), 4);
    QCOMPARE(label(widget, "selectedRange"), QStringLiteral("6 - 8"));
    QCOMPARE(widget.selectedIntervals(), (Intervals{{3, 4}}));
}

void tst_StatisticsWidget::barClickTogglesOneBin()
{
    QtStatisticsWidget widget;
    widget.setData(kThreeLesions);
    SelectionRecorder recorder(widget);

    widget.handleBarClicked(1);
    QCOMPARE(recorder.emitted.size(), size_t(1));
    QCOMPARE(recorder.emitted.back(), (Intervals{{0, 1}, {2, 3}, {3, 4}}));
    QCOMPARE(selectedBits(widget), QStringLiteral("1011"));
    QVERIFY(!widget.isFullRangeSelected());

    widget.handleBarClicked(1);
    QCOMPARE(recorder.emitted.back(), (Intervals{{0, 1}, {1, 2}, {2, 3}, {3, 4}}));

    // Indices outside the bins are ignored.
    widget.handleBarClicked(-1);
    widget.handleBarClicked(4);
    QCOMPARE(recorder.emitted.size(), size_t(2));
}

void tst_StatisticsWidget::emptyDataReplacesPreviousHistogram_data()
{
    QTest::addColumn<Radii>("second");
    QTest::newRow("no lesions") << Radii{};
    QTest::newRow("only hand-marked and oversized lesions") << Radii{-1.0, 0.0, 22.0};
}

void tst_StatisticsWidget::emptyDataReplacesPreviousHistogram()
{
    QFETCH(Radii, second);

    QtStatisticsWidget widget;
    widget.setData(kThreeLesions);
    widget.rangeSlider()->setLowerValue(1);
    SelectionRecorder recorder(widget);

    widget.setData(second);

    QVERIFY(widget.chartView());
    QCOMPARE(barHeights(widget), QList<double>{});
    QCOMPARE(categoriesOf(widget), QStringList{});
    QCOMPARE(widget.chartView()->parentWidget()->findChildren<QChartView *>().size(), qsizetype(1));
    QCOMPARE(widget.rangeSlider()->maximum(), 0);
    QCOMPARE(widget.rangeSlider()->lowerValue(), 0);
    QCOMPARE(widget.rangeSlider()->upperValue(), 0);
    QCOMPARE(label(widget, "selectedRange"), QStringLiteral("0 - 0"));
    QCOMPARE(recorder.emitted, std::vector<Intervals>{Intervals{}});
    QVERIFY(widget.isFullRangeSelected());
}

void tst_StatisticsWidget::rebuildResetsSliderToFullRange_data()
{
    QTest::addColumn<Radii>("first");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<Radii>("second");
    QTest::addColumn<int>("expectedUpper");
    QTest::addColumn<QString>("rangeText");
    QTest::addColumn<Intervals>("published");

    QTest::newRow("smaller data after a narrowed range")
        << Radii{5.5, 7.2} << 3 << 6 << kThreeLesions << 4 << "0 - 8"
        << Intervals{{0, 1}, {1, 2}, {2, 3}, {3, 4}};
    QTest::newRow("larger data after a narrowed range")
        << kThreeLesions << 1 << 2 << Radii{5.5, 0.3} << 6 << "0 - 12"
        << Intervals{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}};
}

void tst_StatisticsWidget::rebuildResetsSliderToFullRange()
{
    QFETCH(Radii, first);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(Radii, second);
    QFETCH(int, expectedUpper);
    QFETCH(QString, rangeText);
    QFETCH(Intervals, published);

    QtStatisticsWidget widget;
    widget.setData(first);
    widget.rangeSlider()->setLowerValue(lower);
    widget.rangeSlider()->setUpperValue(upper);
    QCOMPARE(widget.rangeSlider()->lowerValue(), lower);
    QCOMPARE(widget.rangeSlider()->upperValue(), upper);
    SelectionRecorder recorder(widget);

    widget.setData(second);

    QCOMPARE(widget.rangeSlider()->lowerValue(), 0);
    QCOMPARE(widget.rangeSlider()->upperValue(), expectedUpper);
    QCOMPARE(widget.rangeSlider()->maximum(), expectedUpper);
    QCOMPARE(label(widget, "selectedRange"), rangeText);
    QCOMPARE(selectedBits(widget), QString(int(published.size()), QLatin1Char('1')));
    // Exactly one publication, of the whole new range, for the owner's filters.
    QCOMPARE(recorder.emitted, std::vector<Intervals>{published});
}

void tst_StatisticsWidget::screenshot()
{
    QFile styleSheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + "/resources/styleSheet.qss");
    if (styleSheet.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(styleSheet.readAll()));

    QtStatisticsWidget widget;
    widget.setObjectName(QStringLiteral("statisticsWidget"));
    widget.setStyleSheet(QStringLiteral("#statisticsWidget { background-color: #1c1c1e; }"));
    widget.setAttribute(Qt::WA_StyledBackground);
    widget.resize(520, 320);
    widget.setData({0.4, 1.2, 1.7, 1.9, 2.2, 2.5, 2.8, 3.2, 3.6, 4.1, 5.3, 0.8, 1.1, 2.0, -1.0});
    widget.chartView()->chart()->setAnimationOptions(QChart::NoAnimation);
    widget.rangeSlider()->setUpperValue(5);
    widget.rangeSlider()->setLowerValue(1);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));

    const QImage image = widget.grab().toImage();
    QVERIFY(!image.isNull());
    const QString dir = qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QDir::tempPath());
    QVERIFY(image.save(dir + "/statisticswidget.png"));

    // The next patient has no measured lesions: nothing of the previous chart remains.
    widget.setData({});
    widget.chartView()->chart()->setAnimationOptions(QChart::NoAnimation);
    QTRY_VERIFY(widget.chartView()->isVisible());
    QVERIFY(widget.grab().toImage().save(dir + "/statisticswidget-empty.png"));
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(tst_StatisticsWidget)
#include "tst_statisticswidget.moc"
