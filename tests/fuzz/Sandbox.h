// The folder a target works in, and the file helpers the targets share.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace qortest::fuzz {

// C:\qor_fuzz\<name>\ (a fixed path: seeds may name it), emptied when made and removed when it goes.
class Sandbox {
 public:
  void Make(const std::string& name);
  void Remove();
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

 private:
  std::wstring path_;
};

struct FileEntry {
  std::wstring relative;  // below the listed folder
  ULONGLONG size;
};
// Every file below root, sorted by relative path.
std::vector<FileEntry> ListFilesBelow(const std::wstring& root);
// Deletes every file below root and every folder below it except those in keep (relative paths).
void EmptyFolder(const std::wstring& root, const std::vector<std::wstring>& keep = {});

// Writes the bytes, creating missing folders. Each write gives the file a last-write time of its own:
// the profile functions keep recently read files and reuse them while the time stamp is unchanged,
// which two writes in the same clock tick would otherwise defeat.
bool WriteFileNewStamp(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);

// A registry value from an input part: its first four bytes are the type (little-endian), the rest the
// data. A part shorter than four bytes leaves the value absent (deleted). The key is created as needed.
void SetValueFromPart(HKEY root, const wchar_t* key, const wchar_t* name, const std::string& part);
// The value's data as stored; nullopt when it is absent.
std::optional<std::string> StoredValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD* type = nullptr);

}  // namespace qortest::fuzz
