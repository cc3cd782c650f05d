#include "visualization/SchemeMultipleSessions.h"

#include "visualization/OverviewLayout.h"
#include "visualization/SinglePositionScheme.h"
#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"

#include <QGraphicsRectItem>
#include <QGraphicsSvgItem>
#include <QIcon>
#include <QPen>
#include <QSvgRenderer>

namespace {

const QColor schemeBackground(28, 28, 30);

int boxWidthOf(int index)
{
    // frontal and back are a little wider than the side views.
    return index < 2 ? 126 : 120;
}

} // namespace

SchemeMultipleSessions::SchemeMultipleSessions(std::vector<QSharedPointer<SessionVisualizer>> sessions, int,
                                               QWidget *parent)
    : QWidget(parent), m_sessions(std::move(sessions))
{
    ui.setupUi(this);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    QIcon icon;
    icon.addPixmap(svgToPixmap(recolorSvg(QStringLiteral(":/rsc/resource/icon/showAllLines.svg"), Qt::black),
                               QSize(34, 34)),
                   QIcon::Active, QIcon::On);
    ui.showAllButton->setIcon(icon);
    ui.showAllButton->setIconSize(QSize(34, 34));

    for (int i = 0; i < int(m_scenes.size()); ++i)
        buildScheme(i);
}

const std::array<QString, 4> &SchemeMultipleSessions::schemeNames()
{
    static const std::array<QString, 4> names{QStringLiteral("frontal"), QStringLiteral("back"),
                                              QStringLiteral("left"), QStringLiteral("right")};
    return names;
}

SinglePositionScheme *SchemeMultipleSessions::positionView(const QString &name) const
{
    const auto &names = schemeNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name)
            return m_views[i];
    }
    return nullptr;
}

QGraphicsScene *SchemeMultipleSessions::positionScene(const QString &name) const
{
    const auto &names = schemeNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name)
            return m_scenes[i];
    }
    return nullptr;
}

QGraphicsItem *SchemeMultipleSessions::addSilhouette(QGraphicsScene *scene, const QString &path, int boxWidth)
{
    auto *silhouette = new QGraphicsSvgItem(path);
    const QRectF bounds = silhouette->boundingRect();
    // Scaling by the height of a missing or empty picture would divide by zero.
    if (!silhouette->renderer()->isValid() || !bounds.isValid() || bounds.height() <= 0) {
        delete silhouette;
        return nullptr;
    }
    const double scale = schemeHeight / bounds.height();
    silhouette->setScale(scale);
    silhouette->setPos((boxWidth - bounds.width() * scale) / 2 - bounds.x() * scale, -bounds.y() * scale);
    scene->addItem(silhouette);
    return silhouette;
}

void SchemeMultipleSessions::buildScheme(int index)
{
    const QString name = schemeNames()[size_t(index)];
    const int boxWidth = boxWidthOf(index);
    auto *scene = new QGraphicsScene(this);
    scene->setBackgroundBrush(schemeBackground);
    m_scenes[size_t(index)] = scene;

    if (!addSilhouette(scene, QStringLiteral(":/rsc/") + name + QStringLiteral(".svg"), boxWidth))
        kelvaris::trace(QStringLiteral("SchemeMultipleSessions: no silhouette for ") + name);
    for (int s = 0; s < int(m_sessions.size()) && s < 2; ++s)
        addSessionRectangles(scene, name, boxWidth, s);
    scene->setSceneRect(QRectF(0, 0, boxWidth, schemeHeight).united(scene->itemsBoundingRect()));

    auto *view = new SinglePositionScheme(this);
    view->setScene(scene);
    m_views[size_t(index)] = view;
    ui.horizontalLayout_2->addWidget(view);
    connect(view, &SinglePositionScheme::mouseClickedIndex, this,
            [this, name](int session0Index, int session1Index) {
                positionClicked(name, session0Index, session1Index);
            });
}

void SchemeMultipleSessions::addSessionRectangles(QGraphicsScene *scene, const QString &schemeName,
                                                  int boxWidth, int sessionIndex)
{
    const QSharedPointer<SessionVisualizer> &session = m_sessions[size_t(sessionIndex)];
    if (!session)
        return;
    // The last position whose name occurs in the silhouette's name. An empty
    // name occurs in every name and would put one position on all four.
    int position = -1;
    const std::vector<QString> &names = session->getPositionNames();
    for (int p = 0; p < int(names.size()); ++p) {
        if (!names[size_t(p)].isEmpty() && schemeName.contains(names[size_t(p)]))
            position = p;
    }
    if (position < 0) {
        kelvaris::trace(QStringLiteral("SchemeMultipleSessions: session %1 has no position %2")
                            .arg(sessionIndex)
                            .arg(schemeName));
        return;
    }

    std::vector<QPointF> poses;
    for (const CameraPose &pose : session->getCameraPoses(position))
        poses.emplace_back(pose.x, pose.y);
    const OverviewLayout::SchemeLayout layout = OverviewLayout::schemeLayout(poses, boxWidth, schemeHeight);

    const QPen pen(sessionIndex == 0 ? QColor(QStringLiteral("PowderBlue"))
                                     : QColor(QStringLiteral("LightSkyBlue")));
    const QBrush brush(QColor(255, 255, 255, 50));
    for (int n = 0; n < int(layout.centres.size()); ++n) {
        const QPointF centre = layout.centres[size_t(n)];
        auto *rectangle = scene->addRect(centre.x() - layout.width / 2, centre.y() - layout.height / 2,
                                         layout.width, layout.height, pen, brush);
        rectangle->setData(0, n);
        rectangle->setData(1, sessionIndex);
        if (sessionIndex == 1)
            rectangle->setOpacity(hiddenOpacity);
    }
}

void SchemeMultipleSessions::on_showAllButton_clicked(bool checked)
{
    for (QGraphicsScene *scene : m_scenes) {
        const auto items = scene->items();
        for (QGraphicsItem *item : items) {
            if (item->type() == SinglePositionScheme::rectangleType && item->data(1).toInt() == 1)
                item->setOpacity(checked ? 1.0 : hiddenOpacity);
        }
    }
}

void SchemeMultipleSessions::selectCameraRectangle(SinglePositionScheme *view, int imageIndex)
{
    if (!view)
        return;
    QGraphicsRectItem *rectangle = view->findRectangle(imageIndex, 0);
    if (!rectangle) {
        kelvaris::trace(QStringLiteral("SchemeMultipleSessions: no camera rectangle %1").arg(imageIndex));
        return;
    }
    const QPoint centre = rectangle->mapToScene(rectangle->rect().center()).toPoint();
    view->selectAt(view->mapFromScene(QPointF(centre)));
}

void SchemeMultipleSessions::positionClicked(const QString &positionName, int session0Index,
                                             int session1Index)
{
    std::vector<std::pair<int, int>> result;
    for (int s = 0; s < int(m_sessions.size()) && s < 2; ++s) {
        int found = -1;
        if (const auto &session = m_sessions[size_t(s)]) {
            const std::vector<QString> &names = session->getPositionNames();
            const auto it = std::find(names.begin(), names.end(), positionName);
            if (it != names.end())
                found = int(it - names.begin());
        }
        if (found < 0)
            result.emplace_back(-2, 0);
        else
            result.emplace_back(found, s == 0 ? session0Index : session1Index);
    }
    emit schemeClicked(result);
}
