#include "reports/ReportRenderer.h"

#include "reports/ReportSchemeHandler.h"
#include "widgets/Trace.h"

#include <QPageSize>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace {

// The report page may show pictures but never go anywhere else: a link or a
// refresh in a template must not load another page into the report.
class ReportWebPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
    {
        return isMainFrame && url == ReportSchemeHandler::pageUrl();
    }
};

constexpr int kRenderTimeoutMilliseconds = 60000;

} // namespace

ReportRenderer::ReportRenderer(QObject *parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kRenderTimeoutMilliseconds);
    connect(&m_timeout, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no PDF within the time allowed")); });
}

ReportRenderer::~ReportRenderer()
{
    // A page must go before its profile.
    delete m_page;
}

QPageLayout ReportRenderer::pageLayout()
{
    // Text that runs on to another page must not touch the paper's top or
    // bottom edge, where printers cannot print: the engine takes the page
    // margins from here and ignores a page template's @page margins. Left and
    // right are left to the page template.
    constexpr double kTopAndBottom = 12.0 * 72.0 / 25.4; // 12 mm in points
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(0, kTopAndBottom, 0, kTopAndBottom), QPageLayout::Point);
}

void ReportRenderer::render(const QByteArray &html)
{
    if (m_started)
        return;
    m_started = true;
    // Off the record: no cache, cookies or history of a report reach the disk.
    m_profile = new QWebEngineProfile(this);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_handler = new ReportSchemeHandler(this);
    m_handler->setPage(html);
    m_profile->installUrlSchemeHandler(ReportSchemeHandler::schemeName(), m_handler);

    m_page = new ReportWebPage(m_profile, this);
    QWebEngineSettings *settings = m_page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    // Only the report page's own load counts: a refused navigation elsewhere
    // (a refresh or link in the page) ends as a failed load of that address.
    connect(m_page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        if (info.url() != ReportSchemeHandler::pageUrl())
            return;
        if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus)
            loaded(true);
        else if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus ||
                 info.status() == QWebEngineLoadingInfo::LoadStoppedStatus)
            loaded(false);
    });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus, int exitCode) {
                fail(QStringLiteral("the render process ended (%1)").arg(exitCode));
            });
    m_timeout.start();
    m_page->load(ReportSchemeHandler::pageUrl());
}

void ReportRenderer::loaded(bool ok)
{
    if (m_done || !m_page || m_printing)
        return;
    if (!ok) {
        kelvaris::trace(QStringLiteral("ERROR in generate pdf!"));
        fail(QStringLiteral("the page did not load"));
        return;
    }
    m_printing = true;
    emit pageLoaded();
    // Only the callback form: nothing of the report is written to a file.
    const QPointer<ReportRenderer> self(this);
    m_page->printToPdf(
        [self](const QByteArray &pdf) {
            if (self)
                self->printed(pdf);
        },
        pageLayout());
}

void ReportRenderer::printed(const QByteArray &pdf)
{
    if (m_done)
        return;
    if (pdf.isEmpty()) {
        fail(QStringLiteral("the printed PDF is empty"));
        return;
    }
    m_done = true;
    m_timeout.stop();
    releasePage();
    emit finished(pdf);
}

void ReportRenderer::fail(const QString &reason)
{
    if (m_done)
        return;
    m_done = true;
    m_timeout.stop();
    kelvaris::trace(QStringLiteral("Report rendering failed: ") + reason);
    releasePage();
    emit failed(reason);
}

void ReportRenderer::releasePage()
{
    // Not from inside the page's own callback or signal.
    QTimer::singleShot(0, this, [this] { delete m_page; });
}
