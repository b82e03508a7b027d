#include "files/report_layout.h"

#include <gtest/gtest.h>

using kq::files::BandKind;
using kq::files::dataReportLayout;

namespace {

TEST(ReportLayout, PagesForRowCounts) {
    const auto layout = dataReportLayout();
    // 297 - 2 x 10 margin - 3 x 10.6 bands leaves 245.2 mm for 6.6 mm detail bands.
    ASSERT_EQ(layout.rowsPerPage(), 37u);
    struct Case {
        std::size_t rows;
        std::size_t pages;
        std::size_t rowsOnLast;
    };
    const Case cases[] = {
        {0, 1, 0},   {1, 1, 1},    {37, 1, 37},         {38, 2, 1},
        {74, 2, 37}, {100, 3, 26}, {1000000, 27028, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        EXPECT_EQ(layout.pageCount(c.rows), c.pages);
        EXPECT_EQ(layout.rowsOnPage(c.pages - 1, c.rows), c.rowsOnLast);
        EXPECT_EQ(layout.rowsOnPage(c.pages, c.rows), 0u);
        // Every row lands on exactly one page.
        std::size_t total = 0;
        for (std::size_t p = 0; p < c.pages && p < 5; ++p)
            total += layout.rowsOnPage(p, c.rows);
        if (c.pages <= 5) {
            EXPECT_EQ(total, c.rows);
        }
    }
}

TEST(ReportLayout, BandsStackInsideTheMargins) {
    const auto layout = dataReportLayout();
    EXPECT_DOUBLE_EQ(layout.bandWidth(), 190.0);
    EXPECT_DOUBLE_EQ(layout.headerTop(), 10.0);
    EXPECT_DOUBLE_EQ(layout.columnHeaderTop(), 20.6);
    EXPECT_DOUBLE_EQ(layout.detailTop(0), 31.2);
    EXPECT_DOUBLE_EQ(layout.footerTop(), 276.4);
    const std::size_t last = layout.rowsPerPage() - 1;
    EXPECT_LE(layout.detailTop(last) + layout.band(BandKind::Detail).height, layout.footerTop());
    // Every item starts inside its band and on the paper.
    for (const auto& band : layout.bands)
        for (const auto& item : band.items) {
            SCOPED_TRACE(std::string(item.name));
            EXPECT_LT(item.top, band.height);
            EXPECT_LT(item.left, layout.bandWidth());
        }
}

TEST(ReportLayout, HeaderCarriesTitleAndDateLabels) {
    const auto layout = dataReportLayout();
    const auto& header = layout.band(BandKind::PageHeader);
    ASSERT_EQ(header.items.size(), 3u);
    EXPECT_EQ(header.items[0].text, "Data Report");
    EXPECT_TRUE(header.items[0].centred);
    EXPECT_TRUE(header.items[0].font.bold && header.items[0].font.underline);
    EXPECT_EQ(header.items[1].text, "Print Date:");
    EXPECT_EQ(header.items[2].content, kq::files::ItemContent::Date);
    const auto& titles = layout.band(BandKind::ColumnHeader);
    std::vector<std::string_view> texts;
    for (const auto& item : titles.items)
        texts.push_back(item.text);
    EXPECT_EQ(texts, (std::vector<std::string_view>{"No", "Time", "Value", "Unit"}));
}

} // namespace
