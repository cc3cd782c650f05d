#pragma once

#include <QFuture>
#include <QImage>
#include <QObject>
#include <QSize>

// Keeps the brightness and sharpness sliders fluid on large dermatoscopic
// images. While a slider moves, the adjustment runs on a copy at the
// resolution the image is shown at, on the GUI thread, so that each step
// fits within a frame; when the slider is released the full-resolution image
// is adjusted in the background and delivered through fullAdjusted(). A later
// request (a move, a release or a new image) drops the result of an earlier
// background adjustment.
class DermatoImageAdjuster : public QObject
{
    Q_OBJECT

public:
    explicit DermatoImageAdjuster(QObject *parent = nullptr);

    // The full image and the size it is shown at (device pixels); an invalid
    // display size works on the full image throughout.
    void setImage(const QImage &full, const QSize &displaySize);
    // The same with a display copy made elsewhere (a preview decoded at the
    // screen's size): nothing is scaled here. The full image may be null
    // while it is not decoded; adjustFull then does nothing.
    void setImages(const QImage &full, const QImage &display);
    QImage fullImage() const { return m_full; }
    QImage displayImage() const { return m_display; }

    // The display copy adjusted with (brightness, sharpness), at once.
    QImage adjustWhileMoving(double brightness, double sharpness);
    // Starts the full-resolution adjustment; fullAdjusted() follows with an
    // RGB32 image, ready to become a pixmap without another conversion.
    void adjustFull(double brightness, double sharpness);
    bool isAdjustingFull() const { return m_running; }

signals:
    void fullAdjusted(QImage image, double brightness, double sharpness);

private:
    QImage m_full;
    QImage m_display;
    int m_generation = 0;
    bool m_running = false;
};
