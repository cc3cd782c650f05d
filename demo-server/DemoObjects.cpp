#include "demo-server/DemoObjects.h"

#include "demo-server/DemoDatabase.h"
#include "demo-server/DemoLinks.h"
#include "demo-server/DemoStorage.h"
#include "demo-server/UrlSigner.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDate>
#include <QFutureWatcher>
#include <QImageReader>

namespace {

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

} // namespace

DemoObjects::DemoObjects(DemoDatabase &db, DemoStorage &storage, const UrlSigner &signer,
                         QList<DemoServer::Upload> &uploadLog, QObject *context)
    : m_db(db), m_storage(storage), m_signer(signer), m_uploadLog(uploadLog), m_context(context)
{
}

bool DemoObjects::signatureValid(const ExchangePtr &exchange, const QString &method,
                                 const QString &path) const
{
    const UrlSigner::Check check = m_signer.check(method, path, exchange->query, DemoLinks::now());
    if (check == UrlSigner::Check::Valid)
        return true;
    exchange->replyError(
        403, check == UrlSigner::Check::Expired ? QStringLiteral("expired") : QStringLiteral("bad_signature"),
        UrlSigner::describe(check));
    return false;
}

void DemoObjects::get(const ExchangePtr &exchange, const QStringList &c)
{
    const QString object = c[1];
    if (!signatureValid(exchange, QStringLiteral("GET"), QStringLiteral("/storage/") + object))
        return;
    if (!DemoStorage::isValidObject(object) || object.startsWith(QLatin1String("reports/"))) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such object."));
        return;
    }
    const QFuture<QByteArray> job = m_storage.fetch(object);
    auto answer = [exchange, object](const QByteArray &bytes) {
        if (bytes.isEmpty())
            exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such object."));
        else
            exchange->replyBytes(
                200, bytes, DemoLinks::contentTypeOf(object),
                {{QByteArrayLiteral("ETag"),
                  '"' + QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex() + '"'}});
    };
    if (job.isFinished()) {
        answer(job.result());
        return;
    }
    auto *watcher = new QFutureWatcher<QByteArray>(m_context);
    QObject::connect(watcher, &QFutureWatcher<QByteArray>::finished, m_context, [watcher, answer] {
        watcher->deleteLater();
        answer(watcher->result());
    });
    watcher->setFuture(job);
}

void DemoObjects::put(const ExchangePtr &exchange, const QStringList &c)
{
    const QString object = c[1];
    if (!signatureValid(exchange, QStringLiteral("PUT"), QStringLiteral("/storage/") + object))
        return;
    const qint64 expires = exchange->query.queryItemValue(QStringLiteral("expires")).toLongLong();
    const auto target = m_db.selectOne(
        QStringLiteral(
            "SELECT * FROM upload_targets WHERE object = ? AND expires = ? ORDER BY id DESC LIMIT 1"),
        {object, expires});
    if (!target) {
        exchange->replyError(403, QStringLiteral("not_a_target"),
                             QStringLiteral("This object was not handed out for upload."));
        return;
    }
    if (exchange->body.size() > bodyLimit) {
        exchange->replyError(413, QStringLiteral("too_large"), QStringLiteral("The upload is too large."));
        return;
    }
    const QString purpose = target->value(QStringLiteral("purpose")).toString();
    const QByteArray &bytes = exchange->body;
    const int sessionId = target->value(QStringLiteral("session_id")).toInt();
    const int patientId = target->value(QStringLiteral("patient_id")).toInt();
    const QString name = target->value(QStringLiteral("name")).toString();
    if (purpose == QLatin1String("session")) {
        if (bytes.size() > sessionDocumentLimit || !DemoLinks::jsonObject(bytes)) {
            exchange->replyError(400, QStringLiteral("invalid_document"),
                                 QStringLiteral("A session document must be a JSON object."));
            return;
        }
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
    m_storage.keepHistory(object);
    QString writeError;
    if (!m_storage.write(object, bytes, &writeError) || !m_storage.addVersion(object, bytes)) {
        exchange->replyError(500, QStringLiteral("storage_error"),
                             QStringLiteral("The upload could not be stored."));
        return;
    }
    if (purpose == QLatin1String("session")) {
        m_db.exec(QStringLiteral("UPDATE sessions SET has_document = 1 WHERE id = ?"), {sessionId});
    } else if (purpose == QLatin1String("dermatoscopic") || purpose == QLatin1String("clinical")) {
        m_db.exec(QStringLiteral(
                      "INSERT OR REPLACE INTO session_files(session_id, kind, name, object, origin, created) "
                      "VALUES(?, ?, ?, ?, 'upload', ?)"),
                  {sessionId, purpose, name, object, DemoLinks::now()});
    } else if (purpose == QLatin1String("report")) {
        m_db.exec(QStringLiteral("UPDATE reports SET state = 'stored', date = ? WHERE id = ?"),
                  {QDate::currentDate().toString(Qt::ISODate), target->value(QStringLiteral("report_id"))});
    }
    DemoServer::Upload upload;
    upload.time = DemoLinks::now();
    upload.purpose = purpose;
    upload.object = object;
    upload.size = bytes.size();
    upload.patientId = patientId;
    upload.sessionId = sessionId;
    upload.name = name;
    upload.username = target->value(QStringLiteral("username")).toString();
    m_uploadLog.append(upload);
    m_db.exec(QStringLiteral(
                  "INSERT INTO uploads(time, purpose, object, size, patient_id, session_id, name, username) "
                  "VALUES(?, ?, ?, ?, ?, ?, ?, ?)"),
              {upload.time, purpose, object, upload.size, patientId, sessionId, name, upload.username});
    exchange->replyBytes(200, QByteArray(), QByteArrayLiteral("application/octet-stream"),
                         {{QByteArrayLiteral("ETag"),
                           '"' + QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex() + '"'}});
}
