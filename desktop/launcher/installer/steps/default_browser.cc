#include "desktop/launcher/installer/steps/default_browser.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_comptr.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/records/registered_command.h"
#include "desktop/launcher/installer/service/transactions/operation.h"
#include "desktop/launcher/installer/service/transactions/placeholder_provider.h"
#include "desktop/launcher/installer/service/utils.h"

namespace zorvi::installer {

namespace {

// The keys of a class that opens URLs: the browser's own class, or a protocol's key, which is a class too.
struct ClassKeys {
  const wchar_t* base;
  const wchar_t* icon;
  const wchar_t* command;
  const wchar_t* ddeexec;
  const wchar_t* ddeexec_application;
  const wchar_t* ddeexec_topic;
};
#define CLASS_KEYS(base)                                                                                   \
  {                                                                                                        \
    base, base L"\\DefaultIcon", base L"\\shell\\open\\command", base L"\\shell\\open\\ddeexec",           \
        base L"\\shell\\open\\ddeexec\\Application", base L"\\shell\\open\\ddeexec\\Topic"                \
  }
constexpr ClassKeys kBrowserClassKeys = CLASS_KEYS(L"Software\\Classes\\{Product}{Stream}");
constexpr ClassKeys kProtocolKeys = CLASS_KEYS(L"Software\\Classes\\{Protocol}");
#undef CLASS_KEYS

// Protocol keys carry their command with the launcher's file name in lower case, as earlier versions wrote it;
// readers compare without regard to case.
constexpr wchar_t kClassCommand[] =
    L"\"{InstallFolder}\\" ZORVI_REGISTERED_LAUNCHER_FILE_NAME L"\" -noautoupdate -- \"%1\"";
constexpr wchar_t kProtocolCommand[] = L"\"{InstallFolder}\\" ZORVI_LAUNCHER_FILE_NAME L"\" -noautoupdate -- \"%1\"";
constexpr wchar_t kClassIcon[] = L"{InstallFolder}\\" ZORVI_REGISTERED_LAUNCHER_FILE_NAME L",0";
constexpr wchar_t kClassName[] = L"{Product}{Stream}";
constexpr wchar_t kEmpty[] = L"";
constexpr DWORD kProtocolEditFlags = 2;
constexpr wchar_t kExtensionKey[] = L"Software\\Classes\\{Extension}";
constexpr wchar_t kProtocolChoiceKey[] = ZORVI_PROTOCOL_CHOICES_KEY L"{Protocol}" ZORVI_USER_CHOICE_SUBKEY;
constexpr wchar_t kExtensionChoiceKey[] = ZORVI_EXTENSION_CHOICES_KEY L"{Extension}" ZORVI_USER_CHOICE_SUBKEY;
constexpr wchar_t kStartMenuClient[] = L"StartmenuInternet";
constexpr wchar_t kPreviousDefaultBrowserValue[] = L"Previous Default Browser";

// What the user opens the Default Apps settings page with, from Windows 10 on.
constexpr wchar_t kSettingsAppId[] =
    L"windows.immersivecontrolpanel_cw5n1h2txyewy!microsoft.windows.immersivecontrolpanel";
constexpr wchar_t kDefaultAppsPage[] = L"page=SettingsPageAppsDefaults";
constexpr int kOpenWithFlags = OAIF_URL_PROTOCOL | OAIF_FORCE_REGISTRATION | OAIF_REGISTER_EXT;

// The protocols and extensions a default browser handles, after "http", below Windows 8 (MakeDefaultBrowser). No
// ".pdf": the browser is offered for PDF files (the registry step's lists) but does not take them over.
constexpr const wchar_t* kBrowserNames[] = {L"https", L"ftp",         L".crx",   L".htm",  L".html",
                                            L".nex",   L".zvdownload", L".shtml", L".xht", L".xhtml"};

// The application-activation manager of Windows 8 and later; the SDK declares it only for those versions.
constexpr CLSID kActivationManagerClass = {
    0x45BA127D, 0x10A8, 0x46EA, {0x8A, 0xB7, 0x56, 0xEA, 0x90, 0x78, 0x94, 0x3C}};
constexpr IID kActivationManagerInterface = {
    0x2E941141, 0x7F97, 0x4756, {0xBA, 0x1D, 0x9D, 0xEC, 0xDE, 0x89, 0x4A, 0x3D}};
struct ActivationManager : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ActivateApplication(const wchar_t* app_id, const wchar_t* arguments, int options,
                                                        DWORD* process_id) = 0;
  virtual HRESULT STDMETHODCALLTYPE ActivateForFile(const wchar_t* app_id, IShellItemArray* items,
                                                    const wchar_t* verb, DWORD* process_id) = 0;
  virtual HRESULT STDMETHODCALLTYPE ActivateForProtocol(const wchar_t* app_id, IShellItemArray* items,
                                                        DWORD* process_id) = 0;
};

HKEY RootFor(bool machine_wide) {
  return machine_wide ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring OwnClassName() {
  return base::UTF8ToWide(GetProductName() + GetStreamName());
}

// Texts of the association rows: the name being registered (empty for the class's own rows) and the
// installation's folder. These rows are never recorded in the status log.
class AssociationPlaceholderProvider : public PlaceholderProvider {
 public:
  AssociationPlaceholderProvider(const std::wstring& name, const base::FilePath& install_folder)
      : name_(name), install_folder_(install_folder) {}

  std::wstring GetValue(const std::wstring& placeholder) override {
    if (placeholder == L"InstallFolder")
      return install_folder_.value();
    if (placeholder == L"Stream")
      return base::UTF8ToWide(GetStreamName());
    if (placeholder == L"Product")
      return base::UTF8ToWide(GetProductName());
    if (placeholder == L"Extension" || placeholder == L"Protocol")
      return name_;
    return placeholder;
  }
  std::vector<InstallLogKey>* GetRootValue(HKEY) override { return nullptr; }

 private:
  const std::wstring name_;
  const base::FilePath install_folder_;
};

RegistryEntry Row(const wchar_t* key, const wchar_t* value_name, DWORD type, uintptr_t data, HKEY hive,
                  int clean_level, PlaceholderProvider* placeholders, int min_windows = base::win::VERSION_XP) {
  return RegistryEntry{key, value_name, type, data, min_windows, hive, 0, clean_level, placeholders};
}

uintptr_t Text(const wchar_t* text) {
  return reinterpret_cast<uintptr_t>(text);
}

// The rows of a class that opens URLs after its first: URL marker, icon, open command, and the DDE keys, which are
// removed machine-wide and left empty per user so that the shell starts the command instead of talking DDE.
void AppendShellRows(const ClassKeys& keys, const wchar_t* command, const int (&clean_levels)[8],
                     PlaceholderProvider* placeholders, std::vector<RegistryEntry>* rows) {
  rows->push_back(Row(keys.base, L"URL Protocol", REG_SZ, Text(kEmpty), nullptr, clean_levels[1], placeholders));
  rows->push_back(Row(keys.icon, nullptr, REG_SZ, Text(kClassIcon), nullptr, clean_levels[2], placeholders));
  rows->push_back(Row(keys.command, nullptr, REG_SZ, Text(command), nullptr, clean_levels[3], placeholders));
  rows->push_back(Row(keys.ddeexec, nullptr, kRegistryEntryDeleteKey, 0, HKEY_LOCAL_MACHINE, clean_levels[4],
                      placeholders));
  rows->push_back(Row(keys.ddeexec, nullptr, REG_SZ, Text(kEmpty), HKEY_CURRENT_USER, clean_levels[5], placeholders));
  rows->push_back(Row(keys.ddeexec_application, nullptr, REG_SZ, Text(kEmpty), HKEY_CURRENT_USER, clean_levels[6],
                      placeholders));
  rows->push_back(
      Row(keys.ddeexec_topic, nullptr, REG_SZ, Text(kEmpty), HKEY_CURRENT_USER, clean_levels[7], placeholders));
}

// Carries out `rows` under `root` as one transaction: every row that applies here takes effect, or, when one
// cannot be made or done, every change of this call is rolled back.
bool WriteRows(const std::vector<RegistryEntry>& rows, HKEY root, const std::wstring& what) {
  OperationList transaction;
  for (const RegistryEntry& row : rows) {
    std::unique_ptr<Operation> operation;
    if (!CreateRegistryOperation(row, root, &operation) ||
        (operation && !ExecuteOperation(&transaction, std::move(operation)))) {
      LOG(ERROR) << "Registering " << what << " failed at key " << row.key_path << "; every change rolled back";
      RollbackOperations(&transaction);
      return false;
    }
  }
  DeleteOperations(&transaction);
  return true;
}

// The default-programs registration of Windows Vista and later; null, with a log line, when it cannot be had.
base::win::ScopedComPtr<IApplicationAssociationRegistration> CreateAssociationRegistration() {
  base::win::ScopedComPtr<IApplicationAssociationRegistration> registration;
  const HRESULT result =
      registration.CreateInstance(CLSID_ApplicationAssociationRegistration, nullptr, CLSCTX_INPROC_SERVER);
  if (FAILED(result)) {
    LOG(ERROR) << "Cannot create the default-programs registration: 0x" << std::hex << result;
    registration.Reset();
  }
  return registration;
}

// Asks the system to make the installation the user's program for `name` of `type`.
bool SetAppAsDefault(InstallationInfo* info, const wchar_t* name, ASSOCIATIONTYPE type) {
  const base::win::ScopedComPtr<IApplicationAssociationRegistration> registration = CreateAssociationRegistration();
  if (!registration)
    return false;
  const HRESULT result = registration->SetAppAsDefault(info->display_name().c_str(), name, type);
  if (FAILED(result)) {
    LOG(ERROR) << "The system did not make " << info->display_name() << " the default for " << name << ": 0x"
               << std::hex << result;
    return false;
  }
  return true;
}

// From Windows 10 on a program cannot choose the user's browser: it can only open the page where the user does.
bool OpenDefaultAppsPage() {
  base::win::ScopedComPtr<ActivationManager> manager;
  HRESULT result = CoCreateInstance(kActivationManagerClass, nullptr, CLSCTX_ALL, kActivationManagerInterface,
                                    manager.ReceiveVoid());
  if (SUCCEEDED(result)) {
    // The page opens in another process, which must be allowed to come to the front over the installer.
    CoAllowSetForegroundWindow(manager.get(), nullptr);
    DWORD process_id = 0;
    result = manager->ActivateApplication(kSettingsAppId, kDefaultAppsPage, 0, &process_id);
  }
  if (FAILED(result)) {
    LOG(ERROR) << "Cannot open the Default Apps page: 0x" << std::hex << result;
    return false;
  }
  return true;
}

// Windows 8 and 8.1 let the user pick the program for `name` in the shell's open-with dialog.
bool ShowOpenWithDialog(const std::wstring& name) {
  HRESULT result;
  if (const OpenWithDialogHook hook = GetOpenWithDialogHook()) {
    result = hook(name, kOpenWithFlags);
  } else {
    const OPENASINFO info = {name.c_str(), nullptr, kOpenWithFlags};
    result = SHOpenWithDialog(nullptr, &info);
  }
  if (FAILED(result)) {
    LOG(ERROR) << "The open-with dialog for " << name << " failed: 0x" << std::hex << result;
    return false;
  }
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return true;
}

}  // namespace

bool IsDefaultBrowser(InstallationInfo* info) {
  return info->IsRegisteredHandler(L"http", false) && info->IsRegisteredHandler(L"https", false) &&
         (base::win::GetVersion() >= base::win::VERSION_WIN8 || IsStartMenuInternetDefault(info));
}

bool IsStartMenuInternetDefault(InstallationInfo* info) {
  info->LoadInstallLog();
  if (base::win::GetVersion() >= base::win::VERSION_VISTA && info->install_log().all_users) {
    const base::win::ScopedComPtr<IApplicationAssociationRegistration> registration =
        CreateAssociationRegistration();
    if (!registration)
      return false;
    BOOL is_default = FALSE;
    const HRESULT result = registration->QueryAppIsDefault(kStartMenuClient, AT_STARTMENUCLIENT, AL_EFFECTIVE,
                                                           info->display_name().c_str(), &is_default);
    if (FAILED(result)) {
      LOG(ERROR) << "Cannot ask whether " << info->display_name() << " is the start menu's browser: 0x" << std::hex
                 << result;
      return false;
    }
    return is_default;
  }
  // A user who never chose a start-menu browser has no key at all, not only no value: both leave the choice to
  // the machine.
  std::wstring client;
  LONG result = ReadStringValue(HKEY_CURRENT_USER, kStartMenuInternetKey, L"", &client);
  if (result == ERROR_FILE_NOT_FOUND)
    result = ReadStringValue(HKEY_LOCAL_MACHINE, kStartMenuInternetKey, L"", &client);
  if (result != ERROR_SUCCESS)
    client.clear();
  return client == OwnClassName();
}

bool SavePreviousDefaultBrowser(const std::wstring& command, bool machine_wide) {
  base::win::RegKey key;
  LONG result = key.Create(RootFor(machine_wide), GetCompanyRegistryKeyPath().c_str(), KEY_SET_VALUE);
  if (result == ERROR_SUCCESS)
    result = key.WriteValue(kPreviousDefaultBrowserValue, command.c_str());
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot save the previous default browser: error " << result;
    return false;
  }
  return true;
}

void RememberPreviousDefaultBrowser(InstallationInfo* info, bool machine_wide) {
  if (info->IsRegisteredHandler(L"http", false))
    return;
  std::wstring command;
  // The machine's browser can still be the installation's after the user chose another one; saving that would
  // replace the browser it took over from.
  if (GetRegisteredCommand(L"http", machine_wide, &command) && !info->RunsLauncher(command, false))
    SavePreviousDefaultBrowser(command, machine_wide);
}

bool MakeDefaultBrowser(InstallationInfo* info, bool machine_wide) {
  if (info->IsSingleProfile()) {
    LOG(INFO) << "A single-profile installation does not become the default browser";
    return false;
  }
  // Each registration stands on its own: what the Windows version refuses leaves the others in place, and the
  // answer is what the user's settings say afterwards.
  if (RegisterBrowserClass(info, machine_wide)) {
    RegisterAsHandler(info, L"http", machine_wide);
    if (base::win::GetVersion() < base::win::VERSION_WIN8) {
      for (const wchar_t* name : kBrowserNames)
        RegisterAsHandler(info, name, machine_wide);
      RegisterStartMenuInternet(info, machine_wide);
    }
  }
  return IsDefaultBrowser(info);
}

std::vector<RegistryEntry> BrowserClassEntries(PlaceholderProvider* placeholders) {
  constexpr int kCleanLevels[8] = {1, 1, 1, 2, 0, 2, 1, 1};
  std::vector<RegistryEntry> rows = {Row(kBrowserClassKeys.base, L"FriendlyTypeName", REG_SZ,
                                         Text(L"{Product} Web Document"), nullptr, kCleanLevels[0], placeholders)};
  AppendShellRows(kBrowserClassKeys, kClassCommand, kCleanLevels, placeholders, &rows);
  return rows;
}

bool RegisterBrowserClass(InstallationInfo* info, bool machine_wide) {
  AssociationPlaceholderProvider placeholders(L"", info->install_folder());
  return WriteRows(BrowserClassEntries(&placeholders), RootFor(machine_wide), L"the browser class");
}

bool RegisterAsHandler(InstallationInfo* info, const std::wstring& name, bool machine_wide) {
  // The name becomes a key below "Software\Classes": an empty one would write the rows into that key itself and
  // one with a separator into another class's key.
  if (name.empty() || name.find(L'\\') != std::wstring::npos) {
    LOG(ERROR) << "Refusing to register a handler for the name \"" << name << "\"";
    return false;
  }
  info->LoadInstallLog();
  const base::win::WindowsVersion version = base::win::GetVersion();
  const bool is_extension = IsExtension(name);
  // Whether the system itself recorded the user's choice, which must then stay.
  bool chosen_by_system = false;
  if (version >= base::win::VERSION_WIN10) {
    if (machine_wide) {
      LOG(ERROR) << "Windows 10 has no machine-wide default browser";
      return false;
    }
    return OpenDefaultAppsPage();
  }
  if (version >= base::win::VERSION_WIN8) {
    if (machine_wide) {
      LOG(ERROR) << "Windows 8 has no machine-wide handler for " << name;
      return false;
    }
    chosen_by_system = true;
    if (!info->IsRegisteredHandler(name, false) && !ShowOpenWithDialog(name))
      return false;
  } else if (version >= base::win::VERSION_VISTA) {
    if (!machine_wide && info->install_log().all_users) {
      if (!SetAppAsDefault(info, name.c_str(), is_extension ? AT_FILEEXTENSION : AT_URLPROTOCOL))
        return false;
      chosen_by_system = true;
    }
  } else {
    chosen_by_system = true;
  }

  AssociationPlaceholderProvider placeholders(name, info->install_folder());
  std::vector<RegistryEntry> rows;
  if (is_extension) {
    rows.push_back(Row(kExtensionKey, nullptr, REG_SZ, Text(kClassName), nullptr, 0, &placeholders));
    if (!chosen_by_system) {
      rows.push_back(Row(kExtensionChoiceKey, kUserChoiceClassValue, kRegistryEntryDeleteValue, 0, HKEY_CURRENT_USER, 0,
                         &placeholders, base::win::VERSION_VISTA));
    }
  } else {
    constexpr int kCleanLevels[8] = {};
    rows.push_back(Row(kProtocolKeys.base, L"EditFlags", REG_DWORD, kProtocolEditFlags, nullptr, 0, &placeholders));
    AppendShellRows(kProtocolKeys, kProtocolCommand, kCleanLevels, &placeholders, &rows);
    if (!chosen_by_system) {
      rows.push_back(Row(kProtocolChoiceKey, kUserChoiceClassValue, kRegistryEntryDeleteValue, 0, HKEY_CURRENT_USER, 0,
                         &placeholders, base::win::VERSION_VISTA));
    }
  }
  return WriteRows(rows, RootFor(machine_wide), name);
}

bool RegisterStartMenuInternet(InstallationInfo* info, bool machine_wide) {
  const base::win::WindowsVersion version = base::win::GetVersion();
  if (version >= base::win::VERSION_WIN8 && machine_wide) {
    LOG(ERROR) << "Windows 8 and later have no machine-wide start-menu browser";
    return false;
  }
  info->LoadInstallLog();
  if (version >= base::win::VERSION_VISTA && version < base::win::VERSION_WIN8 && !machine_wide &&
      info->install_log().all_users && !SetAppAsDefault(info, kStartMenuClient, AT_STARTMENUCLIENT)) {
    return false;
  }
  AssociationPlaceholderProvider placeholders(L"", info->install_folder());
  return WriteRows({Row(kStartMenuInternetKey, nullptr, REG_SZ, Text(kClassName), nullptr, 0, &placeholders)},
                   RootFor(machine_wide), L"the start-menu browser");
}

namespace {

constexpr wchar_t kSystemBrowserInstallInfoKey[] = L"SOFTWARE\\Clients\\StartMenuInternet\\IEXPLORE.EXE\\InstallInfo";
constexpr wchar_t kSystemBrowserName[] = L"Internet Explorer";

// Splits a command into its program (quoted, or up to the first blank) and its parameters, which follow the
// closing quote, if any, and one blank.
void SplitCommand(const std::wstring& command, std::wstring* program, std::wstring* parameters) {
  const bool quoted = !command.empty() && command[0] == L'"';
  const size_t start = quoted ? 1 : 0;
  const size_t end = std::min(command.find(quoted ? L'"' : L' ', start), command.size());
  *program = command.substr(start, end - start);
  const size_t rest = end + (quoted ? 2 : 1);
  *parameters = rest < command.size() ? command.substr(rest) : std::wstring();
}

// A 32-bit process on a 64-bit system sees a redirected system folder; the reinstall command names the real one.
class ScopedFileSystemRedirectionOff {
 public:
  ScopedFileSystemRedirectionOff() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    auto is_wow64 = Function<BOOL(WINAPI*)(HANDLE, BOOL*)>(kernel32, "IsWow64Process");
    disable_ = Function<RedirectionFunction>(kernel32, "Wow64DisableWow64FsRedirection");
    revert_ = Function<RevertFunction>(kernel32, "Wow64RevertWow64FsRedirection");
    BOOL wow64 = FALSE;
    active_ = is_wow64 && disable_ && revert_ && is_wow64(GetCurrentProcess(), &wow64) && wow64 && disable_(&old_);
  }
  ~ScopedFileSystemRedirectionOff() {
    if (active_)
      revert_(old_);
  }
  ScopedFileSystemRedirectionOff(const ScopedFileSystemRedirectionOff&) = delete;
  ScopedFileSystemRedirectionOff& operator=(const ScopedFileSystemRedirectionOff&) = delete;

 private:
  using RedirectionFunction = BOOL(WINAPI*)(void**);
  using RevertFunction = BOOL(WINAPI*)(void*);
  template <typename T>
  static T Function(HMODULE module, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  RedirectionFunction disable_ = nullptr;
  RevertFunction revert_ = nullptr;
  void* old_ = nullptr;
  bool active_ = false;
};

// Runs the system browser's reinstall command, which makes it the machine's browser again, and waits for it.
bool RunSystemBrowserReinstallCommand() {
  std::wstring command;
  const LONG read = ReadStringValue(HKEY_LOCAL_MACHINE, kSystemBrowserInstallInfoKey, L"ReinstallCommand", &command);
  if (read != ERROR_SUCCESS) {
    LOG(ERROR) << "No reinstall command of the system browser: " << read;
    return false;
  }
  std::wstring program;
  std::wstring parameters;
  SplitCommand(command, &program, &parameters);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  BOOL started;
  {
    ScopedFileSystemRedirectionOff redirection_off;
    started = ShellExecuteExW(&info);
  }
  if (!started || !info.hProcess) {
    LOG(ERROR) << "Cannot run the system browser's reinstall command " << command << ": " << GetLastError();
    return false;
  }
  const base::win::ScopedHandle process(info.hProcess);
  WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

}  // namespace

void ResetDefaultBrowser(bool machine_wide, bool for_user) {
  if ((machine_wide && !RunSystemBrowserReinstallCommand()) || !for_user)
    return;
  if (base::win::GetVersion() == base::win::VERSION_WIN8) {
    ShowOpenWithDialog(L"http");
    return;
  }
  const base::win::ScopedComPtr<IApplicationAssociationRegistration> registration = CreateAssociationRegistration();
  if (!registration)
    return;
  const std::pair<const wchar_t*, ASSOCIATIONTYPE> kChoices[] = {
      {L".htm", AT_FILEEXTENSION}, {L".html", AT_FILEEXTENSION}, {L"http", AT_URLPROTOCOL}, {L"https", AT_URLPROTOCOL}};
  for (const auto& [name, type] : kChoices) {
    const HRESULT result = registration->SetAppAsDefault(kSystemBrowserName, name, type);
    if (FAILED(result))
      LOG(ERROR) << "The system browser did not become the default for " << name << ": 0x" << std::hex << result;
  }
}

}  // namespace zorvi::installer
