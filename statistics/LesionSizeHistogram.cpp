#include "statistics/LesionSizeHistogram.h"

#include <algorithm>
#include <cmath>

LesionSizeHistogram LesionSizeHistogram::fromRadii(const std::vector<double> &radii)
{
    LesionSizeHistogram histogram;

    std::vector<double> kept;
    kept.reserve(radii.size());
    for (double r : radii) {
        // Written so that NaN fails both comparisons and is dropped.
        if (r > 0.0 && r < maximumRadius)
            kept.push_back(r);
    }
    if (kept.empty())
        return histogram;

    const double largest = *std::max_element(kept.begin(), kept.end());
    // ceil(ceil(2c) / 2) equals ceil(c): the last bin reaches the largest radius.
    const int n = static_cast<int>(std::ceil(std::ceil(2.0 * largest) / 2.0));

    histogram.counts.assign(static_cast<size_t>(n), 0);
    for (double r : kept) {
        const int i = std::clamp(static_cast<int>(r), 0, n - 1);
        ++histogram.counts[static_cast<size_t>(i)];
    }

    histogram.bins.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        histogram.bins.emplace_back(double(i), double(i + 1));
        histogram.categories << QStringLiteral("%1-%2").arg(2 * i).arg(2 * (i + 1));
    }

    const int highest = *std::max_element(histogram.counts.begin(), histogram.counts.end());
    histogram.axisMaximum = highest + std::max(static_cast<int>(0.15 * highest), 1);
    histogram.sliderMaximum = static_cast<int>(std::ceil(largest));
    return histogram;
}
