#pragma once

#include "decode/meter_state.h"
#include "decode/reading_sink.h"
#include "decode/reading_steps.h"
#include "decode/system_locale.h"
#include "files/csv_fields.h"
#include "mqtt/reading_message.h"
#include "reading_fields.h"
#include "record/reading_log.h"

#include <cstdio>
#include <string>

namespace kq::cli {

// The verdict of the frame just decoded, and only of that frame: the log step follows
// the judgement once per light-meter reading, so a frame without a reading (a two-row
// frame, blanks, a corrupted frame) leaves it empty rather than showing an older one.
class FrameVerdict final : public decode::ReadingSink {
public:
    void INDataToTable(const decode::MeterState& state) override {
        m_verdict = decode::judgement(state);
    }
    // The verdict, ready for the next frame.
    decode::DisplayModel::Verdict take() {
        const decode::DisplayModel::Verdict v = m_verdict;
        m_verdict = decode::DisplayModel::Verdict::None;
        return v;
    }

private:
    decode::DisplayModel::Verdict m_verdict = decode::DisplayModel::Verdict::None;
};

// One decoded frame as every monitor prints it. tsv: the time of day as the log
// writes it (with the system's separator), the value as the meter shows it, the
// unit and the frame's own verdict, separated by tabs; json: one object a line
// with the fields a broker gets; csv: the rows of a CSV log, header first.
class MonitorLines {
public:
    enum class Format { Tsv, Json, Csv };
    explicit MonitorLines(Format format = Format::Tsv) : m_format(format) {}

    // Prints the frame; returns it as a numbered reading.
    mqtt::ReadingFields print(const decode::MeterState& state) {
        const mqtt::ReadingFields r = readingFields(++m_count, state, verdict.take(),
                                                    record::isoDateTime(record::systemMoment()));
        if (m_format == Format::Json) {
            std::printf("%s\n", mqtt::readingMessage(r).c_str());
        } else if (m_format == Format::Csv) {
            if (r.no == 1)
                std::fwrite(files::kCsvHeader.data(), 1, files::kCsvHeader.size(), stdout);
            std::string line = std::to_string(r.no);
            for (const std::string& field :
                 {r.datetime, record::formatTimeOfDay(record::systemTimeOfDay(), ":"), r.value,
                  r.unit, r.verdict, r.text}) {
                line += ',';
                files::appendCsvField(line, field);
            }
            line += "\r\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
        } else {
            std::printf("%s\t%s\t%s\t%s\n",
                        record::formatTimeOfDay(record::systemTimeOfDay(), m_timeSeparator).c_str(),
                        state.ValueText.c_str(), state.UnitText.c_str(), r.verdict.c_str());
        }
        std::fflush(stdout);
        return r;
    }
    // The sink to hand to the link, so the verdict is the frame's own.
    FrameVerdict verdict;

private:
    Format m_format;
    long long m_count = 0;
    std::string m_timeSeparator = decode::systemTimeSeparator();
};

} // namespace kq::cli
