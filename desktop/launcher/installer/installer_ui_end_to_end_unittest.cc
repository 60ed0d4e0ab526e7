// The interactive installer end to end: a package's own installer.exe (with the test build of the library) run as
// the user starts it, its window worked by the window driver (window_driver_test_child) on the suite's display, its
// statistics posted to the loopback server standing in for the update service, and the installed tree compared
// with the package.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
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
#include "desktop/launcher/installer/installer_host_test_util.h"
#include "desktop/launcher/installer/installer_package_test_util.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/product_info.h"
#include "testing/installer_test_seams_from_environment.h"
#include "testing/loopback_server.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {
namespace {

constexpr DWORD kWaitMs = 90000;
constexpr int kAcceptButton = 1003;
constexpr int kRetryButton = 1005;
constexpr int kFullPackageButton = 1004;
constexpr int kStatusText = 1011;
constexpr int kYes = IDYES;

struct WindowSearch {
  DWORD process_id;
  HWND found = nullptr;
  int count = 0;
};

BOOL CALLBACK FindProcessDialog(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<WindowSearch*>(data);
  DWORD process_id = 0;
  wchar_t class_name[16] = {};
  GetWindowThreadProcessId(window, &process_id);
  if (process_id == search->process_id && IsWindowVisible(window) && GetClassNameW(window, class_name, 16) &&
      std::wstring(class_name) == L"#32770" && !GetParent(window)) {
    ++search->count;
    search->found = window;
  }
  return TRUE;
}

// One installer process of the package, started as the user's shell starts it, with the scenario's temporary
// folder, branding and seams.
class InstallerProcess {
 public:
  InstallerProcess(const base::FilePath& program, const std::wstring& switches, const std::wstring& environment) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring command_line = L"\"" + program.value() + L"\" " + switches;
    EXPECT_TRUE(CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE,
                               DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT,
                               const_cast<wchar_t*>(environment.c_str()), program.DirName().value().c_str(),
                               &startup, &information_));
  }
  ~InstallerProcess() {
    if (information_.hProcess) {
      if (WaitForSingleObject(information_.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(information_.hProcess, 99);
      CloseHandle(information_.hProcess);
      CloseHandle(information_.hThread);
    }
  }
  InstallerProcess(const InstallerProcess&) = delete;
  InstallerProcess& operator=(const InstallerProcess&) = delete;

  // The installer's main dialog once its thread waits for the user: it is made before the first wait.
  HWND WaitForWindow() const {
    EXPECT_EQ(0u, WaitForInputIdle(information_.hProcess, kWaitMs));
    WindowSearch search{information_.dwProcessId};
    EnumWindows(&FindProcessDialog, reinterpret_cast<LPARAM>(&search));
    EXPECT_EQ(1, search.count);
    return search.found;
  }
  DWORD Wait() const {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(information_.hProcess, kWaitMs));
    DWORD exit_code = 259;
    GetExitCodeProcess(information_.hProcess, &exit_code);
    return exit_code;
  }
  DWORD pid() const { return information_.dwProcessId; }

 private:
  PROCESS_INFORMATION information_ = {};
};

class InstallerUIEndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = base::FilePath(folder_.path());
    install_ = root_.Append(L"Zorvi");
    temp_ = root_.Append(L"temp");
    ASSERT_TRUE(base::CreateDirectory(temp_));
    ASSERT_TRUE(base::CreateDirectory(root_.Append(L"www")));
    company_ = base::WideToUTF8(test_support::UniqueName(L"ZorviUI"));
    package_ = std::make_unique<PackageFixture>(root_.Append(L"download"), company_);
    std::string error;
    ASSERT_TRUE(server_.Start(root_.Append(L"www").value(), "", &error)) << error;
    // The package's product, with the loopback server as its update service.
    branding_ = root_.Append(L"branding_ui.json");
    ASSERT_TRUE(test_support::WriteFileBytes(
        branding_.value(), R"({"company_name": ")" + company_ +
                               R"(", "product_name": "Zorvi", "visible_product_name": "Zorvi", )"
                               R"("file_name_base": "zorvi", "user_agent_name": "ZRV", "urls": {"autoupdate": ")" +
                               base::WideToUTF8(server_.Url("/base/", "localhost")) + R"("}})"));
  }

  // Without the overrides fetch the package is complete before the backend starts, which then runs the package's
  // installer at once: this build's backend cannot yet wait for a package that comes later.
  std::unique_ptr<InstallerProcess> Start(const base::FilePath& program = base::FilePath()) {
    const std::wstring environment = EnvironmentWith(
        {{L"TEMP", temp_.value()},
         {L"TMP", temp_.value()},
         {test_support::kInstallerTestSeamsVariable, L"branding-file=" + branding_.value()}});
    return std::make_unique<InstallerProcess>(
        program.empty() ? package_->folder().Append(L"installer.exe") : program,
        L"--installfolder=\"" + install_.value() +
            L"\" --with-feature:installer-ui-stats=on --with-feature:installer-pref-default-overrides-support=off --v=2",
        environment);
  }

  // Runs the driver on the window captioned `caption`; its JSON lines.
  std::vector<std::unique_ptr<base::Value>> Drive(const std::wstring& caption, const std::wstring& actions) {
    DWORD exit_code = 0;
    std::string output;
    EXPECT_TRUE(test_support::RunProcess(L"\"" + test_support::ExecutableDir() +
                                             L"\\window_driver_test_child.exe\" \"--caption=" + caption + L"\" " +
                                             actions,
                                         &exit_code, &output));
    EXPECT_EQ(0u, exit_code) << output;
    std::vector<std::unique_ptr<base::Value>> lines;
    for (const std::string& line : base::SplitString(output, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY))
      lines.push_back(base::JsonReader::Read(line));
    return lines;
  }

  // The statistics the run posted, as the server received them.
  std::unique_ptr<base::DictionaryValue> PostedStats() {
    const std::vector<test_support::LoggedRequest> requests =
        test_support::RequestsTo(server_.StopAndReadLog(), "/base/netinstaller/feedback");
    EXPECT_EQ(1u, requests.size());
    std::string body;
    if (requests.empty() || !server_.ReadBody(requests[0], &body))
      return std::make_unique<base::DictionaryValue>();
    std::unique_ptr<base::Value> value = base::JsonReader::Read(body);
    base::DictionaryValue* dictionary = nullptr;
    auto stats = std::make_unique<base::DictionaryValue>();
    if (value && value->GetAsDictionary(&dictionary))
      stats->Swap(dictionary);
    return stats;
  }

  static std::vector<std::string> PageSequence(const base::DictionaryValue& stats) {
    std::vector<std::string> pages;
    const base::ListValue* list = nullptr;
    const base::DictionaryValue* entry = nullptr;
    std::string page;
    if (stats.GetList("ui.page_sequence", &list)) {
      for (const auto& node : *list) {
        if (node->GetAsDictionary(&entry) && entry->GetString("page_type", &page))
          pages.push_back(page);
      }
    }
    return pages;
  }
  static int Integer(const base::DictionaryValue& stats, const std::string& path) {
    int value = -1;
    stats.GetInteger(path, &value);
    return value;
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

  static std::wstring Caption(HWND window) {
    wchar_t caption[256] = {};
    GetWindowTextW(window, caption, 256);
    return caption;
  }

  test_support::ScopedTestFolder folder_{L"ui_e2e"};
  base::FilePath root_;
  base::FilePath install_;
  base::FilePath temp_;
  base::FilePath branding_;
  std::string company_;
  std::unique_ptr<PackageFixture> package_;
  test_support::LoopbackServer server_;
};

// Accepted on the welcome page, the package's own installer installs it: the progress page's bar starts where the
// run stood and ends full, the run ends with exit code 0, every file of the package is in the version's folder and
// the statistics say so.
TEST_F(InstallerUIEndToEndTest, AcceptedInstallationEndsWithTheFilesInPlace) {
  const base::TimeTicks start = base::TimeTicks::Now();
  std::unique_ptr<InstallerProcess> installer = Start();
  const HWND window = installer->WaitForWindow();
  ASSERT_TRUE(window) << Logs();
  const base::TimeTicks shown = base::TimeTicks::Now();
  Drive(Caption(window), L"command=" + std::to_wstring(kAcceptButton));
  EXPECT_EQ(0u, installer->Wait()) << Logs();
  // The closing note's figures: start to the first window waiting for the user, accept to the process's end.
  std::printf("first window after %lld ms; accept to exit %lld ms\n",
              static_cast<long long>((shown - start).InMilliseconds()),
              static_cast<long long>((base::TimeTicks::Now() - shown).InMilliseconds()));
  const std::unique_ptr<base::DictionaryValue> stats = PostedStats();
  EXPECT_EQ(1, Integer(*stats, "installation_success"));
  EXPECT_EQ(-1, Integer(*stats, "installation_cancelled"));
  EXPECT_FALSE(stats->Get("failure_reason", nullptr));
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "PROGRESS"}), PageSequence(*stats));
  const std::map<std::string, std::string> package = ReadTree(package_->folder());
  const std::map<std::string, std::string> installed = ReadTree(install_.Append(base::UTF8ToWide(GetFullVersionString())));
  for (const std::string& file : package_->files()) {
    ASSERT_TRUE(package.count(file)) << file;
    EXPECT_EQ(package.at(file), installed.count(file) ? installed.at(file) : "<missing>") << file;
  }
}

// The driver's line of control `id` in `lines`; an empty dictionary when none.
const base::DictionaryValue& ControlLine(const std::vector<std::unique_ptr<base::Value>>& lines, int id) {
  static const base::DictionaryValue kNone;
  const base::DictionaryValue* dictionary = nullptr;
  int control = 0;
  for (const auto& line : lines) {
    if (line && line->GetAsDictionary(&dictionary) && dictionary->GetInteger("control", &control) && control == id)
      return *dictionary;
  }
  return kNone;
}

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
  std::unique_ptr<InstallerProcess> installer = Start();
  const HWND window = installer->WaitForWindow();
  ASSERT_TRUE(window) << Logs();
  const std::vector<std::unique_ptr<base::Value>> error_page =
      Drive(Caption(window), L"command=" + std::to_wstring(kAcceptButton) + L" wait-shown=" +
                                 std::to_wstring(kRetryButton) + L" read");
  std::string text;
  EXPECT_TRUE(ControlLine(error_page, kStatusText).GetString("text", &text));
  EXPECT_NE(std::string::npos, text.find(base::WideToUTF8(blocked.value()))) << text;
  int visible = -1;
  EXPECT_TRUE(ControlLine(error_page, kFullPackageButton).GetInteger("visible", &visible));
  EXPECT_EQ(0, visible);
  holder.Close();
  std::string earlier;
  EXPECT_TRUE(base::ReadFileToString(blocked, &earlier));
  EXPECT_EQ("an earlier file", earlier) << "the failed run was rolled back";

  Drive(Caption(window), L"command=" + std::to_wstring(kRetryButton));
  EXPECT_EQ(0u, installer->Wait()) << Logs();
  const std::unique_ptr<base::DictionaryValue> stats = PostedStats();
  EXPECT_EQ(1, Integer(*stats, "installation_success"));
  EXPECT_FALSE(stats->Get("failure_reason", nullptr));
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "PROGRESS", "ERROR", "PROGRESS"}), PageSequence(*stats));
  const std::map<std::string, std::string> package = ReadTree(package_->folder());
  const std::map<std::string, std::string> installed = ReadTree(install_);
  EXPECT_EQ(package.at(package_->root_files()[0]), installed.at(package_->root_files()[0]));
}

// On Windows Vista (wine's version for this copy of the installer, which runs alone and so fetches its package)
// the accept shows the error page that sends the user to the full package, and the run can then only be closed.
TEST_F(InstallerUIEndToEndTest, BeforeWindows7AcceptOffersOnlyTheFullPackage) {
  const std::wstring name = test_support::UniqueName(L"installer_vista") + L".exe";
  const base::FilePath folder = root_.Append(L"vista");
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_TRUE(CopyFileW(package_->folder().Append(L"installer.exe").value().c_str(),
                        folder.Append(name).value().c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(package_->folder().Append(L"zorvi.dll").value().c_str(),
                        folder.Append(L"zorvi.dll").value().c_str(), FALSE));
  const std::wstring version_key = L"Software\\Wine\\AppDefaults\\" + name;
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, version_key.c_str(), L"Version", REG_SZ, L"vista",
                                           sizeof(L"vista")));
  std::unique_ptr<InstallerProcess> installer = Start(folder.Append(name));
  const HWND window = installer->WaitForWindow();
  RegDeleteTreeW(HKEY_CURRENT_USER, version_key.c_str());
  ASSERT_TRUE(window) << Logs();
  const std::vector<std::unique_ptr<base::Value>> error_page =
      Drive(Caption(window), L"command=" + std::to_wstring(kAcceptButton) + L" read");
  std::string text;
  std::string offer;
  int visible = -1;
  EXPECT_TRUE(ControlLine(error_page, kStatusText).GetString("text", &text));
  EXPECT_TRUE(ControlLine(error_page, kFullPackageButton).GetString("text", &offer));
  EXPECT_TRUE(ControlLine(error_page, kFullPackageButton).GetInteger("visible", &visible));
  EXPECT_EQ(1, visible);
  EXPECT_FALSE(offer.empty());
  EXPECT_NE(std::string::npos, text.find(offer)) << "the text names the button: " << text;
  Drive(Caption(window), L"close box=" + std::to_wstring(kYes));
  EXPECT_NE(0u, installer->Wait()) << Logs();
  const std::unique_ptr<base::DictionaryValue> stats = PostedStats();
  EXPECT_EQ((std::vector<std::string>{"WELCOME", "ERROR"}), PageSequence(*stats));
  EXPECT_EQ(1, Integer(*stats, "installation_cancelled"));
  EXPECT_FALSE(base::PathExists(install_)) << "nothing was installed";
}

// A second interactive installer of the session gives way to the first (whose lock file names its window's
// thread), and the first, closed and confirmed, ends as cancelled.
TEST_F(InstallerUIEndToEndTest, SecondInstanceGivesWayAndClosingCancels) {
  std::unique_ptr<InstallerProcess> first = Start();
  const HWND window = first->WaitForWindow();
  ASSERT_TRUE(window);
  const DWORD ui_thread = GetWindowThreadProcessId(window, nullptr);

  std::unique_ptr<InstallerProcess> second = Start();
  EXPECT_NE(0u, second->Wait());
  WindowSearch search{second->pid()};
  EnumWindows(&FindProcessDialog, reinterpret_cast<LPARAM>(&search));
  EXPECT_EQ(0, search.count) << "the second instance showed no window";
  const base::FilePath lock = temp_.Append(L"Zorvi Installer").Append(L"installer.lck");
  base::win::ScopedHandle file(CreateFileW(lock.value().c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  DWORD owner = 0;
  DWORD read = 0;
  EXPECT_TRUE(file.IsValid() && ReadFile(file.Get(), &owner, sizeof(owner), &read, nullptr));
  file.Close();
  EXPECT_EQ(ui_thread, owner);

  Drive(Caption(window), L"close box=" + std::to_wstring(kYes));
  EXPECT_NE(0u, first->Wait());
  const std::unique_ptr<base::DictionaryValue> stats = PostedStats();
  EXPECT_EQ(1, Integer(*stats, "installation_cancelled"));
  EXPECT_EQ(0, Integer(*stats, "installation_success"));
  EXPECT_EQ(std::vector<std::string>{"WELCOME"}, PageSequence(*stats));
  EXPECT_FALSE(base::PathExists(lock));
}

}  // namespace
}  // namespace zorvi::installer::test
