// The installer window in a process of its own (installer_window_host_test_child), worked from outside by the
// window driver (window_driver_test_child) and by real keys on the display (xdotool), with the host's string tables
// as pefile reads them (testdata_setup.sh) as the oracle of every text.
#include <windows.h>

#include <map>
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

// The string tables of the host's resources as pefile reads them.
class StringOracle {
 public:
  bool Load() {
    std::string json;
    if (!base::ReadFileToString(base::FilePath(test_support::TestDataDir()).Append(L"host_strings.json"), &json))
      return false;
    root_ = base::JsonReader::Read(json);
    return root_ && root_->GetAsDictionary(&tables_root_);
  }
  // String `id` in the language of `tag`, UTF-8.
  std::string Get(const std::wstring& tag, int id) const {
    const base::Value* value = nullptr;
    const base::DictionaryValue* tables = nullptr;
    const base::DictionaryValue* table = nullptr;
    std::string text;
    if (tables_root_->Get("tables", &value) && value->GetAsDictionary(&tables) &&
        tables->GetWithoutPathExpansion(base::StringPrintf("0x%04x", LookupLcid(tag)), &value) &&
        value->GetAsDictionary(&table) &&
        table->GetWithoutPathExpansion(base::StringPrintf("%d:%d", id / 16 + 1, id % 16), &value)) {
      value->GetAsString(&text);
    }
    return text;
  }

 private:
  std::unique_ptr<base::Value> root_;
  const base::DictionaryValue* tables_root_ = nullptr;
};

// One driver run's JSON lines: controls by id (main dialog first), focus, window and message boxes.
struct DriverReport {
  std::map<int, std::unique_ptr<base::Value>> controls;
  int focus = -1;
  std::unique_ptr<base::Value> window;
  std::vector<std::unique_ptr<base::Value>> boxes;
  std::string output;

  const base::DictionaryValue* Control(int id) const {
    const base::DictionaryValue* control = nullptr;
    const auto found = controls.find(id);
    if (found != controls.end())
      found->second->GetAsDictionary(&control);
    return control;
  }
  int Integer(int id, const char* key) const {
    int value = -1;
    if (const base::DictionaryValue* control = Control(id))
      control->GetInteger(key, &value);
    return value;
  }
  std::string Text(int id) const {
    std::string text;
    if (const base::DictionaryValue* control = Control(id))
      control->GetString("text", &text);
    return text;
  }
  int WindowInteger(const char* key) const {
    const base::DictionaryValue* dictionary = nullptr;
    int value = -1;
    if (window && window->GetAsDictionary(&dictionary))
      dictionary->GetInteger(key, &value);
    return value;
  }
  std::string WindowString(const char* key) const {
    const base::DictionaryValue* dictionary = nullptr;
    std::string text;
    if (window && window->GetAsDictionary(&dictionary))
      dictionary->GetString(key, &text);
    return text;
  }
};

class InstallerWindowEndToEndTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(oracle_.Load()); }

  void TearDown() override {
    if (host_.IsValid())
      host_.Terminate(1, true);
  }

  // Starts the host (`program`: a quoted path, by default the host beside the test) on a folder of the test's own
  // and waits until its window shows.
  void StartHost(const std::wstring& extra_switches, const std::wstring& program = std::wstring()) {
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
    const std::wstring command =
        (program.empty() ? L"\"" + test_support::ExecutableDir() + L"\\installer_window_host_test_child.exe\""
                         : program) +
        L" --test-company=" +
        test_support::UniqueName(L"ZorviTest") + L" --installfolder=\"" + folder_.path() + L"\\Zorvi\"" +
        L" --test-ready-event=" + ready_name + L" " + extra_switches;
    host_ = base::LaunchProcess(command, options);
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
      if (dictionary->GetInteger("control", &id)) {
        if (!report.controls.count(id))
          report.controls[id] = std::move(value);
      } else if (dictionary->GetInteger("focus", &report.focus)) {
      } else if (dictionary->Remove("window", &part)) {
        if (!report.window)
          report.window = std::move(part);
      } else if (dictionary->Remove("box", &part)) {
        report.boxes.push_back(std::move(part));
      }
    }
    return report;
  }

  // Waits for the host's end and reads its statistics, the last line of its output.
  std::unique_ptr<base::Value> HostStatistics(std::string* calls) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(host_.Handle(), 60000));
    const std::string output = HostOutput();
    for (const std::string& line : base::SplitString(output, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      if (line.find("{\"call\":") == 0)
        *calls += line + "\n";
    }
    const size_t stats = output.rfind("{\"stats\":");
    return stats == std::string::npos ? nullptr : base::JsonReader::Read(output.substr(stats));
  }

  test_support::ScopedTestFolder folder_{L"window_e2e"};
  StringOracle oracle_;
  base::win::ScopedHandle ready_;
  base::FilePath output_path_;
  base::Process host_;
  int starts_ = 0;
};

// Install run: the welcome page as the user first sees it, the options page in the second language of the list,
// the close box answered NO (the window stays) and the cancel button's box answered YES (the controller cancels
// once), and the page sequence with its actions and counters in the statistics.
TEST_F(InstallerWindowEndToEndTest, WelcomeOptionsAndCancel) {
  ASSERT_NO_FATAL_FAILURE(StartHost(L""));
  const std::vector<std::wstring> tags = GetAvailableUiLanguages();
  ASSERT_GE(tags.size(), 2u);
  const std::string caption = oracle_.Get(tags[0], IDS_WINDOW_CAPTION);
  const DriverReport welcome = Drive(caption, L"read click=1001 select=1014:1 read");
  EXPECT_EQ(caption, welcome.WindowString("caption")) << welcome.output;
  // The first read (the report keeps each control's first line): the welcome page, its title and welcome text.
  EXPECT_EQ(0, welcome.WindowInteger("options_visible")) << welcome.output;
  for (int id : {IDC_PRODUCT_PICTURE, IDC_TITLE, IDC_WELCOME_TEXT, IDC_OPTIONS_BUTTON, IDC_ACCEPT_BUTTON})
    EXPECT_EQ(1, welcome.Integer(id, "visible")) << id;
  for (int id : {IDC_TERMS_TEXT, IDC_BACK_BUTTON, IDC_PROGRESS_BAR, IDC_RETRY_BUTTON, IDC_CANCEL_BUTTON})
    EXPECT_EQ(0, welcome.Integer(id, "visible")) << id;
  EXPECT_EQ(oracle_.Get(tags[0], IDS_ACCEPT_INSTALL), welcome.Text(IDC_ACCEPT_BUTTON));

  const std::string second_caption = oracle_.Get(tags[1], IDS_WINDOW_CAPTION);
  const DriverReport options = Drive(second_caption, L"read close box=7 read cancel box=6");
  EXPECT_EQ(second_caption, options.WindowString("caption")) << options.output;
  const std::pair<int, int> texts[] = {{IDC_OPTIONS_BUTTON, IDS_OPTIONS},
                                       {IDC_BACK_BUTTON, IDS_BACK},
                                       {IDC_LANGUAGE_LABEL, IDS_LANGUAGE_LABEL},
                                       {IDC_FULL_PACKAGE_BUTTON, IDS_FULL_PACKAGE},
                                       {IDC_DEFAULT_BROWSER_CHECK, IDS_DEFAULT_BROWSER}};
  for (const auto& [id, string_id] : texts)
    EXPECT_EQ(oracle_.Get(tags[1], string_id), options.Text(id)) << id;
  std::wstring user;
  ASSERT_TRUE(GetCurrentUserName(false, &user));
  const base::DictionaryValue* modes = options.Control(IDC_MODE_LIST);
  ASSERT_TRUE(modes);
  const base::ListValue* items = nullptr;
  ASSERT_TRUE(modes->GetList("items", &items));
  std::vector<std::string> mode_items;
  for (const auto& item : *items) {
    std::string text;
    item->GetAsString(&text);
    mode_items.push_back(text);
  }
  EXPECT_EQ((std::vector<std::string>{oracle_.Get(tags[1], IDS_MODE_ALL_USERS),
                                      oracle_.Get(tags[1], IDS_MODE_CURRENT_USER) + " (" + base::WideToUTF8(user) + ")",
                                      oracle_.Get(tags[1], IDS_MODE_STANDALONE)}),
            mode_items);
  // Windows 7, wine's default: the default-browser box is offered.
  EXPECT_EQ(1, options.Integer(IDC_DEFAULT_BROWSER_CHECK, "visible"));

  ASSERT_EQ(2u, options.boxes.size()) << options.output;
  for (const auto& box : options.boxes) {
    const base::DictionaryValue* seen = nullptr;
    ASSERT_TRUE(box->GetAsDictionary(&seen));
    std::string text;
    EXPECT_TRUE(seen->GetString("caption", &text));
    EXPECT_EQ(second_caption, text);
    EXPECT_TRUE(seen->GetString("text", &text));
    EXPECT_EQ(oracle_.Get(tags[1], IDS_CONFIRM_CANCEL), text);
    EXPECT_TRUE(seen->GetString("buttons.6", &text));
    EXPECT_EQ(oracle_.Get(tags[1], IDS_YES), text);
    EXPECT_TRUE(seen->GetString("buttons.7", &text));
    EXPECT_EQ(oracle_.Get(tags[1], IDS_NO), text);
  }

  std::string calls;
  const std::unique_ptr<base::Value> stats = HostStatistics(&calls);
  EXPECT_EQ("{\"call\":\"OnCancel\"}\n", calls);
  const base::DictionaryValue* root = nullptr;
  ASSERT_TRUE(stats && stats->GetAsDictionary(&root)) << HostOutput();
  const base::ListValue* pages = nullptr;
  ASSERT_TRUE(root->GetList("stats.ui.page_sequence", &pages)) << HostOutput();
  std::vector<std::string> sequence;
  for (const auto& page : *pages) {
    const base::DictionaryValue* entry = nullptr;
    ASSERT_TRUE(page->GetAsDictionary(&entry));
    std::string type;
    std::string action;
    entry->GetString("page_type", &type);
    entry->GetString("navigation_action", &action);
    int changed_language = 0;
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
  const std::string caption = oracle_.Get(GetAvailableUiLanguages()[0], IDS_WINDOW_CAPTION);
  // Windows of other programs on the display may have come to the front since the host started.
  const DriverReport before = Drive(caption, L"foreground read");
  ASSERT_EQ(IDC_ACCEPT_BUTTON, before.focus) << before.output;

  // Wine hands out no handle of a Linux program it starts: the window's accept tells when the keys arrived.
  std::wstring keys = L"Z:\\usr\\bin\\xdotool key Escape Tab Return Return";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION typist = {};
  ASSERT_TRUE(CreateProcessW(nullptr, keys.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &typist));
  CloseHandle(typist.hThread);
  CloseHandle(typist.hProcess);
  const HANDLE waits[] = {accepted.Get(), host_.Handle()};
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 60000)) << HostOutput();

  const DriverReport after = Drive(caption, L"read cancel box=6");
  EXPECT_EQ(1, after.WindowInteger("options_visible")) << after.output;
  EXPECT_EQ(IDC_ACCEPT_BUTTON, after.focus);
  std::string calls;
  const std::unique_ptr<base::Value> stats = HostStatistics(&calls);
  EXPECT_EQ("{\"call\":\"OnAccept\"}\n{\"call\":\"OnCancel\"}\n", calls) << HostOutput();
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
  const std::wstring shots = std::wstring(data) + L"/screenshots";
  ASSERT_TRUE(base::CreateDirectory(base::FilePath(test_support::TestDataDir()).Append(L"screenshots")));
  const std::string caption = oracle_.Get(GetAvailableUiLanguages()[0], IDS_WINDOW_CAPTION);
  const ScreenshotRow rows[] = {
      {"welcome", L""},
      {"error", L"--test-error=Broken"},
      {"progress_30", L"--test-run-immediately --test-progress=30"},
      {"progress_70", L"--test-run-immediately --test-progress=70"},
  };
  for (const ScreenshotRow& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_NO_FATAL_FAILURE(StartHost(row.switches));
    const DriverReport report = Drive(caption, L"read");
    const base::DictionaryValue* window = nullptr;
    ASSERT_TRUE(report.window && report.window->GetAsDictionary(&window)) << report.output;
    base::DictionaryValue geometry;
    const base::ListValue* client = nullptr;
    ASSERT_TRUE(window->GetList("rect", &client));
    geometry.Set("client", std::unique_ptr<base::Value>(client->DeepCopy()));
    for (const auto& [key, id] : {std::pair<const char*, int>{"title", IDC_TITLE},
                                  {"picture", IDC_PRODUCT_PICTURE},
                                  {"bar", IDC_PROGRESS_BAR}}) {
      const base::ListValue* rect = nullptr;
      ASSERT_TRUE(report.Control(id) && report.Control(id)->GetList("rect", &rect));
      geometry.Set(key, std::unique_ptr<base::Value>(rect->DeepCopy()));
    }
    std::string json;
    ASSERT_TRUE(base::JsonWriter::Write(geometry, &json));
    const base::FilePath geometry_file =
        base::FilePath(test_support::TestDataDir()).Append(L"screenshots").Append(base::UTF8ToWide(row.name) + L".json");
    ASSERT_EQ(static_cast<int>(json.size()), base::WriteFile(geometry_file, json.data(), static_cast<int>(json.size())));

    // Wine hands out no handle of a Linux program it starts: import's shell runs the driver last, which signals.
    const std::wstring done_name = test_support::UniqueName(L"screenshot_" + base::UTF8ToWide(row.name));
    base::win::ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, done_name.c_str()));
    std::wstring command = L"Z:\\usr\\bin\\sh -c \"import -window root '" + shots + L"/" +
                           base::UTF8ToWide(row.name) + L".png'; '" + loader + L"' '" +
                           test_support::ExecutableDir() + L"\\window_driver_test_child.exe' --signal=" + done_name +
                           L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION shooter = {};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &shooter));
    CloseHandle(shooter.hThread);
    CloseHandle(shooter.hProcess);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done.Get(), 60000));

    Drive(caption, L"close box=6");
    std::string calls;
    HostStatistics(&calls);
    EXPECT_EQ("{\"call\":\"OnCancel\"}\n", calls);
    host_ = base::Process();
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
  const std::string caption = oracle_.Get(GetAvailableUiLanguages()[0], IDS_WINDOW_CAPTION);
  for (const VersionRow& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(row.version));
    test_support::VersionedChildCopy host(L"installer_window_host_test_child.exe", row.version,
                                          row.declare_windows10);
    ASSERT_EQ("", host.error());
    ASSERT_NO_FATAL_FAILURE(StartHost(L"", host.Command()));
    const DriverReport report = Drive(caption, L"click=1001 read close box=6");
    EXPECT_EQ(row.default_browser_shown, report.Integer(IDC_DEFAULT_BROWSER_CHECK, "visible")) << report.output;
    EXPECT_EQ(1, report.Integer(IDC_IMPORT_DATA_CHECK, "visible"));
    std::string calls;
    HostStatistics(&calls);
    EXPECT_EQ("{\"call\":\"OnCancel\"}\n", calls);
    host_ = base::Process();
  }
}

}  // namespace
}  // namespace zorvi::installer
