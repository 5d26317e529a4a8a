// The language catalogue and the setup texts: language choice, the six languages' texts, table
// layout after start-up, re-entrant lookups from fillers, and the synchronous window broadcast.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Handles.h"
#include "LangTestSupport.h"
#include "LangWindows.h"
#include "QuorvexSetupLang.h"
#include "qorLang.h"

namespace qor {
namespace {

using qortest::CodeUnits;

// Runs fn on a thread of its own and gives it timeoutMs to finish, handling the calling thread's
// sent messages meanwhile (fn may send to this thread's windows). A lookup that deadlocks would
// otherwise hang the whole run: on timeout the failure is printed and the process ends.
void RunWithDeadline(const std::function<void()>& fn, DWORD timeoutMs, const char* what) {
  HANDLE thread = ::CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        (*static_cast<const std::function<void()>*>(p))();
        return 0;
      },
      const_cast<std::function<void()>*>(&fn), 0, nullptr);
  ASSERT_NE(thread, nullptr) << "CreateThread failed, error " << ::GetLastError();
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD wait = ::MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
    if (wait == WAIT_OBJECT_0) break;
    if (wait == WAIT_OBJECT_0 + 1) {
      MSG msg;
      ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // handles sent messages
      continue;
    }
    std::printf("FATAL: %s did not finish within %lu ms (deadlock?), wait result %lu\n", what,
                static_cast<unsigned long>(timeoutMs), static_cast<unsigned long>(wait));
    std::fflush(stdout);
    ::TerminateProcess(::GetCurrentProcess(), 3);
  }
  ::CloseHandle(thread);
}

// The catalogue after the program's start-up sequence (the test process runs with an English
// system language).
class LangCatalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeQorLang();
    InitializeQuorvexSetupLang();
  }
  void TearDown() override {
    FinalizeQuorvexSetupLang();
    FinalizeQorLang();
  }
};

// ---------------------------------------------------------------------------------------------
// Language choice

TEST_F(LangCatalogue, EveryLanguageIdMapsToItsCatalogueLanguage) {
  struct Case {
    int expected;
    std::vector<int> ids;
  };
  const Case cases[] = {
      {1031, {1031, 2055, 3079, 4103, 5127}},
      {1034, {1034,  2058,  3082,  4106,  5130,  6154,  7178,  8202,  9226,  10250,
              11274, 12298, 13322, 14346, 15370, 16394, 17418, 18442, 19466, 20490}},
      {1036, {1036, 2060, 3084, 4108, 5132, 6156}},
      {1041, {1041}},
      {1049, {1049, 1058, 1059}},
      // English itself, and IDs the mapping does not list: Portuguese (Brazil), Spanish (United
      // States), French (Caribbean), English (UK), Italian, Japanese sublanguage 2, Russian
      // (Moldova), the neutral German 7, zero, out-of-range values.
      {1033, {1033, 1046, 21514, 7180, 2057, 1040, 2065, 2073, 7, 0, 0xFFFF, 0x10407, -1}},
  };
  for (const auto& c : cases) {
    for (int id : c.ids) {
      SCOPED_TRACE("language ID " + std::to_string(id));
      // Start from a language that differs from the expected one, so a stale value cannot pass.
      SetLanguage(c.expected == 1049 ? 1031 : 1049);
      SetLanguage(id);
      EXPECT_EQ(CurrentLanguage(), c.expected);
      EXPECT_EQ(CatalogueLanguageFor(id), c.expected);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Texts per language

struct LanguageTexts {
  int langId;
  const char* name;
  // ButtonCancel, CaptionInfo, CaptionWarning, CaptionError, AboutVersion, AboutBuildTime. The
  // Russian and Japanese texts are spelled as escapes so that the comparison does not depend on the
  // charset with which any source file is read.
  const wchar_t* common[6];
  // The common keys without a text of their own in this language.
  std::set<std::wstring> untranslated;
};

const wchar_t* const kSetupUsedCommonKeys[6] = {L"ButtonCancel", L"CaptionInfo",  L"CaptionWarning",
                                                L"CaptionError", L"AboutVersion", L"AboutBuildTime"};

const std::set<std::wstring> kUntranslatedFrench = {
    L"ButtonSelectAll", L"ButtonDeselectAll", L"ButtonRefresh", L"MenuFileSaveAs", L"MenuFileSaveAll",
    L"MenuFileExport", L"MenuOptionsLang", L"MenuHelpCheckUpdatesAtStartup",
    L"MenuHelpCheckUpdatesAtStartupAsk", L"NewVersionError", L"URLMainPage", L"URLHomePage",
    L"URLDownloadPage", L"URLSupportEMail"};

std::set<std::wstring> WithoutOptionsLang(std::set<std::wstring> keys) {
  keys.erase(L"MenuOptionsLang");
  return keys;
}

const std::vector<LanguageTexts>& AllLanguages() {
  static const std::vector<LanguageTexts> languages = {
      {1033, "English",
       {L"Cancel", L"Information", L"Warning", L"Error", L"Version %s", L"Build time %s"},
       {}},
      {1049, "Russian",
       {L"\u041E\u0442\u043C\u0435\u043D\u0430", L"\u0418\u043D\u0444\u043E\u0440\u043C\u0430\u0446\u0438\u044F",
        L"\u041F\u0440\u0435\u0434\u0443\u043F\u0440\u0435\u0436\u0434\u0435\u043D\u0438\u0435",
        L"\u041E\u0448\u0438\u0431\u043A\u0430", L"\u0412\u0435\u0440\u0441\u0438\u044F %s",
        L"\u0414\u0430\u0442\u0430 \u043A\u043E\u043C\u043F\u0438\u043B\u044F\u0446\u0438\u0438 %s"},
       {}},
      {1036, "French",
       {L"Annuler", L"Information", L"Avertissement", L"Erreur", L"Version %s",
        L"Temps de construction %s"},
       kUntranslatedFrench},
      {1034, "Spanish",
       {L"Cancelar", L"Informaci\u00F3n", L"Advertencia", L"Error", L"Versi\u00F3n %s",
        L"Fecha de creaci\u00F3n %s"},
       WithoutOptionsLang(kUntranslatedFrench)},
      {1031, "German",
       {L"Abbrechen", L"Information", L"Warnung", L"Fehler", L"Version %s", L"Erstellungszeit %s"},
       WithoutOptionsLang(kUntranslatedFrench)},
      {1041, "Japanese",
       {L"\u30AD\u30E3\u30F3\u30BB\u30EB", L"\u60C5\u5831", L"\u8B66\u544A", L"\u30A8\u30E9\u30FC",
        L"\u30D0\u30FC\u30B8\u30E7\u30F3 %s", L"\u30D3\u30EB\u30C9\u6642\u523B %s"},
       WithoutOptionsLang(kUntranslatedFrench)},
  };
  return languages;
}

// The common table in its order, with its English texts.
const std::vector<std::pair<std::wstring, std::wstring>>& EnglishCommonTable() {
  static const std::vector<std::pair<std::wstring, std::wstring>> table = {
      {L"ButtonYes", L"Yes"},
      {L"ButtonNo", L"No"},
      {L"ButtonOk", L"Ok"},
      {L"ButtonCancel", L"Cancel"},
      {L"ButtonAbort", L"Abort"},
      {L"ButtonRetry", L"Retry"},
      {L"ButtonIgnore", L"Ignore"},
      {L"ButtonAll", L"All"},
      {L"ButtonNoToAll", L"No to all"},
      {L"ButtonYesToAll", L"Yes to all"},
      {L"ButtonHelp", L"Help"},
      {L"ButtonClose", L"Close"},
      {L"ButtonExit", L"Exit"},
      {L"ButtonStop", L"Stop"},
      {L"ButtonSelectAll", L"Select all"},
      {L"ButtonDeselectAll", L"Deselect all"},
      {L"ButtonCopy", L"Copy"},
      {L"ButtonRefresh", L"Refresh"},
      {L"CaptionInfo", L"Information"},
      {L"CaptionConfirmation", L"Confirmation"},
      {L"CaptionWarning", L"Warning"},
      {L"CaptionError", L"Error"},
      {L"MaskAllFiles", L"All files"},
      {L"MaskAllSupportedFiles", L"All supported files"},
      {L"MaskFile", L" file"},
      {L"MenuFile", L"File"},
      {L"MenuFileNew", L"New"},
      {L"MenuFileOpen", L"Open..."},
      {L"MenuFileMerge", L"Merge with..."},
      {L"MenuFileReopen", L"Reopen"},
      {L"MenuFileSave", L"Save"},
      {L"MenuFileSaveAs", L"Save as..."},
      {L"MenuFileSaveAll", L"Save all"},
      {L"MenuFileClose", L"Close"},
      {L"MenuFileExport", L"Export"},
      {L"MenuFileExit", L"Exit"},
      {L"MenuEdit", L"Edit"},
      {L"MenuEditCopy", L"Copy"},
      {L"MenuEditCopyEx", L"Copy '%s'"},
      {L"MenuEditCut", L"Cut"},
      {L"MenuEditPaste", L"Paste"},
      {L"MenuView", L"View"},
      {L"MenuOptions", L"Options"},
      {L"MenuOptionsLang", L"Language"},
      {L"MenuOptionsSaveLang", L"Save lang file"},
      {L"MenuHelp", L"Help"},
      {L"MenuHelpHomePage", L"Home page"},
      {L"MenuHelpUpdate", L"Check updates"},
      {L"MenuHelpUpdate2", L"Checking for updates"},
      {L"MenuHelpCheckUpdatesAtStartup", L"Check updates at startup"},
      {L"MenuHelpCheckUpdatesAtStartupAsk", L"Would you like to check updates at startup?"},
      {L"MenuHelpAbout", L"About"},
      {L"About", L"About"},
      {L"AboutVersion", L"Version %s"},
      {L"AboutBuildTime", L"Build time %s"},
      {L"URLMainPage", L""},
      {L"URLHomePage", L""},
      {L"URLDownloadPage", L""},
      {L"URLSupportEMail", L""},
      {L"Unnamed", L"Unnamed %s"},
      {L"SaveChangesToFilename", L"Save changes to %s?"},
      {L"Progress", L"Progress"},
      {L"RemainedTime", L"Remaining time: %s"},
      {L"Calculated", L"calculated"},
      {L"Hour", L"hour"},
      {L"Min", L"min"},
      {L"Sec", L"sec"},
      {L"NewVersion",
       L"The current installed version is %s.\n\rThe latest version available for download is %s.\n\r\n\r"
       L"Would you like to go to the download page?"},
      {L"NewVersionNo", L"Your version is most current."},
      {L"NewVersionError",
       L"Could not start the browser. You can go to the download page yourself. For that, copy the link "
       L"from the below field into the clipboard, start the browser and insert the link into the "
       L"corresponding browser field."},
  };
  return table;
}

struct SetupText {
  const wchar_t* key;
  const wchar_t* english;
  const wchar_t* russian;
};

// The setup table in its order. Two Russian texts are spelled as escapes (see LanguageTexts).
const SetupText kSetupTexts[] = {
    {L"IniFilePosition", L"Location of the wincmd.ini file", L"Расположение файла wincmd.ini"},
    {L"OpenDialogCaption", L"Select the wincmd.ini file", L"Выберите файл wincmd.ini"},
    {L"PluginList", L"WCX plugins without 64 bit version", L"WCX плагины без 64 битной версии"},
    {L"PluginListFileName", L"Filename", L"Имя файла"},
    {L"PluginListFilePath", L"Path", L"Директория"},
    {L"InstallButtonAllUser", L"Install for all users", L"Инсталлировать для всех пользователей"},
    {L"InstallButtonCurrentUser", L"Install for current user only", L"Инсталлировать только для текущего пользователя"},
    {L"UninstallButtonAllUser", L"Uninstall for all users", L"Деинсталлировать для всех пользователей"},
    {L"UninstallButtonCurrentUser", L"Uninstall for current user only", L"Деинсталлировать только для текущего пользователя"},
    {L"SetupPath", L"Setup path",
     L"\u0414\u0438\u0440\u0435\u043A\u0442\u043E\u0440\u0438\u044F \u0443\u0441\u0442\u0430\u043D\u043E\u0432\u043A\u0438"},
    {L"CloseProcesses", L"To continue installation, you need to end the following processes:",
     L"Для продолжения установки необходимо закрыть следующие процессы:"},
    {L"ErrorUpdateFile", L"Could not update %s. Error: %s", L"Не удалось обновить файл %s. Произошла ошибка %s"},
    {L"ErrorServer", L"Could not install server %s. Error: %d", L"Не удалось установить сервер %s. Произошла ошибка %d"},
    {L"InstallSuccessful", L"Installation successful",
     L"\u0418\u043D\u0441\u0442\u0430\u043B\u043B\u044F\u0446\u0438\u044F \u043F\u0440\u043E\u0438\u0437\u0432\u0435\u0434\u0435\u043D\u0430 \u0443\u0441\u043F\u0435\u0448\u043D\u043E."},
    {L"UninstallSuccessful", L"Uninstallation successful", L"Деинсталляция произведена успешно."},
    // Refusals before a run touches anything.
    {L"ErrorNoIniFile", L"Choose the wincmd.ini file first.", L"Сначала выберите файл wincmd.ini."},
    {L"ErrorNoSetupPath", L"Choose the setup path first.", L"Сначала выберите директорию установки."},
    // %s: the path as it stands.
    {L"ErrorPathNotFull", L"%s is not a full path. A full path begins with a drive (C:\\) or a network share (\\\\server\\share).",
     L"%s не является полным путём. Полный путь начинается с диска (C:\\) или сетевого ресурса (\\\\server\\share)."},
    // %s: the plugin as wincmd.ini names it.
    {L"ErrorPluginPathNotFull", L"The plugin %s has no full path in wincmd.ini. Untick it or correct its entry in wincmd.ini.",
     L"Плагин %s указан в wincmd.ini без полного пути. Снимите с него отметку или исправьте его запись в wincmd.ini."},
    // %s: the ".wcx64" file.
    {L"ErrorNotProxyCopy", L"%s is a 64-bit plugin, not a copy of the proxy plugin, and is left alone. Start the setup again to see the plugins it can serve.",
     L"%s является 64-битным плагином, а не копией прокси-плагина, и не будет изменён. Запустите установку заново, чтобы увидеть плагины, которые она может обслужить."},
};

std::map<std::wstring, LangStr> ByName(const std::vector<LangStr>& entries) {
  std::map<std::wstring, LangStr> m;
  for (const auto& e : entries) m[e.Name] = e;
  return m;
}

TEST_F(LangCatalogue, EachLanguageGivesItsTextsAndKeepsEnglishWhereItHasNone) {
  for (const auto& lang : AllLanguages()) {
    SCOPED_TRACE(lang.name);
    SetLanguage(lang.langId);
    ASSERT_EQ(CurrentLanguage(), lang.langId);

    for (int i = 0; i < 6; ++i) {
      SCOPED_TRACE(kSetupUsedCommonKeys[i]);
      EXPECT_EQ(CodeUnits(GetLangStr(kSetupUsedCommonKeys[i])), CodeUnits(lang.common[i]));
    }

    const bool russian = lang.langId == 1049;
    for (const auto& s : kSetupTexts) {
      SCOPED_TRACE(s.key);
      EXPECT_EQ(CodeUnits(GetLangStr(s.key)), CodeUnits(russian ? s.russian : s.english));
    }

    // Which keys carry a text of the language itself shows in the language ID of their entry; the
    // untranslated ones keep the English text and its ID.
    const auto entries = ByName(LangTableEntries());
    for (const auto& [key, english] : EnglishCommonTable()) {
      SCOPED_TRACE(key);
      const auto it = entries.find(key);
      ASSERT_NE(it, entries.end());
      if (lang.langId == 1033 || lang.untranslated.count(key)) {
        EXPECT_EQ(it->second.Value, english);
        EXPECT_EQ(it->second.LandID, 1033);
      } else {
        EXPECT_EQ(it->second.LandID, lang.langId) << "no text of its own";
        // Placeholders survive translation: the same number of %s, no stray printf directives.
        const auto count = [](const std::wstring& s, const std::wstring& what) {
          size_t n = 0;
          for (size_t p = s.find(what); p != std::wstring::npos; p = s.find(what, p + what.size())) ++n;
          return n;
        };
        EXPECT_EQ(count(it->second.Value, L"%s"), count(english, L"%s")) << it->second.Value;
        EXPECT_EQ(count(it->second.Value, L"%"), count(english, L"%")) << it->second.Value;
        if (!english.empty()) {
          EXPECT_FALSE(it->second.Value.empty());
        }
      }
    }

    // The web addresses are empty in every language: an empty text, not the key.
    for (const wchar_t* key : {L"URLMainPage", L"URLHomePage", L"URLDownloadPage", L"URLSupportEMail"}) {
      SCOPED_TRACE(key);
      EXPECT_EQ(GetLangStr(key), L"");
    }

    // Keys no table defines, and keys in the wrong case, come back unchanged.
    for (const wchar_t* key : {L"NoSuchKey", L"buttoncancel", L"BUTTONCANCEL", L"ButtonCancel ",
                               L" SetupPath", L"setuppath", L""}) {
      SCOPED_TRACE(key);
      EXPECT_EQ(GetLangStr(key), key);
    }
  }
}

TEST_F(LangCatalogue, NewVersionKeepsItsLineFeedCarriageReturnBreaksInEveryLanguage) {
  for (const auto& lang : AllLanguages()) {
    SCOPED_TRACE(lang.name);
    SetLanguage(lang.langId);
    const std::wstring text = GetLangStr(L"NewVersion");
    // Three lines and an empty one, each break LF then CR.
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t p; (p = text.find(L"\n\r", start)) != std::wstring::npos; start = p + 2)
      lines.push_back(text.substr(start, p - start));
    lines.push_back(text.substr(start));
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_NE(lines[0].find(L"%s"), std::wstring::npos) << text;
    EXPECT_NE(lines[1].find(L"%s"), std::wstring::npos) << text;
    EXPECT_EQ(lines[2], L"");
    EXPECT_FALSE(lines[3].empty());
    for (const auto& line : lines) {
      EXPECT_EQ(line.find_first_of(L"\r\n"), std::wstring::npos) << "stray break in " << text;
    }
  }
}

TEST_F(LangCatalogue, StartUpLeavesTheCommonKeysThenTheSetupKeysEachOnce) {
  ASSERT_EQ(CurrentLanguage(), 1033) << "the test process is expected to run with an English system";
  const auto entries = LangTableEntries();
  const auto& common = EnglishCommonTable();
  ASSERT_EQ(common.size(), 70u);
  ASSERT_EQ(entries.size(), 70u + std::size(kSetupTexts));
  for (size_t i = 0; i < common.size(); ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(entries[i].Name, common[i].first);
    EXPECT_EQ(entries[i].Value, common[i].second);
    EXPECT_EQ(entries[i].LandID, 1033);
  }
  for (size_t i = 0; i < std::size(kSetupTexts); ++i) {
    SCOPED_TRACE(kSetupTexts[i].key);
    EXPECT_EQ(entries[70 + i].Name, kSetupTexts[i].key);
    EXPECT_EQ(entries[70 + i].Value, kSetupTexts[i].english);
  }
  EXPECT_EQ(GetLangStr(L"SetupPath"), L"Setup path");
  EXPECT_EQ(LangFillers(), (std::vector<LangFiller>{CommonLangFiller, SetupLangFiller}));

  // A language change rebuilds the same layout: Russian replaces the texts in place.
  SetLanguage(1058);
  const auto russian = LangTableEntries();
  ASSERT_EQ(russian.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(russian[i].Name, entries[i].Name);
  }
  EXPECT_EQ(russian[70 + 9].LandID, 1049);
}

TEST_F(LangCatalogue, RegisteringAFillerTwiceLeavesTheContentsUnchanged) {
  for (int langId : {1033, 1049, 1041}) {
    SCOPED_TRACE(langId);
    FinalizeQuorvexSetupLang();
    FinalizeQorLang();
    InitializeQorLang();
    InitializeQuorvexSetupLang();
    SetLanguage(langId);
    const auto before = LangTableEntries();

    RegisterLangFiller(CommonLangFiller);
    RegisterLangFiller(SetupLangFiller);

    const auto after = LangTableEntries();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
      SCOPED_TRACE(i + 1);
      EXPECT_EQ(after[i].Name, before[i].Name);
      EXPECT_EQ(after[i].Value, before[i].Value);
      EXPECT_EQ(after[i].LandID, before[i].LandID);
    }
    EXPECT_EQ(LangFillers(), (std::vector<LangFiller>{CommonLangFiller, SetupLangFiller, CommonLangFiller,
                                                      SetupLangFiller}));
  }
}

TEST_F(LangCatalogue, AddLangStrReplacesInPlaceAndAppendsNewKeys) {
  const auto before = LangTableEntries();
  AddLangStr(L"CaptionWarning", L"Achtung", 1031);
  AddLangStr(L"captionwarning", L"lower", 1033);  // a different key
  const auto after = LangTableEntries();
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after[20].Name, L"CaptionWarning");
  EXPECT_EQ(after[20].Value, L"Achtung");
  EXPECT_EQ(after[20].LandID, 1031);
  EXPECT_EQ(after.back().Name, L"captionwarning");
  EXPECT_EQ(GetLangStr(L"CaptionWarning"), L"Achtung");
  EXPECT_EQ(GetLangStr(L"captionwarning"), L"lower");
  AddLangStr(L"CaptionWarning", L"", 1031);
  EXPECT_EQ(GetLangStr(L"CaptionWarning"), L"") << "an empty text is a text, not a missing key";
}

TEST(LangCatalogueLifecycle, BeforeStartUpAndAfterShutDownEveryKeyComesBackUnchanged) {
  EXPECT_EQ(GetLangStr(L"ButtonCancel"), L"ButtonCancel");
  EXPECT_TRUE(LangTableEntries().empty());
  InitializeQorLang();
  InitializeQuorvexSetupLang();
  SetLanguage(1031);
  EXPECT_EQ(GetLangStr(L"ButtonCancel"), L"Abbrechen");
  FinalizeQuorvexSetupLang();
  FinalizeQorLang();
  EXPECT_EQ(GetLangStr(L"ButtonCancel"), L"ButtonCancel");
  EXPECT_TRUE(LangTableEntries().empty());
  EXPECT_TRUE(LangFillers().empty());
  EXPECT_EQ(CurrentLanguage(), 1033);
}

// ---------------------------------------------------------------------------------------------
// Re-entrant lookups

std::vector<std::wstring> g_lookedUpInFiller;

void LookingUpFiller(int LangID) {
  g_lookedUpInFiller.push_back(GetLangStr(L"ButtonCancel"));
  AddLangStr(L"FillerProbe", LangID == 1031 ? L"deutsch" : L"english", LangID);
}

TEST_F(LangCatalogue, AFillerMayLookTextsUpWhileTheTableIsRebuilt) {
  g_lookedUpInFiller.clear();
  RunWithDeadline([] { RegisterLangFiller(LookingUpFiller); }, 10000, "RegisterLangFiller");
  EXPECT_EQ(g_lookedUpInFiller, (std::vector<std::wstring>{L"Cancel", L"Cancel"}));
  g_lookedUpInFiller.clear();
  RunWithDeadline([] { SetLanguage(2055); }, 10000, "SetLanguage");
  // Run with 1033 and then 1031, both times after the common filler, registered first, has filled
  // the table in English and German.
  EXPECT_EQ(g_lookedUpInFiller, (std::vector<std::wstring>{L"Abbrechen", L"Abbrechen"}));
  EXPECT_EQ(GetLangStr(L"FillerProbe"), L"deutsch");
}

struct ConcurrentReader {
  std::atomic<bool> stop{false};
  std::atomic<int> lookups{0};
  std::atomic<int> bad{0};
  std::wstring firstBad;

  static DWORD WINAPI Run(void* p) {
    auto* self = static_cast<ConcurrentReader*>(p);
    while (!self->stop.load()) {
      const std::wstring t = GetLangStr(L"CaptionError");
      if (t != L"Error" && t != L"Fehler" && self->bad.fetch_add(1) == 0) self->firstBad = t;
      self->lookups.fetch_add(1);
    }
    return 0;
  }
};

TEST_F(LangCatalogue, LookupsFromAnotherThreadDuringRebuildsSeeAWholeTable) {
  ConcurrentReader reader;
  HANDLE thread = ::CreateThread(nullptr, 0, ConcurrentReader::Run, &reader, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  for (int i = 0; i < 200 || (reader.lookups.load() < 1000 && i < 1000000); ++i) SetLanguage(i % 2 ? 1031 : 1033);
  reader.stop = true;
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  EXPECT_GT(reader.lookups.load(), 0);
  EXPECT_EQ(reader.bad.load(), 0) << "a lookup saw \"" << std::string(reader.firstBad.begin(), reader.firstBad.end())
                                  << "\" (the key or nothing) while the table was rebuilt";
}

// ---------------------------------------------------------------------------------------------
// The broadcast to the open windows

struct Received {
  HWND window;
  WPARAM wParam;
  LPARAM lParam;
  DWORD thread;
  std::wstring captionWarning;  // looked up while handling the message
};
CriticalSection g_receivedLock;
std::vector<Received> g_received;

LRESULT CALLBACK RecordingWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == CM_SYSFONTCHANGED) {
    Received r{hwnd, wParam, lParam, ::GetCurrentThreadId(), GetLangStr(L"CaptionWarning")};
    LockGuard g(g_receivedLock);
    g_received.push_back(r);
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

const wchar_t kRecordingClass[] = L"QorLangTestRecordingWindow";

void RegisterRecordingClass() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = RecordingWndProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kRecordingClass;
  ::RegisterClassW(&wc);  // a second registration fails harmlessly
}

HWND CreateRecordingWindow() {
  return ::CreateWindowExW(0, kRecordingClass, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           ::GetModuleHandleW(nullptr), nullptr);
}

// A window owned by a thread of its own, which pumps messages until told to quit.
struct ForeignWindow {
  HANDLE thread = nullptr;
  DWORD threadId = 0;
  HWND window = nullptr;
  HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

  void Start() {
    thread = ::CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
          auto* self = static_cast<ForeignWindow*>(p);
          self->window = CreateRecordingWindow();
          ::SetEvent(self->ready);
          MSG msg;
          while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
          ::DestroyWindow(self->window);
          return 0;
        },
        this, 0, &threadId);
    ::WaitForSingleObject(ready, 10000);
  }
  void Stop() {
    ::PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    ::WaitForSingleObject(thread, 10000);
    ::CloseHandle(thread);
    ::CloseHandle(ready);
  }
};

TEST_F(LangCatalogue, LanguageChangeReachesEveryOpenWindowSynchronouslyInJoiningOrder) {
  RegisterRecordingClass();
  HWND first = CreateRecordingWindow();
  HWND second = CreateRecordingWindow();
  ForeignWindow foreign;
  foreign.Start();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(foreign.window, nullptr);
  HWND notJoined = CreateRecordingWindow();

  // The other thread's window joins between the two: the order is the joining order.
  JoinLangWindows(second);
  JoinLangWindows(foreign.window);
  JoinLangWindows(first);
  {
    LockGuard g(g_receivedLock);
    g_received.clear();
  }

  // Runs on a thread of its own so that a lock held during the broadcast (the foreign window looks a
  // text up) shows as a timeout instead of a hang. Every window, the foreign one included, has
  // handled the message by the time SetLanguage returns.
  std::vector<Received> seen;
  RunWithDeadline(
      [&] {
        SetLanguage(1031);
        LockGuard g(g_receivedLock);
        seen = g_received;
      },
      10000, "SetLanguage with open windows");

  ASSERT_EQ(seen.size(), 3u);
  const HWND expectedOrder[] = {second, foreign.window, first};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].window, expectedOrder[i]);
    EXPECT_EQ(seen[i].wParam, 0u);
    EXPECT_EQ(seen[i].lParam, 0);
    EXPECT_EQ(seen[i].captionWarning, L"Warnung") << "the window must see the rebuilt table";
  }
  EXPECT_EQ(seen[1].thread, foreign.threadId);

  // Registering a filler tells the windows too; a window that left hears nothing more.
  LeaveLangWindows(foreign.window);
  {
    LockGuard g(g_receivedLock);
    g_received.clear();
  }
  RunWithDeadline([] { InitializeQuorvexSetupLang(); }, 10000, "RegisterLangFiller with open windows");
  {
    LockGuard g(g_receivedLock);
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_EQ(g_received[0].window, second);
    EXPECT_EQ(g_received[1].window, first);
  }

  LeaveLangWindows(first);
  LeaveLangWindows(second);
  foreign.Stop();
  ::DestroyWindow(first);
  ::DestroyWindow(second);
  ::DestroyWindow(notJoined);
}

}  // namespace
}  // namespace qor
