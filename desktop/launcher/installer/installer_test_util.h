// Helpers shared by the installer engine's tests.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/message_loop/message_loop.h"
#include "desktop/launcher/installer/installer.h"
#include "desktop/launcher/installer/installer_package_test_util.h"
#include "desktop/launcher/installer/settings.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {

// What the system's command interpreter expands the environment variable to (`cmd /c echo %variable%`).
std::wstring EchoVariable(const std::wstring& variable);

// The lines of a text file without their line feeds; none when it cannot be read.
std::vector<std::string> ReadLines(const base::FilePath& path);
std::vector<std::string> JoinLines(std::initializer_list<std::vector<std::string>> parts);

// The user's "Last <stream> Install Path" under the product key of `company`, or "(none)".
std::wstring LastInstallPathValue(const std::string& company);

// A link at `link` (its folders made) that starts `target` in its folder, as an earlier installation or another
// program left it.
// The calling thread has COM initialised.
void MakeShortcutTo(const base::FilePath& link, const base::FilePath& target);

// The headless controller (headless_controller_test_child.cc) with its own time limit, which only a hang
// reaches, then `switches`; `environment` (as EnvironmentWith makes it) replaces the test's when given.
class ControllerProcess {
 public:
  static constexpr int kTimeLimitSeconds = 90;
  static constexpr DWORD kWaitLimitMs = (kTimeLimitSeconds + 30) * 1000;
  explicit ControllerProcess(const std::wstring& switches, const std::wstring& environment = L"");
  ~ControllerProcess();
  ControllerProcess(const ControllerProcess&) = delete;
  ControllerProcess& operator=(const ControllerProcess&) = delete;

  HANDLE handle() const { return information_.hProcess; }
  DWORD pid() const { return information_.dwProcessId; }
  DWORD Wait() const { return WaitFor(handle()); }
  // The exit code of `process`; still running past the controller's limit is a failure.
  static DWORD WaitFor(HANDLE process);

 private:
  PROCESS_INFORMATION information_ = {};
};

// What the installer's entry sets up before it makes its settings, for tests that run installer code on their
// main thread: the process command line, a message loop, COM for an apartment, the preference pool and a
// branding whose company (and so the product's registry key) is the test's own.
class InstallerMainThreadTest : public testing::Test {
 protected:
  InstallerMainThreadTest();
  ~InstallerMainThreadTest() override;

  // Runs the loop until every task that is ready has run.
  void RunUntilIdle();

  // "Software\<company>" below HKEY_CURRENT_USER, as reg.exe names it.
  std::wstring CompanyKeyForReg() const;

 private:
  base::MessageLoop loop_;
  const std::string company_;
  bool com_initialized_ = false;
};

// Class keys under HKEY_LOCAL_MACHINE\Software\Classes (wine's classes root shows only those) and user choices
// under the user's Explorer keys, every name unique to the test; removed, with any other key handed to
// DeleteAtEnd, when the holder goes.
class ScopedAssociations {
 public:
  ScopedAssociations() = default;
  ScopedAssociations(const ScopedAssociations&) = delete;
  ScopedAssociations& operator=(const ScopedAssociations&) = delete;
  ~ScopedAssociations();

  void SetClassCommand(const std::wstring& class_name, const std::wstring& command);
  void SetExtensionClass(const std::wstring& extension, const std::wstring& class_name);
  // An empty class makes the choice key without a ProgId.
  void SetUserChoice(const std::wstring& name, const std::wstring& class_name);
  void DeleteAtEnd(HKEY root, const std::wstring& key) { created_.emplace_back(root, key); }

  // The user's choice key of a protocol or an extension (starting with '.'), below HKEY_CURRENT_USER.
  static std::wstring UserChoiceKey(const std::wstring& name);

 private:
  std::vector<std::pair<HKEY, std::wstring>> created_;
};

// Every value below a key: "<subkey>|<value name>" → "<type>:<data>", strings as text, dwords as numbers, other
// types by number; with `keys` also every subkey, as "<subkey>\\" → "key".
using RegistryValues = std::map<std::wstring, std::wstring>;
RegistryValues ValuesBelow(HKEY root, const std::wstring& key, bool keys = false);

// Redirects this process's HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE into two keys of their own below the user's
// real key, so that a test may let the installer write the installation's fixed keys (the extensions' classes, the
// uninstall entries) while other tests of the machine do the same. The keys stay with `keep` (for a check after
// the test), else they go with the holder.
class ScopedRegistrySandbox {
 public:
  explicit ScopedRegistrySandbox(bool keep = false);
  ScopedRegistrySandbox(const ScopedRegistrySandbox&) = delete;
  ScopedRegistrySandbox& operator=(const ScopedRegistrySandbox&) = delete;
  ~ScopedRegistrySandbox();

  // Where `root` leads meanwhile, below the real HKEY_CURRENT_USER.
  std::wstring KeyFor(HKEY root) const;
  // What reg.exe exports of `key` below `root` (its .reg file as UTF-8, in which the key's place below the real
  // HKEY_CURRENT_USER shows); empty when reg.exe fails, as for a missing key.
  std::string RegExport(HKEY root, const std::wstring& key) const;

 private:
  std::wstring base_;
  bool keep_;
};

// What an Installer's observer reports, as the recorder writes it.
using Recorder = test_support::InstallerObserverRecorder;
using Lines = std::vector<std::string>;
inline const std::string kFolderReady = Recorder::SimpleLine("OnInstallFolderReady");
inline const std::string kStep = Recorder::SimpleLine("OnStep");
inline const std::string kSuccess = Recorder::SimpleLine("OnInstallerSuccess");
// A run that fails with this error and ends.
Lines Failure(int code, const std::wstring& detail, const std::string& message);
// A run that succeeds: the folder, the total, that many steps and the success.
Lines Completed(int total);

// The role flags the entry hands to the settings.
struct Flags {
  bool uninstall = false;
  bool silent = false;
  bool autoupdate = false;
  bool replace_earlier_engine = false;
};

// An Installer run on this thread, as the backend runs it: a package folder of the test's own as the installer's
// folder, the process command line, the interrupted event a runner makes, the settings with their status and the
// observer's record. Whole runs write the installation's registry rows, which are the same for every test, so the
// fixture's registry is a sandbox (FreshRegistry() starts another); the run's shortcuts go to shortcuts().
class InstallerRunTest : public InstallerMainThreadTest {
 protected:
  InstallerRunTest();
  ~InstallerRunTest() override;

  base::FilePath Folder(const std::wstring& name) const { return base::FilePath(root_.path()).Append(name); }
  base::FilePath shortcuts() const { return Folder(L"shortcuts"); }
  // The company of the test's branding, which names the product's registry key.
  std::string company() const;
  void FreshRegistry();

  // The package the installer runs from (its own folder).
  PackageFixture& MakePackage(const PackageOptions& options = {});

  // The process command line of the run (the install folder is always given), the interrupted event unless told
  // otherwise, the settings with their status, and a fresh Installer reporting to a fresh recorder.
  void Prepare(const std::wstring& switches, Flags flags = {}, bool interrupted_event = true);

  // Runs until the run reports its end, then lets every task that is still queued run; or until `stop` says
  // so after a call, leaving the queued tasks. The calls so far.
  Lines Run(std::function<bool(const std::string& line, size_t count)> stop = nullptr);

  const base::CommandLine saved_command_line_;
  std::optional<ScopedRegistrySandbox> registry_;
  test_support::ScopedTestFolder root_;
  base::FilePath install_;
  std::unique_ptr<PackageFixture> package_;
  test_support::ScopedTestHandle interrupted_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<Settings> settings_;
  std::unique_ptr<Installer> installer_;
};

}  // namespace zorvi::installer::test

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_TEST_UTIL_H_
