#pragma once

#include "session/ModelRoles.h"
#include "session/SessionVisualizer.h"

#include <QAbstractListModel>
#include <QIcon>
#include <QList>
#include <QSharedPointer>
#include <QSize>

// The loaded sessions of the patient, for the session selectors. A disabled
// session is listed but cannot be selected.
class SessionsModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // Also the numbers a session sends with updated(int) (those of ModelRole).
    enum Role : int
    {
        DateTextRole = Qt::DisplayRole,        // 0: "dd/MM/yyyy"
        DownloadedMarkRole = ModelRole::Icon,  // 1
        NotPrincipalRole = ModelRole::Enabled, // 32: true unless the principal session; follows setEnabled
        NameRole = ModelRole::SessionName,     // 257 "Name": "dd/MM/yyyy"
        ItemRole = ModelRole::SessionItem,     // 258 "Item": QSharedPointer<SessionVisualizer>
    };
    Q_ENUM(Role)

    static constexpr int markSide = 40;

    explicit SessionsModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void addItem(const QSharedPointer<SessionVisualizer> &session);
    void clear();
    QSharedPointer<SessionVisualizer> sessionAt(int row) const;

    static QSharedPointer<SessionVisualizer> sessionOf(const QModelIndex &index);
    // The ":/icon/checked" mark: with threeStates, white for Normal/On and grey
    // (125, 125, 125) for Disabled On and Off; otherwise the white mark alone.
    static QIcon downloadedMark(const QSize &size, bool threeStates);

private:
    int rowOf(const SessionVisualizer *session) const;
    void sessionUpdated(const SessionVisualizer *session, int role);
    const QIcon &cachedMark(bool threeStates) const;

    QList<QSharedPointer<SessionVisualizer>> m_sessions;
    mutable QIcon m_downloadedMark;
    mutable QIcon m_plainMark;
};
