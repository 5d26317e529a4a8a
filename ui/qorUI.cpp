#include "qorUI.h"

#include <uxtheme.h>
#include <vssym32.h>

#include <cmath>
#include <string>

#include "Error.h"
#include "WindowGeometry.h"

namespace qor {

namespace {

constexpr UINT kNonClientMetricsSize = 504;  // NONCLIENTMETRICSW up to and including iPaddedBorderWidth
static_assert(sizeof(NONCLIENTMETRICSW) == kNonClientMetricsSize);

constexpr wchar_t kMeasureText[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool IsButtonClass(HWND window) noexcept {
  wchar_t name[16] = {};
  return window && ::GetClassNameW(window, name, 16) > 0 && ::lstrcmpiW(name, L"Button") == 0;
}

LONG_PTR ButtonType(HWND button) noexcept {
  return ::GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK;
}

// A button control in the toolkit's sense: push buttons, check boxes and radio buttons; a group box
// shares the window class but is not one.
bool IsButtonControl(HWND window) noexcept {
  return IsButtonClass(window) && ButtonType(window) != BS_GROUPBOX;
}

bool IsPushButton(HWND button) noexcept {
  switch (ButtonType(button)) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
    case BS_SPLITBUTTON:
    case BS_DEFSPLITBUTTON:
    case BS_COMMANDLINK:
    case BS_DEFCOMMANDLINK:
      return true;
    default:
      return false;
  }
}

bool IsDefaultButton(HWND button) noexcept {
  LONG_PTR type = ButtonType(button);
  return type == BS_DEFPUSHBUTTON || type == BS_DEFSPLITBUTTON || type == BS_DEFCOMMANDLINK;
}

struct ThemeHandle {
  explicit ThemeHandle(const wchar_t* classList) noexcept : h(::OpenThemeData(nullptr, classList)) {}
  ~ThemeHandle() {
    if (h) ::CloseThemeData(h);
  }
  ThemeHandle(const ThemeHandle&) = delete;
  ThemeHandle& operator=(const ThemeHandle&) = delete;
  HTHEME h;
};

}  // namespace

bool UsesVisualStyles() noexcept {
  if (!::IsAppThemed() || !::IsThemeActive()) return false;
  // With the common controls version 6 in the activation context the "Button" class is redirected to
  // them; without it the old, unstyled controls are drawn however the theme is set.
  ACTCTX_SECTION_KEYED_DATA data{};
  data.cbSize = sizeof(data);
  return ::FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_WINDOW_CLASS_REDIRECTION,
                                    L"Button", &data) != FALSE;
}

int RoundHalfEven(double value) noexcept {
  return static_cast<int>(std::nearbyint(value));
}

TqorUI::TqorUI() {
  FSurface = ::CreateCompatibleDC(nullptr);
  FBitmap.reset(::CreateCompatibleBitmap(FSurface, 10, 10));
  if (FSurface && FBitmap) FSurfaceBitmap = ::SelectObject(FSurface, FBitmap.get());
  if (FSurface) FSurfaceFont = ::GetCurrentObject(FSurface, OBJ_FONT);
  FFont.reset(CreateSysFont());
  FontChanged();
}

TqorUI::~TqorUI() {
  if (FSurface) {
    // Nothing of ours may stay selected: a selected object cannot be deleted.
    if (FSurfaceFont) ::SelectObject(FSurface, FSurfaceFont);
    if (FSurfaceBitmap) ::SelectObject(FSurface, FSurfaceBitmap);
  }
  FFont.reset();
  if (FSurface) ::DeleteDC(FSurface);
  FBitmap.reset();
}

HFONT TqorUI::CreateSysFont() noexcept {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = kNonClientMetricsSize;
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kNonClientMetricsSize, &metrics, 0)) return nullptr;
  return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

HFONT TqorUI::CreateMonoFont() noexcept {
  HFONT stock = static_cast<HFONT>(::GetStockObject(ANSI_FIXED_FONT));
  LOGFONTW lf{};
  if (::GetObjectW(stock, sizeof(lf), &lf) != sizeof(lf)) return stock;
  if (lf.lfHeight > 0) lf.lfHeight = -lf.lfHeight;
  ScopedGetDC screen(nullptr);
  if (!screen) return stock;
  lf.lfHeight = RoundHalfEven(::GetDeviceCaps(screen, LOGPIXELSY) * lf.lfHeight / 96.0);
  lf.lfWidth = 0;
  HFONT font = ::CreateFontIndirectW(&lf);
  return font ? font : stock;
}

HFONT TqorUI::Font() const noexcept {
  return FFont ? static_cast<HFONT>(FFont.get()) : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

void TqorUI::SetFont(HFONT value) {
  if (!value || value == FFont.get()) return;
  LOGFONTW lf{};
  if (::GetObjectType(value) != OBJ_FONT || ::GetObjectW(value, sizeof(lf), &lf) != sizeof(lf)) return;
  HFONT copy = ::CreateFontIndirectW(&lf);
  if (!copy) RaiseLastOSError();
  // The surface must let go of the old font before it is deleted.
  if (FSurface && FSurfaceFont) ::SelectObject(FSurface, FSurfaceFont);
  FFont.reset(copy);
  FontChanged();
}

void TqorUI::FontChanged() noexcept {
  if (!FSurface) return;
  ::SelectObject(FSurface, Font());
  // The extent goes straight into the units; a failing call leaves them as they were.
  ::GetTextExtentPointW(FSurface, kMeasureText, 52, &FDialogUnit);
  FDialogUnit.cx = FDialogUnit.cx / 52;
}

SIZE TqorUI::DialogMargin() const noexcept {
  int v = ::MulDiv(7, FDialogUnit.cx, 4);
  return {v, v};
}

int TqorUI::GroupBoxTopMargin() const noexcept { return ::MulDiv(11, FDialogUnit.cy, 8); }
int TqorUI::GroupBoxLeftMargin() const noexcept { return ::MulDiv(6, FDialogUnit.cx, 4); }
int TqorUI::GroupBoxBottomMargin() const noexcept { return ::MulDiv(7, FDialogUnit.cy, 8); }

SIZE TqorUI::LabelControlSpacing() const noexcept {
  int v = ::MulDiv(3, FDialogUnit.cx, 4);
  return {v, v};
}

SIZE TqorUI::RelatedControlsSpacing() const noexcept {
  int v = ::MulDiv(4, FDialogUnit.cx, 4);
  return {v, v};
}

SIZE TqorUI::UnrelatedControlsSpacing() const noexcept {
  int v = ::MulDiv(7, FDialogUnit.cx, 4);
  return {v, v};
}

SIZE TqorUI::ButtonsSpacing() const noexcept {
  int v = ::MulDiv(4, FDialogUnit.cx, 4);
  return {v, v};
}

SIZE TqorUI::ProgressBarSize() const noexcept {
  return {::MulDiv(8, FDialogUnit.cx, 4), ::MulDiv(8, FDialogUnit.cy, 8)};
}

int TqorUI::VirtualTreeLineHeight(int AIconHeight) const noexcept {
  int byFont = RoundHalfEven(FDialogUnit.cy * 1.125);
  int byIcon = AIconHeight + 4;
  return byFont > byIcon ? byFont : byIcon;
}

int TqorUI::VirtualTreeHeaderHeight(int AIconHeight) const noexcept {
  int byFont = RoundHalfEven(FDialogUnit.cy * 1.5);
  int byIcon = AIconHeight + 7;
  return byFont > byIcon ? byFont : byIcon;
}

void TqorUI::SpacingSetLabelControlTopOffset(HWND ALabel, HWND AControl) const noexcept {
  SetWindowTop(ALabel, WindowBounds(AControl).top + 3 * FDialogUnit.cx);
}

void TqorUI::SetButtonSize(HWND AButton) {
  if (!FSurface) return;
  ::SelectObject(FSurface, Font());
  FontHandle themeFont;  // the caption font of the visual style
  if (UsesVisualStyles()) {
    if (!IsPushButton(AButton)) throw Error(L"Unknow control");
    int state = IsDefaultButton(AButton) ? PBS_DEFAULTED : PBS_NORMAL;
    ThemeHandle theme(L"BUTTON");
    LOGFONTW lf{};
    if (theme.h && SUCCEEDED(::GetThemeFont(theme.h, nullptr, BP_PUSHBUTTON, state, TMT_FONT, &lf)))
      themeFont.reset(::CreateFontIndirectW(&lf));
  }
  std::wstring caption = WindowText(AButton);
  SIZE extent{};
  {
    // Back to the measuring font at the end of the block, before the theme font is deleted.
    ScopedSelectObject measuring(FSurface, themeFont.get());
    ::GetTextExtentPoint32W(FSurface, caption.c_str(), static_cast<int>(caption.size()), &extent);
  }

  int width = extent.cx + 3 * FDialogUnit.cx;
  int minimum = ::MulDiv(50, FDialogUnit.cx, 4);
  Bounds b = WindowBounds(AButton);
  b.width = width > minimum ? width : minimum;
  b.height = ::MulDiv(14, FDialogUnit.cy, 8);
  SetWindowBounds(AButton, b);
}

void TqorUI::SetButtonSize2(HWND AButton1, HWND AButton2) {
  std::vector<HWND> list{AButton1, AButton2};
  SetButtonsSize(&list);
}

void TqorUI::SetButtonSize3(HWND AButton1, HWND AButton2, HWND AButton3) {
  std::vector<HWND> list{AButton1, AButton2, AButton3};
  SetButtonsSize(&list);
}

void TqorUI::SetButtonsSize(const std::vector<HWND>* AList) {
  if (!AList) return;
  int widest = 0;
  for (HWND item : *AList) {
    if (!IsButtonControl(item)) continue;
    SetButtonSize(item);
    int width = WindowBounds(item).width;
    if (width > widest) widest = width;
  }
  for (HWND item : *AList) {
    if (IsButtonControl(item) && WindowBounds(item).width < widest) SetWindowWidth(item, widest);
  }
}

void TqorUI::SetButtonsSize(const TqorButtonControlArray& AList) {
  int widest = 0;
  for (HWND item : AList) {
    SetButtonSize(item);
    int width = WindowBounds(item).width;
    if (width > widest) widest = width;
  }
  for (HWND item : AList) {
    if (WindowBounds(item).width < widest) SetWindowWidth(item, widest);
  }
}

void TqorUI::SetOkCanceButtonSizeAndPos(HWND AOkButton, HWND ACancelButton, HWND AForm) {
  SetButtonSize2(AOkButton, ACancelButton);
  SIZE margin = DialogMargin();
  Bounds ok = WindowBounds(AOkButton);
  Bounds cancel = WindowBounds(ACancelButton);
  ok.top = ClientHeight(AForm) - margin.cy - ok.height;
  cancel.top = ok.top;
  cancel.left = ClientWidth(AForm) - margin.cx - cancel.width;
  ok.left = cancel.left - ButtonsSpacing().cx - ok.width;
  SetWindowBounds(ACancelButton, cancel);
  SetWindowBounds(AOkButton, ok);
}

void TqorUI::SetProgressSize(HWND AProgress) const noexcept {
  int height = ProgressBarSize().cy;
  if (UsesVisualStyles() && FSurface) {
    ThemeHandle theme(L"PROGRESS");
    SIZE part{};
    if (theme.h && SUCCEEDED(::GetThemePartSize(theme.h, FSurface, PP_BAR, 0, nullptr, TS_TRUE, &part)) &&
        part.cy > height) {
      height = part.cy;
    }
  }
  SetWindowHeight(AProgress, height);
}

void TqorUI::SetComboBoxSize(HWND AComboBox, int AMaxLength) const noexcept {
  int characters = AMaxLength * FDialogUnit.cx;
  SetWindowWidth(AComboBox, RoundHalfEven(characters * 1.3) + 20);
}

void TqorUI::SetStatusBarSize(HWND AStatusBar) const noexcept {
  SetWindowHeight(AStatusBar, RoundHalfEven(FDialogUnit.cy * 1.2));
}

void TqorUI::SpacingSetTabBarSize(HWND ATabBar) const noexcept {
  SetWindowHeight(ATabBar, 2 * FDialogUnit.cy);
}

}  // namespace qor
