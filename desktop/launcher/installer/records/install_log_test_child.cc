// Runs under another ANSI code page than its parent test: loads the log that the parent saved, then saves and
// loads one of its own. Usage: install_log_test_child PARENT_FOLDER OWN_FOLDER DONE_EVENT (each folder holds the
// non-ASCII installation folder). It is started through a Unix program, so its parent has no handle to wait on:
// it writes "acp=<code page> result=<r>" to OWN_FOLDER\result.txt and then signals DONE_EVENT. Results: 0 both
// logs hold their model, 3 the code page is not 932 (the child is meant to prove that none of this depends on
// it), 4 the parent's log differs, 5 the own log cannot be saved, 6 it differs when loaded back.
#include <windows.h>

#include <objbase.h>

#include <string>

#include "base/files/file_util.h"
#include "desktop/launcher/installer/records/install_log_test_util.h"

namespace {

using zorvi::installer::InstallLog;

bool LoadsAsModel(const base::FilePath& folder) {
  zorvi::installer::XmlDocument document;
  InstallLog log;
  return zorvi::installer::LoadInstallLog(&document, &log, folder.Append(zorvi::installer::kInstallLogFileName)) &&
         log == zorvi::installer::MakeNonAsciiInstallLog(folder);
}

int RoundTrip(const base::FilePath& parent_folder, const base::FilePath& own_folder) {
  if (GetACP() != 932)
    return 3;
  if (!LoadsAsModel(parent_folder))
    return 4;
  if (!base::CreateDirectory(own_folder) ||
      !zorvi::installer::SaveInstallLog(zorvi::installer::MakeNonAsciiInstallLog(own_folder),
                                        own_folder.Append(zorvi::installer::kInstallLogFileName))) {
    return 5;
  }
  return LoadsAsModel(own_folder) ? 0 : 6;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc != 4 || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return 2;
  const base::FilePath own_parent(argv[2]);
  const int result = RoundTrip(zorvi::installer::NonAsciiInstallFolder(base::FilePath(argv[1])),
                               zorvi::installer::NonAsciiInstallFolder(own_parent));
  CoUninitialize();
  const std::string report = "acp=" + std::to_string(GetACP()) + " result=" + std::to_string(result);
  base::WriteFile(own_parent.Append(L"result.txt"), report.data(), static_cast<int>(report.size()));
  HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
  if (!done || !SetEvent(done))
    return 2;
  CloseHandle(done);
  return result;
}
