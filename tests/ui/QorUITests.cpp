// Dialog metrics over real fonts: the units come from measuring the 52 letters, the figures from them.
#include <gtest/gtest.h>
#include <windows.h>
#include <uxtheme.h>
#include <vssym32.h>

#include <string>
#include <vector>

#include "Controls.h"
#include "Error.h"
#include "UiTestSupport.h"
#include "qorUI.h"

using namespace qor;
using qortest::CaptionOfWidth;
using qortest::FontWithDialogUnits;

namespace {

struct Host {
  Host() : form(FormParams{L"QorUiTestHost", WS_OVERLAPPED | WS_CAPTION, 0, nullptr, L"host", 600, 400}) {}
  Form form;
};

// A TqorUI whose units are cx = 7, cy = 15, from a real font.
class SevenByFifteen : public ::testing::Test {
 protected:
  void SetUp() override {
    font_ = FontWithDialogUnits(7, 15);
    ASSERT_TRUE(font_) << "no font here measures 7 x 15";
    ui_.SetFont(Font());
    ASSERT_EQ(ui_.DialogUnit().cx, 7);
    ASSERT_EQ(ui_.DialogUnit().cy, 15);
  }
  HFONT Font() const { return static_cast<HFONT>(font_.get()); }
  FontHandle font_;
  TqorUI ui_;
  Host host_;
};

}  // namespace

TEST_F(SevenByFifteen, MetricFigures) {
  struct Case {
    const char* name;
    long actual;
    long expected;
  } cases[] = {
      {"DialogMargin.cx", ui_.DialogMargin().cx, 12},  // 12.25
      {"DialogMargin.cy", ui_.DialogMargin().cy, 12},
      {"LabelControlSpacing", ui_.LabelControlSpacing().cx, 5},
      {"LabelControlSpacing.cy", ui_.LabelControlSpacing().cy, 5},
      {"RelatedControlsSpacing", ui_.RelatedControlsSpacing().cx, 7},
      {"UnrelatedControlsSpacing", ui_.UnrelatedControlsSpacing().cy, 12},
      {"ButtonsSpacing", ui_.ButtonsSpacing().cx, 7},
      {"GroupBoxTopMargin", ui_.GroupBoxTopMargin(), 21},    // 20.625
      {"GroupBoxLeftMargin", ui_.GroupBoxLeftMargin(), 11},  // 10.5 rounds up in MulDiv
      {"GroupBoxBottomMargin", ui_.GroupBoxBottomMargin(), 13},
      {"ProgressBarSize.cx", ui_.ProgressBarSize().cx, 14},
      {"ProgressBarSize.cy", ui_.ProgressBarSize().cy, 15},
      {"VirtualTreeHeaderHeight(0)", ui_.VirtualTreeHeaderHeight(0), 22},  // 22.5 rounds to even
      {"VirtualTreeHeaderHeight(16)", ui_.VirtualTreeHeaderHeight(16), 23},
      {"VirtualTreeLineHeight(16)", ui_.VirtualTreeLineHeight(16), 20},
      {"VirtualTreeLineHeight(0)", ui_.VirtualTreeLineHeight(0), 17},  // 16.875
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST_F(SevenByFifteen, SizingOperations) {
  HWND form = host_.form.Handle();
  HWND combo = ::CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST, 3, 4, 50, 200, form, nullptr, nullptr, nullptr);
  HWND status = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 5, 6, 70, 10, form, nullptr, nullptr, nullptr);
  HWND tabs = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 7, 8, 90, 10, form, nullptr, nullptr, nullptr);
  HWND label = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 11, 0, 40, 13, form, nullptr, nullptr, nullptr);
  HWND control = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 11, 40, 40, 21, form, nullptr, nullptr, nullptr);

  ui_.SetComboBoxSize(combo, 10);
  ui_.SetStatusBarSize(status);
  ui_.SpacingSetTabBarSize(tabs);
  ui_.SpacingSetLabelControlTopOffset(label, control);

  EXPECT_EQ(WindowBounds(combo).width, 111);  // Round(70 * 1.3) + 20
  EXPECT_EQ(WindowBounds(combo).left, 3);
  EXPECT_EQ(WindowBounds(status).height, 18);  // Round(18.0)
  EXPECT_EQ(WindowBounds(status).width, 70);
  EXPECT_EQ(WindowBounds(tabs).height, 30);
  EXPECT_EQ(WindowBounds(label).top, 40 + 21);
  EXPECT_EQ(WindowBounds(label).left, 11);
}

TEST_F(SevenByFifteen, ButtonSizeFollowsTheCaptionAboveTheMinimum) {
  std::wstring caption40 = CaptionOfWidth(Font(), 40);
  std::wstring caption100 = CaptionOfWidth(Font(), 100);
  ASSERT_FALSE(caption40.empty());
  ASSERT_FALSE(caption100.empty());
  Button narrow(host_.form, caption40), wide(host_.form, caption100);
  narrow.SetBounds({9, 10, 1, 1});

  ui_.SetButtonSize(narrow);
  ui_.SetButtonSize(wide);

  EXPECT_EQ(narrow.Width(), 88) << "61 is below the minimum MulDiv(50, 7, 4)";
  EXPECT_EQ(narrow.Height(), 26);
  EXPECT_EQ(narrow.Left(), 9);
  EXPECT_EQ(narrow.Top(), 10);
  EXPECT_EQ(wide.Width(), 121);
  EXPECT_EQ(wide.Height(), 26);
}

TEST_F(SevenByFifteen, ButtonGroupsTakeTheWidestWidth) {
  std::wstring caption40 = CaptionOfWidth(Font(), 40), caption100 = CaptionOfWidth(Font(), 100);
  ASSERT_FALSE(caption100.empty());
  Button a(host_.form, caption40), b(host_.form, caption100), c(host_.form, L"");
  Edit edit(host_.form);
  edit.SetBounds({0, 0, 33, 21});

  ui_.SetButtonSize2(a, b);
  EXPECT_EQ(a.Width(), 121);
  EXPECT_EQ(b.Width(), 121);

  Button d(host_.form, caption40), e(host_.form, L"x");
  std::vector<HWND> list{d, nullptr, edit, e};
  ui_.SetButtonsSize(&list);
  EXPECT_EQ(d.Width(), 88);
  EXPECT_EQ(e.Width(), 88);
  EXPECT_EQ(edit.Width(), 33) << "not a button control: left alone";
  ui_.SetButtonsSize(static_cast<const std::vector<HWND>*>(nullptr));

  Button f(host_.form, caption40);
  ui_.SetButtonsSize(TqorButtonControlArray{f, b, c});
  EXPECT_EQ(f.Width(), 121);
  EXPECT_EQ(c.Width(), 121);
  EXPECT_EQ(c.Height(), 26);

  Button g(host_.form, caption40), h(host_.form, caption40), i(host_.form, caption100);
  ui_.SetButtonSize3(g, h, i);
  EXPECT_EQ(g.Width(), 121);
  EXPECT_EQ(h.Width(), 121);
}

TEST_F(SevenByFifteen, OkAndCancelGoToTheBottomRightCorner) {
  std::wstring caption100 = CaptionOfWidth(Font(), 100);
  Button ok(host_.form, L"OK"), cancel(host_.form, caption100);
  int clientWidth = host_.form.ClientWidth(), clientHeight = host_.form.ClientHeight();

  ui_.SetOkCanceButtonSizeAndPos(ok, cancel, host_.form.Handle());

  EXPECT_EQ(cancel.Width(), 121);
  EXPECT_EQ(ok.Width(), 121);
  EXPECT_EQ(ok.Top(), clientHeight - 12 - 26);
  EXPECT_EQ(cancel.Top(), ok.Top());
  EXPECT_EQ(cancel.Left(), clientWidth - 12 - 121);
  EXPECT_EQ(ok.Left(), cancel.Left() - 7 - 121);
}

TEST(QorUI, DialogUnitWidthIsTruncated) {
  SIZE extent{};
  FontHandle font = qortest::FontWithUnevenExtent(extent);
  ASSERT_TRUE(font);
  TqorUI ui;
  ui.SetFont(static_cast<HFONT>(font.get()));
  EXPECT_EQ(ui.DialogUnit().cx, extent.cx / 52) << "extent " << extent.cx << " x " << extent.cy;
  EXPECT_EQ(ui.DialogUnit().cy, extent.cy);
}

TEST(QorUI, StartsFromTheSystemMessageFont) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
  FontHandle sysFont(TqorUI::CreateSysFont());
  ASSERT_TRUE(sysFont);
  LOGFONTW lf{};
  ASSERT_EQ(::GetObjectW(sysFont.get(), sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
  EXPECT_EQ(lf.lfHeight, metrics.lfMessageFont.lfHeight);
  EXPECT_STREQ(lf.lfFaceName, metrics.lfMessageFont.lfFaceName);

  TqorUI ui;
  SIZE expected = qortest::MeasureDialogText(static_cast<HFONT>(sysFont.get()));
  EXPECT_EQ(ui.DialogUnit().cx, expected.cx / 52);
  EXPECT_EQ(ui.DialogUnit().cy, expected.cy);
  LOGFONTW uiFont{};
  ::GetObjectW(ui.Font(), sizeof(uiFont), &uiFont);
  EXPECT_STREQ(uiFont.lfFaceName, metrics.lfMessageFont.lfFaceName);
}

TEST(QorUI, SetFontCopiesAndRemeasures) {
  TqorUI ui;
  SIZE before = ui.DialogUnit();
  HFONT own = ui.Font();

  ui.SetFont(own);  // itself: nothing happens
  EXPECT_EQ(ui.Font(), own);
  ui.SetFont(static_cast<HFONT>(::GetStockObject(WHITE_BRUSH)));  // not a font: nothing happens
  EXPECT_EQ(ui.Font(), own);
  EXPECT_EQ(ui.DialogUnit().cx, before.cx);

  LOGFONTW lf{};
  ::GetObjectW(own, sizeof(lf), &lf);
  lf.lfHeight *= 2;
  HFONT big = ::CreateFontIndirectW(&lf);
  ui.SetFont(big);
  EXPECT_NE(ui.Font(), big) << "the object keeps a copy of its own";
  ::DeleteObject(big);  // the copy outlives the source
  SIZE after = ui.DialogUnit();
  EXPECT_GT(after.cx, before.cx);
  EXPECT_GT(after.cy, before.cy);
  LOGFONTW copy{};
  ASSERT_EQ(::GetObjectW(ui.Font(), sizeof(copy), &copy), static_cast<int>(sizeof(copy)));
  EXPECT_EQ(copy.lfHeight, lf.lfHeight);
}

TEST(QorUI, MonoFontIsFixedPitchAndScaled) {
  LOGFONTW stock{};
  ::GetObjectW(::GetStockObject(ANSI_FIXED_FONT), sizeof(stock), &stock);
  FontHandle mono(TqorUI::CreateMonoFont());
  ASSERT_TRUE(mono);
  LOGFONTW lf{};
  ASSERT_EQ(::GetObjectW(mono.get(), sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
  HDC screen = ::GetDC(nullptr);
  int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  int height = stock.lfHeight > 0 ? -stock.lfHeight : stock.lfHeight;
  EXPECT_EQ(lf.lfHeight, RoundHalfEven(dpi * height / 96.0)) << "stock height " << stock.lfHeight;
  EXPECT_LT(lf.lfHeight, 0) << "a character height";
  EXPECT_EQ(lf.lfWidth, 0);
}

TEST(QorUI, RoundsHalfToEven) {
  struct {
    double value;
    int expected;
  } cases[] = {{22.5, 22}, {23.5, 24}, {16.875, 17}, {-2.5, -2}, {18.0, 18}, {110.5, 110}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(RoundHalfEven(c.value), c.expected);
  }
}

// This program carries the common controls 6 manifest, as the setup does: the themed branch is real.
TEST(QorUIThemed, OnlyPushButtonsCanBeMeasured) {
  ASSERT_TRUE(UsesVisualStyles()) << "the test program's manifest should give it the visual styles";
  Host host;
  TqorUI ui;
  struct Case {
    DWORD style;
    bool measurable;
  } cases[] = {{BS_PUSHBUTTON, true},   {BS_DEFPUSHBUTTON, true}, {BS_CHECKBOX, false},
               {BS_AUTOCHECKBOX, false}, {BS_AUTORADIOBUTTON, false}, {BS_3STATE, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.style);
    Button button(host.form, L"Caption", c.style);
    button.SetBounds({0, 0, 5, 5});
    if (c.measurable) {
      EXPECT_NO_THROW(ui.SetButtonSize(button));
      EXPECT_GE(button.Width(), ::MulDiv(50, ui.DialogUnit().cx, 4));
    } else {
      try {
        ui.SetButtonSize(button);
        ADD_FAILURE() << "no error";
      } catch (const Error& e) {
        EXPECT_EQ(e.message(), L"Unknow control");
      }
      EXPECT_EQ(button.Width(), 5) << "left unchanged";
    }
  }
}

TEST(QorUIThemed, ProgressBarTakesTheThemeHeightWhenTaller) {
  ASSERT_TRUE(UsesVisualStyles());
  HTHEME theme = ::OpenThemeData(nullptr, L"PROGRESS");
  ASSERT_NE(theme, nullptr);
  HDC dc = ::CreateCompatibleDC(nullptr);
  SIZE part{};
  HRESULT hr = ::GetThemePartSize(theme, dc, PP_BAR, 0, nullptr, TS_TRUE, &part);
  ::DeleteDC(dc);
  ::CloseThemeData(theme);
  ASSERT_EQ(hr, S_OK);

  Host host;
  HWND progress = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 100, 3, host.form.Handle(), nullptr, nullptr, nullptr);
  for (int cy : {part.cy - 6, part.cy + 8}) {
    SCOPED_TRACE(cy);
    FontHandle font;
    for (int cx = 2; cx < 20 && !font; ++cx) font = FontWithDialogUnits(cx, cy);
    ASSERT_TRUE(font) << "no font with a line height of " << cy;
    TqorUI ui;
    ui.SetFont(static_cast<HFONT>(font.get()));
    ui.SetProgressSize(progress);
    int expected = cy > part.cy ? cy : part.cy;
    EXPECT_EQ(WindowBounds(progress).height, expected) << "theme part height " << part.cy;
    EXPECT_EQ(WindowBounds(progress).width, 100);
  }
}

TEST(QorUI, NoGdiObjectsRemainAfterUse) {
  Host host;
  Button button(host.form, L"Caption");
  HWND progress = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 100, 3, host.form.Handle(), nullptr, nullptr, nullptr);
  auto use = [&] {
    TqorUI ui;
    FontHandle mono(TqorUI::CreateMonoFont());
    ui.SetFont(static_cast<HFONT>(mono.get()));
    ui.SetButtonSize(button);
    ui.SetProgressSize(progress);
  };
  for (int i = 0; i < 3; ++i) use();  // caches of the system fill up first
  int before = qortest::GdiObjectCount();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 100; ++i) use();
  EXPECT_EQ(qortest::GdiObjectCount(), before);
}
