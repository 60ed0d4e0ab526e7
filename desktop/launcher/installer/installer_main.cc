#include "desktop/launcher/installer/installer_main.h"

#include <windows.h>

#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <memory>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/values.h"
#include "base/win/native_library.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/installer_log_file.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/roles/carried_library_removal.h"
#include "desktop/launcher/installer/roles/download_folder.h"
#include "desktop/launcher/installer/roles/folder_permission.h"
#include "desktop/launcher/installer/roles/installer_help.h"
#include "desktop/launcher/installer/roles/installer_roles.h"
#include "desktop/launcher/installer/roles/probe_command_line.h"
#include "desktop/launcher/installer/service/own_executable.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/windows/crash_reporter/client/crash_client_startup.h"

namespace zorvi::installer {

namespace {


// Bit 0 of the process's user-mode exception policy lets the system swallow exceptions raised in window
// procedures that the kernel called back; cleared, they reach the crash handler.
constexpr DWORD kSwallowCallbackExceptionsFlag = 0x1;
using GetExceptionPolicyFunction = BOOL(WINAPI*)(LPDWORD);
using SetExceptionPolicyFunction = BOOL(WINAPI*)(DWORD);

struct RoleFlags {
  bool backend = false;
  bool uninstall = false;
  bool silent = false;
  bool run_immediately = false;
  bool autoupdate = false;
  bool replace_kadro_installation = false;
};

const std::string& ProductName() {
  static const std::string* const product_name = new std::string(GetProductName());
  return *product_name;
}

// Installer processes probe a copy of the installer and read its answer, so nothing but the value is written
// and nothing else is set up first. `probe` is one of the probe switches.
void PrintProbeAnswer(const std::string& probe) {
  const std::string value = probe == kVersionSwitch           ? GetFullVersionString()
                            : probe == kInternalVersionSwitch ? GetInternalVersion()
                                                              : GetStreamName();
  PrintToConsole("%s", value.c_str());
  fflush(stdout);
}

// A command line with several probe switches gets the answer of the first in this order.
bool AnswerProbe(const base::CommandLine& command_line) {
  for (const char* probe : {kVersionSwitch, kInternalVersionSwitch, kStreamSwitch}) {
    if (command_line.HasSwitch(probe)) {
      PrintProbeAnswer(probe);
      return true;
    }
  }
  return false;
}

// Only 64-bit Windows 7 and later have the policy functions.
void LetCallbackExceptionsReachTheCrashHandler() {
  const base::win::ScopedNativeLibrary kernel32(LoadLibraryA("kernel32.dll"));
  const auto get_policy = reinterpret_cast<GetExceptionPolicyFunction>(
      kernel32.GetFunctionPointer("GetProcessUserModeExceptionPolicy"));
  const auto set_policy = reinterpret_cast<SetExceptionPolicyFunction>(
      kernel32.GetFunctionPointer("SetProcessUserModeExceptionPolicy"));
  DWORD flags = 0;
  if (get_policy && set_policy && get_policy(&flags))
    set_policy(flags & ~kSwallowCallbackExceptionsFlag);
}

void StartCrashClient() {
  uint32_t reporter_process_id = GetCrashReporterPidFromSwitch();
  if (!reporter_process_id)
    reporter_process_id = StartCrashReporter();
  SetCrashReporterProcessId(reporter_process_id);
  if (reporter_process_id)
    InitCrashReporterClient();
  SetInstallerCrashKeys();
}

void StartLogging() {
  const base::FilePath log_file = GetLinkFreeLogFile(GetInstallerLogFilePath());
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_TO_FILE;
  settings.log_file = log_file.value().c_str();
  // A file of the same name can only come from another installer process started in the same second (the
  // controller and the backend it starts, when the controller has already ended): deleting it would lose that
  // process's log, so both write into one file.
  settings.delete_old = logging::APPEND_TO_OLD_LOG_FILE;
  logging::InitLogging(settings);
  LOG(INFO) << FormatWithProductName("%s installer starting - version ", false) << GetFullVersionString() << " "
            << GetStreamName();
  LOG(INFO) << "Command line: " << base::CommandLine::ForCurrentProcess()->GetCommandLineString();
}

RoleFlags ReadRoleFlags(const base::CommandLine& command_line) {
  RoleFlags flags;
  flags.backend = command_line.HasSwitch(kBackendSwitch);
  flags.uninstall = command_line.HasSwitch(kUninstallSwitch);
  flags.silent = command_line.HasSwitch(kSilentSwitch);
  flags.run_immediately = command_line.HasSwitch(kRunImmediatelySwitch);
  flags.autoupdate = command_line.HasSwitch(kAutoupdateSwitch);
  flags.replace_kadro_installation = command_line.HasSwitch(kReplaceKadroInstallationSwitch);
  return flags;
}

bool FindOwnFiles(base::FilePath* own_folder, base::FilePath* own_executable) {
  if (!base::PathService::Get(base::kExeDir, own_folder)) {
    LOG(ERROR) << "Cannot find own dir";
    return false;
  }
  if (!base::PathService::Get(base::kExeFile, own_executable)) {
    LOG(ERROR) << "Cannot find own file path";
    return false;
  }
  return true;
}

// An uninstallation runs the installer kept in the installation, so its folder must hold the launcher. Otherwise
// the installer is the one of an unpacked package when its folder holds the launcher and the file list.
bool FindWhetherInsidePackage(bool uninstall, const base::FilePath& own_folder, const base::FilePath& own_executable,
                              bool* inside_package) {
  const bool holds_launcher = base::PathExists(own_folder.Append(base::UTF8ToWide(GetLauncherExeName())));
  if (uninstall) {
    if (!holds_launcher) {
      LOG(ERROR) << "Requested to uninstall, but we are not in a valid installation folder";
      return false;
    }
    *inside_package = true;
    return true;
  }
  // Only the installer inside an unpacked package carries exactly this name; a renamed copy does not count.
  *inside_package = holds_launcher && base::PathExists(own_folder.Append(kFilesListFileName)) &&
                    own_executable.BaseName().value() == kPackageInstallerFileName;
  return true;
}

// An autoupdate started by the earlier engine passes "--installfolder=" with the folder as a separate last
// argument, and expects the progress to be shown.
base::FilePath ReadInstallFolder(const base::CommandLine& command_line, RoleFlags* flags) {
  if (!command_line.HasSwitch(kInstallFolderSwitch))
    return base::FilePath();
  base::FilePath folder = command_line.GetSwitchValuePath(kInstallFolderSwitch);
  LOG(INFO) << "Install folder from command line: " << folder.value();
  if (folder.empty() && flags->autoupdate) {
    LOG(INFO) << "It looks like we are autoupdating from Z12.";
    folder = GetInstallFolderFromLastArgument(command_line);
    LOG(INFO) << "Recovered install folder from command line: " << folder.value();
    if (flags->silent && !folder.empty()) {
      LOG(INFO) << "Configuring for Z12 autoupdate.";
      flags->silent = false;
      flags->run_immediately = true;
    }
  }
  return folder;
}

void LogRoleFlags(const RoleFlags& flags, bool inside_package) {
  LOG(INFO) << "Uninstall:" << int{flags.uninstall};
  LOG(INFO) << "Replace Kadro installation:" << int{flags.replace_kadro_installation};
  LOG(INFO) << "Silent:" << int{flags.silent};
  LOG(INFO) << "Run Immediately" << int{flags.run_immediately};
  LOG(INFO) << "Backend" << int{flags.backend};
  LOG(INFO) << "Inside package" << int{inside_package};
  LOG(INFO) << "Autoupdate:" << int{flags.autoupdate};
}

// An uninstallation keeps the experiment states the installation was made with; any other run takes them from
// its switches.
void ReadExperiments(bool uninstall) {
  base::FeatureList* features = base::FeatureList::GetInstance();
  if (uninstall) {
    VLOG(1) << "Retrieving experiment states from installation folder...";
    // The installation's preferences as its information read them at the start.
    const base::scoped_refptr<JsonPrefStore> prefs = InstallationInfo::GetInstance()->GetPrefStore();
    const base::Value* experiments = nullptr;
    if (prefs->GetValue(kInstallerExperimentsPref, &experiments)) {
      const base::ListValue* list = nullptr;
      experiments->GetAsList(&list);
      features->InitializeFromReader(base::ListFeatureReader(list));
      VLOG(1) << "Retrieved experiment states from installation folder";
    }
  } else {
    features->InitializeFromReader(base::CommandLineFeatureReader(base::CommandLine::ForCurrentProcess()));
    VLOG(1) << "Obtained experiment states from command line";
  }
  if (features->IsFeatureEnabled(kTestExperimentFeature))
    LOG(INFO) << "Test experiment is enabled";
}

// The folder the controllers download and unpack the package into. A folder handed down on the command line is
// taken untested, but the installer's own folder in it is made when missing: the package, the UI lock and the
// unpacked files are written into it. An empty or relative one is none: the package's installer and an elevated
// helper, which start in other current folders, would look for the package elsewhere.
bool GetDownloadFolder(const base::FilePath& own_executable, base::FilePath* folder) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(kTempFolderSwitch)) {
    const base::FilePath handed_down = command_line.GetSwitchValuePath(kTempFolderSwitch);
    if (handed_down.IsAbsolute()) {
      VLOG(1) << "Using download folder from command line";
      *folder = handed_down;
      if (TryDownloadFolder(GetInstallerTitle(), base::FilePath(), folder))
        return true;
      PLOG(ERROR) << "Cannot create the download folder " << folder->value();
      return false;
    }
    LOG(WARNING) << "Ignoring download folder from command line, not an absolute path: " << handed_down.value();
  }
  return ChooseDownloadFolder(GetInstallerTitle(), own_executable, folder);
}

bool RunController(const RoleFlags& flags, bool inside_package, const base::FilePath& own_executable,
                   Settings* settings, UIControllerRole ui_role) {
  base::FilePath download_folder;
  if (!GetDownloadFolder(own_executable, &download_folder)) {
    LOG(ERROR) << "Could not obtain temporary installer folder";
    return false;
  }
  LOG(INFO) << "Installer download folder: " << download_folder.value();
  bool result = false;
  if (flags.silent) {
    VLOG(2) << "Running silent controller";
    result = RunSilentControllerRole(settings, inside_package, download_folder);
  } else {
    VLOG(2) << "Running UI controller";
    result = ui_role(settings, inside_package, download_folder, flags.run_immediately);
  }
  // Removes the folder only when the controller left nothing in it.
  RemoveDirectoryW(download_folder.value().c_str());
  return result;
}

// An installer run: the backend or one of the two controllers, on this thread's message loop.
bool RunInstallerRole(UIControllerRole ui_role) {
  StartLogging();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  RoleFlags flags = ReadRoleFlags(command_line);
  base::FilePath own_folder;
  base::FilePath own_executable;
  if (!FindOwnFiles(&own_folder, &own_executable))
    return false;
  bool inside_package = false;
  if (!FindWhetherInsidePackage(flags.uninstall, own_folder, own_executable, &inside_package))
    return false;
  const base::FilePath install_folder = ReadInstallFolder(command_line, &flags);
  LogRoleFlags(flags, inside_package);

  CHECK(!base::MessageLoop::current()) << "The installer's thread already has a message loop";
  // The backend and the silent installer show no window; the others need the thread's message queue.
  const bool shows_windows = !flags.backend && !flags.silent;
  VLOG(1) << (shows_windows ? "Using UI message loop" : "Using default message loop");
  auto message_loop =
      std::make_unique<base::MessageLoop>(shows_windows ? base::MessageLoop::TYPE_UI : base::MessageLoop::TYPE_DEFAULT);
  // Preference files still being written must reach the disk before the process ends.
  PrefsTaskPool::GetInstance()->SetWaitForUsersAtShutdown(true);
  ReadExperiments(flags.uninstall);
  const HRESULT com_result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  VLOG(2) << "Instanciating settings";
  auto settings = std::make_unique<Settings>(flags.uninstall, flags.silent, flags.autoupdate, install_folder,
                                             flags.replace_kadro_installation);

  bool result = false;
  if (flags.backend) {
    VLOG(2) << "Running backend";
    result = RunBackendRole(settings.get());
  } else {
    result = RunController(flags, inside_package, own_executable, settings.get(), ui_role);
  }

  settings.reset();
  if (SUCCEEDED(com_result))
    CoUninitialize();
  message_loop.reset();
  return result;
}

// Everything after the probes; the at-exit manager's clean-ups run, last registered first, as this returns.
bool RunInstallerWithAtExitManager(UIControllerRole ui_role) {
  base::AtExitManager at_exit_manager;
  const CarriedLibraryRemoval removal_at_end;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  // The crash reporter reports crashes of other processes and has no crash client of its own.
  if (command_line.HasSwitch(kCrashReporterParentIdSwitch))
    return RunCrashReporterRole();
  LetCallbackExceptionsReachTheCrashHandler();
  StartCrashClient();
  RegisterInstallerFeatures(base::FeatureList::GetInstance());
  const base::FilePath installation_folder = InstallationInfo::GetInstance()->install_folder();
  if (command_line.HasSwitch(kHelpSwitch) || command_line.HasSwitch(kHelpShortSwitch)) {
    PrintInstallerHelp();
    return true;
  }
  if (command_line.HasSwitch(kSetFolderPermissionSwitch))
    return RunFolderPermissionRole(installation_folder);
  return RunInstallerRole(ui_role);
}

}  // namespace

void PrintToConsole(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vprintf(format, arguments);
  va_end(arguments);
}

std::string FormatWithProductName(const char* format, bool lower_case) {
  return base::StringPrintf(format, lower_case ? base::ToLowerASCII(ProductName()).c_str() : ProductName().c_str());
}

std::wstring GetInstallerTitle() {
  return base::UTF8ToWide(FormatWithProductName("%s Installer", false));
}

base::FilePath GetInstallFolderFromLastArgument(const base::CommandLine& command_line) {
  const base::FilePath last(command_line.argv().back());
  return last.IsAbsolute() ? last : base::FilePath();
}

base::FilePath GetInstallerLogFilePath() {
  base::Time::Exploded now;
  base::Time::Now().LocalExplode(&now);
  const std::wstring name = base::UTF8ToWide(FormatWithProductName("%s_installer", true)) +
                            base::StringPrintf(L"_%02d%02d%02d%02d%02d%02d.log", now.year, now.month,
                                               now.day_of_month, now.hour, now.minute, now.second);
  base::FilePath folder;
  if (TryDownloadFolderUnderPathKey(GetInstallerTitle(), base::FilePath(), &folder, base::kTempDir))
    return folder.Append(name);
  return base::FilePath(name);
}

bool RunInstallerProcess(UIControllerRole ui_role) {
  // Answered before the command line is split, which would load libraries a probe does not need.
  const std::string plain_probe = PlainProbeSwitch(GetCommandLineW());
  if (!plain_probe.empty()) {
    PrintProbeAnswer(plain_probe);
    return true;
  }
  base::CommandLine::Init();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (AnswerProbe(command_line))
    return true;
  // Held before anything is read from it or started from its path. An uninstallation runs the installer kept in
  // the installation, which it removes: that folder is the installation's own.
  if (!command_line.HasSwitch(kUninstallSwitch) && !HoldOwnExecutable()) {
    fprintf(stderr, "Cannot hold the installer's own file (error %lu)\n", GetLastError());
    return false;
  }
  return RunInstallerWithAtExitManager(ui_role);
}

}  // namespace zorvi::installer
