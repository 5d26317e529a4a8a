// The real close-processes dialog, created in-process under Xvfb: it closes itself with OK once the file
// can be deleted or is gone, Cancel by Esc, the close box and the button, a list that does not change
// while shown, the layout from the dialog metrics, keyboard and accessibility order, screenshots.
// Every modal run has a watchdog that ends the dialog with its own result, so a broken dialog fails.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "FileTestSupport.h"
#include "Handles.h"
#include "LangWindows.h"
#include "QuorvexSetupCloseProcessFormUnit.h"
#include "QuorvexSetupLang.h"
#include "SetupWindowDriver.h"
#include "UiTestSupport.h"
#include "qorLang.h"
#include "qorUI.h"

using namespace qor;
using namespace qortest;

namespace {

constexpr int kWatchdogResult = 99;

// Actions that run at given times inside the dialog's modal loop (thread timers, dispatched by it), and
// the watchdog that ends the dialog when nothing else did.
class ModalScript {
 public:
  ModalScript(TCloseProcessForm& dialog, DWORD watchdogMs) : dialog_(dialog) {
    Current() = this;
    At(watchdogMs, [this] { dialog_.SetModalResult(kWatchdogResult); });
  }
  ~ModalScript() {
    for (UINT_PTR id : timers_) KillTimer(nullptr, id);
    Current() = nullptr;
  }
  void At(DWORD ms, std::function<void()> action) {
    UINT_PTR id = SetTimer(nullptr, 0, ms, &ModalScript::Tick);
    timers_.push_back(id);
    actions_.push_back({id, std::move(action)});
  }

 private:
  static ModalScript*& Current() {
    static ModalScript* current = nullptr;
    return current;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) noexcept {
    KillTimer(nullptr, id);  // each action runs once
    ModalScript* self = Current();
    if (!self) return;
    for (auto& a : self->actions_)
      if (a.first == id && a.second) {
        auto action = std::move(a.second);
        a.second = nullptr;
        action();
      }
  }
  TCloseProcessForm& dialog_;
  std::vector<UINT_PTR> timers_;
  std::vector<std::pair<UINT_PTR, std::function<void()>>> actions_;
};

// A file opened without any sharing: nobody can delete it until the handle is closed.
class HeldFile {
 public:
  explicit HeldFile(const std::wstring& path) {
    WriteFileBytes(path, "held");
    SetLastError(0xDEADBEEF);
    handle_ = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  }
  ~HeldFile() { Release(); }
  void Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};


struct ListSnapshot {
  std::vector<std::wstring> texts;
  std::vector<LPARAM> data;
};
ListSnapshot ReadList(const TCloseProcessForm& dialog) {
  ListSnapshot s;
  for (int i = 0; i < dialog.ProcessListBox.Count(); ++i) {
    s.texts.push_back(dialog.ProcessListBox.ItemText(i));
    s.data.push_back(dialog.ProcessListBox.ItemData(i));
  }
  return s;
}

class CloseProcessForm : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    InitializeQorLang();
    InitializeQuorvexSetupLang();
  }
  static void TearDownTestSuite() {
    FinalizeQuorvexSetupLang();
    FinalizeQorLang();
  }
  void SetUp() override { SetLanguage(LangEnglish); }
  void TearDown() override { SetLanguage(LangEnglish); }
  TempFolder temp;
  const ProcessList twoProcesses{{L"C:\\Programs\\Viewer\\viewer64.exe", 4242}, {L"Unknown process #77", 77}};
};

}  // namespace

TEST_F(CloseProcessForm, ClosesWithOkWithinASecondOnceTheFileCanBeDeleted) {
  const std::wstring dll = temp / L"plugin.wcx64";
  HeldFile held(dll);
  auto dialog = CreateForm<TCloseProcessForm>();
  ModalScript script(*dialog, 8000);
  DWORD releasedAt = 0;
  bool openWhileHeld = false;
  script.At(1600, [&] {
    openWhileHeld = dialog->IsModal() && dialog->Visible() && Exists(dll);
    held.Release();
    releasedAt = GetTickCount();
  });
  int result = dialog->ShowModal(twoProcesses, dll);
  DWORD endedAt = GetTickCount();
  EXPECT_EQ(result, mrOk);
  EXPECT_TRUE(openWhileHeld) << "ticks while the file was held did nothing";
  ASSERT_NE(releasedAt, 0u);
  EXPECT_LE(endedAt - releasedAt, 1300u) << "closed " << endedAt - releasedAt << " ms after the release";
  EXPECT_FALSE(Exists(dll)) << "the dialog deleted the file";
  EXPECT_EQ(dialog->DllName(), dll);
  EXPECT_FALSE(dialog->Visible());
}

TEST_F(CloseProcessForm, ClosesWithOkWhenTheProgramThatLoadedTheFileEnds) {
  const std::wstring dll = temp / L"plugin.wcx64";
  ASSERT_TRUE(CopyFileW((BinDir() + L"sibling_proxy.wcx64").c_str(), dll.c_str(), FALSE));
  const std::wstring event = L"qor_closeprocess_" + std::to_wstring(GetCurrentProcessId());
  qor::KernelHandle exitEvent(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
  ASSERT_TRUE(exitEvent);
  ChildProcess holder(BinDir() + L"DllHolder.exe", L"--load " + Quoted(dll) + L" --exit-event " + event);
  ASSERT_TRUE(holder.Started()) << "error " << holder.StartError();
  ASSERT_TRUE(WaitForReadyEvent(holder, event)) << "the holder did not load the file";
  SetLastError(0xDEADBEEF);
  ASSERT_FALSE(DeleteFileW(dll.c_str())) << "a loaded library cannot be deleted";

  auto dialog = CreateForm<TCloseProcessForm>();
  ModalScript script(*dialog, 10000);
  DWORD endedProcessAt = 0;
  script.At(1500, [&] {
    SetEvent(exitEvent.get());
    holder.WaitEnded(5000);
    endedProcessAt = GetTickCount();
  });
  int result = dialog->ShowModal({{BinDir() + L"DllHolder.exe", holder.Id()}}, dll);
  DWORD endedAt = GetTickCount();
  EXPECT_EQ(result, mrOk);
  ASSERT_NE(endedProcessAt, 0u);
  EXPECT_LE(endedAt - endedProcessAt, 1300u);
  EXPECT_FALSE(Exists(dll));
}

TEST_F(CloseProcessForm, ClosesWithOkWhenSomeoneElseDeletesTheFile) {
  // A read-only file resists DeleteFileW; another program clears the attribute and deletes it.
  const std::wstring dll = temp / L"plugin.wcx64";
  WriteFileBytes(dll, "x");
  ASSERT_TRUE(SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_READONLY));
  SetLastError(0xDEADBEEF);
  ASSERT_FALSE(DeleteFileW(dll.c_str())) << "read-only files must resist DeleteFileW here";
  auto dialog = CreateForm<TCloseProcessForm>();
  ModalScript script(*dialog, 8000);
  DWORD deletedAt = 0;
  bool stillThere = false;
  script.At(1600, [&] {
    stillThere = Exists(dll);
    SetFileAttributesW(dll.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(dll.c_str())) deletedAt = GetTickCount();
  });
  int result = dialog->ShowModal(twoProcesses, dll);
  DWORD endedAt = GetTickCount();
  EXPECT_EQ(result, mrOk);
  EXPECT_TRUE(stillThere) << "the dialog's ticks failed on the read-only file";
  ASSERT_NE(deletedAt, 0u);
  EXPECT_LE(endedAt - deletedAt, 1300u);
}

TEST_F(CloseProcessForm, EscCloseBoxAndCancelButtonGiveCancel) {
  const std::wstring dll = temp / L"plugin.wcx64";
  HeldFile held(dll);
  const struct {
    const char* name;
    std::function<void(TCloseProcessForm&)> act;
  } ways[] = {
      {"Esc key",
       [](TCloseProcessForm&) {
         PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
         PostMessageW(GetFocus(), WM_KEYUP, VK_ESCAPE, 0xC0010001);
       }},
      {"close box", [](TCloseProcessForm& d) { PostMessageW(d.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Cancel button", [](TCloseProcessForm& d) { PostMessageW(d.CancelButton, BM_CLICK, 0, 0); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    auto dialog = CreateForm<TCloseProcessForm>();
    ModalScript script(*dialog, 6000);
    HWND focused = nullptr;
    script.At(400, [&] {
      focused = GetFocus();
      way.act(*dialog);
    });
    EXPECT_EQ(dialog->ShowModal(twoProcesses, dll), mrCancel);
    EXPECT_EQ(focused, dialog->ProcessListBox.Handle()) << "the list has the focus when shown";
    EXPECT_TRUE(Exists(dll));
  }
}

TEST_F(CloseProcessForm, ListStaysAsItWasAfterAListedProcessEnds) {
  const std::wstring dll = temp / L"plugin.wcx64";
  HeldFile held(dll);
  ChildProcess child(BinDir() + L"TOTALCMD64.exe", L"--sleep 300");
  ASSERT_TRUE(child.Started()) << "error " << child.StartError();
  const ProcessList list{{BinDir() + L"TOTALCMD64.exe", child.Id()}, {L"Unknown process #77", 77}};

  auto dialog = CreateForm<TCloseProcessForm>();
  ModalScript script(*dialog, 8000);
  ListSnapshot before, after;
  bool childEnded = false;
  script.At(200, [&] { before = ReadList(*dialog); });
  script.At(2600, [&] {  // after the child's end and two ticks
    childEnded = child.WaitEnded(0);
    after = ReadList(*dialog);
    dialog->CancelButton.Click();
  });
  EXPECT_EQ(dialog->ShowModal(list, dll), mrCancel);
  EXPECT_TRUE(childEnded);
  const std::vector<std::wstring> texts{list[0].Text, list[1].Text};
  const std::vector<LPARAM> data{static_cast<LPARAM>(child.Id()), 77};
  EXPECT_EQ(before.texts, texts);
  EXPECT_EQ(before.data, data);
  EXPECT_EQ(after.texts, texts);
  EXPECT_EQ(after.data, data);
}

TEST_F(CloseProcessForm, LayoutFollowsTheDialogMetricsAndKeepsTheTopLeftCorner) {
  auto dialog = CreateForm<TCloseProcessForm>();
  auto check = [&](const char* pass) {
    SCOPED_TRACE(pass);
    TqorUI ui;
    const SIZE M = ui.DialogMargin(), U = ui.UnrelatedControlsSpacing(), du = ui.DialogUnit();
    EXPECT_EQ(dialog->Image.Left(), M.cx);
    EXPECT_EQ(dialog->Image.Top(), M.cy);
    EXPECT_EQ(dialog->Image.Width(), GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(dialog->Image.Height(), GetSystemMetrics(SM_CYICON));
    EXPECT_EQ(dialog->MessageLabel.Left(), dialog->Image.Right() + U.cx);
    EXPECT_EQ(dialog->MessageLabel.Top(), M.cy);
    EXPECT_EQ(dialog->MessageLabel.Width(), 80 * du.cx);
    EXPECT_GT(dialog->MessageLabel.Height(), 0);
    EXPECT_EQ(dialog->ProcessListBox.Left(), dialog->MessageLabel.Left());
    EXPECT_EQ(dialog->ProcessListBox.Top(), dialog->MessageLabel.Bottom() + ui.LabelControlSpacing().cy);
    EXPECT_EQ(dialog->ProcessListBox.Width(), 80 * du.cx);
    EXPECT_EQ(dialog->ProcessListBox.ClientHeight(), 5 * du.cy);
    // The standard button size, measured on a twin with the same caption and font.
    HWND twin = CreateWindowExW(0, L"BUTTON", qortest::WindowText(dialog->CancelButton).c_str(), WS_CHILD | BS_PUSHBUTTON, 0, 0, 10,
                                10, dialog->Handle(), nullptr, nullptr, nullptr);
    SendMessageW(twin, WM_SETFONT, reinterpret_cast<WPARAM>(dialog->CancelButton.Font()), FALSE);
    ui.SetButtonSize(twin);
    Bounds expected = WindowBounds(twin);
    DestroyWindow(twin);
    EXPECT_EQ(dialog->CancelButton.Width(), expected.width);
    EXPECT_EQ(dialog->CancelButton.Height(), expected.height);
    EXPECT_EQ(dialog->CancelButton.Right(), dialog->ProcessListBox.Right());
    EXPECT_EQ(dialog->CancelButton.Top(), dialog->ProcessListBox.Bottom() + U.cy);
    EXPECT_EQ(dialog->ClientWidth(), dialog->CancelButton.Right() + M.cx);
    EXPECT_EQ(dialog->ClientHeight(), dialog->CancelButton.Bottom() + M.cy);
  };
  check("at creation");
  const LONG style = GetWindowLongW(dialog->Handle(), GWL_STYLE);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) << std::hex << style;
  EXPECT_TRUE(style & WS_SYSMENU) << std::hex << style;

  // A re-layout (font, theme or language change) keeps the window where it was put.
  SetWindowPos(dialog->Handle(), nullptr, 137, 91, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const Bounds before = dialog->GetBounds();
  for (UINT message : {static_cast<UINT>(CM_SYSFONTCHANGED), static_cast<UINT>(WM_THEMECHANGED)}) {
    SCOPED_TRACE(message);
    SendMessageW(dialog->Handle(), message, 0, 0);
    const Bounds after = dialog->GetBounds();
    EXPECT_EQ(after.left, 137);
    EXPECT_EQ(after.top, 91);
    EXPECT_EQ(after.width, before.width);
    EXPECT_EQ(after.height, before.height);
    check("after a re-layout");
  }
}

TEST_F(CloseProcessForm, TextsOwnerTabOrderAndNames) {
  TJvqorForm mainForm(FormParams{});
  SetMainForm(&mainForm);
  auto dialog = CreateForm<TCloseProcessForm>();
  SetMainForm(nullptr);
  EXPECT_EQ(GetWindow(dialog->Handle(), GW_OWNER), mainForm.Handle()) << "owned by the main form";
  EXPECT_EQ(qortest::WindowText(dialog->Handle()), L"Warning");
  EXPECT_EQ(qortest::WindowText(dialog->MessageLabel), L"To continue installation, you need to end the following processes:");
  EXPECT_EQ(qortest::WindowText(dialog->CancelButton), L"Cancel");
  EXPECT_EQ(GetWindow(dialog->ProcessListBox, GW_HWNDPREV), dialog->MessageLabel.Handle())
      << "the label names the list";
  EXPECT_EQ(GetNextDlgTabItem(dialog->Handle(), nullptr, FALSE), dialog->ProcessListBox.Handle());
  EXPECT_EQ(GetNextDlgTabItem(dialog->Handle(), dialog->ProcessListBox, FALSE), dialog->CancelButton.Handle());
  EXPECT_EQ(GetNextDlgTabItem(dialog->Handle(), dialog->CancelButton, FALSE), dialog->ProcessListBox.Handle());
  const LONG listStyle = GetWindowLongW(dialog->ProcessListBox, GWL_STYLE);
  EXPECT_FALSE(listStyle & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) << "single selection, style " << std::hex << listStyle;

  auto unowned = CreateForm<TCloseProcessForm>();
  EXPECT_EQ(GetWindow(unowned->Handle(), GW_OWNER), nullptr) << "no main form, no owner";
}

TEST_F(CloseProcessForm, Screenshots) {
  const std::wstring dll = temp / L"plugin.wcx64";
  HeldFile held(dll);
  const struct {
    int language;
    const wchar_t* name;
    const wchar_t* caption;
    const wchar_t* cancel;
  } languages[] = {
      {LangEnglish, L"en", L"Warning", L"Cancel"},
      {LangRussian, L"ru", L"\u041f\u0440\u0435\u0434\u0443\u043f\u0440\u0435\u0436\u0434\u0435\u043d\u0438\u0435",
       L"\u041e\u0442\u043c\u0435\u043d\u0430"},
  };
  for (const auto& l : languages) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(l.name)));
    SetLanguage(l.language);
    auto dialog = CreateForm<TCloseProcessForm>();
    EXPECT_EQ(qortest::WindowText(dialog->Handle()), l.caption);
    EXPECT_EQ(qortest::WindowText(dialog->CancelButton), l.cancel);
    EXPECT_EQ(qortest::WindowText(dialog->MessageLabel), GetLangStr(L"CloseProcesses"));
    ModalScript script(*dialog, 8000);
    int colours = 0;
    script.At(500, [&] {
      std::wstring path = qortest::ScreenshotFolder() + L"\\close_processes_" + l.name + L".bmp";
      colours = qortest::SaveWindowScreenshot(dialog->Handle(), path);
      dialog->CancelButton.Click();
    });
    EXPECT_EQ(dialog->ShowModal(twoProcesses, dll), mrCancel);
    EXPECT_GT(colours, 3) << "a real picture";
  }
}
