#pragma once

#include <QDate>
#include <QFuture>
#include <QIcon>
#include <QImage>
#include <QMetaObject>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSharedPointer>
#include <QSize>
#include <QString>

#include <vector>

class DermatoImageBudget;
class LesionVisualizer;
class QGraphicsPixmapItem;
class QGraphicsScene;

// One dermatoscopic group of a lesion (one or more image ids, the first being
// the main image): its thumbnails, its images decoded in the background, its
// outlines and centres, its capture date and whether its images are in the
// session folder yet.
//
// A dermatoscope's image can be 6000 by 4000 pixels (close to 100 MB decoded),
// so nothing is decoded at full size until asked for: each id's size comes
// from its JPEG header at once, a preview bounded to the screen is decoded on
// request (requestPreview), and full images are decoded on request
// (requestImage) within a budget shared by all items (DermatoImageBudget),
// which may take an unpinned full image back (imageReleased).
//
// Held by QSharedPointer; lives on the GUI thread. Images are decoded on the
// global thread pool from copies of the JPEG bytes and come back to this
// object, so a decode still running when the item is destroyed is dropped.
class DermatoscopicItem : public QObject
{
    Q_OBJECT

public:
    // The numbers updated() carries.
    enum UpdatedRole
    {
        IconUpdated = Qt::DecorationRole, // the thumbnail (and date label) changed
    };
    Q_ENUM(UpdatedRole)

    static constexpr int thumbnailWidth = 200;
    static const QSize placeholderSize;
    // Thumbnails are decoded on the GUI thread; a missing thumbnail falls back
    // to the full-size image, which is decoded at most at this size.
    static const QSize thumbnailDecodeBound;

    DermatoscopicItem(QSharedPointer<LesionVisualizer> lesion, std::vector<QString> ids);
    ~DermatoscopicItem() override;

    const std::vector<QString> &getIds() const { return ids; }
    QDate getDate() const { return m_date; }
    bool isDownloaded() const { return m_downloaded; }
    QSharedPointer<LesionVisualizer> getLesion() const { return m_lesion; }
    QIcon getIcon() const { return m_icon; }
    const std::vector<QIcon> &getIcons() const { return m_icons; }
    const std::vector<std::vector<QPoint>> &getContours() const { return m_contours; }
    int count() const { return int(ids.size()); }

    // The full image of ids[index]. When it is not decoded yet, it is decoded
    // here, on the calling thread: views that must not wait use
    // requestImage(), imageLoaded() and loadedImage() instead.
    QImage getImage(int index);
    // The full image if its background decode has come back, else null.
    QImage loadedImage(int index) const;
    bool isImageLoaded(int index) const;
    // The size of the image of ids[index] as its JPEG header gives it; -1 by
    // -1 while its bytes are not in the session folder or do not parse.
    QSize getImageSize(int index) const;

    // Starts the background decode of the full image of ids[index] unless
    // it is loaded or on its way; imageLoaded(index) follows. A pinned image
    // is never taken back by the budget; an unpinned one may be
    // (imageReleased). Without room in the budget the decode waits for it.
    void requestImage(int index, bool pinned = true);
    void setImagePinned(int index, bool pinned);
    // Drops the full image of ids[index] (and a decode on its way).
    void releaseImage(int index);
    // Full images held or being decoded by this item.
    int fullImageCount() const;
    void setImageBudget(DermatoImageBudget *budget);
    DermatoImageBudget *imageBudget() const;

    // The image of ids[index] decoded at most at previewBound(): started on
    // request, previewLoaded(index) follows; null until then.
    void requestPreview(int index);
    QImage getPreview(int index) const { return validIndex(index) ? m_previews[size_t(index)] : QImage(); }
    bool isPreviewLoaded(int index) const { return !getPreview(index).isNull(); }
    // The screen's size in device pixels (1920 by 1080 without a screen).
    static QSize previewBound();

    // The index of the id the viewer shows (its current version), 0 at first.
    int getCurrentVersion() const { return m_currentVersion; }
    void setCurrentVersion(int index);

    // The centre of the first id's outline (mean of its points, truncated);
    // without an outline the centre of an image of the given size.
    QPoint getDermatoscopicCenter(QSize imageSize);
    // The region of the first image to show first.
    QRect getRegion();

    // Asks the server for the first id's images (a new request every time).
    void requestDownload();
    // Sets the icon (thumbnail at width 200, rounded, with its date label) and
    // the date from the first id.
    void setThumbnail(QImage image);

    // The graphics item that shows ids[index] in a scene (not owned). It is
    // given the full image when a download brings it; it is forgotten with its
    // scene or when the scene no longer holds it.
    void setGraphicsItem(QGraphicsPixmapItem *item, int index = 0);
    QGraphicsPixmapItem *getGraphicsItem() const;

    // Pure helpers of the item's graphics.
    // The thumbnail's centred square drawn as a circle; null for a null image.
    static QPixmap circularIcon(const QImage &thumbnail);
    // The grey 400 by 100 panel with the download icon.
    static QPixmap downloadPlaceholder();
    // The image at width 200, rounded, with the date label; width 0 gives the
    // image back unchanged.
    static QImage labelledThumbnail(const QImage &image, const QString &dateText);
    // "yyyyMMdd_..." to "yyyy/MM/dd" (empty when the id starts otherwise).
    static QString dateLabelOf(const QString &id);

signals:
    void updated(int role);
    void changedPixmap();
    // The background decode of ids[index] has come back.
    void imageLoaded(int index);
    // The full image of ids[index] was taken back by the budget or dropped.
    void imageReleased(int index);
    void previewLoaded(int index);
    // The bytes of ids[index] arrived in the session folder (a download):
    // its size is known now, earlier decodes of it were dropped.
    void imageStored(int index);

private:
    void onDownloadDone(QString filename, int quality);
    void markDownloaded();
    QImage readThumbnail(const QString &id) const;
    QByteArray fullBytes(const QString &id) const;
    void startLoad(int index);
    void startPreview(int index);
    void onEvicted(int index);
    void retryWanted();
    void readSize(int index);
    bool validIndex(int index) const { return index >= 0 && index < int(ids.size()); }

    // The name is the one the item's users know it by.
    std::vector<QString> ids;
    QSharedPointer<LesionVisualizer> m_lesion;
    QIcon m_icon;
    std::vector<QIcon> m_icons;
    QDate m_date;
    bool m_downloaded = true;
    std::vector<bool> m_thumbnailPresent;
    std::vector<bool> m_fullPresent;
    std::vector<std::vector<QPoint>> m_contours;
    QMetaObject::Connection m_downloadConnection;
    std::vector<QSize> m_sizes;
    std::vector<QPoint> m_centres;
    std::vector<QRect> m_regions;
    std::vector<QImage> m_images;
    std::vector<QFuture<QImage>> m_loads;
    // Per id: which load is current; a result of an older one is dropped.
    std::vector<int> m_loadGenerations;
    // Per id: a full image asked for that waits for room in the budget, and
    // whether it is pinned there.
    std::vector<bool> m_wanted;
    std::vector<bool> m_pinned;
    std::vector<QImage> m_previews;
    std::vector<int> m_previewGenerations;
    std::vector<bool> m_previewRunning;
    QPointer<DermatoImageBudget> m_budget;
    QMetaObject::Connection m_budgetConnection;
    int m_currentVersion = 0;
    QGraphicsPixmapItem *m_graphicsItem = nullptr;
    QPointer<QGraphicsScene> m_graphicsScene;
    int m_graphicsIndex = 0;
};
