// Text comparison as the platform does it: locale-aware upper-casing and case-insensitive equality.
#pragma once
#include <string>
#include <string_view>

namespace qor {

// The platform's locale-aware upper-casing of the whole text.
std::wstring UpperCase(std::wstring_view text);
// Locale-aware case-insensitive equality.
bool SameText(std::wstring_view a, std::wstring_view b);

}  // namespace qor
