#include "ProcessPolicy.h"

#include <windows.h>

namespace qor {

bool RestrictDllSearchToSystem32() {
  using Fn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto fn = kernel ? reinterpret_cast<Fn>(::GetProcAddress(kernel, "SetDefaultDllDirectories")) : nullptr;
  return fn && fn(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace qor
