// Version resource, manifest and build stamp read back from built programs, and their display.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <cstdio>

#include "JvqorSelfInfo.h"
#include "Payload.h"
#include "FileTestSupport.h"
#include "QuorvexSetupBuildInfo.h"
#include "qorLang.h"

using namespace qortest;

namespace {

std::wstring Probe() { return BinDir() + L"QuorvexSetupProbe.exe"; }
// The probe, and every setup program that the build has put into bin (QuorvexSetup*.exe): each must
// carry the resources.
std::vector<std::wstring> BuiltSetups() {
  std::vector<std::wstring> programs = {Probe()};
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((BinDir() + L"QuorvexSetup*.exe").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring path = BinDir() + fd.cFileName;
      if (path != Probe()) programs.push_back(path);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  return programs;
}

std::wstring Fixture(const wchar_t* name) { return BinDir() + L"payload-fixtures\\" + name + L".exe"; }

// An independent conversion of a calendar time into a date-time value.
double VariantTime(int y, int mo, int d, int h, int mi, int s) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(mo);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h);
  st.wMinute = static_cast<WORD>(mi);
  st.wSecond = static_cast<WORD>(s);
  double v = -1;
  EXPECT_TRUE(SystemTimeToVariantTime(&st, &v));
  return v;
}

// "0xXXXXXXXX YYYY-MM-DD HH:MM:SS" written by the build-stamp tool beside a stamped program.
double StampReport(const std::wstring& program) {
  std::string text = ReadFileBytes(program + L".buildstamp");
  unsigned raw;
  int y, mo, d, h, mi, s;
  EXPECT_EQ(std::sscanf(text.c_str(), "%x %d-%d-%d %d:%d:%d", &raw, &y, &mo, &d, &h, &mi, &s), 7) << text;
  EXPECT_NE(raw, 0u);
  return VariantTime(y, mo, d, h, mi, s);
}

struct FixedVersion {
  VS_FIXEDFILEINFO info{};
  WORD language = 0, codePage = 0;
};

FixedVersion ReadFixedVersion(const std::wstring& file) {
  FixedVersion r;
  DWORD ignored;
  DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  std::vector<unsigned char> data(size);
  EXPECT_TRUE(size && GetFileVersionInfoW(file.c_str(), 0, size, data.data()));
  void* p;
  UINT n;
  if (VerQueryValueW(data.data(), L"\\", &p, &n) && n >= sizeof(VS_FIXEDFILEINFO))
    r.info = *static_cast<VS_FIXEDFILEINFO*>(p);
  if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &p, &n) && n >= 4) {
    r.language = static_cast<WORD*>(p)[0];
    r.codePage = static_cast<WORD*>(p)[1];
  }
  return r;
}

std::wstring CopyTo(const std::wstring& from, const std::wstring& to) {
  EXPECT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << Narrow(from) << " error " << GetLastError();
  return to;
}

}  // namespace

TEST(VersionResource, BuiltProgramsCarryTheVersionTable) {
  const struct {
    const wchar_t* name;
    std::wstring value;
  } strings[] = {
      {L"FileDescription", L"Quorvex Setup"}, {L"FileVersion", L"1.1.0.6"}, {L"InternalName", L"QuorvexSetup"},
      {L"LegalTrademarks", L"Quorvex"},       {L"OriginalFilename", L"QuorvexSetup"},
      {L"ProductName", L"QuorvexSetup"},      {L"ProductVersion", L"1.1"},
      {L"CompanyName", qor::kMakerName},      {L"LegalCopyright", qor::kLegalNotice},
      {L"Comments", L""},
  };
  std::vector<std::wstring> programs = BuiltSetups();
  programs.push_back(OwnPath());
  for (const std::wstring& program : programs) {
    SCOPED_TRACE(Narrow(program));
    qor::SelfInfo info(program);
    for (const auto& s : strings) {
      SCOPED_TRACE(Narrow(s.name));
      EXPECT_EQ(info.GetVersionInfoString(s.name), s.value);
    }
    FixedVersion v = ReadFixedVersion(program);
    EXPECT_EQ(v.info.dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(v.info.dwFileVersionLS, 0x00000006u);
    EXPECT_EQ(v.info.dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(v.info.dwProductVersionLS, 0x00000000u);
    EXPECT_EQ(v.info.dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(v.info.dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(v.language, 0x0409);
    EXPECT_EQ(v.codePage, 1252);
  }
  EXPECT_FALSE(std::wstring(qor::kMakerName).empty());
  EXPECT_FALSE(std::wstring(qor::kHomePage).empty());
}

TEST(VersionResource, OwnProgramAndTheVersionLine) {
  qor::InitializeJvqorSelfInfo();
  EXPECT_EQ(qor::GetProductVersion(), L"1.1");
  EXPECT_EQ(qor::GetVersionInfoString(L"productversion"), L"1.1");
  EXPECT_EQ(qor::FormatVersionLine(L"Version %s"), L"Version 1.1");
  EXPECT_EQ(qor::FormatVersionLine(L"Версия %s"), L"Версия 1.1");
}

TEST(VersionResource, LookupsAreCachedPerNameIgnoringCase) {
  TempFolder tmp;
  const std::wstring file = CopyTo(Probe(), tmp / L"setup.exe");
  qor::SelfInfo info(file);
  EXPECT_EQ(info.GetVersionInfoString(L"ProductVersion"), L"1.1");
  EXPECT_EQ(info.GetVersionInfoString(L"NoSuchValue"), L"");
  ASSERT_TRUE(DeleteFileW(file.c_str()));
  // From the cache now: names differing in case share one line; the empty answer is kept too.
  EXPECT_EQ(info.GetVersionInfoString(L"PRODUCTVERSION"), L"1.1");
  EXPECT_EQ(info.GetVersionInfoString(L"productVersion"), L"1.1");
  EXPECT_EQ(info.GetVersionInfoString(L"nosuchvalue"), L"");
  // A name not asked before reads the file, which is gone.
  EXPECT_EQ(info.GetVersionInfoString(L"FileVersion"), L"");

  // A file without a version resource gives the empty text, and keeps giving it once cached.
  const std::wstring bare = CopyTo(BuildFile(L"payload\\x86_64\\Quorvex.exe"), tmp / L"bare.exe");
  qor::SelfInfo bareInfo(bare);
  EXPECT_EQ(bareInfo.GetVersionInfoString(L"ProductVersion"), L"");
  CopyTo(Probe(), bare);
  EXPECT_EQ(bareInfo.GetVersionInfoString(L"ProductVersion"), L"");
  EXPECT_EQ(qor::SelfInfo(bare).GetVersionInfoString(L"ProductVersion"), L"1.1");
}

TEST(BuiltSetup, CarriesManifestContainerAndStamp) {
  const std::string containers[] = {ReadFileBytes(BuildFile(L"payload\\QuorvexPayload-x86_64.bin")),
                                    ReadFileBytes(BuildFile(L"payload\\QuorvexPayload-i686.bin"))};
  for (const std::wstring& program : BuiltSetups()) {
    SCOPED_TRACE(Narrow(program));
    HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << GetLastError();
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(info, nullptr);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, info))), SizeofResource(module, info));
    for (const char* part : {"name=\"QuorvexSetup\"", "processorArchitecture=\"amd64\"",
                             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "level=\"asInvoker\" uiAccess=\"false\"", "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"}) {
      EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);

    // One of the two containers, stored under language 1033.
    EXPECT_NE(FindResourceExW(module, L"FL", L"DATA", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), nullptr);
    auto container = qor::LoadPayloadResource(module);
    const std::string embedded(reinterpret_cast<const char*>(container.data()), container.size());
    EXPECT_TRUE(embedded == containers[0] || embedded == containers[1]) << embedded.size();
    FreeLibrary(module);

    // A build stamp of this century.
    EXPECT_GT(qor::ReadBuildTime(program), VariantTime(2020, 1, 1, 0, 0, 0));
  }
  // The probe carries the container for Wine.
  auto probe = LoadLibraryExW(Probe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(qor::LoadPayloadResource(probe).size(), containers[0].size());
  FreeLibrary(probe);
}

TEST(BuildTime, StampOfTheBuiltPrograms) {
  const double own = StampReport(OwnPath());
  EXPECT_GT(own, VariantTime(2020, 1, 1, 0, 0, 0));
  EXPECT_DOUBLE_EQ(qor::GetBuildTime(), own);
  EXPECT_DOUBLE_EQ(qor::ReadBuildTime(Probe()), StampReport(Probe()));
  EXPECT_EQ(qor::FormatBuildTimeLine(L"Build time %s"), L"Build time " + qor::DateTimeToDisplayText(own));
}

TEST(BuildTime, LabelsWithTheCatalogueTexts) {
  qor::InitializeQorLang();
  const std::wstring date = qor::DateTimeToDisplayText(StampReport(OwnPath()));
  const struct {
    int language;
    std::wstring version, buildTime;
  } cases[] = {{qor::LangEnglish, L"Version 1.1", L"Build time " + date},
               {qor::LangRussian, L"Версия 1.1", L"Дата компиляции " + date},
               {qor::LangGerman, L"Version 1.1", L"Erstellungszeit " + date}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    qor::SetLanguage(c.language);
    EXPECT_EQ(qor::VersionLabelText(), c.version);
    EXPECT_EQ(qor::BuildTimeLabelText(), c.buildTime);
  }
  qor::FinalizeQorLang();
}

TEST(BuildTime, FixtureStamps) {
  const struct {
    std::wstring file;
    double expected;
  } cases[] = {
      {Fixture(L"known"), VariantTime(2014, 6, 17, 23, 14, 58)},
      // SOURCE_DATE_EPOCH 1403046898 is 2014-06-17 23:14:58 UTC, written as it stands.
      {Fixture(L"epoch"), VariantTime(2014, 6, 17, 23, 14, 58)},
      {Fixture(L"stamp0"), 0},
      {Fixture(L"month0"), 0},
      {Fixture(L"hour24"), 0},
      {BuildFile(L"payload\\x86_64\\Quorvex.exe"), 0},  // no .rsrc section
      {Probe() + L".buildstamp", 0},                   // not a program
      {BinDir() + L"no-such-file.exe", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.file));
    EXPECT_DOUBLE_EQ(qor::ReadBuildTime(c.file), c.expected);
    EXPECT_DOUBLE_EQ(qor::SelfInfo(c.file).GetBuildTime(), c.expected);
  }
}

TEST(BuildTime, SecondCallDoesNotTouchTheFile) {
  TempFolder tmp;
  const double known = VariantTime(2014, 6, 17, 23, 14, 58);
  const struct {
    const wchar_t* first;
    const wchar_t* second;
    double expected;
  } cases[] = {{L"stamp0", L"known", 0}, {L"known", L"stamp0", known}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.first));
    const std::wstring file = CopyTo(Fixture(c.first), tmp / L"setup.exe");
    qor::SelfInfo info(file);
    EXPECT_DOUBLE_EQ(info.GetBuildTime(), c.expected);
    CopyTo(Fixture(c.second), file);
    EXPECT_NE(qor::ReadBuildTime(file), c.expected);  // the file now says otherwise
    EXPECT_DOUBLE_EQ(info.GetBuildTime(), c.expected);
    ASSERT_TRUE(DeleteFileW(file.c_str()));
    EXPECT_DOUBLE_EQ(info.GetBuildTime(), c.expected);
  }
}

TEST(BuildTime, DecodingMsDosStamps) {
  auto stamp = [](unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s2) {
    return static_cast<uint32_t>(((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | s2);
  };
  const struct {
    const char* label;
    uint32_t stamp;
    bool ok;
    double expected;
  } cases[] = {
      {"zero", 0, true, 0},
      {"17 June 2014 23:14:58", 0x44D1B9DD, true, VariantTime(2014, 6, 17, 23, 14, 58)},
      {"earliest", stamp(1980, 1, 1, 0, 0, 0), true, VariantTime(1980, 1, 1, 0, 0, 0)},
      {"latest", stamp(2107, 12, 31, 23, 59, 29), true, VariantTime(2107, 12, 31, 23, 59, 58)},
      {"29 February of a leap year", stamp(2024, 2, 29, 12, 0, 0), true, VariantTime(2024, 2, 29, 12, 0, 0)},
      {"29 February of another year", stamp(2023, 2, 29, 12, 0, 0), false, 0},
      {"31 April", stamp(2023, 4, 31, 0, 0, 0), false, 0},
      {"month 0", stamp(2014, 0, 17, 23, 14, 29), false, 0},
      {"month 13", stamp(2014, 13, 17, 0, 0, 0), false, 0},
      {"day 0", stamp(2014, 6, 0, 0, 0, 0), false, 0},
      {"hour 24", stamp(2014, 6, 17, 24, 0, 0), false, 0},
      {"minute 60", stamp(2014, 6, 17, 0, 60, 0), false, 0},
      {"seconds field 30", stamp(2014, 6, 17, 0, 0, 30), false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    double value = -7;
    EXPECT_EQ(qor::TryDecodeDosDateTime(c.stamp, value), c.ok);
    if (c.ok) {
      EXPECT_NEAR(value, c.expected, 1e-9);
    }
  }
}

TEST(BuildTime, DisplayText) {
  // The user's locale formats, independently built here.
  auto localeText = [](int y, int mo, int d, int h, int mi, int s, bool withTime) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y); st.wMonth = static_cast<WORD>(mo); st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h); st.wMinute = static_cast<WORD>(mi); st.wSecond = static_cast<WORD>(s);
    wchar_t date[128] = L"", time[128] = L"";
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128);
    return withTime ? std::wstring(date) + L" " + time : std::wstring(date);
  };
  const struct {
    const char* label;
    double value;
    std::wstring expected;
    const wchar_t* english;
  } cases[] = {
      {"zero", 0, localeText(1899, 12, 30, 0, 0, 0, false), L"12/30/1899"},
      {"with time", VariantTime(2014, 6, 17, 23, 14, 58), localeText(2014, 6, 17, 23, 14, 58, true), L"6/17/2014 11:14:58 PM"},
      {"midnight", VariantTime(2014, 6, 17, 0, 0, 0), localeText(2014, 6, 17, 0, 0, 0, false), L"6/17/2014"},
      {"one second past midnight", VariantTime(2014, 6, 17, 0, 0, 1), localeText(2014, 6, 17, 0, 0, 1, true), L"6/17/2014 12:00:01 AM"},
  };
  const bool english = GetUserDefaultLCID() == 0x0409;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(qor::DateTimeToDisplayText(c.value), c.expected);
    if (english) {
      EXPECT_EQ(qor::DateTimeToDisplayText(c.value), c.english);
    }
  }
}
