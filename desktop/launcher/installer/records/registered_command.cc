#include "desktop/launcher/installer/records/registered_command.h"

#include "base/logging.h"
#include "base/win/windows_version.h"
#include "desktop/launcher/installer/service/utils.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kMachineClassesKey[] = L"SOFTWARE\\Classes\\";
constexpr wchar_t kOpenCommandSubkey[] = L"\\shell\\open\\command";

// The default value of `subkey` in the classes of the chosen view.
LONG ReadClassesDefaultValue(const std::wstring& subkey, bool machine_wide, std::wstring* value) {
  return machine_wide ? ReadStringValue(HKEY_LOCAL_MACHINE, kMachineClassesKey + subkey, L"", value)
                      : ReadStringValue(HKEY_CLASSES_ROOT, subkey, L"", value);
}

}  // namespace

bool GetRegisteredCommand(const std::wstring& name, bool machine_wide, std::wstring* command) {
  const bool is_extension = IsExtension(name);
  std::wstring class_name;
  if (!machine_wide && base::win::GetVersion() >= base::win::VERSION_VISTA) {
    const std::wstring choice_key =
        (is_extension ? ZORVI_EXTENSION_CHOICES_KEY : ZORVI_PROTOCOL_CHOICES_KEY) + name + ZORVI_USER_CHOICE_SUBKEY;
    // Most users never chose a program for most names, and fresh profiles have no choice keys at all: a missing
    // key means no choice, exactly as a missing value does, so that the class lookup below still runs.
    const LONG result = ReadStringValue(HKEY_CURRENT_USER, choice_key, kUserChoiceClassValue, &class_name);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      LOG(ERROR) << "Cannot read the user's choice for " << name << ": error " << result;
      return false;
    }
  }
  if (class_name.empty()) {
    if (is_extension) {
      const LONG result = ReadClassesDefaultValue(name, machine_wide, &class_name);
      if (result != ERROR_SUCCESS) {
        LOG(WARNING) << "No class registered for " << name << ": error " << result;
        return false;
      }
    } else {
      class_name = name;
    }
  }
  return ReadClassesDefaultValue(class_name + kOpenCommandSubkey, machine_wide, command) == ERROR_SUCCESS;
}

bool IsExtension(const std::wstring& name) {
  return !name.empty() && name[0] == L'.';
}

}  // namespace zorvi::installer
