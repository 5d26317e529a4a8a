// The reference-counted base of the shell library's COM objects, which describes every call it receives
// in the diagnostic log, and the naming tables, checks and exception mapping the log uses.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <exception>
#include <span>
#include <string>

#include "Error.h"

namespace qor {

// The library's own exception kinds. Both carry no text of their own unless given one.
class EUninitializedObject : public Error {
 public:
  EUninitializedObject() : Error(L"") {}
  using Error::Error;
};
class EStorageAccessDenied : public Error {
 public:
  EStorageAccessDenied() : Error(L"") {}
  using Error::Error;
};

// The HRESULT an exception stands for at a COM boundary, tested in this order (descendants included):
// std::bad_alloc → E_OUTOFMEMORY; OSError → 0x80070000 | low 16 bits of its code, or E_FAIL for code 0
// (a failure that left no code is still a failure, never S_OK); ArgumentError → E_INVALIDARG; PointerError → E_POINTER; EUninitializedObject → OLE_E_BLANK;
// EStorageAccessDenied → STG_E_ACCESSDENIED; anything else (OleSysError included) → E_UNEXPECTED.
// A null pointer gives E_UNEXPECTED.
HRESULT ExceptionToHResult(const std::exception_ptr& error) noexcept;

// The class name the log shows for a raised object ("EOSError", "EOleSysError", "EInvalidPointer",
// "EArgumentException", "EOutOfMemory", "EFileStreamError", "EUninitializedObject",
// "EStorageAccessDenied", "Exception" for a plain Error or another standard exception, "Unknown" for
// anything else).
std::wstring ExceptionClassName(const std::exception_ptr& error) noexcept;

// Raise PointerError "<name> is nill" for a null pointer / ArgumentError "<name> has invalid value"
// when the condition is false.
void CheckPointer(const void* pointer, const wchar_t* name);
void CheckArgument(bool condition, const wchar_t* name);

// One of the 44 known texts, otherwise the value as 8 upper-case hex digits (two's complement).
std::wstring HResultToText(HRESULT hr);
// The name of an interface identifier (the five rules: known table, registry name + " (from Registry)",
// nameless ones in registry form, the runtime's internal interface with a suffix, "?" + registry form).
std::wstring InterfaceIdToText(REFIID iid);
// The identifiers InterfaceIdToText names from its own tables, in the order they are compared: the
// known ones with their texts, and the ones shown without a name.
struct KnownInterfaceId {
  GUID iid;
  const char* text;  // ASCII: half the bytes of a wide table of 192 names
};
// An ASCII text as wide text.
std::wstring AsciiText(const char* text);
std::span<const KnownInterfaceId> KnownInterfaceIds() noexcept;
std::span<const GUID> NamelessInterfaceIds() noexcept;
// The interface that the runtime uses internally (named with the suffix), and the library's own
// internal namespace-folder interface.
extern const GUID IID_RuntimeInternalInterface;
extern const GUID IID_IqorShellNameSpaceFolder;
// The 38-character registry form: braces, hyphens, upper-case hex digits.
std::wstring GuidToText(REFGUID guid);
// The time as it is (no local-time conversion): the user's short date, a blank and the long time, the
// time left out at exactly midnight; "Invalid file time" when it cannot be converted.
std::wstring FileTimeToText(const FILETIME& time);

// A COM object that counts its references atomically and logs its life and its calls.
//
// A descendant implements its interfaces (deriving from them), answers their IUnknown methods with
// the three *Impl calls below, and lists its interfaces in FindInterface. Objects are made with
// CreateShellObject, which runs the after-construction step (separator, "is created") once the
// constructors have finished; the base's destructor logs "is destroyed" and a separator after the
// descendant's destructor has run. The count starts at 0: the first interface handed out takes it to 1,
// and the Release that takes it from 1 to 0 deletes the object on the calling thread.
class TqorShellInterfacedObject {
 public:
  TqorShellInterfacedObject(const TqorShellInterfacedObject&) = delete;
  TqorShellInterfacedObject& operator=(const TqorShellInterfacedObject&) = delete;

  HRESULT QueryInterfaceImpl(REFIID iid, void** object) noexcept;
  ULONG AddRefImpl() noexcept;
  ULONG ReleaseImpl() noexcept;

  const std::wstring& ClassName() const noexcept { return FClassName; }
  LONG RefCount() const noexcept { return FRefCount.load(); }

  // The log lines. All but LogException write only when FDontLog is false or LogAllObjects is true,
  // and only when the logger is active; none raises.
  void LogCreated(const std::wstring& label) noexcept;
  void LogStarted(const std::wstring& label) noexcept;
  void LogInParam(const std::wstring& label, const std::wstring& name, const std::wstring& value) noexcept;
  void LogException(const std::wstring& label, const std::exception_ptr& error) noexcept;
  void LogOutParam(const std::wstring& label, const std::wstring& name, const std::wstring& value) noexcept;
  void LogResult(const std::wstring& label, HRESULT hr) noexcept;
  void LogFinished(const std::wstring& label) noexcept;
  void LogDestroyed(const std::wstring& label) noexcept;
  void LogSeparator() noexcept;

  // True when the gate lets lines through and the logger is active: a method builds the texts of its
  // lines only then, so that an object with no sink behind it costs next to nothing.
  bool Logging() const noexcept;

  // Run once by CreateShellObject.
  void AfterConstruction() noexcept;

 protected:
  explicit TqorShellInterfacedObject(std::wstring AClassName);
  virtual ~TqorShellInterfacedObject();

  // The interface for iid (IUnknown included), not yet counted, or null.
  virtual void* FindInterface(REFIID iid) noexcept = 0;

  bool FDontLog = false;

 private:
  std::atomic<LONG> FRefCount{0};
  std::wstring FClassName;
  bool FConstructed = false;  // set by AfterConstruction
};

template <typename T, typename... Args>
T* CreateShellObject(Args&&... args) {
  T* object = new T(std::forward<Args>(args)...);
  object->AfterConstruction();
  return object;
}

// The frame of one logged COM method: "started", the inputs, the body under an exception guard
// (LogException and ExceptionToHResult), the outputs, the result line and "finished". The result
// starts as E_FAIL. Nothing escapes.
//
//   MethodFrame frame(*this, L".IStream.Seek");    // label = class name + suffix; logs "started"
//   if (frame.Logging()) frame.In(L"AMove", ...);
//   frame.Run([&] { ...; return S_OK; });
//   if (frame.Logging()) frame.Out(L"ANewPosition", ...);   // written only when the result is S_OK
//   return frame.Finish();                                   // result and "finished" lines
class MethodFrame {
 public:
  MethodFrame(TqorShellInterfacedObject& object, const wchar_t* labelSuffix) noexcept;
  bool Logging() const noexcept { return logging_; }
  void In(const wchar_t* name, const std::wstring& value) noexcept;
  template <typename Body>
  void Run(Body&& body) noexcept {
    try {
      result_ = body();
    } catch (...) {
      Failed(std::current_exception());
    }
  }
  // An out line: only when the result is S_OK.
  void Out(const wchar_t* name, const std::wstring& value) noexcept;
  // An in line written after the body (CopyTo logs its totals this way, whatever the result).
  void InAfter(const wchar_t* name, const std::wstring& value) noexcept { In(name, value); }
  HRESULT Result() const noexcept { return result_; }
  void SetResult(HRESULT hr) noexcept { result_ = hr; }
  HRESULT Finish() noexcept;

 private:
  // LogException (written past the gate) and the exception's HRESULT as the result.
  void Failed(const std::exception_ptr& error) noexcept;

  TqorShellInterfacedObject& object_;
  const wchar_t* suffix_;
  std::wstring label_;  // built only when the frame logs, or when an exception is to be written
  bool logging_;
  HRESULT result_ = E_FAIL;
};

// Texts for the log lines: a pointer as 16 hex digits, a 32-bit value as 8 hex digits.
std::wstring PointerToText(const void* pointer);
std::wstring Hex8(DWORD value);

}  // namespace qor
