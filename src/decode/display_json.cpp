#include "decode/display_json.h"

#include <algorithm>
#include <array>
#include <vector>

namespace kq::decode {
namespace {

// The widgets whose visibility a line reports: every annunciator a decoder blanks,
// plus the ones it drives outside the blank lists.
constexpr std::array<Widget, 63> kReported = {
    Widget::AVE,   Widget::MAX,       Widget::PH,        Widget::MIN,    Widget::READ,
    Widget::REC,   Widget::NO,        Widget::usb1,      Widget::ESC,    Widget::NODATA,
    Widget::power, Widget::VEL,       Widget::frame,     Widget::FLOW,   Widget::t_p,
    Widget::ft2,   Widget::m2,        Widget::c,         Widget::f,      Widget::RH,
    Widget::KEY,   Widget::TEMP,      Widget::LOAD,      Widget::time_l, Widget::TIMER,
    Widget::p_off, Widget::CFM,       Widget::CMM,       Widget::ms,     Widget::knots,
    Widget::mph,   Widget::ftmin,     Widget::X10,       Widget::kmh,    Widget::LCDHold,
    Widget::V23,   Widget::Z1,        Widget::perecent,  Widget::Auto,   Widget::Z,
    Widget::o1,    Widget::o2,        Widget::o3,        Widget::o4,     Widget::z4,
    Widget::z3,    Widget::z2,        Widget::z11,       Widget::FC,     Widget::LUX,
    Widget::CD,    Widget::FULL,      Widget::loadNO,    Widget::REL,    Widget::LcdP1,
    Widget::LcdP2, Widget::LcdP3,     Widget::LcdP12,    Widget::LcdP22, Widget::LcdP32,
    Widget::LcdFH, Widget::T_dPoint1, Widget::T_dPoint2,
};

constexpr int kBarMaximum = 2000;

} // namespace

void appendDisplayMembers(JsonLine& line, const MeterState& state, std::string_view frame,
                          Decoder decoder) {
    const DisplayModel& d = state.display;
    line.string("frame", frame);
    if (decoder == Decoder::None)
        line.null("decoder");
    else
        line.string("decoder", decoderName(decoder));
    line.stringArray("digits", d.digits);
    line.stringArray("row2", d.row2);

    std::vector<std::string_view> shown;
    for (Widget w : kReported)
        if (d.isShown(w))
            shown.push_back(widgetName(w));
    std::sort(shown.begin(), shown.end());
    line.strings("shown", shown);

    line.string("unit", state.UnitText);
    line.string("value", state.ValueText);
    line.number("reading", state.ReadingValue);
    line.integer("pointState", state.PointState);
    line.string("minText", d.MinText);
    line.string("maxText", d.MaxText);
    line.string("minUnit", d.MinTextU);
    line.string("maxUnit", d.MaxTextU);
    line.string("measure", d.T1VALUE);
    line.string("verdict", d.judge);
    // The bar shows at most its range, and nothing below it.
    line.integer("bar", std::clamp(d.PBar2, 0, kBarMaximum));
    line.boolean("connected", d.isShown(Widget::conok));
}

} // namespace kq::decode
