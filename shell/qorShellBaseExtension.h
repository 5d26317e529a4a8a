// The shell support library's lowest layer: late-bound shell entry points, the registry string reader,
// naming helpers over shell objects, and the library's start-up and shut-down.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>
#include <string>
#include <vector>

namespace qor {

// Start-up: run once before any wrapper is called (the program's entry calls it before the main window
// exists). Loads no module. Shut-down frees the modules the loader loaded; wrappers may not be called
// after it.
void InitializeShellBaseExtension();
void FinalizeShellBaseExtension();

// Fills the entry-point table on its first call; later calls return at once. A module that fails to load
// is never retried. False (and nothing loaded) before start-up and after shut-down, when the wrappers
// give their missing-entry results.
bool LoadShellFunctions();
void UnloadShellFunctions();

// Late-bound wrappers: each passes its arguments through unchanged. When the entry point is missing, and
// when called before start-up or after shut-down, they return E_NOTIMPL (DynILCombine: null) and leave
// every out-parameter untouched.
HRESULT DynSHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken, PWSTR* ppszPath);
HRESULT DynSHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);
HRESULT DynSHBindToParent(PCIDLIST_ABSOLUTE pidl, REFIID riid, void** ppv, PCUITEMID_CHILD* ppidlLast);
HRESULT DynSHCreateShellItemArrayFromDataObject(IDataObject* pdo, REFIID riid, void** ppv);
PIDLIST_ABSOLUTE DynILCombine(PCIDLIST_ABSOLUTE pidl1, PCUIDLIST_RELATIVE pidl2);

// Releases a block that the shell or COM allocated; null is allowed.
void TaskMemFree(void* p);

// A registry value's text, or the empty text when the key cannot be opened, the value is absent or
// empty, or its data is longer than 512 bytes. The data is taken as UTF-16 ending in one NUL, whatever
// its type: data without a NUL loses its last character. A string value (REG_SZ, REG_EXPAND_SZ) ends
// at its first NUL, so the extra NULs some tools store are not part of the text. Never raises.
std::wstring RegReadString(HKEY ARoot, const std::wstring& ASubKey, const std::wstring& AValueName);

// The shell's STRRET as text. With AFree, a STRRET_WSTR string is released and its pointer cleared.
std::wstring StrRetToText(PCUITEMID_CHILD APidl, STRRET& AStrRet, bool AFree);
// The file-system path of a file-system item, else its normal display name. On a failure the result is
// the error's message; with ARaise the error (OleSysError) is raised instead.
std::wstring GetShellItemName(IShellItem* AShellItem, bool ARaise);
// The parsing name of a file-system child, else its normal display name; failures as GetShellItemName.
std::wstring GetFolderItemName(IShellFolder* AShellFolder, PCUITEMID_CHILD AChild, bool ARaise);

// Clipboard formats registered at start-up, in registration order (29 entries; empty before start-up).
const std::vector<UINT>& RegisteredClipboardFormats();
extern UINT CF_FILECONTENTS;
extern UINT CF_FILEDESCRIPTOR;
extern UINT CF_FILEDESCRIPTORW;
extern UINT CF_FILENAME;
extern UINT CF_FILENAMEW;
extern UINT CF_IDLIST;

// The switch read by the call-logging gates of the library's COM objects; true after start-up.
extern bool LogAllObjects;

// The registry of file-list classes over data objects, in registration order: each entry names a
// class, answers whether a data object carries its format, and makes a list over one (the caller owns
// it). The start-up creates it and registers the five data-object kinds.
class TqorShellFileList;
struct FileListClass {
  const wchar_t* name;
  bool (*CanCreate)(IDataObject* ADataObject);
  std::unique_ptr<TqorShellFileList> (*Create)(IDataObject* ADataObject);
};
void RegisterFileListClass(const FileListClass& cls);
const std::vector<FileListClass>& FileListClasses();

// The operations the loader uses to reach modules. Tests replace them to play missing modules, entry
// points exported by ordinal only, or to count loads; null restores the system's own.
struct ShellModuleLoader {
  HMODULE (*load)(const wchar_t* name);  // load by bare file name, no error box
  FARPROC (*lookup)(HMODULE module, const char* nameOrOrdinal);  // by name, or MAKEINTRESOURCEA(ordinal)
  void (*unload)(HMODULE module);
};
void SetShellModuleLoaderForTesting(const ShellModuleLoader* loader);

}  // namespace qor
