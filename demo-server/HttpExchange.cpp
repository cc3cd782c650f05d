#include "demo-server/HttpExchange.h"

#include <QHttpServerRequest>
#include <QJsonArray>

HttpExchange::HttpExchange(const QHttpServerRequest &request, QHttpServerResponder &&r)
    : responder(std::make_unique<QHttpServerResponder>(std::move(r)))
{
    timer.start();
    socket = responder->socket();
    const QUrl url = request.url();
    path = url.path(QUrl::FullyDecoded);
    query = request.query();
    body = request.body();
    peer = request.remoteAddress();
    switch (request.method()) {
    case QHttpServerRequest::Method::Get:
        method = QStringLiteral("GET");
        break;
    case QHttpServerRequest::Method::Put:
        method = QStringLiteral("PUT");
        break;
    case QHttpServerRequest::Method::Delete:
        method = QStringLiteral("DELETE");
        break;
    case QHttpServerRequest::Method::Post:
        method = QStringLiteral("POST");
        break;
    case QHttpServerRequest::Method::Head:
        method = QStringLiteral("HEAD");
        break;
    case QHttpServerRequest::Method::Options:
        method = QStringLiteral("OPTIONS");
        break;
    case QHttpServerRequest::Method::Patch:
        method = QStringLiteral("PATCH");
        break;
    default:
        method = QStringLiteral("OTHER");
        break;
    }
    for (const auto &h : request.headers())
        requestHeaders.emplace_back(h.first.toLower(), h.second);
}

HttpExchange::~HttpExchange()
{
    // An exchange dropped unanswered (the server stopped or reset its data
    // meanwhile) still tells its client, rather than leaving it waiting. No
    // callback here: the exchange may outlive the server that logs it.
    if (!done && responder && clientConnected()) {
        const QByteArray body =
            QJsonDocument(errorBody(503, QStringLiteral("unavailable"),
                                    QStringLiteral("The server stopped before answering.")))
                .toJson(QJsonDocument::Compact);
        responder->writeStatusLine(QHttpServerResponder::StatusCode::ServiceUnavailable);
        responder->writeHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));
        responder->writeHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(body.size()));
        responder->writeBody(body);
    }
    responder.reset();
}

QByteArray HttpExchange::header(const QByteArray &name) const
{
    const QByteArray wanted = name.toLower();
    for (const auto &h : requestHeaders) {
        if (h.first == wanted)
            return h.second;
    }
    return {};
}

bool HttpExchange::refusedEarly() const
{
    return socket && socket->property("demoRejected").toBool();
}

bool HttpExchange::clientConnected() const
{
    return socket && socket->state() == QAbstractSocket::ConnectedState;
}

QJsonObject HttpExchange::errorBody(int status, const QString &code, const QString &message)
{
    QJsonObject error{{QStringLiteral("code"), code}};
    if (!message.isEmpty())
        error.insert(QStringLiteral("message"), message);
    return {{QStringLiteral("status"), status}, {QStringLiteral("errors"), QJsonArray{error}}};
}

void HttpExchange::replyJson(int status, const QJsonDocument &document,
                             const std::vector<std::pair<QByteArray, QByteArray>> &headers)
{
    write(status, document.toJson(QJsonDocument::Compact), QByteArrayLiteral("application/json"), headers,
          true);
}

void HttpExchange::replyError(int status, const QString &code, const QString &message,
                              const std::vector<std::pair<QByteArray, QByteArray>> &headers)
{
    replyJson(status, QJsonDocument(errorBody(status, code, message)), headers);
}

void HttpExchange::replyBytes(int status, const QByteArray &bytes, const QByteArray &contentType,
                              const std::vector<std::pair<QByteArray, QByteArray>> &headers)
{
    write(status, bytes, contentType, headers, contentType == "application/json");
}

void HttpExchange::abandon(const QString &note)
{
    if (done)
        return;
    done = true;
    responder.reset();
    if (onFinished)
        onFinished(*this, 0, note);
}

void HttpExchange::write(int status, QByteArray bytes, QByteArray contentType,
                         const std::vector<std::pair<QByteArray, QByteArray>> &headers, bool isJson)
{
    if (done)
        return;
    if (!clientConnected()) {
        abandon(QStringLiteral("client gone"));
        return;
    }
    if (fault.afterStore && fault.hang)
        return; // carried out, never acknowledged: the server holds it until the client gives up
    std::vector<std::pair<QByteArray, QByteArray>> failureHeaders;
    if (fault.afterStore && fault.failNext > 0) {
        // Carried out, then answered as failed: the acknowledgement is lost.
        bytes = QJsonDocument(errorBody(fault.failStatus, QStringLiteral("injected_fault"),
                                        QStringLiteral("This failure was injected for a test.")))
                    .toJson(QJsonDocument::Compact);
        status = fault.failStatus;
        contentType = QByteArrayLiteral("application/json");
        isJson = true;
        if (fault.challenge)
            failureHeaders.emplace_back(QByteArrayLiteral("WWW-Authenticate"),
                                        QByteArrayLiteral("Basic realm=\"demo\""));
    }
    const auto &answerHeaders = failureHeaders.empty() ? headers : failureHeaders;
    if (fault.notJson && isJson) {
        bytes = QByteArrayLiteral("<html><body><h1>Bad gateway</h1>upstream sent nonsense</body></html>");
        contentType = QByteArrayLiteral("text/html");
    }
    if (!DemoFaults::isKnownStatus(status))
        status = 500;
    done = true;
    // The connection's body guard counts from the next request on.
    socket->setProperty("demoSeen", 0);
    socket->setProperty("demoTooLarge", false);
    const qint64 announced = bytes.size();
    responder->writeStatusLine(QHttpServerResponder::StatusCode(status));
    responder->writeHeader(QByteArrayLiteral("Content-Type"), contentType);
    responder->writeHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(announced));
    responder->writeHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    for (const auto &h : answerHeaders)
        responder->writeHeader(h.first, h.second);
    if (fault.truncate) {
        // The whole length is announced, half of it is sent, and the
        // connection is closed: the client sees a transfer cut short.
        responder->writeBody(bytes.left(bytes.size() / 2));
        socket->disconnectFromHost();
    } else {
        responder->writeBody(bytes);
    }
    responder.reset();
    if (onFinished)
        onFinished(*this, status, fault.truncate ? QStringLiteral("truncated") : QString());
}
