#include "visualization/ItemDelegateDermatosImages.h"

#include <QPainter>

ItemDelegateDermatosImages::ItemDelegateDermatosImages(QObject *parent) : QStyledItemDelegate(parent) {}

void ItemDelegateDermatosImages::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                       const QModelIndex &index) const
{
    QStyleOptionViewItem plain(option);
    plain.state &= ~(QStyle::State_Selected | QStyle::State_MouseOver);
    QStyledItemDelegate::paint(painter, plain, index);
    if (!(option.state & QStyle::State_Selected))
        return;
    const QRect r = option.rect;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(QRect(QPoint(r.left() + 2, r.top() + 2), QPoint(r.right() - 2, r.bottom() - 5)),
                             15, 15);
    painter->restore();
}
