// Registration of the host server: the switch and the verb for every action, scope, user and Windows
// version, the real stand-in host server writing and removing its class in the prefix registry, and
// the outcomes of a failing server, a missing file and a declined prompt.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <string>
#include <thread>

#include "Error.h"
#include "FileTestSupport.h"
#include "HostServerRegistration.h"
#include "QuorvexSetupLang.h"
#include "QuorvexSetupUtils.h"
#include "StandInHostServer.h"
#include "qorLang.h"

using namespace qor;
using namespace qortest;

namespace {

// What the last ShellExecuteExW call was given, and what the stand-in does.
struct ShellExecuteRecord {
  int calls = 0;
  std::wstring verb, file, parameters;
  bool verbGiven = false;
  bool directoryGiven = false;
  ULONG mask = 0;
  HWND owner = nullptr;
  int show = -1;
  HANDLE process = nullptr;  // as handed back to the code under test
  // FALSE with this error when set; otherwise the real ShellExecuteExW runs.
  DWORD failWith = 0;
  bool dropProcess = false;  // succeed without a process handle
};
ShellExecuteRecord g_record;

BOOL WINAPI RecordingShellExecuteEx(SHELLEXECUTEINFOW* info) {
  ++g_record.calls;
  g_record.verbGiven = info->lpVerb != nullptr;
  g_record.verb = info->lpVerb ? info->lpVerb : L"";
  g_record.file = info->lpFile ? info->lpFile : L"";
  g_record.parameters = info->lpParameters ? info->lpParameters : L"";
  g_record.directoryGiven = info->lpDirectory != nullptr;
  g_record.mask = info->fMask;
  g_record.owner = info->hwnd;
  g_record.show = info->nShow;
  if (g_record.failWith) {
    SetLastError(g_record.failWith);
    return FALSE;
  }
  if (g_record.dropProcess) {
    info->hProcess = nullptr;
    return TRUE;
  }
  BOOL ok = ::ShellExecuteExW(info);
  g_record.process = ok ? info->hProcess : nullptr;
  return ok;
}

int g_adminCalls = 0;
bool g_admin = true;
bool PlayedAdmin() {
  ++g_adminCalls;
  return g_admin;
}

bool ClassRegistered(HKEY root, std::wstring* server = nullptr) {
  HKEY key = nullptr;
  std::wstring path = std::wstring(qor_standin::kClassKey) + L"\\LocalServer32";
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  wchar_t value[1024] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  LSTATUS rc = RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (server) *server = value;
  return rc == ERROR_SUCCESS;
}

void RemoveClass(HKEY root) { RegDeleteTreeW(root, qor_standin::kClassKey); }

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The shell reports a failed start in a message box of its own before it returns (the mask asks for its
// user interface): this closes every such box of this process until stopped, and counts them.
class SystemBoxCloser {
 public:
  SystemBoxCloser() : thread_([this] { Run(); }) {}
  ~SystemBoxCloser() {
    stop_ = true;
    thread_.join();
  }
  int Closed() const { return closed_; }

 private:
  void Run() {
    while (!stop_) {
      EnumWindows(
          [](HWND window, LPARAM param) -> BOOL {
            auto* self = reinterpret_cast<SystemBoxCloser*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            wchar_t cls[64] = {};
            GetClassNameW(window, cls, 64);
            if (pid == GetCurrentProcessId() && IsWindowVisible(window) && lstrcmpW(cls, L"#32770") == 0) {
              ++self->closed_;
              PostMessageW(window, WM_CLOSE, 0, 0);
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(this));
      Sleep(50);
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<int> closed_{0};
  std::thread thread_;
};

class Registration : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    InitializeQorLang();
    InitializeQuorvexSetupLang();
    InitializeQuorvexSetupUtils();
  }
  static void TearDownTestSuite() {
    FinalizeQuorvexSetupUtils();
    FinalizeQuorvexSetupLang();
    FinalizeQorLang();
    CoUninitialize();
  }
  void SetUp() override {
    g_record = {};
    g_adminCalls = 0;
    g_admin = true;
    SetLanguage(LangEnglish);
    RemoveClass(HKEY_CURRENT_USER);
    RemoveClass(HKEY_LOCAL_MACHINE);
  }
  void TearDown() override {
    SetShellExecuteExForTesting(nullptr);
    SetIsUserAdminForTesting(nullptr);
    SetWindowsMajorVersionForTesting(0);
    SetLanguage(LangEnglish);
    RemoveClass(HKEY_CURRENT_USER);
    RemoveClass(HKEY_LOCAL_MACHINE);
  }
  // The stand-in host server as the setup writes it: Quorvex.exe in a folder of its own.
  std::wstring StandIn() {
    std::wstring target = temp / L"Quorvex.exe";
    std::wstring source = BuildFile(L"payload\\x86_64\\Quorvex.exe");
    SetLastError(0xDEADBEEF);
    EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << Narrow(source) << " error " << GetLastError();
    return target;
  }
  // A host server that records its command line and fails with exit code 5, also named Quorvex.exe.
  std::wstring FailingServer() {
    std::wstring target = temp / L"Quorvex.exe";
    std::wstring source = BinDir() + L"registration_exit_five.exe";
    SetLastError(0xDEADBEEF);
    EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << Narrow(source) << " error " << GetLastError();
    return target;
  }
  TempFolder temp;
};

}  // namespace

TEST_F(Registration, SwitchAndVerbFollowActionScopeUserAndWindowsVersion) {
  const struct {
    bool install, perUser;
    DWORD windowsMajor;
    bool admin;
    const wchar_t* parameters;
    const wchar_t* verb;  // null: no verb at all
    int adminTests;       // how often the administrator test is asked
  } cases[] = {
      {true, false, 10, true, L"/REGSERVER", nullptr, 1},
      {true, false, 10, false, L"/REGSERVER", L"runas", 1},
      {true, false, 6, false, L"/REGSERVER", L"runas", 1},
      {true, false, 5, false, L"/REGSERVER", nullptr, 0},
      {true, true, 10, true, L"/REGSERVERPERUSER", nullptr, 0},
      {true, true, 10, false, L"/REGSERVERPERUSER", nullptr, 0},
      {true, true, 5, false, L"/REGSERVERPERUSER", nullptr, 0},
      {false, false, 10, true, L"/UNREGSERVER", nullptr, 1},
      {false, false, 10, false, L"/UNREGSERVER", L"runas", 1},
      {false, false, 5, false, L"/UNREGSERVER", nullptr, 0},
      {false, true, 10, true, L"/UNREGSERVERPERUSER", nullptr, 0},
      {false, true, 10, false, L"/UNREGSERVERPERUSER", nullptr, 0},
      {false, true, 5, true, L"/UNREGSERVERPERUSER", nullptr, 0},
  };
  const std::wstring server = StandIn();
  SetShellExecuteExForTesting(RecordingShellExecuteEx);
  SetIsUserAdminForTesting(PlayedAdmin);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "install " << c.install << " perUser " << c.perUser << " Windows "
                                    << c.windowsMajor << " admin " << c.admin);
    g_record = {};
    g_adminCalls = 0;
    g_admin = c.admin;
    SetWindowsMajorVersionForTesting(c.windowsMajor);
    EXPECT_TRUE(RegisterHostServer(server, c.install, c.perUser));
    ASSERT_EQ(g_record.calls, 1);
    EXPECT_EQ(g_record.parameters, c.parameters);
    EXPECT_EQ(g_record.verbGiven, c.verb != nullptr) << "verb " << Narrow(g_record.verb);
    if (c.verb) {
      EXPECT_EQ(g_record.verb, c.verb);
    }
    EXPECT_EQ(g_adminCalls, c.adminTests);
    EXPECT_EQ(g_record.file, server);
    EXPECT_EQ(g_record.mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI));
    EXPECT_EQ(g_record.owner, nullptr);
    EXPECT_FALSE(g_record.directoryGiven);
    EXPECT_EQ(g_record.show, SW_SHOWNORMAL);
  }
}

TEST_F(Registration, ElevationNeededAsksTheAdministratorTestAfreshEachTime) {
  SetIsUserAdminForTesting(PlayedAdmin);
  const struct {
    DWORD windowsMajor;
    bool admin, needed;
    int adminTests;
  } cases[] = {{5, false, false, 0}, {5, true, false, 0}, {6, false, true, 1},
               {6, true, false, 1},  {10, false, true, 1}, {10, true, false, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "Windows " << c.windowsMajor << " admin " << c.admin);
    SetWindowsMajorVersionForTesting(c.windowsMajor);
    g_admin = c.admin;
    g_adminCalls = 0;
    EXPECT_EQ(ElevationNeeded(), c.needed);
    EXPECT_EQ(g_adminCalls, c.adminTests);
  }
  // Rights that change between calls are seen at the next call.
  SetWindowsMajorVersionForTesting(10);
  g_admin = true;
  EXPECT_FALSE(ElevationNeeded());
  g_admin = false;
  EXPECT_TRUE(ElevationNeeded());
}

TEST_F(Registration, TheWineUserIsAnAdministrator) {
  // A second opinion from the shell's own test; Wine runs its user as an administrator.
  EXPECT_EQ(IsUserAdmin(), IsUserAnAdmin() != FALSE);
  EXPECT_TRUE(IsUserAdmin());
}

TEST_F(Registration, StandInRegistersAndUnregistersForEachScope) {
  const std::wstring server = StandIn();
  const struct {
    bool perUser;
    HKEY root, other;
    const char* name;
  } scopes[] = {{true, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, "current user"},
                {false, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, "all users"}};
  for (const auto& s : scopes) {
    SCOPED_TRACE(s.name);
    ASSERT_FALSE(ClassRegistered(s.root));
    EXPECT_TRUE(RegisterHostServer(server, true, s.perUser));
    std::wstring localServer;
    EXPECT_TRUE(ClassRegistered(s.root, &localServer));
    EXPECT_TRUE(SameText(localServer, L"\"" + server + L"\"")) << Narrow(localServer);
    EXPECT_FALSE(ClassRegistered(s.other)) << "the other scope stays untouched";
    EXPECT_TRUE(RegisterHostServer(server, false, s.perUser));
    EXPECT_FALSE(ClassRegistered(s.root));
    // Removing an absent registration succeeds as well.
    EXPECT_TRUE(RegisterHostServer(server, false, s.perUser));
  }
}

TEST_F(Registration, NonZeroExitCodeGivesTheServerErrorInTheCatalogueLanguage) {
  const std::wstring server = FailingServer();
  const struct {
    int language;
    const wchar_t* expected;
  } languages[] = {
      {LangEnglish, L"Could not install server Quorvex.exe. Error: 5"},
      {LangRussian, L"\u041d\u0435 \u0443\u0434\u0430\u043b\u043e\u0441\u044c \u0443\u0441\u0442\u0430\u043d\u043e"
                    L"\u0432\u0438\u0442\u044c \u0441\u0435\u0440\u0432\u0435\u0440 Quorvex.exe. \u041f\u0440\u043e"
                    L"\u0438\u0437\u043e\u0448\u043b\u0430 \u043e\u0448\u0438\u0431\u043a\u0430 5"},
  };
  for (const auto& l : languages) {
    SCOPED_TRACE(l.language);
    SetLanguage(l.language);
    std::wstring message;
    bool osError = false;
    try {
      RegisterHostServer(server, false, false);
    } catch (const OSError& e) {
      osError = true;
      message = e.message();
    } catch (const Error& e) {
      message = e.message();
    }
    EXPECT_FALSE(osError);
    EXPECT_EQ(message, l.expected) << Narrow(message);
  }
  // The real start passed the switch as the whole parameter string.
  std::string recorded = ReadFileBytes(server + L".cmdline");
  std::wstring commandLine(reinterpret_cast<const wchar_t*>(recorded.data()), recorded.size() / sizeof(wchar_t));
  const std::wstring tail = L" /UNREGSERVER";
  ASSERT_GE(commandLine.size(), tail.size()) << Narrow(commandLine);
  EXPECT_EQ(commandLine.substr(commandLine.size() - tail.size()), tail) << Narrow(commandLine);
}

TEST_F(Registration, MissingFileGivesTheSystemErrorTextUnchanged) {
  const std::wstring missing = temp / L"Quorvex.exe";
  SystemBoxCloser closer;  // a box of the shell's own would be a second report of the same failure
  for (bool perUser : {true, false}) {
    SCOPED_TRACE(perUser);
    SetLastError(0xDEADBEEF);
    try {
      RegisterHostServer(missing, true, perUser);
      ADD_FAILURE() << "no error for a missing host server";
    } catch (const OSError& e) {
      // Windows reports 2 here, Wine 1400: whatever the system said is passed on unchanged.
      EXPECT_NE(e.code(), 0xDEADBEEFu) << "the error of the failed start, not a stale one";
      EXPECT_NE(e.code(), 0u) << "the failure's own code";
      EXPECT_EQ(e.message(), SystemErrorText(e.code())) << Narrow(e.message());
      EXPECT_EQ(e.message().find(L"Quorvex.exe"), std::wstring::npos) << "no server wording";
    }
  }
  EXPECT_EQ(closer.Closed(), 0) << "the shell showed a message box of its own";
}

TEST_F(Registration, FailedStartsThroughTheSeam) {
  const std::wstring server = StandIn();
  SetShellExecuteExForTesting(RecordingShellExecuteEx);
  SetIsUserAdminForTesting(PlayedAdmin);
  g_admin = false;
  SetWindowsMajorVersionForTesting(10);
  const struct {
    DWORD failWith;
    bool dropProcess;
    bool raises;
    DWORD code;  // of the OSError raised
  } cases[] = {
      {ERROR_CANCELLED, false, false, 0},            // the user declined the prompt
      {ERROR_ACCESS_DENIED, false, true, ERROR_ACCESS_DENIED},
      {ERROR_BAD_EXE_FORMAT, false, true, ERROR_BAD_EXE_FORMAT},
      {0, true, true, ERROR_INVALID_HANDLE},         // a start that hands back no process
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "fail with " << c.failWith << " drop " << c.dropProcess);
    g_record = {};
    g_record.failWith = c.failWith;
    g_record.dropProcess = c.dropProcess;
    bool result = true;
    bool raised = false;
    DWORD code = 0;
    std::wstring message;
    try {
      result = RegisterHostServer(server, true, false);
    } catch (const OSError& e) {
      raised = true;
      code = e.code();
      message = e.message();
    }
    EXPECT_EQ(g_record.calls, 1);
    EXPECT_EQ(g_record.verb, L"runas");
    EXPECT_EQ(raised, c.raises) << Narrow(message);
    if (c.raises) {
      EXPECT_EQ(code, c.code);
      EXPECT_EQ(message, SystemErrorText(c.code)) << Narrow(message);
    } else {
      EXPECT_FALSE(result);
    }
  }
  EXPECT_FALSE(ClassRegistered(HKEY_LOCAL_MACHINE)) << "nothing ran";
}

TEST_F(Registration, ProcessHandleIsClosedOnEveryPath) {
  SetShellExecuteExForTesting(RecordingShellExecuteEx);
  for (bool failing : {false, true}) {
    SCOPED_TRACE(failing ? "exit code 5" : "exit code 0");
    TempFolder folder;
    std::wstring server = folder / L"Quorvex.exe";
    std::wstring source = failing ? BinDir() + L"registration_exit_five.exe" : BuildFile(L"payload\\x86_64\\Quorvex.exe");
    ASSERT_TRUE(CopyFileW(source.c_str(), server.c_str(), FALSE)) << Narrow(source);
    g_record = {};
    bool raised = false;
    try {
      EXPECT_TRUE(RegisterHostServer(server, true, true));
    } catch (const Error&) {
      raised = true;
    }
    EXPECT_EQ(raised, failing);
    ASSERT_NE(g_record.process, nullptr) << "the real start handed out a process";
    DWORD flags = 0;
    SetLastError(0xDEADBEEF);
    EXPECT_FALSE(GetHandleInformation(g_record.process, &flags)) << "handle still open, flags " << flags;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    RemoveClass(HKEY_CURRENT_USER);
  }
}
