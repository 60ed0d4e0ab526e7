#include "desktop/windows/crash_reporter/reporter/crash_reporter_log.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_local.h"
#include "desktop/common/product/product_info.h"

namespace zorvi {
namespace installer {
namespace {

constexpr char kReporterLogSuffix[] = "_crashreporter.log";
// GetTempPathW's answer and the name together must fit this many characters.
constexpr DWORD kTempPathBufferLength = MAX_PATH + 1;

constinit base::LazyInstance<base::ThreadLocalPointer<CrashLogSink>>::Leaky g_current_sink;

// The reporter log's path; empty without a usable temporary folder.
std::wstring ReporterLogPath() {
  const std::wstring name = base::ASCIIToUTF16(base::ToLowerASCII(GetProductName()) + kReporterLogSuffix);
  wchar_t folder[kTempPathBufferLength];
  const DWORD length = GetTempPathW(kTempPathBufferLength, folder);
  if (length == 0 || length + name.size() > kTempPathBufferLength)
    return std::wstring();
  return std::wstring(folder, length) + name;  // the folder ends in a separator
}

}  // namespace

void InitCrashReporterLogging() {
  g_current_sink.Get();
  const std::wstring path = ReporterLogPath();
  logging::LoggingSettings settings;
  settings.logging_dest = path.empty() ? logging::LOG_TO_SYSTEM_DEBUG_LOG : logging::LOG_TO_FILE;
  settings.log_file = path.c_str();
  settings.delete_old = logging::DELETE_OLD_LOG_FILE;
  logging::InitLogging(settings);
  logging::SetLogItems(true, true, true, true);
  logging::SetLogMessageHandler(&CrashLogMessageHandler);
  logging::SetMinLogLevel(logging::LOG_INFO);
}

bool CrashLogMessageHandler(int, const char* file, int line, size_t message_start, const std::string& text) {
  CrashLogSink* sink = g_current_sink.Get().Get();
  if (!sink)
    return false;
  // The compiler may spell the source path with either separator.
  const char* last_separator = std::max(strrchr(file, '\\'), strrchr(file, '/'));
  const std::string prefix = std::string(last_separator ? last_separator + 1 : file) + ":" + std::to_string(line) + ":";
  sink->Write(prefix.data(), prefix.size());
  if (message_start < text.size())
    sink->Write(text.data() + message_start, text.size() - message_start);
  return true;
}

CrashLogSink::CrashLogSink() : previous_(g_current_sink.Get().Get()) {
  g_current_sink.Get().Set(this);
}

CrashLogSink::~CrashLogSink() {
  g_current_sink.Get().Set(previous_);
}

void CrashLogSink::Write(const char* text, size_t size) {
  text_.write(text, static_cast<std::streamsize>(size));
}

bool CrashLogSink::AppendToFile(const base::FilePath& path) {
  const std::string text = text_.str();
  if (text.empty())
    return true;
  FILE* file = _wfopen(path.value().c_str(), L"at");
  if (!file)
    return false;
  const bool written =
      fputs("\nCrash Logger:\n", file) >= 0 && fwrite(text.data(), 1, text.size(), file) == text.size();
  if (fclose(file) != 0 || !written)
    return false;
  text_.str(std::string());
  text_.clear();
  return true;
}

}  // namespace installer
}  // namespace zorvi
