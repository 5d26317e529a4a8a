#include "WindowGeometry.h"

namespace qor {

std::wstring WindowText(HWND window) {
  int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  length = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(length > 0 ? length : 0));
  return text;
}

Bounds WindowBounds(HWND window) noexcept {
  RECT r{};
  if (!::GetWindowRect(window, &r)) return {};
  HWND parent = (::GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) ? ::GetParent(window) : nullptr;
  if (parent) ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void SetWindowBounds(HWND window, const Bounds& b) noexcept {
  ::SetWindowPos(window, nullptr, b.left, b.top, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetWindowLeft(HWND window, int left) noexcept {
  Bounds b = WindowBounds(window);
  ::SetWindowPos(window, nullptr, left, b.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetWindowTop(HWND window, int top) noexcept {
  Bounds b = WindowBounds(window);
  ::SetWindowPos(window, nullptr, b.left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetWindowWidth(HWND window, int width) noexcept {
  Bounds b = WindowBounds(window);
  ::SetWindowPos(window, nullptr, 0, 0, width, b.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetWindowHeight(HWND window, int height) noexcept {
  Bounds b = WindowBounds(window);
  ::SetWindowPos(window, nullptr, 0, 0, b.width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int ClientWidth(HWND window) noexcept {
  RECT r{};
  ::GetClientRect(window, &r);
  return r.right - r.left;
}

int ClientHeight(HWND window) noexcept {
  RECT r{};
  ::GetClientRect(window, &r);
  return r.bottom - r.top;
}

void SetClientSize(HWND window, int clientWidth, int clientHeight) noexcept {
  // The frame is measured from the window itself, so scroll bars, menus and themed borders count.
  RECT w{}, c{};
  ::GetWindowRect(window, &w);
  ::GetClientRect(window, &c);
  int frameX = (w.right - w.left) - (c.right - c.left);
  int frameY = (w.bottom - w.top) - (c.bottom - c.top);
  ::SetWindowPos(window, nullptr, 0, 0, clientWidth + frameX, clientHeight + frameY,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetClientHeight(HWND window, int clientHeight) noexcept {
  SetClientSize(window, ClientWidth(window), clientHeight);
}

}  // namespace qor
