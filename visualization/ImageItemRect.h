#pragma once

#include "session/LesionVisualizer.h"

#include <QColor>
#include <QGraphicsObject>
#include <QMetaObject>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QSharedPointer>
#include <QString>

#include <vector>

class ListView;
class QGraphicsTextItem;
class QParallelAnimationGroup;

// One appearance of a lesion on one clinical image: a rounded rectangle in
// the lesion's label colour, its line width following the priority, with the
// lesion number as a separate text item above it. A child of the clinical
// image item, in that item's coordinates (full image pixels less the x
// offset of device images). Follows its lesion's signals; grows into a circle
// while its lesion is highlighted; in edit mode it can be moved and resized,
// and writes the box back into the lesion only when that changed it.
class ImageItemRect : public QGraphicsObject
{
    Q_OBJECT
    Q_PROPERTY(qreal cornerRadius READ cornerRadius WRITE setCornerRadius NOTIFY cornerRadiusChanged)

public:
    enum
    {
        Type = UserType + 2
    };
    enum class Grab
    {
        Move,
        BottomLeft,
        BottomRight,
        TopLeft,
        TopRight
    };

    static constexpr int minimumSide = 50;
    static constexpr int restMargin = 15;
    static constexpr int activeMargin = 40;
    static constexpr qreal restCornerRadius = 15.0;

    // Makes itself and numberLabel children of clinicalItem when it is given.
    ImageItemRect(QSharedPointer<LesionVisualizer> lesion, int appearanceIndex, QString sessionFolder,
                  QGraphicsItem *clinicalItem, QGraphicsTextItem *numberLabel, ListView *list, int xOffset);
    ~ImageItemRect() override;

    // The inner rectangle of a lesion box: the x offset taken off, each side
    // shorter than 50 grown by half the difference at both ends.
    static QRect innerRectFor(const QRect &box, int xOffset);
    // The pen width of a priority.
    static int penWidthFor(int priority) { return 3 * priority; }

    int type() const override { return Type; }
    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    QSharedPointer<LesionVisualizer> getLesion() const { return m_lesion; }
    int getAppearanceIndex() const { return m_appearanceIndex; }
    int getXOffset() const { return m_xOffset; }
    QRect getInnerRect() const { return m_innerRect; }
    QRect getOuterRect() const { return m_outerRect; }
    int getPenWidth() const { return m_penWidth; }
    QColor getCurrentColor() const { return m_currentColor; }
    QColor getStoredColor() const { return m_storedColor; }
    // The pairing marks a pending marker green; restoreColor() takes the
    // label colour back.
    void setCurrentColor(const QColor &colour);
    void restoreColor();
    QString getSessionFolder() const { return m_sessionFolder; }
    ListView *getList() const;
    QGraphicsItem *getClinicalItem() const { return m_clinicalItem; }
    QGraphicsTextItem *getNumberLabel() const { return m_numberLabel; }
    Grab getGrab() const { return m_grab; }
    bool isHighlighted() const { return m_highlight != nullptr; }

    qreal cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(qreal radius);

public slots:
    void startHighlight();
    void stopHighlight();

signals:
    void cornerRadiusChanged();

protected:
    void hoverEnterEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;

private:
    void connectLesion();
    void disconnectLesion();
    void applyLesion();
    void roleChanged(int role);
    void rebind(QSharedPointer<LesionVisualizer> lesion);
    void removeFromScene();
    void setOuterMargin(int margin);
    void placeNumberLabel(int x);
    Grab grabAt(const QPointF &point) const;

    QSharedPointer<LesionVisualizer> m_lesion;
    int m_appearanceIndex = 0;
    int m_xOffset = 0;
    QRect m_innerRect;
    QRect m_outerRect;
    QColor m_currentColor;
    QColor m_storedColor;
    int m_penWidth = 9;
    qreal m_cornerRadius = restCornerRadius;
    QString m_sessionFolder;
    QPointer<ListView> m_list;
    QGraphicsItem *m_clinicalItem = nullptr;
    QPointer<QGraphicsTextItem> m_numberLabel;
    QPointF m_pressPosition;
    bool m_hovered = false;
    Grab m_grab = Grab::Move;
    qreal m_savedZ = 0.0;
    QParallelAnimationGroup *m_highlight = nullptr;
    std::vector<QMetaObject::Connection> m_connections;

    // What the current drag did to the box: its offset when it was moved,
    // and whether a corner resized it. The box is written back on release
    // only when one of them changed it.
    QPoint m_dragOffset;
    bool m_dragResized = false;
    bool m_dragging = false;
};
