#include "dermoscopy/DermatoDialogListView.h"

#include "session/DermatoscopicItemModel.h"

#include <QMouseEvent>

DermatoDialogListView::DermatoDialogListView(QWidget *parent) : QListView(parent) {}

void DermatoDialogListView::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    const QSharedPointer<DermatoscopicItem> item = DermatoscopicItemModel::itemOf(index);
    if (item && !item->isDownloaded()) {
        // Only the group's first id is asked for; the selection stays.
        item->requestDownload();
        event->accept();
        return;
    }
    QListView::mousePressEvent(event);
}
