#pragma once

#include "statistics/ui_QtStatisticsWidget.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <utility>
#include <vector>

class QBarSet;
class QChart;
class QChartView;
class QStackedBarSeries;

// The lesion-size histogram of the shown session with a range slider that
// selects a size interval. Sizes arrive as lesion radii and are shown as
// diameters in millimetres. The selection is published as the radius
// intervals of the selected bins; the owner filters its lesion list and
// markers by it.
//
// Every setData rebuilds the chart and resets the selection to the full range
// of the new data (all bins selected, slider at both ends) and publishes that
// selection, so that a filter left from the previous session never hides
// lesions that no control shows as filtered. Empty data, or data without a
// countable radius, shows an empty histogram.
class QtStatisticsWidget : public QWidget
{
    Q_OBJECT

public:
    explicit QtStatisticsWidget(QWidget *parent = nullptr);

    void setData(std::vector<double> radii);

    // The radius intervals of the selected bins, in bin order.
    std::vector<std::pair<double, double>> selectedIntervals() const;
    // True when no bin is deselected, including when there are no bins: the
    // size filter then need not exclude anything.
    bool isFullRangeSelected() const;

    const std::vector<std::pair<double, double>> &binIntervals() const { return m_bins; }
    QtRangeSlider *rangeSlider() const { return ui.statisticsRangeSlider; }
    // Null until the first setData.
    QChartView *chartView() const;

signals:
    void selectionChanged(std::vector<std::pair<double, double>> selectedIntervals);

public slots:
    void handleBarClicked(int index);
    void sliderChanged();

private:
    void buildChart(const std::vector<int> &counts, int axisMaximum);
    void colourBars();

    Ui::QtStatisticsWidgetClass ui;
    std::vector<std::pair<double, double>> m_bins;
    std::vector<bool> m_selected;
    QStringList m_categories;
    QList<QBarSet *> m_barSets;
    QPointer<QStackedBarSeries> m_series;
    QPointer<QChart> m_chart;
    QPointer<QChartView> m_chartView;
};
