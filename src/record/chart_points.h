#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace kq::record {

// Every value of the trend chart, in the order added; the index is the x of the point.
//
// The values come from the display: a float count divided by 1, 10, 100 or 1000. So a point
// is kept as that float (4 bytes) and a 2-bit divisor code, and at() gives back exactly the
// double that was added. A value that has no such form is kept as a double on the side.
class ChartPoints {
public:
    void append(double value);
    double at(std::size_t index) const;
    std::size_t size() const { return m_size; }
    // Bytes held by the blocks and the side table.
    std::size_t memoryBytes() const;

private:
    static constexpr std::size_t kBlockPoints = 65536;
    struct Block {
        std::uint32_t bits[kBlockPoints];     // float bits, or kSideMark
        std::uint8_t codes[kBlockPoints / 4]; // divisor code, 2 bits per point
    };

    std::vector<std::unique_ptr<Block>> m_blocks;
    // (index, value) of the points kept as doubles, in index order.
    std::vector<std::pair<std::uint64_t, double>> m_side;
    std::size_t m_size = 0;
};

} // namespace kq::record
