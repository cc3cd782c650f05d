#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The title row of a frameless window: application icon, title and the window
// buttons. The buttons act directly on the window that holds the bar. Dialogs
// get only a close button; plain windows also get minimise and maximise.
// The bar drags its window with the left mouse button and toggles maximised
// on a double click.
class CustomTitleBar : public QWidget
{
    Q_OBJECT

public:
    // parent must already carry its final window flags: they decide which
    // buttons the bar gets.
    explicit CustomTitleBar(const QString &title, QWidget *parent = nullptr);

    QLabel *iconLabel = nullptr;
    QLabel *titleLabel = nullptr;
    QPushButton *minimizeButton = nullptr;
    QPushButton *maximizeButton = nullptr;
    QPushButton *closeButton = nullptr;

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void toggleMaximized();
};
