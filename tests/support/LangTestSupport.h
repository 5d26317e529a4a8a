// Shared helpers of the catalogue tests.
#pragma once
#include <string>
#include <vector>

namespace qortest {

// The UTF-16 code units of a text, so that a mismatch prints every unit.
inline std::vector<unsigned> CodeUnits(const std::wstring& s) {
  return std::vector<unsigned>(s.begin(), s.end());
}

}  // namespace qortest
