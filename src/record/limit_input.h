#pragma once

#include <string>
#include <string_view>

namespace kq::decode {
struct MeterState;
}

namespace kq::record {

// The rules of the high and low limit edits T1HI and T1LO.

enum class Limit { High, Low };

// T1HIKeyPress / T1LOKeyPress: whether a typed character may go into the edit whose text is
// `text`. Digits, backspace, apostrophe, backquote, '+', '-', '.' and the first character of the
// decimal separator pass; a second decimal separator does not.
bool limitKeyAccepted(char32_t key, std::string_view text, std::string_view decimalSeparator);

// A limit text reads as a number when the conversion accepts it and the value is not the
// not-a-number mark -999999.
bool limitReadsAsNumber(std::string_view text, std::string_view decimalSeparator);

struct LimitChange {
    enum class Outcome {
        Ignored,  // "-", "+" or blank: the user may be starting to type; nothing changes
        Accepted, // the text is now the last accepted text
        Error,    // show "Numerical input errors", then put `restoreText` into the edit
    };
    Outcome outcome = Outcome::Ignored;
    std::string restoreText;
};

// The change check on a text with its last accepted text. On Error the last accepted text stays
// and the edit is to show it again (a restored text that is blank leaves the edit empty).
LimitChange checkLimitChange(std::string_view text, std::string& lastAccepted,
                             std::string_view decimalSeparator);
// The leave check: the text the edit is to show when the focus leaves it, or nothing to do
// (returns false) when the text may stay.
bool leaveLimitEdit(std::string_view text, std::string_view lastAccepted, std::string& restore);

// T1HIChange / T1LOChange on the meter state: the edit's new text goes into T1HI or T1LO,
// the check runs, and on an error the edit's text is already set back (the caller shows the
// message and puts the restored text into the widget).
LimitChange limitTextChanged(decode::MeterState& state, Limit which, std::string_view newText);
// T1HIExit / T1LOExit: returns true when the edit's text was set back to its last accepted text.
bool limitEditLeft(decode::MeterState& state, Limit which);

} // namespace kq::record
