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

// "text" in double quotes, for command lines.
std::wstring Quoted(const std::wstring& text);

// A started program, ended (terminated if it still runs) and closed when the guard goes, whichever
// assertion ends the test.
class ChildProcess {
 public:
  ChildProcess(const std::wstring& exe, const std::wstring& arguments);
  ~ChildProcess() { End(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD StartError() const { return startError_; }
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_; }
  bool Running() const;
  // True when the process has ended within timeoutMs.
  bool WaitEnded(DWORD timeoutMs) const;
  DWORD ExitCode() const;
  // Terminates the process if it still runs and waits until it is gone.
  void End();

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
  DWORD startError_ = 0;
};

// Waits until the named event "<event>.ready" exists and is set (the doubles' sign of being ready);
// false when the child ended first or timeoutMs passed.
bool WaitForReadyEvent(const ChildProcess& child, const std::wstring& event, DWORD timeoutMs = 15000);

// Runs a command line and returns its exit code (or 1000 + the error when it cannot start or times out).
DWORD RunAndWait(const std::wstring& commandLine, DWORD timeoutMs = 30000);

inline std::span<const unsigned char> Bytes(const std::string& s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}
std::string Narrow(const std::wstring& text);

}  // namespace qortest
