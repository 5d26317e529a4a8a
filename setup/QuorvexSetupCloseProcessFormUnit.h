// The modal dialog that lists the programs holding a file, asks the user to end them and meanwhile
// tries once a second to delete the file itself.
#pragma once
#include <string>

#include "Controls.h"
#include "JvqorForm.h"
#include "RunningProcesses.h"

namespace qor {

class TCloseProcessForm : public TJvqorForm {
 public:
  // Owned by the main form when there is one; texts from the catalogue as it is now.
  TCloseProcessForm();
  // Lays the dialog out, then centres it.
  void AfterConstruction() override;
  // Warning icon, message, process list and Cancel from the dialog metrics; keeps the top-left corner.
  void ApplyUI(TqorUI& AUI) override;
  // Lists AProcessList, shows the dialog modally and returns 1 (OK) once ADllName is gone, or 2 (Cancel)
  // for the Cancel button, the Esc key and the close box.
  int ShowModal(const ProcessList& AProcessList, const std::wstring& ADllName);
  // One tick of Timer1: ends the modal dialog with OK when FDllName is absent or can be deleted now.
  void Timer1Timer();

  const std::wstring& DllName() const noexcept { return FDllName; }

  // Controls, in creation order.
  qor::Image Image;
  Label MessageLabel;
  ListBox ProcessListBox;
  Button CancelButton;
  Timer Timer1;

 private:
  std::wstring FDllName;
};

}  // namespace qor
