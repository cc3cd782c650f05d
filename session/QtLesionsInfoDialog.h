#pragma once

#include <QDialog>

class QGridLayout;
class QLabel;

// Help on editing lesions: how to mark a new spot and how to add a
// dermatoscopic image. Shown modally by the session's information button.
class QtLesionsInfoDialog : public QDialog
{
    Q_OBJECT

public:
    explicit QtLesionsInfoDialog(QWidget *parent = nullptr);

private:
    void setupUi();
    QLabel *stepLabel(const QString &number);
    QLabel *iconLabel(const QString &path);

    QGridLayout *m_grid = nullptr;
};
