// TqorStreamAdapter: an IStream and ISequentialStream over a TStream. Every method runs in the logged
// method frame: "started", its inputs, the body under an exception guard, its outputs (on S_OK only),
// the result and "finished". Log texts are built only while the frame is logging.
#include <algorithm>
#include <limits>
#include <memory>

#include "Format.h"
#include "Streams.h"

namespace qor {

namespace {

constexpr const wchar_t* kClassName = L"TqorStreamAdapter";
// One read or write of the underlying stream moves at most this many bytes (its counts are 32-bit).
constexpr uint64_t kLargestPiece = std::numeric_limits<int32_t>::max();
// CopyTo copies through one buffer of at most this size.
constexpr uint64_t kCopyBufferSize = 1024 * 1024;

bool MayRead(DWORD mode) noexcept {
  const DWORD access = mode & kOpenModeAccessMask;
  return access == STGM_READ || access == STGM_READWRITE;
}

bool MayWrite(DWORD mode) noexcept {
  const DWORD access = mode & kOpenModeAccessMask;
  return access == STGM_WRITE || access == STGM_READWRITE;
}

std::wstring OriginToText(DWORD origin) {
  switch (origin) {
    case STREAM_SEEK_SET: return L"STREAM_SEEK_SET";
    case STREAM_SEEK_CUR: return L"STREAM_SEEK_CUR";
    case STREAM_SEEK_END: return L"STREAM_SEEK_END";
    default: return L"STREAM_SEEK_" + Hex8(origin);
  }
}

std::wstring StatTimeToText(const FILETIME& time) {
  if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0) return L"0";
  return FileTimeToText(time);
}

// The last part of a path after its last "\" or "/"; empty when the path ends in one.
std::wstring LastPathPart(const std::wstring& path) {
  const size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

template <typename T>
std::wstring CountOrNil(const T* count) {
  return count ? DecimalText(*count) : std::wstring(L"nil");
}

std::wstring ULargeOrNil(const ULARGE_INTEGER* value) {
  return value ? DecimalText(value->QuadPart) : std::wstring(L"nil");
}

// Runs the code that builds and writes a method's log lines, only while the frame logs. Building a
// text can run out of memory; the call itself must not fail for that, so the lines are given up.
template <typename Lines>
void LogLines(const MethodFrame& frame, Lines&& lines) noexcept {
  if (!frame.Logging()) return;
  try {
    lines();
  } catch (...) {
  }
}

}  // namespace

TqorStreamAdapter::TqorStreamAdapter(const std::wstring& AFileName, DWORD AOpenMode)
    : TqorShellInterfacedObject(kClassName),
      FStream(new TqorFileStream(AFileName, AOpenMode)),
      FOwnership(TStreamOwnership::soOwned),
      FFileName(AFileName),
      FRealFileName(true),
      FOpenMode(AOpenMode) {}

TqorStreamAdapter::TqorStreamAdapter(TStream* AStream, DWORD AOpenMode, TStreamOwnership AOwnership)
    : TqorShellInterfacedObject(kClassName), FStream(AStream), FOwnership(AOwnership), FOpenMode(AOpenMode) {}

TqorStreamAdapter::~TqorStreamAdapter() {
  if (FOwnership == TStreamOwnership::soOwned) delete FStream;
}

void* TqorStreamAdapter::FindInterface(REFIID iid) noexcept {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream))
    return static_cast<IStream*>(this);
  return nullptr;
}

HRESULT TqorStreamAdapter::QueryInterface(REFIID riid, void** ppv) noexcept { return QueryInterfaceImpl(riid, ppv); }
ULONG TqorStreamAdapter::AddRef() noexcept { return AddRefImpl(); }
ULONG TqorStreamAdapter::Release() noexcept { return ReleaseImpl(); }

HRESULT TqorStreamAdapter::Read(void* pv, ULONG cb, ULONG* pcbRead) noexcept {
  MethodFrame frame(*this, L".ISequentialStream.Read");
  LogLines(frame, [&] {
    frame.In(L"ABuffer", PointerToText(pv));
    frame.In(L"ABufferSize", DecimalText(cb));
  });
  frame.Run([&] {
    FFirstOperation = false;
    if (pcbRead) *pcbRead = 0;
    if (!MayRead(FOpenMode)) throw EStorageAccessDenied();
    CheckPointer(pv, L"ABuffer");
    auto* bytes = static_cast<uint8_t*>(pv);
    ULONG total = 0;
    while (total < cb) {
      const auto piece = static_cast<int32_t>(std::min<uint64_t>(cb - total, kLargestPiece));
      const int32_t n = std::max(FStream->Read(bytes + total, piece), 0);
      total += static_cast<ULONG>(n);
      if (n < piece) break;
    }
    if (pcbRead) *pcbRead = total;
    return total == cb ? S_OK : S_FALSE;
  });
  LogLines(frame, [&] { frame.Out(L"ARead", CountOrNil(pcbRead)); });
  return frame.Finish();
}

HRESULT TqorStreamAdapter::Write(const void* pv, ULONG cb, ULONG* pcbWritten) noexcept {
  MethodFrame frame(*this, L".ISequentialStream.Write");
  LogLines(frame, [&] {
    frame.In(L"ABuffer", PointerToText(pv));
    frame.In(L"ABufferSize", DecimalText(cb));
  });
  frame.Run([&] {
    FFirstOperation = false;
    if (pcbWritten) *pcbWritten = 0;
    if (!MayWrite(FOpenMode)) throw EStorageAccessDenied();
    CheckPointer(pv, L"ABuffer");
    const auto* bytes = static_cast<const uint8_t*>(pv);
    ULONG total = 0;
    while (total < cb) {
      const auto piece = static_cast<int32_t>(std::min<uint64_t>(cb - total, kLargestPiece));
      const int32_t n = std::max(FStream->Write(bytes + total, piece), 0);
      total += static_cast<ULONG>(n);
      if (n < piece) break;
    }
    if (pcbWritten) *pcbWritten = total;
    // A stream that takes fewer bytes than it was given has lost data (a full disk, a refused write):
    // that is a failure, not the success code S_FALSE that a short read gives.
    return total == cb ? S_OK : STG_E_WRITEFAULT;
  });
  LogLines(frame, [&] { frame.Out(L"AWritten", CountOrNil(pcbWritten)); });
  return frame.Finish();
}

HRESULT TqorStreamAdapter::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) noexcept {
  MethodFrame frame(*this, L".IStream.Seek");
  LogLines(frame, [&] {
    frame.In(L"AMove", DecimalText(dlibMove.QuadPart));
    frame.In(L"AOrigin", OriginToText(dwOrigin));
  });
  frame.Run([&] {
    // A call with a bad origin is refused before anything else, so it does not count as the first.
    if (dwOrigin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
    if (FFirstOperation) {
      FFirstOperation = false;
      // Some callers ask for the size of a fresh stream this way; they are given the size, and the
      // stream stays where it is.
      if (dlibMove.QuadPart == 0 && dwOrigin == STREAM_SEEK_CUR && plibNewPosition) {
        plibNewPosition->QuadPart = static_cast<uint64_t>(FStream->GetSize());
        return S_OK;
      }
    }
    const int64_t position = FStream->Seek(dlibMove.QuadPart, static_cast<SeekOrigin>(dwOrigin));
    if (plibNewPosition) plibNewPosition->QuadPart = static_cast<uint64_t>(position);
    return S_OK;
  });
  LogLines(frame, [&] { frame.Out(L"ANewPosition", ULargeOrNil(plibNewPosition)); });
  return frame.Finish();
}

HRESULT TqorStreamAdapter::SetSize(ULARGE_INTEGER libNewSize) noexcept {
  MethodFrame frame(*this, L".IStream.SetSize");
  LogLines(frame, [&] { frame.In(L"ANewSize", DecimalText(libNewSize.QuadPart)); });
  frame.Run([&] {
    FFirstOperation = false;
    if (!MayWrite(FOpenMode)) throw EStorageAccessDenied();
    FStream->SetSize(static_cast<int64_t>(libNewSize.QuadPart));
    return static_cast<uint64_t>(FStream->GetSize()) == libNewSize.QuadPart ? S_OK : E_FAIL;
  });
  return frame.Finish();
}

HRESULT TqorStreamAdapter::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                  ULARGE_INTEGER* pcbWritten) noexcept {
  MethodFrame frame(*this, L".IStream.CopyTo");
  LogLines(frame, [&] {
    frame.In(L"AStream", PointerToText(pstm));
    frame.In(L"ASize", DecimalText(cb.QuadPart));
  });
  frame.Run([&] {
    FFirstOperation = false;
    CheckPointer(pstm, L"AStream");
    if (!MayRead(FOpenMode)) throw EStorageAccessDenied();

    uint64_t totalRead = 0;
    uint64_t totalWritten = 0;
    // The totals reach the caller on every path from here on, also when a read raises.
    ScopeGuard storeTotals([&] {
      if (pcbWritten) pcbWritten->QuadPart = totalWritten;
      if (pcbRead) pcbRead->QuadPart = totalRead;
    });
    HRESULT result = S_OK;
    const uint64_t bufferSize = std::min(cb.QuadPart, kCopyBufferSize);
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(bufferSize));
    uint64_t remaining = cb.QuadPart;
    bool copying = true;
    while (copying && remaining > 0) {
      uint64_t slice = std::min(remaining, kLargestPiece);
      while (slice > 0) {
        const auto ask = static_cast<int32_t>(std::min(slice, bufferSize));
        const int32_t n = FStream->Read(buffer.get(), ask);
        if (n <= 0) {
          copying = false;
          break;
        }
        totalRead += static_cast<uint64_t>(n);
        ULONG written = 0;
        result = pstm->Write(buffer.get(), static_cast<ULONG>(n), &written);
        totalWritten += written;
        if (result == S_OK && written < static_cast<ULONG>(n)) result = E_FAIL;
        if (result != S_OK) {
          copying = false;
          break;
        }
        slice -= static_cast<uint64_t>(n);
        remaining -= static_cast<uint64_t>(n);
      }
    }
    return result;
  });
  LogLines(frame, [&] {
    if (pcbWritten)
      frame.InAfter(L"AWritten", DecimalText(pcbWritten->QuadPart));
    else
      frame.InAfter(L"@AWritten", L"nil");
    if (pcbRead)
      frame.InAfter(L"ARead", DecimalText(pcbRead->QuadPart));
    else
      frame.InAfter(L"@ARead", L"nil");
  });
  return frame.Finish();
}

// The methods that do nothing but end the first operation and answer with a fixed result.
HRESULT TqorStreamAdapter::FixedAnswer(const wchar_t* labelSuffix, HRESULT result) noexcept {
  MethodFrame frame(*this, labelSuffix);
  frame.Run([&] {
    FFirstOperation = false;
    return result;
  });
  return frame.Finish();
}

// Nothing is buffered, so there is nothing to flush.
HRESULT TqorStreamAdapter::Commit(DWORD) noexcept { return FixedAnswer(L".IStream.Commit", S_OK); }
HRESULT TqorStreamAdapter::Revert() noexcept { return FixedAnswer(L".IStream.Revert", STG_E_REVERTED); }
HRESULT TqorStreamAdapter::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept {
  return FixedAnswer(L".IStream.LockRegion", E_NOTIMPL);
}
HRESULT TqorStreamAdapter::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept {
  return FixedAnswer(L".IStream.UnlockRegion", E_NOTIMPL);
}

HRESULT TqorStreamAdapter::Stat(STATSTG* pstatstg, DWORD grfStatFlag) noexcept {
  MethodFrame frame(*this, L".IStream.Stat");
  frame.Run([&] {
    FFirstOperation = false;
    CheckPointer(pstatstg, L"AStatStg");
    CheckArgument(grfStatFlag == STATFLAG_DEFAULT || grfStatFlag == STATFLAG_NONAME, L"AStatFlag");
    STATSTG stat{};
    stat.type = STGTY_STREAM;
    stat.cbSize.QuadPart = static_cast<uint64_t>(FStream->GetSize());
    stat.grfLocksSupported = LOCK_WRITE;
    stat.grfMode = FOpenMode & kOpenModeAccessMask;
    if (!FFileName.empty()) {
      if (FRealFileName) {
        WIN32_FIND_DATAW found;
        FindHandle find(::FindFirstFileW(FFileName.c_str(), &found));
        if (find) {
          stat.mtime = found.ftLastWriteTime;
          stat.ctime = found.ftCreationTime;
          stat.atime = found.ftLastAccessTime;
        }
      } else {
        stat.mtime = FModificationTime;
        stat.ctime = FCreationTime;
        stat.atime = FAccessTime;
      }
      // The name is allocated last: nothing after it can fail, so the caller always receives it.
      const std::wstring name = grfStatFlag == STATFLAG_DEFAULT ? LastPathPart(FFileName) : std::wstring();
      if (!name.empty()) {
        const size_t bytes = (name.size() + 1) * sizeof(wchar_t);
        auto* text = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
        if (!text) throw std::bad_alloc();
        std::copy(name.c_str(), name.c_str() + name.size() + 1, text);
        stat.pwcsName = text;
      }
    }
    *pstatstg = stat;
    return S_OK;
  });
  if (frame.Result() == S_OK) LogLines(frame, [&] {
    const STATSTG& stat = *pstatstg;
    frame.Out(L"AStatStg.pwcsName", stat.pwcsName ? std::wstring(stat.pwcsName) : std::wstring());
    frame.Out(L"AStatStg.dwType", L"STGTY_STREAM");
    frame.Out(L"AStatStg.cbSize", DecimalText(stat.cbSize.QuadPart));
    frame.Out(L"AStatStg.mtime", StatTimeToText(stat.mtime));
    frame.Out(L"AStatStg.ctime", StatTimeToText(stat.ctime));
    frame.Out(L"AStatStg.atime", StatTimeToText(stat.atime));
    frame.Out(L"AStatStg.grfMode", L"STGM_READ");
    frame.Out(L"AStatStg.grfLocksSupported", L"LOCK_WRITE");
    frame.Out(L"AStatStg.clsid", GuidToText(stat.clsid));
    frame.Out(L"AStatStg.grfStateBits", Hex8(stat.grfStateBits));
    frame.Out(L"AStatStg.reserved", Hex8(stat.reserved));
  });
  return frame.Finish();
}

HRESULT TqorStreamAdapter::Clone(IStream** ppstm) noexcept {
  MethodFrame frame(*this, L".IStream.Clone");
  frame.Run([&] {
    if (ppstm) *ppstm = nullptr;
    FFirstOperation = false;
    return E_NOTIMPL;
  });
  return frame.Finish();
}

}  // namespace qor
