#pragma once

#include <QElapsedTimer>
#include <QGraphicsView>
#include <QMenu>
#include <QPoint>
#include <QPointer>

// The zoomable view of a dermatoscopic image: wheel and two-finger pinch zoom
// about the pointer (between the fit scale and four times it), middle-button
// panning, a fit to the scene rectangle at every resize, and a double click
// that is ignored just after a pinch.
class DermatoGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    static constexpr double wheelBase = 1.0015;
    static constexpr double maxZoom = 4.0;
    static constexpr int doubleClickAfterPinchMs = 300;

    explicit DermatoGraphicsView(QWidget *parent = nullptr);

    double fitScale() const { return m_fitScale; }
    double currentScale() const;
    bool isUserZoomed() const { return m_userZoomed; }
    bool wasShownOnce() const { return m_shownOnce; }
    bool isPanning() const { return m_panning; }
    void setContextMenu(QMenu *menu) { m_contextMenu = menu; }

    // Scales by factor about a viewport point, clamped to [fit, 4 x fit].
    void zoomAbout(double factor, const QPoint &viewportPos);
    // Fits the scene rectangle keeping the aspect ratio and records the scale.
    void fitToScene();

signals:
    void doubleClicked();
    void sizeChanged();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    bool hasContent() const;

    bool m_panning = false;
    QPoint m_lastPanPos;
    double m_fitScale = 1.0;
    bool m_userZoomed = false;
    bool m_shownOnce = false;
    double m_lastTouchDistance = -1.0;
    QElapsedTimer m_pinchTimer;
    QPointer<QMenu> m_contextMenu;
};
