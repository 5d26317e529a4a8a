#include <gtest/gtest.h>

#include <functional>
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
