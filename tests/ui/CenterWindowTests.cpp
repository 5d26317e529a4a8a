// Centring: the arithmetic on given monitor rectangles, the real screen, and which monitor is chosen.
#include <gtest/gtest.h>

#include "JvqorForm.h"
#include "UiTestSupport.h"

using namespace qor;

namespace {

struct PopupWindow {
  PopupWindow(int left, int top, int width, int height) {
    h = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, left, top, width, height, nullptr,
                          nullptr, nullptr, nullptr);
  }
  ~PopupWindow() { ::DestroyWindow(h); }
  HWND h;
};

FormParams DialogParams(const wchar_t* caption) {
  return FormParams{L"QorCenterTestForm", kDialogFormStyle, kDialogFormExStyle, nullptr, caption, 300, 200};
}

}  // namespace

TEST(CenterWindow, OnAGivenMonitorRectangle) {
  struct Case {
    RECT monitor;
    int width, height;
    int x, y;
  } cases[] = {
      {{1920, 0, 3840, 1080}, 1000, 300, 2380, 390},   // 1920 + 460
      {{0, 0, 1920, 1080}, 1925, 300, -2, 390},        // -2.5 truncated toward zero
      {{0, 0, 1920, 1080}, 600, 1085, 660, -2},
      {{-1280, -100, 0, 924}, 401, 301, -1280 + 439, -100 + 361},  // 439.5 and 361.5 truncated
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    PopupWindow window(5, 6, c.width, c.height);
    ASSERT_NE(window.h, nullptr);
    CenterWindowOn(window.h, c.monitor);
    RECT r{};
    ::GetWindowRect(window.h, &r);
    EXPECT_EQ(r.left, c.x);
    EXPECT_EQ(r.top, c.y);
    EXPECT_EQ(r.right - r.left, c.width) << "the size stays";
    EXPECT_EQ(r.bottom - r.top, c.height);
  }
}

TEST(CenterWindow, WithoutAMainFormOnThePrimaryMonitor) {
  SetMainForm(nullptr);
  ASSERT_EQ(CenterWindowReference(), nullptr);
  RECT monitor = CenterWindowMonitor();
  EXPECT_EQ(monitor.left, 0);
  EXPECT_EQ(monitor.top, 0);
  EXPECT_EQ(monitor.right, ::GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(monitor.bottom, ::GetSystemMetrics(SM_CYSCREEN));

  auto form = CreateForm<TJvqorForm>(DialogParams(L"centred"));
  ::SetWindowPos(form->Handle(), nullptr, 0, 0, 401, 300, SWP_NOZORDER | SWP_NOACTIVATE);
  CenterWindow(form->Handle());
  Bounds b = form->GetBounds();
  EXPECT_EQ(b.left, (::GetSystemMetrics(SM_CXSCREEN) - 401) / 2);
  EXPECT_EQ(b.top, (::GetSystemMetrics(SM_CYSCREEN) - 300) / 2);
  EXPECT_EQ(b.width, 401);
  EXPECT_EQ(b.height, 300);
  EXPECT_FALSE(form->Visible()) << "centring does not show the window";
}

TEST(CenterWindow, WithAMainFormOnTheActiveFormsMonitor) {
  auto main = CreateForm<TJvqorForm>(DialogParams(L"main"));
  auto other = CreateForm<TJvqorForm>(DialogParams(L"other"));
  SetMainForm(main.get());
  ScopeGuard clear([] { SetMainForm(nullptr); });

  main->Show();
  ::SetActiveWindow(main->Handle());
  qortest::PumpMessages(30);
  EXPECT_EQ(CenterWindowReference(), main->Handle());

  other->Show();
  ::SetActiveWindow(other->Handle());
  qortest::PumpMessages(30);
  ASSERT_EQ(ActiveForm(), other.get());
  EXPECT_EQ(CenterWindowReference(), other->Handle()) << "the active form wins";

  // No form of ours is active: the main form's monitor.
  PopupWindow foreign(0, 0, 50, 50);
  ::ShowWindow(foreign.h, SW_SHOW);
  ::SetActiveWindow(foreign.h);
  qortest::PumpMessages(30);
  ASSERT_EQ(ActiveForm(), nullptr);
  EXPECT_EQ(CenterWindowReference(), main->Handle());
}
