#include "TotalCommanderLocation.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>

#include "FileSystem.h"
#include "Handles.h"
#include "PathParts.h"
#include "QuorvexSetupUtils.h"
#include "TextCompare.h"
#include "qorShellBaseExtension.h"

namespace qor {

namespace {

// The bit of UseIniInProgramDir that makes Total Commander use the wincmd.ini in its own folder.
constexpr long long kUseIniInProgramDirOwnIni = 4;

// FOLDERID_Windows. Defined here rather than taken from libuuid, whose one object holds every
// identifier of the SDK (40 KB of the program for this one).
constexpr KNOWNFOLDERID kFolderIdWindows = {0xF38BF404, 0x1D43, 0x42F2, {0x93, 0x05, 0x67, 0xDE, 0x0B, 0x28, 0xFC, 0x23}};

// Reads the registry value under HKEY_CURRENT_USER, then (when that gives nothing) HKEY_LOCAL_MACHINE.
std::wstring ReadTotalCommanderValue(const wchar_t* name) {
  std::wstring value = RegReadString(HKEY_CURRENT_USER, kTotalCommanderKey, name);
  if (value.empty()) value = RegReadString(HKEY_LOCAL_MACHINE, kTotalCommanderKey, name);
  return value;
}

// Decimal, or hexadecimal with "0x" or "$"; anything else (or an overflow) counts as 0.
long long ParseIniInteger(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  int base = 10;
  if (i < text.size() && text[i] == L'$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return 0;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    wchar_t c = text[i];
    int digit;
    if (c >= L'0' && c <= L'9') digit = c - L'0';
    else if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
    else if (base == 16 && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
    else return 0;
    value = value * base + digit;
    if (value > 0xFFFFFFFFull) return 0;
  }
  return negative ? -static_cast<long long>(value) : static_cast<long long>(value);
}

long long ReadIniInteger(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  wchar_t buffer[64] = {};
  ::GetPrivateProfileStringW(section, key, L"", buffer, 64, file.c_str());
  return ParseIniInteger(buffer);
}

}  // namespace

std::wstring TotalCommanderParentPath() {
  DWORD parent = GetParentProcessID();
  if (parent == 0) return {};
  std::wstring path = GetProcessImagePath(parent);
  std::wstring name = UpperCase(ExtractFileName(path));
  if (name == L"TOTALCMD.EXE" || name == L"TOTALCMD64.EXE") return path;
  return {};
}

std::wstring IniFileForProgramDir(const std::wstring& programDir) {
  std::wstring candidate = IncludeTrailingPathDelimiter(programDir) + L"wincmd.ini";
  long long flags = ReadIniInteger(candidate, L"Configuration", L"UseIniInProgramDir");
  if ((flags & kUseIniInProgramDirOwnIni) == 0) candidate = ExpandEnvStr(ReadTotalCommanderValue(L"IniFileName"));
  return FileExists(candidate) ? candidate : std::wstring();
}

std::wstring FindWincmdIni() {
  std::wstring result;
  try {
    std::wstring parent = TotalCommanderParentPath();
    if (!parent.empty()) result = IniFileForProgramDir(ExtractFilePath(parent));
  } catch (...) {
    result.clear();
  }
  try {
    if (result.empty()) {
      std::wstring installDir = ReadTotalCommanderValue(L"InstallDir");
      if (!installDir.empty()) result = IniFileForProgramDir(installDir);
    }
    if (result.empty()) {
      std::wstring candidate = GetWindowsFolderParent();
      if (!candidate.empty()) candidate = IncludeTrailingPathDelimiter(candidate);
      candidate += L"wincmd.ini";
      if (FileExists(candidate)) result = candidate;
    }
  } catch (...) {
    result.clear();
  }
  return result;
}

std::wstring FindTotalCommanderDir() {
  std::wstring result;
  try {
    std::wstring parent = TotalCommanderParentPath();
    if (!parent.empty()) result = ExtractFilePath(parent);
  } catch (...) {
    result.clear();
  }
  if (result.empty()) result = ReadTotalCommanderValue(L"InstallDir");
  return result;
}

std::wstring GetWindowsFolderParent() {
  std::wstring path;
  TaskMem known;
  if (SUCCEEDED(DynSHGetKnownFolderPath(kFolderIdWindows, 0, nullptr, reinterpret_cast<PWSTR*>(known.put()))) &&
      known)
    path = static_cast<const wchar_t*>(known.get());
  if (path.empty()) {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (SUCCEEDED(DynSHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, buffer))) path = buffer;
  }
  if (path.empty()) {
    TaskMem pidl;
    if (SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_WINDOWS, reinterpret_cast<PIDLIST_ABSOLUTE*>(pidl.put()))) &&
        pidl) {
      wchar_t buffer[MAX_PATH + 1] = {};
      if (::SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(pidl.get()), buffer)) path = buffer;
    }
  }
  return ExtractFileDir(path);
}

std::wstring DefaultSetupFolder(const std::wstring& totalCommanderDir) {
  if (!DirectoryExists(totalCommanderDir)) return {};
  return IncludeTrailingPathDelimiter(totalCommanderDir) + L"Plugins\\Quorvex";
}

}  // namespace qor
