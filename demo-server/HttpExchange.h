#pragma once

#include "demo-server/DemoFaults.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <functional>
#include <memory>
#include <vector>

class QHttpServerRequest;

// One request and its pending answer. The answer may be written long after
// the request arrived (latency, image generation, password hashing); it is
// dropped if the client went away meanwhile.
class HttpExchange
{
public:
    HttpExchange(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    ~HttpExchange();

    QString method;
    QString path; // decoded, without the query
    QUrlQuery query;
    QByteArray body;
    QHostAddress peer;
    // Applied when the answer is written.
    DemoFaults::Fault fault;
    // Called once, with the status, when the exchange ends (logging).
    std::function<void(HttpExchange &, int status, const QString &note)> onFinished;

    QByteArray header(const QByteArray &name) const;
    bool clientConnected() const;
    bool answered() const { return done; }
    // True when the connection's guard already refused this request's body.
    bool refusedEarly() const;
    qint64 elapsedMs() const { return timer.elapsed(); }

    void replyJson(int status, const QJsonDocument &document,
                   const std::vector<std::pair<QByteArray, QByteArray>> &headers = {});
    void replyJson(int status, const QJsonObject &object) { replyJson(status, QJsonDocument(object)); }
    void replyError(int status, const QString &code, const QString &message,
                    const std::vector<std::pair<QByteArray, QByteArray>> &headers = {});
    void replyBytes(int status, const QByteArray &bytes, const QByteArray &contentType,
                    const std::vector<std::pair<QByteArray, QByteArray>> &headers = {});
    // Ends an exchange that will never be answered (a hang, or a gone client).
    void abandon(const QString &note);

    // The error body every endpoint uses.
    static QJsonObject errorBody(int status, const QString &code, const QString &message);

private:
    void write(int status, QByteArray bytes, QByteArray contentType,
               const std::vector<std::pair<QByteArray, QByteArray>> &headers, bool isJson);

    std::vector<std::pair<QByteArray, QByteArray>> requestHeaders;
    std::unique_ptr<QHttpServerResponder> responder;
    QPointer<QTcpSocket> socket;
    QElapsedTimer timer;
    bool done = false;
};

using ExchangePtr = std::shared_ptr<HttpExchange>;
