// The installer window in a process of its own (installer_window_host_test_child), worked from outside by the
// window driver (window_driver_test_child) and by real keys on the display (xdotool), with the host's string tables
// as pefile reads them (testdata_setup.sh) as the oracle of every text.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer {
namespace {

// The string tables of a host's resources as pefile reads them (testdata_setup.sh).
class StringOracle {
 public:
  bool Load(const wchar_t* file = L"host_strings.json") {
    std::string json;
    root_ = base::ReadFileToString(base::FilePath(test_support::TestDataDir()).Append(file), &json)
                ? base::JsonReader::Read(json)
                : nullptr;
    return root_ && root_->GetAsDictionary(&tables_);
  }
  // String `id` in the language of `tag`, UTF-8.
  std::string Get(const std::wstring& tag, int id) const {
    std::string text;
    tables_->GetString(base::StringPrintf("tables.0x%04x.%d:%d", LookupLcid(tag), id / 16 + 1, id % 16), &text);
    return text;
  }

 private:
  std::unique_ptr<base::Value> root_;
  const base::DictionaryValue* tables_ = nullptr;
};

// One driver run's JSON lines: each control's first line by id, the focus, the window and the message boxes.
struct DriverReport {
  // Dictionaries cannot be moved: the report holds them.
  std::unique_ptr<base::DictionaryValue> controls = std::make_unique<base::DictionaryValue>();
  int focus = -1;
  std::unique_ptr<base::DictionaryValue> window = std::make_unique<base::DictionaryValue>();
  std::vector<std::unique_ptr<base::Value>> boxes;
  std::string output;

  int Integer(int id, const char* key) const {
    int value = -1;
    controls->GetInteger(std::to_string(id) + "." + key, &value);
    return value;
  }
  std::string Text(int id) const {
    std::string text;
    controls->GetString(std::to_string(id) + ".text", &text);
    return text;
  }
  std::vector<std::string> Items(int id) const {
    std::vector<std::string> texts;
    const base::ListValue* items = nullptr;
    std::string text;
    if (controls->GetList(std::to_string(id) + ".items", &items)) {
      for (const auto& item : *items)
        texts.push_back(item->GetAsString(&text) ? text : "?");
    }
    return texts;
  }
  std::string WindowString(const char* key) const {
    std::string text;
    window->GetString(key, &text);
    return text;
  }
  int WindowInteger(const char* key) const {
    int value = -1;
    window->GetInteger(key, &value);
    return value;
  }
};

// Starts `command` (a Linux program, through wine's Z: drive) and lets it run: wine gives no handle of it.
void StartLinuxProgram(std::wstring command) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

class InstallerWindowEndToEndTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(oracle_.Load());
    tags_ = GetAvailableUiLanguages();
    ASSERT_GE(tags_.size(), 2u);
    caption_ = oracle_.Get(tags_[0], IDS_WINDOW_CAPTION);
  }

  void TearDown() override {
    if (host_.IsValid())
      host_.Terminate(1, true);
  }

  // Starts the host (`program`: a quoted path, by default the host beside the test) on `folder` (by default one of
  // the test's own) and waits until its window shows.
  void StartHost(const std::wstring& extra_switches, const std::wstring& program = std::wstring(),
                 const std::wstring& folder = std::wstring()) {
    // Each start's own event: a name used again would open the last start's event, still set.
    const std::wstring ready_name = test_support::UniqueName(L"window_ready" + std::to_wstring(++starts_));
    ready_.Set(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    output_path_ = base::FilePath(folder_.path()).Append(L"host_output.txt");
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE output = CreateFileW(output_path_.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, output);
    std::vector<HANDLE> handles = {output};
    base::LaunchOptions options;
    options.handles_to_inherit = &handles;
    options.stdout_handle = output;
    options.stderr_handle = output;
    host_ = base::LaunchProcess(
        (program.empty() ? L"\"" + test_support::ExecutableDir() + L"\\installer_window_host_test_child.exe\""
                         : program) +
            L" --test-company=" + test_support::UniqueName(L"ZorviTest") + L" --installfolder=\"" +
            (folder.empty() ? folder_.path() + L"\\Zorvi" : folder) + L"\" --test-ready-event=" + ready_name + L" " +
            extra_switches,
        options);
    CloseHandle(output);
    ASSERT_TRUE(host_.IsValid());
    const HANDLE waits[] = {ready_.Get(), host_.Handle()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 60000)) << HostOutput();
  }

  std::string HostOutput() const {
    std::string text;
    base::ReadFileToString(output_path_, &text);
    return text;
  }

  // Runs the driver against the window named `caption` with `actions`.
  DriverReport Drive(const std::string& caption, const std::wstring& actions) {
    DriverReport report;
    DWORD exit_code = 0;
    EXPECT_TRUE(test_support::RunProcess(L"\"" + test_support::ExecutableDir() +
                                             L"\\window_driver_test_child.exe\" \"--caption=" +
                                             base::UTF8ToWide(caption) + L"\" " + actions,
                                         &exit_code, &report.output));
    EXPECT_EQ(0u, exit_code) << report.output;
    for (const std::string& line : base::SplitString(report.output, "\n", base::TRIM_WHITESPACE,
                                                     base::SPLIT_WANT_NONEMPTY)) {
      std::unique_ptr<base::Value> value = base::JsonReader::Read(line);
      base::DictionaryValue* dictionary = nullptr;
      if (!value || !value->GetAsDictionary(&dictionary)) {
        ADD_FAILURE() << "not JSON: " << line;
        continue;
      }
      int id = 0;
      std::unique_ptr<base::Value> part;
      base::DictionaryValue* window = nullptr;
      if (dictionary->GetInteger("control", &id)) {
        if (!report.controls->Get(std::to_string(id), nullptr))
          report.controls->Set(std::to_string(id), std::move(value));
      } else if (dictionary->GetInteger("focus", &report.focus)) {
      } else if (dictionary->Remove("window", &part)) {
        if (report.window->empty() && part->GetAsDictionary(&window))
          report.window->Swap(window);
      } else if (dictionary->Remove("box", &part)) {
        report.boxes.push_back(std::move(part));
      }
    }
    return report;
  }

  // Waits for the host's end: its controller calls, one JSON line each, and its statistics, the last line.
  std::string HostCalls(std::unique_ptr<base::Value>* stats = nullptr) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(host_.Handle(), 60000));
    host_ = base::Process();
    const std::string output = HostOutput();
    std::string calls;
    for (const std::string& line : base::SplitString(output, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      if (line.find("{\"call\":") == 0)
        calls += line + "\n";
    }
    const size_t at = output.rfind("{\"stats\":");
    if (stats)
      *stats = at == std::string::npos ? nullptr : base::JsonReader::Read(output.substr(at));
    return calls;
  }

  test_support::ScopedTestFolder folder_{L"window_e2e"};
  StringOracle oracle_;
  std::vector<std::wstring> tags_;
  std::string caption_;  // in the first language
  base::win::ScopedHandle ready_;
  base::FilePath output_path_;
  base::Process host_;
  int starts_ = 0;
};

// Install run: the welcome page as the user first sees it; the options page in the second language of the list,
// with every language named in its own language, the texts of both dialogs and the mode list with the user's name;
// the folder browser cancelled (the folder stays); the close box answered NO (the window stays) and the cancel
// button's box answered YES (the controller cancels once), both in that language; and the page sequence with its
// actions and counters in the statistics.
TEST_F(InstallerWindowEndToEndTest, WelcomeOptionsAndCancel) {
  ASSERT_NO_FATAL_FAILURE(StartHost(L""));
  const DriverReport welcome = Drive(caption_, L"read click=1001 select=1014:1 read");
  EXPECT_EQ(caption_, welcome.WindowString("caption")) << welcome.output;
  EXPECT_EQ(0, welcome.WindowInteger("options_visible")) << welcome.output;
  EXPECT_EQ(oracle_.Get(tags_[0], IDS_ACCEPT_INSTALL), welcome.Text(IDC_ACCEPT_BUTTON));
  std::vector<std::string> language_names;
  for (const std::wstring& tag : tags_)
    language_names.push_back(oracle_.Get(tag, IDS_LANGUAGE_NAME));
  EXPECT_EQ(language_names, welcome.Items(IDC_LANGUAGE_LIST));

  const std::wstring& tag = tags_[1];
  const std::string second_caption = oracle_.Get(tag, IDS_WINDOW_CAPTION);
  const DriverReport options = Drive(second_caption, L"press=1017 box=2 read close box=7 press=1002 box=6");
  EXPECT_EQ(second_caption, options.WindowString("caption")) << options.output;
  const std::pair<int, int> texts[] = {
      {IDC_OPTIONS_BUTTON, IDS_OPTIONS},      {IDC_BACK_BUTTON, IDS_BACK},
      {IDC_LANGUAGE_LABEL, IDS_LANGUAGE_LABEL}, {IDC_FULL_PACKAGE_BUTTON, IDS_FULL_PACKAGE},
      {IDC_DEFAULT_BROWSER_CHECK, IDS_DEFAULT_BROWSER}, {IDC_RETRY_BUTTON, IDS_RETRY},
      {IDC_SEND_STATS_CHECK, IDS_SEND_STATS}, {IDC_CANCEL_BUTTON, IDS_CANCEL},
      {IDC_DELETE_PROFILE_CHECK, IDS_DELETE_PROFILE}, {IDC_ACCEPT_BUTTON, IDS_ACCEPT_INSTALL}};
  for (const auto& [id, string_id] : texts)
    EXPECT_EQ(oracle_.Get(tag, string_id), options.Text(id)) << id;
  std::wstring user;
  ASSERT_TRUE(GetCurrentUserName(false, &user));
  EXPECT_EQ((std::vector<std::string>{oracle_.Get(tag, IDS_MODE_ALL_USERS),
                                      oracle_.Get(tag, IDS_MODE_CURRENT_USER) + " (" + base::WideToUTF8(user) + ")",
                                      oracle_.Get(tag, IDS_MODE_STANDALONE)}),
            options.Items(IDC_MODE_LIST));

  ASSERT_EQ(3u, options.boxes.size()) << options.output;
  // The folder browser, cancelled, shows the window's title for it.
  const base::DictionaryValue* browser = nullptr;
  const base::ListValue* browser_texts = nullptr;
  ASSERT_TRUE(options.boxes[0]->GetAsDictionary(&browser) && browser->GetList("texts", &browser_texts));
  std::vector<std::string> shown;
  for (const auto& text : *browser_texts)
    text->GetAsString(&shown.emplace_back());
  EXPECT_NE(shown.end(), std::find(shown.begin(), shown.end(), oracle_.Get(tag, IDS_BROWSE_TITLE))) << options.output;
  EXPECT_FALSE(welcome.Text(IDC_FOLDER_COMBO).empty());
  EXPECT_EQ(welcome.Text(IDC_FOLDER_COMBO), options.Text(IDC_FOLDER_COMBO));
  for (size_t box = 1; box < options.boxes.size(); ++box) {
    const base::DictionaryValue* seen = nullptr;
    ASSERT_TRUE(options.boxes[box]->GetAsDictionary(&seen));
    for (const auto& [key, expected] : {std::pair<const char*, std::string>{"caption", second_caption},
                                        {"text", oracle_.Get(tag, IDS_CONFIRM_CANCEL)},
                                        {"buttons.6", oracle_.Get(tag, IDS_YES)},
                                        {"buttons.7", oracle_.Get(tag, IDS_NO)}}) {
      std::string text;
      EXPECT_TRUE(seen->GetString(key, &text)) << key;
      EXPECT_EQ(expected, text) << key;
    }
  }

  std::unique_ptr<base::Value> stats;
  EXPECT_EQ("{\"call\":\"OnCancel\"}\n", HostCalls(&stats));
  const base::DictionaryValue* root = nullptr;
  const base::ListValue* pages = nullptr;
  ASSERT_TRUE(stats && stats->GetAsDictionary(&root) && root->GetList("stats.ui.page_sequence", &pages))
      << HostOutput();
  std::vector<std::string> sequence;
  for (const auto& page : *pages) {
    const base::DictionaryValue* entry = nullptr;
    ASSERT_TRUE(page->GetAsDictionary(&entry));
    std::string type;
    std::string action;
    int changed_language = 0;
    entry->GetString("page_type", &type);
    entry->GetString("navigation_action", &action);
    entry->GetInteger("changed_language", &changed_language);
    sequence.push_back(type + ":" + action + ":" + std::to_string(changed_language));
  }
  EXPECT_EQ((std::vector<std::string>{"WELCOME:OPTIONS:0", "OPTIONS:CANCEL:1"}), sequence);
}

// Real keys typed on the display reach the window through the UI loop's dialog dispatcher: Escape does nothing,
// Tab moves the focus from the accept button to the options button, Return presses it, and on the options page
// Return presses the default accept button.
TEST_F(InstallerWindowEndToEndTest, RealKeysWorkTheDialog) {
  const std::wstring accepted_name = test_support::UniqueName(L"window_accepted");
  base::win::ScopedHandle accepted(CreateEventW(nullptr, TRUE, FALSE, accepted_name.c_str()));
  ASSERT_NO_FATAL_FAILURE(StartHost(L"--test-accept-event=" + accepted_name));
  // Windows of other programs on the display may have come to the front since the host started.
  const DriverReport before = Drive(caption_, L"foreground read");
  ASSERT_EQ(IDC_ACCEPT_BUTTON, before.focus) << before.output;

  // The window's accept tells when the keys arrived.
  ASSERT_NO_FATAL_FAILURE(StartLinuxProgram(L"Z:\\usr\\bin\\xdotool key Escape Tab Return Return"));
  const HANDLE waits[] = {accepted.Get(), host_.Handle()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 60000)) << HostOutput();

  const DriverReport after = Drive(caption_, L"read press=1002 box=6");
  EXPECT_EQ(1, after.WindowInteger("options_visible")) << after.output;
  EXPECT_EQ(IDC_ACCEPT_BUTTON, after.focus);
  EXPECT_EQ("{\"call\":\"OnAccept\"}\n{\"call\":\"OnCancel\"}\n", HostCalls()) << HostOutput();
}

struct ScreenshotRow {
  const char* name;
  const wchar_t* switches;
};

// Screenshots of the display (ImageMagick's import), kept with the window's geometry for testdata_check.sh, which
// asserts their properties: the title red inside 1007 with the product name black, the background picture's
// gradient behind the window, the error badge over the product picture only on the error page, and the progress
// bar's fill growing from 30 to 70.
TEST_F(InstallerWindowEndToEndTest, ScreenshotsForTheDisplayCheck) {
  wchar_t loader[MAX_PATH] = {};
  ASSERT_NE(0u, GetEnvironmentVariableW(L"WINELOADER", loader, MAX_PATH)) << "wine sets WINELOADER";
  wchar_t data[MAX_PATH] = {};
  ASSERT_NE(0u, GetEnvironmentVariableW(L"ZORVI_TESTDATA", data, MAX_PATH));
  ASSERT_EQ(L'/', data[0]) << "the check reads the screenshots on Linux";
  const base::FilePath shots = base::FilePath(test_support::TestDataDir()).Append(L"screenshots");
  ASSERT_TRUE(base::CreateDirectory(shots));
  const ScreenshotRow rows[] = {
      {"welcome", L""},
      {"error", L"--test-error=Broken"},
      {"progress_30", L"--test-run-immediately --test-progress=30"},
      {"progress_70", L"--test-run-immediately --test-progress=70"},
  };
  for (const ScreenshotRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::wstring name = base::UTF8ToWide(row.name);
    ASSERT_NO_FATAL_FAILURE(StartHost(row.switches));
    const DriverReport report = Drive(caption_, L"read");
    base::DictionaryValue geometry;
    const base::ListValue* rect = nullptr;
    ASSERT_TRUE(report.window->GetList("rect", &rect)) << report.output;
    geometry.Set("client", std::unique_ptr<base::Value>(rect->DeepCopy()));
    for (const auto& [key, id] : {std::pair<const char*, int>{"title", IDC_TITLE},
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
    ASSERT_NO_FATAL_FAILURE(StartLinuxProgram(L"Z:\\usr\\bin\\sh -c \"import -window root '" + std::wstring(data) +
                                              L"/screenshots/" + name + L".png'; '" + loader + L"' '" +
                                              test_support::ExecutableDir() +
                                              L"\\window_driver_test_child.exe' --signal=" + done_name + L"\""));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done.Get(), 60000));
    Drive(caption_, L"close box=6");
    EXPECT_EQ("{\"call\":\"OnCancel\"}\n", HostCalls());
  }
}

struct VersionRow {
  const wchar_t* version;
  bool declare_windows10;
  int default_browser_shown;
};

// The default-browser box is offered below Windows 8 only: from Windows 8 on the system asks the user itself.
TEST_F(InstallerWindowEndToEndTest, DefaultBrowserBoxBelowWindows8Only) {
  const VersionRow rows[] = {{L"vista", false, 1}, {L"win7", false, 1}, {L"win8", false, 0}, {L"win10", true, 0}};
  for (const VersionRow& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(row.version));
    test_support::VersionedChildCopy host(L"installer_window_host_test_child.exe", row.version,
                                          row.declare_windows10);
    ASSERT_EQ("", host.error());
    ASSERT_NO_FATAL_FAILURE(StartHost(L"", host.Command()));
    const DriverReport report = Drive(caption_, L"click=1001 read close box=6");
    EXPECT_EQ(row.default_browser_shown, report.Integer(IDC_DEFAULT_BROWSER_CHECK, "visible")) << report.output;
    EXPECT_EQ(1, report.Integer(IDC_IMPORT_DATA_CHECK, "visible"));
    EXPECT_EQ("{\"call\":\"OnCancel\"}\n", HostCalls());
  }
}

struct HostRow {
  const char* name;
  const wchar_t* host;    // a copy testdata_setup.sh made (with its strings in <host>_strings.json), or null
  const wchar_t* folder;  // below the test data, or null: a fresh folder
  int mode_list_enabled;
  int accept_text;
};

// What the window takes from its host and its folder, on the error page: the terms text as far as its resource
// goes (the copy's ends before its NUL), the full-package button grown to the left of its place for a long text
// (the copy's is three times as long), and in a folder holding an installation the upgrade's texts with the mode
// list disabled (an upgrade keeps the installation's mode).
TEST_F(InstallerWindowEndToEndTest, TextsAndModeFollowTheHostAndTheFolder) {
  const HostRow rows[] = {
      {"fresh folder", nullptr, nullptr, 1, IDS_ACCEPT_INSTALL},
      {"upgrade", nullptr, L"staged\\upgrade", 0, IDS_ACCEPT_UPDATE},
      {"texts cut by their resources", L"text_bound_host", nullptr, 1, IDS_ACCEPT_INSTALL},
  };
  const std::wstring data = test_support::TestDataDir();
  std::vector<int> own_button;  // the host's full-package button: left and right edge
  for (const HostRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::wstring host = row.host ? row.host : L"installer_window_host_test_child";
    StringOracle oracle;
    ASSERT_TRUE(oracle.Load(row.host ? (host + L"_strings.json").c_str() : L"host_strings.json"));
    ASSERT_NO_FATAL_FAILURE(StartHost(L"--test-error=Broken",
                                      row.host ? L"\"" + data + L"\\" + host + L".exe\"" : std::wstring(),
                                      row.folder ? data + L"\\" + row.folder : std::wstring()));
    const DriverReport report = Drive(caption_, L"read close box=6");
    EXPECT_EQ(row.mode_list_enabled, report.Integer(IDC_MODE_LIST, "enabled")) << report.output;
    EXPECT_EQ(oracle.Get(tags_[0], row.accept_text), report.Text(IDC_ACCEPT_BUTTON));
    std::string terms;
    ASSERT_TRUE(base::ReadFileToString(base::FilePath(data).Append(host + L"_terms.txt"), &terms));
    base::ReplaceSubstringsAfterOffset(&terms, 0, "\n", "\r\n");
    EXPECT_EQ(terms, report.Text(IDC_TERMS_TEXT));

    EXPECT_EQ(oracle.Get(tags_[0], IDS_FULL_PACKAGE), report.Text(IDC_FULL_PACKAGE_BUTTON));
    std::vector<int> button, retry;  // left, top, right, bottom
    for (auto [id, edges] : {std::pair{IDC_FULL_PACKAGE_BUTTON, &button}, {IDC_RETRY_BUTTON, &retry}}) {
      const base::ListValue* list = nullptr;
      ASSERT_TRUE(report.controls->GetList(std::to_string(id) + ".rect", &list)) << id;
      for (const auto& edge : *list)
        edge->GetAsInteger(&edges->emplace_back());
    }
    ASSERT_EQ(4u, button.size());
    EXPECT_GE(button[2] - button[0], retry[2] - retry[0]);
    if (own_button.empty()) {
      own_button = {button[0], button[2]};
    } else {
      EXPECT_EQ(own_button[1], button[2]) << "the right edge stays";
      EXPECT_EQ(row.host != nullptr, button[0] < own_button[0]) << "a longer text grows the button to the left";
    }
    EXPECT_EQ("{\"call\":\"OnCancel\"}\n", HostCalls());
  }
}

}  // namespace
}  // namespace zorvi::installer
