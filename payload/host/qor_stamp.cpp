// qor_stamp [--raw VALUE] [--report FILE] PE-FILE
//
// Writes the build time into the TimeDateStamp of the root resource directory (the first 16 bytes of
// the section ".rsrc") of a linked Windows program, in MS-DOS form:
//   bits 31-25 year - 1980, 24-21 month, 20-16 day, 15-11 hour, 10-5 minute, 4-0 second / 2.
// The time is the local time of the build, or, when SOURCE_DATE_EPOCH is set (reproducible builds),
// that moment in UTC so that every machine writes the same bytes.
// --raw writes VALUE (decimal or 0x hex) as it stands; test fixtures use it for stamps that no clock gives.
// --report writes "0xXXXXXXXX YYYY-MM-DD HH:MM:SS" of what was written to FILE.
// A PE checksum that the linker filled in is recomputed; a zero checksum stays zero.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "qor_stamp: " << message << "\n";
  std::exit(1);
}

uint32_t Get16(const std::vector<unsigned char>& b, size_t at) {
  if (at + 2 > b.size()) Fail("file is truncated");
  return b[at] | (b[at + 1] << 8);
}
uint32_t Get32(const std::vector<unsigned char>& b, size_t at) {
  if (at + 4 > b.size()) Fail("file is truncated");
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Put32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

bool ParseNumber(const std::string& text, unsigned long long& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0';
}

// The stamp for "now" (or SOURCE_DATE_EPOCH); fills the broken-down time for the report.
uint32_t BuildStamp(std::tm& t) {
  std::time_t now;
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch && *epoch) {
    unsigned long long v;
    if (!ParseNumber(epoch, v)) Fail(std::string("SOURCE_DATE_EPOCH is not a number of seconds: ") + epoch);
    now = static_cast<std::time_t>(v);
    if (!gmtime_r(&now, &t)) Fail("SOURCE_DATE_EPOCH is out of range");
  } else {
    now = std::time(nullptr);
    if (!localtime_r(&now, &t)) Fail("cannot read the local time");
  }
  int year = t.tm_year + 1900;
  if (year < 1980 || year > 2107) Fail("the year " + std::to_string(year) + " cannot be written in MS-DOS form");
  t.tm_sec = (t.tm_sec / 2) * 2;  // a leap second 60 becomes 60 / 2 = 30, which is out of range
  if (t.tm_sec > 58) t.tm_sec = 58;
  return (static_cast<uint32_t>(year - 1980) << 25) | (static_cast<uint32_t>(t.tm_mon + 1) << 21) |
         (static_cast<uint32_t>(t.tm_mday) << 16) | (static_cast<uint32_t>(t.tm_hour) << 11) |
         (static_cast<uint32_t>(t.tm_min) << 5) | static_cast<uint32_t>(t.tm_sec / 2);
}

// The PE image checksum (as computed by the system's CheckSumMappedFile).
uint32_t PeChecksum(const std::vector<unsigned char>& b, size_t checksumAt) {
  uint64_t sum = 0;
  for (size_t i = 0; i < b.size(); i += 2) {
    if (i == checksumAt || i == checksumAt + 2) continue;
    uint32_t word = b[i] | (i + 1 < b.size() ? b[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + b.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::string file, report;
  bool haveRaw = false;
  uint32_t raw = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--raw" && i + 1 < argc) {
      unsigned long long v;
      if (!ParseNumber(argv[++i], v) || v > 0xFFFFFFFFull) Fail(std::string("bad --raw value ") + argv[i]);
      raw = static_cast<uint32_t>(v);
      haveRaw = true;
    } else if (a == "--report" && i + 1 < argc) {
      report = argv[++i];
    } else if (file.empty() && !a.empty() && a[0] != '-') {
      file = a;
    } else {
      Fail("usage: qor_stamp [--raw VALUE] [--report FILE] PE-FILE");
    }
  }
  if (file.empty()) Fail("usage: qor_stamp [--raw VALUE] [--report FILE] PE-FILE");

  std::vector<unsigned char> b;
  {
    std::ifstream in(file, std::ios::binary);
    if (!in) Fail("cannot open " + file);
    b.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (Get16(b, 0) != 0x5A4D) Fail(file + " is not a Windows program (no MZ header)");
  const size_t pe = Get32(b, 60);
  if (Get32(b, pe) != 0x00004550) Fail(file + " has no PE signature");
  const size_t fileHeader = pe + 4;
  const uint32_t sections = Get16(b, fileHeader + 2);
  const uint32_t optionalSize = Get16(b, fileHeader + 16);
  const size_t optional = fileHeader + 20;
  const uint32_t magic = Get16(b, optional);
  if (magic != 0x10B && magic != 0x20B) Fail(file + " has an unknown optional header");
  const size_t checksumAt = optional + 64;  // the same offset in PE32 and PE32+
  const size_t table = optional + optionalSize;

  size_t rsrc = 0;
  bool found = false;
  for (uint32_t s = 0; s < sections && !found; ++s) {
    const size_t h = table + 40 * static_cast<size_t>(s);
    if (h + 40 > b.size()) Fail("section table is truncated");
    if (std::string(reinterpret_cast<const char*>(&b[h]), 8) == std::string(".rsrc\0\0\0", 8)) {
      const uint32_t rawSize = Get32(b, h + 16);
      rsrc = Get32(b, h + 20);
      if (rawSize < 16 || rsrc + 16 > b.size()) Fail(".rsrc section is too small");
      found = true;
    }
  }
  if (!found) Fail(file + " has no .rsrc section");

  std::tm t{};
  uint32_t stamp;
  if (haveRaw) {
    stamp = raw;
    t.tm_year = static_cast<int>(raw >> 25) + 80;
    t.tm_mon = static_cast<int>((raw >> 21) & 15) - 1;
    t.tm_mday = static_cast<int>((raw >> 16) & 31);
    t.tm_hour = static_cast<int>((raw >> 11) & 31);
    t.tm_min = static_cast<int>((raw >> 5) & 63);
    t.tm_sec = static_cast<int>(raw & 31) * 2;
  } else {
    stamp = BuildStamp(t);
  }
  Put32(b, rsrc + 4, stamp);
  if (Get32(b, checksumAt) != 0) Put32(b, checksumAt, PeChecksum(b, checksumAt));

  // Patch the two fields in place: the file keeps its permissions and everything else stays as linked.
  {
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    if (!out) Fail("cannot open " + file + " for writing");
    out.seekp(static_cast<std::streamoff>(rsrc + 4));
    out.write(reinterpret_cast<const char*>(&b[rsrc + 4]), 4);
    out.seekp(static_cast<std::streamoff>(checksumAt));
    out.write(reinterpret_cast<const char*>(&b[checksumAt]), 4);
    out.close();
    if (!out) Fail("cannot write " + file);
  }
  char text[64];
  std::snprintf(text, sizeof text, "0x%08X %04d-%02d-%02d %02d:%02d:%02d", stamp, t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  if (!report.empty()) {
    std::ofstream out(report, std::ios::trunc);
    out << text << "\n";
    if (!out) Fail("cannot write " + report);
  }
  std::cout << "qor_stamp: " << file << ": " << text << "\n";
  return 0;
}
