#pragma once

#include "widgets/CustomMessageBox.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QSharedPointer>
#include <QString>
#include <QTimer>

class LoginFlow;
class PatientSearch;
class QImage;
class QProgressBar;
class QStackedWidget;
class ServerVisualizer;
class SessionLoader;
class SessionVisualizer;

// Saving, going back to the menu, logout and closing the program.
//
// A save queues one upload job per changed session on the server client's
// queue; it never waits. Saves run every 30 s while a session is shown, on
// the save button, before the sessions are let go and before leaving. The
// progress bar of the top bar shows exactly while jobs are queued.
//
// Logout and close first give the queue up to drainWaitMilliseconds to store
// what the leaving save just queued (a dialog "Saving your last changes…"
// with Cancel), and warn only when jobs are still left: accepting that
// warning drops them. Every question is opened, never run in a nested event
// loop; the close event is refused while one is open and the window closed
// again once the user agreed.
//
// The splitter layout file is read at start-up and written on the save button.
class SavingFlow : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QStackedWidget *pages = nullptr;
        QProgressBar *progressBar = nullptr;
    };
    enum class Leaving
    {
        None,
        Back,
        Logout,
        Close,
    };
    static constexpr int drainWaitMilliseconds = 10000;

    // window: parent of the questions and the dialog, and what Close closes.
    SavingFlow(QWidget *window, const Widgets &widgets);

    // Every connection of this flow: the server's upload queue and time-out,
    // the loader's released sessions and added images.
    void connectTo(ServerVisualizer *server, SessionLoader *loader, LoginFlow *login, PatientSearch *search);

    // The close handler: true when the close event may be accepted now
    // (before a login, or once the user agreed). Otherwise the leaving save
    // and its questions start, and the window is closed again at their end.
    bool closeRequested();

    // What is under way: a question or the wait for the queue.
    Leaving leaving() const { return m_leaving; }
    // The open question ("Back", "Logout", "Close") or the waiting dialog.
    CustomMessageBox *question() const { return m_question; }
    QProgressDialog *drainDialog() const { return m_drainDialog; }
    // Tests shorten the wait for the queue.
    void setDrainWaitLimit(int milliseconds) { m_drainWaitLimit = milliseconds; }

    // The splitter layout files, relative to the working directory.
    void saveSplitterStates();
    void loadSplitterStates();

public slots:
    // One 'L' job per session with changes to save (a snapshot of its
    // document, which clears its flag); sessions without changes are skipped.
    void saveSessions();
    // The 30 s timer: saves while a session is shown.
    void autosave();
    // Back to the menu: saves, then asks ("Back") unless force, or unless
    // nothing is left (no session shown, not on the registration page).
    void backToMenu(bool force);
    // The logout button and the server's time-out: saves, waits for the
    // queue, warns when jobs are left, then returns to the login dialog.
    void logout();

    // The upload queue's progress (the server's signals through the window).
    void setMaximumProgressBar(int max);
    void setValueProgressBar(int val);
    void allDoneProgressBar();

signals:
    // A leaving flow ended without leaving (the user said no).
    void leavingCancelled();

private:
    void queueImage(const QSharedPointer<SessionVisualizer> &session, char type, const QString &fileName,
                    const QImage &image, const QByteArray &jpeg);
    void uploadQueueChanged(int jobs);
    void serverTimeout();
    void startLeaving(Leaving kind);
    void waitForQueue();
    void queueWaitEnded();
    void ask(const QString &message, const QString &title);
    void answered(bool ok);
    void proceed();
    void endLeaving();
    void goBack();
    void finishLogout();
    void printBanner(const QString &middle);

    QWidget *m_window = nullptr;
    Widgets m_widgets;
    ServerVisualizer *m_server = nullptr;
    SessionLoader *m_loader = nullptr;
    LoginFlow *m_login = nullptr;
    PatientSearch *m_search = nullptr;

    Leaving m_leaving = Leaving::None;
    QPointer<CustomMessageBox> m_question;
    QPointer<QProgressDialog> m_drainDialog;
    QTimer m_drainTimer;
    int m_drainWaitLimit = drainWaitMilliseconds;
    // The user agreed to close: the next close event is accepted.
    bool m_closeAgreed = false;
    // A server time-out that came while another question was open.
    bool m_timeoutPending = false;
};
