#include "visualization/QtVisualizationWidgets.h"

#include "app/kelvarisVisualizer.h"
#include "dermoscopy/DermatoGraphicsView.h"
#include "dermoscopy/DermatoPixmapItem.h"
#include "dermoscopy/QtDermatoscopicDialog.h"
#include "session/ClinicalPixmapItem.h"
#include "session/LesionsModel.h"
#include "session/ModelRoles.h"
#include "session/MultiRoleFilterProxyModel.h"
#include "statistics/QtRangeSlider.h"
#include "statistics/QtStatisticsWidget.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "visualization/ImageItem.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ListView.h"
#include "visualization/NoPropagationView.h"
#include "visualization/OverviewLayout.h"
#include "widgets/DoubleClickButton.h"
#include "widgets/IconHelpers.h"
#include "widgets/QToolButtonAction.h"
#include "widgets/Trace.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCommonStyle>
#include <QFrame>
#include <QGraphicsRectItem>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHoverEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyleOption>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <cmath>

namespace {

const QColor accentColour(255, 218, 195);
constexpr double zoomStep = 120.0;

// Scroll bars of the views: plain look, no context menu.
void plainScrollBars(QAbstractScrollArea *area, QStyle *style)
{
    for (QScrollBar *bar : {area->horizontalScrollBar(), area->verticalScrollBar()}) {
        bar->setStyle(style);
        bar->setContextMenuPolicy(Qt::NoContextMenu);
    }
}

QIcon externalIcon(const QSize &size)
{
    QIcon icon;
    const QString path = QStringLiteral(":/rsc/externalButtonIcon");
    const QPixmap normal = svgToPixmap(recolorSvg(path, accentColour), size);
    const QPixmap active = svgToPixmap(recolorSvg(path, Qt::black), size);
    icon.addPixmap(normal, QIcon::Normal, QIcon::Off);
    icon.addPixmap(active, QIcon::Active, QIcon::On);
    icon.addPixmap(active, QIcon::Active, QIcon::Off);
    return icon;
}

QIcon positionIcon(const QString &name)
{
    return QIcon(svgFileToPixmap(QStringLiteral(":/rsc/") + name + QStringLiteral(".svg"), QSize(30, 69)));
}

QIcon twoStateIcon(const QString &off, const QString &on)
{
    QIcon icon;
    icon.addFile(off, QSize(), QIcon::Normal, QIcon::Off);
    icon.addFile(on, QSize(), QIcon::Normal, QIcon::On);
    return icon;
}

} // namespace

QtVisualizationWidgets::QtVisualizationWidgets(std::vector<QString> positionNames, int viewIndex,
                                               QWidget *parent)
    : QWidget(parent), m_positionNames(std::move(positionNames)), m_viewIndex(viewIndex),
      m_sessionContext(std::make_unique<QObject>())
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setupUi();
    connectParts();
    connectMainWindow();
}

QtVisualizationWidgets::~QtVisualizationWidgets()
{
    disconnectSession();
    // The views let go of the scenes before the scenes go.
    for (QGraphicsView *view :
         {static_cast<QGraphicsView *>(m_overviewView), static_cast<QGraphicsView *>(m_closeUpView),
          m_clinicalFarView, m_clinicalCloseUpView})
        if (view)
            view->setScene(nullptr);
    m_nameMaps.clear();
    m_firstTiles.clear();
    m_principals.clear();
    m_scenes.clear();
}

// ---- widget tree ------------------------------------------------------------

void QtVisualizationWidgets::setupUi()
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("QtVisualizationWidgetsClass"));
    resize(600, 400);
    setWindowTitle(QStringLiteral("QtVisualizationWidgets"));
    auto *plainStyle = new QCommonStyle();
    plainStyle->setParent(this);

    m_horizontalLayout = new QHBoxLayout(this);
    m_horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    m_horizontalLayout->setSpacing(6);
    m_horizontalLayout->setContentsMargins(11, 11, 11, 11);
    m_verticalLayout = new QVBoxLayout();
    m_verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    m_verticalLayout->setSpacing(6);
    m_horizontalLayout->addLayout(m_verticalLayout);

    m_verticalSplitter = new QSplitter(Qt::Vertical, this);
    m_verticalSplitter->setObjectName(QStringLiteral("verticalSplitter"));
    m_verticalLayout->addWidget(m_verticalSplitter);
    m_horizontalSplitter = new QSplitter(Qt::Horizontal, m_verticalSplitter);
    m_horizontalSplitter->setObjectName(QStringLiteral("horizontalSplitter"));
    m_horizontalSplitter2 = new QSplitter(Qt::Horizontal, m_verticalSplitter);
    m_horizontalSplitter2->setObjectName(QStringLiteral("horizontalSplitter2"));
    m_verticalSplitter->addWidget(m_horizontalSplitter);
    m_verticalSplitter->addWidget(m_horizontalSplitter2);

    // Overview.
    m_leftFrame = new QFrame(m_horizontalSplitter);
    m_leftFrame->setObjectName(QStringLiteral("leftFrame"));
    auto *leftGrid = new QGridLayout(m_leftFrame);
    leftGrid->setContentsMargins(0, 0, 0, 0);
    auto *buttonRow = new QHBoxLayout();
    leftGrid->addLayout(buttonRow, 0, 0);
    m_overviewView = new GraphicsView(m_leftFrame, GraphicsView::Overview, QStringLiteral(" "));
    leftGrid->addWidget(m_overviewView, 1, 0);
    buildPositionButtons();
    for (QToolButton *button : m_positionButtons)
        buttonRow->addWidget(button);

    // Close-up with its tool bar.
    m_rightFrame = new QFrame(m_horizontalSplitter);
    m_rightFrame->setObjectName(QStringLiteral("rightFrame"));
    auto *rightGrid = new QGridLayout(m_rightFrame);
    rightGrid->setContentsMargins(0, 0, 0, 0);
    m_closeUpView = new GraphicsView(m_rightFrame, GraphicsView::CloseUp,
                                     QStringLiteral("VisualView") + QString::number(m_viewIndex));
    m_closeUpView->setObjectName(QStringLiteral("VisualView"));
    buildCloseUpToolBar();
    if (m_viewIndex == 1) {
        rightGrid->addWidget(m_closeUpToolBar, 0, 0);
        rightGrid->addWidget(m_closeUpView, 0, 1);
    } else {
        rightGrid->addWidget(m_closeUpView, 0, 0);
        rightGrid->addWidget(m_closeUpToolBar, 0, 1);
    }

    // Dermatoscopic preview.
    m_dermaFrame = new QFrame(m_horizontalSplitter);
    m_dermaFrame->setObjectName(QStringLiteral("dermaFrame"));
    auto *dermaLayout = new QVBoxLayout(m_dermaFrame);
    m_previewView = new DermatoGraphicsView(m_dermaFrame);
    m_previewScene = new QGraphicsScene(m_previewView);
    m_previewItem = new DermatoPixmapItem(m_previewScene);
    m_previewScene->addItem(m_previewItem);
    m_previewView->setScene(m_previewScene);
    m_previewView->setBackgroundBrush(Qt::transparent);
    m_previewView->setStyleSheet(QStringLiteral("background: transparent"));
    m_previewView->setFrameShape(QFrame::NoFrame);
    m_previewView->setRenderHint(QPainter::Antialiasing);
    m_previewView->setOptimizationFlag(QGraphicsView::DontSavePainterState);
    m_previewView->setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    m_previewView->setDragMode(QGraphicsView::ScrollHandDrag);
    m_previewView->setAttribute(Qt::WA_AcceptTouchEvents);
    plainScrollBars(m_previewView, plainStyle);
    m_previewView->viewport()->installEventFilter(this);
    dermaLayout->addWidget(m_previewView);

    m_horizontalSplitter->addWidget(m_leftFrame);
    m_horizontalSplitter->addWidget(m_rightFrame);
    m_horizontalSplitter->addWidget(m_dermaFrame);

    // Statistics and list.
    m_statisticsWidget = new QtStatisticsWidget(m_horizontalSplitter2);
    m_statisticsWidget->setObjectName(QStringLiteral("statisticsWidget"));
    m_listViewFrame = new QFrame(m_horizontalSplitter2);
    m_listViewFrame->setObjectName(QStringLiteral("listViewFrame"));
    auto *listLayout = new QHBoxLayout(m_listViewFrame);
    m_listView = new ListView(m_listViewFrame);
    m_listView->setObjectName(QStringLiteral("ListView"));
    buildListToolBar();
    listLayout->addWidget(m_listToolBar);
    auto *listColumn = new QVBoxLayout();
    listColumn->setContentsMargins(0, 0, 0, 0);
    listColumn->setSpacing(4);
    listColumn->addWidget(buildChangeHeader());
    listColumn->addWidget(m_listView, 1);
    listLayout->addLayout(listColumn);
    m_horizontalSplitter2->addWidget(m_statisticsWidget);
    m_horizontalSplitter2->addWidget(m_listViewFrame);

    // Far and close-up clinical views of the dermoscopic layout, on a second
    // splitter that the layouts place and take away. It stays a hidden child
    // of the widget while not placed, so it is never a window of its own.
    m_clinicalSplitter = new QSplitter(Qt::Vertical, this);
    m_clinicalSplitter->setObjectName(QStringLiteral("verticalSplitter"));
    m_clinicalSplitter->hide();
    m_clinicalSplitFrame = new QFrame(m_clinicalSplitter);
    m_clinicalSplitFrame->setObjectName(QStringLiteral("clinicalSplitFrame"));
    auto *clinicalLayout = new QHBoxLayout(m_clinicalSplitFrame);
    auto *farView = new NoPropagationView(m_clinicalSplitFrame);
    farView->setObjectName(QStringLiteral("ClinicalFarView"));
    auto *nearView = new NoPropagationView(m_clinicalSplitFrame);
    nearView->setObjectName(QStringLiteral("ClinicalCloseUpView"));
    m_clinicalFarView = farView;
    m_clinicalCloseUpView = nearView;
    for (QGraphicsView *view : {m_clinicalFarView, m_clinicalCloseUpView}) {
        view->setDragMode(QGraphicsView::NoDrag);
        plainScrollBars(view, plainStyle);
        clinicalLayout->addWidget(view);
    }
    m_clinicalSplitter->addWidget(m_clinicalSplitFrame);
}

// Icon-only buttons: the tip says what they do, and screen readers read the
// same words.
static void describe(QAbstractButton *button, const QString &text)
{
    button->setToolTip(text);
    button->setAccessibleName(text);
}

void QtVisualizationWidgets::buildPositionButtons()
{
    m_positionGroup = new QButtonGroup(this);
    m_positionGroup->setExclusive(true);
    for (size_t i = 0; i < m_positionNames.size(); ++i) {
        auto *button = new QToolButton(m_leftFrame);
        button->setObjectName(m_positionNames[i]);
        button->setCheckable(true);
        button->setChecked(i == 0);
        button->setIcon(positionIcon(m_positionNames[i]));
        button->setIconSize(QSize(40, 40));
        describe(button, tr("Show the %1 position").arg(m_positionNames[i]));
        m_positionGroup->addButton(button);
        m_positionButtons.append(button);
        const int index = int(i);
        connect(button, &QToolButton::clicked, this, [this, index] { positionButtonClicked(index); });
    }

    auto *external = new QToolButton(m_leftFrame);
    external->setObjectName(QStringLiteral("External"));
    external->setCheckable(true);
    external->setIconSize(QSize(34, 34));
    external->setIcon(externalIcon(QSize(34, 34)));
    external->setPopupMode(QToolButton::MenuButtonPopup);
    describe(external, tr("Show the External images"));
    m_schemeMenu = new QMenu(external);
    m_schemeMenu->setObjectName(QStringLiteral("schemeMenu"));
    m_schemeMenu->setWindowFlags(m_schemeMenu->windowFlags() | Qt::Popup | Qt::FramelessWindowHint);
    m_schemeMenu->setAttribute(Qt::WA_TranslucentBackground);
    m_addClinicalButton = new QPushButton(tr("Add external image"), m_schemeMenu);
    m_addClinicalButton->setObjectName(QStringLiteral("addClinical"));
    m_captureClinicalButton = new QPushButton(tr("Capture external image"), m_schemeMenu);
    m_captureClinicalButton->setObjectName(QStringLiteral("addClinical"));
    for (QPushButton *button : {m_addClinicalButton, m_captureClinicalButton}) {
        auto *action = new QWidgetAction(m_schemeMenu);
        action->setDefaultWidget(button);
        m_schemeMenu->addAction(action);
    }
    external->setMenu(m_schemeMenu);
    m_positionGroup->addButton(external);
    m_positionButtons.append(external);
    connect(external, &QToolButton::clicked, this, [this] { changeScene(-1); });
}

void QtVisualizationWidgets::buildCloseUpToolBar()
{
    m_closeUpToolBar = new QToolBar(m_rightFrame);
    m_closeUpToolBar->setOrientation(Qt::Vertical);
    m_closeUpToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_closeUpToolBar->setIconSize(QSize(23, 23));

    auto addButton = [this](const QString &name, const QIcon &icon, bool checkable, const QString &tip) {
        auto *action = new QToolButtonAction(m_closeUpToolBar);
        auto *button = new QToolButton();
        button->setObjectName(name);
        describe(button, tip);
        button->setIcon(icon);
        button->setIconSize(QSize(23, 23));
        button->setCheckable(checkable);
        action->templateButton = button;
        action->setDefaultWidget(button);
        m_closeUpToolBar->addAction(action);
        connect(this, &QtVisualizationWidgets::changeIconSize, action, &QToolButtonAction::setIconSize);
        m_toolActions.append(action);
        return std::make_pair(button, static_cast<QAction *>(action));
    };

    const double step = std::pow(GraphicsView::wheelBase, zoomStep);
    auto zoomIn = addButton(QStringLiteral("zoomInButton"), QIcon(QStringLiteral(":/icon/addIcon")), false,
                            tr("Zoom in"));
    connect(zoomIn.first, &QToolButton::clicked, this, [this, step] { zoomCloseUp(step); });
    auto zoomOut = addButton(QStringLiteral("zoomOutButton"), QIcon(QStringLiteral(":/icon/minusIcon")),
                             false, tr("Zoom out"));
    connect(zoomOut.first, &QToolButton::clicked, this, [this, step] { zoomCloseUp(1.0 / step); });
    auto fit = addButton(QStringLiteral("basic"), QIcon(QStringLiteral(":/icon/fitInViewIcon")), false,
                         tr("Fit the image"));
    connect(fit.first, &QToolButton::clicked, this, [this] { m_closeUpView->fitImage(QRectF()); });
    connect(this, &QtVisualizationWidgets::changeIconSize, m_closeUpToolBar, &QToolBar::setIconSize);

    if (m_viewIndex != 0)
        return;
    const QString basic = QStringLiteral("basic");
    auto compare = addButton(basic, QIcon(QStringLiteral(":/icon/compareDermato")), true,
                             tr("Zoom both sessions together"));
    m_compareButton = compare.first;
    m_compareButton->setChecked(true);
    m_compareAction = compare.second;
    m_compareAction->setVisible(false);
    connect(m_compareButton, &QToolButton::clicked, this, &QtVisualizationWidgets::parallelZoomButtonClicked);

    auto edit = addButton(basic, QIcon(QStringLiteral(":/icon/edit")), true, tr("Edit the lesion marks"));
    m_editButton = edit.first;
    connect(m_editButton, &QToolButton::clicked, this, &QtVisualizationWidgets::modifyClicked);

    auto hideSpots =
        addButton(basic, twoStateIcon(QStringLiteral(":/icon/hide"), QStringLiteral(":/icon/hideClicked")),
                  true, tr("Hide the lesion marks"));
    m_hideSpotsButton = hideSpots.first;
    connect(m_hideSpotsButton, &QToolButton::clicked, this, &QtVisualizationWidgets::hideSpotsClicked);

    auto hideNumbers = addButton(
        basic, twoStateIcon(QStringLiteral(":/icon/hideNumber"), QStringLiteral(":/icon/hideNumberClicked")),
        true, tr("Hide the lesion numbers"));
    m_hideNumbersButton = hideNumbers.first;
    connect(m_hideNumbersButton, &QToolButton::clicked, this, &QtVisualizationWidgets::hideNumbersClicked);

    auto pair = addButton(basic, QIcon(QStringLiteral(":/icon/pair")), true, tr("Pair lesions"));
    m_pairButton = pair.first;
    m_pairAction = pair.second;
    m_pairAction->setVisible(false);
    connect(m_pairButton, &QToolButton::clicked, this, &QtVisualizationWidgets::pairModeButtonClicked);

    auto superposition = addButton(basic, QIcon(QStringLiteral(":/icon/superposition.svg")), false,
                                   tr("Superpose the two images"));
    m_superpositionButton = superposition.first;
    m_superpositionAction = superposition.second;
    m_superpositionAction->setVisible(false);
    connect(m_superpositionButton, &QToolButton::clicked, this,
            &QtVisualizationWidgets::compareClinicalImages);

    auto info = addButton(basic, QIcon(QStringLiteral(":/menu/info")), false, tr("Lesion information"));
    connect(info.first, &QToolButton::clicked, this, [this] {
        if (m_session)
            m_session->showLesionsExtraInfo();
    });
}

void QtVisualizationWidgets::buildListToolBar()
{
    m_listToolBar = new QToolBar(m_listViewFrame);
    m_listToolBar->setOrientation(Qt::Vertical);
    m_listToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);

    m_sortDirectionButton = new QToolButton(m_listToolBar);
    m_sortDirectionButton->setObjectName(QStringLiteral("buttonSortDirection"));
    m_sortDirectionButton->setCheckable(true);
    describe(m_sortDirectionButton, tr("Sort direction"));
    m_sortDirectionButton->setIcon(
        twoStateIcon(QStringLiteral(":/icon/ascendingOrder"), QStringLiteral(":/icon/descendingOrder")));
    m_listToolBar->addWidget(m_sortDirectionButton);

    m_sortGroup = new QButtonGroup(this);
    m_sortGroup->setExclusive(true);
    auto *byPosition = new QToolButton(m_listToolBar);
    byPosition->setObjectName(QStringLiteral("buttonSortPosition"));
    byPosition->setIcon(QIcon(QStringLiteral(":/icon/position")));
    byPosition->setCheckable(true);
    byPosition->setChecked(true);
    describe(byPosition, tr("Sort by position"));
    auto *byLabel = new QToolButton(m_listToolBar);
    byLabel->setObjectName(QStringLiteral("buttonSortLabel"));
    byLabel->setIcon(QIcon(QStringLiteral(":/icon/label")));
    byLabel->setCheckable(true);
    describe(byLabel, tr("Sort by label"));
    for (QToolButton *button : {byPosition, byLabel}) {
        m_sortGroup->addButton(button);
        m_listToolBar->addWidget(button);
    }
    m_listView->connectSortControls(m_sortDirectionButton, m_sortGroup);

    QToolButton *labelFilter = m_listView->createLabelFilterButton(QSize(34, 34), m_listToolBar);
    describe(labelFilter, tr("Filter by label"));
    labelFilter->setStyleSheet(QStringLiteral("QPushButton::menu-indicator { image: none; }"));
    QAction *labelFilterAction = m_listToolBar->addWidget(labelFilter);
    labelFilterAction->setVisible(false);

    m_filterGroup = new QButtonGroup(this);
    m_filterGroup->setExclusive(false);
    for (size_t i = 0; i < m_positionNames.size(); ++i) {
        auto *button = new DoubleClickButton(m_listToolBar);
        button->setObjectName(QStringLiteral("ButtonFilter"));
        button->setProperty("position", int(i));
        button->setProperty("positionName", m_positionNames[i]);
        button->setIcon(positionIcon(m_positionNames[i]));
        describe(button, tr("List the %1 lesions").arg(m_positionNames[i]));
        m_filterButtons.append(button);
    }
    auto *external = new DoubleClickButton(m_listToolBar);
    external->setObjectName(QStringLiteral("ExternalButtonFilter"));
    external->setProperty("positionName", QStringLiteral("External"));
    external->setIcon(externalIcon(QSize(34, 34)));
    describe(external, tr("List the External lesions"));
    m_filterButtons.append(external);
    for (DoubleClickButton *button : m_filterButtons) {
        button->setIconSize(QSize(34, 34));
        button->setCheckable(true);
        button->setChecked(true);
        m_filterGroup->addButton(button);
        m_listToolBar->addWidget(button);
    }
    m_listView->connectPositionFilter(m_filterGroup);
}

void QtVisualizationWidgets::connectParts()
{
    connect(m_closeUpView, &GraphicsView::moveVisualization, this,
            &QtVisualizationWidgets::moveVisualization);
    // The dermatoscopic viewer runs modally: opened from the event loop, not
    // from inside the view's own mouse handler.
    auto openViewer = [this](const QSharedPointer<LesionVisualizer> &lesion) {
        const QWeakPointer<LesionVisualizer> weak = lesion;
        QMetaObject::invokeMethod(
            this,
            [this, weak] {
                if (const auto target = weak.toStrongRef())
                    QtDermatoscopicDialog::openDermatoscopicViewer(target, this);
            },
            Qt::QueuedConnection);
    };
    connect(m_closeUpView, &GraphicsView::dermatoscopicViewerRequested, this, openViewer);
    auto openForListEntry = [this, openViewer] {
        if (const auto lesion = lesionOfProxyIndex(m_currentListIndex))
            openViewer(lesion);
    };
    connect(m_previewView, &DermatoGraphicsView::doubleClicked, this, openForListEntry);
    if (auto *closeUp = qobject_cast<NoPropagationView *>(m_clinicalCloseUpView))
        connect(closeUp, &NoPropagationView::doubleClicked, this, openForListEntry);

    // Connected before any setData, so that the first selection published
    // for a new session reaches the filters.
    connect(m_statisticsWidget, &QtStatisticsWidget::selectionChanged, this,
            &QtVisualizationWidgets::sizesChanged);

    connect(m_listView, &QAbstractItemView::clicked, this, &QtVisualizationWidgets::listClicked);
    connect(m_listView, &ListView::itemSelected, this, &QtVisualizationWidgets::listItemSelected);
    connect(m_listView, &QAbstractItemView::doubleClicked, this, &QtVisualizationWidgets::listDoubleClicked);
    connect(m_listView, &ListView::elementFocus, this, &QtVisualizationWidgets::listElementFocus);
    connect(m_listView, &ListView::generalElementMouseOver, this, &QtVisualizationWidgets::listMouseOver);
    // The list dropped its highlight (a re-sort or a filter by the user):
    // the selection goes with it, so the next click selects again.
    connect(m_listView, &ListView::highlightCleared, this, [this] { m_selectedRow = -1; });

    connect(this, &QtVisualizationWidgets::modifyClicked, this, &QtVisualizationWidgets::setModifyMode);
    connect(this, &QtVisualizationWidgets::hideSpotsClicked, this, &QtVisualizationWidgets::setHideSpots);
    connect(this, &QtVisualizationWidgets::hideNumbersClicked, this, &QtVisualizationWidgets::setHideNumbers);
}

void QtVisualizationWidgets::connectMainWindow()
{
    auto *window = qobject_cast<kelvarisVisualizer *>(parent());
    if (!window)
        return;
    const int viewIndex = m_viewIndex;
    connect(m_closeUpView, &GraphicsView::lesionSelected, window,
            [window, viewIndex](QSharedPointer<LesionVisualizer> lesion) {
                window->pairModeLesionSelected(lesion, viewIndex);
            });
    connect(window, &kelvarisVisualizer::pairModeLesionsDone, m_closeUpView, &GraphicsView::pairDone);
    connect(window, &kelvarisVisualizer::labelsSelectionChanged, this,
            &QtVisualizationWidgets::setLabelsShown);
    connect(m_addClinicalButton, &QPushButton::clicked, window, &kelvarisVisualizer::addNewClinicalImage);
}

// ---- session ----------------------------------------------------------------

void QtVisualizationWidgets::connectSession()
{
    if (!m_session)
        return;
    SessionVisualizer *session = m_session.data();
    m_sessionConnections.push_back(
        connect(session, &SessionVisualizer::newLesionCaptured, m_listView, &ListView::addLesion));
    // The capture of an external image (a device request) is the capture
    // flow's; the button is wired to it once that flow exists.
    m_sessionConnections.push_back(connect(session, &SessionVisualizer::newClinicalExternalImageArrived, this,
                                           &QtVisualizationWidgets::rebuildExternalScene));
    m_sessionConnections.push_back(connect(session, &SessionVisualizer::changeDermatoImage, this,
                                           &QtVisualizationWidgets::changeDermatoImage));
}

void QtVisualizationWidgets::disconnectSession()
{
    for (const QMetaObject::Connection &connection : m_sessionConnections)
        disconnect(connection);
    m_sessionConnections.clear();
}

void QtVisualizationWidgets::resetForNewSession()
{
    emptyPreview();
    m_nameMaps.clear();
    m_firstTiles.clear();
    m_principals.clear();
    m_listView->clearHighlight();
    m_selectedRow = -1;
    m_currentListIndex = QPersistentModelIndex();
    m_currentSceneIndex = noScene;
    if (m_highlightedLesion)
        emit m_highlightedLesion->removeHighlight();
    m_highlightedLesion.reset();
    // Delayed calls scheduled for the previous session never run.
    m_sessionContext = std::make_unique<QObject>();
    if (m_session) {
        kelvaris::trace(QStringLiteral("DINS SessionVisualizer::disconnectHistoricLesions"));
        m_session->disconnectHistoricLesions();
    }
    disconnectSession();
}

bool QtVisualizationWidgets::buildView(QSharedPointer<SessionVisualizer> session)
{
    // A build runs pending events between its steps; one started from such
    // an event would tear down the scenes the running one is filling.
    if (m_building) {
        kelvaris::trace(QStringLiteral("buildView: a build is running, refused"));
        return false;
    }
    m_building = true;
    const bool built = buildViewSteps(session);
    m_building = false;
    return built;
}

bool QtVisualizationWidgets::buildViewSteps(const QSharedPointer<SessionVisualizer> &session)
{
    if (!session) {
        kelvaris::trace(QStringLiteral("buildView: no session"));
        return false;
    }
    m_firstTiles.clear();
    kelvaris::trace(QStringLiteral("QtVisualizationWidgets::buildView"));
    resetForNewSession();
    recreateDimmingRects();

    m_session = session;
    if (m_changes && m_changes->principalSessionId() != session->getSessionId())
        setChangeSummary(nullptr);
    connectSession();
    m_listView->setSession(session);
    m_overviewView->reset();
    m_closeUpView->reset();
    QCoreApplication::processEvents();

    // The views let go of the old scenes first; the scenes are retired once,
    // when their last shared pointer goes.
    for (QGraphicsView *view :
         {static_cast<QGraphicsView *>(m_overviewView), static_cast<QGraphicsView *>(m_closeUpView),
          m_clinicalFarView, m_clinicalCloseUpView})
        view->setScene(nullptr);
    m_closeUpView->setCurrentScene(nullptr);
    m_overviewView->setCurrentScene(nullptr);
    m_scenes.clear();
    if (takeCancel())
        return false;

    QCoreApplication::processEvents();
    m_closeUpRects.clear();
    m_overviewLimits.clear();
    for (QToolButton *button : m_positionButtons)
        button->hide();
    m_aspect = 1.25;

    m_listView->resetModels();
    m_selectedRow = -1;
    kelvaris::trace(QStringLiteral("ANem a fer el connect: "));

    std::vector<double> sizes;
    const int positions = session ? int(session->getPositionNames().size()) : 0;
    for (int p = SessionVisualizer::externalPosition; p < positions; ++p) {
        if (takeCancel())
            return false;
        QSharedPointer<GraphicsScene> scene;
        NameMap nameMap;
        QRect closeUpRect;
        if (!buildScene(p, false, scene, nameMap, closeUpRect))
            return false;
        m_nameMaps.push_back(std::move(nameMap));
        m_closeUpRects.push_back(closeUpRect);
        m_scenes.push_back(scene);
        showPositionButton(p);
        for (const auto &lesion : session->getLesions().value(p))
            if (lesion)
                sizes.push_back(lesion->getRadius());
    }

    computeNeighbours();
    if (takeCancel())
        return false;

    QCoreApplication::processEvents();
    m_statisticsWidget->setData(sizes);

    GraphicsScene *external = getScene(0);
    m_closeUpView->setCurrentScene(external);
    m_overviewView->setCurrentScene(external);
    m_listView->setUpModels();
    if (m_iconList)
        m_listView->setIconMode(true);
    m_iconList = false;
    // The filters of the new models follow the controls as they are.
    sizesChanged(m_statisticsWidget->selectedIntervals());

    // Entry 1 is the first session position; a session without positions
    // has only the External entry.
    const int shown = m_scenes.size() > 1 ? 1 : 0;
    const QRect limits = getOverviewLimits(shown);
    const QRect closeUp = getCloseUpRect(shown);
    if (OverviewLayout::validLimits(limits)) {
        m_overviewView->setSceneRect(limits);
        m_overviewView->fitInView(limits, Qt::KeepAspectRatio);
    }
    if (closeUp.isValid()) {
        m_closeUpView->setSceneRect(closeUp);
        m_closeUpView->fitInView(closeUp, Qt::KeepAspectRatio);
    }
    kelvaris::trace(QStringLiteral("visualSceneLimits %1 %2 %3 %4")
                        .arg(closeUp.x())
                        .arg(closeUp.y())
                        .arg(closeUp.width())
                        .arg(closeUp.height()));

    if (MultiRoleFilterProxyModel *proxy = m_listView->getProxyModel()) {
        const QModelIndex first = proxy->index(0, 0);
        if (first.isValid())
            emit m_listView->clicked(first);
    }

    if (takeCancel())
        return false;
    m_built = true;
    return true;
}

bool QtVisualizationWidgets::takeCancel()
{
    return m_buildCancelled.exchange(false);
}

void QtVisualizationWidgets::cancelBuild()
{
    m_buildCancelled.store(true);
}
