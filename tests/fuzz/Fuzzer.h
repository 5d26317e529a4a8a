// A small mutation fuzzer: seeded inputs of one or more byte parts, mutated by bit flips, byte
// insertions and deletions, truncation, copied ranges, dictionary tokens and length or count fields set
// to boundary values. Each target runs one reader of untrusted input on an input and judges the outcome
// against the reader's contract.
#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qortest::fuzz {

// One input: the parts a target reads (a file's bytes, a registry value, a flags byte).
struct Input {
  std::vector<std::string> parts;
  bool operator==(const Input&) const = default;
};

// The file form of an input: "QFZ1", the part count, then each part as a 32-bit length and its bytes
// (little-endian). Raises std::runtime_error on a malformed file.
std::string Serialize(const Input& input);
Input Deserialize(const std::string& bytes);
// Every part as hexadecimal and printable text, for a report.
std::string Describe(const Input& input);

// splitmix64: a whole run follows from its seed.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // Uniform in [0, bound); bound 0 gives 0.
  uint64_t Below(uint64_t bound) { return bound ? Next() % bound : 0; }
  bool OneIn(uint64_t n) { return Below(n) == 0; }

 private:
  uint64_t state_;
};

// A length or count field of a seed that the mutator may set to a boundary value.
struct Field {
  size_t part;
  size_t offset;
  int width;  // 1, 2 or 4 bytes, little-endian
};

// What the mutator knows of a target's inputs besides the seeds.
struct MutationHints {
  std::vector<std::string> tokens;  // inserted as they are, and as UTF-16LE into parts that look UTF-16
  size_t maxPartSize = 64 * 1024;    // parts are cut back to this size after mutation
};

// Applies 1 to 6 stacked mutations to one or more parts. Fields may lie anywhere in the parts; those
// beyond the end after earlier mutations are ignored.
void Mutate(Input& input, const std::vector<Field>& fields, const MutationHints& hints, Rng& rng);

// What one run of a reader gave.
struct Outcome {
  std::wstring error;      // the text of the documented error raised, empty when none was raised
  std::string violation;   // what broke the contract, one text per kind; empty when the contract held
  std::string detail;      // what the input gave, for the report of a violation
};

class Target {
 public:
  virtual ~Target() = default;
  virtual const char* Name() const = 0;
  // Creates the target's sandbox; called once before the first Run.
  virtual void Prepare() {}
  // Removes the sandbox and every trace of the runs (registry values included).
  virtual void Cleanup() {}
  // Seeds of the target's own besides the files of its seed folder.
  virtual std::vector<Input> BuiltInSeeds() const { return {}; }
  virtual std::vector<Field> FieldsOf(const Input&) const { return {}; }
  virtual MutationHints Hints() const { return {}; }
  // Runs the reader once and judges the outcome. Must not raise.
  virtual Outcome Run(const Input& input) = 0;
};

// The targets of this program, in report order.
std::vector<std::unique_ptr<Target>> AllTargets();
std::unique_ptr<Target> MakeTarget(const std::string& name);

// The seeds of a target: every file of <seed folder>\<target>\, sorted by name (regression cases too).
std::vector<std::pair<std::wstring, Input>> LoadSeeds(const std::string& target);
// The seed folder: %QOR_FUZZ_SEEDS%, else "fuzz-seeds" beside the program (the build copies them there).
std::wstring SeedFolder();
// The running program's folder, with a trailing "\".
std::wstring ProgramFolder();

struct RunStats {
  uint64_t iterations = 0;
  uint64_t violations = 0;
  std::map<std::wstring, uint64_t> errors;  // documented error texts and how often each came
  std::map<std::string, uint64_t> violationKinds;
  double seconds = 0;
  double slowestMs = 0;
  std::vector<std::wstring> savedFailures;  // inputs that broke the contract, as written
};

// Runs every seed once unmutated, then `iterations` mutated inputs drawn from `seed`. An input that
// breaks the contract is written to failureFolder (when not empty) and described on stderr. While a
// reader runs, a crash or a hang of more than hangSeconds writes the input to
// failureFolder\<target>-crash.qfz, prints it and ends the process with kCrashExitCode.
RunStats RunTarget(Target& target, uint64_t iterations, uint64_t seed, const std::wstring& failureFolder,
                   bool quiet = false);

inline constexpr UINT kCrashExitCode = 86;
inline constexpr DWORD kHangSeconds = 60;

// The text of a documented error: the first line of a qor::Error's message; a shape like
// "Cannot create file "<path>". <reason>" is reduced to its pattern so that the report stays short.
std::wstring ErrorKind(const std::wstring& message);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

}  // namespace qortest::fuzz
