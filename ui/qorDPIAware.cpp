#include "qorDPIAware.h"

#include <windows.h>

#include "Handles.h"

namespace qor {

void InitializeDPIAware() noexcept {
  ModuleHandle user32(::LoadLibraryW(L"User32.dll"));
  if (!user32) return;
  using SetProcessDPIAwareFn = BOOL(WINAPI*)();
  if (auto setAware = reinterpret_cast<SetProcessDPIAwareFn>(::GetProcAddress(user32.get(), "SetProcessDPIAware")))
    setAware();
}

void FinalizeDPIAware() noexcept {}

}  // namespace qor
