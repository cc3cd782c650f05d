#pragma once

// Shared by the tests of the stand-in server: a started server on a loopback
// port with small sample data in a temporary folder, and a blocking HTTPS
// client that trusts the test certificate authority the way the program does.

#include "demo-server/DemoServer.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

struct HttpResult
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    bool timedOut = false;

    QJsonDocument json() const { return QJsonDocument::fromJson(body); }
    QJsonObject object() const { return json().object(); }
    QString errorCode() const
    {
        return object()
            .value(QStringLiteral("errors"))
            .toArray()
            .at(0)
            .toObject()
            .value(QStringLiteral("code"))
            .toString();
    }
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        }
        return {};
    }
    bool hasHeader(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }
};

class TestClient
{
public:
    explicit TestClient(bool trustCa = true)
    {
        config = QSslConfiguration::defaultConfiguration();
        if (trustCa) {
            QFile ca(DemoServer::caCertificatePath());
            if (ca.open(QIODevice::ReadOnly))
                config.addCaCertificates(QSslCertificate::fromData(ca.readAll()));
        }
    }

    QString token;
    int timeoutMs = 20000;

    HttpResult get(const QString &url, bool withToken = true) { return send("GET", url, {}, withToken, {}); }
    HttpResult del(const QString &url) { return send("DELETE", url, {}, true, {}); }
    HttpResult postJson(const QString &url, const QJsonObject &body, bool withToken = true)
    {
        return send("POST", url, QJsonDocument(body).toJson(QJsonDocument::Indented), withToken,
                    QByteArrayLiteral("application/json"));
    }
    HttpResult post(const QString &url, const QByteArray &body, const QByteArray &type = {},
                    bool withToken = true)
    {
        return send("POST", url, body, withToken, type);
    }
    HttpResult put(const QString &url, const QByteArray &body, bool withToken = false)
    {
        return send("PUT", url, body, withToken, QByteArrayLiteral("application/octet-stream"));
    }

    HttpResult send(const QByteArray &verb, const QString &url, const QByteArray &body, bool withToken,
                    const QByteArray &contentType)
    {
        QNetworkRequest request{QUrl(url)};
        request.setSslConfiguration(config);
        request.setTransferTimeout(timeoutMs);
        if (!contentType.isEmpty())
            request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        if (withToken && !token.isEmpty())
            request.setRawHeader("X-Session-Token", token.toUtf8());
        QNetworkReply *reply = manager.sendCustomRequest(request, verb, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        HttpResult result;
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.error = reply->error();
        result.body = reply->readAll();
        result.headers = reply->rawHeaderPairs();
        result.timedOut = reply->error() == QNetworkReply::OperationCanceledError;
        reply->deleteLater();
        return result;
    }

    QNetworkAccessManager manager;
    QSslConfiguration config;
};

// A code that is not the given one: the next number, wrapping at a million.
inline QString wrongCode(const QString &right)
{
    return QString::number((right.toInt() + 1) % 1000000).rightJustified(6, QLatin1Char('0'));
}

// One request written to the server as given, without the client library
// normalising its target ("/a/../b" stays so) or following a redirect.
inline HttpResult rawRequest(quint16 port, const QByteArray &verb, const QByteArray &target)
{
    HttpResult result;
    QSslSocket socket;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QFile ca(DemoServer::caCertificatePath());
    if (ca.open(QIODevice::ReadOnly))
        config.addCaCertificates(QSslCertificate::fromData(ca.readAll()));
    socket.setSslConfiguration(config);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    // The server answers on this thread: wait without blocking it.
    if (!QTest::qWaitFor([&] { return socket.isEncrypted(); }, 10000))
        return result;
    socket.write(verb + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    // The server closes the connection after its answer; a timeout leaves
    // what arrived so far.
    (void)QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        10000);
    answer += socket.readAll();
    const qsizetype headerEnd = answer.indexOf("\r\n\r\n");
    const QList<QByteArray> statusLine = answer.left(answer.indexOf("\r\n")).split(' ');
    result.status = statusLine.size() > 1 ? statusLine.at(1).toInt() : 0;
    result.body = headerEnd < 0 ? QByteArray() : answer.mid(headerEnd + 4);
    const QList<QByteArray> lines = answer.left(headerEnd).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            result.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    return result;
}

// Options with the test controls under /control/ switched on.
inline DemoServer::Options withControls(DemoServer::Options options = {})
{
    options.control = true;
    return options;
}

// A server with small sample data, made once per test program.
class TestServer
{
public:
    explicit TestServer(DemoServer::Options options = withControls())
    {
        options.dataDir = dir.path();
        options.small = true;
        options.logRequests = qEnvironmentVariableIsSet("DEMOSERVER_TEST_LOG");
        server = std::make_unique<DemoServer>(options);
        started = server->start();
    }
    QString url(const QString &path) const { return server->baseUrl() + path; }

    QTemporaryDir dir;
    std::unique_ptr<DemoServer> server;
    bool started = false;
};

// Logs in an account without a second factor and returns its token.
inline QString loginToken(TestClient &client, const TestServer &server,
                          const QString &user = QStringLiteral("doctor"))
{
    const HttpResult r = client.postJson(
        server.url(QStringLiteral("/api-auth/app/v1/auth/login")),
        {{QStringLiteral("username"), user}, {QStringLiteral("password"), DemoServer::password()}}, false);
    return r.object()
        .value(QStringLiteral("meta"))
        .toObject()
        .value(QStringLiteral("session_token"))
        .toString();
}
