// Late-bound entry points of shell32.dll, shlwapi.dll and propsys.dll, loaded once on first need.
#include <atomic>

#include "Handles.h"
#include "qorShellBaseExtension.h"

namespace qor {

namespace {

enum Module { kShell32, kShlwapi, kPropsys, kModuleCount };
const wchar_t* const kModuleNames[kModuleCount] = {L"shell32.dll", L"shlwapi.dll", L"propsys.dll"};

struct EntryPoint {
  Module module;
  const char* name;
  WORD ordinal;  // tried when the name is not found; 0 for none
};

// In the order the loader resolves them.
const EntryPoint kEntryPoints[] = {
    {kShell32, "ILCombine", 25},
    {kShell32, "ILClone", 18},
    {kShell32, "ILFree", 155},
    {kShell32, "ILIsParent", 23},
    {kShell32, "SHCreateShellItem", 0},
    {kShell32, "SHBindToParent", 0},
    {kShell32, "SHCreateShellItemArrayFromDataObject", 0},
    {kShell32, "SHGetKnownFolderPath", 0},
    {kShell32, "SHGetFolderPathW", 0},
    {kShell32, "SHGetImageList", 727},
    {kShell32, "SHLoadInProc", 0},
    {kShell32, "SHGetStockIconInfo", 0},
    {kShell32, "CDefFolderMenu_Create2", 701},
    {kShlwapi, "AssocGetPerceivedType", 0},
    {kShlwapi, "AssocQueryStringW", 0},
    {kShlwapi, "AssocQueryKeyW", 0},
    {kPropsys, "VariantToPropVariant", 0},
    {kPropsys, "PropVariantToVariant", 0},
    {kPropsys, "PropVariantChangeType", 0},
    {kPropsys, "ClearPropVariantArray", 0},
    {kPropsys, "PropVariantToStringAlloc", 0},
};
constexpr size_t kEntryCount = sizeof(kEntryPoints) / sizeof(kEntryPoints[0]);
enum Slot { kILCombine = 0, kSHBindToParent = 5, kSHCreateShellItemArrayFromDataObject = 6,
            kSHGetKnownFolderPath = 7, kSHGetFolderPathW = 8 };

struct ShellFunctionsTable {
  HMODULE modules[kModuleCount] = {};
  FARPROC slots[kEntryCount] = {};
  bool loaded = false;
  CriticalSection* lock = nullptr;
};
ShellFunctionsTable ShellFunctions;

HMODULE SystemLoad(const wchar_t* name) {
  // No "cannot find module" box for a module the running Windows lacks.
  UINT previous = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
  HMODULE h = ::LoadLibraryW(name);
  ::SetErrorMode(previous);
  return h;
}
FARPROC SystemLookup(HMODULE module, const char* nameOrOrdinal) { return ::GetProcAddress(module, nameOrOrdinal); }
void SystemUnload(HMODULE module) { ::FreeLibrary(module); }
const ShellModuleLoader kSystemLoader = {SystemLoad, SystemLookup, SystemUnload};
std::atomic<const ShellModuleLoader*> Loader{&kSystemLoader};

template <typename Fn>
Fn SlotAs(Slot slot) {
  LoadShellFunctions();
  return reinterpret_cast<Fn>(ShellFunctions.slots[slot]);
}

}  // namespace

void SetShellModuleLoaderForTesting(const ShellModuleLoader* loader) {
  Loader.store(loader ? loader : &kSystemLoader);
}

void InitShellFunctionsTable() {
  ShellFunctions.loaded = false;
  if (!ShellFunctions.lock) ShellFunctions.lock = new CriticalSection();
}

void DestroyShellFunctionsLock() {
  delete ShellFunctions.lock;
  ShellFunctions.lock = nullptr;
}

void LoadShellFunctions() {
  LockGuard guard(*ShellFunctions.lock);
  if (ShellFunctions.loaded) return;
  // Set before anything is loaded: a load that fails is never retried.
  ShellFunctions.loaded = true;
  const ShellModuleLoader* loader = Loader.load();
  for (int m = 0; m < kModuleCount; ++m) {
    HMODULE h = loader->load(kModuleNames[m]);
    ShellFunctions.modules[m] = h;
    for (size_t i = 0; i < kEntryCount; ++i) {
      const EntryPoint& e = kEntryPoints[i];
      if (e.module != m) continue;
      FARPROC p = nullptr;
      if (h) {
        p = loader->lookup(h, e.name);
        if (!p && e.ordinal) p = loader->lookup(h, MAKEINTRESOURCEA(e.ordinal));
      }
      ShellFunctions.slots[i] = p;
    }
  }
}

void UnloadShellFunctions() {
  const ShellModuleLoader* loader = Loader.load();
  for (HMODULE& h : ShellFunctions.modules) {
    if (h) loader->unload(h);
    h = nullptr;
  }
}

HRESULT DynSHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken, PWSTR* ppszPath) {
  using Fn = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
  Fn fn = SlotAs<Fn>(kSHGetKnownFolderPath);
  return fn ? fn(rfid, dwFlags, hToken, ppszPath) : E_NOTIMPL;
}

HRESULT DynSHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath) {
  using Fn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
  Fn fn = SlotAs<Fn>(kSHGetFolderPathW);
  return fn ? fn(hwnd, csidl, hToken, dwFlags, pszPath) : E_NOTIMPL;
}

HRESULT DynSHBindToParent(PCIDLIST_ABSOLUTE pidl, REFIID riid, void** ppv, PCUITEMID_CHILD* ppidlLast) {
  using Fn = HRESULT(WINAPI*)(PCIDLIST_ABSOLUTE, REFIID, void**, PCUITEMID_CHILD*);
  Fn fn = SlotAs<Fn>(kSHBindToParent);
  return fn ? fn(pidl, riid, ppv, ppidlLast) : E_NOTIMPL;
}

HRESULT DynSHCreateShellItemArrayFromDataObject(IDataObject* pdo, REFIID riid, void** ppv) {
  using Fn = HRESULT(WINAPI*)(IDataObject*, REFIID, void**);
  Fn fn = SlotAs<Fn>(kSHCreateShellItemArrayFromDataObject);
  return fn ? fn(pdo, riid, ppv) : E_NOTIMPL;
}

PIDLIST_ABSOLUTE DynILCombine(PCIDLIST_ABSOLUTE pidl1, PCUIDLIST_RELATIVE pidl2) {
  using Fn = PIDLIST_ABSOLUTE(WINAPI*)(PCIDLIST_ABSOLUTE, PCUIDLIST_RELATIVE);
  Fn fn = SlotAs<Fn>(kILCombine);
  return fn ? fn(pidl1, pidl2) : nullptr;
}

void TaskMemFree(void* p) { ::CoTaskMemFree(p); }

}  // namespace qor
