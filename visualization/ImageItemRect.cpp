#include "visualization/ImageItemRect.h"

#include "session/ModelRoles.h"
#include "visualization/ListView.h"
#include "widgets/Trace.h"

#include <QEasingCurve>
#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsTextItem>
#include <QLineF>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>

namespace {

constexpr int labelLift = 50;
constexpr qreal cornerGrabDistance = 70.0;
constexpr int highlightDurationMs = 1000;

QRect boxOf(const LesionVisualizer &lesion, int index)
{
    const auto &boxes = lesion.getInstancesBbox();
    if (index < 0 || size_t(index) >= boxes.size())
        return QRect();
    return boxes[size_t(index)];
}

} // namespace

ImageItemRect::ImageItemRect(QSharedPointer<LesionVisualizer> lesion, int appearanceIndex,
                             QString sessionFolder, QGraphicsItem *clinicalItem,
                             QGraphicsTextItem *numberLabel, ListView *list, int xOffset)
    : m_lesion(std::move(lesion)), m_appearanceIndex(appearanceIndex), m_xOffset(xOffset),
      m_sessionFolder(std::move(sessionFolder)), m_list(list), m_clinicalItem(clinicalItem),
      m_numberLabel(numberLabel)
{
    setFlags(ItemIsSelectable | ItemSendsGeometryChanges);
    setAcceptedMouseButtons(Qt::LeftButton);
    setAcceptHoverEvents(true);
    setToolTip(QStringLiteral("%1 %2").arg(QStringLiteral("HOLI"), QStringLiteral("DEU")));

    const QRect box = m_lesion ? boxOf(*m_lesion, m_appearanceIndex) : QRect();
    m_innerRect = innerRectFor(box, m_xOffset);
    m_outerRect = m_innerRect.adjusted(-restMargin, -restMargin, restMargin, restMargin);

    if (m_clinicalItem) {
        setParentItem(m_clinicalItem);
        if (m_numberLabel)
            m_numberLabel->setParentItem(m_clinicalItem);
    }
    placeNumberLabel(box.left() - m_xOffset);
    applyLesion();
    connectLesion();
}

ImageItemRect::~ImageItemRect()
{
    disconnectLesion();
}

QRect ImageItemRect::innerRectFor(const QRect &box, int xOffset)
{
    int x1 = box.left() - xOffset;
    int x2 = box.right() - xOffset;
    int y1 = box.top();
    int y2 = box.bottom();
    const int dw = minimumSide - (x2 - x1 + 1);
    const int dh = minimumSide - (y2 - y1 + 1);
    if (dw > 0) {
        x1 -= dw / 2;
        x2 += dw / 2;
    }
    if (dh > 0) {
        y1 -= dh / 2;
        y2 += dh / 2;
    }
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

QRectF ImageItemRect::boundingRect() const
{
    // The outer rectangle with a pen width on every side: the frame drawn at
    // inner + 10 with a wide pen can pass the outer rectangle by half a pen.
    const qreal w = m_penWidth;
    return QRectF(m_outerRect).adjusted(-w, -w, w, w);
}

void ImageItemRect::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (isSelected()) {
        QPen dashed(Qt::gray, 3, Qt::CustomDashLine, Qt::SquareCap, Qt::BevelJoin);
        dashed.setDashPattern({10, 4, 10, 4});
        painter->setPen(dashed);
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(m_outerRect.adjusted(10, 10, -10, -10), 15, 15);
        painter->setPen(QPen(Qt::gray, 3));
        painter->setBrush(Qt::gray);
        const QRect &o = m_outerRect;
        painter->drawRect(QRect(o.left(), o.top(), 20, 20));
        painter->drawRect(QRect(o.right() - 19, o.top(), 20, 20));
        painter->drawRect(QRect(o.left(), o.bottom() - 19, 20, 20));
        painter->drawRect(QRect(o.right() - 19, o.bottom() - 19, 20, 20));
        painter->setBrush(Qt::NoBrush);
    }
    painter->setPen(QPen(m_currentColor, m_penWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(m_innerRect.adjusted(-10, -10, 10, 10), m_cornerRadius, m_cornerRadius);
    painter->restore();
}

void ImageItemRect::setCurrentColor(const QColor &colour)
{
    m_currentColor = colour;
    update();
}

void ImageItemRect::restoreColor()
{
    setCurrentColor(m_storedColor);
}

void ImageItemRect::setCornerRadius(qreal radius)
{
    if (radius == m_cornerRadius)
        return;
    m_cornerRadius = radius;
    update();
}

void ImageItemRect::connectLesion()
{
    if (!m_lesion)
        return;
    LesionVisualizer *lesion = m_lesion.data();
    m_connections.push_back(connect(lesion, &LesionVisualizer::updated, this, &ImageItemRect::roleChanged));
    m_connections.push_back(
        connect(lesion, &LesionVisualizer::requestDeletion, this, &ImageItemRect::removeFromScene));
    m_connections.push_back(connect(lesion, &LesionVisualizer::requestChange, this, &ImageItemRect::rebind));
    m_connections.push_back(
        connect(lesion, &LesionVisualizer::highlight, this, &ImageItemRect::startHighlight));
    m_connections.push_back(
        connect(lesion, &LesionVisualizer::removeHighlight, this, &ImageItemRect::stopHighlight));
}

void ImageItemRect::disconnectLesion()
{
    for (const auto &connection : m_connections)
        disconnect(connection);
    m_connections.clear();
}

void ImageItemRect::applyLesion()
{
    if (!m_lesion)
        return;
    m_penWidth = penWidthFor(m_lesion->getPriority());
    m_storedColor = LesionVisualizer::labelColor(m_lesion->getLabel());
    m_currentColor = m_storedColor;
    if (m_numberLabel)
        m_numberLabel->setPlainText(QString::number(m_lesion->getNumericID()));
    setData(2, !m_lesion->getIcon().isNull());
}

void ImageItemRect::roleChanged(int role)
{
    if (!m_lesion)
        return;
    switch (role) {
    case ModelRole::LesionPriority:
        prepareGeometryChange();
        m_penWidth = penWidthFor(m_lesion->getPriority());
        break;
    case ModelRole::LesionLabel:
        m_storedColor = LesionVisualizer::labelColor(m_lesion->getLabel());
        m_currentColor = m_storedColor;
        break;
    case ModelRole::LesionName:
        if (m_numberLabel)
            m_numberLabel->setPlainText(QString::number(m_lesion->getNumericID()));
        break;
    case ModelRole::Icon:
        setData(2, !m_lesion->getIcon().isNull());
        break;
    default:
        break;
    }
    update();
}

void ImageItemRect::rebind(QSharedPointer<LesionVisualizer> lesion)
{
    if (!lesion || lesion == m_lesion)
        return;
    disconnectLesion();
    m_lesion = std::move(lesion);
    connectLesion();
    prepareGeometryChange();
    applyLesion();
    update();
}

void ImageItemRect::removeFromScene()
{
    disconnectLesion();
    stopHighlight();
    // Detached from the clinical item first, so that a scene rebuilt before
    // the deferred deletion does not delete the marker and its label twice.
    if (QGraphicsScene *owner = scene())
        owner->removeItem(this);
    setParentItem(nullptr);
    m_clinicalItem = nullptr;
    if (m_numberLabel) {
        if (QGraphicsScene *owner = m_numberLabel->scene())
            owner->removeItem(m_numberLabel);
        m_numberLabel->setParentItem(nullptr);
        m_numberLabel->deleteLater();
        m_numberLabel = nullptr;
    }
    deleteLater();
}

void ImageItemRect::startHighlight()
{
    if (m_highlight)
        return;
    setTransformOriginPoint(boundingRect().center() + QPointF(3, 3));
    m_highlight = new QParallelAnimationGroup(this);
    auto *grow = new QPropertyAnimation(this, "scale", m_highlight);
    grow->setStartValue(1.0);
    grow->setEndValue(3.0);
    grow->setDuration(highlightDurationMs);
    grow->setEasingCurve(QEasingCurve::InOutQuad);
    auto *round = new QPropertyAnimation(this, "cornerRadius", m_highlight);
    round->setStartValue(restCornerRadius);
    round->setEndValue(qreal(m_innerRect.adjusted(-10, -10, 10, 10).width() / 2));
    round->setDuration(highlightDurationMs);
    round->setEasingCurve(QEasingCurve::InOutQuad);
    m_highlight->addAnimation(grow);
    m_highlight->addAnimation(round);
    m_highlight->setLoopCount(1);
    m_highlight->start();
}

void ImageItemRect::stopHighlight()
{
    if (m_highlight) {
        kelvaris::trace(QStringLiteral("STOP"));
        if (m_highlight->state() == QAbstractAnimation::Running)
            m_highlight->stop();
        m_highlight->deleteLater();
        m_highlight = nullptr;
    }
    setScale(1.0);
    setCornerRadius(restCornerRadius);
}

void ImageItemRect::setOuterMargin(int margin)
{
    prepareGeometryChange();
    m_outerRect = m_innerRect.adjusted(-margin, -margin, margin, margin);
}

void ImageItemRect::placeNumberLabel(int x)
{
    if (m_numberLabel)
        m_numberLabel->setPos(x, m_innerRect.top() - labelLift);
}

ImageItemRect::Grab ImageItemRect::grabAt(const QPointF &point) const
{
    const QRectF inner(m_innerRect);
    const std::pair<QPointF, Grab> corners[] = {{inner.bottomLeft(), Grab::BottomLeft},
                                                {inner.bottomRight(), Grab::BottomRight},
                                                {inner.topLeft(), Grab::TopLeft},
                                                {inner.topRight(), Grab::TopRight}};
    for (const auto &[corner, grab] : corners) {
        if (QLineF(point, corner).length() < cornerGrabDistance)
            return grab;
    }
    return Grab::Move;
}

void ImageItemRect::hoverEnterEvent(QGraphicsSceneHoverEvent *event)
{
    kelvaris::trace(QStringLiteral("Enter: ") + QString::number(m_lesion ? m_lesion->getNumericID() : -1));
    m_hovered = true;
    setOuterMargin(activeMargin);
    QGraphicsObject::hoverEnterEvent(event);
}

void ImageItemRect::hoverLeaveEvent(QGraphicsSceneHoverEvent *event)
{
    kelvaris::trace(QStringLiteral("Leave: "));
    m_hovered = false;
    if (!isSelected())
        setOuterMargin(restMargin);
    QGraphicsObject::hoverLeaveEvent(event);
}

void ImageItemRect::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    m_grab = grabAt(event->pos());
    QGraphicsObject::hoverMoveEvent(event);
}

QVariant ImageItemRect::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemSelectedChange && scene()) {
        if (value.toBool()) {
            setOuterMargin(activeMargin);
            m_savedZ = zValue();
            setZValue(m_savedZ + 1);
        } else {
            setOuterMargin(restMargin);
            setZValue(m_savedZ);
        }
    }
    return QGraphicsObject::itemChange(change, value);
}

void ImageItemRect::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressPosition = event->pos();
        m_grab = grabAt(event->pos());
        m_dragOffset = QPoint();
        m_dragResized = false;
        m_dragging = true;
    }
    QGraphicsObject::mousePressEvent(event);
    event->accept();
}

void ImageItemRect::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton)) {
        QGraphicsObject::mouseMoveEvent(event);
        return;
    }
    const QPointF deltaF = event->pos() - m_pressPosition;
    const QPoint delta(int(deltaF.x()), int(deltaF.y()));
    if (delta.isNull())
        return;
    prepareGeometryChange();
    if (m_grab == Grab::Move) {
        m_innerRect.translate(delta);
        m_dragOffset += delta;
        m_pressPosition += QPointF(delta);
        placeNumberLabel(m_innerRect.left());
    } else {
        const QRect before = m_innerRect;
        QRect after = before;
        switch (m_grab) {
        case Grab::BottomLeft:
            after.setBottomLeft(before.bottomLeft() + delta);
            break;
        case Grab::BottomRight:
            after.setBottomRight(before.bottomRight() + delta);
            break;
        case Grab::TopLeft:
            after.setTopLeft(before.topLeft() + delta);
            break;
        case Grab::TopRight:
            after.setTopRight(before.topRight() + delta);
            break;
        case Grab::Move:
            break;
        }
        const QRectF limits = m_clinicalItem ? m_clinicalItem->sceneBoundingRect() : QRectF();
        const bool tooSmall = after.width() < minimumSide || after.height() < minimumSide;
        const bool outside = !m_clinicalItem || !limits.contains(mapRectToScene(QRectF(after)));
        if (!tooSmall && !outside) {
            m_innerRect = after;
            m_dragResized = true;
            m_pressPosition += QPointF(delta);
            placeNumberLabel(m_innerRect.left());
        }
    }
    m_outerRect = m_innerRect.adjusted(-activeMargin, -activeMargin, activeMargin, activeMargin);
    update();
}

void ImageItemRect::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    QGraphicsObject::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    kelvaris::trace(QStringLiteral("New pos:  ") + QString::number(m_innerRect.left()) + QLatin1Char(' ') +
                    QString::number(m_innerRect.top()));
    if (!m_lesion)
        return;
    // A click without a drag must not replace the lesion's box by the padded
    // marker rectangle: a move shifts the lesion's own box, only a resize
    // stores the new rectangle.
    const QRect original = boxOf(*m_lesion, m_appearanceIndex);
    QRect written;
    if (m_dragResized)
        written = m_innerRect.translated(m_xOffset, 0);
    else if (!m_dragOffset.isNull())
        written = original.translated(m_dragOffset);
    m_dragOffset = QPoint();
    m_dragResized = false;
    if (written.isNull() || written == original)
        return;
    m_lesion->setInstanceRect(m_appearanceIndex, written);
    emit m_lesion->changesToSave();
}

ListView *ImageItemRect::getList() const
{
    return m_list.data();
}
