// A program that carries the setup's resources exactly as QuorvexSetup.exe does, so that the version
// resource, the manifest, the payload and the build stamp can be read back from a built file.
// Run it to see the two information lines: QuorvexSetupProbe.exe
#include <cstdio>

#include "JvqorSelfInfo.h"

int main() {
  qor::InitializeJvqorSelfInfo();
  std::fputws((qor::FormatVersionLine(L"Version %s") + L"\n").c_str(), stdout);
  std::fputws((qor::FormatBuildTimeLine(L"Build time %s") + L"\n").c_str(), stdout);
  qor::FinalizeJvqorSelfInfo();
  return 0;
}
