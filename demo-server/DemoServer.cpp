#include "demo-server/DemoServer.h"

#include "demo-server/DemoAuth.h"
#include "demo-server/DemoDatabase.h"
#include "demo-server/DemoStorage.h"
#include "demo-server/DemoSync.h"
#include "demo-server/HttpExchange.h"
#include "demo-server/SampleData.h"
#include "demo-server/UrlSigner.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QImageReader>
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

constexpr qint64 apiBodyLimit = 1 << 20;         // JSON requests
constexpr qint64 storageBodyLimit = 128ll << 20; // PUT of images, documents, reports
constexpr qint64 sessionDocumentLimit = 32ll << 20;
// Bodies up to these sizes are read and answered with a 413 by the handlers;
// beyond them the connection is refused as soon as the size is known.
constexpr qint64 apiConnectionLimit = 16ll << 20;
constexpr qint64 storageConnectionLimit = storageBodyLimit + (1 << 20);

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

std::optional<QJsonObject> jsonObject(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

QByteArray contentTypeOf(const QString &object)
{
    if (object.endsWith(QLatin1String(".jpg")))
        return QByteArrayLiteral("image/jpeg");
    if (object.endsWith(QLatin1String(".json")))
        return QByteArrayLiteral("application/json");
    if (object.endsWith(QLatin1String(".pdf")))
        return QByteArrayLiteral("application/pdf");
    return QByteArrayLiteral("application/octet-stream");
}

bool isJpeg(const QByteArray &bytes)
{
    if (!bytes.startsWith("\xFF\xD8\xFF"))
        return false;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    const QSize size = reader.size();
    return reader.canRead() && size.width() > 0 && size.height() > 0 && size.width() <= 30000 &&
           size.height() <= 30000;
}

// A small one-page PDF with lines of text, written by hand so that it needs
// no window system and stays the same from run to run.
QByteArray simplePdf(const QStringList &lines)
{
    QByteArray content = "BT /F1 14 Tf 56 780 Td 18 TL\n";
    for (const QString &line : lines) {
        QByteArray text = line.toLatin1();
        text.replace('\\', "\\\\").replace('(', "\\(").replace(')', "\\)");
        content += "(" + text + ") Tj T*\n";
    }
    content += "ET\n";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
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
    QString signedUrl(const QString &method, const QString &object, std::optional<qint64> expires = {}) const;
    QJsonObject uploadTarget(const QString &object, const QString &purpose, int patientId, int sessionId,
                             const QString &name, qint64 reportId, const QString &username, bool withFields);
    std::optional<QVariantMap> sessionOf(const ExchangePtr &exchange, const QString &patient,
                                         const QString &session);

    // handlers
    void directory(const ExchangePtr &, const QStringList &);
    void me(const ExchangePtr &, const DemoAuth::Identity &);
    void listPatients(const ExchangePtr &);
    void registerPatient(const ExchangePtr &);
    void sessionList(const ExchangePtr &, const QStringList &);
    void sessionListing(const ExchangePtr &, const QStringList &);
    void assignExternal(const ExchangePtr &, const QStringList &, const DemoAuth::Identity &);
    // Answers 403 and returns false unless the URL's signature covers this
    // method and path and has not expired.
    bool signatureValid(const ExchangePtr &, const QString &method, const QString &path);
    void storageGet(const ExchangePtr &, const QStringList &);
    void storagePut(const ExchangePtr &, const QStringList &);
    void templates(const ExchangePtr &);
    void newReport(const ExchangePtr &, const QStringList &, const DemoAuth::Identity &);
    void reportList(const ExchangePtr &, const QStringList &);
    void reportFile(const ExchangePtr &, const QStringList &);
    void control(const ExchangePtr &, const QStringList &);

    QJsonArray clinicalEntries(const QVariantMap &session, const QString &only, const QString &quality,
                               bool *found);
    QJsonArray dermatoscopicEntries(const QVariantMap &session, const QString &only, bool *found);
};

DemoServer::Private::Private(DemoServer *owner, const Options &o) : q(owner), options(o) {}

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
    signer.setSecret(QByteArray::fromHex(db->meta(QStringLiteral("secret")).toLatin1()));

    DemoSync::Settings syncSettings;
    syncSettings.phone = options.phone;
    syncSettings.joinDelayMs = options.phoneJoinDelayMs;
    syncSettings.captureDelayMs = options.phoneCaptureDelayMs;
    syncSettings.uploadDelayMs = options.phoneUploadDelayMs;
    syncSettings.urlLifetimeSeconds = options.urlLifetimeSeconds;
    sync = std::make_unique<DemoSync>(
        *db, *storage, signer, [this] { return base(); }, syncSettings);
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
             storage->write(
                 object,
                 simplePdf({QStringLiteral("Skin examination report"), QString(),
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
          [this](auto &e, auto &c, auto &) { directory(e, c); });

    route("POST", "/api-auth/app/v1/auth/login/?", "auth", A::None,
          [this](auto &e, auto &, auto &) { auth->login(e); });
    route("POST", "/api-auth/app/v1/auth/2fa/authenticate/?", "auth", A::Pending,
          [this](auto &e, auto &, const I &who) { auth->authenticateTotp(e, who); });
    route("POST", "/api-auth/app/v1/auth/code/confirm/?", "auth", A::Pending,
          [this](auto &e, auto &, const I &who) { auth->confirmMailCode(e, who); });

    route("GET", "/api/me/", "patients", A::Any, [this](auto &e, auto &, const I &who) { me(e, who); });
    route("GET", "/api/me/reportTemplate/", "reports", A::Doctor,
          [this](auto &e, auto &, auto &) { templates(e); });
    route("GET", "/api/patients/", "patients", A::Doctor,
          [this](auto &e, auto &, auto &) { listPatients(e); });
    route("POST", "/api/patients/", "patients", A::Admin,
          [this](auto &e, auto &, auto &) { registerPatient(e); });
    route("GET", "/api/patients/" + num + "/json/", "sessions", A::Doctor,
          [this](auto &e, auto &c, auto &) { sessionList(e, c); });
    route("GET", patientSession + "/((?:dermatoscopic|clinical)/(?:([^/]{1,200}))?)?", "sessions", A::Doctor,
          [this](auto &e, auto &c, auto &) { sessionListing(e, c); });
    route("POST", patientSession + "/assign_external/", "assign", A::Doctor,
          [this](auto &e, auto &c, const I &who) { assignExternal(e, c, who); });
    route("POST", patientSession + "/reports/", "reports", A::Doctor,
          [this](auto &e, auto &c, const I &who) { newReport(e, c, who); });
    route("GET", "/api/patients/" + num + "/reports/", "reports", A::Doctor,
          [this](auto &e, auto &c, auto &) { reportList(e, c); });

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
          [this](auto &e, auto &c, auto &) { storageGet(e, c); });
    route("PUT", "/storage/(.{1,600})", "storage-put", A::None,
          [this](auto &e, auto &c, auto &) { storagePut(e, c); });
    route("GET", "/getReport/(.{1,300})", "reports", A::None,
          [this](auto &e, auto &c, auto &) { reportFile(e, c); });

    for (const char *m : {"GET", "POST", "DELETE"})
        route(m, "/control(/.*)?", QString(), A::Loopback,
              [this](auto &e, auto &c, auto &) { control(e, c); });
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
        hung.push_back(exchange);
        if (options.logRequests) {
            std::fprintf(stdout, "%s %s hangs (injected)\n", qPrintable(exchange->method),
                         qPrintable(exchange->path));
            std::fflush(stdout);
        }
        return;
    }
    auto go = [this, exchange, route, captures] {
        if (!exchange->clientConnected()) {
            exchange->abandon(QStringLiteral("client gone"));
            return;
        }
        if (exchange->fault.redirect) {
            exchange->replyBytes(302, QByteArrayLiteral("<html><body>Moved elsewhere.</body></html>"),
                                 QByteArrayLiteral("text/html"),
                                 {{QByteArrayLiteral("Location"), (base() + QStringLiteral("/moved")).toLatin1()}});
            return;
        }
        if (exchange->fault.failNext > 0) {
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

QString DemoServer::Private::signedUrl(const QString &method, const QString &object,
                                       std::optional<qint64> expires) const
{
    const QString path = QStringLiteral("/storage/") + object;
    return base() + path + QLatin1Char('?') +
           signer.query(method, path, expires ? *expires : now() + options.urlLifetimeSeconds);
}

QJsonObject DemoServer::Private::uploadTarget(const QString &object, const QString &purpose, int patientId,
                                              int sessionId, const QString &name, qint64 reportId,
                                              const QString &username, bool withFields)
{
    const qint64 expires = now() + options.urlLifetimeSeconds;
    const QString path = QStringLiteral("/storage/") + object;
    db->exec(QStringLiteral("DELETE FROM upload_targets WHERE expires < ?"), {now()});
    db->exec(
        QStringLiteral("INSERT INTO upload_targets(object, expires, purpose, patient_id, session_id, name, "
                       "report_id, username, created) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        {object, expires, purpose, patientId, sessionId, name, reportId > 0 ? QVariant(reportId) : QVariant(),
         username, now()});
    QJsonObject target{{QStringLiteral("url"), base() + path + QLatin1Char('?') +
                                                   signer.query(QStringLiteral("PUT"), path, expires)}};
    if (withFields)
        target.insert(
            QStringLiteral("fields"),
            QJsonObject{{QStringLiteral("key"), object},
                        {QStringLiteral("expires"), QString::number(expires)},
                        {QStringLiteral("Content-Type"), QString::fromLatin1(contentTypeOf(object))}});
    return target;
}

std::optional<QVariantMap> DemoServer::Private::sessionOf(const ExchangePtr &exchange, const QString &patient,
                                                          const QString &session)
{
    const auto row = db->selectOne(QStringLiteral("SELECT * FROM sessions WHERE id = ? AND patient_id = ?"),
                                   {session.toInt(), patient.toInt()});
    if (!row)
        exchange->replyError(404, QStringLiteral("not_found"),
                             QStringLiteral("No such session of this patient."));
    return row;
}

// ---------------------------------------------------------------- handlers

void DemoServer::Private::directory(const ExchangePtr &exchange, const QStringList &c)
{
    if (c[1] != QLatin1String("demo")) {
        exchange->replyError(404, QStringLiteral("unknown_server"),
                             QStringLiteral("No server of that name is known."));
        return;
    }
    exchange->replyJson(200,
                        QJsonObject{{QStringLiteral("name"), c[1]}, {QStringLiteral("endpoint"), base()}});
}

void DemoServer::Private::me(const ExchangePtr &exchange, const DemoAuth::Identity &who)
{
    exchange->replyJson(200, QJsonObject{{QStringLiteral("username"), who.username},
                                         {QStringLiteral("name"), who.displayName},
                                         {QStringLiteral("email"), who.email},
                                         {QStringLiteral("isDoctor"), who.doctor},
                                         {QStringLiteral("isPatientAdmin"), who.patientAdmin}});
}

void DemoServer::Private::listPatients(const ExchangePtr &exchange)
{
    // The search text arrives percent-encoded; "+" stays a plus sign.
    const QString text = exchange->query.queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded).trimmed();
    QJsonArray results;
    for (const QVariantMap &p : db->select(QStringLiteral("SELECT * FROM patients ORDER BY id"))) {
        const QString name = p.value(QStringLiteral("first_name")).toString() + QLatin1Char(' ') +
                             p.value(QStringLiteral("last_name")).toString();
        const QString center = p.value(QStringLiteral("center_id")).toString();
        if (!text.isEmpty() && !center.contains(text, Qt::CaseInsensitive) &&
            !name.contains(text, Qt::CaseInsensitive))
            continue;
        QJsonObject entry{{QStringLiteral("patientID"), p.value(QStringLiteral("id")).toInt()},
                          {QStringLiteral("centerID"), center},
                          {QStringLiteral("name"), name}};
        if (!p.value(QStringLiteral("tag")).isNull())
            entry.insert(QStringLiteral("tag"), p.value(QStringLiteral("tag")).toString());
        if (!p.value(QStringLiteral("birthdate")).isNull())
            entry.insert(QStringLiteral("birthdate"), p.value(QStringLiteral("birthdate")).toString());
        entry.insert(QStringLiteral("email"), p.value(QStringLiteral("email")).toString());
        results.append(entry);
    }
    exchange->replyJson(200, QJsonObject{{QStringLiteral("count"), results.size()},
                                         {QStringLiteral("next"), QJsonValue::Null},
                                         {QStringLiteral("previous"), QJsonValue::Null},
                                         {QStringLiteral("results"), results}});
}

void DemoServer::Private::registerPatient(const ExchangePtr &exchange)
{
    const auto body = jsonObject(exchange->body);
    if (!body) {
        exchange->replyError(400, QStringLiteral("invalid"), QStringLiteral("A JSON object is expected."));
        return;
    }
    QString values[4];
    const char *keys[4] = {"CenterID", "Email", "FirstName", "LastName"};
    for (int i = 0; i < 4; ++i) {
        const QJsonValue v = body->value(QLatin1String(keys[i]));
        if (!v.isString()) {
            exchange->replyError(400, QStringLiteral("missing_field"),
                                 QStringLiteral("%1 is missing.").arg(QLatin1String(keys[i])));
            return;
        }
        values[i] = v.toString().simplified();
    }
    const QString &center = values[0], &email = values[1], &first = values[2], &last = values[3];
    static const QRegularExpression centerPattern(QStringLiteral("^[\\p{L}\\p{N}._/-]{1,40}$"));
    static const QRegularExpression emailPattern(QStringLiteral("^[^@\\s]{1,64}@[^@\\s]+\\.[^@\\s]{2,}$"));
    if (!centerPattern.match(center).hasMatch()) {
        exchange->replyError(
            400, QStringLiteral("invalid_center_id"),
            QStringLiteral("The identifier must be 1 to 40 letters, digits, '.', '-', '_' or '/'."));
        return;
    }
    if (first.isEmpty() || last.isEmpty() || first.size() > 100 || last.size() > 100) {
        exchange->replyError(400, QStringLiteral("invalid_name"),
                             QStringLiteral("First and last name are required."));
        return;
    }
    if (email.size() > 254 || !emailPattern.match(email).hasMatch()) {
        exchange->replyError(400, QStringLiteral("invalid_email"),
                             QStringLiteral("The e-mail address is not valid."));
        return;
    }
    if (db->selectOne(QStringLiteral("SELECT id FROM patients WHERE lower(center_id) = lower(?)"),
                      {center})) {
        exchange->replyError(409, QStringLiteral("duplicate_center_id"),
                             QStringLiteral("A patient with this identifier already exists."));
        return;
    }
    qint64 id = 0;
    if (!db->exec(QStringLiteral("INSERT INTO patients(center_id, first_name, last_name, email, created) "
                                 "VALUES(?, ?, ?, ?, ?)"),
                  {center, first, last, email, now()}, &id)) {
        exchange->replyError(500, QStringLiteral("server_error"),
                             QStringLiteral("The patient could not be stored."));
        return;
    }
    exchange->replyJson(201, QJsonObject{{QStringLiteral("patientID"), id},
                                         {QStringLiteral("centerID"), center},
                                         {QStringLiteral("name"), first + QLatin1Char(' ') + last},
                                         {QStringLiteral("email"), email}});
}

void DemoServer::Private::sessionList(const ExchangePtr &exchange, const QStringList &c)
{
    const int patientId = c[1].toInt();
    if (!db->selectOne(QStringLiteral("SELECT id FROM patients WHERE id = ?"), {patientId})) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such patient."));
        return;
    }
    QJsonArray list;
    for (const QVariantMap &s :
         db->select(QStringLiteral("SELECT * FROM sessions WHERE patient_id = ? ORDER BY id"), {patientId})) {
        const int id = s.value(QStringLiteral("id")).toInt();
        const bool hasDocument = s.value(QStringLiteral("has_document")).toInt() != 0;
        list.append(QJsonObject{
            {QStringLiteral("pk"), id},
            {QStringLiteral("date"), s.value(QStringLiteral("date")).toString()},
            {QStringLiteral("jsonUrl"),
             hasDocument
                 ? QJsonValue(signedUrl(QStringLiteral("GET"),
                                        QStringLiteral("sessions/%1/%2/session.json").arg(patientId).arg(id)))
                 : QJsonValue(QJsonValue::Null)}});
    }
    exchange->replyJson(200, QJsonObject{{QStringLiteral("patientID"), patientId},
                                         {QStringLiteral("sessions_patient"), list}});
}

QJsonArray DemoServer::Private::clinicalEntries(const QVariantMap &session, const QString &only,
                                                const QString &quality, bool *found)
{
    const int patientId = session.value(QStringLiteral("patient_id")).toInt();
    const int sessionId = session.value(QStringLiteral("id")).toInt();
    const QString folder = QStringLiteral("sessions/%1/%2/").arg(patientId).arg(sessionId);
    std::map<QString, QString> objects; // name -> object served for it
    const SampleData::Session *sample = SampleData::instance().session(sessionId);
    if (sample && sample->patientId == patientId && sample->hasDocument) {
        for (const SampleData::ClinicalImage &image : sample->images)
            objects[image.name] =
                folder + QStringLiteral("imgL/") + image.name + quality + QStringLiteral(".jpg");
    }
    for (const QVariantMap &f :
         db->select(QStringLiteral("SELECT * FROM session_files WHERE session_id = ? AND kind = 'clinical'"),
                    {sessionId}))
        objects[f.value(QStringLiteral("name")).toString()] = f.value(QStringLiteral("object")).toString();
    QJsonArray out;
    for (const auto &entry : objects) {
        if (!only.isEmpty() && entry.first != only)
            continue;
        *found = true;
        out.append(QJsonObject{
            {QStringLiteral("name"), folder + QStringLiteral("imgL/") + entry.first + QStringLiteral(".jpg")},
            {QStringLiteral("url"), signedUrl(QStringLiteral("GET"), entry.second)}});
    }
    return out;
}

QJsonArray DemoServer::Private::dermatoscopicEntries(const QVariantMap &session, const QString &only,
                                                     bool *found)
{
    const int patientId = session.value(QStringLiteral("patient_id")).toInt();
    const int sessionId = session.value(QStringLiteral("id")).toInt();
    const QString folder = QStringLiteral("sessions/%1/%2/dermatoscopic/").arg(patientId).arg(sessionId);
    QJsonArray out;
    auto add = [&](const QString &id, const QString &object, const QString &thumbnail) {
        out.append(QJsonObject{{QStringLiteral("name"), folder + id + QStringLiteral(".jpg")},
                               {QStringLiteral("url"), signedUrl(QStringLiteral("GET"), object)}});
        if (!thumbnail.isEmpty())
            out.append(QJsonObject{{QStringLiteral("name"), folder + id + QStringLiteral("s.jpg")},
                                   {QStringLiteral("url"), signedUrl(QStringLiteral("GET"), thumbnail)}});
    };
    const SampleData::Session *sample = SampleData::instance().session(sessionId);
    if (sample && sample->patientId == patientId && sample->hasDocument) {
        for (const SampleData::Dermatoscopic &d : sample->dermatoscopic) {
            // One picture is kept out of the session's listing, as if the
            // listing had missed it; asked for by name it is still there.
            if (only.isEmpty() ? !d.listed : d.id != only)
                continue;
            *found = true;
            add(d.id, folder + d.id + QStringLiteral(".jpg"),
                d.hasThumbnail ? folder + d.id + QStringLiteral("s.jpg") : QString());
        }
    }
    for (const QVariantMap &f : db->select(
             QStringLiteral(
                 "SELECT * FROM session_files WHERE session_id = ? AND kind = 'dermatoscopic' ORDER BY id"),
             {sessionId})) {
        const QString id = f.value(QStringLiteral("name")).toString();
        if (!only.isEmpty() && id != only)
            continue;
        *found = true;
        add(id, f.value(QStringLiteral("object")).toString(),
            f.value(QStringLiteral("thumbnail")).toString());
    }
    return out;
}

void DemoServer::Private::sessionListing(const ExchangePtr &exchange, const QStringList &c)
{
    const auto session = sessionOf(exchange, c[1], c[2]);
    if (!session)
        return;
    const QString part = c.value(3);
    QString file = c.value(4);
    const bool dermatoscopic = part.isEmpty() || part.startsWith(QLatin1String("dermatoscopic/"));
    const bool clinical = part.isEmpty() || part.startsWith(QLatin1String("clinical/"));
    if (file.endsWith(QLatin1String(".jpg")))
        file.chop(4);
    if (!file.isEmpty() && !DemoStorage::isValidObject(file)) {
        exchange->replyError(400, QStringLiteral("invalid"), QStringLiteral("Not a valid image name."));
        return;
    }
    QString quality;
    const QString q = exchange->query.queryItemValue(QStringLiteral("quality"));
    if (q.isEmpty() || q == QLatin1String("l"))
        quality = QStringLiteral("l");
    else if (q == QLatin1String("h"))
        quality = QString();
    else if (q == QLatin1String("m") || q == QLatin1String("s") || q == QLatin1String("e"))
        quality = q;
    else {
        exchange->replyError(400, QStringLiteral("invalid_quality"),
                             QStringLiteral("quality must be h, l, m, s or e."));
        return;
    }
    const bool hasDocument = session->value(QStringLiteral("has_document")).toInt() != 0;
    bool found = false;
    QJsonArray dermatos, generals;
    if (hasDocument || !file.isEmpty()) {
        if (dermatoscopic)
            dermatos = dermatoscopicEntries(*session, file, &found);
        if (clinical)
            generals = clinicalEntries(*session, file, quality, &found);
    }
    QJsonObject reply{{QStringLiteral("dermatos"), file.isEmpty() ? dermatos : QJsonArray()},
                      {QStringLiteral("generals"), file.isEmpty() ? generals : QJsonArray()}};
    if (!file.isEmpty()) {
        if (!found) {
            exchange->replyError(404, QStringLiteral("not_found"),
                                 QStringLiteral("No such image in this session."));
            return;
        }
        // A single picture is listed both under its kind and under "images",
        // so that a session whose pictures were all fetched takes it too.
        if (dermatoscopic)
            reply.insert(QStringLiteral("dermatos"), dermatos);
        reply.insert(QStringLiteral("images"), dermatoscopic ? dermatos : generals);
    }
    exchange->replyJson(200, reply);
}

void DemoServer::Private::assignExternal(const ExchangePtr &exchange, const QStringList &c,
                                         const DemoAuth::Identity &who)
{
    const auto session = sessionOf(exchange, c[1], c[2]);
    if (!session)
        return;
    const auto body = jsonObject(exchange->body);
    if (!body || !body->value(QStringLiteral("type")).isString()) {
        exchange->replyError(400, QStringLiteral("invalid"),
                             QStringLiteral("A JSON object with \"filename\" and \"type\" is expected."));
        return;
    }
    const QString type = body->value(QStringLiteral("type")).toString();
    const QString filename = body->value(QStringLiteral("filename")).toString();
    if (type != QLatin1String("D") && type != QLatin1String("L") && type != QLatin1String("G")) {
        exchange->replyError(400, QStringLiteral("invalid_type"),
                             QStringLiteral("type must be \"D\", \"L\" or \"G\"."));
        return;
    }
    static const QRegularExpression imageName(QStringLiteral("^([A-Za-z0-9_-]{1,100})\\.(?:jpg|jpeg)$"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = imageName.match(filename);
    if (type != QLatin1String("L") && !m.hasMatch()) {
        exchange->replyError(400, QStringLiteral("invalid_filename"),
                             QStringLiteral("filename must be a .jpg name of letters, digits, '_' or '-'."));
        return;
    }
    const int patientId = c[1].toInt(), sessionId = c[2].toInt();
    const QString folder = QStringLiteral("sessions/%1/%2/").arg(patientId).arg(sessionId);
    const bool fields = !exchange->fault.noFields;
    QJsonObject reply{{QStringLiteral("json"),
                       uploadTarget(folder + QStringLiteral("session.json"), QStringLiteral("session"),
                                    patientId, sessionId, QString(), 0, who.username, fields)}};
    if (type == QLatin1String("D"))
        reply.insert(QStringLiteral("file"), uploadTarget(folder + QStringLiteral("dermatoscopic/") +
                                                              m.captured(1) + QStringLiteral(".jpg"),
                                                          QStringLiteral("dermatoscopic"), patientId,
                                                          sessionId, m.captured(1), 0, who.username, fields));
    else if (type == QLatin1String("G"))
        reply.insert(QStringLiteral("file"),
                     uploadTarget(folder + QStringLiteral("imgL/") + m.captured(1) + QStringLiteral("e.jpg"),
                                  QStringLiteral("clinical"), patientId, sessionId, m.captured(1), 0,
                                  who.username, fields));
    exchange->replyJson(201, reply);
}

bool DemoServer::Private::signatureValid(const ExchangePtr &exchange, const QString &method,
                                         const QString &path)
{
    const UrlSigner::Check check = signer.check(method, path, exchange->query, now());
    if (check == UrlSigner::Check::Valid)
        return true;
    exchange->replyError(
        403, check == UrlSigner::Check::Expired ? QStringLiteral("expired") : QStringLiteral("bad_signature"),
        UrlSigner::describe(check));
    return false;
}

void DemoServer::Private::storageGet(const ExchangePtr &exchange, const QStringList &c)
{
    const QString object = c[1];
    if (!signatureValid(exchange, QStringLiteral("GET"), QStringLiteral("/storage/") + object))
        return;
    if (!DemoStorage::isValidObject(object) || object.startsWith(QLatin1String("reports/"))) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such object."));
        return;
    }
    const QFuture<QByteArray> job = storage->fetch(object);
    auto answer = [exchange, object](const QByteArray &bytes) {
        if (bytes.isEmpty())
            exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such object."));
        else
            exchange->replyBytes(
                200, bytes, contentTypeOf(object),
                {{QByteArrayLiteral("ETag"),
                  '"' + QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex() + '"'}});
    };
    if (job.isFinished()) {
        answer(job.result());
        return;
    }
    auto *watcher = new QFutureWatcher<QByteArray>(q);
    QObject::connect(watcher, &QFutureWatcher<QByteArray>::finished, q, [watcher, answer] {
        watcher->deleteLater();
        answer(watcher->result());
    });
    watcher->setFuture(job);
}

void DemoServer::Private::storagePut(const ExchangePtr &exchange, const QStringList &c)
{
    const QString object = c[1];
    if (!signatureValid(exchange, QStringLiteral("PUT"), QStringLiteral("/storage/") + object))
        return;
    const qint64 expires = exchange->query.queryItemValue(QStringLiteral("expires")).toLongLong();
    const auto target = db->selectOne(
        QStringLiteral(
            "SELECT * FROM upload_targets WHERE object = ? AND expires = ? ORDER BY id DESC LIMIT 1"),
        {object, expires});
    if (!target) {
        exchange->replyError(403, QStringLiteral("not_a_target"),
                             QStringLiteral("This object was not handed out for upload."));
        return;
    }
    if (exchange->body.size() > storageBodyLimit) {
        exchange->replyError(413, QStringLiteral("too_large"), QStringLiteral("The upload is too large."));
        return;
    }
    const QString purpose = target->value(QStringLiteral("purpose")).toString();
    const QByteArray &bytes = exchange->body;
    const int sessionId = target->value(QStringLiteral("session_id")).toInt();
    const int patientId = target->value(QStringLiteral("patient_id")).toInt();
    const QString name = target->value(QStringLiteral("name")).toString();
    if (purpose == QLatin1String("session")) {
        if (bytes.size() > sessionDocumentLimit || !jsonObject(bytes)) {
            exchange->replyError(400, QStringLiteral("invalid_document"),
                                 QStringLiteral("A session document must be a JSON object."));
            return;
        }
        storage->keepHistory(object);
    } else if (purpose == QLatin1String("dermatoscopic") || purpose == QLatin1String("clinical")) {
        if (!isJpeg(bytes)) {
            exchange->replyError(400, QStringLiteral("invalid_image"),
                                 QStringLiteral("The upload is not a JPEG image."));
            return;
        }
    } else if (purpose == QLatin1String("report")) {
        if (!bytes.startsWith("%PDF-")) {
            exchange->replyError(400, QStringLiteral("invalid_report"),
                                 QStringLiteral("The upload is not a PDF document."));
            return;
        }
    }
    QString writeError;
    if (!storage->write(object, bytes, &writeError)) {
        exchange->replyError(500, QStringLiteral("storage_error"),
                             QStringLiteral("The upload could not be stored."));
        return;
    }
    if (purpose == QLatin1String("session")) {
        db->exec(QStringLiteral("UPDATE sessions SET has_document = 1 WHERE id = ?"), {sessionId});
    } else if (purpose == QLatin1String("dermatoscopic") || purpose == QLatin1String("clinical")) {
        db->exec(QStringLiteral(
                     "INSERT OR REPLACE INTO session_files(session_id, kind, name, object, origin, created) "
                     "VALUES(?, ?, ?, ?, 'upload', ?)"),
                 {sessionId, purpose, name, object, now()});
    } else if (purpose == QLatin1String("report")) {
        db->exec(QStringLiteral("UPDATE reports SET state = 'stored', date = ? WHERE id = ?"),
                 {QDate::currentDate().toString(Qt::ISODate), target->value(QStringLiteral("report_id"))});
    }
    Upload upload;
    upload.time = now();
    upload.purpose = purpose;
    upload.object = object;
    upload.size = bytes.size();
    upload.patientId = patientId;
    upload.sessionId = sessionId;
    upload.name = name;
    upload.username = target->value(QStringLiteral("username")).toString();
    uploadLog.append(upload);
    db->exec(QStringLiteral(
                 "INSERT INTO uploads(time, purpose, object, size, patient_id, session_id, name, username) "
                 "VALUES(?, ?, ?, ?, ?, ?, ?, ?)"),
             {upload.time, purpose, object, upload.size, patientId, sessionId, name, upload.username});
    exchange->replyBytes(200, QByteArray(), QByteArrayLiteral("application/octet-stream"),
                         {{QByteArrayLiteral("ETag"),
                           '"' + QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex() + '"'}});
}

void DemoServer::Private::templates(const ExchangePtr &exchange)
{
    QJsonArray clinics;
    QStringList order;
    std::map<QString, QJsonArray> files;
    for (const QVariantMap &t : db->select(QStringLiteral("SELECT * FROM report_templates ORDER BY id"))) {
        const QString clinic = t.value(QStringLiteral("clinic")).toString();
        if (!order.contains(clinic))
            order << clinic;
        files[clinic].append(
            QJsonObject{{QStringLiteral("filename"), t.value(QStringLiteral("filename")).toString()},
                        {QStringLiteral("url"),
                         signedUrl(QStringLiteral("GET"), t.value(QStringLiteral("object")).toString())}});
    }
    for (const QString &clinic : order)
        clinics.append(
            QJsonObject{{QStringLiteral("name"), clinic}, {QStringLiteral("files"), files[clinic]}});
    exchange->replyJson(200, QJsonDocument(clinics));
}

void DemoServer::Private::newReport(const ExchangePtr &exchange, const QStringList &c,
                                    const DemoAuth::Identity &who)
{
    const auto session = sessionOf(exchange, c[1], c[2]);
    if (!session)
        return;
    const int patientId = c[1].toInt(), sessionId = c[2].toInt();
    qint64 id = 0;
    db->exec(QStringLiteral("INSERT INTO reports(patient_id, session_id, date, object, state, username) "
                            "VALUES(?, ?, ?, '', 'pending', ?)"),
             {patientId, sessionId, QDate::currentDate().toString(Qt::ISODate), who.username}, &id);
    const QString object = QStringLiteral("reports/%1/%2/%3.pdf").arg(patientId).arg(sessionId).arg(id);
    db->exec(QStringLiteral("UPDATE reports SET object = ? WHERE id = ?"), {object, id});
    exchange->replyJson(201,
                        QJsonObject{{QStringLiteral("id"), id},
                                    {QStringLiteral("url"),
                                     uploadTarget(object, QStringLiteral("report"), patientId, sessionId,
                                                  QString(), id, who.username, !exchange->fault.noFields)}});
}

void DemoServer::Private::reportList(const ExchangePtr &exchange, const QStringList &c)
{
    const int patientId = c[1].toInt();
    if (!db->selectOne(QStringLiteral("SELECT id FROM patients WHERE id = ?"), {patientId})) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such patient."));
        return;
    }
    QJsonArray list;
    for (const QVariantMap &r :
         db->select(QStringLiteral("SELECT r.*, s.date AS session_date FROM reports r JOIN sessions s "
                                   "ON s.id = r.session_id WHERE r.patient_id = ? AND r.state = 'stored' "
                                   "ORDER BY r.date, r.id"),
                    {patientId})) {
        // The path is appended to "/getReport/" by the viewer and opened in a
        // browser, which has no token: it carries its own signature.
        const QString path =
            QStringLiteral("%1/%2.pdf").arg(patientId).arg(r.value(QStringLiteral("id")).toLongLong());
        const qint64 expires = now() + options.urlLifetimeSeconds;
        list.append(QJsonObject{
            {QStringLiteral("date"), r.value(QStringLiteral("date")).toString()},
            {QStringLiteral("session_date"), r.value(QStringLiteral("session_date")).toString().left(10)},
            {QStringLiteral("url"),
             path + QLatin1Char('?') +
                 signer.query(QStringLiteral("GET"), QStringLiteral("/getReport/") + path, expires)}});
    }
    exchange->replyJson(200, QJsonDocument(list));
}

void DemoServer::Private::reportFile(const ExchangePtr &exchange, const QStringList &c)
{
    if (!signatureValid(exchange, QStringLiteral("GET"), QStringLiteral("/getReport/") + c[1]))
        return;
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})/(\\d{1,12})\\.pdf$"));
    const QRegularExpressionMatch m = pattern.match(c[1]);
    const auto report =
        m.hasMatch()
            ? db->selectOne(QStringLiteral(
                                "SELECT * FROM reports WHERE id = ? AND patient_id = ? AND state = 'stored'"),
                            {m.captured(2).toLongLong(), m.captured(1).toInt()})
            : std::nullopt;
    const QByteArray bytes =
        report ? storage->read(report->value(QStringLiteral("object")).toString()) : QByteArray();
    if (bytes.isEmpty()) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such report."));
        return;
    }
    exchange->replyBytes(
        200, bytes, QByteArrayLiteral("application/pdf"),
        {{QByteArrayLiteral("Content-Disposition"), QByteArrayLiteral("inline; filename=\"report.pdf\"")}});
}

void DemoServer::Private::control(const ExchangePtr &exchange, const QStringList &c)
{
    const QString path = c.value(1);
    const QString method = exchange->method;
    const auto body =
        exchange->body.isEmpty() ? std::optional<QJsonObject>(QJsonObject()) : jsonObject(exchange->body);
    if (!body) {
        exchange->replyError(400, QStringLiteral("invalid"), QStringLiteral("A JSON object is expected."));
        return;
    }
    const QString syncId = body->value(QStringLiteral("sync")).toString();
    if (path.isEmpty() || path == QLatin1String("/")) {
        exchange->replyJson(
            200,
            QJsonObject{{QStringLiteral("endpoints"),
                         QJsonArray{QStringLiteral("POST /control/reset"),
                                    QStringLiteral("GET|POST|DELETE /control/faults[/GROUP]"),
                                    QStringLiteral("GET /control/phone"),
                                    QStringLiteral("POST /control/phone/join|advance|fail|finish"),
                                    QStringLiteral("GET /control/uploads"),
                                    QStringLiteral("GET /control/objects/OBJECT"),
                                    QStringLiteral("GET /control/outbox/USER"),
                                    QStringLiteral("GET /control/totp/USER")}},
                        {QStringLiteral("faultGroups"), QJsonArray::fromStringList(DemoFaults::groups())}});
    } else if (path == QLatin1String("/reset") && method == QLatin1String("POST")) {
        const bool ok = q->resetData();
        exchange->replyJson(ok ? 200 : 500, QJsonObject{{QStringLiteral("reset"), ok}});
    } else if (path.startsWith(QLatin1String("/faults"))) {
        const QString group = path.mid(8);
        if (!group.isEmpty() && !DemoFaults::groups().contains(group)) {
            exchange->replyError(404, QStringLiteral("unknown_group"),
                                 QStringLiteral("No such fault group."));
            return;
        }
        if (method == QLatin1String("DELETE")) {
            faults.clear(group);
        } else if (method == QLatin1String("POST")) {
            const QString target = group.isEmpty() ? body->value(QStringLiteral("group")).toString() : group;
            if (!DemoFaults::groups().contains(target)) {
                exchange->replyError(400, QStringLiteral("unknown_group"),
                                     QStringLiteral("Give a known \"group\"."));
                return;
            }
            QJsonObject settings = *body;
            settings.remove(QStringLiteral("group"));
            DemoFaults::Fault f = faults.get(target);
            QString why;
            if (!f.apply(settings, &why)) {
                exchange->replyError(400, QStringLiteral("invalid"), why);
                return;
            }
            faults.set(target, f);
        }
        exchange->replyJson(200, faults.toJson());
    } else if (path == QLatin1String("/phone") && method == QLatin1String("GET")) {
        exchange->replyJson(200, sync->state(exchange->query.queryItemValue(QStringLiteral("sync"))));
    } else if (path.startsWith(QLatin1String("/phone/")) && method == QLatin1String("POST")) {
        const QString action = path.mid(7);
        int result = -1;
        if (action == QLatin1String("join"))
            result = sync->join(syncId) ? 1 : 0;
        else if (action == QLatin1String("advance"))
            result = sync->advance(syncId) ? 1 : 0;
        else if (action == QLatin1String("fail"))
            result = sync->fail(syncId) ? 1 : 0;
        else if (action == QLatin1String("finish"))
            result = sync->finish(syncId);
        if (result < 0) {
            exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("Unknown phone action."));
            return;
        }
        QJsonObject state = sync->state(syncId);
        state.insert(QStringLiteral("result"), result);
        exchange->replyJson(result > 0 || action == QLatin1String("finish") ? 200 : 409, state);
    } else if (path == QLatin1String("/uploads") && method == QLatin1String("GET")) {
        QJsonArray list;
        for (const Upload &u : std::as_const(uploadLog))
            list.append(QJsonObject{{QStringLiteral("time"), u.time},
                                    {QStringLiteral("purpose"), u.purpose},
                                    {QStringLiteral("object"), u.object},
                                    {QStringLiteral("size"), u.size},
                                    {QStringLiteral("patientID"), u.patientId},
                                    {QStringLiteral("sessionID"), u.sessionId},
                                    {QStringLiteral("name"), u.name},
                                    {QStringLiteral("username"), u.username}});
        exchange->replyJson(200, QJsonDocument(list));
    } else if (path.startsWith(QLatin1String("/objects/")) && method == QLatin1String("GET")) {
        const QString object = path.mid(9);
        const QByteArray bytes = storage->read(object);
        if (bytes.isEmpty())
            exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such object."));
        else
            exchange->replyBytes(200, bytes, contentTypeOf(object));
    } else if (path.startsWith(QLatin1String("/outbox/")) && method == QLatin1String("GET")) {
        const QString code = auth->lastMailedCode(path.mid(8));
        if (code.isEmpty())
            exchange->replyError(404, QStringLiteral("not_found"),
                                 QStringLiteral("No code was mailed to that user."));
        else
            exchange->replyJson(200, QJsonObject{{QStringLiteral("code"), code}});
    } else if (path.startsWith(QLatin1String("/totp/")) && method == QLatin1String("GET")) {
        const QString code = auth->currentTotpCode(path.mid(6));
        if (code.isEmpty())
            exchange->replyError(404, QStringLiteral("not_found"),
                                 QStringLiteral("That user has no authenticator."));
        else
            exchange->replyJson(200, QJsonObject{{QStringLiteral("code"), code}});
    } else {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such control."));
    }
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

QString DemoServer::presignedUrl(const QString &method, const QString &object, qint64 expiresAt) const
{
    return d->signedUrl(method, object, expiresAt > 0 ? std::optional<qint64>(expiresAt) : std::nullopt);
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
