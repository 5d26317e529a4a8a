// The install procedure for 10, 100 and 1000 ticked plugins (no program holds a copy, no host server
// runs), timed from the click to the moment the success message would show, against a reference measured
// in the same run: writing the same proxy bytes to the same targets with CreateFileW + WriteFile plus one
// start of the host server with its switch, waited for. Both start from the same state (no proxy copy,
// no host server file). Prints the ratio per size (target <= 1.2) and the time per plugin.
// bench_procedure [repeats]
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Error.h"
#include "FileSystem.h"
#include "HostServerRegistration.h"
#include "ModuleStartup.h"
#include "Payload.h"
#include "PluginInventory.h"
#include "RunningProcesses.h"
#include "SetupProcedure.h"

namespace {

struct Plugins : qor::PluginList {
  std::vector<std::wstring> captions;
  std::wstring folder;
  void Clear() override { captions.clear(); }
  int Count() const override { return static_cast<int>(captions.size()); }
  std::wstring Caption(int i) const override { return captions[i]; }
  std::wstring Folder(int) const override { return folder; }
  bool Checked(int) const override { return true; }
  void AddTicked(const std::wstring& caption, const std::wstring&) override { captions.push_back(caption); }
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string ReadAll(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

bool WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

bool StartAndWait(const std::wstring& program, const wchar_t* parameters) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = program.c_str();
  info.lpParameters = parameters;
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info) || !info.hProcess) return false;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  return code == 0;
}

// Puts the folder back to where both measurements start: no proxy copy, no host server file.
void Reset(const Plugins& plugins, const std::wstring& hostServer) {
  for (int i = 0; i < plugins.Count(); ++i)
    DeleteFileW(qor::ProxySiblingPath(qor::PluginPath(plugins, i)).c_str());
  DeleteFileW(hostServer.c_str());
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
  qor::InitializeSetupModules();

  wchar_t tempPath[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, tempPath);
  const std::wstring root = std::wstring(tempPath) + L"qor_bench_procedure_" + std::to_wstring(GetCurrentProcessId());
  const std::wstring setupFolder = root + L"\\Plugins\\Quorvex";
  const std::wstring hostServer = setupFolder + L"\\Quorvex.exe";
  const std::wstring ini = root + L"\\wincmd.ini";
  qor::ForceDirectories(root + L"\\Plugins\\wcx");
  WriteAll(ini, "[PackerPlugins64]\r\n$checksum$=1\r\n");

  std::printf("%-8s %12s %12s %8s %14s\n", "plugins", "procedure ms", "reference ms", "ratio", "ms per plugin");
  for (int count : {10, 100, 1000}) {
    Plugins plugins;
    plugins.folder = root + L"\\Plugins\\wcx";
    for (int i = 0; i < count; ++i) plugins.captions.push_back(L"p" + std::to_wstring(i) + L".wcx");

    std::vector<double> procedure, reference;
    std::string proxyBytes;
    try {
      for (int r = 0; r < repeats; ++r) {
        Reset(plugins, hostServer);
        auto start = std::chrono::steady_clock::now();
        qor::RunSetupSteps(plugins, ini, setupFolder, true);
        procedure.push_back(Seconds(start));
        if (proxyBytes.empty()) proxyBytes = ReadAll(qor::ProxySiblingPath(qor::PluginPath(plugins, 0)));
        const std::string hostBytes = ReadAll(hostServer);

        // The reference: the same files written, the same server started once with its switch.
        Reset(plugins, hostServer);
        WriteAll(hostServer, hostBytes);
        start = std::chrono::steady_clock::now();
        for (int i = 0; i < plugins.Count(); ++i)
          WriteAll(qor::ProxySiblingPath(qor::PluginPath(plugins, i)), proxyBytes);
        if (!StartAndWait(hostServer, L"/REGSERVERPERUSER")) std::fprintf(stderr, "the host server failed\n");
        reference.push_back(Seconds(start));
      }
    } catch (const qor::Error& e) {
      std::fwprintf(stderr, L"the procedure failed: %ls\n", e.message().c_str());
      return 1;
    }
    const double p = Median(procedure) * 1000, ref = Median(reference) * 1000;
    std::printf("%-8d %12.1f %12.1f %8.2f %14.3f\n", count, p, ref, p / ref, p / count);
    Reset(plugins, hostServer);
  }
  // Where the fixed part of the time goes, for 10 plugins: each step of a run on its own.
  {
    Plugins plugins;
    plugins.folder = root + L"\\Plugins\\wcx";
    for (int i = 0; i < 10; ++i) plugins.captions.push_back(L"p" + std::to_wstring(i) + L".wcx");
    std::vector<std::wstring> targets;
    for (int i = 0; i < plugins.Count(); ++i) targets.push_back(qor::ProxySiblingPath(qor::PluginPath(plugins, i)));
    std::vector<double> release, close, walk, registration;
    for (int r = 0; r < repeats; ++r) {
      Reset(plugins, hostServer);
      auto start = std::chrono::steady_clock::now();
      qor::ExtractPayload(setupFolder, targets, {});
      walk.push_back(Seconds(start));
      start = std::chrono::steady_clock::now();
      for (const auto& target : targets) qor::ReleaseFile(target);
      release.push_back(Seconds(start));
      start = std::chrono::steady_clock::now();
      qor::CloseHostServers();
      close.push_back(Seconds(start));
      start = std::chrono::steady_clock::now();
      qor::RegisterHostServer(hostServer, true, true);
      registration.push_back(Seconds(start));
    }
    std::printf("10 plugins, step by step: payload walk %.1f ms, releasing the copies %.1f ms, "
                "closing host servers %.1f ms, registration %.1f ms\n",
                Median(walk) * 1000, Median(release) * 1000, Median(close) * 1000, Median(registration) * 1000);
    Reset(plugins, hostServer);
  }
  StartAndWait(L"cmd.exe", (L"/c rmdir /s /q \"" + root + L"\"").c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID\\{5C2A7E14-9B3D-4F61-A8E0-3D7C51B2F946}");
  qor::FinalizeSetupModules();
  return 0;
}
