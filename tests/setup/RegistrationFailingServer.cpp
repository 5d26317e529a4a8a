// A host server whose registration fails: writes its command line (UTF-16) to "<own path>.cmdline" and
// ends with exit code 5.
#include <windows.h>

int wmain() {
  wchar_t self[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH - 16);
  if (n == 0) return 5;
  lstrcatW(self, L".cmdline");
  HANDLE file = CreateFileW(self, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    const wchar_t* line = GetCommandLineW();
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(lstrlenW(line) * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
  }
  return 5;
}
