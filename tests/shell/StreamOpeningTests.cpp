// The opening operations against real files, shell items and shell folders in the test prefix, and
// against shell-folder and shell-item doubles for what the prefix does not offer (a child that is not
// a file-system item, failing calls).
#include <shlobj.h>
#include <shlwapi.h>

#include <iostream>

#include "Error.h"
#include "FileTestSupport.h"
#include "StreamTestSupport.h"

using namespace qor;
using qortest::Pattern;
using qortest::ReadRest;

namespace {

// A shell folder with one kind of child: its attributes, parsing name and stream are set by the test,
// and it records what it was asked.
class FolderDouble : public IShellFolder {
 public:
  HRESULT attributesResult = S_OK;
  SFGAOF attributes = 0;
  HRESULT nameResult = S_OK;
  std::wstring parsingName;
  HRESULT bindResult = S_OK;
  ComPtr<IStream> stream;

  UINT askedCount = 0;
  SFGAOF askedMask = 0;
  SHGDNF askedNameFlags = 0xFFFF;
  bool boundWithContext = false;
  IID boundIid = GUID_NULL;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    *ppv = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IShellFolder)) return E_NOINTERFACE;
    *ppv = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE*, ULONG*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE EnumObjects(HWND, SHCONTF, IEnumIDList**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE, IBindCtx* context, REFIID iid, void** ppv) override {
    boundWithContext = context != nullptr;
    boundIid = iid;
    *ppv = nullptr;
    if (FAILED(bindResult)) return bindResult;
    if (!stream) return E_NOINTERFACE;
    return stream->QueryInterface(iid, ppv);
  }
  HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY, SFGAOF* inOut) override {
    askedCount = count;
    askedMask = *inOut;
    if (FAILED(attributesResult)) return attributesResult;
    *inOut &= attributes;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*, void**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD, SHGDNF flags, STRRET* name) override {
    askedNameFlags = flags;
    if (FAILED(nameResult)) return nameResult;
    name->uType = STRRET_WSTR;
    return SHStrDupW(parsingName.c_str(), &name->pOleStr);
  }
  HRESULT STDMETHODCALLTYPE SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD*) override {
    return E_NOTIMPL;
  }
};

// A shell item whose stream handler is set by the test; records what it was asked.
class ItemDouble : public IShellItem {
 public:
  HRESULT bindResult = S_OK;
  ComPtr<IStream> stream;
  bool boundWithContext = true;
  GUID handler = GUID_NULL;
  IID iid = GUID_NULL;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IShellItem)) return E_NOINTERFACE;
    *ppv = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx* context, REFGUID bhid, REFIID riid, void** ppv) override {
    boundWithContext = context != nullptr;
    handler = bhid;
    iid = riid;
    *ppv = nullptr;
    if (FAILED(bindResult)) return bindResult;
    return stream->QueryInterface(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE GetParent(IShellItem**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDisplayName(SIGDN, LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAttributes(SFGAOF, SFGAOF*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Compare(IShellItem*, SICHINTF, int*) override { return E_NOTIMPL; }
};

// A child item id that only the folder double looks at: one item of two bytes, then the terminator.
struct ChildId {
  USHORT cb = 4;
  BYTE data[2] = {'q', 'r'};
  USHORT terminator = 0;
};
static_assert(sizeof(ChildId) == 6);

PCUITEMID_CHILD AsChild(const ChildId& id) { return reinterpret_cast<PCUITEMID_CHILD>(&id); }

// A file's absolute item id list, its parent folder's list and the child id within it.
struct ParsedFile {
  TaskMem absolute;
  TaskMem parent;
  PCUITEMID_CHILD child = nullptr;
};

ParsedFile Parse(const std::wstring& path) {
  ParsedFile parsed;
  PIDLIST_ABSOLUTE pidl = nullptr;
  EXPECT_EQ(SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr), S_OK) << qortest::Narrow(path);
  if (!pidl) return parsed;
  parsed.absolute.reset(pidl);
  parsed.child = ILFindLastID(pidl);
  PIDLIST_ABSOLUTE parent = ILClone(pidl);
  ILRemoveLastID(parent);
  parsed.parent.reset(parent);
  return parsed;
}

bool LogHasLine(const std::vector<std::wstring>& texts, const std::wstring& line) {
  return std::find(texts.begin(), texts.end(), line) != texts.end();
}

class StreamOpening : public qortest::StreamFixture {
 protected:
  void SetUp() override {
    StreamFixture::SetUp();
    data_ = Pattern(100000, 21);
    path_ = folder_ / L"opened.bin";
    qortest::WriteFileBytes(path_, data_);
  }
  qortest::TempFolder folder_;
  std::string data_;
  std::wstring path_;
};

}  // namespace

TEST_F(StreamOpening, AFileOpensAsALoggingAdapterAndItsErrorsRaise) {
  ComPtr<IStream> stream = CreateIStreamOnFile(path_, STGM_READ);
  EXPECT_TRUE(LogHasLine(LogTexts(), L"TqorStreamAdapter is created"));
  EXPECT_TRUE(ReadRest(stream.get()) == data_);
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  TaskMem name(stat.pwcsName);
  EXPECT_STREQ(stat.pwcsName, L"opened.bin");

  try {
    CreateIStreamOnFile(path_, 0x50);
    ADD_FAILURE() << "no error raised";
  } catch (const FileStreamError& e) {
    EXPECT_EQ(e.message(), path_ + L": Invalid share mode");
  }
  try {
    CreateIStreamOnFile(folder_ / L"absent.bin", STGM_READ);
    ADD_FAILURE() << "no error raised";
  } catch (const OSError& e) {
    EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
}

TEST_F(StreamOpening, AFileSystemChildOfARealFolderOpensThroughItsPath) {
  ParsedFile parsed = Parse(path_);
  ASSERT_TRUE(parsed.child);
  ComPtr<IShellFolder> folder;
  PCUITEMID_CHILD child = nullptr;
  ASSERT_EQ(SHBindToParent(static_cast<PCIDLIST_ABSOLUTE>(parsed.absolute.get()), IID_IShellFolder, folder.put_void(),
                           &child),
            S_OK);
  {
    ComPtr<IStream> stream = CreateIStreamOnFolderItem(folder.get(), child, STGM_READWRITE);
    EXPECT_TRUE(LogHasLine(LogTexts(), L"TqorStreamAdapter is created"));
    EXPECT_EQ(stream->Write("written", 7, nullptr), S_OK);
  }
  EXPECT_TRUE(qortest::ReadFileBytes(path_) == "written" + data_.substr(7));
  try {
    CreateIStreamOnFolderItem(folder.get(), child, 3);
    ADD_FAILURE() << "no error raised";
  } catch (const FileStreamError& e) {
    EXPECT_EQ(_wcsicmp(e.message().c_str(), (path_ + L": Invalid access mode").c_str()), 0)
        << qortest::Narrow(e.message());
  }

  // As a TStream: the stream over the adapter, which can seek, so nothing is copied into memory.
  std::unique_ptr<TStream> stream = CreateStreamOnFolderItem(folder.get(), child, STGM_READ);
  EXPECT_FALSE(static_cast<TqorOleStream&>(*stream).HasMemoryCopy());
  EXPECT_EQ(stream->GetSize(), static_cast<int64_t>(data_.size()));
  EXPECT_EQ(stream->Seek(-10, SeekOrigin::End), static_cast<int64_t>(data_.size() - 10));
  EXPECT_EQ(ReadRest(*stream), data_.substr(data_.size() - 10));
}

TEST_F(StreamOpening, AFolderAndChildIdListOpenThroughTheDesktop) {
  ParsedFile parsed = Parse(path_);
  ASSERT_TRUE(parsed.child);
  const auto parent = static_cast<PCIDLIST_ABSOLUTE>(parsed.parent.get());
  ComPtr<IStream> stream = CreateIStreamOnIDList(parent, parsed.child, STGM_READ);
  EXPECT_TRUE(ReadRest(stream.get()) == data_);
  std::unique_ptr<TStream> asStream = CreateStreamOnIDList(parent, parsed.child, STGM_READ);
  EXPECT_TRUE(ReadRest(*asStream) == data_);
  try {
    CreateIStreamOnIDList(parent, parsed.child, 0x2000);
    ADD_FAILURE() << "no error raised";
  } catch (const FileStreamError& e) {
    EXPECT_NE(e.message().find(L": Invalid create mode"), std::wstring::npos) << qortest::Narrow(e.message());
  }
  // A parent that is a file, not a folder, cannot be bound.
  EXPECT_THROW(CreateIStreamOnIDList(static_cast<PCIDLIST_ABSOLUTE>(parsed.absolute.get()), parsed.child, STGM_READ),
               OleSysError);
}

TEST_F(StreamOpening, AnEmptyParentStandsForTheDesktopItself) {
  // My Computer is a child of the desktop and no file-system item, so it is bound through the desktop
  // folder; the result must be what the desktop itself answers for it. (A file child would have to
  // be written into the user's desktop folder, which Wine links to the home folder of the machine.)
  TaskMem computer;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, reinterpret_cast<PIDLIST_ABSOLUTE*>(computer.put())), S_OK);
  const auto child = static_cast<PCUITEMID_CHILD>(computer.get());
  ComPtr<IShellFolder> desktop;
  ASSERT_EQ(SHGetDesktopFolder(desktop.put()), S_OK);
  ComPtr<IStream> direct;
  const HRESULT answer = desktop->BindToObject(child, nullptr, IID_IStream, direct.put_void());
  const ITEMIDLIST_ABSOLUTE empty{};
  try {
    ComPtr<IStream> stream = CreateIStreamOnIDList(&empty, child, STGM_READ);
    EXPECT_TRUE(SUCCEEDED(answer)) << "opened although the desktop refuses: " << std::hex << answer;
  } catch (const OleSysError& e) {
    EXPECT_EQ(e.code(), answer);
  }
  EXPECT_TRUE(FAILED(answer)) << "My Computer is expected to have no stream";
}

TEST_F(StreamOpening, AChildThatIsNoFileIsBoundToAStreamAndFailuresRaise) {
  const ChildId id;
  auto source = qortest::MakeDoubleStream(data_);
  source->seekable = false;
  struct Case {
    const char* name;
    HRESULT attributesResult;
    SFGAOF attributes;
    HRESULT nameResult;
    HRESULT bindResult;
    HRESULT raised;  // S_OK: the double's stream is returned
  };
  const Case cases[] = {
      {"not a file-system item", S_OK, SFGAO_STREAM | SFGAO_CANCOPY, S_OK, S_OK, S_OK},
      {"the binding fails", S_OK, 0, S_OK, E_ACCESSDENIED, E_ACCESSDENIED},
      {"the attributes fail", E_FAIL, 0, S_OK, S_OK, E_FAIL},
      // A file-system item whose name cannot be read: its error, not an attempt to open the error's text.
      {"the parsing name fails", S_OK, SFGAO_FILESYSTEM, E_OUTOFMEMORY, S_OK, E_OUTOFMEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FolderDouble folder;
    folder.attributesResult = c.attributesResult;
    folder.attributes = c.attributes;
    folder.nameResult = c.nameResult;
    folder.bindResult = c.bindResult;
    folder.stream = ComPtr<IStream>(source.get());
    try {
      ComPtr<IStream> stream = CreateIStreamOnFolderItem(&folder, AsChild(id), STGM_READ);
      EXPECT_EQ(c.raised, S_OK) << "no error raised";
      EXPECT_EQ(stream.get(), static_cast<IStream*>(source.get()));
      EXPECT_FALSE(folder.boundWithContext);
      EXPECT_TRUE(IsEqualIID(folder.boundIid, IID_IStream));
    } catch (const OleSysError& e) {
      EXPECT_EQ(e.code(), c.raised);
    }
    EXPECT_EQ(folder.askedCount, 1u);
    EXPECT_EQ(folder.askedMask, static_cast<SFGAOF>(SFGAO_FILESYSTEM));
  }

  // As a TStream: the source cannot seek, so it is copied into memory.
  FolderDouble folder;
  folder.stream = ComPtr<IStream>(source.get());
  std::unique_ptr<TStream> stream = CreateStreamOnFolderItem(&folder, AsChild(id), STGM_READ);
  EXPECT_TRUE(static_cast<TqorOleStream&>(*stream).HasMemoryCopy());
  EXPECT_EQ(stream->Seek(500, SeekOrigin::Begin), 500);
  EXPECT_TRUE(ReadRest(*stream) == data_.substr(500));
}

TEST_F(StreamOpening, AFileSystemChildOfAFolderDoubleOpensTheFileItNames) {
  const ChildId id;
  FolderDouble folder;
  folder.attributes = SFGAO_FILESYSTEM;
  folder.parsingName = path_;
  folder.stream = ComPtr<IStream>(qortest::MakeDoubleStream("not this one").get());
  ComPtr<IStream> stream = CreateIStreamOnFolderItem(&folder, AsChild(id), STGM_READ);
  EXPECT_EQ(folder.askedNameFlags, static_cast<SHGDNF>(SHGDN_FORPARSING));
  EXPECT_TRUE(IsEqualIID(folder.boundIid, GUID_NULL)) << "a file-system child is not bound";
  EXPECT_TRUE(ReadRest(stream.get()) == data_);
}

TEST_F(StreamOpening, AShellItemGivesItsStreamHandler) {
  auto source = qortest::MakeDoubleStream(data_);
  source->seekable = false;
  ItemDouble item;
  item.stream = ComPtr<IStream>(source.get());
  ComPtr<IStream> stream = CreateIStreamOnShellItem(&item);
  EXPECT_EQ(stream.get(), static_cast<IStream*>(source.get()));
  EXPECT_FALSE(item.boundWithContext);
  EXPECT_TRUE(IsEqualGUID(item.handler, BHID_Stream));
  EXPECT_TRUE(IsEqualIID(item.iid, IID_IStream));

  std::unique_ptr<TStream> copied = CreateStreamOnShellItem(&item, STGM_READ);
  EXPECT_TRUE(static_cast<TqorOleStream&>(*copied).HasMemoryCopy()) << "the item's stream cannot seek";
  EXPECT_EQ(copied->GetSize(), static_cast<int64_t>(data_.size()));

  item.bindResult = E_NOTIMPL;
  try {
    CreateIStreamOnShellItem(&item);
    ADD_FAILURE() << "no error raised";
  } catch (const OleSysError& e) {
    EXPECT_EQ(e.code(), E_NOTIMPL);
  }
}

TEST_F(StreamOpening, ARealShellItemOfAFileGivesItsContent) {
  ComPtr<IShellItem> item;
  ASSERT_EQ(SHCreateItemFromParsingName(path_.c_str(), nullptr, IID_IShellItem, item.put_void()), S_OK);
  // What the item itself gives for its stream handler: Windows serves a file's content, this Wine
  // refuses. Either way the operation must give exactly what the item gives.
  ComPtr<IStream> direct;
  const HRESULT offered = item->BindToHandler(nullptr, BHID_Stream, IID_IStream, direct.put_void());
  if (FAILED(offered)) {
    std::cout << "note: this system's shell item gives no stream for a file (" << std::hex << offered << ")\n";
    try {
      CreateIStreamOnShellItem(item.get());
      ADD_FAILURE() << "no error raised";
    } catch (const OleSysError& e) {
      EXPECT_EQ(e.code(), offered);
    }
    EXPECT_THROW(CreateStreamOnShellItem(item.get(), STGM_READ), OleSysError);
    return;
  }
  ComPtr<IStream> stream = CreateIStreamOnShellItem(item.get());
  EXPECT_TRUE(ReadRest(stream.get()) == data_);
  std::unique_ptr<TStream> asStream = CreateStreamOnShellItem(item.get(), STGM_READ);
  EXPECT_EQ(asStream->GetSize(), static_cast<int64_t>(data_.size()));
  EXPECT_TRUE(ReadRest(*asStream) == data_);
}

TEST_F(StreamOpening, AStreamOverAnIStreamNeedsOne) {
  EXPECT_THROW(CreateStreamOnIStream(nullptr), PointerError);
  ComPtr<IStream> memory = ComPtr<IStream>::Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(data_.data()),
                                                                     static_cast<UINT>(data_.size())));
  std::unique_ptr<TStream> stream = CreateStreamOnIStream(memory.get());
  EXPECT_FALSE(static_cast<TqorOleStream&>(*stream).HasMemoryCopy());
  EXPECT_EQ(stream->GetSize(), static_cast<int64_t>(data_.size()));
}
