#pragma once

#include "demo-server/DemoAuth.h"
#include "demo-server/HttpExchange.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QHash>
#include <QObject>
#include <QTimer>

class DemoDatabase;
class DemoStorage;
class UrlSigner;

// Sync sessions between the program and a paired phone, and the phone itself:
// in "auto" mode it joins a moment after a sync session is made (or when the
// pairing page is opened) and takes every requested picture after a delay; in
// "manual" mode it waits for the test controls.
class DemoSync : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        QString phone = QStringLiteral("manual");
        int joinDelayMs = 1500;
        int captureDelayMs = 2500;
        int uploadDelayMs = 300; // between "done" and the stored picture
        int lifetimeSeconds = 12 * 3600;
        int urlLifetimeSeconds = 3600; // presigned storage URLs of taken pictures
        bool small = false;
    };

    DemoSync(DemoDatabase &db, DemoStorage &storage, const UrlSigner &signer,
             std::function<QString()> baseUrl, Settings settings, QObject *parent = nullptr);
    ~DemoSync() override;

    void create(const ExchangePtr &exchange, const DemoAuth::Identity &who);
    void status(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id);
    void request(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id);
    void image(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id,
               const QString &name);
    void retake(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id,
                const QString &name);
    void cancel(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id);
    void pairingPage(const ExchangePtr &exchange, const QString &id);

    // Phone controls; an empty id means the newest sync session. They return
    // false when there is nothing to act on.
    bool join(const QString &id = {});
    bool advance(const QString &id = {});
    bool fail(const QString &id = {});
    // The phone cancels the picture it is on.
    bool cancelCurrent(const QString &id = {});
    int finish(const QString &id = {});
    QJsonObject state(const QString &id = {}) const;
    QString newestSyncId() const;

    void stopAll();

private:
    std::optional<QVariantMap> owned(const ExchangePtr &exchange, const DemoAuth::Identity &who,
                                     const QString &id);
    // The newest request of that name in a sync session the user owns;
    // otherwise answers the error and returns nothing.
    std::optional<QVariantMap> requestedImage(const ExchangePtr &exchange, const DemoAuth::Identity &who,
                                              const QString &id, const QString &name);
    std::optional<QVariantMap> current(const QString &id) const; // the phone's current picture
    std::optional<QVariantMap> untaken(const QString &id) const; // the first one it has not started
    QString resolve(const QString &id) const;
    QJsonObject imageJson(const QVariantMap &row) const;
    void take(const QString &id, const QVariantMap &row);
    void tick();

    DemoDatabase &db;
    DemoStorage &storage;
    const UrlSigner &signer;
    std::function<QString()> baseUrl;
    Settings settings;
    QTimer ticker;
    // Per sync session: the picture the phone works on and since when.
    struct Work
    {
        qint64 seq = -1;
        qint64 since = 0;
    };
    QHash<QString, Work> work;
    QHash<QString, qint64> joinAt;
    struct Capture
    {
        QByteArray picture;
        QByteArray thumbnail;
    };
    QList<QFutureWatcher<Capture> *> uploads;
    int captureCounter = 0;
};
