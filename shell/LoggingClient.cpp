// The process-wide logger, its in-memory sink and the sink that writes lines to a file and to the
// debugger.
#include "LoggingClient.h"

#include <atomic>
#include <cwchar>

#include "Error.h"
#include "Format.h"
#include "Handles.h"

namespace qor {

namespace {

// Nesting of EnterMethod / ExitMethod on this thread, counted only while a sink is set.
thread_local int MethodDepth = 0;

}  // namespace

const wchar_t* LogKindText(LogKind kind) noexcept {
  switch (kind) {
    case LogKind::EnterMethod: return L"Enter";
    case LogKind::ExitMethod: return L"Exit";
    case LogKind::Message: return L"Msg";
    case LogKind::Error: return L"Error";
    case LogKind::Exception: return L"Exception";
    case LogKind::Separator: return L"Separator";
  }
  return L"?";
}

namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                          nullptr);
  return out;
}

// Appends one line per record to a file (UTF-8) and/or hands it to OutputDebugStringW. Lines from
// several threads never interleave: each is written with one WriteFile under the sink's lock.
class LineSink : public LogSink {
 public:
  LineSink(FileHandle file, bool debugger) : file_(std::move(file)), debugger_(debugger) {}
  void Write(const LogRecord& record) noexcept override {
    try {
      const std::wstring line = FormatLogLine(record) + L"\r\n";
      if (debugger_) ::OutputDebugStringW(line.c_str());
      if (!file_) return;
      const std::string bytes = ToUtf8(line);
      LockGuard hold(lock_);
      DWORD written = 0;
      ::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    } catch (...) {
      // A line that cannot be built (no memory left) is dropped.
    }
  }

 private:
  FileHandle file_;
  bool debugger_;
  SlimLock lock_;
};

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (n == 0 || n >= std::size(buffer)) return {};
  return std::wstring(buffer, n);
}

std::shared_ptr<LogSink> SinkFromEnvironment() {
  const std::wstring fileName = EnvironmentText(L"QUORVEX_LOG");
  const bool debugger = EnvironmentText(L"QUORVEX_LOG_DEBUGGER") == L"1";
  FileHandle file;
  if (!fileName.empty()) {
    // Appended to, so that several processes (or runs) can share one log.
    file.reset(::CreateFileW(fileName.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  if (!file && !debugger) return nullptr;
  return std::make_shared<LineSink>(std::move(file), debugger);
}

std::atomic<TCodeSiteLogger*> Logger{nullptr};

}  // namespace

// ---- MemoryLogSink ----

struct MemoryLogSink::Impl {
  mutable SlimLock lock;
  std::vector<LogRecord> records;
};

MemoryLogSink::MemoryLogSink() : impl_(std::make_unique<Impl>()) {}
MemoryLogSink::~MemoryLogSink() = default;

void MemoryLogSink::Write(const LogRecord& record) noexcept {
  try {
    LockGuard hold(impl_->lock);
    impl_->records.push_back(record);
  } catch (...) {
  }
}

std::vector<LogRecord> MemoryLogSink::Records() const {
  LockGuard hold(impl_->lock);
  return impl_->records;
}

void MemoryLogSink::Clear() {
  LockGuard hold(impl_->lock);
  impl_->records.clear();
}

// ---- TCodeSiteLogger ----

struct TCodeSiteLogger::Impl {
  // Tested before anything else, so that a logger without a sink costs one load per call.
  std::atomic<bool> active{false};
  // Writers hold it shared for the whole Write; SetSink holds it exclusively, so a sink being replaced
  // has finished every record it was given before it is released.
  mutable SlimLock lock;
  std::shared_ptr<LogSink> sink;

  void Send(LogKind kind, const std::wstring& text) noexcept {
    if (!active.load(std::memory_order_acquire)) return;
    int depth = MethodDepth;
    if (kind == LogKind::EnterMethod) {
      ++MethodDepth;
    } else if (kind == LogKind::ExitMethod && depth > 0) {
      depth = --MethodDepth;
    }
    try {
      LogRecord record{kind, text, depth, ::GetCurrentThreadId(), {}};
      ::GetSystemTimeAsFileTime(&record.time);
      SharedLockGuard hold(lock);
      if (sink) sink->Write(record);
    } catch (...) {
      // No memory for the record: it is dropped.
    }
  }
};

TCodeSiteLogger::TCodeSiteLogger() : impl_(std::make_unique<Impl>()) {}
TCodeSiteLogger::~TCodeSiteLogger() = default;

bool TCodeSiteLogger::Active() const noexcept { return impl_->active.load(std::memory_order_acquire); }

void TCodeSiteLogger::EnterMethod(const std::wstring& text) noexcept { impl_->Send(LogKind::EnterMethod, text); }
void TCodeSiteLogger::ExitMethod(const std::wstring& text) noexcept { impl_->Send(LogKind::ExitMethod, text); }
void TCodeSiteLogger::SendMsg(const std::wstring& text) noexcept { impl_->Send(LogKind::Message, text); }
void TCodeSiteLogger::SendError(const std::wstring& text) noexcept { impl_->Send(LogKind::Error, text); }
void TCodeSiteLogger::AddSeparator() noexcept { impl_->Send(LogKind::Separator, std::wstring()); }

void TCodeSiteLogger::SendException(const std::wstring& text, const std::exception_ptr& error) noexcept {
  if (!Active()) return;
  try {
    if (!error) {
      impl_->Send(LogKind::Exception, text);
      return;
    }
    impl_->Send(LogKind::Exception, text + L": " + ExceptionText(error));
  } catch (...) {
  }
}

void TCodeSiteLogger::SetSink(std::shared_ptr<LogSink> sink) noexcept {
  std::shared_ptr<LogSink> old;
  {
    LockGuard hold(impl_->lock);
    old = std::exchange(impl_->sink, std::move(sink));
    impl_->active.store(impl_->sink != nullptr, std::memory_order_release);
  }
  // The old sink is released here, outside the lock: its destructor may take time (closing a file).
}

std::shared_ptr<LogSink> TCodeSiteLogger::Sink() const noexcept {
  SharedLockGuard hold(impl_->lock);
  return impl_->sink;
}

TCodeSiteLogger* CodeSite() noexcept { return Logger.load(std::memory_order_acquire); }

void InitializeLoggingClient() {
  if (Logger.load()) return;
  auto logger = std::make_unique<TCodeSiteLogger>();
  logger->SetSink(SinkFromEnvironment());
  Logger.store(logger.release(), std::memory_order_release);
}

void FinalizeLoggingClient() { delete Logger.exchange(nullptr, std::memory_order_acq_rel); }

std::wstring FormatLogLine(const LogRecord& record) {
  SYSTEMTIME st{};
  ::FileTimeToSystemTime(&record.time, &st);
  // yyyy-mm-dd hh:mm:ss.mmm, the thread right-aligned in 5, the kind left-aligned in 9, the depth in 2.
  const struct {
    std::wstring text;
    wchar_t after;
  } fields[] = {
      {DecimalText(st.wYear, 4), L'-'},       {DecimalText(st.wMonth, 2), L'-'},
      {DecimalText(st.wDay, 2), L' '},        {DecimalText(st.wHour, 2), L':'},
      {DecimalText(st.wMinute, 2), L':'},     {DecimalText(st.wSecond, 2), L'.'},
      {DecimalText(st.wMilliseconds, 3), L' '}, {AlignRight(DecimalText(record.threadId), 5), L' '},
      {AlignLeft(LogKindText(record.kind), 9), L' '}, {AlignRight(DecimalText(record.depth), 2), L' '},
  };
  std::wstring line;
  for (const auto& field : fields) {
    line += field.text;
    line += field.after;
  }
  // The text is indented by its depth, so that nested calls read as a tree.
  line.append(static_cast<size_t>(record.depth > 0 ? record.depth * 2 : 0), L' ');
  if (record.kind == LogKind::Separator) return line + std::wstring(20, L'-');
  // One call, one line: a line break inside the text (system messages have them) becomes a blank.
  bool lastWasBreak = false;
  for (wchar_t c : record.text) {
    const bool isBreak = c == L'\r' || c == L'\n';
    if (!isBreak) line += c;
    else if (!lastWasBreak) line += L' ';
    lastWasBreak = isBreak;
  }
  return line;
}

}  // namespace qor
