#pragma once

#include <QStyledItemDelegate>

// Paints the pair pictures of the capture dialog's lists: the icon fitted
// into the item with rounded corners, and a white frame on the selected one.
class QtManualDialogItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    // The icon size of the view: the picture is the item.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
