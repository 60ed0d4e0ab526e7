#include "desktop/launcher/installer/ui/installer_window.h"

#include <windows.h>

#include <commctrl.h>
#include <richedit.h>
#include <uxtheme.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/native_library.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/records/installer_stats.h"
#include "desktop/launcher/installer/status.h"
#include "desktop/launcher/installer/ui/installer_resource_ids.h"
#include "desktop/launcher/installer/ui/installer_window_drawing.h"
#include "desktop/launcher/installer/ui/picture_resource.h"
#include "desktop/launcher/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

namespace zorvi::installer {

namespace {

using window_drawing::BitmapSize;
using window_drawing::BlendBitmap;
using window_drawing::MakeFont;
using window_drawing::ScopedGdiObject;
using window_drawing::ScopedMemoryDC;
using window_drawing::ScopedThreadHook;
using window_drawing::SetRangeColor;
using window_drawing::WindowText;

constexpr COLORREF kTitleColor = RGB(255, 27, 44);
// The background colour of the title and the welcome text, which their painting replaces by the window's
// background: near the picture's colours, so that the edges of their letters blend into it.
constexpr COLORREF kTextKeyColor = RGB(241, 244, 250);

// The link text read from an EN_LINK range: no link of the window's texts is longer, so a longer range is simply
// another link.
constexpr LONG kMaxLinkText = 256;

// The terms link's target.
constexpr wchar_t kTermsLinkTarget[] = L"tos";

struct PageControl {
  int id;
  bool shown[6];  // by page: welcome, uninstall, terms, options, progress, error
};

constexpr PageControl kPageControls[] = {
    {IDC_PRODUCT_PICTURE, {1, 1, 0, 0, 1, 1}},     {IDC_TERMS_TEXT, {0, 0, 1, 0, 0, 0}},
    {IDC_BACK_BUTTON, {0, 0, 1, 1, 0, 1}},         {IDC_TITLE, {1, 0, 0, 0, 0, 0}},
    {IDC_WELCOME_TEXT, {1, 0, 0, 0, 0, 0}},        {IDC_OPTIONS_BUTTON, {1, 0, 0, 0, 0, 0}},
    {IDC_ACCEPT_BUTTON, {1, 0, 1, 1, 0, 0}},       {IDC_PROGRESS_HEADING, {0, 0, 0, 0, 1, 0}},
    {IDC_STATUS_TEXT, {0, 0, 0, 0, 1, 1}},         {IDC_PROGRESS_BAR, {0, 0, 0, 0, 1, 0}},
    {IDC_ERROR_HEADING, {0, 0, 0, 0, 0, 1}},       {IDC_UNINSTALL_ERROR_HEADING, {0, 0, 0, 0, 0, 1}},
    {IDC_RETRY_BUTTON, {0, 0, 0, 0, 0, 1}},        {IDC_FULL_PACKAGE_BUTTON, {0, 0, 0, 0, 0, 1}},
    {IDC_CANCEL_BUTTON, {0, 1, 0, 0, 0, 0}},       {IDC_UNINSTALL_BUTTON, {0, 1, 0, 0, 0, 0}},
    {IDC_DELETE_PROFILE_CHECK, {0, 1, 0, 0, 0, 0}}, {IDC_UNINSTALL_HEADING, {0, 1, 0, 0, 0, 0}},
};

// The control that takes the focus on each page; 0: none.
constexpr int kPageFocus[] = {IDC_ACCEPT_BUTTON, IDC_UNINSTALL_BUTTON, IDC_ACCEPT_BUTTON,
                              IDC_ACCEPT_BUTTON, 0,                    IDC_RETRY_BUTTON};

// Control texts re-read on every language change.
constexpr std::pair<int, int> kControlTexts[] = {
    {IDC_OPTIONS_BUTTON, IDS_OPTIONS},
    {IDC_BACK_BUTTON, IDS_BACK},
    {IDC_LANGUAGE_LABEL, IDS_LANGUAGE_LABEL},
    {IDC_MODE_LABEL, IDS_MODE_LABEL},
    {IDC_FOLDER_LABEL, IDS_FOLDER_LABEL},
    {IDC_BROWSE_BUTTON, IDS_BROWSE},
    {IDC_FOLDER_WARNING, IDS_FOLDER_UNUSABLE},
    {IDC_DEFAULT_BROWSER_CHECK, IDS_DEFAULT_BROWSER},
    {IDC_IMPORT_DATA_CHECK, IDS_IMPORT_DATA},
    {IDC_SEND_STATS_CHECK, IDS_SEND_STATS},
    {IDC_PROGRESS_HEADING, IDS_PROGRESS_HEADING},
    {IDC_ERROR_HEADING, IDS_ERROR_HEADING},
    {IDC_UNINSTALL_ERROR_HEADING, IDS_UNINSTALL_ERROR_HEADING},
    {IDC_RETRY_BUTTON, IDS_RETRY},
    {IDC_FULL_PACKAGE_BUTTON, IDS_FULL_PACKAGE},
    {IDC_CANCEL_BUTTON, IDS_CANCEL},
    {IDC_UNINSTALL_BUTTON, IDS_UNINSTALL},
    {IDC_UNINSTALL_HEADING, IDS_UNINSTALL_HEADING},
    {IDC_DELETE_PROFILE_CHECK, IDS_DELETE_PROFILE},
};

// Controls whose background is cut from the window's background when visual styles paint them.
constexpr int kControlsWithBackground[] = {IDC_DELETE_PROFILE_CHECK};

}  // namespace

InstallerWindow::InstallerWindow(Settings* settings, InstallerStats* stats, bool run_immediately)
    : settings_(settings),
      run_immediately_(run_immediately),
      language_tags_(GetAvailableUiLanguages()),
      control_backgrounds_(8),
      stats_(stats) {}

std::unique_ptr<InstallerWindow> InstallerWindow::Create(Settings* settings, InstallerStats* stats,
                                                         bool run_immediately) {
  const INITCOMMONCONTROLSEX classes = {
      sizeof(classes), ICC_WIN95_CLASSES | ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
  if (!InitCommonControlsEx(&classes))
    PLOG(ERROR) << "InitCommonControlsEx failed.";
  if (!base::win::LoadSystemLibrary(L"Msftedit.dll"))
    PLOG(ERROR) << "Loading library Msftedit.dll failed.";

  std::unique_ptr<InstallerWindow> window(new InstallerWindow(settings, stats, run_immediately));
  if (!run_immediately)
    settings->AddObserver(window.get());
  const LPARAM self = reinterpret_cast<LPARAM>(window.get());
  CreateDialogParamW(nullptr, MAKEINTRESOURCEW(IDD_INSTALLER_MAIN), nullptr, &MainDialogProc, self);
  if (window->main_dialog_)
    CreateDialogParamW(nullptr, MAKEINTRESOURCEW(IDD_INSTALLER_OPTIONS), window->main_dialog_,
                       &OptionsDialogProc, self);
  if (!window->main_dialog_ || !window->options_dialog_) {
    PLOG(ERROR) << "Window creation failed.";
    return nullptr;
  }
  window->ShowPage(settings->uninstall() ? kPageUninstall : kPageWelcome);
  ShowWindow(window->main_dialog_, SW_SHOW);
  window->OnLanguageChanged();
  if (!settings->status_fetcher())
    window->OnPathChanged();
  if (WindowShownHook hook = GetWindowShownHook())
    hook();
  return window;
}

InstallerWindow::~InstallerWindow() {
  if (tooltip_)
    DestroyWindow(tooltip_);
  if (!run_immediately_)
    settings_->RemoveObserver(this);
  if (main_dialog_) {
    for (WPARAM kind : {ICON_SMALL, ICON_BIG}) {
      if (HICON icon = reinterpret_cast<HICON>(SendMessageW(main_dialog_, WM_SETICON, kind, 0)))
        DestroyIcon(icon);
    }
    Win32DialogDispatcher::GetInstance()->SwitchAway(main_dialog_);
    DestroyWindow(main_dialog_);
  }
  page_entry_.reset();
  ClearControlBackgrounds();
  for (HBITMAP bitmap : {background_, product_picture_, error_badge_, background_picture_}) {
    if (bitmap)
      DeleteObject(bitmap);
  }
  for (HFONT font : {normal_font_, bold_font_, heading_font_, title_font_}) {
    if (font)
      DeleteObject(font);
  }
}

const char* InstallerWindow::PageTypeToString(int page) {
  static constexpr const char* kNames[] = {"WELCOME", "UNINSTALL", "TOS", "OPTIONS", "PROGRESS", "ERROR"};
  return page >= 0 && page < static_cast<int>(std::size(kNames)) ? kNames[page] : "invalid";
}

INT_PTR CALLBACK InstallerWindow::MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* window = reinterpret_cast<InstallerWindow*>(lparam);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
    window->InitMainDialog(dialog);
    return 0;
  }
  auto* window = reinterpret_cast<InstallerWindow*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  return window ? window->HandleMainMessage(message, wparam, lparam) : 0;
}

INT_PTR InstallerWindow::HandleMainMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE)
        Win32DialogDispatcher::GetInstance()->SwitchTo(main_dialog_);
      else
        Win32DialogDispatcher::GetInstance()->SwitchAway(main_dialog_);
      return 0;
    case WM_CLOSE:
      return ConfirmCancel();
    case WM_ERASEBKGND: {
      // The options page paints on the system's own background; every other page on the picture.
      if (current_page_ == kPageOptions)
        return 0;
      BuildBackground(false);
      RECT client = {};
      GetClientRect(main_dialog_, &client);
      const HDC dc = reinterpret_cast<HDC>(wparam);
      const ScopedMemoryDC source(dc, background_);
      BitBlt(dc, 0, 0, client.right, client.bottom, source.get(), 0, 0, SRCCOPY);
      SetWindowLongPtrW(main_dialog_, DWLP_MSGRESULT, 1);
      return 1;
    }
    case WM_WINDOWPOSCHANGED: {
      const UINT flags = reinterpret_cast<const WINDOWPOS*>(lparam)->flags;
      BuildBackground(!((flags & SWP_NOSIZE) && (flags & SWP_NOMOVE)));
      return 0;
    }
    case WM_THEMECHANGED:
      BuildBackground(true);
      return 0;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lparam);
      if (GetDlgCtrlID(control) == IDC_TERMS_TEXT)
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
      const HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, RGB(0, 0, 0));
      const auto background = control_backgrounds_.find(control);
      if (background != control_backgrounds_.end())
        return reinterpret_cast<INT_PTR>(background->second.brush);
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->code == EN_LINK)
        return HandleLinkClick(header);
      return 0;
    }
    case WM_COMMAND:
      return HandleMainCommand(LOWORD(wparam), HIWORD(wparam));
    default:
      return 0;
  }
}

INT_PTR InstallerWindow::HandleLinkClick(const NMHDR* header) {
  const auto* link = reinterpret_cast<const ENLINK*>(header);
  if (link->msg != WM_LBUTTONUP)
    return 0;
  wchar_t text[kMaxLinkText + 1] = {};
  const LONG length = link->chrg.cpMax - link->chrg.cpMin;
  // A range longer than the buffer (or reversed) is no link of ours: it is not read, only counted as a click.
  if (link->chrg.cpMin >= 0 && length > 0 && length <= kMaxLinkText) {
    TEXTRANGEW range = {link->chrg, text};
    SendMessageW(header->hwndFrom, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  }
  RecordNavigation("TOS");
  // Rich edits that show a link field's result report the range of its shown text, others that of its
  // instruction: either names the terms link.
  const auto shown = link_targets_.find(text);
  if (std::wstring(text) == kTermsLinkTarget || (shown != link_targets_.end() && shown->second == kTermsLinkTarget))
    ShowPage(kPageTos);
  SetWindowLongPtrW(main_dialog_, DWLP_MSGRESULT, 1);
  return 1;
}

INT_PTR InstallerWindow::HandleMainCommand(WORD id, WORD code) {
  switch (id) {
    case IDC_OPTIONS_BUTTON:
      RecordNavigation("OPTIONS");
      ShowPage(kPageOptions);
      return 1;
    case IDC_ACCEPT_BUTTON:
      RecordNavigation("ACCEPT");
      NotifyAccept();
      return 1;
    case IDC_RETRY_BUTTON:
      RecordNavigation("RETRY");
      NotifyAccept();
      return 1;
    case IDC_UNINSTALL_BUTTON:
      RecordNavigation("UNINSTALL");
      NotifyAccept();
      return 1;
    case IDC_FULL_PACKAGE_BUTTON:
      RecordNavigation("FULL_PACKAGE");
      Notify(&InstallerWindowDelegate::ObtainFullPackage);
      return 1;
    case IDC_BACK_BUTTON:
      RecordNavigation("BACK");
      ShowPage(kPageWelcome);
      return 1;
    case IDC_CANCEL_BUTTON:
      RecordNavigation("CANCEL");
      return ConfirmCancel();
    case IDC_TERMS_TEXT:
      if (code != EN_SETFOCUS)
        return 0;
      SendMessageW(Control(IDC_TERMS_TEXT), EM_SETSEL, static_cast<WPARAM>(-1), 0);
      return 1;
    case IDC_DELETE_PROFILE_CHECK:
      if (code != BN_CLICKED)
        return 0;
      OnOptionToggled(IDC_DELETE_PROFILE_CHECK, main_dialog_);
      return 1;
    default:
      return 0;
  }
}

void InstallerWindow::InitMainDialog(HWND dialog) {
  main_dialog_ = dialog;
  product_picture_ = LoadPngResourceAsBitmap(IDR_PRODUCT_PICTURE, L"PNG");
  error_badge_ = LoadPngResourceAsBitmap(IDR_ERROR_BADGE, L"PNG");
  background_picture_ = LoadPngResourceAsBitmap(IDR_BACKGROUND_PICTURE, L"JPG");
  CreateFonts(dialog);

  const struct {
    WPARAM kind;
    int metric;
  } kIcons[] = {{ICON_SMALL, SM_CXSMICON}, {ICON_BIG, SM_CXICON}};
  for (const auto& [kind, metric] : kIcons) {
    const int size = GetSystemMetrics(metric);
    HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_INSTALLER), IMAGE_ICON, size, size, 0);
    if (HICON previous = reinterpret_cast<HICON>(SendMessageW(dialog, WM_SETICON, kind, reinterpret_cast<LPARAM>(icon))))
      DestroyIcon(previous);
  }

  const DWORD_PTR self = reinterpret_cast<DWORD_PTR>(this);
  SetWindowSubclass(GetDlgItem(dialog, IDC_PRODUCT_PICTURE), &PictureSubclassProc, 0, self);
  const HWND welcome = GetDlgItem(dialog, IDC_WELCOME_TEXT);
  SendMessageW(welcome, EM_SETEVENTMASK, 0, SendMessageW(welcome, EM_GETEVENTMASK, 0, 0) | ENM_LINK);
  SetWindowSubclass(welcome, &HideCaretSubclassProc, 0, self);
  SetWindowSubclass(GetDlgItem(dialog, IDC_TITLE), &HideCaretSubclassProc, 0, self);
  for (HWND text : {welcome, GetDlgItem(dialog, IDC_TITLE)}) {
    SendMessageW(text, EM_SETBKGNDCOLOR, 0, kTextKeyColor);
    SetWindowSubclass(text, &TextOverBackgroundSubclassProc, 0, self);
  }
  const std::pair<int, HFONT> fonts[] = {{IDC_UNINSTALL_HEADING, bold_font_},
                                         {IDC_PROGRESS_HEADING, heading_font_},
                                         {IDC_ERROR_HEADING, heading_font_},
                                         {IDC_UNINSTALL_ERROR_HEADING, heading_font_},
                                         {IDC_TITLE, title_font_}};
  for (const auto& [id, font] : fonts)
    SendDlgItemMessageW(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

  if (run_immediately_)
    ShowPage(kPageProgress);
  else if (!settings_->uninstall())
    LoadTermsText();
}

void InstallerWindow::LoadTermsText() {
  const std::string_view bytes = HostResourceBytes(IDR_TERMS, L"TXT");
  if (bytes.empty()) {
    LOG(ERROR) << "The terms of service text is missing";
    return;
  }
  // The text ends at its NUL, but never past the resource: a text without one ends with the resource.
  std::string text(bytes.substr(0, bytes.find('\0')));
  base::ReplaceChars(text, "\n", "\r\n", &text);
  SetDlgItemTextW(main_dialog_, IDC_TERMS_TEXT, base::UTF8ToWide(text).c_str());
}

void InstallerWindow::CreateFonts(HWND dialog) {
  HDC dc = GetDC(dialog);
  const int pixels_per_inch = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(dialog, dc);
  constexpr DWORD kVariable = VARIABLE_PITCH;
  normal_font_ = MakeFont(pixels_per_inch, 8, 378, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Shell Dlg");
  bold_font_ = MakeFont(pixels_per_inch, 8, FW_BOLD, ANTIALIASED_QUALITY, kVariable, L"MS Shell Dlg");
  heading_font_ = MakeFont(pixels_per_inch, 14, FW_MEDIUM, ANTIALIASED_QUALITY, kVariable, L"MS Shell Dlg 2");
  title_font_ = MakeFont(pixels_per_inch, 22, FW_HEAVY, ANTIALIASED_QUALITY, kVariable, L"Segoe UI");
}

HWND InstallerWindow::Control(int id) const {
  HWND control = main_dialog_ ? GetDlgItem(main_dialog_, id) : nullptr;
  return control || !options_dialog_ ? control : GetDlgItem(options_dialog_, id);
}

void InstallerWindow::SetControlText(int id, const std::wstring& text) {
  if (HWND control = Control(id))
    SetWindowTextW(control, text.c_str());
}

void InstallerWindow::ShowControl(int id, bool show) {
  if (HWND control = Control(id))
    ShowWindow(control, show ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void InstallerWindow::InvalidateControl(int id) {
  HWND control = Control(id);
  if (!control)
    return;
  const RECT rect = GetChildRect(main_dialog_, control);
  InvalidateRect(main_dialog_, &rect, TRUE);
}

RECT InstallerWindow::GetChildRect(HWND parent, HWND child) {
  RECT rect = {};
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void InstallerWindow::ShowPage(int page) {
  if (page == current_page_ || page < 0 || page >= kPageNone)
    return;
  if (RecordsUiStats()) {
    page_entry_ = stats_->AppendDictionary("ui.page_sequence");
    page_entry_->SetString("page_type", PageTypeToString(page));
  }
  for (const PageControl& control : kPageControls)
    ShowControl(control.id, control.shown[page]);
  if (settings_->uninstall()) {
    ShowControl(IDC_PROGRESS_HEADING, false);
    ShowControl(IDC_ERROR_HEADING, false);
  } else {
    ShowControl(IDC_UNINSTALL_ERROR_HEADING, false);
  }
  if (options_dialog_)
    ShowWindow(options_dialog_, page == kPageOptions ? SW_SHOWNOACTIVATE : SW_HIDE);
  // The focus moves once the page's controls are shown: a hidden control cannot keep it.
  SetFocus(kPageFocus[page] ? Control(kPageFocus[page]) : nullptr);
  error_page_ = page == kPageError;
  InvalidateRect(main_dialog_, nullptr, TRUE);
  current_page_ = page;
}

void InstallerWindow::ShowPhase(int phase) {
  int id = IDS_PHASE_INSTALLING;
  if (phase == 0 || phase == 1)
    id = IDS_PHASE_DOWNLOADING;
  else if (phase == 2)
    id = IDS_PHASE_UNPACKING;
  else if (settings_->uninstall())
    id = IDS_PHASE_UNINSTALLING;
  const std::wstring text = GetLocalizedString(id);
  if (text.empty())
    return;
  SetControlText(IDC_STATUS_TEXT, text);
  InvalidateControl(IDC_STATUS_TEXT);
}

void InstallerWindow::DisplayError(const std::wstring& message, bool offer_full_package, const std::string& reason) {
  ShowPage(kPageError);
  ShowControl(IDC_FULL_PACKAGE_BUTTON, offer_full_package);
  LOG(INFO) << "Displaying error: \"" << message << "\" and " << (offer_full_package ? "" : "don't ")
            << "offer full package";
  // Neither an uninstallation nor an installation started right away has a page to go back to.
  if (run_immediately_ || settings_->uninstall())
    ShowControl(IDC_BACK_BUTTON, false);
  SetControlText(IDC_STATUS_TEXT, message);
  InvalidateControl(IDC_STATUS_TEXT);
  if (InstallerStats* page = PageStats())
    page->SetString("failure_reason", reason);
}

LRESULT CALLBACK InstallerWindow::MessageBoxCbtHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    const HWND box = reinterpret_cast<HWND>(wparam);
    const std::pair<int, int> kButtons[] = {{IDYES, IDS_YES}, {IDNO, IDS_NO}, {IDOK, IDS_OK}};
    for (const auto& [button, text] : kButtons) {
      if (HWND control = GetDlgItem(box, button))
        SetWindowTextW(control, GetLocalizedString(text).c_str());
    }
  }
  // The system ignores the handle, and with nested boxes there is no single one to give.
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

int InstallerWindow::ShowMessageBox(const std::wstring& text, UINT type) {
  // The box's buttons speak the installer's language, not the system's.
  const ScopedThreadHook hook(WH_CBT, &MessageBoxCbtHook);
  return MessageBoxW(main_dialog_, text.c_str(), GetLocalizedString(IDS_WINDOW_CAPTION).c_str(), type);
}

INT_PTR InstallerWindow::ConfirmCancel() {
  if (ShowMessageBox(GetLocalizedString(IDS_CONFIRM_CANCEL), MB_YESNO | MB_ICONQUESTION) == IDYES)
    Notify(&InstallerWindowDelegate::OnCancel);
  return 1;
}

void InstallerWindow::ShowErrorBox(const std::wstring& message) {
  ShowMessageBox(message, MB_OK | MB_ICONERROR);
  if (InstallerStats* page = PageStats())
    page->SetString("error_displayed", base::WideToUTF8(message));
  Notify(&InstallerWindowDelegate::OnCancel);
}

bool InstallerWindow::OfferCurrentUserInstall() {
  const bool accepted =
      ShowMessageBox(GetLocalizedString(IDS_OFFER_CURRENT_USER), MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
  if (InstallerStats* page = PageStats())
    page->SetInteger("auto_switch_to_current_user", accepted ? 0 : 1);
  return accepted;
}

void InstallerWindow::Notify(void (InstallerWindowDelegate::*call)()) {
  delegates_.ForEach([call](InstallerWindowDelegate* delegate) { (delegate->*call)(); });
}

void InstallerWindow::NotifyAccept() {
  Notify(&InstallerWindowDelegate::OnAccept);
}

bool InstallerWindow::RecordsUiStats() const {
  return stats_ && InstallerUiStatsEnabled();
}

InstallerStats* InstallerWindow::PageStats() const {
  return RecordsUiStats() ? page_entry_.get() : nullptr;
}

void InstallerWindow::RecordNavigation(const char* action) {
  if (InstallerStats* page = PageStats())
    page->SetString("navigation_action", action);
}

void InstallerWindow::CountInPage(const char* counter) {
  if (InstallerStats* page = PageStats())
    page->Increment(counter);
}

void InstallerWindow::BuildBackground(bool force) {
  if (background_ && !force)
    return;
  RECT client = {};
  GetClientRect(main_dialog_, &client);
  HDC screen = GetDC(main_dialog_);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  const ScopedMemoryDC dc(screen, bitmap);
  ReleaseDC(main_dialog_, screen);
  if (!bitmap || !dc.get()) {
    LOG(ERROR) << "Could not make the window's background";
    if (bitmap)
      DeleteObject(bitmap);
    return;
  }
  if (background_)
    DeleteObject(background_);
  background_ = bitmap;
  FillRect(dc.get(), &client, GetSysColorBrush(COLOR_BTNFACE));
  if (background_picture_)
    BlendBitmap(dc.get(), background_picture_, 0, 0, {client.right, client.bottom});

  if (IsAppThemed()) {
    ClearControlBackgrounds();
    for (int id : kControlsWithBackground) {
      HWND control = Control(id);
      if (!control)
        continue;
      CreateControlBackground(control, dc.get());
    }
  }
}

void InstallerWindow::CreateControlBackground(HWND control, HDC background) {
  const RECT rect = GetChildRect(main_dialog_, control);
  ControlBackground piece;
  piece.bitmap = CreateCompatibleBitmap(background, rect.right - rect.left, rect.bottom - rect.top);
  {
    const ScopedMemoryDC copy(background, piece.bitmap);
    BitBlt(copy.get(), 0, 0, rect.right - rect.left, rect.bottom - rect.top, background, rect.left, rect.top,
           SRCCOPY);
  }
  piece.brush = CreatePatternBrush(piece.bitmap);
  const auto earlier = control_backgrounds_.find(control);
  if (earlier != control_backgrounds_.end()) {
    DeleteObject(earlier->second.brush);
    DeleteObject(earlier->second.bitmap);
  }
  control_backgrounds_[control] = piece;
}

void InstallerWindow::ClearControlBackgrounds() {
  for (auto& [control, background] : control_backgrounds_) {
    DeleteObject(background.brush);
    DeleteObject(background.bitmap);
  }
  control_backgrounds_.clear();
}

LRESULT CALLBACK InstallerWindow::PictureSubclassProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                                                      UINT_PTR, DWORD_PTR window) {
  if (message != WM_PAINT)
    return DefSubclassProc(control, message, wparam, lparam);
  reinterpret_cast<InstallerWindow*>(window)->PaintPicture(control);
  return 1;
}

void InstallerWindow::PaintPicture(HWND control) {
  PAINTSTRUCT paint = {};
  HDC dc = BeginPaint(control, &paint);
  if (product_picture_) {
    RECT client = {};
    GetClientRect(control, &client);
    const SIZE picture = BitmapSize(product_picture_);
    const int left = client.right / 2 - picture.cx / 2;
    const int top = client.bottom / 2 - picture.cy / 2;
    BlendBitmap(dc, product_picture_, left, top, picture);
    if (error_page_ && error_badge_) {
      const SIZE badge = BitmapSize(error_badge_);
      BlendBitmap(dc, error_badge_, left + picture.cx + 10 - badge.cx, top + picture.cy + 10 - badge.cy, badge);
    }
  }
  EndPaint(control, &paint);
}

LRESULT CALLBACK InstallerWindow::HideCaretSubclassProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                                                        UINT_PTR, DWORD_PTR) {
  if (message != WM_SETFOCUS)
    return DefSubclassProc(control, message, wparam, lparam);
  HideCaret(control);
  return 1;
}

LRESULT CALLBACK InstallerWindow::TextOverBackgroundSubclassProc(HWND control, UINT message, WPARAM wparam,
                                                                  LPARAM lparam, UINT_PTR, DWORD_PTR window) {
  if (message != WM_PAINT)
    return DefSubclassProc(control, message, wparam, lparam);
  reinterpret_cast<InstallerWindow*>(window)->PaintTextOverBackground(control);
  return 0;
}

void InstallerWindow::PaintTextOverBackground(HWND control) {
  PAINTSTRUCT paint = {};
  const HDC dc = BeginPaint(control, &paint);
  RECT client = {};
  GetClientRect(control, &client);
  BuildBackground(false);
  const ScopedGdiObject<HBITMAP> text_bitmap(CreateCompatibleBitmap(dc, client.right, client.bottom));
  const ScopedGdiObject<HBITMAP> page_bitmap(CreateCompatibleBitmap(dc, client.right, client.bottom));
  const ScopedGdiObject<HBRUSH> key_brush(CreateSolidBrush(kTextKeyColor));
  if (background_ && text_bitmap.get() && page_bitmap.get() && key_brush.get()) {
    // The control draws its text on its background colour, the key (filled in first for a control that draws
    // transparently); the text then goes onto the window's background without the key.
    const ScopedMemoryDC text(dc, text_bitmap.get());
    const ScopedMemoryDC page(dc, page_bitmap.get());
    FillRect(text.get(), &client, key_brush.get());
    SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(text.get()), PRF_CLIENT);
    POINT origin = {0, 0};
    MapWindowPoints(control, main_dialog_, &origin, 1);
    {
      const ScopedMemoryDC source(dc, background_);
      BitBlt(page.get(), 0, 0, client.right, client.bottom, source.get(), origin.x, origin.y, SRCCOPY);
    }
    TransparentBlt(page.get(), 0, 0, client.right, client.bottom, text.get(), 0, 0, client.right, client.bottom,
                   kTextKeyColor);
    BitBlt(dc, 0, 0, client.right, client.bottom, page.get(), 0, 0, SRCCOPY);
  }
  EndPaint(control, &paint);
}

void InstallerWindow::OnSettingsChanged() {
  UpdateControls();
}

void InstallerWindow::OnPathChanged() {
  UpdateControls();
  SetFolderTextByCode(settings_->status().path.value());
}

void InstallerWindow::OnLanguageChanged() {
  for (const auto& [id, string_id] : kControlTexts) {
    const std::wstring text = GetLocalizedString(string_id);
    if (!text.empty())
      SetControlText(id, text);
  }
  SetWindowTextW(main_dialog_, GetLocalizedString(IDS_WINDOW_CAPTION).c_str());
  SetTitleText();
  InvalidateRect(main_dialog_, nullptr, TRUE);
  if (settings_->uninstall())
    return;
  FillLanguageList();
  FillModeList();
  UpdateTooltip();
  ResizeFullPackageButton();
}

void InstallerWindow::SetTitleText() {
  const HWND title = Control(IDC_TITLE);
  const std::wstring product = GetLocalizedString(IDS_TITLE_PRODUCT);
  const std::wstring text = GetLocalizedString(IDS_TITLE, product);
  SetWindowTextW(title, text.c_str());
  SetRangeColor(title, 0, -1, kTitleColor);
  const size_t found = product.empty() ? std::wstring::npos : text.find(product);
  if (found != std::wstring::npos)
    SetRangeColor(title, static_cast<LONG>(found), static_cast<LONG>(found + product.size()), RGB(0, 0, 0));
}

void InstallerWindow::ResizeFullPackageButton() {
  const HWND button = Control(IDC_FULL_PACKAGE_BUTTON);
  const HWND retry = Control(IDC_RETRY_BUTTON);
  if (!button || !retry)
    return;
  const std::wstring text = WindowText(button);
  HDC dc = GetDC(button);
  HGDIOBJ previous = SelectObject(dc, normal_font_);
  SIZE extent = {};
  GetTextExtentExPointW(dc, text.c_str(), static_cast<int>(text.size()), 0, nullptr, nullptr, &extent);
  SelectObject(dc, previous);
  ReleaseDC(button, dc);
  const RECT rect = GetChildRect(main_dialog_, button);
  const RECT retry_rect = GetChildRect(main_dialog_, retry);
  // The button keeps its right edge and grows to the left, never narrower than the retry button beside it.
  const int width = std::max<int>(extent.cx + 30, retry_rect.right - retry_rect.left);
  SetWindowPos(button, nullptr, rect.right - width, rect.top, width, rect.bottom - rect.top, SWP_NOZORDER);
}

}  // namespace zorvi::installer
