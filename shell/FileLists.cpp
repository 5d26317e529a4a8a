// The common model of the file lists (search record, attribute conversions, the abstract list and its
// consumer operations, the record helpers over find data and file descriptors) and the directory list.
#include "FileLists.h"

#include <cstring>

#include "Error.h"

namespace qor {

namespace {

constexpr DWORD kVirtual = FILE_ATTRIBUTE_VIRTUAL;  // 0x10000

// File attribute, the shell attributes it gives, and the one shell attribute that gives it back.
struct AttributePair {
  DWORD file;
  TqorFileShellAttributes shell;
};
constexpr AttributePair kSharedAttributes[] = {
    {FILE_ATTRIBUTE_READONLY, fsaReadOnly},     {FILE_ATTRIBUTE_HIDDEN, fsaHidden},
    {FILE_ATTRIBUTE_SYSTEM, fsaSystem},         {FILE_ATTRIBUTE_COMPRESSED, fsaCompressed},
    {FILE_ATTRIBUTE_ENCRYPTED, fsaEncrypted},
};
constexpr TqorFileShellAttributes kFolderShellAttributes = fsaHasSubfolder | fsaFolder | fsaBrowsable;
constexpr TqorFileShellAttributes kRealFileShellAttributes =
    fsaFileSystem | fsaCanCopy | fsaCanMove | fsaCanLink | fsaCanRename | fsaCanDelete | fsaHasPropSheet;

static_assert(fsaCanCopy == SFGAO_CANCOPY && fsaHasPropSheet == SFGAO_HASPROPSHEET && fsaSystem == SFGAO_SYSTEM &&
              fsaReadOnly == SFGAO_READONLY && fsaStream == SFGAO_STREAM && fsaFolder == SFGAO_FOLDER &&
              fsaFileSystem == SFGAO_FILESYSTEM && fsaHasSubfolder == SFGAO_HASSUBFOLDER &&
              fsaCompressed == SFGAO_COMPRESSED && fsaEncrypted == SFGAO_ENCRYPTED && fsaHidden == SFGAO_HIDDEN);
static_assert(ShellAttributeRequestMask == (fsaSystem | fsaEncrypted | fsaReadOnly | fsaHidden | fsaCompressed |
                                            fsaFileSysAncestor | fsaFolder | fsaFileSystem));
static_assert(sizeof(FILEDESCRIPTORW) == 592 && sizeof(FILEDESCRIPTORA) == 332);

int64_t MakeSize(DWORD high, DWORD low) noexcept {
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

bool IsDotEntry(const wchar_t* name) noexcept {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// A descriptor's name is a fixed array: a name that fills it without a NUL ends at its end.
template <typename Char>
size_t BoundedLength(const Char* text, size_t capacity) noexcept {
  size_t n = 0;
  while (n < capacity && text[n] != 0) ++n;
  return n;
}

template <typename Descriptor>
void FillFromDescriptorFields(TqorSearchRec& r, const Descriptor& d) {
  r.Attr = ((d.dwFlags & FD_ATTRIBUTES) ? d.dwFileAttributes : 0) | kVirtual;
  r.ShellAttr = FileAttributesToShellAttributes(r.Attr);
  if (d.dwFlags & FD_CREATETIME) r.CreationTime = d.ftCreationTime;
  if (d.dwFlags & FD_ACCESSTIME) r.LastAccessTime = d.ftLastAccessTime;
  if (d.dwFlags & FD_WRITESTIME) r.LastWriteTime = d.ftLastWriteTime;
  if (d.dwFlags & FD_FILESIZE) r.FileSize = MakeSize(d.nFileSizeHigh, d.nFileSizeLow);
}

// Directory handle block.
struct DirectoryHandle {
  FindHandle find;
  bool Finished = false;
};
DirectoryHandle& Directory(TqorSearchHandle h) noexcept { return *reinterpret_cast<DirectoryHandle*>(h); }

}  // namespace

TqorFileShellAttributes FileAttributesToShellAttributes(DWORD AAttr) noexcept {
  TqorFileShellAttributes result = 0;
  for (const AttributePair& p : kSharedAttributes)
    if (AAttr & p.file) result |= p.shell;
  result |= (AAttr & FILE_ATTRIBUTE_DIRECTORY) ? kFolderShellAttributes : fsaStream;
  if (!(AAttr & kVirtual)) result |= kRealFileShellAttributes;
  return result;
}

DWORD ShellAttributesToFileAttributes(TqorFileShellAttributes AShellAttr) noexcept {
  DWORD result = 0;
  for (const AttributePair& p : kSharedAttributes)
    if (AShellAttr & p.shell) result |= p.file;
  if (AShellAttr & fsaFolder) result |= FILE_ATTRIBUTE_DIRECTORY;
  if (!(AShellAttr & fsaFileSystem)) result |= kVirtual;
  return result;
}

void ClearSearchRec(TqorSearchRec& ASearchRec) noexcept {
  ASearchRec.FileName.clear();
  ASearchRec.Attr = 0;
  ASearchRec.ShellAttr = 0;
  ASearchRec.CreationTime = {};
  ASearchRec.LastAccessTime = {};
  ASearchRec.LastWriteTime = {};
  ASearchRec.FileSize = 0;
}

// The plain list: empty.
TqorSearchHandle TqorShellFileList::FindFirst(TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  return 0;
}
bool TqorShellFileList::FindNext(TqorSearchHandle, TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  return false;
}
void TqorShellFileList::FindClose(TqorSearchHandle) {}
std::unique_ptr<TStream> TqorShellFileList::CreateFileStream(TqorSearchHandle, const TqorSearchRec&, DWORD, bool) {
  return nullptr;
}
std::unique_ptr<TqorShellFileList> TqorShellFileList::CreateFolderFileList(TqorSearchHandle, const TqorSearchRec&) {
  return nullptr;
}

std::vector<std::wstring> TqorShellFileList::CreateFileList(bool& ARealFilesOnly) {
  std::vector<std::wstring> result;
  ARealFilesOnly = true;
  TqorSearchRec rec;
  TqorSearchHandle handle = FindFirst(rec);
  if (handle == 0) return result;
  ScopeGuard close([&] { FindClose(handle); });
  do {
    result.push_back(rec.FileName);
    if (rec.Attr & kVirtual) ARealFilesOnly = false;
  } while (FindNext(handle, rec));
  return result;
}

std::vector<std::wstring> TqorShellFileList::CreateFileList() {
  bool realFilesOnly = false;
  return CreateFileList(realFilesOnly);
}

bool TqorShellFileList::IsSingleFile() {
  TqorSearchRec rec;
  TqorSearchHandle handle = FindFirst(rec);
  if (handle == 0) return false;
  ScopeGuard close([&] { FindClose(handle); });
  if (rec.Attr & FILE_ATTRIBUTE_DIRECTORY) return false;
  return !FindNext(handle, rec);
}

int32_t TqorShellFileList::GetCount() {
  TqorSearchRec rec;
  TqorSearchHandle handle = FindFirst(rec);
  if (handle == 0) return 0;
  ScopeGuard close([&] { FindClose(handle); });
  int32_t count = 1;
  while (FindNext(handle, rec)) ++count;
  return count;
}

void TqorShellFileList::FillFromFindData(TqorSearchRec& r, const std::wstring& APrefix, const WIN32_FIND_DATAW& d) {
  ClearSearchRec(r);
  r.FileName.reserve(APrefix.size() + 32);
  r.FileName.assign(APrefix).append(d.cFileName);
  r.Attr = d.dwFileAttributes;
  r.ShellAttr = FileAttributesToShellAttributes(r.Attr);
  r.CreationTime = d.ftCreationTime;
  r.LastAccessTime = d.ftLastAccessTime;
  r.LastWriteTime = d.ftLastWriteTime;
  r.FileSize = MakeSize(d.nFileSizeHigh, d.nFileSizeLow);
}

void TqorShellFileList::FillFromFile(TqorSearchRec& r, const std::wstring& AFileName) {
  ClearSearchRec(r);
  WIN32_FIND_DATAW data;
  FindHandle find(::FindFirstFileW(AFileName.c_str(), &data));
  if (find) FillFromFindData(r, std::wstring(), data);
  r.FileName = AFileName;
}

void TqorShellFileList::FillFromFileDescriptorW(TqorSearchRec& r, const FILEDESCRIPTORW& d) {
  ClearSearchRec(r);
  r.FileName.assign(d.cFileName, BoundedLength(d.cFileName, MAX_PATH));
  FillFromDescriptorFields(r, d);
}

void TqorShellFileList::FillFromFileDescriptorA(TqorSearchRec& r, const FILEDESCRIPTORA& d) {
  ClearSearchRec(r);
  const int length = static_cast<int>(BoundedLength(d.cFileName, MAX_PATH));
  if (length > 0) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, d.cFileName, length, nullptr, 0);
    r.FileName.resize(static_cast<size_t>(n));
    ::MultiByteToWideChar(CP_ACP, 0, d.cFileName, length, r.FileName.data(), n);
  }
  FillFromDescriptorFields(r, d);
}

// Directory list.

TqorDirectoryFileList::TqorDirectoryFileList(const std::wstring& ADir) : FDir(ADir) {
  if (!FDir.empty() && FDir.back() != L'\\') FDir.push_back(L'\\');
}

TqorSearchHandle TqorDirectoryFileList::FindFirst(TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  auto block = std::make_unique<DirectoryHandle>();
  WIN32_FIND_DATAW data;
  block->find.reset(::FindFirstFileW((FDir + L"*.*").c_str(), &data));
  if (!block->find) RaiseLastOSError();
  while (IsDotEntry(data.cFileName)) {
    if (!::FindNextFileW(block->find.get(), &data)) return 0;
  }
  FillFromFindData(ASearchRec, FDir, data);
  return reinterpret_cast<TqorSearchHandle>(block.release());
}

bool TqorDirectoryFileList::FindNext(TqorSearchHandle ASearchHandle, TqorSearchRec& ASearchRec) {
  ClearSearchRec(ASearchRec);
  DirectoryHandle& h = Directory(ASearchHandle);
  WIN32_FIND_DATAW data;
  do {
    if (h.Finished || !::FindNextFileW(h.find.get(), &data)) {
      h.Finished = true;
      return false;
    }
  } while (IsDotEntry(data.cFileName));
  FillFromFindData(ASearchRec, FDir, data);
  return true;
}

void TqorDirectoryFileList::FindClose(TqorSearchHandle ASearchHandle) { delete &Directory(ASearchHandle); }

std::unique_ptr<TStream> TqorDirectoryFileList::CreateFileStream(TqorSearchHandle ASearchHandle,
                                                                 const TqorSearchRec& ASearchRec, DWORD AOpenMode,
                                                                 bool) {
  if (Directory(ASearchHandle).Finished) filelist_detail::RaiseOutOfFileList();
  return std::make_unique<TqorFileStream>(ASearchRec.FileName, AOpenMode);
}

std::unique_ptr<TqorShellFileList> TqorDirectoryFileList::CreateFolderFileList(TqorSearchHandle ASearchHandle,
                                                                               const TqorSearchRec& ASearchRec) {
  if (Directory(ASearchHandle).Finished) filelist_detail::RaiseOutOfFileList();
  return std::make_unique<TqorDirectoryFileList>(ASearchRec.FileName);
}

// Counted handles, shared by the descriptor, drop-list, item id list and item array kinds.
namespace filelist_detail {

CountedHandle& Counted(TqorSearchHandle ASearchHandle) noexcept {
  return *reinterpret_cast<CountedHandle*>(ASearchHandle);
}

bool AdvanceCounted(CountedHandle& h) noexcept {
  if (h.Finished) return false;
  if (++h.Index < h.Count) return true;
  --h.Index;
  h.Finished = true;
  return false;
}

void RaiseOutOfFileList() { throw Error(L"Out of file list"); }

void CheckInFileList(const CountedHandle& h) {
  if (h.Finished || h.Index < 0 || h.Index >= h.Count) RaiseOutOfFileList();
}

TqorSearchHandle NewCountedHandle(int32_t ACount) {
  auto* h = new CountedHandle;
  h->Count = ACount;
  return reinterpret_cast<TqorSearchHandle>(h);
}

void DeleteCountedHandle(TqorSearchHandle ASearchHandle) noexcept { delete &Counted(ASearchHandle); }

}  // namespace filelist_detail

}  // namespace qor
