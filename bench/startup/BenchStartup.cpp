// Time from process start until the setup's main window is ready for input, for wincmd.ini files of
// 10, 100, 1000 and 5000 packer plugins (half of them with a ".wcx64" sibling: proxy copies and real
// 64-bit builds in turn), all measured in this run. Prints each median time and its ratio to the
// 10-plugin time, and where the time goes: the plugin inventory's own time for the same wincmd.ini (in
// this process, on a plain list), the bare version reads of the same siblings (the read and
// VerQueryValueW, nothing else: what the platform costs), and the inventory's cost beyond those reads.
//   bench_startup.exe <QuorvexSetup exe> <proxy sibling> <real sibling> [repeats]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "PluginInventory.h"

namespace {

std::wstring TempRoot() {
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  return std::wstring(tmp) + L"qor_bench_startup";
}

void WriteText(const std::wstring& path, const std::string& text) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
  CloseHandle(h);
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// A Total Commander folder whose own wincmd.ini lists count plugins; returns the folder.
std::wstring MakeInstallation(int count, const std::wstring& proxy, const std::wstring& real) {
  std::wstring tc = TempRoot() + L"\\tc" + std::to_wstring(count);
  CreateDirectoryW(TempRoot().c_str(), nullptr);
  CreateDirectoryW(tc.c_str(), nullptr);
  CreateDirectoryW((tc + L"\\p").c_str(), nullptr);
  std::string ini = "[Configuration]\r\nUseIniInProgramDir=4\r\n[PackerPlugins]\r\n";
  for (int i = 0; i < count; ++i) {
    std::wstring plugin = tc + L"\\p\\plugin" + std::to_wstring(i);
    ini.append("k").append(std::to_string(i)).append("=").append(std::to_string(i)).append(",");
    ini.append(Narrow(plugin)).append(".wcx\r\n");
    if (i % 2 == 1) CopyFileW((i % 4 == 1 ? proxy : real).c_str(), (plugin + L".wcx64").c_str(), FALSE);
  }
  WriteText(tc + L"\\wincmd.ini", ini);
  return tc;
}

void SetInstallDir(const std::wstring& tc) {
  HKEY key;
  RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Ghisler\\Total Commander", 0, nullptr, 0, KEY_ALL_ACCESS,
                  nullptr, &key, nullptr);
  RegSetValueExW(key, L"InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(tc.c_str()),
                 static_cast<DWORD>((tc.size() + 1) * 2));
  RegCloseKey(key);
}

// A plain list in caption order, as the window's list view keeps it.
struct PlainPluginList : qor::PluginList {
  struct Item {
    std::wstring caption, folder;
  };
  std::vector<Item> items;
  void Clear() override { items.clear(); }
  int Count() const override { return static_cast<int>(items.size()); }
  std::wstring Caption(int i) const override { return items[i].caption; }
  std::wstring Folder(int i) const override { return items[i].folder; }
  bool Checked(int) const override { return true; }
  void AddTicked(const std::wstring& caption, const std::wstring& folder) override {
    auto at = std::upper_bound(items.begin(), items.end(), caption, [](const std::wstring& c, const Item& it) {
      return lstrcmpW(c.c_str(), it.caption.c_str()) < 0;
    });
    items.insert(at, {caption, folder});
  }
};

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return (to.QuadPart - from.QuadPart) * 1000.0 / f.QuadPart;
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The siblings the inventory finds for an installation made by MakeInstallation.
std::vector<std::wstring> ExistingSiblings(const std::wstring& tc, int count) {
  std::vector<std::wstring> siblings;
  for (int i = 0; i < count; ++i) {
    std::wstring sibling = tc + L"\\p\\plugin" + std::to_wstring(i) + L".wcx64";
    if (GetFileAttributesW(sibling.c_str()) != INVALID_FILE_ATTRIBUTES) siblings.push_back(sibling);
  }
  return siblings;
}

// The platform's part of the inventory: the version resource read and looked up exactly as the
// inventory does it, for every sibling, and nothing else.
double TimeVersionReads(const std::vector<std::wstring>& siblings) {
  static std::vector<BYTE> data(128 * 1024);
  LARGE_INTEGER t0, t1;
  int proxies = 0;
  QueryPerformanceCounter(&t0);
  for (const auto& sibling : siblings) {
    if (!GetFileVersionInfoW(sibling.c_str(), 0, static_cast<DWORD>(data.size()), data.data())) continue;
    struct Translation {
      WORD language, codePage;
    }* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < sizeof(*translation))
      continue;
    wchar_t block[64];
    swprintf(block, 64, L"\\StringFileInfo\\%04X%04X\\FileDescription", translation->language,
             translation->codePage);
    wchar_t* description = nullptr;
    if (VerQueryValueW(data.data(), block, reinterpret_cast<void**>(&description), &length) && description &&
        wcscmp(description, L"WCX proxy plugin") == 0)
      ++proxies;
  }
  QueryPerformanceCounter(&t1);
  if (proxies != static_cast<int>((siblings.size() + 1) / 2)) fprintf(stderr, "unexpected proxy count %d\n", proxies);
  return Milliseconds(t0, t1);
}

double TimeInventory(const std::wstring& ini, int expectedItems) {
  PlainPluginList list;
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  qor::PluginInventory(ini, list);
  QueryPerformanceCounter(&t1);
  if (list.Count() != expectedItems) fprintf(stderr, "inventory listed %d, expected %d\n", list.Count(), expectedItems);
  return Milliseconds(t0, t1);
}

struct FindData {
  DWORD pid;
  HWND window;
};
BOOL CALLBACK FindMainWindow(HWND h, LPARAM p) {
  auto* d = reinterpret_cast<FindData*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == d->pid && IsWindowVisible(h)) {
    d->window = h;
    return FALSE;
  }
  return TRUE;
}

// Milliseconds until the started setup's window is visible and its thread idle.
double TimeOneStart(const std::wstring& exe) {
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = L"\"" + exe + L"\"";
  QueryPerformanceCounter(&t0);
  if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  FindData d = {pi.dwProcessId, nullptr};
  for (int i = 0; i < 30000 && !d.window; ++i) {
    WaitForInputIdle(pi.hProcess, 10);
    EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&d));
    if (!d.window) Sleep(1);
  }
  if (d.window) SendMessageTimeoutW(d.window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, nullptr);  // ready for input
  QueryPerformanceCounter(&t1);
  if (d.window) PostMessageW(d.window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return d.window ? (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: bench_startup <setup exe> <proxy sibling> <real sibling> [repeats]\n");
    return 2;
  }
  const int repeats = argc > 4 ? _wtoi(argv[4]) : 5;
  const int sizes[] = {10, 100, 1000, 5000};
  double base = 0;
  printf("%8s %9s %10s %7s %13s %15s %13s %9s\n", "plugins", "siblings", "window ms", "ratio", "inventory ms",
         "version reads", "beyond reads", "share");
  for (int count : sizes) {
    std::wstring tc = MakeInstallation(count, argv[2], argv[3]);
    SetInstallDir(tc);
    TimeOneStart(argv[1]);  // warm the file cache
    std::vector<double> windows;
    for (int r = 0; r < repeats; ++r) windows.push_back(TimeOneStart(argv[1]));
    const double window = Median(windows);
    if (count == 10) base = window;

    // Listed: every plugin without a sibling (even numbers) and every proxy copy (i % 4 == 1).
    const int expectedItems = count - count / 2 + (count + 2) / 4;
    const std::vector<std::wstring> siblings = ExistingSiblings(tc, count);
    std::vector<double> inventories, reads;
    TimeInventory(tc + L"\\wincmd.ini", expectedItems);
    for (int r = 0; r < repeats; ++r) {
      inventories.push_back(TimeInventory(tc + L"\\wincmd.ini", expectedItems));
      reads.push_back(TimeVersionReads(siblings));
    }
    const double inventory = Median(inventories), read = Median(reads);
    const double beyond = inventory - read;
    printf("%8d %9zu %10.1f %7.2f %13.1f %15.1f %13.1f %8.1f%%\n", count, siblings.size(), window,
           base > 0 ? window / base : 0.0, inventory, read, beyond, inventory > 0 ? 100.0 * beyond / inventory : 0.0);
    fflush(stdout);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Ghisler\\Total Commander");
  return 0;
}
