#include "reports/QtReportWidget.h"

#include "reports/ReportChangesSection.h"
#include "reports/ReportPage.h"
#include "reports/ReportPrinting.h"
#include "reports/ReportRenderer.h"
#include "reports/ReportTemplates.h"
#include "reports/SectionWidgetList.h"
#include "reports/SectionWidgetStats.h"
#include "reports/SectionWidgetText.h"
#include "reports/SectionWidgetTextAndPhoto.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"
#include "widgets/CustomTitleBar.h"
#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfView>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <atomic>
#include <cstdio>

namespace {

// Where no browser can be found, Qt warns with the whole address, and a
// report's address carries the signature of its link: while a link is handed
// on, the query of any address in a message is left out.
std::atomic<QtMessageHandler> outerMessageHandler{nullptr};

void withoutQueries(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const QRegularExpression query(QStringLiteral("(https?://[^\\s'\"?]*)\\?[^\\s'\"]*"));
    QString quiet = message;
    quiet.replace(query, QStringLiteral("\\1"));
    if (const QtMessageHandler outer = outerMessageHandler.load())
        outer(type, context, quiet);
    else
        std::fprintf(stderr, "%s\n", qUtf8Printable(quiet));
}

bool openInBrowser(const QUrl &url)
{
    outerMessageHandler = qInstallMessageHandler(withoutQueries);
    const bool opened = QDesktopServices::openUrl(url);
    qInstallMessageHandler(outerMessageHandler.exchange(nullptr));
    return opened;
}

QtReportWidget::LinkOpener &linkOpener()
{
    static QtReportWidget::LinkOpener opener = openInBrowser;
    return opener;
}

constexpr int kNotificationMilliseconds = 5000;

QIcon twoStateIcon(const QString &off, const QString &on)
{
    QIcon icon;
    icon.addFile(off, QSize(), QIcon::Normal, QIcon::Off);
    icon.addFile(on, QSize(), QIcon::Normal, QIcon::On);
    return icon;
}

QPushButton *reportButton(const QString &icon, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QStringLiteral("buttonReport"));
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(30, 30));
    return button;
}

} // namespace

QtReportWidget::QtReportWidget(QString doctorName, QString patientName, QString serverName,
                               QSharedPointer<SessionVisualizer> session, QWidget *parent)
    : QDialog(parent), doctorName(std::move(doctorName)), patientName(std::move(patientName)),
      serverName(std::move(serverName)), session(std::move(session))
{
    setupUi();
}

QtReportWidget::~QtReportWidget()
{
    // A render still running must not call back into a half-destroyed dialog.
    delete m_renderer;
}

void QtReportWidget::setLinkOpener(LinkOpener opener)
{
    linkOpener() = opener ? std::move(opener) : QtReportWidget::LinkOpener(openInBrowser);
}

void QtReportWidget::setupUi()
{
    setObjectName(QStringLiteral("QtReportWidgetClass"));
    setWindowTitle(tr("Report"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setMinimumWidth(1000);
    resize(753, 608);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(new CustomTitleBar(tr("Report - Assistant Generation"), this));
    stackedWidget = new QStackedWidget(this);
    stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    stackedWidget->addWidget(buildReportsPage());
    stackedWidget->addWidget(buildTemplatesPage());
    stackedWidget->addWidget(buildPreviewPage());
    stackedWidget->addWidget(buildEditorPage());
    layout->addWidget(stackedWidget, 1);
}

QWidget *QtReportWidget::buildReportsPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("pageListReports"));
    auto *layout = new QVBoxLayout(page);
    auto *header = new QHBoxLayout;
    labelReportTitle = new QLabel(tr("Reports"), page);
    labelReportTitle->setObjectName(QStringLiteral("labelReportTitle"));
    addReportButton = new QPushButton(tr("New Report "), page);
    addReportButton->setObjectName(QStringLiteral("addReportButton"));
    header->addWidget(labelReportTitle);
    header->addStretch(1);
    header->addWidget(addReportButton);
    layout->addLayout(header);
    scrollArea = new QScrollArea(page);
    scrollArea->setObjectName(QStringLiteral("scrollArea"));
    scrollArea->setWidgetResizable(true);
    auto *list = new QWidget;
    list->setObjectName(QStringLiteral("scrollAreaReportsList"));
    scrollArea->setWidget(list);
    scrollArea->viewport()->setAutoFillBackground(false);
    list->setAutoFillBackground(false);
    layout->addWidget(scrollArea, 1);
    connect(addReportButton, &QPushButton::clicked, this, [this] {
        if (templatesListed)
            stackedWidget->setCurrentIndex(TemplatesPage);
        else
            emit getReportsTemplateList();
    });
    return page;
}

QWidget *QtReportWidget::buildTemplatesPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("pageListTemplates"));
    m_templatesLayout = new QVBoxLayout(page);
    return page;
}

QWidget *QtReportWidget::buildPreviewPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("pagePreview"));
    auto *grid = new QGridLayout(page);
    auto *buttons = new QVBoxLayout;

    auto *sizeButton = reportButton(QString(), page);
    sizeButton->setIcon(twoStateIcon(QStringLiteral(":/icon/reduce"), QStringLiteral(":/icon/fullscreen")));
    sizeButton->setCheckable(true);
    connect(sizeButton, &QPushButton::toggled, this,
            [this](bool on) { on ? showMaximized() : showNormal(); });
    auto *backButton = reportButton(QStringLiteral(":/icon/return"), page);
    connect(backButton, &QPushButton::clicked, this, [this] { stackedWidget->setCurrentIndex(EditorPage); });
    uploadButton = reportButton(QStringLiteral(":/icon/upload.svg"), page);
    uploadButton->setToolTip(tr("Upload"));
    connect(uploadButton, &QPushButton::clicked, this, [this] {
        if (pdf.isEmpty())
            return;
        // One upload at a time: a second click would store the report twice.
        uploadButton->setEnabled(false);
        emit uploadReport(pdf);
        emit showNotification(tr("Uploading Report"), kNotificationMilliseconds);
    });
    printButton = reportButton(QStringLiteral(":/icon/print.svg"), page);
    printButton->setToolTip(tr("Print"));
    connect(printButton, &QPushButton::clicked, this, &QtReportWidget::printPdf);
    saveButton = reportButton(QStringLiteral(":/menu/save"), page);
    saveButton->setToolTip(tr("Save"));
    connect(saveButton, &QPushButton::clicked, this, &QtReportWidget::savePdf);
    for (QPushButton *button : {sizeButton, backButton, uploadButton, printButton, saveButton})
        buttons->addWidget(button);
    buttons->addStretch(1);
    grid->addLayout(buttons, 0, 0);

    pdfView = new QPdfView(page);
    pdfView->setObjectName(QStringLiteral("pdfView"));
    grid->addWidget(pdfView, 0, 1);
    grid->setColumnStretch(1, 1);
    return page;
}

QWidget *QtReportWidget::buildEditorPage()
{
    auto *page = new QWidget(this);
    page->setObjectName(QStringLiteral("pageEditor"));
    auto *pageLayout = new QVBoxLayout(page);
    auto *area = new QScrollArea(page);
    area->setObjectName(QStringLiteral("scrollAreaReport"));
    area->setWidgetResizable(true);
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("transparentWidget"));
    content->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    content->setMinimumSize(800, 1000);
    auto *layout = new QVBoxLayout(content);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    // The template bar: any of its three buttons goes back to the templates.
    auto *bar = new QWidget(content);
    bar->setObjectName(QStringLiteral("widgetOutTemplateReport"));
    auto *barLayout = new QHBoxLayout(bar);
    auto *barButtons = new QWidget(bar);
    barButtons->setObjectName(QStringLiteral("sectionWidgetTemplate"));
    auto *barButtonsLayout = new QHBoxLayout(barButtons);
    barButtonsLayout->setSpacing(0);
    auto *left = new QPushButton(tr("Template: "), barButtons);
    left->setObjectName(QStringLiteral("sectionTemplateSelecionButtonLeft"));
    templateNameButton = new QPushButton(barButtons);
    templateNameButton->setObjectName(QStringLiteral("sectionTemplateSelecionButtonMiddle"));
    auto *right = new QPushButton(barButtons);
    right->setObjectName(QStringLiteral("sectionTemplateSelecionButtonRight"));
    right->setIcon(
        svgToIcon(recolorSvg(QStringLiteral(":/icon/edit"), QColor(255, 218, 195)), QSize(16, 16)));
    for (QPushButton *button : {left, templateNameButton, right}) {
        barButtonsLayout->addWidget(button);
        connect(button, &QPushButton::clicked, this,
                [this] { stackedWidget->setCurrentIndex(TemplatesPage); });
    }
    barLayout->addStretch(1);
    barLayout->addWidget(barButtons);
    barLayout->addStretch(1);
    layout->addWidget(bar);

    // The images section.
    auto *images = new QWidget(content);
    images->setObjectName(QStringLiteral("sectionWidget"));
    images->setAttribute(Qt::WA_StyledBackground);
    auto *imagesLayout = new QVBoxLayout(images);
    auto *header = new QHBoxLayout;
    auto *title = new QLabel(tr("Images (Selected will be included in the report)"), images);
    title->setObjectName(QStringLiteral("sectionWidgetTitleLabel"));
    imagesSwitch = new QPushButton(images);
    imagesSwitch->setObjectName(QStringLiteral("switchButton"));
    imagesSwitch->setIcon(twoStateIcon(QStringLiteral(":/icon/full"), QStringLiteral(":/icon/empty")));
    imagesSwitch->setIconSize(QSize(36, 20));
    imagesSwitch->setCheckable(true);
    imagesSwitch->setChecked(true);
    header->addWidget(title, 1);
    header->addWidget(imagesSwitch);
    imagesLayout->addLayout(header);
    m_imageRow = new QWidget(images);
    auto *rowLayout = new QHBoxLayout(m_imageRow);
    const QIcon tick = twoStateIcon(QStringLiteral(":/icon/tickGreen"), QStringLiteral(":/icon/tickWhite"));
    for (const QString &label : LesionVisualizer::labelNames()) {
        if (label == QLatin1String("Detected"))
            continue;
        auto *button = new QPushButton(label, m_imageRow);
        button->setObjectName(QStringLiteral("sectionItemTickbuttonFramed"));
        button->setIcon(tick);
        button->setCheckable(true);
        button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
        rowLayout->addWidget(button);
        imageButtons.emplace(label, button);
    }
    rowLayout->addStretch(1);
    imagesLayout->addWidget(m_imageRow);
    connect(imagesSwitch, &QPushButton::clicked, m_imageRow, &QWidget::setVisible);
    layout->addWidget(images);

    changesSection = new ReportChangesSection(content);
    layout->addWidget(changesSection);

    m_sectionsLayout = new QVBoxLayout;
    layout->addLayout(m_sectionsLayout);
    layout->addStretch(1);
    area->setWidget(content);
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    pageLayout->addWidget(area, 1);

    previewReportButton = new QPushButton(tr("Preview Report"), page);
    previewReportButton->setObjectName(QStringLiteral("previewReportButton"));
    connect(previewReportButton, &QPushButton::clicked, this, &QtReportWidget::on_savePDFbutton_clicked);
    pageLayout->addWidget(previewReportButton);
    return page;
}

void QtReportWidget::setChangeSummary(const LesionChangeSummary &summary)
{
    changesSection->setChangeSummary(summary);
}

int QtReportWidget::currentPage() const
{
    return stackedWidget->currentIndex();
}

void QtReportWidget::notify(const QString &message)
{
    emit showNotification(message, kNotificationMilliseconds);
}

// --- report list ------------------------------------------------------------------------

void QtReportWidget::setReportsList(ReportList list)
{
    auto *table = new QWidget;
    table->setObjectName(QStringLiteral("scrollAreaReportsList"));
    auto *grid = new QGridLayout(table);
    const QStringList titles{tr("Report Date"), tr("Session Date"), tr("PDF Link")};
    for (int column = 0; column < titles.size(); ++column) {
        auto *label = new QLabel(titles[column], table);
        label->setObjectName(QStringLiteral("ReportTableTitle"));
        grid->addWidget(label, 0, column);
    }
    int row = 1;
    for (const auto &[dates, url] : list) {
        auto *date = new QLabel(dates.first.toString(QStringLiteral("yyyy-M-d")), table);
        auto *sessionDate = new QLabel(dates.second.toString(QStringLiteral("yyyy-M-d")), table);
        // The address comes from the server: escaped, so that it stays one link.
        auto *link =
            new QLabel(QStringLiteral("<a style=\"color: WhiteSmoke;\" href=\"") +
                           url.toString(QUrl::FullyEncoded).toHtmlEscaped() + QStringLiteral("\">PDF</a>"),
                       table);
        link->setTextFormat(Qt::RichText);
        link->setOpenExternalLinks(false);
        link->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                      Qt::LinksAccessibleByKeyboard);
        connect(link, &QLabel::linkActivated, this, &QtReportWidget::openLink);
        for (QLabel *label : {date, sessionDate, link})
            label->setObjectName(QStringLiteral("ReportTableRow"));
        grid->addWidget(date, row, 0);
        grid->addWidget(sessionDate, row, 1);
        grid->addWidget(link, row, 2);
        ++row;
    }
    grid->setRowStretch(row, 1);
    scrollArea->setWidget(table);
    // The dialog's dark panel shows through (setWidget turns filling on).
    table->setAutoFillBackground(false);
    stackedWidget->setCurrentIndex(ReportsPage);
    reportsListed = true;
}

void QtReportWidget::openLink(const QString &link)
{
    const QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        kelvaris::trace(QStringLiteral("Report link refused: not http(s)"));
        return;
    }
    if (!linkOpener()(url))
        notify(tr("No web browser could open the report"));
}

// --- templates ----------------------------------------------------------------------------

void QtReportWidget::informTemplates(QJsonDocument templatesList)
{
    const auto clinics = ReportTemplates::clinics(templatesList);
    if (!clinics) {
        notify(tr("The report templates could not be read"));
        return;
    }
    // A second list replaces the first.
    delete m_templatesContainer;
    m_templatesContainer = new QWidget(stackedWidget->widget(TemplatesPage));
    m_templatesLayout->addWidget(m_templatesContainer);
    auto *layout = new QVBoxLayout(m_templatesContainer);
    layout->setContentsMargins(0, 0, 0, 0);
    for (const ReportTemplates::Clinic &clinic : *clinics) {
        auto *row = new QWidget(m_templatesContainer);
        row->setObjectName(QStringLiteral("widgetClinic"));
        auto *rowLayout = new QHBoxLayout(row);
        auto *toggle = new QPushButton(row);
        toggle->setObjectName(QStringLiteral("chose_show_list"));
        toggle->setCheckable(true);
        toggle->setChecked(true);
        QIcon icon;
        icon.addPixmap(svgFileToPixmap(QStringLiteral(":/icon/triangleBottom"), QSize(10, 10)), QIcon::Normal,
                       QIcon::On);
        icon.addPixmap(svgFileToPixmap(QStringLiteral(":/icon/triangleRight"), QSize(10, 10)), QIcon::Normal,
                       QIcon::Off);
        toggle->setIcon(icon);
        auto *name = new QLabel(clinic.name, row);
        name->setObjectName(QStringLiteral("clinicLabelReport"));
        name->setTextFormat(Qt::PlainText);
        rowLayout->addWidget(toggle);
        rowLayout->addWidget(name);
        rowLayout->addStretch(1);
        layout->addWidget(row);

        auto *files = new QWidget(m_templatesContainer);
        files->setObjectName(QStringLiteral("widgetTemplatesClinica"));
        auto *filesLayout = new QVBoxLayout(files);
        for (const auto &[fileName, url] : clinic.files) {
            auto *button = new QPushButton(fileName, files);
            button->setObjectName(QStringLiteral("templateObjectButton"));
            filesLayout->addWidget(button);
            connect(button, &QPushButton::clicked, this, [this, fileName = fileName, url = url] {
                templateNameButton->setText(fileName);
                emit getReportJson(url);
            });
            if (templateUrl.isEmpty()) {
                templateUrl = url;
                templateName = fileName;
            }
        }
        layout->addWidget(files);
        connect(toggle, &QPushButton::toggled, files, &QWidget::setVisible);
    }
    layout->addStretch(1);
    auto *cancel = new QPushButton(tr("Cancel"), m_templatesContainer);
    cancel->setObjectName(QStringLiteral("selectTemplateButton"));
    cancel->setCheckable(true);
    cancel->setVisible(reportsListed);
    connect(cancel, &QPushButton::clicked, this, [this] { stackedWidget->setCurrentIndex(ReportsPage); });
    layout->addWidget(cancel);
    stackedWidget->setCurrentIndex(TemplatesPage);
    templatesListed = true;
}

void QtReportWidget::recievedReportJson(QJsonDocument document)
{
    const auto parsed = ReportTemplates::parseTemplate(document);
    if (!parsed) {
        notify(tr("The report templates could not be read"));
        return;
    }
    for (SectionWidget *section : sections) {
        m_sectionsLayout->removeWidget(section);
        delete section;
    }
    sections.clear();
    logo = parsed->logo;
    for (const QJsonObject &json : parsed->sections) {
        const QString type = json.value(QStringLiteral("type")).toString();
        SectionWidget *section = nullptr;
        if (type == QLatin1String("0"))
            section = new SectionWidgetText(json, this);
        else if (type == QLatin1String("1"))
            section = new SectionWidgetList(json, this, false);
        else if (type == QLatin1String("2"))
            section = new SectionWidgetStats(json, this, session);
        else if (type == QLatin1String("3"))
            section = new SectionWidgetList(json, this, true);
        else if (type == QLatin1String("4"))
            section = new SectionWidgetTextAndPhoto(json, this);
        if (!section)
            continue;
        sections.push_back(section);
        m_sectionsLayout->addWidget(section);
    }
    stackedWidget->setCurrentIndex(EditorPage);
    m_templateArrived = true;
    emit templateReady();
}

bool QtReportWidget::loadFirstTemplate()
{
    if (templateUrl.isEmpty())
        return false;
    m_templateArrived = false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &QtReportWidget::templateReady, &loop, &QEventLoop::quit);
    // Closing the dialog, or its going with the window, ends the wait at once.
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    const QPointer<QtReportWidget> self(this);
    emit getReportJson(templateUrl);
    if (!m_templateArrived) {
        timer.start(m_templateWait);
        loop.exec();
    }
    timer.stop();
    if (!self || !m_templateArrived)
        return false;
    templateNameButton->setText(templateName);
    return true;
}

// --- rendering ----------------------------------------------------------------------------

bool QtReportWidget::imagesWanted() const
{
    if (!imagesSwitch->isChecked())
        return false;
    for (const auto &[label, button] : imageButtons)
        if (button->isChecked())
            return true;
    return false;
}

ReportPage::Fields QtReportWidget::pageFields() const
{
    ReportPage::Fields fields;
    fields.logo = logo;
    fields.date = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
    fields.patientName = patientName;
    fields.doctorName = doctorName;
    fields.serverName = serverName;
    return fields;
}

QString QtReportWidget::sectionsHtml() const
{
    QString html;
    for (SectionWidget *section : sections)
        html += section->html();
    return html + changesSection->html();
}

QString QtReportWidget::pageHtml(const QString &pageTemplate, const QStringList &imageElements) const
{
    return ReportPage::assemble(pageTemplate, pageFields(), sectionsHtml(), imagesWanted(), imageElements);
}

void QtReportWidget::on_savePDFbutton_clicked()
{
    if (m_rendering)
        return;
    QFile file(QStringLiteral("report.html"));
    if (!file.open(QIODevice::ReadOnly)) {
        kelvaris::trace(QStringLiteral("report.html could not be read"));
        renderingFailed();
        return;
    }
    const QString pageTemplate = QString::fromUtf8(file.readAll());

    // The JPEG bytes are copied here; decoding, scaling and encoding run on the
    // thread pool so that the window keeps responding.
    std::vector<QByteArray> jpegs;
    int leftOut = 0;
    if (imagesWanted() && session) {
        const int positions = int(session->getPositionNames().size());
        for (int position = 0; position < positions; ++position) {
            for (const auto &lesion : session->getLesions().value(position)) {
                const auto button = imageButtons.find(lesion->getLabel());
                if (button == imageButtons.end() || !button->second->isChecked() ||
                    !lesion->hasDermatoscopicGroups())
                    continue;
                QByteArray bytes = session->getDermatoscopicBytes(lesion->getLastDermatoscopicId());
                if (bytes.isEmpty())
                    ++leftOut;
                else
                    jpegs.push_back(std::move(bytes));
            }
        }
    }
    m_rendering = true;
    previewReportButton->setEnabled(false);
    const int generation = ++m_renderGeneration;
    // The page grows to megabytes with the pictures: it is put together on
    // the thread pool too, from texts taken here.
    const ReportPage::Fields fields = pageFields();
    const QString sections = sectionsHtml();
    const bool withImages = imagesWanted();
    QtConcurrent::run([jpegs = std::move(jpegs), pageTemplate, fields, sections, withImages] {
        QStringList elements;
        int failed = 0;
        for (const QByteArray &jpeg : jpegs) {
            const QString element = ReportPage::encodeImage(jpeg);
            element.isEmpty() ? void(++failed) : void(elements << element);
        }
        return std::make_pair(
            ReportPage::assemble(pageTemplate, fields, sections, withImages, elements).toUtf8(), failed);
    }).then(this, [this, generation, leftOut](std::pair<QByteArray, int> page) {
        if (generation != m_renderGeneration)
            return;
        const int missing = leftOut + page.second;
        if (missing > 0)
            notify(tr("%1 images are not downloaded yet and were left out").arg(missing));
        emit pageAssembled(int(page.first.size()));
        renderPage(page.first);
    });
}

void QtReportWidget::renderPage(const QByteArray &html)
{
    delete m_renderer;
    m_renderer = new ReportRenderer(this);
    connect(m_renderer, &ReportRenderer::pageLoaded, this, &QtReportWidget::pageLoaded);
    connect(m_renderer, &ReportRenderer::finished, this, [this](const QByteArray &bytes) {
        m_renderer->deleteLater();
        showPdf(bytes);
    });
    connect(m_renderer, &ReportRenderer::failed, this, [this] {
        m_renderer->deleteLater();
        renderingFailed();
    });
    m_renderer->render(html);
}

void QtReportWidget::showPdf(const QByteArray &bytes)
{
    auto *document = new QPdfDocument(this);
    auto *buffer = new QBuffer(document);
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    document->load(buffer);
    if (document->status() != QPdfDocument::Status::Ready || document->pageCount() <= 0) {
        delete document;
        renderingFailed();
        return;
    }
    m_rendering = false;
    previewReportButton->setEnabled(true);
    pdf = bytes;
    pdfView->setPageMode(QPdfView::PageMode::MultiPage);
    pdfView->setDocument(document);
    delete m_document;
    m_document = document;
    uploadButton->setEnabled(true);
    stackedWidget->setCurrentIndex(PreviewPage);
    emit previewReady();
}

void QtReportWidget::renderingFailed()
{
    m_rendering = false;
    previewReportButton->setEnabled(true);
    stackedWidget->setCurrentIndex(EditorPage);
    notify(tr("The report could not be rendered"));
    emit renderFailed();
}

// --- preview actions ------------------------------------------------------------------------

void QtReportWidget::reportUploaded()
{
    uploadButton->setEnabled(true);
    notify(tr("Report uploaded successfully"));
}

void QtReportWidget::reportUploadFailed(QString message)
{
    Q_UNUSED(message);
    uploadButton->setEnabled(true);
}

bool QtReportWidget::savePdfTo(const QString &path)
{
    QSaveFile file(path);
    if (pdf.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() ||
        !file.commit()) {
        notify(tr("The report could not be saved to %1").arg(path));
        return false;
    }
    return true;
}

void QtReportWidget::savePdf()
{
    const QPointer<QtReportWidget> self(this);
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save PDF"), QString(), tr("Documents PDF (*.pdf)"));
    if (self && !path.isEmpty())
        savePdfTo(path);
}

void QtReportWidget::printTo(std::shared_ptr<QPrinter> printer)
{
    if (m_printing || pdf.isEmpty() || !printer)
        return;
    m_printing = true;
    printButton->setEnabled(false);
    notify(tr("Printing the report"));
    // The task holds the printer and its own copy of the PDF: closing the
    // dialog does not cut a print job short or leave it a dangling printer.
    QtConcurrent::run([printer, bytes = pdf] {
        return ReportPrinting::print(bytes, *printer);
    }).then(this, [this](ReportPrinting::Outcome outcome) {
        m_printing = false;
        printButton->setEnabled(true);
        if (outcome.failedPage > 0)
            notify(tr("Printing stopped: page %1 could not be rendered").arg(outcome.failedPage));
        else if (!outcome.complete)
            notify(tr("The report could not be printed"));
        emit printFinished(outcome.complete);
    });
}

void QtReportWidget::printPdf()
{
    if (m_printing)
        return;
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    printer->setFullPage(false);
    // On the heap: should this dialog go while the print dialog runs, its
    // child goes with it, and nothing here is touched afterwards.
    const QPointer<QtReportWidget> self(this);
    const QPointer<QPrintDialog> dialog = new QPrintDialog(printer.get(), this);
    dialog->setWindowTitle(QStringLiteral("Imprimir PDF"));
    const int result = dialog->exec();
    if (!self)
        return;
    delete dialog;
    if (result == QDialog::Accepted)
        printTo(printer);
}

void QtReportWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 218, 195), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(QColor(15, 15, 15));
    painter.drawRoundedRect(rect().adjusted(2, 2, -2, -2), 15, 15);
}
