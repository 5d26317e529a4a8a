#include <gtest/gtest.h>
#include <shlobj.h>

#include "FileSystem.h"
#include "QuorvexSetupUtils.h"
#include "SetupTestSupport.h"
#include "TotalCommanderLocation.h"
#include "qorShellBaseExtension.h"

using namespace qor;
using namespace qortest;

class Location : public testing::Test {
 protected:
  void SetUp() override {
    InitializeShellBaseExtension();
    InitializeQuorvexSetupUtils();
    SetEnvironmentVariableW(L"QOR_TESTROOT", temp.path().c_str());
    SetEnvironmentVariableW(L"COMMANDER_PATH", nullptr);
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"QOR_TESTROOT", nullptr);
    FinalizeQuorvexSetupUtils();
    FinalizeShellBaseExtension();
  }
  TempFolder temp;
  TotalCommanderRegistry registry;
};

struct ProgramDirCase {
  const char* what;
  std::string configuration;  // the program folder's wincmd.ini; empty: no file
  const wchar_t* iniFileName;  // HKCU IniFileName; null: absent
  bool otherExists;            // the file IniFileName names exists
  enum { kProgramDirIni, kOtherIni, kNothing } expected;
};

TEST_F(Location, IniFileForProgramDirFollowsTheFlagAndTheRegistry) {
  const ProgramDirCase cases[] = {
      {"flag 4", "[Configuration]\r\nUseIniInProgramDir=4\r\n", L"%QOR_TESTROOT%\\user\\wincmd.ini", true,
       ProgramDirCase::kProgramDirIni},
      {"flag 0x5", "[Configuration]\r\nUseIniInProgramDir=0x5\r\n", L"%QOR_TESTROOT%\\user\\wincmd.ini", true,
       ProgramDirCase::kProgramDirIni},
      {"flag $5", "[Configuration]\r\nUseIniInProgramDir=$5\r\n", nullptr, false, ProgramDirCase::kProgramDirIni},
      {"flag 7 with blanks", "[Configuration]\r\nUseIniInProgramDir= 7\r\n", nullptr, false,
       ProgramDirCase::kProgramDirIni},
      {"flag 1: registry file", "[Configuration]\r\nUseIniInProgramDir=1\r\n", L"%QOR_TESTROOT%\\user\\wincmd.ini",
       true, ProgramDirCase::kOtherIni},
      {"flag absent: registry file", "[Configuration]\r\nOther=4\r\n", L"%QOR_TESTROOT%\\user\\wincmd.ini", true,
       ProgramDirCase::kOtherIni},
      {"garbage flag counts as 0", "[Configuration]\r\nUseIniInProgramDir=4abc\r\n",
       L"%QOR_TESTROOT%\\user\\wincmd.ini", true, ProgramDirCase::kOtherIni},
      {"flag clear, no registry value: nothing", "[Configuration]\r\nUseIniInProgramDir=0\r\n", nullptr, false,
       ProgramDirCase::kNothing},
      {"registry file missing: nothing", "[Configuration]\r\nUseIniInProgramDir=0\r\n",
       L"%QOR_TESTROOT%\\user\\wincmd.ini", false, ProgramDirCase::kNothing},
      {"undefined variable stays unexpanded", "", L"%COMMANDER_PATH%\\wincmd.ini", false, ProgramDirCase::kNothing},
      {"no program folder file: registry file", "", L"%QOR_TESTROOT%\\user\\wincmd.ini", true,
       ProgramDirCase::kOtherIni},
      {"binary garbage", std::string("\x00\xff\x13[Configuration\x00=\x04", 17), nullptr, false,
       ProgramDirCase::kNothing},
  };
  const std::wstring programDir = temp / L"TC";
  const std::wstring programIni = programDir + L"\\wincmd.ini";
  const std::wstring otherIni = temp / L"user\\wincmd.ini";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    registry.Clear();
    RemoveTree(programDir);
    RemoveTree(temp / L"user");
    ForceDirectories(programDir);
    if (!c.configuration.empty()) WriteFileBytes(programIni, c.configuration);
    if (c.iniFileName) registry.SetString(HKEY_CURRENT_USER, L"IniFileName", c.iniFileName, REG_EXPAND_SZ);
    if (c.otherExists) WriteFileBytes(otherIni, "[PackerPlugins]\r\n");
    std::wstring expected = c.expected == ProgramDirCase::kProgramDirIni ? programIni
                            : c.expected == ProgramDirCase::kOtherIni    ? otherIni
                                                                         : L"";
    EXPECT_EQ(IniFileForProgramDir(programDir), expected);
    EXPECT_EQ(IniFileForProgramDir(programDir + L"\\"), expected) << "with a trailing backslash";
  }
}

TEST_F(Location, Utf16ProgramFolderIniIsRead) {
  const std::wstring programDir = temp / L"TC";
  WriteFileUtf16(programDir + L"\\wincmd.ini", L"[Configuration]\r\nUseIniInProgramDir=4\r\n");
  EXPECT_EQ(IniFileForProgramDir(programDir), programDir + L"\\wincmd.ini");
}

TEST_F(Location, IniFileNameFromLocalMachineWhenCurrentUserHasNone) {
  const std::wstring programDir = temp / L"TC";
  ForceDirectories(programDir);
  WriteFileBytes(temp / L"machine.ini", "x");
  registry.SetString(HKEY_CURRENT_USER, L"IniFileName", L"");
  registry.SetString(HKEY_LOCAL_MACHINE, L"IniFileName", L"%QOR_TESTROOT%\\machine.ini");
  EXPECT_EQ(IniFileForProgramDir(programDir), temp / L"machine.ini");
}

TEST_F(Location, FindWincmdIniRegistryStep) {
  const std::wstring programDir = temp / L"TC";
  WriteFileBytes(programDir + L"\\wincmd.ini", "[Configuration]\r\nUseIniInProgramDir=4\r\n");
  // InstallDir only under HKLM, empty under HKCU: HKLM decides.
  registry.SetString(HKEY_CURRENT_USER, L"InstallDir", L"");
  registry.SetString(HKEY_LOCAL_MACHINE, L"InstallDir", programDir);
  EXPECT_EQ(FindWincmdIni(), programDir + L"\\wincmd.ini");
  EXPECT_EQ(FindTotalCommanderDir(), programDir);
  // HKCU wins when it has a value.
  registry.SetString(HKEY_CURRENT_USER, L"InstallDir", programDir + L"\\");
  EXPECT_EQ(FindTotalCommanderDir(), programDir + L"\\");
}

TEST_F(Location, FindWincmdIniWithAppDataReference) {
  wchar_t appData[MAX_PATH] = {};
  ASSERT_TRUE(GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH));
  const std::wstring userIni = std::wstring(appData) + L"\\GHISLER\\wincmd.ini";
  const std::wstring programDir = temp / L"TC";
  WriteFileBytes(programDir + L"\\wincmd.ini", "[Configuration]\r\n");
  WriteFileBytes(userIni, "[PackerPlugins]\r\n");
  registry.SetString(HKEY_CURRENT_USER, L"InstallDir", programDir);
  registry.SetString(HKEY_CURRENT_USER, L"IniFileName", L"%APPDATA%\\GHISLER\\wincmd.ini");
  EXPECT_EQ(FindWincmdIni(), userIni);
  DeleteFileW(userIni.c_str());
  EXPECT_EQ(FindWincmdIni(), L"") << "the program folder's file is not used";
}

TEST_F(Location, BadRegistryValuesFindNothingAndRaiseNothing) {
  const BYTE dword[] = {0x04, 0, 0, 0};
  const BYTE binary[] = {0x43, 0x00, 0x3A, 0x00, 0x5C};
  std::wstring tooLong(256, L'z');
  struct {
    const char* what;
    DWORD type;
    const void* data;
    DWORD size;
  } cases[] = {{"dword", REG_DWORD, dword, 4},
               {"binary", REG_BINARY, binary, 5},
               {"514 bytes", REG_SZ, tooLong.c_str(), 514},
               {"512 bytes without NUL", REG_SZ, tooLong.c_str(), 512}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    registry.Clear();
    registry.SetRaw(HKEY_CURRENT_USER, L"InstallDir", c.type, c.data, c.size);
    registry.SetRaw(HKEY_CURRENT_USER, L"IniFileName", c.type, c.data, c.size);
    std::wstring ini, dir;
    EXPECT_NO_THROW(ini = FindWincmdIni());
    EXPECT_NO_THROW(dir = FindTotalCommanderDir());
    EXPECT_FALSE(FileExists(ini) && ini != L"C:\\wincmd.ini") << testing::PrintToString(ini);
    EXPECT_EQ(DefaultSetupFolder(dir), L"") << testing::PrintToString(dir);
  }
}

TEST_F(Location, WindowsFolderStepTestsOnlyItsParent) {
  EXPECT_EQ(GetWindowsFolderParent(), L"C:\\");
  const std::wstring rootIni = L"C:\\wincmd.ini";
  DeleteFileW(rootIni.c_str());
  EXPECT_EQ(FindWincmdIni(), L"");
  WriteFileBytes(rootIni, "[PackerPlugins]\r\n");
  EXPECT_EQ(FindWincmdIni(), rootIni);
  DeleteFileW(rootIni.c_str());
}

TEST_F(Location, WindowsFolderFallsBackWhenTheKnownFolderCallIsMissing) {
  // Play a Windows without shell32's newer entry points: the item-id-list path still finds it.
  static const ShellModuleLoader missing = {[](const wchar_t*) -> HMODULE { return nullptr; },
                                            [](HMODULE m, const char* n) { return GetProcAddress(m, n); },
                                            [](HMODULE m) { FreeLibrary(m); }};
  FinalizeShellBaseExtension();
  SetShellModuleLoaderForTesting(&missing);
  InitializeShellBaseExtension();
  EXPECT_EQ(GetWindowsFolderParent(), L"C:\\");
  FinalizeShellBaseExtension();
  SetShellModuleLoaderForTesting(nullptr);
  InitializeShellBaseExtension();
}

TEST_F(Location, InstallDirIsReturnedAsStoredAndTheSetupFolderNeedsItToExist) {
  registry.SetString(HKEY_CURRENT_USER, L"InstallDir", L"C:\\NoSuchTotalCommander");
  EXPECT_EQ(FindTotalCommanderDir(), L"C:\\NoSuchTotalCommander");
  EXPECT_EQ(DefaultSetupFolder(FindTotalCommanderDir()), L"");
  const std::wstring tc = temp / L"TC";
  ForceDirectories(tc);
  EXPECT_EQ(DefaultSetupFolder(tc), tc + L"\\Plugins\\Quorvex");
  EXPECT_EQ(DefaultSetupFolder(tc + L"\\"), tc + L"\\Plugins\\Quorvex");
  EXPECT_EQ(DefaultSetupFolder(L""), L"");
  registry.Clear();
  EXPECT_EQ(FindTotalCommanderDir(), L"");
  // Some tools store extra NULs after the text: the folder is the text, and the setup folder lies below it.
  const std::wstring padded = tc + std::wstring(3, L'\0');
  registry.SetRaw(HKEY_CURRENT_USER, L"InstallDir", REG_SZ, padded.c_str(),
                  static_cast<DWORD>((padded.size() + 1) * sizeof(wchar_t)));
  EXPECT_EQ(FindTotalCommanderDir(), tc) << "length " << FindTotalCommanderDir().size();
  EXPECT_EQ(DefaultSetupFolder(FindTotalCommanderDir()), tc + L"\\Plugins\\Quorvex");
}
