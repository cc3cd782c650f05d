#include "statistics/QtStatisticsWidget.h"
#include "statistics/LesionSizeHistogram.h"
#include "widgets/Trace.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QSignalBlocker>
#include <QStackedBarSeries>
#include <QValueAxis>

#include <algorithm>

namespace {
const QColor kTextColour(255, 232, 224);
const QColor kAxisLabelColour(255, 245, 235);
const QColor kBarColour(255, 179, 155);
const QColor kBackground(33, 33, 36);
} // namespace

QtStatisticsWidget::QtStatisticsWidget(QWidget *parent) : QWidget(parent)
{
    ui.setupUi(this);
    setContentsMargins(0, 0, 0, 0);
    ui.horizontalLayout->setContentsMargins(0, 0, 0, 0);
    ui.frameLayout->setAlignment(Qt::AlignCenter);

    const QString labelStyle =
        QStringLiteral("QLabel#labelLower, QLabel#labelUpper {        color:rgb(255, 232, 224);}");
    ui.labelLower->setStyleSheet(labelStyle);
    ui.labelUpper->setStyleSheet(labelStyle);

    connect(ui.statisticsRangeSlider, &QtRangeSlider::lowerValueChanged, this,
            &QtStatisticsWidget::sliderChanged);
    connect(ui.statisticsRangeSlider, &QtRangeSlider::upperValueChanged, this,
            &QtStatisticsWidget::sliderChanged);
}

void QtStatisticsWidget::setData(std::vector<double> radii)
{
    const LesionSizeHistogram histogram = LesionSizeHistogram::fromRadii(radii);

    // The previous session's chart goes in every case: an empty session must
    // not leave the last patient's histogram on screen.
    if (m_chartView) {
        ui.frameLayout->removeWidget(m_chartView);
        delete m_chartView;
    }
    m_barSets.clear();
    m_bins = histogram.bins;
    m_categories = histogram.categories;
    m_selected.assign(m_bins.size(), true);

    buildChart(histogram.counts, histogram.axisMaximum);

    // The slider starts at the full range of the new data, whatever it showed
    // before; the one selectionChanged below tells the owner.
    QtRangeSlider *slider = ui.statisticsRangeSlider;
    {
        const QSignalBlocker blocker(slider);
        slider->setRange(0, histogram.sliderMaximum);
        slider->setLowerValue(0);
        slider->setUpperValue(histogram.sliderMaximum);
    }
    slider->setTickInterval(2);
    ui.labelLower->setText(QString::number(2.0 * 0, 'g', 6));
    ui.labelUpper->setText(QString::number(2.0 * histogram.sliderMaximum, 'g', 6));
    ui.selectedRange->setText(ui.labelLower->text() + QStringLiteral(" - ") + ui.labelUpper->text());

    colourBars();
    emit selectionChanged(selectedIntervals());
}

void QtStatisticsWidget::buildChart(const std::vector<int> &counts, int axisMaximum)
{
    const int n = static_cast<int>(counts.size());
    m_series = new QStackedBarSeries();
    // One set per bin, non-zero only in its own category, so that every bar
    // has a set (and a colour) of its own.
    for (int i = 0; i < n; ++i) {
        auto *set = new QBarSet(QString::number(i));
        for (int j = 0; j < n; ++j)
            *set << (j == i ? counts[static_cast<size_t>(i)] : 0);
        set->setColor(kTextColour);
        set->setLabelColor(kTextColour);
        m_barSets << set;
    }
    m_series->append(m_barSets);
    m_series->setLabelsFormat(QStringLiteral("@value"));
    m_series->setLabelsVisible(true);
    m_series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);

    m_chart = new QChart();
    m_chart->setObjectName(QStringLiteral("histogramChart"));
    m_chart->setMargins(QMargins(2, 2, 2, 2));
    m_chart->addSeries(m_series);
    m_chart->setTitle(QString());
    QFont titleFont = m_chart->titleFont();
    titleFont.setBold(true);
    m_chart->setTitleFont(titleFont);
    m_chart->setTitleBrush(kTextColour);
    m_chart->setAnimationOptions(QChart::SeriesAnimations);
    m_chart->setBackgroundBrush(kBackground);
    m_chart->legend()->hide();

    auto *axisX = new QBarCategoryAxis();
    axisX->append(m_categories);
    axisX->setTitleText(QStringLiteral("(mm)"));
    axisX->setTitleBrush(kTextColour);
    axisX->setLabelsColor(kAxisLabelColour);
    axisX->setGridLineVisible(false);
    axisX->setTruncateLabels(false);
    m_chart->addAxis(axisX, Qt::AlignBottom);
    m_series->attachAxis(axisX);

    auto *axisY = new QValueAxis();
    axisY->setTitleText(tr("Number of lesions"));
    axisY->setRange(0, axisMaximum);
    axisY->setTitleBrush(kTextColour);
    axisY->setLabelsColor(kAxisLabelColour);
    axisY->setGridLineVisible(false);
    axisY->setLabelsVisible(false);
    axisY->setTitleVisible(false);
    m_chart->addAxis(axisY, Qt::AlignLeft);
    m_series->attachAxis(axisY);

    // Without bins the axes have nothing to measure: an empty panel reads better
    // than a lone axis line with a stray unit title.
    axisX->setVisible(n > 0);
    axisY->setVisible(n > 0);

    m_chartView = new QChartView(m_chart, ui.statisticsFrame);
    m_chartView->setObjectName(QStringLiteral("histogramChartView"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setContentsMargins(0, 0, 0, 0);
    ui.frameLayout->addWidget(m_chartView);
}

void QtStatisticsWidget::colourBars()
{
    for (int i = 0; i < m_barSets.size(); ++i) {
        QColor colour = kBarColour;
        colour.setAlpha(m_selected[static_cast<size_t>(i)] ? 255 : 100);
        QBarSet *set = m_barSets[i];
        set->setColor(colour);
        set->setBrush(QBrush(colour, Qt::SolidPattern));
        set->setBorderColor(colour);
    }
    if (m_chart)
        m_chart->update();
}

QChartView *QtStatisticsWidget::chartView() const
{
    return m_chartView;
}

std::vector<std::pair<double, double>> QtStatisticsWidget::selectedIntervals() const
{
    std::vector<std::pair<double, double>> result;
    for (size_t i = 0; i < m_bins.size(); ++i) {
        if (m_selected[i])
            result.push_back(m_bins[i]);
    }
    return result;
}

bool QtStatisticsWidget::isFullRangeSelected() const
{
    return std::all_of(m_selected.begin(), m_selected.end(), [](bool selected) { return selected; });
}

void QtStatisticsWidget::sliderChanged()
{
    const int lo = ui.statisticsRangeSlider->lowerValue();
    const int hi = ui.statisticsRangeSlider->upperValue();
    kelvaris::trace(QStringLiteral("QtStatisticsWidget::sliderChanged %1 - %2").arg(lo).arg(hi));
    ui.selectedRange->setText(QStringLiteral("%1 - %2").arg(2 * lo).arg(2 * hi));

    // A bin is selected only when it lies wholly inside the slider's range.
    for (size_t i = 0; i < m_bins.size(); ++i)
        m_selected[i] = lo <= m_bins[i].first && hi >= m_bins[i].second;
    colourBars();
    emit selectionChanged(selectedIntervals());
}

void QtStatisticsWidget::handleBarClicked(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= m_selected.size())
        return;
    m_selected[static_cast<size_t>(index)] = !m_selected[static_cast<size_t>(index)];
    colourBars();
    emit selectionChanged(selectedIntervals());
}
