// Stand-in for the host server Quorvex.exe. It keeps the contract that the setup relies on:
//   /REGSERVER, /REGSERVERPERUSER       register a COM local server of its own class
//   /UNREGSERVER, /UNREGSERVERPERUSER   remove that registration (removing an absent one succeeds)
// for all users (HKLM) or the current user (HKCU); the exit code is 0 or the system error code (5 when
// the key cannot be written). Started without a switch it runs a hidden main window of class
// "TQuorvexMainForm" and text "Quorvex" until that window receives WM_USER with
// wParam = lParam = 0x12345689 (or is closed). It hosts no plugins.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "StandInHostServer.h"

namespace {

std::wstring OwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

LSTATUS SetDefaultValue(HKEY key, const std::wstring& value) {
  return RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

DWORD Register(HKEY root) {
  std::wstring path = OwnPath();
  if (path.empty()) return GetLastError();
  HKEY classKey = nullptr;
  LSTATUS rc = RegCreateKeyExW(root, qor_standin::kClassKey, 0, nullptr, 0, KEY_WRITE, nullptr, &classKey, nullptr);
  if (rc != ERROR_SUCCESS) return static_cast<DWORD>(rc);
  rc = SetDefaultValue(classKey, qor_standin::kClassName);
  if (rc == ERROR_SUCCESS) {
    HKEY serverKey = nullptr;
    rc = RegCreateKeyExW(classKey, L"LocalServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &serverKey, nullptr);
    if (rc == ERROR_SUCCESS) {
      rc = SetDefaultValue(serverKey, L"\"" + path + L"\"");
      RegCloseKey(serverKey);
    }
  }
  RegCloseKey(classKey);
  return static_cast<DWORD>(rc);
}

DWORD Unregister(HKEY root) {
  LSTATUS rc = RegDeleteTreeW(root, qor_standin::kClassKey);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(rc);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_USER:
      if (wParam == qor_standin::kQuitParam && static_cast<unsigned long long>(lParam) == qor_standin::kQuitParam) {
        DestroyWindow(window);
        return 0;
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int RunServer(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = qor_standin::kMainWindowClass;
  if (!RegisterClassExW(&wc)) return static_cast<int>(GetLastError());
  HWND window = CreateWindowExW(0, qor_standin::kMainWindowClass, qor_standin::kMainWindowText,
                                WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320, 200, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return static_cast<int>(GetLastError());
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return static_cast<int>(GetLastError());
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

bool IsSwitch(const wchar_t* arg, const wchar_t* name) {
  if (arg[0] != L'/' && arg[0] != L'-') return false;
  return CompareStringOrdinal(arg + 1, -1, name, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return static_cast<int>(GetLastError());
  int result;
  if (argc <= 1) {
    result = RunServer(instance);
  } else if (argc > 2) {
    result = ERROR_INVALID_PARAMETER;
  } else if (IsSwitch(argv[1], L"REGSERVER")) {
    result = static_cast<int>(Register(HKEY_LOCAL_MACHINE));
  } else if (IsSwitch(argv[1], L"REGSERVERPERUSER")) {
    result = static_cast<int>(Register(HKEY_CURRENT_USER));
  } else if (IsSwitch(argv[1], L"UNREGSERVER")) {
    result = static_cast<int>(Unregister(HKEY_LOCAL_MACHINE));
  } else if (IsSwitch(argv[1], L"UNREGSERVERPERUSER")) {
    result = static_cast<int>(Unregister(HKEY_CURRENT_USER));
  } else {
    result = ERROR_INVALID_PARAMETER;
  }
  LocalFree(argv);
  return result;
}
