#include "visualization/NoPropagationView.h"

#include "widgets/Trace.h"

#include <QMouseEvent>
#include <QResizeEvent>

NoPropagationView::NoPropagationView(QWidget *parent) : QGraphicsView(parent)
{
    setRenderHint(QPainter::Antialiasing, true);
}

// Accepted, so that the application does not hand the event to the parent.
void NoPropagationView::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void NoPropagationView::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void NoPropagationView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void NoPropagationView::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    kelvaris::trace(QStringLiteral("DOUBLE CLICK!"));
    emit doubleClicked();
}

void NoPropagationView::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    // An empty scene rectangle would give a degenerate transform.
    const QRectF rect = sceneRect();
    if (scene() && rect.isValid() && rect.width() > 0 && rect.height() > 0)
        fitInView(rect, Qt::KeepAspectRatio);
}
