#include "desktop/launcher/installer/installer_test_util.h"

#include <windows.h>


#include <gtest/gtest.h>

#include "base/base_paths.h"
#include <cstring>
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/shortcut.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/service/transactions/operation_test_seam.h"
#include "desktop/launcher/installer/service/utils.h"
#include "testing/installer/installer_test_seams_from_environment.h"
#include "testing/installer/recording_task_scheduler.h"
#include "testing/installer/settings_status_wait.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {

std::wstring EchoVariable(const std::wstring& variable) {
  DWORD exit_code = 0;
  std::string output;
  EXPECT_TRUE(test_support::RunProcess(L"cmd.exe /c echo %" + variable + L"%", &exit_code, &output));
  std::string trimmed;
  base::TrimWhitespaceASCII(output, base::TRIM_ALL, &trimmed);
  return base::UTF8ToWide(trimmed);
}

std::vector<std::string> ReadLines(const base::FilePath& path) {
  std::string text;
  std::vector<std::string> lines;
  test_support::ReadFileBytes(path.value(), &text);
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::vector<std::string> JoinLines(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> joined;
  for (const std::vector<std::string>& part : parts)
    joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

std::wstring LastInstallPathValue(const std::string& company) {
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof(value);
  const std::wstring key = L"Software\\" + base::UTF8ToWide(company);
  const std::wstring name = L"Last " + base::UTF8ToWide(GetStreamName()) + L" Install Path";
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value, &size) != 0)
    return L"(none)";
  return value;
}

void MakeShortcutTo(const base::FilePath& link, const base::FilePath& target) {
  base::win::ShortcutProperties properties;
  properties.set_target(target);
  properties.set_working_dir(target.DirName());
  ASSERT_TRUE(base::CreateDirectory(link.DirName()));
  ASSERT_TRUE(base::win::CreateOrUpdateShortcutLink(link, properties, base::win::ShortcutWriteMode::CreateAlways));
}

ControllerProcess::ControllerProcess(const std::wstring& switches, const std::wstring& environment) {
  std::wstring command_line = L"\"" + TestProgram(L"headless_controller_test_child.exe").value() +
                              L"\" --time-limit=" + std::to_wstring(kTimeLimitSeconds) + L" " + switches;
  std::wstring block = environment;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  EXPECT_TRUE(CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                             block.empty() ? nullptr : block.data(), nullptr, &startup, &information_))
      << GetLastError();
  CloseHandle(information_.hThread);
}

ControllerProcess::~ControllerProcess() {
  CloseHandle(information_.hProcess);
}

DWORD ControllerProcess::WaitFor(HANDLE process) {
  DWORD code = STILL_ACTIVE;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, kWaitLimitMs));
  GetExitCodeProcess(process, &code);
  return code;
}

InstallerMainThreadTest::InstallerMainThreadTest()
    : company_(base::WideToUTF8(test_support::UniqueName(L"ZorviTest"))) {
  base::CommandLine::Init();
  SetBrandingTextForTesting(R"({"company_name": ")" + company_ +
                            R"(", "product_name": "Zorvi", "visible_product_name": "Zorvi", )"
                            R"("file_name_base": "zorvi", "user_agent_name": "ZRV"})");
  com_initialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  EXPECT_TRUE(com_initialized_);
  PrefsTaskPool::GetInstance();
}

InstallerMainThreadTest::~InstallerMainThreadTest() {
  if (com_initialized_)
    CoUninitialize();
}

void InstallerMainThreadTest::RunUntilIdle() {
  base::RunLoop run_loop;
  loop_.task_runner()->PostTask(FROM_HERE, base::Bind(&base::MessageLoop::QuitWhenIdle, base::Unretained(&loop_)));
  run_loop.Run();
}

std::wstring InstallerMainThreadTest::CompanyKeyForReg() const {
  return L"HKCU\\Software\\" + base::UTF8ToWide(company_);
}

namespace {

void SetDefaultOrNamedValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  base::win::RegKey reg;
  ASSERT_EQ(ERROR_SUCCESS, reg.Create(root, key.c_str(), KEY_SET_VALUE));
  if (!value.empty()) {
    ASSERT_EQ(ERROR_SUCCESS, reg.WriteValue(name, value.c_str()));
  }
}

}  // namespace

ScopedAssociations::~ScopedAssociations() {
  for (const auto& [root, key] : created_)
    RegDeleteTreeW(root, key.c_str());
}

void ScopedAssociations::SetClassCommand(const std::wstring& class_name, const std::wstring& command) {
  SetDefaultOrNamedValue(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + class_name + L"\\shell\\open\\command", L"",
                         command);
  created_.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + class_name);
}

void ScopedAssociations::SetExtensionClass(const std::wstring& extension, const std::wstring& class_name) {
  SetDefaultOrNamedValue(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + extension, L"", class_name);
  created_.emplace_back(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + extension);
}

void ScopedAssociations::SetUserChoice(const std::wstring& name, const std::wstring& class_name) {
  const std::wstring key = UserChoiceKey(name);
  SetDefaultOrNamedValue(HKEY_CURRENT_USER, key, L"ProgId", class_name);
  // The name's key, which holds the choice.
  created_.emplace_back(HKEY_CURRENT_USER, key.substr(0, key.rfind(L'\\')));
}

std::wstring ScopedAssociations::UserChoiceKey(const std::wstring& name) {
  return (name[0] == L'.' ? L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\"
                          : L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\") +
         name + L"\\UserChoice";
}

namespace {

void CollectValues(HKEY root, const std::wstring& key, const std::wstring& relative, bool keys, RegistryValues* values) {
  base::win::RegKey reg;
  if (reg.Open(root, key.c_str(), KEY_READ) != ERROR_SUCCESS)
    return;
  if (keys && !relative.empty())
    (*values)[relative + L"\\"] = L"key";
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD name_size = 256;
    BYTE data[2048];
    DWORD data_size = sizeof(data);
    DWORD type = 0;
    if (RegEnumValueW(reg.Handle(), index, name, &name_size, nullptr, &type, data, &data_size) != ERROR_SUCCESS)
      break;
    std::wstring text;
    if (type == REG_DWORD && data_size == 4)
      text = L"dword:" + std::to_wstring(*reinterpret_cast<DWORD*>(data));
    else if (type == REG_SZ)
      text = L"sz:" + std::wstring(std::wstring(reinterpret_cast<wchar_t*>(data), data_size / 2).c_str());
    else
      text = L"type " + std::to_wstring(type);
    (*values)[relative + L"|" + name] = text;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD name_size = 256;
    if (RegEnumKeyExW(reg.Handle(), index, name, &name_size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    CollectValues(root, key.empty() ? name : key + L"\\" + name, relative.empty() ? name : relative + L"\\" + name,
                  keys, values);
  }
}

}  // namespace

RegistryValues ValuesBelow(HKEY root, const std::wstring& key, bool keys) {
  RegistryValues values;
  CollectValues(root, key, L"", keys, &values);
  return values;
}

ScopedRegistrySandbox::ScopedRegistrySandbox(bool keep)
    : base_(L"Software\\" + test_support::UniqueName(L"ZorviRegistrySandbox")), keep_(keep) {
  // Both keys are made before either root is redirected: the second would otherwise land inside the first.
  base::win::RegKey keys[2];
  const HKEY roots[2] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ERROR_SUCCESS, keys[i].Create(HKEY_CURRENT_USER, KeyFor(roots[i]).c_str(), KEY_ALL_ACCESS));
    // Every Windows user has a classes key; without it the first registration would create it as its own.
    base::win::RegKey classes;
    EXPECT_EQ(ERROR_SUCCESS, classes.Create(keys[i].Handle(), L"Software\\Classes", KEY_READ));
  }
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(roots[i], keys[i].Handle()));
}

ScopedRegistrySandbox::~ScopedRegistrySandbox() {
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  if (!keep_)
    RegDeleteTreeW(HKEY_CURRENT_USER, base_.c_str());
}

std::wstring ScopedRegistrySandbox::KeyFor(HKEY root) const {
  return base_ + (root == HKEY_LOCAL_MACHINE ? L"\\HKLM" : L"\\HKCU");
}

std::string ScopedRegistrySandbox::RegExport(HKEY root, const std::wstring& key) const {
  const test_support::ScopedTestFolder folder(L"reg_export");
  const std::wstring file = folder.path() + L"\\export.reg";
  DWORD exit_code = 1;
  std::string exported;
  if (!test_support::RunProcess(
          L"reg.exe export \"HKEY_CURRENT_USER\\" + KeyFor(root) + L"\\" + key + L"\" \"" + file + L"\" /y",
          &exit_code) ||
      exit_code != 0 || !test_support::ReadFileBytes(file, &exported) || exported.size() % 2 != 0) {
    return std::string();
  }
  // The file is UTF-16 with a byte-order mark; as UTF-8 a difference reads in a failure message.
  std::wstring text(exported.size() / 2, L'\0');
  std::memcpy(text.data(), exported.data(), exported.size());
  return base::WideToUTF8(text);
}

Lines Failure(int code, const std::wstring& detail, const std::string& message) {
  return {Recorder::ErrorLine(code, detail, message), Recorder::TerminatedLine(false)};
}

Lines Completed(int total) {
  return JoinLines({{kFolderReady, Recorder::TotalStepsLine(total)}, Lines(total, kStep), {kSuccess}});
}

InstallerRunTest::InstallerRunTest()
    : saved_command_line_(*base::CommandLine::ForCurrentProcess()), registry_(std::in_place), root_(L"installer") {
  install_ = Folder(L"Zorvi");
  EXPECT_TRUE(test_support::OverrideShortcutFolders(shortcuts().value()));
}

InstallerRunTest::~InstallerRunTest() {
  installer_.reset();
  settings_.reset();
  *base::CommandLine::ForCurrentProcess() = saved_command_line_;
  SetOperationFaultHookForTesting(nullptr);
  SetMoveBackRetryDelayForTesting(-1);
  SetAdminTokenSeamForTesting(AdminTokenSeam::kNone);
  SetDetachedStartHookForTesting(nullptr);
  test_support::UseRecordingTaskSchedulerForTesting(base::FilePath());
  SetElevatedLaunchHookForTesting(nullptr);
  SetFolderGrantRefusedForTesting(false);
  SetTaskbarPinHookForTesting(nullptr);
  SetStepReportedHookForTesting(nullptr);
}

std::string InstallerRunTest::company() const {
  return base::WideToUTF8(CompanyKeyForReg().substr(wcslen(L"HKCU\\Software\\")));
}

void InstallerRunTest::FreshRegistry() {
  // The sandbox going gives the roots back to the machine; the next one redirects them again.
  registry_.reset();
  registry_.emplace();
}

PackageFixture& InstallerRunTest::MakePackage(const PackageOptions& options) {
  package_ = std::make_unique<PackageFixture>(Folder(L"package"), company(), options);
  EXPECT_TRUE(base::PathService::Override(base::kExeDir, package_->folder()));
  return *package_;
}

void InstallerRunTest::Prepare(const std::wstring& switches, Flags flags, bool interrupted_event) {
  installer_.reset();
  settings_.reset();
  recorder_ = std::make_unique<Recorder>();
  base::CommandLine::ForCurrentProcess()->ParseCommandLineString(L"installer.exe --installfolder=\"" +
                                                                 install_.value() + L"\" " + switches);
  const std::wstring event_name =
      GetInstallerKernelObjectName(install_.value(), L"ZorviInstaller/InstallationInterrupted", true);
  // The last run's event goes first: opened again while it lives, it would keep an interruption set.
  interrupted_.reset();
  interrupted_.reset(interrupted_event ? CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()) : nullptr);
  settings_ = std::make_unique<Settings>(flags.uninstall, flags.silent, flags.autoupdate, install_,
                                         flags.replace_earlier_engine);
  test_support::WaitForSettingsStatus(settings_.get());
  installer_ = std::make_unique<Installer>();
  installer_->AddObserver(recorder_.get());
}

Lines InstallerRunTest::Run(std::function<bool(const std::string& line, size_t count)> stop) {
  base::RunLoop run_loop;
  bool ended = false;
  recorder_->set_after_call([&](const std::string& line, size_t count) {
    ended = line == kSuccess || line == Recorder::TerminatedLine(false);
    if (ended || (stop && stop(line, count)))
      run_loop.Quit();
  });
  installer_->Run(settings_.get());
  run_loop.Run();
  recorder_->set_after_call(nullptr);
  if (ended)
    RunUntilIdle();
  return recorder_->lines();
}

}  // namespace zorvi::installer::test
