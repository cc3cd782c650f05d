// The session loader's widgets: the session page, the legend, the selectors,
// the views and their modes, and images added by hand.

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
#include <QShortcut>
#include <QSplitter>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <exception>

using kelvaris::trace;

namespace {

// The account for which the sessions' extra lesion information is shown.
const QString kDemonstrationUser = QStringLiteral("Demonstration");

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

    // Keyboard: the next and previous clinical image of the shown position.
    auto *next = new QShortcut(QKeySequence(Qt::Key_PageDown), m_window);
    connect(next, &QShortcut::activated, this, &SessionLoader::showNextImage);
    auto *previous = new QShortcut(QKeySequence(Qt::Key_PageUp), m_window);
    connect(previous, &QShortcut::activated, this, &SessionLoader::showPreviousImage);

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
    // dermoscopic left, mid, left, principal, spacer, patient information
    // (the patient search puts its panel first in the row).
    row->addSpacing(30);
    row->addWidget(m_selectorWidgets[PrincipalSelector]);
    row->setDirection(QBoxLayout::RightToLeft);
    row->addWidget(m_selectorWidgets[LeftSelector]);
    row->addWidget(m_selectorWidgets[MidSelector]);
    row->addWidget(m_selectorWidgets[DermatosLeftSelector]);
}

// --- building the views ----------------------------------------------------------------

bool SessionLoader::buildViewFromDisk()
{
    trace(QStringLiteral("kelvarisVisualizer::buildViewFromDisk"));
    if (!m_principalSession || (m_loadingDialog && m_loadingDialog->wasCanceled()))
        return false;
    if (m_window->m_login && m_window->m_login->userName() == kDemonstrationUser)
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
    emit principalSessionShown();
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
    showPatientPanel(true);
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
    if (m_window->m_login && m_window->m_login->userName() == kDemonstrationUser)
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

// What the hybrid and dermoscopic views share on the way in: the clinical
// view's splitters are remembered and its second session put away.
void SessionLoader::leaveTwoSessionView()
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
}

void SessionLoader::showHybridView()
{
    leaveTwoSessionView();
    m_primaryView->showHybridLayout();
    m_secondaryView->setPairMode(false);
    showPatientPanel(true);
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
    leaveTwoSessionView();
    m_primaryView->showDermoscopicLayout();
    m_secondaryView->setPairMode(false);
    showPatientPanel(true);
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
    showPatientPanel(true);
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
    emit imageAdded(m_principalSession, 'G', name, QImage(), bytes);
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
