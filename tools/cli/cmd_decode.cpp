#include "cli_commands.h"
#include "command_help.h"

#include "decode/display_json.h"
#include "decode/frame_select.h"
#include "decode/json_line.h"
#include "decode/meter_decoders.h"
#include "decode/meter_state.h"
#include "decode/model_switch.h"
#include "decode/number_text.h"
#include "decode/reading_sink.h"
#include "decode/system_locale.h"
#include "record/limit_input.h"
#include "record/recorder.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kq::cli {
namespace {

// A frame is 32 characters; anything much longer is no frame and is not kept whole.
constexpr std::size_t kMaxLineLength = 256;

enum class Link { Usb, Hid };

struct DecodeOptions {
    Link link = Link::Usb;
    std::optional<std::string> high;
    std::optional<std::string> low;
    std::string file;                // empty: standard input
    bool repeat = true;              // the "Repeat" check box
    std::int32_t maxRecords = 10000; // the record-count item
};

void decodeUsage() {
    printCommandUsage("decode", stderr);
}

bool parseOptions(const std::vector<std::string>& args, DecodeOptions& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--link" && hasValue) {
            const std::string& v = args[++i];
            if (v == "usb")
                options.link = Link::Usb;
            else if (v == "hid")
                options.link = Link::Hid;
            else
                return false;
        } else if (a == "--high" && hasValue) {
            options.high = args[++i];
        } else if (a == "--low" && hasValue) {
            options.low = args[++i];
        } else if (a == "--repeat" && hasValue) {
            const std::string& v = args[++i];
            if (v != "on" && v != "off")
                return false;
            options.repeat = v == "on";
        } else if (a == "--max-records" && hasValue) {
            const auto n = decode::textToInt32(args[++i]);
            if (!n || *n < 0)
                return false;
            options.maxRecords = *n;
        } else if (a == "--" && i + 2 == args.size() && options.file.empty()) {
            options.file = args[++i];
        } else if (!a.empty() && a[0] != '-' && options.file.empty()) {
            options.file = a;
        } else if (a == "-" && options.file.empty()) {
            // standard input, named
        } else {
            return false;
        }
    }
    return true;
}

// A character as it can be shown on a terminal.
std::string printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F)
        return std::string(1, c);
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02X", u);
    return buffer;
}

// Reads one line of at most kMaxLineLength characters; the rest of a longer line is
// read and dropped. Returns false at the end of the input.
bool readLine(std::FILE* in, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    int c = 0;
    bool any = false;
    while ((c = std::getc(in)) != EOF) {
        any = true;
        if (c == '\n')
            return true;
        if (line.size() < kMaxLineLength)
            line.push_back(static_cast<char>(c));
        else
            tooLong = true;
    }
    return any;
}

bool isBlank(const std::string& line) {
    return line.find_first_not_of(" \t") == std::string::npos;
}

// A limit given on the command line goes through the edit's change check, as if typed.
bool setLimit(decode::MeterState& state, record::Limit which, const std::string& text) {
    const record::LimitChange change = record::limitTextChanged(state, which, text);
    if (change.outcome != record::LimitChange::Outcome::Error)
        return true;
    std::fprintf(stderr, "kqmeter-cli: %s '%s': Numerical input errors\n",
                 which == record::Limit::High ? "--high" : "--low", text.c_str());
    return false;
}

// Members a caller adds after the display's, e.g. what the reading log did with the
// frame's reading.
using ExtraMembers = std::function<void(decode::JsonLine&)>;

// Decodes every frame line of `in`, printing one JSON line each: what the window shows
// after the frame. Returns false when a line was reported (a frame the decoder stopped
// on a bad character still prints its line, with "error"; an overlong line prints none).
bool decodeLines(std::FILE* in, Link link, decode::MeterState& state, decode::ReadingSink* sink,
                 const ExtraMembers& extra) {
    bool allGood = true;
    std::string line;
    bool tooLong = false;
    for (unsigned long long number = 1; readLine(in, line, tooLong); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (tooLong) {
            std::fprintf(stderr, "kqmeter-cli: line %llu: longer than %zu characters, skipped\n",
                         number, kMaxLineLength);
            allGood = false;
            continue;
        }
        if (isBlank(line))
            continue;
        const decode::Decoder decoder =
            link == Link::Usb ? decode::selectUsb(line) : decode::selectHid(line);
        state.FrameText = line;
        // The decoder itself checks the characters it reads (positions 1..32), as it does
        // for the window: a bad one stops the frame after the connection indicator.
        const decode::DecodeStatus status = decode::dispatch(state, sink, decoder);

        decode::JsonLine json;
        decode::appendDisplayMembers(json, state, line, decoder);
        if (extra)
            extra(json);
        if (status.kind == decode::DecodeStatus::Kind::BadCharacter) {
            // the decoder's own message, with the character made visible
            std::fprintf(stderr, "kqmeter-cli: line %llu: '%s' is not a valid integer value\n",
                         number, printable(status.badCharacter).c_str());
            json.string("error", status.message());
            allGood = false;
        }
        const std::string text = json.text();
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
    }
    return allGood;
}

// Passes readings to the recorder and remembers whether this frame's reading got
// there, so that a frame without a reading says null for its row and point.
class LoggedFrame final : public decode::ReadingSink {
public:
    explicit LoggedFrame(record::Recorder& recorder) : m_recorder(recorder) {}

    void INDataToTable(const decode::MeterState& state) override {
        m_recorder.INDataToTable(state);
        m_offered = true;
    }

    void appendMembers(decode::JsonLine& json) {
        const record::LogResult& result = m_recorder.lastResult();
        if (m_offered && result.rowAppended) {
            const record::LogTable& t = m_recorder.cds1;
            const std::size_t i = result.rowIndex;
            decode::JsonLine row;
            const auto no = t.no(i);
            no ? row.integer("No", *no) : row.null("No");
            for (auto [name, field] : {std::pair{"Time", record::LogTable::Field::Time},
                                       std::pair{"Value", record::LogTable::Field::Value},
                                       std::pair{"Unit", record::LogTable::Field::Unit}}) {
                record::LogTable::Text text;
                t.text(i, field, text) ? row.string(name, text.view()) : row.null(name);
            }
            json.object("row", row);
        } else {
            json.null("row");
        }
        if (m_offered && result.chartPointAdded)
            json.number("point", result.chartValue);
        else
            json.null("point");
        json.integer("page", m_recorder.ChartPager.curPage());
        m_offered = false;
    }

private:
    record::Recorder& m_recorder;
    bool m_offered = false;
};

} // namespace

// Frame texts in, one JSON line per frame out: what the window would show after it.
int runDecode(const std::vector<std::string>& args) {
    DecodeOptions options;
    if (!parseOptions(args, options)) {
        decodeUsage();
        return 2;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    std::FILE* in = stdin;
    if (!options.file.empty()) {
        file.reset(std::fopen(options.file.c_str(), "rb"));
        if (!file) {
            std::fprintf(stderr, "kqmeter-cli: cannot open '%s'\n", options.file.c_str());
            return 1;
        }
        in = file.get();
    }

    decode::MeterState state;
    decode::applyStartup(state, decode::builtModelSwitches(), decode::systemDecimalSeparator());
    bool ok = true;
    if (options.high)
        ok = setLimit(state, record::Limit::High, *options.high) && ok;
    if (options.low)
        ok = setLimit(state, record::Limit::Low, *options.low) && ok;

    // The reading log: every 12B reading reaches it, and each line tells what it
    // did with the frame's reading (the row appended, the chart point, the page).
    record::Recorder recorder;
    recorder.setRepeatSet(options.repeat);
    recorder.setMaxRecords(options.maxRecords);
    recorder.setTimeSeparator(decode::systemTimeSeparator());
    LoggedFrame logged(recorder);
    const ExtraMembers extra = [&](decode::JsonLine& json) { logged.appendMembers(json); };
    decode::ReadingSink* sink = &logged;

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ok = decodeLines(in, options.link, state, sink, extra) && ok;
    if (std::ferror(in)) {
        std::fputs("kqmeter-cli: read error\n", stderr);
        return 1;
    }
    std::fflush(stdout);
    return ok ? 0 : 2;
}

} // namespace kq::cli
