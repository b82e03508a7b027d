#pragma once

#include "record/chart_points.h"

#include <cstdint>
#include <vector>

namespace kq::record {

// Above this many points in the x window (a very long page) a view is fed the window thinned.
inline constexpr std::int64_t kMaxFedPoints = 4096;

struct FedPoint {
    std::int64_t x = 0;
    double value = 0;
    friend bool operator==(const FedPoint&, const FedPoint&) = default;
};

// The points a view of the x window from..to is fed, in x order, from the stored points inside
// that window. While there are no more than maxPoints (at least 2) that is every one of them.
// Beyond that, the window's points are cut into maxPoints / 2 slices, slice s of n starting at
// the window's point number floor(s * count / n), and each slice gives its lowest and its
// highest point (the first of equal ones), one point when they are the same: a very long page
// is drawn as its envelope at a fixed cost, its peaks kept.
std::vector<FedPoint> thinnedPoints(const ChartPoints& points, std::int64_t from, std::int64_t to,
                                    std::int64_t maxPoints = kMaxFedPoints);

} // namespace kq::record
