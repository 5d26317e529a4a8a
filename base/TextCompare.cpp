#include "TextCompare.h"

#include <windows.h>

namespace qor {

std::wstring UpperCase(std::wstring_view text) {
  std::wstring out(text);
  if (!out.empty()) ::CharUpperBuffW(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace qor
