#include "dermoscopy/SuperpositionView.h"

#include <QGraphicsItem>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>

SuperpositionView::SuperpositionView(QWidget *parent) : QGraphicsView(parent)
{
    setObjectName(QStringLiteral("frameless"));
    setAttribute(Qt::WA_AcceptTouchEvents);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
}

void SuperpositionView::setMoveItemMode(bool on)
{
    m_moveItemMode = on;
    if (!on && m_grabbed) {
        m_grabbed->setFlag(QGraphicsItem::ItemIsMovable, false);
        m_grabbed = nullptr;
    }
}

double SuperpositionView::currentScale() const
{
    return transform().m11();
}

void SuperpositionView::zoom(double factor)
{
    if (m_minimumScale == noScale || m_minimumScale <= 0.0)
        return;
    const double s = currentScale();
    if (s <= 0.0)
        return;
    factor = std::clamp(factor * s, m_minimumScale, 4.0 * m_minimumScale) / s;
    scale(factor, factor);
}

void SuperpositionView::wheelEvent(QWheelEvent *event)
{
    event->accept();
    if (m_panning)
        return;
    const QPoint cursor = event->position().toPoint();
    const QPointF before = mapToScene(cursor);
    zoom(std::pow(wheelBase, event->angleDelta().y()));
    // Keeps the scene point under the cursor.
    const QPoint after = mapFromScene(before);
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + after.x() - cursor.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() + after.y() - cursor.y());
}

void SuperpositionView::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_moveItemMode) {
        if (QGraphicsItem *item = itemAt(pos)) {
            item->setFlag(QGraphicsItem::ItemIsMovable, true);
            m_grabbed = item;
        }
    } else if (event->button() == Qt::LeftButton && (!scene() || scene()->selectedItems().isEmpty())) {
        m_panning = true;
        m_lastPos = pos;
        viewport()->setCursor(Qt::ClosedHandCursor);
    }
    QGraphicsView::mousePressEvent(event);
}

void SuperpositionView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_panning) {
        const QPoint pos = event->position().toPoint();
        const QPoint delta = m_lastPos - pos;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + delta.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() + delta.y());
        m_lastPos = pos;
    }
    QGraphicsView::mouseMoveEvent(event);
}

void SuperpositionView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_moveItemMode && m_grabbed) {
        m_grabbed->setFlag(QGraphicsItem::ItemIsMovable, false);
        m_grabbed = nullptr;
    }
    if (event->button() == Qt::LeftButton && m_panning) {
        m_panning = false;
        viewport()->setCursor(Qt::ArrowCursor);
    }
    QGraphicsView::mouseReleaseEvent(event);
}
