#include "app/AppConfiguration.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class tst_AppConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void readsValidFiles_data();
    void readsValidFiles();
    void explainsInvalidFiles_data();
    void explainsInvalidFiles();
    void missingFileIsNamed();
    void shippedFileIsValid();
    void changeThresholds_data();
    void changeThresholds();
};

void tst_AppConfiguration::readsValidFiles_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("warning");

    QTest::newRow("four names")
        << QByteArray(R"({"server":"demo","gui":{"names":["frontal","right","back","left"]}})") << "demo"
        << QStringList{"frontal", "right", "back", "left"} << QString();
    QTest::newRow("order kept") << QByteArray(
                                       R"({"server":"x","gui":{"names":["left","back","right","frontal"]}})")
                                << "x" << QStringList{"left", "back", "right", "frontal"} << QString();
    QTest::newRow("warning kept") << QByteArray(R"({"server":"s","gui":{"names":[],"warning":"Careful"}})")
                                  << "s" << QStringList() << "Careful";
    QTest::newRow("no keys") << QByteArray("{}") << QString() << QStringList() << QString();
    QTest::newRow("gui not an object")
        << QByteArray(R"({"server":"s","gui":[1,2]})") << "s" << QStringList() << QString();
    QTest::newRow("numbers converted") << QByteArray(R"({"gui":{"names":["frontal",2,true]}})") << QString()
                                       << QStringList{"frontal", "2", "true"} << QString();
    QTest::newRow("unicode") << QByteArray(R"({"server":"cl\u00ednica","gui":{"names":["frontal"]}})")
                             << QString::fromUtf8("cl\xc3\xadnica") << QStringList{"frontal"} << QString();
}

void tst_AppConfiguration::readsValidFiles()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, server);
    QFETCH(QStringList, names);
    QFETCH(QString, warning);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("configuration.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(json);
    file.close();

    const AppConfiguration config = AppConfiguration::load(path);
    QVERIFY2(config.valid, qPrintable(config.errorMessage));
    QVERIFY(config.errorMessage.isEmpty());
    QCOMPARE(config.serverName, server);
    QCOMPARE(config.positionNames, names);
    QCOMPARE(config.warning, warning);
    QCOMPARE(config.document, json);
}

void tst_AppConfiguration::explainsInvalidFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("mentions");

    QTest::newRow("truncated") << QByteArray(R"({"server":"demo","gui":{"names":["frontal")")
                               << QStringList{"not valid JSON", "offset"};
    QTest::newRow("trailing comma") << QByteArray(R"({"server":"demo",})")
                                    << QStringList{"not valid JSON", "offset 18"};
    QTest::newRow("empty") << QByteArray() << QStringList{"not valid JSON", "offset 0"};
    QTest::newRow("plain text") << QByteArray("server = demo") << QStringList{"not valid JSON"};
    QTest::newRow("array") << QByteArray(R"(["frontal","right"])") << QStringList{"JSON object"};
    QTest::newRow("string") << QByteArray(R"("demo")") << QStringList{"JSON"};
}

void tst_AppConfiguration::explainsInvalidFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, mentions);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("configuration.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    const AppConfiguration config = AppConfiguration::load(path);
    QVERIFY(!config.valid);
    QVERIFY2(config.errorMessage.contains(path), qPrintable(config.errorMessage));
    for (const QString &word : mentions)
        QVERIFY2(config.errorMessage.contains(word), qPrintable(config.errorMessage));
    QVERIFY(config.positionNames.isEmpty());
}

void tst_AppConfiguration::missingFileIsNamed()
{
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const AppConfiguration config = AppConfiguration::load();
    QDir::setCurrent(old);
    QVERIFY(!config.valid);
    QVERIFY2(config.errorMessage.contains(QLatin1String("./matrius/configuration.json")),
             qPrintable(config.errorMessage));
    QVERIFY2(config.errorMessage.contains(QLatin1String("missing")), qPrintable(config.errorMessage));
}

void tst_AppConfiguration::shippedFileIsValid()
{
    const QString source = qEnvironmentVariable("KELVARIS_SOURCE_DIR");
    QVERIFY(!source.isEmpty());
    const AppConfiguration config =
        AppConfiguration::load(source + QStringLiteral("/resources/matrius/configuration.json"));
    QVERIFY2(config.valid, qPrintable(config.errorMessage));
    QCOMPARE(config.serverName, QStringLiteral("demo"));
    QCOMPARE(config.positionNames, (QStringList{"frontal", "right", "back", "left"}));
}

void tst_AppConfiguration::changeThresholds_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<double>("relative");
    QTest::addColumn<double>("absolute");
    QTest::addColumn<int>("problems");
    QTest::newRow("missing") << QByteArray(R"({"server":"demo"})") << 0.2 << 0.5 << 0;
    QTest::newRow("given") << QByteArray(R"({"changeThresholds":{"relative":0.35,"absolute":1.5}})") << 0.35
                           << 1.5 << 0;
    QTest::newRow("invalid: defaults, and named")
        << QByteArray(R"({"server":"demo","changeThresholds":"20%"})") << 0.2 << 0.5 << 1;
}

void tst_AppConfiguration::changeThresholds()
{
    QFETCH(QByteArray, json);
    QFETCH(double, relative);
    QFETCH(double, absolute);
    QFETCH(int, problems);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("configuration.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(json);
    file.close();
    // An invalid setting never makes the whole file invalid.
    const AppConfiguration config = AppConfiguration::load(path);
    QVERIFY(config.valid);
    QCOMPARE(config.changeThresholds.relative, relative);
    QCOMPARE(config.changeThresholds.absolute, absolute);
    QCOMPARE(config.problems.size(), problems);
    if (problems)
        QVERIFY2(config.problems.first().contains(QLatin1String("changeThresholds")),
                 qPrintable(config.problems.first()));
}

QTEST_APPLESS_MAIN(tst_AppConfiguration)
#include "tst_appconfiguration.moc"
