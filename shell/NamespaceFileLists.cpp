// The lists whose items come from the shell namespace: a shell folder's children, a shell item's
// children, the items of a "Shell IDList Array" and of a shell item array, and the record helpers that
// fill a search record from the shell's answers.
#include "FileLists.h"

#include <oleauto.h>
#include <propidl.h>

#include <cstring>

#include "Error.h"

namespace qor {

using namespace filelist_detail;

namespace {

// FMTID_Storage properties.
constexpr GUID kFmtidStorage = {0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}};
constexpr PROPERTYKEY kPKeySize = {kFmtidStorage, 12};
constexpr PROPERTYKEY kPKeyDateModified = {kFmtidStorage, 14};
constexpr PROPERTYKEY kPKeyDateCreated = {kFmtidStorage, 15};
constexpr PROPERTYKEY kPKeyDateAccessed = {kFmtidStorage, 16};
constexpr GUID kBhidEnumItems = {0x94F60519, 0x2850, 0x4924, {0xAA, 0x5A, 0xD1, 0x5E, 0x84, 0x86, 0x80, 0x39}};
constexpr GUID kIidIShellFolder2 = {0x93F2F68C, 0x1D1B, 0x11D3, {0xA3, 0x0E, 0x00, 0xC0, 0x4F, 0x79, 0xAB, 0xD1}};
constexpr GUID kIidIShellItem2 = {0x7E9FB0D3, 0x919F, 0x4307, {0xAB, 0x2E, 0x9B, 0x18, 0x60, 0x31, 0x0C, 0x93}};
constexpr GUID kIidIEnumShellItems = {0x70629033, 0xE363, 0x4A28, {0xA5, 0x67, 0x0D, 0xB7, 0x80, 0x06, 0xE6, 0xD7}};
constexpr GUID kIidIShellItemArray = {0xB63EA76D, 0x1F85, 0x456F, {0xA1, 0x9C, 0x48, 0x15, 0x9E, 0xFA, 0x85, 0x8B}};

// Folders, files, hidden and super-hidden items.
constexpr SHCONTF kEnumFlags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN | 0x10000;
static_assert(kEnumFlags == 0x100E0);

// The folder of an absolute id list, bound through the desktop folder. The empty list is the desktop
// itself, which the desktop cannot bind to.
ComPtr<IShellFolder> BindToFolder(PCIDLIST_ABSOLUTE AParent) {
  ComPtr<IShellFolder> desktop;
  OleCheck(::SHGetDesktopFolder(desktop.put()));
  if (!AParent || AParent->mkid.cb == 0) return desktop;
  ComPtr<IShellFolder> folder;
  OleCheck(desktop->BindToObject(AParent, nullptr, IID_IShellFolder, folder.put_void()));
  return folder;
}

ComPtr<IShellFolder> BindToChildFolder(IShellFolder* AShellFolder, PCUITEMID_CHILD AChild) {
  CheckPointer(AShellFolder, L"AShellFolder");
  ComPtr<IShellFolder> folder;
  OleCheck(AShellFolder->BindToObject(AChild, nullptr, IID_IShellFolder, folder.put_void()));
  return folder;
}

// A detail of a child as its type tag and its 8 value bytes (the 64-bit value, a VT_DATE or a
// VT_FILETIME, which VARIANT and PROPVARIANT keep alike); false when the folder cannot give it.
bool ReadDetail(IShellFolder2* AFolder, PCUITEMID_CHILD AChild, const PROPERTYKEY& AKey, PROPVARIANT& AValue) {
  VARIANT value;
  ::VariantInit(&value);
  ::PropVariantInit(&AValue);
  if (FAILED(AFolder->GetDetailsEx(AChild, reinterpret_cast<const SHCOLUMNID*>(&AKey), &value))) return false;
  AValue.vt = value.vt;
  static_assert(sizeof AValue.hVal == sizeof value.llVal);
  std::memcpy(&AValue.hVal, &value.llVal, sizeof AValue.hVal);
  ::VariantClear(&value);
  return true;
}

struct ShellFolderHandle {
  ComPtr<IEnumIDList> enumerator;
  TaskMem child;  // the current child id, freed when the walk moves on
  bool Finished = false;
};
ShellFolderHandle& FolderHandle(TqorSearchHandle h) noexcept { return *reinterpret_cast<ShellFolderHandle*>(h); }
PCUITEMID_CHILD CurrentChild(const ShellFolderHandle& h) noexcept {
  return static_cast<PCUITEMID_CHILD>(h.child.get());
}

struct ShellItemsHandle {
  ComPtr<IEnumShellItems> enumerator;
  ComPtr<IShellItem> item;
  bool Finished = false;
};
ShellItemsHandle& ItemsHandle(TqorSearchHandle h) noexcept { return *reinterpret_cast<ShellItemsHandle*>(h); }

}  // namespace

FILETIME PropVariantToFileTime(const PROPVARIANT& AValue) noexcept {
  FILETIME result{};
  if (AValue.vt == VT_FILETIME) return AValue.filetime;
  if (AValue.vt == VT_DATE) {
    // The calendar time as it stands: no conversion between local time and UTC.
    SYSTEMTIME st;
    if (!::VariantTimeToSystemTime(AValue.date, &st) || !::SystemTimeToFileTime(&st, &result)) return FILETIME{};
  }
  return result;
}

// Record helpers.

void TqorShellFileList::FillFromFolderItem(TqorSearchRec& r, IShellFolder* AShellFolder, PCUITEMID_CHILD AChild) {
  ClearSearchRec(r);
  r.FileName = GetFolderItemName(AShellFolder, AChild, false);
  SFGAOF attributes = ShellAttributeRequestMask;
  OleCheck(AShellFolder->GetAttributesOf(1, &AChild, &attributes));
  r.ShellAttr = static_cast<TqorFileShellAttributes>(attributes);
  r.Attr = ShellAttributesToFileAttributes(r.ShellAttr);
  ComPtr<IShellFolder2> folder2;
  if (FAILED(AShellFolder->QueryInterface(kIidIShellFolder2, folder2.put_void())) || !folder2) return;
  PROPVARIANT value;
  if (ReadDetail(folder2.get(), AChild, kPKeySize, value)) r.FileSize = value.hVal.QuadPart;
  if (ReadDetail(folder2.get(), AChild, kPKeyDateCreated, value)) r.CreationTime = PropVariantToFileTime(value);
  if (ReadDetail(folder2.get(), AChild, kPKeyDateModified, value)) r.LastWriteTime = PropVariantToFileTime(value);
  if (ReadDetail(folder2.get(), AChild, kPKeyDateAccessed, value)) r.LastAccessTime = PropVariantToFileTime(value);
}

void TqorShellFileList::FillFromShellItem(TqorSearchRec& r, IShellItem* AShellItem) {
  ClearSearchRec(r);
  r.FileName = GetShellItemName(AShellItem, false);
  SFGAOF attributes = 0;
  OleCheck(AShellItem->GetAttributes(ShellAttributeRequestMask, &attributes));
  r.ShellAttr = static_cast<TqorFileShellAttributes>(attributes);
  r.Attr = ShellAttributesToFileAttributes(r.ShellAttr);
  ComPtr<IShellItem2> item2;
  if (FAILED(AShellItem->QueryInterface(kIidIShellItem2, item2.put_void())) || !item2) return;
  // A property the item cannot give leaves its field 0, whatever the failing call wrote.
  auto time = [&](const PROPERTYKEY& key, FILETIME& field) {
    FILETIME value{};
    if (SUCCEEDED(item2->GetFileTime(key, &value))) field = value;
  };
  time(kPKeyDateCreated, r.CreationTime);
  time(kPKeyDateAccessed, r.LastAccessTime);
  time(kPKeyDateModified, r.LastWriteTime);
  ULONGLONG size = 0;
  if (SUCCEEDED(item2->GetUInt64(kPKeySize, &size))) r.FileSize = static_cast<int64_t>(size);
}

void TqorShellFileList::FillFromIDList(TqorSearchRec& r, PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild) {
  ClearSearchRec(r);
  ComPtr<IShellFolder> folder = BindToFolder(AParent);
  FillFromFolderItem(r, folder.get(), AChild);
}

// Shell folder children.

TqorIShellFolderFileList::TqorIShellFolderFileList(IShellFolder* AShellFolder) : FShellFolder(AShellFolder) {
  CheckPointer(AShellFolder, L"AShellFolder");
}

TqorIShellFolderFileList::TqorIShellFolderFileList(IShellFolder* AShellFolder, PCUITEMID_CHILD AChild)
    : FShellFolder(BindToChildFolder(AShellFolder, AChild)) {}

TqorIShellFolderFileList::TqorIShellFolderFileList(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild)
    : FShellFolder(BindToChildFolder(BindToFolder(AParent).get(), AChild)) {}

TqorSearchHandle TqorIShellFolderFileList::FindFirst(TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  ComPtr<IEnumIDList> enumerator;
  OleCheck(FShellFolder->EnumObjects(nullptr, kEnumFlags, enumerator.put()));
  if (!enumerator) return 0;
  TaskMem child;
  ULONG fetched = 0;
  PITEMID_CHILD next = nullptr;
  const HRESULT hr = enumerator->Next(1, &next, &fetched);
  child.reset(next);
  OleCheck(hr);
  if (hr != S_OK || fetched != 1 || !next) return 0;
  auto block = std::make_unique<ShellFolderHandle>();
  try {
    FillFromFolderItem(ASearchRec, FShellFolder.get(), next);
  } catch (...) {
    ClearSearchRec(ASearchRec);
    throw;
  }
  block->enumerator = std::move(enumerator);
  block->child = std::move(child);
  return reinterpret_cast<TqorSearchHandle>(block.release());
}

bool TqorIShellFolderFileList::FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  ShellFolderHandle& h = FolderHandle(ASearchHandle);
  h.child.reset();
  if (h.Finished) return false;
  ULONG fetched = 0;
  PITEMID_CHILD next = nullptr;
  const HRESULT hr = h.enumerator->Next(1, &next, &fetched);
  h.child.reset(next);
  OleCheck(hr);
  if (hr != S_OK || fetched != 1 || !next) {
    h.child.reset();
    h.Finished = true;
    return false;
  }
  FillFromFolderItem(ASearchRec, FShellFolder.get(), next);
  return true;
}

void TqorIShellFolderFileList::FindClose(TqorSearchHandle ASearchHandle) { delete &FolderHandle(ASearchHandle); }

std::unique_ptr<TStream> TqorIShellFolderFileList::CreateFileStream(TqorSearchHandle ASearchHandle,
                                                                    const TqorSearchRec&, DWORD, bool) {
  const ShellFolderHandle& h = FolderHandle(ASearchHandle);
  if (h.Finished || !h.child) RaiseOutOfFileList();
  return CreateStreamOnFolderItem(FShellFolder.get(), CurrentChild(h), STGM_READ);
}

std::unique_ptr<TqorShellFileList> TqorIShellFolderFileList::CreateFolderFileList(TqorSearchHandle ASearchHandle,
                                                                                  const TqorSearchRec&) {
  const ShellFolderHandle& h = FolderHandle(ASearchHandle);
  if (h.Finished || !h.child) RaiseOutOfFileList();
  return std::make_unique<TqorIShellFolderFileList>(FShellFolder.get(), CurrentChild(h));
}

// Shell item children.

TqorIEnumShellItemsFileList::TqorIEnumShellItemsFileList(IShellItem* AShellItem) : FShellItem(AShellItem) {
  CheckPointer(AShellItem, L"AShellItem");
}

TqorSearchHandle TqorIEnumShellItemsFileList::FindFirst(TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  ComPtr<IEnumShellItems> enumerator;
  OleCheck(FShellItem->BindToHandler(nullptr, kBhidEnumItems, kIidIEnumShellItems, enumerator.put_void()));
  ComPtr<IShellItem> item;
  if (!enumerator || enumerator->Next(1, item.put(), nullptr) != S_OK || !item) return 0;
  try {
    FillFromShellItem(ASearchRec, item.get());
  } catch (...) {
    ClearSearchRec(ASearchRec);
    throw;
  }
  auto* block = new ShellItemsHandle{std::move(enumerator), std::move(item)};
  return reinterpret_cast<TqorSearchHandle>(block);
}

bool TqorIEnumShellItemsFileList::FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  ShellItemsHandle& h = ItemsHandle(ASearchHandle);
  h.item.reset();
  if (h.Finished || h.enumerator->Next(1, h.item.put(), nullptr) != S_OK || !h.item) {
    h.item.reset();
    h.Finished = true;
    return false;
  }
  FillFromShellItem(ASearchRec, h.item.get());
  return true;
}

void TqorIEnumShellItemsFileList::FindClose(TqorSearchHandle ASearchHandle) { delete &ItemsHandle(ASearchHandle); }

std::unique_ptr<TStream> TqorIEnumShellItemsFileList::CreateFileStream(TqorSearchHandle ASearchHandle,
                                                                       const TqorSearchRec&, DWORD, bool) {
  const ShellItemsHandle& h = ItemsHandle(ASearchHandle);
  if (h.Finished || !h.item) RaiseOutOfFileList();
  return CreateStreamOnShellItem(h.item.get(), STGM_READ);
}

std::unique_ptr<TqorShellFileList> TqorIEnumShellItemsFileList::CreateFolderFileList(TqorSearchHandle ASearchHandle,
                                                                                     const TqorSearchRec&) {
  const ShellItemsHandle& h = ItemsHandle(ASearchHandle);
  if (h.Finished || !h.item) RaiseOutOfFileList();
  return std::make_unique<TqorIEnumShellItemsFileList>(h.item.get());
}

// "Shell IDList Array".

namespace {

// What is done with one item of a CIDA: on the item's own parent folder and its last id (the fast
// way), or on the CIDA's parent and the child id (the slow way, through the desktop folder).
struct IDListAction {
  virtual void Fast(IShellFolder* AFolder, PCUITEMID_CHILD ALast) = 0;
  virtual void Slow(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild) = 0;
};

// Fetches the CIDA and, when AAction is given and the CIDA has item AIndex, runs it on that item the
// fast way, or the slow way when anything on the fast way raises. Gives the cidl.
uint32_t WithIDListItem(IDataObject* ADataObject, UINT AFormat, int32_t AIndex, IDListAction* AAction) {
  DataObjectMedium medium(ADataObject, AFormat);
  const uint32_t cidl = CheckIDListArray(medium.Data(), medium.Size());
  if (!AAction || cidl == 0) return cidl;
  if (AIndex < 0 || static_cast<uint32_t>(AIndex) >= cidl) RaiseOutOfFileList();
  const auto* base = static_cast<const unsigned char*>(medium.Data());
  UINT parentOffset, childOffset;
  std::memcpy(&parentOffset, base + offsetof(CIDA, aoffset), sizeof parentOffset);
  std::memcpy(&childOffset, base + offsetof(CIDA, aoffset) + sizeof(UINT) * (AIndex + 1), sizeof childOffset);
  auto parent = reinterpret_cast<PCIDLIST_ABSOLUTE>(base + parentOffset);
  auto child = reinterpret_cast<PCUITEMID_CHILD>(base + childOffset);
  try {
    TaskMem combined(DynILCombine(parent, child));
    if (!combined) RaiseLastOSError();
    ComPtr<IShellFolder> folder;
    PCUITEMID_CHILD last = nullptr;
    OleCheck(DynSHBindToParent(static_cast<PCIDLIST_ABSOLUTE>(combined.get()), IID_IShellFolder,
                               folder.put_void(), &last));
    if (!folder || !last) throw OleSysError(E_NOINTERFACE);
    AAction->Fast(folder.get(), last);
  } catch (const Error&) {
    AAction->Slow(parent, child);
  }
  return cidl;
}

// A list type only to reach the record helpers.
struct FillRecord : IDListAction, TqorShellFileList {
  explicit FillRecord(TqorSearchRec& ARec) : rec(ARec) {}
  void Fast(IShellFolder* AFolder, PCUITEMID_CHILD ALast) override { FillFromFolderItem(rec, AFolder, ALast); }
  void Slow(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild) override { FillFromIDList(rec, AParent, AChild); }
  TqorSearchRec& rec;
};

struct OpenStream : IDListAction {
  void Fast(IShellFolder* AFolder, PCUITEMID_CHILD ALast) override {
    result = CreateStreamOnFolderItem(AFolder, ALast, STGM_READ);
  }
  void Slow(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild) override {
    result = CreateStreamOnIDList(AParent, AChild, STGM_READ);
  }
  std::unique_ptr<TStream> result;
};

struct OpenFolder : IDListAction {
  void Fast(IShellFolder* AFolder, PCUITEMID_CHILD ALast) override {
    result = std::make_unique<TqorIShellFolderFileList>(AFolder, ALast);
  }
  void Slow(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild) override {
    result = std::make_unique<TqorIShellFolderFileList>(AParent, AChild);
  }
  std::unique_ptr<TqorShellFileList> result;
};

}  // namespace

bool TqorDataObjectCF_IDLISTFileList::CanCreate(IDataObject* ADataObject) {
  if (!ContainFormat(ADataObject, static_cast<CLIPFORMAT>(CF_IDLIST), TYMED_HGLOBAL, DVASPECT_CONTENT, -1))
    return false;
  try {
    DataObjectMedium medium(ADataObject, CF_IDLIST);
    return true;
  } catch (const Error&) {
    return false;
  }
}

UINT TqorDataObjectCF_IDLISTFileList::GetIDListFormat() const { return CF_IDLIST; }

TqorSearchHandle TqorDataObjectCF_IDLISTFileList::FindFirst(TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  FillRecord fill(ASearchRec);
  try {
    const uint32_t cidl = WithIDListItem(FDataObject.get(), GetIDListFormat(), 0, &fill);
    return cidl == 0 ? 0 : NewCountedHandle(static_cast<int32_t>(cidl));
  } catch (...) {
    ClearSearchRec(ASearchRec);
    throw;
  }
}

bool TqorDataObjectCF_IDLISTFileList::FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  CountedHandle& h = Counted(ASearchHandle);
  if (!AdvanceCounted(h)) return false;
  FillRecord fill(ASearchRec);
  WithIDListItem(FDataObject.get(), GetIDListFormat(), h.Index, &fill);
  return true;
}

void TqorDataObjectCF_IDLISTFileList::FindClose(TqorSearchHandle ASearchHandle) { DeleteCountedHandle(ASearchHandle); }

std::unique_ptr<TStream> TqorDataObjectCF_IDLISTFileList::CreateFileStream(TqorSearchHandle ASearchHandle,
                                                                           const TqorSearchRec&, DWORD, bool) {
  const CountedHandle& h = Counted(ASearchHandle);
  CheckInFileList(h);
  OpenStream open;
  WithIDListItem(FDataObject.get(), GetIDListFormat(), h.Index, &open);
  return std::move(open.result);
}

std::unique_ptr<TqorShellFileList> TqorDataObjectCF_IDLISTFileList::CreateFolderFileList(
    TqorSearchHandle ASearchHandle, const TqorSearchRec&) {
  const CountedHandle& h = Counted(ASearchHandle);
  CheckInFileList(h);
  OpenFolder open;
  WithIDListItem(FDataObject.get(), GetIDListFormat(), h.Index, &open);
  return std::move(open.result);
}

// Shell item array.

namespace {
ComPtr<IShellItemArray> ShellItemArrayOf(IDataObject* ADataObject) {
  CheckPointer(ADataObject, L"ADataObject");
  ComPtr<IShellItemArray> items;
  OleCheck(DynSHCreateShellItemArrayFromDataObject(ADataObject, kIidIShellItemArray, items.put_void()));
  if (!items) throw OleSysError(E_NOINTERFACE);
  return items;
}
}  // namespace

TqorDataObjectShellItemArrayFileList::TqorDataObjectShellItemArrayFileList(IDataObject* ADataObject)
    : TqorShellDataObjectFileList(ADataObject), FShellItemArray(ShellItemArrayOf(ADataObject)) {}

TqorDataObjectShellItemArrayFileList::TqorDataObjectShellItemArrayFileList(IShellItemArray* AShellItemArray)
    : FShellItemArray(AShellItemArray) {
  CheckPointer(AShellItemArray, L"AShellItemArray");
}

bool TqorDataObjectShellItemArrayFileList::CanCreate(IDataObject* ADataObject) {
  ComPtr<IShellItemArray> items;
  return DynSHCreateShellItemArrayFromDataObject(ADataObject, kIidIShellItemArray, items.put_void()) == S_OK;
}

namespace {
ComPtr<IShellItem> ItemAt(IShellItemArray* items, int32_t index) {
  ComPtr<IShellItem> item;
  OleCheck(items->GetItemAt(static_cast<DWORD>(index), item.put()));
  if (!item) throw OleSysError(E_POINTER);
  return item;
}
}  // namespace

TqorSearchHandle TqorDataObjectShellItemArrayFileList::FindFirst(TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  DWORD count = 0;
  OleCheck(FShellItemArray->GetCount(&count));
  if (count == 0) return 0;
  if (count > INT32_MAX) count = INT32_MAX;
  try {
    FillFromShellItem(ASearchRec, ItemAt(FShellItemArray.get(), 0).get());
  } catch (...) {
    ClearSearchRec(ASearchRec);
    throw;
  }
  return NewCountedHandle(static_cast<int32_t>(count));
}

bool TqorDataObjectShellItemArrayFileList::FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  CountedHandle& h = Counted(ASearchHandle);
  if (!AdvanceCounted(h)) return false;
  FillFromShellItem(ASearchRec, ItemAt(FShellItemArray.get(), h.Index).get());
  return true;
}

void TqorDataObjectShellItemArrayFileList::FindClose(TqorSearchHandle ASearchHandle) {
  DeleteCountedHandle(ASearchHandle);
}

std::unique_ptr<TStream> TqorDataObjectShellItemArrayFileList::CreateFileStream(TqorSearchHandle ASearchHandle,
                                                                                const TqorSearchRec&, DWORD, bool) {
  const CountedHandle& h = Counted(ASearchHandle);
  CheckInFileList(h);
  return CreateStreamOnShellItem(ItemAt(FShellItemArray.get(), h.Index).get(), STGM_READ);
}

std::unique_ptr<TqorShellFileList> TqorDataObjectShellItemArrayFileList::CreateFolderFileList(
    TqorSearchHandle ASearchHandle, const TqorSearchRec&) {
  const CountedHandle& h = Counted(ASearchHandle);
  CheckInFileList(h);
  return std::make_unique<TqorIEnumShellItemsFileList>(ItemAt(FShellItemArray.get(), h.Index).get());
}

}  // namespace qor
