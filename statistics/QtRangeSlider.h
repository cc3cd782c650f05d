#pragma once

#include <QPoint>
#include <QRect>
#include <QSlider>

// A horizontal slider with two handles that select the interval
// [lowerValue, upperValue] inside [minimum, maximum]. The handles never cross:
// a dragged handle stops one step before the other, and the setters ignore
// values that would put the lower value above the upper one.
//
// The range is kept in QAbstractSlider's minimum() and maximum(); the single
// value of the base class is not used.
class QtRangeSlider : public QSlider
{
    Q_OBJECT

public:
    explicit QtRangeSlider(QWidget *parent = nullptr);

    int lowerValue() const { return m_lowerValue; }
    int upperValue() const { return m_upperValue; }

    QSize sizeHint() const override { return QSize(200, 30); }
    QSize minimumSizeHint() const override { return QSize(100, 20); }

    // The rectangle in which a handle showing value is drawn and can be grabbed.
    QRect handleRect(int value) const;

signals:
    void lowerValueChanged(int value);
    void upperValueChanged(int value);

public slots:
    void setLowerValue(int value);
    void setUpperValue(int value);
    // Stores the range and pulls both values inside it; emits no value signal.
    void setRange(int min, int max);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    // The band between the handles' extreme centres: 10 pixels in from either side.
    QRect trackRect() const;
    int handleCentre(int value) const;
    int valueAt(int x) const;

    int m_lowerValue = 0;
    int m_upperValue = 100;
    bool m_lowerPressed = false;
    bool m_upperPressed = false;
    QPoint m_cursor{-1, -1};
    bool m_cursorInside = false;
};
