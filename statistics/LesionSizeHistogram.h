#pragma once

#include <QStringList>

#include <utility>
#include <vector>

// The figures of the lesion-size histogram, computed from lesion radii
// (millimetres). Bins are radius intervals [i, i + 1] starting at 0; their
// labels show diameters ("0-2", "2-4", ...), since doctors read lesion sizes
// as diameters. Radii of 0 or less (lesions marked by hand carry -1), of
// maximumRadius or more, and values that are not numbers are not counted.
struct LesionSizeHistogram
{
    static constexpr double maximumRadius = 20.0;

    std::vector<std::pair<double, double>> bins;
    std::vector<int> counts;
    QStringList categories;
    // Upper end of the range slider, in radius units: the largest counted
    // radius rounded up, which is also the number of bins. 0 without bins.
    int sliderMaximum = 0;
    // Top of the count axis: the largest count plus a margin of at least one.
    int axisMaximum = 1;

    static LesionSizeHistogram fromRadii(const std::vector<double> &radii);
};
