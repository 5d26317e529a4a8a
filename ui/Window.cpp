#include "Window.h"

#include <algorithm>
#include <exception>

#include "Controls.h"
#include "Error.h"
#include "LangWindows.h"

namespace qor {

namespace {

// The state of the (one) window thread. Each is constant-initialised, so it exists before any module
// start-up and needs neither a guard on first use nor a thread's storage.
// The live forms, in creation order.
std::vector<Form*> g_liveForms;
Form* g_mainForm = nullptr;
// What a handler raised, kept for the message loop to raise again.
std::exception_ptr g_pendingError;

std::vector<Form*>& LiveForms() noexcept { return g_liveForms; }
Form*& MainFormSlot() noexcept { return g_mainForm; }
std::exception_ptr& PendingError() noexcept { return g_pendingError; }


void RegisterFormClass(const FormParams& params, WNDPROC procedure) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (::GetClassInfoExW(instance, params.className, &existing)) return;
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof(cls);
  cls.style = CS_DBLCLKS;
  cls.lpfnWndProc = procedure;
  cls.hInstance = instance;
  cls.hIcon = params.icon;
  cls.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = params.className;
  if (!::RegisterClassExW(&cls) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastOSError();
}

}  // namespace

Form::Form(const FormParams& params) {
  RegisterFormClass(params, &Form::StaticWndProc);
  RECT r{0, 0, params.clientWidth, params.clientHeight};
  // WS_EX_CONTROLPARENT lets the dialog manager's keyboard handling walk into the form's controls.
  DWORD exStyle = params.exStyle | WS_EX_CONTROLPARENT;
  ::AdjustWindowRectEx(&r, params.style, FALSE, exStyle);
  LiveForms().push_back(this);
  HWND window = ::CreateWindowExW(exStyle, params.className, params.caption.c_str(), params.style, 0, 0,
                                  r.right - r.left, r.bottom - r.top, params.owner, nullptr,
                                  ::GetModuleHandleW(nullptr), this);
  if (!window) {
    DWORD code = ::GetLastError();
    LiveForms().erase(std::remove(LiveForms().begin(), LiveForms().end(), this), LiveForms().end());
    RaiseOSError(code ? code : ERROR_INVALID_WINDOW_HANDLE);
  }
}

Form::~Form() {
  for (Timer* timer : timers_) timer->Detach();
  for (Control* control : controls_) control->form_ = nullptr;
  if (MainFormSlot() == this) MainFormSlot() = nullptr;
  if (hwnd_) ::DestroyWindow(hwnd_);
  auto& forms = LiveForms();
  forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
}

Form* Form::FromHandle(HWND window) noexcept {
  if (!window) return nullptr;
  for (Form* form : LiveForms())
    if (form->hwnd_ == window) return form;
  return nullptr;
}

LRESULT CALLBACK Form::StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  Form* form = nullptr;
  if (message == WM_NCCREATE) {
    form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->hwnd_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  } else {
    form = reinterpret_cast<Form*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  if (!form) return ::DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    form->hwnd_ = nullptr;
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  try {
    return form->WndProc(message, wParam, lParam);
  } catch (...) {
    KeepPendingWindowError(std::current_exception());
    return 0;
  }
}

LRESULT Form::DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT Form::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_NCHITTEST:
      return OnNcHitTest(lParam);
    case CM_SYSFONTCHANGED:
      OnUIChanged();
      return 0;
    case WM_THEMECHANGED: {
      LRESULT result = DefaultHandler(message, wParam, lParam);
      OnThemeChanged();
      return result;
    }
    case WM_SETTINGCHANGE:
      OnSettingChange(wParam, lParam);
      return DefaultHandler(message, wParam, lParam);
    case WM_DESTROY:
      OnDestroy();
      return DefaultHandler(message, wParam, lParam);
    case WM_ACTIVATE:
      OnActivate(wParam);
      return 0;
    case DM_GETDEFID:
      return defaultButtonId_ ? MAKELRESULT(defaultButtonId_, DC_HASDEFID) : 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
      if (Control* control = FindControl(reinterpret_cast<HWND>(lParam)))
        if (HBRUSH brush = control->HandleCtlColor(reinterpret_cast<HDC>(wParam))) return reinterpret_cast<LRESULT>(brush);
      return DefaultHandler(message, wParam, lParam);
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT)
        if (Control* control = FindControl(reinterpret_cast<HWND>(wParam)); control && control->cursor_) {
          ::SetCursor(control->cursor_);
          return TRUE;
        }
      return DefaultHandler(message, wParam, lParam);
    default:
      return DefaultHandler(message, wParam, lParam);
  }
}

void Form::OnCommand(WORD id, WORD code, HWND control) {
  if (control) {
    for (Control* c : controls_) {
      if (c->PartHandle() == control) {
        c->HandlePartCommand(code);
        return;
      }
    }
  }
  Control* target = control ? FindControl(control) : FindControlById(id);
  if (target) target->HandleCommand(code);
}

LRESULT Form::OnNotify(NMHDR* header) {
  if (!header) return 0;
  LRESULT result = 0;
  if (Control* control = FindControl(header->hwndFrom))
    if (control->HandleNotify(header, result)) return result;
  return DefaultHandler(WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

void Form::OnTimer(UINT_PTR id) {
  for (Timer* timer : timers_) {
    if (timer->id_ == id) {
      if (timer->OnTimer) timer->OnTimer();
      return;
    }
  }
}

void Form::OnClose() {
  if (modal_) {
    modalResult_ = mrCancel;
    return;
  }
  Hide();
  if (MainFormSlot() == this) ::PostQuitMessage(0);
}

LRESULT Form::OnNcHitTest(LPARAM lParam) { return DefaultHandler(WM_NCHITTEST, 0, lParam); }

void Form::OnUIChanged() { ::InvalidateRect(hwnd_, nullptr, TRUE); }

void Form::OnThemeChanged() {}

void Form::OnDestroy() {}

void Form::OnSettingChange(WPARAM wParam, LPARAM) {
  if (wParam == SPI_SETNONCLIENTMETRICS) ::SendMessageW(hwnd_, CM_SYSFONTCHANGED, 0, 0);
}

void Form::OnActivate(WPARAM wParam) noexcept {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = ::GetFocus();
    if (focus && ::IsChild(hwnd_, focus)) focus_ = focus;
    return;
  }
  HWND target = (focus_ && ::IsWindow(focus_) && ::IsChild(hwnd_, focus_) && ::IsWindowEnabled(focus_) &&
                 ::IsWindowVisible(focus_))
                    ? focus_
                    : ::GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  if (target) ::SetFocus(target);
}

std::wstring Form::Caption() const {
  return WindowText(hwnd_);
}

void Form::SetCaption(const std::wstring& caption) noexcept { ::SetWindowTextW(hwnd_, caption.c_str()); }

LOGFONTW Form::FontAttributes() const noexcept {
  LOGFONTW lf{};
  HGDIOBJ font = font_ ? font_.get() : ::GetStockObject(DEFAULT_GUI_FONT);
  ::GetObjectW(font, sizeof(lf), &lf);
  return lf;
}

void Form::SetFont(HFONT source) {
  LOGFONTW lf{};
  if (!source || ::GetObjectW(source, sizeof(lf), &lf) != sizeof(lf)) return;
  HFONT copy = ::CreateFontIndirectW(&lf);
  if (!copy) RaiseLastOSError();
  AdoptFont(FontHandle(copy));
}

void Form::AdoptFont(FontHandle font) noexcept {
  // The controls switch to the new font before the old one is deleted.
  FontHandle old = std::move(font_);
  font_ = std::move(font);
  ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  FontChanged();
  old.reset();
}

void Form::FontChanged() noexcept {
  for (Control* control : controls_)
    if (control->ParentFont()) control->ApplyFont();
}

void Form::Show() noexcept {
  ::ShowWindow(hwnd_, SW_SHOW);
  ::UpdateWindow(hwnd_);
}

void Form::Hide() noexcept { ::ShowWindow(hwnd_, SW_HIDE); }

int Form::ShowModal() {
  if (modal_) return mrNone;
  HWND previous = ::GetActiveWindow();
  std::vector<HWND> disabled;
  struct Collect {
    HWND self;
    std::vector<HWND>* list;
  } collect{hwnd_, &disabled};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        auto* c = reinterpret_cast<Collect*>(param);
        if (window != c->self && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) c->list->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&collect));
  for (HWND window : disabled) ::EnableWindow(window, FALSE);
  modal_ = true;
  modalResult_ = mrNone;
  ScopeGuard restore([&] {
    // Enable the others before hiding, so that the activation goes back to one of them.
    for (HWND window : disabled)
      if (::IsWindow(window)) ::EnableWindow(window, TRUE);
    if (hwnd_) ::ShowWindow(hwnd_, SW_HIDE);
    if (previous && ::IsWindow(previous)) ::SetActiveWindow(previous);
    modal_ = false;
  });
  ::ShowWindow(hwnd_, SW_SHOW);
  ::SetActiveWindow(hwnd_);
  ::UpdateWindow(hwnd_);
  RethrowPendingWindowError();
  MSG message{};
  while (modalResult_ == mrNone && hwnd_) {
    BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      modalResult_ = mrCancel;
      break;
    }
    if (got == -1) {
      modalResult_ = mrCancel;
      break;
    }
    DispatchFormMessage(message);
    RethrowPendingWindowError();
  }
  return modalResult_ == mrNone ? mrCancel : modalResult_;
}

void Form::SetTabOrder(std::initializer_list<Control*> controls) noexcept {
  HWND after = HWND_TOP;
  for (Control* control : controls) {
    if (!control || !control->Handle()) continue;
    ::SetWindowPos(control->Handle(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = control->Handle();
  }
}

Control* Form::FindControl(HWND window) const noexcept {
  if (!window) return nullptr;
  for (Control* control : controls_)
    if (control->Handle() == window) return control;
  return nullptr;
}

Control* Form::FindControlById(int id) const noexcept {
  for (Control* control : controls_)
    if (control->Handle() && ::GetDlgCtrlID(control->Handle()) == id) return control;
  return nullptr;
}

void SetMainForm(Form* form) noexcept { MainFormSlot() = form; }
Form* MainForm() noexcept { return MainFormSlot(); }
Form* ActiveForm() noexcept { return Form::FromHandle(::GetActiveWindow()); }

void DispatchFormMessage(MSG& message) noexcept {
  HWND root = message.hwnd ? ::GetAncestor(message.hwnd, GA_ROOT) : nullptr;
  if (root && Form::FromHandle(root) && ::IsDialogMessageW(root, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

int RunMessageLoop() {
  MSG message{};
  for (;;) {
    BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) RaiseLastOSError();
    DispatchFormMessage(message);
    RethrowPendingWindowError();
  }
}

void ProcessMessages() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    DispatchFormMessage(message);
    RethrowPendingWindowError();
  }
}

bool HasPendingWindowError() noexcept { return PendingError() != nullptr; }

void KeepPendingWindowError(std::exception_ptr error) noexcept {
  if (error && !PendingError()) PendingError() = std::move(error);
}

void RethrowPendingWindowError() {
  if (std::exception_ptr error = std::exchange(PendingError(), nullptr)) std::rethrow_exception(error);
}

}  // namespace qor
