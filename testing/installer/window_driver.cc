#include "testing/installer/window_driver.h"

#include <gtest/gtest.h>

#include "base/json/json_reader.h"
#include "base/strings/string_split.h"
#include "base/strings/stringprintf.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"
#include "testing/test_support.h"

namespace test_support {
namespace {

constexpr DWORD kWaitMs = 90000;

struct DialogSearch {
  DWORD process_id;
  HWND found = nullptr;
  int count = 0;
};

BOOL CALLBACK FindProcessDialog(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<DialogSearch*>(data);
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

std::string Join(const base::ListValue& list) {
  std::string joined;
  std::string text;
  for (const auto& item : list)
    joined += (item->GetAsString(&text) ? text : "?") + "\n";
  return joined;
}

}  // namespace

StringOracle::StringOracle(const std::wstring& file) {
  std::string json;
  if (ReadFileBytes(TestDataDir() + L"\\" + file, &json))
    root_ = base::JsonReader::Read(json);
  if (!root_ || !root_->GetAsDictionary(&tables_))
    ADD_FAILURE() << "no string tables in " << std::string(file.begin(), file.end());
}

std::string StringOracle::Get(const std::wstring& tag, int id) const {
  std::string text;
  if (tables_) {
    tables_->GetString(base::StringPrintf("tables.0x%04x.%d:%d", zorvi::installer::LookupLcid(tag), id / 16 + 1,
                                          id % 16),
                       &text);
  }
  return text;
}

std::vector<std::wstring> StringOracle::Languages() const {
  std::vector<std::wstring> tags;
  const base::ListValue* list = nullptr;
  std::string tag;
  if (tables_ && tables_->GetList("languages", &list)) {
    for (const auto& item : *list)
      tags.push_back(item->GetAsString(&tag) ? std::wstring(tag.begin(), tag.end()) : L"?");
  }
  return tags;
}

int DriverReport::Integer(int id, const char* key) const {
  int value = -1;
  controls->GetInteger(std::to_string(id) + "." + key, &value);
  return value;
}

std::string DriverReport::Text(int id) const {
  std::string text;
  controls->GetString(std::to_string(id) + ".text", &text);
  return text;
}

std::vector<std::string> DriverReport::Texts(int id, const char* key) const {
  const base::ListValue* list = nullptr;
  std::vector<std::string> texts;
  std::string text;
  if (controls->GetList(std::to_string(id) + "." + key, &list)) {
    for (const auto& item : *list)
      texts.push_back(item->GetAsString(&text) ? text : "?");
  }
  return texts;
}

std::vector<int> DriverReport::Integers(int id, const char* key) const {
  const base::ListValue* list = nullptr;
  std::vector<int> values;
  if (controls->GetList(std::to_string(id) + "." + key, &list)) {
    for (const auto& item : *list)
      item->GetAsInteger(&values.emplace_back());
  }
  return values;
}

std::string DriverReport::WindowText(const char* key) const {
  std::string text;
  window->GetString(key, &text);
  return text;
}

int DriverReport::WindowInteger(const char* key) const {
  int value = -1;
  window->GetInteger(key, &value);
  return value;
}

std::string DriverReport::BoxText(size_t index, const char* path) const {
  const base::DictionaryValue* box = nullptr;
  const base::ListValue* list = nullptr;
  std::string text;
  if (index < boxes.size() && boxes[index]->GetAsDictionary(&box) && !box->GetString(path, &text) &&
      box->GetList(path, &list)) {
    text = Join(*list);
  }
  return text;
}

std::vector<std::string> PageSequence(const base::DictionaryValue& stats, const std::string& path, bool actions) {
  std::vector<std::string> pages;
  const base::ListValue* list = nullptr;
  if (stats.GetList(path, &list)) {
    for (const auto& page : *list) {
      const base::DictionaryValue* entry = nullptr;
      std::string type = "?", action = "?";
      int changed_language = 0;
      if (page->GetAsDictionary(&entry) && entry->GetString("page_type", &type) && actions) {
        entry->GetString("navigation_action", &action);
        entry->GetInteger("changed_language", &changed_language);
      }
      pages.push_back(actions ? type + ":" + action + ":" + std::to_string(changed_language) : type);
    }
  }
  return pages;
}

DriverReport DriveWindow(HWND window, const std::wstring& actions) {
  DriverReport report;
  DWORD exit_code = 0;
  EXPECT_TRUE(RunProcess(L"\"" + ExecutableDir() + L"\\window_driver_test_child.exe\" --window=" +
                             std::to_wstring(reinterpret_cast<uintptr_t>(window)) + L" " + actions,
                         &exit_code, &report.output));
  EXPECT_EQ(0u, exit_code) << report.output;
  for (const std::string& line :
       base::SplitString(report.output, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    std::unique_ptr<base::Value> value = base::JsonReader::Read(line);
    base::DictionaryValue* dictionary = nullptr;
    std::unique_ptr<base::Value> part;
    base::DictionaryValue* part_dictionary = nullptr;
    int id = 0;
    if (!value || !value->GetAsDictionary(&dictionary)) {
      ADD_FAILURE() << "not JSON: " << line;
    } else if (dictionary->GetInteger("control", &id)) {
      if (!report.controls->Get(std::to_string(id), nullptr))
        report.controls->Set(std::to_string(id), std::move(value));
    } else if (dictionary->GetInteger("focus", &report.focus)) {
    } else if (dictionary->Remove("window", &part)) {
      if (report.window->empty() && part->GetAsDictionary(&part_dictionary))
        report.window->Swap(part_dictionary);
    } else if (dictionary->Remove("box", &part)) {
      report.boxes.push_back(std::move(part));
    }
  }
  return report;
}

void StartLinuxProgram(std::wstring command_line) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

WindowProgram::WindowProgram(const std::wstring& command_line, const std::wstring& output_file,
                             const std::wstring& environment, const std::wstring& folder)
    : output_file_(output_file) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  HANDLE output = INVALID_HANDLE_VALUE;
  if (!output_file.empty()) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    output = CreateFileW(output_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0,
                         nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, output);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
  }
  std::wstring command = command_line;
  EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, output != INVALID_HANDLE_VALUE,
                             DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT,
                             environment.empty() ? nullptr : const_cast<wchar_t*>(environment.c_str()),
                             folder.empty() ? nullptr : folder.c_str(), &startup, &process_))
      << "cannot start " << std::string(command_line.begin(), command_line.end());
  if (output != INVALID_HANDLE_VALUE)
    CloseHandle(output);
}

WindowProgram::~WindowProgram() {
  if (process_.hProcess) {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
}

HWND WindowProgram::WaitForWindow(HANDLE ready) {
  if (ready) {
    const HANDLE waits[] = {ready, process_.hProcess};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, kWaitMs)) << Output();
  } else {
    EXPECT_EQ(0u, WaitForInputIdle(process_.hProcess, kWaitMs));
  }
  HWND found = nullptr;
  EXPECT_EQ(1, DialogCount(&found)) << Output();
  return found;
}

int WindowProgram::DialogCount(HWND* found) const {
  DialogSearch search{process_.dwProcessId};
  EnumWindows(&FindProcessDialog, reinterpret_cast<LPARAM>(&search));
  if (found)
    *found = search.count == 1 ? search.found : nullptr;
  return search.count;
}

DWORD WindowProgram::Wait() {
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process_.hProcess, kWaitMs)) << Output();
  DWORD exit_code = STILL_ACTIVE;
  GetExitCodeProcess(process_.hProcess, &exit_code);
  return exit_code;
}

std::string WindowProgram::Output() const {
  std::string text;
  if (!output_file_.empty())
    ReadFileBytes(output_file_, &text);
  return text;
}

}  // namespace test_support
