// The base form: laid out once when built, again on font, theme and language changes, metrics freed on
// every path, the system message font, no GDI growth, and a screenshot of a laid-out form.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "Controls.h"
#include "Error.h"
#include "JvqorForm.h"
#include "LangWindows.h"
#include "UiTestSupport.h"

using namespace qor;

namespace {

std::vector<std::wstring>& CallLog() {
  static std::vector<std::wstring> log;
  return log;
}

// Counts the metrics objects alive.
class CountingUI : public TqorUI {
 public:
  CountingUI() { ++alive; }
  ~CountingUI() override { --alive; }
  static inline int alive = 0;
};

// A small form in the shape of the setup's windows: labels, an edit with a browse button, a list view,
// two buttons; its layout comes from the metrics alone, and it records every pass.
class RecordingForm : public TJvqorForm {
 public:
  explicit RecordingForm(std::wstring name)
      : TJvqorForm(FormParams{L"QorRecordingForm", kMainFormStyle, 0, nullptr, L"Recording form " + name, 646, 597}),
        name_(std::move(name)) {
    TitleLabel.SetText(L"Quorvex setup");
    PathLabel.SetText(L"wincmd.ini position:");
    LinkLabel.SetText(L"https://www.example.org/quorvex");
    LinkLabel.SetTextColor(RGB(0, 0, 255));
    LinkLabel.SetCursor(::LoadCursorW(nullptr, IDC_HAND));
    PathEdit.SetText(L"C:\\TC\\wincmd.ini");
    List.AddColumn(L"File name", 100);
    List.AddColumn(L"Path", 100);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.pszText = const_cast<wchar_t*>(L"zip.wcx");
    ListView_InsertItem(List.Handle(), &item);
    ListView_SetItemText(List.Handle(), 0, 1, const_cast<wchar_t*>(L"C:\\TC\\Plugins\\zip"));
    ListView_SetCheckState(List.Handle(), 0, TRUE);
    AllUsersButton.SetShield(true);
  }

  std::unique_ptr<TqorUI> CreateUI() override { return std::make_unique<CountingUI>(); }

  void ApplyUI(TqorUI& ui) override {
    TJvqorForm::ApplyUI(ui);
    CallLog().push_back(name_);
    ++passes;
    lastUnit = ui.DialogUnit();
    if (throwInApplyUI) throw Error(L"layout failed");
    SIZE m = ui.DialogMargin(), l = ui.LabelControlSpacing(), u = ui.UnrelatedControlsSpacing(), b = ui.ButtonsSpacing();
    LOGFONTW title = FontAttributes();
    title.lfHeight *= 2;
    TitleLabel.SetOwnFont(title);
    TitleLabel.SetTop(m.cy);
    LinkLabel.SetTop(TitleLabel.Bottom() + l.cy);
    PathLabel.SetBounds({m.cx, LinkLabel.Bottom() + 2 * u.cy, PathLabel.Width(), PathLabel.Height()});
    PathEdit.SetLeft(m.cx);
    PathEdit.SetTop(PathLabel.Bottom() + l.cy);
    PathEdit.SetWidth(60 * ui.DialogUnit().cx + extraWidth);
    List.SetBounds({m.cx, PathEdit.Bottom() + u.cy, PathEdit.Width(), 10});
    List.SetClientHeight(6 * ui.DialogUnit().cy);
    List.SetColumnWidth(0, 20 * ui.DialogUnit().cx);
    List.SetColumnWidth(1, LVSCW_AUTOSIZE_USEHEADER);
    ui.SetButtonSize2(AllUsersButton, CurrentUserButton);
    AllUsersButton.SetBounds({m.cx, List.Bottom() + u.cy, (PathEdit.Width() - b.cx) / 2, AllUsersButton.Height()});
    CurrentUserButton.SetBounds({AllUsersButton.Right() + b.cx, AllUsersButton.Top(),
                                 PathEdit.Right() - (AllUsersButton.Right() + b.cx), AllUsersButton.Height()});
    SetClientSize(PathEdit.Right() + m.cx, AllUsersButton.Bottom() + m.cy);
    for (Label* label : {&TitleLabel, &LinkLabel}) label->SetLeft((ClientWidth() - label->Width()) / 2);
  }

  int passes = 0;
  int extraWidth = 0;
  bool throwInApplyUI = false;
  SIZE lastUnit{};

  Label TitleLabel{*this};
  Label LinkLabel{*this};
  Label PathLabel{*this};
  BrowseEdit PathEdit{*this, ES_READONLY};
  ListView List{*this};
  Button AllUsersButton{*this, L"Install for all users"};
  Button CurrentUserButton{*this, L"Install for current user only"};

 private:
  std::wstring name_;
};

class ThrowingForm : public RecordingForm {
 public:
  ThrowingForm() : RecordingForm(L"throwing") { throwInApplyUI = true; }
};

LOGFONTW FontOf(HFONT font) {
  LOGFONTW lf{};
  ::GetObjectW(font, sizeof(lf), &lf);
  return lf;
}

}  // namespace

TEST(JvqorForm, LaidOutOnceThenOnEveryUIChange) {
  auto form = CreateForm<RecordingForm>(L"a");
  EXPECT_EQ(form->passes, 1) << "once, at the end of construction";
  ::SetWindowPos(form->Handle(), nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  form->Show();

  struct Case {
    const char* what;
    UINT message;
    WPARAM wParam;
    int passesAfter;
  } cases[] = {
      {"0xB035", CM_SYSFONTCHANGED, 0, 2},
      {"WM_THEMECHANGED", WM_THEMECHANGED, 0, 3},
      {"message font change", WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 4},
      {"another setting", WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int widthBefore = form->ClientWidth();
    int passesBefore = form->passes;
    form->extraWidth += 40;  // so that each pass really changes the size
    ::SendMessageW(form->Handle(), c.message, c.wParam, 0);
    EXPECT_EQ(form->passes, c.passesAfter);
    Bounds b = form->GetBounds();
    EXPECT_EQ(b.left, 123);
    EXPECT_EQ(b.top, 77);
    if (c.passesAfter > passesBefore) {
      EXPECT_EQ(form->ClientWidth(), widthBefore + 40);
    } else {
      EXPECT_EQ(form->ClientWidth(), widthBefore);
      form->extraWidth -= 40;
    }
  }
  qor::BroadcastUIChanged();
  EXPECT_EQ(form->passes, 5) << "the language broadcast";
  EXPECT_FALSE(HasPendingWindowError());
}

TEST(JvqorForm, LanguageBroadcastReachesOpenFormsInJoiningOrder) {
  CallLog().clear();
  auto first = CreateForm<RecordingForm>(L"first");
  auto second = CreateForm<RecordingForm>(L"second");
  auto third = CreateForm<RecordingForm>(L"third");
  second.reset();
  auto fourth = CreateForm<RecordingForm>(L"fourth");
  CallLog().clear();

  qor::BroadcastUIChanged();

  std::vector<std::wstring> expected{L"first", L"third", L"fourth"};
  EXPECT_EQ(CallLog(), expected);
}

TEST(JvqorForm, AWindowDestroyedBeforeItsFormLeavesTheLanguageWindows) {
  CallLog().clear();
  auto kept = CreateForm<RecordingForm>(L"kept");
  auto gone = CreateForm<RecordingForm>(L"gone");
  const HWND goneWindow = gone->Handle();
  auto joined = [](HWND h) {
    std::vector<HWND> all = qor::LangWindows();
    return std::find(all.begin(), all.end(), h) != all.end();
  };
  ASSERT_TRUE(joined(goneWindow));
  ASSERT_TRUE(DestroyWindow(goneWindow));
  EXPECT_EQ(gone->Handle(), nullptr);
  EXPECT_FALSE(joined(goneWindow)) << "a destroyed window stays in the broadcast list; its handle may be reused";
  EXPECT_TRUE(joined(kept->Handle()));
  gone.reset();
  EXPECT_TRUE(joined(kept->Handle())) << "the late destructor must not take another window out";
  CallLog().clear();
  qor::BroadcastUIChanged();
  EXPECT_EQ(CallLog(), std::vector<std::wstring>{L"kept"});
}

TEST(JvqorForm, TakesTheSystemMessageFont) {
  LOGFONTW system = qortest::MessageFont();
  auto plain = CreateForm<TJvqorForm>(FormParams{L"QorPlainForm", kDialogFormStyle, kDialogFormExStyle, nullptr, L"plain", 200, 100});
  ASSERT_NE(plain->Font(), nullptr);
  LOGFONTW formFont = FontOf(plain->Font());
  EXPECT_EQ(formFont.lfHeight, system.lfHeight);
  EXPECT_STREQ(formFont.lfFaceName, system.lfFaceName);

  auto form = CreateForm<RecordingForm>(L"f");
  EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(form->PathEdit, WM_GETFONT, 0, 0)), form->Font());
  EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(form->PathLabel, WM_GETFONT, 0, 0)), form->Font());
  EXPECT_EQ(FontOf(form->TitleLabel.Font()).lfHeight, 2 * system.lfHeight);
  TqorUI ui;
  EXPECT_EQ(form->lastUnit.cx, ui.DialogUnit().cx);
  EXPECT_EQ(form->lastUnit.cy, ui.DialogUnit().cy);
}

TEST(JvqorForm, MetricsAreFreedWhenTheLayoutFails) {
  CountingUI::alive = 0;
  try {
    CreateForm<ThrowingForm>();
    ADD_FAILURE() << "the construction should fail with the layout";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), L"layout failed");
  }
  EXPECT_EQ(CountingUI::alive, 0);

  auto form = CreateForm<RecordingForm>(L"r");
  EXPECT_EQ(CountingUI::alive, 0);
  form->throwInApplyUI = true;
  EXPECT_THROW(form->UpdateUI(), Error);
  EXPECT_EQ(CountingUI::alive, 0);

  // Raised by a message handler: kept until the sender asks for it.
  ::SendMessageW(form->Handle(), CM_SYSFONTCHANGED, 0, 0);
  EXPECT_EQ(CountingUI::alive, 0);
  ASSERT_TRUE(HasPendingWindowError());
  EXPECT_THROW(RethrowPendingWindowError(), Error);
  EXPECT_FALSE(HasPendingWindowError());
}

TEST(JvqorForm, SystemMessageFontChangeRelaysOutWithNewUnits) {
  NONCLIENTMETRICSW original{};
  original.cbSize = sizeof(original);
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(original), &original, 0));
  auto form = CreateForm<RecordingForm>(L"font");
  form->Show();
  ::SetWindowPos(form->Handle(), nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SIZE before = form->lastUnit;
  int widthBefore = form->ClientWidth();
  int passes = form->passes;

  NONCLIENTMETRICSW bigger = original;
  bigger.lfMessageFont.lfHeight = original.lfMessageFont.lfHeight * 2;
  ScopeGuard restore([&] {
    ::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(original), &original, SPIF_SENDCHANGE);
  });
  ASSERT_TRUE(::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(bigger), &bigger, SPIF_SENDCHANGE));
  // Windows tells every top-level window; Wine changes the value without telling anyone.
  ::SendMessageW(form->Handle(), WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, reinterpret_cast<LPARAM>(L"WindowMetrics"));
  qortest::PumpMessages(50);

  EXPECT_GT(form->passes, passes);
  EXPECT_GT(form->lastUnit.cx, before.cx);
  EXPECT_GT(form->lastUnit.cy, before.cy);
  EXPECT_GT(form->ClientWidth(), widthBefore);
  EXPECT_EQ(form->GetBounds().left, 40);
  EXPECT_EQ(form->GetBounds().top, 30);
  EXPECT_EQ(FontOf(form->Font()).lfHeight, bigger.lfMessageFont.lfHeight);
}

TEST(JvqorForm, RelayoutDoesNotGrowGdiObjects) {
  auto form = CreateForm<RecordingForm>(L"gdi");
  form->Show();
  for (int i = 0; i < 5; ++i) ::SendMessageW(form->Handle(), CM_SYSFONTCHANGED, 0, 0);
  qortest::PumpMessages(50);
  int before = qortest::GdiObjectCount();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 100; ++i) ::SendMessageW(form->Handle(), i % 2 ? CM_SYSFONTCHANGED : WM_THEMECHANGED, 0, 0);
  qortest::PumpMessages(50);
  EXPECT_EQ(form->passes, 106);
  EXPECT_EQ(qortest::GdiObjectCount(), before);
}

TEST(JvqorForm, Screenshot) {
  auto form = CreateForm<RecordingForm>(L"shot");
  CenterWindow(form->Handle());
  form->Show();
  ::SetForegroundWindow(form->Handle());
  qortest::PumpMessages(300);
  std::wstring path = qortest::ScreenshotFolder() + L"\\ui_recording_form.bmp";
  int colours = qortest::SaveWindowScreenshot(form->Handle(), path);
  EXPECT_GT(colours, 8) << "a blank capture";
  EXPECT_NE(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}
