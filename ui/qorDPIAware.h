// Process DPI awareness. The start-up makes the process system-DPI-aware through SetProcessDPIAware,
// looked up in User32.dll at run time (absent before Windows Vista, where nothing happens). The program
// entry calls it before any window exists; it never fails and reports nothing.
#pragma once
#include <windows.h>

namespace qor {

void InitializeDPIAware() noexcept;
// Nothing to undo; present so that the entry can run every module's shut-down in reverse order.
void FinalizeDPIAware() noexcept;

// How the start-up reaches User32.dll. Tests replace it to play a missing library or a missing entry
// point (Wine makes every process DPI-aware before it starts, so the call itself cannot be observed
// there); null restores the system's own.
struct DPIAwareLoader {
  HMODULE (*load)(const wchar_t* name);
  FARPROC (*lookup)(HMODULE module, const char* name);
  void (*unload)(HMODULE module);
};
void SetDPIAwareLoaderForTesting(const DPIAwareLoader* loader) noexcept;

}  // namespace qor
