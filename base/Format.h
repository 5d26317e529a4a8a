// Fills "%s" and "%d" placeholders of a catalogue text. The text is never handed to a printf-family
// function, so a catalogue entry cannot read or write arguments it was not given.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace qor {

using FormatArg = std::variant<std::wstring, long long>;

// Replaces each "%s" or "%d" in order with the next argument (a text argument for %d, or a number for
// %s, is written as it is); "%%" gives "%". A placeholder without an argument is left as written;
// arguments beyond the placeholders are ignored.
std::wstring FormatText(std::wstring_view pattern, std::initializer_list<FormatArg> args);

// The decimal digits of a number, with "-" before a negative one (the whole range of long long).
std::wstring DecimalText(long long value);
// The upper-case hexadecimal digits of a number, padded with leading zeros to at least minDigits
// (0x1A with 4 gives "001A"); never cut to fewer digits than the number needs.
std::wstring HexText(unsigned long long value, int minDigits = 1);

}  // namespace qor
