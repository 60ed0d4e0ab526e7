#include "desktop/launcher/installer/roles/download_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/package_fetcher/package_claim.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

// The places ChooseDownloadFolder tries, in its order.
enum Place { kTemp, kDownloads, kHome, kExe, kNowhere };

// What the launch seam was asked (the folders the copy was to start from) and which folders it refuses.
std::vector<base::FilePath> g_asked;
std::vector<base::FilePath> g_refused;

// A program someone tries to put in the copy's place just before it starts, and the error that attempt met.
base::FilePath g_planted;
DWORD g_planting_error = 0;

bool RefuseListedFolders(const base::FilePath& program) {
  g_asked.push_back(program.DirName());
  if (!g_planted.empty())
    g_planting_error = CopyFileW(g_planted.value().c_str(), program.value().c_str(), FALSE) ? 0 : GetLastError();
  return std::find(g_refused.begin(), g_refused.end(), program.DirName()) != g_refused.end();
}

class DownloadFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const base::FilePath root(folder_.path());
    // The user's real Downloads folder (as the shell names it), with a subfolder no other test uses.
    places_ = {root.Append(L"temp"), base::FilePath(test::EchoVariable(L"USERPROFILE")).Append(L"Downloads"),
               root.Append(L"home"), root.Append(L"exe")};
    for (int key : {base::kTempDir, base::kHomeDir, base::kExeDir}) {
      const Place place = key == base::kTempDir ? kTemp : key == base::kHomeDir ? kHome : kExe;
      ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(key, places_[place], true, true));
    }
    SetLaunchRefusalHookForTesting(&RefuseListedFolders);
  }

  void TearDown() override {
    SetLaunchRefusalHookForTesting(nullptr);
    test_support::RemoveTree(Subfolder(kDownloads).value());
  }

  base::FilePath Subfolder(Place place) const { return places_[place].Append(name_); }

  // Empties every place.
  void Reset() {
    for (int place = kTemp; place < kNowhere; ++place)
      ASSERT_TRUE(test_support::RemoveTree(Subfolder(static_cast<Place>(place)).value()));
    g_asked.clear();
    g_refused.clear();
    g_planted.clear();
  }

  test_support::ScopedTestFolder folder_{L"Downloads"};
  const std::wstring name_ = test_support::UniqueName(L"Installer");
  std::vector<base::FilePath> places_;
};

TEST_F(DownloadFolderTest, FirstPlaceWhereTheInstallerCanRunWins) {
  const base::FilePath executable = test::TestProgram(L"installer.exe");
  const struct {
    const char* what;
    std::vector<Place> refused;
    Place file_in_the_way;    // a file where the subfolder goes
    Place existing_subfolder;  // holding a file of an earlier run
    Place chosen;              // kNowhere: no place at all
    std::vector<Place> asked;
    bool with_executable = true;
    bool planted = false;  // a recording program put in the copy's place just before it starts
  } cases[] = {
      {"the temporary folder", {}, kNowhere, kNowhere, kTemp, {kTemp}},
      {"a file in the way", {}, kTemp, kNowhere, kDownloads, {kDownloads}},
      {"running refused", {kTemp}, kNowhere, kNowhere, kDownloads, {kTemp, kDownloads}},
      {"refused but for the own folder", {kTemp, kDownloads, kHome}, kNowhere, kNowhere, kExe,
       {kTemp, kDownloads, kHome, kExe}},
      {"refused everywhere", {kTemp, kDownloads, kHome, kExe}, kNowhere, kNowhere, kNowhere,
       {kTemp, kDownloads, kHome, kExe}},
      {"an existing subfolder is reused", {}, kNowhere, kTemp, kTemp, {kTemp}},
      {"a refused subfolder that holds files stays", {kTemp}, kNowhere, kTemp, kDownloads, {kTemp, kDownloads}},
      // The log file's folder is only created, never tested: nothing is started there.
      {"without an executable", {kTemp}, kNowhere, kNowhere, kTemp, {}, false},
      // The copy is held until it has run: nothing can take its place.
      {"a program put in the copy's place", {}, kNowhere, kNowhere, kTemp, {kTemp}, true, true},
  };
  // The recording program notes each start in the current folder.
  const test_support::ScopedCurrentFolder current(folder_.path());
  const base::FilePath starts = base::FilePath(folder_.path()).Append(L"handovers.txt");
  for (const auto& choice : cases) {
    SCOPED_TRACE(choice.what);
    Reset();
    for (Place place : choice.refused)
      g_refused.push_back(Subfolder(place));
    if (choice.file_in_the_way != kNowhere) {
      ASSERT_TRUE(test_support::WriteFileBytes(Subfolder(choice.file_in_the_way).value(), "in the way"));
    }
    const base::FilePath earlier_file =
        choice.existing_subfolder == kNowhere ? base::FilePath() : Subfolder(choice.existing_subfolder).Append(L"f");
    if (!earlier_file.empty()) {
      ASSERT_TRUE(base::CreateDirectory(earlier_file.DirName()));
      ASSERT_TRUE(test_support::WriteFileBytes(earlier_file.value(), "earlier"));
    }

    if (choice.planted)
      g_planted = test::TestProgram(L"handover_recorder_test_child.exe");
    base::FilePath folder;
    EXPECT_EQ(choice.chosen != kNowhere,
              ChooseDownloadFolder(name_, choice.with_executable ? executable : base::FilePath(), &folder));
    if (choice.chosen != kNowhere) {
      EXPECT_EQ(Subfolder(choice.chosen).value(), folder.value());
      EXPECT_TRUE(base::DirectoryExists(folder));
    }
    std::vector<base::FilePath> asked;
    for (Place place : choice.asked)
      asked.push_back(Subfolder(place));
    EXPECT_EQ(asked, g_asked);
    for (int place = kTemp; place < kNowhere; ++place) {
      const base::FilePath subfolder = Subfolder(static_cast<Place>(place));
      EXPECT_FALSE(base::PathExists(subfolder.Append(L"installer.exe"))) << "copy left in " << subfolder.value();
      // A refused folder is removed unless something else is in it.
      if (std::count(choice.refused.begin(), choice.refused.end(), place) && subfolder != earlier_file.DirName() &&
          place != choice.chosen) {
        EXPECT_FALSE(base::PathExists(subfolder)) << subfolder.value();
      }
    }
    if (!earlier_file.empty()) {
      EXPECT_TRUE(base::PathExists(earlier_file));
    }
    if (choice.file_in_the_way != kNowhere) {
      EXPECT_FALSE(base::DirectoryExists(Subfolder(choice.file_in_the_way)));
    }
    if (choice.planted) {
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_planting_error);
    }
    EXPECT_FALSE(base::PathExists(starts)) << "a program put in the copy's place ran";
  }
  // Parents of the folder are created too.
  base::FilePath folder = Subfolder(kHome).Append(L"a");
  ASSERT_TRUE(TryDownloadFolder(L"b", base::FilePath(), &folder));
  EXPECT_TRUE(base::DirectoryExists(Subfolder(kHome).Append(L"a").Append(L"b")));
}

// A run's claim keeps its package files from other runs' clean-up for as long as it is held; once it is let go
// (the handle's close deletes it) the next clean-up removes them all, and nothing of other names.
TEST_F(DownloadFolderTest, ClaimedPackagesStayUntilTheirClaimIsLetGo) {
  const base::FilePath folder = Subfolder(kTemp);
  ASSERT_TRUE(base::CreateDirectory(folder));
  const base::FilePath held = folder.Append(MakePackageName());
  const base::FilePath let_go = folder.Append(MakePackageName());
  ASSERT_NE(held.value(), let_go.value());
  base::win::ScopedHandle held_claim = ClaimPackage(held);
  base::win::ScopedHandle let_go_claim = ClaimPackage(let_go);
  ASSERT_TRUE(held_claim.IsValid() && let_go_claim.IsValid());
  const std::vector<std::wstring> package_files = {L".exe", L".7z", L".partner.tmp", L"\\files_list"};
  for (const base::FilePath& package : {held, let_go}) {
    ASSERT_TRUE(base::CreateDirectory(package));
    for (const std::wstring& file : package_files)
      ASSERT_TRUE(test_support::WriteFileBytes(package.value() + file, "p"));
  }
  const base::FilePath other = folder.Append(L"zorvi_installer_20200102030405.log");
  ASSERT_TRUE(test_support::WriteFileBytes(other.value(), "log"));
  // A clean-up, then which packages' files are still there; the file of another name always is.
  const auto clean_up_leaves = [&](bool held_left, bool let_go_left) {
    RemoveAbandonedPackages(folder);
    for (const auto& [package, left] : {std::pair(held, held_left), std::pair(let_go, let_go_left)}) {
      EXPECT_EQ(left, base::PathExists(package)) << package.value();
      for (const std::wstring& file : package_files)
        EXPECT_EQ(left, base::PathExists(base::FilePath(package.value() + file))) << package.value() << file;
    }
    EXPECT_TRUE(base::PathExists(other));
  };
  clean_up_leaves(true, true);
  let_go_claim.Close();
  EXPECT_FALSE(base::PathExists(let_go.AddExtension(L".lock")));
  clean_up_leaves(true, false);
  held_claim.Close();
  clean_up_leaves(false, false);
}

}  // namespace
}  // namespace zorvi::installer
