#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QStackedWidget;
class QWidget;
class QtAuthDialog;
class ServerVisualizer;

// The login at start-up and after every logout, the permissions request that
// follows it, and what the user's roles show in the top bar. The login dialog
// is window modal and opened without a nested event loop; the flow goes on
// when it finishes.
//
// An account with neither role is logged out at once and sent back to the
// login dialog with "This account has no access".
class LoginFlow : public QObject
{
    Q_OBJECT

public:
    // The widgets of the main window whose visibility follows the user's roles.
    struct TopBar
    {
        QWidget *topBarWidget = nullptr;
        QWidget *doctorWidget = nullptr; // the patient search
        QWidget *adminWidget = nullptr;  // patient panel and session selectors
        QWidget *newPatientButton = nullptr;
        QWidget *logoutButton = nullptr;
        QStackedWidget *pages = nullptr;
    };

    // window: parent of the login dialog, closed when the user gives up.
    // serverName: the configuration's "server" value.
    LoginFlow(QWidget *window, const TopBar &topBar, const QString &serverName);

    // Every connection of this flow with the server client.
    void connectTo(ServerVisualizer *server);

    // Messages about the configuration, shown in the first login dialog.
    void setConfigurationProblems(const QStringList &problems);

    bool isLoggedIn() const { return m_loggedIn; }
    bool isDoctor() const { return m_isDoctor; }
    bool isPatientAdmin() const { return m_isPatientAdmin; }
    QString userName() const { return m_userName; }
    // The configuration's server name until a login confirms the API URL.
    QString serverName() const { return m_serverName; }
    // The login dialog while it is open, else null.
    QtAuthDialog *dialog() const;

    static QString noAccessMessage();

public slots:
    void showLoginDialog();
    // Forgets the session and runs the login again: the end of a logout,
    // once the saving flow has saved and the user agreed.
    void logOut();

signals:
    // Once per login, when the permissions grant at least one role.
    void loggedIn(bool isDoctor, bool isPatientAdmin, QString name);
    // The user's session ended; a new login dialog follows.
    void loggedOut();

private:
    void dialogFinished(QtAuthDialog *dialog);
    void userPermissions(bool isDoctor, bool isPatientAdmin, const QString &name);
    void hideTopBar();

    QWidget *m_window = nullptr;
    TopBar m_topBar;
    ServerVisualizer *m_server = nullptr;
    QPointer<QtAuthDialog> m_dialog;
    QString m_serverName;
    QString m_userName;
    // Shown in the next login dialog.
    QString m_pendingMessage;
    bool m_loggedIn = false;
    bool m_awaitingPermissions = false;
    bool m_isDoctor = false;
    bool m_isPatientAdmin = false;
};
