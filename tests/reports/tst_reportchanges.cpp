#include "app/SessionLoader.h"
#include "reports/QtReportWidget.h"
#include "reports/ReportChangesSection.h"
#include "reports/ReportPage.h"
#include "session/LesionChangeSummary.h"
#include "session/SessionVisualizer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <map>

namespace {

using Sessions = std::map<int, QSharedPointer<SessionVisualizer>>;

QJsonObject lesion(int number, double radius, const QString &label = QStringLiteral("Captured"))
{
    const QJsonObject box{{"x", 100}, {"y", 100}, {"w", 40}, {"h", 40}};
    return QJsonObject{{"numericID", number},
                       {"radius", radius},
                       {"lesionLabel", label},
                       {"bbox", box},
                       {"instancesBbox", QJsonArray{box}}};
}

QSharedPointer<SessionVisualizer> session(int id, const QDate &day, const QJsonArray &frontal,
                                          const QJsonArray &second, const QString &secondName)
{
    const QJsonObject document{{"PositionNames", QJsonArray{"frontal", secondName, "back", "left"}},
                               {"Version", 1},
                               {"Lesions", QJsonObject{{"0", frontal}, {"1", second}}}};
    auto made = QSharedPointer<SessionVisualizer>::create(
        QStringLiteral("sessions/7/%1").arg(id), 7, id, QJsonDocument(document), QDateTime(day, QTime(9, 0)));
    made->readSessionJson();
    return made;
}

// 11 then 12: frontal 1 grew, 2 was excised, 3 is new, 4 stayed; on the
// second position (named by the document) 1 shrank and 2 is gone.
Sessions patient(const QString &secondName)
{
    Sessions sessions;
    sessions[11] =
        session(11, QDate(2026, 3, 31), {lesion(1, 2.0), lesion(2, 2.0, "Exeresis"), lesion(4, 1.0)},
                {lesion(1, 4.0), lesion(2, 1.5, "Follow up")}, secondName);
    sessions[12] = session(12, QDate(2026, 11, 17), {lesion(1, 2.6), lesion(3, 3.0), lesion(4, 1.0)},
                           {lesion(1, 3.0)}, secondName);
    SessionLoader::linkSameLesions(sessions);
    return sessions;
}

LesionChangeSummary summaryOf(const Sessions &sessions, int principal)
{
    LesionChangeSummary::SessionList list;
    for (const auto &entry : sessions)
        list.push_back(entry.second);
    return LesionChangeSummary::compute(sessions.at(principal), list);
}

void release(const Sessions &sessions)
{
    for (const auto &entry : sessions)
        entry.second->releaseHistoricLinks();
}

} // namespace

class tst_ReportChanges : public QObject
{
    Q_OBJECT

private slots:
    void rows();
    void documentTextsCannotBecomeMarkup();
    void editorOffersTheTable();
    void noTableWithoutAnEarlierVisit();
};

void tst_ReportChanges::rows()
{
    const Sessions sessions = patient(QStringLiteral("right"));
    const auto rows = ReportChangesSection::rowsOf(summaryOf(sessions, 12));
    QStringList texts;
    for (const ReportChangesSection::Row &row : rows)
        texts << QStringList{row.status, row.lesion, row.position, row.radiusThen, row.radiusNow, row.change}
                     .join(QLatin1Char('|'));
    const QString minus(QChar(0x2212));
    const QString none(QChar(0x2014));
    QCOMPARE(texts, (QStringList{
                        "grown|0_1|frontal|2.00|2.60|+0.60 (+30 %)",
                        "new|0_3|frontal|" + none + "|3.00|" + none,
                        "shrunk|1_1|right|4.00|3.00|" + minus + "1.00 (" + minus + "25 %)",
                        "excised|0_2|frontal|2.00|" + none + "|" + none,
                        "gone|1_2|right|1.50|" + none + "|" + none,
                    }));
    release(sessions);
}

void tst_ReportChanges::documentTextsCannotBecomeMarkup()
{
    // A position name from a session document that tries to add markup and
    // to fill the page's placeholders.
    const QString hostile = QStringLiteral("<img src=x onerror=alert(1)>[patientName]%1");
    const Sessions sessions = patient(hostile);
    const auto rows = ReportChangesSection::rowsOf(summaryOf(sessions, 12));
    const QString table = ReportChangesSection::tableHtml(QStringLiteral("Changes <since> [doctorName]"),
                                                          QStringLiteral("caption [serverName]"), rows);
    QVERIFY(!table.contains(QLatin1String("<img")));
    QVERIFY(table.contains(QLatin1String("&lt;img src=x onerror=alert(1)&gt;&#91;patientName]%1")));
    QVERIFY(!table.contains(QLatin1String("[patientName]")));
    QVERIFY(!table.contains(QLatin1String("[doctorName]")));
    QVERIFY(!table.contains(QLatin1String("[serverName]")));

    ReportPage::Fields fields;
    fields.patientName = QStringLiteral("Marta");
    fields.doctorName = QStringLiteral("Dr. Vidal");
    fields.serverName = QStringLiteral("demo");
    const QString page = ReportPage::assemble(
        QStringLiteral("<p>[patientName] [doctorName] [serverName]</p>[sections]"), fields, table, false, {});
    QCOMPARE(page.count(QStringLiteral("Marta")), 1);
    QCOMPARE(page.count(QStringLiteral("Dr. Vidal")), 1);
    QCOMPARE(page.count(QStringLiteral("<table")), 1);
    // Two rows of the hostile position, each one cell.
    QCOMPARE(page.count(QStringLiteral("&lt;img")), 2);
    release(sessions);
}

void tst_ReportChanges::editorOffersTheTable()
{
    const Sessions sessions = patient(QStringLiteral("right"));
    QtReportWidget editor(QStringLiteral("Dr. Vidal"), QStringLiteral("Marta"), QStringLiteral("demo"),
                          sessions.at(12));
    ReportChangesSection *section = editor.changesSection;
    QVERIFY(section);
    // Hidden until there is something to offer (the editor page itself is
    // not the current one here).
    QVERIFY(section->isHidden());
    editor.setChangeSummary(summaryOf(sessions, 12));
    QVERIFY(!section->isHidden());
    QCOMPARE(section->titleLabel->text(), QStringLiteral("Include changes since the last visit"));
    QVERIFY(section->summaryLabel->text().startsWith(
        QStringLiteral("Since 2026-03-31: 1 new, 1 grown, 1 shrunk, 1 gone, 1 excised")));

    // Off until the doctor asks for it.
    QVERIFY(!editor.sectionsHtml().contains(QLatin1String("<table")));
    section->switchButton->click();
    const QString html = editor.sectionsHtml();
    QCOMPARE(html.count(QStringLiteral("<tr>")), 6);
    QVERIFY(html.contains(QLatin1String("Changes since the last visit")));
    QVERIFY(html.contains(QLatin1String("+0.60 (+30 %)")));
    section->switchButton->click();
    QVERIFY(editor.sectionsHtml().isEmpty());
    release(sessions);
}

void tst_ReportChanges::noTableWithoutAnEarlierVisit()
{
    const Sessions sessions = patient(QStringLiteral("right"));
    QtReportWidget editor(QStringLiteral("Dr. Vidal"), QStringLiteral("Marta"), QStringLiteral("demo"),
                          sessions.at(11));
    editor.setChangeSummary(summaryOf(sessions, 11));
    QVERIFY(!editor.changesSection->isAvailable());
    QVERIFY(editor.changesSection->isHidden());
    editor.changesSection->switchButton->setChecked(true);
    QVERIFY(editor.sectionsHtml().isEmpty());
    release(sessions);
}

QTEST_MAIN(tst_ReportChanges)
#include "tst_reportchanges.moc"
