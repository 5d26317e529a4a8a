// The inventory through a real list view control, as the main window uses it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "ListViewPluginList.h"
#include "SetupTestSupport.h"

using namespace qor;

TEST(ListViewPluginList, InventoryFillsARealListViewInCaptionOrder) {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  HWND lv = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 400, 300,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(lv, nullptr);
  ListView_SetExtendedListViewStyle(lv, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  LVCOLUMNW col = {};
  col.mask = LVCF_TEXT | LVCF_WIDTH;
  col.cx = 100;
  col.pszText = const_cast<wchar_t*>(L"File");
  SendMessageW(lv, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
  col.pszText = const_cast<wchar_t*>(L"Path");
  SendMessageW(lv, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));

  qortest::TempFolder temp;
  std::wstring longFolder = L"C:\\" + std::wstring(700, L'f');
  qortest::WriteFileBytes(temp / L"wincmd.ini",
                          "[PackerPlugins]\r\nz=C:\\P\\zip.wcx\r\nb=1,C:\\P\\Bzip.wcx\r\na=C:\\P\\arj.wcx\r\n"
                          "r=287,C:\\Q\\rar.wcx\r\nl=" +
                              std::string(longFolder.begin(), longFolder.end()) + "\\long.wcx\r\n");
  ListViewPluginList list(lv);
  PluginInventory(temp / L"wincmd.ini", list);
  // lstrcmpW is a word sort that ignores case first: arj, Bzip, long, rar, zip.
  const wchar_t* captions[] = {L"arj.wcx", L"Bzip.wcx", L"long.wcx", L"rar.wcx", L"zip.wcx"};
  ASSERT_EQ(list.Count(), 5);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list.Caption(i), captions[i]);
    EXPECT_TRUE(list.Checked(i));
  }
  EXPECT_EQ(list.Folder(2), longFolder) << "a folder longer than the first buffer";
  EXPECT_EQ(PluginPath(list, 3), L"C:\\Q\\rar.wcx");
  ListView_SetCheckState(lv, 0, FALSE);
  EXPECT_FALSE(list.Checked(0));
  EXPECT_TRUE(AnyPluginTicked(list));
  PluginInventory(L"", list);
  EXPECT_EQ(list.Count(), 0);
  DestroyWindow(lv);
}
