// Placeholder bodies until process shutdown is built: every call raises, so nothing can pass for done.
#include "RunningProcesses.h"

#include "Error.h"

namespace qor {
void GetProcessesUsingFile(const std::wstring&, ProcessList&) { throw Error(L"not built yet"); }
void UnloadTotalCommanderPlugins(DWORD) { throw Error(L"not built yet"); }
ReleaseResult ReleaseFile(const std::wstring&) { throw Error(L"not built yet"); }
void CloseHostServers() { throw Error(L"not built yet"); }
}  // namespace qor
