// Plays Total Commander for the tests and the demo: built as TOTALCMD64.EXE (tests copy it under other
// names too). Command line:
//   --run "<command line>"   start that program as a child (with COMMANDER_PATH set to this program's
//                            folder, as Total Commander does), wait for it and exit with its exit code
//   --sleep <ms>             just wait (a process that stays around for a while), then exit 0
#include <windows.h>

#include <string>

namespace {
int RunChild(std::wstring commandLine) {
  // Like Total Commander, tell the child where the program folder is.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder = self;
  folder.resize(folder.find_last_of(L'\\'));
  SetEnvironmentVariableW(L"COMMANDER_PATH", folder.c_str());
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 1000 + static_cast<int>(GetLastError());
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"--run") return RunChild(argv[i + 1]);
    if (a == L"--sleep") {
      Sleep(static_cast<DWORD>(_wtoi(argv[i + 1])));
      return 0;
    }
  }
  return 2;
}
