// Placeholder bodies until registration and process shutdown are built: every call raises, so nothing
// can pass for done.
#include "HostServerRegistration.h"
#include "QuorvexSetupCloseProcessFormUnit.h"
#include "RunningProcesses.h"

#include "Error.h"

namespace qor {
namespace {
[[noreturn]] void NotBuilt() { throw Error(L"not built yet"); }
}  // namespace
bool IsUserAdmin() { NotBuilt(); }
bool ElevationNeeded() { NotBuilt(); }
bool RegisterHostServer(const std::wstring&, bool, bool) { NotBuilt(); }
void SetShellExecuteExForTesting(ShellExecuteExWFn) {}
void SetIsUserAdminForTesting(IsUserAdminFn) {}
void GetProcessesUsingFile(const std::wstring&, ProcessList&) { NotBuilt(); }
void UnloadTotalCommanderPlugins(DWORD) { NotBuilt(); }
ReleaseResult ReleaseFile(const std::wstring&) { NotBuilt(); }
void CloseHostServers() { NotBuilt(); }
}  // namespace qor
