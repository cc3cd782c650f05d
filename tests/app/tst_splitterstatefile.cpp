#include "app/SplitterStateFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// "n" for a null state, "." for any other, in file order.
QString nullsOf(const QList<QByteArray> &states)
{
    QString marks;
    for (const QByteArray &state : states)
        marks += state.isNull() ? QLatin1Char('n') : QLatin1Char('.');
    return marks;
}

} // namespace

class tst_SplitterStateFile : public QObject
{
    Q_OBJECT

private slots:
    void nineStatesRoundTrip();
    void knownBytes_data();
    void knownBytes();
    void damagedFileIsAbsent_data();
    void damagedFileIsAbsent();

private:
    QTemporaryDir dir;
};

// A writer of raw bytes, or a reader that turns a null state into an empty
// one, fails here.
void tst_SplitterStateFile::nineStatesRoundTrip()
{
    SplitterStateFile::Layout layout;
    layout.viewStates = {"view one", QByteArray(),         QByteArray("\x00\xff", 2),
                         "",         QByteArray(300, 'x'), "six"};
    layout.vertical = "vertical";
    layout.horizontal = "horizontal";
    const QString path = dir.filePath(SplitterStateFile::writtenFileName());
    QVERIFY(SplitterStateFile::save(path, layout));
    const std::optional<SplitterStateFile::Layout> read = SplitterStateFile::load(path);
    QVERIFY(read);
    QCOMPARE(read->toList(), layout.toList());
    QCOMPARE(nullsOf(read->toList()), QStringLiteral(".n.....n."));
    QVERIFY(!SplitterStateFile::load(dir.filePath(QStringLiteral("never-written.cfg"))));
}

void tst_SplitterStateFile::knownBytes_data()
{
    QTest::addColumn<QByteArray>("hex"); // 32-bit big-endian lengths, ffffffff for null
    QTest::addColumn<int>("viewStates");
    QTest::addColumn<QList<QByteArray>>("states");
    QTest::addColumn<QString>("nulls");
    QTest::newRow("three") << QByteArray("00000002 6162  ffffffff  00000001 7a") << 0
                           << QList<QByteArray>{"ab", {}, "z"} << ".n.";
    QTest::newRow("four") << QByteArray("00000001 76  00000000  00000001 73  00000003 686f72") << 1
                          << QList<QByteArray>{"v", "", "s", "hor"} << "....";
}

// Another stream version or byte order fails reading or writing these.
void tst_SplitterStateFile::knownBytes()
{
    QFETCH(QByteArray, hex);
    QFETCH(int, viewStates);
    QFETCH(QList<QByteArray>, states);
    QFETCH(QString, nulls);
    const QString path = dir.filePath(SplitterStateFile::readFileName());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromHex(hex));
    file.close();
    const std::optional<SplitterStateFile::Layout> read = SplitterStateFile::load(path);
    QVERIFY(read);
    QCOMPARE(read->viewStates.size(), viewStates);
    QCOMPARE(read->toList(), states);
    QCOMPARE(nullsOf(read->toList()), nulls);
    QCOMPARE(SplitterStateFile::encode(read->toList()), QByteArray::fromHex(hex));
}

void tst_SplitterStateFile::damagedFileIsAbsent_data()
{
    // "ab" "cd" "ef" "gh", cut or broken: a reader that keeps what came
    // before the damage hands the states to the wrong splitters.
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("cut in the bytes") << QByteArray("00000002 6162 00000002 6364 00000002 6566 00000002 67");
    QTest::newRow("cut in a length") << QByteArray("00000002 6162 00000002 6364 00000002 6566 0000");
    QTest::newRow("length past the end") << QByteArray("00000002 6162 00000002 6364 00001000 6566");
    QTest::newRow("two states") << QByteArray("00000002 6162 00000002 6364");
    QTest::newRow("empty") << QByteArray();
}

void tst_SplitterStateFile::damagedFileIsAbsent()
{
    QFETCH(QByteArray, hex);
    const QString path = dir.filePath(QStringLiteral("damaged.cfg"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromHex(hex));
    file.close();
    QVERIFY(!SplitterStateFile::load(path));
}

QTEST_GUILESS_MAIN(tst_SplitterStateFile)
#include "tst_splitterstatefile.moc"
