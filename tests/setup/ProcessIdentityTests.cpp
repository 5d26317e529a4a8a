#include <gtest/gtest.h>

#include "QuorvexSetupUtils.h"
#include "SetupTestSupport.h"
#include "TextCompare.h"

#include <vector>

using namespace qor;
using namespace qortest;

class ProcessIdentity : public testing::Test {
 protected:
  void SetUp() override { InitializeQuorvexSetupUtils(); }
  void TearDown() override {
    SetWindowsMajorVersionForTesting(0);
    FinalizeQuorvexSetupUtils();
  }
};

TEST_F(ProcessIdentity, ImagePathOfOwnAndMissingProcesses) {
  EXPECT_TRUE(IsVistaOrLater());
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_TRUE(SameText(GetProcessImagePath(GetCurrentProcessId()), self))
      << testing::PrintToString(GetProcessImagePath(GetCurrentProcessId()));
  EXPECT_EQ(GetProcessImagePath(0), L"System process #0");
  EXPECT_EQ(GetProcessImagePath(0xFFFFFFF0u), L"System process #4294967280");
  // A program started from outside Windows may have no recorded parent; one that has is not itself.
  EXPECT_NE(GetParentProcessID(), GetCurrentProcessId());
}

TEST_F(ProcessIdentity, BeforeVistaThePathComesFromPsapi) {
  SetWindowsMajorVersionForTesting(5);
  EXPECT_FALSE(IsVistaOrLater());
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_TRUE(SameText(GetProcessImagePath(GetCurrentProcessId()), self));
  EXPECT_NE(GetModuleHandleW(L"psapi.dll"), nullptr) << "psapi.dll loaded on first use";
  EXPECT_EQ(GetProcessImagePath(0xFFFFFFF0u), L"System process #4294967280");
  UnloadPsapi();
}

namespace {
// Plays a process whose image path is longer than the buffers the caller offers.
std::wstring FakePath;
std::vector<DWORD> OfferedSizes;
BOOL WINAPI FakeQuery(HANDLE, DWORD, LPWSTR buffer, PDWORD size) {
  OfferedSizes.push_back(*size);
  if (*size < FakePath.size() + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  wmemcpy(buffer, FakePath.c_str(), FakePath.size() + 1);
  *size = static_cast<DWORD>(FakePath.size());
  return TRUE;
}
BOOL WINAPI FailingQuery(HANDLE, DWORD, LPWSTR, PDWORD size) {
  OfferedSizes.push_back(*size);
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
}  // namespace

TEST_F(ProcessIdentity, ImagePathLongerThan260CharactersDoublesTheBuffer) {
  FakePath = L"C:\\" + std::wstring(600, L'd') + L"\\TOTALCMD64.EXE";
  OfferedSizes.clear();
  SetQueryFullProcessImageNameForTesting(FakeQuery);
  std::wstring path = GetProcessImagePath(GetCurrentProcessId());
  SetQueryFullProcessImageNameForTesting(nullptr);
  EXPECT_EQ(path, FakePath);
  ASSERT_GE(OfferedSizes.size(), 3u);
  EXPECT_EQ(OfferedSizes[0], 260u);
  EXPECT_EQ(OfferedSizes[1], 520u);
  EXPECT_EQ(OfferedSizes[2], 1040u);

  OfferedSizes.clear();
  SetQueryFullProcessImageNameForTesting(FailingQuery);
  path = GetProcessImagePath(GetCurrentProcessId());
  SetQueryFullProcessImageNameForTesting(nullptr);
  EXPECT_EQ(path, L"System process #" + std::to_wstring(GetCurrentProcessId()));
}
