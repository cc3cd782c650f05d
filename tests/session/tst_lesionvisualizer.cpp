#include "SessionTestSupport.h"
#include "session/LesionVisualizer.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QThreadPool>
#include <QtTest>

using namespace SessionTestSupport;

namespace {
QJsonObject lesion(int number, const QJsonValue &ids = QJsonValue(QJsonValue::Undefined), double radius = 1.0)
{
    QJsonObject o{{"numericID", number},
                  {"radius", radius},
                  {"bbox", QJsonObject{{"x", 10}, {"y", 10}, {"w", 20}, {"h", 20}}},
                  {"instancesBbox", QJsonArray{QJsonObject{{"x", 10}, {"y", 10}, {"w", 20}, {"h", 20}}}}};
    if (!ids.isUndefined())
        o.insert("dermatoscopicIds", ids);
    return o;
}

QSharedPointer<SessionVisualizer> sessionWith(int sessionId, const QJsonArray &position0)
{
    return makeSession(QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                                   {"Lesions", QJsonObject{{"0", position0}}}},
                       7, sessionId);
}

QSharedPointer<LesionVisualizer> first(const QSharedPointer<SessionVisualizer> &session, int position = 0)
{
    return session->getLesions().value(position).at(0);
}

// Links the lesions as the main window does for lesions of one number.
void linkAll(const QList<QSharedPointer<LesionVisualizer>> &lesions)
{
    for (const auto &a : lesions)
        for (const auto &b : lesions)
            if (a != b)
                a->addHistoricLesion(b, b->getSessionId());
}

void storeThumbnail(const QSharedPointer<SessionVisualizer> &session, const QString &id, const QSize &size,
                    const QColor &colour)
{
    session->storeFile(session->dermatoscopicPath(id + "s"), jpeg(size, colour), -2);
}
} // namespace

class tst_LesionVisualizer : public QObject
{
    Q_OBJECT

private slots:
    void labelDefaults_data();
    void labelDefaults();
    void idTextAndSortKey_data();
    void idTextAndSortKey();
    void labelColoursAndIcons_data();
    void labelColoursAndIcons();
    void addingDermatoscopicImage_data();
    void addingDermatoscopicImage();
    void contours_data();
    void contours();
    void regions_data();
    void regions();
    void planeAngles_data();
    void planeAngles();
    void historicLinksMade();
    void historicLinksDroppedFreeSessions();
    void renumberingUnlinks();
    void historicSlots_data();
    void historicSlots();
    void mergeAppendsInstances();
    void previewLoadsInBackground();
    void previewOfReplacedImage();
    void lesionDestroyedWhileDecoding();
    void iconsDrawn();
    void lesionsShowingEachOtherSettle();
    void operationsWithoutSession();
};

void tst_LesionVisualizer::labelDefaults_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("priority");
    QTest::addColumn<int>("number");

    QTest::newRow("missing, no images") << QJsonObject() << "Detected" << 3 << -1;
    QTest::newRow("missing, one image")
        << QJsonObject{{"dermatoscopicIds", QJsonArray{"a"}}} << "Captured" << 3 << -1;
    QTest::newRow("not text, with images")
        << QJsonObject{{"lesionLabel", 5}, {"dermatoscopicIds", QJsonArray{QJsonArray{"a", "b"}}}}
        << "Captured" << 3 << -1;
    QTest::newRow("kept when given") << QJsonObject{{"lesionLabel", "Exeresis"},
                                                    {"lesionPriority", 1},
                                                    {"numericID", 9}}
                                     << "Exeresis" << 1 << 9;
    QTest::newRow("unknown label kept") << QJsonObject{{"lesionLabel", "Biopsy"}} << "Biopsy" << 3 << -1;
    QTest::newRow("priority not a number") << QJsonObject{{"lesionPriority", "2"}} << "Detected" << 3 << -1;
    QTest::newRow("priority truncated") << QJsonObject{{"lesionPriority", 2.9}} << "Detected" << 2 << -1;
    QTest::newRow("number not whole") << QJsonObject{{"numericID", 2.5}} << "Detected" << 3 << -1;
    QTest::newRow("empty ids list") << QJsonObject{{"dermatoscopicIds", QJsonArray()}} << "Detected" << 3
                                    << -1;
}

void tst_LesionVisualizer::labelDefaults()
{
    QFETCH(QJsonObject, object);
    QFETCH(QString, label);
    QFETCH(int, priority);
    QFETCH(int, number);
    auto session = sessionWith(1, QJsonArray{object});
    const auto l = first(session);
    QCOMPARE(l->getLabel(), label);
    QCOMPARE(l->getPriority(), priority);
    QCOMPARE(l->getNumericID(), number);
}

void tst_LesionVisualizer::idTextAndSortKey_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("idText");
    QTest::addColumn<qint64>("sortKey");
    QTest::newRow("external") << -1 << 7 << "4_7" << qint64(10007);
    QTest::newRow("position 2") << 2 << 12 << "2_12" << qint64(2012);
    QTest::newRow("position 0") << 0 << 1 << "0_1" << qint64(1);
    QTest::newRow("unnumbered") << 3 << -1 << "3_-1" << qint64(2999);
}

void tst_LesionVisualizer::idTextAndSortKey()
{
    QFETCH(int, position);
    QFETCH(int, number);
    QFETCH(QString, idText);
    QFETCH(qint64, sortKey);
    LesionVisualizer l(QJsonObject{{"numericID", number}}, position, {});
    QCOMPARE(l.getLesionIdText(), idText);
    QCOMPARE(l.getSortKey(), sortKey);
}

void tst_LesionVisualizer::labelColoursAndIcons_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("coloured");
    QTest::addColumn<QString>("plain");
    QTest::newRow("Detected") << "Detected"
                              << "#a09393"
                              << ":/legendIcons/iconDColor"
                              << ":/legendIcons/iconD";
    QTest::newRow("Captured") << "Captured"
                              << "#9dbf9e"
                              << ":/legendIcons/iconCColor"
                              << ":/legendIcons/iconC";
    QTest::newRow("Exeresis") << "Exeresis"
                              << "#d17b74"
                              << ":/legendIcons/iconEColor"
                              << ":/legendIcons/iconE";
    QTest::newRow("Follow up") << "Follow up"
                               << "#9e7b9b"
                               << ":/legendIcons/iconFColor"
                               << ":/legendIcons/iconF";
    QTest::newRow("Custom 1") << "Custom 1"
                              << "#f0ad6d"
                              << ":/legendIcons/iconC1Color"
                              << ":/legendIcons/iconC1";
    QTest::newRow("Custom 2") << "Custom 2"
                              << "#6794a7"
                              << ":/legendIcons/iconC2Color"
                              << ":/legendIcons/iconC2";
    QTest::newRow("unknown") << "Biopsy"
                             << "#ede15b"
                             << ":/legendIcons/iconC2Color"
                             << ":/legendIcons/iconC2";
    QTest::newRow("case matters") << "detected"
                                  << "#ede15b"
                                  << ":/legendIcons/iconC2Color"
                                  << ":/legendIcons/iconC2";
}

void tst_LesionVisualizer::labelColoursAndIcons()
{
    QFETCH(QString, label);
    QFETCH(QString, colour);
    QFETCH(QString, coloured);
    QFETCH(QString, plain);
    QCOMPARE(LesionVisualizer::labelColor(label).name(), colour);
    QCOMPARE(LesionVisualizer::legendIconPath(label, true), coloured);
    QCOMPARE(LesionVisualizer::legendIconPath(label, false), plain);
    // Drawn at 22 by 22 from the resource when the artwork is linked in.
    const QPixmap icon = LesionVisualizer::legendIcon(label, true);
    QCOMPARE(icon.isNull(), !QFile::exists(coloured));
    if (!icon.isNull()) {
        QCOMPARE(icon.size(), QSize(22, 22));
        // Something is drawn, not a blank square.
        const QImage pixels = icon.toImage();
        int opaque = 0;
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 22; ++x)
                opaque += qAlpha(pixels.pixel(x, y)) > 0 ? 1 : 0;
        QVERIFY(opaque > 22);
        icon.save(screenshotPath("legend_" + QString(QTest::currentDataTag()).replace(' ', '_') + ".png"));
    }
    QCOMPARE(LesionVisualizer::labelNames(),
             QStringList({"Detected", "Captured", "Exeresis", "Follow up", "Custom 1", "Custom 2"}));
}

void tst_LesionVisualizer::addingDermatoscopicImage_data()
{
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("final");
    QTest::addColumn<int>("labelUpdates");
    QTest::addColumn<int>("changes");
    QTest::newRow("Detected becomes Captured") << "Detected"
                                               << "Captured" << 1 << 2;
    QTest::newRow("Exeresis kept") << "Exeresis"
                                   << "Exeresis" << 0 << 1;
    QTest::newRow("unknown kept") << "Biopsy"
                                  << "Biopsy" << 0 << 1;
}

void tst_LesionVisualizer::addingDermatoscopicImage()
{
    QFETCH(QString, initial);
    QFETCH(QString, final);
    QFETCH(int, labelUpdates);
    QFETCH(int, changes);
    auto session = sessionWith(1, QJsonArray{QJsonObject{{"lesionLabel", initial}}});
    const auto l = first(session);
    QList<QString> events;
    connect(l.data(), &LesionVisualizer::updated, this,
            [&events](int role) { events << QString::number(role); });
    connect(l.data(), &LesionVisualizer::changesToSave, this, [&events]() { events << "save"; });
    l->addDermatoscopicImage("20240307_1e");
    QCOMPARE(l->getLabel(), final);
    QCOMPARE(events.count("259"), labelUpdates);
    QCOMPARE(events.count("save"), changes);
    if (labelUpdates)
        QCOMPARE(events, QList<QString>({"259", "save", "save"}));
    QCOMPARE(l->getDermatosopicIds().back(), std::vector<QString>{"20240307_1e"});
    QCOMPARE(l->getLastDermatoscopicId(), QString("20240307_1e"));
}

void tst_LesionVisualizer::contours_data()
{
    QTest::addColumn<QJsonValue>("ids");
    QTest::addColumn<QJsonValue>("contours");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QList<QPoint>>("expected");

    const QJsonArray one{QJsonObject{{"x", 1}, {"y", 2}}, QJsonObject{{"x", 3}, {"y", 4}}};
    const QJsonArray other{QJsonObject{{"x", 7}, {"y", 8}}};
    const QList<QPoint> onePoints{{1, 2}, {3, 4}};
    QTest::newRow("one-id group") << QJsonValue(QJsonArray{"a"}) << QJsonValue(QJsonArray{one}) << "a"
                                  << onePoints;
    QTest::newRow("second group") << QJsonValue(QJsonArray{"a", "b"}) << QJsonValue(QJsonArray{other, one})
                                  << "b" << onePoints;
    QTest::newRow("second place of a two-id group, two outlines")
        << QJsonValue(QJsonArray{QJsonArray{"a", "b"}}) << QJsonValue(QJsonArray{QJsonArray{other, one}})
        << "b" << onePoints;
    QTest::newRow("second place of a two-id group, one outline")
        << QJsonValue(QJsonArray{QJsonArray{"a", "b"}}) << QJsonValue(QJsonArray{QJsonArray{other}}) << "b"
        << QList<QPoint>();
    QTest::newRow("group without outline group")
        << QJsonValue(QJsonArray{"a", "b"}) << QJsonValue(QJsonArray{one}) << "b" << QList<QPoint>();
    QTest::newRow("unknown id") << QJsonValue(QJsonArray{"a"}) << QJsonValue(QJsonArray{one}) << "z"
                                << QList<QPoint>();
    QTest::newRow("no outlines") << QJsonValue(QJsonArray{"a"}) << QJsonValue(QJsonArray()) << "a"
                                 << QList<QPoint>();
    QTest::newRow("empty group before") << QJsonValue(QJsonArray{QJsonArray(), "a"})
                                        << QJsonValue(QJsonArray{other, one}) << "a" << onePoints;
}

void tst_LesionVisualizer::contours()
{
    QFETCH(QJsonValue, ids);
    QFETCH(QJsonValue, contours);
    QFETCH(QString, id);
    QFETCH(QList<QPoint>, expected);
    LesionVisualizer l(QJsonObject{{"dermatoscopicIds", ids}, {"dermatoscopicContour", contours}}, 0, {});
    const auto outline = l.getDermatoscopicContour(id);
    QCOMPARE(QList<QPoint>(outline.begin(), outline.end()), expected);
}

void tst_LesionVisualizer::regions_data()
{
    QTest::addColumn<QJsonValue>("outline");
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QRect>("expected");

    auto square = [](int x, int y, int side) {
        return QJsonValue(QJsonArray{QJsonObject{{"x", x}, {"y", y}}, QJsonObject{{"x", x + side}, {"y", y}},
                                     QJsonObject{{"x", x + side}, {"y", y + side}},
                                     QJsonObject{{"x", x}, {"y", y + side}}});
    };
    QTest::newRow("grown and widened to half the height")
        << square(500, 500, 40) << QSize(2000, 1500) << QRect(145, 145, 750, 750);
    QTest::newRow("no outline is the whole image")
        << QJsonValue(QJsonArray()) << QSize(800, 600) << QRect(0, 0, 800, 600);
    QTest::newRow("moved right from the left edge")
        << square(0, 500, 40) << QSize(2000, 1500) << QRect(0, 145, 750, 750);
    QTest::newRow("moved left from the right edge")
        << square(1960, 500, 40) << QSize(2000, 1500) << QRect(1250, 145, 750, 750);
    QTest::newRow("moved up from the bottom")
        << square(500, 1460, 40) << QSize(2000, 1500) << QRect(145, 750, 750, 750);
    QTest::newRow("large outline is not widened")
        << square(100, 100, 1000) << QSize(2000, 1500) << QRect(0, 0, 1200, 1200);
}

void tst_LesionVisualizer::regions()
{
    QFETCH(QJsonValue, outline);
    QFETCH(QSize, imageSize);
    QFETCH(QRect, expected);
    LesionVisualizer l(
        QJsonObject{{"dermatoscopicIds", QJsonArray{"a"}}, {"dermatoscopicContour", QJsonArray{outline}}}, 0,
        {});
    QCOMPARE(l.getDermatoscopicRegion("a", imageSize), expected);
}

void tst_LesionVisualizer::planeAngles_data()
{
    QTest::addColumn<QJsonObject>("plane");
    QTest::addColumn<double>("second");
    QTest::addColumn<double>("first");
    QTest::newRow("facing") << QJsonObject{{"x", 0}, {"y", 0}, {"z", 1}} << 0.0 << 0.0;
    QTest::newRow("tilted down") << QJsonObject{{"x", 0}, {"y", -0.5}, {"z", 0.8}} << 0.0 << 30.0;
    QTest::newRow("turned") << QJsonObject{{"x", 0.5}, {"y", 0}, {"z", 0.8}} << 30.0 << 0.0;
    QTest::newRow("out of range clamped") << QJsonObject{{"x", 0}, {"y", -3}, {"z", 0}} << 0.0 << 90.0;
    QTest::newRow("vertical with sideways part")
        << QJsonObject{{"x", 1}, {"y", 1}, {"z", 0}} << 90.0 << -90.0;
}

void tst_LesionVisualizer::planeAngles()
{
    QFETCH(QJsonObject, plane);
    QFETCH(double, second);
    QFETCH(double, first);
    LesionVisualizer l(QJsonObject{{"plane", plane}}, 0, {});
    const auto angles = l.getPlaneAngles();
    QVERIFY2(qAbs(angles.first - second) < 1e-3, qPrintable(QString::number(angles.first)));
    QVERIFY2(qAbs(angles.second - first) < 1e-3, qPrintable(QString::number(angles.second)));
}

void tst_LesionVisualizer::historicLinksMade()
{
    auto s1 = sessionWith(1, QJsonArray{lesion(4, QJsonValue(QJsonValue::Undefined), 1.0)});
    auto s2 = sessionWith(2, QJsonArray{lesion(4, QJsonValue(QJsonValue::Undefined), 1.5)});
    auto s3 = sessionWith(3, QJsonArray{lesion(4, QJsonValue(QJsonValue::Undefined), 3.0)});
    const auto a = first(s1), b = first(s2), c = first(s3);
    linkAll({a, b, c});
    // A second link for a session that already has one is refused.
    a->addHistoricLesion(c, 2);

    QCOMPARE(a->getHistoricLesions().keys(), QList<int>({2, 3}));
    QCOMPARE(a->getHistoricLesions().value(2), b);
    QCOMPARE(b->getHistoricLesions().keys(), QList<int>({1, 3}));

    const auto newer = a->getNewerHistoricLesions();
    QCOMPARE(newer.size(), size_t(2));
    QCOMPARE(newer.at(0), b);
    QCOMPARE(b->getNewerHistoricLesions(), std::vector<QSharedPointer<LesionVisualizer>>{c});
    QVERIFY(c->getNewerHistoricLesions().empty());

    const auto changes = b->getRadiusChanges();
    QCOMPARE(changes.first, 2.0);
    QCOMPARE(changes.second, std::vector<double>({1.0, 3.0}));

    s3->setPrincipalSession(true);
    QCOMPARE(a->getPrincipalLesion(), c);
    QCOMPARE(c->getPrincipalLesion(), c);
    QSignalSpy select(s3.data(), &SessionVisualizer::changeDermatoImage);
    a->selectLesion();
    QCOMPARE(select.count(), 1);
    QCOMPARE(select.at(0).at(0).value<QSharedPointer<LesionVisualizer>>(), c);

    auto lonely = sessionWith(9, QJsonArray{lesion(8)});
    QCOMPARE(first(lonely)->getRadiusChanges().first, -1.0);
    QVERIFY(!first(lonely)->getPrincipalLesion());

    for (const auto &s : {s1, s2, s3})
        s->releaseHistoricLinks();
}

void tst_LesionVisualizer::historicLinksDroppedFreeSessions()
{
    QWeakPointer<LesionVisualizer> wa, wb;
    QWeakPointer<SessionVisualizer> ws1;
    QSharedPointer<LesionVisualizer> held;
    {
        auto s1 = sessionWith(1, QJsonArray{lesion(4, QJsonArray{"20230101_1"})});
        auto s2 = sessionWith(2, QJsonArray{lesion(4, QJsonArray{"20240101_1"})});
        wa = first(s1);
        wb = first(s2);
        ws1 = s1;
        linkAll({first(s1), first(s2)});
        first(s2)->changeHistoricLesionsToShow(1, -1);
        held = first(s1);
    }
    // A session that goes drops its lesions' links: a lesion held past its
    // session no longer keeps the other session's lesion alive.
    QVERIFY(ws1.isNull());
    QVERIFY(wb.isNull());
    QVERIFY(held->getHistoricLesions().isEmpty());
    held.reset();
    QVERIFY(wa.isNull());

    // Released through the session, as the main window does.
    {
        auto s1 = sessionWith(1, QJsonArray{lesion(4), lesion(5)});
        auto s2 = sessionWith(2, QJsonArray{lesion(4), lesion(5)});
        auto s3 = sessionWith(3, QJsonArray{lesion(5)});
        wa = first(s1);
        wb = s3->getLesions().value(0).at(0);
        linkAll({s1->getLesions().value(0).at(0), s2->getLesions().value(0).at(0)});
        linkAll({s1->getLesions().value(0).at(1), s2->getLesions().value(0).at(1), first(s3)});
        for (const auto &s : {s1, s2, s3})
            s->releaseHistoricLinks();
        QVERIFY(first(s3)->getHistoricLesions().isEmpty());
    }
    QVERIFY(wa.isNull());
    QVERIFY(wb.isNull());
}

void tst_LesionVisualizer::renumberingUnlinks()
{
    auto s1 = sessionWith(1, QJsonArray{lesion(4, QJsonArray{"20230101_1"})});
    auto s2 = sessionWith(2, QJsonArray{lesion(4, QJsonArray{"20240101_1"}), lesion(6)});
    auto s3 = sessionWith(3, QJsonArray{lesion(4, QJsonArray{"20250101_1"})});
    const auto a = first(s1), b = first(s2), c = first(s3);
    linkAll({a, b, c});
    a->changeHistoricLesionsToShow(2, 3);
    c->changeHistoricLesionsToShow(2, -1);
    b->changeHistoricLesionsToShow(1, 3);
    QCOMPARE(b->getHistoricSessionsShown(), std::make_pair(1, 3));

    QSignalSpy updated(b.data(), &LesionVisualizer::updated);
    QSignalSpy changes(b.data(), &LesionVisualizer::changesToSave);
    b->renumber();
    // Counter of position 0 was 6 (the last listed); 7 is free.
    QCOMPARE(b->getNumericID(), 7);
    QVERIFY(b->getHistoricLesions().isEmpty());
    QCOMPARE(a->getHistoricLesions().keys(), QList<int>({3}));
    QCOMPARE(c->getHistoricLesions().keys(), QList<int>({1}));
    QCOMPARE(a->getHistoricSessionsShown(), std::make_pair(-1, 3));
    QCOMPARE(c->getHistoricSessionsShown(), std::make_pair(-1, -1));
    QCOMPARE(b->getHistoricSessionsShown(), std::make_pair(-1, -1));
    QVERIFY(updated.contains(QVariantList{257}));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(
        s2->getSessionJson().object().value("Lesions").toObject().value("0").toArray().at(0).toObject().value(
            "numericID"),
        QJsonValue(7));
    for (const auto &s : {s1, s2, s3})
        s->releaseHistoricLinks();
}

void tst_LesionVisualizer::historicSlots_data()
{
    QTest::addColumn<bool>("withImages");
    QTest::addColumn<QList<int>>("calls");
    QTest::addColumn<int>("expectedFirst");
    QTest::addColumn<int>("expectedSecond");

    QTest::newRow("both set") << true << QList<int>{2, 3} << 2 << 3;
    QTest::newRow("unknown session leaves the slot") << true << QList<int>{2, 3, 9, -1} << 2 << 3;
    QTest::newRow("-1 leaves the slot") << true << QList<int>{2, 3, -1, -1} << 2 << 3;
    QTest::newRow("-2 clears") << true << QList<int>{2, 3, -2, -2} << -1 << -1;
    QTest::newRow("first unknown from start") << true << QList<int>{9, -1} << -1 << -1;
    QTest::newRow("without images the arguments are taken") << false << QList<int>{9, -1} << 9 << -1;
    QTest::newRow("without images -2 as -1") << false << QList<int>{2, 3, -2, 3} << -1 << 3;
}

void tst_LesionVisualizer::historicSlots()
{
    QFETCH(bool, withImages);
    QFETCH(QList<int>, calls);
    QFETCH(int, expectedFirst);
    QFETCH(int, expectedSecond);
    const QJsonValue ids =
        withImages ? QJsonValue(QJsonArray{"20230101_1"}) : QJsonValue(QJsonValue::Undefined);
    auto s1 = sessionWith(1, QJsonArray{lesion(4, ids)});
    auto s2 = sessionWith(2, QJsonArray{lesion(4, QJsonArray{"20240101_1"})});
    auto s3 = sessionWith(3, QJsonArray{lesion(4, QJsonArray{"20250101_1"})});
    linkAll({first(s1), first(s2), first(s3)});
    for (int i = 0; i + 1 < calls.size(); i += 2)
        first(s1)->changeHistoricLesionsToShow(calls[i], calls[i + 1]);
    QCOMPARE(first(s1)->getHistoricSessionsShown(), std::make_pair(expectedFirst, expectedSecond));
    for (const auto &s : {s1, s2, s3})
        s->releaseHistoricLinks();
}

void tst_LesionVisualizer::mergeAppendsInstances()
{
    const QJsonObject extra{{"x", 500}, {"y", 600}, {"w", 70}, {"h", 80}, {"note", "device"}};
    QJsonObject second = lesion(9, QJsonArray{"20240101_2"});
    second["instancesBbox"] = QJsonArray{extra};
    second["instancesPosition"] =
        QJsonArray{QJsonObject{{"x", 0.1}, {"y", 2}, {"z", 0}, {"alpha", 0}, {"beta", 0}}};
    const QJsonArray outline{QJsonObject{{"x", 5}, {"y", 6}}, QJsonObject{{"x", 50}, {"y", 60}}};
    second["dermatoscopicContour"] = QJsonArray{outline};
    auto session = sessionWith(1, QJsonArray{lesion(4, QJsonArray{"20240101_1"}), second});
    const auto keep = session->getLesions().value(0).at(0);
    const auto other = session->getLesions().value(0).at(1);
    QSignalSpy change(other.data(), &LesionVisualizer::requestChange);
    QSignalSpy save(keep.data(), &LesionVisualizer::changesToSave);
    keep->mergeLesion(other);
    QCOMPARE(change.count(), 1);
    QCOMPARE(change.at(0).at(0).value<QSharedPointer<LesionVisualizer>>(), keep);
    QCOMPARE(save.count(), 1);
    QCOMPARE(keep->getInstancesBbox().size(), size_t(2));
    QCOMPARE(keep->getMainFlags(), std::vector<bool>({true, false}));
    QCOMPARE(keep->getMainInstanceIndex(), 0);
    QCOMPARE(keep->getDermatosopicIds().size(), size_t(2));

    const QJsonObject written = keep->toJson();
    QCOMPARE(written.value("instancesBbox").toArray().at(1), QJsonValue(extra));
    // The first lesion had no poses: the other's pose comes first, as read.
    QCOMPARE(written.value("instancesPosition").toArray().size(), 1);
    QCOMPARE(written.value("instancesPosition").toArray().at(0).toObject().value("x"), QJsonValue(0.1));
    QCOMPARE(written.value("dermatoscopicIds"),
             QJsonValue(QJsonArray{QJsonArray{"20240101_1"}, QJsonArray{"20240101_2"}}));
    // The other lesion's outline stays with its image, after an empty outline
    // for the image that had none, and reads back the same.
    QCOMPARE(keep->getDermatoscopicContour("20240101_2"), std::vector<QPoint>({{5, 6}, {50, 60}}));
    QCOMPARE(written.value("dermatoscopicContour"), QJsonValue(QJsonArray{QJsonArray(), outline}));
    LesionVisualizer reread(written, 0, {});
    QCOMPARE(reread.getDermatoscopicContour("20240101_2"), std::vector<QPoint>({{5, 6}, {50, 60}}));
    QVERIFY(reread.getDermatoscopicContour("20240101_1").empty());
}

void tst_LesionVisualizer::previewLoadsInBackground()
{
    auto session = sessionWith(1, QJsonArray{lesion(4, QJsonArray{"20240101_7"})});
    const QByteArray full = jpeg(QSize(4000, 3000));
    session->storeFile(session->dermatoscopicPath("20240101_7"), full, 1);
    const auto l = first(session);
    l->pixmapChanged();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));
    // The result reaches the lesion through the event loop, on this thread.
    QCoreApplication::processEvents();
    const auto preview = l->getDermatoscopicPixmap();
    QCOMPARE(preview.first.size(), QSize(266, 200));
    QCOMPARE(preview.second, full);

    const QImage image = l->getDermatoscopicImage();
    QCOMPARE(image.size(), QSize(4000, 3000));

    // Without a background load the preview is made on request.
    auto other = sessionWith(2, QJsonArray{lesion(4, QJsonArray{"20240101_8"})});
    other->storeFile(other->dermatoscopicPath("20240101_8"), jpeg(QSize(300, 600)), 1);
    QCOMPARE(first(other)->getDermatoscopicPixmap().first.size(), QSize(100, 200));
    QVERIFY(first(sessionWith(3, QJsonArray{lesion(4)}))->getDermatoscopicPixmap().first.isNull());
}

void tst_LesionVisualizer::previewOfReplacedImage()
{
    auto session = sessionWith(1, QJsonArray{lesion(4, QJsonArray{"20240101_7"})});
    session->storeFile(session->dermatoscopicPath("20240101_7"), jpeg(QSize(3000, 3000)), 1);
    const auto l = first(session);
    l->pixmapChanged();
    // The store entry is replaced while the load may still run: the task works
    // on its own copy, and a new image starts a new load.
    session->storeFile(session->dermatoscopicPath("20240101_7"), jpeg(QSize(2000, 1000)), 1);
    l->addDermatoscopicImage("20240202_1");
    session->storeFile(session->dermatoscopicPath("20240202_1"), jpeg(QSize(1000, 2000)), 1);
    l->pixmapChanged();
    const auto preview = l->getDermatoscopicPixmap();
    QCOMPARE(preview.first.size(), QSize(100, 200));
    QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));
    QCoreApplication::processEvents();
    QCOMPARE(l->getDermatoscopicPixmap().first.size(), QSize(100, 200));
}

void tst_LesionVisualizer::lesionDestroyedWhileDecoding()
{
    QWeakPointer<LesionVisualizer> weak;
    {
        auto session = sessionWith(1, QJsonArray{lesion(4, QJsonArray{"20240101_7"})});
        session->storeFile(session->dermatoscopicPath("20240101_7"), jpeg(QSize(5000, 4000)), 1);
        storeThumbnail(session, "20240101_7", QSize(400, 300), Qt::darkRed);
        weak = first(session);
        for (int i = 0; i < 4; ++i) {
            first(session)->pixmapChanged();
            first(session)->changeHistoricLesionsToShow(-1, -1);
        }
    }
    QVERIFY(weak.isNull());
    QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));
    QCoreApplication::processEvents();
}

void tst_LesionVisualizer::iconsDrawn()
{
    auto older = sessionWith(1, QJsonArray{lesion(4, QJsonArray{"20230517_abc"})});
    auto newer = sessionWith(2, QJsonArray{lesion(4, QJsonArray{"20240308_def"})});
    storeThumbnail(older, "20230517_abc", QSize(400, 300), QColor(180, 120, 90));
    storeThumbnail(newer, "20240308_def", QSize(400, 300), QColor(150, 90, 70));
    const auto a = first(older), b = first(newer);
    linkAll({a, b});

    QSignalSpy updated(b.data(), &LesionVisualizer::updated);
    QImage thumbnail;
    int quality = 0;
    QVERIFY(newer->getDermatoscopicFile("20240308_defs", thumbnail, quality));
    b->setIcon(thumbnail);
    QVERIFY(updated.contains(QVariantList{1}));
    QVERIFY(!b->getIcon().isNull());
    QCOMPARE(b->getIcon().availableSizes(), QList<QSize>{QSize(267, 200)});
    const QPixmap icon = b->getIcon().pixmap(QSize(267, 200));
    QCOMPARE(icon.height(), 200);

    b->changeHistoricLesionsToShow(1, -1);
    const QPixmap composite = b->getCompositePixmap();
    // Own thumbnail and the shown historic one side by side at their height.
    QCOMPARE(composite.size(), QSize(800, 300));
    const QImage compositeImage = composite.toImage();
    QVERIFY(qAbs(compositeImage.pixelColor(200, 250).red() - 150) <= 3);
    QVERIFY(qAbs(compositeImage.pixelColor(600, 250).red() - 180) <= 3);
    // The corners are rounded off.
    QCOMPARE(compositeImage.pixelColor(0, 0).alpha(), 0);

    QCOMPARE(b->getCompositeIcon().availableSizes().size(), 1);
    const QPixmap compositeIcon =
        b->getCompositeIcon().pixmap(b->getCompositeIcon().availableSizes().first());
    QCOMPARE(compositeIcon.height(), 200);
    QVERIFY(compositeIcon.width() > icon.width());

    icon.save(screenshotPath("lesion_icon.png"));
    composite.save(screenshotPath("lesion_composite.png"));
    compositeIcon.save(screenshotPath("lesion_composite_icon.png"));

    const QImage labelled = LesionVisualizer::drawDateLabel(thumbnail, "20230517_abc");
    QCOMPARE(labelled.size(), thumbnail.size());
    // A date box is drawn near the top-left corner, none near the bottom-right.
    QVERIFY(labelled.pixelColor(20, 20) != thumbnail.pixelColor(20, 20));
    QCOMPARE(labelled.pixelColor(390, 290).rgb(), thumbnail.pixelColor(390, 290).rgb());
    QVERIFY(LesionVisualizer::drawDateLabel(QImage(), "20230517_abc").isNull());
    QCOMPARE(LesionVisualizer::dateOfDermatoscopicId("20230517_abc"), QDate(2023, 5, 17));
    QVERIFY(!LesionVisualizer::dateOfDermatoscopicId("nodate").isValid());

    for (const auto &s : {older, newer})
        s->releaseHistoricLinks();
}

void tst_LesionVisualizer::lesionsShowingEachOtherSettle()
{
    auto s1 = sessionWith(1, QJsonArray{lesion(4, QJsonArray{"20230101_1"})});
    auto s2 = sessionWith(2, QJsonArray{lesion(4, QJsonArray{"20240101_1"})});
    storeThumbnail(s1, "20230101_1", QSize(40, 30), Qt::red);
    storeThumbnail(s2, "20240101_1", QSize(40, 30), Qt::blue);
    const auto a = first(s1), b = first(s2);
    linkAll({a, b});
    a->changeHistoricLesionsToShow(2, -1);
    b->changeHistoricLesionsToShow(1, -1);
    QSignalSpy aUpdated(a.data(), &LesionVisualizer::updated);
    QSignalSpy bUpdated(b.data(), &LesionVisualizer::updated);
    QImage thumbnail;
    int quality = 0;
    QVERIFY(s2->getDermatoscopicFile("20240101_1s", thumbnail, quality));
    b->setIcon(thumbnail);
    // a refreshes once for b's new icon; the echo back to b stops there.
    QVERIFY(aUpdated.count() >= 1 && aUpdated.count() <= 2);
    QVERIFY(bUpdated.count() >= 1 && bUpdated.count() <= 3);
    s1->releaseHistoricLinks();
    s2->releaseHistoricLinks();
}

void tst_LesionVisualizer::operationsWithoutSession()
{
    QSharedPointer<LesionVisualizer> orphan;
    {
        auto session = sessionWith(1, QJsonArray{lesion(4, QJsonArray{"20240101_7"})});
        session->storeFile(session->dermatoscopicPath("20240101_7"), jpeg(QSize(40, 30)), 1);
        orphan = first(session);
    }
    QVERIFY(!orphan->getSession());
    QVERIFY(orphan->getDermatoscopicImage().isNull());
    QVERIFY(orphan->getDermatoscopicPixmap().second.isNull());
    QVERIFY(!orphan->isInPrincipalSession());
    QVERIFY(!orphan->hasDermatoscopicFile("20240101_7"));
    orphan->pixmapChanged();
    orphan->selectLesion();
    orphan->renumber();
    QCOMPARE(orphan->getNumericID(), -1);
    QVERIFY(orphan->getCompositePixmap().isNull());
}

QTEST_MAIN(tst_LesionVisualizer)
#include "tst_lesionvisualizer.moc"
