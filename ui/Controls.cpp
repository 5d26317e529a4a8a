#include "Controls.h"

#include <algorithm>

#include "Error.h"

namespace qor {

// ---- Control

Control::Control(Form& form, const wchar_t* className, const std::wstring& text, DWORD style, DWORD exStyle)
    : form_(&form) {
  int id = form.NextControlId();
  hwnd_ = ::CreateWindowExW(exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                            form.Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                            ::GetModuleHandleW(nullptr), nullptr);
  if (!hwnd_) RaiseLastOSError();
  form.controls_.push_back(this);
  if (form.Font()) ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(form.Font()), FALSE);
}

Control::~Control() {
  if (form_) {
    auto& list = form_->controls_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (form_->focus_ == hwnd_) form_->focus_ = nullptr;
  }
  if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
}

int Control::NewControlId() noexcept { return form_ ? form_->NextControlId() : 0; }

std::wstring Control::Text() const {
  return WindowText(hwnd_);
}

void Control::SetText(const std::wstring& text) { ::SetWindowTextW(hwnd_, text.c_str()); }

HFONT Control::Font() const noexcept {
  if (ownFont_) return static_cast<HFONT>(ownFont_.get());
  if (form_ && form_->Font()) return form_->Font();
  return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

void Control::SetOwnFont(const LOGFONTW& attributes) {
  HFONT font = ::CreateFontIndirectW(&attributes);
  if (!font) RaiseLastOSError();
  FontHandle old = std::move(ownFont_);
  ownFont_.reset(font);
  ApplyFont();  // the control lets go of the old font before it is deleted
}

void Control::UseParentFont() noexcept {
  FontHandle old = std::move(ownFont_);
  ApplyFont();
}

void Control::ApplyFont() noexcept {
  ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), TRUE);
  try {
    FontChanged();
  } catch (...) {
    // Called where nothing may raise (the form's font change): the error waits for the message loop.
    KeepPendingWindowError(std::current_exception());
  }
}

void Control::SetTextColor(COLORREF color) noexcept {
  textColor_ = color;
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void Control::SetBackgroundColor(COLORREF color) noexcept {
  backgroundColor_ = color;
  backgroundBrush_.reset(color == CLR_INVALID ? nullptr : ::CreateSolidBrush(color));
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

HBRUSH Control::HandleCtlColor(HDC dc) noexcept {
  if (textColor_ == CLR_INVALID && !backgroundBrush_) return nullptr;
  // Statics draw on the form's face colour unless told otherwise.
  COLORREF background = backgroundBrush_ ? backgroundColor_ : ::GetSysColor(COLOR_BTNFACE);
  ::SetTextColor(dc, textColor_ == CLR_INVALID ? ::GetSysColor(COLOR_WINDOWTEXT) : textColor_);
  ::SetBkColor(dc, background);
  return backgroundBrush_ ? static_cast<HBRUSH>(backgroundBrush_.get()) : ::GetSysColorBrush(COLOR_BTNFACE);
}

// ---- Label

Label::Label(Form& form, const std::wstring& text)
    : Control(form, L"STATIC", text, SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY, 0) {
  AdjustSize();
}

void Label::SetText(const std::wstring& text) {
  Control::SetText(text);
  AdjustSize();
}

void Label::SetWidth(int width) noexcept {
  Control::SetWidth(width);
  if (wordWrap_) AdjustSize();
}

void Label::SetAutoSize(bool autoSize) {
  autoSize_ = autoSize;
  AdjustSize();
}

void Label::SetWordWrap(bool wordWrap) {
  wordWrap_ = wordWrap;
  LONG_PTR style = ::GetWindowLongPtrW(Handle(), GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
  ::SetWindowLongPtrW(Handle(), GWL_STYLE, style | (wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP));
  ::InvalidateRect(Handle(), nullptr, TRUE);
  AdjustSize();
}

void Label::AdjustSize() noexcept {
  if (!autoSize_) return;
  std::wstring text = Text();
  if (text.empty()) text = L" ";  // an empty label keeps the height of one line
  Bounds b = GetBounds();
  RECT r{0, 0, wordWrap_ ? b.width : 0, 0};
  {
    ScopedGetDC dc(Handle());
    if (!dc) return;
    ScopedSelectObject font(dc, Font());
    UINT flags = DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (wordWrap_ ? DT_WORDBREAK : 0);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, flags);
  }
  if (!wordWrap_) b.width = r.right - r.left;
  b.height = r.bottom - r.top;
  SetBounds(b);
}

void Label::HandleCommand(WORD code) {
  if (code == STN_CLICKED && OnClick) OnClick();
}

// ---- Edit

Edit::Edit(Form& form, DWORD extraStyle)
    : Control(form, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL | extraStyle, WS_EX_CLIENTEDGE) {
  FontChanged();
}

void Edit::SetReadOnly(bool readOnly) noexcept { ::SendMessageW(Handle(), EM_SETREADONLY, readOnly, 0); }

bool Edit::ReadOnly() const noexcept { return (::GetWindowLongPtrW(Handle(), GWL_STYLE) & ES_READONLY) != 0; }

void Edit::FontChanged() {
  // One line of the font plus the three-dimensional border, four pixels above and four below.
  TEXTMETRICW metrics{};
  {
    ScopedGetDC dc(Handle());
    if (!dc) return;
    ScopedSelectObject font(dc, Font());
    ::GetTextMetricsW(dc, &metrics);
  }
  SetHeight(metrics.tmHeight + 8 * ::GetSystemMetrics(SM_CYBORDER));
}

void Edit::HandleCommand(WORD code) {
  if (code == EN_CHANGE && OnChange) OnChange();
}

// ---- BrowseEdit

namespace {
constexpr UINT_PTR kBrowseEditSubclass = 0x51;
}

BrowseEdit::BrowseEdit(Form& form, DWORD extraStyle) : Edit(form, extraStyle | WS_CLIPSIBLINGS) {
  // A sibling above the edit rather than a child of it: the edit class paints with its parent's device
  // context and would paint over a child of its own.
  button_ = ::CreateWindowExW(0, L"BUTTON", L"...", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_PUSHBUTTON, 0, 0, 0, 0,
                              form.Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(NewControlId())),
                              ::GetModuleHandleW(nullptr), nullptr);
  if (!button_) RaiseLastOSError();
  ::SetWindowSubclass(Handle(), &BrowseEdit::EditProc, kBrowseEditSubclass, reinterpret_cast<DWORD_PTR>(this));
  FontChanged();
}

BrowseEdit::~BrowseEdit() {
  ::RemoveWindowSubclass(Handle(), &BrowseEdit::EditProc, kBrowseEditSubclass);
  if (button_) ::DestroyWindow(button_);
}

void BrowseEdit::Browse() {
  if (OnBrowse) OnBrowse();
}

void BrowseEdit::HandlePartCommand(WORD code) {
  if (code == BN_CLICKED) Browse();
}

void BrowseEdit::FontChanged() {
  Edit::FontChanged();
  if (button_) ::SendMessageW(button_, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), TRUE);
  PlaceButton();
}

void BrowseEdit::PlaceButton(int visibility) noexcept {
  if (!button_) return;
  // Inside the edit's border, as tall as its client area, square.
  RECT client{};
  ::GetClientRect(Handle(), &client);
  ::MapWindowPoints(Handle(), ::GetParent(Handle()), reinterpret_cast<POINT*>(&client), 2);
  int size = client.bottom - client.top;
  HWND above = ::GetWindow(Handle(), GW_HWNDPREV);
  UINT flags = SWP_NOACTIVATE | (above == button_ ? SWP_NOZORDER : 0);
  ::SetWindowPos(button_, above ? above : HWND_TOP, client.right - size, client.top, size, size, flags);
  // The edit's own visibility, whatever its form's (IsWindowVisible would look at the form too).
  bool shown = visibility >= 0 ? visibility != 0 : (::GetWindowLongPtrW(Handle(), GWL_STYLE) & WS_VISIBLE) != 0;
  ::ShowWindow(button_, shown ? SW_SHOWNA : SW_HIDE);
  // The text stops before the button.
  ::SendMessageW(Handle(), EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, size + 2));
}

LRESULT CALLBACK BrowseEdit::EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                      DWORD_PTR self) noexcept {
  auto* edit = reinterpret_cast<BrowseEdit*>(self);
  switch (message) {
    case WM_WINDOWPOSCHANGED: {
      // Moved, resized, re-ordered, shown or hidden: the button follows.
      LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
      // The visible style may not be updated yet while a show or hide is under way.
      UINT flags = reinterpret_cast<const WINDOWPOS*>(lParam)->flags;
      edit->PlaceButton((flags & SWP_HIDEWINDOW) ? 0 : (flags & SWP_SHOWWINDOW) ? 1 : -1);
      return result;
    }
    case WM_SHOWWINDOW:
      // Sent even while the form is hidden, when no position change follows.
      if (edit->button_ && lParam == 0) ::ShowWindow(edit->button_, wParam ? SW_SHOWNA : SW_HIDE);
      break;
    case WM_ENABLE:
      if (edit->button_) ::EnableWindow(edit->button_, static_cast<BOOL>(wParam));
      break;
    case WM_SYSKEYDOWN:
      if (wParam == VK_DOWN) {
        // Alt+Down, as a click on the button (through the form, whose procedure keeps what it raises).
        ::SendMessageW(::GetParent(window), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(edit->button_), BN_CLICKED),
                       reinterpret_cast<LPARAM>(edit->button_));
        return 0;
      }
      break;
    default:
      break;
  }
  return ::DefSubclassProc(window, message, wParam, lParam);
}

// ---- Button

Button::Button(Form& form, const std::wstring& text, DWORD buttonStyle)
    : Control(form, L"BUTTON", text, WS_TABSTOP | buttonStyle, 0) {}

void Button::SetDefault(bool isDefault) noexcept {
  Form* form = ParentForm();
  LONG_PTR type = ::GetWindowLongPtrW(Handle(), GWL_STYLE) & BS_TYPEMASK;
  if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON) return;
  ::SendMessageW(Handle(), BM_SETSTYLE, isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
  if (!form) return;
  if (isDefault)
    form->defaultButtonId_ = Id();
  else if (form->defaultButtonId_ == Id())
    form->defaultButtonId_ = 0;
}

void Button::SetCancel(bool isCancel) noexcept {
  // The dialog manager sends Esc as a command from the control whose id is IDCANCEL.
  Form* form = ParentForm();
  int id = isCancel ? IDCANCEL : NewControlId();
  bool wasDefault = form && form->defaultButtonId_ == Id();
  ::SetWindowLongPtrW(Handle(), GWLP_ID, id);
  if (wasDefault) form->defaultButtonId_ = id;
}

void Button::SetShield(bool shield) noexcept { ::SendMessageW(Handle(), BCM_SETSHIELD, 0, shield ? TRUE : FALSE); }

bool Button::Checked() const noexcept { return ::SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Button::SetChecked(bool checked) noexcept {
  ::SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Button::Click() {
  if (Form* form = ParentForm(); form && modalResult_ != mrNone) form->SetModalResult(modalResult_);
  if (OnClick) OnClick();
}

void Button::HandleCommand(WORD code) {
  if (code == BN_CLICKED) Click();
}

// ---- ListView

ListView::ListView(Form& form, DWORD extraStyle, DWORD extendedStyle)
    : Control(form, WC_LISTVIEWW, L"", WS_TABSTOP | LVS_REPORT | extraStyle, WS_EX_CLIENTEDGE) {
  ListView_SetExtendedListViewStyle(Handle(), extendedStyle);
}

int ListView::AddColumn(const std::wstring& caption, int width) {
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = const_cast<wchar_t*>(caption.c_str());
  column.cx = width;
  HWND header = ListView_GetHeader(Handle());
  int count = header ? Header_GetItemCount(header) : 0;
  int index = static_cast<int>(::SendMessageW(Handle(), LVM_INSERTCOLUMNW, count, reinterpret_cast<LPARAM>(&column)));
  if (index < 0) throw Error(L"The list view refused a column");
  return index;
}

void ListView::SetColumnCaption(int column, const std::wstring& caption) {
  LVCOLUMNW c{};
  c.mask = LVCF_TEXT;
  c.pszText = const_cast<wchar_t*>(caption.c_str());
  ::SendMessageW(Handle(), LVM_SETCOLUMNW, column, reinterpret_cast<LPARAM>(&c));
}

int ListView::ColumnWidth(int column) const noexcept {
  return static_cast<int>(::SendMessageW(Handle(), LVM_GETCOLUMNWIDTH, column, 0));
}

void ListView::SetColumnWidth(int column, int width) noexcept {
  ::SendMessageW(Handle(), LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0));
}

int ListView::ItemCount() const noexcept { return static_cast<int>(::SendMessageW(Handle(), LVM_GETITEMCOUNT, 0, 0)); }

bool ListView::HandleNotify(NMHDR* header, LRESULT& result) {
  if (header->code == LVN_ITEMCHANGED && OnItemChanged) {
    OnItemChanged(*reinterpret_cast<NMLISTVIEW*>(header));
    result = 0;
    return true;
  }
  return false;
}

// ---- ListBox

ListBox::ListBox(Form& form, DWORD extraStyle)
    : Control(form, L"LISTBOX", L"", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | extraStyle,
              WS_EX_CLIENTEDGE) {}

int ListBox::AddItem(const std::wstring& text, LPARAM data) {
  auto index = static_cast<int>(::SendMessageW(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
  if (index < 0) throw Error(L"The list box refused an item");
  ::SendMessageW(Handle(), LB_SETITEMDATA, index, data);
  return index;
}

void ListBox::Clear() noexcept { ::SendMessageW(Handle(), LB_RESETCONTENT, 0, 0); }

int ListBox::Count() const noexcept { return static_cast<int>(::SendMessageW(Handle(), LB_GETCOUNT, 0, 0)); }

std::wstring ListBox::ItemText(int index) const {
  auto length = ::SendMessageW(Handle(), LB_GETTEXTLEN, index, 0);
  if (length < 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  length = ::SendMessageW(Handle(), LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length > 0 ? length : 0));
  return text;
}

LPARAM ListBox::ItemData(int index) const noexcept { return ::SendMessageW(Handle(), LB_GETITEMDATA, index, 0); }

// ---- Image

Image::Image(Form& form) : Control(form, L"STATIC", L"", SS_ICON | SS_REALSIZEIMAGE, 0) {}

void Image::SetIcon(HICON icon) noexcept {
  ::SendMessageW(Handle(), STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  int width = ::GetSystemMetrics(SM_CXICON);
  int height = ::GetSystemMetrics(SM_CYICON);
  ICONINFO info{};
  if (icon && ::GetIconInfo(icon, &info)) {
    // The icon's own bitmaps are copies that the caller of GetIconInfo must delete.
    GdiObject mask(info.hbmMask), color(info.hbmColor);
    BITMAP bitmap{};
    if (color && ::GetObjectW(color.get(), sizeof(bitmap), &bitmap)) {
      width = bitmap.bmWidth;
      height = bitmap.bmHeight;
    } else if (mask && ::GetObjectW(mask.get(), sizeof(bitmap), &bitmap)) {
      width = bitmap.bmWidth;
      height = bitmap.bmHeight / 2;  // a monochrome icon stacks its mask and its picture
    }
  }
  Bounds b = GetBounds();
  b.width = width;
  b.height = height;
  SetBounds(b);
}

// ---- Timer

Timer::Timer(Form& form, UINT interval, std::function<void()> onTimer, bool enabled)
    : OnTimer(std::move(onTimer)), form_(&form), id_(form.NextTimerId()), interval_(interval) {
  form.timers_.push_back(this);
  SetEnabled(enabled);
}

Timer::~Timer() {
  SetEnabled(false);
  if (form_) {
    auto& list = form_->timers_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void Timer::SetEnabled(bool enabled) noexcept {
  if (!form_ || !form_->Handle()) {
    enabled_ = false;
    return;
  }
  if (enabled)
    enabled_ = ::SetTimer(form_->Handle(), id_, interval_, nullptr) != 0;
  else if (enabled_) {
    ::KillTimer(form_->Handle(), id_);
    enabled_ = false;
  }
}

void Timer::SetInterval(UINT interval) noexcept {
  interval_ = interval;
  if (enabled_) SetEnabled(true);  // SetTimer with the same id replaces the running timer
}

void Timer::Detach() noexcept {
  if (enabled_ && form_ && form_->Handle()) ::KillTimer(form_->Handle(), id_);
  enabled_ = false;
  form_ = nullptr;
}

}  // namespace qor
