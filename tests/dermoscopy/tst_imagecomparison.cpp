#include "demo-server/SampleData.h"
#include "demo-server/SampleImages.h"
#include "dermoscopy/QtImageComparisonWidget.h"
#include "dermoscopy/SuperpositionView.h"
#include "widgets/CustomTitleBar.h"
#include "widgets/QtNotificationWidget.h"

#include <QApplication>
#include <QDir>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

namespace {

QImage filled(const QSize &size, const QColor &colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return format == QImage::Format_RGB32 ? image : image.convertToFormat(format);
}

QColor layerPixel(const QGraphicsPixmapItem *layer, int x, int y)
{
    return QColor(layer->pixmap().toImage().pixel(x, y));
}

QString screenshotDir()
{
    const QString dir = qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QDir::tempPath());
    QDir().mkpath(dir);
    return dir;
}

QStringList notifications()
{
    QStringList texts;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QtNotificationWidget *>(widget) && widget->isVisible())
            for (QLabel *label : widget->findChildren<QLabel *>())
                if (!label->text().isEmpty())
                    texts << label->text();
    return texts;
}

} // namespace

class tst_ImageComparison : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();
    void form();
    void layers_data();
    void layers();
    void alignment_data();
    void alignment();
    void formatsKeepTheirColours_data();
    void formatsKeepTheirColours();
    void nullImageIsRefused();
    void opacity_data();
    void opacity();
    void fittedOnceShownKeepingTheRatio();
    void clinicalPairOfANullImageOpensNothing();
    void screenshots();
};

void tst_ImageComparison::cleanupTestCase()
{
    qDeleteAll(QApplication::topLevelWidgets());
}

void tst_ImageComparison::form()
{
    QtImageComparisonWidget dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Compare Dermatoscopic"));
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(dialog.windowState() & Qt::WindowMaximized);
    QCOMPARE(dialog.findChild<CustomTitleBar *>()->titleLabel->text(), QStringLiteral("Dermoscopic Compare"));
    QSlider *slider = dialog.findChild<QSlider *>(QStringLiteral("comparationDermatosSlider"));
    QVERIFY(slider);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 100);
    QCOMPARE(slider->value(), 50);
    QCOMPARE(dialog.findChildren<QPushButton *>(QStringLiteral("buttonComparationView")).size(), 2);
    // Moving mode is on from the start and follows the button.
    QVERIFY(dialog.moveButton()->isChecked());
    QVERIFY(dialog.view()->isMoveItemMode());
    dialog.moveButton()->click();
    QVERIFY(!dialog.view()->isMoveItemMode());
    QCOMPARE(dialog.view()->objectName(), QStringLiteral("frameless"));
    QCOMPARE(dialog.view()->scene()->backgroundBrush().color(), QColor(28, 28, 30));
    QVERIFY(!dialog.getTopLayer());
}

void tst_ImageComparison::layers_data()
{
    QTest::addColumn<QSize>("base");
    QTest::addColumn<QSize>("top");
    QTest::addColumn<QSize>("layer");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QPoint>("baseOffset");
    QTest::addColumn<QPoint>("topOffset");
    QTest::newRow("two 4000x3000 at 1000x750")
        << QSize(4000, 3000) << QSize(4000, 3000) << QSize(1000, 750) << 0.25 << QPoint(0, 0) << QPoint(0, 0);
    // 500 columns each side at full size, 125 at a quarter.
    QTest::newRow("3000x3000 over 4000x3000") << QSize(4000, 3000) << QSize(3000, 3000) << QSize(1000, 750)
                                              << 0.25 << QPoint(0, 0) << QPoint(125, 0);
    QTest::newRow("three rows: one above, two below")
        << QSize(100, 53) << QSize(100, 50) << QSize(100, 53) << 1.0 << QPoint(0, 0) << QPoint(0, 1);
    // Each larger in one dimension: both padded to 3000x2500.
    QTest::newRow("3000x1000 against 1500x2500") << QSize(3000, 1000) << QSize(1500, 2500) << QSize(750, 625)
                                                 << 0.25 << QPoint(0, 187) << QPoint(187, 0);
    QTest::newRow("smaller base, not scaled") << QSize(1200, 800) << QSize(1600, 1000) << QSize(1600, 1000)
                                              << 1.0 << QPoint(200, 100) << QPoint(0, 0);
}

void tst_ImageComparison::layers()
{
    QFETCH(QSize, base);
    QFETCH(QSize, top);
    QFETCH(QSize, layer);
    QFETCH(double, scale);
    QFETCH(QPoint, baseOffset);
    QFETCH(QPoint, topOffset);
    QtImageComparisonWidget dialog;
    const QColor red(220, 30, 30), blue(30, 40, 220);
    QVERIFY(dialog.setImages(filled(base, red), filled(top, blue), QIcon(), QIcon()));
    QCOMPARE(dialog.getBaseLayer()->pixmap().size(), layer);
    QCOMPARE(dialog.getTopLayer()->pixmap().size(), layer);
    QCOMPARE(dialog.imageScale(), scale);
    QCOMPARE(dialog.baseOffset(), baseOffset);
    QCOMPARE(dialog.topOffset(), topOffset);
    QCOMPARE(dialog.getBaseLayer()->zValue(), 0.0);
    QCOMPARE(dialog.getTopLayer()->zValue(), 1.0);

    // Black exactly outside each image, the image inside.
    const struct
    {
        const QGraphicsPixmapItem *item;
        QPoint offset;
        QSize size;
        QColor colour;
    } checks[] = {{dialog.getBaseLayer(), baseOffset, base * scale, red},
                  {dialog.getTopLayer(), topOffset, top * scale, blue}};
    for (const auto &c : checks) {
        const QRect inside(c.offset, c.size);
        QCOMPARE(layerPixel(c.item, inside.center().x(), inside.center().y()), c.colour);
        QCOMPARE(layerPixel(c.item, inside.left(), inside.top()), c.colour);
        QCOMPARE(layerPixel(c.item, inside.right(), inside.bottom()), c.colour);
        if (inside.left() > 0)
            QCOMPARE(layerPixel(c.item, inside.left() - 1, inside.center().y()), QColor(Qt::black));
        if (inside.top() > 0)
            QCOMPARE(layerPixel(c.item, inside.center().x(), inside.top() - 1), QColor(Qt::black));
        if (inside.right() < layer.width() - 1)
            QCOMPARE(layerPixel(c.item, inside.right() + 1, inside.center().y()), QColor(Qt::black));
        if (inside.bottom() < layer.height() - 1)
            QCOMPARE(layerPixel(c.item, inside.center().x(), inside.bottom() + 1), QColor(Qt::black));
    }
}

void tst_ImageComparison::alignment_data()
{
    QTest::addColumn<QSize>("base");
    QTest::addColumn<QSize>("top");
    QTest::addColumn<QPointF>("centreBase");
    QTest::addColumn<QPointF>("centreTop");
    QTest::addColumn<QPointF>("shift");
    QTest::newRow("equal sizes, a quarter") << QSize(4000, 3000) << QSize(4000, 3000) << QPointF(2200, 1460)
                                            << QPointF(2000, 1500) << QPointF(50, -10);
    // The padding alone puts the two middles on each other.
    QTest::newRow("padded top, centres coincide")
        << QSize(4000, 3000) << QSize(3000, 3000) << QPointF(2000, 1500) << QPointF(1500, 1500)
        << QPointF(0, 0);
    QTest::newRow("not scaled: shift at full size")
        << QSize(1600, 1200) << QSize(1600, 1200) << QPointF(900, 500) << QPointF(800, 600)
        << QPointF(100, -100);
    QTest::newRow("each larger in one dimension")
        << QSize(3000, 1000) << QSize(1500, 2500) << QPointF(1500, 500) << QPointF(750, 1250)
        << QPointF(0.5, -0.5);
}

void tst_ImageComparison::alignment()
{
    QFETCH(QSize, base);
    QFETCH(QSize, top);
    QFETCH(QPointF, centreBase);
    QFETCH(QPointF, centreTop);
    QFETCH(QPointF, shift);
    QtImageComparisonWidget dialog;
    QVERIFY(dialog.setImages(filled(base, Qt::red), filled(top, Qt::blue), QIcon(), QIcon()));
    QCOMPARE(dialog.alignCentres(centreBase, centreTop), shift);
    QCOMPARE(dialog.getTopLayer()->pos(), shift);
    // Where both centres land in the scene: the same point.
    const QPointF baseInScene =
        dialog.getBaseLayer()->mapToScene(centreBase * dialog.imageScale() + QPointF(dialog.baseOffset()));
    const QPointF topInScene =
        dialog.getTopLayer()->mapToScene(centreTop * dialog.imageScale() + QPointF(dialog.topOffset()));
    QCOMPARE(baseInScene, topInScene);
}

void tst_ImageComparison::formatsKeepTheirColours_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("Grayscale8 (a greyscale JPEG)") << int(QImage::Format_Grayscale8) << QColor(100, 100, 100);
    QTest::newRow("Indexed8 in colour") << int(QImage::Format_Indexed8) << QColor(200, 40, 60);
    QTest::newRow("ARGB32") << int(QImage::Format_ARGB32) << QColor(20, 160, 90);
    QTest::newRow("RGB888") << int(QImage::Format_RGB888) << QColor(30, 60, 210);
}

void tst_ImageComparison::formatsKeepTheirColours()
{
    QFETCH(int, format);
    QFETCH(QColor, colour);
    QImage image;
    if (format == QImage::Format_Indexed8) {
        image = QImage(QSize(300, 200), QImage::Format_Indexed8);
        image.setColorTable({qRgb(0, 0, 0), colour.rgb()});
        image.fill(1);
    } else {
        image = filled(QSize(300, 200), colour, QImage::Format(format));
    }
    QtImageComparisonWidget dialog;
    QVERIFY(dialog.setImages(image, filled(QSize(300, 200), Qt::white), QIcon(), QIcon()));
    QCOMPARE(layerPixel(dialog.getBaseLayer(), 150, 100), colour);
    // The same image on top as well.
    QVERIFY(dialog.setImages(filled(QSize(300, 200), Qt::white), image, QIcon(), QIcon()));
    QCOMPARE(layerPixel(dialog.getTopLayer(), 10, 10), colour);
}

void tst_ImageComparison::nullImageIsRefused()
{
    QtImageComparisonWidget dialog;
    QVERIFY(!dialog.setImages(QImage(), filled(QSize(40, 30), Qt::red), QIcon(), QIcon()));
    QVERIFY(!dialog.setImages(filled(QSize(40, 30), Qt::red), QImage(), QIcon(), QIcon()));
    QVERIFY(!dialog.getTopLayer());
    QVERIFY(dialog.view()->scene()->items().isEmpty());
    // A refused pair leaves the layers shown before.
    QVERIFY(
        dialog.setImages(filled(QSize(40, 30), Qt::red), filled(QSize(40, 30), Qt::blue), QIcon(), QIcon()));
    QGraphicsPixmapItem *top = dialog.getTopLayer();
    QVERIFY(!dialog.setImages(QImage(), QImage(), QIcon(), QIcon()));
    QCOMPARE(dialog.getTopLayer(), top);
    QCOMPARE(dialog.view()->scene()->items().size(), 2);
}

void tst_ImageComparison::opacity_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("0: the base only") << 0 << QColor(200, 0, 0);
    QTest::newRow("50: half of each") << 50 << QColor(100, 0, 100);
    QTest::newRow("100: the top only") << 100 << QColor(0, 0, 200);
}

void tst_ImageComparison::opacity()
{
    QFETCH(int, value);
    QFETCH(QColor, expected);
    QtImageComparisonWidget dialog;
    QVERIFY(dialog.setImages(filled(QSize(200, 100), QColor(200, 0, 0)),
                             filled(QSize(200, 100), QColor(0, 0, 200)), QIcon(), QIcon()));
    dialog.slider()->setValue(value);
    QCOMPARE(dialog.getTopLayer()->opacity(), value / 100.0);
    QImage rendered(200, 100, QImage::Format_RGB32);
    rendered.fill(Qt::green);
    QPainter painter(&rendered);
    dialog.view()->scene()->render(&painter, QRectF(rendered.rect()), QRectF(0, 0, 200, 100));
    painter.end();
    const QColor pixel(rendered.pixel(100, 50));
    QVERIFY2(std::abs(pixel.red() - expected.red()) <= 2 && std::abs(pixel.green() - expected.green()) <= 2 &&
                 std::abs(pixel.blue() - expected.blue()) <= 2,
             qPrintable(pixel.name()));
}

void tst_ImageComparison::fittedOnceShownKeepingTheRatio()
{
    QtImageComparisonWidget dialog;
    // Round lesions stay round: a wide pair must not be stretched to the view.
    QVERIFY(dialog.setImages(filled(QSize(1600, 400), Qt::red), filled(QSize(1600, 400), Qt::blue), QIcon(),
                             QIcon()));
    dialog.setWindowState(Qt::WindowNoState);
    dialog.resize(900, 700);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    SuperpositionView *view = dialog.view();
    QTRY_VERIFY(view->minimumScale() > 0);
    const QTransform t = view->transform();
    QCOMPARE(t.m11(), t.m22());
    QCOMPARE(view->minimumScale(), t.m11());
    // The images fill the width of the view (fitInView keeps a margin of 2).
    QVERIFY(std::abs(1600 * t.m11() - view->viewport()->width()) < 6);
    // Zoom stays within one to four times the fit.
    view->zoom(0.5);
    QCOMPARE(view->currentScale(), view->minimumScale());
    view->zoom(100);
    QCOMPARE(view->currentScale(), 4 * view->minimumScale());
}

void tst_ImageComparison::clinicalPairOfANullImageOpensNothing()
{
    QWidget parent;
    QVERIFY(!QtImageComparisonWidget::compareImages(&parent, QImage(), filled(QSize(40, 30), Qt::red),
                                                    QIcon(), QIcon()));
    QTRY_VERIFY(notifications().contains(QStringLiteral("This image is not downloaded yet")));
    QVERIFY(parent.findChildren<QtImageComparisonWidget *>().isEmpty());
}

void tst_ImageComparison::screenshots()
{
    // Two sessions of the same patient, as the clinical comparison shows them.
    const SampleData &data = SampleData::instance();
    const SampleData::Session *older = data.session(data.patients.front().sessions.front());
    const SampleData::Session *newer = data.session(data.patients.front().sessions.back());
    QVERIFY(older && newer);
    const QSize clinical(SampleData::clinicalWidth / 2, SampleData::clinicalHeight / 2);
    const QImage a = SampleImages::clinical(*older, older->images.front(), clinical);
    const QImage b = SampleImages::clinical(*newer, newer->images.front(), clinical);
    QtImageComparisonWidget dialog;
    QPixmap icon(200, 150);
    icon.fill(QColor(120, 90, 80));
    QVERIFY(dialog.setImages(a, b, QIcon(icon), QIcon(icon)));
    dialog.alignImageCentres();
    dialog.setWindowState(Qt::WindowNoState);
    dialog.resize(1400, 900);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTRY_VERIFY(dialog.view()->minimumScale() > 0);
    dialog.slider()->setValue(35);
    QVERIFY(dialog.grab().save(screenshotDir() + QStringLiteral("/superposition_clinical.png")));
}

QTEST_MAIN(tst_ImageComparison)
#include "tst_imagecomparison.moc"
