#include "widgets/QtNotificationWidget.h"
#include "widgets/PanelPainter.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>

namespace {
constexpr int kWidth = 300;
constexpr int kHeight = 100;
constexpr int kEdgeGap = 10;
} // namespace

QPoint QtNotificationWidget::startPosition(const QRect &availableGeometry)
{
    // Just outside the right edge, so the slide-in brings it into view.
    return QPoint(availableGeometry.x() + availableGeometry.width() - kEdgeGap,
                  availableGeometry.y() + availableGeometry.height() - kHeight - kEdgeGap);
}

QPoint QtNotificationWidget::restingPosition(const QRect &availableGeometry)
{
    return startPosition(availableGeometry) - QPoint(kWidth, 0);
}

QtNotificationWidget::QtNotificationWidget(const QString &message)
    : QWidget(nullptr, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // A notification still on screen must not keep the program running once
    // its main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_TranslucentBackground);

    ui.closeButton->setIcon(QIcon(QStringLiteral(":/icon/closeMessage")));
    ui.closeButton->setIconSize(QSize(24, 24));
    ui.closeButton->setStyleSheet(QStringLiteral(
        "QPushButton {border: none; }QPushButton:hover {background-color:none;border: none; }"));
    ui.closeButton->setFixedSize(24, 24);
    ui.closeButton->setFocusPolicy(Qt::NoFocus);
    connect(ui.closeButton, &QPushButton::clicked, this, &QWidget::close);

    ui.messageLabel->setTextFormat(Qt::PlainText);
    ui.messageLabel->setText(message);
    ui.messageLabel->setAlignment(Qt::AlignCenter);
    // The panel has a fixed size: a longer message takes more lines, beside
    // the close button as well as below it.
    ui.messageLabel->setWordWrap(true);
    ui.gridLayout->addWidget(ui.messageLabel, 0, 0, 2, 1);
    ui.messageLabel->setStyleSheet(QStringLiteral("color: white; font-size:14px; padding-left:24px;"));

    setFixedSize(kWidth, kHeight);

    // Placed within the available area (which need not start at 0, 0 when a
    // task bar sits at the top or left), so the panel is always on screen.
    QRect available(0, 0, 1920, 1080);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        available = screen->availableGeometry();
    const QPoint start = startPosition(available);
    move(start);

    // Owned by the panel, so a panel closed mid-slide takes its animation along.
    auto *slide = new QPropertyAnimation(this, "pos", this);
    slide->setDuration(slideDurationMs);
    slide->setStartValue(start);
    slide->setEndValue(restingPosition(available));
    slide->setEasingCurve(QEasingCurve::InOutQuad);
    slide->start(QAbstractAnimation::DeleteWhenStopped);
}

void QtNotificationWidget::closeWithAnimation()
{
    if (fading)
        return;
    fading = true;
    auto *effect = new QGraphicsOpacityEffect(this);
    setGraphicsEffect(effect);
    auto *fade = new QPropertyAnimation(effect, "opacity", this);
    fade->setDuration(fadeDurationMs);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    fade->setEasingCurve(QEasingCurve::InOutQuad);
    connect(fade, &QPropertyAnimation::finished, this, &QWidget::close);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void QtNotificationWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintRoundedPanel(painter, rect(), borderWidth, borderColor);
}
