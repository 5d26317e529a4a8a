#include "SetupProcedure.h"

namespace qor {

// The procedure itself (process shutdown, payload walk, registration) is not part of this build yet:
// a click changes nothing and shows nothing.
void RunSetup(TForm16& form, bool PerUser) {
  (void)form;
  (void)PerUser;
}

}  // namespace qor
