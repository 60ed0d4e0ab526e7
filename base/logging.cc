#include "base/logging.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>

#include "base/command_line.h"
#include "base/debug/alias.h"
#include "base/files/file_path.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/vlog.h"

namespace logging {
namespace {

const char* const kSeverityNames[LOG_NUM_SEVERITIES] = {"INFO", "WARNING", "ERROR", "FATAL"};

// Process-wide settings. They are set during start-up, before other threads log.
uint32_t g_logging_destination = LOG_TO_FILE;
int g_min_log_level = 0;
bool g_log_process_id = false;
bool g_log_thread_id = false;
bool g_log_timestamp = true;
bool g_log_tickcount = false;
// Set and cleared while other threads log: each message reads it once.
std::atomic<LogMessageHandlerFunction> g_log_message_handler{nullptr};

// Made by InitLogging when a verbosity switch is present. A replaced one is kept (never freed): another thread
// may still be reading it.
std::atomic<VlogInfo*> g_vlog_info{nullptr};
VlogInfo* g_vlog_info_prev = nullptr;


// The log file. Opening and closing take the lock exclusively; a write holds it shared, so that InitLogging on
// another thread cannot close the handle under the write.
SRWLOCK g_log_file_lock = SRWLOCK_INIT;
std::wstring* g_log_file_name = nullptr;
HANDLE g_log_file = nullptr;

const wchar_t kDefaultLogFileName[] = L"debug.log";

// "debug.log" in the folder of the process's executable.
std::wstring GetDefaultLogFile() {
  wchar_t module_name[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, module_name, MAX_PATH);
  std::wstring log_file(module_name, length < MAX_PATH ? length : 0);
  std::wstring::size_type last_backslash = log_file.rfind(L'\\');
  if (last_backslash != std::wstring::npos)
    log_file.erase(last_backslash + 1);
  log_file += kDefaultLogFileName;
  return log_file;
}

// Opens the log file as itself and refuses a link (a reparse point) or a file with other names (a hard link): a
// process with more rights than whoever could plant one there would otherwise write into a file of the planter's
// choosing.
HANDLE OpenLogFileForAppend(const std::wstring& name) {
  // Reading is asked for only because taking a byte-range lock needs it.
  HANDLE file = CreateFileW(name.c_str(), FILE_APPEND_DATA | FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return nullptr;
  BY_HANDLE_FILE_INFORMATION information;
  // Where a link is opened as what it leads to, only its name shows it.
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (!GetFileInformationByHandle(file, &information) || (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      information.nNumberOfLinks != 1 || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    CloseHandle(file);
    return nullptr;
  }
  return file;
}

// Opens the log file on first need; true when it is open or not wanted. Call with the lock held.
bool InitializeLogFileHandleLocked() {
  if (g_log_file)
    return true;
  if (!g_log_file_name)
    g_log_file_name = new std::wstring(GetDefaultLogFile());
  if ((g_logging_destination & LOG_TO_FILE) == 0)
    return true;
  g_log_file = OpenLogFileForAppend(*g_log_file_name);
  if (!g_log_file) {
    // The executable's folder may not be writable: fall back to the current directory.
    wchar_t current_directory[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, current_directory);
    if (length == 0 || length >= MAX_PATH)
      return false;
    *g_log_file_name =
        base::FilePath(base::StringPiece16(current_directory, length)).Append(kDefaultLogFileName).value();
    g_log_file = OpenLogFileForAppend(*g_log_file_name);
  }
  return g_log_file != nullptr;
}

// Writes one message to the log file, opening it on first need.
void WriteToLogFile(const std::string& text) {
  AcquireSRWLockShared(&g_log_file_lock);
  HANDLE file = g_log_file;
  if (!file) {
    ReleaseSRWLockShared(&g_log_file_lock);
    AcquireSRWLockExclusive(&g_log_file_lock);
    InitializeLogFileHandleLocked();
    ReleaseSRWLockExclusive(&g_log_file_lock);
    AcquireSRWLockShared(&g_log_file_lock);
    file = g_log_file;
  }
  if (file) {
    // One append-mode write per message keeps lines from different threads whole. Processes that share the file
    // (an installer and the backend it starts within the same second) also take turns through a lock on one byte
    // far beyond any data, which no reader meets: where appending is emulated by writing at the end that the
    // writer last saw, two processes' lines would otherwise land on the same place.
    OVERLAPPED turn = {};
    turn.Offset = 0xFFFFFFFE;
    turn.OffsetHigh = 0x7FFFFFFF;
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (locked)
      UnlockFileEx(file, 0, 1, 0, &turn);
  }
  ReleaseSRWLockShared(&g_log_file_lock);
}

// -level without overflow.
int NegateLevel(int level) {
  return level == INT_MIN ? INT_MAX : -level;
}

void CloseLogFileLocked() {
  if (g_log_file) {
    CloseHandle(g_log_file);
    g_log_file = nullptr;
  }
}

}  // namespace

bool InitLogging(const LoggingSettings& settings) {
  if (base::CommandLine::IsInitialized()) {
    const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
    if (command_line.HasSwitch(kVSwitch) || command_line.HasSwitch(kVModuleSwitch)) {
      // At most two initialisations with these switches: the replaced information is never freed.
      CHECK(!g_vlog_info_prev) << "Verbose logging set up more than twice";
      g_vlog_info_prev = g_vlog_info.load(std::memory_order_relaxed);
      g_vlog_info.store(new VlogInfo(command_line.GetSwitchValueASCII(kVSwitch),
                                     command_line.GetSwitchValueASCII(kVModuleSwitch), &g_min_log_level),
                        std::memory_order_release);
    }
  }

  g_logging_destination = settings.logging_dest;
  if ((g_logging_destination & LOG_TO_FILE) == 0)
    return true;

  AcquireSRWLockExclusive(&g_log_file_lock);
  CloseLogFileLocked();
  if (!g_log_file_name)
    g_log_file_name = new std::wstring();
  *g_log_file_name = settings.log_file ? settings.log_file : GetDefaultLogFile();
  if (settings.delete_old == DELETE_OLD_LOG_FILE)
    DeleteFileW(g_log_file_name->c_str());
  bool result = InitializeLogFileHandleLocked();
  ReleaseSRWLockExclusive(&g_log_file_lock);
  return result;
}

void SetMinLogLevel(int level) {
  g_min_log_level = std::min(LOG_FATAL, level);
}

int GetMinLogLevel() {
  return g_min_log_level;
}

void SetLogItems(bool enable_process_id, bool enable_thread_id, bool enable_timestamp, bool enable_tickcount) {
  g_log_process_id = enable_process_id;
  g_log_thread_id = enable_thread_id;
  g_log_timestamp = enable_timestamp;
  g_log_tickcount = enable_tickcount;
}

void SetLogMessageHandler(LogMessageHandlerFunction handler) {
  g_log_message_handler = handler;
}

LogMessageHandlerFunction GetLogMessageHandler() {
  return g_log_message_handler;
}

bool ShouldCreateLogMessage(int severity) {
  if (severity < g_min_log_level)
    return false;
  return g_logging_destination != LOG_NONE || g_log_message_handler || severity >= LOG_ERROR;
}

int GetVlogLevelHelper(const char* file, size_t size) {
  const VlogInfo* vlog_info = g_vlog_info.load(std::memory_order_acquire);
  if (vlog_info)
    return vlog_info->GetVlogLevel(base::StringPiece(file, size > 0 ? size - 1 : 0));  // size counts the NUL
  return std::max(-1, NegateLevel(g_min_log_level));
}

SystemErrorCode GetLastSystemError() {
  return ::GetLastError();
}

std::string SystemErrorCodeToString(SystemErrorCode error_code) {
  const DWORD saved_error = GetLastError();
  // FormatMessageW counts its buffer in characters.
  wchar_t message[256];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      error_code, 0, message, ARRAYSIZE(message), nullptr);
  std::string text;
  if (length) {
    text = base::CollapseWhitespace(base::WideToUTF8(base::StringPiece16(message, length)), true) +
           base::StringPrintf(" (0x%lX)", error_code);
  } else {
    text = base::StringPrintf("Error (0x%lX) while retrieving error. (0x%lX)", GetLastError(), error_code);
  }
  SetLastError(saved_error);
  return text;
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : severity_(severity), file_(file), line_(line), last_error_(GetLastSystemError()) {
  Init(file, line);
}

LogMessage::LogMessage(const char* file, int line, const char* condition)
    : severity_(LOG_FATAL), file_(file), line_(line), last_error_(GetLastSystemError()) {
  Init(file, line);
  stream_ << "Check failed: " << condition << ". ";
}

void LogMessage::Init(const char* file, int line) {
  const char* last_slash = std::max(strrchr(file, '\\'), strrchr(file, '/'));
  const char* filename = last_slash ? last_slash + 1 : file;

  stream_ << '[';
  if (g_log_process_id)
    stream_ << GetCurrentProcessId() << ':';
  if (g_log_thread_id)
    stream_ << GetCurrentThreadId() << ':';
  if (g_log_timestamp) {
    SYSTEMTIME local;
    GetLocalTime(&local);
    char stamp[32];
    snprintf(stamp, sizeof(stamp), "%02d%02d/%02d%02d%02d:", local.wMonth, local.wDay, local.wHour, local.wMinute,
             local.wSecond);
    stream_ << stamp;
  }
  if (g_log_tickcount)
    stream_ << GetTickCount() << ':';
  if (severity_ >= 0 && severity_ < LOG_NUM_SEVERITIES)
    stream_ << kSeverityNames[severity_];
  else if (severity_ < 0)
    stream_ << "VERBOSE" << -severity_;
  else
    stream_ << "UNKNOWN";
  stream_ << ':' << filename << '(' << line << ")] ";
  message_start_ = stream_.tellp();
}

LogMessage::~LogMessage() {
  stream_ << std::endl;
  const std::string text = stream_.str();

  const LogMessageHandlerFunction handler = g_log_message_handler;
  if (!handler || !handler(severity_, file_, line_, message_start_, text)) {
    if (g_logging_destination & LOG_TO_SYSTEM_DEBUG_LOG)
      OutputDebugStringA(text.c_str());
    if ((g_logging_destination & LOG_TO_SYSTEM_DEBUG_LOG) || severity_ >= LOG_ERROR) {
      fwrite(text.data(), text.size(), 1, stderr);
      fflush(stderr);
    }
    if (g_logging_destination & LOG_TO_FILE)
      WriteToLogFile(text);
  }
  if (severity_ == LOG_FATAL) {
    // A handler decides where the text goes, never whether the process goes on: the code after a failed check
    // runs in a state it has proven impossible. The trap reaches the crash handler.
    // Keep the message on the stack, where a crash dump shows it.
    char message_copy[1024];
    size_t copied = std::min(text.size(), sizeof(message_copy) - 1);
    memcpy(message_copy, text.data(), copied);
    message_copy[copied] = '\0';
    base::debug::DebugAlias(message_copy);
    base::debug::BreakDebugger();
  }
  SetLastError(last_error_);
}

Win32ErrorLogMessage::Win32ErrorLogMessage(const char* file, int line, LogSeverity severity, SystemErrorCode error)
    : error_(error), log_message_(file, line, severity) {}

Win32ErrorLogMessage::~Win32ErrorLogMessage() {
  stream() << ": " << SystemErrorCodeToString(error_);
  DWORD error = error_;
  base::debug::DebugAlias(&error);
}

std::ostream& operator<<(std::ostream& out, const wchar_t* wide) {
  if (wide)
    out << base::WideToUTF8(base::StringPiece16(wide));
  return out;
}

std::ostream& operator<<(std::ostream& out, const std::wstring& wide) {
  return out << base::WideToUTF8(wide);
}

std::ostream& operator<<(std::ostream& out, base::StringPiece16 wide) {
  return out << base::WideToUTF8(wide);
}

}  // namespace logging
