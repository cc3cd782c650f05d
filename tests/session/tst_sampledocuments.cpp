// The session documents that the stand-in server generates (documents of the
// kind the device sends) read and write back with nothing lost, name the
// clinical images the server stores, and give their lesions their icons.

#include "RoundTripCheck.h"
#include "SessionTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace SessionTestSupport;

class tst_SampleDocuments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data() { documents(); }
    void roundTrip();
    void clinicalImagesNamedAsStored_data() { documents(); }
    void clinicalImagesNamedAsStored();
    void lesionIconsFromStoredThumbnails_data() { documents(); }
    void lesionIconsFromStoredThumbnails();
    void varietyCovered();

private:
    void documents();
    QSharedPointer<SessionVisualizer> loadSession(const QString &folder, bool withFiles);
    QTemporaryDir m_data;
    QStringList m_folders; // "sessions/<patient>/<session>"
};

void tst_SampleDocuments::initTestCase()
{
    QVERIFY(m_data.isValid());
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start(QStringLiteral(DEMO_SERVER_EXECUTABLE),
                 {"generate", "--data", m_data.path(), "--small", "--reset"});
    QVERIFY2(server.waitForFinished(240000), "the stand-in server did not finish generating");
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);

    const QString root = m_data.path() + "/objects";
    QDirIterator it(root + "/sessions", {"session.json"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        m_folders << QDir(root).relativeFilePath(QFileInfo(path).path());
    }
    m_folders.sort();
    QVERIFY2(m_folders.size() >= 5, qPrintable(m_folders.join(' ')));
}

QSharedPointer<SessionVisualizer> tst_SampleDocuments::loadSession(const QString &folder, bool withFiles)
{
    const QString dir = m_data.path() + "/objects/" + folder;
    QFile file(dir + "/session.json");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList parts = folder.split('/');
    auto session =
        QSharedPointer<SessionVisualizer>::create(folder, parts.value(1).toInt(), parts.value(2).toInt(),
                                                  QJsonDocument::fromJson(file.readAll()), QDateTime());
    if (withFiles) {
        // As the download stores them: a name ending in l.jpg loses the l
        // (code 0), the other variants keep their names.
        for (const QString sub : {"imgL", "dermatoscopic"}) {
            const QFileInfoList files = QDir(dir + "/" + sub).entryInfoList(QDir::Files);
            for (const QFileInfo &info : files) {
                QString name = info.fileName();
                int quality = 1;
                if (name.endsWith("l.jpg")) {
                    name = name.left(name.size() - 5) + ".jpg";
                    quality = 0;
                }
                if (name.endsWith("e.jpg"))
                    quality = -4;
                else if (name.endsWith("m.jpg"))
                    quality = -3;
                else if (name.endsWith("s.jpg"))
                    quality = -2;
                QFile image(info.filePath());
                if (image.open(QIODevice::ReadOnly))
                    session->storeFile(folder + "/" + sub + "/" + name, image.readAll(), quality);
            }
        }
    }
    session->readSessionJson();
    return session;
}

void tst_SampleDocuments::documents()
{
    QTest::addColumn<QString>("folder");
    for (const QString &folder : m_folders)
        QTest::newRow(qPrintable(folder)) << folder;
}

void tst_SampleDocuments::roundTrip()
{
    QFETCH(QString, folder);
    QFile file(m_data.path() + "/objects/" + folder + "/session.json");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject input = QJsonDocument::fromJson(file.readAll()).object();
    QVERIFY(!input.isEmpty());
    auto session = loadSession(folder, false);
    const QJsonObject output = session->getSessionJson().object();
    const QStringList problems = RoundTripCheck::problems(input, output);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));

    const QJsonObject reread = QJsonDocument::fromJson(QJsonDocument(output).toJson()).object();
    auto again = QSharedPointer<SessionVisualizer>::create(folder, 1, 1, QJsonDocument(reread), QDateTime());
    again->readSessionJson();
    QCOMPARE(again->getSessionJson().object(), reread);
}

void tst_SampleDocuments::clinicalImagesNamedAsStored()
{
    QFETCH(QString, folder);
    auto session = loadSession(folder, true);
    int poses = 0;
    for (auto it = session->getAllCameraPoses().constBegin(); it != session->getAllCameraPoses().constEnd();
         ++it) {
        for (const CameraPose &pose : it.value()) {
            const QString path = session->clinicalImagePath(pose, it.key());
            QVERIFY2(session->hasFile(path, -1), qPrintable(path));
            const auto parsed = session->parseClinicalImageName(session->clinicalImageName(pose, it.key()));
            QCOMPARE(parsed.second, it.key());
            ++poses;
        }
    }
    QVERIFY(poses > 0);
}

void tst_SampleDocuments::lesionIconsFromStoredThumbnails()
{
    QFETCH(QString, folder);
    auto session = loadSession(folder, true);
    for (const auto &list : session->getLesions()) {
        for (const auto &lesion : list) {
            if (!lesion->hasDermatoscopicGroups())
                continue;
            const QString thumbnail = session->dermatoscopicPath(lesion->getLastDermatoscopicId() + "s");
            QCOMPARE(!lesion->getIcon().isNull(), session->hasFile(thumbnail, -1));
        }
    }
}

void tst_SampleDocuments::varietyCovered()
{
    // What the round trip above has been shown to survive.
    QSet<int> versions;
    bool withoutCounters = false, singleIdForm = false, listIdForm = false, externalPoses = false;
    for (const QString &folder : m_folders) {
        QFile file(m_data.path() + "/objects/" + folder + "/session.json");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject doc = QJsonDocument::fromJson(file.readAll()).object();
        versions.insert(doc.value("Version").toInt());
        withoutCounters = withoutCounters || !doc.contains("LastLesionID");
        externalPoses =
            externalPoses || !doc.value("CameraPositions").toObject().value("-1").toArray().isEmpty();
        for (const QJsonValue &list : doc.value("Lesions").toObject())
            for (const QJsonValue &lesion : list.toArray())
                for (const QJsonValue &group : lesion.toObject().value("dermatoscopicIds").toArray()) {
                    singleIdForm = singleIdForm || group.isString();
                    listIdForm = listIdForm || group.isArray();
                }
    }
    QVERIFY(versions.contains(0));
    QVERIFY(versions.contains(1));
    QVERIFY(withoutCounters);
    QVERIFY(singleIdForm);
    QVERIFY(listIdForm);
    QVERIFY(externalPoses);

    int withIcons = 0;
    for (const QString &folder : m_folders) {
        const auto session = loadSession(folder, true);
        for (const auto &list : session->getLesions())
            for (const auto &lesion : list)
                withIcons += lesion->getIcon().isNull() ? 0 : 1;
    }
    QVERIFY(withIcons > 0);
}

QTEST_MAIN(tst_SampleDocuments)
#include "tst_sampledocuments.moc"
