#pragma once

#include <QColor>
#include <QGraphicsItem>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <array>

// One overview tile: a clinical image of a body position drawn small over the
// position's silhouette. Its child is the image's ClinicalPixmapItem in the
// close-up area. It keeps the names of its six neighbours so that the close-up
// view can move from image to image.
class ImageItem : public QGraphicsItem
{
public:
    static constexpr int itemType = QGraphicsItem::UserType + 1;
    // Colour of a tile whose image holds a lesion with a dermatoscopic image.
    static QColor dermatoscopicColor() { return QColor(255, 218, 206); }

    ImageItem(const QRect &rect, const QString &imageName, const QPixmap &pixmap = QPixmap(),
              QGraphicsItem *parent = nullptr);

    int type() const override { return itemType; }
    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    QString getImageName() const { return m_imageName; }
    QRect getRect() const { return m_rect; }
    bool hasPixmap() const { return !m_pixmap.isNull(); }
    QColor getColor() const { return m_color; }
    void setColor(const QColor &color);

    // direction: 0 left, 1 upper left, 2 upper right, 3 right, 4 lower right,
    // 5 lower left. Out of range reads as empty and is not stored.
    QString getNeighbour(int direction) const;
    void setNeighbour(int direction, const QString &name);

private:
    QColor m_color = QColor(0, 0, 0);
    int m_frameWidth = 3;
    QRect m_rect;
    QPixmap m_pixmap;
    QString m_imageName;
    std::array<QString, 6> m_neighbours;
};
