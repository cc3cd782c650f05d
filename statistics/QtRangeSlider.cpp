#include "statistics/QtRangeSlider.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace {
constexpr int kSideInset = 10;
} // namespace

QtRangeSlider::QtRangeSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    QAbstractSlider::setRange(0, 100);
    setMouseTracking(true);
    setContentsMargins(0, 0, 0, 0);
}

void QtRangeSlider::setLowerValue(int value)
{
    if (value == m_lowerValue || value > m_upperValue || value < minimum())
        return;
    m_lowerValue = value;
    update();
    emit lowerValueChanged(value);
}

void QtRangeSlider::setUpperValue(int value)
{
    if (value == m_upperValue || value < m_lowerValue || value > maximum())
        return;
    m_upperValue = value;
    update();
    emit upperValueChanged(value);
}

void QtRangeSlider::setRange(int min, int max)
{
    max = std::max(min, max);
    QAbstractSlider::setRange(min, max);
    // Both values are clamped into the new range, the lower one first, so that
    // a range that shrinks below the lower value cannot leave the handles crossed.
    m_lowerValue = std::clamp(m_lowerValue, min, max);
    m_upperValue = std::clamp(m_upperValue, m_lowerValue, max);
    update();
}

QRect QtRangeSlider::trackRect() const
{
    return rect().adjusted(kSideInset, 0, -kSideInset, 0);
}

int QtRangeSlider::handleCentre(int value) const
{
    const QRect track = trackRect();
    return track.left() + QStyle::sliderPositionFromValue(minimum(), maximum(), value, track.width());
}

int QtRangeSlider::valueAt(int x) const
{
    const QRect track = trackRect();
    const int value = QStyle::sliderValueFromPosition(minimum(), maximum(), x - track.left(), track.width());
    return std::clamp(value, minimum(), maximum());
}

QRect QtRangeSlider::handleRect(int value) const
{
    const int x = handleCentre(value);
    return QRect(QPoint(x - 6, 5), QPoint(x + 5, height() - 6));
}

void QtRangeSlider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const int band = height() / 2 - 2;
    const QRect groove = rect().adjusted(kSideInset, band, -kSideInset, -band);
    painter.setPen(QPen(QColor(QStringLiteral("#bbb")), 1));
    painter.setBrush(QColor(QStringLiteral("#ffffff")));
    painter.drawRoundedRect(groove, 5, 5);

    const int xl =
        groove.left() + QStyle::sliderPositionFromValue(minimum(), maximum(), m_lowerValue, groove.width());
    const int xu =
        groove.left() + QStyle::sliderPositionFromValue(minimum(), maximum(), m_upperValue, groove.width());

    painter.setPen(QColor(QStringLiteral("#777")));
    painter.setBrush(QColor(QStringLiteral("#ffffff")));
    painter.drawRoundedRect(QRect(QPoint(groove.left(), groove.top()), QPoint(xl, groove.bottom())), 3, 3);
    painter.drawRoundedRect(QRect(QPoint(xu, groove.top()), QPoint(groove.right(), groove.bottom())), 3, 3);

    const QRect selected(QPoint(xl, groove.top()), QPoint(xu, groove.bottom()));
    QLinearGradient selectedFill(selected.bottomLeft(), selected.topLeft());
    selectedFill.setColorAt(0, QColor(QStringLiteral("#FFD2C3")));
    selectedFill.setColorAt(1, QColor(QStringLiteral("#FFDACE")));
    painter.setBrush(selectedFill);
    painter.drawRoundedRect(selected, 3, 3);

    for (int value : {m_lowerValue, m_upperValue}) {
        const QRect handle = handleRect(value);
        const bool hovered = m_cursorInside && handle.contains(m_cursor);
        QLinearGradient fill(handle.topLeft(), handle.bottomRight());
        fill.setColorAt(0, QColor(hovered ? QStringLiteral("#ffffff") : QStringLiteral("#eeeeee")));
        fill.setColorAt(1, QColor(hovered ? QStringLiteral("#dddddd") : QStringLiteral("#cccccc")));
        painter.setPen(QColor(hovered ? QStringLiteral("#444") : QStringLiteral("#777")));
        painter.setBrush(fill);
        painter.drawRoundedRect(handle, 5, 5);
    }
}

void QtRangeSlider::mousePressEvent(QMouseEvent *event)
{
    // Hit-tested against the handles as drawn, so a handle can be grabbed
    // wherever it is seen, at any widget height. Where the handles overlap the
    // lower one is taken.
    const QPoint pos = event->position().toPoint();
    m_lowerPressed = handleRect(m_lowerValue).contains(pos);
    m_upperPressed = !m_lowerPressed && handleRect(m_upperValue).contains(pos);
    event->accept();
}

void QtRangeSlider::mouseMoveEvent(QMouseEvent *event)
{
    m_cursor = event->position().toPoint();
    m_cursorInside = true;
    if (m_lowerPressed || m_upperPressed) {
        const int value = valueAt(m_cursor.x());
        if (m_lowerPressed)
            setLowerValue(value < m_upperValue ? value : m_upperValue - 1);
        else
            setUpperValue(value > m_lowerValue ? value : m_lowerValue + 1);
    }
    update();
    event->accept();
}

void QtRangeSlider::mouseReleaseEvent(QMouseEvent *event)
{
    m_lowerPressed = false;
    m_upperPressed = false;
    event->accept();
}

void QtRangeSlider::leaveEvent(QEvent *event)
{
    m_cursorInside = false;
    update();
    QSlider::leaveEvent(event);
}
