// Waits, running the thread's message loop, until installer settings have taken over the status of their
// install folder, as a controller does before it starts an installation.
#ifndef TESTING_SETTINGS_STATUS_WAIT_H_
#define TESTING_SETTINGS_STATUS_WAIT_H_

namespace zorvi::installer {
class Settings;
}

namespace test_support {

// Returns at once when no status is being fetched.
void WaitForSettingsStatus(zorvi::installer::Settings* settings);

}  // namespace test_support

#endif  // TESTING_SETTINGS_STATUS_WAIT_H_
