// Drives the running setup from outside, for the demo:
//   click "<button text>"          clicks that button of the setup's main window
//   wait-box <ms>                  waits for the setup's message box and prints its caption and text
//   answer-box                     presses OK on the setup's message box
//   close                          closes the setup's main window
// Exit code 0 on success, 1 when the window, button or box is not there.
#include <windows.h>

#include <cstdio>
#include <string>

#include "SetupWindowDriver.h"

using namespace qortest;

namespace {
void PrintUtf8(const std::wstring& label, const std::wstring& text) {
  std::wstring line = label + text + L"\n";
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(n > 0 ? n - 1 : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, bytes.data(), n, nullptr, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
}
DWORD SetupPid(HWND window) {
  DWORD pid = 0;
  if (window) GetWindowThreadProcessId(window, &pid);
  return pid;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring command = argv[1];
  HWND window = WaitForSetupWindow(0, 15000);
  if (!window) {
    fputs("the setup window is not there\n", stderr);
    return 1;
  }
  if (command == L"click" && argc > 2) {
    HWND button = ChildWithText(window, L"Button", argv[2]);
    if (!button) return 1;
    ClickButton(button);
    return 0;
  }
  if (command == L"close") {
    PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  if (command == L"wait-box" || command == L"answer-box") {
    const DWORD timeout = command == L"wait-box" && argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 5000;
    HWND box = WaitForMessageBox(SetupPid(window), timeout);
    if (!box) return 1;
    if (command == L"answer-box") {
      AnswerMessageBox(box);
      return 0;
    }
    const MessageBoxSeen seen = ReadMessageBox(box);
    PrintUtf8(L"Message box caption: ", seen.caption);
    PrintUtf8(L"Message box text:    ", seen.text);
    return 0;
  }
  return 2;
}
