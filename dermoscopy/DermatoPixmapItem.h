#pragma once

#include <QByteArray>
#include <QGraphicsPixmapItem>
#include <QImage>
#include <QPixmap>
#include <QPointer>

#include <memory>

// Shows a large dermatoscopic image at once from its small preview, scaled up
// to the image's true size so that the item has its final geometry, and
// replaces it by the fully decoded image when the background decode is done.
//
// Not a QObject: decoded images come back through the owner given at
// construction (the scene or view that holds the item) and reach the item
// only while it exists. A newer image (a higher generation) drops the result
// of an older decode.
class DermatoPixmapItem : public QGraphicsPixmapItem
{
public:
    explicit DermatoPixmapItem(QObject *owner, QGraphicsItem *parent = nullptr);
    ~DermatoPixmapItem() override;

    // Shows the preview scaled to the JPEG's size at once and queues the
    // decode of the JPEG bytes (kept by value).
    void showImage(const QPixmap &preview, const QByteArray &jpeg);
    // Decodes the current bytes on the global thread pool; the result is shown
    // if generation is still the current one then.
    void decompressAndUpdate(int generation);

    int getGeneration() const { return m_generation; }
    int nextGeneration() { return ++m_generation; }
    QByteArray getBytes() const { return m_bytes; }
    void setBytes(const QByteArray &jpeg) { m_bytes = jpeg; }
    // Whether the pixmap is the decoded image of the current bytes.
    bool isShowingFullImage() const { return m_showingFull; }

    // The JPEG decoded at full size; null when the bytes do not decode.
    static QImage decodeFull(const QByteArray &jpeg);

private:
    // What a delayed call holds on to: it dies with the item.
    struct Handle
    {
        DermatoPixmapItem *item = nullptr;
    };

    void applyDecoded(int generation, const QImage &image);

    QPointer<QObject> m_owner;
    std::shared_ptr<Handle> m_handle;
    int m_generation = 0;
    QByteArray m_bytes;
    bool m_showingFull = false;
};
