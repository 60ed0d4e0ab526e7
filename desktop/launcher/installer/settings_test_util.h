// Reports of a Settings record and of a Status as "name" -> text, for the tests and their child (which links
// only what this header defines inline): two processes that print the same report hold the same choices.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SETTINGS_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_SETTINGS_TEST_UTIL_H_

#include <cstddef>
#include <map>
#include <string>

#include "base/features/feature_list.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/launcher/installer/settings.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

namespace zorvi::installer::test {

using Report = std::map<std::string, std::string>;

inline std::string Flag(bool value) {
  return value ? "1" : "0";
}

// "name.<feature>" = 1 or 0 for every installer experiment, as `features` answers.
inline void AddFeatureStates(const base::FeatureList& features, const std::string& name, Report* report) {
  size_t count = 0;
  const FeatureRow* rows = GetInstallerFeatureTable(&count);
  for (size_t i = 0; i < count; ++i)
    report->insert_or_assign(name + "." + rows[i].name, Flag(features.IsFeatureEnabled(rows[i].name)));
}

// The run's choices, the install folder and the experiments of the process.
inline Report SettingsReport(const Settings& settings) {
  Report report = {
      {"operation", std::to_string(settings.operation())},
      {"folder", settings.status().path.AsUTF8()},
      {"copy_only", Flag(settings.copy_only())},
      {"single_profile", Flag(settings.single_profile())},
      {"launch_zorvi", Flag(settings.launch_zorvi())},
      {"all_users", Flag(settings.all_users())},
      {"default_browser", Flag(settings.default_browser())},
      {"import_browser_data", Flag(settings.import_browser_data())},
      {"enable_zorvi_stats", Flag(settings.enable_zorvi_stats())},
      {"enable_installer_stats", Flag(settings.enable_installer_stats())},
      {"desktop_shortcut", Flag(settings.desktop_shortcut())},
      {"start_menu_shortcut", Flag(settings.start_menu_shortcut())},
      {"quick_launch_shortcut", Flag(settings.quick_launch_shortcut())},
      {"pinned_shortcut", Flag(settings.pinned_shortcut())},
      {"uninstall", Flag(settings.uninstall())},
      {"silent", Flag(settings.silent())},
      {"autoupdate", Flag(settings.autoupdate())},
      {"delete_profile", Flag(settings.delete_profile())},
      {"install_language", base::WideToUTF8(settings.install_language())},
      {"ui_language_id", base::StringPrintf("0x%04X", *GetUiLanguageId())},
      {"editable", Flag(settings.editable())},
      {"replace_kadro_installation", Flag(settings.replace_kadro_installation())},
      {"profile_folder", settings.profile_folder().AsUTF8()},
      {"registry_folder", settings.registry_folder().AsUTF8()},
      {"standalone_drive", settings.standalone_drive().AsUTF8()},
  };
  AddFeatureStates(*base::FeatureList::GetInstance(), "feature", &report);
  return report;
}

inline Report StatusReport(const Status& status) {
  Report report = {
      {"path", status.path.AsUTF8()},
      {"valid_parent_folder", status.valid_parent_folder.AsUTF8()},
      {"valid_install_path", Flag(status.valid_install_path)},
      {"existing_installation", Flag(status.existing_installation)},
      {"kadro_installation", Flag(status.kadro_installation)},
      {"existing_installation_traces", Flag(status.existing_installation_traces)},
      {"log.copy_only", Flag(status.install_log.copy_only)},
      {"log.all_users", Flag(status.install_log.all_users)},
      {"has_write_access", Flag(status.has_write_access)},
      {"desktop_shortcut_exists", Flag(status.desktop_shortcut_exists)},
      {"start_menu_shortcut_exists", Flag(status.start_menu_shortcut_exists)},
      {"quick_launch_shortcut_exists", Flag(status.quick_launch_shortcut_exists)},
      {"pinned_shortcut_path", status.pinned_shortcut_path.AsUTF8()},
      {"recreate_desktop_shortcut", Flag(status.recreate_desktop_shortcut)},
      {"recreate_start_menu_shortcut", Flag(status.recreate_start_menu_shortcut)},
      {"recreate_quick_launch_shortcut", Flag(status.recreate_quick_launch_shortcut)},
      {"recreate_pinned_shortcut", Flag(status.recreate_pinned_shortcut)},
      {"temporary_shortcut_folder_exists", Flag(status.temporary_shortcut_folder_exists)},
      {"temporary_shortcut_folder", status.temporary_shortcut_folder.AsUTF8()},
      {"is_http_handler", Flag(status.is_http_handler)},
      {"import_browser_data", std::to_string(status.import_browser_data)},
      {"enable_stats", std::to_string(status.enable_stats)},
      {"single_profile", std::to_string(status.single_profile)},
      {"old_product_type", std::to_string(status.old_product_type)},
      {"language", base::WideToUTF8(status.language)},
      {"welcome_url", status.welcome_url},
      {"tracking_data", status.tracking_data},
      {"profile_path", status.profile_path.AsUTF8()},
  };
  AddFeatureStates(status.experiments, "experiment", &report);
  return report;
}

}  // namespace zorvi::installer::test

#endif  // DESKTOP_LAUNCHER_INSTALLER_SETTINGS_TEST_UTIL_H_
