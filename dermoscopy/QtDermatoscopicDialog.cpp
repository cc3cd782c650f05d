#include "dermoscopy/QtDermatoscopicDialog.h"

#include "app/kelvarisVisualizer.h"
#include "dermoscopy/DermatoDialogListView.h"
#include "dermoscopy/DermatoImageAdjuster.h"
#include "dermoscopy/DermatoImageBudget.h"
#include "dermoscopy/ImageAdjustments.h"
#include "dermoscopy/QtMovableListView.h"
#include "session/DermatoscopicItemModel.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"
#include "statistics/QtSliderAction.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "visualization/ItemDelegateDermatosImages.h"
#include "widgets/CustomTitleBar.h"
#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"

#include <QCloseEvent>
#include <QCommonStyle>
#include <QElapsedTimer>
#include <QFrame>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QColor windowBackground(28, 28, 30);
const QColor sceneBackground(33, 33, 36);

QString rectText(const QRectF &r)
{
    return QStringLiteral("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

QPushButton *toolButton(const QString &icon, const QString &objectName, const QString &what, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(23, 23));
    button->setToolTip(what);
    button->setAccessibleName(what);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

QtDermatoscopicDialog::QtDermatoscopicDialog(QString lesionId,
                                             std::vector<QSharedPointer<DermatoscopicItem>> items,
                                             QLayout *editingRow, QWidget *parent)
    : QDialog(parent), m_scene(QSharedPointer<QGraphicsScene>::create()),
      m_budget(DermatoImageBudget::shared())
{
    m_scene->setBackgroundBrush(sceneBackground);
    m_model = new DermatoscopicItemModel(this);
    setupUi(lesionId, editingRow);
    for (const QSharedPointer<DermatoscopicItem> &item : items)
        addItem(item);
    if (m_model->rowCount() > 0) {
        const QModelIndex first = m_model->index(0, 0);
        m_left.selected = first;
        selectRow(m_left, first);
        showItem(leftSide, DermatoscopicItemModel::itemOf(first));
    }
}

QtDermatoscopicDialog::~QtDermatoscopicDialog()
{
    forgetGraphicsItems();
    // Nothing of the viewer's is wanted any more: no decode waiting for room
    // may start now, and the budget's room goes back at once rather than when
    // the model lets the items go.
    for (auto &entry : m_items) {
        const QSharedPointer<DermatoscopicItem> &item = entry.second.item;
        item->disconnect(this);
        for (int i = 0; i < item->count(); ++i)
            item->setImagePinned(i, false);
    }
    for (auto &entry : m_items) {
        for (int i = 0; i < entry.second.item->count(); ++i)
            entry.second.item->releaseImage(i);
    }
    if (m_budget)
        m_budget->releaseAll(this);
}

// ---- construction ----

void QtDermatoscopicDialog::setupUi(const QString &lesionId, QLayout *editingRow)
{
    setObjectName(QStringLiteral("QtDermatoscopicDialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
    setWindowTitle(tr("Dermatoscopic Image Viewer"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, windowBackground);
    setPalette(palette);
    // The dialog opens maximised: items are placed by its width from the start.
    const QScreen *screen = QGuiApplication::primaryScreen();
    resize(screen ? screen->availableGeometry().size() : QSize(600, 400));

    auto *verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(6);
    verticalLayout->setContentsMargins(11, 11, 11, 11);
    m_grid = new QGridLayout();
    m_grid->setObjectName(QStringLiteral("gridLayoutMain"));
    m_grid->setSpacing(6);
    verticalLayout->addLayout(m_grid);

    m_grid->addWidget(new CustomTitleBar(tr("Lesion %1 detail").arg(lesionId), this), 0, 0);
    if (editingRow)
        m_grid->addLayout(editingRow, 1, 0);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("horizontalSplitter"));
    m_splitter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_grid->addWidget(m_splitter, 2, 0);
    m_grid->setRowStretch(2, 1);

    buildPane(m_left, leftSide);
    setWindowState(windowState() | Qt::WindowMaximized);
}

QVBoxLayout *QtDermatoscopicDialog::buildToolColumn(Pane &pane, int side, QWidget *parent)
{
    auto *column = new QVBoxLayout(parent);
    column->setContentsMargins(0, 0, 0, 0);
    auto *zoomLayout = new QVBoxLayout();
    zoomLayout->setSpacing(0);
    zoomLayout->setContentsMargins(0, 0, 0, 0);
    auto *in =
        toolButton(QStringLiteral(":/icon/addIcon"), QStringLiteral("zoomInButtonD"), tr("Zoom in"), parent);
    auto *out = toolButton(QStringLiteral(":/icon/minusIcon"), QStringLiteral("zoomOutButtonD"),
                           tr("Zoom out"), parent);
    zoomLayout->addWidget(in);
    zoomLayout->addWidget(out);
    column->addLayout(zoomLayout);
    connect(in, &QPushButton::clicked, this, [this, side] { zoomIn(side); });
    connect(out, &QPushButton::clicked, this, [this, side] { zoomOut(side); });

    const QString basic = QStringLiteral("basic");
    auto *fit =
        toolButton(QStringLiteral(":/icon/fitInViewIcon"), basic, tr("Fit the image to the view"), parent);
    column->addWidget(fit);
    connect(fit, &QPushButton::clicked, this, [this, side] { fitInViewButton(side); });

    if (side == leftSide) {
        m_compareButton = toolButton(QStringLiteral(":/icon/compareDermato"), basic,
                                     tr("Move both images together"), parent);
        m_compareButton->setCheckable(true);
        m_compareButton->setChecked(true);
        m_compareButton->hide();
        column->addWidget(m_compareButton);
        connect(m_compareButton, &QPushButton::toggled, this, [this](bool checked) {
            for (Pane *p : {&m_left, &m_right}) {
                if (p->view)
                    p->view->setParallel(checked);
            }
        });
    }

    pane.adjustButton =
        toolButton(QStringLiteral(":/icon/imgParameters"), basic, tr("Brightness and sharpness"), parent);
    auto *menu = new QMenu(pane.adjustButton);
    menu->setWindowFlags(menu->windowFlags() | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    menu->setAttribute(Qt::WA_TranslucentBackground);
    menu->setStyleSheet(QStringLiteral("QMenu{background:rgba(0,0,0,0%);}"));
    const QSize labelSize = side == leftSide ? QSize(37, 37) : QSize(50, 50);
    auto sliderLabel = [&](const QString &icon, const QString &name) {
        auto *label = new QLabel();
        label->setObjectName(name);
        label->setFixedSize(labelSize);
        label->setScaledContents(true);
        label->setPixmap(svgFileToPixmap(icon, labelSize));
        return label;
    };
    pane.brightness = new QtSliderAction(
        sliderLabel(QStringLiteral(":/icon/brightness"), QStringLiteral("label_brightness")), 50, menu);
    pane.sharpness = new QtSliderAction(
        sliderLabel(QStringLiteral(":/icon/contrast"), QStringLiteral("label_sharpness")), 50, menu);
    pane.brightness->slider()->setAccessibleName(tr("Brightness"));
    pane.sharpness->slider()->setAccessibleName(tr("Sharpness"));
    menu->addAction(pane.brightness);
    menu->addAction(pane.sharpness);
    pane.adjustButton->setMenu(menu);
    column->addWidget(pane.adjustButton);
    for (QtSliderAction *action : {pane.brightness, pane.sharpness}) {
        connect(action, &QAction::changed, this,
                [this, side, action] { on_slider_valueChanged(action->value(), side); });
        // The end of a drag adjusts the full image.
        connect(action->slider(), &QSlider::sliderReleased, this,
                [this, side, action] { on_slider_valueChanged(action->value(), side); });
    }

    if (side == leftSide) {
        m_superpositionButton = toolButton(QStringLiteral(":/icon/superposition.svg"), basic,
                                           tr("Superpose the two images"), parent);
        m_superpositionButton->hide();
        column->addWidget(m_superpositionButton);
        connect(m_superpositionButton, &QPushButton::clicked, this, &QtDermatoscopicDialog::superpose);
    }

    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);

    pane.list = new DermatoDialogListView(parent);
    pane.list->setObjectName(side == leftSide ? QStringLiteral("dermatoDialogLeftListView")
                                              : QStringLiteral("dermatoDialogRightListView"));
    pane.list->setFixedWidth(166);
    pane.list->setViewMode(QListView::IconMode);
    pane.list->setDragEnabled(false);
    pane.list->setMovement(QListView::Static);
    pane.list->setResizeMode(QListView::Adjust);
    pane.list->setIconSize(QSize(140, 105));
    pane.list->setSpacing(4);
    pane.list->setSelectionMode(QAbstractItemView::SingleSelection);
    pane.list->setItemDelegate(new ItemDelegateDermatosImages(pane.list));
    auto *plainStyle = new QCommonStyle();
    plainStyle->setParent(pane.list);
    for (QScrollBar *bar : {pane.list->horizontalScrollBar(), pane.list->verticalScrollBar()}) {
        bar->setStyle(plainStyle);
        bar->setContextMenuPolicy(Qt::NoContextMenu);
    }
    pane.list->setModel(m_model);
    connect(pane.list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, side] { listSelectionChanged(side); });
    column->addWidget(pane.list, 1);
    return column;
}

void QtDermatoscopicDialog::buildPane(Pane &pane, int side)
{
    pane.frame = new QFrame(m_splitter);
    pane.frame->setObjectName(side == leftSide ? QStringLiteral("dermaFrame")
                                               : QStringLiteral("dermaFrameRight"));
    auto *layout = new QHBoxLayout(pane.frame);
    layout->setContentsMargins(0, 0, 0, 0);
    pane.view =
        new GraphicsView(pane.frame, GraphicsView::Dermatoscopic,
                         side == leftSide ? QStringLiteral("dermatoLeft") : QStringLiteral("dermatoRight"));
    pane.view->setScene(m_scene.data());
    pane.view->setRenderHint(QPainter::SmoothPixmapTransform);
    // Panning and zoom move the scroll bars' values; shown bars would come
    // and go with every fit and make the pane jump.
    pane.view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane.view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane.view->viewport()->installEventFilter(this);
    auto *tools = new QWidget(pane.frame);
    buildToolColumn(pane, side, tools);
    if (side == leftSide) {
        layout->addWidget(tools);
        layout->addWidget(pane.view, 1);
    } else {
        layout->addWidget(pane.view, 1);
        layout->addWidget(tools);
    }

    pane.versionList = new QtMovableListView(pane.frame);
    pane.versionList->setObjectName(QStringLiteral("DermatoItemSubListView"));
    pane.versionList->setViewMode(QListView::IconMode);
    pane.versionList->setDragEnabled(false);
    pane.versionList->setMovement(QListView::Static);
    pane.versionList->setIconSize(QSize(60, 60));
    pane.versionList->setGridSize(QSize(versionCell, versionCell));
    pane.versionList->setFixedHeight(versionListHeight);
    pane.versionList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane.versionList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane.versionList->setResizeMode(QListView::Adjust);
    pane.versionList->setWrapping(false);
    pane.versionList->setFlow(QListView::LeftToRight);
    pane.versionList->setAccessibleName(tr("Versions of the image"));
    pane.versionList->hide();
    connect(pane.versionList, &QAbstractItemView::clicked, this,
            [this, side](const QModelIndex &index) { versionClicked(side, index); });

    pane.adjuster = new DermatoImageAdjuster(this);
    connect(pane.adjuster, &DermatoImageAdjuster::fullAdjusted, this,
            [this, side](QImage image, double brightness, double sharpness) {
                onFullAdjusted(side, image, brightness, sharpness);
            });
    m_splitter->addWidget(pane.frame);
}

// ---- opening ----

QSharedPointer<LesionVisualizer>
QtDermatoscopicDialog::viewerLesion(const QSharedPointer<LesionVisualizer> &lesion)
{
    if (!lesion)
        return {};
    const QSharedPointer<LesionVisualizer> principal = lesion->getPrincipalLesion();
    return principal ? principal : lesion;
}

std::vector<QSharedPointer<DermatoscopicItem>>
QtDermatoscopicDialog::buildItems(const QSharedPointer<LesionVisualizer> &lesion)
{
    std::vector<QSharedPointer<DermatoscopicItem>> items;
    if (!lesion)
        return items;
    auto addGroups = [&items](const QSharedPointer<LesionVisualizer> &owner) {
        for (const std::vector<QString> &group : owner->getDermatosopicIds()) {
            if (!group.empty())
                items.push_back(QSharedPointer<DermatoscopicItem>::create(owner, group));
        }
    };
    addGroups(lesion);
    for (const QSharedPointer<LesionVisualizer> &historic : lesion->getHistoricLesions()) {
        if (historic && historic->hasDermatoscopicGroups())
            addGroups(historic);
    }
    return items;
}

QtDermatoscopicDialog *QtDermatoscopicDialog::create(const QSharedPointer<LesionVisualizer> &lesion,
                                                     QWidget *parent)
{
    QElapsedTimer timer;
    timer.start();
    const QSharedPointer<LesionVisualizer> target = viewerLesion(lesion);
    const qint64 principal = timer.elapsed();
    const std::vector<QSharedPointer<DermatoscopicItem>> items = buildItems(target);
    const qint64 built = timer.elapsed();
    if (items.empty()) {
        kelvarisVisualizer::showNotification(tr("This lesion has no dermatoscopic images"), 5000);
        return nullptr;
    }
    const QSharedPointer<SessionVisualizer> session = target->getSession();
    QLayout *editingRow = session ? session->getContextMenuLayout(target) : nullptr;
    auto *dialog = new QtDermatoscopicDialog(target->getLesionIdText(), items, editingRow, parent);
    // Images captured or added while the viewer is open join it; the
    // connection goes with the dialog.
    const QWeakPointer<LesionVisualizer> weak = target;
    connect(target.data(), &LesionVisualizer::newDermatoImage, dialog, [dialog, weak](QString id) {
        const QSharedPointer<LesionVisualizer> owner = weak.toStrongRef();
        if (owner && !id.isEmpty())
            dialog->addItem(QSharedPointer<DermatoscopicItem>::create(owner, std::vector<QString>{id}));
    });
    kelvaris::trace(QStringLiteral("ellapsed time is tSplash: 0"));
    kelvaris::trace(QStringLiteral("ellapsed time is Principal: %1").arg(principal));
    kelvaris::trace(QStringLiteral("ellapsed time is tItems: %1").arg(built));
    kelvaris::trace(QStringLiteral("ellapsed time is dialog: %1").arg(timer.elapsed()));
    return dialog;
}

void QtDermatoscopicDialog::openDermatoscopicViewer(const QSharedPointer<LesionVisualizer> &lesion,
                                                    QWidget *parent)
{
    QPointer<QtDermatoscopicDialog> dialog = create(lesion, parent);
    if (!dialog)
        return;
    dialog->exec();
    // The parent may have taken the dialog with it meanwhile.
    delete dialog.data();
}

// ---- items in the scene ----

void QtDermatoscopicDialog::addItem(const QSharedPointer<DermatoscopicItem> &item)
{
    if (!item || item->getIds().empty())
        return;
    const QString firstId = item->getIds().front();
    if (m_items.count(firstId))
        return;
    placeItem(item);
    connectItem(item);
    m_model->addItem(item);
}

void QtDermatoscopicDialog::placeItem(const QSharedPointer<DermatoscopicItem> &item)
{
    const double sceneWidth = m_sceneBounds.isNull() ? 0.0 : m_sceneBounds.right();
    const int x = int(m_items.empty() ? sceneWidth : sceneWidth + width() + placementGap);
    ItemView view;
    view.item = item;
    int y = 0;
    int previousHeight = 0;
    for (int i = 0; i < item->count(); ++i) {
        QSize size = item->getImageSize(i);
        if (!size.isValid() || size.isEmpty())
            size = DermatoscopicItem::placeholderSize;
        // The gap above version i is 10000 x i.
        if (i > 0)
            y += previousHeight + placementGap * i;
        previousHeight = size.height();
        VersionView version;
        version.rect = QRect(QPoint(x, y), size);
        version.key = ++m_nextKey;
        version.pixmapItem = m_scene->addPixmap(QPixmap());
        version.pixmapItem->setPos(x, y);
        version.pixmapItem->setOpacity(1.0);
        version.pixmapItem->setTransformationMode(Qt::SmoothTransformation);
        m_sceneBounds |= QRectF(version.rect);
        view.versions.push_back(version);
    }
    item->setGraphicsItem(view.versions.back().pixmapItem, item->count() - 1);
    auto &placed = m_items[item->getIds().front()] = std::move(view);
    for (int i = 0; i < item->count(); ++i)
        refreshVersion(placed, i);
}

void QtDermatoscopicDialog::connectItem(const QSharedPointer<DermatoscopicItem> &item)
{
    DermatoscopicItem *raw = item.data();
    connect(raw, &DermatoscopicItem::previewLoaded, this, [this, raw](int i) { onPreviewLoaded(raw, i); });
    connect(raw, &DermatoscopicItem::imageLoaded, this, [this, raw](int i) { onImageLoaded(raw, i); });
    connect(raw, &DermatoscopicItem::imageReleased, this, [this, raw](int i) { onImageReleased(raw, i); });
    connect(raw, &DermatoscopicItem::imageStored, this, [this, raw](int i) { onImageStored(raw, i); });
}

QtDermatoscopicDialog::ItemView *QtDermatoscopicDialog::viewOf(const DermatoscopicItem *item)
{
    if (!item || item->getIds().empty())
        return nullptr;
    const auto it = m_items.find(item->getIds().front());
    return it != m_items.end() && it->second.item.data() == item ? &it->second : nullptr;
}

const QtDermatoscopicDialog::ItemView *QtDermatoscopicDialog::viewOf(const QString &firstId) const
{
    const auto it = m_items.find(firstId);
    return it == m_items.end() ? nullptr : &it->second;
}

void QtDermatoscopicDialog::forgetGraphicsItems()
{
    for (auto &entry : m_items)
        entry.second.item->setGraphicsItem(nullptr);
}

// ---- accessors ----

GraphicsView *QtDermatoscopicDialog::view(int side) const
{
    return paneOf(side).view;
}

DermatoDialogListView *QtDermatoscopicDialog::itemList(int side) const
{
    return paneOf(side).list;
}

QtMovableListView *QtDermatoscopicDialog::versionList(int side) const
{
    return paneOf(side).versionList;
}

QtSliderAction *QtDermatoscopicDialog::sliderAction(int side, int kind) const
{
    const Pane &pane = paneOf(side);
    return kind == 0 ? pane.brightness : pane.sharpness;
}

QSharedPointer<DermatoscopicItem> QtDermatoscopicDialog::shownItem(int side) const
{
    return paneOf(side).shown;
}

QList<QRectF> QtDermatoscopicDialog::sceneRects(const QString &firstId) const
{
    QList<QRectF> rects;
    if (const ItemView *view = viewOf(firstId)) {
        for (const VersionView &version : view->versions)
            rects << QRectF(version.rect);
    }
    return rects;
}

QList<QGraphicsPixmapItem *> QtDermatoscopicDialog::pixmapItems(const QString &firstId) const
{
    QList<QGraphicsPixmapItem *> items;
    if (const ItemView *view = viewOf(firstId)) {
        for (const VersionView &version : view->versions)
            items << version.pixmapItem;
    }
    return items;
}

std::pair<double, double> QtDermatoscopicDialog::parameters(const QString &firstId, int version) const
{
    const ItemView *view = viewOf(firstId);
    if (!view || version < 0 || version >= int(view->versions.size()))
        return {1.0, 1.0};
    const VersionView &v = view->versions[size_t(version)];
    return {v.brightness, v.sharpness};
}

bool QtDermatoscopicDialog::showsFullImage(const QString &firstId, int version) const
{
    const ItemView *view = viewOf(firstId);
    return view && version >= 0 && version < int(view->versions.size()) &&
           view->versions[size_t(version)].display == Display::Full;
}

int QtDermatoscopicDialog::adjustedFullCount() const
{
    int count = 0;
    for (const auto &entry : m_items) {
        for (const VersionView &version : entry.second.versions)
            count += version.fullAdjusted ? 1 : 0;
    }
    return count;
}

DermatoImageBudget *QtDermatoscopicDialog::imageBudget() const
{
    return m_budget;
}

// ---- selections ----

void QtDermatoscopicDialog::selectRow(Pane &pane, const QModelIndex &index)
{
    if (!pane.list || !index.isValid())
        return;
    const bool restoring = m_restoring;
    m_restoring = true;
    pane.list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_restoring = restoring;
}

void QtDermatoscopicDialog::listSelectionChanged(int side)
{
    if (m_restoring)
        return;
    Pane &pane = paneOf(side);
    const QModelIndexList rows = pane.list->selectionModel()->selectedIndexes();
    if (side == leftSide) {
        QStringList numbers;
        for (const QModelIndex &row : rows)
            numbers << QString::number(row.row());
        kelvaris::trace(QStringLiteral("selected rows: %1 index: %2 first click: %3")
                            .arg(numbers.join(QLatin1Char(' ')))
                            .arg(pane.selected.row())
                            .arg(m_firstClick));
    }
    if (rows.isEmpty()) {
        kelvaris::trace(QStringLiteral("No selected"));
        selectRow(pane, pane.selected);
        return;
    }
    const QModelIndex index = rows.first();
    if (side == leftSide && m_firstClick) {
        if (index == pane.selected)
            return;
        openRightPane(index);
        return;
    }
    pane.selected = index;
    const QSharedPointer<DermatoscopicItem> item = DermatoscopicItemModel::itemOf(index);
    if (!item)
        return;
    kelvaris::trace(QStringLiteral("View idx: %1 dermatoID: %2").arg(side).arg(item->getIds().front()));
    showItem(side, item);
}

void QtDermatoscopicDialog::openRightPane(const QModelIndex &index)
{
    const QSharedPointer<DermatoscopicItem> item = DermatoscopicItemModel::itemOf(index);
    if (!item)
        return;
    // What the left pane shows when the selection arrives: the right pane
    // starts on the matching part of its own image.
    const QRectF leftArea = m_left.view->mapToScene(m_left.view->viewport()->rect()).boundingRect();
    m_firstClick = false;
    buildPane(m_right, rightSide);
    const int half = std::max(1, m_splitter->width() / 2);
    m_splitter->setSizes({half, half});
    m_compareButton->show();
    m_superpositionButton->show();
    m_left.view->setPairedView(m_right.view);
    m_right.view->setPairedView(m_left.view);
    m_left.view->setParallel(m_compareButton->isChecked());
    m_right.view->setParallel(m_compareButton->isChecked());

    m_right.selected = index;
    selectRow(m_right, index);
    m_right.frame->show();
    showItem(rightSide, item);
    fitPane(m_left.view);
    fitPane(m_right.view);
    selectRow(m_left, m_left.selected);
    // Once the splitter has given both views their sizes.
    QTimer::singleShot(rightPaneRefitMs, this, [this, leftArea] { refitRightPane(leftArea); });
}

void QtDermatoscopicDialog::refitRightPane(const QRectF &leftArea)
{
    if (!m_right.view || !m_left.view)
        return;
    fitPane(m_left.view);
    fitPane(m_right.view);
    if (!m_left.shown || !m_right.shown || leftArea.isEmpty())
        return;
    const QRectF moved = leftArea.translated(matchOffset(m_right.shown, m_left.shown));
    const QRect right = toViewportAspect(moved, m_right.view);
    const QRect left = toViewportAspect(leftArea, m_left.view);
    if (!right.isEmpty())
        m_right.view->fitToRect(right);
    if (!left.isEmpty())
        m_left.view->fitToRect(left);
}

QRect QtDermatoscopicDialog::toViewportAspect(const QRectF &area, const GraphicsView *view)
{
    const QSize viewport = view->viewport()->size();
    if (area.isEmpty() || viewport.width() < 2 || viewport.height() < 2)
        return QRect();
    const int width = int(area.height() * viewport.width() / viewport.height());
    QRectF fitted(0, 0, width, area.height());
    fitted.moveCenter(area.center());
    return fitted.toRect();
}

QPoint QtDermatoscopicDialog::matchOffset(const QSharedPointer<DermatoscopicItem> &item,
                                          const QSharedPointer<DermatoscopicItem> &other) const
{
    const ItemView *own = item ? viewOf(item->getIds().front()) : nullptr;
    const ItemView *theirs = other ? viewOf(other->getIds().front()) : nullptr;
    if (!own || !theirs)
        return QPoint();
    const QRect r = own->versions[size_t(item->getCurrentVersion())].rect;
    const QRect t = theirs->versions[size_t(other->getCurrentVersion())].rect;
    return r.topLeft() - t.topLeft() + item->getRegion().center() - other->getRegion().center();
}

bool QtDermatoscopicDialog::fitPane(GraphicsView *view)
{
    if (!view)
        return false;
    const QSize viewport = view->viewport()->size();
    if (view->sceneRect().isEmpty() || viewport.width() < 2 || viewport.height() < 2)
        return false;
    view->fitScene();
    return true;
}

void QtDermatoscopicDialog::showItem(int side, const QSharedPointer<DermatoscopicItem> &item)
{
    Pane &pane = paneOf(side);
    ItemView *itemView = viewOf(item.data());
    if (!pane.view || !itemView)
        return;
    const int version = std::clamp(item->getCurrentVersion(), 0, item->count() - 1);
    const VersionView &shown = itemView->versions[size_t(version)];
    setShown(pane, item, version);

    pane.brightness->setValue(sliderFromAdjustment(shown.brightness));
    pane.sharpness->setValue(sliderFromAdjustment(shown.sharpness));

    const QRect r = shown.rect;
    pane.view->setFitRect(r);
    pane.view->setSceneRect(r);
    pane.view->setOffsetPoint(item->getDermatoscopicCenter(r.size()));
    fitPane(pane.view);

    const Pane &other = paneOf(side == leftSide ? rightSide : leftSide);
    if (other.view && other.shown && pane.selected.isValid() && other.selected.isValid()) {
        QRectF area = other.view->mapToScene(other.view->viewport()->rect()).boundingRect();
        area.translate(matchOffset(item, other.shown));
        kelvaris::trace(rectText(area));
        const QSize viewport = pane.view->viewport()->size();
        if (!area.isEmpty() && viewport.width() > 1 && viewport.height() > 1)
            pane.view->fitToRect(area.toRect());
    }
    fillVersionList(side);
}

void QtDermatoscopicDialog::fillVersionList(int side)
{
    Pane &pane = paneOf(side);
    const QSharedPointer<DermatoscopicItem> &item = pane.shown;
    if (!item || item->count() < 2) {
        pane.versionList->hide();
        return;
    }
    auto *model = new QStandardItemModel(pane.versionList);
    for (int i = 0; i < item->count(); ++i) {
        auto *entry = new QStandardItem();
        entry->setIcon(item->getIcons()[size_t(i)]);
        entry->setEditable(false);
        entry->setToolTip(item->getIds()[size_t(i)]);
        model->setItem(i, 0, entry);
    }
    QAbstractItemModel *old = pane.versionList->model();
    pane.versionList->setModel(model);
    pane.versionModel = model;
    if (old && old != model)
        old->deleteLater();
    pane.versionList->setCurrentIndex(model->index(pane.shownVersion, 0));
    // As wide as its versions need, but never wider than the view: the rest
    // scrolls with the wheel.
    const int wanted = item->count() * versionCell + 100;
    pane.versionList->setFixedWidth(pane.view->width() > 0 ? std::min(wanted, pane.view->width()) : wanted);
    placeVersionList(side);
    pane.versionList->show();
    pane.versionList->raise();
}

void QtDermatoscopicDialog::placeVersionList(int side)
{
    const Pane &pane = paneOf(side);
    if (!pane.versionList || !pane.view)
        return;
    const QRect view = pane.view->geometry();
    if (pane.shown && pane.shown->count() > 1)
        pane.versionList->setFixedWidth(
            std::min(pane.shown->count() * versionCell + 100, std::max(versionCell, view.width())));
    pane.versionList->move(view.x() + (view.width() - pane.versionList->width()) / 2,
                           view.bottom() + 1 - versionListHeight - versionListMargin);
}

void QtDermatoscopicDialog::versionClicked(int side, const QModelIndex &index)
{
    Pane &pane = paneOf(side);
    if (!pane.shown || !index.isValid())
        return;
    pane.shown->setCurrentVersion(index.row());
    showItem(side, pane.shown);
}

// ---- events ----

void QtDermatoscopicDialog::closeEvent(QCloseEvent *e)
{
    // Downloads still on their way must not reach the pixmap items, which
    // go with the dialog.
    forgetGraphicsItems();
    e->accept();
    QDialog::closeEvent(e);
}

void QtDermatoscopicDialog::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    for (int side : {leftSide, rightSide}) {
        fitPane(paneOf(side).view);
        placeVersionList(side);
    }
}

bool QtDermatoscopicDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize) {
        for (int side : {leftSide, rightSide}) {
            Pane &pane = paneOf(side);
            if (pane.view && watched == pane.view->viewport()) {
                fitPane(pane.view);
                placeVersionList(side);
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}
