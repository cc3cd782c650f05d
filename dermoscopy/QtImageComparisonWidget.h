#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QSize>

class QGraphicsPixmapItem;
class QGraphicsScene;
class QLabel;
class QPushButton;
class QSlider;
class SuperpositionView;

// Superposes two images to follow a lesion over time: the base layer below,
// the top layer above it at the opacity of the slider, the top layer moved so
// that the two lesion centres coincide. Used for two dermatoscopic images and
// for the two clinical images of the clinical comparison.
//
// Images of different sizes are padded with black to the larger width and
// the larger height, centred; pairs wider than 2000 pixels are shown at a
// quarter of their size (scaled before padding, which gives the same picture
// for a sixteenth of the work).
class QtImageComparisonWidget : public QDialog
{
    Q_OBJECT

public:
    static constexpr int scaleThreshold = 2000;
    static constexpr double reducedScale = 0.25;

    explicit QtImageComparisonWidget(QWidget *parent = nullptr);
    ~QtImageComparisonWidget() override;

    // Replaces the layers. False, changing nothing, when either image is null
    // or cannot be converted.
    bool setImages(QImage base, QImage top, QIcon baseIcon, QIcon topIcon);
    QGraphicsPixmapItem *getTopLayer() const { return m_topLayer; }
    QGraphicsPixmapItem *getBaseLayer() const { return m_baseLayer; }

    // The shift of the top layer that puts the top image's point centreTop
    // over the base image's point centreBase (both in pixels of the images
    // given to setImages), with the padding and the scale applied.
    QPointF alignmentShift(const QPointF &centreBase, const QPointF &centreTop) const;
    // Moves the top layer by alignmentShift and returns the shift.
    QPointF alignCentres(const QPointF &centreBase, const QPointF &centreTop);
    // Aligns the centres of the two images (the clinical pair has no lesion
    // centres): only the padding offsets remain.
    QPointF alignImageCentres();

    // The scale applied to both images (0.25 or 1) and where each image lies
    // in its padded layer, after scaling.
    double imageScale() const { return m_scale; }
    QPoint baseOffset() const { return m_baseOffset; }
    QPoint topOffset() const { return m_topOffset; }

    QSlider *slider() const { return m_slider; }
    SuperpositionView *view() const { return m_view; }
    QPushButton *moveButton() const { return m_moveButton; }
    QLabel *baseIconLabel() const { return m_baseIconLabel; }
    QLabel *topIconLabel() const { return m_topIconLabel; }

    // The superposition of two clinical images (the primary one as base),
    // run modally. A null image opens nothing: the notification "This image
    // is not downloaded yet" is shown and false returned.
    static bool compareImages(QWidget *parent, const QImage &primary, const QImage &secondary,
                              const QIcon &primaryIcon, const QIcon &secondaryIcon);

    // Pure: the padded layers of two images, scaled before padding. Null
    // images when the images cannot be processed. Used by setImages; open
    // for tests and benchmarks.
    struct Layers
    {
        QImage base;
        QImage top;
        double scale = 1.0;
        QPoint baseOffset;
        QPoint topOffset;
    };
    static Layers makeLayers(const QImage &base, const QImage &top);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupUi();
    void fitToImages();

    QSlider *m_slider = nullptr;
    SuperpositionView *m_view = nullptr;
    QGraphicsScene *m_scene = nullptr;
    QGraphicsPixmapItem *m_baseLayer = nullptr;
    QGraphicsPixmapItem *m_topLayer = nullptr;
    QLabel *m_baseIconLabel = nullptr;
    QLabel *m_topIconLabel = nullptr;
    QPushButton *m_moveButton = nullptr;
    QSize m_baseSize;
    QSize m_topSize;
    double m_scale = 1.0;
    QPoint m_baseOffset;
    QPoint m_topOffset;
};
