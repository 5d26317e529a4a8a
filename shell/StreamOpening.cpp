// The opening operations: a file name, a shell item, a shell-folder child or a folder's item id list
// with a child, opened as an IStream or as a TStream.
#include <shlobj.h>

#include "Error.h"
#include "Streams.h"
#include "qorShellBaseExtension.h"

namespace qor {

ComPtr<IStream> CreateIStreamOnFile(const std::wstring& AFileName, DWORD AOpenMode) {
  // The constructor raises before the object exists, so a failed open leaves nothing behind.
  return ComPtr<IStream>(CreateShellObject<TqorStreamAdapter>(AFileName, AOpenMode));
}

ComPtr<IStream> CreateIStreamOnShellItem(IShellItem* AShellItem) {
  CheckPointer(AShellItem, L"AShellItem");
  ComPtr<IStream> stream;
  OleCheck(AShellItem->BindToHandler(nullptr, BHID_Stream, IID_IStream, stream.put_void()));
  return stream;
}

ComPtr<IStream> CreateIStreamOnFolderItem(IShellFolder* AShellFolder, PCUITEMID_CHILD AChild, DWORD AOpenMode) {
  CheckPointer(AShellFolder, L"AShellFolder");
  SFGAOF attributes = SFGAO_FILESYSTEM;
  OleCheck(AShellFolder->GetAttributesOf(1, &AChild, &attributes));
  if (attributes & SFGAO_FILESYSTEM) {
    // The raising form: a name that cannot be read must not be replaced by the error's text and then
    // opened as a file name (which could name some other file).
    return CreateIStreamOnFile(GetFolderItemName(AShellFolder, AChild, true), AOpenMode);
  }
  ComPtr<IStream> stream;
  OleCheck(AShellFolder->BindToObject(AChild, nullptr, IID_IStream, stream.put_void()));
  return stream;
}

ComPtr<IStream> CreateIStreamOnIDList(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild, DWORD AOpenMode) {
  ComPtr<IShellFolder> desktop;
  OleCheck(::SHGetDesktopFolder(desktop.put()));
  // The desktop does not bind to itself: its own children are opened through it directly.
  if (!AParent || AParent->mkid.cb == 0) return CreateIStreamOnFolderItem(desktop.get(), AChild, AOpenMode);
  ComPtr<IShellFolder> folder;
  OleCheck(desktop->BindToObject(AParent, nullptr, IID_IShellFolder, folder.put_void()));
  return CreateIStreamOnFolderItem(folder.get(), AChild, AOpenMode);
}

std::unique_ptr<TStream> CreateStreamOnIStream(IStream* AStream) {
  return std::make_unique<TqorOleStream>(AStream, true, -1);
}

std::unique_ptr<TStream> CreateStreamOnShellItem(IShellItem* AShellItem, DWORD) {
  return CreateStreamOnIStream(CreateIStreamOnShellItem(AShellItem).get());
}

std::unique_ptr<TStream> CreateStreamOnFolderItem(IShellFolder* AShellFolder, PCUITEMID_CHILD AChild,
                                                  DWORD AOpenMode) {
  return CreateStreamOnIStream(CreateIStreamOnFolderItem(AShellFolder, AChild, AOpenMode).get());
}

std::unique_ptr<TStream> CreateStreamOnIDList(PCIDLIST_ABSOLUTE AParent, PCUITEMID_CHILD AChild, DWORD AOpenMode) {
  return CreateStreamOnIStream(CreateIStreamOnIDList(AParent, AChild, AOpenMode).get());
}

}  // namespace qor
