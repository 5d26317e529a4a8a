// The install and uninstall procedure behind the two setup buttons.
#pragma once
#include <string>

namespace qor {

class PluginList;
class TForm16;

// How a run ended when it raised nothing.
enum class SetupOutcome {
  Installed,    // at least one plugin was ticked
  Uninstalled,  // none was
  Stopped,      // the user cancelled the close-processes dialog or declined the elevation prompt
};

// The run itself, without its messages: brings the add-on into the state that the list shows for the
// wincmd.ini iniPath and the host server folder setupFolder, for all users (PerUser false) or the current
// user (PerUser true). Raises qor::Error with the text to show on any failure; what was done before the
// failure stays done. Refuses, before anything is touched, an empty or not fully qualified ini path or
// setup folder, a ticked plugin whose proxy copy would have no fully qualified path, and a listed plugin
// whose ".wcx64" sibling is now a real 64-bit build rather than a proxy copy.
SetupOutcome RunSetupSteps(const PluginList& plugins, const std::wstring& iniPath, const std::wstring& setupFolder,
                           bool PerUser);

// Runs one install or uninstall for all users (PerUser false) or the current user (PerUser true),
// reading the plugin list, the ini path and the setup folder from the main window, and reports the outcome
// in a message box owned by it (nothing when the user stopped the run). Shows a wait cursor meanwhile.
void RunSetup(TForm16& form, bool PerUser);

// True for a path that names one place whatever the current folder and drive are: a drive letter with
// ":\" ("C:\x"), or a UNC path with a server and a share ("\\server\share\x", also "\\?\C:\x").
bool IsFullyQualifiedPath(const std::wstring& path);

// The file whose section "PackerPlugins64" Total Commander reads for the wincmd.ini iniPath: the file
// named by that section's "RedirectSection" key (environment references expanded, relative to the
// folder of iniPath, one level only), or iniPath itself when the section has no such key.
std::wstring PackerPlugins64File(const std::wstring& iniPath);

}  // namespace qor
