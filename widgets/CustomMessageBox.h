#pragma once

#include <QColor>
#include <QDialog>

class QLabel;
class QPushButton;

// The program's modal question and message box: a rounded dark panel with an
// accent border, a title row with a close button, the centred message and the
// buttons "OK" (default) and "Cancel". exec() returns Accepted for OK or
// Enter, Rejected for Cancel, the close button or Escape. Create one per use.
class CustomMessageBox : public QDialog
{
    Q_OBJECT

public:
    // Note the order: message first, title second.
    CustomMessageBox(const QString &message, const QString &title, QWidget *parent = nullptr);

    QPushButton *okButton() const { return ok; }
    QPushButton *cancelButton() const { return cancel; }

    QLabel *messageLabel = nullptr;
    QPushButton *closeButton = nullptr;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QPushButton *ok = nullptr;
    QPushButton *cancel = nullptr;
    QColor borderColor = QColor(255, 218, 195, 255);
    int borderWidth = 2;
};
