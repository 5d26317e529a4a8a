// Late-bound entry points of shell32.dll, shlwapi.dll and propsys.dll, loaded once on first need.
#include <atomic>
#include <iterator>
#include <memory>

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

// One row per entry point, in the order the loader resolves them; the slot names below are made from
// the same list, so a row added or moved cannot leave a wrapper reading another entry point's slot.
#define QOR_SHELL_ENTRY_POINTS(X)                \
  X(kShell32, ILCombine, 25)                     \
  X(kShell32, ILClone, 18)                       \
  X(kShell32, ILFree, 155)                       \
  X(kShell32, ILIsParent, 23)                    \
  X(kShell32, SHCreateShellItem, 0)              \
  X(kShell32, SHBindToParent, 0)                 \
  X(kShell32, SHCreateShellItemArrayFromDataObject, 0) \
  X(kShell32, SHGetKnownFolderPath, 0)           \
  X(kShell32, SHGetFolderPathW, 0)               \
  X(kShell32, SHGetImageList, 727)               \
  X(kShell32, SHLoadInProc, 0)                   \
  X(kShell32, SHGetStockIconInfo, 0)             \
  X(kShell32, CDefFolderMenu_Create2, 701)       \
  X(kShlwapi, AssocGetPerceivedType, 0)          \
  X(kShlwapi, AssocQueryStringW, 0)              \
  X(kShlwapi, AssocQueryKeyW, 0)                 \
  X(kPropsys, VariantToPropVariant, 0)           \
  X(kPropsys, PropVariantToVariant, 0)           \
  X(kPropsys, PropVariantChangeType, 0)          \
  X(kPropsys, ClearPropVariantArray, 0)          \
  X(kPropsys, PropVariantToStringAlloc, 0)

#define QOR_ENTRY_ROW(module, name, ordinal) {module, #name, ordinal},
const EntryPoint kEntryPoints[] = {QOR_SHELL_ENTRY_POINTS(QOR_ENTRY_ROW)};
#undef QOR_ENTRY_ROW
#define QOR_ENTRY_SLOT(module, name, ordinal) k##name,
enum Slot { QOR_SHELL_ENTRY_POINTS(QOR_ENTRY_SLOT) kEntryCount };
#undef QOR_ENTRY_SLOT
static_assert(std::size(kEntryPoints) == static_cast<size_t>(kEntryCount));

struct ShellFunctionsTable {
  HMODULE modules[kModuleCount] = {};
  FARPROC slots[kEntryCount] = {};
  bool loaded = false;
  // Exists between start-up and shut-down only.
  std::unique_ptr<CriticalSection> lock;
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

// The slot's entry point, or null when it is missing, and also before start-up and after shut-down: then
// the lock does not exist and the modules the slots point into may be gone.
template <typename Fn>
Fn SlotAs(Slot slot) {
  if (!LoadShellFunctions()) return nullptr;
  return reinterpret_cast<Fn>(ShellFunctions.slots[slot]);
}

}  // namespace

void SetShellModuleLoaderForTesting(const ShellModuleLoader* loader) {
  Loader.store(loader ? loader : &kSystemLoader);
}

void InitShellFunctionsTable() {
  ShellFunctions.loaded = false;
  if (!ShellFunctions.lock) ShellFunctions.lock = std::make_unique<CriticalSection>();
}

void DestroyShellFunctionsLock() { ShellFunctions.lock.reset(); }

bool LoadShellFunctions() {
  if (!ShellFunctions.lock) return false;
  LockGuard guard(*ShellFunctions.lock);
  if (ShellFunctions.loaded) return true;
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
  return true;
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
