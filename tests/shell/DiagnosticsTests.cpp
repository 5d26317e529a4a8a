#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Error.h"
#include "Handles.h"
#include "InterfaceDiagnostics.h"
#include "LoggingClient.h"
#include "qorShellBaseExtension.h"

using namespace qor;

namespace {

std::atomic<int> TestObjectsAlive{0};

// The smallest logging COM object: IPersist, whose one method runs through a method frame.
class TqorTestObject : public IPersist, public TqorShellInterfacedObject {
 public:
  explicit TqorTestObject(bool dontLog = false) : TqorShellInterfacedObject(L"TqorTestObject") {
    FDontLog = dontLog;
    ++TestObjectsAlive;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    return QueryInterfaceImpl(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return ReleaseImpl(); }

  // Logs "AClassID" in, fails with E_POINTER for null, or raises what the test asked for.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) noexcept override {
    MethodFrame frame(*this, L".IPersist.GetClassID");
    if (frame.Logging()) frame.In(L"AClassID", PointerToText(classId));
    frame.Run([&] {
      if (raise) raise();
      CheckPointer(classId, L"AClassID");
      *classId = IID_IPersist;
      return S_OK;
    });
    if (frame.Logging()) frame.Out(L"AClassID", classId ? GuidToText(*classId) : L"nil");
    return frame.Finish();
  }

  void (*raise)() = nullptr;

 protected:
  ~TqorTestObject() override {
    // The descendant's part goes first: this line comes before "is destroyed".
    if (CodeSite()) CodeSite()->SendMsg(L"TqorTestObject released its parts");
    --TestObjectsAlive;
  }
  void* FindInterface(REFIID iid) noexcept override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist)) return static_cast<IPersist*>(this);
    return nullptr;
  }
};

struct Line {
  LogKind kind;
  std::wstring text;
};

// The logger with an in-memory sink behind it, and the library's logging switch as the start-up
// leaves it.
class Diagnostics : public testing::Test {
 protected:
  void SetUp() override {
    SetEnvironmentVariableW(L"QUORVEX_LOG", nullptr);
    SetEnvironmentVariableW(L"QUORVEX_LOG_DEBUGGER", nullptr);
    InitializeLoggingClient();
    CodeSite()->SetSink(sink);
    savedLogAll = LogAllObjects;
    LogAllObjects = true;
  }
  void TearDown() override {
    LogAllObjects = savedLogAll;
    FinalizeLoggingClient();
  }
  void ExpectLines(const std::vector<Line>& expected) {
    const auto records = sink->Records();
    std::wstring got;
    for (const LogRecord& r : records) got += std::wstring(LogKindText(r.kind)) + L": " + r.text + L"\n";
    ASSERT_EQ(records.size(), expected.size()) << testing::PrintToString(got);
    for (size_t i = 0; i < records.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_STREQ(LogKindText(records[i].kind), LogKindText(expected[i].kind)) << records[i].text;
      EXPECT_EQ(records[i].text, expected[i].text);
    }
  }
  std::shared_ptr<MemoryLogSink> sink = std::make_shared<MemoryLogSink>();
  bool savedLogAll = false;
};

ComPtr<IPersist> NewTestObject(bool dontLog = false) {
  TqorTestObject* object = CreateShellObject<TqorTestObject>(dontLog);
  ComPtr<IPersist> persist;
  EXPECT_EQ(object->QueryInterface(IID_IPersist, persist.put_void()), S_OK);
  return persist;
}

}  // namespace

TEST_F(Diagnostics, LifeOfAnObjectAndARefusedQueryAreLoggedInOrder) {
  {
    ComPtr<IPersist> persist = NewTestObject();
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(persist->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    void* dispatch = reinterpret_cast<void*>(1);
    EXPECT_EQ(persist->QueryInterface(IID_IDispatch, &dispatch), E_NOINTERFACE);
    EXPECT_EQ(dispatch, nullptr) << "a refused query clears the out-parameter";
    EXPECT_EQ(TestObjectsAlive.load(), 1);
  }
  EXPECT_EQ(TestObjectsAlive.load(), 0);
  ExpectLines({
      {LogKind::Separator, L""},
      {LogKind::EnterMethod, L"TqorTestObject is created"},
      {LogKind::Message, L"TqorTestObject.QueryInterface IPersist out Result=S_OK"},
      {LogKind::Message, L"TqorTestObject.QueryInterface IUnknow out Result=S_OK"},
      {LogKind::Error, L"TqorTestObject.QueryInterface IDispatch out Result=E_NOINTERFACE"},
      {LogKind::Message, L"TqorTestObject released its parts"},
      {LogKind::ExitMethod, L"TqorTestObject is destroyed"},
      {LogKind::Separator, L""},
  });
  // "is created" and "is destroyed" bracket the object's life at one depth.
  const auto records = sink->Records();
  EXPECT_EQ(records[1].depth, 0);
  EXPECT_EQ(records[4].depth, 1);
  EXPECT_EQ(records[6].depth, 0);
}

TEST_F(Diagnostics, QueryInterfaceWithoutOutPointerFailsWithoutCounting) {
  ComPtr<IPersist> persist = NewTestObject();
  EXPECT_EQ(persist->QueryInterface(IID_IPersist, nullptr), E_POINTER);
  EXPECT_EQ(persist->AddRef(), 2u) << "the failed query took no reference";
  EXPECT_EQ(persist->Release(), 1u);
}

TEST_F(Diagnostics, MethodFrameLogsInputsBodyOutputsResultAndEnd) {
  ComPtr<IPersist> persist = NewTestObject();
  sink->Clear();
  CLSID classId{};
  EXPECT_EQ(persist->GetClassID(&classId), S_OK);
  EXPECT_TRUE(IsEqualGUID(classId, IID_IPersist));
  EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
  const std::wstring label = L"TqorTestObject.IPersist.GetClassID";
  ExpectLines({
      {LogKind::EnterMethod, label + L" started"},
      {LogKind::Message, label + L" in AClassID=" + PointerToText(&classId)},
      {LogKind::Message, label + L" out AClassID={0000010C-0000-0000-C000-000000000046}"},
      {LogKind::Message, label + L" out Result=S_OK"},
      {LogKind::ExitMethod, label + L" finished"},
      // A raised check: the exception line, no out line, the mapped result as an error.
      {LogKind::EnterMethod, label + L" started"},
      {LogKind::Message, label + L" in AClassID=0000000000000000"},
      {LogKind::Exception, label + L" EInvalidPointer raised: AClassID is nill"},
      {LogKind::Error, label + L" out Result=E_POINTER"},
      {LogKind::ExitMethod, label + L" finished"},
  });
  // Inside the object's life (depth 1): the method's lines one deeper, "finished" back at its level.
  const auto records = sink->Records();
  EXPECT_EQ(records[0].depth, 1);
  EXPECT_EQ(records[1].depth, 2);
  EXPECT_EQ(records[4].depth, 1);
}

TEST_F(Diagnostics, AnythingRaisedInTheBodyBecomesItsResultAndNothingEscapes) {
  struct Case {
    void (*raise)();
    HRESULT result;
    const wchar_t* exceptionLine;
  };
  const Case cases[] = {
      {[] { throw EStorageAccessDenied(); }, STG_E_ACCESSDENIED, L" EStorageAccessDenied raised: "},
      {[] { throw OSError(ERROR_SHARING_VIOLATION); }, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), L" EOSError raised: "},
      {[] { throw std::bad_alloc(); }, E_OUTOFMEMORY, L" EOutOfMemory raised: Out of memory"},
      {[] { throw 42; }, E_UNEXPECTED, L" Unknown raised: Unexpected error"},
  };
  ComPtr<IPersist> persist = NewTestObject();
  auto* object = static_cast<TqorTestObject*>(persist.get());
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.exceptionLine)));
    sink->Clear();
    object->raise = c.raise;
    CLSID classId{};
    EXPECT_EQ(persist->GetClassID(&classId), c.result);
    const auto records = sink->Records();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[2].kind, LogKind::Exception);
    EXPECT_EQ(records[2].text.rfind(L"TqorTestObject.IPersist.GetClassID" + std::wstring(c.exceptionLine), 0), 0u)
        << testing::PrintToString(records[2].text);
    EXPECT_EQ(records[3].kind, LogKind::Error);
  }
  object->raise = nullptr;
}

TEST_F(Diagnostics, GateWithDontLogAndLogAllObjectsOffWritesOnlyExceptions) {
  LogAllObjects = false;
  {
    ComPtr<IPersist> persist = NewTestObject(/*dontLog=*/true);
    void* dispatch = nullptr;
    EXPECT_EQ(persist->QueryInterface(IID_IDispatch, &dispatch), E_NOINTERFACE);
    EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
    CLSID classId{};
    EXPECT_EQ(persist->GetClassID(&classId), S_OK);
  }
  // Only the exception and the descendant's own line (sent straight to the logger) are left.
  ExpectLines({
      {LogKind::Exception, L"TqorTestObject.IPersist.GetClassID EInvalidPointer raised: AClassID is nill"},
      {LogKind::Message, L"TqorTestObject released its parts"},
  });
}

TEST_F(Diagnostics, GateIsOpenWhenEitherSwitchAllowsIt) {
  struct Case {
    bool dontLog;
    bool logAll;
    size_t lines;  // for: created, one call, destroyed
  };
  // separator + created + QueryInterface + 5 frame lines + descendant + destroyed + separator = 11
  const Case cases[] = {{false, false, 11}, {false, true, 11}, {true, true, 11}, {true, false, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "FDontLog " << c.dontLog << ", LogAllObjects " << c.logAll);
    sink->Clear();
    LogAllObjects = c.logAll;
    {
      ComPtr<IPersist> persist = NewTestObject(c.dontLog);
      CLSID classId{};
      EXPECT_EQ(persist->GetClassID(&classId), S_OK);
    }
    EXPECT_EQ(sink->Records().size(), c.lines);
  }
}

TEST_F(Diagnostics, WithoutASinkNothingIsBuiltAndResultsStayTheSame) {
  CodeSite()->SetSink(nullptr);
  ComPtr<IPersist> persist = NewTestObject();
  auto* object = static_cast<TqorTestObject*>(persist.get());
  EXPECT_FALSE(object->Logging());
  EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
  object->raise = [] { throw OSError(5); };
  CLSID classId{};
  EXPECT_EQ(persist->GetClassID(&classId), HRESULT(0x80070005));
  object->raise = nullptr;
  EXPECT_TRUE(sink->Records().empty());
}

TEST_F(Diagnostics, ResultLineIsAnErrorOnlyForRealFailures) {
  struct Case {
    HRESULT hr;
    LogKind kind;
    const wchar_t* text;
  };
  const Case cases[] = {
      {S_OK, LogKind::Message, L"S_OK"},
      {S_FALSE, LogKind::Message, L"S_FALSE"},
      {2, LogKind::Message, L"00000002"},
      {E_PENDING, LogKind::Message, L"E_PENDING"},
      {HRESULT(0x800C0011), LogKind::Message, L"INET_E_USE_DEFAULT_PROTOCOLHANDLER or INET_E_DEFAULT_ACTION"},
      {E_NOINTERFACE, LogKind::Error, L"E_NOINTERFACE"},
      {HRESULT(0x80070005), LogKind::Error, L"80070005"},
      {HRESULT(0x800C0012), LogKind::Error, L"INET_E_USE_DEFAULT_SETTING"},
  };
  ComPtr<IPersist> persist = NewTestObject();
  auto* object = static_cast<TqorTestObject*>(persist.get());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    sink->Clear();
    object->LogResult(L"L", c.hr);
    const auto records = sink->Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ(LogKindText(records[0].kind), LogKindText(c.kind));
    EXPECT_EQ(records[0].text, std::wstring(L"L out Result=") + c.text);
  }
}

TEST(ReferenceCount, AddRefAndReleaseFromSeveralThreadsKeepTheCountAndDestroyOnce) {
  ASSERT_EQ(CodeSite(), nullptr) << "runs without a logger";
  TqorTestObject* object = CreateShellObject<TqorTestObject>();
  EXPECT_EQ(object->RefCount(), 0);
  EXPECT_EQ(object->AddRef(), 1u);
  constexpr int kThreads = 4;
  constexpr int kRounds = 100000;
  // All threads start together and take references in bursts, so that their counting overlaps.
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([object, &go] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kRounds; i += 100) {
        for (int j = 0; j < 100; ++j) object->AddRef();
        for (int j = 0; j < 100; ++j) object->Release();
      }
    });
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(object->RefCount(), 1);
  EXPECT_EQ(TestObjectsAlive.load(), 1);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(TestObjectsAlive.load(), 0);
}

TEST(ExceptionMapping, EachKindGivesItsHResultAndClassName) {
  class DerivedArgumentError : public ArgumentError {
   public:
    DerivedArgumentError() : ArgumentError(L"derived") {}
  };
  class DerivedAccessDenied : public EStorageAccessDenied {};
  struct Case {
    std::exception_ptr error;
    HRESULT hr;
    const wchar_t* className;
  };
  const Case cases[] = {
      {std::make_exception_ptr(std::bad_alloc()), E_OUTOFMEMORY, L"EOutOfMemory"},
      {std::make_exception_ptr(OSError(5)), HRESULT(0x80070005), L"EOSError"},
      {std::make_exception_ptr(OSError(0x12345)), HRESULT(0x80072345), L"EOSError"},
      // A failure without a code is still a failure.
      {std::make_exception_ptr(OSError(0)), E_FAIL, L"EOSError"},
      {std::make_exception_ptr(ArgumentError(L"x")), E_INVALIDARG, L"EArgumentException"},
      {std::make_exception_ptr(DerivedArgumentError()), E_INVALIDARG, L"EArgumentException"},
      {std::make_exception_ptr(PointerError(L"x")), E_POINTER, L"EInvalidPointer"},
      {std::make_exception_ptr(EUninitializedObject()), HRESULT(0x80040007), L"EUninitializedObject"},
      {std::make_exception_ptr(EStorageAccessDenied()), STG_E_ACCESSDENIED, L"EStorageAccessDenied"},
      {std::make_exception_ptr(DerivedAccessDenied()), STG_E_ACCESSDENIED, L"EStorageAccessDenied"},
      {std::make_exception_ptr(OleSysError(E_ACCESSDENIED)), E_UNEXPECTED, L"EOleSysError"},
      {std::make_exception_ptr(FileStreamError(L"f: Invalid access mode")), E_UNEXPECTED, L"EFileStreamError"},
      {std::make_exception_ptr(Error(L"plain")), E_UNEXPECTED, L"Exception"},
      {std::make_exception_ptr(std::runtime_error("std")), E_UNEXPECTED, L"Exception"},
      {std::make_exception_ptr(42), E_UNEXPECTED, L"Unknown"},
      {nullptr, E_UNEXPECTED, L"Unknown"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i << " " << testing::PrintToString(std::wstring(cases[i].className)));
    EXPECT_EQ(Hex8(DWORD(ExceptionToHResult(cases[i].error))), Hex8(DWORD(cases[i].hr)));
    EXPECT_EQ(ExceptionClassName(cases[i].error), cases[i].className);
  }
}

TEST(Checks, RaiseWithTheirTextsOnlyWhenTheyFail) {
  int value = 0;
  EXPECT_NO_THROW(CheckPointer(&value, L"ABuffer"));
  EXPECT_NO_THROW(CheckArgument(true, L"AStatFlag"));
  try {
    CheckPointer(nullptr, L"ABuffer");
    ADD_FAILURE() << "no exception for a null pointer";
  } catch (const PointerError& e) {
    EXPECT_EQ(e.message(), L"ABuffer is nill");
  }
  try {
    CheckArgument(false, L"AStatFlag");
    ADD_FAILURE() << "no exception for a false condition";
  } catch (const ArgumentError& e) {
    EXPECT_EQ(e.message(), L"AStatFlag has invalid value");
  }
  EXPECT_EQ(EStorageAccessDenied().message(), L"");
  EXPECT_EQ(EUninitializedObject().message(), L"");
}

TEST(HResultText, KnownValuesByNameOthersAsEightHexDigits) {
  struct Case {
    DWORD value;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0x00000000, L"S_OK"},
      {0x00000001, L"S_FALSE"},
      {0x8000000A, L"E_PENDING"},
      {0x80004001, L"E_NOTIMPL"},
      {0x80004002, L"E_NOINTERFACE"},
      {0x80004003, L"E_POINTER"},
      {0x80004005, L"E_FAIL"},
      {0x8000FFFF, L"E_UNEXPECTED"},
      {0x80040003, L"OLE_E_ADVISENOTSUPPORTED"},
      {0x80040007, L"OLE_E_BLANK"},
      {0x80040064, L"DV_E_FORMATETC"},
      {0x80040069, L"DV_E_TYMED"},
      {0x8004006B, L"DV_E_DVASPECT"},
      {0x8007000E, L"E_OUTOFMEMORY"},
      {0x80070057, L"E_INVALIDARG"},
      {0x800C0002, L"INET_E_INVALID_URL"},
      {0x800C0003, L"INET_E_NO_SESSION"},
      {0x800C0004, L"INET_E_CANNOT_CONNECT"},
      {0x800C0005, L"INET_E_RESOURCE_NOT_FOUND"},
      {0x800C0006, L"INET_E_OBJECT_NOT_FOUND"},
      {0x800C0007, L"INET_E_DATA_NOT_AVAILABLE"},
      {0x800C0008, L"INET_E_DOWNLOAD_FAILURE"},
      {0x800C0009, L"INET_E_AUTHENTICATION_REQUIRED"},
      {0x800C000A, L"INET_E_NO_VALID_MEDIA"},
      {0x800C000B, L"INET_E_CONNECTION_TIMEOUT"},
      {0x800C000C, L"INET_E_INVALID_REQUEST"},
      {0x800C000D, L"INET_E_UNKNOWN_PROTOCOL"},
      {0x800C000E, L"INET_E_SECURITY_PROBLEM"},
      {0x800C000F, L"INET_E_CANNOT_LOAD_DATA"},
      {0x800C0010, L"INET_E_CANNOT_INSTANTIATE_OBJECT"},
      {0x800C0011, L"INET_E_USE_DEFAULT_PROTOCOLHANDLER or INET_E_DEFAULT_ACTION"},
      {0x800C0012, L"INET_E_USE_DEFAULT_SETTING"},
      {0x800C0013, L"INET_E_QUERYOPTION_UNKNOWN"},
      {0x800C0014, L"INET_E_REDIRECTING or INET_E_REDIRECT_FAILED"},
      {0x800C0015, L"INET_E_REDIRECT_TO_DIR"},
      {0x800C0016, L"INET_E_CANNOT_LOCK_REQUEST"},
      {0x800C0017, L"INET_E_USE_EXTEND_BINDING"},
      {0x800C0018, L"INET_E_TERMINATED_BIND"},
      {0x800C0019, L"INET_E_INVALID_CERTIFICATE"},
      {0x800C0100, L"INET_E_CODE_DOWNLOAD_DECLINED"},
      {0x800C0200, L"INET_E_RESULT_DISPATCHED"},
      {0x800C0300, L"INET_E_CANNOT_REPLACE_SFP_FILE"},
      {0x800C0400, L"INET_E_CODE_INSTALL_SUPPRESSED"},
      {0x800C0500, L"INET_E_CODE_INSTALL_BLOCKED_BY_HASH_POLICY"},
      // Not in the table: the value itself.
      {0x80070005, L"80070005"},
      {0x00000002, L"00000002"},
      {0x800C0001, L"800C0001"},
      {0x800C001A, L"800C001A"},
      {0xFFFFFFFF, L"FFFFFFFF"},
      {0x0000ABCD, L"0000ABCD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.value);
    EXPECT_EQ(HResultToText(HRESULT(c.value)), c.text);
  }
}

TEST(LogTexts, PointersHexAndGuidsInTheirFixedForms) {
  EXPECT_EQ(PointerToText(nullptr), L"0000000000000000");
  EXPECT_EQ(PointerToText(reinterpret_cast<void*>(0x1234ABCDull)), L"000000001234ABCD");
  EXPECT_EQ(Hex8(0), L"00000000");
  EXPECT_EQ(Hex8(0xDEADbeef), L"DEADBEEF");
  EXPECT_EQ(GuidToText(IID_IStream), L"{0000000C-0000-0000-C000-000000000046}");
  const GUID mixed = {0x0a1b2c3d, 0x4e5f, 0x6a7b, {0x8c, 0x9d, 0xae, 0xbf, 0xc0, 0xd1, 0xe2, 0xf3}};
  EXPECT_EQ(GuidToText(mixed), L"{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}");
  wchar_t ole[64];
  StringFromGUID2(mixed, ole, 64);
  EXPECT_EQ(GuidToText(mixed), ole) << "the registry form is the system's own";
}

TEST(FileTimeText, DateAndTimeInTheUsersFormatsDateAloneAtMidnight) {
  auto fileTime = [](WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms) {
    SYSTEMTIME st{y, mo, 0, d, h, mi, s, ms};
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return ft;
  };
  auto dateText = [](WORD y, WORD mo, WORD d) {
    SYSTEMTIME st{y, mo, 0, d, 0, 0, 0, 0};
    wchar_t text[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, text, 128);
    return std::wstring(text);
  };
  // The zero value is the first moment of 1601, a midnight: the date alone.
  const FILETIME zero{};
  const std::wstring first = FileTimeToText(zero);
  EXPECT_EQ(first, dateText(1601, 1, 1));
  EXPECT_NE(first.find(L"1601"), std::wstring::npos) << testing::PrintToString(first);

  // Not converted to local time: 23:59:58 UTC stays on its day and shows its own hour.
  const std::wstring late = FileTimeToText(fileTime(2021, 12, 31, 23, 59, 58, 0));
  EXPECT_EQ(late.rfind(dateText(2021, 12, 31) + L" ", 0), 0u) << testing::PrintToString(late);
  EXPECT_NE(late.find(L"59:58"), std::wstring::npos) << testing::PrintToString(late);
  // One millisecond past midnight is no longer midnight.
  const std::wstring almost = FileTimeToText(fileTime(2021, 6, 1, 0, 0, 0, 1));
  EXPECT_GT(almost.size(), dateText(2021, 6, 1).size()) << testing::PrintToString(almost);
  EXPECT_EQ(FileTimeToText(fileTime(2021, 6, 1, 0, 0, 0, 0)), dateText(2021, 6, 1));

  const FILETIME topBit{0, 0x80000000u};
  EXPECT_EQ(FileTimeToText(topBit), L"Invalid file time");
}
