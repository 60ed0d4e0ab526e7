// The test build of the installer library: the product itself, whose test seams are set from the scenario's
// environment as the library loads (testing/installer/installer_test_seams_from_environment.h), before anything of the
// product runs. Only test fixtures carry it, under the product library's name.
#include <windows.h>

#include <cstdio>
#include <string>

#include "testing/installer/installer_test_seams_from_environment.h"

namespace {

// A scenario whose seams cannot be applied would test the product's behaviour instead of the one it asked for.
constexpr UINT kExitCodeUnusableTestSeams = 86;

struct TestSeamsFromEnvironment {
  TestSeamsFromEnvironment() {
    std::string error;
    if (test_support::ApplyInstallerTestSeamsFromEnvironment(&error))
      return;
    fprintf(stderr, "test build of the installer library: %s\n", error.c_str());
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kExitCodeUnusableTestSeams);
  }
} g_test_seams_from_environment;

}  // namespace
