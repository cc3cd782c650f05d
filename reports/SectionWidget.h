#pragma once

#include <QJsonObject>
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

// One section of a report template in the editor: a header with the title
// and an on/off switch, and a content widget that subclasses fill. Only
// sections whose switch is on go into the report; html() gives the section's
// fragment (empty when it is off).
class SectionWidget : public QWidget
{
    Q_OBJECT

public:
    SectionWidget(QJsonObject json, QWidget *parent);

    virtual QString html();

    QString title() const;
    bool isSwitchedOn() const;

    QLabel *titleLabel = nullptr;
    QPushButton *switchButton = nullptr;

protected:
    QWidget *contentWidget = nullptr;
    QVBoxLayout *contentLayout = nullptr;
};
