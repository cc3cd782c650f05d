#include "demo-server/DemoStorage.h"
#include "demo-server/SampleData.h"
#include "demo-server/SampleImages.h"

#include <QBuffer>
#include <QImageReader>
#include <QJsonArray>
#include <QSet>
#include <QTest>

#include <cmath>
#include <map>

namespace {

const SampleData &data()
{
    return SampleData::instance();
}

QRect rectOf(const QJsonValue &v)
{
    const QJsonObject o = v.toObject();
    return QRect(o.value(QStringLiteral("x")).toInt(), o.value(QStringLiteral("y")).toInt(),
                 o.value(QStringLiteral("w")).toInt(), o.value(QStringLiteral("h")).toInt());
}

std::vector<const SampleData::Session *> documents()
{
    std::vector<const SampleData::Session *> out;
    for (const auto &e : data().sessions) {
        if (e.second.hasDocument)
            out.push_back(&e.second);
    }
    return out;
}

double luminance(QRgb c)
{
    return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
}

QSize jpegSize(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    return reader.size();
}

const QStringList knownDocumentKeys = {QStringLiteral("PositionNames"), QStringLiteral("CameraPositions"),
                                       QStringLiteral("Version"), QStringLiteral("Lesions"),
                                       QStringLiteral("LastLesionID")};
const QStringList knownLesionKeys = {QStringLiteral("bbox"),
                                     QStringLiteral("instancesBbox"),
                                     QStringLiteral("instancesBboxR"),
                                     QStringLiteral("instancesPosition"),
                                     QStringLiteral("instancesContours"),
                                     QStringLiteral("dermatoscopicIds"),
                                     QStringLiteral("dermatoscopicContour"),
                                     QStringLiteral("plane"),
                                     QStringLiteral("centre3d"),
                                     QStringLiteral("radius"),
                                     QStringLiteral("mainPose"),
                                     QStringLiteral("lesionLabel"),
                                     QStringLiteral("lesionPriority"),
                                     QStringLiteral("numericID"),
                                     QStringLiteral("mesure"),
                                     QStringLiteral("contour2D"),
                                     QStringLiteral("contour3D"),
                                     QStringLiteral("historicFeatures"),
                                     QStringLiteral("historicSession"),
                                     QStringLiteral("positionCaptured")};

} // namespace

class tst_SampleData : public QObject
{
    Q_OBJECT
private slots:
    void patientsVary();
    void sessionDatesParse();
    void documentShape();
    void cameraPosesPerPosition();
    void cameraPosesAgreeAcrossSessions();
    void documentVariety();
    void lesionInstancesLieOnTheirImages();
    void lesionsAcrossSessions();
    void firstPatientChangedSinceTheVisitBefore();
    void labelsCoverTheSet();
    void dermatoscopicIdsInBothForms();
    void countersCoverTheNumbers();
    void clinicalImageNames_data();
    void clinicalImageNames();
    void objectNames_data();
    void objectNames();
    void recipes();
    void lesionsArePaintedWhereTheDocumentSays();
    void pictureSizes_data();
    void pictureSizes();
    void picturesAreDeterministic();
    void dermatoscopicLesionFollowsItsContour();
    void versionsExaminationLeavesTheOthers();
    void versionsPictures_data();
    void versionsPictures();
};

void tst_SampleData::patientsVary()
{
    std::map<size_t, int> bySessionCount;
    int withoutBirthdate = 0, impossibleDate = 0, tagged = 0, nonAscii = 0, jsonUrlNull = 0;
    QSet<QString> centerIds;
    for (const SampleData::Patient &p : data().patients) {
        ++bySessionCount[p.sessions.size()];
        if (p.birthdate.isEmpty())
            ++withoutBirthdate;
        else if (!QDate::fromString(p.birthdate, QStringLiteral("yyyy-MM-dd")).isValid())
            ++impossibleDate;
        if (!p.tag.isEmpty())
            ++tagged;
        const QString name = p.name();
        if (std::any_of(name.begin(), name.end(), [](QChar c) { return c.unicode() > 127; }))
            ++nonAscii;
        QVERIFY2(!centerIds.contains(p.centerId), qPrintable(p.centerId));
        centerIds.insert(p.centerId);
        for (int id : p.sessions) {
            const SampleData::Session *s = data().session(id);
            QVERIFY(s);
            QCOMPARE(s->patientId, p.id);
            if (!s->hasDocument)
                ++jsonUrlNull;
        }
    }
    for (size_t count : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(5)})
        QVERIFY2(bySessionCount[count] > 0,
                 qPrintable(QStringLiteral("no patient with %1 sessions").arg(count)));
    QVERIFY(withoutBirthdate >= 1);
    QVERIFY(impossibleDate >= 1);
    QVERIFY(tagged >= 1);
    QVERIFY(nonAscii >= 2);
    QCOMPARE(jsonUrlNull, 1);
    // Session ids differ from patient ids, so that a client mixing them up fails.
    for (const auto &e : data().sessions)
        QVERIFY(!data().patient(e.first));
}

void tst_SampleData::sessionDatesParse()
{
    for (const auto &e : data().sessions) {
        const QString text = e.second.date.toString(Qt::ISODateWithMs);
        QVERIFY(QDateTime::fromString(text, Qt::ISODateWithMs).isValid());
        QVERIFY2(text.contains(QLatin1Char('.')), qPrintable(text));
    }
    // A patient's sessions go forward in time as their ids grow; the five of
    // one patient span about two years.
    for (const SampleData::Patient &p : data().patients) {
        for (size_t i = 1; i < p.sessions.size(); ++i)
            QVERIFY(data().session(p.sessions[i - 1])->date < data().session(p.sessions[i])->date);
        if (p.sessions.size() == 5) {
            const qint64 days =
                data().session(p.sessions.front())->date.daysTo(data().session(p.sessions.back())->date);
            QVERIFY(days > 600 && days < 800);
        }
    }
}

void tst_SampleData::documentShape()
{
    for (const SampleData::Session *s : documents()) {
        const QJsonObject doc = s->document;
        QCOMPARE(doc.value(QStringLiteral("PositionNames")).toArray(),
                 QJsonArray({QStringLiteral("frontal"), QStringLiteral("right"), QStringLiteral("back"),
                             QStringLiteral("left")}));
        QVERIFY(doc.value(QStringLiteral("CameraPositions")).isObject());
        QVERIFY(doc.value(QStringLiteral("Lesions")).isObject());
        QVERIFY(doc.value(QStringLiteral("Version")).isDouble());
        for (const QString &key : {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                   QStringLiteral("3"), QStringLiteral("-1")}) {
            QVERIFY(doc.value(QStringLiteral("CameraPositions")).toObject().value(key).isArray());
            QVERIFY(doc.value(QStringLiteral("Lesions")).toObject().value(key).isArray());
        }
        const QJsonObject lesions = doc.value(QStringLiteral("Lesions")).toObject();
        for (const QString &key : lesions.keys()) {
            for (const QJsonValue &l : lesions.value(key).toArray()) {
                const QJsonObject lesion = l.toObject();
                QVERIFY(lesion.value(QStringLiteral("numericID")).isDouble());
                QVERIFY(lesion.value(QStringLiteral("radius")).isDouble());
                QVERIFY(lesion.value(QStringLiteral("lesionPriority")).isDouble());
                QCOMPARE(lesion.value(QStringLiteral("mesure")).toArray().size(), 2);
                for (const char *pose : {"mainPose"}) {
                    const QJsonObject p = lesion.value(QLatin1String(pose)).toObject();
                    for (const char *m : {"x", "y", "z", "alpha", "beta"})
                        QVERIFY(p.value(QLatin1String(m)).isDouble());
                }
                for (const char *v : {"plane", "centre3d"}) {
                    const QJsonObject p = lesion.value(QLatin1String(v)).toObject();
                    for (const char *m : {"x", "y", "z"})
                        QVERIFY(p.value(QLatin1String(m)).isDouble());
                }
            }
        }
    }
}

void tst_SampleData::cameraPosesPerPosition()
{
    for (const SampleData::Session *s : documents()) {
        const QJsonObject cameras = s->document.value(QStringLiteral("CameraPositions")).toObject();
        for (int p = 0; p < 4; ++p) {
            const QJsonArray poses = cameras.value(QString::number(p)).toArray();
            QVERIFY2(poses.size() >= 6 && poses.size() <= 9, qPrintable(QString::number(poses.size())));
            // Rows by truncated y, in order of first appearance, never revisited.
            QList<int> rows;
            for (const QJsonValue &v : poses) {
                const int row = int(v.toObject().value(QStringLiteral("y")).toDouble());
                if (rows.isEmpty() || rows.last() != row) {
                    QVERIFY2(!rows.contains(row), "a row is interrupted");
                    rows << row;
                }
            }
            QVERIFY(rows.size() >= 2 && rows.size() <= 3);
        }
    }
}

void tst_SampleData::cameraPosesAgreeAcrossSessions()
{
    for (const SampleData::Patient &p : data().patients) {
        QJsonObject first;
        for (int id : p.sessions) {
            const SampleData::Session *s = data().session(id);
            if (!s->hasDocument)
                continue;
            QJsonObject cameras = s->document.value(QStringLiteral("CameraPositions")).toObject();
            cameras.remove(QStringLiteral("-1"));
            if (first.isEmpty())
                first = cameras;
            else
                QCOMPARE(cameras, first);
        }
    }
}

void tst_SampleData::documentVariety()
{
    int version0 = 0, withoutCounters = 0, unknownDocumentKeys = 0, unknownLesionKeys = 0, external = 0;
    for (const SampleData::Session *s : documents()) {
        const QJsonObject doc = s->document;
        if (doc.value(QStringLiteral("Version")).toInt() == 0)
            ++version0;
        if (!doc.contains(QStringLiteral("LastLesionID")))
            ++withoutCounters;
        for (const QString &key : doc.keys()) {
            if (!knownDocumentKeys.contains(key))
                ++unknownDocumentKeys;
        }
        const QJsonObject lesions = doc.value(QStringLiteral("Lesions")).toObject();
        for (int p = 0; p < 4; ++p) {
            const int n = int(lesions.value(QString::number(p)).toArray().size());
            QVERIFY2(n >= 6 && n <= 10,
                     qPrintable(QStringLiteral("%1 lesions on position %2").arg(n).arg(p)));
        }
        for (const QString &key : lesions.keys()) {
            for (const QJsonValue &l : lesions.value(key).toArray()) {
                for (const QString &k : l.toObject().keys()) {
                    if (!knownLesionKeys.contains(k))
                        ++unknownLesionKeys;
                }
            }
        }
        if (!doc.value(QStringLiteral("CameraPositions"))
                 .toObject()
                 .value(QStringLiteral("-1"))
                 .toArray()
                 .isEmpty()) {
            ++external;
            // The newest session of its patient.
            const SampleData::Patient *patient = data().patient(s->patientId);
            QCOMPARE(patient->sessions.back(), s->id);
            QVERIFY(!lesions.value(QStringLiteral("-1")).toArray().isEmpty());
            // External poses fill rows of four from x = 0 leftwards.
            const QJsonArray poses =
                doc.value(QStringLiteral("CameraPositions")).toObject().value(QStringLiteral("-1")).toArray();
            for (int i = 0; i < poses.size(); ++i)
                QCOMPARE(poses[i].toObject().value(QStringLiteral("x")).toDouble(), -double(i));
        }
    }
    QCOMPARE(version0, 1);
    QCOMPARE(withoutCounters, 1);
    QVERIFY(unknownDocumentKeys > 0);
    QVERIFY(unknownLesionKeys > 0);
    QCOMPARE(external, 1);
}

void tst_SampleData::lesionInstancesLieOnTheirImages()
{
    for (const SampleData::Session *s : documents()) {
        const QJsonObject doc = s->document;
        const int version = doc.value(QStringLiteral("Version")).toInt();
        const QJsonObject cameras = doc.value(QStringLiteral("CameraPositions")).toObject();
        const QJsonObject lesions = doc.value(QStringLiteral("Lesions")).toObject();
        for (const QString &key : lesions.keys()) {
            const int position = key.toInt();
            const QJsonArray poses = cameras.value(key).toArray();
            const QRect image =
                position < 0
                    ? QRect(0, 0, SampleData::externalWidth, SampleData::externalHeight)
                    : QRect(SampleData::clipLeft, 0, SampleData::clipWidth, SampleData::clinicalHeight);
            for (const QJsonValue &l : lesions.value(key).toArray()) {
                const QJsonObject lesion = l.toObject();
                const QJsonArray boxes = lesion.value(QStringLiteral("instancesBbox")).toArray();
                const QJsonArray instancePoses = lesion.value(QStringLiteral("instancesPosition")).toArray();
                QVERIFY(!boxes.isEmpty());
                QCOMPARE(instancePoses.size(), boxes.size());
                QCOMPARE(lesion.value(QStringLiteral("instancesBboxR")).toArray().size(), boxes.size());
                QCOMPARE(lesion.value(QStringLiteral("instancesContours")).toArray().size(), boxes.size());
                int main = -1;
                for (int i = 0; i < boxes.size(); ++i) {
                    const QRect box = rectOf(boxes[i]);
                    // The viewer shows device images from x = 900 on.
                    QVERIFY2(
                        image.contains(box),
                        qPrintable(QStringLiteral("box outside the shown image in session %1").arg(s->id)));
                    QVERIFY(poses.contains(instancePoses[i]));
                    for (const QJsonValue &pt :
                         lesion.value(QStringLiteral("instancesContours")).toArray()[i].toArray())
                        QVERIFY(box.adjusted(-1, -1, 1, 1)
                                    .contains(QPoint(pt.toObject().value(QStringLiteral("x")).toInt(),
                                                     pt.toObject().value(QStringLiteral("y")).toInt())));
                    if (box == rectOf(lesion.value(QStringLiteral("bbox"))) && main < 0)
                        main = i;
                    // Every instance names an image of the session.
                    const QJsonObject pose = instancePoses[i].toObject();
                    SampleData::Pose p{pose.value(QStringLiteral("x")).toDouble(),
                                       pose.value(QStringLiteral("y")).toDouble(),
                                       pose.value(QStringLiteral("z")).toDouble(),
                                       pose.value(QStringLiteral("alpha")).toDouble(),
                                       pose.value(QStringLiteral("beta")).toDouble()};
                    const QString name = SampleData::clinicalImageName(p, position, version);
                    QVERIFY(
                        std::any_of(s->images.begin(), s->images.end(),
                                    [&](const SampleData::ClinicalImage &im) { return im.name == name; }));
                }
                QVERIFY2(main >= 0, "no instance equals bbox");
                QCOMPARE(lesion.value(QStringLiteral("mainPose")), instancePoses[main]);
            }
        }
    }
}

void tst_SampleData::lesionsAcrossSessions()
{
    bool grows = false, appearsLater = false, disappears = false;
    for (const SampleData::Patient &p : data().patients) {
        std::map<QString, std::vector<double>> radii; // "position_number" -> radius per session (-1 absent)
        std::vector<const SampleData::Session *> sessions;
        for (int id : p.sessions) {
            if (data().session(id)->hasDocument)
                sessions.push_back(data().session(id));
        }
        if (sessions.size() < 2)
            continue;
        for (size_t k = 0; k < sessions.size(); ++k) {
            const QJsonObject lesions = sessions[k]->document.value(QStringLiteral("Lesions")).toObject();
            for (int pos = 0; pos < 4; ++pos) {
                for (const QJsonValue &l : lesions.value(QString::number(pos)).toArray()) {
                    const QString key = QStringLiteral("%1_%2").arg(pos).arg(
                        l.toObject().value(QStringLiteral("numericID")).toInt());
                    auto &list = radii[key];
                    list.resize(sessions.size(), -1);
                    list[k] = l.toObject().value(QStringLiteral("radius")).toDouble();
                }
            }
        }
        for (auto &entry : radii) {
            std::vector<double> &list = entry.second;
            list.resize(sessions.size(), -1);
            if (list.front() < 0 && list.back() >= 0)
                appearsLater = true;
            if (list.front() >= 0 && list.back() < 0)
                disappears = true;
            if (list.front() >= 0 && list.back() >= 0 && list.front() != list.back())
                grows = true;
            // A lesion that is gone does not come back.
            bool gone = false;
            for (size_t k = 1; k < list.size(); ++k) {
                if (list[k - 1] >= 0 && list[k] < 0)
                    gone = true;
                QVERIFY(!(gone && list[k] >= 0));
            }
        }
    }
    QVERIFY(grows);
    QVERIFY(appearsLater);
    QVERIFY(disappears);
}

void tst_SampleData::firstPatientChangedSinceTheVisitBefore()
{
    // Between patient 11's last two sessions one lesion grew and one shrank
    // by at least 20 % and 0.5 in radius; every other lesion of both
    // sessions changed by less than 10 %.
    auto radii = [](int sessionId) {
        std::map<QString, double> byId;
        const QJsonObject lesions =
            data().session(sessionId)->document.value(QStringLiteral("Lesions")).toObject();
        for (const QString &position : lesions.keys())
            for (const QJsonValue &l : lesions.value(position).toArray())
                byId[position + QLatin1Char('_') +
                     QString::number(l.toObject().value(QStringLiteral("numericID")).toInt())] =
                    l.toObject().value(QStringLiteral("radius")).toDouble();
        return byId;
    };
    const auto before = radii(104), after = radii(105);
    QStringList grown, shrunk;
    for (const auto &[id, then] : before) {
        const auto now = after.find(id);
        if (now == after.end())
            continue;
        const double change = now->second - then;
        if (change >= 0.5 && change >= 0.2 * then)
            grown << id;
        else if (-change >= 0.5 && -change >= 0.2 * then)
            shrunk << id;
        else
            QVERIFY2(std::abs(change) < 0.1 * then, qPrintable(id));
    }
    QCOMPARE(grown, QStringList{"1_3"});
    QCOMPARE(shrunk, QStringList{"3_3"});
    QCOMPARE(after.at(QStringLiteral("1_3")), 4.106);
    QCOMPARE(after.at(QStringLiteral("3_3")), 3.374);
    // The session before is as it always was.
    QCOMPARE(before.at(QStringLiteral("1_3")), 2.938);
    QCOMPARE(before.at(QStringLiteral("3_3")), 4.754);
}

void tst_SampleData::labelsCoverTheSet()
{
    QSet<QString> labels;
    int missing = 0;
    for (const SampleData::Session *s : documents()) {
        const QJsonObject lesions = s->document.value(QStringLiteral("Lesions")).toObject();
        for (const QString &key : lesions.keys()) {
            for (const QJsonValue &l : lesions.value(key).toArray()) {
                if (l.toObject().contains(QStringLiteral("lesionLabel")))
                    labels.insert(l.toObject().value(QStringLiteral("lesionLabel")).toString());
                else
                    ++missing;
            }
        }
    }
    const QStringList set = {QStringLiteral("Detected"), QStringLiteral("Captured"),
                             QStringLiteral("Exeresis"), QStringLiteral("Follow up"),
                             QStringLiteral("Custom 1"), QStringLiteral("Custom 2")};
    for (const QString &label : set)
        QVERIFY2(labels.contains(label), qPrintable(label));
    QVERIFY(missing > 0);
    QVERIFY(labels.size() > set.size()); // at least one label outside the set
}

void tst_SampleData::dermatoscopicIdsInBothForms()
{
    int textForm = 0, arrayForm = 0, twoGroups = 0, twoIdGroup = 0, noThumbnail = 0, unlisted = 0;
    for (const SampleData::Session *s : documents()) {
        const QString day = s->date.toString(QStringLiteral("yyyyMMdd"));
        QSet<QString> known;
        for (const SampleData::Dermatoscopic &d : s->dermatoscopic) {
            known.insert(d.id);
            noThumbnail += d.hasThumbnail ? 0 : 1;
            unlisted += d.listed ? 0 : 1;
        }
        const QJsonObject lesions = s->document.value(QStringLiteral("Lesions")).toObject();
        for (const QString &key : lesions.keys()) {
            for (const QJsonValue &l : lesions.value(key).toArray()) {
                const QJsonArray ids = l.toObject().value(QStringLiteral("dermatoscopicIds")).toArray();
                const QJsonArray contours =
                    l.toObject().value(QStringLiteral("dermatoscopicContour")).toArray();
                QCOMPARE(contours.size(), ids.size());
                if (ids.size() >= 2)
                    ++twoGroups;
                for (int g = 0; g < ids.size(); ++g) {
                    QStringList group;
                    if (ids[g].isString()) {
                        ++textForm;
                        group << ids[g].toString();
                        // One outline: an array of points.
                        QVERIFY(contours[g].toArray().at(0).isObject());
                    } else {
                        ++arrayForm;
                        for (const QJsonValue &id : ids[g].toArray())
                            group << id.toString();
                        if (group.size() > 1) {
                            ++twoIdGroup;
                            QVERIFY(contours[g].toArray().at(0).isArray());
                            QCOMPARE(contours[g].toArray().size(), group.size());
                        }
                    }
                    for (const QString &id : group) {
                        QVERIFY2(id.startsWith(day + QLatin1Char('_')), qPrintable(id));
                        QVERIFY(known.contains(id));
                    }
                }
            }
        }
    }
    QVERIFY(textForm > 0);
    QVERIFY(arrayForm > 0);
    QVERIFY(twoGroups > 0);
    QVERIFY(twoIdGroup > 0);
    QCOMPARE(noThumbnail, 1);
    QCOMPARE(unlisted, 1);
}

void tst_SampleData::countersCoverTheNumbers()
{
    for (const SampleData::Session *s : documents()) {
        if (!s->document.contains(QStringLiteral("LastLesionID")))
            continue;
        const QJsonArray counters = s->document.value(QStringLiteral("LastLesionID")).toArray();
        QCOMPARE(counters.size(), 5);
        const QJsonObject lesions = s->document.value(QStringLiteral("Lesions")).toObject();
        for (int p = -1; p < 4; ++p) {
            int top = 0;
            for (const QJsonValue &l : lesions.value(QString::number(p)).toArray())
                top = std::max(top, l.toObject().value(QStringLiteral("numericID")).toInt());
            QVERIFY(counters[p < 0 ? 4 : p].toInt() >= top);
        }
    }
}

void tst_SampleData::clinicalImageNames_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("z");
    QTest::addColumn<double>("alpha");
    QTest::addColumn<double>("beta");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("name");
    QTest::newRow("version 0") << 2.7 << 1.2 << -0.5 << 0.0 << 0.0 << 3 << 0 << "1_2_0_3";
    QTest::newRow("version 1") << 2.7 << 1.2 << -0.5 << 45.9 << -10.2 << 3 << 1 << "1_2_0_3_45_-10";
    QTest::newRow("negative x truncates toward zero")
        << -1.75 << 0.25 << 1.25 << -18.5 << 12.25 << 0 << 1 << "0_-1_1_0_-18_12";
    QTest::newRow("external") << -2.0 << 0.0 << 0.0 << 0.0 << 0.0 << -1 << 1 << "0_-2_0_-1_0_0";
}

void tst_SampleData::clinicalImageNames()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, z);
    QFETCH(double, alpha);
    QFETCH(double, beta);
    QFETCH(int, position);
    QFETCH(int, version);
    QFETCH(QString, name);
    QCOMPARE(SampleData::clinicalImageName({x, y, z, alpha, beta}, position, version), name);
}

void tst_SampleData::objectNames_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<bool>("valid");
    QTest::newRow("document") << "sessions/11/101/session.json" << true;
    QTest::newRow("image") << "sessions/11/101/imgL/0_-1_1_0_-18_12l.jpg" << true;
    QTest::newRow("parent") << "sessions/../demo.sqlite" << false;
    QTest::newRow("leading parent") << "../x" << false;
    QTest::newRow("current") << "sessions/./x" << false;
    QTest::newRow("empty segment") << "sessions//x" << false;
    QTest::newRow("absolute") << "/etc/passwd" << false;
    QTest::newRow("space") << "sessions/a b.jpg" << false;
    QTest::newRow("backslash") << "sessions\\x" << false;
    QTest::newRow("hidden") << ".secret" << false;
    QTest::newRow("empty") << "" << false;
}

void tst_SampleData::objectNames()
{
    QFETCH(QString, object);
    QFETCH(bool, valid);
    QCOMPARE(DemoStorage::isValidObject(object), valid);
}

void tst_SampleData::recipes()
{
    const SampleData::Session *s = documents().front();
    const QString folder = QStringLiteral("sessions/%1/%2/").arg(s->patientId).arg(s->id);
    const QString name = s->images.front().name;
    struct Case
    {
        QString object;
        DemoStorage::Recipe::Kind kind;
        QChar variant;
    };
    const SampleData::Dermatoscopic *withThumbnail = nullptr, *withoutThumbnail = nullptr;
    for (const auto &e : data().sessions) {
        for (const SampleData::Dermatoscopic &d : e.second.dermatoscopic) {
            if (d.hasThumbnail && !withThumbnail && e.second.id == s->id)
                withThumbnail = &d;
            if (!d.hasThumbnail)
                withoutThumbnail = &d;
        }
    }
    QVERIFY(withThumbnail && withoutThumbnail);
    const SampleData::Session *other = nullptr;
    for (const auto &e : data().sessions) {
        for (const SampleData::Dermatoscopic &d : e.second.dermatoscopic) {
            if (&d == withoutThumbnail)
                other = &e.second;
        }
    }
    const QString otherFolder =
        QStringLiteral("sessions/%1/%2/dermatoscopic/").arg(other->patientId).arg(other->id);
    const std::vector<Case> cases = {
        {folder + "imgL/" + name + ".jpg", DemoStorage::Recipe::Clinical, QChar()},
        {folder + "imgL/" + name + "l.jpg", DemoStorage::Recipe::Clinical, QLatin1Char('l')},
        {folder + "imgL/" + name + "e.jpg", DemoStorage::Recipe::Clinical, QLatin1Char('e')},
        {folder + "imgL/" + name + "x.jpg", DemoStorage::Recipe::None, QChar()},
        {folder + "imgL/" + name + "l.png", DemoStorage::Recipe::None, QChar()},
        {QStringLiteral("sessions/%1/%2/imgL/%3l.jpg").arg(s->patientId + 1).arg(s->id).arg(name),
         DemoStorage::Recipe::None, QChar()},
        {folder + "dermatoscopic/" + withThumbnail->id + ".jpg", DemoStorage::Recipe::Dermatoscopic, QChar()},
        {folder + "dermatoscopic/" + withThumbnail->id + "s.jpg", DemoStorage::Recipe::Dermatoscopic,
         QLatin1Char('s')},
        {otherFolder + withoutThumbnail->id + ".jpg", DemoStorage::Recipe::Dermatoscopic, QChar()},
        {otherFolder + withoutThumbnail->id + "s.jpg", DemoStorage::Recipe::None, QChar()},
    };
    for (const Case &c : cases) {
        const DemoStorage::Recipe r = DemoStorage::recipe(c.object);
        QVERIFY2(r.kind == c.kind, qPrintable(c.object));
        if (r.kind != DemoStorage::Recipe::None)
            QCOMPARE(r.variant, c.variant);
    }
}

// Every reported instance is painted: the middle of its box is darker than
// the skin a little way around it.
void tst_SampleData::lesionsArePaintedWhereTheDocumentSays()
{
    const SampleData::Patient &patient = data().patients.front();
    const SampleData::Session *s = data().session(patient.sessions.back());
    const double scale = 0.5;
    int checked = 0;
    for (const SampleData::ClinicalImage &image : s->images) {
        const QSize full = image.external ? QSize(SampleData::externalWidth, SampleData::externalHeight)
                                          : QSize(SampleData::clinicalWidth, SampleData::clinicalHeight);
        const QImage picture = SampleImages::clinical(*s, image, full * scale);
        const QJsonArray lesions = s->document.value(QStringLiteral("Lesions"))
                                       .toObject()
                                       .value(QString::number(image.position))
                                       .toArray();
        for (const QJsonValue &l : lesions) {
            const QJsonArray boxes = l.toObject().value(QStringLiteral("instancesBbox")).toArray();
            const QJsonArray poses = l.toObject().value(QStringLiteral("instancesPosition")).toArray();
            for (int i = 0; i < boxes.size(); ++i) {
                const QJsonObject pose = poses[i].toObject();
                if (pose.value(QStringLiteral("x")).toDouble() != image.pose.x ||
                    pose.value(QStringLiteral("y")).toDouble() != image.pose.y)
                    continue;
                const QRect box = rectOf(boxes[i]);
                if (box.width() < 16)
                    continue; // too small to sample at half size
                const QPoint centre = (QRectF(box).center() * scale).toPoint();
                const double inside = luminance(picture.pixel(centre));
                // Skin beside the lesion: two box widths to the side and above.
                double around = 0;
                int samples = 0;
                for (const QPoint d : {QPoint(2, 0), QPoint(-2, 0), QPoint(0, -2), QPoint(0, 2)}) {
                    const QPoint p = centre + QPoint(d.x() * box.width(), d.y() * box.height()) * scale;
                    if (!picture.rect().contains(p))
                        continue;
                    around += luminance(picture.pixel(p));
                    ++samples;
                }
                QVERIFY(samples > 0);
                around /= samples;
                QVERIFY2(inside < around - 25,
                         qPrintable(QStringLiteral("lesion %1 on %2: %3 vs %4")
                                        .arg(l.toObject().value(QStringLiteral("numericID")).toInt())
                                        .arg(image.name)
                                        .arg(inside)
                                        .arg(around)));
                ++checked;
            }
        }
    }
    QVERIFY(checked > 30);
}

void tst_SampleData::pictureSizes_data()
{
    QTest::addColumn<bool>("small");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("size");
    QTest::newRow("clinical") << false << "clinical" << QSize(5472, 3648);
    QTest::newRow("clinical, medium") << false << "clinical m" << QSize(2736, 1824);
    QTest::newRow("external") << false << "external" << QSize(1600, 1200);
    QTest::newRow("dermatoscopic") << false << "dermatoscopic" << QSize(2400, 1800);
    QTest::newRow("thumbnail") << false << "thumbnail" << QSize(400, 300);
    QTest::newRow("small clinical") << true << "clinical" << QSize(684, 456);
    QTest::newRow("small dermatoscopic") << true << "dermatoscopic" << QSize(600, 450);
    QTest::newRow("small thumbnail") << true << "thumbnail" << QSize(100, 75);
}

void tst_SampleData::pictureSizes()
{
    QFETCH(bool, small);
    QFETCH(QString, kind);
    QFETCH(QSize, size);
    const SampleData::Patient &patient = data().patients.front();
    const SampleData::Session *s = data().session(patient.sessions.back());
    const QString folder = QStringLiteral("sessions/%1/%2/").arg(s->patientId).arg(s->id);
    QString object;
    if (kind.startsWith(QLatin1String("clinical")))
        object = folder + "imgL/" + s->images.front().name + (kind.endsWith(QLatin1String(" m")) ? "m" : "") +
                 ".jpg";
    else if (kind == QLatin1String("external"))
        object = folder + "imgL/" + s->images.back().name + "l.jpg";
    else
        object = folder + "dermatoscopic/" + s->dermatoscopic.front().id +
                 (kind == QLatin1String("thumbnail") ? "s" : "") + ".jpg";
    const QByteArray bytes = DemoStorage::make(DemoStorage::recipe(object), DemoStorage::sizesFor(small));
    QCOMPARE(jpegSize(bytes), size);
}

void tst_SampleData::picturesAreDeterministic()
{
    const SampleData::Session *s = documents().back();
    const QString object =
        QStringLiteral("sessions/%1/%2/imgL/%3s.jpg").arg(s->patientId).arg(s->id).arg(s->images[2].name);
    const DemoStorage::Recipe r = DemoStorage::recipe(object);
    const QByteArray first = DemoStorage::make(r, DemoStorage::sizesFor(false));
    QVERIFY(!first.isEmpty());
    QCOMPARE(DemoStorage::make(r, DemoStorage::sizesFor(false)), first);
}

void tst_SampleData::dermatoscopicLesionFollowsItsContour()
{
    const SampleData::Session *s = documents().front();
    const SampleData::Dermatoscopic &d = s->dermatoscopic.front();
    const QImage picture = SampleImages::dermatoscopic(
        d, QSize(SampleData::dermatoscopicWidth, SampleData::dermatoscopicHeight));
    const QRectF box = d.contour.boundingRect();
    QVERIFY(QRectF(picture.rect()).contains(box));
    const double inside = luminance(picture.pixel(box.center().toPoint()));
    // Just outside the outline, inside the lit field of the dermatoscope.
    const QPointF middle(picture.width() / 2.0, picture.height() / 2.0);
    const double field = SampleData::dermatoscopicHeight * 0.62 * 0.9;
    int compared = 0;
    for (const QPointF &p :
         {QPointF(box.left() - 40, box.center().y()), QPointF(box.right() + 40, box.center().y()),
          QPointF(box.center().x(), box.top() - 40), QPointF(box.center().x(), box.bottom() + 40)}) {
        if (QLineF(p, middle).length() > field || d.contour.containsPoint(p, Qt::OddEvenFill))
            continue;
        QVERIFY(luminance(picture.pixel(p.toPoint())) > inside + 40);
        ++compared;
    }
    QVERIFY(compared > 0);
}

void tst_SampleData::versionsExaminationLeavesTheOthers()
{
    const SampleData &plain = data();
    const SampleData &versions = SampleData::instance(false, true);
    QVERIFY(!plain.patient(SampleData::versionsPatientId));
    QVERIFY(!plain.session(SampleData::versionsOlderSessionId));
    QCOMPARE(versions.patients.size(), plain.patients.size() + 1);
    for (const auto &e : plain.sessions) {
        const SampleData::Session *same = versions.session(e.first);
        QVERIFY(same);
        QCOMPARE(same->document, e.second.document);
        QCOMPARE(same->dermatoscopic.size(), e.second.dermatoscopic.size());
    }
    const SampleData::Patient *patient = versions.patient(SampleData::versionsPatientId);
    QVERIFY(patient);
    QCOMPARE(patient->centerId, QStringLiteral("KV-1011"));
    QCOMPARE(patient->sessions,
             (std::vector<int>{SampleData::versionsOlderSessionId, SampleData::versionsNewerSessionId}));
    QVERIFY(!versions.patient(SampleData::versionsOlderSessionId));
    QCOMPARE(SampleData::findSession(SampleData::versionsNewerSessionId)->patientId, patient->id);

    // The lesion: one group of ten in the older session, three groups for its twin.
    const int number = versions.versionsLesionNumber;
    QVERIFY(number > 0);
    auto lesionOf = [number](const SampleData::Session *s) {
        for (const QJsonValue &v :
             s->document.value(QStringLiteral("Lesions")).toObject().value(QStringLiteral("0")).toArray())
            if (v.toObject().value(QStringLiteral("numericID")).toInt() == number)
                return v.toObject();
        return QJsonObject();
    };
    const QJsonObject older = lesionOf(versions.session(SampleData::versionsOlderSessionId));
    const QJsonObject newer = lesionOf(versions.session(SampleData::versionsNewerSessionId));
    const QJsonArray olderIds = older.value(QStringLiteral("dermatoscopicIds")).toArray();
    QCOMPARE(olderIds.size(), 1);
    QCOMPARE(olderIds[0].toArray().size(), SampleData::versionsCount);
    QCOMPARE(older.value(QStringLiteral("dermatoscopicContour")).toArray()[0].toArray().size(),
             SampleData::versionsCount);
    const QJsonArray newerIds = newer.value(QStringLiteral("dermatoscopicIds")).toArray();
    QCOMPARE(newerIds.size(), 3);
    QCOMPARE(newer.value(QStringLiteral("dermatoscopicContour")).toArray().size(), 3);
    // Every id named by the documents is a picture of the session, and no other.
    for (int id : patient->sessions) {
        const SampleData::Session *s = versions.session(id);
        QSet<QString> named;
        for (const QJsonValue &position : s->document.value(QStringLiteral("Lesions")).toObject())
            for (const QJsonValue &lesion : position.toArray())
                for (const QJsonValue &group :
                     lesion.toObject().value(QStringLiteral("dermatoscopicIds")).toArray())
                    for (const QJsonValue &d : group.isArray() ? group.toArray() : QJsonArray{group})
                        named.insert(d.toString());
        QSet<QString> pictures;
        for (const SampleData::Dermatoscopic &d : s->dermatoscopic)
            pictures.insert(d.id);
        QCOMPARE(pictures, named);
    }
}

void tst_SampleData::versionsPictures_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("small");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("grey");
    QTest::newRow("version, small") << "v03" << true << QSize(1500, 1000) << false;
    QTest::newRow("version thumbnail") << "v03s" << false << QSize(400, 267) << false;
    QTest::newRow("wide") << "wide" << false << QSize(3000, 1000) << false;
    QTest::newRow("tall") << "tall" << false << QSize(1500, 2500) << false;
    QTest::newRow("tall thumbnail, small") << "talls" << true << QSize(100, 167) << false;
    QTest::newRow("greyscale") << "grey" << true << QSize(600, 450) << true;
}

void tst_SampleData::versionsPictures()
{
    QFETCH(QString, suffix);
    QFETCH(bool, small);
    QFETCH(QSize, size);
    QFETCH(bool, grey);
    const SampleData &versions = SampleData::instance(false, true);
    QString object;
    for (int id : versions.patient(SampleData::versionsPatientId)->sessions) {
        const SampleData::Session *s = versions.session(id);
        for (const SampleData::Dermatoscopic &d : s->dermatoscopic) {
            const QString stem = suffix.endsWith(QLatin1Char('s')) ? suffix.chopped(1) : suffix;
            if (d.id.endsWith(QLatin1Char('_') + stem))
                object = QStringLiteral("sessions/%1/%2/dermatoscopic/%3%4.jpg")
                             .arg(s->patientId)
                             .arg(s->id)
                             .arg(d.id, suffix.endsWith(QLatin1Char('s')) ? QStringLiteral("s") : QString());
        }
    }
    QVERIFY2(!object.isEmpty(), qPrintable(suffix));
    const QByteArray bytes = DemoStorage::make(DemoStorage::recipe(object), DemoStorage::sizesFor(small));
    QCOMPARE(jpegSize(bytes), size);
    QImage image = QImage::fromData(bytes, "JPG");
    QCOMPARE(image.format() == QImage::Format_Grayscale8, grey);
    // The lesion near the middle, darker than the lit skin around it (inside
    // the dermatoscope's round field, along the longer side).
    const QPoint middle(image.width() / 2, image.height() / 2);
    const int reach = int(std::min(image.width(), image.height()) * 0.62 * 0.85);
    const QPoint skin = middle + (image.width() >= image.height() ? QPoint(reach, 0) : QPoint(0, reach));
    const double inside = luminance(image.pixel(middle));
    const double outside = luminance(image.pixel(skin));
    QVERIFY2(inside < outside - 40, qPrintable(QStringLiteral("%1 %2").arg(inside).arg(outside)));
}

QTEST_MAIN(tst_SampleData)
#include "tst_sampledata.moc"
