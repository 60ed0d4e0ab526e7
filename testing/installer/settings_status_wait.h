// Installer settings in a test program as the installer's entry makes them, and the wait, running the thread's
// message loop, until they have taken over the status of their install folder, as a controller does before it
// starts an installation.
#ifndef TESTING_INSTALLER_SETTINGS_STATUS_WAIT_H_
#define TESTING_INSTALLER_SETTINGS_STATUS_WAIT_H_

#include <memory>

namespace base {
class CommandLine;
}

namespace zorvi::installer {
class Settings;
}

namespace test_support {

// What the entry sets up before its settings (the preference pool, the experiments with the switches of
// `command_line`, COM for an apartment, which the caller ends), then the settings `command_line` describes. Null
// when COM cannot be set up.
std::unique_ptr<zorvi::installer::Settings> SettingsAsTheEntryMakesThem(const base::CommandLine& command_line);

// Returns at once when no status is being fetched.
void WaitForSettingsStatus(zorvi::installer::Settings* settings);

}  // namespace test_support

#endif  // TESTING_INSTALLER_SETTINGS_STATUS_WAIT_H_
