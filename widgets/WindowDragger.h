#pragma once

#include <QObject>
#include <QPoint>

class QMouseEvent;
class QWidget;

// Lets the user move a frameless window by dragging a part of it (its title
// bar, or the whole panel of a dialog) with the left mouse button.
//
// Where a window manager can move windows itself, the drag is handed to it
// with QWindow::startSystemMove() once the cursor has travelled the platform's
// drag distance, so the window snaps and moves as every other window does
// (and can move at all under Wayland). Where it cannot (no window manager, the
// offscreen platform) the window follows the cursor's travel since the press
// with move(). Presses that a child accepts (buttons, fields) never start a
// drag: the helper sees only the presses that reach the handle.
class WindowDragger : public QObject
{
    Q_OBJECT

public:
    // Makes `handle` drag the window it belongs to. The helper is a child of
    // `handle` and lives as long as it.
    static WindowDragger *install(QWidget *handle);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit WindowDragger(QWidget *handle);

    bool press(QMouseEvent *event);
    bool follow(QMouseEvent *event);

    QWidget *m_handle = nullptr;
    bool m_pressed = false;
    bool m_systemMoveRefused = false;
    QPoint m_pressCursor;
    QPoint m_pressWindow;
};
