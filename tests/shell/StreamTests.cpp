// The byte streams: the file stream's open modes and errors, the handle and memory streams, the stream
// over an IStream (seekable and not, the memory copy and its failures), and a file past 4 GiB read
// through every layer.
#include <shlwapi.h>
#include <winioctl.h>

#include "Error.h"
#include "FileTestSupport.h"
#include "StreamTestSupport.h"

using namespace qor;
using qortest::Pattern;
using qortest::ReadRest;

namespace {

class FileStream : public qortest::StreamFixture {
 protected:
  qortest::TempFolder folder_;
};

// Whether another opener can have the file for reading / writing while ours is open.
bool OthersCanOpen(const std::wstring& path, DWORD access) {
  SetLastError(0xDEADBEEF);
  FileHandle other(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!other) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  return static_cast<bool>(other);
}

}  // namespace

TEST_F(FileStream, EachModeGivesItsAccessAndSharing) {
  struct Case {
    const char* name;
    DWORD mode;
    bool reads, writes, othersRead, othersWrite;
  };
  const Case cases[] = {
      {"read", STGM_READ, true, false, true, true},
      {"write", STGM_WRITE, false, true, true, true},
      {"read-write", STGM_READWRITE, true, true, true, true},
      {"share deny none", STGM_READ | STGM_SHARE_DENY_NONE, true, false, true, true},
      {"share exclusive", STGM_READ | STGM_SHARE_EXCLUSIVE, true, false, false, false},
      {"share deny write", STGM_READ | STGM_SHARE_DENY_WRITE, true, false, true, false},
      {"share deny read", STGM_READWRITE | STGM_SHARE_DENY_READ, true, true, false, true},
      // Bits outside the three groups are ignored: no transaction, no conversion, no delete on release.
      {"other bits ignored", STGM_READWRITE | STGM_TRANSACTED | STGM_CONVERT | STGM_DELETEONRELEASE | STGM_PRIORITY,
       true, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = folder_ / L"mode.bin";
    qortest::WriteFileBytes(path, "hello");
    {
      TqorFileStream stream(path, c.mode);
      char buffer[8] = {};
      EXPECT_EQ(stream.Read(buffer, 5), c.reads ? 5 : 0);
      EXPECT_EQ(stream.Write("!", 1), c.writes ? 1 : 0);
      EXPECT_EQ(OthersCanOpen(path, GENERIC_READ), c.othersRead);
      EXPECT_EQ(OthersCanOpen(path, GENERIC_WRITE), c.othersWrite);
    }
    EXPECT_EQ(qortest::ReadFileBytes(path), c.writes ? (c.reads ? "hello!" : "!ello") : "hello");
  }
}

TEST_F(FileStream, CreateModeReplacesOrMakesTheFileAndPlainModeNeedsIt) {
  const std::wstring existing = folder_ / L"existing.bin";
  qortest::WriteFileBytes(existing, "old content");
  {
    TqorFileStream stream(existing, STGM_READWRITE | STGM_CREATE);
    EXPECT_EQ(stream.GetSize(), 0);
    EXPECT_EQ(stream.Write("new", 3), 3);
  }
  EXPECT_EQ(qortest::ReadFileBytes(existing), "new");

  const std::wstring missing = folder_ / L"missing.bin";
  { TqorFileStream stream(missing, STGM_WRITE | STGM_CREATE); }
  EXPECT_TRUE(qortest::Exists(missing));
  DeleteFileW(missing.c_str());
  EXPECT_THROW(TqorFileStream(missing, STGM_READ), OSError);
  EXPECT_FALSE(qortest::Exists(missing));
}

TEST_F(FileStream, ModesOutsideTheBitGroupsRaiseWithTheFileName) {
  struct Case {
    DWORD mode;
    const wchar_t* text;
  };
  const Case cases[] = {
      {3, L": Invalid access mode"},
      {STGM_READWRITE | 0x0000000C, L": Invalid access mode"},
      {0x50, L": Invalid share mode"},
      {STGM_WRITE | 0x80, L": Invalid share mode"},
      {0xF0, L": Invalid share mode"},
      {0x2000, L": Invalid create mode"},
      {STGM_CREATE | 0x8000, L": Invalid create mode"},
      // The groups are checked in order: access, then sharing, then creation.
      {3 | 0x50 | 0x2000, L": Invalid access mode"},
      {0x50 | 0x2000, L": Invalid share mode"},
  };
  const std::wstring path = folder_ / L"never made.bin";
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode 0x" << std::hex << c.mode);
    try {
      TqorFileStream stream(path, c.mode);
      ADD_FAILURE() << "no error raised";
    } catch (const FileStreamError& e) {
      EXPECT_EQ(e.message(), path + c.text);
    }
    EXPECT_FALSE(qortest::Exists(path));
  }
}

TEST_F(FileStream, AFailedOpenRaisesTheSystemError) {
  const std::wstring held = folder_ / L"held.bin";
  qortest::WriteFileBytes(held, "x");
  FileHandle holder(CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  struct Case {
    std::wstring path;
    DWORD mode;
    DWORD code;
  };
  const Case cases[] = {
      {folder_ / L"absent.bin", STGM_READ, ERROR_FILE_NOT_FOUND},
      {folder_ / L"no folder\\absent.bin", STGM_WRITE | STGM_CREATE, ERROR_PATH_NOT_FOUND},
      {held, STGM_READ, ERROR_SHARING_VIOLATION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(qortest::Narrow(c.path));
    try {
      TqorFileStream stream(c.path, c.mode);
      ADD_FAILURE() << "no error raised";
    } catch (const OSError& e) {
      EXPECT_EQ(e.code(), c.code);
      EXPECT_EQ(e.message(), SystemErrorText(c.code));
    }
  }
}

TEST_F(FileStream, ResizingMovesToTheNewSizeAndARefusalRaises) {
  const std::wstring path = folder_ / L"resize.bin";
  qortest::WriteFileBytes(path, "0123456789");
  {
    TqorFileStream stream(path, STGM_READWRITE);
    stream.SetSize(4);
    EXPECT_EQ(stream.Position(), 4);
    EXPECT_EQ(stream.GetSize(), 4);
    stream.SetSize(8);
    EXPECT_EQ(stream.Position(), 8);
    stream.SetPosition(0);
    EXPECT_EQ(ReadRest(stream), std::string("0123\0\0\0\0", 8));
    try {
      stream.Seek(-9, SeekOrigin::End);
      ADD_FAILURE() << "a seek before the start must raise";
    } catch (const OSError& e) {
      EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    }
    EXPECT_EQ(stream.Position(), 8);
  }
  TqorFileStream readOnly(path, STGM_READ);
  try {
    readOnly.SetSize(2);
    ADD_FAILURE() << "resizing a file opened for reading must raise";
  } catch (const OSError& e) {
    // Windows refuses with ERROR_ACCESS_DENIED; Wine with ERROR_INVALID_PARAMETER.
    EXPECT_TRUE(e.code() == ERROR_ACCESS_DENIED || e.code() == ERROR_INVALID_PARAMETER) << e.code();
  }
  EXPECT_EQ(readOnly.GetSize(), 8);
}

TEST(MemoryStream, GrowsOnWritesPastTheEndAndRefusesPositionsBeforeTheStart) {
  TMemoryStream stream;
  EXPECT_EQ(stream.Write("abc", 3), 3);
  EXPECT_EQ(stream.Seek(3, SeekOrigin::Current), 6);
  char probe[4];
  EXPECT_EQ(stream.Read(probe, 4), 0) << "a read past the end gives nothing";
  EXPECT_EQ(stream.Write("d", 1), 1);
  EXPECT_EQ(stream.GetSize(), 7);
  stream.SetPosition(0);
  EXPECT_EQ(ReadRest(stream, 2), std::string("abc\0\0\0d", 7));
  EXPECT_THROW(stream.Seek(-8, SeekOrigin::End), OSError);
  EXPECT_EQ(stream.Position(), 7) << "a refused seek leaves the position";
  stream.SetSize(2);
  EXPECT_EQ(stream.Position(), 2);
  EXPECT_EQ(stream.GetSize(), 2);
}

// TqorOleStream ------------------------------------------------------------------------------------

using OleStream = qortest::StreamFixture;

TEST_F(OleStream, ASeekableSourceIsUsedDirectlyAndNeverCopied) {
  const std::string data = Pattern(1000);
  ComPtr<IStream> source = ComPtr<IStream>::Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(data.data()), 1000));
  ASSERT_TRUE(source);
  TqorOleStream stream(source.get(), true, -1);
  EXPECT_FALSE(stream.HasMemoryCopy());
  EXPECT_EQ(stream.Seek(100, SeekOrigin::Begin), 100);
  ULARGE_INTEGER sourcePosition{};
  source->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &sourcePosition);
  EXPECT_EQ(sourcePosition.QuadPart, 100u) << "the seek reached the source";
  EXPECT_EQ(stream.GetSize(), 1000);
  EXPECT_EQ(stream.Position(), 100) << "measuring the size keeps the position";
  std::string buffer(10, '\0');
  EXPECT_EQ(stream.Read(buffer.data(), 10), 10);
  EXPECT_EQ(buffer, data.substr(100, 10));
  EXPECT_EQ(stream.Write("WXYZ", 4), 4);
  source->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(ReadRest(source.get()), data.substr(0, 110) + "WXYZ" + data.substr(114));

  TqorOleStream sized(source.get(), true, 5000);
  EXPECT_EQ(sized.GetSize(), 5000) << "a size given by the creator is taken as it is";
}

TEST_F(OleStream, ANonSeekableSourceOfUnknownSizeIsCopiedInPiecesAndThenSeeksAnywhere) {
  struct Case {
    size_t size;
    int64_t givenSize;  // -1 unknown; 0 counts as unknown too
  };
  const Case cases[] = {{200000, -1}, {61440, 0}, {0, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size << ", given " << c.givenSize);
    const std::string data = Pattern(c.size, 3);
    auto source = qortest::MakeDoubleStream(data);
    source->seekable = false;
    TqorOleStream stream(source.get(), true, c.givenSize);
    ASSERT_TRUE(stream.HasMemoryCopy());
    // Every piece is asked for in full; the copy ends with the first read that gives nothing.
    const size_t pieces = (c.size + 61439) / 61440 + 1;
    EXPECT_EQ(source->readRequests, std::vector<ULONG>(pieces, 61440));
    EXPECT_EQ(stream.GetSize(), static_cast<int64_t>(c.size));
    EXPECT_EQ(stream.Position(), 0);
    if (c.size > 150000) {
      EXPECT_EQ(stream.Seek(150000, SeekOrigin::Begin), 150000);
      EXPECT_EQ(ReadRest(stream), data.substr(150000));
      EXPECT_EQ(stream.Seek(-10, SeekOrigin::End), static_cast<int64_t>(c.size - 10));
      EXPECT_EQ(ReadRest(stream), data.substr(c.size - 10));
    }
    stream.SetPosition(0);
    EXPECT_EQ(ReadRest(stream, 1000), data);
    EXPECT_EQ(stream.Write("ab", 2), 2);
    EXPECT_EQ(source->data_, data) << "writes go to the copy, not to the source";
  }
}

TEST_F(OleStream, ANonSeekableSourceOfKnownSizeIsCopiedInOneReadAndKeepsOnlyWhatCame) {
  struct Case {
    const char* name;
    size_t size;
    int64_t givenSize;
    ULONG maxPiece;
    std::vector<ULONG> requests;
  };
  const Case cases[] = {
      {"whole source in one read", 300000, 300000, 0xFFFFFFFF, {300000}},
      // A source that gives less per call is read on until the size is reached.
      {"short pieces", 2500, 2500, 1000, {2500, 1500, 500}},
      // A source shorter than its creator said: the copy is not padded with zeros.
      {"shorter than said", 1000, 5000, 0xFFFFFFFF, {5000, 4000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data = Pattern(c.size, 5);
    auto source = qortest::MakeDoubleStream(data);
    source->seekable = false;
    source->maxPiece = c.maxPiece;
    TqorOleStream stream(source.get(), true, c.givenSize);
    ASSERT_TRUE(stream.HasMemoryCopy());
    EXPECT_EQ(source->readRequests, c.requests);
    EXPECT_EQ(stream.GetSize(), static_cast<int64_t>(c.size));
    EXPECT_EQ(ReadRest(stream), data);
  }
}

TEST_F(OleStream, AFailureWhileCopyingDropsTheCopyAndTheStreamWorksOnTheSource) {
  struct Case {
    const char* name;
    int64_t givenSize;
    int failReadAt;
  };
  const Case cases[] = {
      {"second piece of unknown size fails", -1, 1},
      {"the one read of a known size fails", 200000, 0},
      // A size that cannot be held in memory fails before anything is read.
      {"no memory for the size", int64_t{1} << 60, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string data = Pattern(200000, 9);
    auto source = qortest::MakeDoubleStream(data);
    source->seekable = false;
    source->seekFailure = E_NOTIMPL;
    source->failReadAt = c.failReadAt;
    std::unique_ptr<TqorOleStream> stream;
    ASSERT_NO_THROW(stream = std::make_unique<TqorOleStream>(source.get(), true, c.givenSize));
    EXPECT_FALSE(stream->HasMemoryCopy());
    const size_t consumed = source->position_;
    std::string buffer(16, '\0');
    EXPECT_EQ(stream->Read(buffer.data(), 16), 16);
    EXPECT_EQ(buffer, data.substr(consumed, 16)) << "read straight from the source, where the copy stopped";
    try {
      stream->Seek(0, SeekOrigin::Begin);
      ADD_FAILURE() << "seeking the source must raise";
    } catch (const OleSysError& e) {
      EXPECT_EQ(e.code(), E_NOTIMPL);
    }
  }
}

TEST_F(OleStream, WithoutSeekSupportASourceThatCannotSeekIsNotCopiedAndItsFailuresRaise) {
  const std::string data = Pattern(5000, 1);
  auto source = qortest::MakeDoubleStream(data);
  source->seekable = false;
  {
    TqorOleStream stream(source.get(), false, -1);
    EXPECT_FALSE(stream.HasMemoryCopy());
    EXPECT_EQ(source->readRequests.size(), 0u);
    try {
      stream.Seek(10, SeekOrigin::Current);
      ADD_FAILURE() << "seeking must raise";
    } catch (const OleSysError& e) {
      EXPECT_EQ(e.code(), STG_E_INVALIDFUNCTION);
    }
    std::string buffer(7, '\0');
    EXPECT_EQ(stream.Read(buffer.data(), 7), 7);
    EXPECT_EQ(buffer, data.substr(0, 7));
    source->failReadAt = 1;
    try {
      stream.Read(buffer.data(), 7);
      ADD_FAILURE() << "a failing read must raise";
    } catch (const OleSysError& e) {
      EXPECT_EQ(e.code(), STG_E_READFAULT);
    }
    source->writeResult = STG_E_MEDIUMFULL;
    try {
      stream.Write("abc", 3);
      ADD_FAILURE() << "a failing write must raise";
    } catch (const OleSysError& e) {
      EXPECT_EQ(e.code(), STG_E_MEDIUMFULL);
    }
    EXPECT_EQ(source->Refs(), 2) << "the stream holds one reference on its source";
  }
  EXPECT_EQ(source->Refs(), 1) << "and releases it when destroyed";
}

// A file past 4 GiB --------------------------------------------------------------------------------

namespace {

constexpr int64_t kPast2GiB = (int64_t{1} << 31) + 5;
constexpr int64_t kPast4GiB = (int64_t{1} << 32) + 4099;
constexpr int64_t kLargeSize = kPast4GiB + 1000;
const std::string kMarker2 = "marker past 2 GiB";
const std::string kMarker4 = "marker past 4 GiB";

// A sparse file of kLargeSize bytes with a marker past 2 GiB and one past 4 GiB.
void MakeLargeSparseFile(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file) << GetLastError();
  DWORD ignored = 0;
  DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);  // best effort
  for (const auto& [offset, marker] : {std::pair{kPast2GiB, kMarker2}, std::pair{kPast4GiB, kMarker4}}) {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    ASSERT_TRUE(SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) << GetLastError();
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), marker.data(), static_cast<DWORD>(marker.size()), &written, nullptr));
  }
  LARGE_INTEGER end;
  end.QuadPart = kLargeSize;
  ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file.get())) << GetLastError();
}

std::string ReadAt(TStream& stream, int64_t offset, size_t count) {
  EXPECT_EQ(stream.Seek(offset, SeekOrigin::Begin), offset);
  std::string buffer(count, '\0');
  buffer.resize(static_cast<size_t>(std::max(stream.Read(buffer.data(), static_cast<int32_t>(count)), 0)));
  return buffer;
}

}  // namespace

TEST_F(FileStream, AFileLargerThan4GiBReadsSeeksAndReportsItsSizeThroughEveryLayer) {
  const std::wstring path = folder_ / L"large.bin";
  ScopeGuard removeLargeFile([&] { DeleteFileW(path.c_str()); });
  MakeLargeSparseFile(path);
  if (HasFatalFailure()) return;

  {
    SCOPED_TRACE("TqorFileStream");
    TqorFileStream stream(path, STGM_READ);
    EXPECT_EQ(stream.GetSize(), kLargeSize);
    EXPECT_EQ(ReadAt(stream, kPast4GiB, kMarker4.size()), kMarker4);
    EXPECT_EQ(ReadAt(stream, kPast2GiB, kMarker2.size()), kMarker2);
    EXPECT_EQ(stream.Seek(-1000, SeekOrigin::End), kPast4GiB);
    EXPECT_EQ(stream.Seek(kPast4GiB - kPast2GiB, SeekOrigin::Current), 2 * kPast4GiB - kPast2GiB);
  }

  ComPtr<IStream> adapter = CreateIStreamOnFile(path, STGM_READ);
  {
    SCOPED_TRACE("TqorStreamAdapter");
    LARGE_INTEGER move;
    move.QuadPart = kPast4GiB;
    ULARGE_INTEGER position{};
    ASSERT_EQ(adapter->Seek(move, STREAM_SEEK_SET, &position), S_OK);
    EXPECT_EQ(position.QuadPart, static_cast<uint64_t>(kPast4GiB));
    std::string buffer(kMarker4.size(), '\0');
    ULONG read = 0;
    EXPECT_EQ(adapter->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &read), S_OK);
    EXPECT_EQ(buffer, kMarker4);
    STATSTG stat{};
    ASSERT_EQ(adapter->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, static_cast<uint64_t>(kLargeSize));
    move.QuadPart = 0;
    ASSERT_EQ(adapter->Seek(move, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position.QuadPart, static_cast<uint64_t>(kLargeSize));
  }
  {
    SCOPED_TRACE("TqorOleStream over the adapter");
    std::unique_ptr<TStream> stream = CreateStreamOnIStream(adapter.get());
    EXPECT_FALSE(static_cast<TqorOleStream&>(*stream).HasMemoryCopy());
    EXPECT_EQ(stream->GetSize(), kLargeSize);
    EXPECT_EQ(ReadAt(*stream, kPast4GiB, kMarker4.size()), kMarker4);
    EXPECT_EQ(ReadAt(*stream, kPast2GiB, kMarker2.size()), kMarker2);
    EXPECT_EQ(stream->Seek(-1000, SeekOrigin::End), kPast4GiB);
  }
}
