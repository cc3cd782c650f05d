#pragma once

#include "session/LesionChangeSummary.h"
#include "session/LesionVisualizer.h"
#include "session/ModelRoles.h"

#include <QAbstractListModel>
#include <QList>
#include <QSharedPointer>

#include <memory>

// The lesions of the shown session, one row per lesion, for the lesion list.
// Rows follow their lesion: a lesion's updated(role) becomes dataChanged for
// its row, and its requestDeletion() removes the row.
class LesionsModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // Also the numbers a lesion sends with updated(int). The numbers are
    // those of ModelRole, which the session objects emit.
    enum Role : int
    {
        IconRole = ModelRole::Icon,               // 1
        SortKeyRole = ModelRole::LesionName,      // 257 "Name": (position, 10 for external) * 1000 + number
        PriorityRole = ModelRole::LesionPriority, // 258 "Priority"
        LabelRole = ModelRole::LesionLabel,       // 259 "Label"
        SizeRole = ModelRole::LesionSize,         // 260 "Size": radius, negative for lesions marked by hand
        ItemRole = ModelRole::LesionItem,         // 261 "Item": QSharedPointer<LesionVisualizer>
        PositionRole = ModelRole::LesionPosition, // 262 "Position"
        ChangeRole = ModelRole::LesionChange,     // 263 "Change": LesionChangeSummary::Status as int
    };
    Q_ENUM(Role)

    // Which of the lesion's icons the decoration role shows.
    enum IconMode : int
    {
        OwnIcon = 0,
        CompositeIcon = 1
    };

    explicit LesionsModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Appends a row; a lesion already listed is not added again.
    void addItem(const QSharedPointer<LesionVisualizer> &lesion);
    // The row holding that lesion (by identity), or an invalid index.
    QModelIndex indexOf(const QSharedPointer<LesionVisualizer> &lesion) const;
    QSharedPointer<LesionVisualizer> lesionAt(int row) const;

    int getIconMode() const { return m_iconMode; }
    // Announces the decoration of every row as changed.
    void setIconMode(int mode);

    static QSharedPointer<LesionVisualizer> lesionOf(const QModelIndex &index);

    // What changed since the last visit, for the change role, the
    // accessible texts and the tool tips; null (the default) for none.
    // Announces those roles of every row as changed.
    void setChangeSummary(std::shared_ptr<const LesionChangeSummary> summary);
    std::shared_ptr<const LesionChangeSummary> changeSummary() const { return m_changes; }

private:
    int rowOf(const LesionVisualizer *lesion) const;
    void lesionUpdated(const LesionVisualizer *lesion, int role);
    void removeLesion(const LesionVisualizer *lesion);

    QList<QSharedPointer<LesionVisualizer>> m_lesions;
    int m_iconMode = OwnIcon;
    std::shared_ptr<const LesionChangeSummary> m_changes;
};
