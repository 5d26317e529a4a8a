// The setup started by a real parent process: the Total Commander double under several names.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "SetupTestSupport.h"
#include "TextCompare.h"

using namespace qor;
using namespace qortest;

namespace {
struct ProbeResult {
  std::wstring parentId, parentPath, wincmdIni, totalCommanderDir, parentTotalCommander;
};

std::wstring FromUtf8(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// Copies the double to parentPath, runs it, and lets it start the probe as its child.
ProbeResult RunProbeUnder(const std::wstring& parentPath, const std::wstring& outFile) {
  EXPECT_TRUE(CopyFileW((BinDir() + L"TOTALCMD64.exe").c_str(), parentPath.c_str(), FALSE));
  // The double gets the probe's whole command line as one argument, inner quotes escaped.
  std::wstring cmd = L"\"" + parentPath + L"\" --run \"\\\"" + BinDir() + L"location_probe.exe\\\" \\\"" + outFile + L"\\\"\"";
  DWORD code = RunAndWait(cmd);
  EXPECT_EQ(code, 0u) << "double/probe exit code";
  std::istringstream in(ReadFileBytes(outFile));
  std::vector<std::wstring> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(FromUtf8(line));
  lines.resize(5);
  return {lines[0], lines[1], lines[2], lines[3], lines[4]};
}
}  // namespace

class ParentProcess : public testing::Test {
 protected:
  TempFolder temp;
  TotalCommanderRegistry registry;
};

TEST_F(ParentProcess, TotalCommanderParentDecidesWhateverTheRegistryHolds) {
  const std::wstring tc = temp / L"TC";
  WriteFileBytes(tc + L"\\wincmd.ini", "[Configuration]\r\nUseIniInProgramDir=4\r\n");
  const std::wstring other = temp / L"Other";
  WriteFileBytes(other + L"\\wincmd.ini", "[Configuration]\r\nUseIniInProgramDir=4\r\n");
  registry.SetString(HKEY_CURRENT_USER, L"InstallDir", other);

  struct {
    const wchar_t* exeName;
    bool isTotalCommander;
  } cases[] = {{L"TOTALCMD64.EXE", true}, {L"totalcmd.exe", true}, {L"explorer_like.exe", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.exeName)));
    const std::wstring exe = tc + L"\\" + c.exeName;
    ProbeResult r = RunProbeUnder(exe, temp / L"probe.txt");
    EXPECT_NE(r.parentId, L"0");
    EXPECT_TRUE(SameText(r.parentPath, exe)) << testing::PrintToString(r.parentPath);
    if (c.isTotalCommander) {
      EXPECT_TRUE(SameText(r.wincmdIni, tc + L"\\wincmd.ini")) << testing::PrintToString(r.wincmdIni);
      EXPECT_TRUE(SameText(r.totalCommanderDir, tc + L"\\")) << testing::PrintToString(r.totalCommanderDir);
      EXPECT_TRUE(SameText(r.parentTotalCommander, exe));
    } else {
      EXPECT_EQ(r.wincmdIni, other + L"\\wincmd.ini") << "InstallDir decides";
      EXPECT_EQ(r.totalCommanderDir, other);
      EXPECT_EQ(r.parentTotalCommander, L"");
    }
    DeleteFileW(exe.c_str());
  }
}

TEST_F(ParentProcess, ParentFolderIniWithoutFlagFallsBackToTheRegistryFile) {
  const std::wstring tc = temp / L"TC";
  WriteFileBytes(tc + L"\\wincmd.ini", "[Configuration]\r\n");
  const std::wstring userIni = temp / L"user\\wincmd.ini";
  WriteFileBytes(userIni, "[PackerPlugins]\r\n");
  registry.SetString(HKEY_CURRENT_USER, L"IniFileName", userIni);
  ProbeResult r = RunProbeUnder(tc + L"\\TOTALCMD64.EXE", temp / L"probe.txt");
  EXPECT_EQ(r.wincmdIni, userIni);
}
