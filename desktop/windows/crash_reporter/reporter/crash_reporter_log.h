// The crash reporter's own log: a file in the temporary folder, started afresh by every reporter, and the crash
// log sink, which collects the messages a thread logs while it handles one crash so that they end up in that
// crash's text log instead (where whoever reads the crash sees them) and nowhere else.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_REPORTER_LOG_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_REPORTER_LOG_H_

#include <cstddef>
#include <sstream>
#include <string>

#include "base/files/file_path.h"

namespace zorvi {
namespace installer {

// Logs to "<product>_crashreporter.log" in the temporary folder (the system debug log when there is none),
// deleting the previous reporter's file, with process and thread ids, time and tick count on every line.
void InitCrashReporterLogging();

// The log message handler: hands the message to the thread's current sink, if any ("file:line:message"), and
// then it goes nowhere else.
bool CrashLogMessageHandler(int severity, const char* file, int line, size_t message_start,
                            const std::string& text);

// While it lives, it is the current sink of the thread that made it; sinks nest, the newest taking the
// messages.
class CrashLogSink {
 public:
  CrashLogSink();
  ~CrashLogSink();  // the previous sink of the thread is current again
  CrashLogSink(const CrashLogSink&) = delete;
  CrashLogSink& operator=(const CrashLogSink&) = delete;

  void Write(const char* text, size_t size);

  // Appends "\nCrash Logger:\n" and the collected text to the file, in text mode, and empties the sink. True
  // at once when nothing was collected; false, keeping the text, when the file cannot be written.
  bool AppendToFile(const base::FilePath& path);

 private:
  std::ostringstream text_;
  CrashLogSink* const previous_;
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_REPORTER_LOG_H_
