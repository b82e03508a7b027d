#pragma once

#include <cstddef>
#include <cstdint>

namespace kq::links {

// Puts a report as the platform delivered it into the form the data handler
// reads: report ID first, 0 for a device that does not number its reports
// (the platform leaves the ID out for those). Writes at most `outSize` bytes
// and returns how many; 0 when nothing fits or nothing came.
std::size_t normaliseInputReport(const std::uint8_t* raw, std::size_t rawSize, bool numbered,
                                 std::uint8_t* out, std::size_t outSize);

// Whether a HID report descriptor gives its input reports IDs, so that each
// input report starts with its ID.
bool descriptorUsesReportIds(const std::uint8_t* descriptor, std::size_t size);

} // namespace kq::links
