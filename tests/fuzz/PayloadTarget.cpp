// The payload walk on a mutated container: part 0 is the container, part 1 a flags byte (bit 0: the
// registration step reports declined elevation).
#include <algorithm>
#include <set>

#include "Error.h"
#include "Fuzzer.h"
#include "FileSystem.h"
#include "PathParts.h"
#include "TextCompare.h"
#include "Payload.h"
#include "Sandbox.h"

namespace qortest::fuzz {
namespace {

// The record headers as far as they can be read: what the walk may write and in which order.
struct ScannedRecord {
  std::wstring upperName;
  uint32_t size;
  size_t lengthOffset;  // of NameLength; Size and CompressedSize follow the name
};

std::vector<ScannedRecord> ScanHeaders(const std::string& c) {
  std::vector<ScannedRecord> records;
  const auto byte = [&](size_t at) { return static_cast<uint32_t>(static_cast<unsigned char>(c[at])); };
  size_t pos = 0;
  while (pos < c.size()) {
    if (c.size() - pos < 3) break;
    const size_t n = byte(pos + 1) | (byte(pos + 2) << 8);
    if (c.size() - pos < 11 + 2 * n) break;
    std::wstring name;
    for (size_t i = 0; i < n; ++i) name.push_back(static_cast<wchar_t>(byte(pos + 3 + 2 * i) | (byte(pos + 4 + 2 * i) << 8)));
    const size_t at = pos + 3 + 2 * n;
    const uint32_t size = byte(at) | (byte(at + 1) << 8) | (byte(at + 2) << 16) | (byte(at + 3) << 24);
    const uint32_t compressed = byte(at + 4) | (byte(at + 5) << 8) | (byte(at + 6) << 16) | (byte(at + 7) << 24);
    records.push_back({qor::UpperCase(name), size, pos + 1});
    if (c.size() - at - 8 < compressed) break;
    pos = at + 8 + compressed;
  }
  return records;
}

bool IsDocumentedError(const std::wstring& text) {
  static const std::set<std::wstring> exact = {L"Stream read error", L"Stream write error", L"data error",
                                               L"stream error",      L"insufficient memory", L"buffer error"};
  if (exact.count(text)) return true;
  const std::wstring kind = ErrorKind(text);
  return kind == L"Invalid file name \"%s\" in the setup data" || kind.rfind(L"Cannot create file \"%s\". ", 0) == 0;
}

class PayloadTarget : public Target {
 public:
  const char* Name() const override { return "payload"; }

  void Prepare() override {
    box_.Make(Name());
    setupFolder_ = box_ / L"TC\\Plugins\\Quorvex";
    // Two folders, one missing level, and one path twice: every target is written in its turn.
    targets_ = {box_ / L"zip\\zip.wcx64", box_ / L"rar\\deep\\rar.wcx64", box_ / L"zip\\zip.wcx64"};
    CreateDirectoryW((box_ / L"zip").c_str(), nullptr);
  }
  void Cleanup() override { box_.Remove(); }

  std::vector<Field> FieldsOf(const Input& input) const override {
    std::vector<Field> fields;
    for (const ScannedRecord& r : ScanHeaders(input.parts.at(0))) {
      const size_t afterName = r.lengthOffset + 2 + 2 * r.upperName.size();
      fields.push_back({0, r.lengthOffset, 2});  // NameLength
      fields.push_back({0, afterName, 4});       // Size
      fields.push_back({0, afterName + 4, 4});   // CompressedSize
      fields.push_back({0, afterName + 8, 2});   // the zlib header
      fields.push_back({0, r.lengthOffset - 1, 1});  // Lead
    }
    return fields;
  }

  MutationHints Hints() const override {
    MutationHints hints;
    hints.tokens = {"\x78\x9c", "\x78\x01", "\x78\xda", std::string("\x0b\x00", 2),
                    std::string("Q\0u\0o\0r\0v\0e\0x\0.\0e\0x\0e\0", 22), std::string("\\\0", 2),
                    std::string(".\0.\0", 4), std::string("\0\0\0\0", 4), "\xff\xff\xff\xff"};
    hints.maxPartSize = 256 * 1024;
    return hints;
  }

  Outcome Run(const Input& input) override {
    Outcome out;
    const std::string& container = input.parts.at(0);
    const bool decline = input.parts.size() > 1 && !input.parts[1].empty() && (input.parts[1][0] & 1);
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(container.data()),
                                               container.size());
    struct Call {
      std::wstring path;
      ULONGLONG sizeThen;
    };
    std::vector<Call> calls;
    bool returned = false, result = false;
    try {
      result = qor::ExtractPayload(bytes, setupFolder_, targets_, [&](const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const ULONGLONG size = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
                                   ? (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
                                   : ~0ull;
        calls.push_back({path, size});
        return !decline;
      });
      returned = true;
    } catch (const qor::Error& e) {
      out.error = e.message();
      if (!IsDocumentedError(e.message())) out.violation = "undocumented error text";
    } catch (const std::exception& e) {
      out.violation = std::string("exception of another type: ") + e.what();
    } catch (...) {
      out.violation = "exception of an unknown type";
    }
    if (out.violation.empty()) out.violation = Judge(container, decline, returned, result, calls);
    EmptyFolder(box_.path(), {L"zip"});
    return out;
  }

 private:
  template <typename Calls>
  std::string Judge(const std::string& container, bool decline, bool returned, bool result, const Calls& calls) {
    const auto records = ScanHeaders(container);
    const std::wstring hostName = qor::UpperCase(qor::kHostServerName);
    const std::wstring proxyName = qor::UpperCase(qor::kProxyPluginName);
    std::set<ULONGLONG> hostSizes, proxySizes;
    bool proxyBeforeHost = false, hostSeen = false;
    for (const auto& r : records) {
      if (r.upperName == hostName) hostSizes.insert(r.size), hostSeen = true;
      if (r.upperName == proxyName) proxySizes.insert(r.size), proxyBeforeHost |= !hostSeen;
    }
    for (const auto& call : calls) {
      if (qor::UpperCase(qor::ExtractFilePath(call.path)) != qor::UpperCase(setupFolder_ + L"\\"))
        return "the registration step got a path outside the setup folder";
      if (!hostSizes.count(call.sizeThen)) return "the host server handed to registration is not Size bytes long";
    }
    if (returned && result == (decline && !calls.empty())) return "the walk's result does not say whether it was declined";
    if (decline && calls.size() > 1) return "the walk went on after a declined registration";

    std::set<std::wstring> targets;
    for (const auto& t : targets_) targets.insert(qor::UpperCase(t));
    for (const FileEntry& f : ListFilesBelow(box_.path())) {
      const std::wstring full = box_ / f.relative;
      const std::wstring upper = qor::UpperCase(full);
      if (targets.count(upper)) {
        if (!proxySizes.count(f.size)) return "a proxy copy of a length no record gives (half-written?)";
        if (decline && !calls.empty() && !proxyBeforeHost) return "a proxy copy written after a declined registration";
        continue;
      }
      const bool inSetup = qor::UpperCase(qor::ExtractFilePath(full)) == qor::UpperCase(setupFolder_ + L"\\");
      if (inSetup && qor::UpperCase(qor::ExtractFileName(full)) == hostName) {
        const bool registered = std::any_of(calls.begin(), calls.end(), [&](const auto& c) {
          return qor::UpperCase(c.path) == upper && c.sizeThen == f.size;
        });
        if (!registered) return "a host server file left that was never handed to registration (half-written?)";
        continue;
      }
      return "a file written outside the setup folder and the targets: " + Narrow(f.relative);
    }
    return {};
  }

  Sandbox box_;
  std::wstring setupFolder_;
  std::vector<std::wstring> targets_;
};

}  // namespace

std::unique_ptr<Target> MakePayloadTarget() { return std::make_unique<PayloadTarget>(); }

}  // namespace qortest::fuzz
