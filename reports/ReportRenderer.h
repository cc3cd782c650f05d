#pragma once

#include <QByteArray>
#include <QObject>
#include <QPageLayout>
#include <QPointer>
#include <QString>
#include <QTimer>

class QWebEnginePage;
class QWebEngineProfile;
class ReportSchemeHandler;

// Renders one report page to an A4 PDF off screen, in memory: a web engine
// page on its own off-the-record profile, with JavaScript, local file access
// and navigation off, reads the page from a scheme handler and prints it with
// printToPdf's callback. Exactly one of finished() and failed() follows
// render(). The scheme must be registered (ReportSchemeHandler::registerScheme)
// before the application object exists.
class ReportRenderer : public QObject
{
    Q_OBJECT

public:
    explicit ReportRenderer(QObject *parent = nullptr);
    ~ReportRenderer() override;

    // A4 portrait in points; 12 mm margins at top and bottom, none at the sides.
    static QPageLayout pageLayout();

    // How long the load and print may take together (60 s by default).
    void setTimeout(int milliseconds) { m_timeout.setInterval(milliseconds); }

    // One render per object. The page as UTF-8.
    void render(const QByteArray &html);
    void render(const QString &html) { render(html.toUtf8()); }

signals:
    // The page is loaded and printing starts (for measurements).
    void pageLoaded();
    void finished(QByteArray pdf);
    // reason is for the trace; the user is told the report could not be rendered.
    void failed(QString reason);

private:
    void fail(const QString &reason);
    void loaded(bool ok);
    void printed(const QByteArray &pdf);
    void releasePage();

    QWebEngineProfile *m_profile = nullptr;
    ReportSchemeHandler *m_handler = nullptr;
    QPointer<QWebEnginePage> m_page;
    QTimer m_timeout;
    bool m_started = false;
    bool m_done = false;
    bool m_printing = false;
};
