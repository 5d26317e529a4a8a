// Helpers of the procedure tests: a Total Commander installation in a folder, the state of a folder
// tree, ini values, and a watcher that reads and answers the message boxes of a run.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "SetupWindowDriver.h"

namespace qortest {

// A Total Commander folder whose wincmd.ini lists four packer plugins under Plugins\wcx\<name>\<name>.wcx:
// zip (an earlier proxy copy beside it), rar (numeric prefix, no copy), 7zip (a real 64-bit build beside
// it: not listed) and cab (an earlier proxy copy); "$checksum$" is 1 in "PackerPlugins64".
struct TotalCommanderInstallation {
  std::wstring root, ini, setupFolder;
  std::wstring packerPlugins;  // the section "PackerPlugins" as the profile functions read it
  std::wstring Copy(const std::wstring& name) const {
    return root + L"\\Plugins\\wcx\\" + name + L"\\" + name + L".wcx64";
  }
  std::wstring HostServer() const { return setupFolder + L"\\Quorvex.exe"; }
};
TotalCommanderInstallation MakeTotalCommanderInstallation(const std::wstring& folder);

// True when the stand-in host server's registration is under root (HKCU or HKLM).
bool RegisteredIn(HKEY root);

// Every file below a folder with its contents.
struct DiskState {
  std::map<std::wstring, std::string> files;
  static DiskState Of(const std::wstring& root);
  // The relative paths that were added, removed or changed since before, sorted.
  std::vector<std::wstring> ChangesFrom(const DiskState& before) const;
};

// A value as GetPrivateProfileStringW reads it ("" when absent), and a whole section as its
// "key=value" lines joined with "\n".
std::wstring IniValue(const std::wstring& file, const wchar_t* section, const wchar_t* key);
std::wstring IniSection(const std::wstring& file, const wchar_t* section);

// Runs action on the calling (window) thread while a watcher thread waits for message boxes of that
// thread, reads the first one and presses OK on each. Windows still open after timeoutMs are closed (the
// test then fails instead of hanging).
MessageBoxSeen RunAnsweringMessageBox(HWND owner, const std::function<void()>& action, DWORD timeoutMs = 60000);

}  // namespace qortest
