#include "QuorvexSetupMainFormUnit.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shellapi.h>

#include <vector>

#include "FileSystem.h"
#include "Format.h"
#include "Handles.h"
#include "JvqorSelfInfo.h"
#include "PathParts.h"
#include "PluginInventory.h"
#include "QuorvexSetupBuildInfo.h"
#include "QuorvexSetupUtils.h"
#include "SetupProcedure.h"
#include "TotalCommanderLocation.h"
#include "qorLang.h"

namespace qor {

namespace {
FormParams MainFormParams() {
  FormParams p;
  p.className = L"TForm16";
  p.style = kMainFormStyle;
  p.caption = L"Quorvex setup";
  p.clientWidth = 646;
  p.clientHeight = 597;
  return p;
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM start) noexcept {
  if (message == BFFM_INITIALIZED && start) ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, start);
  return 0;
}
}  // namespace

FolderBrowserParams::FolderBrowserParams(HWND owner, std::wstring title, std::wstring startFolder)
    : title_(std::move(title)), start_(std::move(startFolder)) {
  info_.hwndOwner = owner;
  info_.pszDisplayName = display_;
  info_.lpszTitle = title_.c_str();
  info_.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info_.lpfn = BrowseCallback;
  info_.lParam = start_.empty() ? 0 : reinterpret_cast<LPARAM>(start_.c_str());
}

namespace {
int CurrentYear() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return now.wYear;
}

// Places a label directly before its control in the z-order, so that accessibility tools name the
// control after the label.
void NameAfterLabel(HWND label, HWND control) {
  HWND before = ::GetWindow(control, GW_HWNDPREV);
  if (before != label) ::SetWindowPos(label, before ? before : HWND_TOP, 0, 0, 0, 0,
                                      SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}
}  // namespace

std::wstring DirEditBeforeDialog(const std::wstring& AName) {
  std::wstring name = AName;
  while (name.size() > 3 && !DirectoryExists(name)) {
    std::wstring parent = ExtractFileDir(name);
    if (parent == name) break;
    name = parent;
  }
  return name;
}

std::wstring NoticeLine(int year, const std::wstring& maker) {
  std::wstring years = year <= 2014 ? L"2014" : L"2014\u2013" + DecimalText(year);
  return L"\u00A9 " + years + L" " + maker;
}

TForm16::TForm16()
    : TJvqorForm(MainFormParams()),
      IniFileEdit(*this),
      IniFileLabel(*this),
      PluginListView(*this, LVS_SHOWSELALWAYS | LVS_SINGLESEL | LVS_NOSORTHEADER),
      ProductNameLabel(*this),
      VersionLabel(*this),
      BuildDateLabel(*this),
      PluginListLabel(*this),
      SetupAllUsesButton(*this),
      CopyRightLabel(*this),
      DirEdit(*this),
      DirLabel(*this),
      WebLabel(*this),
      SetupCurrentUserButton(*this),
      plugins_(PluginListView.Handle()) {
  IniFileEdit.SetReadOnly(true);
  PluginListView.AddColumn(L"", 100);
  PluginListView.AddColumn(L"", 100);
  SetTabOrder({&IniFileEdit, &PluginListView, &DirEdit, &SetupAllUsesButton, &SetupCurrentUserButton});
  NameAfterLabel(IniFileLabel, IniFileEdit);
  NameAfterLabel(PluginListLabel, PluginListView);
  NameAfterLabel(DirLabel, DirEdit);
  if (IsVistaOrLater()) SetupAllUsesButton.SetShield(true);
  WebLabel.SetCursor(::LoadCursorW(nullptr, IDC_HAND));
  WebLabel.SetBackgroundColor(::GetSysColor(COLOR_BTNFACE));

  IniFileEdit.OnChange = [this] { IniFileEditChange(); };
  IniFileEdit.OnBrowse = [this] { BrowseIniFile(); };
  DirEdit.OnBrowse = [this] { BrowseSetupFolder(); };
  PluginListView.OnItemChanged = [this](const NMLISTVIEW&) { PluginListViewChange(); };
  SetupAllUsesButton.OnClick = [this] { SetupAllUsesButtonClick(); };
  SetupCurrentUserButton.OnClick = [this] { SetupCurrentUserButtonClick(); };
  WebLabel.OnClick = [this] { WebLabelClick(); };

  SetCaption(L"Quorvex setup");
  ProductNameLabel.SetText(L"Quorvex setup");
  VersionLabel.SetText(VersionLabelText());
  BuildDateLabel.SetText(BuildTimeLabelText());
  WebLabel.SetText(kHomePage);
  CopyRightLabel.SetText(NoticeLine(CurrentYear(), kMakerName));
  IniFileLabel.SetText(GetLangStr(L"IniFilePosition"));
  PluginListLabel.SetText(GetLangStr(L"PluginList"));
  PluginListView.SetColumnCaption(0, GetLangStr(L"PluginListFileName"));
  PluginListView.SetColumnCaption(1, GetLangStr(L"PluginListFilePath"));
  DirLabel.SetText(GetLangStr(L"SetupPath"));
  SetupAllUsesButton.SetText(GetLangStr(L"InstallButtonAllUser"));
  SetupCurrentUserButton.SetText(GetLangStr(L"InstallButtonCurrentUser"));

  const std::wstring ini = FindWincmdIni();
  if (FileExists(ini)) {
    iniDialogFolder_ = ExtractFileDir(ini);
    IniFileEdit.SetText(ini);  // the change event fills the plugin list
  }
  const std::wstring setupFolder = DefaultSetupFolder(FindTotalCommanderDir());
  if (!setupFolder.empty()) DirEdit.SetText(setupFolder);
}

void TForm16::AfterConstruction() {
  TJvqorForm::AfterConstruction();
  CenterWindow(Handle());
}

void TForm16::ApplyUI(TqorUI& AUI) {
  TJvqorForm::ApplyUI(AUI);
  const int M = AUI.DialogMargin().cx;
  const int L = AUI.LabelControlSpacing().cx;
  const int U = AUI.UnrelatedControlsSpacing().cx;
  const int B = AUI.ButtonsSpacing().cx;
  const int cx = AUI.DialogUnit().cx;
  const int cy = AUI.DialogUnit().cy;

  LOGFONTW big = FontAttributes();  // the window's font, taken afresh on every pass
  big.lfHeight *= 2;
  ProductNameLabel.SetOwnFont(big);
  ProductNameLabel.SetTop(M);
  VersionLabel.SetTop(ProductNameLabel.Bottom() + L);
  BuildDateLabel.SetTop(VersionLabel.Bottom() + L);
  CopyRightLabel.SetTop(BuildDateLabel.Bottom() + L);
  LOGFONTW web = FontAttributes();
  WebLabel.SetOwnFont(web);
  WebLabel.SetTextColor(RGB(0, 0, 255));
  WebLabel.SetTop(CopyRightLabel.Bottom() + L);

  IniFileLabel.SetLeft(M);
  IniFileLabel.SetTop(WebLabel.Bottom() + 2 * U);
  IniFileEdit.SetLeft(M);
  IniFileEdit.SetTop(IniFileLabel.Bottom() + L);
  IniFileEdit.SetWidth(110 * cx);
  PluginListLabel.SetLeft(M);
  PluginListLabel.SetTop(IniFileEdit.Bottom() + U);
  PluginListView.SetLeft(M);
  PluginListView.SetTop(PluginListLabel.Bottom() + L);
  PluginListView.SetWidth(IniFileEdit.Width());
  PluginListView.SetClientHeight(15 * cy);
  // The borders a themed list view really draws may differ from its styles' borders: measure again.
  if (const int missing = 15 * cy - PluginListView.ClientHeight())
    PluginListView.SetHeight(PluginListView.Height() + missing);
  PluginListView.SetColumnWidth(0, 30 * cx);
  PluginListView.SetColumnWidth(
      1, PluginListView.ClientWidth() - PluginListView.ColumnWidth(0) - ::GetSystemMetrics(SM_CXVSCROLL));
  PluginListView.SetColumnWidth(1, LVSCW_AUTOSIZE_USEHEADER);
  DirLabel.SetLeft(M);
  DirLabel.SetTop(PluginListView.Bottom() + U);
  DirEdit.SetLeft(M);
  DirEdit.SetTop(DirLabel.Bottom() + L);
  DirEdit.SetWidth(IniFileEdit.Width());

  AUI.SetButtonSize2(SetupAllUsesButton, SetupCurrentUserButton);
  SetupAllUsesButton.SetLeft(M);
  SetupAllUsesButton.SetTop(DirEdit.Bottom() + U);
  SetupAllUsesButton.SetWidth((IniFileEdit.Width() - B) / 2);
  SetupCurrentUserButton.SetLeft(SetupAllUsesButton.Left() + SetupAllUsesButton.Width() + B);
  SetupCurrentUserButton.SetTop(SetupAllUsesButton.Top());
  SetupCurrentUserButton.SetWidth(IniFileEdit.Left() + IniFileEdit.Width() - SetupCurrentUserButton.Left());

  const int clientWidth = IniFileEdit.Left() + IniFileEdit.Width() + M;
  SetClientSize(clientWidth, SetupAllUsesButton.Bottom() + M);
  for (Label* label : {&ProductNameLabel, &VersionLabel, &BuildDateLabel, &CopyRightLabel, &WebLabel})
    label->SetLeft((clientWidth - label->Width()) / 2);
}

void TForm16::IniFileEditChange() {
  // The edit reports a change for every text set, also for the same text (the file dialog's choice of
  // the file already shown): only a new file is scanned, so the user's ticks stay.
  std::wstring ini = IniFileEdit.Text();
  if (ini == scannedIni_) return;
  scannedIni_ = std::move(ini);
  // The list is drawn once when it is full, not once per added plugin.
  ::SendMessageW(PluginListView, WM_SETREDRAW, FALSE, 0);
  PluginInventory(scannedIni_, plugins_);
  ::SendMessageW(PluginListView, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(PluginListView, nullptr, TRUE);
}

void TForm16::PluginListViewChange() {
  const bool install = AnyPluginTicked(plugins_);
  // Runs for every added item: a caption is only set (and the button redrawn) when it changes.
  auto setCaption = [](Button& button, const wchar_t* key) {
    std::wstring text = GetLangStr(key);
    if (button.Text() != text) button.SetText(text);
  };
  setCaption(SetupAllUsesButton, install ? L"InstallButtonAllUser" : L"UninstallButtonAllUser");
  setCaption(SetupCurrentUserButton, install ? L"InstallButtonCurrentUser" : L"UninstallButtonCurrentUser");
}

void TForm16::SetupAllUsesButtonClick() { RunSetup(*this, false); }
void TForm16::SetupCurrentUserButtonClick() { RunSetup(*this, true); }

void TForm16::WebLabelClick() {
  ::ShellExecuteW(Handle(), nullptr, WebLabel.Text().c_str(), nullptr, nullptr, SW_SHOW);
}

LRESULT TForm16::OnNcHitTest(LPARAM lParam) {
  LRESULT hit = TJvqorForm::OnNcHitTest(lParam);
  // The frame keeps its size: its edges and the size grip act as a plain border.
  if (hit == HTSIZE || (hit >= HTLEFT && hit <= HTBOTTOMRIGHT)) return HTBORDER;
  return hit;
}

void TForm16::BrowseIniFile() {
  std::vector<wchar_t> file(32768, L'\0');
  const std::wstring current = IniFileEdit.Text();
  if (current.size() < file.size()) std::copy(current.begin(), current.end(), file.begin());
  const std::wstring title = GetLangStr(L"OpenDialogCaption");
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = Handle();
  ofn.lpstrFilter = L"wincmd.ini\0wincmd.ini\0";
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = iniDialogFolder_.empty() ? nullptr : iniDialogFolder_.c_str();
  ofn.lpstrTitle = title.c_str();
  // The read-only check box stays (no OFN_HIDEREADONLY); hidden files are offered too.
  ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_DONTADDTORECENT | OFN_FORCESHOWHIDDEN | OFN_EXPLORER |
              OFN_ENABLESIZING;
  if (::GetOpenFileNameW(&ofn)) {
    iniDialogFolder_ = ExtractFileDir(file.data());
    IniFileEdit.SetText(file.data());
  }
}

void TForm16::BrowseSetupFolder() {
  FolderBrowserParams params(Handle(), DirLabel.Text(), DirEditBeforeDialog(DirEdit.Text()));
  TaskMem pidl(::SHBrowseForFolderW(params.Info()));
  if (!pidl) return;
  wchar_t path[MAX_PATH] = {};
  if (::SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(pidl.get()), path)) DirEdit.SetText(path);
}

}  // namespace qor
