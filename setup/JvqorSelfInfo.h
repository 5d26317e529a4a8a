// The program's own version strings and build time, read from its executable file at run time, and the
// texts of the main window's version and build-time lines.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Handles.h"

namespace qor {

// Version strings and build time of one program file, each read from the file once and then cached.
class SelfInfo {
 public:
  explicit SelfInfo(std::wstring fileName);
  SelfInfo(const SelfInfo&) = delete;
  SelfInfo& operator=(const SelfInfo&) = delete;

  // The value of the string `name` in the first translation of the file's version resource, up to its
  // first NUL; empty when there is none. Names match case-insensitively. Every result, the empty one
  // included, is cached, so each distinct name reads the file once. Safe to call from several threads.
  std::wstring GetVersionInfoString(std::wstring_view name);

  // The build time (days since 30 December 1899, local time) from the TimeDateStamp of the root resource
  // directory of the section ".rsrc"; 0 when the stamp is 0, cannot be read or cannot be decoded. The
  // file is read on the first call only; later calls return the stored value, 0 included. Never raises.
  double GetBuildTime() noexcept;

  const std::wstring& fileName() const noexcept { return fileName_; }

 private:
  std::wstring fileName_;
  CriticalSection versionInfoLock_;
  // Lines name=value in the order asked; created on the first lookup that misses.
  std::unique_ptr<std::vector<std::pair<std::wstring, std::wstring>>> versionInfoCache_;
  double buildTimeCache_ = -1.0;
};

// Module start-up (the lock and the caches for the program's own file) and shut-down (cache, then lock).
// The functions below start the module on first use if the program has not.
void InitializeJvqorSelfInfo();
void FinalizeJvqorSelfInfo();

// SelfInfo of the program's own executable.
std::wstring GetVersionInfoString(std::wstring_view name);
// GetVersionInfoString("ProductVersion"): "1.1" for this build.
std::wstring GetProductVersion();
double GetBuildTime() noexcept;

// Reads the build time of a program file without caching (0 on every failure).
double ReadBuildTime(const std::wstring& fileName) noexcept;
// Decodes an MS-DOS date and time (bits 31-25 year - 1980, 24-21 month, 20-16 day, 15-11 hour, 10-5
// minute, 4-0 second / 2). A stamp of 0 gives 0. False when a field is out of range (month 0 or 13,
// 30 February, hour 24, ...).
bool TryDecodeDosDateTime(uint32_t stamp, double& dateTime) noexcept;
// The date-time value of a calendar date and time of day.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond = 0);

// A date-time value in the user's locale: the short date, and, unless the value is exactly midnight,
// a blank and the long time. Empty for a value outside the years 1601 to 30827.
std::wstring DateTimeToDisplayText(double dateTime);
// The version line: pattern (catalogue text "AboutVersion", English "Version %s") with GetProductVersion.
std::wstring FormatVersionLine(std::wstring_view pattern);
// The build-time line: pattern ("AboutBuildTime", English "Build time %s") with the build time as text.
std::wstring FormatBuildTimeLine(std::wstring_view pattern);
// The two lines as the main window shows them, with the catalogue's current texts of "AboutVersion" and
// "AboutBuildTime" (English "Version 1.1", "Build time 6/17/2014 11:14:58 PM").
std::wstring VersionLabelText();
std::wstring BuildTimeLabelText();

}  // namespace qor
