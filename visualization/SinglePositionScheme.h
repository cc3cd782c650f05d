#pragma once

#include <QGraphicsView>
#include <QPoint>
#include <QTimer>

class QGraphicsRectItem;

// One body silhouette of the session comparison with the camera positions of
// both sessions as rectangles (item data 0 the image index within the
// position, item data 1 the session index). A press selects the rectangles
// under the pointer; while the left button is held and the pointer moves,
// the selection repeats about every 100 ms at the pointer.
class SinglePositionScheme : public QGraphicsView
{
    Q_OBJECT

public:
    static constexpr int rectangleType = 3; // QGraphicsRectItem
    static constexpr int dragIntervalMs = 100;
    static constexpr int searchSquare = 10;

    explicit SinglePositionScheme(QWidget *parent = nullptr);

    QPoint getSelectionPoint() const { return m_point; }
    bool isSelectionTimerActive() const { return m_timer.isActive(); }
    // Selects at a view point as a press there would, without the timer.
    void selectAt(const QPoint &point);
    // The session-0 (session 0) or session-1 rectangle of an image index, or null.
    QGraphicsRectItem *findRectangle(int imageIndex, int session) const;

public slots:
    void handleTimeout();

signals:
    void mouseClicked(QPoint point);
    void mouseClickedIndex(int session0Index, int session1Index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void select();
    void fitScene();

    QPoint m_point;
    QTimer m_timer;
};
