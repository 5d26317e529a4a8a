// Byte streams and the bridge between them and COM: a stream over a file handle opened with an
// STGM-style mode, a stream over an IStream, an IStream over a stream, and the operations that open
// files, shell items and shell-folder children as either. Positions and sizes are 64-bit throughout.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Handles.h"
#include "InterfaceDiagnostics.h"

namespace qor {

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

// An abstract byte stream. Read and Write return the count transferred (0 at the end or on a refusal
// that the stream does not raise); Seek returns the new position.
class TStream {
 public:
  virtual ~TStream() = default;
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  // The default remembers the position, seeks to the end and back.
  virtual int64_t GetSize();
  // The default raises: a stream that cannot be resized says so.
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::Begin); }
};

// Reads, writes, seeks and resizes through one file handle, which it does not own. Reads and writes the
// system refuses count as 0 bytes; a refused seek (a position before the start, a bad handle) and a
// refused resize raise OSError.
class THandleStream : public TStream {
 public:
  explicit THandleStream(HANDLE handle) noexcept : FHandle(handle) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override;
  // Leaves the position at newSize.
  void SetSize(int64_t newSize) override;
  HANDLE Handle() const noexcept { return FHandle; }

 protected:
  HANDLE FHandle;
};

// A stream over a block of memory that grows as it is written. A position may lie past the end (reads
// there give 0, a write there fills the gap with zeros) but not before the start (OSError
// ERROR_NEGATIVE_SEEK, as for a file).
class TMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t newSize) override;
  uint8_t* Memory() noexcept { return FData.data(); }

 private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// The open mode's bit groups (the STGM layout): access 0x0000000F, sharing 0x000000F0, creation
// 0x0000F000; every other bit is ignored.
constexpr DWORD kOpenModeAccessMask = 0x0000000F;
constexpr DWORD kOpenModeShareMask = 0x000000F0;
constexpr DWORD kOpenModeCreateMask = 0x0000F000;

// A handle stream over a file it opens and owns. Raises FileStreamError "<file>: Invalid access mode",
// "<file>: Invalid share mode" or "<file>: Invalid create mode" for a mode outside its bit groups, and
// OSError with GetLastError when CreateFileW fails.
class TqorFileStream : public THandleStream {
 public:
  TqorFileStream(const std::wstring& AFileName, DWORD AMode);
  ~TqorFileStream() override;
};

// A stream over an IStream, holding one reference on it. A source that cannot seek is copied into
// memory at creation when ASeekSupport is asked: with AStreamSize known and positive in one read of
// that size (read on while the source gives less and more is due; the copy keeps what came, never
// padded), else in pieces of 61,440 bytes until a read gives 0. A failure while copying drops the copy
// and the stream works on the source. Failing source calls raise OleSysError. Offsets reach the
// source as 64-bit values: nothing is limited to 2 GiB.
class TqorOleStream : public TStream {
 public:
  TqorOleStream(IStream* Stream, bool ASeekSupport, int64_t AStreamSize);
  ~TqorOleStream() override;
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t GetSize() override;
  // Resizes the memory copy when there is one, else the source (IStream::SetSize).
  void SetSize(int64_t newSize) override;
  // True when the source was copied into memory.
  bool HasMemoryCopy() const noexcept { return FTempStream != nullptr; }

 private:
  ComPtr<IStream> FStream;
  int64_t FStreamSize;
  std::unique_ptr<TMemoryStream> FTempStream;
};

enum class TStreamOwnership { soReference, soOwned };

// An IStream and ISequentialStream over a stream, logging every call. Created with CreateShellObject;
// lives by reference counting and may be released on any thread; never lets an exception out of a COM
// method. Only one call at a time: the adapter does not lock.
//
// Reads need the access bits 0 or 2 of the open mode, writes and resizes 1 or 2; otherwise
// STG_E_ACCESSDENIED. The first stream call being Seek(0, STREAM_SEEK_CUR) reports the stream's size
// instead of its position, without moving it. A write that comes back short is STG_E_WRITEFAULT with
// the count written, so that no caller takes lost data for success.
class TqorStreamAdapter : public TqorShellInterfacedObject, public IStream {
 public:
  // Opens the file itself (a TqorFileStream, owned); raises what TqorFileStream raises.
  TqorStreamAdapter(const std::wstring& AFileName, DWORD AOpenMode);
  // Serves a stream the caller made; soOwned deletes it with the adapter.
  TqorStreamAdapter(TStream* AStream, DWORD AOpenMode, TStreamOwnership AOwnership);
  ~TqorStreamAdapter() override;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override;
  ULONG STDMETHODCALLTYPE Release() noexcept override;
  // ISequentialStream
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) noexcept override;
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) noexcept override;
  // IStream
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) noexcept override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) noexcept override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                   ULARGE_INTEGER* pcbWritten) noexcept override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) noexcept override;
  HRESULT STDMETHODCALLTYPE Revert() noexcept override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) noexcept override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) noexcept override;

  // Properties
  const std::wstring& FileName() const noexcept { return FFileName; }
  void SetFileName(const std::wstring& value) { FFileName = value; }
  bool RealFileName() const noexcept { return FRealFileName; }
  void SetRealFileName(bool value) noexcept { FRealFileName = value; }
  FILETIME ModificationTime() const noexcept { return FModificationTime; }
  void SetModificationTime(FILETIME value) noexcept { FModificationTime = value; }
  FILETIME CreationTime() const noexcept { return FCreationTime; }
  void SetCreationTime(FILETIME value) noexcept { FCreationTime = value; }
  FILETIME AccessTime() const noexcept { return FAccessTime; }
  void SetAccessTime(FILETIME value) noexcept { FAccessTime = value; }

 protected:
  void* FindInterface(REFIID iid) noexcept override;

 private:
  HRESULT FixedAnswer(const wchar_t* labelSuffix, HRESULT result) noexcept;

  TStream* FStream;
  bool FFirstOperation = true;
  TStreamOwnership FOwnership;
  std::wstring FFileName;
  bool FRealFileName = false;
  DWORD FOpenMode;
  FILETIME FModificationTime{};
  FILETIME FCreationTime{};
  FILETIME FAccessTime{};
};

// The opening operations. Each raises OleSysError for a failing shell call and whatever the stream
// constructors raise; the returned IStream carries one reference for the caller, the returned TStream
// belongs to the caller. A shell-folder child that is a file-system item is opened as a file through
// its parsing name (a name that cannot be read raises its error); any other child is bound to its
// stream. For CreateIStreamOnIDList an empty AParent stands for the desktop itself.
ComPtr<IStream> CreateIStreamOnFile(const std::wstring& AFileName, DWORD AOpenMode);
ComPtr<IStream> CreateIStreamOnShellItem(IShellItem* AShellItem);
ComPtr<IStream> CreateIStreamOnFolderItem(IShellFolder* AShellFolder, PCUITEMID_CHILD AChild, DWORD AOpenMode);
ComPtr<IStream> CreateIStreamOnIDList(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild, DWORD AOpenMode);
std::unique_ptr<TStream> CreateStreamOnIStream(IStream* AStream);
std::unique_ptr<TStream> CreateStreamOnShellItem(IShellItem* AShellItem, DWORD AOpenMode);
std::unique_ptr<TStream> CreateStreamOnFolderItem(IShellFolder* AShellFolder, PCUITEMID_CHILD AChild,
                                                  DWORD AOpenMode);
std::unique_ptr<TStream> CreateStreamOnIDList(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild, DWORD AOpenMode);

}  // namespace qor
