// Which running processes hold a file, getting them to let go of it, and stopping running host servers.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qor {

// One process that holds a file: its full image path (or "System process #<id>" / "Unknown process #<id>")
// and its id.
struct ProcessEntry {
  std::wstring Text;
  DWORD ProcessId = 0;
};
// In the order of the system's process snapshot; a process at most once.
using ProcessList = std::vector<ProcessEntry>;

// Appends every running process that has FileName (a full path) loaded as a module. Never fails:
// processes that cannot be inspected are passed over.
void GetProcessesUsingFile(const std::wstring& FileName, ProcessList& List);

// Sends the unload-plugins command to every Total Commander main window ("TTOTAL_CMD") of ProcessId and
// waits for each to handle it, a few seconds at most per window.
void UnloadTotalCommanderPlugins(DWORD ProcessId);

enum class ReleaseResult { Released, Cancelled };

// Makes FileName absent: deletes it, asking Total Commander to unload its plugins and showing the
// close-processes dialog for other holders. Cancelled when the user cancels that dialog. Raises
// qor::Error with the "ErrorUpdateFile" text when the file cannot be deleted and nobody holds it.
ReleaseResult ReleaseFile(const std::wstring& FileName);

// Asks every running host server (top-level window "Quorvex" of class "TQuorvexMainForm") to quit, waits
// until they have exited but at most 3000 ms, then terminates those whose window is still there and waits
// (a few seconds at most) until they are gone, so that the host server file can be deleted right after.
// Returns at once when none runs; never fails.
void CloseHostServers();

}  // namespace qor
