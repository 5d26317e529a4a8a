// The plugin inventory on a mutated wincmd.ini (part 0) and the file its RedirectSection may name
// (part 1, written as plugins.ini beside it), ANSI or UTF-16. The plugin folder %QOR_FUZZ_P% holds a real
// 64-bit sibling (real.wcx64) and a proxy copy (proxy.wcx64). The list must be what the system's own
// profile functions give for the section's keys, each value read by its name with
// GetPrivateProfileStringW, and nothing may be written.
#include <algorithm>
#include <optional>

#include "Fuzzer.h"
#include "FileSystem.h"
#include "PathParts.h"
#include "TextCompare.h"
#include "PluginInventory.h"
#include "Sandbox.h"
#include "TotalCommanderLocation.h"
#include "VectorPluginList.h"

namespace qortest::fuzz {
namespace {

constexpr wchar_t kSection[] = L"PackerPlugins";

using Item = VectorPluginList::Item;
bool SameItems(const std::vector<Item>& a, const std::vector<Item>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Item& x, const Item& y) {
    return x.caption == y.caption && x.folder == y.folder && x.checked == y.checked;
  });
}

// The test list, in the order the scan adds the items (file order), so that order is compared too.
struct ListOfItems : VectorPluginList {
  void AddTicked(const std::wstring& caption, const std::wstring& folder) override {
    items.push_back({caption, folder, true});
  }
};

// The key names of the section in file order: each line of GetPrivateProfileSectionW up to its first
// "=", without the blanks around it. (Wine's key enumeration, GetPrivateProfileStringW without a key
// name, drops names after some damaged lines that its section reading keeps, so it cannot serve here.)
// nullopt when the section does not fit the buffer.
std::optional<std::vector<std::wstring>> SystemKeys(const std::wstring& file) {
  static std::vector<wchar_t> buffer(1 << 18);
  const DWORD n = GetPrivateProfileSectionW(kSection, buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
  if (n >= buffer.size() - 2) return std::nullopt;
  std::vector<std::wstring> keys;
  for (size_t at = 0; at < n;) {
    const std::wstring line(buffer.data() + at);
    at += line.size() + 1;
    std::wstring key = line.substr(0, line.find(L'='));
    const size_t first = key.find_first_not_of(L" \t"), last = key.find_last_not_of(L" \t");
    keys.push_back(first == std::wstring::npos ? std::wstring() : key.substr(first, last - first + 1));
  }
  return keys;
}

std::wstring SystemValue(const std::wstring& file, const std::wstring& key) {
  static std::vector<wchar_t> buffer(1 << 17);
  const DWORD n = GetPrivateProfileStringW(kSection, key.c_str(), L"", buffer.data(),
                                           static_cast<DWORD>(buffer.size()), file.c_str());
  return std::wstring(buffer.data(), n);
}

class InventoryTarget : public Target {
 public:
  const char* Name() const override { return "inventory"; }

  void Prepare() override {
    box_.Make(Name());
    plugins_ = box_ / L"P";
    const std::wstring bin = SeedFolder() + L"\\..\\";
    CreateDirectoryW(plugins_.c_str(), nullptr);
    CopyFileW((bin + L"sibling_real.wcx64").c_str(), (plugins_ + L"\\real.wcx64").c_str(), FALSE);
    CopyFileW((bin + L"sibling_proxy.wcx64").c_str(), (plugins_ + L"\\proxy.wcx64").c_str(), FALSE);
    SetEnvironmentVariableW(L"QOR_FUZZ_P", plugins_.c_str());
    SetEnvironmentVariableW(L"COMMANDER_PATH", nullptr);
    ready_ = qor::IsProxyPluginCopy(plugins_ + L"\\proxy.wcx64") && qor::FileExists(plugins_ + L"\\real.wcx64");
  }
  void Cleanup() override {
    SetEnvironmentVariableW(L"QOR_FUZZ_P", nullptr);
    box_.Remove();
  }

  MutationHints Hints() const override {
    MutationHints hints;
    hints.tokens = {"=", "\r\n", "\n", "\r", "[", "]", "[PackerPlugins]", "[PackerPlugins64]", "RedirectSection=",
                    "RedirectSection=plugins.ini", "%", "%QOR_FUZZ_P%", "%COMMANDER_PATH%", ",", "287,", "-1,",
                    "\"", "'", "\\", ";", " ", "\t", ".wcx", ".wcx64", "real.wcx", "proxy.wcx", "C:\\", "\\\\",
                    std::string("\0", 1), "\xff\xfe", "\xfe\xff", "\xef\xbb\xbf", "\xc3\xa9", "\x81"};
    return hints;
  }

  Outcome Run(const Input& input) override {
    Outcome out;
    if (!ready_) {
      out.violation = "the sibling files are missing from the build folder";
      return out;
    }
    const std::wstring ini = box_ / L"wincmd.ini";
    const std::wstring redirected = box_ / L"plugins.ini";
    const std::string iniBytes = input.parts.at(0);
    const std::string redirectBytes = input.parts.size() > 1 ? input.parts[1] : std::string();
    if (!WriteFileNewStamp(ini, iniBytes) || !WriteFileNewStamp(redirected, redirectBytes)) {
      out.violation = "the input files cannot be written";
      return out;
    }
    const auto before = ListFilesBelow(box_.path());
    ListOfItems list;
    list.items.push_back({L"stale.wcx", L"C:\\old", false});
    try {
      qor::PluginInventory(ini, list);
    } catch (...) {
      out.violation = "PluginInventory raised";
      return out;
    }
    if (HoldsNulCharacter(iniBytes) || HoldsNulCharacter(redirectBytes)) {
      // GetPrivateProfileSectionW separates lines by NUL, so a NUL inside a line splits it, and the part
      // after it reads as a line of its own where the reading by name does not see it. The list is then
      // not compared; the other checks hold all the same.
      out.error = L"not compared: a NUL character inside the file";
      out.violation = CheckItems(list);
    } else if (EndsInABlankBeforeHalfACharacter(iniBytes) || EndsInABlankBeforeHalfACharacter(redirectBytes)) {
      out.error = L"not compared: a blank before half a character at the end of a UTF-16 file";
      out.violation = CheckItems(list);
    } else {
      out.violation = Judge(ini, list, out.detail);
    }
    if (out.violation.empty() && (ListFilesBelow(box_.path()).size() != before.size() || ReadBytes(ini) != iniBytes ||
                                  ReadBytes(redirected) != redirectBytes))
      out.violation = "the inventory changed the files it read";
    return out;
  }

 private:
  static bool IsUtf16(const std::string& bytes) {
    return bytes.size() >= 2 && (bytes.compare(0, 2, "\xff\xfe") == 0 || bytes.compare(0, 2, "\xfe\xff") == 0);
  }
  static bool HoldsNulCharacter(const std::string& bytes) {
    if (!IsUtf16(bytes)) return bytes.find('\0') != std::string::npos;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      if (bytes[i] == 0 && bytes[i + 1] == 0) return true;
    return false;
  }
  // A UTF-16 file of odd length whose last whole character is a blank: Wine's reading by name keeps
  // the blanks that end its last line when half a character follows them, where the inventory trims
  // them from the value as the profile functions do on every other line.
  static bool EndsInABlankBeforeHalfACharacter(const std::string& bytes) {
    if (!IsUtf16(bytes) || bytes.size() % 2 == 0 || bytes.size() < 5) return false;
    const bool little = bytes[0] == '\xff';
    const unsigned char low = static_cast<unsigned char>(bytes[bytes.size() - (little ? 3 : 2)]);
    const unsigned char high = static_cast<unsigned char>(bytes[bytes.size() - (little ? 2 : 3)]);
    return high == 0 && (low == ' ' || low == '\t');
  }

  static std::string CheckItems(const ListOfItems& list) {
    std::vector<std::wstring> paths;
    for (const Item& item : list.items) {
      if (!item.checked) return "an item left over from before the scan, or an unticked item";
      if (item.caption.find_first_of(L"\\:") != std::wstring::npos) return "a caption with a folder part";
      const std::wstring upper = qor::UpperCase(qor::JoinPath(item.folder, item.caption));
      if (std::find(paths.begin(), paths.end(), upper) != paths.end()) return "a plugin listed twice";
      paths.push_back(upper);
    }
    return {};
  }

  std::string Judge(const std::wstring& ini, const ListOfItems& list, std::string& detail) {
    if (std::string broken = CheckItems(list); !broken.empty()) return broken;
    auto keys = SystemKeys(ini);
    if (!keys) return {};  // too large for the comparison
    std::wstring sectionFile = ini;
    for (const std::wstring& key : *keys) {
      if (qor::SameText(key, qor::kRedirectSectionKey)) {
        sectionFile = qor::RedirectTarget(ini, SystemValue(ini, key));
        break;
      }
    }
    if (sectionFile != ini) {
      keys = sectionFile.empty() ? std::vector<std::wstring>() : SystemKeys(sectionFile);
      if (!keys) return {};
    }
    std::vector<Item> expected;
    std::vector<std::wstring> listed;
    for (const std::wstring& key : *keys) {
      // A line "=value" (or one whose name begins with a NUL byte) is listed with an empty name; it names
      // no plugin entry, and the inventory skips it.
      if (key.empty() || qor::SameText(key, qor::kRedirectSectionKey)) continue;
      const std::wstring value = qor::ExpandEnvStr(SystemValue(sectionFile, key));
      if (value.empty()) continue;
      const std::wstring plugin = qor::StripNumericPrefix(value);
      const std::wstring sibling = qor::ProxySiblingPath(plugin);
      if (qor::FileExists(sibling) && !qor::IsProxyPluginCopy(sibling)) continue;
      const std::wstring upper = qor::UpperCase(plugin);
      if (std::find(listed.begin(), listed.end(), upper) != listed.end()) continue;
      listed.push_back(upper);
      expected.push_back({qor::ExtractFileName(plugin), qor::ExtractFileDir(plugin), true});
    }
    if (SameItems(expected, list.items)) return {};
    detail = Describe(expected, list.items);
    return "the list differs from the section as the profile functions read it";
  }

  static std::string Describe(const std::vector<Item>& expected, const std::vector<Item>& actual) {
    std::string text;
    const auto add = [&](const char* what, const std::vector<Item>& items) {
      text += std::string("    ") + what + ":";
      for (const Item& i : items) text += " [" + Narrow(i.folder) + " | " + Narrow(i.caption) + "]";
      text += "\n";
    };
    add("expected", expected);
    add("listed", actual);
    return text;
  }

  Sandbox box_;
  std::wstring plugins_;
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<Target> MakeInventoryTarget() { return std::make_unique<InventoryTarget>(); }

}  // namespace qortest::fuzz
