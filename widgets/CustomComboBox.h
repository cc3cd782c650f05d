#pragma once

#include <QComboBox>

// A session selector whose style sheet follows its popup: the rounded corners
// that touch the open popup are squared while it is shown. Several boxes can
// be joined into one row; the position says which piece this one is.
class CustomComboBox : public QComboBox
{
    Q_OBJECT

public:
    // 0: a stand-alone box; 2: a middle piece of a joined row; any other
    // value: the left end of a joined row.
    explicit CustomComboBox(int position);

    // The selector style sheets by their letter, 'A' to 'G'; empty for any other.
    static QString styleSheetById(char id);

    QString openStyleSheet;
    QString closedStyleSheet;

    void showPopup() override;
    void hidePopup() override;
};
