#include "ShellTestEnv.h"

using namespace qor;

TEST_F(ShellLibrary, StartupRegistersTheClipboardFormatsInOrder) {
  const wchar_t* names[] = {
      L"Autoplay Enumerated IDList Array", L"DropDescription", L"File Attributes Array", L"FileContents",
      L"FileGroupDescriptor", L"FileGroupDescriptorW", L"FileName", L"FileNameMap", L"FileNameMapW",
      L"FileNameW", L"Shell IDList Array", L"InShellDragLoop", L"UniformResourceLocator",
      L"UniformResourceLocatorW", L"InvokeCommand DropParam", L"Logical Performed DropEffect",
      L"MountedVolume", L"Net Resource", L"Shell Object Offsets", L"Paste Succeeded", L"Performed DropEffect",
      L"PersistedDataObject", L"Preferred DropEffect", L"PrinterFriendlyName", L"DropHandlerCLSID",
      L"UniformResourceLocator", L"TargetCLSID", L"UntrustedDragDrop", L"UIDisplayed"};
  const auto& formats = RegisteredClipboardFormats();
  ASSERT_EQ(formats.size(), 29u);
  for (size_t i = 0; i < 29; ++i) {
    SCOPED_TRACE(i + 1);
    wchar_t got[128] = {};
    GetClipboardFormatNameW(formats[i], got, 128);
    EXPECT_STREQ(got, names[i]);
  }
  EXPECT_EQ(formats[12], formats[25]) << "the same name twice gives the same identifier";
  EXPECT_EQ(CF_FILECONTENTS, RegisterClipboardFormatW(L"FileContents"));
  EXPECT_EQ(CF_FILEDESCRIPTOR, RegisterClipboardFormatW(L"FileGroupDescriptor"));
  EXPECT_EQ(CF_FILEDESCRIPTORW, RegisterClipboardFormatW(L"FileGroupDescriptorW"));
  EXPECT_EQ(CF_FILENAME, RegisterClipboardFormatW(L"FileName"));
  EXPECT_EQ(CF_FILENAMEW, RegisterClipboardFormatW(L"FileNameW"));
  EXPECT_EQ(CF_IDLIST, RegisterClipboardFormatW(L"Shell IDList Array"));
  EXPECT_TRUE(LogAllObjects);
  const wchar_t* classes[] = {L"TqorDataObjectCF_FILENAMEFileList", L"TqorDataObjectCF_FILEDESCRIPTORFileList",
                              L"TqorDataObjectCF_HDROPFileList", L"TqorDataObjectCF_IDLISTFileList",
                              L"TqorDataObjectShellItemArrayFileList"};
  ASSERT_EQ(FileListClasses().size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(FileListClasses()[i].name, classes[i]);
    EXPECT_NE(FileListClasses()[i].CanCreate, nullptr);
    EXPECT_NE(FileListClasses()[i].Create, nullptr);
  }
}

TEST_F(ShellLibrary, StartupLoadsNoModule) {
  // propsys.dll is not imported by this program: only the loader could bring it in.
  EXPECT_EQ(GetModuleHandleW(L"propsys.dll"), nullptr);
}
