// The window layer under real input messages: modal results, Esc, Enter, the close box, Tab order,
// timers, control sizes, colours and events.
#include <gtest/gtest.h>

#include <string>

#include "Controls.h"
#include "Error.h"
#include "JvqorForm.h"
#include "UiTestSupport.h"

using namespace qor;

namespace {

// A dialog in the shape of the close-processes dialog: icon, wrapped message, list box, Cancel, and a
// timer; plus an OK button for Enter.
class TestDialog : public TJvqorForm {
 public:
  explicit TestDialog(HWND owner = nullptr)
      : TJvqorForm(FormParams{L"QorTestDialog", kDialogFormStyle, kDialogFormExStyle, owner, L"Warning", 300, 200}) {
    CancelButton.SetCancel(true);
    CancelButton.SetModalResult(mrCancel);
    CancelButton.OnClick = [this] { ++cancelClicks; };
    OkButton.SetDefault(true);
    OkButton.SetModalResult(mrOk);
    Message.SetText(L"To continue installation, you need to end the following processes:");
    List.AddItem(L"first.exe (12)", 12);
    List.AddItem(L"second.exe (34)", 34);
    SetTabOrder({&List, &OkButton, &CancelButton});
  }

  void ApplyUI(TqorUI& ui) override {
    TJvqorForm::ApplyUI(ui);
    SIZE m = ui.DialogMargin();
    Icon.SetIcon(::LoadIconW(nullptr, IDI_WARNING));
    Icon.SetLeft(m.cx);
    Icon.SetTop(m.cy);
    Message.SetAutoSize(false);
    Message.SetBounds({Icon.Right() + ui.UnrelatedControlsSpacing().cx, m.cy, 80 * ui.DialogUnit().cx, 10});
    Message.SetWordWrap(true);
    Message.SetAutoSize(true);
    List.SetBounds({Message.Left(), Message.Bottom() + ui.LabelControlSpacing().cy, 80 * ui.DialogUnit().cx, 10});
    List.SetClientHeight(5 * ui.DialogUnit().cy);
    ui.SetButtonSize2(OkButton, CancelButton);
    CancelButton.SetLeft(List.Right() - CancelButton.Width());
    CancelButton.SetTop(List.Bottom() + ui.UnrelatedControlsSpacing().cy);
    OkButton.SetLeft(CancelButton.Left() - ui.ButtonsSpacing().cx - OkButton.Width());
    OkButton.SetTop(CancelButton.Top());
    SetClientSize(CancelButton.Right() + m.cx, CancelButton.Bottom() + m.cy);
  }

  Image Icon{*this};
  Label Message{*this};
  ListBox List{*this};
  Button OkButton{*this, L"OK"};
  Button CancelButton{*this, L"Cancel"};
  Timer Ticker{*this, 30, {}, false};
  // Ends a modal loop that nothing else ends, so that a broken dialog fails instead of hanging.
  Timer Watchdog{*this, 5000, [this] { SetModalResult(kWatchdogResult); }, true};
  static constexpr int kWatchdogResult = 99;
  int cancelClicks = 0;
};

// Presses a key in the focused control once the modal loop runs.
void PressKeyLater(TestDialog& dialog, WPARAM key) {
  dialog.Ticker.OnTimer = [&dialog, key] {
    dialog.Ticker.SetEnabled(false);
    HWND focus = ::GetFocus();
    ::PostMessageW(focus ? focus : dialog.Handle(), WM_KEYDOWN, key, 1);
    ::PostMessageW(focus ? focus : dialog.Handle(), WM_KEYUP, key, 0xC0000001);
  };
  dialog.Ticker.SetEnabled(true);
}

}  // namespace

TEST(ModalForm, EndsWithTheResultOfWhatClosedIt) {
  struct Case {
    const char* what;
    WPARAM key;  // 0: the close box
    int result;
    int cancelClicks;
  } cases[] = {
      {"Esc presses Cancel", VK_ESCAPE, mrCancel, 1},
      {"Enter presses the default button", VK_RETURN, mrOk, 0},
      {"the close box", 0, mrCancel, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto dialog = CreateForm<TestDialog>();
    if (c.key) {
      PressKeyLater(*dialog, c.key);
    } else {
      dialog->Ticker.OnTimer = [&] { ::PostMessageW(dialog->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); };
      dialog->Ticker.SetEnabled(true);
    }
    EXPECT_EQ(dialog->ShowModal(), c.result);
    EXPECT_EQ(dialog->cancelClicks, c.cancelClicks);
    EXPECT_FALSE(dialog->Visible());
  }
}

TEST(ModalForm, TimerSetsTheResultAndTheOwnerIsDisabledMeanwhile) {
  auto owner = CreateForm<TJvqorForm>(FormParams{L"QorOwnerForm", kMainFormStyle, 0, nullptr, L"owner", 200, 100});
  owner->Show();
  auto dialog = CreateForm<TestDialog>(owner->Handle());
  int ticks = 0;
  bool ownerWasEnabled = true;
  dialog->Ticker.SetInterval(100);
  dialog->Ticker.OnTimer = [&] {
    ownerWasEnabled = ::IsWindowEnabled(owner->Handle()) != FALSE;
    if (++ticks == 3) dialog->SetModalResult(mrOk);
  };
  dialog->Ticker.SetEnabled(true);
  DWORD start = ::GetTickCount();

  EXPECT_EQ(dialog->ShowModal(), mrOk);

  EXPECT_EQ(ticks, 3);
  EXPECT_GE(::GetTickCount() - start, 250u);
  EXPECT_FALSE(ownerWasEnabled);
  EXPECT_TRUE(::IsWindowEnabled(owner->Handle())) << "enabled again afterwards";
}

TEST(ModalForm, AnErrorInAHandlerEndsTheLoopAndIsRaised) {
  auto owner = CreateForm<TJvqorForm>(FormParams{L"QorOwnerForm", kMainFormStyle, 0, nullptr, L"owner", 200, 100});
  owner->Show();
  auto dialog = CreateForm<TestDialog>(owner->Handle());
  dialog->Ticker.OnTimer = [] { throw Error(L"tick failed"); };
  dialog->Ticker.SetEnabled(true);
  try {
    dialog->ShowModal();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), L"tick failed");
  }
  EXPECT_FALSE(dialog->IsModal());
  EXPECT_TRUE(::IsWindowEnabled(owner->Handle()));
  EXPECT_FALSE(HasPendingWindowError());
}

TEST(KeyboardNavigation, TabFollowsTheTabOrder) {
  auto dialog = CreateForm<TestDialog>();
  dialog->Show();
  ::SetActiveWindow(dialog->Handle());
  qortest::PumpMessages(30);
  ASSERT_EQ(::GetFocus(), dialog->List.Handle()) << "the first tab stop gets the focus";
  HWND expected[] = {dialog->OkButton.Handle(), dialog->CancelButton.Handle(), dialog->List.Handle()};
  for (HWND next : expected) {
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    qortest::PumpMessages(20);
    EXPECT_EQ(::GetFocus(), next);
  }
}

TEST(Controls, SizesFollowTextAndFont) {
  auto dialog = CreateForm<TestDialog>();
  HFONT font = dialog->Font();
  TEXTMETRICW metrics{};
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);

  Label label(*dialog, L"Some label text");
  EXPECT_EQ(label.Width(), qortest::TextWidth(font, L"Some label text"));
  EXPECT_EQ(label.Height(), metrics.tmHeight);
  label.SetText(L"Some longer label text");
  EXPECT_EQ(label.Width(), qortest::TextWidth(font, L"Some longer label text"));

  // The wrapped message keeps its width and takes as many lines as it needs.
  EXPECT_EQ(dialog->Message.Width(), 80 * TqorUI().DialogUnit().cx);
  EXPECT_GE(dialog->Message.Height(), metrics.tmHeight);
  EXPECT_EQ(dialog->Message.Height() % metrics.tmHeight, 0);
  Label wrapped(*dialog);
  wrapped.SetWordWrap(true);
  wrapped.SetWidth(120);
  wrapped.SetText(L"To continue installation, you need to end the following processes:");
  EXPECT_EQ(wrapped.Width(), 120);
  EXPECT_GE(wrapped.Height(), 3 * metrics.tmHeight) << "wrapped onto several lines";
  EXPECT_EQ(wrapped.Height() % metrics.tmHeight, 0);

  Edit edit(*dialog);
  EXPECT_EQ(edit.Height(), metrics.tmHeight + 8 * ::GetSystemMetrics(SM_CYBORDER));

  EXPECT_EQ(dialog->List.ClientHeight(), 5 * TqorUI().DialogUnit().cy);
  EXPECT_EQ(dialog->Icon.Width(), ::GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(dialog->Icon.Height(), ::GetSystemMetrics(SM_CYICON));
  EXPECT_EQ(dialog->CancelButton.Right(), dialog->List.Right());
  EXPECT_EQ(dialog->ClientWidth(), dialog->CancelButton.Right() + TqorUI().DialogMargin().cx);
}

TEST(Controls, ListBoxAndListViewContents) {
  auto dialog = CreateForm<TestDialog>();
  ASSERT_EQ(dialog->List.Count(), 2);
  EXPECT_EQ(dialog->List.ItemText(1), L"second.exe (34)");
  EXPECT_EQ(dialog->List.ItemData(1), 34);

  ListView view(*dialog);
  EXPECT_EQ(view.AddColumn(L"File name", 80), 0);
  EXPECT_EQ(view.AddColumn(L"Path", 50), 1);
  DWORD ex = ListView_GetExtendedListViewStyle(view.Handle());
  EXPECT_EQ(ex & (LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
            static_cast<DWORD>(LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));
  view.SetBounds({0, 0, 300, 100});
  view.SetClientHeight(120);
  EXPECT_EQ(view.ClientHeight(), 120);
  EXPECT_EQ(view.Width(), 300);
  int changes = 0;
  view.OnItemChanged = [&](const NMLISTVIEW& item) {
    if (item.uChanged & LVIF_STATE) ++changes;
  };
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.pszText = const_cast<wchar_t*>(L"zip.wcx");
  ASSERT_EQ(ListView_InsertItem(view.Handle(), &item), 0);
  ListView_SetCheckState(view.Handle(), 0, TRUE);
  EXPECT_GE(changes, 1);
  EXPECT_TRUE(ListView_GetCheckState(view.Handle(), 0));
  view.SetColumnWidth(1, LVSCW_AUTOSIZE_USEHEADER);
  EXPECT_EQ(view.ColumnWidth(0) + view.ColumnWidth(1), view.ClientWidth()) << "the last column fills the rest";
}

TEST(Controls, EventsColoursAndCursor) {
  auto dialog = CreateForm<TestDialog>();
  BrowseEdit edit(*dialog);
  edit.SetBounds({10, 10, 200, 23});
  int browses = 0, changes = 0;
  edit.OnBrowse = [&] {
    ++browses;
    edit.SetText(L"C:\\picked\\wincmd.ini");
  };
  edit.OnChange = [&] { ++changes; };
  RECT button{}, client{};
  ::GetWindowRect(edit.BrowseButton(), &button);
  ::GetClientRect(edit.Handle(), &client);
  ::MapWindowPoints(edit.Handle(), HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  EXPECT_EQ(button.right, client.right) << "the browse button sits inside the right edge";
  ::SendMessageW(edit.BrowseButton(), BM_CLICK, 0, 0);
  EXPECT_EQ(browses, 1);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(edit.Text(), L"C:\\picked\\wincmd.ini");
  ::SendMessageW(edit.Handle(), WM_SYSKEYDOWN, VK_DOWN, 0x20000001);  // Alt+Down
  EXPECT_EQ(browses, 2);
  // The button follows the edit.
  edit.SetBounds({30, 40, 150, 23});
  ::GetWindowRect(edit.BrowseButton(), &button);
  ::GetClientRect(edit.Handle(), &client);
  ::MapWindowPoints(edit.Handle(), HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  EXPECT_EQ(button.right, client.right);
  EXPECT_EQ(button.top, client.top);
  edit.SetEnabled(false);
  EXPECT_FALSE(::IsWindowEnabled(edit.BrowseButton()));
  edit.SetVisible(false);
  EXPECT_EQ(::GetWindowLongPtrW(edit.BrowseButton(), GWL_STYLE) & WS_VISIBLE, 0);
  edit.SetVisible(true);
  EXPECT_NE(::GetWindowLongPtrW(edit.BrowseButton(), GWL_STYLE) & WS_VISIBLE, 0);

  Label link(*dialog, L"https://www.example.org");
  int clicks = 0;
  link.OnClick = [&] { ++clicks; };
  link.SetTextColor(RGB(0, 0, 255));
  link.SetCursor(::LoadCursorW(nullptr, IDC_HAND));
  ::SendMessageW(dialog->Handle(), WM_COMMAND, MAKEWPARAM(link.Id(), STN_CLICKED), reinterpret_cast<LPARAM>(link.Handle()));
  EXPECT_EQ(clicks, 1);
  HDC dc = ::GetDC(link.Handle());
  LRESULT brush = ::SendMessageW(dialog->Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link.Handle()));
  EXPECT_EQ(::GetTextColor(dc), RGB(0, 0, 255));
  EXPECT_EQ(::GetBkColor(dc), ::GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), ::GetSysColorBrush(COLOR_BTNFACE));
  ::ReleaseDC(link.Handle(), dc);
  EXPECT_EQ(::SendMessageW(dialog->Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(link.Handle()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND));
}

namespace {
// A label whose font-dependent sizing fails once armed.
class FailingLabel : public Label {
 public:
  using Label::Label;
  bool armed = false;

 protected:
  void FontChanged() override {
    if (armed) throw Error(L"sizing failed");
    Label::FontChanged();
  }
};
}  // namespace

TEST(Controls, AnErrorInAFontChangeBecomesThePendingWindowError) {
  auto form = CreateForm<TJvqorForm>(FormParams{L"QorFontErrorForm", kMainFormStyle, 0, nullptr, L"font", 200, 100});
  FailingLabel label(*form, L"text");
  label.armed = true;
  ASSERT_FALSE(HasPendingWindowError());
  // The form hands its new font to the controls where nothing may raise.
  form->SetFont(static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
  ASSERT_TRUE(HasPendingWindowError()) << "the error was dropped";
  try {
    RethrowPendingWindowError();
    ADD_FAILURE() << "nothing raised";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), L"sizing failed");
  }
  EXPECT_FALSE(HasPendingWindowError());
  label.armed = false;
}
