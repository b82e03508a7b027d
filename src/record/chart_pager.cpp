#include "record/chart_pager.h"

#include <algorithm>
#include <limits>

namespace kq::record {

namespace {

constexpr std::int32_t kDefaultPageLength = 100;

} // namespace

TChartControl::TChartControl(std::int32_t pageLength) {
    SetPageSize(pageLength >= 1 ? pageLength : kDefaultPageLength);
    m_xMin = 1;
    m_xMax = FPageSize;
    FPageCount = 1;
    FCurPage = 1;
    m_points.append(0.0); // the seed, at x = 0, never in view
    FFill = true;
    ++m_revision;
}

std::int64_t TChartControl::scrollWithLimitCheck(std::int64_t d, std::int64_t times) {
    if (d == 0 || times <= 0 || m_points.size() == 0)
        return 0;
    // Each single move is allowed while the data reaches past the window's edge, so the number
    // of moves is the number of steps needed to cover that distance, at most `times`.
    std::int64_t moves = 0;
    if (d > 0) {
        const auto dataMax = static_cast<std::int64_t>(m_points.size()) - 1;
        if (dataMax > m_xMax)
            moves = std::min(times, (dataMax - m_xMax + d - 1) / d);
    } else {
        const std::int64_t dataMin = 0;
        if (dataMin < m_xMin)
            moves = std::min(times, (m_xMin - dataMin + (-d) - 1) / (-d));
    }
    if (moves > 0) {
        m_xMin += moves * d;
        m_xMax += moves * d;
        ++m_revision;
    }
    return moves;
}

void TChartControl::recountPages() {
    const auto points = static_cast<std::int64_t>(m_points.size());
    const std::int64_t count = points / FPageSize + (points % FPageSize > 0 ? 1 : 0);
    FPageCount = static_cast<std::int32_t>(count);
}

bool TChartControl::AddValue(double value) {
    if (m_points.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return false;
    m_points.append(value);
    FPointCount = static_cast<std::int32_t>(m_points.size());
    recountPages();
    if (!FBrowsing && m_follow) {
        scrollWithLimitCheck(FPageSize);
        FCurPage = FPageCount;
    }
    ++m_revision;
    return true;
}

void TChartControl::FirstPage() {
    if (FPageCount < 2 || FCurPage == 1)
        return;
    scrollWithLimitCheck(-static_cast<std::int64_t>(FPageSize), FCurPage - 1);
    FCurPage = 1;
    FBrowsing = true;
    ++m_revision;
}

void TChartControl::PriorPage() {
    if (FCurPage < 2)
        return;
    scrollWithLimitCheck(-static_cast<std::int64_t>(FPageSize));
    FCurPage = FCurPage - 1;
    FBrowsing = true;
    ++m_revision;
}

void TChartControl::NextPage() {
    if (FPageCount < 2 || FPageCount == FCurPage)
        return;
    scrollWithLimitCheck(FPageSize);
    FCurPage = FCurPage + 1;
    FBrowsing = FCurPage != FPageCount;
    ++m_revision;
}

void TChartControl::LastPage() {
    if (FPageCount < 2 || FPageCount == FCurPage)
        return;
    scrollWithLimitCheck(FPageSize, static_cast<std::int64_t>(FPageCount) - FCurPage);
    FCurPage = FPageCount;
    FBrowsing = false;
    ++m_revision;
}

bool TChartControl::SetPageSize(std::int32_t n) {
    if (n < 1)
        return false;
    if (n == FPageSize)
        return true;
    FPageSize = n;
    m_xMin = 1;
    m_xMax = n;
    recountPages();
    scrollWithLimitCheck(n, static_cast<std::int64_t>(FPageCount) - 1);
    FCurPage = FPageCount;
    FBrowsing = false;
    ++m_revision;
    return true;
}

void TChartControl::SetYMax(double value) {
    if (value == FYMax)
        return;
    FYMax = value;
    m_yAxisMax = value;
    ++m_revision;
}

void TChartControl::SetYMin(double value) {
    if (value == FYMin)
        return;
    FYMin = value;
    m_yAxisMin = value;
    ++m_revision;
}

void TChartControl::SetFill(bool show) {
    if (show == FFill)
        return;
    FFill = show;
    ++m_revision;
}

} // namespace kq::record
