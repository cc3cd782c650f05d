#include "app/SavingFlow.h"

#include "app/LoginFlow.h"
#include "app/PatientSearch.h"
#include "app/SessionLoader.h"
#include "app/SplitterStateFile.h"
#include "app/kelvarisVisualizer.h"
#include "server/ServerVisualizer.h"
#include "session/SessionVisualizer.h"
#include "visualization/QtVisualizationWidgets.h"
#include "widgets/CustomMessageBox.h"
#include "widgets/Trace.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStackedWidget>

using kelvaris::trace;

namespace {

constexpr int kRegistrationPage = 2;

} // namespace

SavingFlow::SavingFlow(QWidget *window, const Widgets &widgets)
    : QObject(window), m_window(window), m_widgets(widgets)
{
    m_drainTimer.setSingleShot(true);
    connect(&m_drainTimer, &QTimer::timeout, this, &SavingFlow::queueWaitEnded);
}

void SavingFlow::connectTo(ServerVisualizer *server, SessionLoader *loader, LoginFlow *login,
                           PatientSearch *search)
{
    m_server = server;
    m_loader = loader;
    m_login = login;
    m_search = search;
    connect(server, &ServerVisualizer::uploadQueueChanged, this, &SavingFlow::uploadQueueChanged);
    connect(server, &ServerVisualizer::uploadNotice, this,
            [](const QString &message) { kelvarisVisualizer::showNotification(message); });
    connect(server, &ServerVisualizer::serverTimeout, this, &SavingFlow::serverTimeout);
    // Whatever lets the sessions go (another patient, a cancelled download)
    // saves them first.
    connect(loader, &SessionLoader::sessionsAboutToBeReleased, this, &SavingFlow::saveSessions);
    connect(loader, &SessionLoader::imageAdded, this, &SavingFlow::queueImage);
}

// --- saving ------------------------------------------------------------------------------

void SavingFlow::saveSessions()
{
    // Taking a snapshot clears the session's flag: never take one that the
    // queue would refuse (no login), or the edits would be forgotten.
    if (!m_server || !m_loader || !m_login || !m_login->isLoggedIn())
        return;
    for (const auto &entry : m_loader->sessions()) {
        const QSharedPointer<SessionVisualizer> &session = entry.second;
        if (!session || !session->hasChangesToSave())
            continue;
        m_server->queueUpload(UploadJob::fromSession(*session, 'L'));
    }
}

void SavingFlow::autosave()
{
    trace(QStringLiteral("try save"));
    if (m_loader && m_loader->principalSession())
        saveSessions();
    trace(QStringLiteral("try save out!"));
}

void SavingFlow::queueImage(const QSharedPointer<SessionVisualizer> &session, char type,
                            const QString &fileName, const QImage &image, const QByteArray &jpeg)
{
    if (!session || !m_server || !m_login || !m_login->isLoggedIn())
        return;
    UploadJob job = UploadJob::fromSession(*session, type, image, fileName);
    // The bytes the session holds go up as they are: encoding the decoded
    // picture again would lose detail at every upload.
    job.encodedImage = jpeg;
    m_server->queueUpload(std::move(job));
}

void SavingFlow::uploadQueueChanged(int jobs)
{
    if (m_widgets.progressBar)
        m_widgets.progressBar->setVisible(jobs > 0);
    if (jobs == 0 && m_drainDialog)
        queueWaitEnded();
}

void SavingFlow::setMaximumProgressBar(int max)
{
    if (!m_widgets.progressBar)
        return;
    m_widgets.progressBar->setMaximum(max);
    m_widgets.progressBar->setValue(0);
}

void SavingFlow::setValueProgressBar(int val)
{
    if (m_widgets.progressBar)
        m_widgets.progressBar->setValue(val);
}

void SavingFlow::allDoneProgressBar()
{
    if (m_widgets.progressBar)
        m_widgets.progressBar->setValue(m_widgets.progressBar->maximum());
}

// --- splitter layout ---------------------------------------------------------------------

void SavingFlow::saveSplitterStates()
{
    if (!m_loader || !m_loader->primaryView())
        return;
    SplitterStateFile::Layout layout;
    layout.viewStates = m_loader->primaryView()->getSplitterStates();
    const QByteArray *states = m_loader->splitterStates();
    layout.vertical = states[0];
    layout.scheme = states[1];
    layout.horizontal = states[2];
    SplitterStateFile::save(SplitterStateFile::writtenFileName(), layout);
}

void SavingFlow::loadSplitterStates()
{
    if (!m_loader || !m_loader->primaryView())
        return;
    const std::optional<SplitterStateFile::Layout> layout =
        SplitterStateFile::load(SplitterStateFile::readFileName());
    if (!layout)
        return;
    QByteArray *states = m_loader->splitterStates();
    states[0] = layout->vertical;
    states[1] = layout->scheme;
    states[2] = layout->horizontal;
    m_loader->primaryView()->setSplitterStates(layout->viewStates);
    // Null states are never restored; the clinical view restores the others
    // whenever it is laid out.
    if (m_loader->viewMode() == SessionLoader::ClinicalView)
        m_loader->showClinicalView();
}

// --- leaving -----------------------------------------------------------------------------

void SavingFlow::backToMenu(bool force)
{
    if (m_leaving != Leaving::None)
        return;
    saveSessions();
    // The questions are about leaving a session or the registration page.
    // When the loader itself goes back (a patient without sessions, a failed
    // or cancelled download) the sessions are already let go: asking then
    // would only leave their page showing with nothing behind it.
    const bool leaving = (m_loader && m_loader->principalSession()) ||
                         (m_widgets.pages && m_widgets.pages->currentIndex() == kRegistrationPage);
    if (!force && leaving) {
        if (m_server && m_server->uploadQueueSize() > 0) {
            m_leaving = Leaving::Back;
            ask(tr("Server is saving your last changes, exiting might lose data."), tr("Back"));
            return;
        }
        if (m_widgets.pages && m_widgets.pages->currentIndex() != 0) {
            m_leaving = Leaving::Back;
            ask(tr("Going back to the menu"), tr("Back"));
            return;
        }
    }
    goBack();
}

void SavingFlow::goBack()
{
    if (m_server)
        emit m_server->cancelDownload();
    saveSessions();
    printBanner(QStringLiteral("---------------------------------------------Label Button "
                               "Clicked----------------------------------------------------"));
    if (m_loader)
        m_loader->backToMenu();
    if (m_search)
        m_search->resetPatientPanel();
}

void SavingFlow::logout()
{
    // Also reached by the server's time-out: nothing to do while logged out
    // or while the login dialog is open.
    if (!m_login || !m_login->isLoggedIn() || m_login->dialog() || m_leaving == Leaving::Logout)
        return;
    if (m_leaving != Leaving::None) {
        m_timeoutPending = true;
        return;
    }
    trace(QStringLiteral("LOG OUT"));
    startLeaving(Leaving::Logout);
}

void SavingFlow::serverTimeout()
{
    logout();
}

bool SavingFlow::closeRequested()
{
    if (!m_login || !m_login->isLoggedIn() || m_closeAgreed)
        return true;
    if (m_leaving == Leaving::None)
        startLeaving(Leaving::Close);
    else if (m_question)
        m_question->raise();
    return false;
}

void SavingFlow::startLeaving(Leaving kind)
{
    m_leaving = kind;
    saveSessions();
    if (m_server && m_server->uploadQueueSize() > 0)
        waitForQueue();
    else
        queueWaitEnded();
}

void SavingFlow::waitForQueue()
{
    // What the leaving save just queued normally needs a moment: wait for it
    // rather than warn about it.
    auto *dialog = new QProgressDialog(m_window);
    dialog->setObjectName(QStringLiteral("ProgressDialog"));
    dialog->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowTitle(tr("Saving"));
    dialog->setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
    auto *label = new QLabel(tr("Saving your last changes…"));
    QFont font = QApplication::font();
    font.setPointSize(13);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setObjectName(QStringLiteral("ProgressDialogLabel"));
    dialog->setLabel(label);
    auto *cancel = new QPushButton(tr("Cancel"));
    cancel->setAutoDefault(false);
    cancel->setObjectName(QStringLiteral("ProgressDialogCancelButton"));
    dialog->setCancelButton(cancel);
    auto *bar = new QProgressBar;
    bar->setTextVisible(false);
    dialog->setBar(bar);
    dialog->setRange(0, 0); // busy: how long it takes is the server's
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    dialog->setMinimumWidth(666);
    dialog->setMinimumSize(350, 200);
    dialog->setAutoFillBackground(true);
    m_drainDialog = dialog;
    // Cancel stops the wait, not the leaving: the warning comes next.
    connect(dialog, &QProgressDialog::canceled, this, &SavingFlow::queueWaitEnded);
    m_drainTimer.start(m_drainWaitLimit);
    dialog->open();
}

void SavingFlow::queueWaitEnded()
{
    m_drainTimer.stop();
    if (QProgressDialog *dialog = m_drainDialog) {
        m_drainDialog = nullptr;
        // Hidden, not closed: closing a progress dialog reports a cancel.
        dialog->disconnect(this);
        dialog->hide();
        dialog->deleteLater();
    }
    const bool jobsLeft = m_server && m_server->uploadQueueSize() > 0;
    switch (m_leaving) {
    case Leaving::Logout:
        if (jobsLeft)
            ask(tr("Server is still saving your last changes, if you logout all changes could be lost.\n"),
                tr("Logout"));
        else
            proceed();
        break;
    case Leaving::Close:
        if (jobsLeft)
            ask(tr("Server is still saving your last changes, if you close all changes could be lost.\n"),
                tr("Close"));
        else
            ask(tr("Closing app.\n"), tr("Close"));
        break;
    case Leaving::Back:
    case Leaving::None:
        break;
    }
}

void SavingFlow::ask(const QString &message, const QString &title)
{
    auto *box = new CustomMessageBox(message, title, m_window);
    box->setObjectName(QStringLiteral("leavingQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    m_question = box;
    connect(box, &QDialog::finished, this, [this, box](int result) {
        if (m_question != box)
            return;
        m_question = nullptr;
        answered(result == QDialog::Accepted);
    });
    box->open();
}

void SavingFlow::answered(bool ok)
{
    if (!ok) {
        endLeaving();
        emit leavingCancelled();
        return;
    }
    proceed();
}

void SavingFlow::proceed()
{
    const Leaving kind = m_leaving;
    switch (kind) {
    case Leaving::Back:
        m_leaving = Leaving::None;
        goBack();
        endLeaving();
        break;
    case Leaving::Logout:
        finishLogout();
        break;
    case Leaving::Close:
        // The user accepted that what is still queued is lost.
        if (m_server)
            m_server->dropUploads();
        m_leaving = Leaving::None;
        m_timeoutPending = false;
        m_closeAgreed = true;
        m_window->close();
        // Should the window be shown again, its next close asks again.
        m_closeAgreed = false;
        break;
    case Leaving::None:
        break;
    }
}

void SavingFlow::finishLogout()
{
    // Accepted: the jobs of this login must not run under the next one.
    if (m_server)
        m_server->dropUploads();
    m_leaving = Leaving::None;
    m_timeoutPending = false;
    goBack();
    printBanner(QStringLiteral("--------------------------------------------Logout Button "
                               "Clicked----------------------------------------------------"));
    // Forgets the token and the patients, hides the top bar, and runs the
    // login dialog again.
    if (m_login)
        m_login->logOut();
}

void SavingFlow::endLeaving()
{
    m_leaving = Leaving::None;
    if (!m_timeoutPending)
        return;
    m_timeoutPending = false;
    // The session ended while the user was answering another question.
    QTimer::singleShot(0, this, &SavingFlow::logout);
}

void SavingFlow::printBanner(const QString &middle)
{
    const QString dashes(117, QLatin1Char('-'));
    trace(dashes);
    trace(dashes);
    trace(middle);
    trace(dashes);
    trace(dashes);
}
