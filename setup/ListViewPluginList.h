// The main window's plugin list view seen as a PluginList: a report view with check boxes whose
// first column holds the caption and whose second column holds the folder.
#pragma once
#include <windows.h>

#include "PluginInventory.h"

namespace qor {

class ListViewPluginList : public PluginList {
 public:
  explicit ListViewPluginList(HWND listView) : listView_(listView) {}
  void Clear() override;
  int Count() const override;
  std::wstring Caption(int index) const override;
  std::wstring Folder(int index) const override;
  bool Checked(int index) const override;
  // Inserts at the place that keeps the captions in lstrcmpW order, then ticks the item.
  void AddTicked(const std::wstring& caption, const std::wstring& folder) override;

 private:
  std::wstring Text(int index, int column) const;
  HWND listView_;
};

}  // namespace qor
