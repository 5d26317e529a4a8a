// The program entry: module start-ups in their order, the main window, the message loop, and the
// shut-downs in reverse order.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdlib>

#include "Error.h"
#include "Handles.h"
#include "ProcessPolicy.h"
#include "QuorvexSetupMainFormUnit.h"
#include "ModuleStartup.h"
#include "qorDPIAware.h"

// The runtime's default terminate handler prints the escaping exception's type through the demangler:
// 45 KB of the program for a text that a windowed program has nowhere to show. This one ends the
// process the same way (abort) without it. RunReportingErrors below leaves nothing to escape anyway.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The setup is typically run from a Downloads folder: libraries loaded by bare name must come from
  // System32, never from beside the program.
  qor::RestrictDllSearchToSystem32();
  const HRESULT com = ::OleInitialize(nullptr);  // the file and folder dialogs need it
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);

  qor::InitializeDPIAware();
  qor::InitializeSetupModules();

  // Whatever the window raises, of any type, is shown here; the shut-downs below run on every path.
  const int exitCode = qor::RunReportingErrors(
      [] {
        auto form = qor::CreateForm<qor::TForm16>();
        qor::SetMainForm(form.get());
        qor::ScopeGuard noMainForm([] { qor::SetMainForm(nullptr); });
        form->Show();
        return qor::RunMessageLoop();
      },
      [](const std::wstring& text) {
        ::MessageBoxW(nullptr, text.c_str(), L"Quorvex setup", MB_OK | MB_ICONERROR);
      });

  qor::FinalizeSetupModules();
  qor::FinalizeDPIAware();
  if (SUCCEEDED(com)) ::OleUninitialize();
  return exitCode;
}
