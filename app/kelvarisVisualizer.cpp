#include "app/kelvarisVisualizer.h"

#include "app/ChangeSummaryFlow.h"
#include "app/KeyboardShortcuts.h"
#include "app/LoginFlow.h"
#include "app/PatientRegistration.h"
#include "app/PatientSearch.h"
#include "app/SavingFlow.h"
#include "app/ScreenMetrics.h"
#include "app/SessionLoader.h"
#include "reports/ReportsFlow.h"
#include "server/ServerVisualizer.h"
#include "widgets/CustomHoverButton.h"
#include "widgets/CustomMessageBox.h"
#include "widgets/CustomTitleBar.h"
#include "widgets/IconHelpers.h"
#include "widgets/MyProxyStyle.h"
#include "widgets/QtNotificationWidget.h"
#include "widgets/Trace.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QMovie>
#include <QResizeEvent>
#include <QScreen>
#include <QSvgRenderer>
#include <QWindow>

namespace {

const QColor kWindowColour(28, 28, 30);

} // namespace

kelvarisVisualizer::kelvarisVisualizer(QWidget *parent) : QMainWindow(parent)
{
    // 1. Frameless, with our own title bar.
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setMenuWidget(new CustomTitleBar(tr("Tessaline Solutions - Sovindel"), this));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowColour);
    setPalette(pal);
    setAutoFillBackground(true);

    // 2. Screen changes are debounced: icons are re-rendered once per move.
    screenTimer = new QTimer(this);
    screenTimer->setSingleShot(true);
    connect(screenTimer, &QTimer::timeout, this, &kelvarisVisualizer::onScreenChangedTimeout);

    // 3. The form; the top bar waits for the user's permissions.
    ui.setupUi(this);
    // Wiring by name connects both overloads to the one click, which would run
    // "back to the menu" twice; clicked(bool) alone carries force = false.
    disconnect(ui.labelButton, SIGNAL(clicked()), this, SLOT(on_labelButton_clicked()));
    ui.labelQRcodeButton->hide();
    ui.topBarWidget->hide();
    ui.widget_doctor->hide();
    ui.widget_admin->hide();
    ui.widget_admin->setContentsMargins(0, 0, 0, 0);
    setWindowState(windowState() | Qt::WindowMaximized);
    currentPatientId = -1;
    setAttribute(Qt::WA_AcceptTouchEvents);

    // 4. The registration page's picture.
    ui.labelLogoRegisterPatient->setPixmap(
        svgFileToPixmapExact(QStringLiteral(":/rsc/initialImg"), QSize(600, 210)));
    ui.labelLogoRegisterPatient->setFixedSize(600, 400);

    // 5. Follow the screen the window is on.
    if (!windowHandle())
        create();
    connect(windowHandle(), &QWindow::screenChanged, this, &kelvarisVisualizer::screenChanged);
    setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
    if (layout())
        layout()->setSpacing(0);

    // 6. The configuration; without it the window keeps only its frame.
    const AppConfiguration config = AppConfiguration::load();
    if (!config.valid) {
        kelvaris::trace(QStringLiteral("Parse failed: ") + config.errorMessage);
        configError = config.errorMessage;
        // The form opens on the registration page; without a configuration
        // nothing but the frame and the background page may show.
        buildBackgroundPage();
        // Shown once the window is on screen, so it is centred over it.
        QTimer::singleShot(0, this, &kelvarisVisualizer::showConfigurationError);
        return;
    }
    applyConfiguration(config);
}

kelvarisVisualizer::~kelvarisVisualizer()
{
    delete qrImage;
}

void kelvarisVisualizer::applyConfiguration(const AppConfiguration &config)
{
    // 7. The server client is created and wired with the login flow (after
    // the buttons, which the flows show and hide).
    // searchLineEdit's textChanged reaches on_searchLineEdit_textChanged through
    // the by-name connection of setupUi. A second, explicit connect would not
    // be seen by Qt::UniqueConnection and would run every search twice.

    // 8. The body positions for the views.
    positions = config.positionNames;
    warning = config.warning;

    // 9. The session page, label legend and session selectors.
    m_sessionLoader = new SessionLoader(this);
    m_sessionLoader->buildSessionPage(positions);

    // 10. The view-mode and action buttons.
    buildTopBarButtons();
    attachFlows(config);

    // The loading animation is shown on the view buttons while their sessions arrive.
    loadingMovie = new QMovie(QStringLiteral(":/icon/loading.gif"), QByteArray(), this);
    compareMovieConnection = connect(loadingMovie, &QMovie::frameChanged, this, [this] {
        setCompareViewButton->setIcon(QIcon(loadingMovie->currentPixmap()));
    });
    dermatosMovieConnection = connect(loadingMovie, &QMovie::frameChanged, this, [this] {
        setDermatosViewButton->setIcon(QIcon(loadingMovie->currentPixmap()));
    });
    setCompareViewButton->setEnabled(false);
    setDermatosViewButton->setEnabled(false);

    connect(viewButtons, &QButtonGroup::idClicked, m_sessionLoader, &SessionLoader::viewModeButtonClicked);
    setObjectName(QStringLiteral("MainWindows"));

    buildBackgroundPage();

    ui.labelButton->setContentsMargins(0, 0, 0, 0);
    ui.labelButton->setText(QString());
    // The proxy lives as long as the application: a widget must never outlive its style.
    auto *proxy = new MyProxyStyle(style());
    proxy->setParent(qApp);
    setStyle(proxy);
    captureFlag = std::make_shared<std::atomic<bool>>(false);
    ui.progressBar->setTextVisible(false);
    ui.progressBar->hide();

    onScreenChangedTimeout();
    loadSplitterStates();

    // Posted, so the window is already visible behind the login dialog.
    QTimer::singleShot(0, this, &kelvarisVisualizer::startLogin);
}

void kelvarisVisualizer::attachFlows(const AppConfiguration &config)
{
    serverVisualizer = new ServerVisualizer(config.serverName, this);
    QStringList problems = config.problems;
    problems += serverVisualizer->applyConfiguration(QJsonDocument::fromJson(config.document).object());
    for (const QString &problem : problems)
        kelvaris::trace(QStringLiteral("Configuration: ") + problem);

    m_login = new LoginFlow(this,
                            {ui.topBarWidget, ui.widget_doctor, ui.widget_admin, newPatientButton,
                             logoutButton, ui.stackedWidget},
                            config.serverName);
    m_login->setConfigurationProblems(problems);
    m_search = new PatientSearch(this, {ui.searchLineEdit, ui.searchButton, ui.selectorsLayout});
    m_saving = new SavingFlow(this, {ui.stackedWidget, ui.progressBar});
    m_registration = new PatientRegistration(this, {ui.stackedWidget, ui.messageWidget, ui.textBrowser,
                                                    ui.lineEditFNAME, ui.lineEditLNAME, ui.lineEditID,
                                                    ui.lineEditEMAIL, ui.registerNewPatientButton});

    m_login->connectTo(serverVisualizer);
    m_search->connectTo(serverVisualizer, m_login);
    reportsFlow->connectTo(serverVisualizer);
    // The frame's own receivers; the other server signals go to their flows.
    connect(serverVisualizer, &ServerVisualizer::setMaximumProgressBar, this,
            &kelvarisVisualizer::setMaximumProgressBar);
    connect(serverVisualizer, &ServerVisualizer::setValueProgressBar, this,
            &kelvarisVisualizer::setValueProgressBar);
    connect(serverVisualizer, &ServerVisualizer::allDoneProgressBar, this,
            &kelvarisVisualizer::allDoneProgressBar);
    m_sessionLoader->connectTo(serverVisualizer);
    m_saving->connectTo(serverVisualizer, m_sessionLoader, m_login, m_search);
    m_registration->connectTo(serverVisualizer, m_login);
    connect(newPatientButton, &QPushButton::clicked, m_registration, &PatientRegistration::openPage);
    m_sessionLoader->setPatientPanel(m_search->patientPanel());
    m_changes = new ChangeSummaryFlow(this, config.changeThresholds);
    m_changes->connectTo(m_sessionLoader);
    connect(m_changes, &ChangeSummaryFlow::showNotification, this,
            [](const QString &message, int timeout) { showNotification(message, timeout); });
    reportsFlow->setChangesProvider(
        [changes = QPointer<ChangeSummaryFlow>(m_changes)]() -> std::shared_ptr<const LesionChangeSummary> {
            return changes ? changes->summary() : nullptr;
        });
    connect(m_search, &PatientSearch::patientChosen, m_sessionLoader, &SessionLoader::loadPatient);
    // A logout ends whatever the loader waits for and releases the patient.
    connect(m_login, &LoginFlow::loggedOut, m_sessionLoader, &SessionLoader::backToMenu);

    ui.labelButton->setToolTip(tr("Back to the menu"));
    ui.labelQRcodeButton->setToolTip(tr("Pair a device"));
    ui.searchButton->setToolTip(tr("Search a patient"));
    if (auto *bar = qobject_cast<CustomTitleBar *>(menuWidget())) {
        bar->closeButton->setToolTip(tr("Close"));
        if (bar->minimizeButton)
            bar->minimizeButton->setToolTip(tr("Minimise"));
        if (bar->maximizeButton)
            bar->maximizeButton->setToolTip(tr("Maximise"));
    }
    KeyboardShortcuts::install(
        {setHybridViewButton, setDermatosViewButton, setCompareViewButton, ui.labelButton, ui.searchButton});
    KeyboardShortcuts::nameButtons(this);
}

CustomHoverButton *kelvarisVisualizer::makeTopBarButton(const QString &objectName, const QString &icon,
                                                        const QString &hoverIcon, QSize size,
                                                        const QString &toolTip)
{
    auto *button = new CustomHoverButton(icon, hoverIcon, size);
    button->setObjectName(objectName);
    button->setIconSize(buttonIconSize);
    button->setToolTip(toolTip);
    button->setCursor(Qt::PointingHandCursor);
    button->hide();
    return button;
}

void kelvarisVisualizer::buildTopBarButtons()
{
    setHybridViewButton =
        makeTopBarButton(QStringLiteral("setHybridViewButton"), QStringLiteral(":/icon/iconHybrid"),
                         QString(), buttonIconSize, tr("Hybrid View"));
    setCompareViewButton =
        makeTopBarButton(QStringLiteral("setCompareViewButton"), QStringLiteral(":/icon/iconCompare"),
                         QString(), buttonIconSize, tr("Clinical View"));
    setDermatosViewButton =
        makeTopBarButton(QStringLiteral("setDermatosViewButton"), QStringLiteral(":/icon/iconDermatoCompare"),
                         QString(), buttonIconSize, tr("Dermoscopic View"));
    saveSessionButton = makeTopBarButton(QStringLiteral("saveSessionButton"), QStringLiteral(":/icon/save"),
                                         QString(), buttonIconSize, tr("Save session"));
    manualButton = makeTopBarButton(QStringLiteral("manualButton"), QStringLiteral(":/icon/addImgs"),
                                    QString(), QSize(40, 32), tr("Capture images with the paired device"));
    // Both report buttons carry the object name "reportButton" for the style sheet.
    reportListButton =
        makeTopBarButton(QStringLiteral("reportButton"), QStringLiteral(":/icon/iconReportList"), QString(),
                         buttonIconSize, tr("Reports of this patient"));
    reportButton = makeTopBarButton(QStringLiteral("reportButton"), QStringLiteral(":/icon/iconReport"),
                                    QString(), buttonIconSize, tr("New report"));
    newPatientButton =
        makeTopBarButton(QStringLiteral("newPatientButton"), QStringLiteral(":/icon/addPatient"), QString(),
                         buttonIconSize, tr("Register a new patient"));
    exitButton = makeTopBarButton(QStringLiteral("exitButton"), QStringLiteral(":/topBarIcons/returnC"),
                                  QStringLiteral(":/icon/return"), buttonIconSize, tr("Back to the menu"));
    logoutButton = makeTopBarButton(QStringLiteral("logoutButton"), QStringLiteral(":/icon/logout"),
                                    QString(), buttonIconSize, tr("Log out"));

    viewButtons = new QButtonGroup(this);
    viewButtons->setExclusive(true);
    int mode = 0;
    for (CustomHoverButton *button : {setHybridViewButton, setCompareViewButton, setDermatosViewButton}) {
        button->setCheckable(true);
        viewButtons->addButton(button, mode++);
        ui.tightLayoutTopBar->addWidget(button);
    }
    setHybridViewButton->setChecked(true);

    for (CustomHoverButton *button :
         {saveSessionButton, reportListButton, reportButton, newPatientButton, exitButton, logoutButton})
        ui.layoutButtonsTopRight->addWidget(button);
    ui.horizontalLayoutToBarLeft->insertWidget(3, manualButton);

    connect(saveSessionButton, &QPushButton::clicked, this, &kelvarisVisualizer::saveSessionButton_clicked);
    connect(exitButton, &QPushButton::clicked, this, &kelvarisVisualizer::exitButton_clicked);
    connect(logoutButton, &QPushButton::clicked, this, &kelvarisVisualizer::logoutButton_clicked);
    // The registration and manual capture buttons are wired with their flows.
    setUpReports();
}

void kelvarisVisualizer::buildBackgroundPage()
{
    auto *grid = new QGridLayout(ui.page);
    grid->setContentsMargins(0, 0, 0, 0);
    auto *fons = new QLabel(ui.page);
    fons->setObjectName(QStringLiteral("fons"));
    fons->setPixmap(svgFileToPixmapExact(QStringLiteral(":/rsc/initialImg"), QSize(1600, 560)));
    fons->setAlignment(Qt::AlignCenter);
    fons->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    grid->addWidget(fons, 0, 0);
    ui.page->installEventFilter(this);
    ui.stackedWidget->setCurrentIndex(0);
}

void kelvarisVisualizer::showConfigurationError()
{
    CustomMessageBox box(configError + QLatin1Char('\n') +
                             tr("The program cannot connect to a server until the file is corrected."),
                         tr("Configuration error"), this);
    box.exec();
}

void kelvarisVisualizer::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!findChild<QLabel *>(QStringLiteral("fons"))) {
        QPalette pal = palette();
        pal.setColor(QPalette::Window, kWindowColour);
        setPalette(pal);
        return;
    }
    renderBackground();
}

bool kelvarisVisualizer::eventFilter(QObject *watched, QEvent *event)
{
    // The page is laid out after the window's own resize event, so the
    // picture follows the page itself.
    if (watched == ui.page && event->type() == QEvent::Resize)
        renderBackground();
    return QMainWindow::eventFilter(watched, event);
}

void kelvarisVisualizer::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        QTimer::singleShot(150, this, &kelvarisVisualizer::fitMaximizedWithoutWindowManager);
}

void kelvarisVisualizer::fitMaximizedWithoutWindowManager()
{
    // A frameless window on X11 with no window manager (a kiosk, a test
    // display) is never maximised by anyone else: do it here, and give the
    // previous geometry back when restored.
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !screen() || isMinimized())
        return;
    const QRect available = screen()->availableGeometry();
    if (isMaximized() && geometry() != available) {
        geometryBeforeFit = geometry();
        setGeometry(available);
    } else if (!isMaximized() && geometryBeforeFit.isValid()) {
        setGeometry(geometryBeforeFit);
        geometryBeforeFit = QRect();
    }
}

void kelvarisVisualizer::renderBackground()
{
    auto *fons = ui.page->findChild<QLabel *>(QStringLiteral("fons"));
    if (!fons)
        return;
    if (!backgroundRenderer)
        backgroundRenderer = new QSvgRenderer(QStringLiteral(":/rsc/initialImg"), this);
    if (!backgroundRenderer->isValid()) {
        kelvaris::trace(QStringLiteral("SVG rendered nullptr "));
        return;
    }
    const QSize box(int(ui.page->width() * 0.7), int(int(0.9 * ui.page->height()) * 0.7));
    const QSize size = backgroundRenderer->defaultSize().scaled(box, Qt::KeepAspectRatio);
    if (size.isEmpty())
        return;
    fons->setPixmap(svgToPixmapExact(*backgroundRenderer, size));
}

void kelvarisVisualizer::screenChanged(QScreen *)
{
    if (screenTimer->isActive())
        screenTimer->stop();
    screenTimer->start(200);
}

void kelvarisVisualizer::onScreenChangedTimeout()
{
    QScreen *current = screen();
    if (!current)
        return;
    const QSize available = current->availableSize();
    const qreal ratio = current->devicePixelRatio();
    kelvaris::trace(QStringLiteral("Window Changed: %1, AVAILABLE SIZE: %2 %3, ratio %4")
                        .arg(current->name())
                        .arg(available.width())
                        .arg(available.height())
                        .arg(ratio));

    const ScreenMetrics m = ScreenMetrics::forScreen(available.width(), ratio);
    const int rendered = m.renderedLabelIconSide;
    ui.labelButton->setIcon(
        QIcon(svgFileToPixmap(QStringLiteral(":/icon/AppIconSVG"), QSize(rendered, rendered))));
    ui.labelButton->setIconSize(QSize(m.labelIconSide, m.labelIconSide));
    ui.labelQRcodeButton->setIcon(
        QIcon(svgFileToPixmap(QStringLiteral(":/icon/resource/icon/qr.svg"), QSize(30, 30))));
    ui.labelQRcodeButton->setIconSize(m.buttonIconSize());

    buttonIconSize = m.buttonIconSize();
    for (CustomHoverButton *button :
         {setHybridViewButton, setCompareViewButton, setDermatosViewButton, saveSessionButton, manualButton,
          reportListButton, reportButton, newPatientButton, exitButton, logoutButton}) {
        if (button)
            button->setIconSize(buttonIconSize);
    }
    ui.widgetLegendTopBar->setFixedHeight(m.legendHeight);
    // The views take their tool bar icon size from here once they exist.
}

// The bar shows exactly while upload jobs are queued (the saving flow
// follows the queue); these only move it.
void kelvarisVisualizer::setMaximumProgressBar(int max)
{
    if (m_saving)
        m_saving->setMaximumProgressBar(max);
}

void kelvarisVisualizer::setValueProgressBar(int val)
{
    if (m_saving)
        m_saving->setValueProgressBar(val);
}

void kelvarisVisualizer::allDoneProgressBar()
{
    if (m_saving)
        m_saving->allDoneProgressBar();
}

void kelvarisVisualizer::showNotification(QString message, int timeout)
{
    auto *notification = new QtNotificationWidget(message);
    notification->show();
    // A negative timeout would never fire and leave the panel on top for good.
    const int delay = std::max(0, timeout);
    const Qt::TimerType type = delay >= 2000 ? Qt::CoarseTimer : Qt::PreciseTimer;
    // The panel is the context: when the user closes it first, the timer is dropped with it.
    QTimer::singleShot(delay, type, notification, &QtNotificationWidget::closeWithAnimation);
}

void kelvarisVisualizer::showNotification(QString message)
{
    showNotification(message, 5000);
}

// The slots below belong to flows that are attached to this frame later
// (login, search, session loading, pairing, saving, registration, capture).
// Until then they do nothing.

// Saving, back to the menu, logout and close: forwarded to the saving flow.
void kelvarisVisualizer::on_labelButton_clicked(bool force)
{
    if (m_saving)
        m_saving->backToMenu(force);
}
void kelvarisVisualizer::on_labelButton_clicked()
{
    on_labelButton_clicked(false);
}
void kelvarisVisualizer::errorRegisteringPatient(QString message)
{
    if (m_registration)
        m_registration->errorRegisteringPatient(message);
}
void kelvarisVisualizer::exitButton_clicked()
{
    on_labelButton_clicked(false);
}
void kelvarisVisualizer::logoutButton_clicked()
{
    if (m_saving)
        m_saving->logout();
}
void kelvarisVisualizer::on_registerNewPatientButton_clicked()
{
    if (m_registration)
        m_registration->registerPatient();
}
void kelvarisVisualizer::saveSessions()
{
    if (m_saving)
        m_saving->saveSessions();
}
void kelvarisVisualizer::saveSessionButton_clicked()
{
    saveSessions();
    saveSplitterStates();
    if (reportsFlow)
        reconnectReportSignals();
}
void kelvarisVisualizer::timerEvent(QTimerEvent *event)
{
    if (autosaveTimerId && event->timerId() == autosaveTimerId) {
        if (m_saving)
            m_saving->autosave();
        return;
    }
    QMainWindow::timerEvent(event);
}
void kelvarisVisualizer::closeEvent(QCloseEvent *event)
{
    if (!m_saving || m_saving->closeRequested())
        event->accept();
    else
        event->ignore();
}
void kelvarisVisualizer::undoLesionPair() {} // lesion pairing
bool kelvarisVisualizer::doLesionPair(bool)
{
    return false;
} // lesion pairing
void kelvarisVisualizer::pairModeLesionSelected(QSharedPointer<LesionVisualizer>, int) {} // lesion pairing
void kelvarisVisualizer::compareClinicalImages() {}                                       // lesion pairing
void kelvarisVisualizer::syncSessionCreated(QString) {}                                   // device capture
void kelvarisVisualizer::on_labelQRcodeButton_clicked() {}                                // device pairing
void kelvarisVisualizer::saveSplitterStates()
{
    if (m_saving)
        m_saving->saveSplitterStates();
}
void kelvarisVisualizer::loadSplitterStates()
{
    if (m_saving)
        m_saving->loadSplitterStates();
}
void kelvarisVisualizer::on_searchLineEdit_returnPressed()
{
    if (m_search)
        m_search->returnPressed();
}
void kelvarisVisualizer::on_searchLineEdit_textChanged(QString text)
{
    ++searchTextChanges;
    if (m_search)
        m_search->textChanged(text);
}
void kelvarisVisualizer::patientSelected(QModelIndex index)
{
    if (m_search)
        m_search->patientSelected(index);
}
void kelvarisVisualizer::syncManualDermatosDone(std::unordered_map<QString, QSharedPointer<LesionVisualizer>>)
{
} // device capture
void kelvarisVisualizer::startLogin()
{
    if (m_login)
        m_login->showLoginDialog();
}

// Session loading: the slots stay on the window and forward to the loader.

void kelvarisVisualizer::downloadCanceled()
{
    if (m_sessionLoader)
        m_sessionLoader->downloadCanceled();
}
void kelvarisVisualizer::recievedSessionJson(QJsonDocument sessionJson, QString patientID, QString sessionID,
                                             QDateTime sessionDate, int nJsonToDownload)
{
    if (m_sessionLoader)
        m_sessionLoader->recievedSessionJson(sessionJson, patientID, sessionID, sessionDate, nJsonToDownload);
}
void kelvarisVisualizer::groupLesionsByID()
{
    if (m_sessionLoader)
        m_sessionLoader->groupLesionsByID();
}
void kelvarisVisualizer::addNewClinicalImage()
{
    if (m_sessionLoader)
        m_sessionLoader->addNewClinicalImage();
}
void kelvarisVisualizer::sessionSelectorChanged(int index, int sectorID)
{
    if (m_sessionLoader)
        m_sessionLoader->sessionSelectorChanged(index, sectorID);
}
void kelvarisVisualizer::checkDisabledButtons()
{
    if (m_sessionLoader)
        m_sessionLoader->checkDisabledButtons();
}
void kelvarisVisualizer::dermatoSessionSelectorChanged(int index, int selectorID)
{
    if (m_sessionLoader)
        m_sessionLoader->dermatoSessionSelectorChanged(index, selectorID);
}
void kelvarisVisualizer::changeHistoricLesions(QSharedPointer<LesionVisualizer> lesion)
{
    if (m_sessionLoader)
        m_sessionLoader->changeHistoricLesions(lesion);
}
bool kelvarisVisualizer::buildSecondaryView()
{
    return m_sessionLoader && m_sessionLoader->buildSecondaryView();
}

// --- reports -------------------------------------------------------------------------------

void kelvarisVisualizer::setUpReports()
{
    reportsFlow = new ReportsFlow(this);
    reportsFlow->setContextProvider([this] {
        return ReportsFlow::Context{m_login ? m_login->userName() : QString(), currentPatientName(),
                                    m_login ? m_login->serverName() : QString(),
                                    m_sessionLoader ? m_sessionLoader->principalSession()
                                                    : QSharedPointer<SessionVisualizer>()};
    });
    connect(reportListButton, &QPushButton::clicked, reportsFlow, &ReportsFlow::reportListButtonClicked);
    connect(reportButton, &QPushButton::clicked, reportsFlow, &ReportsFlow::reportButtonClicked);
    connect(reportsFlow, &ReportsFlow::showNotification, this,
            [](const QString &message, int timeout) { showNotification(message, timeout); });
}

// Without a configuration the window has no reports flow: these do nothing then.
void kelvarisVisualizer::openReportEditor(QJsonDocument templatesList)
{
    if (reportsFlow)
        reportsFlow->openReportEditor(templatesList);
}

void kelvarisVisualizer::reportsListRecieved(std::vector<std::pair<std::pair<QDate, QDate>, QUrl>> list)
{
    if (reportsFlow)
        reportsFlow->reportsListRecieved(std::move(list));
}

void kelvarisVisualizer::reconnectReportSignals()
{
    if (reportsFlow)
        reportsFlow->reconnectReportSignals();
}

QString kelvarisVisualizer::currentPatientName() const
{
    return m_search && m_search->nameLabel() ? m_search->nameLabel()->text() : QString();
}
