#pragma once

#include <QColor>
#include <QDialog>

class QLabel;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;

// "Waiting for image": shown by a session while a single picture request
// runs. Its owner closes it (accepted); Cancel rejects it.
class qtExternalManualDialog : public QDialog
{
    Q_OBJECT

public:
    explicit qtExternalManualDialog(QWidget *parent = nullptr);

    struct Ui
    {
        QVBoxLayout *verticalLayout = nullptr;
        QLabel *label_2 = nullptr;
        QLabel *label = nullptr;
        QPushButton *externalManualCancelButton = nullptr;
        void setupUi(QDialog *dialog);
    } ui;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_accentColor = QColor(255, 218, 195);
    int m_borderWidth = 3;
};
