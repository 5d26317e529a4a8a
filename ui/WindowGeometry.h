// Positions and sizes of windows as the layout code speaks of them: a child control's left and top are
// in its parent's client coordinates, a top-level window's in screen coordinates; width and height are
// those of the whole window rectangle. Setters keep everything they are not asked to change and never
// touch the z-order or the activation.
#pragma once
#include <windows.h>

#include <string>

namespace qor {

struct Bounds {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int Right() const noexcept { return left + width; }
  int Bottom() const noexcept { return top + height; }
};

// The window's text (caption, control text).
std::wstring WindowText(HWND window);

Bounds WindowBounds(HWND window) noexcept;
void SetWindowBounds(HWND window, const Bounds& bounds) noexcept;
void SetWindowLeft(HWND window, int left) noexcept;
void SetWindowTop(HWND window, int top) noexcept;
void SetWindowWidth(HWND window, int width) noexcept;
void SetWindowHeight(HWND window, int height) noexcept;

int ClientWidth(HWND window) noexcept;
int ClientHeight(HWND window) noexcept;
// Resizes the window so that its client area gets the given size; the top-left corner stays put.
void SetClientSize(HWND window, int clientWidth, int clientHeight) noexcept;
void SetClientHeight(HWND window, int clientHeight) noexcept;

}  // namespace qor
