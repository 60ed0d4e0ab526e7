// Where the crash reporter keeps its files and what it calls them: the crash folder (the temporary folder
// unless "ZORVI_CRASH_LOG_DIR" names another), the paths of the crash counter, crash id and browser state files,
// and the per-crash names "<product>-crashlog-<reporter pid>-<n>.txt" and ".dmp", numbered from 1 per reporter.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_FILES_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_FILES_H_

#include <cstdint>
#include <string>

#include "base/files/file_path.h"

namespace zorvi {
namespace installer {

// Path-service keys of the reporter's files. Nothing in the installer answers the last three, so their paths
// stay empty unless a test or an embedder overrides them.
inline constexpr int kUserDataDirKey = 1002;
inline constexpr int kCrashCounterFileKey = 2016;
inline constexpr int kCrashIdFileKey = 2017;
inline constexpr int kBrowserStateFileKey = 2018;

inline constexpr char kCrashLogDirVariable[] = "ZORVI_CRASH_LOG_DIR";

// Chooses the crash folder and the file paths, once at reporter start (a later call chooses afresh). False
// only when not even the temporary folder can be had.
bool InitCrashFolders();

base::FilePath GetCrashFolder();
base::FilePath GetCrashCounterFilePath();
base::FilePath GetBrowserStateFilePath();
bool IsCrashLogFolderFromEnvironment();
// The crash id file of crash `sequence_number`: with the folder from the environment, one file per reporter
// and crash ("<name>-<pid>-<n><ext>"); empty while no one answers its key.
base::FilePath GetCrashIdFilePath(uint32_t sequence_number);

// The next crash's number: 1 for the first crash of this process, distinct across threads.
uint32_t TakeCrashSequenceNumber();

// "<product, lower case>-crashlog-<this process id>-<n><extension>".
std::string FormatCrashFileName(uint32_t sequence_number, const char* extension);
std::string GetCrashLogFileName(uint32_t sequence_number);   // ".txt"
std::string GetCrashDumpFileName(uint32_t sequence_number);  // ".dmp"

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_FILES_H_
