// Drives the built setup from another process as a user would: finds its window and controls, ticks
// and unticks plugin list items, clicks buttons, and reads and answers its message boxes and dialogs.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qortest {

// The visible main window (class "TForm16") of process pid (0: of any process); null after timeoutMs.
HWND WaitForSetupWindow(DWORD pid, DWORD timeoutMs = 15000);
// The direct children of parent of window class cls, in z-order.
std::vector<HWND> ChildWindows(HWND parent, const wchar_t* cls);
// The child of parent of class cls whose text is text; null when there is none.
HWND ChildWithText(HWND parent, const wchar_t* cls, const std::wstring& text);
// A window's text, read with a bounded WM_GETTEXT.
std::wstring WindowText(HWND window);

// Clicks a push button as the mouse does: its parent gets BN_CLICKED. Posted, so that the call returns
// while the click runs (a run blocks the setup's window thread until it ends).
void ClickButton(HWND button);

// Items of a list view of another process: count, check state, and ticking or unticking one.
int ListViewCount(HWND listView);
bool ListViewChecked(HWND listView, int index);
std::wstring ListViewText(HWND listView, int index, int column);
bool SetListViewChecked(HWND listView, int index, bool checked);

// What a message box shows.
struct MessageBoxSeen {
  bool shown = false;
  std::wstring caption, text;
  HICON icon = nullptr;
  HWND owner = nullptr;
  int count = 0;  // message boxes answered during an action
};
// A visible message box (a dialog with the message-text control) of process pid; null after timeoutMs.
HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs);
MessageBoxSeen ReadMessageBox(HWND box);
// Presses the message box's OK button.
void AnswerMessageBox(HWND box);

// A top-level window of class cls of process pid (0: of any process), visible unless visibleOnly is
// false; null after timeoutMs.
HWND WaitForTopLevelWindow(DWORD pid, const wchar_t* cls, DWORD timeoutMs, bool visibleOnly = true);

}  // namespace qortest
