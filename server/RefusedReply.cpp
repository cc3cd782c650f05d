#include "server/RefusedReply.h"

#include <QTimer>

RefusedReply::RefusedReply(const QNetworkRequest &request, QNetworkAccessManager::Operation operation,
                           const QString &reason, QObject *parent)
    : QNetworkReply(parent)
{
    setRequest(request);
    setUrl(request.url());
    setOperation(operation);
    setError(QNetworkReply::ProtocolUnknownError, reason);
    // Signals are delivered later, as for a real reply, so that the caller can
    // tag and connect the reply first.
    QTimer::singleShot(0, this, &RefusedReply::finishNow);
}

void RefusedReply::abort()
{
    finishNow();
}

qint64 RefusedReply::readData(char *, qint64)
{
    return -1;
}

void RefusedReply::finishNow()
{
    if (m_finished)
        return;
    m_finished = true;
    setFinished(true);
    emit errorOccurred(error());
    emit finished();
}
