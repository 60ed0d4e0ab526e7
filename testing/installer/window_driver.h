// The installer window of another process, as its end-to-end tests see it: the program that shows it started
// with its output in a file, its one dialog found once it waits for the user, read and worked by
// window_driver_test_child.exe (whose JSON lines become one report), and the host's string tables as pefile read
// them (host/check_host_resources.py --strings) as the oracle of its texts.
#ifndef TESTING_INSTALLER_WINDOW_DRIVER_H_
#define TESTING_INSTALLER_WINDOW_DRIVER_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/values.h"

namespace test_support {

// The string tables of a host as pefile read them: a JSON file of the area's test data.
class StringOracle {
 public:
  explicit StringOracle(const std::wstring& file = L"host_strings.json");
  bool loaded() const { return tables_ != nullptr; }
  // String `id` in the language of `tag` (UTF-8); empty when the table has none.
  std::string Get(const std::wstring& tag, int id) const;
  // The host's language list, in its order.
  std::vector<std::wstring> Languages() const;

 private:
  std::unique_ptr<base::Value> root_;
  const base::DictionaryValue* tables_ = nullptr;
};

// One driver run: each control's first line by id, the focus, the window and the message boxes it answered.
struct DriverReport {
  std::unique_ptr<base::DictionaryValue> controls = std::make_unique<base::DictionaryValue>();
  std::unique_ptr<base::DictionaryValue> window = std::make_unique<base::DictionaryValue>();
  std::vector<std::unique_ptr<base::Value>> boxes;
  int focus = -1;
  std::string output;

  // A control's value at `key` ("visible", "text", ...): -1 or empty when absent.
  int Integer(int id, const char* key) const;
  std::string Text(int id) const;
  // A control's list at `key` ("items", "rect") as texts or integers.
  std::vector<std::string> Texts(int id, const char* key = "items") const;
  std::vector<int> Integers(int id, const char* key = "rect") const;
  std::string WindowText(const char* key) const;
  int WindowInteger(const char* key) const;
  // Box `index`'s value at a dotted path ("caption", "buttons.6"); its "texts" joined by lines.
  std::string BoxText(size_t index, const char* path) const;
};

// The window's page sequence in statistics: the list at `path`, each entry's "page_type", with `actions` followed by
// ":" + its "navigation_action" + ":" + its "changed_language" (0 when absent).
std::vector<std::string> PageSequence(const base::DictionaryValue& stats, const std::string& path, bool actions);

// Runs the driver on `window` with `actions` (see window_driver_test_child.cc); a test failure when it fails.
DriverReport DriveWindow(HWND window, const std::wstring& actions);

// Starts a Linux program through wine's Z: drive and lets it run: wine gives no handle of it.
void StartLinuxProgram(std::wstring command_line);

// A program that shows the installer window, ended when the holder goes.
class WindowProgram {
 public:
  // Starts `command_line` without a console in `folder` (empty: this process's), with `environment` (a block for
  // CREATE_UNICODE_ENVIRONMENT; empty: this process's), its standard output and error into `output_file` unless
  // that is empty. A start that fails is a test failure.
  WindowProgram(const std::wstring& command_line, const std::wstring& output_file,
                const std::wstring& environment = std::wstring(), const std::wstring& folder = std::wstring());
  ~WindowProgram();
  WindowProgram(const WindowProgram&) = delete;
  WindowProgram& operator=(const WindowProgram&) = delete;

  // Its main dialog once it waits for the user: once `ready` is set, or without it at its first wait for input
  // (under wine that can come before the window exists, in a message loop run earlier: programs that can set an
  // event are given one). Null, failing the test, when it ends first or shows not one.
  HWND WaitForWindow(HANDLE ready = nullptr);
  // Its visible top-level dialogs; the only one into *found.
  int DialogCount(HWND* found = nullptr) const;
  // Waits for its end (a test failure after 90 s) and returns its exit code.
  DWORD Wait();
  std::string Output() const;

 private:
  PROCESS_INFORMATION process_ = {};
  std::wstring output_file_;
};

}  // namespace test_support

#endif  // TESTING_INSTALLER_WINDOW_DRIVER_H_
