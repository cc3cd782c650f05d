#include "demo-server/DemoServer.h"
#include "demo-server/Totp.h"

#include <QTest>

class tst_Totp : public QObject
{
    Q_OBJECT
private slots:
    void hotpVectors_data();
    void hotpVectors();
    void totpVectors_data();
    void totpVectors();
    void skew_data();
    void skew();
    void rejectsMalformedCodes_data();
    void rejectsMalformedCodes();
    void base32_data();
    void base32();
    void base32RejectsForeignCharacters();
    void demoAccountsHaveCodes();
};

// RFC 4226, appendix D: secret "12345678901234567890".
void tst_Totp::hotpVectors_data()
{
    QTest::addColumn<quint64>("counter");
    QTest::addColumn<QString>("code");
    const char *codes[] = {"755224", "287082", "359152", "969429", "338314",
                           "254676", "287922", "162583", "399871", "520489"};
    for (quint64 i = 0; i < 10; ++i)
        QTest::newRow(qPrintable(QStringLiteral("counter %1").arg(i))) << i << QString::fromLatin1(codes[i]);
}

void tst_Totp::hotpVectors()
{
    QFETCH(quint64, counter);
    QFETCH(QString, code);
    QCOMPARE(Totp::hotp("12345678901234567890", counter), code);
}

// RFC 6238, appendix B, SHA-1 rows (eight digits).
void tst_Totp::totpVectors_data()
{
    QTest::addColumn<qint64>("time");
    QTest::addColumn<QString>("code");
    QTest::newRow("59") << qint64(59) << QStringLiteral("94287082");
    QTest::newRow("1111111109") << qint64(1111111109) << QStringLiteral("07081804");
    QTest::newRow("1111111111") << qint64(1111111111) << QStringLiteral("14050471");
    QTest::newRow("1234567890") << qint64(1234567890) << QStringLiteral("89005924");
    QTest::newRow("2000000000") << qint64(2000000000) << QStringLiteral("69279037");
    QTest::newRow("20000000000") << qint64(20000000000) << QStringLiteral("65353130");
}

void tst_Totp::totpVectors()
{
    QFETCH(qint64, time);
    QFETCH(QString, code);
    QCOMPARE(Totp::code("12345678901234567890", time, 8), code);
    // Six digits are the last six of the same value.
    QCOMPARE(Totp::code("12345678901234567890", time), code.right(6));
}

void tst_Totp::skew_data()
{
    QTest::addColumn<qint64>("codeTime");
    QTest::addColumn<bool>("accepted");
    const qint64 t = 1700000015; // inside a step
    QTest::newRow("same step") << t << true;
    QTest::newRow("one step early") << t - 30 << true;
    QTest::newRow("one step late") << t + 30 << true;
    QTest::newRow("two steps early") << t - 60 << false;
    QTest::newRow("two steps late") << t + 60 << false;
}

void tst_Totp::skew()
{
    QFETCH(qint64, codeTime);
    QFETCH(bool, accepted);
    const QByteArray key = "12345678901234567890";
    QCOMPARE(Totp::verify(key, Totp::code(key, codeTime), 1700000015), accepted);
}

void tst_Totp::rejectsMalformedCodes_data()
{
    QTest::addColumn<QString>("candidate");
    QTest::newRow("empty") << QString();
    QTest::newRow("five digits") << QStringLiteral("12345");
    QTest::newRow("seven digits") << QStringLiteral("1234567");
    QTest::newRow("letters") << QStringLiteral("12a456");
    QTest::newRow("arabic-indic digits") << QStringLiteral("١٢٣٤٥٦");
}

void tst_Totp::rejectsMalformedCodes()
{
    QFETCH(QString, candidate);
    QVERIFY(!Totp::verify("12345678901234567890", candidate, 1700000015));
}

void tst_Totp::base32_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    // RFC 4648, section 10.
    QTest::newRow("f") << QStringLiteral("MY======") << QByteArray("f");
    QTest::newRow("fo") << QStringLiteral("MZXQ====") << QByteArray("fo");
    QTest::newRow("foo") << QStringLiteral("MZXW6===") << QByteArray("foo");
    QTest::newRow("foob") << QStringLiteral("MZXW6YQ=") << QByteArray("foob");
    QTest::newRow("fooba") << QStringLiteral("MZXW6YTB") << QByteArray("fooba");
    QTest::newRow("foobar") << QStringLiteral("MZXW6YTBOI======") << QByteArray("foobar");
    QTest::newRow("lower case") << QStringLiteral("mzxw6ytboi") << QByteArray("foobar");
}

void tst_Totp::base32()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    bool ok = false;
    QCOMPARE(Totp::fromBase32(text, &ok), bytes);
    QVERIFY(ok);
    QCOMPARE(Totp::fromBase32(Totp::toBase32(bytes)), bytes);
}

void tst_Totp::base32RejectsForeignCharacters()
{
    bool ok = true;
    QVERIFY(Totp::fromBase32(QStringLiteral("MZXW1"), &ok).isEmpty());
    QVERIFY(!ok);
}

void tst_Totp::demoAccountsHaveCodes()
{
    const QByteArray key = Totp::fromBase32(DemoServer::totpSecret());
    QCOMPARE(key.size(), 20);
    const qint64 t = 1800000000;
    QCOMPARE(DemoServer::totpCode(QStringLiteral("doctor.totp"), t), Totp::code(key, t));
    QCOMPARE(DemoServer::totpCode(QStringLiteral("doctor.flows"), t), Totp::code(key, t));
    QVERIFY(DemoServer::totpCode(QStringLiteral("doctor"), t).isEmpty());
    QVERIFY(DemoServer::totpCode(QStringLiteral("nobody"), t).isEmpty());
}

QTEST_GUILESS_MAIN(tst_Totp)
#include "tst_totp.moc"
