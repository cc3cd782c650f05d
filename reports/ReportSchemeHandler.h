#pragma once

#include <QByteArray>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

// Serves one report page to the web engine from memory: the page never goes
// through a file, and its size is not limited the way setHtml() is (2 MiB).
// Every other address of the scheme is refused.
class ReportSchemeHandler : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT

public:
    explicit ReportSchemeHandler(QObject *parent = nullptr);

    // Registers the scheme with the web engine. Must run before the
    // application object exists (in main() and in the rendering tests).
    static void registerScheme();
    static QByteArray schemeName();
    // The address the page is served at.
    static QUrl pageUrl();

    void setPage(const QByteArray &html) { m_page = html; }

    void requestStarted(QWebEngineUrlRequestJob *job) override;

private:
    QByteArray m_page;
};
