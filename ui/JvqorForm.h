// The base form of the setup's windows. It gives every window the system message font and a layout
// pass in code: ApplyUI runs with fresh dialog metrics once the window has been built and again when the
// system fonts, the visual theme or the catalogue language change (CM_SYSFONTCHANGED, WM_THEMECHANGED).
//
// Construction order of a derived form (use CreateForm, which runs AfterConstruction):
//   window created -> InitFont -> joins the language windows -> derived constructor body (controls,
//   texts) -> AfterConstruction: UpdateUI -> the derived AfterConstruction (typically CenterWindow).
// InitFont runs inside this class's constructor, so an override in a derived class is not called then.
#pragma once
#include <windows.h>

#include <memory>
#include <utility>

#include "Window.h"
#include "qorUI.h"

namespace qor {

class TJvqorForm : public Form {
 public:
  explicit TJvqorForm(const FormParams& params);
  ~TJvqorForm() override;

  // Runs once after the complete constructor chain; the base lays the form out. An override calls the
  // base first.
  virtual void AfterConstruction();
  // Gives the form the system message font; keeps its font when the system gives none.
  virtual void InitFont();
  // The metrics object of one layout pass.
  virtual std::unique_ptr<TqorUI> CreateUI();
  // The layout hook. The base gives the form a copy of AUI's font; an override calls it first and then
  // places its controls and sets the client size. AUI is valid only during the call.
  virtual void ApplyUI(TqorUI& AUI);
  // One layout pass: CreateUI, ApplyUI, and the metrics freed on every path.
  void UpdateUI();

 protected:
  void OnUIChanged() override;
  void OnThemeChanged() override;
  void OnDestroy() override;
};

// Constructs a form and runs its AfterConstruction.
template <typename T, typename... Args>
std::unique_ptr<T> CreateForm(Args&&... args) {
  auto form = std::make_unique<T>(std::forward<Args>(args)...);
  form->AfterConstruction();
  return form;
}

// Moves the window (size, z-order and activation unchanged) to the centre of a monitor: the active
// form's monitor, else the main form's, and the primary monitor while there is no main form.
void CenterWindow(HWND Wnd) noexcept;
// The same on the given monitor rectangle (the full monitor, not its work area): left + (width - window
// width) / 2, likewise top, both divisions truncating toward zero.
void CenterWindowOn(HWND Wnd, const RECT& monitor) noexcept;
// The window whose monitor CenterWindow uses; null for the primary monitor.
HWND CenterWindowReference() noexcept;
// The full rectangle of the monitor CenterWindow uses.
RECT CenterWindowMonitor() noexcept;

}  // namespace qor
