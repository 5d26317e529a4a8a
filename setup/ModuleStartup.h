// The program's module start-ups that follow DPI awareness, in their order, and their shut-downs in
// reverse order: the program entry, the test programs that create the windows and the benchmarks run
// the same sequence.
#pragma once

namespace qor {

// The logging client, the shell library, the language catalogue, the setup's texts, the version cache
// and the process identity helpers. The caller has made the process DPI-aware first (the program does;
// test programs leave it).
void InitializeSetupModules();
void FinalizeSetupModules();

}  // namespace qor
