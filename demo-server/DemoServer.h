#pragma once

#include "demo-server/DemoFaults.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// The stand-in clinical server: directory server, API server, presigned
// storage and a simulated paired phone, over HTTPS on loopback. It can run
// inside a test process (port 0 picks a free port) or as the demo-server
// program.
class DemoServer : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString dataDir; // empty: defaultDataDir()
        quint16 port = 0;
        bool small = false; // small pictures, for fast tests
        // Add the large examination (patient SampleData::largePatientId) to the
        // data folder; once added it stays until the data is made afresh.
        bool largeExamination = false;
        // Add the versions examination (patient SampleData::versionsPatientId:
        // one lesion with ten 6000 x 4000 dermatoscopic images and a twin with
        // images of other shapes); kept like the large one.
        bool versionsExamination = false;
        bool reset = false;                       // start from fresh sample data
        QString phone = QStringLiteral("manual"); // "auto" or "manual"
        int phoneJoinDelayMs = 1500;
        int phoneCaptureDelayMs = 2500;
        int phoneUploadDelayMs = 300;
        int tokenLifetimeSeconds = 4 * 3600; // idle time after which a token expires
        int urlLifetimeSeconds = 3600;       // presigned storage URLs
        int mailCodeLifetimeSeconds = 600;
        QMap<QString, DemoFaults::Fault> faults; // by group, see DemoFaults::groups()
        bool logRequests = true;                 // one line per request on standard output
        bool warmUp = false;                     // make the pictures in the background from the start
        // Serve the test controls under /control/ (they hand out codes and
        // reset data, so they are off unless asked for).
        bool control = false;
        int loginAttemptTableSize = 4096; // accounts whose failed logins are counted at one time
        int hungReapIntervalMs = 1000;    // how often hung exchanges of gone clients are let go
        QString certDir;                  // empty: demo-server/certs of the source tree
    };

    struct Upload
    {
        qint64 time = 0;
        QString purpose; // "session", "dermatoscopic", "clinical" or "report"
        QString object;
        qint64 size = 0;
        int patientId = 0;
        int sessionId = 0;
        QString name;
        QString username;
    };

    explicit DemoServer(const Options &options, QObject *parent = nullptr);
    ~DemoServer() override;

    // Prepares the data folder (making the sample data on first start) and
    // listens on 127.0.0.1. False with errorString() on failure.
    bool start();
    QString errorString() const;
    quint16 port() const;
    // "https://127.0.0.1:<port>": the API base URL, which the directory gives
    // for the server name "demo".
    QString baseUrl() const;
    QString directoryUrl() const;
    static QString caCertificatePath();
    static QString defaultDataDir();

    // Accounts: all use password(); see the README for what each one does.
    static QStringList accountNames();
    static QString password();
    static QString totpSecret();
    static QString totpCode(const QString &username, qint64 unixTime = -1);
    QString lastMailedCode(const QString &username) const;
    // The authenticator code this server accepts now.
    QString currentTotpCode(const QString &username) const;
    // Moves this server's authenticator clock one step on and returns the code
    // of that step, never used before (a used code is refused).
    QString freshTotpCode(const QString &username);

    // Test controls (also reachable under /control/ on loopback when started
    // with Options::control).
    void setFault(const QString &group, const DemoFaults::Fault &fault);
    void clearFaults(const QString &group = {});
    DemoFaults::Fault fault(const QString &group) const;
    bool phoneJoin(const QString &syncId = {});
    bool phoneAdvance(const QString &syncId = {});
    bool phoneFail(const QString &syncId = {});
    // The phone cancels its current picture (it reports "cancelled" true).
    bool phoneCancel(const QString &syncId = {});
    int phoneFinish(const QString &syncId = {});
    QJsonObject phoneState(const QString &syncId = {}) const;
    QList<Upload> uploads() const;
    QByteArray storedObject(const QString &object) const;
    // Every version of an object that a storage PUT stored, oldest first
    // (repeats included: a lost acknowledgement may store one twice).
    QList<QByteArray> storedHistory(const QString &object) const;
    // A storage URL as the API hands them out (tests of tampering and expiry);
    // expiresAt is Unix time, 0 for now plus the configured lifetime.
    QString presignedUrl(const QString &method, const QString &object, qint64 expiresAt = 0) const;
    bool resetData();
    // Makes every sample image not made yet; returns how many were made.
    int makeAllImages();

signals:
    void requestFinished(const QString &method, const QString &path, int status);

private:
    class Private;
    std::unique_ptr<Private> d;
};
