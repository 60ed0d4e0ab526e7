// The installer window in a process of its own (installer_window_host_test_child), worked from outside by the
// window driver (window_driver_test_child) and by real keys on the display (xdotool), with the host's string tables
// as pefile reads them (testdata_setup.sh) as the oracle of every text.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"
#include "testing/test_support.h"
#include "testing/version_child.h"
#include "testing/installer/window_driver.h"

namespace zorvi::installer {
namespace {

using test_support::DriverReport;
using test_support::StringOracle;

constexpr char kCancelled[] = "{\"call\":\"OnCancel\"}\n";

class InstallerWindowEndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(oracle_.loaded());
    ASSERT_GE(tags_.size(), 2u);
  }

  // Starts the host (`program`: a quoted path, by default the test host) on `folder` (by default a fresh one of the
  // test's own) and waits for its window.
  void StartHost(const std::wstring& switches, const std::wstring& program = std::wstring(),
                 const std::wstring& folder = std::wstring()) {
    // Each start's own event: a name used again would open the last start's event, still set.
    const std::wstring ready_name = test_support::UniqueName(L"window_ready" + std::to_wstring(++starts_));
    base::win::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    host_ = std::make_unique<test_support::WindowProgram>(
        (program.empty() ? L"\"" + test_support::ExecutableDir() + L"\\installer_window_host_test_child.exe\""
                         : program) +
            L" --test-company=" + test_support::UniqueName(L"ZorviTest") + L" --installfolder=\"" +
            (folder.empty() ? folder_.path() + L"\\Zorvi" : folder) + L"\" --test-ready-event=" + ready_name + L" " +
            switches,
        folder_.path() + L"\\host_output.txt");
    window_ = host_->WaitForWindow(ready.Get());
    ASSERT_TRUE(window_);
  }
  DriverReport Drive(const std::wstring& actions) { return test_support::DriveWindow(window_, actions); }
  // Reads the window once it is in front with one of `focus_ids` ("ID[/ID...]") focused. A window of another test
  // may come to the front between the driver's wait and its read, which then shows no focus: it is brought back.
  DriverReport ReadInFront(const std::wstring& focus_ids) {
    DriverReport report;  // no focus read yet
    for (int attempt = 0; attempt < 3 && report.focus <= 0; ++attempt)
      report = Drive(L"foreground wait-focus=" + focus_ids + L" read");
    return report;
  }

  // Waits for the host's end: its controller calls, one JSON line each, and into *pages its statistics' (the last
  // line's) page sequence.
  std::string HostCalls(std::vector<std::string>* pages = nullptr) {
    EXPECT_EQ(0u, host_->Wait());
    const std::string output = host_->Output();
    std::string calls;
    for (const std::string& line : base::SplitString(output, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      if (base::StartsWith(line, "{\"call\":", base::CompareCase::SENSITIVE))
        calls += line + "\n";
    }
    const std::unique_ptr<base::Value> stats =
        base::JsonReader::Read(output.substr(std::min(output.rfind("{\"stats\":"), output.size())));
    const base::DictionaryValue* root = nullptr;
    if (pages && stats && stats->GetAsDictionary(&root))
      *pages = test_support::PageSequence(*root, "stats.ui.page_sequence", true);
    return calls;
  }

  // A screenshot of the display (ImageMagick's import) named `name`, kept with the window's geometry in `report`
  // for testdata_check.sh.
  void KeepScreenshot(const std::wstring& name, const DriverReport& report) {
    wchar_t loader[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableW(L"WINELOADER", loader, MAX_PATH)) << "wine sets WINELOADER";
    wchar_t data[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableW(L"ZORVI_TESTDATA", data, MAX_PATH));
    ASSERT_EQ(L'/', data[0]) << "the check reads the screenshots on Linux";
    const base::FilePath shots = base::FilePath(test_support::TestDataDir()).Append(L"screenshots");
    ASSERT_TRUE(base::CreateDirectory(shots));
    base::DictionaryValue geometry;
    const base::ListValue* rect = nullptr;
    ASSERT_TRUE(report.window->GetList("rect", &rect)) << report.output;
    geometry.Set("client", std::unique_ptr<base::Value>(rect->DeepCopy()));
    for (const auto& [key, id] : {std::pair<const char*, int>{"title", IDC_TITLE},
                                  {"welcome_text", IDC_WELCOME_TEXT},
                                  {"picture", IDC_PRODUCT_PICTURE},
                                  {"bar", IDC_PROGRESS_BAR}}) {
      ASSERT_TRUE(report.controls->GetList(std::to_string(id) + ".rect", &rect)) << key;
      geometry.Set(key, std::unique_ptr<base::Value>(rect->DeepCopy()));
    }
    std::string json;
    ASSERT_TRUE(base::JsonWriter::Write(geometry, &json));
    ASSERT_TRUE(test_support::WriteFileBytes(shots.Append(name + L".json").value(), json));
    // import's shell runs the driver last, which signals.
    const std::wstring done_name = test_support::UniqueName(L"screenshot_" + name);
    base::win::ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, done_name.c_str()));
    ASSERT_NO_FATAL_FAILURE(test_support::StartLinuxProgram(
        L"Z:\\usr\\bin\\sh -c \"import -window root '" + std::wstring(data) + L"/screenshots/" + name + L".png'; '" +
        loader + L"' '" + test_support::ExecutableDir() + L"\\window_driver_test_child.exe' --signal=" + done_name +
        L"\""));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done.Get(), 60000));
  }

  test_support::ScopedTestFolder folder_{L"window_e2e"};
  StringOracle oracle_;
  const std::vector<std::wstring> tags_ = GetAvailableUiLanguages();
  std::unique_ptr<test_support::WindowProgram> host_;
  HWND window_ = nullptr;
  int starts_ = 0;
};

// Install run: the welcome page as the user first sees it; real keys typed on the display reach the window through
// the UI loop's dialog dispatcher (Escape does nothing, Tab moves the focus from the accept button to the options
// button, Return presses it, and on the options page Return presses the default accept button); the options page in
// the second language of the list, with every language named in its own language, the texts of both dialogs and the
// mode list with the user's name; the folder browser cancelled (the folder stays); the close box answered NO (the
// window stays) and the cancel button's box answered YES (the controller cancels once), both in that language; and
// the page sequence with its actions and counters in the statistics.
TEST_F(InstallerWindowEndToEndTest, WelcomeKeysOptionsAndCancel) {
  const std::wstring accepted_name = test_support::UniqueName(L"window_accepted");
  base::win::ScopedHandle accepted(CreateEventW(nullptr, TRUE, FALSE, accepted_name.c_str()));
  ASSERT_NO_FATAL_FAILURE(StartHost(L"--test-accept-event=" + accepted_name));
  // Windows of other programs on the display may have come to the front since the host started. Brought back, the
  // dialog gives its focus back as it handles its activation, later on a loaded machine.
  const DriverReport welcome = ReadInFront(std::to_wstring(IDC_ACCEPT_BUTTON));
  ASSERT_EQ(IDC_ACCEPT_BUTTON, welcome.focus) << welcome.output;
  EXPECT_EQ(oracle_.Get(tags_[0], IDS_WINDOW_CAPTION), welcome.WindowText("caption"));
  EXPECT_EQ(0, welcome.WindowInteger("options_visible"));
  EXPECT_EQ(oracle_.Get(tags_[0], IDS_ACCEPT_INSTALL), welcome.Text(IDC_ACCEPT_BUTTON));
  std::vector<std::string> language_names;
  for (const std::wstring& tag : tags_)
    language_names.push_back(oracle_.Get(tag, IDS_LANGUAGE_NAME));
  EXPECT_EQ(language_names, welcome.Texts(IDC_LANGUAGE_LIST));
  // The window's accept tells when the keys arrived. Keys go to the window in front, and a window of another test
  // may come to the front between the driver's look and the keys, and take them. The window then shows no effect
  // of what it missed, so only the keys it still needs are typed again, after it is brought back.
  for (int attempt = 1; WaitForSingleObject(accepted.Get(), 0) != WAIT_OBJECT_0; ++attempt) {
    ASSERT_LE(attempt, 3) << host_->Output();
    std::wstring keys = L"Escape Tab Return Return";
    if (attempt > 1) {
      // Brought back, the window gives the focus back to the button that had it, later on a loaded machine.
      const DriverReport state =
          ReadInFront(std::to_wstring(IDC_OPTIONS_BUTTON) + L"/" + std::to_wstring(IDC_ACCEPT_BUTTON));
      if (state.WindowInteger("options_visible") == 1)
        keys = L"Return";
      else if (state.focus == IDC_OPTIONS_BUTTON)
        keys = L"Return Return";
      else
        ASSERT_EQ(IDC_ACCEPT_BUTTON, state.focus) << state.output;
    }
    ASSERT_NO_FATAL_FAILURE(test_support::StartLinuxProgram(L"Z:\\usr\\bin\\xdotool key " + keys));
    WaitForSingleObject(accepted.Get(), attempt == 1 ? 60000 : 30000);
  }
  // The dialog gives the focus back to the control that had it when it comes to the front again.
  const DriverReport keyed = ReadInFront(std::to_wstring(IDC_ACCEPT_BUTTON) + L"/" +
                                         std::to_wstring(IDC_OPTIONS_BUTTON));
  Drive(L"select=1014:1");
  EXPECT_EQ(1, keyed.WindowInteger("options_visible")) << keyed.output;
  EXPECT_EQ(IDC_ACCEPT_BUTTON, keyed.focus);

  const std::wstring& tag = tags_[1];
  const DriverReport options = Drive(L"press=1017 box=2 read close box=7 press=1002 box=6");
  EXPECT_EQ(oracle_.Get(tag, IDS_WINDOW_CAPTION), options.WindowText("caption")) << options.output;
  for (const auto& [id, string_id] :
       {std::pair{IDC_OPTIONS_BUTTON, IDS_OPTIONS}, {IDC_BACK_BUTTON, IDS_BACK}, {IDC_RETRY_BUTTON, IDS_RETRY},
        {IDC_LANGUAGE_LABEL, IDS_LANGUAGE_LABEL}, {IDC_FULL_PACKAGE_BUTTON, IDS_FULL_PACKAGE},
        {IDC_DEFAULT_BROWSER_CHECK, IDS_DEFAULT_BROWSER}, {IDC_SEND_STATS_CHECK, IDS_SEND_STATS},
        {IDC_CANCEL_BUTTON, IDS_CANCEL}, {IDC_DELETE_PROFILE_CHECK, IDS_DELETE_PROFILE},
        {IDC_ACCEPT_BUTTON, IDS_ACCEPT_INSTALL}})
    EXPECT_EQ(oracle_.Get(tag, string_id), options.Text(id)) << id;
  std::wstring user;
  ASSERT_TRUE(GetCurrentUserName(false, &user));
  EXPECT_EQ((std::vector<std::string>{oracle_.Get(tag, IDS_MODE_ALL_USERS),
                                      oracle_.Get(tag, IDS_MODE_CURRENT_USER) + " (" + base::WideToUTF8(user) + ")",
                                      oracle_.Get(tag, IDS_MODE_STANDALONE)}),
            options.Texts(IDC_MODE_LIST));

  // The folder browser, cancelled, shows the window's title for it; the folder stays.
  ASSERT_EQ(3u, options.boxes.size()) << options.output;
  EXPECT_NE(std::string::npos, options.BoxText(0, "texts").find(oracle_.Get(tag, IDS_BROWSE_TITLE) + "\n"));
  EXPECT_FALSE(welcome.Text(IDC_FOLDER_COMBO).empty());
  EXPECT_EQ(welcome.Text(IDC_FOLDER_COMBO), options.Text(IDC_FOLDER_COMBO));
  for (size_t box : {1, 2}) {
    for (const auto& [key, string_id] : {std::pair{"caption", IDS_WINDOW_CAPTION}, {"text", IDS_CONFIRM_CANCEL},
                                         {"buttons.6", IDS_YES}, {"buttons.7", IDS_NO}})
      EXPECT_EQ(oracle_.Get(tag, string_id), options.BoxText(box, key)) << key;
  }
  std::vector<std::string> pages;
  EXPECT_EQ("{\"call\":\"OnAccept\"}\n" + std::string(kCancelled), HostCalls(&pages));
  EXPECT_EQ((std::vector<std::string>{"WELCOME:OPTIONS:0", "OPTIONS:CANCEL:1"}), pages);
}

// One start of the host each: what it shows depends on its run, its resources, its folder and the Windows version.
struct HostRow {
  const char* name;
  const wchar_t* switches;
  const wchar_t* actions;     // before the read
  const wchar_t* host;        // a copy testdata_setup.sh made (its strings in <host>_strings.json), or null
  const wchar_t* version;     // wine's Windows version for a copy of the test host, or null
  const wchar_t* folder;      // below the test data, or null: a fresh folder
  const wchar_t* screenshot;  // the name under which the display is kept, or null
  int default_browser_shown;  // -1: not asked
  int accept_text;            // on the error page, with the mode list enabled below; 0: not asked
  int mode_list_enabled;
};

// The default-browser box is offered below Windows 8 only (from 8 on the system asks the user itself). On the error
// page: the terms text as far as its resource goes (the copy's ends before its NUL), the full-package button grown
// to the left of its place for a long text (the copy's is three times as long), and in a folder holding an
// installation the upgrade's texts with the mode list disabled (an upgrade keeps the installation's mode).
// Screenshots of the welcome, error and progress pages are kept for testdata_check.sh, which asserts their
// properties: the title red inside 1007 with the product name black, the background picture's gradient behind the
// window, the error badge over the product picture only on the error page, and the bar's fill growing 30 to 70.
TEST_F(InstallerWindowEndToEndTest, EachRunShowsWhatItsHostFolderAndVersionAsk) {
  const HostRow rows[] = {
      {"welcome", L"", L"", nullptr, nullptr, nullptr, L"welcome", -1, 0, 0},
      {"error, fresh folder", L"--test-error=Broken", L"", nullptr, nullptr, nullptr, L"error", -1,
       IDS_ACCEPT_INSTALL, 1},
      {"error, upgrade", L"--test-error=Broken", L"", nullptr, nullptr, L"staged\\upgrade", nullptr, -1,
       IDS_ACCEPT_UPDATE, 0},
      {"error, texts cut by their resources", L"--test-error=Broken", L"", L"text_bound_host", nullptr, nullptr,
       nullptr, -1, IDS_ACCEPT_INSTALL, 1},
      {"progress 30", L"--test-run-immediately --test-progress=30", L"wait-bar=30", nullptr, nullptr, nullptr,
       L"progress_30", -1, 0, 0},
      {"progress 70", L"--test-run-immediately --test-progress=70", L"wait-bar=70", nullptr, nullptr, nullptr,
       L"progress_70", -1, 0, 0},
      {"vista", L"", L"click=1001", nullptr, L"vista", nullptr, nullptr, 1, 0, 0},
      {"win7", L"", L"click=1001", nullptr, L"win7", nullptr, nullptr, 1, 0, 0},
      {"win8", L"", L"click=1001", nullptr, L"win8", nullptr, nullptr, 0, 0, 0},
      {"win10", L"", L"click=1001", nullptr, L"win10", nullptr, nullptr, 0, 0, 0},
  };
  const std::wstring data = test_support::TestDataDir();
  std::vector<int> own_button;  // the test host's full-package button: left, top, right, bottom
  for (const HostRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::wstring host = row.host ? row.host : L"installer_window_host_test_child";
    std::unique_ptr<test_support::VersionedChildCopy> copy;
    if (row.version) {
      copy = std::make_unique<test_support::VersionedChildCopy>(host + L".exe", row.version,
                                                                std::wstring(row.version) == L"win10");
      ASSERT_EQ("", copy->error());
    }
    ASSERT_NO_FATAL_FAILURE(StartHost(row.switches,
                                      copy ? copy->Command() : row.host ? L"\"" + data + L"\\" + host + L".exe\"" : L"",
                                      row.folder ? data + L"\\" + row.folder : L""));
    // A screenshot waits until the display shows the whole window as painted.
    const DriverReport report = Drive(row.actions + std::wstring(row.screenshot ? L" settled read" : L" read"));
    if (row.screenshot) {
      ASSERT_NO_FATAL_FAILURE(KeepScreenshot(row.screenshot, report));
    }
    if (row.default_browser_shown >= 0) {
      EXPECT_EQ(row.default_browser_shown, report.Integer(IDC_DEFAULT_BROWSER_CHECK, "visible")) << report.output;
      EXPECT_EQ(1, report.Integer(IDC_IMPORT_DATA_CHECK, "visible"));
    }
    if (row.accept_text) {
      const StringOracle oracle(row.host ? host + L"_strings.json" : L"host_strings.json");
      EXPECT_EQ(row.mode_list_enabled, report.Integer(IDC_MODE_LIST, "enabled")) << report.output;
      EXPECT_EQ(oracle.Get(tags_[0], row.accept_text), report.Text(IDC_ACCEPT_BUTTON));
      std::string terms;
      ASSERT_TRUE(test_support::ReadFileBytes(data + L"\\" + host + L"_terms.txt", &terms));
      base::ReplaceSubstringsAfterOffset(&terms, 0, "\n", "\r\n");
      EXPECT_EQ(terms, report.Text(IDC_TERMS_TEXT));
      EXPECT_EQ(oracle.Get(tags_[0], IDS_FULL_PACKAGE), report.Text(IDC_FULL_PACKAGE_BUTTON));
      const std::vector<int> button = report.Integers(IDC_FULL_PACKAGE_BUTTON);
      const std::vector<int> retry = report.Integers(IDC_RETRY_BUTTON);
      ASSERT_EQ(4u, button.size());
      ASSERT_EQ(4u, retry.size());
      EXPECT_GE(button[2] - button[0], retry[2] - retry[0]);
      if (own_button.empty()) {
        own_button = button;
      } else {
        EXPECT_EQ(own_button[2], button[2]) << "the right edge stays";
        EXPECT_EQ(row.host != nullptr, button[0] < own_button[0]) << "a longer text grows the button to the left";
      }
    }
    Drive(L"close box=6");
    EXPECT_EQ(kCancelled, HostCalls());
  }
}

}  // namespace
}  // namespace zorvi::installer
