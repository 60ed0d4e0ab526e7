// Shell links (.lnk files): creating, updating and reading them with their target, working folder,
// arguments, description, icon, application id and dual mode, and pinning them to the taskbar. COM must be
// initialised on the calling thread; everything runs synchronously on it.
#ifndef BASE_WIN_SHORTCUT_H_
#define BASE_WIN_SHORTCUT_H_

#include <windows.h>

#include <propsys.h>

#include <cstdint>
#include <string>

#include "base/files/file_path.h"

namespace base {
namespace win {

enum class ShortcutWriteMode {
  // Write a new link, replacing any file of that name.
  CreateAlways = 0,
  // Write a new link in place of an existing one, keeping its arguments unless new ones are given.
  ReplaceExisting = 1,
  // Change only the given fields of an existing link.
  UpdateExisting = 2,
};

struct ShortcutProperties {
  // Bits of `options`: which fields are set.
  enum IndividualProperties : uint32_t {
    PROPERTIES_TARGET = 1 << 0,
    PROPERTIES_WORKING_DIR = 1 << 1,
    PROPERTIES_ARGUMENTS = 1 << 2,
    PROPERTIES_DESCRIPTION = 1 << 3,
    PROPERTIES_ICON = 1 << 4,
    PROPERTIES_APP_ID = 1 << 5,
    PROPERTIES_DUAL_MODE = 1 << 6,
    PROPERTIES_ALL = (1 << 7) - 1,
  };

  ShortcutProperties();
  ShortcutProperties(const ShortcutProperties& other);
  ShortcutProperties& operator=(const ShortcutProperties& other);
  ~ShortcutProperties();

  void set_target(const FilePath& target_in) {
    target = target_in;
    options |= PROPERTIES_TARGET;
  }
  void set_working_dir(const FilePath& working_dir_in) {
    working_dir = working_dir_in;
    options |= PROPERTIES_WORKING_DIR;
  }
  void set_arguments(const std::wstring& arguments_in) {
    arguments = arguments_in;
    options |= PROPERTIES_ARGUMENTS;
  }
  void set_description(const std::wstring& description_in) {
    description = description_in;
    options |= PROPERTIES_DESCRIPTION;
  }
  void set_icon(const FilePath& icon_in, int icon_index_in) {
    icon = icon_in;
    icon_index = icon_index_in;
    options |= PROPERTIES_ICON;
  }
  void set_app_id(const std::wstring& app_id_in) {
    app_id = app_id_in;
    options |= PROPERTIES_APP_ID;
  }
  void set_dual_mode(bool dual_mode_in) {
    dual_mode = dual_mode_in;
    options |= PROPERTIES_DUAL_MODE;
  }

  FilePath target;
  FilePath working_dir;
  std::wstring arguments;
  std::wstring description;
  FilePath icon;
  int icon_index = -1;
  std::wstring app_id;
  bool dual_mode = false;
  uint32_t options = 0;
};

// Writes the link at `shortcut_path` as `mode` says and tells the shell about it. Without UpdateExisting the
// target must be set. The application id and dual mode are written from Windows 7 on.
bool CreateOrUpdateShortcutLink(const FilePath& shortcut_path, const ShortcutProperties& properties,
                                ShortcutWriteMode mode);

// Reads the fields that `options` asks for into *properties, setting their bits (and no others) in its
// options. Text fields are read whole, however long.
bool ResolveShortcutProperties(const FilePath& shortcut_path, uint32_t options, ShortcutProperties* properties);

// Reads the target and/or the arguments (whichever output is not null).
bool ResolveShortcut(const FilePath& shortcut_path, FilePath* target_path, std::wstring* args);

// Whether the shell offers pinning shortcuts to the taskbar: Windows 7, 8 and 8.1.
bool CanPinShortcutToTaskbar();

// Runs the shell's "taskbarpin" verb on the link.
bool TaskbarPinShortcutLink(const FilePath& shortcut);

// Runs the shell's "taskbarunpin" verb on the link; false before Windows 7, without asking the shell.
bool TaskbarUnpinShortcutLink(const FilePath& shortcut);

namespace internal {

// The property-store part of writing and reading a link (application id and dual mode), on any store.
bool WriteShortcutPropertyStore(IPropertyStore* property_store, const ShortcutProperties& properties);
bool ReadShortcutPropertyStore(IPropertyStore* property_store, uint32_t options, ShortcutProperties* properties);

}  // namespace internal

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SHORTCUT_H_
