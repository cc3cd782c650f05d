#pragma once

#include <QKeySequence>
#include <QString>

class QAbstractButton;
class QWidget;

// The main window's keys for doctors who work from the keyboard. Each key
// belongs to one button and only acts while that button is visible and
// enabled, as a click would; the key is shown in the button's tool tip.
class KeyboardShortcuts
{
public:
    struct Buttons
    {
        QAbstractButton *hybridView = nullptr;      // Ctrl+1
        QAbstractButton *dermoscopicView = nullptr; // Ctrl+2
        QAbstractButton *clinicalView = nullptr;    // Ctrl+3
        QAbstractButton *backToMenu = nullptr;      // Alt+Left
        QAbstractButton *search = nullptr;          // Ctrl+F
    };

    static void install(const Buttons &buttons);
    // Gives every button of the window without one an accessible name: its
    // tool tip without the key, else its text.
    static void nameButtons(QWidget *window);

    static QString toolTipWithShortcut(const QString &toolTip, const QKeySequence &key);
};
