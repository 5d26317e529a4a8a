// A program with one hidden top-level window of a given class and text: plays the host server, a host
// server that ignores the quit message, and windows that only look like a host server's. Command line:
//   --class <name> --text <text>   the window's class and text (defaults "TQuorvexMainForm", "Quorvex")
//   --ignore-quit                  keep running when the quit message (WM_USER with wParam = lParam =
//                                  0x12345689) arrives; without it the window closes and the process
//                                  exits 0
//   --log <file>                   append "<pid> quit" or "<pid> ignore" to the file at that message
//   --lifetime <ms>                exit 3 after this long at the latest (default 120000)
// Tests know it is ready when its window exists.
#include <windows.h>

#include <string>

namespace {
constexpr WPARAM kQuitParam = 0x12345689;
bool ignoreQuit = false;
std::wstring logFile;
DWORD lifetimeMs = 120000;

void AppendLog(const char* word) {
  if (logFile.empty()) return;
  HANDLE file = CreateFileW(logFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string line = std::to_string(GetCurrentProcessId()) + " " + word + "\r\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_USER:
      if (wParam == kQuitParam && static_cast<WPARAM>(lParam) == kQuitParam) {
        AppendLog(ignoreQuit ? "ignore" : "quit");
        if (!ignoreQuit) DestroyWindow(window);
        return 0;
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI EndOfLife(void*) {
  Sleep(lifetimeMs);
  ExitProcess(3);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring className = L"TQuorvexMainForm";
  std::wstring text = L"Quorvex";
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == L"--class" && hasValue) className = argv[++i];
    else if (a == L"--text" && hasValue) text = argv[++i];
    else if (a == L"--log" && hasValue) logFile = argv[++i];
    else if (a == L"--lifetime" && hasValue) lifetimeMs = static_cast<DWORD>(_wtoi(argv[++i]));
    else if (a == L"--ignore-quit") ignoreQuit = true;
  }
  if (HANDLE timer = CreateThread(nullptr, 0, EndOfLife, nullptr, 0, nullptr)) CloseHandle(timer);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className.c_str();
  if (!RegisterClassExW(&wc)) return 1000 + static_cast<int>(GetLastError());
  if (!CreateWindowExW(0, className.c_str(), text.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320,
                       200, nullptr, nullptr, wc.hInstance, nullptr))
    return 1000 + static_cast<int>(GetLastError());
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
