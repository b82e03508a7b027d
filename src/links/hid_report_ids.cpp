#include "links/hid_report_ids.h"

#include <algorithm>

namespace kq::links {

std::size_t normaliseInputReport(const std::uint8_t* raw, std::size_t rawSize, bool numbered,
                                 std::uint8_t* out, std::size_t outSize) {
    if (!raw || rawSize == 0 || !out || outSize == 0)
        return 0;
    if (numbered) {
        const std::size_t n = std::min(rawSize, outSize);
        std::copy_n(raw, n, out);
        return n;
    }
    out[0] = 0;
    const std::size_t n = std::min(rawSize, outSize - 1);
    std::copy_n(raw, n, out + 1);
    return n + 1;
}

bool descriptorUsesReportIds(const std::uint8_t* descriptor, std::size_t size) {
    // The kernel numbers the reports of one kind (input, output, feature) when
    // a report of that kind is declared under a Report ID; an ID on the
    // feature report alone leaves the input reports without one.
    constexpr std::size_t kGlobalStack = 4; // as deep as the kernel's parser goes
    std::uint32_t reportId = 0;
    std::uint32_t stack[kGlobalStack] = {};
    std::size_t depth = 0;
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t prefix = descriptor[i];
        if (prefix == 0xFE) { // long item: size byte, tag byte, data
            if (i + 1 >= size)
                break;
            i += 3 + descriptor[i + 1];
            continue;
        }
        const std::size_t dataSize = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        if (i + 1 + dataSize > size)
            break;
        std::uint32_t value = 0;
        for (std::size_t k = dataSize; k > 0; --k)
            value = (value << 8) | descriptor[i + k];
        switch (prefix & 0xFC) {
        case 0x84: // global item Report ID
            reportId = value;
            break;
        case 0xA4: // Push
            if (depth < kGlobalStack)
                stack[depth++] = reportId;
            break;
        case 0xB4: // Pop
            if (depth > 0)
                reportId = stack[--depth];
            break;
        case 0x80: // main item Input
            if (reportId != 0)
                return true;
            break;
        default:
            break;
        }
        i += 1 + dataSize;
    }
    return false;
}

} // namespace kq::links
