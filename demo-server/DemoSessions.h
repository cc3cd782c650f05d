#pragma once

#include "demo-server/DemoAuth.h"
#include "demo-server/HttpExchange.h"

#include <QJsonArray>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class DemoDatabase;
class DemoLinks;

// A patient's sessions: their documents, the listings of their pictures with
// presigned URLs, and the upload targets of a session's new pictures.
class DemoSessions
{
public:
    DemoSessions(DemoDatabase &db, DemoLinks &links);

    void sessionList(const ExchangePtr &exchange, const QStringList &captures);
    void sessionListing(const ExchangePtr &exchange, const QStringList &captures);
    void assignExternal(const ExchangePtr &exchange, const QStringList &captures,
                        const DemoAuth::Identity &who);

    // The session of that patient; otherwise answers 404 and returns nothing.
    static std::optional<QVariantMap> sessionOf(DemoDatabase &db, const ExchangePtr &exchange,
                                                const QString &patient, const QString &session);

private:
    QJsonArray clinicalEntries(const QVariantMap &session, const QString &only, const QString &quality,
                               bool *found);
    QJsonArray dermatoscopicEntries(const QVariantMap &session, const QString &only, bool *found);

    DemoDatabase &m_db;
    DemoLinks &m_links;
};
