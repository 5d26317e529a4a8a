#include "SetupModules.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "ModuleStartup.h"

namespace qortest {

void StartSetupModules() {
  OleInitialize(nullptr);
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  qor::InitializeSetupModules();
}

void StopSetupModules() {
  qor::FinalizeSetupModules();
  OleUninitialize();
}

}  // namespace qortest
