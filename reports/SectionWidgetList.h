#pragma once

#include "reports/SectionWidget.h"

#include <vector>

class QButtonGroup;
class QLineEdit;
class QPushButton;

// Section types "1" (several items may be ticked) and "3" (one item at most):
// one row per template item, a tick button and the item's editable text.
class SectionWidgetList : public SectionWidget
{
    Q_OBJECT

public:
    SectionWidgetList(QJsonObject json, QWidget *parent, bool exclusive);

    QString html() override;

    QButtonGroup *group = nullptr;
    std::vector<std::pair<QPushButton *, QLineEdit *>> rows;

private:
    bool m_exclusive = false;
};
