#pragma once

#include "statistics/QtRangeSlider.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace Ui {

// The statistics panel's form, laid out as a generated form class would be.
// The chart view is added to frameLayout once data arrives.
class QtStatisticsWidgetClass
{
public:
    QHBoxLayout *horizontalLayout = nullptr;
    QFrame *statisticsFrame = nullptr;
    QVBoxLayout *frameLayout = nullptr;
    QLabel *titleStatistics = nullptr;
    QLabel *selectedRange = nullptr;
    QWidget *sliderRow = nullptr;
    QHBoxLayout *sliderRowLayout = nullptr;
    QLabel *labelLower = nullptr;
    QtRangeSlider *statisticsRangeSlider = nullptr;
    QLabel *labelUpper = nullptr;

    void setupUi(QWidget *widget)
    {
        if (widget->objectName().isEmpty())
            widget->setObjectName(QStringLiteral("QtStatisticsWidgetClass"));
        widget->resize(600, 400);
        horizontalLayout = new QHBoxLayout(widget);
        horizontalLayout->setSpacing(6);
        horizontalLayout->setContentsMargins(11, 11, 11, 11);
        horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));

        statisticsFrame = new QFrame(widget);
        statisticsFrame->setObjectName(QStringLiteral("statisticsFrame"));
        horizontalLayout->addWidget(statisticsFrame);

        frameLayout = new QVBoxLayout(statisticsFrame);
        frameLayout->setSpacing(0);
        frameLayout->setContentsMargins(0, 0, 0, 0);

        titleStatistics = new QLabel(statisticsFrame);
        titleStatistics->setObjectName(QStringLiteral("titleStatistics"));
        titleStatistics->setAlignment(Qt::AlignCenter);
        frameLayout->addWidget(titleStatistics);

        selectedRange = new QLabel(statisticsFrame);
        selectedRange->setObjectName(QStringLiteral("selectedRange"));
        selectedRange->setAlignment(Qt::AlignCenter);
        frameLayout->addWidget(selectedRange);

        sliderRow = new QWidget(statisticsFrame);
        sliderRowLayout = new QHBoxLayout(sliderRow);
        // The end labels keep clear of the frame edge, where their glyphs were cut.
        sliderRowLayout->setContentsMargins(8, 0, 8, 0);
        labelLower = new QLabel(sliderRow);
        labelLower->setObjectName(QStringLiteral("labelLower"));
        sliderRowLayout->addWidget(labelLower);
        statisticsRangeSlider = new QtRangeSlider(sliderRow);
        statisticsRangeSlider->setObjectName(QStringLiteral("statisticsRangeSlider"));
        sliderRowLayout->addWidget(statisticsRangeSlider, 1);
        labelUpper = new QLabel(sliderRow);
        labelUpper->setObjectName(QStringLiteral("labelUpper"));
        sliderRowLayout->addWidget(labelUpper);
        frameLayout->addWidget(sliderRow);

        retranslateUi(widget);
        QMetaObject::connectSlotsByName(widget);
    }

    void retranslateUi(QWidget *widget)
    {
        widget->setWindowTitle(QStringLiteral("QtStatisticsWidget"));
        titleStatistics->setText(QWidget::tr("Lesion size (mm)"));
        selectedRange->setText(QStringLiteral("aaa"));
    }
};

} // namespace Ui
