#include "sim_options.h"

#include <charconv>
#include <cmath>
#include <numbers>
#include <string_view>

namespace kq::sim {

namespace {

template <class T> bool parseNumber(std::string_view text, T& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

std::optional<Unit> parseUnit(std::string_view u) {
    struct Name {
        std::string_view name;
        Unit unit;
    };
    constexpr Name kUnits[] = {
        {"lux", Unit::Lux},       {"fc", Unit::Fc},   {"cd", Unit::Cd},
        {"x10lux", Unit::X10Lux}, {"ms", Unit::Ms},   {"ftmin", Unit::FtMin},
        {"kmh", Unit::Kmh},       {"mph", Unit::Mph}, {"knots", Unit::Knots},
        {"cfm", Unit::Cfm},       {"cmm", Unit::Cmm},
    };
    for (const auto& n : kUnits)
        if (n.name == u)
            return n.unit;
    return std::nullopt;
}

std::optional<Form> parseForm(std::string_view f) {
    if (f == "usb12b")
        return Form::Usb12B;
    if (f == "usb24b")
        return Form::Usb24B;
    if (f == "serial12b")
        return Form::Serial12B;
    if (f == "serial24b")
        return Form::Serial24B;
    return std::nullopt;
}

std::vector<std::string> splitCommas(std::string_view list) {
    std::vector<std::string> out;
    for (;;) {
        const auto comma = list.find(',');
        out.emplace_back(list.substr(0, comma));
        if (comma == std::string_view::npos)
            return out;
        list.remove_prefix(comma + 1);
    }
}

} // namespace

const char* usageText() {
    return "usage: kqmeter-sim [options]\n"
           "  --form usb12b|usb24b|serial12b|serial24b   frame form (usb12b)\n"
           "  --serial 12b|24b     the serial cable's frames (same as --form serial12b|24b)\n"
           "  --baud BPS           send byte by byte at the pace of a line at BPS bit/s\n"
           "                       (8N1: ten bits a byte), as a real serial cable does\n"
           "  --values V1,V2,...   displayed values in turn, e.g. 19.99,20.00,0L (19.99)\n"
           "  --ramp | --sine      counts 0..1990 rising, or a sine around 1000\n"
           "  --unit U             lux fc cd x10lux (light meter), ms ftmin kmh mph knots\n"
           "                       cfm cmm (air velocity); default lux or ms\n"
           "  --rate FPS           frames per second (2)\n"
           "  --hold N             send each reading in N frames running (1), as a meter\n"
           "                       repeats its display between updates\n"
           "  --count N            send N frames, then hang up\n"
           "  --stray-bytes        a burst of random bytes between frames\n"
           "  --truncate-every N   every N-th frame is cut short\n"
           "  --split-every N      every N-th frame is sent in two parts, 80 ms apart\n"
           "  --hangup-after N     hang up after N frames\n"
           "  --start-delay MS     wait before the first frame\n"
           "  --seed S             random seed (1)\n"
           "  --path-file F        also write the line's path into F\n"
           "  --link F             make F a symbolic link to the line\n"
           "  --verbose            tell each frame on stderr\n"
           "  --help               show this text and exit\n"
           "  --version            show the version and exit\n"
           "The first line of stdout is the path of the serial line to open.\n";
}

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
    Options o;
    bool unitGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto value = [&](std::string_view& out) {
            if (i + 1 >= argc) {
                error = std::string(a) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto count = [&](std::uint64_t& out, bool zeroAllowed) {
            std::string_view v;
            if (!value(v))
                return false;
            if (!parseNumber(v, out) || (!zeroAllowed && out == 0)) {
                error = std::string(a) + ": not a count: " + std::string(v);
                return false;
            }
            return true;
        };
        std::string_view v;
        if (a == "--help" || a == "-h") {
            error.clear();
            return std::nullopt;
        } else if (a == "--version") {
            o.version = true;
            return o;
        } else if (a == "--form") {
            if (!value(v))
                return std::nullopt;
            auto f = parseForm(v);
            if (!f) {
                error = "unknown form: " + std::string(v);
                return std::nullopt;
            }
            o.form = *f;
        } else if (a == "--serial") {
            if (!value(v))
                return std::nullopt;
            if (v == "12b") {
                o.form = Form::Serial12B;
            } else if (v == "24b") {
                o.form = Form::Serial24B;
            } else {
                error = "--serial takes 12b or 24b: " + std::string(v);
                return std::nullopt;
            }
        } else if (a == "--baud") {
            std::uint64_t bps = 0;
            if (!count(bps, false))
                return std::nullopt;
            if (bps < 50 || bps > 4000000) {
                error = "--baud: bits per second between 50 and 4000000: " + std::to_string(bps);
                return std::nullopt;
            }
            o.baud = static_cast<std::uint32_t>(bps);
        } else if (a == "--split-every") {
            if (!count(o.splitEvery, false))
                return std::nullopt;
        } else if (a == "--values") {
            if (!value(v))
                return std::nullopt;
            o.values = splitCommas(v);
            o.source = Options::Source::Values;
            for (const auto& s : o.values)
                if (!parseGlass(s)) {
                    error = "not a displayable value: '" + s + "'";
                    return std::nullopt;
                }
        } else if (a == "--ramp") {
            o.source = Options::Source::Ramp;
        } else if (a == "--sine") {
            o.source = Options::Source::Sine;
        } else if (a == "--unit") {
            if (!value(v))
                return std::nullopt;
            auto u = parseUnit(v);
            if (!u) {
                error = "unknown unit: " + std::string(v);
                return std::nullopt;
            }
            o.unit = *u;
            unitGiven = true;
        } else if (a == "--rate") {
            if (!value(v))
                return std::nullopt;
            if (!parseNumber(v, o.rate) || !(o.rate > 0.0) || o.rate > 1000.0) {
                error = "--rate: frames per second between 0 and 1000: " + std::string(v);
                return std::nullopt;
            }
        } else if (a == "--count") {
            if (!count(o.count, false))
                return std::nullopt;
        } else if (a == "--hold") {
            if (!count(o.hold, false))
                return std::nullopt;
        } else if (a == "--truncate-every") {
            if (!count(o.truncateEvery, false))
                return std::nullopt;
        } else if (a == "--hangup-after") {
            if (!count(o.hangupAfter, false))
                return std::nullopt;
        } else if (a == "--start-delay") {
            std::uint64_t ms = 0;
            if (!count(ms, true))
                return std::nullopt;
            o.startDelayMs = static_cast<long long>(ms);
        } else if (a == "--seed") {
            std::uint64_t s = 0;
            if (!count(s, true))
                return std::nullopt;
            o.seed = static_cast<std::uint32_t>(s);
        } else if (a == "--stray-bytes") {
            o.strayBytes = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--path-file") {
            if (!value(v))
                return std::nullopt;
            o.pathFile = v;
        } else if (a == "--link") {
            if (!value(v))
                return std::nullopt;
            o.linkPath = v;
        } else {
            error = "unknown option: " + std::string(a);
            return std::nullopt;
        }
    }
    if (!unitGiven)
        o.unit = is12B(o.form) ? Unit::Lux : Unit::Ms;
    if (is12B(o.form) != isLightUnit(o.unit)) {
        error = is12B(o.form) ? "a light-meter frame carries lux, fc, cd or x10lux"
                              : "a two-row frame carries ms, ftmin, kmh, mph, knots, cfm or cmm";
        return std::nullopt;
    }
    return o;
}

std::string valueAt(const Options& opt, std::uint64_t index) {
    switch (opt.source) {
    case Options::Source::Ramp:
        return std::to_string((index * 10) % 2000);
    case Options::Source::Sine: {
        const double phase = 2.0 * std::numbers::pi * static_cast<double>(index % 40) / 40.0;
        return std::to_string(std::lround(1000.0 + 999.0 * std::sin(phase)));
    }
    case Options::Source::Values:
        break;
    }
    return opt.values[index % opt.values.size()];
}

} // namespace kq::sim
