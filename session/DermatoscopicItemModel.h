#pragma once

#include "dermoscopy/DermatoscopicItem.h"
#include "session/ModelRoles.h"

#include <QAbstractListModel>
#include <QList>
#include <QSharedPointer>

// The dermatoscopic groups of a lesion (and of the same lesion in older
// sessions), newest first, for the dermatoscopic strips and lists.
class DermatoscopicItemModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // Also the numbers an item sends with updated(int) (those of ModelRole).
    enum Role : int
    {
        IconRole = ModelRole::Icon,              // 1
        NameRole = ModelRole::DermatoscopicName, // 257 "Name": the first dermatoscopic id
        DateRole = ModelRole::DermatoscopicDate, // 258 "Date": QDate
        ItemRole = ModelRole::DermatoscopicItem, // 259 "Item": QSharedPointer<DermatoscopicItem>
    };
    Q_ENUM(Role)

    explicit DermatoscopicItemModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Inserted before the first row with an older date; after the rows of
    // the same date.
    void addItem(const QSharedPointer<DermatoscopicItem> &item);
    QSharedPointer<DermatoscopicItem> itemAt(int row) const;
    QModelIndex indexOf(const QSharedPointer<DermatoscopicItem> &item) const;

    static QSharedPointer<DermatoscopicItem> itemOf(const QModelIndex &index);

private:
    int rowOf(const DermatoscopicItem *item) const;
    void itemUpdated(const DermatoscopicItem *item, int role);

    QList<QSharedPointer<DermatoscopicItem>> m_items;
};
