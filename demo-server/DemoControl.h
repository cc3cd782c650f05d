#pragma once

#include "demo-server/HttpExchange.h"

#include <QStringList>

class DemoServer;
class DemoFaults;

// The test controls under /control/: the public test methods of DemoServer
// over HTTP. Served only when the server was started with them.
class DemoControl
{
public:
    DemoControl(DemoServer &server, DemoFaults &faults);

    void handle(const ExchangePtr &exchange, const QStringList &captures);

private:
    DemoServer &m_server;
    DemoFaults &m_faults;
};
