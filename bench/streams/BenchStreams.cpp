// The stream adapter against plain file calls, measured side by side in one run:
//   - CopyTo from an adapter over a file stream into another file's adapter, against a ReadFile /
//     WriteFile loop with a 1 MiB buffer copying the same file (target: ratio <= 1.1), for files of
//     16, 64 and 256 MiB;
//   - a loop of 4 KiB Reads through an adapter, with call logging on (LogAllObjects, as after the
//     library's start-up) but no sink behind the logger, against ReadFile of 4 KiB over the same
//     256 MiB file (target: ratio <= 2).
// Each figure is the best of the repeats; the two sides alternate within a repeat.
// bench_streams [repeats]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../BenchSupport.h"
#include "Handles.h"
#include "LoggingClient.h"
#include "Streams.h"
#include "qorShellBaseExtension.h"

namespace {

constexpr DWORD kMiB = 1024 * 1024;
constexpr DWORD kSmallRead = 4096;

using bench::Fail;
using bench::Now;

void MakeFile(const std::wstring& path, DWORD mebibytes) {
  qor::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) Fail("creating the source file");
  std::vector<unsigned char> block(kMiB);
  for (DWORD m = 0; m < mebibytes; ++m) {
    for (DWORD i = 0; i < kMiB; ++i) block[i] = static_cast<unsigned char>((i * 7 + m) % 251);
    DWORD written = 0;
    if (!WriteFile(file.get(), block.data(), kMiB, &written, nullptr) || written != kMiB) Fail("writing the source");
  }
}

uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The reference copy: one 1 MiB buffer, ReadFile and WriteFile until the source ends. Both copies
// write a fresh file at the same path: the earlier copy is deleted before the clock starts, so that
// neither side pays for truncating what the other wrote.
double PlainCopy(const std::wstring& from, const std::wstring& to) {
  DeleteFileW(to.c_str());
  const double start = Now();
  qor::FileHandle source(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  qor::FileHandle target(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!source || !target) Fail("opening the plain copy's files");
  std::vector<unsigned char> buffer(kMiB);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(source.get(), buffer.data(), kMiB, &read, nullptr)) Fail("ReadFile");
    if (read == 0) break;
    DWORD written = 0;
    if (!WriteFile(target.get(), buffer.data(), read, &written, nullptr) || written != read) Fail("WriteFile");
  }
  target.reset();
  return Now() - start;
}

// The same copy through the library: an adapter over the source file's stream copies into the
// target file's adapter.
double AdapterCopy(const std::wstring& from, const std::wstring& to) {
  DeleteFileW(to.c_str());
  const double start = Now();
  qor::ComPtr<IStream> source = qor::CreateIStreamOnFile(from, STGM_READ | STGM_SHARE_DENY_WRITE);
  qor::ComPtr<IStream> target = qor::CreateIStreamOnFile(to, STGM_WRITE | STGM_CREATE);
  ULARGE_INTEGER all, read{}, written{};
  all.QuadPart = UINT64_MAX;
  if (source->CopyTo(target.get(), all, &read, &written) != S_OK || read.QuadPart != written.QuadPart)
    Fail("CopyTo");
  target.reset();
  return Now() - start;
}

double PlainSmallReads(const std::wstring& path) {
  const double start = Now();
  qor::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) Fail("opening the file for small reads");
  unsigned char buffer[kSmallRead];
  DWORD read = 0;
  do {
    if (!ReadFile(file.get(), buffer, kSmallRead, &read, nullptr)) Fail("ReadFile");
  } while (read == kSmallRead);
  return Now() - start;
}

double AdapterSmallReads(const std::wstring& path) {
  const double start = Now();
  qor::ComPtr<IStream> stream = qor::CreateIStreamOnFile(path, STGM_READ);
  unsigned char buffer[kSmallRead];
  ULONG read = 0;
  HRESULT hr;
  do {
    hr = stream->Read(buffer, kSmallRead, &read);
  } while (hr == S_OK && read == kSmallRead);
  if (FAILED(hr)) Fail("IStream::Read");
  return Now() - start;
}

struct Best {
  double reference = 1e300;
  double measured = 1e300;
};

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  CoInitialize(nullptr);
  qor::InitializeLoggingClient();
  qor::InitializeShellBaseExtension();
  if (qor::CodeSite() && qor::CodeSite()->Active())
    std::printf("note: a log sink is set (QUORVEX_LOG or QUORVEX_LOG_DEBUGGER); the figures include writing the log\n");
  std::printf("call logging of all objects: %s\n", qor::LogAllObjects ? "on" : "off");

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"qor_bench_streams_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring source = folder + L"\\source.bin";
  const std::wstring copy = folder + L"\\copy.bin";

  std::printf("\nCopyTo adapter -> adapter over file streams vs ReadFile/WriteFile with a 1 MiB buffer (target <= 1.10x)\n");
  std::printf("%10s %14s %14s %8s\n", "file MiB", "plain ms", "adapter ms", "ratio");
  for (DWORD mebibytes : {16u, 64u, 256u}) {
    MakeFile(source, mebibytes);
    Best best;
    for (int r = 0; r < repeats; ++r) {
      // Alternate which side runs first, so that neither always finds the cache in the other's state.
      if (r % 2 == 0) {
        best.reference = std::min(best.reference, PlainCopy(source, copy));
        best.measured = std::min(best.measured, AdapterCopy(source, copy));
      } else {
        best.measured = std::min(best.measured, AdapterCopy(source, copy));
        best.reference = std::min(best.reference, PlainCopy(source, copy));
      }
      if (FileSize(copy) != FileSize(source)) Fail("comparing the copy");
    }
    std::printf("%10lu %14.1f %14.1f %7.2fx\n", mebibytes, best.reference * 1000, best.measured * 1000,
                best.measured / best.reference);
    DeleteFileW(copy.c_str());
  }

  std::printf("\n4 KiB reads: adapter with call logging on, no sink, vs ReadFile (target <= 2.00x)\n");
  std::printf("%10s %10s %14s %14s %8s\n", "file MiB", "reads", "plain ms", "adapter ms", "ratio");
  Best best;
  for (int r = 0; r < repeats; ++r) {
    if (r % 2 == 0) {
      best.reference = std::min(best.reference, PlainSmallReads(source));
      best.measured = std::min(best.measured, AdapterSmallReads(source));
    } else {
      best.measured = std::min(best.measured, AdapterSmallReads(source));
      best.reference = std::min(best.reference, PlainSmallReads(source));
    }
  }
  const uint64_t size = FileSize(source);
  std::printf("%10llu %10llu %14.1f %14.1f %7.2fx\n", static_cast<unsigned long long>(size / kMiB),
              static_cast<unsigned long long>(size / kSmallRead), best.reference * 1000, best.measured * 1000,
              best.measured / best.reference);

  DeleteFileW(source.c_str());
  RemoveDirectoryW(folder.c_str());
  qor::FinalizeShellBaseExtension();
  qor::FinalizeLoggingClient();
  CoUninitialize();
  return 0;
}
