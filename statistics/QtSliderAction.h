#pragma once

#include <QPointer>
#include <QWidgetAction>

#include <chrono>

class QSlider;

// A pop-up slider (0..100) with a reset button, for adjustment menus. The
// action emits QAction's changed() when the slider's value should be applied.
// While the slider is dragged, changes are throttled: at most one per throttle
// interval is emitted, and when any change was dropped, one more changed() is
// emitted on release, so that the value the drag ends at is always applied.
class QtSliderAction : public QWidgetAction
{
    Q_OBJECT

public:
    static constexpr std::chrono::nanoseconds defaultThrottleInterval{101'000'000};

    // label is shown left of the slider; the action's default widget takes it over.
    QtSliderAction(QWidget *label, int initialValue, QObject *parent = nullptr);

    int value() const;
    // Moves the slider without emitting changed(), for showing stored values.
    void setValue(int value);
    int initialValue() const { return m_initialValue; }
    QSlider *slider() const { return m_slider; }

    std::chrono::nanoseconds throttleInterval() const { return m_throttleInterval; }
    void setThrottleInterval(std::chrono::nanoseconds interval) { m_throttleInterval = interval; }

private:
    void onValueChanged();
    void onPressed();
    void onReleased();

    QPointer<QSlider> m_slider;
    int m_initialValue = 0;
    bool m_pressed = false;
    bool m_changeDropped = false;
    std::chrono::steady_clock::time_point m_lastEmission = std::chrono::steady_clock::now();
    std::chrono::nanoseconds m_throttleInterval = defaultThrottleInterval;
};
