// Reports what the process-wide installation information says of the installation this program was copied into:
// "install_folder=<path>", "profile_path=<the preference>" and "one_instance=<1 when every call gave the same
// object>", as name=value lines in UTF-8.
#include <cstdio>
#include <string>

#include "base/at_exit.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/records/installation_info.h"

int main() {
  base::AtExitManager at_exit;
  zorvi::installer::InstallationInfo* info = zorvi::installer::InstallationInfo::GetInstance();
  const bool one_instance = info == zorvi::installer::InstallationInfo::GetInstance();
  const std::string report = "install_folder=" + info->install_folder().AsUTF8() + "\nprofile_path=" +
                             base::WideToUTF8(info->profile_path()) + "\none_instance=" + (one_instance ? "1" : "0") +
                             "\n";
  fputs(report.c_str(), stdout);
  return 0;
}
