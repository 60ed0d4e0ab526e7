#include "testing/installer/installer_test_seams_from_environment.h"

#include <windows.h>

#include <cstdio>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"

#include "base/strings/string_util.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/roles/elevation.h"
#include "desktop/windows/crash_reporter/client/crash_client_startup.h"
#include "desktop/windows/crash_reporter/client/crash_server_client.h"
#include "desktop/windows/crash_reporter/reporter/crash_url.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/installer/recording_task_scheduler.h"
#include "testing/test_support.h"

namespace test_support {

namespace {

using namespace zorvi::installer;

bool SetAdminToken(const std::wstring& value) {
  if (value == L"standard")
    SetAdminTokenSeamForTesting(AdminTokenSeam::kStandardUser);
  else if (value == L"split")
    SetAdminTokenSeamForTesting(AdminTokenSeam::kSplitAdministrator);
  else
    return false;
  return true;
}

bool SetBrandingFile(const std::wstring& value) {
  std::string text;
  if (!ReadFileBytes(value, &text))
    return false;
  SetBrandingTextForTesting(text);
  return true;
}

// Keeps a seam's value, which must not be empty, in *target and sets the hook that uses it.
template <typename Hook>
bool KeepAndHook(const std::wstring& value, std::wstring* target, void (*set_hook)(Hook), Hook hook) {
  if (value.empty())
    return false;
  *target = value;
  set_hook(hook);
  return true;
}

// The step at which hold-at-step holds the installation, the events through which it meets its test, and how long
// it waits at most for each (only a hang reaches that).
int g_hold_at_step = 0;
std::wstring g_hold_events;
// Where the hold writes this process's id once it holds, for a test outside wine that has no event to wait on.
std::wstring g_held_file;
constexpr DWORD kHoldLimitMs = 60 * 1000;

// Sets the event `name` of the test, or waits until the test sets it; `seam` names the seam in the log.
void WaitForEvent(const char* seam, const std::wstring& name, bool signal) {
  HANDLE event = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str());
  if (!event) {
    fprintf(stderr, "%s: no event %ls\n", seam, name.c_str());
    return;
  }
  if (signal)
    SetEvent(event);
  else if (WaitForSingleObject(event, kHoldLimitMs) != WAIT_OBJECT_0)
    fprintf(stderr, "%s: %ls was not set within %lu ms\n", seam, name.c_str(), kHoldLimitMs);
  CloseHandle(event);
}

// Holds the installation after its chosen step: it sets "<events>/held", waits for "<events>/go" (the test
// has what it needs of this process), then waits until its controller stopped it (the interrupted event) or
// ended (the process named by "initial-pid"), and has the Installer take the interruption there.
bool HoldAtStep(int steps_reported, HANDLE interrupted_event) {
  if (steps_reported != g_hold_at_step)
    return false;
  if (!g_held_file.empty()) {
    // Whole or not at all: written aside, then renamed into place.
    const std::wstring aside = g_held_file + L".tmp";
    FILE* file = _wfopen(aside.c_str(), L"wb");
    const bool written = file && fprintf(file, "%lu\n", GetCurrentProcessId()) > 0;
    if (!(file && fclose(file) == 0 && written && MoveFileExW(aside.c_str(), g_held_file.c_str(), MOVEFILE_REPLACE_EXISTING)))
      fprintf(stderr, "held-file: cannot write %ls\n", g_held_file.c_str());
  }
  if (!g_hold_events.empty()) {
    WaitForEvent("hold-at-step", g_hold_events + L"/held", true);
    WaitForEvent("hold-at-step", g_hold_events + L"/go", false);
  }
  HANDLE handles[2] = {interrupted_event, nullptr};
  DWORD count = 1;
  unsigned pid = 0;
  const std::wstring initial_pid = base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(kInitialPidSwitch);
  if (base::StringToUint(initial_pid, &pid) && (handles[1] = OpenProcess(SYNCHRONIZE, FALSE, pid)))
    count = 2;
  const DWORD result = WaitForMultipleObjects(count, handles, FALSE, kHoldLimitMs);
  if (count == 2)
    CloseHandle(handles[1]);
  if (result == WAIT_TIMEOUT)
    fprintf(stderr, "hold-at-step: neither stopped nor ended within %lu ms\n", kHoldLimitMs);
  return result < WAIT_OBJECT_0 + count;
}

// "N" or "N:EVENTS".
bool SetHoldAtStep(const std::wstring& value) {
  const size_t colon = value.find(L':');
  unsigned step = 0;
  if (!base::StringToUint(value.substr(0, colon), &step) || step == 0)
    return false;
  g_hold_at_step = static_cast<int>(step);
  g_hold_events = colon == std::wstring::npos ? L"" : value.substr(colon + 1);
  SetStepReportedHookForTesting(HoldAtStep);
  return true;
}

bool SetHeldFile(const std::wstring& value) {
  if (value.empty())
    return false;
  g_held_file = value;
  return true;
}

// Waits of the crash client, which a loaded machine can outlast: for the reporter to get ready, for a dump.
bool SetCrashReporterStartWait(const std::wstring& value) {
  unsigned milliseconds = 0;
  if (!base::StringToUint(value, &milliseconds))
    return false;
  SetCrashReporterStartWaitForTesting(static_cast<int>(milliseconds));
  return true;
}

bool SetCrashDumpWait(const std::wstring& value) {
  unsigned milliseconds = 0;
  if (!base::StringToUint(value, &milliseconds))
    return false;
  CrashServerClient::SetDumpWaitForTesting(milliseconds);
  return true;
}

bool SetCrashCollector(const std::wstring& value) {
  if (value != L"plain")
    return false;
  SetPlainCollectorForTesting(true);
  return true;
}

// The downloader's wait before it resumes a failed download (6 s in the product).
bool SetDownloadRetryDelay(const std::wstring& value) {
  unsigned milliseconds = 0;
  if (!base::StringToUint(value, &milliseconds))
    return false;
  SetDownloadRetryDelayForTesting(milliseconds);
  return true;
}

// Where the starts that outlive an uninstallation are recorded instead of made: one line per start, "<kind>\t<this
// process's id>\t<its initial-pid switch>\t<its parent-pid switch>\t<command line>", in UTF-8.
std::wstring g_detached_starts_file;

bool RecordDetachedStart(const std::wstring& kind, const std::wstring& command_line) {
  const base::CommandLine& own = *base::CommandLine::ForCurrentProcess();
  const std::string line =
      WideToUtf8ForTest(kind + L"\t" + std::to_wstring(GetCurrentProcessId()) + L"\t" +
                        own.GetSwitchValueNative(kInitialPidSwitch) + L"\t" + own.GetSwitchValueNative(kParentPidSwitch) +
                        L"\t" + command_line) +
      "\n";
  FILE* file = _wfopen(g_detached_starts_file.c_str(), L"ab");
  if (!file)
    return false;
  const bool written = fwrite(line.data(), 1, line.size(), file) == line.size();
  return fclose(file) == 0 && written;
}

bool SetDetachedStarts(const std::wstring& value) {
  return KeepAndHook(value, &g_detached_starts_file, SetDetachedStartHookForTesting, RecordDetachedStart);
}

bool SetTaskStore(const std::wstring& value) {
  if (value.empty())
    return false;
  UseRecordingTaskSchedulerForTesting(base::FilePath(value));
  return true;
}

// The variable's value; empty when it is not set.
std::wstring SeamsVariable() {
  const DWORD size = GetEnvironmentVariableW(kInstallerTestSeamsVariable, nullptr, 0);
  std::wstring text(size, L'\0');
  text.resize(size ? GetEnvironmentVariableW(kInstallerTestSeamsVariable, text.data(), size) : 0);
  return text;
}

// The consent prompt granted: the real "runas" starts the program as a full administrator, so the scenario's
// answer of the token does not reach it (every other seam does).
HANDLE StartElevatedWithConsent(const base::FilePath& program, const std::wstring& parameters) {
  const std::wstring seams = SeamsVariable();
  std::wstring elevated;
  for (const std::wstring& pair : base::SplitString(seams, L";", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    if (!base::StartsWith(pair, L"admin-token=", base::CompareCase::SENSITIVE))
      elevated += (elevated.empty() ? L"" : L";") + pair;
  }
  SetEnvironmentVariableW(kInstallerTestSeamsVariable, elevated.c_str());
  base::win::ScopedHandle process = ShellExecuteElevated(program, parameters);
  const DWORD error = GetLastError();
  SetEnvironmentVariableW(kInstallerTestSeamsVariable, seams.c_str());
  SetLastError(error);
  return process.Take();
}

// The user said no to the consent prompt.
HANDLE DeclineElevation(const base::FilePath&, const std::wstring&) {
  SetLastError(ERROR_CANCELLED);
  return nullptr;
}

bool SetElevation(const std::wstring& value) {
  if (value != L"consent" && value != L"decline")
    return false;
  SetElevatedLaunchHookForTesting(value == L"consent" ? StartElevatedWithConsent : DeclineElevation);
  return true;
}

// Where replace-package-files finds its replacement and records its attempts.
std::wstring g_replacement_folder;

void ReplacePackageFile(const base::FilePath& file) {
  const ReplacementAttempt attempt = TryToReplaceFile(file.value(), g_replacement_folder + L"\\replacement.exe");
  const std::string line = WideToUtf8ForTest(file.value()) + "\t" + std::to_string(attempt.overwrite_error) + "\t" +
                           std::to_string(attempt.rename_error) + "\n";
  FILE* record = _wfopen((g_replacement_folder + L"\\attempts.txt").c_str(), L"ab");
  if (!record) {
    fprintf(stderr, "replace-package-files: cannot record the attempt on %ls\n", file.value().c_str());
    return;
  }
  fwrite(line.data(), 1, line.size(), record);
  fclose(record);
}

bool SetReplacePackageFiles(const std::wstring& value) {
  return KeepAndHook(value, &g_replacement_folder, SetPackageFileUseHookForTesting, ReplacePackageFile);
}

// swap-folder: the folder that the first use of a checked path at or below it swaps for the decoy, once.
std::wstring g_swapped_folder;
std::wstring g_decoy;

void SwapFolderForDecoy(const base::FilePath& path) {
  const std::wstring& folder = g_swapped_folder;
  if (folder.empty() || !base::StartsWith(path.value(), folder, base::CompareCase::INSENSITIVE_ASCII) ||
      (path.value().size() > folder.size() && path.value()[folder.size()] != L'\\')) {
    return;
  }
  if (!SwapFolderForTest(folder, g_decoy))
    fprintf(stderr, "swap-folder: cannot put %ls in the place of %ls\n", g_decoy.c_str(), folder.c_str());
  g_swapped_folder.clear();
}

// "FOLDER|DECOY".
bool SetSwapFolder(const std::wstring& value) {
  const size_t bar = value.find(L'|');
  if (bar == std::wstring::npos || bar == 0 || bar + 1 == value.size())
    return false;
  g_swapped_folder = value.substr(0, bar);
  g_decoy = value.substr(bar + 1);
  SetCheckedPathUseHookForTesting(SwapFolderForDecoy);
  return true;
}

// The event that the installer's window sets once it is shown.
std::wstring g_window_shown_event;

void SetWindowShownEvent() {
  WaitForEvent("window-shown-event", g_window_shown_event, true);
}

bool SetWindowShownEventName(const std::wstring& value) {
  return KeepAndHook(value, &g_window_shown_event, SetWindowShownHookForTesting, SetWindowShownEvent);
}

bool SetRunUserStandIn(const std::wstring& value) {
  if (value.empty())
    return false;
  SetRunUserStandInForTesting(value.c_str());
  return true;
}

bool SetFolderGrant(const std::wstring& value) {
  if (value != L"refuse")
    return false;
  SetFolderGrantRefusedForTesting(true);
  return true;
}
}  // namespace

bool OverrideShortcutFolders(const std::wstring& root) {
  const struct {
    int key;
    const wchar_t* name;
  } folders[] = {{base::kUserDesktop, L"UserDesktop"},
                 {base::kCommonDesktop, L"CommonDesktop"},
                 {base::kStartMenu, L"StartMenu"},
                 {base::kCommonStartMenu, L"CommonStartMenu"},
                 {base::kUserQuickLaunch, L"QuickLaunch"},
                 {base::kTaskbarPins, L"QuickLaunch\\User Pinned\\TaskBar"}};
  bool made = true;
  for (const auto& folder : folders)
    made = base::PathService::Override(folder.key, base::FilePath(root).Append(folder.name)) && made;
  return made;
}

namespace {

struct Seam {
  const wchar_t* name;
  bool (*apply)(const std::wstring& value);
};

const Seam kSeams[] = {
    {L"admin-token", SetAdminToken},
    {L"branding-file", SetBrandingFile},
    {L"hold-at-step", SetHoldAtStep},
    {L"held-file", SetHeldFile},
    {L"crash-reporter-start-wait", SetCrashReporterStartWait},
    {L"crash-dump-wait", SetCrashDumpWait},
    {L"crash-collector", SetCrashCollector},
    {L"download-retry-delay", SetDownloadRetryDelay},
    {L"detached-starts", SetDetachedStarts},
    {L"task-store", SetTaskStore},
    {L"elevation", SetElevation},
    {L"folder-grant", SetFolderGrant},
    {L"run-user", SetRunUserStandIn},
    {L"shortcut-folders", OverrideShortcutFolders},
    {L"replace-package-files", SetReplacePackageFiles},
    {L"swap-folder", SetSwapFolder},
    {L"window-shown-event", SetWindowShownEventName},
};

}  // namespace

bool ApplyInstallerTestSeamsFromEnvironment(std::string* error) {
  const std::wstring seams = SeamsVariable();
  for (const std::wstring& pair : base::SplitString(seams, L";", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    const size_t equals = pair.find(L'=');
    const std::wstring name = pair.substr(0, equals);
    const std::wstring value = equals == std::wstring::npos ? L"" : pair.substr(equals + 1);
    const Seam* seam = nullptr;
    for (const Seam& candidate : kSeams)
      seam = name == candidate.name ? &candidate : seam;
    if (!seam || !seam->apply(value)) {
      *error = std::string(seam ? "cannot apply the test seam \"" : "unknown test seam \"") +
               WideToUtf8ForTest(pair) + "\"";
      return false;
    }
  }
  return true;
}

std::wstring InstallerTestSeamsValue(const std::vector<std::pair<std::wstring, std::wstring>>& pairs) {
  std::wstring value;
  for (const auto& [name, setting] : pairs)
    value += (value.empty() ? L"" : L";") + name + L"=" + setting;
  return value;
}

}  // namespace test_support
