// Finding the processes that hold a file, getting Total Commander and the user to let go of it, and
// stopping running host servers.
//
// Every message to another program's window is sent with a time-out: a window that does not answer keeps
// the setup waiting a few seconds at most. A Total Commander that has not unloaded its plugins in that
// time still holds the file and is listed in the close-processes dialog like any other holder.
#include "RunningProcesses.h"

#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Error.h"
#include "FileSystem.h"
#include "Format.h"
#include "Handles.h"
#include "PathParts.h"
#include "QuorvexSetupCloseProcessFormUnit.h"
#include "QuorvexSetupUtils.h"
#include "TextCompare.h"
#include "qorLang.h"

namespace qor {
namespace {

// Total Commander's main window and its command that unloads the plugins.
constexpr wchar_t kTotalCommanderWindowClass[] = L"TTOTAL_CMD";
constexpr wchar_t kTotalCommanderExeName[] = L"TOTALCMD64.EXE";
constexpr UINT kTotalCommanderCommandMessage = WM_USER + 51;
constexpr WPARAM kUnloadPluginsCommand = 2913;

// The host server's main window and the message that makes it quit.
constexpr wchar_t kHostServerWindowText[] = L"Quorvex";
constexpr wchar_t kHostServerWindowClass[] = L"TQuorvexMainForm";
constexpr UINT HostQuitMessage = WM_USER;
constexpr WPARAM kHostQuitParam = 0x12345689;

// Window texts and class names are read into buffers of this many characters.
constexpr int kWindowTextBufferLength = 255;

// How long one synchronous message to another program's window may take.
constexpr UINT kSendTimeoutMs = 5000;
// How long host servers get to quit on their own before they are terminated.
constexpr DWORD kHostServerGraceMs = 3000;
// How long to wait for terminated host servers to be gone.
constexpr DWORD kTerminatedExitWaitMs = 5000;
// A module snapshot of a process that is loading or unloading a module can fail with ERROR_BAD_LENGTH;
// it is taken again this many times in all.
constexpr int kModuleSnapshotAttempts = 5;

std::wstring WindowClassName(HWND window) {
  wchar_t buffer[kWindowTextBufferLength] = {};
  int length = ::GetClassNameW(window, buffer, kWindowTextBufferLength);
  return std::wstring(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[kWindowTextBufferLength] = {};
  int length = ::GetWindowTextW(window, buffer, kWindowTextBufferLength);
  return std::wstring(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

DWORD WindowProcessId(HWND window) {
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  return processId;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) noexcept {
  try {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  } catch (...) {
    return FALSE;
  }
  return TRUE;
}

// All top-level windows at the moment of the call, in the order EnumWindows gives them.
std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// Texts compared code unit by code unit.
bool IsHostServerWindow(HWND window) {
  return WindowClassName(window) == kHostServerWindowClass && WindowText(window) == kHostServerWindowText;
}

bool IsTotalCommanderWindow(HWND window) { return WindowClassName(window) == kTotalCommanderWindowClass; }

// Sends and waits for the target to handle the message, but no longer than kSendTimeoutMs, and not at
// all once the system sees the target's thread as hung. Meanwhile no other sent message reaches this
// thread's windows.
void SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_BLOCK | SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
}

// The module snapshot of a process; empty when the process cannot be inspected (access denied, gone).
SnapshotHandle ModuleSnapshot(DWORD processId) {
  for (int attempt = 0; attempt < kModuleSnapshotAttempts; ++attempt) {
    SnapshotHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
    if (snapshot) return snapshot;
    if (::GetLastError() != ERROR_BAD_LENGTH) break;
  }
  return SnapshotHandle();
}

bool ProcessHasModule(DWORD processId, const std::wstring& FileName) {
  SnapshotHandle modules = ModuleSnapshot(processId);
  if (!modules) return false;
  MODULEENTRY32W module{};
  module.dwSize = sizeof module;
  for (BOOL more = ::Module32FirstW(modules.get(), &module); more; more = ::Module32NextW(modules.get(), &module)) {
    try {
      if (SameText(module.szExePath, FileName)) return true;
    } catch (...) {
      // One module that cannot be compared does not end the search.
    }
    module.dwSize = sizeof module;
  }
  return false;
}

std::wstring ProcessEntryText(DWORD processId) {
  try {
    return GetProcessImagePath(processId);
  } catch (...) {
    return L"Unknown process #" + DecimalText(processId);
  }
}

bool IsTotalCommanderProcess(DWORD processId) {
  return UpperCase(ExtractFileName(GetProcessImagePath(processId))) == kTotalCommanderExeName;
}

// True when the file is gone afterwards: it did not exist, or it has just been deleted. On false the
// thread's last error is that of the failed deletion.
bool FileAbsentOrDeleted(const std::wstring& FileName) {
  return !FileExists(FileName) || ::DeleteFileW(FileName.c_str());
}

// Waits until the process ends or the tick count reaches deadline; true when it has ended.
bool WaitUntil(HANDLE process, ULONGLONG deadline) {
  ULONGLONG now = ::GetTickCount64();
  DWORD remaining = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
  return ::WaitForSingleObject(process, remaining) == WAIT_OBJECT_0;
}

bool HasHostServerWindowOf(const std::vector<DWORD>& processIds) {
  for (HWND window : TopLevelWindows())
    if (IsHostServerWindow(window) &&
        std::find(processIds.begin(), processIds.end(), WindowProcessId(window)) != processIds.end())
      return true;
  return false;
}

}  // namespace

void GetProcessesUsingFile(const std::wstring& FileName, ProcessList& List) {
  SnapshotHandle processes(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!processes) return;
  PROCESSENTRY32W process{};
  process.dwSize = sizeof process;
  for (BOOL more = ::Process32FirstW(processes.get(), &process); more;
       more = ::Process32NextW(processes.get(), &process)) {
    DWORD processId = process.th32ProcessID;
    // Id 0 is the idle process, which loads nothing; a module snapshot of id 0 would be this process's own.
    if (processId != 0 && ProcessHasModule(processId, FileName))
      List.push_back(ProcessEntry{ProcessEntryText(processId), processId});
    process.dwSize = sizeof process;
  }
}

void UnloadTotalCommanderPlugins(DWORD ProcessId) {
  for (HWND window : TopLevelWindows())
    if (WindowProcessId(window) == ProcessId && IsTotalCommanderWindow(window))
      SendBounded(window, kTotalCommanderCommandMessage, kUnloadPluginsCommand, 0);
}

ReleaseResult ReleaseFile(const std::wstring& FileName) {
  while (!FileAbsentOrDeleted(FileName)) {
    DWORD deleteError = ::GetLastError();
    ProcessList list;
    GetProcessesUsingFile(FileName, list);
    if (list.empty()) {
      ::SetLastError(deleteError);
      throw Error(FormatText(GetLangStr(L"ErrorUpdateFile"), {FileName, SystemErrorText(deleteError)}));
    }
    // Total Commander unloads without being asked; the last entry goes first.
    for (auto entry = list.rbegin(); entry != list.rend(); ++entry)
      if (IsTotalCommanderProcess(entry->ProcessId)) UnloadTotalCommanderPlugins(entry->ProcessId);

    if (!FileAbsentOrDeleted(FileName)) {
      // Only those that still hold the file after Total Commander has let go are shown.
      list.clear();
      GetProcessesUsingFile(FileName, list);
      if (!list.empty()) {
        auto dialog = CreateForm<TCloseProcessForm>();
        if (dialog->ShowModal(list, FileName) != 1) return ReleaseResult::Cancelled;
      }
    }
  }
  return ReleaseResult::Released;
}

void CloseHostServers() {
  // The asked servers: ids, and a handle to wait on where the process could be opened for that.
  std::vector<DWORD> askedIds;
  std::vector<KernelHandle> askedProcesses;
  std::vector<DWORD> unwaitableIds;
  bool found = false;
  for (HWND window : TopLevelWindows()) {
    if (!IsHostServerWindow(window)) continue;
    found = true;
    DWORD processId = WindowProcessId(window);
    if (processId != 0 && std::find(askedIds.begin(), askedIds.end(), processId) == askedIds.end()) {
      askedIds.push_back(processId);
      KernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
      if (process)
        askedProcesses.push_back(std::move(process));
      else
        unwaitableIds.push_back(processId);
    }
    SendBounded(window, HostQuitMessage, kHostQuitParam, kHostQuitParam);
  }
  if (!found) return;

  // The grace period ends early once every asked server has exited (or, where its process could not be
  // opened, has closed its window).
  ULONGLONG graceEnd = ::GetTickCount64() + kHostServerGraceMs;
  for (const KernelHandle& process : askedProcesses) WaitUntil(process.get(), graceEnd);
  while (!unwaitableIds.empty() && ::GetTickCount64() < graceEnd && HasHostServerWindowOf(unwaitableIds))
    ::Sleep(50);

  std::vector<DWORD> terminatedIds;
  std::vector<KernelHandle> terminated;
  for (HWND window : TopLevelWindows()) {
    if (!IsHostServerWindow(window)) continue;
    DWORD processId = WindowProcessId(window);
    if (processId == 0 || std::find(terminatedIds.begin(), terminatedIds.end(), processId) != terminatedIds.end())
      continue;
    KernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process) process.reset(::OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (!process) continue;
    terminatedIds.push_back(processId);
    if (::TerminateProcess(process.get(), 0)) terminated.push_back(std::move(process));
  }
  // A terminated process still holds its image file until it is gone; the caller deletes that file next.
  ULONGLONG exitEnd = ::GetTickCount64() + kTerminatedExitWaitMs;
  for (const KernelHandle& process : terminated) WaitUntil(process.get(), exitEnd);
}

}  // namespace qor
