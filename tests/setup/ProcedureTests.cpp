// The install and uninstall procedure in-process, on the real main window under Xvfb, with the payload
// of the Wine build linked into this test program. The message boxes are read and answered from a
// watcher thread as a user would; the registration seams play what Wine cannot (a declined prompt, a
// standard user, a host server that fails).
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Error.h"
#include "HostServerRegistration.h"
#include "JvqorSelfInfo.h"
#include "PluginInventory.h"
#include "ProcedureTestSupport.h"
#include "QuorvexSetupLang.h"
#include "QuorvexSetupMainFormUnit.h"
#include "QuorvexSetupUtils.h"
#include "SetupModules.h"
#include "SetupProcedure.h"
#include "SetupTestSupport.h"
#include "StandInHostServer.h"
#include "TextCompare.h"
#include "VectorPluginList.h"
#include "qorLang.h"
#include "qorShellBaseExtension.h"

using namespace qor;
using namespace qortest;

namespace {

// What the ShellExecuteExW seam saw, and what it does instead of the real call.
struct StartSeen {
  std::wstring verb, parameters, file;
  int calls = 0;
  HCURSOR cursor = nullptr;  // the cursor while the run is under way
};
StartSeen g_seen;
std::wstring g_replacementProgram;  // started instead of the host server when not empty

BOOL WINAPI ObserveAndStart(SHELLEXECUTEINFOW* info) {
  ++g_seen.calls;
  g_seen.cursor = ::GetCursor();
  g_seen.verb = info->lpVerb ? info->lpVerb : L"";
  g_seen.parameters = info->lpParameters ? info->lpParameters : L"";
  g_seen.file = info->lpFile ? info->lpFile : L"";
  if (g_replacementProgram.empty()) return ::ShellExecuteExW(info);
  SHELLEXECUTEINFOW other = *info;
  other.lpFile = g_replacementProgram.c_str();
  other.lpVerb = nullptr;
  const BOOL ok = ::ShellExecuteExW(&other);
  info->hProcess = other.hProcess;
  return ok;
}
BOOL WINAPI DeclinePrompt(SHELLEXECUTEINFOW* info) {
  ++g_seen.calls;
  g_seen.verb = info->lpVerb ? info->lpVerb : L"";
  g_seen.parameters = info->lpParameters ? info->lpParameters : L"";
  ::SetLastError(ERROR_CANCELLED);
  return FALSE;
}
bool StandardUser() { return false; }

class Procedure : public testing::Test {
 protected:
  static void SetUpTestSuite() { StartSetupModules(); }
  static void TearDownTestSuite() { StopSetupModules(); }
  void SetUp() override {
    SetLanguage(1033);
    g_seen = {};
    g_replacementProgram.clear();
    SetShellExecuteExForTesting(ObserveAndStart);
    RemoveRegistration();
    DeleteFileW(L"C:\\wincmd.ini");
    install = MakeTotalCommanderInstallation(temp.path());
  }
  void TearDown() override {
    SetShellExecuteExForTesting(nullptr);
    SetIsUserAdminForTesting(nullptr);
    RemoveRegistration();
  }
  static void RemoveRegistration() {
    RegDeleteTreeW(HKEY_CURRENT_USER, qor_standin::kClassKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, qor_standin::kClassKey);
  }
  // The main window on the installation, with the items named in untick unticked.
  std::unique_ptr<TForm16> OpenForm(std::initializer_list<const wchar_t*> untick = {}) {
    auto form = CreateForm<TForm16>();
    form->IniFileEdit.SetText(install.ini);
    form->DirEdit.SetText(install.setupFolder);
    for (const wchar_t* caption : untick) {
      bool found = false;
      for (int i = 0; i < form->Plugins().Count(); ++i)
        if (form->Plugins().Caption(i) == caption) {
          ListView_SetCheckState(form->PluginListView, i, FALSE);
          found = true;
        }
      EXPECT_TRUE(found) << testing::PrintToString(caption) << " is listed";
    }
    return form;
  }
  MessageBoxSeen Run(TForm16& form, bool perUser) {
    return RunAnsweringMessageBox(form.Handle(), [&] { RunSetup(form, perUser); });
  }

  TempFolder temp;
  TotalCommanderRegistry registry;
  TotalCommanderInstallation install;
};

}  // namespace

TEST_F(Procedure, InstallForTheCurrentUserWritesTheTickedCopiesAndRemovesTheUnticked) {
  auto form = OpenForm({L"zip.wcx"});
  ASSERT_EQ(form->Plugins().Count(), 3) << "cab, rar, zip; 7zip has a real 64-bit build";
  const DiskState before = DiskState::Of(install.root);

  const MessageBoxSeen box = Run(*form, true);
  EXPECT_EQ(box.caption, L"Information");
  EXPECT_EQ(box.text, L"Installation successful");
  EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_INFORMATION)) << "information icon";
  EXPECT_EQ(box.owner, form->Handle()) << "owned by the main window";
  EXPECT_EQ(g_seen.cursor, LoadCursorW(nullptr, IDC_WAIT)) << "a wait cursor while the run blocks the window";
  EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_WAIT)) << "and the cursor before it afterwards";

  EXPECT_FALSE(Exists(install.Copy(L"zip"))) << "unticked: its earlier copy is deleted";
  for (const wchar_t* name : {L"rar", L"cab"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsProxyPluginCopy(install.Copy(name)));
  }
  EXPECT_EQ(ReadFileBytes(install.Copy(L"7zip")), ReadFileBytes(BinDir() + L"sibling_real.wcx64"))
      << "the real 64-bit build is never touched";
  EXPECT_TRUE(Exists(install.HostServer()));
  EXPECT_TRUE(RegisteredIn(HKEY_CURRENT_USER));
  EXPECT_FALSE(RegisteredIn(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(g_seen.parameters, L"/REGSERVERPERUSER");
  EXPECT_EQ(g_seen.verb, L"");
  EXPECT_TRUE(SameText(g_seen.file, install.HostServer())) << testing::PrintToString(g_seen.file);
  EXPECT_EQ(IniValue(install.ini, L"PackerPlugins64", L"$checksum$"), L"0");

  // Nothing else changed: only the host server, the proxy copies and the one ini key.
  EXPECT_EQ(DiskState::Of(install.root).ChangesFrom(before),
            (std::vector<std::wstring>{L"Plugins\\Quorvex\\Quorvex.exe", L"Plugins\\wcx\\cab\\cab.wcx64",
                                       L"Plugins\\wcx\\rar\\rar.wcx64", L"Plugins\\wcx\\zip\\zip.wcx64",
                                       L"wincmd.ini"}));
  EXPECT_EQ(IniSection(install.ini, L"PackerPlugins"), install.packerPlugins) << "PackerPlugins is never written";
}

TEST_F(Procedure, InstallForAllUsersRegistersForAllUsers) {
  auto form = OpenForm();
  const MessageBoxSeen box = Run(*form, false);
  EXPECT_EQ(box.text, L"Installation successful");
  EXPECT_TRUE(RegisteredIn(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(RegisteredIn(HKEY_CURRENT_USER));
  EXPECT_EQ(g_seen.parameters, L"/REGSERVER");
  EXPECT_EQ(g_seen.verb, L"") << "the Wine user is an administrator: no prompt";
  for (const wchar_t* name : {L"rar", L"cab", L"zip"}) EXPECT_TRUE(IsProxyPluginCopy(install.Copy(name))) << name;
}

TEST_F(Procedure, UninstallForEachScopeRemovesEveryCopyAndTheRegistration) {
  struct Case {
    bool perUser;
    HKEY root;
    const wchar_t* parameters;
  };
  for (const Case& c : {Case{true, HKEY_CURRENT_USER, L"/UNREGSERVERPERUSER"},
                        Case{false, HKEY_LOCAL_MACHINE, L"/UNREGSERVER"}}) {
    SCOPED_TRACE(c.parameters);
    {
      auto form = OpenForm();
      ASSERT_EQ(Run(*form, c.perUser).text, L"Installation successful");
      ASSERT_TRUE(RegisteredIn(c.root));
    }
    auto form = OpenForm({L"cab.wcx", L"rar.wcx", L"zip.wcx"});
    const MessageBoxSeen box = Run(*form, c.perUser);
    EXPECT_EQ(box.caption, L"Information");
    EXPECT_EQ(box.text, L"Uninstallation successful");
    EXPECT_EQ(g_seen.parameters, c.parameters);
    EXPECT_FALSE(RegisteredIn(c.root));
    for (const wchar_t* name : {L"rar", L"cab", L"zip"}) EXPECT_FALSE(Exists(install.Copy(name))) << name;
    EXPECT_TRUE(Exists(install.HostServer())) << "the host server stays after an uninstall";
    EXPECT_EQ(IniValue(install.ini, L"PackerPlugins64", L"$checksum$"), L"0");
  }
}

TEST_F(Procedure, AnEmptyListRunsAnUninstall) {
  WriteFileBytes(install.ini, "[PackerPlugins]\r\n[PackerPlugins64]\r\n$checksum$=7\r\n");
  auto form = OpenForm();
  ASSERT_EQ(form->Plugins().Count(), 0);
  EXPECT_EQ(Run(*form, true).text, L"Uninstallation successful");
  EXPECT_EQ(g_seen.parameters, L"/UNREGSERVERPERUSER");
  EXPECT_TRUE(Exists(install.HostServer()));
  EXPECT_EQ(IniValue(install.ini, L"PackerPlugins64", L"$checksum$"), L"0");
}

TEST_F(Procedure, ASecondRunGivesTheSameStateAndMessage) {
  auto form = OpenForm({L"zip.wcx"});
  ASSERT_EQ(Run(*form, true).text, L"Installation successful");
  const DiskState first = DiskState::Of(install.root);
  EXPECT_EQ(Run(*form, true).text, L"Installation successful");
  EXPECT_EQ(DiskState::Of(install.root).ChangesFrom(first), std::vector<std::wstring>{});
  EXPECT_TRUE(RegisteredIn(HKEY_CURRENT_USER));
}

TEST_F(Procedure, DeclinedElevationStopsSilentlyWithTheHostServerWrittenAndNoCopy) {
  SetIsUserAdminForTesting(StandardUser);
  SetShellExecuteExForTesting(DeclinePrompt);
  const std::string iniBefore = ReadFileBytes(install.ini);
  auto form = OpenForm();
  const MessageBoxSeen box = Run(*form, false);
  EXPECT_FALSE(box.shown) << "no message; seen: " << testing::PrintToString(box.text);
  EXPECT_EQ(g_seen.verb, L"runas");
  EXPECT_EQ(g_seen.parameters, L"/REGSERVER");
  EXPECT_TRUE(Exists(install.HostServer()));
  for (const wchar_t* name : {L"rar", L"cab", L"zip"}) EXPECT_FALSE(Exists(install.Copy(name))) << name;
  EXPECT_EQ(ReadFileBytes(install.ini), iniBefore) << "wincmd.ini unchanged";
  EXPECT_FALSE(RegisteredIn(HKEY_LOCAL_MACHINE));
}

TEST_F(Procedure, HostServerThatFailsShowsErrorServerAndWritesNoCopy) {
  // A program that exits with 5, started in the host server's place.
  g_replacementProgram = BinDir() + L"registration_exit_five.exe";
  for (LANGID lang : {LANGID(1033), LANGID(1049)}) {
    SCOPED_TRACE(lang);
    SetLanguage(lang);
    auto form = OpenForm();
    const MessageBoxSeen box = Run(*form, false);
    EXPECT_EQ(box.caption, GetLangStr(L"CaptionError"));
    EXPECT_EQ(box.text, lang == 1049 ? L"Не удалось установить сервер Quorvex.exe. Произошла ошибка 5"
                                     : L"Could not install server Quorvex.exe. Error: 5");
    EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_ERROR)) << "error icon";
    EXPECT_TRUE(Exists(install.HostServer()));
    for (const wchar_t* name : {L"rar", L"cab", L"zip"}) EXPECT_FALSE(Exists(install.Copy(name))) << name;
    EXPECT_EQ(IniValue(install.ini, L"PackerPlugins64", L"$checksum$"), L"1");
  }
}

TEST_F(Procedure, TheOldHostServerLockedGivesErrorUpdateFileAfterTheCopiesAreGone) {
  WriteFileBytes(install.HostServer(), "old host server");
  HANDLE lock = CreateFileW(install.HostServer().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  auto form = OpenForm();
  const MessageBoxSeen box = Run(*form, true);
  CloseHandle(lock);
  const std::wstring expected = L"Could not update " + install.HostServer() + L". Error: ";
  EXPECT_EQ(box.text.substr(0, expected.size()), expected) << testing::PrintToString(box.text);
  EXPECT_NE(box.text.find(L"System Error.  Code: "), std::wstring::npos) << testing::PrintToString(box.text);
  EXPECT_EQ(box.caption, L"Error");
  EXPECT_FALSE(Exists(install.Copy(L"cab"))) << "every listed copy was deleted before";
  EXPECT_EQ(ReadFileBytes(install.HostServer()), "old host server");
  EXPECT_EQ(g_seen.calls, 0) << "nothing registered";
}

TEST_F(Procedure, ASetupFolderThatCannotBeCreatedGivesThePayloadError) {
  // A file stands where the setup folder's parent should be.
  WriteFileBytes(install.root + L"\\Blocked", "a file, not a folder");
  const std::wstring setupFolder = install.root + L"\\Blocked\\Quorvex";
  auto form = OpenForm();
  form->DirEdit.SetText(setupFolder);
  const MessageBoxSeen box = Run(*form, true);
  const std::wstring expected = L"Cannot create file \"" + setupFolder + L"\\Quorvex.exe\". ";
  EXPECT_EQ(box.text.substr(0, expected.size()), expected) << testing::PrintToString(box.text);
  EXPECT_EQ(box.caption, L"Error");
  EXPECT_EQ(g_seen.calls, 0) << "nothing registered";
  EXPECT_FALSE(Exists(install.Copy(L"cab"))) << "the copies were deleted before";
  EXPECT_EQ(IniValue(install.ini, L"PackerPlugins64", L"$checksum$"), L"1");
}

TEST_F(Procedure, AnUnwritableWincmdIniGivesUnableToWriteWithEverythingElseDone) {
  // Held open without sharing by another program. (A read-only wincmd.ini cannot be shown here: Wine
  // running as root writes through the read-only attribute.)
  auto form = OpenForm();
  HANDLE lock = CreateFileW(install.ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const MessageBoxSeen box = Run(*form, true);
  CloseHandle(lock);
  EXPECT_EQ(box.text, L"Unable to write to " + install.ini);
  EXPECT_EQ(box.caption, L"Error");
  EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_ERROR)) << "error icon";
  EXPECT_TRUE(IsProxyPluginCopy(install.Copy(L"rar"))) << "everything but the ini entry is done";
  EXPECT_TRUE(RegisteredIn(HKEY_CURRENT_USER));
  EXPECT_EQ(IniValue(install.ini, L"PackerPlugins64", L"$checksum$"), L"1");
}

TEST_F(Procedure, TheChecksumGoesWhereTheSectionIsRedirected) {
  const std::string ini = ReadFileBytes(install.ini);
  WriteFileBytes(install.ini, ini.substr(0, ini.find("[PackerPlugins64]")) +
                                  "[PackerPlugins64]\r\nRedirectSection=%QOR_REDIRECT_DIR%\\plugins64.ini\r\n");
  SetEnvironmentVariableW(L"QOR_REDIRECT_DIR", L"sub");
  WriteFileBytes(install.root + L"\\sub\\plugins64.ini", "[PackerPlugins64]\r\n$checksum$=9\r\n");
  auto form = OpenForm();
  EXPECT_EQ(Run(*form, true).text, L"Installation successful");
  SetEnvironmentVariableW(L"QOR_REDIRECT_DIR", nullptr);
  EXPECT_EQ(IniValue(install.root + L"\\sub\\plugins64.ini", L"PackerPlugins64", L"$checksum$"), L"0");
  EXPECT_EQ(IniValue(install.ini, L"PackerPlugins64", L"$checksum$"), L"") << "wincmd.ini keeps its redirect only";
}

TEST_F(Procedure, RefusesBeforeAnythingIsTouched) {
  struct Case {
    const char* name;
    std::wstring ini, setupFolder, expected;
  };
  const std::wstring notFull =
      L" is not a full path. A full path begins with a drive (C:\\) or a network share (\\\\server\\share).";
  const Case cases[] = {
      {"empty ini path", L"", install.setupFolder, L"Choose the wincmd.ini file first."},
      {"relative ini path", L"wincmd.ini", install.setupFolder, L"wincmd.ini" + notFull},
      {"empty setup folder", install.ini, L"", L"Choose the setup path first."},
      {"relative setup folder", install.ini, L"Plugins\\Quorvex", L"Plugins\\Quorvex" + notFull},
      {"drive-relative setup folder", install.ini, L"C:Quorvex", L"C:Quorvex" + notFull},
      {"rooted setup folder without a drive", install.ini, L"\\Quorvex", L"\\Quorvex" + notFull},
  };
  auto form = OpenForm();
  const DiskState before = DiskState::Of(install.root);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      RunSetupSteps(form->Plugins(), c.ini, c.setupFolder, true);
      ADD_FAILURE() << "the run was not refused";
    } catch (const qor::Error& e) {
      EXPECT_EQ(e.message(), c.expected);
    }
    EXPECT_EQ(DiskState::Of(install.root).ChangesFrom(before), std::vector<std::wstring>{});
    EXPECT_EQ(g_seen.calls, 0);
  }
}

TEST_F(Procedure, ATickedPluginWithoutAFullPathIsRefusedAndPassedOverWhenUnticked) {
  const std::string ini = ReadFileBytes(install.ini);
  WriteFileBytes(install.ini, "[PackerPlugins]\r\nbare=287,bare.wcx\r\n" + ini.substr(ini.find("zip=")));
  const DiskState before = DiskState::Of(install.root);
  {
    auto form = OpenForm();
    ASSERT_EQ(form->Plugins().Count(), 4);
    const MessageBoxSeen box = Run(*form, true);
    EXPECT_EQ(box.text, L"The plugin bare.wcx has no full path in wincmd.ini. Untick it or correct its entry "
                        L"in wincmd.ini.");
    EXPECT_EQ(box.caption, L"Error");
    EXPECT_EQ(DiskState::Of(install.root).ChangesFrom(before), std::vector<std::wstring>{});
    EXPECT_EQ(g_seen.calls, 0);
  }
  auto form = OpenForm({L"bare.wcx"});
  EXPECT_EQ(Run(*form, true).text, L"Installation successful");
  EXPECT_TRUE(IsProxyPluginCopy(install.Copy(L"rar")));
}

TEST_F(Procedure, ARealSixtyFourBitBuildPutThereAfterTheScanIsLeftAlone) {
  auto form = OpenForm({L"zip.wcx"});
  ASSERT_TRUE(CopyFileW((BinDir() + L"sibling_real.wcx64").c_str(), install.Copy(L"zip").c_str(), FALSE));
  const DiskState before = DiskState::Of(install.root);
  const MessageBoxSeen box = Run(*form, true);
  EXPECT_EQ(box.text, install.Copy(L"zip") + L" is a 64-bit plugin, not a copy of the proxy plugin, and is left "
                                             L"alone. Start the setup again to see the plugins it can serve.");
  EXPECT_EQ(DiskState::Of(install.root).ChangesFrom(before), std::vector<std::wstring>{});
}

TEST_F(Procedure, TheSameInstallInRussian) {
  SetLanguage(1049);
  auto form = OpenForm();
  const MessageBoxSeen box = Run(*form, true);
  EXPECT_EQ(box.caption, GetLangStr(L"CaptionInfo"));
  EXPECT_EQ(box.text, L"Инсталляция произведена успешно.");
}

TEST(FullyQualifiedPath, OnlyPathsThatNameOnePlace) {
  struct Case {
    const wchar_t* path;
    bool full;
  };
  const Case cases[] = {
      {L"C:\\TC\\x.wcx64", true}, {L"c:\\", true},          {L"\\\\server\\share\\x", true},
      {L"\\\\?\\C:\\x", true},    {L"C:x.wcx64", false},    {L"\\TC\\x.wcx64", false},
      {L"x.wcx64", false},        {L"", false},             {L"\\\\server", false},
      {L"\\\\server\\", false},   {L"\\\\\\share", false},  {L"1:\\x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsFullyQualifiedPath(c.path), c.full) << testing::PrintToString(c.path);
}
