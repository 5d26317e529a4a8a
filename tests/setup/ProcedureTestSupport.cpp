#include "ProcedureTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "FileTestSupport.h"
#include "StandInHostServer.h"

namespace qortest {

namespace {
constexpr int kMessageBoxTextId = 0xFFFF;

struct ThreadWindows {
  std::vector<HWND> boxes, others;
};
BOOL CALLBACK CollectThreadWindow(HWND h, LPARAM p) {
  auto* found = reinterpret_cast<ThreadWindows*>(p);
  if (!IsWindowVisible(h)) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 64);
  (std::wstring(cls) == L"#32770" ? found->boxes : found->others).push_back(h);
  return TRUE;
}
}  // namespace

TotalCommanderInstallation MakeTotalCommanderInstallation(const std::wstring& folder) {
  TotalCommanderInstallation tc;
  tc.root = folder + L"\\TC";
  tc.ini = tc.root + L"\\wincmd.ini";
  tc.setupFolder = tc.root + L"\\Plugins\\Quorvex";
  const std::string root = Narrow(tc.root);
  for (const char* name : {"zip", "rar", "7zip", "cab"}) {
    const std::wstring wide(name, name + strlen(name));
    WriteFileBytes(tc.root + L"\\Plugins\\wcx\\" + wide + L"\\" + wide + L".wcx", "MZ 32-bit packer plugin stand-in");
  }
  EXPECT_TRUE(CopyFileW((BinDir() + L"sibling_proxy.wcx64").c_str(), tc.Copy(L"zip").c_str(), FALSE));
  EXPECT_TRUE(CopyFileW((BinDir() + L"sibling_proxy.wcx64").c_str(), tc.Copy(L"cab").c_str(), FALSE));
  EXPECT_TRUE(CopyFileW((BinDir() + L"sibling_real.wcx64").c_str(), tc.Copy(L"7zip").c_str(), FALSE));
  WriteFileBytes(tc.ini, "[Configuration]\r\nUseIniInProgramDir=4\r\n[PackerPlugins]\r\n"
                         "zip=" + root + "\\Plugins\\wcx\\zip\\zip.wcx\r\n"
                         "rar=287," + root + "\\Plugins\\wcx\\rar\\rar.wcx\r\n"
                         "7z=287," + root + "\\Plugins\\wcx\\7zip\\7zip.wcx\r\n"
                         "cab=" + root + "\\Plugins\\wcx\\cab\\cab.wcx\r\n"
                         "[PackerPlugins64]\r\n$checksum$=1\r\n");
  tc.packerPlugins = IniSection(tc.ini, L"PackerPlugins");
  return tc;
}

bool RegisteredIn(HKEY root) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, qor_standin::kClassKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

DiskState DiskState::Of(const std::wstring& root) {
  DiskState state;
  for (const std::wstring& file : ListFiles(root)) state.files[file] = ReadFileBytes(root + L"\\" + file);
  return state;
}

std::vector<std::wstring> DiskState::ChangesFrom(const DiskState& before) const {
  std::vector<std::wstring> changed;
  for (const auto& [name, bytes] : files) {
    auto it = before.files.find(name);
    if (it == before.files.end() || it->second != bytes) changed.push_back(name);
  }
  for (const auto& [name, bytes] : before.files)
    if (!files.count(name)) changed.push_back(name);
  std::sort(changed.begin(), changed.end());
  return changed;
}

std::wstring IniValue(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  wchar_t buffer[1024] = {};
  GetPrivateProfileStringW(section, key, L"", buffer, 1024, file.c_str());
  return buffer;
}

std::wstring IniSection(const std::wstring& file, const wchar_t* section) {
  std::vector<wchar_t> buffer(65536, L'\0');
  const DWORD n = GetPrivateProfileSectionW(section, buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
  std::wstring text;
  for (const wchar_t* p = buffer.data(); p < buffer.data() + n && *p; p += wcslen(p) + 1) {
    if (!text.empty()) text += L"\n";
    text += p;
  }
  return text;
}

MessageBoxSeen RunAnsweringMessageBox(HWND owner, const std::function<void()>& action, DWORD timeoutMs) {
  const DWORD uiThread = GetCurrentThreadId();
  std::atomic<bool> done{false};
  MessageBoxSeen first;
  int count = 0;
  bool timedOut = false;
  std::thread watcher([&] {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    std::vector<HWND> answered;
    while (!done) {
      ThreadWindows found;
      EnumThreadWindows(uiThread, CollectThreadWindow, reinterpret_cast<LPARAM>(&found));
      for (HWND box : found.boxes) {
        if (std::find(answered.begin(), answered.end(), box) != answered.end()) continue;
        if (!GetDlgItem(box, kMessageBoxTextId)) continue;  // not built up yet
        if (count++ == 0) first = ReadMessageBox(box);
        answered.push_back(box);
        AnswerMessageBox(box);
      }
      if (GetTickCount64() > deadline && !timedOut) {
        timedOut = true;
        for (HWND h : found.others)
          if (h != owner) PostMessageW(h, WM_CLOSE, 0, 0);
        for (HWND box : found.boxes) PostMessageW(box, WM_COMMAND, IDOK, 0);
      }
      Sleep(20);
    }
  });
  action();
  done = true;
  watcher.join();
  EXPECT_FALSE(timedOut) << "a window of the run was still open after " << timeoutMs << " ms";
  first.count = count;
  return first;
}

}  // namespace qortest
