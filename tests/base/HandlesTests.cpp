#include <gtest/gtest.h>

#include "Handles.h"

using namespace qor;

namespace {
bool IsOpen(HANDLE h) {
  DWORD flags;
  return GetHandleInformation(h, &flags) != 0;
}

struct CountingUnknown : IUnknown {
  LONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};
}  // namespace

TEST(Handles, OwnersCloseMoveAndRelease) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    KernelHandle a(raw);
    EXPECT_TRUE(a);
    KernelHandle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), raw);
  }
  EXPECT_FALSE(IsOpen(raw)) << "closed at the end of the scope";

  HANDLE raw2 = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  KernelHandle c(raw2);
  HANDLE kept = c.release();
  EXPECT_FALSE(c);
  EXPECT_TRUE(IsOpen(kept));
  CloseHandle(kept);

  FileHandle f;  // INVALID_HANDLE_VALUE is its empty value
  EXPECT_FALSE(f);
  EXPECT_EQ(f.get(), INVALID_HANDLE_VALUE);
  *f.put() = CreateFileW(L"NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(f);
}

TEST(Handles, ComPtrCountsReferences) {
  CountingUnknown obj;
  {
    ComPtr<IUnknown> a(&obj);
    EXPECT_EQ(obj.refs, 2);
    ComPtr<IUnknown> b = a;
    EXPECT_EQ(obj.refs, 3);
    ComPtr<IUnknown> c = std::move(b);
    EXPECT_EQ(obj.refs, 3);
    EXPECT_FALSE(b);
  }
  EXPECT_EQ(obj.refs, 1);
  auto attached = ComPtr<IUnknown>::Attach(&obj);  // adopts the caller's reference
  EXPECT_EQ(obj.refs, 1);
  attached.release();
  EXPECT_EQ(obj.refs, 1);
}

TEST(Handles, ScopeGuardRunsUnlessDismissed) {
  int runs = 0;
  { ScopeGuard g([&] { ++runs; }); }
  EXPECT_EQ(runs, 1);
  {
    ScopeGuard g([&] { ++runs; });
    g.dismiss();
  }
  EXPECT_EQ(runs, 1);
}

TEST(DeviceContextOwners, SelectionIsUndoneAtTheEndOfTheScope) {
  ScopedGetDC screen(nullptr);
  ASSERT_TRUE(screen);
  HDC memory = CreateCompatibleDC(screen);
  ASSERT_NE(memory, nullptr);
  const HGDIOBJ original = GetCurrentObject(memory, OBJ_FONT);
  LOGFONTW lf{};
  lf.lfHeight = -20;
  wcscpy_s(lf.lfFaceName, L"Tahoma");
  HFONT font = CreateFontIndirectW(&lf);
  ASSERT_NE(font, nullptr);
  {
    ScopedSelectObject select(memory, font);
    EXPECT_EQ(GetCurrentObject(memory, OBJ_FONT), font);
    EXPECT_EQ(select.previous(), original);
    {
      ScopedSelectObject nothing(memory, nullptr);  // a null object changes nothing
      EXPECT_EQ(GetCurrentObject(memory, OBJ_FONT), font);
    }
    EXPECT_EQ(GetCurrentObject(memory, OBJ_FONT), font);
  }
  EXPECT_EQ(GetCurrentObject(memory, OBJ_FONT), original) << "the old font is selected back";
  EXPECT_TRUE(DeleteObject(font));
  DeleteDC(memory);
  ScopedSelectObject noContext(nullptr, GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(noContext.previous(), nullptr);
}
