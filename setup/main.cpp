// The program entry: module start-ups in their order, the main window, the message loop, and the
// shut-downs in reverse order.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "Error.h"
#include "JvqorSelfInfo.h"
#include "Paths.h"
#include "QuorvexSetupLang.h"
#include "QuorvexSetupMainFormUnit.h"
#include "QuorvexSetupUtils.h"
#include "qorDPIAware.h"
#include "qorLang.h"
#include "qorShellBaseExtension.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The setup is typically run from a Downloads folder: libraries loaded by bare name must come from
  // System32, never from beside the program.
  qor::RestrictDllSearchToSystem32();
  const HRESULT com = ::OleInitialize(nullptr);  // the file and folder dialogs need it
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);

  qor::InitializeDPIAware();
  qor::InitializeShellBaseExtension();
  qor::InitializeQorLang();
  qor::InitializeQuorvexSetupLang();
  qor::InitializeJvqorSelfInfo();
  qor::InitializeQuorvexSetupUtils();

  int exitCode = 0;
  try {
    auto form = qor::CreateForm<qor::TForm16>();
    qor::SetMainForm(form.get());
    form->Show();
    exitCode = qor::RunMessageLoop();
    qor::SetMainForm(nullptr);
  } catch (const qor::Error& e) {
    ::MessageBoxW(nullptr, e.message().c_str(), L"Quorvex setup", MB_OK | MB_ICONERROR);
    exitCode = 1;
  }

  qor::FinalizeQuorvexSetupUtils();
  qor::FinalizeJvqorSelfInfo();
  qor::FinalizeQuorvexSetupLang();
  qor::FinalizeQorLang();
  qor::FinalizeShellBaseExtension();
  qor::FinalizeDPIAware();
  if (SUCCEEDED(com)) ::OleUninitialize();
  return exitCode;
}
