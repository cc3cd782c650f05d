#include "dermoscopy/DermatoscopicItem.h"

#include "app/kelvarisVisualizer.h"
#include "dermoscopy/DermatoImageBudget.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"
#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QScreen>
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

QSize headerSize(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QSize(-1, -1);
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    const QSize size = reader.size();
    return size.isValid() && !size.isEmpty() ? size : QSize(-1, -1);
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
        m_wanted.push_back(false);
        m_pinned.push_back(false);
        m_previews.emplace_back();
        m_previewGenerations.push_back(0);
        m_previewRunning.push_back(false);

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
            // Only the header: images are decoded when a view asks for them.
            readSize(int(i));
        }
    }
    setImageBudget(DermatoImageBudget::shared());
}

DermatoscopicItem::~DermatoscopicItem()
{
    disconnect(m_downloadConnection);
    if (m_budget)
        m_budget->releaseAll(this);
}

QSize DermatoscopicItem::previewBound()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QSize(1920, 1080);
    const QSize size = screen->size() * screen->devicePixelRatio();
    return size.isEmpty() ? QSize(1920, 1080) : size;
}

void DermatoscopicItem::readSize(int index)
{
    m_sizes[size_t(index)] = headerSize(fullBytes(ids[size_t(index)]));
}

void DermatoscopicItem::setImageBudget(DermatoImageBudget *budget)
{
    if (m_budget == budget)
        return;
    if (m_budget) {
        m_budget->releaseAll(this);
        disconnect(m_budgetConnection);
    }
    m_budget = budget;
    if (m_budget)
        m_budgetConnection =
            connect(m_budget.data(), &DermatoImageBudget::slotFreed, this, &DermatoscopicItem::retryWanted);
}

DermatoImageBudget *DermatoscopicItem::imageBudget() const
{
    return m_budget;
}

void DermatoscopicItem::setCurrentVersion(int index)
{
    if (validIndex(index))
        m_currentVersion = index;
}

int DermatoscopicItem::fullImageCount() const
{
    int count = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (!m_images[i].isNull() || (m_loads[i].isValid() && m_loads[i].isRunning()))
            ++count;
    }
    return count;
}

void DermatoscopicItem::requestImage(int index, bool pinned)
{
    if (!validIndex(index))
        return;
    m_pinned[size_t(index)] = pinned;
    if (!m_images[size_t(index)].isNull()) {
        if (m_budget) {
            m_budget->setPinned(this, index, pinned);
            m_budget->touch(this, index);
        }
        return;
    }
    if (m_loads[size_t(index)].isValid() && m_loads[size_t(index)].isRunning()) {
        if (m_budget)
            m_budget->setPinned(this, index, pinned);
        return;
    }
    m_wanted[size_t(index)] = true;
    startLoad(index);
}

void DermatoscopicItem::setImagePinned(int index, bool pinned)
{
    if (!validIndex(index))
        return;
    m_pinned[size_t(index)] = pinned;
    // An image no longer needed that still waits for room is not decoded.
    if (!pinned && m_images[size_t(index)].isNull() &&
        !(m_loads[size_t(index)].isValid() && m_loads[size_t(index)].isRunning()))
        m_wanted[size_t(index)] = false;
    if (m_budget)
        m_budget->setPinned(this, index, pinned);
}

void DermatoscopicItem::releaseImage(int index)
{
    if (!validIndex(index))
        return;
    const bool had = !m_images[size_t(index)].isNull();
    m_wanted[size_t(index)] = false;
    m_pinned[size_t(index)] = false;
    ++m_loadGenerations[size_t(index)];
    m_loads[size_t(index)] = QFuture<QImage>();
    m_images[size_t(index)] = QImage();
    if (m_budget)
        m_budget->release(this, index);
    if (had)
        emit imageReleased(index);
}

void DermatoscopicItem::retryWanted()
{
    for (size_t i = 0; i < ids.size(); ++i) {
        if (m_wanted[i] && m_images[i].isNull() && !(m_loads[i].isValid() && m_loads[i].isRunning()))
            startLoad(int(i));
    }
}

void DermatoscopicItem::requestPreview(int index)
{
    if (!validIndex(index) || !m_previews[size_t(index)].isNull() || m_previewRunning[size_t(index)])
        return;
    startPreview(index);
}

void DermatoscopicItem::startPreview(int index)
{
    const QByteArray bytes = fullBytes(ids[size_t(index)]);
    const int generation = ++m_previewGenerations[size_t(index)];
    if (bytes.isEmpty()) {
        m_previewRunning[size_t(index)] = false;
        return;
    }
    m_previewRunning[size_t(index)] = true;
    const QSize bound = previewBound();
    QtConcurrent::run([bytes, bound]() {
        return decodeWithin(bytes, bound);
    }).then(this, [this, index, generation](QImage image) {
        if (generation != m_previewGenerations[size_t(index)])
            return;
        m_previewRunning[size_t(index)] = false;
        m_previews[size_t(index)] = image;
        emit previewLoaded(index);
    });
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
    m_loads[size_t(index)] = QFuture<QImage>();
    if (bytes.isEmpty())
        return;
    // A slot of the budget first: without room the decode waits for one.
    QPointer<DermatoscopicItem> self(this);
    if (m_budget && !m_budget->reserve(this, index, m_pinned[size_t(index)], [self, index] {
            if (self)
                self->onEvicted(index);
        }))
        return;
    m_wanted[size_t(index)] = false;
    // The task owns its copy of the bytes: the store may replace or drop the
    // file (or the whole session) while it runs.
    QFuture<QImage> load = QtConcurrent::run([bytes]() { return decodeWithin(bytes, QSize()); });
    m_loads[size_t(index)] = load;
    load.then(this, [this, index, generation](QImage image) {
        if (generation != m_loadGenerations[size_t(index)] || !m_images[size_t(index)].isNull())
            return;
        m_loads[size_t(index)] = QFuture<QImage>();
        m_images[size_t(index)] = image;
        if (image.isNull()) {
            if (m_budget)
                m_budget->release(this, index);
        } else {
            m_sizes[size_t(index)] = image.size();
            if (m_budget)
                m_budget->markHeld(this, index);
        }
        if (m_graphicsItem && index == m_graphicsIndex && !image.isNull() && getGraphicsItem()) {
            // The full image replaces a preview drawn scaled up to its size.
            m_graphicsItem->setTransform(QTransform());
            m_graphicsItem->setPixmap(QPixmap::fromImage(image));
        }
        emit imageLoaded(index);
    });
}

void DermatoscopicItem::onEvicted(int index)
{
    ++m_loadGenerations[size_t(index)];
    m_loads[size_t(index)] = QFuture<QImage>();
    const bool had = !m_images[size_t(index)].isNull();
    m_images[size_t(index)] = QImage();
    if (had)
        emit imageReleased(index);
}

QImage DermatoscopicItem::getImage(int index)
{
    if (!validIndex(index))
        return QImage();
    if (!m_images[size_t(index)].isNull())
        return m_images[size_t(index)];
    // Never wait on the pool here: decode now and let a running decode's
    // result be dropped. The image is kept only when the budget has room.
    const QImage image = decodeWithin(fullBytes(ids[size_t(index)]), QSize());
    if (image.isNull())
        return image;
    m_sizes[size_t(index)] = image.size();
    QPointer<DermatoscopicItem> self(this);
    if (!m_budget || m_budget->reserve(this, index, m_pinned[size_t(index)], [self, index] {
            if (self)
                self->onEvicted(index);
        })) {
        ++m_loadGenerations[size_t(index)];
        m_loads[size_t(index)] = QFuture<QImage>();
        m_wanted[size_t(index)] = false;
        m_images[size_t(index)] = image;
        if (m_budget)
            m_budget->markHeld(this, index);
    }
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
        readSize(0);
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
        readSize(0);
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
            const bool wanted =
                m_wanted[i] || !m_images[i].isNull() || (m_loads[i].isValid() && m_loads[i].isRunning());
            const bool hadPreview = !m_previews[i].isNull() || m_previewRunning[i];
            m_images[i] = QImage();
            m_previews[i] = QImage();
            ++m_previewGenerations[i];
            m_previewRunning[i] = false;
            ++m_loadGenerations[i];
            m_loads[i] = QFuture<QImage>();
            if (m_budget)
                m_budget->release(this, int(i));
            readSize(int(i));
            m_regions[i] = QRect();
            const bool shown = m_downloaded && getGraphicsItem() && m_graphicsIndex == int(i);
            if (!(m_downloaded && getGraphicsItem()))
                emit changedPixmap();
            if (hadPreview)
                startPreview(int(i));
            if (wanted || shown)
                requestImage(int(i), m_pinned[i]);
            emit imageStored(int(i));
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
