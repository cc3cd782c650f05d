#pragma once

#include <QPointer>
#include <QSize>
#include <QWidgetAction>

class QToolButton;

// Puts a template tool button into every tool bar or menu that shows the
// action. Copies click the template, mirror its checked state and follow
// icon size changes made through setIconSize().
class QToolButtonAction : public QWidgetAction
{
    Q_OBJECT

public:
    explicit QToolButtonAction(QObject *parent = nullptr);

    // Set by the creator right after construction, and made the default widget.
    QPointer<QToolButton> templateButton;

    // Resizes the template's icon, the default widget's and every copy's.
    void setIconSize(QSize size);

signals:
    void changeIconSize(QSize size);

protected:
    QWidget *createWidget(QWidget *parent) override;
};
