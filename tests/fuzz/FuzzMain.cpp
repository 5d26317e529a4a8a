// fuzz_tests: without arguments (as CTest runs it) the GoogleTest suite, whose fixed-seed pass runs every
// target briefly. With "--fuzz N [--seed S]" a long run: each target in a child process of its own, so
// that a crash in one is reported with its input and the others still run. "--target NAME --iterations N
// --seed S --failures DIR" is that child; "--target NAME --replay FILE" runs one saved input.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Fuzzer.h"
#include "Sandbox.h"
#include "QuorvexSetupUtils.h"
#include "qorShellBaseExtension.h"

namespace qortest::fuzz {

std::unique_ptr<Target> MakePayloadTarget();
std::unique_ptr<Target> MakeInventoryTarget();
std::unique_ptr<Target> MakeLocationTarget();
std::unique_ptr<Target> MakeRegReadStringTarget();
std::unique_ptr<Target> MakeVersionTarget();
std::unique_ptr<Target> MakeFileListTarget();
std::unique_ptr<Target> MakePlantedCrashTarget();

std::vector<std::unique_ptr<Target>> AllTargets() {
  std::vector<std::unique_ptr<Target>> all;
  all.push_back(MakePayloadTarget());
  all.push_back(MakeInventoryTarget());
  all.push_back(MakeLocationTarget());
  all.push_back(MakeRegReadStringTarget());
  all.push_back(MakeVersionTarget());
  all.push_back(MakeFileListTarget());
  return all;
}

std::unique_ptr<Target> MakeTarget(const std::string& name) {
  for (auto& t : AllTargets())
    if (name == t->Name()) return std::move(t);
  if (name == "planted-crash") return MakePlantedCrashTarget();
  return nullptr;
}

namespace {

void PrintStats(const char* name, uint64_t seed, const RunStats& s) {
  const double rate = s.seconds > 0 ? s.iterations / s.seconds : 0;
  printf("target %s: seed %llu, %llu runs in %.1f s (%.0f per second), slowest run %.1f ms, %llu violations\n", name,
         static_cast<unsigned long long>(seed), static_cast<unsigned long long>(s.iterations), s.seconds, rate,
         s.slowestMs, static_cast<unsigned long long>(s.violations));
  if (s.errors.empty()) printf("  error texts: none raised\n");
  for (const auto& [text, count] : s.errors)
    printf("  error text \"%s\": %llu\n", Narrow(text).c_str(), static_cast<unsigned long long>(count));
  for (const auto& [kind, count] : s.violationKinds)
    printf("  VIOLATION \"%s\": %llu\n", kind.c_str(), static_cast<unsigned long long>(count));
  for (const auto& saved : s.savedFailures) printf("  failing input saved as %s\n", Narrow(saved).c_str());
  fflush(stdout);
}

int RunChild(const std::string& name, uint64_t iterations, uint64_t seed, const std::wstring& failures) {
  auto target = MakeTarget(name);
  if (!target) {
    fprintf(stderr, "no fuzz target %s\n", name.c_str());
    return 2;
  }
  const RunStats stats = RunTarget(*target, iterations, seed, failures);
  PrintStats(name.c_str(), seed, stats);
  return stats.violations ? 1 : 0;
}

// Runs one saved input without the crash guard, so that the system's own crash report (a backtrace
// under Wine) shows where a reader died.
int Replay(const std::string& name, const std::wstring& file) {
  auto target = MakeTarget(name);
  if (!target) return 2;
  const Input input = Deserialize(ReadBytes(file));
  target->Prepare();
  const Outcome out = target->Run(input);
  target->Cleanup();
  printf("error text: %s\nviolation: %s\n%s", Narrow(out.error).c_str(), out.violation.empty() ? "none" : out.violation.c_str(),
         out.detail.c_str());
  return out.violation.empty() ? 0 : 1;
}

// Starts this program for one target with the same standard streams and waits for it.
DWORD RunTargetInChild(const std::string& name, uint64_t iterations, uint64_t seed, const std::wstring& failures) {
  std::wstring command = L"\"" + ProgramFolder() + L"fuzz_tests.exe\" --target " + Widen(name) + L" --iterations " +
                         std::to_wstring(iterations) + L" --seed " + std::to_wstring(seed) + L" --failures \"" +
                         failures + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  HANDLE self = GetCurrentProcess();
  HANDLE streams[3] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
  HANDLE inherited[3] = {};
  for (int i = 0; i < 3; ++i)
    if (streams[i] && streams[i] != INVALID_HANDLE_VALUE)
      DuplicateHandle(self, streams[i], self, &inherited[i], 0, TRUE, DUPLICATE_SAME_ACCESS);
  si.hStdInput = inherited[0];
  si.hStdOutput = inherited[1];
  si.hStdError = inherited[2];
  PROCESS_INFORMATION pi{};
  DWORD code = 1000;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    code = 1000 + GetLastError();
  }
  for (HANDLE h : inherited)
    if (h) CloseHandle(h);
  return code;
}

int RunParent(uint64_t iterations, uint64_t seed, const std::vector<std::string>& names) {
  const std::wstring failures = ProgramFolder() + L"fuzz-failures";
  CreateDirectoryW(failures.c_str(), nullptr);
  printf("fuzzing %zu targets, %llu runs each, seed %llu (QOR_FUZZ_SEED=%llu repeats this run)\n", names.size(),
         static_cast<unsigned long long>(iterations), static_cast<unsigned long long>(seed),
         static_cast<unsigned long long>(seed));
  fflush(stdout);
  int status = 0;
  std::string summary;
  for (const std::string& name : names) {
    const std::wstring crashFile = failures + L"\\" + Widen(name) + L"-crash.qfz";
    DeleteFileW(crashFile.c_str());
    const ULONGLONG start = GetTickCount64();
    const DWORD code = RunTargetInChild(name, iterations, seed, failures);
    const double seconds = (GetTickCount64() - start) / 1000.0;
    std::string line = "  " + name + ": ";
    if (code == 0) {
      line += "passed";
    } else if (code == 1) {
      line += "contract violations (see above)";
      status = 1;
    } else if (code == kCrashExitCode) {
      line += "CRASHED (1 crash)";
      status = 1;
      const std::string bytes = ReadBytes(crashFile);
      try {
        printf("target %s crashed on this input (saved as %s):\n%s", name.c_str(), Narrow(crashFile).c_str(),
               Describe(Deserialize(bytes)).c_str());
      } catch (const std::exception& e) {
        printf("target %s crashed; its input could not be read back: %s\n", name.c_str(), e.what());
      }
    } else {
      line += "ended with exit code " + std::to_string(code) + " (a crash the guard did not see?)";
      status = 1;
    }
    char took[64];
    snprintf(took, sizeof took, ", %.1f s", seconds);
    summary += line + took + "\n";
    fflush(stdout);
  }
  printf("fuzz summary (seed %llu):\n%s", static_cast<unsigned long long>(seed), summary.c_str());
  return status;
}

uint64_t FreshSeed() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  Rng rng(static_cast<uint64_t>(now.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32));
  return rng.Next() % 1000000000000ull;
}

}  // namespace
}  // namespace qortest::fuzz

int main(int argc, char** argv) {
  using namespace qortest::fuzz;
  qor::InitializeShellBaseExtension();
  qor::InitializeQuorvexSetupUtils();
  int status = 0;
  std::string target;
  uint64_t iterations = 0, seed = 0;
  bool fuzz = false, seedGiven = false;
  std::wstring failures, replay;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--fuzz") {
      fuzz = true;
      if (hasValue && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') iterations = strtoull(argv[++i], nullptr, 10);
    } else if (a == "--seed" && hasValue) {
      seed = strtoull(argv[++i], nullptr, 10);
      seedGiven = true;
    } else if (a == "--target" && hasValue) {
      target = argv[++i];
    } else if (a == "--targets" && hasValue) {
      for (char* t = strtok(argv[++i], ","); t; t = strtok(nullptr, ",")) names.push_back(t);
    } else if (a == "--iterations" && hasValue) {
      iterations = strtoull(argv[++i], nullptr, 10);
    } else if (a == "--replay" && hasValue) {
      replay = Widen(argv[++i]);
    } else if (a == "--failures" && hasValue) {
      failures = Widen(argv[++i]);
    }
  }
  if (!target.empty() && !replay.empty()) {
    status = Replay(target, replay);
  } else if (!target.empty()) {
    status = RunChild(target, iterations, seed, failures);
  } else if (fuzz) {
    if (!seedGiven) {
      char env[32] = {};
      seed = GetEnvironmentVariableA("QOR_FUZZ_SEED", env, sizeof env) ? strtoull(env, nullptr, 10) : FreshSeed();
    }
    if (names.empty())
      for (const auto& t : AllTargets()) names.push_back(t->Name());
    status = RunParent(iterations ? iterations : 10000, seed, names);
  } else {
    testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  qor::FinalizeQuorvexSetupUtils();
  qor::FinalizeShellBaseExtension();
  return status;
}
