// TqorStreamAdapter: reads and writes, the access checks, Seek with its first-call rule, SetSize,
// CopyTo (also with the shell's own file streams), Stat, the log lines of its calls, its life on other
// threads, and that no exception leaves it.
#include <shlwapi.h>

#include <functional>
#include <stdexcept>
#include <thread>

#include "Error.h"
#include "FileTestSupport.h"
#include "StreamTestSupport.h"

using namespace qor;
using qortest::Pattern;
using qortest::ReadRest;

namespace {

// A memory stream holding data, positioned at position.
TMemoryStream* MemoryWith(const std::string& data, int64_t position = 0) {
  auto* stream = new TMemoryStream;
  stream->Write(data.data(), static_cast<int32_t>(data.size()));
  stream->SetPosition(position);
  return stream;
}

ComPtr<IStream> AdapterOver(TStream* stream, DWORD mode, TStreamOwnership ownership = TStreamOwnership::soOwned) {
  return ComPtr<IStream>(CreateShellObject<TqorStreamAdapter>(stream, mode, ownership));
}

LARGE_INTEGER Move(int64_t value) {
  LARGE_INTEGER move;
  move.QuadPart = value;
  return move;
}

ULARGE_INTEGER Count(uint64_t value) {
  ULARGE_INTEGER count;
  count.QuadPart = value;
  return count;
}

// The position the adapter reports for Seek(0, STREAM_SEEK_CUR) once the first call is past.
uint64_t CurrentPosition(IStream* adapter) {
  ULARGE_INTEGER position{};
  EXPECT_EQ(adapter->Seek(Move(0), STREAM_SEEK_CUR, &position), S_OK);
  return position.QuadPart;
}

// A memory stream that records the thread that destroys it.
struct TrackedStream : TMemoryStream {
  explicit TrackedStream(std::atomic<int>* destroyed, std::atomic<DWORD>* thread) : destroyed_(destroyed), thread_(thread) {}
  ~TrackedStream() override {
    ++*destroyed_;
    *thread_ = GetCurrentThreadId();
  }
  std::atomic<int>* destroyed_;
  std::atomic<DWORD>* thread_;
};

// A memory stream whose SetSize does nothing, so the size never comes out as asked.
struct UnresizableStream : TMemoryStream {
  void SetSize(int64_t) override {}
};

// A stream whose reads raise what it is given.
struct RaisingStream : TMemoryStream {
  explicit RaisingStream(std::function<void()> raise) : raise_(std::move(raise)) {}
  int32_t Read(void*, int32_t) override {
    raise_();
    return 0;
  }
  std::function<void()> raise_;
};

// A stream that touches no memory: it records the count of each read and write and answers with the
// count given, less shortBy on the first call. Lets a test hand the adapter counts beyond 2 GiB.
struct CountingStream : TStream {
  explicit CountingStream(int32_t shortBy = 0) : shortBy_(shortBy) {}
  int32_t Read(void*, int32_t count) override { return Answer(count); }
  int32_t Write(const void*, int32_t count) override { return Answer(count); }
  int64_t Seek(int64_t, SeekOrigin) override { return 0; }
  int32_t Answer(int32_t count) {
    counts_.push_back(count);
    return counts_.size() == 1 ? count - shortBy_ : count;
  }
  int32_t shortBy_;
  std::vector<int32_t> counts_;
};

class StreamAdapter : public qortest::StreamFixture {
 protected:
  qortest::TempFolder folder_;
};

}  // namespace

TEST_F(StreamAdapter, ReadsAndWritesTheFileItOpened) {
  const std::wstring path = folder_ / L"data.bin";
  qortest::WriteFileBytes(path, "0123456789");
  {
    ComPtr<IStream> adapter = CreateIStreamOnFile(path, STGM_READWRITE);
    char buffer[4] = {};
    ULONG read = 99;
    EXPECT_EQ(adapter->Read(buffer, 4, &read), S_OK);
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    ULONG written = 99;
    EXPECT_EQ(adapter->Write("ab", 2, &written), S_OK);
    EXPECT_EQ(written, 2u);
    ComPtr<ISequentialStream> sequential;
    ASSERT_EQ(adapter->QueryInterface(IID_ISequentialStream, sequential.put_void()), S_OK);
    EXPECT_EQ(sequential->Write("cd", 2, nullptr), S_OK) << "ISequentialStream is served by the same Write";
  }
  EXPECT_EQ(qortest::ReadFileBytes(path), "0123abcd89");
}

TEST_F(StreamAdapter, ReadingPastTheEndGivesSFalseWithTheCountActuallyRead) {
  ComPtr<IStream> adapter = AdapterOver(MemoryWith("0123456789", 3), STGM_READ);
  char buffer[16];
  ULONG read = 99;
  EXPECT_EQ(adapter->Read(buffer, 16, &read), S_FALSE);
  EXPECT_EQ(read, 7u);
  EXPECT_EQ(std::string(buffer, 7), "3456789");
  EXPECT_EQ(adapter->Read(buffer, 16, &read), S_FALSE);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(adapter->Read(buffer, 0, &read), S_OK) << "nothing asked, nothing missing";
  EXPECT_EQ(adapter->Read(buffer, 1, nullptr), S_FALSE);
}

TEST_F(StreamAdapter, CountsBeyond2GiBGoToTheStreamInPiecesUntilOneComesBackShort) {
  constexpr ULONG kCount = 0x90000000;  // more than one piece of at most 2,147,483,647 bytes
  struct Case {
    const char* name;
    int32_t shortBy;
    std::vector<int32_t> pieces;
    ULONG total;
    HRESULT read, write;
  };
  const Case cases[] = {
      {"every piece in full", 0, {0x7FFFFFFF, 0x10000001}, kCount, S_OK, S_OK},
      {"the first piece short", 1, {0x7FFFFFFF}, 0x7FFFFFFE, S_FALSE, STG_E_WRITEFAULT},
  };
  static char buffer[1];  // never written: the stream touches no memory
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* reads = new CountingStream(c.shortBy);
    ComPtr<IStream> reader = AdapterOver(reads, STGM_READ);
    ULONG count = 0;
    EXPECT_EQ(reader->Read(buffer, kCount, &count), c.read);
    EXPECT_EQ(count, c.total);
    EXPECT_EQ(reads->counts_, c.pieces);
    auto* writes = new CountingStream(c.shortBy);
    ComPtr<IStream> writer = AdapterOver(writes, STGM_WRITE);
    EXPECT_EQ(writer->Write(buffer, kCount, &count), c.write);
    EXPECT_EQ(count, c.total);
    EXPECT_EQ(writes->counts_, c.pieces);
  }
}

TEST_F(StreamAdapter, AShortWriteIsAFailureWithTheCountWritten) {
  // A file opened for writing on a handle that refuses: every write comes back with 0 bytes.
  const std::wstring path = folder_ / L"refusing.bin";
  qortest::WriteFileBytes(path, "x");
  FileHandle readOnly(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(readOnly);
  ComPtr<IStream> adapter = AdapterOver(new THandleStream(readOnly.get()), STGM_WRITE);
  ULONG written = 99;
  EXPECT_EQ(adapter->Write("abc", 3, &written), STG_E_WRITEFAULT);
  EXPECT_EQ(written, 0u);
}

TEST_F(StreamAdapter, NullPointersAreRefusedWithEPointer) {
  ComPtr<IStream> adapter = AdapterOver(MemoryWith("0123456789"), STGM_READWRITE);
  ULONG count = 77;
  EXPECT_EQ(adapter->Read(nullptr, 5, &count), E_POINTER);
  EXPECT_EQ(count, 0u);
  count = 77;
  EXPECT_EQ(adapter->Write(nullptr, 5, &count), E_POINTER);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(adapter->Stat(nullptr, STATFLAG_DEFAULT), E_POINTER);
  ULARGE_INTEGER read = Count(55), written = Count(66);
  EXPECT_EQ(adapter->CopyTo(nullptr, Count(5), &read, &written), E_POINTER);
  EXPECT_EQ(read.QuadPart, 55u) << "a refused CopyTo leaves the totals";
  EXPECT_EQ(written.QuadPart, 66u);
  EXPECT_EQ(CurrentPosition(adapter.get()), 0u) << "nothing was read";
}

TEST_F(StreamAdapter, TheAccessBitsDecideWhatMayBeDone) {
  struct Case {
    const char* name;
    DWORD mode;
    bool reads, writes;
  };
  const Case cases[] = {
      {"read", STGM_READ, true, false},
      {"write", STGM_WRITE, false, true},
      {"read-write", STGM_READWRITE, true, true},
      {"read with other bits", STGM_READ | STGM_SHARE_EXCLUSIVE | STGM_CREATE | STGM_TRANSACTED, true, false},
      {"write with other bits", STGM_WRITE | STGM_SHARE_DENY_WRITE, false, true},
      {"invalid access value", 3, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IStream> adapter = AdapterOver(MemoryWith("0123456789"), c.mode);
    const HRESULT denied = STG_E_ACCESSDENIED;
    char buffer[4];
    ULONG count = 77;
    EXPECT_EQ(adapter->Read(buffer, 4, &count), c.reads ? S_OK : denied);
    EXPECT_EQ(count, c.reads ? 4u : 0u);
    count = 77;
    EXPECT_EQ(adapter->Write("ab", 2, &count), c.writes ? S_OK : denied);
    EXPECT_EQ(count, c.writes ? 2u : 0u);
    EXPECT_EQ(adapter->SetSize(Count(8)), c.writes ? S_OK : denied);
    auto target = qortest::MakeDoubleStream("");
    ULARGE_INTEGER read = Count(55), written = Count(66);
    EXPECT_EQ(adapter->CopyTo(target.get(), Count(2), &read, &written), c.reads ? S_OK : denied);
    EXPECT_EQ(read.QuadPart, c.reads ? 2u : 55u);
    EXPECT_EQ(written.QuadPart, c.reads ? 2u : 66u);
  }
}

TEST_F(StreamAdapter, OnlyTheFirstCallSeekingZeroFromTheCurrentPositionReportsTheSize) {
  struct Case {
    const char* name;
    std::function<void(IStream*)> before;  // calls made first
    int64_t move;
    DWORD origin;
    bool withPointer;
    uint64_t reported;       // what *plibNewPosition receives
    uint64_t positionAfter;  // where the stream is afterwards
  };
  const auto none = [](IStream*) {};
  const Case cases[] = {
      {"first call", none, 0, STREAM_SEEK_CUR, true, 10, 4},
      {"after a read", [](IStream* s) { char b; s->Read(&b, 0, nullptr); }, 0, STREAM_SEEK_CUR, true, 4, 4},
      {"after a commit", [](IStream* s) { s->Commit(STGC_DEFAULT); }, 0, STREAM_SEEK_CUR, true, 4, 4},
      {"after a stat", [](IStream* s) { STATSTG st; s->Stat(&st, STATFLAG_NONAME); }, 0, STREAM_SEEK_CUR, true, 4, 4},
      {"after a first seek without pointer",
       [](IStream* s) { EXPECT_EQ(s->Seek(Move(0), STREAM_SEEK_CUR, nullptr), S_OK); }, 0, STREAM_SEEK_CUR, true, 4, 4},
      // A refused seek does not count as the first call.
      {"after a bad origin", [](IStream* s) { EXPECT_EQ(s->Seek(Move(0), 3, nullptr), STG_E_INVALIDFUNCTION); }, 0,
       STREAM_SEEK_CUR, true, 10, 4},
      {"first call from the start", none, 0, STREAM_SEEK_SET, true, 0, 0},
      {"first call moving", none, 2, STREAM_SEEK_CUR, true, 6, 6},
      {"first call from the end", none, -3, STREAM_SEEK_END, true, 7, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IStream> adapter = AdapterOver(MemoryWith("0123456789", 4), STGM_READ);
    c.before(adapter.get());
    ULARGE_INTEGER position = Count(12345);
    EXPECT_EQ(adapter->Seek(Move(c.move), c.origin, c.withPointer ? &position : nullptr), S_OK);
    EXPECT_EQ(position.QuadPart, c.reported);
    EXPECT_EQ(CurrentPosition(adapter.get()), c.positionAfter);
  }
}

TEST_F(StreamAdapter, ABadOriginIsRefusedAndNothingMoves) {
  for (DWORD origin : {3ul, 4ul, 0xFFFFFFFFul}) {
    SCOPED_TRACE(origin);
    ComPtr<IStream> adapter = AdapterOver(MemoryWith("0123456789", 4), STGM_READ);
    ULARGE_INTEGER position = Count(12345);
    EXPECT_EQ(adapter->Seek(Move(1), origin, &position), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(position.QuadPart, 12345u);
    char b;
    adapter->Read(&b, 0, nullptr);
    EXPECT_EQ(CurrentPosition(adapter.get()), 4u);
  }
}

TEST_F(StreamAdapter, ASeekBeforeTheStartOfAFileGivesTheSystemError) {
  const std::wstring path = folder_ / L"seek.bin";
  qortest::WriteFileBytes(path, "0123456789");
  ComPtr<IStream> adapter = CreateIStreamOnFile(path, STGM_READ);
  ULARGE_INTEGER position = Count(12345);
  EXPECT_EQ(adapter->Seek(Move(-11), STREAM_SEEK_END, &position), HRESULT_FROM_WIN32(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(position.QuadPart, 12345u);
}

TEST_F(StreamAdapter, SetSizeResizesAndFailsWhenTheSizeDoesNotComeOut) {
  const std::wstring path = folder_ / L"size.bin";
  qortest::WriteFileBytes(path, "0123456789");
  {
    ComPtr<IStream> adapter = CreateIStreamOnFile(path, STGM_READWRITE);
    EXPECT_EQ(adapter->SetSize(Count(3)), S_OK);
    STATSTG stat{};
    ASSERT_EQ(adapter->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 3u);
    EXPECT_EQ(adapter->SetSize(Count(5000)), S_OK);
  }
  EXPECT_EQ(qortest::ReadFileBytes(path), "012" + std::string(4997, '\0'));

  auto* unresizable = new UnresizableStream;
  unresizable->Write("abc", 3);
  ComPtr<IStream> adapter = AdapterOver(unresizable, STGM_WRITE);
  EXPECT_EQ(adapter->SetSize(Count(10)), E_FAIL);
  EXPECT_EQ(adapter->SetSize(Count(3)), S_OK);
}

TEST_F(StreamAdapter, CopyToCopiesTheCountAskedForOrUpToTheEnd) {
  const std::string data = Pattern(3 * 1024 * 1024 + 17);
  struct Case {
    const char* name;
    uint64_t count;
    uint64_t copied;
  };
  const Case cases[] = {
      {"nothing", 0, 0},
      {"less than one buffer", 1000, 1000},
      {"more than one buffer", 1024 * 1024 + 1024 * 512 + 3, 1024 * 1024 + 1024 * 512 + 3},
      {"the largest count", UINT64_MAX, data.size() - 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IStream> adapter = AdapterOver(MemoryWith(data, 1000), STGM_READ);
    auto target = qortest::MakeDoubleStream("");
    ULARGE_INTEGER read = Count(55), written = Count(66);
    EXPECT_EQ(adapter->CopyTo(target.get(), Count(c.count), &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, c.copied);
    EXPECT_EQ(written.QuadPart, c.copied);
    EXPECT_TRUE(target->data_ == data.substr(1000, c.copied)) << "copied " << target->data_.size() << " bytes";
    EXPECT_EQ(CurrentPosition(adapter.get()), 1000 + c.copied);
    for (ULONG request : target->readRequests) ADD_FAILURE() << "the target was read: " << request;
  }
  ComPtr<IStream> adapter = AdapterOver(MemoryWith(data), STGM_READ);
  auto target = qortest::MakeDoubleStream("");
  EXPECT_EQ(adapter->CopyTo(target.get(), Count(10), nullptr, nullptr), S_OK) << "the totals are optional";
  EXPECT_EQ(target->data_, data.substr(0, 10));
}

TEST_F(StreamAdapter, CopyToStopsAtAFailureAndReportsTheTotalsSoFar) {
  const std::string data = Pattern(3 * 1024 * 1024);
  const uint64_t buffer = 1024 * 1024;
  struct Case {
    const char* name;
    ULONG writeShortBy;
    HRESULT writeResult;
    int sourceFailsAtRead;  // the underlying stream's read that raises, -1 none
    HRESULT expected;
    uint64_t read, written;
  };
  const Case cases[] = {
      {"target takes less than given", 1, S_OK, -1, E_FAIL, buffer, buffer - 1},
      {"target fails", 0, STG_E_MEDIUMFULL, -1, STG_E_MEDIUMFULL, buffer, 0},
      {"target says S_FALSE", 0, S_FALSE, -1, S_FALSE, buffer, buffer},
      {"source raises on its second read", 0, S_OK, 1, E_UNEXPECTED, buffer, buffer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto source = qortest::MakeDoubleStream(data);
    source->failReadAt = c.sourceFailsAtRead;
    ComPtr<IStream> adapter = AdapterOver(new TqorOleStream(source.get(), true, -1), STGM_READ);
    auto target = qortest::MakeDoubleStream("");
    target->writeShortBy = c.writeShortBy;
    target->writeResult = c.writeResult;
    ULARGE_INTEGER read = Count(55), written = Count(66);
    EXPECT_EQ(adapter->CopyTo(target.get(), Count(UINT64_MAX), &read, &written), c.expected);
    EXPECT_EQ(read.QuadPart, c.read);
    EXPECT_EQ(written.QuadPart, c.written);
  }
}

TEST_F(StreamAdapter, CopyToWorksBothWaysWithTheShellsFileStreams) {
  const std::string data = Pattern(3 * 1024 * 1024 + 5, 11);
  const std::wstring original = folder_ / L"original.bin";
  qortest::WriteFileBytes(original, data);
  struct Case {
    const char* name;
    bool adapterIsSource;
  };
  for (const Case& c : {Case{"adapter to shell stream", true}, Case{"shell stream to adapter", false}}) {
    SCOPED_TRACE(c.name);
    const std::wstring copy = folder_ / L"copy.bin";
    {
      ComPtr<IStream> from, to;
      if (c.adapterIsSource) {
        from = CreateIStreamOnFile(original, STGM_READ);
        ASSERT_EQ(SHCreateStreamOnFileEx(copy.c_str(), STGM_CREATE | STGM_WRITE, FILE_ATTRIBUTE_NORMAL, TRUE, nullptr,
                                         to.put()),
                  S_OK);
      } else {
        ASSERT_EQ(SHCreateStreamOnFileEx(original.c_str(), STGM_READ, FILE_ATTRIBUTE_NORMAL, FALSE, nullptr,
                                         from.put()),
                  S_OK);
        to = CreateIStreamOnFile(copy, STGM_CREATE | STGM_WRITE);
      }
      ULARGE_INTEGER read{}, written{};
      EXPECT_EQ(from->CopyTo(to.get(), Count(UINT64_MAX), &read, &written), S_OK);
      EXPECT_EQ(read.QuadPart, data.size());
      EXPECT_EQ(written.QuadPart, data.size());
    }
    EXPECT_TRUE(qortest::ReadFileBytes(copy) == data) << "the copy differs";
    DeleteFileW(copy.c_str());
  }
}

TEST_F(StreamAdapter, TheShellsStreamHelpersUseIt) {
  const std::string data = Pattern(100000, 4);
  ComPtr<IStream> adapter = AdapterOver(MemoryWith(data, 500), STGM_READ);
  ULARGE_INTEGER size{};
  EXPECT_EQ(IStream_Size(adapter.get(), &size), S_OK);
  EXPECT_EQ(size.QuadPart, data.size());
  EXPECT_EQ(IStream_Reset(adapter.get()), S_OK);
  std::string head(1000, '\0');
  EXPECT_EQ(IStream_Read(adapter.get(), head.data(), 1000), S_OK);
  EXPECT_EQ(head, data.substr(0, 1000));
  // (IStream_Copy would belong here too, but Wine does not implement it.)
  // Asking for more than there is: the helper reports the short read as a failure.
  std::string rest(data.size(), '\0');
  EXPECT_TRUE(FAILED(IStream_Read(adapter.get(), rest.data(), static_cast<ULONG>(rest.size()))));
}

TEST_F(StreamAdapter, StatReportsTheStreamAndTheTimesOfARealFile) {
  const std::wstring path = folder_ / L"stat.txt";
  qortest::WriteFileBytes(path, "0123456789");
  {
    FileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    FILETIME access{0x11110000, 0x01C00000}, write{0x22220000, 0x01C10000};
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, &access, &write));
  }
  WIN32_FIND_DATAW found{};
  FindHandle find(FindFirstFileW(path.c_str(), &found));
  ASSERT_TRUE(find);

  struct Case {
    DWORD flag;
    HRESULT expected;
    const wchar_t* name;  // null: none
  };
  const Case cases[] = {
      {STATFLAG_DEFAULT, S_OK, L"stat.txt"}, {STATFLAG_NONAME, S_OK, nullptr}, {2, E_INVALIDARG, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flag);
    ComPtr<IStream> adapter = CreateIStreamOnFile(path, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    STATSTG stat;
    memset(&stat, 0xCD, sizeof stat);
    EXPECT_EQ(adapter->Stat(&stat, c.flag), c.expected);
    if (c.expected != S_OK) {
      EXPECT_EQ(stat.type, 0xCDCDCDCDu) << "a refused Stat leaves the structure";
      continue;
    }
    TaskMem name(stat.pwcsName);
    EXPECT_EQ(stat.pwcsName ? std::wstring(stat.pwcsName) : L"<none>", c.name ? c.name : L"<none>");
    EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(stat.cbSize.QuadPart, 10u);
    EXPECT_EQ(CompareFileTime(&stat.mtime, &found.ftLastWriteTime), 0);
    EXPECT_EQ(stat.mtime.dwHighDateTime, 0x01C10000u) << "the last-write time set above";
    EXPECT_EQ(CompareFileTime(&stat.atime, &found.ftLastAccessTime), 0);
    EXPECT_EQ(stat.atime.dwHighDateTime, 0x01C00000u) << "the last-access time set above";
    EXPECT_EQ(CompareFileTime(&stat.ctime, &found.ftCreationTime), 0);
    EXPECT_EQ(stat.grfMode, static_cast<DWORD>(STGM_READWRITE)) << "the access bits only";
    EXPECT_EQ(stat.grfLocksSupported, static_cast<DWORD>(LOCK_WRITE));
    EXPECT_TRUE(IsEqualCLSID(stat.clsid, CLSID_NULL));
    EXPECT_EQ(stat.grfStateBits, 0u);
    EXPECT_EQ(stat.reserved, 0u);
  }
}

TEST_F(StreamAdapter, StatNamesTheLastPartAndTakesTheGivenTimesForAStreamThatIsNoFile) {
  const FILETIME modified{1, 2}, created{3, 4}, accessed{5, 6};
  struct Case {
    const wchar_t* fileName;
    bool real;
    const wchar_t* name;  // null: none
    bool times;           // the given times reported
  };
  const Case cases[] = {
      {L"C:\\dir\\name.txt", false, L"name.txt", true},
      {L"dir/sub/name", false, L"name", true},
      {L"plain", false, L"plain", true},
      {L"C:\\dir\\", false, nullptr, true},
      {L"C:\\dir/", false, nullptr, true},
      {L"", false, nullptr, false},
      // A real file that is gone: its name, and no times.
      {L"C:\\no such folder\\gone.txt", true, L"gone.txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(qortest::Narrow(c.fileName));
    auto* adapter = CreateShellObject<TqorStreamAdapter>(MemoryWith("abc"), STGM_WRITE, TStreamOwnership::soOwned);
    ComPtr<IStream> stream(adapter);
    adapter->SetFileName(c.fileName);
    adapter->SetRealFileName(c.real);
    adapter->SetModificationTime(modified);
    adapter->SetCreationTime(created);
    adapter->SetAccessTime(accessed);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    TaskMem name(stat.pwcsName);
    EXPECT_EQ(stat.pwcsName ? std::wstring(stat.pwcsName) : L"<none>", c.name ? c.name : L"<none>");
    EXPECT_EQ(stat.mtime.dwLowDateTime, c.times ? 1u : 0u);
    EXPECT_EQ(stat.ctime.dwLowDateTime, c.times ? 3u : 0u);
    EXPECT_EQ(stat.atime.dwHighDateTime, c.times ? 6u : 0u);
    EXPECT_EQ(stat.cbSize.QuadPart, 3u);
    EXPECT_EQ(stat.grfMode, static_cast<DWORD>(STGM_WRITE));
  }
}

TEST_F(StreamAdapter, CallsAndOtherInterfacesAreServedOrRefused) {
  ComPtr<IStream> adapter = AdapterOver(MemoryWith("0123456789", 4), STGM_READ);
  for (const IID& iid : {IID_IUnknown, IID_IStream, IID_ISequentialStream}) {
    void* object = nullptr;
    EXPECT_EQ(adapter->QueryInterface(iid, &object), S_OK);
    EXPECT_EQ(object, static_cast<void*>(adapter.get()));
    if (object) static_cast<IUnknown*>(object)->Release();
  }
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(adapter->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);

  struct Case {
    const char* name;
    std::function<HRESULT(IStream*)> call;
    HRESULT expected;
  };
  const Case cases[] = {
      {"Commit", [](IStream* s) { return s->Commit(STGC_DEFAULT); }, S_OK},
      {"Revert", [](IStream* s) { return s->Revert(); }, STG_E_REVERTED},
      {"LockRegion", [](IStream* s) { return s->LockRegion(Count(0), Count(1), LOCK_WRITE); }, E_NOTIMPL},
      {"UnlockRegion", [](IStream* s) { return s->UnlockRegion(Count(0), Count(1), LOCK_WRITE); }, E_NOTIMPL},
      {"Clone",
       [](IStream* s) {
         IStream* clone = reinterpret_cast<IStream*>(1);
         const HRESULT hr = s->Clone(&clone);
         EXPECT_EQ(clone, nullptr);
         return hr;
       },
       E_NOTIMPL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IStream> fresh = AdapterOver(MemoryWith("0123456789", 4), STGM_READ);
    EXPECT_EQ(c.call(fresh.get()), c.expected);
    EXPECT_EQ(CurrentPosition(fresh.get()), 4u) << "the call counts as the first";
  }
}

TEST_F(StreamAdapter, NoExceptionLeavesAMethod) {
  struct Case {
    const char* name;
    std::function<void()> raise;
    HRESULT expected;
    const wchar_t* className;
  };
  const Case cases[] = {
      {"system error", [] { throw OSError(ERROR_ACCESS_DENIED); }, E_ACCESSDENIED, L"EOSError"},
      {"out of memory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, L"EOutOfMemory"},
      {"argument", [] { throw ArgumentError(L"bad"); }, E_INVALIDARG, L"EArgumentException"},
      {"COM error", [] { throw OleSysError(STG_E_READFAULT); }, E_UNEXPECTED, L"EOleSysError"},
      {"standard exception", [] { throw std::runtime_error("boom"); }, E_UNEXPECTED, nullptr},
      {"not an exception", [] { throw 42; }, E_UNEXPECTED, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IStream> adapter = AdapterOver(new RaisingStream(c.raise), STGM_READ);
    char buffer[4];
    ULONG read = 77;
    EXPECT_EQ(adapter->Read(buffer, 4, &read), c.expected);
    EXPECT_EQ(read, 0u);
    auto target = qortest::MakeDoubleStream("");
    ULARGE_INTEGER copied = Count(55);
    EXPECT_EQ(adapter->CopyTo(target.get(), Count(4), &copied, nullptr), c.expected);
    EXPECT_EQ(copied.QuadPart, 0u) << "the totals are stored also when a read raises";
    if (c.className) {
      const std::wstring line = std::wstring(L"TqorStreamAdapter.ISequentialStream.Read ") + c.className + L" raised";
      bool found = false;
      for (const LogRecord& r : Records()) found = found || (r.kind == LogKind::Exception && r.text.rfind(line, 0) == 0);
      EXPECT_TRUE(found) << qortest::Narrow(line);
    }
  }
}

TEST_F(StreamAdapter, TheStreamIsOwnedOrOnlyReferencedAndTheLastReleaseMayComeFromAnyThread) {
  std::atomic<int> destroyed{0};
  std::atomic<DWORD> destroyingThread{0};
  {
    TrackedStream referenced(&destroyed, &destroyingThread);
    AdapterOver(&referenced, STGM_READ, TStreamOwnership::soReference).reset();
    EXPECT_EQ(destroyed.load(), 0) << "a referenced stream outlives its adapter";
  }
  destroyed = 0;

  // One reference, held by this raw pointer from here on.
  IStream* adapter = AdapterOver(new TrackedStream(&destroyed, &destroyingThread), STGM_READ).release();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([adapter] {
      for (int i = 0; i < 20000; ++i) {
        adapter->AddRef();
        adapter->Release();
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(destroyed.load(), 0) << "balanced counts on four threads keep the object";

  ClearLog();
  DWORD releasingThread = 0;
  std::thread last([&] {
    releasingThread = GetCurrentThreadId();
    adapter->Release();
  });
  last.join();
  EXPECT_EQ(destroyed.load(), 1);
  EXPECT_EQ(destroyingThread.load(), releasingThread) << "destroyed by the thread of the last Release";
  bool destroyedLine = false;
  for (const LogRecord& r : Records())
    if (r.text == L"TqorStreamAdapter is destroyed") {
      destroyedLine = true;
      EXPECT_EQ(r.threadId, releasingThread);
    }
  EXPECT_TRUE(destroyedLine);
}

// The log lines ------------------------------------------------------------------------------------

namespace {

struct Line {
  LogKind kind;
  std::wstring text;
};

std::string Describe(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& l : lines) out += std::to_string(static_cast<int>(l.kind)) + " " + qortest::Narrow(l.text) + "\n";
  return out;
}

}  // namespace

TEST_F(StreamAdapter, EachCallLogsItsInputsOutputsResultAndEnd) {
  const std::wstring R = L"TqorStreamAdapter.ISequentialStream.Read";
  const std::wstring W = L"TqorStreamAdapter.ISequentialStream.Write";
  const std::wstring S = L"TqorStreamAdapter.IStream.Seek";
  const std::wstring C = L"TqorStreamAdapter.IStream.CopyTo";
  const std::wstring Z = L"TqorStreamAdapter.IStream.SetSize";
  static char buffer[16];
  const std::wstring B = PointerToText(buffer);
  ASSERT_EQ(B.size(), 16u) << qortest::Narrow(B);
  auto target = qortest::MakeDoubleStream("");
  const std::wstring T = PointerToText(static_cast<IStream*>(target.get()));
  using K = LogKind;
  struct Case {
    const char* name;
    std::function<void(IStream*)> call;
    std::vector<Line> lines;
  };
  const Case cases[] = {
      {"read",
       [](IStream* s) { ULONG n; s->Read(buffer, 4, &n); },
       {{K::EnterMethod, R + L" started"}, {K::Message, R + L" in ABuffer=" + B}, {K::Message, R + L" in ABufferSize=4"},
        {K::Message, R + L" out ARead=4"}, {K::Message, R + L" out Result=S_OK"}, {K::ExitMethod, R + L" finished"}}},
      {"read without a count",
       [](IStream* s) { s->Read(buffer, 4, nullptr); },
       {{K::EnterMethod, R + L" started"}, {K::Message, R + L" in ABuffer=" + B}, {K::Message, R + L" in ABufferSize=4"},
        {K::Message, R + L" out ARead=nil"}, {K::Message, R + L" out Result=S_OK"}, {K::ExitMethod, R + L" finished"}}},
      {"read past the end: no out line",
       [](IStream* s) { ULONG n; s->Read(buffer, 16, &n); },
       {{K::EnterMethod, R + L" started"}, {K::Message, R + L" in ABuffer=" + B}, {K::Message, R + L" in ABufferSize=16"},
        {K::Message, R + L" out Result=S_FALSE"}, {K::ExitMethod, R + L" finished"}}},
      {"refused write",
       [](IStream* s) { ULONG n; s->Write(buffer, 2, &n); },
       {{K::EnterMethod, W + L" started"}, {K::Message, W + L" in ABuffer=" + B}, {K::Message, W + L" in ABufferSize=2"},
        {K::Exception, W + L" EStorageAccessDenied raised"}, {K::Error, W + L" out Result=80030005"},
        {K::ExitMethod, W + L" finished"}}},
      {"seek",
       [](IStream* s) { ULARGE_INTEGER p; s->Seek(Move(-3), STREAM_SEEK_END, &p); },
       {{K::EnterMethod, S + L" started"}, {K::Message, S + L" in AMove=-3"}, {K::Message, S + L" in AOrigin=STREAM_SEEK_END"},
        {K::Message, S + L" out ANewPosition=7"}, {K::Message, S + L" out Result=S_OK"}, {K::ExitMethod, S + L" finished"}}},
      {"seek with a bad origin",
       [](IStream* s) { s->Seek(Move(0), 3, nullptr); },
       {{K::EnterMethod, S + L" started"}, {K::Message, S + L" in AMove=0"}, {K::Message, S + L" in AOrigin=STREAM_SEEK_00000003"},
        {K::Error, S + L" out Result=80030001"}, {K::ExitMethod, S + L" finished"}}},
      {"copy",
       [&](IStream* s) { ULARGE_INTEGER r; s->CopyTo(target.get(), Count(3), &r, nullptr); },
       {{K::EnterMethod, C + L" started"}, {K::Message, C + L" in AStream=" + T}, {K::Message, C + L" in ASize=3"},
        {K::Message, C + L" in @AWritten=nil"}, {K::Message, C + L" in ARead=3"}, {K::Message, C + L" out Result=S_OK"},
        {K::ExitMethod, C + L" finished"}}},
      {"refused resize",
       [](IStream* s) { s->SetSize(Count(2)); },
       {{K::EnterMethod, Z + L" started"}, {K::Message, Z + L" in ANewSize=2"},
        {K::Exception, Z + L" EStorageAccessDenied raised"}, {K::Error, Z + L" out Result=80030005"},
        {K::ExitMethod, Z + L" finished"}}},
      {"refused query",
       [](IStream* s) { void* p; s->QueryInterface(IID_IDispatch, &p); },
       {{K::Error, L"TqorStreamAdapter.QueryInterface IDispatch out Result=E_NOINTERFACE"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<IStream> adapter = AdapterOver(MemoryWith("0123456789"), STGM_READ);
    ClearLog();
    c.call(adapter.get());
    std::vector<Line> lines;
    for (const LogRecord& r : Records()) {
      // An exception line carries the error's text after the line itself.
      std::wstring text = r.text;
      if (r.kind == LogKind::Exception) text = text.substr(0, text.find(L" raised") + 7);
      lines.push_back({r.kind, text});
    }
    EXPECT_EQ(Describe(lines), Describe(c.lines));
  }
}

TEST_F(StreamAdapter, StatLogsEveryFieldInOrder) {
  const FILETIME modified{0x12345678, 0x01D00000};
  auto* adapter = CreateShellObject<TqorStreamAdapter>(MemoryWith("0123456789"), STGM_READWRITE, TStreamOwnership::soOwned);
  ComPtr<IStream> stream(adapter);
  adapter->SetFileName(L"C:\\dir\\n.txt");
  adapter->SetModificationTime(modified);
  ClearLog();
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  TaskMem name(stat.pwcsName);
  const std::wstring L = L"TqorStreamAdapter.IStream.Stat out AStatStg.";
  const std::vector<std::wstring> expected = {
      L"TqorStreamAdapter.IStream.Stat started",
      L + L"pwcsName=n.txt",
      L + L"dwType=STGTY_STREAM",
      L + L"cbSize=10",
      L + L"mtime=" + FileTimeToText(modified),
      L + L"ctime=0",
      L + L"atime=0",
      L + L"grfMode=STGM_READ",
      L + L"grfLocksSupported=LOCK_WRITE",
      L + L"clsid={00000000-0000-0000-0000-000000000000}",
      L + L"grfStateBits=00000000",
      L + L"reserved=00000000",
      L"TqorStreamAdapter.IStream.Stat out Result=S_OK",
      L"TqorStreamAdapter.IStream.Stat finished",
  };
  EXPECT_EQ(LogTexts(), expected);
  EXPECT_NE(FileTimeToText(modified), L"0");
}

TEST_F(StreamAdapter, AnAdapterWhoseFileCannotBeOpenedLeavesNoLinesAndKeepsTheNesting) {
  const std::wstring present = folder_ / L"present.bin";
  qortest::WriteFileBytes(present, "x");
  // The depth an object's lines start at on this thread (earlier tests may have left it above 0).
  auto firstDepth = [&] {
    ClearLog();
    { ComPtr<IStream> adapter = CreateIStreamOnFile(present, STGM_READ); }
    const std::vector<LogRecord> records = Records();
    return records.empty() ? -1 : records.front().depth;
  };
  const int before = firstDepth();
  ASSERT_GE(before, 0);

  ClearLog();
  EXPECT_THROW(CreateIStreamOnFile(folder_ / L"missing.bin", STGM_READ), OSError);
  // Never created, so never destroyed: an unmatched "is destroyed" would close a level nobody opened.
  for (const std::wstring& text : LogTexts()) ADD_FAILURE() << "unexpected line: " << testing::PrintToString(text);
  EXPECT_EQ(firstDepth(), before) << "the next object starts where the one before did";
}
