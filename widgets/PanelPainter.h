#pragma once

#include <QColor>
#include <QRect>

class QPainter;

// The program's floating panels (message boxes, notifications, dialogs) are
// frameless, translucent windows that draw their own body: a rounded
// rectangle of radius 15 in the panel fill, outlined in the accent colour.
// The outline lies inside the widget, inset by its width on every side, so
// nothing is clipped at the window's edge.
void paintRoundedPanel(QPainter &painter, const QRect &widgetRect, int borderWidth,
                       const QColor &borderColor);
