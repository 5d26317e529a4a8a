// The window layer the forms stand on: a top-level window (Form) whose small static window procedure
// finds the object and hands each message to one handler method, the application's main and active
// form, and the message loops (main and modal) with keyboard navigation: Tab and Shift+Tab between tab
// stops, Enter for the default button, Esc for the cancel button.
//
// Ownership: a Form owns its window and its font; the window is destroyed with the object. Controls
// (Controls.h) and timers are members of the derived form and register themselves with it.
//
// Errors: every window procedure is noexcept. An exception that a handler lets escape is kept as the
// thread's pending window error (the first one wins) and raised again by the message loops and
// ShowModal once the system's call has returned; RethrowPendingWindowError raises it after a direct
// SendMessageW.
#pragma once
#include <windows.h>

#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "Handles.h"
#include "WindowGeometry.h"

namespace qor {

class Control;
class Timer;

// A main window: caption, system menu, minimize box, sizing frame.
constexpr DWORD kMainFormStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN;
// A dialog: fixed border, system menu with the close box, no minimize or maximize box.
constexpr DWORD kDialogFormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_CLIPCHILDREN;
constexpr DWORD kDialogFormExStyle = WS_EX_DLGMODALFRAME;

struct FormParams {
  const wchar_t* className = L"TJvqorForm";  // registered on first use with the form's window procedure
  DWORD style = kMainFormStyle;
  DWORD exStyle = 0;
  HWND owner = nullptr;  // a dialog stays above its owner
  std::wstring caption;
  int clientWidth = 0;  // the design size; the layout replaces it
  int clientHeight = 0;
  HICON icon = nullptr;  // the class icon, not owned
};

// The result of a modal form.
constexpr int mrNone = 0;
constexpr int mrOk = IDOK;
constexpr int mrCancel = IDCANCEL;

class Form {
 public:
  // Creates the window, hidden, at 0, 0 with the given client size. Raises OSError when it cannot.
  explicit Form(const FormParams& params);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  HWND Handle() const noexcept { return hwnd_; }
  static Form* FromHandle(HWND window) noexcept;  // null for windows that are not forms

  Bounds GetBounds() const noexcept { return WindowBounds(hwnd_); }
  int ClientWidth() const noexcept { return qor::ClientWidth(hwnd_); }
  int ClientHeight() const noexcept { return qor::ClientHeight(hwnd_); }
  // Keeps the top-left corner.
  void SetClientSize(int clientWidth, int clientHeight) noexcept { qor::SetClientSize(hwnd_, clientWidth, clientHeight); }
  std::wstring Caption() const;
  void SetCaption(const std::wstring& caption) noexcept;

  // The form's own font (null until one is set). Controls that use the parent font follow it.
  HFONT Font() const noexcept { return static_cast<HFONT>(font_.get()); }
  // The attributes of the form's font (of the stock DEFAULT_GUI_FONT while it has none).
  LOGFONTW FontAttributes() const noexcept;
  // Gives the form a copy of source; the old font is deleted once no control uses it.
  void SetFont(HFONT source);
  void AdoptFont(FontHandle font) noexcept;

  void Show() noexcept;
  void Hide() noexcept;
  bool Visible() const noexcept { return ::IsWindowVisible(hwnd_) != FALSE; }
  // What the close box does (WM_CLOSE).
  void Close() noexcept { ::SendMessageW(hwnd_, WM_CLOSE, 0, 0); }

  // Shows the form modally: the thread's other windows are disabled until a modal result is set (by a
  // button with a modal result, the close box, Esc with a cancel button, or SetModalResult) and the
  // result is returned; the form is hidden again afterwards. WM_QUIT ends it with mrCancel and is
  // posted again for the outer loop.
  int ShowModal();
  void SetModalResult(int result) noexcept { modalResult_ = result; }
  int ModalResult() const noexcept { return modalResult_; }
  bool IsModal() const noexcept { return modal_; }

  // Orders the tab stops (and the z-order) of the given controls: the first is reached first.
  void SetTabOrder(std::initializer_list<Control*> controls) noexcept;
  // The controls in creation order.
  const std::vector<Control*>& Controls() const noexcept { return controls_; }

 protected:
  // The dispatcher: one case per message, each calling its handler. Override it only for a message that
  // has no handler below, and pass everything else on.
  virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  // The control's own handler runs first (Button click, Edit change...).
  virtual void OnCommand(WORD id, WORD code, HWND control);
  virtual LRESULT OnNotify(NMHDR* header);
  virtual void OnTimer(UINT_PTR id);
  // Default: a modal form gets mrCancel; a modeless form is hidden, and closing the main form ends the
  // message loop.
  virtual void OnClose();
  virtual LRESULT OnNcHitTest(LPARAM lParam);
  // CM_SYSFONTCHANGED: system fonts or the language changed. Default: redraws the form.
  virtual void OnUIChanged();
  // WM_THEMECHANGED, after the default handling.
  virtual void OnThemeChanged();
  // WM_DESTROY: the window is going, whether the object dies with it or lives on (Handle() is still
  // valid during the call and null afterwards).
  virtual void OnDestroy();
  // A change of the non-client metrics (the message font among them) is passed on as CM_SYSFONTCHANGED.
  virtual void OnSettingChange(WPARAM wParam, LPARAM lParam);

 private:
  friend class Control;
  friend class Timer;
  static LRESULT CALLBACK StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  int NextControlId() noexcept { return nextControlId_++; }
  UINT_PTR NextTimerId() noexcept { return nextTimerId_++; }
  Control* FindControl(HWND window) const noexcept;
  Control* FindControlById(int id) const noexcept;
  void FontChanged() noexcept;
  void OnActivate(WPARAM wParam) noexcept;

  HWND hwnd_ = nullptr;
  FontHandle font_;
  std::vector<Control*> controls_;
  std::vector<Timer*> timers_;
  HWND focus_ = nullptr;  // the control that had the focus when the form was last deactivated
  int nextControlId_ = 100;
  UINT_PTR nextTimerId_ = 1;
  int modalResult_ = mrNone;
  bool modal_ = false;
  int defaultButtonId_ = 0;
  friend class Button;
};

// The application's main form: centring and the end of the message loop refer to it.
void SetMainForm(Form* form) noexcept;
Form* MainForm() noexcept;
// The form whose window is the thread's active window, or null.
Form* ActiveForm() noexcept;

// Runs the message loop until WM_QUIT and returns its exit code.
int RunMessageLoop();
// Handles the messages waiting in the queue, then returns.
void ProcessMessages();
// Dispatches one message with keyboard navigation for forms.
void DispatchFormMessage(MSG& message) noexcept;

bool HasPendingWindowError() noexcept;
// Keeps error as the thread's pending window error unless one is pending already (the first one wins).
// For callbacks that must not raise: they hand their error on instead of dropping it.
void KeepPendingWindowError(std::exception_ptr error) noexcept;
// Raises the pending window error, if any, and clears it.
void RethrowPendingWindowError();

}  // namespace qor
