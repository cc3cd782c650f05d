// The reader of the report list reply.

#include "server/ServerReplies.h"

#include <QTest>

class tst_ReportReplies : public QObject
{
    Q_OBJECT

private slots:
    void reportList_data();
    void reportList();
};

void tst_ReportReplies::reportList_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("count");
    QTest::addColumn<QDate>("firstDate");
    QTest::addColumn<QDate>("firstSessionDate");
    QTest::addColumn<QString>("firstUrl");
    QTest::newRow("empty list") << QByteArray("[]") << true << 0 << QDate() << QDate() << "";
    QTest::newRow("two reports")
        << QByteArray(R"([{"date":"2026-11-20","session_date":"2026-11-17","url":"11/5.pdf?s=ab&e=9"},)"
                      R"({"date":"2025-10-17","session_date":"2025-10-14","url":"11/4.pdf"}])")
        << true << 2 << QDate(2026, 11, 20) << QDate(2026, 11, 17)
        << "https://api.example/getReport/11/5.pdf?s=ab&e=9";
    QTest::newRow("missing keys") << QByteArray(R"([{}])") << true << 1 << QDate() << QDate()
                                  << "https://api.example/getReport/";
    QTest::newRow("an object is no list")
        << QByteArray(R"({"results":[]})") << false << 0 << QDate() << QDate() << "";
}

void tst_ReportReplies::reportList()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, readable);
    QFETCH(int, count);
    QFETCH(QDate, firstDate);
    QFETCH(QDate, firstSessionDate);
    QFETCH(QString, firstUrl);
    const auto list = ServerReplies::reportList(body, QStringLiteral("https://api.example"));
    QCOMPARE(list.has_value(), readable);
    if (!list)
        return;
    QCOMPARE(int(list->size()), count);
    if (count == 0)
        return;
    QCOMPARE(list->front().first.first, firstDate);
    QCOMPARE(list->front().first.second, firstSessionDate);
    QCOMPARE(list->front().second.toString(), firstUrl);
}

QTEST_GUILESS_MAIN(tst_ReportReplies)
#include "tst_reportreplies.moc"
