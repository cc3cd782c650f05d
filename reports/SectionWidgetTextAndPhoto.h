#pragma once

#include "reports/SectionWidget.h"

class QTextEdit;

// Section type "4": a text beside a photo. Not edited: the whole section is
// hidden and goes into the report as the template gives it.
class SectionWidgetTextAndPhoto : public SectionWidget
{
    Q_OBJECT

public:
    SectionWidgetTextAndPhoto(QJsonObject json, QWidget *parent);

    QString html() override;

    QTextEdit *textEdit = nullptr;
    QString photo;
};
