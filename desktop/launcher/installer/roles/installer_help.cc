#include "desktop/launcher/installer/roles/installer_help.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "base/features/command_line_feature_reader.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/installer_main.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

namespace zorvi::installer {

namespace {

constexpr int kReleaseStream = 4;

// Stands for the default of "setdefaultbrowser", which names the release stream.
constexpr char kReleaseStreamDefault[] = "";

// One documented switch. In the text and the default "%s" stands for the product name.
struct HelpRow {
  const char* name;
  const char* value_hint;  // null: the switch takes no value
  const char* text;
  const char* default_value;  // null: no default line
};

constexpr char kBoolHint[] = "[0|1]";

// The texts are printed exactly as they have always been, spelling included: scripts and support pages quote
// them.
constexpr HelpRow kHelpRows[] = {
    {kSilentSwitch, nullptr,
     "Run the installer fully unattended. No dialog will be displayed in this mode. If it isn't running with "
     "sufficient privileges, the installer will fail instead of prompting the user.",
     nullptr},
    {kRunImmediatelySwitch, nullptr,
     "Run the installer mostly unattended. The installation will start immediately and the progress dialog will "
     "be displayed. The installer will prompt the user for elevation if needed.",
     nullptr},
    {kLanguageSwitch, "LANGUAGE",
     "Install %s in the specified language.This language will also be used during installation.",
     "The Operating system UI language."},
    {kInstallFolderSwitch, "FOLDER", "Install %s in the specified folder.", nullptr},
    {kAllUsersSwitch, kBoolHint, "If true, install %s for all users on the system.",
     "True when running from an administrative acount."},
    {kCopyOnlySwitch, kBoolHint,
     "If true, the installer will only copy the files to the installation folder and will otherwise not perform "
     "any modification on the system.",
     "False."},
    {kSingleProfileSwitch, kBoolHint,
     "If true, the installer will set up %s to use a singleprofile located in the installation folder.", "False."},
    {kDefaultBrowserSwitch, kBoolHint, "If true, make %s the default browser for this user or computer.",
     kReleaseStreamDefault},
    {kDesktopShortcutSwitch, kBoolHint, "If true, create a shortcut for %s on the desktop.", "True."},
    {kStartMenuShortcutSwitch, kBoolHint, "If true, create a shortcut for %s on the start menu.", "True."},
    {kQuickLaunchShortcutSwitch, kBoolHint, "If true, create a shortcut for %s on the quick launch menu.",
     "False on Window 7 and later. True otherwise"},
    {kPinToTaskbarSwitch, kBoolHint, "If true, pin %s to the taskbar.", "True on Window 7 and later. False otherwise."},
    {kImportBrowserDataSwitch, kBoolHint,
     "If true, %s is set up to import user data from the previously default browser when creating new user "
     "profiles.",
     "True."},
    {kEnableStatsSwitch, kBoolHint, "If true, %s will by default gather and report statistics.", "True."},
    {kEnableInstallerStatsSwitch, kBoolHint, "If true, installer will by default gather and report statistics.",
     "True."},
    {kLaunchBrowserSwitch, kBoolHint, "If true, %s is launched once the installation is completed.", "True."},
};

std::string DefaultText(const HelpRow& row) {
  if (row.default_value == kReleaseStreamDefault)
    return FormatWithProductName((std::string("True for %s ") + GetStreamNameOf(kReleaseStream) + ".").c_str(),
                                 false);
  return FormatWithProductName(row.default_value, false);
}

}  // namespace

std::string FormatInstallerHelp(const std::vector<std::wstring>& languages) {
  std::string text = base::StringPrintf("%s Installer %s %s\n\n", GetProductName().c_str(),
                                        GetFullVersionString().c_str(), GetStreamName().c_str());
  text += "The following command line parameters affect the behavior of the installer:\n";
  for (const HelpRow& row : kHelpRows) {
    base::StringAppendF(&text, "  %s", row.name);
    if (row.value_hint)
      base::StringAppendF(&text, "=%s", row.value_hint);
    base::StringAppendF(&text, "\n    %s\n", FormatWithProductName(row.text, false).c_str());
    if (row.default_value)
      base::StringAppendF(&text, "    Default value: %s\n", DefaultText(row).c_str());
  }
  base::StringAppendF(&text, "\nLanguages available for the %s option:\n", kLanguageSwitch);
  // The tags are ASCII (the host's list is): the runtime narrows the wide text itself.
  base::StringAppendF(&text, "%S\n", base::JoinString(languages, L", ").c_str());
  text += "\nFeatures available through command-line switches:\n";
  size_t count = 0;
  const FeatureRow* features = GetInstallerFeatureTable(&count);
  for (size_t i = 0; i < count; ++i) {
    base::StringAppendF(&text, "\t--%s [Enabled by default: %s]\n",
                        base::CommandLineFeatureReader::SwitchNameForFeature(features[i].name).c_str(),
                        IsFeatureEnabledByDefault(features[i]) ? "true" : "false");
  }
  return text;
}

void PrintInstallerHelp() {
  // A windowed program has no console: open one and send standard output there. Without it the help would be
  // written nowhere, and the pause would wait for a key on no console.
  AllocConsole();
  if (!freopen("CONOUT$", "w", stdout))
    return;
  setvbuf(stdout, nullptr, _IONBF, 0);
  PrintToConsole("%s", FormatInstallerHelp(GetAvailableUiLanguages()).c_str());
  // The console closes with the process: keep the text readable until the user is done with it.
  system("PAUSE");
}

}  // namespace zorvi::installer
