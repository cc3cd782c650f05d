#include "reports/ReportSchemeHandler.h"

#include <QBuffer>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

ReportSchemeHandler::ReportSchemeHandler(QObject *parent) : QWebEngineUrlSchemeHandler(parent) {}

QByteArray ReportSchemeHandler::schemeName()
{
    return QByteArrayLiteral("kelvarisreport");
}

QUrl ReportSchemeHandler::pageUrl()
{
    return QUrl(QString::fromLatin1(schemeName()) + QStringLiteral(":report.html"));
}

void ReportSchemeHandler::registerScheme()
{
    QWebEngineUrlScheme scheme(schemeName());
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Secure, so that https pictures of a template (logo, photo) may load;
    // no access to local files.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

void ReportSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    if (job->requestMethod() != "GET" || job->requestUrl() != pageUrl()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    // The job owns the buffer, so that it lives exactly as long as the read.
    auto *buffer = new QBuffer(job);
    buffer->setData(m_page);
    buffer->open(QIODevice::ReadOnly);
    job->reply(QByteArrayLiteral("text/html"), buffer);
}
