#include "InterfaceDiagnostics.h"
