// The logging base of the library's COM objects, the method frame, the exception mapping and checks,
// and the HRESULT, GUID and file-time texts of the log.
#include "InterfaceDiagnostics.h"

#include <cstdio>
#include <iterator>
#include <new>

#include "LoggingClient.h"
#include "qorShellBaseExtension.h"

namespace qor {

// ---- exceptions ----

HRESULT ExceptionToHResult(const std::exception_ptr& error) noexcept {
  if (!error) return E_UNEXPECTED;
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const OSError& e) {
    // A failed call that left no error code is still a failure: reporting it as S_OK would tell the
    // caller that the work was done.
    if (e.code() == 0) return E_FAIL;
    return static_cast<HRESULT>(0x80070000u | (e.code() & 0xFFFFu));
  } catch (const ArgumentError&) {
    return E_INVALIDARG;
  } catch (const PointerError&) {
    return E_POINTER;
  } catch (const EUninitializedObject&) {
    return OLE_E_BLANK;
  } catch (const EStorageAccessDenied&) {
    return STG_E_ACCESSDENIED;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

std::wstring ExceptionClassName(const std::exception_ptr& error) noexcept {
  if (!error) return L"Unknown";
  try {
    std::rethrow_exception(error);
  } catch (const FileStreamError&) {
    return L"EFileStreamError";
  } catch (const OSError&) {
    return L"EOSError";
  } catch (const OleSysError&) {
    return L"EOleSysError";
  } catch (const PointerError&) {
    return L"EInvalidPointer";
  } catch (const ArgumentError&) {
    return L"EArgumentException";
  } catch (const EUninitializedObject&) {
    return L"EUninitializedObject";
  } catch (const EStorageAccessDenied&) {
    return L"EStorageAccessDenied";
  } catch (const std::bad_alloc&) {
    return L"EOutOfMemory";
  } catch (const std::exception&) {
    return L"Exception";
  } catch (...) {
    return L"Unknown";
  }
}

void CheckPointer(const void* pointer, const wchar_t* name) {
  if (!pointer) throw PointerError(std::wstring(name) + L" is nill");
}

void CheckArgument(bool condition, const wchar_t* name) {
  if (!condition) throw ArgumentError(std::wstring(name) + L" has invalid value");
}

// ---- texts ----

namespace {

struct HResultName {
  DWORD value;
  const char* text;  // ASCII
};

const HResultName kHResultNames[] = {
    {0x00000000, "S_OK"},
    {0x00000001, "S_FALSE"},
    {0x8000000A, "E_PENDING"},
    {0x80004001, "E_NOTIMPL"},
    {0x80004002, "E_NOINTERFACE"},
    {0x80004003, "E_POINTER"},
    {0x80004005, "E_FAIL"},
    {0x8000FFFF, "E_UNEXPECTED"},
    {0x80040003, "OLE_E_ADVISENOTSUPPORTED"},
    {0x80040007, "OLE_E_BLANK"},
    {0x80040064, "DV_E_FORMATETC"},
    {0x80040069, "DV_E_TYMED"},
    {0x8004006B, "DV_E_DVASPECT"},
    {0x8007000E, "E_OUTOFMEMORY"},
    {0x80070057, "E_INVALIDARG"},
    {0x800C0002, "INET_E_INVALID_URL"},
    {0x800C0003, "INET_E_NO_SESSION"},
    {0x800C0004, "INET_E_CANNOT_CONNECT"},
    {0x800C0005, "INET_E_RESOURCE_NOT_FOUND"},
    {0x800C0006, "INET_E_OBJECT_NOT_FOUND"},
    {0x800C0007, "INET_E_DATA_NOT_AVAILABLE"},
    {0x800C0008, "INET_E_DOWNLOAD_FAILURE"},
    {0x800C0009, "INET_E_AUTHENTICATION_REQUIRED"},
    {0x800C000A, "INET_E_NO_VALID_MEDIA"},
    {0x800C000B, "INET_E_CONNECTION_TIMEOUT"},
    {0x800C000C, "INET_E_INVALID_REQUEST"},
    {0x800C000D, "INET_E_UNKNOWN_PROTOCOL"},
    {0x800C000E, "INET_E_SECURITY_PROBLEM"},
    {0x800C000F, "INET_E_CANNOT_LOAD_DATA"},
    {0x800C0010, "INET_E_CANNOT_INSTANTIATE_OBJECT"},
    {0x800C0011, "INET_E_USE_DEFAULT_PROTOCOLHANDLER or INET_E_DEFAULT_ACTION"},
    {0x800C0012, "INET_E_USE_DEFAULT_SETTING"},
    {0x800C0013, "INET_E_QUERYOPTION_UNKNOWN"},
    {0x800C0014, "INET_E_REDIRECTING or INET_E_REDIRECT_FAILED"},
    {0x800C0015, "INET_E_REDIRECT_TO_DIR"},
    {0x800C0016, "INET_E_CANNOT_LOCK_REQUEST"},
    {0x800C0017, "INET_E_USE_EXTEND_BINDING"},
    {0x800C0018, "INET_E_TERMINATED_BIND"},
    {0x800C0019, "INET_E_INVALID_CERTIFICATE"},
    {0x800C0100, "INET_E_CODE_DOWNLOAD_DECLINED"},
    {0x800C0200, "INET_E_RESULT_DISPATCHED"},
    {0x800C0300, "INET_E_CANNOT_REPLACE_SFP_FILE"},
    {0x800C0400, "INET_E_CODE_INSTALL_SUPPRESSED"},
    {0x800C0500, "INET_E_CODE_INSTALL_BLOCKED_BY_HASH_POLICY"},
};

// 0x800C0011: the protocol handler's "use the default" answer, a request for the caller, not a failure.
constexpr HRESULT kUseDefaultProtocolHandler = static_cast<HRESULT>(0x800C0011);

wchar_t HexDigit(unsigned value) { return L"0123456789ABCDEF"[value & 0xF]; }

std::wstring HexText(unsigned long long value, int digits) {
  std::wstring text(static_cast<size_t>(digits), L'0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = HexDigit(static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::wstring HResultToText(HRESULT hr) {
  const DWORD value = static_cast<DWORD>(hr);
  for (const HResultName& row : kHResultNames)
    if (row.value == value) return AsciiText(row.text);
  return Hex8(value);
}

std::wstring Hex8(DWORD value) { return HexText(value, 8); }

std::wstring PointerToText(const void* pointer) {
  return HexText(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)), 16);
}

std::wstring GuidToText(REFGUID guid) {
  std::wstring text = L"{" + HexText(guid.Data1, 8) + L"-" + HexText(guid.Data2, 4) + L"-" + HexText(guid.Data3, 4) + L"-";
  for (int i = 0; i < 8; ++i) {
    if (i == 2) text += L'-';
    text += HexText(guid.Data4[i], 2);
  }
  return text + L"}";
}

std::wstring FileTimeToText(const FILETIME& time) {
  std::wstring result = L"Invalid file time";
  SYSTEMTIME st{};
  if (!::FileTimeToSystemTime(&time, &st)) return result;
  try {
    wchar_t date[128];
    if (::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, static_cast<int>(std::size(date))) == 0)
      return result;
    std::wstring text = date;
    // The date alone at exactly midnight.
    if (st.wHour != 0 || st.wMinute != 0 || st.wSecond != 0 || st.wMilliseconds != 0) {
      wchar_t clock[128];
      if (::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, clock, static_cast<int>(std::size(clock))) == 0)
        return result;
      text += L' ';
      text += clock;
    }
    result = std::move(text);
  } catch (...) {
  }
  return result;
}

// ---- TqorShellInterfacedObject ----

TqorShellInterfacedObject::TqorShellInterfacedObject(std::wstring AClassName) : FClassName(std::move(AClassName)) {}

TqorShellInterfacedObject::~TqorShellInterfacedObject() {
  // Runs after the descendant's destructor: the object is gone but for its memory. An object whose
  // constructor raised was never logged as created, and its "is destroyed" would close a nesting level
  // that was never opened.
  if (!FConstructed) return;
  LogDestroyed(FClassName);
  LogSeparator();
}

void TqorShellInterfacedObject::AfterConstruction() noexcept {
  FConstructed = true;
  LogSeparator();
  LogCreated(FClassName);
}

HRESULT TqorShellInterfacedObject::QueryInterfaceImpl(REFIID iid, void** object) noexcept {
  if (!object) return E_POINTER;
  HRESULT hr = E_NOINTERFACE;
  *object = FindInterface(iid);
  if (*object) {
    AddRefImpl();
    hr = S_OK;
  }
  if (Logging()) {
    try {
      LogResult(FClassName + L".QueryInterface " + InterfaceIdToText(iid), hr);
    } catch (...) {
    }
  }
  return hr;
}

ULONG TqorShellInterfacedObject::AddRefImpl() noexcept {
  return static_cast<ULONG>(FRefCount.fetch_add(1, std::memory_order_relaxed) + 1);
}

ULONG TqorShellInterfacedObject::ReleaseImpl() noexcept {
  const LONG before = FRefCount.fetch_sub(1, std::memory_order_acq_rel);
  if (before == 1) delete this;
  return static_cast<ULONG>(before - 1);
}

bool TqorShellInterfacedObject::Logging() const noexcept {
  if (FDontLog && !LogAllObjects) return false;
  const TCodeSiteLogger* logger = CodeSite();
  return logger && logger->Active();
}

namespace {
// The logger when the line is to be written (gate open, sink set), else null.
TCodeSiteLogger* GatedLogger(const TqorShellInterfacedObject& object) noexcept {
  return object.Logging() ? CodeSite() : nullptr;
}

template <typename Send>
void SendLine(TCodeSiteLogger* logger, Send&& send) noexcept {
  if (!logger) return;
  try {
    send(*logger);
  } catch (...) {
    // A line that cannot be built (no memory left) is dropped; the call it describes goes on.
  }
}
}  // namespace

void TqorShellInterfacedObject::LogCreated(const std::wstring& label) noexcept {
  SendLine(GatedLogger(*this), [&](TCodeSiteLogger& log) { log.EnterMethod(label + L" is created"); });
}

void TqorShellInterfacedObject::LogStarted(const std::wstring& label) noexcept {
  SendLine(GatedLogger(*this), [&](TCodeSiteLogger& log) { log.EnterMethod(label + L" started"); });
}

void TqorShellInterfacedObject::LogInParam(const std::wstring& label, const std::wstring& name,
                                           const std::wstring& value) noexcept {
  SendLine(GatedLogger(*this), [&](TCodeSiteLogger& log) { log.SendMsg(label + L" in " + name + L"=" + value); });
}

void TqorShellInterfacedObject::LogException(const std::wstring& label, const std::exception_ptr& error) noexcept {
  // Not gated: an exception is written whenever the logger has a sink.
  TCodeSiteLogger* logger = CodeSite();
  if (!logger || !logger->Active()) return;
  SendLine(logger, [&](TCodeSiteLogger& log) {
    log.SendException(label + L" " + ExceptionClassName(error) + L" raised", error);
  });
}

void TqorShellInterfacedObject::LogOutParam(const std::wstring& label, const std::wstring& name,
                                            const std::wstring& value) noexcept {
  SendLine(GatedLogger(*this), [&](TCodeSiteLogger& log) { log.SendMsg(label + L" out " + name + L"=" + value); });
}

void TqorShellInterfacedObject::LogResult(const std::wstring& label, HRESULT hr) noexcept {
  SendLine(GatedLogger(*this), [&](TCodeSiteLogger& log) {
    const std::wstring line = label + L" out Result=" + HResultToText(hr);
    // A pending operation and "use the default handler" are answers, not failures.
    if (FAILED(hr) && hr != E_PENDING && hr != kUseDefaultProtocolHandler)
      log.SendError(line);
    else
      log.SendMsg(line);
  });
}

void TqorShellInterfacedObject::LogFinished(const std::wstring& label) noexcept {
  SendLine(GatedLogger(*this), [&](TCodeSiteLogger& log) { log.ExitMethod(label + L" finished"); });
}

void TqorShellInterfacedObject::LogDestroyed(const std::wstring& label) noexcept {
  SendLine(GatedLogger(*this), [&](TCodeSiteLogger& log) { log.ExitMethod(label + L" is destroyed"); });
}

void TqorShellInterfacedObject::LogSeparator() noexcept {
  SendLine(GatedLogger(*this), [](TCodeSiteLogger& log) { log.AddSeparator(); });
}

// ---- MethodFrame ----

MethodFrame::MethodFrame(TqorShellInterfacedObject& object, const wchar_t* labelSuffix) noexcept
    : object_(object), suffix_(labelSuffix), logging_(object.Logging()) {
  if (!logging_) return;
  try {
    label_ = object_.ClassName() + suffix_;
  } catch (...) {
    logging_ = false;
    return;
  }
  object_.LogStarted(label_);
}

void MethodFrame::Failed(const std::exception_ptr& error) noexcept {
  // The label is built here when the frame was not logging: exceptions are written past the gate.
  if (label_.empty()) {
    try {
      label_ = object_.ClassName() + suffix_;
    } catch (...) {
    }
  }
  object_.LogException(label_, error);
  result_ = ExceptionToHResult(error);
}

void MethodFrame::In(const wchar_t* name, const std::wstring& value) noexcept {
  if (!logging_) return;
  try {
    object_.LogInParam(label_, name, value);
  } catch (...) {
  }
}

void MethodFrame::Out(const wchar_t* name, const std::wstring& value) noexcept {
  if (!logging_ || result_ != S_OK) return;
  try {
    object_.LogOutParam(label_, name, value);
  } catch (...) {
  }
}

HRESULT MethodFrame::Finish() noexcept {
  if (logging_) {
    object_.LogResult(label_, result_);
    object_.LogFinished(label_);
  }
  return result_;
}

}  // namespace qor
