// The lists over the shell namespace: a real folder's children, shell items and their children, and
// the property reads, with small doubles that wrap the real shell objects where Wine's lack a handler.
#include "FileLists.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <set>

#include "Error.h"
#include "FileListTestSupport.h"
#include "FileTestSupport.h"
#include "ShellTestEnv.h"

using namespace qor;
using namespace qortest;

namespace {

constexpr SHCONTF kAllChildren = 0x100E0;
const PROPERTYKEY kSize = {{0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}}, 12};
const PROPERTYKEY kModified = {kSize.fmtid, 14};
const PROPERTYKEY kCreated = {kSize.fmtid, 15};
const PROPERTYKEY kAccessed = {kSize.fmtid, 16};
const GUID kEnumItems = {0x94F60519, 0x2850, 0x4924, {0xAA, 0x5A, 0xD1, 0x5E, 0x84, 0x86, 0x80, 0x39}};
const GUID kStreamHandler = {0x1CEBB3AB, 0x7C10, 0x499A, {0xA4, 0x17, 0x92, 0xCA, 0x16, 0xC4, 0xCB, 0x83}};

std::vector<std::wstring> LowerSorted(std::vector<std::wstring> v) {
  for (auto& s : v) s = Lower(s);
  std::sort(v.begin(), v.end());
  return v;
}

// A heap object with a real reference count.
template <typename Interface>
class Counted : public Interface {
 public:
  virtual ~Counted() = default;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

 protected:
  bool Answers(REFIID riid, REFIID own, void** ppv) {
    if (riid == IID_IUnknown || riid == own) {
      *ppv = this;
      AddRef();
      return true;
    }
    return false;
  }

 private:
  ULONG refs_ = 1;
};

// Enumerates a fixed set of shell items.
class ItemsEnum : public Counted<IEnumShellItems> {
 public:
  explicit ItemsEnum(std::vector<ComPtr<IShellItem>> items) : items_(std::move(items)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    return Answers(riid, IID_IEnumShellItems, ppv) ? S_OK : E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, IShellItem** out, ULONG* fetched) override {
    ULONG n = 0;
    while (n < celt && next_ < items_.size()) {
      out[n] = items_[next_++].get();
      out[n++]->AddRef();
    }
    if (fetched) *fetched = n;
    return n == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumShellItems**) override { return E_NOTIMPL; }

 private:
  std::vector<ComPtr<IShellItem>> items_;
  size_t next_ = 0;
};

// A shell item that wraps a real one. It serves BHID_EnumItems (its children, wrapped the same way)
// and BHID_Stream (the file), which Wine's shell items lack. As IShellItem2 it either refuses the
// interface or answers the size and the creation and modification times from the file itself (the
// access time fails).
class WrappedItem : public Counted<IShellItem2> {
 public:
  enum class Item2 { Refused, FromFile };
  WrappedItem(IShellItem* real, Item2 mode) : real_(real), mode_(mode) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (Answers(riid, IID_IShellItem, ppv)) return S_OK;
    if (riid == IID_IShellItem2 && mode_ == Item2::FromFile) {
      *ppv = static_cast<IShellItem2*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx* bc, REFGUID bhid, REFIID riid, void** ppv) override {
    if (bhid == kStreamHandler) {
      std::wstring path = Path();
      return SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE, 0, FALSE, nullptr,
                                    reinterpret_cast<IStream**>(ppv));
    }
    if (bhid != kEnumItems) return real_->BindToHandler(bc, bhid, riid, ppv);
    ++enumerations;
    ComPtr<IShellFolder> folder;
    HRESULT hr = real_->BindToHandler(nullptr, BHID_SFObject, IID_IShellFolder, folder.put_void());
    if (FAILED(hr)) return hr;
    ComPtr<IEnumIDList> ids;
    hr = folder->EnumObjects(nullptr, kAllChildren, ids.put());
    if (FAILED(hr)) return hr;
    std::vector<ComPtr<IShellItem>> children;
    PITEMID_CHILD child = nullptr;
    while (ids && ids->Next(1, &child, nullptr) == S_OK) {
      ComPtr<IShellItem> item;
      if (SUCCEEDED(SHCreateShellItem(nullptr, folder.get(), child, item.put())))
        children.push_back(ComPtr<IShellItem>::Attach(new WrappedItem(item.get(), mode_)));
      CoTaskMemFree(child);
    }
    *ppv = new ItemsEnum(std::move(children));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetParent(IShellItem** parent) override { return real_->GetParent(parent); }
  HRESULT STDMETHODCALLTYPE GetDisplayName(SIGDN n, LPWSTR* name) override { return real_->GetDisplayName(n, name); }
  HRESULT STDMETHODCALLTYPE GetAttributes(SFGAOF mask, SFGAOF* out) override {
    return real_->GetAttributes(mask, out);
  }
  HRESULT STDMETHODCALLTYPE Compare(IShellItem* other, SICHINTF hint, int* order) override {
    return real_->Compare(other, hint, order);
  }
  // IShellItem2: times and size from the file.
  HRESULT STDMETHODCALLTYPE GetFileTime(REFPROPERTYKEY key, FILETIME* out) override {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(Path().c_str(), GetFileExInfoStandard, &d)) return E_FAIL;
    if (key == kAccessed) {
      *out = {0xBAD, 0xBAD};  // no access time: a failing call that writes anyway
      return E_FAIL;
    }
    if (key == kCreated) *out = d.ftCreationTime;
    else if (key == kModified) *out = d.ftLastWriteTime;
    else return E_INVALIDARG;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUInt64(REFPROPERTYKEY key, ULONGLONG* out) override {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (key != kSize || !GetFileAttributesExW(Path().c_str(), GetFileExInfoStandard, &d)) {
      *out = 0xBAD;  // a failing call may write anything: the record must not take it
      return E_FAIL;
    }
    *out = (ULONGLONG(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyStoreWithCreateObject(GETPROPERTYSTOREFLAGS, IUnknown*, REFIID,
                                                             void**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyStoreForKeys(const PROPERTYKEY*, UINT, GETPROPERTYSTOREFLAGS, REFIID,
                                                    void**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Update(IBindCtx*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetProperty(REFPROPERTYKEY, PROPVARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCLSID(REFPROPERTYKEY, CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetInt32(REFPROPERTYKEY, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetString(REFPROPERTYKEY, LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetUInt32(REFPROPERTYKEY, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBool(REFPROPERTYKEY, BOOL*) override { return E_NOTIMPL; }

  static inline int enumerations = 0;

 private:
  std::wstring Path() {
    wchar_t* path = nullptr;
    if (FAILED(real_->GetDisplayName(SIGDN_FILESYSPATH, &path))) return {};
    std::wstring p = path;
    CoTaskMemFree(path);
    return p;
  }
  ComPtr<IShellItem> real_;
  Item2 mode_;
};

// An item array over given items.
class ItemArray : public Counted<IShellItemArray> {
 public:
  explicit ItemArray(std::vector<ComPtr<IShellItem>> items) : items_(std::move(items)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    return Answers(riid, IID_IShellItemArray, ppv) ? S_OK : E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx*, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    *count = static_cast<DWORD>(items_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetItemAt(DWORD i, IShellItem** item) override {
    if (i >= items_.size()) return E_INVALIDARG;
    *item = items_[i].get();
    (*item)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumItems(IEnumShellItems**) override { return E_NOTIMPL; }

 private:
  std::vector<ComPtr<IShellItem>> items_;
};

// Child ids that an enumerator handed out and that are not freed yet (seen through a malloc spy), and
// the counts of both. The allocator may hand a freed block out again, so ids are counted, not kept.
std::set<const void*> Outstanding;
int HandedOut = 0;
int Freed = 0;

class FreeSpy : public IMallocSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IMallocSpy) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cb) override { return cb; }
  void* STDMETHODCALLTYPE PostAlloc(void* p) override { return p; }
  void* STDMETHODCALLTYPE PreFree(void* p, BOOL) override {
    if (Outstanding.erase(p)) ++Freed;
    return p;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* p, SIZE_T cb, void** out, BOOL) override {
    *out = p;
    return cb;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* p, BOOL) override { return p; }
  void* STDMETHODCALLTYPE PreGetSize(void* p, BOOL) override { return p; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cb, BOOL) override { return cb; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* p, BOOL) override { return p; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

// Notes every child id the real enumerator hands out.
class NotingEnum : public Counted<IEnumIDList> {
 public:
  explicit NotingEnum(IEnumIDList* real) : real_(real) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    return Answers(riid, IID_IEnumIDList, ppv) ? S_OK : E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, PITEMID_CHILD* out, ULONG* fetched) override {
    ULONG n = 0;
    HRESULT hr = real_->Next(celt, out, &n);
    for (ULONG i = 0; i < n; ++i) {
      Outstanding.insert(out[i]);
      ++HandedOut;
    }
    if (fetched) *fetched = n;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG n) override { return real_->Skip(n); }
  HRESULT STDMETHODCALLTYPE Reset() override { return real_->Reset(); }
  HRESULT STDMETHODCALLTYPE Clone(IEnumIDList**) override { return E_NOTIMPL; }

 private:
  ComPtr<IEnumIDList> real_;
};

// A folder that wraps a real one: its enumerator notes the ids it hands out, and as IShellFolder2 it
// answers the size and the times from the file (the size as VT_UI8, the modification time as VT_DATE,
// the creation time as VT_FILETIME), which Wine's folders do not.
class WrappedFolder : public Counted<IShellFolder2> {
 public:
  WrappedFolder(IShellFolder* real, bool details) : real_(real), details_(details) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (Answers(riid, IID_IShellFolder, ppv)) return S_OK;
    if (riid == IID_IShellFolder2 && details_) {
      *ppv = static_cast<IShellFolder2*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND w, IBindCtx* b, LPWSTR n, ULONG* e, PIDLIST_RELATIVE* p,
                                             ULONG* a) override {
    return real_->ParseDisplayName(w, b, n, e, p, a);
  }
  HRESULT STDMETHODCALLTYPE EnumObjects(HWND w, SHCONTF flags, IEnumIDList** out) override {
    flagsAsked = flags;
    ComPtr<IEnumIDList> e;
    HRESULT hr = real_->EnumObjects(w, flags, e.put());
    if (hr != S_OK) {
      *out = e.release();
      return hr;
    }
    *out = new NotingEnum(e.get());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE p, IBindCtx* b, REFIID r, void** v) override {
    return real_->BindToObject(p, b, r, v);
  }
  HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE p, IBindCtx* b, REFIID r, void** v) override {
    return real_->BindToStorage(p, b, r, v);
  }
  HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM l, PCUIDLIST_RELATIVE a, PCUIDLIST_RELATIVE b) override {
    return real_->CompareIDs(l, a, b);
  }
  HRESULT STDMETHODCALLTYPE CreateViewObject(HWND w, REFIID r, void** v) override {
    return real_->CreateViewObject(w, r, v);
  }
  HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT n, PCUITEMID_CHILD_ARRAY a, SFGAOF* f) override {
    return real_->GetAttributesOf(n, a, f);
  }
  HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND w, UINT n, PCUITEMID_CHILD_ARRAY a, REFIID r, UINT* x,
                                          void** v) override {
    return real_->GetUIObjectOf(w, n, a, r, x, v);
  }
  HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD c, SHGDNF f, STRRET* s) override {
    return real_->GetDisplayNameOf(c, f, s);
  }
  HRESULT STDMETHODCALLTYPE SetNameOf(HWND w, PCUITEMID_CHILD c, LPCWSTR n, SHGDNF f, PITEMID_CHILD* o) override {
    return real_->SetNameOf(w, c, n, f, o);
  }
  // IShellFolder2
  HRESULT STDMETHODCALLTYPE GetDefaultSearchGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumSearches(IEnumExtraSearch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDefaultColumn(DWORD, ULONG*, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDefaultColumnState(UINT, SHCOLSTATEF*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDetailsEx(PCUITEMID_CHILD child, const SHCOLUMNID* key, VARIANT* v) override {
    STRRET name;
    if (FAILED(real_->GetDisplayNameOf(child, SHGDN_FORPARSING, &name))) return E_FAIL;
    std::wstring path = StrRetToText(child, name, true);
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return E_FAIL;
    if (key->fmtid != kSize.fmtid) return E_INVALIDARG;
    if (key->pid == kSize.pid) {
      v->vt = VT_UI8;
      v->ullVal = (ULONGLONG(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    } else if (key->pid == kModified.pid) {
      SYSTEMTIME st;
      FileTimeToSystemTime(&d.ftLastWriteTime, &st);
      v->vt = VT_DATE;
      SystemTimeToVariantTime(&st, &v->date);
    } else if (key->pid == kCreated.pid) {
      v->vt = VT_FILETIME;
      static_assert(sizeof(FILETIME) == sizeof(v->llVal));
      memcpy(&v->llVal, &d.ftCreationTime, sizeof(FILETIME));
    } else {
      return E_FAIL;  // no access time: the field stays 0
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDetailsOf(PCUITEMID_CHILD, UINT, SHELLDETAILS*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MapColumnToSCID(UINT, SHCOLUMNID*) override { return E_NOTIMPL; }

  SHCONTF flagsAsked = 0;

 private:
  ComPtr<IShellFolder> real_;
  bool details_;
};

ComPtr<IShellFolder> FolderOf(const std::wstring& path) {
  ComPtr<IShellFolder> desktop, folder;
  EXPECT_EQ(SHGetDesktopFolder(desktop.put()), S_OK);
  PIDLIST_ABSOLUTE pidl = nullptr;
  EXPECT_EQ(SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr), S_OK) << Narrow(path);
  TaskMem owner(pidl);
  EXPECT_EQ(desktop->BindToObject(pidl, nullptr, IID_IShellFolder, folder.put_void()), S_OK);
  return folder;
}

ComPtr<IShellItem> ItemOf(const std::wstring& path) {
  ComPtr<IShellItem> item;
  EXPECT_EQ(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_IShellItem, item.put_void()), S_OK)
      << Narrow(path);
  return item;
}

class NamespaceLists : public ShellLibrary {
 protected:
  void SetUp() override {
    ShellLibrary::SetUp();
    WriteFileBytes(dir / L"plain.txt", "plain");
    WriteFileBytes(dir / L"hidden.txt", "hh");
    WriteFileBytes(dir / L"superhidden.txt", "sss");
    ASSERT_TRUE(SetFileAttributesW((dir / L"hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW((dir / L"superhidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(CreateDirectoryW((dir / L"sub").c_str(), nullptr));
    WriteFileBytes(dir / L"sub\\deep.txt", "deep");
  }
  // The folder of the test, wrapped (with or without its IShellFolder2 details).
  ComPtr<WrappedFolder> Wrapped(bool details) {
    ComPtr<IShellFolder> real = FolderOf(dir.path());
    return ComPtr<WrappedFolder>::Attach(new WrappedFolder(real.get(), details));
  }
  std::vector<std::wstring> Paths(std::initializer_list<const wchar_t*> names) {
    std::vector<std::wstring> v;
    for (const wchar_t* n : names) v.push_back(dir / n);
    return LowerSorted(v);
  }
  TempFolder dir;
};

}  // namespace

TEST_F(NamespaceLists, AShellFolderListsHiddenAndSuperHiddenChildren) {
  ComPtr<WrappedFolder> folder = Wrapped(false);
  TqorIShellFolderFileList list(folder.get());
  bool realFiles = false;
  EXPECT_EQ(LowerSorted(list.CreateFileList(realFiles)),
            Paths({L"plain.txt", L"hidden.txt", L"superhidden.txt", L"sub"}));
  EXPECT_EQ(folder->flagsAsked, kAllChildren);
  EXPECT_TRUE(realFiles);
  EXPECT_EQ(list.GetCount(), 4);
  EXPECT_FALSE(list.IsSingleFile());

  WalkEveryItem(list, [&](TqorSearchHandle h, const TqorSearchRec& rec) {
    const std::wstring name = Lower(rec.FileName);
    EXPECT_NE(rec.ShellAttr & fsaFileSystem, 0u);
    EXPECT_EQ((rec.Attr & FILE_ATTRIBUTE_HIDDEN) != 0, name != Lower(dir / L"plain.txt") && name != Lower(dir / L"sub"))
        << std::hex << rec.Attr;
    EXPECT_EQ((rec.Attr & FILE_ATTRIBUTE_DIRECTORY) != 0, name == Lower(dir / L"sub"));
    EXPECT_EQ(rec.FileSize, 0) << "the wrapper offers no IShellFolder2: no detail is read";
    if (name == Lower(dir / L"sub")) {
      std::unique_ptr<TqorShellFileList> sub = list.CreateFolderFileList(h, rec);
      ASSERT_TRUE(sub);
      EXPECT_EQ(LowerSorted(sub->CreateFileList()), Paths({L"sub\\deep.txt"}));
    }
    if (name == Lower(dir / L"plain.txt")) {
      std::unique_ptr<TStream> stream = list.CreateFileStream(h, rec, STGM_WRITE, false);
      ASSERT_TRUE(stream);
      char buffer[8] = {};
      EXPECT_EQ(stream->Read(buffer, 8), 5) << "opened for reading whatever the mode";
    }
  }, AfterTheEnd::ExpectOutOfFileList);
}

TEST_F(NamespaceLists, TheFolderListConstructorsBindTheChildFolder) {
  ComPtr<IShellFolder> parentFolder = FolderOf(dir.path());
  PIDLIST_RELATIVE child = nullptr;
  wchar_t name[] = L"sub";
  ASSERT_EQ(parentFolder->ParseDisplayName(nullptr, nullptr, name, nullptr, &child, nullptr), S_OK);
  TaskMem childOwner(child);
  PIDLIST_ABSOLUTE parent = nullptr;
  ASSERT_EQ(SHParseDisplayName(dir.path().c_str(), nullptr, &parent, 0, nullptr), S_OK);
  TaskMem parentOwner(parent);
  TqorIShellFolderFileList byFolder(parentFolder.get(), child);
  TqorIShellFolderFileList byIDList(parent, child);
  EXPECT_EQ(LowerSorted(byFolder.CreateFileList()), Paths({L"sub\\deep.txt"}));
  EXPECT_EQ(LowerSorted(byIDList.CreateFileList()), Paths({L"sub\\deep.txt"}));
  EXPECT_TRUE(byIDList.IsSingleFile());
  // A file is no folder to list.
  PIDLIST_RELATIVE file = nullptr;
  wchar_t fileName[] = L"plain.txt";
  ASSERT_EQ(parentFolder->ParseDisplayName(nullptr, nullptr, fileName, nullptr, &file, nullptr), S_OK);
  TaskMem fileOwner(file);
  EXPECT_THROW(TqorIShellFolderFileList(parentFolder.get(), file), OleSysError);
}

TEST_F(NamespaceLists, AnEmptyShellFolderHasNoItem) {
  TempFolder empty;
  TqorIShellFolderFileList list(FolderOf(empty.path()).get());
  TqorSearchRec rec;
  EXPECT_EQ(list.FindFirst(rec), 0u);
  EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(NamespaceLists, ChildIdsAreFreedWhenTheWalkMovesOnAndAtFindClose) {
  for (int i = 0; i < 60; ++i) WriteFileBytes(dir / (L"many" + std::to_wstring(i) + L".txt"), "m");
  FreeSpy spy;
  ASSERT_EQ(CoRegisterMallocSpy(&spy), S_OK);
  ScopeGuard revoke([] { CoRevokeMallocSpy(); });
  auto restart = [] {
    Outstanding.clear();
    HandedOut = Freed = 0;
  };
  restart();
  ComPtr<WrappedFolder> folder = Wrapped(false);
  TqorIShellFolderFileList list(folder.get());
  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  ASSERT_NE(h, 0u);
  int items = 1;
  while (list.FindNext(h, rec)) {
    ++items;
    EXPECT_EQ(Outstanding.size(), 1u) << "only the current child is held, at item " << items;
  }
  EXPECT_EQ(Outstanding.size(), 0u) << "the end frees the last child";
  list.FindClose(h);
  EXPECT_EQ(items, 64);
  EXPECT_EQ(HandedOut, 64);
  EXPECT_EQ(Freed, 64);

  // A walk closed early frees its current child at FindClose.
  restart();
  h = list.FindFirst(rec);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(list.FindNext(h, rec));
  EXPECT_EQ(Freed, 1);
  list.FindClose(h);
  EXPECT_EQ(Freed, 2);
  EXPECT_EQ(HandedOut, 2);
  EXPECT_TRUE(Outstanding.empty());
}

TEST_F(NamespaceLists, FolderDetailsGiveSizeAndTimesWithoutATimeZoneShift) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  ASSERT_TRUE(GetFileAttributesExW((dir / L"plain.txt").c_str(), GetFileExInfoStandard, &d));
  ComPtr<WrappedFolder> folder = Wrapped(true);
  TqorIShellFolderFileList list(folder.get());
  bool seen = false;
  WalkEveryItem(list, [&](TqorSearchHandle, const TqorSearchRec& rec) {
    if (Lower(rec.FileName) != Lower(dir / L"plain.txt")) return;
    seen = true;
    EXPECT_EQ(rec.FileSize, 5);
    EXPECT_TRUE(SameTime(rec.CreationTime, d.ftCreationTime)) << "VT_FILETIME as it is";
    // VT_DATE keeps milliseconds at best: compare to the second.
    SYSTEMTIME want, got;
    FileTimeToSystemTime(&d.ftLastWriteTime, &want);
    FileTimeToSystemTime(&rec.LastWriteTime, &got);
    EXPECT_EQ(got.wYear, want.wYear);
    EXPECT_EQ(got.wDay, want.wDay);
    EXPECT_EQ(got.wHour, want.wHour) << "no time-zone shift";
    EXPECT_EQ(got.wMinute, want.wMinute);
    EXPECT_EQ(got.wSecond, want.wSecond);
    EXPECT_TRUE(IsZero(rec.LastAccessTime)) << "a failing read leaves its field 0";
  });
  EXPECT_TRUE(seen);
}

TEST_F(NamespaceLists, AShellItemsChildrenAreListedWithTheirPropertiesAndStreams) {
  ComPtr<IShellItem> item = ComPtr<IShellItem>::Attach(
      new WrappedItem(ItemOf(dir.path()).get(), WrappedItem::Item2::FromFile));
  TqorIEnumShellItemsFileList list(item.get());
  EXPECT_EQ(LowerSorted(list.CreateFileList()), Paths({L"plain.txt", L"hidden.txt", L"superhidden.txt", L"sub"}));
  WIN32_FILE_ATTRIBUTE_DATA d;
  ASSERT_TRUE(GetFileAttributesExW((dir / L"plain.txt").c_str(), GetFileExInfoStandard, &d));
  int seen = 0;
  WalkEveryItem(list, [&](TqorSearchHandle h, const TqorSearchRec& rec) {
    const std::wstring name = Lower(rec.FileName);
    EXPECT_NE(rec.ShellAttr & fsaFileSystem, 0u);
    if (name == Lower(dir / L"plain.txt")) {
      ++seen;
      EXPECT_EQ(rec.FileSize, 5);
      EXPECT_TRUE(SameTime(rec.LastWriteTime, d.ftLastWriteTime));
      EXPECT_TRUE(SameTime(rec.CreationTime, d.ftCreationTime));
      EXPECT_TRUE(IsZero(rec.LastAccessTime)) << "a failing read leaves its field 0";
      std::unique_ptr<TStream> stream = list.CreateFileStream(h, rec, STGM_READ, false);
      ASSERT_TRUE(stream);
      char buffer[8] = {};
      EXPECT_EQ(stream->Read(buffer, 8), 5);
      EXPECT_STREQ(buffer, "plain");
    }
    if (name == Lower(dir / L"sub")) {
      ++seen;
      EXPECT_NE(rec.Attr & FILE_ATTRIBUTE_DIRECTORY, 0u);
      EXPECT_EQ(rec.FileSize, 0) << "a folder's size read fails and stays 0";
      std::unique_ptr<TqorShellFileList> sub = list.CreateFolderFileList(h, rec);
      ASSERT_TRUE(sub);
      EXPECT_EQ(LowerSorted(sub->CreateFileList()), Paths({L"sub\\deep.txt"}));
    }
  }, AfterTheEnd::ExpectOutOfFileList);
  EXPECT_EQ(seen, 2);
}

TEST_F(NamespaceLists, AnItemWithoutIShellItem2StillGivesNameAndAttributes) {
  ComPtr<IShellItem> item = ComPtr<IShellItem>::Attach(
      new WrappedItem(ItemOf(dir.path()).get(), WrappedItem::Item2::Refused));
  TqorIEnumShellItemsFileList list(item.get());
  const int seen = WalkEveryItem(list, [&](TqorSearchHandle, const TqorSearchRec& rec) {
    EXPECT_FALSE(rec.FileName.empty());
    EXPECT_NE(rec.ShellAttr & fsaFileSystem, 0u);
    EXPECT_EQ(rec.FileSize, 0);
    EXPECT_TRUE(IsZero(rec.CreationTime) && IsZero(rec.LastWriteTime) && IsZero(rec.LastAccessTime));
  });
  EXPECT_EQ(seen, 4);
}

TEST_F(NamespaceLists, AnItemWithoutChildrenHandlerRaisesItsError) {
  // Wine's own shell items have no BHID_EnumItems handler.
  TqorIEnumShellItemsFileList list(ItemOf(dir.path()).get());
  TqorSearchRec rec;
  try {
    TqorSearchHandle h = list.FindFirst(rec);
    // Where the shell has the handler, the list works as over the wrapped item.
    if (h) list.FindClose(h);
    EXPECT_NE(h, 0u);
  } catch (const OleSysError& e) {
    EXPECT_EQ(e.code(), MK_E_NOOBJECT) << std::hex << e.code();
  }
}

TEST_F(NamespaceLists, AShellItemArrayGivesItsItemsWithCountedHandles) {
  std::vector<ComPtr<IShellItem>> items;
  for (const wchar_t* n : {L"plain.txt", L"sub"})
    items.push_back(ComPtr<IShellItem>::Attach(new WrappedItem(ItemOf(dir / n).get(), WrappedItem::Item2::FromFile)));
  ComPtr<IShellItemArray> array = ComPtr<IShellItemArray>::Attach(new ItemArray(items));
  TqorDataObjectShellItemArrayFileList list(array.get());
  EXPECT_EQ(list.DataObject(), nullptr);
  bool realFiles = false;
  EXPECT_EQ(LowerSorted(list.CreateFileList(realFiles)), Paths({L"plain.txt", L"sub"}));
  EXPECT_TRUE(realFiles);
  TqorSearchRec rec;
  TqorSearchHandle h = list.FindFirst(rec);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(rec.FileSize, 5);
  std::unique_ptr<TStream> stream = list.CreateFileStream(h, rec, STGM_READ, false);
  ASSERT_TRUE(stream);
  char buffer[8] = {};
  EXPECT_EQ(stream->Read(buffer, 8), 5);
  ASSERT_TRUE(list.FindNext(h, rec));
  std::unique_ptr<TqorShellFileList> sub = list.CreateFolderFileList(h, rec);
  ASSERT_TRUE(sub);
  EXPECT_EQ(LowerSorted(sub->CreateFileList()), Paths({L"sub\\deep.txt"}));
  EXPECT_FALSE(list.FindNext(h, rec));
  ExpectOutOfFileList(list, h, rec);
  list.FindClose(h);
}

TEST_F(NamespaceLists, AVirtualChildMakesTheListNotRealFilesOnly) {
  // The desktop's children include virtual folders (no file system) on Windows and Wine alike.
  ComPtr<IShellFolder> desktop;
  ASSERT_EQ(SHGetDesktopFolder(desktop.put()), S_OK);
  TqorIShellFolderFileList list(desktop.get());
  bool anyVirtual = false;
  WalkEveryItem(list, [&](TqorSearchHandle, const TqorSearchRec& rec) {
    if (rec.Attr & FILE_ATTRIBUTE_VIRTUAL) {
      anyVirtual = true;
      EXPECT_EQ(rec.ShellAttr & fsaFileSystem, 0u) << Narrow(rec.FileName);
    }
  });
  ASSERT_TRUE(anyVirtual) << "the desktop lists no virtual item here";
  bool realFiles = true;
  list.CreateFileList(realFiles);
  EXPECT_FALSE(realFiles);
}
