#include "desktop/launcher/installer/steps/installer_registry.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

#include "base/files/file_path.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/service/transactions/placeholder_provider.h"
#include "desktop/launcher/installer/steps/default_browser.h"

namespace zorvi::installer {

const wchar_t kUninstallKeyTemplate[] = L"{Uninstall}";

namespace {

constexpr int kAnyWindows = base::win::VERSION_XP;
constexpr int kVista = base::win::VERSION_VISTA;
// The rows that only the release stream writes.
constexpr int kReleaseStream = 4;

constexpr wchar_t kUninstallKeyBase[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The browser's start-menu client and the keys of the rows below it.
#define START_MENU_CLIENT ZORVI_START_MENU_INTERNET_KEY L"\\{Product}{Stream}"
constexpr wchar_t kStartMenuClient[] = START_MENU_CLIENT;
constexpr wchar_t kCapabilities[] = START_MENU_CLIENT L"\\Capabilities";
constexpr wchar_t kInstallInfo[] = START_MENU_CLIENT L"\\InstallInfo";
constexpr wchar_t kClientIcon[] = START_MENU_CLIENT L"\\DefaultIcon";
constexpr wchar_t kClientCommand[] = START_MENU_CLIENT L"\\shell\\open\\command";
constexpr wchar_t kFileAssociationsKey[] = START_MENU_CLIENT L"\\Capabilities\\FileAssociations";
constexpr wchar_t kStartmenuKey[] = START_MENU_CLIENT L"\\Capabilities\\Startmenu";
constexpr wchar_t kUrlAssociationsKey[] = START_MENU_CLIENT L"\\Capabilities\\UrlAssociations";
#undef START_MENU_CLIENT
constexpr wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\{Executable}";
constexpr wchar_t kClassName[] = L"{Product}{Stream}";
// The launcher in the rows' texts, and the commands that run it.
#define LAUNCHER_PATH L"{InstallFolder}\\" ZORVI_REGISTERED_LAUNCHER_FILE_NAME
#define QUOTED_LAUNCHER_PATH L"\"" LAUNCHER_PATH L"\""
constexpr wchar_t kLauncherPath[] = LAUNCHER_PATH;
constexpr wchar_t kQuotedLauncherPath[] = QUOTED_LAUNCHER_PATH;
constexpr wchar_t kLauncherIcon[] = LAUNCHER_PATH L",0";
constexpr wchar_t kQuotedLauncherIcon[] = QUOTED_LAUNCHER_PATH L",0";
constexpr wchar_t kOpenFileCommand[] = QUOTED_LAUNCHER_PATH L" \"%1\"";
constexpr wchar_t kShowIconsCommand[] = QUOTED_LAUNCHER_PATH L" --showicons";
constexpr wchar_t kHideIconsCommand[] = QUOTED_LAUNCHER_PATH L" --hideicons";
constexpr wchar_t kReinstallCommand[] = QUOTED_LAUNCHER_PATH L" --makedefaultbrowser";
constexpr wchar_t kUninstallCommand[] = QUOTED_LAUNCHER_PATH L" /uninstall";
#undef QUOTED_LAUNCHER_PATH
#undef LAUNCHER_PATH

// Extensions whose "Open with" lists offer the browser's class.
constexpr const wchar_t* kOpenWithKeys[] = {
    L"Software\\Classes\\.zvdownload\\OpenWithProgIDs", L"Software\\Classes\\.htm\\OpenWithProgIDs",
    L"Software\\Classes\\.html\\OpenWithProgIDs",       L"Software\\Classes\\.pdf\\OpenWithProgIDs",
    L"Software\\Classes\\.shtml\\OpenWithProgIDs",      L"Software\\Classes\\.xht\\OpenWithProgIDs",
    L"Software\\Classes\\.xhtml\\OpenWithProgIDs"};
// Extensions the browser's capabilities name for the system's default programs (from Windows Vista on).
constexpr const wchar_t* kFileAssociations[] = {L".crx", L".htm", L".html", L".nex",  L".zvdownload",
                                               L".pdf", L".shtml", L".xht", L".xhtml"};
constexpr const wchar_t* kUrlAssociations[] = {L"http", L"https", L"ftp", L"mailto"};

// Containers shared with the system and other programs, below which the installation makes keys of its own; a
// status log may have only those deleted.
constexpr const wchar_t* kCleanableContainers[] = {
    L"Software\\Classes",
    kStartMenuInternetKey,
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
};
// Other programs' entries live here too: the container is the system's, only entries below it may go.
constexpr wchar_t kApplicationsContainer[] = L"Software\\Classes\\Applications";
// The earlier engine's browser class and start-menu client, as its status logs name them.
constexpr const wchar_t* kEarlierEngineKeys[] = {L"Software\\Classes\\Kadro{Product}HTML",
                                                 ZORVI_START_MENU_INTERNET_KEY L"\\Kadro{SPProduct}"};

class RowList {
 public:
  explicit RowList(PlaceholderProvider* placeholders) : placeholders_(placeholders) {}

  void Text(const wchar_t* key, const wchar_t* value, const wchar_t* text, int clean, int min_windows = kAnyWindows,
            int min_stream = 0) {
    Add(key, value, REG_SZ, reinterpret_cast<uintptr_t>(text), clean, min_windows, min_stream);
  }
  void Number(const wchar_t* key, const wchar_t* value, DWORD number, int clean, int min_windows = kAnyWindows) {
    Add(key, value, REG_DWORD, number, clean, min_windows, 0);
  }
  void Empty(const wchar_t* key, const wchar_t* value, int clean) { Add(key, value, REG_NONE, 0, clean, kAnyWindows, 0); }
  void Append(const std::vector<RegistryEntry>& rows) { rows_.insert(rows_.end(), rows.begin(), rows.end()); }

  std::vector<RegistryEntry> Take() { return std::move(rows_); }

 private:
  void Add(const wchar_t* key, const wchar_t* value, DWORD type, uintptr_t data, int clean, int min_windows,
           int min_stream) {
    rows_.push_back(RegistryEntry{key, value, type, data, min_windows, nullptr, min_stream, clean, placeholders_});
  }

  PlaceholderProvider* const placeholders_;
  std::vector<RegistryEntry> rows_;
};

// The path's components; false for a path with an empty one (a leading, doubled or trailing separator), which
// names no key the installation made.
bool SplitKeyPath(const std::wstring& path, std::vector<std::wstring>* components) {
  *components = base::SplitString(path, L"\\", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  for (const std::wstring& component : *components) {
    if (component.empty())
      return false;
  }
  return true;
}

// The number of components of `container` when `path` starts with them (compared without case, as the registry
// compares names); 0 when it does not.
size_t ContainerComponents(const std::vector<std::wstring>& path, const std::wstring& container) {
  std::vector<std::wstring> parts;
  SplitKeyPath(container, &parts);
  if (path.size() < parts.size())
    return 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (base::FilePath::CompareIgnoreCase(path[i], parts[i]) != 0)
      return 0;
  }
  return parts.size();
}

// Whether `path` lies strictly below one of the shared containers (and is not the classes' applications
// container itself).
bool IsBelowSharedContainer(const std::vector<std::wstring>& path) {
  if (ContainerComponents(path, kApplicationsContainer) == path.size())
    return false;
  for (const wchar_t* container : kCleanableContainers) {
    const size_t matched = ContainerComponents(path, container);
    if (matched > 0 && path.size() > matched)
      return true;
  }
  return false;
}

// Every uninstall entry of the product starts so, whatever its version and suffix.
std::wstring UninstallKeyPrefix() {
  return kUninstallKeyBase + base::UTF8ToWide(GetProductName() + " ");
}

}  // namespace

std::vector<RegistryEntry> InstallerRegistryEntries(PlaceholderProvider* placeholders, bool hide_from_programs) {
  RowList rows(placeholders);
  rows.Append(BrowserClassEntries(placeholders));
  rows.Text(L"Software\\Classes\\.zex", nullptr, L"{Product}{Stream}.Extension", 1);
  rows.Empty(L"Software\\Classes\\.zex\\OpenWithProgIDs", kClassName, 1);
  for (const wchar_t* key : kOpenWithKeys)
    rows.Empty(key, kClassName, 0);
  rows.Text(L"Software\\Classes\\Applications\\{Executable}\\shell\\open\\command", nullptr,
            kOpenFileCommand, 4, kAnyWindows, kReleaseStream);
  rows.Text(kAppPaths, nullptr, kQuotedLauncherPath, 0, kAnyWindows, kReleaseStream);
  rows.Text(kAppPaths, L"Path", L"\"{InstallFolder}\"", 0, kAnyWindows, kReleaseStream);
  rows.Number(L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted",
              kLauncherPath, 32, 0, kVista);
  rows.Text(L"Software\\RegisteredApplications", L"{Product} {Stream}", kCapabilities, 0, kVista);
  rows.Text(kStartMenuClient, nullptr, L"{Product} {Stream}", 1);
  rows.Text(kClientIcon, nullptr, kLauncherIcon, 1);
  rows.Text(kInstallInfo, L"ShowIconsCommand", kShowIconsCommand, 1);
  rows.Text(kInstallInfo, L"HideIconsCommand", kHideIconsCommand, 1);
  rows.Text(kInstallInfo, L"ReinstallCommand", kReinstallCommand, 1);
  rows.Number(kInstallInfo, L"IconsVisible", 1, 1);
  rows.Text(kClientCommand, nullptr, kQuotedLauncherPath, 2);
  rows.Text(kCapabilities, L"ApplicationDescription", L"Browse the web quickly and safely", 1, kVista);
  rows.Text(kCapabilities, L"ApplicationIcon", kQuotedLauncherIcon, 1, kVista);
  rows.Text(kCapabilities, L"ApplicationName", L"{Product} {Stream}", 1, kVista);
  for (const wchar_t* extension : kFileAssociations)
    rows.Text(kFileAssociationsKey, extension, kClassName, 1, kVista);
  rows.Text(kStartmenuKey, L"StartMenuInternet", kClassName, 1, kVista);
  for (const wchar_t* protocol : kUrlAssociations)
    rows.Text(kUrlAssociationsKey, protocol, kClassName, 1, kVista);
  rows.Text(kUninstallKeyTemplate, L"DisplayName", L"{Product} {Stream} {Version}", 1);
  rows.Text(kUninstallKeyTemplate, L"DisplayIcon", kQuotedLauncherIcon, 1);
  rows.Text(kUninstallKeyTemplate, L"DisplayVersion", L"{Version}", 1);
  rows.Text(kUninstallKeyTemplate, L"HelpLink", L"{HelpURL}", 1);
  rows.Text(kUninstallKeyTemplate, L"InstallLocation", L"{InstallFolder}", 1);
  rows.Number(kUninstallKeyTemplate, L"NoModify", 1, 1);
  rows.Number(kUninstallKeyTemplate, L"NoRepair", 1, 1);
  rows.Text(kUninstallKeyTemplate, L"Publisher", L"{Company}", 1);
  rows.Text(kUninstallKeyTemplate, L"UninstallString", kUninstallCommand, 1);
  rows.Text(kUninstallKeyTemplate, L"URLInfoAbout", L"{CompanyURL}", 1);
  rows.Text(kUninstallKeyTemplate, L"URLUpdateInfo", L"{DownloadsURL}", 1);
  if (hide_from_programs)
    rows.Number(kUninstallKeyTemplate, L"SystemComponent", 1, 1);
  return rows.Take();
}

std::wstring UninstallKeyName(const std::wstring& suffix) {
  return UninstallKeyPrefix() + base::UTF8ToWide(GetFullVersionString()) + suffix;
}

std::vector<std::wstring> OwnCleanableRegistryKeys(PlaceholderProvider* placeholders) {
  std::vector<RegistryEntry> rows = InstallerRegistryEntries(placeholders, false);
  // The application path's rows keep their key, but an earlier version may have recorded it for deletion.
  rows.push_back(RegistryEntry{kAppPaths, nullptr, REG_NONE, 0, kAnyWindows, nullptr, 0, 1, placeholders});
  std::vector<std::wstring> keys;
  for (const RegistryEntry& row : rows) {
    // The uninstall entries are known by their name's start (IsCleanableRegistryKey); this run's may not be chosen.
    if (row.clean_level < 1 || row.key_path == kUninstallKeyTemplate)
      continue;
    std::wstring key_path;
    if (!ExpandPlaceholders(row, &key_path, row.key_path))
      continue;
    const std::wstring key = RegistryKeyToClean(key_path, row.clean_level);
    std::vector<std::wstring> components;
    if (SplitKeyPath(key, &components) && IsBelowSharedContainer(components) &&
        std::find(keys.begin(), keys.end(), key) == keys.end()) {
      keys.push_back(key);
    }
  }
  return keys;
}

std::vector<std::wstring> EarlierEngineRegistryKeys() {
  return std::vector<std::wstring>(std::begin(kEarlierEngineKeys), std::end(kEarlierEngineKeys));
}

std::wstring OldProductSuffix(int type) {
  switch (type) {
    case 0:
      return L"";
    case 1:
      return L"Preview";
    case 2:
      return L"Labs";
    default:
      return L"Invalid";
  }
}

std::wstring RegistryKeyToClean(const std::wstring& key_path, int clean_level) {
  std::wstring key = key_path;
  // Climbs by the registry's own separator only: a key's name may hold a slash.
  for (int level = 1; level < clean_level; ++level) {
    const size_t separator = key.rfind(L'\\');
    if (separator == std::wstring::npos)
      return std::wstring();
    key.resize(separator);
  }
  return key;
}

bool IsCleanableRegistryKey(const std::wstring& key_path, const std::vector<std::wstring>& own_keys) {
  std::vector<std::wstring> components;
  if (!SplitKeyPath(key_path, &components) || !IsBelowSharedContainer(components))
    return false;
  for (const std::wstring& own : own_keys) {
    if (ContainerComponents(components, own) > 0)
      return true;
  }
  // An uninstall entry of the product, of any version and suffix.
  const std::wstring prefix = UninstallKeyPrefix();
  return key_path.size() > prefix.size() &&
         base::FilePath::CompareIgnoreCase(key_path.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace zorvi::installer
