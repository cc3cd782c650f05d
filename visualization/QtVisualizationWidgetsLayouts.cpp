// The three arrangements of QtVisualizationWidgets (hybrid, dermoscopic,
// clinical), their splitter states, the dermatoscopic preview and the
// dermoscopic layout's focus on one lesion.
#include "visualization/QtVisualizationWidgets.h"

#include "dermoscopy/DermatoGraphicsView.h"
#include "dermoscopy/DermatoPixmapItem.h"
#include "session/ClinicalPixmapItem.h"
#include "session/LesionsModel.h"
#include "session/MultiRoleFilterProxyModel.h"
#include "statistics/QtRangeSlider.h"
#include "statistics/QtStatisticsWidget.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ListView.h"
#include "widgets/Trace.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFrame>
#include <QGraphicsRectItem>
#include <QMenu>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>

#include <cmath>

namespace {

constexpr int hybridHorizontal = 0;
constexpr int hybridLower = 1;
constexpr int hybridTop = 2;
constexpr int clinicalHorizontal = 3;
constexpr int dermoscopicHorizontal = 4;
constexpr int dermoscopicVertical = 5;
constexpr int focusMargin = 10;
constexpr int dimmingGrowth = 5;
constexpr qreal dimmingZ = 1000.0;

void restoreState(QSplitter *splitter, const QByteArray &state)
{
    if (splitter && !state.isNull())
        splitter->restoreState(state);
}

} // namespace

// ---- splitter states --------------------------------------------------------

void QtVisualizationWidgets::storeLeavingLayout(bool hybrid, bool dermoscopic, bool clinical)
{
    if (hybrid && m_hybrid) {
        m_splitterStates[hybridHorizontal] = m_horizontalSplitter->saveState();
        m_splitterStates[hybridLower] = m_horizontalSplitter2->saveState();
        m_splitterStates[hybridTop] = m_verticalSplitter->saveState();
    }
    if (dermoscopic && m_dermoscopic) {
        m_splitterStates[dermoscopicHorizontal] = m_horizontalSplitter->saveState();
        m_splitterStates[dermoscopicVertical] = m_clinicalSplitter->saveState();
    }
    if (clinical && m_clinical)
        m_splitterStates[clinicalHorizontal] = m_horizontalSplitter->saveState();
}

QList<QByteArray> QtVisualizationWidgets::getSplitterStates() const
{
    return QList<QByteArray>(m_splitterStates.begin(), m_splitterStates.end());
}

void QtVisualizationWidgets::setSplitterStates(QList<QByteArray> states)
{
    if (states.size() < int(m_splitterStates.size())) {
        kelvaris::trace(QStringLiteral("setSplitterStates: fewer than six states, ignored"));
        return;
    }
    for (size_t i = 0; i < m_splitterStates.size(); ++i)
        m_splitterStates[i] = states[int(i)];
    if (m_hybrid) {
        restoreState(m_horizontalSplitter, m_splitterStates[hybridHorizontal]);
        restoreState(m_horizontalSplitter2, m_splitterStates[hybridLower]);
        restoreState(m_verticalSplitter, m_splitterStates[hybridTop]);
    } else if (m_dermoscopic) {
        restoreState(m_horizontalSplitter, m_splitterStates[dermoscopicHorizontal]);
        restoreState(m_clinicalSplitter, m_splitterStates[dermoscopicVertical]);
    } else if (m_clinical) {
        restoreState(m_horizontalSplitter, m_splitterStates[clinicalHorizontal]);
    }
}

// ---- layouts ----------------------------------------------------------------

void QtVisualizationWidgets::detachClinicalSplitter()
{
    // Kept as a hidden child rather than a parentless widget, so that it
    // never becomes a window and is deleted with the widget.
    if (m_dermaFrame->parentWidget() == m_clinicalSplitter)
        m_horizontalSplitter->addWidget(m_dermaFrame);
    m_clinicalSplitter->hide();
    m_clinicalSplitter->setParent(this);
    m_clinicalSplitter->hide();
}

void QtVisualizationWidgets::showLayoutActions(bool visible)
{
    if (m_compareAction)
        m_compareAction->setVisible(visible);
    if (m_pairAction)
        m_pairAction->setVisible(visible);
}

void QtVisualizationWidgets::showHybridLayout()
{
    const bool fromDermoscopic = m_dermoscopic;
    const bool fromClinical = m_clinical;
    storeLeavingLayout(false, true, true);
    m_closeUpView->setParallel(false);
    showLayoutActions(false);
    setPairMode(false);

    for (QWidget *widget :
         {static_cast<QWidget *>(m_listViewFrame), static_cast<QWidget *>(m_leftFrame),
          static_cast<QWidget *>(m_clinicalSplitFrame), static_cast<QWidget *>(m_rightFrame),
          static_cast<QWidget *>(m_statisticsWidget), static_cast<QWidget *>(m_horizontalSplitter2)})
        widget->show();
    m_dermaFrame->setObjectName(QStringLiteral("dermaFrame"));

    detachClinicalSplitter();
    m_horizontalSplitter->insertWidget(0, m_leftFrame);
    m_horizontalSplitter->insertWidget(1, m_rightFrame);
    m_horizontalSplitter->insertWidget(2, m_dermaFrame);
    m_dermaFrame->show();
    m_horizontalSplitter2->addWidget(m_listViewFrame);

    restoreState(m_horizontalSplitter, m_splitterStates[hybridHorizontal]);
    restoreState(m_horizontalSplitter2, m_splitterStates[hybridLower]);
    restoreState(m_verticalSplitter, m_splitterStates[hybridTop]);

    if (m_listView->model()) {
        m_listView->setIconMode(false);
        m_iconList = false;
    }
    hideDimmingRects();

    if (fromDermoscopic)
        clickRememberedLater(50, true);
    else if (fromClinical)
        clickRememberedLater(50, false);

    if (m_listView->model())
        updateListIconSize();
    m_hybrid = true;
    m_dermoscopic = false;
    m_clinical = false;

    m_overviewView->setShowSpots(!m_hideSpots);
    m_overviewView->setShowNumbers(!m_hideNumbers);
    refreshCurrentMarkers();

    // The list and the markers follow the range slider again.
    if (m_statisticsWidget->isFullRangeSelected())
        sizesChanged(m_statisticsWidget->selectedIntervals());
    else
        applySizeBounds(m_statisticsWidget->rangeSlider()->lowerValue(),
                        m_statisticsWidget->rangeSlider()->upperValue());
    m_closeUpToolBar->update();
}

void QtVisualizationWidgets::showDermoscopicLayout()
{
    storeLeavingLayout(true, false, true);
    m_dermaFrame->setObjectName(QStringLiteral("dermaFrame"));
    setUpdatesEnabled(false);

    if (m_highlightedLesion)
        emit m_highlightedLesion->removeHighlight();
    m_closeUpView->setParallel(false);
    showLayoutActions(false);
    setPairMode(false);

    m_leftFrame->hide();
    m_rightFrame->hide();
    m_statisticsWidget->hide();
    m_horizontalSplitter2->hide();
    m_horizontalSplitter->addWidget(m_clinicalSplitter);
    m_horizontalSplitter->addWidget(m_listViewFrame);
    m_listViewFrame->show();
    m_clinicalSplitter->addWidget(m_dermaFrame);
    m_dermaFrame->show();
    m_clinicalSplitter->show();
    m_clinicalSplitFrame->show();
    hideDimmingRects();

    restoreState(m_horizontalSplitter, m_splitterStates[dermoscopicHorizontal]);
    restoreState(m_clinicalSplitter, m_splitterStates[dermoscopicVertical]);

    clickRememberedLater(70, true);

    m_listView->setIconMode(true);
    m_iconList = true;
    emptyPreview();
    updateListIconSize();
    m_listView->doItemsLayout();

    m_dermoscopic = true;
    m_hybrid = false;
    m_clinical = false;
    setUpdatesEnabled(true);

    applySizeBounds(0, 100000);
    m_closeUpToolBar->update();
}

void QtVisualizationWidgets::showClinicalLayout()
{
    storeLeavingLayout(true, true, false);
    if (m_highlightedLesion)
        emit m_highlightedLesion->removeHighlight();
    m_closeUpView->setParallel(m_parallelZoom);
    showLayoutActions(true);

    if (m_viewIndex == 1) {
        m_dermaFrame->hide();
    } else {
        m_clinical = true;
        emptyPreview();
    }

    for (QWidget *widget :
         {static_cast<QWidget *>(m_listViewFrame), static_cast<QWidget *>(m_leftFrame),
          static_cast<QWidget *>(m_clinicalSplitFrame), static_cast<QWidget *>(m_statisticsWidget),
          static_cast<QWidget *>(m_horizontalSplitter2)})
        widget->hide();
    m_rightFrame->show();
    detachClinicalSplitter();
    m_horizontalSplitter->insertWidget(0, m_rightFrame);
    restoreState(m_horizontalSplitter, m_splitterStates[clinicalHorizontal]);
    hideDimmingRects();

    kelvaris::trace(QStringLiteral("DINS SessionVisualizer::isPrincipalSession"));
    if (m_session && m_session->isPrincipalSession()) {
        QTimer::singleShot(50, m_sessionContext.get(), [this] {
            MultiRoleFilterProxyModel *proxy = m_listView->getProxyModel();
            if (!proxy || proxy->rowCount() == 0)
                return;
            if (const auto lesion = lesionOfProxyIndex(proxy->index(0, 0)))
                changeDermatoImage(lesion);
        });
    }

    m_hybrid = false;
    m_dermoscopic = false;
    m_overviewView->setShowSpots(!m_hideSpots);
    m_overviewView->setShowNumbers(!m_hideNumbers);
    refreshCurrentMarkers();
    applySizeBounds(0, 100000);
    m_closeUpToolBar->update();
}

void QtVisualizationWidgets::clickRememberedLater(int delayMs, bool firstRowFallback)
{
    // The context dies with the session the call was made for.
    QTimer::singleShot(delayMs, m_sessionContext.get(), [this, firstRowFallback] {
        MultiRoleFilterProxyModel *proxy = m_listView->getProxyModel();
        if (!proxy || proxy->rowCount() == 0)
            return;
        if (m_currentListIndex.isValid() && m_currentListIndex.model() == proxy) {
            // Re-selects the entry, rather than toggling it off when it was
            // the selected one.
            m_selectedRow = -1;
            listClicked(m_currentListIndex);
        } else if (firstRowFallback) {
            emit m_listView->clicked(proxy->index(0, 0));
        }
    });
}

// ---- preview ----------------------------------------------------------------

void QtVisualizationWidgets::emptyPreview()
{
    m_previewItem->nextGeneration();
    m_previewItem->setBytes(QByteArray());
    m_previewItem->setPixmap(QPixmap());
    m_previewLesion.clear();
    const QRectF bounds = m_previewItem->boundingRect();
    m_previewScene->setSceneRect(bounds);
    m_previewView->setSceneRect(bounds);
}

void QtVisualizationWidgets::changeDermatoImage(QSharedPointer<LesionVisualizer> lesion)
{
    kelvaris::trace(QStringLiteral("INSIDE CHANGE DERMATO IMAGE"));
    if (!lesion)
        return;
    if (m_dermoscopic || m_clinical) {
        m_previewItem->nextGeneration();
        m_previewItem->setPixmap(lesion->getDermatoscopicPixmap().first);
    } else {
        const auto [preview, bytes] = lesion->getDermatoscopicPixmap();
        m_previewItem->showImage(preview, bytes);
    }
    kelvaris::trace(QStringLiteral("INSIDE CHANGE DERMATO IMAGE2"));
    m_previewLesion = lesion;
    const QRectF bounds = m_previewItem->boundingRect();
    m_previewScene->setSceneRect(bounds);
    m_previewView->setSceneRect(bounds);
    if (bounds.isValid()) {
        m_previewView->fitToScene();
        m_previewView->centerOn(m_previewItem);
    }
    kelvaris::trace(QStringLiteral("INSIDE CHANGE DERMATO IMAGE3"));
    if (m_dermoscopic)
        focusLesion(lesion);
    kelvaris::trace(QStringLiteral("INSIDE CHANGE DERMATO IMAGE index OF DATA MODEL"));
    m_currentListIndex = m_listView->proxyIndexOf(lesion);
}

bool QtVisualizationWidgets::eventFilter(QObject *watched, QEvent *event)
{
    // The lesion menu is prepared only when it is about to open: preparing
    // it makes its lesion the session's current one and drops a pending
    // label, which a mere change of the preview must not do.
    if (watched == m_previewView->viewport() && event->type() == QEvent::ContextMenu) {
        const auto lesion = m_previewLesion.toStrongRef();
        QMenu *menu = lesion && m_session ? m_session->getContextMenu(lesion) : nullptr;
        if (menu)
            kelvaris::trace(QStringLiteral("INSIDE CHANGE DERMATO IMAGE SET CONTEXT MENU!"));
        m_previewView->setContextMenu(menu);
    }
    return QWidget::eventFilter(watched, event);
}

// ---- focus ------------------------------------------------------------------

void QtVisualizationWidgets::recreateDimmingRects()
{
    for (ItemRef<QGraphicsRectItem> &ref : m_dimmingRects) {
        if (QGraphicsRectItem *rect = ref.get()) {
            if (rect->scene())
                rect->scene()->removeItem(rect);
            delete rect;
        }
        ref = ItemRef<QGraphicsRectItem>();
    }
}

void QtVisualizationWidgets::hideDimmingRects()
{
    for (const ItemRef<QGraphicsRectItem> &ref : m_dimmingRects)
        if (QGraphicsRectItem *rect = ref.get())
            rect->hide();
}

void QtVisualizationWidgets::focusLesion(QSharedPointer<LesionVisualizer> lesion)
{
    if (!lesion)
        return;
    ClinicalPixmapItem *item = principalClinicalItemOf(lesion);
    ImageItemRect *marker = m_principalMarkers.value(lesion.data());
    if (!item || !marker || marker->parentItem() != item || !item->scene()) {
        kelvaris::trace(QStringLiteral("focusLesion: no principal image or marker"));
        return;
    }
    m_overviewView->setShowNumbers(false);
    refreshCurrentMarkers();
    for (QGraphicsItem *child : item->childItems()) {
        const bool own = child->type() == ImageItemRect::Type &&
                         static_cast<ImageItemRect *>(child)->getLesion() == lesion;
        child->setVisible(own);
    }

    const QRectF C = m_closeUpView->sceneRect();
    if (!C.isValid())
        return;
    const QPointF c = marker->sceneBoundingRect().center();
    const QSize viewSize = m_clinicalCloseUpView->size();
    const double vw = std::max(2, 2 * (viewSize.width() / 2));
    const double vh = std::max(2, 2 * (viewSize.height() / 2));
    QRectF window(0, 0, vw, vh);
    window.moveCenter(c);
    if (window.left() < C.left() + focusMargin)
        window.moveLeft(C.left() + focusMargin);
    if (window.top() < C.top() + focusMargin)
        window.moveTop(C.top() + focusMargin);
    if (window.right() > C.right() - focusMargin)
        window.moveRight(C.right() - focusMargin);
    if (window.bottom() > C.bottom() - focusMargin)
        window.moveBottom(C.bottom() - focusMargin);
    m_clinicalCloseUpView->setSceneRect(window);
    m_clinicalCloseUpView->fitInView(window, Qt::KeepAspectRatio);

    const QWidget *viewport = m_clinicalCloseUpView->viewport();
    const QRectF V = m_clinicalCloseUpView->mapToScene(viewport->rect())
                         .boundingRect()
                         .adjusted(-dimmingGrowth, -dimmingGrowth, dimmingGrowth, dimmingGrowth);
    const std::array<QRectF, 4> areas = {
        QRectF(C.left(), C.top(), C.width(), std::max(0.0, V.top() - C.top())),
        QRectF(C.left(), V.bottom(), C.width(), std::max(0.0, C.bottom() - V.bottom())),
        QRectF(C.left(), V.top(), std::max(0.0, V.left() - C.left()), V.height()),
        QRectF(V.right(), V.top(), std::max(0.0, C.right() - V.right()), V.height())};
    QGraphicsScene *scene = item->scene();
    for (size_t i = 0; i < areas.size(); ++i) {
        QGraphicsRectItem *rect = m_dimmingRects[i].get();
        if (rect && rect->scene() != scene) {
            rect->scene()->removeItem(rect);
            delete rect;
            rect = nullptr;
        }
        if (!rect) {
            rect = new QGraphicsRectItem();
            rect->setBrush(QColor(255, 255, 255, 128));
            rect->setPen(Qt::NoPen);
            rect->setZValue(dimmingZ);
            scene->addItem(rect);
            m_dimmingRects[i] = ItemRef<QGraphicsRectItem>{rect, scene};
        }
        rect->setRect(areas[i]);
        rect->show();
    }
}
