// The fixed-seed pass of every target (the seeds and regression cases unmutated first), and the fuzzer's
// own machinery: the input files, the mutator's reproducibility, and the reports of a broken contract and
// of a crash.
#include <gtest/gtest.h>

#include <set>

#include "Fuzzer.h"
#include "Sandbox.h"

using namespace qortest::fuzz;

namespace qortest::fuzz {

namespace {
bool HasByte(const Input& input, unsigned char b) {
  for (const auto& p : input.parts)
    if (p.find(static_cast<char>(b)) != std::string::npos) return true;
  return false;
}

// Stands for a reader with a planted fault: it dies on any input holding the byte 0xFF.
class PlantedCrashTarget : public Target {
 public:
  const char* Name() const override { return "planted-crash"; }
  std::vector<Input> BuiltInSeeds() const override { return {Input{{"abcdefgh", "12"}}}; }
  Outcome Run(const Input& input) override {
    if (HasByte(input, 0xFF)) *static_cast<volatile int*>(nullptr) = 1;
    return {};
  }
};

// A reader that breaks its contract in one of two ways on inputs holding 0xFF.
class PlantedViolationTarget : public Target {
 public:
  explicit PlantedViolationTarget(bool raise) : raise_(raise) {}
  const char* Name() const override { return raise_ ? "planted-raise" : "planted-violation"; }
  std::vector<Input> BuiltInSeeds() const override { return {Input{{"abcdefgh"}}}; }
  Outcome Run(const Input& input) override {
    Outcome out;
    if (HasByte(input, 0xFF)) {
      if (raise_) throw std::runtime_error("planted");
      out.violation = "planted violation";
    }
    out.error = HasByte(input, 0x00) ? L"Cannot create file \"C:\\x\\y\". Access is denied." : L"";
    return out;
  }

 private:
  bool raise_;
};
}  // namespace

std::unique_ptr<Target> MakePlantedCrashTarget() { return std::make_unique<PlantedCrashTarget>(); }

}  // namespace qortest::fuzz

namespace {

struct FixedPass {
  const char* target;
  uint64_t iterations;
};
void PrintTo(const FixedPass& pass, std::ostream* os) { *os << pass.target << " x " << pass.iterations; }

// A few thousand runs in all, fixed seed: the same inputs on every run of ./test.
const FixedPass kFixedPasses[] = {{"payload", 1500}, {"inventory", 400}, {"location", 400}, {"regreadstring", 1500},
                                  {"version", 300}, {"filelist", 1000}};
constexpr uint64_t kFixedSeed = 20261210;

class FuzzFixedSeed : public testing::TestWithParam<FixedPass> {};

}  // namespace

TEST_P(FuzzFixedSeed, SeedsRegressionCasesAndMutationsKeepTheContract) {
  const FixedPass& pass = GetParam();
  auto target = MakeTarget(pass.target);
  ASSERT_TRUE(target);
  const RunStats stats = RunTarget(*target, pass.iterations, kFixedSeed, ProgramFolder() + L"fuzz-failures");
  std::string kinds;
  for (const auto& [kind, count] : stats.violationKinds) kinds += "\n  " + kind + ": " + std::to_string(count);
  std::string errors;
  for (const auto& [text, count] : stats.errors) errors += "\n  " + Narrow(text) + ": " + std::to_string(count);
  EXPECT_EQ(stats.violations, 0u) << kinds;
  EXPECT_GT(stats.iterations, pass.iterations) << "the seeds run first";
  printf("%s: %llu runs in %.2f s, slowest %.1f ms; error texts:%s\n", pass.target,
         static_cast<unsigned long long>(stats.iterations), stats.seconds, stats.slowestMs,
         errors.empty() ? " none" : errors.c_str());
  if (std::string(pass.target) == "payload") {
    // The mutations reach the walk's failure paths, not only its happy one.
    for (const wchar_t* text : {L"Stream read error", L"data error", L"Invalid file name \"%s\" in the setup data"})
      EXPECT_GT(stats.errors.count(text), 0u) << Narrow(text) << errors;
  }
}

INSTANTIATE_TEST_SUITE_P(AllTargets, FuzzFixedSeed, testing::ValuesIn(kFixedPasses),
                         [](const testing::TestParamInfo<FixedPass>& info) { return std::string(info.param.target); });

TEST(FuzzTargets, EveryTargetHasSeedsAndAFixedPass) {
  std::set<std::string> fixed;
  for (const auto& pass : kFixedPasses) fixed.insert(pass.target);
  for (const auto& target : AllTargets()) {
    SCOPED_TRACE(target->Name());
    EXPECT_FALSE(LoadSeeds(target->Name()).empty() && target->BuiltInSeeds().empty()) << Narrow(SeedFolder());
    EXPECT_EQ(fixed.count(target->Name()), 1u);
  }
}

TEST(FuzzInput, FilesRoundTripAndDamagedOnesAreRefused) {
  const Input input{{std::string("a\0b", 3), "", std::string(300, '\xff')}};
  EXPECT_EQ(Deserialize(Serialize(input)), input);
  const std::string good = Serialize(input);
  const struct {
    const char* what;
    std::string bytes;
  } damaged[] = {{"empty", ""},
                 {"other magic", "QFZ2" + good.substr(4)},
                 {"cut inside a part", good.substr(0, good.size() - 1)},
                 {"cut inside a length", good.substr(0, 10)},
                 {"bytes after the last part", good + "x"},
                 {"count larger than the parts", good.substr(0, 4) + std::string("\x09\0\0\0", 4) + good.substr(8)}};
  for (const auto& d : damaged) {
    SCOPED_TRACE(d.what);
    EXPECT_THROW(Deserialize(d.bytes), std::runtime_error);
  }
}

TEST(FuzzMutator, ASeedGivesTheSameMutationsAndTheyChangeTheInput) {
  const Input seed{{std::string(64, 'x'), std::string(8, '\0')}};
  const std::vector<Field> fields = {{1, 2, 4}};
  MutationHints hints;
  hints.tokens = {"TOKEN"};
  Rng a(7), b(7);
  int changed = 0, tokens = 0;
  std::set<uint32_t> fieldValues;
  for (int i = 0; i < 2000; ++i) {
    Input x = seed, y = seed;
    Mutate(x, fields, hints, a);
    Mutate(y, fields, hints, b);
    ASSERT_EQ(x, y) << "mutation " << i;
    changed += !(x == seed);
    tokens += x.parts[0].find("TOKEN") != std::string::npos;
    if (x.parts[1].size() == 8) {
      uint32_t v;
      memcpy(&v, x.parts[1].data() + 2, 4);
      fieldValues.insert(v);
    }
  }
  EXPECT_GT(changed, 1800) << "of 2000";
  EXPECT_GT(tokens, 50) << "of 2000";
  for (uint32_t boundary : {0u, 1u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 2u})
    EXPECT_EQ(fieldValues.count(boundary), 1u) << std::hex << boundary;
}

TEST(FuzzHarness, ABrokenContractIsCountedAndItsInputSaved) {
  for (bool raise : {false, true}) {
    SCOPED_TRACE(raise ? "raises" : "reports a violation");
    PlantedViolationTarget target(raise);
    const std::wstring folder = ProgramFolder() + L"fuzz-failures-selftest";
    const RunStats stats = RunTarget(target, 300, 1, folder, true);
    EXPECT_GT(stats.violations, 0u);
    EXPECT_EQ(stats.violationKinds.count(raise ? "the target itself raised" : "planted violation"), 1u);
    ASSERT_FALSE(stats.savedFailures.empty());
    EXPECT_LE(stats.savedFailures.size(), 3u) << "three inputs per kind are kept";
    EXPECT_TRUE(HasByte(Deserialize(ReadBytes(stats.savedFailures[0])), 0xFF)) << "the saved input is the one that broke the contract";
    EXPECT_EQ(stats.errors.count(L"Cannot create file \"%s\". Access is denied."), 1u) << "error texts by pattern";
    for (const auto& f : stats.savedFailures) DeleteFileW(f.c_str());
    RemoveDirectoryW(folder.c_str());
  }
}

TEST(FuzzHarness, ACrashEndsTheChildWithItsInputWritten) {
  const std::wstring folder = ProgramFolder() + L"fuzz-failures-selftest";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring crashFile = folder + L"\\planted-crash-crash.qfz";
  DeleteFileW(crashFile.c_str());
  std::wstring command = L"\"" + ProgramFolder() + L"fuzz_tests.exe\" --target planted-crash --iterations 5000 --seed 3 "
                         L"--failures \"" + folder + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      << GetLastError();
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, kCrashExitCode);
  ASSERT_NE(GetFileAttributesW(crashFile.c_str()), INVALID_FILE_ATTRIBUTES) << "no crash input written";
  EXPECT_TRUE(HasByte(Deserialize(ReadBytes(crashFile)), 0xFF)) << "the written input is the one it died on";
  DeleteFileW(crashFile.c_str());
  RemoveDirectoryW(folder.c_str());
}
