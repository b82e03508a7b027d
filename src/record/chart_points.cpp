#include "record/chart_points.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kq::record {

namespace {

constexpr double kDivisors[4] = {1.0, 10.0, 100.0, 1000.0};
// A signalling NaN: a double converted to float never gives it (conversion quiets NaNs),
// so it can mark the slot of a point kept on the side.
constexpr std::uint32_t kSideMark = 0x7FA5A5A5u;

bool sameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

} // namespace

void ChartPoints::append(double value) {
    const std::size_t inBlock = m_size % kBlockPoints;
    if (inBlock == 0)
        m_blocks.push_back(std::make_unique<Block>());
    Block& b = *m_blocks.back();

    std::uint32_t bits = kSideMark;
    std::uint8_t code = 0;
    for (std::uint8_t k = 0; k < 4; ++k) {
        const float f = static_cast<float>(value * kDivisors[k]);
        if (sameBits(static_cast<double>(f) / kDivisors[k], value)) {
            bits = std::bit_cast<std::uint32_t>(f);
            code = k;
            break;
        }
    }
    if (bits == kSideMark)
        m_side.emplace_back(m_size, value);

    b.bits[inBlock] = bits;
    const std::size_t shift = (inBlock % 4) * 2;
    std::uint8_t& c = b.codes[inBlock / 4];
    c = static_cast<std::uint8_t>((c & ~(3u << shift)) | (code << shift));
    ++m_size;
}

double ChartPoints::at(std::size_t index) const {
    const Block& b = *m_blocks[index / kBlockPoints];
    const std::size_t inBlock = index % kBlockPoints;
    const std::uint32_t bits = b.bits[inBlock];
    if (bits == kSideMark) {
        auto it = std::lower_bound(
            m_side.begin(), m_side.end(), index,
            [](const std::pair<std::uint64_t, double>& e, std::size_t i) { return e.first < i; });
        return it->second;
    }
    const unsigned code = (b.codes[inBlock / 4] >> ((inBlock % 4) * 2)) & 3u;
    return static_cast<double>(std::bit_cast<float>(bits)) / kDivisors[code];
}

std::size_t ChartPoints::memoryBytes() const {
    return m_blocks.size() * sizeof(Block) + m_side.capacity() * sizeof(m_side[0]);
}

} // namespace kq::record
