#include "SetupTestSupport.h"

#include "TotalCommanderLocation.h"

namespace qortest {

void WriteFileUtf16(const std::wstring& path, const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  WriteFileBytes(path, bytes);
}

TotalCommanderRegistry::TotalCommanderRegistry() { Clear(); }
TotalCommanderRegistry::~TotalCommanderRegistry() { Clear(); }

void TotalCommanderRegistry::Clear() {
  RegDeleteTreeW(HKEY_CURRENT_USER, qor::kTotalCommanderKey);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, qor::kTotalCommanderKey);
}

void TotalCommanderRegistry::SetRaw(HKEY root, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(root, qor::kTotalCommanderKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

void TotalCommanderRegistry::SetString(HKEY root, const wchar_t* name, const std::wstring& value, DWORD type) {
  SetRaw(root, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace qortest
