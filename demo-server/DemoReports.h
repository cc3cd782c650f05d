#pragma once

#include "demo-server/DemoAuth.h"
#include "demo-server/HttpExchange.h"

#include <QStringList>

class DemoDatabase;
class DemoLinks;
class DemoObjects;
class DemoStorage;
class UrlSigner;

// Report templates, new reports (an upload target each), a patient's report
// list and the signed report files a browser opens.
class DemoReports
{
public:
    DemoReports(DemoDatabase &db, DemoStorage &storage, const UrlSigner &signer, DemoLinks &links,
                const DemoObjects &objects);

    void templates(const ExchangePtr &exchange);
    void newReport(const ExchangePtr &exchange, const QStringList &captures, const DemoAuth::Identity &who);
    void reportList(const ExchangePtr &exchange, const QStringList &captures);
    void reportFile(const ExchangePtr &exchange, const QStringList &captures);

    // A small one-page PDF with lines of text (the sample reports).
    static QByteArray simplePdf(const QStringList &lines);

private:
    DemoDatabase &m_db;
    DemoStorage &m_storage;
    const UrlSigner &m_signer;
    DemoLinks &m_links;
    const DemoObjects &m_objects;
};
