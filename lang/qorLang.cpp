#include "qorLang.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "CommonLangTable.h"
#include "Handles.h"
#include "LangWindows.h"

namespace qor {

namespace {

// Created by InitializeQorLang, destroyed by FinalizeQorLang. Without it (before start-up or after
// shut-down) the catalogue is simply unguarded and, unless a filler was registered, empty.
std::unique_ptr<CriticalSection> g_langLock;
std::vector<LangStr> g_langTable;
std::unique_ptr<std::vector<LangFiller>> g_langFillers;  // created on the first registration
int g_currentLanguage = LangEnglish;

// Holds LangLock for a scope when it exists. Re-entrant: a filler running under the lock may look
// texts up.
class LangLockScope {
 public:
  LangLockScope() noexcept : lock_(g_langLock.get()) {
    if (lock_) lock_->Enter();
  }
  LangLockScope(const LangLockScope&) = delete;
  LangLockScope& operator=(const LangLockScope&) = delete;
  ~LangLockScope() {
    if (lock_) lock_->Leave();
  }

 private:
  CriticalSection* lock_;
};

struct LanguageMapping {
  int catalogueLanguage;
  std::initializer_list<int> ids;
};

const LanguageMapping kLanguageMappings[] = {
    {LangGerman, {1031, 2055, 3079, 4103, 5127}},
    {LangSpanish, {1034,  2058,  3082,  4106,  5130,  6154,  7178,  8202,  9226,  10250,
                   11274, 12298, 13322, 14346, 15370, 16394, 17418, 18442, 19466, 20490}},
    {LangFrench, {1036, 2060, 3084, 4108, 5132, 6156}},
    {LangJapanese, {1041}},
    {LangRussian, {1049, 1058, 1059}},
};

void RunFiller(LangFiller filler) {
  filler(LangEnglish);
  filler(g_currentLanguage);
}

}  // namespace

int CatalogueLanguageFor(int LangID) {
  for (const auto& m : kLanguageMappings) {
    if (std::find(m.ids.begin(), m.ids.end(), LangID) != m.ids.end()) return m.catalogueLanguage;
  }
  return LangEnglish;
}

int CurrentLanguage() {
  LangLockScope lock;
  return g_currentLanguage;
}

std::wstring GetLangStr(const std::wstring& Key) {
  LangLockScope lock;
  for (const auto& entry : g_langTable) {
    if (entry.Name == Key) return entry.Value;
  }
  return Key;
}

void AddLangStr(const std::wstring& Key, const std::wstring& Text, int LangID) {
  for (auto& entry : g_langTable) {
    if (entry.Name == Key) {
      entry.Value = Text;
      entry.LandID = LangID;
      return;
    }
  }
  g_langTable.push_back(LangStr{Key, Text, LangID});
}

void RegisterLangFiller(LangFiller Filler) {
  if (!Filler) return;
  {
    // The lock keeps a lookup from another thread away from a half-added table; the window
    // broadcast below runs outside it.
    LangLockScope lock;
    if (!g_langFillers) g_langFillers = std::make_unique<std::vector<LangFiller>>();
    g_langFillers->push_back(Filler);
    RunFiller(Filler);
  }
  NotifyLanguageChanged();
}

void SetLanguage(int LangID) {
  {
    LangLockScope lock;
    g_langTable.clear();
    g_currentLanguage = CatalogueLanguageFor(LangID);
    if (g_langFillers) {
      // A copy: a filler that registers another filler must not invalidate this walk.
      const std::vector<LangFiller> fillers = *g_langFillers;
      for (LangFiller filler : fillers) RunFiller(filler);
    }
  }
  NotifyLanguageChanged();
}

void NotifyLanguageChanged() { BroadcastUIChanged(); }

void CommonLangFiller(int LangID) {
  for (const auto& row : kCommonLangTable) {
    if (const wchar_t* own = CommonLangTranslation(row, LangID)) {
      AddLangStr(row.key, own, LangID);
    } else if (!IsCommonLangTranslation(LangID)) {
      AddLangStr(row.key, row.english, LangEnglish);
    }
    // Otherwise the language has no text of its own for the key, which keeps its English text.
  }
}

std::vector<LangStr> LangTableEntries() {
  LangLockScope lock;
  return g_langTable;
}

std::vector<LangFiller> LangFillers() {
  LangLockScope lock;
  return g_langFillers ? *g_langFillers : std::vector<LangFiller>{};
}

void InitializeQorLang() {
  if (!g_langLock) g_langLock = std::make_unique<CriticalSection>();
  SetLanguage(static_cast<int>(static_cast<unsigned>(::GetSystemDefaultLangID())));
  RegisterLangFiller(CommonLangFiller);
}

void FinalizeQorLang() {
  g_langFillers.reset();
  g_langTable.clear();
  g_langTable.shrink_to_fit();
  g_currentLanguage = LangEnglish;
  g_langLock.reset();
}

}  // namespace qor
