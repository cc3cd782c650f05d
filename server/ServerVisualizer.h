#pragma once

#include "server/Patient.h"
#include "server/ServerReplies.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QSharedPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class LesionVisualizer;
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

    // Logout: forgets the token and every cached connection and credential.
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

    // Quality code of a stored image file name: 1 plain (fetched with
    // "?quality=h"), 0 "l.jpg" (the "l" is removed from the name), -2 "s.jpg",
    // -3 "m.jpg", -4 "e.jpg".
    static int imageQuality(QString &filename);

public slots:
    void downloadImage(int patientID, int sessionID, QString filename, QString url, QString type);

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
};
