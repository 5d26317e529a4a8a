// The program's start-up sequence with the real system language. CTest runs this program once per
// Unix locale (LANG / LC_ALL, which Wine turns into the system default language) and names the
// language ID that the locale must give in QOR_EXPECTED_LANGID.
#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "LangTestSupport.h"
#include "QuorvexSetupLang.h"
#include "qorLang.h"

namespace qor {
namespace {

using qortest::CodeUnits;

struct Expected {
  int systemLangId;
  int catalogueLanguage;
  const wchar_t* captionWarning;
  const wchar_t* setupPath;
  const wchar_t* installSuccessful;
};

const Expected kExpected[] = {
    // German (Switzerland): the common texts in German, the setup's own texts in English.
    {2055, 1031, L"Warnung", L"Setup path", L"Installation successful"},
    // Ukrainian: everything Russian.
    {1058, 1049, L"\u041F\u0440\u0435\u0434\u0443\u043F\u0440\u0435\u0436\u0434\u0435\u043D\u0438\u0435",
     L"\u0414\u0438\u0440\u0435\u043A\u0442\u043E\u0440\u0438\u044F \u0443\u0441\u0442\u0430\u043D\u043E\u0432\u043A\u0438",
     L"\u0418\u043D\u0441\u0442\u0430\u043B\u043B\u044F\u0446\u0438\u044F \u043F\u0440\u043E\u0438\u0437\u0432\u0435\u0434\u0435\u043D\u0430 "
     L"\u0443\u0441\u043F\u0435\u0448\u043D\u043E."},
    // Japanese: the common texts in Japanese, the setup's own texts in English.
    {1041, 1041, L"\u8B66\u544A", L"Setup path", L"Installation successful"},
    // Spanish (United States) is not among the listed Spanish variants: everything English.
    {21514, 1033, L"Warning", L"Setup path", L"Installation successful"},
    // The test bed's own locale.
    {1033, 1033, L"Warning", L"Setup path", L"Installation successful"},
};

TEST(SystemLanguage, StartUpChoosesTheCatalogueLanguageFromTheSystemDefault) {
  const char* expectedText = std::getenv("QOR_EXPECTED_LANGID");
  if (!expectedText) GTEST_SKIP() << "QOR_EXPECTED_LANGID is not set; CTest sets it per locale";
  const int expectedId = std::atoi(expectedText);
  const char* lang = std::getenv("LANG");
  SCOPED_TRACE(std::string("LANG=") + (lang ? lang : "(unset)"));

  // The environment really reached the system: otherwise this test would prove nothing.
  ASSERT_EQ(static_cast<int>(::GetSystemDefaultLangID()), expectedId);

  const Expected* expected = nullptr;
  for (const auto& e : kExpected) {
    if (e.systemLangId == expectedId) expected = &e;
  }
  ASSERT_NE(expected, nullptr) << "no expectations for language ID " << expectedId;

  InitializeQorLang();
  InitializeQuorvexSetupLang();
  EXPECT_EQ(CurrentLanguage(), expected->catalogueLanguage);
  EXPECT_EQ(CodeUnits(GetLangStr(L"CaptionWarning")), CodeUnits(expected->captionWarning));
  EXPECT_EQ(CodeUnits(GetLangStr(L"SetupPath")), CodeUnits(expected->setupPath));
  EXPECT_EQ(CodeUnits(GetLangStr(L"InstallSuccessful")), CodeUnits(expected->installSuccessful));
  EXPECT_EQ(LangTableEntries().size(), 90u) << "the 70 common texts and the setup's 20";
  FinalizeQuorvexSetupLang();
  FinalizeQorLang();
}

}  // namespace
}  // namespace qor
