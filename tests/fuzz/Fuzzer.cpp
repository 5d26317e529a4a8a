#include "Fuzzer.h"

#include "Sandbox.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <stdexcept>

namespace qortest::fuzz {

// ---- Inputs ------------------------------------------------------------------------------------------

namespace {
void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
uint32_t GetU32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(s[at + i])) << (8 * i);
  return v;
}
constexpr char kMagic[] = "QFZ1";
}  // namespace

std::string Serialize(const Input& input) {
  std::string out(kMagic, 4);
  PutU32(out, static_cast<uint32_t>(input.parts.size()));
  for (const std::string& part : input.parts) {
    PutU32(out, static_cast<uint32_t>(part.size()));
    out += part;
  }
  return out;
}

Input Deserialize(const std::string& bytes) {
  if (bytes.size() < 8 || bytes.compare(0, 4, kMagic, 4) != 0) throw std::runtime_error("not a fuzz input");
  Input input;
  const uint32_t count = GetU32(bytes, 4);
  size_t at = 8;
  for (uint32_t i = 0; i < count; ++i) {
    if (bytes.size() - at < 4) throw std::runtime_error("fuzz input cut short");
    const uint32_t size = GetU32(bytes, at);
    at += 4;
    if (bytes.size() - at < size) throw std::runtime_error("fuzz input part cut short");
    input.parts.push_back(bytes.substr(at, size));
    at += size;
  }
  if (at != bytes.size()) throw std::runtime_error("bytes after the last part of a fuzz input");
  return input;
}

std::string Describe(const Input& input) {
  std::string out;
  char line[128];
  for (size_t p = 0; p < input.parts.size(); ++p) {
    const std::string& part = input.parts[p];
    snprintf(line, sizeof line, "  part %zu: %zu bytes\n", p, part.size());
    out += line;
    for (size_t at = 0; at < part.size(); at += 16) {
      int n = snprintf(line, sizeof line, "    %06zx ", at);
      std::string text;
      for (size_t i = at; i < at + 16; ++i) {
        if (i < part.size()) {
          const auto c = static_cast<unsigned char>(part[i]);
          n += snprintf(line + n, sizeof line - n, " %02x", c);
          text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
        } else {
          n += snprintf(line + n, sizeof line - n, "   ");
        }
      }
      out += line;
      out += "  " + text + "\n";
    }
  }
  return out;
}

uint64_t Rng::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// ---- Mutations ---------------------------------------------------------------------------------------

namespace {

uint32_t BoundaryValue(int width, size_t partSize, size_t offset, Rng& rng) {
  const uint64_t max = width == 1 ? 0xFF : width == 2 ? 0xFFFF : 0xFFFFFFFFull;
  const uint64_t remaining = partSize > offset + width ? partSize - offset - width : 0;
  const uint64_t values[] = {0, 1, 2, max, max - 1, max >> 1, (max >> 1) + 1, remaining, remaining + 1,
                             remaining ? remaining - 1 : 0, remaining / 2, partSize, rng.Below(64)};
  return static_cast<uint32_t>(values[rng.Below(std::size(values))] & max);
}

void WriteLE(std::string& part, size_t offset, int width, uint32_t value) {
  for (int i = 0; i < width && offset + i < part.size(); ++i)
    part[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

bool LooksUtf16(const std::string& part) {
  return part.size() >= 2 && static_cast<unsigned char>(part[0]) == 0xFF &&
         static_cast<unsigned char>(part[1]) == 0xFE;
}

void MutateOnce(Input& input, size_t p, const std::vector<Field>& fields, const MutationHints& hints, Rng& rng) {
  std::string& part = input.parts[p];
  const size_t size = part.size();
  const auto at = [&](size_t extra = 0) { return static_cast<size_t>(rng.Below(size + extra)); };
  static const unsigned char kInteresting[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0xFE, 0x20, 0x0A, 0x0D, 0x3D};
  switch (rng.Below(11)) {
    case 0:  // one bit flipped
      if (size) part[at()] ^= static_cast<char>(1 << rng.Below(8));
      break;
    case 1:  // one byte set to a value that parsers treat specially
      if (size) part[at()] = static_cast<char>(kInteresting[rng.Below(std::size(kInteresting))]);
      break;
    case 2: {  // random bytes, or a run of one byte, inserted
      std::string bytes;
      if (rng.OneIn(2)) {
        for (uint64_t n = 1 + rng.Below(8); n > 0; --n) bytes.push_back(static_cast<char>(rng.Below(256)));
      } else {
        bytes.assign(1 + rng.Below(rng.OneIn(8) ? 4096 : 64), static_cast<char>(kInteresting[rng.Below(std::size(kInteresting))]));
      }
      part.insert(at(1), bytes);
      break;
    }
    case 3:  // a range deleted
      if (size) {
        const size_t from = at();
        part.erase(from, 1 + rng.Below(std::min<size_t>(size - from, rng.OneIn(4) ? 512 : 16)));
      }
      break;
    case 4:  // cut short
      part.resize(at());
      break;
    case 5:  // a range copied elsewhere (a record or a line repeated)
      if (size) {
        const size_t from = at();
        const std::string piece = part.substr(from, 1 + rng.Below(std::min<size_t>(size - from, 256)));
        part.insert(at(1), piece);
      }
      break;
    case 6:  // a 16- or 32-bit value anywhere set to a boundary
      if (size) {
        const int width = rng.OneIn(2) ? 2 : 4;
        const size_t offset = at();
        WriteLE(part, offset, width, BoundaryValue(width, size, offset, rng));
      }
      break;
    case 7:
    case 8: {  // a known length or count field set to a boundary
      std::vector<const Field*> mine;
      for (const Field& f : fields)
        if (f.part == p && f.offset + f.width <= size) mine.push_back(&f);
      if (mine.empty()) break;
      const Field& f = *mine[rng.Below(mine.size())];
      WriteLE(part, f.offset, f.width, BoundaryValue(f.width, size, f.offset, rng));
      break;
    }
    case 9:
    case 10: {  // a token of the format inserted or written over the bytes there
      if (hints.tokens.empty()) break;
      const std::string& token = hints.tokens[rng.Below(hints.tokens.size())];
      std::string bytes = token;
      size_t where = at(1);
      if (LooksUtf16(part)) {
        bytes.clear();
        for (char c : token) {
          bytes.push_back(c);
          bytes.push_back('\0');
        }
        where &= ~static_cast<size_t>(1);
      }
      if (rng.OneIn(3) && where + bytes.size() <= size) part.replace(where, bytes.size(), bytes);
      else part.insert(where, bytes);
      break;
    }
  }
}

}  // namespace

void Mutate(Input& input, const std::vector<Field>& fields, const MutationHints& hints, Rng& rng) {
  if (input.parts.empty()) return;
  uint64_t count = 1;
  while (count < 6 && rng.OneIn(2)) ++count;
  for (; count > 0; --count) {
    const size_t p = rng.Below(input.parts.size());
    MutateOnce(input, p, fields, hints, rng);
    if (input.parts[p].size() > hints.maxPartSize) input.parts[p].resize(hints.maxPartSize);
  }
}

// ---- Seeds -------------------------------------------------------------------------------------------

std::string Narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

namespace {
bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}
}  // namespace

std::wstring SeedFolder() {
  wchar_t env[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"QOR_FUZZ_SEEDS", env, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return env;
  return ProgramFolder() + L"fuzz-seeds";
}

std::wstring ProgramFolder() {
  wchar_t own[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH * 4);
  const std::wstring path(own, length);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::vector<std::pair<std::wstring, Input>> LoadSeeds(const std::string& target) {
  const std::wstring folder = SeedFolder() + L"\\" + Widen(target);
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*.qfz").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::pair<std::wstring, Input>> seeds;
  for (const std::wstring& name : names) seeds.emplace_back(name, Deserialize(ReadBytes(folder + L"\\" + name)));
  return seeds;
}

std::wstring ErrorKind(const std::wstring& message) {
  std::wstring text = message.substr(0, message.find_first_of(L"\r\n"));
  const size_t open = text.find(L'"');
  const size_t close = open == std::wstring::npos ? open : text.rfind(L'"');
  if (close != std::wstring::npos && close > open) text.replace(open + 1, close - open - 1, L"%s");
  return text;
}

// ---- The crash and hang guard ------------------------------------------------------------------------

namespace {

// What the guard writes when the process dies: set before each run, so that nothing needs to be
// allocated while dying.
struct CrashGuard {
  std::string bytes;
  std::wstring path;
  std::string target;
  std::atomic<bool> active{false};
  std::atomic<ULONGLONG> startedAt{0};
  std::atomic<bool> dumping{false};
};
CrashGuard guard;

[[noreturn]] void DieWithInput(const char* why, unsigned long code) {
  if (!guard.dumping.exchange(true)) {
    const bool written = WriteWholeFile(guard.path, guard.bytes);
    fprintf(stderr, "\nFUZZ CRASH in target %s: %s (code 0x%08lx); input %s %s\n", guard.target.c_str(), why, code,
            written ? "written to" : "could not be written to", Narrow(guard.path).c_str());
    fflush(stderr);
  }
  TerminateProcess(GetCurrentProcess(), kCrashExitCode);
  for (;;) Sleep(1000);
}

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* info) {
  if (guard.active) DieWithInput("unhandled exception", info->ExceptionRecord->ExceptionCode);
  return EXCEPTION_CONTINUE_SEARCH;
}

void OnTerminate() {
  if (guard.active) DieWithInput("std::terminate (an exception escaped or a noexcept function raised)", 0);
  std::abort();
}

void OnAbort(int) {
  if (guard.active) DieWithInput("abort", 0);
}

DWORD WINAPI Watchdog(void*) {
  for (;;) {
    Sleep(1000);
    if (guard.active && GetTickCount64() - guard.startedAt > kHangSeconds * 1000ull)
      DieWithInput("hang: one run took longer than the limit", kHangSeconds);
  }
}

void InstallGuard(const std::string& target, const std::wstring& failureFolder) {
  static bool installed = false;
  if (!installed) {
    installed = true;
    SetUnhandledExceptionFilter(UnhandledFilter);
    std::set_terminate(OnTerminate);
    std::signal(SIGABRT, OnAbort);
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
  }
  guard.target = target;
  guard.path = (failureFolder.empty() ? std::wstring(L".") : failureFolder) + L"\\" + Widen(target) + L"-crash.qfz";
}

}  // namespace

// ---- Runs --------------------------------------------------------------------------------------------

RunStats RunTarget(Target& target, uint64_t iterations, uint64_t seed, const std::wstring& failureFolder,
                   bool quiet) {
  RunStats stats;
  if (!failureFolder.empty()) CreateDirectoryW(failureFolder.c_str(), nullptr);
  InstallGuard(target.Name(), failureFolder);
  // Built-in seeds first: a regression case may need the state that a valid input leaves behind.
  std::vector<std::pair<std::wstring, Input>> seeds;
  for (Input& input : target.BuiltInSeeds()) seeds.emplace_back(L"built-in", std::move(input));
  for (auto& seed : LoadSeeds(target.Name())) seeds.push_back(std::move(seed));
  if (seeds.empty()) {
    stats.violations = 1;
    stats.violationKinds["no seeds in " + Narrow(SeedFolder())] = 1;
    return stats;
  }
  target.Prepare();
  std::vector<std::vector<Field>> fields;
  for (const auto& s : seeds) fields.push_back(target.FieldsOf(s.second));
  const MutationHints hints = target.Hints();
  Rng rng(seed);
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);

  const auto runOne = [&](const Input& input, const std::string& label) {
    guard.bytes = Serialize(input);
    guard.startedAt = GetTickCount64();
    guard.active = true;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    Outcome outcome;
    try {
      outcome = target.Run(input);
    } catch (...) {
      outcome.violation = "the target itself raised";
    }
    QueryPerformanceCounter(&t1);
    guard.active = false;
    stats.slowestMs = std::max(stats.slowestMs, 1000.0 * (t1.QuadPart - t0.QuadPart) / frequency.QuadPart);
    ++stats.iterations;
    if (!outcome.error.empty()) ++stats.errors[ErrorKind(outcome.error)];
    if (outcome.violation.empty()) return;
    ++stats.violations;
    const uint64_t seen = ++stats.violationKinds[outcome.violation];
    if (seen > 3) return;  // the first three inputs of each kind are enough to work with
    std::wstring saved;
    if (!failureFolder.empty()) {
      saved = failureFolder + L"\\" + Widen(std::string(target.Name()) + "-" + std::to_string(seed) + "-" + label) +
              L".qfz";
      if (WriteWholeFile(saved, Serialize(input))) stats.savedFailures.push_back(saved);
      else saved.clear();
    }
    if (!quiet) {
      fprintf(stderr, "FUZZ VIOLATION in target %s, seed %llu, %s: %s\n%s  error text: %s\n  input%s%s:\n%s",
              target.Name(), static_cast<unsigned long long>(seed), label.c_str(), outcome.violation.c_str(),
              outcome.detail.c_str(), Narrow(outcome.error).c_str(), saved.empty() ? "" : " saved as ", Narrow(saved).c_str(),
              Describe(input).c_str());
      fflush(stderr);
    }
  };

  for (const auto& [name, input] : seeds) runOne(input, "seed-" + Narrow(name.substr(0, name.find(L'.'))));
  for (uint64_t i = 0; i < iterations; ++i) {
    const size_t which = rng.Below(seeds.size());
    Input input = seeds[which].second;
    Mutate(input, fields[which], hints, rng);
    runOne(input, "iteration-" + std::to_string(i));
  }
  QueryPerformanceCounter(&end);
  stats.seconds = static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart;
  target.Cleanup();
  return stats;
}

}  // namespace qortest::fuzz
