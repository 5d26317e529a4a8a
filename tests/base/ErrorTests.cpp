#include <gtest/gtest.h>

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
