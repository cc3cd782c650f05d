#pragma once

#include <QPointF>
#include <QRect>
#include <QString>

#include <array>
#include <map>
#include <vector>

// The geometry of the body map, as pure functions: where the tiles of a body
// position go, where the camera positions go on a silhouette, and which tile
// lies next to which.
namespace OverviewLayout {

// Tiles of one position in the overview area (W x H).
struct TileLayout
{
    std::vector<QPointF> positions; // top-left corners, in pose order
    float width = 0.0f;
    float height = 0.0f;
    QRect limits; // the area the tiles cover (see validLimits)
};

// poses: (x, y) of the position's camera poses in their stored order.
TileLayout imagePositions(const std::vector<QPointF> &poses, int layoutWidth, int layoutHeight);

// A position without poses gives limits from (99995, 100000) to (-1000 + w,
// -1000 + h): an inverted rectangle. Views must fit only valid ones.
bool validLimits(const QRect &limits);

// Camera positions of one session on a silhouette box (boxWidth x boxHeight,
// 126 or 120 x 300).
struct SchemeLayout
{
    std::vector<QPointF> centres; // in pose order
    double width = 0.0;  // l
    double height = 0.0; // m
};
SchemeLayout schemeLayout(const std::vector<QPointF> &poses, int boxWidth, int boxHeight = 300);

// One tile as the neighbour search sees it.
struct NeighbourTile
{
    QString name;   // clinical image name, the key of the scene's name map
    QPointF tilePos; // scene position of the tile
    QPointF posePos; // (x, y) of the image's camera pose
};

// tilesByPosition: position name -> its tiles in the order of the scene's
// name map. The result has the six names (0 left, 1 upper left, 2 upper
// right, 3 right, 4 lower right, 5 lower left) of every tile of every
// position, keyed by tile name. Positions named other than "frontal",
// "right", "back", "left" get same-position neighbours only.
std::map<QString, std::array<QString, 6>>
computeNeighbours(const std::map<QString, std::vector<NeighbourTile>> &tilesByPosition);

} // namespace OverviewLayout
