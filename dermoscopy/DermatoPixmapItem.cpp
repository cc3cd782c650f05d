#include "dermoscopy/DermatoPixmapItem.h"

#include "widgets/Trace.h"

#include <QBuffer>
#include <QImageReader>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

DermatoPixmapItem::DermatoPixmapItem(QObject *owner, QGraphicsItem *parent)
    : QGraphicsPixmapItem(parent), m_owner(owner), m_handle(std::make_shared<Handle>())
{
    m_handle->item = this;
    setTransformationMode(Qt::SmoothTransformation);
}

DermatoPixmapItem::~DermatoPixmapItem()
{
    m_handle->item = nullptr;
}

QImage DermatoPixmapItem::decodeFull(const QByteArray &jpeg)
{
    if (jpeg.isEmpty())
        return QImage();
    QBuffer buffer;
    buffer.setData(jpeg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    return reader.read();
}

void DermatoPixmapItem::showImage(const QPixmap &preview, const QByteArray &jpeg)
{
    const int generation = nextGeneration();
    m_bytes = jpeg;
    m_showingFull = false;

    QSize fullSize;
    {
        QBuffer buffer;
        buffer.setData(jpeg);
        buffer.open(QIODevice::ReadOnly);
        fullSize = QImageReader(&buffer, "JPEG").size();
    }
    if (!preview.isNull() && fullSize.isValid() && !fullSize.isEmpty() && preview.size() != fullSize)
        setPixmap(preview.scaled(fullSize, Qt::KeepAspectRatio, Qt::FastTransformation));
    else
        setPixmap(preview);

    if (!m_owner) {
        kelvaris::trace(QStringLiteral("DermatoPixmapItem: no owner, the preview stays"));
        return;
    }
    const std::weak_ptr<Handle> handle = m_handle;
    QTimer::singleShot(0, m_owner.data(), [handle, generation]() {
        if (const auto alive = handle.lock(); alive && alive->item)
            alive->item->decompressAndUpdate(generation);
    });
}

void DermatoPixmapItem::decompressAndUpdate(int generation)
{
    if (generation != m_generation || !m_owner)
        return;
    const std::weak_ptr<Handle> handle = m_handle;
    QtConcurrent::run(decodeFull, m_bytes).then(m_owner.data(), [handle, generation](QImage image) {
        if (const auto alive = handle.lock(); alive && alive->item)
            alive->item->applyDecoded(generation, image);
    });
}

void DermatoPixmapItem::applyDecoded(int generation, const QImage &image)
{
    if (generation != m_generation || image.isNull())
        return;
    setPixmap(QPixmap::fromImage(image));
    m_showingFull = true;
}
