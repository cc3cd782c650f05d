#pragma once

#include <QDialog>
#include <QSharedPointer>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;
class QHBoxLayout;
class QVBoxLayout;
class QWidget;
class SessionVisualizer;

// "Synchronization options": which lesions of the principal session a
// capture round takes (by label, and only those without a dermatoscopic
// image when the switch is on), with the resulting count.
class QtSelectLesionsDialog : public QDialog
{
    Q_OBJECT

public:
    QtSelectLesionsDialog(QStringList labels, QSharedPointer<SessionVisualizer> session);

    // The selected labels in list order.
    QStringList selectedLabels() const;
    // True when only lesions without a dermatoscopic image are taken.
    bool onlyWithoutDermatoscopic() const;
    // "a", "a or b", "a, b or c".
    static QString joinLabels(const QStringList &labels);

    struct Ui
    {
        QVBoxLayout *verticalLayout = nullptr;
        QVBoxLayout *titleBarLayout = nullptr;
        QLabel *informacioLabel = nullptr;
        QHBoxLayout *switchLayout = nullptr;
        QPushButton *switchButtonHaveDermatos = nullptr;
        QLabel *label_switch = nullptr;
        QPushButton *advancedButton = nullptr;
        QWidget *widget = nullptr;
        QLabel *label_SBL = nullptr;
        QPushButton *allLabelsButton = nullptr;
        QListWidget *listWidgetLabel = nullptr;
        QPushButton *startButton = nullptr;
        void setupUi(QDialog *dialog);
    } ui;

private slots:
    void on_advancedButton_clicked();

private:
    void refreshSummary();

    QSharedPointer<SessionVisualizer> m_session;
};
