#pragma once

#include "session/SessionTestSupport.h"

#include <QApplication>
#include <QJsonArray>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QWidget>

namespace ViewTestSupport {

// A session document of the given version with one camera pose on position 0
// (x 12, y 3, z 1, alpha 40, beta 7) and counters [4, 0, 0, 0, 2].
inline QJsonObject document(int version)
{
    QJsonObject pose{{"x", 12}, {"y", 3}, {"z", 1}, {"alpha", 40}, {"beta", 7}};
    return QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                       {"Version", version},
                       {"CameraPositions", QJsonObject{{"0", QJsonArray{pose}}}},
                       {"Lesions", QJsonObject{}},
                       {"LastLesionID", QJsonArray{4, 0, 0, 0, 2}}};
}

inline void mouse(QWidget *viewport, QEvent::Type type, const QPoint &pos, Qt::MouseButton button,
                  Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(viewport->mapToGlobal(pos)), button, buttons,
                      Qt::NoModifier, QPointingDevice::primaryPointingDevice());
    QApplication::sendEvent(viewport, &event);
}

inline void press(QWidget *viewport, const QPoint &pos, Qt::MouseButton button = Qt::LeftButton)
{
    mouse(viewport, QEvent::MouseButtonPress, pos, button, button);
}

inline void move(QWidget *viewport, const QPoint &pos, Qt::MouseButtons buttons = Qt::LeftButton)
{
    mouse(viewport, QEvent::MouseMove, pos, Qt::NoButton, buttons);
}

inline void release(QWidget *viewport, const QPoint &pos, Qt::MouseButton button = Qt::LeftButton)
{
    mouse(viewport, QEvent::MouseButtonRelease, pos, button, Qt::NoButton);
}

// A drag in steps of at most 20 pixels, as a hand would make it.
inline void drag(QWidget *viewport, const QPoint &from, const QPoint &to)
{
    press(viewport, from);
    const QPoint delta = to - from;
    const int steps = std::max(1, std::max(std::abs(delta.x()), std::abs(delta.y())) / 20);
    for (int i = 1; i <= steps; ++i)
        move(viewport, from + delta * i / steps);
}

} // namespace ViewTestSupport
