#include <gtest/gtest.h>

#include "Format.h"

using qor::FormatText;

TEST(FormatText, FillsPlaceholdersInOrder) {
  EXPECT_EQ(FormatText(L"Resource %s not found", {std::wstring(L"DATA")}), L"Resource DATA not found");
  EXPECT_EQ(FormatText(L"Code: %d. %s", {42LL, std::wstring(L"x")}), L"Code: 42. x");
  EXPECT_EQ(FormatText(L"%d", {-7LL}), L"-7");
}

TEST(FormatText, CatalogueTextCannotReachMissingArguments) {
  // More placeholders than arguments: the extra ones stay as written, nothing is read past the list.
  EXPECT_EQ(FormatText(L"%s and %s and %d", {std::wstring(L"a")}), L"a and %s and %d");
  EXPECT_EQ(FormatText(L"%n %x %p 100%% %", {}), L"%n %x %p 100% %");
  EXPECT_EQ(FormatText(L"plain", {std::wstring(L"unused")}), L"plain");
  // An argument that itself holds a placeholder is not expanded again.
  EXPECT_EQ(FormatText(L"[%s] %s", {std::wstring(L"%s"), std::wstring(L"b")}), L"[%s] b");
}
