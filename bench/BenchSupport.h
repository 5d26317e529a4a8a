// What the benchmarks share: one clock, and one way to give up when the machine refuses a step.
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

// Seconds on the performance counter.
inline double Now() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Ends the benchmark with the step that failed and the last system error, named by the program's file.
[[noreturn]] inline void Fail(const char* what) {
  const DWORD error = GetLastError();
  char path[MAX_PATH] = "bench";
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const char* name = std::strrchr(path, '\\');
  std::fprintf(stderr, "%s: %s failed (error %lu)\n", name ? name + 1 : path, what, error);
  std::exit(1);
}

}  // namespace bench
