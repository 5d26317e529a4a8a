// Registering and unregistering the host server: it is started once with the switch for the chosen
// action and scope, elevated through the "runas" prompt for all users when the user is not an
// administrator, and judged by its exit code.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace qor {

// True when the calling thread's token is an enabled member of the local Administrators group
// (S-1-5-32-544); a membership present only for denying access counts as none. Raises OSError when the
// SID cannot be built or the membership cannot be tested.
bool IsUserAdmin();

// True on Windows 6 or later when IsUserAdmin is false; on earlier versions false without asking.
bool ElevationNeeded();

// Starts FileName with "/REGSERVER", "/REGSERVERPERUSER", "/UNREGSERVER" or "/UNREGSERVERPERUSER" (by
// Install and PerUser), with the verb "runas" for the two all-users switches when ElevationNeeded, waits
// for it to end and reads its exit code. Returns true for exit code 0 and false when the user declined
// the elevation prompt. Raises OSError when the program cannot be started, and qor::Error with the
// "ErrorServer" text (file-name part of FileName, decimal exit code) for a non-zero exit code.
bool RegisterHostServer(const std::wstring& FileName, bool Install, bool PerUser);

// Tests stand in for the one ShellExecuteExW call (a declined prompt cannot happen under Wine, and the
// verb and parameters are observed there); null restores the real call.
using ShellExecuteExWFn = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
void SetShellExecuteExForTesting(ShellExecuteExWFn fn);
// Tests play a standard user or an administrator; null restores the real membership test.
using IsUserAdminFn = bool (*)();
void SetIsUserAdminForTesting(IsUserAdminFn fn);

}  // namespace qor
