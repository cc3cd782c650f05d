#include "capture/QtManualDermatoscopicDialog.h"

#include "capture/PairingCode.h"
#include "capture/QtManualDialogItemDelegate.h"
#include "widgets/CustomMessageBox.h"
#include "widgets/CustomTitleBar.h"
#include "widgets/Trace.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLinearGradient>
#include <QListView>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>

using kelvaris::trace;

namespace {

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text = QString())
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setText(text);
    return label;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    return button;
}

QPixmap fitted(const QImage &image, const QSize &size)
{
    return QPixmap::fromImage(image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

} // namespace

void QtManualDermatoscopicDialog::Ui::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("QtManualDermatoscopicDialogClass"));
    dialog->resize(1967, 1079);
    verticalLayout_4 = new QVBoxLayout(dialog);
    verticalLayout_4->setObjectName(QStringLiteral("verticalLayout_4"));
    titleLayout = new QVBoxLayout();
    titleLayout->setObjectName(QStringLiteral("titleLayout"));
    verticalLayout_4->addLayout(titleLayout);
    stackedWidgetMDdialog = new QStackedWidget(dialog);
    stackedWidgetMDdialog->setObjectName(QStringLiteral("stackedWidgetMDdialog"));
    verticalLayout_4->addWidget(stackedWidgetMDdialog, 1);

    // Page 0: capture.
    page = new QWidget();
    page->setObjectName(QStringLiteral("page"));
    auto *pageLayout = new QHBoxLayout(page);
    widgetLateral = new QWidget(page);
    widgetLateral->setObjectName(QStringLiteral("widgetLateral"));
    auto *lateralLayout = new QVBoxLayout(widgetLateral);
    listViewDermDialog = new QListView(widgetLateral);
    listViewDermDialog->setObjectName(QStringLiteral("listViewDermDialog"));
    listViewDermDialog->setViewMode(QListView::IconMode);
    listViewDermDialog->setMinimumWidth(160);
    lateralLayout->addWidget(listViewDermDialog, 1);
    retakeImage = makeButton(widgetLateral, "retakeImage", QtManualDermatoscopicDialog::tr("RETAKE IMAGE"));
    lateralLayout->addWidget(retakeImage);
    labelPREV = makeLabel(widgetLateral, "labelPREV", QtManualDermatoscopicDialog::tr("PREVIOUS:"));
    lateralLayout->addWidget(labelPREV);
    lastManual = makeLabel(widgetLateral, "lastManual");
    lastManual->setMinimumWidth(250);
    lastManual->setAlignment(Qt::AlignCenter);
    lateralLayout->addWidget(lastManual);
    pageLayout->addWidget(widgetLateral);

    auto *centre = new QVBoxLayout();
    widgetQRcode = new QWidget(page);
    widgetQRcode->setObjectName(QStringLiteral("widgetQRcode"));
    widgetQRcode->setMinimumHeight(50);
    auto *qrLayout = new QHBoxLayout(widgetQRcode);
    labelQRcodeButton = makeButton(widgetQRcode, "labelQRcodeButton", QString());
    qrLayout->addWidget(labelQRcodeButton);
    labelQRcode = makeLabel(widgetQRcode, "labelQRcode");
    qrLayout->addWidget(labelQRcode);
    qrLayout->addStretch(1);
    centre->addWidget(widgetQRcode);
    labelNEXT = makeLabel(page, "labelNEXT", QtManualDermatoscopicDialog::tr("TAKE THIS IMAGE:"));
    centre->addWidget(labelNEXT);
    comptadorDermatos = makeLabel(page, "comptadorDermatos");
    centre->addWidget(comptadorDermatos);
    labelAmpliacioGeneral = makeLabel(page, "labelAmpliacioGeneral");
    labelAmpliacioGeneral->setMinimumSize(470, 470);
    labelAmpliacioGeneral->setAlignment(Qt::AlignCenter);
    centre->addWidget(labelAmpliacioGeneral, 1);
    pageLayout->addLayout(centre);
    manualDialogLabel = makeLabel(page, "manualDialogLabel");
    manualDialogLabel->setMinimumSize(950, 650);
    manualDialogLabel->setAlignment(Qt::AlignCenter);
    pageLayout->addWidget(manualDialogLabel, 1);
    stackedWidgetMDdialog->addWidget(page);

    // Page 1: every pair of the round.
    page_2 = new QWidget();
    page_2->setObjectName(QStringLiteral("page_2"));
    auto *endLayout = new QVBoxLayout(page_2);
    listViewEnd = new QListView(page_2);
    listViewEnd->setObjectName(QStringLiteral("listViewEnd"));
    endLayout->addWidget(listViewEnd);
    stackedWidgetMDdialog->addWidget(page_2);

    // Page 2: one pair under review.
    page_3 = new QWidget();
    page_3->setObjectName(QStringLiteral("page_3"));
    auto *reviewLayout = new QVBoxLayout(page_3);
    label = makeLabel(page_3, "label");
    label->setMinimumHeight(80);
    reviewLayout->addWidget(label);
    backButton = makeButton(page_3, "backButton", QtManualDermatoscopicDialog::tr("Back"));
    backButton->setIcon(QIcon(QStringLiteral(":/icon/arrow")));
    reviewLayout->addWidget(backButton, 0, Qt::AlignLeft);
    lastManualEnd = makeLabel(page_3, "lastManualEnd");
    lastManualEnd->setAlignment(Qt::AlignCenter);
    reviewLayout->addWidget(lastManualEnd, 1);
    label_2 = makeLabel(page_3, "label_2");
    label_2->setMinimumHeight(80);
    label_2->setAlignment(Qt::AlignCenter);
    label_2->setPixmap(QIcon(QStringLiteral(":/rsc/resource/camera.svg")).pixmap(QSize(80, 80)));
    reviewLayout->addWidget(label_2);
    retakeImage2 = makeButton(page_3, "retakeImage2", QtManualDermatoscopicDialog::tr("Retake Image"));
    reviewLayout->addWidget(retakeImage2, 0, Qt::AlignCenter);
    stackedWidgetMDdialog->addWidget(page_3);
}

QtManualDermatoscopicDialog::QtManualDermatoscopicDialog(
    QString baseUrl, QString syncId, std::unordered_map<QString, QImage> images,
    std::shared_ptr<std::unordered_map<QString, QImage>> received, std::vector<QString> names, int nImg)
    : QDialog(nullptr), captureImages(std::move(images)), sharedReceived(std::move(received)),
      captureNames(std::move(names))
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui.setupUi(this);
    setWindowTitle(tr("Manual Dermatoscopic Collection"));
    setWindowIcon(QIcon(QStringLiteral(":/rsc/appIcon")));
    ui.titleLayout->addWidget(new CustomTitleBar(tr("Add Manual Dermatoscopic"), this));
    setWindowState(Qt::WindowMaximized);
    if (!sharedReceived)
        sharedReceived = std::make_shared<std::unordered_map<QString, QImage>>();

    // Sizes follow the screen the user works on; without an active window
    // the primary screen decides.
    QRect area;
    if (const QWidget *active = QApplication::activeWindow())
        area = active->geometry();
    else if (const QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->geometry();
    if (area.width() > 3000 && area.height() > 2000) {
        listEndMaxWidth = 3000;
        endIconSize = 900;
        dermListIconSize = 400;
        qrIconSize = 180;
        qrLabelSize = 600;
        mainImageSize = QSize(1800, 1200);
        cropSize = QSize(1200, 1200);
        pairSize = QSize(2400, 2400);
        dermListMaximum = QSize(520, 2000);
    }
    nImages = nImg == -2 ? int(captureImages.size() / 2) : nImg;

    qrImage = pairingCodeImage(baseUrl + QStringLiteral("/external/sync/") + syncId, &m_codeMade);
    if (m_codeMade) {
        ui.manualDialogLabel->setPixmap(fitted(qrImage, QSize(qrLabelSize, qrLabelSize)));
    } else {
        ui.manualDialogLabel->setText(pairingCodeFailureText());
    }
    ui.labelQRcode->setPixmap(fitted(qrImage, QSize(qrIconSize, qrIconSize)));
    ui.labelQRcodeButton->setIcon(QIcon(QPixmap::fromImage(qrImage)));
    ui.labelQRcodeButton->setIconSize(QSize(qrIconSize, qrIconSize));
    for (QWidget *hidden :
         {static_cast<QWidget *>(ui.labelAmpliacioGeneral), static_cast<QWidget *>(ui.comptadorDermatos),
          static_cast<QWidget *>(ui.labelPREV), static_cast<QWidget *>(ui.lastManual),
          static_cast<QWidget *>(ui.labelQRcode), ui.widgetQRcode, static_cast<QWidget *>(ui.labelNEXT),
          ui.widgetLateral})
        hidden->hide();

    m_captureModel = new QStandardItemModel(this);
    m_endModel = new QStandardItemModel(this);
    ui.listViewDermDialog->setModel(m_captureModel);
    ui.listViewDermDialog->setItemDelegate(new QtManualDialogItemDelegate(ui.listViewDermDialog));
    ui.listViewDermDialog->setIconSize(QSize(dermListIconSize, dermListIconSize));
    ui.listViewDermDialog->setMaximumSize(dermListMaximum);
    // Wide enough for a whole pair picture, so none is cut at the side.
    ui.listViewDermDialog->setMinimumWidth(std::min(dermListIconSize + 30, dermListMaximum.width()));
    ui.listViewDermDialog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui.listViewDermDialog->setAcceptDrops(false);
    ui.listViewDermDialog->setDragEnabled(false);
    ui.listViewDermDialog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(ui.listViewDermDialog, &QListView::clicked, this, &QtManualDermatoscopicDialog::listClicked);
    ui.listViewEnd->setModel(m_endModel);
    ui.listViewEnd->setItemDelegate(new QtManualDialogItemDelegate(ui.listViewEnd));
    ui.listViewEnd->setViewMode(QListView::IconMode);
    ui.listViewEnd->setIconSize(QSize(endIconSize, endIconSize));
    ui.listViewEnd->setMaximumWidth(listEndMaxWidth);
    ui.listViewEnd->setAcceptDrops(false);
    ui.listViewEnd->setDragEnabled(false);
    ui.listViewEnd->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui.listViewEnd->setMovement(QListView::Static);
    connect(ui.listViewEnd, &QListView::clicked, this, &QtManualDermatoscopicDialog::listClicked);

    QLinearGradient gradient(0, 0, 0, 5000);
    gradient.setColorAt(0, Qt::white);
    gradient.setColorAt(1, QColor(224, 247, 255));
    QPalette palette = this->palette();
    palette.setBrush(QPalette::Window, gradient);
    setPalette(palette);
    setAutoFillBackground(true);
    ui.stackedWidgetMDdialog->setCurrentIndex(0);
    QMetaObject::connectSlotsByName(this);
}

void QtManualDermatoscopicDialog::showCurrentImage(const QString &name)
{
    ui.manualDialogLabel->show();
    const auto marked = captureImages.find(name);
    if (marked == captureImages.end()) {
        // No clinical picture of this lesion: its id, never another lesion's picture.
        ui.manualDialogLabel->setPixmap(QPixmap());
        ui.manualDialogLabel->setText(name);
        ui.labelAmpliacioGeneral->setPixmap(QPixmap());
        ui.labelAmpliacioGeneral->clear();
        return;
    }
    ui.manualDialogLabel->setPixmap(fitted(marked->second, mainImageSize));
    const auto crop = captureImages.find(name + QLatin1Char('a'));
    if (crop != captureImages.end())
        ui.labelAmpliacioGeneral->setPixmap(fitted(crop->second, cropSize));
    else
        ui.labelAmpliacioGeneral->clear();
}

void QtManualDermatoscopicDialog::updateCounter()
{
    ui.comptadorDermatos->setText(QString::number(announcedNames.size()) + QLatin1Char('/') +
                                  QString::number(nImages));
}

void QtManualDermatoscopicDialog::nextManualImage(QString actual)
{
    ui.labelNEXT->show();
    ui.labelAmpliacioGeneral->show();
    ui.comptadorDermatos->show();
    ui.widgetQRcode->show();
    trace(QStringLiteral("Next image manual: ") + actual);
    currentName = actual;
    if (actual == QLatin1String("done")) {
        ui.manualDialogLabel->hide();
        ui.comptadorDermatos->hide();
        ui.stackedWidgetMDdialog->setCurrentIndex(1);
        doneMode = true;
        updatePreview();
    } else {
        announcedNames.insert(actual.toStdString());
        showCurrentImage(actual);
        updateCounter();
    }
    recomputeAllReceived();
}

void QtManualDermatoscopicDialog::previousManualImageDownloaded(QString actual)
{
    trace(QStringLiteral("Ha arribat la imatge: ") + actual);
    const auto received = sharedReceived->find(actual);
    if (received != sharedReceived->end()) {
        m_received.insert(actual);
        if (ui.widgetLateral->isHidden()) {
            setMinimumSize(100, 100);
            if (!doneMode && !currentName.isEmpty())
                showCurrentImage(currentName);
            ui.widgetLateral->show();
        }
        const auto marked = captureImages.find(actual);
        if (marked != captureImages.end()) {
            const QImage &c = marked->second;
            const QImage &d = received->second;
            const QImage::Format format =
                d.format() == QImage::Format_Invalid ? QImage::Format_RGB32 : d.format();

            const int width = std::max(c.width(), d.width());
            const QImage cw = c.scaledToWidth(width, Qt::FastTransformation);
            const QImage dw = d.scaledToWidth(width, Qt::FastTransformation);
            QImage stacked(width, cw.height() + dw.height(), format);
            stacked.fill(Qt::white);
            {
                QPainter painter(&stacked);
                painter.drawImage(0, 0, cw);
                painter.drawImage(0, cw.height(), dw);
            }
            const int height = std::max(c.height(), d.height());
            const QImage ch = c.scaledToHeight(height, Qt::FastTransformation);
            const QImage dh = d.scaledToHeight(height, Qt::FastTransformation);
            QImage side(ch.width() + dh.width(), height, format);
            side.fill(Qt::white);
            {
                QPainter painter(&side);
                painter.drawImage(0, 0, ch);
                painter.drawImage(ch.width(), 0, dh);
            }
            selectedName = actual;
            stackedPairs[actual] = stacked;
            sidePairs[actual] = side.scaled(pairSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);

            // A picture that arrives again replaces its earlier entries.
            removeFirstItem(m_captureModel, actual);
            removeFirstItem(m_endModel, actual);
            const QIcon icon(QPixmap::fromImage(sidePairs[actual]));
            m_captureModel->appendRow(new QStandardItem(icon, actual));
            ui.listViewDermDialog->setCurrentIndex(m_captureModel->index(m_captureModel->rowCount() - 1, 0));
            m_endModel->appendRow(new QStandardItem(icon, actual));
            updatePreview();
        }
        showMaximized();
    }
    trace(QStringLiteral("Rows: ") + QString::number(m_endModel->rowCount()) +
          QStringLiteral(" announced: ") + QString::number(announcedNames.size()));
    recomputeAllReceived();
}

// Closing needs no question once the phone has finished and every picture it
// was asked for is in; a retake or a new announcement asks again.
void QtManualDermatoscopicDialog::recomputeAllReceived()
{
    bool all = currentName == QLatin1String("done");
    for (const std::string &name : announcedNames)
        if (!m_received.count(QString::fromStdString(name)))
            all = false;
    allReceived = all;
}

void QtManualDermatoscopicDialog::updatePreview()
{
    if (doneMode) {
        const auto pair = sidePairs.find(selectedName);
        if (pair != sidePairs.end())
            ui.lastManualEnd->setPixmap(fitted(pair->second, pairSize));
    } else {
        const auto pair = stackedPairs.find(selectedName);
        if (pair != stackedPairs.end())
            ui.lastManual->setPixmap(
                QPixmap::fromImage(pair->second.scaledToWidth(200, Qt::SmoothTransformation)));
    }
}

void QtManualDermatoscopicDialog::listClicked(const QModelIndex &index)
{
    const QString text = index.data(Qt::DisplayRole).toString();
    trace(text);
    if (text != selectedName && stackedPairs.count(text)) {
        selectedName = text;
        updatePreview();
    }
    if (doneMode)
        ui.stackedWidgetMDdialog->setCurrentIndex(2);
}

void QtManualDermatoscopicDialog::removeFirstItem(QStandardItemModel *model, const QString &text)
{
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->item(row)->text() == text) {
            trace(QStringLiteral("Row to remove: ") + QString::number(row));
            model->removeRow(row);
            return;
        }
    }
}

void QtManualDermatoscopicDialog::on_retakeImage_clicked()
{
    const QModelIndex current = ui.listViewDermDialog->currentIndex();
    if (!current.isValid())
        return; // nothing chosen: nothing to retake
    const QString name = current.data(Qt::DisplayRole).toString();
    trace(QStringLiteral("INDEX REFER: ") + QString::number(current.row()));
    trace(QStringLiteral("Element: ") + name + QStringLiteral(" parella actual ") + selectedName);
    m_captureModel->removeRow(current.row());
    removeFirstItem(m_endModel, name);
    retakeCore(name);
}

void QtManualDermatoscopicDialog::on_retakeImage2_clicked()
{
    const QModelIndex current = ui.listViewEnd->currentIndex();
    const QString name = current.isValid() ? current.data(Qt::DisplayRole).toString() : selectedName;
    if (name.isEmpty() || !stackedPairs.count(name))
        return;
    if (current.isValid())
        m_endModel->removeRow(current.row());
    else
        removeFirstItem(m_endModel, name);
    removeFirstItem(m_captureModel, name);
    retakeCore(name);
}

void QtManualDermatoscopicDialog::retakeCore(const QString &name)
{
    const auto position = [this](const QString &n) {
        return std::find(captureNames.begin(), captureNames.end(), n);
    };
    // The phone goes back to the retaken picture and announces the one it was
    // on again later.
    if (!doneMode && position(currentName) != captureNames.end() && position(name) < position(currentName))
        announcedNames.erase(currentName.toStdString());
    announcedNames.erase(name.toStdString());
    trace(QStringLiteral("RETAKE: ") + name + QLatin1Char(' ') + QString::number(announcedNames.size()));
    stackedPairs.erase(name);
    sidePairs.erase(name);
    sharedReceived->erase(name);
    m_received.erase(name);

    if (m_captureModel->rowCount() > 0) {
        const QModelIndex current = ui.listViewDermDialog->currentIndex();
        trace(QStringLiteral("index listViewDermDialog: ") + QString::number(current.row()));
        const QString text = current.data(Qt::DisplayRole).toString();
        if (stackedPairs.count(text))
            selectedName = text;
        else if (selectedName == name)
            selectedName = m_captureModel->item(0)->text();
        updatePreview();
        trace(QStringLiteral("New image selected: ") + selectedName);
    } else {
        selectedName.clear();
        ui.lastManual->clear();
        ui.widgetLateral->hide();
    }
    ui.manualDialogLabel->show();
    doneMode = false;
    ui.stackedWidgetMDdialog->setCurrentIndex(0);
    if (currentName == QLatin1String("done"))
        currentName.clear(); // the phone is no longer finished
    ui.comptadorDermatos->show();
    updateCounter();
    recomputeAllReceived();
    emit retakeManualDermatoscopic(name);
}

void QtManualDermatoscopicDialog::errorDownloadingManualImage(QString name)
{
    trace(QStringLiteral("Error downloading manual image: ") + name);
    ui.manualDialogLabel->show();
    doneMode = false;
    ui.stackedWidgetMDdialog->setCurrentIndex(0);
    QPointer<QtManualDermatoscopicDialog> self(this);
    auto *box =
        new CustomMessageBox(tr("The last image has not been succesfully uploaded, make sure your phone has "
                                "correct internet connection."),
                             tr("Connection error"));
    QPointer<CustomMessageBox> boxGuard(box);
    const int answer = box->exec();
    delete boxGuard.data();
    if (!self)
        return;
    if (answer == QDialog::Accepted) {
        emit retakeManualDermatoscopic(name);
        return;
    }
    m_leaving = true;
    QDialog::reject();
}

void QtManualDermatoscopicDialog::on_backButton_clicked()
{
    ui.stackedWidgetMDdialog->setCurrentIndex(1);
}

void QtManualDermatoscopicDialog::on_labelQRcodeButton_clicked()
{
    trace(QStringLiteral("Clicked"));
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("QRCodeDialog"));
    dialog.setWindowTitle(QStringLiteral("QR"));
    dialog.setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
    dialog.setStyleSheet(QStringLiteral("background-color: white;"));
    auto *layout = new QHBoxLayout(&dialog);
    auto *code = new QLabel(&dialog);
    code->setPixmap(QPixmap::fromImage(qrImage));
    layout->addWidget(code);
    dialog.exec();
}

void QtManualDermatoscopicDialog::generalResize()
{
    trace(QStringLiteral("General resize ") + QString::number(ui.lastManual->width()) + QLatin1Char('x') +
          QString::number(ui.lastManual->height()));
}

bool QtManualDermatoscopicDialog::confirmLeave()
{
    if (allReceived || m_leaving)
        return true;
    QPointer<QtManualDermatoscopicDialog> self(this);
    auto *box = new CustomMessageBox(tr("Are you sure you want to leave?"), tr("Close Confirmation"));
    QPointer<CustomMessageBox> boxGuard(box);
    const bool leave = box->exec() == QDialog::Accepted;
    delete boxGuard.data();
    return self && leave;
}

void QtManualDermatoscopicDialog::reject()
{
    if (!confirmLeave())
        return;
    m_leaving = true;
    QDialog::reject();
}

void QtManualDermatoscopicDialog::closeEvent(QCloseEvent *event)
{
    if (!confirmLeave()) {
        event->ignore();
        return;
    }
    m_leaving = true;
    QDialog::closeEvent(event);
}
