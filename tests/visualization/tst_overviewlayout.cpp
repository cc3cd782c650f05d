#include "session/SessionTestSupport.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "visualization/ImageItem.h"
#include "visualization/OverviewLayout.h"

#include <QImage>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QtTest>

using namespace OverviewLayout;

using Points = QList<QPointF>;
using Names = QStringList;

namespace {

std::vector<QPointF> toVector(const Points &points)
{
    return std::vector<QPointF>(points.begin(), points.end());
}

bool near(double a, double b)
{
    return std::abs(a - b) < 1e-3;
}

bool close(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
           std::abs(a.blue() - b.blue()) <= 2 && std::abs(a.alpha() - b.alpha()) <= 2;
}

// Six names in direction order: 0 left, 1 upper left, 2 upper right, 3 right,
// 4 lower right, 5 lower left.
Names namesOf(const std::array<QString, 6> &names)
{
    return Names(names.begin(), names.end());
}

} // namespace

class tst_OverviewLayout : public QObject
{
    Q_OBJECT

private slots:
    void tiles_data();
    void tiles();
    void schemes_data();
    void schemes();
    void neighbours_data();
    void neighbours();
    void tileItem();
    void tilePainting_data();
    void tilePainting();
};

void tst_OverviewLayout::tiles_data()
{
    QTest::addColumn<Points>("poses");
    QTest::addColumn<int>("W");
    QTest::addColumn<int>("H");
    QTest::addColumn<double>("w");
    QTest::addColumn<double>("h");
    QTest::addColumn<Points>("corners");
    QTest::addColumn<QRect>("limits");
    QTest::addColumn<bool>("valid");

    // Four: 0.5 +- 0.5 (g + bw) and 0.5 +- 1.5 (g + bw), g = 0.1 / 3, bw = 0.225.
    QTest::newRow("four in a row") << Points{{1, 5}, {2, 5}, {3, 5}, {4, 5}} << 400 << 500 << 80.0 << 64.0
                                   << Points{{45, 32}, {148.33333, 32}, {251.66667, 32}, {355, 32}}
                                   << QRect(QPoint(40, 32), QPoint(435, 96)) << true;
    // Five: 0.5, 0.5 +- (g + bw), 0.5 +- 2 (g + bw), g = 0.025, bw = 0.18.
    QTest::newRow("five in a row") << Points{{1, 5.5f}, {2, 5.2f}, {3, 5}, {4, 5}, {5, 5.9f}} << 400 << 500
                                   << 62.0 << 49.6
                                   << Points{{36, 24.8}, {118, 24.8}, {200, 24.8}, {282, 24.8}, {364, 24.8}}
                                   << QRect(QPoint(31, 24), QPoint(426, 73)) << true;
    // The second row runs right to left; the row gap of 401 is capped at 70.
    QTest::newRow("two rows of five alternate")
        << Points{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}, {5, 9}, {4, 9}, {3, 9}, {2, 9}, {1, 9}} << 400
        << 500 << 62.0 << 49.6 << Points{{36, 24.8},   {118, 24.8},  {200, 24.8},  {282, 24.8},  {364, 24.8},
                                         {364, 88.26}, {282, 88.26}, {200, 88.26}, {118, 88.26}, {36, 88.26}}
        << QRect(QPoint(31, 24), QPoint(426, 137)) << true;
    // Rows in order of first appearance, not of y; the row gap 228 is capped at 70.
    QTest::newRow("rows by first appearance")
        << Points{{0, 20.7f}, {0, 10}, {1, 10.4f}} << 400 << 500 << 170.0 << 136.0
        << Points{{200, 68}, {310, 242.08}, {90, 242.08}} << QRect(QPoint(85, 68), QPoint(480, 378)) << true;
    QTest::newRow("one image, w = 0.9 W - 10")
        << Points{{3, 3}} << 400 << 500 << 350.0 << 280.0 << Points{{200, 140}}
        << QRect(QPoint(195, 140), QPoint(550, 420)) << true;
    // Three rows fit: the row gap (900 - 840) / 2 = 30 stays below the cap.
    QTest::newRow("three rows, gap under the cap")
        << Points{{0, 1}, {0, 2}, {0, 3}} << 400 << 900 << 350.0 << 280.0
        << Points{{200, 140}, {200, 448}, {200, 756}} << QRect(QPoint(195, 140), QPoint(550, 1036)) << true;
    // int(280 x 4) > 500: h = 500 / 4 - 10 = 115, w = 143.75, v = 0.01.
    QTest::newRow("four rows, height changed")
        << Points{{0, 1}, {0, 2}, {0, 3}, {0, 4}} << 400 << 500 << 143.75 << 115.0
        << Points{{200, 57.5}, {200, 177.1}, {200, 296.7}, {200, 416.3}}
        << QRect(QPoint(195, 57), QPoint(343, 531)) << true;
    // int(136) > 100: h = 90, w = 112.5, gap int(400 - 225) = 175 capped at 70.
    QTest::newRow("one row too high, gap capped")
        << Points{{0, 0}, {1, 0}} << 400 << 100 << 112.5 << 90.0 << Points{{108.75, 45}, {291.25, 45}}
        << QRect(QPoint(103, 45), QPoint(403, 135)) << true;
    // int(64) > 60: h = 50, w = 62.5, gap int(112.5) / 2 = 56 (under the cap).
    QTest::newRow("one row too high, gap kept")
        << Points{{0, 0}, {1, 0}, {2, 0}} << 300 << 60 << 62.5 << 50.0
        << Points{{31.5, 25}, {150, 25}, {268.5, 25}} << QRect(QPoint(26, 25), QPoint(330, 75)) << true;
    QTest::newRow("no poses: inverted limits") << Points{} << 400 << 500 << 350.0 << 280.0 << Points{}
                                               << QRect(QPoint(99995, 100000), QPoint(-650, -720)) << false;
    // 10 x 0.9 / 4 - 10 is negative: tiles stay 1 x 1.
    QTest::newRow("narrow layout clamps to 1")
        << Points{{0, 0}, {1, 0}, {2, 0}, {3, 0}} << 10 << 10 << 1.0 << 1.0
        << Points{{1.125, 0.5}, {3.70833, 0.5}, {6.29167, 0.5}, {8.875, 0.5}}
        << QRect(QPoint(-4, 0), QPoint(9, 1)) << true;
}

void tst_OverviewLayout::tiles()
{
    QFETCH(Points, poses);
    QFETCH(int, W);
    QFETCH(int, H);
    QFETCH(double, w);
    QFETCH(double, h);
    QFETCH(Points, corners);
    QFETCH(QRect, limits);
    QFETCH(bool, valid);

    const TileLayout layout = imagePositions(toVector(poses), W, H);
    QVERIFY2(near(layout.width, w), qPrintable(QString::number(layout.width)));
    QVERIFY2(near(layout.height, h), qPrintable(QString::number(layout.height)));
    QCOMPARE(layout.positions.size(), size_t(poses.size()));
    for (int i = 0; i < corners.size(); ++i) {
        const QPointF got = layout.positions[size_t(i)];
        QVERIFY2(near(got.x(), corners[i].x()) && near(got.y(), corners[i].y()),
                 qPrintable(QStringLiteral("tile %1 at (%2, %3)").arg(i).arg(got.x()).arg(got.y())));
    }
    QCOMPARE(layout.limits, limits);
    QCOMPARE(validLimits(layout.limits), valid);
}

void tst_OverviewLayout::schemes_data()
{
    QTest::addColumn<Points>("poses");
    QTest::addColumn<int>("boxWidth");
    QTest::addColumn<double>("l");
    QTest::addColumn<double>("m");
    QTest::addColumn<Points>("centres");

    // l = 0.15 x 126 - 10; g = 0.1 / 5, bw = 0.15; row gap 293 capped at 20.
    QTest::newRow("one row of six, frontal")
        << Points{{0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}} << 126 << 8.9 << 7.12
        << Points{{9.45, 3.56}, {30.87, 3.56}, {52.29, 3.56}, {73.71, 3.56}, {95.13, 3.56}, {116.55, 3.56}};
    // int(82.72 x 4) + 8 = 338 > 300: m = 300 / 4 - 2.
    QTest::newRow("four rows of one, frontal")
        << Points{{0, 1}, {0, 2}, {0, 3}, {0, 4}} << 126 << 91.25 << 73.0
        << Points{{63, 36.5}, {63, 112.42}, {63, 188.34}, {63, 264.26}};
    // l = 0.45 x 120 - 10 = 44; second row right to left; g = 0.1, bw = 0.45.
    QTest::newRow("two rows of two, left box")
        << Points{{0, 1}, {1, 1}, {1, 2}, {0, 2}} << 120 << 44.0 << 35.2
        << Points{{27, 17.6}, {93, 17.6}, {93, 57.46667}, {27, 57.46667}};
    QTest::newRow("no poses") << Points{} << 126 << 103.4 << 82.72 << Points{};
}

void tst_OverviewLayout::schemes()
{
    QFETCH(Points, poses);
    QFETCH(int, boxWidth);
    QFETCH(double, l);
    QFETCH(double, m);
    QFETCH(Points, centres);

    const SchemeLayout layout = schemeLayout(toVector(poses), boxWidth);
    QVERIFY2(near(layout.width, l), qPrintable(QString::number(layout.width)));
    QVERIFY2(near(layout.height, m), qPrintable(QString::number(layout.height)));
    QCOMPARE(layout.centres.size(), size_t(centres.size()));
    for (int i = 0; i < centres.size(); ++i) {
        const QPointF got = layout.centres[size_t(i)];
        QVERIFY2(near(got.x(), centres[i].x()) && near(got.y(), centres[i].y()),
                 qPrintable(QStringLiteral("centre %1 at (%2, %3)").arg(i).arg(got.x()).arg(got.y())));
    }
}

void tst_OverviewLayout::neighbours_data()
{
    QTest::addColumn<QString>("tile");
    QTest::addColumn<Names>("expected");

    // The grid is built in neighbours(): frontal rows A B C / D E / F, right
    // and left beside it, back missing, and "extra" outside the cyclic list.
    QTest::newRow("middle of the top row") << "B" << Names{"A", "", "", "C", "E", "D"};
    QTest::newRow("left end takes the right position's image, larger x within 1")
        << "A" << Names{"R2", "", "", "B", "D", "D"};
    QTest::newRow("right end takes the left position's image, smaller x within 1")
        << "C" << Names{"B", "", "", "L2", "E", "E"};
    QTest::newRow("upper row on both sides, lower row falls back")
        << "D" << Names{"R3", "A", "B", "E", "F", "F"};
    QTest::newRow("nearest row above only, fall-back on the right")
        << "F" << Names{"R3", "E", "E", "L3", "", ""};
    QTest::newRow("next position missing leaves left empty") << "R1" << Names{"", "", "", "R2", "R3", "R3"};
    QTest::newRow("previous position is frontal") << "R2" << Names{"R1", "", "", "A", "R3", "R3"};
    QTest::newRow("left wraps round to frontal") << "L1" << Names{"C", "", "", "L2", "L3", "L3"};
    QTest::newRow("previous position missing leaves right empty")
        << "L2" << Names{"L1", "", "", "", "L3", "L3"};
    QTest::newRow("outside the cyclic list, first") << "X1" << Names{"", "", "", "X2", "", ""};
    QTest::newRow("outside the cyclic list, second") << "X2" << Names{"X1", "", "", "", "", ""};
}

void tst_OverviewLayout::neighbours()
{
    QFETCH(QString, tile);
    QFETCH(Names, expected);

    std::map<QString, std::vector<NeighbourTile>> grid;
    grid["frontal"] = {{"A", {0, 0}, {1, 10}},    {"B", {100, 0}, {2, 10}},   {"C", {200, 0}, {3, 10}},
                       {"D", {50, 100}, {4, 40}}, {"E", {150, 100}, {5, 40}}, {"F", {300, 200}, {6, 70}}};
    grid["right"] = {{"R1", {0, 0}, {5, 10}}, {"R2", {100, 0}, {8, 10.5}}, {"R3", {0, 100}, {2, 40}}};
    grid["left"] = {{"L1", {0, 0}, {5, 10}}, {"L2", {100, 0}, {1, 10.2}}, {"L3", {0, 100}, {3, 50}}};
    grid["extra"] = {{"X1", {0, 0}, {0, 10}}, {"X2", {100, 0}, {1, 10}}};

    const auto result = computeNeighbours(grid);
    QCOMPARE(result.size(), size_t(14));
    const auto found = result.find(tile);
    QVERIFY(found != result.end());
    QCOMPARE(namesOf(found->second), expected);
}

void tst_OverviewLayout::tileItem()
{
    static_assert(ImageItem::itemType == GraphicsView::tileType, "views select tiles by this type");
    ImageItem plain(QRect(0, 0, 40, 30), QStringLiteral("sessions/1/2/imgL/a"));
    QCOMPARE(plain.type(), 65537);
    QCOMPARE(plain.boundingRect(), QRectF(-3, -3, 46, 36));
    QCOMPARE(plain.getColor(), QColor(0, 0, 0));

    plain.setNeighbour(3, QStringLiteral("b"));
    plain.setNeighbour(6, QStringLiteral("never"));
    plain.setNeighbour(-1, QStringLiteral("never"));
    QCOMPARE(plain.getNeighbour(3), QStringLiteral("b"));
    QCOMPARE(plain.getNeighbour(6), QString());
    QCOMPARE(plain.getNeighbour(-1), QString());
}

void tst_OverviewLayout::tilePainting_data()
{
    QTest::addColumn<QColor>("pixmapColour");
    QTest::addColumn<QColor>("frameColour");
    QTest::addColumn<QColor>("inside");
    QTest::addColumn<QColor>("frame");

    // No pixmap (device images): translucent white inside the frame.
    QTest::newRow("device tile, dermatoscopic colour")
        << QColor() << ImageItem::dermatoscopicColor() << QColor(255, 255, 255, 75) << QColor(255, 218, 206);
    QTest::newRow("external tile, default black")
        << QColor(Qt::red) << QColor() << QColor(Qt::red) << QColor(0, 0, 0);
}

void tst_OverviewLayout::tilePainting()
{
    QFETCH(QColor, pixmapColour);
    QFETCH(QColor, frameColour);
    QFETCH(QColor, inside);
    QFETCH(QColor, frame);

    QPixmap pixmap;
    if (pixmapColour.isValid()) {
        pixmap = QPixmap(40, 30);
        pixmap.fill(pixmapColour);
    }
    ImageItem item(QRect(0, 0, 40, 30), QStringLiteral("name"), pixmap);
    if (frameColour.isValid())
        item.setColor(frameColour);
    QCOMPARE(item.hasPixmap(), pixmapColour.isValid());

    QImage canvas(50, 40, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.translate(5, 5);
    QStyleOptionGraphicsItem option;
    item.paint(&painter, &option, nullptr);
    painter.end();
    canvas.save(
        SessionTestSupport::screenshotPath(QStringLiteral("imageitem_%1.png")
                                               .arg(QString::fromLatin1(QTest::currentDataTag())
                                                        .section(QLatin1Char(','), 0, 0)
                                                        .replace(QLatin1Char(' '), QLatin1Char('_')))));

    QVERIFY2(close(canvas.pixelColor(25, 20), inside),
             qPrintable(canvas.pixelColor(25, 20).name(QColor::HexArgb)));
    QVERIFY2(close(canvas.pixelColor(25, 5), frame),
             qPrintable(canvas.pixelColor(25, 5).name(QColor::HexArgb)));
    // Nothing is painted outside the bounding rectangle.
    QCOMPARE(canvas.pixelColor(5 + 44, 20).alpha(), 0);
}

QTEST_MAIN(tst_OverviewLayout)
#include "tst_overviewlayout.moc"
