#pragma once

#include <QStyledItemDelegate>

#include <atomic>
#include <memory>

// Paints a lesion row of the lesion list: the lesion's icon, a hover frame, a
// frame in the lesion's label colour and, for the highlighted row, a white frame.
// The highlight flag and row are shared with the list, which sets them.
class ItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    ItemDelegate(std::shared_ptr<std::atomic<bool>> highlight,
                 std::shared_ptr<std::atomic<int>> highlightedRow, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

    // Whether the display text is drawn under the icon (never, by default).
    void setShowText(bool show) { m_showText = show; }
    bool getShowText() const { return m_showText; }

private:
    bool m_showText = false;
    std::shared_ptr<std::atomic<bool>> m_highlight;
    std::shared_ptr<std::atomic<int>> m_highlightedRow;
};
