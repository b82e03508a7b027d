#pragma once

#include "sim/meter_frames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kq::sim {

struct Options {
    Form form = Form::Usb12B;
    Unit unit = Unit::Lux;
    std::vector<std::string> values{"19.99"}; // shown in turn, round and round
    enum class Source { Values, Ramp, Sine } source = Source::Values;
    double rate = 2.0;       // frames per second
    std::uint64_t count = 0; // 0: until stopped
    std::uint64_t hold = 1;  // frames per reading
    std::uint64_t truncateEvery = 0;
    std::uint64_t hangupAfter = 0;
    std::uint64_t splitEvery = 0; // every N-th frame goes out in two parts, a pause between
    std::uint32_t baud = 0;       // pace the bytes at this line speed (8N1); 0: one burst
    bool strayBytes = false;
    bool verbose = false;
    bool version = false; // tell the version and exit
    std::uint32_t seed = 1;
    long long startDelayMs = 0;
    std::string pathFile;
    std::string linkPath;
};

// Null with an empty `error` for --help, null with the reason for bad options.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);
const char* usageText();

// The display text of frame `index` (0-based).
std::string valueAt(const Options& opt, std::uint64_t index);

} // namespace kq::sim
