#pragma once

#include <QSize>

// The sizes of the top bar's icons and of the views' tool bar icons for a
// screen of a given available width, so the frame reads the same on every
// screen. renderedLabelIcon also follows the device pixel ratio.
struct ScreenMetrics
{
    static ScreenMetrics forScreen(int availableWidth, qreal devicePixelRatio);

    int labelIconSide = 0;         // the application button's icon size
    int renderedLabelIconSide = 0; // the square its SVG is rendered into
    int buttonIconSide = 0;        // view-mode, action and QR buttons
    int legendHeight = 0;          // the label legend's fixed height
    int visualizationIconSide = 0; // the views' tool bar icons

    QSize buttonIconSize() const { return QSize(buttonIconSide, buttonIconSide); }
};
