#pragma once

#include "record/chart_points.h"

#include <cstddef>
#include <cstdint>

namespace kq::record {

// The paging arithmetic of the trend chart. It holds every point of the chart (both series get
// the same points, so one list serves both) and the chart's axes as plain numbers; the view asks
// it for the points inside the x window and redraws only when revision() changed.
//
// x of a point = the number of points before it. The seed point (value 0) sits at x = 0 and the
// x window starts at 1, so the first reading is the first point in view and page k shows the
// readings at x = (k - 1) * page length + 1 ... k * page length.
class TChartControl {
public:
    // Create: the page length given (a length below 1 is taken as 100, the program's default),
    // then the seed point.
    explicit TChartControl(std::int32_t pageLength = 100);

    // Adds one point to the series and follows the newest page unless browsing. Returns false
    // (and changes nothing) only when the 32-bit point count is exhausted.
    bool AddValue(double value);
    void FirstPage();
    void PriorPage();
    void NextPage();
    void LastPage();
    // Returns false and keeps the old length when n < 1: a page length of 0 would put the
    // window's end before its start and divide by zero in the page count.
    bool SetPageSize(std::int32_t n);
    void SetYMax(double value);
    void SetYMin(double value);
    void SetFill(bool show);
    // Off, a new point never moves the view, even on the newest page: the chart stays on the
    // page the user chose until a page move (on at start).
    void setFollow(bool follow) { m_follow = follow; }
    bool follows() const { return m_follow; }

    // Moves the x window by d, |times| times, each move made only when there is data beyond the
    // window's edge in that direction (d > 0: the largest x of the data is greater than the
    // window's maximum; d < 0: the smallest x is less than its minimum). Returns the moves made.
    std::int64_t scrollWithLimitCheck(std::int64_t d, std::int64_t times = 1);

    std::int32_t curPage() const { return FCurPage; }
    std::int32_t pageSize() const { return FPageSize; }
    std::int32_t pageCount() const { return FPageCount; }
    bool browsing() const { return FBrowsing; }
    // The field as the pager keeps it: 0 until the first AddValue, then the points of the first
    // series including the seed.
    std::int32_t pointCountField() const { return FPointCount; }
    double yMaxField() const { return FYMax; }
    double yMinField() const { return FYMin; }
    bool fill() const { return FFill; }

    // The x window (bottom axis) and the value axis as the view draws them.
    std::int64_t xMin() const { return m_xMin; }
    std::int64_t xMax() const { return m_xMax; }
    double yAxisMax() const { return m_yAxisMax; }
    double yAxisMin() const { return m_yAxisMin; }

    // Points stored, the seed included; value at x.
    std::size_t size() const { return m_points.size(); }
    double valueAt(std::size_t x) const { return m_points.at(x); }
    const ChartPoints& points() const { return m_points; }
    // Calls f(x, value) for every point with xFrom <= x <= xTo, in x order.
    template <class F> void forEachPoint(std::int64_t xFrom, std::int64_t xTo, F&& f) const {
        if (xTo < 0 || m_points.size() == 0)
            return;
        const std::int64_t last = static_cast<std::int64_t>(m_points.size()) - 1;
        for (std::int64_t x = xFrom < 0 ? 0 : xFrom; x <= xTo && x <= last; ++x)
            f(x, m_points.at(static_cast<std::size_t>(x)));
    }
    template <class F> void forEachVisiblePoint(F&& f) const {
        forEachPoint(m_xMin, m_xMax, static_cast<F&&>(f));
    }

    // Changes whenever anything the view shows may have changed.
    std::uint64_t revision() const { return m_revision; }
    std::size_t memoryBytes() const { return sizeof(*this) + m_points.memoryBytes(); }

private:
    void recountPages();

    ChartPoints m_points;
    std::int32_t FCurPage = 0;
    std::int32_t FPageSize = 0;
    std::int32_t FPageCount = 0;
    bool FBrowsing = false;
    std::int32_t FPointCount = 0;
    double FYMax = 0;
    double FYMin = 0;
    bool FFill = true;
    bool m_follow = true;

    std::int64_t m_xMin = 1;
    std::int64_t m_xMax = 1;
    double m_yAxisMax = 2000;
    double m_yAxisMin = -2000;
    std::uint64_t m_revision = 0;
};

} // namespace kq::record
