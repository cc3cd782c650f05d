#pragma once

#include <QGraphicsView>

// A view that only shows its scene: presses, moves and releases are taken and
// dropped, so there is no panning and nothing reaches the parent widget. A
// double click is reported; a resize fits the scene.
class NoPropagationView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit NoPropagationView(QWidget *parent = nullptr);

signals:
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
};
