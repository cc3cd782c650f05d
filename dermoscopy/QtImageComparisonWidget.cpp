#include "dermoscopy/QtImageComparisonWidget.h"

#include "app/kelvarisVisualizer.h"
#include "dermoscopy/SuperpositionView.h"
#include "widgets/CustomTitleBar.h"
#include "widgets/Trace.h"

#include <QCommonStyle>
#include <QEvent>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QVBoxLayout>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <exception>

namespace {

const QColor background(28, 28, 30);

QString pointText(const QPointF &p)
{
    return QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y());
}

int scaled(int length, double scale)
{
    return std::max(1, int(std::lround(length * scale)));
}

// Draws image, scaled by scale, into target at offset (target is RGB32 and
// already filled). OpenCV failures are reported as false.
bool drawScaled(const QImage &image, double scale, QImage &target, const QPoint &offset, const QSize &size)
{
    try {
        const cv::Mat source(image.height(), image.width(), CV_8UC4, const_cast<uchar *>(image.constBits()),
                             size_t(image.bytesPerLine()));
        cv::Mat canvas(target.height(), target.width(), CV_8UC4, target.bits(),
                       size_t(target.bytesPerLine()));
        cv::Mat area = canvas(cv::Rect(offset.x(), offset.y(), size.width(), size.height()));
        const uchar *const before = area.data;
        if (scale == 1.0)
            source.copyTo(area);
        else
            cv::resize(source, area, cv::Size(size.width(), size.height()), 0, 0, cv::INTER_LINEAR);
        // The result must have been written into the target, not elsewhere.
        return area.data == before;
    } catch (const cv::Exception &e) {
        kelvaris::trace(QStringLiteral("superposition: OpenCV failed: ") + QString::fromStdString(e.msg));
    } catch (const std::exception &e) {
        kelvaris::trace(QStringLiteral("superposition: failed: ") + QLatin1String(e.what()));
    }
    return false;
}

} // namespace

QtImageComparisonWidget::QtImageComparisonWidget(QWidget *parent) : QDialog(parent)
{
    setupUi();
}

QtImageComparisonWidget::~QtImageComparisonWidget() = default;

void QtImageComparisonWidget::setupUi()
{
    setObjectName(QStringLiteral("QtImageComparisonWidgetClass"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowTitle(tr("Compare Dermatoscopic"));
    setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, background);
    setPalette(palette);
    resize(600, 400);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new CustomTitleBar(tr("Dermoscopic Compare"), this));

    auto *middle = new QHBoxLayout();
    auto *tools = new QVBoxLayout();
    auto *back = new QPushButton(this);
    back->setObjectName(QStringLiteral("buttonComparationView"));
    back->setIcon(QIcon(QStringLiteral(":/icon/return")));
    back->setIconSize(QSize(30, 30));
    back->setToolTip(tr("Close the superposition"));
    back->setAccessibleName(tr("Close the superposition"));
    connect(back, &QPushButton::clicked, this, &QDialog::close);
    m_moveButton = new QPushButton(this);
    m_moveButton->setObjectName(QStringLiteral("buttonComparationView"));
    m_moveButton->setIcon(QIcon(QStringLiteral(":/icon/moveIMG")));
    m_moveButton->setIconSize(QSize(30, 30));
    m_moveButton->setCheckable(true);
    m_moveButton->setToolTip(tr("Move the top image with the mouse"));
    m_moveButton->setAccessibleName(tr("Move the top image with the mouse"));
    tools->addWidget(back);
    tools->addWidget(m_moveButton);
    tools->addStretch();
    middle->addLayout(tools);

    m_scene = new QGraphicsScene(this);
    m_scene->setBackgroundBrush(background);
    m_view = new SuperpositionView(this);
    m_view->setScene(m_scene);
    // Every opacity step repaints the whole view: two layers blended at the
    // screen's size must take a frame at most, so no smoothing when drawn.
    m_view->setOptimizationFlags(QGraphicsView::DontSavePainterState |
                                 QGraphicsView::DontAdjustForAntialiasing);
    auto *plainStyle = new QCommonStyle();
    plainStyle->setParent(this);
    for (QScrollBar *bar : {m_view->horizontalScrollBar(), m_view->verticalScrollBar()}) {
        bar->setStyle(plainStyle);
        bar->setContextMenuPolicy(Qt::NoContextMenu);
    }
    m_view->viewport()->installEventFilter(this);
    middle->addWidget(m_view, 1);
    layout->addLayout(middle, 1);

    auto *bottom = new QHBoxLayout();
    m_baseIconLabel = new QLabel(this);
    m_topIconLabel = new QLabel(this);
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("comparationDermatosSlider"));
    m_slider->setRange(0, 100);
    m_slider->setValue(50);
    m_slider->setMinimumHeight(50);
    m_slider->setAccessibleName(tr("Opacity of the top image"));
    bottom->addWidget(m_baseIconLabel);
    bottom->addWidget(m_slider, 1);
    bottom->addWidget(m_topIconLabel);
    layout->addLayout(bottom);

    connect(m_moveButton, &QPushButton::toggled, m_view, &SuperpositionView::setMoveItemMode);
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        if (m_topLayer)
            m_topLayer->setOpacity(value / 100.0);
        m_scene->update();
    });
    // The dialog starts in moving mode.
    m_moveButton->click();
    setWindowState(windowState() | Qt::WindowMaximized);
}

QtImageComparisonWidget::Layers QtImageComparisonWidget::makeLayers(const QImage &base, const QImage &top)
{
    Layers layers;
    if (base.isNull() || top.isNull())
        return layers;
    // One format for both: greyscale and indexed images are expanded, alpha
    // is dropped, colours are kept.
    const QImage a = base.convertToFormat(QImage::Format_RGB32);
    const QImage b = top.convertToFormat(QImage::Format_RGB32);
    if (a.isNull() || b.isNull())
        return layers;
    const QSize full(std::max(a.width(), b.width()), std::max(a.height(), b.height()));
    const double scale = full.width() > scaleThreshold ? reducedScale : 1.0;
    const QSize sizeA(scaled(a.width(), scale), scaled(a.height(), scale));
    const QSize sizeB(scaled(b.width(), scale), scaled(b.height(), scale));
    const QSize padded(std::max(sizeA.width(), sizeB.width()), std::max(sizeA.height(), sizeB.height()));
    // Differences split in two, the odd pixel at the right and the bottom.
    auto offsetOf = [&](const QSize &size) {
        return QPoint((padded.width() - size.width()) / 2, (padded.height() - size.height()) / 2);
    };
    const QPoint offsetA = offsetOf(sizeA);
    const QPoint offsetB = offsetOf(sizeB);

    auto layer = [&](const QImage &image, const QPoint &offset, const QSize &size) {
        if (scale == 1.0 && offset.isNull() && size == padded)
            return image;
        QImage out(padded, QImage::Format_RGB32);
        if (out.isNull())
            return QImage();
        out.fill(Qt::black);
        return drawScaled(image, scale, out, offset, size) ? out : QImage();
    };
    layers.base = layer(a, offsetA, sizeA);
    layers.top = layer(b, offsetB, sizeB);
    if (layers.base.isNull() || layers.top.isNull())
        return Layers();
    layers.scale = scale;
    layers.baseOffset = offsetA;
    layers.topOffset = offsetB;
    return layers;
}

bool QtImageComparisonWidget::setImages(QImage base, QImage top, QIcon baseIcon, QIcon topIcon)
{
    const Layers layers = makeLayers(base, top);
    if (layers.base.isNull())
        return false;
    delete m_baseLayer;
    delete m_topLayer;
    m_baseLayer = m_scene->addPixmap(QPixmap::fromImage(layers.base));
    m_baseLayer->setZValue(0);
    m_topLayer = m_scene->addPixmap(QPixmap::fromImage(layers.top));
    m_topLayer->setZValue(1);
    m_topLayer->setOpacity(m_slider->value() / 100.0);
    m_baseSize = base.size();
    m_topSize = top.size();
    m_scale = layers.scale;
    m_baseOffset = layers.baseOffset;
    m_topOffset = layers.topOffset;
    m_scene->setSceneRect(m_baseLayer->boundingRect());
    m_view->centerOn(m_baseLayer->boundingRect().center());
    const QSize iconSize(150, 150);
    m_baseIconLabel->setPixmap(baseIcon.pixmap(iconSize));
    m_topIconLabel->setPixmap(topIcon.pixmap(iconSize));
    fitToImages();
    return true;
}

QPointF QtImageComparisonWidget::alignmentShift(const QPointF &centreBase, const QPointF &centreTop) const
{
    return (centreBase * m_scale + QPointF(m_baseOffset)) - (centreTop * m_scale + QPointF(m_topOffset));
}

QPointF QtImageComparisonWidget::alignCentres(const QPointF &centreBase, const QPointF &centreTop)
{
    const QPointF shift = alignmentShift(centreBase, centreTop);
    kelvaris::trace(QStringLiteral("centerA: ") + pointText(centreBase));
    kelvaris::trace(QStringLiteral("centerB: ") + pointText(centreTop));
    kelvaris::trace(QStringLiteral("Diff: ") + pointText(shift));
    if (m_topLayer)
        m_topLayer->setPos(shift);
    fitToImages();
    return shift;
}

QPointF QtImageComparisonWidget::alignImageCentres()
{
    return alignCentres(QPointF(m_baseSize.width(), m_baseSize.height()) / 2.0,
                        QPointF(m_topSize.width(), m_topSize.height()) / 2.0);
}

void QtImageComparisonWidget::fitToImages()
{
    // Only once there is something to fit and a viewport to fit it into: a
    // fit of an empty rectangle or into an empty viewport leaves a scale of 0.
    const QRectF items = m_scene->itemsBoundingRect();
    const QSize viewport = m_view->viewport()->size();
    if (!m_baseLayer || items.isEmpty() || viewport.width() < 2 || viewport.height() < 2)
        return;
    m_scene->setSceneRect(items);
    m_view->fitInView(items, Qt::KeepAspectRatio);
    m_view->setMinimumScale(m_view->currentScale());
}

bool QtImageComparisonWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view->viewport() && event->type() == QEvent::Resize)
        fitToImages();
    return QDialog::eventFilter(watched, event);
}

bool QtImageComparisonWidget::compareImages(QWidget *parent, const QImage &primary, const QImage &secondary,
                                            const QIcon &primaryIcon, const QIcon &secondaryIcon)
{
    QPointer<QtImageComparisonWidget> dialog = new QtImageComparisonWidget(parent);
    if (!dialog->setImages(primary, secondary, primaryIcon, secondaryIcon)) {
        delete dialog;
        kelvarisVisualizer::showNotification(tr("This image is not downloaded yet"), 5000);
        return false;
    }
    dialog->alignImageCentres();
    dialog->exec();
    delete dialog;
    return true;
}
