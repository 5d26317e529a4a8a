#include "FileSystem.h"

#include <windows.h>

#include "PathParts.h"

namespace qor {

bool FileExists(const std::wstring& path) {
  if (path.empty()) return false;
  DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  if (path.empty()) return false;
  DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::wstring& path) {
  std::wstring dir = path;
  while (dir.size() > 1 && dir.back() == L'\\' && dir[dir.size() - 2] != L':' && dir[dir.size() - 2] != L'\\')
    dir.pop_back();
  if (dir.empty()) return false;
  if (DirectoryExists(dir)) return true;
  std::wstring parent = ExtractFileDir(dir);
  // A drive root or a bare name has no parent to create.
  if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
  if (::CreateDirectoryW(dir.c_str(), nullptr)) return true;
  return ::GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(dir);
}

std::wstring ExpandEnvStr(const std::wstring& text) {
  if (text.empty()) return text;
  DWORD n = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (n <= 1) return text;
  std::wstring out(n, L'\0');
  DWORD written = ::ExpandEnvironmentStringsW(text.c_str(), out.data(), n);
  if (written == 0 || written > n) return text;
  out.resize(written - 1);
  return out;
}

}  // namespace qor
