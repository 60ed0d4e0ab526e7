#include "desktop/windows/crash_reporter/reporter/crash_files.h"

#include <windows.h>

#include <atomic>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/lazy_instance.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"

namespace zorvi {
namespace installer {
namespace {

// Set during the reporter's start-up, before any crash is handled, and only read afterwards.
struct CrashPaths {
  base::FilePath crash_folder;
  base::FilePath counter_file;
  base::FilePath crash_id_file;
  base::FilePath browser_state_file;
  bool folder_from_environment = false;
};

constinit base::LazyInstance<CrashPaths>::Leaky g_paths;
std::atomic<uint32_t> g_crash_sequence_number{0};

// The buffer the variable is read into: a value must be shorter than this to count.
constexpr DWORD kVariableBufferLength = MAX_PATH;

base::FilePath AnswerOf(int key) {
  base::FilePath path;
  base::PathService::Get(key, &path);
  return path;
}

// The crash folder the environment names, or an empty path when it names none that can be used.
base::FilePath CrashFolderFromEnvironment() {
  wchar_t buffer[kVariableBufferLength];
  const DWORD length =
      GetEnvironmentVariableW(base::ASCIIToUTF16(kCrashLogDirVariable).c_str(), buffer, kVariableBufferLength);
  if (length == 0 || length >= kVariableBufferLength)
    return base::FilePath();
  const base::FilePath folder(std::wstring(buffer, length));
  return base::CreateDirectory(folder) ? folder : base::FilePath();
}

}  // namespace

bool InitCrashFolders() {
  CrashPaths& paths = g_paths.Get();
  paths = CrashPaths();
  if (base::CommandLine::IsInitialized() && base::CommandLine::ForCurrentProcess()->HasSwitch(kUserDataDirSwitch)) {
    base::PathService::OverrideAndCreateIfNeeded(
        kUserDataDirKey, base::CommandLine::ForCurrentProcess()->GetSwitchValuePath(kUserDataDirSwitch), false, true);
  }
  paths.counter_file = AnswerOf(kCrashCounterFileKey);
  paths.browser_state_file = AnswerOf(kBrowserStateFileKey);
  paths.crash_id_file = AnswerOf(kCrashIdFileKey);

  const base::FilePath folder = CrashFolderFromEnvironment();
  if (!folder.empty()) {
    paths.crash_folder = folder;
    // The crash id file moves into that folder; without an answer for its key there is no such file at all
    // (the folder itself with nothing appended would name a file beside the crash folder).
    if (!paths.crash_id_file.empty())
      paths.crash_id_file = folder.Append(paths.crash_id_file.BaseName());
    paths.folder_from_environment = true;
  }
  if (paths.crash_folder.empty())
    return base::GetTempDir(&paths.crash_folder);
  return true;
}

base::FilePath GetCrashFolder() {
  return g_paths.Get().crash_folder;
}

base::FilePath GetCrashCounterFilePath() {
  return g_paths.Get().counter_file;
}

base::FilePath GetBrowserStateFilePath() {
  return g_paths.Get().browser_state_file;
}

bool IsCrashLogFolderFromEnvironment() {
  return g_paths.Get().folder_from_environment;
}

base::FilePath GetCrashIdFilePath(uint32_t sequence_number) {
  const CrashPaths& paths = g_paths.Get();
  if (!paths.folder_from_environment || paths.crash_id_file.empty())
    return paths.crash_id_file;
  return paths.crash_id_file.InsertBeforeExtensionASCII(
      base::StringPrintf("-%u-%lu", static_cast<unsigned>(GetCurrentProcessId()),
                         static_cast<unsigned long>(sequence_number)));
}

uint32_t TakeCrashSequenceNumber() {
  return ++g_crash_sequence_number;
}

std::string FormatCrashFileName(uint32_t sequence_number, const char* extension) {
  return base::StringPrintf("%s-crashlog-%u-%lu%s", base::ToLowerASCII(GetBrandingProductName()).c_str(),
                            static_cast<unsigned>(GetCurrentProcessId()),
                            static_cast<unsigned long>(sequence_number), extension);
}

std::string GetCrashLogFileName(uint32_t sequence_number) {
  return FormatCrashFileName(sequence_number, ".txt");
}

std::string GetCrashDumpFileName(uint32_t sequence_number) {
  return FormatCrashFileName(sequence_number, ".dmp");
}

}  // namespace installer
}  // namespace zorvi
