#include "SetupWindowDriver.h"

#include <commctrl.h>

namespace qortest {

namespace {
constexpr int kMessageBoxTextId = 0xFFFF;

struct TopLevelSearch {
  DWORD pid;
  const wchar_t* cls;
  bool needsMessageText;
  bool visibleOnly;
  HWND found;
};
BOOL CALLBACK MatchTopLevel(HWND h, LPARAM p) {
  auto* search = reinterpret_cast<TopLevelSearch*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (search->pid && pid != search->pid) return TRUE;
  if (search->visibleOnly && !IsWindowVisible(h)) return TRUE;
  wchar_t cls[256] = {};
  GetClassNameW(h, cls, 256);
  if (std::wstring(cls) != search->cls) return TRUE;
  if (search->needsMessageText && !GetDlgItem(h, kMessageBoxTextId)) return TRUE;
  search->found = h;
  return FALSE;
}
HWND WaitForMatch(TopLevelSearch search, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.found || GetTickCount64() >= deadline) return search.found;
    Sleep(20);
  }
}

// One block in the list view's process that both sides read and write.
class RemoteBlock {
 public:
  RemoteBlock(HWND window, SIZE_T size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBlock() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;
  bool ok() const { return address_ != nullptr; }
  char* at(SIZE_T offset) const { return static_cast<char*>(address_) + offset; }
  bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
    return WriteProcessMemory(process_, at(offset), data, size, nullptr) != 0;
  }
  bool Read(SIZE_T offset, void* data, SIZE_T size) const {
    return ReadProcessMemory(process_, at(offset), data, size, nullptr) != 0;
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
};

// Not SMTO_ABORTIFHUNG: a thread that has not asked for a message for five seconds counts as hung, and a
// message box's thread is one until its modal loop first runs, so the box would read as empty. A window
// that really hangs costs the timeout and reads as empty all the same.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 10000, &result);
  return static_cast<LRESULT>(result);
}
}  // namespace

HWND WaitForSetupWindow(DWORD pid, DWORD timeoutMs) { return WaitForMatch({pid, L"TForm16", false, true, nullptr}, timeoutMs); }

HWND WaitForTopLevelWindow(DWORD pid, const wchar_t* cls, DWORD timeoutMs, bool visibleOnly) {
  return WaitForMatch({pid, cls, false, visibleOnly, nullptr}, timeoutMs);
}

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs) { return WaitForMatch({pid, L"#32770", true, true, nullptr}, timeoutMs); }

std::vector<HWND> ChildWindows(HWND parent, const wchar_t* cls) {
  std::vector<HWND> out;
  for (HWND h = FindWindowExW(parent, nullptr, cls, nullptr); h; h = FindWindowExW(parent, h, cls, nullptr))
    out.push_back(h);
  return out;
}

HWND ChildWithText(HWND parent, const wchar_t* cls, const std::wstring& text) {
  for (HWND h : ChildWindows(parent, cls))
    if (WindowText(h) == text) return h;
  return nullptr;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[2048] = {};
  Send(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

void ClickButton(HWND button) {
  PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

int ListViewCount(HWND listView) { return static_cast<int>(Send(listView, LVM_GETITEMCOUNT, 0, 0)); }

bool ListViewChecked(HWND listView, int index) {
  return Send(listView, LVM_GETITEMSTATE, index, LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

std::wstring ListViewText(HWND listView, int index, int column) {
  constexpr int kChars = 1024;
  RemoteBlock block(listView, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
  if (!block.ok()) return {};
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<wchar_t*>(block.at(sizeof(LVITEMW)));
  item.cchTextMax = kChars;
  if (!block.Write(0, &item, sizeof(item))) return {};
  Send(listView, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(block.at(0)));
  wchar_t text[kChars] = {};
  block.Read(sizeof(LVITEMW), text, sizeof(text) - sizeof(wchar_t));
  return text;
}

bool SetListViewChecked(HWND listView, int index, bool checked) {
  RemoteBlock block(listView, sizeof(LVITEMW));
  if (!block.ok()) return false;
  LVITEMW item = {};
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  if (!block.Write(0, &item, sizeof(item))) return false;
  Send(listView, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(block.at(0)));
  return ListViewChecked(listView, index) == checked;
}

MessageBoxSeen ReadMessageBox(HWND box) {
  MessageBoxSeen seen;
  seen.shown = true;
  seen.caption = WindowText(box);
  seen.text = WindowText(GetDlgItem(box, kMessageBoxTextId));
  seen.owner = GetWindow(box, GW_OWNER);
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (_wcsicmp(cls, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      seen.icon = reinterpret_cast<HICON>(Send(child, STM_GETICON, 0, 0));
  }
  return seen;
}

void AnswerMessageBox(HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }

}  // namespace qortest
