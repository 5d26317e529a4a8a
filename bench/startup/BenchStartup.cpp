// Time from process start until the setup's main window is ready for input, for wincmd.ini files of
// 10, 100, 1000 and 5000 packer plugins (half of them with a ".wcx64" sibling: proxy copies and real
// 64-bit builds in turn), all measured in this run. Prints each median time and its ratio to the
// 10-plugin time.
//   bench_startup.exe <QuorvexSetup exe> <proxy sibling> <real sibling> [repeats]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

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
  printf("%8s %12s %10s\n", "plugins", "median ms", "ratio");
  for (int count : sizes) {
    std::wstring tc = MakeInstallation(count, argv[2], argv[3]);
    SetInstallDir(tc);
    TimeOneStart(argv[1]);  // warm the file cache
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) times.push_back(TimeOneStart(argv[1]));
    std::sort(times.begin(), times.end());
    double median = times[times.size() / 2];
    if (count == 10) base = median;
    printf("%8d %12.1f %10.2f\n", count, median, base > 0 ? median / base : 0.0);
    fflush(stdout);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Ghisler\\Total Commander");
  return 0;
}
