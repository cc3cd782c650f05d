#include "RoundTripCheck.h"
#include "SessionTestSupport.h"
#include "session/SessionDocument.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

using namespace SessionTestSupport;

Q_DECLARE_METATYPE(CameraPose)

namespace {
QJsonObject lesionWithNumber(int number)
{
    return QJsonObject{{"numericID", number}, {"bbox", QJsonObject{{"x", 1}, {"y", 1}, {"w", 2}, {"h", 2}}}};
}

QJsonArray lesionsNumbered(const QList<int> &numbers)
{
    QJsonArray array;
    for (int n : numbers)
        array.append(lesionWithNumber(n));
    return array;
}

QList<int> toList(const std::vector<int> &v)
{
    return QList<int>(v.begin(), v.end());
}

QJsonObject lesionAt(const QJsonObject &document, const QString &position, int index)
{
    return document.value("Lesions").toObject().value(position).toArray().at(index).toObject();
}
} // namespace

class tst_SessionDocument : public QObject
{
    Q_OBJECT

private slots:
    void richDocumentRoundTrip();
    void richDocumentKeyByKey_data();
    void richDocumentKeyByKey();
    void secondWriteChangesNothing();
    void counters_data();
    void counters();
    void newLesionNumbers_data();
    void newLesionNumbers();
    void newLesionObject();
    void clinicalImageNames_data();
    void clinicalImageNames();
    void parseClinicalImageNames_data();
    void parseClinicalImageNames();
    void externalPositions();
    void externalLimitCountsExistingPoses();
    void externalPosesWrittenExactly();
    void fileLookups_data();
    void fileLookups();
    void fileLookupLeavesImageWhenMissing();
    void rawFilesAndDermatoscopicNames_data();
    void rawFilesAndDermatoscopicNames();
    void mistypedDocumentValuesSurvive_data();
    void mistypedDocumentValuesSurvive();
    void mistypedLesionValuesSurvive_data();
    void mistypedLesionValuesSurvive();
    void editsAreWritten();
    void mainRectangleWritten_data();
    void mainRectangleWritten();
    void changesToSaveFlag();
    void deleteLesionKeepsOrderAndCounters();
    void getLesionsFilters();
};

void tst_SessionDocument::richDocumentRoundTrip()
{
    const QJsonObject input = loadDocument("rich_session.json");
    QVERIFY(!input.isEmpty());
    auto session = makeSession(input);
    const QJsonObject output = session->getSessionJson().object();
    const QStringList problems = RoundTripCheck::problems(input, output);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));

    // The same bytes come back through the serialised form the server receives.
    const QJsonObject reparsed = QJsonDocument::fromJson(session->getSessionJson().toJson()).object();
    QCOMPARE(reparsed, output);
}

void tst_SessionDocument::richDocumentKeyByKey_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    // Paths into the written document; expected values as compact JSON.
    QTest::newRow("unknown document key")
        << "deviceInfo"
        << R"({"calibration":[0.998877665544,1.0000001,-3.5e-7],"firmware":"4.2.1","serial":"KV-2291"})";
    QTest::newRow("unknown double") << "acquisitionQuality"
                                    << "0.87654321987654";
    QTest::newRow("unknown null") << "operatorNotes"
                                  << "null";
    QTest::newRow("integer beyond double precision") << "bigCounter"
                                                     << "9007199254740993";
    QTest::newRow("position names") << "PositionNames"
                                    << R"(["frontal","right","back","left"])";
    QTest::newRow("version") << "Version"
                             << "1";
    QTest::newRow("camera pose with extra member")
        << "CameraPositions/0/2"
        << R"({"alpha":45.9,"beta":-10.2,"exposure":12,"x":2.7,"y":1.2,"z":-0.5})";
    QTest::newRow("camera pose double precision")
        << "CameraPositions/1/0"
        << R"({"alpha":90,"beta":0,"x":0.123456789012345,"y":1,"z":0})";
    QTest::newRow("unknown camera key") << "CameraPositions/calibrationPose"
                                        << R"({"x":9})";
    QTest::newRow("external poses") << "CameraPositions/-1/1"
                                    << R"({"alpha":0,"beta":0,"x":-1,"y":0,"z":0})";
    QTest::newRow("bbox extra member") << "Lesions/0/0/bbox"
                                       << R"({"h":38,"score":0.93,"w":40,"x":1200,"y":800})";
    QTest::newRow("instance pose double precision")
        << "Lesions/0/0/instancesPosition/1"
        << R"({"alpha":45.9,"beta":-10.2,"exposure":12,"x":2.7,"y":1.2,"z":-0.5})";
    QTest::newRow("instances contours")
        << "Lesions/0/0/instancesContours"
        << R"([[{"x":1201,"y":801},{"x":1239,"y":801},{"x":1239,"y":837}],[]])";
    QTest::newRow("ids both forms") << "Lesions/0/0/dermatoscopicIds"
                                    << R"([["20230102_5"],["20230102_6","20230102_7"]])";
    QTest::newRow("contour both forms")
        << "Lesions/0/0/dermatoscopicContour"
        << R"([[{"x":500,"y":500},{"x":540,"y":540}],[[{"x":10,"y":10}],[{"x":20,"y":20},{"x":30,"y":25}]]])";
    QTest::newRow("plane") << "Lesions/0/0/plane"
                           << R"({"x":0.1,"y":-0.2,"z":0.97})";
    QTest::newRow("centre") << "Lesions/0/0/centre3d"
                            << R"({"x":101.123456789,"y":-20.5,"z":1300.25})";
    QTest::newRow("radius") << "Lesions/0/0/radius"
                            << "2.3456789012345";
    QTest::newRow("mesure") << "Lesions/0/0/mesure"
                            << "[3.14159265358979,2.71828182845904]";
    QTest::newRow("unknown lesion key") << "Lesions/0/0/classifierScore"
                                        << R"({"melanoma":0.0123456789,"nevus":0.98})";
    QTest::newRow("historic session") << "Lesions/0/0/historicSession"
                                      << "[17,18]";
    QTest::newRow("label") << "Lesions/0/0/lesionLabel"
                           << R"("Follow up")";
    QTest::newRow("missing label written as default") << "Lesions/0/1/lesionLabel"
                                                      << R"("Detected")";
    QTest::newRow("missing priority written as default") << "Lesions/0/1/lesionPriority"
                                                         << "3";
    QTest::newRow("bbox kept without main instance") << "Lesions/0/1/bbox"
                                                     << R"({"h":40,"w":30,"x":10,"y":20})";
    QTest::newRow("missing list written empty") << "Lesions/0/1/instancesBboxR"
                                                << "[]";
    QTest::newRow("single id in list form") << "Lesions/2/0/dermatoscopicIds"
                                            << R"([["a"]])";
    QTest::newRow("unknown label") << "Lesions/2/0/lesionLabel"
                                   << R"("Biopsy")";
    QTest::newRow("fractional priority kept") << "Lesions/2/0/lesionPriority"
                                              << "2.5";
    QTest::newRow("mesure of three kept") << "Lesions/2/0/mesure"
                                          << "[1,2,3]";
    QTest::newRow("number label kept") << "Lesions/3/0/lesionLabel"
                                       << "42";
    QTest::newRow("text priority kept") << "Lesions/3/0/lesionPriority"
                                        << R"("high")";
    QTest::newRow("empty position") << "Lesions/1"
                                    << "[]";
    QTest::newRow("external lesion") << "Lesions/-1/0/positionCaptured"
                                     << "-1";
    QTest::newRow("counters") << "LastLesionID"
                              << "[5,0,2,7,1]";
}

static QJsonValue valueAt(const QJsonValue &root, const QString &path)
{
    QJsonValue v = root;
    for (const QString &part : path.split('/')) {
        if (v.isArray())
            v = v.toArray().at(part.toInt());
        else
            v = v.toObject().value(part);
    }
    return v;
}

void tst_SessionDocument::richDocumentKeyByKey()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    auto session = makeSession(loadDocument("rich_session.json"));
    const QJsonObject output = session->getSessionJson().object();
    const QJsonValue expectedValue = QJsonDocument::fromJson("[" + expected.toUtf8() + "]").array().at(0);
    QCOMPARE(valueAt(output, path), expectedValue);
}

void tst_SessionDocument::secondWriteChangesNothing()
{
    auto first = makeSession(loadDocument("rich_session.json"));
    const QJsonObject once = first->getSessionJson().object();
    QCOMPARE(first->getSessionJson().object(), once);
    auto second = makeSession(once);
    QCOMPARE(second->getSessionJson().object(), once);
}

void tst_SessionDocument::counters_data()
{
    QTest::addColumn<QJsonObject>("document");
    QTest::addColumn<QList<int>>("expected");

    QJsonObject usual{{"Lesions", QJsonObject{{"0", lesionsNumbered({1, 5})},
                                              {"1", QJsonArray()},
                                              {"2", lesionsNumbered({2})},
                                              {"3", lesionsNumbered({3, 9, 7})}}}};
    QTest::newRow("rebuilt from the last lesion listed") << usual << QList<int>{5, 0, 2, 7, 0};

    QJsonObject withExternal = usual;
    QJsonObject lesions = withExternal["Lesions"].toObject();
    lesions["-1"] = lesionsNumbered({4});
    withExternal["Lesions"] = lesions;
    QTest::newRow("with external lesions") << withExternal << QList<int>{5, 0, 2, 7, 4};

    QJsonObject kept = usual;
    kept["LastLesionID"] = QJsonArray{3, 4, 5, 6, 1};
    QTest::newRow("complete list kept") << kept << QList<int>{3, 4, 5, 6, 1};

    QJsonObject notArray = usual;
    notArray["LastLesionID"] = 12;
    QTest::newRow("number instead of list rebuilt") << notArray << QList<int>{5, 0, 2, 7, 0};

    QJsonObject missingPosition{
        {"Lesions",
         QJsonObject{{"0", lesionsNumbered({2})}, {"1", lesionsNumbered({3})}, {"3", lesionsNumbered({8})}}}};
    QTest::newRow("position 2 missing") << missingPosition << QList<int>{2, 3, 0, 8, 0};

    QJsonObject onlyFirst{{"Lesions", QJsonObject{{"0", lesionsNumbered({4})}}}};
    QTest::newRow("only position 0") << onlyFirst << QList<int>{4, 0, 0, 0, 0};

    QTest::newRow("no lesions at all") << QJsonObject() << QList<int>{0, 0, 0, 0, 0};

    QJsonObject shortList = usual;
    shortList["LastLesionID"] = QJsonArray{9, 9};
    QTest::newRow("short list extended") << shortList << QList<int>{9, 9, 2, 7, 0};

    // Extra position keys have no counter and leave the external counter where
    // it is, read after read.
    QJsonObject extraPositions = withExternal;
    QJsonObject extra = extraPositions["Lesions"].toObject();
    extra["4"] = lesionsNumbered({3});
    extra["-2"] = lesionsNumbered({6});
    extraPositions["Lesions"] = extra;
    QTest::newRow("extra positions") << extraPositions << QList<int>{5, 0, 2, 7, 4};
    extraPositions["LastLesionID"] = QJsonArray{5, 0, 2, 7, 1};
    QTest::newRow("extra positions with counters") << extraPositions << QList<int>{5, 0, 2, 7, 1};

    QJsonObject mistyped = usual;
    mistyped["LastLesionID"] = QJsonArray{"6", 2.5, 1e30, 4, 2};
    QTest::newRow("unreadable elements read as 0") << mistyped << QList<int>{0, 0, 0, 4, 2};
}

void tst_SessionDocument::counters()
{
    QFETCH(QJsonObject, document);
    QFETCH(QList<int>, expected);
    auto session = makeSession(document);
    QCOMPARE(toList(session->getLesionCounters()), expected);
    const QJsonObject written = session->getSessionJson().object();
    QCOMPARE(written.value("LastLesionID").toArray().size(), expected.size());
    QCOMPARE(toList(makeSession(written)->getLesionCounters()), expected);
}

void tst_SessionDocument::newLesionNumbers_data()
{
    QTest::addColumn<QJsonObject>("document");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("expectedNumber");
    QTest::addColumn<QList<int>>("expectedCounters");

    QJsonObject base{{"Lesions", QJsonObject{{"0", lesionsNumbered({1, 5})},
                                             {"1", QJsonArray()},
                                             {"2", lesionsNumbered({2})},
                                             {"3", lesionsNumbered({7})}}}};
    QJsonObject kept = base;
    kept["LastLesionID"] = QJsonArray{3, 4, 5, 6, 1};
    QTest::newRow("position 2 from the kept counter") << kept << 2 << 6 << QList<int>{3, 4, 6, 6, 1};
    QTest::newRow("external from the last counter") << kept << -1 << 2 << QList<int>{3, 4, 5, 6, 2};
    QTest::newRow("empty position") << base << 1 << 1 << QList<int>{5, 1, 2, 7, 0};

    QJsonObject counters57 = base;
    counters57["LastLesionID"] = QJsonArray{5, 0, 2, 7, 0};
    QTest::newRow("external with counters 5 0 2 7 0") << counters57 << -1 << 1 << QList<int>{5, 0, 2, 7, 1};

    // The counter is the last number listed: 3, 9, 5, 4 gives counter 4, whose
    // next number 5 is taken; the largest + 1 is used instead.
    QJsonObject collide{{"Lesions", QJsonObject{{"0", lesionsNumbered({3, 9, 5, 4})}}}};
    QTest::newRow("next number already used") << collide << 0 << 10 << QList<int>{10, 0, 0, 0, 0};
    QJsonObject free{{"Lesions", QJsonObject{{"0", lesionsNumbered({3, 9, 4})}}}};
    QTest::newRow("next number free") << free << 0 << 5 << QList<int>{5, 0, 0, 0, 0};

    QJsonObject missing{{"Lesions", QJsonObject{{"0", lesionsNumbered({2})}, {"1", lesionsNumbered({3})}}}};
    QTest::newRow("position without counter in the document")
        << missing << 3 << 1 << QList<int>{2, 3, 0, 1, 0};
    QTest::newRow("external without counter in the document")
        << missing << -1 << 1 << QList<int>{2, 3, 0, 0, 1};

    QJsonObject stale = base;
    stale["LastLesionID"] = QJsonArray{0, 0, 0, 0, 0};
    QTest::newRow("stale counter below used numbers") << stale << 0 << 6 << QList<int>{6, 0, 0, 0, 0};
}

void tst_SessionDocument::newLesionNumbers()
{
    QFETCH(QJsonObject, document);
    QFETCH(int, position);
    QFETCH(int, expectedNumber);
    QFETCH(QList<int>, expectedCounters);

    auto session = makeSession(document);
    const auto lesion = session->createLesion(CameraPose(0, 0, 0), 0, 0, position, QRect(10, 10, 20, 20));
    QCOMPARE(lesion->getNumericID(), expectedNumber);
    QCOMPARE(toList(session->getLesionCounters()), expectedCounters);

    // No two lesions of a position share a number.
    QSet<int> numbers;
    for (const auto &l : session->getLesions().value(position))
        numbers.insert(l->getNumericID());
    QCOMPARE(numbers.size(), int(session->getLesions().value(position).size()));

    const QJsonObject written = session->getSessionJson().object();
    const QJsonArray counters = written.value("LastLesionID").toArray();
    QList<int> writtenCounters;
    for (const QJsonValue &c : counters)
        writtenCounters << c.toInt();
    QCOMPARE(writtenCounters, expectedCounters);
}

void tst_SessionDocument::newLesionObject()
{
    auto session = makeSession(QJsonObject{{"Version", 1}});
    const auto lesion =
        session->createLesion(CameraPose(2.7f, 1.0f, -0.5f, 1, 2), 45.9, -10.2, 2, QRect(100, 200, 30, 40));
    QCOMPARE(lesion->getLabel(), QString("Detected"));
    QCOMPARE(lesion->getPriority(), 3);
    QCOMPARE(lesion->getRadius(), -1.0);
    QCOMPARE(lesion->getMainRect(), QRect(100, 200, 30, 40));

    const QJsonObject o = lesionAt(session->getSessionJson().object(), "2", 0);
    for (const char *key : {"contour2D", "contour3D", "dermatoscopicIds", "historicFeatures",
                            "historicSession", "instancesBboxR", "instancesContours", "mesure"})
        QCOMPARE(o.value(key), QJsonValue(QJsonArray()));
    const QJsonObject rect{{"x", 100}, {"y", 200}, {"w", 30}, {"h", 40}};
    const QJsonObject pose{{"x", 2.7}, {"y", 1}, {"z", -0.5}, {"alpha", 45.9}, {"beta", -10.2}};
    QCOMPARE(o.value("bbox"), QJsonValue(rect));
    QCOMPARE(o.value("instancesBbox"), QJsonValue(QJsonArray{rect}));
    QCOMPARE(o.value("mainPose"), QJsonValue(pose));
    QCOMPARE(o.value("instancesPosition"), QJsonValue(QJsonArray{pose}));
    QCOMPARE(o.value("centre3d"), QJsonValue(QJsonObject()));
    QCOMPARE(o.value("plane"), QJsonValue(QJsonObject()));
    QCOMPARE(o.value("positionCaptured"), QJsonValue(2));
    QCOMPARE(o.value("radius"), QJsonValue(-1));
    QCOMPARE(o.value("lesionLabel"), QJsonValue("Detected"));
    QCOMPARE(o.value("lesionPriority"), QJsonValue(3));
    QCOMPARE(o.value("numericID"), QJsonValue(1));
}

void tst_SessionDocument::clinicalImageNames_data()
{
    QTest::addColumn<CameraPose>("pose");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("expected");

    QTest::newRow("version 0") << CameraPose(2.7f, 1.2f, -0.5f) << 3 << 0 << "1_2_0_3";
    QTest::newRow("version 1") << CameraPose(2.7f, 1.2f, -0.5f, 45.9, -10.2) << 3 << 1 << "1_2_0_3_45_-10";
    QTest::newRow("negative values truncate toward zero")
        << CameraPose(-1.9f, -2.5f, -0.99f, -0.5, -179.99) << 0 << 1 << "-2_-1_0_0_0_-179";
    QTest::newRow("y before x") << CameraPose(4, 9, 1, 0, 0) << 2 << 0 << "9_4_1_2";
    QTest::newRow("external position") << CameraPose(-3, -1, 0) << -1 << 1 << "-1_-3_0_-1_0_0";
    QTest::newRow("version above 1 as 1") << CameraPose(1, 2, 3, 4, 5) << 1 << 2 << "2_1_3_1_4_5";
    QTest::newRow("negative version as 0") << CameraPose(1, 2, 3, 4, 5) << 1 << -3 << "2_1_3_1";
    QTest::newRow("out of range saturates") << CameraPose(1e20f, -1e20f, 0, 1e300, -1e300) << 0 << 1
                                            << "-2147483648_2147483647_0_0_2147483647_-2147483648";
}

void tst_SessionDocument::clinicalImageNames()
{
    QFETCH(CameraPose, pose);
    QFETCH(int, position);
    QFETCH(int, version);
    QFETCH(QString, expected);
    QCOMPARE(SessionDocument::clinicalImageName(pose, position, version), expected);

    auto session = makeSession(QJsonObject{{"Version", version}});
    QCOMPARE(session->clinicalImageName(pose, position), expected);
    QCOMPARE(session->clinicalImagePath(pose, position), "sessions/7/11/imgL/" + expected + ".jpg");
}

void tst_SessionDocument::parseClinicalImageNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("version");
    QTest::addColumn<CameraPose>("expectedPose");
    QTest::addColumn<int>("expectedPosition");
    QTest::addColumn<bool>("complete");

    QTest::newRow("version 1") << "4_1_0_2_30_15" << 1 << CameraPose(1, 4, 0, 30, 15) << 2 << true;
    QTest::newRow("version 0 ignores angles") << "4_1_0_2_30_15" << 0 << CameraPose(1, 4, 0) << 2 << true;
    QTest::newRow("negative values") << "-1_-3_0_-1_0_0" << 1 << CameraPose(-3, -1, 0) << -1 << true;
    QTest::newRow("too few parts") << "4_1" << 0 << CameraPose(1, 4, 0) << 0 << false;
    QTest::newRow("angles missing for version 1") << "4_1_0_2" << 1 << CameraPose(1, 4, 0) << 2 << false;
    QTest::newRow("empty parts kept") << "4__0_3" << 0 << CameraPose(0, 4, 0) << 3 << true;
    QTest::newRow("not numbers") << "a_b_c_d" << 0 << CameraPose() << 0 << true;
}

void tst_SessionDocument::parseClinicalImageNames()
{
    QFETCH(QString, name);
    QFETCH(int, version);
    QFETCH(CameraPose, expectedPose);
    QFETCH(int, expectedPosition);
    QFETCH(bool, complete);

    CameraPose pose(99, 99, 99, 99, 99);
    int position = 99;
    QCOMPARE(SessionDocument::parseClinicalImageName(name, version, &pose, &position), complete);
    QVERIFY(pose == expectedPose);
    QCOMPARE(position, expectedPosition);

    auto session = makeSession(QJsonObject{{"Version", version}});
    const auto parsed = session->parseClinicalImageName(name);
    QVERIFY(parsed.first == expectedPose);
    QCOMPARE(parsed.second, expectedPosition);
}

void tst_SessionDocument::externalPositions()
{
    auto session = makeSession(QJsonObject{{"Version", 1}});
    const QList<QPair<float, float>> expected{{0, 0}, {-1, 0}, {-2, 0}, {-3, 0}, {0, -1}, {-1, -1}};
    for (int i = 0; i < expected.size(); ++i) {
        const CameraPose next = session->newClinicalPosition();
        QCOMPARE(next.x, expected[i].first);
        QCOMPARE(next.y, expected[i].second);
        const QByteArray bytes = jpeg(QSize(8, 8));
        const QString name = session->addClinicalImage(bytes);
        QCOMPARE(name, session->clinicalImageName(next, -1) + ".jpg");
        QCOMPARE(session->getRawFile("/imgL/" + name), bytes);
        QVERIFY(session->hasFile(session->getFolderPath() + "/imgL/" + name, -4));
    }
    for (int i = expected.size(); i < 36; ++i)
        QVERIFY(session->addClinicalImage(jpeg(QSize(8, 8))) != "Ple");
    QCOMPARE(session->getCameraPoses(-1).size(), size_t(36));
    QCOMPARE(session->addClinicalImage(jpeg(QSize(8, 8))), QString("Ple"));
    QCOMPARE(session->getCameraPoses(-1).size(), size_t(36));
    const CameraPose last = session->getCameraPoses(-1).back();
    QCOMPARE(last.x, -3.0f);
    QCOMPARE(last.y, -8.0f);
    QVERIFY(session->hasChangesToSave());
}

void tst_SessionDocument::externalLimitCountsExistingPoses()
{
    QJsonArray poses;
    for (int i = 0; i < 40; ++i)
        poses.append(QJsonObject{{"x", -(i % 4)}, {"y", -(i / 4)}, {"z", 0}, {"alpha", 0}, {"beta", 0}});
    auto session = makeSession(QJsonObject{{"CameraPositions", QJsonObject{{"-1", poses}}}});
    QCOMPARE(session->addClinicalImage(jpeg(QSize(8, 8))), QString("Ple"));
    QCOMPARE(session->getCameraPoses(-1).size(), size_t(40));
    QVERIFY(!session->hasChangesToSave());
}

void tst_SessionDocument::externalPosesWrittenExactly()
{
    const QJsonObject existing{{"x", 0.1},  {"y", 0.3}, {"z", 0}, {"alpha", 1.23456789012},
                               {"beta", 0}, {"id", 5}};
    auto session = makeSession(QJsonObject{{"CameraPositions", QJsonObject{{"-1", QJsonArray{existing}}}}});
    session->addClinicalImage(jpeg(QSize(8, 8)));
    const QJsonArray written =
        session->getSessionJson().object().value("CameraPositions").toObject().value("-1").toArray();
    QCOMPARE(written.size(), 2);
    QCOMPARE(written.at(0), QJsonValue(existing));
    // The new pose is whole numbers, written as such (not as float noise).
    QCOMPARE(written.at(1),
             QJsonValue(QJsonObject{{"x", -0.9}, {"y", 0.3}, {"z", 0}, {"alpha", 0}, {"beta", 0}}));
}

void tst_SessionDocument::fileLookups_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<int>("storedQuality");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<int>("askedQuality");
    QTest::addColumn<bool>("expectHas");
    QTest::addColumn<QString>("expectServedFrom");

    const QString d = "sessions/7/11/dermatoscopic/";
    QTest::newRow("exact") << QStringList{d + "abc.jpg"} << 1 << d + "abc.jpg" << 1 << true << d + "abc.jpg";
    QTest::newRow("any quality") << QStringList{d + "abc.jpg"} << -3 << d + "abc.jpg" << -1 << true
                                 << d + "abc.jpg";
    QTest::newRow("other quality") << QStringList{d + "abc.jpg"} << -3 << d + "abc.jpg" << 1 << false
                                   << d + "abc.jpg";
    QTest::newRow("thumbnail from full image")
        << QStringList{d + "abc.jpg"} << 0 << d + "abcs.jpg" << 0 << true << d + "abc.jpg";
    QTest::newRow("thumbnail fallback ignores quality")
        << QStringList{d + "abc.jpg"} << -3 << d + "abcs.jpg" << 1 << true << d + "abc.jpg";
    QTest::newRow("thumbnail preferred")
        << QStringList{d + "abc.jpg", d + "abcs.jpg"} << -2 << d + "abcs.jpg" << -2 << true << d + "abcs.jpg";
    QTest::newRow("no fallback for full image")
        << QStringList{d + "abcs.jpg"} << 1 << d + "abc.jpg" << -1 << false << QString();
    QTest::newRow("case sensitive") << QStringList{d + "ABC.jpg"} << 1 << d + "abc.jpg" << -1 << false
                                    << QString();
    QTest::newRow("nothing stored") << QStringList() << 1 << d + "abc.jpg" << -1 << false << QString();
}

void tst_SessionDocument::fileLookups()
{
    QFETCH(QStringList, stored);
    QFETCH(int, storedQuality);
    QFETCH(QString, asked);
    QFETCH(int, askedQuality);
    QFETCH(bool, expectHas);
    QFETCH(QString, expectServedFrom);

    auto session = makeSession(QJsonObject());
    QHash<QString, QSize> sizes;
    for (int i = 0; i < stored.size(); ++i) {
        sizes[stored[i]] = QSize(20 + 10 * i, 10);
        session->storeFile(stored[i], jpeg(sizes[stored[i]]), storedQuality);
    }
    QCOMPARE(session->hasFile(asked, askedQuality), expectHas);

    QImage image;
    int quality = 12345;
    const bool found = session->getFile(asked, image, quality);
    QCOMPARE(found, !expectServedFrom.isEmpty());
    if (found) {
        QCOMPARE(image.size(), sizes[expectServedFrom]);
        QCOMPARE(quality, storedQuality);
    } else {
        QVERIFY(image.isNull());
        QCOMPARE(quality, 12345);
    }
}

void tst_SessionDocument::fileLookupLeavesImageWhenMissing()
{
    auto session = makeSession(QJsonObject());
    QImage image(5, 5, QImage::Format_RGB32);
    int quality = 9;
    QVERIFY(!session->getFile("sessions/7/11/imgL/x.jpg", image, quality));
    QCOMPARE(image.size(), QSize(5, 5));
    QCOMPARE(quality, 9);

    // A stored file that does not decode replaces the caller's image by a
    // null one: an old picture must not pass for the asked one.
    session->storeFile("sessions/7/11/imgL/x.jpg", QByteArray("not a jpeg"), 1);
    QVERIFY(!session->getFile("sessions/7/11/imgL/x.jpg", image, quality));
    QVERIFY(image.isNull());

    session->storeFile("sessions/7/11/dermatoscopic/abc.jpg", jpeg(QSize(30, 20)), -3);
    QVERIFY(session->getDermatoscopicFile("abcs", image, quality));
    QCOMPARE(image.size(), QSize(30, 20));
    QCOMPARE(quality, -3);
}

void tst_SessionDocument::rawFilesAndDermatoscopicNames_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("expectedKey");
    QTest::newRow("jpg") << "20240307_1709800000000e.jpg"
                         << "sessions/7/11/dermatoscopic/20240307_1709800000000e.jpg";
    QTest::newRow("upper-case extension") << "picture.JPG"
                                          << "sessions/7/11/dermatoscopic/picture.jpg";
    QTest::newRow("several dots") << "a.b.jpeg"
                                  << "sessions/7/11/dermatoscopic/a.b.jpg";
    QTest::newRow("no dot") << "plain"
                            << "sessions/7/11/dermatoscopic/plain.jpg";
}

void tst_SessionDocument::rawFilesAndDermatoscopicNames()
{
    QFETCH(QString, fileName);
    QFETCH(QString, expectedKey);
    auto session = makeSession(QJsonObject());
    const QByteArray bytes = jpeg(QSize(4, 4));
    session->addDermatoscopicFile(fileName, bytes, -4);
    QVERIFY(session->hasFile(expectedKey, -4));
    QCOMPARE(session->getRawFile(expectedKey), bytes);
    QCOMPARE(session->getRawFile(expectedKey.mid(session->getFolderPath().size())), bytes);

    // A later file under the same key replaces the earlier one.
    const QByteArray other = jpeg(QSize(6, 6));
    session->addDermatoscopicFile(fileName, other, -3);
    QCOMPARE(session->getRawFile(expectedKey), other);
    QVERIFY(session->hasFile(expectedKey, -3));

    // A folder whose path is a prefix of this one's does not see its files.
    auto neighbour = QSharedPointer<SessionVisualizer>::create("sessions/7/1", 7, 1,
                                                               QJsonDocument(QJsonObject()), QDateTime());
    neighbour->storeFile("sessions/7/1" + expectedKey.mid(QString("sessions/7/11").size()), bytes, 1);
    QVERIFY(neighbour->getRawFile(expectedKey).isNull());
}

void tst_SessionDocument::mistypedDocumentValuesSurvive_data()
{
    QTest::addColumn<QJsonObject>("document");
    QTest::addColumn<QString>("path");

    QTest::newRow("Lesions as list") << QJsonObject{{"Lesions", QJsonArray{lesionWithNumber(1)}}}
                                     << "Lesions";
    QTest::newRow("CameraPositions as text") << QJsonObject{{"CameraPositions", "none"}} << "CameraPositions";
    QTest::newRow("non-canonical position key")
        << QJsonObject{{"Lesions", QJsonObject{{"0", lesionsNumbered({1})}, {"00", lesionsNumbered({2})}}}}
        << "Lesions/00";
    QTest::newRow("position key with space")
        << QJsonObject{{"Lesions", QJsonObject{{" 1", lesionsNumbered({3})}}}} << "Lesions/ 1";
    QTest::newRow("position that is not a list")
        << QJsonObject{{"Lesions", QJsonObject{{"2", "gone"}}}} << "Lesions/2";
    QTest::newRow("external camera entry not a list")
        << QJsonObject{{"CameraPositions", QJsonObject{{"-1", QJsonObject{{"x", 1}}}}}}
        << "CameraPositions/-1";
    QTest::newRow("lesion that is not an object")
        << QJsonObject{{"Lesions",
                        QJsonObject{{"0", QJsonArray{lesionWithNumber(1), "note", 7, QJsonValue()}}}}}
        << "Lesions/0/1";
    QTest::newRow("counter of another type")
        << QJsonObject{{"LastLesionID", QJsonArray{"7", 1.5, QJsonValue(), 2, 0}}} << "LastLesionID";
    QTest::newRow("version as text") << QJsonObject{{"Version", "1"}} << "Version";
    QTest::newRow("names not a list") << QJsonObject{{"PositionNames", "frontal"}} << "PositionNames";
}

void tst_SessionDocument::mistypedDocumentValuesSurvive()
{
    QFETCH(QJsonObject, document);
    QFETCH(QString, path);
    auto session = makeSession(document);
    const QJsonObject written = session->getSessionJson().object();
    QCOMPARE(valueAt(written, path), valueAt(document, path));
    const QStringList problems = RoundTripCheck::problems(document, written);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
}

void tst_SessionDocument::mistypedLesionValuesSurvive_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value");

    QTest::newRow("numericID as text") << "numericID" << QJsonValue("12");
    QTest::newRow("numericID fractional") << "numericID" << QJsonValue(3.5);
    QTest::newRow("numericID huge") << "numericID" << QJsonValue(1e40);
    QTest::newRow("label as number") << "lesionLabel" << QJsonValue(3);
    QTest::newRow("label null") << "lesionLabel" << QJsonValue();
    QTest::newRow("priority as text") << "lesionPriority" << QJsonValue("2");
    QTest::newRow("priority huge") << "lesionPriority" << QJsonValue(-1e300);
    QTest::newRow("ids as number") << "dermatoscopicIds" << QJsonValue(5);
    QTest::newRow("id numbers in a group")
        << "dermatoscopicIds" << QJsonValue(QJsonArray{QJsonArray{20230101, "b"}});
    QTest::newRow("id as object") << "dermatoscopicIds" << QJsonValue(QJsonArray{QJsonObject{{"id", "x"}}});
    QTest::newRow("empty group") << "dermatoscopicIds" << QJsonValue(QJsonArray{QJsonArray()});
    QTest::newRow("instances as object") << "instancesBbox" << QJsonValue(QJsonObject{{"x", 1}});
    QTest::newRow("rectangle with fractions")
        << "instancesBbox" << QJsonValue(QJsonArray{QJsonObject{{"x", 1.5}, {"y", 2}, {"w", 3}, {"h", 4}}});
    QTest::newRow("rectangle beyond int")
        << "instancesBboxR"
        << QJsonValue(QJsonArray{QJsonObject{{"x", 3e9}, {"y", 2}, {"w", 2147483647}, {"h", 4}}});
    QTest::newRow("rectangle as text") << "instancesBboxR" << QJsonValue(QJsonArray{"r"});
    QTest::newRow("pose with text member")
        << "instancesPosition" << QJsonValue(QJsonArray{QJsonObject{{"x", "1"}, {"alpha", 1e300}}});
    QTest::newRow("pose beyond float")
        << "instancesPosition" << QJsonValue(QJsonArray{QJsonObject{{"x", 1e39}}});
    QTest::newRow("contour of numbers") << "instancesContours" << QJsonValue(QJsonArray{QJsonArray{1, 2}});
    QTest::newRow("bbox as text") << "bbox" << QJsonValue("main");
    QTest::newRow("plane as list") << "plane" << QJsonValue(QJsonArray{1, 2, 3});
    QTest::newRow("radius as text") << "radius" << QJsonValue("big");
    QTest::newRow("mesure of one") << "mesure" << QJsonValue(QJsonArray{1});
    QTest::newRow("contour as object") << "dermatoscopicContour" << QJsonValue(QJsonObject{{"a", 1}});
    QTest::newRow("contour group of numbers")
        << "dermatoscopicContour" << QJsonValue(QJsonArray{QJsonArray{1, 2}});
}

void tst_SessionDocument::mistypedLesionValuesSurvive()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);

    QJsonObject lesion{{"bbox", QJsonObject{{"x", 1}, {"y", 2}, {"w", 3}, {"h", 4}}},
                       {"instancesBbox", QJsonArray{QJsonObject{{"x", 1}, {"y", 2}, {"w", 3}, {"h", 4}}}},
                       {"numericID", 4}};
    lesion.insert(key, value);
    const QJsonObject document{{"Lesions", QJsonObject{{"1", QJsonArray{lesion}}}}};
    auto session = makeSession(document);
    const QJsonObject written = session->getSessionJson().object();
    QCOMPARE(lesionAt(written, "1", 0).value(key), value);
    const QStringList problems = RoundTripCheck::problems(document, written);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
}

void tst_SessionDocument::editsAreWritten()
{
    const QJsonObject input = loadDocument("rich_session.json");
    auto session = makeSession(input);
    const auto lesions = session->getLesions();
    const auto first = lesions.value(0).at(0);
    const auto mistyped = lesions.value(3).at(0);

    first->setLabel("Exeresis");
    mistyped->setLabel("Custom 2");
    mistyped->setPriority(1);
    first->setInstanceRect(1, QRect(1600, 900, 50, 50));
    first->addDermatoscopicImage("20240307_99e");

    const QJsonObject written = session->getSessionJson().object();
    const QJsonObject a = lesionAt(written, "0", 0);
    QCOMPARE(a.value("lesionLabel"), QJsonValue("Exeresis"));
    const QJsonArray instances = a.value("instancesBbox").toArray();
    // The untouched instance keeps its extra member; the moved one is new.
    QCOMPARE(instances.at(0), lesionAt(input, "0", 0).value("instancesBbox").toArray().at(0));
    QCOMPARE(instances.at(1), QJsonValue(QJsonObject{{"x", 1600}, {"y", 900}, {"w", 50}, {"h", 50}}));
    QCOMPARE(a.value("dermatoscopicIds").toArray().last(), QJsonValue(QJsonArray{"20240307_99e"}));
    QCOMPARE(a.value("dermatoscopicContour"), lesionAt(input, "0", 0).value("dermatoscopicContour"));

    const QJsonObject b = lesionAt(written, "3", 0);
    QCOMPARE(b.value("lesionLabel"), QJsonValue("Custom 2"));
    QCOMPARE(b.value("lesionPriority"), QJsonValue(1));

    // Re-reading what was written gives the edited lesion.
    auto reread = makeSession(written);
    const auto again = reread->getLesions().value(0).at(0);
    QCOMPARE(again->getLabel(), QString("Exeresis"));
    QCOMPARE(again->getInstancesBbox().at(1), QRect(1600, 900, 50, 50));
    QCOMPARE(again->getDermatosopicIds().size(), size_t(3));
}

void tst_SessionDocument::mainRectangleWritten_data()
{
    QTest::addColumn<QJsonObject>("lesion");
    QTest::addColumn<int>("moveIndex");
    QTest::addColumn<QJsonValue>("expectedBbox");

    const QJsonObject r1{{"x", 1}, {"y", 1}, {"w", 5}, {"h", 5}};
    const QJsonObject r2{{"x", 9}, {"y", 9}, {"w", 5}, {"h", 5}};
    const QJsonObject moved{{"x", 100}, {"y", 100}, {"w", 60}, {"h", 60}};
    QTest::newRow("main instance moved")
        << QJsonObject{{"bbox", r1}, {"instancesBbox", QJsonArray{r2, r1}}} << 1 << QJsonValue(moved);
    QTest::newRow("other instance moved")
        << QJsonObject{{"bbox", r1}, {"instancesBbox", QJsonArray{r2, r1}}} << 0 << QJsonValue(r1);
    // Two instances equal to "bbox": the first is the main one for the views,
    // so its rectangle is the one written.
    QTest::newRow("first of two main instances moved")
        << QJsonObject{{"bbox", r1}, {"instancesBbox", QJsonArray{r1, r1}}} << 0 << QJsonValue(moved);
    QTest::newRow("no main instance keeps bbox")
        << QJsonObject{{"bbox", r1}, {"instancesBbox", QJsonArray{r2}}} << 0 << QJsonValue(r1);
    QTest::newRow("no bbox and no main")
        << QJsonObject{{"instancesBbox", QJsonArray{r2}}} << 0 << QJsonValue(QJsonValue::Undefined);
}

void tst_SessionDocument::mainRectangleWritten()
{
    QFETCH(QJsonObject, lesion);
    QFETCH(int, moveIndex);
    QFETCH(QJsonValue, expectedBbox);
    auto session = makeSession(QJsonObject{{"Lesions", QJsonObject{{"0", QJsonArray{lesion}}}}});
    session->getLesions().value(0).at(0)->setInstanceRect(moveIndex, QRect(100, 100, 60, 60));
    QCOMPARE(lesionAt(session->getSessionJson().object(), "0", 0).value("bbox"), expectedBbox);
}

void tst_SessionDocument::changesToSaveFlag()
{
    auto session = makeSession(loadDocument("rich_session.json"));
    QVERIFY(!session->hasChangesToSave());
    session->getLesions().value(0).at(0)->setLabel("Custom 1");
    QVERIFY(session->hasChangesToSave());
    session->getSessionJson();
    QVERIFY(!session->hasChangesToSave());
    session->createLesion(CameraPose(), 0, 0, 1, QRect(0, 0, 10, 10));
    QVERIFY(session->hasChangesToSave());
    session->getSessionJson();
    session->deleteLesion(session->getLesions().value(1).at(0));
    QVERIFY(session->hasChangesToSave());
}

void tst_SessionDocument::deleteLesionKeepsOrderAndCounters()
{
    auto session = makeSession(QJsonObject{{"Lesions", QJsonObject{{"0", lesionsNumbered({1, 2, 3})}}}});
    const auto middle = session->getLesions().value(0).at(1);
    QSignalSpy deletion(middle.data(), &LesionVisualizer::requestDeletion);
    session->deleteLesion(middle);
    QCOMPARE(deletion.count(), 1);
    const auto left = session->getLesions().value(0);
    QCOMPARE(left.size(), size_t(2));
    QCOMPARE(left.at(0)->getNumericID(), 1);
    QCOMPARE(left.at(1)->getNumericID(), 3);
    QCOMPARE(session->getLesionCounters().at(0), 3);
    // A lesion that is not in the session is not "deleted" again.
    session->deleteLesion(middle);
    QCOMPARE(deletion.count(), 1);
    const QJsonArray written =
        session->getSessionJson().object().value("Lesions").toObject().value("0").toArray();
    QCOMPARE(written.size(), 2);
    QCOMPARE(written.at(1).toObject().value("numericID"), QJsonValue(3));
}

void tst_SessionDocument::getLesionsFilters()
{
    auto session = makeSession(loadDocument("rich_session.json"));
    const auto captured = session->getLesions(QStringList{"Captured", "Detected"}, true);
    // The unlabelled lesion of position 0 and the one of position 3 whose label
    // is a number both read as "Detected".
    QCOMPARE(captured.size(), size_t(2));
    QCOMPARE(session->getLesions(QStringList{"Biopsy"}, true).size(), size_t(1));
    QCOMPARE(session->getLesions(QStringList{"Biopsy"}, false).size(), size_t(0));
    QCOMPARE(session->getLesions(QString("back"), 2).size(), size_t(1));
    QCOMPARE(session->getLesions(QString("frontal"), 5).size(), size_t(1));
    QCOMPARE(session->getLesions(QString("Back"), 2).size(), size_t(0));
    QCOMPARE(session->getLesions(QString("nowhere"), 1).size(), size_t(0));
}

QTEST_MAIN(tst_SessionDocument)
#include "tst_sessiondocument.moc"
