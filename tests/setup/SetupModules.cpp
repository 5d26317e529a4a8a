#include "SetupModules.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "JvqorSelfInfo.h"
#include "QuorvexSetupLang.h"
#include "QuorvexSetupUtils.h"
#include "qorLang.h"
#include "LoggingClient.h"
#include "qorShellBaseExtension.h"

namespace qortest {

void StartSetupModules() {
  OleInitialize(nullptr);
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  qor::InitializeLoggingClient();
  qor::InitializeShellBaseExtension();
  qor::InitializeQorLang();
  qor::InitializeQuorvexSetupLang();
  qor::InitializeJvqorSelfInfo();
  qor::InitializeQuorvexSetupUtils();
}

void StopSetupModules() {
  qor::FinalizeQuorvexSetupUtils();
  qor::FinalizeJvqorSelfInfo();
  qor::FinalizeQuorvexSetupLang();
  qor::FinalizeQorLang();
  qor::FinalizeShellBaseExtension();
  qor::FinalizeLoggingClient();
  OleUninitialize();
}

}  // namespace qortest
