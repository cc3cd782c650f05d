#pragma once

#include <QPointer>
#include <QWidgetAction>

class DoubleClickButton;

// Puts a template button into every tool bar or menu that shows the action.
// The template itself is the default widget; every further container gets a
// copy that clicks the template and mirrors its checked state.
class QButtonAction : public QWidgetAction
{
    Q_OBJECT

public:
    explicit QButtonAction(QObject *parent = nullptr);

    // Set by the creator right after construction, and made the default widget.
    QPointer<DoubleClickButton> templateButton;

protected:
    QWidget *createWidget(QWidget *parent) override;
};
