// The one error type of the program and the text of system errors.
#pragma once
#include <windows.h>
#include <cstdarg>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace qor {

// An error that carries the text shown to the user. Raised inside a procedure and caught in one place.
class Error : public std::exception {
 public:
  explicit Error(std::wstring message) : message_(std::move(message)) {}
  const std::wstring& message() const noexcept { return message_; }
  const char* what() const noexcept override { return "qor::Error"; }

 private:
  std::wstring message_;
};

// A failed operating-system call; the message is SystemErrorText(code).
class OSError : public Error {
 public:
  explicit OSError(DWORD code);
  DWORD code() const noexcept { return code_; }

 private:
  DWORD code_;
};

// A failed COM call (negative HRESULT); the message is the system's text for the HRESULT.
class OleSysError : public Error {
 public:
  explicit OleSysError(HRESULT hr);
  HRESULT code() const noexcept { return hr_; }

 private:
  HRESULT hr_;
};

// A null pointer where an object is required (the runtime's EInvalidPointer).
class PointerError : public Error {
 public:
  using Error::Error;
};

// An argument outside the values it may take (the runtime's EArgumentException).
class ArgumentError : public Error {
 public:
  using Error::Error;
};

// A file stream that cannot be opened as asked: a mode outside its bit groups (EFileStreamError).
// A failing CreateFileW is an OSError instead.
class FileStreamError : public Error {
 public:
  using Error::Error;
};

// Running out of memory is std::bad_alloc throughout; it has no type of its own here.

// What the standard library raises for a broken precondition: an index past the end (substr, at), a
// length beyond max_size(), a null pointer for a string. The program replaces the library's own
// raisers (base/StandardThrows.cpp), whose std::logic_error and std::runtime_error families would bring
// in a second string implementation of some 50 KB; this one type carries the same text as what().
// Catch std::exception (or LibraryError), never std::out_of_range or std::length_error: those are not
// raised. std::bad_alloc and std::bad_array_new_length stay as they are.
class LibraryError : public std::exception {
 public:
  // Copies text (cut to the buffer), or the printf-style pattern filled with its arguments.
  explicit LibraryError(const char* text) noexcept;
  LibraryError(const char* pattern, va_list arguments) noexcept;
  const char* what() const noexcept override { return text_; }

 private:
  char text_[256];
};

// The system's own message for an error code, without trailing line breaks or blanks;
// empty when the system has none.
std::wstring SystemMessage(DWORD code);

// "System Error.  Code: <code>." CR LF <system message>; for code 0 "A call to an OS function failed".
std::wstring SystemErrorText(DWORD code);

// Raises OSError for GetLastError().
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(DWORD code);

// Raises OleSysError when hr is negative.
void OleCheck(HRESULT hr);

// The text to show for any raised object: an Error's message, a standard exception's what() (read as
// UTF-8, else in the ANSI code page), or a fixed text for anything else. A null pointer gives the empty
// text.
std::wstring ExceptionText(const std::exception_ptr& error) noexcept;

// The program entry's one catch: runs body and returns its result. Whatever body raises, of any type,
// is handed to report as ExceptionText and gives the exit code 1; nothing escapes, so the caller's
// shut-downs always run. What report itself raises is dropped.
int RunReportingErrors(const std::function<int()>& body,
                       const std::function<void(const std::wstring&)>& report) noexcept;

}  // namespace qor
