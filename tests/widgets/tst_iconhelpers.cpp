#include "widgets/IconHelpers.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMovie>
#include <QPainter>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString writeSvg(const QTemporaryDir &dir, const QString &name, const QString &text)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(text.toUtf8());
    return path;
}

// Every resource under the given prefixes whose content is SVG.
QStringList svgResources()
{
    QStringList out;
    QDirIterator it(QStringLiteral(":/"), QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.startsWith(QLatin1String(":/qt-project.org")) || QFileInfo(path).isDir())
            continue;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.read(256).contains("<svg"))
            out << path;
    }
    out.sort();
    return out;
}

} // namespace

class tst_IconHelpers : public QObject
{
    Q_OBJECT

private slots:
    void recolorRewritesOnlySixDigitAttributes_data();
    void recolorRewritesOnlySixDigitAttributes();
    void recolorOfMissingFileIsEmpty();
    void pixmapsAreTwiceTheSizeAndTransparent_data();
    void pixmapsAreTwiceTheSizeAndTransparent();
    void fileRenderingKeepsOwnColours();
    void exactRenderingFillsTheGivenSize_data();
    void exactRenderingFillsTheGivenSize();
    void everySvgResourceRecoloursCompletely_data();
    void everySvgResourceRecoloursCompletely();
    void namedResourcesExist_data();
    void namedResourcesExist();
    void silhouettesAreAboutFourTenthsWide_data();
    void silhouettesAreAboutFourTenthsWide();
    void loadingAnimationHasFrames();
};

void tst_IconHelpers::recolorRewritesOnlySixDigitAttributes_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("fill") << R"(<rect fill="#123456"/>)"
                          << R"(<rect fill="#ff8000"/>)";
    QTest::newRow("stroke") << R"(<path stroke="#ABCDEF"/>)"
                            << R"(<path stroke="#ff8000"/>)";
    QTest::newRow("both, several") << R"(<a fill="#000000" stroke="#111111"/><b fill="#222222"/>)"
                                   << R"(<a fill="#ff8000" stroke="#ff8000"/><b fill="#ff8000"/>)";
    QTest::newRow("three digits kept") << R"(<rect fill="#123"/>)"
                                       << R"(<rect fill="#123"/>)";
    QTest::newRow("named kept") << R"(<rect fill="red"/>)"
                                << R"(<rect fill="red"/>)";
    QTest::newRow("none kept") << R"(<rect fill="none" stroke="#010203"/>)"
                               << R"(<rect fill="none" stroke="#ff8000"/>)";
    QTest::newRow("style kept") << R"(<rect style="fill:#123456"/>)"
                                << R"(<rect style="fill:#123456"/>)";
    QTest::newRow("stop-color kept") << R"(<stop stop-color="#123456"/>)"
                                     << R"(<stop stop-color="#123456"/>)";
}

void tst_IconHelpers::recolorRewritesOnlySixDigitAttributes()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = writeSvg(dir, QStringLiteral("icon.svg"), input);
    QCOMPARE(recolorSvg(path, QColor(255, 128, 0)), expected);
}

void tst_IconHelpers::recolorOfMissingFileIsEmpty()
{
    QVERIFY(recolorSvg(QStringLiteral(":/no/such/icon"), Qt::red).isEmpty());
}

void tst_IconHelpers::pixmapsAreTwiceTheSizeAndTransparent_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("square") << QSize(16, 16);
    QTest::newRow("tall") << QSize(30, 69);
    QTest::newRow("wide") << QSize(50, 10);
}

void tst_IconHelpers::pixmapsAreTwiceTheSizeAndTransparent()
{
    QFETCH(QSize, size);
    // A centred disc: the corners must stay transparent, the centre painted.
    const QString svg = QStringLiteral(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 10 10">)"
                                       R"(<circle cx="5" cy="5" r="3" fill="#00ff00"/></svg>)");
    const QImage image = svgToPixmap(svg, size).toImage();
    QCOMPARE(image.size(), size * 2);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    QCOMPARE(centre.alpha(), 255);
    QCOMPARE(centre.green(), 255);

    const QIcon icon = svgToIcon(svg, size);
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes().value(0), size * 2);
}

void tst_IconHelpers::fileRenderingKeepsOwnColours()
{
    QTemporaryDir dir;
    const QString path =
        writeSvg(dir, QStringLiteral("own.svg"),
                 QStringLiteral(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 4 4">)"
                                R"(<rect width="4" height="4" fill="#3366cc"/></svg>)"));
    const QImage image = svgFileToPixmap(path, QSize(8, 8)).toImage();
    QCOMPARE(image.size(), QSize(16, 16));
    QCOMPARE(image.pixelColor(8, 8), QColor(0x33, 0x66, 0xcc));

    // Recoloured, the same file takes the requested colour.
    const QImage red = svgToPixmap(recolorSvg(path, Qt::red), QSize(8, 8)).toImage();
    QCOMPARE(red.pixelColor(8, 8), QColor(Qt::red));
}

void tst_IconHelpers::exactRenderingFillsTheGivenSize_data()
{
    QTest::addColumn<QString>("svg");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("leftProbe");
    QTest::addColumn<QPoint>("rightProbe");
    QTest::addColumn<QColor>("left");
    QTest::addColumn<QColor>("right");
    // Left half red, right half blue: stretched to any size, the halves stay halves.
    const QString halves = QStringLiteral(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 4 4">)"
                                          R"(<rect width="2" height="4" fill="#ff0000"/>)"
                                          R"(<rect x="2" width="2" height="4" fill="#0000ff"/></svg>)");
    QTest::newRow("square") << halves << QSize(22, 22) << QPoint(5, 11) << QPoint(16, 11) << QColor(Qt::red)
                            << QColor(Qt::blue);
    QTest::newRow("wide, stretched") << halves << QSize(600, 210) << QPoint(290, 200) << QPoint(310, 5)
                                     << QColor(Qt::red) << QColor(Qt::blue);
    QTest::newRow("unreadable: transparent") << QStringLiteral("<svg") << QSize(10, 6) << QPoint(0, 0)
                                             << QPoint(9, 5) << QColor(0, 0, 0, 0) << QColor(0, 0, 0, 0);
}

void tst_IconHelpers::exactRenderingFillsTheGivenSize()
{
    QFETCH(QString, svg);
    QFETCH(QSize, size);
    QFETCH(QPoint, leftProbe);
    QFETCH(QPoint, rightProbe);
    QFETCH(QColor, left);
    QFETCH(QColor, right);
    QTemporaryDir dir;
    const QString path = writeSvg(dir, QStringLiteral("picture.svg"), svg);

    const QImage fromFile = svgFileToPixmapExact(path, size).toImage();
    QSvgRenderer renderer(path);
    const QImage fromRenderer = svgToPixmapExact(renderer, size).toImage();
    for (const QImage &image : {fromFile, fromRenderer}) {
        QCOMPARE(image.size(), size);
        QCOMPARE(image.pixelColor(leftProbe).rgba(), left.rgba());
        QCOMPARE(image.pixelColor(rightProbe).rgba(), right.rgba());
    }
    QVERIFY(svgFileToPixmapExact(path, QSize(0, 5)).isNull());
}

void tst_IconHelpers::everySvgResourceRecoloursCompletely_data()
{
    QTest::addColumn<QString>("path");
    const QStringList paths = svgResources();
    QVERIFY(paths.size() > 60);
    for (const QString &path : paths)
        QTest::newRow(qPrintable(path)) << path;
}

void tst_IconHelpers::everySvgResourceRecoloursCompletely()
{
    // An icon whose colours are written any other way than fill/stroke
    // attributes keeps them when recoloured: on a hover the glyph would not
    // turn black, and the loss is silent. Recolour to pure blue and look.
    QFETCH(QString, path);
    QSvgRenderer check(path);
    QVERIFY2(check.isValid(), "not a valid SVG");
    const QImage image = svgToPixmap(recolorSvg(path, QColor(0, 0, 255)), QSize(32, 32)).toImage();
    int painted = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb px = image.pixel(x, y);
            if (qAlpha(px) < 128)
                continue;
            ++painted;
            const QColor c = QColor::fromRgba(px).toRgb();
            if (c.red() > 12 || c.green() > 12)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 keeps colour %3").arg(x).arg(y).arg(c.name())));
        }
    }
    QVERIFY2(painted > 0, "renders nothing");
}

void tst_IconHelpers::namedResourcesExist_data()
{
    // Names the program loads that are not plain glyphs of the icon set.
    QTest::addColumn<QString>("path");
    for (const char *name :
         {":/icon/AppIconSVG", ":/icon/fullLogoSVG", ":/icon/closeMessage", ":/icon/closeWindow",
          ":/icon/minimizeWindow", ":/icon/maximizeWindow", ":/icon/resource/icon/qr.svg", ":/rsc/initialImg",
          ":/rsc/splash", ":/rsc/appIcon", ":/rsc/externalButtonIcon", ":/rsc/resource/camera.svg",
          ":/rsc/resource/icon/showAllLines.svg", ":/topBarIcons/returnC", ":/menu/createNew", ":/menu/info",
          ":/menu/save"})
        QTest::newRow(name) << QString::fromLatin1(name);
    for (const char *label : {"D", "C", "E", "F", "C1", "C2"}) {
        const QString plain = QStringLiteral(":/legendIcons/icon%1").arg(QLatin1String(label));
        QTest::newRow(qPrintable(plain)) << plain;
        QTest::newRow(qPrintable(plain + "Color")) << plain + QStringLiteral("Color");
    }
}

void tst_IconHelpers::namedResourcesExist()
{
    QFETCH(QString, path);
    QVERIFY2(QFile::exists(path), "missing from the resource bundle");
    QVERIFY(QSvgRenderer(path).isValid());
    QVERIFY(!QPixmap(path).isNull());
}

void tst_IconHelpers::silhouettesAreAboutFourTenthsWide_data()
{
    QTest::addColumn<QString>("position");
    for (const char *name : {"frontal", "right", "back", "left"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void tst_IconHelpers::silhouettesAreAboutFourTenthsWide()
{
    // The body map and the scheme boxes place silhouettes by their bounding
    // box, sized for about 0.4 of the height in width.
    QFETCH(QString, position);
    QSvgRenderer renderer(QStringLiteral(":/rsc/") + position + QStringLiteral(".svg"));
    QVERIFY(renderer.isValid());
    const QRectF box = renderer.viewBoxF();
    const double ratio = box.width() / box.height();
    QVERIFY2(ratio > 0.38 && ratio < 0.44, qPrintable(QString::number(ratio)));

    // The figure fills the picture from head to feet.
    QImage image(120, 300, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    auto rowPainted = [&image](int y) {
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
        return false;
    };
    QVERIFY(rowPainted(10));
    QVERIFY(rowPainted(150));
    QVERIFY(rowPainted(292));
}

void tst_IconHelpers::loadingAnimationHasFrames()
{
    QMovie movie(QStringLiteral(":/icon/loading.gif"));
    QVERIFY(movie.isValid());
    QVERIFY(movie.frameCount() > 4);
    QImageReader reader(QStringLiteral(":/rsc/LOGO-03.jpg"));
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QVERIFY(!reader.read().isNull());
}

QTEST_MAIN(tst_IconHelpers)
#include "tst_iconhelpers.moc"
