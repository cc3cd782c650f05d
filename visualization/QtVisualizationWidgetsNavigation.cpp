// Navigation of QtVisualizationWidgets: scene and image changes, the list's
// selection handlers, the label and size filters, the tool-bar modes and the
// geometry that follows the widget's size.
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

// ---- scenes -----------------------------------------------------------------

GraphicsScene *QtVisualizationWidgets::getScene(int sceneIndex) const
{
    if (sceneIndex < 0 || sceneIndex >= int(m_scenes.size()))
        return nullptr;
    return m_scenes[size_t(sceneIndex)].data();
}

QRect QtVisualizationWidgets::getOverviewLimits(int sceneIndex) const
{
    if (sceneIndex < 0 || sceneIndex >= int(m_overviewLimits.size()))
        return QRect();
    return m_overviewLimits[size_t(sceneIndex)];
}

QRect QtVisualizationWidgets::getCloseUpRect(int sceneIndex) const
{
    if (sceneIndex < 0 || sceneIndex >= int(m_closeUpRects.size()))
        return QRect();
    return m_closeUpRects[size_t(sceneIndex)];
}

int QtVisualizationWidgets::sceneIndexOfPositionName(const QString &name) const
{
    if (!m_session)
        return -1;
    const std::vector<QString> &names = m_session->getPositionNames();
    int found = -1;
    for (size_t k = 0; k < names.size(); ++k) {
        if (!names[k].isEmpty() && name.contains(names[k])) {
            kelvaris::trace(QStringLiteral("Trobat: ") + names[k]);
            found = int(k) + 1;
        }
    }
    return found;
}

void QtVisualizationWidgets::changeScene(int buttonIndex)
{
    kelvaris::trace(QStringLiteral("QtVisualizationWidgets::changeScene"));
    kelvaris::trace(QStringLiteral("sceneIdx ") + QString::number(buttonIndex));
    if (!m_session || m_session->getPositionNames().empty())
        return;
    int sceneIndex = 0;
    if (buttonIndex != -1) {
        if (buttonIndex < 0 || buttonIndex >= m_positionButtons.size())
            return;
        sceneIndex = sceneIndexOfPositionName(m_positionButtons[buttonIndex]->objectName());
        // A button whose position the session lacks shows nothing rather
        // than another position.
        if (sceneIndex < 0)
            return;
    }
    changeSceneRealIndex(sceneIndex);
    checkPositionFilter(sceneIndex - 1);
}

void QtVisualizationWidgets::changeSceneRealIndex(int s)
{
    kelvaris::trace(QStringLiteral("QtVisualizationWidgets::changeSceneRealIndex"));
    const QRect closeUp = getCloseUpRect(s);
    kelvaris::trace(QStringLiteral("changeSceneRealIndex: %1 %2 %3 %4")
                        .arg(closeUp.x())
                        .arg(closeUp.y())
                        .arg(closeUp.width())
                        .arg(closeUp.height()));
    if (s == m_currentSceneIndex && s != 0)
        return;
    GraphicsScene *scene = getScene(s);
    if (!scene) {
        // Out of range: the views keep what they show.
        kelvaris::trace(QStringLiteral("ERROR"));
        return;
    }
    m_closeUpView->reset();
    m_overviewView->reset();
    // The close-up view is attached first: a selected tile fits the first
    // view of its scene.
    m_closeUpView->setCurrentScene(scene);
    if (closeUp.isValid())
        m_closeUpView->setSceneRect(closeUp);
    m_overviewView->setCurrentScene(scene);
    const QRect limits = getOverviewLimits(s);
    if (OverviewLayout::validLimits(limits))
        m_overviewView->setSceneRect(limits);
    m_currentSceneIndex = s;

    for (QGraphicsView *view : {m_clinicalCloseUpView, m_clinicalFarView}) {
        view->setScene(scene);
        if (closeUp.isValid()) {
            view->setSceneRect(closeUp);
            view->fitInView(closeUp, Qt::KeepAspectRatio);
        }
    }

    const QString name = s == 0 ? QStringLiteral("External") : m_session->getPositionNames()[size_t(s - 1)];
    for (QToolButton *button : m_positionButtons) {
        if (s == 0 ? button->objectName() == name : button->objectName().contains(name)) {
            button->setChecked(true);
            break;
        }
    }
    if (OverviewLayout::validLimits(limits))
        m_overviewView->fitInView(limits, Qt::KeepAspectRatio);
}

void QtVisualizationWidgets::checkPositionFilter(int p)
{
    if (!m_session)
        return;
    const std::vector<QString> &names = m_session->getPositionNames();
    QString name;
    if (p == SessionVisualizer::externalPosition)
        name = QStringLiteral("External");
    else if (p >= 0 && p < int(names.size()))
        name = names[size_t(p)];
    else
        return;
    for (DoubleClickButton *button : m_filterButtons) {
        if (button->property("positionName").toString() == name) {
            if (!button->isChecked())
                button->click();
            return;
        }
    }
}

void QtVisualizationWidgets::showPositionButton(int p)
{
    if (m_positionButtons.isEmpty())
        return;
    if (p == SessionVisualizer::externalPosition) {
        m_positionButtons.last()->show();
        return;
    }
    if (!m_session || p < 0 || p >= int(m_session->getPositionNames().size()))
        return;
    const QString name = m_session->getPositionNames()[size_t(p)];
    for (int i = 0; i + 1 < m_positionButtons.size(); ++i) {
        if (m_positionButtons[i]->objectName() == name) {
            m_positionButtons[i]->show();
            return;
        }
    }
}

void QtVisualizationWidgets::positionButtonClicked(int buttonIndex)
{
    changeScene(buttonIndex);
    if (buttonIndex < 0 || buttonIndex >= m_positionButtons.size())
        return;
    const int sceneIndex = sceneIndexOfPositionName(m_positionButtons[buttonIndex]->objectName());
    if (sceneIndex < 1)
        return;
    const auto it = m_firstTiles.find(sceneIndex - 1);
    if (it == m_firstTiles.end())
        return;
    // The views were reset by the scene change, so no hover preview is
    // showing: the position opens on its first image.
    if (ImageItem *tile = it->second.get())
        selectImage(tile);
}

void QtVisualizationWidgets::selectImage(ImageItem *tile)
{
    if (!tile || !tile->scene())
        return;
    m_overviewView->selectTile(tile);
    const auto children = tile->childItems();
    if (!children.isEmpty())
        m_closeUpView->fitImage(children.first()->sceneBoundingRect());
}

ImageItem *QtVisualizationWidgets::selectedTile() const
{
    QGraphicsItem *tile = m_overviewView->getShownTile();
    if (!tile || tile->type() != ImageItem::itemType)
        return nullptr;
    // Only a tile of a scene of this widget counts.
    GraphicsScene *current = getScene(m_currentSceneIndex);
    if (!current || tile->scene() != current)
        return nullptr;
    return static_cast<ImageItem *>(tile);
}

void QtVisualizationWidgets::refreshCurrentMarkers()
{
    if (ImageItem *tile = selectedTile())
        m_overviewView->refreshMarkers(tile);
}

// ---- images -----------------------------------------------------------------

QtVisualizationWidgets::VisibleImage QtVisualizationWidgets::getVisibleImage() const
{
    VisibleImage result;
    ImageItem *tile = selectedTile();
    if (!tile || !m_session)
        return result;
    const QString path = tile->getImageName();
    int quality = 0;
    if (!m_session->getFile(path, result.image, quality))
        return result;
    const QString date = m_session->getDate().toString(QStringLiteral("dd/MM/yyyy"));
    QPixmap pixmap = QPixmap::fromImage(result.image.scaledToHeight(200, Qt::SmoothTransformation));
    QPainter painter(&pixmap);
    QFont font = painter.font();
    font.setPointSize(14);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(pixmap.rect().adjusted(6, 6, -6, -6), Qt::AlignLeft | Qt::AlignTop, date);
    painter.end();
    result.icon = QIcon(pixmap);
    return result;
}

std::pair<QString, int> QtVisualizationWidgets::currentImagePosition() const
{
    const std::pair<QString, int> none(QString(), -1);
    ImageItem *tile = selectedTile();
    if (!tile || !m_session || m_currentSceneIndex < 1)
        return none;
    const int position = m_currentSceneIndex - 1;
    const std::vector<QString> &names = m_session->getPositionNames();
    if (position >= int(names.size()))
        return none;
    QString fileName = tile->getImageName().section(QLatin1Char('/'), -1);
    fileName.chop(4);
    const std::vector<CameraPose> poses = m_session->getCameraPoses(position);
    for (size_t i = 0; i < poses.size(); ++i)
        if (m_session->clinicalImageName(poses[i], position) == fileName)
            return {names[size_t(position)], int(i)};
    return none;
}

void QtVisualizationWidgets::selectImageAt(int positionIndex, int imageIndex)
{
    if (positionIndex < SessionVisualizer::externalPosition || imageIndex < 0 || !m_session)
        return;
    const int sceneIndex = positionIndex + 1;
    if (!getScene(sceneIndex))
        return;
    changeSceneRealIndex(sceneIndex);
    const std::vector<CameraPose> poses = m_session->getCameraPoses(positionIndex);
    ImageItem *tile = nullptr;
    if (imageIndex < int(poses.size())) {
        const QString path = m_session->clinicalImagePath(poses[size_t(imageIndex)], positionIndex);
        const NameMap &map = m_nameMaps[size_t(sceneIndex)];
        const auto it = map.find(path);
        if (it != map.end())
            if (ClinicalPixmapItem *item = it->second.get())
                if (item->parentItem() && item->parentItem()->type() == ImageItem::itemType)
                    tile = static_cast<ImageItem *>(item->parentItem());
    }
    if (!tile) {
        kelvaris::trace(QStringLiteral("Item not found!"));
        return;
    }
    selectImage(tile);
}

void QtVisualizationWidgets::showNextImage()
{
    stepImage(1);
}

void QtVisualizationWidgets::showPreviousImage()
{
    stepImage(-1);
}

void QtVisualizationWidgets::stepImage(int step)
{
    if (!m_session || m_currentSceneIndex < 0 || !getScene(m_currentSceneIndex))
        return;
    const int position = m_currentSceneIndex - 1;
    const std::vector<CameraPose> poses = m_session->getCameraPoses(position);
    if (poses.empty())
        return;
    int index = -1;
    if (ImageItem *tile = selectedTile()) {
        for (size_t i = 0; i < poses.size(); ++i)
            if (m_session->clinicalImagePath(poses[i], position) == tile->getImageName())
                index = int(i);
    }
    // Nothing shown yet: the first step shows the first image.
    const int next = index < 0 ? 0 : index + step;
    if (next < 0 || next >= int(poses.size()))
        return;
    selectImageAt(position, next);
}

// ---- modes ------------------------------------------------------------------

void QtVisualizationWidgets::setPairMode(bool on)
{
    if (ImageItemRect *pending = m_closeUpView->getPendingPairMarker()) {
        pending->restoreColor();
        pending->update();
    }
    m_closeUpView->setPairMode(on);
    if (m_pairButton) {
        const QSignalBlocker blocker(m_pairButton);
        m_pairButton->setChecked(on);
    }
}

bool QtVisualizationWidgets::isPairMode() const
{
    return m_closeUpView->isPairMode();
}

void QtVisualizationWidgets::setParallelZoom(bool on)
{
    m_parallelZoom = on;
    m_closeUpView->setParallel(on);
    if (m_compareButton) {
        const QSignalBlocker blocker(m_compareButton);
        m_compareButton->setChecked(on);
    }
}

void QtVisualizationWidgets::setOtherVisualization(QtVisualizationWidgets *other)
{
    m_closeUpView->setPairedView(other ? other->m_closeUpView : nullptr);
}

void QtVisualizationWidgets::setSuperpositionVisible(bool visible)
{
    if (m_superpositionAction)
        m_superpositionAction->setVisible(visible);
}

void QtVisualizationWidgets::setModifyMode(bool checked)
{
    m_closeUpView->setEditMode(checked);
    if (!checked)
        if (QGraphicsScene *scene = m_closeUpView->scene())
            scene->clearSelection();
}

void QtVisualizationWidgets::setHideSpots(bool checked)
{
    m_overviewView->setShowSpots(!checked);
    m_hideSpots = checked;
    refreshCurrentMarkers();
}

void QtVisualizationWidgets::setHideNumbers(bool checked)
{
    m_overviewView->setShowNumbers(!checked);
    m_hideNumbers = checked;
    refreshCurrentMarkers();
}

void QtVisualizationWidgets::zoomCloseUp(double factor)
{
    m_closeUpView->zoom(factor);
    if (m_closeUpView->isParallel())
        if (GraphicsView *paired = m_closeUpView->getPairedView())
            paired->zoom(factor);
}

// ---- list -------------------------------------------------------------------

QSharedPointer<LesionVisualizer> QtVisualizationWidgets::lesionOfProxyIndex(const QModelIndex &index) const
{
    MultiRoleFilterProxyModel *proxy = m_listView->getProxyModel();
    if (!index.isValid() || !proxy || index.model() != proxy)
        return {};
    return LesionsModel::lesionOf(proxy->mapToSource(index));
}

const QtVisualizationWidgets::Principal *
QtVisualizationWidgets::principalOf(const QSharedPointer<LesionVisualizer> &lesion) const
{
    const auto it = m_principals.constFind(lesion.data());
    if (it == m_principals.constEnd() || it->lesion.toStrongRef() != lesion)
        return nullptr;
    return &*it;
}

ClinicalPixmapItem *
QtVisualizationWidgets::principalClinicalItemOf(const QSharedPointer<LesionVisualizer> &lesion) const
{
    if (!lesion)
        return nullptr;
    if (const Principal *principal = principalOf(lesion))
        return principal->item.get();
    // A spot marked after the build: the lesion knows its item; it counts
    // only when it is in one of this widget's scenes.
    ClinicalPixmapItem *item = lesion->getPrincipalClinicalItem();
    if (!item)
        return nullptr;
    for (const auto &scene : m_scenes)
        if (scene && item->scene() == scene.data())
            return item;
    return nullptr;
}

void QtVisualizationWidgets::toggleSelection(const QModelIndex &index)
{
    MultiRoleFilterProxyModel *proxy = m_listView->getProxyModel();
    const int row = proxy->mapToSource(index).row();
    if (row == m_selectedRow) {
        m_selectedRow = -1;
        m_listView->clearHighlight();
    } else {
        m_selectedRow = row;
        m_listView->setHighlightedRow(index.row());
    }
}

void QtVisualizationWidgets::showLesion(const QSharedPointer<LesionVisualizer> &lesion)
{
    const int sceneIndex = std::max(lesion->getSceneIndex(), 0);
    changeSceneRealIndex(sceneIndex);
    ClinicalPixmapItem *item = principalClinicalItemOf(lesion);
    if (!item) {
        kelvaris::trace(QStringLiteral("the lesion has no clinical image here"));
        return;
    }
    if (item->parentItem() && item->parentItem()->type() == ImageItem::itemType)
        selectImage(static_cast<ImageItem *>(item->parentItem()));
}

void QtVisualizationWidgets::listClicked(const QModelIndex &index)
{
    const auto lesion = lesionOfProxyIndex(index);
    if (!lesion)
        return;
    toggleSelection(index);
    m_currentListIndex = index;
    showLesion(lesion);
    if (!m_listView->isIconMode())
        highlightLesion(lesion);
    changeDermatoImage(lesion);
}

void QtVisualizationWidgets::listItemSelected(const QModelIndex &index)
{
    const auto lesion = lesionOfProxyIndex(index);
    if (!lesion)
        return;
    toggleSelection(index);
    changeDermatoImage(lesion);
    if (!m_listView->isIconMode())
        highlightLesion(lesion);
}

void QtVisualizationWidgets::listDoubleClicked(const QModelIndex &index)
{
    const QSharedPointer<LesionVisualizer> lesion = lesionOfProxyIndex(index);
    if (!lesion)
        return;
    m_listView->clearHighlight();
    const QWeakPointer<LesionVisualizer> weak = lesion;
    // Run from the event loop rather than inside the list's mouse handler.
    QMetaObject::invokeMethod(
        this,
        [this, weak] {
            if (const auto target = weak.toStrongRef())
                QtDermatoscopicDialog::openDermatoscopicViewer(target, this);
        },
        Qt::QueuedConnection);
}

void QtVisualizationWidgets::listElementFocus(const QModelIndex &index)
{
    if (m_selectedRow != -1 || !lesionOfProxyIndex(index))
        return;
    m_currentListIndex = index;
    dermatoUpdatePreview();
}

void QtVisualizationWidgets::dermatoUpdatePreview()
{
    kelvaris::trace(QStringLiteral("dermatoUpdatePreview"));
    const auto lesion = lesionOfProxyIndex(m_currentListIndex);
    if (!lesion)
        return;
    showLesion(lesion);
    if (!m_listView->isIconMode())
        highlightLesion(lesion);
    m_listView->viewport()->update();
    changeDermatoImage(lesion);
}

void QtVisualizationWidgets::listMouseOver(const QModelIndex &index)
{
    if (m_selectedRow != -1)
        return;
    const auto lesion = lesionOfProxyIndex(index);
    if (!lesion)
        return;
    m_currentListIndex = index;
    const QPointF centre = m_listView->visualRect(index).center();
    QHoverEvent hover(QEvent::HoverMove, centre, m_listView->viewport()->mapToGlobal(centre), centre);
    QCoreApplication::sendEvent(m_listView->viewport(), &hover);
    changeDermatoImage(lesion);
}

void QtVisualizationWidgets::highlightLesion(const QSharedPointer<LesionVisualizer> &lesion)
{
    if (m_highlightedLesion)
        emit m_highlightedLesion->removeHighlight();
    if (lesion)
        emit lesion->highlight();
    m_highlightedLesion = lesion;
}

void QtVisualizationWidgets::addCapturedLesions(
    std::unordered_map<QString, QSharedPointer<LesionVisualizer>> lesions)
{
    LesionsModel *model = m_listView->getLesionsModel();
    if (!model)
        return;
    // Every lesion with an image is listed; the model keeps each lesion once,
    // so lesions listed already (or with a second group now) stay single.
    for (const auto &entry : lesions)
        if (entry.second && entry.second->hasDermatoscopicGroups())
            model->addItem(entry.second);
    m_listView->reSort();
}

// ---- navigation and filters -------------------------------------------------

void QtVisualizationWidgets::moveVisualization(int direction)
{
    kelvaris::trace(QStringLiteral("rebut el moviment ") + QString::number(direction));
    ImageItem *tile = selectedTile();
    const QString name = tile ? tile->getNeighbour(direction) : QString();
    kelvaris::trace(QStringLiteral("item name ") + name);
    if (name.isEmpty())
        return;
    // The scene that holds the image: the name is a key of its name map.
    int sceneIndex = -1;
    for (size_t s = 0; s < m_nameMaps.size(); ++s)
        if (m_nameMaps[s].count(name)) {
            sceneIndex = int(s);
            break;
        }
    if (sceneIndex < 0)
        return;
    if (sceneIndex != m_currentSceneIndex) {
        changeSceneRealIndex(sceneIndex);
        checkPositionFilter(sceneIndex - 1);
    }
    ClinicalPixmapItem *item = m_nameMaps[size_t(sceneIndex)].at(name).get();
    if (item && item->parentItem() && item->parentItem()->type() == ImageItem::itemType)
        selectImage(static_cast<ImageItem *>(item->parentItem()));
}

void QtVisualizationWidgets::setLabelsShown(std::unordered_map<QString, bool> labels)
{
    if (!m_dermoscopic) {
        QMap<QString, bool> visibility;
        for (const auto &entry : labels)
            visibility.insert(entry.first, entry.second);
        m_overviewView->setLabelVisibility(visibility);
        refreshCurrentMarkers();
    }
    m_listView->setLabelsShown(labels);
}

void QtVisualizationWidgets::sizesChanged(const std::vector<std::pair<double, double>> &intervals)
{
    kelvaris::trace(QStringLiteral("Recieved new sizes!"));
    for (const auto &interval : intervals)
        kelvaris::trace(QStringLiteral("Interval: %1 - %2").arg(interval.first).arg(interval.second));
    // The whole histogram selected filters nothing: lesions beyond its
    // range (radius 20 and more) stay shown, as the controls promise.
    if (m_statisticsWidget->isFullRangeSelected()) {
        applySizeBounds(0, m_dermoscopic ? 100000 : 1000);
        return;
    }
    int lower = 0;
    int upper = 0;
    if (!intervals.empty()) {
        lower = int(intervals.front().first);
        upper = int(intervals.back().second);
    }
    applySizeBounds(lower, upper);
}

void QtVisualizationWidgets::applySizeBounds(int lower, int upper)
{
    m_listView->setSizeFilter(lower, upper);
    if (!m_dermoscopic) {
        m_overviewView->setSizeBounds(lower, upper >= 1000 ? 100000 : upper);
        refreshCurrentMarkers();
    }
}

// ---- geometry ---------------------------------------------------------------

void QtVisualizationWidgets::updateListIconSize()
{
    const int w = std::max(1, width());
    const int h = std::max(1, height());
    if (m_listView->isIconMode()) {
        m_listView->setIconSize(QSize(std::max(1, int(0.1 * w)), std::max(1, int(0.09 * h))));
        m_listView->setGridSize(QSize(std::max(1, int(0.1 * w)), std::max(1, int(0.1 * h))));
    } else {
        m_listView->setIconSize(QSize(std::max(1, int(0.1 * w)), std::max(1, int(0.1 * h))));
        m_listView->setMinimumHeight(std::max(1, int(0.1 * h)));
        m_listView->setGridSize(QSize());
    }
}

void QtVisualizationWidgets::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_layoutWidth = std::max(1, int(0.1 * width()));
    m_layoutHeight = std::max(1, int(0.2 * height()));
    if (OverviewLayout::validLimits(m_overviewView->sceneRect().toRect()))
        m_overviewView->fitInView(m_overviewView->sceneRect(), Qt::KeepAspectRatio);
    m_clinicalCloseUpView->setMaximumWidth(std::max(1, int(0.35 * width())));
    m_clinicalFarView->setMaximumWidth(std::max(1, int(0.1 * width())));
    updateListIconSize();
    const QRectF item = m_previewItem->boundingRect();
    if (item.isValid())
        m_previewView->fitInView(m_previewItem, Qt::KeepAspectRatio);
}

void QtVisualizationWidgets::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

QGraphicsView *QtVisualizationWidgets::getClinicalFarView() const
{
    return m_clinicalFarView;
}

QGraphicsView *QtVisualizationWidgets::getClinicalCloseUpView() const
{
    return m_clinicalCloseUpView;
}
