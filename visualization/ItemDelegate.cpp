#include "visualization/ItemDelegate.h"

#include "session/LesionsModel.h"

#include <QPainter>
#include <QPen>

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

    if (highlighted) {
        painter->setPen(framePen(Qt::white, 4));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(
            QRect(QPoint(r.left() + 1, r.top() + 1), QPoint(r.right() - 1, r.bottom() - 2)), 10, 10);
    }
    painter->restore();
}
