#include "session/LesionsModel.h"

#include "widgets/Trace.h"

LesionsModel::LesionsModel(QObject *parent) : QAbstractListModel(parent) {}

int LesionsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_lesions.size());
}

QVariant LesionsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() < 0 || index.column() < 0 ||
        index.row() >= m_lesions.size())
        return QVariant();
    const QSharedPointer<LesionVisualizer> &lesion = m_lesions.at(index.row());
    if (!lesion)
        return QVariant();
    switch (role) {
    case IconRole:
        return m_iconMode == CompositeIcon ? lesion->getCompositeIcon() : lesion->getIcon();
    case SortKeyRole:
        return lesion->getSortKey();
    case PriorityRole:
        return lesion->getPriority();
    case LabelRole:
        return lesion->getLabel();
    case SizeRole:
        return lesion->getRadius();
    case ItemRole:
        return QVariant::fromValue(lesion);
    case PositionRole:
        return lesion->getPosition();
    case ChangeRole:
        return m_changes ? QVariant(int(m_changes->statusOf(lesion.data()))) : QVariant();
    case Qt::AccessibleTextRole: {
        // Screen readers read the row by this: the icon alone says nothing.
        QString text = tr("Lesion %1, %2").arg(lesion->getLesionIdText(), lesion->getLabel());
        const LesionChangeSummary::Status status =
            m_changes ? m_changes->statusOf(lesion.data()) : LesionChangeSummary::Status::None;
        if (LesionChangeSummary::isChanged(status))
            text += QStringLiteral(", ") + LesionChangeSummary::statusText(status);
        return text;
    }
    case Qt::AccessibleDescriptionRole:
    case Qt::ToolTipRole: {
        const LesionChangeSummary::Change *change = m_changes ? m_changes->changeOf(lesion.data()) : nullptr;
        if (!change || change->status == LesionChangeSummary::Status::None)
            return QVariant();
        return LesionChangeSummary::describe(*change);
    }
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> LesionsModel::roleNames() const
{
    return {{SortKeyRole, "Name"}, {PriorityRole, "Priority"}, {LabelRole, "Label"},  {SizeRole, "Size"},
            {ItemRole, "Item"},    {PositionRole, "Position"}, {ChangeRole, "Change"}};
}

void LesionsModel::addItem(const QSharedPointer<LesionVisualizer> &lesion)
{
    // A lesion is listed once: a second row would outlive its deletion.
    if (!lesion || rowOf(lesion.data()) >= 0)
        return;
    kelvaris::trace(QStringLiteral("Add custom Item: ") + lesion->getLabel());
    const LesionVisualizer *key = lesion.data();
    // The lesion is the context: once it is destroyed nothing reaches the
    // model, and the raw pointer is only ever compared, never followed.
    connect(lesion.data(), &LesionVisualizer::updated, this,
            [this, key](int role) { lesionUpdated(key, role); });
    connect(lesion.data(), &LesionVisualizer::requestDeletion, this, [this, key] { removeLesion(key); });
    const int row = int(m_lesions.size());
    beginInsertRows(QModelIndex(), row, row);
    m_lesions.append(lesion);
    endInsertRows();
    kelvaris::trace(QStringLiteral("Add custom Item 2: ") + lesion->getLabel());
}

QModelIndex LesionsModel::indexOf(const QSharedPointer<LesionVisualizer> &lesion) const
{
    if (!lesion)
        return QModelIndex();
    const int row = rowOf(lesion.data());
    return row < 0 ? QModelIndex() : index(row, 0);
}

QSharedPointer<LesionVisualizer> LesionsModel::lesionAt(int row) const
{
    return row >= 0 && row < m_lesions.size() ? m_lesions.at(row) : QSharedPointer<LesionVisualizer>();
}

void LesionsModel::setIconMode(int mode)
{
    m_iconMode = mode;
    if (!m_lesions.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_lesions.size()) - 1, 0), {IconRole});
}

void LesionsModel::setChangeSummary(std::shared_ptr<const LesionChangeSummary> summary)
{
    m_changes = std::move(summary);
    if (!m_lesions.isEmpty())
        emit dataChanged(
            index(0, 0), index(int(m_lesions.size()) - 1, 0),
            {ChangeRole, Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole, Qt::ToolTipRole});
}

QSharedPointer<LesionVisualizer> LesionsModel::lesionOf(const QModelIndex &index)
{
    return index.data(ItemRole).value<QSharedPointer<LesionVisualizer>>();
}

int LesionsModel::rowOf(const LesionVisualizer *lesion) const
{
    for (int row = 0; row < m_lesions.size(); ++row) {
        if (m_lesions.at(row).data() == lesion)
            return row;
    }
    return -1;
}

void LesionsModel::lesionUpdated(const LesionVisualizer *lesion, int role)
{
    const int row = rowOf(lesion);
    if (row < 0)
        return;
    const QModelIndex changed = index(row, 0);
    emit dataChanged(changed, changed, {role});
    // Also announced as a layout change, so that sorting proxies re-sort. Not
    // around dataChanged: a proxy that re-sorts on dataChanged while a source
    // layout change is pending corrupts its mapping.
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

void LesionsModel::removeLesion(const LesionVisualizer *lesion)
{
    const int row = rowOf(lesion);
    if (row < 0)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    // The row's pointer may be the last one holding the lesion, which is in
    // the middle of emitting requestDeletion: release it only afterwards.
    const QSharedPointer<LesionVisualizer> keep = m_lesions.takeAt(row);
    endRemoveRows();
    disconnect(keep.data(), nullptr, this, nullptr);
    QMetaObject::invokeMethod(
        this, [keep] { /* the last reference goes here */ }, Qt::QueuedConnection);
}
