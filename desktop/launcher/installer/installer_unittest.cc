// The Installer in this process: the test runs the loop and records every observer call. Each scenario has a
// folder of its own with a package (installer_package_test_util.h) and an install folder; what a run leaves is
// compared with the package and with the tree as it was before.
#include "desktop/launcher/installer/installer.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/json/string_escape.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/waitable_event.h"
#include "base/time/time.h"
#include "base/values.h"
#include "base/win/fake_property_store_test_util.h"
#include "base/win/property_store.h"
#include "base/win/registry.h"
#include "base/win/scoped_local_memory.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/globalstorage_win.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_package_test_util.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/records/install_log_test_util.h"
#include "desktop/launcher/installer/roles/folder_permission.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/task_scheduler.h"
#include "desktop/launcher/installer/service/transactions/create_folder_operation.h"
#include "desktop/launcher/installer/service/transactions/operation_test_seam.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/launcher/installer/steps/installer_shortcut_steps.h"
#include "desktop/launcher/installer/steps/uninstall_batch.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/installer/installer_test_seams_from_environment.h"
#include "testing/installer/recording_task_scheduler.h"
#include "testing/installer/settings_status_wait.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer {

// Calls a copy step directly, as only a broken step list could.
class InstallerTestPeer {
 public:
  static void StepCopyFiles(Installer* installer, int index) { installer->StepCopyFiles(index); }
  // The handle the Installer watches for interruptions.
  static HANDLE InterruptedEvent(Installer* installer) { return installer->interrupted_event_.Get(); }
  // As if the folder-permission helper (of process `helper`, when given) had lent the run write access until this
  // event is set, and would then run an uninstallation's clean-up batch, or had granted it for good.
  static void BorrowWriteAccess(Installer* installer, HANDLE undo_event, bool for_good, DWORD helper) {
    installer->undo_event_.Set(undo_event);
    installer->helper_runs_uninstall_batch_ = !for_good;
    if (helper)
      installer->other_process_id_ = helper;
  }
};

namespace test {
namespace {

// The fault hook fails the creation of this folder.
std::wstring g_failing_folder;
bool FailFolderCreation(const Operation* operation, const std::wstring& target) {
  return dynamic_cast<const CreateFolderOperation*>(operation) && target == g_failing_folder;
}

// What an uninstallation started to outlive it: (kind, command line).
std::vector<std::pair<std::wstring, std::wstring>> g_detached_starts;
bool RecordDetachedStart(const std::wstring& kind, const std::wstring& command_line) {
  g_detached_starts.emplace_back(kind, command_line);
  return true;
}

// Elevated starts, counted; the stand-in program the hook starts instead, with switches of its own before the
// parameters (none: the user declines), and a handle of the last one started.
int g_elevated_starts = 0;
base::FilePath g_elevated_stand_in;
std::wstring g_elevated_stand_in_switches;
test_support::ScopedTestHandle g_elevated_process;
base::FilePath g_elevated_program;  // the program the last elevated start named
HANDLE StartElevatedStandIn(const base::FilePath& program, const std::wstring& parameters) {
  ++g_elevated_starts;
  g_elevated_program = program;
  if (g_elevated_stand_in.empty()) {
    SetLastError(ERROR_CANCELLED);
    return nullptr;
  }
  std::wstring command_line =
      L"\"" + g_elevated_stand_in.value() + L"\" " + g_elevated_stand_in_switches + L" " + parameters;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  HANDLE kept = nullptr;
  DuplicateHandle(GetCurrentProcess(), process.hProcess, GetCurrentProcess(), &kept, 0, FALSE, DUPLICATE_SAME_ACCESS);
  g_elevated_process.reset(kept);
  return process.hProcess;
}

// A hidden top-level window on a thread of its own, as the shell has, that hears when the start-menu clients (the
// browsers the system knows) are announced as changed: a change broadcast to every window.
class StartMenuClientsListener {
 public:
  StartMenuClientsListener() : thread_([this] { Listen(); }) { ready_.Wait(); }
  ~StartMenuClientsListener() {
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
  }

  void Reset() { heard_.Reset(); }
  // Whether the change was heard since Reset. A broadcast that the window was slow to take is still delivered, so
  // this waits for it; when none was sent, only the bound ends the wait.
  bool Heard() { return heard_.TimedWait(base::TimeDelta::FromSeconds(30)); }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SETTINGCHANGE && lparam &&
        std::wstring(reinterpret_cast<const wchar_t*>(lparam)) == L"Software\\Clients\\StartMenuInternet") {
      reinterpret_cast<StartMenuClientsListener*>(GetWindowLongPtrW(window, GWLP_USERDATA))->heard_.Signal();
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  void Listen() {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = Procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"StartMenuClientsListener";
    RegisterClassW(&window_class);  // already registered by an earlier listener is as good
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                                  window_class.hInstance, nullptr);
    EXPECT_TRUE(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    thread_id_ = GetCurrentThreadId();
    ready_.Signal();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
      DispatchMessageW(&message);
    DestroyWindow(window);
  }

  base::WaitableEvent ready_{true, false};
  base::WaitableEvent heard_{true, false};
  DWORD thread_id_ = 0;
  std::thread thread_;
};

// The machine's UAC policy as IsUACEnabled reads it, written into the test's own registry sandbox.
void SetUacPolicy(DWORD enable_lua) {
  base::win::RegKey policies;
  ASSERT_EQ(ERROR_SUCCESS, policies.Create(HKEY_LOCAL_MACHINE,
                                           L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                                           KEY_SET_VALUE));
  ASSERT_EQ(ERROR_SUCCESS, policies.WriteValue(L"EnableLUA", &enable_lua, sizeof(enable_lua), REG_DWORD));
}

std::wstring Version() {
  return base::UTF8ToWide(GetFullVersionString());
}

// The shell's taskbar verbs (which wine lacks) in a test: each call recorded, answered as the test says.
std::vector<std::wstring> g_pin_calls;
bool g_pin_succeeds = false;
bool RecordPinCall(const base::FilePath& shortcut, bool pin) {
  g_pin_calls.push_back((pin ? L"pin " : L"unpin ") + shortcut.value());
  return g_pin_succeeds;
}

// The shell's taskbar verbs as they change the taskbar's folder: a pin copies the shortcut into it, an unpin
// removes the shortcut of that name from it.
bool EmulatePinCall(const base::FilePath& shortcut, bool pin) {
  base::FilePath pins;
  if (!base::PathService::Get(base::kTaskbarPins, &pins))
    return false;
  const base::FilePath pinned = pins.Append(shortcut.BaseName());
  return pin ? base::CopyFile(shortcut, pinned) : base::DeleteFile(pinned, false);
}

// The shortcut whose move aside is refused, as while another program reads it, and how many more times (-1: for
// good).
base::FilePath g_held_shortcut;
int g_refusals_left = 0;

bool RefuseHeldShortcut(const Operation*, const std::wstring& target) {
  if (target != g_held_shortcut.value() || g_refusals_left == 0)
    return false;
  g_refusals_left -= g_refusals_left > 0;
  return true;
}

// The fixture product's shortcut name: its visible name, the build's stream and, versioned, the major version.
std::wstring ShortcutName(bool versioned) {
  std::string name = "Zorvi " + GetStreamName();
  if (versioned)
    name += " " + std::to_string(GetMajorVersion());
  return base::UTF8ToWide(name) + L".lnk";
}

// The files below `folder` (relative paths), without the folders.
std::set<std::wstring> FilesBelow(const base::FilePath& folder) {
  std::set<std::wstring> files;
  for (const auto& [relative, digest] : ReadTree(folder)) {
    if (relative.back() != '\\')
      files.insert(base::UTF8ToWide(relative));
  }
  return files;
}

// Where a link leads and in which folder it starts, as "target in folder".
std::wstring LinkLeadsTo(const base::FilePath& link) {
  base::win::ShortcutProperties properties;
  if (!base::win::ResolveShortcutProperties(
          link, base::win::ShortcutProperties::PROPERTIES_TARGET | base::win::ShortcutProperties::PROPERTIES_WORKING_DIR,
          &properties)) {
    return L"(unreadable)";
  }
  return properties.target.value() + L" in " + properties.working_dir.value();
}

// `path` as a JSON string literal.
std::string JsonPath(const base::FilePath& path) {
  std::string literal;
  base::EscapeJsonStringImpl(path.AsUTF8(), true, &literal);
  return literal;
}

// What another program's file holds, which an installer must leave as it was.
constexpr char kForeignBytes[] = "another program's";

// The bytes of a file, or "(unreadable)".
std::string FileBytes(const base::FilePath& path) {
  std::string bytes;
  return test_support::ReadFileBytes(path.value(), &bytes) ? bytes : "(unreadable)";
}

// The JSON object in a file; empty when there is none.
std::unique_ptr<base::DictionaryValue> ReadJson(const base::FilePath& path) {
  std::string text;
  test_support::ReadFileBytes(path.value(), &text);
  std::unique_ptr<base::Value> value = base::JsonReader::Read(text);
  base::DictionaryValue* dictionary = nullptr;
  if (!value || !value->GetAsDictionary(&dictionary))
    return std::make_unique<base::DictionaryValue>();
  value.release();
  return std::unique_ptr<base::DictionaryValue>(dictionary);
}

class InstallerTest : public InstallerRunTest {
 protected:
  ~InstallerTest() override {
    g_elevated_stand_in_switches.clear();
    g_elevated_process.reset();
  }

  // The desktop, start-menu and quick-launch shortcuts are `made` (below shortcuts(); empty: none) and lead to the
  // launcher; while the run's Installer lives its `log` records them, once it is gone (the run committed) the
  // shortcut folders hold them and `kept`, nothing else.
  void ExpectShortcuts(const InstallLog* log, const std::array<std::wstring, 3>& made, std::set<std::wstring> kept) {
    for (size_t i = 0; i < made.size(); ++i) {
      SCOPED_TRACE(i);
      const base::FilePath path = made[i].empty() ? base::FilePath() : shortcuts().Append(made[i]);
      if (log) {
        const base::FilePath* slots[] = {&log->desktop_shortcut, &log->start_menu_shortcut, &log->quick_launch_shortcut};
        EXPECT_EQ(path, *slots[i]);
      }
      if (path.empty())
        continue;
      kept.insert(made[i]);
      EXPECT_EQ(install_.Append(L"launcher.exe").value() + L" in " + install_.value(), LinkLeadsTo(path));
    }
    if (!log) {
      EXPECT_EQ(kept, FilesBelow(shortcuts()));
    }
  }

  base::FilePath Subfolder(const std::wstring& name = Version()) const { return install_.Append(name); }

  // What the package puts where: its files in the subfolder, its root files in the install folder.
  std::map<std::string, std::string> ExpectedTree(const std::map<std::string, std::string>& before,
                                                  const std::wstring& subfolder = Version()) const {
    std::map<std::string, std::string> tree = before;
    const std::map<std::string, std::string> package = ReadTree(package_->folder());
    const std::string version = base::WideToUTF8(subfolder);
    tree[version + "\\"] = "";
    auto put = [&](const std::string& prefix, const std::string& file) {
      for (size_t at = file.find('\\'); at != std::string::npos; at = file.find('\\', at + 1))
        tree[prefix + file.substr(0, at + 1)] = "";
      tree[prefix + file] = package.at(file);
    };
    for (const std::string& file : package_->files())
      put(version + "\\", file);
    for (const std::string& file : package_->root_files())
      put("", file);
    // The launcher step's files beside them.
    for (const char* file : {"launcher.exe", "pref_default_overrides"})
      put("", file);
    return tree;
  }

  std::wstring LastInstallPathValue() const { return test::LastInstallPathValue(company()); }

  // The install folder's tree without the status log, the installer preferences and the record of the browser's
  // start, which a finished run must have left (the scenarios read what they hold).
  std::map<std::string, std::string> InstalledTree() const {
    std::map<std::string, std::string> tree = ReadTree(install_);
    for (const char* written : {"installation_status.xml", "installer_prefs.json", "launcher.exe.commands.txt"})
      EXPECT_EQ(1u, tree.erase(written)) << written;
    return tree;
  }

  // An install folder the user may not write to, as a machine's administrator may have made it.
  void DenyWritingInstallFolder() {
    CreateDirectoryW(install_.value().c_str(), nullptr);
    ASSERT_TRUE(test_support::SetObjectDacl(install_.value(), SE_FILE_OBJECT, L"D:P(D;;0x6;;;WD)(A;OICI;FA;;;WD)"));
  }

  // A fresh install folder holding an earlier root file that a run must leave as it was.
  void PutEarlierRootFile() {
    test_support::RemoveTree(install_.value());
    CreateDirectoryW(install_.value().c_str(), nullptr);
    ASSERT_TRUE(test_support::WriteFileBytes(install_.Append(L"root notes.txt").value(), "earlier notes"));
  }

  // An installation of this version with the browser's executable in its log, as upgrades and uninstallations
  // find it; `edit` may add to its log.
  void PutExistingInstallation(const std::string& app_id, const std::function<void(InstallLog*)>& edit = nullptr) {
    test_support::RemoveTree(install_.value());
    ASSERT_TRUE(base::CreateDirectory(Subfolder()));
    ASSERT_TRUE(test_support::WriteFileBytes(install_.Append(L"launcher.exe").value(), "launcher"));
    PutLoggedFiles(install_.Append(kInstallLogFileName), Version(), {}, [&](InstallLog* log) {
      log->app_id = app_id;
      log->version = GetFullVersionString();
      log->files = {base::FilePath(L"zorvi.exe")};
      if (edit)
        edit(log);
    });
  }

  // Writes `files` into `subfolder` and a status log naming them, in that order, at `log_path`.
  void PutLoggedFiles(const base::FilePath& log_path, const std::wstring& subfolder,
                      const std::vector<std::wstring>& files, const std::function<void(InstallLog*)>& edit = nullptr) {
    InstallLog log;
    log.app_id = "42";
    log.subfolder = base::FilePath(subfolder);
    log.version = "1.0";
    log.installation_path = install_;
    for (const std::wstring& file : files) {
      const base::FilePath path = install_.Append(subfolder).Append(file);
      base::CreateDirectory(path.DirName());
      ASSERT_TRUE(test_support::WriteFileBytes(path.value(), base::WideToUTF8(file)));
      log.files.push_back(base::FilePath(file));
    }
    if (edit)
      edit(&log);
    ASSERT_TRUE(SaveInstallLog(log, log_path));
  }

  // As if the folder-permission helper had lent the prepared run write access until the run gives it back, or
  // for good.
  void LendWriteAccess(bool for_good = false, DWORD helper = 0) {
    lent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE undo = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), lent_.get(), GetCurrentProcess(), &undo, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    InstallerTestPeer::BorrowWriteAccess(installer_.get(), undo, for_good, helper);
  }
  bool WriteAccessGivenBack() const { return lent_.valid() && WaitForSingleObject(lent_.get(), 0) == WAIT_OBJECT_0; }

  // Whether the recording scheduler holds the installation's autoupdate task, for all users or not as the run is.
  bool HasAutoupdateTask() const {
    const std::string task = "tasks.Zorvi scheduled Autoupdate " + installer_->install_log().app_id;
    bool all_users = false;
    if (!ReadJson(tasks_file())->GetBoolean(task + ".all_users", &all_users))
      return false;
    EXPECT_EQ(settings_->all_users(), all_users);
    return true;
  }

  // Records what an uninstallation starts to outlive it, and the scheduler calls, instead of making them.
  void RecordDetachedStarts() {
    g_detached_starts.clear();
    SetDetachedStartHookForTesting(RecordDetachedStart);
    test_support::UseRecordingTaskSchedulerForTesting(tasks_file());
  }
  base::FilePath tasks_file() const { return Folder(L"tasks.json"); }

  test_support::ScopedTestHandle lent_;
};

// Every refusal of the start, in check order: each is the run's only report, and the install folder (made
// fresh for each row) is gone again afterwards.
TEST_F(InstallerTest, StartRefusesWithItsCodeAndMessage) {
  MakePackage({.data_files = 1, .root_files = false});
  const auto standard_user = [] { SetAdminTokenSeamForTesting(AdminTokenSeam::kStandardUser); };
  const auto denied_folder = [&] { DenyWritingInstallFolder(); };
  const auto failing_folder = [](const base::FilePath& folder) {
    return [folder] {
      g_failing_folder = folder.value();
      SetOperationFaultHookForTesting(FailFolderCreation);
    };
  };
  const struct Row {
    const char* name;
    std::wstring switches;
    Flags flags;
    bool interrupted_event;
    std::function<void()> setup;
    bool folder_ready;  // the refusal comes after the install folder was reported ready
    Lines expected;
  } rows[] = {
      // An unusable folder leaves no operation; no event is opened before that check (there is none to open).
      {"operation none", L"", {}, false, [&] { install_ = install_.Append(L"a|b"); }, false,
       Failure(kInstallerErrorNoOperation, L"", "Settings operation invalid")},
      {"autoupdate of a fresh folder", L"", {.autoupdate = true}, false, nullptr, false,
       Failure(kInstallerErrorGeneric, L"", "Settings operation invalid for autoupdate")},
      {"no interrupted event", L"", {}, false, nullptr, false,
       Failure(kInstallerErrorGeneric, L"", "Failed to open a handle to the installation interrupted event")},
      {"silent all-users run of a standard user", L"--allusers=1", {.silent = true}, true, standard_user, false,
       Failure(kInstallerErrorGeneric, L"", "Installation requires elevation, but cannot elevate when silent")},
      {"all-users run of a standard user", L"--allusers=1", {}, true, standard_user, false,
       Failure(kInstallerErrorElevation, L"", "Elevated installation failed.")},
      {"single profile without write access", L"--singleprofile=1", {}, true, denied_folder, false,
       Failure(kInstallerErrorNoWriteAccess, L"",
               "Single profile installations are only allowed to locations where the user has write access")},
      {"install folder cannot be created", L"", {}, true, failing_folder(install_), false,
       Failure(kInstallerErrorFolderCreation, install_.value(), "Could not create installation folder")},
      {"files list missing", L"", {}, true, [&] { DeleteFileW(package_->folder().Append(L"files_list").value().c_str()); },
       true, Failure(kInstallerErrorGeneric, L"", "Could not read files list")},
      {"files list of empty lines", L"", {}, true, [&] { package_->WriteFilesList("\r\n\n\r\n"); }, true,
       Failure(kInstallerErrorGeneric, L"", "No files in files list")},
      {"subfolder cannot be created", L"", {}, true, failing_folder(Subfolder()), true,
       Failure(kInstallerErrorFolderCreation, Version(), "Creating installation subfolder failed")},
      // The runner makes the package-ready event; without it there is nothing to wait for.
      {"wait for a package without its event", L"--wait-for-package=C:\\package", {}, true, nullptr, true,
       Failure(kInstallerErrorGeneric, L"", "Failed to open a handle to the package ready event")},
      // The per-user part after an elevated run: for a copy-only run that does not start the browser it touches
      // nothing, and the run reports its one success.
      {"post-elevation tasks", L"--post-elevated-install-tasks --copyonly=1 --launchzorvi=0", {}, true, nullptr, false,
       {kSuccess}},
      // A standard user cannot elevate while the machine's policy turns UAC off.
      {"folder permission of a standard user without UAC", L"--allusers=0", {}, true,
       [&] {
         standard_user();
         SetFolderGrantRefusedForTesting(true);
         denied_folder();
       },
       false,
       Failure(kInstallerErrorElevation, L"",
               "Failed to elevate the process to give us write permissions to installation folder")},
  };
  const base::FilePath plain_install = install_;
  // UAC off: a standard user cannot elevate.
  SetUacPolicy(0);
  SetElevatedLaunchHookForTesting(StartElevatedStandIn);
  g_elevated_stand_in.clear();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    install_ = plain_install;
    g_elevated_starts = 0;
    MakePackage({.data_files = 1, .root_files = false});
    if (row.setup)
      row.setup();
    const std::map<std::string, std::string> before = ReadTree(install_);
    const bool existed = base::PathExists(install_);
    Prepare(row.switches, row.flags, row.interrupted_event);
    EXPECT_EQ(row.folder_ready ? JoinLines({{kFolderReady}, row.expected}) : row.expected, Run());
    EXPECT_EQ(existed, base::PathExists(install_));
    EXPECT_EQ(before, ReadTree(install_));
    EXPECT_EQ(L"(none)", LastInstallPathValue());
    // Nothing was started for another process.
    EXPECT_EQ(0, g_elevated_starts);
    installer_.reset();
    SetOperationFaultHookForTesting(nullptr);
    SetAdminTokenSeamForTesting(AdminTokenSeam::kNone);
    SetFolderGrantRefusedForTesting(false);
    test_support::SetObjectDacl(install_.value(), SE_FILE_OBJECT, L"D:P(A;OICI;FA;;;WD)");
    test_support::RemoveTree(install_.value());
  }
}

// Whole runs: one report per step of the total, the package's files in the version's subfolder and its root files
// in the install folder, the application id from the clock, and nothing kept aside once the Installer is gone; an
// interruption after the success changes nothing.
// Their shortcuts are made once in the package folder and copied to the chosen folders (the common ones for all
// users, always the user's quick launch), each leading to the launcher and carrying the installation's application
// id; a plain name taken in any destination gives every shortcut the versioned name, a folder that gets no shortcut
// does not count, a folder whose versioned name is taken too by a file that does not lead to the installation gets
// none (the file stays as it was), and a pin is asked for only where the system offers pinning (Windows 7 to 8.1).
TEST_F(InstallerTest, CompleteRunsReportEveryStepOfTheirTotal) {
  SetTaskbarPinHookForTesting(RecordPinCall);
  test_support::UseRecordingTaskSchedulerForTesting(tasks_file());
  const bool can_pin = base::win::CanPinShortcutToTaskbar();
  // For ShortcutPinVersionTest, which runs this test as other Windows versions.
  std::printf("pinning offered: %s\n", can_pin ? "yes" : "no");
  const std::wstring every_kind = L" --desktopshortcut=1 --startmenushortcut=1 --quicklaunchshortcut=1 --pintotaskbar=1";
  struct Row {
    const char* name;
    PackageOptions package = {};
    std::wstring switches;
    std::function<void()> setup = nullptr;
    std::wstring subfolder = Version();
    bool empty_root_list = false;
    bool borrowed = false;  // a folder-permission helper lent the run its write access (the run ends the grant)
    const wchar_t* taken = nullptr;  // a shortcut folder that already holds a file of the plain name
    bool versioned_taken = false;    // and one of the versioned name
    bool pin_succeeds = false;
    std::array<const wchar_t*, 3> folders = {};  // where the desktop, start-menu and quick-launch shortcuts go
    bool versioned = false;
  };
  test_support::ScopedTestHandle in_use;
  const Row rows[] = {
      {.name = "three files, no root list", .package = {.data_files = 0, .root_files = false},
       .switches = L"--copyonly=1" + every_kind},
      {.name = "nested files and root files", .switches = L"--copyonly=1"},
      {.name = "an empty root list", .package = {.data_files = 1, .root_files = false}, .switches = L"--copyonly=1",
       .empty_root_list = true},
      // No status log names either folder: the one a process has a file of open stays as it is, the other (a
      // killed run's) is taken.
      {.name = "version folders left", .package = {.data_files = 1}, .switches = L"--copyonly=1",
       .setup =
           [&] {
             const base::FilePath held = Subfolder().Append(L"in use.txt");
             ASSERT_TRUE(base::CreateDirectory(Subfolder()));
             ASSERT_TRUE(test_support::WriteFileBytes(held.value(), "open"));
             in_use.reset(CreateFileW(held.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
             ASSERT_TRUE(in_use.valid());
             ASSERT_TRUE(base::CreateDirectory(Subfolder(Version() + L"_0")));
           },
       .subfolder = Version() + L"_0"},
      // A folder the user may not write is granted to him (the process is an administrator here).
      {.name = "per user into a folder denied to the user, the pin refused", .package = {.data_files = 2},
       .switches = L"--allusers=0" + every_kind,
       .setup = [&] { DenyWritingInstallFolder(); },
       .folders = {L"UserDesktop", L"StartMenu", L"QuickLaunch"}},
      {.name = "all users, the pin taken", .switches = L"--allusers=1" + every_kind, .pin_succeeds = true,
       .folders = {L"CommonDesktop", L"CommonStartMenu", L"QuickLaunch"}},
      {.name = "per user with a helper's write access", .switches = L"--allusers=0" + every_kind, .borrowed = true,
       .folders = {L"UserDesktop", L"StartMenu", L"QuickLaunch"}},
      // The package's installer, to which a run that had the helper's grant handed over.
      {.name = "per user with the handing-over run's write access",
       .switches = L"--allusers=0 --borrowed-write-access" + every_kind,
       .folders = {L"UserDesktop", L"StartMenu", L"QuickLaunch"}},
      {.name = "plain name taken in the quick launch", .switches = L"--allusers=0" + every_kind,
       .taken = L"QuickLaunch", .pin_succeeds = true, .folders = {L"UserDesktop", L"StartMenu", L"QuickLaunch"},
       .versioned = true},
      // Another installation's shortcut keeps the name, and that folder gets none.
      {.name = "plain and versioned names taken in the quick launch", .switches = L"--allusers=0" + every_kind,
       .taken = L"QuickLaunch", .versioned_taken = true, .folders = {L"UserDesktop", L"StartMenu", nullptr},
       .versioned = true},
      {.name = "plain name taken where no shortcut goes",
       .switches = L"--allusers=0 --desktopshortcut=0 --startmenushortcut=1 --quicklaunchshortcut=0 --pintotaskbar=0",
       .taken = L"UserDesktop", .folders = {nullptr, L"StartMenu", nullptr}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    in_use.reset();
    test_support::RemoveTree(install_.value());
    // A fresh package: the master shortcut of the row before would stay in it.
    test_support::RemoveTree(Folder(L"package").value());
    MakePackage(row.package);
    if (row.empty_root_list)
      test_support::WriteFileBytes(package_->folder().Append(L"root_files_list").value(), "");
    if (row.setup)
      row.setup();
    test_support::RemoveTree(shortcuts().value());
    ASSERT_TRUE(test_support::OverrideShortcutFolders(shortcuts().value()));
    std::set<std::wstring> kept;
    for (const bool versioned : {false, true}) {
      if (row.taken && (!versioned || row.versioned_taken))
        kept.insert(std::wstring(row.taken) + L"\\" + ShortcutName(versioned));
    }
    for (const std::wstring& file : kept)
      ASSERT_TRUE(test_support::WriteFileBytes(shortcuts().Append(file).value(), kForeignBytes));
    g_pin_calls.clear();
    g_pin_succeeds = row.pin_succeeds;
    DeleteFileW(tasks_file().value().c_str());
    const std::map<std::string, std::string> before = ReadTree(install_);
    Prepare(row.switches);
    lent_.reset();
    if (row.borrowed)
      LendWriteAccess();
    test_support::ScopedLogCapture log;
    const int64_t earliest = base::Time::Now().ToTimeT();
    Run();
    // An interruption after success changes nothing and reports no second end.
    installer_->OnObjectSignaled(InstallerTestPeer::InterruptedEvent(installer_.get()));
    RunUntilIdle();
    EXPECT_EQ(Completed(package_->StepTotal(7)), recorder_->lines());
    EXPECT_EQ(package_->root_files().empty(),
              log.HasLineStartingWith("Skipping copying of root files since list is empty.", logging::LOG_INFO));
    const InstallLog& installed = installer_->install_log();
    EXPECT_EQ(row.subfolder, installed.subfolder.value());
    const int64_t app_id = std::stoll(installed.app_id);
    EXPECT_LE(earliest, app_id);
    // The time in seconds, or a little past it when installers running beside this one hold those ids.
    EXPECT_GT(base::Time::Now().ToTimeT() + 1000, app_id);
    const bool copy_only = !row.folders[1];
    EXPECT_EQ(copy_only ? L"(none)" : install_.value() + L"\\", LastInstallPathValue());
    // Only an installation that keeps its own write access gets the autoupdate task; the helper's grant ends with
    // the run. Every run the user started records the import and statistics choices.
    const bool borrowed = row.borrowed || row.switches.find(L"--borrowed-write-access") != std::wstring::npos;
    EXPECT_EQ(!copy_only && !borrowed, HasAutoupdateTask());
    EXPECT_EQ(row.borrowed, WriteAccessGivenBack());
    const std::unique_ptr<base::DictionaryValue> prefs = ReadJson(install_.Append(L"installer_prefs.json"));
    EXPECT_TRUE(prefs->HasKey("import_browser_data") && prefs->HasKey("enable_stats"));

    const std::wstring name = ShortcutName(row.versioned);
    std::array<std::wstring, 3> made;
    for (size_t i = 0; i < made.size(); ++i)
      made[i] = row.folders[i] ? std::wstring(row.folders[i]) + L"\\" + name : L"";
    ExpectShortcuts(&installed, made, kept);
    const base::FilePath master = package_->folder().Append(name);
    EXPECT_EQ(!copy_only, base::PathExists(master));
    const bool pinning = !copy_only && row.switches.find(L"--pintotaskbar=1") != std::wstring::npos && can_pin;
    EXPECT_EQ(pinning ? std::vector<std::wstring>{L"pin " + master.value()} : std::vector<std::wstring>{}, g_pin_calls);
    EXPECT_EQ(pinning && row.pin_succeeds, installed.pinned);
    // The application id the shortcuts carry, through the shortcut layer's property-store writer.
    base::win::FakePropertyStore store;
    ASSERT_TRUE(base::win::internal::WriteShortcutPropertyStore(
        &store, LauncherShortcutProperties(install_.Append(L"launcher.exe"), installed.app_id)));
    EXPECT_EQ(L"ZorviSoftware.ZorviWebBrowser." + base::UTF8ToWide(installed.app_id),
              std::wstring(store.Stored(base::win::kAppUserModelIdKey).pwszVal));
    // The status log the run wrote, for xmllint in testdata_check.sh: the pinned flag, and each shortcut under the
    // type of its kind and mode.
    const bool all_users = row.switches.find(L"--allusers=1") != std::wstring::npos;
    const char* types[] = {all_users ? "SC_DEST_COMMON_DESKTOP" : "SC_DEST_DESKTOP",
                           all_users ? "SC_DEST_COMMON_MENU" : "SC_DEST_MENU", "SC_DEST_QUICK_LAUNCH"};
    std::string facts = std::string("pinned ") + (installed.pinned ? "True" : "False") + "\n";
    for (size_t i = 0; i < made.size(); ++i)
      facts += std::string(types[i]) + " " + (made[i].empty() ? "" : shortcuts().Append(made[i]).AsUTF8()) + "\n";
    const base::FilePath saved =
        TestDataFile(L"shortcut_logs").Append(std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(&row - rows));
    ASSERT_TRUE(base::CreateDirectory(saved.DirName()));
    EXPECT_TRUE(base::CopyFile(install_.Append(kInstallLogFileName), saved.AddExtension(L"xml")));
    EXPECT_TRUE(test_support::WriteFileBytes(saved.AddExtension(L"facts").value(), facts));
    installer_.reset();
    EXPECT_EQ(ExpectedTree(before, row.subfolder), InstalledTree());
    ExpectShortcuts(nullptr, made, kept);
    for (const std::wstring& file : kept)
      EXPECT_EQ(kForeignBytes, FileBytes(shortcuts().Append(file))) << file;
    test_support::SetObjectDacl(install_.value(), SE_FILE_OBJECT, L"D:P(A;OICI;FA;;;WD)");
  }
}

// Installations made at one moment get ids of their own: an id that another installer holds at this moment, or
// whose autoupdate task is registered, is passed over, and that task stays.
TEST_F(InstallerTest, ANewInstallationsIdIsNoOtherInstallations) {
  test_support::UseRecordingTaskSchedulerForTesting(tasks_file());
  DeleteFileW(tasks_file().value().c_str());
  MakePackage({.data_files = 1});
  const base::FilePath other = Folder(L"other installation");
  ASSERT_TRUE(base::CreateDirectory(other));
  ASSERT_TRUE(test_support::WriteFileBytes(other.Append(L"launcher.exe").value(), "MZ"));
  constexpr int kHeld = 20, kRegistered = 20;
  const int64_t now = base::Time::Now().ToTimeT();
  std::list<test_support::ScopedTestHandle> claims;
  for (int64_t id = now; id < now + kHeld; ++id) {
    claims.emplace_back(CreateMutexW(
        nullptr, FALSE, GetInstallerKernelObjectName(std::to_wstring(id), L"ZorviInstaller/ApplicationId", true).c_str()));
    ASSERT_TRUE(claims.back().valid());
  }
  std::set<std::string> registered;
  for (int64_t id = now + kHeld; id < now + kHeld + kRegistered; ++id) {
    ASSERT_TRUE(CreateAutoupdateTask(other, std::to_wstring(id), false));
    registered.insert("Zorvi scheduled Autoupdate " + std::to_string(id));
  }
  Prepare(L"--launchzorvi=0");
  ASSERT_EQ(Settings::kOperationInstall, settings_->operation());
  EXPECT_EQ(kSuccess, Run().back());
  const int64_t app_id = std::stoll(installer_->install_log().app_id);
  EXPECT_LE(now + kHeld + kRegistered, app_id);
  EXPECT_TRUE(HasAutoupdateTask());
  base::Value* listed = nullptr;
  base::DictionaryValue* tasks = nullptr;
  const std::unique_ptr<base::DictionaryValue> record = ReadJson(tasks_file());
  ASSERT_TRUE(record->GetWithoutPathExpansion("tasks", &listed) && listed->GetAsDictionary(&tasks));
  for (const std::string& name : registered)
    EXPECT_TRUE(tasks->HasKey(name)) << name;
  EXPECT_EQ(registered.size() + 1, tasks->size());
}

// A copy step asked for an index outside its list fails the run; the steps still queued do nothing after it.
TEST_F(InstallerTest, CopyStepOutsideItsListFailsTheRun) {
  MakePackage({.data_files = 0, .root_files = false});
  Prepare(L"--copyonly=1");
  const std::string total = Recorder::TotalStepsLine(10);
  Lines lines = Run([&](const std::string& line, size_t) { return line == total; });
  InstallerTestPeer::StepCopyFiles(installer_.get(), 5);
  RunUntilIdle();
  EXPECT_EQ(JoinLines({{kFolderReady, total, kStep},
                  Failure(kInstallerErrorGeneric, L"", "Invalid index 5 passed to StepCopyFile (max: 3)")}),
            recorder_->lines());
  installer_.reset();
  EXPECT_FALSE(base::PathExists(install_));
}

// An upgrade keeps the installation's application id and its stored experiment states, which switches given now
// override; the earlier version's folder keeps its name, so the new one gets a counter. It keeps the shortcuts that
// lead to the installation under the names this version gives them: names ending in a digit become the versioned
// name, other plain names the plain one (one that has it already stays, as does one whose new name another file
// holds). A shortcut switched off goes, a missing
// one switched on is made, one that leads elsewhere stays (and makes the new ones versioned), and a pin no longer
// wanted is undone. Every upgrade keeps the autoupdate task, earns back a failed start of the autoupdate run, takes
// the profile to the installed language when the host lists the profile's or the user picked the installed one (a
// fallback does not replace one it lacks) and removes partner
// content the package no longer has; only one the user started (no autoupdate) records the import and statistics
// choices and clears the profile's statistics preference.
TEST_F(InstallerTest, UpgradeKeepsTheApplicationIdExperimentsAndShortcuts) {
  RegisterInstallerFeatures(base::FeatureList::GetInstance());
  SetTaskbarPinHookForTesting(RecordPinCall);
  test_support::UseRecordingTaskSchedulerForTesting(tasks_file());
  const base::FilePath profile = Folder(L"profile");
  MakePackage({.data_files = 1});
  const std::string stored_id = "1234567890";
  const std::wstring plain = ShortcutName(false);
  const std::wstring versioned = ShortcutName(true);
  const std::wstring pin = L"QuickLaunch\\User Pinned\\TaskBar\\" + plain;
  struct Row {
    const char* name;
    std::wstring switches = L"";
    Flags flags = {};
    bool from_controller = false;  // the switches are those a controller given only these hands its backend
    const wchar_t* picked = nullptr;  // the language the user picks in a controller's window, which hands it on
    bool test_experiment = true;
    std::array<std::wstring, 3> before = {};  // recorded desktop, start-menu and quick-launch shortcuts
    bool desktop_elsewhere = false;           // the recorded desktop shortcut leads to another program
    bool pinned = false;                      // a pin of the launcher is in the taskbar's folder
    std::array<std::wstring, 3> after = {};   // the log's shortcuts after the run
    std::set<std::wstring> kept = {};         // other files that stay
    std::vector<const char*> lines = {};
    bool prefs_held = false;  // the preferences file is held open without delete sharing, so it cannot be replaced
    const char* locale = "xx";     // the browser's language in the profile, which the host does not list
    bool locale_replaced = false;  // by the run's language
    std::wstring foreign = L"";    // another program's file, which keeps its bytes
  };
  const Row rows[] = {
      // First, while this process holds no feature state but the registered defaults, as a controller does.
      {.name = "the switches a controller hands on", .from_controller = true},
      {.name = "a language picked in the window replaces one the host does not list", .picked = L"de",
       .locale_replaced = true},
      {.name = "stored states"},
      {.name = "preferences that cannot be replaced", .prefs_held = true},
      {.name = "a switch overrides them", .switches = L"--with-feature:installer-experiment-test=off",
       .test_experiment = false},
      {.name = "autoupdate", .flags = {.autoupdate = true}},
      {.name = "versioned names move to this version's",
       .before = {L"UserDesktop\\Zorvi old 38.lnk", L"StartMenu\\Zorvi old 38.lnk", L"QuickLaunch\\Zorvi old 38.lnk"},
       .after = {L"UserDesktop\\" + versioned, L"StartMenu\\" + versioned, L"QuickLaunch\\" + versioned},
       .lines = {"Using shortcut names with version number", "Shortcuts needs to be renamed", "Moving shortcut"}},
      {.name = "another plain name moves to the plain name, which one already has",
       .before = {L"UserDesktop\\" + plain, L"StartMenu\\Zorvi.lnk", L""},
       .after = {L"UserDesktop\\" + plain, L"StartMenu\\" + plain, L""},
       .lines = {"Not using shortcut names with version number", "Shortcuts needs to be renamed", "Moving shortcut"}},
      {.name = "a rename onto another program's file stays as it was",
       .before = {L"", L"StartMenu\\Zorvi.lnk", L""}, .after = {L"", L"StartMenu\\Zorvi.lnk", L""},
       .kept = {L"StartMenu\\" + plain}, .lines = {"Moving shortcut", "Not replacing"},
       .foreign = L"StartMenu\\" + plain},
      {.name = "switched off goes, switched on comes", .switches = L"--desktopshortcut=0 --quicklaunchshortcut=1",
       .before = {L"UserDesktop\\" + plain, L"StartMenu\\" + plain, L""},
       .after = {L"", L"StartMenu\\" + plain, L"QuickLaunch\\" + plain},
       .lines = {"Handling desktop shortcut:", "Removing shortcut", "Handling quick launch shortcut:",
                 "Preparing to add shortcut"}},
      {.name = "a shortcut leading elsewhere stays", .switches = L"--desktopshortcut=1 --startmenushortcut=0",
       .before = {L"UserDesktop\\" + plain, L"StartMenu\\" + plain, L""}, .desktop_elsewhere = true,
       .after = {L"UserDesktop\\" + versioned, L"", L""}, .kept = {L"UserDesktop\\" + plain},
       .lines = {"Preparing to add shortcut", "Using version in shortcut name to avoid collision", "Removing shortcut"}},
      {.name = "a pin no longer wanted is undone", .switches = L"--pintotaskbar=0",
       .before = {L"", L"StartMenu\\" + plain, L""}, .pinned = true, .after = {L"", L"StartMenu\\" + plain, L""},
       .kept = {pin}, .lines = {"Handling pinned shortcut:", "Unpinning existing shortcut"}},
      {.name = "a language the host lists is replaced", .switches = L"--language=en-GB", .locale = "de",
       .locale_replaced = true},
  };
  const base::FilePath launcher = install_.Append(L"launcher.exe");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test_support::RemoveTree(shortcuts().value());
    ASSERT_TRUE(test_support::OverrideShortcutFolders(shortcuts().value()));
    PutExistingInstallation(stored_id, [&](InstallLog* log) {
      log->all_users = false;
      base::FilePath* slots[] = {&log->desktop_shortcut, &log->start_menu_shortcut, &log->quick_launch_shortcut};
      for (size_t i = 0; i < std::size(slots); ++i)
        *slots[i] = row.before[i].empty() ? base::FilePath() : shortcuts().Append(row.before[i]);
    });
    ASSERT_TRUE(test_support::WriteFileBytes(
        install_.Append(L"installer_prefs.json").value(),
        R"({"installer-experiments": ["installer-experiment-test@1"], "au_task_error_count": 3, "profile_path": )" +
            JsonPath(profile) + "}"));
    test_support::RemoveTree(profile.value());
    const std::string local_state = std::string(R"({"intl":{"app_locale":")") + row.locale + R"("}})";
    for (const auto& [file, text] : {std::pair(L"Preferences", R"({"keep":1,"statistics":{"collection_enabled":true}})"),
                                     std::pair(L"Local State", local_state.c_str()),
                                     std::pair(L"custom_partner_content.json", "{}")}) {
      ASSERT_TRUE(base::CreateDirectory(profile));
      ASSERT_TRUE(test_support::WriteFileBytes(profile.Append(file).value(), text));
    }
    DeleteFileW(tasks_file().value().c_str());
    for (size_t i = 0; i < row.before.size(); ++i) {
      if (!row.before[i].empty()) {
        MakeShortcutTo(shortcuts().Append(row.before[i]),
                       i == 0 && row.desktop_elsewhere ? Folder(L"elsewhere.exe") : launcher);
      }
    }
    if (row.pinned)
      MakeShortcutTo(shortcuts().Append(pin), launcher);
    if (!row.foreign.empty()) {
      ASSERT_TRUE(test_support::WriteFileBytes(shortcuts().Append(row.foreign).value(), kForeignBytes));
    }
    g_pin_calls.clear();
    std::wstring switches = row.switches + L" --launchzorvi=0";
    if (row.from_controller || row.picked) {
      ASSERT_TRUE(!row.from_controller || base::FeatureList::GetInstance()->overrides().empty());
      Prepare(switches);
      ASSERT_TRUE(!row.picked || settings_->SetInstallLanguage(row.picked));
      switches = settings_->ToCommandLine(false).GetArgumentsString();
    }
    Prepare(switches, row.flags);
    ASSERT_EQ(Settings::kOperationUpgrade, settings_->operation());
    test_support::ScopedLogCapture log;
    test_support::ScopedTestHandle held(
        row.prefs_held ? CreateFileW(install_.Append(L"installer_prefs.json").value().c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)
                       : nullptr);
    ASSERT_EQ(row.prefs_held, held.valid());
    EXPECT_EQ(Completed(package_->StepTotal(11)), Run());
    held.reset();
    EXPECT_EQ(row.prefs_held, log.HasLineStartingWith("Could not write the installer prefs"));
    EXPECT_TRUE(HasAutoupdateTask());
    const bool user_choices = !row.flags.autoupdate;
    const std::unique_ptr<base::DictionaryValue> prefs = ReadJson(install_.Append(L"installer_prefs.json"));
    int count = 0;
    EXPECT_TRUE(prefs->GetInteger("au_task_error_count", &count));
    EXPECT_EQ(row.prefs_held ? 3 : 2, count);
    const base::ListValue* experiments = nullptr;
    base::ListValue stored;
    if (row.test_experiment)
      stored.AppendString("installer-experiment-test@1");
    EXPECT_TRUE(prefs->GetList("installer-experiments", &experiments) && stored.Equals(experiments));
    EXPECT_EQ(user_choices && !row.prefs_held, prefs->HasKey("import_browser_data") && prefs->HasKey("enable_stats"));
    std::string language;
    EXPECT_TRUE(ReadJson(profile.Append(L"Local State"))->GetString("intl.app_locale", &language));
    EXPECT_EQ(row.locale_replaced ? base::WideToUTF8(settings_->install_language()) : row.locale, language);
    bool flagged = false;
    EXPECT_EQ(user_choices,
              ReadJson(profile.Append(L"Local State"))->GetBoolean("custom_partner_content.updated", &flagged) && flagged);
    EXPECT_EQ(user_choices, !base::PathExists(profile.Append(L"custom_partner_content.json")));
    const std::unique_ptr<base::DictionaryValue> profile_prefs = ReadJson(profile.Append(L"Preferences"));
    const base::Value* statistics = nullptr;
    EXPECT_EQ(!user_choices, profile_prefs->Get("statistics.collection_enabled", &statistics));
    EXPECT_TRUE(profile_prefs->HasKey("keep"));
    EXPECT_EQ(stored_id, installer_->install_log().app_id);
    EXPECT_EQ(Version() + L"_0", installer_->install_log().subfolder.value());
    EXPECT_EQ(row.test_experiment, base::FeatureList::GetInstance()->IsFeatureEnabled("installer-experiment-test"));
    EXPECT_EQ(row.test_experiment, log.HasLineStartingWith("Changing the status of the test experiment."));
    ExpectShortcuts(&installer_->install_log(), row.after, row.kept);
    EXPECT_EQ(row.pinned ? std::vector<std::wstring>{L"unpin " + shortcuts().Append(pin).value()}
                         : std::vector<std::wstring>{},
              g_pin_calls);
    for (const char* line : row.lines)
      EXPECT_TRUE(log.HasLineStartingWith(line)) << line;
    // No shortcut is moved onto itself.
    EXPECT_FALSE(log.HasLineStartingWith("File copy failed"));
    installer_.reset();
    ExpectShortcuts(nullptr, row.after, row.kept);
    EXPECT_TRUE(row.foreign.empty() || FileBytes(shortcuts().Append(row.foreign)) == kForeignBytes);
  }
}

// The per-user part that follows an elevated run finds the package's partner content in the version folder the
// elevated run made and logged: the profile keeps the content it already has, or gets it.
TEST_F(InstallerTest, ThePerUserPartAfterElevationKeepsThePackagesPartnerContent) {
  const base::FilePath profile = Folder(L"profile");
  const std::string content = R"({"partner": "package content )" + std::to_string(GetTickCount64()) + R"("})";
  for (const bool profile_has_it : {true, false}) {
    SCOPED_TRACE(profile_has_it ? "the profile has the content" : "the profile lacks it");
    PutExistingInstallation("7");
    const base::FilePath packaged = Subfolder().Append(L"resources\\custom_partner_content.json");
    ASSERT_TRUE(base::CreateDirectory(packaged.DirName()));
    ASSERT_TRUE(test_support::WriteFileBytes(packaged.value(), content));
    ASSERT_TRUE(test_support::WriteFileBytes(install_.Append(L"installer_prefs.json").value(),
                                             R"({"profile_path": )" + JsonPath(profile) + "}"));
    test_support::RemoveTree(profile.value());
    ASSERT_TRUE(base::CreateDirectory(profile));
    ASSERT_TRUE(test_support::WriteFileBytes(profile.Append(L"Local State").value(), "{}"));
    const base::FilePath in_profile = profile.Append(L"custom_partner_content.json");
    if (profile_has_it) {
      ASSERT_TRUE(base::CopyFile(packaged, in_profile));
    }
    Prepare(L"--post-elevated-install-tasks --copyonly=1 --launchzorvi=0");
    ASSERT_EQ(Settings::kOperationUpgrade, settings_->operation());
    EXPECT_EQ(Lines{kSuccess}, Run());
    EXPECT_EQ(content, FileBytes(in_profile));
    bool flagged = false;
    EXPECT_EQ(!profile_has_it, ReadJson(profile.Append(L"Local State"))
                                   ->GetBoolean("custom_partner_content.updated", &flagged) && flagged);
    installer_.reset();
  }
}

// The switches of the one run that the recorder in `records` recorded, which must be the installer of a package
// copy under `temp` that is gone now; none when nothing ran.
base::CommandLine::SwitchMap CopiedInstallerSwitches(const base::FilePath& records, const base::FilePath& temp) {
  const Lines lines = ReadLines(records.Append(L"handovers.txt"));
  if (lines.empty())
    return {};
  EXPECT_EQ(1u, lines.size());
  const size_t tab = lines[0].find('\t');
  const base::FilePath program(base::UTF8ToWide(lines[0].substr(0, tab)));
  const base::FilePath copy = program.DirName().DirName();
  EXPECT_EQ(L"installer.exe", program.BaseName().value());
  EXPECT_TRUE(base::StartsWith(copy.BaseName().value(), L"Zorvi package ", base::CompareCase::SENSITIVE)) << lines[0];
  EXPECT_EQ(0, base::FilePath::CompareIgnoreCase(temp.value(), copy.DirName().value())) << lines[0];
  EXPECT_FALSE(base::PathExists(copy)) << "the package copy is left";
  base::CommandLine command_line;
  command_line.ParseCommandLineString(base::UTF8ToWide(lines[0].substr(tab + 1)));
  return command_line.GetSwitches();
}

// The switches of the last command line a stand-in program (package_dummy_test_child.exe) recorded; empty when it
// never ran.
base::CommandLine::SwitchMap LastRecordedSwitches(const base::FilePath& program) {
  const Lines lines = ReadLines(program.AddExtension(L"commands.txt"));
  base::CommandLine command_line;
  if (!lines.empty())
    command_line.ParseCommandLineString(base::UTF8ToWide(lines.back()));
  return command_line.GetSwitches();
}

// Where a row's package-file hook puts its replacement, and the files it replaced (overwritten in place).
base::FilePath g_replacement;
std::vector<base::FilePath> g_replaced;

void ReplacePackageFileForTest(const base::FilePath& file) {
  if (test_support::TryToReplaceFile(file.value(), g_replacement.value()).overwrite_error == 0)
    g_replaced.push_back(file);
}

// A named event, set or not, with the security descriptor `sddl`; null: owned as a runner's (this process's token's
// default owner, named, as wine names none of its own accord).
HANDLE CreateOwnedEvent(const std::wstring& name, bool set, const wchar_t* sddl) {
  base::win::ScopedLocalMemory<> descriptor;
  const bool made = sddl ? ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                                descriptor.Receive(), nullptr) != FALSE
                         : MakeOwnOwnerDescriptor(&descriptor);
  EXPECT_TRUE(made);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
  return CreateEventW(&attributes, TRUE, set, name.c_str());
}

// The runs that hand their work to other installer processes: an elevated copy of the installation (the shell's
// elevation stands in as a hook that starts a recording program, or declines), and the package's installer once
// the runner says the package is ready. Each child is announced before it starts and after it ended, and each run
// ends with exactly one report, also when an elevated run and the package's installer follow each other. The
// package's installer learns that the run's write access is borrowed, and is started for the process the run was
// started for. A run stopped before a child would start ends without starting it, also when the stop is already set
// as the start opens its event or as the package is found ready. An elevated uninstallation leaves the survey page
// to this run. Where the machine keeps UAC on, a standard user who may not write the install folder gets it from the
// elevated folder-permission helper (the complete helper of folder_permission_test_child.exe, whose grace the test
// holds): the grant holds while the run lasts and through the grace after it, never released earlier, and the
// helper ends after the grace. A helper that ends without granting fails the run and changes nothing. A package made
// ready by another account (the ready event's owner is no account of this process's rights, or cannot be read) is
// used only as a checked copy of its package file: the program planted as its folder's installer never runs, nor
// does a package replaced as it is used, which fails the run. A run started from a ready package (the runner names
// its own installer) starts its elevated processes from the runner's installer, never from its folder; its elevated
// run waits for the package, so that for another account's package only the checked copy runs elevated, and the
// folder is left as it was.
TEST_F(InstallerTest, HandOversToElevatedAndPackageInstallers) {
  SetUacPolicy(1);
  SetElevatedLaunchHookForTesting(StartElevatedStandIn);
  // A product of the test's own: the post-elevation tasks register its browser class for the user.
  const std::wstring product = test_support::UniqueName(L"ZorviHandOver");
  SetBrandingTextForTesting(R"({"company_name": ")" + company() + R"(", "product_name": ")" +
                            base::WideToUTF8(product) + R"(", "file_name_base": "zorvi", )"
                            R"("urls": {"uninstall_survey": "https://survey.example/u/"}})");
  const std::wstring class_key = L"Software\\Classes\\" + product + base::UTF8ToWide(GetStreamName());
  MakePackage({.data_files = 1, .root_files = false});
  const base::FilePath elevated = Folder(L"elevated.exe");
  const base::FilePath handed = Folder(L"handed");
  const base::FilePath package_installer = handed.Append(L"installer.exe");
  const base::FilePath records = Folder(L"records");
  const base::FilePath temp = Folder(L"temp");
  CreateDirectoryW(records.value().c_str(), nullptr);
  // Another account's package: the fetcher's signed download beside its folder. What the user's process puts in its
  // place as it is used is no package.
  const base::FilePath network = base::FilePath(test_support::TestDataDir()).Append(L"network");
  g_replacement = Folder(L"not_a_package.exe");
  test_support::WriteFileBytes(g_replacement.value(), "MZ, but no program");
  ASSERT_TRUE(base::PathService::Override(base::kTempDir, temp));
  // Set by any other account: an owner no process of this one's rights gives, or one hidden from this process.
  const wchar_t kOtherAccount[] = L"O:S-1-5-21-1-2-3-1001D:(A;;GA;;;WD)";
  const wchar_t kHiddenOwner[] = L"O:S-1-5-21-1-2-3-1001D:(A;;0x100000;;;WD)";
  ASSERT_TRUE(CopyFileW(TestProgram(L"package_dummy_test_child.exe").value().c_str(), elevated.value().c_str(), FALSE));
  CreateDirectoryW(handed.value().c_str(), nullptr);
  const std::wstring wait = L" --wait-for-package=\"" + handed.value() + L"\"";
  const std::string starting = Recorder::StartingNewMainProcessLine(false);
  const std::string returned = Recorder::SimpleLine("OnReturnedToPreviousMainProcess");
  // When the package becomes ready, or the run is stopped instead: before the start, as the install folder is
  // reported ready (the thread having waited for a child meanwhile, the watcher's task is still to come), or both.
  enum Ready { kNoEvent, kBefore, kInterruptedBefore, kAtFolderReady, kInterruptedAtFolderReady, kInterruptedThenReady };
  const std::wstring started_name = test_support::UniqueName(L"grace_started");
  const std::wstring release_name = test_support::UniqueName(L"grace_release");
  const test_support::ScopedTestHandle started(CreateEventW(nullptr, TRUE, FALSE, started_name.c_str()));
  const test_support::ScopedTestHandle release(CreateEventW(nullptr, TRUE, FALSE, release_name.c_str()));
  struct Row {
    const char* name;
    std::wstring switches;
    AdminTokenSeam token;
    bool consent;
    int elevated_exit;  // the elevated stand-in's exit code
    int package_exit;   // the package installer's exit code; -1: there is none
    Ready ready;
    Lines expected;
    const wchar_t* helper = nullptr;  // the folder-permission helper a standard user denied the folder starts
    bool uninstall = false;           // of an installation for all users
    bool lent = true;                 // without a helper: the test lends the run a helper's grant
    const wchar_t* ready_owner = nullptr;  // the ready event's descriptor; null: this process's, as a runner's
    bool replaced = false;                 // the user replaces the package as it is used
    // The run is the backend a runner started from the ready package `handed` (elevated.exe standing in for the
    // runner's installer); the elevated run it asks for then runs here as an administrator, with what it was given.
    bool from_ready_package = false;
  };
  const Lines kFailed = Failure(kInstallerErrorGeneric, L"", "Installer process did not complete successfully.");
  const std::wstring initial = L" --initial-pid=" + std::to_wstring(GetCurrentProcessId());
  const Row rows[] = {
      {"elevated run", L"--allusers=1", AdminTokenSeam::kSplitAdministrator, true, 0, -1, kNoEvent,
       {starting, returned, kSuccess}},
      {"elevation declined", L"--allusers=1", AdminTokenSeam::kSplitAdministrator, false, 0, -1, kNoEvent,
       JoinLines({{starting}, Failure(kInstallerErrorElevation, L"", "Elevated installation failed.")})},
      {"elevated run failed", L"--allusers=1", AdminTokenSeam::kSplitAdministrator, true, 1, -1, kNoEvent,
       JoinLines({{starting, returned}, kFailed})},
      {"package ready before", wait, AdminTokenSeam::kNone, true, 0, 0, kBefore,
       {kFolderReady, starting, returned, kSuccess}},
      {"package ready later", wait, AdminTokenSeam::kNone, true, 0, 0, kAtFolderReady,
       {kFolderReady, starting, returned, kSuccess}},
      {"package ready before, the folder writable", wait, AdminTokenSeam::kNone, true, 0, 0, kBefore,
       {kFolderReady, starting, returned, kSuccess}, nullptr, false, false},
      {"interrupted while waiting", wait, AdminTokenSeam::kNone, true, 0, 0, kInterruptedAtFolderReady,
       {kFolderReady, Recorder::TerminatedLine(false)}},
      {"interrupted as the package became ready", wait, AdminTokenSeam::kNone, true, 0, 0, kInterruptedThenReady,
       {kFolderReady, Recorder::TerminatedLine(false)}},
      {"interrupted before an elevated run", L"--allusers=1", AdminTokenSeam::kSplitAdministrator, true, 0, -1,
       kInterruptedBefore, {Recorder::TerminatedLine(false)}},
      {"package installer failed", wait, AdminTokenSeam::kNone, true, 0, 1, kBefore,
       JoinLines({{kFolderReady, starting, returned}, kFailed})},
      {"package installer missing", wait, AdminTokenSeam::kNone, true, 0, -1, kBefore,
       JoinLines({{kFolderReady, starting, returned},
                  Failure(kInstallerErrorGeneric, L"", "Failed to start installer process from the package folder.")})},
      // The elevated run waited for the package and handed over; the user's part goes to the package too.
      {"elevated run, then the package", L"--allusers=1" + wait, AdminTokenSeam::kSplitAdministrator, true, 0, 0,
       kBefore, {starting, returned, starting, returned, kSuccess}},
      {"elevated run, then a failing package", L"--allusers=1" + wait, AdminTokenSeam::kSplitAdministrator, true, 0, 1,
       kBefore, JoinLines({{starting, returned, starting, returned}, kFailed})},
      // The elevated run's own hand-over: the package's installer is started for the same process.
      {"elevated run's hand-over", L"--allusers=1 --parent-pid=" + std::to_wstring(GetCurrentProcessId()) + wait,
       AdminTokenSeam::kNone, true, 0, 0, kBefore, {kFolderReady, starting, returned, kSuccess}},
      {"a helper that ends without granting", L"--allusers=0", AdminTokenSeam::kStandardUser, true, 0, -1, kNoEvent,
       Failure(kInstallerErrorGeneric, L"",
               "The process for giving us write permission to the installer folder didn't complete successfully"),
       L"package_dummy_test_child.exe"},
      // A runner names the run's initial process, whose user the helper grants: this one.
      {"the helper's grant", L"--allusers=0" + initial, AdminTokenSeam::kStandardUser, true, 0, -1, kNoEvent,
       Completed(package_->StepTotal(7)), L"folder_permission_test_child.exe"},
      {"the helper's grant to a run from a package",
       L"--allusers=0" + initial + L" --runner-installer=\"" + elevated.value() + L"\"",
       AdminTokenSeam::kStandardUser, true, 0, -1, kNoEvent, Completed(package_->StepTotal(7)),
       L"folder_permission_test_child.exe"},
      // Only the checked copy of another account's package runs, with the same switches; a package replaced as it is
      // used fails its checks, and nothing runs.
      {"another account's package", wait, AdminTokenSeam::kNone, true, 0, 0, kBefore,
       {kFolderReady, starting, returned, kSuccess}, nullptr, false, true, kOtherAccount},
      {"another account's package, its owner hidden", wait, AdminTokenSeam::kNone, true, 0, 0, kBefore,
       {kFolderReady, starting, returned, kSuccess}, nullptr, false, true, kHiddenOwner},
      {"another account's package replaced at its use", wait, AdminTokenSeam::kNone, true, 0, 0, kBefore,
       JoinLines({{kFolderReady}, Failure(kInstallerErrorGeneric, L"", "The package failed its checks.")}), nullptr,
       false, true, kOtherAccount, true},
      // Run from another account's ready package, the elevated run starts from the runner's installer and takes only
      // the checked copy; the folder's planted installer and files list stay unused and unchanged.
      {"elevated from another account's ready package", L"--allusers=1 --runner-installer=\"" + elevated.value() + L"\"",
       AdminTokenSeam::kSplitAdministrator, true, 0, 0, kBefore, {starting, returned, kSuccess}, nullptr, false, false,
       kOtherAccount, false, true},
      // The survey page is the user's: this run opens it once the elevated run has succeeded.
      {"elevated uninstallation", L"--uninstall --allusers=1", AdminTokenSeam::kSplitAdministrator, true, 0, -1,
       kNoEvent, {starting, returned, kSuccess}, nullptr, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test_support::RemoveTree(install_.value());
    for (const base::FilePath& program : {elevated, package_installer}) {
      DeleteFileW(program.AddExtension(L"commands.txt").value().c_str());
      DeleteFileW(program.AddExtension(L"exit_code").value().c_str());
    }
    test_support::WriteFileBytes(elevated.AddExtension(L"exit_code").value(), std::to_string(row.elevated_exit));
    DeleteFileW(package_installer.value().c_str());
    if (row.package_exit >= 0) {
      ASSERT_TRUE(CopyFileW(elevated.value().c_str(), package_installer.value().c_str(), FALSE));
      test_support::WriteFileBytes(package_installer.AddExtension(L"exit_code").value(),
                                   std::to_string(row.package_exit));
    }
    g_elevated_stand_in = row.helper ? TestProgram(row.helper) : row.consent ? elevated : base::FilePath();
    g_elevated_stand_in_switches = L"--grace-started=" + started_name + L" --grace-release=" + release_name;
    g_elevated_process.reset();
    SetAdminTokenSeamForTesting(row.token);
    SetFolderGrantRefusedForTesting(row.helper);
    if (row.helper)
      DenyWritingInstallFolder();
    // An uninstallation runs the installer of the installed version.
    ASSERT_TRUE(base::PathService::Override(base::kExeDir, row.uninstall            ? Subfolder()
                                                           : row.from_ready_package ? handed
                                                                                    : package_->folder()));
    if (row.uninstall)
      PutExistingInstallation("42", [](InstallLog* log) { log->all_users = true; });
    RecordDetachedStarts();
    g_elevated_program.clear();
    const std::wstring original = test_support::FileDaclSddl(install_.value());
    Prepare(row.switches, {.uninstall = row.uninstall});
    test_support::ScopedTestHandle ready;
    if (row.ready != kNoEvent && row.ready != kInterruptedBefore) {
      ready.reset(CreateOwnedEvent(GetPackageReadyEventName(install_),
                                   row.ready == kBefore || row.ready == kInterruptedThenReady, row.ready_owner));
    }
    DeleteFileW(handed.AddExtension(L"exe").value().c_str());
    DeleteFileW(records.Append(L"handovers.txt").value().c_str());
    if (row.ready_owner) {
      ASSERT_TRUE(base::CopyFile(network.Append(L"recorder_signed.exe"), handed.AddExtension(L"exe")));
    }
    // A files list of the planted program: an elevated run from the folder would install it.
    test_support::WriteFileBytes(handed.Append(kFilesListFileName).value(), "installer.exe\n");
    const std::map<std::string, std::string> user_folder = ReadTree(handed);
    g_replaced.clear();
    SetPackageFileUseHookForTesting(row.replaced ? ReplacePackageFileForTest : nullptr);
    const test_support::ScopedCurrentFolder current(records.value());
    test_support::ScopedLogCapture log;
    const bool interrupted = row.ready == kInterruptedBefore || row.ready >= kInterruptedAtFolderReady;
    if (row.ready == kInterruptedBefore)
      SetEvent(interrupted_.get());
    // A folder-permission helper's grant lasts until the run has ended, after the package's installer too.
    lent_.reset();
    if (!row.helper && row.lent)
      LendWriteAccess();
    std::vector<std::wstring> during;
    const Lines lines = Run([&](const std::string& line, size_t) {
      if (line == kStep)
        during.push_back(test_support::FileDaclSddl(install_.value()));
      EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(started.get(), 0)) << "released during the run";
      if (line == kFolderReady && row.ready >= kAtFolderReady)
        SetEvent(row.ready == kAtFolderReady ? ready.get() : interrupted_.get());
      if (line == returned) {
        EXPECT_FALSE(WriteAccessGivenBack()) << "released before the run ended";
      }
      return false;
    });
    EXPECT_EQ(row.expected, lines) << log.Text();
    EXPECT_EQ(!row.helper && row.lent, WriteAccessGivenBack()) << "not released at the end of the run";
    // An elevated process starts from this installer, or from the runner's when this one runs from a package.
    base::FilePath program;
    ASSERT_TRUE(base::PathService::Get(base::kExeFile, &program));
    if (!g_elevated_program.empty()) {
      EXPECT_EQ(row.switches.find(L"--runner-installer") != std::wstring::npos ? elevated : program,
                g_elevated_program);
    }
    if (row.from_ready_package) {
      const Lines elevated_run = ReadLines(elevated.AddExtension(L"commands.txt"));
      ASSERT_FALSE(elevated_run.empty());
      base::CommandLine command_line;
      command_line.ParseCommandLineString(base::UTF8ToWide(elevated_run.back()));
      SetAdminTokenSeamForTesting(AdminTokenSeam::kNone);
      Prepare(command_line.GetArgumentsString());
      EXPECT_EQ(Lines({kFolderReady, starting, returned, kSuccess}), Run()) << log.Text();
      EXPECT_EQ(user_folder, ReadTree(handed));
    }
    if (row.helper) {
      ASSERT_TRUE(g_elevated_process.valid());
      const bool granted = row.expected.back() == kSuccess;
      if (granted) {
        // Each step saw the grant, and it lasts into the grace that the end of the run started.
        ASSERT_FALSE(during.empty());
        EXPECT_NE(original, during.front());
        EXPECT_EQ(std::vector<std::wstring>(during.size(), during.front()), during);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(started.get(), ControllerProcess::kWaitLimitMs));
        EXPECT_EQ(during.front(), test_support::FileDaclSddl(install_.value()));
        SetEvent(release.get());
      }
      // The helper was asked for the product's grace (its exit code). Wine keeps a folder's list as mode bits and
      // gives the owner's write bit back to no list, so the restore itself is shown with another account (the
      // helper's own test).
      EXPECT_EQ(granted ? kFolderPermissionGraceMilliseconds : 0u, ControllerProcess::WaitFor(g_elevated_process.get()));
      if (!granted) {
        EXPECT_EQ(original, test_support::FileDaclSddl(install_.value()));
      }
      ResetEvent(started.get());
      ResetEvent(release.get());
      test_support::SetObjectDacl(install_.value(), SE_FILE_OBJECT, L"D:P(A;OICI;FA;;;WD)");
    }
    // The elevated run: the settings for the installer's own executable, with no browser started and this process
    // named as its parent; it waits for the package too when this run does.
    base::CommandLine::SwitchMap switches = LastRecordedSwitches(elevated);
    EXPECT_EQ(row.token == AdminTokenSeam::kSplitAdministrator && row.consent && !interrupted, !switches.empty());
    if (!switches.empty()) {
      EXPECT_TRUE(switches.count("backend"));
      // An uninstallation's settings never name the browser's start.
      EXPECT_EQ(row.uninstall ? L"" : L"0", switches["launchzorvi"]);
      EXPECT_EQ(std::to_wstring(GetCurrentProcessId()), switches["parent-pid"]);
      EXPECT_EQ(row.switches.find(L"--wait-for-package") != std::wstring::npos || row.from_ready_package
                    ? handed.value()
                    : L"",
                switches["wait-for-package"]);
    }
    // The package's installer: the settings, starting the browser as asked, and the user's part only after an
    // elevated run. Another account's planted one never runs: the copy's does, from a folder of its own under the
    // temporary folder, which is gone once the run ended.
    SetPackageFileUseHookForTesting(nullptr);
    switches = LastRecordedSwitches(package_installer);
    if (row.ready_owner) {
      EXPECT_TRUE(switches.empty()) << "the program planted in another account's package folder ran";
      switches = CopiedInstallerSwitches(records, temp);
      EXPECT_TRUE(log.HasLineStartingWith("The package was made ready by another account", logging::LOG_WARNING))
          << log.Text();
      EXPECT_EQ(row.ready_owner == kHiddenOwner,
                log.HasLineStartingWith("Cannot read the owner of the package ready event", logging::LOG_WARNING));
      EXPECT_EQ(row.replaced ? std::vector<base::FilePath>{handed.AddExtension(L"exe")}
                             : std::vector<base::FilePath>(),
                g_replaced);
      EXPECT_TRUE(base::FileEnumerator(temp, false, base::FileEnumerator::DIRECTORIES).Next().empty())
          << "a package copy is left";
    }
    EXPECT_EQ(row.package_exit >= 0 && !interrupted && !row.replaced, !switches.empty());
    if (!switches.empty()) {
      EXPECT_TRUE(switches.count("backend"));
      // The copy an elevated run started never starts the browser, and does no user's part.
      EXPECT_EQ(row.from_ready_package ? L"0" : L"1", switches["launchzorvi"]);
      EXPECT_EQ(L"0", switches["crash-reporter-pid"]);
      EXPECT_EQ(row.token != AdminTokenSeam::kNone && !row.from_ready_package,
                switches.count("post-elevated-install-tasks") == 1);
      // It gets no task for a folder it may write only with the grant this run holds.
      EXPECT_EQ(row.lent, switches.count("borrowed-write-access") == 1);
      // Started for another installer process, it is too.
      EXPECT_EQ(base::CommandLine::ForCurrentProcess()->GetSwitchValueNative("parent-pid"), switches["parent-pid"]);
    }
    // Only the elevated run's own post-elevation tasks register the browser class for this user (of the runs that
    // install nothing themselves).
    base::win::RegKey key;
    std::wstring type_name;
    const bool registered = key.Open(HKEY_CURRENT_USER, class_key.c_str(), KEY_READ) == ERROR_SUCCESS &&
                            key.ReadValue(L"FriendlyTypeName", &type_name) == ERROR_SUCCESS;
    key.Close();
    EXPECT_EQ(row.expected == Lines({starting, returned, kSuccess}) && !row.uninstall, registered && !row.helper);
    EXPECT_EQ(row.uninstall ? 1u : 0u, g_detached_starts.size());
    for (const auto& [kind, command_line] : g_detached_starts) {
      EXPECT_EQ(L"survey", kind);
      EXPECT_NE(std::wstring::npos, command_line.find(L" https://survey.example/u/?version=" + Version()))
          << command_line;
    }
    if (registered) {
      EXPECT_EQ(product + L" Web Document", type_name);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, class_key.c_str());
    installer_.reset();
  }
}

// Pinning follows the Windows version: the complete runs' table, run by a copy of this program that wine presents
// as another version, pins nowhere outside Windows 7 to 8.1 (this machine is Windows 7).
TEST(ShortcutPinVersionTest, PinsOnlyOnWindows7To81) {
  const struct {
    const wchar_t* version;
    bool declare_windows10;
    const char* offered;
  } rows[] = {{L"vista", false, "no"}, {L"win81", true, "yes"}, {L"win10", true, "no"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(row.version));
    std::string output;
    std::string error;
    EXPECT_TRUE(test_support::RunChildUnderWindowsVersion(
        L"desktop_launcher_installer_unittests.exe", row.version, row.declare_windows10,
        L"--gtest_filter=InstallerTest.CompleteRunsReportEveryStepOfTheirTotal", &output, &error, true))
        << error << output;
    EXPECT_NE(std::string::npos, output.find(std::string("pinning offered: ") + row.offered)) << output;
    EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test")) << output;
  }
}

TEST_F(InstallerTest, PlaceholderValues) {
  Installer installer;
  const struct {
    const wchar_t* name;
    std::wstring value;
  } rows[] = {
      {L"Version", Version()},
      {L"Executable", L"zorvi.exe"},
      {L"Product", L"Zorvi"},
      {L"CompanyRegistryKey", L"Software\\" + base::UTF8ToWide(company())},
      {L"Stream", base::UTF8ToWide(GetStreamName())},
      {L"Uninstall", L""},
      {L"SomethingElse", L"SomethingElse"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.value, installer.GetValue(row.name)) << row.name;
  EXPECT_EQ(nullptr, installer.GetRootValue(HKEY_CURRENT_USER));
}

class UninstallTest : public InstallerTest {
 protected:
  UninstallTest() {
    // The user's folders that the uninstallation may touch are the test's own.
    for (const auto& [key, name] : {std::pair(base::kAppData, L"AppData"), std::pair(base::kLocalAppData, L"Local"),
                                    std::pair(base::kHomeDir, L"home"), std::pair(base::kStartMenu, L"Programs")}) {
      EXPECT_TRUE(base::PathService::Override(key, Folder(name)));
      CreateDirectoryW(Folder(name).value().c_str(), nullptr);
    }
    EXPECT_TRUE(base::PathService::Override(base::kExeDir, Subfolder()));
  }

  // An installation of this version as the finalizing step leaves it, with every kind of file an uninstallation
  // removes, one listed file outside the install folder ("victim.txt", which must stay) and preferences that
  // stay.
  void PutInstallation(const std::string& preferences, const std::function<void(InstallLog*)>& edit = nullptr) {
    test_support::RemoveTree(install_.value());
    base::CreateDirectory(install_);
    PutLoggedFiles(install_.Append(kInstallLogFileName), Version(),
                   {L"installer.exe", L"zorvi.dll", L"zorvi.exe", L"data\\deep\\a b.txt", L"..\\..\\victim.txt",
                    L"..\\inside.txt"},
                   edit);
    for (const wchar_t* file : {L"launcher.exe", L"pref_default_overrides", L"zorvi.old", L"zorvi.exe"})
      ASSERT_TRUE(test_support::WriteFileBytes(install_.Append(file).value(), "x"));
    ASSERT_TRUE(test_support::WriteFileBytes(install_.Append(L"installer_prefs.json").value(), preferences));
  }
};

// An uninstallation removes the status file, the autoupdate task, the listed files, the root files, the launcher, the
// overrides, a kept-aside browser and the launcher's copy in its place, and tells every window that the start-menu
// clients changed; what is in use, also a root file or a file of the older version an upgrade kept, is left to the
// batch, which watches the run's processes and is started only without a folder-permission helper. The survey opens
// unless silent or started elevated for another process. Of the shortcuts it removes what the status found leading to
// the installation (the desktop and quick-launch shortcuts, the pin, the folder earlier installers used) and leaves one
// of the same name that leads elsewhere. A browser in use refuses the run, a status file that cannot be removed fails
// it; either changes nothing, the shortcuts and the pin included.
TEST_F(UninstallTest, LeavesOnlyWhatIsInUseToTheBatch) {
  SetTaskbarPinHookForTesting(EmulatePinCall);
  const std::wstring name = ShortcutName(false);
  const std::wstring elsewhere = L"StartMenu\\" + name;
  const base::FilePath earlier_folder = Folder(L"Programs\\Zorvi Software");
  SetBrandingTextForTesting(R"({"company_name": ")" + company() +
                            R"(", "product_name": "Zorvi", "file_name_base": "zorvi", "user_agent_name": "ZRV", )"
                            R"("urls": {"uninstall_survey": "https://survey.example/u/"}})");
  SetGlobalStorageMutexNameForTesting(test_support::UniqueName(L"gs").c_str());
  const base::FilePath profile = Folder(L"profile");
  base::FilePath program_files;
  ASSERT_TRUE(base::PathService::Get(base::kProgramFiles, &program_files));
  const bool in_private = base::win::GetVersion() >= base::win::VERSION_WIN8;
  const std::wstring browser = program_files.Append(L"Internet Explorer\\iexplore.exe").value();
  using Strings = std::vector<std::wstring>;
  const struct Row {
    const char* name;
    std::wstring switches;
    Flags flags;
    bool helper;
    uint32_t initial = 0, second = 0;  // the other processes the batch outlives
    base::FilePath held = {};  // held open besides the version's installer and library
    Lines failure = {};        // the whole record of a run that must fail
    // The user's autoupdate id, the query of the installation's welcome page and what the survey's address
    // carries of both.
    std::string uuid = "u-1", welcome_query = "from=mail", survey_query = "&uuid=u-1&from=mail";
    bool granted_for_good = false;  // the helper has ended already and cannot run the batch
    bool older_running = false;     // the browser of the version the last upgrade replaced still runs
    int refusals = 0;               // the quick-launch shortcut's removal is refused this many times (-1: always)
  } rows[] = {
      {"this process only", L"", {.uninstall = true}, false},
      {"initial and second process", L"--initial-pid=4242 --parent-pid=4343", {.uninstall = true}, false, 4242, 4343},
      {"silent, with a helper", L"--silent", {.uninstall = true, .silent = true}, true},
      {.name = "silent, with a helper that granted for good", .switches = L"--silent",
       .flags = {.uninstall = true, .silent = true}, .helper = true, .granted_for_good = true},
      {"status file held open", L"", {.uninstall = true}, false, 0, 0, install_.Append(kInstallLogFileName),
       JoinLines({{kFolderReady, Recorder::TotalStepsLine(6)}, Lines(3, kStep),
                  Failure(kInstallerErrorGeneric, L"", "Failed to remove installation status file")})},
      {"a root file in use", L"", {.uninstall = true}, false, 0, 0, install_.Append(L"zorvi_root.dll")},
      {"the browser in use", L"", {.uninstall = true}, false, 0, 0, Subfolder().Append(L"zorvi.exe"),
       JoinLines({{kFolderReady}, Failure(kInstallerErrorBrowserRunning, L"", "Can't uninstall when zorvi.exe is in use")})},
      {.name = "blanks, quotes and switches in the survey's values", .switches = L"", .flags = {.uninstall = true},
       .helper = false, .uuid = "x\" --some-switch=1 http://evil/ \xC3\xA9",
       .welcome_query = "a=1&b=\"c d\" --switch\t\xC3\xBC%41",
       .survey_query = "&uuid=x%22%20--some-switch%3D1%20http%3A%2F%2Fevil%2F%20%C3%A9"
                       "&a=1&b=%22c%20d%22%20--switch%09%C3%BC%41"},
      {.name = "an older version's browser still running", .switches = L"", .flags = {.uninstall = true},
       .helper = false, .older_running = true},
      {.name = "a shortcut held for a moment", .switches = L"--silent", .flags = {.uninstall = true, .silent = true},
       .helper = true, .refusals = 3},
      {.name = "a shortcut held for good", .switches = L"", .flags = {.uninstall = true}, .helper = false,
       .refusals = -1},
  };
  SetOperationFaultHookForTesting(RefuseHeldShortcut);
  SetMoveBackRetryDelayForTesting(0);
  StartMenuClientsListener shell;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordDetachedStarts();
    shell.Reset();
    ASSERT_EQ(GlobalStorage::kOk, GlobalStorage::GetInstance()->Write("UUID", row.uuid));
    std::string welcome_url;
    base::EscapeJsonStringImpl("https://welcome.example/?" + row.welcome_query, true, &welcome_url);
    const std::string preferences =
        R"({"welcome-url": )" + welcome_url + R"(, "profile_path": )" + JsonPath(profile) + "}";
    const std::wstring survey_url =
        L"https://survey.example/u/?version=" + Version() + base::UTF8ToWide(row.survey_query);
    test_support::RemoveTree(tasks_file().value());
    test_support::RemoveTree(shortcuts().value());
    PutInstallation(preferences, [&](InstallLog* log) {
      log->all_users = false;
      log->root_files = {base::FilePath(L"zorvi_root.dll")};
      log->desktop_shortcut = shortcuts().Append(L"UserDesktop").Append(name);
      log->start_menu_shortcut = shortcuts().Append(elsewhere);
      log->quick_launch_shortcut = shortcuts().Append(L"QuickLaunch").Append(name);
    });
    g_held_shortcut = shortcuts().Append(L"QuickLaunch").Append(name);
    g_refusals_left = row.refusals;
    const base::FilePath launcher = install_.Append(L"launcher.exe");
    for (const std::wstring& link :
         {L"UserDesktop\\" + name, L"QuickLaunch\\" + name, L"QuickLaunch\\User Pinned\\TaskBar\\" + name}) {
      MakeShortcutTo(shortcuts().Append(link), launcher);
    }
    MakeShortcutTo(shortcuts().Append(elsewhere), Folder(L"elsewhere.exe"));
    MakeShortcutTo(earlier_folder.Append(L"Zorvi.lnk"), launcher);
    ASSERT_TRUE(test_support::WriteFileBytes(install_.Append(L"zorvi_root.dll").value(), "r"));
    const base::FilePath older = install_.Append(L"36.0\\zorvi.exe");
    if (row.older_running && base::CreateDirectory(install_.Append(L"old_status")))
      PutLoggedFiles(install_.Append(L"old_status\\installation_status.xml.1"), L"36.0", {L"zorvi.exe", L"d\\c.txt"});
    const std::map<std::string, std::string> before = ReadTree(install_);
    const auto shortcuts_before = std::pair(ReadTree(shortcuts()), ReadTree(earlier_folder));
    const base::FilePath victim = Folder(L"victim.txt");
    ASSERT_TRUE(base::PathExists(victim));
    std::vector<std::unique_ptr<test_support::ScopedTestHandle>> held;
    for (const base::FilePath& file : {Subfolder().Append(L"installer.exe"), Subfolder().Append(L"zorvi.dll"), row.held,
                                       row.older_running ? older : base::FilePath()}) {
      if (!file.empty())
        held.push_back(std::make_unique<test_support::ScopedTestHandle>(CreateFileW(
            file.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)));
    }
    test_support::ScopedLogCapture log;
    Prepare(L"--uninstall " + row.switches, row.flags);
    ASSERT_EQ(Settings::kOperationUninstall, settings_->operation());
    if (row.helper)
      LendWriteAccess(row.granted_for_good);
    const Lines lines = Run();
    installer_.reset();
    held.clear();
    EXPECT_TRUE(base::PathExists(victim));
    EXPECT_EQ(row.failure.empty(), log.HasLineStartingWith("Skipping " + base::WideToUTF8(Version()) +
                                                           "\\..\\..\\victim.txt: not a path inside"));
    if (!row.failure.empty()) {
      EXPECT_EQ(row.failure, lines);
      EXPECT_EQ(before, ReadTree(install_));
      EXPECT_EQ(shortcuts_before, std::pair(ReadTree(shortcuts()), ReadTree(earlier_folder)));
      EXPECT_TRUE(g_detached_starts.empty());
      EXPECT_FALSE(base::PathExists(tasks_file())) << "the task is removed after the status file";
      continue;
    }
    EXPECT_EQ(Completed(6), lines);
    // Other programs learn that the browser is no longer among the start-menu clients.
    EXPECT_TRUE(shell.Heard());
    for (const char* line : {"Removing shortctus.", "Unpinning shortcut.", "Removing desktop shortcut.",
                             "Removing quick launch shortcut.", "Removing temporary shortcut folder."}) {
      EXPECT_TRUE(log.HasLineStartingWith(line)) << line;
    }
    EXPECT_FALSE(log.HasLineStartingWith("Removing start menu shortcut."));
    // A shortcut held for good stays, told as an error; one let go is removed.
    const bool held_for_good = row.refusals < 0;
    EXPECT_EQ(held_for_good,
              log.HasLineStartingWith("Could not remove " + g_held_shortcut.AsUTF8(), logging::LOG_ERROR));
    std::set<std::wstring> shortcuts_left = {elsewhere};
    if (held_for_good)
      shortcuts_left.insert(L"QuickLaunch\\" + name);
    EXPECT_EQ(shortcuts_left, FilesBelow(shortcuts()));
    EXPECT_FALSE(base::PathExists(earlier_folder));
    std::vector<std::pair<std::wstring, std::wstring>> starts;
    if (!row.helper || row.granted_for_good)
      starts.emplace_back(L"batch", L"\"" + install_.Append(L"k.bat").value() + L"\"");
    // A run started elevated for another process leaves the survey to that one.
    if (!row.flags.silent && row.switches.find(L"--parent-pid") == std::wstring::npos)
      starts.emplace_back(L"survey", L"\"" + browser + L"\"" + (in_private ? L" -private " : L" ") + survey_url);
    std::sort(starts.begin(), starts.end());
    std::sort(g_detached_starts.begin(), g_detached_starts.end());
    EXPECT_EQ(starts, g_detached_starts);
    // The browser takes the address as one argument, whatever the values held.
    for (int count = 0; const auto& [kind, command_line] : g_detached_starts) {
      const base::win::ScopedLocalMemory<wchar_t*> arguments(
          kind == L"survey" ? CommandLineToArgvW(command_line.c_str(), &count) : nullptr);
      ASSERT_TRUE(kind != L"survey" || arguments.IsValid());
      if (arguments.IsValid()) {
        EXPECT_EQ(in_private ? Strings({browser, L"-private", survey_url}) : Strings({browser, survey_url}),
                  Strings(arguments.Get(), arguments.Get() + count));
      }
    }
    std::string batch;
    ASSERT_TRUE(test_support::ReadFileBytes(install_.Append(L"k.bat").value(), &batch));
    // The batch's text for given processes and files is proven on its own; here what the run handed it.
    UninstallBatch expected(install_);
    expected.SetWatchedProcesses(GetCurrentProcessId(), row.initial, row.second);
    EXPECT_TRUE(!row.older_running || expected.AddLeftoverFile(older));
    EXPECT_TRUE(expected.AddLeftoverFile(Subfolder().Append(L"installer.exe")));
    EXPECT_TRUE(expected.AddLeftoverFile(Subfolder().Append(L"zorvi.dll")));
    // Of the rows that succeed, only those holding a root file hold something besides.
    EXPECT_TRUE(row.held.empty() || expected.AddLeftoverFile(row.held));
    EXPECT_EQ(expected.Format(), batch);
    const std::string version = base::WideToUTF8(Version());
    std::map<std::string, std::string> after = ReadTree(install_);
    after.erase("k.bat");
    std::map<std::string, std::string> left = {{"installer_prefs.json", before.at("installer_prefs.json")},
                                               {version + "\\", ""},
                                               {version + "\\installer.exe", before.at(version + "\\installer.exe")},
                                               {version + "\\zorvi.dll", before.at(version + "\\zorvi.dll")}};
    if (row.older_running)
      left.insert({{"36.0\\", ""}, {"36.0\\zorvi.exe", before.at("36.0\\zorvi.exe")}});
    if (!row.held.empty())
      left.insert({row.held.BaseName().AsUTF8(), before.at(row.held.BaseName().AsUTF8())});
    EXPECT_EQ(left, after);
    // The scheduler's calls, each made by this process and done.
    const std::string call = R"({"process": )" + std::to_string(GetCurrentProcessId()) + R"(, "result": true, "call": )";
    const std::unique_ptr<base::Value> calls = base::JsonReader::Read(
        "[" + call + R"("Init"}, )" + call + R"("RemoveStale"}, )" + call + R"("Delete", "suffix": "Autoupdate 42"}])");
    const std::unique_ptr<base::DictionaryValue> record = ReadJson(tasks_file());
    const base::Value* recorded = nullptr;
    ASSERT_TRUE(record->Get("calls", &recorded));
    std::string json;
    EXPECT_TRUE(calls && calls->Equals(recorded)) << base::JsonWriter::Write(*recorded, &json) << json;
  }
}

// "--deleteuserprofile" deletes the profile folder the installation names, and with the default location its twin
// below the local application data; never a folder that is not a profile's: relative, with "..", a known folder,
// one holding a known folder or the installation, in whatever spelling, nor one that is or lies beyond a link (the
// home folder here lies beside a Linux symbolic link to its folder, which wine shows as a reparse point). A run
// started elevated for another process (its "parent-pid") deletes only when it runs as that process's account,
// which a process that cannot be read is not known to be; a folder-permission helper's account (perhaps an
// administrator's) does not count.
TEST_F(UninstallTest, ProfileDeletionRefusesWhatIsNoProfile) {
  RecordDetachedStarts();
  const base::FilePath root(root_.path());
  const base::FilePath app_data = root.Append(L"AppData");
  const base::FilePath local = root.Append(L"Local");
  const base::FilePath elsewhere = root.Append(L"elsewhere\\profile");
  const base::FilePath links = base::FilePath(test_support::TestDataDir()).Append(L"reparse\\profile");
  const base::FilePath home = links.Append(L"parent\\home");
  ASSERT_TRUE(base::PathService::Override(base::kHomeDir, home));
  std::wstring short_app_data(MAX_PATH, L'\0');
  short_app_data.resize(GetShortPathNameW(app_data.value().c_str(), short_app_data.data(), MAX_PATH));
  ASSERT_FALSE(short_app_data.empty());
  std::wstring capital_app_data = app_data.value();
  std::transform(capital_app_data.begin(), capital_app_data.end(), capital_app_data.begin(),
                 [](wchar_t c) { return base::ToUpperASCII(c); });
  // Each row: the branding's template, "profile_path", and which of the sentinel folders are gone afterwards.
  const struct Row {
    const char* name;
    std::string profile_template;
    std::wstring profile_path;
    std::vector<base::FilePath> gone;
    DWORD parent = 0;  // "parent-pid"
    DWORD helper = 0;  // the folder-permission helper's process, which lent the run write access
  } rows[] = {
      {"no template, no path", "", L"", {}},
      {"the default location and its twin", "Zorvi\\\\User Data", L"",
       {app_data.Append(L"Zorvi\\User Data"), local.Append(L"Zorvi\\User Data")}},
      {"a named folder, no twin", "Zorvi\\\\User Data", elsewhere.value(), {elsewhere}},
      {"run for a process of this account", "", elsewhere.value(), {elsewhere}, GetCurrentProcessId()},
      {"run for a process that cannot be read", "", elsewhere.value(), {}, 3},  // no process id is odd
      {"a helper that cannot be read", "", elsewhere.value(), {elsewhere}, 0, 3},
      {"relative", "", L"Zorvi\\User Data", {}},
      {"with ..", "", app_data.Append(L"Zorvi\\..\\Zorvi\\User Data").value(), {}},
      {"the application data itself", "", app_data.value(), {}},
      {"a folder holding the application data", "", root.value(), {}},
      {"the installation", "", install_.value(), {}},
      {"the installation's parent", "", install_.DirName().value(), {}},
      // A deletion would take a pattern for the files it matches.
      {"a wildcard", "", root.Append(L"elsewhere\\*").value(), {}},
      {"a single-character wildcard", "", root.Append(L"elsewhere\\pro?ile").value(), {}},
      // Other spellings of a known folder, each of which the system takes for it.
      {"the application data in capitals", "", capital_app_data, {}},
      {"the application data with a trailing separator", "", app_data.value() + L"\\", {}},
      {"the application data with a trailing dot", "", app_data.value() + L".", {}},
      {"the application data in the long-path form", "", L"\\\\?\\" + app_data.value(), {}},
      {"the application data by its short name", "", short_app_data, {}},
      {"the home folder beyond a link", "", links.Append(L"to_parent\\home").value(), {}},
      {"a link to the folder holding the home folder", "", links.Append(L"to_parent").value(), {}},
  };
  const std::vector<base::FilePath> sentinels = {app_data.Append(L"Zorvi\\User Data"), app_data.Append(L"Zorvi\\other"),
                                                 local.Append(L"Zorvi\\User Data"), local.Append(L"Zorvi\\other"),
                                                 elsewhere, home};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetBrandingTextForTesting(R"({"company_name": ")" + company() +
                              R"(", "product_name": "Zorvi", "file_name_base": "zorvi", "user_agent_name": "ZRV", )"
                              R"("default_profile_path_template": ")" + row.profile_template + R"("})");
    PutInstallation(row.profile_path.empty() ? "{}"
                                             : R"({"profile_path": )" + JsonPath(base::FilePath(row.profile_path)) + "}");
    for (const base::FilePath& folder : sentinels) {
      base::CreateDirectory(folder);
      ASSERT_TRUE(test_support::WriteFileBytes(folder.Append(L"sentinel").value(), "s"));
    }
    test_support::ScopedLogCapture log;
    Prepare(L"--uninstall --deleteuserprofile=1" +
                (row.parent ? L" --parent-pid=" + std::to_wstring(row.parent) : std::wstring()),
            {.uninstall = true});
    ASSERT_TRUE(settings_->delete_profile());
    if (row.helper)
      LendWriteAccess(true, row.helper);
    EXPECT_EQ(Completed(6), Run());
    for (const base::FilePath& folder : sentinels) {
      const bool gone = std::find(row.gone.begin(), row.gone.end(), folder) != row.gone.end();
      EXPECT_EQ(!gone, base::PathExists(folder.Append(L"sentinel"))) << folder.value();
    }
    EXPECT_EQ(row.gone.empty() && !row.profile_path.empty(), log.HasLineStartingWith("Not deleting the user profile"));
  }
}

// A folder a run's hook swaps for a decoy once, when the run reaches the path `at` (through the hooks below).
struct FolderSwap {
  std::wstring at, folder, decoy;
  bool swapped = false;
} g_swap;

void SwapOnReaching(const std::wstring& path) {
  if (!g_swap.at.empty() && path == g_swap.at) {
    g_swap.swapped = test_support::SwapFolderForTest(g_swap.folder, g_swap.decoy);
    g_swap.at.clear();
  }
}
void SwapAtCheckedPath(const base::FilePath& path) {
  SwapOnReaching(path.value());
}
bool SwapAtOperation(const Operation*, const std::wstring& target) {
  SwapOnReaching(target);
  return false;
}

// The profile is deleted by handle: a subfolder swapped, after the walk listed it and just before it opens it, for a
// folder holding a link of the name of the subfolder's own subfolder (wine shows the Linux symbolic link as a reparse
// point) leads nowhere: neither the decoy nor what its link leads to is touched (the area's check compares that with
// sha256sum), and the rest of the profile goes.
TEST_F(UninstallTest, ProfileSubfolderSwappedDuringTheWalkLeadsNowhere) {
  RecordDetachedStarts();
  const base::FilePath links = base::FilePath(test_support::TestDataDir()).Append(L"reparse\\profile");
  const base::FilePath profile = links.Append(test_support::UniqueName(L"profile"));
  const base::FilePath cache = profile.Append(L"Cache");
  const base::FilePath decoy = links.Append(L"decoy");
  const base::FilePath beyond_link = links.Append(L"outside\\kept.txt");
  std::string kept_before;
  ASSERT_TRUE(base::ReadFileToString(beyond_link, &kept_before));
  const std::vector<base::FilePath> files = {cache.Append(L"Inner\\kept.txt"), cache.Append(L"other.txt"),
                                             profile.Append(L"Preferences"), profile.Append(L"Default\\History")};
  for (const base::FilePath& file : files) {
    ASSERT_TRUE(base::CreateDirectory(file.DirName()));
    ASSERT_TRUE(test_support::WriteFileBytes(file.value(), "profile"));
  }
  SetBrandingTextForTesting(R"({"company_name": ")" + company() +
                            R"(", "product_name": "Zorvi", "file_name_base": "zorvi", "user_agent_name": "ZRV"})");
  PutInstallation(R"({"profile_path": )" + JsonPath(profile) + "}");
  g_swap = {cache.value(), cache.value(), decoy.value()};
  SetCheckedPathUseHookForTesting(SwapAtCheckedPath);
  test_support::ScopedLogCapture log;
  Prepare(L"--uninstall --deleteuserprofile=1", {.uninstall = true});
  EXPECT_EQ(Completed(6), Run());
  SetCheckedPathUseHookForTesting(nullptr);
  EXPECT_TRUE(g_swap.swapped) << "the walk never reached the subfolder";
  if (g_swap.swapped) {
    EXPECT_TRUE(test_support::SwapBackFolderForTest(cache.value(), decoy.value()));
  }
  std::string kept_after;
  EXPECT_TRUE(base::ReadFileToString(beyond_link, &kept_after) && kept_after == kept_before) << kept_after;
  EXPECT_TRUE(base::PathExists(decoy.Append(L"Inner")));
  EXPECT_TRUE(log.HasLineStartingWith("Could not delete all of the user profile"));
  EXPECT_FALSE(base::PathExists(profile.Append(L"Preferences")));
  EXPECT_FALSE(base::PathExists(profile.Append(L"Default")));
  test_support::RemoveTree(profile.value());
}

// The installation's files go through handles held from the installation folder down: a subfolder swapped, as the
// deletion of a file beside it begins, for a folder holding a link of the name of its own subfolder leads nowhere.
// Neither the decoy nor what its link leads to (a file of the installed file's name) is touched (the area's check
// compares them with sha256sum), and the run ends as it would with the file in use.
TEST_F(UninstallTest, InstallationSubfolderSwappedDuringTheDeletionLeadsNowhere) {
  RecordDetachedStarts();
  const base::FilePath links = base::FilePath(test_support::TestDataDir()).Append(L"reparse\\uninstall");
  const base::FilePath beyond_link = links.Append(L"outside\\a b.txt");
  std::string kept_before;
  ASSERT_TRUE(base::ReadFileToString(beyond_link, &kept_before));
  // Beside the decoy, so that the swap is a rename on one volume.
  install_ = links.Append(test_support::UniqueName(L"installation"));
  ASSERT_TRUE(base::PathService::Override(base::kExeDir, Subfolder()));
  PutInstallation("{}");
  const base::FilePath data = install_.Append(Version()).Append(L"data");
  g_swap = {install_.Append(Version()).Append(L"zorvi.dll").value(), data.value(), links.Append(L"decoy").value()};
  SetOperationFaultHookForTesting(SwapAtOperation);
  test_support::ScopedLogCapture log;
  Prepare(L"--uninstall", {.uninstall = true});
  const Lines lines = Run();
  installer_.reset();
  SetOperationFaultHookForTesting(nullptr);
  EXPECT_TRUE(g_swap.swapped) << "the deletion never reached the file, or the folder could not be swapped";
  if (g_swap.swapped) {
    EXPECT_TRUE(test_support::SwapBackFolderForTest(data.value(), g_swap.decoy));
  }
  std::string kept_after;
  EXPECT_TRUE(base::ReadFileToString(beyond_link, &kept_after) && kept_after == kept_before) << log.Text();
  EXPECT_TRUE(base::PathExists(links.Append(L"decoy\\deep")));
  EXPECT_TRUE(log.HasLineStartingWith("Refused to remove " + base::WideToUTF8(data.value()), logging::LOG_ERROR));
  EXPECT_EQ(Completed(6), lines) << log.Text();
  test_support::RemoveTree(install_.value());
}

// A status log whose subfolder leads out of the installation has the uninstallation touch nothing out there, the
// check for a running browser included: a file of the browser's name beside the installation stays.
TEST_F(UninstallTest, SubfolderLeadingOutTouchesNothingOutside) {
  RecordDetachedStarts();
  const base::FilePath outside = install_.DirName().Append(L"zorvi.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(outside.value(), "another program"));
  PutInstallation("{}", [](InstallLog* log) { log->subfolder = base::FilePath(L".."); });
  test_support::ScopedLogCapture log;
  Prepare(L"--uninstall", {.uninstall = true});
  EXPECT_EQ(Completed(6), Run());
  installer_.reset();
  std::string bytes;
  EXPECT_TRUE(test_support::ReadFileBytes(outside.value(), &bytes) && bytes == "another program") << bytes;
  EXPECT_TRUE(log.HasLineStartingWith("Skipping ..\\zorvi.exe: not a path inside"));
}

// Each kind of run, stopped at every step it reports (the k-th report takes the interruption, as the controller's
// Stop at that step is taken), ends with exactly k steps and one terminal report, never a success; where the
// controller dies at the k-th step instead, the Installer goes with the next task queued and reports nothing more.
// Either way the machine is left as it was: the install folder with its older versions, the user's folder holding it
// and the user's empty folder beside it, the shortcut folders and the pin, the start menu, the user's application data and profile, the task store, the last install path
// and the keys a second per-user installation in another folder wrote over this one's (which an uninstallation run
// to its end also leaves byte for byte, as reg.exe exports them); a
// folder-permission helper's grant ends with the run. So does a copy that fails at any file of either list, whether the
// file is missing from the package or held open by another process, reporting the destination.
// An upgrade run to its end removes each older version that its old status log records, whole or not at all: a
// version with a file in use keeps its files and log, an unreadable log stays, a listed path outside the installation
// is never touched, and only the retired companion shortcuts leave the start menu. Neither it nor an uninstallation
// run to its end removes the user's folders around the installation.
enum class RunKind { kInstall, kUpgrade, kUninstall };
struct EveryStepRun {
  const char* name;
  RunKind kind;
  bool helper = false;  // a folder-permission helper lent the run its write access
  bool death = false;   // the controller dies instead of stopping the run
  enum { kNoFault, kMissing, kHeld } copy_fault = kNoFault;  // the k-th file to copy fails instead
};

void PrintTo(const EveryStepRun& run, std::ostream* out) {
  *out << run.name;
}

// The installation lies in a folder of the user's that holds nothing else but an empty folder of the user's beside
// it: both belong to the user, whatever a run does to the installation.
class EveryStepTest : public UninstallTest, public testing::WithParamInterface<EveryStepRun> {
 protected:
  EveryStepTest() {
    install_ = user_folder().Append(L"Zorvi");
    EXPECT_TRUE(base::CreateDirectory(user_folder().Append(L"Empty beside")));
    EXPECT_TRUE(base::PathService::Override(base::kExeDir, Subfolder()));
  }

  base::FilePath user_folder() const { return Folder(L"User apps"); }
  // The start-menu client's key, which every per-user installation of the stream writes in the user's hive.
  std::wstring Client() const {
    return L"Software\\Clients\\StartMenuInternet\\" + base::UTF8ToWide(GetProductName() + GetStreamName());
  }
  // A second per-user installation of the stream, in another folder, wrote the client's keys after this one: its
  // values name its own folder, beside a value both write alike.
  void PutSecondInstallationKeys() const {
    const std::wstring second = Folder(L"Other apps\\Zorvi").Append(L"launcher.exe").value();
    RegDeleteTreeW(HKEY_CURRENT_USER, Client().c_str());
    for (const auto& [key, data] : SharedKeyValues(second)) {
      base::win::RegKey written;
      ASSERT_EQ(ERROR_SUCCESS, written.Create(HKEY_CURRENT_USER, key.c_str(), KEY_SET_VALUE));
      ASSERT_EQ(ERROR_SUCCESS, written.WriteValue(nullptr, data.c_str()));
    }
  }
  // The same keys as this installation's log recorded them, naming its own launcher.
  void RecordSharedKeys(InstallLog* log) const {
    for (const auto& [key, data] : SharedKeyValues(install_.Append(L"launcher.exe").value())) {
      const int clean_level = key == Client() ? 1 : 2;
      log->user_keys.push_back({clean_level, base::WideToUTF8(key), {{"REG_SZ", "", base::WideToUTF8(data)}}});
    }
  }
  std::vector<std::pair<std::wstring, std::wstring>> SharedKeyValues(const std::wstring& launcher) const {
    return {{Client(), L"Zorvi"},
            {Client() + L"\\DefaultIcon", launcher + L",0"},
            {Client() + L"\\shell\\open\\command", L"\"" + launcher + L"\""}};
  }
};

int g_interrupt_at = 0;
std::function<void()> g_at_interruption;
bool InterruptAtChosenStep(int steps_reported, HANDLE) {
  if (steps_reported != g_interrupt_at)
    return false;
  g_at_interruption();
  return true;
}

TEST_P(EveryStepTest, FailureAtEveryStepLeavesMachineAsBefore) {
  RecordDetachedStarts();
  SetStepReportedHookForTesting(InterruptAtChosenStep);
  SetTaskbarPinHookForTesting(EmulatePinCall);
  const base::FilePath root(root_.path());
  const base::FilePath profile = root.Append(L"profile");
  const std::string preferences = R"({"profile_path": )" + JsonPath(profile) + "}";
  const std::vector<base::FilePath> watched = {root.Append(L"AppData"), root.Append(L"Local"), root.Append(L"Programs"),
                                               profile, shortcuts()};
  // The earlier installation's shortcuts (desktop, start menu, quick launch) and pin, under names an upgrade moves
  // and an uninstallation removes.
  std::vector<base::FilePath> old_links;
  for (const int key : {base::kUserDesktop, base::kStartMenu, base::kUserQuickLaunch, base::kTaskbarPins}) {
    old_links.emplace_back();
    ASSERT_TRUE(base::PathService::Get(key, &old_links.back()));
    old_links.back() = old_links.back().Append(L"Zorvi old 38.lnk");
  }
  const auto record_shortcuts = [&](InstallLog* log) {
    RecordSharedKeys(log);
    log->all_users = false;
    log->desktop_shortcut = old_links[0];
    log->start_menu_shortcut = old_links[1];
    log->quick_launch_shortcut = old_links[2];
  };
  const RunKind kind = GetParam().kind;
  MakePackage({.data_files = 2});
  if (kind == RunKind::kUninstall) {
    ASSERT_TRUE(base::PathService::Override(base::kExeDir, Subfolder()));
  }
  auto prepare_machine = [&] {
    test_support::RemoveTree(shortcuts().value());
    for (const base::FilePath& link : old_links)
      ASSERT_TRUE(base::CreateDirectory(link.DirName()));
    if (kind == RunKind::kInstall) {
      PutEarlierRootFile();
    } else if (kind == RunKind::kUpgrade) {
      PutExistingInstallation("7", record_shortcuts);
      const base::FilePath old_status = install_.Append(L"old_status");
      base::CreateDirectory(old_status);
      PutLoggedFiles(old_status.Append(L"installation_status.xml.1"), L"37.0",
                     {L"a.exe", L"d\\b.txt", L"..\\..\\..\\victim.txt"});
      PutLoggedFiles(old_status.Append(L"installation_status.xml.2"), L"36.0", {L"in use.exe", L"c.txt"});
      ASSERT_TRUE(test_support::WriteFileBytes(old_status.Append(L"installation_status.xml.3").value(), "<broken"));
      ASSERT_TRUE(test_support::WriteFileBytes(old_status.Append(L"notes.txt").value(), "kept"));
    } else {
      PutInstallation(preferences, record_shortcuts);
    }
    if (kind != RunKind::kInstall) {
      for (const base::FilePath& link : old_links)
        MakeShortcutTo(link, install_.Append(L"launcher.exe"));
    }
    for (const wchar_t* name : {L"Zorvi Companion.lnk", L"Zorvi Companion (2).lnk", L"Zorvi.lnk", L"other.lnk"})
      ASSERT_TRUE(test_support::WriteFileBytes(root.Append(L"Programs").Append(name).value(), "lnk"));
    base::CreateDirectory(profile);
    ASSERT_TRUE(test_support::WriteFileBytes(profile.Append(L"Preferences").value(), "{}"));
    ASSERT_TRUE(test_support::WriteFileBytes(tasks_file().value(), R"({"tasks": {}})"));
    PutSecondInstallationKeys();
  };
  // An older version in use during an upgrade.
  const auto hold_in_use = [&] {
    return kind != RunKind::kUpgrade ? nullptr
                                     : CreateFileW(install_.Append(L"36.0\\in use.exe").value().c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  auto snapshot = [&] {
    std::vector<std::map<std::string, std::string>> trees = {ReadTree(user_folder())};
    for (const base::FilePath& folder : watched)
      trees.push_back(ReadTree(folder));
    // The registered tasks; the calls the run made to look at them change nothing.
    std::string tasks;
    const std::unique_ptr<base::DictionaryValue> record = ReadJson(tasks_file());
    const base::Value* registered = nullptr;
    if (record && record->Get("tasks", &registered))
      base::JsonWriter::Write(*registered, &tasks);
    return std::make_tuple(trees, tasks, LastInstallPathValue(), ValuesBelow(HKEY_CURRENT_USER, Client(), true));
  };
  const struct {
    const wchar_t* switches;
    Flags flags;
    int steps;
  } runs[] = {{L"--allusers=0", {}, 7}, {L"--allusers=0", {}, 11},
              {L"--uninstall --deleteuserprofile=1", {.uninstall = true}, 5}};
  const auto& run = runs[static_cast<int>(kind)];
  const int total = kind == RunKind::kUninstall ? 6 : package_->StepTotal(run.steps);
  // The interruptions that met the shortcuts changed (made, moved, removed or pinned), for the rollback to undo.
  const auto shortcut_folders = [&] { return std::pair(ReadTree(shortcuts()), ReadTree(root.Append(L"Programs"))); };
  int shortcuts_changed = 0;
  std::vector<std::pair<std::string, base::FilePath>> copied;  // each file to copy, and where it goes
  for (const std::string& file : package_->files())
    copied.emplace_back(file, Subfolder().Append(base::UTF8ToWide(file)));
  for (const std::string& file : package_->root_files())
    copied.emplace_back(file, install_.Append(base::UTF8ToWide(file)));
  const auto fault = GetParam().copy_fault;
  // The last step reports itself and the success in one task, so the controller can die no later than the step
  // before it.
  for (int k = 1; k <= (fault ? static_cast<int>(copied.size()) : total - GetParam().death); ++k) {
    SCOPED_TRACE(fault ? "failing at " + copied[k - 1].first : "interrupted at step " + std::to_string(k));
    const base::FilePath source = package_->folder().Append(base::UTF8ToWide(copied[(k - 1) % copied.size()].first));
    const test_support::ScopedTestHandle holder(
        fault == EveryStepRun::kHeld
            ? CreateFileW(source.value().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
            : nullptr);
    if (fault == EveryStepRun::kMissing) {
      ASSERT_TRUE(MoveFileW(source.value().c_str(), source.AddExtension(L"aside").value().c_str()));
    }
    prepare_machine();
    const auto before = snapshot();
    const auto shortcuts_before = shortcut_folders();
    g_at_interruption = [&] { shortcuts_changed += shortcut_folders() != shortcuts_before; };
    g_interrupt_at = GetParam().death || fault ? 0 : k;
    const test_support::ScopedTestHandle in_use(hold_in_use());
    Prepare(run.switches, run.flags);
    if (GetParam().helper)
      LendWriteAccess();
    int steps = 0;
    const Lines lines = Run([&](const std::string& line, size_t) {
      const bool dies = GetParam().death && line == kStep && ++steps == k;
      if (dies)
        g_at_interruption();
      return dies;
    });
    installer_.reset();
    Lines expected = JoinLines({{kFolderReady, Recorder::TotalStepsLine(total)}, Lines(k, kStep)});
    if (!GetParam().death)
      expected.push_back(Recorder::TerminatedLine(false));
    if (fault) {
      ASSERT_GE(lines.size(), 3u);
      const auto& [file, destination] = copied[k - 1];
      expected = JoinLines({Lines(lines.begin(), lines.end() - 2),
                            Failure(kInstallerErrorCopy, destination.value(),
                                    "Failed copying " + file +
                                        (fault == EveryStepRun::kMissing ? " (missing from the package)" : ""))});
      EXPECT_EQ(std::count(lines.begin(), lines.end(), kSuccess), 0);
    }
    if (fault == EveryStepRun::kMissing) {
      ASSERT_TRUE(MoveFileW(source.AddExtension(L"aside").value().c_str(), source.value().c_str()));
    }
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(before, snapshot());
    EXPECT_TRUE(g_detached_starts.empty());
    EXPECT_EQ(GetParam().helper, WriteAccessGivenBack()) << "the grant did not end";
  }
  g_at_interruption = nullptr;
  EXPECT_EQ(!fault, shortcuts_changed > 0) << "no interruption met a shortcut change";
  // Uninstallations and upgrades run to their end too; neither takes the user's folders around the installation, and
  // the one beside it stays empty.
  const auto run_to_end = [&] {
    g_interrupt_at = 0;
    Prepare(run.switches, run.flags);
    EXPECT_EQ(Completed(total), Run());
    installer_.reset();
    EXPECT_TRUE(base::DirectoryExists(user_folder()));
    EXPECT_TRUE(base::DirectoryExists(user_folder().Append(L"Empty beside")));
    EXPECT_TRUE(ReadTree(user_folder().Append(L"Empty beside")).empty());
  };
  if (kind == RunKind::kUninstall && !GetParam().death) {
    prepare_machine();
    const std::string second_keys = registry_->RegExport(HKEY_CURRENT_USER, Client());
    ASSERT_NE("", second_keys);
    run_to_end();
    EXPECT_EQ(second_keys, registry_->RegExport(HKEY_CURRENT_USER, Client())) << "the second installation's keys";
  }
  if (kind != RunKind::kUpgrade)
    return;
  prepare_machine();
  const std::map<std::string, std::string> before = ReadTree(install_);
  std::map<std::string, std::string> start_menu = ReadTree(root.Append(L"Programs"));
  test_support::ScopedTestHandle in_use(hold_in_use());
  test_support::ScopedLogCapture log;
  run_to_end();
  in_use.reset();
  EXPECT_TRUE(base::PathExists(root.Append(L"victim.txt")));
  EXPECT_TRUE(log.HasLineStartingWith("Skipping 37.0\\..\\..\\..\\victim.txt: not a path inside"));
  EXPECT_TRUE(log.HasLineStartingWith("Found invalid old status file: " +
                                      install_.Append(L"old_status\\installation_status.xml.3").AsUTF8()));
  const std::map<std::string, std::string> after = ReadTree(install_);
  for (const auto& [path, digest] : before) {
    const bool removed = path.rfind("37.0\\", 0) == 0 || path == "old_status\\installation_status.xml.1";
    EXPECT_EQ(!removed, after.count(path) == 1) << path;
  }
  std::map<std::string, std::string> programs = ReadTree(root.Append(L"Programs"));
  for (const char* name : {"Zorvi Companion.lnk", "Zorvi Companion (2).lnk"})
    EXPECT_EQ(1u, start_menu.erase(name));
  // The upgrade moves its own versioned start-menu shortcut to this version's name.
  EXPECT_EQ(1u, start_menu.erase("Zorvi old 38.lnk"));
  EXPECT_EQ(1u, programs.erase(base::WideToUTF8(ShortcutName(true))));
  EXPECT_EQ(start_menu, programs);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, EveryStepTest,
    testing::Values(EveryStepRun{.name = "Install", .kind = RunKind::kInstall},
                    EveryStepRun{.name = "InstallControllerDied", .kind = RunKind::kInstall, .death = true},
                    EveryStepRun{.name = "HelperAssistedInstall", .kind = RunKind::kInstall, .helper = true},
                    EveryStepRun{.name = "InstallFileMissing", .kind = RunKind::kInstall,
                                 .copy_fault = EveryStepRun::kMissing},
                    EveryStepRun{.name = "InstallFileHeld", .kind = RunKind::kInstall, .copy_fault = EveryStepRun::kHeld},
                    EveryStepRun{.name = "Upgrade", .kind = RunKind::kUpgrade},
                    EveryStepRun{.name = "Uninstall", .kind = RunKind::kUninstall},
                    EveryStepRun{.name = "UninstallControllerDied", .kind = RunKind::kUninstall, .death = true}),
    [](const testing::TestParamInfo<EveryStepRun>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace test
}  // namespace zorvi::installer
