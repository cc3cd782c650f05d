#include "dermoscopy/DermatoGraphicsView.h"

#include <QContextMenuEvent>
#include <QGraphicsScene>
#include <QLineF>
#include <QMenu>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTouchEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

DermatoGraphicsView::DermatoGraphicsView(QWidget *parent) : QGraphicsView(parent)
{
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
}

double DermatoGraphicsView::currentScale() const
{
    return transform().m11();
}

bool DermatoGraphicsView::hasContent() const
{
    return scene() && !scene()->items().isEmpty();
}

void DermatoGraphicsView::zoomAbout(double factor, const QPoint &viewportPos)
{
    const double current = currentScale();
    if (current <= 0.0 || !std::isfinite(factor) || factor <= 0.0)
        return;
    const double target = std::clamp(current * factor, m_fitScale, maxZoom * m_fitScale);
    const double applied = target / current;
    const QPointF anchor = mapToScene(viewportPos);
    scale(applied, applied);
    // Keep the scene point under the pointer where it was.
    const QPoint moved = mapFromScene(anchor);
    const QPoint delta = moved - viewportPos;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + delta.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() + delta.y());
    m_userZoomed = true;
}

void DermatoGraphicsView::fitToScene()
{
    const QRectF rect = sceneRect();
    if (rect.width() <= 1 || viewport()->width() <= 1 || viewport()->height() <= 1)
        return;
    fitInView(rect, Qt::KeepAspectRatio);
    m_fitScale = currentScale();
}

void DermatoGraphicsView::wheelEvent(QWheelEvent *event)
{
    if (!hasContent() || m_panning) {
        event->ignore();
        return;
    }
    zoomAbout(std::pow(wheelBase, event->angleDelta().y()), event->position().toPoint());
    event->accept();
}

void DermatoGraphicsView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::MiddleButton && hasContent()) {
        m_panning = true;
        m_lastPanPos = event->position().toPoint();
        viewport()->setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QGraphicsView::mousePressEvent(event);
}

void DermatoGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_panning) {
        const QPoint pos = event->position().toPoint();
        const QPoint delta = pos - m_lastPanPos;
        m_lastPanPos = pos;
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y());
        event->accept();
        return;
    }
    QGraphicsView::mouseMoveEvent(event);
}

void DermatoGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::MiddleButton && m_panning) {
        m_panning = false;
        viewport()->setCursor(Qt::ArrowCursor);
        event->accept();
        return;
    }
    QGraphicsView::mouseReleaseEvent(event);
}

void DermatoGraphicsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (m_pinchTimer.isValid() && m_pinchTimer.elapsed() < doubleClickAfterPinchMs) {
        event->accept();
        return;
    }
    emit doubleClicked();
    event->accept();
}

void DermatoGraphicsView::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_contextMenu) {
        m_contextMenu->popup(event->globalPos());
        event->accept();
        return;
    }
    QGraphicsView::contextMenuEvent(event);
}

void DermatoGraphicsView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    if (sceneRect().width() > 1 && event->size().width() > 1 && event->size().height() > 1) {
        fitToScene();
        emit sizeChanged();
        m_userZoomed = false;
        m_shownOnce = true;
    }
}

bool DermatoGraphicsView::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd: {
        auto *touch = static_cast<QTouchEvent *>(event);
        const QList<QEventPoint> &points = touch->points();
        if (points.size() == 2 && event->type() != QEvent::TouchEnd) {
            const QPointF a = points[0].position();
            const QPointF b = points[1].position();
            const double distance = QLineF(a, b).length();
            if (m_lastTouchDistance > 0.0 && distance > 0.0 && hasContent()) {
                zoomAbout(distance / m_lastTouchDistance, ((a + b) / 2).toPoint());
                m_pinchTimer.restart();
            }
            m_lastTouchDistance = distance;
        } else {
            m_lastTouchDistance = -1.0;
        }
        event->accept();
        return true;
    }
    default:
        return QGraphicsView::viewportEvent(event);
    }
}
