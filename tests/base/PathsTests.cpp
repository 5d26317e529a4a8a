#include <gtest/gtest.h>
#include <windows.h>

#include "Paths.h"

using namespace qor;

struct PathCase {
  const wchar_t* path;
  const wchar_t* folder;  // ExtractFilePath
  const wchar_t* dir;     // ExtractFileDir
  const wchar_t* name;    // ExtractFileName
};

TEST(PathParts, Table) {
  const PathCase cases[] = {
      {L"C:\\TC\\TOTALCMD64.EXE", L"C:\\TC\\", L"C:\\TC", L"TOTALCMD64.EXE"},
      {L"C:\\Windows", L"C:\\", L"C:\\", L"Windows"},
      {L"C:\\a\\b", L"C:\\a\\", L"C:\\a", L"b"},
      {L"name.wcx", L"", L"", L"name.wcx"},
      {L"C:y.wcx", L"C:", L"C:", L"y.wcx"},
      {L"\\\\srv\\share\\p.wcx", L"\\\\srv\\share\\", L"\\\\srv\\share", L"p.wcx"},
      {L"\\\\x", L"\\\\", L"\\\\", L"x"},
      {L"C:\\TC\\", L"C:\\TC\\", L"C:\\TC", L""},
      {L"", L"", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "path " << testing::PrintToString(std::wstring(c.path)));
    EXPECT_EQ(ExtractFilePath(c.path), c.folder);
    EXPECT_EQ(ExtractFileDir(c.path), c.dir);
    EXPECT_EQ(ExtractFileName(c.path), c.name);
  }
}

TEST(PathParts, ChangeFileExtAndTrailingDelimiter) {
  EXPECT_EQ(ChangeFileExt(L"C:\\p\\zip.wcx", L".wcx64"), L"C:\\p\\zip.wcx64");
  EXPECT_EQ(ChangeFileExt(L"C:\\p.d\\plugin", L".wcx64"), L"C:\\p.d\\plugin.wcx64");
  EXPECT_EQ(ChangeFileExt(L"a.b.c", L".x"), L"a.b.x");
  EXPECT_EQ(IncludeTrailingPathDelimiter(L"C:\\TC"), L"C:\\TC\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter(L"C:\\TC\\"), L"C:\\TC\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter(L""), L"\\");
}

TEST(PathParts, JoinGivesTheConfiguredPathBack) {
  const wchar_t* paths[] = {L"C:\\y.wcx", L"C:\\TC\\plugins\\zip.wcx", L"y.wcx", L"C:y.wcx",
                            L"\\\\srv\\share\\p.wcx"};
  for (const wchar_t* p : paths) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(p)));
    EXPECT_EQ(JoinPath(ExtractFileDir(p), ExtractFileName(p)), p);
  }
}

class TempDir : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    root_ = std::wstring(tmp) + L"qor_paths_" + std::to_wstring(GetCurrentProcessId());
  }
  void TearDown() override {
    RemoveDirectoryW((root_ + L"\\a\\b\\c").c_str());
    RemoveDirectoryW((root_ + L"\\a\\b").c_str());
    RemoveDirectoryW((root_ + L"\\a").c_str());
    DeleteFileW((root_ + L"\\f").c_str());
    RemoveDirectoryW(root_.c_str());
  }
  std::wstring root_;
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

TEST(Text, UpperCaseAndSameTextAreLocaleAware) {
  EXPECT_EQ(UpperCase(L"totalcmd64.exe"), L"TOTALCMD64.EXE");
  EXPECT_EQ(UpperCase(L"\u00e4\u0436"), L"\u00c4\u0416");  // ä ж
  EXPECT_TRUE(SameText(L"Zip.WCX", L"zip.wcx"));
  EXPECT_TRUE(SameText(L"\u0436.wcx", L"\u0416.WCX"));
  EXPECT_FALSE(SameText(L"zip.wcx", L"zip.wcx64"));
  EXPECT_TRUE(SameText(L"", L""));
}
