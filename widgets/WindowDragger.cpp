#include "widgets/WindowDragger.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

WindowDragger *WindowDragger::install(QWidget *handle)
{
    return new WindowDragger(handle);
}

WindowDragger::WindowDragger(QWidget *handle) : QObject(handle), m_handle(handle)
{
    handle->installEventFilter(this);
}

bool WindowDragger::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_handle)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        return press(static_cast<QMouseEvent *>(event));
    case QEvent::MouseMove:
        return follow(static_cast<QMouseEvent *>(event));
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            m_pressed = false;
        return false;
    case QEvent::MouseButtonDblClick:
        // A double click is the handle's own (the title bar maximises), never a drag.
        m_pressed = false;
        return false;
    default:
        return false;
    }
}

bool WindowDragger::press(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    m_pressed = true;
    m_pressCursor = event->globalPosition().toPoint();
    m_pressWindow = m_handle->window()->pos();
    event->accept();
    return true;
}

bool WindowDragger::follow(QMouseEvent *event)
{
    if (!m_pressed)
        return false;
    if (!(event->buttons() & Qt::LeftButton)) {
        // The release went elsewhere (another window took the grab).
        m_pressed = false;
        return false;
    }
    QWidget *window = m_handle->window();
    const QPoint travel = event->globalPosition().toPoint() - m_pressCursor;
    if (!m_systemMoveRefused && travel.manhattanLength() >= QApplication::startDragDistance()) {
        QWindow *native = window->windowHandle();
        if (native && native->startSystemMove()) {
            // The window manager moves the window from here on and keeps the
            // release for itself.
            m_pressed = false;
            event->accept();
            return true;
        }
        m_systemMoveRefused = true;
    }
    window->move(m_pressWindow + travel);
    event->accept();
    return true;
}
