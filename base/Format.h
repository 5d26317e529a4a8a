// Fills "%s" and "%d" placeholders of a catalogue text. The text is never handed to a printf-family
// function, so a catalogue entry cannot read or write arguments it was not given.
#pragma once
#include <concepts>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace qor {

using FormatArg = std::variant<std::wstring, long long>;

// Replaces each "%s" or "%d" in order with the next argument (a text argument for %d, or a number for
// %s, is written as it is); "%%" gives "%". A placeholder without an argument is left as written;
// arguments beyond the placeholders are ignored.
std::wstring FormatText(std::wstring_view pattern, std::initializer_list<FormatArg> args);

// The decimal digits of a number, padded with leading zeros to at least minDigits, with "-" before a
// negative one: what std::to_wstring gives (minDigits 1) for every integer type, without the C runtime's
// printf machinery that std::to_wstring brings into the program.
std::wstring SignedDecimalText(long long value, int minDigits = 1);
std::wstring UnsignedDecimalText(unsigned long long value, int minDigits = 1);
template <std::integral T>
std::wstring DecimalText(T value, int minDigits = 1) {
  if constexpr (std::is_signed_v<T>)
    return SignedDecimalText(value, minDigits);
  else
    return UnsignedDecimalText(value, minDigits);
}
// The text padded with blanks to at least width characters: before it (right-aligned) or after it.
std::wstring AlignRight(std::wstring text, size_t width);
std::wstring AlignLeft(std::wstring text, size_t width);
// The upper-case hexadecimal digits of a number, padded with leading zeros to at least minDigits
// (0x1A with 4 gives "001A"); never cut to fewer digits than the number needs.
std::wstring HexText(unsigned long long value, int minDigits = 1);

}  // namespace qor
