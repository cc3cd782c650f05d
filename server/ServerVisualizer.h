#pragma once

#include "server/Patient.h"
#include "server/ServerReplies.h"
#include "server/UploadJob.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class LesionVisualizer;
class QtManualDermatoscopicDialog;
class SessionVisualizer;
class QAuthenticator;
class QNetworkAccessManager;
class QNetworkReply;

// The program's only HTTP client. Every operation returns at once; its outcome
// arrives later as a signal. Each request is tagged with a server kind ("ec2" for
// the API server, "s3" for presigned storage URLs, "globalServer" for the directory
// server) and an operation tag, and every finished reply goes through one
// dispatcher that routes the pair to its handler or, on failure, to one error path.
//
// Configuration: the directory server URL has a built-in default and trusted
// certificate authorities are the system's. applyConfiguration() takes the parsed
// "./matrius/configuration.json" object and applies its optional keys "directory"
// and "caCertificates". Certificate errors are never ignored.
class ServerVisualizer : public QObject
{
    Q_OBJECT

public:
    // Ordered (name, value) pairs that become properties of a reply, so that its
    // handler knows which patient, session or image the reply belongs to.
    using ExtraTags = std::vector<std::pair<QString, QString>>;

    // baseUrl: the API server's base URL (no trailing slash), replaced by a
    // successful server name lookup.
    explicit ServerVisualizer(QString baseUrl, QObject *parent = nullptr);
    ~ServerVisualizer() override;

    // --- configuration ---------------------------------------------------------

    // Applies the optional keys of the local configuration object:
    //   "directory": the directory server's https base URL, replacing the default;
    //   "caCertificates": an array of PEM file paths (relative to the working
    //   directory) whose certificates are trusted in addition to the system's.
    // Values that cannot be used are skipped; one English message per problem is
    // returned so that the caller can show it. Connections made before are dropped
    // so that the new trust applies to every later request.
    QStringList applyConfiguration(const QJsonObject &configuration);
    // Adds trusted authorities directly (what "caCertificates" does after reading).
    void addTrustedCaCertificates(const QList<QSslCertificate> &certificates);

    static QString defaultDirectoryUrl();
    QString getBaseUrl() const { return baseUrl; }
    QString getDirectoryUrl() const { return directoryUrl; }

    // Transfer time-outs: a request is aborted when no byte moved for this long.
    // API and directory requests default to 30 s, storage transfers to 120 s.
    void setTransferTimeouts(int apiMilliseconds, int storageMilliseconds);
    // The inactivity timer's interval (4 hours by default).
    void setInactivityInterval(int milliseconds);

    // The manager every request goes through; exposed for observing requests.
    QNetworkAccessManager *network() const { return manager; }

    // --- request builders --------------------------------------------------------

    void getRequest(QUrl url, QString server, QString operation, ExtraTags extras = {});
    void deleteRequest(QUrl url, QString server, QString operation, ExtraTags extras = {});
    // The caller sets URL and headers of these two.
    void postRequest(QNetworkRequest request, QByteArray body, QString server, QString operation,
                     ExtraTags extras = {});
    void putRequest(QNetworkRequest request, QByteArray body, QString server, QString operation,
                    ExtraTags extras = {});
    // A PUT of raw bytes to a storage URL; aborted only by abortPostS3().
    void putFile(QUrl url, QByteArray data, QString id, QString operation);

    // Logout: forgets the token and every cached connection and credential,
    // and drops the upload queue (dropUploads), so that nothing of this login
    // is sent under the next one.
    void clearSession();

    // --- authentication ----------------------------------------------------------

    void getEndpoint(QString name);
    void login(QString username, QString password);
    void verifyTOTP(QString code);
    void verifyMailCode(QString code);

    // --- patients and permissions -------------------------------------------------

    void checkPermissions();
    void listPatients();
    void listPatientsSearch(QString text);
    void registerPatient(QString firstName, QString lastName, QString centerID, QString email);

    // --- session download ----------------------------------------------------------

    void getSessionsJsons(QString patientID);
    void downloadSession(int patientID, int sessionID, bool dermatoscopic, bool clinical, bool silently,
                         QString filename, int quality);

    // --- session upload --------------------------------------------------------------

    // Appends a job (its document and image are the snapshot it holds); when
    // it is the only job, it starts at once. Jobs run one at a time, in
    // order; a failed attempt starts the head job again from its first step
    // after a back-off (1 s doubling to 60 s, see setRetryDelays), for as long
    // as it takes. A job leaves the queue only when its document is stored,
    // or when dropUploads() runs. The queue's requests ignore cancelDownload().
    // A job queued while logged out (no token) is dropped: it could only run
    // under the next login.
    void queueUpload(UploadJob job);
    // Jobs queued, the running one included (the window warns while not 0).
    int uploadQueueSize() const { return int(uploadQueue.size()); }
    // The back-off: the first delay, doubled per consecutive failure up to
    // the longest; back to the first once a job is done.
    void setRetryDelays(int firstMilliseconds, int maxMilliseconds);
    // What a logout calls once the user accepted losing the queued jobs: stops
    // a pending restart, aborts the queue's requests in flight and drops every
    // job; late answers of those requests are ignored.
    void dropUploads();

    // Quality code of a stored image file name: 1 plain (fetched with
    // "?quality=h"), 0 "l.jpg" (the "l" is removed from the name), -2 "s.jpg",
    // -3 "m.jpg", -4 "e.jpg".
    static int imageQuality(QString &filename);

    // --- reports ---------------------------------------------------------------------

    // The user's report templates, grouped by clinic: receivedReportTemplateList.
    void getReportTemplateList();
    // One template by its storage URL: recievedReportTemplate.
    void getReportTemplate(QUrl url);
    // Asks for a storage target, then PUTs the PDF there: reportUploaded() or
    // reportUploadFailed(). Each call keeps its own PDF, so two uploads in quick
    // succession store two reports. The PUT is not retried.
    void uploadReport(int patientID, int sessionID, QByteArray pdf);
    // The patient's finished reports: reportsListRecieved, or
    // reportRequestFailed when the answer is no list.
    void getReport(int patientID);

    // --- device sync (paired phone) ------------------------------------------------

    // A sync session for the session that became the principal one; until its
    // reply the id is "-1" (announced at once), so that a code of the previous
    // session is never shown for this one.
    void syncManualSessionV2(QSharedPointer<SessionVisualizer> session);
    // Cancels every open picture request on the phone. Without extras (a user
    // cancel or the start of a round) the single request ends here at once.
    void cancelPreviousImages(ExtraTags extras = {});
    void postManualImageRequest(QString imageName, QString type);
    void checkSyncImgsDoneSingle(QString imageName, QString type);
    // Prepares the 1000 ms poll of a capture round; it runs while the flag is true.
    void checkLoop(std::shared_ptr<std::atomic<bool>> runningFlag);
    // Starts a capture round of these lesions (each once, in this order).
    void newManualDermatosSync(std::vector<QSharedPointer<LesionVisualizer>> lesions);
    // One tick of the capture round's poll.
    void timerEvent();
    using QObject::timerEvent;

    QString getSyncSessionId() const { return syncSessionId; }
    // The device polls: 1000 ms in a capture round, 3000 ms for a single request.
    void setSyncPollIntervals(int roundMilliseconds, int singleMilliseconds);
    // The pairing URL a phone opens: base + "/external/sync/" + id.
    static QString pairingUrl(const QString &base, const QString &syncId);
    // Whether a poll (capture round or single request) is running.
    bool isPolling() const;
    // The open capture dialog, while a round's dialog runs.
    QtManualDermatoscopicDialog *captureDialog() const;
    // The lesion id texts of the current round, in capture order.
    const std::vector<QString> &getCaptureNames() const { return captureNames; }
    const std::unordered_map<QString, QImage> &getCaptureImages() const { return captureImages; }

public slots:
    void downloadImage(int patientID, int sessionID, QString filename, QString url, QString type);
    // A single picture request of the principal session ("D" dermatoscopic,
    // "C" clinical). It ends with the image filed in the session, or with
    // noDeviceReady(), imageHasBeenCanceled() or manualImageFailed().
    void requestManualImage(QString imageName, QString type);
    void retakeManualDermatoscopic(QString nom);

signals:
    void newPatients(std::unordered_map<std::string, Patient> patients);
    void cancelDownload();
    void nextManualImageSync(QString index);
    void prevManualImageDownloaded(QString index);
    void userPermissions(bool isDoctor, bool isPatientAdmin, QString name);
    void registeredPatientCorrectly();
    void registeredPatientIncorrectly(QString message);
    void setMaximumProgressBar(int max);
    void setValueProgressBar(int val);
    void allDoneProgressBar();
    void abortPostS3();
    void cancelDownloadListPatients();
    void noDeviceReady();
    void errorDownloadingManualImage(QString name);
    void imageHasBeenCanceled(QString imgName, QString type);
    void manualSessionDone(std::unordered_map<QString, QSharedPointer<LesionVisualizer>> lesions);
    void newSyncSessionCreated(QString syncID);
    void recievedSessionJson(QJsonDocument sessionJson, QString patientID, QString sessionID,
                             QDateTime sessionDate, int nJsonToDownload);
    // After a usable session list: how many session documents were requested
    // for the patient (0 when it has none). Every one of them then ends in
    // recievedSessionJson or sessionDocumentFailed.
    void sessionDocumentsRequested(QString patientID, int count);
    // The session list request failed or its answer was no session list;
    // nothing more follows for this request.
    void sessionListFailed(QString patientID);
    // A requested session document failed or is no JSON object.
    void sessionDocumentFailed(QString patientID, QString sessionID);
    void recievedReportTemplate(QJsonDocument reportTemplate);
    void receivedReportTemplateList(QJsonDocument reports);
    void sessionDownloadReply(int patientId, int sessionID, QJsonDocument responseWithUrls, bool silently);
    void imgDownloadDone(int patientId, int sessionId, QString filename, QByteArray buffer, QString type,
                         int typeQuality);
    void reportUploaded();
    void reportsListRecieved(std::vector<std::pair<std::pair<QDate, QDate>, QUrl>> reports);
    // A report upload that did not end stored (failed request, no target).
    void reportUploadFailed(QString message);
    // A report list, template list or template request that failed or gave
    // no list.
    void reportRequestFailed(QString message);
    void totpNeeded();
    void mailCodeNeeded();
    void loginCorrect();
    void loginIncorrect(QString message);
    void usernamePasswordIncorrect(QString message);
    void codeTOTPincorrect(QString message);
    void codeMailIncorrect(QString message);
    void serverTimeout();
    void incorrectServerName();
    void correctServerName(QString serverName);
    // The head upload job failed for the `failures`-th time in a row and
    // starts again in delayMs.
    void uploadRetryScheduled(int delayMs, int failures);
    // The number of queued upload jobs changed; the progress bar shows
    // exactly while it is not 0.
    void uploadQueueChanged(int jobs);
    // A message for the user about the upload queue ("Changes not yet saved
    // – retrying", "All changes saved"), shown as a notification.
    void uploadNotice(QString message);
    // A single picture request ended without its image (a failed step or an
    // unusable answer); the session's waiting dialog has been told to close.
    void manualImageFailed(QString imgName, QString type);

private slots:
    void replyFinished(QNetworkReply *reply);
    void authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);

private:
    // Which signals abort a reply, and whether its errors are traced.
    enum Connection
    {
        NoConnection = 0,
        CancelDownload = 1,
        CancelListPatients = 2,
        AbortStorageUpload = 4,
        TraceErrors = 8,
    };
    using Handler = void (ServerVisualizer::*)(QNetworkReply *reply);
    using DispatchTable = std::map<std::pair<QString, QString>, Handler>;
    static const DispatchTable &dispatchTable();

    QNetworkReply *send(const QByteArray &verb, QNetworkRequest request, const QByteArray &body,
                        const QString &server, const QString &operation, const ExtraTags &extras,
                        int connections);
    void prepare(QNetworkRequest &request, const QString &server) const;
    QNetworkRequest jsonRequest(const QString &path, bool withToken) const;
    QUrl apiUrl(const QString &path) const;
    void handleFailure(QNetworkReply *reply);
    QNetworkReply *sendGet(const QUrl &url, const QString &server, const QString &operation,
                           const ExtraTags &extras);
    void retryLater(QNetworkReply *reply, const QUrl &url);
    QNetworkReply *sendPut(const QUrl &url, const QByteArray &data, const QString &id,
                           const QString &operation);

    // Session upload.
    void assignExternal();
    void replyAssignExternal(QNetworkReply *reply);
    void replyUploadPut(QNetworkReply *reply);
    void sendUploadImage(const QUrl &url);
    void sendUploadDocument();
    void uploadAttemptFailed(const QString &why, bool storage);
    void tagUpload(QNetworkReply *reply);
    bool isCurrentUpload(const QNetworkReply *reply) const;
    bool isCurrentUpload(quint64 serial, int attempt) const;

    // Device sync (ServerVisualizerSync.cpp).
    void replySyncSession(QNetworkReply *reply);
    void replySyncStatusBeforeRequest(QNetworkReply *reply);
    void replyCancelPreviousImages(QNetworkReply *reply);
    void replyManualImageRequest(QNetworkReply *reply);
    void replyCheckSyncImgsDoneSingle(QNetworkReply *reply);
    void replyDownloadManualSingle(QNetworkReply *reply);
    void replyFinishedEc2SyncManualSession(QNetworkReply *reply);
    void replyCheckSyncDevices(QNetworkReply *reply);
    void replyCheckSyncImgsDone(QNetworkReply *reply);
    void replyDownloadManualImgSync(QNetworkReply *reply);
    void replyDownloadManual(QNetworkReply *reply);
    // Failure path of the sync operations; true when the operation was one.
    bool handleSyncFailure(QNetworkReply *reply);
    void failSingleRequest(const QString &imageName, const QString &type);
    void endSingleRequest();
    void replacePollTimer(int interval);
    void lookupRoundImage(const QString &name, int attempt);
    void finishRound();
    void resetSync();
    bool isCurrentSingle(QNetworkReply *reply) const;
    bool isCurrentRound(QNetworkReply *reply) const;
    QString syncPath(const QString &rest) const;

    // Reply handlers.
    void replyEndpoint(QNetworkReply *reply);
    void replyLogin(QNetworkReply *reply);
    void replySecondFactor(QNetworkReply *reply);
    void replyPermissions(QNetworkReply *reply);
    void replyPatients(QNetworkReply *reply);
    void replyRegisterPatient(QNetworkReply *reply);
    void replySessionList(QNetworkReply *reply);
    void replySessionJson(QNetworkReply *reply);
    void replyDownloadSession(QNetworkReply *reply);
    void replyDownloadImage(QNetworkReply *reply);
    void replyRetakeManual(QNetworkReply *reply);
    void replyReportTemplateList(QNetworkReply *reply);
    void replyReportTemplate(QNetworkReply *reply);
    void replyReportUploaded(QNetworkReply *reply);
    void replyReportUploadTarget(QNetworkReply *reply);
    void replyReportList(QNetworkReply *reply);

    void finishLoginStep(const ServerReplies::LoginStep &step, bool authenticatorCode);
    void sendPermissionsRequest();
    void permissionsAnswerUnusable();

    QNetworkAccessManager *manager = nullptr;
    QString baseUrl;
    QString directoryUrl;
    QString sessionToken;
    QTimer inactivityTimer;

    QSslConfiguration sslConfiguration;
    int apiTimeout = 30000;
    int storageTimeout = 120000;

    // The last patient list or search answer.
    std::unordered_map<std::string, Patient> patients;

    // A permissions answer that is no JSON object is asked again a few times.
    QTimer permissionsRetryTimer;
    int permissionsRetries = 0;

    // The upload queue; its head is the job being uploaded.
    std::deque<UploadJob> uploadQueue;
    // Guards the head job's imageDone flag and the removal of the head (only
    // the GUI thread touches them: never contended).
    std::mutex uploadMutex;
    int progressCounter = 0;
    // Set while an attempt of the head job is under way.
    std::atomic<bool> uploadInFlight{false};
    quint64 m_lastUploadSerial = 0;
    // Counts the head job's attempts; a reply of another attempt is stale.
    int m_uploadAttempt = 0;
    int m_uploadFailures = 0; // consecutive failed attempts of the head job
    bool m_unsavedNoticeShown = false;
    int m_retryFirstMs = 1000;
    int m_retryMaxMs = 60000;
    QTimer m_uploadRetryTimer; // the one pending restart
    std::vector<QPointer<QNetworkReply>> m_uploadReplies;
    // --- device sync state ------------------------------------------------------
    QString syncSessionId = QStringLiteral("-1");
    QSharedPointer<SessionVisualizer> syncSession;
    bool checkingDevices = false;
    bool checkingImages = false;
    QString currentImageName;
    std::vector<QString> captureNames;
    std::unordered_map<QString, QImage> captureImages;
    std::unordered_map<QString, QSharedPointer<LesionVisualizer>> syncLesions;
    std::unordered_map<QString, QString> receivedImages;
    std::shared_ptr<std::unordered_map<QString, QImage>> sharedReceived;
    std::shared_ptr<std::atomic<bool>> runningFlag;
    std::map<QString, bool> pendingRequests;
    QTimer *pollTimer = nullptr;
    std::mutex singleRequestMutex;

    // Replies of an earlier creation, single request or round carry an older
    // number and are dropped, so a late answer never acts on the present.
    int m_syncGeneration = 0;
    int m_singleGeneration = 0;
    int m_roundGeneration = 0;
    // One poll at a time: crossed answers would fetch a picture twice.
    QPointer<QNetworkReply> m_pollReply;
    int m_singlePollFailures = 0;
    // Names of the round that got a dermatoscopic group in this round: only
    // those lose one on a retake.
    std::set<QString> m_roundAdded;
    // Names of the round whose lookup or download is under way.
    std::set<QString> m_lookingUp;
    // Retaken names the phone has been told about, and how many retakes were
    // answered: a poll sent before an answer may still show the old state.
    std::set<QString> m_retaken;
    int m_retakeEpoch = 0;
    // The poll timer belongs to a single request (not to a round).
    bool m_pollSingle = false;
    int m_roundPollMs = 1000;
    int m_singlePollMs = 3000;
    QPointer<QObject> m_captureDialog;
    bool m_roundOpen = false;
};
