#include "widgets/QToolButtonAction.h"

#include <QToolButton>

QToolButtonAction::QToolButtonAction(QObject *parent) : QWidgetAction(parent) {}

void QToolButtonAction::setIconSize(QSize size)
{
    if (templateButton)
        templateButton->setIconSize(size);
    if (auto *toolButton = qobject_cast<QToolButton *>(defaultWidget()))
        toolButton->setIconSize(size);
    emit changeIconSize(size);
}

QWidget *QToolButtonAction::createWidget(QWidget *parent)
{
    QToolButton *source = templateButton;
    if (!isVisible() || !source)
        return nullptr;

    auto *button = new QToolButton(parent);
    button->setIcon(source->icon());
    button->setIconSize(source->iconSize());
    button->setObjectName(source->objectName());
    button->setToolTip(source->toolTip());
    button->setAccessibleName(source->accessibleName());
    button->setCheckable(source->isCheckable());
    if (source->isCheckable())
        button->setChecked(source->isChecked());

    connect(button, &QToolButton::clicked, source, &QToolButton::click);
    connect(source, &QToolButton::clicked, button, &QToolButton::setChecked);
    connect(source, &QToolButton::toggled, button, &QToolButton::setChecked);
    connect(this, &QToolButtonAction::changeIconSize, button, [button](QSize size) {
        button->setIconSize(size);
        button->updateGeometry();
        button->update();
    });
    return button;
}
