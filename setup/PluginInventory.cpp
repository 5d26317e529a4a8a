#include "PluginInventory.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "Paths.h"
#include "TotalCommanderLocation.h"

namespace qor {

namespace {

constexpr wchar_t kSection[] = L"PackerPlugins";
constexpr wchar_t kRedirectKey[] = L"RedirectSection";
constexpr wchar_t kProxyDescription[] = L"WCX proxy plugin";

// GetPrivateProfileStringW into a buffer that grows until the whole result fits. A null key gives the
// section's key names, each ending in NUL.
std::wstring ReadProfile(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
  std::vector<wchar_t> buffer(1024);
  for (;;) {
    DWORD n = ::GetPrivateProfileStringW(section, key, L"", buffer.data(), static_cast<DWORD>(buffer.size()),
                                         file.c_str());
    // A truncated result fills the buffer up to size - 1 (a single value) or size - 2 (a list).
    DWORD full = static_cast<DWORD>(buffer.size()) - (key ? 1 : 2);
    if (n < full || buffer.size() >= (1u << 24)) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 4);
  }
}

std::vector<std::wstring> KeyNames(const std::wstring& file) {
  std::vector<std::wstring> names;
  if (file.empty()) return names;
  std::wstring all = ReadProfile(file, kSection, nullptr);
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find(L'\0', start);
    if (end == std::wstring::npos) end = all.size();
    if (end > start) names.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

bool IsInteger(const std::wstring& text) {
  size_t i = (!text.empty() && (text[0] == L'-' || text[0] == L'+')) ? 1 : 0;
  if (i >= text.size()) return false;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
    value = value * 10 + (text[i] - L'0');
    if (value > 0x80000000LL) return false;
  }
  return true;
}

// The file whose section "PackerPlugins" holds the plugins: wincmd.ini itself, or the file its
// "RedirectSection" key names (environment references expanded, relative to wincmd.ini's folder).
std::wstring PluginSectionFile(const std::wstring& wincmdIni, const std::vector<std::wstring>& keys) {
  for (const auto& key : keys) {
    if (!SameText(key, kRedirectKey)) continue;
    std::wstring target = ExpandEnvStr(ReadProfile(wincmdIni, kSection, key.c_str()));
    if (target.empty()) return {};
    bool absolute = target.size() >= 2 && (target[1] == L':' || (target[0] == L'\\' && target[1] == L'\\'));
    if (!absolute) target = JoinPath(ExtractFileDir(wincmdIni), target[0] == L'\\' ? target.substr(1) : target);
    return target;
  }
  return wincmdIni;
}

}  // namespace

std::wstring PluginPath(const PluginList& list, int index) {
  return JoinPath(list.Folder(index), list.Caption(index));
}

std::wstring ProxySiblingPath(const std::wstring& pluginPath) { return ChangeFileExt(pluginPath, L".wcx64"); }

bool IsProxyPluginCopy(const std::wstring& file) {
  DWORD handle = 0;
  DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &handle);
  if (size == 0) return false;
  std::vector<BYTE> data(size);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return false;
  struct Translation {
    WORD language, codePage;
  };
  Translation* translations = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                        &length) ||
      !translations || length < sizeof(Translation))
    return false;
  wchar_t block[64];
  swprintf(block, 64, L"\\StringFileInfo\\%04X%04X\\FileDescription", translations[0].language,
           translations[0].codePage);
  wchar_t* description = nullptr;
  if (!::VerQueryValueW(data.data(), block, reinterpret_cast<void**>(&description), &length) || !description)
    return false;
  return std::wstring(description) == kProxyDescription;
}

std::wstring StripNumericPrefix(const std::wstring& value) {
  size_t comma = value.find(L',');
  if (comma != std::wstring::npos && IsInteger(value.substr(0, comma))) return value.substr(comma + 1);
  return value;
}

void PluginInventory(const std::wstring& wincmdIni, PluginList& list) {
  try {
    list.Clear();
    std::vector<std::wstring> keys = KeyNames(wincmdIni);
    const std::wstring sectionFile = PluginSectionFile(wincmdIni, keys);
    if (sectionFile != wincmdIni) keys = KeyNames(sectionFile);
    for (const auto& key : keys) {
      if (SameText(key, kRedirectKey)) continue;
      std::wstring value = ExpandEnvStr(ReadProfile(sectionFile, kSection, key.c_str()));
      if (value.empty()) continue;
      const std::wstring plugin = StripNumericPrefix(value);
      const std::wstring sibling = ProxySiblingPath(plugin);
      if (FileExists(sibling) && !IsProxyPluginCopy(sibling)) continue;  // a real 64-bit build
      bool listed = false;
      for (int i = 0; i < list.Count() && !listed; ++i) listed = SameText(PluginPath(list, i), plugin);
      if (listed) continue;
      list.AddTicked(ExtractFileName(plugin), ExtractFileDir(plugin));
    }
  } catch (...) {
    // The inventory reports nothing; what was found so far stays listed.
  }
}

bool AnyPluginTicked(const PluginList& list) {
  for (int i = 0; i < list.Count(); ++i)
    if (list.Checked(i)) return true;
  return false;
}

}  // namespace qor
