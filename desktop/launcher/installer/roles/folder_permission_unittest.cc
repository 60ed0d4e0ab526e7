#include "desktop/launcher/installer/roles/folder_permission.h"

#include <windows.h>

#include <aclapi.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_memory.h"
#include "desktop/launcher/installer/installer_host_test_util.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/records/install_log_test_util.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/steps/uninstall_batch.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using test_support::ScopedTestHandle;

// The account the tests grant, standing in for the user of the run's initial process (SetRunUserStandInForTesting).
// Wine keeps a file's access list only as far as its mode bits hold it, which carries the rights of the owner and
// of Everyone; the owner (the test's user, which every process runs as) has every right already.
constexpr wchar_t kGrantee[] = L"Everyone";
// A crash reporter id of no process ("--crash-reporter-pid=7" below).
constexpr uint32_t kNoReporterPid = 7;
// Everyone may only read and list: the grant has to add the rest.
constexpr wchar_t kEveryoneMayOnlyRead[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)";
// Generous enough for a loaded machine; the waits end as soon as their event is set.
constexpr DWORD kWaitMilliseconds = 60000;

bool SetDacl(const base::FilePath& path, const wchar_t* sddl) {
  return test_support::SetObjectDacl(path.value(), SE_FILE_OBJECT, sddl);
}

// Makes `folder` hold an installation of the product: the status log of one.
bool MakeInstallation(const base::FilePath& folder) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const bool saved = SaveInstallLog(MakeNonAsciiInstallLog(folder), folder.Append(kInstallLogFileName));
  if (SUCCEEDED(com))
    CoUninitialize();
  return saved;
}

// Whether an entry of the folder's list allows Everyone to write into it, read from the list the system keeps.
bool EveryoneMayWrite(const base::FilePath& path) {
  base::win::ScopedLocalMemory<> descriptor;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(path.value().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, descriptor.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  alignas(SID) BYTE everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(everyone);
  bool writes = false;
  CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size);
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        EqualSid(&ace->SidStart, everyone) && (ace->Mask & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL))) {
      writes = true;
    }
  }
  return writes;
}

// The events a requesting installer creates for its helper.
struct RequesterEvents {
  explicit RequesterEvents(const base::FilePath& folder, bool give = true, bool undo = true)
      : granted(give ? CreateEventW(nullptr, FALSE, FALSE, GetGiveInstallPermissionEventName(folder).c_str())
                     : nullptr),
        release(undo ? CreateEventW(nullptr, FALSE, FALSE, GetGiveInstallPermissionUndoEventName(folder).c_str())
                     : nullptr) {}
  bool WasGranted() const { return granted.valid() && WaitForSingleObject(granted.get(), 0) == WAIT_OBJECT_0; }

  ScopedTestHandle granted;
  ScopedTestHandle release;
};

ScopedTestHandle CreateNamedEvent(const std::wstring& name, bool manual_reset = false) {
  return ScopedTestHandle(CreateEventW(nullptr, manual_reset, FALSE, name.c_str()));
}

// A stand-in for a run's initial process: runs until `hold` is set.
base::Process StartInitialProcess(const std::wstring& hold) {
  base::CommandLine command_line(test::TestProgram(L"folder_permission_test_child.exe"));
  command_line.AppendSwitchNative("hold", hold);
  return base::LaunchProcess(command_line, base::LaunchOptions());
}

// Runs the role through the product's host, which ends silently with exit code 0 whatever happens.
void RunSilently(const test::StagedHost& host, const std::wstring& arguments, test::ProgramRun* run) {
  ASSERT_TRUE(host.Run(arguments, run));
  EXPECT_EQ(0u, run->exit_code);
  EXPECT_EQ("", run->errors);
}

// A folder of the test's own whose list lets Everyone only read.
class GuardedFolderTest : public testing::Test {
 protected:
  GuardedFolderTest() : scratch_(L"FolderPermission"), folder_(base::FilePath(scratch_.path()).Append(L"Install")) {}

  void SetUp() override {
    ASSERT_TRUE(base::CreateDirectory(folder_));
    ASSERT_TRUE(SetDacl(folder_, kEveryoneMayOnlyRead));
    original_ = test_support::FileDaclSddl(folder_.value());
    ASSERT_FALSE(EveryoneMayWrite(folder_)) << original_;
  }
  // The owner may always rewrite the list; without this a grant left by a failure would outlive the test.
  void TearDown() override { SetDacl(folder_, L"D:(A;OICI;FA;;;WD)"); }

  FolderPermissionRequest Request() const {
    FolderPermissionRequest request;
    request.folder = folder_;
    request.user_name = kGrantee;
    // The requester's crash reporter, which the helper reuses instead of starting one: none here (no process has
    // an id that is not a multiple of 4), so the helper runs without crash handling and starts nothing.
    request.crash_reporter_pid = kNoReporterPid;
    return request;
  }

  test_support::ScopedTestFolder scratch_;
  const base::FilePath folder_;
  std::wstring original_;
};

// A temporary grant holds from the helper's signal until its release and the grace after it, never less; then the
// folder's list is the one it had. The release is the requester's Undo or the end of the run's initial process
// (the requester died without releasing). Each folder holds an installation of the product, so it is granted though it
// is not empty. In a tree, everything below the folder is granted too, but for a link
// and a file with another name elsewhere (a hard link): what they lead to keeps its list throughout, and every
// list is back after the release (wine shows a Linux symbolic link to a folder as a reparse point).
TEST_F(GuardedFolderTest, TemporaryGrantLastsUntilReleasedAndItsGrace) {
  const base::FilePath tree = base::FilePath(test_support::TestDataDir()).Append(L"reparse\\helper");
  const base::FilePath install = tree.Append(L"install");
  const std::vector<base::FilePath> below = {install.Append(L"sub"), install.Append(L"sub\\file.txt"),
                                             install.Append(L"file.txt")};
  const base::FilePath target = tree.Append(L"target");
  const std::vector<base::FilePath> beyond_links = {target, target.Append(L"inner"), target.Append(L"kept.txt"),
                                                    target.Append(L"shared.txt")};
  const struct {
    const char* name;
    bool by_undo;
    base::FilePath folder;
  } cases[] = {{"released by Undo", true, folder_},
               {"released by the end of the initial process", false, folder_},
               {"a tree holding links", true, install}};
  ASSERT_TRUE(MakeInstallation(folder_));
  ASSERT_TRUE(MakeInstallation(install));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<base::FilePath> none;
    const std::vector<base::FilePath>& granted_below = c.folder == install ? below : none;
    const std::vector<base::FilePath>& untouched = c.folder == install ? beyond_links : none;
    // Each list as it was before the run, which every one of them has again at the end.
    std::map<std::wstring, std::wstring> lists = {{c.folder.value(), test_support::FileDaclSddl(c.folder.value())}};
    for (const auto* paths : {&granted_below, &untouched}) {
      for (const base::FilePath& path : *paths) {
        ASSERT_TRUE(base::PathExists(path)) << path.value();
        lists[path.value()] = test_support::FileDaclSddl(path.value());
      }
    }
    RequesterEvents events(c.folder);
    const std::wstring hold = test_support::UniqueName(L"Hold");
    const ScopedTestHandle hold_event = CreateNamedEvent(hold);
    base::Process initial = StartInitialProcess(hold);
    ASSERT_TRUE(initial.IsValid());
    const std::wstring grace_started = test_support::UniqueName(L"GraceStarted");
    const std::wstring grace_release = test_support::UniqueName(L"GraceRelease");
    const ScopedTestHandle started_event = CreateNamedEvent(grace_started);
    const ScopedTestHandle release_event = CreateNamedEvent(grace_release);

    FolderPermissionRequest request = Request();
    request.folder = c.folder;
    request.initial_pid = std::to_wstring(initial.Pid());
    base::CommandLine helper_command(test::TestProgram(L"folder_permission_test_child.exe"));
    helper_command.AppendSwitchNative("grace-started", grace_started);
    helper_command.AppendSwitchNative("grace-release", grace_release);
    helper_command.AppendSwitchNative("run-user", kGrantee);
    AppendFolderPermissionSwitches(request, &helper_command);
    const base::Process helper = base::LaunchProcess(helper_command, base::LaunchOptions());
    ASSERT_TRUE(helper.IsValid());

    const HANDLE granted_or_ended[] = {events.granted.get(), helper.Handle()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, granted_or_ended, FALSE, kWaitMilliseconds));
    EXPECT_TRUE(EveryoneMayWrite(c.folder)) << test_support::FileDaclSddl(c.folder.value());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(helper.Handle(), 0)) << "ended unreleased";
    for (const base::FilePath& path : granted_below)
      EXPECT_TRUE(EveryoneMayWrite(path)) << path.value() << " " << test_support::FileDaclSddl(path.value());
    for (const base::FilePath& path : untouched)
      EXPECT_EQ(lists[path.value()], test_support::FileDaclSddl(path.value())) << path.value();
    // What the account makes during the grant, and the list it protects on it so that Everyone may write.
    const base::FilePath made = c.folder.Append(L"made during the grant");
    const std::vector<base::FilePath> made_entries = {made, made.Append(L"protected.txt"), made.Append(L"plain.txt")};
    if (c.folder == folder_) {
      ASSERT_TRUE(base::CreateDirectory(made));
      for (size_t i = 1; i < made_entries.size(); ++i)
        ASSERT_TRUE(test_support::WriteFileBytes(made_entries[i].value(), "made"));
      ASSERT_TRUE(SetDacl(made_entries[1], L"D:P(A;;FA;;;WD)"));
      ASSERT_TRUE(EveryoneMayWrite(made_entries[1]));
    }

    if (c.by_undo)
      ASSERT_TRUE(SetEvent(events.release.get()));
    else
      ASSERT_TRUE(initial.Terminate(1, true));
    const HANDLE grace_or_ended[] = {started_event.get(), helper.Handle()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, grace_or_ended, FALSE, kWaitMilliseconds));
    EXPECT_TRUE(EveryoneMayWrite(c.folder))
        << "restored before the grace ended: " << test_support::FileDaclSddl(c.folder.value());

    ASSERT_TRUE(SetEvent(release_event.get()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(helper.Handle(), kWaitMilliseconds));
    DWORD grace = 0;
    ASSERT_TRUE(GetExitCodeProcess(helper.Handle(), &grace));
    EXPECT_EQ(kFolderPermissionGraceMilliseconds, grace);
    for (const auto& [path, list] : lists)
      EXPECT_EQ(list, test_support::FileDaclSddl(path)) << path;
    // What was made during the grant keeps no write access for the account, a list it protected included.
    for (const base::FilePath& path : c.folder == folder_ ? made_entries : none) {
      EXPECT_FALSE(EveryoneMayWrite(path)) << path.value() << " " << test_support::FileDaclSddl(path.value());
      EXPECT_EQ(std::wstring::npos, test_support::FileDaclSddl(path.value()).find(L"D:P")) << path.value();
    }
    SetEvent(hold_event.get());
  }
}

// The role through the product's host: whatever happens, it ends with exit code 0. A permanent grant stays; a
// request the helper cannot serve changes nothing and tells the requester nothing, and a refusal leaves a line. The
// grant goes only to the user of the run's initial process (read from its token, or the stand-in of the test
// build's library), whatever account the request names; a folder that is a link or lies beyond one is refused (the
// folder a link leads to keeps its list), and so is one that exists already unless it is empty or holds an
// installation of the product; a missing folder is made and granted, a refused one is not made.
TEST_F(GuardedFolderTest, TheRoleEndsSilentlyAndGrantsOnlyAWellFormedRequest) {
  const base::FilePath links = base::FilePath(test_support::TestDataDir()).Append(L"reparse\\refused");
  // A folder above the one to make, which the test build swaps for the decoy (holding a link named "Inner" to an
  // empty folder) as the helper is about to make it: the helper holds it, and the swap fails.
  const base::FilePath grant_data = base::FilePath(test_support::TestDataDir()).Append(L"reparse\\grant");
  const base::FilePath swapped = grant_data.Append(L"parent");
  test_support::RemoveTree(swapped.value());
  ASSERT_TRUE(base::CreateDirectory(swapped.Append(L"Inner")));
  ASSERT_TRUE(SetDacl(swapped.Append(L"Inner"), kEveryoneMayOnlyRead));
  const base::FilePath parent = base::FilePath(scratch_.path()).Append(L"Parent");
  const base::FilePath other_program = parent.Append(L"Other program");
  const base::FilePath installed = parent.Append(L"Installed");
  for (const base::FilePath& folder : {parent, other_program, installed})
    ASSERT_TRUE(base::CreateDirectory(folder) && SetDacl(folder, kEveryoneMayOnlyRead));
  ASSERT_TRUE(test_support::WriteFileBytes(other_program.Append(L"program.exe").value(), "another program"));
  ASSERT_TRUE(MakeInstallation(installed));
  std::wstring own_user;
  ASSERT_TRUE(GetCurrentUserName(false, &own_user));
  const std::wstring own = std::to_wstring(GetCurrentProcessId());
  const std::string no_initial = "the run's initial process cannot be opened";
  const struct {
    const char* name;
    bool permanent;
    bool with_account;
    bool give_event;
    bool undo_event;
    std::wstring initial_pid;
    bool granted;
    base::FilePath folder = {};   // the request's, when not the test's folder
    base::FilePath reached = {};  // where it leads
    std::string refusal = {};     // why the line on standard error says it was refused
    std::wstring account = kGrantee;
    bool stand_in = true;  // the test build's library, where Everyone stands in for the run's user
    bool swap = false;     // the test build swaps `swapped` for the decoy as the folder is about to be made
  } cases[] = {
      {"a permanent grant stays", true, true, true, true, own, true},
      {"without the account", true, false, true, true, own, false},
      {"without the requester's events", true, true, false, false, own, false},
      {"without the Undo event", false, true, true, false, own, false},
      {"an initial process that is no number", false, true, true, true, L"12x", false, {}, {}, no_initial},
      {"an initial process that does not run", false, true, true, true, L"4294967292", false, {}, {}, no_initial},
      {"no initial process named", true, true, true, true, L"", false, {}, {}, no_initial},
      {"a folder that is a link", true, true, true, true, own, false, links.Append(L"to_folder"),
       links.Append(L"folder"), links.Append(L"to_folder").AsUTF8() + " is a link (a reparse point)"},
      {"a folder beyond a link", true, true, true, true, own, false, links.Append(L"to_folder\\inner"),
       links.Append(L"folder\\inner"), links.Append(L"to_folder").AsUTF8() + " is a link (a reparse point)"},
      {"another account than the run's user", true, true, true, true, own, false, parent.Append(L"Not made"),
       parent.Append(L"Not made"), "the account Users is not the user of the run's initial process", L"Users"},
      {"the run's user as its token names it", true, true, true, true, own, false, {}, {},
       "the account Everyone is not the user of the run's initial process", kGrantee, false},
      // Wine shows no grant to the owner (the test's user) in the list: only the requester learns of it.
      {"the run's own user", true, true, true, true, own, true, {}, {}, {}, own_user, false},
      {"another program's folder", true, true, true, true, own, false, other_program, other_program,
       "it is not empty and holds no installation of the product"},
      {"an installation of the product", true, true, true, true, own, true, installed, installed},
      {"a folder made for the grant", true, true, true, true, own, true, parent.Append(L"New"),
       parent.Append(L"New")},
      {"a folder above it swapped for a link as it is made", true, true, true, true, own, true,
       swapped.Append(L"Inner\\New"), swapped.Append(L"Inner\\New"), {}, kGrantee, true, true},
  };
  test::StagedHost host{base::FilePath(scratch_.path()).Append(L"host")};
  test::StagedHost stand_in_host{base::FilePath(scratch_.path()).Append(L"stand-in host")};
  // The test build's library, which takes the stand-in from the environment.
  ASSERT_TRUE(base::CopyFile(test::TestProgram(L"test_build\\zorvi.dll"), stand_in_host.folder().Append(L"zorvi.dll")));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const base::FilePath folder = c.folder.empty() ? folder_ : c.folder;
    const base::FilePath reached = c.reached.empty() ? folder_ : c.reached;
    const bool existed = base::PathExists(reached);
    const std::wstring before = test_support::FileDaclSddl(reached.value());
    RequesterEvents events(folder, c.give_event, c.undo_event);
    FolderPermissionRequest request = Request();
    request.folder = folder;
    request.user_name = c.account;
    request.permanent = c.permanent;
    request.initial_pid = c.initial_pid;
    base::CommandLine arguments{base::FilePath()};
    AppendFolderPermissionSwitches(request, &arguments);
    std::wstring argument_text = arguments.GetArgumentsString();
    if (!c.with_account)
      argument_text = L"--set-folder-permission=\"" + folder_.value() + L"\" --crash-reporter-pid=7";
    test::ProgramRun run;
    const std::wstring decoy = grant_data.Append(L"decoy").value();
    const std::wstring seams = L"run-user=" + std::wstring(kGrantee) +
                               (c.swap ? L";swap-folder=" + swapped.value() + L"|" + decoy : L"");
    if (c.stand_in) {
      ASSERT_TRUE(SetEnvironmentVariableW(L"ZORVI_TEST_SEAMS", seams.c_str()));
    }
    const bool ran = (c.stand_in ? stand_in_host : host).Run(argument_text, &run);
    SetEnvironmentVariableW(L"ZORVI_TEST_SEAMS", nullptr);
    if (c.swap && base::PathExists(base::FilePath(swapped.value() + L".swapped"))) {
      EXPECT_TRUE(test_support::SwapBackFolderForTest(swapped.value(), decoy)) << "the decoy was swapped in";
    }
    ASSERT_TRUE(ran);
    EXPECT_EQ(0u, run.exit_code);
    if (c.swap) {
      EXPECT_EQ(0u, run.errors.find("swap-folder: cannot put " + base::WideToUTF8(decoy))) << run.errors;
      EXPECT_FALSE(base::PathExists(grant_data.Append(L"outside\\New")));
    } else if (c.refusal.empty()) {
      EXPECT_EQ("", run.errors);
    } else {
      EXPECT_EQ(0u, run.errors.find("Refused to grant access to " + folder.AsUTF8() + ": " + c.refusal)) << run.errors;
    }
    EXPECT_EQ(1u, run.processes);
    EXPECT_EQ(c.granted, events.WasGranted());
    EXPECT_EQ(c.granted && c.stand_in, EveryoneMayWrite(reached)) << test_support::FileDaclSddl(reached.value());
    if (!c.granted) {
      EXPECT_EQ(existed, base::PathExists(reached));
      EXPECT_EQ(before, test_support::FileDaclSddl(reached.value()));
    }
    ASSERT_TRUE(SetDacl(folder_, kEveryoneMayOnlyRead));
  }
  test_support::RemoveTree(swapped.value());
}

// Waiting for the package: only the package's readiness hands over, to the installer of the helper's own checked
// copy of the package (never to the one in the user's folder) with the request's switches in their order; the
// interruption or the end of the initial process starts nothing.
TEST_F(GuardedFolderTest, WaitingVariantHandsOverOnlyWhenThePackageIsReady) {
  enum class Initial { kRunning, kEnded, kNotNamed };
  const struct {
    const char* name;
    bool ready;
    bool interrupted;
    Initial initial;
    bool hands_over;
  } cases[] = {
      {"package ready", true, false, Initial::kRunning, true},
      {"package ready and the run interrupted", true, true, Initial::kRunning, true},
      {"run interrupted", false, true, Initial::kRunning, false},
      {"initial process ended", false, false, Initial::kEnded, false},
      {"no initial process named", true, false, Initial::kNotNamed, false},
  };
  test::StagedHost host{base::FilePath(scratch_.path()).Append(L"host")};
  const base::FilePath package = base::FilePath(scratch_.path()).Append(L"package");
  ASSERT_TRUE(base::CreateDirectory(package));
  ASSERT_TRUE(base::CopyFile(test::TestProgram(L"handover_recorder_test_child.exe"), package.Append(L"installer.exe")));
  ASSERT_TRUE(base::CopyFile(base::FilePath(test_support::TestDataDir()).Append(L"network\\recorder_signed.exe"),
                             package.AddExtension(L"exe")));
  const base::FilePath recorded = host.folder().Append(L"handovers.txt");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    base::DeleteFile(recorded, false);
    const ScopedTestHandle ready = CreateNamedEvent(GetPackageReadyEventName(folder_), true);
    const ScopedTestHandle interrupted = CreateNamedEvent(GetInstallationInterruptedEventName(folder_), true);
    if (c.ready)
      SetEvent(ready.get());
    if (c.interrupted)
      SetEvent(interrupted.get());
    FolderPermissionRequest request = Request();
    request.permanent = true;
    request.wait_for_package = true;
    request.package_folder = package;
    base::Process ended;
    if (c.initial == Initial::kRunning) {
      request.initial_pid = std::to_wstring(GetCurrentProcessId());
    } else if (c.initial == Initial::kEnded) {
      const std::wstring hold = test_support::UniqueName(L"Hold");
      const ScopedTestHandle hold_event = CreateNamedEvent(hold);
      SetEvent(hold_event.get());
      ended = StartInitialProcess(hold);
      ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ended.Handle(), kWaitMilliseconds));
      request.initial_pid = std::to_wstring(ended.Pid());  // the held handle keeps the id from being reused
    }
    base::CommandLine arguments{base::FilePath()};
    AppendFolderPermissionSwitches(request, &arguments);  // kNotNamed: "--initial-pid=" with no value
    test::ProgramRun run;
    RunSilently(host, arguments.GetArgumentsString(), &run);
    EXPECT_EQ(c.hands_over, run.processes > 1) << run.processes;
    std::string text;
    EXPECT_EQ(c.hands_over, base::ReadFileToString(recorded, &text));
    if (!c.hands_over)
      continue;
    const size_t tab = text.find('\t');
    ASSERT_NE(std::string::npos, tab) << text;
    std::string handed_line = text.substr(tab + 1);
    while (!handed_line.empty() && (handed_line.back() == '\n' || handed_line.back() == '\r'))
      handed_line.pop_back();
    int count = 0;
    base::win::ScopedLocalMemory<wchar_t*> argv(CommandLineToArgvW(base::UTF8ToWide(handed_line).c_str(), &count));
    ASSERT_TRUE(argv.IsValid());
    const base::FilePath program(argv.Get()[0]);
    const std::vector<std::wstring> handed(argv.Get() + 1, argv.Get() + count);
    argv.Close();
    EXPECT_EQ(L"installer.exe", program.BaseName().value());
    EXPECT_NE(std::wstring::npos, program.value().find(L"\\Zorvi package ")) << program.value();
    const std::vector<std::wstring> expected = {
        L"--crash-reporter-pid=7", L"--set-folder-permission=" + folder_.value(),
        L"--permissions-for-user=" + std::wstring(kGrantee), L"--permanent-permissions",
        L"--initial-pid=" + request.initial_pid};
    EXPECT_EQ(expected, handed);
  }
}

// The clean-up batch through the product's host, whose folder is the installation: none starts nothing, a
// changed one is refused and left with everything it names, and so is one whose path leads through a link in the
// folder (wine shows the Linux symbolic link the area's set-up made there as a reparse point); the writer's own
// runs and removes what it lists.
TEST(UninstallBatchRunTest, OnlyTheWritersBatchRuns) {
  test_support::ScopedTestFolder scratch(L"CleanUpBatch");
  const base::FilePath data = base::FilePath(test_support::TestDataDir()).Append(L"reparse\\batch");
  test::StagedHost host{data.Append(L"installation")};
  const base::FilePath through_link = host.folder().Append(L"to_outside\\precious.txt");
  const base::FilePath beyond_link = data.Append(L"outside\\precious.txt");
  std::string precious;
  ASSERT_TRUE(base::ReadFileToString(beyond_link, &precious));
  const base::FilePath batch_file = host.folder().Append(kUninstallBatchFileName);
  const base::FilePath leftover = host.folder().Append(L"39.0").Append(L"left over.dll");
  const base::FilePath outside = base::FilePath(scratch.path()).Append(L"outside.txt");
  ASSERT_TRUE(base::CreateDirectory(leftover.DirName()));
  ASSERT_TRUE(test_support::WriteFileBytes(leftover.value(), "in use"));
  ASSERT_TRUE(test_support::WriteFileBytes(outside.value(), "not the installation's"));
  // With the requester's (absent) crash reporter, so that the helper starts none of its own.
  const std::wstring arguments =
      L"--set-folder-permission=\"" + host.folder().value() + L"\" --run-uninstall-bat --crash-reporter-pid=7";

  test::ProgramRun run;
  RunSilently(host, arguments, &run);
  EXPECT_EQ(1u, run.processes) << "without a batch nothing starts";

  // The batch outlives the uninstallation's process, which this one stands for.
  const std::wstring hold = test_support::UniqueName(L"Hold");
  const ScopedTestHandle hold_event = CreateNamedEvent(hold);
  base::Process uninstaller = StartInitialProcess(hold);
  ASSERT_TRUE(uninstaller.IsValid());
  UninstallBatch batch(host.folder());
  batch.SetWatchedProcesses(uninstaller.Pid(), 0, 0);
  ASSERT_TRUE(batch.AddLeftoverFile(leftover));
  std::string tampered = batch.Format();
  tampered.insert(tampered.rfind("del %0"), "del \"" + outside.AsUTF8() + "\"\n");
  ASSERT_TRUE(test_support::WriteFileBytes(batch_file.value(), tampered));
  ASSERT_TRUE(host.Run(arguments, &run));
  EXPECT_EQ(0u, run.exit_code);
  EXPECT_EQ(0u, run.errors.find("Refused to run the clean-up batch " + batch_file.AsUTF8() + ": line "))
      << run.errors;
  EXPECT_EQ(1u, run.processes);
  EXPECT_TRUE(base::PathExists(batch_file));
  EXPECT_TRUE(base::PathExists(leftover));
  EXPECT_TRUE(base::PathExists(outside));

  // The writer names no path through a link; a batch changed to name one is refused.
  EXPECT_FALSE(UninstallBatch(host.folder()).AddLeftoverFile(through_link));
  UninstallBatch linked(host.folder());
  linked.SetWatchedProcesses(uninstaller.Pid(), 0, 0);
  const std::string stand_in = "no_link";
  ASSERT_TRUE(linked.AddLeftoverFile(host.folder().Append(base::UTF8ToWide(stand_in)).Append(L"precious.txt")));
  std::string text = linked.Format();
  for (size_t at; (at = text.find(stand_in)) != std::string::npos;)
    text.replace(at, stand_in.size(), "to_outside");
  ASSERT_TRUE(test_support::WriteFileBytes(batch_file.value(), text));
  ASSERT_TRUE(host.Run(arguments, &run));
  EXPECT_EQ(0u, run.errors.find("Refused to run the clean-up batch " + batch_file.AsUTF8() + ": line ")) << run.errors;
  EXPECT_NE(std::string::npos, run.errors.find("the path leads through a link: " +
                                               host.folder().Append(L"to_outside").AsUTF8() + " is a link"))
      << run.errors;
  EXPECT_EQ(1u, run.processes);
  std::string kept;
  EXPECT_TRUE(base::ReadFileToString(beyond_link, &kept) && kept == precious) << kept;

  // The helper deletes what the writer's batch names itself, without waiting for the ids the batch names and
  // without starting anything: nothing is left in use.
  ASSERT_TRUE(batch.Write());
  RunSilently(host, arguments, &run);
  EXPECT_EQ(1u, run.processes);
  SetEvent(hold_event.get());
  EXPECT_FALSE(base::PathExists(batch_file));
  EXPECT_FALSE(base::PathExists(leftover));
  EXPECT_FALSE(base::PathExists(leftover.DirName()));
  EXPECT_TRUE(base::PathExists(host.executable())) << "the batch removes only what it lists";
  EXPECT_TRUE(base::PathExists(outside));
}

// A folder of the batch swapped, at the moment the helper is about to delete an entry in it, for a folder holding a
// link of the entry's folder's name (wine shows the Linux symbolic link as a reparse point): nothing is reached
// through the link, what it leads to keeps its bytes (the area's check compares them with sha256sum), and the rest
// of the batch is done.
TEST(UninstallBatchRunTest, AFolderSwappedUnderTheHelperLeadsNowhere) {
  const base::FilePath data = base::FilePath(test_support::TestDataDir()).Append(L"reparse\\batch");
  test::StagedHost host{data.Append(L"installation")};
  // The test build's library, which takes the swap's seam from the environment.
  ASSERT_TRUE(base::CopyFile(test::TestProgram(L"test_build\\zorvi.dll"), host.folder().Append(L"zorvi.dll")));
  const base::FilePath swapped = host.folder().Append(L"39.0");
  const base::FilePath through_link = swapped.Append(L"sub\\precious.txt");
  const base::FilePath beyond_link = data.Append(L"outside\\precious.txt");
  const base::FilePath other = host.folder().Append(L"40.0\\left over.dll");
  const base::FilePath decoy = data.Append(L"decoy");
  std::string precious;
  ASSERT_TRUE(base::ReadFileToString(beyond_link, &precious));
  for (const base::FilePath& file : {through_link, other}) {
    ASSERT_TRUE(base::CreateDirectory(file.DirName()));
    ASSERT_TRUE(test_support::WriteFileBytes(file.value(), "in use"));
  }
  // The batch's ids name a process that has ended; the helper waits for none of them.
  const std::wstring hold = test_support::UniqueName(L"Hold");
  const ScopedTestHandle hold_event = CreateNamedEvent(hold);
  SetEvent(hold_event.get());
  base::Process ended = StartInitialProcess(hold);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ended.Handle(), kWaitMilliseconds));
  UninstallBatch batch(host.folder());
  batch.SetWatchedProcesses(ended.Pid(), 0, 0);
  ASSERT_TRUE(batch.AddLeftoverFile(through_link));
  ASSERT_TRUE(batch.AddLeftoverFile(other));
  ASSERT_TRUE(batch.Write());

  ASSERT_TRUE(
      SetEnvironmentVariableW(L"ZORVI_TEST_SEAMS", (L"swap-folder=" + swapped.value() + L"|" + decoy.value()).c_str()));
  test::ProgramRun run;
  const bool ran = host.Run(
      L"--set-folder-permission=\"" + host.folder().value() + L"\" --run-uninstall-bat --crash-reporter-pid=7", &run);
  SetEnvironmentVariableW(L"ZORVI_TEST_SEAMS", nullptr);
  const bool swapped_back = test_support::SwapBackFolderForTest(swapped.value(), decoy.value());
  test_support::RemoveTree(swapped.value());
  ASSERT_TRUE(ran);
  EXPECT_TRUE(swapped_back) << "the decoy was not swapped in";
  EXPECT_EQ(0u, run.exit_code);
  EXPECT_NE(std::string::npos, run.errors.find("Not deleting " + through_link.AsUTF8() + ": " +
                                               swapped.Append(L"sub").AsUTF8() + " is a link (a reparse point)"))
      << run.errors;
  EXPECT_EQ(1u, run.processes);
  std::string kept;
  EXPECT_TRUE(base::ReadFileToString(beyond_link, &kept) && kept == precious) << kept;
  EXPECT_FALSE(base::PathExists(other));
  EXPECT_FALSE(base::PathExists(other.DirName()));
  EXPECT_FALSE(base::PathExists(host.folder().Append(kUninstallBatchFileName)));
}

}  // namespace
}  // namespace zorvi::installer
