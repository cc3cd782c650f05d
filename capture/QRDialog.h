#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <QUrl>

class QFrame;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;

// The pairing dialog: how a phone joins (the pairing page of the server)
// and the code to scan. Shown modally with exec().
class QRDialog : public QDialog
{
    Q_OBJECT

public:
    QRDialog(QImage image, QString serverUrl);

    // The description text for a server URL (escaped into the rich text).
    static QString descriptionText(const QString &serverUrl);
    // Only web addresses are opened from the description.
    static bool isOpenableLink(const QUrl &url);

    struct Ui
    {
        QVBoxLayout *verticalLayout_2 = nullptr;
        QVBoxLayout *verticalLayout = nullptr;
        QLabel *description = nullptr;
        QFrame *frame = nullptr;
        QHBoxLayout *horizontalLayout = nullptr;
        QLabel *qrLabel = nullptr;
        void setupUi(QDialog *dialog);
    } ui;
};
