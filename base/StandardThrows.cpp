// The standard library's raisers of its precondition errors, replaced for the whole program. The
// library's own (in its functexcept object) construct std::length_error, std::out_of_range and their
// kin, whose constructors keep the text in the library's old reference-counted string: linking them
// brings that second string implementation, its explicit instantiations and what they need in turn
// (some 50 KB of a 260 KB program). Here every one of them raises LibraryError with the same text;
// the program tells errors apart only as Error, std::bad_alloc and any other std::exception.
//
// A static link takes an archive member only for a symbol still undefined, so this file must define
// every raiser that the library's object defines: with one missing, that object would be linked as
// well and its definitions would clash with these.
#include <cstddef>
#include <exception>
#include <new>
#include <typeinfo>

#include "Error.h"

namespace qor {

namespace {
// Appends text to the buffer [*at, end), keeping room for the final NUL.
void Append(char*& at, char* end, const char* text) {
  while (*text && at + 1 < end) *at++ = *text++;
}

void AppendUnsigned(char*& at, char* end, size_t value) {
  char digits[24];
  char* p = digits + sizeof digits;
  *--p = '\0';
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Append(at, end, p);
}
}  // namespace

LibraryError::LibraryError(const char* text) noexcept {
  char* at = text_;
  Append(at, text_ + sizeof text_, text ? text : "");
  *at = '\0';
}

// The patterns the library passes use "%s", "%zu" and "%%" only, as its own formatter does; anything
// else is copied as written.
LibraryError::LibraryError(const char* pattern, va_list arguments) noexcept {
  char* at = text_;
  char* const end = text_ + sizeof text_;
  for (const char* p = pattern ? pattern : ""; *p && at + 1 < end; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      const char* text = va_arg(arguments, const char*);
      Append(at, end, text ? text : "");
      ++p;
    } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
      AppendUnsigned(at, end, va_arg(arguments, size_t));
      p += 2;
    } else if (p[0] == '%' && p[1] == '%') {
      *at++ = '%';
      ++p;
    } else {
      *at++ = *p;
    }
  }
  *at = '\0';
}

}  // namespace qor

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_logic_error(const char* text) { throw qor::LibraryError(text); }
void __throw_domain_error(const char* text) { throw qor::LibraryError(text); }
void __throw_invalid_argument(const char* text) { throw qor::LibraryError(text); }
void __throw_length_error(const char* text) { throw qor::LibraryError(text); }
void __throw_out_of_range(const char* text) { throw qor::LibraryError(text); }
void __throw_runtime_error(const char* text) { throw qor::LibraryError(text); }
void __throw_range_error(const char* text) { throw qor::LibraryError(text); }
void __throw_overflow_error(const char* text) { throw qor::LibraryError(text); }
void __throw_underflow_error(const char* text) { throw qor::LibraryError(text); }

void __throw_out_of_range_fmt(const char* pattern, ...) {
  va_list arguments;
  va_start(arguments, pattern);
  qor::LibraryError error(pattern, arguments);
  va_end(arguments);
  throw error;
}

}  // namespace std
