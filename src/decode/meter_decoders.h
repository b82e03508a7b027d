#pragma once

#include "decode/frame_select.h"
#include "decode/meter_state.h"

#include <string>

namespace kq::decode {

class ReadingSink;

// How a frame ended. A bad character stops the frame where the conversion of its
// digits failed: the connection indicator has already turned on, nothing else of
// the glass has changed. The window reports it nowhere (a corrupted frame every
// 10 ms must not open a message box each); the command-line tool prints it.
struct DecodeStatus {
    enum class Kind {
        Reading,      // the digits formed a reading and the reading steps ran
        NoReading,    // the glass changed, the reading and its steps did not
        BadCharacter, // a character among positions 1..32 is no hexadecimal digit
    };
    Kind kind = Kind::NoReading;
    char badCharacter = '\0';

    // For a bad character, the text that names it (invalidIntegerMessage); empty otherwise.
    std::string message() const;
};

// Light-meter family: decodes FrameText onto the glass and, for a reading, runs
// MIN/MAX, the Pass/Fail judgement, the log (sink may be null), the bar graph and
// the end-of-frame indicators.
DecodeStatus LcdDisplay12B(MeterState& state, ReadingSink* sink);

// Two-row family: decodes FrameText onto the glass and runs MIN/MAX with its line;
// no judgement, no log, no bar graph.
DecodeStatus LcdDisplay24B(MeterState& state);

// Third frame form: a fixed display (u s b . 1) that reads nothing of the frame and
// does not count as a sign of a connected meter.
DecodeStatus LcdDisplay36B(MeterState& state);

// Calls the decoder a link's selection chose; Decoder::None changes nothing.
DecodeStatus dispatch(MeterState& state, ReadingSink* sink, Decoder decoder);

} // namespace kq::decode
