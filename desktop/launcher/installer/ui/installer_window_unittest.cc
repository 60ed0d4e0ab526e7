#include "desktop/launcher/installer/ui/installer_window.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <richedit.h>
#include <uxtheme.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/files/file_util.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/records/installer_stats.h"
#include "desktop/launcher/installer/records/prefs_task_pool.h"
#include "desktop/launcher/installer/settings_test_util.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

// The controller's side: what the window asked for.
struct RecordingDelegate : InstallerWindowDelegate {
  void OnAccept() override { ++accepts; }
  void OnCancel() override { ++cancels; }
  void ObtainFullPackage() override {}
  int accepts = 0;
  int cancels = 0;
};

// Quits the test's run loop once the settings took over a folder's status.
struct PathWaiter : Settings::Observer {
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override { run_loop->Quit(); }
  base::RunLoop* run_loop = nullptr;
};

// A message box as the user sees it.
struct SeenBox {
  std::wstring caption;
  std::wstring text;
  std::map<int, std::wstring> buttons;  // by button id
};

HWND g_box_owner = nullptr;
int g_box_answer = 0;
std::vector<SeenBox>* g_seen_boxes = nullptr;
HHOOK g_test_hook = nullptr;
// When set, the next box is answered only after this ran inside its modal loop, as a task posted while the box
// is open runs there.
std::function<void()> g_inside_next_box;

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

// The box's modal loop dispatches its timer: runs g_inside_next_box there, then answers the box.
void CALLBACK RunInsideBox(HWND box, UINT, UINT_PTR timer, DWORD) {
  KillTimer(box, timer);
  std::exchange(g_inside_next_box, nullptr)();
  PostMessageW(box, WM_COMMAND, g_box_answer, 0);
}

// Runs after the window's own hook set the buttons' texts, records the box and answers it with g_box_answer.
LRESULT CALLBACK AnswerMessageBox(int code, WPARAM wparam, LPARAM lparam) {
  const HWND box = reinterpret_cast<HWND>(wparam);
  wchar_t class_name[16] = {};
  if (code == HCBT_ACTIVATE && g_box_owner && box != g_box_owner && GetWindow(box, GW_OWNER) == g_box_owner &&
      GetClassNameW(box, class_name, 16) && std::wstring(class_name) == L"#32770") {
    SeenBox seen = {WindowText(box), WindowText(GetDlgItem(box, 0xFFFF)), {}};
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
      if (HWND button = GetDlgItem(box, id))
        seen.buttons[id] = WindowText(button);
    }
    // Wine activates a message box a second time once it has filled it in: the box is seen as it stands last.
    if (GetPropW(box, L"seen_by_test") && !g_seen_boxes->empty()) {
      g_seen_boxes->back() = seen;
    } else {
      SetPropW(box, L"seen_by_test", reinterpret_cast<HANDLE>(1));
      g_seen_boxes->push_back(seen);
      if (!g_inside_next_box || !SetTimer(box, 1, 0, &RunInsideBox))
        PostMessageW(box, WM_COMMAND, g_box_answer, 0);
    }
  }
  return CallNextHookEx(g_test_hook, code, wparam, lparam);
}

enum class RunKind { kInstall, kUninstall, kRunImmediately };

class InstallerWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    base::CommandLine::Init();
    SetBrandingTextForTesting(R"({"company_name": ")" + base::WideToUTF8(test_support::UniqueName(L"ZorviTest")) +
                              R"(", "product_name": "Zorvi", "visible_product_name": "Zorvi", )"
                              R"("file_name_base": "zorvi", "user_agent_name": "ZRV"})");
    base::FeatureList::GetInstance()->AddFeature("installer-ui-stats", true, true);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    PrefsTaskPool::GetInstance();
    g_seen_boxes = &boxes_;
    g_test_hook = SetWindowsHookExW(WH_CBT, &AnswerMessageBox, nullptr, GetCurrentThreadId());
  }

  void TearDown() override {
    window_.reset();
    UnhookWindowsHookEx(g_test_hook);
    settings_.reset();
    CoUninitialize();
  }

  // Settings of a fresh folder (their status taken over) and the window over them.
  void MakeWindow(RunKind kind) {
    window_.reset();
    tree_.Clear();
    const base::FilePath folder = base::FilePath(folder_.path()).Append(L"Zorvi");
    settings_ = std::make_unique<Settings>(kind == RunKind::kUninstall, false, false, folder, false);
    WaitForPath();
    stats_ = std::make_unique<InstallerStats>(&tree_, &guard_, base::TimeTicks::Now());
    window_ = InstallerWindow::Create(settings_.get(), stats_.get(), kind == RunKind::kRunImmediately);
    ASSERT_TRUE(window_);
    window_->delegates()->AddObserver(&delegate_);
    g_box_owner = window_->main_dialog();
  }

  void WaitForPath() {
    if (!settings_->status_fetcher())
      return;
    PathWaiter waiter;
    base::RunLoop run_loop;
    waiter.run_loop = &run_loop;
    settings_->AddObserver(&waiter);
    run_loop.Run();
    settings_->RemoveObserver(&waiter);
  }

  HWND Control(int id) const {
    HWND control = GetDlgItem(window_->main_dialog(), id);
    return control ? control : GetDlgItem(window_->options_dialog(), id);
  }
  bool Shown(int id) const { return IsWindowVisible(Control(id)); }
  bool Checked(int id) const { return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void Command(HWND dialog, int id, int code) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
  }

  // The statistics' page entries: "ui.page_sequence", one dictionary a page.
  std::vector<const base::DictionaryValue*> PageEntries() const {
    std::vector<const base::DictionaryValue*> entries;
    const base::ListValue* list = nullptr;
    const base::DictionaryValue* entry = nullptr;
    if (tree_.GetList("ui.page_sequence", &list)) {
      for (const auto& node : *list) {
        if (node->GetAsDictionary(&entry))
          entries.push_back(entry);
      }
    }
    return entries;
  }
  std::vector<std::string> PageSequence() const {
    std::vector<std::string> names;
    for (const base::DictionaryValue* entry : PageEntries())
      names.push_back(EntryString(entry, "page_type"));
    return names;
  }
  static std::string EntryString(const base::DictionaryValue* entry, const std::string& key) {
    std::string value;
    entry->GetString(key, &value);
    return value;
  }
  std::string LastString(const std::string& key) const {
    return PageEntries().empty() ? "" : EntryString(PageEntries().back(), key);
  }
  int LastInteger(const std::string& key) const {
    int value = -1;
    if (!PageEntries().empty())
      PageEntries().back()->GetInteger(key, &value);
    return value;
  }

  base::MessageLoop loop_{base::MessageLoop::TYPE_UI};
  base::AtExitManager exit_manager_;
  test_support::ScopedTestFolder folder_{L"window"};
  base::DictionaryValue tree_;
  StatsTreeGuard guard_;
  std::unique_ptr<InstallerStats> stats_;
  std::unique_ptr<Settings> settings_;
  std::unique_ptr<InstallerWindow> window_;
  RecordingDelegate delegate_;
  std::vector<SeenBox> boxes_;
};

// Which controls each page shows, as the page's purpose has it; the headings depend on the run.
const std::set<int> kPageShows[] = {
    /* WELCOME */ {IDC_PRODUCT_PICTURE, IDC_TITLE, IDC_WELCOME_TEXT, IDC_OPTIONS_BUTTON, IDC_ACCEPT_BUTTON},
    /* UNINSTALL */
    {IDC_PRODUCT_PICTURE, IDC_CANCEL_BUTTON, IDC_UNINSTALL_BUTTON, IDC_DELETE_PROFILE_CHECK, IDC_UNINSTALL_HEADING},
    /* TOS */ {IDC_TERMS_TEXT, IDC_BACK_BUTTON, IDC_ACCEPT_BUTTON},
    /* OPTIONS */ {IDC_BACK_BUTTON, IDC_ACCEPT_BUTTON},
    /* PROGRESS */ {IDC_PRODUCT_PICTURE, IDC_PROGRESS_HEADING, IDC_STATUS_TEXT, IDC_PROGRESS_BAR},
    /* ERROR */
    {IDC_PRODUCT_PICTURE, IDC_BACK_BUTTON, IDC_STATUS_TEXT, IDC_ERROR_HEADING, IDC_UNINSTALL_ERROR_HEADING,
     IDC_RETRY_BUTTON, IDC_FULL_PACKAGE_BUTTON},
};
const int kPageFocus[] = {IDC_ACCEPT_BUTTON, IDC_UNINSTALL_BUTTON, IDC_ACCEPT_BUTTON, IDC_ACCEPT_BUTTON, 0,
                          IDC_RETRY_BUTTON};
const int kMainControls[] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009,
                             1010, 1011, 1012, 1013, 1025, 1028, 1029, 1036};

struct RunRow {
  const char* name;
  RunKind kind;
  std::vector<std::string> first_pages;
  std::vector<bool> offers;  // the error page's full package, offered or not
  bool back_on_error;        // whether there is a page to go back to from the error page
};

// Every page of every kind of run: the controls shown, the focus, the options page only on its page, and the
// statistics' page sequence, which showing the current page again leaves alone. Then the error page: its message,
// the full-package button only when offered (keeping its right edge and never narrower than the retry button), no
// way back where there is no page to go back to, the exact log line and the failure's reason.
TEST_F(InstallerWindowTest, EveryPageShowsItsControlsInEveryRun) {
  const RunRow rows[] = {
      {"install", RunKind::kInstall, {"WELCOME"}, {true, false}, true},
      {"uninstall", RunKind::kUninstall, {"UNINSTALL"}, {true}, false},
      {"run immediately", RunKind::kRunImmediately, {"PROGRESS", "WELCOME"}, {false}, false},
  };
  for (const RunRow& row : rows) {
    SCOPED_TRACE(row.name);
    MakeWindow(row.kind);
    EXPECT_EQ(row.first_pages, PageSequence());
    EXPECT_EQ(GetLocalizedString(IDS_WINDOW_CAPTION), WindowText(window_->main_dialog()));
    std::vector<std::string> expected_sequence = row.first_pages;
    for (int page = InstallerWindow::kPageWelcome; page <= InstallerWindow::kPageError; ++page) {
      SCOPED_TRACE(InstallerWindow::PageTypeToString(page));
      window_->ShowPage(page);
      window_->ShowPage(page);
      if (expected_sequence.back() != InstallerWindow::PageTypeToString(page))
        expected_sequence.push_back(InstallerWindow::PageTypeToString(page));
      EXPECT_EQ(expected_sequence, PageSequence());
      for (int id : kMainControls) {
        bool expected = kPageShows[page].count(id) > 0;
        if (row.kind == RunKind::kUninstall && (id == IDC_PROGRESS_HEADING || id == IDC_ERROR_HEADING))
          expected = false;
        if (row.kind != RunKind::kUninstall && id == IDC_UNINSTALL_ERROR_HEADING)
          expected = false;
        EXPECT_EQ(expected, Shown(id)) << id;
      }
      EXPECT_EQ(page == InstallerWindow::kPageOptions, IsWindowVisible(window_->options_dialog()) != FALSE);
      EXPECT_EQ(kPageFocus[page], GetFocus() ? GetDlgCtrlID(GetFocus()) : 0);
    }

    for (bool offer : row.offers) {
      SCOPED_TRACE(offer);
      const std::wstring message = L"Kein Zugriff auf \u00abC:\\Programme\u00bb";
      test_support::ScopedLogCapture log;
      window_->DisplayError(message, offer, "folder-access");
      EXPECT_EQ(InstallerWindow::kPageError, window_->current_page());
      EXPECT_EQ(message, WindowText(Control(IDC_STATUS_TEXT)));
      EXPECT_EQ(offer, Shown(IDC_FULL_PACKAGE_BUTTON));
      EXPECT_EQ(row.back_on_error, Shown(IDC_BACK_BUTTON));
      EXPECT_TRUE(log.HasLineStartingWith("Displaying error: \"" + base::WideToUTF8(message) + "\" and " +
                                          (offer ? "" : "don't ") + "offer full package"))
          << log.Text();
      EXPECT_EQ("folder-access", LastString("failure_reason"));
      EXPECT_EQ("ERROR", LastString("page_type"));
      const RECT button = InstallerWindow::GetChildRect(window_->main_dialog(), Control(IDC_FULL_PACKAGE_BUTTON));
      const RECT retry = InstallerWindow::GetChildRect(window_->main_dialog(), Control(IDC_RETRY_BUTTON));
      // 1004's right edge is the template's, 4 dialog units left of its neighbour 1005.
      RECT template_edge = {0, 0, 316, 0};
      MapDialogRect(window_->main_dialog(), &template_edge);
      EXPECT_GE(button.right - button.left, retry.right - retry.left);
      EXPECT_LE(button.right, retry.left);
      EXPECT_GE(button.right, template_edge.right - 8);
    }
  }
}

// Wine draws the dialogs with its own fonts, which measure a little differently from the system's: every text
// must fit with this many pixels to spare.
constexpr int kFontSlack = 3;

// The size `text` needs in `control`'s font: one line, or wrapped at `wrap_width` when it is not zero.
SIZE TextSize(HWND control, const std::wstring& text, int wrap_width) {
  const HDC dc = GetDC(control);
  const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT rect = {0, 0, wrap_width, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
            DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (wrap_width ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// The height a rich edit's text needs, as the control itself asks its parent for it (EN_REQUESTRESIZE).
LRESULT CALLBACK CatchResizeRequest(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                    DWORD_PTR wanted) {
  const auto* header = reinterpret_cast<const NMHDR*>(lparam);
  if (message == WM_NOTIFY && header->code == EN_REQUESTRESIZE) {
    const RECT& rect = reinterpret_cast<const REQRESIZE*>(lparam)->rc;
    *reinterpret_cast<int*>(wanted) = rect.bottom - rect.top;
    return 0;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

int RichTextHeight(HWND control) {
  int wanted = -1;
  const HWND parent = GetParent(control);
  SetWindowSubclass(parent, &CatchResizeRequest, 1, reinterpret_cast<DWORD_PTR>(&wanted));
  const LRESULT mask = SendMessageW(control, EM_GETEVENTMASK, 0, 0);
  SendMessageW(control, EM_SETEVENTMASK, 0, mask | ENM_REQUESTRESIZE);
  SendMessageW(control, EM_REQUESTRESIZE, 0, 0);
  SendMessageW(control, EM_SETEVENTMASK, 0, mask);
  RemoveWindowSubclass(parent, &CatchResizeRequest, 1);
  return wanted;
}

bool IsClass(HWND window, const wchar_t* name) {
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  return lstrcmpiW(class_name, name) == 0;
}

// Measures the text of `control` (or `text` in its place) against its client area and fails for what does not
// fit there, naming the page `where` it is shown.
void MeasureText(HWND control, const std::wstring& text, const std::wstring& where) {
  RECT client = {};
  GetClientRect(control, &client);
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  // `what` names the text measured; `needed` and `room` are in pixels.
  auto add = [&](const std::wstring& what, int needed, int room) {
    if (needed + kFontSlack > room) {
      ADD_FAILURE() << "control " << GetDlgCtrlID(control) << " in " << where << ": \"" << what << "\" needs "
                    << needed << " px of " << room << ", " << needed + kFontSlack - room << " px over ("
                    << kFontSlack << " px spared for wine's fonts)";
    }
  };
  // A text that wraps at `width` must fit the height, one that does not must fit `width`.
  auto fit = [&](const std::wstring& what, int width, bool wraps) {
    if (wraps)
      add(what + L" (height)", TextSize(control, what, width).cy, client.bottom);
    else
      add(what, TextSize(control, what, 0).cx, width);
  };
  if (IsClass(control, MSFTEDIT_CLASS)) {
    add(text + L" (height)", RichTextHeight(control), client.bottom);
  } else if (IsClass(control, WC_COMBOBOXW)) {
    // The folder list is an edit field that scrolls; a drop-down list shows its items beside its arrow.
    if ((style & (CBS_DROPDOWN | CBS_DROPDOWNLIST)) != CBS_DROPDOWNLIST)
      return;
    const int room = client.right - GetSystemMetrics(SM_CXVSCROLL) - 2 * GetSystemMetrics(SM_CXEDGE) - 2;
    for (LRESULT item = 0, count = SendMessageW(control, CB_GETCOUNT, 0, 0); item < count; ++item) {
      std::wstring item_text(SendMessageW(control, CB_GETLBTEXTLEN, item, 0) + 1, L'\0');
      item_text.resize(SendMessageW(control, CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(item_text.data())));
      fit(item_text, room, false);
    }
  } else if (IsClass(control, WC_BUTTONW)) {
    const LONG type = style & BS_TYPEMASK;
    // A push button draws its text inside its edge and its focus rectangle, which keeps a pixel off the text; a
    // check box's text begins after the box and a gap, and keeps its focus rectangle's pixel on either side.
    if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
      fit(text, client.right - 2 * (GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXFOCUSBORDER) + 1), false);
    else
      fit(text, client.right - GetSystemMetrics(SM_CXMENUCHECK) - 4 - 2, (style & BS_MULTILINE) != 0);
  } else if (IsClass(control, WC_STATICW) && !text.empty()) {
    fit(text, client.right, true);  // statics wrap their text at their width
  }
}

// Every text of the window fits its control in every language of the host, on every page of both kinds of run:
// the welcome page with either accept label, the options page with the folder warning shown, the progress page
// in each phase and the error page with each error message (naming the install folder where the message names a
// folder or file) and the full-package button. An uninstallation shows its own page, its last phase and the one
// error it can meet, with no package to offer.
TEST_F(InstallerWindowTest, EveryTextFitsItsControlInEveryLanguage) {
  std::set<std::wstring> pages;  // those measured, as "<language> <page>"
  for (RunKind kind : {RunKind::kInstall, RunKind::kUninstall}) {
    const bool uninstall = kind == RunKind::kUninstall;
    MakeWindow(kind);
    const std::wstring folder = settings_->status().path.value();
    const std::vector<std::wstring> tags = GetAvailableUiLanguages();
    for (size_t language = 0; language < tags.size(); ++language) {
      const std::wstring& tag = tags[language];
      // Chosen as the user does, in the language list, which also relabels the accept button; an uninstallation
      // has no list.
      if (uninstall) {
        ASSERT_TRUE(settings_->SetInstallLanguage(tag));
      } else {
        SendMessageW(Control(IDC_LANGUAGE_LIST), CB_SETCURSEL, language, 0);
        Command(window_->options_dialog(), IDC_LANGUAGE_LIST, CBN_SELCHANGE);
      }
      ASSERT_EQ(GetLocalizedString(tag, IDS_WINDOW_CAPTION), WindowText(window_->main_dialog()));
      // Every control shown on the current page, with its own text (the terms field scrolls, the progress bar and
      // the picture carry none).
      auto measure = [&](const std::wstring& page) {
        const std::wstring where = *pages.insert(tag + L" " + page).first;
        for (HWND dialog : {window_->main_dialog(), window_->options_dialog()}) {
          for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (child != window_->options_dialog() && IsWindowVisible(child) && !IsClass(child, WC_EDITW))
              MeasureText(child, WindowText(child), where);
          }
        }
      };
      window_->ShowPage(uninstall ? InstallerWindow::kPageUninstall : InstallerWindow::kPageWelcome);
      measure(uninstall ? L"uninstall" : L"welcome");
      if (!uninstall) {
        for (int accept : {IDS_ACCEPT_INSTALL, IDS_ACCEPT_UPDATE}) {
          const std::wstring label = GetLocalizedString(accept);
          MeasureText(Control(IDC_ACCEPT_BUTTON), label, tag + L" welcome");
          InstallerWindow::SetRichTextWithLinks(Control(IDC_WELCOME_TEXT),
                                                GetLocalizedString(IDS_WELCOME_TERMS, label));
          MeasureText(Control(IDC_WELCOME_TEXT), L"welcome text", tag + L" welcome");
        }
        window_->ShowPage(InstallerWindow::kPageTos);
        measure(L"terms");
        window_->ShowPage(InstallerWindow::kPageOptions);
        ShowWindow(Control(IDC_FOLDER_WARNING), SW_SHOWNOACTIVATE);
        measure(L"options");
        ShowWindow(Control(IDC_FOLDER_WARNING), SW_HIDE);
      }
      window_->ShowPage(InstallerWindow::kPageProgress);
      for (int phase = uninstall ? 3 : 0; phase <= 3; ++phase) {
        window_->ShowPhase(phase);
        measure(L"progress");
      }
      for (int error = IDS_ERROR_DOWNLOAD; error <= IDS_ERROR_NO_SSE2; ++error) {
        if (error == IDS_UNUSED_37051 || (uninstall && error != IDS_ERROR_BROWSER_RUNNING))
          continue;
        const std::wstring detail =
            error == IDS_ERROR_OLD_WINDOWS ? GetLocalizedString(IDS_FULL_PACKAGE) : folder + L"\\zorvi.dll";
        window_->DisplayError(GetLocalizedString(error, detail), !uninstall, "");
        measure(L"error");
      }
    }
  }
  // Six pages in each language.
  EXPECT_EQ(GetAvailableUiLanguages().size() * 6, pages.size());
}

// The error and current-user boxes: the window's caption, its own button texts, what each answer does, and no
// hook left behind by one opened inside another. (The cancel boxes are worked from outside, in the end-to-end
// scenarios.)
TEST_F(InstallerWindowTest, MessageBoxesSpeakTheInstallersLanguage) {
  MakeWindow(RunKind::kInstall);
  g_box_answer = IDOK;
  const std::wstring error = L"Das Paket ist besch\u00e4digt.";
  window_->ShowErrorBox(error);
  ASSERT_EQ(1u, boxes_.size());
  EXPECT_EQ(GetLocalizedString(IDS_WINDOW_CAPTION), boxes_.back().caption);
  EXPECT_EQ(error, boxes_.back().text);
  EXPECT_EQ(GetLocalizedString(IDS_OK), boxes_.back().buttons[IDOK]);
  EXPECT_EQ(base::WideToUTF8(error), LastString("error_displayed"));
  EXPECT_EQ(1, delegate_.cancels);

  for (int answer : {IDOK, IDCANCEL}) {
    SCOPED_TRACE(answer);
    g_box_answer = answer;
    EXPECT_EQ(answer == IDOK, window_->OfferCurrentUserInstall());
    EXPECT_EQ(GetLocalizedString(IDS_OFFER_CURRENT_USER), boxes_.back().text);
    EXPECT_EQ(answer == IDOK ? 0 : 1, LastInteger("auto_switch_to_current_user"));
  }
  EXPECT_EQ(3u, boxes_.size());

  // A box opened while another is open (the current-user offer of an error that arrives under the cancel
  // question) leaves no relabelling behind: a window activated afterwards keeps its own "yes" button's text.
  g_box_answer = IDOK;
  g_inside_next_box = [this] { EXPECT_TRUE(window_->OfferCurrentUserInstall()); };
  window_->ShowErrorBox(error);
  EXPECT_EQ(5u, boxes_.size());
  const std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&DestroyWindow)> other(
      CreateWindowExW(0, L"STATIC", L"other", WS_POPUP, 0, 0, 50, 50, window_->main_dialog(), nullptr, nullptr,
                      nullptr),
      &DestroyWindow);
  ASSERT_TRUE(other);
  const HWND yes = CreateWindowExW(0, L"BUTTON", L"other's yes", WS_CHILD | WS_VISIBLE, 0, 0, 40, 20, other.get(),
                                   reinterpret_cast<HMENU>(IDYES), nullptr, nullptr);
  ASSERT_TRUE(yes);
  ShowWindow(other.get(), SW_SHOW);
  EXPECT_EQ(other.get(), GetActiveWindow());
  EXPECT_EQ(L"other's yes", WindowText(yes));
}

struct LinkRow {
  const char* name;
  CHARRANGE range;
  bool opens_terms;
};

// A click on any link records "TOS"; only the terms link opens the terms, whether the rich edit reports the range
// of its target "tos" or of its shown text. A range longer than any link (or reversed) reads nothing rather than
// past the buffer.
TEST_F(InstallerWindowTest, OnlyTheTermsLinkOpensTheTerms) {
  MakeWindow(RunKind::kInstall);
  const HWND welcome = Control(IDC_WELCOME_TEXT);
  // The terms link's shown text, as the welcome text's anchor gives it.
  const std::wstring markup = GetLocalizedString(IDS_WELCOME_TERMS);
  const size_t shown_at = markup.find(L'>', markup.find(L"href=\"tos\"")) + 1;
  const std::wstring shown = markup.substr(shown_at, markup.find(L"</a>", shown_at) - shown_at);
  ASSERT_FALSE(shown.empty());
  const std::wstring text = L"read tos or TOS or " + std::wstring(300, L'x') + L" tos " + shown + L" " +
                            shown.substr(1);
  SetWindowTextW(welcome, text.c_str());
  const LONG last_tos = static_cast<LONG>(text.rfind(L" tos ") + 1);
  const LONG shown_from = static_cast<LONG>(text.size() - 2 * shown.size());
  const LONG shown_to = shown_from + static_cast<LONG>(shown.size());
  const LinkRow rows[] = {
      {"other text", {0, 4}, false},
      {"upper case", {12, 15}, false},
      {"reversed", {8, 5}, false},
      {"longer than a link", {0, static_cast<LONG>(text.size())}, false},
      {"part of the shown text", {shown_to + 1, static_cast<LONG>(text.size())}, false},
      {"tos", {5, 8}, true},
      {"tos after a long text", {last_tos, last_tos + 3}, true},
      {"the terms link's shown text", {shown_from, shown_to}, true},
  };
  for (const LinkRow& row : rows) {
    SCOPED_TRACE(row.name);
    window_->ShowPage(InstallerWindow::kPageWelcome);
    ENLINK link = {{welcome, IDC_WELCOME_TEXT, EN_LINK}, WM_LBUTTONUP, 0, 0, row.range};
    EXPECT_EQ(1, SendMessageW(window_->main_dialog(), WM_NOTIFY, IDC_WELCOME_TEXT, reinterpret_cast<LPARAM>(&link)));
    EXPECT_EQ(row.opens_terms ? InstallerWindow::kPageTos : InstallerWindow::kPageWelcome, window_->current_page());
    const std::vector<const base::DictionaryValue*> entries = PageEntries();
    EXPECT_EQ("TOS", EntryString(entries[entries.size() - (row.opens_terms ? 2 : 1)], "navigation_action"));
  }
}

// The options page: choosing the list's second language reaches the settings, counts, and re-reads the caption and
// the title (red, with the product name in black); every toggle reaches the settings and counts; the statistics box
// sets both statistics; a mode the settings cannot take snaps back; a folder typed key by key counts its keys only
// and stays as typed, also with the folder list open; the mode tooltip explains the three modes.
TEST_F(InstallerWindowTest, OptionsReachTheSettingsAndCount) {
  MakeWindow(RunKind::kInstall);
  const HWND options = window_->options_dialog();
  Command(window_->main_dialog(), IDC_OPTIONS_BUTTON, BN_CLICKED);
  ASSERT_EQ(InstallerWindow::kPageOptions, window_->current_page());

  const std::vector<std::wstring> tags = GetAvailableUiLanguages();
  ASSERT_GE(tags.size(), 2u);
  SendMessageW(Control(IDC_LANGUAGE_LIST), CB_SETCURSEL, 1, 0);
  Command(options, IDC_LANGUAGE_LIST, CBN_SELCHANGE);
  EXPECT_EQ(tags[1], settings_->install_language());
  EXPECT_EQ(1, LastInteger("changed_language"));
  // A tag asked for in other letter case (as a command line may write it) is still the list's own language.
  ASSERT_TRUE(settings_->SetInstallLanguage(base::UTF8ToWide(base::ToUpperASCII(base::WideToUTF8(tags[1])))));
  EXPECT_NE(tags[1], settings_->install_language());
  EXPECT_EQ(1, SendMessageW(Control(IDC_LANGUAGE_LIST), CB_GETCURSEL, 0, 0));
  EXPECT_EQ(GetLocalizedString(tags[1], IDS_WINDOW_CAPTION), WindowText(window_->main_dialog()));
  const HWND title = Control(IDC_TITLE);
  const std::wstring product = GetLocalizedString(tags[1], IDS_TITLE_PRODUCT);
  const std::wstring title_text = base::ReplaceStringPlaceholders(
      std::wstring(GetLocalizedString(tags[1], IDS_TITLE)), std::vector<std::wstring>{product}, nullptr);
  EXPECT_EQ(title_text, WindowText(title));
  const size_t product_at = title_text.find(product);
  ASSERT_NE(std::wstring::npos, product_at);
  for (size_t i = 0; i < title_text.size(); ++i) {
    CHARRANGE range = {static_cast<LONG>(i), static_cast<LONG>(i + 1)};
    SendMessageW(title, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    SendMessageW(title, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    const bool in_product = i >= product_at && i < product_at + product.size();
    EXPECT_EQ(in_product ? RGB(0, 0, 0) : RGB(255, 27, 44), format.crTextColor) << i;
  }

  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    const bool import = settings_->import_browser_data();
    SendMessageW(Control(IDC_IMPORT_DATA_CHECK), BM_CLICK, 0, 0);
    EXPECT_NE(import, settings_->import_browser_data());
    EXPECT_EQ(round, LastInteger("changed_import_data"));
    const bool stats = settings_->enable_zorvi_stats();
    SendMessageW(Control(IDC_SEND_STATS_CHECK), BM_CLICK, 0, 0);
    EXPECT_NE(stats, settings_->enable_zorvi_stats());
    EXPECT_EQ(settings_->enable_zorvi_stats(), settings_->enable_installer_stats());
    EXPECT_EQ(settings_->enable_zorvi_stats(), Checked(IDC_SEND_STATS_CHECK));
    EXPECT_EQ(round, LastInteger("changed_enable_stats"));
  }
  const test::Report before_standalone = test::SettingsReport(*settings_);
  SendMessageW(Control(IDC_MODE_LIST), CB_SETCURSEL, Settings::kModeStandalone, 0);
  Command(options, IDC_MODE_LIST, CBN_SELCHANGE);
  EXPECT_TRUE(settings_->copy_only());
  EXPECT_FALSE(IsWindowEnabled(Control(IDC_DEFAULT_BROWSER_CHECK)));
  EXPECT_EQ(1, LastInteger("changed_install_mode"));
  settings_->set_editable(false);
  SendMessageW(Control(IDC_MODE_LIST), CB_SETCURSEL, Settings::kModeAllUsers, 0);
  Command(options, IDC_MODE_LIST, CBN_SELCHANGE);
  EXPECT_EQ(Settings::kModeStandalone, SendMessageW(Control(IDC_MODE_LIST), CB_GETCURSEL, 0, 0));
  settings_->set_editable(true);
  // Leaving standalone gives the default browser and the shortcuts back as they were.
  SendMessageW(Control(IDC_MODE_LIST), CB_SETCURSEL, Settings::kModeAllUsers, 0);
  Command(options, IDC_MODE_LIST, CBN_SELCHANGE);
  EXPECT_FALSE(settings_->copy_only());
  for (const char* choice : {"default_browser", "desktop_shortcut", "start_menu_shortcut", "quick_launch_shortcut",
                             "pinned_shortcut"})
    EXPECT_EQ(before_standalone.at(choice), test::SettingsReport(*settings_).at(choice)) << choice;

  const std::wstring suffix = L"\\Typed";
  const std::wstring typed = settings_->status().path.value() + suffix;
  COMBOBOXINFO combo = {};
  combo.cbSize = sizeof(combo);
  ASSERT_TRUE(GetComboBoxInfo(Control(IDC_FOLDER_COMBO), &combo));
  SendMessageW(combo.hwndItem, EM_SETSEL, 0x7FFF, 0x7FFF);
  for (wchar_t key : suffix)
    SendMessageW(combo.hwndItem, WM_CHAR, key, 1);
  const int edits = static_cast<int>(suffix.size());
  EXPECT_EQ(edits, LastInteger("edited_install_path"));
  WaitForPath();
  EXPECT_EQ(edits, LastInteger("edited_install_path"));
  EXPECT_EQ(typed, settings_->status().path.value());
  EXPECT_EQ(typed, InstallerWindow::GetComboText(Control(IDC_FOLDER_COMBO)));
  // The status's arrival leaves the caret where the user typed, and another option's change leaves the folder shown.
  SendMessageW(combo.hwndItem, WM_CHAR, L'2', 1);
  WaitForPath();
  EXPECT_EQ(typed + L"2", settings_->status().path.value());
  SendMessageW(Control(IDC_IMPORT_DATA_CHECK), BM_CLICK, 0, 0);
  EXPECT_EQ(typed + L"2", InstallerWindow::GetComboText(Control(IDC_FOLDER_COMBO)));
  // With the list open, the combo selects the item that begins with what is typed: the folder is still the typed
  // one, refused here as no full path.
  const HWND folder_list = Control(IDC_FOLDER_COMBO);
  wchar_t item[MAX_PATH] = {};
  ASSERT_LT(0, SendMessageW(folder_list, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item)));
  SendMessageW(folder_list, CB_SHOWDROPDOWN, TRUE, 0);
  SendMessageW(combo.hwndItem, EM_SETSEL, 0, -1);
  SendMessageW(combo.hwndItem, WM_CHAR, item[0], 1);
  WaitForPath();
  SendMessageW(folder_list, CB_SHOWDROPDOWN, FALSE, 0);
  EXPECT_EQ(std::wstring(1, item[0]), settings_->status().path.value());
  EXPECT_EQ(std::wstring(1, item[0]), WindowText(combo.hwndItem));
  EXPECT_FALSE(IsWindowEnabled(Control(IDC_ACCEPT_BUTTON)));

  HWND tooltip = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM found) {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (std::wstring(name) == TOOLTIPS_CLASSW)
          *reinterpret_cast<HWND*>(found) = window;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&tooltip));
  ASSERT_TRUE(tooltip);
  wchar_t tip[1024] = {};
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.hwnd = options;
  tool.uId = reinterpret_cast<UINT_PTR>(Control(IDC_MODE_LIST));
  tool.lpszText = tip;
  SendMessageW(tooltip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
  std::wstring expected_tip;
  for (int id = IDS_TIP_ALL_USERS; id <= IDS_TIP_STANDALONE_TEXT; id += 2) {
    expected_tip += (expected_tip.empty() ? L"" : L"\n\n") + GetLocalizedString(id) + L"\n\t" +
                    GetLocalizedString(id + 1);
  }
  EXPECT_EQ(expected_tip, tip);
  EXPECT_EQ(300, SendMessageW(tooltip, TTM_GETMAXTIPWIDTH, 0, 0));
}

// What the window last asked of a button's elevation shield; wine draws no shield, so a spy reads the request.
LRESULT CALLBACK ShieldSpy(HWND button, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR shield) {
  if (message == BCM_SETSHIELD)
    *reinterpret_cast<int*>(shield) = static_cast<int>(lparam);
  return DefSubclassProc(button, message, wparam, lparam);
}

struct ShieldRow {
  const char* name;
  AdminTokenSeam account;
  bool all_users;
  int shield;
};

// The accept and retry buttons carry the shield when a user without administrator rights installs for all users.
// The welcome text shows its link's text; an unusable folder disables accept and back and shows the red warning.
TEST_F(InstallerWindowTest, ControlsFollowTheSettingsAndTheFolder) {
  MakeWindow(RunKind::kInstall);
  int shields[2] = {-1, -1};
  SetWindowSubclass(Control(IDC_ACCEPT_BUTTON), &ShieldSpy, 1, reinterpret_cast<DWORD_PTR>(&shields[0]));
  SetWindowSubclass(Control(IDC_RETRY_BUTTON), &ShieldSpy, 1, reinterpret_cast<DWORD_PTR>(&shields[1]));
  const ShieldRow rows[] = {
      {"standard user, all users", AdminTokenSeam::kStandardUser, true, 1},
      {"standard user, own folder", AdminTokenSeam::kStandardUser, false, 0},
      {"administrator, all users", AdminTokenSeam::kNone, true, 0},
  };
  for (const ShieldRow& row : rows) {
    SCOPED_TRACE(row.name);
    SetAdminTokenSeamForTesting(row.account);
    ASSERT_TRUE(settings_->SetAllUsers(row.all_users));
    EXPECT_EQ(row.shield, shields[0]);
    EXPECT_EQ(row.shield, shields[1]);
  }
  SetAdminTokenSeamForTesting(AdminTokenSeam::kNone);

  // Neither the link markup nor the field's instruction shows.
  const std::wstring terms = GetLocalizedString(IDS_WELCOME_TERMS, WindowText(Control(IDC_ACCEPT_BUTTON)));
  const size_t anchor = terms.find(L"<a ");
  const size_t link_text = terms.find(L'>', anchor) + 1;
  const size_t close = terms.find(L"</a>", link_text);
  ASSERT_NE(std::wstring::npos, close);
  EXPECT_EQ(terms.substr(0, anchor) + terms.substr(link_text, close - link_text) + terms.substr(close + 4),
            WindowText(Control(IDC_WELCOME_TEXT)));

  // A folder below a file can never be made.
  const base::FilePath file = base::FilePath(folder_.path()).Append(L"file.txt");
  ASSERT_EQ(1, base::WriteFile(file, "x", 1));
  for (bool usable : {false, true}) {
    SCOPED_TRACE(usable);
    ASSERT_TRUE(settings_->SetInstallFolder(usable ? folder_.path() + L"\\Other" : file.Append(L"Zorvi").value()));
    WaitForPath();
    EXPECT_EQ(usable, settings_->status().valid_install_path);
    EXPECT_EQ(usable, IsWindowEnabled(Control(IDC_ACCEPT_BUTTON)) != FALSE);
    EXPECT_EQ(usable, IsWindowEnabled(Control(IDC_BACK_BUTTON)) != FALSE);
    window_->ShowPage(InstallerWindow::kPageOptions);
    EXPECT_EQ(!usable, Shown(IDC_FOLDER_WARNING));
    EXPECT_EQ(settings_->status().path.value(), InstallerWindow::GetComboText(Control(IDC_FOLDER_COMBO)));
  }
}

// In an uninstallation the delete-profile box reaches the settings and counts on the uninstall page.
TEST_F(InstallerWindowTest, DeleteProfileBoxReachesTheSettings) {
  MakeWindow(RunKind::kUninstall);
  for (int round = 1; round <= 2; ++round) {
    SendMessageW(Control(IDC_DELETE_PROFILE_CHECK), BM_CLICK, 0, 0);
    EXPECT_EQ(round == 1, settings_->delete_profile());
    EXPECT_EQ(round == 1, Checked(IDC_DELETE_PROFILE_CHECK));
    EXPECT_EQ(round, LastInteger("changed_delete_profile"));
    EXPECT_EQ("UNINSTALL", LastString("page_type"));
  }
  Command(window_->main_dialog(), IDC_UNINSTALL_BUTTON, BN_CLICKED);
  EXPECT_EQ(1, delegate_.accepts);
  EXPECT_EQ("UNINSTALL", LastString("navigation_action"));
}

// The 32-bit pixels of `bitmap` (not selected into a DC), top row first.
std::vector<uint32_t> Pixels(HBITMAP bitmap) {
  BITMAP info = {};
  GetObjectW(bitmap, sizeof(info), &info);
  BITMAPINFO format = {};
  format.bmiHeader = {sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<uint32_t> pixels(static_cast<size_t>(info.bmWidth) * info.bmHeight);
  const HDC screen = GetDC(nullptr);
  GetDIBits(screen, bitmap, 0, info.bmHeight, pixels.data(), &format, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Under visual styles (the prefix's default: wine's bundled light theme) a check box paints its own background, so
// the delete-profile box gets the piece of the window's background it covers, cut out again whenever the window is
// sized. Without them it paints transparently: testdata_check.sh runs this test again in a prefix of its own with
// the theme off.
TEST_F(InstallerWindowTest, ThemedControlsPaintTheirPieceOfTheBackground) {
  const bool themed = std::getenv("ZORVI_UNTHEMED_PREFIX") == nullptr;
  ASSERT_EQ(themed, IsAppThemed() != FALSE) << "the prefix's theme";
  MakeWindow(RunKind::kUninstall);
  const HWND dialog = window_->main_dialog();
  const HWND box = Control(IDC_DELETE_PROFILE_CHECK);
  RECT window = {};
  GetWindowRect(dialog, &window);
  for (int wider : {0, 60}) {
    SCOPED_TRACE(wider);
    ASSERT_TRUE(SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left + wider, window.bottom - window.top,
                             SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    const HDC dc = GetDC(box);
    const auto brush = reinterpret_cast<HGDIOBJ>(
        SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(box)));
    ReleaseDC(box, dc);
    if (!themed) {
      EXPECT_EQ(GetStockObject(NULL_BRUSH), brush);
      continue;
    }
    LOGBRUSH pattern = {};
    ASSERT_EQ(static_cast<int>(sizeof(pattern)), GetObjectW(brush, sizeof(pattern), &pattern));
    ASSERT_EQ(static_cast<UINT>(BS_PATTERN), pattern.lbStyle);
    const std::vector<uint32_t> piece = Pixels(reinterpret_cast<HBITMAP>(pattern.lbHatch));

    // The background as the window paints it.
    RECT client = {};
    GetClientRect(dialog, &client);
    const HDC screen = GetDC(dialog);
    const HBITMAP painted = CreateCompatibleBitmap(screen, client.right, client.bottom);
    const HDC memory = CreateCompatibleDC(screen);
    const HGDIOBJ previous = SelectObject(memory, painted);
    EXPECT_EQ(1, SendMessageW(dialog, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0));
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(dialog, screen);
    const std::vector<uint32_t> background = Pixels(painted);
    DeleteObject(painted);

    const RECT place = InstallerWindow::GetChildRect(dialog, box);
    const LONG width = place.right - place.left;
    ASSERT_EQ(static_cast<size_t>(width * (place.bottom - place.top)), piece.size());
    for (LONG y = 0; y < place.bottom - place.top; ++y) {
      const auto row = background.begin() + (place.top + y) * client.right + place.left;
      ASSERT_TRUE(std::equal(row, row + width, piece.begin() + y * width)) << "row " << y;
    }
  }
}

}  // namespace
}  // namespace zorvi::installer
