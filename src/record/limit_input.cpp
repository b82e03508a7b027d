#include "record/limit_input.h"

#include "decode/meter_state.h"
#include "decode/number_text.h"

namespace kq::record {

namespace {

// The first character of a UTF-8 text as a code point; 0 for an empty text or a broken sequence.
char32_t firstCodePoint(std::string_view s) {
    if (s.empty())
        return 0;
    const auto b0 = static_cast<unsigned char>(s[0]);
    int extra = 0;
    char32_t cp = 0;
    if (b0 < 0x80)
        return b0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() < static_cast<std::size_t>(extra) + 1)
        return 0;
    for (int i = 1; i <= extra; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    return cp;
}

// Blank after trimming: only spaces and control characters.
bool isBlank(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ')
            return false;
    return true;
}

// Texts the user may be in the middle of typing.
bool isStartOfNumber(std::string_view text) {
    return text == "-" || text == "+" || isBlank(text);
}

std::string& editText(decode::MeterState& s, Limit which) {
    return which == Limit::High ? s.T1HI : s.T1LO;
}
std::string& lastAcceptedText(decode::MeterState& s, Limit which) {
    return which == Limit::High ? s.HiLimitText : s.LoLimitText;
}

} // namespace

bool limitKeyAccepted(char32_t key, std::string_view text, std::string_view decimalSeparator) {
    const char32_t sep = firstCodePoint(decimalSeparator);
    if (sep != 0 && key == sep && text.find(decimalSeparator) != std::string_view::npos)
        return false;
    if (key >= U'0' && key <= U'9')
        return true;
    switch (key) {
    case 8:
    case 39:
    case U'+':
    case U'-':
    case U'.':
    case 96:
        return true;
    default:
        return sep != 0 && key == sep;
    }
}

bool limitReadsAsNumber(std::string_view text, std::string_view decimalSeparator) {
    return decode::textToNumber(text, decimalSeparator) != decode::kNotANumber;
}

LimitChange checkLimitChange(std::string_view text, std::string& lastAccepted,
                             std::string_view decimalSeparator) {
    LimitChange r;
    if (isStartOfNumber(text)) {
        r.outcome = LimitChange::Outcome::Ignored;
        return r;
    }
    if (!limitReadsAsNumber(text, decimalSeparator)) {
        // Setting the edit back runs this check again on the restored text; a last accepted
        // text is a number or blank, so that second run accepts it again or ignores it.
        r.outcome = LimitChange::Outcome::Error;
        r.restoreText = lastAccepted;
        return r;
    }
    lastAccepted.assign(text);
    r.outcome = LimitChange::Outcome::Accepted;
    return r;
}

bool leaveLimitEdit(std::string_view text, std::string_view lastAccepted, std::string& restore) {
    if (!isStartOfNumber(text))
        return false;
    restore.assign(lastAccepted);
    return true;
}

LimitChange limitTextChanged(decode::MeterState& state, Limit which, std::string_view newText) {
    std::string& text = editText(state, which);
    text.assign(newText);
    LimitChange r =
        checkLimitChange(text, lastAcceptedText(state, which), state.LocaleDecimalSeparator);
    if (r.outcome == LimitChange::Outcome::Error)
        text = r.restoreText;
    return r;
}

bool limitEditLeft(decode::MeterState& state, Limit which) {
    std::string restore;
    if (!leaveLimitEdit(editText(state, which), lastAcceptedText(state, which), restore))
        return false;
    editText(state, which) = restore;
    return true;
}

} // namespace kq::record
