#include "Paths.h"

#include <windows.h>

#include <vector>

namespace qor {

namespace {
bool IsDelimiter(wchar_t c) { return c == L'\\' || c == L':'; }

size_t AfterLastDelimiter(std::wstring_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsDelimiter(path[i - 1])) return i;
  return 0;
}
}  // namespace

std::wstring ExtractFilePath(std::wstring_view path) {
  return std::wstring(path.substr(0, AfterLastDelimiter(path)));
}

std::wstring ExtractFileDir(std::wstring_view path) {
  size_t n = AfterLastDelimiter(path);
  if (n > 0 && path[n - 1] == L'\\' && !(n >= 2 && IsDelimiter(path[n - 2]))) --n;
  return std::wstring(path.substr(0, n));
}

std::wstring ExtractFileName(std::wstring_view path) {
  return std::wstring(path.substr(AfterLastDelimiter(path)));
}

std::wstring ChangeFileExt(std::wstring_view path, std::wstring_view ext) {
  size_t nameStart = AfterLastDelimiter(path);
  size_t dot = path.rfind(L'.');
  size_t cut = (dot != std::wstring_view::npos && dot >= nameStart) ? dot : path.size();
  std::wstring out(path.substr(0, cut));
  out += ext;
  return out;
}

std::wstring IncludeTrailingPathDelimiter(std::wstring_view path) {
  std::wstring out(path);
  if (out.empty() || out.back() != L'\\') out += L'\\';
  return out;
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  if (folder.empty()) return std::wstring(name);
  std::wstring out(folder);
  if (!IsDelimiter(out.back())) out += L'\\';
  out += name;
  return out;
}

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

std::wstring UpperCase(std::wstring_view text) {
  std::wstring out(text);
  if (!out.empty()) ::CharUpperBuffW(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

bool SameText(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool RestrictDllSearchToSystem32() {
  using Fn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto fn = kernel ? reinterpret_cast<Fn>(::GetProcAddress(kernel, "SetDefaultDllDirectories")) : nullptr;
  return fn && fn(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace qor
