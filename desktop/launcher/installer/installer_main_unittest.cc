// The entry end to end: the build's host and library in a folder of their own, judged by exit codes, standard
// output and error, the log file and what is left on disk.
#include "desktop/launcher/installer/installer_main.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/installer_host_test_util.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using test::HostExpectations;
using test::ProgramRun;
using test::StagedHost;

constexpr char kNotAvailable[] = "Not available in this build: the ";
// A silent run whose package address is refused at once (a host off the allow-list) and that sends no statistics:
// the silent controller ends without a request leaving the machine. Its installation, when the refusal has not
// ended the run first, is refused too, since the test holds the installation folders' mutexes
// (InstallationsHeld), so no backend runs beside the entry's run.
#define QUICK_SILENT L" --internal-package-server=http://127.0.0.2:1/ --enable-installer-stats=0"
const std::string kSilentRan = "Controller exiting";

// Probes and the roles decided before an installer run: none writes a log or is missing. Installer processes
// probe copies of the installer and compare the answer byte for byte.
TEST(InstallerEntryTest, ProbesAndEarlyRolesWriteNoLog) {
  const std::map<std::string, std::string>& expected = HostExpectations();
  // A reporter starts its own log as soon as it knows its parent.
  const std::wstring reporter_log =
      base::UTF8ToWide(base::ToLowerASCII(expected.at("GetProductName")) + "_crashreporter.log");
  const struct {
    const wchar_t* arguments;
    const char* getter;  // the probe's value; null: a role that prints nothing
    int reporter_log;    // 1 made, 0 not, -1 either (other roles start reporters that may get to it later)
  } cases[] = {
      {L"--version", "GetFullVersionString", -1},
      {L"--internal-version", "GetInternalVersion", -1},
      {L"--stream", "GetStreamName", -1},
      // Tested in that order, whatever the order on the command line.
      {L"--stream --internal-version", "GetInternalVersion", -1},
      {L"--stream --version --backend", "GetFullVersionString", -1},
      // Only the plain form is answered before the full parse; any other spelling is answered after it.
      {L"/Stream", "GetStreamName", -1},
      // The crash reporter comes first and always ends with 0. A parent id that is not a number ends it before
      // it makes anything (before any other row has started a reporter).
      {L"--crash-reporter-parent-id=abc --help", nullptr, 0},
      // Help is asked before the folder-permission mode; its pause returns at once on an input without keys.
      {L"--help --set-folder-permission=X", nullptr, -1},
      {L"/? --backend", nullptr, -1},
      // The folder-permission mode ends silently whatever it could do.
      {L"--set-folder-permission=X --run-uninstall-bat", nullptr, -1},
      // A parent without an init event ends the reporter after its log was started.
      {L"--crash-reporter-parent-id=1 --help", nullptr, 1},
  };
  test_support::ScopedTestFolder folder(L"EarlyRoles");
  StagedHost host{base::FilePath(folder.path())};
  for (const auto& role : cases) {
    SCOPED_TRACE(role.arguments);
    ProgramRun run;
    ASSERT_TRUE(host.Run(role.arguments, &run));
    EXPECT_EQ(0u, run.exit_code);
    EXPECT_EQ(role.getter ? expected.at(role.getter) : "", run.output);
    EXPECT_EQ(std::string::npos, run.errors.find(kNotAvailable)) << run.errors;
    if (role.getter) {
      EXPECT_EQ("", run.errors);
      EXPECT_EQ(1u, run.processes) << "no crash reporter or other helper is started";
    }
    if (role.reporter_log >= 0) {
      EXPECT_EQ(role.reporter_log == 1, base::PathExists(host.temp_folder().Append(reporter_log)));
    }
  }
  EXPECT_FALSE(base::PathExists(host.installer_folder())) << "no log folder";
  EXPECT_FALSE(base::PathExists(host.folder().Append(L"debug.log")));
}

// A host that runs alone writes the library it carries into a folder of its own under the temporary folder, and
// first clears the copies earlier runs left there. A copy that another host has just written and not yet loaded
// is never one of them, however often hosts start at once: here a stand-in clears without pause while the host
// starts again and again. A probe removes its own copy as it ends: none is left after one alone.
TEST(InstallerEntryTest, ACarriedLibraryIsNeverClearedBeforeItsHostLoadsIt) {
  test_support::ScopedTestFolder folder(L"CarriedLibrary");
  StagedHost host{base::FilePath(folder.path())};
  ASSERT_TRUE(DeleteFileW(host.folder().Append(L"zorvi.dll").value().c_str()));
  ASSERT_TRUE(base::CreateDirectory(host.temp_folder()));
  const std::wstring temp = host.temp_folder().value() + L"\\";
  std::atomic<bool> done{false};
  std::atomic<int> met{0};
  std::thread clearer([&] {
    while (!done.load()) {
      WIN32_FIND_DATAW found;
      const HANDLE search = FindFirstFileW((temp + L"Zorvi library *").c_str(), &found);
      if (search == INVALID_HANDLE_VALUE)
        continue;
      do {
        const std::wstring copy = temp + found.cFileName;
        ++met;
        if (DeleteFileW((copy + L"\\zorvi.dll").c_str()))
          RemoveDirectoryW(copy.c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  });
  const std::string version = HostExpectations().at("GetFullVersionString");
  constexpr int kRuns = 30;
  int loaded = 0;
  for (int i = 0; i < kRuns; ++i) {
    ProgramRun run;
    if (!host.Run(L"--version", &run))
      break;
    loaded += run.exit_code == 0 && run.output == version;
    EXPECT_EQ(0u, run.exit_code) << "run " << i + 1 << ": " << run.errors;
  }
  done = true;
  clearer.join();
  EXPECT_EQ(kRuns, loaded);
  EXPECT_GT(met.load(), 0) << "the stand-in met the runs' copies";
  ProgramRun alone;
  ASSERT_TRUE(host.Run(L"--version", &alone));
  EXPECT_EQ(version, alone.output) << alone.errors;
  WIN32_FIND_DATAW left = {};
  const HANDLE search = FindFirstFileW((temp + L"Zorvi library *").c_str(), &left);
  EXPECT_EQ(INVALID_HANDLE_VALUE, search) << "left: " << left.cFileName;
  if (search != INVALID_HANDLE_VALUE)
    FindClose(search);
}

// One installer run of a staged host: the log holds `messages` in this order and none of `absent`; no role that
// runs ends with 0 yet. "{folder}" in a message stands for the host's "<temp>\<product> Installer".
struct RunCase {
  const wchar_t* arguments;
  std::vector<std::string> messages;
  std::vector<std::string> absent = {};
  std::map<std::wstring, std::string> files = {};  // staged beside the host
  const wchar_t* host_name = L"installer.exe";
};

// Owns the installation mutexes of the folders the runs install into (the default one, C:\Y, and the staged
// host's own for an uninstallation), so that a silent controller's runner is refused instead of starting a backend.
// Tests that hold them wait for each other.
class InstallationsHeld {
 public:
  explicit InstallationsHeld(const base::FilePath& staged_folder) {
    const std::map<std::string, std::string>& expected = HostExpectations();
    const std::wstring product = base::UTF8ToWide(expected.at("GetProductName"));
    const std::wstring default_folder =
        L"C:\\Program Files\\" + product + L" " + base::UTF8ToWide(expected.at("GetStreamName"));
    for (std::wstring folder : {default_folder, std::wstring(L"C:\\Y"), staged_folder.value()}) {
      std::replace(folder.begin(), folder.end(), L'\\', L'/');
      HANDLE mutex = CreateMutexW(nullptr, FALSE, (L"Global\\" + product + L"/Installer/" + folder).c_str());
      EXPECT_NE(nullptr, mutex);
      EXPECT_NE(WAIT_FAILED, WaitForSingleObject(mutex, INFINITE));
      mutexes_.push_back(mutex);
    }
  }
  ~InstallationsHeld() {
    for (HANDLE mutex : mutexes_) {
      ReleaseMutex(mutex);
      CloseHandle(mutex);
    }
  }

 private:
  std::vector<HANDLE> mutexes_;
};

void ExpectRun(const RunCase& run_case) {
  SCOPED_TRACE(run_case.host_name + std::wstring(L" ") + run_case.arguments);
  test_support::ScopedTestFolder folder(L"Run");
  StagedHost host(base::FilePath(folder.path()), run_case.host_name);
  const InstallationsHeld installations(host.folder());
  for (const auto& [name, text] : run_case.files)
    ASSERT_TRUE(test_support::WriteFileBytes(host.folder().Append(name).value(), text));
  // Another interactive installer of the session holds the UI lock, so an interactive run gives way at once
  // instead of showing its window.
  ASSERT_TRUE(base::CreateDirectory(host.installer_folder()));
  base::win::ScopedHandle ui_lock(CreateFileW(host.installer_folder().Append(L"installer.lck").value().c_str(),
                                              GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  const DWORD owner = GetCurrentThreadId();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(ui_lock.Get(), &owner, sizeof(owner), &written, nullptr));
  ProgramRun run;
  ASSERT_TRUE(host.Run(run_case.arguments, &run));
  EXPECT_EQ(1u, run.exit_code);
  const std::vector<std::string> messages = host.LogMessages();
  ASSERT_GE(messages.size(), 2u);
  const std::map<std::string, std::string>& expected = HostExpectations();
  EXPECT_EQ(expected.at("GetProductName") + " installer starting - version " + expected.at("GetFullVersionString") +
                " " + expected.at("GetStreamName"),
            messages[0]);
  // The command line as the entry writes it back: the same program, switches and arguments.
  const std::string logged_prefix = "Command line: ";
  ASSERT_TRUE(base::StartsWith(messages[1], logged_prefix, base::CompareCase::SENSITIVE)) << messages[1];
  base::CommandLine logged;
  logged.ParseCommandLineString(base::UTF8ToWide(messages[1].substr(logged_prefix.size())));
  base::CommandLine given;
  given.ParseCommandLineString(L"\"" + host.executable().value() + L"\" " + run_case.arguments);
  EXPECT_EQ(given.argv(), logged.argv());

  auto expand = [&](std::string message) {
    base::ReplaceSubstringsAfterOffset(&message, 0, "{folder}", base::WideToUTF8(host.installer_folder().value()));
    return message;
  };
  auto next = messages.begin();
  for (const std::string& message : run_case.messages) {
    next = std::find(next, messages.end(), expand(message));
    EXPECT_NE(messages.end(), next) << "missing or out of order: " << expand(message);
  }
  for (const std::string& message : run_case.absent)
    EXPECT_EQ(messages.end(), std::find(messages.begin(), messages.end(), expand(message))) << message;
  // The error lines go to standard error as well.
  for (const std::string& line : host.LogLines()) {
    if (line.find(":ERROR:") != std::string::npos) {
      EXPECT_NE(std::string::npos, run.errors.find(line)) << line;
    }
  }
  // The execution test's copy is gone, and only the log is left in the folder both share.
  EXPECT_EQ(1u, host.LogFiles().size());
  EXPECT_FALSE(base::PathExists(host.installer_folder().Append(L"installer.exe")));
}

// The log tells which flags the run took and which role it was handed.
TEST(InstallerEntryTest, InstallerRunsFollowTheirSwitches) {
  const std::string downloads = "Installer download folder: {folder}";
  const std::string title = HostExpectations().at("GetProductName") + " Installer";
  const RunCase cases[] = {
      {L"--backend --silent --v=1",
       // The backend's own start-up check: no process started it.
       {"Silent:1", "Backend1", "Using default message loop", "Missing information about initial process"},
       {"Using UI message loop", downloads}},
      {L"--silent --v=2" QUICK_SILENT,
       {"Silent:1", "Backend0", "Using default message loop", "Instanciating settings", downloads,
        "Running silent controller", kSilentRan}},
      {L"--v=2",
       {"Silent:0", "Using UI message loop", downloads, "Running UI controller", "Getting installer UI mutex",
        "Another instance of the installer UI is running. Switching to it"}},
      // The earlier engine's autoupdate: the folder comes as a separate last argument and the progress is shown.
      {L"--autoupdate --silent --installfolder= C:\\X",
       {"Install folder from command line: ", "It looks like we are autoupdating from Z12.",
        "Recovered install folder from command line: C:\\X", "Configuring for Z12 autoupdate.", "Silent:0",
        "Run Immediately1", "Autoupdate:1", "Another instance of the installer UI is running. Switching to it"}},
      {L"--autoupdate --silent" QUICK_SILENT L" --installfolder= X",
       {"It looks like we are autoupdating from Z12.", "Recovered install folder from command line: ", "Silent:1",
        "Run Immediately0", kSilentRan},
       {"Configuring for Z12 autoupdate."}},
      {L"--silent --installfolder=C:\\Y --autoupdate" QUICK_SILENT,
       {"Install folder from command line: C:\\Y", "Silent:1", "Autoupdate:1"},
       {"It looks like we are autoupdating from Z12."}},
      {L"--replacekadroinstallation --runimmediately --silent" QUICK_SILENT,
       {"Replace Kadro installation:1", "Silent:1", "Run Immediately1"}},
      // A folder handed down on the command line is not tested; the installer's folder in it is made.
      {L"--temp-folder=C:\\T --silent --v=1" QUICK_SILENT,
       {"Using download folder from command line", "Installer download folder: C:\\T\\" + title, kSilentRan}},
      {L"--temp-folder=C:\\T\\a<b --silent --v=1" QUICK_SILENT,
       {"Using download folder from command line", "Could not obtain temporary installer folder"},
       {"Running silent controller"}},
      // A relative one names no folder that other processes (an elevated helper starts elsewhere) would find.
      {L"--temp-folder=T --silent --v=1" QUICK_SILENT, {downloads, kSilentRan},
       {"Using download folder from command line"}},
      {L"--uninstall --silent",
       {"Requested to uninstall, but we are not in a valid installation folder"},
       {"Uninstall:1", downloads}},
  };
  for (const RunCase& run_case : cases)
    ExpectRun(run_case);
  // The silent controller's fetcher made the handed-down folder its download folder.
  test_support::RemoveTree(L"C:\\T");
}

// Only an installer named exactly installer.exe beside the launcher and the file list runs inside a package.
TEST(InstallerEntryTest, InsidePackageNeedsTheLauncherTheFileListAndTheExactName) {
  const std::wstring launcher = base::UTF8ToWide(HostExpectations().at("GetLauncherExeName"));
  const std::pair<const std::wstring, std::string> files_list = {L"files_list", "zorvi.exe\n"};
  const RunCase cases[] = {
      {L"--backend", {"Inside package1"}, {}, {files_list, {launcher, ""}}},
      {L"--backend", {"Inside package0"}, {}, {files_list, {launcher, ""}}, L"Installer.exe"},
      {L"--backend", {"Inside package0"}, {}, {{launcher, ""}}},
      {L"--backend", {"Inside package0"}, {}, {files_list}},
  };
  for (const RunCase& run_case : cases)
    ExpectRun(run_case);
}

// An uninstallation takes the experiment states its installation was made with; other runs take their switches.
TEST(InstallerEntryTest, ExperimentsComeFromTheInstallationOnlyWhenUninstalling) {
  const std::wstring launcher = base::UTF8ToWide(HostExpectations().at("GetLauncherExeName"));
  const std::string enabled = "Test experiment is enabled";
  const std::string from_installation = "Retrieved experiment states from installation folder";
  const std::string from_command_line = "Obtained experiment states from command line";
  auto installation = [&](const char* prefs) {
    std::map<std::wstring, std::string> files = {{launcher, ""}};
    if (prefs)
      files[L"installer_prefs.json"] = prefs;
    return files;
  };
  const char kOn[] = R"({"installer-experiments": ["installer-experiment-test@1"]})";
  const RunCase cases[] = {
      {L"--uninstall --silent --v=1 --with-feature:installer-experiment-test=off" QUICK_SILENT,
       {from_installation, enabled}, {}, installation(kOn)},
      {L"--uninstall --silent --v=1 --with-feature:installer-experiment-test=on" QUICK_SILENT, {from_installation},
       {enabled},
       installation(R"({"installer-experiments": ["installer-experiment-test@2"]})")},
      {L"--uninstall --silent --v=1" QUICK_SILENT, {from_installation}, {enabled},
       installation(R"({"installer-experiments": "installer-experiment-test@1"})")},
      {L"--uninstall --silent --v=1" QUICK_SILENT, {"Retrieving experiment states from installation folder..."},
       {from_installation, enabled}, installation(nullptr)},
      {L"--silent --v=1" QUICK_SILENT, {from_command_line}, {enabled}, installation(kOn)},
      {L"--silent --v=1 --with-feature:installer-experiment-test=on" QUICK_SILENT, {from_command_line, enabled}, {},
       installation(nullptr)},
  };
  for (const RunCase& run_case : cases)
    ExpectRun(run_case);
}

// What an installer log's name starts with: "<product>_installer".
std::wstring LogNamePrefix() {
  return base::UTF8ToWide(base::ToLowerASCII(HostExpectations().at("GetProductName")) + "_installer");
}

// The names of the logs of runs started within the next `seconds`, in the host's logs' folder.
std::vector<base::FilePath> LogFilesOfTheNextSeconds(const StagedHost& host, int seconds) {
  const std::wstring prefix = LogNamePrefix();
  std::vector<base::FilePath> files;
  const base::Time now = base::Time::Now();
  for (int second = 0; second < seconds; ++second) {
    base::Time::Exploded stamp;
    (now + base::TimeDelta::FromSeconds(second)).LocalExplode(&stamp);
    files.push_back(host.installer_folder().Append(
        prefix + base::StringPrintf(L"_%04d%02d%02d%02d%02d%02d.log", stamp.year, stamp.month, stamp.day_of_month,
                                    stamp.hour, stamp.minute, stamp.second)));
  }
  return files;
}

// The log file is named after the local time it was started at (testdata_check.sh compares the name with the
// file's birth time as `date` prints it); a file of the same name, another installer process's log, is kept and
// appended to.
TEST(InstallerEntryTest, LogFileIsNamedAfterTheLocalTimeAndKeepsItsNamesake) {
  const base::FilePath data(test::TestDataFile(L"entry_log"));
  ASSERT_TRUE(test_support::RemoveTree(data.value()));
  test_support::ScopedTestFolder folder(L"LogName");
  StagedHost host(base::FilePath(folder.path()), L"installer.exe", data);
  const std::string product = HostExpectations().at("GetProductName");
  // Earlier processes' logs for the next half minute: the run starts within it.
  ASSERT_TRUE(base::CreateDirectory(host.installer_folder()));
  constexpr int kEarlierSeconds = 30;
  constexpr char kEarlierLog[] = "an earlier process's line\n";
  for (const base::FilePath& file : LogFilesOfTheNextSeconds(host, kEarlierSeconds))
    ASSERT_TRUE(test_support::WriteFileBytes(file.value(), kEarlierLog));
  ProgramRun run;
  ASSERT_TRUE(host.Run(L"--backend", &run));
  EXPECT_EQ(1u, run.exit_code);
  int written = 0;
  int untouched = 0;
  for (const base::FilePath& file : host.LogFiles()) {
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(file, &text));
    if (text == kEarlierLog) {
      ++untouched;
      ASSERT_TRUE(base::DeleteFile(file, false));
      continue;
    }
    ++written;
    EXPECT_EQ(0u, text.find(kEarlierLog)) << "the earlier process's log comes first, whole: " << text;
    EXPECT_NE(std::string::npos, text.find(product + " installer starting")) << text;
  }
  EXPECT_EQ(1, written);
  EXPECT_EQ(kEarlierSeconds - 1, untouched) << "the run started within the earlier logs' seconds and wrote into one";
}

// An administrator's run (every run under wine) writes its log through no link planted where logs go: log names that
// are other names of a file elsewhere (hard links, for every second the run may start in) are refused, and so is
// the logs' folder swapped for a link (a Linux symbolic link, which wine shows as a reparse point), whose log goes
// to the system's temporary folder instead. What they lead to keeps its bytes (the area's check compares them with
// sha256sum and lists the folder with find).
TEST(InstallerEntryTest, AnAdministratorsLogGoesThroughNoLink) {
  const base::FilePath data(test::TestDataFile(L"entry_log_links"));
  ASSERT_TRUE(test_support::RemoveTree(data.value()));
  const base::FilePath links(test::TestDataFile(L"reparse\\log"));
  const base::FilePath target = links.Append(L"target.txt");
  std::string target_before;
  ASSERT_TRUE(base::ReadFileToString(target, &target_before));
  test_support::ScopedTestFolder folder(L"LogLinks");
  StagedHost host(base::FilePath(folder.path()), L"installer.exe", data);
  ASSERT_TRUE(base::CreateDirectory(host.installer_folder()));
  const std::vector<base::FilePath> planted = LogFilesOfTheNextSeconds(host, 30);
  for (const base::FilePath& file : planted)
    ASSERT_TRUE(CreateHardLinkW(file.value().c_str(), target.value().c_str(), nullptr)) << file.value();
  ProgramRun run;
  ASSERT_TRUE(host.Run(L"--backend", &run));
  EXPECT_EQ(1u, run.exit_code);
  for (const base::FilePath& file : planted)
    ASSERT_TRUE(base::DeleteFile(file, false));
  std::string target_after;
  EXPECT_TRUE(base::ReadFileToString(target, &target_after) && target_after == target_before) << target_after;
  EXPECT_TRUE(host.LogFiles().empty());

  // The temporary folder of the area's set-up, whose logs' folder is a link to "outside".
  StagedHost linked(base::FilePath(folder.path()), L"installer.exe", links.Append(L"temp"));
  ASSERT_TRUE(linked.Run(L"--backend", &run));
  EXPECT_EQ(1u, run.exit_code);
  EXPECT_TRUE(base::FileEnumerator(links.Append(L"outside"), false,
                                   base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES)
                  .Next()
                  .empty())
      << "a log went through the link";
  // The run's log is in the system's temporary folder: the one whose command line names this run's host.
  wchar_t windows[MAX_PATH];
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);
  const base::FilePath system_temp = base::FilePath(std::wstring(windows, length)).Append(L"Temp");
  bool found = false;
  base::FileEnumerator logs(system_temp, false, base::FileEnumerator::FILES, LogNamePrefix() + L"_*.log");
  for (base::FilePath log = logs.Next(); !log.empty() && !found; log = logs.Next()) {
    std::string text;
    found = base::ReadFileToString(log, &text) && text.find(base::WideToUTF8(linked.executable().value())) !=
                                                      std::string::npos;
  }
  EXPECT_TRUE(found) << "no log of the run in " << system_temp.value();
}

// The host finds the entry by name, beside the handle verifier that every module of the process shares; the
// library brings its runtime along and needs nothing but the system's own libraries.
TEST(InstallerEntryTest, LibraryExportsTheEntryAndImportsOnlySystemLibraries) {
  std::string objdump;
  ASSERT_TRUE(base::ReadFileToString(test::TestDataFile(L"zorvi_dll_objdump.txt"), &objdump));
  const std::vector<std::string> lines =
      base::SplitString(objdump, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
  auto table = std::find(lines.begin(), lines.end(), "[Ordinal/Name Pointer] Table");
  ASSERT_NE(lines.end(), table);
  std::vector<std::string> exports;
  for (++table; table != lines.end() && base::StartsWith(*table, "[", base::CompareCase::SENSITIVE); ++table)
    exports.push_back(table->substr(table->find(']') + 2));
  EXPECT_EQ((std::vector<std::string>{"GetHandleVerifier", "RunInstaller"}), exports);

  wchar_t system_folder[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryW(system_folder, MAX_PATH));
  int imports = 0;
  for (const std::string& line : lines) {
    if (!base::StartsWith(line, "DLL Name: ", base::CompareCase::SENSITIVE))
      continue;
    ++imports;
    const std::wstring library = base::UTF8ToWide(line.substr(10));
    EXPECT_TRUE(base::PathExists(base::FilePath(system_folder).Append(library))) << line;
  }
  EXPECT_GT(imports, 0);
}

std::wstring Lowered(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), towlower);
  return text;
}

// Runs the staged host with `arguments` (TEMP and TMP as StagedHost::Run sets them) under this process as its
// debugger: the full paths of the libraries it loaded, lower-case, in order; its exit code goes to `exit_code`.
std::vector<std::wstring> LibrariesLoadedBy(const StagedHost& host, const std::wstring& arguments,
                                            DWORD* exit_code) {
  std::vector<std::wstring> loaded;
  std::wstring command_line = L"\"" + host.executable().value() + L"\" " + arguments;
  std::wstring environment = test::EnvironmentWith(
      {{L"TEMP", host.temp_folder().value()}, {L"TMP", host.temp_folder().value()}});
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE,
                      DEBUG_ONLY_THIS_PROCESS | DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT, environment.data(),
                      host.folder().value().c_str(), &startup, &process)) {
    ADD_FAILURE() << "CreateProcess: " << GetLastError();
    return loaded;
  }
  const base::win::ScopedHandle process_handle(process.hProcess);
  const base::win::ScopedHandle thread_handle(process.hThread);
  for (bool running = true; running;) {
    DEBUG_EVENT event = {};
    if (!WaitForDebugEvent(&event, 60000)) {
      TerminateProcess(process.hProcess, 1);
      ADD_FAILURE() << "the run did not end";
      return loaded;
    }
    DWORD continuation = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile) {
          wchar_t path[MAX_PATH * 2] = {};
          if (GetFinalPathNameByHandleW(event.u.LoadDll.hFile, path, static_cast<DWORD>(std::size(path)), 0))
            loaded.push_back(Lowered(path));
          CloseHandle(event.u.LoadDll.hFile);
        }
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The loader's first breakpoint is the debugger's; anything else is the program's own to handle.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
          continuation = DBG_EXCEPTION_NOT_HANDLED;
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        running = false;
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continuation);
  }
  GetExitCodeProcess(process.hProcess, exit_code);
  return loaded;
}

bool Loaded(const std::vector<std::wstring>& paths, const std::wstring& file_name) {
  return std::any_of(paths.begin(), paths.end(), [&](const std::wstring& path) {
    return base::FilePath(path).BaseName().value() == file_name;
  });
}

// Installer processes wait for the answer of every probe they start, so a probe loads none of the windowing,
// shell, network or security libraries that the roles use.
TEST(InstallerEntryTest, ProbeLoadsNoWindowingShellNetworkOrSecurityLibrary) {
  test_support::ScopedTestFolder folder(L"ProbeLibraries");
  const StagedHost host{base::FilePath(folder.path())};
  DWORD exit_code = 1;
  const std::vector<std::wstring> loaded = LibrariesLoadedBy(host, L"--version", &exit_code);
  EXPECT_EQ(0u, exit_code);
  ASSERT_TRUE(Loaded(loaded, L"zorvi.dll")) << "the debugger saw the library load";
  for (const wchar_t* library : {L"user32.dll", L"gdi32.dll", L"shell32.dll", L"comctl32.dll", L"ole32.dll",
                                 L"wininet.dll", L"secur32.dll", L"crypt32.dll", L"wintrust.dll", L"advapi32.dll",
                                 L"shcore.dll"}) {
    EXPECT_FALSE(Loaded(loaded, library)) << base::WideToUTF8(library);
  }
}

// The library loads most system libraries at their first use, by name. An installer runs from a downloads
// folder, where a page may have dropped files under those names: they are never loaded, the system's are. Windows
// looks for a library that is not one of its known ones in the program's folder first; wine prefers its own
// libraries unless its settings for the program say otherwise, so the host runs under a name of its own that
// prefers files found on the search path. The names are libraries that wine's own libraries do not load by name
// themselves in this run (its windowing and shell libraries load the theme, shell helper and multimedia
// libraries that way; Windows takes those from its system folder).
TEST(InstallerEntryTest, LibrariesLoadedOnFirstUseComeFromTheSystemFolder) {
  test_support::ScopedTestFolder folder(L"PlantedLibraries");
  const std::wstring host_name = L"planted_libraries_installer.exe";
  const StagedHost host{base::FilePath(folder.path()), host_name};
  const std::vector<std::wstring> planted = {L"version",  L"oleaut32", L"wininet", L"secur32",
                                             L"userenv",  L"crypt32",  L"wintrust", L"msimg32"};
  const test_support::ScopedPlantedLibraries planting(
      host.folder().value(), host_name, test::TestProgram(L"path_service_test_dll.dll").value(), planted);
  const InstallationsHeld held(host.folder());
  DWORD exit_code = 1;
  const std::vector<std::wstring> loaded = LibrariesLoadedBy(host, L"--silent" QUICK_SILENT, &exit_code);
  const std::wstring host_folder = Lowered(host.folder().value());
  for (const std::wstring& path : loaded) {
    const std::wstring name = base::FilePath(path).RemoveExtension().BaseName().value();
    if (std::find(planted.begin(), planted.end(), name) != planted.end()) {
      EXPECT_EQ(std::wstring::npos, path.find(host_folder)) << base::WideToUTF8(path);
    }
  }
  // The library's version queries load it: without the library's own search, the planted copy came instead.
  EXPECT_TRUE(Loaded(loaded, L"version.dll"));
  EXPECT_EQ(1u, exit_code) << "the refused package address ends the silent run with 1";
}

}  // namespace
}  // namespace zorvi::installer
