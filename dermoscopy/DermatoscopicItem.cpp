#include "dermoscopy/DermatoscopicItem.h"

#include "app/kelvarisVisualizer.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"
#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QImageReader>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

const QSize DermatoscopicItem::placeholderSize(400, 100);
const QSize DermatoscopicItem::thumbnailDecodeBound(1600, 1600);

namespace {

QImage decodeWithin(const QByteArray &bytes, const QSize &bound)
{
    if (bytes.isEmpty())
        return QImage();
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    const QSize size = reader.size();
    if (bound.isValid() && size.isValid() && (size.width() > bound.width() || size.height() > bound.height()))
        reader.setScaledSize(size.scaled(bound, Qt::KeepAspectRatio));
    return reader.read();
}

} // namespace

DermatoscopicItem::DermatoscopicItem(QSharedPointer<LesionVisualizer> lesion, std::vector<QString> groupIds)
    : ids(std::move(groupIds)), m_lesion(std::move(lesion))
{
    for (size_t i = 0; i < ids.size(); ++i) {
        const QString &id = ids[i];
        m_images.emplace_back();
        m_sizes.emplace_back(-1, -1);
        m_centres.emplace_back(-1, -1);
        m_regions.emplace_back();
        m_fullPresent.push_back(false);
        m_thumbnailPresent.push_back(false);
        m_loads.emplace_back();
        m_loadGenerations.push_back(0);

        const QImage thumbnail = readThumbnail(id);
        m_icons.push_back(thumbnail.isNull() ? QIcon() : QIcon(circularIcon(thumbnail)));
        m_contours.push_back(m_lesion ? m_lesion->getDermatoscopicContour(id) : std::vector<QPoint>());

        if (i == 0) {
            if (thumbnail.isNull()) {
                m_downloaded = false;
                setThumbnail(downloadPlaceholder().toImage());
            } else {
                setThumbnail(thumbnail);
            }
        }
        if (m_downloaded) {
            m_thumbnailPresent[i] = true;
            startLoad(int(i));
        }
    }
}

DermatoscopicItem::~DermatoscopicItem()
{
    disconnect(m_downloadConnection);
}

QImage DermatoscopicItem::readThumbnail(const QString &id) const
{
    const auto session = m_lesion ? m_lesion->getSession() : QSharedPointer<SessionVisualizer>();
    if (!session)
        return QImage();
    return decodeWithin(session->getDermatoscopicBytes(id + QLatin1Char('s')), thumbnailDecodeBound);
}

QByteArray DermatoscopicItem::fullBytes(const QString &id) const
{
    const auto session = m_lesion ? m_lesion->getSession() : QSharedPointer<SessionVisualizer>();
    return session ? session->getDermatoscopicBytes(id) : QByteArray();
}

void DermatoscopicItem::startLoad(int index)
{
    const QByteArray bytes = fullBytes(ids[size_t(index)]);
    const int generation = ++m_loadGenerations[size_t(index)];
    if (bytes.isEmpty()) {
        m_loads[size_t(index)] = QFuture<QImage>();
        return;
    }
    // The task owns its copy of the bytes: the store may replace or drop the
    // file (or the whole session) while it runs.
    QFuture<QImage> load = QtConcurrent::run([bytes]() { return decodeWithin(bytes, QSize()); });
    m_loads[size_t(index)] = load;
    load.then(this, [this, index, generation](QImage image) {
        if (generation != m_loadGenerations[size_t(index)] || !m_images[size_t(index)].isNull())
            return;
        m_images[size_t(index)] = image;
        if (!image.isNull())
            m_sizes[size_t(index)] = image.size();
        if (m_graphicsItem && index == m_graphicsIndex && !image.isNull() && getGraphicsItem())
            m_graphicsItem->setPixmap(QPixmap::fromImage(image));
        emit imageLoaded(index);
    });
}

QImage DermatoscopicItem::getImage(int index)
{
    if (!validIndex(index))
        return QImage();
    QImage &image = m_images[size_t(index)];
    if (image.isNull()) {
        const QFuture<QImage> &load = m_loads[size_t(index)];
        if (load.isValid() && load.isFinished() && load.resultCount() > 0) {
            image = load.result();
        } else {
            // Never wait on the pool here: decode now and let the running
            // load's result be dropped.
            ++m_loadGenerations[size_t(index)];
            image = decodeWithin(fullBytes(ids[size_t(index)]), QSize());
        }
    }
    if (!image.isNull())
        m_sizes[size_t(index)] = image.size();
    return image;
}

QImage DermatoscopicItem::loadedImage(int index) const
{
    return validIndex(index) ? m_images[size_t(index)] : QImage();
}

bool DermatoscopicItem::isImageLoaded(int index) const
{
    return validIndex(index) && !m_images[size_t(index)].isNull();
}

QSize DermatoscopicItem::getImageSize(int index) const
{
    return validIndex(index) ? m_sizes[size_t(index)] : QSize(-1, -1);
}

QPoint DermatoscopicItem::getDermatoscopicCenter(QSize imageSize)
{
    if (ids.empty())
        return QPoint(imageSize.width() / 2, imageSize.height() / 2);
    if (m_centres[0] == QPoint(-1, -1)) {
        const std::vector<QPoint> &outline = m_contours[0];
        if (outline.empty())
            return QPoint(imageSize.width() / 2, imageSize.height() / 2);
        qint64 sumX = 0;
        qint64 sumY = 0;
        for (const QPoint &p : outline) {
            sumX += p.x();
            sumY += p.y();
        }
        const qint64 n = qint64(outline.size());
        m_centres[0] = QPoint(int(sumX / n), int(sumY / n));
        kelvaris::trace(
            QStringLiteral("getDermatoscopicCenter: %1, %2").arg(m_centres[0].x()).arg(m_centres[0].y()));
    }
    return m_centres[0];
}

QRect DermatoscopicItem::getRegion()
{
    if (ids.empty() || !m_lesion)
        return QRect();
    if (!m_sizes[0].isValid())
        getImage(0);
    if (m_regions[0].isNull() && m_sizes[0].isValid())
        m_regions[0] = m_lesion->getDermatoscopicRegion(ids[0], m_sizes[0]);
    return m_regions[0];
}

void DermatoscopicItem::markDownloaded()
{
    if (!m_downloaded) {
        const QImage thumbnail = readThumbnail(ids[0]);
        if (!thumbnail.isNull()) {
            setThumbnail(thumbnail);
            emit updated(IconUpdated);
        }
    }
    disconnect(m_downloadConnection);
    m_downloaded = true;
}

void DermatoscopicItem::requestDownload()
{
    kelvaris::trace(QStringLiteral("Download Requested"));
    if (ids.empty() || !m_lesion)
        return;
    const QString &first = ids[0];
    if (m_lesion->hasDermatoscopicFile(first) && m_lesion->hasDermatoscopicFile(first + QLatin1Char('s'))) {
        if (!m_downloaded)
            emit changedPixmap();
        markDownloaded();
        if (!isImageLoaded(0) && !m_loads[0].isRunning())
            startLoad(0);
    }
    m_fullPresent[0] = false;
    disconnect(m_downloadConnection);
    m_downloadConnection =
        connect(m_lesion.data(), &LesionVisualizer::downloadDone, this, &DermatoscopicItem::onDownloadDone);
    emit m_lesion->download(first, -1);
    kelvarisVisualizer::showNotification(tr("Downloading dermatoscopic image."), 5000);
}

void DermatoscopicItem::onDownloadDone(QString filename, int quality)
{
    Q_UNUSED(quality)
    kelvaris::trace(QStringLiteral("DINS downloadConnection: ") + filename);
    for (size_t i = 0; i < ids.size(); ++i) {
        if (filename == ids[i] + QLatin1Char('s')) {
            m_thumbnailPresent[i] = true;
            const QImage thumbnail = readThumbnail(ids[i]);
            if (!thumbnail.isNull())
                m_icons[i] = QIcon(circularIcon(thumbnail));
        }
        if (filename == ids[i]) {
            // The stored file may be new: whatever was decoded before is stale.
            m_images[i] = QImage();
            m_sizes[i] = QSize(-1, -1);
            m_regions[i] = QRect();
            if (!(m_downloaded && getGraphicsItem()))
                emit changedPixmap();
            startLoad(int(i));
            m_fullPresent[i] = true;
        }
        if (m_thumbnailPresent[i] && m_fullPresent[i]) {
            markDownloaded();
            return;
        }
    }
}

void DermatoscopicItem::setThumbnail(QImage image)
{
    const QString first = ids.empty() ? QString() : ids[0];
    const QString datePart = first.section(QLatin1Char('_'), 0, 0);
    kelvaris::trace(datePart);
    if (image.width() == 0) {
        kelvaris::trace(QStringLiteral("EP!"));
        return;
    }
    m_date = LesionVisualizer::dateOfDermatoscopicId(first);
    m_icon = QIcon(QPixmap::fromImage(labelledThumbnail(image, dateLabelOf(first))));
}

void DermatoscopicItem::setGraphicsItem(QGraphicsPixmapItem *item, int index)
{
    m_graphicsItem = item;
    m_graphicsScene = item ? item->scene() : nullptr;
    m_graphicsIndex = index;
}

QGraphicsPixmapItem *DermatoscopicItem::getGraphicsItem() const
{
    // A raw item pointer is only trusted while its scene is alive and still
    // holds it: the scene may delete the item without telling us.
    if (!m_graphicsItem || !m_graphicsScene)
        return nullptr;
    const QList<QGraphicsItem *> items = m_graphicsScene->items();
    return items.contains(m_graphicsItem) ? m_graphicsItem : nullptr;
}

QString DermatoscopicItem::dateLabelOf(const QString &id)
{
    const QDate date = LesionVisualizer::dateOfDermatoscopicId(id);
    return date.isValid() ? date.toString(QStringLiteral("yyyy/MM/dd")) : QString();
}

QPixmap DermatoscopicItem::circularIcon(const QImage &thumbnail)
{
    if (thumbnail.isNull())
        return QPixmap();
    const int side = std::min(thumbnail.width(), thumbnail.height());
    const QRect square((thumbnail.width() - side) / 2, (thumbnail.height() - side) / 2, side, side);
    QPixmap icon(side, side);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(thumbnail.copy(square)));
    painter.drawRoundedRect(QRectF(icon.rect()), side / 2.0, side / 2.0);
    return icon;
}

QPixmap DermatoscopicItem::downloadPlaceholder()
{
    QPixmap placeholder(placeholderSize);
    placeholder.fill(Qt::transparent);
    QPainter painter(&placeholder);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(Qt::gray));
    painter.drawRoundedRect(QRectF(placeholder.rect()), 10, 10);
    // Rendered at twice its size and drawn scaled down, so it stays sharp.
    const QPixmap icon = svgFileToPixmap(QStringLiteral(":/icon/download"), QSize(80, 80));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(20, 10, 80, 80), icon);
    return placeholder;
}

QImage DermatoscopicItem::labelledThumbnail(const QImage &image, const QString &dateText)
{
    if (image.width() == 0)
        return image;
    const QImage scaled = image.scaledToWidth(thumbnailWidth, Qt::SmoothTransformation);
    QImage out(scaled.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QBrush(scaled));
    painter.drawRoundedRect(QRectF(out.rect()), 15, 15);
    if (!dateText.isEmpty()) {
        QFont font(QStringLiteral("MS Shell Dlg 2"), 18, QFont::Normal);
        painter.setFont(font);
        const QRect area = out.rect().adjusted(10, 10, -10, -10);
        const int flags = Qt::AlignRight | Qt::AlignBottom;
        const QRect text = painter.boundingRect(area, flags, dateText);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 150));
        painter.drawRoundedRect(QRectF(text.adjusted(-5, -5, 5, 5)), 10, 10);
        painter.setPen(QColor(47, 79, 79));
        painter.drawText(area, flags, dateText);
    }
    return out;
}
