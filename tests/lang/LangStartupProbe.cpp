// Prints what the catalogue gives after the real start-up sequence, for a quick look by hand:
//   wine lang_startup_probe.exe
#include <windows.h>

#include <cstdio>
#include <string>

#include "QuorvexSetupLang.h"
#include "qorLang.h"

int wmain() {
  qor::InitializeQorLang();
  qor::InitializeQuorvexSetupLang();
  std::printf("GetSystemDefaultLangID=%u CurrentLanguage=%d\n", unsigned(GetSystemDefaultLangID()),
              qor::CurrentLanguage());
  for (const wchar_t* key : {L"CaptionWarning", L"SetupPath", L"InstallSuccessful"}) {
    std::wstring text = qor::GetLangStr(key);
    char buf[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buf, sizeof buf, nullptr, nullptr);
    std::printf("%ls=%s\n", key, buf);
  }
  qor::FinalizeQuorvexSetupLang();
  qor::FinalizeQorLang();
  return 0;
}
