// The common model of the file lists and the directory list, against real folders.
#include <propidl.h>

#include <algorithm>

#include "Error.h"
#include "FileLists.h"
#include "FileListTestSupport.h"
#include "FileTestSupport.h"
#include "ShellTestEnv.h"

using namespace qor;
using qortest::IsZero;
using qortest::Narrow;
using qortest::TempFolder;
using qortest::WriteFileBytes;

namespace {

// The protected record helpers, reachable from the tests.
struct RecordHelpers : TqorShellFileList {
  using TqorShellFileList::FillFromFile;
  using TqorShellFileList::FillFromFileDescriptorA;
  using TqorShellFileList::FillFromFileDescriptorW;
  using TqorShellFileList::FillFromFindData;
};

struct Item {
  std::wstring name;
  DWORD attr;
  int64_t size;
};

// A full walk, closing the handle.
std::vector<Item> Walk(TqorShellFileList& list) {
  std::vector<Item> items;
  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  if (!h) return items;
  do items.push_back({rec.FileName, rec.Attr, rec.FileSize});
  while (list.FindNext(h, rec));
  list.FindClose(h);
  return items;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::string Names(const std::vector<std::wstring>& names) {
  std::string s;
  for (const auto& n : names) s += Narrow(n) + "; ";
  return s;
}


}  // namespace

TEST(FileShellAttributes, EachFileAttributeGivesItsShellAttributes) {
  struct Case {
    DWORD attr;
    TqorFileShellAttributes shell;
  } cases[] = {
      {0, 0x40400077},  // a plain real file: stream, file system and the file verbs
      {FILE_ATTRIBUTE_DIRECTORY, 0xE8000077},
      {FILE_ATTRIBUTE_READONLY, 0x40400077 | fsaReadOnly},
      {FILE_ATTRIBUTE_HIDDEN, 0x40400077 | fsaHidden},
      {FILE_ATTRIBUTE_SYSTEM, 0x40400077 | fsaSystem},
      {FILE_ATTRIBUTE_COMPRESSED, 0x40400077 | fsaCompressed},
      {FILE_ATTRIBUTE_ENCRYPTED, 0x40400077 | fsaEncrypted},
      {FILE_ATTRIBUTE_VIRTUAL, fsaStream},
      {FILE_ATTRIBUTE_VIRTUAL | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN,
       fsaHasSubfolder | fsaFolder | fsaBrowsable | fsaHidden},
      // Attributes without a shell counterpart are dropped.
      {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY, 0x40400077},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "attr 0x" << std::hex << c.attr);
    EXPECT_EQ(FileAttributesToShellAttributes(c.attr), c.shell)
        << std::hex << FileAttributesToShellAttributes(c.attr);
  }
}

TEST(FileShellAttributes, ShellAttributesGiveBackOnlyTheirFileCounterparts) {
  struct Case {
    TqorFileShellAttributes shell;
    DWORD attr;
  } cases[] = {
      {0, FILE_ATTRIBUTE_VIRTUAL},
      {fsaFileSystem, 0},
      {fsaFileSystem | fsaFolder, FILE_ATTRIBUTE_DIRECTORY},
      {fsaFileSystem | fsaReadOnly | fsaHidden | fsaSystem | fsaCompressed | fsaEncrypted,
       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_COMPRESSED |
           FILE_ATTRIBUTE_ENCRYPTED},
      // Everything else (verbs, stream, browsable, subfolders) is not carried over.
      {fsaFileSystem | fsaCanCopy | fsaStream | fsaBrowsable | fsaHasSubfolder | fsaLink, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "shell 0x" << std::hex << c.shell);
    EXPECT_EQ(ShellAttributesToFileAttributes(c.shell), c.attr)
        << std::hex << ShellAttributesToFileAttributes(c.shell);
  }
  // Element n of the set is the shell's flag 2^n.
  EXPECT_EQ(fsaCanRename, static_cast<TqorFileShellAttributes>(SFGAO_CANRENAME));
  EXPECT_EQ(fsaGhosted, static_cast<TqorFileShellAttributes>(SFGAO_GHOSTED));
  EXPECT_EQ(fsaBrowsable, static_cast<TqorFileShellAttributes>(SFGAO_BROWSABLE));
  EXPECT_EQ(ShellAttributeRequestMask, 0x740C3000u);
}

TEST(SearchRecord, HelpersClearTheRecordAndFillFromTheirSource) {
  TqorSearchRec rec;
  rec.FileName = L"stale";
  rec.Attr = 0xFFFF;
  rec.FileSize = 77;
  rec.CreationTime = {1, 2};

  WIN32_FIND_DATAW data = {};
  data.dwFileAttributes = FILE_ATTRIBUTE_HIDDEN;
  data.nFileSizeHigh = 1;
  data.nFileSizeLow = 5;
  data.ftLastWriteTime = {10, 20};
  wcscpy(data.cFileName, L"a.txt");
  RecordHelpers::FillFromFindData(rec, L"C:\\x\\", data);
  EXPECT_EQ(rec.FileName, L"C:\\x\\a.txt");
  EXPECT_EQ(rec.Attr, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(rec.ShellAttr, FileAttributesToShellAttributes(FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(rec.FileSize, (int64_t(1) << 32) + 5);
  EXPECT_EQ(rec.LastWriteTime.dwLowDateTime, 10u);
  EXPECT_TRUE(IsZero(rec.CreationTime)) << "the stale creation time is cleared";

  // A file that does not exist keeps only its name.
  RecordHelpers::FillFromFile(rec, L"C:\\no such folder\\none.bin");
  EXPECT_EQ(rec.FileName, L"C:\\no such folder\\none.bin");
  EXPECT_EQ(rec.Attr, 0u);
  EXPECT_EQ(rec.FileSize, 0);
  EXPECT_TRUE(IsZero(rec.LastWriteTime));
}

TEST(SearchRecord, FileDescriptorsFillOnlyTheFieldsTheirFlagsName) {
  FILEDESCRIPTORW w = {};
  w.dwFlags = FD_FILESIZE | FD_WRITESTIME;
  w.dwFileAttributes = FILE_ATTRIBUTE_READONLY;  // not named by the flags: ignored
  w.nFileSizeLow = 1234;
  w.ftLastWriteTime = {5, 6};
  w.ftCreationTime = {7, 8};
  wcscpy(w.cFileName, L"report.txt");
  TqorSearchRec rec;
  RecordHelpers::FillFromFileDescriptorW(rec, w);
  EXPECT_EQ(rec.FileName, L"report.txt");
  EXPECT_EQ(rec.Attr, static_cast<DWORD>(FILE_ATTRIBUTE_VIRTUAL));
  EXPECT_EQ(rec.ShellAttr, fsaStream);
  EXPECT_EQ(rec.FileSize, 1234);
  EXPECT_EQ(rec.LastWriteTime.dwHighDateTime, 6u);
  EXPECT_TRUE(IsZero(rec.CreationTime));

  FILEDESCRIPTORA a = {};
  a.dwFlags = FD_ATTRIBUTES | FD_CREATETIME | FD_ACCESSTIME;
  a.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  a.ftCreationTime = {1, 1};
  a.ftLastAccessTime = {2, 2};
  a.nFileSizeLow = 99;  // FD_FILESIZE absent
  strcpy(a.cFileName, "folder");
  RecordHelpers::FillFromFileDescriptorA(rec, a);
  EXPECT_EQ(rec.FileName, L"folder");
  EXPECT_EQ(rec.Attr, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_VIRTUAL));
  EXPECT_EQ(rec.ShellAttr & fsaFileSystem, 0u);
  EXPECT_NE(rec.ShellAttr & fsaFolder, 0u);
  EXPECT_EQ(rec.FileSize, 0);
  EXPECT_EQ(rec.CreationTime.dwLowDateTime, 1u);
  EXPECT_EQ(rec.LastAccessTime.dwLowDateTime, 2u);
  EXPECT_TRUE(IsZero(rec.LastWriteTime));
}

TEST(SearchRecord, ADescriptorNameThatFillsItsArrayEndsAtTheArray) {
  FILEDESCRIPTORW w;
  std::fill(std::begin(w.cFileName), std::end(w.cFileName), L'w');
  w.dwFlags = 0;
  FILEDESCRIPTORA a;
  std::fill(std::begin(a.cFileName), std::end(a.cFileName), 'a');
  a.dwFlags = 0;
  TqorSearchRec rec;
  RecordHelpers::FillFromFileDescriptorW(rec, w);
  EXPECT_EQ(rec.FileName, std::wstring(MAX_PATH, L'w'));
  RecordHelpers::FillFromFileDescriptorA(rec, a);
  EXPECT_EQ(rec.FileName, std::wstring(MAX_PATH, L'a'));
}

TEST(PropVariantTimes, DatesKeepTheirCalendarTimeAndFileTimesPassAsTheyAre) {
  PROPVARIANT v;
  PropVariantInit(&v);
  v.vt = VT_DATE;
  SYSTEMTIME st = {2021, 3, 0, 14, 15, 9, 26, 0};
  ASSERT_TRUE(SystemTimeToVariantTime(&st, &v.date));
  FILETIME expected;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &expected));
  FILETIME got = PropVariantToFileTime(v);
  EXPECT_EQ(got.dwLowDateTime, expected.dwLowDateTime);
  EXPECT_EQ(got.dwHighDateTime, expected.dwHighDateTime);
  SYSTEMTIME back;
  FileTimeToSystemTime(&got, &back);
  EXPECT_EQ(back.wHour, 15) << "no shift for the time zone";
  EXPECT_EQ(back.wMinute, 9);

  v.vt = VT_FILETIME;
  v.filetime = {0x12345678, 0x01D7};
  got = PropVariantToFileTime(v);
  EXPECT_EQ(got.dwLowDateTime, 0x12345678u);
  EXPECT_EQ(got.dwHighDateTime, 0x01D7u);

  v.vt = VT_UI8;
  v.uhVal.QuadPart = 123456789;
  EXPECT_TRUE(IsZero(PropVariantToFileTime(v)));
  v.vt = VT_DATE;
  v.date = -1e12;  // outside the calendar
  EXPECT_TRUE(IsZero(PropVariantToFileTime(v)));
}

TEST(PlainFileList, IsAnEmptyList) {
  TqorShellFileList list;
  TqorSearchRec rec;
  rec.FileName = L"stale";
  EXPECT_EQ(list.FindFirst(rec), 0u);
  EXPECT_TRUE(rec.FileName.empty());
  bool real = false;
  EXPECT_TRUE(list.CreateFileList(real).empty());
  EXPECT_TRUE(real) << "an empty list holds no virtual item";
  EXPECT_FALSE(list.IsSingleFile());
  EXPECT_EQ(list.GetCount(), 0);
}

class DirectoryFileList : public ShellLibrary {
 protected:
  TempFolder dir;
};

TEST_F(DirectoryFileList, TwoFilesAndAFolderGiveThreeFullPathsAndNoDotEntries) {
  WriteFileBytes(dir / L"a.txt", "12345");
  WriteFileBytes(dir / L"b.bin", "");
  ASSERT_TRUE(CreateDirectoryW((dir / L"sub").c_str(), nullptr));
  TqorDirectoryFileList list(dir.path() + L"\\");
  std::vector<Item> items = Walk(list);
  std::vector<std::wstring> names;
  for (const Item& i : items) names.push_back(i.name);
  const std::vector<std::wstring> expected = {dir / L"a.txt", dir / L"b.bin", dir / L"sub"};
  EXPECT_EQ(Sorted(names), expected) << Names(names);
  for (const Item& i : items) {
    SCOPED_TRACE(Narrow(i.name));
    if (i.name == dir / L"a.txt") {
      EXPECT_EQ(i.size, 5);
    }
    EXPECT_EQ((i.attr & FILE_ATTRIBUTE_DIRECTORY) != 0, i.name == dir / L"sub");
  }
  EXPECT_EQ(list.GetCount(), 3);
  EXPECT_FALSE(list.IsSingleFile());
  bool real = false;
  EXPECT_EQ(Sorted(list.CreateFileList(real)), expected);
  EXPECT_TRUE(real);
}

TEST_F(DirectoryFileList, AFolderWithoutTrailingSeparatorGetsExactlyOne) {
  WriteFileBytes(dir / L"only.txt", "x");
  for (const std::wstring& path : {dir.path(), dir.path() + L"\\"}) {
    SCOPED_TRACE(Narrow(path));
    TqorDirectoryFileList list(path);
    EXPECT_EQ(list.Dir(), dir.path() + L"\\");
    EXPECT_EQ(list.CreateFileList(), std::vector<std::wstring>{dir / L"only.txt"});
    EXPECT_TRUE(list.IsSingleFile());
  }
}

TEST_F(DirectoryFileList, HiddenAndSystemFilesAreListedWithTheirAttributes) {
  WriteFileBytes(dir / L"hidden.txt", "h");
  WriteFileBytes(dir / L"system.txt", "s");
  ASSERT_TRUE(SetFileAttributesW((dir / L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesW((dir / L"system.txt").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
  TqorDirectoryFileList list(dir.path());
  const int seen = qortest::WalkEveryItem(list, [&](TqorSearchHandle, const TqorSearchRec& rec) {
    EXPECT_NE(rec.Attr & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_NE(rec.ShellAttr & fsaHidden, 0u);
    EXPECT_EQ((rec.ShellAttr & fsaSystem) != 0, rec.FileName == dir / L"system.txt");
    EXPECT_NE(rec.ShellAttr & fsaFileSystem, 0u);
  });
  EXPECT_EQ(seen, 2);
}

TEST_F(DirectoryFileList, AnEmptyFolderHasNoItem) {
  TqorDirectoryFileList list(dir.path());
  TqorSearchRec rec;
  rec.FileName = L"stale";
  EXPECT_EQ(list.FindFirst(rec), 0u);
  EXPECT_TRUE(rec.FileName.empty());
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_FALSE(list.IsSingleFile());
}

TEST_F(DirectoryFileList, AMissingFolderRaisesTheSystemError) {
  TqorDirectoryFileList list(dir / L"missing");
  TqorSearchRec rec;
  rec.FileName = L"stale";
  try {
    list.FindFirst(rec);
    FAIL() << "a missing folder must raise";
  } catch (const OSError& e) {
    EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << e.code();
    EXPECT_EQ(e.message(), SystemErrorText(ERROR_PATH_NOT_FOUND));
  }
  EXPECT_TRUE(rec.FileName.empty());
  EXPECT_THROW(list.CreateFileList(), OSError);
  EXPECT_THROW(list.GetCount(), OSError);
}

TEST_F(DirectoryFileList, StreamsAndSubListsFollowTheCurrentItemAndEndWithTheWalk) {
  WriteFileBytes(dir / L"sub\\inner.txt", "inner");
  TqorDirectoryFileList list(dir.path());
  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  ASSERT_NE(h, 0u);
  ScopeGuard close([&] { list.FindClose(h); });
  ASSERT_EQ(rec.FileName, dir / L"sub");
  std::unique_ptr<TqorShellFileList> sub = list.CreateFolderFileList(h, rec);
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->CreateFileList(), std::vector<std::wstring>{dir / L"sub\\inner.txt"});
  EXPECT_TRUE(sub->IsSingleFile());

  TqorSearchRec inner;
  TqorSearchHandle hs = sub->FindFirst(inner);
  ASSERT_NE(hs, 0u);
  std::unique_ptr<TStream> stream = sub->CreateFileStream(hs, inner, STGM_READ, false);
  ASSERT_TRUE(stream);
  char buffer[16] = {};
  EXPECT_EQ(stream->Read(buffer, sizeof buffer), 5);
  EXPECT_STREQ(buffer, "inner");
  EXPECT_FALSE(sub->FindNext(hs, inner));
  qortest::ExpectOutOfFileList(*sub, hs, inner);
  EXPECT_FALSE(sub->FindNext(hs, inner)) << "stays at the end";
  sub->FindClose(hs);
}

TEST_F(DirectoryFileList, IsSingleFileIsFalseForASingleFolder) {
  ASSERT_TRUE(CreateDirectoryW((dir / L"only").c_str(), nullptr));
  TqorDirectoryFileList list(dir.path());
  EXPECT_EQ(list.GetCount(), 1);
  EXPECT_FALSE(list.IsSingleFile());
}
