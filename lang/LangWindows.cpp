#include "LangWindows.h"

#include <algorithm>
#include <mutex>

namespace qor {

namespace {
std::mutex& WindowsLock() {
  static std::mutex m;
  return m;
}
std::vector<HWND>& Windows() {
  static std::vector<HWND> w;
  return w;
}
}  // namespace

void JoinLangWindows(HWND window) {
  std::lock_guard<std::mutex> g(WindowsLock());
  auto& w = Windows();
  if (std::find(w.begin(), w.end(), window) == w.end()) w.push_back(window);
}

void LeaveLangWindows(HWND window) {
  std::lock_guard<std::mutex> g(WindowsLock());
  auto& w = Windows();
  w.erase(std::remove(w.begin(), w.end(), window), w.end());
}

std::vector<HWND> LangWindows() {
  std::lock_guard<std::mutex> g(WindowsLock());
  return Windows();
}

void BroadcastUIChanged() {
  for (HWND h : LangWindows()) {
    {
      std::lock_guard<std::mutex> g(WindowsLock());
      auto& w = Windows();
      if (std::find(w.begin(), w.end(), h) == w.end()) continue;
    }
    ::SendMessageW(h, WM_QOR_UICHANGED, 0, 0);
  }
}

}  // namespace qor
