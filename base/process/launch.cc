#include "base/process/launch.h"

#include <userenv.h>

#include <utility>

#include "base/command_line.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/process/exit_status.h"
#include "base/process/process_information_holder.h"
#include "base/process/startup_information.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"

namespace base {
namespace {

// The attribute list stores the byte size of the handle list in a DWORD-sized field.
constexpr size_t kMaxInheritedHandles = 0x20000000;

// GetAppOutput reads the pipe in chunks of this size.
constexpr DWORD kOutputChunkSize = 1024;

constinit LazyInstance<Lock> g_launch_lock;

// An environment block made for a user token, destroyed when it goes.
class ScopedEnvironmentBlock {
 public:
  ScopedEnvironmentBlock() = default;
  ScopedEnvironmentBlock(const ScopedEnvironmentBlock&) = delete;
  ScopedEnvironmentBlock& operator=(const ScopedEnvironmentBlock&) = delete;
  ~ScopedEnvironmentBlock() {
    if (block_)
      ::DestroyEnvironmentBlock(block_);
  }
  bool CreateFor(HANDLE token) { return ::CreateEnvironmentBlock(&block_, token, FALSE) != FALSE; }
  void* get() const { return block_; }

 private:
  void* block_ = nullptr;
};

// Makes the handles of a launch's handle list inheritable, and gives those that were not back their own state
// once the child has them: left inheritable, they would leak into every later child that inherits all handles.
class ScopedInheritableHandles {
 public:
  ScopedInheritableHandles() = default;
  ScopedInheritableHandles(const ScopedInheritableHandles&) = delete;
  ScopedInheritableHandles& operator=(const ScopedInheritableHandles&) = delete;
  ~ScopedInheritableHandles() { Restore(); }

  void MakeInheritable(const std::vector<HANDLE>& handles) {
    for (HANDLE handle : handles) {
      DWORD flags = 0;
      PCHECK(::GetHandleInformation(handle, &flags));
      if (flags & HANDLE_FLAG_INHERIT)
        continue;
      PCHECK(::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT));
      made_inheritable_.push_back(handle);
    }
  }

  // Keeps the thread's last error: a failed launch logs it afterwards.
  void Restore() {
    const DWORD last_error = ::GetLastError();
    for (HANDLE handle : made_inheritable_)
      ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    made_inheritable_.clear();
    ::SetLastError(last_error);
  }

 private:
  std::vector<HANDLE> made_inheritable_;
};

// The creation flags that a job and a forced breakaway add. Before Windows 8 a process belongs to one job at
// most, so a child meant for a new job must leave the caller's.
DWORD JobCreationFlags(const LaunchOptions& options, win::WindowsVersion version) {
  DWORD flags = 0;
  if (options.job_handle) {
    flags |= CREATE_SUSPENDED;
    if (version < win::VERSION_WIN8)
      flags |= CREATE_BREAKAWAY_FROM_JOB;
  }
  if (options.force_breakaway_from_job)
    flags |= CREATE_BREAKAWAY_FROM_JOB;
  return flags;
}

}  // namespace

LaunchOptions::LaunchOptions() = default;
LaunchOptions::~LaunchOptions() = default;

Process LaunchProcess(const std::wstring& command_line, const LaunchOptions& options) {
  StartupInformation startup_info_wrapper;
  STARTUPINFOW* startup_info = startup_info_wrapper.startup_info();

  bool inherit_handles = options.inherit_handles;
  DWORD flags = 0;
  ScopedInheritableHandles listed_handles;
  if (options.handles_to_inherit) {
    std::vector<HANDLE>& handles = *options.handles_to_inherit;
    if (handles.empty()) {
      inherit_handles = false;
    } else {
      if (win::GetVersion() < win::VERSION_VISTA) {
        LOG(ERROR) << "Specifying handles to inherit requires Vista or later";
        return Process();
      }
      if (handles.size() >= kMaxInheritedHandles) {
        LOG(ERROR) << "Too many handles to inherit";
        return Process();
      }
      listed_handles.MakeInheritable(handles);
      if (!startup_info_wrapper.InitializeProcThreadAttributeList(1) ||
          !startup_info_wrapper.UpdateProcThreadAttribute(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                                          handles.size() * sizeof(HANDLE))) {
        return Process();
      }
      inherit_handles = true;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }

  startup_info->dwFlags = STARTF_USESHOWWINDOW;
  startup_info->wShowWindow = options.start_hidden ? SW_HIDE : SW_SHOW;
  wchar_t empty_desktop[] = L"";
  if (options.empty_desktop_name)
    startup_info->lpDesktop = empty_desktop;
  if (options.stdin_handle || options.stdout_handle || options.stderr_handle) {
    startup_info->dwFlags |= STARTF_USESTDHANDLES;
    startup_info->hStdInput = options.stdin_handle;
    startup_info->hStdOutput = options.stdout_handle;
    startup_info->hStdError = options.stderr_handle;
  }

  flags |= JobCreationFlags(options, win::GetVersion());

  // CreateProcess may write into the command line.
  std::wstring writable_command_line = command_line;
  const wchar_t* current_directory =
      options.current_directory.empty() ? nullptr : options.current_directory.value().c_str();
  PROCESS_INFORMATION temp_process_info = {};
  if (options.as_user) {
    ScopedEnvironmentBlock environment;
    if (!environment.CreateFor(options.as_user)) {
      PLOG(ERROR) << "CreateEnvironmentBlock failed";
      return Process();
    }
    if (!::CreateProcessAsUserW(options.as_user, nullptr, writable_command_line.data(), nullptr, nullptr,
                                inherit_handles, flags | CREATE_UNICODE_ENVIRONMENT, environment.get(),
                                current_directory, startup_info, &temp_process_info)) {
      PLOG(ERROR) << "CreateProcessAsUser failed";
      return Process();
    }
  } else if (!::CreateProcessW(nullptr, writable_command_line.data(), nullptr, nullptr, inherit_handles, flags,
                               nullptr, current_directory, startup_info, &temp_process_info)) {
    PLOG(ERROR) << "CreateProcess failed";
    return Process();
  }
  ProcessInformationHolder process_info(temp_process_info);
  listed_handles.Restore();

  if (options.job_handle) {
    if (!::AssignProcessToJobObject(options.job_handle, process_info.process_handle())) {
      PLOG(ERROR) << "Could not AssignProcessToObject";
      Process(process_info.TakeProcessHandle()).Terminate(1, true);
      return Process();
    }
    ::ResumeThread(process_info.thread_handle());
  }

  if (options.wait)
    ::WaitForSingleObject(process_info.process_handle(), INFINITE);

  process_info.CloseThreadHandle();
  return Process(process_info.TakeProcessHandle());
}

Process LaunchProcess(const CommandLine& command_line, const LaunchOptions& options) {
  return LaunchProcess(command_line.GetCommandLineString(), options);
}

bool GetAppOutput(const CommandLine& command_line, std::string* output) {
  return CollectAppOutput(StartApp(command_line), output);
}

StartedApp StartApp(const CommandLine& command_line) {
  SECURITY_ATTRIBUTES security_attributes = {};
  security_attributes.nLength = sizeof(security_attributes);
  security_attributes.bInheritHandle = TRUE;
  HANDLE read_handle = nullptr;
  HANDLE write_handle = nullptr;
  if (!::CreatePipe(&read_handle, &write_handle, &security_attributes, 0)) {
    PLOG(ERROR) << "Failed to create pipe";
    return StartedApp();
  }
  win::ScopedHandle read_end(read_handle);
  win::ScopedHandle write_end(write_handle);

  // Only the child's end may be inherited, or the read would never see the end of the output.
  if (!::SetHandleInformation(read_end.Get(), HANDLE_FLAG_INHERIT, 0)) {
    PLOG(ERROR) << "Failed to disable pipe inheritance";
    return StartedApp();
  }

  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  startup_info.dwFlags = STARTF_USESTDHANDLES;
  startup_info.hStdOutput = write_end.Get();
  startup_info.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup_info.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);

  std::wstring writable_command_line = command_line.GetCommandLineString();
  PROCESS_INFORMATION temp_process_info = {};
  if (!::CreateProcessW(nullptr, writable_command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup_info, &temp_process_info)) {
    PLOG(ERROR) << "Failed to start process";
    return StartedApp();
  }
  ProcessInformationHolder process_info(temp_process_info);
  process_info.CloseThreadHandle();
  // The child holds its own copy of the write end now; closing ours lets the read end when the child ends.
  write_end.Close();
  return StartedApp{Process(process_info.TakeProcessHandle()), std::move(read_end)};
}

bool CollectAppOutput(StartedApp app, std::string* output) {
  if (!app.process.IsValid())
    return false;
  char buffer[kOutputChunkSize];
  for (;;) {
    DWORD bytes_read = 0;
    if (!::ReadFile(app.output.Get(), buffer, kOutputChunkSize, &bytes_read, nullptr) || bytes_read == 0)
      break;
    output->append(buffer, bytes_read);
  }

  ::WaitForSingleObject(app.process.Handle(), INFINITE);
  // A child that was killed has likely written only part of its output: only a normal end is success.
  return GetProcessExitStatus(app.process.Handle(), nullptr) == ProcessExitStatus::kNormal;
}

Lock& GetProcessLaunchLock() {
  return g_launch_lock.Get();
}

}  // namespace base
