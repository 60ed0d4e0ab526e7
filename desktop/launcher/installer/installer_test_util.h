// Helpers shared by the installer engine's tests.
#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLER_TEST_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <windows.h>

#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/message_loop/message_loop.h"

namespace zorvi::installer::test {

// A program beside the test executable.
base::FilePath TestProgram(const std::wstring& file_name);

// The file in the area's test data folder (what testdata_setup.sh wrote).
base::FilePath TestDataFile(const std::wstring& relative_path);

// What the system's command interpreter expands the environment variable to (`cmd /c echo %variable%`).
std::wstring EchoVariable(const std::wstring& variable);

// The access list of a security descriptor that GetSecurityInfo or GetNamedSecurityInfoW handed out, as SDDL;
// the descriptor is freed. Null (the read failed) gives "(unreadable)".
std::wstring TakeDaclSddl(void* descriptor);
// The access list of a file or folder as the system keeps it, as SDDL.
std::wstring FileDaclSddl(const base::FilePath& path);

// Runs `command_line` and parses its "name=value" report; false, with *error set, when it could not be
// started or did not end with 0.
bool RunReportingChild(const std::wstring& command_line, std::map<std::string, std::string>* report,
                       std::string* error);

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

 private:
  std::wstring base_;
  bool keep_;
};

}  // namespace zorvi::installer::test

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLER_TEST_UTIL_H_
