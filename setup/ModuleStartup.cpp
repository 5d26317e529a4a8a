#include "ModuleStartup.h"

#include "JvqorSelfInfo.h"
#include "LoggingClient.h"
#include "QuorvexSetupLang.h"
#include "QuorvexSetupUtils.h"
#include "qorLang.h"
#include "qorShellBaseExtension.h"

namespace qor {

void InitializeSetupModules() {
  InitializeLoggingClient();
  InitializeShellBaseExtension();
  InitializeQorLang();
  InitializeQuorvexSetupLang();
  InitializeJvqorSelfInfo();
  InitializeQuorvexSetupUtils();
}

void FinalizeSetupModules() {
  FinalizeQuorvexSetupUtils();
  FinalizeJvqorSelfInfo();
  FinalizeQuorvexSetupLang();
  FinalizeQorLang();
  FinalizeShellBaseExtension();
  FinalizeLoggingClient();
}

}  // namespace qor
