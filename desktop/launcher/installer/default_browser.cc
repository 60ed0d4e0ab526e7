#include "desktop/launcher/installer/default_browser.h"

#include <windows.h>

#include "base/logging.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kMachineClassesKey[] = L"SOFTWARE\\Classes\\";
constexpr wchar_t kExtensionChoicesKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
constexpr wchar_t kProtocolChoicesKey[] = L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\";
constexpr wchar_t kUserChoiceSubkey[] = L"\\UserChoice";
constexpr wchar_t kProgIdValue[] = L"ProgId";
constexpr wchar_t kOpenCommandSubkey[] = L"\\shell\\open\\command";

// The default value of `subkey` in the classes of the chosen view.
LONG ReadClassesDefaultValue(const std::wstring& subkey, bool machine_wide, std::wstring* value) {
  base::win::RegKey key;
  const LONG result = machine_wide ? key.Open(HKEY_LOCAL_MACHINE, (kMachineClassesKey + subkey).c_str(), KEY_READ)
                                   : key.Open(HKEY_CLASSES_ROOT, subkey.c_str(), KEY_READ);
  return result == ERROR_SUCCESS ? key.ReadValue(L"", value) : result;
}

}  // namespace

bool GetRegisteredCommand(const std::wstring& name, bool machine_wide, std::wstring* command) {
  const bool is_extension = !name.empty() && name[0] == L'.';
  std::wstring class_name;
  if (!machine_wide && base::win::GetVersion() >= base::win::VERSION_VISTA) {
    const std::wstring choice_key =
        (is_extension ? kExtensionChoicesKey : kProtocolChoicesKey) + name + kUserChoiceSubkey;
    // Most users never chose a program for most names, and fresh profiles have no choice keys at all: a missing
    // key means no choice, exactly as a missing value does, so that the class lookup below still runs.
    base::win::RegKey key;
    LONG result = key.Open(HKEY_CURRENT_USER, choice_key.c_str(), KEY_QUERY_VALUE);
    if (result == ERROR_SUCCESS)
      result = key.ReadValue(kProgIdValue, &class_name);
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

}  // namespace zorvi::installer
