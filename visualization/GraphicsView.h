#pragma once

#include "session/LesionVisualizer.h"

#include <QGraphicsItem>
#include <QGraphicsView>
#include <QMap>
#include <QMutex>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QSharedPointer>
#include <QString>
#include <QTimer>
#include <QTouchEvent>

#include <array>
#include <atomic>

class GraphicsScene;
class ImageItemRect;
class QGraphicsEllipseItem;
class QGraphicsScene;

// The view of the overview (mode 0), of the close-up of one clinical image
// (mode 1) and of the dermatoscopic viewer (mode 3). It implements the
// program's navigation: zoom clamped to [fitted scale, 4 x fitted scale]
// (3 x in mode 3) around the cursor, hand panning, two-finger pinch, pulling
// the image past its edge to move to the neighbouring image, hover and click
// selection of overview tiles, picking markers with a tolerance square, the
// pairing clicks, and mirroring of scroll and zoom onto a paired view.
class GraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    enum Mode
    {
        Overview = 0,
        CloseUp = 1,
        Dermatoscopic = 3
    };
    // Directions of moveVisualization, the neighbour names of the tiles.
    enum Direction
    {
        Left = 0,
        UpperLeft = 1,
        UpperRight = 2,
        Right = 3,
        LowerRight = 4,
        LowerLeft = 5
    };

    static constexpr int tileType = QGraphicsItem::UserType + 1;
    static constexpr int silhouetteType = 13;
    static constexpr double noScale = -1000.0;
    static constexpr double wheelBase = 1.0015;
    static constexpr int swipeDecisionMs = 100;
    static constexpr int singleClickMs = 200;

    GraphicsView(QWidget *parent, int mode, QString name);
    ~GraphicsView() override;

    int getMode() const { return m_mode; }
    QString getName() const { return m_name; }

    // Remembers the scene (mode 1 moves its edge indicators there) and shows it.
    void setCurrentScene(GraphicsScene *scene);
    GraphicsScene *getCurrentScene() const { return m_scene; }
    void reset();
    void selectTile(QGraphicsItem *tile);
    void refreshMarkers(QGraphicsItem *tile);
    void zoom(double factor);
    QPointF correspondingPoint(QPointF scenePoint) const;

    // Fits the scene rectangle keeping the aspect ratio and records the
    // scale as the minimum scale.
    void fitScene();
    // Shows the selected clinical image whole; the view keeps fitting it on
    // show and resize until the user zooms or another image is selected.
    void fitImage(const QRectF &rect);
    // Fits the remembered image when it lies in the scene, else the scene.
    void refit();
    QRectF fittedImageRect() const { return m_imageRect; }
    double getMinimumScale() const { return m_minimumScale; }
    double currentScale() const;
    bool isZoomed() const { return m_zoomed; }

    void setPairedView(GraphicsView *view) { m_pairedView = view; }
    GraphicsView *getPairedView() const { return m_pairedView; }
    void setParallel(bool parallel) { m_parallel = parallel; }
    bool isParallel() const { return m_parallel; }

    void setEditMode(bool edit) { m_edit = edit; }
    bool isEditMode() const { return m_edit; }
    void setShowSpots(bool show) { m_showSpots = show; }
    void setShowNumbers(bool show) { m_showNumbers = show; }
    void setLabelVisibility(const QMap<QString, bool> &visibility) { m_labelVisibility = visibility; }
    void setSizeBounds(int lower, int upper);
    // Entering or leaving pair mode forgets a pending pair marker.
    void setPairMode(bool pair);
    bool isPairMode() const { return m_pair; }
    ImageItemRect *getPendingPairMarker() const;

    QGraphicsItem *getCurrentTile() const;
    QGraphicsItem *getPressedTile() const;
    QGraphicsItem *getShownTile() const;
    int getCurrentTileState() const { return m_currentState; }
    int getPressedTileState() const { return m_pressedState; }

    // The marker a press at a viewport point picks: the marker under it, or
    // the one nearest among those within a 10 / scale square around it.
    ImageItemRect *markerAt(const QPoint &viewportPos) const;
    bool isPanning() const { return m_panning; }
    bool isSwipePending() const { return m_swipeTimerRunning; }
    bool isSingleClickPending() const { return m_singleClickTimer.isActive(); }
    // The four edge indicators (left, right, top, bottom), mode 1 only.
    QGraphicsEllipseItem *getIndicator(int index) const;

    // Mode 3 (dermatoscopic viewer).
    void setFitRect(const QRect &rect) { m_fitRect = rect; }
    QRect getFitRect() const { return m_fitRect; }
    // A pure scale transform that fits rect, centred on it.
    void fitToRect(const QRect &rect);
    // The offset point: the scene rectangle's top-left, rounded, plus point.
    void setOffsetPoint(const QPointF &point);
    QPoint getOffsetPoint() const { return m_offsetPoint; }

public slots:
    void pairDone();

signals:
    void lesionSelected(QSharedPointer<LesionVisualizer> lesion);
    void viewResize();
    void moveVisualization(int direction);
    // A double click on a marker whose lesion has dermatoscopic images.
    void dermatoscopicViewerRequested(QSharedPointer<LesionVisualizer> lesion);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // A tile with the scene it lives in: a tile of a scene that is gone is
    // gone as well and is never touched.
    struct TileRef
    {
        QGraphicsItem *item = nullptr;
        QPointer<QGraphicsScene> scene;
        QGraphicsItem *get() const { return scene ? item : nullptr; }
    };
    static TileRef refOf(QGraphicsItem *item);

    void select(QGraphicsItem *tile);
    void deselect(QGraphicsItem *item);
    void overviewPress(QMouseEvent *event);
    void closeUpPress(QMouseEvent *event);
    void pairPress(ImageItemRect *hit);
    void overviewHover(const QPoint &pos);
    void startPanning(const QPoint &pos);
    void pan(const QPoint &pos);
    void endPanning(const QPoint &pos);
    void edgeMove(const QPoint &pos);
    void edgeRelease(const QPoint &pos);
    void swipeDecision();
    void clearEdges();
    void updateIndicator(int index, double value);
    void createIndicators();
    void destroyIndicators();
    void forgetDeadIndicators() const;
    void takeIndicatorsBack();
    void placeIndicators(GraphicsScene *scene);
    void singleClickTimeout();
    void scrollBy(const QPoint &delta);
    void scrollPairedSoThat(const QPointF &scenePoint, const QPoint &viewportPos);
    void handlePinch(QTouchEvent *event);
    bool scrollBarVisible() const;
    bool hasTouchScreen() const;

    int m_mode = Overview;
    QString m_name;
    QPointer<GraphicsScene> m_scene;
    QPointer<GraphicsView> m_pairedView;
    bool m_parallel = false;

    TileRef m_currentTile;
    int m_currentState = 0;
    TileRef m_pressedTile;
    int m_pressedState = -1;
    TileRef m_shownTile;

    double m_minimumScale = noScale;
    bool m_zoomed = false;
    bool m_pendingFit = false;
    QRectF m_imageRect;

    bool m_edit = false;
    bool m_showSpots = true;
    bool m_showNumbers = true;
    QMap<QString, bool> m_labelVisibility;
    int m_lowerSize = 0;
    int m_upperSize = 100000;

    bool m_pair = false;
    QPointer<ImageItemRect> m_pendingPairMarker;

    bool m_panning = false;
    QPoint m_lastPos;

    QPoint m_gestureStart;
    bool m_left = false;
    bool m_right = false;
    bool m_top = false;
    bool m_bottom = false;
    bool m_swipeTimerRunning = false;
    QTimer *m_swipeTimer = nullptr;
    QTimer m_singleClickTimer;
    QPointer<ImageItemRect> m_clickedMarker;
    QPoint m_clickedGlobalPos;

    // Owned by the view while not placed; when placed, held by m_scene (and
    // deleted with it).
    mutable std::array<QGraphicsEllipseItem *, 4> m_indicators{};
    mutable bool m_indicatorsPlaced = false;

    int m_horizontalAtPress = 0;
    int m_verticalAtPress = 0;

    double m_previousPinch = 0.0;
    std::atomic<bool> m_twoFingers{false};

    QRect m_fitRect;
    QPoint m_offsetPoint;

    // Held while an overview press changes the shown and pressed tiles; a
    // press that arrives re-entrantly meanwhile is dropped, never waited for.
    QMutex m_pressMutex;
};
