// The pairing code, the pairing dialog, the lesion selection and waiting
// dialogs and the capture round's dialog, without a server.

#include "server/SyncDriver.h"
#include "session/SessionTestSupport.h"

#include "capture/PairingCode.h"
#include "capture/QRDialog.h"
#include "capture/QtManualDermatoscopicDialog.h"
#include "capture/QtSelectLesionsDialog.h"
#include "capture/qtExternalManualDialog.h"
#include "session/LesionVisualizer.h"
#include "widgets/CustomTitleBar.h"

#include <QJsonArray>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QTest>

#include <qrcodegen.hpp>

namespace {

// Whether the image holds the library's own code of text, one module of
// white border around it, sampled at every module centre.
QString codeMismatch(const QImage &image, const QString &text)
{
    const qrcodegen::QrCode reference =
        qrcodegen::QrCode::encodeText(text.toUtf8().constData(), qrcodegen::QrCode::Ecc::LOW);
    const int n = reference.getSize();
    const double cell = double(std::min(image.width(), image.height())) / (n + 2);
    for (int y = -1; y <= n; ++y)
        for (int x = -1; x <= n; ++x) {
            const bool dark = x >= 0 && y >= 0 && x < n && y < n && reference.getModule(x, y);
            const QPoint centre(int((x + 1.5) * cell), int((y + 1.5) * cell));
            const bool painted = qGray(image.pixel(centre)) < 128;
            if (dark != painted)
                return QStringLiteral("module %1,%2 of %3").arg(x).arg(y).arg(n);
        }
    return {};
}

QJsonObject lesion(const QString &label, int number, const QStringList &dermatoscopic)
{
    QJsonObject object{{QStringLiteral("lesionLabel"), label}, {QStringLiteral("numericID"), number}};
    if (!dermatoscopic.isEmpty())
        object.insert(QStringLiteral("dermatoscopicIds"), QJsonArray::fromStringList(dermatoscopic));
    return object;
}

// Five lesions: Captured with an image, Follow up without and with one,
// Detected and Exeresis without.
QSharedPointer<SessionVisualizer> labelledSession()
{
    const QJsonObject document{
        {QStringLiteral("PositionNames"), QJsonArray{QStringLiteral("frontal"), QStringLiteral("right"),
                                                     QStringLiteral("back"), QStringLiteral("left")}},
        {QStringLiteral("Version"), 1},
        {QStringLiteral("Lesions"),
         QJsonObject{{QStringLiteral("0"),
                      QJsonArray{lesion(QStringLiteral("Captured"), 1, {QStringLiteral("20240101_1")}),
                                 lesion(QStringLiteral("Follow up"), 2, {}),
                                 lesion(QStringLiteral("Follow up"), 3, {QStringLiteral("20240101_3")}),
                                 lesion(QStringLiteral("Detected"), 4, {}),
                                 lesion(QStringLiteral("Exeresis"), 5, {})}}}}};
    return SessionTestSupport::makeSession(document);
}

QImage picture(const QSize &size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

} // namespace

class tst_CaptureDialogs : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();
    void pairingCodeMatchesTheLibrary_data();
    void pairingCodeMatchesTheLibrary();
    void overlongTextLeavesTheImageWhite();
    void pairingDialog();
    void pairingDialogLinks_data();
    void pairingDialogLinks();
    void selectionSentenceAndCount_data();
    void selectionSentenceAndCount();
    void selectionDialogEnds();
    void waitingDialogEnds();
    void manualDialogCountsHalfTheImages();
    void manualDialogShowsTheIdWithoutPicture();
    void manualDialogRetakeOfTheOnlyImage();
    void manualDialogAsksAfterARetake();
    void manualDialogEscapeAsks();
    void manualDialogReview();
};

void tst_CaptureDialogs::cleanupTestCase()
{
    qDeleteAll(QApplication::topLevelWidgets());
}

void tst_CaptureDialogs::pairingCodeMatchesTheLibrary_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("minimumModules");
    QTest::newRow("no sync session") << "https://demo.example/external/sync/-1" << 21;
    QTest::newRow("stand-in pairing URL")
        << "https://127.0.0.1:8443/external/sync/0123456789abcdef01234567" << 29;
    QTest::newRow("non-ASCII host") << QStringLiteral("https://cl\u00ednica.example/external/sync/42") << 21;
}

void tst_CaptureDialogs::pairingCodeMatchesTheLibrary()
{
    QFETCH(QString, text);
    QFETCH(int, minimumModules);
    bool ok = false;
    const QImage image = pairingCodeImage(text, &ok);
    QVERIFY(ok);
    QCOMPARE(image.size(), QSize(400, 400));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QVERIFY(qrcodegen::QrCode::encodeText(text.toUtf8().constData(), qrcodegen::QrCode::Ecc::LOW).getSize() >=
            minimumModules);
    const QString mismatch = codeMismatch(image, text);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    // Nothing is painted outside the code's border: the image edge stays white.
    QCOMPARE(image.pixel(0, 0), qRgb(255, 255, 255));
    QCOMPARE(image.pixel(399, 399), qRgb(255, 255, 255));
}

void tst_CaptureDialogs::overlongTextLeavesTheImageWhite()
{
    const QString text =
        QStringLiteral("https://demo.example/external/sync/") + QString(8000, QLatin1Char('x'));
    bool ok = true;
    const QImage image = pairingCodeImage(text, &ok);
    QVERIFY(!ok);
    QImage white(400, 400, QImage::Format_RGB32);
    white.fill(Qt::white);
    QCOMPARE(image, white);
    QVERIFY(!pairingCodeFailureText().isEmpty());
}

void tst_CaptureDialogs::pairingDialog()
{
    const QString url = QStringLiteral("https://127.0.0.1:8443");
    const QString text = url + QStringLiteral("/external/sync/abc123");
    QRDialog dialog(pairingCodeImage(text), url);
    QCOMPARE(dialog.objectName(), QStringLiteral("QRDialogClass"));
    for (const char *name :
         {"verticalLayout_2", "verticalLayout", "description", "frame", "horizontalLayout", "qrLabel"})
        QVERIFY2(dialog.findChild<QObject *>(QString::fromLatin1(name)), name);
    QVERIFY(dialog.findChild<CustomTitleBar *>());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("QR"));
    // The label shows the code of the URL with the id; the link has no id.
    const QString mismatch = codeMismatch(dialog.ui.qrLabel->pixmap().toImage(), text);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY(dialog.ui.description->text().contains(
        QStringLiteral("href=\"https://127.0.0.1:8443/external/sync/\"")));
    QVERIFY(!dialog.ui.description->text().contains(QStringLiteral("abc123")));
    dialog.show();
    dialog.grab().save(SessionTestSupport::screenshotPath(QStringLiteral("qr_dialog.png")));
}

void tst_CaptureDialogs::pairingDialogLinks_data()
{
    QTest::addColumn<QString>("serverUrl");
    QTest::addColumn<bool>("openable");
    QTest::newRow("https") << "https://clinic.example" << true;
    QTest::newRow("http") << "http://clinic.example" << true;
    QTest::newRow("file") << "file:///etc" << false;
    QTest::newRow("javascript") << "javascript:alert(1)//" << false;
    QTest::newRow("markup") << "https://x\"><a href=\"file:///etc/passwd\">y" << false;
}

void tst_CaptureDialogs::pairingDialogLinks()
{
    QFETCH(QString, serverUrl);
    QFETCH(bool, openable);
    const QString text = QRDialog::descriptionText(serverUrl);
    // The server URL cannot add markup: exactly one link, no file link.
    QCOMPARE(text.count(QStringLiteral("<a ")), 1);
    QVERIFY(!text.contains(QStringLiteral("href=\"file:///etc/passwd\"")));
    QCOMPARE(QRDialog::isOpenableLink(QUrl(serverUrl + QStringLiteral("/external/sync/"))), openable);
}

void tst_CaptureDialogs::selectionSentenceAndCount_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<bool>("onlyWithout");
    QTest::addColumn<QString>("bold");
    QTest::addColumn<int>("count");
    QTest::newRow("at start") << QStringList{QStringLiteral("Follow up")} << true << "Follow up" << 1;
    QTest::newRow("with images too") << QStringList{QStringLiteral("Follow up")} << false << "Follow up" << 2;
    QTest::newRow("two in list order") << QStringList{QStringLiteral("Follow up"), QStringLiteral("Captured")}
                                       << true << "Captured or Follow up" << 1;
    QTest::newRow("two, with images") << QStringList{QStringLiteral("Follow up"), QStringLiteral("Captured")}
                                      << false << "Captured or Follow up" << 3;
    QTest::newRow("three") << QStringList{QStringLiteral("Exeresis"), QStringLiteral("Detected"),
                                          QStringLiteral("Captured")}
                           << true << "Detected, Captured or Exeresis" << 2;
    QTest::newRow("none") << QStringList() << true << "" << 0;
}

void tst_CaptureDialogs::selectionSentenceAndCount()
{
    QFETCH(QStringList, clicks);
    QFETCH(bool, onlyWithout);
    QFETCH(QString, bold);
    QFETCH(int, count);
    QtSelectLesionsDialog dialog(LesionVisualizer::labelNames(), labelledSession());
    QCOMPARE(dialog.ui.widget->isHidden(), true);
    dialog.ui.listWidgetLabel->clearSelection();
    for (const QString &label : clicks)
        dialog.ui.listWidgetLabel->findItems(label, Qt::MatchExactly).front()->setSelected(true);
    if (!onlyWithout)
        dialog.ui.switchButtonHaveDermatos->click();
    const QString text = dialog.ui.informacioLabel->text();
    QVERIFY2(text.contains(QStringLiteral("marked as <b>") + bold + QStringLiteral("</b>")),
             qPrintable(text));
    QCOMPARE(text.contains(QStringLiteral("without dermatoscopic image.")), onlyWithout);
    QVERIFY2(text.contains(QStringLiteral("Number of lesions selected: <b>%1</b>").arg(count)),
             qPrintable(text));
    QCOMPARE(dialog.onlyWithoutDermatoscopic(), onlyWithout);
}

void tst_CaptureDialogs::selectionDialogEnds()
{
    QtSelectLesionsDialog dialog(LesionVisualizer::labelNames(), labelledSession());
    QCOMPARE(dialog.selectedLabels(), QStringList{QStringLiteral("Follow up")});
    dialog.ui.advancedButton->click();
    QVERIFY(!dialog.ui.widget->isHidden());
    dialog.ui.allLabelsButton->click();
    QCOMPARE(dialog.selectedLabels(), LesionVisualizer::labelNames());

    QTimer::singleShot(0, &dialog, [&] { dialog.findChild<CustomTitleBar *>()->closeButton->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QTimer::singleShot(0, &dialog, [&] { dialog.ui.startButton->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
}

void tst_CaptureDialogs::waitingDialogEnds()
{
    qtExternalManualDialog dialog;
    QCOMPARE(dialog.ui.label->text(), QStringLiteral("Waiting for image"));
    QCOMPARE(dialog.ui.externalManualCancelButton->objectName(),
             QStringLiteral("externalManualCancelButton"));
    QTimer::singleShot(0, &dialog, [&] { dialog.ui.externalManualCancelButton->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QTimer::singleShot(0, &dialog, &QDialog::accept);
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
}

void tst_CaptureDialogs::manualDialogCountsHalfTheImages()
{
    std::unordered_map<QString, QImage> images{{QStringLiteral("0_1"), picture({900, 600}, Qt::red)},
                                               {QStringLiteral("0_1a"), picture({600, 600}, Qt::red)},
                                               {QStringLiteral("0_2"), picture({900, 600}, Qt::blue)},
                                               {QStringLiteral("0_2a"), picture({600, 600}, Qt::blue)}};
    QtManualDermatoscopicDialog dialog(QStringLiteral("https://127.0.0.1:8443"), QStringLiteral("feed01"),
                                       images, nullptr, {QStringLiteral("0_1"), QStringLiteral("0_2")}, -2);
    QCOMPARE(dialog.objectName(), QStringLiteral("QtManualDermatoscopicDialogClass"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Manual Dermatoscopic Collection"));
    // Waiting for the phone: the pairing code of the URL with the id.
    const QString mismatch =
        codeMismatch(dialog.getQrImage(), QStringLiteral("https://127.0.0.1:8443/external/sync/feed01"));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY(dialog.ui.widgetLateral->isHidden());
    QVERIFY(dialog.ui.labelPREV->isHidden());
    dialog.resize(1600, 900);
    dialog.show();
    dialog.grab().save(SessionTestSupport::screenshotPath(QStringLiteral("manual_dialog_pairing.png")));

    dialog.nextManualImage(QStringLiteral("0_1"));
    QCOMPARE(dialog.ui.comptadorDermatos->text(), QStringLiteral("1/2"));
    dialog.hide();
}

void tst_CaptureDialogs::manualDialogShowsTheIdWithoutPicture()
{
    std::unordered_map<QString, QImage> images{{QStringLiteral("0_1"), picture({900, 600}, Qt::red)}};
    QtManualDermatoscopicDialog dialog(QStringLiteral("https://h"), QStringLiteral("1"), images, nullptr,
                                       {QStringLiteral("0_1"), QStringLiteral("0_9")}, 2);
    dialog.nextManualImage(QStringLiteral("0_1"));
    QVERIFY(!dialog.ui.manualDialogLabel->pixmap().isNull());
    dialog.nextManualImage(QStringLiteral("0_9"));
    // Never the previous lesion's picture.
    QVERIFY(dialog.ui.manualDialogLabel->pixmap().isNull());
    QCOMPARE(dialog.ui.manualDialogLabel->text(), QStringLiteral("0_9"));
    QCOMPARE(dialog.ui.comptadorDermatos->text(), QStringLiteral("2/2"));
}

void tst_CaptureDialogs::manualDialogRetakeOfTheOnlyImage()
{
    std::unordered_map<QString, QImage> images{{QStringLiteral("0_1"), picture({900, 600}, Qt::red)},
                                               {QStringLiteral("0_2"), picture({900, 600}, Qt::blue)}};
    auto received = std::make_shared<std::unordered_map<QString, QImage>>();
    QtManualDermatoscopicDialog dialog(QStringLiteral("https://h"), QStringLiteral("1"), images, received,
                                       {QStringLiteral("0_1"), QStringLiteral("0_2")}, 2);
    QSignalSpy retakes(&dialog, &QtManualDermatoscopicDialog::retakeManualDermatoscopic);
    dialog.nextManualImage(QStringLiteral("0_1"));
    (*received)[QStringLiteral("0_1")] = picture({800, 600}, Qt::green);
    dialog.previousManualImageDownloaded(QStringLiteral("0_1"));
    dialog.nextManualImage(QStringLiteral("0_2"));
    QCOMPARE(dialog.captureModel()->rowCount(), 1);
    QCOMPARE(dialog.endModel()->rowCount(), 1);
    QVERIFY(!dialog.ui.widgetLateral->isHidden());
    QCOMPARE(dialog.ui.comptadorDermatos->text(), QStringLiteral("2/2"));

    dialog.ui.retakeImage->click();
    QCOMPARE(dialog.captureModel()->rowCount(), 0);
    QCOMPARE(dialog.endModel()->rowCount(), 0);
    QVERIFY(dialog.ui.widgetLateral->isHidden());
    // The phone was on the second: both go back to unannounced.
    QCOMPARE(dialog.ui.comptadorDermatos->text(), QStringLiteral("0/2"));
    QCOMPARE(retakes.count(), 1);
    QCOMPARE(retakes.at(0).at(0).toString(), QStringLiteral("0_1"));
    QVERIFY(!received->count(QStringLiteral("0_1")));
}

void tst_CaptureDialogs::manualDialogAsksAfterARetake()
{
    std::unordered_map<QString, QImage> images{{QStringLiteral("0_1"), picture({900, 600}, Qt::red)}};
    auto received = std::make_shared<std::unordered_map<QString, QImage>>();
    QtManualDermatoscopicDialog dialog(QStringLiteral("https://h"), QStringLiteral("1"), images, received,
                                       {QStringLiteral("0_1")}, 1);
    dialog.nextManualImage(QStringLiteral("0_1"));
    (*received)[QStringLiteral("0_1")] = picture({800, 600}, Qt::green);
    dialog.previousManualImageDownloaded(QStringLiteral("0_1"));
    dialog.nextManualImage(QStringLiteral("done"));
    QVERIFY(dialog.isAllReceived());
    QCOMPARE(dialog.ui.stackedWidgetMDdialog->currentIndex(), 1);

    dialog.ui.listViewEnd->setCurrentIndex(dialog.endModel()->index(0, 0));
    dialog.ui.retakeImage2->click();
    QVERIFY(!dialog.isAllReceived());
    QCOMPARE(dialog.ui.stackedWidgetMDdialog->currentIndex(), 0);

    // Closing now asks; refusing keeps the dialog open.
    dialog.show();
    bool asked = false;
    SyncDriver driver(5000);
    driver.when([] { return SyncDriver::messageBox(QStringLiteral("Close Confirmation")) != nullptr; },
                [&] {
                    asked = true;
                    SyncDriver::messageBox(QStringLiteral("Close Confirmation"))->cancelButton()->click();
                });
    driver.start();
    dialog.close();
    QVERIFY(asked);
    QVERIFY(dialog.isVisible());
    dialog.hide();
}

void tst_CaptureDialogs::manualDialogEscapeAsks()
{
    QtManualDermatoscopicDialog dialog(QStringLiteral("https://h"), QStringLiteral("1"), {}, nullptr,
                                       {QStringLiteral("0_1")}, 1);
    dialog.nextManualImage(QStringLiteral("0_1"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    int asked = 0;
    SyncDriver driver(5000);
    driver
        .when([] { return SyncDriver::messageBox(QStringLiteral("Close Confirmation")) != nullptr; },
              [&] {
                  ++asked;
                  SyncDriver::messageBox(QStringLiteral("Close Confirmation"))->cancelButton()->click();
              })
        .when([] { return SyncDriver::messageBox(QStringLiteral("Close Confirmation")) != nullptr; },
              [&] {
                  ++asked;
                  SyncDriver::messageBox(QStringLiteral("Close Confirmation"))->okButton()->click();
              });
    driver.start();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(asked, 1);
    QVERIFY(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(asked, 2);
    QVERIFY(!dialog.isVisible());
}

void tst_CaptureDialogs::manualDialogReview()
{
    std::unordered_map<QString, QImage> images{{QStringLiteral("0_1"), picture({900, 600}, Qt::red)},
                                               {QStringLiteral("0_2"), picture({900, 600}, Qt::blue)}};
    auto received = std::make_shared<std::unordered_map<QString, QImage>>();
    QtManualDermatoscopicDialog dialog(QStringLiteral("https://h"), QStringLiteral("1"), images, received,
                                       {QStringLiteral("0_1"), QStringLiteral("0_2")}, 2);
    for (const QString &name : {QStringLiteral("0_1"), QStringLiteral("0_2")}) {
        dialog.nextManualImage(name);
        (*received)[name] = picture({800, 600}, Qt::green);
        dialog.previousManualImageDownloaded(name);
    }
    // In capture mode a click only selects.
    QTest::mouseClick(dialog.ui.listViewDermDialog->viewport(), Qt::LeftButton, {},
                      dialog.ui.listViewDermDialog->visualRect(dialog.captureModel()->index(0, 0)).center());
    QCOMPARE(dialog.getSelectedName(), QStringLiteral("0_1"));
    QCOMPARE(dialog.ui.stackedWidgetMDdialog->currentIndex(), 0);

    dialog.nextManualImage(QStringLiteral("done"));
    dialog.resize(1600, 900);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QModelIndex second = dialog.endModel()->index(1, 0);
    QTest::mouseClick(dialog.ui.listViewEnd->viewport(), Qt::LeftButton, {},
                      dialog.ui.listViewEnd->visualRect(second).center());
    QCOMPARE(dialog.ui.stackedWidgetMDdialog->currentIndex(), 2);
    QCOMPARE(dialog.getSelectedName(), QStringLiteral("0_2"));
    QVERIFY(!dialog.ui.lastManualEnd->pixmap().isNull());
    dialog.grab().save(SessionTestSupport::screenshotPath(QStringLiteral("manual_dialog_review.png")));
    dialog.ui.backButton->click();
    QCOMPARE(dialog.ui.stackedWidgetMDdialog->currentIndex(), 1);
    dialog.hide();
}

QTEST_MAIN(tst_CaptureDialogs)
#include "tst_capturedialogs.moc"
