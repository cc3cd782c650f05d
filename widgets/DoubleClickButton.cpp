#include "widgets/DoubleClickButton.h"

#include <QMouseEvent>

DoubleClickButton::DoubleClickButton(QWidget *parent) : QPushButton(parent) {}

DoubleClickButton::DoubleClickButton(const QIcon &icon, const QString &text, QWidget *parent)
    : QPushButton(icon, text, parent), fullText(text)
{
}

void DoubleClickButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
    QPushButton::mouseDoubleClickEvent(event);
}
