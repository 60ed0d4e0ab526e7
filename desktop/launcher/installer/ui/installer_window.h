// The interactive installer's window: a modeless main dialog of the host executable with the options page
// embedded in it, six pages that are sets of visible controls, pictures, localized texts, a rich-edit welcome text
// with links, a progress bar and three message boxes. It turns the user's clicks into calls on its delegates and
// records the user's path through the pages in the installer statistics. Main thread only.
#ifndef DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_WINDOW_H_
#define DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_WINDOW_H_

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/observer_list.h"
#include "desktop/launcher/installer/settings.h"

namespace zorvi::installer {

class InstallerStats;

// What the window asks of its controller.
class InstallerWindowDelegate {
 public:
  virtual ~InstallerWindowDelegate() = default;
  virtual void OnAccept() = 0;
  virtual void OnCancel() = 0;
  virtual void ObtainFullPackage() = 0;
};

class InstallerWindow : public Settings::Observer {
 public:
  enum Page : int {
    kPageWelcome = 0,
    kPageUninstall = 1,
    kPageTos = 2,
    kPageOptions = 3,
    kPageProgress = 4,
    kPageError = 5,
    kPageNone = 6,
  };

  // The window with both dialogs shown, or null (logged) when a dialog cannot be made. `settings` and `stats`
  // must outlive it. A run-immediately window starts on the progress page and does not follow the settings.
  static std::unique_ptr<InstallerWindow> Create(Settings* settings, InstallerStats* stats, bool run_immediately);

  InstallerWindow(const InstallerWindow&) = delete;
  InstallerWindow& operator=(const InstallerWindow&) = delete;
  ~InstallerWindow() override;

  // Nothing when `page` is already shown; otherwise records the page in the statistics and shows its controls.
  void ShowPage(int page);
  // The progress text of an installer phase.
  void ShowPhase(int phase);
  // Shows the error page with `message`, the full-package button when offered, and records `reason`.
  void DisplayError(const std::wstring& message, bool offer_full_package, const std::string& reason);
  // A modal error box; then every delegate's OnCancel.
  void ShowErrorBox(const std::wstring& message);
  // Asks whether to install for the current user only; true when the user agrees.
  bool OfferCurrentUserInstall();

  base::ObserverList<InstallerWindowDelegate>* delegates() { return &delegates_; }
  HWND main_dialog() const { return main_dialog_; }
  HWND options_dialog() const { return options_dialog_; }
  int current_page() const { return current_page_; }

  // Settings::Observer:
  void OnSettingsChanged() override;
  void OnLanguageChanged() override;
  void OnPathChanged() override;

  // The statistics name of a page; "invalid" for any other value.
  static const char* PageTypeToString(int page);
  // Sets `text` on a rich-edit control, each <a href="X">Y</a> anchor becoming a link to X shown as Y; returns
  // each link's shown text Y mapped to its target X.
  static std::map<std::wstring, std::wstring> SetRichTextWithLinks(HWND control, const std::wstring& text);
  // `child`'s rectangle in `parent`'s client coordinates.
  static RECT GetChildRect(HWND parent, HWND child);
  // The selected item's text of a combo box, else the text of its edit field.
  static std::wstring GetComboText(HWND combo);
  // Selects the item reading exactly `text`, else puts `text` into the edit field; nothing when already shown.
  static void SetComboText(HWND combo, const std::wstring& text);
  // The install-mode tooltip: each mode's name with its explanation below it.
  static std::wstring BuildInstallModeTooltipText();

 private:
  // A bitmap of the background under a control and a pattern brush of it, so that a themed control that paints
  // its parent's background shows the picture.
  struct ControlBackground {
    HBITMAP bitmap = nullptr;
    HBRUSH brush = nullptr;
  };

  InstallerWindow(Settings* settings, InstallerStats* stats, bool run_immediately);

  static INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK PictureSubclassProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                                              UINT_PTR id, DWORD_PTR window);
  static LRESULT CALLBACK HideCaretSubclassProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                                                UINT_PTR id, DWORD_PTR window);
  // The title and the welcome text lie on the background picture: their text is painted over the piece of the
  // window's background under them, so that no box of their own colour covers the picture.
  static LRESULT CALLBACK TextOverBackgroundSubclassProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam,
                                                         UINT_PTR id, DWORD_PTR window);
  static LRESULT CALLBACK MessageBoxCbtHook(int code, WPARAM wparam, LPARAM lparam);

  INT_PTR HandleMainMessage(UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR HandleMainCommand(WORD id, WORD code);
  INT_PTR HandleOptionsMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR HandleLinkClick(const NMHDR* header);
  void InitMainDialog(HWND dialog);
  void InitOptionsDialog(HWND dialog);
  void LoadTermsText();
  void CreateFonts(HWND dialog);
  void BuildBackground(bool force);
  // Cuts the piece of `background` (a DC of the window's background) under `control` into its pattern brush,
  // replacing the control's earlier one.
  void CreateControlBackground(HWND control, HDC background);
  void ClearControlBackgrounds();
  void PaintPicture(HWND control);
  void PaintTextOverBackground(HWND control);
  void SetTitleText();
  void FillLanguageList();
  void FillModeList();
  void UpdateTooltip();
  void ResizeFullPackageButton();

  void UpdateControls();
  INT_PTR OnLanguageSelected();
  INT_PTR ApplyInstallFolder();
  // A check box of the user's: its settings and counter, or back to what the settings hold when they are fixed.
  void OnOptionToggled(int id, HWND dialog);
  INT_PTR BrowseForInstallFolder();
  // Refills or retypes the folder list without it counting as the user's edit.
  void SetFolderTextByCode(const std::wstring& text);

  // A control of either dialog.
  HWND Control(int id) const;
  void SetControlText(int id, const std::wstring& text);
  void ShowControl(int id, bool show);
  void InvalidateControl(int id);

  INT_PTR ConfirmCancel();
  int ShowMessageBox(const std::wstring& text, UINT type);
  void Notify(void (InstallerWindowDelegate::*call)());
  // Every delegate's OnAccept: the accept, retry and uninstall buttons all go ahead with the run.
  void NotifyAccept();

  // Statistics of the current page, only with the UI-statistics feature: null without it.
  InstallerStats* PageStats() const;
  void RecordNavigation(const char* action);
  void CountInPage(const char* counter);
  bool RecordsUiStats() const;

  Settings* const settings_;
  const bool run_immediately_;
  HWND main_dialog_ = nullptr;
  HFONT normal_font_ = nullptr;
  HFONT bold_font_ = nullptr;
  HFONT heading_font_ = nullptr;
  HFONT title_font_ = nullptr;
  std::vector<std::wstring> language_tags_;
  base::ObserverList<InstallerWindowDelegate> delegates_;
  HBITMAP product_picture_ = nullptr;
  HBITMAP error_badge_ = nullptr;
  HBITMAP background_picture_ = nullptr;
  bool error_page_ = false;
  HBITMAP background_ = nullptr;
  HWND options_dialog_ = nullptr;
  int current_page_ = kPageNone;
  HWND tooltip_ = nullptr;
  std::unordered_map<HWND, ControlBackground> control_backgrounds_;
  // The welcome text's links: shown text to target.
  std::map<std::wstring, std::wstring> link_targets_;
  InstallerStats* const stats_;
  std::unique_ptr<InstallerStats> page_entry_;
  // Set while the code itself refills or retypes the folder list: the combo reports such changes as edits too.
  bool folder_change_by_code_ = false;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_WINDOW_H_
