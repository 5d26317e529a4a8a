// The install and uninstall procedure behind the two setup buttons.
#pragma once

namespace qor {

class TForm16;

// Runs one install or uninstall for all users (PerUser false) or the current user (PerUser true),
// reading the plugin list and the setup folder from the main window.
void RunSetup(TForm16& form, bool PerUser);

}  // namespace qor
