#include "visualization/QtVisualizationWidgets.h"

#include "dermoscopy/DermatoGraphicsView.h"
#include "dermoscopy/DermatoPixmapItem.h"
#include "session/ClinicalPixmapItem.h"
#include "statistics/QtStatisticsWidget.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "visualization/ImageItem.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ListView.h"

#include <QGraphicsRectItem>
#include <QPainter>
#include <QStyleOption>

// The body of the widget is being written; the interface is final.

QtVisualizationWidgets::QtVisualizationWidgets(std::vector<QString> positionNames, int viewIndex,
                                               QWidget *parent)
    : QWidget(parent), m_positionNames(std::move(positionNames)), m_viewIndex(viewIndex)
{
}

QtVisualizationWidgets::~QtVisualizationWidgets() = default;

bool QtVisualizationWidgets::buildView(QSharedPointer<SessionVisualizer> session)
{
    m_session = session;
    return false;
}

void QtVisualizationWidgets::cancelBuild()
{
    m_buildCancelled.store(true);
}

void QtVisualizationWidgets::changeScene(int) {}
void QtVisualizationWidgets::changeSceneRealIndex(int) {}

GraphicsScene *QtVisualizationWidgets::getScene(int sceneIndex) const
{
    if (sceneIndex < 0 || sceneIndex >= int(m_scenes.size()))
        return nullptr;
    return m_scenes[size_t(sceneIndex)].data();
}

QRect QtVisualizationWidgets::getOverviewLimits(int) const
{
    return {};
}
QRect QtVisualizationWidgets::getCloseUpRect(int) const
{
    return {};
}
QtVisualizationWidgets::VisibleImage QtVisualizationWidgets::getVisibleImage() const
{
    return {};
}
std::pair<QString, int> QtVisualizationWidgets::currentImagePosition() const
{
    return {QString(), -1};
}
void QtVisualizationWidgets::selectImageAt(int, int) {}
void QtVisualizationWidgets::showNextImage() {}
void QtVisualizationWidgets::showPreviousImage() {}
void QtVisualizationWidgets::setPairMode(bool) {}
bool QtVisualizationWidgets::isPairMode() const
{
    return false;
}
void QtVisualizationWidgets::setParallelZoom(bool on)
{
    m_parallelZoom = on;
}
void QtVisualizationWidgets::setOtherVisualization(QtVisualizationWidgets *) {}
void QtVisualizationWidgets::setSuperpositionVisible(bool) {}
QGraphicsView *QtVisualizationWidgets::getClinicalFarView() const
{
    return m_clinicalFarView;
}
QGraphicsView *QtVisualizationWidgets::getClinicalCloseUpView() const
{
    return m_clinicalCloseUpView;
}
ClinicalPixmapItem *
QtVisualizationWidgets::principalClinicalItemOf(const QSharedPointer<LesionVisualizer> &) const
{
    return nullptr;
}
void QtVisualizationWidgets::dermatoUpdatePreview() {}
void QtVisualizationWidgets::addCapturedLesions(std::unordered_map<QString, QSharedPointer<LesionVisualizer>>)
{
}
void QtVisualizationWidgets::changeDermatoImage(QSharedPointer<LesionVisualizer>) {}
void QtVisualizationWidgets::setModifyMode(bool) {}
void QtVisualizationWidgets::setHideSpots(bool checked)
{
    m_hideSpots = checked;
}
void QtVisualizationWidgets::setHideNumbers(bool checked)
{
    m_hideNumbers = checked;
}

void QtVisualizationWidgets::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
}

void QtVisualizationWidgets::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
