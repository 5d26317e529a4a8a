// Helpers for tests that need Total Commander registry values and UTF-16 files, on top of the shared
// file helpers.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "FileTestSupport.h"

namespace qortest {

// Writes text as UTF-16 LE with a byte-order mark.
void WriteFileUtf16(const std::wstring& path, const std::wstring& text);

// Total Commander's registry key under HKCU and HKLM: cleared on construction and destruction.
class TotalCommanderRegistry {
 public:
  TotalCommanderRegistry();
  ~TotalCommanderRegistry();
  void SetString(HKEY root, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ);
  void SetRaw(HKEY root, const wchar_t* name, DWORD type, const void* data, DWORD size);
  void Clear();
};

}  // namespace qortest
