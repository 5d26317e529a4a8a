// The payload walk against plain zlib: a container of the shipped sizes (host server 2,064,896 bytes from
// a ~0.8 MB stream, proxy plugin 3,287,040 bytes from a ~1.0 MB stream) is walked into 1, 10 and 50
// proxy targets. Printed for each count, measured in the same run:
//   - the ratio of the walk's time to a reference that inflates the same streams with zlib's
//     uncompress() into memory and writes the same bytes with CreateFileW + WriteFile (target <= 1.10);
//   - the walk's peak heap use beyond the container (target <= proxy size + 1 MiB).
// bench_payload [repeats]
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "../BenchSupport.h"
#include "Error.h"
#include "Payload.h"

// ---- Heap accounting: every operator new of the process (the walk and its zlib state use it) -------

namespace {
size_t g_current = 0;
size_t g_peak = 0;

__attribute__((noinline)) void* Allocate(size_t size) noexcept {
  auto* block = static_cast<size_t*>(std::malloc(size + 16));
  if (!block) return nullptr;
  block[0] = size;
  g_current += size;
  g_peak = std::max(g_peak, g_current);
  return reinterpret_cast<char*>(block) + 16;
}
__attribute__((noinline)) void Release(void* p) noexcept {
  if (!p) return;
  auto* block = reinterpret_cast<size_t*>(static_cast<char*>(p) - 16);
  g_current -= block[0];
  std::free(block);
}
}  // namespace

void* operator new(size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace {

constexpr size_t kHostSize = 2064896;
constexpr size_t kProxySize = 3287040;

// Program-like contents: runs of noise (code, compressed data) between runs drawn from a small
// vocabulary (tables, strings, padding). noisePercent sets how well it compresses.
std::vector<unsigned char> ProgramLike(size_t size, unsigned noisePercent, uint32_t seed) {
  static const char* words[] = {"GetProcAddress", "\0\0\0\0\0\0\0\0", "LoadLibraryW", "PackerPlugin",
                                "\x48\x89\x5C\x24\x08", "\xFF\x15", "Quorvex", "CreateFileW", "    "};
  std::vector<unsigned char> out;
  out.reserve(size);
  uint32_t x = seed;
  auto next = [&] { return x = x * 1664525u + 1013904223u; };
  while (out.size() < size) {
    const size_t run = 16 + next() % 112;
    if (next() % 100 < noisePercent) {
      for (size_t i = 0; i < run && out.size() < size; ++i) out.push_back(static_cast<unsigned char>(next() >> 24));
    } else {
      for (size_t i = 0; i < run && out.size() < size;) {
        const char* w = words[next() % 9];
        size_t len = std::max<size_t>(1, std::char_traits<char>::length(w));
        for (size_t k = 0; k < len && out.size() < size; ++k, ++i) out.push_back(static_cast<unsigned char>(w[k]));
      }
    }
  }
  return out;
}

std::vector<unsigned char> Deflate(const std::vector<unsigned char>& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::vector<unsigned char> out(size);
  compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION);
  out.resize(size);
  return out;
}

void AppendRecord(std::vector<unsigned char>& c, const std::wstring& name, size_t size,
                  const std::vector<unsigned char>& stream) {
  auto put = [&](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) c.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  put(0, 1);
  put(name.size(), 2);
  for (wchar_t ch : name) put(static_cast<uint16_t>(ch), 2);
  put(size, 4);
  put(stream.size(), 4);
  c.insert(c.end(), stream.begin(), stream.end());
}

using bench::Now;

void WriteWhole(const std::wstring& path, const unsigned char* data, size_t size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot create the reference file, error %lu\n", GetLastError());
    std::exit(1);
  }
  DWORD written = 0;
  if (!WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) || written != size) std::exit(1);
  CloseHandle(h);
}

// Plain zlib into memory, plain WriteFile: the floor that the walk is measured against.
void Reference(const std::vector<unsigned char>& hostStream, const std::vector<unsigned char>& proxyStream,
               const std::wstring& hostPath, const std::vector<std::wstring>& targets) {
  // Uninitialised buffers, as the walk's: the reference pays for no zero-filling.
  std::unique_ptr<unsigned char[]> host(new unsigned char[kHostSize]), proxy(new unsigned char[kProxySize]);
  uLongf size = kHostSize;
  if (uncompress(host.get(), &size, hostStream.data(), static_cast<uLong>(hostStream.size())) != Z_OK) std::exit(1);
  WriteWhole(hostPath, host.get(), size);
  host.reset();
  size = kProxySize;
  if (uncompress(proxy.get(), &size, proxyStream.data(), static_cast<uLong>(proxyStream.size())) != Z_OK) std::exit(1);
  for (const auto& t : targets) WriteWhole(t, proxy.get(), size);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring full = dir + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full);
      else DeleteFileW(full.c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(3, std::atoi(argv[1])) : 7;
  const auto host = ProgramLike(kHostSize, 31, 1);
  const auto proxy = ProgramLike(kProxySize, 22, 2);
  const auto hostStream = Deflate(host), proxyStream = Deflate(proxy);
  std::vector<unsigned char> container;
  AppendRecord(container, qor::kHostServerName, host.size(), hostStream);
  AppendRecord(container, qor::kProxyPluginName, proxy.size(), proxyStream);
  std::printf("container %zu bytes: host %zu from %zu, proxy %zu from %zu (zlib default level)\n",
              container.size(), host.size(), hostStream.size(), proxy.size(), proxyStream.size());

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"qor_bench_payload_" + std::to_wstring(GetCurrentProcessId());
  const std::wstring setup = root + L"\\setup";
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW(setup.c_str(), nullptr);

  const size_t peakLimit = kProxySize + (1u << 20);
  std::printf("%7s %10s %13s %7s %16s  (targets: ratio <= 1.10, extra <= %zu)\n", "targets", "walk ms",
              "reference ms", "ratio", "peak extra bytes", peakLimit);
  bool met = true;
  for (size_t count : {1, 10, 50}) {
    std::vector<std::wstring> targets;
    for (size_t i = 0; i < count; ++i) {
      std::wstring folder = root + L"\\plugins" + std::to_wstring(i);
      CreateDirectoryW(folder.c_str(), nullptr);
      targets.push_back(folder + L"\\plugin.wcx64");
    }
    auto walk = [&] {
      qor::ExtractPayload({container.data(), container.size()}, setup, targets, [](const std::wstring&) { return true; });
    };
    auto reference = [&] { Reference(hostStream, proxyStream, setup + L"\\Quorvex.exe", targets); };
    walk();
    reference();
    std::vector<double> walkTimes, referenceTimes;
    size_t peakExtra = 0;
    for (int r = 0; r < repeats; ++r) {
      // Alternating, so that both see the same state of the system's file cache.
      const size_t baseline = g_current;
      g_peak = g_current;
      double t0 = Now();
      try {
        walk();
      } catch (const qor::Error& e) {
        std::fprintf(stderr, "walk failed: %ls\n", e.message().c_str());
        return 1;
      }
      double t1 = Now();
      peakExtra = std::max(peakExtra, g_peak - baseline);
      reference();
      double t2 = Now();
      walkTimes.push_back(t1 - t0);
      referenceTimes.push_back(t2 - t1);
    }
    const double w = Median(walkTimes), ref = Median(referenceTimes), ratio = w / ref;
    met = met && ratio <= 1.10 && peakExtra <= peakLimit;
    std::printf("%7zu %10.1f %13.1f %7.3f %16zu\n", count, w * 1000, ref * 1000, ratio, peakExtra);
  }
  RemoveTree(root);
  std::printf("%s\n", met ? "targets met" : "targets NOT met");
  return 0;
}
