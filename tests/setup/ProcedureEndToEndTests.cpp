// The built setup (QuorvexSetupWine.exe), started by the Total Commander double from its program folder
// and driven from outside as a user would: ticks, button clicks, the close-processes dialog and the
// message boxes; then disk, registry and wincmd.ini are checked.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "PluginInventory.h"
#include "ProcedureTestSupport.h"
#include "SetupTestSupport.h"
#include "SetupWindowDriver.h"
#include "StandInHostServer.h"

using namespace qortest;

namespace {

class SetupFromOutside : public testing::Test {
 protected:
  void SetUp() override {
    RemoveRegistration();
    DeleteFileW(L"C:\\wincmd.ini");
    install = MakeTotalCommanderInstallation(temp.path());
    totalCommander = install.root + L"\\TOTALCMD64.EXE";
    ASSERT_TRUE(CopyFileW((BinDir() + L"TOTALCMD64.exe").c_str(), totalCommander.c_str(), FALSE));
    setupExe = temp / L"QuorvexSetup.exe";
    ASSERT_TRUE(CopyFileW((BinDir() + L"QuorvexSetupWine.exe").c_str(), setupExe.c_str(), FALSE));
  }
  void TearDown() override { RemoveRegistration(); }
  static void RemoveRegistration() {
    RegDeleteTreeW(HKEY_CURRENT_USER, qor_standin::kClassKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, qor_standin::kClassKey);
  }

  // Starts the setup as Total Commander's child and waits for its window.
  std::unique_ptr<ChildProcess> StartSetup() {
    auto runner = std::make_unique<ChildProcess>(totalCommander, L"--run \"\\\"" + setupExe + L"\\\"\"");
    window = WaitForSetupWindow(0, 20000);
    EXPECT_NE(window, nullptr) << "the setup window did not appear";
    if (window) GetWindowThreadProcessId(window, &setupPid);
    return runner;
  }
  HWND PluginList() const {
    auto lists = ChildWindows(window, L"SysListView32");
    return lists.empty() ? nullptr : lists[0];
  }
  void Untick(const std::wstring& caption) {
    HWND list = PluginList();
    for (int i = 0; i < ListViewCount(list); ++i)
      if (ListViewText(list, i, 0) == caption) {
        EXPECT_TRUE(SetListViewChecked(list, i, false)) << testing::PrintToString(caption);
        return;
      }
    ADD_FAILURE() << testing::PrintToString(caption) << " is not listed";
  }
  void Click(const std::wstring& caption) {
    HWND button = ChildWithText(window, L"Button", caption);
    ASSERT_NE(button, nullptr) << testing::PrintToString(caption);
    ClickButton(button);
  }
  // The message box that ends the run, read and answered.
  MessageBoxSeen Outcome(DWORD timeoutMs = 30000) {
    HWND box = WaitForMessageBox(setupPid, timeoutMs);
    if (!box) return {};
    MessageBoxSeen seen = ReadMessageBox(box);
    AnswerMessageBox(box);
    return seen;
  }
  // A plain program that holds library until the named event is set; null when it did not get ready.
  static std::unique_ptr<ChildProcess> StartHolder(const std::wstring& library, const std::wstring& event) {
    auto holder = std::make_unique<ChildProcess>(BinDir() + L"DllHolder.exe",
                                                 L"--load " + Quoted(library) + L" --exit-event " + event);
    return WaitForReadyEvent(*holder, event) ? std::move(holder) : nullptr;
  }
  void CloseSetup(ChildProcess& runner) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(runner.WaitEnded(15000)) << "closing the window ends the program";
    EXPECT_EQ(runner.ExitCode(), 0u);
  }

  TempFolder temp;
  TotalCommanderRegistry registry;  // no registry values: the parent tells where wincmd.ini is
  TotalCommanderInstallation install;
  std::wstring totalCommander, setupExe;
  HWND window = nullptr;
  DWORD setupPid = 0;
};

}  // namespace

TEST_F(SetupFromOutside, InstallForTheCurrentUserWithAnItemUnticked) {
  auto runner = StartSetup();
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(ListViewCount(PluginList()), 3);
  Untick(L"zip.wcx");
  const DiskState before = DiskState::Of(install.root);

  Click(L"Install for current user only");
  const MessageBoxSeen box = Outcome();
  ASSERT_TRUE(box.shown) << "no message box";
  EXPECT_EQ(box.caption, L"Information");
  EXPECT_EQ(box.text, L"Installation successful");
  EXPECT_EQ(box.owner, window) << "owned by the main window";

  EXPECT_FALSE(Exists(install.Copy(L"zip")));
  EXPECT_TRUE(qor::IsProxyPluginCopy(install.Copy(L"rar")));
  EXPECT_TRUE(qor::IsProxyPluginCopy(install.Copy(L"cab")));
  EXPECT_TRUE(RegisteredIn(HKEY_CURRENT_USER));
  EXPECT_FALSE(RegisteredIn(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(IniValue(install.ini, L"PackerPlugins64", L"$checksum$"), L"0");
  EXPECT_EQ(DiskState::Of(install.root).ChangesFrom(before),
            (std::vector<std::wstring>{L"Plugins\\Quorvex\\Quorvex.exe", L"Plugins\\wcx\\cab\\cab.wcx64",
                                       L"Plugins\\wcx\\rar\\rar.wcx64", L"Plugins\\wcx\\zip\\zip.wcx64",
                                       L"wincmd.ini"}));
  EXPECT_EQ(IniSection(install.ini, L"PackerPlugins"), install.packerPlugins);
  EXPECT_EQ(ListViewCount(PluginList()), 3) << "the list is not re-read";
  CloseSetup(*runner);
}

TEST_F(SetupFromOutside, AProxyCopyHeldByTotalCommanderIsUnloadedWithoutADialog) {
  const std::wstring log = temp / L"unload.log";
  ChildProcess holder(totalCommander, L"--window --load " + Quoted(install.Copy(L"cab")) + L" --log " + Quoted(log));
  ASSERT_NE(WaitForTopLevelWindow(holder.Id(), L"TTOTAL_CMD", 15000, false), nullptr);
  auto runner = StartSetup();
  ASSERT_NE(window, nullptr);
  Click(L"Install for all users");
  const MessageBoxSeen box = Outcome();
  EXPECT_EQ(box.text, L"Installation successful");
  EXPECT_EQ(WaitForTopLevelWindow(setupPid, L"TCloseProcessForm", 0), nullptr);
  EXPECT_NE(ReadFileBytes(log).find("unload"), std::string::npos) << ReadFileBytes(log);
  EXPECT_TRUE(qor::IsProxyPluginCopy(install.Copy(L"cab")));
  EXPECT_TRUE(RegisteredIn(HKEY_LOCAL_MACHINE));
  CloseSetup(*runner);
}

TEST_F(SetupFromOutside, AProxyCopyHeldByAnotherProgramWaitsInTheDialogUntilItEnds) {
  const std::wstring event = L"qor_procedure_holder_" + std::to_wstring(GetCurrentProcessId());
  auto holder = StartHolder(install.Copy(L"zip"), event);
  ASSERT_NE(holder, nullptr) << "the holder did not start";

  auto runner = StartSetup();
  ASSERT_NE(window, nullptr);
  Click(L"Install for current user only");
  HWND dialog = WaitForTopLevelWindow(setupPid, L"TCloseProcessForm", 20000);
  ASSERT_NE(dialog, nullptr) << "the close-processes dialog did not appear";
  EXPECT_EQ(WindowText(dialog), L"Warning");
  EXPECT_FALSE(Exists(install.Copy(L"cab"))) << "the copies before the held one are deleted already";

  HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, event.c_str());
  ASSERT_NE(stop, nullptr);
  SetEvent(stop);
  CloseHandle(stop);
  EXPECT_TRUE(holder->WaitEnded(10000));
  const MessageBoxSeen box = Outcome();
  EXPECT_EQ(box.text, L"Installation successful");
  EXPECT_TRUE(qor::IsProxyPluginCopy(install.Copy(L"zip")));
  CloseSetup(*runner);
}

TEST_F(SetupFromOutside, CancelInTheDialogEndsTheRunWithoutAMessage) {
  const std::wstring event = L"qor_procedure_cancel_" + std::to_wstring(GetCurrentProcessId());
  auto holder = StartHolder(install.Copy(L"zip"), event);
  ASSERT_NE(holder, nullptr) << "the holder did not start";
  const std::string iniBefore = ReadFileBytes(install.ini);

  auto runner = StartSetup();
  ASSERT_NE(window, nullptr);
  Click(L"Install for current user only");
  HWND dialog = WaitForTopLevelWindow(setupPid, L"TCloseProcessForm", 20000);
  ASSERT_NE(dialog, nullptr) << "the close-processes dialog did not appear";
  HWND cancel = ChildWithText(dialog, L"Button", L"Cancel");
  ASSERT_NE(cancel, nullptr);
  ClickButton(cancel);
  EXPECT_EQ(WaitForMessageBox(setupPid, 3000), nullptr) << "a cancelled run shows no message";
  EXPECT_FALSE(Exists(install.Copy(L"cab"))) << "deleted before the held copy";
  EXPECT_TRUE(Exists(install.Copy(L"zip"))) << "still held";
  EXPECT_FALSE(Exists(install.HostServer()));
  EXPECT_FALSE(RegisteredIn(HKEY_CURRENT_USER));
  EXPECT_EQ(ReadFileBytes(install.ini), iniBefore);
  CloseSetup(*runner);
}

TEST_F(SetupFromOutside, ARunningHostServerIsStoppedAndReplaced) {
  {
    auto runner = StartSetup();
    ASSERT_NE(window, nullptr);
    Click(L"Install for current user only");
    ASSERT_EQ(Outcome().text, L"Installation successful");
    CloseSetup(*runner);
  }
  ChildProcess server(install.HostServer(), L"");
  ASSERT_NE(WaitForTopLevelWindow(server.Id(), qor_standin::kMainWindowClass, 15000, false), nullptr)
      << "the host server did not start";
  auto runner = StartSetup();
  ASSERT_NE(window, nullptr);
  Click(L"Install for current user only");
  EXPECT_EQ(Outcome().text, L"Installation successful");
  EXPECT_TRUE(server.WaitEnded(0)) << "the running host server was asked to quit";
  EXPECT_TRUE(Exists(install.HostServer()));
  EXPECT_TRUE(RegisteredIn(HKEY_CURRENT_USER));
  CloseSetup(*runner);
}
