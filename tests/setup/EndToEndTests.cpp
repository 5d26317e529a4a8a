// The built setup program, started by the Total Commander double from its program folder, read back
// from outside as a user would see it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "FileSystem.h"
#include "Handles.h"
#include "SetupTestSupport.h"
#include "TextCompare.h"

using namespace qor;
using namespace qortest;

namespace {
struct Found {
  DWORD pid;
  HWND window;
};
BOOL CALLBACK FindSetupWindow(HWND h, LPARAM p) {
  auto* f = reinterpret_cast<Found*>(p);
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 64);
  if (std::wstring(cls) == L"TForm16" && IsWindowVisible(h)) {
    f->window = h;
    return FALSE;
  }
  return TRUE;
}
std::vector<HWND> Children(HWND parent, const wchar_t* cls) {
  std::vector<HWND> out;
  for (HWND h = FindWindowExW(parent, nullptr, cls, nullptr); h; h = FindWindowExW(parent, h, cls, nullptr))
    out.push_back(h);
  return out;
}
std::wstring Text(HWND h) {
  wchar_t buffer[1024] = {};
  SendMessageTimeoutW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 5000, nullptr);
  return buffer;
}
}  // namespace

TEST(EndToEnd, SetupStartedFromTotalCommanderShowsWhatItFound) {
  TempFolder temp;
  TotalCommanderRegistry registry;  // no registry values: only the parent can tell
  DeleteFileW(L"C:\\wincmd.ini");
  const std::wstring tc = temp / L"TC";
  const std::string tcA(tc.begin(), tc.end());
  WriteFileBytes(tc + L"\\wincmd.ini", "[Configuration]\r\nUseIniInProgramDir=4\r\n[PackerPlugins]\r\n"
                                       "zip=%COMMANDER_PATH%\\Plugins\\zip.wcx\r\nrar=287," + tcA +
                                           "\\Plugins\\rar.wcx\r\nsz=" + tcA + "\\Plugins\\7z.wcx\r\n");
  ForceDirectories(tc + L"\\Plugins");
  ASSERT_TRUE(CopyFileW((BinDir() + L"sibling_real.wcx64").c_str(), (tc + L"\\Plugins\\7z.wcx64").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW((BinDir() + L"TOTALCMD64.exe").c_str(), (tc + L"\\TOTALCMD64.EXE").c_str(), FALSE));
  const std::wstring setup = temp / L"QuorvexSetup.exe";
  ASSERT_TRUE(CopyFileW((BinDir() + L"QuorvexSetupWine.exe").c_str(), setup.c_str(), FALSE));

  std::wstring cmd = L"\"" + tc + L"\\TOTALCMD64.EXE\" --run \"\\\"" + setup + L"\\\"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  Found f = {0, nullptr};
  // Whichever assertion ends the test, no process of it outlives it: the setup and the double that
  // started it.
  qor::ScopeGuard endProcesses([&] {
    DWORD setupId = 0;
    if (f.window && GetWindowThreadProcessId(f.window, &setupId) && setupId) {
      qor::ProcessHandle setupProcess(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, setupId));
      if (setupProcess && WaitForSingleObject(setupProcess.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(setupProcess.get(), 1);
        WaitForSingleObject(setupProcess.get(), 5000);
      }
    }
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  });
  for (int i = 0; i < 300 && !f.window; ++i) {
    EnumWindows(FindSetupWindow, reinterpret_cast<LPARAM>(&f));
    if (!f.window) Sleep(50);
  }
  ASSERT_NE(f.window, nullptr) << "the setup window did not appear";
  SendMessageTimeoutW(f.window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr);

  EXPECT_EQ(Text(f.window), L"Quorvex setup");
  std::vector<HWND> edits = Children(f.window, L"Edit");
  ASSERT_EQ(edits.size(), 2u);
  EXPECT_TRUE(SameText(Text(edits[0]), tc + L"\\wincmd.ini")) << testing::PrintToString(Text(edits[0]));
  EXPECT_TRUE(SameText(Text(edits[1]), tc + L"\\Plugins\\Quorvex")) << testing::PrintToString(Text(edits[1]));
  std::vector<HWND> lists = Children(f.window, WC_LISTVIEWW);
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(SendMessageW(lists[0], LVM_GETITEMCOUNT, 0, 0), 2) << "rar.wcx and zip.wcx; 7z.wcx has a 64-bit build";
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(SendMessageW(lists[0], LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2))
        << "item " << i << " ticked";

  PostMessageW(f.window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 15000), WAIT_OBJECT_0) << "closing the window ends the program";
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
}
