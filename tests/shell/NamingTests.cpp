#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>

#include "Error.h"
#include "Handles.h"
#include "ShellTestEnv.h"

using namespace qor;

namespace {

// A shell item whose calls fail with the given result.
struct FailingItem : IShellItem {
  HRESULT attributesResult;
  explicit FailingItem(HRESULT hr) : attributesResult(hr) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE BindToHandler(IBindCtx*, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetParent(IShellItem**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDisplayName(SIGDN, LPWSTR*) override { return E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE GetAttributes(SFGAOF, SFGAOF* out) override {
    *out = 0;
    return attributesResult;
  }
  HRESULT STDMETHODCALLTYPE Compare(IShellItem*, SICHINTF, int*) override { return E_NOTIMPL; }
};

std::wstring MakeTempFile() {
  wchar_t dir[MAX_PATH], file[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"qor", 0, file);
  return file;
}

}  // namespace

TEST_F(ShellLibrary, ShellItemNameIsTheFileSystemPath) {
  std::wstring file = MakeTempFile();
  ComPtr<IShellItem> item;
  ASSERT_EQ(SHCreateItemFromParsingName(file.c_str(), nullptr, IID_IShellItem, item.put_void()), S_OK);
  EXPECT_TRUE(_wcsicmp(GetShellItemName(item.get(), true).c_str(), file.c_str()) == 0)
      << testing::PrintToString(GetShellItemName(item.get(), true));
  DeleteFileW(file.c_str());
}

TEST_F(ShellLibrary, ShellItemFailureGivesMessageOrRaises) {
  FailingItem noDisplayName(S_OK);  // attributes fine, display name access denied
  std::wstring text = GetShellItemName(&noDisplayName, false);
  EXPECT_EQ(text, OleSysError(E_ACCESSDENIED).message());
  EXPECT_FALSE(text.empty());
  FailingItem noAttributes(E_FAIL);
  EXPECT_EQ(GetShellItemName(&noAttributes, false), OleSysError(E_FAIL).message());
  try {
    GetShellItemName(&noAttributes, true);
    FAIL() << "ARaise must raise";
  } catch (const OleSysError& e) {
    EXPECT_EQ(e.code(), E_FAIL);
  }
}

TEST_F(ShellLibrary, FolderItemNameIsTheParsingName) {
  std::wstring file = MakeTempFile();
  PIDLIST_ABSOLUTE pidl = nullptr;
  ASSERT_EQ(SHParseDisplayName(file.c_str(), nullptr, &pidl, 0, nullptr), S_OK);
  ComPtr<IShellFolder> parent;
  PCUITEMID_CHILD child = nullptr;
  ASSERT_EQ(DynSHBindToParent(pidl, IID_IShellFolder, parent.put_void(), &child), S_OK);
  std::wstring name = GetFolderItemName(parent.get(), child, false);
  EXPECT_TRUE(_wcsicmp(name.c_str(), file.c_str()) == 0) << testing::PrintToString(name);
  parent.reset();
  TaskMemFree(pidl);
  DeleteFileW(file.c_str());
}

TEST(StrRetToText, EveryKind) {
  STRRET w = {};
  w.uType = STRRET_WSTR;
  const wchar_t text[] = L"wide \u0436";
  w.pOleStr = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(text)));
  memcpy(w.pOleStr, text, sizeof(text));
  EXPECT_EQ(StrRetToText(nullptr, w, false), text);
  EXPECT_NE(w.pOleStr, nullptr) << "kept without AFree";
  EXPECT_EQ(StrRetToText(nullptr, w, true), text);
  EXPECT_EQ(w.pOleStr, nullptr) << "released and cleared with AFree";

  BYTE pidl[16] = {0, 0, 0, 0, 'n', 'a', 'm', 'e', 0};
  STRRET o = {};
  o.uType = STRRET_OFFSET;
  o.uOffset = 4;
  EXPECT_EQ(StrRetToText(reinterpret_cast<PCUITEMID_CHILD>(pidl), o, true), L"name");
  EXPECT_EQ(StrRetToText(nullptr, o, true), L"") << "no item id, no text";

  STRRET c = {};
  c.uType = STRRET_CSTR;
  strcpy(c.cStr, "ansi text");
  EXPECT_EQ(StrRetToText(nullptr, c, true), L"ansi text");
  memset(c.cStr, 'x', sizeof(c.cStr));  // no NUL at all: at most 260 characters
  EXPECT_EQ(StrRetToText(nullptr, c, true), std::wstring(260, L'x'));

  STRRET other = {};
  other.uType = 7;
  EXPECT_EQ(StrRetToText(nullptr, other, true), L"");
}
