#include "SetupTestSupport.h"

#include "Paths.h"
#include "TotalCommanderLocation.h"

namespace qortest {

TempFolder::TempFolder() {
  static int counter = 0;
  wchar_t tmp[MAX_PATH];
  GetTempPathW(MAX_PATH, tmp);
  path_ = std::wstring(tmp) + L"qor" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
  RemoveTree(path_);
  qor::ForceDirectories(path_);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = path + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full);
      else DeleteFileW(full.c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(path.c_str());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  qor::ForceDirectories(qor::ExtractFileDir(path));
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot create " << testing::PrintToString(path);
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

void WriteFileUtf16(const std::wstring& path, const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  WriteFileBytes(path, bytes);
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof(buffer), &n, nullptr) && n > 0) out.append(buffer, n);
  CloseHandle(h);
  return out;
}

TotalCommanderRegistry::TotalCommanderRegistry() { Clear(); }
TotalCommanderRegistry::~TotalCommanderRegistry() { Clear(); }

void TotalCommanderRegistry::Clear() {
  RegDeleteTreeW(HKEY_CURRENT_USER, qor::kTotalCommanderKey);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, qor::kTotalCommanderKey);
}

void TotalCommanderRegistry::SetRaw(HKEY root, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(root, qor::kTotalCommanderKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

void TotalCommanderRegistry::SetString(HKEY root, const wchar_t* name, const std::wstring& value, DWORD type) {
  SetRaw(root, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring BinDir() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return qor::ExtractFilePath(path);
}

DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs) {
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = commandLine;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 1000 + GetLastError();
  DWORD code = 0;
  if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 999);
    code = 999;
  } else {
    GetExitCodeProcess(pi.hProcess, &code);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

}  // namespace qortest
