// What the stream tests share: a fixture with the library started and an in-memory log sink, an
// IStream double that can refuse to seek, give short pieces or fail on a chosen call, and data
// patterns that show where a byte came from.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "LoggingClient.h"
#include "Streams.h"
#include "qorShellBaseExtension.h"

namespace qortest {

// Bytes whose value depends on their offset (and a seed), so that a piece read from the wrong place,
// a gap filled with zeros or a repeated piece all show.
inline std::string Pattern(size_t size, unsigned seed = 0) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + i / 251 + seed) % 251 + 1);
  return data;
}

// Each test runs between the library's start-up and shut-down with a memory sink on the logger, so
// that every adapter call also runs its logging.
class StreamFixture : public testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    qor::InitializeLoggingClient();
    qor::InitializeShellBaseExtension();
    sink_ = std::make_shared<qor::MemoryLogSink>();
    qor::CodeSite()->SetSink(sink_);
  }
  void TearDown() override {
    qor::CodeSite()->SetSink(nullptr);
    qor::FinalizeShellBaseExtension();
    qor::FinalizeLoggingClient();
    CoUninitialize();
  }

  std::vector<qor::LogRecord> Records() const { return sink_->Records(); }
  // The texts of the records, in order.
  std::vector<std::wstring> LogTexts() const {
    std::vector<std::wstring> texts;
    for (const qor::LogRecord& r : sink_->Records()) texts.push_back(r.text);
    return texts;
  }
  void ClearLog() { sink_->Clear(); }

  std::shared_ptr<qor::MemoryLogSink> sink_;
};

// An IStream over bytes in memory, for the cases a real stream cannot produce on demand. It counts its
// references (and is deleted by the last Release), records the count of every Read it is asked for,
// and can: refuse every Seek, give at most maxPiece bytes per Read, fail the Read with the given index
// (0-based), take fewer bytes than given in Write, or fail Write.
class DoubleStream final : public IStream {
 public:
  explicit DoubleStream(std::string data) : data_(std::move(data)) {}

  std::string data_;
  size_t position_ = 0;
  bool seekable = true;
  HRESULT seekFailure = STG_E_INVALIDFUNCTION;
  ULONG maxPiece = 0xFFFFFFFF;
  int failReadAt = -1;
  HRESULT readFailure = STG_E_READFAULT;
  ULONG writeShortBy = 0;
  HRESULT writeResult = S_OK;
  std::vector<ULONG> readRequests;

  LONG Refs() const { return refs_.load(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IStream) && !IsEqualIID(iid, IID_ISequentialStream))
      return E_NOINTERFACE;
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = --refs_;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    const int index = static_cast<int>(readRequests.size());
    readRequests.push_back(cb);
    if (pcbRead) *pcbRead = 0;
    if (index == failReadAt) return readFailure;
    size_t n = std::min<size_t>({cb, maxPiece, data_.size() - std::min(position_, data_.size())});
    if (n) memcpy(pv, data_.data() + position_, n);
    position_ += n;
    if (pcbRead) *pcbRead = static_cast<ULONG>(n);
    return n == cb ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pcbWritten) *pcbWritten = 0;
    if (FAILED(writeResult)) return writeResult;
    const ULONG n = cb > writeShortBy ? cb - writeShortBy : 0;
    if (position_ + n > data_.size()) data_.resize(position_ + n);
    if (n) memcpy(data_.data() + position_, pv, n);
    position_ += n;
    if (pcbWritten) *pcbWritten = n;
    return writeResult;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    if (!seekable) return seekFailure;
    const long long base = origin == STREAM_SEEK_SET   ? 0
                           : origin == STREAM_SEEK_CUR ? static_cast<long long>(position_)
                                                       : static_cast<long long>(data_.size());
    if (origin > STREAM_SEEK_END || base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<size_t>(base + move.QuadPart);
    if (newPosition) newPosition->QuadPart = position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
    data_.resize(static_cast<size_t>(size.QuadPart));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 private:
  ~DoubleStream() = default;
  std::atomic<LONG> refs_{1};
};

// A new double, held by the returned pointer's one reference.
inline qor::ComPtr<DoubleStream> MakeDoubleStream(std::string data) {
  return qor::ComPtr<DoubleStream>::Attach(new DoubleStream(std::move(data)));
}

// The whole remaining content of a TStream, read in pieces of the given size.
inline std::string ReadRest(qor::TStream& stream, int32_t piece = 65536) {
  std::string out;
  std::string buffer(static_cast<size_t>(piece), '\0');
  for (;;) {
    const int32_t n = stream.Read(buffer.data(), piece);
    if (n <= 0) break;
    out.append(buffer.data(), static_cast<size_t>(n));
  }
  return out;
}

// An IStream's content from its current position to the end.
inline std::string ReadRest(IStream* stream) {
  std::string out;
  char buffer[65536];
  for (;;) {
    ULONG n = 0;
    const HRESULT hr = stream->Read(buffer, sizeof buffer, &n);
    out.append(buffer, n);
    if (FAILED(hr) || n == 0) break;
  }
  return out;
}

}  // namespace qortest
