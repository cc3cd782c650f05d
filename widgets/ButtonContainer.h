#pragma once

#include <QList>
#include <QWidget>

class DoubleClickButton;
class QHBoxLayout;

// A row of buttons that drops all captions at once when a button's share of
// the width falls below 110 pixels, and restores them when it grows again.
// The owner appends to both buttons and layout.
class ButtonContainer : public QWidget
{
    Q_OBJECT

public:
    ButtonContainer();

    // The narrowest share of the row at which captions are still shown.
    static constexpr int minimumCaptionWidth = 110;

    QList<DoubleClickButton *> buttons;
    QHBoxLayout *layout = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;
};
