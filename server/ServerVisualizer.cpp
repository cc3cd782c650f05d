#include "server/ServerVisualizer.h"

#include "server/RefusedReply.h"
#include "server/ServerReplies.h"
#include "widgets/Trace.h"

#include <QAuthenticator>
#include <QBuffer>
#include <QFuture>
#include <QJsonArray>
#include <QJsonValue>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslSocket>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

const QString kEc2 = QStringLiteral("ec2");
const QString kS3 = QStringLiteral("s3");
const QString kDirectory = QStringLiteral("globalServer");

constexpr int kInactivityMilliseconds = 14400000;
constexpr int kPermissionsRetries = 3;
constexpr int kPermissionsRetryMilliseconds = 1000;

// Trace lines never carry tokens, codes, passwords, storage signatures or
// patient names.
using kelvaris::trace;

// A URL as it may appear in a trace: no query (presigned signatures live
// there), no user information, no fragment.
QString traceable(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveQuery | QUrl::RemoveUserInfo | QUrl::RemoveFragment)
        .toString(QUrl::FullyEncoded);
}

// One path segment, with every reserved character ("/", "?", "#", "%", ...)
// percent-encoded so that the text cannot change the path.
QString segment(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QJsonDocument parse(const QByteArray &body)
{
    return QJsonDocument::fromJson(body);
}

QByteArray jsonBody(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

int httpStatus(QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// Only a 2xx answer is a success: with manual redirects a 3xx finishes
// without a network error, and its body (often an HTML page) is no answer.
bool succeeded(QNetworkReply *reply)
{
    const int status = httpStatus(reply);
    return reply->error() == QNetworkReply::NoError && status >= 200 && status <= 299;
}

QNetworkAccessManager::Operation operationOf(const QByteArray &verb)
{
    if (verb == "GET")
        return QNetworkAccessManager::GetOperation;
    if (verb == "DELETE")
        return QNetworkAccessManager::DeleteOperation;
    if (verb == "POST")
        return QNetworkAccessManager::PostOperation;
    if (verb == "PUT")
        return QNetworkAccessManager::PutOperation;
    return QNetworkAccessManager::CustomOperation;
}

// What the reply still holds; an aborted reply is closed and holds nothing.
QByteArray remainingBody(QNetworkReply *reply)
{
    return reply->isOpen() ? reply->readAll() : QByteArray();
}

// The status of a login step's answer, or 0 when the transfer itself failed:
// a status line followed by a cut-off body is no answer to act on.
int answeredStatus(QNetworkReply *reply)
{
    const int error = reply->error();
    const bool transportFailed = (error >= 1 && error <= 199) || error == QNetworkReply::ProtocolFailure;
    return transportFailed ? 0 : httpStatus(reply);
}

QString errorName(QNetworkReply::NetworkError error)
{
    const char *key = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error);
    return key ? QString::fromLatin1(key) : QString::number(int(error));
}

} // namespace

ServerVisualizer::ServerVisualizer(QString baseUrl, QObject *parent)
    : QObject(parent), manager(new QNetworkAccessManager(this)), baseUrl(std::move(baseUrl)),
      directoryUrl(defaultDirectoryUrl()), sslConfiguration(QSslConfiguration::defaultConfiguration())
{
    while (this->baseUrl.endsWith(QLatin1Char('/')))
        this->baseUrl.chop(1);
    connect(manager, &QNetworkAccessManager::finished, this, &ServerVisualizer::replyFinished);
    connect(manager, &QNetworkAccessManager::authenticationRequired, this,
            &ServerVisualizer::authenticationRequired);

    inactivityTimer.setSingleShot(true);
    inactivityTimer.setInterval(kInactivityMilliseconds);
    connect(&inactivityTimer, &QTimer::timeout, this, &ServerVisualizer::serverTimeout);

    permissionsRetryTimer.setSingleShot(true);
    permissionsRetryTimer.setInterval(kPermissionsRetryMilliseconds);
    connect(&permissionsRetryTimer, &QTimer::timeout, this, &ServerVisualizer::sendPermissionsRequest);

    m_uploadRetryTimer.setSingleShot(true);
    // A coarse timer may fire 5 % late: three seconds of a 60 s back-off
    // with nothing on its way.
    m_uploadRetryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_uploadRetryTimer, &QTimer::timeout, this, [this] {
        if (!uploadQueue.empty() && !uploadInFlight)
            assignExternal();
    });
}

ServerVisualizer::~ServerVisualizer()
{
    // Replies still in flight die with the manager; none of them may reach a
    // handler of this half-destroyed object.
    manager->disconnect(this);
    delete manager;
    manager = nullptr;
}

QString ServerVisualizer::defaultDirectoryUrl()
{
    return QStringLiteral("https://directory.kelvaris.com");
}

QStringList ServerVisualizer::applyConfiguration(const QJsonObject &configuration)
{
    QStringList problems;

    const QJsonValue directory = configuration.value(QStringLiteral("directory"));
    if (!directory.isUndefined()) {
        const QString base =
            directory.isString() ? ServerReplies::httpsBase(directory.toString()) : QString();
        if (base.isEmpty())
            problems << tr("The configuration value \"directory\" is not an https URL; the default "
                           "directory server is used.");
        else
            directoryUrl = base;
    }

    QJsonValue authorities = configuration.value(QStringLiteral("caCertificates"));
    if (authorities.isString())
        authorities = QJsonArray{authorities};
    if (!authorities.isUndefined() && !authorities.isArray()) {
        problems << tr("The configuration value \"caCertificates\" is not a list of file names.");
    } else if (authorities.isArray()) {
        QList<QSslCertificate> trusted;
        for (const QJsonValue &entry : authorities.toArray()) {
            if (!entry.isString() || entry.toString().isEmpty()) {
                problems << tr("An entry of \"caCertificates\" is not a file name.");
                continue;
            }
            const QString path = entry.toString();
            const QList<QSslCertificate> read =
                QSslCertificate::fromPath(path, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
            if (read.isEmpty())
                problems << tr("No certificate could be read from \"%1\".").arg(path);
            trusted << read;
        }
        addTrustedCaCertificates(trusted);
    }

    for (const QString &problem : problems)
        trace(QStringLiteral("Configuration: ") + problem);
    return problems;
}

void ServerVisualizer::addTrustedCaCertificates(const QList<QSslCertificate> &certificates)
{
    if (certificates.isEmpty())
        return;
    // addCaCertificates() alone would turn off the on-demand loading of the
    // system's roots, and a server signed by a public authority would be
    // refused: the system's roots are listed explicitly with the extra ones.
    QList<QSslCertificate> trusted = sslConfiguration.caCertificates();
    if (trusted.isEmpty())
        trusted = QSslConfiguration::systemCaCertificates();
    for (const QSslCertificate &certificate : certificates)
        if (!trusted.contains(certificate))
            trusted << certificate;
    sslConfiguration.setCaCertificates(trusted);
    // An open connection keeps the trust it was made with.
    manager->clearConnectionCache();
}

void ServerVisualizer::setTransferTimeouts(int apiMilliseconds, int storageMilliseconds)
{
    apiTimeout = apiMilliseconds;
    storageTimeout = storageMilliseconds;
}

void ServerVisualizer::setInactivityInterval(int milliseconds)
{
    inactivityTimer.setInterval(milliseconds);
}

// --- request core -------------------------------------------------------------------

void ServerVisualizer::prepare(QNetworkRequest &request, const QString &server) const
{
    // Every request trusts the same authorities: the manager reuses its
    // connections whatever configuration a later request carries.
    request.setSslConfiguration(sslConfiguration);
    request.setTransferTimeout(server == kS3 ? storageTimeout : apiTimeout);
    // A redirect must never carry the session token to another place.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
}

QUrl ServerVisualizer::apiUrl(const QString &path) const
{
    return QUrl(baseUrl + path);
}

QNetworkRequest ServerVisualizer::jsonRequest(const QString &path, bool withToken) const
{
    QNetworkRequest request(apiUrl(path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (withToken)
        request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
    return request;
}

QNetworkReply *ServerVisualizer::send(const QByteArray &verb, QNetworkRequest request, const QByteArray &body,
                                      const QString &server, const QString &operation,
                                      const ExtraTags &extras, int connections)
{
    prepare(request, server);
    QNetworkReply *reply = nullptr;
    // The manager also reads file:, qrc: and data: URLs and speaks plain
    // http: a URL handed out by a server must not make the program read
    // local files or send anything unencrypted.
    if (request.url().scheme() != QLatin1String("https")) {
        trace(QStringLiteral("Refused a request that is not https: ") + operation);
        auto *refused =
            new RefusedReply(request, operationOf(verb), tr("Only https addresses are requested."), this);
        connect(refused, &QNetworkReply::finished, this, [this, refused] { replyFinished(refused); });
        reply = refused;
    } else if (verb == "GET")
        reply = manager->get(request);
    else if (verb == "DELETE")
        reply = manager->deleteResource(request);
    else if (verb == "POST")
        reply = manager->post(request, body);
    else if (verb == "PUT")
        reply = manager->put(request, body);
    else
        reply = manager->sendCustomRequest(request, verb, body);

    reply->setProperty("server", server);
    reply->setProperty("operation", operation);
    for (const auto &[name, value] : extras)
        reply->setProperty(name.toUtf8().constData(), value);

    if (connections & CancelDownload)
        connect(this, &ServerVisualizer::cancelDownload, reply, &QNetworkReply::abort);
    if (connections & CancelListPatients)
        connect(this, &ServerVisualizer::cancelDownloadListPatients, reply, &QNetworkReply::abort);
    if (connections & AbortStorageUpload)
        connect(this, &ServerVisualizer::abortPostS3, reply, &QNetworkReply::abort);
    if (connections & TraceErrors) {
        connect(reply, &QNetworkReply::errorOccurred, reply, [](QNetworkReply::NetworkError code) {
            trace(QStringLiteral("ERRRRRRRRROR ") + errorName(code));
        });
        connect(reply, &QNetworkReply::sslErrors, reply,
                [](const QList<QSslError> &) { trace(QStringLiteral("ERRRRRRRRROR SSL")); });
    }
    return reply;
}

QNetworkReply *ServerVisualizer::sendGet(const QUrl &url, const QString &server, const QString &operation,
                                         const ExtraTags &extras)
{
    trace(QStringLiteral("GET: ") + traceable(url) + QLatin1Char(' ') + operation + QLatin1Char(' ') +
          url.fileName());
    QNetworkRequest request(url);
    if (server == kEc2)
        request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
    QNetworkReply *reply = send("GET", request, {}, server, operation, extras, CancelDownload | TraceErrors);
    reply->setProperty("serverFileName", url.fileName(QUrl::FullyDecoded));
    return reply;
}

void ServerVisualizer::getRequest(QUrl url, QString server, QString operation, ExtraTags extras)
{
    sendGet(url, server, operation, extras);
}

void ServerVisualizer::deleteRequest(QUrl url, QString server, QString operation, ExtraTags extras)
{
    QNetworkRequest request(url);
    request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
    QNetworkReply *reply =
        send("DELETE", request, {}, server, operation, extras, CancelDownload | TraceErrors);
    reply->setProperty("serverFileName", url.fileName(QUrl::FullyDecoded));
}

void ServerVisualizer::postRequest(QNetworkRequest request, QByteArray body, QString server,
                                   QString operation, ExtraTags extras)
{
    send("POST", request, body, server, operation, extras, CancelDownload | TraceErrors);
}

void ServerVisualizer::putRequest(QNetworkRequest request, QByteArray body, QString server, QString operation,
                                  ExtraTags extras)
{
    send("PUT", request, body, server, operation, extras, CancelDownload | TraceErrors);
}

void ServerVisualizer::putFile(QUrl url, QByteArray data, QString id, QString operation)
{
    sendPut(url, data, id, operation);
}

QNetworkReply *ServerVisualizer::sendPut(const QUrl &url, const QByteArray &data, const QString &id,
                                         const QString &operation)
{
    trace(QStringLiteral("ServerVisualizer::putFile"));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    // abortPostS3() belongs to the upload queue: a report upload never listens to it.
    const int connections =
        operation == QLatin1String("post") ? AbortStorageUpload | TraceErrors : TraceErrors;
    return send("PUT", request, data, kS3, operation, {{QStringLiteral("id"), id}}, connections);
}

void ServerVisualizer::clearSession()
{
    // Jobs of this login must not run under the next one (another user's token).
    dropUploads();
    manager->clearAccessCache();
    sessionToken.clear();
    patients.clear();
    // A logged-out user must not be logged out again by a timer of the old login.
    inactivityTimer.stop();
    permissionsRetryTimer.stop();
    permissionsRetries = 0;
    // Nothing of the device sync of this login is left to the next one.
    resetSync();
}

const ServerVisualizer::DispatchTable &ServerVisualizer::dispatchTable()
{
    static const DispatchTable table = {
        {{kEc2, QStringLiteral("listPatients")}, &ServerVisualizer::replyPatients},
        {{kEc2, QStringLiteral("listPatientsSearch")}, &ServerVisualizer::replyPatients},
        {{kEc2, QStringLiteral("checkPermissions")}, &ServerVisualizer::replyPermissions},
        {{kEc2, QStringLiteral("registerPatient")}, &ServerVisualizer::replyRegisterPatient},
        {{kEc2, QStringLiteral("getSessionsJsons")}, &ServerVisualizer::replySessionList},
        {{kEc2, QStringLiteral("downloadSession")}, &ServerVisualizer::replyDownloadSession},
        {{kEc2, QStringLiteral("assignExternalDermato")}, &ServerVisualizer::replyAssignExternal},
        {{kS3, QStringLiteral("post")}, &ServerVisualizer::replyUploadPut},
        {{kEc2, QStringLiteral("retakeManual")}, &ServerVisualizer::replyRetakeManual},
        {{kEc2, QStringLiteral("syncManualSessionV2")}, &ServerVisualizer::replySyncSession},
        {{kEc2, QStringLiteral("syncManualSession")}, &ServerVisualizer::replyFinishedEc2SyncManualSession},
        {{kEc2, QStringLiteral("checkSyncDevices")}, &ServerVisualizer::replyCheckSyncDevices},
        {{kEc2, QStringLiteral("checkSyncImgsDone")}, &ServerVisualizer::replyCheckSyncImgsDone},
        {{kEc2, QStringLiteral("downloadManualImgSync")}, &ServerVisualizer::replyDownloadManualImgSync},
        {{kEc2, QStringLiteral("checkSyncSessionStatusBeforeRequest")},
         &ServerVisualizer::replySyncStatusBeforeRequest},
        {{kEc2, QStringLiteral("cancelPreviousImages")}, &ServerVisualizer::replyCancelPreviousImages},
        {{kEc2, QStringLiteral("manualImageRequest")}, &ServerVisualizer::replyManualImageRequest},
        {{kEc2, QStringLiteral("checkSyncImgsDoneSingle")}, &ServerVisualizer::replyCheckSyncImgsDoneSingle},
        {{kS3, QStringLiteral("downloadManual")}, &ServerVisualizer::replyDownloadManual},
        {{kS3, QStringLiteral("downloadManualSingleRequest")}, &ServerVisualizer::replyDownloadManualSingle},
        {{kEc2, QStringLiteral("getReportTemplate")}, &ServerVisualizer::replyReportTemplateList},
        {{kEc2, QStringLiteral("uploadReport")}, &ServerVisualizer::replyReportUploadTarget},
        {{kEc2, QStringLiteral("getReport")}, &ServerVisualizer::replyReportList},
        {{kEc2, QStringLiteral("login")}, &ServerVisualizer::replyLogin},
        {{kEc2, QStringLiteral("mfa")}, &ServerVisualizer::replySecondFactor},
        {{kEc2, QStringLiteral("codeConfirm")}, &ServerVisualizer::replySecondFactor},
        {{kS3, QStringLiteral("getSessionJson")}, &ServerVisualizer::replySessionJson},
        {{kS3, QStringLiteral("downloadImage")}, &ServerVisualizer::replyDownloadImage},
        {{kS3, QStringLiteral("getReportTemplate")}, &ServerVisualizer::replyReportTemplate},
        {{kS3, QStringLiteral("uploadReport")}, &ServerVisualizer::replyReportUploaded},
        {{kDirectory, QStringLiteral("getEndpoint")}, &ServerVisualizer::replyEndpoint},
    };
    return table;
}

void ServerVisualizer::replyFinished(QNetworkReply *reply)
{
    const QString server = reply->property("server").toString();
    const QString operation = reply->property("operation").toString();
    // A handler may run a nested event loop (the capture dialog) in which
    // this object or the reply can go.
    QPointer<ServerVisualizer> self(this);
    QPointer<QNetworkReply> alive(reply);
    if (succeeded(reply)) {
        if (reply == m_pollReply)
            m_pollReply = nullptr;
        trace(QStringLiteral("DINS ") + server + QLatin1Char(' ') + operation);
        const auto row = dispatchTable().find({server, operation});
        if (row != dispatchTable().end())
            (this->*(row->second))(reply);
    } else {
        handleFailure(reply);
    }
    if (!self || !alive)
        return;
    reply->disconnect();
    disconnect(this, nullptr, reply, nullptr);
    reply->deleteLater();
}

void ServerVisualizer::handleFailure(QNetworkReply *reply)
{
    const QString server = reply->property("server").toString();
    const QString operation = reply->property("operation").toString();

    // The login steps read the status and the error body themselves.
    if (server == kEc2 && (operation == QLatin1String("login") || operation == QLatin1String("mfa") ||
                           operation == QLatin1String("codeConfirm"))) {
        (this->*(dispatchTable().at({server, operation})))(reply);
        return;
    }
    if (operation == QLatin1String("getEndpoint")) {
        emit incorrectServerName();
        return;
    }

    const int status = httpStatus(reply);
    trace(QStringLiteral("ERROR SERVER ") + server + QStringLiteral(" OPERATION ") + operation +
          QStringLiteral(": (") + QString::number(int(reply->error())) + QStringLiteral(") ") +
          errorName(reply->error()) +
          (status ? QStringLiteral(" HTTP ") + QString::number(status) : QString()));
    const QByteArray body = remainingBody(reply);

    if (operation == QLatin1String("uploadReport")) {
        // Whichever step failed, the doctor must not believe the report stored.
        emit reportUploadFailed(tr("The report could not be uploaded"));
    } else if (server == kEc2 && operation == QLatin1String("getReport")) {
        emit reportRequestFailed(tr("The report list could not be read"));
    } else if (operation == QLatin1String("getReportTemplate")) {
        emit reportRequestFailed(tr("The report templates could not be read"));
    } else if (server == kEc2 && operation == QLatin1String("registerPatient")) {
        // Never silent: an empty or long body (an error page) gives a plain message.
        emit registeredPatientIncorrectly(ServerReplies::registrationRefusal(status, body, reply->error()));
    } else if (server == kEc2 && operation == QLatin1String("assignExternalDermato")) {
        if (isCurrentUpload(reply))
            uploadAttemptFailed(QStringLiteral("announcing the upload failed"), false);
        else
            trace(QStringLiteral("Upload: a failure of an earlier attempt is ignored"));
    } else if (server == kS3 && operation == QLatin1String("post")) {
        if (isCurrentUpload(reply))
            uploadAttemptFailed(QStringLiteral("a storage upload failed"), true);
        else if (reply->property("uploadJob").isValid())
            trace(QStringLiteral("Upload: a failure of an earlier attempt is ignored"));
        else
            emit abortPostS3();
    } else if (server == kEc2 && operation == QLatin1String("getSessionsJsons")) {
        emit sessionListFailed(reply->property("patientID").toString());
    } else if (server == kS3 && operation == QLatin1String("getSessionJson")) {
        emit sessionDocumentFailed(reply->property("patientID").toString(),
                                   reply->property("sessionID").toString());
    } else if (server == kEc2 && operation == QLatin1String("checkPermissions")) {
        permissionsRetryTimer.stop();
        permissionsRetries = 0;
        // The authentication challenge of this reply has already logged out.
        if (!reply->property("challenged").toBool())
            emit serverTimeout();
    } else {
        handleSyncFailure(reply);
    }
}

void ServerVisualizer::authenticationRequired(QNetworkReply *reply, QAuthenticator *)
{
    trace(QStringLiteral("FALTA AUTENTIFICACIO"));
    if (reply->property("server").toString() == kEc2) {
        reply->setProperty("challenged", true);
        inactivityTimer.stop();
        emit serverTimeout();
    }
}

// --- authentication -------------------------------------------------------------------

void ServerVisualizer::getEndpoint(QString name)
{
    // "." and ".." would survive encoding and climb out of the lookup path.
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        QTimer::singleShot(0, this, &ServerVisualizer::incorrectServerName);
        return;
    }
    QNetworkRequest request(
        QUrl(directoryUrl + QStringLiteral("/api/server/") + segment(name) + QLatin1Char('/')));
    trace(QStringLiteral("GET: ") + traceable(request.url()) + QStringLiteral(" getEndpoint"));
    send("GET", request, {}, kDirectory, QStringLiteral("getEndpoint"), {}, TraceErrors);
}

void ServerVisualizer::replyEndpoint(QNetworkReply *reply)
{
    const QByteArray body = reply->readAll();
    trace(QString::fromUtf8(body));
    // Only an https base URL may receive the user's password and token.
    const QString base = ServerReplies::endpoint(body);
    if (base.isEmpty()) {
        emit incorrectServerName();
        return;
    }
    if (base != baseUrl)
        manager->clearAccessCache();
    baseUrl = base;
    emit correctServerName(baseUrl);
}

void ServerVisualizer::login(QString username, QString password)
{
    // A token of an earlier login (another account, or one left by Back)
    // must never authorise a step of this one.
    sessionToken.clear();
    const QJsonObject body{{QStringLiteral("password"), password}, {QStringLiteral("username"), username}};
    send("POST", jsonRequest(QStringLiteral("/api-auth/app/v1/auth/login"), false), jsonBody(body), kEc2,
         QStringLiteral("login"), {}, NoConnection);
}

void ServerVisualizer::verifyTOTP(QString code)
{
    send("POST", jsonRequest(QStringLiteral("/api-auth/app/v1/auth/2fa/authenticate"), true),
         jsonBody({{QStringLiteral("code"), code}}), kEc2, QStringLiteral("mfa"), {}, NoConnection);
}

void ServerVisualizer::verifyMailCode(QString code)
{
    send("POST", jsonRequest(QStringLiteral("/api-auth/app/v1/auth/code/confirm"), true),
         jsonBody({{QStringLiteral("code"), code}}), kEc2, QStringLiteral("codeConfirm"), {}, NoConnection);
}

void ServerVisualizer::replyLogin(QNetworkReply *reply)
{
    trace(QStringLiteral("---------------------DINS: -------------------------"));
    const int status = answeredStatus(reply);
    if (status != 401 && (status < 200 || status > 299))
        trace(QStringLiteral("Error en login: ") + QString::number(status));
    else if (status != 401)
        trace(QStringLiteral("Login completat amb exit."));
    finishLoginStep(ServerReplies::loginReply(status, remainingBody(reply), reply->error()), true);
}

void ServerVisualizer::replySecondFactor(QNetworkReply *reply)
{
    const bool mfa = reply->property("operation").toString() == QLatin1String("mfa");
    const int status = answeredStatus(reply);
    if (status < 200 || status > 299)
        trace(
            (mfa ? QStringLiteral("Error en 2FA: ") : QStringLiteral("Error en la confirmacio del codi: ")) +
            QString::number(status));
    else
        trace(mfa ? QStringLiteral("2FA autenticacio completada.")
                  : QStringLiteral("Confirmacio del codi completada."));
    finishLoginStep(ServerReplies::secondFactorReply(status, remainingBody(reply), reply->error()), mfa);
}

// Every login step ends with exactly one signal, so that the dialog always
// knows what to show and never waits with its buttons disabled.
void ServerVisualizer::finishLoginStep(const ServerReplies::LoginStep &step, bool authenticatorCode)
{
    using Step = ServerReplies::LoginStep;
    if (!step.token.isEmpty())
        sessionToken = step.token;
    if (!step.errorCode.isEmpty())
        trace(QStringLiteral("ERROR CODE: ") + step.errorCode);
    switch (step.outcome) {
    case Step::Correct:
        inactivityTimer.start();
        emit loginCorrect();
        break;
    case Step::TotpNeeded:
        emit totpNeeded();
        break;
    case Step::MailCodeNeeded:
        emit mailCodeNeeded();
        break;
    case Step::UsernamePasswordIncorrect:
        emit usernamePasswordIncorrect(step.message);
        break;
    case Step::CodeIncorrect:
        if (authenticatorCode)
            emit codeTOTPincorrect(step.message);
        else
            emit codeMailIncorrect(step.message);
        break;
    case Step::Incorrect:
        emit loginIncorrect(step.message);
        break;
    }
}

// --- patients and permissions ----------------------------------------------------------

void ServerVisualizer::checkPermissions()
{
    permissionsRetryTimer.stop();
    permissionsRetries = 0;
    sendPermissionsRequest();
}

void ServerVisualizer::sendPermissionsRequest()
{
    getRequest(apiUrl(QStringLiteral("/api/me/")), kEc2, QStringLiteral("checkPermissions"));
}

void ServerVisualizer::replyPermissions(QNetworkReply *reply)
{
    const std::optional<ServerReplies::Permissions> me = ServerReplies::permissions(reply->readAll());
    if (!me) {
        permissionsAnswerUnusable();
        return;
    }
    permissionsRetries = 0;
    // An account with neither role is answered once; the caller tells the user.
    emit userPermissions(me->isDoctor, me->isPatientAdmin, me->name);
}

void ServerVisualizer::permissionsAnswerUnusable()
{
    if (permissionsRetries < kPermissionsRetries) {
        ++permissionsRetries;
        trace(QStringLiteral("checkPermissions: unusable answer, asking again"));
        permissionsRetryTimer.start();
        return;
    }
    permissionsRetries = 0;
    trace(QStringLiteral("checkPermissions: no usable answer"));
    emit serverTimeout();
}

void ServerVisualizer::listPatients()
{
    QNetworkRequest request(apiUrl(QStringLiteral("/api/patients/")));
    request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
    send("GET", request, {}, kEc2, QStringLiteral("listPatients"), {},
         CancelDownload | CancelListPatients | TraceErrors);
}

void ServerVisualizer::listPatientsSearch(QString text)
{
    QUrl url = apiUrl(QStringLiteral("/api/patients/"));
    // Fully encoded, so that "&", "#", "+" and "%" reach the server as typed.
    url.setQuery(QStringLiteral("id=") + segment(text));
    QNetworkRequest request(url);
    request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
    send("GET", request, {}, kEc2, QStringLiteral("listPatientsSearch"), {},
         CancelDownload | CancelListPatients | TraceErrors);
}

void ServerVisualizer::replyPatients(QNetworkReply *reply)
{
    patients.clear();
    for (Patient &patient : ServerReplies::patientList(reply->readAll())) {
        trace(QStringLiteral("Inserted: ") + QString::fromStdString(patient.patientID));
        const std::string key = patient.patientID;
        patients.emplace(key, std::move(patient));
    }
    if (!patients.empty())
        emit newPatients(patients);
}

void ServerVisualizer::registerPatient(QString firstName, QString lastName, QString centerID, QString email)
{
    const QJsonObject body{{QStringLiteral("CenterID"), centerID},
                           {QStringLiteral("Email"), email},
                           {QStringLiteral("FirstName"), firstName},
                           {QStringLiteral("LastName"), lastName}};
    send("POST", jsonRequest(QStringLiteral("/api/patients/"), true), jsonBody(body), kEc2,
         QStringLiteral("registerPatient"), {}, TraceErrors);
}

void ServerVisualizer::replyRegisterPatient(QNetworkReply *)
{
    emit registeredPatientCorrectly();
}

// --- session download ------------------------------------------------------------------

void ServerVisualizer::getSessionsJsons(QString patientID)
{
    getRequest(apiUrl(QStringLiteral("/api/patients/") + segment(patientID) + QStringLiteral("/json/")), kEc2,
               QStringLiteral("getSessionsJsons"), {{QStringLiteral("patientID"), patientID}});
}

void ServerVisualizer::replySessionList(QNetworkReply *reply)
{
    const QByteArray body = reply->readAll();
    // The body lists presigned URLs: only its size is traced.
    trace(QStringLiteral("data: ") + QString::number(body.size()) + QStringLiteral(" bytes"));
    // Only documents that are really requested are counted, so that the caller
    // waiting for nJson documents never waits for one that was not asked for.
    const QString requestedPatient = reply->property("patientID").toString();
    if (!ServerReplies::isSessionList(body)) {
        emit sessionListFailed(requestedPatient);
        return;
    }
    const std::vector<ServerReplies::SessionDocument> documents = ServerReplies::sessionList(body);
    const QString count = QString::number(documents.size());
    for (const ServerReplies::SessionDocument &document : documents)
        getRequest(document.url, kS3, QStringLiteral("getSessionJson"),
                   {{QStringLiteral("patientID"), document.patientID},
                    {QStringLiteral("sessionID"), document.sessionID},
                    {QStringLiteral("nJson"), count},
                    {QStringLiteral("date"), document.date}});
    // Announced after the requests exist, so that a receiver that cancels
    // from its slot cancels them too.
    emit sessionDocumentsRequested(requestedPatient, int(documents.size()));
}

void ServerVisualizer::replySessionJson(QNetworkReply *reply)
{
    const QJsonDocument document = parse(reply->readAll());
    // A body that is no document would become an empty session shown as if
    // the examination had no images or lesions.
    if (!document.isObject()) {
        emit sessionDocumentFailed(reply->property("patientID").toString(),
                                   reply->property("sessionID").toString());
        return;
    }
    const QDateTime date = QDateTime::fromString(reply->property("date").toString(), Qt::ISODateWithMs);
    emit recievedSessionJson(document, reply->property("patientID").toString(),
                             reply->property("sessionID").toString(), date,
                             reply->property("nJson").toString().toInt());
}

void ServerVisualizer::downloadSession(int patientID, int sessionID, bool dermatoscopic, bool clinical,
                                       bool silently, QString filename, int quality)
{
    trace(QStringLiteral("ID: ") + QString::number(patientID) + QStringLiteral(" session ") +
          QString::number(sessionID));
    inactivityTimer.start();
    if (!dermatoscopic && !clinical)
        return;

    QString suffix;
    if (dermatoscopic != clinical) {
        suffix = dermatoscopic ? QStringLiteral("dermatoscopic/") : QStringLiteral("clinical/");
        if (!filename.isEmpty())
            suffix += segment(filename);
    }
    QUrl url = apiUrl(QStringLiteral("/api/patients/") + QString::number(patientID) +
                      QStringLiteral("/sessions/") + QString::number(sessionID) + QLatin1Char('/') + suffix);
    if (dermatoscopic != clinical && !filename.isEmpty() && quality == 1)
        url.setQuery(QStringLiteral("quality=h"));
    trace(QStringLiteral("url: ") + url.toString());
    getRequest(url, kEc2, QStringLiteral("downloadSession"),
               {{QStringLiteral("patientID"), QString::number(patientID)},
                {QStringLiteral("silently"), silently ? QStringLiteral("true") : QStringLiteral("false")},
                {QStringLiteral("sessionID"), QString::number(sessionID)}});
}

void ServerVisualizer::replyDownloadSession(QNetworkReply *reply)
{
    const QJsonDocument document = parse(reply->readAll());
    emit sessionDownloadReply(reply->property("patientID").toString().toInt(),
                              reply->property("sessionID").toString().toInt(), document,
                              reply->property("silently").toBool());
}

void ServerVisualizer::downloadImage(int patientID, int sessionID, QString filename, QString url,
                                     QString type)
{
    getRequest(QUrl(url), kS3, QStringLiteral("downloadImage"),
               {{QStringLiteral("filename"), filename},
                {QStringLiteral("patientID"), QString::number(patientID)},
                {QStringLiteral("type"), type},
                {QStringLiteral("sessionID"), QString::number(sessionID)}});
}

int ServerVisualizer::imageQuality(QString &filename)
{
    int code = 1;
    if (filename.endsWith(QLatin1String("l.jpg"))) {
        filename.chop(5);
        filename += QLatin1String(".jpg");
        code = 0;
    }
    if (filename.endsWith(QLatin1String("e.jpg")))
        code = -4;
    else if (filename.endsWith(QLatin1String("m.jpg")))
        code = -3;
    else if (filename.endsWith(QLatin1String("s.jpg")))
        code = -2;
    return code;
}

void ServerVisualizer::replyDownloadImage(QNetworkReply *reply)
{
    QString filename = reply->property("filename").toString();
    const int code = imageQuality(filename);
    emit imgDownloadDone(reply->property("patientID").toString().toInt(),
                         reply->property("sessionID").toString().toInt(), filename, reply->readAll(),
                         reply->property("type").toString(), code);
}

// --- small replies of other exchanges ---------------------------------------------------

void ServerVisualizer::replyReportTemplateList(QNetworkReply *reply)
{
    emit receivedReportTemplateList(parse(reply->readAll()));
}

void ServerVisualizer::replyReportTemplate(QNetworkReply *reply)
{
    emit recievedReportTemplate(parse(reply->readAll()));
}

void ServerVisualizer::replyReportUploaded(QNetworkReply *)
{
    emit reportUploaded();
}

// --- session upload ----------------------------------------------------------------------

void ServerVisualizer::setRetryDelays(int firstMilliseconds, int maxMilliseconds)
{
    m_retryFirstMs = std::max(1, firstMilliseconds);
    m_retryMaxMs = std::max(m_retryFirstMs, maxMilliseconds);
}

void ServerVisualizer::queueUpload(UploadJob job)
{
    if (sessionToken.isEmpty()) {
        trace(QStringLiteral("Upload: not logged in, the job is not queued"));
        return;
    }
    job.serial = ++m_lastUploadSerial;
    job.jsonTarget = QJsonObject();
    job.imageDone = false;
    uploadQueue.push_back(std::move(job));
    // Only the first job starts here; the others start when the one before
    // them is stored. Decided before any signal goes out, so that a slot
    // queueing another job meanwhile cannot leave this one unstarted.
    if (uploadQueue.size() == 1 && !uploadInFlight)
        assignExternal();
    emit uploadQueueChanged(uploadQueueSize());
}

void ServerVisualizer::dropUploads()
{
    m_uploadRetryTimer.stop();
    const bool hadJobs = !uploadQueue.empty();
    {
        std::lock_guard<std::mutex> lock(uploadMutex);
        uploadQueue.clear();
    }
    // Whatever is still on its way belongs to no job any more.
    ++m_uploadAttempt;
    uploadInFlight = false;
    m_uploadFailures = 0;
    m_unsavedNoticeShown = false;
    progressCounter = 0;
    std::vector<QPointer<QNetworkReply>> replies;
    replies.swap(m_uploadReplies);
    for (const QPointer<QNetworkReply> &reply : replies)
        if (reply && reply->isRunning())
            reply->abort();
    if (hadJobs) {
        trace(QStringLiteral("Upload: queued jobs dropped"));
        emit uploadQueueChanged(0);
    }
}

void ServerVisualizer::tagUpload(QNetworkReply *reply)
{
    reply->setProperty("uploadJob", uploadQueue.front().serial);
    reply->setProperty("uploadAttempt", m_uploadAttempt);
    m_uploadReplies.erase(std::remove_if(m_uploadReplies.begin(), m_uploadReplies.end(),
                                         [](const QPointer<QNetworkReply> &r) { return r.isNull(); }),
                          m_uploadReplies.end());
    m_uploadReplies.emplace_back(reply);
}

bool ServerVisualizer::isCurrentUpload(quint64 serial, int attempt) const
{
    return uploadInFlight && !uploadQueue.empty() && uploadQueue.front().serial == serial &&
           attempt == m_uploadAttempt;
}

bool ServerVisualizer::isCurrentUpload(const QNetworkReply *reply) const
{
    const QVariant serial = reply->property("uploadJob");
    return serial.isValid() &&
           isCurrentUpload(serial.toULongLong(), reply->property("uploadAttempt").toInt());
}

void ServerVisualizer::assignExternal()
{
    if (uploadQueue.empty())
        return;
    m_uploadRetryTimer.stop();
    ++m_uploadAttempt;
    uploadInFlight = true;
    UploadJob &job = uploadQueue.front();
    job.jsonTarget = QJsonObject();
    {
        std::lock_guard<std::mutex> lock(uploadMutex);
        job.imageDone = false;
    }
    const QString path = QStringLiteral("/api/patients/") + QString::number(job.patientId) +
                         QStringLiteral("/sessions/") + QString::number(job.sessionId) +
                         QStringLiteral("/assign_external/");
    const QJsonObject body{{QStringLiteral("filename"), job.fileName},
                           {QStringLiteral("type"), QString(QLatin1Char(job.type))}};
    // No cancelDownload(): leaving a view must not stop a save.
    QNetworkReply *reply = send("POST", jsonRequest(path, true), jsonBody(body), kEc2,
                                QStringLiteral("assignExternalDermato"), {}, TraceErrors);
    tagUpload(reply);
    progressCounter = 0;
    emit setMaximumProgressBar(job.steps());
}

void ServerVisualizer::replyAssignExternal(QNetworkReply *reply)
{
    if (!isCurrentUpload(reply)) {
        trace(QStringLiteral("Upload: an answer of an earlier attempt is ignored"));
        return;
    }
    ++progressCounter;
    emit setValueProgressBar(progressCounter);

    // Anything short of a usable document target is a failed attempt, never
    // a job left waiting for ever with every later save behind it.
    const QJsonDocument document = parse(reply->readAll());
    if (!document.isObject()) {
        uploadAttemptFailed(QStringLiteral("the upload answer is not a JSON object"), false);
        return;
    }
    const QJsonObject answer = document.object();
    const QJsonValue json = answer.value(QStringLiteral("json"));
    if (!json.isObject() || !json.toObject().contains(QStringLiteral("fields"))) {
        uploadAttemptFailed(QStringLiteral("the upload answer has no usable document target"), false);
        return;
    }
    UploadJob &job = uploadQueue.front();
    job.jsonTarget = json.toObject();
    if (!answer.contains(QStringLiteral("file"))) {
        std::lock_guard<std::mutex> lock(uploadMutex);
        job.imageDone = true;
    } else {
        const QJsonObject file = answer.value(QStringLiteral("file")).toObject();
        if (!file.contains(QStringLiteral("fields"))) {
            uploadAttemptFailed(QStringLiteral("the upload answer has no usable image target"), false);
            return;
        }
        sendUploadImage(QUrl(file.value(QStringLiteral("url")).toString()));
        return;
    }
    bool imageDone = false;
    {
        std::lock_guard<std::mutex> lock(uploadMutex);
        imageDone = job.imageDone;
    }
    if (imageDone)
        sendUploadDocument();
}

void ServerVisualizer::sendUploadImage(const QUrl &url)
{
    UploadJob &job = uploadQueue.front();
    const quint64 serial = job.serial;
    const int attempt = m_uploadAttempt;
    auto put = [this, url, serial, attempt](const QByteArray &jpeg) {
        if (!isCurrentUpload(serial, attempt))
            return;
        UploadJob &head = uploadQueue.front();
        head.encodedImage = jpeg;
        if (jpeg.isEmpty()) {
            // Nothing to send: the document still goes, rather than every
            // later save waiting behind an image that cannot be made.
            trace(QStringLiteral("Upload: the job's image could not be encoded; only the document is sent"));
            {
                std::lock_guard<std::mutex> lock(uploadMutex);
                head.imageDone = true;
            }
            sendUploadDocument();
            return;
        }
        tagUpload(sendPut(url, jpeg, QStringLiteral("big"), QStringLiteral("post")));
    };
    if (!job.encodedImage.isEmpty()) {
        put(job.encodedImage);
        return;
    }
    // Encoding a large picture takes a while: not on the GUI thread.
    QtConcurrent::run([image = job.image]() {
        QByteArray bytes;
        if (image.isNull())
            return bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "JPG"))
            bytes.clear();
        return bytes;
    }).then(this, put);
}

void ServerVisualizer::sendUploadDocument()
{
    const UploadJob &job = uploadQueue.front();
    const QByteArray document = job.sessionJson.toJson(QJsonDocument::Indented);
    tagUpload(sendPut(QUrl(job.jsonTarget.value(QStringLiteral("url")).toString()), document,
                      QStringLiteral("json"), QStringLiteral("post")));
}

void ServerVisualizer::replyUploadPut(QNetworkReply *reply)
{
    if (!isCurrentUpload(reply)) {
        if (reply->property("uploadJob").isValid())
            trace(QStringLiteral("Upload: an answer of an earlier attempt is ignored"));
        return;
    }
    ++progressCounter;
    emit setValueProgressBar(progressCounter);
    const QString id = reply->property("id").toString();
    if (id == QLatin1String("big")) {
        {
            std::lock_guard<std::mutex> lock(uploadMutex);
            uploadQueue.front().imageDone = true;
        }
        // The document goes only after the image is stored, never beside it.
        sendUploadDocument();
        return;
    }
    if (id != QLatin1String("json"))
        return;

    // The document is stored: only now is the job done.
    {
        std::lock_guard<std::mutex> lock(uploadMutex);
        uploadQueue.pop_front();
    }
    uploadInFlight = false;
    m_uploadFailures = 0;
    emit allDoneProgressBar();
    emit uploadQueueChanged(uploadQueueSize());
    // A slot of those signals may have queued (and so started) a job.
    if (!uploadQueue.empty()) {
        if (!uploadInFlight)
            assignExternal();
    } else if (m_unsavedNoticeShown) {
        m_unsavedNoticeShown = false;
        emit uploadNotice(tr("All changes saved"));
    }
}

void ServerVisualizer::uploadAttemptFailed(const QString &why, bool storage)
{
    // Whatever else this attempt still has on its way is stale from here on.
    ++m_uploadAttempt;
    uploadInFlight = false;
    if (storage)
        emit abortPostS3();
    ++m_uploadFailures;
    trace(QStringLiteral("Upload: ") + why + QStringLiteral(" (failure ") +
          QString::number(m_uploadFailures) + QLatin1Char(')'));
    // One pending restart at most.
    if (!m_uploadRetryTimer.isActive()) {
        qint64 delay = m_retryFirstMs;
        for (int i = 1; i < m_uploadFailures && delay < m_retryMaxMs; ++i)
            delay *= 2;
        const int delayMs = int(std::min<qint64>(delay, m_retryMaxMs));
        m_uploadRetryTimer.start(delayMs);
        emit uploadRetryScheduled(delayMs, m_uploadFailures);
    }
    // Told at the 3rd failure in a row, then every 10th, so that a long
    // outage is neither hidden nor repeated every few seconds.
    if (m_uploadFailures % 10 == 3) {
        m_unsavedNoticeShown = true;
        emit uploadNotice(tr("Changes not yet saved – retrying"));
    }
}

// --- reports ------------------------------------------------------------------------------

void ServerVisualizer::getReportTemplateList()
{
    getRequest(apiUrl(QStringLiteral("/api/me/reportTemplate/")), kEc2, QStringLiteral("getReportTemplate"));
}

void ServerVisualizer::getReportTemplate(QUrl url)
{
    getRequest(url, kS3, QStringLiteral("getReportTemplate"));
}

void ServerVisualizer::uploadReport(int patientID, int sessionID, QByteArray pdf)
{
    QNetworkRequest request(apiUrl(QStringLiteral("/api/patients/") + QString::number(patientID) +
                                   QStringLiteral("/sessions/") + QString::number(sessionID) +
                                   QStringLiteral("/reports/")));
    request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
    QNetworkReply *reply =
        send("POST", request, {}, kEc2, QStringLiteral("uploadReport"), {}, CancelDownload | TraceErrors);
    // The PDF travels with its own request: a second upload started before this
    // target arrives must not replace it.
    reply->setProperty("reportPdf", pdf);
}

void ServerVisualizer::replyReportUploadTarget(QNetworkReply *reply)
{
    const QUrl target = ServerReplies::reportUploadTarget(reply->readAll());
    if (target.isEmpty()) {
        trace(QStringLiteral("uploadReport: the answer holds no upload target"));
        emit reportUploadFailed(tr("The report could not be uploaded"));
        return;
    }
    putFile(target, reply->property("reportPdf").toByteArray(), QStringLiteral("application/pdf"),
            QStringLiteral("uploadReport"));
}

void ServerVisualizer::getReport(int patientID)
{
    QNetworkRequest request(
        apiUrl(QStringLiteral("/api/patients/") + QString::number(patientID) + QStringLiteral("/reports/")));
    request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
    send("GET", request, {}, kEc2, QStringLiteral("getReport"), {}, CancelDownload | TraceErrors);
}

void ServerVisualizer::replyReportList(QNetworkReply *reply)
{
    const auto reports = ServerReplies::reportList(reply->readAll(), baseUrl);
    if (!reports) {
        trace(QStringLiteral("[ERROR] ServerVisualizer::replyFinishedEc2getReport"));
        emit reportRequestFailed(tr("The report list could not be read"));
        return;
    }
    emit reportsListRecieved(*reports);
}
