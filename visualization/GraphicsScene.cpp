#include "visualization/GraphicsScene.h"

#include "session/ClinicalPixmapItem.h"
#include "session/SessionDocument.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ListView.h"
#include "visualization/MyReleaseEvent.h"
#include "widgets/Trace.h"

#include <QAction>
#include <QCoreApplication>
#include <QFont>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QIcon>
#include <QMenu>
#include <QTimer>
#include <QToolBar>
#include <QWidgetAction>

namespace {

constexpr int deviceXOffset = 900;
constexpr int spotHalfSide = 50;
constexpr int releaseDelayMs = 100;

} // namespace

GraphicsScene::GraphicsScene(int positionIndex, QSharedPointer<SessionVisualizer> session, ListView *list,
                             QObject *parent)
    : QGraphicsScene(parent), m_positionIndex(positionIndex), m_session(std::move(session)), m_list(list),
      m_lesionMenu(std::make_unique<QMenu>())
{
    setBackgroundBrush(QColor(33, 33, 36));

    m_lesionMenu->setObjectName(QStringLiteral("lesionMenu"));
    m_lesionMenu->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    m_lesionMenu->setAttribute(Qt::WA_TranslucentBackground);
    m_lesionMenu->setAttribute(Qt::WA_AcceptTouchEvents);
    auto *toolBar = new QToolBar(m_lesionMenu.get());
    auto *markAction = new QAction(QIcon(QStringLiteral(":/menu/createNew")), tr("&Mark spot..."), toolBar);
    markAction->setStatusTip(tr("Mark this as a new spot"));
    connect(markAction, &QAction::triggered, this, &GraphicsScene::markSpot);
    toolBar->addAction(markAction);
    auto *toolBarAction = new QWidgetAction(m_lesionMenu.get());
    toolBarAction->setDefaultWidget(toolBar);
    m_lesionMenu->addAction(toolBarAction);
}

GraphicsScene::~GraphicsScene() = default;

int GraphicsScene::xOffset() const
{
    return m_positionIndex == SessionVisualizer::externalPosition ? 0 : deviceXOffset;
}

ClinicalPixmapItem *GraphicsScene::clinicalItemOf(QGraphicsItem *item)
{
    for (QGraphicsItem *current = item; current; current = current->parentItem()) {
        if (auto *clinical = dynamic_cast<ClinicalPixmapItem *>(current))
            return clinical;
    }
    return nullptr;
}

bool GraphicsScene::holdsItem(QGraphicsItem *item) const
{
    return item && items().contains(item);
}

void GraphicsScene::rememberClick(QGraphicsItem *item, const QPointF &scenePoint, const QPoint &globalPos)
{
    m_clickedItem = item;
    m_clickedPoint = scenePoint;
    m_clickedGlobalPos = globalPos;
}

bool GraphicsScene::openSpotMenu(QGraphicsItem *item, const QPointF &scenePoint, const QPoint &globalPos)
{
    // A spot can only be marked on a clinical image that is shown; anywhere
    // else the menu would create a lesion with a meaningless pose.
    ClinicalPixmapItem *clinical = clinicalItemOf(item);
    if (!clinical || !clinical->isShown() || !holdsItem(clinical))
        return false;
    rememberClick(clinical, scenePoint, globalPos);
    connect(m_lesionMenu.get(), &QMenu::aboutToHide, this, &GraphicsScene::popupMenuClosed,
            Qt::SingleShotConnection);
    m_lesionMenu->popup(globalPos);
    return true;
}

void GraphicsScene::markSpot()
{
    m_lesionMenu->hide();
    // The clicked item may have gone with a rebuild while the menu was open.
    if (!holdsItem(m_clickedItem)) {
        m_clickedItem = nullptr;
        return;
    }
    markSpotAt(clinicalItemOf(m_clickedItem), m_clickedPoint);
}

ImageItemRect *GraphicsScene::markSpotAt(ClinicalPixmapItem *item, const QPointF &scenePoint)
{
    if (!item || !m_session)
        return nullptr;
    const QString name = item->data(0).toString();
    CameraPose pose;
    int position = 0;
    if (!SessionDocument::parseClinicalImageName(name, m_session->getVersion(), &pose, &position) ||
        position != m_positionIndex) {
        kelvaris::trace(
            QStringLiteral("markSpot: the clicked item is not a clinical image of this position"));
        return nullptr;
    }
    const int a = xOffset();
    const QPointF p = item->mapFromScene(scenePoint);
    const QPoint topLeft(int(p.x() - spotHalfSide + a), int(p.y() - spotHalfSide));
    const QRect box(topLeft, topLeft + QPoint(2 * spotHalfSide - 1, 2 * spotHalfSide - 1));

    const auto lesion = m_session->createLesion(pose, pose.alpha, pose.beta, position, box);
    if (!lesion)
        return nullptr;
    lesion->setPrincipalClinicalItem(item, m_positionIndex + 1);

    auto *label = new QGraphicsTextItem(QString::number(lesion->getNumericID()));
    QFont font = label->font();
    font.setPointSize(20);
    label->setFont(font);
    auto *marker = new ImageItemRect(lesion, 0, m_session->getFolderPath(), item, label, m_list, a);
    marker->setOpacity(0.5);
    return marker;
}

void GraphicsScene::markSpotCross()
{
    kelvaris::trace(QStringLiteral("none is done"));
}

void GraphicsScene::popupMenuClosed()
{
    kelvaris::trace(QStringLiteral("popupMenuClosed"));
    QTimer::singleShot(releaseDelayMs, this, [this] {
        kelvaris::trace(QStringLiteral("Dins"));
        const auto shown = views();
        if (!shown.isEmpty())
            QCoreApplication::postEvent(shown.first(), new MyReleaseEvent);
    });
}

ListView *GraphicsScene::getList() const
{
    return m_list.data();
}
