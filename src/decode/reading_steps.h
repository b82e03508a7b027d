#pragma once

#include "decode/meter_state.h"

namespace kq::decode {

class ReadingSink;

// The steps every decoder shares on the glass and the reading that follows it.
// Each takes the whole state, since the window keeps them as one set of values.

// S1: a frame arrived, so the meter is connected: the indicator turns on and the
// connection timer starts counting again.
void startOfFrame(MeterState& state);

// S2: the annunciators a frame lights afresh. The short list is all the two-row
// family drives; the full list adds the light-meter annunciators.
void blankShortList(DisplayModel& display);
void blankFullList(DisplayModel& display);

// R1: running MIN/MAX of ReadingValue, restarted when the unit or the lit point changes.
void trackMinMax(MeterState& state);
// R2: the MIN/MAX line under the glass.
void showMinMaxLine(MeterState& state);
// R3: Pass/Fail of ValueText against the limit texts T1HI and T1LO.
void judgeReading(MeterState& state);
// The verdict the judgement gives the reading now in the state: Pass, Fail, or None when
// a limit is no number (no judgement: the panel keeps its verdict).
DisplayModel::Verdict judgement(const MeterState& state);
// R4: hands the reading to the log, if there is one.
void logReading(const MeterState& state, ReadingSink* sink);
// R5: the bar graph under the glass, from the four main-row digits.
void setBarGraph(MeterState& state);
// R6: the indicators a good light-meter frame leaves lit.
void showEndOfFrameIndicators(DisplayModel& display);

} // namespace kq::decode
