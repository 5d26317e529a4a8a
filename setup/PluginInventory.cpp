#include "PluginInventory.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Handles.h"
#include "Paths.h"
#include "TotalCommanderLocation.h"

namespace qor {

namespace {

constexpr wchar_t kSection[] = L"PackerPlugins";
constexpr wchar_t kProxyDescription[] = L"WCX proxy plugin";

struct IniEntry {
  std::wstring key, value;
};

std::wstring Trim(const std::wstring& text) {
  size_t b = text.find_first_not_of(L" \t");
  if (b == std::wstring::npos) return {};
  size_t e = text.find_last_not_of(L" \t");
  return text.substr(b, e - b + 1);
}

// A value as GetPrivateProfileStringW gives it: one pair of enclosing quotes removed, double or single
// alike, as long as the closing quote matches the opening one ("a' stays as it is).
std::wstring StripEnclosingQuotes(const std::wstring& value) {
  if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// The section's entries in file order, read in one call (a lookup per key would read the file once per
// plugin). As the profile functions do: names and values are trimmed, one pair of enclosing quotes is
// removed from a value, and a name that occurs twice gives the first occurrence's value for both.
std::vector<IniEntry> ReadSection(const std::wstring& file) {
  std::vector<IniEntry> entries;
  if (file.empty()) return entries;
  std::vector<wchar_t> buffer(1 << 16);
  DWORD n;
  for (;;) {
    n = ::GetPrivateProfileSectionW(kSection, buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    if (n < buffer.size() - 2 || buffer.size() >= (1u << 26)) break;
    buffer.resize(buffer.size() * 4);
  }
  std::unordered_map<std::wstring, std::wstring> firstValues;
  for (size_t start = 0; start < n;) {
    const wchar_t* line = buffer.data() + start;
    size_t length = wcsnlen(line, n - start);
    start += length + 1;
    std::wstring text(line, length);
    size_t eq = text.find(L'=');
    std::wstring key = Trim(text.substr(0, eq));
    if (key.empty()) continue;
    const std::wstring value = eq == std::wstring::npos ? std::wstring() : StripEnclosingQuotes(Trim(text.substr(eq + 1)));
    auto [it, added] = firstValues.emplace(UpperCase(key), value);
    entries.push_back({key, it->second});
  }
  return entries;
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
std::wstring PluginSectionFile(const std::wstring& wincmdIni, const std::vector<IniEntry>& entries) {
  for (const auto& entry : entries) {
    if (SameText(entry.key, kRedirectSectionKey)) return RedirectTarget(wincmdIni, entry.value);
  }
  return wincmdIni;
}

// Whether the siblings exist, one folder listing at a time. Under Wine a test for an absent name reads
// the whole folder (names are matched without regard to case), so testing every sibling of a folder of
// n plugins cost n folder reads: most of the inventory's time beyond the version reads at 1000 plugins.
// A name the listing lacks does not exist; a name it has is still tested by the system, which follows
// symbolic links. Folders that are not fully qualified, or cannot be listed, are asked name by name.
class SiblingFinder {
 public:
  bool Exists(const std::wstring& path) {
    const std::wstring folder = ExtractFileDir(path);
    if (!Listable(folder)) return FileExists(path);
    auto [it, added] = folders_.try_emplace(UpperCase(folder));
    if (added) it->second = List(folder);
    if (it->second && it->second->count(UpperCase(ExtractFileName(path))) == 0) return false;
    return FileExists(path);
  }

 private:
  using Names = std::unordered_set<std::wstring>;

  static bool Listable(const std::wstring& folder) {
    const bool qualified = (folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\') ||
                           (folder.size() >= 2 && folder[0] == L'\\' && folder[1] == L'\\');
    return qualified && folder.find_first_of(L"*?") == std::wstring::npos;
  }

  // The folder's names, long and short, upper-cased; nothing when the folder cannot be listed.
  static std::optional<Names> List(const std::wstring& folder) {
    WIN32_FIND_DATAW data{};
    FindHandle find(::FindFirstFileW(JoinPath(folder, L"*").c_str(), &data));
    if (!find) return std::nullopt;
    Names names;
    do {
      names.insert(UpperCase(data.cFileName));
      if (data.cAlternateFileName[0]) names.insert(UpperCase(data.cAlternateFileName));
    } while (::FindNextFileW(find.get(), &data));
    return names;
  }

  std::unordered_map<std::wstring, std::optional<Names>> folders_;
};

}  // namespace

std::wstring PluginPath(const PluginList& list, int index) {
  return JoinPath(list.Folder(index), list.Caption(index));
}

std::wstring ProxySiblingPath(const std::wstring& pluginPath) { return ChangeFileExt(pluginPath, L".wcx64"); }

bool IsProxyPluginCopy(const std::wstring& file) {
  // A version resource is at most 65535 bytes (its length is a WORD); with the room the system adds for
  // its conversions it always fits in 128 KiB. One read instead of asking for the size first halves the
  // cost per sibling, which dominates the scan of a large wincmd.ini.
  static thread_local std::vector<BYTE> data(128 * 1024);
  // The buffer is reused: a damaged resource whose block lengths reach past the bytes the system copies
  // would otherwise read the rest from the previous sibling, and a real build could pass for a proxy copy.
  std::fill(data.begin(), data.end(), BYTE{0});
  if (!::GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(data.size()), data.data())) return false;
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
  // The value ends at its length (in characters), or at a NUL before it.
  return std::wstring(description, wcsnlen(description, length)) == kProxyDescription;
}

std::wstring RedirectTarget(const std::wstring& wincmdIni, const std::wstring& value) {
  std::wstring target = ExpandEnvStr(value);
  if (target.empty()) return {};
  const bool absolute = target[0] == L'\\' || (target.size() >= 2 && target[1] == L':');
  return absolute ? target : JoinPath(ExtractFileDir(wincmdIni), target);
}

std::wstring StripNumericPrefix(const std::wstring& value) {
  size_t comma = value.find(L',');
  if (comma != std::wstring::npos && IsInteger(value.substr(0, comma))) return value.substr(comma + 1);
  return value;
}

void PluginInventory(const std::wstring& wincmdIni, PluginList& list) {
  try {
    list.Clear();
    std::vector<IniEntry> entries = ReadSection(wincmdIni);
    const std::wstring sectionFile = PluginSectionFile(wincmdIni, entries);
    if (sectionFile != wincmdIni) entries = ReadSection(sectionFile);
    // Plugin paths already listed, upper-cased: the duplicate test without walking the list each time.
    std::unordered_set<std::wstring> listed;
    SiblingFinder siblings;
    for (const auto& entry : entries) {
      if (SameText(entry.key, kRedirectSectionKey)) continue;
      std::wstring value = ExpandEnvStr(entry.value);
      if (value.empty()) continue;
      const std::wstring plugin = StripNumericPrefix(value);
      const std::wstring sibling = ProxySiblingPath(plugin);
      if (siblings.Exists(sibling) && !IsProxyPluginCopy(sibling)) continue;  // a real 64-bit build
      if (!listed.insert(UpperCase(plugin)).second) continue;
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
