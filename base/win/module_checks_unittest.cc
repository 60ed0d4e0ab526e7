#include "base/win/module_checks.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/win/pe_image.h"
#include "testing/test_support.h"

namespace base {
namespace win {
namespace {

TEST(ModuleChecksTest, ThisProcessorHasSse2) {
  CheckSse2Support();  // returns: the process goes on
  EXPECT_TRUE(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE));
}

TEST(ModuleChecksTest, OrdinaryModuleIsNotInstrumented) {
  EXPECT_FALSE(IsModuleInstrumented());
  EXPECT_FALSE(IsModuleInstrumented());
}

TEST(ModuleChecksTest, ModuleWithBothMarkerSectionsIsInstrumented) {
  HMODULE library = LoadLibraryW((test_support::ExecutableDir() + L"\\module_checks_test_dll.dll").c_str());
  ASSERT_NE(nullptr, library);
  auto is_instrumented = reinterpret_cast<bool (*)()>(
      reinterpret_cast<void*>(GetProcAddress(library, "TestDllIsModuleInstrumented")));
  ASSERT_NE(nullptr, is_instrumented);
  EXPECT_TRUE(is_instrumented());
  EXPECT_TRUE(is_instrumented());
  FreeLibrary(library);
  EXPECT_FALSE(IsModuleInstrumented());  // each module answers for its own image
}

BOOL CALLBACK CollectChildTexts(HWND window, LPARAM parameter) {
  wchar_t text[512];
  GetWindowTextW(window, text, 512);
  reinterpret_cast<std::vector<std::wstring>*>(parameter)->push_back(text);
  return TRUE;
}

// The message box of a process: its top-level dialog window, or null while there is none.
struct DialogSearch {
  DWORD process_id;
  HWND dialog;
};

BOOL CALLBACK FindProcessDialog(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<DialogSearch*>(parameter);
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  wchar_t class_name[16] = {};
  GetClassNameW(window, class_name, 16);
  if (process_id == search->process_id && std::wstring(class_name) == L"#32770") {
    search->dialog = window;
    return FALSE;
  }
  return TRUE;
}

void CALLBACK OnWindowEvent(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
  // Only wakes the waiting loop, which looks at the child's windows after every batch of events.
}

TEST(ModuleChecksTest, MissingSse2IsToldInAMessageBoxAndEndsWithExitCode1) {
  std::wstring command_line = L"\"" + test_support::ExecutableDir() + L"\\module_checks_test_child.exe\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                             nullptr, &startup, &process));
  test_support::ScopedTestHandle process_handle(process.hProcess), thread_handle(process.hThread);
  struct EndChildOnFailure {
    HANDLE process;
    ~EndChildOnFailure() { TerminateProcess(process, 99); }  // no effect once it has ended
  } end_child{process.hProcess};

  // The child's window events (out of context: delivered to this thread's queue) mark the moments to look
  // for its dialog; the hook is set before the child runs.
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, &OnWindowEvent, process.dwProcessId, 0,
                                       WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(nullptr, hook);
  ResumeThread(process.hThread);
  DialogSearch search = {process.dwProcessId, nullptr};
  while (!search.dialog) {
    const DWORD wait = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 60000, QS_ALLINPUT);
    ASSERT_NE(WAIT_OBJECT_0, wait) << "the child ended without a message box";
    ASSERT_NE(static_cast<DWORD>(WAIT_TIMEOUT), wait) << "no message box within a minute";
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&message);
    EnumWindows(&FindProcessDialog, reinterpret_cast<LPARAM>(&search));
  }
  UnhookWinEvent(hook);
  // A sent message is handled once the box has finished setting itself up and waits in its message loop.
  DWORD_PTR ignored;
  ASSERT_TRUE(SendMessageTimeoutW(search.dialog, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored));

  HWND box = search.dialog;
  wchar_t caption[64];
  GetWindowTextW(box, caption, 64);
  EXPECT_EQ(std::wstring(L"Error"), caption);
  EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER));
  std::vector<std::wstring> texts;
  EnumChildWindows(box, &CollectChildTexts, reinterpret_cast<LPARAM>(&texts));
  bool has_message = false;
  for (const std::wstring& text : texts)
    has_message |= text == L"This program requires a computer that supports SSE2 instructions.";
  EXPECT_TRUE(has_message);

  PostMessageW(box, WM_COMMAND, IDOK, 0);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  EXPECT_EQ(1u, exit_code);
}

}  // namespace
}  // namespace win
}  // namespace base
