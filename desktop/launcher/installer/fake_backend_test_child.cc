// A backend for runner tests: the product's InstallerRunnerBackend, whose installation follows a script
// instead of installing. The runner starts it like any backend (tests copy it as "installer.exe" into a package
// folder, or as the controller's own executable), so its command line and the handles it inherits are the
// runner's, and every notification crosses the real mailslot.
//
// Beside the executable:
//   fake_backend_script.txt   read at start, one command a line, run in order:
//     folder-ready | starting 0|1 | returned | total N | step [COUNT] | success | terminated 0|1
//     error CODE DETAIL|MESSAGE   an error notification (the detail is everything up to the "|")
//     wait-package                waits for the installation's package-ready event
//     wait-interrupt              waits for the installation's interrupted event
//     signal NAME / wait-event NAME   sets / waits for the named event NAME
//     result 0|1                  what the installation reports as its result (by default whether it succeeded)
//     exit CODE                   ends the process at once with CODE
//     kill CODE                   ends the process as a kill from outside would (TerminateProcess with CODE)
//     run-package                 as the installer hands its run over: starts the package's installer (the
//                                 "wait-for-package" folder's "installer.exe") with the run's settings as
//                                 switches and waits for it on this thread
//     hang                        does nothing more (the run ends when the controller's process does)
//   fake_backend_record.jsonl  appended: at start {"pid","command_line","initial_pid","handle_type",
//     "handle_access","handle_is_initial_process","package_ready_event","package_ready_set","interrupted_set"}
//     (what the inherited handle is, whether the package-ready event existed and which of the installation's
//     events were set already), and once the backend's run returned {"pid","returned"}
//   fake_backend.log           the backend's log (verbosity 2)
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/observer_list.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/launcher/installer/installer_runner.h"
#include "desktop/launcher/installer/installer_runner_backend.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/installer/settings_status_wait.h"

namespace {

using namespace zorvi::installer;

base::FilePath OwnFolder() {
  base::FilePath exe;
  base::PathService::Get(base::kExeFile, &exe);
  return exe.DirName();
}

void AppendRecord(const std::string& line) {
  FILE* file = _wfopen(OwnFolder().Append(L"fake_backend_record.jsonl").value().c_str(), L"ab");
  if (!file)
    return;
  std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
}

// Whether `handle` and the process "initial-pid" names are one object (the system's own comparison; its
// process handle may only be waited on, so it answers no query of its id).
bool IsInitialProcess(HANDLE handle, const base::CommandLine& command_line) {
  using CompareObjects = BOOL(WINAPI*)(HANDLE, HANDLE);
  auto compare = reinterpret_cast<CompareObjects>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CompareObjectHandles")));
  const unsigned long pid = std::stoul("0" + command_line.GetSwitchValueASCII("initial-pid"));
  HANDLE initial = OpenProcess(SYNCHRONIZE, FALSE, pid);
  const bool same = compare && initial && compare(handle, initial);
  if (initial)
    CloseHandle(initial);
  return same;
}

// The inherited handle named by "initial-proc-handle": the process it opens and the access it grants.
void RecordStart(const base::CommandLine& command_line) {
  unsigned long long handle_value = 0;
  ULONG access = 0;
  std::wstring type;
  bool initial_process = false;
  const std::string hex = base::WideToUTF8(command_line.GetSwitchValueNative("initial-proc-handle"));
  if (hex.size() == 16) {
    // Least significant byte first.
    for (int i = 7; i >= 0; --i)
      handle_value = handle_value << 8 | std::stoull(hex.substr(2 * i, 2), nullptr, 16);
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle_value));
    // Asked of the kernel, since a handle for waiting only answers no process query.
    using QueryObject = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    PUBLIC_OBJECT_BASIC_INFORMATION basic = {};
    if (query && query(handle, ObjectBasicInformation, &basic, sizeof(basic), nullptr) == 0)
      access = basic.GrantedAccess;
    alignas(8) char type_buffer[512] = {};
    auto* type_information = reinterpret_cast<PUBLIC_OBJECT_TYPE_INFORMATION*>(type_buffer);
    if (query && query(handle, ObjectTypeInformation, type_buffer, sizeof(type_buffer), nullptr) == 0)
      type.assign(type_information->TypeName.Buffer, type_information->TypeName.Length / sizeof(wchar_t));
    initial_process = IsInitialProcess(handle, command_line);
  }
  const base::FilePath folder = command_line.GetSwitchValuePath("installfolder");
  // Whether the installation's event exists (1) and is set already (2).
  auto event_state = [&folder](const wchar_t* base) {
    base::win::ScopedHandle event(
        OpenEventW(SYNCHRONIZE, FALSE, GetInstallerKernelObjectName(folder.value(), base, true).c_str()));
    return !event.IsValid() ? 0 : WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0 ? 2 : 1;
  };
  const int ready = event_state(kPackageReadyEventBase);
  AppendRecord("{\"pid\":" + std::to_string(GetCurrentProcessId()) + ",\"command_line\":" +
               test_support::JsonQuote(base::WideToUTF8(command_line.GetCommandLineString())) + ",\"initial_pid\":" +
               test_support::JsonQuote(command_line.GetSwitchValueASCII("initial-pid")) +
               ",\"handle_type\":" + test_support::JsonQuote(base::WideToUTF8(type)) +
               ",\"handle_access\":" + std::to_string(access) +
               ",\"handle_is_initial_process\":" + (initial_process ? "true" : "false") +
               ",\"package_ready_event\":" + (ready ? "true" : "false") +
               ",\"package_ready_set\":" + (ready == 2 ? "true" : "false") + ",\"interrupted_set\":" +
               (event_state(kInstallationInterruptedEventBase) == 2 ? "true" : "false") + "}");
}

// Runs the script's commands in order as tasks of the backend's thread, as the installer runs its steps.
class ScriptedInstallation : public InstallerRunnerBackend::Installation, public base::win::ObjectWatcher::Delegate {
 public:
  explicit ScriptedInstallation(std::vector<std::string> commands) : commands_(std::move(commands)) {}

  void AddObserver(InstallerObserver* observer) override { observers_.AddObserver(observer); }
  void RemoveObserver(InstallerObserver* observer) override { observers_.RemoveObserver(observer); }
  void Run(Settings* settings) override {
    settings_ = settings;
    folder_ = settings->status().path;
    settings->set_editable(false);
    PostNext();
  }
  bool succeeded() const override { return succeeded_; }

  void OnObjectSignaled(HANDLE) override {
    waited_.Close();
    PostNext();
  }

 private:
  void PostNext() {
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE,
                                                  base::Bind(&ScriptedInstallation::RunNext, base::Unretained(this)));
  }

  template <typename Call>
  void Notify(Call call) {
    observers_.ForEach(call);
  }

  // Waits on the returned loop for `event` (owned), then goes on.
  void WaitFor(HANDLE event) {
    waited_.Set(event);
    if (!event || !watcher_.StartWatchingOnce(event, this))
      LOG(ERROR) << "Cannot wait for the script's event";
  }

  std::wstring EventName(const wchar_t* base) const {
    return GetInstallerKernelObjectName(folder_.value(), base, true);
  }

  void RunNext() {
    if (next_ >= commands_.size())
      return;
    std::istringstream command(commands_[next_++]);
    std::string verb;
    command >> verb;
    int number = 0;
    std::string rest;
    if (verb == "signal" || verb == "wait-event") {
      command >> rest;
      const std::wstring name = base::UTF8ToWide(rest);
      if (verb == "signal") {
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
        SetEvent(event);
        CloseHandle(event);
      } else {
        WaitFor(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
        return;
      }
    } else if (verb == "wait-package" || verb == "wait-interrupt") {
      const wchar_t* base = verb == "wait-package" ? kPackageReadyEventBase : kInstallationInterruptedEventBase;
      WaitFor(OpenEventW(SYNCHRONIZE, FALSE, EventName(base).c_str()));
      return;
    } else if (verb == "hang") {
      return;
    } else if (verb == "folder-ready") {
      Notify([](InstallerObserver* observer) { observer->OnInstallFolderReady(); });
    } else if (verb == "starting" && command >> number) {
      Notify([number](InstallerObserver* observer) { observer->OnStartingNewMainProcess(number != 0); });
    } else if (verb == "returned") {
      Notify([](InstallerObserver* observer) { observer->OnReturnedToPreviousMainProcess(); });
    } else if (verb == "total" && command >> number) {
      Notify([number](InstallerObserver* observer) { observer->OnTotalSteps(number); });
    } else if (verb == "step") {
      if (!(command >> number))
        number = 1;
      for (int i = 0; i < number; ++i)
        Notify([](InstallerObserver* observer) { observer->OnStep(); });
    } else if (verb == "error" && command >> number) {
      std::getline(command >> std::ws, rest);
      const size_t bar = rest.find('|');
      const std::wstring detail = base::UTF8ToWide(rest.substr(0, bar));
      const std::string message = bar == std::string::npos ? std::string() : rest.substr(bar + 1);
      Notify([&](InstallerObserver* observer) { observer->OnInstallerError(number, detail, message); });
    } else if (verb == "success") {
      succeeded_ = succeeded_ || !result_given_;
      Notify([](InstallerObserver* observer) { observer->OnInstallerSuccess(); });
    } else if (verb == "terminated" && command >> number) {
      Notify([number](InstallerObserver* observer) { observer->OnInstallerTerminated(number != 0); });
    } else if (verb == "result" && command >> number) {
      succeeded_ = number != 0;
      result_given_ = true;
    } else if (verb == "exit" && command >> number) {
      ExitProcess(static_cast<UINT>(number));
    } else if (verb == "kill" && command >> number) {
      TerminateProcess(GetCurrentProcess(), static_cast<UINT>(number));
    } else if (verb == "run-package") {
      base::CommandLine child = settings_->ToCommandLine(false);
      child.SetProgram(
          base::CommandLine::ForCurrentProcess()->GetSwitchValuePath("wait-for-package").Append(L"installer.exe"));
      base::LaunchOptions options;
      options.wait = true;
      if (!base::LaunchProcess(child, options).IsValid())
        LOG(ERROR) << "Cannot start the package's installer";
    } else {
      LOG(ERROR) << "Unknown script command: " << commands_[next_ - 1];
    }
    PostNext();
  }

  const std::vector<std::string> commands_;
  size_t next_ = 0;
  bool succeeded_ = false;
  bool result_given_ = false;
  Settings* settings_ = nullptr;
  base::FilePath folder_;
  base::ObserverList<InstallerObserver> observers_;
  base::win::ObjectWatcher watcher_;
  base::win::ScopedHandle waited_;
};

std::vector<std::string> ReadScript() {
  std::vector<std::string> commands;
  FILE* file = _wfopen(OwnFolder().Append(L"fake_backend_script.txt").value().c_str(), L"rb");
  if (!file)
    return commands;
  char line[4096];
  while (std::fgets(line, sizeof(line), file)) {
    std::string command(line);
    while (!command.empty() && (command.back() == '\n' || command.back() == '\r'))
      command.pop_back();
    if (!command.empty())
      commands.push_back(command);
  }
  std::fclose(file);
  return commands;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  base::AtExitManager exit_manager;
  command_line.AppendSwitchASCII("v", "2");
  const std::wstring log_file = OwnFolder().Append(L"fake_backend.log").value();
  logging::LoggingSettings log_settings;
  log_settings.log_file = log_file.c_str();
  logging::InitLogging(log_settings);
  logging::SetLogItems(true, true, true, false);
  RecordStart(command_line);

  const std::vector<std::string> script = ReadScript();
  InstallerRunnerBackend::SetInstallationFactoryForTesting(
      [script] { return std::make_unique<ScriptedInstallation>(script); });

  // The message loop, then what the entry sets up around a backend.
  base::MessageLoop loop;
  std::unique_ptr<Settings> settings = test_support::SettingsAsTheEntryMakesThem(command_line);
  if (!settings)
    return 5;
  bool result = false;
  {
    InstallerRunnerBackend backend;
    result = backend.Run(settings.get());
  }
  settings.reset();
  AppendRecord("{\"pid\":" + std::to_string(GetCurrentProcessId()) + ",\"returned\":" + (result ? "true" : "false") +
               "}");
  CoUninitialize();
  return result ? 0 : 1;
}
