// Runs one default-browser registration, so that tests can run it under another Windows version
// (testing/version_child.h), and reports "version=<the version the process sees>", "result=<0 or 1>" and, when the
// open-with dialog was asked for, "open_with=<name> <flags>".
// Switches: --product=<product and company name> --folder=<install folder> --call=handler|default|start-menu
// [--name=<protocol or extension>] [--all-users] [--machine-wide]
// [--open-with=ok|fail] (answers in place of the dialog; without it the shell's own dialog is asked).
#include <objbase.h>

#include <cstdio>
#include <string>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/steps/default_browser.h"

namespace {

std::string g_open_with;
long g_open_with_answer = S_OK;

long AnswerOpenWithDialog(const std::wstring& name, int flags) {
  g_open_with = base::WideToUTF8(name) + " " + std::to_string(flags);
  return g_open_with_answer;
}

}  // namespace

int main() {
  using namespace zorvi::installer;
  base::AtExitManager at_exit;
  if (!base::CommandLine::Init() || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return 2;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const std::string product = command_line.GetSwitchValueASCII("product");
  SetBrandingTextForTesting(R"({"product_name": ")" + product + R"(", "company_name": ")" + product + R"("})");
  const std::string open_with = command_line.GetSwitchValueASCII("open-with");
  if (!open_with.empty()) {
    g_open_with_answer = open_with == "ok" ? S_OK : E_FAIL;
    SetOpenWithDialogHookForTesting(&AnswerOpenWithDialog);
  }

  InstallLog log;
  log.all_users = command_line.HasSwitch("all-users");
  FolderInstallationInfo info(command_line.GetSwitchValuePath("folder"), log);
  const bool machine_wide = command_line.HasSwitch("machine-wide");
  const std::string call = command_line.GetSwitchValueASCII("call");
  bool result;
  if (call == "handler")
    result = RegisterAsHandler(&info, command_line.GetSwitchValueNative("name"), machine_wide);
  else if (call == "default")
    result = MakeDefaultBrowser(&info, machine_wide);
  else if (call == "start-menu")
    result = RegisterStartMenuInternet(&info, machine_wide);
  else
    return 3;
  std::string report = "version=" + std::to_string(base::win::GetVersion()) + "\nresult=" + (result ? "1" : "0") +
                       "\n";
  if (!g_open_with.empty())
    report += "open_with=" + g_open_with + "\n";
  fputs(report.c_str(), stdout);
  CoUninitialize();
  return 0;
}
