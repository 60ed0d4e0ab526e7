// The file and folder operations' edge cases, each checked against the tree as captured before (sizes,
// attributes, SHA-256) rather than against what the operation reports.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/time/time.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"
#include "desktop/launcher/installer/service/transactions/create_folder_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_file_operation.h"
#include "desktop/launcher/installer/service/transactions/operation_test_seam.h"
#include "desktop/launcher/installer/service/transactions/transaction_test_util.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

// The pauses of the retries while another opener holds a file: counted and added up instead of waited out, and
// the holder (a scanner, a reader) let go at the pause a test chooses.
int g_pauses = 0;
unsigned long g_paused_ms = 0;
int g_release_at_pause = 0;  // 0: never
test_support::ScopedTestHandle g_holder;
void CountPause(unsigned long milliseconds) {
  g_paused_ms += milliseconds;
  if (++g_pauses == g_release_at_pause)
    g_holder.reset();
}

// A number in the lower-case base-36 digits of the short names a deletion sets entries aside under.
std::wstring Base36(int64_t value) {
  std::wstring digits;
  for (; value > 0; value /= 36)
    digits.insert(digits.begin(), L"0123456789abcdefghijklmnopqrstuvwxyz"[value % 36]);
  return digits;
}

// A file's bytes, or "(missing)".
std::string ReadOrMissing(const base::FilePath& path) {
  std::string bytes;
  return base::ReadFileToString(path, &bytes) ? bytes : "(missing)";
}

// A path of a unique name under the second drive that the setup maps (another file system), or an empty path
// where it mapped none.
base::FilePath OnSecondDrive(const wchar_t* stem) {
  std::string letter;
  if (!test_support::ReadFileBytes(test_support::TestDataDir() + L"\\second_drive", &letter) || letter.size() != 1)
    return base::FilePath();
  return base::FilePath(std::wstring(1, letter[0]) + L":\\").Append(test_support::UniqueName(stem));
}

class FileOperationsTest : public testing::Test {
 protected:
  void SetUp() override {
    g_pauses = 0;
    g_paused_ms = 0;
    g_release_at_pause = 0;
    SetHeldFileRetryPauseHookForTesting(&CountPause);
    ASSERT_TRUE(sandbox_.ok());
    Write(L"keep\\a.txt", "alpha");
    Write(L"keep\\b.txt", "beta");
    Write(L"keep\\ro.txt", "read only");
    ASSERT_TRUE(SetFileAttributesW(Path(L"keep\\ro.txt").value().c_str(), FILE_ATTRIBUTE_READONLY));
    Write(L"nest\\one\\two\\leaf.txt", "leaf");
  }

  void TearDown() override {
    SetHeldFileRetryPauseHookForTesting(nullptr);
    g_holder.reset();
  }

  base::FilePath Path(const std::wstring& name) const { return sandbox_.Path(name); }
  void Write(const std::wstring& name, const std::string& bytes) {
    ASSERT_TRUE(base::CreateDirectory(Path(name).DirName()));
    ASSERT_TRUE(test_support::WriteFileBytes(Path(name).value(), bytes));
  }
  std::string Read(const std::wstring& name) const { return ReadOrMissing(Path(name)); }

  test::Sandbox sandbox_{L"tx_files"};
};

// Another writer puts a file where a copy is about to go, once the copy has cleared that place.
base::FilePath g_appears_at;
bool PutFileInTheWay(const Operation*, const std::wstring& target) {
  return target == g_appears_at.value() && !test_support::WriteFileBytes(target, "came meanwhile");
}

// Each case does one operation, checks what Do changed, rolls the transaction back and finds the tree as it was.
TEST_F(FileOperationsTest, RollbackRestoresTheTree) {
  const struct {
    const char* name;
    std::function<std::unique_ptr<Operation>()> make;
    bool succeeds;
    std::function<void()> check_done;
  } kCases[] = {
      {"deleting a missing file",
       [&] { return std::make_unique<DeleteFileOperation>(Path(L"keep\\none"), true, sandbox_.tree()); }, true, [] {}},
      {"deleting a file",
       [&] { return std::make_unique<DeleteFileOperation>(Path(L"keep\\a.txt"), true, sandbox_.tree()); }, true,
       [&] { EXPECT_FALSE(base::PathExists(Path(L"keep\\a.txt"))); }},
      {"deleting a folder", [&] { return std::make_unique<DeleteFileOperation>(Path(L"nest"), false); }, true,
       [&] { EXPECT_FALSE(base::PathExists(Path(L"nest"))); }},
      {"moving onto an existing file",
       [&] { return std::make_unique<MoveFileOperation>(Path(L"keep\\a.txt"), Path(L"keep\\b.txt")); }, true,
       [&] {
         EXPECT_EQ("alpha", Read(L"keep\\b.txt"));
         EXPECT_FALSE(base::PathExists(Path(L"keep\\a.txt")));
       }},
      {"copying onto an existing file",
       [&] { return std::make_unique<CopyFileOperation>(Path(L"keep\\a.txt"), Path(L"keep\\b.txt")); }, true,
       [&] { EXPECT_EQ("alpha", Read(L"keep\\b.txt")); }},
      {"copying where a file comes once the place is cleared",
       [&] {
         g_appears_at = Path(L"keep\\came.txt");
         SetOperationFaultHookForTesting(&PutFileInTheWay);
         return std::make_unique<CopyFileOperation>(Path(L"keep\\a.txt"), g_appears_at);
       },
       false,
       [&] {
         SetOperationFaultHookForTesting(nullptr);
         EXPECT_EQ("came meanwhile", Read(L"keep\\came.txt"));
         EXPECT_TRUE(DeleteFileW(g_appears_at.value().c_str()));
       }},
      {"copying a read-only file into a missing folder",
       [&] { return std::make_unique<CopyFileOperation>(Path(L"keep\\ro.txt"), Path(L"new\\deeper\\ro.txt")); }, true,
       [&] {
         EXPECT_EQ("read only", Read(L"new\\deeper\\ro.txt"));
         EXPECT_EQ(0u, GetFileAttributesW(Path(L"keep\\ro.txt").value().c_str()) & FILE_ATTRIBUTE_READONLY);
       }},
      {"moving a read-only file",
       [&] { return std::make_unique<MoveFileOperation>(Path(L"keep\\ro.txt"), Path(L"keep\\moved.txt")); }, true,
       [&] { EXPECT_EQ("read only", Read(L"keep\\moved.txt")); }},
      {"creating a folder two levels below the nearest one",
       [&] { return std::make_unique<CreateFolderOperation>(Path(L"nest\\one\\x\\y")); }, true,
       [&] { EXPECT_TRUE(base::DirectoryExists(Path(L"nest\\one\\x\\y"))); }},
      {"moving a missing file into a missing folder",
       [&] { return std::make_unique<MoveFileOperation>(Path(L"keep\\none"), Path(L"made\\for\\it.txt")); }, false,
       [] {}},
      {"creating a folder below a file",
       [&] { return std::make_unique<CreateFolderOperation>(Path(L"keep\\a.txt\\sub")); }, false, [] {}},
      {"creating a folder whose last level cannot be made",
       [&] { return std::make_unique<CreateFolderOperation>(Path(L"new\\deeper\\bad|name")); }, false, [] {}},
  };
  const test::MachineState before = sandbox_.Capture();
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    OperationList transaction;
    EXPECT_EQ(test_case.succeeds, ExecuteOperation(&transaction, test_case.make()));
    test_case.check_done();
    RollbackOperations(&transaction);
    EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));
  }
}

// Error lines carry the operation's own source file, as its verbose lines do: the verbose-module switch names
// the operations by their files.
TEST_F(FileOperationsTest, LinesComeFromTheOperationsOwnFiles) {
  static std::vector<std::string>* lines = nullptr;
  std::vector<std::string> captured;
  lines = &captured;
  logging::SetLogMessageHandler([](int severity, const char* file, int, size_t message_start, const std::string& text) {
    if (severity == logging::LOG_ERROR) {
      const std::string path = file;
      lines->push_back(path.substr(path.find_last_of("/\\") + 1) + ": " + text.substr(message_start));
    }
    return true;
  });
  const struct {
    std::function<std::unique_ptr<Operation>()> make;
    const char* line;
  } kCases[] = {
      {[&] { return std::make_unique<MoveFileOperation>(Path(L"keep\\none"), Path(L"keep\\x")); },
       "move_file_operation.cc: File copy failed\n"},
      {[&] { return std::make_unique<CopyFileOperation>(Path(L"keep\\none"), Path(L"keep\\x")); },
       "copy_file_operation.cc: File copy failed\n"},
      {[&] { return std::make_unique<CreateFolderOperation>(Path(L"keep\\a.txt\\sub")); },
       "create_folder_operation.cc: Failed folder creation\n"},
  };
  for (const auto& test_case : kCases) {
    captured.clear();
    OperationList transaction;
    EXPECT_FALSE(ExecuteOperation(&transaction, test_case.make()));
    EXPECT_EQ(std::vector<std::string>{test_case.line}, captured);
  }
  logging::SetLogMessageHandler(nullptr);
}

// The commit removes what the deletions kept aside, and the folders a deletion left empty between its file and its
// root: never the root, nor a folder above or beside it, which may be the user's (an existing folder chosen for the
// installation, one that only held it, an empty one next to it).
TEST_F(FileOperationsTest, CommitRemovesWhatWasKeptAsideAndEmptiedFoldersBelowTheRoot) {
  Write(L"user\\apps\\install\\v1\\sub\\file.txt", "installed");
  Write(L"user\\apps\\install\\v1\\other.txt", "installed too");
  ASSERT_TRUE(base::CreateDirectory(Path(L"user\\beside")));
  Write(L"outside\\lone\\file.txt", "outside");
  const base::FilePath install = Path(L"user\\apps\\install");
  const struct {
    const wchar_t* file;
    base::FilePath root;
  } kDeletions[] = {
      {L"nest\\one\\two\\leaf.txt", sandbox_.tree()},
      {L"keep\\ro.txt", sandbox_.tree()},
      {L"user\\apps\\install\\v1\\sub\\file.txt", install},
      {L"user\\apps\\install\\v1\\other.txt", install},
      {L"outside\\lone\\file.txt", install},  // not below its root: no folder goes
  };
  OperationList transaction;
  for (const auto& deletion : kDeletions) {
    ASSERT_TRUE(ExecuteOperation(&transaction,
                                 std::make_unique<DeleteFileOperation>(Path(deletion.file), false, deletion.root)));
  }
  ASSERT_TRUE(
      ExecuteOperation(&transaction, std::make_unique<CopyFileOperation>(Path(L"keep\\a.txt"), Path(L"keep\\b.txt"))));
  DeleteOperations(&transaction);
  std::set<std::wstring> left;
  for (const auto& [name, entry] : sandbox_.Capture().entries)
    left.insert(name);
  EXPECT_EQ((std::set<std::wstring>{L"keep", L"keep\\a.txt", L"keep\\b.txt", L"user", L"user\\apps",
                                    L"user\\apps\\install", L"user\\beside", L"outside", L"outside\\lone"}),
            left);
  EXPECT_EQ("alpha", Read(L"keep\\b.txt"));
}

// The in-use check moves a library aside and finds it held. Another opener that holds the set-aside file without
// letting it be renamed (as a scanner looks at every renamed file) makes the move back fail for a while: it is
// tried again, and when the deletion's own tries run out its rollback tries again; a file that cannot go back at
// all stays under its temporary name with its bytes. Nothing is ever lost.
std::wstring g_held_target;  // the temporary name the scanner holds
int g_move_back_attempts = 0;
int g_held_attempts = 0;  // the attempts during which the scanner holds the file
test_support::ScopedTestHandle g_scanner;
bool HoldSetAsideFile(const Operation*, const std::wstring& target) {
  if (!target.ends_with(L".old"))
    return false;
  g_held_target = target;
  if (++g_move_back_attempts <= g_held_attempts && !g_scanner.valid())
    g_scanner.reset(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  else if (g_move_back_attempts > g_held_attempts)
    g_scanner.reset();
  return false;
}

TEST_F(FileOperationsTest, InUseFileWhoseMoveBackIsHeldComesBackOrIsKept) {
  SetMoveBackRetryDelayForTesting(0);
  SetOperationFaultHookForTesting(&HoldSetAsideFile);
  const struct {
    const char* name;
    int held_attempts;
    bool back;
  } kRows[] = {
      {"held for two attempts", 2, true},
      {"held through the deletion's attempts, let go at the rollback's first", 5, true},
      {"held through the rollback's attempts too", 10, false},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    Write(L"bin\\library.dll", row.name);
    const test::MachineState before = sandbox_.Capture();
    // Loaded, as a library is: it may be renamed but not written.
    test_support::ScopedTestHandle loaded(CreateFileW(Path(L"bin\\library.dll").value().c_str(), GENERIC_READ,
                                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                                      nullptr));
    ASSERT_TRUE(loaded.valid());
    g_move_back_attempts = 0;
    g_held_attempts = row.held_attempts;
    OperationList transaction;
    EXPECT_FALSE(
        ExecuteOperation(&transaction, std::make_unique<DeleteFileOperation>(Path(L"bin\\library.dll"), true)));
    EXPECT_TRUE(transaction.empty());
    loaded.reset();
    g_scanner.reset();
    EXPECT_EQ(row.back ? row.held_attempts + 1 : 10, g_move_back_attempts);
    if (row.back) {
      EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));
      continue;
    }
    EXPECT_EQ("(missing)", Read(L"bin\\library.dll"));
    std::string kept;
    EXPECT_TRUE(test_support::ReadFileBytes(g_held_target, &kept));
    EXPECT_EQ(row.name, kept);
    ASSERT_TRUE(DeleteFileW(g_held_target.c_str()));
  }
  SetOperationFaultHookForTesting(nullptr);
  SetMoveBackRetryDelayForTesting(-1);
}

// A file that another opener holds (a scanner or indexer reading a file just written or renamed) is waited for
// over a back-off of about 2 s in all: let go at a pause, the change then succeeds; held throughout, it fails and
// every file keeps its bytes. A reader that passes by a library makes it no library in use.
TEST_F(FileOperationsTest, FilesHeldForAMomentAreWaitedFor) {
  Write(L"held\\source.bin", std::string(100000, 's'));
  Write(L"held\\library.dll", "library");
  Write(L"held\\note.txt", "note");
  const auto hold = [&](const wchar_t* name, DWORD access, DWORD sharing) {
    return CreateFileW(Path(name).value().c_str(), access, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  const struct {
    const char* name;
    std::function<HANDLE()> holder;
    std::function<std::unique_ptr<Operation>()> make;
    std::function<void()> check_done;
  } kCases[] = {
      {"deleting a file a scanner reads without sharing it",
       [&] { return hold(L"held\\note.txt", GENERIC_READ, FILE_SHARE_READ); },
       [&] { return std::make_unique<DeleteFileOperation>(Path(L"held\\note.txt"), false); },
       [&] { EXPECT_EQ("(missing)", Read(L"held\\note.txt")); }},
      {"deleting a library a reader passes by",
       [&] { return hold(L"held\\library.dll", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE); },
       [&] { return std::make_unique<DeleteFileOperation>(Path(L"held\\library.dll"), true, sandbox_.tree()); },
       [&] { EXPECT_EQ("(missing)", Read(L"held\\library.dll")); }},
      {"copying a file its writer holds",
       [&] { return hold(L"held\\source.bin", GENERIC_WRITE, 0); },
       [&] { return std::make_unique<CopyFileOperation>(Path(L"held\\source.bin"), Path(L"held\\copy.bin")); },
       [&] { EXPECT_EQ(Read(L"held\\source.bin"), Read(L"held\\copy.bin")); }},
      {"moving a file a scanner reads without sharing it",
       [&] { return hold(L"held\\source.bin", GENERIC_READ, FILE_SHARE_READ); },
       [&] { return std::make_unique<MoveFileOperation>(Path(L"held\\source.bin"), Path(L"held\\moved.bin")); },
       [&] { EXPECT_EQ(std::string(100000, 's'), Read(L"held\\moved.bin")); }},
  };
  for (const auto& test_case : kCases) {
    for (const int release_at : {3, 0}) {
      SCOPED_TRACE(testing::Message() << test_case.name << (release_at ? ", let go" : ", held throughout"));
      const test::MachineState before = sandbox_.Capture();
      g_holder.reset(test_case.holder());
      ASSERT_TRUE(g_holder.valid());
      g_pauses = 0;
      g_paused_ms = 0;
      g_release_at_pause = release_at;
      OperationList transaction;
      EXPECT_EQ(release_at != 0, ExecuteOperation(&transaction, test_case.make()));
      if (release_at) {
        EXPECT_EQ(release_at, g_pauses);
        test_case.check_done();
      } else {
        EXPECT_LE(1500u, g_paused_ms);
        EXPECT_GE(2500u, g_paused_ms);
      }
      g_holder.reset();
      RollbackOperations(&transaction);
      EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));
    }
  }
}

// A running program cannot be deleted with the in-use check, and is back under its own name; without the check
// the rename alone decides.
TEST_F(FileOperationsTest, RunningExecutableIsInUse) {
  const base::FilePath exe = Path(L"bin\\child.exe");
  ASSERT_TRUE(base::CreateDirectory(exe.DirName()));
  ASSERT_TRUE(
      base::CopyFile(base::FilePath(test_support::ExecutableDir()).Append(L"transactions_test_child.exe"), exe));
  const std::wstring event_name = test_support::UniqueName(L"tx_exe");
  test_support::ScopedTestHandle stop(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::wstring command = L"\"" + exe.value() + L"\" " + event_name;
  ASSERT_TRUE(CreateProcessW(exe.value().c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  test_support::ScopedTestHandle running(process.hProcess);
  CloseHandle(process.hThread);
  const test::MachineState before = sandbox_.Capture();

  OperationList transaction;
  EXPECT_FALSE(ExecuteOperation(&transaction, std::make_unique<DeleteFileOperation>(exe, true)));
  EXPECT_TRUE(transaction.empty());
  EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));

  SetEvent(stop.get());
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(running.get(), 10000));
  ASSERT_TRUE(ExecuteOperation(&transaction, std::make_unique<DeleteFileOperation>(exe, true)));
  DeleteOperations(&transaction);
  EXPECT_FALSE(base::PathExists(exe));
}

// The temporary name is the path plus the current second: when it is taken the deletion fails and leaves the
// file alone. Every name of the next minute is taken, so the clock cannot step past them during the test.
TEST_F(FileOperationsTest, TakenTemporaryNameLeavesTheFile) {
  const base::FilePath file = Path(L"keep\\a.txt");
  const int64_t now = base::Time::Now().ToTimeT();
  for (int64_t second = now; second < now + 60; ++second)
    Write(L"keep\\a.txt." + std::to_wstring(second) + L".old", "taken");
  const test::MachineState before = sandbox_.Capture();
  OperationList transaction;
  EXPECT_FALSE(ExecuteOperation(&transaction, std::make_unique<DeleteFileOperation>(file, false)));
  EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));
}

// Files at the longest paths, as a copy installs them, can be deleted (their usual temporary names would be too
// long), rolled back and deleted for good, though the first short names of the coming seconds are taken: files
// with long names, and a short-named one in one of the deepest folders the system lets be created.
TEST_F(FileOperationsTest, FilesAtTheLongestPathsCanBeDeletedAgain) {
  const base::FilePath deepest = Path(L"deep");
  const std::vector<std::pair<base::FilePath, std::vector<size_t>>> folders = {  // and their files' path lengths
      {Path(L"long"), {MAX_PATH - 15, MAX_PATH - 1}},
      {deepest.Append(std::wstring(MAX_PATH - 14 - deepest.value().size() - 1, L'd')), {MAX_PATH - 8}}};
  const int64_t now = base::Time::Now().ToTimeT();
  for (const auto& [folder, lengths] : folders) {
    ASSERT_TRUE(base::CreateDirectory(folder));
    for (int64_t second = now; second < now + 30; ++second)
      ASSERT_EQ(0, base::WriteFile(folder.Append(L"~" + Base36(second) + L".old"), "", 0));
  }
  const test::MachineState empty = sandbox_.Capture();
  std::vector<base::FilePath> files;
  for (const auto& [folder, lengths] : folders) {
    for (const size_t length : lengths) {
      files.push_back(folder.Append(std::wstring(length - folder.value().size() - 1, L'n')));
      ASSERT_TRUE(base::CopyFile(Path(L"keep\\a.txt"), files.back()));
    }
  }
  const test::MachineState installed = sandbox_.Capture();
  OperationList transaction;
  for (const bool commit : {false, true}) {
    for (const base::FilePath& file : files) {
      ASSERT_TRUE(ExecuteOperation(&transaction, std::make_unique<DeleteFileOperation>(file, false)));
      EXPECT_FALSE(base::PathExists(file));
    }
    commit ? DeleteOperations(&transaction) : RollbackOperations(&transaction);
    EXPECT_EQ("", test::Compare(commit ? empty : installed, sandbox_.Capture()));
  }
}

// Whatever name a deletion gives the entry it keeps aside is known again as one, for the next run to find what a
// run that never ended left: the usual one, and a short one beside the longest paths, its first form taken.
TEST_F(FileOperationsTest, NamesOfEntriesSetAsideAreKnownAgain) {
  const base::FilePath folder = Path(L"long");
  ASSERT_TRUE(base::CreateDirectory(folder));
  const int64_t now = base::Time::Now().ToTimeT();
  for (int64_t second = now; second < now + 30; ++second)
    ASSERT_EQ(0, base::WriteFile(folder.Append(L"~" + Base36(second) + L".old"), "", 0));
  const base::FilePath long_file = folder.Append(std::wstring(MAX_PATH - folder.value().size() - 2, L'n'));
  ASSERT_TRUE(base::CopyFile(Path(L"keep\\a.txt"), long_file));
  for (const base::FilePath& file : {Path(L"keep\\a.txt"), long_file}) {
    DeleteFileOperation deletion(file, false);
    ASSERT_TRUE(deletion.Do(nullptr));
    const std::wstring name = deletion.temporary_path().BaseName().value();
    EXPECT_TRUE(DeleteFileOperation::IsTemporaryName(name)) << name;
    EXPECT_EQ(file != long_file, name.ends_with(L".old")) << name;
    deletion.Rollback();
  }
  for (const wchar_t* name : {L"a.txt", L"zorvi.old", L".5.old", L"~.old", L"~ab.old.txt", L"a.5x.old"})
    EXPECT_FALSE(DeleteFileOperation::IsTemporaryName(name)) << name;
}

// A kept copy that cannot be removed at commit (it is held open) is scheduled for the next restart, which the
// Linux-side check reads back with wine's reg tool.
TEST_F(FileOperationsTest, KeptCopyThatCannotGoWaitsForRestart) {
  auto operation = std::make_unique<DeleteFileOperation>(Path(L"keep\\b.txt"), false);
  DeleteFileOperation* deletion = operation.get();
  OperationList transaction;
  ASSERT_TRUE(ExecuteOperation(&transaction, std::move(operation)));
  const base::FilePath kept = deletion->temporary_path();
  {
    test_support::ScopedTestHandle holder(
        CreateFileW(kept.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid());
    DeleteOperations(&transaction);
    EXPECT_TRUE(base::PathExists(kept));
  }
  const std::wstring data = test_support::TestDataDir();
  if (data.empty())
    GTEST_SKIP() << "no test data folder: the scheduled deletion is checked from Linux only";
  ASSERT_TRUE(test_support::WriteFileBytes(data + L"\\pending_delete.txt",
                                           std::string(kept.value().begin(), kept.value().end())));
}

// A moved file that cannot go back (its old place taken by a folder, or by a file in use) stays at the destination,
// and restoring the file set aside from there does not replace it: every file keeps its bytes.
TEST_F(FileOperationsTest, MovedFileThatCannotGoBackIsKept) {
  for (const bool in_use : {false, true}) {
    SCOPED_TRACE(in_use);
    const std::wstring folder = in_use ? L"in_use\\" : L"folder\\";
    Write(folder + L"source", "moved");
    Write(folder + L"destination", "set aside");
    const test::MachineState before = sandbox_.Capture();
    OperationList transaction;
    ASSERT_TRUE(ExecuteOperation(
        &transaction, std::make_unique<MoveFileOperation>(Path(folder + L"source"), Path(folder + L"destination"))));
    if (in_use)
      Write(folder + L"source", "in use");
    else
      ASSERT_TRUE(base::CreateDirectory(Path(folder + L"source")));
    test_support::ScopedTestHandle holder(in_use ? CreateFileW(Path(folder + L"source").value().c_str(), GENERIC_READ,
                                                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                                                 : nullptr);
    ASSERT_EQ(in_use, holder.valid());
    RollbackOperations(&transaction);
    holder.reset();
    std::set<std::string> digests;
    for (const auto& [name, entry] : sandbox_.Capture().entries)
      digests.insert(entry.sha256);
    for (const auto& [name, entry] : before.entries)
      EXPECT_TRUE(entry.directory || digests.count(entry.sha256)) << std::string(name.begin(), name.end());
  }
}

// A deleted file whose access list had to be widened, and whose place a new file has taken by the rollback: the
// deleted one stays under its temporary name, and its old list goes to neither file, the new one least of all.
TEST_F(FileOperationsTest, DeletedFileThatCannotGoBackLeavesTheNewFilesAccessList) {
  const base::FilePath file = Path(L"guarded\\old.txt");
  Write(L"guarded\\old.txt", "old");
  ASSERT_TRUE(test_support::SetObjectDacl(file.value(), SE_FILE_OBJECT, L"D:P(A;;FR;;;WD)"));
  if (test_support::FileDaclSddl(file.value()).find(L"(A;;FR;;;WD)") == std::wstring::npos)
    GTEST_SKIP() << "wine keeps no access list set on a file: it derives one from the Unix mode bits";
  const std::string old_digest = sandbox_.Capture().entries.at(L"guarded\\old.txt").sha256;
  OperationList transaction;
  ASSERT_TRUE(ExecuteOperation(&transaction, std::make_unique<DeleteFileOperation>(file, false)));
  Write(L"guarded\\old.txt", "new");
  const std::wstring new_list = test_support::FileDaclSddl(file.value());
  ASSERT_EQ(std::wstring::npos, new_list.find(L"(A;;FR;;;WD)")) << new_list;
  RollbackOperations(&transaction);
  EXPECT_EQ("new", Read(L"guarded\\old.txt"));
  EXPECT_EQ(new_list, test_support::FileDaclSddl(file.value()));
  std::set<std::wstring> holding_the_old;
  for (const auto& [name, entry] : sandbox_.Capture().entries) {
    if (entry.sha256 == old_digest)
      holding_the_old.insert(name);
  }
  EXPECT_EQ(1u, holding_the_old.size()) << "the deleted file is kept";
}

// Moves to another volume (a drive letter the setup maps to tmpfs). The source leaves its place at once but stays on
// its own volume until the commit: a rollback removes the copy and brings the source back whole, also when the copy
// is held open by then or a file in a moved folder is held all along (where the system refuses to move that folder
// the move fails instead, with the same end); a commit leaves only the copy. A source held without letting it be
// renamed fails the move, which leaves both volumes as they were, the file the move would have replaced included.
TEST_F(FileOperationsTest, MovesAcrossVolumesKeepTheSourceUntilTheCommit) {
  const base::FilePath other = OnSecondDrive(L"tx_volume");
  if (other.empty())
    GTEST_SKIP() << "the setup maps no second drive";
  const auto read_other = [&](const std::wstring& name) { return ReadOrMissing(other.Append(name)); };
  const auto entries_of_other = [&] {
    std::set<std::wstring> entries;
    base::FileEnumerator walk(other, true, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath entry = walk.Next(); !entry.empty(); entry = walk.Next())
      entries.insert(entry.value());
    return entries;
  };
  const auto hold = [](const base::FilePath& path) {
    return CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  enum Hold { kNothing, kSource, kCopy, kFileInFolder };
  const struct {
    const char* name;
    const wchar_t* source;
    const wchar_t* destination;  // below `other`
    bool commit;
    Hold held = kNothing;
    const char* earlier = nullptr;  // a file already at the destination
    std::vector<std::pair<std::wstring, std::string>> copied = {};  // below the destination, what it holds
  } kRows[] = {
      {"a read-only file, rolled back", L"keep\\ro.txt", L"ro.txt", false, kNothing, nullptr, {{L"", "read only"}}},
      {"a folder, committed", L"nest", L"nest", true, kNothing, nullptr, {{L"one\\two\\leaf.txt", "leaf"}}},
      {"a held file onto an earlier one", L"keep\\a.txt", L"a.txt", false, kSource, "earlier"},
      {"a file whose copy is held at the rollback", L"keep\\b.txt", L"b.txt", false, kCopy, nullptr,
       {{L"", "beta"}}},
      {"a folder with a held file, rolled back", L"nest", L"nest", false, kFileInFolder},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    if (row.earlier) {
      ASSERT_TRUE(base::CreateDirectory(other));
      ASSERT_TRUE(test_support::WriteFileBytes(other.Append(row.destination).value(), row.earlier));
    }
    const test::MachineState before = sandbox_.Capture();
    test_support::ScopedTestHandle holder(row.held == kSource         ? hold(Path(row.source))
                                         : row.held == kFileInFolder ? hold(Path(L"nest\\one\\two\\leaf.txt"))
                                                                     : nullptr);
    OperationList transaction;
    const base::FilePath destination = other.Append(row.destination);
    const bool moved =
        ExecuteOperation(&transaction, std::make_unique<MoveFileOperation>(Path(row.source), destination));
    if (row.held == kSource) {
      EXPECT_FALSE(moved);
      EXPECT_EQ(row.earlier, read_other(row.destination));
      EXPECT_EQ(std::set<std::wstring>{destination.value()}, entries_of_other());
    } else if (row.held != kFileInFolder) {
      ASSERT_TRUE(moved);
    }
    if (moved) {
      EXPECT_FALSE(base::PathExists(Path(row.source)));
      for (const auto& [name, bytes] : row.copied)
        EXPECT_EQ(bytes, read_other(name.empty() ? std::wstring(row.destination) : row.destination + (L"\\" + name)));
    }
    if (row.held == kCopy)
      holder.reset(hold(destination));
    if (row.commit) {
      DeleteOperations(&transaction);
      for (const auto& [path, entry] : sandbox_.Capture().entries)
        EXPECT_FALSE(path.starts_with(row.source)) << std::string(path.begin(), path.end());
      for (const auto& [name, bytes] : row.copied)
        EXPECT_EQ(bytes, read_other(row.destination + (L"\\" + name)));
    } else {
      RollbackOperations(&transaction);
      holder.reset();
      EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));
      if (!row.held && !row.earlier) {
        EXPECT_FALSE(base::PathExists(other));
      }
    }
    ASSERT_TRUE(base::DeleteFile(other, true));
  }
}

// What a test does to the copy that a move to another volume made, before the move compares it with the source.
std::function<void(const base::FilePath& copy)> g_change_copy;
bool ChangeCopy(const Operation*, const std::wstring& target) {
  const std::wstring suffix = L"|copied";
  if (g_change_copy && target.ends_with(suffix))
    g_change_copy(base::FilePath(target.substr(0, target.size() - suffix.size())));
  return false;
}

// A copy on the other volume that differs from its source in any way fails the move: one byte at either end of the
// compared chunks or of the file, its length, a file or folder missing from it or added to it. The source stays
// whole in its place, and the file the move would have replaced is back.
TEST_F(FileOperationsTest, MovesAcrossVolumesRefuseACopyThatDiffers) {
  const base::FilePath other = OnSecondDrive(L"tx_compare");
  if (other.empty())
    GTEST_SKIP() << "the setup maps no second drive";
  std::string bytes(3 * 65536 + 5, '\0');
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 7 + i / 251);
  Write(L"big\\file.bin", bytes);
  ASSERT_TRUE(base::CreateDirectory(Path(L"nest\\empty")));
  const auto flip = [](int64_t offset) {
    return [offset](const base::FilePath& copy) {
      std::string changed;
      ASSERT_TRUE(base::ReadFileToString(copy, &changed));
      const size_t at = offset < 0 ? changed.size() - 1 : static_cast<size_t>(offset);
      changed[at] = static_cast<char>(changed[at] ^ 0x20);
      ASSERT_TRUE(test_support::WriteFileBytes(copy.value(), changed));
    };
  };
  const auto resize = [](int by) {
    return [by](const base::FilePath& copy) {
      std::string changed;
      ASSERT_TRUE(base::ReadFileToString(copy, &changed));
      changed.resize(changed.size() + by, 'x');
      ASSERT_TRUE(test_support::WriteFileBytes(copy.value(), changed));
    };
  };
  const struct {
    const char* name;
    const wchar_t* source;
    std::function<void(const base::FilePath& copy)> change;
  } kRows[] = {
      {"the first byte", L"big\\file.bin", flip(0)},
      {"the 65,535th byte", L"big\\file.bin", flip(65534)},
      {"the 65,536th byte", L"big\\file.bin", flip(65535)},
      {"the 65,537th byte", L"big\\file.bin", flip(65536)},
      {"the last byte", L"big\\file.bin", flip(-1)},
      {"one byte more", L"big\\file.bin", resize(1)},
      {"one byte less", L"big\\file.bin", resize(-1)},
      {"a file missing", L"nest", [](const base::FilePath& copy) {
         ASSERT_TRUE(DeleteFileW(copy.Append(L"one\\two\\leaf.txt").value().c_str()));
       }},
      {"a folder missing", L"nest", [](const base::FilePath& copy) {
         ASSERT_TRUE(RemoveDirectoryW(copy.Append(L"empty").value().c_str()));
       }},
      {"a file added", L"nest", [](const base::FilePath& copy) {
         ASSERT_TRUE(test_support::WriteFileBytes(copy.Append(L"one\\added.txt").value(), "added"));
       }},
      {"a folder added", L"nest", [](const base::FilePath& copy) {
         ASSERT_TRUE(CreateDirectoryW(copy.Append(L"one\\two\\added").value().c_str(), nullptr));
       }},
      {"a file in a folder's place", L"nest", [](const base::FilePath& copy) {
         ASSERT_TRUE(RemoveDirectoryW(copy.Append(L"empty").value().c_str()));
         ASSERT_TRUE(test_support::WriteFileBytes(copy.Append(L"empty").value(), ""));
       }},
  };
  SetOperationFaultHookForTesting(&ChangeCopy);
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    const bool is_file = std::wstring(row.source).ends_with(L".bin");
    ASSERT_TRUE(base::CreateDirectory(other));
    const base::FilePath destination = other.Append(L"destination");
    if (is_file) {
      ASSERT_TRUE(test_support::WriteFileBytes(destination.value(), "earlier"));
    }
    const test::MachineState before = sandbox_.Capture();
    bool changed = false;
    g_change_copy = [&](const base::FilePath& copy) {
      changed = true;
      row.change(copy);
    };
    OperationList transaction;
    EXPECT_FALSE(ExecuteOperation(&transaction, std::make_unique<MoveFileOperation>(Path(row.source), destination)));
    g_change_copy = nullptr;
    EXPECT_TRUE(changed);
    EXPECT_TRUE(transaction.empty());
    EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));
    std::string left;
    EXPECT_EQ(is_file, base::ReadFileToString(destination, &left));
    EXPECT_EQ(is_file ? "earlier" : "", left);
    if (!is_file) {
      EXPECT_FALSE(base::PathExists(destination));
    }
    ASSERT_TRUE(base::DeleteFile(other, true));
  }
  SetOperationFaultHookForTesting(nullptr);
}

// The installation's subfolder that a user swaps for a link to a folder outside (the setup's Linux symbolic link,
// which wine shows as a reparse point) at the moment the deletion sets its file aside, between that and the
// commit, or before the deletion starts, when the link itself is not deleted either: the deletion never reaches
// through the link, and what lies outside stays byte for byte as it was (testdata_check.sh compares it with
// sha256sum).
base::FilePath g_swap_row;
bool g_swapped = false;
bool SwapForLink() {
  const bool aside = MoveFileExW(g_swap_row.Append(L"install\\V\\sub").value().c_str(),
                                 g_swap_row.Append(L"sub.real").value().c_str(), 0);
  g_swapped = aside && MoveFileExW(g_swap_row.Append(L"standby").value().c_str(),
                                   g_swap_row.Append(L"install\\V\\sub").value().c_str(), 0);
  return g_swapped;
}
bool SwapAtSetAside(const Operation*, const std::wstring& target) {
  if (target == g_swap_row.Append(L"install\\V\\sub\\file.dll").value())
    SwapForLink();
  return false;
}

TEST_F(FileOperationsTest, InstallationSubfolderSwappedForALinkLeadsNowhere) {
  const std::wstring data = test_support::TestDataDir();
  if (data.empty() || !base::DirectoryExists(base::FilePath(data).Append(L"swap\\outside")))
    GTEST_SKIP() << "no swap rows: the setup script did not run";
  const base::FilePath swap = base::FilePath(data).Append(L"swap");
  const std::string outside = ReadOrMissing(swap.Append(L"outside\\file.dll"));
  ASSERT_NE("(missing)", outside);
  enum When { kAtSetAside, kBeforeCommit, kBefore };
  const struct {
    const wchar_t* row;
    When when;
  } kRows[] = {{L"at_set_aside", kAtSetAside}, {L"before_commit", kBeforeCommit}, {L"linked", kBefore}};
  SetOperationFaultHookForTesting(&SwapAtSetAside);
  for (const auto& row : kRows) {
    SCOPED_TRACE(std::string(row.row, row.row + wcslen(row.row)));
    g_swap_row = swap.Append(row.row);
    g_swapped = false;
    const base::FilePath install = g_swap_row.Append(L"install");
    OperationList transaction;
    for (const wchar_t* file : {L"V\\sub\\file.dll", L"V\\sub\\other.txt"}) {
      const bool done = ExecuteOperation(
          &transaction, std::make_unique<DeleteFileOperation>(install.Append(file), true, install));
      EXPECT_EQ(row.when != kBefore, done);
    }
    // The link itself is no entry of the installation: it stays, and so does what it leads to.
    if (row.when == kBefore) {
      EXPECT_FALSE(ExecuteOperation(
          &transaction, std::make_unique<DeleteFileOperation>(install.Append(L"V\\sub"), false, install)));
    }
    if (row.when == kBeforeCommit)
      SwapForLink();
    DeleteOperations(&transaction);
    EXPECT_FALSE(g_swapped) << "the subfolder was swapped";
    // The installation's files went, and their emptied folders below the installation with them.
    if (row.when != kBefore) {
      EXPECT_FALSE(base::PathExists(install.Append(L"V")));
      EXPECT_TRUE(base::DirectoryExists(install));
    }
    EXPECT_EQ(outside, ReadOrMissing(swap.Append(L"outside\\file.dll")));
    EXPECT_EQ("precious text", ReadOrMissing(swap.Append(L"outside\\other.txt")));
  }
  SetOperationFaultHookForTesting(nullptr);

  ASSERT_TRUE(test_support::WriteFileBytes(data + L"\\swap_done", "swapped"));
}

}  // namespace
}  // namespace zorvi::installer
