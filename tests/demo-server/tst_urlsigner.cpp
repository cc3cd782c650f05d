#include "demo-server/UrlSigner.h"

#include <QTest>

class tst_UrlSigner : public QObject
{
    Q_OBJECT
private slots:
    void checks_data();
    void checks();
    void secretsDiffer();
};

void tst_UrlSigner::checks_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("query");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<int>("expected");

    const UrlSigner signer("secret");
    const QString path = QStringLiteral("/storage/sessions/11/101/session.json");
    const qint64 expires = 1000;
    const QString good = signer.query(QStringLiteral("GET"), path, expires);
    const QString signature = signer.signature(QStringLiteral("GET"), path, expires);

    QTest::newRow("valid") << "GET" << path << good << qint64(999) << int(UrlSigner::Check::Valid);
    QTest::newRow("valid at the last second")
        << "GET" << path << good << qint64(1000) << int(UrlSigner::Check::Valid);
    QTest::newRow("expired") << "GET" << path << good << qint64(1001) << int(UrlSigner::Check::Expired);
    QTest::newRow("other method") << "PUT" << path << good << qint64(0)
                                  << int(UrlSigner::Check::BadSignature);
    QTest::newRow("other path") << "GET" << QStringLiteral("/storage/sessions/11/102/session.json") << good
                                << qint64(0) << int(UrlSigner::Check::BadSignature);
    QTest::newRow("longer expiry") << "GET" << path << QStringLiteral("expires=99999&signature=") + signature
                                   << qint64(0) << int(UrlSigner::Check::BadSignature);
    QString flipped = signature;
    flipped[10] = flipped[10] == QLatin1Char('a') ? QLatin1Char('b') : QLatin1Char('a');
    QTest::newRow("one hex digit changed")
        << "GET" << path << QStringLiteral("expires=1000&signature=") + flipped << qint64(0)
        << int(UrlSigner::Check::BadSignature);
    QTest::newRow("no signature") << "GET" << path << QStringLiteral("expires=1000") << qint64(0)
                                  << int(UrlSigner::Check::Missing);
    QTest::newRow("no query") << "GET" << path << QString() << qint64(0) << int(UrlSigner::Check::Missing);
    QTest::newRow("short signature") << "GET" << path << QStringLiteral("expires=1000&signature=abc")
                                     << qint64(0) << int(UrlSigner::Check::Malformed);
    QTest::newRow("expiry not a number")
        << "GET" << path << QStringLiteral("expires=soon&signature=") + signature << qint64(0)
        << int(UrlSigner::Check::Malformed);
}

void tst_UrlSigner::checks()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(QString, query);
    QFETCH(qint64, now);
    QFETCH(int, expected);
    const UrlSigner signer("secret");
    QCOMPARE(int(signer.check(method, path, QUrlQuery(query), now)), expected);
}

void tst_UrlSigner::secretsDiffer()
{
    const UrlSigner a("one"), b("two");
    const QString path = QStringLiteral("/storage/x.jpg");
    QVERIFY(a.check(QStringLiteral("GET"), path, QUrlQuery(b.query(QStringLiteral("GET"), path, 50)), 0) ==
            UrlSigner::Check::BadSignature);
}

QTEST_GUILESS_MAIN(tst_UrlSigner)
#include "tst_urlsigner.moc"
