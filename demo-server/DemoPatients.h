#pragma once

#include "demo-server/DemoAuth.h"
#include "demo-server/HttpExchange.h"

#include <QStringList>

#include <functional>

class DemoDatabase;

// The directory server's name lookup, the account's own description and the
// patient list, search and registration.
class DemoPatients
{
public:
    DemoPatients(DemoDatabase &db, std::function<QString()> baseUrl);

    void directory(const ExchangePtr &exchange, const QStringList &captures);
    void me(const ExchangePtr &exchange, const DemoAuth::Identity &who);
    void listPatients(const ExchangePtr &exchange);
    void registerPatient(const ExchangePtr &exchange);

private:
    DemoDatabase &m_db;
    std::function<QString()> m_baseUrl;
};
