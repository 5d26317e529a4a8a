// The language catalogue: every text the setup shows is looked up here by key.
//
// Tables are compiled in. Each registered filler adds its table's texts first in English and then in
// the current language, a later text replacing an earlier one for the same key, so a key that the
// current language does not translate keeps its English text. A key that no table defines is
// returned unchanged by GetLangStr.
//
// Start-up: InitializeQorLang() creates the lock, picks the language from GetSystemDefaultLangID()
// and registers the common table; InitializeQuorvexSetupLang() then adds the setup's own table.
// FinalizeQorLang() frees everything. After that (or before start-up) GetLangStr returns the key.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qor {

// One catalogue entry. LandID is the language ID that the filler passed with the text; the lookup
// does not use it.
struct LangStr {
  std::wstring Name;
  std::wstring Value;
  std::int32_t LandID = 0;
};

// A filler adds its table's texts for one language ID with AddLangStr. For an ID it does not know it
// adds its English texts.
using LangFiller = void (*)(int LangID);

// The six catalogue languages.
constexpr int LangEnglish = 1033;
constexpr int LangGerman = 1031;
constexpr int LangSpanish = 1034;
constexpr int LangFrench = 1036;
constexpr int LangJapanese = 1041;
constexpr int LangRussian = 1049;

void InitializeQorLang();
void FinalizeQorLang();

// The text of Key, or Key itself when no entry is named Key (ordinal, case-sensitive comparison).
// Never raises except for lack of memory.
std::wstring GetLangStr(const std::wstring& Key);

// Adds an entry or replaces the text and language ID of an existing one in place. For fillers.
void AddLangStr(const std::wstring& Key, const std::wstring& Text, int LangID);

// Appends Filler to the filler list (the same filler may stand there more than once), runs it with
// 1033 and then with the current language, and tells the open windows. Existing entries stay where
// they are; new keys are appended.
void RegisterLangFiller(LangFiller Filler);

// Maps any Windows language ID to one of the six catalogue languages (whole-ID comparison: an
// unlisted regional variant falls to English), rebuilds the table from all registered fillers and
// tells the open windows.
void SetLanguage(int LangID);

// The catalogue language chosen by the last SetLanguage (1033 before the first).
int CurrentLanguage();

// The catalogue language that SetLanguage chooses for a Windows language ID.
int CatalogueLanguageFor(int LangID);

// The filler of the common table.
void CommonLangFiller(int LangID);

// Sends CM_SYSFONTCHANGED (wParam = lParam = 0) synchronously to every open window, in the order in
// which the windows joined the registry of LangWindows.h.
void NotifyLanguageChanged();

// Copies of the catalogue's state, in order, for inspection.
std::vector<LangStr> LangTableEntries();
std::vector<LangFiller> LangFillers();

}  // namespace qor
