#include "session/CustomIconSessionProxyModel.h"

#include "session/SessionsModel.h"

CustomIconSessionProxyModel::CustomIconSessionProxyModel(QObject *parent) : QIdentityProxyModel(parent) {}

void CustomIconSessionProxyModel::setOnlyDermatosNeeded(int value)
{
    if (value == m_onlyDermatosNeeded)
        return;
    m_onlyDermatosNeeded = value;
    const int rows = rowCount();
    if (rows > 0)
        emit dataChanged(index(0, 0), index(rows - 1, 0), {SessionsModel::DownloadedMarkRole});
}

QVariant CustomIconSessionProxyModel::data(const QModelIndex &index, int role) const
{
    if (role != SessionsModel::DownloadedMarkRole || m_onlyDermatosNeeded != 1 || !sourceModel())
        return QIdentityProxyModel::data(index, role);
    const QSharedPointer<SessionVisualizer> session =
        mapToSource(index).data(SessionsModel::ItemRole).value<QSharedPointer<SessionVisualizer>>();
    if (!session)
        return QIdentityProxyModel::data(index, role);
    if (!session->areDermatosDownloaded())
        return QIdentityProxyModel::data(index, role);
    if (m_mark.isNull())
        m_mark = SessionsModel::downloadedMark(QSize(SessionsModel::markSide, SessionsModel::markSide), true);
    return m_mark;
}
