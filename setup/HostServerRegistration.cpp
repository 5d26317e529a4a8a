#include "HostServerRegistration.h"

#include "Error.h"
#include "Format.h"
#include "Handles.h"
#include "PathParts.h"
#include "QuorvexSetupUtils.h"
#include "qorLang.h"

namespace qor {

namespace {
ShellExecuteExWFn g_shellExecuteEx = nullptr;
IsUserAdminFn g_isUserAdmin = nullptr;

BOOL StartProgram(SHELLEXECUTEINFOW* info) {
  return g_shellExecuteEx ? g_shellExecuteEx(info) : ::ShellExecuteExW(info);
}

struct HostServerSwitch {
  const wchar_t* parameters;
  bool allUsers;  // only the all-users switches may need elevation
};

HostServerSwitch SwitchFor(bool Install, bool PerUser) {
  if (Install) return PerUser ? HostServerSwitch{L"/REGSERVERPERUSER", false} : HostServerSwitch{L"/REGSERVER", true};
  return PerUser ? HostServerSwitch{L"/UNREGSERVERPERUSER", false} : HostServerSwitch{L"/UNREGSERVER", true};
}
}  // namespace

bool IsUserAdmin() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &administrators))
    RaiseLastOSError();
  ScopeGuard freeSid([administrators]() noexcept { ::FreeSid(administrators); });
  // With no token CheckTokenMembership tests the caller's effective token and counts a deny-only group
  // (the filtered token of an administrator under User Account Control) as no membership.
  BOOL member = FALSE;
  if (!::CheckTokenMembership(nullptr, administrators, &member)) RaiseLastOSError();
  return member != FALSE;
}

bool ElevationNeeded() {
  if (!IsVistaOrLater()) return false;
  return !(g_isUserAdmin ? g_isUserAdmin() : IsUserAdmin());
}

bool RegisterHostServer(const std::wstring& FileName, bool Install, bool PerUser) {
  const HostServerSwitch choice = SwitchFor(Install, PerUser);
  // Asked afresh every time: the user's rights may have changed since the last run.
  const bool elevate = choice.allUsers && ElevationNeeded();

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // No message box of the shell's own: the setup reports the failure itself, once, and the shell's box
  // would also leave the error code of its own closing behind instead of the failure's.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = nullptr;
  info.lpVerb = elevate ? L"runas" : nullptr;
  info.lpFile = FileName.c_str();
  info.lpParameters = choice.parameters;
  info.lpDirectory = nullptr;
  info.nShow = SW_SHOWNORMAL;
  if (!StartProgram(&info)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_CANCELLED) return false;  // the user declined the elevation prompt
    RaiseOSError(error);
  }

  // A start that hands back no process (or one whose end cannot be awaited or read) cannot be judged:
  // it is reported as the system error rather than taken for a successful registration.
  ProcessHandle process(info.hProcess);
  if (::WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED) RaiseLastOSError();
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process.get(), &exitCode)) RaiseLastOSError();
  if (!::CloseHandle(process.release())) RaiseLastOSError();

  if (exitCode != 0)
    throw Error(FormatText(GetLangStr(L"ErrorServer"), {ExtractFileName(FileName), static_cast<long long>(exitCode)}));
  return true;
}

void SetShellExecuteExForTesting(ShellExecuteExWFn fn) { g_shellExecuteEx = fn; }
void SetIsUserAdminForTesting(IsUserAdminFn fn) { g_isUserAdmin = fn; }

}  // namespace qor
