#include "ListViewPluginList.h"

#include <commctrl.h>

#include <vector>

namespace qor {

void ListViewPluginList::Clear() { ListView_DeleteAllItems(listView_); }

int ListViewPluginList::Count() const { return ListView_GetItemCount(listView_); }

std::wstring ListViewPluginList::Text(int index, int column) const {
  std::vector<wchar_t> buffer(512);
  for (;;) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    LRESULT n = SendMessageW(listView_, LVM_GETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
    // A text that fills the buffer may have been cut: try again with more room.
    if (n < static_cast<LRESULT>(buffer.size()) - 1 || buffer.size() >= (1u << 20))
      return std::wstring(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 4);
  }
}

std::wstring ListViewPluginList::Caption(int index) const { return Text(index, 0); }
std::wstring ListViewPluginList::Folder(int index) const { return Text(index, 1); }

bool ListViewPluginList::Checked(int index) const { return ListView_GetCheckState(listView_, index) != 0; }

void ListViewPluginList::AddTicked(const std::wstring& caption, const std::wstring& folder) {
  int low = 0, high = Count();
  while (low < high) {  // first item whose caption sorts after the new one
    int mid = (low + high) / 2;
    if (lstrcmpW(Caption(mid).c_str(), caption.c_str()) <= 0) low = mid + 1;
    else high = mid;
  }
  LVITEMW item = {};
  item.mask = LVIF_TEXT;
  item.iItem = low;
  item.pszText = const_cast<wchar_t*>(caption.c_str());
  int index = static_cast<int>(SendMessageW(listView_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (index < 0) return;
  LVITEMW sub = {};
  sub.iSubItem = 1;
  sub.pszText = const_cast<wchar_t*>(folder.c_str());
  SendMessageW(listView_, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
  ListView_SetCheckState(listView_, index, TRUE);
}

}  // namespace qor
