#pragma once

#include <QGraphicsView>
#include <QPoint>

class QGraphicsItem;

// The view of the superposition dialog: zoom clamped to [minimum scale,
// 4 x minimum scale] about the cursor, hand panning with the left button,
// and a mode in which the left button drags the item under the pointer (the
// top layer) instead of panning. Zoom does nothing until the owner has set
// the minimum scale.
class SuperpositionView : public QGraphicsView
{
    Q_OBJECT

public:
    static constexpr double noScale = -1000.0;
    static constexpr double wheelBase = 1.0015;

    explicit SuperpositionView(QWidget *parent = nullptr);

    void setMinimumScale(double scale) { m_minimumScale = scale; }
    double minimumScale() const { return m_minimumScale; }
    void setMoveItemMode(bool on);
    bool isMoveItemMode() const { return m_moveItemMode; }
    bool isPanning() const { return m_panning; }
    double currentScale() const;
    // Scales by factor, clamped to the scale range.
    void zoom(double factor);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    double m_minimumScale = noScale;
    bool m_moveItemMode = false;
    bool m_panning = false;
    QPoint m_lastPos;
    QGraphicsItem *m_grabbed = nullptr;
};
