#include "visualization/GraphicsView.h"

#include "session/SessionVisualizer.h"
#include "visualization/GraphicsScene.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ListView.h"
#include "visualization/MyReleaseEvent.h"
#include "widgets/Trace.h"

#include <QApplication>
#include <QCursor>
#include <QGraphicsEllipseItem>
#include <QGraphicsTextItem>
#include <QInputDevice>
#include <QLineF>
#include <QMenu>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QScrollBar>
#include <QTouchEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

namespace {

constexpr int markerType = ImageItemRect::Type;
constexpr int pullThresholdX = 150;
constexpr int pullThresholdY = 120;
constexpr int maxIndicatorPull = 300;
constexpr int selectFitDelayMs = 50;

QString pointText(const QPointF &p)
{
    return QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y());
}

QString sizeText(const QSize &s)
{
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

QPoint roundAway(const QPointF &p)
{
    return QPoint(int(std::round(p.x())), int(std::round(p.y())));
}

void setOpacityRecursively(QGraphicsItem *item, qreal opacity)
{
    for (QGraphicsItem *child : item->childItems()) {
        child->setOpacity(opacity);
        setOpacityRecursively(child, opacity);
    }
}

} // namespace

GraphicsView::GraphicsView(QWidget *parent, int mode, QString name)
    : QGraphicsView(parent), m_mode(mode), m_name(std::move(name))
{
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    for (QScrollBar *bar : {horizontalScrollBar(), verticalScrollBar()}) {
        bar->setStyle(QApplication::style());
        bar->setContextMenuPolicy(Qt::NoContextMenu);
    }
    setDragMode(QGraphicsView::NoDrag);
    setStyleSheet(QStringLiteral("background: rgb(33,33,36)"));
    setBackgroundBrush(QColor(33, 33, 36));
    setAttribute(Qt::WA_AcceptTouchEvents);
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents);

    connect(horizontalScrollBar(), &QScrollBar::sliderPressed, this,
            [this] { m_horizontalAtPress = horizontalScrollBar()->value(); });
    connect(verticalScrollBar(), &QScrollBar::sliderPressed, this,
            [this] { m_verticalAtPress = verticalScrollBar()->value(); });
    connect(horizontalScrollBar(), &QScrollBar::sliderMoved, this, [this](int value) {
        if (m_parallel && m_pairedView)
            m_pairedView->horizontalScrollBar()->setValue(m_pairedView->horizontalScrollBar()->value() +
                                                          value - m_horizontalAtPress);
        m_horizontalAtPress = value;
    });
    connect(verticalScrollBar(), &QScrollBar::sliderMoved, this, [this](int value) {
        if (m_parallel && m_pairedView)
            m_pairedView->verticalScrollBar()->setValue(m_pairedView->verticalScrollBar()->value() + value -
                                                        m_verticalAtPress);
        m_verticalAtPress = value;
    });

    m_singleClickTimer.setSingleShot(true);
    connect(&m_singleClickTimer, &QTimer::timeout, this, &GraphicsView::singleClickTimeout);

    if (m_mode == CloseUp) {
        createIndicators();
        m_swipeTimer = new QTimer(this);
        m_swipeTimer->setSingleShot(true);
        connect(m_swipeTimer, &QTimer::timeout, this, &GraphicsView::swipeDecision);
    }
}

GraphicsView::~GraphicsView()
{
    destroyIndicators();
}

GraphicsView::TileRef GraphicsView::refOf(QGraphicsItem *item)
{
    TileRef ref;
    ref.item = item;
    ref.scene = item ? item->scene() : nullptr;
    return ref;
}

QGraphicsItem *GraphicsView::getCurrentTile() const
{
    return m_currentTile.get();
}

QGraphicsItem *GraphicsView::getPressedTile() const
{
    return m_pressedTile.get();
}

QGraphicsItem *GraphicsView::getShownTile() const
{
    return m_shownTile.get();
}

ImageItemRect *GraphicsView::getPendingPairMarker() const
{
    return m_pendingPairMarker.data();
}

QGraphicsEllipseItem *GraphicsView::getIndicator(int index) const
{
    forgetDeadIndicators();
    return (index >= 0 && index < 4) ? m_indicators[size_t(index)] : nullptr;
}

// ---- scenes and tiles ----

void GraphicsView::createIndicators()
{
    const QColor colour(255, 215, 195, 127);
    for (size_t i = 0; i < m_indicators.size(); ++i) {
        auto *indicator = new QGraphicsEllipseItem;
        indicator->setBrush(colour);
        if (i == 0)
            indicator->setPen(QPen(QBrush(colour), 2, Qt::SolidLine));
        else
            indicator->setPen(Qt::NoPen);
        indicator->setZValue(1e6);
        indicator->hide();
        m_indicators[i] = indicator;
    }
}

void GraphicsView::forgetDeadIndicators() const
{
    // A scene that is gone deleted the indicators it held.
    if (m_indicatorsPlaced && !m_scene) {
        m_indicators.fill(nullptr);
        m_indicatorsPlaced = false;
    }
}

void GraphicsView::takeIndicatorsBack()
{
    forgetDeadIndicators();
    if (!m_indicatorsPlaced)
        return;
    const auto held = m_scene->items();
    for (auto &indicator : m_indicators) {
        if (indicator && held.contains(indicator))
            m_scene->removeItem(indicator);
        else
            indicator = nullptr; // deleted by a clear() of the scene
    }
    m_indicatorsPlaced = false;
}

void GraphicsView::destroyIndicators()
{
    takeIndicatorsBack();
    for (auto &indicator : m_indicators) {
        delete indicator;
        indicator = nullptr;
    }
}

void GraphicsView::placeIndicators(GraphicsScene *scene)
{
    takeIndicatorsBack();
    if (std::find(m_indicators.begin(), m_indicators.end(), nullptr) != m_indicators.end()) {
        destroyIndicators();
        createIndicators();
    }
    if (!scene)
        return;
    for (auto *indicator : m_indicators)
        scene->addItem(indicator);
    m_indicatorsPlaced = true;
}

void GraphicsView::setCurrentScene(GraphicsScene *scene)
{
    if (m_mode == CloseUp && scene != m_scene)
        placeIndicators(scene);
    m_scene = scene;
    setScene(scene);
}

void GraphicsView::reset()
{
    if (QGraphicsItem *tile = m_currentTile.get())
        deselect(tile);
    if (QGraphicsItem *tile = m_pressedTile.get())
        deselect(tile);
    m_pressedState = -1;
    m_currentState = 0;
    if (m_mode == CloseUp) {
        destroyIndicators();
        placeIndicators(m_scene);
        delete m_swipeTimer;
        m_swipeTimer = new QTimer(this);
        m_swipeTimer->setSingleShot(true);
        connect(m_swipeTimer, &QTimer::timeout, this, &GraphicsView::swipeDecision);
        m_swipeTimerRunning = false;
        m_left = m_right = m_top = m_bottom = false;
    }
    m_currentTile = TileRef();
    m_pressedTile = TileRef();
    m_imageRect = QRectF();
}

void GraphicsView::selectTile(QGraphicsItem *tile)
{
    QGraphicsItem *current = m_currentTile.get();
    if (current && current != tile)
        deselect(current);
    if (QGraphicsItem *pressed = m_pressedTile.get())
        deselect(pressed);
    m_pressedState = -1;
    if (tile != current) {
        if (current && m_currentState != 0)
            deselect(current);
        m_currentState = 1;
        select(tile);
        m_currentTile = refOf(tile);
    }
    m_minimumScale = currentScale();
}

void GraphicsView::select(QGraphicsItem *tile)
{
    if (!tile || tile->type() == silhouetteType)
        return;
    if (QGraphicsItem *shown = m_shownTile.get())
        deselect(shown);
    if (tile->type() == tileType)
        m_shownTile = refOf(tile);
    tile->setOpacity(1.0);
    const auto children = tile->childItems();
    if (children.size() != 1)
        kelvaris::trace(QStringLiteral("This should only have one child: ") +
                        QString::number(children.size()));
    QGraphicsScene *owner = tile->scene();
    GraphicsView *closeUp = nullptr;
    if (owner && !owner->views().isEmpty())
        closeUp = qobject_cast<GraphicsView *>(owner->views().first());
    for (QGraphicsItem *child : children) {
        child->setOpacity(1.0);
        if (closeUp) {
            closeUp->fitImage(child->sceneBoundingRect());
            // Again once a layout change has given the view its size.
            QTimer::singleShot(selectFitDelayMs, closeUp, [closeUp] { closeUp->refit(); });
        }
    }
    refreshMarkers(tile);
}

void GraphicsView::deselect(QGraphicsItem *item)
{
    if (!item || item->type() == silhouetteType)
        return;
    item->setOpacity(item->type() == tileType ? 0.2 : 0.0);
    setOpacityRecursively(item, 0.0);
    if (m_shownTile.get() == item)
        m_shownTile = TileRef();
}

void GraphicsView::refreshMarkers(QGraphicsItem *tile)
{
    if (!tile)
        return;
    for (QGraphicsItem *clinical : tile->childItems()) {
        clinical->setOpacity(1.0);
        for (QGraphicsItem *child : clinical->childItems()) {
            child->setOpacity(1.0);
            if (child->type() != markerType)
                continue;
            auto *marker = static_cast<ImageItemRect *>(child);
            const auto lesion = marker->getLesion();
            if (!lesion)
                continue;
            QGraphicsTextItem *label = marker->getNumberLabel();
            const double radius = lesion->getRadius();
            bool markerVisible = false;
            bool labelVisible = false;
            if (m_labelVisibility.value(lesion->getLabel(), true) == false) {
                markerVisible = labelVisible = false;
            } else if ((m_lowerSize <= radius && radius <= m_upperSize) || radius < 0) {
                labelVisible = m_showNumbers;
                markerVisible = m_showSpots;
            }
            marker->setVisible(markerVisible);
            if (label)
                label->setVisible(labelVisible);
        }
    }
}

void GraphicsView::setSizeBounds(int lower, int upper)
{
    m_lowerSize = lower;
    m_upperSize = upper;
}

void GraphicsView::setPairMode(bool pair)
{
    m_pair = pair;
    if (m_pendingPairMarker) {
        m_pendingPairMarker->restoreColor();
        m_pendingPairMarker = nullptr;
    }
}

void GraphicsView::pairDone()
{
    if (m_pendingPairMarker) {
        m_pendingPairMarker->restoreColor();
        m_pendingPairMarker->update();
    }
    m_pendingPairMarker = nullptr;
}

// ---- zoom and fitting ----

double GraphicsView::currentScale() const
{
    return transform().m11();
}

void GraphicsView::zoom(double factor)
{
    const double requested = factor;
    if (m_mode == Overview || m_minimumScale == noScale)
        return;
    const double s = currentScale();
    const double m = m_minimumScale;
    if (m > factor * s) {
        factor = m / s;
    } else {
        const double maximum = (m_mode == Dermatoscopic ? 3.0 : 4.0) * m;
        if (factor * s > maximum)
            factor = maximum / s;
    }
    // A view fitted to a rectangle may lie outside the range: zooming in
    // never zooms it out, nor zooming out in.
    if ((factor < 1.0 && requested > 1.0) || (factor > 1.0 && requested < 1.0))
        factor = 1.0;
    m_zoomed = true;
    scale(factor, factor);
}

void GraphicsView::fitScene()
{
    fitInView(sceneRect(), Qt::KeepAspectRatio);
    m_minimumScale = currentScale();
}

void GraphicsView::fitImage(const QRectF &rect)
{
    m_imageRect = rect;
    refit();
}

void GraphicsView::refit()
{
    if (m_imageRect.isValid() && sceneRect().intersects(m_imageRect)) {
        fitInView(m_imageRect, Qt::KeepAspectRatio);
        m_minimumScale = currentScale();
    } else {
        fitScene();
    }
}

void GraphicsView::fitToRect(const QRect &rect)
{
    // A view not laid out yet would get a scale of 0 and stay blank.
    if (rect.isEmpty() || viewport()->width() < 2 || viewport()->height() < 2)
        return;
    const double s =
        std::min(double(viewport()->width()) / rect.width(), double(viewport()->height()) / rect.height());
    setTransform(QTransform::fromScale(s, s));
    centerOn(QRectF(rect).center());
}

void GraphicsView::setOffsetPoint(const QPointF &point)
{
    m_offsetPoint = roundAway(sceneRect().topLeft()) + roundAway(point);
}

QPointF GraphicsView::correspondingPoint(QPointF p) const
{
    if (m_mode == Dermatoscopic)
        return m_pairedView ? p - QPointF(m_offsetPoint) + QPointF(m_pairedView->m_offsetPoint) : p;
    if (m_mode != CloseUp || !m_pairedView)
        return p;
    auto visibleMarkers = [](const GraphicsView *view) {
        QMap<int, QPointF> corners;
        if (!view->scene())
            return corners;
        const QRectF visible = view->mapToScene(view->viewport()->rect()).boundingRect();
        for (QGraphicsItem *item : view->scene()->items(visible)) {
            if (item->type() != markerType || !item->isVisible())
                continue;
            const auto lesion = static_cast<ImageItemRect *>(item)->getLesion();
            if (lesion)
                corners.insert(lesion->getNumericID(), item->sceneBoundingRect().topLeft());
        }
        return corners;
    };
    kelvaris::trace(QStringLiteral("Click: ") + pointText(p));
    const auto here = visibleMarkers(this);
    const auto there = visibleMarkers(m_pairedView);
    double best = std::numeric_limits<double>::max();
    QPointF result = p;
    for (auto it = here.constBegin(); it != here.constEnd(); ++it) {
        if (!there.contains(it.key()))
            continue;
        const double distance = QLineF(p, it.value()).length();
        if (distance < best) {
            best = distance;
            result = p - it.value() + there.value(it.key());
        }
    }
    return result;
}

void GraphicsView::scrollBy(const QPoint &delta)
{
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + delta.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() + delta.y());
}

void GraphicsView::scrollPairedSoThat(const QPointF &scenePoint, const QPoint &viewportPos)
{
    const QPointF pointC = correspondingPoint(scenePoint);
    const QPoint pointReal = m_pairedView->mapFromScene(pointC);
    const QPoint diff = pointReal - viewportPos;
    kelvaris::trace(QStringLiteral("pointC: ") + pointText(pointC));
    kelvaris::trace(QStringLiteral("pointReal: ") + pointText(pointReal) + QStringLiteral(" diff2: ") +
                    pointText(diff));
    m_pairedView->scrollBy(diff);
}

void GraphicsView::wheelEvent(QWheelEvent *event)
{
    event->accept();
    if (m_panning)
        return;
    const double factor = std::pow(wheelBase, event->angleDelta().y());
    const QPoint cursor = event->position().toPoint();
    const QPointF point = mapToScene(cursor);
    zoom(factor);
    scrollBy(mapFromScene(point) - cursor);
    if (m_parallel && m_pairedView) {
        kelvaris::trace(QStringLiteral("event->position().toPoint(): ") + pointText(cursor));
        m_pairedView->zoom(factor);
        scrollPairedSoThat(point, cursor);
    }
    if (m_mode == CloseUp)
        clearEdges();
}

// ---- events ----

bool GraphicsView::event(QEvent *event)
{
    if (event->type() == MyReleaseEvent::eventType) {
        const QPointF at(100, 100);
        QMouseEvent release(QEvent::MouseButtonRelease, at, mapToGlobal(at.toPoint()), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier, QPointingDevice::primaryPointingDevice());
        mouseReleaseEvent(&release);
        return true;
    }
    return QGraphicsView::event(event);
}

bool GraphicsView::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        handlePinch(static_cast<QTouchEvent *>(event));
        event->accept();
        return true;
    default:
        return QGraphicsView::viewportEvent(event);
    }
}

void GraphicsView::handlePinch(QTouchEvent *event)
{
    if (event->type() == QEvent::TouchEnd)
        m_twoFingers = false;
    const auto &points = event->points();
    if (points.size() != 2) {
        m_previousPinch = 0.0;
        return;
    }
    if (event->type() != QEvent::TouchEnd) {
        m_twoFingers = true;
        m_panning = false;
    }
    const QPointF a = points.at(0).position();
    const QPointF b = points.at(1).position();
    const double d = QLineF(a, b).length();
    if (m_previousPinch != 0.0) {
        const QPoint centre = roundAway((a + b) / 2.0);
        const QPointF point = mapToScene(centre);
        const QPoint before = m_pairedView ? m_pairedView->mapFromScene(correspondingPoint(point)) : QPoint();
        zoom(d / m_previousPinch);
        scrollBy(mapFromScene(point) - centre);
        if (m_parallel && m_pairedView) {
            m_pairedView->zoom(d / m_previousPinch);
            scrollPairedSoThat(point, before);
        }
    }
    m_previousPinch = d;
}

bool GraphicsView::hasTouchScreen() const
{
    for (const QInputDevice *device : QInputDevice::devices()) {
        if (device->type() == QInputDevice::DeviceType::TouchScreen)
            return true;
    }
    return false;
}

ImageItemRect *GraphicsView::markerAt(const QPoint &viewportPos) const
{
    if (!scene())
        return nullptr;
    if (QGraphicsItem *item = itemAt(viewportPos); item && item->type() == markerType)
        return static_cast<ImageItemRect *>(item);
    const QPointF point = mapToScene(viewportPos);
    const double side = 10.0 / currentScale();
    kelvaris::trace(QStringLiteral("searchSize") + QString::number(side));
    const QRectF square(point.x() - side / 2, point.y() - side / 2, side, side);
    ImageItemRect *nearest = nullptr;
    double best = std::numeric_limits<double>::max();
    for (QGraphicsItem *item : scene()->items(square)) {
        if (item->type() != markerType || !item->isVisible())
            continue;
        const double distance = QLineF(item->sceneBoundingRect().center(), point).length();
        if (distance < best) {
            best = distance;
            nearest = static_cast<ImageItemRect *>(item);
        }
    }
    return nearest;
}

void GraphicsView::mousePressEvent(QMouseEvent *event)
{
    if (m_mode == Overview)
        overviewPress(event);
    else if (m_mode == CloseUp)
        closeUpPress(event);
    else if (event->button() == Qt::LeftButton && scene() && scene()->selectedItems().isEmpty())
        startPanning(event->position().toPoint());
}

void GraphicsView::overviewPress(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    QGraphicsItem *item = scene() ? scene()->itemAt(mapToScene(pos), transform()) : nullptr;
    if (item && item->type() != silhouetteType) {
        std::unique_lock<QMutex> lock(m_pressMutex, std::try_to_lock);
        if (!lock.owns_lock()) {
            // A press delivered while the previous one still changes the
            // tiles (an event loop run from inside it): waiting would hang.
            kelvaris::trace(QStringLiteral("GraphicsView::mousePressEvent: nested press dropped"));
            return;
        }
        kelvaris::trace(QStringLiteral("GraphicsView::mousePressEvent: Previous pressed index: ") +
                        QString::number(m_pressedState));
        QGraphicsItem *current = m_currentTile.get();
        if (current && m_currentState >= 0 && current != item) {
            deselect(current);
            m_currentState = -1;
        }
        QGraphicsItem *pressed = m_pressedTile.get();
        if (!pressed || m_pressedState != 1) {
            m_pressedTile = refOf(item);
            m_pressedState = 1;
            select(item);
        } else if (pressed == item) {
            m_pressedState = -1;
        } else {
            deselect(pressed);
            select(item);
            m_pressedTile = refOf(item);
            m_pressedState = 1;
        }
    }
    if (event->button() == Qt::LeftButton && scene() && scene()->selectedItems().isEmpty())
        startPanning(pos);
}

void GraphicsView::closeUpPress(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (!scene() || scene()->items().isEmpty()) {
        kelvaris::trace(QStringLiteral("pressed view aigua "));
        if (event->button() == Qt::LeftButton && scene() && scene()->selectedItems().isEmpty())
            startPanning(pos);
        return;
    }
    ImageItemRect *hit = markerAt(pos);
    if (hit && m_pair) {
        pairPress(hit);
        return;
    }
    if (hit && !m_edit) {
        m_clickedMarker = hit;
        m_clickedGlobalPos = event->globalPosition().toPoint();
        if (event->button() == Qt::LeftButton)
            m_singleClickTimer.start(hasTouchScreen() ? QApplication::doubleClickInterval() : singleClickMs);
        const bool wantsList = event->button() != Qt::LeftButton || hit->data(2).toBool();
        if (wantsList && hit->getList() && hit->getLesion())
            hit->getList()->selectLesion(hit->getLesion(), true);
    }
    if (!hit && event->button() == Qt::RightButton && m_scene) {
        QGraphicsItem *under = itemAt(pos);
        m_scene->openSpotMenu(under, mapToScene(pos), event->globalPosition().toPoint());
    }
    if (hit)
        kelvaris::trace(QStringLiteral("Movement!"));
    if (event->button() == Qt::LeftButton && scene()->selectedItems().isEmpty())
        startPanning(pos);
    if (m_edit)
        QGraphicsView::mousePressEvent(event);
}

void GraphicsView::pairPress(ImageItemRect *hit)
{
    if (hit == m_pendingPairMarker) {
        hit->restoreColor();
        m_pendingPairMarker = nullptr;
        emit lesionSelected(QSharedPointer<LesionVisualizer>());
    } else if (m_pendingPairMarker) {
        m_pendingPairMarker->restoreColor();
    } else {
        m_pendingPairMarker = hit;
        hit->setCurrentColor(QColor(0, 255, 0));
        emit lesionSelected(hit->getLesion());
    }
}

void GraphicsView::singleClickTimeout()
{
    ImageItemRect *marker = m_clickedMarker;
    m_clickedMarker = nullptr;
    if (!marker || !m_scene || !m_scene->getSession())
        return;
    const auto lesion = marker->getLesion();
    QMenu *menu = lesion ? m_scene->getSession()->getContextMenu(lesion) : nullptr;
    if (!menu)
        return;
    m_scene->rememberClick(marker, marker->sceneBoundingRect().center(), m_clickedGlobalPos);
    connect(menu, &QMenu::aboutToHide, m_scene.data(), &GraphicsScene::popupMenuClosed,
            Qt::SingleShotConnection);
    menu->popup(QCursor::pos());
}

void GraphicsView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_singleClickTimer.stop();
    if (m_mode == CloseUp) {
        ImageItemRect *marker = markerAt(event->position().toPoint());
        if (marker && marker->data(2).toBool() && marker->getLesion())
            emit dermatoscopicViewerRequested(marker->getLesion());
    }
    if (m_edit)
        QGraphicsView::mouseDoubleClickEvent(event);
}

void GraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_mode == Overview) {
        overviewHover(pos);
    } else if (m_mode == CloseUp && scene()) {
        if (QGraphicsItem *item = itemAt(pos);
            item && item->type() == markerType && item->data(0).toInt() != 0) {
            auto *marker = static_cast<ImageItemRect *>(item);
            if (marker->getList() && marker->getLesion())
                marker->getList()->selectLesion(marker->getLesion(), false);
        }
    }
    if (m_twoFingers)
        m_panning = false;
    if (m_panning && scene() && scene()->selectedItems().isEmpty())
        pan(pos);
    if (m_mode == CloseUp && m_edit)
        QGraphicsView::mouseMoveEvent(event);
}

void GraphicsView::overviewHover(const QPoint &pos)
{
    if (!scene())
        return;
    QGraphicsItem *item = scene()->itemAt(mapToScene(pos), transform());
    if (!item || item->type() == silhouetteType)
        return;
    QGraphicsItem *current = m_currentTile.get();
    if (item == current || (m_pressedTile.get() && m_pressedState == 1))
        return;
    if (current && m_currentState != 0)
        deselect(current);
    m_currentState = 1;
    select(item);
    m_currentTile = refOf(item);
}

void GraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        endPanning(event->position().toPoint());
    if (m_edit)
        QGraphicsView::mouseReleaseEvent(event);
}

// ---- panning and the edge gestures ----

void GraphicsView::startPanning(const QPoint &pos)
{
    m_panning = true;
    m_lastPos = pos;
    viewport()->setCursor(Qt::ClosedHandCursor);
}

void GraphicsView::pan(const QPoint &pos)
{
    if (m_mode == CloseUp)
        edgeMove(pos);
    const QPoint delta = m_lastPos - pos;
    scrollBy(delta);
    if (m_parallel && m_pairedView)
        m_pairedView->scrollBy(delta);
    m_lastPos = pos;
}

void GraphicsView::endPanning(const QPoint &pos)
{
    m_panning = false;
    viewport()->setCursor(Qt::ArrowCursor);
    if (m_mode == CloseUp)
        edgeRelease(pos);
}

void GraphicsView::clearEdges()
{
    forgetDeadIndicators();
    m_left = m_right = m_top = m_bottom = false;
    for (auto *indicator : m_indicators) {
        if (indicator)
            indicator->hide();
    }
}

void GraphicsView::edgeMove(const QPoint &pos)
{
    const QScrollBar *h = horizontalScrollBar();
    const QScrollBar *v = verticalScrollBar();
    const bool hMin = h->value() == h->minimum();
    const bool hMax = h->value() == h->maximum();
    const bool vMin = v->value() == v->minimum();
    const bool vMax = v->value() == v->maximum();
    if (!m_left && !m_right && !m_top && !m_bottom) {
        const int extremes = int(hMin) + int(hMax) + int(vMin) + int(vMax);
        if (extremes < 2) {
            const QString text = QStringLiteral("TOCAT FINAL 1rCOP ");
            if (hMin) {
                m_left = true;
                kelvaris::trace(text + QStringLiteral("left "));
            }
            if (hMax) {
                m_right = true;
                kelvaris::trace(text + QStringLiteral("right "));
            }
            if (vMin) {
                m_top = true;
                kelvaris::trace(text + QStringLiteral("top "));
            }
            if (vMax) {
                m_bottom = true;
                kelvaris::trace(text + QStringLiteral("bottom "));
            }
            if (extremes > 0)
                m_gestureStart = pos;
        } else if (!m_swipeTimerRunning && m_swipeTimer) {
            m_swipeTimer->start(swipeDecisionMs);
            m_gestureStart = pos;
            m_swipeTimerRunning = true;
        }
        return;
    }
    const int dx = pos.x() - m_gestureStart.x();
    const int dy = pos.y() - m_gestureStart.y();
    if (m_left) {
        if (!hMin)
            clearEdges();
        else if (dx > pullThresholdX)
            updateIndicator(0, dx);
    } else if (m_right) {
        if (!hMax)
            clearEdges();
        else if (std::abs(dx) > pullThresholdX)
            updateIndicator(1, -dx);
    } else if (m_top) {
        if (!vMin)
            clearEdges();
        else if (std::abs(dy) > pullThresholdY)
            updateIndicator(2, dy);
    } else if (m_bottom) {
        if (!vMax)
            clearEdges();
        else if (std::abs(dy) > pullThresholdY)
            updateIndicator(3, -dy);
    }
}

void GraphicsView::swipeDecision()
{
    m_swipeTimerRunning = false;
    if (!m_panning || m_left || m_right || m_top || m_bottom || m_twoFingers)
        return;
    // Panning keeps the last pointer position up to date.
    const int dx = m_lastPos.x() - m_gestureStart.x();
    const int dy = m_lastPos.y() - m_gestureStart.y();
    if (std::abs(dy) < std::abs(dx)) {
        if (dx > 0)
            m_left = true;
        else
            m_right = true;
    } else if (dy > 0) {
        m_top = true;
    } else {
        m_bottom = true;
    }
}

void GraphicsView::updateIndicator(int index, double value)
{
    forgetDeadIndicators();
    QGraphicsEllipseItem *indicator = m_indicators[size_t(index)];
    if (!indicator)
        return;
    kelvaris::trace(QStringLiteral("UPDATE INDICATOR \n"));
    const double r = std::min(std::abs(value), double(maxIndicatorPull)) / currentScale() / 5.0;
    indicator->setRect(-r, -r, 2 * r, 2 * r);
    const int w = viewport()->width();
    const int h = viewport()->height();
    const QPoint anchors[] = {{0, h / 2}, {w, h / 2}, {w / 2, 0}, {w / 2, h}};
    indicator->setPos(mapToScene(anchors[index]));
    indicator->show();
}

void GraphicsView::edgeRelease(const QPoint &pos)
{
    const int tx = std::max(int(0.2 * viewport()->width()), 20);
    const int ty = std::max(int(0.2 * viewport()->height()), 20);
    const int dx = pos.x() - m_gestureStart.x();
    const int dy = pos.y() - m_gestureStart.y();
    int direction = -1;
    if (m_left && std::abs(dx) > tx) {
        direction = Left;
    } else if (m_right && std::abs(dx) > tx) {
        direction = Right;
    } else if ((m_top && std::abs(dy) > ty) || (m_bottom && std::abs(dy) > ty)) {
        const bool leftHalf = mapToScene(m_gestureStart).x() < sceneRect().center().x();
        if (m_top)
            direction = leftHalf ? UpperLeft : UpperRight;
        else
            direction = leftHalf ? LowerLeft : LowerRight;
    }
    clearEdges();
    if (m_swipeTimer)
        m_swipeTimer->stop();
    m_swipeTimerRunning = false;
    if (direction >= 0)
        emit moveVisualization(direction);
}

// ---- geometry ----

bool GraphicsView::scrollBarVisible() const
{
    return horizontalScrollBar()->isVisible() || verticalScrollBar()->isVisible();
}

void GraphicsView::resizeEvent(QResizeEvent *event)
{
    const bool bars = scrollBarVisible();
    kelvaris::trace(QStringLiteral("resizeEvent") + m_name + QStringLiteral(": ") + QString::number(m_mode) +
                    QLatin1Char(' ') + sizeText(viewport()->size()) + QLatin1Char(' ') +
                    sizeText(event->size()) + QStringLiteral(" fit pending ") +
                    QString::number(m_pendingFit) + QStringLiteral(" zoomed ") + QString::number(m_zoomed) +
                    QStringLiteral(" bars ") + QString::number(bars));
    const QSize vs = viewport()->size();
    const QSize ns = event->size();
    if (vs.width() > 1 && vs.height() > 1 && ns.width() > 1 && ns.height() > 1) {
        QGraphicsView::resizeEvent(event);
        if (m_mode == CloseUp) {
            if (!bars || !m_zoomed)
                refit();
            m_pendingFit = false;
            m_zoomed = false;
        } else if (m_mode == Overview) {
            fitInView(sceneRect(), Qt::KeepAspectRatio);
        } else if (m_mode == Dermatoscopic && !bars) {
            fitToRect(m_fitRect);
            m_minimumScale = currentScale();
        }
    } else {
        QGraphicsView::resizeEvent(event);
        m_pendingFit = true;
    }
    emit viewResize();
}

void GraphicsView::showEvent(QShowEvent *event)
{
    QGraphicsView::showEvent(event);
    if (m_mode == Dermatoscopic)
        fitToRect(m_fitRect);
    else if (m_mode == CloseUp)
        refit();
    else
        fitInView(sceneRect(), Qt::KeepAspectRatio);
}
