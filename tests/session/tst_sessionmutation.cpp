// Thousands of damaged session documents, made from the sample documents by a
// seeded generator, go through a read and a write. Nothing may crash or trip
// the sanitizers, whatever the program does not interpret must come back
// unchanged, and a second read and write must change nothing more.

#include "RoundTripCheck.h"
#include "SessionTestSupport.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QSet>
#include <QtTest>

using namespace SessionTestSupport;

namespace {

class Mutator
{
public:
    explicit Mutator(quint32 seed, const QJsonObject &donor) : m_random(seed), m_donor(donor) {}

    QJsonObject mutate(const QJsonObject &document, int rounds)
    {
        QJsonValue value = document;
        for (int i = 0; i < rounds; ++i)
            value = mutateValue(value, 0);
        return value.isObject() ? value.toObject() : document;
    }

private:
    int below(int n) { return n <= 0 ? 0 : int(m_random.bounded(quint32(n))); }

    QJsonValue scalar()
    {
        static const QList<QJsonValue> palette = {0,
                                                  -1,
                                                  1,
                                                  5,
                                                  36,
                                                  2147483647,
                                                  -2147483648.0,
                                                  1e20,
                                                  -1e300,
                                                  2.5,
                                                  -0.5,
                                                  1e-300,
                                                  0.1,
                                                  9007199254740993.0,
                                                  "",
                                                  "x",
                                                  "5",
                                                  "-1",
                                                  "01",
                                                  "Detected",
                                                  "20230102_5",
                                                  true,
                                                  false,
                                                  QJsonValue(),
                                                  QJsonArray(),
                                                  QJsonObject()};
        return palette.at(below(palette.size()));
    }

    QJsonValue randomValue(int depth)
    {
        switch (below(depth > 2 ? 2 : 6)) {
        case 0:
        case 1:
            return scalar();
        case 2: {
            QJsonArray array;
            for (int i = below(4); i > 0; --i)
                array.append(randomValue(depth + 1));
            return array;
        }
        case 3: {
            QJsonObject object;
            for (int i = below(4); i > 0; --i)
                object.insert(randomKey(), randomValue(depth + 1));
            return object;
        }
        default:
            return randomDonorPart();
        }
    }

    // A piece of a real document, to put plausible structures where they do
    // not belong.
    QJsonValue randomDonorPart()
    {
        QJsonValue v = m_donor;
        for (int steps = below(6); steps > 0; --steps) {
            if (v.isObject() && !v.toObject().isEmpty()) {
                const QStringList keys = v.toObject().keys();
                v = v.toObject().value(keys.at(below(keys.size())));
            } else if (v.isArray() && !v.toArray().isEmpty()) {
                v = v.toArray().at(below(v.toArray().size()));
            } else {
                break;
            }
        }
        return v;
    }

    QString randomKey()
    {
        static const QStringList keys = {"numericID",
                                         "lesionLabel",
                                         "lesionPriority",
                                         "bbox",
                                         "instancesBbox",
                                         "instancesBboxR",
                                         "instancesPosition",
                                         "instancesContours",
                                         "dermatoscopicIds",
                                         "dermatoscopicContour",
                                         "mainPose",
                                         "mesure",
                                         "radius",
                                         "plane",
                                         "centre3d",
                                         "Lesions",
                                         "CameraPositions",
                                         "LastLesionID",
                                         "Version",
                                         "PositionNames",
                                         "-1",
                                         "0",
                                         "1",
                                         "2",
                                         "3",
                                         "4",
                                         "01",
                                         " 2",
                                         "-0",
                                         "x",
                                         "y",
                                         "w",
                                         "h",
                                         "alpha",
                                         "beta",
                                         "unknown",
                                         "extra.key",
                                         "\u00e9t\u00e9"};
        return keys.at(below(keys.size()));
    }

    QJsonValue mutateValue(const QJsonValue &value, int depth)
    {
        const bool here = depth > 6 || below(10) < 3;
        if (value.isObject()) {
            QJsonObject o = value.toObject();
            if (!here && !o.isEmpty()) {
                const QStringList keys = o.keys();
                const QString key = keys.at(below(keys.size()));
                o.insert(key, mutateValue(o.value(key), depth + 1));
                return o;
            }
            switch (below(4)) {
            case 0:
                if (!o.isEmpty())
                    o.remove(o.keys().at(below(o.size())));
                break;
            case 1:
                o.insert(randomKey(), randomValue(depth));
                break;
            case 2:
                if (!o.isEmpty()) {
                    // Renamed key: the same value under another name.
                    const QString from = o.keys().at(below(o.size()));
                    const QJsonValue moved = o.take(from);
                    o.insert(randomKey(), moved);
                }
                break;
            default:
                if (!o.isEmpty())
                    o.insert(o.keys().at(below(o.size())), randomValue(depth));
                break;
            }
            return o;
        }
        if (value.isArray()) {
            QJsonArray a = value.toArray();
            if (!here && !a.isEmpty()) {
                const int i = below(a.size());
                a.replace(i, mutateValue(a.at(i), depth + 1));
                return a;
            }
            switch (below(4)) {
            case 0:
                if (!a.isEmpty())
                    a.removeAt(below(a.size()));
                break;
            case 1:
                if (!a.isEmpty())
                    a.insert(below(a.size() + 1), a.at(below(a.size())));
                break;
            case 2:
                a.insert(below(a.size() + 1), randomValue(depth));
                break;
            default:
                if (!a.isEmpty())
                    a.replace(below(a.size()), randomValue(depth));
                break;
            }
            return a;
        }
        return below(2) ? randomValue(depth) : scalar();
    }

    QRandomGenerator m_random;
    QJsonObject m_donor;
};

} // namespace

class tst_SessionMutation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mutatedDocumentsRoundTrip_data();
    void mutatedDocumentsRoundTrip();
    void editsOnMutatedDocuments();

private:
    QList<QJsonObject> m_bases;
};

void tst_SessionMutation::initTestCase()
{
    const QJsonObject rich = loadDocument("rich_session.json");
    QVERIFY(!rich.isEmpty());
    m_bases << rich;
    QJsonObject withoutCounters = rich;
    withoutCounters.remove("LastLesionID");
    withoutCounters["Version"] = 0;
    m_bases << withoutCounters;
    m_bases << QJsonObject{{"PositionNames", QJsonArray{"frontal"}}};
}

void tst_SessionMutation::mutatedDocumentsRoundTrip_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("count");
    // Several seeds in rows of their own, so that a failure names its seed.
    for (quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u})
        QTest::addRow("seed %u", seed) << seed << 600;
}

void tst_SessionMutation::mutatedDocumentsRoundTrip()
{
    QFETCH(quint32, seed);
    QFETCH(int, count);
    Mutator mutator(seed, m_bases.first());
    int withLesions = 0;
    for (int n = 0; n < count; ++n) {
        const QJsonObject input = mutator.mutate(m_bases.at(n % m_bases.size()), 1 + n % 5);
        auto session = makeSession(input, 3, n + 1);
        const QJsonObject output = session->getSessionJson().object();
        const QStringList problems = RoundTripCheck::problems(input, output);
        if (!problems.isEmpty()) {
            const QByteArray doc = QJsonDocument(input).toJson(QJsonDocument::Compact);
            QFAIL(qPrintable(
                QString("document %1: %2\n%3").arg(n).arg(problems.join("\n"), QString::fromUtf8(doc))));
        }
        // Writing what was written changes nothing, through the serialised form.
        const QJsonObject reread = QJsonDocument::fromJson(QJsonDocument(output).toJson()).object();
        auto again = makeSession(reread, 3, n + 1);
        const QJsonObject second = again->getSessionJson().object();
        if (second != reread)
            QFAIL(qPrintable(
                QString("document %1 changed on a second write:\n%2\n%3")
                    .arg(n)
                    .arg(QString::fromUtf8(QJsonDocument(reread).toJson(QJsonDocument::Compact)),
                         QString::fromUtf8(QJsonDocument(second).toJson(QJsonDocument::Compact)))));
        for (const auto &list : session->getLesions())
            withLesions += list.empty() ? 0 : 1;
    }
    // The generator must leave most documents readable enough to hold lesions.
    QVERIFY2(withLesions > count / 2, qPrintable(QString::number(withLesions)));
}

void tst_SessionMutation::editsOnMutatedDocuments()
{
    Mutator mutator(99, m_bases.first());
    static const QSet<QString> rebuilt = {"CameraPositions", "Lesions", "LastLesionID"};
    for (int n = 0; n < 600; ++n) {
        const QJsonObject input = mutator.mutate(m_bases.at(n % m_bases.size()), 1 + n % 4);
        auto session = makeSession(input, 3, n + 1);
        const int position = QList<int>{0, 1, 2, 3, -1}.at(n % 5);
        const auto created = session->createLesion(CameraPose(1, 2, 3), 4, 5, position, QRect(1, 2, 30, 40));
        int sameNumber = 0;
        for (const auto &lesion : session->getLesions().value(position))
            sameNumber += lesion->getNumericID() == created->getNumericID() ? 1 : 0;
        QCOMPARE(sameNumber, 1);
        QVERIFY(created->getNumericID() >= 1);
        for (const auto &list : session->getLesions()) {
            for (const auto &lesion : list) {
                lesion->setLabel("Follow up");
                lesion->addDermatoscopicImage("20240101_" + QString::number(n));
                lesion->setInstanceRect(0, QRect(5, 5, 50, 50));
            }
        }
        session->addClinicalImage(jpeg(QSize(4, 4)));
        const QJsonObject output = session->getSessionJson().object();
        for (auto it = input.constBegin(); it != input.constEnd(); ++it) {
            if (!rebuilt.contains(it.key()))
                QCOMPARE(output.value(it.key()), it.value());
        }
        // The edited document reads back with the edits.
        auto reread = makeSession(output, 3, n + 1);
        const auto lesions = reread->getLesions().value(position);
        QVERIFY(std::any_of(lesions.begin(), lesions.end(),
                            [&](const auto &l) { return l->getNumericID() == created->getNumericID(); }));
    }
}

QTEST_MAIN(tst_SessionMutation)
#include "tst_sessionmutation.moc"
