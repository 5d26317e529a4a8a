#include <gtest/gtest.h>

#include <windows.h>
#include <docobj.h>
#include <emptyvc.h>
#include <exdisp.h>
#include <ocidl.h>
#include <oleidl.h>
#include <propsys.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <thumbcache.h>
#include <urlmon.h>

#include <set>
#include <string>

#include "Handles.h"
#include "InterfaceDiagnostics.h"

using namespace qor;

namespace {

GUID GuidFromText(const wchar_t* text) {
  GUID guid{};
  EXPECT_EQ(CLSIDFromString(text, &guid), S_OK) << testing::PrintToString(std::wstring(text));
  return guid;
}

// A name written under HKEY_CLASSES_ROOT\Interface for the test and removed afterwards.
class RegisteredInterface {
 public:
  RegisteredInterface(REFIID iid, const wchar_t* name) : key_(L"Interface\\" + GuidToText(iid)) {
    RegKey key;
    SetLastError(0xDEADBEEF);
    const LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                                    nullptr);
    EXPECT_EQ(rc, ERROR_SUCCESS) << "cannot create HKCR\\" << testing::PrintToString(key_);
    const DWORD bytes = static_cast<DWORD>((wcslen(name) + 1) * sizeof(wchar_t));
    EXPECT_EQ(RegSetValueExW(key.get(), L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), bytes), ERROR_SUCCESS);
  }
  ~RegisteredInterface() { RegDeleteTreeW(HKEY_CLASSES_ROOT, key_.c_str()); }

 private:
  std::wstring key_;
};

}  // namespace

// Every identifier that the toolchain's SDK headers and identifier library define, held against the
// table's own copy of it: a mistyped digit in the table shows here.
TEST(InterfaceNames, EveryIdentifierTheToolchainDefinesHasItsTableText) {
  struct Case {
    const GUID& iid;
    const wchar_t* text;
  };
  const Case cases[] = {
      {IID_INameSpaceTreeControlFolderCapabilities, L"INameSpaceTreeControlFolderCapabilities"},
      {IID_IAgileObject, L"IAgileObject"},
      {IID_ICallFactory, L"ICallFactory"},
      {IID_IColumnProvider, L"IColumnProvider"},
      {IID_ICommDlgBrowser2, L"ICommDlgBrowser2"},
      {IID_ICommDlgBrowser3, L"ICommDlgBrowser3"},
      {IID_ICommDlgBrowser, L"ICommDlgBrowser"},
      {IID_IContextMenu2, L"IContextMenu2"},
      {IID_IContextMenu3, L"IContextMenu3"},
      {IID_IContextMenu, L"IContextMenu"},
      {IID_ICopyHookA, L"ICopyHookA"},
      {IID_ICopyHookW, L"ICopyHookW"},
      {IID_IDataObject, L"IDataObject"},
      {IID_IDeskBand2, L"IDeskBand2"},
      {IID_IDeskBand, L"IDeskBand"},
      {IID_IDeskBandInfo, L"IDeskBandInfo"},
      {IID_IDiscardableBrowserProperty, L"IDiscardableBrowserProperty"},
      {IID_IDispatch, L"IDispatch"},
      {IID_IDockingWindow, L"IDockingWindow"},
      {IID_IDropTarget, L"IDropTarget"},
      {IID_IExecuteCommand, L"IExecuteCommand"},
      {IID_IExplorerCommand, L"IExplorerCommand"},
      {IID_IExternalConnection, L"IExternalConnection"},
      {IID_IExtractIconA, L"IExtractIconA"},
      {IID_IExtractIconW, L"IExtractIconW"},
      {IID_IExtractImage2, L"IExtractImage2"},
      {IID_IExtractImage, L"IExtractImage"},
      {IID_IFastRundown, L"IFastRundown"},
      {IID_IForegroundTransfer, L"IForegroundTransfer"},
      {IID_IGetBindHandle, L"IGetBindHandle"},
      {IID_IInitializeCommand, L"IInitializeCommand"},
      {IID_IInitializeWithFile, L"IInitializeWithFile"},
      {IID_IInitializeWithItem, L"IInitializeWithItem"},
      {IID_IInitializeWithStream, L"IInitializeWithStream"},
      {IID_IInputObject2, L"IInputObject2"},
      {IID_IInputObject, L"IInputObject"},
      {IID_IInternetPriority, L"IInternetPriority"},
      {IID_IInternetProtocolEx, L"IInternetProtocolEx"},
      {IID_IInternetProtocol, L"IInternetProtocol"},
      {IID_IInternetProtocolInfo, L"IInternetProtocolInfo"},
      {IID_IInternetProtocolRoot, L"IInternetProtocolRoot"},
      {IID_IInternetProtocolSink, L"IInternetProtocolSink"},
      {IID_IInternetSecurityManager, L"IInternetSecurityManager"},
      {IID_IInternetSession, L"IInternetSession"},
      {IID_IInternetThreadSwitch, L"IInternetThreadSwitch"},
      {IID_IInternetZoneManager, L"IInternetZoneManager"},
      {IID_IMarshal, L"IMarshal"},
      {IID_INamedPropertyStore, L"INamedPropertyStore"},
      {IID_INoMarshal, L"INoMarshal"},
      {IID_IObjectWithSelection, L"IObjectWithSelection"},
      {IID_IObjectWithSite, L"IObjectWithSite"},
      {IID_IOleCommandTarget, L"IOleCommandTarget"},
      {IID_IOleWindow, L"IOleWindow"},
      {IID_IParentAndItem, L"IParentAndItem"},
      {IID_IPersistFile, L"IPersistFile"},
      {IID_IPersist, L"IPersist"},
      {IID_IPersistStream, L"IPersistStream"},
      {IID_IPersistStreamInit, L"IPersistStreamInit"},
      {IID_IPreviewHandler, L"IPreviewHandler"},
      {IID_IPreviewHandlerVisuals, L"IPreviewHandlerVisuals"},
      {IID_IPropertyStoreCapabilities, L"IPropertyStoreCapabilities"},
      {IID_IPropertyStore, L"IPropertyStore"},
      {IID_IQueryInfo, L"IQueryInfo"},
      {IID_IResolveShellLink, L"IResolveShellLink"},
      {IID_IShellExtInit, L"IShellExtInit"},
      {IID_IShellFolderBand, L"IShellFolderBand"},
      {IID_IShellIconOverlayIdentifier, L"IShellIconOverlayIdentifier"},
      {IID_IShellLinkA, L"IShellLinkA"},
      {IID_IShellLinkDataList, L"IShellLinkDataList"},
      {IID_IShellLinkW, L"IShellLinkW"},
      {IID_IShellMenuCallback, L"IShellMenuCallback"},
      {IID_IShellMenu, L"IShellMenu"},
      {IID_IShellPropSheetExt, L"IShellPropSheetExt"},
      {IID_IStdMarshalInfo, L"IStdMarshalInfo"},
      {__uuidof(IThumbnailProvider), L"IThumbnailProvider"},
      {IID_IUnknown, L"IUnknow"},
      {IID_IURLSearchHook2, L"IURLSearchHook2"},
      {IID_IURLSearchHook, L"IURLSearchHook"},
      {IID_IWinInetCacheHints2, L"IWinInetCacheHints2"},
      {IID_IWinInetCacheHints, L"IWinInetCacheHints"},
      {IID_IWinInetHttpInfo, L"IWinInetHttpInfo"},
      {IID_IWinInetInfo, L"IWinInetInfo"},
      {IID_IShellFolder, L"IShellFolder"},
      {IID_IShellFolder2, L"IShellFolder2"},
      {IID_IPersistFolder, L"IPersistFolder"},
      {IID_IPersistFolder2, L"IPersistFolder2"},
      {IID_IPersistFolder3, L"IPersistFolder3"},
      {IID_IObjectWithBackReferences, L"IObjectWithBackReferences"},
      {IID_IPropertyStoreFactory, L"IPropertyStoreFactory"},
      {IID_IPropertyStoreCache, L"IPropertyStoreCache"},
      {IID_IPropertySetStorage, L"IPropertySetStorage"},
      {IID_IShellItem, L"IShellItem"},
      {IID_IShellItem2, L"IShellItem2"},
      {IID_IShellItemImageFactory, L"IShellItemImageFactory"},
      {IID_IFolderView, L"IFolderView"},
      {IID_IPersistIDList, L"IPersistIDList"},
      {IID_IIdentityName, L"IIdentityName"},
      {IID_IShellView, L"IShellView"},
      {IID_IShellView2, L"IShellView2"},
      {IID_IShellView3, L"IShellView3"},
      {IID_IShellIcon, L"IShellIcon"},
      {IID_IShellIconOverlay, L"IShellIconOverlay"},
      {IID_IFolderFilter, L"IFolderFilter"},
      {IID_IFolderViewSettings, L"IFolderViewSettings"},
      {IID_IShellFolderViewCB, L"IShellFolderViewCB"},
      {IID_IExplorerPaneVisibility, L"IExplorerPaneVisibility"},
      {IID_IThumbnailHandlerFactory, L"IThumbnailHandlerFactory"},
      {IID_ICategoryProvider, L"ICategoryProvider"},
      {IID_IExplorerCommandProvider, L"IExplorerCommandProvider"},
      {IID_IBrowserFrameOptions, L"IBrowserFrameOptions"},
      {IID_IShellDetails, L"IShellDetails"},
      {IID_IViewStateIdentityItem, L"IViewStateIdentityItem"},
      {IID_IPreviewItem, L"IPreviewItem"},
      {IID_IObjectProvider, L"IObjectProvider"},
      {IID_IStream, L"IStream"},
      {IID_IObjectWithFolderEnumMode, L"IObjectWithFolderEnumMode"},
      {IID_ITransferSource, L"ITransferSource"},
      {IID_IDisplayItem, L"IDisplayItem"},
      {IID_IShellItemResources, L"IShellItemResources"},
      {IID_IEnumResources, L"IEnumResources"},
      {IID_IItemNameLimits, L"IItemNameLimits"},
      {IID_IStreamAsync, L"IStreamAsync"},
      {IID_ITransferMediumItem, L"ITransferMediumItem"},
      {IID_INewMenuClient, L"INewMenuClient"},
      {IID_ITransferDestination, L"ITransferDestination"},
      {IID_IEnumShellItems, L"IEnumShellItems"},
      {IID_IShellItemArray, L"IShellItemArray"},
      {IID_IEnumFullIDList, L"IEnumFullIDList"},
      {IID_IWebBrowser, L"IWebBrowser"},
      {IID_IDeskBar, L"IDeskBar"},
      {IID_ICurrentItem, L"ICurrentItem"},
      {IID_IPropertyDescriptionList, L"IPropertyDescriptionList"},
      {DIID_DShellFolderViewEvents, L"DShellFolderViewEvents"},
      {DIID_DWebBrowserEvents2, L"DWebBrowserEvents2"},
      {CLSID_ISFBand, L"CLSID_ISFBand"},
      {CLSID_MenuBand, L"CLSID_MenuBand"},
      {CLSID_ControlPanel, L"CLSID_ControlPanel"},
      {CLSID_MyComputer, L"CLSID_MyComputer"},
      {CLSID_MyDocuments, L"CLSID_MyDocuments"},
      {CLSID_NetworkConnections, L"CLSID_NetworkConnections"},
      {CLSID_NetworkDomain, L"CLSID_NetworkDomain"},
      {CLSID_RecycleBin, L"CLSID_RecycleBin"},
      {CLSID_ScheduledTasks, L"CLSID_ScheduledTasks"},
  };
  EXPECT_EQ(std::size(cases), 143u);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    EXPECT_EQ(InterfaceIdToText(c.iid), c.text) << GuidToText(c.iid);
  }
}

// The rows whose identifier is not published under its name, and the library's own.
TEST(InterfaceNames, UnpublishedAndInternalRowsHaveTheirTexts) {
  struct Case {
    const wchar_t* iid;
    const wchar_t* text;
  };
  const Case cases[] = {
      {L"{0000001B-0000-0000-C000-000000000046}", L"IIdentityUnmarshal (not documented)"},
      {L"{2EC06C64-1296-4F53-89E5-ECCE4EFC2189}", L"IShellFolder3_Vista (not documented)"},
      {L"{711B2CFD-93D1-422B-BDF4-69BE923F2449}", L"IShellFolder3_7 (not documented)"},
      {L"{7361EE29-5BAD-459D-A9F5-F655068982F0}", L"IFolderProperties (not documented)"},
      {L"{8279FEB8-5CA4-45C4-BE27-770DCDEA1DEB}", L"ITopViewAwareItem (not documented)"},
      {L"{053B4A86-0DC9-40A3-B7ED-BC6A2E951F48}", L"IFolderType (not documented)"},
      {L"{176C11B1-4302-4164-8430-D5A9F0EEACDB}", L"IFrameLayoutDefinition (not documented)"},
      {L"{527832F6-5FB1-414D-86CC-5BC1DA0F4ED9}", L"IObjectWithGITCookie (not documented)"},
      {L"{32AE3A1F-D90E-4417-9DD9-23B0DFA4621D}", L"IItemSetOperations (not documented)"},
      {L"{51737562-4F12-4B7A-A3A0-6E9EFE465E1E}", L"INavigationRelatedItem (not documented)"},
      {L"{7E734121-F3B4-45F9-AD43-2FBE39E533E2}", L"IFrameLayoutDefinitionFactory (not documented)"},
      {L"{124BAE2C-CB94-42CD-B5B8-4358789684EF}", L"IShellFolderPropertyInformation (not documented)"},
      {L"{9838AAB6-32FD-455A-823D-83CFE06E4D48}", L"ISearchBoxSettings (not documented)"},
      {L"{DDA3A58A-43DA-4A43-A5F2-F7ABF6E3C026}", L"IShellSearchTargetServices (not documented)"},
      {L"{38698B65-1CA7-458C-B4D6-E0A51379C1D2}", L"IInfoPaneProvider (not documented)"},
      {L"{86187C37-E662-4D1E-A122-7478676D7E6E}", L"ILibraryDescription (not documented)"},
      {L"{47D9E2B2-CBB3-4FE3-A925-F49978685982}", L"IContextMenuFactory (not documented)"},
      {L"{089F3011-BB5C-4F9C-9B8F-9A67ED446E91}", L"IPropertyInfoProvider (not documented)"},
      {L"{24D16EE5-10F5-4DE3-8766-D23779BA7A6D}", L"INewItemAdvisor (not documented)"},
      {L"{148BCE7A-0D60-4254-813F-A4E4EA46DF3F}", L"ILocalizableItemParent (not documented)"},
      {L"{4C96BE40-915C-11CF-99D3-00AA004AE837}", L"TopLevelBrowser"},
      {L"{62112AA2-EBE4-11CF-A5FB-0020AFE7292D}", L"DShellFolderViewEvents"},
      {L"{34A715A0-6587-11D0-924A-0020AFC7AC4D}", L"DWebBrowserEvents2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    EXPECT_EQ(InterfaceIdToText(GuidFromText(c.iid)), c.text);
  }
  EXPECT_EQ(InterfaceIdToText(IID_IqorShellNameSpaceFolder), L"IqorShellNameSpaceFolder (internal)");
  EXPECT_EQ(InterfaceIdToText(IID_IUnknown), L"IUnknow");
  EXPECT_EQ(InterfaceIdToText(IID_IStream), L"IStream");
}

TEST(InterfaceNames, TablesHaveTheirSizesAndNoIdentifierOrTextTwice) {
  ASSERT_EQ(KnownInterfaceIds().size(), 192u);
  ASSERT_EQ(NamelessInterfaceIds().size(), 38u);
  std::set<std::wstring> ids, texts;
  for (const KnownInterfaceId& row : KnownInterfaceIds()) {
    EXPECT_TRUE(ids.insert(GuidToText(row.iid)).second) << "twice: " << testing::PrintToString(GuidToText(row.iid));
    EXPECT_TRUE(texts.insert(AsciiText(row.text)).second) << "twice: " << row.text;
  }
  for (const GUID& iid : NamelessInterfaceIds())
    EXPECT_TRUE(ids.insert(GuidToText(iid)).second) << "known and nameless: " << testing::PrintToString(GuidToText(iid));
  EXPECT_FALSE(ids.count(GuidToText(IID_RuntimeInternalInterface)));
}

TEST(InterfaceNames, NamelessIdentifiersAreShownInRegistryFormWithoutQuestionMark) {
  const wchar_t* nameless[] = {
      L"{00000039-0000-0000-C000-000000000046}", L"{01985350-DF2A-473F-9BC9-CEB4D0CA10EF}",
      L"{0848ED1E-09D7-4A05-AD2D-0C21E232EB66}", L"{0AE9278D-BAE7-41D1-B555-60E8D4196BEE}",
      L"{201DACCD-A5EB-46BF-8400-B376A77E0B7B}", L"{2C258AE7-50DC-49FF-9D1D-2ECB9A52CDD7}",
      L"{334D391F-0E79-3B15-C9FF-EAC65DD07C42}", L"{42339A50-7A91-44F9-87AC-37E6EC1B1A88}",
      L"{4C1E39E1-E3E3-4296-AA86-EC938D896E92}", L"{67077B95-4F9D-11D0-B884-00AA00B60104}",
      L"{6C72B11B-DBE0-4C87-B1A8-7C8A36BD563D}", L"{72DBECE7-D912-4A8F-841C-A521B7447463}",
      L"{77DD1250-139C-2BC3-BD95-900ACED61BE5}", L"{7DAF9908-8415-4005-95AE-BD27F6E3DC00}",
      L"{82DED34B-5E4C-48C8-8F58-C58064DB7F41}", L"{8CD9494C-AC44-44D0-8FFD-D4CF8672B0A0}",
      L"{924502A7-CC8E-4F60-AE1F-F70C0A2B7A7C}", L"{93F81976-6A0D-42C3-94DD-AA258A155470}",
      L"{9B45E435-34A9-4E6B-A2A1-B0ECD284967C}", L"{B09C4B99-A882-4F63-BB41-AC4C5DF802C5}",
      L"{BE9DA82B-CC54-4B19-8C22-AD7762FF29EB}", L"{C83383C8-FEFB-4C6C-B1E8-F301431F93B2}",
      L"{CA53C336-6D6D-4D41-8E63-34EBF9F94400}", L"{CAD9AE9F-56E2-40F1-AFB6-3813E320DCFD}",
      L"{CE394D81-3702-4294-9CF0-2F541563D5C0}", L"{D6B78E20-B98A-49FA-AE7E-2BA7FCE522F5}",
      L"{E0EECF93-8B48-44AF-A377-07852487B85C}", L"{E864A697-83E2-4CF6-B232-BA2B59D7AD54}",
      L"{EA93F3A5-21FE-4C54-9F69-31472A00DB40}", L"{F3D8F080-A5EB-476F-9D19-A5EF24E5C2E6}",
      L"{FC124ACF-2102-4726-843E-7C04A107A4F9}", L"{FDBEE76E-F12B-408E-93AB-9BE8521000D9}",
      L"{DA807A0B-DD2B-452B-A390-D79C351B6D8D}", L"{AF51335E-692C-4FBF-A963-8E162C3EED36}",
      L"{C3933843-C24B-45A2-8298-B462F59DAAF2}", L"{3A55501A-BDCC-4E63-96BC-4DDB6F44CCDD}",
      L"{2968087C-7490-430F-BB8B-2156610D825A}", L"{B0061660-B231-11D2-963E-00C04F79ADF0}",
  };
  for (const wchar_t* text : nameless) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
    EXPECT_EQ(InterfaceIdToText(GuidFromText(text)), text);
  }
}

TEST(InterfaceNames, RulesApplyInTheirOrder) {
  const GUID unregistered = GuidFromText(L"{5F1E9C4B-2D7A-4B36-9E80-C1A2B3D4E5F6}");
  const GUID registered = GuidFromText(L"{6A2F0D5C-3E8B-4C47-AF91-D2B3C4E5F607}");
  const GUID nameless = GuidFromText(L"{00000039-0000-0000-C000-000000000046}");
  const GUID runtime = GuidFromText(L"{CEDF24DE-80A4-447D-8C75-EB871DC121FD}");

  // Nothing registered: the nameless one bare, the runtime's own with its mark, the rest unknown.
  EXPECT_EQ(InterfaceIdToText(unregistered), L"?{5F1E9C4B-2D7A-4B36-9E80-C1A2B3D4E5F6}");
  EXPECT_EQ(InterfaceIdToText(nameless), L"{00000039-0000-0000-C000-000000000046}");
  EXPECT_EQ(InterfaceIdToText(runtime), L"{CEDF24DE-80A4-447D-8C75-EB871DC121FD} (runtime internal)");
  EXPECT_EQ(InterfaceIdToText(registered), L"?{6A2F0D5C-3E8B-4C47-AF91-D2B3C4E5F607}");

  struct Case {
    const GUID& iid;
    const wchar_t* registeredName;
    std::wstring text;
  };
  const Case cases[] = {
      // The registry names what the table does not know...
      {registered, L"IQorTestRegistered", L"IQorTestRegistered (from Registry)"},
      // ...and comes before the nameless list and the runtime's identifier...
      {nameless, L"IQorTestNameless", L"IQorTestNameless (from Registry)"},
      {runtime, L"IQorTestRuntime", L"IQorTestRuntime (from Registry)"},
      // ...but never before the table.
      {IID_IDispatch, L"IQorTestNotTheTable", L"IDispatch"},
      {IID_IStream, L"IQorTestNotTheTable", L"IStream"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    const std::wstring keyName = L"Interface\\" + GuidToText(c.iid);
    // Keys that the prefix already has (IDispatch, IStream) keep their own value afterwards.
    RegKey existing;
    const bool existed = RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, existing.put()) == ERROR_SUCCESS;
    if (existed) {
      EXPECT_EQ(InterfaceIdToText(c.iid), c.text);
      continue;
    }
    RegisteredInterface registration(c.iid, c.registeredName);
    EXPECT_EQ(InterfaceIdToText(c.iid), c.text);
  }
  // The registration is gone again, and so is the name.
  EXPECT_EQ(InterfaceIdToText(registered), L"?{6A2F0D5C-3E8B-4C47-AF91-D2B3C4E5F607}");
}

TEST(InterfaceNames, RegisteredEmptyNameIsNoName) {
  const GUID iid = GuidFromText(L"{7B3A1E6D-4F9C-4D58-B0A2-E3C4D5F60718}");
  RegisteredInterface registration(iid, L"");
  EXPECT_EQ(InterfaceIdToText(iid), L"?{7B3A1E6D-4F9C-4D58-B0A2-E3C4D5F60718}");
}
