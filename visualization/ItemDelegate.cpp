#include "visualization/ItemDelegate.h"

#include "session/LesionsModel.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>

namespace {

QPen framePen(const QColor &colour, int width)
{
    QPen pen(colour, width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    return pen;
}

} // namespace

ItemDelegate::ItemDelegate(std::shared_ptr<std::atomic<bool>> highlight,
                           std::shared_ptr<std::atomic<int>> highlightedRow, QObject *parent)
    : QStyledItemDelegate(parent), m_highlight(std::move(highlight)),
      m_highlightedRow(std::move(highlightedRow))
{
}

void ItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const
{
    QStyleOptionViewItem plain(option);
    if (!m_showText)
        plain.features &= ~QStyleOptionViewItem::HasDisplay;
    // The frames below show selection; the style's selection background would hide the icon.
    plain.state &= ~QStyle::State_Selected;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    QStyledItemDelegate::paint(painter, plain, index);

    const QRect r = option.rect;
    const bool highlighted =
        m_highlight && m_highlight->load() && m_highlightedRow && m_highlightedRow->load() == index.row();

    if ((option.state & QStyle::State_MouseOver) && !highlighted) {
        QPen pen = framePen(Qt::white, 0);
        pen.setCosmetic(true);
        painter->setPen(pen);
        painter->setBrush(QColor(128, 128, 128, 50));
        painter->drawRoundedRect(
            QRect(QPoint(r.left() + 1, r.top() + 1), QPoint(r.right() - 1, r.bottom() - 2)), 10, 10);
    }

    const QSharedPointer<LesionVisualizer> lesion = LesionsModel::lesionOf(index);
    if (lesion && !lesion->getLabel().isEmpty()) {
        painter->setPen(framePen(LesionVisualizer::labelColor(lesion->getLabel()), 3));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(
            QRect(QPoint(r.left() + 4, r.top() + 4), QPoint(r.right() - 4, r.bottom() - 5)), 7, 7);
    }

    const QVariant change = index.data(LesionsModel::ChangeRole);
    if (change.isValid()) {
        const auto status = LesionChangeSummary::Status(change.toInt());
        if (LesionChangeSummary::isChanged(status))
            paintBadge(painter, badgeRect(r), status);
    }

    if (highlighted) {
        painter->setPen(framePen(Qt::white, 4));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(
            QRect(QPoint(r.left() + 1, r.top() + 1), QPoint(r.right() - 1, r.bottom() - 2)), 10, 10);
    }
    painter->restore();
}

QRect ItemDelegate::badgeRect(const QRect &rowRect)
{
    const int side = std::clamp(std::min(rowRect.width(), rowRect.height()) / 4, 14, 28);
    return QRect(rowRect.right() - 8 - side, rowRect.top() + 8, side, side);
}

QColor ItemDelegate::badgeColour(LesionChangeSummary::Status status)
{
    // Vivid, unlike the muted label colours of the frames.
    switch (status) {
    case LesionChangeSummary::Status::New:
        return QColor(56, 189, 248);
    case LesionChangeSummary::Status::Grown:
        return QColor(255, 90, 54);
    case LesionChangeSummary::Status::Shrunk:
        return QColor(74, 222, 128);
    default:
        return QColor();
    }
}

void ItemDelegate::paintBadge(QPainter *painter, const QRect &rect, LesionChangeSummary::Status status)
{
    const QColor colour = badgeColour(status);
    if (!colour.isValid() || rect.isEmpty())
        return;
    const QRectF box = QRectF(rect).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    if (status == LesionChangeSummary::Status::New) {
        shape.addEllipse(box);
    } else {
        const bool up = status == LesionChangeSummary::Status::Grown;
        const qreal tip = up ? box.top() : box.bottom();
        const qreal base = up ? box.bottom() : box.top();
        shape.moveTo(box.center().x(), tip);
        shape.lineTo(box.right(), base);
        shape.lineTo(box.left(), base);
        shape.closeSubpath();
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(QColor(20, 20, 22), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(colour);
    painter->drawPath(shape);
    if (status == LesionChangeSummary::Status::New) {
        // A plus, so that the round badge says "new" without colour too.
        const qreal arm = box.width() * 0.26;
        const QPointF c = box.center();
        painter->setPen(
            QPen(QColor(20, 20, 22), std::max(2.0, box.width() / 7.0), Qt::SolidLine, Qt::FlatCap));
        painter->drawLine(QPointF(c.x() - arm, c.y()), QPointF(c.x() + arm, c.y()));
        painter->drawLine(QPointF(c.x(), c.y() - arm), QPointF(c.x(), c.y() + arm));
    }
    painter->restore();
}
