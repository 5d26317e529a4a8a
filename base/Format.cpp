#include "Format.h"

#include <vector>

namespace qor {

namespace {
std::wstring ArgText(const FormatArg& a) {
  if (const auto* s = std::get_if<std::wstring>(&a)) return *s;
  return std::to_wstring(std::get<long long>(a));
}
}  // namespace

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
