// The open windows that follow language and font changes. A window joins when it is created and
// leaves when it is destroyed; NotifyLanguageChanged sends each joined window the re-layout message
// synchronously, in the order in which the windows joined.
#pragma once
#include <windows.h>

#include <vector>

namespace qor {

// The re-layout message: sent (SendMessageW, wParam = lParam = 0) to every open form when the language
// or the system message font changes; the form lays itself out again.
constexpr UINT CM_SYSFONTCHANGED = 0xB035;

void JoinLangWindows(HWND window);
void LeaveLangWindows(HWND window);
// The joined windows, in joining order.
std::vector<HWND> LangWindows();
// Sends CM_SYSFONTCHANGED to every joined window, in joining order. A window that leaves (or joins)
// while the broadcast runs is handled safely: the broadcast walks a copy and skips windows that left.
void BroadcastUIChanged();

}  // namespace qor
