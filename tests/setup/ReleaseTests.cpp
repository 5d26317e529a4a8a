// Which processes hold a file, the unload command to Total Commander, releasing a proxy copy and stopping
// host servers, all with real processes: the Total Commander double (TOTALCMD64.EXE and copies of it under
// other names), a plain program that holds libraries, the stand-in host server and windows that play or
// only look like a host server's. The close-processes dialog is found from a watcher thread, read back and
// ended as a user would end it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Error.h"
#include "FileTestSupport.h"
#include "Format.h"
#include "JvqorSelfInfo.h"
#include "PathParts.h"
#include "QuorvexSetupLang.h"
#include "QuorvexSetupUtils.h"
#include "RunningProcesses.h"
#include "SetupModules.h"
#include "TextCompare.h"
#include "qorLang.h"
#include "qorShellBaseExtension.h"

namespace qor {
void PrintTo(ReleaseResult result, std::ostream* out) {
  *out << (result == ReleaseResult::Released ? "Released" : "Cancelled");
}
}  // namespace qor

using namespace qor;
using namespace qortest;

namespace {

class ModulesEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    StartSetupModules();
    SetLanguage(LangEnglish);
  }
  void TearDown() override { StopSetupModules(); }
};
const auto* const environment = testing::AddGlobalTestEnvironment(new ModulesEnvironment);

std::wstring WindowClass(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

struct WindowSearch {
  DWORD processId;
  std::wstring className;
  HWND found = nullptr;
};

BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM param) noexcept {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && WindowClass(window) == search->className) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopLevelWindow(DWORD processId, const std::wstring& className) {
  WindowSearch search{processId, className};
  EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Waits until the child shows a top-level window of that class (the doubles' sign of being ready).
HWND WaitForWindow(const ChildProcess& child, const std::wstring& className, DWORD timeoutMs = 15000) {
  ULONGLONG end = GetTickCount64() + timeoutMs;
  do {
    if (HWND window = FindTopLevelWindow(child.Id(), className)) return window;
    if (!child.Running()) return nullptr;
    Sleep(20);
  } while (GetTickCount64() < end);
  return nullptr;
}

std::string ReadLog(const std::wstring& path) { return Exists(path) ? ReadFileBytes(path) : std::string(); }

std::vector<std::string> LogLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadLog(path));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string Joined(const std::vector<std::wstring>& texts) {
  std::string out;
  for (const std::wstring& t : texts) {
    if (!out.empty()) out += " | ";
    out += Narrow(t);
  }
  return out;
}

std::vector<DWORD> Ids(const ProcessList& list) {
  std::vector<DWORD> ids;
  for (const ProcessEntry& e : list) ids.push_back(e.ProcessId);
  return ids;
}

std::string IdText(const std::vector<DWORD>& ids) {
  std::string out;
  for (DWORD id : ids) {
    if (!out.empty()) out += ' ';
    out += std::to_string(id);
  }
  return out;
}

// The dialog that ReleaseFile shows on this thread, seen from a watcher thread: its list box is read
// and then the test's action ends it (by default the Cancel button is pressed). The watcher only looks
// at windows without sending messages until the dialog exists, so it never waits on this thread while
// this thread waits on another program.
struct DialogObservation {
  bool shown = false;
  std::vector<std::wstring> items;
};

BOOL CALLBACK FindChildOfClass(HWND window, LPARAM param) noexcept {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  if (CompareStringOrdinal(WindowClass(window).c_str(), -1, search->className.c_str(), -1, TRUE) == CSTR_EQUAL) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindChild(HWND parent, const std::wstring& className) {
  WindowSearch search{0, className};
  EnumChildWindows(parent, FindChildOfClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<std::wstring> ListBoxItems(HWND listBox) {
  std::vector<std::wstring> items;
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(listBox, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 5000, &count) || count == static_cast<DWORD_PTR>(LB_ERR))
    return items;
  for (WPARAM i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(listBox, LB_GETTEXTLEN, i, 0, SMTO_NORMAL, 5000, &length);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, 5000, &copied);
    text.resize(copied == static_cast<DWORD_PTR>(LB_ERR) ? 0 : copied);
    items.push_back(text);
  }
  return items;
}

struct ReleaseRun {
  std::optional<ReleaseResult> result;
  std::wstring error;  // the message of a raised error
  ULONGLONG ms = 0;
  DialogObservation dialog;
};

const char* ResultName(const std::optional<ReleaseResult>& r) {
  if (!r) return "raised";
  return *r == ReleaseResult::Released ? "Released" : "Cancelled";
}

// Runs ReleaseFile(file) here while a watcher waits for the close-processes dialog. When the dialog
// appears the watcher reads its list and runs onDialog (null: presses Cancel). A dialog still open after
// that is closed through its close box after a while, so that a fault never hangs the test program.
ReleaseRun RunRelease(const std::wstring& file, std::function<void()> onDialog = nullptr) {
  ReleaseRun run;
  std::atomic<bool> done{false};
  const DWORD self = GetCurrentProcessId();
  std::thread watcher([&] {
    HWND dialog = nullptr;
    while (!done && !dialog) {
      dialog = FindTopLevelWindow(self, L"TCloseProcessForm");
      if (dialog && !IsWindowVisible(dialog)) dialog = nullptr;
      if (!dialog) Sleep(20);
    }
    if (!dialog) return;
    run.dialog.shown = true;
    if (HWND list = FindChild(dialog, L"ListBox")) run.dialog.items = ListBoxItems(list);
    if (onDialog) {
      onDialog();
    } else if (HWND cancel = FindChild(dialog, L"Button")) {
      PostMessageW(cancel, BM_CLICK, 0, 0);
    }
    ULONGLONG giveUp = GetTickCount64() + 10000;
    while (!done && GetTickCount64() < giveUp) Sleep(20);
    if (!done) PostMessageW(dialog, WM_CLOSE, 0, 0);
  });
  ULONGLONG start = GetTickCount64();
  try {
    run.result = ReleaseFile(file);
  } catch (const Error& e) {
    run.error = e.message();
  }
  run.ms = GetTickCount64() - start;
  done = true;
  watcher.join();
  return run;
}

// A fixture folder with a proxy copy to release and a log file for the doubles.
class Release : public testing::Test {
 protected:
  void SetUp() override {
    file = temp / L"Plugins\\zip.wcx64";
    CreateDirectoryW((temp / L"Plugins").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((BinDir() + L"sibling_proxy.wcx64").c_str(), file.c_str(), FALSE))
        << "error " << GetLastError();
    log = temp / L"commands.log";
  }
  // A Total Commander double (or a copy of it under another name) that loads the proxy copy.
  std::unique_ptr<ChildProcess> StartCommander(const std::wstring& extra = L"", const std::wstring& exe = L"") {
    auto child = std::make_unique<ChildProcess>(exe.empty() ? BinDir() + L"TOTALCMD64.exe" : exe,
                                         L"--window --load " + Quoted(file) + L" --log " + Quoted(log) + L" " + extra);
    EXPECT_TRUE(child->Started()) << "error " << child->StartError();
    EXPECT_NE(WaitForWindow(*child, L"TTOTAL_CMD"), nullptr) << "exit code " << child->ExitCode();
    return child;
  }
  std::unique_ptr<ChildProcess> StartHolder(const std::wstring& library) {
    static int counter = 0;
    std::wstring event = L"qor_release_holder_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                         std::to_wstring(++counter);
    auto child = std::make_unique<ChildProcess>(BinDir() + L"DllHolder.exe",
                                         L"--load " + Quoted(library) + L" --exit-event " + event);
    EXPECT_TRUE(child->Started()) << "error " << child->StartError();
    EXPECT_TRUE(WaitForReadyEvent(*child, event)) << "holder not ready, exit code " << child->ExitCode();
    return child;
  }
  static std::wstring ImagePath(const ChildProcess& child) { return GetProcessImagePath(child.Id()); }

  TempFolder temp;
  std::wstring file;
  std::wstring log;
};

TEST_F(Release, AbsentOrAtOnceDeletableFileNeedsNoDialog) {
  struct Case {
    const char* name;
    bool create;
  } cases[] = {{"absent", false}, {"deletable", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring path = temp / L"other.wcx64";
    if (c.create) WriteFileBytes(path, "x");
    ReleaseRun run = RunRelease(path);
    EXPECT_EQ(run.result, ReleaseResult::Released) << ResultName(run.result) << " " << Narrow(run.error);
    EXPECT_FALSE(run.dialog.shown);
    EXPECT_FALSE(Exists(path));
  }
}

TEST_F(Release, FileHeldOnlyByTotalCommanderIsUnloadedAndDeletedWithoutDialog) {
  auto commander = StartCommander();
  ASSERT_TRUE(commander->Running());
  SetLastError(0xDEADBEEF);
  ASSERT_FALSE(DeleteFileW(file.c_str())) << "the double does not hold the file";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  ReleaseRun run = RunRelease(file);
  EXPECT_EQ(run.result, ReleaseResult::Released) << ResultName(run.result) << " " << Narrow(run.error);
  EXPECT_FALSE(run.dialog.shown) << Joined(run.dialog.items);
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(LogLines(log), std::vector<std::string>{std::to_string(commander->Id()) + " TTOTAL_CMD unload"});
  EXPECT_TRUE(commander->Running()) << "Total Commander is asked, never ended";
}

TEST_F(Release, TwoTotalCommandersAreAskedLastEntryFirst) {
  auto first = StartCommander();
  auto second = StartCommander();
  ProcessList before;
  GetProcessesUsingFile(file, before);
  ASSERT_EQ(before.size(), 2u) << IdText(Ids(before));

  ReleaseRun run = RunRelease(file);
  EXPECT_EQ(run.result, ReleaseResult::Released) << ResultName(run.result) << " " << Narrow(run.error);
  EXPECT_FALSE(run.dialog.shown) << Joined(run.dialog.items);
  EXPECT_FALSE(Exists(file));
  std::vector<std::string> expected;
  for (auto e = before.rbegin(); e != before.rend(); ++e) expected.push_back(std::to_string(e->ProcessId) + " TTOTAL_CMD unload");
  EXPECT_EQ(LogLines(log), expected) << "snapshot order " << IdText(Ids(before));
}

TEST_F(Release, DialogListsOnlyTheHoldersLeftAfterTotalCommanderUnloaded) {
  auto commander = StartCommander();
  auto holder = StartHolder(file);
  std::wstring holderPath = ImagePath(*holder);

  ReleaseRun run = RunRelease(file, [&] { holder->End(); });
  EXPECT_EQ(run.result, ReleaseResult::Released) << ResultName(run.result) << " " << Narrow(run.error);
  ASSERT_TRUE(run.dialog.shown) << Narrow(run.error);
  ASSERT_EQ(run.dialog.items.size(), 1u) << Joined(run.dialog.items);
  EXPECT_TRUE(SameText(run.dialog.items[0], holderPath)) << Narrow(run.dialog.items[0]) << " vs " << Narrow(holderPath);
  EXPECT_EQ(LogLines(log), std::vector<std::string>{std::to_string(commander->Id()) + " TTOTAL_CMD unload"});
  EXPECT_FALSE(Exists(file));
  EXPECT_TRUE(commander->Running());
}

TEST_F(Release, CancelInTheDialogIsCancelledAndLeavesEverything) {
  auto holder = StartHolder(file);
  ReleaseRun run = RunRelease(file);
  EXPECT_EQ(run.result, ReleaseResult::Cancelled) << ResultName(run.result) << " " << Narrow(run.error);
  EXPECT_TRUE(run.dialog.shown) << Narrow(run.error);
  EXPECT_TRUE(Exists(file));
  EXPECT_TRUE(holder->Running()) << "other programs are never ended by the setup";
}

// Total Commanders that are not recognised, or that do not let go in time, stay in the list: the dialog
// shows them, and ending them lets the dialog delete the file.
TEST_F(Release, TotalCommanderThatStillHoldsTheFileIsShownInTheDialog) {
  std::wstring copy = temp / L"TCMD64COPY.EXE";
  ASSERT_TRUE(CopyFileW((BinDir() + L"TOTALCMD64.exe").c_str(), copy.c_str(), FALSE)) << GetLastError();
  struct Case {
    const char* name;
    std::wstring options, exe;
    const char* logged;  // the word the double logs, or null when it must not be asked at all
  } cases[] = {
      {"copy under another name", L"", copy, nullptr},
      {"ignores the command", L"--ignore-unload", L"", "ignore"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(log.c_str());
    auto commander = StartCommander(c.options, c.exe);
    std::wstring path = ImagePath(*commander);
    ReleaseRun run = RunRelease(file, [&] { commander->End(); });
    EXPECT_EQ(run.result, ReleaseResult::Released) << ResultName(run.result) << " " << Narrow(run.error);
    EXPECT_TRUE(run.dialog.shown) << Narrow(run.error);
    EXPECT_EQ(run.dialog.items.size(), 1u) << Joined(run.dialog.items);
    if (!run.dialog.items.empty()) {
      EXPECT_TRUE(SameText(run.dialog.items[0], path)) << Narrow(run.dialog.items[0]) << " vs " << Narrow(path);
    }
    std::vector<std::string> expected;
    if (c.logged) expected.push_back(std::to_string(commander->Id()) + " TTOTAL_CMD " + c.logged);
    EXPECT_EQ(LogLines(log), expected);
    EXPECT_FALSE(Exists(file));
    CopyFileW((BinDir() + L"sibling_proxy.wcx64").c_str(), file.c_str(), FALSE);
  }
}

TEST_F(Release, HungTotalCommanderDoesNotHangTheSetup) {
  // Its window thread wakes up again after 20 s: an unbounded send would take that long.
  auto commander = StartCommander(L"--hang --lifetime 20000");
  std::wstring path = ImagePath(*commander);
  ReleaseRun run = RunRelease(file);
  std::printf("ReleaseFile with a hung Total Commander: %llu ms until the dialog was cancelled\n", run.ms);
  EXPECT_EQ(run.result, ReleaseResult::Cancelled) << ResultName(run.result) << " " << Narrow(run.error);
  EXPECT_LT(run.ms, 9000u) << "the unload command is bounded by a few seconds";
  EXPECT_TRUE(run.dialog.shown) << Narrow(run.error);
  ASSERT_EQ(run.dialog.items.size(), 1u) << Joined(run.dialog.items);
  EXPECT_TRUE(SameText(run.dialog.items[0], path)) << Narrow(run.dialog.items[0]);
  EXPECT_EQ(LogLines(log), std::vector<std::string>{std::to_string(commander->Id()) + " TTOTAL_CMD hang"});
}

TEST_F(Release, UndeletableFileHeldByNobodyRaisesErrorUpdateFileAtOnce) {
  struct Case {
    const char* name;
    DWORD expectedCode;
    bool readOnly;
  } cases[] = {{"read-only", ERROR_ACCESS_DENIED, true}, {"open without sharing", ERROR_SHARING_VIOLATION, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring path = temp / L"locked.wcx64";
    WriteFileBytes(path, "x");
    FileHandle open;
    if (c.readOnly) {
      ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    } else {
      open.reset(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(open) << GetLastError();
    }
    SetLastError(0xDEADBEEF);
    ASSERT_FALSE(DeleteFileW(path.c_str()));
    ASSERT_EQ(GetLastError(), c.expectedCode);

    ReleaseRun run = RunRelease(path);
    EXPECT_FALSE(run.result.has_value()) << ResultName(run.result);
    EXPECT_FALSE(run.dialog.shown);
    std::wstring expected = FormatText(GetLangStr(L"ErrorUpdateFile"), {path, SystemErrorText(c.expectedCode)});
    EXPECT_EQ(run.error, expected) << Narrow(run.error);
    std::string code = "Code: " + std::to_string(c.expectedCode) + ".";
    EXPECT_EQ(Narrow(run.error).rfind("Could not update " + Narrow(path) + ". Error: System Error.  " + code, 0), 0u)
        << Narrow(run.error);
    EXPECT_LT(run.ms, 2000u);
    open.reset();
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  }
}

using ProcessesUsingFile = Release;

TEST_F(ProcessesUsingFile, FindsTheHolderByWholePathInAnyLetterCase) {
  std::wstring other = temp / L"Other\\zip.wcx64";
  CreateDirectoryW((temp / L"Other").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(file.c_str(), other.c_str(), FALSE));
  auto holder = StartHolder(file);
  std::wstring holderPath = ImagePath(*holder);
  ASSERT_TRUE(SameText(ExtractFileName(holderPath), L"DllHolder.exe")) << Narrow(holderPath);

  struct Case {
    const char* name;
    std::wstring query;
    bool found;
  } cases[] = {
      {"same path", file, true},
      {"upper case", UpperCase(file), true},
      {"lower case", std::wstring(file.begin(), file.end()), true},
      {"same name in another folder", other, false},
      {"leading part of the path", file.substr(0, file.size() - 2), false},
      {"longer path", file + L"x", false},
  };
  CharLowerBuffW(cases[2].query.data(), static_cast<DWORD>(cases[2].query.size()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Appends: what the list held stays in front.
    ProcessList list{{L"earlier entry", 1}};
    GetProcessesUsingFile(c.query, list);
    ASSERT_EQ(list.size(), c.found ? 2u : 1u) << IdText(Ids(list)) << " for " << Narrow(c.query);
    EXPECT_EQ(list[0].Text, L"earlier entry");
    if (c.found) {
      EXPECT_EQ(list[1].ProcessId, holder->Id());
      EXPECT_TRUE(SameText(list[1].Text, holderPath)) << Narrow(list[1].Text);
    }
  }
}

// The process ids of the snapshot, in its order.
std::vector<DWORD> SnapshotOrder() {
  std::vector<DWORD> ids;
  SnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
    ids.push_back(entry.th32ProcessID);
  return ids;
}

TEST_F(ProcessesUsingFile, OneEntryPerProcessInSnapshotOrder) {
  std::wstring event = L"qor_release_twice_" + std::to_wstring(GetCurrentProcessId());
  // One holder loads the file twice (once through another spelling of its path).
  std::wstring upper = UpperCase(file);
  ChildProcess twice(BinDir() + L"DllHolder.exe", L"--load " + Quoted(file) + L" --load " + Quoted(upper) +
                                                L" --exit-event " + event);
  ASSERT_TRUE(twice.Started());
  auto once = StartHolder(file);
  auto commander = StartCommander();
  // The first holder is ready by now too, or has ended.
  WaitForReadyEvent(twice, event);
  ASSERT_TRUE(twice.Running()) << "exit code " << twice.ExitCode();

  ProcessList list;
  GetProcessesUsingFile(file, list);
  std::vector<DWORD> expected;
  for (DWORD id : SnapshotOrder())
    if (id == twice.Id() || id == once->Id() || id == commander->Id()) expected.push_back(id);
  EXPECT_EQ(Ids(list), expected) << "found " << IdText(Ids(list)) << ", snapshot order " << IdText(expected);
  for (const ProcessEntry& e : list) EXPECT_TRUE(SameText(e.Text, GetProcessImagePath(e.ProcessId))) << Narrow(e.Text);
}

TEST_F(ProcessesUsingFile, NobodyForAFileNoProcessLoaded) {
  auto commander = StartCommander();
  std::wstring unused = temp / L"Plugins\\unused.wcx64";
  ASSERT_TRUE(CopyFileW(file.c_str(), unused.c_str(), FALSE));
  ProcessList list;
  GetProcessesUsingFile(unused, list);
  EXPECT_TRUE(list.empty()) << IdText(Ids(list));
  GetProcessesUsingFile(temp / L"Plugins\\missing.wcx64", list);
  EXPECT_TRUE(list.empty()) << IdText(Ids(list));
}

using UnloadCommand = Release;

// Class names are atoms of the window station, compared without letter case: a class registered in other
// letters while one of the right spelling exists reads back in the first spelling. So the spelling that
// differs only in letter case is tried while no other double runs, and read back before it is relied on.
TEST_F(UnloadCommand, ClassNameInOtherLettersIsNotTotalCommander) {
  ChildProcess lowerCase(BinDir() + L"TOTALCMD64.exe", L"--window --windows 0 --decoy ttotal_cmd --load " + Quoted(file) +
                                                    L" --log " + Quoted(log));
  ASSERT_TRUE(lowerCase.Started());
  ASSERT_NE(WaitForWindow(lowerCase, L"ttotal_cmd"), nullptr) << "exit code " << lowerCase.ExitCode();
  UnloadTotalCommanderPlugins(lowerCase.Id());
  EXPECT_EQ(LogLines(log), std::vector<std::string>{}) << "the class is compared with its letter case";
  ProcessList list;
  GetProcessesUsingFile(file, list);
  EXPECT_EQ(Ids(list), std::vector<DWORD>{lowerCase.Id()}) << "it still holds the file";
}

TEST_F(UnloadCommand, GoesToEveryTotalCommanderWindowOfThatProcessOnly) {
  // Two main windows and a window whose class differs in its last letter.
  auto target = StartCommander(L"--windows 2 --decoy TTOTAL_CMC");
  auto bystander = StartCommander();

  UnloadTotalCommanderPlugins(target->Id());
  std::string id = std::to_string(target->Id());
  EXPECT_EQ(LogLines(log), (std::vector<std::string>{id + " TTOTAL_CMD unload", id + " TTOTAL_CMD unload"}));
  ProcessList list;
  GetProcessesUsingFile(file, list);
  EXPECT_EQ(Ids(list), std::vector<DWORD>{bystander->Id()}) << "the target has let go, the bystander not";
}

// Host servers: the stand-in (quits at the message), a window that ignores it, and windows that only look
// like a host server's.
class HostServers : public testing::Test {
 protected:
  std::unique_ptr<ChildProcess> StartWindow(const std::wstring& exe, const std::wstring& arguments, const std::wstring& cls) {
    auto child = std::make_unique<ChildProcess>(exe, arguments);
    EXPECT_TRUE(child->Started()) << Narrow(exe) << " error " << child->StartError();
    EXPECT_NE(WaitForWindow(*child, cls), nullptr) << Narrow(exe) << " exit code " << child->ExitCode();
    return child;
  }
  std::unique_ptr<ChildProcess> StartStandIn() {
    return StartWindow(BuildFile(L"payload\\x86_64\\Quorvex.exe"), L"", L"TQuorvexMainForm");
  }
  std::unique_ptr<ChildProcess> StartLookalike(const std::wstring& cls, const std::wstring& text, const std::wstring& extra = L"") {
    return StartWindow(BinDir() + L"HostWindowDouble.exe",
                       L"--class " + Quoted(cls) + L" --text " + Quoted(text) + L" --log " + Quoted(log) + L" " + extra,
                       cls);
  }
  static ULONGLONG TimedCloseHostServers() {
    ULONGLONG start = GetTickCount64();
    CloseHostServers();
    return GetTickCount64() - start;
  }
  TempFolder temp;
  std::wstring log = temp / L"quit.log";
};

TEST_F(HostServers, TwoThatQuitAtTheMessageEndLongBeforeTheGracePeriod) {
  auto first = StartStandIn();
  auto second = StartStandIn();
  ULONGLONG ms = TimedCloseHostServers();
  std::printf("CloseHostServers, two stand-ins that quit: %llu ms\n", ms);
  EXPECT_LT(ms, 1500u);
  // Gone when the call returns, and by their own exit.
  EXPECT_EQ(WaitForSingleObject(first->Handle(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(second->Handle(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(first->ExitCode(), 0u);
  EXPECT_EQ(second->ExitCode(), 0u);
}

TEST_F(HostServers, OneThatIgnoresTheMessageIsTerminatedAfterTheGracePeriodAndGone) {
  auto stubborn = StartLookalike(L"TQuorvexMainForm", L"Quorvex", L"--ignore-quit");
  auto standIn = StartStandIn();
  ULONGLONG ms = TimedCloseHostServers();
  std::printf("CloseHostServers, one server that ignores the message: %llu ms\n", ms);
  EXPECT_GE(ms, 2900u);
  EXPECT_LT(ms, 5000u);
  EXPECT_EQ(LogLines(log), std::vector<std::string>{std::to_string(stubborn->Id()) + " ignore"});
  EXPECT_EQ(WaitForSingleObject(stubborn->Handle(), 0), WAIT_OBJECT_0) << "still running when the call returned";
  EXPECT_EQ(stubborn->ExitCode(), 0u) << "terminated with exit code 0";
  EXPECT_EQ(WaitForSingleObject(standIn->Handle(), 0), WAIT_OBJECT_0);
}

// See ClassNameInOtherLettersIsNotTotalCommander: the class in other letters runs alone.
TEST_F(HostServers, ClassNameInOtherLettersIsLeftAlone) {
  auto lookalike = StartLookalike(L"tquorvexmainform", L"Quorvex");
  ULONGLONG ms = TimedCloseHostServers();
  EXPECT_LT(ms, 500u) << "nothing to wait for";
  EXPECT_EQ(LogLines(log), std::vector<std::string>{}) << "not asked to quit";
  EXPECT_TRUE(lookalike->Running());
}

TEST_F(HostServers, LookalikeWindowsAreLeftAlone) {
  struct Case {
    std::wstring cls, text;
  } cases[] = {
      {L"TQuorvexMainForm", L"quorvex"},  {L"TQuorvexMainForm", L"QUORVEX"}, {L"TQuorvexMainForm", L"Quorvex "},
      {L"TQuorvexMainForm", L"Quorvax"},  {L"TQuorvexMainForX", L"Quorvex"},
      {L"TQuorvexMainForm2", L"Quorvex"}, {L"TQuorvexMainForm", L""},
  };
  std::vector<std::unique_ptr<ChildProcess>> lookalikes;
  for (const Case& c : cases) lookalikes.push_back(StartLookalike(c.cls, c.text));
  ULONGLONG ms = TimedCloseHostServers();
  std::printf("CloseHostServers, only lookalike windows: %llu ms\n", ms);
  EXPECT_LT(ms, 500u) << "nothing to wait for";
  EXPECT_EQ(LogLines(log), std::vector<std::string>{}) << "none is asked to quit";
  for (size_t i = 0; i < lookalikes.size(); ++i)
    EXPECT_TRUE(lookalikes[i]->Running()) << Narrow(cases[i].cls) << " / " << Narrow(cases[i].text);
}

TEST_F(HostServers, NoneRunningReturnsAtOnce) {
  ULONGLONG ms = TimedCloseHostServers();
  std::printf("CloseHostServers, no host server: %llu ms\n", ms);
  EXPECT_LT(ms, 200u);
}

}  // namespace
