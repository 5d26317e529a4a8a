// Placeholder bodies until registration is built: every call raises, so nothing can pass for done.
#include "HostServerRegistration.h"

#include "Error.h"

namespace qor {
bool IsUserAdmin() { throw Error(L"not built yet"); }
bool ElevationNeeded() { throw Error(L"not built yet"); }
bool RegisterHostServer(const std::wstring&, bool, bool) { throw Error(L"not built yet"); }
void SetShellExecuteExForTesting(ShellExecuteExWFn) {}
void SetIsUserAdminForTesting(IsUserAdminFn) {}
}  // namespace qor
