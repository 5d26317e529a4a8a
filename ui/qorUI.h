// Dialog metrics: margins, spacings and control sizes in pixels, converted from dialog units of the
// system message font (horizontal unit = average character width, vertical unit = line height).
// A layout pass creates one TqorUI, uses it and frees it; each new object reads the system message font
// afresh. The sizing operations work on any control window (HWND).
#pragma once
#include <windows.h>

#include <vector>

#include "Handles.h"

namespace qor {

using TqorButtonControlArray = std::vector<HWND>;

class TqorUI {
 public:
  TqorUI();
  virtual ~TqorUI();
  TqorUI(const TqorUI&) = delete;
  TqorUI& operator=(const TqorUI&) = delete;

  // The system message font; the caller owns the handle. Null when the system does not report its
  // non-client metrics.
  static HFONT CreateSysFont() noexcept;
  // A fixed-pitch font scaled to the screen's vertical resolution; the caller owns the handle. Falls
  // back to the stock ANSI_FIXED_FONT (deleting that is harmless) when it cannot be built.
  static HFONT CreateMonoFont() noexcept;

  // The font the units are measured from, owned by this object. When the system gave no message font
  // this is the stock DEFAULT_GUI_FONT.
  HFONT Font() const noexcept;
  // Copies the attributes of value into Font and measures the units again. Font itself, or a handle that
  // is not a font, changes nothing.
  void SetFont(HFONT value);

  SIZE DialogUnit() const noexcept { return FDialogUnit; }

  SIZE DialogMargin() const noexcept;
  int GroupBoxTopMargin() const noexcept;
  int GroupBoxLeftMargin() const noexcept;
  int GroupBoxBottomMargin() const noexcept;
  SIZE LabelControlSpacing() const noexcept;
  SIZE RelatedControlsSpacing() const noexcept;
  SIZE UnrelatedControlsSpacing() const noexcept;
  SIZE ButtonsSpacing() const noexcept;
  SIZE ProgressBarSize() const noexcept;
  int VirtualTreeLineHeight(int AIconHeight) const noexcept;
  int VirtualTreeHeaderHeight(int AIconHeight) const noexcept;

  void SpacingSetLabelControlTopOffset(HWND ALabel, HWND AControl) const noexcept;
  // Width from the caption (at least 50 dialog units), height 14 dialog units. Under visual styles only
  // push buttons can be measured: any other button control raises qor::Error("Unknow control").
  void SetButtonSize(HWND AButton);
  void SetButtonSize2(HWND AButton1, HWND AButton2);
  void SetButtonSize3(HWND AButton1, HWND AButton2, HWND AButton3);
  // Sizes every button control of the list and widens them all to the widest. A null list does
  // nothing; null items and windows that are not button controls are skipped.
  void SetButtonsSize(const std::vector<HWND>* AList);
  // The same over an array whose elements must all be button controls (they are not checked).
  void SetButtonsSize(const TqorButtonControlArray& AList);
  // Sizes both buttons and puts them in the bottom right corner of AForm's client area, OK on the left.
  void SetOkCanceButtonSizeAndPos(HWND AOkButton, HWND ACancelButton, HWND AForm);
  void SetProgressSize(HWND AProgress) const noexcept;
  void SetComboBoxSize(HWND AComboBox, int AMaxLength) const noexcept;
  void SetStatusBarSize(HWND AStatusBar) const noexcept;
  void SpacingSetTabBarSize(HWND ATabBar) const noexcept;

 private:
  void FontChanged() noexcept;
  HDC Surface() const noexcept { return FSurface; }

  GdiObject FBitmap;  // the 10 x 10 bitmap selected into the measuring surface
  HDC FSurface = nullptr;
  HGDIOBJ FSurfaceBitmap = nullptr;  // the surface's own bitmap, put back before the surface is deleted
  HGDIOBJ FSurfaceFont = nullptr;    // the surface's own font, likewise
  FontHandle FFont;
  SIZE FDialogUnit{};
};

// True when the application is drawn with the system's visual styles: the theme is active for the
// application and the activation context gives it the common controls version 6.
bool UsesVisualStyles() noexcept;

// Rounds half to even, as the processor does by default: 22.5 gives 22, 16.875 gives 17, 23.5 gives 24.
int RoundHalfEven(double value) noexcept;

}  // namespace qor
