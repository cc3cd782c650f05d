#pragma once

#include "session/SessionVisualizer.h"

#include <QGraphicsScene>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QSharedPointer>

#include <memory>

class ClinicalPixmapItem;
class ImageItemRect;
class ListView;
class QMenu;

// The scene of one body position: overview tiles, the stacked clinical
// images of the close-up and their lesion markers. It owns the right-click
// menu that marks a new spot on a clinical image.
class GraphicsScene : public QGraphicsScene
{
    Q_OBJECT

public:
    // positionIndex -1 is the External position.
    GraphicsScene(int positionIndex, QSharedPointer<SessionVisualizer> session, ListView *list,
                  QObject *parent = nullptr);
    ~GraphicsScene() override;

    int getPositionIndex() const { return m_positionIndex; }
    QSharedPointer<SessionVisualizer> getSession() const { return m_session; }
    ListView *getList() const;
    QMenu *getLesionMenu() const { return m_lesionMenu.get(); }
    // x offset of the shown part of this position's clinical images.
    int xOffset() const;

    // The clinical image item that item belongs to (itself, or an ancestor),
    // or null.
    static ClinicalPixmapItem *clinicalItemOf(QGraphicsItem *item);

    // Remembers a click for the menu that is about to open.
    void rememberClick(QGraphicsItem *item, const QPointF &scenePoint, const QPoint &globalPos);
    // Opens the mark-spot menu at globalPos when item is (on) a shown
    // clinical image of this scene; returns whether it opened.
    bool openSpotMenu(QGraphicsItem *item, const QPointF &scenePoint, const QPoint &globalPos);
    // Marks a new spot centred on scenePoint of a clinical image: creates the
    // lesion in the session and its marker. Null when the image's name does
    // not parse or belongs to another position.
    ImageItemRect *markSpotAt(ClinicalPixmapItem *item, const QPointF &scenePoint);

    QGraphicsItem *getClickedItem() const { return m_clickedItem; }
    QPointF getClickedPoint() const { return m_clickedPoint; }
    QPoint getClickedGlobalPos() const { return m_clickedGlobalPos; }

public slots:
    void markSpot();
    void markSpotCross();
    // After a menu closed, the view that showed it gets a MyReleaseEvent.
    void popupMenuClosed();

private:
    bool holdsItem(QGraphicsItem *item) const;

    int m_positionIndex = -1;
    QSharedPointer<SessionVisualizer> m_session;
    QPointer<ListView> m_list;
    std::unique_ptr<QMenu> m_lesionMenu;
    QGraphicsItem *m_clickedItem = nullptr;
    QPointF m_clickedPoint;
    QPoint m_clickedGlobalPos;
};
