#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

// The server's SQLite database: users, tokens, patients, sessions, upload
// targets, sync sessions and reports. One connection, used on the thread that
// opened it.
class DemoDatabase
{
public:
    explicit DemoDatabase(QString file);
    ~DemoDatabase();
    DemoDatabase(const DemoDatabase &) = delete;
    DemoDatabase &operator=(const DemoDatabase &) = delete;

    bool open(QString *error);
    void close();
    bool isOpen() const;

    QList<QVariantMap> select(const QString &sql, const QVariantList &args = {}) const;
    std::optional<QVariantMap> selectOne(const QString &sql, const QVariantList &args = {}) const;
    // Runs a statement; lastId receives the row id an insert made.
    bool exec(const QString &sql, const QVariantList &args = {}, qint64 *lastId = nullptr);
    bool transaction();
    bool commit();
    void rollback();

    QString meta(const QString &key) const;
    bool setMeta(const QString &key, const QString &value);
    QString lastError() const { return error; }

private:
    bool createSchema();

    QString file;
    QString connection;
    mutable QString error;
};
