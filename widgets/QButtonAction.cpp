#include "widgets/QButtonAction.h"

#include "widgets/DoubleClickButton.h"

QButtonAction::QButtonAction(QObject *parent) : QWidgetAction(parent) {}

QWidget *QButtonAction::createWidget(QWidget *parent)
{
    DoubleClickButton *source = templateButton;
    if (!source)
        return nullptr;

    auto *button = new DoubleClickButton(source->icon(), source->text(), parent);
    button->setCheckable(source->isCheckable());
    button->setIconSize(source->iconSize());
    if (source->isCheckable())
        button->setChecked(source->isChecked());
    button->setObjectName(source->objectName());

    connect(button, &QPushButton::clicked, source, &QPushButton::click);
    connect(button, &DoubleClickButton::doubleClicked, source, &DoubleClickButton::doubleClicked);
    // clicked(bool) too: in an exclusive group a click on the checked template
    // does not toggle it, and the copy must fall back to the template's state.
    connect(source, &QPushButton::clicked, button, &QPushButton::setChecked);
    connect(source, &QPushButton::toggled, button, &QPushButton::setChecked);
    return button;
}
