#pragma once

#include <QStyledItemDelegate>

// Paints and toggles the rows of the "Filter by label" menu. A row is checked
// when its data role CheckRole holds Qt::Checked (2).
class CustomDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int CheckRole = Qt::UserRole + 1; // 257

    explicit CustomDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    // Rows tall enough for the rounded fill (radius 15) to show as a pill.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
};
