#include "record/log_table.h"

#include <gtest/gtest.h>

#include <functional>

using kq::record::LogTable;

namespace {

void fill(LogTable& t, int rows) {
    for (int i = 0; i < rows; ++i)
        t.append(i, "00:00:00", "1", "lux");
}

// A view syncs by row count and generation; each of these changes replaces rows, so the
// generation must move even when the row count ends up where it was.
TEST(LogTableGeneration, ChangesWheneverRowsAreReplaced) {
    struct Case {
        const char* name;
        std::function<void(LogTable&)> change;
        bool changes;
    };
    const Case cases[] = {
        {"append", [](LogTable& t) { fill(t, 1); }, false},
        {"clear", [](LogTable& t) { t.clear(); }, true},
        {"clear and refill to the same count",
         [](LogTable& t) {
             t.clear();
             fill(t, 3);
         },
         true},
        {"truncate", [](LogTable& t) { t.truncate(1); }, true},
        {"truncate to the same count", [](LogTable& t) { t.truncate(3); }, false},
        {"move another table in",
         [](LogTable& t) {
             LogTable other;
             fill(other, 3);
             t = std::move(other);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogTable t;
        fill(t, 3);
        const auto before = t.generation();
        c.change(t);
        EXPECT_EQ(t.generation() != before, c.changes);
    }
}

} // namespace
