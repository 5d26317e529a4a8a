#include "qorDPIAware.h"

namespace qor {

namespace {

HMODULE SystemLoad(const wchar_t* name) { return ::LoadLibraryW(name); }
FARPROC SystemLookup(HMODULE module, const char* name) { return ::GetProcAddress(module, name); }
void SystemUnload(HMODULE module) { ::FreeLibrary(module); }

constexpr DPIAwareLoader kSystemLoader{&SystemLoad, &SystemLookup, &SystemUnload};
const DPIAwareLoader* gLoader = &kSystemLoader;

}  // namespace

void SetDPIAwareLoaderForTesting(const DPIAwareLoader* loader) noexcept {
  gLoader = loader ? loader : &kSystemLoader;
}

void InitializeDPIAware() noexcept {
  HMODULE user32 = gLoader->load(L"User32.dll");
  if (!user32) return;
  using SetProcessDPIAwareFn = BOOL(WINAPI*)();
  if (auto setAware = reinterpret_cast<SetProcessDPIAwareFn>(gLoader->lookup(user32, "SetProcessDPIAware")))
    setAware();
  gLoader->unload(user32);
}

void FinalizeDPIAware() noexcept {}

}  // namespace qor
