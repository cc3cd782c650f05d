#pragma once

#include "dermoscopy/DermatoscopicItem.h"

#include <QDialog>
#include <QImage>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QSharedPointer>
#include <QString>

#include <array>
#include <map>
#include <utility>
#include <vector>

class DermatoDialogListView;
class DermatoImageAdjuster;
class DermatoImageBudget;
class DermatoscopicItemModel;
class GraphicsView;
class LesionVisualizer;
class QFrame;
class QGraphicsPixmapItem;
class QGraphicsScene;
class QGridLayout;
class QLayout;
class QListView;
class QPushButton;
class QSplitter;
class QStandardItemModel;
class QVBoxLayout;
class QtMovableListView;
class QtSliderAction;

// The dermatoscopic viewer: every dermatoscopic image of a lesion and of the
// same lesion in the patient's other sessions, large, with zoom, brightness
// and sharpness per image, a second linked pane after the first selection of
// another item, and the superposition of the two panes' images.
//
// All images lie in one scene that both panes look at, one item's versions
// one below the other, items 10000 apart; a pane shows one image by taking
// its rectangle as scene rectangle. Every version has its final geometry at
// once (its size comes from the JPEG header) and shows a preview decoded at
// the screen's size; the versions shown on a pane are decoded at full size in
// the background and replace their preview, within a budget of full-size
// images (DermatoImageBudget): a 6000 by 4000 image takes close to 100 MB.
//
// Sides: 1 is the left pane, 0 the right one.
class QtDermatoscopicDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int leftSide = 1;
    static constexpr int rightSide = 0;
    static constexpr int placementGap = 10000;
    static constexpr int rightPaneRefitMs = 50;
    static constexpr int versionCell = 70;
    static constexpr int versionListHeight = 80;
    static constexpr int versionListMargin = 20;

    QtDermatoscopicDialog(QString lesionId, std::vector<QSharedPointer<DermatoscopicItem>> items,
                          QLayout *editingRow, QWidget *parent = nullptr);
    ~QtDermatoscopicDialog() override;

    // The lesion the viewer is for: the twin in the principal session when
    // the lesion belongs to another session and has one.
    static QSharedPointer<LesionVisualizer> viewerLesion(const QSharedPointer<LesionVisualizer> &lesion);
    // One item per dermatoscopic group of the lesion, then of each historic
    // lesion in the order of its historic map.
    static std::vector<QSharedPointer<DermatoscopicItem>>
    buildItems(const QSharedPointer<LesionVisualizer> &lesion);
    // The dialog for a lesion, not yet shown, with the lesion's new images
    // joining it while it lives. Null, with the notification "This lesion has
    // no dermatoscopic images", when there is nothing to show.
    static QtDermatoscopicDialog *create(const QSharedPointer<LesionVisualizer> &lesion, QWidget *parent);
    // Creates, runs modally and destroys the dialog.
    static void openDermatoscopicViewer(const QSharedPointer<LesionVisualizer> &lesion, QWidget *parent);

    // Places a new item in the scene and lists it.
    void addItem(const QSharedPointer<DermatoscopicItem> &item);

    // What the panes and tests look at.
    QGraphicsScene *scene() const { return m_scene.data(); }
    DermatoscopicItemModel *itemModel() const { return m_model; }
    GraphicsView *view(int side) const;
    DermatoDialogListView *itemList(int side) const;
    QtMovableListView *versionList(int side) const;
    QtSliderAction *sliderAction(int side, int kind) const;
    QPushButton *compareButton() const { return m_compareButton; }
    QPushButton *superpositionButton() const { return m_superpositionButton; }
    QSplitter *splitter() const { return m_splitter; }
    bool isFirstClick() const { return m_firstClick; }
    QSharedPointer<DermatoscopicItem> shownItem(int side) const;
    // Where the versions of an item lie in the scene (by the item's first id).
    QList<QRectF> sceneRects(const QString &firstId) const;
    QList<QGraphicsPixmapItem *> pixmapItems(const QString &firstId) const;
    // (brightness, sharpness) of one version.
    std::pair<double, double> parameters(const QString &firstId, int version) const;
    // Whether a version shows its full-size image (adjusted or not) rather
    // than a preview or the placeholder.
    bool showsFullImage(const QString &firstId, int version) const;
    // Full-size images the dialog holds itself (adjusted versions).
    int adjustedFullCount() const;
    DermatoImageBudget *imageBudget() const;

public slots:
    void on_slider_valueChanged(int position, int type);
    void zoomIn(int side);
    void zoomOut(int side);
    void fitInViewButton(int side);
    // Opens the superposition of the two panes' items once both first images
    // are decoded.
    void superpose();

protected:
    void closeEvent(QCloseEvent *e) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Display
    {
        Nothing,
        Placeholder,
        Preview,
        Full
    };
    struct VersionView
    {
        QGraphicsPixmapItem *pixmapItem = nullptr;
        QRect rect;
        double brightness = 1.0;
        double sharpness = 1.0;
        Display display = Display::Nothing;
        // The preview with the version's parameters, made once per change.
        QImage adjustedPreview;
        bool adjusted() const { return brightness != 1.0 || sharpness != 1.0; }
        // The budget's key of the adjusted full-size pixmap.
        int key = 0;
        bool fullAdjusted = false;
    };
    struct ItemView
    {
        QSharedPointer<DermatoscopicItem> item;
        std::vector<VersionView> versions;
    };
    struct Pane
    {
        QFrame *frame = nullptr;
        GraphicsView *view = nullptr;
        QPushButton *adjustButton = nullptr;
        QtSliderAction *brightness = nullptr;
        QtSliderAction *sharpness = nullptr;
        QtMovableListView *versionList = nullptr;
        QStandardItemModel *versionModel = nullptr;
        DermatoDialogListView *list = nullptr;
        DermatoImageAdjuster *adjuster = nullptr;
        QSharedPointer<DermatoscopicItem> shown;
        int shownVersion = -1;
        // The selection restored when a list's selection is emptied.
        QPersistentModelIndex selected;
    };

    void setupUi(const QString &lesionId, QLayout *editingRow);
    QVBoxLayout *buildToolColumn(Pane &pane, int side, QWidget *parent);
    void buildPane(Pane &pane, int side);
    void openRightPane(const QModelIndex &index);
    void connectItem(const QSharedPointer<DermatoscopicItem> &item);
    void placeItem(const QSharedPointer<DermatoscopicItem> &item);
    Pane &paneOf(int side) { return side == leftSide ? m_left : m_right; }
    const Pane &paneOf(int side) const { return side == leftSide ? m_left : m_right; }
    ItemView *viewOf(const DermatoscopicItem *item);
    const ItemView *viewOf(const QString &firstId) const;

    void listSelectionChanged(int side);
    void selectRow(Pane &pane, const QModelIndex &index);
    void showItem(int side, const QSharedPointer<DermatoscopicItem> &item);
    void fillVersionList(int side);
    void placeVersionList(int side);
    void versionClicked(int side, const QModelIndex &index);
    QPoint matchOffset(const QSharedPointer<DermatoscopicItem> &item,
                       const QSharedPointer<DermatoscopicItem> &other) const;
    // Fits a view to its scene rectangle and records the fit scale, unless
    // the rectangle or the viewport is empty.
    static bool fitPane(GraphicsView *view);
    static QRect toViewportAspect(const QRectF &area, const GraphicsView *view);
    void refitRightPane(const QRectF &leftArea);

    // Display of one version.
    void refreshVersion(ItemView &view, int version);
    void setShown(Pane &pane, const QSharedPointer<DermatoscopicItem> &item, int version);
    void wantFull(const QSharedPointer<DermatoscopicItem> &item, int version, bool pinned);
    void onPreviewLoaded(DermatoscopicItem *item, int index);
    void onImageLoaded(DermatoscopicItem *item, int index);
    void onImageReleased(DermatoscopicItem *item, int index);
    void onImageStored(DermatoscopicItem *item, int index);
    void refitPanesShowing(DermatoscopicItem *item, int index);
    void resetAdjuster(Pane &pane);
    void startFullAdjustment(Pane &pane);
    void onFullAdjusted(int side, const QImage &image, double brightness, double sharpness);
    void dropAdjustedFull(ItemView &view, int version);
    void pinShown(bool pinned);
    void runSuperposition();
    void forgetGraphicsItems();

    QSharedPointer<QGraphicsScene> m_scene;
    std::map<QString, ItemView> m_items;
    QRectF m_sceneBounds;
    int m_nextKey = 0;
    Pane m_left;
    Pane m_right;
    QPushButton *m_superpositionButton = nullptr;
    QPushButton *m_compareButton = nullptr;
    QSplitter *m_splitter = nullptr;
    QGridLayout *m_grid = nullptr;
    DermatoscopicItemModel *m_model = nullptr;
    bool m_firstClick = true;
    bool m_restoring = false;
    QPointer<DermatoImageBudget> m_budget;
    // The superposition waits for the two first images.
    bool m_superposing = false;
    QSharedPointer<DermatoscopicItem> m_superBase;
    QSharedPointer<DermatoscopicItem> m_superTop;
};
