#include "widgets/PanelPainter.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

void paintRoundedPanel(QPainter &painter, const QRect &widgetRect, int borderWidth, const QColor &borderColor)
{
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(widgetRect).adjusted(borderWidth, borderWidth, -borderWidth, -borderWidth), 15,
                        15);
    painter.fillPath(path, QColor(33, 33, 36));
    painter.setPen(QPen(borderColor, borderWidth, Qt::SolidLine));
    painter.drawPath(path);
}
