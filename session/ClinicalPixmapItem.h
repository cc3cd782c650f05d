#pragma once

#include <QByteArray>
#include <QGraphicsPixmapItem>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QRect>
#include <QSize>

#include <atomic>
#include <memory>

// One clinical image in a graphics scene. Hidden items keep only a small
// placeholder decoded at creation; an item that becomes visible (opacity 1)
// shows the placeholder stretched to its final size at once and decodes the
// full image in the background, directly at the needed scale and clip; an
// item hidden again (opacity 0) drops the large pixmap.
//
// The item's geometry is its target size from the first moment it is shown,
// whatever pixmap it holds, so that markers placed on it never move when the
// full image arrives.
//
// The item keeps its own reference to the JPEG bytes (implicitly shared with
// the session's file store, not copied), so a decode never reads freed
// memory. Results come back through a small link object shared by the item
// and its running decodes: it holds the QObject that is the context of every
// continuation and delayed call, and a pointer to the item that the item's
// destructor clears. A result that arrives after the item is gone is dropped,
// and so is a result of an earlier show (older generation). The link lives
// until the last decode that refers to it has delivered, so the context
// object never dies while a worker thread may still post to it.
class ClinicalPixmapItem : public QGraphicsPixmapItem
{
public:
    static const QSize placeholderBound;

    // clip: the part of the image to show; a null or empty rectangle shows
    // the whole image. maxSize: without a clip, a bound (both sides > 0) the
    // image is scaled to fit, keeping its aspect ratio.
    ClinicalPixmapItem(const QByteArray &jpeg, const QRect &clip, const QSize &maxSize,
                       QGraphicsItem *parent = nullptr);
    ~ClinicalPixmapItem() override;

    // Starts the background decode of the full image (GUI thread only).
    void loadFullImage();

    QSize getTargetSize() const { return m_targetSize; }
    QSize getPlaceholderSize() const { return m_placeholder.size(); }
    // The clip actually applied (the requested one within the image), or a
    // null rectangle for the whole image.
    QRect getClip() const { return m_clip; }
    bool isShown() const { return m_shown.load() == 1.0; }
    // True while the decoded full image (not the placeholder) is shown.
    bool hasFullImage() const { return m_fullImageShown; }
    // The JPEG bytes could not be read: the item stays empty.
    bool isUnreadable() const { return m_targetSize.isEmpty(); }

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    bool contains(const QPointF &point) const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    // Decodes started by items and not yet delivered (or dropped), over all
    // items; for tests and benchmarks.
    static int pendingDecodes();

    // Pure decode of JPEG bytes: clipped to clip when it is valid, then
    // scaled to scaledSize when it is valid. Runs on any thread.
    static QImage decode(QByteArray jpeg, QRect clip, QSize scaledSize);
    // The decoded image followed by smoothly reduced copies of half, a
    // quarter and an eighth of its size (none smaller than the placeholder
    // bound). Runs on any thread.
    static QList<QImage> decodeLevels(QByteArray jpeg, QRect clip, QSize scaledSize);
    // Which level to draw at a level of detail (device pixels per item
    // pixel): the smallest that is still at least as large as drawn.
    static int levelFor(qreal levelOfDetail, int levelCount);

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

private:
    struct Link;
    void show();
    void hide();
    void deliver(int generation, QList<QImage> levels);

    QByteArray m_jpeg;
    QRect m_clip;
    QSize m_targetSize;
    QPixmap m_placeholder;
    // The full image's reduced copies (level 1 on), drawn instead of the
    // full pixmap when the view shows the image small: cheaper to paint on
    // the GUI thread, and smoothly reduced rather than sampled.
    QList<QPixmap> m_levels;
    std::atomic<double> m_shown{0.0};
    bool m_scaleFull = false;
    bool m_fullImageShown = false;
    // Every show and hide starts a new generation; results of another
    // generation are stale.
    int m_generation = 0;
    std::shared_ptr<Link> m_link;
};
