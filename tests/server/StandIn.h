#pragma once

// Shared by the server client's tests: the stand-in server in process, a
// client configured to trust it, a spy on every signal of the client, a
// capture of the trace output and a login driver.

#include "demo-server/DemoServer.h"
#include "server/ServerVisualizer.h"
#include "widgets/Trace.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMetaMethod>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

class StandIn
{
public:
    bool start()
    {
        if (!dir.isValid())
            return false;
        DemoServer::Options options;
        options.dataDir = dir.path();
        options.small = true;
        options.reset = true;
        options.logRequests = false;
        options.control = true;
        server = std::make_unique<DemoServer>(options);
        return server->start();
    }

    // The configuration object the program would read, trusting the stand-in.
    QJsonObject configuration() const
    {
        return QJsonObject{{QStringLiteral("directory"), server->directoryUrl()},
                           {QStringLiteral("caCertificates"), QJsonArray{DemoServer::caCertificatePath()}}};
    }

    std::unique_ptr<ServerVisualizer> client(bool trusted = true) const
    {
        auto visualizer = std::make_unique<ServerVisualizer>(server->baseUrl());
        if (trusted)
            visualizer->applyConfiguration(configuration());
        else
            visualizer->applyConfiguration(
                QJsonObject{{QStringLiteral("directory"), server->directoryUrl()}});
        return visualizer;
    }

    DemoServer *operator->() const { return server.get(); }

    QTemporaryDir dir;
    std::unique_ptr<DemoServer> server;
};

// One QSignalSpy per signal of an object, to tell which signals came and that
// no other did.
class SignalLog
{
public:
    explicit SignalLog(QObject *object)
    {
        const QMetaObject *meta = object->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() != QMetaMethod::Signal)
                continue;
            spies.emplace(QString::fromLatin1(method.name()), std::make_unique<QSignalSpy>(object, method));
        }
    }

    QSignalSpy &operator[](const QString &name) { return *spies.at(name); }

    int count(const QString &name) const { return int(spies.at(name)->count()); }

    // "name:count" for every signal that was emitted, in name order.
    QString emitted() const
    {
        QStringList parts;
        for (const auto &[name, spy] : spies)
            if (!spy->isEmpty())
                parts << name + QLatin1Char(':') + QString::number(spy->count());
        return parts.join(QLatin1Char(' '));
    }

private:
    std::map<QString, std::unique_ptr<QSignalSpy>> spies;
};

// Every trace line written while it lives, through the program's one sink.
class TraceCapture
{
public:
    TraceCapture() : previous(kelvaris::setTraceSink([this](const QString &line) { lines << line; })) {}
    ~TraceCapture() { kelvaris::setTraceSink(previous); }
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    QString text() const { return lines.join(QLatin1Char('\n')); }

    QStringList lines;

private:
    kelvaris::TraceSink previous;
};

// Every request the client's manager finished, with what was sent.
struct SentRequest
{
    QString operation;
    QString server;
    QByteArray verb;
    QUrl url;
    QNetworkRequest request;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray unreadBody; // what the client's handler left unread
    QPointer<QNetworkReply> reply;
};

class RequestLog
{
public:
    explicit RequestLog(ServerVisualizer *client)
    {
        // Connected before nothing else can delete the reply: the client's own
        // handler only schedules deletion.
        connection =
            QObject::connect(client->network(), &QNetworkAccessManager::finished, client->network(),
                             [this](QNetworkReply *reply) {
                                 SentRequest sent;
                                 sent.operation = reply->property("operation").toString();
                                 sent.server = reply->property("server").toString();
                                 sent.verb = verbOf(reply->operation());
                                 sent.url = reply->url();
                                 sent.request = reply->request();
                                 sent.error = reply->error();
                                 sent.status =
                                     reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                                 sent.unreadBody = reply->readAll();
                                 sent.reply = reply;
                                 requests.push_back(sent);
                             });
    }

    ~RequestLog() { QObject::disconnect(connection); }
    RequestLog(const RequestLog &) = delete;
    RequestLog &operator=(const RequestLog &) = delete;

    static QByteArray verbOf(QNetworkAccessManager::Operation operation)
    {
        switch (operation) {
        case QNetworkAccessManager::GetOperation:
            return "GET";
        case QNetworkAccessManager::PutOperation:
            return "PUT";
        case QNetworkAccessManager::PostOperation:
            return "POST";
        case QNetworkAccessManager::DeleteOperation:
            return "DELETE";
        default:
            return "OTHER";
        }
    }

    std::vector<SentRequest> withOperation(const QString &operation) const
    {
        std::vector<SentRequest> found;
        for (const SentRequest &r : requests)
            if (r.operation == operation)
                found.push_back(r);
        return found;
    }

    std::vector<SentRequest> requests;

private:
    QMetaObject::Connection connection;
};

// A code that is not the given one: the next number, wrapping at a million.
inline QString wrongCode(const QString &right)
{
    return QString::number((right.toInt() + 1) % 1000000).rightJustified(6, QLatin1Char('0'));
}

// A loopback port with nothing listening on it.
inline quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// Drives the login steps of one demo account to the end. Returns false when
// the login did not complete.
inline bool logIn(ServerVisualizer &client, DemoServer &server, const QString &username)
{
    SignalLog log(&client);
    client.login(username, DemoServer::password());
    if (!QTest::qWaitFor(
            [&] {
                return log.count("loginCorrect") + log.count("totpNeeded") + log.count("mailCodeNeeded") +
                           log.count("loginIncorrect") + log.count("usernamePasswordIncorrect") >
                       0;
            },
            20000))
        return false;
    if (log.count("totpNeeded"))
        client.verifyTOTP(server.freshTotpCode(username));
    else if (log.count("mailCodeNeeded"))
        client.verifyMailCode(server.lastMailedCode(username));
    return QTest::qWaitFor([&] { return log.count("loginCorrect") == 1; }, 20000);
}
