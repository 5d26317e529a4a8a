#include "JvqorSelfInfo.h"

#include <windows.h>

#include <cmath>
#include <cstring>
#include <cwchar>

#include "Format.h"
#include "TextCompare.h"
#include "VersionInfo.h"
#include "qorLang.h"

namespace qor {
namespace {

std::unique_ptr<SelfInfo> g_ownInfo;

std::wstring OwnFileName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

SelfInfo& OwnInfo() {
  if (!g_ownInfo) InitializeJvqorSelfInfo();
  return *g_ownInfo;
}

// Days from 1 January 1970 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (month <= 2));
}

const long long kDateTimeEpoch = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

bool ReadExact(HANDLE file, void* buffer, DWORD size) {
  DWORD read = 0;
  return ::ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

bool SeekTo(HANDLE file, uint32_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The raw TimeDateStamp of the root resource directory; false when it cannot be read.
bool ReadResourceStamp(const std::wstring& fileName, uint32_t& stamp) {
  FileHandle file(::CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  unsigned char dos[64];
  if (!ReadExact(file.get(), dos, sizeof dos) || !SeekTo(file.get(), Le32(dos + 60))) return false;
  unsigned char signature[4], header[20];
  if (!ReadExact(file.get(), signature, 4) || std::memcmp(signature, "PE\0\0", 4) != 0) return false;
  if (!ReadExact(file.get(), header, sizeof header)) return false;
  const unsigned sections = Le16(header + 2);
  // The optional header (240 bytes in a 64-bit program) is skipped by its declared size.
  const unsigned optionalSize = Le16(header + 16);
  LARGE_INTEGER skip;
  skip.QuadPart = optionalSize;
  if (!::SetFilePointerEx(file.get(), skip, nullptr, FILE_CURRENT)) return false;
  for (unsigned i = 0; i < sections; ++i) {
    unsigned char section[40];
    if (!ReadExact(file.get(), section, sizeof section)) return false;
    if (std::memcmp(section, ".rsrc", 5) != 0) continue;
    unsigned char directory[16];
    if (!SeekTo(file.get(), Le32(section + 20)) || !ReadExact(file.get(), directory, sizeof directory)) return false;
    stamp = Le32(directory + 4);
    return true;
  }
  return false;
}

std::wstring LocaleText(int (*format)(LCID, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR, int), DWORD flags,
                        const SYSTEMTIME& st) {
  const int n = format(LOCALE_USER_DEFAULT, flags, &st, nullptr, nullptr, 0);
  if (n <= 0) return {};
  std::wstring text(static_cast<size_t>(n), L'\0');
  if (format(LOCALE_USER_DEFAULT, flags, &st, nullptr, text.data(), n) <= 0) return {};
  text.resize(std::wcslen(text.c_str()));
  return text;
}

}  // namespace

SelfInfo::SelfInfo(std::wstring fileName) : fileName_(std::move(fileName)) {}

std::wstring SelfInfo::GetVersionInfoString(std::wstring_view name) {
  LockGuard lock(versionInfoLock_);
  if (versionInfoCache_) {
    for (const auto& [cachedName, value] : *versionInfoCache_)
      if (SameText(cachedName, name)) return value;
  }
  VersionResource version;
  std::wstring result = version.Read(fileName_) ? version.String(name) : std::wstring();
  if (!versionInfoCache_) versionInfoCache_ = std::make_unique<std::vector<std::pair<std::wstring, std::wstring>>>();
  versionInfoCache_->emplace_back(std::wstring(name), result);
  return result;
}

double SelfInfo::GetBuildTime() noexcept {
  if (buildTimeCache_ > -1.0) return buildTimeCache_;
  buildTimeCache_ = ReadBuildTime(fileName_);
  return buildTimeCache_;
}

void InitializeJvqorSelfInfo() {
  if (!g_ownInfo) g_ownInfo = std::make_unique<SelfInfo>(OwnFileName());
}

void FinalizeJvqorSelfInfo() { g_ownInfo.reset(); }

std::wstring GetVersionInfoString(std::wstring_view name) { return OwnInfo().GetVersionInfoString(name); }

std::wstring GetProductVersion() { return GetVersionInfoString(L"ProductVersion"); }

double GetBuildTime() noexcept {
  try {
    return OwnInfo().GetBuildTime();
  } catch (...) {
    return 0;
  }
}

double ReadBuildTime(const std::wstring& fileName) noexcept {
  uint32_t stamp = 0;
  double value = 0;
  if (!ReadResourceStamp(fileName, stamp) || !TryDecodeDosDateTime(stamp, value)) return 0;
  return value;
}

bool TryDecodeDosDateTime(uint32_t stamp, double& dateTime) noexcept {
  if (stamp == 0) {
    dateTime = 0;
    return true;
  }
  const int year = 1980 + static_cast<int>(stamp >> 25);
  const int month = static_cast<int>((stamp >> 21) & 0x0F);
  const int day = static_cast<int>((stamp >> 16) & 0x1F);
  const int hour = static_cast<int>((stamp >> 11) & 0x1F);
  const int minute = static_cast<int>((stamp >> 5) & 0x3F);
  const int second = static_cast<int>(stamp & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
      second > 59)
    return false;
  dateTime = EncodeDateTime(year, month, day, hour, minute, second);
  return true;
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  const double days = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kDateTimeEpoch);
  return days + (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
}

std::wstring DateTimeToDisplayText(double dateTime) {
  if (!std::isfinite(dateTime)) return {};
  // Floor and round to the nearest millisecond (halves away from zero) by hand: the C runtime's floor
  // and llround would add their objects to the program for these two lines.
  long long days = static_cast<long long>(dateTime);
  if (static_cast<double>(days) > dateTime) --days;
  const double exactMs = (dateTime - static_cast<double>(days)) * 86400000.0;  // in [0, 86400000]
  long long ms = static_cast<long long>(exactMs);
  if (exactMs - static_cast<double>(ms) >= 0.5) ++ms;
  if (ms >= 86400000) {
    ++days;
    ms -= 86400000;
  }
  int year, month, day;
  CivilFromDays(days + kDateTimeEpoch, year, month, day);
  if (year < 1601 || year > 30827) return {};
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(ms / 3600000);
  st.wMinute = static_cast<WORD>(ms / 60000 % 60);
  st.wSecond = static_cast<WORD>(ms / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(ms % 1000);
  st.wDayOfWeek = static_cast<WORD>(((days + kDateTimeEpoch) % 7 + 7 + 4) % 7);  // 1 January 1970 was a Thursday
  std::wstring text = LocaleText(::GetDateFormatW, DATE_SHORTDATE, st);
  if (ms != 0) text += L" " + LocaleText(::GetTimeFormatW, 0, st);
  return text;
}

std::wstring FormatVersionLine(std::wstring_view pattern) { return FormatText(pattern, {GetProductVersion()}); }

std::wstring FormatBuildTimeLine(std::wstring_view pattern) {
  return FormatText(pattern, {DateTimeToDisplayText(GetBuildTime())});
}

std::wstring VersionLabelText() { return FormatVersionLine(GetLangStr(L"AboutVersion")); }

std::wstring BuildTimeLabelText() { return FormatBuildTimeLine(GetLangStr(L"AboutBuildTime")); }

}  // namespace qor
