// The options page of the installer window: the check boxes the user toggles and what each of them sets.
#ifndef DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_OPTIONS_PAGE_H_
#define DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_OPTIONS_PAGE_H_

#include "desktop/launcher/installer/settings.h"

namespace zorvi::installer::options_page {

// The check boxes the user toggles, what each counts on its page and the settings it sets.
struct OptionCheck {
  int id;
  const char* counter;
  bool (Settings::*set)(bool);
  bool (Settings::*set_too)(bool);  // may be null
};

// The check box `id` of either dialog, or null when `id` is no such box.
const OptionCheck* FindOptionCheck(int id);

}  // namespace zorvi::installer::options_page

#endif  // DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_OPTIONS_PAGE_H_
