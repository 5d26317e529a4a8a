#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "FileSystem.h"
#include "FileTestSupport.h"

using namespace qor;

class TempDir : public testing::Test {
 protected:
  qortest::TempFolder temp_;
  const std::wstring root_ = temp_.path();
};

TEST_F(TempDir, ForceDirectoriesCreatesEveryLevel) {
  std::wstring deep = root_ + L"\\a\\b\\c";
  EXPECT_FALSE(DirectoryExists(deep));
  EXPECT_TRUE(ForceDirectories(deep + L"\\"));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_TRUE(ForceDirectories(deep));  // already there
  EXPECT_FALSE(FileExists(deep));
  // A file in the way of a level: the folder cannot be made.
  HANDLE h = CreateFileW((root_ + L"\\f").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(FileExists(root_ + L"\\f"));
  EXPECT_FALSE(ForceDirectories(root_ + L"\\f\\sub"));
  EXPECT_FALSE(FileExists(L""));
  EXPECT_FALSE(DirectoryExists(L""));
}

TEST(ExpandEnvStr, ReplacesDefinedReferencesOnly) {
  SetEnvironmentVariableW(L"QOR_X", L"C:\\x");
  EXPECT_EQ(ExpandEnvStr(L""), L"");
  EXPECT_EQ(ExpandEnvStr(L"%QOR_X%\\wincmd.ini"), L"C:\\x\\wincmd.ini");
  EXPECT_EQ(ExpandEnvStr(L"%COMMANDER_PATH%\\wincmd.ini"), L"%COMMANDER_PATH%\\wincmd.ini");
  EXPECT_EQ(ExpandEnvStr(L"plain"), L"plain");
  std::wstring longText(5000, L'y');
  EXPECT_EQ(ExpandEnvStr(L"%QOR_X%" + longText), L"C:\\x" + longText);
  SetEnvironmentVariableW(L"QOR_X", nullptr);
}
