#pragma once

#include "decode/meter_state.h"
#include "decode/reading_sink.h"
#include "decode/reading_steps.h"
#include "decode/system_locale.h"
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
    // The verdict's text ("Pass", "Fail" or empty), ready for the next frame.
    const char* take() {
        const decode::DisplayModel::Verdict v = m_verdict;
        m_verdict = decode::DisplayModel::Verdict::None;
        switch (v) {
        case decode::DisplayModel::Verdict::Pass:
            return "Pass";
        case decode::DisplayModel::Verdict::Fail:
            return "Fail";
        case decode::DisplayModel::Verdict::None:
            break;
        }
        return "";
    }

private:
    decode::DisplayModel::Verdict m_verdict = decode::DisplayModel::Verdict::None;
};

// One decoded frame as every monitor prints it: the time of day as the log writes it
// (with the system's separator), the value as the meter shows it, the unit and the
// frame's own verdict, separated by tabs.
class MonitorLines {
public:
    void print(const decode::MeterState& state) {
        std::printf("%s\t%s\t%s\t%s\n",
                    record::formatTimeOfDay(record::systemTimeOfDay(), m_timeSeparator).c_str(),
                    state.ValueText.c_str(), state.UnitText.c_str(), verdict.take());
        std::fflush(stdout);
    }
    // The sink to hand to the link, so the verdict is the frame's own.
    FrameVerdict verdict;

private:
    std::string m_timeSeparator = decode::systemTimeSeparator();
};

} // namespace kq::cli
