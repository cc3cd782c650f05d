#pragma once

#include "reports/SectionWidget.h"

class QTextEdit;

// Section type "0": free text, edited in place.
class SectionWidgetText : public SectionWidget
{
    Q_OBJECT

public:
    SectionWidgetText(QJsonObject json, QWidget *parent);

    QString html() override;

    QTextEdit *textEdit = nullptr;
};
