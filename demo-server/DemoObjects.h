#pragma once

#include "demo-server/DemoServer.h"
#include "demo-server/HttpExchange.h"

#include <QList>
#include <QStringList>

class DemoDatabase;
class DemoStorage;
class UrlSigner;

// The presigned storage: GET of stored objects and PUT of uploads to the
// targets the API handed out, each checked against its URL's signature.
class DemoObjects
{
public:
    static constexpr qint64 bodyLimit = 128ll << 20; // PUT of images, documents, reports
    static constexpr qint64 sessionDocumentLimit = 32ll << 20;

    DemoObjects(DemoDatabase &db, DemoStorage &storage, const UrlSigner &signer,
                QList<DemoServer::Upload> &uploadLog, QObject *context);

    void get(const ExchangePtr &exchange, const QStringList &captures);
    void put(const ExchangePtr &exchange, const QStringList &captures);
    // Answers 403 and returns false unless the URL's signature covers this
    // method and path and has not expired.
    bool signatureValid(const ExchangePtr &exchange, const QString &method, const QString &path) const;

private:
    DemoDatabase &m_db;
    DemoStorage &m_storage;
    const UrlSigner &m_signer;
    QList<DemoServer::Upload> &m_uploadLog;
    QObject *m_context = nullptr; // receives the results of reads on worker threads
};
