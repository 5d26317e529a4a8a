// Placeholder body until the close-processes dialog is built: showing it raises.
#include "QuorvexSetupCloseProcessFormUnit.h"

#include "Error.h"

namespace qor {
TCloseProcessForm::TCloseProcessForm() : TJvqorForm(FormParams{}) {}
int TCloseProcessForm::ShowModal(const ProcessList&, const std::wstring&) { throw Error(L"not built yet"); }
}  // namespace qor
