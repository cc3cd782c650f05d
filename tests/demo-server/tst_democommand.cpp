#include "DemoTestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>

// The demo-server program as the demo script and a user run it.
class tst_DemoCommand : public QObject
{
    Q_OBJECT
private slots:
    void totp_data();
    void totp();
    void badArguments_data();
    void badArguments();
    void serves();
    void repeatedFaultsAddUp();
    void generatesEverything();
    void writesTheViewerConfiguration();
};

void tst_DemoCommand::totp_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("authenticator account") << "doctor.totp" << 0;
    QTest::newRow("code flow account") << "doctor.flows" << 0;
    QTest::newRow("account without authenticator") << "doctor" << 2;
}

void tst_DemoCommand::totp()
{
    QFETCH(QString, user);
    QFETCH(int, exitCode);
    QProcess process;
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    process.start(QStringLiteral(DEMO_SERVER_EXECUTABLE), {QStringLiteral("totp"), user});
    QVERIFY(process.waitForFinished(30000));
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    QCOMPARE(process.exitCode(), exitCode);
    if (exitCode != 0)
        return;
    const QString code = QString::fromLatin1(process.readAllStandardOutput()).trimmed();
    QVERIFY(code == DemoServer::totpCode(user, before) || code == DemoServer::totpCode(user, after));
}

void tst_DemoCommand::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown fault group") << QStringList{"--fault", "cache:latency=1"};
    QTest::newRow("phone mode") << QStringList{"--phone", "sometimes"};
    QTest::newRow("port") << QStringList{"--port", "many"};
    QTest::newRow("command") << QStringList{"dance"};
}

void tst_DemoCommand::badArguments()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QProcess process;
    process.start(QStringLiteral(DEMO_SERVER_EXECUTABLE),
                  QStringList{"--data", dir.path(), "--small"} + arguments);
    QVERIFY(process.waitForFinished(60000));
    QVERIFY(process.exitCode() != 0);
    QVERIFY(!process.readAllStandardError().isEmpty());
}

void tst_DemoCommand::serves()
{
    QTemporaryDir dir;
    QProcess process;
    process.start(QStringLiteral(DEMO_SERVER_EXECUTABLE),
                  {QStringLiteral("--data"), dir.path(), QStringLiteral("--port"), QStringLiteral("0"),
                   QStringLiteral("--small")});
    QVERIFY(process.waitForStarted());
    const QRegularExpression listening(QStringLiteral("listening on (https://127\\.0\\.0\\.1:\\d+)"));
    QString base, output;
    QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromLocal8Bit(process.readAllStandardOutput()),
                              listening.match(output).hasMatch()),
                             60000);
    base = listening.match(output).captured(1);
    TestClient client;
    const HttpResult r = client.get(base + QStringLiteral("/api/server/demo/"), false);
    QCOMPARE(r.status, 200);
    QCOMPARE(r.object().value(QStringLiteral("endpoint")).toString(), base);
    // Without --control the test controls are not there.
    QCOMPARE(client.get(base + QStringLiteral("/control/totp/doctor.totp"), false).status, 404);
    // One line per request: method, path, status, time.
    QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromLocal8Bit(process.readAllStandardOutput()),
                              output.contains(QStringLiteral("GET /api/server/demo/ 200 "))),
                             5000);
    process.kill();
    process.waitForFinished();
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("demo.sqlite"))));
}

void tst_DemoCommand::repeatedFaultsAddUp()
{
    QTemporaryDir dir;
    QProcess process;
    process.start(QStringLiteral(DEMO_SERVER_EXECUTABLE),
                  {QStringLiteral("--data"), dir.path(), QStringLiteral("--port"), QStringLiteral("0"),
                   QStringLiteral("--small"), QStringLiteral("--quiet"), QStringLiteral("--no-warm-up"),
                   QStringLiteral("--control"), QStringLiteral("--fault"), QStringLiteral("auth:latency=300"),
                   QStringLiteral("--fault"), QStringLiteral("auth:fail=2,status=500"),
                   QStringLiteral("--fault"), QStringLiteral("auth:challenge"), QStringLiteral("--fault"),
                   QStringLiteral("storage-get:truncate")});
    QVERIFY(process.waitForStarted());
    const QRegularExpression listening(QStringLiteral("listening on (https://127\\.0\\.0\\.1:\\d+)"));
    QString output;
    QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromLocal8Bit(process.readAllStandardOutput()),
                              listening.match(output).hasMatch()),
                             60000);
    const QString base = listening.match(output).captured(1);
    TestClient client;
    const QJsonObject faults = client.get(base + QStringLiteral("/control/faults"), false).object();
    process.kill();
    process.waitForFinished();
    const QJsonObject auth = faults.value(QStringLiteral("auth")).toObject();
    QCOMPARE(auth.value(QStringLiteral("latencyMs")).toInt(), 300);
    QCOMPARE(auth.value(QStringLiteral("failNext")).toInt(), 2);
    QCOMPARE(auth.value(QStringLiteral("failStatus")).toInt(), 500);
    QCOMPARE(auth.value(QStringLiteral("challenge")).toBool(), true);
    QCOMPARE(
        faults.value(QStringLiteral("storage-get")).toObject().value(QStringLiteral("truncate")).toBool(),
        true);
    QCOMPARE(faults.size(), 2);
}

void tst_DemoCommand::generatesEverything()
{
    QTemporaryDir dir;
    QProcess process;
    process.start(
        QStringLiteral(DEMO_SERVER_EXECUTABLE),
        {QStringLiteral("generate"), QStringLiteral("--data"), dir.path(), QStringLiteral("--small")});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("(\\d+) pictures made")).match(output);
    QVERIFY2(m.hasMatch(), qPrintable(output));
    const int made = m.captured(1).toInt();
    QVERIFY(made > 300);
    int files = 0;
    QDirIterator it(dir.filePath(QStringLiteral("objects/sessions")), {QStringLiteral("*.jpg")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++files;
    }
    QCOMPARE(files, made);
}

void tst_DemoCommand::writesTheViewerConfiguration()
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("base.json"));
    QFile in(base);
    QVERIFY(in.open(QIODevice::WriteOnly));
    in.write(
        R"({"gui": {"names": ["a", "b"], "warning": "w"}, "server": "https://elsewhere.example", "extra": 5})");
    in.close();
    const QString target = dir.filePath(QStringLiteral("configuration.json"));
    QCOMPARE(QProcess::execute(QStringLiteral(DEMO_SERVER_EXECUTABLE),
                               {QStringLiteral("configure"), target, base, QStringLiteral("--port"),
                                QStringLiteral("9443")}),
             0);
    QFile out(target);
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QJsonObject config = QJsonDocument::fromJson(out.readAll()).object();
    QCOMPARE(config.value(QStringLiteral("directory")).toString(), QStringLiteral("https://127.0.0.1:9443"));
    QCOMPARE(config.value(QStringLiteral("server")).toString(), QStringLiteral("https://127.0.0.1:9443"));
    QCOMPARE(config.value(QStringLiteral("caCertificates")).toArray(),
             QJsonArray{DemoServer::caCertificatePath()});
    QCOMPARE(config.value(QStringLiteral("extra")).toInt(), 5);
    QCOMPARE(config.value(QStringLiteral("gui")).toObject().value(QStringLiteral("names")).toArray().size(),
             2);
    // Without a base the position names are the device's.
    const QString plain = dir.filePath(QStringLiteral("plain.json"));
    QCOMPARE(QProcess::execute(QStringLiteral(DEMO_SERVER_EXECUTABLE), {QStringLiteral("configure"), plain}),
             0);
    QFile plainFile(plain);
    QVERIFY(plainFile.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(plainFile.readAll())
                 .object()
                 .value(QStringLiteral("gui"))
                 .toObject()
                 .value(QStringLiteral("names"))
                 .toArray()
                 .size(),
             4);
    QVERIFY(QProcess::execute(QStringLiteral(DEMO_SERVER_EXECUTABLE), {QStringLiteral("configure")}) != 0);
}

QTEST_MAIN(tst_DemoCommand)
#include "tst_democommand.moc"
