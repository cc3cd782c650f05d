// Scene construction of QtVisualizationWidgets: the overview tiles of a body
// position, the stacked clinical images of its close-up, the lesion markers,
// and the neighbour links between tiles. The geometry itself is
// OverviewLayout's.
#include "visualization/QtVisualizationWidgets.h"

#include "session/ClinicalPixmapItem.h"
#include "session/LesionsModel.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"
#include "visualization/ImageItem.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ListView.h"
#include "visualization/OverviewLayout.h"
#include "widgets/Trace.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QGraphicsSvgItem>
#include <QGraphicsTextItem>
#include <QImageReader>
#include <QSvgRenderer>

#include <algorithm>

namespace {

constexpr int deviceXOffset = 900;
const QRect deviceClip(deviceXOffset, 0, 4572, 3648);
const QColor markerTileColour = ImageItem::dermatoscopicColor();

ImageItem *tileOf(ClinicalPixmapItem *item)
{
    if (!item || !item->parentItem() || item->parentItem()->type() != ImageItem::itemType)
        return nullptr;
    return static_cast<ImageItem *>(item->parentItem());
}

} // namespace

QtVisualizationWidgets::TilePositions QtVisualizationWidgets::imagePositions(int p, bool rebuild)
{
    std::vector<QPointF> poses;
    if (m_session)
        for (const CameraPose &pose : m_session->getCameraPoses(p))
            poses.emplace_back(pose.x, pose.y);
    const OverviewLayout::TileLayout layout =
        OverviewLayout::imagePositions(poses, m_layoutWidth, m_layoutHeight);

    // A rebuild of the External scene replaces its entry; every first build
    // appends (whatever the number of positions the session has).
    if (rebuild && p == SessionVisualizer::externalPosition && !m_overviewLimits.empty())
        m_overviewLimits[0] = layout.limits;
    else
        m_overviewLimits.push_back(layout.limits);

    TilePositions result;
    result.positions = layout.positions;
    result.width = layout.width;
    result.height = layout.height;
    return result;
}

QSize QtVisualizationWidgets::addGeneralsToScene(GraphicsScene *scene, const TilePositions &layout, int p,
                                                 const QString &, NameMap &nameMap)
{
    kelvaris::trace(QStringLiteral("QtVisualizationWidgets::addGeneralsToScene"));
    QSize maximum(0, 0);
    if (!scene || !m_session)
        return maximum;
    const bool external = p == SessionVisualizer::externalPosition;
    const std::vector<CameraPose> poses = m_session->getCameraPoses(p);
    const size_t count = std::min(poses.size(), layout.positions.size());
    const QRect limits = external ? QRect() : m_overviewLimits.back();

    // The silhouette, centred in the area the tiles cover. A position whose
    // picture is missing (a name outside the fixed set) or whose tiles cover
    // no area draws none.
    if (!external && OverviewLayout::validLimits(limits)) {
        const QString path =
            QStringLiteral(":/rsc/") + m_session->getPositionNames()[size_t(p)] + QStringLiteral(".svg");
        if (QFile::exists(path)) {
            auto *svg = new QGraphicsSvgItem(path);
            const QRectF box = svg->boundingRect();
            if (box.height() > 0 && box.width() > 0) {
                const double scale = limits.height() / box.height();
                svg->setScale(scale);
                svg->setPos(limits.x() + (limits.width() - box.width() * scale) / 2 - box.x() * scale,
                            limits.y() + (limits.height() - box.height() * scale) / 2 - box.y() * scale);
                scene->addItem(svg);
            } else {
                delete svg;
            }
        }
    }

    const int tileWidth = std::max(1, int(layout.width));
    const int tileHeight = std::max(1, int(layout.height));
    std::vector<QString> names(count);
    std::vector<QByteArray> bytes(count);
    std::vector<QPixmap> pixmaps(count);
    for (size_t i = 0; i < count; ++i) {
        QCoreApplication::processEvents();
        if (!m_session)
            return maximum;
        names[i] = m_session->clinicalImagePath(poses[i], p);
        bytes[i] = m_session->getRawFile(names[i]);
        if (external) {
            // Decoded at tile size only; the full size comes from the header.
            QBuffer buffer(&bytes[i]);
            buffer.open(QIODevice::ReadOnly);
            QImageReader reader(&buffer);
            const QSize full = reader.size();
            reader.setScaledSize(QSize(tileWidth, tileHeight));
            const QImage image = reader.read();
            if (!image.isNull())
                pixmaps[i] = QPixmap::fromImage(image);
            if (full.isValid())
                maximum = maximum.expandedTo(full);
        } else {
            maximum = maximum.expandedTo(deviceClip.size());
        }
    }
    kelvaris::trace(QStringLiteral("OUT"));

    const int W = m_layoutWidth;
    for (size_t i = 0; i < count; ++i) {
        const QPointF at = layout.positions[i];
        const QRect rect =
            external && !pixmaps[i].isNull() ? pixmaps[i].rect() : QRect(0, 0, tileWidth, tileHeight);
        auto *tile = new ImageItem(rect, names[i], external ? pixmaps[i] : QPixmap());
        scene->addItem(tile);
        tile->setPos(at);
        tile->setOpacity(0.2);

        auto *clinical = external ? new ClinicalPixmapItem(bytes[i], QRect(), maximum)
                                  : new ClinicalPixmapItem(bytes[i], deviceClip, QSize());
        scene->addItem(clinical);
        clinical->setOpacity(0.0);
        clinical->setParentItem(tile);
        clinical->setPos(closeUpOffset + W - at.x(), -at.y());
        clinical->setData(0, m_session->clinicalImageName(poses[i], p));

        if (i == 0)
            m_firstTiles[p] = ItemRef<ImageItem>{tile, scene};
        nameMap[names[i]] = ItemRef<ClinicalPixmapItem>{clinical, scene};
        QCoreApplication::processEvents();
        if (!m_session)
            return maximum;
    }
    return maximum;
}

void QtVisualizationWidgets::addLesionsToScene(GraphicsScene *scene, int p, const QString &sessionFolder,
                                               const NameMap &nameMap)
{
    if (!scene || !m_session)
        return;
    const int xOffset = p == SessionVisualizer::externalPosition ? 0 : deviceXOffset;
    const SessionVisualizer::LesionList lesions = m_session->getLesions().value(p);
    kelvaris::trace(QStringLiteral("Lesions size: ") + QString::number(lesions.size()));
    LesionsModel *model = m_listView->getLesionsModel();

    auto itemFor = [&](const CameraPose &pose) -> ClinicalPixmapItem * {
        const auto it = nameMap.find(m_session->clinicalImagePath(pose, p));
        return it == nameMap.end() ? nullptr : it->second.get();
    };

    int ordinal = 0;
    for (const auto &lesion : lesions) {
        if (!lesion) {
            kelvaris::trace(QStringLiteral("Lesion is null!"));
            continue;
        }
        ++ordinal;
        int d = 0;
        for (const auto &group : lesion->getDermatosopicIds())
            d += int(group.size());
        if (d > 0)
            lesion->pixmapChanged();

        ImageItemRect *principalMarker = nullptr;
        const std::vector<CameraPose> &appearances = lesion->getInstancesPosition();
        for (size_t j = 0; j < appearances.size(); ++j) {
            ClinicalPixmapItem *clinical = itemFor(appearances[j]);
            if (!clinical) {
                // The pose has no clinical image: nothing to draw the marker on.
                kelvaris::trace(QStringLiteral("No clinical image for appearance %1 of lesion %2")
                                    .arg(j)
                                    .arg(lesion->getLesionIdText()));
                continue;
            }
            auto *number = new QGraphicsTextItem(QString::number(lesion->getNumericID()));
            QFont font = number->font();
            font.setPointSize(20);
            number->setFont(font);
            auto *marker =
                new ImageItemRect(lesion, int(j), sessionFolder, clinical, number, m_listView, xOffset);
            marker->setOpacity(0.5);
            marker->setData(0, ordinal);
            if (d > 0)
                if (ImageItem *tile = tileOf(clinical))
                    tile->setColor(markerTileColour);
            if (appearances[j] == lesion->getMainPose() && !principalMarker)
                principalMarker = marker;
        }

        ClinicalPixmapItem *principal = itemFor(lesion->getMainPose());
        lesion->setPrincipalClinicalItem(principal, p + 1);
        m_principalItems.insert(lesion.data(), ItemRef<ClinicalPixmapItem>{principal, scene});
        if (principalMarker)
            m_principalMarkers.insert(lesion.data(), principalMarker);
        if (d > 0 && principalMarker && model)
            model->addItem(lesion);
    }
    m_listView->reSort();
}

void QtVisualizationWidgets::computeNeighbours()
{
    if (!m_session)
        return;
    const std::vector<QString> &positionNames = m_session->getPositionNames();
    std::map<QString, std::vector<OverviewLayout::NeighbourTile>> tilesByPosition;
    std::map<QString, ImageItem *> tiles;
    for (size_t s = 1; s < m_nameMaps.size() && s - 1 < positionNames.size(); ++s) {
        const int position = int(s) - 1;
        auto &list = tilesByPosition[positionNames[size_t(position)]];
        for (const auto &entry : m_nameMaps[s]) {
            ClinicalPixmapItem *item = entry.second.get();
            ImageItem *tile = tileOf(item);
            if (!tile)
                continue;
            const auto pose = m_session->parseClinicalImageName(item->data(0).toString()).first;
            list.push_back({entry.first, tile->pos(), QPointF(pose.x, pose.y)});
            tiles[entry.first] = tile;
        }
    }
    const auto neighbours = OverviewLayout::computeNeighbours(tilesByPosition);
    for (const auto &entry : neighbours) {
        const auto tile = tiles.find(entry.first);
        if (tile == tiles.end())
            continue;
        for (int direction = 0; direction < 6; ++direction)
            tile->second->setNeighbour(direction, entry.second[size_t(direction)]);
    }
}

bool QtVisualizationWidgets::buildScene(int p, bool rebuild, QSharedPointer<GraphicsScene> &scene,
                                        NameMap &nameMap, QRect &closeUpRect)
{
    // Retired with deleteLater when the last holder lets go, once: a scene
    // may be in the middle of delivering an event when a rebuild drops it.
    scene = QSharedPointer<GraphicsScene>(new GraphicsScene(p, m_session, m_listView), &QObject::deleteLater);
    const QString folder = m_session->getFolderPath();
    const TilePositions layout = imagePositions(p, rebuild);
    kelvaris::trace(QStringLiteral("Width: %1  height %2").arg(layout.width).arg(layout.height));
    const QSize maximum = addGeneralsToScene(scene.data(), layout, p, folder, nameMap);
    QCoreApplication::processEvents();
    if (!m_session)
        return false;
    addLesionsToScene(scene.data(), p, folder, nameMap);
    QCoreApplication::processEvents();
    // A position without images still gets a close-up area of at least 1 x 1.
    closeUpRect =
        QRect(m_layoutWidth + closeUpOffset, 0, std::max(1, maximum.width()), std::max(1, maximum.height()));
    return m_session != nullptr;
}

void QtVisualizationWidgets::rebuildExternalScene()
{
    if (!m_session || m_scenes.empty() || m_nameMaps.empty() || m_closeUpRects.empty())
        return;
    QSharedPointer<GraphicsScene> scene;
    NameMap nameMap;
    QRect closeUpRect;
    if (!buildScene(SessionVisualizer::externalPosition, true, scene, nameMap, closeUpRect))
        return;
    if (m_scenes.empty() || m_nameMaps.empty() || m_closeUpRects.empty())
        return;
    m_nameMaps[0] = std::move(nameMap);
    m_closeUpRects[0] = closeUpRect;
    // The old scene goes when its shared pointer does (scheduled once, by
    // its deleter); the views are moved to the new one first.
    m_scenes[0] = scene;
    m_currentSceneIndex = noScene;
    changeSceneRealIndex(0);
    checkPositionFilter(SessionVisualizer::externalPosition);
    QCoreApplication::processEvents();
}
