#include "reports/ReportsFlow.h"

#include "server/ServerVisualizer.h"
#include "session/LesionChangeSummary.h"
#include "session/SessionVisualizer.h"
#include "widgets/Trace.h"

#include <QTimer>

namespace {
constexpr int kNotificationMilliseconds = 5000;
}

ReportsFlow::ReportsFlow(QWidget *window) : QObject(window), m_window(window) {}

void ReportsFlow::connectTo(ServerVisualizer *server)
{
    m_server = server;
    reconnectReportSignals();
    // Told whether or not a dialog is still open: the doctor must never take a
    // failed upload for a stored report.
    connect(server, &ServerVisualizer::reportUploadFailed, this,
            [this](const QString &message) { emit showNotification(message, kNotificationMilliseconds); });
    connect(server, &ServerVisualizer::reportRequestFailed, this,
            [this](const QString &message) { emit showNotification(message, kNotificationMilliseconds); });
    connect(server, &ServerVisualizer::reportUploaded, this, [this] {
        if (!m_dialog)
            emit showNotification(tr("Report uploaded successfully"), kNotificationMilliseconds);
    });
}

void ReportsFlow::reconnectReportSignals()
{
    if (!m_server)
        return;
    if (disconnect(m_listConnection))
        kelvaris::trace(QStringLiteral("La connexió 'reportsListRecieved' existia i s'ha desconnectat."));
    else
        kelvaris::trace(QStringLiteral("La connexió 'reportsListRecieved' no existia."));
    if (disconnect(m_templatesConnection))
        kelvaris::trace(
            QStringLiteral("La connexió 'receivedReportTemplateList' existia i s'ha desconnectat."));
    else
        kelvaris::trace(QStringLiteral("La connexió 'receivedReportTemplateList' no existia."));
    m_listConnection =
        connect(m_server, &ServerVisualizer::reportsListRecieved, this, &ReportsFlow::reportsListRecieved);
    m_templatesConnection = connect(m_server, &ServerVisualizer::receivedReportTemplateList, this,
                                    &ReportsFlow::openReportEditor);
}

void ReportsFlow::wireDialog(QtReportWidget *dialog, ServerVisualizer *server, int patientId, int sessionId)
{
    connect(dialog, &QtReportWidget::getReportJson, server, &ServerVisualizer::getReportTemplate);
    connect(server, &ServerVisualizer::recievedReportTemplate, dialog, &QtReportWidget::recievedReportJson);
    connect(server, &ServerVisualizer::reportUploaded, dialog, &QtReportWidget::reportUploaded);
    connect(server, &ServerVisualizer::reportUploadFailed, dialog, &QtReportWidget::reportUploadFailed);
    connect(dialog, &QtReportWidget::uploadReport, server,
            [server, patientId, sessionId](const QByteArray &pdf) {
                server->uploadReport(patientId, sessionId, pdf);
            });
    connect(server, &ServerVisualizer::receivedReportTemplateList, dialog, &QtReportWidget::informTemplates);
    connect(dialog, &QtReportWidget::getReportsTemplateList, server,
            &ServerVisualizer::getReportTemplateList);
}

void ReportsFlow::reportListButtonClicked()
{
    const Context context = m_context ? m_context() : Context();
    if (m_server && context.session)
        m_server->getReport(context.session->getPatientId());
}

void ReportsFlow::reportButtonClicked()
{
    if (m_server)
        m_server->getReportTemplateList();
}

void ReportsFlow::openReportEditor(QJsonDocument templatesList)
{
    // A dialog that is open receives the list itself.
    if (m_dialog || m_opening)
        return;
    if (!templatesList.isArray()) {
        emit showNotification(tr("The report templates could not be read"), kNotificationMilliseconds);
        return;
    }
    openDialog(templatesList, true, {});
}

void ReportsFlow::reportsListRecieved(std::vector<std::pair<std::pair<QDate, QDate>, QUrl>> list)
{
    kelvaris::trace(QStringLiteral("kelvarisVisualizer::reportsListRecieved"));
    if (m_dialog || m_opening)
        return;
    openDialog(QJsonDocument(), false, std::move(list));
}

void ReportsFlow::openDialog(const QJsonDocument &templatesList, bool withTemplates,
                             QtReportWidget::ReportList list)
{
    // Queued, so that the reply that brought the list is finished before the
    // dialog's own event loop starts; double clicks open one dialog.
    m_opening = true;
    QTimer::singleShot(0, this, [this, templatesList, withTemplates, list = std::move(list)] {
        runDialog(templatesList, withTemplates, list);
    });
}

void ReportsFlow::runDialog(const QJsonDocument &templatesList, bool withTemplates,
                            QtReportWidget::ReportList list)
{
    const Context context = m_context ? m_context() : Context();
    if (!m_server || !context.session) {
        m_opening = false;
        return;
    }
    QPointer<QtReportWidget> dialog = new QtReportWidget(context.doctorName, context.patientName,
                                                         context.serverName, context.session, m_window);
    m_dialog = dialog;
    m_opening = false;
    wireDialog(dialog, m_server, context.session->getPatientId(), context.session->getSessionId());
    // Only a summary of this very session.
    const std::shared_ptr<const LesionChangeSummary> changes = m_changes ? m_changes() : nullptr;
    if (changes && changes->principalSessionId() == context.session->getSessionId())
        dialog->setChangeSummary(*changes);
    connect(dialog, qOverload<QString, int>(&QtReportWidget::showNotification), this,
            &ReportsFlow::showNotification);
    connect(dialog, qOverload<QString>(&QtReportWidget::showNotification), this,
            [this](const QString &message) { emit showNotification(message, kNotificationMilliseconds); });
    if (withTemplates) {
        dialog->informTemplates(templatesList);
        // The wait for the first template runs while the dialog is shown.
        QTimer::singleShot(0, dialog, [dialog] { dialog->loadFirstTemplate(); });
    } else {
        dialog->setReportsList(list);
    }
    emit dialogOpened(dialog);
    dialog->exec();
    // The dialog holds the session: it goes as soon as it closes.
    delete dialog;
}
