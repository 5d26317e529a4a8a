// The byte streams: the abstract stream's defaults, the handle and memory streams, the file stream
// opened with an STGM-style mode, and the stream over an IStream.
#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "Error.h"
#include "Format.h"

namespace qor {

int64_t TStream::GetSize() {
  const int64_t position = Seek(0, SeekOrigin::Current);
  const int64_t size = Seek(0, SeekOrigin::End);
  Seek(position, SeekOrigin::Begin);
  return size;
}

void TStream::SetSize(int64_t) { throw Error(L"The stream cannot be resized"); }

// THandleStream -----------------------------------------------------------------------------------

int32_t THandleStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  DWORD read = 0;
  if (!::ReadFile(FHandle, buffer, static_cast<DWORD>(count), &read, nullptr)) return 0;
  return static_cast<int32_t>(read);
}

int32_t THandleStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  DWORD written = 0;
  if (!::WriteFile(FHandle, buffer, static_cast<DWORD>(count), &written, nullptr)) return 0;
  return static_cast<int32_t>(written);
}

int64_t THandleStream::Seek(int64_t offset, SeekOrigin origin) {
  LARGE_INTEGER move;
  move.QuadPart = offset;
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(FHandle, move, &position, static_cast<DWORD>(origin))) RaiseLastOSError();
  return position.QuadPart;
}

int64_t THandleStream::GetSize() {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(FHandle, &size)) RaiseLastOSError();
  return size.QuadPart;
}

void THandleStream::SetSize(int64_t newSize) {
  Seek(newSize, SeekOrigin::Begin);
  if (!::SetEndOfFile(FHandle)) RaiseLastOSError();
}

// TMemoryStream -----------------------------------------------------------------------------------

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  const int64_t size = GetSize();
  if (count <= 0 || FPosition >= size) return 0;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, size - FPosition));
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t end = FPosition + count;
  if (end > GetSize()) FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case SeekOrigin::Begin: base = 0; break;
    case SeekOrigin::Current: base = FPosition; break;
    case SeekOrigin::End: base = GetSize(); break;
    default: RaiseOSError(ERROR_INVALID_PARAMETER);
  }
  if ((offset < 0 && base + offset < 0) || (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset))
    RaiseOSError(ERROR_NEGATIVE_SEEK);
  FPosition = base + offset;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) RaiseOSError(ERROR_NEGATIVE_SEEK);
  FData.resize(static_cast<size_t>(newSize));
  if (FPosition > newSize) FPosition = newSize;
}

// TqorFileStream ----------------------------------------------------------------------------------

namespace {

struct CreateFileArguments {
  DWORD access;
  DWORD share;
  DWORD disposition;
};

// The CreateFileW arguments for an open mode; raises FileStreamError for a value outside the three
// bit groups' tables.
CreateFileArguments FileArgumentsForMode(const std::wstring& fileName, DWORD mode) {
  CreateFileArguments args{};
  switch (mode & kOpenModeAccessMask) {
    case STGM_READ: args.access = GENERIC_READ; break;
    case STGM_WRITE: args.access = GENERIC_WRITE; break;
    case STGM_READWRITE: args.access = GENERIC_READ | GENERIC_WRITE; break;
    default: throw FileStreamError(FormatText(L"%s: Invalid access mode", {fileName}));
  }
  switch (mode & kOpenModeShareMask) {
    case 0:
    case STGM_SHARE_DENY_NONE: args.share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case STGM_SHARE_EXCLUSIVE: args.share = 0; break;
    case STGM_SHARE_DENY_WRITE: args.share = FILE_SHARE_READ; break;
    case STGM_SHARE_DENY_READ: args.share = FILE_SHARE_WRITE; break;
    default: throw FileStreamError(FormatText(L"%s: Invalid share mode", {fileName}));
  }
  switch (mode & kOpenModeCreateMask) {
    case 0: args.disposition = OPEN_EXISTING; break;
    case STGM_CREATE: args.disposition = CREATE_ALWAYS; break;
    default: throw FileStreamError(FormatText(L"%s: Invalid create mode", {fileName}));
  }
  return args;
}

}  // namespace

TqorFileStream::TqorFileStream(const std::wstring& AFileName, DWORD AMode) : THandleStream(INVALID_HANDLE_VALUE) {
  const CreateFileArguments args = FileArgumentsForMode(AFileName, AMode);
  const HANDLE handle = ::CreateFileW(AFileName.c_str(), args.access, args.share, nullptr, args.disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) RaiseLastOSError();
  FHandle = handle;
}

TqorFileStream::~TqorFileStream() {
  if (FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr) ::CloseHandle(FHandle);
}

// TqorOleStream -----------------------------------------------------------------------------------

namespace {

// The piece in which a source of unknown size is copied into memory.
constexpr int32_t kCopyPiece = 61440;
constexpr int64_t kLargestRead = std::numeric_limits<int32_t>::max();

}  // namespace

TqorOleStream::TqorOleStream(IStream* Stream, bool ASeekSupport, int64_t AStreamSize)
    : FStream(Stream), FStreamSize(AStreamSize) {
  CheckPointer(Stream, L"Stream");
  LARGE_INTEGER zero{};
  ULARGE_INTEGER position{};
  const bool canSeek = SUCCEEDED(FStream->Seek(zero, STREAM_SEEK_CUR, &position));
  if (canSeek || !ASeekSupport) return;

  // The copy is read through Read while FTempStream is still null, so it comes from the source.
  try {
    auto copy = std::make_unique<TMemoryStream>();
    if (AStreamSize > 0) {
      // One read of the whole size in the usual case. A source may give less than it was asked for
      // in one call, so reading goes on until the size is reached or the source is exhausted, and the
      // copy keeps only what came: a short source is never padded with zeros.
      copy->SetSize(AStreamSize);
      int64_t filled = 0;
      while (filled < AStreamSize) {
        const int32_t ask = static_cast<int32_t>(std::min(AStreamSize - filled, kLargestRead));
        const int32_t n = Read(copy->Memory() + filled, ask);
        if (n <= 0) break;
        filled += n;
      }
      copy->SetSize(filled);
    } else {
      std::vector<uint8_t> piece(kCopyPiece);
      for (;;) {
        const int32_t n = Read(piece.data(), kCopyPiece);
        if (n <= 0) break;
        copy->Write(piece.data(), n);
      }
    }
    copy->SetPosition(0);
    FTempStream = std::move(copy);
  } catch (...) {
    // A failed copy is dropped: the stream then works on the source as it is.
  }
}

TqorOleStream::~TqorOleStream() = default;

int32_t TqorOleStream::Read(void* buffer, int32_t count) {
  if (FTempStream) return FTempStream->Read(buffer, count);
  if (count <= 0) return 0;
  ULONG read = 0;
  OleCheck(FStream->Read(buffer, static_cast<ULONG>(count), &read));
  return static_cast<int32_t>(read);
}

int32_t TqorOleStream::Write(const void* buffer, int32_t count) {
  if (FTempStream) return FTempStream->Write(buffer, count);
  if (count <= 0) return 0;
  ULONG written = 0;
  OleCheck(FStream->Write(buffer, static_cast<ULONG>(count), &written));
  return static_cast<int32_t>(written);
}

int64_t TqorOleStream::Seek(int64_t offset, SeekOrigin origin) {
  if (FTempStream) return FTempStream->Seek(offset, origin);
  LARGE_INTEGER move;
  move.QuadPart = offset;
  ULARGE_INTEGER position{};
  OleCheck(FStream->Seek(move, static_cast<DWORD>(origin), &position));
  return static_cast<int64_t>(position.QuadPart);
}

int64_t TqorOleStream::GetSize() {
  if (FTempStream) return FTempStream->GetSize();
  if (FStreamSize >= 0) return FStreamSize;
  return TStream::GetSize();
}

void TqorOleStream::SetSize(int64_t newSize) {
  if (FTempStream) return FTempStream->SetSize(newSize);
  if (newSize < 0) RaiseOSError(ERROR_NEGATIVE_SEEK);
  ULARGE_INTEGER size;
  size.QuadPart = static_cast<uint64_t>(newSize);
  OleCheck(FStream->SetSize(size));
  if (FStreamSize >= 0) FStreamSize = newSize;
}

}  // namespace qor
