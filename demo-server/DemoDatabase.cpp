#include "demo-server/DemoDatabase.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {
QAtomicInt connectionCounter;

const char *const schema[] = {
    "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS users (username TEXT PRIMARY KEY, display_name TEXT NOT NULL,"
    " email TEXT NOT NULL, password_hash TEXT NOT NULL, is_doctor INTEGER NOT NULL,"
    " is_patient_admin INTEGER NOT NULL, second_factor TEXT NOT NULL, totp_secret TEXT)",
    "CREATE TABLE IF NOT EXISTS tokens (token_hash TEXT PRIMARY KEY, username TEXT NOT NULL,"
    " stage TEXT NOT NULL, created INTEGER NOT NULL, expires INTEGER NOT NULL,"
    " absolute_expiry INTEGER NOT NULL, attempts INTEGER NOT NULL DEFAULT 0,"
    " mail_code_hash TEXT, mail_code_expires INTEGER)",
    "CREATE TABLE IF NOT EXISTS patients (id INTEGER PRIMARY KEY, center_id TEXT NOT NULL UNIQUE,"
    " first_name TEXT NOT NULL, last_name TEXT NOT NULL, tag TEXT, birthdate TEXT,"
    " email TEXT, created INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS sessions (id INTEGER PRIMARY KEY, patient_id INTEGER NOT NULL,"
    " date TEXT NOT NULL, has_document INTEGER NOT NULL)",
    // Files added to a session after it was made: uploads and phone captures.
    "CREATE TABLE IF NOT EXISTS session_files (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " session_id INTEGER NOT NULL, kind TEXT NOT NULL, name TEXT NOT NULL,"
    " object TEXT NOT NULL, thumbnail TEXT, origin TEXT NOT NULL, created INTEGER NOT NULL,"
    " UNIQUE(session_id, kind, name))",
    "CREATE TABLE IF NOT EXISTS upload_targets (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " object TEXT NOT NULL, expires INTEGER NOT NULL, purpose TEXT NOT NULL,"
    " patient_id INTEGER, session_id INTEGER, name TEXT, report_id INTEGER,"
    " username TEXT, created INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS upload_targets_object ON upload_targets(object, expires)",
    "CREATE TABLE IF NOT EXISTS uploads (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " time INTEGER NOT NULL, purpose TEXT NOT NULL, object TEXT NOT NULL, size INTEGER NOT NULL,"
    " patient_id INTEGER, session_id INTEGER, name TEXT, username TEXT)",
    "CREATE TABLE IF NOT EXISTS sync_sessions (id TEXT PRIMARY KEY, session_id INTEGER NOT NULL,"
    " username TEXT NOT NULL, created INTEGER NOT NULL, expires INTEGER NOT NULL,"
    " has_device INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS sync_images (seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " sync_id TEXT NOT NULL, name TEXT NOT NULL, type TEXT NOT NULL, round INTEGER NOT NULL,"
    " state TEXT NOT NULL, object TEXT, updated INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS reports (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " patient_id INTEGER NOT NULL, session_id INTEGER NOT NULL, date TEXT NOT NULL,"
    " object TEXT NOT NULL, state TEXT NOT NULL, username TEXT)",
    "CREATE TABLE IF NOT EXISTS report_templates (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " clinic TEXT NOT NULL, filename TEXT NOT NULL, object TEXT NOT NULL)",
};
} // namespace

DemoDatabase::DemoDatabase(QString f)
    : file(std::move(f)),
      connection(QStringLiteral("demoserver-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
{
}

DemoDatabase::~DemoDatabase()
{
    close();
}

bool DemoDatabase::open(QString *errorText)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(file);
        if (!db.open()) {
            *errorText = db.lastError().text();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(connection);
            return false;
        }
    }
    exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    if (!createSchema()) {
        *errorText = error;
        close();
        return false;
    }
    return true;
}

void DemoDatabase::close()
{
    if (!QSqlDatabase::contains(connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

bool DemoDatabase::isOpen() const
{
    return QSqlDatabase::contains(connection) && QSqlDatabase::database(connection, false).isOpen();
}

bool DemoDatabase::createSchema()
{
    for (const char *statement : schema) {
        if (!exec(QString::fromLatin1(statement)))
            return false;
    }
    return true;
}

QList<QVariantMap> DemoDatabase::select(const QString &sql, const QVariantList &args) const
{
    QList<QVariantMap> rows;
    QSqlQuery query(QSqlDatabase::database(connection, false));
    query.prepare(sql);
    for (const QVariant &a : args)
        query.addBindValue(a);
    if (!query.exec()) {
        error = query.lastError().text();
        return rows;
    }
    while (query.next()) {
        const QSqlRecord record = query.record();
        QVariantMap row;
        for (int i = 0; i < record.count(); ++i)
            row.insert(record.fieldName(i), record.value(i));
        rows.append(row);
    }
    return rows;
}

std::optional<QVariantMap> DemoDatabase::selectOne(const QString &sql, const QVariantList &args) const
{
    const QList<QVariantMap> rows = select(sql, args);
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first();
}

bool DemoDatabase::exec(const QString &sql, const QVariantList &args, qint64 *lastId)
{
    QSqlQuery query(QSqlDatabase::database(connection, false));
    if (!query.prepare(sql)) {
        error = query.lastError().text();
        return false;
    }
    for (const QVariant &a : args)
        query.addBindValue(a);
    if (!query.exec()) {
        error = query.lastError().text();
        return false;
    }
    if (lastId)
        *lastId = query.lastInsertId().toLongLong();
    return true;
}

bool DemoDatabase::transaction()
{
    return QSqlDatabase::database(connection, false).transaction();
}

bool DemoDatabase::commit()
{
    return QSqlDatabase::database(connection, false).commit();
}

void DemoDatabase::rollback()
{
    QSqlDatabase::database(connection, false).rollback();
}

QString DemoDatabase::meta(const QString &key) const
{
    const auto row = selectOne(QStringLiteral("SELECT value FROM meta WHERE key = ?"), {key});
    return row ? row->value(QStringLiteral("value")).toString() : QString();
}

bool DemoDatabase::setMeta(const QString &key, const QString &value)
{
    return exec(QStringLiteral("INSERT INTO meta(key, value) VALUES(?, ?) "
                               "ON CONFLICT(key) DO UPDATE SET value = excluded.value"),
                {key, value});
}
