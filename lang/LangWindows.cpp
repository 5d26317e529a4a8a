#include "LangWindows.h"

#include <algorithm>

#include "Handles.h"

namespace qor {

namespace {
// Both are constant-initialised, so a window may join before any module start-up has run.
SlimLock g_windowsLock;
std::vector<HWND> g_windows;

SlimLock& WindowsLock() { return g_windowsLock; }
std::vector<HWND>& Windows() { return g_windows; }
}  // namespace

void JoinLangWindows(HWND window) {
  LockGuard g(WindowsLock());
  auto& w = Windows();
  if (std::find(w.begin(), w.end(), window) == w.end()) w.push_back(window);
}

void LeaveLangWindows(HWND window) {
  LockGuard g(WindowsLock());
  auto& w = Windows();
  w.erase(std::remove(w.begin(), w.end(), window), w.end());
}

std::vector<HWND> LangWindows() {
  LockGuard g(WindowsLock());
  return Windows();
}

void BroadcastUIChanged() {
  for (HWND h : LangWindows()) {
    {
      LockGuard g(WindowsLock());
      auto& w = Windows();
      if (std::find(w.begin(), w.end(), h) == w.end()) continue;
    }
    ::SendMessageW(h, CM_SYSFONTCHANGED, 0, 0);
  }
}

}  // namespace qor
