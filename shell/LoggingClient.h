// The diagnostic logging client: one process-wide logger that the shell library's COM objects describe
// their calls to. It has no sink unless one is given, and then every operation returns at once; the
// setup itself sends nothing through it.
#pragma once
#include <windows.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace qor {

enum class LogKind { EnterMethod, ExitMethod, Message, Error, Exception, Separator };

// One call of the logger as a sink receives it. depth is the nesting on the calling thread: the
// number of EnterMethod calls not yet matched by an ExitMethod, counted before this call (so an
// EnterMethod and its ExitMethod carry the same depth).
struct LogRecord {
  LogKind kind;
  std::wstring text;  // empty for a separator
  int depth;
  DWORD threadId;
  FILETIME time;  // UTC, when the call was made
};

// Where the records go. Write is called on the logging thread, possibly from several threads at once
// for one sink, and must not raise.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void Write(const LogRecord& record) noexcept = 0;
};

// Keeps every record in memory, for tests.
class MemoryLogSink : public LogSink {
 public:
  MemoryLogSink();
  ~MemoryLogSink() override;
  void Write(const LogRecord& record) noexcept override;
  std::vector<LogRecord> Records() const;
  void Clear();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The process-wide logger. Every operation is safe to call from any thread, never raises, and
// returns at once when no sink is set.
class TCodeSiteLogger {
 public:
  // True when a sink is set: callers that build their texts only for the log test this first.
  bool Active() const noexcept;

  void EnterMethod(const std::wstring& text) noexcept;
  void ExitMethod(const std::wstring& text) noexcept;
  void SendMsg(const std::wstring& text) noexcept;
  void SendError(const std::wstring& text) noexcept;
  // The record's text is text followed by ": " and ExceptionText(error) when error is not null.
  void SendException(const std::wstring& text, const std::exception_ptr& error) noexcept;
  void AddSeparator() noexcept;

  // Replaces the sink (null: none). Records being written to the old sink finish first.
  void SetSink(std::shared_ptr<LogSink> sink) noexcept;
  std::shared_ptr<LogSink> Sink() const noexcept;

  TCodeSiteLogger();
  ~TCodeSiteLogger();
  TCodeSiteLogger(const TCodeSiteLogger&) = delete;
  TCodeSiteLogger& operator=(const TCodeSiteLogger&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The logger between start-up and shut-down; null before and after.
TCodeSiteLogger* CodeSite() noexcept;

// Start-up creates the logger (sending nothing). Its sinks come from the environment:
//   QUORVEX_LOG=<file>     one line per call appended to the file (UTF-8): time, thread id, kind,
//                          depth and text;
//   QUORVEX_LOG_DEBUGGER=1 every line also through OutputDebugStringW.
// Neither set: no sink. Shut-down destroys the logger.
void InitializeLoggingClient();
void FinalizeLoggingClient();

// The kind as the file sink writes it: "Enter", "Exit", "Msg", "Error", "Exception", "Separator".
const wchar_t* LogKindText(LogKind kind) noexcept;

// The line that the file sink writes for a record, without its line break; a line break inside the
// text becomes one blank.
std::wstring FormatLogLine(const LogRecord& record);

}  // namespace qor
