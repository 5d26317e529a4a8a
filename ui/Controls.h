// Child controls created in code, each a member of its form: labels, edits (with an optional browse
// button), push buttons, a report list view, a list box, an icon image, and window timers.
//
// A control registers with its form when it is created and leaves (destroying its window) when the
// object dies; the form routes WM_COMMAND, WM_NOTIFY, WM_CTLCOLOR*, WM_SETCURSOR and WM_TIMER to it.
// Positions are in the form's client coordinates; a control converts to HWND, so TqorUI's sizing
// operations take it directly. Event callbacks run inside the window procedure: what they raise becomes
// the pending window error (Window.h).
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "Handles.h"
#include "Window.h"
#include "WindowGeometry.h"

namespace qor {

class Control {
 public:
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  HWND Handle() const noexcept { return hwnd_; }
  operator HWND() const noexcept { return hwnd_; }
  int Id() const noexcept { return ::GetDlgCtrlID(hwnd_); }

  Bounds GetBounds() const noexcept { return WindowBounds(hwnd_); }
  void SetBounds(const Bounds& bounds) noexcept { SetWindowBounds(hwnd_, bounds); }
  int Left() const noexcept { return GetBounds().left; }
  int Top() const noexcept { return GetBounds().top; }
  int Width() const noexcept { return GetBounds().width; }
  int Height() const noexcept { return GetBounds().height; }
  int Right() const noexcept { return GetBounds().Right(); }
  int Bottom() const noexcept { return GetBounds().Bottom(); }
  void SetLeft(int left) noexcept { SetWindowLeft(hwnd_, left); }
  void SetTop(int top) noexcept { SetWindowTop(hwnd_, top); }
  virtual void SetWidth(int width) noexcept { SetWindowWidth(hwnd_, width); }
  void SetHeight(int height) noexcept { SetWindowHeight(hwnd_, height); }
  int ClientWidth() const noexcept { return qor::ClientWidth(hwnd_); }
  int ClientHeight() const noexcept { return qor::ClientHeight(hwnd_); }
  // The width stays; the height becomes clientHeight plus the borders.
  void SetClientHeight(int clientHeight) noexcept { qor::SetClientHeight(hwnd_, clientHeight); }

  std::wstring Text() const;
  virtual void SetText(const std::wstring& text);
  void SetVisible(bool visible) noexcept { ::ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE); }
  void SetEnabled(bool enabled) noexcept { ::EnableWindow(hwnd_, enabled); }
  void SetFocus() noexcept { ::SetFocus(hwnd_); }

  // The font in use: the control's own, else the form's.
  HFONT Font() const noexcept;
  bool ParentFont() const noexcept { return !ownFont_; }
  // Gives the control a font of its own, made from attributes (it no longer follows the form's font).
  void SetOwnFont(const LOGFONTW& attributes);
  void UseParentFont() noexcept;

  // Text and background colours for statics and edits (labels): CLR_INVALID keeps the system's.
  void SetTextColor(COLORREF color) noexcept;
  void SetBackgroundColor(COLORREF color) noexcept;
  // The mouse cursor over the control (not owned; shared system cursors), null for the default.
  void SetCursor(HCURSOR cursor) noexcept { cursor_ = cursor; }

 protected:
  Control(Form& form, const wchar_t* className, const std::wstring& text, DWORD style, DWORD exStyle);
  Form* ParentForm() const noexcept { return form_; }
  // A fresh control id of the form, for a further window of the control.
  int NewControlId() noexcept;
  // After the font in use changed (sizes that follow the font are adjusted here).
  virtual void FontChanged() {}
  virtual void HandleCommand(WORD code) { (void)code; }
  // Returns true when it handled the notification and set result.
  virtual bool HandleNotify(NMHDR* header, LRESULT& result) {
    (void)header;
    (void)result;
    return false;
  }
  virtual HBRUSH HandleCtlColor(HDC dc) noexcept;
  // A second window that belongs to the control (a sibling in the form), and its commands.
  virtual HWND PartHandle() const noexcept { return nullptr; }
  virtual void HandlePartCommand(WORD code) { (void)code; }

 private:
  friend class Form;
  void ApplyFont() noexcept;

  Form* form_;
  HWND hwnd_ = nullptr;
  FontHandle ownFont_;
  COLORREF textColor_ = CLR_INVALID;
  COLORREF backgroundColor_ = CLR_INVALID;
  GdiObject backgroundBrush_;
  HCURSOR cursor_ = nullptr;
};

// A static text. AutoSize (on by default) sizes it to its text after every change of text or font; with
// WordWrap the width stays and the height follows the wrapped text. Ampersands are shown as they are.
class Label : public Control {
 public:
  explicit Label(Form& form, const std::wstring& text = {});
  void SetText(const std::wstring& text) override;
  void SetWidth(int width) noexcept override;
  void SetAutoSize(bool autoSize);
  void SetWordWrap(bool wordWrap);
  // Sizes the label to its text now (AutoSize does this by itself).
  void AdjustSize() noexcept;

  std::function<void()> OnClick;

 protected:
  void FontChanged() override { AdjustSize(); }
  void HandleCommand(WORD code) override;

 private:
  bool autoSize_ = true;
  bool wordWrap_ = false;
};

// A single-line edit. Its height follows its font (the line height plus the borders).
class Edit : public Control {
 public:
  explicit Edit(Form& form, DWORD extraStyle = 0);
  void SetReadOnly(bool readOnly) noexcept;
  bool ReadOnly() const noexcept;

  // EN_CHANGE: the text changed, by the user or by SetText.
  std::function<void()> OnChange;

 protected:
  void FontChanged() override;
  void HandleCommand(WORD code) override;
};

// An edit with a small browse button over the right end of its client area (the text stops before it);
// the button, or Alt+Down in the edit, runs OnBrowse (which typically opens a file or folder dialog and
// sets the text). The button follows the edit when it moves, hides or is disabled.
class BrowseEdit : public Edit {
 public:
  explicit BrowseEdit(Form& form, DWORD extraStyle = 0);
  ~BrowseEdit() override;
  HWND BrowseButton() const noexcept { return button_; }
  // What the browse button does (a click on it, as the user would).
  void Browse();

  std::function<void()> OnBrowse;

 protected:
  void FontChanged() override;
  HWND PartHandle() const noexcept override { return button_; }
  void HandlePartCommand(WORD code) override;

 private:
  static LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR self) noexcept;
  // visibility: 1 shown, 0 hidden, -1 as the edit's style says.
  void PlaceButton(int visibility = -1) noexcept;
  HWND button_ = nullptr;
};

// A button; by default a push button with a tab stop. A button with a modal result sets it on its form
// when clicked (closing a modal form); the cancel button is pressed by Esc, the default button by Enter.
class Button : public Control {
 public:
  explicit Button(Form& form, const std::wstring& text = {}, DWORD buttonStyle = BS_PUSHBUTTON);
  void SetDefault(bool isDefault) noexcept;
  void SetCancel(bool isCancel) noexcept;
  void SetModalResult(int result) noexcept { modalResult_ = result; }
  // The elevation shield (BCM_SETSHIELD).
  void SetShield(bool shield) noexcept;
  bool Checked() const noexcept;
  void SetChecked(bool checked) noexcept;
  // What a click does.
  void Click();

  std::function<void()> OnClick;

 protected:
  void HandleCommand(WORD code) override;

 private:
  int modalResult_ = mrNone;
};

// A report-style list view with a header; the extended styles pick check boxes, grid lines and
// whole-row selection. Items are handled with the list view messages on Handle().
class ListView : public Control {
 public:
  explicit ListView(Form& form, DWORD extraStyle = LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                    DWORD extendedStyle = LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  int AddColumn(const std::wstring& caption, int width);
  void SetColumnCaption(int column, const std::wstring& caption);
  int ColumnWidth(int column) const noexcept;
  // width may also be LVSCW_AUTOSIZE_USEHEADER (the last column fills the rest).
  void SetColumnWidth(int column, int width) noexcept;
  int ItemCount() const noexcept;

  // LVN_ITEMCHANGED.
  std::function<void(const NMLISTVIEW&)> OnItemChanged;

 protected:
  bool HandleNotify(NMHDR* header, LRESULT& result) override;
};

// A single-selection list box whose items carry a value each; its client height is exactly what is set.
class ListBox : public Control {
 public:
  explicit ListBox(Form& form, DWORD extraStyle = 0);
  int AddItem(const std::wstring& text, LPARAM data = 0);
  void Clear() noexcept;
  int Count() const noexcept;
  std::wstring ItemText(int index) const;
  LPARAM ItemData(int index) const noexcept;
};

// An icon picture. The icon is not owned (use shared icons such as LoadIconW(nullptr, IDI_WARNING)).
class Image : public Control {
 public:
  explicit Image(Form& form);
  // Shows the icon and takes its size.
  void SetIcon(HICON icon) noexcept;
};

// A window timer of the form: OnTimer runs every interval while it is enabled.
class Timer {
 public:
  Timer(Form& form, UINT interval, std::function<void()> onTimer = {}, bool enabled = true);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  void SetEnabled(bool enabled) noexcept;
  bool Enabled() const noexcept { return enabled_; }
  void SetInterval(UINT interval) noexcept;
  UINT Interval() const noexcept { return interval_; }

  std::function<void()> OnTimer;

 private:
  friend class Form;
  void Detach() noexcept;
  Form* form_;
  UINT_PTR id_;
  UINT interval_;
  bool enabled_ = false;
};

}  // namespace qor
