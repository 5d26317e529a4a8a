// Process DPI awareness. The start-up makes the process system-DPI-aware through SetProcessDPIAware,
// looked up in User32.dll at run time (absent before Windows Vista, where nothing happens). The program
// entry calls it before any window exists; it never fails and reports nothing.
#pragma once

namespace qor {

void InitializeDPIAware() noexcept;
// Nothing to undo; present so that the entry can run every module's shut-down in reverse order.
void FinalizeDPIAware() noexcept;

}  // namespace qor
