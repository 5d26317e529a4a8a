// Files, folders and processes for the tests: temporary folders, file contents, the build folder.
#pragma once
#include <windows.h>

#include <span>
#include <string>
#include <vector>

namespace qortest {

// A fresh folder under %TEMP%, removed with everything in it at the end of the test.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Writes the bytes as they are, creating missing folders; fails the test on error.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The whole file; fails the test (and returns "") when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
void RemoveTree(const std::wstring& path);
// Every file below root, as paths relative to it, sorted.
std::vector<std::wstring> ListFiles(const std::wstring& root);
// The name under which the file system stores path's last part (its letter case).
std::wstring StoredName(const std::wstring& path);

// The build's bin folder (the running test program's folder), with a trailing "\".
std::wstring BinDir();
// A file of the build: BinDir() + "..\" + relative.
std::wstring BuildFile(const std::wstring& relative);
std::wstring OwnPath();

// Runs a command line and returns its exit code (or 1000 + the error when it cannot start or times out).
DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs = 30000);

inline std::span<const unsigned char> Bytes(const std::string& s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}
std::string Narrow(const std::wstring& text);

}  // namespace qortest
