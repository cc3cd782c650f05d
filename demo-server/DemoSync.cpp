#include "demo-server/DemoSync.h"

#include "demo-server/DemoDatabase.h"
#include "demo-server/DemoStorage.h"
#include "demo-server/SampleData.h"
#include "demo-server/SampleImages.h"
#include "demo-server/UrlSigner.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtConcurrent>

namespace {
qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

bool validName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return pattern.match(name).hasMatch();
}

QString htmlPage(const QString &title, const QString &text)
{
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                          "<title>%1</title></head><body style=\"font-family:sans-serif;"
                          "background:#1c1c1e;color:#ffdac3;text-align:center;padding:3em\">"
                          "<h1>%1</h1><p>%2</p></body></html>")
        .arg(title.toHtmlEscaped(), text.toHtmlEscaped());
}
} // namespace

DemoSync::DemoSync(DemoDatabase &database, DemoStorage &store, const UrlSigner &urlSigner,
                   std::function<QString()> base, Settings s, QObject *parent)
    : QObject(parent), db(database), storage(store), signer(urlSigner), baseUrl(std::move(base)),
      settings(std::move(s))
{
    ticker.setInterval(100);
    connect(&ticker, &QTimer::timeout, this, &DemoSync::tick);
    if (settings.phone == QLatin1String("auto"))
        ticker.start();
}

DemoSync::~DemoSync()
{
    stopAll();
}

void DemoSync::stopAll()
{
    ticker.stop();
    for (QFutureWatcher<Capture> *w : std::as_const(uploads)) {
        w->disconnect(this);
        w->waitForFinished();
        delete w;
    }
    uploads.clear();
    work.clear();
    joinAt.clear();
}

std::optional<QVariantMap> DemoSync::owned(const ExchangePtr &exchange, const DemoAuth::Identity &who,
                                           const QString &id)
{
    const auto row = db.selectOne(QStringLiteral("SELECT * FROM sync_sessions WHERE id = ?"), {id});
    // Another user's sync session is reported as missing, not as forbidden.
    if (!row || row->value(QStringLiteral("username")).toString() != who.username ||
        row->value(QStringLiteral("expires")).toLongLong() < now()) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such sync session."));
        return std::nullopt;
    }
    return row;
}

std::optional<QVariantMap> DemoSync::current(const QString &id) const
{
    return db.selectOne(
        QStringLiteral("SELECT * FROM sync_images WHERE sync_id = ? AND state IN ('pending', 'taking') "
                       "ORDER BY seq LIMIT 1"),
        {id});
}

QString DemoSync::newestSyncId() const
{
    const auto row = db.selectOne(
        QStringLiteral("SELECT id FROM sync_sessions ORDER BY created DESC, rowid DESC LIMIT 1"));
    return row ? row->value(QStringLiteral("id")).toString() : QString();
}

QString DemoSync::resolve(const QString &id) const
{
    return id.isEmpty() ? newestSyncId() : id;
}

QJsonObject DemoSync::imageJson(const QVariantMap &row) const
{
    const QString state = row.value(QStringLiteral("state")).toString();
    QJsonObject out{{QStringLiteral("name"), row.value(QStringLiteral("name")).toString()},
                    {QStringLiteral("type"), row.value(QStringLiteral("type")).toString()},
                    {QStringLiteral("cancelled"), state == QLatin1String("cancelled")}};
    // "isDone" is given once the phone is through with the picture: true when
    // it took it, false when it failed.
    if (state == QLatin1String("done"))
        out.insert(QStringLiteral("isDone"), true);
    else if (state == QLatin1String("failed"))
        out.insert(QStringLiteral("isDone"), false);
    const QString object = row.value(QStringLiteral("object")).toString();
    if (state == QLatin1String("done") && !object.isEmpty()) {
        const qint64 expires = now() + settings.urlLifetimeSeconds;
        const QString path = QStringLiteral("/storage/") + object;
        out.insert(QStringLiteral("url"),
                   baseUrl() + path + QLatin1Char('?') + signer.query(QStringLiteral("GET"), path, expires));
        out.insert(QStringLiteral("filename"), object.section(QLatin1Char('/'), -1));
    }
    return out;
}

void DemoSync::create(const ExchangePtr &exchange, const DemoAuth::Identity &who)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(exchange->body, &error);
    const QJsonValue session = doc.object().value(QStringLiteral("session"));
    if (!doc.isObject() || !session.isDouble() || session.toDouble() != double(session.toInt())) {
        exchange->replyError(400, QStringLiteral("invalid"),
                             QStringLiteral("A JSON object with the numeric \"session\" is expected."));
        return;
    }
    const int sessionId = session.toInt();
    if (!db.selectOne(QStringLiteral("SELECT id FROM sessions WHERE id = ?"), {sessionId})) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such session."));
        return;
    }
    // The program asks again whenever the session in view changes: the sync
    // session of an examination is kept, so the phone stays paired.
    const auto existing =
        db.selectOne(QStringLiteral("SELECT * FROM sync_sessions WHERE session_id = ? AND "
                                    "username = ? AND expires > ? ORDER BY created DESC LIMIT 1"),
                     {sessionId, who.username, now()});
    QString id;
    if (existing) {
        id = existing->value(QStringLiteral("id")).toString();
    } else {
        QByteArray random(12, Qt::Uninitialized);
        QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(random.data()),
                                             reinterpret_cast<quint32 *>(random.data() + random.size()));
        id = QString::fromLatin1(random.toHex());
        db.exec(QStringLiteral("INSERT INTO sync_sessions(id, session_id, username, created, expires) "
                               "VALUES(?, ?, ?, ?, ?)"),
                {id, sessionId, who.username, now(), now() + settings.lifetimeSeconds});
        if (settings.phone == QLatin1String("auto"))
            joinAt.insert(id, QDateTime::currentMSecsSinceEpoch() + settings.joinDelayMs);
    }
    const auto done = db.selectOne(
        QStringLiteral("SELECT COUNT(*) AS n FROM sync_images WHERE sync_id = ? AND state = 'done'"), {id});
    exchange->replyJson(
        existing ? 200 : 201,
        QJsonObject{{QStringLiteral("id"), id},
                    {QStringLiteral("session"), sessionId},
                    {QStringLiteral("sessionAlreadyDone"), existing.has_value()},
                    {QStringLiteral("nImg"), done ? done->value(QStringLiteral("n")).toInt() : 0}});
}

void DemoSync::status(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id)
{
    const auto row = owned(exchange, who, id);
    if (!row)
        return;
    const auto next = current(id);
    QJsonArray images;
    for (const QVariantMap &image :
         db.select(QStringLiteral("SELECT * FROM sync_images WHERE sync_id = ? ORDER BY seq"), {id}))
        images.append(
            QJsonObject{{QStringLiteral("name"), image.value(QStringLiteral("name")).toString()},
                        {QStringLiteral("type"), image.value(QStringLiteral("type")).toString()},
                        {QStringLiteral("round"), image.value(QStringLiteral("round")).toInt()},
                        {QStringLiteral("state"), image.value(QStringLiteral("state")).toString()}});
    exchange->replyJson(
        200, QJsonObject{{QStringLiteral("id"), id},
                         {QStringLiteral("session"), row->value(QStringLiteral("session_id")).toInt()},
                         {QStringLiteral("hasDevice"), row->value(QStringLiteral("has_device")).toInt() != 0},
                         {QStringLiteral("nextImage"),
                          next ? next->value(QStringLiteral("name")).toString() : QStringLiteral("-1")},
                         {QStringLiteral("images"), images}});
}

void DemoSync::request(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id)
{
    if (!owned(exchange, who, id))
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(exchange->body);
    const QJsonValue names = doc.object().value(QStringLiteral("names"));
    if (!doc.isObject() || !names.isArray() || names.toArray().isEmpty() || names.toArray().size() > 200) {
        exchange->replyError(400, QStringLiteral("invalid"),
                             QStringLiteral("A JSON object with a non-empty \"names\" array is expected."));
        return;
    }
    QList<QPair<QString, QString>> wanted;
    for (const QJsonValue &entry : names.toArray()) {
        const QString name = entry.toObject().value(QStringLiteral("name")).toString();
        const QString type = entry.toObject().value(QStringLiteral("type")).toString();
        if (!validName(name) || (type != QLatin1String("D") && type != QLatin1String("C"))) {
            exchange->replyError(400, QStringLiteral("invalid"),
                                 QStringLiteral("Every entry needs a \"name\" of letters, digits, '_' or '-' "
                                                "and a \"type\" of \"D\" or \"C\"."));
            return;
        }
        wanted.append({name, type});
    }
    const auto last =
        db.selectOne(QStringLiteral("SELECT MAX(round) AS r FROM sync_images WHERE sync_id = ?"), {id});
    const int round = (last ? last->value(QStringLiteral("r")).toInt() : 0) + 1;
    db.transaction();
    int dermatoscopic = 0;
    QJsonArray accepted;
    for (const auto &w : wanted) {
        // A name asked for again replaces its earlier, unfinished request.
        db.exec(QStringLiteral("UPDATE sync_images SET state = 'cancelled', updated = ? WHERE sync_id = ? "
                               "AND name = ? AND state IN ('pending', 'taking')"),
                {now(), id, w.first});
        db.exec(QStringLiteral("INSERT INTO sync_images(sync_id, name, type, round, state, updated) "
                               "VALUES(?, ?, ?, ?, 'pending', ?)"),
                {id, w.first, w.second, round, now()});
        if (w.second == QLatin1String("D"))
            ++dermatoscopic;
        accepted.append(QJsonObject{{QStringLiteral("name"), w.first}, {QStringLiteral("type"), w.second}});
    }
    db.commit();
    exchange->replyJson(201, QJsonObject{{QStringLiteral("round"), round},
                                         {QStringLiteral("nImgDermatos"), dermatoscopic},
                                         {QStringLiteral("nImg"), int(wanted.size())},
                                         {QStringLiteral("names"), accepted}});
}

std::optional<QVariantMap> DemoSync::requestedImage(const ExchangePtr &exchange,
                                                    const DemoAuth::Identity &who, const QString &id,
                                                    const QString &name)
{
    if (!owned(exchange, who, id))
        return std::nullopt;
    auto row = db.selectOne(QStringLiteral("SELECT * FROM sync_images WHERE sync_id = ? AND name = ? "
                                           "ORDER BY seq DESC LIMIT 1"),
                            {id, name});
    if (!row)
        exchange->replyError(404, QStringLiteral("not_found"),
                             QStringLiteral("No picture of that name was requested."));
    return row;
}

void DemoSync::image(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id,
                     const QString &name)
{
    const auto row = requestedImage(exchange, who, id, name);
    if (!row)
        return;
    QJsonObject out = imageJson(*row);
    if (exchange->fault.noUrl) {
        out.remove(QStringLiteral("url"));
        out.remove(QStringLiteral("filename"));
    }
    exchange->replyJson(200, out);
}

void DemoSync::retake(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id,
                      const QString &name)
{
    const auto row = requestedImage(exchange, who, id, name);
    if (!row)
        return;
    // The discarded picture no longer belongs to the examination; its file stays.
    const QString object = row->value(QStringLiteral("object")).toString();
    if (!object.isEmpty())
        db.exec(QStringLiteral("DELETE FROM session_files WHERE object = ?"), {object});
    db.exec(
        QStringLiteral("UPDATE sync_images SET state = 'pending', object = NULL, updated = ? WHERE seq = ?"),
        {now(), row->value(QStringLiteral("seq"))});
    exchange->replyJson(200, QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("retake"), true}});
}

void DemoSync::cancel(const ExchangePtr &exchange, const DemoAuth::Identity &who, const QString &id)
{
    if (!owned(exchange, who, id))
        return;
    const auto pending = db.selectOne(
        QStringLiteral(
            "SELECT COUNT(*) AS n FROM sync_images WHERE sync_id = ? AND state IN ('pending', 'taking')"),
        {id});
    db.exec(QStringLiteral("UPDATE sync_images SET state = 'cancelled', updated = ? WHERE sync_id = ? AND "
                           "state IN ('pending', 'taking')"),
            {now(), id});
    exchange->replyJson(200, QJsonObject{{QStringLiteral("cancelled"),
                                          pending ? pending->value(QStringLiteral("n")).toInt() : 0}});
}

void DemoSync::pairingPage(const ExchangePtr &exchange, const QString &id)
{
    if (id.isEmpty()) {
        exchange->replyBytes(200,
                             htmlPage(QStringLiteral("Connect your phone"),
                                      QStringLiteral("Scan the code shown by the viewer to pair this phone."))
                                 .toUtf8(),
                             QByteArrayLiteral("text/html; charset=utf-8"));
        return;
    }
    if (!join(id)) {
        exchange->replyBytes(
            404,
            htmlPage(QStringLiteral("Unknown code"),
                     QStringLiteral("This pairing code is not valid any more. Scan the code again."))
                .toUtf8(),
            QByteArrayLiteral("text/html; charset=utf-8"));
        return;
    }
    exchange->replyBytes(
        200,
        htmlPage(QStringLiteral("Phone paired"),
                 QStringLiteral("This phone is connected. Take the pictures the viewer asks for."))
            .toUtf8(),
        QByteArrayLiteral("text/html; charset=utf-8"));
}

bool DemoSync::join(const QString &given)
{
    const QString id = resolve(given);
    if (id.isEmpty() ||
        !db.selectOne(QStringLiteral("SELECT id FROM sync_sessions WHERE id = ? AND expires > ?"),
                      {id, now()}))
        return false;
    joinAt.remove(id);
    return db.exec(QStringLiteral("UPDATE sync_sessions SET has_device = 1 WHERE id = ?"), {id});
}

std::optional<QVariantMap> DemoSync::untaken(const QString &id) const
{
    return db.selectOne(QStringLiteral("SELECT * FROM sync_images WHERE sync_id = ? AND state = 'pending' "
                                       "ORDER BY seq LIMIT 1"),
                        {id});
}

bool DemoSync::advance(const QString &given)
{
    const QString id = resolve(given);
    const auto row = id.isEmpty() ? std::nullopt : untaken(id);
    if (!row)
        return false;
    take(id, *row);
    return true;
}

bool DemoSync::fail(const QString &given)
{
    const QString id = resolve(given);
    const auto row = id.isEmpty() ? std::nullopt : current(id);
    if (!row)
        return false;
    work.remove(id);
    db.exec(QStringLiteral("UPDATE sync_images SET state = 'failed', updated = ? WHERE seq = ?"),
            {now(), row->value(QStringLiteral("seq"))});
    return true;
}

bool DemoSync::cancelCurrent(const QString &given)
{
    const QString id = resolve(given);
    const auto row = id.isEmpty() ? std::nullopt : current(id);
    if (!row)
        return false;
    work.remove(id);
    // A picture being stored is dropped too: the upload checks the state first.
    db.exec(QStringLiteral("UPDATE sync_images SET state = 'cancelled', updated = ? WHERE seq = ?"),
            {now(), row->value(QStringLiteral("seq"))});
    return true;
}

int DemoSync::finish(const QString &given)
{
    const QString id = resolve(given);
    int count = 0;
    while (!id.isEmpty() && count < 1000) {
        const auto row = untaken(id);
        if (!row)
            break;
        take(id, *row);
        ++count;
    }
    return count;
}

QJsonObject DemoSync::state(const QString &given) const
{
    const QString id = resolve(given);
    const auto row = db.selectOne(QStringLiteral("SELECT * FROM sync_sessions WHERE id = ?"), {id});
    if (!row)
        return {{QStringLiteral("mode"), settings.phone}};
    const auto next = current(id);
    QJsonArray images;
    for (const QVariantMap &image :
         db.select(QStringLiteral("SELECT * FROM sync_images WHERE sync_id = ? ORDER BY seq"), {id}))
        images.append(imageJson(image));
    return {{QStringLiteral("mode"), settings.phone},
            {QStringLiteral("id"), id},
            {QStringLiteral("session"), row->value(QStringLiteral("session_id")).toInt()},
            {QStringLiteral("hasDevice"), row->value(QStringLiteral("has_device")).toInt() != 0},
            {QStringLiteral("nextImage"),
             next ? next->value(QStringLiteral("name")).toString() : QStringLiteral("-1")},
            {QStringLiteral("images"), images}};
}

void DemoSync::take(const QString &id, const QVariantMap &row)
{
    const qint64 seq = row.value(QStringLiteral("seq")).toLongLong();
    work.remove(id);
    // The picture stays the phone's current one until it is stored: only then
    // is it done, with its URL, and the phone moves on.
    db.exec(QStringLiteral("UPDATE sync_images SET state = 'taking', updated = ? WHERE seq = ?"),
            {now(), seq});

    const auto sync =
        db.selectOne(QStringLiteral("SELECT s.id AS session_id, s.patient_id FROM sync_sessions y "
                                    "JOIN sessions s ON s.id = y.session_id WHERE y.id = ?"),
                     {id});
    if (!sync) {
        db.exec(QStringLiteral("UPDATE sync_images SET state = 'failed', updated = ? WHERE seq = ?"),
                {now(), seq});
        return;
    }
    const int sessionId = sync->value(QStringLiteral("session_id")).toInt();
    const int patientId = sync->value(QStringLiteral("patient_id")).toInt();
    const QString name = row.value(QStringLiteral("name")).toString();
    const QString type = row.value(QStringLiteral("type")).toString();
    const QString folder = QStringLiteral("sessions/%1/%2/").arg(patientId).arg(sessionId);
    // A dermatoscopic id starts with the date it was taken; "m" marks a
    // picture sent by a phone.
    const QString base = type == QLatin1String("D")
                             ? QStringLiteral("%1_%2_%3_%4m")
                                   .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")), id.left(6),
                                        name, QTime::currentTime().toString(QStringLiteral("HHmmsszzz")))
                             : name + QLatin1Char('e');
    const QString object =
        folder + (type == QLatin1String("D") ? QStringLiteral("dermatoscopic/") : QStringLiteral("imgL/")) +
        base + QStringLiteral(".jpg");
    const QString thumbnail = type == QLatin1String("D")
                                  ? folder + QStringLiteral("dermatoscopic/") + base + QStringLiteral("s.jpg")
                                  : QString();
    const SampleData::Patient *patient = SampleData::findPatient(patientId);
    const QColor skin = patient ? patient->skin : QColor(222, 184, 160);
    const DemoStorage::Sizes sizes = storage.sizes();
    const quint32 seed = quint32(qHash(id + name) ^ quint32(seq) ^ quint32(++captureCounter));

    auto *watcher = new QFutureWatcher<Capture>(this);
    uploads.append(watcher);
    connect(
        watcher, &QFutureWatcher<Capture>::finished, this,
        [this, watcher, seq, object, thumbnail, sessionId, type, name, base, sizes] {
            uploads.removeAll(watcher);
            watcher->deleteLater();
            const Capture result = watcher->result();
            const auto still =
                db.selectOne(QStringLiteral("SELECT state FROM sync_images WHERE seq = ?"), {seq});
            if (!still || still->value(QStringLiteral("state")).toString() != QLatin1String("taking"))
                return; // failed, retaken or cancelled meanwhile
            if (!storage.write(object, result.picture)) {
                db.exec(QStringLiteral("UPDATE sync_images SET state = 'failed', updated = ? WHERE seq = ?"),
                        {now(), seq});
                return;
            }
            if (!thumbnail.isEmpty() && !result.thumbnail.isEmpty())
                storage.write(thumbnail, result.thumbnail);
            db.exec(
                QStringLiteral("INSERT OR REPLACE INTO session_files(session_id, kind, name, object, "
                               "thumbnail, origin, created) VALUES(?, ?, ?, ?, ?, 'phone', ?)"),
                {sessionId,
                 type == QLatin1String("D") ? QStringLiteral("dermatoscopic") : QStringLiteral("clinical"),
                 type == QLatin1String("D") ? base : name, object,
                 thumbnail.isEmpty() ? QVariant() : QVariant(thumbnail), now()});
            db.exec(QStringLiteral(
                        "UPDATE sync_images SET state = \'done\', object = ?, updated = ? WHERE seq = ?"),
                    {object, now(), seq});
        });
    QTimer::singleShot(
        std::clamp(settings.uploadDelayMs, 0, 60000), watcher, [watcher, name, type, seed, skin, sizes] {
            watcher->setFuture(QtConcurrent::run([name, type, seed, skin, sizes] {
                const QSize size = type == QLatin1String("D") ? sizes.dermatoscopic : sizes.external;
                const QImage picture = SampleImages::phoneCapture(name, type, seed, skin, size);
                Capture capture;
                capture.picture = SampleImages::jpeg(picture, 88);
                if (type == QLatin1String("D"))
                    capture.thumbnail = SampleImages::jpeg(
                        picture.scaled(sizes.thumbnail, Qt::KeepAspectRatio, Qt::SmoothTransformation), 85);
                return capture;
            }));
        });
}

void DemoSync::tick()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    for (auto it = joinAt.begin(); it != joinAt.end();) {
        if (it.value() <= ms) {
            const QString id = it.key();
            it = joinAt.erase(it);
            join(id);
        } else {
            ++it;
        }
    }
    const auto active = db.select(
        QStringLiteral("SELECT id FROM sync_sessions WHERE has_device = 1 AND expires > ?"), {now()});
    for (const QVariantMap &row : active) {
        const QString id = row.value(QStringLiteral("id")).toString();
        const auto next = current(id);
        if (!next) {
            work.remove(id);
            continue;
        }
        if (next->value(QStringLiteral("state")).toString() != QLatin1String("pending"))
            continue; // being taken
        const qint64 seq = next->value(QStringLiteral("seq")).toLongLong();
        Work &w = work[id];
        if (w.seq != seq) {
            w.seq = seq;
            w.since = ms;
        } else if (ms - w.since >= settings.captureDelayMs) {
            take(id, *next);
        }
    }
}
