#include "visualization/SinglePositionScheme.h"

#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QResizeEvent>

SinglePositionScheme::SinglePositionScheme(QWidget *parent) : QGraphicsView(parent)
{
    setObjectName(QStringLiteral("singlePossitionGraphicsView"));
    setResizeAnchor(QGraphicsView::NoAnchor);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setBackgroundBrush(QColor(28, 28, 30));
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SinglePositionScheme::handleTimeout);
}

void SinglePositionScheme::selectAt(const QPoint &point)
{
    m_point = point;
    select();
}

QGraphicsRectItem *SinglePositionScheme::findRectangle(int imageIndex, int session) const
{
    if (!scene())
        return nullptr;
    const auto items = scene()->items();
    for (QGraphicsItem *item : items) {
        if (item->type() == rectangleType && item->data(0).toInt() == imageIndex &&
            item->data(1).toInt() == session)
            return static_cast<QGraphicsRectItem *>(item);
    }
    return nullptr;
}

void SinglePositionScheme::handleTimeout()
{
    select();
}

void SinglePositionScheme::select()
{
    emit mouseClicked(m_point);
    if (!scene())
        return;
    const QPointF scenePoint = mapToScene(m_point);

    // Topmost first; a later rectangle of the same session replaces an
    // earlier one, as the device's rows may overlap.
    int hit0 = -1;
    int hit1 = -1;
    const auto under = scene()->items(scenePoint, Qt::IntersectsItemShape, Qt::DescendingOrder, transform());
    for (QGraphicsItem *item : under) {
        if (item->type() != rectangleType)
            continue;
        const int session = item->data(1).toInt();
        if (session == 0)
            hit0 = item->data(0).toInt();
        else if (session == 1)
            hit1 = item->data(0).toInt();
    }
    // One emission per selection, whatever the number of overlapping rectangles.
    if (hit0 >= 0 && hit1 >= 0) {
        emit mouseClickedIndex(hit0, hit1);
        return;
    }

    // A click just beside a small rectangle still counts: the first rectangle
    // of each missing session found in the square around the point.
    const double half = searchSquare / 2.0;
    const QRectF square(scenePoint.x() - half, scenePoint.y() - half, searchSquare, searchSquare);
    const auto nearby = scene()->items(square, Qt::IntersectsItemShape, Qt::DescendingOrder, transform());
    int near0 = -1;
    int near1 = -1;
    for (QGraphicsItem *item : nearby) {
        if (item->type() != rectangleType)
            continue;
        const int session = item->data(1).toInt();
        if (session == 0 && hit0 < 0 && near0 < 0)
            near0 = item->data(0).toInt();
        else if (session == 1 && hit1 < 0 && near1 < 0)
            near1 = item->data(0).toInt();
    }
    emit mouseClickedIndex(hit0 >= 0 ? hit0 : near0, hit1 >= 0 ? hit1 : near1);
}

void SinglePositionScheme::mousePressEvent(QMouseEvent *event)
{
    selectAt(event->position().toPoint());
    m_timer.start(dragIntervalMs);
    QGraphicsView::mousePressEvent(event);
}

void SinglePositionScheme::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton) {
        if (!m_timer.isActive())
            m_timer.start(dragIntervalMs);
        m_point = event->position().toPoint();
    }
    QGraphicsView::mouseMoveEvent(event);
}

void SinglePositionScheme::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    fitScene();
}

void SinglePositionScheme::fitScene()
{
    // A view lower than the 300-unit silhouette would cut it off; an empty
    // scene has nothing to fit and must not give a degenerate transform.
    if (!scene())
        return;
    const QRectF rect = sceneRect();
    if (rect.isValid() && rect.width() > 0 && rect.height() > 0)
        fitInView(rect, Qt::KeepAspectRatio);
}
