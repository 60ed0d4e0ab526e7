#include "desktop/launcher/installer/records/install_log.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/records/install_log_test_util.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/service/xml_document.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

// What the Linux side checks of the files written here (testdata_check.sh): xmllint accepts every one and reads
// its XPath facts, od finds no CR or tab and a final LF, and xml.etree rebuilds each file's model.

namespace zorvi {
namespace installer {
namespace {

const base::FilePath kJunk(L"C:\\left over from before the load");

class InstallLogTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    data_ = base::FilePath(test_support::TestDataDir());
    ASSERT_FALSE(data_.empty()) << "ZORVI_TESTDATA is not set";
  }
  void TearDown() override { CoUninitialize(); }

  // Loads `path` into *log, which holds an earlier log first, and checks what a load leaves of that: nothing of
  // its lists; and when the load fails, empty lists and the earlier values of every other field.
  static bool LoadOverEarlierLog(const base::FilePath& path, InstallLog* log) {
    InstallLog earlier;
    earlier.copy_only = true;
    earlier.version = "earlier";
    earlier.subfolder = kJunk;
    earlier.desktop_shortcut = kJunk;
    earlier.files = {kJunk};
    earlier.root_files = {kJunk};
    earlier.machine_keys.assign(1, InstallLogKey{7, kJunk.AsUTF8(), {}});
    earlier.user_keys = earlier.machine_keys;
    *log = earlier;
    XmlDocument document;
    const bool loaded = LoadInstallLog(&document, log, path);
    if (!loaded) {
      earlier.files.clear();
      earlier.root_files.clear();
      earlier.machine_keys.clear();
      earlier.user_keys.clear();
      EXPECT_TRUE(*log == earlier) << "a refused file changed the log: " << path.AsUTF8();
    }
    const auto old_key = [](const InstallLogKey& key) { return key.path == kJunk.AsUTF8(); };
    EXPECT_TRUE(std::count(log->files.begin(), log->files.end(), kJunk) == 0 &&
                std::count(log->root_files.begin(), log->root_files.end(), kJunk) == 0 &&
                std::none_of(log->machine_keys.begin(), log->machine_keys.end(), old_key) &&
                std::none_of(log->user_keys.begin(), log->user_keys.end(), old_key))
        << "the earlier lists survived loading " << path.AsUTF8();
    return loaded;
  }

  base::FilePath data_;
};

// Two models serialize byte for byte to the files laid out by hand from the layout rules: an all-users
// installation with every element kind, and one that recorded no file, whose `<files/>` then does not load.
TEST_F(InstallLogTest, ModelsSerializeToTheHandLaidFiles) {
  const struct {
    const wchar_t* name;
    bool loads;
  } cases[] = {{L"full", true}, {L"no_files", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<InstallLog> models = ReadJsonModels(data_.Append(std::wstring(c.name) + L"_model.json"));
    ASSERT_EQ(1u, models.size());
    std::string expected;
    ASSERT_TRUE(base::ReadFileToString(data_.Append(std::wstring(c.name) + L"_log.xml"), &expected));
    const base::FilePath written = data_.Append(L"written").Append(std::wstring(c.name) + L"_log.xml");
    ASSERT_TRUE(SaveInstallLog(models[0], written));
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(written, &text));
    EXPECT_EQ(expected, text);

    InstallLog loaded;
    EXPECT_EQ(c.loads, LoadOverEarlierLog(written, &loaded));
    if (c.loads) {
      EXPECT_TRUE(loaded == models[0]);
    }
  }
}

// Tests over many files run in shards side by side: shard k takes every kShards-th file from the k-th on.
constexpr int kShards = 8;

class InstallLogShardTest : public InstallLogTest, public testing::WithParamInterface<int> {};

INSTANTIATE_TEST_SUITE_P(Shards, InstallLogShardTest, testing::Range(0, kShards));

// Random models from the Python oracle (markup characters, quotes, inner blanks and non-ASCII in every text,
// registry writes merged by key) come back from their files unchanged.
TEST_P(InstallLogShardTest, RandomModelsSurviveSaveAndLoad) {
  const std::vector<InstallLog> models = ReadJsonModels(data_.Append(L"random_models.json"));
  ASSERT_GT(models.size(), static_cast<size_t>(kShards));
  int failures = 0;
  for (size_t i = GetParam(); i < models.size() && failures < 5; i += kShards) {
    const base::FilePath path = data_.Append(L"written\\random").Append(base::StringPrintf(L"%04zu.xml", i));
    InstallLog loaded;
    XmlDocument document;
    const bool survived =
        SaveInstallLog(models[i], path) && LoadInstallLog(&document, &loaded, path) && loaded == models[i];
    EXPECT_TRUE(survived) << "model " << i << ": " << path.AsUTF8();
    failures += survived ? 0 : 1;
  }
}

// Damaged copies of a valid file from the Python oracle each load or are refused, never crash the reader, and a
// file that loads has its one required file.
TEST_P(InstallLogShardTest, DamagedFilesLoadOrFail) {
  // Thousands of refusals would each log an error.
  const int log_level = logging::GetMinLogLevel();
  logging::SetMinLogLevel(logging::LOG_FATAL);
  int count = 0;
  int loaded = 0;
  for (int i = GetParam();; i += kShards, ++count) {
    const base::FilePath path = data_.Append(L"mutations").Append(base::StringPrintf(L"%05d.xml", i));
    if (!base::PathExists(path))
      break;
    InstallLog log;
    if (LoadOverEarlierLog(path, &log)) {
      ++loaded;
      EXPECT_FALSE(log.files.empty()) << path.AsUTF8();
    }
  }
  logging::SetMinLogLevel(log_level);
  // Both outcomes occur, or the damage would not reach the reader's rules.
  ASSERT_GT(count, 0);
  EXPECT_GT(loaded, 0);
  EXPECT_LT(loaded, count);
}

// Every rule of the element table broken once, and what a file may vary without breaking one.
TEST_F(InstallLogTest, LoadFollowsTheElementRules) {
  const std::string head =
      "<?xml version=\"1.0\"?>\n<install_log version=\"3.1\" copy_only=\"False\" all_users=\"True\" "
      "pinned=\"False\" app_id=\"x\">\n <path subfolder=\"3.1\">C:\\Zorvi</path>\n <files>\n  <file>C:\\Zorvi\\a"
      "</file>\n </files>\n";
  const std::string tail = "</install_log>\n";
  const std::string key = "<key path=\"Software\\Zorvi\" clean=\"1\"><value name=\"n\" type=\"REG_SZ\">d</value></key>";
  using Check = std::function<void(const InstallLog&)>;
  const struct {
    const char* name;
    std::string xml;
    bool loads;
    Check check;
  } cases[] = {
      {"ends after files", head + tail, true,
       [](const InstallLog& log) {
         EXPECT_EQ(std::vector<base::FilePath>{base::FilePath(L"C:\\Zorvi\\a")}, log.files);
       }},
      {"ends after root files", head + "<root_files><file>C:\\Zorvi\\r</file></root_files>" + tail, true,
       [](const InstallLog& log) { EXPECT_EQ(1u, log.root_files.size()); }},
      {"lower-case true is false",
       "<?xml version=\"1.0\"?><install_log version=\"1\" copy_only=\"true\" all_users=\"TRUE\" pinned=\"True\">"
       "<path>C:\\Z</path><files><file>f</file></files></install_log>",
       true,
       [](const InstallLog& log) {
         EXPECT_FALSE(log.copy_only);
         EXPECT_FALSE(log.all_users);
         EXPECT_TRUE(log.pinned);
         EXPECT_EQ(kJunk, log.subfolder) << "an absent subfolder keeps the earlier one";
       }},
      {"texts trimmed, comments and blank lines skipped",
       "<?xml version=\"1.0\"?>\n<!-- c -->\n<install_log version=\"1\" copy_only=\"False\" all_users=\"False\" "
       "pinned=\"False\">\n<!-- c --><path subfolder=\" s \">\n   C:\\Z Z   \n</path>\n\n<files>\n<!-- c -->\n"
       "<file>  C:\\f g  </file></files><registry hive=\"HKLM\"><key path=\" k \" clean=\"-3\"><value name=\" \" "
       "type=\"t\">  d e  </value></key></registry></install_log>",
       true,
       [](const InstallLog& log) {
         EXPECT_EQ(L"s", log.subfolder.value());
         EXPECT_EQ(L"C:\\Z Z", log.installation_path.value());
         EXPECT_EQ(L"C:\\f g", log.files.at(0).value());
         ASSERT_EQ(1u, log.machine_keys.size());
         EXPECT_TRUE((log.machine_keys[0] == InstallLogKey{-3, " k ", {{"t", " ", "d e"}}}));
       }},
      {"two HKCU registry elements append to one list",
       head + "<registry hive=\"HKCU\">" + key + "</registry><registry hive=\"HKCU\">" +
           "<key path=\"Software\\Other\" clean=\"0\"/></registry>" + tail,
       true,
       [](const InstallLog& log) {
         ASSERT_EQ(2u, log.user_keys.size());
         EXPECT_EQ("Software\\Zorvi", log.user_keys[0].path);
         EXPECT_EQ(1u, log.user_keys[0].values.size());
         EXPECT_EQ("Software\\Other", log.user_keys[1].path);
         EXPECT_TRUE(log.user_keys[1].values.empty());
         EXPECT_TRUE(log.machine_keys.empty());
       }},
      {"both names of a kind fill one shortcut, the later one wins",
       head + "<shortcut type=\"SC_DEST_COMMON_DESKTOP\">C:\\1.lnk</shortcut><shortcut type=\"SC_DEST_DESKTOP\">"
              "C:\\2.lnk</shortcut><shortcut type=\"SC_DEST_MENU\">C:\\m.lnk</shortcut>" + tail,
       true,
       [](const InstallLog& log) {
         EXPECT_EQ(L"C:\\2.lnk", log.desktop_shortcut.value());
         EXPECT_EQ(L"C:\\m.lnk", log.start_menu_shortcut.value());
         EXPECT_TRUE(log.quick_launch_shortcut.empty());
       }},
      {"key without clean", head + "<registry hive=\"HKLM\"><key path=\"k\"/></registry>" + tail, false, nullptr},
      {"clean not a number", head + "<registry hive=\"HKLM\"><key path=\"k\" clean=\"1x\"/></registry>" + tail,
       false, nullptr},
      {"clean empty", head + "<registry hive=\"HKLM\"><key path=\"k\" clean=\"\"/></registry>" + tail, false,
       nullptr},
      {"key without path", head + "<registry hive=\"HKLM\"><key clean=\"1\"/></registry>" + tail, false, nullptr},
      {"unknown hive", head + "<registry hive=\"HKCR\">" + key + "</registry>" + tail, false, nullptr},
      {"registry without key", head + "<registry hive=\"HKLM\"/>" + tail, false, nullptr},
      {"value without type",
       head + "<registry hive=\"HKLM\"><key path=\"k\" clean=\"1\"><value name=\"n\">d</value></key></registry>" +
           tail,
       false, nullptr},
      {"unknown shortcut type", head + "<shortcut type=\"SC_DEST_STARTUP\">C:\\s.lnk</shortcut>" + tail, false,
       nullptr},
      {"registry after a shortcut",
       head + "<shortcut type=\"SC_DEST_MENU\">C:\\m.lnk</shortcut><registry hive=\"HKLM\">" + key +
           "</registry>" + tail,
       false, nullptr},
      {"unknown element", head + "<extra/>" + tail, false, nullptr},
      {"files without file",
       "<?xml version=\"1.0\"?><install_log version=\"1\" copy_only=\"False\" all_users=\"False\" pinned=\"False\">"
       "<path>C:\\Z</path><files>\n  \n</files></install_log>",
       false, nullptr},
      {"files holding another element",
       "<?xml version=\"1.0\"?><install_log version=\"1\" copy_only=\"False\" all_users=\"False\" pinned=\"False\">"
       "<path>C:\\Z</path><files><file>a</file><dir>b</dir></files></install_log>",
       false, nullptr},
      {"no version",
       "<?xml version=\"1.0\"?><install_log copy_only=\"False\" all_users=\"False\" pinned=\"False\">"
       "<path>C:\\Z</path><files><file>a</file></files></install_log>",
       false, nullptr},
      {"path not first",
       "<?xml version=\"1.0\"?><install_log version=\"1\" copy_only=\"False\" all_users=\"False\" pinned=\"False\">"
       "<files><file>a</file></files><path>C:\\Z</path></install_log>",
       false, nullptr},
      {"another root", "<?xml version=\"1.0\"?><log/>", false, nullptr},
      {"not well-formed", head, false, nullptr},
      {"empty file", "", false, nullptr},
  };
  const base::FilePath folder = data_.Append(L"load_cases");
  ASSERT_TRUE(base::CreateDirectory(folder));
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const base::FilePath path = folder.Append(base::StringPrintf(L"%02d.xml", index++));
    ASSERT_EQ(static_cast<int>(c.xml.size()), base::WriteFile(path, c.xml.data(), static_cast<int>(c.xml.size())));
    InstallLog log;
    EXPECT_EQ(c.loads, LoadOverEarlierLog(path, &log));
    if (c.check)
      c.check(log);
  }
  InstallLog log;
  EXPECT_FALSE(LoadOverEarlierLog(folder.Append(L"missing.xml"), &log));
}

// Non-ASCII folder, file, key and value names round trip whatever the ANSI code page of the process that wrote
// or reads the file: here under the prefix's default page, and in a child under code page 932, each process
// reading the other's file.
TEST_F(InstallLogTest, NonAsciiNamesSurviveAnyAnsiCodePage) {
  const base::FilePath parent = data_.Append(L"non_ascii\\default");
  const base::FilePath folder = NonAsciiInstallFolder(parent);
  ASSERT_TRUE(base::CreateDirectory(folder));
  const base::FilePath path = folder.Append(kInstallLogFileName);
  ASSERT_TRUE(SaveInstallLog(MakeNonAsciiInstallLog(folder), path));
  InstallLog loaded;
  XmlDocument document;
  ASSERT_TRUE(LoadInstallLog(&document, &loaded, path)) << "code page " << GetACP();
  EXPECT_TRUE(loaded == MakeNonAsciiInstallLog(folder)) << "code page " << GetACP();
  ASSERT_EQ(0, base::WriteFile(data_.Append(L"non_ascii\\default.done"), "", 0));

  // Wine takes a process's ANSI code page from the locale of its Unix environment, which a Windows parent cannot
  // set for a Windows child; the child is therefore started through the Unix env program with wine's loader.
  // Wine hands out no handle of a Unix process, so the child reports through a file and an event.
  if (!test_support::IsRunningUnderWine())
    GTEST_SKIP() << "a child with another ANSI code page needs another system locale, set only with a restart";
  wchar_t loader[MAX_PATH] = L"";
  ASSERT_NE(0u, GetEnvironmentVariableW(L"WINELOADER", loader, MAX_PATH)) << "wine sets WINELOADER";
  const base::FilePath child_parent = data_.Append(L"non_ascii\\cp932");
  ASSERT_TRUE(base::CreateDirectory(child_parent));
  const std::wstring event_name = test_support::UniqueName(L"install_log_child_done");
  test_support::ScopedTestHandle done(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(done.valid());
  std::wstring command = base::StringPrintf(
      L"Z:\\usr\\bin\\env LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8 /usr/bin/setarch x86_64 --addr-no-randomize "
      L"%ls \"%ls\" \"%ls\" \"%ls\" \"%ls\"",
      loader, test::TestProgram(L"install_log_test_child.exe").value().c_str(), parent.value().c_str(),
      child_parent.value().c_str(), event_name.c_str());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process))
      << base::WideToUTF8(command);
  test_support::ScopedTestHandle process_handle(process.hProcess), thread_handle(process.hThread);
  // The bound only ends a hung child; a working one signals within a few seconds.
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done.get(), 120000)) << base::WideToUTF8(command);
  std::string report;
  ASSERT_TRUE(base::ReadFileToString(child_parent.Append(L"result.txt"), &report));
  ASSERT_EQ("acp=932 result=0", report)
      << "the code page must be 932 (is the ja_JP.UTF-8 locale generated?); result 4: the parent's log, "
         "5: saving, 6: the child's own log differs";
  const base::FilePath child_folder = NonAsciiInstallFolder(child_parent);
  InstallLog from_child;
  ASSERT_TRUE(LoadInstallLog(&document, &from_child, child_folder.Append(kInstallLogFileName)));
  EXPECT_TRUE(from_child == MakeNonAsciiInstallLog(child_folder));
  ASSERT_EQ(0, base::WriteFile(data_.Append(L"non_ascii\\cp932.done"), "", 0));
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
