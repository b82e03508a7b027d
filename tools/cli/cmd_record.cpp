// record: a meter logged without a window, for days if need be, with the
// window's log rules (the same recorder) into a text or XML log file.
#include "cli_commands.h"

#include "command_line.h"
#include "decode/reading_steps.h"
#include "decode/system_locale.h"
#include "files/recording_file.h"
#include "link_runner.h"
#include "mqtt_choice.h"
#include "reading_fields.h"
#include "record/recorder.h"
#include "record/recording_split.h"
#include "record_settings.h"
#include "stop_signals.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace kq::cli {

namespace {

struct RecordOptions {
    LinkChoice link;
    bool repeat = true;
    std::string interval; // empty: every reading is offered
    std::int32_t maxRecords = 10000;
    bool maxRecordsGiven = false;
    std::optional<std::chrono::seconds> duration; // none: until stopped or the limit
    std::optional<record::SplitRule> split;       // none: one file
    MqttChoice mqtt;
    std::string out;
};

// Parses the options; returns 0 when the recording may start, else the exit status.
int parseRecordOptions(std::vector<std::string> args, RecordOptions& o) {
    CommandLine line("record");
    // A service names its settings file; what it holds comes first, as if typed.
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--settings")
            continue;
        if (i + 1 >= args.size())
            return line.refuse("--settings needs a settings file");
        std::string why;
        std::vector<std::string> settings = recordSettingsArguments(args[i + 1], why);
        if (settings.empty())
            return line.refuse(why);
        args.erase(args.begin() + std::ptrdiff_t(i), args.begin() + std::ptrdiff_t(i) + 2);
        args.insert(args.begin(), settings.begin(), settings.end());
        break;
    }
    addLinkOptions(line, o.link);
    line.option("--repeat", "--repeat takes on or off", [&](const std::string& v) {
        o.repeat = v == "on";
        return v == "on" || v == "off";
    });
    line.option("--interval", "--interval needs a whole number of seconds from 1",
                [&](const std::string& v) {
                    long long n = 0;
                    o.interval = v;
                    return wholeNumberIn(v, 1, 2147483647, n);
                });
    line.option("--max-records", "--max-records needs a number from 1 to 10000000",
                [&](const std::string& v) {
                    long long n = 0;
                    if (!wholeNumberIn(v, 1, 10000000, n))
                        return false;
                    o.maxRecords = static_cast<std::int32_t>(n);
                    o.maxRecordsGiven = true;
                    return true;
                });
    line.option("--duration", "--duration needs a time such as 45s, 90m, 8h or 2d",
                [&](const std::string& v) {
                    o.duration = record::parseDuration(v);
                    return o.duration.has_value();
                });
    line.option("--split", "--split takes hourly, daily or a number of rows from 1 to 10000000",
                [&](const std::string& v) {
                    o.split = record::parseSplitRule(v);
                    return o.split.has_value();
                });
    addMqttOptions(line, o.mqtt);
    line.operand([&](const std::string& a) -> std::string {
        if (!o.out.empty())
            return "one output file only";
        o.out = a;
        return {};
    });
    if (const int status = line.parse(args))
        return status;
    if (const int status = checkLinkChoice(line, o.link))
        return status;
    if (const int status = checkMqttChoice(line, o.mqtt))
        return status;
    // A recording that ends by its time, or runs for weeks in pieces, is not
    // also cut off at the default limit.
    if ((o.duration || o.split) && !o.maxRecordsGiven)
        o.maxRecords = 10000000;
    if (o.out.empty())
        return line.refuse("no output file given");
    return 0;
}

// A recording in progress: the window's recorder, its once-a-second timer,
// and the file the rows go to; with --split, one file per piece.
class Session final : public decode::ReadingSink {
public:
    explicit Session(const RecordOptions& o) : m_out(o.out), m_publisher(o.mqtt) {
        if (o.duration)
            m_end = std::chrono::steady_clock::now() + *o.duration;
        recorder.setTimeSeparator(decode::systemTimeSeparator());
        recorder.setRepeatSet(o.repeat);
        recorder.setMaxRecords(o.maxRecords);
        if (!o.interval.empty()) {
            recorder.setRecordSI(true);
            recorder.RecordSITimeChange(o.interval);
        }
        m_split = o.split.has_value();
        if (o.split)
            recorder.splitInto(*o.split, [this] { m_status |= finishPiece(); });
        else
            m_file = std::make_unique<files::RecordingFile>(o.out);
    }

    // Each reading to the recorder; each row it logs to the broker too. The
    // broker only ever gets a copy: the row is in the log whatever it does.
    void INDataToTable(const decode::MeterState& state) override {
        recorder.INDataToTable(state);
        const record::LogResult& r = recorder.lastResult();
        if (!r.rowAppended || !m_publisher.active())
            return;
        const auto moment = recorder.cds1.moment(r.rowIndex);
        m_publisher.publish(readingFields(r.number, state, decode::judgement(state),
                                          moment ? record::isoDateTime(*moment) : ""));
    }

    // The record-count limit is reached or the time is up: nothing more will be logged.
    bool full() const {
        return recorder.log().LoggedCount >= recorder.log().MaxRecords ||
               (m_end && std::chrono::steady_clock::now() >= *m_end);
    }

    // Makes the file the rows go to (a piece's file is made for its first
    // row); a place that takes no file ends the recording before it begins.
    bool start() {
        if (m_split || m_file->start())
            return true;
        std::fprintf(stderr, "kqmeter-cli: %s\n", m_file->error().c_str());
        return false;
    }

    // What the window's record timer does, and the rows to the disk.
    void second() {
        recorder.TrecordTimer();
        if (!file())
            return;
        if (m_file->flush(recorder.cds1)) {
            m_reported = false;
        } else if (!m_reported) {
            // Said once; the rows stay in memory and go at the next second.
            std::fprintf(stderr, "kqmeter-cli: %s\n", m_file->error().c_str());
            m_reported = true;
        }
    }
    int finish(int status) {
        m_publisher.finish();
        if (m_split && recorder.cds1.empty()) {
            if (m_pieces == 0)
                std::fputs("kqmeter-cli: no rows were logged, so no file was made\n", stderr);
            return status | m_status; // the last piece is complete already
        }
        return finishPiece() | status | m_status;
    }

    record::Recorder recorder;

private:
    // The file of the rows in cds1: with --split made for the piece's first
    // row, named from its local time, under a name that nothing has yet.
    files::RecordingFile* file() {
        if (m_file || recorder.cds1.empty())
            return m_file.get();
        const auto first = recorder.cds1.moment(0);
        const record::LogMoment at = first ? *first : record::systemMoment();
        for (int serial = 1;; ++serial) {
            const std::string name =
                record::pieceFileName(m_out, at.utcMs, at.offsetMinutes, serial);
            struct stat st;
            if (::lstat(name.c_str(), &st) == 0 ||
                (files::formForName(name) == files::LogForm::Xml &&
                 ::lstat(files::rowsPathFor(name).c_str(), &st) == 0))
                continue;
            m_file = std::make_unique<files::RecordingFile>(name);
            if (m_file->start())
                return m_file.get();
            const bool taken = m_file->nameTaken(); // by another recording just now
            if (!taken && !m_reported) {
                std::fprintf(stderr, "kqmeter-cli: %s\n", m_file->error().c_str());
                m_reported = true;
            }
            m_file.reset();
            if (!taken)
                return nullptr; // the rows stay in memory and are offered again
        }
    }
    // Completes the file of the rows in cds1 and lets them go; 1 on failure.
    int finishPiece() {
        files::RecordingFile* f = file();
        if (!f)
            return 0;
        const std::size_t rows = recorder.cds1.rowCount();
        const files::SaveResult r = f->finish(recorder.cds1);
        int failed = 0;
        if (!r.ok()) {
            std::fprintf(stderr, "kqmeter-cli: cannot complete %s: %s\n", f->path().c_str(),
                         r.error.c_str());
            // Only what is on disk is named.
            if (f->rowsOnDisk() > 0)
                std::fprintf(stderr, "kqmeter-cli: %llu of %zu rows are in %s\n",
                             static_cast<unsigned long long>(f->rowsOnDisk()), rows,
                             f->rowsPath().c_str());
            else
                std::fprintf(stderr, "kqmeter-cli: none of %zu rows reached the disk\n", rows);
            failed = 1;
        } else {
            if (f->tookAnotherName())
                std::fprintf(stderr,
                             "kqmeter-cli: %s appeared while recording and was left alone\n",
                             f->wantedPath().c_str());
            std::fprintf(stderr, "kqmeter-cli: %zu rows in %s\n", rows, f->path().c_str());
        }
        ++m_pieces;
        m_file.reset();
        recorder.cds1.clear();
        return failed;
    }

    std::string m_out;
    std::unique_ptr<files::RecordingFile> m_file;
    ReadingPublisher m_publisher;
    std::optional<std::chrono::steady_clock::time_point> m_end;
    bool m_split = false;
    std::size_t m_pieces = 0;
    int m_status = 0;
    bool m_reported = false;
};

} // namespace

// A recording never replaces a file: OUT may hold the readings of an earlier
// recording, and a recorder restarted after a crash (a service, a script)
// would otherwise wipe the rows of the run that crashed.
bool refusedExisting(const std::string& out) {
    struct stat st;
    if (::lstat(out.c_str(), &st) == 0) {
        std::fprintf(stderr,
                     "kqmeter-cli record: %s exists; a recording does not replace a file "
                     "(move it away or name another)\n",
                     out.c_str());
        return true;
    }
    const std::string rows = files::rowsPathFor(out);
    if (files::formForName(out) == files::LogForm::Xml && ::lstat(rows.c_str(), &st) == 0) {
        std::fprintf(stderr,
                     "kqmeter-cli record: %s holds the rows of a recording that did not end; "
                     "convert or move it first\n",
                     rows.c_str());
        return true;
    }
    return false;
}

int runRecord(const std::vector<std::string>& args) {
    RecordOptions options;
    if (const int status = parseRecordOptions(args, options))
        return status;
    // Pieces find free names of their own.
    if (!options.split && refusedExisting(options.out))
        return 1;
    // Ctrl-C and SIGTERM end the link between ticks, so the file is completed
    // through the same door as at the record-count limit.
    const StopSignals stop;
    Session session(options);
    if (!session.start())
        return 1;
    ReadingTarget target;
    target.sink = &session;
    target.everySecond = [&] { session.second(); };
    target.done = [&] { return session.full(); };
    const LinkEnd end = runLink(options.link, target, stop);
    if (!end.opened)
        return end.status; // nothing recorded: the file made at the start goes again
    return session.finish(end.status);
}

} // namespace kq::cli
