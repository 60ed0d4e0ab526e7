// The interactive installer end to end: a package's own installer.exe (with the test build of the library), or a
// copy of it alone in a folder (a network installer, which fetches its package), run as the user starts it, its
// window worked by the window driver (window_driver_test_child) on the suite's display, the loopback server
// standing in for the update service (its log the outside view of every request), and the installed tree compared
// with the package (for the network installer as 7zz extracted it, testdata_setup.sh).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/installer_host_test_util.h"
#include "desktop/launcher/installer/installer_package_test_util.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"
#include "testing/installer/installer_test_seams_from_environment.h"
#include "testing/loopback_server.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"
#include "testing/installer/window_driver.h"

namespace zorvi::installer::test {
namespace {

using test_support::DriverReport;
using test_support::LoggedRequest;
using test_support::RequestsTo;

constexpr char kAddressPath[] = "/base/netinstaller/nightly";
constexpr char kProductName[] = "Zorvi";  // the branding's, which the full-package page's address names

// Driver actions that press a button as a click would (see the driver's "command").
std::wstring Press(int id) {
  return L" command=" + std::to_wstring(id) + L" ";
}

// What a run left: its exit code, the statistics it posted (as the server received them) and the server's log.
struct RunEnd {
  DWORD exit_code = STILL_ACTIVE;
  base::DictionaryValue stats;
  std::vector<std::string> pages;  // "ui.page_sequence"'s page types
  std::vector<LoggedRequest> log;

  int Integer(const std::string& path) const {
    int value = -1;
    stats.GetInteger(path, &value);
    return value;
  }
};

class InstallerUIEndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::CreateDirectory(temp_));
    package_ = std::make_unique<PackageFixture>(root_.Append(L"download"), company_);
  }

  // The loopback server with `faults`, serving the network installer's package, as the update service of the
  // product's branding; its full-package page is `full_package_page`.
  void StartService(const std::string& faults = "", const std::string& full_package_page = "") {
    std::string error;
    ASSERT_TRUE(server_.Start(network_.Append(L"www").value(), faults, &error)) << error;
    branding_ = root_.Append(L"branding_ui.json");
    ASSERT_TRUE(test_support::WriteFileBytes(
        branding_.value(), R"({"company_name": ")" + company_ + R"(", "product_name": ")" + kProductName +
                               R"(", "visible_product_name": "Zorvi", "file_name_base": "zorvi", )"
                               R"("user_agent_name": "ZRV", "urls": {"autoupdate": ")" +
                               base::WideToUTF8(server_.Url("/base/", "localhost")) +
                               R"(", "download_full_windows": ")" + full_package_page + R"("}})"));
  }

  // Starts `program` (by default the package's installer) as the user's shell does. Without the overrides fetch
  // the package is complete before the backend starts; a failed download is resumed after 3 s; the shortcuts go
  // below the test's folder; its window sets an event of this start's own once shown (see WaitForWindow).
  // `extra_seams` (each after a ';') are further test seams of every process of the run.
  std::unique_ptr<test_support::WindowProgram> Start(const base::FilePath& program = base::FilePath(),
                                                     const std::wstring& extra_seams = L"",
                                                     const std::wstring& extra_switches = L"") {
    if (!server_.port())
      StartService();
    const base::FilePath exe = program.empty() ? package_->folder().Append(L"installer.exe") : program;
    const std::wstring shown_name = test_support::UniqueName(L"ui_e2e_shown" + std::to_wstring(shown_.size()));
    base::win::ScopedHandle shown(CreateEventW(nullptr, TRUE, FALSE, shown_name.c_str()));
    EXPECT_TRUE(shown.IsValid());
    auto started = std::make_unique<test_support::WindowProgram>(
        L"\"" + exe.value() + L"\" --installfolder=\"" + install_.value() +
            L"\" --with-feature:installer-ui-stats=on --with-feature:installer-pref-default-overrides-support=off "
            L"--v=2" + extra_switches,
        std::wstring(),
        EnvironmentWith({{L"TEMP", temp_.value()},
                         {L"TMP", temp_.value()},
                         {test_support::kInstallerTestSeamsVariable,
                          L"download-retry-delay=3000;shortcut-folders=" + root_.Append(L"shortcuts").value() +
                              L";branding-file=" + branding_.value() + L";window-shown-event=" + shown_name +
                              extra_seams}}),
        exe.DirName().value());
    shown_[started.get()] = std::move(shown);
    return started;
  }

  // The started program's window once it is shown. Not its first wait for input: under wine that can come before
  // the window exists (a fresh prefix's first start waits for wine's desktop process).
  HWND WaitForWindow(test_support::WindowProgram* program) { return program->WaitForWindow(shown_[program].Get()); }

  // A copy of the package's host and library alone in a folder, so with no package beside it: it fetches the
  // package. Wine reports `version` to it when given.
  base::FilePath LoneInstaller(const wchar_t* version = nullptr) {
    const std::wstring name = test_support::UniqueName(L"installer_alone") + L".exe";
    const base::FilePath folder = root_.Append(L"alone");
    EXPECT_TRUE(base::CreateDirectory(folder));
    EXPECT_TRUE(CopyFileW(package_->folder().Append(L"installer.exe").value().c_str(),
                          folder.Append(name).value().c_str(), FALSE));
    EXPECT_TRUE(CopyFileW(package_->folder().Append(L"zorvi.dll").value().c_str(),
                          folder.Append(L"zorvi.dll").value().c_str(), FALSE));
    if (version)
      SetKeyValue(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\" + name, L"", L"Version", version);
    return folder.Append(name);
  }

  // Sets a text value of `key` + `subkey`; `key` goes when the test ends.
  void SetKeyValue(HKEY root, const std::wstring& key, const std::wstring& subkey, const wchar_t* name,
                   const std::wstring& value) {
    keys_.emplace_back(root, key);
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(root, (key + subkey).c_str(), name, REG_SZ, value.c_str(),
                                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
  }
  void TearDown() override {
    for (const auto& [root, key] : keys_)
      RegDeleteTreeW(root, key.c_str());
  }

  // Waits for the run's end; what it left.
  std::unique_ptr<RunEnd> Finish(test_support::WindowProgram* installer) {
    auto end = std::make_unique<RunEnd>();
    end->exit_code = installer->Wait();
    end->log = server_.StopAndReadLog();
    const std::vector<LoggedRequest> posts = RequestsTo(end->log, "/base/netinstaller/feedback");
    EXPECT_EQ(1u, posts.size()) << Logs();
    std::string body;
    std::unique_ptr<base::Value> value;
    base::DictionaryValue* dictionary = nullptr;
    if (posts.size() == 1 && server_.ReadBody(posts[0], &body) && (value = base::JsonReader::Read(body)) &&
        value->GetAsDictionary(&dictionary))
      end->stats.Swap(dictionary);
    end->pages = test_support::PageSequence(end->stats, "ui.page_sequence", false);
    return end;
  }

  // Every file of the package's list installed as `package` holds it.
  void ExpectInstalled(const base::FilePath& package) {
    const std::map<std::string, std::string> files = ReadTree(package);
    const std::map<std::string, std::string> installed =
        ReadTree(install_.Append(base::UTF8ToWide(GetFullVersionString())));
    std::string list;
    ASSERT_TRUE(base::ReadFileToString(package.Append(L"files_list"), &list));
    for (const std::string& file : base::SplitString(list, "\r\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      ASSERT_TRUE(files.count(file)) << file;
      EXPECT_EQ(files.at(file), installed.count(file) ? installed.at(file) : "<missing>") << file;
    }
  }

  // The installers' logs, for failure messages.
  std::string Logs() const {
    std::string text;
    base::FileEnumerator logs(temp_.Append(L"Zorvi Installer"), false, base::FileEnumerator::FILES, L"*.log");
    for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next()) {
      std::string one;
      base::ReadFileToString(log, &one);
      text += "==== " + base::WideToUTF8(log.BaseName().value()) + "\n" + one;
    }
    return text;
  }

  test_support::ScopedTestFolder folder_{L"ui_e2e"};
  const base::FilePath root_{folder_.path()};
  const base::FilePath install_ = root_.Append(L"Zorvi");
  const base::FilePath temp_ = root_.Append(L"temp");
  const base::FilePath network_ = base::FilePath(test_support::TestDataDir()).Append(L"network");
  const std::string company_ = base::WideToUTF8(test_support::UniqueName(L"ZorviUI"));
  const test_support::StringOracle oracle_;
  base::FilePath branding_;
  std::vector<std::pair<HKEY, std::wstring>> keys_;
  std::map<const test_support::WindowProgram*, base::win::ScopedHandle> shown_;  // each start's shown event
  std::unique_ptr<PackageFixture> package_;
  test_support::LoopbackServer server_;
};

// The update service's answer naming the network package, with `checksum` (sha256sum's, by default).
std::string AddressReply(std::string checksum = "") {
  if (checksum.empty())
    checksum = test_support::Sha256SumOf(test_support::TestDataDir() + L"\\network\\sha256.txt", "full.exe");
  return R"({"body": "{\"installer\": \"http://localhost:{port}/full.exe\", \"installer_checksum\": \")" + checksum +
         R"(\"}", "times": "all"})";
}

// Accepted on the welcome page, the installer installs the package: the package's own from beside it, the network
// installer once it has downloaded it (a truncated answer resumed after three 503s), accepted during the download
// (within the 9 s of injected retry delays), so that its bar starts in the download phase. Both end with exit code
// 0, every file of the package in the version's folder, and statistics of success. The network installer also
// installs for all users as an administrator under UAC, which it becomes with the user's consent: the elevated run
// waits for the package and hands over to the package's installer, and so does the user's run afterwards. The
// network installer's runs meet another process of the user that tries to put a program of its own in place of
// each checked package file at the moment it is about to be used (the downloaded package, its archive, the
// package's installer each hand-over starts, the installer's own file as the runner or the backend starts it
// again): each attempt is refused, and what is installed is what 7-Zip extracts from the package.
enum AcceptedRun { kPackagesOwnInstaller, kNetworkInstaller, kNetworkInstallerForAllUsers };
class AcceptedRunTest : public InstallerUIEndToEndTest, public testing::WithParamInterface<AcceptedRun> {};

TEST_P(AcceptedRunTest, InstallsThePackage) {
  const bool network = GetParam() != kPackagesOwnInstaller;
  const bool all_users = GetParam() == kNetworkInstallerForAllUsers;
  if (network) {
    ASSERT_NO_FATAL_FAILURE(StartService(std::string("{\"") + kAddressPath + "\": [" + AddressReply() +
                                         R"(], "/full.exe": [{"truncate": 300000}, {"status": 503, "times": 3}]})"));
  }
  const base::FilePath replacements = root_.Append(L"replacements");
  ASSERT_TRUE(base::CreateDirectory(replacements));
  ASSERT_TRUE(base::CopyFile(TestProgram(L"folder_permission_test_child.exe"), replacements.Append(L"replacement.exe")));
  const base::TimeTicks start = base::TimeTicks::Now();
  const std::unique_ptr<test_support::WindowProgram> installer =
      network ? Start(LoneInstaller(),
                      L";replace-package-files=" + replacements.value() +
                          (all_users ? L";admin-token=split;elevation=consent" : L""),
                      all_users ? L" --allusers=1" : L"")
              : Start();
  const HWND window = WaitForWindow(installer.get());
  ASSERT_TRUE(window) << Logs();
  const base::TimeTicks shown = base::TimeTicks::Now();
  for (int request = 0; network && request < 2; ++request) {  // the download's second answer is a 503
    ASSERT_TRUE(server_.WaitForRequest("/full.exe", 90000));
  }
  const DriverReport progress = test_support::DriveWindow(window, Press(IDC_ACCEPT_BUTTON) + L"read");
  const std::unique_ptr<RunEnd> end = Finish(installer.get());
  EXPECT_EQ(0u, end->exit_code) << Logs();
  // The closing note's figures: start to the first window waiting for the user, accept to the process's end.
  std::printf("first window after %lld ms; accept to exit %lld ms\n",
              static_cast<long long>((shown - start).InMilliseconds()),
              static_cast<long long>((base::TimeTicks::Now() - shown).InMilliseconds()));
  EXPECT_EQ(1, end->Integer("installation_success"));
  EXPECT_EQ(-1, end->Integer("installation_cancelled"));
  EXPECT_FALSE(end->stats.Get("failure_reason", nullptr));
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "PROGRESS"}), end->pages);
  ExpectInstalled(network ? network_.Append(L"unpacked") : package_->folder());
  // The bar's range starts where the run stood at the accept and ends full.
  const std::vector<int> range = progress.Integers(IDC_PROGRESS_BAR, "range");
  ASSERT_EQ(2u, range.size()) << progress.output;
  EXPECT_EQ(1 + 1000 + 200 + 1 + 1 + 100, range[1]);
  if (network) {
    std::string attempts;
    EXPECT_TRUE(base::ReadFileToString(replacements.Append(L"attempts.txt"), &attempts));
    std::vector<std::string> used;
    // The installer's own file as the runner starts it again (while the download may still run) and, for all
    // users, as the backend started from it starts it elevated.
    int own_uses = 0;
    for (const std::string& line : base::SplitString(attempts, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      const std::vector<std::string> fields = base::SplitString(line, "\t", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
      ASSERT_EQ(3u, fields.size()) << line;
      const base::FilePath file(base::UTF8ToWide(fields[0]));
      EXPECT_EQ(std::to_string(ERROR_SHARING_VIOLATION), fields[1]) << line;
      EXPECT_EQ(std::to_string(ERROR_SHARING_VIOLATION), fields[2]) << line;
      if (file.DirName().BaseName().value() == L"alone") {
        ++own_uses;
        continue;
      }
      used.push_back(file.BaseName().value() == L"installer.exe" ? "installer" : file.Extension() == L".7z" ? "archive"
                                                                                                         : "package");
    }
    EXPECT_EQ(all_users ? 2 : 1, own_uses) << attempts;
    std::vector<std::string> expected_uses = {"package", "archive", "installer"};
    if (all_users)
      expected_uses.push_back("installer");  // the elevated run's hand-over, then the user's
    EXPECT_EQ(expected_uses, used) << attempts;
    EXPECT_LT(range[0], 1 + 1000) << "accepted before the download ended";
    EXPECT_EQ(1u, RequestsTo(end->log, kAddressPath).size());
    const std::vector<LoggedRequest> downloads = RequestsTo(end->log, "/full.exe");
    ASSERT_EQ(5u, downloads.size());
    EXPECT_FALSE(downloads[0].complete) << "truncated";
    for (size_t resumed : {1, 2, 3, 4}) {
      EXPECT_EQ(resumed < 4 ? 503 : 206, downloads[resumed].status);
      EXPECT_EQ("bytes=" + std::to_string(downloads[0].bytes_sent) + "-", downloads[resumed].Header("Range"));
    }
  }
}

std::string AcceptedRunName(const testing::TestParamInfo<AcceptedRun>& info) {
  const char* const kNames[] = {"PackagesOwnInstaller", "NetworkInstaller", "NetworkInstallerForAllUsers"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(InstallerUIEndToEndTest, AcceptedRunTest,
                         testing::Values(kPackagesOwnInstaller, kNetworkInstaller, kNetworkInstallerForAllUsers),
                         AcceptedRunName);

// A root file that cannot be replaced (held open where the package's goes) fails the copy: once the backend has
// ended, the error page names the file and offers no full package (the package is at hand); with the file
// let go, Retry installs, and the statistics show both visits of the progress page and no failure.
TEST_F(InstallerUIEndToEndTest, CopyFailureIsShownAndRetryInstallsOnceItIsFixed) {
  const base::FilePath blocked = install_.Append(base::UTF8ToWide(package_->root_files()[0]));
  ASSERT_TRUE(base::CreateDirectory(install_));
  ASSERT_TRUE(test_support::WriteFileBytes(blocked.value(), "an earlier file"));
  // Held open without sharing, as a running program holds its files.
  base::win::ScopedHandle holder(
      CreateFileW(blocked.value().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder.IsValid());
  const std::unique_ptr<test_support::WindowProgram> installer = Start();
  const HWND window = WaitForWindow(installer.get());
  ASSERT_TRUE(window) << Logs();
  const DriverReport error_page =
      test_support::DriveWindow(window, Press(IDC_ACCEPT_BUTTON) + L"wait-shown=1005 read");
  EXPECT_NE(std::string::npos, error_page.Text(IDC_STATUS_TEXT).find(base::WideToUTF8(blocked.value())))
      << error_page.output;
  EXPECT_EQ(0, error_page.Integer(IDC_FULL_PACKAGE_BUTTON, "visible"));
  holder.Close();
  std::string earlier;
  EXPECT_TRUE(base::ReadFileToString(blocked, &earlier));
  EXPECT_EQ("an earlier file", earlier) << "the failed run was rolled back";

  test_support::DriveWindow(window, Press(IDC_RETRY_BUTTON));
  const std::unique_ptr<RunEnd> end = Finish(installer.get());
  EXPECT_EQ(0u, end->exit_code) << Logs();
  EXPECT_EQ(1, end->Integer("installation_success"));
  EXPECT_FALSE(end->stats.Get("failure_reason", nullptr));
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "PROGRESS", "ERROR", "PROGRESS"}), end->pages);
  EXPECT_EQ(ReadTree(package_->folder()).at(package_->root_files()[0]),
            ReadTree(install_).at(package_->root_files()[0]));
}

// On Windows Vista (wine's version for a lone copy of the installer, which so fetches its package) the accept
// shows the error page that sends the user to the full package, and the run can then only be closed.
TEST_F(InstallerUIEndToEndTest, BeforeWindows7AcceptOffersOnlyTheFullPackage) {
  const std::unique_ptr<test_support::WindowProgram> installer = Start(LoneInstaller(L"vista"));
  const HWND window = WaitForWindow(installer.get());
  ASSERT_TRUE(window) << Logs();
  const DriverReport error_page = test_support::DriveWindow(window, Press(IDC_ACCEPT_BUTTON) + L"read");
  const std::string offer = error_page.Text(IDC_FULL_PACKAGE_BUTTON);
  EXPECT_EQ(1, error_page.Integer(IDC_FULL_PACKAGE_BUTTON, "visible"));
  EXPECT_FALSE(offer.empty());
  EXPECT_NE(std::string::npos, error_page.Text(IDC_STATUS_TEXT).find(offer)) << "the text names the button";
  test_support::DriveWindow(window, L"close box=" + std::to_wstring(IDYES));
  const std::unique_ptr<RunEnd> end = Finish(installer.get());
  EXPECT_NE(0u, end->exit_code) << Logs();
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "ERROR"}), end->pages);
  EXPECT_EQ(1, end->Integer("installation_cancelled"));
  EXPECT_FALSE(base::PathExists(install_)) << "nothing was installed";
}

// A second interactive installer of the session gives way to the first (whose lock file names its window's
// thread), and the first, closed and confirmed, ends as cancelled.
TEST_F(InstallerUIEndToEndTest, SecondInstanceGivesWayAndClosingCancels) {
  const std::unique_ptr<test_support::WindowProgram> first = Start();
  const HWND window = WaitForWindow(first.get());
  ASSERT_TRUE(window);
  const std::unique_ptr<test_support::WindowProgram> second = Start();
  EXPECT_NE(0u, second->Wait());
  EXPECT_EQ(0, second->DialogCount()) << "the second instance showed no window";
  const base::FilePath lock = temp_.Append(L"Zorvi Installer").Append(L"installer.lck");
  base::win::ScopedHandle file(CreateFileW(lock.value().c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  DWORD owner = 0;
  DWORD read = 0;
  EXPECT_TRUE(file.IsValid() && ReadFile(file.Get(), &owner, sizeof(owner), &read, nullptr));
  file.Close();
  EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), owner);

  test_support::DriveWindow(window, L"close box=" + std::to_wstring(IDYES));
  const std::unique_ptr<RunEnd> end = Finish(first.get());
  EXPECT_NE(0u, end->exit_code);
  EXPECT_EQ(1, end->Integer("installation_cancelled"));
  EXPECT_EQ(0, end->Integer("installation_success"));
  EXPECT_EQ(std::vector<std::string>{"WELCOME"}, end->pages);
  EXPECT_FALSE(base::PathExists(lock));
}

// A network installer whose package never matches its checksum: the accept's fetch fails into the error page of
// a failed download once the backend has ended, without the full package (a first error never offers it) and
// without fetching again by itself; Retry fetches once more and its failure offers the full package, whose button
// opens the branding's page with the product named (through the page's scheme, whose recording handler the test
// registers) and ends the run.
TEST_F(InstallerUIEndToEndTest, NetworkFetchFailuresEndInTheFullPackagePage) {
  const std::wstring scheme = L"zorvitest-" + std::to_wstring(GetCurrentProcessId());
  const std::string page = base::WideToUTF8(scheme) + "://download/full?from=installer";
  ASSERT_NO_FATAL_FAILURE(StartService(std::string("{\"") + kAddressPath + "\": [" +
                                           AddressReply(std::string(64, '0')) + "]}",
                                       page));
  // Wine's shell finds URL handlers among the machine's classes only, and none whose command has 260 characters
  // or more: the names are short (and unique to this process).
  const std::wstring key = L"Software\\Classes\\" + scheme;
  const std::wstring opened_name = L"zorvi_page_" + std::to_wstring(GetCurrentProcessId());
  base::win::ScopedHandle opened(CreateEventW(nullptr, TRUE, FALSE, opened_name.c_str()));
  wchar_t temp[MAX_PATH] = {};
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const std::wstring record = temp + opened_name + L".txt";
  const std::wstring handler = L"\"" + test_support::ExecutableDir() + L"\\window_driver_test_child.exe\" --signal=" +
                               opened_name + L" \"--record=" + record + L"\" \"%1\"";
  SetKeyValue(HKEY_LOCAL_MACHINE, key, L"", L"URL Protocol", L"");
  SetKeyValue(HKEY_LOCAL_MACHINE, key, L"\\shell\\open\\command", nullptr, handler);
  const std::unique_ptr<test_support::WindowProgram> installer = Start(LoneInstaller());
  const HWND window = WaitForWindow(installer.get());
  ASSERT_TRUE(window) << Logs();
  const std::string download_error = oracle_.Get(oracle_.Languages().at(0), IDS_ERROR_DOWNLOAD);
  ASSERT_FALSE(download_error.empty());
  const DriverReport first = test_support::DriveWindow(window, Press(IDC_ACCEPT_BUTTON) + L"wait-shown=1005 read");
  EXPECT_EQ(download_error, first.Text(IDC_STATUS_TEXT)) << first.output;
  EXPECT_EQ(0, first.Integer(IDC_FULL_PACKAGE_BUTTON, "visible"));
  const size_t fetches = RequestsTo(server_.Requests(), kAddressPath).size();
  const DriverReport second =
      test_support::DriveWindow(window, Press(IDC_RETRY_BUTTON) + L"wait-shown=1004 read post=1004");
  EXPECT_EQ(download_error, second.Text(IDC_STATUS_TEXT)) << second.output;
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(opened.Get(), 90000)) << Logs();
  std::string url;
  EXPECT_TRUE(test_support::ReadFileBytes(record, &url));
  DeleteFileW(record.c_str());
  EXPECT_EQ(page + "&product=" + kProductName + "%20" + HostExpectations().at("GetStreamName") + "\n", url);

  const std::unique_ptr<RunEnd> end = Finish(installer.get());
  EXPECT_NE(0u, end->exit_code);
  EXPECT_EQ(2, end->Integer("installation_cancelled"));
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "PROGRESS", "ERROR", "PROGRESS", "ERROR"}), end->pages);
  EXPECT_EQ(fetches + 1, RequestsTo(end->log, kAddressPath).size()) << "only the retry fetched again";
  EXPECT_FALSE(base::PathExists(install_)) << "nothing was installed";
}

}  // namespace
}  // namespace zorvi::installer::test
