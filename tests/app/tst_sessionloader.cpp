// The linking of the same lesion across a patient's sessions.

#include "app/SessionLoader.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// A session whose lesions carry the given numbers per position ("none" for
// a lesion without a number).
QSharedPointer<SessionVisualizer> session(int id, const QJsonObject &lesions)
{
    const QJsonObject document{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                               {"Lesions", lesions}};
    auto s = QSharedPointer<SessionVisualizer>::create(QStringLiteral("sessions/7/%1").arg(id), 7, id,
                                                       QJsonDocument(document), QDateTime());
    s->readSessionJson();
    return s;
}

QJsonObject numbered(int number)
{
    return QJsonObject{{"numericID", number}};
}

// "session:number" of every historic lesion, sorted.
QStringList historicOf(const QSharedPointer<LesionVisualizer> &lesion)
{
    QStringList found;
    for (auto it = lesion->getHistoricLesions().cbegin(); it != lesion->getHistoricLesions().cend(); ++it)
        found << QStringLiteral("%1:%2").arg(it.key()).arg(it.value()->getNumericID());
    found.sort();
    return found;
}

} // namespace

class tst_SessionLoader : public QObject
{
    Q_OBJECT

private slots:
    void linkSameLesions_data();
    void linkSameLesions();
};

void tst_SessionLoader::linkSameLesions_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("historic"); // of that lesion of session 5

    // Session 5: frontal 3, none, none; right 3, 4. Session 9: frontal 3, none; right 4.
    QTest::newRow("same number, same position, other session") << 0 << 0 << QStringList{"9:3"};
    QTest::newRow("no number: not one lesion with the others") << 0 << 1 << QStringList{};
    QTest::newRow("no number, second one") << 0 << 2 << QStringList{};
    QTest::newRow("same number on another position is another lesion") << 1 << 0 << QStringList{};
    QTest::newRow("right 4") << 1 << 1 << QStringList{"9:4"};
}

void tst_SessionLoader::linkSameLesions()
{
    QFETCH(int, position);
    QFETCH(int, index);
    QFETCH(QStringList, historic);

    auto five = session(5, {{"0", QJsonArray{numbered(3), QJsonObject{}, QJsonObject{}}},
                            {"1", QJsonArray{numbered(3), numbered(4)}}});
    auto nine = session(9, {{"0", QJsonArray{numbered(3), QJsonObject{}}}, {"1", QJsonArray{numbered(4)}}});
    QCOMPARE(int(five->getLesions().value(0).size()), 3);
    QCOMPARE(five->getLesions().value(0).at(1)->getNumericID(), -1);
    SessionLoader::linkSameLesions({{5, five}, {9, nine}});

    QCOMPARE(historicOf(five->getLesions().value(position).at(index)), historic);
    // The lesion without a number in session 9 is linked to nothing either.
    QVERIFY(historicOf(nine->getLesions().value(0).at(1)).isEmpty());
}

QTEST_MAIN(tst_SessionLoader)
#include "tst_sessionloader.moc"
