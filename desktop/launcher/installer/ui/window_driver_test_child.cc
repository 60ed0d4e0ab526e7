// Reads and works the installer window of another process as a user would, for end-to-end tests: it takes the
// main dialog that its test found and prints what it finds as JSON lines. Test programs only; never shipped.
//
// Usage: window_driver_test_child.exe --window=HANDLE ACTION...  (decimal handle; actions run in order)
//   read          one line per control of both dialogs: {"control":ID,"visible":0|1,"enabled":0|1,"text":"...",
//                 "check":N,"rect":[l,t,r,b]} (client coordinates of the main dialog), combo boxes with "items" and
//                 "selection", progress bars with "range":[low,high]; then {"focus":ID} and
//                 {"window":{"caption":"...","rect":[l,t,r,b],"options_visible":0|1}} (screen coordinates of the
//                 client area)
//   click=ID      presses the button (BM_CLICK) and waits until the window has handled it
//   command=ID    tells the button's dialog that the button was clicked (WM_COMMAND, BN_CLICKED) and waits until
//                 it has handled it: unlike a click, no other window on the display can take the mouse capture
//                 between the button's press and release and so swallow it
//   post=ID       posts that command to the button's dialog, as a click arrives through the window's queue, and
//                 does not wait: what the button starts may hold the window (a box of the system's own)
//   select=ID:N   selects item N of the combo box and tells its dialog (CBN_SELCHANGE)
//   close         the close box (WM_CLOSE), without waiting: a message box follows
//   press=ID      presses the button without waiting: a message box (or the folder browser) follows
//   box=ID        waits for the window's message box or other dialog, prints {"box":{"caption":..,"text":..,
//                 "buttons":{..},"texts":[every child's text]}} and presses its button ID; waits until the window
//                 has handled what the box started
//   foreground    brings the window to the front, where keys typed on the display go
//   wait-focus=ID[/ID...] waits (at most 60 s) until control ID (one of them) has the window's keyboard focus
//   wait-shown=ID waits (at most 60 s) until the main dialog's control ID is visible, e.g. the retry button of
//                 the error page that the window's controller shows once its work has ended
//   wait-bar=N    waits (at most 60 s) until the progress page shows: no control of the welcome page visible and
//                 the progress bar visible at position N. A run that starts at once passes through the welcome page
//                 on its way to the progress page, and a screenshot taken between the two shows neither.
//   settled       repaints the whole window at once and waits (at most 60 s) until the display shows it: the
//                 window's process puts what it painted on the display only once it is idle, which a loaded
//                 machine delays, so a screenshot could catch a control half drawn. Settled is three reads of the
//                 window's pixels back from the display, each after a round trip through its queue, alike, with
//                 no shown control of the window left to paint.
// window_driver_test_child.exe --signal=NAME [--record=FILE ARGUMENT...] writes the arguments into FILE (one line
// each) when asked, sets the named event and ends: a Linux program that the tests start (and wine gives them no
// handle of) runs it last to say it is done, and as a URL's handler it tells what it was asked to open.
// Exit code 0; 2 when the window or a box is not found, 3 for a malformed action.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/json/json_writer.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"

namespace {

void Print(const base::DictionaryValue& line) {
  std::string json;
  base::JsonWriter::Write(line, &json);
  std::fputs((json + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string Text(HWND window) {
  wchar_t text[2048] = {};
  SendMessageW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
  return base::WideToUTF8(text);
}

std::unique_ptr<base::ListValue> RectList(RECT rect) {
  auto list = std::make_unique<base::ListValue>();
  for (LONG value : {rect.left, rect.top, rect.right, rect.bottom})
    list->AppendInteger(value);
  return list;
}

bool IsClass(HWND window, const wchar_t* name) {
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  return lstrcmpiW(class_name, name) == 0;
}

struct Driver {
  HWND main = nullptr;
  HWND options = nullptr;
  // The thread of the action whose message box is still open.
  HANDLE pending = nullptr;

  HWND Control(int id) const {
    HWND control = GetDlgItem(main, id);
    return control ? control : GetDlgItem(options, id);
  }

  // Waits until the window's thread has taken every message sent before: a round trip through its queue.
  void RoundTrip() const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
  }

  // Round trips through the window's queue until `condition` holds, the window is gone or a minute has passed:
  // what is waited for changes as the window handles its messages. Whether `condition` holds at the end.
  template <typename Condition>
  bool WaitUntil(Condition condition) const {
    const ULONGLONG end = GetTickCount64() + 60000;
    while (!condition() && IsWindow(main) && GetTickCount64() < end)
      RoundTrip();
    return condition();
  }

  // Wine delivers no show event of another process's window (an out-of-context EVENT_OBJECT_SHOW hook is made
  // but never called), so this goes through the window's queue, as the box wait does, until the control shows.
  // The main dialog's pixels as the display shows them now.
  std::vector<uint32_t> CaptureFromDisplay() const {
    RECT rect = {};
    GetWindowRect(main, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    std::vector<uint32_t> pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = width > 0 && height > 0
                         ? CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0)
                         : nullptr;
    if (bitmap) {
      HGDIOBJ previous = SelectObject(memory, bitmap);
      if (BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY)) {
        const uint32_t* first = static_cast<const uint32_t*>(bits);
        pixels.assign(first, first + static_cast<size_t>(width) * height);
      }
      SelectObject(memory, previous);
      DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
  }

  // Whether a shown window of either dialog still has a part to paint.
  bool PaintPending() const {
    for (HWND dialog : {main, options}) {
      if (!IsWindowVisible(dialog))
        continue;
      if (GetUpdateRect(dialog, nullptr, FALSE))
        return true;
      for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE))
          return true;
      }
    }
    return false;
  }

  bool Settle() const {
    RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    std::vector<uint32_t> last = CaptureFromDisplay();
    int alike = 0;
    return WaitUntil([&] {
      // A loaded machine may leave controls unpainted across several round trips: the display holds still, half
      // drawn, until their turn comes.
      if (PaintPending()) {
        alike = 0;
        return false;
      }
      std::vector<uint32_t> now = CaptureFromDisplay();
      alike = !now.empty() && now == last ? alike + 1 : 0;
      last = std::move(now);
      return alike >= 2;
    });
  }

  bool WaitShown(int id) const {
    const HWND control = GetDlgItem(main, id);
    return control && WaitUntil([control] { return IsWindowVisible(control) != FALSE; });
  }

  bool WaitBar(int position) const {
    const HWND bar = GetDlgItem(main, IDC_PROGRESS_BAR);
    return bar && WaitUntil([&] {
      for (int id : {IDC_TITLE, IDC_WELCOME_TEXT, IDC_OPTIONS_BUTTON, IDC_ACCEPT_BUTTON}) {
        if (IsWindowVisible(GetDlgItem(main, id)))
          return false;
      }
      return IsWindowVisible(bar) && SendMessageW(bar, PBM_GETPOS, 0, 0) == position;
    });
  }

  int FocusId() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info);
    return info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0;
  }

  bool WaitFocus(const std::vector<int>& ids) const {
    return WaitUntil([this, &ids] { return std::find(ids.begin(), ids.end(), FocusId()) != ids.end(); });
  }

  void ReadControl(HWND control) const {
    base::DictionaryValue line;
    line.SetInteger("control", GetDlgCtrlID(control));
    line.SetInteger("visible", IsWindowVisible(control) ? 1 : 0);
    line.SetInteger("enabled", IsWindowEnabled(control) ? 1 : 0);
    line.SetString("text", Text(control));
    line.SetInteger("check", static_cast<int>(SendMessageW(control, BM_GETCHECK, 0, 0)));
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&rect), 2);
    line.Set("rect", RectList(rect));
    if (IsClass(control, WC_COMBOBOXW)) {
      auto items = std::make_unique<base::ListValue>();
      const LRESULT count = SendMessageW(control, CB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < count; ++i) {
        wchar_t item[1024] = {};
        if (SendMessageW(control, CB_GETLBTEXTLEN, i, 0) < 1024)
          SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
        items->AppendString(base::WideToUTF8(item));
      }
      line.Set("items", std::move(items));
      line.SetInteger("selection", static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0)));
    }
    if (IsClass(control, PROGRESS_CLASSW)) {
      // Without a structure: a pointer into this process would mean nothing to the window's.
      auto range = std::make_unique<base::ListValue>();
      for (BOOL low : {TRUE, FALSE})
        range->AppendInteger(static_cast<int>(SendMessageW(control, PBM_GETRANGE, low, 0)));
      line.Set("range", std::move(range));
    }
    Print(line);
  }

  void Read() const {
    for (HWND dialog : {main, options}) {
      for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (child != options)
          ReadControl(child);
      }
    }
    base::DictionaryValue focus;
    focus.SetInteger("focus", FocusId());
    Print(focus);
    RECT client = {};
    GetClientRect(main, &client);
    MapWindowPoints(main, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    auto window = std::make_unique<base::DictionaryValue>();
    window->SetString("caption", Text(main));
    window->Set("rect", RectList(client));
    window->SetInteger("options_visible", IsWindowVisible(options) ? 1 : 0);
    base::DictionaryValue line;
    line.Set("window", std::move(window));
    Print(line);
  }

  // Sends `message` from a thread of its own, so that a message box it opens does not hold the driver.
  void SendWithoutWaiting(HWND target, UINT message, WPARAM wparam) {
    struct Send {
      HWND target;
      UINT message;
      WPARAM wparam;
    };
    pending = CreateThread(
        nullptr, 0,
        [](void* argument) -> DWORD {
          const Send send = *static_cast<Send*>(argument);
          delete static_cast<Send*>(argument);
          SendMessageW(send.target, send.message, send.wparam, 0);
          return 0;
        },
        new Send{target, message, wparam}, 0, nullptr);
  }

  HWND FindBox() const {
    struct Search {
      HWND owner;
      HWND box;
    } search = {main, nullptr};
    EnumThreadWindows(
        GetWindowThreadProcessId(main, nullptr),
        [](HWND window, LPARAM argument) {
          auto* search = reinterpret_cast<Search*>(argument);
          if (IsClass(window, L"#32770") && GetWindow(window, GW_OWNER) == search->owner && IsWindowVisible(window))
            search->box = window;
          return search->box ? FALSE : TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.box;
  }

  bool AnswerBox(int button) {
    // Each round trip lets the window's thread take the message that opens the box; once the box is up, its own
    // loop answers the round trips. The message may not have been sent yet (a "close" or "press" sends it from a
    // thread of its own, which a loaded machine starts late): a count of round trips would be no bound in time.
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = FindBox()) != nullptr; }))
      return false;
    auto buttons = std::make_unique<base::DictionaryValue>();
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
      if (HWND control = GetDlgItem(box, id))
        buttons->SetString(std::to_string(id), Text(control));
    }
    auto seen = std::make_unique<base::DictionaryValue>();
    seen->SetString("caption", Text(box));
    seen->SetString("text", Text(GetDlgItem(box, 0xFFFF)));
    seen->Set("buttons", std::move(buttons));
    auto texts = std::make_unique<base::ListValue>();
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
      texts->AppendString(Text(child));
    seen->Set("texts", std::move(texts));
    base::DictionaryValue line;
    line.Set("box", std::move(seen));
    Print(line);
    SendMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    if (pending) {
      WaitForSingleObject(pending, 10000);
      CloseHandle(pending);
      pending = nullptr;
    }
    return true;
  }
};

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch("signal")) {
    std::string arguments;
    for (const std::wstring& argument : command_line.GetArgs())
      arguments += base::WideToUTF8(argument) + "\n";
    const std::wstring record_path = command_line.GetSwitchValueNative("record");
    if (FILE* record = record_path.empty() ? nullptr : _wfopen(record_path.c_str(), L"wb")) {
      std::fputs(arguments.c_str(), record);
      std::fclose(record);
    }
    HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, command_line.GetSwitchValueNative("signal").c_str());
    return done && SetEvent(done) ? 0 : 2;
  }
  Driver driver;
  driver.main = reinterpret_cast<HWND>(wcstoull(command_line.GetSwitchValueNative("window").c_str(), nullptr, 10));
  driver.main = IsWindow(driver.main) ? driver.main : nullptr;
  for (HWND child = driver.main ? GetWindow(driver.main, GW_CHILD) : nullptr; child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsClass(child, L"#32770"))
      driver.options = child;
  }
  if (!driver.main || !driver.options) {
    std::fputs("{\"error\":\"window not found\"}\n", stdout);
    return 2;
  }
  for (const std::wstring& action : command_line.GetArgs()) {
    const size_t equals = action.find(L'=');
    const std::wstring name = action.substr(0, equals);
    const std::wstring value = equals == std::wstring::npos ? L"" : action.substr(equals + 1);
    if (name == L"read") {
      driver.Read();
    } else if (name == L"click") {
      SendMessageW(driver.Control(std::stoi(value)), BM_CLICK, 0, 0);
    } else if (name == L"command") {
      const HWND button = driver.Control(std::stoi(value));
      SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(std::stoi(value), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    } else if (name == L"post") {
      const HWND button = driver.Control(std::stoi(value));
      PostMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(std::stoi(value), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    } else if (name == L"select") {
      const int id = std::stoi(value.substr(0, value.find(L':')));
      const int index = std::stoi(value.substr(value.find(L':') + 1));
      HWND combo = GetDlgItem(driver.options, id);
      SendMessageW(combo, CB_SETCURSEL, index, 0);
      SendMessageW(driver.options, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    } else if (name == L"close") {
      driver.SendWithoutWaiting(driver.main, WM_CLOSE, 0);
    } else if (name == L"press") {
      driver.SendWithoutWaiting(driver.Control(std::stoi(value)), BM_CLICK, 0);
    } else if (name == L"box") {
      if (!driver.AnswerBox(std::stoi(value))) {
        std::fputs("{\"error\":\"no message box\"}\n", stdout);
        return 2;
      }
    } else if (name == L"settled") {
      if (!driver.Settle()) {
        std::fputs("{\"error\":\"the display did not settle\"}\n", stdout);
        return 2;
      }
    } else if (name == L"wait-bar") {
      if (!driver.WaitBar(std::stoi(value))) {
        std::fputs("{\"error\":\"the progress page did not show\"}\n", stdout);
        return 2;
      }
    } else if (name == L"wait-shown") {
      if (!driver.WaitShown(std::stoi(value))) {
        std::fputs("{\"error\":\"control not shown\"}\n", stdout);
        return 2;
      }
    } else if (name == L"wait-focus") {
      std::vector<int> ids;
      for (const std::wstring& id : base::SplitString(value, L"/", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY))
        ids.push_back(std::stoi(id));
      if (!driver.WaitFocus(ids)) {
        std::fputs("{\"error\":\"control not focused\"}\n", stdout);
        return 2;
      }
    } else if (name == L"foreground") {
      // The display activates a window when its own events come back, later on a loaded machine, and a window of
      // another program may come to the front meanwhile: ask until the window is in front (at most 20 s).
      for (int tries = 0; tries < 200; ++tries) {
        SetForegroundWindow(driver.main);
        driver.RoundTrip();
        if (GetForegroundWindow() == driver.main)
          break;
        Sleep(100);
      }
    } else {
      std::fprintf(stdout, "{\"error\":\"unknown action\"}\n");
      return 3;
    }
  }
  return 0;
}
