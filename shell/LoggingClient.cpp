#include "LoggingClient.h"
