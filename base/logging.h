// Stream-style logging: LOG(INFO) << ...; messages go to a replaceable handler, the debugger output, standard
// error and/or one log file. CHECK failures and FATAL messages end the process through BreakDebugger.
#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

#include "base/debug/debugger.h"
#include "base/strings/string_piece.h"

namespace logging {

using LogSeverity = int;
constexpr LogSeverity LOG_VERBOSE = -1;  // verbose level n is severity -n
constexpr LogSeverity LOG_INFO = 0;
constexpr LogSeverity LOG_WARNING = 1;
constexpr LogSeverity LOG_ERROR = 2;
constexpr LogSeverity LOG_FATAL = 3;
constexpr LogSeverity LOG_NUM_SEVERITIES = 4;
// <windows.h> defines ERROR as 0, which turns LOG(ERROR) into LOG_0.
constexpr LogSeverity LOG_0 = LOG_ERROR;
// DFATAL is FATAL where debug checks are on, else ERROR.
#if defined(NDEBUG) && !defined(DCHECK_ALWAYS_ON)
constexpr LogSeverity LOG_DFATAL = LOG_ERROR;
#define DCHECK_IS_ON() 0
#else
constexpr LogSeverity LOG_DFATAL = LOG_FATAL;
#define DCHECK_IS_ON() 1
#endif

// Destination flags of LoggingSettings.
enum LoggingDestination : uint32_t {
  LOG_NONE = 0,
  LOG_TO_FILE = 1 << 0,
  LOG_TO_SYSTEM_DEBUG_LOG = 1 << 1,
};

enum OldFileDeletionState : int {
  DELETE_OLD_LOG_FILE = 0,
  APPEND_TO_OLD_LOG_FILE = 1,
};

struct LoggingSettings {
  uint32_t logging_dest = LOG_TO_FILE;
  const wchar_t* log_file = nullptr;  // none: "debug.log" beside the executable
  OldFileDeletionState delete_old = APPEND_TO_OLD_LOG_FILE;
};

// The verbosity switches that InitLogging reads, which a process hands on to the processes it starts.
inline constexpr char kVSwitch[] = "v";
inline constexpr char kVModuleSwitch[] = "vmodule";

// Sets the destinations and the log file; with the switches "v" or "vmodule" on the process command line, also
// the per-module verbosity. False when the log file cannot be opened.
bool InitLogging(const LoggingSettings& settings);

// Messages below `level` are not made. Values above FATAL are stored as FATAL.
void SetMinLogLevel(int level);
int GetMinLogLevel();

// Which items the line prefix carries (defaults: timestamp only).
void SetLogItems(bool enable_process_id, bool enable_thread_id, bool enable_timestamp, bool enable_tickcount);

// A handler gets every finished message first; returning true consumes it (nothing else is written). A FATAL
// message still ends the process once the handler has seen it.
using LogMessageHandlerFunction = bool (*)(int severity, const char* file, int line, size_t message_start,
                                           const std::string& text);
void SetLogMessageHandler(LogMessageHandlerFunction handler);
LogMessageHandlerFunction GetLogMessageHandler();

// Whether a message of this severity is made at all.
bool ShouldCreateLogMessage(int severity);

// The verbosity that applies to a source file: a verbose message of level n is made when n <= this.
int GetVlogLevelHelper(const char* file, size_t size);
template <size_t N>
int GetVlogLevel(const char (&file)[N]) {
  return GetVlogLevelHelper(file, N);
}

// The thread's last Win32 error.
using SystemErrorCode = DWORD;
SystemErrorCode GetLastSystemError();

// The system's text for a Win32 error code on one line, with " (0x<code>)" appended. Leaves the thread's last
// error as it was.
std::string SystemErrorCodeToString(SystemErrorCode error_code);

// Wide text streams into log messages as UTF-8; a null pointer streams nothing.
std::ostream& operator<<(std::ostream& out, const wchar_t* wide);
std::ostream& operator<<(std::ostream& out, const std::wstring& wide);
std::ostream& operator<<(std::ostream& out, base::StringPiece16 wide);

// The stream of a message. Everything inserted into it goes through the operators above or the usual ones, from
// whatever namespace the message is written in (an operator<< declared there would otherwise hide ours).
class LogStream : public std::ostringstream {};

template <typename T>
LogStream& operator<<(LogStream& stream, const T& value) {
  static_cast<std::ostream&>(stream) << value;
  return stream;
}
inline LogStream& operator<<(LogStream& stream, const wchar_t* wide) {
  static_cast<std::ostream&>(stream) << wide;
  return stream;
}
inline LogStream& operator<<(LogStream& stream, std::ostream& (*manipulator)(std::ostream&)) {
  manipulator(stream);
  return stream;
}

// Collects one message; its destructor delivers it.
class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  // For CHECK: "Check failed: <condition>. ".
  LogMessage(const char* file, int line, const char* condition);
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;
  ~LogMessage();

  LogStream& stream() { return stream_; }
  LogSeverity severity() const { return severity_; }

 private:
  void Init(const char* file, int line);

  LogSeverity severity_;
  LogStream stream_;
  size_t message_start_;  // where the body starts, after the prefix
  const char* file_;
  const int line_;
  SystemErrorCode last_error_;  // restored after delivery: logging never changes what the caller sees
};

// A message that ends with ": " and the system's text for `error`.
class Win32ErrorLogMessage {
 public:
  Win32ErrorLogMessage(const char* file, int line, LogSeverity severity, SystemErrorCode error);
  Win32ErrorLogMessage(const Win32ErrorLogMessage&) = delete;
  Win32ErrorLogMessage& operator=(const Win32ErrorLogMessage&) = delete;
  ~Win32ErrorLogMessage();

  LogStream& stream() { return log_message_.stream(); }

 private:
  SystemErrorCode error_;
  LogMessage log_message_;
};

// Turns a stream expression into void, so that LAZY_STREAM's branches have one type.
class LogMessageVoidify {
 public:
  void operator&(std::ostream&) {}
};

}  // namespace logging

// For wide text streamed into other narrow streams.
using logging::operator<<;

#define LAZY_STREAM(stream, condition) !(condition) ? (void)0 : ::logging::LogMessageVoidify() & (stream)

#define LOG_IS_ON(severity) (::logging::ShouldCreateLogMessage(::logging::LOG_##severity))
#define LOG_STREAM(severity) ::logging::LogMessage(__FILE__, __LINE__, ::logging::LOG_##severity).stream()
#define LOG(severity) LAZY_STREAM(LOG_STREAM(severity), LOG_IS_ON(severity))
#define LOG_IF(severity, condition) LAZY_STREAM(LOG_STREAM(severity), LOG_IS_ON(severity) && (condition))

#define VLOG_IS_ON(verbose_level) ((verbose_level) <= ::logging::GetVlogLevel(__FILE__))
#define VLOG(verbose_level) \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, -(verbose_level)).stream(), VLOG_IS_ON(verbose_level))

// LOG with ": <system error text>" of the thread's last error appended.
#define PLOG_STREAM(severity)                                                                  \
  ::logging::Win32ErrorLogMessage(__FILE__, __LINE__, ::logging::LOG_##severity,               \
                                  ::logging::GetLastSystemError())                             \
      .stream()
#define PLOG(severity) LAZY_STREAM(PLOG_STREAM(severity), LOG_IS_ON(severity))

// Checks guard programming errors, not input: a failure ends the process.
#define CHECK(condition) \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, #condition).stream(), !(condition))
#define PCHECK(condition) LAZY_STREAM(PLOG_STREAM(FATAL), !(condition)) << "Check failed: " #condition ". "
#define CHECK_OP(name, op, a, b) CHECK((a)op(b))
#define CHECK_EQ(a, b) CHECK_OP(EQ, ==, a, b)
#define CHECK_NE(a, b) CHECK_OP(NE, !=, a, b)
#define CHECK_LE(a, b) CHECK_OP(LE, <=, a, b)
#define CHECK_LT(a, b) CHECK_OP(LT, <, a, b)
#define CHECK_GE(a, b) CHECK_OP(GE, >=, a, b)
#define CHECK_GT(a, b) CHECK_OP(GT, >, a, b)

#if DCHECK_IS_ON()
#define DLOG(severity) LOG(severity)
#define DLOG_IF(severity, condition) LOG_IF(severity, condition)
#define DVLOG(verbose_level) VLOG(verbose_level)
#define DPLOG(severity) PLOG(severity)
#define DCHECK(condition) CHECK(condition)
#define DPCHECK(condition) PCHECK(condition)
#else
// Compiled (so the expressions stay valid) but never evaluated.
#define DLOG(severity) LAZY_STREAM(LOG_STREAM(severity), false)
#define DLOG_IF(severity, condition) LAZY_STREAM(LOG_STREAM(severity), false && (condition))
#define DVLOG(verbose_level) LAZY_STREAM(LOG_STREAM(INFO), false && (verbose_level))
#define DPLOG(severity) LAZY_STREAM(PLOG_STREAM(severity), false)
#define DCHECK(condition) LAZY_STREAM(LOG_STREAM(FATAL), false && !(condition))
#define DPCHECK(condition) DCHECK(condition)
#endif
#define DCHECK_EQ(a, b) DCHECK((a) == (b))
#define DCHECK_NE(a, b) DCHECK((a) != (b))
#define DCHECK_LE(a, b) DCHECK((a) <= (b))
#define DCHECK_LT(a, b) DCHECK((a) < (b))
#define DCHECK_GE(a, b) DCHECK((a) >= (b))
#define DCHECK_GT(a, b) DCHECK((a) > (b))

#define NOTREACHED() DCHECK(false)
#define NOTIMPLEMENTED() LOG(ERROR) << "NOT IMPLEMENTED"

#endif  // BASE_LOGGING_H_
