#include "desktop/launcher/installer/roles/checked_package_copy.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/installer_host_test_util.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/roles/folder_permission.h"
#include "testing/installer/installer_test_seams_from_environment.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using test_support::ScopedTestHandle;

base::FilePath NetworkData(const wchar_t* name) {
  return base::FilePath(test_support::TestDataDir()).Append(L"network").Append(name);
}

// The folders the package copies were made in that are still there.
std::vector<std::wstring> PackageCopies(const base::FilePath& temp) {
  std::vector<std::wstring> names;
  base::FileEnumerator copies(temp, false, base::FileEnumerator::DIRECTORIES, L"Zorvi package *");
  for (base::FilePath copy = copies.Next(); !copy.empty(); copy = copies.Next())
    names.push_back(copy.BaseName().value());
  return names;
}

// The test's seams for the runs it starts, which inherit this process's environment.
class ScopedSeams {
 public:
  explicit ScopedSeams(const std::wstring& value) {
    SetEnvironmentVariableW(test_support::kInstallerTestSeamsVariable, value.empty() ? nullptr : value.c_str());
  }
  ~ScopedSeams() { SetEnvironmentVariableW(test_support::kInstallerTestSeamsVariable, nullptr); }
};

// An elevated installer process that a standard user's run asks to take over once its package is ready (here the
// folder-permission helper, through the product's host signed as the shipped one is) starts only its own checked
// copy of the package. The user's package folder holds a program of the user's under the installer's name, and at
// the moment the package is used the user's process may put another program in the package's place: neither runs.
// The recorder stands for every program; what runs is recorded in the run's current folder.
TEST(CheckedPackageCopyTest, ElevatedHandOverStartsOnlyTheCheckedCopy) {
  const struct {
    const char* name;
    bool swapped_at_use;
  } cases[] = {{"the package as the user's run unpacked it", false}, {"the package swapped as it is used", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const test_support::ScopedTestFolder scratch(L"CheckedCopy");
    const base::FilePath root(scratch.path());
    const test::StagedHost host(root.Append(L"host"));
    ASSERT_TRUE(
        CopyFileW(NetworkData(L"signed_installer.exe").value().c_str(), host.executable().value().c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(test::TestProgram(L"test_build\\zorvi.dll").value().c_str(),
                          host.folder().Append(L"zorvi.dll").value().c_str(), FALSE));
    const base::FilePath recorder = test::TestProgram(L"handover_recorder_test_child.exe");
    const base::FilePath user_folder = root.Append(L"download").Append(L"zorvi_installer_1");
    ASSERT_TRUE(base::CreateDirectory(user_folder));
    ASSERT_TRUE(base::CopyFile(recorder, user_folder.Append(L"installer.exe")));
    const base::FilePath package = user_folder.AddExtension(L"exe");
    ASSERT_TRUE(base::CopyFile(NetworkData(L"recorder_signed.exe"), package));
    const base::FilePath replacements = root.Append(L"replacements");
    ASSERT_TRUE(base::CreateDirectory(replacements));
    ASSERT_TRUE(base::CopyFile(recorder, replacements.Append(L"replacement.exe")));
    const base::FilePath install = root.Append(L"Install");
    ASSERT_TRUE(base::CreateDirectory(install));
    const ScopedTestHandle ready(CreateEventW(nullptr, TRUE, TRUE, GetPackageReadyEventName(install).c_str()));
    const ScopedTestHandle interrupted(
        CreateEventW(nullptr, TRUE, FALSE, GetInstallationInterruptedEventName(install).c_str()));

    FolderPermissionRequest request;
    request.folder = install;
    request.user_name = L"Everyone";
    request.crash_reporter_pid = 7;  // no process: the helper starts no reporter
    request.permanent = true;
    request.wait_for_package = true;
    request.package_folder = user_folder;
    request.initial_pid = std::to_wstring(GetCurrentProcessId());
    base::CommandLine arguments{base::FilePath()};
    AppendFolderPermissionSwitches(request, &arguments);
    test::ProgramRun run;
    {
      const ScopedSeams seams(c.swapped_at_use ? L"replace-package-files=" + replacements.value() : L"");
      ASSERT_TRUE(host.Run(arguments.GetArgumentsString(), &run));
    }
    EXPECT_EQ(0u, run.exit_code);

    std::string records;
    const bool recorded = base::ReadFileToString(host.folder().Append(L"handovers.txt"), &records);
    std::string attempts;
    const bool attempted = base::ReadFileToString(replacements.Append(L"attempts.txt"), &attempts);
    if (c.swapped_at_use) {
      EXPECT_FALSE(recorded) << "a program of the user's ran: " << records;
      ASSERT_TRUE(attempted);
      const std::vector<std::string> fields = base::SplitString(attempts, "\t", base::TRIM_WHITESPACE,
                                                                base::SPLIT_WANT_ALL);
      ASSERT_EQ(3u, fields.size()) << attempts;
      EXPECT_EQ(base::WideToUTF8(package.value()), fields[0]);
      EXPECT_EQ("0", fields[1]) << "the user's package was overwritten";
    } else {
      EXPECT_FALSE(attempted);
      ASSERT_TRUE(recorded);
      const std::vector<std::string> lines = base::SplitString(records, "\n", base::TRIM_WHITESPACE,
                                                               base::SPLIT_WANT_NONEMPTY);
      ASSERT_EQ(1u, lines.size()) << records;
      const std::vector<std::string> fields = base::SplitString(lines[0], "\t", base::KEEP_WHITESPACE,
                                                                base::SPLIT_WANT_ALL);
      ASSERT_EQ(2u, fields.size()) << lines[0];
      // The copy's installer: <temp>\Zorvi package <...>\package\installer.exe, a folder of its own.
      const base::FilePath program(base::UTF8ToWide(fields[0]));
      EXPECT_EQ(L"installer.exe", program.BaseName().value());
      EXPECT_EQ(L"package", program.DirName().BaseName().value());
      EXPECT_TRUE(base::StartsWith(program.DirName().DirName().BaseName().value(), L"Zorvi package ",
                                   base::CompareCase::SENSITIVE)) << fields[0];
      EXPECT_EQ(0, base::FilePath::CompareIgnoreCase(host.temp_folder().value(),
                                                     program.DirName().DirName().DirName().value()))
          << fields[0];
      const std::string switch_text = "--set-folder-permission=\"" + base::WideToUTF8(install.value()) + "\"";
      EXPECT_NE(std::string::npos, fields[1].find(switch_text)) << fields[1];
    }
    EXPECT_EQ(std::vector<std::wstring>(), PackageCopies(host.temp_folder()));
  }
}

}  // namespace
}  // namespace zorvi::installer
