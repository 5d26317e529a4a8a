#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <new>
#include <stdexcept>
#include <vector>

#include "Error.h"

using namespace qor;

TEST(SystemErrorText, CodeAndSystemMessage) {
  std::wstring t = SystemErrorText(ERROR_ACCESS_DENIED);
  EXPECT_EQ(t.rfind(L"System Error.  Code: 5.\r\n", 0), 0u) << testing::PrintToString(t);
  EXPECT_GT(t.size(), std::wstring(L"System Error.  Code: 5.\r\n").size()) << "no system message";
  EXPECT_NE(t.back(), L'\n');
  EXPECT_EQ(SystemErrorText(0), L"A call to an OS function failed");
}

TEST(SystemErrorText, RaiseLastOSErrorCarriesTheCode) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  try {
    RaiseLastOSError();
    FAIL() << "no exception";
  } catch (const OSError& e) {
    EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(e.message(), SystemErrorText(ERROR_FILE_NOT_FOUND));
  }
  EXPECT_NO_THROW(OleCheck(S_OK));
  EXPECT_NO_THROW(OleCheck(S_FALSE));
  try {
    OleCheck(E_NOTIMPL);
    FAIL() << "no exception";
  } catch (const OleSysError& e) {
    EXPECT_EQ(e.code(), E_NOTIMPL);
    EXPECT_FALSE(e.message().empty());
  }
}

// The program entry runs its window inside RunReportingErrors: whatever escapes is shown, and the
// shut-downs after it still run.
TEST(RunReportingErrors, EveryKindOfRaisedObjectIsReportedAndGivesExitCodeOne) {
  struct Case {
    const char* what;
    std::function<int()> body;
    std::wstring expected;
  };
  const Case cases[] = {
      {"qor::Error", [] () -> int { throw Error(L"Die Datei fehlt"); }, L"Die Datei fehlt"},
      {"OSError", [] () -> int { RaiseOSError(ERROR_ACCESS_DENIED); }, SystemErrorText(ERROR_ACCESS_DENIED)},
      {"std::runtime_error", [] () -> int { throw std::runtime_error("boom"); }, L"boom"},
      {"UTF-8 what()", [] () -> int { throw std::runtime_error("gro\xC3\x9F"); }, L"gro\u00DF"},
      {"std::bad_alloc", [] () -> int { throw std::bad_alloc(); }, L"Out of memory"},
      {"an int", [] () -> int { throw 42; }, L"Unexpected error"},
      {"empty what()", [] () -> int { throw std::runtime_error(""); }, L"Unexpected error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::wstring> reports;
    int code = RunReportingErrors(c.body, [&](const std::wstring& text) { reports.push_back(text); });
    EXPECT_EQ(code, 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], c.expected);
  }
}

TEST(RunReportingErrors, NormalEndReturnsTheBodysCodeAndAFailingReportIsContained) {
  int reported = 0;
  EXPECT_EQ(RunReportingErrors([] { return 7; }, [&](const std::wstring&) { ++reported; }), 7);
  EXPECT_EQ(reported, 0);
  // A report that raises (the message box could not be shown) does not take the shut-downs with it.
  EXPECT_EQ(RunReportingErrors([] () -> int { throw 1; }, [](const std::wstring&) { throw std::bad_alloc(); }), 1);
  EXPECT_EQ(ExceptionText(nullptr), L"");
}

// The standard library's precondition errors arrive as LibraryError with the library's own text, and
// the program's one catch shows that text; running out of memory is still std::bad_alloc.
TEST(LibraryError, TheLibrarysPreconditionErrorsCarryItsText) {
  struct Case {
    const char* what;
    std::function<void()> body;
    const char* expected;
  };
  volatile size_t past = 5;  // not a constant, so the compiler cannot see the broken precondition
  const Case cases[] = {
      {"substr past the end", [&] { (void)std::string("abc").substr(past); },
       "basic_string::substr: __pos (which is 5) > this->size() (which is 3)"},
      {"wide substr past the end", [&] { (void)std::wstring(L"ab").substr(past); },
       "basic_string::substr: __pos (which is 5) > this->size() (which is 2)"},
      {"vector::at", [&] { (void)std::vector<int>(2).at(past); },
       "vector::_M_range_check: __n (which is 5) >= this->size() (which is 2)"},
      {"vector beyond max_size", [] { std::vector<int> v; v.reserve(v.max_size() + 1); }, "vector::reserve"},
      {"string from null", [] {
         const wchar_t* volatile none = nullptr;
         std::wstring text(none);
       },
       "basic_string: construction from null is not valid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::exception_ptr raised;
    try {
      c.body();
    } catch (const LibraryError& e) {
      EXPECT_STREQ(e.what(), c.expected);
      raised = std::current_exception();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "raised as another type: " << e.what();
    }
    ASSERT_TRUE(raised) << "nothing raised";
    const std::string expected(c.expected);
    EXPECT_EQ(ExceptionText(raised), std::wstring(expected.begin(), expected.end()));
  }
}

TEST(LibraryError, OutOfMemoryStaysBadAllocAndLongTextsAreCut) {
  std::allocator<int> allocator;
  const struct {
    const char* what;
    size_t count;
  } sizes[] = {
      {"more than memory can hold", static_cast<size_t>(PTRDIFF_MAX) / sizeof(int) + 1},
      {"more than size_t can count", SIZE_MAX / sizeof(int) + 1},
  };
  for (const auto& s : sizes) {
    SCOPED_TRACE(s.what);
    EXPECT_THROW((void)allocator.allocate(s.count), std::bad_alloc);
  }
  const std::string longText(400, 'x');
  EXPECT_EQ(std::string(LibraryError(longText.c_str()).what()), longText.substr(0, 255));
  EXPECT_STREQ(LibraryError(nullptr).what(), "");
}
