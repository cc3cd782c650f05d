#pragma once

#include "reports/QtReportWidget.h"

#include <QJsonDocument>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QString>

#include <functional>
#include <memory>

class LesionChangeSummary;
class ServerVisualizer;
class SessionVisualizer;

// The reports flow of the main window: its two report buttons open the
// report editor on the patient's report list or on the template list, one
// dialog at a time, and the upload outcomes are told even after the dialog
// has closed. The window owns it, calls connectTo() once and forwards its
// report slots here.
class ReportsFlow : public QObject
{
    Q_OBJECT

public:
    // What a dialog is made for: the user, the patient shown and the
    // principal session (null while no patient is loaded).
    struct Context
    {
        QString doctorName;
        QString patientName;
        QString serverName;
        QSharedPointer<SessionVisualizer> session;
    };
    using ContextProvider = std::function<Context()>;
    // What changed since the last visit, offered as a table; may give null.
    using ChangesProvider = std::function<std::shared_ptr<const LesionChangeSummary>()>;

    // window: the dialogs' parent.
    explicit ReportsFlow(QWidget *window);

    // Every connection of the flow with the server client.
    void connectTo(ServerVisualizer *server);
    void setContextProvider(ContextProvider provider) { m_context = std::move(provider); }
    void setChangesProvider(ChangesProvider provider) { m_changes = std::move(provider); }

    // The connections between one dialog and the server client; they end
    // with the dialog. The upload goes to the session's patient and session.
    static void wireDialog(QtReportWidget *dialog, ServerVisualizer *server, int patientId, int sessionId);

    // The dialog being shown, if any.
    QtReportWidget *dialog() const { return m_dialog; }

public slots:
    // The report list button: asks for the principal session's patient's reports.
    void reportListButtonClicked();
    // The new report button: asks for the template list.
    void reportButtonClicked();
    void openReportEditor(QJsonDocument templatesList);
    void reportsListRecieved(std::vector<std::pair<std::pair<QDate, QDate>, QUrl>> list);
    // Makes the flow's two server connections exist exactly once.
    void reconnectReportSignals();

signals:
    void showNotification(QString message, int timeout);
    // Before the dialog runs (tests drive it from here).
    void dialogOpened(QtReportWidget *dialog);

private:
    void openDialog(const QJsonDocument &templatesList, bool withTemplates, QtReportWidget::ReportList list);
    void runDialog(const QJsonDocument &templatesList, bool withTemplates, QtReportWidget::ReportList list);

    QWidget *m_window = nullptr;
    QPointer<ServerVisualizer> m_server;
    ContextProvider m_context;
    ChangesProvider m_changes;
    QPointer<QtReportWidget> m_dialog;
    bool m_opening = false;
    QMetaObject::Connection m_listConnection;
    QMetaObject::Connection m_templatesConnection;
};
