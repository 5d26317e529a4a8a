// Start-up and shut-down of the shell support library, the registry reader and the naming helpers.
#include "qorShellBaseExtension.h"

#include "Error.h"
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

// Registered in this order; "UniformResourceLocator" twice, as the SDK has two constants for it.
const wchar_t* const kClipboardFormatNames[] = {
    L"Autoplay Enumerated IDList Array", L"DropDescription", L"File Attributes Array", L"FileContents",
    L"FileGroupDescriptor", L"FileGroupDescriptorW", L"FileName", L"FileNameMap", L"FileNameMapW",
    L"FileNameW", L"Shell IDList Array", L"InShellDragLoop", L"UniformResourceLocator",
    L"UniformResourceLocatorW", L"InvokeCommand DropParam", L"Logical Performed DropEffect",
    L"MountedVolume", L"Net Resource", L"Shell Object Offsets", L"Paste Succeeded", L"Performed DropEffect",
    L"PersistedDataObject", L"Preferred DropEffect", L"PrinterFriendlyName", L"DropHandlerCLSID",
    L"UniformResourceLocator", L"TargetCLSID", L"UntrustedDragDrop", L"UIDisplayed",
};

std::vector<UINT> ClipboardFormats;
std::vector<FileListClass>* FileListClassRegistry = nullptr;

}  // namespace

const std::vector<UINT>& RegisteredClipboardFormats() { return ClipboardFormats; }

void RegisterFileListClass(const FileListClass& cls) {
  if (FileListClassRegistry) FileListClassRegistry->push_back(cls);
}

const std::vector<FileListClass>& FileListClasses() {
  static const std::vector<FileListClass> none;
  return FileListClassRegistry ? *FileListClassRegistry : none;
}

void InitializeShellBaseExtension() {
  LogAllObjects = true;
  InitShellFunctionsTable();
  delete FileListClassRegistry;
  FileListClassRegistry = new std::vector<FileListClass>();
  ClipboardFormats.clear();
  for (const wchar_t* name : kClipboardFormatNames) ClipboardFormats.push_back(::RegisterClipboardFormatW(name));
  CF_FILECONTENTS = ClipboardFormats[3];
  CF_FILEDESCRIPTOR = ClipboardFormats[4];
  CF_FILEDESCRIPTORW = ClipboardFormats[5];
  CF_FILENAME = ClipboardFormats[6];
  CF_FILENAMEW = ClipboardFormats[9];
  CF_IDLIST = ClipboardFormats[10];
}

void FinalizeShellBaseExtension() {
  UnloadShellFunctions();
  DestroyShellFunctionsLock();
  delete FileListClassRegistry;
  FileListClassRegistry = nullptr;
}

std::wstring RegReadString(HKEY ARoot, const std::wstring& ASubKey, const std::wstring& AValueName) {
  RegKey key;
  if (::RegOpenKeyExW(ARoot, ASubKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
  // 256 characters, 512 bytes: a value of 255 characters plus its NUL fits, a longer one is refused.
  std::wstring result(256, L'\0');
  DWORD bytes = 512;
  if (::RegQueryValueExW(key.get(), AValueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(result.data()),
                         &bytes) != ERROR_SUCCESS)
    return {};
  long length = static_cast<long>(bytes / 2) - 1;
  if (length <= 0) return {};
  result.resize(static_cast<size_t>(length));
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
