#include "decode/meter_decoders.h"

#include "decode/frame_nibbles.h"
#include "decode/lcd12b.h"
#include "decode/lcd24b.h"
#include "decode/reading_steps.h"

#include <array>
#include <bitset>
#include <cstddef>

namespace kq::decode {
namespace {

using Mask = std::bitset<kWidgetCount>;

void setCaption(std::string& caption, char c) {
    if (c == '\0') {
        caption.clear();
    } else {
        if (caption.size() != 1)
            caption.resize(1);
        caption[0] = c;
    }
}

// Widgets lit by each value of each annunciator position, so a frame's annunciators
// are a handful of mask operations instead of a bit test per widget. Indexed by
// position (from the first annunciator position) and the position's value.
template <std::size_t Positions, typename Bits>
std::array<std::array<Mask, 16>, Positions> annunciatorMasks(const Bits& bits, int firstBit) {
    std::array<std::array<Mask, 16>, Positions> masks{};
    for (const auto& a : bits) {
        const auto position = static_cast<std::size_t>((a.bit - firstBit) / 4);
        const int weight = 8 >> ((a.bit - firstBit) % 4);
        for (int v = 0; v < 16; ++v)
            if ((v & weight) != 0)
                masks[position][static_cast<std::size_t>(v)].set(
                    static_cast<std::size_t>(a.widget));
    }
    return masks;
}

template <typename Bits> Mask widgetsOf(const Bits& bits) {
    Mask mask;
    for (const auto& a : bits)
        mask.set(static_cast<std::size_t>(a.widget));
    return mask;
}

// positions 19..24 of a light-meter frame, 19..29 of a two-row frame
const auto kMasks12B = annunciatorMasks<6>(kAnnunciators12B, 73);
const Mask kWidgets12B = widgetsOf(kAnnunciators12B);
const auto kMasks24B = annunciatorMasks<11>(kAnnunciators24B, 73);
const Mask kWidgets24B = widgetsOf(kAnnunciators24B);

// The displayed count with the points ignored (19.99 reads 1999), when every digit
// shown is a decimal digit and at least one is. An L shape in the third digit after
// a 0 is the overload display, worth FullScale.
enum class Count { Number, Overload, None };

Count readCount(const std::array<char, 4>& digits, int& value) {
    if (digits[2] == '@' && digits[1] == '0')
        return Count::Overload;
    int n = 0;
    bool any = false;
    for (char c : digits) {
        if (c == '\0')
            continue;
        if (c < '0' || c > '9')
            return Count::None;
        n = n * 10 + (c - '0');
        any = true;
    }
    if (!any)
        return Count::None;
    value = n;
    return Count::Number;
}

// Da, its point text, Db, its point text, Dc ("L" for the L shape), its point text, Dd.
void buildValueText(std::string& out, const std::array<char, 4>& digits, bool sep1, bool sep2,
                    bool sep3, const std::string& separator) {
    // The separator is at most 10 characters at start-up; a longer one is still taken
    // whole, only not on the fast path.
    constexpr std::size_t kFastSeparator = 10;
    if (separator.size() > kFastSeparator) {
        out.clear();
        for (std::size_t i = 0; i < 4; ++i) {
            const char c = i == 2 && digits[2] == '@' ? 'L' : digits[i];
            if (c != '\0')
                out.push_back(c);
            if ((i == 0 && sep1) || (i == 1 && sep2) || (i == 2 && sep3))
                out += separator;
        }
        return;
    }
    char buffer[4 + 3 * kFastSeparator];
    std::size_t n = 0;
    const auto put = [&](char c) {
        buffer[n] = c;
        n += c != '\0' ? 1 : 0;
    };
    const auto putSeparator = [&](bool lit) {
        if (lit) {
            separator.copy(buffer + n, separator.size());
            n += separator.size();
        }
    };
    put(digits[0]);
    putSeparator(sep1);
    put(digits[1]);
    putSeparator(sep2);
    put(digits[2] == '@' ? 'L' : digits[2]);
    putSeparator(sep3);
    put(digits[3]);
    out.assign(buffer, n);
}

int pointStateOf(const DisplayModel& d) {
    int state = 0;
    if (d.isShown(Widget::LcdP1))
        state = 1;
    if (d.isShown(Widget::LcdP2))
        state = 2;
    if (d.isShown(Widget::LcdP3))
        state = 3;
    return state;
}

} // namespace

std::string DecodeStatus::message() const {
    return kind == Kind::BadCharacter ? invalidIntegerMessage(badCharacter) : std::string();
}

DecodeStatus LcdDisplay12B(MeterState& state, ReadingSink* sink) {
    startOfFrame(state);
    FrameNibbles nibbles;
    if (const auto bad = readFrameNibbles(state.FrameText, nibbles))
        return {DecodeStatus::Kind::BadCharacter, *bad};
    const Lcd12BFrame frame = decode12B(nibbles, state.FrameText);

    DisplayModel& d = state.display;
    d.family = DisplayModel::Family::Lcd12B;
    blankFullList(d);
    d.setShown(Widget::T_dPoint1, true);
    d.setShown(Widget::T_dPoint2, true);

    d.setShown(Widget::LcdP3, frame.p3);
    d.setShown(Widget::LcdP2, frame.p2);
    d.setShown(Widget::LcdP1, frame.p1);
    Mask lit;
    for (std::size_t k = 0; k < kMasks12B.size(); ++k)
        lit |= kMasks12B[k][nibbles[18 + k]];
    d.shown = (d.shown & ~kWidgets12B) | lit;
    state.UnitText = frame.unit;

    for (std::size_t i = 0; i < 4; ++i)
        setCaption(d.digits[i], frame.digits[i]);
    for (std::size_t i = 0; i < 6; ++i)
        setCaption(d.row2[i], frame.row2[i]);

    state.PointState = pointStateOf(d);
    buildValueText(state.ValueText, frame.digits, frame.p1, frame.p2, frame.p3,
                   state.LocaleDecimalSeparator);

    int count = 0;
    switch (readCount(frame.digits, count)) {
    case Count::Overload:
        state.ReadingValue = static_cast<float>(state.range.FullScale);
        break;
    case Count::Number:
        state.ReadingValue = static_cast<float>(count);
        break;
    case Count::None:
        // Blanks or an L out of place: the glass shows it, the reading keeps its value.
        return {DecodeStatus::Kind::NoReading};
    }

    trackMinMax(state);
    showMinMaxLine(state);
    judgeReading(state);
    logReading(state, sink);
    setBarGraph(state);
    showEndOfFrameIndicators(d);
    return {DecodeStatus::Kind::Reading};
}

DecodeStatus LcdDisplay24B(MeterState& state) {
    startOfFrame(state);
    FrameNibbles nibbles;
    if (const auto bad = readFrameNibbles(state.FrameText, nibbles))
        return {DecodeStatus::Kind::BadCharacter, *bad};
    const Lcd24BFrame frame = decode24B(nibbles);

    DisplayModel& d = state.display;
    d.family = DisplayModel::Family::Lcd24B;
    blankShortList(d);
    state.UnitText.clear();

    // Bits 12 and 36 both drive LcdP1, so the shape follows bit 36 while the point
    // text after LcdDa is there when either is set. Row 2 has shapes but no text.
    d.setShown(Widget::LcdP1, frame.bit12);
    d.setShown(Widget::LcdP3, frame.bit20);
    d.setShown(Widget::LcdP2, frame.bit28);
    d.setShown(Widget::LcdP1, frame.bit36);
    d.setShown(Widget::LcdP32, frame.bit52);
    d.setShown(Widget::LcdP22, frame.bit60);
    d.setShown(Widget::LcdP12, frame.bit68);
    const bool sep1 = frame.bit12 || frame.bit36;

    Mask lit;
    for (std::size_t k = 0; k < kMasks24B.size(); ++k)
        lit |= kMasks24B[k][nibbles[18 + k]];
    d.shown = (d.shown & ~kWidgets24B) | lit;
    if (!annunciatorLit24B(frame.annunciators, 112))
        d.setShown(Widget::NO, annunciatorLit24B(frame.annunciators, 113));
    state.UnitText = frame.unit;

    // The minus sign is lit on the glass but the text stays unsigned.
    buildValueText(state.ValueText, frame.digits, sep1, frame.bit28, frame.bit20,
                   state.LocaleDecimalSeparator);
    state.PointState = pointStateOf(d);

    // This family carries no number of its own, yet MIN/MAX compares ReadingValue.
    // Taking it from the main row the way the light meter does (count with the points
    // ignored, FullScale for the overload display) makes MIN/MAX follow this meter's
    // reading instead of whatever the last light-meter frame left; the lit minus sign
    // makes it negative so the lowest reading is the true minimum. A frame with no
    // number on either row keeps the value, as the light meter does.
    int count = 0;
    DecodeStatus status{DecodeStatus::Kind::NoReading};
    Count kind = readCount(frame.digits, count);
    if (kind == Count::None) {
        // On the USB cable the main row always reads "usb.1" and the meter's
        // reading stands on the second row: the reading, its text and its
        // decimal point then come from there, so that MIN/MAX follows the
        // meter and not the cable's marker.
        kind = readCount(frame.row2, count);
        if (kind != Count::None) {
            buildValueText(state.ValueText, frame.row2, frame.bit68, frame.bit60, frame.bit52,
                           state.LocaleDecimalSeparator);
            state.PointState = frame.bit52 ? 3 : frame.bit60 ? 2 : frame.bit68 ? 1 : 0;
        }
    }
    if (kind != Count::None) {
        const float value = kind == Count::Overload ? static_cast<float>(state.range.FullScale)
                                                    : static_cast<float>(count);
        state.ReadingValue = annunciatorLit24B(frame.annunciators, 87) ? -value : value;
        status.kind = DecodeStatus::Kind::Reading;
    }

    trackMinMax(state);
    showMinMaxLine(state);

    for (std::size_t i = 0; i < 4; ++i) {
        setCaption(d.digits[i], frame.digits[i]);
        setCaption(d.row2[i], frame.row2[i]);
    }
    return status;
}

DecodeStatus LcdDisplay36B(MeterState& state) {
    DisplayModel& d = state.display;
    d.family = DisplayModel::Family::Fixed36B;
    blankFullList(d);
    d.setShown(Widget::T_dPoint1, false);
    d.setShown(Widget::T_dPoint2, false);
    // LcdP1 stays as the last frame left it.
    d.setShown(Widget::LcdP2, false);
    d.setShown(Widget::LcdP3, true);
    d.digits = {"u", "s", "b", "1"};
    for (std::string& caption : d.row2)
        caption.clear();
    return {DecodeStatus::Kind::NoReading};
}

DecodeStatus dispatch(MeterState& state, ReadingSink* sink, Decoder decoder) {
    switch (decoder) {
    case Decoder::D12B:
        return LcdDisplay12B(state, sink);
    case Decoder::D24B:
        return LcdDisplay24B(state);
    case Decoder::D36B:
        return LcdDisplay36B(state);
    case Decoder::None:
        break;
    }
    return {DecodeStatus::Kind::NoReading};
}

} // namespace kq::decode
