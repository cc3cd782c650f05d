#pragma once

#include "session/LesionChangeSummary.h"

#include <QColor>
#include <QRect>
#include <QStyledItemDelegate>

#include <atomic>
#include <memory>

// Paints a lesion row of the lesion list: the lesion's icon, a hover frame, a
// frame in the lesion's label colour, a badge when the lesion is new, grown or
// shrunk since the last visit and, for the highlighted row, a white frame.
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

    // The change badge: a shape and a colour of its own per status (a round
    // "+" for new, a triangle up for grown, down for shrunk), with a dark rim
    // so that it reads on any icon and on the dark panel. Drawn in the top
    // right corner of the row, inside the label frame.
    static QRect badgeRect(const QRect &rowRect);
    static QColor badgeColour(LesionChangeSummary::Status status);
    static void paintBadge(QPainter *painter, const QRect &rect, LesionChangeSummary::Status status);

private:
    bool m_showText = false;
    std::shared_ptr<std::atomic<bool>> m_highlight;
    std::shared_ptr<std::atomic<int>> m_highlightedRow;
};
