#include "app/SessionLoader.h"

#include "app/LoginFlow.h"
#include "app/kelvarisVisualizer.h"
#include "server/ServerVisualizer.h"
#include "session/CustomIconSessionProxyModel.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"
#include "session/SessionsModel.h"
#include "visualization/QtVisualizationWidgets.h"
#include "widgets/ButtonContainer.h"
#include "widgets/CustomComboBox.h"
#include "widgets/CustomHoverButton.h"
#include "widgets/CustomMessageBox.h"
#include "widgets/DoubleClickButton.h"
#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMovie>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <exception>

using kelvaris::trace;

namespace {

qint64 steadyNow()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed();
}

} // namespace

SessionLoader::SessionLoader(kelvarisVisualizer *window) : QObject(window), m_window(window)
{
    m_receiveTimer.setInterval(arrivalPollMilliseconds);
    connect(&m_receiveTimer, &QTimer::timeout, this, &SessionLoader::sessionArrivalCheck);
}

SessionLoader::~SessionLoader()
{
    // A wait still running belongs to a stack frame below us: let it end.
    if (m_waitLoop)
        m_waitLoop->exit(1);
    for (const auto &entry : m_sessions)
        if (entry.second)
            entry.second->releaseHistoricLinks();
}

void SessionLoader::connectTo(ServerVisualizer *server)
{
    m_server = server;
    connect(server, &ServerVisualizer::recievedSessionJson, this, &SessionLoader::recievedSessionJson);
    connect(server, &ServerVisualizer::sessionDocumentsRequested, this,
            &SessionLoader::sessionDocumentsRequested);
    connect(server, &ServerVisualizer::sessionListFailed, this, &SessionLoader::sessionListFailed);
    connect(server, &ServerVisualizer::sessionDocumentFailed, this, &SessionLoader::sessionDocumentFailed);
    connect(server, &ServerVisualizer::sessionDownloadReply, this, &SessionLoader::forwardDownloadReply);
    connect(server, &ServerVisualizer::imgDownloadDone, this, &SessionLoader::forwardImage);
}

// --- loading a patient -----------------------------------------------------------------

bool SessionLoader::isCurrentPatient(const QString &patientID) const
{
    return !m_loadingPatient.isEmpty() && patientID == m_loadingPatient;
}

void SessionLoader::loadPatient(const Patient &patient)
{
    if (!m_server || !m_sessionsModel)
        return;
    // Another patient: whatever the previous one was waiting for ends now.
    releasePatient();
    const QString id = QString::fromStdString(patient.patientID);
    bool numeric = false;
    const int number = id.toInt(&numeric);
    if (!numeric)
        return;
    m_window->currentPatientId = number;
    m_loadingPatient = id;

    setSelectorsBlocked(true);
    m_sessionsModel->clear();
    m_receivedCount = 0;
    m_missingSessions.clear();
    initializeProgressDialog(tr("Load patient data"), tr("Downloading patient data"), 0);
    m_expectedCount = -1;
    m_server->getSessionsJsons(id);
    m_receiveTimer.start();
}

void SessionLoader::initializeProgressDialog(QString title, QString labelText, int value)
{
    trace(QStringLiteral("kelvarisVisualizer::initializeProgressDialog"));
    closeLoadingDialog();
    auto *dialog = new QProgressDialog(labelText, tr("Cancel"), 0, 100, m_window);
    auto *bar = new QProgressBar();
    bar->setTextVisible(false);
    dialog->setBar(bar);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setObjectName(QStringLiteral("ProgressDialog"));
    auto *label = new QLabel(labelText);
    QFont font = QApplication::font();
    font.setPointSize(13);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setObjectName(QStringLiteral("ProgressDialogLabel"));
    dialog->setLabel(label);
    dialog->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    auto *cancel = new QPushButton(tr("Cancel"));
    cancel->setAutoDefault(false);
    cancel->setObjectName(QStringLiteral("ProgressDialogCancelButton"));
    dialog->setCancelButton(cancel);
    dialog->setMinimumWidth(666);
    dialog->setAutoFillBackground(true);
    dialog->setWindowTitle(title);
    dialog->setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
    dialog->setMinimumDuration(0);
    dialog->setMinimumSize(350, 200);
    dialog->setValue(value);
    dialog->setAutoClose(true);
    m_loadingDialog = dialog;
    m_lastProgressUpdate = steadyNow();

    // Every cancel ends the wait it belongs to at once. While the patient is
    // still loading it also gives up the patient.
    connect(dialog, &QProgressDialog::canceled, this, [this] {
        if (m_server)
            emit m_server->cancelDownload();
        trace(QStringLiteral("CANCELLED HERE!"));
        if (m_waitLoop)
            m_waitLoop->exit(1);
        if (m_receiveTimer.isActive() || !m_principalSession) {
            m_receiveTimer.stop();
            downloadCanceled();
        }
    });
    dialog->show();
}

void SessionLoader::closeLoadingDialog()
{
    if (!m_loadingDialog)
        return;
    QProgressDialog *dialog = m_loadingDialog;
    m_loadingDialog = nullptr;
    // Hidden, not closed: closing a progress dialog reports a cancel.
    dialog->disconnect();
    disconnect(dialog, nullptr, this, nullptr);
    dialog->hide();
    dialog->deleteLater();
}

void SessionLoader::updateProgressBar(int value, int maximum)
{
    trace(QStringLiteral("kelvarisVisualizer::updateProgressBar to %1 max: %2").arg(value).arg(maximum));
    if (!m_loadingDialog || !m_loadingDialog->isVisible())
        return;
    const qint64 now = steadyNow();
    if (now - m_lastProgressUpdate > 1999999) {
        m_lastProgressUpdate = now;
        if (maximum != -1)
            m_loadingDialog->setMaximum(maximum);
        m_loadingDialog->setValue(value);
    } else if (value == m_loadingDialog->maximum()) {
        trace(QStringLiteral("MAXIMUM VALUE"));
        m_loadingDialog->setValue(value);
    }
    if (m_loadingDialog && m_loadingDialog->value() >= m_loadingDialog->maximum())
        closeLoadingDialog();
}

void SessionLoader::recievedSessionJson(QJsonDocument sessionJson, QString patientID, QString sessionID,
                                        QDateTime sessionDate, int nJsonToDownload)
{
    trace(QStringLiteral("Recieved: ") + sessionID + QStringLiteral(" date: ") +
          sessionDate.toString(QStringLiteral("dd.MM.yyyy")) +
          QStringLiteral(" %1/%2").arg(int(m_receivedCount)).arg(nJsonToDownload));
    // A document of a patient given up (Back, Cancel, another patient) is dropped.
    if (!isCurrentPatient(patientID) || !m_receiveTimer.isActive())
        return;
    m_expectedCount = nJsonToDownload;

    bool numeric = false;
    const int sessionId = sessionID.toInt(&numeric);
    if (!numeric || m_sessions.count(sessionId)) {
        m_missingSessions << sessionID;
        ++m_receivedCount;
        checkArrivalSoon();
        return;
    }
    // Nothing may escape a slot: a session that cannot be made is reported
    // and skipped, the others load.
    try {
        const QString folder = QStringLiteral("sessions/") + patientID + QLatin1Char('/') + sessionID;
        auto session = QSharedPointer<SessionVisualizer>::create(folder, patientID.toInt(), sessionId,
                                                                 sessionJson, sessionDate);
        session->readSessionJson();
        session->createContextMenu();
        connectSession(session);
        m_sessions.emplace(sessionId, session);
        trace(
            QStringLiteral("Dins sessio a sessionsDownloaded: %1 %2").arg(sessionID).arg(m_sessions.size()));
    } catch (const std::exception &e) {
        trace(QStringLiteral("ERROOOORR2: ") + QString::fromLocal8Bit(e.what()));
        m_missingSessions << sessionID;
    } catch (...) {
        trace(QStringLiteral("ERROOOORR2: Unknown exception"));
        m_missingSessions << sessionID;
    }
    ++m_receivedCount;
    checkArrivalSoon();
}

void SessionLoader::connectSession(const QSharedPointer<SessionVisualizer> &session)
{
    SessionVisualizer *s = session.data();
    connect(s, &SessionVisualizer::progressBarUpdateValue, this, &SessionLoader::updateProgressBar);
    connect(s, &SessionVisualizer::downloadImage, m_server, &ServerVisualizer::downloadImage);
    connect(s, &SessionVisualizer::downloadSessionImage, m_server,
            [server = m_server](int patientId, int sessionID, QString ID, QString type, int quality) {
                server->downloadSession(patientId, sessionID, type == QLatin1String("D"),
                                        type == QLatin1String("C"), true, ID, quality);
            });
    // A new dermatoscopic image goes up with the document of the session it
    // was added to (which need not be the principal one).
    connect(s, &SessionVisualizer::addedNewDermatoscopicImage, this,
            [this, weak = session.toWeakRef()](QString fileName, QImage image, bool hadDermato) {
                if (const QSharedPointer<SessionVisualizer> emitter = weak.toStrongRef())
                    emit imageAdded(emitter, 'D', fileName, image,
                                    emitter->getRawFile(QStringLiteral("/dermatoscopic/") + fileName));
                if (hadDermato && m_primaryView)
                    m_primaryView->dermatoUpdatePreview();
            });
    // Device requests (requestManualImageSignal, cancelImageRequest) are
    // forwarded by the device synchronisation flow.
}

void SessionLoader::sessionDocumentsRequested(QString patientID, int count)
{
    if (isCurrentPatient(patientID) && m_receiveTimer.isActive()) {
        m_expectedCount = count;
        checkArrivalSoon();
    }
}

void SessionLoader::checkArrivalSoon()
{
    // The poll would find it within 500 ms; the last arrival need not wait
    // for it. Posted, so that the check never runs inside a reply handler.
    if (m_expectedCount >= 0 && m_receivedCount >= m_expectedCount)
        QTimer::singleShot(0, this, [this, generation = m_generation] {
            if (generation == m_generation && m_receiveTimer.isActive())
                sessionArrivalCheck();
        });
}

void SessionLoader::sessionDocumentFailed(QString patientID, QString sessionID)
{
    if (!isCurrentPatient(patientID) || !m_receiveTimer.isActive())
        return;
    trace(QStringLiteral("Session document failed: ") + sessionID);
    m_missingSessions << sessionID;
    ++m_receivedCount;
    checkArrivalSoon();
}

void SessionLoader::sessionListFailed(QString patientID)
{
    if (!isCurrentPatient(patientID) || !m_receiveTimer.isActive())
        return;
    endLoadingWithoutSessions(tr("The sessions of this patient could not be downloaded"));
}

void SessionLoader::endLoadingWithoutSessions(const QString &message)
{
    m_receiveTimer.stop();
    closeLoadingDialog();
    kelvarisVisualizer::showNotification(message, 5000);
    m_window->on_labelButton_clicked(false);
    emit patientLoaded(false);
}

void SessionLoader::sessionArrivalCheck()
{
    if (m_expectedCount < 0 || m_receivedCount < m_expectedCount)
        return;
    m_receiveTimer.stop();
    if (m_sessions.empty()) {
        endLoadingWithoutSessions(m_expectedCount == 0
                                      ? tr("This patient has no sessions yet")
                                      : tr("No session of this patient could be downloaded"));
        return;
    }
    if (!m_missingSessions.isEmpty())
        kelvarisVisualizer::showNotification(tr("These sessions could not be downloaded: %1")
                                                 .arg(m_missingSessions.join(QStringLiteral(", "))),
                                             5000);
    setSelectorsBlocked(false);
    updateProgressBar(10, -1);

    m_sessionIds.clear();
    for (const auto &entry : m_sessions)
        m_sessionIds.push_back(entry.first);
    std::sort(m_sessionIds.begin(), m_sessionIds.end());
    groupLesionsByID();

    // All rows first, the principal session afterwards: its download waits,
    // and the model must not be half filled meanwhile.
    setSelectorsBlocked(true);
    for (auto it = m_sessionIds.begin(); it != m_sessionIds.end();) {
        const auto found = m_sessions.find(*it);
        if (found != m_sessions.end() && found->second) {
            m_sessionsModel->addItem(found->second);
            ++it;
        } else {
            if (found != m_sessions.end())
                m_sessions.erase(found);
            it = m_sessionIds.erase(it);
        }
    }
    for (CustomComboBox *box : m_selectors)
        box->setCurrentIndex(-1);
    setSelectorsBlocked(false);

    const quint64 generation = m_generation;
    m_selectors[PrincipalSelector]->setCurrentIndex(0);
    // Released while the principal session was waited for or built.
    if (generation != m_generation)
        return;
    if (!m_principalSession) {
        closeLoadingDialog();
        kelvarisVisualizer::showNotification(tr("The session could not be downloaded"), 5000);
        m_window->on_labelButton_clicked(false);
        emit patientLoaded(false);
        return;
    }

    const int count = int(m_sessionIds.size());
    CustomComboBox *mid = m_selectors[MidSelector];
    if (count < 2) {
        m_selectors[LeftSelector]->setCurrentIndex(-1);
        {
            const QSignalBlocker blocker(mid);
            mid->setCurrentIndex(-1);
        }
        stopLoadingAnimation();
    } else {
        const int row = rowOfSession(m_sessionIds[1]);
        m_selectors[LeftSelector]->setCurrentIndex(row);
        if (generation != m_generation)
            return;
        {
            const QSignalBlocker blocker(mid);
            mid->setCurrentIndex(row);
        }
        m_midIndex = row;
    }
    CustomComboBox *left = m_selectors[DermatosLeftSelector];
    if (count < 3) {
        {
            const QSignalBlocker blocker(left);
            left->setCurrentIndex(-1);
        }
        m_selectorWidgets[DermatosLeftSelector]->hide();
        setSelectorStyle(mid, 'E', 'F');
        m_selectorLabels[MidSelector]->setText(tr("Displayed Left"));
    } else {
        left->setCurrentIndex(rowOfSession(m_sessionIds.back()));
        if (generation != m_generation)
            return;
        if (m_viewMode == DermoscopicView)
            m_selectorWidgets[DermatosLeftSelector]->show();
        setSelectorStyle(mid, 'G', 'G');
        m_selectorLabels[MidSelector]->setText(tr("Displayed Mid"));
    }
    emit patientLoaded(true);
}

void SessionLoader::groupLesionsByID()
{
    linkSameLesions(m_sessions);
    emit lesionsRegrouped();
}

void SessionLoader::linkSameLesions(const std::map<int, QSharedPointer<SessionVisualizer>> &sessions)
{
    // position name -> numeric id -> (session id, lesion)
    std::map<QString, std::map<int, std::vector<std::pair<int, QSharedPointer<LesionVisualizer>>>>> groups;
    for (const auto &[sessionId, session] : sessions) {
        if (!session)
            continue;
        const std::vector<QString> &names = session->getPositionNames();
        for (int i = 0; i < int(names.size()); ++i) {
            const auto lesions = session->getLesions().value(i);
            for (const QSharedPointer<LesionVisualizer> &lesion : lesions) {
                // -1 is "no number": such lesions are not one lesion.
                if (!lesion || lesion->getNumericID() == -1)
                    continue;
                groups[names[i]][lesion->getNumericID()].emplace_back(sessionId, lesion);
            }
        }
    }
    for (const auto &[name, byId] : groups)
        for (const auto &[id, members] : byId)
            for (const auto &member : members)
                for (const auto &other : members)
                    if (other.second != member.second)
                        member.second->addHistoricLesion(other.second, other.first);
}

void SessionLoader::changeHistoricLesions(QSharedPointer<LesionVisualizer> lesion)
{
    groupLesionsByID();
    if (!lesion)
        return;
    const QSharedPointer<SessionVisualizer> left = sessionOfSelector(DermatosLeftSelector);
    const QSharedPointer<SessionVisualizer> mid = sessionOfSelector(MidSelector);
    if (!left && !mid)
        return;
    lesion->changeHistoricLesionsToShow(left ? left->getSessionId() : -1, mid ? mid->getSessionId() : -1);
}

// --- releasing -------------------------------------------------------------------------

void SessionLoader::releasePatient()
{
    if (!m_sessions.empty())
        emit sessionsAboutToBeReleased();
    ++m_generation;
    if (m_waitLoop)
        m_waitLoop->exit(1);
    m_receiveTimer.stop();
    closeLoadingDialog();
    disconnect(m_secondaryDownloadConnection);
    disconnect(m_dermatosDownloadConnection);
    m_expectedCount = -1;
    m_receivedCount = 0;
    m_missingSessions.clear();
    m_loadingPatient.clear();
    if (m_sessionsModel) {
        setSelectorsBlocked(true);
        m_sessionsModel->clear();
        for (CustomComboBox *box : m_selectors)
            box->setCurrentIndex(-1);
        setSelectorsBlocked(false);
    }
    m_principalIndex = m_secondaryIndex = m_midIndex = m_dermatosLeftIndex = -1;
    if (m_schemeWidget) {
        m_schemeWidget->deleteLater();
        m_schemeWidget = nullptr;
    }
    // Lesions of a patient's sessions hold each other: cut the links so that
    // nothing of this patient stays in memory.
    for (const auto &entry : m_sessions)
        if (entry.second)
            entry.second->releaseHistoricLinks();
    m_sessions.clear();
    m_sessionIds.clear();
    m_principalSession.reset();
    m_secondarySession.reset();
    resetViewModes();
}

void SessionLoader::downloadCanceled()
{
    const QString dashes(117, QLatin1Char('-'));
    trace(dashes);
    trace(dashes);
    trace(QStringLiteral("----------------------------------------------Download "
                         "Canceled------------------------------------------------------"));
    trace(dashes);
    trace(dashes);
    releasePatient();
    m_window->currentPatientId = -1;
    m_window->on_labelButton_clicked(false);
}

void SessionLoader::backToMenu()
{
    releasePatient();
    m_window->currentPatientId = -1;
    if (!m_sessionsModel)
        return;
    Ui::kelvarisVisualizerClass &ui = m_window->ui;
    ui.stackedWidget->setCurrentIndex(0);
    ui.widgetLegendTopBar->hide();
    showPatientPanel(false);
    for (QWidget *widget : m_selectorWidgets)
        widget->hide();
    for (CustomHoverButton *button :
         {m_window->setHybridViewButton, m_window->setCompareViewButton, m_window->setDermatosViewButton,
          m_window->saveSessionButton, m_window->manualButton, m_window->reportListButton,
          m_window->reportButton, m_window->exitButton})
        button->hide();
    if (m_window->m_login && m_window->m_login->isLoggedIn()) {
        ui.widget_doctor->setVisible(m_window->m_login->isDoctor());
        m_window->logoutButton->show();
        m_window->newPatientButton->setVisible(m_window->m_login->isPatientAdmin());
    }
    if (m_window->autosaveTimerId) {
        m_window->killTimer(m_window->autosaveTimerId);
        m_window->autosaveTimerId = 0;
    }
}

void SessionLoader::setPatientPanel(QWidget *panel)
{
    m_patientPanel = panel;
}

void SessionLoader::showPatientPanel(bool shown)
{
    if (m_patientPanel)
        m_patientPanel->setVisible(shown);
}

void SessionLoader::resetViewModes()
{
    if (!m_sessionsModel || !m_window->loadingMovie)
        return;
    // A patient starts in the hybrid view; the comparison buttons wait for
    // this patient's sessions, never showing those of the previous one.
    if (m_viewMode != HybridView) {
        showHybridView();
        m_viewMode = HybridView;
    }
    m_window->setHybridViewButton->setChecked(true);
    m_window->setCompareViewButton->setEnabled(false);
    m_window->setDermatosViewButton->setEnabled(false);
    QMovie *movie = m_window->loadingMovie;
    disconnect(m_window->compareMovieConnection);
    disconnect(m_window->dermatosMovieConnection);
    m_window->compareMovieConnection =
        connect(movie, &QMovie::frameChanged, m_window, [window = m_window, movie] {
            window->setCompareViewButton->setIcon(QIcon(movie->currentPixmap()));
        });
    m_window->dermatosMovieConnection =
        connect(movie, &QMovie::frameChanged, m_window, [window = m_window, movie] {
            window->setDermatosViewButton->setIcon(QIcon(movie->currentPixmap()));
        });
    movie->stop();
    movie->start();
}

// --- selectors -------------------------------------------------------------------------

void SessionLoader::setSelectorsBlocked(bool blocked)
{
    for (CustomComboBox *box : m_selectors)
        if (box)
            box->blockSignals(blocked);
}

void SessionLoader::setSelectorStyle(CustomComboBox *box, char closed, char open)
{
    box->closedStyleSheet = CustomComboBox::styleSheetById(closed);
    box->openStyleSheet = CustomComboBox::styleSheetById(open);
    box->setStyleSheet(box->closedStyleSheet);
}

QSharedPointer<SessionVisualizer> SessionLoader::sessionOfRow(int row) const
{
    return m_sessionsModel ? m_sessionsModel->sessionAt(row) : QSharedPointer<SessionVisualizer>();
}

QSharedPointer<SessionVisualizer> SessionLoader::sessionOfSelector(Selector which) const
{
    return sessionOfRow(m_selectors[which] ? m_selectors[which]->currentIndex() : -1);
}

int SessionLoader::rowOfSession(int sessionId) const
{
    for (int row = 0; row < m_sessionsModel->rowCount(); ++row) {
        const QSharedPointer<SessionVisualizer> s = m_sessionsModel->sessionAt(row);
        if (s && s->getSessionId() == sessionId)
            return row;
    }
    return -1;
}

void SessionLoader::sessionSelectorChanged(int index, int sectorID)
{
    if (!m_sessionsModel || m_sessionsModel->rowCount() == 0)
        return;
    trace(QStringLiteral("QtVisualizationWidgets::sessionSelectorChanged"));
    int sector = sectorID;
    CustomComboBox *principalBox = m_selectors[PrincipalSelector];
    auto putPrincipalBack = [this, principalBox] {
        const QSignalBlocker blocker(principalBox);
        principalBox->setCurrentIndex(m_principalIndex);
    };
    if (sector != 0) {
        m_secondaryIndex = index;
    } else if (m_viewMode == ClinicalView && m_principalSession) {
        QMessageBox box(QMessageBox::Warning, tr("Warning "),
                        tr("Do you want to change the displayed session?"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_window);
        box.setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
        box.button(QMessageBox::No)->setText(tr("Open session in compare view"));
        const quint64 generation = m_generation;
        const int answer = box.exec();
        if (generation != m_generation)
            return;
        if (answer == QMessageBox::No) {
            putPrincipalBack();
            sector = 1;
            const QSignalBlocker blocker(m_selectors[LeftSelector]);
            m_selectors[LeftSelector]->setCurrentIndex(index);
        } else if (answer != QMessageBox::Yes) {
            putPrincipalBack();
            return;
        }
        (sector == 0 ? m_principalIndex : m_secondaryIndex) = index;
    } else {
        m_principalIndex = index;
    }

    Ui::kelvarisVisualizerClass &ui = m_window->ui;
    ui.stackedWidget->setCurrentIndex(0);
    m_window->saveSessionButton->hide();
    trace(QStringLiteral("Change selector: %1 to index: %2").arg(sector).arg(index));
    if (m_schemeWidget) {
        m_schemeWidget->deleteLater();
        m_schemeWidget = nullptr;
    }

    const quint64 generation = m_generation;
    auto makePrincipal = [this](const QSharedPointer<SessionVisualizer> &s) {
        if (s == m_principalSession)
            return true;
        if (m_principalSession) {
            m_principalSession->setPrincipalSession(false);
            m_principalSession->setEnabled(true);
        }
        s->setPrincipalSession(true);
        s->setEnabled(false);
        m_principalSession = s;
        return buildViewFromDisk();
    };

    QSharedPointer<SessionVisualizer> s = sessionOfRow(index);
    if (s) {
        // Telling the server the new current session belongs to the device
        // synchronisation flow.
        if (s->isDownloaded()) {
            if (!m_loadingDialog || !m_loadingDialog->isVisible())
                initializeProgressDialog(tr("Loading"), tr("Loading session"), 70);
            if (sector == 1) {
                if (s != m_secondarySession) {
                    m_secondarySession = s;
                    if (!buildSecondaryView()) {
                        if (generation == m_generation)
                            m_window->on_labelButton_clicked(false);
                        return;
                    }
                }
            } else if (!makePrincipal(s)) {
                return;
            }
            closeLoadingDialog();
        } else {
            const bool quiet = sector == 1 && (m_viewMode == HybridView || m_viewMode == DermoscopicView);
            if (!quiet && (!m_loadingDialog || !m_loadingDialog->isVisible()))
                initializeProgressDialog(tr("Loading"), tr("Loading session"), 10);
            const bool downloaded =
                ensureSessionDownloaded(s->getPatientId(), s->getSessionId(), true, quiet);
            // Given up while waiting (Cancel, Back, logout, another patient).
            if (generation != m_generation)
                return;
            if (!downloaded) {
                closeLoadingDialog();
                if (sector == 0)
                    putPrincipalBack();
            } else if (sector == 1) {
                if (s != m_secondarySession)
                    m_secondarySession = s;
                if (quiet) {
                    disconnect(m_secondaryDownloadConnection);
                    m_secondaryDownloadConnection = connect(s.data(), &SessionVisualizer::downloadSessionDone,
                                                            this, &SessionLoader::secondaryDownloadDone);
                } else if (!buildSecondaryView()) {
                    if (generation == m_generation)
                        m_window->on_labelButton_clicked(false);
                    return;
                }
            } else if (!makePrincipal(s)) {
                return;
            }
        }
    }
    if (generation != m_generation)
        return;

    if (sector == 0 && m_principalSession) {
        const QSharedPointer<SessionVisualizer> mid = sessionOfSelector(MidSelector);
        const QSharedPointer<SessionVisualizer> left = sessionOfSelector(DermatosLeftSelector);
        const QSharedPointer<SessionVisualizer> &p = m_principalSession;
        const bool midShown = mid && mid != p;
        const bool leftShown = left && left != p;
        if (midShown && leftShown) {
            emit p->changeHistoricLesionsToShow(left->getSessionId(), mid->getSessionId());
        } else if (midShown) {
            emit p->changeHistoricLesionsToShow(-1, mid->getSessionId());
            const QSignalBlocker blocker(m_selectors[DermatosLeftSelector]);
            m_selectors[DermatosLeftSelector]->setCurrentIndex(-1);
        } else if (leftShown) {
            emit p->changeHistoricLesionsToShow(left->getSessionId(), -1);
            const QSignalBlocker blocker(m_selectors[MidSelector]);
            m_selectors[MidSelector]->setCurrentIndex(-1);
        } else {
            const QSignalBlocker blockMid(m_selectors[MidSelector]);
            const QSignalBlocker blockLeft(m_selectors[DermatosLeftSelector]);
            m_selectors[MidSelector]->setCurrentIndex(-1);
            m_selectors[DermatosLeftSelector]->setCurrentIndex(-1);
        }
    }
    if (m_viewMode == ClinicalView)
        showClinicalView();
    if (m_principalSession) {
        ui.stackedWidget->setCurrentIndex(sessionPageIndex);
        m_window->saveSessionButton->show();
    }
    trace(QStringLiteral("QtVisualizationWidgets::sessionSelectorChanged END"));
}

void SessionLoader::secondaryDownloadDone()
{
    disconnect(m_secondaryDownloadConnection);
    if (!m_secondarySession)
        return;
    const QSharedPointer<SessionVisualizer> mid = sessionOfSelector(MidSelector);
    if (mid && mid == m_secondarySession)
        showHistoricSessions();
    const quint64 generation = m_generation;
    // The comparison opens only on a view that was built.
    const bool built = buildSecondaryView();
    if (generation != m_generation || !built)
        return;
    m_window->setCompareViewButton->setEnabled(true);
    disconnect(m_window->compareMovieConnection);
    restoreButtonIcon(ClinicalView);
    checkDisabledButtons();
}

void SessionLoader::midSelectorChanged(int index)
{
    if (index == -1)
        return;
    if (index == m_selectors[DermatosLeftSelector]->currentIndex()) {
        const QSignalBlocker blocker(m_selectors[MidSelector]);
        m_selectors[MidSelector]->setCurrentIndex(m_midIndex);
        return;
    }
    m_midIndex = index;
    dermatoSessionSelectorChanged(index, MidSelector);
}

void SessionLoader::dermatosLeftSelectorChanged(int index)
{
    if (index == -1)
        return;
    if (index == m_selectors[MidSelector]->currentIndex()) {
        const QSignalBlocker blocker(m_selectors[DermatosLeftSelector]);
        m_selectors[DermatosLeftSelector]->setCurrentIndex(m_dermatosLeftIndex);
        return;
    }
    m_dermatosLeftIndex = index;
    dermatoSessionSelectorChanged(index, DermatosLeftSelector);
}

void SessionLoader::dermatoSessionSelectorChanged(int index, int selectorID)
{
    trace(QStringLiteral("Change selector: %1 to index: %2").arg(selectorID).arg(index));
    const QSharedPointer<SessionVisualizer> s = sessionOfRow(index);
    if (!s)
        return;
    const quint64 generation = m_generation;
    if (!s->areDermatosDownloaded()) {
        if (m_viewMode == DermoscopicView)
            kelvarisVisualizer::showNotification(tr("Downloading Images..."), 5000);
        const bool clinical = m_viewMode == ClinicalView;
        if (!ensureSessionDownloaded(s->getPatientId(), s->getSessionId(), false, !clinical))
            trace(QStringLiteral("ERROR"));
        if (generation != m_generation)
            return;
        if (!clinical) {
            disconnect(m_dermatosDownloadConnection);
            m_dermatosDownloadConnection =
                connect(s.data(), &SessionVisualizer::downloadSessionDone, this, [this] {
                    disconnect(m_dermatosDownloadConnection);
                    checkDisabledButtons();
                });
        }
    }
    Q_UNUSED(selectorID)
    showHistoricSessions();
    restoreButtonIcon(DermoscopicView);
}

void SessionLoader::showHistoricSessions()
{
    // Both slots at once, from what the two selectors show: telling one of
    // them alone would drop the history of the other.
    if (!m_principalSession)
        return;
    const QSharedPointer<SessionVisualizer> mid = sessionOfSelector(MidSelector);
    const QSharedPointer<SessionVisualizer> left = sessionOfSelector(DermatosLeftSelector);
    const int midId = mid && mid != m_principalSession ? mid->getSessionId() : -1;
    const int leftId = left && left != m_principalSession ? left->getSessionId() : -1;
    emit m_principalSession->changeHistoricLesionsToShow(leftId, midId);
}

void SessionLoader::restoreButtonIcon(int mode)
{
    CustomHoverButton *button =
        mode == ClinicalView ? m_window->setCompareViewButton : m_window->setDermatosViewButton;
    // The animation draws on the button while its connection lives.
    const QMetaObject::Connection &animation =
        mode == ClinicalView ? m_window->compareMovieConnection : m_window->dermatosMovieConnection;
    if (!button->isChecked() && !animation)
        button->setIcon(button->normalIcon);
}

void SessionLoader::stopLoadingAnimation()
{
    disconnect(m_window->compareMovieConnection);
    disconnect(m_window->dermatosMovieConnection);
    restoreButtonIcon(ClinicalView);
    restoreButtonIcon(DermoscopicView);
    m_window->loadingMovie->stop();
}

void SessionLoader::checkDisabledButtons()
{
    const QSharedPointer<SessionVisualizer> mid = sessionOfSelector(MidSelector);
    const QSharedPointer<SessionVisualizer> left = sessionOfSelector(DermatosLeftSelector);
    if ((!mid || mid->areDermatosDownloaded()) && (!left || left->areDermatosDownloaded())) {
        CustomHoverButton *button = m_window->setDermatosViewButton;
        button->setEnabled(true);
        disconnect(m_window->dermatosMovieConnection);
        const QSize size = m_window->buttonIconSize * 2;
        button->normalIcon =
            svgToIcon(recolorSvg(QStringLiteral(":/icon/iconDermatoCompare"), m_window->accentColor), size);
        if (!button->isChecked())
            button->setIcon(button->normalIcon);
    }
    if (m_window->setDermatosViewButton->isEnabled() && m_window->setCompareViewButton->isEnabled())
        m_window->loadingMovie->stop();
}

// --- downloads -------------------------------------------------------------------------

bool SessionLoader::ensureSessionDownloaded(int patientId, int sessionId, bool withClinical, bool silently)
{
    trace(QStringLiteral("DINS SessionVisualizer::isDownloaded"));
    const quint64 generation = m_generation;
    auto held = [this, sessionId]() -> QSharedPointer<SessionVisualizer> {
        const auto found = m_sessions.find(sessionId);
        return found == m_sessions.end() ? QSharedPointer<SessionVisualizer>() : found->second;
    };
    auto complete = [withClinical](const QSharedPointer<SessionVisualizer> &s) {
        return withClinical ? s->isDownloaded() : s->areDermatosDownloaded();
    };
    // A second round covers a quiet download of the dermatoscopic images
    // alone that was running when the clinical ones are needed too.
    for (int round = 0; round < 2; ++round) {
        QSharedPointer<SessionVisualizer> s = held();
        if (!s || !m_server)
            return false;
        if (complete(s))
            return true;
        if (!s->isDownloading()) {
            m_server->downloadSession(patientId, sessionId, true, withClinical, silently, QString(), 0);
            connect(m_server, &ServerVisualizer::cancelDownload, s.data(), &SessionVisualizer::cancelDownload,
                    Qt::UniqueConnection);
        }
        if (silently)
            return true;
        // Only one wait at a time: a second one would run inside the first
        // and hold it up.
        if (m_waitLoop) {
            trace(QStringLiteral("ensureSessionDownloaded: a wait is already running"));
            return false;
        }
        QEventLoop loop;
        m_waitLoop = &loop;
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &loop, [&loop] { loop.exit(2); });
        connect(s.data(), &SessionVisualizer::downloadSessionDone, &loop, [&loop] { loop.exit(0); });
        connect(s.data(), &SessionVisualizer::downloadSessionFailed, &loop, [&loop] { loop.exit(1); });
        limit.start(m_downloadWaitLimit);
        // The wait must not keep a session alive that is released meanwhile.
        const QWeakPointer<SessionVisualizer> weak = s;
        s.reset();
        const int result = loop.exec();
        m_waitLoop = nullptr;
        if (result == 2) {
            trace(QStringLiteral("Session download time-out"));
            emit m_server->cancelDownload();
            return false;
        }
        if (result != 0 || generation != m_generation)
            return false;
        const QSharedPointer<SessionVisualizer> after = weak.toStrongRef();
        if (!after || held() != after)
            return false;
    }
    const QSharedPointer<SessionVisualizer> s = held();
    return s && complete(s);
}

void SessionLoader::forwardDownloadReply(int patientId, int sessionID, QJsonDocument responseWithUrls,
                                         bool silently)
{
    if (patientId != m_window->currentPatientId)
        return;
    // find, never operator[]: a reply for a session no longer held is dropped.
    const auto found = m_sessions.find(sessionID);
    if (found != m_sessions.end() && found->second)
        found->second->sessionDownloadReply(responseWithUrls, silently);
}

void SessionLoader::forwardImage(int patientId, int sessionId, QString filename, QByteArray buffer,
                                 QString type, int typeQuality)
{
    if (patientId != m_window->currentPatientId)
        return;
    const auto found = m_sessions.find(sessionId);
    if (found != m_sessions.end() && found->second)
        found->second->imageDownloaded(filename, buffer, type, typeQuality);
}
