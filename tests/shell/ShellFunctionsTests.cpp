#include <shlobj.h>

#include <atomic>
#include <string>
#include <thread>

#include "ShellTestEnv.h"

using namespace qor;

namespace {

std::atomic<int> loads{0};
std::atomic<int> unloads{0};
std::wstring ordinalDllPath;

HMODULE MissingLoad(const wchar_t*) {
  ++loads;
  return nullptr;
}
FARPROC RealLookup(HMODULE m, const char* n) { return GetProcAddress(m, n); }
void CountingUnload(HMODULE m) {
  ++unloads;
  FreeLibrary(m);
}
const ShellModuleLoader kEveryModuleMissing = {MissingLoad, RealLookup, CountingUnload};

// shell32.dll is played by the ordinal-only test DLL; the other modules are missing.
HMODULE OrdinalLoad(const wchar_t* name) {
  ++loads;
  if (std::wstring(name) != L"shell32.dll") return nullptr;
  return LoadLibraryW(ordinalDllPath.c_str());
}
const ShellModuleLoader kOrdinalShell32 = {OrdinalLoad, RealLookup, CountingUnload};

// The real modules, loaded slowly so that racing first calls overlap.
HMODULE SlowLoad(const wchar_t* name) {
  ++loads;
  Sleep(50);
  return LoadLibraryW(name);
}
const ShellModuleLoader kSlowSystem = {SlowLoad, RealLookup, CountingUnload};

std::wstring TestBinDir() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L'\\') + 1);
}

}  // namespace

TEST_F(ShellLibrary, EveryModuleMissingGivesFixedResultsAndLoadsOnce) {
  loads = 0;
  SetShellModuleLoaderForTesting(&kEveryModuleMissing);
  PWSTR path = reinterpret_cast<PWSTR>(0x1234);
  EXPECT_EQ(DynSHGetKnownFolderPath(FOLDERID_Windows, 0, nullptr, &path), E_NOTIMPL);
  EXPECT_EQ(path, reinterpret_cast<PWSTR>(0x1234)) << "out-parameter must stay unwritten";
  EXPECT_EQ(loads.load(), 3) << "all three modules are tried on the first call";

  wchar_t buffer[MAX_PATH] = L"untouched";
  EXPECT_EQ(DynSHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, buffer), E_NOTIMPL);
  EXPECT_STREQ(buffer, L"untouched");
  void* ppv = reinterpret_cast<void*>(0x55);
  EXPECT_EQ(DynSHBindToParent(nullptr, IID_IShellFolder, &ppv, nullptr), E_NOTIMPL);
  EXPECT_EQ(DynSHCreateShellItemArrayFromDataObject(nullptr, IID_IShellItemArray, &ppv), E_NOTIMPL);
  EXPECT_EQ(ppv, reinterpret_cast<void*>(0x55));
  EXPECT_EQ(DynILCombine(nullptr, nullptr), nullptr);
  EXPECT_EQ(loads.load(), 3) << "a failed load is never retried";
}

TEST_F(ShellLibrary, EntryPointExportedOnlyByOrdinalIsFound) {
  ordinalDllPath = TestBinDir() + L"qor_ordinal_only.dll";
  ASSERT_NE(GetFileAttributesW(ordinalDllPath.c_str()), INVALID_FILE_ATTRIBUTES);
  unloads = 0;
  SetShellModuleLoaderForTesting(&kOrdinalShell32);
  auto a = reinterpret_cast<PCIDLIST_ABSOLUTE>(0x1000);
  auto b = reinterpret_cast<PCUIDLIST_RELATIVE>(0x0234);
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(DynILCombine(a, b)), 0x1234u) << "ILCombine resolved by ordinal 25";
  // Only ordinal 25 is exported: the other wrappers of that module still give their fixed results.
  PWSTR path = nullptr;
  EXPECT_EQ(DynSHGetKnownFolderPath(FOLDERID_Windows, 0, nullptr, &path), E_NOTIMPL);
  FinalizeShellBaseExtension();
  EXPECT_EQ(unloads.load(), 1) << "shut-down frees the one module that was loaded";
  InitializeShellBaseExtension();
}

TEST_F(ShellLibrary, RacingFirstCallsLoadEachModuleOnce) {
  loads = 0;
  SetShellModuleLoaderForTesting(&kSlowSystem);
  std::atomic<int> ready{0};
  HRESULT results[4] = {};
  std::thread threads[4];
  for (int i = 0; i < 4; ++i) {
    threads[i] = std::thread([&, i] {
      ++ready;
      while (ready.load() < 4) {
      }
      wchar_t buffer[MAX_PATH] = {};
      results[i] = DynSHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, buffer);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(loads.load(), 3) << "one load per module";
  for (HRESULT hr : results) EXPECT_EQ(hr, S_OK);
}

TEST_F(ShellLibrary, WrappersOutsideStartUpAndShutDownGiveTheMissingEntryResults) {
  // Loaded once, so the slots hold entry points into modules that the shut-down then frees.
  wchar_t buffer[MAX_PATH] = {};
  ASSERT_EQ(DynSHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, buffer), S_OK);
  FinalizeShellBaseExtension();
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "after shut-down" : "after a second shut-down");
    wchar_t untouched[MAX_PATH] = L"untouched";
    EXPECT_EQ(DynSHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, untouched), E_NOTIMPL);
    EXPECT_STREQ(untouched, L"untouched");
    PWSTR path = reinterpret_cast<PWSTR>(0x1234);
    EXPECT_EQ(DynSHGetKnownFolderPath(FOLDERID_Windows, 0, nullptr, &path), E_NOTIMPL);
    EXPECT_EQ(path, reinterpret_cast<PWSTR>(0x1234));
    void* ppv = reinterpret_cast<void*>(0x55);
    EXPECT_EQ(DynSHBindToParent(nullptr, IID_IShellFolder, &ppv, nullptr), E_NOTIMPL);
    EXPECT_EQ(DynSHCreateShellItemArrayFromDataObject(nullptr, IID_IShellItemArray, &ppv), E_NOTIMPL);
    EXPECT_EQ(ppv, reinterpret_cast<void*>(0x55));
    EXPECT_EQ(DynILCombine(nullptr, nullptr), nullptr);
    EXPECT_FALSE(LoadShellFunctions());
    FinalizeShellBaseExtension();  // a second shut-down is harmless
  }
  InitializeShellBaseExtension();
  EXPECT_TRUE(LoadShellFunctions());
  EXPECT_EQ(DynSHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, buffer), S_OK) << "a new start-up loads again";
}

TEST_F(ShellLibrary, RealShellGivesTheWindowsFolder) {
  PWSTR known = nullptr;
  ASSERT_EQ(DynSHGetKnownFolderPath(FOLDERID_Windows, 0, nullptr, &known), S_OK);
  std::wstring fromKnown(known);
  TaskMemFree(known);
  wchar_t buffer[MAX_PATH] = {};
  ASSERT_EQ(DynSHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, 0, buffer), S_OK);
  EXPECT_EQ(fromKnown, buffer);
  EXPECT_EQ(GetFileAttributesW(buffer) & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  TaskMemFree(nullptr);  // allowed
}
