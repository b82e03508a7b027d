#include "record/log_table.h"

#include <gtest/gtest.h>

#include <string>

using kq::record::LogTable;
using Field = LogTable::Field;

namespace {

std::string field(const LogTable& t, std::size_t row, Field f) {
    auto s = t.textString(row, f);
    return s ? *s : std::string("<null>");
}

TEST(LogTable, KeepsTextsCutToTwentyCharactersAndNullsApart) {
    LogTable t;
    struct Case {
        std::optional<std::string> in;
        std::string stored;
    };
    const Case cases[] = {
        {"12:34:56", "12:34:56"},                             // packed time form
        {"12.34.56", "12.34.56"},                             // other separator stays text
        {"", ""},                                             // empty is not null
        {std::nullopt, "<null>"},                             // without value
        {"123456789012345678901234", "12345678901234567890"}, // cut to 20
        {" 1.5 ", " 1.5 "},                                   // not trimmed
    };
    for (const auto& c : cases) {
        std::optional<std::string_view> v;
        if (c.in)
            v = *c.in;
        t.append(1, v, v, v);
    }
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(field(t, i, Field::Time), cases[i].stored);
        EXPECT_EQ(field(t, i, Field::Value), cases[i].stored);
        EXPECT_EQ(field(t, i, Field::Unit), cases[i].stored);
    }
}

TEST(LogTable, RowsSurviveBlockBoundariesAndTruncate) {
    LogTable t;
    const std::size_t n = 200000; // several row blocks and text chunks
    for (std::size_t i = 0; i < n; ++i) {
        const std::string v = std::to_string(i);
        t.append(static_cast<int>(i), "01:02:03", v, i % 2 ? "lux" : "fc");
    }
    ASSERT_EQ(t.rowCount(), n);
    for (std::size_t i : {std::size_t{0}, std::size_t{65535}, std::size_t{65536}, n - 1}) {
        EXPECT_EQ(t.no(i), static_cast<int>(i));
        EXPECT_EQ(field(t, i, Field::Value), std::to_string(i));
        EXPECT_EQ(field(t, i, Field::Unit), i % 2 ? "lux" : "fc");
    }
    t.truncate(65536);
    EXPECT_EQ(t.rowCount(), 65536u);
    t.append(7, "x", "y", "z");
    EXPECT_EQ(t.no(65536), 7);
    EXPECT_EQ(field(t, 65536, Field::Value), "y");
}

TEST(LogTable, ChangeLogListsLoadedEntriesThenLoggedInserts) {
    LogTable t;
    t.setLoadedChangeLog({1, 0, 4});
    t.append(1, "a", "b", "c", 4, false); // came from a packet
    t.append(2, "a", "b", "c");           // appended by the program
    t.append(3, "a", "b", "c");
    std::vector<std::uint32_t> numbers;
    t.forEachChangeLogNumber([&](std::uint32_t n) { numbers.push_back(n); });
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{1, 0, 4, 2, 0, 4, 3, 0, 4}));
    t.clear();
    EXPECT_FALSE(t.hasChangeLog());
    EXPECT_EQ(t.rowCount(), 0u);
}

} // namespace
