#include "SetupProcedure.h"

#include <windows.h>

#include <exception>
#include <new>
#include <vector>

#include "Error.h"
#include "FileSystem.h"
#include "Format.h"
#include "HostServerRegistration.h"
#include "PathParts.h"
#include "Payload.h"
#include "PluginInventory.h"
#include "QuorvexSetupMainFormUnit.h"
#include "RunningProcesses.h"
#include "qorLang.h"

namespace qor {

namespace {

constexpr wchar_t kPlugins64Section[] = L"PackerPlugins64";
constexpr wchar_t kChecksumKey[] = L"$checksum$";

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The proxy copy path of every listed plugin, in list order, with its item's tick.
struct ProxyCopy {
  std::wstring path;
  bool ticked;
};

// Checks everything that can be checked before the first file is touched, and returns the proxy copy
// paths that the run deletes: every ticked item's, and every unticked item's that names one place. An
// unticked item without a fully qualified path is passed over, since deleting it would hit a file
// relative to whatever the current folder is.
std::vector<ProxyCopy> CheckedProxyCopies(const PluginList& plugins, const std::wstring& iniPath,
                                          const std::wstring& setupFolder) {
  if (iniPath.empty()) throw Error(GetLangStr(L"ErrorNoIniFile"));
  if (!IsFullyQualifiedPath(iniPath)) throw Error(FormatText(GetLangStr(L"ErrorPathNotFull"), {iniPath}));
  if (setupFolder.empty()) throw Error(GetLangStr(L"ErrorNoSetupPath"));
  if (!IsFullyQualifiedPath(setupFolder)) throw Error(FormatText(GetLangStr(L"ErrorPathNotFull"), {setupFolder}));

  std::vector<ProxyCopy> copies;
  for (int i = 0; i < plugins.Count(); ++i) {
    const std::wstring plugin = PluginPath(plugins, i);
    const std::wstring copy = ProxySiblingPath(plugin);
    const bool ticked = plugins.Checked(i);
    if (!IsFullyQualifiedPath(copy)) {
      if (ticked) throw Error(FormatText(GetLangStr(L"ErrorPluginPathNotFull"), {plugin}));
      continue;
    }
    // The list was made when the window opened; a real 64-bit build put there since is never deleted
    // or overwritten.
    if (FileExists(copy) && !IsProxyPluginCopy(copy))
      throw Error(FormatText(GetLangStr(L"ErrorNotProxyCopy"), {copy}));
    copies.push_back({copy, ticked});
  }
  return copies;
}

// Restores the cursor that was showing when the run began, also when it ends with an error.
class WaitCursor {
 public:
  WaitCursor() : previous_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { Restore(); }
  void Restore() noexcept {
    if (active_) ::SetCursor(previous_);
    active_ = false;
  }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR previous_;
  bool active_ = true;
};

std::wstring Widen(const char* text) {
  std::wstring out;
  for (; text && *text; ++text) out += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return out;
}

}  // namespace

bool IsFullyQualifiedPath(const std::wstring& path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
  // "\\server\share...", and the "\\?\" and "\\.\" forms, which name one place as well.
  if (path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\') {
    if (path[2] == L'?' || path[2] == L'.') return path.size() >= 5 && path[3] == L'\\' && path[4] != L'\\';
    const size_t shareStart = path.find(L'\\', 2);
    return shareStart != std::wstring::npos && shareStart + 1 < path.size() && path[shareStart + 1] != L'\\';
  }
  return false;
}

std::wstring PackerPlugins64File(const std::wstring& iniPath) {
  std::vector<wchar_t> buffer(32768, L'\0');
  ::GetPrivateProfileStringW(kPlugins64Section, kRedirectSectionKey, L"", buffer.data(),
                             static_cast<DWORD>(buffer.size()), iniPath.c_str());
  const std::wstring target = RedirectTarget(iniPath, buffer.data());
  return target.empty() ? iniPath : target;
}

SetupOutcome RunSetupSteps(const PluginList& plugins, const std::wstring& iniPath, const std::wstring& setupFolder,
                           bool PerUser) {
  const std::vector<ProxyCopy> copies = CheckedProxyCopies(plugins, iniPath, setupFolder);

  // Every listed plugin loses its proxy copy first, so that none is in use when the new ones are written.
  for (const ProxyCopy& copy : copies)
    if (ReleaseFile(copy.path) == ReleaseResult::Cancelled) return SetupOutcome::Stopped;

  std::vector<std::wstring> proxyTargets;
  for (const ProxyCopy& copy : copies)
    if (copy.ticked) proxyTargets.push_back(copy.path);
  const bool install = !proxyTargets.empty();

  CloseHostServers();
  const std::wstring hostServer = IncludeTrailingPathDelimiter(setupFolder) + kHostServerName;
  if (FileExists(hostServer) && !::DeleteFileW(hostServer.c_str())) {
    const DWORD code = ::GetLastError();
    throw Error(FormatText(GetLangStr(L"ErrorUpdateFile"), {hostServer, SystemErrorText(code)}));
  }

  // The host server is registered right after it is written and before any proxy copy exists: a
  // declined elevation leaves no proxy copy behind that would have no server to talk to.
  const bool registered = ExtractPayload(setupFolder, proxyTargets, [&](const std::wstring& written) {
    return RegisterHostServer(written, install, PerUser);
  });
  if (!registered) return SetupOutcome::Stopped;

  const std::wstring iniFile = PackerPlugins64File(iniPath);
  if (!::WritePrivateProfileStringW(kPlugins64Section, kChecksumKey, L"0", iniFile.c_str()))
    throw Error(FormatText(L"Unable to write to %s", {iniFile}));
  return install ? SetupOutcome::Installed : SetupOutcome::Uninstalled;
}

void RunSetup(TForm16& form, bool PerUser) {
  WaitCursor wait;
  std::wstring error;
  try {
    const SetupOutcome outcome =
        RunSetupSteps(form.Plugins(), form.IniFileEdit.Text(), form.DirEdit.Text(), PerUser);
    if (outcome == SetupOutcome::Stopped) return;
    wait.Restore();
    const wchar_t* text = outcome == SetupOutcome::Installed ? L"InstallSuccessful" : L"UninstallSuccessful";
    ::MessageBoxW(form.Handle(), GetLangStr(text).c_str(), GetLangStr(L"CaptionInfo").c_str(),
                  MB_OK | MB_ICONINFORMATION);
    return;
  } catch (const Error& e) {
    error = e.message();
  } catch (const std::bad_alloc&) {
    error = SystemErrorText(ERROR_NOT_ENOUGH_MEMORY);
  } catch (const std::exception& e) {
    error = Widen(e.what());
  }
  wait.Restore();
  ::MessageBoxW(form.Handle(), error.c_str(), GetLangStr(L"CaptionError").c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace qor
