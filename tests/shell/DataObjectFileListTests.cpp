// The lists over data objects: a small data object of the tests serving each format, the shell's own data
// objects over a real folder, and malformed media from an untrusted source.
#include "FileLists.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "Error.h"
#include "FileListTestSupport.h"
#include "FileTestSupport.h"
#include "ShellTestEnv.h"

using namespace qor;
using namespace qortest;

namespace {

// What a data object of the tests saw of the global blocks it handed out (stream media are released
// through the stream's own reference count).
struct MediumStats {
  int handedOut = 0;
  int released = 0;
  int lockedAtRelease = 0;  // media whose block was still locked when released
};

// Stands in for ReleaseStgMedium's owner: frees the block when the medium is released and notes
// whether it was still locked then.
class MediumOwner : public IUnknown {
 public:
  virtual ~MediumOwner() = default;
  MediumOwner(HGLOBAL block, MediumStats& stats) : block_(block), stats_(stats) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--refs_ > 0) return refs_;
    ++stats_.released;
    if (block_ && (GlobalFlags(block_) & GMEM_LOCKCOUNT) != 0) ++stats_.lockedAtRelease;
    if (block_) GlobalFree(block_);
    delete this;
    return 0;
  }

 private:
  ULONG refs_ = 1;
  HGLOBAL block_;
  MediumStats& stats_;
};

// A data object serving the formats it is given: a fresh global block of the given bytes for each
// GetData, or a stream. Counts the GetData calls per format.
class TestDataObject : public IDataObject {
 public:
  struct Entry {
    std::string bytes;
    ComPtr<IStream> stream;  // served as TYMED_ISTREAM, also when an HGLOBAL is asked (a wrong medium)
    bool nullHandle = false;
    bool zeroBlock = false;  // a block of size 0 (GlobalLock refuses it)
  };

  void Add(UINT format, std::string bytes, LONG lindex = -1) { entries_[{format, lindex}].bytes = std::move(bytes); }
  void AddStream(UINT format, IStream* stream, LONG lindex = -1) {
    entries_[{format, lindex}].stream = ComPtr<IStream>(stream);
  }
  Entry& At(UINT format, LONG lindex = -1) { return entries_[{format, lindex}]; }
  int GetDataCalls(UINT format) const {
    auto it = calls_.find(format);
    return it == calls_.end() ? 0 : it->second;
  }
  int TotalGetDataCalls() const {
    int n = 0;
    for (auto& c : calls_) n += c.second;
    return n;
  }
  MediumStats stats;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDataObject) {
      *ppv = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  ULONG Refs() const { return refs_; }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* f, STGMEDIUM* m) override {
    ++calls_[f->cfFormat];
    auto it = entries_.find({f->cfFormat, f->lindex});
    if (it == entries_.end() || f->dwAspect != DVASPECT_CONTENT || f->ptd) return DV_E_FORMATETC;
    Entry& e = it->second;
    *m = {};
    if (e.stream) {
      m->tymed = TYMED_ISTREAM;
      m->pstm = e.stream.get();
      m->pstm->AddRef();
      return S_OK;
    }
    if (!(f->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    HGLOBAL block = nullptr;
    if (!e.nullHandle) {
      block = GlobalAlloc(GMEM_MOVEABLE, e.zeroBlock ? 0 : e.bytes.size());
      if (!e.zeroBlock) {
        if (void* p = GlobalLock(block)) {
          std::memcpy(p, e.bytes.data(), e.bytes.size());
          GlobalUnlock(block);
        }
      }
    }
    m->tymed = TYMED_HGLOBAL;
    m->hGlobal = block;
    m->pUnkForRelease = new MediumOwner(block, stats);
    ++stats.handedOut;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* f) override {
    auto it = entries_.find({f->cfFormat, f->lindex});
    if (it == entries_.end()) return DV_E_FORMATETC;
    const DWORD tymed = it->second.stream ? TYMED_ISTREAM : TYMED_HGLOBAL;
    return (f->tymed & tymed) && f->dwAspect == DVASPECT_CONTENT ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  ULONG refs_ = 1;
  std::map<std::pair<UINT, LONG>, Entry> entries_;
  std::map<UINT, int> calls_;
};

template <typename T>
std::string BytesOf(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
std::string WideBytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}
std::string AnsiBytes(const std::string& text) { return std::string(text.c_str(), text.size() + 1); }

FILEDESCRIPTORW Descriptor(const wchar_t* name, DWORD flags, DWORD attributes, DWORD size) {
  FILEDESCRIPTORW d = {};
  d.dwFlags = flags;
  d.dwFileAttributes = attributes;
  d.nFileSizeLow = size;
  d.ftLastWriteTime = {0x11111111, 0x01D00000};
  wcsncpy(d.cFileName, name, MAX_PATH - 1);
  return d;
}
template <typename Descriptor>
std::string FileGroup(const std::vector<Descriptor>& items, uint32_t count) {
  std::string bytes = BytesOf(count);
  for (const Descriptor& d : items) bytes += BytesOf(d);
  return bytes;
}

// A DROPFILES block: the header, then the paths, each with its NUL, and the closing NUL.
std::string DropFiles(const std::vector<std::wstring>& paths, bool wide = true) {
  DROPFILES header = {};
  header.pFiles = sizeof header;
  header.fWide = wide;
  std::string bytes = BytesOf(header);
  for (const std::wstring& p : paths) bytes += wide ? WideBytes(p) : AnsiBytes(Narrow(p));
  bytes += wide ? std::string(2, '\0') : std::string(1, '\0');
  return bytes;
}

std::string IDListBytes(PCUIDLIST_RELATIVE pidl) {
  return std::string(reinterpret_cast<const char*>(pidl), ILGetSize(pidl));
}

// A CIDA of the parent's absolute id list and its children's ids.
std::string Cida(const std::string& parent, const std::vector<std::string>& children) {
  std::vector<uint32_t> header;
  header.push_back(static_cast<uint32_t>(children.size()));
  uint32_t offset = static_cast<uint32_t>(4 * (children.size() + 2));
  header.push_back(offset);
  offset += static_cast<uint32_t>(parent.size());
  for (const std::string& c : children) {
    header.push_back(offset);
    offset += static_cast<uint32_t>(c.size());
  }
  std::string bytes(reinterpret_cast<const char*>(header.data()), header.size() * 4);
  bytes += parent;
  for (const std::string& c : children) bytes += c;
  return bytes;
}

// The absolute id list of a path, owned.
TaskMem PathIDList(const std::wstring& path) {
  PIDLIST_ABSOLUTE pidl = nullptr;
  SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr);
  EXPECT_NE(pidl, nullptr) << Narrow(path);
  return TaskMem(pidl);
}
std::string ChildIDBytes(const std::wstring& path) {
  TaskMem full = PathIDList(path);
  return full ? IDListBytes(ILFindLastID(static_cast<PCIDLIST_ABSOLUTE>(full.get()))) : std::string();
}

struct Walked {
  std::vector<TqorSearchRec> records;
};
Walked WalkAll(TqorShellFileList& list) {
  Walked w;
  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  if (!h) return w;
  ScopeGuard close([&] { list.FindClose(h); });
  do w.records.push_back(rec);
  while (list.FindNext(h, rec));
  return w;
}



class DataObjectLists : public ShellLibrary {
 protected:
  TestDataObject data;
  TempFolder dir;
};

}  // namespace

TEST_F(DataObjectLists, AFileNameOfferedOnlyInAnsiGivesItsOneItem) {
  WriteFileBytes(dir / L"single.txt", "hello");
  data.Add(CF_FILENAME, AnsiBytes(Narrow(dir / L"single.txt")));
  ASSERT_TRUE(TqorDataObjectCF_FILENAMEFileList::CanCreate(&data));
  ASSERT_FALSE(TqorDataObjectCF_HDROPFileList::CanCreate(&data));
  TqorDataObjectCF_FILENAMEFileList list(&data);
  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(rec.FileName, dir / L"single.txt");
  EXPECT_EQ(rec.FileSize, 5);
  EXPECT_NE(rec.ShellAttr & fsaFileSystem, 0u);
  std::unique_ptr<TStream> stream = list.CreateFileStream(h, rec, STGM_READ, false);
  ASSERT_TRUE(stream);
  char buffer[8] = {};
  EXPECT_EQ(stream->Read(buffer, 8), 5);
  EXPECT_FALSE(list.FindNext(h, rec));
  EXPECT_TRUE(rec.FileName.empty());
  ExpectOutOfFileList(list, h, rec);
  list.FindClose(h);
  EXPECT_TRUE(list.IsSingleFile());
  EXPECT_EQ(list.GetCount(), 1);
  EXPECT_EQ(data.stats.handedOut, data.stats.released);
  EXPECT_EQ(data.stats.lockedAtRelease, 0);
}

TEST_F(DataObjectLists, AWideFileNameIsPreferredAndAFolderIsNoSingleFile) {
  ASSERT_TRUE(CreateDirectoryW((dir / L"folder").c_str(), nullptr));
  WriteFileBytes(dir / L"folder\\in.txt", "");
  data.Add(CF_FILENAMEW, WideBytes(dir / L"folder"));
  data.Add(CF_FILENAME, AnsiBytes("C:\\not this one"));
  TqorDataObjectCF_FILENAMEFileList list(&data);
  EXPECT_EQ(list.CreateFileList(), std::vector<std::wstring>{dir / L"folder"});
  EXPECT_EQ(data.GetDataCalls(CF_FILENAME), 0);
  EXPECT_FALSE(list.IsSingleFile());
  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  ASSERT_NE(h, 0u);
  std::unique_ptr<TqorShellFileList> sub = list.CreateFolderFileList(h, rec);
  list.FindClose(h);
  ASSERT_TRUE(sub);
  EXPECT_EQ(sub->CreateFileList(), std::vector<std::wstring>{dir / L"folder\\in.txt"});
}

TEST_F(DataObjectLists, FileGroupDescriptorsGiveVirtualItemsWithOneGetDataEach) {
  const std::vector<FILEDESCRIPTORW> items = {
      Descriptor(L"one.txt", FD_ATTRIBUTES | FD_FILESIZE | FD_WRITESTIME, FILE_ATTRIBUTE_READONLY, 3),
      Descriptor(L"two", FD_ATTRIBUTES, FILE_ATTRIBUTE_DIRECTORY, 0),
      Descriptor(L"three.bin", FD_FILESIZE, FILE_ATTRIBUTE_HIDDEN, 70000),
  };
  data.Add(CF_FILEDESCRIPTORW, FileGroup(items, 3));
  ASSERT_TRUE(TqorDataObjectCF_FILEDESCRIPTORFileList::CanCreate(&data));
  TqorDataObjectCF_FILEDESCRIPTORFileList list(&data);
  Walked w = WalkAll(list);
  ASSERT_EQ(w.records.size(), 3u);
  EXPECT_EQ(data.GetDataCalls(CF_FILEDESCRIPTORW), 3) << "one fetch per item visited";
  struct Expected {
    const wchar_t* name;
    DWORD attr;
    int64_t size;
  } expected[] = {
      {L"one.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_VIRTUAL, 3},
      {L"two", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_VIRTUAL, 0},
      // Without FD_ATTRIBUTES the attributes are VIRTUAL alone, and the shell attributes a stream.
      {L"three.bin", FILE_ATTRIBUTE_VIRTUAL, 70000},
  };
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(w.records[i].FileName, expected[i].name);
    EXPECT_EQ(w.records[i].Attr, expected[i].attr) << std::hex << w.records[i].Attr;
    EXPECT_EQ(w.records[i].ShellAttr & fsaFileSystem, 0u);
    EXPECT_EQ(w.records[i].FileSize, expected[i].size);
  }
  EXPECT_EQ(w.records[2].ShellAttr, fsaStream);
  EXPECT_EQ(w.records[0].LastWriteTime.dwLowDateTime, 0x11111111u);
  EXPECT_EQ(w.records[1].LastWriteTime.dwLowDateTime, 0u) << "FD_WRITESTIME absent";
  bool real = true;
  EXPECT_EQ(list.CreateFileList(real).size(), 3u);
  EXPECT_FALSE(real);
  EXPECT_FALSE(list.IsSingleFile());
  EXPECT_EQ(list.GetCount(), 3);
  EXPECT_EQ(data.stats.handedOut, data.stats.released);
  EXPECT_EQ(data.stats.lockedAtRelease, 0);
}

TEST_F(DataObjectLists, TheAnsiDescriptorsAreReadWhenTheWideFormIsMissing) {
  FILEDESCRIPTORA a = {};
  a.dwFlags = FD_ATTRIBUTES;
  a.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  strcpy(a.cFileName, "ansi.txt");
  data.Add(CF_FILEDESCRIPTOR, FileGroup(std::vector<FILEDESCRIPTORA>{a, a}, 2));
  TqorDataObjectCF_FILEDESCRIPTORFileList list(&data);
  EXPECT_EQ(list.CreateFileList(), (std::vector<std::wstring>{L"ansi.txt", L"ansi.txt"}));
}

TEST_F(DataObjectLists, ADescriptorCountOfZeroGivesNoHandle) {
  data.Add(CF_FILEDESCRIPTORW, FileGroup(std::vector<FILEDESCRIPTORW>{}, 0));
  TqorDataObjectCF_FILEDESCRIPTORFileList list(&data);
  TqorSearchRec rec;
  EXPECT_EQ(list.FindFirst(rec), 0u);
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(data.stats.handedOut, data.stats.released);
}

TEST_F(DataObjectLists, DescriptorStreamsComeFromFileContentsAtTheItemsIndex) {
  const std::vector<FILEDESCRIPTORW> items = {Descriptor(L"a", FD_FILESIZE, 0, 5),
                                              Descriptor(L"b", FD_FILESIZE, 0, 3)};
  data.Add(CF_FILEDESCRIPTORW, FileGroup(items, 2));
  const char* contents[] = {"first", "2nd"};
  for (LONG i = 0; i < 2; ++i) {
    ComPtr<IStream> s = ComPtr<IStream>::Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(contents[i]),
                                                                  static_cast<UINT>(strlen(contents[i]))));
    data.AddStream(CF_FILECONTENTS, s.get(), i);
  }
  TqorDataObjectCF_FILEDESCRIPTORFileList list(&data);
  int index = 0;
  const int visited = WalkEveryItem(list, [&](TqorSearchHandle h, const TqorSearchRec& rec) {
    ASSERT_LT(index, 2) << "no more items than descriptors";
    const char* content = contents[index++];
    const int before = data.GetDataCalls(CF_FILECONTENTS);
    std::unique_ptr<TStream> stream = list.CreateFileStream(h, rec, STGM_READ, true);
    ASSERT_TRUE(stream);
    EXPECT_EQ(data.GetDataCalls(CF_FILECONTENTS), before + 1);
    char buffer[16] = {};
    EXPECT_EQ(stream->Read(buffer, sizeof buffer), static_cast<int32_t>(strlen(content)));
    EXPECT_STREQ(buffer, content);
    EXPECT_EQ(stream->GetSize(), rec.FileSize);
    std::unique_ptr<TqorShellFileList> sub = list.CreateFolderFileList(h, rec);
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->GetCount(), 0) << "a descriptor's folder list is empty";
  }, AfterTheEnd::ExpectOutOfFileList);  // after the end, no stream for the last item again
  EXPECT_EQ(visited, 2);
  EXPECT_EQ(data.stats.handedOut, data.stats.released);
}

TEST_F(DataObjectLists, AStreamWhereAGlobalBlockWasAskedIsAnInvalidMedium) {
  ComPtr<IStream> s = ComPtr<IStream>::Attach(SHCreateMemStream(nullptr, 0));
  data.AddStream(CF_FILEDESCRIPTORW, s.get());
  data.AddStream(CF_FILEDESCRIPTOR, s.get());
  data.AddStream(CF_HDROP, s.get());
  TqorDataObjectCF_FILEDESCRIPTORFileList descriptors(&data);
  TqorDataObjectCF_HDROPFileList drops(&data);
  TqorSearchRec rec;
  EXPECT_EQ(ErrorOf([&] { descriptors.FindFirst(rec); }), L"Invalid medium");
  EXPECT_EQ(ErrorOf([&] { drops.FindFirst(rec); }), L"Invalid medium");
  EXPECT_EQ(data.GetDataCalls(CF_FILEDESCRIPTORW) + data.GetDataCalls(CF_FILEDESCRIPTOR), 2);
  // Each stream medium was released: only the entries' references are left.
  s->AddRef();
  EXPECT_EQ(s->Release(), 4u);
}

TEST_F(DataObjectLists, ANullHandleIsAnInvalidMediumAndAFailingGetDataItsOleError) {
  data.At(CF_HDROP).nullHandle = true;
  TqorDataObjectCF_HDROPFileList drops(&data);
  TqorSearchRec rec;
  EXPECT_EQ(ErrorOf([&] { drops.FindFirst(rec); }), L"Invalid medium");
  EXPECT_EQ(data.stats.handedOut, data.stats.released);
  TqorDataObjectCF_FILENAMEFileList names(&data);  // the data object has no file name at all
  try {
    names.FindFirst(rec);
    FAIL() << "no file name format";
  } catch (const OleSysError& e) {
    EXPECT_EQ(e.code(), DV_E_FORMATETC) << std::hex << e.code();
  }
  EXPECT_EQ(data.GetDataCalls(CF_FILENAMEW), 1);
  EXPECT_EQ(data.GetDataCalls(CF_FILENAME), 1) << "the ANSI form is tried after the wide one fails";
}

TEST_F(DataObjectLists, DropListsGiveTheirPathsInOrder) {
  WriteFileBytes(dir / L"x.txt", "xx");
  WriteFileBytes(dir / L"y.txt", "yyy");
  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide);
    TestDataObject drop;
    drop.Add(CF_HDROP, DropFiles({dir / L"x.txt", dir / L"y.txt"}, wide));
    ASSERT_TRUE(TqorDataObjectCF_HDROPFileList::CanCreate(&drop));
    TqorDataObjectCF_HDROPFileList list(&drop);
    Walked w = WalkAll(list);
    ASSERT_EQ(w.records.size(), 2u);
    EXPECT_EQ(w.records[0].FileName, dir / L"x.txt");
    EXPECT_EQ(w.records[1].FileName, dir / L"y.txt");
    EXPECT_EQ(w.records[1].FileSize, 3);
    EXPECT_EQ(drop.GetDataCalls(CF_HDROP), 2);
    bool real = false;
    list.CreateFileList(real);
    EXPECT_TRUE(real);
    EXPECT_EQ(drop.stats.handedOut, drop.stats.released);
    EXPECT_EQ(drop.stats.lockedAtRelease, 0);
  }
}

TEST_F(DataObjectLists, AnEmptyDropListIsAnEmptyList) {
  data.Add(CF_HDROP, DropFiles({}));
  TqorDataObjectCF_HDROPFileList list(&data);
  TqorSearchRec rec;
  EXPECT_EQ(list.FindFirst(rec), TqorSearchHandle{0});
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(data.stats.handedOut, data.stats.released);
}

TEST_F(DataObjectLists, ACountedListAnswersOutOfFileListAfterItsEnd) {
  WriteFileBytes(dir / L"x.txt", "xx");
  data.Add(CF_HDROP, DropFiles({dir / L"x.txt"}));
  TqorDataObjectCF_HDROPFileList list(&data);
  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(list.CreateFileStream(h, rec, STGM_READ, false));
  EXPECT_FALSE(list.FindNext(h, rec));
  ExpectOutOfFileList(list, h, rec);
  EXPECT_FALSE(list.FindNext(h, rec));
  list.FindClose(h);
  EXPECT_TRUE(list.IsSingleFile());
}

TEST_F(DataObjectLists, ContainFormatIsTrueOnlyForSOk) {
  data.Add(CF_HDROP, DropFiles({L"C:\\a"}));
  EXPECT_TRUE(TqorShellDataObjectFileList::ContainFormat(&data, CF_HDROP, TYMED_HGLOBAL, DVASPECT_CONTENT, -1));
  // The data object answers S_FALSE for a tymed it does not serve.
  EXPECT_FALSE(TqorShellDataObjectFileList::ContainFormat(&data, CF_HDROP, TYMED_ISTREAM, DVASPECT_CONTENT, -1));
  EXPECT_FALSE(TqorShellDataObjectFileList::ContainFormat(&data, CF_TEXT, TYMED_HGLOBAL, DVASPECT_CONTENT, -1));
  EXPECT_FALSE(TqorShellDataObjectFileList::CanCreate(&data));
}

TEST_F(DataObjectLists, TheRegistryPicksTheKindsThatCarryTheirFormat) {
  WriteFileBytes(dir / L"x.txt", "xx");
  data.Add(CF_HDROP, DropFiles({dir / L"x.txt"}));
  data.Add(CF_FILENAMEW, WideBytes(dir / L"x.txt"));
  std::vector<std::wstring> able;
  for (const FileListClass& c : FileListClasses())
    if (c.CanCreate(&data)) able.push_back(c.name);
  EXPECT_EQ(able, (std::vector<std::wstring>{L"TqorDataObjectCF_FILENAMEFileList", L"TqorDataObjectCF_HDROPFileList"}));
  const ULONG refs = data.Refs();
  {
    std::unique_ptr<TqorShellFileList> list = FileListClasses()[2].Create(&data);
    ASSERT_TRUE(list);
    EXPECT_EQ(data.Refs(), refs + 1) << "a list holds one reference on its data object";
    EXPECT_EQ(list->CreateFileList(), std::vector<std::wstring>{dir / L"x.txt"});
  }
  EXPECT_EQ(data.Refs(), refs);
}

// Malformed media: each count, offset and length that does not fit the block.

namespace {

// A block of n bytes that ends where an inaccessible page begins: a read past its end faults.
class GuardedBlock {
 public:
  explicit GuardedBlock(const std::string& bytes) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    page_ = si.dwPageSize;
    const size_t span = (bytes.size() + page_ - 1) / page_ * page_ + page_;
    base_ = static_cast<char*>(VirtualAlloc(nullptr, span + page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base_ + span, page_, PAGE_NOACCESS, &old);
    data_ = base_ + span - bytes.size();
    std::memcpy(data_, bytes.data(), bytes.size());
    size_ = bytes.size();
  }
  ~GuardedBlock() { VirtualFree(base_, 0, MEM_RELEASE); }
  const void* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  size_t page_;
  char* base_;
  char* data_;
  size_t size_;
};

enum class Kind { FileNameW, FileNameA, DescriptorW, DescriptorA, IDList, Drop };

struct MalformedCase {
  const char* what;
  Kind kind;
  std::string bytes;
  const wchar_t* error;
};

const wchar_t kBadName[] = L"Invalid file name: the text has no end inside the medium";
const wchar_t kBadGroup[] = L"Invalid file group descriptor: the descriptors do not fit the medium";
const wchar_t kBadCida[] = L"Invalid item id list array: an offset or item id list lies outside the medium";
const wchar_t kBadDrop[] = L"Invalid drop file list: the file list does not fit the medium";

std::string U32s(std::initializer_list<uint32_t> values) {
  std::string s;
  for (uint32_t v : values) s += BytesOf(v);
  return s;
}

std::vector<MalformedCase> MalformedCases() {
  const std::string terminator(2, '\0');
  DROPFILES header = {};
  header.pFiles = sizeof header;
  header.fWide = TRUE;
  DROPFILES outside = header;
  outside.pFiles = 4096;
  DROPFILES inside = header;
  inside.pFiles = 8;
  return {
      {"wide name without NUL", Kind::FileNameW, std::string("C\0:\0\\\0x\0", 8), kBadName},
      {"wide name with a half NUL at the end", Kind::FileNameW, std::string("C\0:\0\0", 5), kBadName},
      {"ANSI name without NUL", Kind::FileNameA, "C:\\abc", kBadName},
      {"empty block for a name", Kind::FileNameA, "", kBadName},
      {"descriptor count beyond the block", Kind::DescriptorW,
       U32s({3}) + BytesOf(Descriptor(L"a", 0, 0, 0)) + BytesOf(Descriptor(L"b", 0, 0, 0)), kBadGroup},
      {"descriptor cut short", Kind::DescriptorW, U32s({1}) + BytesOf(Descriptor(L"a", 0, 0, 0)).substr(0, 591),
       kBadGroup},
      {"huge descriptor count", Kind::DescriptorW, U32s({0xFFFFFFFF}) + BytesOf(Descriptor(L"a", 0, 0, 0)),
       kBadGroup},
      {"ANSI count beyond the block", Kind::DescriptorA, U32s({1}) + std::string(331, '\0'), kBadGroup},
      {"one byte for a descriptor count", Kind::DescriptorW, std::string(1, '\x01'), kBadGroup},
      {"cidl whose offsets do not fit", Kind::IDList, U32s({5, 12, 14}) + terminator, kBadCida},
      {"huge cidl", Kind::IDList, U32s({0xFFFFFFFF, 8}) + terminator, kBadCida},
      {"parent offset outside", Kind::IDList, U32s({1, 4000, 12}) + terminator, kBadCida},
      {"child offset at the last byte", Kind::IDList, U32s({1, 12, 14}) + terminator + std::string(1, '\0'),
       kBadCida},
      {"child id list running past the end", Kind::IDList,
       U32s({1, 12, 14}) + terminator + std::string("\x08\x00zzzz", 6), kBadCida},
      {"child id of size 1", Kind::IDList, U32s({1, 12, 14}) + terminator + std::string("\x01\x00\x00\x00", 4),
       kBadCida},
      {"one byte for a cida", Kind::IDList, std::string(1, '\0'), kBadCida},
      {"drop header cut short", Kind::Drop, BytesOf(header).substr(0, 19), kBadDrop},
      {"drop list offset outside", Kind::Drop, BytesOf(outside) + WideBytes(L"C:\\a") + terminator, kBadDrop},
      {"drop list offset inside the header", Kind::Drop, BytesOf(inside) + WideBytes(L"C:\\a") + terminator,
       kBadDrop},
      {"drop list without its closing NUL", Kind::Drop, BytesOf(header) + WideBytes(L"C:\\a"), kBadDrop},
      {"drop path without NUL", Kind::Drop, BytesOf(header) + std::string("C\0:\0", 4), kBadDrop},
      {"one byte for a drop list", Kind::Drop, std::string(1, '\x14'), kBadDrop},
      {"empty drop block", Kind::Drop, "", kBadDrop},
  };
}

void Validate(Kind kind, const void* data, size_t size) {
  switch (kind) {
    case Kind::FileNameW: ReadFileNameBlock(data, size, true); break;
    case Kind::FileNameA: ReadFileNameBlock(data, size, false); break;
    case Kind::DescriptorW: CheckFileGroupDescriptor(data, size, true); break;
    case Kind::DescriptorA: CheckFileGroupDescriptor(data, size, false); break;
    case Kind::IDList: CheckIDListArray(data, size); break;
    case Kind::Drop: CheckDropFiles(data, size); break;
  }
}

// The list that reads the kind's format, over a data object that offers only that format.
std::unique_ptr<TqorShellFileList> ListFor(Kind kind, TestDataObject& data, const std::string& bytes) {
  switch (kind) {
    case Kind::FileNameW:
      data.Add(CF_FILENAMEW, bytes);
      return std::make_unique<TqorDataObjectCF_FILENAMEFileList>(&data);
    case Kind::FileNameA:
      data.Add(CF_FILENAME, bytes);
      return std::make_unique<TqorDataObjectCF_FILENAMEFileList>(&data);
    case Kind::DescriptorW:
      data.Add(CF_FILEDESCRIPTORW, bytes);
      return std::make_unique<TqorDataObjectCF_FILEDESCRIPTORFileList>(&data);
    case Kind::DescriptorA:
      data.Add(CF_FILEDESCRIPTOR, bytes);
      return std::make_unique<TqorDataObjectCF_FILEDESCRIPTORFileList>(&data);
    case Kind::IDList:
      data.Add(CF_IDLIST, bytes);
      return std::make_unique<TqorDataObjectCF_IDLISTFileList>(&data);
    case Kind::Drop:
      data.Add(CF_HDROP, bytes);
      return std::make_unique<TqorDataObjectCF_HDROPFileList>(&data);
  }
  return nullptr;
}

}  // namespace

TEST_F(DataObjectLists, ValidatorsRefuseWhatDoesNotFitAndReadNothingOutsideTheBlock) {
  for (const MalformedCase& c : MalformedCases()) {
    SCOPED_TRACE(c.what);
    GuardedBlock block(c.bytes);
    EXPECT_EQ(ErrorOf([&] { Validate(c.kind, block.data(), block.size()); }), c.error);
  }
}

TEST_F(DataObjectLists, MalformedMediaRaiseTheirErrorThroughTheListAndAreReleased) {
  for (const MalformedCase& c : MalformedCases()) {
    SCOPED_TRACE(c.what);
    TestDataObject source;
    std::unique_ptr<TqorShellFileList> list = ListFor(c.kind, source, c.bytes);
    TqorSearchRec rec;
    rec.FileName = L"stale";
    const std::wstring error = ErrorOf([&] { list->FindFirst(rec); });
    if (c.bytes.empty()) {
      // A block of size 0 cannot be locked: the system's error.
      EXPECT_NE(error, L"(no error)");
    } else if (c.kind == Kind::FileNameW || c.kind == Kind::DescriptorW) {
      // The wide form's error sends the list on to the ANSI form, which this data object lacks.
      EXPECT_EQ(error, OleSysError(DV_E_FORMATETC).message());
      EXPECT_EQ(source.stats.handedOut, 1);
    } else {
      EXPECT_EQ(error, c.error);
    }
    EXPECT_TRUE(rec.FileName.empty());
    EXPECT_EQ(source.stats.handedOut, source.stats.released);
    EXPECT_EQ(source.stats.lockedAtRelease, 0);
  }
}

TEST_F(DataObjectLists, WellFormedMediaPassTheirValidators) {
  WriteFileBytes(dir / L"a.txt", "");
  TaskMem parent = PathIDList(dir.path());
  const std::string cida = Cida(IDListBytes(static_cast<PCIDLIST_ABSOLUTE>(parent.get())),
                                {ChildIDBytes(dir / L"a.txt"), ChildIDBytes(dir / L"a.txt")});
  struct Case {
    const char* what;
    std::string bytes;
    std::function<uint32_t(const void*, size_t)> check;
    uint32_t expected;
  } cases[] = {
      {"group of 2", FileGroup(std::vector<FILEDESCRIPTORW>{Descriptor(L"a", 0, 0, 0), Descriptor(L"b", 0, 0, 0)}, 2),
       [](const void* d, size_t n) { return CheckFileGroupDescriptor(d, n, true); }, 2},
      {"cida of 2", cida, [](const void* d, size_t n) { return CheckIDListArray(d, n); }, 2},
      {"drop list of 3", DropFiles({L"C:\\a", L"C:\\b", L"C:\\c"}),
       [](const void* d, size_t n) { return CheckDropFiles(d, n); }, 3},
      {"empty drop list", DropFiles({}), [](const void* d, size_t n) { return CheckDropFiles(d, n); }, 0},
      {"ANSI drop list", DropFiles({L"C:\\a", L"C:\\b"}, false),
       [](const void* d, size_t n) { return CheckDropFiles(d, n); }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GuardedBlock block(c.bytes);
    EXPECT_EQ(c.check(block.data(), block.size()), c.expected);
  }
  GuardedBlock name(WideBytes(L"C:\\x"));
  EXPECT_EQ(ReadFileNameBlock(name.data(), name.size(), true), L"C:\\x");
}

// "Shell IDList Array" and shell item arrays over a real folder.

namespace {

class IDListLists : public DataObjectLists {
 protected:
  void SetUp() override {
    DataObjectLists::SetUp();
    WriteFileBytes(dir / L"first.txt", "1");
    WriteFileBytes(dir / L"second.txt", "22");
    ASSERT_TRUE(CreateDirectoryW((dir / L"sub").c_str(), nullptr));
    WriteFileBytes(dir / L"sub\\deep.txt", "deep");
    parent = PathIDList(dir.path());
    ASSERT_TRUE(parent);
    parentBytes = IDListBytes(static_cast<PCIDLIST_ABSOLUTE>(parent.get()));
  }
  void OfferItems(TestDataObject& d, const std::vector<std::wstring>& names) {
    std::vector<std::string> children;
    for (const std::wstring& n : names) children.push_back(ChildIDBytes(dir / n));
    d.Add(CF_IDLIST, Cida(parentBytes, children));
  }
  std::vector<std::wstring> Expected(const std::vector<std::wstring>& names) {
    std::vector<std::wstring> v;
    for (const std::wstring& n : names) v.push_back(Lower(dir / n));
    return v;
  }
  static std::vector<std::wstring> LowerAll(std::vector<std::wstring> v) {
    for (auto& s : v) s = Lower(s);
    return v;
  }
  TaskMem parent;
  std::string parentBytes;
};

// Plays missing shell32 entry points through the loader seam.
const char* MissingEntryPoint = nullptr;
HMODULE LoadModule(const wchar_t* name) { return LoadLibraryW(name); }
FARPROC LookupExceptMissing(HMODULE m, const char* nameOrOrdinal) {
  if (IS_INTRESOURCE(nameOrOrdinal)) return nullptr;
  if (MissingEntryPoint && strcmp(nameOrOrdinal, MissingEntryPoint) == 0) return nullptr;
  return GetProcAddress(m, nameOrOrdinal);
}
void UnloadModule(HMODULE m) { FreeLibrary(m); }
const ShellModuleLoader kMissingLoader = {LoadModule, LookupExceptMissing, UnloadModule};

}  // namespace

TEST_F(IDListLists, AnIDListArrayGivesItsItemsThroughTheirParentFolder) {
  OfferItems(data, {L"first.txt", L"second.txt", L"sub"});
  ASSERT_TRUE(TqorDataObjectCF_IDLISTFileList::CanCreate(&data));
  TqorDataObjectCF_IDLISTFileList list(&data);
  EXPECT_EQ(list.GetIDListFormat(), CF_IDLIST);
  bool real = false;
  EXPECT_EQ(LowerAll(list.CreateFileList(real)), Expected({L"first.txt", L"second.txt", L"sub"}));
  EXPECT_TRUE(real) << "file-system items are real files";
  EXPECT_EQ(list.GetCount(), 3);

  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  ASSERT_NE(h, 0u);
  ScopeGuard close([&] { list.FindClose(h); });
  EXPECT_NE(rec.ShellAttr & fsaFileSystem, 0u);
  EXPECT_EQ(rec.Attr & (FILE_ATTRIBUTE_VIRTUAL | FILE_ATTRIBUTE_DIRECTORY), 0u) << std::hex << rec.Attr;
  std::unique_ptr<TStream> stream = list.CreateFileStream(h, rec, STGM_WRITE, false);
  ASSERT_TRUE(stream);
  char buffer[4] = {};
  EXPECT_EQ(stream->Read(buffer, 4), 1) << "opened for reading whatever the mode";
  EXPECT_EQ(buffer[0], '1');
  ASSERT_TRUE(list.FindNext(h, rec));
  ASSERT_TRUE(list.FindNext(h, rec));
  EXPECT_NE(rec.Attr & FILE_ATTRIBUTE_DIRECTORY, 0u) << Narrow(rec.FileName);
  std::unique_ptr<TqorShellFileList> sub = list.CreateFolderFileList(h, rec);
  ASSERT_TRUE(sub);
  EXPECT_EQ(LowerAll(sub->CreateFileList()), Expected({L"sub\\deep.txt"}));
  EXPECT_FALSE(list.FindNext(h, rec));
  ExpectOutOfFileList(list, h, rec);
  EXPECT_EQ(data.stats.handedOut, data.stats.released);
  EXPECT_EQ(data.stats.lockedAtRelease, 0);
}

TEST_F(IDListLists, EveryItemVisitedFetchesTheMediumOnce) {
  OfferItems(data, {L"first.txt", L"second.txt"});
  TqorDataObjectCF_IDLISTFileList list(&data);
  WalkAll(list);
  EXPECT_EQ(data.GetDataCalls(CF_IDLIST), 2);
}

TEST_F(IDListLists, ACidlOfZeroGivesNoHandle) {
  data.Add(CF_IDLIST, Cida(parentBytes, {}));
  TqorDataObjectCF_IDLISTFileList list(&data);
  TqorSearchRec rec;
  EXPECT_EQ(list.FindFirst(rec), 0u);
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(data.stats.handedOut, data.stats.released);
}

TEST_F(IDListLists, WhenTheFastWayCannotBindTheSlowWayStillGivesEveryItem) {
  for (const char* missing : {"ILCombine", "SHBindToParent"}) {
    SCOPED_TRACE(missing);
    FinalizeShellBaseExtension();
    MissingEntryPoint = missing;
    ScopeGuard restore([] { MissingEntryPoint = nullptr; });
    SetShellModuleLoaderForTesting(&kMissingLoader);
    InitializeShellBaseExtension();
    TestDataObject d;
    OfferItems(d, {L"first.txt", L"sub"});
    TqorDataObjectCF_IDLISTFileList list(&d);
    EXPECT_EQ(LowerAll(list.CreateFileList()), Expected({L"first.txt", L"sub"}));
    TqorSearchRec rec;
    TqorSearchHandle h = list.FindFirst(rec);
    ASSERT_NE(h, 0u);
    EXPECT_NE(rec.ShellAttr & fsaFileSystem, 0u);
    EXPECT_EQ(rec.Attr & FILE_ATTRIBUTE_VIRTUAL, 0u);
    std::unique_ptr<TStream> stream = list.CreateFileStream(h, rec, STGM_READ, true);
    ASSERT_TRUE(stream);
    char c = 0;
    EXPECT_EQ(stream->Read(&c, 1), 1);
    EXPECT_EQ(c, '1');
    ASSERT_TRUE(list.FindNext(h, rec));
    std::unique_ptr<TqorShellFileList> sub = list.CreateFolderFileList(h, rec);
    ASSERT_TRUE(sub);
    EXPECT_EQ(LowerAll(sub->CreateFileList()), Expected({L"sub\\deep.txt"}));
    list.FindClose(h);
  }
}

TEST_F(IDListLists, AParentThatCannotBeBoundReachesTheCaller) {
  // A parent that is a file: neither way can bind it as a folder.
  TaskMem file = PathIDList(dir / L"first.txt");
  data.Add(CF_IDLIST, Cida(IDListBytes(static_cast<PCIDLIST_ABSOLUTE>(file.get())), {ChildIDBytes(dir / L"second.txt")}));
  TqorDataObjectCF_IDLISTFileList list(&data);
  TqorSearchRec rec;
  rec.FileName = L"stale";
  EXPECT_THROW(list.FindFirst(rec), OleSysError);
  EXPECT_TRUE(rec.FileName.empty());
  EXPECT_EQ(data.stats.handedOut, data.stats.released);
}

TEST_F(IDListLists, AShellItemArrayFromADataObjectGivesItsItems) {
  OfferItems(data, {L"first.txt", L"second.txt", L"sub"});
  ASSERT_TRUE(TqorDataObjectShellItemArrayFileList::CanCreate(&data));
  TqorDataObjectShellItemArrayFileList list(&data);
  EXPECT_EQ(LowerAll(list.CreateFileList()), Expected({L"first.txt", L"second.txt", L"sub"}));
  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  ASSERT_NE(h, 0u);
  ScopeGuard close([&] { list.FindClose(h); });
  // A stream comes from the item's BHID_Stream handler; Wine's shell items have none and answer
  // MK_E_NOOBJECT, which the list passes on (the stream path is tested over an item that has one).
  try {
    std::unique_ptr<TStream> stream = list.CreateFileStream(h, rec, STGM_READ, true);
    ASSERT_TRUE(stream);
    char c = 0;
    EXPECT_EQ(stream->Read(&c, 1), 1);
    EXPECT_EQ(c, '1');
  } catch (const OleSysError& e) {
    EXPECT_EQ(e.code(), MK_E_NOOBJECT) << std::hex << e.code();
  }
  ASSERT_TRUE(list.FindNext(h, rec));
  ASSERT_TRUE(list.FindNext(h, rec));
  std::unique_ptr<TqorShellFileList> sub = list.CreateFolderFileList(h, rec);
  ASSERT_TRUE(dynamic_cast<TqorIEnumShellItemsFileList*>(sub.get()));
  // The sub-list enumerates the item's BHID_EnumItems handler, which Wine's shell items lack as well.
  try {
    EXPECT_EQ(LowerAll(sub->CreateFileList()), Expected({L"sub\\deep.txt"}));
  } catch (const OleSysError& e) {
    EXPECT_EQ(e.code(), MK_E_NOOBJECT) << std::hex << e.code();
  }
  EXPECT_FALSE(list.FindNext(h, rec));
  ExpectOutOfFileList(list, h, rec);

  TestDataObject none;
  EXPECT_FALSE(TqorDataObjectShellItemArrayFileList::CanCreate(&none));
  EXPECT_THROW(TqorDataObjectShellItemArrayFileList{&none}, OleSysError);
}

TEST_F(IDListLists, TheShellsOwnDataObjectOffersIDListsAndADropList) {
  ComPtr<IShellFolder> desktop, folder;
  ASSERT_EQ(SHGetDesktopFolder(desktop.put()), S_OK);
  ASSERT_EQ(desktop->BindToObject(static_cast<PCIDLIST_ABSOLUTE>(parent.get()), nullptr, IID_IShellFolder,
                                  folder.put_void()),
            S_OK);
  std::vector<TaskMem> owned;
  std::vector<PCUITEMID_CHILD> children;
  for (const wchar_t* name : {L"first.txt", L"second.txt"}) {
    PIDLIST_RELATIVE child = nullptr;
    ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(name), nullptr, &child, nullptr), S_OK);
    owned.emplace_back(child);
    children.push_back(child);
  }
  ComPtr<IDataObject> shellData;
  ASSERT_EQ(folder->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject,
                                  nullptr, shellData.put_void()),
            S_OK);
  const std::vector<std::wstring> expected = Expected({L"first.txt", L"second.txt"});
  ASSERT_TRUE(TqorDataObjectCF_IDLISTFileList::CanCreate(shellData.get()));
  EXPECT_EQ(LowerAll(TqorDataObjectCF_IDLISTFileList(shellData.get()).CreateFileList()), expected);
  ASSERT_TRUE(TqorDataObjectCF_HDROPFileList::CanCreate(shellData.get()));
  EXPECT_EQ(LowerAll(TqorDataObjectCF_HDROPFileList(shellData.get()).CreateFileList()), expected);
  ASSERT_TRUE(TqorDataObjectShellItemArrayFileList::CanCreate(shellData.get()));
  EXPECT_EQ(LowerAll(TqorDataObjectShellItemArrayFileList(shellData.get()).CreateFileList()), expected);
  // Every registered kind that claims the object walks the same first item.
  for (const FileListClass& c : FileListClasses()) {
    SCOPED_TRACE(Narrow(c.name));
    if (!c.CanCreate(shellData.get())) continue;
    std::unique_ptr<TqorShellFileList> list = c.Create(shellData.get());
    std::vector<std::wstring> names = LowerAll(list->CreateFileList());
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], expected[0]);
  }
}
