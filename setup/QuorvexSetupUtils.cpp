#include "QuorvexSetupUtils.h"

#include <tlhelp32.h>

#include "Error.h"
#include "Format.h"
#include "Handles.h"

namespace qor {

namespace {
DWORD WindowsMajorVersion = 0;
QueryFullProcessImageNameWFn QueryFullProcessImageNameOverride = nullptr;

using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);
ModuleHandle PsapiModule;
GetModuleFileNameExWFn PsapiGetModuleFileNameExW = nullptr;

DWORD ReadWindowsMajorVersion() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExW(&info)) return 0;
#pragma GCC diagnostic pop
  return info.dwMajorVersion;
}

std::wstring ImagePathVistaOrLater(DWORD processId) {
  QueryFullProcessImageNameWFn query = QueryFullProcessImageNameOverride;
  if (!query) {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel) RaiseLastOSError();
    query = reinterpret_cast<QueryFullProcessImageNameWFn>(::GetProcAddress(kernel, "QueryFullProcessImageNameW"));
    if (!query) RaiseLastOSError();
  }
  ProcessHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) RaiseLastOSError();
  DWORD size = MAX_PATH;
  std::wstring result(size + 1, L'\0');
  // Grow the buffer until the path fits.
  while (!query(process.get(), 0, result.data(), &size)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    size *= 2;
    result.assign(size + 1, L'\0');
  }
  result.resize(size);
  ++size;
  if (!query(process.get(), 0, result.data(), &size)) RaiseLastOSError();
  result.resize(size);
  return result;
}

std::wstring ImagePathBeforeVista(DWORD processId) {
  LoadPsapi();
  ProcessHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process) RaiseLastOSError();
  wchar_t buffer[MAX_PATH + 1] = {};
  if (PsapiGetModuleFileNameExW(process.get(), nullptr, buffer, MAX_PATH) == 0) RaiseLastOSError();
  return buffer;
}
}  // namespace

void InitializeQuorvexSetupUtils() { WindowsMajorVersion = ReadWindowsMajorVersion(); }

void FinalizeQuorvexSetupUtils() { UnloadPsapi(); }

void SetWindowsMajorVersionForTesting(DWORD major) {
  WindowsMajorVersion = major ? major : ReadWindowsMajorVersion();
}

void SetQueryFullProcessImageNameForTesting(QueryFullProcessImageNameWFn fn) {
  QueryFullProcessImageNameOverride = fn;
}

bool IsVistaOrLater() { return WindowsMajorVersion >= 6; }

void LoadPsapi() {
  if (PsapiModule) return;
  PsapiModule.reset(::LoadLibraryW(L"psapi.dll"));
  if (!PsapiModule) RaiseLastOSError();
  PsapiGetModuleFileNameExW =
      reinterpret_cast<GetModuleFileNameExWFn>(::GetProcAddress(PsapiModule.get(), "GetModuleFileNameExW"));
  if (!PsapiGetModuleFileNameExW) {
    DWORD code = ::GetLastError();
    UnloadPsapi();
    RaiseOSError(code);
  }
}

void UnloadPsapi() {
  PsapiModule.reset();
  PsapiGetModuleFileNameExW = nullptr;
}

DWORD GetParentProcessID() {
  const DWORD self = ::GetCurrentProcessId();
  SnapshotHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  BOOL more = ::Process32FirstW(snapshot.get(), &entry);
  while (more) {
    if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
    entry = {};
    entry.dwSize = sizeof(entry);
    more = ::Process32NextW(snapshot.get(), &entry);
  }
  return 0;
}

std::wstring GetProcessImagePath(DWORD processId) {
  try {
    return IsVistaOrLater() ? ImagePathVistaOrLater(processId) : ImagePathBeforeVista(processId);
  } catch (...) {
    return L"System process #" + DecimalText(processId);
  }
}

}  // namespace qor
