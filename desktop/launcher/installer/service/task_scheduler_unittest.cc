#include "desktop/launcher/installer/service/task_scheduler.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/common/product/test_seams.h"
#include "testing/installer/recording_task_scheduler.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer {
namespace {

constexpr wchar_t kChild[] = L"task_scheduler_test_child.exe";

// Runs the scheduler child with `arguments` and returns its name=value answers (and its whole output).
std::map<std::string, std::string> RunChild(const std::wstring& arguments, std::string* output = nullptr) {
  DWORD exit_code = 1;
  std::string text;
  const std::wstring command = L"\"" + test_support::ExecutableDir() + L"\\" + kChild + L"\" " + arguments;
  EXPECT_TRUE(test_support::RunProcess(command, &exit_code, &text)) << "cannot start " << kChild;
  EXPECT_EQ(0u, exit_code) << text;
  if (output)
    *output = text;
  return test_support::ParseNameValueLines(text);
}

// The recording scheduler's file as a JSON object, null when it is missing or not one.
std::unique_ptr<base::Value> ReadRecord(const std::wstring& record, base::DictionaryValue** dictionary) {
  std::string text;
  std::unique_ptr<base::Value> root =
      test_support::ReadFileBytes(record, &text) ? base::JsonReader::Read(text) : nullptr;
  return root && root->GetAsDictionary(dictionary) ? std::move(root) : nullptr;
}

// From now on the scenario makes `calls` fail (none: every call succeeds); the tasks stay as recorded.
void SetFailingCalls(const std::wstring& record, const std::vector<std::string>& calls) {
  base::DictionaryValue* dictionary = nullptr;
  std::unique_ptr<base::Value> root = ReadRecord(record, &dictionary);
  ASSERT_TRUE(root) << "no record in " << base::WideToUTF8(record);
  auto list = std::make_unique<base::ListValue>();
  for (const std::string& call : calls)
    list->AppendString(call);
  dictionary->SetWithoutPathExpansion("fail", std::move(list));
  std::string text;
  ASSERT_TRUE(base::JsonWriter::Write(*dictionary, &text));
  ASSERT_TRUE(test_support::WriteFileBytes(record, text));
}

// The recorded tasks, whole, as JSON text.
std::string RecordedTasks(const std::wstring& record) {
  base::DictionaryValue* dictionary = nullptr;
  base::Value* tasks = nullptr;
  std::string text;
  const std::unique_ptr<base::Value> root = ReadRecord(record, &dictionary);
  if (root && dictionary->GetWithoutPathExpansion("tasks", &tasks))
    base::JsonWriter::Write(*tasks, &text);
  return text;
}

std::set<std::string> RecordedTaskNames(const std::wstring& record) {
  std::set<std::string> names;
  base::DictionaryValue* dictionary = nullptr;
  base::Value* tasks = nullptr;
  const std::unique_ptr<base::Value> root = ReadRecord(record, &dictionary);
  if (root && dictionary->GetWithoutPathExpansion("tasks", &tasks) && tasks->GetAsDictionary(&dictionary)) {
    for (base::DictionaryValue::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance())
      names.insert(it.key());
  }
  return names;
}

TEST(TaskSchedulerTest, StaleSweepOnlyLooksAtTheProductsTasks) {
  SetBrandingTextForTesting("{\"product_name\": \"Zorvi\"}");
  const std::wstring own = GetScheduledTaskName(L"Autoupdate 0123");
  struct Case {
    std::wstring name;
    bool considered;
  } const cases[] = {
      {own, true},
      // The scheduler keeps the case it was given; names compare without it.
      {base::UTF8ToWide(base::ToUpperASCII(base::WideToUTF8(own))), true},
      {base::UTF8ToWide(base::ToLowerASCII(base::WideToUTF8(own))), true},
      {GetScheduledTaskName(L""), true},
      {L"Zorvi scheduled", false},  // no blank after "scheduled"
      {L"Zorvi scheduledAutoupdate 0123", false},
      {L" scheduled Autoupdate 0123", false},  // what a filter without the product would take
      {L"Zorvix scheduled Autoupdate 0123", false},
      {L"Other scheduled Autoupdate 0123", false},
      {L"Autoupdate 0123", false},
      {L"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.considered, IsProductTaskName(c.name)) << base::WideToUTF8(c.name);

  // Outside ASCII the case counts: a product named with an umlaut matches only itself.
  SetBrandingTextForTesting("{\"product_name\": \"Z\xc3\xb6rvi\"}");
  EXPECT_EQ(L"Z\u00f6rvi scheduled x", GetScheduledTaskName(L"x"));
  EXPECT_TRUE(IsProductTaskName(L"z\u00f6RVI SCHEDULED x"));
  EXPECT_FALSE(IsProductTaskName(L"Z\u00d6rvi scheduled x"));
}

// The sweep judges a task's program as the scheduler starts it: quoted, or with environment strings, the path
// of an existing file is not gone; what cannot be judged stays too.
TEST(TaskSchedulerTest, AProgramIsGoneOnlyWhenItSurelyIs) {
  const test_support::ScopedTestFolder folder(L"task_program");
  const std::wstring launcher = folder.path() + L"\\launcher.exe";
  ASSERT_TRUE(test_support::WriteFileBytes(launcher, "MZ"));
  ASSERT_TRUE(SetEnvironmentVariableW(L"ZORVI_TASK_TEST_FOLDER", folder.path().c_str()));
  const std::wstring missing = folder.path() + L"\\removed\\launcher.exe";
  const struct {
    std::wstring program;
    bool gone;
  } cases[] = {
      {launcher, false},
      {L"\"" + launcher + L"\"", false},
      {L"%ZORVI_TASK_TEST_FOLDER%\\launcher.exe", false},
      {L"\"%ZORVI_TASK_TEST_FOLDER%\\launcher.exe\"", false},
      {missing, true},
      {L"\"" + missing + L"\"", true},
      {L"%ZORVI_TASK_TEST_FOLDER%\\removed\\launcher.exe", true},
      {L"%ZORVI_TASK_TEST_UNSET%\\launcher.exe", false},
      {L"launcher.exe", false},
      {L"\"", false},
      {L"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.gone, IsTaskProgramGone(c.program)) << base::WideToUTF8(c.program);
  SetEnvironmentVariableW(L"ZORVI_TASK_TEST_FOLDER", nullptr);
}

TEST(TaskSchedulerTest, WindowsVersionPicksTheSchedulerInterfaces) {
  struct Case {
    const wchar_t* wine_version;
    const char* scheduler;
  } const cases[] = {{L"winxp", "v1"}, {L"vista", "v2"}, {L"win10", "v2"}};
  for (const Case& c : cases) {
    std::string output, error;
    ASSERT_TRUE(test_support::RunChildUnderWindowsVersion(kChild, c.wine_version, true, L"--product=Zorvi",
                                                          &output, &error))
        << error;
    const auto answers = test_support::ParseNameValueLines(output);
    EXPECT_EQ(c.scheduler, answers.at("scheduler")) << base::WideToUTF8(c.wine_version);
    EXPECT_EQ("1", answers.at("init")) << "both schedulers connect under wine";
  }
}

// An install, an upgrade and an uninstall clean-up in separate processes share the recording scheduler's file;
// testdata_check.sh then reads the file and the inputs with Python's json, and the install's task against the
// host's branding and strings.
TEST(RecordingTaskSchedulerTest, ProcessesShareTheRecordedTasks) {
  const test_support::ScopedTestFolder folder(L"recorded_tasks");
  const std::wstring data = test_support::TestDataDir();
  const std::wstring record_dir = data.empty() ? folder.path() : data;
  const std::wstring record = record_dir + L"\\recorded_tasks.json";
  test_support::RemoveTree(record);
  const std::wstring launcher = folder.path() + L"\\launcher.exe";
  ASSERT_TRUE(test_support::WriteFileBytes(launcher, "MZ"));
  const std::wstring description = L"Keeps Zorvi up to date \u00e6\u00f8\u00e5";
  std::string program_json = base::WideToUTF8(launcher);
  base::ReplaceSubstringsAfterOffset(&program_json, 0, "\\", "\\\\");
  const std::string inputs = "{\"program\": \"" + program_json + "\"}";
  ASSERT_TRUE(test_support::WriteFileBytes(record_dir + L"\\recorded_inputs.json", inputs));
  const std::wstring common = L"--product=Zorvi \"--recording=" + record + L"\" \"--suffix=Autoupdate 0123\" ";
  const std::wstring create = common + L"--create \"--program=" + launcher + L"\" \"--description=" +
                              description + L"\" --limit=3600 --network --state ";

  // Install: the autoupdate task as the finalizing step makes it, with the host's branding and strings.
  auto answers = RunChild(L"\"--recording=" + record + L"\" \"--create-autoupdate=" + folder.path() +
                          L"\" --app-id=0123 \"--suffix=Autoupdate 0123\" --state");
  EXPECT_EQ("recording", answers["scheduler"]);
  EXPECT_EQ("1", answers["create"]);
  EXPECT_EQ("3", answers["state"]);
  std::string installed;
  ASSERT_TRUE(test_support::ReadFileBytes(record, &installed));
  ASSERT_TRUE(test_support::WriteFileBytes(record_dir + L"\\recorded_install.json", installed));

  // Another product's task whose program is gone.
  EXPECT_EQ("1", RunChild(L"--product=Other \"--recording=" + record +
                          L"\" \"--suffix=Autoupdate 0123\" --create --program=C:\\gone\\launcher.exe --kind=2")
                     ["create"]);

  // This process sees the task the child registered and changes it.
  SetBrandingTextForTesting("{\"product_name\": \"Zorvi\"}");
  test_support::UseRecordingTaskSchedulerForTesting(base::FilePath(record));
  {
    std::unique_ptr<TaskScheduler> scheduler(CreateTaskScheduler());
    ASSERT_TRUE(scheduler->Init());
    EXPECT_TRUE(scheduler->Run(L"Autoupdate 0123", {"now"}));
    EXPECT_FALSE(scheduler->Run(L"Autoupdate 9999", {})) << "no such task";
    scheduler->SetEnabled(L"Autoupdate 0123", false);
    EXPECT_EQ(kTaskStateDisabled, scheduler->GetState(L"Autoupdate 0123"));
    scheduler->SetEnabled(L"Autoupdate 0123", true);
    EXPECT_EQ(kTaskStateReady, scheduler->GetState(L"Autoupdate 0123"));
  }
  test_support::UseRecordingTaskSchedulerForTesting(base::FilePath());

  // Upgrade: the same name, now without triggers; then an upgrade whose Create the scenario makes fail keeps it.
  EXPECT_EQ("1", RunChild(create + L"--kind=2")["create"]);
  ASSERT_NO_FATAL_FAILURE(SetFailingCalls(record, {"Create"}));
  answers = RunChild(create + L"--kind=1 --logon");
  EXPECT_EQ("0", answers["create"]);
  EXPECT_EQ("3", answers["state"]) << "a failed Create keeps the registered task";

  // The other product's task survives this product's sweep; this product's goes with its program.
  ASSERT_TRUE(test_support::RemoveTree(launcher));
  EXPECT_EQ("0", RunChild(common + L"--remove-stale --state")["state"]);
  EXPECT_EQ("3", RunChild(L"--product=Other \"--recording=" + record + L"\" \"--suffix=Autoupdate 0123\" --state")
                     ["state"]);

  // A record that is not JSON fails the scheduler's start with a clear error and is left as it was.
  const std::wstring damaged = folder.path() + L"\\damaged.json";
  ASSERT_TRUE(test_support::WriteFileBytes(damaged, "{\"tasks\": "));
  std::string output, text;
  EXPECT_EQ("0", RunChild(L"--product=Zorvi \"--recording=" + damaged + L"\" --state", &output)["init"]);
  EXPECT_NE(std::string::npos, output.find("are not a JSON object")) << output;
  ASSERT_TRUE(test_support::ReadFileBytes(damaged, &text));
  EXPECT_EQ("{\"tasks\": ", text);
}

// The installer's two uses: registering an installation's task and removing it again. Each row starts from the
// recorded tasks the previous rows left; the names of the tasks the file holds afterwards are compared whole.
TEST(RecordingTaskSchedulerTest, InstallationsRegisterAndRemoveTheirAutoupdateTask) {
  const test_support::ScopedTestFolder folder(L"autoupdate_task");
  const std::wstring record = folder.path() + L"\\tasks.json";
  const base::FilePath install(folder.path());
  ASSERT_TRUE(test_support::WriteFileBytes(folder.path() + L"\\launcher.exe", "MZ"));
  test_support::UseRecordingTaskSchedulerForTesting(base::FilePath(record));
  // Another product's task, and a task of this product whose installation was removed by hand.
  SetBrandingTextForTesting("{\"product_name\": \"Other\"}");
  ASSERT_TRUE(CreateAutoupdateTask(base::FilePath(L"C:\\gone"), L"1", false));
  SetBrandingTextForTesting("{\"product_name\": \"Zorvi\"}");
  ASSERT_TRUE(CreateAutoupdateTask(base::FilePath(L"C:\\gone"), L"2", true));
  const std::string other = "Other scheduled Autoupdate 1";
  const std::string own = "Zorvi scheduled Autoupdate 0123";

  struct Row {
    const char* what;
    std::vector<std::string> failing_calls;
    std::function<bool()> call;
    bool result;
    std::set<std::string> tasks;
    bool unchanged;  // every task keeps its whole definition
  } const rows[] = {
      {"install: the stale task goes, the installation's comes", {},
       [&] { return CreateAutoupdateTask(install, L"0123", false); }, true, {other, own}, false},
      {"a scheduler that cannot be reached registers nothing", {"Init"},
       [&] { return CreateAutoupdateTask(install, L"0456", false); }, false, {other, own}, true},
      {"a refused task keeps the one registered", {"Create"},
       [&] { return CreateAutoupdateTask(install, L"0123", true); }, false, {other, own}, true},
      {"a refused registration after the deletion registers the replaced task again", {"Register"},
       [&] { return CreateAutoupdateTask(install, L"0123", true); }, false, {other, own}, true},
      {"an uninstallation that cannot reach the scheduler removes nothing", {"Init"},
       [&] { RemoveAutoupdateTask("0123"); return true; }, true, {other, own}, true},
      {"uninstall: only the installation's own task goes", {},
       [&] { RemoveAutoupdateTask("0123"); return true; }, true, {other}, false},
  };
  for (const Row& row : rows) {
    ASSERT_NO_FATAL_FAILURE(SetFailingCalls(record, row.failing_calls));
    const std::string before = RecordedTasks(record);
    EXPECT_EQ(row.result, row.call()) << row.what;
    EXPECT_EQ(row.tasks, RecordedTaskNames(record)) << row.what;
    if (row.unchanged) {
      EXPECT_EQ(before, RecordedTasks(record)) << row.what;
    }
  }
  test_support::UseRecordingTaskSchedulerForTesting(base::FilePath());
}

}  // namespace
}  // namespace zorvi::installer
