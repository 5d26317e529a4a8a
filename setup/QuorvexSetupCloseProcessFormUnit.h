// The modal dialog that lists the programs holding a file, asks the user to end them and meanwhile
// tries once a second to delete the file itself.
#pragma once
#include <string>

#include "JvqorForm.h"
#include "RunningProcesses.h"

namespace qor {

class TCloseProcessForm : public TJvqorForm {
 public:
  TCloseProcessForm();
  // Lists AProcessList, shows the dialog modally and returns 1 (OK) once ADllName is gone, or 2 (Cancel)
  // for the Cancel button, the Esc key and the close box.
  int ShowModal(const ProcessList& AProcessList, const std::wstring& ADllName);
};

}  // namespace qor
