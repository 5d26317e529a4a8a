#include <gtest/gtest.h>
#include <windows.h>

#include "PathParts.h"

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
