// The version resource of a program file and the strings in it.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace qor {

// One file's version resource, read into a buffer that is kept between reads, so that a scan over many
// files allocates it once.
class VersionResource {
 public:
  // Reads the version resource of fileName, replacing what an earlier read held. False (and nothing
  // held) when the file has none or cannot be read.
  bool Read(const std::wstring& fileName);

  // The value of the string `name` in the resource's first translation, up to its first NUL; empty when
  // nothing is held or the resource has no such string. Names match as the system matches them.
  std::wstring String(std::wstring_view name) const;

 private:
  std::vector<BYTE> data_;
  bool held_ = false;
};

}  // namespace qor
