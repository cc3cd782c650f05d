#include "statistics/QtSliderAction.h"
#include "widgets/Trace.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

QtSliderAction::QtSliderAction(QWidget *label, int initialValue, QObject *parent)
    : QWidgetAction(parent), m_initialValue(initialValue)
{
    auto *frame = new QFrame(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    frame->setObjectName(QStringLiteral("sliderAction"));
    auto *layout = new QHBoxLayout(frame);
    if (label)
        layout->addWidget(label);

    m_slider = new QSlider(Qt::Horizontal, frame);
    m_slider->setRange(0, 100);
    m_slider->setValue(initialValue);
    m_slider->setFixedSize(300, 50);
    layout->addWidget(m_slider);

    auto *resetButton = new QPushButton(frame);
    resetButton->setObjectName(QStringLiteral("resetButton"));
    resetButton->setIcon(QIcon(QStringLiteral(":/icon/reset")));
    resetButton->setIconSize(QSize(25, 25));
    layout->addWidget(resetButton);

    setDefaultWidget(frame);

    connect(m_slider, &QSlider::valueChanged, this, &QtSliderAction::onValueChanged);
    connect(m_slider, &QSlider::sliderPressed, this, &QtSliderAction::onPressed);
    connect(m_slider, &QSlider::sliderReleased, this, &QtSliderAction::onReleased);
    connect(resetButton, &QPushButton::clicked, this, [this] {
        if (m_slider)
            m_slider->setValue(m_initialValue);
    });
}

int QtSliderAction::value() const
{
    return m_slider ? m_slider->value() : m_initialValue;
}

void QtSliderAction::setValue(int value)
{
    if (!m_slider)
        return;
    const QSignalBlocker blocker(m_slider);
    m_slider->setValue(value);
}

void QtSliderAction::onValueChanged()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_pressed) {
        if (now - m_lastEmission < m_throttleInterval) {
            m_changeDropped = true;
            return;
        }
        m_lastEmission = now;
        m_changeDropped = false;
    }
    emit changed();
}

void QtSliderAction::onPressed()
{
    kelvaris::trace(QStringLiteral("Pressed"));
    m_pressed = true;
}

void QtSliderAction::onReleased()
{
    kelvaris::trace(QStringLiteral("Released"));
    m_pressed = false;
    // The last positions of a fast drag may have been dropped: apply the
    // value the drag ended at.
    if (m_changeDropped) {
        m_changeDropped = false;
        emit changed();
    }
}
