// Crash logs travel zipped: they are mostly text and repeat themselves.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_LOG_ZIP_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_LOG_ZIP_H_

#include "base/files/file_path.h"

namespace zorvi {
namespace installer {

// Writes a new archive at `zip_path` holding the log as its one entry, "crashlog.txt", deflated at the highest
// level. An empty or unreadable log, or any failure, leaves no archive: false.
bool ZipCrashLog(const base::FilePath& log_path, const base::FilePath& zip_path);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_LOG_ZIP_H_
