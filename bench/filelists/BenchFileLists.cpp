// File list walks, measured side by side in one run:
//   - a directory list walk over 10,000 files against a bare FindFirstFileW / FindNextFileW loop over
//     the same folder (target: ratio <= 1.2);
//   - a "Shell IDList Array" walk over the shell's own data object for 10, 100 and 1,000 items of that
//     folder, printed as the time per item, beside the time per item of the GetData calls alone: the
//     list fetches the medium again for every item it visits, so the medium's cost shows as it grows.
// Each figure is the best of the repeats; the two sides alternate within a repeat.
// bench_filelists [repeats]
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FileLists.h"
#include "../BenchSupport.h"
#include "Handles.h"
#include "qorShellBaseExtension.h"

namespace {

constexpr int kFiles = 10000;

using bench::Fail;
using bench::Now;

std::wstring FileName(int i) { return L"file" + std::to_wstring(100000 + i) + L".txt"; }

// The bare loop: names and attributes only, "." and ".." skipped.
int BareWalk(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  qor::FindHandle find(FindFirstFileW((dir + L"\\*.*").c_str(), &data));
  if (!find) Fail("FindFirstFileW");
  int n = 0;
  do {
    if (data.cFileName[0] == L'.' && (!data.cFileName[1] || (data.cFileName[1] == L'.' && !data.cFileName[2])))
      continue;
    ++n;
  } while (FindNextFileW(find.get(), &data));
  return n;
}

int ListWalk(qor::TqorShellFileList& list) {
  qor::TqorSearchRec rec;
  qor::TqorSearchHandle h = list.FindFirst(rec);
  if (!h) return 0;
  int n = 1;
  while (list.FindNext(h, rec)) ++n;
  list.FindClose(h);
  return n;
}

// The shell's data object over the first count files of the folder.
qor::ComPtr<IDataObject> ShellDataObject(IShellFolder* folder, int count) {
  std::vector<qor::TaskMem> owned;
  std::vector<PCUITEMID_CHILD> children;
  for (int i = 0; i < count; ++i) {
    std::wstring name = FileName(i);
    PIDLIST_RELATIVE child = nullptr;
    if (FAILED(folder->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, &child, nullptr))) Fail("ParseDisplayName");
    owned.emplace_back(child);
    children.push_back(child);
  }
  qor::ComPtr<IDataObject> data;
  if (FAILED(folder->GetUIObjectOf(nullptr, static_cast<UINT>(count), children.data(), IID_IDataObject, nullptr,
                                   data.put_void())))
    Fail("GetUIObjectOf");
  return data;
}

// count GetData calls of the item id array and their release: what the list pays per item for the medium.
void FetchMedia(IDataObject* data, int count) {
  FORMATETC format = {static_cast<CLIPFORMAT>(qor::CF_IDLIST), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  for (int i = 0; i < count; ++i) {
    STGMEDIUM medium{};
    if (FAILED(data->GetData(&format, &medium))) Fail("GetData");
    ReleaseStgMedium(&medium);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  CoInitialize(nullptr);
  qor::InitializeShellBaseExtension();

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"qor_bench_filelists_" + std::to_wstring(GetCurrentProcessId());
  if (!CreateDirectoryW(dir.c_str(), nullptr)) Fail("creating the folder");
  for (int i = 0; i < kFiles; ++i) {
    qor::FileHandle f(CreateFileW((dir + L"\\" + FileName(i)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) Fail("creating a file");
  }

  std::printf("directory walk over %d files (best of %d)\n", kFiles, repeats);
  double bare = 1e9, listed = 1e9;
  qor::TqorDirectoryFileList list(dir);
  for (int r = 0; r < repeats; ++r) {
    double t = Now();
    if (BareWalk(dir) != kFiles) Fail("the bare walk's count");
    bare = std::min(bare, Now() - t);
    t = Now();
    if (ListWalk(list) != kFiles) Fail("the list walk's count");
    listed = std::min(listed, Now() - t);
  }
  std::printf("  %-34s %9.2f ms  %7.2f us/item\n", "FindFirstFileW/FindNextFileW", bare * 1e3, bare * 1e6 / kFiles);
  std::printf("  %-34s %9.2f ms  %7.2f us/item  ratio %.2fx (target <= 1.2x)\n", "TqorDirectoryFileList", listed * 1e3,
              listed * 1e6 / kFiles, listed / bare);

  qor::ComPtr<IShellFolder> desktop, folder;
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (FAILED(SHGetDesktopFolder(desktop.put())) || FAILED(SHParseDisplayName(dir.c_str(), nullptr, &pidl, 0, nullptr)))
    Fail("finding the folder in the shell");
  qor::TaskMem pidlOwner(pidl);
  if (FAILED(desktop->BindToObject(pidl, nullptr, IID_IShellFolder, folder.put_void()))) Fail("binding the folder");

  std::printf("\"Shell IDList Array\" walk of the shell's data object (best of %d)\n", repeats);
  std::printf("  %6s %12s %12s %14s %14s\n", "items", "walk ms", "us/item", "GetData us/item", "rest us/item");
  for (int count : {10, 100, 1000}) {
    qor::ComPtr<IDataObject> data = ShellDataObject(folder.get(), count);
    qor::TqorDataObjectCF_IDLISTFileList idList(data.get());
    double walk = 1e9, fetch = 1e9;
    for (int r = 0; r < repeats; ++r) {
      double t = Now();
      if (ListWalk(idList) != count) Fail("the item id walk's count");
      walk = std::min(walk, Now() - t);
      t = Now();
      FetchMedia(data.get(), count);
      fetch = std::min(fetch, Now() - t);
    }
    std::printf("  %6d %12.2f %12.2f %14.2f %14.2f\n", count, walk * 1e3, walk * 1e6 / count, fetch * 1e6 / count,
                (walk - fetch) * 1e6 / count);
  }

  for (int i = 0; i < kFiles; ++i) DeleteFileW((dir + L"\\" + FileName(i)).c_str());
  RemoveDirectoryW(dir.c_str());
  qor::FinalizeShellBaseExtension();
  CoUninitialize();
  return 0;
}
