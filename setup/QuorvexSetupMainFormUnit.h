// The setup's main window: what the setup is, where wincmd.ini is, which packer plugins it serves,
// where the host server goes, and the two setup buttons.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "Controls.h"
#include "JvqorForm.h"
#include "ListViewPluginList.h"

namespace qor {

class TForm16 : public TJvqorForm {
 public:
  TForm16();
  void AfterConstruction() override;
  void ApplyUI(TqorUI& AUI) override;

  // Controls, in declaration order.
  BrowseEdit IniFileEdit;
  Label IniFileLabel;
  ListView PluginListView;
  Label ProductNameLabel;
  Label VersionLabel;
  Label BuildDateLabel;
  Label PluginListLabel;
  Button SetupAllUsesButton;
  Label CopyRightLabel;
  BrowseEdit DirEdit;
  Label DirLabel;
  Label WebLabel;
  Button SetupCurrentUserButton;

  // The plugin list as the inventory and the procedure see it.
  PluginList& Plugins() { return plugins_; }
  // Where the wincmd.ini file dialog starts.
  const std::wstring& IniFileDialogFolder() const { return iniDialogFolder_; }

  void IniFileEditChange();
  void PluginListViewChange();
  void SetupAllUsesButtonClick();
  void SetupCurrentUserButtonClick();
  void WebLabelClick();

 protected:
  LRESULT OnNcHitTest(LPARAM lParam) override;

 private:
  void BrowseIniFile();
  void BrowseSetupFolder();
  ListViewPluginList plugins_;
  std::wstring iniDialogFolder_;
  std::wstring scannedIni_;  // the wincmd.ini the plugin list was built from
};

// The folder browser's parameters. SHBrowseForFolderW reads the texts while the dialog is open, so the
// object owns every text the structure points at; it cannot be copied or moved (the structure points
// into it).
class FolderBrowserParams {
 public:
  // An empty startFolder starts the browser at its own default.
  FolderBrowserParams(HWND owner, std::wstring title, std::wstring startFolder);
  FolderBrowserParams(const FolderBrowserParams&) = delete;
  FolderBrowserParams& operator=(const FolderBrowserParams&) = delete;
  BROWSEINFOW* Info() noexcept { return &info_; }
  const std::wstring& Title() const noexcept { return title_; }
  const std::wstring& StartFolder() const noexcept { return start_; }

 private:
  std::wstring title_;
  std::wstring start_;
  wchar_t display_[MAX_PATH] = {};
  BROWSEINFOW info_ = {};
};

// The folder the folder browser starts at for the typed text: the text itself when it is an existing
// folder, else its deepest existing parent (walking up while longer than 3 characters).
std::wstring DirEditBeforeDialog(const std::wstring& AName);
// The maker's notice line: "© 2014 <maker>" in 2014, "© 2014–<year> <maker>" later.
std::wstring NoticeLine(int year, const std::wstring& maker);

}  // namespace qor
