#include "PathParts.h"


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

}  // namespace qor
