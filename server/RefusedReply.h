#pragma once

#include <QNetworkReply>
#include <QNetworkRequest>

// A reply for a request that is never sent: it finishes on the next pass of
// the event loop with ProtocolUnknownError and no body, so that a URL the
// client refuses to fetch ends exactly like a failed request of its kind.
class RefusedReply : public QNetworkReply
{
    Q_OBJECT

public:
    RefusedReply(const QNetworkRequest &request, QNetworkAccessManager::Operation operation,
                 const QString &reason, QObject *parent = nullptr);

    void abort() override;
    qint64 bytesAvailable() const override { return 0; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    void finishNow();

    bool m_finished = false;
};
