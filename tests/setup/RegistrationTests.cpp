// Tests of this subsystem are added here.
#include <gtest/gtest.h>
