// Started as a child of the Total Commander double: writes what the location functions find, one
// line each in UTF-8, to the file named by its argument: parent id, parent image path, FindWincmdIni,
// FindTotalCommanderDir, TotalCommanderParentPath.
#include <windows.h>

#include <cstdio>
#include <string>

#include "QuorvexSetupUtils.h"
#include "TotalCommanderLocation.h"
#include "qorShellBaseExtension.h"

namespace {
std::string Utf8(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  qor::InitializeShellBaseExtension();
  qor::InitializeQuorvexSetupUtils();
  DWORD parent = qor::GetParentProcessID();
  std::wstring lines[] = {std::to_wstring(parent), qor::GetProcessImagePath(parent), qor::FindWincmdIni(),
                          qor::FindTotalCommanderDir(), qor::TotalCommanderParentPath()};
  FILE* f = _wfopen(argv[1], L"wb");
  if (!f) return 3;
  for (const auto& l : lines) fprintf(f, "%s\n", Utf8(l).c_str());
  fclose(f);
  qor::FinalizeQuorvexSetupUtils();
  qor::FinalizeShellBaseExtension();
  return 0;
}
