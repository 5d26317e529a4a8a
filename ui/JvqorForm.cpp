#include "JvqorForm.h"

#include "LangWindows.h"

namespace qor {

TJvqorForm::TJvqorForm(const FormParams& params) : Form(params) {
  InitFont();
  JoinLangWindows(Handle());
}

// The window may be destroyed long before the object (by its owner, or DestroyWindow): it leaves the
// language windows with its handle while that is still known. The destructor covers a window that
// never got that far.
TJvqorForm::~TJvqorForm() {
  if (Handle()) LeaveLangWindows(Handle());
}

void TJvqorForm::OnDestroy() {
  LeaveLangWindows(Handle());
  Form::OnDestroy();
}

void TJvqorForm::AfterConstruction() { UpdateUI(); }

void TJvqorForm::InitFont() {
  // Our forms have no automatic scaling and no stored design font: the system message font is all.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return;
  if (HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont)) AdoptFont(FontHandle(font));
}

std::unique_ptr<TqorUI> TJvqorForm::CreateUI() { return std::make_unique<TqorUI>(); }

void TJvqorForm::ApplyUI(TqorUI& AUI) { SetFont(AUI.Font()); }

void TJvqorForm::UpdateUI() {
  std::unique_ptr<TqorUI> ui = CreateUI();
  if (ui) ApplyUI(*ui);
}

void TJvqorForm::OnUIChanged() {
  Form::OnUIChanged();
  UpdateUI();
}

void TJvqorForm::OnThemeChanged() {
  Form::OnThemeChanged();
  UpdateUI();
}

HWND CenterWindowReference() noexcept {
  Form* main = MainForm();
  if (!main) return nullptr;
  if (Form* active = ActiveForm()) return active->Handle();
  return main->Handle();
}

RECT CenterWindowMonitor() noexcept {
  HWND reference = CenterWindowReference();
  HMONITOR monitor = reference ? ::MonitorFromWindow(reference, MONITOR_DEFAULTTONEAREST)
                               : ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!::GetMonitorInfoW(monitor, &info)) {
    return RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  }
  return info.rcMonitor;
}

void CenterWindowOn(HWND Wnd, const RECT& monitor) noexcept {
  RECT r{};
  if (!::GetWindowRect(Wnd, &r)) return;
  int monitorWidth = monitor.right - monitor.left;
  int monitorHeight = monitor.bottom - monitor.top;
  int x = monitor.left + (monitorWidth - (r.right - r.left)) / 2;
  int y = monitor.top + (monitorHeight - (r.bottom - r.top)) / 2;
  ::SetWindowPos(Wnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CenterWindow(HWND Wnd) noexcept { CenterWindowOn(Wnd, CenterWindowMonitor()); }

}  // namespace qor
