#include "dermoscopy/QtMovableListView.h"

#include "widgets/Trace.h"

#include <QMouseEvent>

QtMovableListView::QtMovableListView(QWidget *parent) : QListView(parent)
{
    setMouseTracking(true);
}

void QtMovableListView::mouseMoveEvent(QMouseEvent *event)
{
    const bool overEntry = indexAt(event->position().toPoint()).isValid();
    const Qt::CursorShape shape = overEntry ? Qt::PointingHandCursor : Qt::ArrowCursor;
    if (viewport()->cursor().shape() != shape) {
        viewport()->setCursor(shape);
        kelvaris::trace(overEntry ? QStringLiteral("setCursor QtMovableListView")
                                  : QStringLiteral("setCursor QtMovableListView ArrowCursor"));
    }
    QListView::mouseMoveEvent(event);
}
