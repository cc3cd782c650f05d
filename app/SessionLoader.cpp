#include "app/SessionLoader.h"

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

// The account for which the sessions' extra lesion information is shown.
const QString kDemonstrationUser = QStringLiteral("Demonstration");

qint64 steadyNow()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed();
}

QString legendIconName(const QString &label)
{
    static const std::map<QString, QString> icons = {
        {QStringLiteral("Detected"), QStringLiteral("iconDColor")},
        {QStringLiteral("Captured"), QStringLiteral("iconCColor")},
        {QStringLiteral("Exeresis"), QStringLiteral("iconEColor")},
        {QStringLiteral("Follow up"), QStringLiteral("iconFColor")},
        {QStringLiteral("Custom 1"), QStringLiteral("iconC1Color")},
    };
    const auto found = icons.find(label);
    return QStringLiteral(":/legendIcons/") +
           (found == icons.end() ? QStringLiteral("iconC2Color") : found->second);
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

// --- session page ----------------------------------------------------------------------

void SessionLoader::buildSessionPage(const QStringList &positionNames)
{
    if (m_sessionsModel)
        return;
    m_sessionsModel = new SessionsModel(this);

    std::vector<QString> names(positionNames.begin(), positionNames.end());
    // Parented to the window first: the widgets find the window's signals
    // and slots through their parent when they are made.
    m_primaryView = new QtVisualizationWidgets(names, 0, m_window);
    m_secondaryView = new QtVisualizationWidgets(names, 1, m_window);
    m_primaryView->setObjectName(QStringLiteral("VisualizationWidget"));
    m_secondaryView->setObjectName(QStringLiteral("VisualizationWidget"));
    m_primaryView->setOtherVisualization(m_secondaryView);
    m_secondaryView->setOtherVisualization(m_primaryView);

    for (QtVisualizationWidgets *view : {m_primaryView, m_secondaryView}) {
        // Pair mode and parallel zoom are the same in both widgets.
        connect(view, &QtVisualizationWidgets::pairModeButtonClicked, this, [this](bool on) {
            m_primaryView->setPairMode(on);
            m_secondaryView->setPairMode(on);
        });
        connect(view, &QtVisualizationWidgets::parallelZoomButtonClicked, this, [this](bool on) {
            m_primaryView->setParallelZoom(on);
            m_secondaryView->setParallelZoom(on);
        });
        connect(view, &QtVisualizationWidgets::compareClinicalImages, m_window,
                &kelvarisVisualizer::compareClinicalImages);
    }
    // The secondary view follows the primary view's tool bar.
    connect(m_primaryView, &QtVisualizationWidgets::modifyClicked, m_secondaryView,
            &QtVisualizationWidgets::setModifyMode);
    connect(m_primaryView, &QtVisualizationWidgets::hideSpotsClicked, m_secondaryView,
            &QtVisualizationWidgets::setHideSpots);
    connect(m_primaryView, &QtVisualizationWidgets::hideNumbersClicked, m_secondaryView,
            &QtVisualizationWidgets::setHideNumbers);
    connect(this, &SessionLoader::labelsSelectionChanged, m_window,
            &kelvarisVisualizer::labelsSelectionChanged);
    m_secondaryView->hide();

    m_verticalSplitter = new QSplitter(Qt::Vertical);
    m_verticalSplitter->setObjectName(QStringLiteral("verticalSplitter"));
    m_horizontalSplitter = new QSplitter(Qt::Horizontal, m_verticalSplitter);
    m_horizontalSplitter->setObjectName(QStringLiteral("horizontalSplitter"));
    // The secondary session appears on the left.
    m_horizontalSplitter->addWidget(m_secondaryView);
    m_horizontalSplitter->addWidget(m_primaryView);
    m_schemeSplitter = new QSplitter(Qt::Horizontal, m_verticalSplitter);
    m_schemeSplitter->setObjectName(QStringLiteral("horizontalSplitter"));
    m_schemeSplitter->hide();
    m_verticalSplitter->addWidget(m_horizontalSplitter);
    m_verticalSplitter->addWidget(m_schemeSplitter);
    Ui::kelvarisVisualizerClass &ui = m_window->ui;
    while (ui.stackedWidget->count() < sessionPageIndex)
        ui.stackedWidget->addWidget(new QWidget());
    ui.stackedWidget->insertWidget(sessionPageIndex, m_verticalSplitter);

    buildLegend();
    buildSelectors();
    ui.widgetLegendTopBar->hide();
}

void SessionLoader::buildLegend()
{
    QWidget *legend = m_window->ui.widgetLegendTopBar;
    auto *layout = new QHBoxLayout(legend);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    legend->setFixedHeight(50);
    legend->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto *container = new ButtonContainer();
    layout->addWidget(container);

    m_labelButtons = new QButtonGroup(this);
    m_labelButtons->setExclusive(false);
    for (const QString &label : LesionVisualizer::labelNames()) {
        const QIcon icon(svgFileToPixmap(legendIconName(label), QSize(44, 44)));
        auto *button = new DoubleClickButton(icon, label, container);
        button->setProperty("originalText", label);
        button->fullText = label;
        button->setIconSize(QSize(27, 27));
        button->setCheckable(true);
        button->setChecked(true);
        QColor faint = LesionVisualizer::labelColor(label);
        faint.setAlpha(63);
        button->setStyleSheet(
            QStringLiteral("QPushButton { color: %1; border: none; border-radius: 12px; background-color: "
                           "transparent; font:18px;}QPushButton:checked { background-color: %2; }")
                .arg(LesionVisualizer::labelColor(label).name(QColor::HexRgb), faint.name(QColor::HexArgb)));
        m_labelButtons->addButton(button);
        container->layout->addWidget(button);
        container->buttons.append(button);
        connect(button, &DoubleClickButton::doubleClicked, this, &SessionLoader::legendDoubleClicked);
    }
    connect(m_labelButtons, &QButtonGroup::buttonClicked, this, &SessionLoader::legendButtonClicked);
}

void SessionLoader::legendButtonClicked()
{
    std::unordered_map<QString, bool> selected;
    for (QAbstractButton *button : m_labelButtons->buttons())
        selected[button->property("originalText").toString()] = button->isChecked();
    emit labelsSelectionChanged(selected);
}

void SessionLoader::legendDoubleClicked()
{
    // The press that the double click carries checks the button again and
    // emits the map with that label alone.
    std::unordered_map<QString, bool> selected;
    {
        const QSignalBlocker blocker(m_labelButtons);
        for (QAbstractButton *button : m_labelButtons->buttons()) {
            button->setChecked(false);
            selected[button->property("originalText").toString()] = false;
        }
    }
    emit labelsSelectionChanged(selected);
}

void SessionLoader::buildSelectors()
{
    Ui::kelvarisVisualizerClass &ui = m_window->ui;
    QHBoxLayout *row = ui.selectorsLayout;

    m_infoPatient = new QWidget();
    m_infoPatient->setMinimumWidth(42);
    m_infoPatient->setMaximumWidth(200);
    auto *infoLayout = new QVBoxLayout(m_infoPatient);
    m_patientNameLabel = new QLabel(tr("Patient Name"));
    m_birthdayLabel = new QLabel(tr("Birthday"));
    for (QLabel *label : {m_patientNameLabel, m_birthdayLabel}) {
        label->setObjectName(QStringLiteral("labelPatient"));
        label->setAlignment(Qt::AlignCenter);
        infoLayout->addWidget(label);
    }

    const QString labels[4] = {tr("Displayed Session"), tr("Displayed Left"), tr("Displayed Mid"),
                               tr("Left")};
    const int pieces[4] = {0, 1, 2, 1};
    for (int i = 0; i < 4; ++i) {
        auto *widget = new QWidget();
        widget->setObjectName(QStringLiteral("sessionSelectorWidget"));
        auto *layout = new QVBoxLayout(widget);
        layout->setAlignment(Qt::AlignTop);
        layout->setSpacing(0);
        auto *label = new QLabel(labels[i]);
        label->setObjectName(QStringLiteral("labelCustomComboBox"));
        label->setAlignment(Qt::AlignCenter);
        auto *box = new CustomComboBox(pieces[i]);
        box->setObjectName(QStringLiteral("secondarySessionSelector"));
        box->setIconSize(QSize(17, 17));
        QWidget *popup = box->view()->window();
        popup->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
        popup->setAttribute(Qt::WA_TranslucentBackground);
        popup->setWindowOpacity(0);
        if (i == MidSelector || i == DermatosLeftSelector) {
            auto *proxy = new CustomIconSessionProxyModel(this);
            proxy->setSourceModel(m_sessionsModel);
            proxy->setOnlyDermatosNeeded(1);
            m_dermatosProxies[i - MidSelector] = proxy;
            box->setModel(proxy);
        } else {
            box->setModel(m_sessionsModel);
        }
        layout->addWidget(label);
        layout->addWidget(box);
        m_selectors[i] = box;
        m_selectorLabels[i] = label;
        m_selectorWidgets[i] = widget;
        widget->hide();
    }
    connect(m_selectors[PrincipalSelector], &QComboBox::currentIndexChanged, this,
            [this](int i) { sessionSelectorChanged(i, 0); });
    connect(m_selectors[LeftSelector], &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i != -1)
            sessionSelectorChanged(i, 1);
    });
    connect(m_selectors[MidSelector], &QComboBox::currentIndexChanged, this,
            &SessionLoader::midSelectorChanged);
    connect(m_selectors[DermatosLeftSelector], &QComboBox::currentIndexChanged, this,
            &SessionLoader::dermatosLeftSelectorChanged);

    // Right to left from the principal selector on: on screen the order is
    // dermoscopic left, mid, left, principal, spacer, patient information.
    row->addWidget(m_infoPatient);
    row->addSpacing(30);
    row->addWidget(m_selectorWidgets[PrincipalSelector]);
    row->setDirection(QBoxLayout::RightToLeft);
    row->addWidget(m_selectorWidgets[LeftSelector]);
    row->addWidget(m_selectorWidgets[MidSelector]);
    row->addWidget(m_selectorWidgets[DermatosLeftSelector]);
    m_infoPatient->hide();
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
    m_patientNameLabel->setText(QString::fromStdString(patient.name));
    m_birthdayLabel->setText(patient.birthdate.isValid()
                                 ? QLocale().toString(patient.birthdate, QLocale::ShortFormat)
                                 : QString());

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
    // New dermatoscopic images are uploaded by the upload flow (kind 'D');
    // the preview is refreshed here.
    connect(s, &SessionVisualizer::addedNewDermatoscopicImage, this,
            [this](QString, QImage, bool hadDermato) {
                if (hadDermato && m_primaryView)
                    m_primaryView->dermatoUpdatePreview();
            });
    // Device requests (requestManualImageSignal, cancelImageRequest) are
    // forwarded by the device synchronisation flow.
}

void SessionLoader::sessionDocumentsRequested(QString patientID, int count)
{
    if (isCurrentPatient(patientID) && m_receiveTimer.isActive())
        m_expectedCount = count;
}

void SessionLoader::sessionDocumentFailed(QString patientID, QString sessionID)
{
    if (!isCurrentPatient(patientID) || !m_receiveTimer.isActive())
        return;
    trace(QStringLiteral("Session document failed: ") + sessionID);
    m_missingSessions << sessionID;
    ++m_receivedCount;
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
    if (m_viewMode != HybridView) {
        showHybridView();
        m_viewMode = HybridView;
    }
    m_window->setHybridViewButton->setChecked(true);
    Ui::kelvarisVisualizerClass &ui = m_window->ui;
    ui.stackedWidget->setCurrentIndex(0);
    ui.widgetLegendTopBar->hide();
    m_infoPatient->hide();
    for (QWidget *widget : m_selectorWidgets)
        widget->hide();
    for (CustomHoverButton *button :
         {m_window->setHybridViewButton, m_window->setCompareViewButton, m_window->setDermatosViewButton,
          m_window->saveSessionButton, m_window->manualButton, m_window->reportListButton,
          m_window->reportButton, m_window->exitButton})
        button->hide();
    if (m_window->loggedIn) {
        ui.widget_doctor->show();
        m_window->logoutButton->show();
        m_window->newPatientButton->setVisible(m_window->isPatientAdmin);
    }
    if (m_window->autosaveTimerId) {
        m_window->killTimer(m_window->autosaveTimerId);
        m_window->autosaveTimerId = 0;
    }
    // The comparison buttons wait again for the next patient's sessions.
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
    } else if (m_viewMode == ClinicalView) {
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
    if (mid && mid == m_secondarySession && m_principalSession)
        emit m_principalSession->changeHistoricLesionsToShow(mid->getSessionId(), -1);
    const quint64 generation = m_generation;
    buildSecondaryView();
    if (generation != m_generation)
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
    if (m_principalSession) {
        if (selectorID == MidSelector)
            emit m_principalSession->changeHistoricLesionsToShow(-1, s->getSessionId());
        else
            emit m_principalSession->changeHistoricLesionsToShow(s->getSessionId(), -1);
    }
    restoreButtonIcon(DermoscopicView);
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

// --- building the views ----------------------------------------------------------------

bool SessionLoader::buildViewFromDisk()
{
    trace(QStringLiteral("kelvarisVisualizer::buildViewFromDisk"));
    if (!m_principalSession || (m_loadingDialog && m_loadingDialog->wasCanceled()))
        return false;
    if (m_window->userName == kDemonstrationUser)
        m_principalSession->setExtraInfoVisible(true);
    const quint64 generation = m_generation;
    QMetaObject::Connection cancel;
    if (m_loadingDialog)
        cancel = connect(m_loadingDialog, &QProgressDialog::canceled, m_primaryView,
                         &QtVisualizationWidgets::cancelBuild);
    const bool built = m_primaryView->buildView(m_principalSession);
    disconnect(cancel);
    updateProgressBar(100, 100);
    closeLoadingDialog();
    if (generation != m_generation)
        return false;
    Ui::kelvarisVisualizerClass &ui = m_window->ui;
    if (!built) {
        ui.widget_doctor->show();
        ui.widgetLegendTopBar->hide();
        m_window->on_labelButton_clicked(false);
        return false;
    }
    m_window->loadingMovie->start();
    showSessionChrome();
    return true;
}

void SessionLoader::showSessionChrome()
{
    Ui::kelvarisVisualizerClass &ui = m_window->ui;
    ui.widget_doctor->hide();
    ui.widgetLegendTopBar->show();
    m_window->manualButton->setEnabled(true);
    m_window->manualButton->show();
    m_window->newPatientButton->hide();
    m_window->logoutButton->hide();
    m_window->exitButton->show();
    ui.stackedWidget->setCurrentIndex(sessionPageIndex);
    m_window->saveSessionButton->show();
    // Exactly one autosave timer; its ticks are the saving flow's.
    if (!m_window->autosaveTimerId)
        m_window->autosaveTimerId = m_window->startTimer(30000, Qt::CoarseTimer);
    ui.widget_admin->show();
    m_infoPatient->show();
    m_selectorWidgets[PrincipalSelector]->show();
    for (CustomHoverButton *button :
         {m_window->setHybridViewButton, m_window->setCompareViewButton, m_window->setDermatosViewButton,
          m_window->reportListButton, m_window->reportButton})
        button->show();
}

bool SessionLoader::buildSecondaryView()
{
    trace(QStringLiteral("kelvarisVisualizer::buildSecondaryView"));
    if (!m_secondarySession || (m_loadingDialog && m_loadingDialog->wasCanceled()))
        return false;
    if (m_window->userName == kDemonstrationUser)
        m_secondarySession->setExtraInfoVisible(true);
    QMetaObject::Connection cancel;
    if (m_loadingDialog)
        cancel = connect(m_loadingDialog, &QProgressDialog::canceled, m_secondaryView,
                         &QtVisualizationWidgets::cancelBuild);
    const bool built = m_secondaryView->buildView(m_secondarySession);
    disconnect(cancel);
    updateProgressBar(100, 100);
    return built;
}

// --- view modes ------------------------------------------------------------------------

void SessionLoader::viewModeButtonClicked(int mode)
{
    if (mode == ClinicalView) {
        if (m_viewMode != ClinicalView) {
            showClinicalView();
            m_viewMode = ClinicalView;
        }
    } else if (mode == DermoscopicView) {
        if (m_viewMode != DermoscopicView) {
            showDermatosView();
            m_viewMode = DermoscopicView;
        }
    } else if (m_viewMode != HybridView) {
        showHybridView();
        m_viewMode = HybridView;
    }
}

void SessionLoader::showHybridView()
{
    if (m_viewMode == ClinicalView) {
        m_splitterStates[0] = m_verticalSplitter->saveState();
        m_splitterStates[1] = m_schemeSplitter->saveState();
        m_splitterStates[2] = m_horizontalSplitter->saveState();
    }
    m_primaryView->setSuperpositionVisible(false);
    m_secondaryView->setSuperpositionVisible(false);
    if (m_schemeWidget)
        m_schemeWidget->hide();
    m_secondaryView->hide();
    m_primaryView->showHybridLayout();
    m_secondaryView->setPairMode(false);
    m_infoPatient->show();
    m_selectorWidgets[PrincipalSelector]->show();
    m_selectorLabels[PrincipalSelector]->setText(tr("Displayed Session"));
    setSelectorStyle(m_selectors[PrincipalSelector], 'A', 'B');
    for (Selector which : {LeftSelector, MidSelector, DermatosLeftSelector})
        m_selectorWidgets[which]->hide();
    m_schemeSplitter->hide();
    for (Selector which : {MidSelector, DermatosLeftSelector, LeftSelector})
        if (const QSharedPointer<SessionVisualizer> s = sessionOfSelector(which))
            s->setEnabled(true);
}

void SessionLoader::showDermatosView()
{
    if (m_viewMode == ClinicalView) {
        m_splitterStates[0] = m_verticalSplitter->saveState();
        m_splitterStates[1] = m_schemeSplitter->saveState();
        m_splitterStates[2] = m_horizontalSplitter->saveState();
    }
    m_primaryView->setSuperpositionVisible(false);
    m_secondaryView->setSuperpositionVisible(false);
    if (m_schemeWidget)
        m_schemeWidget->hide();
    m_secondaryView->hide();
    m_primaryView->showDermoscopicLayout();
    m_secondaryView->setPairMode(false);
    m_infoPatient->show();
    m_selectorWidgets[PrincipalSelector]->show();
    m_selectorLabels[PrincipalSelector]->setText(tr("Displayed Right"));
    setSelectorStyle(m_selectors[PrincipalSelector], 'C', 'D');
    m_selectorWidgets[LeftSelector]->hide();
    m_selectorWidgets[MidSelector]->show();
    // Hidden with fewer than three sessions (the arrival check decides).
    m_selectorWidgets[DermatosLeftSelector]->setVisible(m_sessionIds.size() >= 3);
    m_schemeSplitter->hide();
    for (Selector which : {MidSelector, DermatosLeftSelector, LeftSelector})
        if (const QSharedPointer<SessionVisualizer> s = sessionOfSelector(which))
            s->setEnabled(true);
}

void SessionLoader::showClinicalView()
{
    Ui::kelvarisVisualizerClass &ui = m_window->ui;
    m_window->setUpdatesEnabled(false);
    ui.stackedWidget->setCurrentIndex(0);
    m_secondaryView->show();
    m_primaryView->setSuperpositionVisible(true);
    m_secondaryView->setSuperpositionVisible(true);
    // The body scheme of both sessions joins here once it exists; without it
    // the two views are compared side by side.
    m_primaryView->showClinicalLayout();
    m_secondaryView->showClinicalLayout();
    ui.stackedWidget->setCurrentIndex(sessionPageIndex);
    m_window->saveSessionButton->show();
    const std::pair<QString, int> current = m_primaryView->currentImagePosition();
    if (current.first.isEmpty()) {
        QTimer::singleShot(50, m_primaryView, [this] {
            m_primaryView->selectImageAt(0, 0);
            m_secondaryView->selectImageAt(0, 0);
        });
    } else {
        // Until the scheme exists, the secondary view follows the primary's image.
        const std::vector<QString> names =
            m_principalSession ? m_principalSession->getPositionNames() : std::vector<QString>();
        const int position = int(std::find(names.begin(), names.end(), current.first) - names.begin());
        QTimer::singleShot(50, m_secondaryView, [this, position, index = current.second] {
            m_secondaryView->selectImageAt(position, index);
        });
    }
    m_infoPatient->show();
    m_selectorWidgets[PrincipalSelector]->show();
    m_selectorLabels[PrincipalSelector]->setText(tr("Displayed Right"));
    setSelectorStyle(m_selectors[PrincipalSelector], 'C', 'D');
    m_selectorWidgets[LeftSelector]->show();
    m_selectorWidgets[MidSelector]->hide();
    m_selectorWidgets[DermatosLeftSelector]->hide();
    for (Selector which : {MidSelector, DermatosLeftSelector, LeftSelector})
        if (const QSharedPointer<SessionVisualizer> s = sessionOfSelector(which))
            s->setEnabled(true);
    if (!m_splitterStates[0].isEmpty())
        m_verticalSplitter->restoreState(m_splitterStates[0]);
    if (!m_splitterStates[1].isEmpty())
        m_schemeSplitter->restoreState(m_splitterStates[1]);
    if (!m_splitterStates[2].isEmpty())
        m_horizontalSplitter->restoreState(m_splitterStates[2]);
    m_window->setUpdatesEnabled(true);
    m_secondaryView->changeSceneRealIndex(1);
}

void SessionLoader::showNextImage()
{
    if (m_primaryView && m_principalSession)
        m_primaryView->showNextImage();
}

void SessionLoader::showPreviousImage()
{
    if (m_primaryView && m_principalSession)
        m_primaryView->showPreviousImage();
}

// --- external clinical images ----------------------------------------------------------

void SessionLoader::addNewClinicalImage()
{
    if (!m_principalSession)
        return;
    const QString path = QFileDialog::getOpenFileName(m_window, QString(), QString(), tr("Images ( *.jpg)"));
    if (!path.isEmpty())
        addClinicalImageFile(path);
}

void SessionLoader::addClinicalImageFile(const QString &path)
{
    // Read and decoded on the thread pool: a device-sized JPEG would stall
    // the window. Bytes that are no complete image come back empty.
    const quint64 generation = m_generation;
    const QWeakPointer<SessionVisualizer> target = m_principalSession;
    QtConcurrent::run([path]() {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray();
        const QByteArray bytes = file.readAll();
        return SessionVisualizer::isCompleteJpeg(bytes) ? bytes : QByteArray();
    }).then(this, [this, generation, target](const QByteArray &bytes) {
        const QSharedPointer<SessionVisualizer> session = target.toStrongRef();
        // Another patient or session meanwhile: the image was meant for none of them.
        if (generation != m_generation || !session || session != m_principalSession) {
            emit clinicalImageAdded(false);
            return;
        }
        emit clinicalImageAdded(storeClinicalImage(bytes));
    });
}

bool SessionLoader::storeClinicalImage(const QByteArray &bytes)
{
    // Checked before anything is stored: bytes that are no image must not
    // become an external pose that is uploaded later.
    if (bytes.isEmpty()) {
        showMessage(tr("Warning: The image is corrupt"), tr("Warning"), nullptr);
        return false;
    }
    const QString name = m_principalSession->addClinicalImage(bytes);
    if (name == QLatin1String("Ple")) {
        showMessage(tr("You have reached the limit of allowed images"), tr("Full capacity"), m_window);
        return false;
    }
    // The upload of the new image (kind 'G') is queued by the upload flow.
    m_primaryView->rebuildExternalScene();
    return true;
}

void SessionLoader::showMessage(const QString &message, const QString &title, QWidget *parent)
{
    // Opened, not run: no nested event loop under the continuation.
    auto *box = new CustomMessageBox(message, title, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("clinicalImageMessage"));
    box->open();
}
