#include "session/SessionsModel.h"

#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"

SessionsModel::SessionsModel(QObject *parent) : QAbstractListModel(parent) {}

int SessionsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_sessions.size());
}

QVariant SessionsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() < 0 || index.column() < 0 ||
        index.row() >= m_sessions.size())
        return QVariant();
    const QSharedPointer<SessionVisualizer> &session = m_sessions.at(index.row());
    if (!session)
        return QVariant();
    switch (role) {
    case DateTextRole:
    case NameRole:
        return session->getDate().toString(QStringLiteral("dd/MM/yyyy"));
    case DownloadedMarkRole:
        return cachedMark(session->isDownloaded());
    case NotPrincipalRole:
        return !session->isPrincipalSession();
    case ItemRole:
        return QVariant::fromValue(session);
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> SessionsModel::roleNames() const
{
    return {{NameRole, "Name"}, {ItemRole, "Item"}};
}

Qt::ItemFlags SessionsModel::flags(const QModelIndex &index) const
{
    const QSharedPointer<SessionVisualizer> session = sessionAt(index.isValid() ? index.row() : -1);
    if (!session || !session->getEnabled())
        return Qt::NoItemFlags;
    return QAbstractListModel::flags(index);
}

void SessionsModel::addItem(const QSharedPointer<SessionVisualizer> &session)
{
    if (!session)
        return;
    kelvaris::trace(QStringLiteral("Add custom Item: ") + session->getSessionName());
    const SessionVisualizer *key = session.data();
    connect(session.data(), &SessionVisualizer::updated, this,
            [this, key](int role) { sessionUpdated(key, role); });
    const int row = int(m_sessions.size());
    beginInsertRows(QModelIndex(), row, row);
    m_sessions.append(session);
    endInsertRows();
    kelvaris::trace(QStringLiteral("Add custom Item 2: ") + session->getSessionName());
}

void SessionsModel::clear()
{
    if (m_sessions.isEmpty())
        return;
    beginRemoveRows(QModelIndex(), 0, int(m_sessions.size()) - 1);
    const QList<QSharedPointer<SessionVisualizer>> removed = std::exchange(m_sessions, {});
    endRemoveRows();
    for (const auto &session : removed) {
        if (session)
            disconnect(session.data(), nullptr, this, nullptr);
    }
}

QSharedPointer<SessionVisualizer> SessionsModel::sessionAt(int row) const
{
    return row >= 0 && row < m_sessions.size() ? m_sessions.at(row) : QSharedPointer<SessionVisualizer>();
}

QSharedPointer<SessionVisualizer> SessionsModel::sessionOf(const QModelIndex &index)
{
    return index.data(ItemRole).value<QSharedPointer<SessionVisualizer>>();
}

QIcon SessionsModel::downloadedMark(const QSize &size, bool threeStates)
{
    const QString path = QStringLiteral(":/icon/checked");
    const QPixmap white = svgToPixmap(recolorSvg(path, QColor(255, 255, 255)), size);
    if (!threeStates)
        return QIcon(white);
    const QPixmap grey = svgToPixmap(recolorSvg(path, QColor(125, 125, 125)), size);
    QIcon icon;
    icon.addPixmap(white, QIcon::Normal, QIcon::On);
    icon.addPixmap(grey, QIcon::Disabled, QIcon::On);
    icon.addPixmap(grey, QIcon::Disabled, QIcon::Off);
    return icon;
}

const QIcon &SessionsModel::cachedMark(bool threeStates) const
{
    QIcon &mark = threeStates ? m_downloadedMark : m_plainMark;
    if (mark.isNull())
        mark = downloadedMark(QSize(markSide, markSide), threeStates);
    return mark;
}

int SessionsModel::rowOf(const SessionVisualizer *session) const
{
    for (int row = 0; row < m_sessions.size(); ++row) {
        if (m_sessions.at(row).data() == session)
            return row;
    }
    return -1;
}

void SessionsModel::sessionUpdated(const SessionVisualizer *session, int role)
{
    const int row = rowOf(session);
    if (row < 0)
        return;
    const QModelIndex changed = index(row, 0);
    emit dataChanged(changed, changed, {role});
}
