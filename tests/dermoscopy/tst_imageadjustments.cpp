#include "dermoscopy/DermatoImageAdjuster.h"
#include "dermoscopy/ImageAdjustments.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>

namespace {

// Standard deviation of the grey levels, a measure of contrast.
double greySpread(const QImage &image)
{
    double sum = 0, sumSq = 0;
    const int n = image.width() * image.height();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const double v = qGray(image.pixel(x, y));
            sum += v;
            sumSq += v * v;
        }
    const double mean = sum / n;
    return std::sqrt(sumSq / n - mean * mean);
}

bool near(QRgb a, QColor b, int tolerance)
{
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance &&
           std::abs(qBlue(a) - b.blue()) <= tolerance;
}

} // namespace

class tst_ImageAdjustments : public QObject
{
    Q_OBJECT

private slots:
    void table_data();
    void table();
    void slider_data();
    void slider();
    void coloursKept_data();
    void coloursKept();
    void oddWidthNotSheared_data();
    void oddWidthNotSheared();
    void claheRaisesLocalContrast();
    void otherFormatsAreAdjusted_data();
    void otherFormatsAreAdjusted();
    void unusableInputLeftAlone();
    void matrixRoundTrip_data();
    void matrixRoundTrip();
    void adjusterDropsStaleFullResult();
};

void tst_ImageAdjustments::table_data()
{
    QTest::addColumn<double>("brightness");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("entry");
    QTest::newRow("darkest 128") << 0.0 << 128 << 91;
    QTest::newRow("brightest 128") << 2.0 << 128 << 181;
    QTest::newRow("darkest 64") << 0.0 << 64 << 32;
    QTest::newRow("brightest 64") << 2.0 << 64 << 128;
    QTest::newRow("quarter 128") << 0.5 << 128 << 108;
    QTest::newRow("darkest keeps white") << 0.0 << 255 << 255;
    QTest::newRow("brightest keeps black") << 2.0 << 0 << 0;
}

void tst_ImageAdjustments::table()
{
    QFETCH(double, brightness);
    QFETCH(int, index);
    QFETCH(int, entry);
    QCOMPARE(int(brightnessTable(brightness)[size_t(index)]), entry);
}

void tst_ImageAdjustments::slider_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<double>("value");
    QTest::newRow("0") << 0 << 0.0;
    QTest::newRow("50") << 50 << 1.0;
    QTest::newRow("100") << 100 << 2.0;
    QTest::newRow("25") << 25 << 0.5;
}

void tst_ImageAdjustments::slider()
{
    QFETCH(int, position);
    QFETCH(double, value);
    QCOMPARE(adjustmentFromSlider(position), value);
    QCOMPARE(sliderFromAdjustment(value), position);
    // At 1 the table is the identity.
    const auto identity = brightnessTable(1.0);
    for (int i = 0; i < 256; ++i)
        QCOMPARE(int(identity[size_t(i)]), i);
}

void tst_ImageAdjustments::coloursKept_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<double>("sharpness");
    QTest::addColumn<QColor>("colour");
    for (const auto &[format, name] :
         {std::pair{QImage::Format_RGB32, "RGB32"}, {QImage::Format_RGB888, "RGB888"}})
        for (double sharpness : {0.0, 1.0})
            for (const QColor &c :
                 {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(200, 150, 120)})
                QTest::addRow("%s clip %g %s", name, sharpness, qPrintable(c.name()))
                    << int(format) << sharpness << c;
}

void tst_ImageAdjustments::coloursKept()
{
    QFETCH(int, format);
    QFETCH(double, sharpness);
    QFETCH(QColor, colour);
    QImage image(16, 16, QImage::Format(format));
    image.fill(colour);
    QVERIFY(adjustImage(image, {1.0, sharpness}));
    QCOMPARE(image.format(), QImage::Format_RGB888);
    QCOMPARE(image.size(), QSize(16, 16));
    const QRgb out = image.pixel(8, 8);
    if (sharpness == 0.0) {
        // An exchange of red and blue would move a channel by up to 255.
        QVERIFY2(near(out, colour, 2), qPrintable(QColor(out).name()));
    } else {
        // CLAHE moves the lightness of a flat patch; the hue stays.
        QVERIFY2(std::abs(QColor(out).hue() - colour.hue()) <= 15, qPrintable(QColor(out).name()));
        QVERIFY2(std::max({qRed(out), qGreen(out), qBlue(out)}) -
                         std::min({qRed(out), qGreen(out), qBlue(out)}) >
                     60,
                 qPrintable(QColor(out).name()));
    }
}

void tst_ImageAdjustments::oddWidthNotSheared_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("sharpness");
    QTest::newRow("13 wide") << 13 << 0.0;
    QTest::newRow("13 wide clahe") << 13 << 1.0;
    QTest::newRow("101 wide") << 101 << 0.0;
    QTest::newRow("101 wide clahe") << 101 << 1.0;
}

void tst_ImageAdjustments::oddWidthNotSheared()
{
    QFETCH(int, width);
    QFETCH(double, sharpness);
    // A white column at x = 5 on black; rows padded to 4 bytes would drift it.
    QImage image(width, 40, QImage::Format_RGB888);
    QVERIFY(image.bytesPerLine() != width * 3);
    image.fill(Qt::black);
    for (int y = 0; y < image.height(); ++y)
        image.setPixelColor(5, y, Qt::white);
    QVERIFY(adjustImage(image, {1.0, sharpness}));
    for (int y = 0; y < image.height(); ++y) {
        QVERIFY2(qGray(image.pixel(5, y)) > 200, qPrintable(QString::number(y)));
        QVERIFY2(qGray(image.pixel(4, y)) < 60, qPrintable(QString::number(y)));
        QVERIFY2(qGray(image.pixel(6, y)) < 60, qPrintable(QString::number(y)));
    }
}

void tst_ImageAdjustments::claheRaisesLocalContrast()
{
    // Fine noise within a narrow band of grey levels, 112 to 143.
    QImage image(256, 256, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const int v = 112 + int(random.bounded(32u));
            image.setPixel(x, y, qRgb(v, v, v));
        }
    const double before = greySpread(image);
    QVERIFY(std::abs(before - 9.2) < 0.5);

    QImage plain = image;
    QVERIFY(adjustImage(plain, {1.0, 0.0}));
    QVERIFY(std::abs(greySpread(plain) - before) < 1.0);

    QImage sharpened = image;
    QVERIFY(adjustImage(sharpened, {1.0, 2.0}));
    QVERIFY2(greySpread(sharpened) > 1.8 * before, qPrintable(QString::number(greySpread(sharpened))));
}

void tst_ImageAdjustments::otherFormatsAreAdjusted_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("red");
    // Darkest brightness: 128 becomes 91; RGB16 stores 128 as 132, which becomes 95.
    QTest::newRow("Grayscale8") << int(QImage::Format_Grayscale8) << 91;
    QTest::newRow("ARGB32") << int(QImage::Format_ARGB32) << 91;
    QTest::newRow("ARGB32_Premultiplied") << int(QImage::Format_ARGB32_Premultiplied) << 91;
    QTest::newRow("RGB16") << int(QImage::Format_RGB16) << 95;
}

void tst_ImageAdjustments::otherFormatsAreAdjusted()
{
    QFETCH(int, format);
    QFETCH(int, red);
    QImage image(10, 10, QImage::Format(format));
    image.fill(QColor(128, 128, 128));
    QVERIFY(adjustImage(image, {0.0, 0.0}));
    QCOMPARE(image.format(), QImage::Format_RGB888);
    QVERIFY2(std::abs(qRed(image.pixel(3, 3)) - red) <= 1, qPrintable(QColor(image.pixel(3, 3)).name()));
}

void tst_ImageAdjustments::unusableInputLeftAlone()
{
    QImage null;
    QVERIFY(!adjustImage(null, {1.0, 1.0}));
    QVERIFY(null.isNull());
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(!adjustImage(image, {1.0}));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    // OpenCV rejects a negative clip limit with an exception, which must stay inside.
    QImage rejected = image;
    adjustImage(rejected, {1.0, -5.0});
    QVERIFY(cvMatToQImage(cv::Mat(2, 2, CV_32FC1)).isNull());
    QVERIFY(QImageToCvMat(QImage()).empty());
}

void tst_ImageAdjustments::matrixRoundTrip_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("width");
    QTest::newRow("RGB32") << int(QImage::Format_RGB32) << 4 << 7;
    QTest::newRow("RGB888 odd width") << int(QImage::Format_RGB888) << 3 << 7;
    QTest::newRow("ARGB32_Premultiplied") << int(QImage::Format_ARGB32_Premultiplied) << 4 << 7;
    QTest::newRow("ARGB32") << int(QImage::Format_ARGB32) << 4 << 5;
}

void tst_ImageAdjustments::matrixRoundTrip()
{
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(int, width);
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    QImage image(width, 3, QImage::Format(format));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, colours[(x + y) % 3]);
    const cv::Mat mat = QImageToCvMat(image);
    QCOMPARE(mat.channels(), channels);
    QCOMPARE(mat.cols, width);
    // 3-channel matrices are in OpenCV's B, G, R order: the first pixel is red.
    if (channels == 3)
        QCOMPARE(mat.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 255));
    const QImage back = cvMatToQImage(mat);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < width; ++x)
            QCOMPARE(QColor(back.pixel(x, y)), colours[(x + y) % 3]);
}

void tst_ImageAdjustments::adjusterDropsStaleFullResult()
{
    QImage full(1200, 900, QImage::Format_RGB32);
    full.fill(QColor(128, 128, 128));
    DermatoImageAdjuster adjuster;
    adjuster.setImage(full, QSize(400, 300));
    QCOMPARE(adjuster.displayImage().size(), QSize(400, 300));
    QSignalSpy spy(&adjuster, &DermatoImageAdjuster::fullAdjusted);
    adjuster.adjustFull(0.0, 0.0);
    // The slider moves again before the result is back: that result is stale.
    const QImage step = adjuster.adjustWhileMoving(2.0, 0.0);
    QCOMPARE(step.size(), QSize(400, 300));
    QCOMPARE(qRed(step.pixel(10, 10)), 181);
    adjuster.adjustFull(2.0, 0.0);
    QTRY_COMPARE(spy.count(), 1);
    QTRY_VERIFY(QThreadPool::globalInstance()->activeThreadCount() == 0);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
    const QImage result = spy.at(0).at(0).value<QImage>();
    QCOMPARE(result.size(), QSize(1200, 900));
    QCOMPARE(qRed(result.pixel(10, 10)), 181);
}

QTEST_GUILESS_MAIN(tst_ImageAdjustments)
#include "tst_imageadjustments.moc"
