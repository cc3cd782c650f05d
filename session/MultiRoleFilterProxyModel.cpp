#include "session/MultiRoleFilterProxyModel.h"

#include "session/LesionsModel.h"

MultiRoleFilterProxyModel::MultiRoleFilterProxyModel(QObject *parent) : QSortFilterProxyModel(parent) {}

bool MultiRoleFilterProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QAbstractItemModel *source = sourceModel();
    if (!source)
        return false;
    const QModelIndex index = source->index(sourceRow, 0, sourceParent);
    const QVariant position = index.data(LesionsModel::PositionRole);
    const QVariant label = index.data(LesionsModel::LabelRole);
    const QVariant size = index.data(LesionsModel::SizeRole);
    if (!position.isValid() || !label.isValid() || !size.isValid())
        return false;
    if (!m_labels.contains(label.toString(), Qt::CaseSensitive) || !m_positions.contains(position.toInt()))
        return false;
    if (m_changedOnly && !LesionChangeSummary::isChanged(
                             LesionChangeSummary::Status(index.data(LesionsModel::ChangeRole).toInt())))
        return false;
    const double radius = size.toDouble();
    // Lesions marked by hand have no measured size (-1) and always pass.
    return radius < 0.0 || (radius >= m_lowerSize && radius <= m_upperSize);
}
