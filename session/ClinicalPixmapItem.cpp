#include "session/ClinicalPixmapItem.h"

#include "widgets/Trace.h"

#include <QBuffer>
#include <QFuture>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionGraphicsItem>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

const QSize ClinicalPixmapItem::placeholderBound(381, 304);

namespace {

std::atomic<int> pendingDecodeCount{0};

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

} // namespace

// Shared by an item and its decodes in flight. Created, used and destroyed on
// the GUI thread: the worker thread only posts the continuation to receiver.
struct ClinicalPixmapItem::Link
{
    ClinicalPixmapItem *item = nullptr;
    QObject receiver;
};

ClinicalPixmapItem::ClinicalPixmapItem(const QByteArray &jpeg, const QRect &clip, const QSize &maxSize,
                                       QGraphicsItem *parent)
    : QGraphicsPixmapItem(parent), m_jpeg(jpeg), m_link(std::make_shared<Link>())
{
    m_link->item = this;
    QBuffer buffer(&m_jpeg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    const QSize imageSize = reader.size();
    m_targetSize = imageSize;
    if (imageSize.isEmpty()) {
        m_targetSize = QSize();
        kelvaris::trace(QStringLiteral("ClinicalPixmapItem: unreadable image"));
        return;
    }

    // A clip beyond the image would give an item larger than what can be
    // decoded; only the part inside the image is shown.
    if (clip.isValid())
        m_clip = clip.intersected(QRect(QPoint(0, 0), imageSize));
    if (m_clip.isValid()) {
        m_targetSize = m_clip.size();
        reader.setClipRect(m_clip);
    } else {
        m_clip = QRect();
        if (maxSize.width() > 0 && maxSize.height() > 0) {
            m_targetSize = imageSize.scaled(maxSize, Qt::KeepAspectRatio);
            m_scaleFull = true;
        }
    }

    const QSize placeholderSize = m_targetSize.scaled(placeholderBound, Qt::KeepAspectRatio);
    reader.setScaledSize(placeholderSize);
    m_placeholder = QPixmap::fromImage(reader.read());
    kelvaris::trace(QStringLiteral("Placeholder size: ") + sizeText(m_placeholder.size()));
    kelvaris::trace(QStringLiteral("Scaled size: ") + sizeText(m_targetSize));
}

ClinicalPixmapItem::~ClinicalPixmapItem()
{
    // Decodes still running find no item when they deliver; delayed calls die
    // with the receiver when no decode holds the link any more.
    m_link->item = nullptr;
}

QRectF ClinicalPixmapItem::boundingRect() const
{
    if (pixmap().isNull())
        return QRectF();
    return QRectF(offset(), QSizeF(m_targetSize));
}

QPainterPath ClinicalPixmapItem::shape() const
{
    QPainterPath path;
    path.addRect(boundingRect());
    return path;
}

bool ClinicalPixmapItem::contains(const QPointF &point) const
{
    return boundingRect().contains(point);
}

void ClinicalPixmapItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    QPixmap current = pixmap();
    if (current.isNull())
        return;
    if (m_fullImageShown && !m_levels.isEmpty()) {
        const qreal lod = QStyleOptionGraphicsItem::levelOfDetailFromTransform(painter->worldTransform());
        const int level = levelFor(lod, int(m_levels.size()) + 1);
        if (level > 0)
            current = m_levels.at(level - 1);
    }
    // The placeholder is drawn stretched instead of being enlarged into a
    // pixmap of the full size: that copy would stall the GUI thread.
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter->drawPixmap(boundingRect(), current, QRectF(current.rect()));
    painter->restore();
}

QVariant ClinicalPixmapItem::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemOpacityChange) {
        const double opacity = value.toDouble();
        if (opacity == 1.0 && m_shown.load() != 1.0)
            show();
        else if (opacity == 0.0 && m_shown.load() == 1.0)
            hide();
    }
    return QGraphicsPixmapItem::itemChange(change, value);
}

void ClinicalPixmapItem::show()
{
    ++m_generation;
    m_shown = 1.0;
    if (isUnreadable())
        return;
    kelvaris::trace(QStringLiteral("Placeholder: ") + sizeText(m_placeholder.size()) + QLatin1Char(' ') +
                    sizeText(m_targetSize));
    setPixmap(m_placeholder);
    m_levels.clear();
    m_fullImageShown = false;
    kelvaris::trace(QStringLiteral("PlaceholderScaled: ") + sizeText(m_targetSize));
    const int generation = m_generation;
    const std::weak_ptr<Link> weak = m_link;
    QTimer::singleShot(0, &m_link->receiver, [weak, generation] {
        const auto link = weak.lock();
        if (link && link->item && generation == link->item->m_generation && link->item->isShown())
            link->item->loadFullImage();
    });
}

void ClinicalPixmapItem::hide()
{
    ++m_generation;
    m_shown = 0.0;
    const int generation = m_generation;
    const std::weak_ptr<Link> weak = m_link;
    QTimer::singleShot(0, &m_link->receiver, [weak, generation] {
        const auto link = weak.lock();
        if (!link || !link->item)
            return;
        ClinicalPixmapItem *item = link->item;
        if (generation != item->m_generation || item->m_shown.load() != 0.0)
            return;
        item->setPixmap(QPixmap());
        item->m_levels.clear();
        item->m_fullImageShown = false;
    });
}

void ClinicalPixmapItem::loadFullImage()
{
    if (isUnreadable())
        return;
    const int generation = m_generation;
    const QSize scaledSize = m_scaleFull ? m_targetSize : QSize();
    ++pendingDecodeCount;
    // The continuation holds the link, so its context object outlives the
    // task; the item itself is reached only through the link.
    QtConcurrent::run(&ClinicalPixmapItem::decodeLevels, m_jpeg, m_clip, scaledSize)
        .then(&m_link->receiver, [link = m_link, generation](QList<QImage> levels) {
            --pendingDecodeCount;
            if (link->item)
                link->item->deliver(generation, std::move(levels));
        });
}

void ClinicalPixmapItem::deliver(int generation, QList<QImage> levels)
{
    if (generation != m_generation || !isShown())
        return;
    if (levels.isEmpty() || levels.first().isNull()) {
        kelvaris::trace(QStringLiteral("ClinicalPixmapItem: the full image did not decode"));
        return;
    }
    // Only conversions of images already decoded to the display's format
    // run here; each pixmap takes over its image's memory.
    m_levels.clear();
    for (qsizetype i = 1; i < levels.size(); ++i)
        m_levels.append(QPixmap::fromImage(std::move(levels[i])));
    // Drawn stretched to the target size like the placeholder, so a decode
    // of another size never changes the geometry.
    setPixmap(QPixmap::fromImage(std::move(levels[0])));
    m_fullImageShown = true;
}

QList<QImage> ClinicalPixmapItem::decodeLevels(QByteArray jpeg, QRect clip, QSize scaledSize)
{
    QList<QImage> levels;
    QImage image = decode(std::move(jpeg), clip, scaledSize);
    if (image.isNull())
        return levels;
    levels.append(image);
    for (int level = 1; level <= 3; ++level) {
        const QSize size = levels.last().size() / 2;
        if (size.width() < placeholderBound.width() && size.height() < placeholderBound.height())
            break;
        levels.append(levels.last()
                          .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                          .convertToFormat(image.format()));
    }
    return levels;
}

int ClinicalPixmapItem::levelFor(qreal levelOfDetail, int levelCount)
{
    int level = 0;
    // Level k is 1 / 2^k of the full size; it suffices while that is at
    // least the level of detail.
    while (level + 1 < levelCount && levelOfDetail <= 1.0 / (1 << (level + 1)))
        ++level;
    return level;
}

int ClinicalPixmapItem::pendingDecodes()
{
    return pendingDecodeCount.load();
}

QImage ClinicalPixmapItem::decode(QByteArray jpeg, QRect clip, QSize scaledSize)
{
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&buffer, "JPEG");
    if (clip.isValid())
        reader.setClipRect(clip);
    if (scaledSize.isValid())
        reader.setScaledSize(scaledSize);
    QImage image = reader.read();
    kelvaris::trace(QStringLiteral("fullImage: ") + sizeText(image.size()));
    return image;
}
