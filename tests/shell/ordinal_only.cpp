// A stand-in for a shell32.dll that exports ILCombine by ordinal 25 only, without its name.
#include <windows.h>

extern "C" void* WINAPI FakeILCombine(const void* a, const void* b) {
  // A recognisable result: the sum of the two addresses.
  return reinterpret_cast<void*>(reinterpret_cast<UINT_PTR>(a) + reinterpret_cast<UINT_PTR>(b));
}
