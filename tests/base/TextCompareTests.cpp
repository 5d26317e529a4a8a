#include <gtest/gtest.h>

#include "TextCompare.h"

using namespace qor;

TEST(Text, UpperCaseAndSameTextAreLocaleAware) {
  EXPECT_EQ(UpperCase(L"totalcmd64.exe"), L"TOTALCMD64.EXE");
  EXPECT_EQ(UpperCase(L"\u00e4\u0436"), L"\u00c4\u0416");  // ä ж
  EXPECT_TRUE(SameText(L"Zip.WCX", L"zip.wcx"));
  EXPECT_TRUE(SameText(L"\u0436.wcx", L"\u0416.WCX"));
  EXPECT_FALSE(SameText(L"zip.wcx", L"zip.wcx64"));
  EXPECT_TRUE(SameText(L"", L""));
}
