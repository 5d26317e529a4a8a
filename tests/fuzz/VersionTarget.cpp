// The proxy-copy test on a ".wcx64" sibling whose resource section is mutated: part 0 is the raw
// resource section of the build's proxy copy (sibling_proxy.wcx64), put back into that file in place of
// the original (cut or padded with zeros to the section's size). IsProxyPluginCopy must give what the
// version functions give when every length they return is respected.
#include <cstring>

#include "Fuzzer.h"
#include "PluginInventory.h"
#include "Sandbox.h"

namespace qortest::fuzz {
namespace {

uint32_t U32(const std::string& s, size_t at) {
  if (at + 4 > s.size()) return 0;
  uint32_t v;
  memcpy(&v, s.data() + at, 4);
  return v;
}
uint16_t U16(const std::string& s, size_t at) {
  if (at + 2 > s.size()) return 0;
  uint16_t v;
  memcpy(&v, s.data() + at, 2);
  return v;
}

struct Section {
  size_t rawOffset = 0, rawSize = 0;
  uint32_t virtualAddress = 0;
};

Section ResourceSection(const std::string& pe) {
  const uint32_t header = U32(pe, 0x3C);
  const uint16_t count = U16(pe, header + 6);
  const size_t first = header + 24 + U16(pe, header + 20);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t at = first + 40 * i;
    if (at + 40 <= pe.size() && pe.compare(at, 6, ".rsrc\0", 6) == 0)
      return {U32(pe, at + 20), U32(pe, at + 16), U32(pe, at + 12)};
  }
  return {};
}

// The version functions' answer with every returned length respected.
bool DescribedAsProxy(const std::wstring& file) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
  if (size == 0) return false;
  // Zeros beyond the copied bytes, as IsProxyPluginCopy has them: lengths that reach past the end read
  // those, never another file's bytes or memory outside the buffer.
  std::vector<BYTE> data(size + 128 * 1024);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return false;
  void* translations = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &translations, &length) || !translations ||
      length < 4)
    return false;
  WORD pair[2];
  memcpy(pair, translations, 4);
  wchar_t block[64];
  swprintf(block, 64, L"\\StringFileInfo\\%04X%04X\\FileDescription", pair[0], pair[1]);
  wchar_t* text = nullptr;
  if (!VerQueryValueW(data.data(), block, reinterpret_cast<void**>(&text), &length) || !text) return false;
  std::wstring description(text, length);
  description.resize(wcsnlen(description.c_str(), description.size()));
  return description == L"WCX proxy plugin";
}

class VersionTarget : public Target {
 public:
  const char* Name() const override { return "version"; }

  std::vector<Input> BuiltInSeeds() const override {
    const std::string pe = ReadBytes(SeedFolder() + L"\\..\\sibling_proxy.wcx64");
    const Section s = ResourceSection(pe);
    if (s.rawSize == 0 || s.rawOffset + s.rawSize > pe.size()) return {};
    return {Input{{pe.substr(s.rawOffset, s.rawSize)}}};
  }

  void Prepare() override {
    box_.Make(Name());
    pe_ = ReadBytes(SeedFolder() + L"\\..\\sibling_proxy.wcx64");
    section_ = ResourceSection(pe_);
  }
  void Cleanup() override { box_.Remove(); }

  // The size of the version resource's data and the lengths of its every block. (The tree's counts and
  // offsets are left to the plain mutations: most boundary values there only make an input that Wine's
  // loader cannot take, see Run.)
  std::vector<Field> FieldsOf(const Input& input) const override {
    std::vector<Field> fields;
    const std::string& r = input.parts.at(0);
    const uint32_t base = section_.virtualAddress;
    std::vector<std::pair<size_t, int>> directories = {{0, 0}};
    while (!directories.empty()) {
      const auto [at, level] = directories.back();
      directories.pop_back();
      if (at + 16 > r.size() || level > 2) continue;
      const size_t entries = U16(r, at + 12) + U16(r, at + 14);
      for (size_t e = 0; e < entries && at + 16 + 8 * e + 8 <= r.size(); ++e) {
        const size_t entry = at + 16 + 8 * e;
        const uint32_t target = U32(r, entry + 4);
        if (target & 0x80000000u) {
          directories.push_back({target & 0x7FFFFFFFu, level + 1});
        } else if (target + 8 <= r.size()) {
          fields.push_back({0, target + 4, 4});  // the data's size
          const uint32_t data = U32(r, target) - base;
          AddVersionBlocks(r, data, std::min<size_t>(r.size(), data + U32(r, target + 4)), fields);
        }
      }
    }
    return fields;
  }

  MutationHints Hints() const override {
    MutationHints hints;
    hints.tokens = {std::string("\0\0", 2), std::string("W\0C\0X\0", 6), "\xff\xff", std::string("\x04\0\x09\x04", 4),
                    std::string("\x09\x04\xe4\x04", 4)};
    hints.maxPartSize = 1 << 16;
    return hints;
  }

  Outcome Run(const Input& input) override {
    Outcome out;
    if (section_.rawSize == 0) {
      out.violation = "the build's proxy copy has no resource section";
      return out;
    }
    std::string section = input.parts.at(0);
    section.resize(section_.rawSize, '\0');
    if (!TreeInsideSection(section)) {
      // Wine's loader follows resource directory offsets without checking them and dies on one that
      // points outside the file; such inputs test Wine, not the reader.
      out.error = L"skipped: a resource directory entry outside its section";
      return out;
    }
    std::string file = pe_;
    file.replace(section_.rawOffset, section_.rawSize, section);
    const std::wstring path = box_ / (L"sibling" + std::to_wstring(++runs_ % 16) + L".wcx64");
    if (!WriteFileNewStamp(path, file)) {
      out.violation = "the sibling cannot be written";
      return out;
    }
    bool copy = false;
    try {
      copy = qor::IsProxyPluginCopy(path);
    } catch (...) {
      out.violation = "IsProxyPluginCopy raised";
      return out;
    }
    if (copy != DescribedAsProxy(path))
      out.violation = copy ? "taken for a proxy copy although its description, read within its length, is not"
                           : "not taken for a proxy copy although its description is";
    return out;
  }

 private:
  // VS_VERSIONINFO and its children: wLength, wValueLength, wType, a NUL-terminated key, padding to 4
  // bytes, the value, padding, the children.
  // Every directory, entry and data block of the resource tree lies inside the section.
  bool TreeInsideSection(const std::string& r) const {
    const uint64_t base = section_.virtualAddress;
    std::vector<std::pair<size_t, int>> directories = {{0, 0}};
    int visited = 0;
    while (!directories.empty()) {
      const auto [at, level] = directories.back();
      directories.pop_back();
      if (level > 3 || ++visited > 64 || at + 16 > r.size()) return false;
      const size_t entries = U16(r, at + 12) + U16(r, at + 14);
      if (at + 16 + 8 * entries > r.size()) return false;
      for (size_t e = 0; e < entries; ++e) {
        const size_t entry = at + 16 + 8 * e;
        const uint32_t name = U32(r, entry);
        if ((name & 0x80000000u) && (name & 0x7FFFFFFFu) + 2 > r.size()) return false;
        const uint32_t target = U32(r, entry + 4);
        if (target & 0x80000000u) {
          directories.push_back({target & 0x7FFFFFFFu, level + 1});
        } else {
          if (target + 16ull > r.size()) return false;
          const uint64_t data = U32(r, target), size = U32(r, target + 4);
          if (data < base || data - base + size > r.size()) return false;
        }
      }
    }
    return true;
  }

  static void AddVersionBlocks(const std::string& r, size_t at, size_t end, std::vector<Field>& fields, int depth = 0) {
    while (depth < 4 && at + 6 <= end && at + 6 <= r.size()) {
      const uint16_t length = U16(r, at);
      if (length < 6 || at + length > end) return;
      fields.push_back({0, at, 2});
      fields.push_back({0, at + 2, 2});
      size_t key = at + 6;
      while (key + 2 <= at + length && U16(r, key) != 0) key += 2;
      size_t value = (key + 2 + 3) & ~size_t(3);
      const size_t valueBytes = U16(r, at + 4) == 1 ? 2 * U16(r, at + 2) : U16(r, at + 2);
      const size_t children = (value + valueBytes + 3) & ~size_t(3);
      if (children < at + length) AddVersionBlocks(r, children, at + length, fields, depth + 1);
      at = (at + length + 3) & ~size_t(3);
    }
  }

  Sandbox box_;
  std::string pe_;
  Section section_;
  unsigned runs_ = 0;
};

}  // namespace

std::unique_ptr<Target> MakeVersionTarget() { return std::make_unique<VersionTarget>(); }

}  // namespace qortest::fuzz
