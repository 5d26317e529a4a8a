#include "FileTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace qortest {

TempFolder::TempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  static unsigned counter = 0;
  for (;;) {
    path_ = std::wstring(temp) + L"qor_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter);
    if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      ADD_FAILURE() << "cannot create a temporary folder, error " << GetLastError();
      break;
    }
  }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

static void CreateParents(const std::wstring& path) {
  for (size_t i = 3; i < path.size(); ++i)
    if (path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  CreateParents(path);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << Narrow(path) << " error " << GetLastError();
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  ASSERT_TRUE(ok && written == bytes.size()) << Narrow(path);
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot open " << Narrow(path) << ", error " << GetLastError();
    return {};
  }
  LARGE_INTEGER size{};
  GetFileSizeEx(h, &size);
  std::string data(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  BOOL ok = data.empty() || ReadFile(h, data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
  CloseHandle(h);
  if (!ok || read != data.size()) ADD_FAILURE() << "cannot read " << Narrow(path);
  return data;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

static void Walk(const std::wstring& root, const std::wstring& relative,
                 const std::function<void(const std::wstring&, bool)>& visit) {
  WIN32_FIND_DATAW fd;
  std::wstring base = relative.empty() ? root : root + L"\\" + relative;
  HANDLE h = FindFirstFileW((base + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring rel = relative.empty() ? name : relative + L"\\" + name;
    bool dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (dir) Walk(root, rel, visit);
    visit(rel, dir);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}

void RemoveTree(const std::wstring& path) {
  Walk(path, L"", [&](const std::wstring& rel, bool dir) {
    std::wstring full = path + L"\\" + rel;
    if (dir) {
      RemoveDirectoryW(full.c_str());
    } else {
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(full.c_str());
    }
  });
  RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> ListFiles(const std::wstring& root) {
  std::vector<std::wstring> files;
  Walk(root, L"", [&](const std::wstring& rel, bool dir) {
    if (!dir) files.push_back(rel);
  });
  std::sort(files.begin(), files.end());
  return files;
}

std::wstring StoredName(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(path.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return {};
  FindClose(h);
  return fd.cFileName;
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  return std::wstring(path, n);
}

std::wstring BinDir() {
  std::wstring own = OwnPath();
  return own.substr(0, own.find_last_of(L'\\') + 1);
}

std::wstring BuildFile(const std::wstring& relative) { return BinDir() + L"..\\" + relative; }

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

ChildProcess::ChildProcess(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring commandLine = Quoted(exe) + L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &si, &pi)) {
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    id_ = pi.dwProcessId;
  } else {
    startError_ = GetLastError();
  }
}

bool ChildProcess::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool ChildProcess::WaitEnded(DWORD timeoutMs) const {
  return process_ && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
  DWORD code = 0xFFFFFFFF;
  if (process_) GetExitCodeProcess(process_, &code);
  return code;
}

void ChildProcess::End() {
  if (!process_) return;
  if (Running()) TerminateProcess(process_, 9);
  WaitForSingleObject(process_, 10000);
  CloseHandle(process_);
  process_ = nullptr;
}

bool WaitForReadyEvent(const ChildProcess& child, const std::wstring& event, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (HANDLE ready = OpenEventW(SYNCHRONIZE, FALSE, (event + L".ready").c_str())) {
      const DWORD left = static_cast<DWORD>(std::max<long long>(0, static_cast<long long>(end - GetTickCount64())));
      const bool set = WaitForSingleObject(ready, left) == WAIT_OBJECT_0;
      CloseHandle(ready);
      return set;
    }
    if (!child.Running() || GetTickCount64() > end) return false;
    Sleep(20);
  }
}

DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 1000 + GetLastError();
  DWORD code = 1000 + WAIT_TIMEOUT;
  if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(pi.hProcess, &code);
  } else {
    TerminateProcess(pi.hProcess, 1);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

std::string Narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace qortest
