// File lists: one way to walk a set of files, whatever the set came from (a directory, a data object in
// one of the shell's file formats, a shell folder, a shell item). Every kind is walked with the same
// FindFirst / FindNext / FindClose triple, fills the same search record, and can open the current item
// as a byte stream or the current folder as a new file list.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Handles.h"
#include "Streams.h"
#include "qorShellBaseExtension.h"

namespace qor {

// A set of shell attributes: element n is bit n, which has the value of the shell's SFGAO flag 2^n.
using TqorFileShellAttributes = uint32_t;
constexpr TqorFileShellAttributes fsaCanCopy = 1u << 0;
constexpr TqorFileShellAttributes fsaCanMove = 1u << 1;
constexpr TqorFileShellAttributes fsaCanLink = 1u << 2;
constexpr TqorFileShellAttributes fsaStorage = 1u << 3;
constexpr TqorFileShellAttributes fsaCanRename = 1u << 4;
constexpr TqorFileShellAttributes fsaCanDelete = 1u << 5;
constexpr TqorFileShellAttributes fsaHasPropSheet = 1u << 6;
constexpr TqorFileShellAttributes fsaReserved1 = 1u << 7;
constexpr TqorFileShellAttributes fsaDropTarget = 1u << 8;
constexpr TqorFileShellAttributes fsaReserved2 = 1u << 9;
constexpr TqorFileShellAttributes fsaReserved3 = 1u << 10;
constexpr TqorFileShellAttributes fsaReserved4 = 1u << 11;
constexpr TqorFileShellAttributes fsaSystem = 1u << 12;
constexpr TqorFileShellAttributes fsaEncrypted = 1u << 13;
constexpr TqorFileShellAttributes fsaIsSlow = 1u << 14;
constexpr TqorFileShellAttributes fsaGhosted = 1u << 15;
constexpr TqorFileShellAttributes fsaLink = 1u << 16;
constexpr TqorFileShellAttributes fsaShare = 1u << 17;
constexpr TqorFileShellAttributes fsaReadOnly = 1u << 18;
constexpr TqorFileShellAttributes fsaHidden = 1u << 19;
constexpr TqorFileShellAttributes fsaNonEnumerated = 1u << 20;
constexpr TqorFileShellAttributes fsaNewContent = 1u << 21;
constexpr TqorFileShellAttributes fsaStream = 1u << 22;
constexpr TqorFileShellAttributes fsaStorageAncestor = 1u << 23;
constexpr TqorFileShellAttributes fsaValidate = 1u << 24;
constexpr TqorFileShellAttributes fsaRemovable = 1u << 25;
constexpr TqorFileShellAttributes fsaCompressed = 1u << 26;
constexpr TqorFileShellAttributes fsaBrowsable = 1u << 27;
constexpr TqorFileShellAttributes fsaFileSysAncestor = 1u << 28;
constexpr TqorFileShellAttributes fsaFolder = 1u << 29;
constexpr TqorFileShellAttributes fsaFileSystem = 1u << 30;
constexpr TqorFileShellAttributes fsaHasSubfolder = 1u << 31;

// The attributes asked of the shell when a record is filled from a shell object: system, encrypted,
// read-only, hidden, compressed, file-system ancestor, folder, file system.
constexpr TqorFileShellAttributes ShellAttributeRequestMask = 0x740C3000;

// FILE_ATTRIBUTE_* flags as shell attributes and back (pure; see FileLists.cpp for the mapping).
TqorFileShellAttributes FileAttributesToShellAttributes(DWORD AAttr) noexcept;
DWORD ShellAttributesToFileAttributes(TqorFileShellAttributes AShellAttr) noexcept;

// One item of a file list.
struct TqorSearchRec {
  std::wstring FileName;  // full path for file-system items, otherwise the item's display name
  DWORD Attr = 0;         // FILE_ATTRIBUTE_* flags
  TqorFileShellAttributes ShellAttr = 0;
  FILETIME CreationTime{};
  FILETIME LastAccessTime{};
  FILETIME LastWriteTime{};
  int64_t FileSize = 0;
};
// Empties FileName and zeroes every other field.
void ClearSearchRec(TqorSearchRec& ASearchRec) noexcept;

// Opaque to callers; 0 means that there is no item.
using TqorSearchHandle = uintptr_t;

// The abstract list, also an empty list of its own. Plain object, owned by its creator. A handle lives
// from FindFirst to FindClose and the list must outlive it; streams and sub-lists made from a handle
// belong to the caller and are independent of it. Once FindNext has answered false, CreateFileStream
// and CreateFolderFileList raise Error "Out of file list" on every kind.
class TqorShellFileList {
 public:
  TqorShellFileList() = default;
  TqorShellFileList(const TqorShellFileList&) = delete;
  TqorShellFileList& operator=(const TqorShellFileList&) = delete;
  virtual ~TqorShellFileList() = default;

  // Clears the record and fills it with the first item; 0 when there is none. A FindFirst that raises
  // has released what it allocated and cleared the record.
  virtual TqorSearchHandle FindFirst(TqorSearchRec& ASearchRec);
  // Clears the record; true and the record filled when another item exists.
  virtual bool FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec);
  // Releases the handle; called only for a non-zero handle.
  virtual void FindClose(TqorSearchHandle ASearchHandle);
  // The current item as a stream (null from the plain list), and its contents as a list (null from
  // the plain list). AOpenMode is the STGM-style open mode of the streams.
  virtual std::unique_ptr<TStream> CreateFileStream(TqorSearchHandle ASearchHandle, const TqorSearchRec& ASearchRec,
                                                    DWORD AOpenMode, bool ASeekSupport);
  virtual std::unique_ptr<TqorShellFileList> CreateFolderFileList(TqorSearchHandle ASearchHandle,
                                                                  const TqorSearchRec& ASearchRec);

  // Every item's FileName in walk order; ARealFilesOnly is false when any item is FILE_ATTRIBUTE_VIRTUAL.
  // What the walk raises passes on, and the handle is closed.
  virtual std::vector<std::wstring> CreateFileList(bool& ARealFilesOnly);
  std::vector<std::wstring> CreateFileList();
  // True exactly when the list has one item and it is no directory.
  virtual bool IsSingleFile();
  // The number of items a full walk yields.
  int32_t GetCount();

 protected:
  // Each starts with ClearSearchRec.
  static void FillFromFindData(TqorSearchRec& ASearchRec, const std::wstring& APrefix, const WIN32_FIND_DATAW& AData);
  static void FillFromFile(TqorSearchRec& ASearchRec, const std::wstring& AFileName);
  static void FillFromFileDescriptorW(TqorSearchRec& ASearchRec, const FILEDESCRIPTORW& ADescriptor);
  static void FillFromFileDescriptorA(TqorSearchRec& ASearchRec, const FILEDESCRIPTORA& ADescriptor);
  // Fill from the shell's answers: name, attributes (ShellAttributeRequestMask), size and times.
  static void FillFromFolderItem(TqorSearchRec& ASearchRec, IShellFolder* AShellFolder, PCUITEMID_CHILD AChild);
  static void FillFromShellItem(TqorSearchRec& ASearchRec, IShellItem* AShellItem);
  static void FillFromIDList(TqorSearchRec& ASearchRec, PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild);
};

// A property value as a FILETIME: VT_DATE converted as the same calendar time (no time-zone shift; a
// value that cannot be converted gives 0), VT_FILETIME as is, any other type 0.
FILETIME PropVariantToFileTime(const PROPVARIANT& AValue) noexcept;

// Every kind overrides the walk and the two openings.
#define QOR_FILE_LIST_OPERATIONS                                                                           \
  TqorSearchHandle FindFirst(TqorSearchRec& ASearchRec) override;                                          \
  bool FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec) override;                       \
  void FindClose(TqorSearchHandle ASearchHandle) override;                                                 \
  std::unique_ptr<TStream> CreateFileStream(TqorSearchHandle ASearchHandle, const TqorSearchRec& ASearchRec, \
                                            DWORD AOpenMode, bool ASeekSupport) override;                  \
  std::unique_ptr<TqorShellFileList> CreateFolderFileList(TqorSearchHandle ASearchHandle,                  \
                                                          const TqorSearchRec& ASearchRec) override;

// The entries of a directory on disk, "." and ".." left out. FindFirst raises OSError when the folder
// cannot be listed.
class TqorDirectoryFileList : public TqorShellFileList {
 public:
  // A trailing "\" is added to a non-empty ADir that lacks one.
  explicit TqorDirectoryFileList(const std::wstring& ADir);
  // A TqorFileStream over FileName (ASeekSupport not used); a directory list of FileName.
  QOR_FILE_LIST_OPERATIONS
  const std::wstring& Dir() const noexcept { return FDir; }

 private:
  std::wstring FDir;
};

// The children of a shell folder, hidden and super-hidden ones included. The handle keeps the
// enumerator and the current child id, which is freed when the walk moves on and at FindClose.
class TqorIShellFolderFileList : public TqorShellFileList {
 public:
  explicit TqorIShellFolderFileList(IShellFolder* AShellFolder);
  // The child folder AChild of AShellFolder; raises OleSysError when it cannot be bound.
  TqorIShellFolderFileList(IShellFolder* AShellFolder, PCUITEMID_CHILD AChild);
  // The child AChild of the folder AParent (an absolute id list, bound through the desktop folder).
  TqorIShellFolderFileList(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild);
  // Always for reading, with seek support (AOpenMode, ASeekSupport not used).
  QOR_FILE_LIST_OPERATIONS
  IShellFolder* ShellFolder() const noexcept { return FShellFolder.get(); }

 private:
  ComPtr<IShellFolder> FShellFolder;
};

// The children of a shell item, through its BHID_EnumItems handler.
class TqorIEnumShellItemsFileList : public TqorShellFileList {
 public:
  explicit TqorIEnumShellItemsFileList(IShellItem* AShellItem);
  QOR_FILE_LIST_OPERATIONS

 private:
  ComPtr<IShellItem> FShellItem;
};

// The base of the lists over a data object, which hold one reference on it for their whole life. Every
// read is a GetData for {format, no target device, DVASPECT_CONTENT, lindex, tymed} (lindex -1 and
// TYMED_HGLOBAL unless a kind says otherwise); nothing of the data is kept between calls, so each item
// visited costs one GetData. A failing GetData raises OleSysError; a medium of the wrong kind or without
// a handle raises Error "Invalid medium"; a block that cannot be locked raises OSError; a block whose
// content does not fit its size raises Error (see the validators below). The lock and the medium are
// released on every path.
class TqorShellDataObjectFileList : public TqorShellFileList {
 public:
  explicit TqorShellDataObjectFileList(IDataObject* ADataObject);
  IDataObject* DataObject() const noexcept { return FDataObject.get(); }

  // Whether the data object carries this kind's format; the base answers false.
  static bool CanCreate(IDataObject* ADataObject);
  // True exactly when QueryGetData for {AFormat, no target device, AAspect, AIndex, ATymed} is S_OK.
  static bool ContainFormat(IDataObject* ADataObject, CLIPFORMAT AFormat, DWORD ATymed, DWORD AAspect,
                            LONG AIndex);
  // Appends the kind T to FileListClasses.
  template <typename T>
  static void Register(const wchar_t* AName) {
    RegisterFileListClass({AName, &T::CanCreate, &CreateKind<T>});
  }

 protected:
  // A list with no data object (the shell item array kind over an array given as it is).
  TqorShellDataObjectFileList() = default;
  template <typename T>
  static std::unique_ptr<TqorShellFileList> CreateKind(IDataObject* ADataObject) {
    return std::make_unique<T>(ADataObject);
  }

  ComPtr<IDataObject> FDataObject;
};

// One item: the path in CF_FILENAMEW, or in CF_FILENAME (ANSI) when anything in the wide attempt fails.
class TqorDataObjectCF_FILENAMEFileList : public TqorShellDataObjectFileList {
 public:
  using TqorShellDataObjectFileList::TqorShellDataObjectFileList;
  static bool CanCreate(IDataObject* ADataObject);
  QOR_FILE_LIST_OPERATIONS
};

// The descriptors of a FILEGROUPDESCRIPTORW (or the ANSI form when anything in the wide attempt fails);
// every item is FILE_ATTRIBUTE_VIRTUAL. Streams come from CF_FILECONTENTS with lindex = the item's index;
// a folder list is always empty.
class TqorDataObjectCF_FILEDESCRIPTORFileList : public TqorShellDataObjectFileList {
 public:
  using TqorShellDataObjectFileList::TqorShellDataObjectFileList;
  static bool CanCreate(IDataObject* ADataObject);
  QOR_FILE_LIST_OPERATIONS
};

// The paths of a CF_HDROP drop list.
class TqorDataObjectCF_HDROPFileList : public TqorShellDataObjectFileList {
 public:
  using TqorShellDataObjectFileList::TqorShellDataObjectFileList;
  static bool CanCreate(IDataObject* ADataObject);
  QOR_FILE_LIST_OPERATIONS
};

// The items of a "Shell IDList Array" (CIDA). Each item is reached through its own parent folder
// (ILCombine + SHBindToParent); when that fails, through the desktop folder and the CIDA's parent.
class TqorDataObjectCF_IDLISTFileList : public TqorShellDataObjectFileList {
 public:
  using TqorShellDataObjectFileList::TqorShellDataObjectFileList;
  // The format carries a CIDA and a GetData for it succeeds.
  static bool CanCreate(IDataObject* ADataObject);
  virtual UINT GetIDListFormat() const;
  // Always for reading, with seek support (AOpenMode, ASeekSupport not used).
  QOR_FILE_LIST_OPERATIONS
};

// The items of a shell item array, built from a data object by the shell or given as it is.
class TqorDataObjectShellItemArrayFileList : public TqorShellDataObjectFileList {
 public:
  // Raises OleSysError when the shell cannot build an item array from the data object.
  explicit TqorDataObjectShellItemArrayFileList(IDataObject* ADataObject);
  // Keeps the array and no data object.
  explicit TqorDataObjectShellItemArrayFileList(IShellItemArray* AShellItemArray);
  static bool CanCreate(IDataObject* ADataObject);
  // Always for reading, with seek support (AOpenMode, ASeekSupport not used).
  QOR_FILE_LIST_OPERATIONS

 private:
  ComPtr<IShellItemArray> FShellItemArray;
};

// Appends the five data-object kinds to FileListClasses, in the order FILENAME, FILEDESCRIPTOR, HDROP,
// IDLIST, shell item array. Run by the library's start-up.
void RegisterDataObjectFileListClasses();

// Validators of the media a data object delivers. The medium comes from another process: each checks
// every count, offset and string against the size of the block before anything is read, raises Error
// with a text naming what does not fit, and never reads outside [AData, AData + ASize).

// The NUL-terminated path of a CF_FILENAMEW (AWide) or CF_FILENAME block; raises when no NUL lies inside.
std::wstring ReadFileNameBlock(const void* AData, size_t ASize, bool AWide);
// The item count of a FILEGROUPDESCRIPTORW (AWide) or FILEGROUPDESCRIPTORA block whose descriptors all
// fit (592 or 332 bytes each).
uint32_t CheckFileGroupDescriptor(const void* AData, size_t ASize, bool AWide);
// The cidl of a CIDA whose offsets lie inside the block, each at an item id list that ends inside it.
uint32_t CheckIDListArray(const void* AData, size_t ASize);
// The number of paths of a DROPFILES block whose header fits and whose list ends in its double NUL
// inside the block (wide or ANSI, as its fWide says).
uint32_t CheckDropFiles(const void* AData, size_t ASize);

namespace filelist_detail {

// The handle block of the kinds that count their items. Finished is set when FindNext has answered
// false, so that no stream or sub-list is made for the last item again.
struct CountedHandle {
  int32_t Count = 0;
  int32_t Index = 0;
  bool Finished = false;
};
CountedHandle& Counted(TqorSearchHandle ASearchHandle) noexcept;
// Moves to the next index; false (Index back on the last item, Finished set) at the end.
bool AdvanceCounted(CountedHandle& AHandle) noexcept;
// Raises Error "Out of file list" when the walk has ended or Index is not below Count.
void CheckInFileList(const CountedHandle& AHandle);
[[noreturn]] void RaiseOutOfFileList();
TqorSearchHandle NewCountedHandle(int32_t ACount);
void DeleteCountedHandle(TqorSearchHandle ASearchHandle) noexcept;

// One GetData of a data object and its medium: checked for the requested kind and a handle, locked
// when it is a global block, unlocked and released when it goes.
class DataObjectMedium {
 public:
  DataObjectMedium(IDataObject* ADataObject, UINT AFormat, LONG AIndex = -1, DWORD ATymed = TYMED_HGLOBAL);
  ~DataObjectMedium();
  DataObjectMedium(const DataObjectMedium&) = delete;
  DataObjectMedium& operator=(const DataObjectMedium&) = delete;

  const void* Data() const noexcept { return data_; }
  size_t Size() const noexcept { return size_; }
  HGLOBAL Global() const noexcept { return medium_.hGlobal; }
  IStream* Stream() const noexcept { return medium_.pstm; }

 private:
  void Release() noexcept;
  STGMEDIUM medium_{};
  bool held_ = false;
  void* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace filelist_detail

}  // namespace qor

#undef QOR_FILE_LIST_OPERATIONS
