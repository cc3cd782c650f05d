#include "session/DermatoscopicItemModel.h"

#include "widgets/Trace.h"

DermatoscopicItemModel::DermatoscopicItemModel(QObject *parent) : QAbstractListModel(parent) {}

int DermatoscopicItemModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant DermatoscopicItemModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() < 0 || index.column() < 0 ||
        index.row() >= m_items.size())
        return QVariant();
    const QSharedPointer<DermatoscopicItem> &item = m_items.at(index.row());
    if (!item)
        return QVariant();
    switch (role) {
    case IconRole:
        return item->getIcon();
    case NameRole:
        return item->getIds().empty() ? QString() : item->getIds().front();
    case DateRole:
        return item->getDate();
    case ItemRole:
        return QVariant::fromValue(item);
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> DermatoscopicItemModel::roleNames() const
{
    return {{NameRole, "Name"}, {DateRole, "Date"}, {ItemRole, "Item"}};
}

void DermatoscopicItemModel::addItem(const QSharedPointer<DermatoscopicItem> &item)
{
    if (!item)
        return;
    const QString firstId = item->getIds().empty() ? QString() : item->getIds().front();
    kelvaris::trace(QStringLiteral("Add custom Item: ") + firstId);
    const DermatoscopicItem *key = item.data();
    connect(item.data(), &DermatoscopicItem::updated, this,
            [this, key](int role) { itemUpdated(key, role); });
    int row = 0;
    while (row < m_items.size() && !(m_items.at(row)->getDate() < item->getDate()))
        ++row;
    beginInsertRows(QModelIndex(), row, row);
    m_items.insert(row, item);
    endInsertRows();
}

QSharedPointer<DermatoscopicItem> DermatoscopicItemModel::itemAt(int row) const
{
    return row >= 0 && row < m_items.size() ? m_items.at(row) : QSharedPointer<DermatoscopicItem>();
}

QModelIndex DermatoscopicItemModel::indexOf(const QSharedPointer<DermatoscopicItem> &item) const
{
    const int row = item ? rowOf(item.data()) : -1;
    return row < 0 ? QModelIndex() : index(row, 0);
}

QSharedPointer<DermatoscopicItem> DermatoscopicItemModel::itemOf(const QModelIndex &index)
{
    return index.data(ItemRole).value<QSharedPointer<DermatoscopicItem>>();
}

int DermatoscopicItemModel::rowOf(const DermatoscopicItem *item) const
{
    for (int row = 0; row < m_items.size(); ++row) {
        if (m_items.at(row).data() == item)
            return row;
    }
    return -1;
}

void DermatoscopicItemModel::itemUpdated(const DermatoscopicItem *item, int role)
{
    const int row = rowOf(item);
    if (row < 0)
        return;
    const QModelIndex changed = index(row, 0);
    emit dataChanged(changed, changed, {role});
    // Announced as a layout change as well (after dataChanged, never around
    // it), so that sorting proxies re-sort.
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}
