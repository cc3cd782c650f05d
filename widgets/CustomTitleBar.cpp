#include "widgets/CustomTitleBar.h"

#include "widgets/IconHelpers.h"
#include "widgets/WindowDragger.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace {

QPushButton *makeWindowButton(const QString &iconPath, const QString &objectName, QWidget *parent)
{
    auto *button = new QPushButton(QString(), parent);
    button->setIcon(svgToIcon(recolorSvg(iconPath, Qt::white), QSize(16, 16)));
    button->setIconSize(QSize(16, 16));
    button->setFixedSize(32, 32);
    button->setObjectName(objectName);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

CustomTitleBar::CustomTitleBar(const QString &title, QWidget *parent) : QWidget(parent)
{
    // Lets the application style sheet give the bar a background.
    setAttribute(Qt::WA_StyledBackground, true);

    iconLabel = new QLabel(this);
    iconLabel->setPixmap(QPixmap(QStringLiteral(":/icon/AppIconSVG"))
                             .scaled(QSize(16, 16), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("titleLabelBar"));
    titleLabel->setTextFormat(Qt::PlainText);

    closeButton = makeWindowButton(QStringLiteral(":/icon/closeWindow"), QStringLiteral("closeButton"), this);
    connect(closeButton, &QPushButton::clicked, this, [this] { window()->close(); });

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(iconLabel);
    layout->addWidget(titleLabel);
    layout->addStretch();

    auto *holder = new QWidget(this);
    auto *holderLayout = new QHBoxLayout(holder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    holderLayout->setSpacing(0);

    // Qt::Dialog is two bits; tool windows and splash screens include both and
    // so count as dialogs, plain windows and popups do not.
    const QWidget *top = window();
    if (top && (top->windowFlags() & Qt::Dialog) != Qt::Dialog) {
        minimizeButton =
            makeWindowButton(QStringLiteral(":/icon/minimizeWindow"), QStringLiteral("minimizeButton"), this);
        connect(minimizeButton, &QPushButton::clicked, this, [this] { window()->showMinimized(); });
        maximizeButton =
            makeWindowButton(QStringLiteral(":/icon/maximizeWindow"), QStringLiteral("maximizeButton"), this);
        connect(maximizeButton, &QPushButton::clicked, this, &CustomTitleBar::toggleMaximized);
        holderLayout->addWidget(minimizeButton);
        holderLayout->addWidget(maximizeButton);
    }
    holderLayout->addWidget(closeButton);
    layout->addWidget(holder);
    layout->setSpacing(10);
    layout->setContentsMargins(10, 0, 0, 0);
    WindowDragger::install(this);
}

void CustomTitleBar::toggleMaximized()
{
    QWidget *top = window();
    if (top->isMaximized())
        top->showNormal();
    else
        top->showMaximized();
}

void CustomTitleBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    // Not passed on: the base class would treat it as a press.
    toggleMaximized();
    event->accept();
}
