// A plugin file stand-in: an empty 64-bit DLL. Built three times, with a version resource that names it
// the proxy plugin, with one that names another 64-bit build, and with none at all.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
