// Process-wide security policy set once at start-up.
#pragma once

namespace qor {

// Restricts the search path of libraries loaded by bare name to System32 (when the system offers it),
// so that a DLL planted beside the setup (a Downloads folder) is never loaded. True when restricted.
bool RestrictDllSearchToSystem32();

}  // namespace qor
