// Helpers for tests that need real files, folders and Total Commander registry values.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace qortest {

// A fresh folder under %TEMP%, removed with everything in it at the end of the test.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Writes bytes as they are; creates missing folders.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Writes text as UTF-16 LE with a byte-order mark.
void WriteFileUtf16(const std::wstring& path, const std::wstring& text);
std::string ReadFileBytes(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// Total Commander's registry key under HKCU and HKLM: cleared on construction and destruction.
class TotalCommanderRegistry {
 public:
  TotalCommanderRegistry();
  ~TotalCommanderRegistry();
  void SetString(HKEY root, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ);
  void SetRaw(HKEY root, const wchar_t* name, DWORD type, const void* data, DWORD size);
  void Clear();
};

// The folder of the running test program (the build's bin folder), with a trailing "\".
std::wstring BinDir();
// Runs a command line and returns its exit code (or 1000 + the error when it cannot start).
DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs = 30000);

}  // namespace qortest
