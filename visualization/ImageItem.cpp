#include "visualization/ImageItem.h"

#include <QBrush>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

ImageItem::ImageItem(const QRect &rect, const QString &imageName, const QPixmap &pixmap,
                     QGraphicsItem *parent)
    : QGraphicsItem(parent), m_rect(rect), m_pixmap(pixmap), m_imageName(imageName)
{
}

QRectF ImageItem::boundingRect() const
{
    // The frame is stroked on the rectangle's edge, so half the pen lies
    // outside it on every side; a margin of the whole frame width on all four
    // sides keeps every painted pixel inside.
    return QRectF(m_rect).adjusted(-m_frameWidth, -m_frameWidth, m_frameWidth, m_frameWidth);
}

void ImageItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setRenderHint(QPainter::Antialiasing, true);
    QPainterPath path;
    path.addRoundedRect(QRectF(m_rect), 5, 5);
    if (m_pixmap.isNull())
        painter->fillPath(path, QColor(255, 255, 255, 75));
    else
        painter->fillPath(path, QBrush(m_pixmap));
    painter->setPen(QPen(m_color, m_frameWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(path);
}

void ImageItem::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

QString ImageItem::getNeighbour(int direction) const
{
    if (direction < 0 || direction >= static_cast<int>(m_neighbours.size()))
        return QString();
    return m_neighbours[static_cast<size_t>(direction)];
}

void ImageItem::setNeighbour(int direction, const QString &name)
{
    if (direction < 0 || direction >= static_cast<int>(m_neighbours.size()))
        return;
    m_neighbours[static_cast<size_t>(direction)] = name;
}
