#include "widgets/CustomComboBox.h"

QString CustomComboBox::styleSheetById(char id)
{
    // The letters differ in which corners are square (those touching the open
    // popup or a joined neighbour) and whether the left border is drawn.
    switch (id) {
    case 'A':
        return QStringLiteral(
            "CustomComboBox { border: 1px solid rgb(255,218,195); border-radius: 18px; "
            "margin:0px;background-color: transparent;color: white;width: 100px;padding: 6px;}");
    case 'B':
        return QStringLiteral(
            "CustomComboBox { border: 1px solid rgb(255,218,195); border-radius: 18px; "
            "margin:0px;background-color: transparent;color: white;width: 100px;padding: 6px;"
            "border-bottom-left-radius:0px;border-bottom-right-radius:0px;}");
    case 'C':
        return QStringLiteral(
            "CustomComboBox { border: 1px solid rgb(255,218,195); border-radius: 18px; "
            "border-left:0px;margin:0px;background-color: transparent;color: white;width: "
            "100px;padding: 6px;border-bottom-left-radius:0px;border-top-left-radius:0px;}");
    case 'D':
        return QStringLiteral(
            "CustomComboBox { border: 1px solid rgb(255,218,195); border-radius: 18px; "
            "margin:0px;border-left:0px;background-color: transparent;color: white;width: "
            "100px;padding: 6px;border-bottom-left-radius:0px;border-bottom-right-radius:0px;"
            "border-top-left-radius:0px;}");
    case 'E':
        return QStringLiteral(
            "CustomComboBox { border: 1px solid rgb(255,218,195); border-radius: 18px; "
            "margin:0px;background-color: transparent;color: white;width: 100px;padding: 6px;"
            "border-bottom-right-radius:0px;border-top-right-radius:0px;}");
    case 'F':
        return QStringLiteral(
            "CustomComboBox { border: 1px solid rgb(255,218,195); border-radius: 18px; "
            "margin:0px;background-color: transparent;color: white;width: 100px;padding: 6px;"
            "border-bottom-left-radius:0px;border-bottom-right-radius:0px;"
            "border-top-right-radius:0px;}");
    case 'G':
        return QStringLiteral("CustomComboBox { border: 1px solid rgb(255,218,195); border-radius: 0px; "
                              "margin:0px;border-left:0px;background-color: transparent;color: white;width: "
                              "100px;padding: 6px;}");
    default:
        return QString();
    }
}

CustomComboBox::CustomComboBox(int position) : QComboBox(nullptr)
{
    if (position == 0) {
        closedStyleSheet = styleSheetById('A');
        openStyleSheet = styleSheetById('B');
    } else if (position == 2) {
        closedStyleSheet = styleSheetById('G');
        openStyleSheet = closedStyleSheet;
    } else {
        closedStyleSheet = styleSheetById('E');
        openStyleSheet = styleSheetById('F');
    }
    setStyleSheet(closedStyleSheet);
}

void CustomComboBox::showPopup()
{
    setStyleSheet(openStyleSheet);
    QComboBox::showPopup();
}

void CustomComboBox::hidePopup()
{
    setStyleSheet(closedStyleSheet);
    QComboBox::hidePopup();
}
