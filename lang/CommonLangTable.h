// The common table of the catalogue: general-purpose texts in six languages.
#pragma once
#include <array>

namespace qor {

// One key with its texts. A null translation means the language has no text of its own for the key,
// which then keeps its English text.
struct CommonLangRow {
  const wchar_t* key;
  const wchar_t* english;
  const wchar_t* russian;
  const wchar_t* german;
  const wchar_t* spanish;
  const wchar_t* french;
  const wchar_t* japanese;
};

constexpr std::size_t kCommonLangKeyCount = 70;
extern const std::array<CommonLangRow, kCommonLangKeyCount> kCommonLangTable;

// The row's text for a catalogue language ID: the English text for 1033 and for any ID the table
// does not know; for a known language its own text, or null when it has none.
const wchar_t* CommonLangText(const CommonLangRow& row, int LangID);

}  // namespace qor
