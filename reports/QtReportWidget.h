#pragma once

#include "reports/ReportPage.h"

#include <QByteArray>
#include <QDate>
#include <QDialog>
#include <QJsonDocument>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

class LesionChangeSummary;
class QLabel;
class QPdfDocument;
class QPdfView;
class QPrinter;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;
class ReportChangesSection;
class ReportRenderer;
class SectionWidget;
class SessionVisualizer;

// The report editor: the patient's report list (page 0), the clinics'
// templates (page 1), the PDF preview with print, save and upload (page 2) and
// the editor of the chosen template's sections and images (page 3). Lives
// for one modal execution; created per use and deleted after it.
class QtReportWidget : public QDialog
{
    Q_OBJECT

public:
    using ReportList = std::vector<std::pair<std::pair<QDate, QDate>, QUrl>>;
    // Returns whether the link could be handed on (false: no browser).
    using LinkOpener = std::function<bool(const QUrl &)>;

    enum Page
    {
        ReportsPage = 0,
        TemplatesPage = 1,
        PreviewPage = 2,
        EditorPage = 3,
    };

    QtReportWidget(QString doctorName, QString patientName, QString serverName,
                   QSharedPointer<SessionVisualizer> session, QWidget *parent = nullptr);
    ~QtReportWidget() override;

    void setReportsList(ReportList list);

    // Where a report link of the table is opened (the system's browser by
    // default); only http(s) links get there.
    static void setLinkOpener(LinkOpener opener);
    // How long loadFirstTemplate waits (5000 ms).
    void setTemplateWait(int milliseconds) { m_templateWait = milliseconds; }

    // The page text for the current sections, images switch and label
    // choice, with the given image elements (pure apart from reading
    // pageTemplate's file).
    QString pageHtml(const QString &pageTemplate, const QStringList &imageElements) const;
    // What pageHtml needs from the widgets, taken on the GUI thread.
    ReportPage::Fields pageFields() const;
    QString sectionsHtml() const;
    bool imagesWanted() const;

    // Writes the last PDF through a save file; false (and a notification)
    // when the target cannot be written.
    bool savePdfTo(const QString &path);
    // Prints the last PDF on a printer the caller set up, on the thread pool
    // (rasterising a page at printer resolution takes a while); the outcome is
    // told by a notification and printFinished(). The printer stays alive
    // until the job ends, also when the dialog closes first.
    void printTo(std::shared_ptr<QPrinter> printer);
    bool isPrinting() const { return m_printing; }

    int currentPage() const;

    // Offers "Include changes since the last visit" (a table after the
    // sections) when the summary has an earlier visit.
    void setChangeSummary(const LesionChangeSummary &summary);

    QString doctorName;
    QString patientName;
    QString serverName;
    QSharedPointer<SessionVisualizer> session;
    QString logo;
    QUrl templateUrl;
    QString templateName;
    std::vector<SectionWidget *> sections;
    std::unordered_map<QString, QPushButton *> imageButtons;
    QPushButton *imagesSwitch = nullptr;
    ReportChangesSection *changesSection = nullptr;
    QByteArray pdf;
    bool templatesListed = false;
    bool reportsListed = false;
    QPdfView *pdfView = nullptr;
    QPushButton *templateNameButton = nullptr;

    QStackedWidget *stackedWidget = nullptr;
    QLabel *labelReportTitle = nullptr;
    QPushButton *addReportButton = nullptr;
    QScrollArea *scrollArea = nullptr;
    QPushButton *previewReportButton = nullptr;
    QPushButton *uploadButton = nullptr;
    QPushButton *printButton = nullptr;
    QPushButton *saveButton = nullptr;

signals:
    void getReportJson(QUrl url);
    void uploadReport(QByteArray pdf);
    void showNotification(QString message, int timeout);
    void showNotification(QString message);
    void getReportsTemplateList();
    void templateReady();
    // The preview page shows a new PDF.
    void previewReady();
    // A render ended without a PDF.
    void renderFailed();
    // The page text is assembled and goes to the renderer (for measurements).
    void pageAssembled(int bytes);
    // The renderer has loaded the page and starts printing it to PDF (for measurements).
    void pageLoaded();
    // A print job ended; complete when every page reached the printer.
    void printFinished(bool complete);

public slots:
    void recievedReportJson(QJsonDocument document);
    void reportUploaded();
    // The upload ended without the report stored.
    void reportUploadFailed(QString message);
    void informTemplates(QJsonDocument templatesList);
    bool loadFirstTemplate();
    void on_savePDFbutton_clicked();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void setupUi();
    QWidget *buildReportsPage();
    QWidget *buildTemplatesPage();
    QWidget *buildPreviewPage();
    QWidget *buildEditorPage();
    void openLink(const QString &link);
    void renderPage(const QByteArray &html);
    void showPdf(const QByteArray &bytes);
    void renderingFailed();
    void notify(const QString &message);
    void savePdf();
    void printPdf();

    QVBoxLayout *m_sectionsLayout = nullptr;
    QVBoxLayout *m_templatesLayout = nullptr;
    QWidget *m_templatesContainer = nullptr;
    QWidget *m_imageRow = nullptr;
    QPdfDocument *m_document = nullptr;
    QPointer<ReportRenderer> m_renderer;
    int m_renderGeneration = 0;
    bool m_rendering = false;
    bool m_templateArrived = false;
    bool m_printing = false;
    int m_templateWait = 5000;
};
