// A plain plugin list for tests, sorted the way the main window's list view sorts (lstrcmpW).
#pragma once
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "PluginInventory.h"

struct VectorPluginList : qor::PluginList {
  struct Item {
    std::wstring caption, folder;
    bool checked;
  };
  std::vector<Item> items;
  void Clear() override { items.clear(); }
  int Count() const override { return static_cast<int>(items.size()); }
  std::wstring Caption(int i) const override { return items[i].caption; }
  std::wstring Folder(int i) const override { return items[i].folder; }
  bool Checked(int i) const override { return items[i].checked; }
  void AddTicked(const std::wstring& caption, const std::wstring& folder) override {
    auto at = std::upper_bound(items.begin(), items.end(), caption, [](const std::wstring& c, const Item& it) {
      return lstrcmpW(c.c_str(), it.caption.c_str()) < 0;
    });
    items.insert(at, {caption, folder, true});
  }
};
