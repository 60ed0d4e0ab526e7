#include "desktop/launcher/installer/ui/installer_options_page.h"

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/win/scoped_comptr.h"
#include "base/win/windows_version.h"
#include "desktop/launcher/installer/service/access_control.h"
#include "desktop/launcher/installer/service/utils.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"
#include "desktop/launcher/installer/ui/installer_window.h"
#include "desktop/launcher/installer/ui/installer_window_drawing.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

namespace zorvi::installer {
namespace options_page {
namespace {

constexpr OptionCheck kOptionChecks[] = {
    {IDC_DEFAULT_BROWSER_CHECK, "changed_make_default_browser", &Settings::SetDefaultBrowser, nullptr},
    {IDC_IMPORT_DATA_CHECK, "changed_import_data", &Settings::SetImportBrowserData, nullptr},
    // One box for both kinds of statistics.
    {IDC_SEND_STATS_CHECK, "changed_enable_stats", &Settings::SetEnableZorviStats, &Settings::SetEnableInstallerStats},
    {IDC_DELETE_PROFILE_CHECK, "changed_delete_profile", &Settings::SetDeleteProfile, nullptr},
};

}  // namespace

const OptionCheck* FindOptionCheck(int id) {
  const auto found = std::find_if(std::begin(kOptionChecks), std::end(kOptionChecks),
                                  [id](const OptionCheck& check) { return check.id == id; });
  return found == std::end(kOptionChecks) ? nullptr : found;
}

}  // namespace options_page

namespace {

using options_page::FindOptionCheck;
using window_drawing::WindowText;

constexpr COLORREF kWarningColor = RGB(255, 0, 0);

// The install-mode list as a tool of the tooltip, showing `text`.
TTTOOLINFOW ModeListTool(HWND options_dialog, HWND mode_list, std::wstring* text) {
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = options_dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(mode_list);
  tool.lpszText = text->data();
  return tool;
}

// With its list open, a combo box selects the first item that begins with the text typed so far, and the selected
// item would stand for the folder although the field shows what was typed: the typed text is the folder, so such a
// selection goes (from the list alone, which leaves the field as it is).
void DropPrefixSelection(HWND combo) {
  COMBOBOXINFO info = {};
  info.cbSize = sizeof(info);
  if (InstallerWindow::GetComboText(combo) != WindowText(combo) && GetComboBoxInfo(combo, &info))
    SendMessageW(info.hwndList, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

int CALLBACK BrowseCallbackProc(HWND browser, UINT message, LPARAM, LPARAM folder) {
  if (message == BFFM_INITIALIZED)
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, folder);
  return 0;
}

}  // namespace

INT_PTR CALLBACK InstallerWindow::OptionsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* window = reinterpret_cast<InstallerWindow*>(lparam);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    window->options_dialog_ = dialog;
    window->InitOptionsDialog(dialog);
    return 0;
  }
  auto* window = reinterpret_cast<InstallerWindow*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  return window ? window->HandleOptionsMessage(dialog, message, wparam, lparam) : 0;
}

INT_PTR InstallerWindow::HandleOptionsMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int code = HIWORD(wparam);
      if (id == IDC_LANGUAGE_LIST && code == CBN_SELCHANGE) {
        CountInPage("changed_language");
        return OnLanguageSelected();
      }
      if (id == IDC_MODE_LIST && code == CBN_SELCHANGE) {
        CountInPage("changed_install_mode");
        if (!settings_->editable()) {
          UpdateControls();
          return 1;
        }
        const LRESULT mode = SendDlgItemMessageW(dialog, IDC_MODE_LIST, CB_GETCURSEL, 0, 0);
        if (mode >= Settings::kModeAllUsers && mode <= Settings::kModeStandalone)
          settings_->SetMode(static_cast<int>(mode));
        return 1;
      }
      if (id == IDC_FOLDER_COMBO && (code == CBN_SELCHANGE || code == CBN_EDITCHANGE)) {
        // The list's own refills are no choice of the user's.
        if (folder_change_by_code_)
          return 1;
        CountInPage(code == CBN_SELCHANGE ? "changed_install_path" : "edited_install_path");
        if (code == CBN_EDITCHANGE)
          DropPrefixSelection(GetDlgItem(dialog, IDC_FOLDER_COMBO));
        return ApplyInstallFolder();
      }
      if (id == IDC_BROWSE_BUTTON)
        return BrowseForInstallFolder();
      if (FindOptionCheck(id) && code == BN_CLICKED) {
        OnOptionToggled(id, dialog);
        return 1;
      }
      return 0;
    }
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_CTLCOLORSTATIC: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
      if (FindOptionCheck(id))
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
      if (const HDC dc = reinterpret_cast<HDC>(wparam)) {
        SetTextColor(dc, id == IDC_FOLDER_WARNING ? kWarningColor : RGB(0, 0, 0));
        SetBkMode(dc, TRANSPARENT);
      }
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    }
    default:
      return 0;
  }
}

void InstallerWindow::InitOptionsDialog(HWND dialog) {
  if (run_immediately_)
    return;
  // From Windows 8 on the system asks the user for the default browser itself.
  ShowWindow(GetDlgItem(dialog, IDC_DEFAULT_BROWSER_CHECK),
             base::win::GetVersion() < base::win::VERSION_WIN8 ? SW_SHOWNOACTIVATE : SW_HIDE);
  SendDlgItemMessageW(dialog, IDC_FOLDER_WARNING, WM_SETFONT, reinterpret_cast<WPARAM>(bold_font_), FALSE);
  RECT browse = {};
  RECT folder = {};
  GetClientRect(GetDlgItem(dialog, IDC_BROWSE_BUTTON), &browse);
  GetClientRect(GetDlgItem(dialog, IDC_FOLDER_COMBO), &folder);
  SetWindowPos(GetDlgItem(dialog, IDC_BROWSE_BUTTON), nullptr, 0, 0, browse.right, folder.bottom,
               SWP_NOMOVE | SWP_NOZORDER);
  const HWND mode_list = GetDlgItem(dialog, IDC_MODE_LIST);
  if (!mode_list)
    return;
  tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX | TTS_BALLOON,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr,
                             nullptr);
  if (!tooltip_) {
    PLOG(ERROR) << "Could not make the install mode's tooltip";
    return;
  }
  std::wstring text = BuildInstallModeTooltipText();
  const TTTOOLINFOW tool = ModeListTool(dialog, mode_list, &text);
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 300);
  // The text again, now that the tip's width is limited: the same update that every language change sends.
  SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

std::wstring InstallerWindow::BuildInstallModeTooltipText() {
  std::vector<std::wstring> parts;
  for (int id = IDS_TIP_ALL_USERS; id <= IDS_TIP_STANDALONE_TEXT; ++id)
    parts.push_back(GetLocalizedString(id));
  return base::ReplaceStringPlaceholders(L"$1\n\t$2\n\n$3\n\t$4\n\n$5\n\t$6", parts, nullptr);
}

void InstallerWindow::UpdateTooltip() {
  const HWND mode_list = Control(IDC_MODE_LIST);
  if (!tooltip_ || !mode_list)
    return;
  std::wstring text = BuildInstallModeTooltipText();
  const TTTOOLINFOW tool = ModeListTool(options_dialog_, mode_list, &text);
  SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void InstallerWindow::FillLanguageList() {
  const HWND list = Control(IDC_LANGUAGE_LIST);
  if (!list)
    return;
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  LRESULT selection = 0;
  for (size_t i = 0; i < language_tags_.size(); ++i) {
    const std::wstring name = GetLocalizedString(language_tags_[i], IDS_LANGUAGE_NAME);
    const LRESULT index = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    const LRESULT set = SendMessageW(list, CB_SETITEMDATA, index, reinterpret_cast<LPARAM>(language_tags_[i].c_str()));
    if (index < 0 || set == CB_ERR || set == CB_ERRSPACE)
      LOG(ERROR) << "Adding item #" << i << "to the language dropdown failed";
    // A tag asked for on the command line may differ from the list's in letter case only.
    if (LanguageTagsEqual(language_tags_[i], settings_->install_language()))
      selection = index;
  }
  SendMessageW(list, CB_SETCURSEL, selection, 0);
}

void InstallerWindow::FillModeList() {
  const HWND list = Control(IDC_MODE_LIST);
  if (!list)
    return;
  const LRESULT selection = SendMessageW(list, CB_GETCURSEL, 0, 0);
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  std::wstring current_user = GetLocalizedString(IDS_MODE_CURRENT_USER);
  std::wstring user_name;
  if (GetCurrentUserName(false, &user_name))
    current_user += L" (" + user_name + L")";
  for (const std::wstring& item : {GetLocalizedString(IDS_MODE_ALL_USERS), current_user,
                                   GetLocalizedString(IDS_MODE_STANDALONE)}) {
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  SendMessageW(list, CB_SETCURSEL, selection == CB_ERR ? 0 : selection, 0);
}

void InstallerWindow::UpdateControls() {
  const Status& status = settings_->status();
  const bool vista_or_later = base::win::GetVersion() >= base::win::VERSION_VISTA;
  const bool shield = !IsUserAdmin(false) && (settings_->all_users() || !status.has_write_access);
  auto set_shield = [&](int id) {
    if (HWND button = Control(id); button && vista_or_later)
      SendMessageW(button, BCM_SETSHIELD, 0, shield);
  };
  if (settings_->uninstall()) {
    set_shield(IDC_UNINSTALL_BUTTON);
    SendMessageW(Control(IDC_DELETE_PROFILE_CHECK), BM_SETCHECK,
                 settings_->delete_profile() ? BST_CHECKED : BST_UNCHECKED, 0);
    return;
  }

  const HWND mode_list = Control(IDC_MODE_LIST);
  EnableWindow(mode_list, settings_->operation() == Settings::kOperationInstall);
  const int mode = settings_->copy_only()   ? Settings::kModeStandalone
                   : settings_->all_users() ? Settings::kModeAllUsers
                                            : Settings::kModeCurrentUser;
  SendMessageW(mode_list, CB_SETCURSEL, mode, 0);

  const bool update = status.existing_installation || status.existing_installation_traces;
  const std::wstring accept = GetLocalizedString(update ? IDS_ACCEPT_UPDATE : IDS_ACCEPT_INSTALL);
  SetControlText(IDC_ACCEPT_BUTTON, accept);
  link_targets_ = SetRichTextWithLinks(Control(IDC_WELCOME_TEXT), GetLocalizedString(IDS_WELCOME_TERMS, accept));
  set_shield(IDC_ACCEPT_BUTTON);
  set_shield(IDC_RETRY_BUTTON);

  bool default_browser_choice = !settings_->copy_only();
  // An earlier engine's installation that is the "http" handler keeps that role when it is replaced.
  if (settings_->replace_kadro_installation() && status.kadro_installation && status.is_http_handler)
    default_browser_choice = false;
  EnableWindow(Control(IDC_DEFAULT_BROWSER_CHECK), default_browser_choice);
  const std::pair<int, bool> checks[] = {
      {IDC_DEFAULT_BROWSER_CHECK, settings_->default_browser()},
      {IDC_IMPORT_DATA_CHECK, settings_->import_browser_data()},
      {IDC_SEND_STATS_CHECK, settings_->enable_zorvi_stats() || settings_->enable_installer_stats()}};
  for (const auto& [id, checked] : checks)
    SendMessageW(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);

  const HWND folder_list = Control(IDC_FOLDER_COMBO);
  const LRESULT selection = SendMessageW(folder_list, CB_GETCURSEL, 0, 0);
  // Emptying the list empties its edit field as well: a folder typed or browsed to stays in it, the caret where
  // the user left it.
  const std::wstring folder_text = GetComboText(folder_list);
  const LRESULT folder_caret = SendMessageW(folder_list, CB_GETEDITSEL, 0, 0);
  folder_change_by_code_ = true;
  SendMessageW(folder_list, CB_RESETCONTENT, 0, 0);
  const std::wstring default_folder = settings_->GetDefaultInstallFolder(true, true).value();
  SendMessageW(folder_list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(default_folder.c_str()));
  if (selection != CB_ERR) {
    SendMessageW(folder_list, CB_SETCURSEL, 0, 0);
  } else {
    SetWindowTextW(folder_list, folder_text.c_str());
    SendMessageW(folder_list, CB_SETEDITSEL, 0, folder_caret);
  }
  folder_change_by_code_ = false;
  // Applying the chosen default folder again fetches nothing when it is already the folder asked for last. Settings
  // that take no folder are left alone: ApplyInstallFolder would answer them with UpdateControls, without end.
  if (selection != CB_ERR && settings_->editable())
    ApplyInstallFolder();

  const bool usable = status.valid_install_path;
  EnableWindow(Control(IDC_ACCEPT_BUTTON), usable);
  EnableWindow(Control(IDC_BACK_BUTTON), usable);
  ShowControl(IDC_FOLDER_WARNING, !usable);
  InvalidateControl(IDC_FOLDER_WARNING);
}

INT_PTR InstallerWindow::OnLanguageSelected() {
  const LRESULT index = SendMessageW(Control(IDC_LANGUAGE_LIST), CB_GETCURSEL, 0, 0);
  if (settings_->editable() && index >= 0 && static_cast<size_t>(index) < language_tags_.size())
    settings_->SetInstallLanguage(language_tags_[index]);
  UpdateControls();
  return 1;
}

INT_PTR InstallerWindow::ApplyInstallFolder() {
  if (settings_->editable())
    settings_->SetInstallFolder(GetComboText(Control(IDC_FOLDER_COMBO)));
  else
    UpdateControls();
  return 1;
}

void InstallerWindow::OnOptionToggled(int id, HWND dialog) {
  const options_page::OptionCheck* option = FindOptionCheck(id);
  if (!settings_->editable()) {
    UpdateControls();
  } else if (option) {
    const bool checked = SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
    CountInPage(option->counter);
    (settings_->*option->set)(checked);
    if (option->set_too)
      (settings_->*option->set_too)(checked);
  }
  InvalidateControl(id);
}

INT_PTR InstallerWindow::BrowseForInstallFolder() {
  const std::wstring title = GetLocalizedString(IDS_BROWSE_TITLE);
  const std::wstring current = GetComboText(Control(IDC_FOLDER_COMBO));
  wchar_t display_name[MAX_PATH] = {};
  BROWSEINFOW info = {};
  info.hwndOwner = main_dialog_;
  info.pszDisplayName = display_name;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  if (!current.empty()) {
    info.lpfn = &BrowseCallbackProc;
    info.lParam = reinterpret_cast<LPARAM>(current.c_str());
  }
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
  if (!item)
    return 1;
  std::wstring path;
  base::win::ScopedComPtr<IShellFolder> desktop;
  if (SUCCEEDED(SHGetDesktopFolder(desktop.Receive()))) {
    STRRET name = {};
    if (SUCCEEDED(desktop->GetDisplayNameOf(item, SHGDN_FORPARSING, &name)) && name.uType == STRRET_WSTR) {
      path = name.pOleStr;
      CoTaskMemFree(name.pOleStr);
    }
  }
  if (path.empty()) {
    wchar_t buffer[MAX_PATH] = {};
    if (SHGetPathFromIDListW(item, buffer))
      path = buffer;
  }
  CoTaskMemFree(item);
  if (!path.empty()) {
    SetFolderTextByCode(path);
    ApplyInstallFolder();
  }
  return 1;
}

void InstallerWindow::SetFolderTextByCode(const std::wstring& text) {
  folder_change_by_code_ = true;
  SetComboText(Control(IDC_FOLDER_COMBO), text);
  folder_change_by_code_ = false;
}

std::wstring InstallerWindow::GetComboText(HWND combo) {
  const LRESULT selection = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (selection != CB_ERR) {
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, selection, 0);
    if (length >= 0) {
      std::wstring text(length + 1, L'\0');
      const LRESULT copied = SendMessageW(combo, CB_GETLBTEXT, selection, reinterpret_cast<LPARAM>(text.data()));
      text.resize(std::clamp<LRESULT>(copied, 0, length));
      return text;
    }
  }
  return WindowText(combo);
}

void InstallerWindow::SetComboText(HWND combo, const std::wstring& text) {
  if (GetComboText(combo) == text)
    return;
  const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(text.c_str()));
  if (index != CB_ERR) {
    SendMessageW(combo, CB_SETCURSEL, index, 0);
    return;
  }
  // A typed folder is no item of the list: the selection goes, or the edit field would show the item again.
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  SetWindowTextW(combo, text.c_str());
}

}  // namespace zorvi::installer
