#pragma once

#include <QStyledItemDelegate>

// Rows of the dermatoscopic image lists: the item's icon with a white frame
// when selected, and no selection or hover background.
class ItemDelegateDermatosImages : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit ItemDelegateDermatosImages(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
