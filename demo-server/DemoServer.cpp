#include "demo-server/DemoServer.h"

#include "demo-server/DemoAuth.h"
#include "demo-server/DemoControl.h"
#include "demo-server/DemoDatabase.h"
#include "demo-server/DemoLinks.h"
#include "demo-server/DemoObjects.h"
#include "demo-server/DemoPatients.h"
#include "demo-server/DemoReports.h"
#include "demo-server/DemoSessions.h"
#include "demo-server/DemoStorage.h"
#include "demo-server/DemoSync.h"
#include "demo-server/HttpExchange.h"
#include "demo-server/SampleData.h"
#include "demo-server/UrlSigner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Headers = std::vector<std::pair<QByteArray, QByteArray>>;

constexpr qint64 apiBodyLimit = 1 << 20; // JSON requests
// Bodies up to these sizes are read and answered with a 413 by the handlers;
// beyond them the connection is refused as soon as the size is known.
constexpr qint64 apiConnectionLimit = 16ll << 20;
constexpr qint64 storageConnectionLimit = DemoObjects::bodyLimit + (1 << 20);

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

QString randomHex(int bytes)
{
    QByteArray random(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(random.data()),
                                         reinterpret_cast<quint32 *>(random.data() + bytes));
    return QString::fromLatin1(random.toHex());
}

} // namespace

class DemoServer::Private
{
public:
    enum class Access
    {
        None,
        Pending,
        Any,
        Doctor,
        Admin,
        Loopback
    };

    struct Route
    {
        QString method;
        QRegularExpression pattern;
        QString group;
        Access access;
        std::function<void(const ExchangePtr &, const QStringList &, const DemoAuth::Identity &)> handler;
    };

    explicit Private(DemoServer *q, const Options &o);

    DemoServer *q;
    Options options;
    QString error;
    QString dataDir;
    std::unique_ptr<DemoDatabase> db;
    std::unique_ptr<DemoStorage> storage;
    std::unique_ptr<DemoAuth> auth;
    std::unique_ptr<DemoSync> sync;
    // The handlers by area, made afresh with the data they serve.
    std::unique_ptr<DemoLinks> links;
    std::unique_ptr<DemoPatients> patients;
    std::unique_ptr<DemoSessions> sessions;
    std::unique_ptr<DemoObjects> objects;
    std::unique_ptr<DemoReports> reports;
    // Lives as long as the server: a reset through it replaces the others.
    std::unique_ptr<DemoControl> control;
    std::unique_ptr<QHttpServer> http;
    QPointer<QSslServer> tls;
    UrlSigner signer;
    DemoFaults faults;
    std::vector<Route> routes;
    std::vector<ExchangePtr> hung;
    QTimer reaper;
    QList<Upload> uploadLog;
    quint16 listeningPort = 0;

    // set-up
    bool openData();
    bool generate();
    bool addLargeExamination();
    // Adds one patient of an extended sample set with its sessions, and
    // marks the data folder with metaKey.
    bool addExamination(const SampleData &sample, int patientId, const QString &metaKey);
    void closeData();
    bool listen();
    void addRoutes();
    void
    route(const QString &method, const QString &pattern, const QString &group, Access access,
          std::function<void(const ExchangePtr &, const QStringList &, const DemoAuth::Identity &)> handler);
    void guardSocket(QSslSocket *socket);
    void reapHung();

    // requests
    void handle(const ExchangePtr &exchange);
    void run(const ExchangePtr &exchange, const Route &route, const QStringList &captures);
    void finished(HttpExchange &exchange, int status, const QString &note);
    QString base() const { return QStringLiteral("https://127.0.0.1:%1").arg(listeningPort); }
};

DemoServer::Private::Private(DemoServer *owner, const Options &o)
    : q(owner), options(o), control(std::make_unique<DemoControl>(*owner, faults))
{
}

// ---------------------------------------------------------------- set-up

bool DemoServer::Private::openData()
{
    dataDir = options.dataDir.isEmpty() ? DemoServer::defaultDataDir() : options.dataDir;
    dataDir = QDir(dataDir).absolutePath();
    if (!QDir().mkpath(dataDir)) {
        error = QStringLiteral("cannot make the data folder %1").arg(dataDir);
        return false;
    }
    const QString dbFile = dataDir + QStringLiteral("/demo.sqlite");
    if (options.reset) {
        for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
            QFile::remove(dbFile + suffix);
        QDir(dataDir + QStringLiteral("/objects")).removeRecursively();
        QFile::remove(dataDir + QStringLiteral("/outbox.txt"));
    }
    db = std::make_unique<DemoDatabase>(dbFile);
    if (!db->open(&error)) {
        error = QStringLiteral("cannot open %1: %2").arg(dbFile, error);
        return false;
    }
    storage = std::make_unique<DemoStorage>(dataDir + QStringLiteral("/objects"), options.small);
    DemoAuth::Settings authSettings;
    authSettings.tokenIdleSeconds = options.tokenLifetimeSeconds;
    authSettings.tokenAbsoluteSeconds = std::max(options.tokenLifetimeSeconds, 12 * 3600);
    authSettings.mailCodeSeconds = options.mailCodeLifetimeSeconds;
    authSettings.outboxFile = dataDir + QStringLiteral("/outbox.txt");
    authSettings.log = options.logRequests;
    authSettings.attemptTableSize = std::max(1, options.loginAttemptTableSize);
    auth = std::make_unique<DemoAuth>(*db, authSettings);

    if (db->meta(QStringLiteral("generator")).isEmpty()) {
        if (!generate())
            return false;
    } else {
        if (db->meta(QStringLiteral("generator")).toInt() != SampleData::generatorVersion &&
            options.logRequests)
            std::fprintf(stdout, "demo-server: the data folder was made by another version of the "
                                 "sample generator; start with --reset to make it afresh\n");
        const bool storedSmall = db->meta(QStringLiteral("small")) == QLatin1String("1");
        if (storedSmall != options.small && options.logRequests)
            std::fprintf(stdout, "demo-server: the data folder holds %s pictures; --reset to change\n",
                         storedSmall ? "small" : "full-size");
        storage->setSmall(storedSmall);
    }
    if (options.largeExamination && db->meta(QStringLiteral("large")) != QLatin1String("1") &&
        !addLargeExamination())
        return false;
    storage->setLarge(db->meta(QStringLiteral("large")) == QLatin1String("1"));
    if (options.versionsExamination && db->meta(QStringLiteral("versions")) != QLatin1String("1") &&
        !addExamination(SampleData::instance(false, true), SampleData::versionsPatientId,
                        QStringLiteral("versions")))
        return false;
    storage->setVersions(db->meta(QStringLiteral("versions")) == QLatin1String("1"));
    signer.setSecret(QByteArray::fromHex(db->meta(QStringLiteral("secret")).toLatin1()));

    DemoSync::Settings syncSettings;
    syncSettings.phone = options.phone;
    syncSettings.joinDelayMs = options.phoneJoinDelayMs;
    syncSettings.captureDelayMs = options.phoneCaptureDelayMs;
    syncSettings.uploadDelayMs = options.phoneUploadDelayMs;
    syncSettings.urlLifetimeSeconds = options.urlLifetimeSeconds;
    sync = std::make_unique<DemoSync>(
        *db, *storage, signer, [this] { return base(); }, syncSettings);
    links = std::make_unique<DemoLinks>(
        *db, signer, [this] { return base(); }, options.urlLifetimeSeconds);
    patients = std::make_unique<DemoPatients>(*db, [this] { return base(); });
    sessions = std::make_unique<DemoSessions>(*db, *links);
    objects = std::make_unique<DemoObjects>(*db, *storage, signer, uploadLog, q);
    reports = std::make_unique<DemoReports>(*db, *storage, signer, *links, *objects);
    if (options.warmUp)
        storage->startWarmUp();
    return true;
}

bool DemoServer::Private::generate()
{
    const SampleData &sample = SampleData::instance();
    db->transaction();
    bool ok =
        db->setMeta(QStringLiteral("secret"), randomHex(32)) &&
        db->setMeta(QStringLiteral("small"), options.small ? QStringLiteral("1") : QStringLiteral("0")) &&
        db->setMeta(QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)) &&
        auth->createAccounts();
    for (const SampleData::Patient &p : sample.patients) {
        ok = ok && db->exec(QStringLiteral("INSERT INTO patients(id, center_id, first_name, last_name, tag, "
                                           "birthdate, email, created) VALUES(?, ?, ?, ?, ?, ?, ?, ?)"),
                            {p.id, p.centerId, p.firstName, p.lastName,
                             p.tag.isEmpty() ? QVariant() : QVariant(p.tag),
                             p.birthdate.isEmpty() ? QVariant() : QVariant(p.birthdate), p.email, now()});
    }
    for (const auto &entry : sample.sessions) {
        const SampleData::Session &s = entry.second;
        ok =
            ok && db->exec(QStringLiteral(
                               "INSERT INTO sessions(id, patient_id, date, has_document) VALUES(?, ?, ?, ?)"),
                           {s.id, s.patientId, s.date.toString(Qt::ISODateWithMs), s.hasDocument ? 1 : 0});
        if (ok && s.hasDocument)
            ok = storage->write(QStringLiteral("sessions/%1/%2/session.json").arg(s.patientId).arg(s.id),
                                QJsonDocument(s.document).toJson(QJsonDocument::Indented));
    }
    QStringList clinics;
    for (const SampleData::Template &t : sample.templates) {
        if (!clinics.contains(t.clinic))
            clinics << t.clinic;
        const QString object = QStringLiteral("templates/clinic%1/template%2.json")
                                   .arg(clinics.indexOf(t.clinic) + 1)
                                   .arg(&t - sample.templates.data() + 1);
        ok =
            ok && storage->write(object, QJsonDocument(t.document).toJson(QJsonDocument::Indented)) &&
            db->exec(QStringLiteral("INSERT INTO report_templates(clinic, filename, object) VALUES(?, ?, ?)"),
                     {t.clinic, t.filename, object});
    }
    for (const SampleData::Report &r : sample.reports) {
        qint64 id = 0;
        ok = ok && db->exec(QStringLiteral(
                                "INSERT INTO reports(patient_id, session_id, date, object, state, username) "
                                "VALUES(?, ?, ?, '', 'stored', 'doctor')"),
                            {r.patientId, r.sessionId, r.date.toString(Qt::ISODate)}, &id);
        const QString object =
            QStringLiteral("reports/%1/%2/%3.pdf").arg(r.patientId).arg(r.sessionId).arg(id);
        const SampleData::Session *s = sample.session(r.sessionId);
        ok = ok &&
             storage->write(object,
                            DemoReports::simplePdf(
                                {QStringLiteral("Skin examination report"), QString(),
                                 QStringLiteral("Report date: %1").arg(r.date.toString(Qt::ISODate)),
                                 QStringLiteral("Session date: %1").arg(s->date.date().toString(Qt::ISODate)),
                                 QStringLiteral("Sample report of the demonstration server.")})) &&
             db->exec(QStringLiteral("UPDATE reports SET object = ? WHERE id = ?"), {object, id});
    }
    ok = ok && db->setMeta(QStringLiteral("generator"), QString::number(SampleData::generatorVersion));
    if (!ok) {
        error = QStringLiteral("cannot make the sample data: %1").arg(db->lastError());
        db->rollback();
        return false;
    }
    db->commit();
    return true;
}

bool DemoServer::Private::addLargeExamination()
{
    return addExamination(SampleData::instance(true), SampleData::largePatientId, QStringLiteral("large"));
}

bool DemoServer::Private::addExamination(const SampleData &sample, int patientId, const QString &metaKey)
{
    const SampleData::Patient *p = sample.patient(patientId);
    if (!p) {
        error = QStringLiteral("no patient %1 in the sample data").arg(patientId);
        return false;
    }
    db->transaction();
    bool ok =
        db->exec(QStringLiteral("INSERT INTO patients(id, center_id, first_name, last_name, tag, "
                                "birthdate, email, created) VALUES(?, ?, ?, ?, ?, ?, ?, ?)"),
                 {p->id, p->centerId, p->firstName, p->lastName, p->tag, p->birthdate, p->email, now()});
    for (int id : p->sessions) {
        const SampleData::Session *s = sample.session(id);
        ok = ok && s &&
             db->exec(QStringLiteral(
                          "INSERT INTO sessions(id, patient_id, date, has_document) VALUES(?, ?, ?, 1)"),
                      {s->id, s->patientId, s->date.toString(Qt::ISODateWithMs)}) &&
             storage->write(QStringLiteral("sessions/%1/%2/session.json").arg(s->patientId).arg(s->id),
                            QJsonDocument(s->document).toJson(QJsonDocument::Indented));
    }
    ok = ok && db->setMeta(metaKey, QStringLiteral("1"));
    if (!ok) {
        error = QStringLiteral("cannot add patient %1: %2").arg(patientId).arg(db->lastError());
        db->rollback();
        return false;
    }
    db->commit();
    return true;
}

void DemoServer::Private::closeData()
{
    for (const ExchangePtr &e : hung)
        e->abandon(QStringLiteral("server stopped"));
    hung.clear();
    if (sync)
        sync->stopAll();
    if (storage) {
        storage->stopWarmUp();
        storage->waitForJobs();
    }
    reports.reset();
    objects.reset();
    sessions.reset();
    patients.reset();
    links.reset();
    sync.reset();
    auth.reset();
    storage.reset();
    db.reset();
}

bool DemoServer::Private::listen()
{
    const QString certDir = options.certDir.isEmpty() ? QStringLiteral(DEMOSERVER_CERT_DIR) : options.certDir;
    QFile certFile(certDir + QStringLiteral("/server.pem"));
    QFile keyFile(certDir + QStringLiteral("/server.key"));
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the server certificate and key in %1").arg(certDir);
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.readAll());
    QSslKey key(keyFile.readAll(), QSsl::Ec);
    if (key.isNull()) {
        keyFile.seek(0);
        key = QSslKey(keyFile.readAll(), QSsl::Rsa);
    }
    if (chain.isEmpty() || key.isNull()) {
        error = QStringLiteral("the server certificate or key in %1 is not valid").arg(certDir);
        return false;
    }
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setLocalCertificateChain(chain);
    conf.setPrivateKey(key);
    conf.setProtocol(QSsl::TlsV1_2OrLater);
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);
    // This server speaks HTTP/1.1 only; clients must not pick HTTP/2.
    conf.setAllowedNextProtocols({QSslConfiguration::NextProtocolHttp1_1});

    http = std::make_unique<QHttpServer>();
    auto *server = new QSslServer;
    server->setSslConfiguration(conf);
    QObject::connect(server, &QSslServer::startedEncryptionHandshake, q,
                     [this](QSslSocket *socket) { guardSocket(socket); });
    if (!server->listen(QHostAddress::LocalHost, options.port)) {
        error =
            QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(options.port).arg(server->errorString());
        delete server;
        http.reset();
        return false;
    }
    tls = server;
    http->bind(server);
    listeningPort = server->serverPort();
    http->setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        auto exchange = std::make_shared<HttpExchange>(request, std::move(responder));
        handle(exchange);
    });
    return true;
}

// Refuses bodies above the limit before they are read whole: the request
// line and Content-Length are looked at as soon as they arrive.
void DemoServer::Private::guardSocket(QSslSocket *socket)
{
    QObject::connect(socket, &QSslSocket::readyRead, socket, [socket] {
        if (socket->property("demoRejected").toBool())
            return;
        qint64 seen = socket->property("demoSeen").toLongLong();
        qint64 limit = socket->property("demoLimit").toLongLong();
        if (seen == 0) {
            const QByteArray head = socket->peek(16384);
            const qsizetype lineEnd = head.indexOf("\r\n");
            const QByteArray line = lineEnd < 0 ? head : head.left(lineEnd);
            limit = line.startsWith("PUT /storage/") ? storageConnectionLimit : apiConnectionLimit;
            socket->setProperty("demoLimit", limit);
            static const QRegularExpression length(QStringLiteral("\r\ncontent-length:\\s*(\\d+)"),
                                                   QRegularExpression::CaseInsensitiveOption);
            const qsizetype headerEnd = head.indexOf("\r\n\r\n");
            const QRegularExpressionMatch m =
                length.match(QString::fromLatin1(headerEnd < 0 ? head : head.left(headerEnd)));
            if (m.hasMatch() && m.captured(1).toLongLong() > limit)
                socket->setProperty("demoTooLarge", true);
        }
        seen += socket->bytesAvailable();
        socket->setProperty("demoSeen", seen);
        // The allowance above the limit is for the request line and headers.
        if (socket->property("demoTooLarge").toBool() || seen > limit + 65536) {
            socket->setProperty("demoRejected", true);
            const QByteArray body =
                QJsonDocument(HttpExchange::errorBody(413, QStringLiteral("too_large"),
                                                      QStringLiteral("The request body is too large.")))
                    .toJson(QJsonDocument::Compact);
            socket->write(
                "HTTP/1.1 413 Payload Too Large\r\nContent-Type: application/json\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        }
    });
}

void DemoServer::Private::route(
    const QString &method, const QString &pattern, const QString &group, Access access,
    std::function<void(const ExchangePtr &, const QStringList &, const DemoAuth::Identity &)> h)
{
    routes.push_back({method, QRegularExpression(QLatin1Char('^') + pattern + QLatin1Char('$')), group,
                      access, std::move(h)});
}

void DemoServer::Private::addRoutes()
{
    using A = Access;
    using I = DemoAuth::Identity;
    const QString num = QStringLiteral("(\\d{1,9})");
    const QString patientSession =
        QStringLiteral("/api/patients/") + num + QStringLiteral("/sessions/") + num;

    route("GET", "/api/server/([^/]{1,100})/?", "directory", A::None,
          [this](auto &e, auto &c, auto &) { patients->directory(e, c); });

    route("POST", "/api-auth/app/v1/auth/login/?", "auth", A::None,
          [this](auto &e, auto &, auto &) { auth->login(e); });
    route("POST", "/api-auth/app/v1/auth/2fa/authenticate/?", "auth", A::Pending,
          [this](auto &e, auto &, const I &who) { auth->authenticateTotp(e, who); });
    route("POST", "/api-auth/app/v1/auth/code/confirm/?", "auth", A::Pending,
          [this](auto &e, auto &, const I &who) { auth->confirmMailCode(e, who); });

    route("GET", "/api/me/", "patients", A::Any,
          [this](auto &e, auto &, const I &who) { patients->me(e, who); });
    route("GET", "/api/me/reportTemplate/", "reports", A::Doctor,
          [this](auto &e, auto &, auto &) { reports->templates(e); });
    route("GET", "/api/patients/", "patients", A::Doctor,
          [this](auto &e, auto &, auto &) { patients->listPatients(e); });
    route("POST", "/api/patients/", "patients", A::Admin,
          [this](auto &e, auto &, auto &) { patients->registerPatient(e); });
    route("GET", "/api/patients/" + num + "/json/", "sessions", A::Doctor,
          [this](auto &e, auto &c, auto &) { sessions->sessionList(e, c); });
    route("GET", patientSession + "/((?:dermatoscopic|clinical)/(?:([^/]{1,200}))?)?", "sessions", A::Doctor,
          [this](auto &e, auto &c, auto &) { sessions->sessionListing(e, c); });
    route("POST", patientSession + "/assign_external/", "assign", A::Doctor,
          [this](auto &e, auto &c, const I &who) { sessions->assignExternal(e, c, who); });
    route("POST", patientSession + "/reports/", "reports", A::Doctor,
          [this](auto &e, auto &c, const I &who) { reports->newReport(e, c, who); });
    route("GET", "/api/patients/" + num + "/reports/", "reports", A::Doctor,
          [this](auto &e, auto &c, auto &) { reports->reportList(e, c); });

    const QString syncId = QStringLiteral("([0-9a-f]{1,64})");
    const QString name = QStringLiteral("([A-Za-z0-9_-]{1,64})");
    route("POST", "/api/sync/", "sync", A::Doctor,
          [this](auto &e, auto &, const I &who) { sync->create(e, who); });
    route("GET", "/api/sync/" + syncId + "/", "sync", A::Doctor,
          [this](auto &e, auto &c, const I &who) { sync->status(e, who, c[1]); });
    route("POST", "/api/sync/" + syncId + "/manuals/", "sync", A::Doctor,
          [this](auto &e, auto &c, const I &who) { sync->request(e, who, c[1]); });
    route("DELETE", "/api/sync/" + syncId + "/manuals/cancel/", "sync", A::Doctor,
          [this](auto &e, auto &c, const I &who) { sync->cancel(e, who, c[1]); });
    route("GET", "/api/sync/" + syncId + "/manuals/" + name + "/", "sync", A::Doctor,
          [this](auto &e, auto &c, const I &who) { sync->image(e, who, c[1], c[2]); });
    route("PUT", "/api/sync/" + syncId + "/manuals/" + name + "/retake/", "sync", A::Doctor,
          [this](auto &e, auto &c, const I &who) { sync->retake(e, who, c[1], c[2]); });
    route("GET", "/external/sync/?([^/]{0,64})/?", "sync", A::None,
          [this](auto &e, auto &c, auto &) { sync->pairingPage(e, c[1]); });

    route("GET", "/storage/(.{1,600})", "storage-get", A::None,
          [this](auto &e, auto &c, auto &) { objects->get(e, c); });
    route("PUT", "/storage/(.{1,600})", "storage-put", A::None,
          [this](auto &e, auto &c, auto &) { objects->put(e, c); });
    route("GET", "/getReport/(.{1,300})", "reports", A::None,
          [this](auto &e, auto &c, auto &) { reports->reportFile(e, c); });

    for (const char *m : {"GET", "POST", "DELETE"})
        route(m, "/control(/.*)?", QString(), A::Loopback,
              [this](auto &e, auto &c, auto &) { control->handle(e, c); });
}

// ---------------------------------------------------------------- dispatch

void DemoServer::Private::handle(const ExchangePtr &exchange)
{
    exchange->onFinished = [this](HttpExchange &e, int status, const QString &note) {
        finished(e, status, note);
    };
    if (exchange->refusedEarly()) {
        exchange->abandon(QStringLiteral("body too large"));
        return;
    }
    const Route *match = nullptr;
    QStringList captures;
    QStringList allowed;
    for (const Route &r : routes) {
        const QRegularExpressionMatch m = r.pattern.match(exchange->path);
        if (!m.hasMatch())
            continue;
        if (r.method != exchange->method) {
            if (!allowed.contains(r.method))
                allowed << r.method;
            continue;
        }
        match = &r;
        captures = m.capturedTexts();
        break;
    }
    if (!match) {
        if (!allowed.isEmpty())
            exchange->replyError(
                405, QStringLiteral("method_not_allowed"),
                QStringLiteral("%1 is not allowed here.").arg(exchange->method),
                {{QByteArrayLiteral("Allow"), allowed.join(QLatin1String(", ")).toLatin1()}});
        else
            exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such endpoint."));
        return;
    }
    const Route route = *match;
    const DemoFaults::Fault fault = route.group.isEmpty() ? DemoFaults::Fault() : faults.take(route.group);
    exchange->fault = fault;
    if (fault.hang) {
        // Held until its client gives up; after the request was carried out
        // when afterStore asks for it (the exchange then writes no answer).
        hung.push_back(exchange);
        if (options.logRequests) {
            std::fprintf(stdout, "%s %s hangs%s (injected)\n", qPrintable(exchange->method),
                         qPrintable(exchange->path), fault.afterStore ? " after carrying it out" : "");
            std::fflush(stdout);
        }
        if (!fault.afterStore)
            return;
    }
    auto go = [this, exchange, route, captures] {
        if (!exchange->clientConnected()) {
            exchange->abandon(QStringLiteral("client gone"));
            return;
        }
        if (exchange->fault.redirect) {
            exchange->replyBytes(
                302, QByteArrayLiteral("<html><body>Moved elsewhere.</body></html>"),
                QByteArrayLiteral("text/html"),
                {{QByteArrayLiteral("Location"), (base() + QStringLiteral("/moved")).toLatin1()}});
            return;
        }
        if (exchange->fault.failNext > 0 && !exchange->fault.afterStore) {
            std::vector<std::pair<QByteArray, QByteArray>> headers;
            if (exchange->fault.challenge)
                headers.emplace_back(QByteArrayLiteral("WWW-Authenticate"),
                                     QByteArrayLiteral("Basic realm=\"demo\""));
            exchange->replyError(exchange->fault.failStatus, QStringLiteral("injected_fault"),
                                 QStringLiteral("This failure was injected for a test."), headers);
            return;
        }
        run(exchange, route, captures);
    };
    if (fault.latencyMs > 0)
        QTimer::singleShot(fault.latencyMs, q, go);
    else
        go();
}

// Hung exchanges whose clients gave up are let go, whether or not another
// request arrives.
void DemoServer::Private::reapHung()
{
    hung.erase(std::remove_if(hung.begin(), hung.end(),
                              [](const ExchangePtr &e) {
                                  if (e->clientConnected())
                                      return false;
                                  e->abandon(QStringLiteral("client gone"));
                                  return true;
                              }),
               hung.end());
}

void DemoServer::Private::run(const ExchangePtr &exchange, const Route &route, const QStringList &captures)
{
    if (!patients && route.access != Access::Loopback) {
        // A reset that could not open the data leaves nothing to serve.
        exchange->replyError(503, QStringLiteral("unavailable"), QStringLiteral("The server has no data."));
        return;
    }
    const bool isStoragePut =
        exchange->method == QLatin1String("PUT") && route.group == QLatin1String("storage-put");
    if (!isStoragePut && exchange->body.size() > apiBodyLimit) {
        exchange->replyError(413, QStringLiteral("too_large"),
                             QStringLiteral("The request body is too large."));
        return;
    }
    DemoAuth::Identity identity;
    if (route.access == Access::Loopback) {
        if (!options.control) {
            exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such endpoint."));
            return;
        }
        if (!exchange->peer.isLoopback()) {
            exchange->replyError(403, QStringLiteral("forbidden"),
                                 QStringLiteral("Test controls answer on loopback only."));
            return;
        }
    } else if (route.access != Access::None) {
        DemoAuth::TokenState state;
        const auto who = auth->identify(exchange->header(QByteArrayLiteral("X-Session-Token")), &state);
        if (!who) {
            // 403 rather than 401: a 401 asks for a further login step.
            switch (state) {
            case DemoAuth::TokenState::Missing:
                exchange->replyError(403, QStringLiteral("not_authenticated"),
                                     QStringLiteral("Authentication credentials were not provided."));
                break;
            case DemoAuth::TokenState::Expired:
                exchange->replyError(403, QStringLiteral("token_expired"),
                                     QStringLiteral("The session has expired. Please log in again."));
                break;
            default:
                exchange->replyError(403, QStringLiteral("invalid_token"),
                                     QStringLiteral("The session token is not valid."));
                break;
            }
            return;
        }
        identity = *who;
        if (route.access == Access::Pending) {
            if (identity.stage != QLatin1String("pending")) {
                exchange->replyError(409, QStringLiteral("not_expected"),
                                     QStringLiteral("This login needs no further step."));
                return;
            }
        } else if (identity.stage != QLatin1String("full")) {
            QJsonArray flows;
            if (identity.secondFactor == QLatin1String("mail"))
                flows.append(QJsonObject{{QStringLiteral("id"), QStringLiteral("login_by_code")},
                                         {QStringLiteral("is_pending"), true}});
            else
                flows.append(QJsonObject{{QStringLiteral("id"), QStringLiteral("mfa_authenticate")}});
            QJsonObject body = HttpExchange::errorBody(401, QStringLiteral("login_step_required"),
                                                       QStringLiteral("Finish the login first."));
            body.insert(QStringLiteral("data"), QJsonObject{{QStringLiteral("flows"), flows}});
            exchange->replyJson(401, body);
            return;
        } else if ((route.access == Access::Doctor && !identity.doctor) ||
                   (route.access == Access::Admin && !identity.patientAdmin)) {
            exchange->replyError(403, QStringLiteral("permission_denied"),
                                 QStringLiteral("You do not have permission to perform this action."));
            return;
        }
    }
    route.handler(exchange, captures, identity);
}

void DemoServer::Private::finished(HttpExchange &exchange, int status, const QString &note)
{
    if (options.logRequests) {
        // Method, path without its query, status and time: never a token, a
        // password, a code or a signature.
        const QString line =
            QStringLiteral("%1 %2 %3 %4 ms%5")
                .arg(exchange.method, exchange.path,
                     status > 0 ? QString::number(status) : QStringLiteral("-"))
                .arg(exchange.elapsedMs())
                .arg(note.isEmpty() ? QString() : QStringLiteral(" (") + note + QLatin1Char(')'));
        std::fprintf(stdout, "%s\n", qPrintable(line));
        std::fflush(stdout);
    }
    emit q->requestFinished(exchange.method, exchange.path, status);
}

// ---------------------------------------------------------------- public

DemoServer::DemoServer(const Options &options, QObject *parent)
    : QObject(parent), d(std::make_unique<Private>(this, options))
{
    for (auto it = options.faults.begin(); it != options.faults.end(); ++it)
        d->faults.set(it.key(), it.value());
    d->addRoutes();
    d->reaper.setInterval(std::max(10, options.hungReapIntervalMs));
    QObject::connect(&d->reaper, &QTimer::timeout, this, [this] { d->reapHung(); });
}

DemoServer::~DemoServer()
{
    d->closeData();
    d->http.reset();
}

bool DemoServer::start()
{
    if (d->http) {
        d->error = QStringLiteral("already started");
        return false;
    }
    if (d->options.phone != QLatin1String("auto") && d->options.phone != QLatin1String("manual")) {
        d->error = QStringLiteral("the phone mode must be \"auto\" or \"manual\"");
        return false;
    }
    if (!d->openData() || !d->listen()) {
        d->closeData();
        return false;
    }
    d->reaper.start();
    return true;
}

QString DemoServer::errorString() const
{
    return d->error;
}

quint16 DemoServer::port() const
{
    return d->listeningPort;
}

QString DemoServer::baseUrl() const
{
    return d->base();
}

QString DemoServer::directoryUrl() const
{
    return d->base();
}

QString DemoServer::caCertificatePath()
{
    return QStringLiteral(DEMOSERVER_CERT_DIR "/ca.pem");
}

QString DemoServer::defaultDataDir()
{
    const QString env = qEnvironmentVariable("KELVARIS_DEMO_DATA");
    if (!env.isEmpty())
        return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/kelvaris-demo");
}

QStringList DemoServer::accountNames()
{
    QStringList names;
    for (const DemoAuth::Account &a : DemoAuth::accounts())
        names << a.username;
    return names;
}

QString DemoServer::password()
{
    return DemoAuth::password();
}

QString DemoServer::totpSecret()
{
    return DemoAuth::totpSecretBase32();
}

QString DemoServer::totpCode(const QString &username, qint64 unixTime)
{
    return DemoAuth::totpCode(username, unixTime);
}

QString DemoServer::lastMailedCode(const QString &username) const
{
    return d->auth ? d->auth->lastMailedCode(username) : QString();
}

QString DemoServer::currentTotpCode(const QString &username) const
{
    return d->auth ? d->auth->currentTotpCode(username) : QString();
}

QString DemoServer::freshTotpCode(const QString &username)
{
    return d->auth ? d->auth->freshTotpCode(username) : QString();
}

void DemoServer::setFault(const QString &group, const DemoFaults::Fault &fault)
{
    d->faults.set(group, fault);
}

void DemoServer::clearFaults(const QString &group)
{
    d->faults.clear(group);
}

DemoFaults::Fault DemoServer::fault(const QString &group) const
{
    return d->faults.get(group);
}

bool DemoServer::phoneJoin(const QString &syncId)
{
    return d->sync && d->sync->join(syncId);
}

bool DemoServer::phoneAdvance(const QString &syncId)
{
    return d->sync && d->sync->advance(syncId);
}

bool DemoServer::phoneFail(const QString &syncId)
{
    return d->sync && d->sync->fail(syncId);
}

bool DemoServer::phoneCancel(const QString &syncId)
{
    return d->sync && d->sync->cancelCurrent(syncId);
}

int DemoServer::phoneFinish(const QString &syncId)
{
    return d->sync ? d->sync->finish(syncId) : 0;
}

QJsonObject DemoServer::phoneState(const QString &syncId) const
{
    return d->sync ? d->sync->state(syncId) : QJsonObject();
}

QList<DemoServer::Upload> DemoServer::uploads() const
{
    return d->uploadLog;
}

QByteArray DemoServer::storedObject(const QString &object) const
{
    return d->storage ? d->storage->read(object) : QByteArray();
}

QList<QByteArray> DemoServer::storedHistory(const QString &object) const
{
    return d->storage ? d->storage->history(object) : QList<QByteArray>();
}

QString DemoServer::presignedUrl(const QString &method, const QString &object, qint64 expiresAt) const
{
    if (!d->links)
        return {};
    return d->links->signedUrl(method, object,
                               expiresAt > 0 ? std::optional<qint64>(expiresAt) : std::nullopt);
}

bool DemoServer::resetData()
{
    d->closeData();
    d->uploadLog.clear();
    d->faults.clear();
    const bool wasReset = d->options.reset;
    d->options.reset = true;
    const bool ok = d->openData();
    d->options.reset = wasReset;
    return ok;
}

int DemoServer::makeAllImages()
{
    return d->storage ? d->storage->makeAll() : 0;
}
