// Plays Total Commander for the tests and the demo: built as TOTALCMD64.EXE (tests copy it under other
// names too). Command line:
//   --run "<command line>"   start that program as a child (with COMMANDER_PATH set to this program's
//                            folder, as Total Commander does), wait for it and exit with its exit code
//   --sleep <ms>             just wait (a process that stays around for a while), then exit 0
//   --window                 load the libraries given with --load, then show main windows of class
//                            "TTOTAL_CMD" (hidden) that free those libraries when they receive the
//                            unload-plugins command (WM_USER + 51, wParam 2913). The process runs until
//                            its windows are closed or --lifetime ends. Options of --window:
//     --load <path>          a library to load (repeatable); a library that fails to load ends the
//                            process with 1000 + the error before any window exists
//     --windows <n>          n main windows (default 1)
//     --decoy <class>        one more window of that class, which takes the command like the others
//     --log <file>           each window appends "<pid> <class> unload|ignore|hang" to the file when it
//                            receives the command
//     --ignore-unload        log the command but keep the libraries
//     --hang                 log the command and then stop answering (the window thread sleeps until
//                            --lifetime ends)
//     --lifetime <ms>        the process exits with 3 after this long (default 120000), so that a test
//                            that lost it does not leave it behind
// Tests know the double is ready when its "TTOTAL_CMD" window exists: the libraries are loaded by then.
#include <windows.h>

#include <string>
#include <vector>

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

constexpr UINT kCommandMessage = WM_USER + 51;
constexpr WPARAM kUnloadPlugins = 2913;

enum class Reaction { Unload, Ignore, Hang };

struct WindowOptions {
  std::vector<std::wstring> libraries;
  int windows = 1;
  std::wstring decoyClass;
  std::wstring logFile;
  Reaction reaction = Reaction::Unload;
  DWORD lifetimeMs = 120000;
};

WindowOptions options;
std::vector<HMODULE> loaded;
int openWindows = 0;

void AppendLog(const std::wstring& line) {
  if (options.logFile.empty()) return;
  HANDLE file = CreateFileW(options.logFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::string bytes(line.begin(), line.end());  // pids, class names and words: ASCII
  bytes += "\r\n";
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case kCommandMessage:
      if (wParam != kUnloadPlugins) break;
      {
        const wchar_t* word = options.reaction == Reaction::Unload   ? L"unload"
                              : options.reaction == Reaction::Ignore ? L"ignore"
                                                                     : L"hang";
        AppendLog(std::to_wstring(GetCurrentProcessId()) + L" " + ClassOf(window) + L" " + word);
      }
      if (options.reaction == Reaction::Hang) Sleep(options.lifetimeMs);
      if (options.reaction == Reaction::Unload) {
        for (HMODULE module : loaded) FreeLibrary(module);
        loaded.clear();
      }
      return 0;
    case WM_DESTROY:
      if (--openWindows == 0) PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool CreateMainWindow(const wchar_t* className) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  HWND window = CreateWindowExW(0, className, L"Total Commander (double)", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 400, 300, nullptr, nullptr, wc.hInstance, nullptr);
  if (!window) return false;
  ++openWindows;
  return true;
}

DWORD WINAPI EndOfLife(void*) {
  Sleep(options.lifetimeMs);
  ExitProcess(3);
}

int RunWindows(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == L"--load" && hasValue) options.libraries.push_back(argv[++i]);
    else if (a == L"--windows" && hasValue) options.windows = _wtoi(argv[++i]);
    else if (a == L"--decoy" && hasValue) options.decoyClass = argv[++i];
    else if (a == L"--log" && hasValue) options.logFile = argv[++i];
    else if (a == L"--lifetime" && hasValue) options.lifetimeMs = static_cast<DWORD>(_wtoi(argv[++i]));
    else if (a == L"--ignore-unload") options.reaction = Reaction::Ignore;
    else if (a == L"--hang") options.reaction = Reaction::Hang;
  }
  if (HANDLE timer = CreateThread(nullptr, 0, EndOfLife, nullptr, 0, nullptr)) CloseHandle(timer);
  for (const std::wstring& library : options.libraries) {
    HMODULE module = LoadLibraryW(library.c_str());
    if (!module) return 1000 + static_cast<int>(GetLastError());
    loaded.push_back(module);
  }
  // The decoy first: once a "TTOTAL_CMD" window exists, every window does.
  if (!options.decoyClass.empty() && !CreateMainWindow(options.decoyClass.c_str()))
    return 1000 + static_cast<int>(GetLastError());
  for (int i = 0; i < options.windows; ++i)
    if (!CreateMainWindow(L"TTOTAL_CMD")) return 1000 + static_cast<int>(GetLastError());
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
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
  for (int i = 1; i < argc; ++i)
    if (std::wstring(argv[i]) == L"--window") return RunWindows(argc, argv);
  return 2;
}
