#include "Sandbox.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "Fuzzer.h"

namespace qortest::fuzz {

namespace {
void Walk(const std::wstring& root, const std::wstring& relative,
          const std::function<void(const std::wstring&, const WIN32_FIND_DATAW&)>& visit) {
  WIN32_FIND_DATAW fd;
  const std::wstring base = relative.empty() ? root : root + L"\\" + relative;
  HANDLE h = FindFirstFileW((base + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring rel = relative.empty() ? name : relative + L"\\" + name;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Walk(root, rel, visit);
    visit(rel, fd);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}

void CreateParents(const std::wstring& path) {
  for (size_t i = 3; i < path.size(); ++i)
    if (path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}
}  // namespace

void Sandbox::Make(const std::string& name) {
  path_ = L"C:\\qor_fuzz\\" + Widen(name);
  Remove();
  CreateParents(path_ + L"\\");
}

void Sandbox::Remove() {
  EmptyFolder(path_);
  RemoveDirectoryW(path_.c_str());
  RemoveDirectoryW(L"C:\\qor_fuzz");  // fails while another target's sandbox is there
}

std::vector<FileEntry> ListFilesBelow(const std::wstring& root) {
  std::vector<FileEntry> files;
  Walk(root, L"", [&](const std::wstring& rel, const WIN32_FIND_DATAW& fd) {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      files.push_back({rel, (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow});
  });
  std::sort(files.begin(), files.end(), [](const FileEntry& a, const FileEntry& b) { return a.relative < b.relative; });
  return files;
}

void EmptyFolder(const std::wstring& root, const std::vector<std::wstring>& keep) {
  Walk(root, L"", [&](const std::wstring& rel, const WIN32_FIND_DATAW& fd) {
    const std::wstring full = root + L"\\" + rel;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (std::find(keep.begin(), keep.end(), rel) == keep.end()) RemoveDirectoryW(full.c_str());
    } else {
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(full.c_str());
    }
  });
}

bool WriteFileNewStamp(const std::wstring& path, const std::string& bytes) {
  static ULONGLONG stamp = 0x01D0000000000000ull;  // some day in 2014, then one second per write
  stamp += 10000000;
  CreateParents(path);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  FILETIME time{static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
  ok = ok && SetFileTime(h, nullptr, nullptr, &time);
  CloseHandle(h);
  return ok && written == bytes.size();
}

std::string ReadBytes(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string data;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0) data.append(buffer, read);
  CloseHandle(h);
  return data;
}

void SetValueFromPart(HKEY root, const wchar_t* key, const wchar_t* name, const std::string& part) {
  HKEY k;
  if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS) return;
  if (part.size() < 4) {
    RegDeleteValueW(k, name);
  } else {
    DWORD type = 0;
    memcpy(&type, part.data(), 4);
    RegSetValueExW(k, name, 0, type, reinterpret_cast<const BYTE*>(part.data() + 4), static_cast<DWORD>(part.size() - 4));
  }
  RegCloseKey(k);
}

std::optional<std::string> StoredValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD* type) {
  HKEY k;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return std::nullopt;
  std::string data(1 << 16, '\0');
  DWORD size = static_cast<DWORD>(data.size());
  DWORD t = 0;
  const LONG rc = RegQueryValueExW(k, name, nullptr, &t, reinterpret_cast<BYTE*>(data.data()), &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS) return std::nullopt;
  if (type) *type = t;
  data.resize(size);
  return data;
}

}  // namespace qortest::fuzz
