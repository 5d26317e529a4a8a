// A plain 64-bit program that holds libraries, as any program that uses a plugin would. Command line:
//   --load <path>          a library to load (repeatable; the same path twice loads it twice); a library
//                          that fails to load ends the process with 1000 + the error
//   --exit-event <name>    exit 0 (freeing nothing first) once this named event is set
//   --lifetime <ms>        exit 3 after this long at the latest (default 120000)
// Once every library is loaded it creates the named event "<name>.ready" when --exit-event is given;
// tests may also simply poll its module list.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  std::wstring exitEvent;
  DWORD lifetimeMs = 120000;
  for (int i = 1; i + 1 < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"--load") {
      if (!LoadLibraryW(argv[++i])) return 1000 + static_cast<int>(GetLastError());
    } else if (a == L"--exit-event") {
      exitEvent = argv[++i];
    } else if (a == L"--lifetime") {
      lifetimeMs = static_cast<DWORD>(_wtoi(argv[++i]));
    }
  }
  if (exitEvent.empty()) {
    Sleep(lifetimeMs);
    return 3;
  }
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, exitEvent.c_str());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (exitEvent + L".ready").c_str());
  if (!stop || !ready) return 1000 + static_cast<int>(GetLastError());
  SetEvent(ready);
  return WaitForSingleObject(stop, lifetimeMs) == WAIT_OBJECT_0 ? 0 : 3;
}
