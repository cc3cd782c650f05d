#include "visualization/CustomDelegate.h"

#include "widgets/IconHelpers.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

CustomDelegate::CustomDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

void CustomDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                           const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    opt.features &= ~QStyleOptionViewItem::HasCheckIndicator;

    const bool checked = index.data(CheckRole).toInt() == Qt::Checked;
    const QString iconPath = checked ? QStringLiteral(":/icon/checked") : QStringLiteral(":/icon/unchecked");
    const QIcon icon = svgToIcon(recolorSvg(iconPath, QColor(255, 218, 195)), QSize(11, 11));

    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &opt, widget);
    const QRect r = opt.rect;
    const QSize iconSize = icon.actualSize(r.size());
    const QRect iconRect(r.left() + margin + 1, r.top() + (r.height() - iconSize.height()) / 2,
                         iconSize.width(), iconSize.height());
    QRect textRect = r;
    textRect.setLeft(iconRect.right() + margin + 1);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(checked ? QColor(150, 150, 150) : QColor(33, 33, 36));
    painter->drawRoundedRect(r.adjusted(3, 3, -3, -3), 15, 15);
    painter->drawPixmap(iconRect, icon.pixmap(iconSize));
    painter->setPen(opt.palette.color(QPalette::Text));
    painter->setClipRect(textRect);
    painter->drawText(textRect, int(opt.displayAlignment), index.data(Qt::DisplayRole).toString());
    painter->restore();
}

QSize CustomDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QSize base = QStyledItemDelegate::sizeHint(option, index);
    return QSize(base.width() + 30, std::max(base.height() + 12, 30));
}

bool CustomDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                 const QModelIndex &index)
{
    if (event->type() == QEvent::MouseButtonRelease && model && index.isValid()) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (option.rect.contains(mouse->position().toPoint())) {
            const bool checked = index.data(CheckRole).toInt() == Qt::Checked;
            // setData announces the change (dataChanged, and itemChanged for a list widget).
            model->setData(index, checked ? int(Qt::Unchecked) : int(Qt::Checked), CheckRole);
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}
