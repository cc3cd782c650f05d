#include "app/ScreenMetrics.h"

ScreenMetrics ScreenMetrics::forScreen(int availableWidth, qreal devicePixelRatio)
{
    const double w = availableWidth;
    ScreenMetrics m;
    m.labelIconSide = int(w * 0.025);
    m.renderedLabelIconSide = int(devicePixelRatio * w * 0.025);
    // 0.0078, not 1/128: the buttons are a little smaller than the legend step.
    m.buttonIconSide = int(w * 0.0078 + 20);
    m.legendHeight = int(w * 0.0078125 + 30);
    m.visualizationIconSide = int(w * 0.005 + 10);
    return m;
}
