#include "capture/QtManualDialogItemDelegate.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

void QtManualDialogItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                       const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    painter->save();
    painter->setClipRect(item.rect);
    painter->setRenderHint(QPainter::Antialiasing);

    const QVariant decoration = index.data(Qt::DecorationRole);
    const QIcon icon = decoration.canConvert<QIcon>() ? decoration.value<QIcon>() : QIcon();
    const QList<QSize> sizes = icon.availableSizes();
    const QSize iconSize = sizes.isEmpty() ? item.decorationSize : sizes.front();
    if (!icon.isNull() && !iconSize.isEmpty() && !item.rect.isEmpty()) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
        const QSize fitted = iconSize.scaled(item.rect.size(), Qt::KeepAspectRatio);
        const QPixmap pixmap =
            icon.pixmap(iconSize).scaled(fitted * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QRect target(QPoint(0, 0), fitted);
        target.moveCenter(item.rect.center());
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(target), 15, 15);
        painter->setClipPath(rounded, Qt::IntersectClip);
        painter->drawPixmap(target, pixmap);
        if (item.state & QStyle::State_Selected) {
            painter->setClipping(false);
            painter->setBrush(Qt::NoBrush);
            painter->setPen(QPen(Qt::white, 3));
            painter->drawRoundedRect(QRectF(target).adjusted(2, 2, -2, -2), 10, 10);
        }
    }
    painter->restore();
}

QSize QtManualDialogItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QSize icon = item.decorationSize;
    return icon.isValid() ? icon + QSize(4, 4) : QStyledItemDelegate::sizeHint(option, index);
}
