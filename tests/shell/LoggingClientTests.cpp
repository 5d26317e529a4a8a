#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Error.h"
#include "FileTestSupport.h"
#include "LoggingClient.h"

using namespace qor;

namespace {

// The logger made by a fresh start-up, with the environment that start-up reads set as each test
// wants it, and the environment and logger gone again at the end.
class LoggingClient : public testing::Test {
 protected:
  void SetUp() override {
    SetEnvironmentVariableW(L"QUORVEX_LOG", nullptr);
    SetEnvironmentVariableW(L"QUORVEX_LOG_DEBUGGER", nullptr);
  }
  void TearDown() override {
    FinalizeLoggingClient();
    SetEnvironmentVariableW(L"QUORVEX_LOG", nullptr);
    SetEnvironmentVariableW(L"QUORVEX_LOG_DEBUGGER", nullptr);
  }
  std::shared_ptr<MemoryLogSink> StartWithMemorySink() {
    InitializeLoggingClient();
    auto sink = std::make_shared<MemoryLogSink>();
    CodeSite()->SetSink(sink);
    return sink;
  }
};

// Splits the file's UTF-8 text at its line breaks, as wide lines.
std::vector<std::wstring> FileLines(const std::wstring& path) {
  const std::string bytes = qortest::ReadFileBytes(path);
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(start, end - start);
    std::wstring wide(line.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                                      static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(n > 0 ? n : 0));
    lines.push_back(wide);
    start = end + 2;
  }
  return lines;
}

}  // namespace

TEST_F(LoggingClient, LoggerExistsOnlyBetweenStartupAndShutdownAndHasNoSinkByDefault) {
  EXPECT_EQ(CodeSite(), nullptr);
  InitializeLoggingClient();
  TCodeSiteLogger* logger = CodeSite();
  ASSERT_NE(logger, nullptr);
  EXPECT_FALSE(logger->Active());
  EXPECT_EQ(logger->Sink(), nullptr);
  // Without a sink every operation returns at once, and nothing is remembered for a later sink.
  logger->EnterMethod(L"a");
  logger->SendMsg(L"b");
  logger->SendError(L"c");
  logger->SendException(L"d", std::make_exception_ptr(Error(L"e")));
  logger->AddSeparator();
  logger->ExitMethod(L"a");
  auto sink = std::make_shared<MemoryLogSink>();
  logger->SetSink(sink);
  EXPECT_TRUE(logger->Active());
  EXPECT_TRUE(sink->Records().empty()) << sink->Records().size() << " records from before the sink was set";
  FinalizeLoggingClient();
  EXPECT_EQ(CodeSite(), nullptr);
}

TEST_F(LoggingClient, MemorySinkRecordsKindTextDepthAndThread) {
  auto sink = StartWithMemorySink();
  TCodeSiteLogger& log = *CodeSite();
  log.AddSeparator();
  log.EnterMethod(L"outer");
  log.SendMsg(L"message");
  log.EnterMethod(L"inner");
  log.SendError(L"failure");
  log.SendException(L"raised", std::make_exception_ptr(OSError(5)));
  log.SendException(L"no object", nullptr);
  log.ExitMethod(L"inner");
  log.ExitMethod(L"outer");
  // An exit without its enter does not take the depth below zero.
  log.ExitMethod(L"unmatched");
  log.SendMsg(L"after");

  struct Expected {
    LogKind kind;
    std::wstring text;
    int depth;
  };
  const Expected expected[] = {
      {LogKind::Separator, L"", 0},
      {LogKind::EnterMethod, L"outer", 0},
      {LogKind::Message, L"message", 1},
      {LogKind::EnterMethod, L"inner", 1},
      {LogKind::Error, L"failure", 2},
      {LogKind::Exception, L"raised: " + OSError(5).message(), 2},
      {LogKind::Exception, L"no object", 2},
      {LogKind::ExitMethod, L"inner", 1},
      {LogKind::ExitMethod, L"outer", 0},
      {LogKind::ExitMethod, L"unmatched", 0},
      {LogKind::Message, L"after", 0},
  };
  const auto records = sink->Records();
  ASSERT_EQ(records.size(), std::size(expected));
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG nowTicks = (ULONGLONG(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(LogKindText(records[i].kind), LogKindText(expected[i].kind));
    EXPECT_EQ(records[i].text, expected[i].text);
    EXPECT_EQ(records[i].depth, expected[i].depth);
    EXPECT_EQ(records[i].threadId, GetCurrentThreadId());
    const ULONGLONG ticks = (ULONGLONG(records[i].time.dwHighDateTime) << 32) | records[i].time.dwLowDateTime;
    EXPECT_LE(ticks, nowTicks);
    EXPECT_GT(ticks + 10ull * 10000000ull, nowTicks) << "the record's time is more than 10 s old";
  }
}

TEST_F(LoggingClient, ReplacingTheSinkSendsLaterRecordsToTheNewOneAndNullStopsLogging) {
  auto first = StartWithMemorySink();
  TCodeSiteLogger& log = *CodeSite();
  log.SendMsg(L"one");
  auto second = std::make_shared<MemoryLogSink>();
  log.SetSink(second);
  log.SendMsg(L"two");
  log.SetSink(nullptr);
  EXPECT_FALSE(log.Active());
  log.SendMsg(L"three");
  ASSERT_EQ(first->Records().size(), 1u);
  EXPECT_EQ(first->Records()[0].text, L"one");
  ASSERT_EQ(second->Records().size(), 1u);
  EXPECT_EQ(second->Records()[0].text, L"two");
}

TEST_F(LoggingClient, SeveralThreadsLogAtOnceEachWithItsOwnDepth) {
  auto sink = StartWithMemorySink();
  constexpr int kThreads = 6;
  constexpr int kCalls = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      TCodeSiteLogger& log = *CodeSite();
      for (int i = 0; i < kCalls; ++i) {
        log.EnterMethod(L"T" + std::to_wstring(t));
        log.SendMsg(L"T" + std::to_wstring(t));
        log.ExitMethod(L"T" + std::to_wstring(t));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto records = sink->Records();
  ASSERT_EQ(records.size(), size_t(kThreads * kCalls * 3));
  // Per thread: the calls in order and the depth of that thread alone (0, 1, 0), whatever the others did.
  std::map<DWORD, std::vector<const LogRecord*>> byThread;
  for (const LogRecord& r : records) byThread[r.threadId].push_back(&r);
  ASSERT_EQ(byThread.size(), size_t(kThreads));
  for (const auto& [id, list] : byThread) {
    SCOPED_TRACE(id);
    ASSERT_EQ(list.size(), size_t(kCalls * 3));
    const std::wstring text = list[0]->text;
    for (size_t i = 0; i < list.size(); ++i) {
      const LogKind want[] = {LogKind::EnterMethod, LogKind::Message, LogKind::ExitMethod};
      const int depth[] = {0, 1, 0};
      ASSERT_STREQ(LogKindText(list[i]->kind), LogKindText(want[i % 3])) << i;
      ASSERT_EQ(list[i]->depth, depth[i % 3]) << i;
      ASSERT_EQ(list[i]->text, text) << i;
    }
  }
}

TEST_F(LoggingClient, FileNamedByTheEnvironmentGetsOneLinePerCall) {
  qortest::TempFolder folder;
  const std::wstring file = folder / L"log.txt";
  SetEnvironmentVariableW(L"QUORVEX_LOG", file.c_str());
  InitializeLoggingClient();
  TCodeSiteLogger& log = *CodeSite();
  ASSERT_TRUE(log.Active()) << "a file sink is set from QUORVEX_LOG";
  log.EnterMethod(L"TqorStreamAdapter started");
  log.SendMsg(L"in ABufferSize=4096 \u00e4\u4e2d");
  log.SendError(L"out Result=E_NOINTERFACE");
  log.SendException(L"EOSError raised", std::make_exception_ptr(OSError(2)));
  log.AddSeparator();
  log.ExitMethod(L"TqorStreamAdapter finished");
  FinalizeLoggingClient();

  const auto lines = FileLines(file);
  ASSERT_EQ(lines.size(), 6u);
  const std::wstring thread = L" " + std::to_wstring(GetCurrentThreadId()) + L" ";
  struct Expected {
    const wchar_t* kind;
    const wchar_t* depth;
    std::wstring text;
  };
  const Expected expected[] = {
      {L"Enter", L" 0 ", L"TqorStreamAdapter started"},
      {L"Msg", L" 1 ", L"in ABufferSize=4096 \u00e4\u4e2d"},
      {L"Error", L" 1 ", L"out Result=E_NOINTERFACE"},
      // The message's line break becomes a blank: one call, one line.
      {L"Exception", L" 1 ", L"EOSError raised: System Error.  Code: 2. " + SystemMessage(2)},
      {L"Separator", L" 1 ", L"-----"},
      {L"Exit", L" 0 ", L"TqorStreamAdapter finished"},
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    const std::wstring& line = lines[i];
    // "YYYY-MM-DD hh:mm:ss.mmm <thread> <kind> <depth> <text>"
    ASSERT_GT(line.size(), 24u) << line;
    EXPECT_EQ(line[4], L'-') << line;
    EXPECT_EQ(line[13], L':') << line;
    EXPECT_EQ(line[19], L'.') << line;
    EXPECT_NE(line.find(thread), std::wstring::npos) << line;
    EXPECT_NE(line.find(std::wstring(L" ") + expected[i].kind + L" "), std::wstring::npos) << line;
    EXPECT_NE(line.find(expected[i].depth), std::wstring::npos) << line;
    EXPECT_NE(line.find(expected[i].text), std::wstring::npos) << line;
  }

  // A second run appends to the same file.
  InitializeLoggingClient();
  CodeSite()->SendMsg(L"second run");
  FinalizeLoggingClient();
  const auto again = FileLines(file);
  ASSERT_EQ(again.size(), 7u);
  EXPECT_NE(again[6].find(L"second run"), std::wstring::npos) << again[6];
}

TEST_F(LoggingClient, FileLinesFromSeveralThreadsDoNotInterleave) {
  qortest::TempFolder folder;
  const std::wstring file = folder / L"threads.log";
  SetEnvironmentVariableW(L"QUORVEX_LOG", file.c_str());
  InitializeLoggingClient();
  constexpr int kThreads = 4;
  constexpr int kCalls = 200;
  const std::wstring payload(300, L'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kCalls; ++i) CodeSite()->SendMsg(payload + L"|end");
    });
  for (auto& thread : threads) thread.join();
  FinalizeLoggingClient();
  const auto lines = FileLines(file);
  ASSERT_EQ(lines.size(), size_t(kThreads * kCalls));
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::wstring& line = lines[i];
    ASSERT_TRUE(line.size() > 4 && line.compare(line.size() - 4, 4, L"|end") == 0 &&
                line.find(payload) != std::wstring::npos && line[4] == L'-')
        << "line " << i << " is broken: " << testing::PrintToString(line);
  }
}

TEST_F(LoggingClient, UnusableLogFileLeavesTheLoggerWithoutASink) {
  qortest::TempFolder folder;
  // A folder that does not exist: the file cannot be created, and logging costs nothing.
  const std::wstring file = folder / L"missing\\log.txt";
  SetEnvironmentVariableW(L"QUORVEX_LOG", file.c_str());
  InitializeLoggingClient();
  ASSERT_NE(CodeSite(), nullptr);
  EXPECT_FALSE(CodeSite()->Active());
  CodeSite()->SendMsg(L"dropped");
  EXPECT_FALSE(qortest::Exists(file));
}

TEST_F(LoggingClient, DebuggerOutputAloneIsASink) {
  SetEnvironmentVariableW(L"QUORVEX_LOG_DEBUGGER", L"1");
  InitializeLoggingClient();
  ASSERT_NE(CodeSite(), nullptr);
  EXPECT_TRUE(CodeSite()->Active());
  CodeSite()->SendMsg(L"to the debugger");  // OutputDebugStringW; nothing to read back without a debugger
}

TEST(LogLine, SeparatorAndNestedTextAreIndentedByDepth) {
  LogRecord record{LogKind::Message, L"text", 2, 1234, {}};
  SYSTEMTIME st{2024, 3, 0, 5, 14, 7, 9, 42};
  SystemTimeToFileTime(&st, &record.time);
  EXPECT_EQ(FormatLogLine(record), L"2024-03-05 14:07:09.042  1234 Msg        2     text");
  record.kind = LogKind::Separator;
  record.text.clear();
  record.depth = 0;
  EXPECT_EQ(FormatLogLine(record), L"2024-03-05 14:07:09.042  1234 Separator  0 " + std::wstring(20, L'-'));
}
