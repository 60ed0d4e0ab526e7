// The folder-permission helper in a process of its own, for the tests of its grant, with the grace between the
// release and the restore held by the test instead of waited out. Its own switches come first:
//   --grace-started=EVENT --grace-release=EVENT  the grace sets EVENT (named) and waits for the other
//   then the helper's switches.
//   --run-user=ACCOUNT  ACCOUNT stands in for the user of the run's initial process (SetRunUserStandInForTesting).
//   --hold=EVENT  only waits until the named EVENT is set: a run's initial process.
// Exit code: the grace asked for, in milliseconds (0 when the helper never got to it).
// Copied as "installer.exe" into a package folder it stands for the package's installer instead: it writes its
// command line into "command_line.txt" beside itself and ends with 0.
#include <windows.h>

#include <string>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/roles/folder_permission.h"

namespace {

unsigned long g_grace_asked = 0;

void HoldGrace(unsigned long milliseconds) {
  g_grace_asked = milliseconds;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, command_line.GetSwitchValueNative("grace-started").c_str());
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, command_line.GetSwitchValueNative("grace-release").c_str());
  SetEvent(started);
  WaitForSingleObject(release, INFINITE);
  CloseHandle(started);
  CloseHandle(release);
}

}  // namespace

int main() {
  base::AtExitManager exit_manager;
  base::CommandLine::Init();
  base::FilePath executable;
  base::PathService::Get(base::kExeFile, &executable);
  if (executable.BaseName().value() == L"installer.exe") {
    const std::string line = base::WideToUTF8(GetCommandLineW());
    return base::WriteFile(executable.DirName().Append(L"command_line.txt"), line.data(),
                           static_cast<int>(line.size())) == static_cast<int>(line.size())
               ? 0
               : 1;
  }
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch("hold")) {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, command_line.GetSwitchValueNative("hold").c_str());
    return event && WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0 ? 0 : 1;
  }
  const std::wstring run_user = command_line.GetSwitchValueNative("run-user");
  if (!run_user.empty())
    zorvi::installer::SetRunUserStandInForTesting(run_user.c_str());
  zorvi::installer::SetFolderPermissionGraceHookForTesting(&HoldGrace);
  zorvi::installer::RunFolderPermissionHelper();
  return static_cast<int>(g_grace_asked);
}
