#include "Format.h"

#include <iterator>

namespace qor {

namespace {
std::wstring ArgText(const FormatArg& a) {
  if (const auto* s = std::get_if<std::wstring>(&a)) return *s;
  return DecimalText(std::get<long long>(a));
}

// Digits of value in the given base, most significant first, at least minDigits of them. Written by hand
// rather than through the C runtime's printf family, which would bring its whole formatting machinery
// (floating point included) into the program for a few integers.
std::wstring Digits(unsigned long long value, unsigned base, int minDigits) {
  wchar_t buffer[64];
  wchar_t* end = buffer + std::size(buffer);
  wchar_t* p = end;
  do {
    *--p = L"0123456789ABCDEF"[value % base];
    value /= base;
    --minDigits;
  } while ((value != 0 || minDigits > 0) && p != buffer);
  return std::wstring(p, end);
}
}  // namespace

std::wstring SignedDecimalText(long long value, int minDigits) {
  // The magnitude is taken in unsigned arithmetic so that the most negative value has one too.
  const unsigned long long magnitude =
      value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  std::wstring digits = Digits(magnitude, 10, minDigits);
  if (value < 0) digits.insert(digits.begin(), L'-');
  return digits;
}

std::wstring UnsignedDecimalText(unsigned long long value, int minDigits) { return Digits(value, 10, minDigits); }

std::wstring AlignRight(std::wstring text, size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), L' ');
  return text;
}

std::wstring AlignLeft(std::wstring text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), L' ');
  return text;
}

std::wstring HexText(unsigned long long value, int minDigits) { return Digits(value, 16, minDigits); }

std::wstring FormatText(std::wstring_view pattern, std::initializer_list<FormatArg> args) {
  std::wstring out;
  out.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    wchar_t c = pattern[i];
    if (c == L'%' && i + 1 < pattern.size()) {
      wchar_t k = pattern[i + 1];
      if (k == L'%') {
        out += L'%';
        ++i;
        continue;
      }
      if ((k == L's' || k == L'd') && next != args.end()) {
        out += ArgText(*next++);
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

}  // namespace qor
