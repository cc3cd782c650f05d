#include "app/LoginFlow.h"

#include "server/QtAuthDialog.h"
#include "server/ServerVisualizer.h"
#include "widgets/Trace.h"

#include <QLabel>
#include <QStackedWidget>
#include <QTimer>

LoginFlow::LoginFlow(QWidget *window, const TopBar &topBar, const QString &serverName)
    : QObject(window), m_window(window), m_topBar(topBar), m_serverName(serverName)
{
}

QtAuthDialog *LoginFlow::dialog() const
{
    return m_dialog;
}

QString LoginFlow::noAccessMessage()
{
    return tr("This account has no access");
}

void LoginFlow::connectTo(ServerVisualizer *server)
{
    m_server = server;
    connect(server, &ServerVisualizer::userPermissions, this, &LoginFlow::userPermissions);
    // The server's time-out is a logout of the saving flow (save first).
}

void LoginFlow::setConfigurationProblems(const QStringList &problems)
{
    m_pendingMessage = problems.join(QLatin1Char('\n'));
}

void LoginFlow::showLoginDialog()
{
    if (!m_server)
        return;
    if (m_dialog) {
        m_dialog->raise();
        return;
    }
    m_loggedIn = false;
    m_awaitingPermissions = false;
    auto *dialog = new QtAuthDialog(m_window);
    m_dialog = dialog;
    dialog->connectTo(m_server);
    connect(m_server, &ServerVisualizer::correctServerName, dialog,
            [this](const QString &url) { m_serverName = url; });
    if (!m_pendingMessage.isEmpty()) {
        dialog->ui.errorMessage->setText(m_pendingMessage);
        m_pendingMessage.clear();
    }
    connect(dialog, &QDialog::finished, this, [this, dialog] { dialogFinished(dialog); });
    // Window modal without a nested event loop: nothing else waits for it.
    dialog->open();
}

void LoginFlow::dialogFinished(QtAuthDialog *dialog)
{
    // A late answer of the finished login must not reach the dialog.
    disconnect(m_server, nullptr, dialog, nullptr);
    const bool correct = dialog->correct();
    dialog->deleteLater();
    m_dialog = nullptr;
    if (!correct) {
        kelvaris::trace(QStringLiteral("CLOSE EVERYTHING!!"));
        QTimer::singleShot(0, m_window, &QWidget::close);
        return;
    }
    m_loggedIn = true;
    m_awaitingPermissions = true;
    // The keyboard goes back to the window the dialog covered.
    m_window->activateWindow();
    m_server->checkPermissions();
}

void LoginFlow::userPermissions(bool isDoctor, bool isPatientAdmin, const QString &name)
{
    // An answer of an earlier login, after a logout, means nothing now.
    if (!m_loggedIn || !m_awaitingPermissions)
        return;
    m_awaitingPermissions = false;
    if (!isDoctor && !isPatientAdmin) {
        // Nothing of the program is open to this account: end its session
        // rather than leave a window with nothing in it.
        kelvaris::trace(QStringLiteral("LoginFlow: an account without a role"));
        m_loggedIn = false;
        m_server->clearSession();
        m_pendingMessage = noAccessMessage();
        showLoginDialog();
        return;
    }
    m_isDoctor = isDoctor;
    m_isPatientAdmin = isPatientAdmin;
    m_userName = name;
    m_topBar.topBarWidget->show();
    // Set both ways: the previous user may have had other roles.
    m_topBar.doctorWidget->setVisible(isDoctor);
    m_topBar.adminWidget->setVisible(isDoctor);
    m_topBar.newPatientButton->setVisible(isPatientAdmin);
    m_topBar.logoutButton->show();
    if (isDoctor)
        m_server->listPatients();
    emit loggedIn(isDoctor, isPatientAdmin, name);
}

void LoginFlow::logOut()
{
    // A login already under way is the logout's end state.
    if (m_dialog || !m_server)
        return;
    kelvaris::trace(QStringLiteral("LOG OUT"));
    const bool wasLoggedIn = m_loggedIn;
    emit m_server->cancelDownloadListPatients();
    emit m_server->cancelDownload();
    m_server->clearSession();
    m_loggedIn = false;
    m_awaitingPermissions = false;
    m_isDoctor = false;
    m_isPatientAdmin = false;
    m_userName.clear();
    hideTopBar();
    if (wasLoggedIn)
        emit loggedOut();
    showLoginDialog();
}

void LoginFlow::hideTopBar()
{
    for (QWidget *w : {m_topBar.topBarWidget, m_topBar.doctorWidget, m_topBar.adminWidget,
                       m_topBar.newPatientButton, m_topBar.logoutButton})
        w->hide();
    m_topBar.pages->setCurrentIndex(0);
}
