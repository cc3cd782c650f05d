#pragma once

#include <QDialog>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class QHBoxLayout;
class QLabel;
class QListView;
class QModelIndex;
class QPushButton;
class QStackedWidget;
class QStandardItemModel;
class QVBoxLayout;
class QWidget;

// The full-screen dialog of a capture round: the pairing code until the phone
// is ready, then for each lesion its marked clinical image and crop, the pairs
// (clinical beside dermatoscopic) received so far with retakes, and a review
// page at the end. The server client drives it through its three public
// slots and runs it modally; closing it ends the round.
class QtManualDermatoscopicDialog : public QDialog
{
    Q_OBJECT

public:
    QtManualDermatoscopicDialog(QString baseUrl, QString syncId, std::unordered_map<QString, QImage> images,
                                std::shared_ptr<std::unordered_map<QString, QImage>> received,
                                std::vector<QString> names, int nImg);

    struct Ui
    {
        QVBoxLayout *verticalLayout_4 = nullptr;
        QVBoxLayout *titleLayout = nullptr;
        QStackedWidget *stackedWidgetMDdialog = nullptr;
        QWidget *page = nullptr;
        QWidget *widgetQRcode = nullptr;
        QPushButton *labelQRcodeButton = nullptr;
        QLabel *labelQRcode = nullptr;
        QWidget *widgetLateral = nullptr;
        QListView *listViewDermDialog = nullptr;
        QPushButton *retakeImage = nullptr;
        QLabel *labelPREV = nullptr;
        QLabel *lastManual = nullptr;
        QLabel *labelNEXT = nullptr;
        QLabel *comptadorDermatos = nullptr;
        QLabel *labelAmpliacioGeneral = nullptr;
        QLabel *manualDialogLabel = nullptr;
        QWidget *page_2 = nullptr;
        QListView *listViewEnd = nullptr;
        QWidget *page_3 = nullptr;
        QLabel *label = nullptr;
        QPushButton *backButton = nullptr;
        QLabel *lastManualEnd = nullptr;
        QLabel *label_2 = nullptr;
        QPushButton *retakeImage2 = nullptr;
        void setupUi(QDialog *dialog);
    } ui;

    QString getSelectedName() const { return selectedName; }
    QString getCurrentName() const { return currentName; }
    int getImageCount() const { return nImages; }
    bool isAllReceived() const { return allReceived; }
    bool isDoneMode() const { return doneMode; }
    QImage getQrImage() const { return qrImage; }
    QStandardItemModel *captureModel() const { return m_captureModel; }
    QStandardItemModel *endModel() const { return m_endModel; }
    // Whether the pairing code could be made for the pairing URL.
    bool hasPairingCode() const { return m_codeMade; }

public slots:
    void nextManualImage(QString actual);
    void previousManualImageDownloaded(QString actual);
    void errorDownloadingManualImage(QString name);
    // Escape asks like closing does.
    void reject() override;

signals:
    void retakeManualDermatoscopic(QString nom);

private slots:
    void on_retakeImage_clicked();
    void on_retakeImage2_clicked();
    void on_backButton_clicked();
    void on_labelQRcodeButton_clicked();
    void generalResize();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void showCurrentImage(const QString &name);
    void updateCounter();
    void updatePreview();
    void listClicked(const QModelIndex &index);
    void retakeCore(const QString &name);
    void recomputeAllReceived();
    bool confirmLeave();
    static void removeFirstItem(QStandardItemModel *model, const QString &text);

    std::unordered_map<QString, QImage> captureImages;
    std::shared_ptr<std::unordered_map<QString, QImage>> sharedReceived;
    std::unordered_map<QString, QImage> stackedPairs;
    std::unordered_map<QString, QImage> sidePairs;
    std::vector<QString> captureNames;
    QStandardItemModel *m_captureModel = nullptr;
    QStandardItemModel *m_endModel = nullptr;
    QString selectedName;
    QString currentName;
    std::set<std::string> announcedNames;
    // Names whose picture arrived and was not retaken since.
    std::set<QString> m_received;
    bool doneMode = false;
    bool allReceived = false;
    int nImages = 0;
    QImage qrImage;
    bool m_codeMade = false;
    // Set once leaving was confirmed (or needs no question), so that the
    // close that follows does not ask again.
    bool m_leaving = false;

    int listEndMaxWidth = 1600;
    int endIconSize = 500;
    int dermListIconSize = 200;
    int qrIconSize = 150;
    int qrLabelSize = 300;
    QSize mainImageSize{900, 600};
    QSize cropSize{600, 600};
    QSize pairSize{1200, 1200};
    QSize dermListMaximum{320, 1000};
};
