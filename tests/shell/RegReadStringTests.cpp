#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "qorShellBaseExtension.h"

using qor::RegReadString;

namespace {
const wchar_t kKey[] = L"Software\\QuorvexTests\\RegReadString";

struct ValueCase {
  const char* what;
  DWORD type;
  std::vector<BYTE> data;
  std::wstring expected;
};

std::vector<BYTE> Bytes(const std::wstring& text, bool withNul) {
  const BYTE* p = reinterpret_cast<const BYTE*>(text.c_str());
  return std::vector<BYTE>(p, p + (text.size() + (withNul ? 1 : 0)) * sizeof(wchar_t));
}
}  // namespace

class RegReadStringTest : public testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }
};

TEST_F(RegReadStringTest, ValuesOfEveryKindAndLength) {
  const std::wstring s255(255, L'a'), s256(256, L'b');
  const ValueCase cases[] = {
      {"path with NUL", REG_SZ, Bytes(L"C:\\TC\\wincmd.ini", true), L"C:\\TC\\wincmd.ini"},
      {"empty", REG_SZ, Bytes(L"", true), L""},
      {"255 chars + NUL (512 bytes) whole", REG_SZ, Bytes(s255, true), s255},
      {"256 chars + NUL (514 bytes) too long", REG_SZ, Bytes(s256, true), L""},
      {"expand sz stays unexpanded", REG_EXPAND_SZ, Bytes(L"%APPDATA%\\GHISLER\\wincmd.ini", true),
       L"%APPDATA%\\GHISLER\\wincmd.ini"},
      {"no NUL: last character lost", REG_SZ, Bytes(L"C:\\TC", false), L"C:\\T"},
      {"one char, no NUL", REG_SZ, Bytes(L"x", false), L""},
      {"dword read as text", REG_DWORD, {0x41, 0x00, 0x42, 0x00}, L"A"},
      {"binary odd length", REG_BINARY, {0x43, 0x00, 0x44}, L""},
      {"binary 5 bytes", REG_BINARY, {0x43, 0x00, 0x44, 0x00, 0x45}, L"C"},
      {"empty binary", REG_BINARY, {}, L""},
      {"extra NULs: cut at the first", REG_SZ, Bytes(std::wstring(L"C:\\TC\0\0\0", 8), true), L"C:\\TC"},
      {"expand sz with extra NULs", REG_EXPAND_SZ, Bytes(std::wstring(L"%X%\\a\0\0", 7), true), L"%X%\\a"},
      {"NUL in the middle", REG_SZ, Bytes(std::wstring(L"C:\\A\0B", 6), true), L"C:\\A"},
      {"only NULs", REG_SZ, Bytes(std::wstring(L"\0\0\0", 3), true), L""},
      {"multi sz", REG_MULTI_SZ, Bytes(std::wstring(L"a\0b\0", 4), true), std::wstring(L"a\0b\0", 4)},
  };
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(RegSetValueExW(key, L"V", 0, c.type, c.data.empty() ? nullptr : c.data.data(),
                             static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
    std::wstring got = RegReadString(HKEY_CURRENT_USER, kKey, L"V");
    EXPECT_EQ(got, c.expected) << "length " << got.size();
  }
  RegCloseKey(key);
}

TEST_F(RegReadStringTest, MissingKeyValueAndDefaultValue) {
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kKey, L"InstallDir"), L"");
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kKey, L"Missing"), L"");
  auto def = Bytes(L"default text", true);
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, def.data(), static_cast<DWORD>(def.size())), ERROR_SUCCESS);
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, kKey, L""), L"default text");
  RegCloseKey(key);
}
