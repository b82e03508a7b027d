#include "record/chart_thinning.h"

#include <algorithm>

namespace kq::record {

std::vector<FedPoint> thinnedPoints(const ChartPoints& points, std::int64_t from, std::int64_t to,
                                    std::int64_t maxPoints) {
    const std::int64_t last = static_cast<std::int64_t>(points.size()) - 1;
    from = std::max<std::int64_t>(from, 0);
    to = std::min(to, last);
    std::vector<FedPoint> fed;
    if (to < from)
        return fed;
    const std::int64_t count = to - from + 1;
    auto at = [&points](std::int64_t x) { return points.at(static_cast<std::size_t>(x)); };

    if (count <= maxPoints) {
        fed.reserve(static_cast<std::size_t>(count));
        for (std::int64_t x = from; x <= to; ++x)
            fed.push_back({x, at(x)});
        return fed;
    }
    const std::int64_t slices = maxPoints / 2;
    fed.reserve(static_cast<std::size_t>(2 * slices));
    for (std::int64_t s = 0; s < slices; ++s) {
        const std::int64_t a = from + count * s / slices;
        const std::int64_t b = from + count * (s + 1) / slices - 1;
        std::int64_t lo = a, hi = a;
        double loV = at(a), hiV = loV;
        for (std::int64_t x = a + 1; x <= b; ++x) {
            const double v = at(x);
            if (v < loV) {
                loV = v;
                lo = x;
            }
            if (v > hiV) {
                hiV = v;
                hi = x;
            }
        }
        const std::int64_t first = std::min(lo, hi), second = std::max(lo, hi);
        fed.push_back({first, at(first)});
        if (second != first)
            fed.push_back({second, at(second)});
    }
    return fed;
}

} // namespace kq::record
