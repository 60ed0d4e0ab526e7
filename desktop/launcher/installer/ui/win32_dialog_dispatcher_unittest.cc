#include "desktop/launcher/installer/ui/win32_dialog_dispatcher.h"

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include <gtest/gtest.h>

#include "base/at_exit.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"

namespace zorvi::installer {
namespace {

constexpr uint32_t kHandled = base::MessagePumpDispatcher::kDispatchNone;
constexpr uint32_t kPerformDefault = base::MessagePumpDispatcher::kDispatchPerformDefault;

// The host's two dialogs, made as the window makes them (rich edit and common controls loaded first), with a
// procedure that records the commands they receive. They stay hidden: a shown dialog would take part in the
// activation and focus changes of the display that other tests share, which no test here depends on.
class DialogDispatcherTest : public testing::Test {
 protected:
  void SetUp() override {
    const INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    ASSERT_TRUE(LoadLibraryW(L"Msftedit.dll"));
    main_ = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(IDD_INSTALLER_MAIN), nullptr, &RecordCommands,
                               reinterpret_cast<LPARAM>(this));
    ASSERT_TRUE(main_) << GetLastError();
    options_ = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(IDD_INSTALLER_OPTIONS), main_, &RecordCommands,
                                  reinterpret_cast<LPARAM>(this));
    ASSERT_TRUE(options_) << GetLastError();
  }
  void TearDown() override {
    Win32DialogDispatcher::GetInstance()->SwitchAway(main_);
    if (main_)
      DestroyWindow(main_);  // and the options dialog with it
  }

  static INT_PTR CALLBACK RecordCommands(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
      return FALSE;
    }
    auto* test = reinterpret_cast<DialogDispatcherTest*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    if (test && message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
      test->commands_.push_back(LOWORD(wparam));
      return TRUE;
    }
    return FALSE;
  }

  // A key press as the loop takes it from the queue, for a control of the main dialog.
  MSG KeyDown(WPARAM key) const { return MSG{GetDlgItem(main_, IDC_OPTIONS_BUTTON), WM_KEYDOWN, key, 1, 0, {}}; }

  HWND main_ = nullptr;
  HWND options_ = nullptr;
  std::vector<int> commands_;
};

// Keys reach a dialog only while it is current: then IsDialogMessageW takes them (Enter presses the default accept
// button) and the loop does nothing more; without a current dialog, and for windows outside it, the loop translates
// and dispatches them itself. Deactivations may come in any order: leaving a dialog that is not the current one
// keeps the current one. (Tab's focus move is the window's to show, with real keys.)
TEST_F(DialogDispatcherTest, KeysReachOnlyTheCurrentDialog) {
  Win32DialogDispatcher* dispatcher = Win32DialogDispatcher::GetInstance();
  EXPECT_EQ(kPerformDefault, dispatcher->Dispatch(KeyDown(VK_RETURN))) << "no current dialog";
  EXPECT_EQ(std::vector<int>{}, commands_) << "nothing pressed";

  dispatcher->SwitchTo(main_);
  dispatcher->SwitchAway(options_);
  EXPECT_EQ(main_, dispatcher->current_dialog());
  EXPECT_EQ(kHandled, dispatcher->Dispatch(KeyDown(VK_RETURN)));
  EXPECT_EQ(std::vector<int>{IDC_ACCEPT_BUTTON}, commands_) << "Enter presses the default button";
  EXPECT_EQ(kHandled, dispatcher->Dispatch(KeyDown(VK_TAB)));
  const HWND outsider = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(outsider);
  EXPECT_EQ(kPerformDefault, dispatcher->Dispatch(MSG{outsider, WM_KEYDOWN, VK_RETURN, 1, 0, {}}));
  DestroyWindow(outsider);

  dispatcher->SwitchAway(main_);
  EXPECT_EQ(nullptr, dispatcher->current_dialog());
  EXPECT_EQ(kPerformDefault, dispatcher->Dispatch(KeyDown(VK_RETURN)));
  EXPECT_EQ(std::vector<int>{IDC_ACCEPT_BUTTON}, commands_) << "pressed only while current";
}

// One dispatcher per process until the at-exit manager ends it; the next use makes a fresh one.
TEST(DialogDispatcherInstanceTest, OnePerProcessUntilExit) {
  {
    base::AtExitManager exit_manager;
    Win32DialogDispatcher* dispatcher = Win32DialogDispatcher::GetInstance();
    EXPECT_EQ(dispatcher, Win32DialogDispatcher::GetInstance());
    dispatcher->SwitchTo(reinterpret_cast<HWND>(0x1234));
  }
  EXPECT_EQ(nullptr, Win32DialogDispatcher::GetInstance()->current_dialog());
}

}  // namespace
}  // namespace zorvi::installer
