// Rendering a report to PDF through the web engine, in memory: page size,
// text, large pages, disabled scripts and navigation, failures, printing,
// and nothing of the patient left on disk.

#include "ReportTestSupport.h"

#include "reports/QtReportWidget.h"
#include "reports/ReportPage.h"
#include "reports/ReportPrinting.h"
#include "reports/ReportRenderer.h"
#include "reports/ReportSchemeHandler.h"
#include "reports/SectionWidgetList.h"

#include <QApplication>
#include <QDirIterator>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPdfView>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString kPatient = QStringLiteral("Zelestina Quarnberg-Oyelaran");

struct Rendered
{
    bool finished = false;
    bool failed = false;
    QByteArray pdf;
};

Rendered render(const QString &html, int timeout = 60000)
{
    ReportRenderer renderer;
    renderer.setTimeout(timeout);
    QSignalSpy finished(&renderer, &ReportRenderer::finished);
    QSignalSpy failed(&renderer, &ReportRenderer::failed);
    renderer.render(html);
    if (!QTest::qWaitFor([&] { return !finished.isEmpty() || !failed.isEmpty(); }, 30000))
        return {};
    // Whatever came first, nothing else may follow.
    QTest::qWait(50);
    Rendered result;
    result.finished = !finished.isEmpty();
    result.failed = !failed.isEmpty();
    if (result.finished)
        result.pdf = finished.first().first().toByteArray();
    return result;
}

QString allText(QPdfDocument &document)
{
    QString text;
    for (int page = 0; page < document.pageCount(); ++page)
        text += document.getAllText(page).text() + QLatin1Char('\n');
    return text;
}

QString pageTemplate()
{
    QFile file(ReportTestSupport::sourceFile(QStringLiteral("resources/report.html")));
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}

} // namespace

class tst_ReportRender : public QObject
{
    Q_OBJECT

public:
    QString home;

private slots:
    void rendersTheTextOnA4();
    void scriptsAndNavigationHaveNoEffect();
    void aPageOver2MiBRenders();
    void noPdfInTimeIsAFailure();
    void longReportsKeepClearOfThePageEdges();
    void previewFromTheEditor();
    void missingPageTemplateIsReported();
    void printsEveryPageCentred();
    void printingRunsBesideTheWindow();
    void printingStopsAtAPageThatCannotRender();
    void dialogGoneWhileThePrintDialogRuns();
    void fittedRectangle_data();
    void fittedRectangle();
    void nothingOfThePatientOnDisk();

private:
    QByteArray m_multiPagePdf;
};

void tst_ReportRender::rendersTheTextOnA4()
{
    ReportPage::Fields fields;
    fields.patientName = kPatient + QStringLiteral(" <&[sections]");
    fields.doctorName = QStringLiteral("\"><b>Dr Ferran</b>");
    fields.date = QStringLiteral("07/12/2026");
    const QString sections =
        ReportPage::sectionStart(QStringLiteral("Clinical history %2")) +
        ReportPage::paragraph(QStringLiteral("No melanoma.\nFollow-up in 6 months.")) +
        ReportPage::sectionEnd() + ReportPage::sectionStart(QStringLiteral("Risk")) + QStringLiteral("<ul>") +
        ReportPage::listItem(QStringLiteral("[dermatoscopicImgs]")) + QStringLiteral("</ul>") +
        ReportPage::sectionEnd() + ReportPage::sectionStart(QStringLiteral("Changes")) +
        ReportPage::table({QStringLiteral("Lesion"), QStringLiteral("Change")},
                          {{QStringLiteral("0_3"), QStringLiteral("grew by 2 mm")}}) +
        ReportPage::sectionEnd();
    // Images chosen but none downloaded: the block is there, empty.
    const Rendered result = render(ReportPage::assemble(pageTemplate(), fields, sections, true, {}));
    QVERIFY(result.finished);
    QVERIFY(result.pdf.startsWith("%PDF"));

    QBuffer buffer;
    buffer.setData(result.pdf);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    QCOMPARE(document.status(), QPdfDocument::Status::Ready);
    // The empty images block adds no page.
    QCOMPARE(document.pageCount(), 1);
    // A4 in points.
    QVERIFY(qAbs(document.pagePointSize(0).width() - 595.3) < 1.0);
    QVERIFY(qAbs(document.pagePointSize(0).height() - 841.9) < 1.0);
    const QString text = allText(document);
    QVERIFY2(text.contains(kPatient + QStringLiteral(" <&[sections]")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("\"><b>Dr Ferran</b>")));
    QVERIFY(text.contains(QStringLiteral("Follow-up in 6 months.")));
    QVERIFY(text.contains(QStringLiteral("07/12/2026")));
    QVERIFY(text.contains(QStringLiteral("Clinical history %2")));
    QVERIFY(text.contains(QStringLiteral("[dermatoscopicImgs]")));
    QVERIFY(text.contains(QStringLiteral("grew by 2 mm")));

    QFile look(ReportTestSupport::screenshotPath(QStringLiteral("report-text.pdf")));
    if (look.open(QIODevice::WriteOnly))
        look.write(result.pdf);
}

void tst_ReportRender::scriptsAndNavigationHaveNoEffect()
{
    // Worst case: markup that reached the page unescaped.
    const QString page = QStringLiteral(
        "<html><head><meta http-equiv=\"refresh\" content=\"0;url=https://127.0.0.1:9/away\"></head><body>"
        "<p id=\"t\">original text</p><script>document.getElementById('t').textContent='SCRIPT RAN';"
        "location.href='https://127.0.0.1:9/away';</script></body></html>");
    const Rendered result = render(page);
    QVERIFY(result.finished);
    QBuffer buffer;
    buffer.setData(result.pdf);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    const QString text = allText(document);
    QVERIFY2(text.contains(QStringLiteral("original text")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("SCRIPT RAN")));
}

void tst_ReportRender::aPageOver2MiBRenders()
{
    const QString image =
        ReportPage::encodeImage(ReportTestSupport::jpeg(QSize(2400, 1800), QColor(160, 90, 60)));
    QVERIFY(!image.isEmpty());
    QStringList images;
    for (int i = 0; i < 20; ++i)
        images << image;
    ReportPage::Fields fields;
    fields.patientName = kPatient;
    const QString html = ReportPage::assemble(pageTemplate(), fields, QString(), true, images);
    QVERIFY(html.toUtf8().size() > 2 * 1024 * 1024);
    const Rendered result = render(html);
    QVERIFY(result.finished);
    QBuffer buffer;
    buffer.setData(result.pdf);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    // The first page, then two pictures of 2000 x 1500 per A4 page at most.
    QVERIFY2(document.pageCount() >= 11, qPrintable(QString::number(document.pageCount())));
    m_multiPagePdf = result.pdf;
}

void tst_ReportRender::noPdfInTimeIsAFailure()
{
    const Rendered result = render(QStringLiteral("<p>late</p>"), 1);
    QVERIFY(result.failed);
    QVERIFY(!result.finished);
}

void tst_ReportRender::longReportsKeepClearOfThePageEdges()
{
    // Text that runs on over several pages and pictures after it: nothing may
    // be drawn within 10 mm of a page's top or bottom edge, where a printer
    // cannot print and a reader's eye expects a margin.
    const QString line =
        QStringLiteral("Lesion reviewed under standard lighting; size and colour unchanged. ");
    QString sections = ReportPage::sectionStart(QStringLiteral("Findings")) +
                       ReportPage::paragraph(line.repeated(180)) + ReportPage::sectionEnd();
    for (int i = 0; i < 6; ++i)
        sections += ReportPage::sectionStart(QStringLiteral("Note %1").arg(i + 1)) +
                    ReportPage::paragraph(line.repeated(6)) + ReportPage::sectionEnd();
    const QString image =
        ReportPage::encodeImage(ReportTestSupport::jpeg(QSize(1200, 900), QColor(40, 30, 25)));
    ReportPage::Fields fields;
    fields.patientName = kPatient;
    const Rendered result =
        render(ReportPage::assemble(pageTemplate(), fields, sections, true, {image, image, image}));
    QVERIFY(result.finished);
    QBuffer buffer;
    buffer.setData(result.pdf);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    // Text over three pages or more, then two pages of pictures.
    QVERIFY2(document.pageCount() >= 5, qPrintable(QString::number(document.pageCount())));
    const QSize size(420, 594); // A4 at 2 px per mm
    const int edge = 20;        // 10 mm
    for (int page = 0; page < document.pageCount(); ++page) {
        // Margins are left unpainted (transparent); paper is white.
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QPainter(&picture).drawImage(0, 0, document.render(page, size));
        QVERIFY(!picture.isNull());
        int darkTop = 0, darkBottom = 0, darkMiddle = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const bool dark = qGray(picture.pixel(x, y)) < 200;
                if (y < edge)
                    darkTop += dark;
                else if (y >= size.height() - edge)
                    darkBottom += dark;
                else
                    darkMiddle += dark;
            }
        QVERIFY2(darkTop == 0 && darkBottom == 0,
                 qPrintable(QString("page %1: %2 dark pixels at the top, %3 at the bottom")
                                .arg(page + 1)
                                .arg(darkTop)
                                .arg(darkBottom)));
        QVERIFY2(darkMiddle > 0, qPrintable(QString("page %1 is empty").arg(page + 1)));
        if (page == 1)
            picture.save(ReportTestSupport::screenshotPath(QStringLiteral("report-long-page2.png")));
    }
}

void tst_ReportRender::previewFromTheEditor()
{
    const auto session = ReportTestSupport::makeSession();
    // "Follow up" (d1) is downloaded, "Exeresis" (d2) is not.
    ReportTestSupport::storeDermatoscopic(*session, "20240301_1",
                                          ReportTestSupport::jpeg(QSize(600, 450), QColor(120, 70, 50)));
    QtReportWidget dialog("Dr Ferran", kPatient, "demo", session);
    QSignalSpy notifications(&dialog, qOverload<QString, int>(&QtReportWidget::showNotification));
    QSignalSpy ready(&dialog, &QtReportWidget::previewReady);
    dialog.recievedReportJson(QJsonDocument(QJsonObject{
        {"logo", "javascript:alert(1)"},
        {"sections",
         QJsonArray{QJsonObject{{"type", "0"}, {"title", "Findings"}, {"text", "Two naevi to watch."}},
                    QJsonObject{{"type", "2"}, {"title", "Lesion statistics"}},
                    QJsonObject{{"type", "1"}, {"title", "Actions"}, {"items", QJsonArray{"Biopsy"}}}}}}));
    QCOMPARE(dialog.currentPage(), int(QtReportWidget::EditorPage));
    QCOMPARE(int(dialog.sections.size()), 3);
    dialog.imageButtons.at("Follow up")->click();
    dialog.imageButtons.at("Exeresis")->click();
    dialog.resize(1100, 800);
    dialog.show();
    dialog.grab().save(ReportTestSupport::screenshotPath(QStringLiteral("report-editor.png")));

    dialog.previewReportButton->click();
    QVERIFY(ready.wait(30000));
    QCOMPARE(dialog.currentPage(), int(QtReportWidget::PreviewPage));
    QVERIFY(dialog.pdf.startsWith("%PDF"));
    QVERIFY(dialog.pdfView->document());
    QCOMPARE(dialog.pdfView->document()->pageCount(), 2);
    QCOMPARE(notifications.count(), 1);
    QCOMPARE(notifications.first().first().toString(),
             QStringLiteral("1 images are not downloaded yet and were left out"));

    QBuffer buffer;
    buffer.setData(dialog.pdf);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    const QString text = allText(document);
    QVERIFY2(text.contains("Two naevi to watch."), qPrintable(text));
    QVERIFY(text.contains("Lesions detected:"));
    // The list section with nothing ticked is left out, title included.
    QVERIFY(!text.contains("Actions"));

    QTest::qWait(300);
    dialog.grab().save(ReportTestSupport::screenshotPath(QStringLiteral("report-preview.png")));
    QFile look(ReportTestSupport::screenshotPath(QStringLiteral("report-editor.pdf")));
    if (look.open(QIODevice::WriteOnly))
        look.write(dialog.pdf);
}

void tst_ReportRender::missingPageTemplateIsReported()
{
    QTemporaryDir empty;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(empty.path());
    QtReportWidget dialog("Dr Ferran", kPatient, "demo", ReportTestSupport::makeSession());
    QSignalSpy notifications(&dialog, qOverload<QString, int>(&QtReportWidget::showNotification));
    QSignalSpy failed(&dialog, &QtReportWidget::renderFailed);
    dialog.recievedReportJson(QJsonDocument(QJsonObject{{"sections", QJsonArray{}}}));
    dialog.previewReportButton->click();
    QDir::setCurrent(previous);
    QVERIFY(failed.count() == 1 || failed.wait(5000));
    QCOMPARE(dialog.currentPage(), int(QtReportWidget::EditorPage));
    QVERIFY(dialog.pdf.isEmpty());
    QCOMPARE(notifications.last().first().toString(), QStringLiteral("The report could not be rendered"));
}

void tst_ReportRender::printsEveryPageCentred()
{
    QVERIFY(!m_multiPagePdf.isEmpty());
    QBuffer source;
    source.setData(m_multiPagePdf);
    source.open(QIODevice::ReadOnly);
    QPdfDocument rendered;
    rendered.load(&source);
    const int pages = rendered.pageCount();

    // A user's chosen target, the one place a report may be written.
    QDir(home).mkpath("saved");
    const QString target = home + "/saved/printed.pdf";
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(target);
    const ReportPrinting::Outcome outcome = ReportPrinting::print(m_multiPagePdf, printer);
    QVERIFY(outcome.complete);
    QCOMPARE(outcome.failedPage, 0);
    QCOMPARE(outcome.pagesPrinted, pages);
    QPdfDocument printed;
    QCOMPARE(printed.load(target), QPdfDocument::Error::None);
    QCOMPARE(printed.pageCount(), pages);

    // The pages reach the printer without transparency: a printer's own
    // scaling blends transparent margins into grey lines across the paper.
    QFile printedFile(target);
    QVERIFY(printedFile.open(QIODevice::ReadOnly));
    // (A transparent picture is written with a mask: "/ImageMask true" or a
    // soft mask "/SMask n 0 R"; "/SMask /None" is none.)
    const QString printedText = QString::fromLatin1(printedFile.readAll());
    QVERIFY(!printedText.contains(QStringLiteral("/ImageMask true")));
    QVERIFY(!printedText.contains(QRegularExpression(QStringLiteral("/SMask\\s+\\d+\\s+0\\s+R"))));
}

void tst_ReportRender::printingRunsBesideTheWindow()
{
    QVERIFY(!m_multiPagePdf.isEmpty());
    QtReportWidget dialog("Dr Ferran", kPatient, "demo", ReportTestSupport::makeSession());
    dialog.pdf = m_multiPagePdf;
    QSignalSpy finished(&dialog, &QtReportWidget::printFinished);
    QSignalSpy notifications(&dialog, qOverload<QString, int>(&QtReportWidget::showNotification));
    QDir(home).mkpath("saved");
    const QString target = home + "/saved/printed-beside.pdf";
    auto printer = std::make_shared<QPrinter>(QPrinter::ScreenResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(target);
    dialog.printTo(printer);
    // The pages are rendered on the thread pool: the call returns at once and
    // a second print waits until the first has ended.
    QCOMPARE(finished.count(), 0);
    QVERIFY(dialog.isPrinting());
    QVERIFY(!dialog.printButton->isEnabled());
    printer.reset();
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.first().first().toBool(), true);
    QVERIFY(dialog.printButton->isEnabled());
    QCOMPARE(notifications.count(), 1);
    QCOMPARE(notifications.first().first().toString(), QStringLiteral("Printing the report"));
    QPdfDocument printed;
    QCOMPARE(printed.load(target), QPdfDocument::Error::None);
    QBuffer source;
    source.setData(m_multiPagePdf);
    source.open(QIODevice::ReadOnly);
    QPdfDocument rendered;
    rendered.load(&source);
    QCOMPARE(printed.pageCount(), rendered.pageCount());
}

void tst_ReportRender::printingStopsAtAPageThatCannotRender()
{
    // Page 2 is a sliver one point wide: fitted into the printer's page it has
    // no width left and renders to nothing.
    QByteArray bytes;
    {
        QBuffer out(&bytes);
        out.open(QIODevice::WriteOnly);
        QPdfWriter writer(&out);
        writer.setPageSize(QPageSize(QPageSize::A4));
        QPainter painter(&writer);
        painter.drawText(QPointF(100, 100), QStringLiteral("page one"));
        writer.setPageSize(QPageSize(QSizeF(1, 14000), QPageSize::Point));
        writer.newPage();
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.newPage();
        painter.drawText(QPointF(100, 100), QStringLiteral("page three"));
    }
    QtReportWidget dialog("Dr Ferran", kPatient, "demo", ReportTestSupport::makeSession());
    dialog.pdf = bytes;
    QSignalSpy finished(&dialog, &QtReportWidget::printFinished);
    QSignalSpy notifications(&dialog, qOverload<QString, int>(&QtReportWidget::showNotification));
    QDir(home).mkpath("saved");
    auto printer = std::make_shared<QPrinter>(QPrinter::ScreenResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(home + "/saved/printed-stopped.pdf");
    dialog.printTo(printer);
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(notifications.last().first().toString(),
             QStringLiteral("Printing stopped: page 2 could not be rendered"));
}

void tst_ReportRender::dialogGoneWhileThePrintDialogRuns()
{
    QPointer<QtReportWidget> dialog =
        new QtReportWidget("Dr Ferran", kPatient, "demo", ReportTestSupport::makeSession());
    dialog->pdf = m_multiPagePdf;
    dialog->show();
    bool printDialogShown = false;
    // The report dialog goes (the window closing) while the print dialog waits.
    QTimer::singleShot(300, this, [&] {
        printDialogShown = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget()) != nullptr;
        delete dialog;
    });
    dialog->printButton->click();
    QVERIFY(printDialogShown);
    QVERIFY(dialog.isNull());
}

void tst_ReportRender::fittedRectangle_data()
{
    QTest::addColumn<QSizeF>("page");
    QTest::addColumn<QRect>("target");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("square target") << QSizeF(595, 842) << QRect(0, 0, 1000, 1000) << QRect(147, 0, 706, 1000);
    QTest::newRow("wide target") << QSizeF(595, 842) << QRect(0, 0, 2000, 1000) << QRect(647, 0, 706, 1000);
    QTest::newRow("narrow target") << QSizeF(595, 842) << QRect(0, 0, 500, 1000) << QRect(0, 146, 500, 707);
}

void tst_ReportRender::fittedRectangle()
{
    QFETCH(QSizeF, page);
    QFETCH(QRect, target);
    QFETCH(QRect, expected);
    QCOMPARE(ReportPrinting::fitted(page, target), expected);
}

void tst_ReportRender::nothingOfThePatientOnDisk()
{
    // Everything the web engine and the program wrote under HOME, TMPDIR and
    // the XDG folders during the renders above, except the user's own targets.
    const QByteArray name = kPatient.toUtf8();
    const QByteArray wide(reinterpret_cast<const char *>(kPatient.utf16()), kPatient.size() * 2);
    QStringList holding;
    QDirIterator it(home, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.startsWith(home + "/saved/") || path == home + "/work/report.html")
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.read(64 * 1024 * 1024);
        if (bytes.contains(name) || bytes.contains(wide) || bytes.contains("Two naevi to watch"))
            holding << path;
    }
    QVERIFY2(holding.isEmpty(), qPrintable(holding.join('\n')));
    QVERIFY(QDir(home + "/work").entryList(QDir::Files | QDir::Hidden) == QStringList{"report.html"});
}

int main(int argc, char **argv)
{
    // Everything the process might write goes to one fresh folder, checked at the end.
    const QString home = QDir::tempPath() + QStringLiteral("/kelvaris-report-home-") +
                         QString::number(QCoreApplication::applicationPid());
    QDir(home).removeRecursively();
    for (const char *sub : {"work", "tmp", "cache", "data", "config"})
        QDir().mkpath(home + QLatin1Char('/') + QLatin1String(sub));
    qputenv("HOME", home.toUtf8());
    qputenv("TMPDIR", (home + "/tmp").toUtf8());
    qputenv("XDG_CACHE_HOME", (home + "/cache").toUtf8());
    qputenv("XDG_DATA_HOME", (home + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + "/config").toUtf8());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    ReportSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    QFile styleSheet(ReportTestSupport::sourceFile(QStringLiteral("resources/styleSheet.qss")));
    if (styleSheet.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
    ReportTestSupport::installPageTemplate(home + "/work");
    QDir::setCurrent(home + "/work");
    tst_ReportRender test;
    test.home = home;
    const int result = QTest::qExec(&test, argc, argv);
    QDir(home).removeRecursively();
    return result;
}

#include "tst_reportrender.moc"
