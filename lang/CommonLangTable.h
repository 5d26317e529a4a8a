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

// Whether LangID is one of the five languages with translations in the table.
bool IsCommonLangTranslation(int LangID);

// The row's text of its own in a translated language, or null when that language has none for the
// key or LangID is not a translated language (English or unknown).
const wchar_t* CommonLangTranslation(const CommonLangRow& row, int LangID);

}  // namespace qor
