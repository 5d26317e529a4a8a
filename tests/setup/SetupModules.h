// The setup's module start-ups for test programs that create its windows, in the program's order, and
// their shut-downs in reverse order.
#pragma once

namespace qortest {

void StartSetupModules();
void StopSetupModules();

}  // namespace qortest
