// The stand-in payload programs keep the contract that the setup relies on.
#include <gtest/gtest.h>

#include <optional>

#include "JvqorSelfInfo.h"
#include "FileTestSupport.h"
#include "SetupWindowDriver.h"
#include "Handles.h"
#include "StandInHostServer.h"
#include "StandInProxyPlugin.h"

using namespace qortest;

namespace {

std::wstring HostServer() { return BuildFile(L"payload\\x86_64\\Quorvex.exe"); }
std::wstring ProxyPlugin() { return BuildFile(L"payload\\x86_64\\QuorvexWCX.wcx64"); }

// The LocalServer32 value of the stand-in's class under root, or nullopt when the class is absent.
std::optional<std::wstring> LocalServer(HKEY root) {
  HKEY key;
  std::wstring path = std::wstring(qor_standin::kClassKey) + L"\\LocalServer32";
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    HKEY classKey;
    if (RegOpenKeyExW(root, qor_standin::kClassKey, 0, KEY_READ, &classKey) == ERROR_SUCCESS) {
      RegCloseKey(classKey);
      return L"<class key without LocalServer32>";
    }
    return std::nullopt;
  }
  wchar_t value[1024] = L"";
  DWORD size = sizeof value, type = 0;
  RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return std::wstring(value);
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t full[MAX_PATH * 2];
  GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
  return full;
}

struct FindWindowData {
  DWORD pid;
  HWND found;
};

HWND FindMainWindow(DWORD pid) {
  FindWindowData data{pid, nullptr};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* d = reinterpret_cast<FindWindowData*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        wchar_t cls[64] = L"";
        GetClassNameW(w, cls, 64);
        if (owner == d->pid && std::wstring(cls) == qor_standin::kMainWindowClass &&
            qortest::WindowText(w) == qor_standin::kMainWindowText) {
          d->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&data));
  return data.found;
}

}  // namespace

TEST(StandInHostServer, RegistersAndRemovesItsClass) {
  const std::wstring server = HostServer();
  const std::wstring quoted = L"\"" + server + L"\"";
  const struct {
    const char* label;
    HKEY root;
    const wchar_t* add;
    const wchar_t* remove;
  } cases[] = {{"current user", HKEY_CURRENT_USER, L"/REGSERVERPERUSER", L"/UNREGSERVERPERUSER"},
               {"all users", HKEY_LOCAL_MACHINE, L"/REGSERVER", L"/UNREGSERVER"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RegDeleteTreeW(c.root, qor_standin::kClassKey);
    EXPECT_EQ(RunAndWait(quoted + L" " + c.add), 0u);
    auto value = LocalServer(c.root);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(*value, L"\"" + FullPath(server) + L"\"");
    EXPECT_EQ(RunAndWait(quoted + L" " + c.remove), 0u);
    EXPECT_FALSE(LocalServer(c.root).has_value());
    // Removing what is not there succeeds.
    EXPECT_EQ(RunAndWait(quoted + L" " + c.remove), 0u);
  }
  // The two scopes do not touch each other.
  EXPECT_EQ(RunAndWait(quoted + L" /REGSERVERPERUSER"), 0u);
  EXPECT_FALSE(LocalServer(HKEY_LOCAL_MACHINE).has_value());
  EXPECT_EQ(RunAndWait(quoted + L" /UNREGSERVER"), 0u);
  EXPECT_TRUE(LocalServer(HKEY_CURRENT_USER).has_value());
  EXPECT_EQ(RunAndWait(quoted + L" /UNREGSERVERPERUSER"), 0u);
}

TEST(StandInHostServer, UnknownCommandLinesFail) {
  const std::wstring quoted = L"\"" + HostServer() + L"\"";
  for (const wchar_t* args : {L" /REGISTER", L" /REGSERVER /REGSERVERPERUSER", L" REGSERVER"}) {
    SCOPED_TRACE(Narrow(args));
    EXPECT_EQ(RunAndWait(quoted + args), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_FALSE(LocalServer(HKEY_CURRENT_USER).has_value());
}

TEST(StandInHostServer, MainWindowQuitsOnTheQuitMessageOnly) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + HostServer() + L"\"";
  ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) << GetLastError();
  // Ended and closed however the test ends (an assertion below returns early).
  qor::ScopeGuard endServer([&] {
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  });
  HWND window = nullptr;
  for (int i = 0; i < 200 && !window; ++i) {
    window = FindMainWindow(pi.dwProcessId);
    if (!window) Sleep(50);
  }
  ASSERT_NE(window, nullptr);

  // Other WM_USER parameters leave it running.
  PostMessageW(window, WM_USER, qor_standin::kQuitParam, 0);
  PostMessageW(window, WM_USER, 0, qor_standin::kQuitParam);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 500), static_cast<DWORD>(WAIT_TIMEOUT));

  PostMessageW(window, WM_USER, qor_standin::kQuitParam, qor_standin::kQuitParam);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 1234;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
}

TEST(StandInProxyPlugin, DescribesItselfAndSupportsNothing) {
  EXPECT_EQ(qor::SelfInfo(ProxyPlugin()).GetVersionInfoString(L"FileDescription"), L"WCX proxy plugin");

  HMODULE plugin = LoadLibraryW(ProxyPlugin().c_str());
  ASSERT_NE(plugin, nullptr) << GetLastError();
  for (const char* name : {"OpenArchive", "OpenArchiveW", "ReadHeader", "ReadHeaderEx", "ReadHeaderExW", "ProcessFile",
                           "ProcessFileW", "CloseArchive", "SetChangeVolProc", "SetChangeVolProcW",
                           "SetProcessDataProc", "SetProcessDataProcW", "PackFiles", "PackFilesW", "DeleteFiles",
                           "DeleteFilesW", "GetPackerCaps", "CanYouHandleThisFile", "CanYouHandleThisFileW"}) {
    EXPECT_NE(GetProcAddress(plugin, name), nullptr) << name;
  }
  using OpenW = HANDLE(__stdcall*)(qor_standin::OpenArchiveDataW*);
  using PackW = int(__stdcall*)(wchar_t*, wchar_t*, wchar_t*, wchar_t*, int);
  using Caps = int(__stdcall*)();
  using Handle = int(__stdcall*)(HANDLE, void*);
  auto openW = reinterpret_cast<OpenW>(GetProcAddress(plugin, "OpenArchiveW"));
  auto packW = reinterpret_cast<PackW>(GetProcAddress(plugin, "PackFilesW"));
  auto caps = reinterpret_cast<Caps>(GetProcAddress(plugin, "GetPackerCaps"));
  auto readHeader = reinterpret_cast<Handle>(GetProcAddress(plugin, "ReadHeader"));
  ASSERT_TRUE(openW && packW && caps && readHeader);
  wchar_t name[] = L"C:\\archive.rar";
  qor_standin::OpenArchiveDataW data{name, 0, 0, nullptr, 0, 0, 0};
  EXPECT_EQ(openW(&data), nullptr);
  EXPECT_EQ(data.OpenResult, qor_standin::kWcxNotSupported);
  EXPECT_EQ(packW(name, nullptr, nullptr, nullptr, 0), qor_standin::kWcxNotSupported);
  EXPECT_EQ(readHeader(nullptr, nullptr), qor_standin::kWcxNotSupported);
  EXPECT_EQ(caps(), 0);
  FreeLibrary(plugin);
}
