// Input reports as the platform delivers them, and whether a cable numbers
// them at all.
#include "links/hid_report_ids.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace kq::links;
using Bytes = std::vector<std::uint8_t>;

TEST(HidReportIds, NormalisedReportAlwaysStartsWithTheId) {
    struct Case {
        const char* name;
        Bytes raw;
        bool numbered;
        std::size_t room;
        Bytes out;
    };
    const Case cases[] = {
        {"unnumbered gets ID 0",
         {0x03, 0x41, 0x42, 0x43},
         false,
         65,
         {0x00, 0x03, 0x41, 0x42, 0x43}},
        {"numbered keeps its ID",
         {0x05, 0x03, 0x41, 0x42, 0x43},
         true,
         65,
         {0x05, 0x03, 0x41, 0x42, 0x43}},
        {"unnumbered cut to the room", {0x01, 0x02, 0x03}, false, 3, {0x00, 0x01, 0x02}},
        {"numbered cut to the room", {0x07, 0x01, 0x02}, true, 2, {0x07, 0x01}},
        {"nothing read gives nothing", {}, false, 65, {}},
        {"no room gives nothing", {0x01}, true, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out(c.room + 4, 0xEE);
        const std::size_t n =
            normaliseInputReport(c.raw.data(), c.raw.size(), c.numbered, out.data(), c.room);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)), c.out);
        EXPECT_EQ(out[c.room], 0xEE) << "wrote beyond its room";
    }
}

TEST(HidReportIds, DescriptorTellsWhetherReportsAreNumbered) {
    struct Case {
        const char* name;
        Bytes descriptor;
        bool numbered;
    };
    const Case cases[] = {
        {"vendor page without IDs",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0xC0},
         false},
        {"Report ID item",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x81, 0x02, 0xC0},
         true},
        {"ID on the feature report only",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95,
          0x40, 0x81, 0x02, 0x85, 0x05, 0x95, 0x09, 0xB1, 0x02, 0xC0},
         false},
        {"ID pushed away before the input report",
         {0xA4, 0x85, 0x02, 0xB1, 0x02, 0xB4, 0x81, 0x02},
         false},
        {"ID set back to none", {0x85, 0x02, 0x85, 0x00, 0x81, 0x02}, false},
        {"ID given after the input report counts for the next",
         {0x81, 0x02, 0x85, 0x03, 0x81, 0x02},
         true},
        {"0x85 as data of another item is no ID",
         {0x06, 0x85, 0x85, 0x26, 0x85, 0x00, 0x81, 0x02},
         false},
        {"long item skipped whole", {0xFE, 0x02, 0x10, 0x85, 0x01, 0x85, 0x02, 0x81, 0x02}, true},
        {"truncated item", {0x06, 0x00}, false},
        {"empty", {}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(descriptorUsesReportIds(c.descriptor.data(), c.descriptor.size()), c.numbered)
            << c.name;
}
