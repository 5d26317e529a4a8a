#include <gtest/gtest.h>

#include "FileSystem.h"
#include "PathParts.h"
#include "PluginInventory.h"
#include "SetupTestSupport.h"
#include "VectorPluginList.h"

using namespace qor;
using namespace qortest;

namespace {
struct Expected {
  const wchar_t* caption;
  std::wstring folder;  // with "<P>" standing for the plugin folder
};

std::wstring Sub(std::wstring s, const std::wstring& p) {
  for (size_t at; (at = s.find(L"<P>")) != std::wstring::npos;) s.replace(at, 3, p);
  return s;
}

std::string AnsiText(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n - 1), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
  return s;
}

void CopySibling(const wchar_t* kind, const std::wstring& to) {
  ASSERT_TRUE(CopyFileW((BinDir() + L"sibling_" + kind + L".wcx64").c_str(), to.c_str(), FALSE))
      << testing::PrintToString(to);
}
}  // namespace

class Inventory : public testing::Test {
 protected:
  void SetUp() override {
    plugins = temp / L"P";
    ForceDirectories(plugins);
    SetEnvironmentVariableW(L"COMMANDER_PATH", nullptr);
    SetEnvironmentVariableW(L"QOR_PLUGINS", plugins.c_str());
  }
  // Writes the section lines (with <P> for the plugin folder) as an ANSI wincmd.ini and scans it.
  void Scan(const std::vector<std::wstring>& lines, const wchar_t* ini = L"wincmd.ini") {
    std::wstring text = L"[Configuration]\r\nUseIniInProgramDir=0\r\n[PackerPlugins]\r\n";
    for (const auto& l : lines) text += Sub(l, plugins) + L"\r\n";
    text += L"[PackerPlugins64]\r\n$checksum$=1\r\n";
    WriteFileBytes(temp / ini, AnsiText(text));
    PluginInventory(temp / ini, list);
  }
  void ExpectItems(const std::vector<Expected>& expected) {
    ASSERT_EQ(list.Count(), static_cast<int>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(list.Caption(static_cast<int>(i)), expected[i].caption);
      EXPECT_EQ(list.Folder(static_cast<int>(i)), Sub(expected[i].folder, plugins));
      EXPECT_TRUE(list.Checked(static_cast<int>(i)));
    }
  }
  TempFolder temp;
  std::wstring plugins;
  VectorPluginList list;
};

TEST_F(Inventory, ListsPluginsWithoutRealSiblingsSortedByCaption) {
  Scan({L"zip=<P>\\zip.wcx", L"rar=287,<P>\\rar.wcx"});
  ExpectItems({{L"rar.wcx", L"<P>"}, {L"zip.wcx", L"<P>"}});
  EXPECT_TRUE(AnyPluginTicked(list));
}

TEST_F(Inventory, SiblingsDecideByTheirFileDescription) {
  struct Case {
    const wchar_t* sibling;  // kind of rar.wcx64, null for none
    bool listed;
  } cases[] = {{nullptr, true}, {L"proxy", true}, {L"real", false}, {L"none", false}, {L"nodesc", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sibling ? testing::PrintToString(std::wstring(c.sibling)) : "no sibling");
    DeleteFileW((plugins + L"\\rar.wcx64").c_str());
    if (c.sibling) CopySibling(c.sibling, plugins + L"\\rar.wcx64");
    Scan({L"rar=287,<P>\\rar.wcx", L"zip=<P>\\zip.wcx"});
    if (c.listed) ExpectItems({{L"rar.wcx", L"<P>"}, {L"zip.wcx", L"<P>"}});
    else ExpectItems({{L"zip.wcx", L"<P>"}});
  }
  // A sibling of another case or without the ".wcx" extension is still found by the sibling rule.
  CopySibling(L"real", plugins + L"\\noext.wcx64");
  Scan({L"a=<P>\\noext"});
  ExpectItems({});
}

// The siblings of a folder are found from one listing of it: names match without regard to case, the
// listing is not reused for another folder, and a folder that does not exist has no siblings.
TEST_F(Inventory, SiblingsAreFoundWhateverTheLetterCase) {
  ForceDirectories(plugins + L"\\Other");
  CopySibling(L"real", plugins + L"\\Rar.WCX64");
  CopySibling(L"proxy", plugins + L"\\zip.wcx64");
  CopySibling(L"real", plugins + L"\\Other\\cab.wcx64");
  Scan({L"a=<P>\\RAR.wcx", L"b=<P>\\ZIP.WCX", L"c=<P>\\other\\CAB.wcx", L"d=<P>\\Other\\rar.wcx",
        L"e=<P>\\Missing\\rar.wcx"});
  ExpectItems({{L"rar.wcx", L"<P>\\Other"}, {L"rar.wcx", L"<P>\\Missing"}, {L"ZIP.WCX", L"<P>"}});
}

TEST_F(Inventory, ValuesOfEveryShape) {
  Scan({
      L"zip=<P>\\zip.wcx",
      L"zip2=c:\\NOT\\there.wcx",
      L"dup=<P>\\ZIP.WCX",                     // same plugin, other letter case: the first stays
      L"cp=%COMMANDER_PATH%\\Plugins\\x.wcx",  // undefined variable stays as written
      L"env=12,%QOR_PLUGINS%\\env.wcx",        // defined variable expanded, prefix removed
      L"abc=abc,<P>\\y.wcx",                   // non-integer prefix: the whole value is the path
      L"neg=-3,<P>\\neg.wcx",
      L"comma=,<P>\\empty.wcx",                // empty prefix is not an integer
      L"onlynum=5,",                           // a number and a comma only: empty file name
      L"empty=",
      L"root=C:\\root.wcx",
      L"bare=bare.wcx",
  });
  ExpectItems({
      {L"", L""},
      {L"bare.wcx", L""},
      {L"empty.wcx", L",<P>"},
      {L"env.wcx", L"<P>"},
      {L"neg.wcx", L"<P>"},
      {L"root.wcx", L"C:\\"},
      {L"there.wcx", L"c:\\NOT"},
      {L"x.wcx", L"%COMMANDER_PATH%\\Plugins"},
      {L"y.wcx", L"abc,<P>"},
      {L"zip.wcx", L"<P>"},
  });
  // Each item's path is rebuilt to the configured path, roots and bare names included.
  EXPECT_EQ(PluginPath(list, 5), L"C:\\root.wcx");
  EXPECT_EQ(PluginPath(list, 1), L"bare.wcx");
  EXPECT_EQ(ProxySiblingPath(PluginPath(list, 5)), L"C:\\root.wcx64");
}

// Each value is read as the profile functions read it: the plugin listed is the one whose path
// GetPrivateProfileStringW gives for the key.
TEST_F(Inventory, QuotedValuesAreReadAsTheProfileFunctionsReadThem) {
  const struct {
    const wchar_t* line;
    const wchar_t* caption;  // expected, and checked against the system's reading too
    const wchar_t* folder;
  } cases[] = {
      {L"k=\"<P>\\double.wcx\"", L"double.wcx", L"<P>"},
      {L"k='<P>\\single.wcx'", L"single.wcx", L"<P>"},
      {L"k=  '<P>\\blanks.wcx'  ", L"blanks.wcx", L"<P>"},
      {L"k='287,<P>\\prefix.wcx'", L"prefix.wcx", L"<P>"},
      {L"k='<P>\\mixed.wcx\"", L"mixed.wcx\"", L"'<P>"},
      {L"k=\"<P>\\mixed2.wcx'", L"mixed2.wcx'", L"\"<P>"},
      {L"k=''<P>\\twice.wcx''", L"twice.wcx'", L"'<P>"},
      {L"k='<P>\\open.wcx", L"open.wcx", L"'<P>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.line)));
    Scan({c.line});
    wchar_t system[MAX_PATH] = {};
    GetPrivateProfileStringW(L"PackerPlugins", L"k", L"", system, MAX_PATH, (temp / L"wincmd.ini").c_str());
    const std::wstring plugin = StripNumericPrefix(system);
    EXPECT_EQ(ExtractFileName(plugin), c.caption) << "the system reads " << testing::PrintToString(std::wstring(system));
    ExpectItems({{c.caption, c.folder}});
    if (list.Count() == 1) {
      EXPECT_EQ(PluginPath(list, 0), plugin);
    }
  }
}

TEST_F(Inventory, DuplicateKeyNamesGiveTheFirstValueForBoth) {
  Scan({L"k=<P>\\first.wcx", L"other=<P>\\o.wcx", L"k=<P>\\second.wcx"});
  ExpectItems({{L"first.wcx", L"<P>"}, {L"o.wcx", L"<P>"}});
}

TEST_F(Inventory, RedirectSectionIsFollowedOneLevel) {
  // Relative to wincmd.ini's folder, and absolute with an environment reference.
  const std::wstring plugini = L"[PackerPlugins]\r\nr=<P>\\redirected.wcx\r\nRedirectSection=nested.ini\r\n";
  WriteFileBytes(temp / L"CONFIG\\Plugins.ini", AnsiText(Sub(plugini, plugins)));
  WriteFileBytes(temp / L"nested.ini", AnsiText(Sub(L"[PackerPlugins]\r\nn=<P>\\nested.wcx\r\n", plugins)));
  Scan({L"a=<P>\\own.wcx", L"RedirectSection=CONFIG\\Plugins.ini"});
  ExpectItems({{L"redirected.wcx", L"<P>"}});
  SetEnvironmentVariableW(L"QOR_ROOT", temp.path().c_str());
  Scan({L"redirectsection=%QOR_ROOT%\\CONFIG\\Plugins.ini"});
  ExpectItems({{L"redirected.wcx", L"<P>"}});
  Scan({L"RedirectSection=missing.ini", L"a=<P>\\own.wcx"});
  ExpectItems({});
}

TEST_F(Inventory, EmptyMissingAndMalformedFilesListNothing) {
  list.AddTicked(L"stale.wcx", L"C:\\old");
  PluginInventory(L"", list);
  ExpectItems({});
  list.AddTicked(L"stale.wcx", L"C:\\old");
  PluginInventory(temp / L"missing.ini", list);
  ExpectItems({});
  Scan({});
  ExpectItems({});
  WriteFileBytes(temp / L"garbage.ini", std::string("\x00\x01[PackerPlugins\xff\x00=\x02\r\n\x7f", 22));
  EXPECT_NO_THROW(PluginInventory(temp / L"garbage.ini", list));
  ExpectItems({});
  // A very long line and UTF-16 text with non-ASCII names.
  std::wstring longName(3000, L'L');
  WriteFileUtf16(temp / L"utf16.ini", Sub(L"[PackerPlugins]\r\nu=<P>\\\u0436\u30d7.wcx\r\nl=<P>\\" + longName +
                                              L".wcx\r\n", plugins));
  PluginInventory(temp / L"utf16.ini", list);
  ExpectItems({{(longName + L".wcx").c_str(), L"<P>"}, {L"\u0436\u30d7.wcx", L"<P>"}});
}

TEST_F(Inventory, CaptionRuleFollowsTheTicks) {
  EXPECT_FALSE(AnyPluginTicked(list)) << "empty list";
  Scan({L"a=<P>\\a.wcx", L"b=<P>\\b.wcx"});
  EXPECT_TRUE(AnyPluginTicked(list));
  list.items[0].checked = false;
  EXPECT_TRUE(AnyPluginTicked(list));
  list.items[1].checked = false;
  EXPECT_FALSE(AnyPluginTicked(list));
  list.items[1].checked = true;
  EXPECT_TRUE(AnyPluginTicked(list));
}

TEST(NumericPrefix, Table) {
  struct {
    const wchar_t* value;
    const wchar_t* path;
  } cases[] = {{L"287,C:\\x.wcx", L"C:\\x.wcx"},  {L"+5,C:\\x.wcx", L"C:\\x.wcx"},
               {L"-5,C:\\x.wcx", L"C:\\x.wcx"},   {L"287, C:\\x.wcx", L" C:\\x.wcx"},
               {L"abc,C:\\x.wcx", L"abc,C:\\x.wcx"}, {L",C:\\x.wcx", L",C:\\x.wcx"},
               {L"99999999999,C:\\x", L"99999999999,C:\\x"}, {L"C:\\x.wcx", L"C:\\x.wcx"},
               {L"1,2,C:\\x", L"2,C:\\x"},          {L"-,C:\\x", L"-,C:\\x"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.value)));
    EXPECT_EQ(StripNumericPrefix(c.value), c.path);
  }
}
