#pragma once

#include <QPushButton>

// A push button that reports double clicks. doubleClicked() is emitted before
// the base class turns the double click into a press, so receivers run before
// a checkable button toggles again.
class DoubleClickButton : public QPushButton
{
    Q_OBJECT

public:
    explicit DoubleClickButton(QWidget *parent = nullptr);
    DoubleClickButton(const QIcon &icon, const QString &text, QWidget *parent = nullptr);

    // The full caption, kept so that a container that hides captions when it
    // gets narrow can restore them.
    QString fullText;

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
