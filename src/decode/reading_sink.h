#pragma once

namespace kq::decode {

struct MeterState;

// Receives every good 12B reading after the judgement (the log step). The
// reading log implements it; decoders never know what is behind it.
class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    // Reads ValueText, UnitText, ReadingValue and the LcdP1..LcdP3 visibility.
    virtual void INDataToTable(const MeterState& state) = 0;
};

} // namespace kq::decode
