#include "app/SessionLoader.h"
#include "session/LesionChangeSummary.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <map>

namespace {

using Summary = LesionChangeSummary;
using Sessions = std::map<int, QSharedPointer<SessionVisualizer>>;

// Sessions written as text, one per "|":
//   "<id> <yyyy-MM-dd or -> : <position>/<number>=<radius> [label], ..."
// Every lesion has one appearance and is labelled "Captured" unless a label
// follows its radius.
Sessions makeSessions(const QString &text)
{
    Sessions sessions;
    for (const QString &part : text.split(QLatin1Char('|'))) {
        const QString head = part.section(QLatin1Char(':'), 0, 0).trimmed();
        const QString body = part.section(QLatin1Char(':'), 1).trimmed();
        const int id = head.section(QLatin1Char(' '), 0, 0).toInt();
        const QString day = head.section(QLatin1Char(' '), 1, 1);
        const QDateTime date = day == QLatin1String("-")
                                   ? QDateTime()
                                   : QDateTime(QDate::fromString(day, Qt::ISODate), QTime(9, 30));
        QJsonObject lesions;
        QJsonArray counters{0, 0, 0, 0, 0};
        for (const QString &entry : body.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString spec = entry.trimmed().section(QLatin1Char(' '), 0, 0);
            QString label = entry.trimmed().section(QLatin1Char(' '), 1);
            if (label.isEmpty())
                label = QStringLiteral("Captured");
            const int position = spec.section(QLatin1Char('/'), 0, 0).toInt();
            const int number = spec.section(QLatin1Char('/'), 1).section(QLatin1Char('='), 0, 0).toInt();
            const double radius = spec.section(QLatin1Char('='), 1).toDouble();
            const QJsonObject box{{"x", 100}, {"y", 100}, {"w", 40}, {"h", 40}};
            const QJsonObject pose{{"x", 0.25}, {"y", 1.25}, {"z", 1.25}, {"alpha", 0.5}, {"beta", 12.25}};
            QJsonArray list = lesions.value(QString::number(position)).toArray();
            list.append(QJsonObject{{"numericID", number},
                                    {"radius", radius},
                                    {"lesionLabel", label},
                                    {"bbox", box},
                                    {"mainPose", pose},
                                    {"instancesBbox", QJsonArray{box}},
                                    {"instancesPosition", QJsonArray{pose}}});
            lesions.insert(QString::number(position), list);
            const int slot = position < 0 ? 4 : position;
            counters[slot] = std::max(counters[slot].toInt(), number);
        }
        const QJsonObject document{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                                   {"Version", 1},
                                   {"Lesions", lesions},
                                   {"LastLesionID", counters}};
        auto session = QSharedPointer<SessionVisualizer>::create(QStringLiteral("sessions/7/%1").arg(id), 7,
                                                                 id, QJsonDocument(document), date);
        session->readSessionJson();
        sessions.emplace(id, session);
    }
    return sessions;
}

// "<session>:<position>/<number>", the first such lesion.
QSharedPointer<LesionVisualizer> lesionAt(const Sessions &sessions, const QString &where)
{
    const auto found = sessions.find(where.section(QLatin1Char(':'), 0, 0).toInt());
    if (found == sessions.end())
        return {};
    const QString spec = where.section(QLatin1Char(':'), 1);
    const int position = spec.section(QLatin1Char('/'), 0, 0).toInt();
    const int number = spec.section(QLatin1Char('/'), 1).toInt();
    for (const auto &lesion : found->second->getLesions().value(position))
        if (lesion->getNumericID() == number)
            return lesion;
    return {};
}

Summary::SessionList listOf(const Sessions &sessions)
{
    Summary::SessionList list;
    for (const auto &entry : sessions)
        list.push_back(entry.second);
    return list;
}

// "0_1 grown@11, 0_3 new": every lesion of the principal, with the session
// of the twin it was compared with.
QString statusesOf(const Summary &summary)
{
    QStringList parts;
    for (const Summary::Change &change : summary.changes()) {
        QString text = change.idText + QLatin1Char(' ') +
                       (change.status == Summary::Status::None ? QStringLiteral("-")
                                                               : Summary::statusText(change.status));
        if (change.twinSessionId != -1)
            text += QStringLiteral("@%1").arg(change.twinSessionId);
        parts << text;
    }
    return parts.join(QStringLiteral(", "));
}

QString goneOf(const Summary &summary)
{
    QStringList parts;
    for (const Summary::Gone &gone : summary.gone())
        parts << gone.idText + (gone.excised ? QStringLiteral(" excised") : QStringLiteral(" gone"));
    return parts.join(QStringLiteral(", "));
}

} // namespace

class tst_LesionChangeSummary : public QObject
{
    Q_OBJECT

private slots:
    void summary_data();
    void summary();
    void figuresOfAChange();
    void thresholdsFromConfiguration_data();
    void thresholdsFromConfiguration();
    void nothingIsStoredOrFlagged();
    void lesionsAreHeldWeakly();
};

void tst_LesionChangeSummary::summary_data()
{
    QTest::addColumn<QString>("sessions");
    QTest::addColumn<int>("principal");
    // Links made by hand ("11:0/1-12:0/5", both ways) instead of grouping by
    // number; "" groups by number as the loader does.
    QTest::addColumn<QString>("links");
    // Done in order, each followed by grouping: "number 12:0/7 5" gives the
    // lesion the number 5 (a pairing), "renumber 12:0/5" its next free
    // number (the pairing undone).
    QTest::addColumn<QString>("actions");
    QTest::addColumn<double>("relative");
    QTest::addColumn<double>("absolute");
    QTest::addColumn<QString>("statuses");
    QTest::addColumn<QString>("gone");
    QTest::addColumn<QString>("line");

    const QString noLinks, noActions;
    QTest::newRow("new lesion") << "11 2025-03-01: 0/1=2.0 | 12 2025-09-01: 0/1=2.0, 0/2=1.5" << 12 << noLinks
                                << noActions << 0.2 << 0.5 << "0_1 stable@11, 0_2 new"
                                << ""
                                << "Since 2025-03-01: 1 new";
    QTest::newRow("grown, at both thresholds") << "11 2025-03-01: 1/4=2.0 | 12 2025-09-01: 1/4=2.5" << 12
                                               << noLinks << noActions << 0.2 << 0.5 << "1_4 grown@11"
                                               << ""
                                               << "Since 2025-03-01: 1 grown";
    QTest::newRow("grown, just over both") << "11 2025-03-01: 1/4=2.0 | 12 2025-09-01: 1/4=2.51" << 12
                                           << noLinks << noActions << 0.2 << 0.5 << "1_4 grown@11"
                                           << ""
                                           << "Since 2025-03-01: 1 grown";
    QTest::newRow("just under the absolute threshold")
        << "11 2025-03-01: 1/4=2.0 | 12 2025-09-01: 1/4=2.49" << 12 << noLinks << noActions << 0.2 << 0.5
        << "1_4 stable@11"
        << ""
        << "Since 2025-03-01: no change";
    QTest::newRow("just under the relative threshold")
        << "11 2025-03-01: 1/4=10.0 | 12 2025-09-01: 1/4=11.99" << 12 << noLinks << noActions << 0.2 << 0.5
        << "1_4 stable@11"
        << ""
        << "Since 2025-03-01: no change";
    QTest::newRow("at the relative threshold") << "11 2025-03-01: 1/4=10.0 | 12 2025-09-01: 1/4=12.0" << 12
                                               << noLinks << noActions << 0.2 << 0.5 << "1_4 grown@11"
                                               << ""
                                               << "Since 2025-03-01: 1 grown";
    QTest::newRow("thresholds from the configuration")
        << "11 2025-03-01: 1/4=2.0, 1/5=2.0 | 12 2025-09-01: 1/4=2.9, 1/5=3.1" << 12 << noLinks << noActions
        << 0.5 << 0.2 << "1_4 stable@11, 1_5 grown@11"
        << ""
        << "Since 2025-03-01: 1 grown";
    QTest::newRow("a smaller absolute threshold") << "11 2025-03-01: 1/4=1.0 | 12 2025-09-01: 1/4=1.3" << 12
                                                  << noLinks << noActions << 0.2 << 0.2 << "1_4 grown@11"
                                                  << ""
                                                  << "Since 2025-03-01: 1 grown";
    QTest::newRow("shrunk, and one just under")
        << "11 2025-03-01: 2/3=3.0, 2/6=10.0 | 12 2025-09-01: 2/3=2.0, 2/6=8.01" << 12 << noLinks << noActions
        << 0.2 << 0.5 << "2_3 shrunk@11, 2_6 stable@11"
        << ""
        << "Since 2025-03-01: 1 shrunk";
    QTest::newRow("unmeasured on either side")
        << "11 2025-03-01: 0/1=-1, 0/2=2.0 | 12 2025-09-01: 0/1=5.0, 0/2=-1" << 12 << noLinks << noActions
        << 0.2 << 0.5 << "0_1 not measured@11, 0_2 not measured@11"
        << ""
        << "Since 2025-03-01: no change";
    QTest::newRow("gone and excised")
        << "11 2025-03-01: 0/1=2.0, 0/2=2.0 Exeresis, 3/3=1.0 Follow up | 12 2025-09-01: 0/1=2.0" << 12
        << noLinks << noActions << 0.2 << 0.5 << "0_1 stable@11"
        << "0_2 excised, 3_3 gone"
        << "Since 2025-03-01: 1 gone, 1 excised";
    // 0/1 is missing from 12 and compared with 11; only the last visit's
    // lesions can be gone, so 0/9 of 11 is not.
    QTest::newRow("twin only in an older session")
        << "11 2025-03-01: 0/1=2.0, 0/9=1.0 | 12 2025-09-01: 0/2=2.0 | 13 2026-01-10: 0/1=3.0, 0/2=2.0" << 13
        << noLinks << noActions << 0.2 << 0.5 << "0_1 grown@11, 0_2 stable@12"
        << ""
        << "Since 2025-09-01: 1 grown";
    QTest::newRow("a later session is not the last visit")
        << "11 2025-03-01: 0/1=2.0 | 12 2025-09-01: 0/1=4.0, 0/2=1.0 | 13 2026-01-10: 0/1=2.0" << 12
        << noLinks << noActions << 0.2 << 0.5 << "0_1 grown@11, 0_2 new"
        << ""
        << "Since 2025-03-01: 1 new, 1 grown";
    // The principal is linked to its earlier twin only through a lesion of
    // a later session, and each link goes both ways: the walk comes back to
    // the principal's lesion, which is never its own twin.
    QTest::newRow("twin three hops away")
        << "11 2025-03-01: 0/1=2.0 | 12 2025-09-01: 0/7=3.0 | 13 2026-01-10: 0/9=3.5 | 14 2026-06-10: 0/4=3.6"
        << 12 << "12:0/7-13:0/9, 13:0/9-14:0/4, 14:0/4-11:0/1" << noActions << 0.2 << 0.5 << "0_7 grown@11"
        << ""
        << "Since 2025-03-01: 1 grown";
    QTest::newRow("linked directly and through a hop")
        << "11 2025-03-01: 0/1=2.0 | 12 2025-09-01: 0/7=3.0 | 13 2026-01-10: 0/9=3.5" << 13
        << "11:0/1-12:0/7, 12:0/7-13:0/9, 11:0/1-13:0/9" << noActions << 0.2 << 0.5 << "0_9 stable@12"
        << ""
        << "Since 2025-09-01: no change";
    QTest::newRow("numbers -1 are never one lesion") << "11 2025-03-01: 0/-1=2.0 | 12 2025-09-01: 0/-1=2.0"
                                                     << 12 << noLinks << noActions << 0.2 << 0.5 << "0_-1 new"
                                                     << "0_-1 gone"
                                                     << "Since 2025-03-01: 1 new, 1 gone";
    QTest::newRow("same number on another position is another lesion")
        << "11 2025-03-01: 0/1=2.0 | 12 2025-09-01: 1/1=2.0" << 12 << noLinks << noActions << 0.2 << 0.5
        << "1_1 new"
        << "0_1 gone"
        << "Since 2025-03-01: 1 new, 1 gone";
    QTest::newRow("a session without a date comes first")
        << "11 -: 0/1=2.0 | 12 2025-09-01: 0/1=2.0, 0/2=1.0 | 13 2024-01-01: 0/2=1.0" << 13 << noLinks
        << noActions << 0.2 << 0.5 << "0_2 new"
        << "0_1 gone"
        << "Since the visit without a date: 1 new, 1 gone";
    QTest::newRow("two sessions on one date: the greater id is the later")
        << "11 2025-03-01: 0/1=2.0 | 12 2025-03-01: 0/1=3.0 | 13 2025-09-01: 0/1=3.0" << 13 << noLinks
        << noActions << 0.2 << 0.5 << "0_1 stable@12"
        << ""
        << "Since 2025-03-01: no change";
    QTest::newRow("the oldest session is a first visit")
        << "11 2025-03-01: 0/1=2.0 | 12 2025-09-01: 0/1=3.0" << 11 << noLinks << noActions << 0.2 << 0.5
        << "0_1 -"
        << ""
        << "First visit";
    QTest::newRow("one session only")
        << "11 2025-03-01: 0/1=2.0, 2/2=1.0" << 11 << noLinks << noActions << 0.2 << 0.5 << "0_1 -, 2_2 -"
        << ""
        << "First visit";
    QTest::newRow("a pairing made") << "11 2025-03-01: 0/5=2.0 | 12 2025-09-01: 0/7=3.0" << 12 << noLinks
                                    << "number 12:0/7 5" << 0.2 << 0.5 << "0_5 grown@11"
                                    << ""
                                    << "Since 2025-03-01: 1 grown";
    QTest::newRow("a pairing made, then undone")
        << "11 2025-03-01: 0/5=2.0 | 12 2025-09-01: 0/7=3.0" << 12 << noLinks
        << "number 12:0/7 5; renumber 12:0/5" << 0.2 << 0.5 << "0_8 new"
        << "0_5 gone"
        << "Since 2025-03-01: 1 new, 1 gone";
}

void tst_LesionChangeSummary::summary()
{
    QFETCH(QString, sessions);
    QFETCH(int, principal);
    QFETCH(QString, links);
    QFETCH(QString, actions);
    QFETCH(double, relative);
    QFETCH(double, absolute);
    QFETCH(QString, statuses);
    QFETCH(QString, gone);
    QFETCH(QString, line);

    const Sessions made = makeSessions(sessions);
    if (links.isEmpty()) {
        SessionLoader::linkSameLesions(made);
    } else {
        for (const QString &link : links.split(QLatin1Char(','))) {
            const auto a = lesionAt(made, link.section(QLatin1Char('-'), 0, 0).trimmed());
            const auto b = lesionAt(made, link.section(QLatin1Char('-'), 1).trimmed());
            QVERIFY(a && b);
            a->addHistoricLesion(b, b->getSessionId());
            b->addHistoricLesion(a, a->getSessionId());
        }
    }
    for (const QString &action : actions.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList words = action.trimmed().split(QLatin1Char(' '));
        const auto lesion = lesionAt(made, words.value(1));
        QVERIFY2(lesion, qPrintable(action));
        if (words.first() == QLatin1String("number"))
            lesion->changeNumericID(words.value(2).toInt());
        else
            lesion->renumber();
        SessionLoader::linkSameLesions(made);
    }

    const Summary summary = Summary::compute(made.at(principal), listOf(made), {relative, absolute});
    QCOMPARE(statusesOf(summary), statuses);
    QCOMPARE(goneOf(summary), gone);
    QCOMPARE(summary.text(), line);
    for (const auto &entry : made)
        entry.second->releaseHistoricLinks();
}

void tst_LesionChangeSummary::figuresOfAChange()
{
    // A grown and a shrunk lesion: the radii, both changes and both dates.
    const Sessions made =
        makeSessions("11 2025-03-01: 0/1=2.0, 0/2=4.0 | 12 2025-09-14: 0/1=2.6, 0/2=3.0, 0/3=-1");
    SessionLoader::linkSameLesions(made);
    const Summary summary = Summary::compute(made.at(12), listOf(made));
    QCOMPARE(summary.referenceSessionId(), 11);
    QCOMPARE(summary.changes().size(), size_t(3));

    const Summary::Change &grown = summary.changes()[0];
    QCOMPARE(grown.status, Summary::Status::Grown);
    QCOMPARE(grown.radiusThen, 2.0);
    QCOMPARE(grown.radiusNow, 2.6);
    QVERIFY(qAbs(grown.absoluteChange - 0.6) < 1e-12);
    QVERIFY(qAbs(grown.relativeChange - 0.3) < 1e-12);
    QCOMPARE(grown.twinDate.date(), QDate(2025, 3, 1));
    QCOMPARE(grown.date.date(), QDate(2025, 9, 14));
    QCOMPARE(grown.twin.toStrongRef(), lesionAt(made, "11:0/1"));
    QCOMPARE(Summary::changeText(grown), QStringLiteral("+0.60 (+30 %)"));
    QCOMPARE(Summary::describe(grown),
             QStringLiteral("Lesion 0_1: grown, radius 2.00 on 2025-03-01, 2.60 now, +0.60 (+30 %)"));

    const Summary::Change &shrunk = summary.changes()[1];
    QCOMPARE(shrunk.status, Summary::Status::Shrunk);
    QCOMPARE(Summary::changeText(shrunk), QString(QChar(0x2212)) + "1.00 (" + QChar(0x2212) + "25 %)");

    const Summary::Change &marked = summary.changes()[2];
    QCOMPARE(marked.status, Summary::Status::New);
    QCOMPARE(Summary::changeText(marked), QString());
    QCOMPARE(Summary::describe(marked), QStringLiteral("Lesion 0_3: new since the last visit"));

    // The changed lesions, in list order, and the status by lesion.
    const auto changed = summary.changedLesions();
    QCOMPARE(changed.size(), size_t(3));
    QCOMPARE(changed[0], lesionAt(made, "12:0/1"));
    QCOMPARE(summary.statusOf(lesionAt(made, "12:0/2").data()), Summary::Status::Shrunk);
    QCOMPARE(summary.statusOf(lesionAt(made, "11:0/2").data()), Summary::Status::None);
    for (const auto &entry : made)
        entry.second->releaseHistoricLinks();
}

void tst_LesionChangeSummary::thresholdsFromConfiguration_data()
{
    QTest::addColumn<QString>("configuration");
    QTest::addColumn<double>("relative");
    QTest::addColumn<double>("absolute");
    QTest::addColumn<int>("problems");
    QTest::newRow("missing") << R"({"server": "demo"})" << 0.2 << 0.5 << 0;
    QTest::newRow("both") << R"({"changeThresholds": {"relative": 0.3, "absolute": 1}})" << 0.3 << 1.0 << 0;
    QTest::newRow("one member") << R"({"changeThresholds": {"absolute": 0.25}})" << 0.2 << 0.25 << 0;
    QTest::newRow("zero is a threshold") << R"({"changeThresholds": {"relative": 0}})" << 0.0 << 0.5 << 0;
    QTest::newRow("text") << R"({"changeThresholds": {"relative": "20%"}})" << 0.2 << 0.5 << 1;
    QTest::newRow("negative, and a valid one")
        << R"({"changeThresholds": {"relative": -0.1, "absolute": 0.7}})" << 0.2 << 0.7 << 1;
    QTest::newRow("both invalid") << R"({"changeThresholds": {"relative": null, "absolute": true}})" << 0.2
                                  << 0.5 << 2;
    QTest::newRow("not an object") << R"({"changeThresholds": [0.2, 0.5]})" << 0.2 << 0.5 << 1;
}

void tst_LesionChangeSummary::thresholdsFromConfiguration()
{
    QFETCH(QString, configuration);
    QFETCH(double, relative);
    QFETCH(double, absolute);
    QFETCH(int, problems);
    QStringList found;
    const Summary::Thresholds thresholds = Summary::Thresholds::fromConfiguration(
        QJsonDocument::fromJson(configuration.toUtf8()).object(), &found);
    QCOMPARE(thresholds.relative, relative);
    QCOMPARE(thresholds.absolute, absolute);
    QCOMPARE(found.size(), problems);
    for (const QString &problem : found)
        QVERIFY2(problem.contains(QLatin1String("\"changeThresholds\"")), qPrintable(problem));
}

void tst_LesionChangeSummary::nothingIsStoredOrFlagged()
{
    const Sessions made = makeSessions(
        "11 2025-03-01: 0/1=2.0, 0/2=2.0 Exeresis | 12 2025-09-01: 0/1=3.0, 0/3=-1 | 13 2026-01-01: 0/3=1.0");
    SessionLoader::linkSameLesions(made);
    std::map<int, QByteArray> before;
    for (const auto &entry : made)
        before[entry.first] = entry.second->getSessionJson().toJson();
    const Summary summary = Summary::compute(made.at(12), listOf(made));
    QCOMPARE(summary.text(), QStringLiteral("Since 2025-03-01: 1 new, 1 grown, 1 excised"));
    for (const auto &entry : made) {
        QVERIFY(!entry.second->hasChangesToSave());
        QCOMPARE(entry.second->getSessionJson().toJson(), before[entry.first]);
    }
    // The links the loader made are as they were.
    QCOMPARE(lesionAt(made, "12:0/1")->getHistoricLesions().keys(), QList<int>{11});
    QCOMPARE(lesionAt(made, "12:0/3")->getHistoricLesions().keys(), QList<int>{13});
    for (const auto &entry : made)
        entry.second->releaseHistoricLinks();
}

void tst_LesionChangeSummary::lesionsAreHeldWeakly()
{
    Summary summary;
    QWeakPointer<SessionVisualizer> released;
    {
        Sessions made = makeSessions("11 2025-03-01: 0/1=2.0 | 12 2025-09-01: 0/1=3.0, 0/2=1.0");
        SessionLoader::linkSameLesions(made);
        summary = Summary::compute(made.at(12), listOf(made));
        released = made.at(12);
        QCOMPARE(summary.changedLesions().size(), size_t(2));
        for (const auto &entry : made)
            entry.second->releaseHistoricLinks();
    }
    // The patient is gone: the summary keeps its texts, not the lesions.
    QVERIFY(released.isNull());
    QCOMPARE(summary.changedLesions().size(), size_t(0));
    QCOMPARE(summary.text(), QStringLiteral("Since 2025-03-01: 1 new, 1 grown"));
    QVERIFY(!summary.changeOf(nullptr));
}

QTEST_MAIN(tst_LesionChangeSummary)
#include "tst_lesionchangesummary.moc"
