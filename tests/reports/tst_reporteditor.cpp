// The report editor and the reports flow against the stand-in server in
// process: both clinics' templates, the report list, upload and its failures.

#include "ReportTestSupport.h"
#include "server/StandIn.h"

#include "demo-server/DemoReports.h"
#include "demo-server/SampleData.h"
#include "reports/QtReportWidget.h"
#include "reports/ReportSchemeHandler.h"
#include "reports/ReportsFlow.h"
#include "reports/SectionWidget.h"
#include "reports/SectionWidgetStats.h"
#include "widgets/Trace.h"

#include <QApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSslConfiguration>
#include <QTest>
#include <QTextDocumentFragment>

namespace {

using ReportList = std::vector<std::pair<std::pair<QDate, QDate>, QUrl>>;

QStringList texts(const QList<QPushButton *> &buttons)
{
    QStringList result;
    for (QPushButton *button : buttons)
        result << button->text();
    return result;
}

QString applicationStyleSheet()
{
    QFile file(ReportTestSupport::sourceFile(QStringLiteral("resources/styleSheet.qss")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class tst_ReportEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void templatesOfBothClinics();
    void templateSectionsOfEachClinic_data();
    void templateSectionsOfEachClinic();
    void reportListOfPatient11();
    void onlyHttpLinksAreOpened_data();
    void onlyHttpLinksAreOpened();
    void aLinkNoBrowserOpensIsTold();
    void statisticsOfStandInSessions_data();
    void statisticsOfStandInSessions();
    void uploadedReportIsListedAndFetched();
    void twoQuickUploadsStoreTwoReports();
    void failedUploadsNeverShowSuccess_data();
    void failedUploadsNeverShowSuccess();
    void templateSlowerThanTheWaitStaysOnTheList();
    void dialogGoneDuringTheTemplateWait();
    void unreadableListsAreTold_data();
    void unreadableListsAreTold();
    void oneDialogAtATime();
    void saveFailureIsReported();
    void reconnectingIsHarmlessAtAnyTime();

private:
    QJsonDocument templateList();
    ReportList reportList(int patient);
    QByteArray fetch(const QUrl &url);
    QtReportWidget *newDialog();

    StandIn m_standIn;
    std::unique_ptr<ServerVisualizer> m_client;
    std::unique_ptr<QtReportWidget> m_dialog;
    QSharedPointer<SessionVisualizer> m_session;
};

void tst_ReportEditor::initTestCase()
{
    QVERIFY(m_standIn.start());
    m_client = m_standIn.client();
    QVERIFY(logIn(*m_client, *m_standIn.server, QStringLiteral("doctor")));
    m_session = ReportTestSupport::makeSession(11, 105);
    qApp->setStyleSheet(applicationStyleSheet());
}

void tst_ReportEditor::init()
{
    m_standIn->clearFaults();
    m_dialog.reset();
}

QtReportWidget *tst_ReportEditor::newDialog()
{
    m_dialog = std::make_unique<QtReportWidget>("Dr Ferran", "Marta Puig Soler", "demo", m_session);
    ReportsFlow::wireDialog(m_dialog.get(), m_client.get(), 11, 105);
    return m_dialog.get();
}

QJsonDocument tst_ReportEditor::templateList()
{
    QSignalSpy spy(m_client.get(), &ServerVisualizer::receivedReportTemplateList);
    m_client->getReportTemplateList();
    if (!spy.wait(10000))
        return {};
    return spy.first().first().value<QJsonDocument>();
}

ReportList tst_ReportEditor::reportList(int patient)
{
    QSignalSpy spy(m_client.get(), &ServerVisualizer::reportsListRecieved);
    m_client->getReport(patient);
    if (!spy.wait(10000))
        return {};
    return spy.first().first().value<ReportList>();
}

QByteArray tst_ReportEditor::fetch(const QUrl &url)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setCaCertificates(QSslCertificate::fromPath(DemoServer::caCertificatePath()));
    request.setSslConfiguration(ssl);
    QNetworkReply *reply = manager.get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(10000))
        return {};
    reply->deleteLater();
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

void tst_ReportEditor::templatesOfBothClinics()
{
    QtReportWidget *dialog = newDialog();
    const QJsonDocument list = templateList();
    dialog->informTemplates(list);
    // A second list replaces the first.
    dialog->informTemplates(list);
    QCOMPARE(dialog->currentPage(), int(QtReportWidget::TemplatesPage));
    QVERIFY(dialog->templatesListed);
    const QList<QLabel *> clinics = dialog->findChildren<QLabel *>("clinicLabelReport");
    QCOMPARE(clinics.size(), 2);
    QCOMPARE(clinics[0]->text(), QStringLiteral("Clínica Dermatològica Demo"));
    QCOMPARE(clinics[1]->text(), QStringLiteral("Nordic Skin Centre"));
    QCOMPARE(clinics[0]->textFormat(), Qt::PlainText);
    QCOMPARE(texts(dialog->findChildren<QPushButton *>("templateObjectButton")),
             (QStringList{"Total body examination.json", "Short follow-up.json", "Screening report.json",
                          "Empty template.json"}));
    QCOMPARE(dialog->templateName, QStringLiteral("Total body examination.json"));
    // Shown only after a report list.
    QVERIFY(dialog->findChild<QPushButton *>("selectTemplateButton")->isHidden());

    dialog->resize(1000, 700);
    dialog->show();
    QVERIFY(dialog->loadFirstTemplate());
    QCOMPARE(dialog->currentPage(), int(QtReportWidget::EditorPage));
    QCOMPARE(dialog->templateNameButton->text(), QStringLiteral("Total body examination.json"));
    QVERIFY(dialog->logo.startsWith("data:image/svg+xml;base64,"));
    QTest::qWait(100);
    dialog->grab().save(ReportTestSupport::screenshotPath("report-dialog-editor.png"));
    dialog->stackedWidget->setCurrentIndex(QtReportWidget::TemplatesPage);
    QTest::qWait(100);
    dialog->grab().save(ReportTestSupport::screenshotPath("report-dialog-templates.png"));
}

void tst_ReportEditor::templateSectionsOfEachClinic_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<int>("emptyHtml");
    // The type "9" section is skipped.
    QTest::newRow("every type") << "Total body examination.json"
                                << QStringList{"Clinical history", "Risk factors", "Examination summary",
                                               "Recommendation", "Self-examination"}
                                << 2; // nothing ticked in the two lists
    // The empty text disappears from the report.
    QTest::newRow("empty text") << "Short follow-up.json" << QStringList{"Summary", "Comments"} << 1;
    QTest::newRow("other clinic") << "Screening report.json"
                                  << QStringList{"Reason for visit", "Lesion statistics", "Findings",
                                                 "Actions", "About dermoscopy"}
                                  << 2;
    QTest::newRow("no sections") << "Empty template.json" << QStringList{} << 0;
}

void tst_ReportEditor::templateSectionsOfEachClinic()
{
    QFETCH(QString, file);
    QFETCH(QStringList, titles);
    QFETCH(int, emptyHtml);
    QtReportWidget *dialog = newDialog();
    dialog->informTemplates(templateList());
    QPushButton *button = nullptr;
    for (QPushButton *candidate : dialog->findChildren<QPushButton *>("templateObjectButton"))
        if (candidate->text() == file)
            button = candidate;
    QVERIFY(button);
    QSignalSpy ready(dialog, &QtReportWidget::templateReady);
    button->click();
    QVERIFY(ready.wait(10000));
    QCOMPARE(dialog->currentPage(), int(QtReportWidget::EditorPage));
    QCOMPARE(dialog->templateNameButton->text(), file);
    QStringList shown;
    int empty = 0;
    for (SectionWidget *section : dialog->sections) {
        shown << section->title();
        empty += section->html().isEmpty() ? 1 : 0;
    }
    QCOMPARE(shown, titles);
    QCOMPARE(empty, emptyHtml);
}

void tst_ReportEditor::reportListOfPatient11()
{
    const ReportList list = reportList(11);
    QCOMPARE(int(list.size()), 2);
    for (const auto &[dates, url] : list) {
        QVERIFY(dates.first.isValid());
        QVERIFY(dates.second.isValid());
        QVERIFY(dates.first > dates.second);
        QVERIFY(url.toString().startsWith(m_standIn->baseUrl() + "/getReport/11/"));
    }
    QVERIFY(fetch(list[0].second).startsWith("%PDF"));

    QtReportWidget *dialog = newDialog();
    dialog->setReportsList(list);
    QCOMPARE(dialog->currentPage(), int(QtReportWidget::ReportsPage));
    QCOMPARE(dialog->findChildren<QLabel *>("ReportTableTitle").size(), 3);
    const QList<QLabel *> rows = dialog->findChildren<QLabel *>("ReportTableRow");
    QCOMPARE(rows.size(), 6);
    QCOMPARE(rows[0]->text(), list[0].first.first.toString("yyyy-M-d"));
    dialog->resize(1000, 600);
    dialog->show();
    QTest::qWait(100);
    dialog->grab().save(ReportTestSupport::screenshotPath("report-dialog-list.png"));

    dialog->setReportsList({});
    QCOMPARE(dialog->findChildren<QLabel *>("ReportTableRow").size(), 0);
    QCOMPARE(dialog->findChildren<QLabel *>("ReportTableTitle").size(), 3);
}

void tst_ReportEditor::onlyHttpLinksAreOpened_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("opened");
    QTest::newRow("https") << QUrl("https://127.0.0.1:1/getReport/11/5.pdf?s=1&e=2")
                           << "https://127.0.0.1:1/getReport/11/5.pdf?s=1&e=2";
    QTest::newRow("markup in the path stays in the link")
        << QUrl("https://h.example/getReport/\"><img src=x>")
        << "https://h.example/getReport/%22%3E%3Cimg%20src=x%3E";
    QTest::newRow("script") << QUrl("javascript:alert(1)") << "";
    QTest::newRow("local file") << QUrl("file:///etc/passwd") << "";
}

void tst_ReportEditor::onlyHttpLinksAreOpened()
{
    QFETCH(QUrl, url);
    QFETCH(QString, opened);
    QStringList seen;
    QtReportWidget::setLinkOpener([&seen](const QUrl &link) {
        seen << link.toString(QUrl::FullyEncoded);
        return true;
    });
    QtReportWidget *dialog = newDialog();
    dialog->setReportsList({{{QDate(2026, 1, 2), QDate(2026, 1, 1)}, url}});
    const QList<QLabel *> rows = dialog->findChildren<QLabel *>("ReportTableRow");
    QCOMPARE(rows.size(), 3);
    QLabel *link = rows[2];
    QVERIFY(!link->text().contains("<img"));
    // What a click on the label's one link delivers.
    const QString href = link->text().section("href=\"", 1).section('"', 0, 0);
    emit link->linkActivated(QTextDocumentFragment::fromHtml(href).toPlainText());
    QtReportWidget::setLinkOpener({});
    QCOMPARE(seen, opened.isEmpty() ? QStringList() : QStringList{opened});
}

void tst_ReportEditor::aLinkNoBrowserOpensIsTold()
{
    QtReportWidget::setLinkOpener([](const QUrl &) { return false; });
    QtReportWidget *dialog = newDialog();
    QSignalSpy notifications(dialog, qOverload<QString, int>(&QtReportWidget::showNotification));
    dialog->setReportsList(
        {{{QDate(2026, 1, 2), QDate(2026, 1, 1)}, QUrl("https://127.0.0.1:1/getReport/11/5.pdf")}});
    emit dialog->findChildren<QLabel *>("ReportTableRow")[2]->linkActivated(
        "https://127.0.0.1:1/getReport/11/5.pdf");
    QtReportWidget::setLinkOpener({});
    QCOMPARE(notifications.count(), 1);
    QCOMPARE(notifications.first().first().toString(),
             QStringLiteral("No web browser could open the report"));
}

void tst_ReportEditor::statisticsOfStandInSessions_data()
{
    QTest::addColumn<int>("sessionId");
    QTest::addColumn<int>("clinicalImages");
    QTest::addColumn<int>("dermatoscopicImages");
    QTest::addColumn<int>("lesions");
    QTest::addColumn<int>("exeresis");
    QTest::addColumn<int>("followUp");
    // Counted by hand in the documents the stand-in serves. 101 is the oldest
    // document format; 105 also holds 3 external images and 2 lesions on
    // position -1, which the report leaves out, and one lesion labelled
    // "Biopsy" and one without a label but with a picture ("Captured"), both
    // counted as dermatoscopic.
    QTest::newRow("101") << 101 << 27 << 24 << 30 << 3 << 6;
    QTest::newRow("105") << 105 << 27 << 24 << 34 << 2 << 6;
}

void tst_ReportEditor::statisticsOfStandInSessions()
{
    QFETCH(int, sessionId);
    const SampleData::Session *sample = SampleData::instance().session(sessionId);
    QVERIFY(sample);
    auto session =
        QSharedPointer<SessionVisualizer>::create(QStringLiteral("sessions/11/%1").arg(sessionId), 11,
                                                  sessionId, QJsonDocument(sample->document), sample->date);
    session->readSessionJson();
    SectionWidgetStats section(QJsonObject{{"type", "2"}, {"title", "Statistics"}}, nullptr, session);
    QTEST(section.counts().clinicalImages, "clinicalImages");
    QTEST(section.counts().dermatoscopicImages, "dermatoscopicImages");
    QTEST(section.counts().lesions, "lesions");
    QTEST(section.counts().exeresis, "exeresis");
    QTEST(section.counts().followUp, "followUp");
}

void tst_ReportEditor::uploadedReportIsListedAndFetched()
{
    QtReportWidget *dialog = newDialog();
    QSignalSpy notifications(dialog, qOverload<QString, int>(&QtReportWidget::showNotification));
    dialog->informTemplates(templateList());
    QVERIFY(dialog->loadFirstTemplate());
    QSignalSpy ready(dialog, &QtReportWidget::previewReady);
    dialog->previewReportButton->click();
    QVERIFY(ready.wait(30000));
    const QByteArray preview = dialog->pdf;
    QVERIFY(preview.startsWith("%PDF"));
    QFile look(ReportTestSupport::screenshotPath("report-total-body.pdf"));
    if (look.open(QIODevice::WriteOnly))
        look.write(preview);
    const int before = int(reportList(11).size());

    QSignalSpy uploaded(m_client.get(), &ServerVisualizer::reportUploaded);
    dialog->uploadButton->click();
    // One upload at a time.
    QVERIFY(!dialog->uploadButton->isEnabled());
    QVERIFY(uploaded.wait(10000));
    QVERIFY(dialog->uploadButton->isEnabled());
    QStringList messages;
    for (const QList<QVariant> &n : notifications)
        messages << n.first().toString();
    QCOMPARE(messages, (QStringList{"Uploading Report", "Report uploaded successfully"}));

    const ReportList after = reportList(11);
    QCOMPARE(int(after.size()), before + 1);
    QCOMPARE(after.back().first.first, QDate::currentDate());
    QCOMPARE(fetch(after.back().second), preview);
}

void tst_ReportEditor::twoQuickUploadsStoreTwoReports()
{
    const QByteArray first = DemoReports::simplePdf({"first report"});
    const QByteArray second = DemoReports::simplePdf({"second report"});
    const int before = int(reportList(11).size());
    QSignalSpy uploaded(m_client.get(), &ServerVisualizer::reportUploaded);
    m_client->uploadReport(11, 105, first);
    m_client->uploadReport(11, 105, second);
    QVERIFY(QTest::qWaitFor([&] { return uploaded.count() == 2; }, 10000));
    const ReportList after = reportList(11);
    QCOMPARE(int(after.size()), before + 2);
    QSet<QByteArray> stored{fetch(after[after.size() - 2].second), fetch(after.back().second)};
    QCOMPARE(stored, (QSet<QByteArray>{first, second}));
}

void tst_ReportEditor::failedUploadsNeverShowSuccess_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<bool>("noFields");
    QTest::addColumn<int>("failNext");
    QTest::newRow("no fields") << "reports" << true << 0;
    QTest::newRow("failing POST") << "reports" << false << 1;
    QTest::newRow("failing PUT") << "storage-put" << false << 1;
}

void tst_ReportEditor::failedUploadsNeverShowSuccess()
{
    QFETCH(QString, group);
    QFETCH(bool, noFields);
    QFETCH(int, failNext);
    DemoFaults::Fault fault;
    fault.noFields = noFields;
    fault.failNext = failNext;
    fault.failStatus = 500;
    m_standIn->setFault(group, fault);

    QWidget window;
    ReportsFlow flow(&window);
    flow.connectTo(m_client.get());
    QSignalSpy flowNotifications(&flow, &ReportsFlow::showNotification);
    QtReportWidget *dialog = newDialog();
    dialog->pdf = DemoReports::simplePdf({"never stored"});
    QSignalSpy failed(m_client.get(), &ServerVisualizer::reportUploadFailed);
    QSignalSpy uploaded(m_client.get(), &ServerVisualizer::reportUploaded);
    QSignalSpy dialogNotifications(dialog, qOverload<QString, int>(&QtReportWidget::showNotification));
    dialog->uploadButton->click();
    QVERIFY(failed.wait(10000));
    QTest::qWait(100);
    QCOMPARE(uploaded.count(), 0);
    QCOMPARE(failed.count(), 1);
    QVERIFY(dialog->uploadButton->isEnabled());
    QCOMPARE(flowNotifications.count(), 1);
    QCOMPARE(flowNotifications.first().first().toString(),
             QStringLiteral("The report could not be uploaded"));
    for (const QList<QVariant> &n : dialogNotifications)
        QVERIFY(n.first().toString() != QStringLiteral("Report uploaded successfully"));
}

void tst_ReportEditor::templateSlowerThanTheWaitStaysOnTheList()
{
    DemoFaults::Fault slow;
    slow.latencyMs = 1500;
    QtReportWidget *dialog = newDialog();
    dialog->informTemplates(templateList());
    m_standIn->setFault("storage-get", slow);
    dialog->setTemplateWait(300);
    QVERIFY(!dialog->loadFirstTemplate());
    QCOMPARE(dialog->currentPage(), int(QtReportWidget::TemplatesPage));
    QVERIFY(dialog->sections.empty());
    m_standIn->clearFaults();
    // The late template still arrives; the list stays usable meanwhile.
    QSignalSpy ready(dialog, &QtReportWidget::templateReady);
    QVERIFY(ready.wait(5000));
}

void tst_ReportEditor::dialogGoneDuringTheTemplateWait()
{
    DemoFaults::Fault slow;
    slow.latencyMs = 2000;
    QPointer<QtReportWidget> dialog = new QtReportWidget("Dr Ferran", "Marta", "demo", m_session);
    ReportsFlow::wireDialog(dialog, m_client.get(), 11, 105);
    dialog->informTemplates(templateList());
    m_standIn->setFault("storage-get", slow);
    dialog->setTemplateWait(30000);
    // The window closes with the dialog in it while the template is on its way.
    QTimer::singleShot(200, this, [&dialog] { delete dialog; });
    QSignalSpy arrived(m_client.get(), &ServerVisualizer::recievedReportTemplate);
    QVERIFY(!dialog->loadFirstTemplate());
    QVERIFY(dialog.isNull());
    // The wait ended with the dialog, not with the template's arrival.
    QCOMPARE(arrived.count(), 0);
    m_standIn->clearFaults();
    QVERIFY(arrived.wait(10000));
}

void tst_ReportEditor::unreadableListsAreTold_data()
{
    QTest::addColumn<bool>("templates");
    QTest::addColumn<QString>("message");
    QTest::newRow("template list") << true << "The report templates could not be read";
    QTest::newRow("report list") << false << "The report list could not be read";
}

void tst_ReportEditor::unreadableListsAreTold()
{
    QFETCH(bool, templates);
    QFETCH(QString, message);
    DemoFaults::Fault fault;
    fault.notJson = true;
    m_standIn->setFault("reports", fault);
    QWidget window;
    ReportsFlow flow(&window);
    flow.connectTo(m_client.get());
    flow.setContextProvider([this] { return ReportsFlow::Context{"Dr Ferran", "Marta", "demo", m_session}; });
    QSignalSpy notifications(&flow, &ReportsFlow::showNotification);
    QSignalSpy opened(&flow, &ReportsFlow::dialogOpened);
    if (templates)
        flow.reportButtonClicked();
    else
        flow.reportListButtonClicked();
    QVERIFY(notifications.wait(10000));
    QTest::qWait(100);
    QCOMPARE(notifications.first().first().toString(), message);
    QCOMPARE(opened.count(), 0);
}

void tst_ReportEditor::oneDialogAtATime()
{
    QWidget window;
    ReportsFlow flow(&window);
    flow.connectTo(m_client.get());
    flow.setContextProvider([this] { return ReportsFlow::Context{"Dr Ferran", "Marta", "demo", m_session}; });
    QPointer<QtReportWidget> shown;
    int opened = 0;
    connect(&flow, &ReportsFlow::dialogOpened, this, [&](QtReportWidget *dialog) {
        ++opened;
        shown = dialog;
        QTimer::singleShot(200, dialog, &QDialog::reject);
    });
    // A double click: two lists arrive.
    flow.reportListButtonClicked();
    flow.reportListButtonClicked();
    QVERIFY(QTest::qWaitFor([&] { return opened == 1 && !shown; }, 10000));
    QTest::qWait(200);
    QCOMPARE(opened, 1);
    QVERIFY(!flow.dialog());
}

void tst_ReportEditor::saveFailureIsReported()
{
    QtReportWidget *dialog = newDialog();
    dialog->pdf = DemoReports::simplePdf({"saved"});
    QSignalSpy notifications(dialog, qOverload<QString, int>(&QtReportWidget::showNotification));
    QTemporaryDir dir;
    QVERIFY(dialog->savePdfTo(dir.filePath("report.pdf")));
    QFile saved(dir.filePath("report.pdf"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), dialog->pdf);
    QCOMPARE(notifications.count(), 0);
    QVERIFY(!dialog->savePdfTo(dir.filePath("missing/folder/report.pdf")));
    QCOMPARE(notifications.count(), 1);
    QVERIFY(notifications.first().first().toString().startsWith("The report could not be saved"));
}

void tst_ReportEditor::reconnectingIsHarmlessAtAnyTime()
{
    // The save button calls it at any moment: before the server client
    // exists, twice in a row, with no patient, while a dialog renders.
    QStringList lines;
    const kelvaris::TraceSink previous =
        kelvaris::setTraceSink([&lines](const QString &line) { lines << line; });
    const auto countLines = [&lines](const QString &text) { return int(lines.filter(text).size()); };
    QWidget window;
    ReportsFlow flow(&window);
    flow.reconnectReportSignals();
    flow.connectTo(m_client.get());
    QSharedPointer<SessionVisualizer> patient;
    flow.setContextProvider([&patient] {
        return ReportsFlow::Context{"Dr Ferran", "Marta", "demo", patient};
    });
    QSignalSpy flowNotifications(&flow, &ReportsFlow::showNotification);
    QSignalSpy opened(&flow, &ReportsFlow::dialogOpened);

    lines.clear();
    flow.reconnectReportSignals();
    flow.reconnectReportSignals();
    QCOMPARE(countLines("La connexió 'reportsListRecieved' existia i s'ha desconnectat."), 2);
    QCOMPARE(countLines("La connexió 'receivedReportTemplateList' existia i s'ha desconnectat."), 2);

    // No patient: the list is taken once and opens nothing.
    lines.clear();
    QVERIFY(reportList(11).size() >= 2);
    QTest::qWait(200);
    QCOMPARE(countLines("kelvarisVisualizer::reportsListRecieved"), 1);
    QCOMPARE(opened.count(), 0);

    // A patient and a dialog that renders while the connections are remade:
    // the dialog keeps its own connections (render, upload, template list).
    patient = m_session;
    bool renderingWhileReconnected = false;
    bool listReachedTheDialog = false;
    connect(&flow, &ReportsFlow::dialogOpened, this, [&](QtReportWidget *dialog) {
        dialog->recievedReportJson(QJsonDocument(QJsonObject{
            {"sections",
             QJsonArray{QJsonObject{{"type", "0"}, {"title", "Findings"}, {"text", "Stable."}}}}}));
        QTimer::singleShot(0, dialog, [&flow, dialog, &renderingWhileReconnected] {
            dialog->previewReportButton->click();
            flow.reconnectReportSignals();
            flow.reconnectReportSignals();
            renderingWhileReconnected = !dialog->previewReportButton->isEnabled();
        });
        connect(dialog, &QtReportWidget::previewReady, dialog, [dialog] { dialog->uploadButton->click(); });
        connect(m_client.get(), &ServerVisualizer::reportUploaded, dialog,
                [this] { m_client->getReportTemplateList(); });
        connect(m_client.get(), &ServerVisualizer::receivedReportTemplateList, dialog, [&, dialog] {
            listReachedTheDialog = dialog->templatesListed;
            QTimer::singleShot(300, dialog, &QDialog::accept);
        });
        QTimer::singleShot(60000, dialog, &QDialog::reject);
    });
    flow.reportListButtonClicked();
    QVERIFY(QTest::qWaitFor([&] { return opened.count() == 1 && !flow.dialog(); }, 90000));
    QTest::qWait(200);
    QVERIFY(renderingWhileReconnected);
    QVERIFY(listReachedTheDialog);
    QCOMPARE(opened.count(), 1);
    // The dialog's own messages, each once: the flow adds none while it is open.
    QStringList messages;
    for (const QList<QVariant> &n : flowNotifications)
        messages << n.first().toString();
    QCOMPARE(messages, (QStringList{"Uploading Report", "Report uploaded successfully"}));
    flowNotifications.clear();

    // Failures are still told once.
    DemoFaults::Fault fault;
    fault.failNext = 1;
    fault.failStatus = 500;
    m_standIn->setFault("reports", fault);
    flow.reportListButtonClicked();
    QVERIFY(flowNotifications.wait(10000));
    QTest::qWait(200);
    QCOMPARE(flowNotifications.count(), 1);
    QCOMPARE(flowNotifications.first().first().toString(),
             QStringLiteral("The report list could not be read"));
    kelvaris::setTraceSink(previous);
}

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    ReportSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    QTemporaryDir work;
    ReportTestSupport::installPageTemplate(work.path());
    QDir::setCurrent(work.path());
    tst_ReportEditor test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_reporteditor.moc"
