#pragma once

#include "session/LesionChangeSummary.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"

#include <QByteArray>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QMap>
#include <QMetaObject>
#include <QModelIndex>
#include <QPersistentModelIndex>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QSharedPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

class ClinicalPixmapItem;
class DermatoGraphicsView;
class DermatoPixmapItem;
class DoubleClickButton;
class GraphicsScene;
class GraphicsView;
class ImageItem;
class ImageItemRect;
class ListView;
class QAction;
class QButtonGroup;
class QFrame;
class QGraphicsRectItem;
class QGraphicsScene;
class QGraphicsView;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QToolBar;
class QToolButton;
class QToolButtonAction;
class QVBoxLayout;
class QtStatisticsWidget;

// Shows one examination session: the body map of one body position (an
// overview tile per clinical image over the position's silhouette), the
// selected clinical image large with its lesion markers, the dermatoscopic
// preview of the selected lesion, the lesion-size histogram and the lesion
// list. Every body position is one GraphicsScene that both clinical views
// look at; scene index = position + 1 (0 is the External position).
//
// Scenes are owned through shared pointers and retired exactly once when a
// new session is built. Nothing kept between calls points into a scene
// without a guard: markers are held in QPointer, tiles and clinical items
// together with a guard on their scene, so a rebuild (of this widget or of
// the other one showing the same session) never leaves a dangling pointer.
class QtVisualizationWidgets : public QWidget
{
    Q_OBJECT

public:
    static constexpr int closeUpOffset = 50000;
    static constexpr int noScene = -5;

    // The image getVisibleImage() hands to the comparison.
    struct VisibleImage
    {
        QImage image;
        QIcon icon;
    };

    QtVisualizationWidgets(std::vector<QString> positionNames, int viewIndex, QWidget *parent = nullptr);
    ~QtVisualizationWidgets() override;

    // Builds everything for a session; false when cancelled.
    bool buildView(QSharedPointer<SessionVisualizer> session);
    // Makes a running or the next buildView stop and return false.
    void cancelBuild();
    // Set once a buildView completed; never cleared.
    bool isBuilt() const { return m_built; }

    int getViewIndex() const { return m_viewIndex; }
    QSharedPointer<SessionVisualizer> getSession() const { return m_session; }

    // buttonIndex: the position button's index, -1 for "External".
    void changeScene(int buttonIndex);
    // sceneIndex = position + 1; out of range leaves the views' scenes alone.
    void changeSceneRealIndex(int sceneIndex);
    int getCurrentSceneIndex() const { return m_currentSceneIndex; }
    int getSceneCount() const { return int(m_scenes.size()); }
    // Null when out of range.
    GraphicsScene *getScene(int sceneIndex) const;
    // The overview limits and the close-up rectangle of a scene; null
    // rectangles when out of range.
    QRect getOverviewLimits(int sceneIndex) const;
    QRect getCloseUpRect(int sceneIndex) const;

    // The clinical image of the selected tile and an icon of it with the
    // session date; null image and icon when nothing is selected.
    VisibleImage getVisibleImage() const;
    // (position name, index in that position's camera poses) of the selected
    // tile; ("", -1) when none or on the External scene.
    std::pair<QString, int> currentImagePosition() const;
    // Shows the position's scene and selects the tile of camera pose
    // imageIndex; positionIndex < -1 or imageIndex < 0 is ignored.
    void selectImageAt(int positionIndex, int imageIndex);
    // The next or previous clinical image of the shown position in pose
    // order (keyboard Page Down / Page Up); nothing at the ends.
    void showNextImage();
    void showPreviousImage();

    // Pair mode of the close-up view; a pending pair candidate is dropped.
    void setPairMode(bool on);
    bool isPairMode() const;
    // The close-up view's parallel flag, the compare button and the stored
    // parallel-zoom flag, always together.
    void setParallelZoom(bool on);
    bool getParallelZoom() const { return m_parallelZoom; }
    // The other widget of the main window: the close-up views mirror each other.
    void setOtherVisualization(QtVisualizationWidgets *other);
    // The superposition tool-bar action (view index 0 only).
    void setSuperpositionVisible(bool visible);

    // The three arrangements of the widget.
    void showHybridLayout();
    void showDermoscopicLayout();
    void showClinicalLayout();
    bool isHybridLayout() const { return m_hybrid; }
    bool isDermoscopicLayout() const { return m_dermoscopic; }
    bool isClinicalLayout() const { return m_clinical; }
    // The six saved splitter states: hybrid horizontal, hybrid lower, hybrid
    // top, clinical horizontal, dermoscopic horizontal, dermoscopic vertical.
    QList<QByteArray> getSplitterStates() const;
    // A list shorter than six is ignored.
    void setSplitterStates(QList<QByteArray> states);

    // The parts, for the main window and tests.
    GraphicsView *getOverviewView() const { return m_overviewView; }
    GraphicsView *getCloseUpView() const { return m_closeUpView; }
    ListView *getListView() const { return m_listView; }
    QtStatisticsWidget *getStatisticsWidget() const { return m_statisticsWidget; }
    DermatoGraphicsView *getPreviewView() const { return m_previewView; }
    DermatoPixmapItem *getPreviewItem() const { return m_previewItem; }
    QFrame *getDermaFrame() const { return m_dermaFrame; }
    QGraphicsView *getClinicalFarView() const;
    QGraphicsView *getClinicalCloseUpView() const;

    // Source row of the selected list entry, -1 when none.
    int getSelectedRow() const { return m_selectedRow; }
    QModelIndex getCurrentListIndex() const { return m_currentListIndex; }
    QSharedPointer<LesionVisualizer> getHighlightedLesion() const { return m_highlightedLesion; }
    // The clinical item of the lesion's main pose in this widget's scenes,
    // or null (not built here, no image for the pose, or scene gone).
    ClinicalPixmapItem *principalClinicalItemOf(const QSharedPointer<LesionVisualizer> &lesion) const;

    // ---- what changed since the last visit (QtVisualizationWidgetsChanges.cpp)
    // Shows the summary line above the list, the badges of its rows and the
    // "Changed only" filter; null, or a summary of another session than the
    // shown one, hides them. A build of another session drops it.
    void setChangeSummary(std::shared_ptr<const LesionChangeSummary> summary);
    std::shared_ptr<const LesionChangeSummary> changeSummary() const { return m_changes; }
    QLabel *getChangeSummaryLabel() const { return m_changeSummaryLabel; }
    QPushButton *getChangedOnlyButton() const { return m_changedOnlyButton; }
    QToolButton *getGoneLesionsButton() const { return m_goneButton; }
    // Shows a lesion of this widget's session on its clinical image, with its
    // marker highlighted and, when listed, its row; false when the lesion is
    // not of the shown session.
    bool showLesionOnImage(const QSharedPointer<LesionVisualizer> &lesion);

public slots:
    // Receiver of the session's newClinicalExternalImageArrived().
    void rebuildExternalScene();
    // Shows the remembered focused list entry again.
    void dermatoUpdatePreview();
    // Lists the lesions of a finished capture round that are not listed yet.
    void addCapturedLesions(std::unordered_map<QString, QSharedPointer<LesionVisualizer>> lesions);
    // Receiver of the session's changeDermatoImage(lesion).
    void changeDermatoImage(QSharedPointer<LesionVisualizer> lesion);
    // The dermoscopic layout's close-up of one lesion with the rest dimmed.
    void focusLesion(QSharedPointer<LesionVisualizer> lesion);

    // The handlers of the edit, hide-spots and hide-numbers buttons; the main
    // window connects the primary widget's signals to the secondary's.
    void setModifyMode(bool checked);
    void setHideSpots(bool checked);
    void setHideNumbers(bool checked);
    // The label legend's choice (label -> shown); the main window's
    // labelsSelectionChanged reaches it.
    void setLabelsShown(std::unordered_map<QString, bool> labels);

signals:
    void pairModeButtonClicked(bool clicked);
    void compareClinicalImages();
    void parallelZoomButtonClicked(bool clicked);
    void modifyClicked(bool checked);
    void hideSpotsClicked(bool checked);
    void hideNumbersClicked(bool checked);
    void changeIconSize(QSize size);
    // A lesion of the last visit that is not in this session was chosen.
    void goneLesionActivated(QSharedPointer<LesionVisualizer> lesion);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A graphics item with the scene it lives in: it reads as null once the
    // scene is gone.
    template <typename T> struct ItemRef
    {
        T *item = nullptr;
        QPointer<QGraphicsScene> scene;
        T *get() const { return scene ? item : nullptr; }
    };
    using NameMap = std::map<QString, ItemRef<ClinicalPixmapItem>>;

    struct TilePositions
    {
        std::vector<QPointF> positions;
        float width = 0.0f;
        float height = 0.0f;
    };

    // ---- construction (QtVisualizationWidgets.cpp) ----
    void setupUi();
    void buildPositionButtons();
    void buildCloseUpToolBar();
    void buildListToolBar();
    QWidget *buildChangeHeader();
    void updateChangeHeader();
    void connectParts();
    void connectMainWindow();
    bool buildViewSteps(const QSharedPointer<SessionVisualizer> &session);
    void connectSession();
    void disconnectSession();
    void resetForNewSession();
    void showPositionButton(int position);
    void checkPositionFilter(int position);
    int sceneIndexOfPositionName(const QString &name) const;
    void positionButtonClicked(int buttonIndex);
    void selectImage(ImageItem *tile);
    void highlightLesion(const QSharedPointer<LesionVisualizer> &lesion);
    void listClicked(const QModelIndex &index);
    void listItemSelected(const QModelIndex &index);
    void listDoubleClicked(const QModelIndex &index);
    void listElementFocus(const QModelIndex &index);
    void listMouseOver(const QModelIndex &index);
    QSharedPointer<LesionVisualizer> lesionOfProxyIndex(const QModelIndex &index) const;
    void toggleSelection(const QModelIndex &index);
    void showLesion(const QSharedPointer<LesionVisualizer> &lesion);
    void moveVisualization(int direction);
    void sizesChanged(const std::vector<std::pair<double, double>> &intervals);
    void applySizeBounds(int lower, int upper);
    void updateListIconSize();
    void zoomCloseUp(double factor);
    void refreshCurrentMarkers();
    ImageItem *selectedTile() const;
    void stepImage(int step);

    // ---- scene construction (QtVisualizationWidgetsScene.cpp) ----
    // rebuild: the External scene of a built session is being replaced.
    TilePositions imagePositions(int position, bool rebuild = false);
    QSize addGeneralsToScene(GraphicsScene *scene, const TilePositions &layout, int position,
                             const QString &sessionFolder, NameMap &nameMap);
    void addLesionsToScene(GraphicsScene *scene, int position, const QString &sessionFolder,
                           const NameMap &nameMap);
    void computeNeighbours();
    // One scene (steps of buildView); false when cancelled on the way.
    bool buildScene(int position, bool rebuild, QSharedPointer<GraphicsScene> &scene, NameMap &nameMap,
                    QRect &closeUpRect);
    bool takeCancel();

    // ---- layouts (QtVisualizationWidgetsLayouts.cpp) ----
    // Stores the states of the layout being left, among those allowed.
    void storeLeavingLayout(bool hybrid, bool dermoscopic, bool clinical);
    void detachClinicalSplitter();
    void showLayoutActions(bool visible);
    void emptyPreview();
    void clickRememberedLater(int delayMs, bool firstRowFallback);
    void recreateDimmingRects();
    void hideDimmingRects();

    std::vector<QString> m_positionNames;
    int m_viewIndex = 0;
    QSharedPointer<SessionVisualizer> m_session;
    std::vector<QMetaObject::Connection> m_sessionConnections;

    // Scenes of the shown session and what each one delivered.
    std::vector<QSharedPointer<GraphicsScene>> m_scenes;
    std::vector<QRect> m_overviewLimits;
    std::vector<QRect> m_closeUpRects;
    std::vector<NameMap> m_nameMaps;
    std::map<int, ItemRef<ImageItem>> m_firstTiles;
    // A lesion's principal clinical item and marker in this widget. The
    // lesion is kept weakly, so that another lesion made later at the same
    // address is never taken for it.
    struct Principal
    {
        QWeakPointer<LesionVisualizer> lesion;
        ItemRef<ClinicalPixmapItem> item;
        QPointer<ImageItemRect> marker;
    };
    QHash<const LesionVisualizer *, Principal> m_principals;
    const Principal *principalOf(const QSharedPointer<LesionVisualizer> &lesion) const;
    int m_currentSceneIndex = noScene;

    int m_layoutWidth = 400;
    int m_layoutHeight = 500;
    double m_aspect = 1.25;

    int m_selectedRow = -1;
    QPersistentModelIndex m_currentListIndex;
    QSharedPointer<LesionVisualizer> m_highlightedLesion;
    // The lesion the preview shows, for its context menu.
    QWeakPointer<LesionVisualizer> m_previewLesion;

    bool m_hybrid = false;
    bool m_dermoscopic = false;
    bool m_clinical = false;
    bool m_iconList = false;
    bool m_parallelZoom = true;
    std::array<QByteArray, 6> m_splitterStates;
    // Made in the scene that focusLesion dims, which owns them.
    std::array<ItemRef<QGraphicsRectItem>, 4> m_dimmingRects;
    bool m_hideSpots = false;
    bool m_hideNumbers = false;

    bool m_built = false;
    std::atomic<bool> m_buildCancelled{false};
    bool m_building = false;

    // Widget tree.
    QHBoxLayout *m_horizontalLayout = nullptr;
    QVBoxLayout *m_verticalLayout = nullptr;
    QSplitter *m_verticalSplitter = nullptr;
    QSplitter *m_horizontalSplitter = nullptr;
    QSplitter *m_horizontalSplitter2 = nullptr;
    QPointer<QSplitter> m_clinicalSplitter;
    QFrame *m_leftFrame = nullptr;
    QFrame *m_rightFrame = nullptr;
    QFrame *m_dermaFrame = nullptr;
    QFrame *m_listViewFrame = nullptr;
    QFrame *m_clinicalSplitFrame = nullptr;
    GraphicsView *m_overviewView = nullptr;
    GraphicsView *m_closeUpView = nullptr;
    QGraphicsView *m_clinicalFarView = nullptr;
    QGraphicsView *m_clinicalCloseUpView = nullptr;
    DermatoGraphicsView *m_previewView = nullptr;
    QGraphicsScene *m_previewScene = nullptr;
    DermatoPixmapItem *m_previewItem = nullptr;
    QtStatisticsWidget *m_statisticsWidget = nullptr;
    ListView *m_listView = nullptr;
    QToolBar *m_closeUpToolBar = nullptr;
    QToolBar *m_listToolBar = nullptr;
    QList<QToolButton *> m_positionButtons;
    QButtonGroup *m_positionGroup = nullptr;
    QMenu *m_schemeMenu = nullptr;
    QPushButton *m_addClinicalButton = nullptr;
    QPushButton *m_captureClinicalButton = nullptr;
    QList<QToolButtonAction *> m_toolActions;
    QToolButton *m_compareButton = nullptr;
    QToolButton *m_editButton = nullptr;
    QToolButton *m_hideSpotsButton = nullptr;
    QToolButton *m_hideNumbersButton = nullptr;
    QToolButton *m_pairButton = nullptr;
    QToolButton *m_superpositionButton = nullptr;
    QAction *m_compareAction = nullptr;
    QAction *m_pairAction = nullptr;
    QAction *m_superpositionAction = nullptr;
    QButtonGroup *m_sortGroup = nullptr;
    QToolButton *m_sortDirectionButton = nullptr;
    QButtonGroup *m_filterGroup = nullptr;
    QList<DoubleClickButton *> m_filterButtons;
    std::shared_ptr<const LesionChangeSummary> m_changes;
    QWidget *m_changeHeader = nullptr;
    QLabel *m_changeSummaryLabel = nullptr;
    QPushButton *m_changedOnlyButton = nullptr;
    QToolButton *m_goneButton = nullptr;
    // Context of delayed calls that belong to one session: replaced by every
    // build so that a call scheduled for the previous session never runs.
    std::unique_ptr<QObject> m_sessionContext;
};
