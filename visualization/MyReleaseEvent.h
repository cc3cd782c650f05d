#pragma once

#include <QEvent>

// Posted to a clinical view after a popup menu closed: the popup swallowed
// the button release, so the view handles this as a left-button release and
// ends any panning that the press started.
class MyReleaseEvent : public QEvent
{
public:
    static constexpr QEvent::Type eventType = QEvent::Type(QEvent::User + 1);

    MyReleaseEvent() : QEvent(eventType) {}
};
