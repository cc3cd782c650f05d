#include "app/SplitterStateFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_SplitterStateFile : public QObject
{
    Q_OBJECT

private slots:
    void nineStatesRoundTrip();
    void knownBytes_data();
    void knownBytes();
    void damagedFileIsAbsent_data();
    void damagedFileIsAbsent();
    void missingFileIsAbsent();
    void unwritablePlaceFails();

private:
    QTemporaryDir dir;
};

// The nine states through a real file, with a null state and an empty one:
// a writer of raw bytes or a reader that turns null into empty fails here.
void tst_SplitterStateFile::nineStatesRoundTrip()
{
    SplitterStateFile::Layout layout;
    layout.viewStates = {QByteArray("view one"), QByteArray(),         QByteArray("\x00\xff\x10", 3),
                         QByteArray(""),         QByteArray(300, 'x'), QByteArray("view six")};
    layout.vertical = QByteArray("vertical");
    layout.scheme = QByteArray();
    layout.horizontal = QByteArray("horizontal");
    const QString path = dir.filePath(SplitterStateFile::writtenFileName());
    QVERIFY(SplitterStateFile::save(path, layout));

    const std::optional<SplitterStateFile::Layout> read = SplitterStateFile::load(path);
    QVERIFY(read);
    QCOMPARE(read->viewStates.size(), 6);
    QCOMPARE(read->viewStates.at(0), QByteArray("view one"));
    QVERIFY(read->viewStates.at(1).isNull());
    QCOMPARE(read->viewStates.at(2), QByteArray("\x00\xff\x10", 3));
    QVERIFY(!read->viewStates.at(3).isNull());
    QVERIFY(read->viewStates.at(3).isEmpty());
    QCOMPARE(read->viewStates.at(4), QByteArray(300, 'x'));
    QCOMPARE(read->viewStates.at(5), QByteArray("view six"));
    QCOMPARE(read->vertical, QByteArray("vertical"));
    QVERIFY(read->scheme.isNull());
    QCOMPARE(read->horizontal, QByteArray("horizontal"));
}

void tst_SplitterStateFile::knownBytes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("viewStates");
    QTest::addColumn<QByteArray>("firstView");
    QTest::addColumn<QByteArray>("vertical");
    QTest::addColumn<bool>("schemeNull");
    QTest::addColumn<QByteArray>("horizontal");

    // Written by hand: 32-bit big-endian lengths, 0xFFFFFFFF for null.
    QTest::newRow("three states") << QByteArray("\x00\x00\x00\x02"
                                                "ab"
                                                "\xff\xff\xff\xff"
                                                "\x00\x00\x00\x01"
                                                "z",
                                                15)
                                  << 0 << QByteArray() << QByteArray("ab") << true << QByteArray("z");
    QTest::newRow("four states") << QByteArray("\x00\x00\x00\x01"
                                               "v"
                                               "\x00\x00\x00\x00"
                                               "\x00\x00\x00\x01"
                                               "s"
                                               "\x00\x00\x00\x03"
                                               "hor",
                                               21)
                                 << 1 << QByteArray("v") << QByteArray("") << false << QByteArray("hor");
}

// Reads the bytes given and writes the same bytes back: a stream version or
// byte order other than the file's fails both ways.
void tst_SplitterStateFile::knownBytes()
{
    QFETCH(QByteArray, file);
    QFETCH(int, viewStates);
    QFETCH(QByteArray, firstView);
    QFETCH(QByteArray, vertical);
    QFETCH(bool, schemeNull);
    QFETCH(QByteArray, horizontal);

    const QString path = dir.filePath(SplitterStateFile::readFileName());
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(file);
    out.close();

    const std::optional<SplitterStateFile::Layout> read = SplitterStateFile::load(path);
    QVERIFY(read);
    QCOMPARE(read->viewStates.size(), viewStates);
    if (viewStates > 0)
        QCOMPARE(read->viewStates.at(0), firstView);
    QCOMPARE(read->vertical, vertical);
    QVERIFY(!read->vertical.isNull());
    QCOMPARE(read->scheme.isNull(), schemeNull);
    QCOMPARE(read->horizontal, horizontal);
    QCOMPARE(SplitterStateFile::encode(read->toList()), file);
}

void tst_SplitterStateFile::damagedFileIsAbsent_data()
{
    QTest::addColumn<QByteArray>("file");
    const QByteArray whole("\x00\x00\x00\x02"
                           "ab"
                           "\x00\x00\x00\x02"
                           "cd"
                           "\x00\x00\x00\x02"
                           "ef"
                           "\x00\x00\x00\x02"
                           "gh",
                           24);
    // A reader that keeps what it read before the cut would hand "ab", "cd"
    // and "ef" to the wrong splitters.
    QTest::newRow("cut inside the last bytes") << whole.left(23);
    QTest::newRow("cut inside the last length") << whole.left(20);
    QTest::newRow("length beyond the end") << QByteArray("\x00\x00\x00\x02"
                                                         "ab"
                                                         "\x00\x00\x00\x02"
                                                         "cd"
                                                         "\x00\x00\x10\x00"
                                                         "ef",
                                                         18);
    QTest::newRow("two states") << whole.left(12);
    QTest::newRow("empty file") << QByteArray();
}

void tst_SplitterStateFile::damagedFileIsAbsent()
{
    QFETCH(QByteArray, file);
    const QString path = dir.filePath(QStringLiteral("damaged.cfg"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(file);
    out.close();
    QVERIFY(!SplitterStateFile::load(path));
}

void tst_SplitterStateFile::missingFileIsAbsent()
{
    QVERIFY(!SplitterStateFile::load(dir.filePath(QStringLiteral("never-written.cfg"))));
}

void tst_SplitterStateFile::unwritablePlaceFails()
{
    SplitterStateFile::Layout layout;
    layout.vertical = QByteArray("v");
    QVERIFY(
        !SplitterStateFile::save(dir.filePath(QStringLiteral("no-such-folder/splittersNew.cfg")), layout));
}

QTEST_GUILESS_MAIN(tst_SplitterStateFile)
#include "tst_splitterstatefile.moc"
