#include "QuorvexSetupCloseProcessFormUnit.h"

#include "FileSystem.h"
#include "qorLang.h"

namespace qor {

namespace {
FormParams CloseProcessFormParams() {
  FormParams params;
  params.className = L"TCloseProcessForm";
  params.style = kDialogFormStyle;
  params.exStyle = kDialogFormExStyle;
  params.owner = MainForm() ? MainForm()->Handle() : nullptr;
  params.caption = GetLangStr(L"CaptionWarning");
  return params;
}

// Places a label directly before its control in the z-order, so that accessibility tools name the
// control after the label.
void NameAfterLabel(HWND label, HWND control) noexcept {
  HWND before = ::GetWindow(control, GW_HWNDPREV);
  if (before != label)
    ::SetWindowPos(label, before ? before : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}
}  // namespace

TCloseProcessForm::TCloseProcessForm()
    : TJvqorForm(CloseProcessFormParams()),
      Image(*this),
      MessageLabel(*this),
      ProcessListBox(*this),
      CancelButton(*this),
      Timer1(*this, 1000) {
  MessageLabel.SetText(GetLangStr(L"CloseProcesses"));
  CancelButton.SetText(GetLangStr(L"ButtonCancel"));
  CancelButton.SetCancel(true);  // Esc; the close box gives Cancel as well
  CancelButton.SetModalResult(mrCancel);
  SetTabOrder({&ProcessListBox, &CancelButton});
  NameAfterLabel(MessageLabel, ProcessListBox);
  Timer1.OnTimer = [this] { Timer1Timer(); };
}

void TCloseProcessForm::AfterConstruction() {
  TJvqorForm::AfterConstruction();
  CenterWindow(Handle());
}

void TCloseProcessForm::ApplyUI(TqorUI& AUI) {
  TJvqorForm::ApplyUI(AUI);
  const SIZE margin = AUI.DialogMargin();
  const SIZE unit = AUI.DialogUnit();
  const SIZE unrelated = AUI.UnrelatedControlsSpacing();

  Image.SetIcon(::LoadIconW(nullptr, IDI_WARNING));
  Image.SetLeft(margin.cx);
  Image.SetTop(margin.cy);

  // The width is fixed first; the height then follows the text wrapped at that width.
  MessageLabel.SetAutoSize(false);
  MessageLabel.SetLeft(Image.Right() + unrelated.cx);
  MessageLabel.SetTop(margin.cy);
  MessageLabel.SetWidth(80 * unit.cx);
  MessageLabel.SetWordWrap(true);
  MessageLabel.SetAutoSize(true);

  ProcessListBox.SetLeft(MessageLabel.Left());
  ProcessListBox.SetTop(MessageLabel.Bottom() + AUI.LabelControlSpacing().cy);
  ProcessListBox.SetWidth(80 * unit.cx);
  // The borders are measured from the window as it is, so it needs a real height first (the first pass
  // starts from an empty window, whose client area cannot tell them).
  ProcessListBox.SetHeight(5 * unit.cy + 2 * ::GetSystemMetrics(SM_CYEDGE) + 2);
  ProcessListBox.SetClientHeight(5 * unit.cy);

  AUI.SetButtonSize(CancelButton);
  CancelButton.SetLeft(ProcessListBox.Right() - CancelButton.Width());
  CancelButton.SetTop(ProcessListBox.Bottom() + unrelated.cy);

  SetClientSize(CancelButton.Right() + margin.cx, CancelButton.Bottom() + margin.cy);
}

int TCloseProcessForm::ShowModal(const ProcessList& AProcessList, const std::wstring& ADllName) {
  FDllName = ADllName;
  ProcessListBox.Clear();
  for (const ProcessEntry& entry : AProcessList) ProcessListBox.AddItem(entry.Text, static_cast<LPARAM>(entry.ProcessId));
  return Form::ShowModal();
}

void TCloseProcessForm::Timer1Timer() {
  // Only while shown: a tick before ShowModal or after it returned must not delete anything.
  if (!IsModal()) return;
  if (!FileExists(FDllName) || ::DeleteFileW(FDllName.c_str())) SetModalResult(mrOk);
}

}  // namespace qor
