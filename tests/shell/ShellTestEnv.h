#pragma once
#include <gtest/gtest.h>

#include "qorShellBaseExtension.h"

// Each test starts from a fresh library start-up (so the loader runs again) and the system's loader.
class ShellLibrary : public testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    qor::InitializeShellBaseExtension();
  }
  void TearDown() override {
    qor::FinalizeShellBaseExtension();
    qor::SetShellModuleLoaderForTesting(nullptr);
    CoUninitialize();
  }
};
