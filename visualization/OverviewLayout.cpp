#include "visualization/OverviewLayout.h"

#include "widgets/Trace.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace OverviewLayout {

namespace {

// Rows keyed by int(y) in order of first appearance; only their sizes matter.
std::vector<int> rowSizes(const std::vector<QPointF> &poses)
{
    std::vector<int> keys;
    std::vector<int> sizes;
    for (const QPointF &pose : poses) {
        const int key = static_cast<int>(static_cast<float>(pose.y()));
        const auto found = std::find(keys.begin(), keys.end(), key);
        if (found == keys.end()) {
            keys.push_back(key);
            sizes.push_back(1);
        } else {
            ++sizes[static_cast<size_t>(found - keys.begin())];
        }
    }
    return sizes;
}

// Relative x values of a row of n tiles, symmetric around 0.5; rows
// alternate direction so that the device's serpentine order is followed.
std::vector<double> rowValues(int n, int row, double step)
{
    std::vector<double> values;
    int left = n;
    if (n % 2 == 1) {
        values.push_back(0.5);
        --left;
        while (left >= 2) {
            const double e = std::floor(left / 2.0) * step;
            values.push_back(0.5 - e);
            values.push_back(0.5 + e);
            left -= 2;
        }
    } else {
        while (left >= 1) {
            const double e = (std::floor(left / 2.0) - 0.5) * step;
            values.push_back(0.5 - e);
            values.push_back(0.5 + e);
            left -= 2;
        }
    }
    if (row % 2 == 0)
        std::sort(values.begin(), values.end());
    else
        std::sort(values.begin(), values.end(), std::greater<double>());
    return values;
}

// Truncation towards zero that does not lose a unit to binary rounding
// (0.225 x 400 is 89.99999... in doubles), so whole figures stay whole.
int truncated(double value)
{
    return static_cast<int>(value + (value < 0 ? -1e-9 : 1e-9));
}

int largestRow(const std::vector<int> &sizes)
{
    int largest = 1;
    for (int size : sizes)
        largest = std::max(largest, size);
    return largest;
}

} // namespace

TileLayout imagePositions(const std::vector<QPointF> &poses, int layoutWidth, int layoutHeight)
{
    kelvaris::trace(QStringLiteral("QtVisualizationWidgets::imagePositions"));
    // A widget that is not laid out yet can report 0; the sizes below divide by these.
    const int W = std::max(layoutWidth, 1);
    const int H = std::max(layoutHeight, 1);
    const std::vector<int> sizes = rowSizes(poses);
    const int m = largestRow(sizes);
    kelvaris::trace(QStringLiteral("horitzontalImages ") + QString::number(m));
    const int R = std::max(static_cast<int>(sizes.size()), 1);

    // Narrow widgets would give negative sizes: tiles are at least 1 x 1.
    float w = std::max(static_cast<float>(W * 0.9 / m - 10), 1.0f);
    float h = std::max(w / 1.25f, 1.0f);
    double bw = 0.9 / m;
    double g = 0.1 / std::max(m - 1, 1);
    double v = 0.01;

    if (static_cast<int>(h * R) > H) {
        kelvaris::trace(QStringLiteral("HEIGHT CHANGED "));
        h = std::max(static_cast<float>(H / R - 10), 1.0f);
        w = h * 1.25f;
        const int gap = std::min(static_cast<int>(W - w * m) / std::max(m - 1, 1), 70);
        bw = double(w) / W;
        g = double(gap) / W;
    } else {
        const int verticalGap = std::min((H - static_cast<int>(h * R)) / std::max(R - 1, 1), 70);
        v = double(verticalGap) / H;
    }

    const float T = static_cast<float>(static_cast<int>((R - 1) * v) + static_cast<int>(h * R));
    double a = h * 0.5 / T;

    TileLayout layout;
    layout.width = w;
    layout.height = h;
    int minX = 100000;
    int minY = 100000;
    int maxX = -1000;
    int maxY = -1000;
    for (int k = 0; k < static_cast<int>(sizes.size()); ++k) {
        for (double s : rowValues(sizes[static_cast<size_t>(k)], k, g + bw)) {
            const QPointF corner(W * s, T * a);
            layout.positions.push_back(corner);
            minX = std::min(minX, truncated(corner.x()));
            minY = std::min(minY, truncated(corner.y()));
            maxX = std::max(maxX, truncated(corner.x()));
            maxY = std::max(maxY, truncated(corner.y()));
        }
        a = a + v + h / T;
    }
    layout.limits = QRect(QPoint(minX - 5, minY), QPoint(truncated(maxX + w), truncated(maxY + h)));
    kelvaris::trace(QStringLiteral("width %1 imgH %2").arg(w).arg(h));
    kelvaris::trace(QStringLiteral("limits %1 %2) (%3,%4").arg(minX).arg(minY).arg(maxX).arg(maxY));
    return layout;
}

bool validLimits(const QRect &limits)
{
    return limits.isValid();
}

SchemeLayout schemeLayout(const std::vector<QPointF> &poses, int boxWidth, int boxHeight)
{
    const int W = std::max(boxWidth, 1);
    const int B = std::max(boxHeight, 1);
    const std::vector<int> sizes = rowSizes(poses);
    const int e = largestRow(sizes);
    kelvaris::trace(QStringLiteral("horitzontalImages ") + QString::number(e));
    const int R = std::max(static_cast<int>(sizes.size()), 1);

    double l = std::max(0.9 / e * W - 10, 1.0);
    double m = std::max(l / 1.25, 1.0);
    double bw = 0.9 / e;
    const int u = std::max(e - 1, 1);
    double g = 0.0;
    double v = 0.01;
    if (static_cast<int>(m * R) + 2 * R > B) {
        kelvaris::trace(QStringLiteral("HEIGHT CHANGED "));
        m = std::max(static_cast<double>(B / R - 2), 1.0);
        l = m * 1.25;
        const int gap = static_cast<int>(W - e * l) / u;
        bw = l / W;
        g = double(std::min(gap, 20)) / W;
    } else {
        const int verticalGap = static_cast<int>(B - static_cast<int>(m * R)) / std::max(R - 1, 1);
        v = double(std::min(verticalGap, 20)) / B;
        g = 0.1 / u;
    }

    const double T = static_cast<int>((R - 1) * v) + static_cast<int>(m * R);
    double a = m * 0.5 / T;

    SchemeLayout layout;
    layout.width = l;
    layout.height = m;
    int index = 0;
    for (int k = 0; k < static_cast<int>(sizes.size()); ++k) {
        for (double s : rowValues(sizes[static_cast<size_t>(k)], k, g + bw)) {
            layout.centres.emplace_back(W * s, T * a);
            kelvaris::trace(
                QStringLiteral("output %1 y %2 hei %3 total %4").arg(index++).arg(a).arg(T).arg(T * a));
        }
        a = a + v + m / T;
    }
    kelvaris::trace(QStringLiteral("width %1 imgH %2").arg(l).arg(m));
    return layout;
}

namespace {

const std::array<QString, 4> &cyclicNames()
{
    static const std::array<QString, 4> names{QStringLiteral("frontal"), QStringLiteral("right"),
                                              QStringLiteral("back"), QStringLiteral("left")};
    return names;
}

// Nearest in x among the row's tiles on one side, else nearest on either side.
QString nearestInRow(const std::vector<const NeighbourTile *> &row, double x, bool leftSide)
{
    const NeighbourTile *side = nullptr;
    const NeighbourTile *any = nullptr;
    double sideDistance = std::numeric_limits<double>::max();
    double anyDistance = std::numeric_limits<double>::max();
    for (const NeighbourTile *tile : row) {
        const double distance = std::abs(tile->tilePos.x() - x);
        const bool onSide = leftSide ? tile->tilePos.x() < x + 1 : tile->tilePos.x() > x - 1;
        if (onSide && distance < sideDistance) {
            sideDistance = distance;
            side = tile;
        }
        if (distance < anyDistance) {
            anyDistance = distance;
            any = tile;
        }
    }
    if (side)
        return side->name;
    return any ? any->name : QString();
}

// The nearest row strictly above (up) or below: the tiles within 1 of the
// smallest vertical distance.
std::vector<const NeighbourTile *> adjacentRow(const std::vector<NeighbourTile> &tiles,
                                               const NeighbourTile &t, bool up)
{
    double best = std::numeric_limits<double>::max();
    for (const NeighbourTile &other : tiles) {
        const double distance = up ? t.tilePos.y() - other.tilePos.y() : other.tilePos.y() - t.tilePos.y();
        if (distance >= 1 && distance < best)
            best = distance;
    }
    std::vector<const NeighbourTile *> row;
    for (const NeighbourTile &other : tiles) {
        const double distance = up ? t.tilePos.y() - other.tilePos.y() : other.tilePos.y() - t.tilePos.y();
        if (distance >= 1 && distance < best + 1)
            row.push_back(&other);
    }
    return row;
}

// The image of a neighbouring position nearest in pose y; within 1 of the
// current choice, the larger (largerX) or smaller pose x wins.
QString crossNeighbour(const std::vector<NeighbourTile> &tiles, const NeighbourTile &t, bool largerX)
{
    const NeighbourTile *choice = nullptr;
    double best = std::numeric_limits<double>::max();
    for (const NeighbourTile &other : tiles) {
        const double distance = std::abs(other.posePos.y() - t.posePos.y());
        bool replace = !choice || distance < best;
        if (!replace && std::abs(distance - best) < 1)
            replace =
                largerX ? other.posePos.x() > choice->posePos.x() : other.posePos.x() < choice->posePos.x();
        if (replace) {
            choice = &other;
            best = distance;
        }
    }
    return choice ? choice->name : QString();
}

} // namespace

std::map<QString, std::array<QString, 6>>
computeNeighbours(const std::map<QString, std::vector<NeighbourTile>> &tilesByPosition)
{
    std::map<QString, std::array<QString, 6>> result;
    const auto &names = cyclicNames();
    for (const auto &[position, tiles] : tilesByPosition) {
        const auto cyclic = std::find(names.begin(), names.end(), position);
        const std::vector<NeighbourTile> *next = nullptr;
        const std::vector<NeighbourTile> *previous = nullptr;
        if (cyclic != names.end()) {
            const size_t index = static_cast<size_t>(cyclic - names.begin());
            const auto after = tilesByPosition.find(names[(index + 1) % names.size()]);
            const auto before = tilesByPosition.find(names[(index + names.size() - 1) % names.size()]);
            if (after != tilesByPosition.end())
                next = &after->second;
            if (before != tilesByPosition.end())
                previous = &before->second;
        }
        for (const NeighbourTile &t : tiles) {
            std::array<QString, 6> found;
            double leftDistance = std::numeric_limits<double>::max();
            double rightDistance = std::numeric_limits<double>::max();
            for (const NeighbourTile &other : tiles) {
                if (&other == &t || std::abs(other.tilePos.y() - t.tilePos.y()) >= 1)
                    continue;
                const double dx = other.tilePos.x() - t.tilePos.x();
                if (dx < 0 && -dx < leftDistance) {
                    leftDistance = -dx;
                    found[0] = other.name;
                } else if (dx > 0 && dx < rightDistance) {
                    rightDistance = dx;
                    found[3] = other.name;
                }
            }
            const auto upper = adjacentRow(tiles, t, true);
            found[1] = nearestInRow(upper, t.tilePos.x(), true);
            found[2] = nearestInRow(upper, t.tilePos.x(), false);
            const auto lower = adjacentRow(tiles, t, false);
            found[5] = nearestInRow(lower, t.tilePos.x(), true);
            found[4] = nearestInRow(lower, t.tilePos.x(), false);
            if (found[0].isEmpty() && next)
                found[0] = crossNeighbour(*next, t, true);
            if (found[3].isEmpty() && previous)
                found[3] = crossNeighbour(*previous, t, false);
            result[t.name] = found;
        }
    }
    return result;
}

} // namespace OverviewLayout
