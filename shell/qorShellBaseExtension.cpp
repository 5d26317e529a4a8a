// Start-up and shut-down of the shell support library, the registry reader and the naming helpers.
#include "qorShellBaseExtension.h"

#include <cwchar>
#include <memory>

#include "Error.h"
#include "FileLists.h"
#include "Handles.h"

namespace qor {

void InitShellFunctionsTable();
void DestroyShellFunctionsLock();

bool LogAllObjects = false;
UINT CF_FILECONTENTS = 0;
UINT CF_FILEDESCRIPTOR = 0;
UINT CF_FILEDESCRIPTORW = 0;
UINT CF_FILENAME = 0;
UINT CF_FILENAMEW = 0;
UINT CF_IDLIST = 0;

namespace {

// Registered in this order; "UniformResourceLocator" twice, as the SDK has two constants for it. The
// formats this library uses are found by their row, so their identifiers follow the table.
struct ClipboardFormatRow {
  const wchar_t* name;
  UINT* identifier;  // null for the formats the library registers but does not use
};
const ClipboardFormatRow kClipboardFormats[] = {
    {L"Autoplay Enumerated IDList Array", nullptr},
    {L"DropDescription", nullptr},
    {L"File Attributes Array", nullptr},
    {L"FileContents", &CF_FILECONTENTS},
    {L"FileGroupDescriptor", &CF_FILEDESCRIPTOR},
    {L"FileGroupDescriptorW", &CF_FILEDESCRIPTORW},
    {L"FileName", &CF_FILENAME},
    {L"FileNameMap", nullptr},
    {L"FileNameMapW", nullptr},
    {L"FileNameW", &CF_FILENAMEW},
    {L"Shell IDList Array", &CF_IDLIST},
    {L"InShellDragLoop", nullptr},
    {L"UniformResourceLocator", nullptr},
    {L"UniformResourceLocatorW", nullptr},
    {L"InvokeCommand DropParam", nullptr},
    {L"Logical Performed DropEffect", nullptr},
    {L"MountedVolume", nullptr},
    {L"Net Resource", nullptr},
    {L"Shell Object Offsets", nullptr},
    {L"Paste Succeeded", nullptr},
    {L"Performed DropEffect", nullptr},
    {L"PersistedDataObject", nullptr},
    {L"Preferred DropEffect", nullptr},
    {L"PrinterFriendlyName", nullptr},
    {L"DropHandlerCLSID", nullptr},
    {L"UniformResourceLocator", nullptr},
    {L"TargetCLSID", nullptr},
    {L"UntrustedDragDrop", nullptr},
    {L"UIDisplayed", nullptr},
};

std::vector<UINT> ClipboardFormats;
// Exists between start-up and shut-down only.
std::unique_ptr<std::vector<FileListClass>> FileListClassRegistry;
// What FileListClasses gives outside that time (constant-initialised: no guard on first use).
const std::vector<FileListClass> NoFileListClasses;

}  // namespace

const std::vector<UINT>& RegisteredClipboardFormats() { return ClipboardFormats; }

void RegisterFileListClass(const FileListClass& cls) {
  if (FileListClassRegistry) FileListClassRegistry->push_back(cls);
}

const std::vector<FileListClass>& FileListClasses() {
  return FileListClassRegistry ? *FileListClassRegistry : NoFileListClasses;
}

void InitializeShellBaseExtension() {
  LogAllObjects = true;
  InitShellFunctionsTable();
  FileListClassRegistry = std::make_unique<std::vector<FileListClass>>();
  RegisterDataObjectFileListClasses();
  ClipboardFormats.clear();
  for (const ClipboardFormatRow& row : kClipboardFormats) {
    const UINT id = ::RegisterClipboardFormatW(row.name);
    ClipboardFormats.push_back(id);
    if (row.identifier) *row.identifier = id;
  }
}

void FinalizeShellBaseExtension() {
  UnloadShellFunctions();
  DestroyShellFunctionsLock();
  FileListClassRegistry.reset();
}

std::wstring RegReadString(HKEY ARoot, const std::wstring& ASubKey, const std::wstring& AValueName) {
  RegKey key;
  if (::RegOpenKeyExW(ARoot, ASubKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
  // 256 characters, 512 bytes: a value of 255 characters plus its NUL fits, a longer one is refused.
  std::wstring result(256, L'\0');
  DWORD bytes = 512;
  DWORD type = REG_NONE;
  if (::RegQueryValueExW(key.get(), AValueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(result.data()),
                         &bytes) != ERROR_SUCCESS)
    return {};
  long length = static_cast<long>(bytes / 2) - 1;
  if (length <= 0) return {};
  result.resize(static_cast<size_t>(length));
  // "C:\TC" stored with extra NULs is "C:\TC", not "C:\TC" and NULs that make every path built on it wrong.
  if (type == REG_SZ || type == REG_EXPAND_SZ) result.resize(std::wcslen(result.c_str()));
  return result;
}

namespace {
std::wstring AnsiToText(const char* text, int length) {
  if (length <= 0) return {};
  int n = ::MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, length, out.data(), n);
  return out;
}
}  // namespace

std::wstring StrRetToText(PCUITEMID_CHILD APidl, STRRET& AStrRet, bool AFree) {
  switch (AStrRet.uType) {
    case STRRET_WSTR: {
      std::wstring text = AStrRet.pOleStr ? std::wstring(AStrRet.pOleStr) : std::wstring();
      if (AFree) {
        ::CoTaskMemFree(AStrRet.pOleStr);
        AStrRet.pOleStr = nullptr;
      }
      return text;
    }
    case STRRET_OFFSET: {
      if (!APidl) return {};
      const char* s = reinterpret_cast<const char*>(APidl) + AStrRet.uOffset;
      return AnsiToText(s, static_cast<int>(strlen(s)));
    }
    case STRRET_CSTR: {
      int n = 0;
      while (n < MAX_PATH && AStrRet.cStr[n] != '\0') ++n;
      return AnsiToText(AStrRet.cStr, n);
    }
    default:
      return {};
  }
}

std::wstring GetShellItemName(IShellItem* AShellItem, bool ARaise) {
  try {
    SFGAOF attributes = 0;
    OleCheck(AShellItem->GetAttributes(SFGAO_FILESYSTEM, &attributes));
    wchar_t* name = nullptr;
    OleCheck(AShellItem->GetDisplayName((attributes & SFGAO_FILESYSTEM) ? SIGDN_FILESYSPATH : SIGDN_NORMALDISPLAY,
                                        &name));
    TaskMem owner(name);
    return name ? std::wstring(name) : std::wstring();
  } catch (const Error& e) {
    if (ARaise) throw;
    return e.message();
  }
}

std::wstring GetFolderItemName(IShellFolder* AShellFolder, PCUITEMID_CHILD AChild, bool ARaise) {
  try {
    SFGAOF attributes = SFGAO_FILESYSTEM;
    OleCheck(AShellFolder->GetAttributesOf(1, &AChild, &attributes));
    STRRET name = {};
    OleCheck(AShellFolder->GetDisplayNameOf(
        AChild, (attributes & SFGAO_FILESYSTEM) ? SHGDN_FORPARSING : SHGDN_NORMAL, &name));
    return StrRetToText(AChild, name, true);
  } catch (const Error& e) {
    if (ARaise) throw;
    return e.message();
  }
}

}  // namespace qor
