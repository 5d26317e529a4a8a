#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "PathParts.h"
#include "ProcessPolicy.h"

namespace {
std::wstring BinDir() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return qor::ExtractFilePath(path);
}
}  // namespace

// A DLL planted beside the program (a Downloads folder) is loaded by bare name until the search path is
// restricted, and never after.
TEST(DllSearch, PlantedLibraryIsNotLoadedOnceRestricted) {
  const std::wstring source = BinDir() + L"qor_ordinal_only.dll";
  const std::wstring before = BinDir() + L"qor_planted_before.dll";
  const std::wstring after = BinDir() + L"qor_planted_after.dll";
  ASSERT_TRUE(CopyFileW(source.c_str(), before.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(source.c_str(), after.c_str(), FALSE));

  HMODULE control = LoadLibraryW(L"qor_planted_before.dll");
  EXPECT_NE(control, nullptr) << "the program folder is searched by default";
  if (control) FreeLibrary(control);

  ASSERT_TRUE(qor::RestrictDllSearchToSystem32());
  SetLastError(0xDEADBEEF);
  HMODULE planted = LoadLibraryW(L"qor_planted_after.dll");
  EXPECT_EQ(planted, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  if (planted) FreeLibrary(planted);
  EXPECT_NE(GetModuleHandleW(L"kernel32.dll"), nullptr);
  HMODULE system = LoadLibraryW(L"shlwapi.dll");
  EXPECT_NE(system, nullptr) << "System32 libraries still load by bare name";
  if (system) FreeLibrary(system);
  DeleteFileW(before.c_str());
  DeleteFileW(after.c_str());
}
