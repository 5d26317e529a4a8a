#include <gtest/gtest.h>

#include <windows.h>

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

TEST(DecimalText, WritesEveryLongLong) {
  const struct {
    long long value;
    const wchar_t* text;
  } cases[] = {
      {0, L"0"},
      {7, L"7"},
      {-7, L"-7"},
      {1000, L"1000"},
      {4294967295LL, L"4294967295"},
      {9223372036854775807LL, L"9223372036854775807"},
      {-9223372036854775807LL - 1, L"-9223372036854775808"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(qor::DecimalText(c.value), c.text);
  }
}

TEST(DecimalText, EveryIntegerTypeAndZeroPadding) {
  EXPECT_EQ(qor::DecimalText(18446744073709551615ULL), L"18446744073709551615");
  EXPECT_EQ(qor::DecimalText(static_cast<DWORD>(4294967295u)), L"4294967295");
  EXPECT_EQ(qor::DecimalText(static_cast<short>(-32768)), L"-32768");
  EXPECT_EQ(qor::DecimalText(static_cast<unsigned short>(2024), 4), L"2024");
  EXPECT_EQ(qor::DecimalText(7u, 3), L"007");
  EXPECT_EQ(qor::DecimalText(-7, 3), L"-007");
  EXPECT_EQ(qor::DecimalText(12345u, 2), L"12345") << "never cut";
}

TEST(AlignText, PadsWithBlanksButNeverCuts) {
  EXPECT_EQ(qor::AlignRight(L"42", 5), L"   42");
  EXPECT_EQ(qor::AlignLeft(L"Msg", 9), L"Msg      ");
  EXPECT_EQ(qor::AlignRight(L"123456", 5), L"123456");
  EXPECT_EQ(qor::AlignLeft(L"Separator", 9), L"Separator");
  EXPECT_EQ(qor::AlignRight(L"", 2), L"  ");
}

TEST(HexText, PadsToTheWidthButNeverCuts) {
  const struct {
    unsigned long long value;
    int minDigits;
    const wchar_t* text;
  } cases[] = {
      {0, 1, L"0"},
      {0, 4, L"0000"},
      {0x409, 4, L"0409"},
      {0x04B0, 4, L"04B0"},
      {0xabcdef, 4, L"ABCDEF"},
      {0x80004005ULL, 8, L"80004005"},
      {0x1A, 8, L"0000001A"},
      {0xFFFFFFFFFFFFFFFFULL, 1, L"FFFFFFFFFFFFFFFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(qor::HexText(c.value, c.minDigits), c.text);
  }
}
