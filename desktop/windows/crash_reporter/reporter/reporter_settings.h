// Whether the crash reporter runs at all (the user allowed crash reporting in the browser) and whether it writes
// a minidump beside each text crash log. Built-in defaults, then the feature table, the "with-feature:" switches
// and the browser's state file, each overriding what came before where the setting may be configured.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_REPORTER_SETTINGS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_REPORTER_SETTINGS_H_

#include "base/files/file_path.h"

namespace base {
class CommandLine;
}

namespace zorvi {
namespace installer {

// Reads the settings once, on the main thread before the dump server starts, from the process's command line
// and `state_file` (empty: none). A missing or unreadable state file leaves the earlier values.
void ReadReporterSettings(const base::FilePath& state_file);
// The same with another command line.
void ReadReporterSettingsFrom(const base::CommandLine& command_line, const base::FilePath& state_file);

bool IsReportingEnabled();
bool IsAlternativeCrashLoggingEnabled();

// Puts the built-in values back, so that a test can read the settings again.
void ResetReporterSettingsForTesting();

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_REPORTER_SETTINGS_H_
