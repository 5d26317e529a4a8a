// The lists over data objects: the frame every data-object kind reads through, the validators of the
// media they read, and the kinds that name files (CF_FILENAME, FILEGROUPDESCRIPTOR, CF_HDROP).
#include "FileLists.h"

#include <shellapi.h>

#include <cstring>

#include "Error.h"

namespace qor {

using namespace filelist_detail;

namespace {

// Reads a value of type T at offset in a block of size bytes, or raises what when it does not fit.
template <typename T>
T ReadAt(const void* data, size_t size, uint64_t offset, const wchar_t* what) {
  if (offset > size || size - offset < sizeof(T)) throw Error(what);
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(data) + offset, sizeof(T));
  return value;
}

// The length in characters of the NUL-terminated text at offset, or raises what when no NUL lies
// inside the block.
size_t TerminatedLength(const void* data, size_t size, uint64_t offset, size_t charSize, const wchar_t* what) {
  if (offset > size) throw Error(what);
  const unsigned char* p = static_cast<const unsigned char*>(data) + offset;
  const size_t chars = (size - offset) / charSize;
  for (size_t i = 0; i < chars; ++i) {
    const unsigned char* c = p + i * charSize;
    if (c[0] == 0 && (charSize == 1 || c[1] == 0)) return i;
  }
  throw Error(what);
}

constexpr const wchar_t* kBadFileName = L"Invalid file name: the text has no end inside the medium";
constexpr const wchar_t* kBadDescriptor = L"Invalid file group descriptor: the descriptors do not fit the medium";
constexpr const wchar_t* kBadIDList = L"Invalid item id list array: an offset or item id list lies outside the medium";
constexpr const wchar_t* kBadDropFiles = L"Invalid drop file list: the file list does not fit the medium";

constexpr size_t kFileGroupHeader = offsetof(FILEGROUPDESCRIPTORW, fgd);
static_assert(kFileGroupHeader == 4 && offsetof(FILEGROUPDESCRIPTORA, fgd) == 4);

}  // namespace

// Validators.

std::wstring ReadFileNameBlock(const void* AData, size_t ASize, bool AWide) {
  const size_t length = TerminatedLength(AData, ASize, 0, AWide ? 2 : 1, kBadFileName);
  if (AWide) {
    std::wstring text(length, L'\0');
    std::memcpy(text.data(), AData, length * sizeof(wchar_t));
    return text;
  }
  if (length == 0) return {};
  const char* s = static_cast<const char*>(AData);
  const int n = ::MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(length), nullptr, 0);
  std::wstring text(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, s, static_cast<int>(length), text.data(), n);
  return text;
}

uint32_t CheckFileGroupDescriptor(const void* AData, size_t ASize, bool AWide) {
  const uint32_t count = ReadAt<uint32_t>(AData, ASize, 0, kBadDescriptor);
  const uint64_t each = AWide ? sizeof(FILEDESCRIPTORW) : sizeof(FILEDESCRIPTORA);
  if (count > INT32_MAX || kFileGroupHeader + count * each > ASize) throw Error(kBadDescriptor);
  return count;
}

uint32_t CheckIDListArray(const void* AData, size_t ASize) {
  const uint32_t cidl = ReadAt<uint32_t>(AData, ASize, 0, kBadIDList);
  if (cidl > INT32_MAX || 4 + (uint64_t(cidl) + 1) * 4 > ASize) throw Error(kBadIDList);
  for (uint64_t k = 0; k <= cidl; ++k) {
    uint64_t pos = ReadAt<uint32_t>(AData, ASize, 4 + k * 4, kBadIDList);
    // Each item id is its 16-bit size (at least 2, the size field itself) and its data; a size of 0
    // ends the list.
    for (;;) {
      const uint16_t cb = ReadAt<uint16_t>(AData, ASize, pos, kBadIDList);
      if (cb == 0) break;
      if (cb < sizeof(uint16_t)) throw Error(kBadIDList);
      pos += cb;
    }
  }
  return cidl;
}

uint32_t CheckDropFiles(const void* AData, size_t ASize) {
  const DROPFILES header = ReadAt<DROPFILES>(AData, ASize, 0, kBadDropFiles);
  if (header.pFiles < sizeof(DROPFILES) || header.pFiles > ASize) throw Error(kBadDropFiles);
  const size_t charSize = header.fWide ? 2 : 1;
  uint32_t count = 0;
  uint64_t pos = header.pFiles;
  for (;;) {
    const size_t length = TerminatedLength(AData, ASize, pos, charSize, kBadDropFiles);
    if (length == 0) return count;
    if (++count > INT32_MAX) throw Error(kBadDropFiles);
    pos += (length + 1) * charSize;
  }
}

// The frame.

namespace filelist_detail {

DataObjectMedium::DataObjectMedium(IDataObject* ADataObject, UINT AFormat, LONG AIndex, DWORD ATymed) {
  FORMATETC format = {static_cast<CLIPFORMAT>(AFormat), nullptr, DVASPECT_CONTENT, AIndex, ATymed};
  OleCheck(ADataObject->GetData(&format, &medium_));
  held_ = true;
  const bool hasHandle = (ATymed & TYMED_HGLOBAL) ? medium_.hGlobal != nullptr : medium_.pstm != nullptr;
  if (!(medium_.tymed & ATymed) || !hasHandle) {
    Release();
    throw Error(L"Invalid medium");
  }
  if (medium_.tymed == TYMED_HGLOBAL) {
    ::SetLastError(0);
    data_ = ::GlobalLock(medium_.hGlobal);
    if (!data_) {
      const DWORD error = ::GetLastError();
      Release();
      RaiseOSError(error);
    }
    size_ = ::GlobalSize(medium_.hGlobal);
  }
}

DataObjectMedium::~DataObjectMedium() { Release(); }

void DataObjectMedium::Release() noexcept {
  if (data_) ::GlobalUnlock(medium_.hGlobal);
  data_ = nullptr;
  if (held_) ::ReleaseStgMedium(&medium_);
  held_ = false;
}

}  // namespace filelist_detail

TqorShellDataObjectFileList::TqorShellDataObjectFileList(IDataObject* ADataObject) : FDataObject(ADataObject) {
  CheckPointer(ADataObject, L"ADataObject");
}

bool TqorShellDataObjectFileList::CanCreate(IDataObject*) { return false; }

bool TqorShellDataObjectFileList::ContainFormat(IDataObject* ADataObject, CLIPFORMAT AFormat, DWORD ATymed,
                                                DWORD AAspect, LONG AIndex) {
  FORMATETC format = {AFormat, nullptr, AAspect, AIndex, ATymed};
  return ADataObject->QueryGetData(&format) == S_OK;
}

namespace {

bool ContainsHGlobal(IDataObject* dataObject, UINT format) {
  return TqorShellDataObjectFileList::ContainFormat(dataObject, static_cast<CLIPFORMAT>(format), TYMED_HGLOBAL,
                                                    DVASPECT_CONTENT, -1);
}

// The single-name handle block.
struct SingleHandle {
  bool Finished = false;
};
SingleHandle& Single(TqorSearchHandle h) noexcept { return *reinterpret_cast<SingleHandle*>(h); }

std::wstring ReadFileName(IDataObject* dataObject, UINT format, bool wide) {
  DataObjectMedium medium(dataObject, format);
  return ReadFileNameBlock(medium.Data(), medium.Size(), wide);
}

}  // namespace

// CF_FILENAME.

bool TqorDataObjectCF_FILENAMEFileList::CanCreate(IDataObject* ADataObject) {
  return ContainsHGlobal(ADataObject, CF_FILENAMEW) || ContainsHGlobal(ADataObject, CF_FILENAME);
}

TqorSearchHandle TqorDataObjectCF_FILENAMEFileList::FindFirst(TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  std::wstring path;
  try {
    path = ReadFileName(FDataObject.get(), CF_FILENAMEW, true);
  } catch (const Error&) {
    path = ReadFileName(FDataObject.get(), CF_FILENAME, false);
  }
  FillFromFile(ASearchRec, path);
  return reinterpret_cast<TqorSearchHandle>(new SingleHandle);
}

bool TqorDataObjectCF_FILENAMEFileList::FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  Single(ASearchHandle).Finished = true;
  return false;
}

void TqorDataObjectCF_FILENAMEFileList::FindClose(TqorSearchHandle ASearchHandle) { delete &Single(ASearchHandle); }

std::unique_ptr<TStream> TqorDataObjectCF_FILENAMEFileList::CreateFileStream(TqorSearchHandle ASearchHandle,
                                                                             const TqorSearchRec& ASearchRec,
                                                                             DWORD AOpenMode, bool) {
  if (Single(ASearchHandle).Finished) RaiseOutOfFileList();
  return std::make_unique<TqorFileStream>(ASearchRec.FileName, AOpenMode);
}

std::unique_ptr<TqorShellFileList> TqorDataObjectCF_FILENAMEFileList::CreateFolderFileList(
    TqorSearchHandle ASearchHandle, const TqorSearchRec& ASearchRec) {
  if (Single(ASearchHandle).Finished) RaiseOutOfFileList();
  return std::make_unique<TqorDirectoryFileList>(ASearchRec.FileName);
}

// FILEGROUPDESCRIPTOR.

namespace {

// A list type only to reach the record helpers.
struct DescriptorReader : TqorShellFileList {
  // Fetches the descriptor block (the wide form, else the ANSI one), fills ARec from descriptor AIndex
  // when the block has items, and gives the block's count.
  static uint32_t Read(IDataObject* ADataObject, int32_t AIndex, TqorSearchRec& ARec) {
    try {
      return ReadForm(ADataObject, AIndex, ARec, true);
    } catch (const Error&) {
      return ReadForm(ADataObject, AIndex, ARec, false);
    }
  }
  static uint32_t ReadForm(IDataObject* ADataObject, int32_t AIndex, TqorSearchRec& ARec, bool AWide) {
    DataObjectMedium medium(ADataObject, AWide ? CF_FILEDESCRIPTORW : CF_FILEDESCRIPTOR);
    const uint32_t count = CheckFileGroupDescriptor(medium.Data(), medium.Size(), AWide);
    if (count == 0) return count;
    if (static_cast<uint32_t>(AIndex) >= count) RaiseOutOfFileList();
    const auto* at = static_cast<const unsigned char*>(medium.Data()) + kFileGroupHeader;
    if (AWide) {
      FILEDESCRIPTORW d;
      std::memcpy(&d, at + sizeof d * AIndex, sizeof d);
      FillFromFileDescriptorW(ARec, d);
    } else {
      FILEDESCRIPTORA d;
      std::memcpy(&d, at + sizeof d * AIndex, sizeof d);
      FillFromFileDescriptorA(ARec, d);
    }
    return count;
  }
};

}  // namespace

bool TqorDataObjectCF_FILEDESCRIPTORFileList::CanCreate(IDataObject* ADataObject) {
  return ContainsHGlobal(ADataObject, CF_FILEDESCRIPTORW) || ContainsHGlobal(ADataObject, CF_FILEDESCRIPTOR);
}

TqorSearchHandle TqorDataObjectCF_FILEDESCRIPTORFileList::FindFirst(TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  const uint32_t count = DescriptorReader::Read(FDataObject.get(), 0, ASearchRec);
  return count == 0 ? 0 : NewCountedHandle(static_cast<int32_t>(count));
}

bool TqorDataObjectCF_FILEDESCRIPTORFileList::FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  CountedHandle& h = Counted(ASearchHandle);
  if (!AdvanceCounted(h)) return false;
  DescriptorReader::Read(FDataObject.get(), h.Index, ASearchRec);
  return true;
}

void TqorDataObjectCF_FILEDESCRIPTORFileList::FindClose(TqorSearchHandle ASearchHandle) {
  DeleteCountedHandle(ASearchHandle);
}

std::unique_ptr<TStream> TqorDataObjectCF_FILEDESCRIPTORFileList::CreateFileStream(TqorSearchHandle ASearchHandle,
                                                                                   const TqorSearchRec& ASearchRec,
                                                                                   DWORD, bool ASeekSupport) {
  const CountedHandle& h = Counted(ASearchHandle);
  CheckInFileList(h);
  DataObjectMedium contents(FDataObject.get(), CF_FILECONTENTS, h.Index, TYMED_ISTREAM);
  return std::make_unique<TqorOleStream>(contents.Stream(), ASeekSupport, ASearchRec.FileSize);
}

std::unique_ptr<TqorShellFileList> TqorDataObjectCF_FILEDESCRIPTORFileList::CreateFolderFileList(
    TqorSearchHandle ASearchHandle, const TqorSearchRec&) {
  CheckInFileList(Counted(ASearchHandle));
  return std::make_unique<TqorShellFileList>();
}

// CF_HDROP.

namespace {

// Fetches the drop list, reads path index into path when the list has paths, and gives the count.
uint32_t ReadDropFile(IDataObject* dataObject, int32_t index, std::wstring* path) {
  DataObjectMedium medium(dataObject, CF_HDROP);
  const uint32_t count = CheckDropFiles(medium.Data(), medium.Size());
  // The block is checked: the system's reader stays inside it.
  HDROP drop = static_cast<HDROP>(medium.Global());
  // An empty list is empty by our own reading: the system is not asked (Wine counts one path in it).
  if (count == 0) return count;
  if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) != count) throw Error(kBadDropFiles);
  if (static_cast<uint32_t>(index) >= count) RaiseOutOfFileList();
  const UINT length = ::DragQueryFileW(drop, static_cast<UINT>(index), nullptr, 0);
  path->assign(length + 1, L'\0');
  path->resize(::DragQueryFileW(drop, static_cast<UINT>(index), path->data(), length + 1));
  return count;
}

}  // namespace

bool TqorDataObjectCF_HDROPFileList::CanCreate(IDataObject* ADataObject) {
  return ContainsHGlobal(ADataObject, CF_HDROP);
}

TqorSearchHandle TqorDataObjectCF_HDROPFileList::FindFirst(TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  std::wstring path;
  const uint32_t count = ReadDropFile(FDataObject.get(), 0, &path);
  if (count == 0) return 0;
  FillFromFile(ASearchRec, path);
  return NewCountedHandle(static_cast<int32_t>(count));
}

bool TqorDataObjectCF_HDROPFileList::FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  CountedHandle& h = Counted(ASearchHandle);
  if (!AdvanceCounted(h)) return false;
  std::wstring path;
  ReadDropFile(FDataObject.get(), h.Index, &path);
  FillFromFile(ASearchRec, path);
  return true;
}

void TqorDataObjectCF_HDROPFileList::FindClose(TqorSearchHandle ASearchHandle) { DeleteCountedHandle(ASearchHandle); }

std::unique_ptr<TStream> TqorDataObjectCF_HDROPFileList::CreateFileStream(TqorSearchHandle ASearchHandle,
                                                                          const TqorSearchRec& ASearchRec,
                                                                          DWORD AOpenMode, bool) {
  CheckInFileList(Counted(ASearchHandle));
  return std::make_unique<TqorFileStream>(ASearchRec.FileName, AOpenMode);
}

std::unique_ptr<TqorShellFileList> TqorDataObjectCF_HDROPFileList::CreateFolderFileList(
    TqorSearchHandle ASearchHandle, const TqorSearchRec& ASearchRec) {
  CheckInFileList(Counted(ASearchHandle));
  return std::make_unique<TqorDirectoryFileList>(ASearchRec.FileName);
}

void RegisterDataObjectFileListClasses() {
  TqorShellDataObjectFileList::Register<TqorDataObjectCF_FILENAMEFileList>(L"TqorDataObjectCF_FILENAMEFileList");
  TqorShellDataObjectFileList::Register<TqorDataObjectCF_FILEDESCRIPTORFileList>(
      L"TqorDataObjectCF_FILEDESCRIPTORFileList");
  TqorShellDataObjectFileList::Register<TqorDataObjectCF_HDROPFileList>(L"TqorDataObjectCF_HDROPFileList");
  TqorShellDataObjectFileList::Register<TqorDataObjectCF_IDLISTFileList>(L"TqorDataObjectCF_IDLISTFileList");
  TqorShellDataObjectFileList::Register<TqorDataObjectShellItemArrayFileList>(
      L"TqorDataObjectShellItemArrayFileList");
}

}  // namespace qor
