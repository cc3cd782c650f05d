#pragma once

#include "widgets/ui_QtNotificationWidget.h"

#include <QColor>
#include <QPoint>
#include <QWidget>

// The program's passive notification: a small dark rounded panel with an
// accent border that slides in at the bottom right of the primary screen's
// available area and shows one line of text. It closes at once from its close
// button, or fades out through closeWithAnimation(). It has no parent and
// deletes itself when closed by any path.
class QtNotificationWidget : public QWidget
{
    Q_OBJECT

public:
    explicit QtNotificationWidget(const QString &message);

    // Where the panel rests once it has slid in, and where it starts, for an
    // available screen area. The panel is 300 x 100 and rests 10 pixels inside
    // the right and bottom edges.
    static QPoint restingPosition(const QRect &availableGeometry);
    static QPoint startPosition(const QRect &availableGeometry);

    static constexpr int slideDurationMs = 500;
    static constexpr int fadeDurationMs = 500;

public slots:
    void closeWithAnimation();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Ui::QtNotificationWidgetClass ui;
    QColor borderColor = QColor(255, 218, 195, 255);
    int borderWidth = 3;
    bool fading = false;
};
