// Who is who among the running processes: the setup's parent, any process's image path, the Windows
// version.
#pragma once
#include <windows.h>

#include <string>

namespace qor {

// Module start-up (reads the Windows version once) and shut-down (frees psapi.dll if it was loaded).
void InitializeQuorvexSetupUtils();
void FinalizeQuorvexSetupUtils();

// The id of the process that created this one, as the system's process list records it; 0 when not found.
DWORD GetParentProcessID();
// The process's full image path, or "System process #<id>" when it cannot be read. Never raises.
std::wstring GetProcessImagePath(DWORD processId);
// True when the Windows major version read at start-up is 6 or higher.
bool IsVistaOrLater();
// Loads psapi.dll and resolves GetModuleFileNameExW on first use; raises OSError when either fails.
void LoadPsapi();
void UnloadPsapi();

// Tests play an older Windows with this; 0 reads the real version again.
void SetWindowsMajorVersionForTesting(DWORD major);
// Tests stand in for kernel32's QueryFullProcessImageNameW (Wine cannot start a program whose path is
// longer than 260 characters); null restores the lookup in kernel32.dll.
using QueryFullProcessImageNameWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
void SetQueryFullProcessImageNameForTesting(QueryFullProcessImageNameWFn fn);

}  // namespace qor
