// The payload walk: round trips through the real resource of built programs, containers built here with
// zlib for the cases the build never produces, and a table of corrupt containers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <set>

#include "Error.h"
#include "Format.h"
#include "FileTestSupport.h"
#include "Payload.h"
#include "PayloadFormat.h"

using namespace qortest;
namespace format = qor::payload_format;

namespace {

std::string Deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                      static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION),
            Z_OK);
  out.resize(size);
  return out;
}

// One record with the given stream; Size and CompressedSize default to the honest values.
std::string Record(const std::wstring& name, const std::string& stream, uint32_t size,
                   std::optional<uint32_t> compressedSize = {}) {
  std::string r;
  format::AppendRecordHeader(r, name, size, compressedSize.value_or(static_cast<uint32_t>(stream.size())));
  return r + stream;
}

std::string FileRecord(const std::wstring& name, const std::string& data) {
  return Record(name, Deflate(data), static_cast<uint32_t>(data.size()));
}

// Deterministic contents that compress a little.
std::string Sample(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>((i % 7 == 0) ? (x >> 24) : ('a' + (x >> 28)));
  }
  return s;
}

const std::string kHost = Sample(300000, 1);    // more than one inflate chunk
const std::string kProxy = Sample(120000, 2);

std::string HostFile() { return ReadFileBytes(BuildFile(L"payload\\x86_64\\Quorvex.exe")); }
std::string ProxyFile() { return ReadFileBytes(BuildFile(L"payload\\x86_64\\QuorvexWCX.wcx64")); }

std::wstring ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const qor::Error& e) {
    return e.message();
  }
  return L"";
}

// The registration step as the tests see it: records each call and checks the order of effects.
struct Registration {
  std::vector<std::wstring> calls;
  bool answer = true;
  std::function<void(const std::wstring&)> check;
  qor::RegisterHostServerStep Step() {
    return [this](const std::wstring& path) {
      calls.push_back(path);
      if (check) check(path);
      return answer;
    };
  }
};

uint16_t Machine(const std::string& pe) {
  if (pe.size() < 64) return 0;
  uint32_t at = *reinterpret_cast<const uint32_t*>(pe.data() + 60);
  if (at + 6 > pe.size()) return 0;
  return *reinterpret_cast<const uint16_t*>(pe.data() + at + 4);
}

}  // namespace

// The shared layout against the documented bytes, written out by hand: the packer, the reader and the
// tests all build on it, so this is the check that it says what docs/payload-format.md says.
TEST(PayloadFormat, RecordHeaderBytesAreTheDocumentedOnes) {
  std::string header;
  format::AppendRecordHeader(header, std::wstring(L"a\u00e9"), 0x01020304u, 0xA0B0C0D0u);
  const std::string expected("\x00" "\x02\x00" "a\x00" "\xe9\x00" "\x04\x03\x02\x01" "\xd0\xc0\xb0\xa0", 15);
  EXPECT_EQ(header, expected) << testing::PrintToString(header);
  EXPECT_EQ(format::HeaderSize(2), expected.size());
  EXPECT_EQ(format::SizeOffset(2), 7u);
  EXPECT_EQ(format::CompressedSizeOffset(2), 11u);
  EXPECT_EQ(format::ReadLittleEndian(expected.data() + format::SizeOffset(2), format::kSizeBytes), 0x01020304u);
  EXPECT_EQ(format::ReadLittleEndian(expected.data() + format::CompressedSizeOffset(2), format::kCompressedSizeBytes),
            0xA0B0C0D0u);
}

// The setup's own CRC-32 in place of zlib's: the check value of RFC 1952's polynomial, the empty and
// null inputs, and a sum continued over pieces.
TEST(PayloadCrc32, IsTheStandardCrc32) {
  const std::string digits = "123456789";
  const auto* bytes = reinterpret_cast<const Bytef*>(digits.data());
  EXPECT_EQ(crc32(0, bytes, 9), 0xCBF43926ul);
  EXPECT_EQ(crc32(0, Z_NULL, 0), 0ul);
  EXPECT_EQ(crc32(0, bytes, 0), 0ul);
  EXPECT_EQ(crc32(crc32(0, bytes, 4), bytes + 4, 5), 0xCBF43926ul);
  const std::string zeros(32, '\0');
  EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), 32), 0x190A55ADul);
}

// ---- Round trips through the resource of the built program ---------------------------------------

TEST(PayloadResource, OwnResourceIsTheX86_64ContainerWithDefaultLevelStreams) {
  auto resource = qor::LoadPayloadResource();
  std::string packed = ReadFileBytes(BuildFile(L"payload\\QuorvexPayload-x86_64.bin"));
  ASSERT_EQ(resource.size(), packed.size());
  EXPECT_TRUE(std::equal(resource.begin(), resource.end(), Bytes(packed).begin()));

  // Records in order, Lead 0, zlib header 78 9C.
  const std::vector<std::wstring> names = {L"Quorvex.exe", L"QuorvexWCX.wcx64"};
  size_t pos = 0;
  for (const auto& expected : names) {
    SCOPED_TRACE(Narrow(expected));
    ASSERT_LT(pos + format::kNameOffset, resource.size());
    const unsigned char* record = resource.data() + pos;
    EXPECT_EQ(record[0], format::kLead);
    const size_t n = format::ReadLittleEndian(record + format::kNameLengthOffset, format::kNameLengthBytes);
    ASSERT_LE(pos + format::HeaderSize(n) + 2, resource.size());
    std::wstring name;
    for (size_t i = 0; i < n; ++i)
      name.push_back(static_cast<wchar_t>(
          format::ReadLittleEndian(record + format::kNameOffset + format::kNameUnitBytes * i, format::kNameUnitBytes)));
    EXPECT_EQ(name, expected);
    const uint32_t compressed =
        format::ReadLittleEndian(record + format::CompressedSizeOffset(n), format::kCompressedSizeBytes);
    EXPECT_EQ(record[format::HeaderSize(n)], 0x78);
    EXPECT_EQ(record[format::HeaderSize(n) + 1], 0x9C);
    pos += format::HeaderSize(n) + compressed;
  }
  EXPECT_EQ(pos, resource.size());
}

TEST(PayloadResource, WalkWritesBothFilesByteForByteIntoFoldersThatDoNotExistYet) {
  TempFolder tmp;
  const std::wstring setup = tmp / L"TC\\Plugins\\Quorvex";
  const std::wstring existing = tmp / L"zip\\existing.wcx64";
  WriteFileBytes(existing, std::string(4 * 1024 * 1024, 'x'));  // longer than the proxy: must be replaced
  const std::vector<std::wstring> targets = {tmp / L"rar\\deep\\unrar.wcx64", existing, tmp / L"7z\\7z.wcx64",
                                             tmp / L"rar\\deep\\unrar.wcx64"};
  const std::string host = HostFile(), proxy = ProxyFile();
  ASSERT_FALSE(host.empty());
  ASSERT_FALSE(proxy.empty());

  Registration reg;
  reg.check = [&](const std::wstring& path) {
    // The host server is complete when it is handed over, and no proxy copy exists yet.
    EXPECT_EQ(ReadFileBytes(path), host);
    EXPECT_FALSE(Exists(targets[0]));
    EXPECT_EQ(ReadFileBytes(existing).size(), 4u * 1024 * 1024);
  };
  EXPECT_TRUE(qor::ExtractPayload(setup, targets, reg.Step()));

  ASSERT_EQ(reg.calls, std::vector<std::wstring>{setup + L"\\Quorvex.exe"});
  EXPECT_TRUE(ReadFileBytes(setup + L"\\Quorvex.exe") == host);
  for (const auto& target : targets) {
    SCOPED_TRACE(Narrow(target));
    std::string written = ReadFileBytes(target);
    EXPECT_EQ(written.size(), proxy.size());
    EXPECT_TRUE(written == proxy);
  }
  EXPECT_EQ(ListFiles(tmp.path()),
            (std::vector<std::wstring>{L"7z\\7z.wcx64", L"TC\\Plugins\\Quorvex\\Quorvex.exe",
                                       L"rar\\deep\\unrar.wcx64", L"zip\\existing.wcx64"}));
}

TEST(PayloadResource, EmptyProxyTargetsWriteOnlyTheHostServer) {
  TempFolder tmp;
  const std::wstring setup = tmp.path() + L"\\";  // with the trailing backslash
  Registration reg;
  EXPECT_TRUE(qor::ExtractPayload(setup, {}, reg.Step()));
  EXPECT_EQ(reg.calls, std::vector<std::wstring>{setup + L"Quorvex.exe"});
  EXPECT_EQ(ListFiles(tmp.path()), std::vector<std::wstring>{L"Quorvex.exe"});
}

TEST(PayloadResource, UsersContainerCarriesThe32BitHostServer) {
  std::string packed = ReadFileBytes(BuildFile(L"payload\\QuorvexPayload-i686.bin"));
  ASSERT_FALSE(packed.empty());
  TempFolder tmp;
  Registration reg;
  EXPECT_TRUE(qor::ExtractPayload(Bytes(packed), tmp / L"setup", {tmp / L"p\\a.wcx64"}, reg.Step()));
  std::string host = ReadFileBytes(tmp / L"setup\\Quorvex.exe");
  EXPECT_EQ(Machine(host), IMAGE_FILE_MACHINE_I386);
  EXPECT_TRUE(host == ReadFileBytes(BuildFile(L"payload\\i686\\Quorvex.exe")));
  EXPECT_EQ(Machine(ReadFileBytes(tmp / L"p\\a.wcx64")), IMAGE_FILE_MACHINE_AMD64);
  EXPECT_TRUE(ReadFileBytes(tmp / L"p\\a.wcx64") == ProxyFile());
}

TEST(PayloadResource, ModuleWithoutTheResource) {
  HMODULE module = LoadLibraryExW(BuildFile(L"payload\\x86_64\\Quorvex.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(ErrorOf([&] { qor::LoadPayloadResource(module); }), L"Resource DATA not found");
  FreeLibrary(module);
}

// ---- The walk over containers built here ----------------------------------------------------------

TEST(PayloadWalk, HostRecordNamedInOtherLetterCaseIsWrittenUnderItsStoredName) {
  TempFolder tmp;
  std::string container = FileRecord(L"quorvex.EXE", kHost) + FileRecord(L"QUORVEXwcx.WCX64", kProxy);
  Registration reg;
  EXPECT_TRUE(qor::ExtractPayload(Bytes(container), tmp / L"setup", {tmp / L"p.wcx64"}, reg.Step()));
  EXPECT_EQ(reg.calls, std::vector<std::wstring>{tmp / L"setup\\quorvex.EXE"});
  EXPECT_EQ(StoredName(tmp / L"setup\\quorvex.exe"), L"quorvex.EXE");
  EXPECT_TRUE(ReadFileBytes(tmp / L"setup\\quorvex.EXE") == kHost);
  EXPECT_TRUE(ReadFileBytes(tmp / L"p.wcx64") == kProxy);
}

TEST(PayloadWalk, UnknownRecordsAreSkippedWithoutInflating) {
  TempFolder tmp;
  // Neither unknown stream is zlib data: inflating either would fail.
  std::string container = Record(L"readme.txt", "not a zlib stream at all", 5000) + FileRecord(L"Quorvex.exe", kHost) +
                          Record(L"Quorvex.dll", std::string(3, '\xFF'), 1) + FileRecord(L"QuorvexWCX.wcx64", kProxy);
  Registration reg;
  EXPECT_TRUE(qor::ExtractPayload(Bytes(container), tmp / L"s", {tmp / L"p.wcx64"}, reg.Step()));
  EXPECT_EQ(reg.calls.size(), 1u);
  EXPECT_EQ(ListFiles(tmp.path()), (std::vector<std::wstring>{L"p.wcx64", L"s\\Quorvex.exe"}));
  EXPECT_TRUE(ReadFileBytes(tmp / L"p.wcx64") == kProxy);
}

TEST(PayloadWalk, DeclinedRegistrationStopsBeforeAnyProxyCopy) {
  TempFolder tmp;
  std::string container = FileRecord(L"Quorvex.exe", kHost) + FileRecord(L"QuorvexWCX.wcx64", kProxy);
  Registration reg;
  reg.answer = false;
  EXPECT_FALSE(qor::ExtractPayload(Bytes(container), tmp / L"s", {tmp / L"p.wcx64"}, reg.Step()));
  EXPECT_EQ(reg.calls.size(), 1u);
  EXPECT_EQ(ListFiles(tmp.path()), std::vector<std::wstring>{L"s\\Quorvex.exe"});
}

TEST(PayloadWalk, RegistrationErrorEndsTheWalk) {
  TempFolder tmp;
  std::string container = FileRecord(L"Quorvex.exe", kHost) + FileRecord(L"QuorvexWCX.wcx64", kProxy);
  auto failing = [](const std::wstring&) -> bool { throw qor::Error(L"Could not install server Quorvex.exe. Error: 5"); };
  EXPECT_EQ(ErrorOf([&] { qor::ExtractPayload(Bytes(container), tmp / L"s", {tmp / L"p.wcx64"}, failing); }),
            L"Could not install server Quorvex.exe. Error: 5");
  EXPECT_EQ(ListFiles(tmp.path()), std::vector<std::wstring>{L"s\\Quorvex.exe"});
}

TEST(PayloadWalk, ProxyIsInflatedEvenWithoutTargets) {
  TempFolder tmp;
  std::string badProxy = Deflate(kProxy);
  badProxy.back() ^= 0x55;  // Adler-32
  std::string container = FileRecord(L"Quorvex.exe", kHost) + Record(L"QuorvexWCX.wcx64", badProxy, kProxy.size());
  Registration reg;
  EXPECT_EQ(ErrorOf([&] { qor::ExtractPayload(Bytes(container), tmp.path(), {}, reg.Step()); }), L"data error");
  EXPECT_EQ(reg.calls.size(), 1u);
}

// ---- Corrupt and unusual containers ------------------------------------------------------------------

namespace {

std::string WithByte(std::string s, size_t at, int value) {
  s[at] = static_cast<char>(value);
  return s;
}

struct ContainerCase {
  const char* label;
  std::string container;
  std::wstring error;                   // empty: the walk succeeds
  std::optional<std::string> host;      // expected contents of setup\Quorvex.exe (nullopt: absent)
  std::optional<std::string> proxy;     // expected contents of the proxy target (nullopt: absent)
};

std::vector<ContainerCase> ContainerCases() {
  const std::string hostStream = Deflate(kHost);
  const std::string proxyRecord = FileRecord(L"QuorvexWCX.wcx64", kProxy);
  const std::string hostRecord = FileRecord(L"Quorvex.exe", kHost);
  const size_t hostHeader = format::HeaderSize(11);
  const uint32_t hostSize = static_cast<uint32_t>(kHost.size());
  const std::wstring readError = L"Stream read error";
  auto badName = [](const std::wstring& name) {
    std::wstring shown = name;
    for (auto& c : shown) if (c < L' ') c = L'?';
    return qor::FormatText(L"Invalid file name \"%s\" in the setup data", {shown});
  };
  std::string badAdler = hostStream;
  badAdler.back() ^= 0x01;
  std::string trailing = hostStream + "trailing bytes inside CompressedSize";

  std::vector<ContainerCase> cases = {
      {"truncated header: Lead only", std::string(1, '\0'), readError, {}, {}},
      {"truncated header: inside the name", hostRecord.substr(0, 8), readError, {}, {}},
      {"truncated header: CompressedSize cut", hostRecord.substr(0, hostHeader - 2), readError, {}, {}},
      {"truncated header after a whole record", hostRecord + proxyRecord.substr(0, 20), readError, kHost, {}},
      {"truncated stream", hostRecord.substr(0, hostHeader + hostStream.size() / 2), readError, {}, {}},
      {"CompressedSize past the end", Record(L"Quorvex.exe", hostStream, hostSize, hostStream.size() + 1) ,
       readError, {}, {}},
      {"stream shorter than Size", Record(L"Quorvex.exe", hostStream, hostSize + 1) + proxyRecord, readError, {}, {}},
      {"Size beyond what the stream can give", Record(L"QuorvexWCX.wcx64", Deflate("x"), 0xFFFFFFF0u), readError, {}, {}},
      {"bad zlib header check", Record(L"Quorvex.exe", WithByte(hostStream, 1, 0x9D), hostSize) + proxyRecord,
       L"data error", {}, {}},
      {"unknown compression method", Record(L"Quorvex.exe", WithByte(WithByte(hostStream, 0, 0x79), 1, 0x18), hostSize),
       L"data error", {}, {}},
      {"window larger than 15 bits", Record(L"Quorvex.exe", WithByte(WithByte(hostStream, 0, 0x88), 1, 0x98), hostSize),
       L"data error", {}, {}},
      {"preset dictionary asked for", Record(L"Quorvex.exe", WithByte(hostStream, 1, 0xBB), hostSize), L"data error", {}, {}},
      {"reserved deflate block type", Record(L"Quorvex.exe", WithByte(hostStream, 2, 0xFF), hostSize), L"data error", {}, {}},
      {"bad Adler-32 (host)", Record(L"Quorvex.exe", badAdler, hostSize) + proxyRecord, L"data error", {}, {}},
      {"bad Adler-32 (proxy)",
       hostRecord + Record(L"QuorvexWCX.wcx64", WithByte(Deflate(kProxy), Deflate(kProxy).size() - 1, 0), kProxy.size()),
       L"data error", kHost, {}},
      {"empty name", Record(L"", hostStream, hostSize) + proxyRecord, badName(L""), {}, {}},
      {"name \".\"", Record(L".", hostStream, hostSize), badName(L"."), {}, {}},
      {"name \"..\"", hostRecord + Record(L"..", hostStream, hostSize) + proxyRecord, badName(L".."), kHost, {}},
      {"name with a backslash", Record(L"..\\Quorvex.exe", hostStream, hostSize), badName(L"..\\Quorvex.exe"), {}, {}},
      {"name with a slash", Record(L"sub/Quorvex.exe", hostStream, hostSize), badName(L"sub/Quorvex.exe"), {}, {}},
      {"name with a drive", Record(L"C:Quorvex.exe", hostStream, hostSize), badName(L"C:Quorvex.exe"), {}, {}},
      {"name with a NUL", Record(std::wstring(L"Quorvex.exe\0.txt", 16), hostStream, hostSize),
       badName(std::wstring(L"Quorvex.exe\0.txt", 16)), {}, {}},
      // Sound treatments of records the build never produces.
      {"Size 0 writes empty files", FileRecord(L"Quorvex.exe", "") + FileRecord(L"QuorvexWCX.wcx64", ""), L"", "", ""},
      {"stream longer than Size", Record(L"Quorvex.exe", hostStream, hostSize - 1000) + proxyRecord, L"",
       kHost.substr(0, kHost.size() - 1000), kProxy},
      {"stream longer than Size with a bad Adler-32", Record(L"Quorvex.exe", badAdler, hostSize - 1000) + proxyRecord,
       L"data error", {}, {}},
      {"bytes after the stream end", Record(L"Quorvex.exe", trailing, hostSize) + proxyRecord, L"", kHost, kProxy},
      {"empty container", "", L"", {}, {}},
  };
  return cases;
}

}  // namespace

TEST(PayloadWalk, CorruptAndUnusualContainers) {
  for (const auto& c : ContainerCases()) {
    SCOPED_TRACE(c.label);
    TempFolder tmp;
    const std::wstring host = tmp / L"setup\\Quorvex.exe";
    const std::wstring proxy = tmp / L"plugins\\p.wcx64";
    Registration reg;
    std::wstring error = ErrorOf([&] { qor::ExtractPayload(Bytes(c.container), tmp / L"setup", {proxy}, reg.Step()); });
    EXPECT_EQ(error, c.error);
    // Nothing anywhere but the two expected files; an incomplete file is not left behind.
    for (const auto& file : ListFiles(tmp.path()))
      EXPECT_TRUE(file == L"setup\\Quorvex.exe" || file == L"plugins\\p.wcx64") << Narrow(file);
    EXPECT_EQ(Exists(host), c.host.has_value());
    if (c.host) {
      EXPECT_TRUE(ReadFileBytes(host) == *c.host) << ReadFileBytes(host).size();
    }
    EXPECT_EQ(reg.calls.size(), c.host ? 1u : 0u);
    EXPECT_EQ(Exists(proxy), c.proxy.has_value());
    if (c.proxy) {
      EXPECT_TRUE(ReadFileBytes(proxy) == *c.proxy) << ReadFileBytes(proxy).size();
    }
  }
}

TEST(PayloadWalk, TargetsThatCannotBeCreated) {
  TempFolder tmp;
  const std::string container = FileRecord(L"Quorvex.exe", kHost) + FileRecord(L"QuorvexWCX.wcx64", kProxy);
  WriteFileBytes(tmp / L"blocker", "a file where a folder should be");
  const std::wstring locked = tmp / L"locked.wcx64";
  WriteFileBytes(locked, "old copy");
  HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hold, INVALID_HANDLE_VALUE);

  // The system's own reason for each path, found the same way the walk meets it.
  auto expected = [](const std::wstring& path) {
    SetLastError(0xDEADBEEF);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD code = GetLastError();
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_NE(code, 0xDEADBEEFu);
    return qor::FormatText(L"Cannot create file \"%s\". %s", {path, qor::SystemMessage(code)});
  };

  struct Case {
    const char* label;
    std::wstring setup;
    std::vector<std::wstring> targets;
    std::wstring failing;
    size_t registrations;
  } cases[] = {
      {"setup folder below a file", tmp / L"blocker\\setup", {}, tmp / L"blocker\\setup\\Quorvex.exe", 0},
      {"proxy folder below a file", tmp / L"s1", {tmp / L"ok.wcx64", tmp / L"blocker\\p.wcx64"}, tmp / L"blocker\\p.wcx64", 1},
      {"proxy target held open", tmp / L"s2", {locked}, locked, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Registration reg;
    std::wstring error = ErrorOf([&] { qor::ExtractPayload(Bytes(container), c.setup, c.targets, reg.Step()); });
    EXPECT_EQ(error, expected(c.failing));
    EXPECT_EQ(reg.calls.size(), c.registrations);
  }
  CloseHandle(hold);
  EXPECT_EQ(ReadFileBytes(locked), "old copy");
  EXPECT_TRUE(ReadFileBytes(tmp / L"ok.wcx64") == kProxy);  // written before the failing target
}

TEST(PayloadWalk, SafeNames) {
  struct {
    std::wstring name;
    bool safe;
  } cases[] = {{L"Quorvex.exe", true}, {L"QuorvexWCX.wcx64", true}, {L"...", true}, {L".hidden", true},
               {L"", false}, {L".", false}, {L"..", false}, {L"a\\b", false}, {L"a/b", false}, {L"c:", false},
               {std::wstring(L"a\0b", 3), false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    EXPECT_EQ(qor::IsSafePayloadName(c.name), c.safe);
  }
}
