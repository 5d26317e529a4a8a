// A program without the common controls 6 manifest: no visual styles, so every button control is
// measured. Also the DPI start-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Controls.h"
#include "qorDPIAware.h"
#include "qorUI.h"

using namespace qor;

namespace {

// Records what the DPI start-up asks of the loader; the entry point it hands out counts its calls.
struct LoaderLog {
  std::vector<std::string> calls;
  bool loads = true;
  bool hasEntry = true;
  int entryCalls = 0;
};
LoaderLog* gLog = nullptr;

BOOL WINAPI FakeSetProcessDPIAware() {
  ++gLog->entryCalls;
  return TRUE;
}

const DPIAwareLoader kFakeLoader{
    [](const wchar_t* name) -> HMODULE {
      gLog->calls.push_back("load " + std::string(name, name + wcslen(name)));
      return gLog->loads ? reinterpret_cast<HMODULE>(0x1000) : nullptr;
    },
    [](HMODULE, const char* name) -> FARPROC {
      gLog->calls.push_back(std::string("lookup ") + name);
      return gLog->hasEntry ? reinterpret_cast<FARPROC>(&FakeSetProcessDPIAware) : nullptr;
    },
    [](HMODULE module) {
      gLog->calls.push_back(module == reinterpret_cast<HMODULE>(0x1000) ? "unload" : "unload of a stranger");
    },
};

}  // namespace

TEST(DPIAware, CallsSetProcessDPIAwareFromUser32AndFreesTheLibrary) {
  struct Case {
    const char* what;
    bool loads, hasEntry;
    std::vector<std::string> calls;
    int entryCalls;
  } cases[] = {
      {"present", true, true, {"load User32.dll", "lookup SetProcessDPIAware", "unload"}, 1},
      {"an older system", true, false, {"load User32.dll", "lookup SetProcessDPIAware", "unload"}, 0},
      {"no library", false, true, {"load User32.dll"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoaderLog log;
    log.loads = c.loads;
    log.hasEntry = c.hasEntry;
    gLog = &log;
    SetDPIAwareLoaderForTesting(&kFakeLoader);
    InitializeDPIAware();
    SetDPIAwareLoaderForTesting(nullptr);
    EXPECT_EQ(log.calls, c.calls);
    EXPECT_EQ(log.entryCalls, c.entryCalls);
  }
}

TEST(DPIAware, TheRealStartUpLeavesTheProcessAware) {
  InitializeDPIAware();
  FinalizeDPIAware();
  EXPECT_TRUE(::IsProcessDPIAware());
  // Once the awareness is set it cannot be set again.
  ::SetLastError(0xDEADBEEF);
  EXPECT_FALSE(::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(QorUIPlain, EveryButtonControlIsMeasured) {
  ASSERT_FALSE(UsesVisualStyles());
  Form host(FormParams{L"QorPlainHost", WS_OVERLAPPED | WS_CAPTION, 0, nullptr, L"host", 300, 200});
  TqorUI ui;
  for (DWORD style : {DWORD(BS_PUSHBUTTON), DWORD(BS_AUTOCHECKBOX), DWORD(BS_AUTORADIOBUTTON)}) {
    SCOPED_TRACE(style);
    Button button(host, L"Caption", style);
    EXPECT_NO_THROW(ui.SetButtonSize(button));
    EXPECT_EQ(button.Width(), ::MulDiv(50, ui.DialogUnit().cx, 4));
    EXPECT_EQ(button.Height(), ::MulDiv(14, ui.DialogUnit().cy, 8));
  }
  HWND progress = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 100, 3, host.Handle(), nullptr, nullptr, nullptr);
  ui.SetProgressSize(progress);
  EXPECT_EQ(WindowBounds(progress).height, ui.ProgressBarSize().cy) << "no theme to ask";
}
