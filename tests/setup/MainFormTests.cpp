// The real main window, created in-process under Xvfb, read back with the messages a user's input causes.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "FileSystem.h"
#include "JvqorSelfInfo.h"
#include "LangWindows.h"
#include "QuorvexSetupLang.h"
#include "QuorvexSetupMainFormUnit.h"
#include "QuorvexSetupUtils.h"
#include "SetupTestSupport.h"
#include "SetupWindowDriver.h"
#include "UiTestSupport.h"
#include "qorLang.h"
#include "qorShellBaseExtension.h"

using namespace qor;
using namespace qortest;

namespace {

// Drives the next dialog box (class "#32770") that this thread shows, from a thread timer that runs
// inside the dialog's own modal loop: action reads it, then the dialog gets closeCommand. Should the
// command not end it, the dialog is ended by force a little later, so a broken dialog fails the test
// instead of hanging the run.
class NextDialog {
 public:
  NextDialog(std::function<void(HWND)> action, WPARAM closeCommand)
      : action_(std::move(action)), closeCommand_(closeCommand) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 100, &NextDialog::Tick);
  }
  ~NextDialog() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  NextDialog(const NextDialog&) = delete;
  NextDialog& operator=(const NextDialog&) = delete;
  bool Found() const { return dialog_ != nullptr; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    NextDialog* self = current_;
    if (!self) return;
    if (self->dialog_) {
      if (IsWindow(self->dialog_) && ++self->ticksSinceClose > 30) EndDialog(self->dialog_, IDCANCEL);
      return;
    }
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND h, LPARAM p) -> BOOL {
          wchar_t cls[32] = {};
          GetClassNameW(h, cls, 32);
          if (IsWindowVisible(h) && std::wstring(cls) == L"#32770") {
            *reinterpret_cast<HWND*>(p) = h;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    if (!found) return;
    self->dialog_ = found;
    self->action_(found);
    PostMessageW(found, WM_COMMAND, self->closeCommand_, 0);
  }

  static inline NextDialog* current_ = nullptr;
  std::function<void(HWND)> action_;
  WPARAM closeCommand_;
  UINT_PTR timer_ = 0;
  HWND dialog_ = nullptr;
  int ticksSinceClose = 0;
};

// The texts of a window's descendants.
std::vector<std::wstring> ChildTexts(HWND window) {
  std::vector<std::wstring> texts;
  EnumChildWindows(
      window,
      [](HWND h, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<std::wstring>*>(p)->push_back(qortest::WindowText(h));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

}  // namespace

class MainForm : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    InitializeShellBaseExtension();
    InitializeQorLang();
    InitializeQuorvexSetupLang();
    InitializeJvqorSelfInfo();
    InitializeQuorvexSetupUtils();
  }
  static void TearDownTestSuite() {
    FinalizeQuorvexSetupUtils();
    FinalizeJvqorSelfInfo();
    FinalizeQuorvexSetupLang();
    FinalizeQorLang();
    FinalizeShellBaseExtension();
  }
  void SetUp() override {
    SetLanguage(1033);
    DeleteFileW(L"C:\\wincmd.ini");
  }
  // A Total Commander folder whose own wincmd.ini is the one in use, with three packer plugins.
  void InstallTotalCommander() {
    tc = temp / L"TC";
    WriteFileBytes(tc + L"\\wincmd.ini",
                   "[Configuration]\r\nUseIniInProgramDir=4\r\n[PackerPlugins]\r\nzip=" + Narrow(tc) +
                       "\\Plugins\\zip.wcx\r\nrar=287," + Narrow(tc) + "\\Plugins\\rar.wcx\r\nsz=" + Narrow(tc) +
                       "\\Plugins\\7z.wcx\r\n");
    ForceDirectories(tc + L"\\Plugins");
    CopyFileW((BinDir() + L"sibling_real.wcx64").c_str(), (tc + L"\\Plugins\\7z.wcx64").c_str(), FALSE);
    registry.SetString(HKEY_CURRENT_USER, L"InstallDir", tc);
  }
  TempFolder temp;
  TotalCommanderRegistry registry;
  std::wstring tc;
};

TEST_F(MainForm, WithoutTotalCommanderEverythingIsEmptyAndButtonsReadInstall) {
  auto form = CreateForm<TForm16>();
  EXPECT_EQ(qortest::WindowText(form->Handle()), L"Quorvex setup");
  EXPECT_EQ(qortest::WindowText(form->IniFileEdit), L"");
  EXPECT_EQ(qortest::WindowText(form->DirEdit), L"");
  EXPECT_EQ(ListView_GetItemCount(form->PluginListView), 0);
  EXPECT_EQ(qortest::WindowText(form->SetupAllUsesButton), L"Install for all users");
  EXPECT_EQ(qortest::WindowText(form->SetupCurrentUserButton), L"Install for current user only");
  EXPECT_EQ(qortest::WindowText(form->ProductNameLabel), L"Quorvex setup");
  EXPECT_EQ(qortest::WindowText(form->VersionLabel), VersionLabelText());
}

TEST_F(MainForm, ShowsTheFoundInstallationAndCaptionsFollowTheTicks) {
  InstallTotalCommander();
  auto form = CreateForm<TForm16>();
  EXPECT_EQ(qortest::WindowText(form->IniFileEdit), tc + L"\\wincmd.ini");
  EXPECT_EQ(qortest::WindowText(form->DirEdit), tc + L"\\Plugins\\Quorvex");
  EXPECT_EQ(form->IniFileDialogFolder(), tc);
  HWND lv = form->PluginListView;
  ASSERT_EQ(ListView_GetItemCount(lv), 2) << "7z.wcx has a real 64-bit build beside it";
  PluginList& list = form->Plugins();
  EXPECT_EQ(list.Caption(0), L"rar.wcx");
  EXPECT_EQ(list.Caption(1), L"zip.wcx");
  EXPECT_EQ(list.Folder(0), tc + L"\\Plugins");
  EXPECT_TRUE(list.Checked(0) && list.Checked(1));

  ListView_SetCheckState(lv, 0, FALSE);
  EXPECT_EQ(qortest::WindowText(form->SetupAllUsesButton), L"Install for all users");
  ListView_SetCheckState(lv, 1, FALSE);
  EXPECT_EQ(qortest::WindowText(form->SetupAllUsesButton), L"Uninstall for all users");
  EXPECT_EQ(qortest::WindowText(form->SetupCurrentUserButton), L"Uninstall for current user only");
  ListView_SetCheckState(lv, 1, TRUE);
  EXPECT_EQ(qortest::WindowText(form->SetupAllUsesButton), L"Install for all users");
  EXPECT_EQ(qortest::WindowText(form->SetupCurrentUserButton), L"Install for current user only");
  // A click runs the procedure, which ends with a message box (here: the test program carries no
  // payload); the plugin list is not rebuilt afterwards.
  {
    NextDialog outcome([](HWND) {}, IDOK);
    form->SetupAllUsesButton.Click();
    EXPECT_TRUE(outcome.Found()) << "the procedure showed no outcome";
  }
  EXPECT_EQ(ListView_GetItemCount(lv), 2);
  EXPECT_FALSE(form->Plugins().Checked(0)) << "the list was rebuilt after the run";
}

TEST_F(MainForm, LayoutFollowsTheDialogUnits) {
  InstallTotalCommander();
  auto form = CreateForm<TForm16>();
  TqorUI ui;
  const int cx = ui.DialogUnit().cx, cy = ui.DialogUnit().cy, M = ui.DialogMargin().cx;
  EXPECT_EQ(form->IniFileEdit.Width(), 110 * cx);
  EXPECT_EQ(form->DirEdit.Width(), 110 * cx);
  EXPECT_EQ(form->PluginListView.ClientHeight(), 15 * cy);
  EXPECT_EQ(form->PluginListView.ColumnWidth(0), 30 * cx);
  EXPECT_EQ(form->IniFileEdit.Left(), M);
  EXPECT_EQ(form->ClientWidth(), M + 110 * cx + M);
  EXPECT_EQ(form->ClientHeight(), form->SetupAllUsesButton.Bottom() + M);
  EXPECT_EQ(form->SetupCurrentUserButton.Right(), form->IniFileEdit.Right()) << "buttons span the edits";
  const int labelCentre = form->ProductNameLabel.Left() + form->ProductNameLabel.Width() / 2;
  EXPECT_NEAR(labelCentre, form->ClientWidth() / 2, 1)
      << "left " << form->ProductNameLabel.Left() << " width " << form->ProductNameLabel.Width();
  // A second pass gives the same layout and keeps the window where it is.
  Bounds before = form->GetBounds();
  SendMessageW(form->Handle(), CM_SYSFONTCHANGED, 0, 0);
  Bounds after = form->GetBounds();
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(after.width, before.width);
  EXPECT_EQ(form->PluginListView.ClientHeight(), 15 * cy);
}

TEST_F(MainForm, BorderCannotBeDragged) {
  auto form = CreateForm<TForm16>();
  form->Show();
  RECT r;
  GetWindowRect(form->Handle(), &r);
  const POINT points[] = {{r.right - 1, (r.top + r.bottom) / 2},
                          {r.left, (r.top + r.bottom) / 2},
                          {(r.left + r.right) / 2, r.bottom - 1},
                          {r.right - 1, r.bottom - 1}};
  for (POINT p : points) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    LRESULT hit = SendMessageW(form->Handle(), WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
    EXPECT_EQ(hit, HTBORDER);
  }
  LRESULT caption = SendMessageW(form->Handle(), WM_NCHITTEST, 0,
                                 MAKELPARAM((r.left + r.right) / 2, r.top + GetSystemMetrics(SM_CYFRAME) + 4));
  EXPECT_EQ(caption, HTCAPTION);
  EXPECT_FALSE(GetWindowLongW(form->Handle(), GWL_STYLE) & WS_MAXIMIZEBOX);
}

TEST_F(MainForm, FolderBrowserStartsAtTheDeepestExistingFolder) {
  ForceDirectories(temp / L"X");
  struct {
    std::wstring typed, start;
  } cases[] = {{temp / L"X\\Y\\Z", temp / L"X"},
               {temp / L"X", temp / L"X"},
               {L"Q:\\No\\Such\\Folder", L"Q:\\"},
               {L"", L""},
               {L"abc", L"abc"},
               {L"nothing\\here\\at\\all", L""}};  // a relative name walks up to nothing
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.typed));
    EXPECT_EQ(DirEditBeforeDialog(c.typed), c.start);
  }
}

TEST_F(MainForm, FolderBrowserShowsTheSetupPathLabelAsItsTitle) {
  auto form = CreateForm<TForm16>();
  form->Show();
  const std::wstring title = form->DirLabel.Text();
  ASSERT_GT(title.size(), 8u) << "a title too short lives inside the string object itself";
  std::vector<std::wstring> texts;
  {
    NextDialog browser([&](HWND dialog) { texts = ChildTexts(dialog); }, IDCANCEL);
    form->DirEdit.Browse();
    ASSERT_TRUE(browser.Found()) << "the folder browser did not open";
  }
  EXPECT_NE(std::find(texts.begin(), texts.end(), title), texts.end())
      << "title " << testing::PrintToString(title) << " not among " << testing::PrintToString(texts);
  EXPECT_EQ(qortest::WindowText(form->DirEdit), L"") << "a cancelled browser changes nothing";
}

TEST(FolderBrowserParams, OwnsEveryTextTheStructurePointsAt) {
  auto make = [] { return std::wstring(L"A title long enough to live on the heap"); };
  FolderBrowserParams params(nullptr, make(), make() + L" start");
  BROWSEINFOW* info = params.Info();
  ASSERT_NE(info->lpszTitle, nullptr);
  EXPECT_EQ(info->lpszTitle, params.Title().c_str());
  EXPECT_STREQ(info->lpszTitle, L"A title long enough to live on the heap");
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(info->lParam), L"A title long enough to live on the heap start");
  EXPECT_NE(info->pszDisplayName, nullptr);
  EXPECT_EQ(info->ulFlags & BIF_RETURNONLYFSDIRS, static_cast<UINT>(BIF_RETURNONLYFSDIRS));
  FolderBrowserParams noStart(nullptr, L"t", L"");
  EXPECT_EQ(noStart.Info()->lParam, 0) << "no start folder: the browser's own default";
}

TEST_F(MainForm, ChoosingTheSameWincmdIniAgainKeepsTheTicks) {
  InstallTotalCommander();
  auto form = CreateForm<TForm16>();
  form->Show();
  const std::wstring ini = qortest::WindowText(form->IniFileEdit);
  HWND lv = form->PluginListView;
  ASSERT_EQ(ListView_GetItemCount(lv), 2);
  ListView_SetCheckState(lv, 0, FALSE);
  {
    // The file dialog starts on the current file; OK picks it again.
    NextDialog fileDialog([](HWND) {}, IDOK);
    form->IniFileEdit.Browse();
    ASSERT_TRUE(fileDialog.Found()) << "the file dialog did not open";
  }
  EXPECT_EQ(qortest::WindowText(form->IniFileEdit), ini);
  ASSERT_EQ(ListView_GetItemCount(lv), 2);
  EXPECT_FALSE(form->Plugins().Checked(0)) << "the same file was scanned again and the untick was lost";
  EXPECT_TRUE(form->Plugins().Checked(1));
  // Setting the same text again (any route) does not rescan either; a different file does.
  form->IniFileEdit.SetText(ini);
  EXPECT_FALSE(form->Plugins().Checked(0));
  WriteFileBytes(temp / L"other.ini", "[PackerPlugins]\r\na=C:\\P\\a.wcx\r\n");
  form->IniFileEdit.SetText(temp / L"other.ini");
  ASSERT_EQ(ListView_GetItemCount(lv), 1);
  EXPECT_EQ(form->Plugins().Caption(0), L"a.wcx");
  EXPECT_TRUE(form->Plugins().Checked(0));
}

TEST(NoticeLine, SingleYearThenRange) {
  EXPECT_EQ(NoticeLine(2014, L"Maker"), L"\u00A9 2014 Maker");
  EXPECT_EQ(NoticeLine(2015, L"Maker"), L"\u00A9 2014\u20132015 Maker");
  EXPECT_EQ(NoticeLine(2026, L"M"), L"\u00A9 2014\u20132026 M");
}

TEST_F(MainForm, Screenshots) {
  InstallTotalCommander();
  const struct {
    int language;
    const wchar_t* name;
    const wchar_t* allUsers;
  } languages[] = {{1033, L"en", L"Install for all users"},
                   {1049, L"ru", L"\u0418\u043d\u0441\u0442\u0430\u043b\u043b\u0438\u0440\u043e\u0432\u0430\u0442\u044c "
                                 L"\u0434\u043b\u044f \u0432\u0441\u0435\u0445 \u043f\u043e\u043b\u044c\u0437\u043e"
                                 L"\u0432\u0430\u0442\u0435\u043b\u0435\u0439"},
                   {1041, L"ja", nullptr}};
  for (const auto& l : languages) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(l.name)));
    SetLanguage(l.language);
    auto form = CreateForm<TForm16>();
    if (l.allUsers) {
      EXPECT_EQ(qortest::WindowText(form->SetupAllUsesButton), l.allUsers);
    }
    EXPECT_EQ(qortest::WindowText(form->SetupAllUsesButton), GetLangStr(L"InstallButtonAllUser"));
    form->Show();
    qortest::PumpMessages(300);
    std::wstring path = qortest::ScreenshotFolder() + L"\\main_window_" + l.name + L".bmp";
    EXPECT_GT(qortest::SaveWindowScreenshot(form->Handle(), path), 3) << "a real picture";
  }
  SetLanguage(1033);
}
