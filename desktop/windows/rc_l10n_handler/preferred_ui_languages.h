// The UI languages that the system, the user, the process or the thread prefer, as language names ("nb-NO"),
// most preferred first. The preference functions exist from Windows Vista on and are looked up at run time;
// without them the user's default UI language stands in.
#ifndef DESKTOP_WINDOWS_RC_L10N_HANDLER_PREFERRED_UI_LANGUAGES_H_
#define DESKTOP_WINDOWS_RC_L10N_HANDLER_PREFERRED_UI_LANGUAGES_H_

#include <windows.h>

#include <string>
#include <vector>

namespace zorvi::installer {

// Whose preference list to ask for.
enum class PreferredUiLanguagesOf : int {
  kSystem = 0,
  kUser = 1,
  kProcess = 2,
  kThread = 3,
};

// The NUL-separated names (ending with an empty one) of the chosen list, asked with `flags` and
// MUI_LANGUAGE_NAME. False when the function is missing, the list is empty or the call fails.
bool QueryPreferredUILanguages(PreferredUiLanguagesOf which, DWORD flags, std::vector<wchar_t>* buffer);

// Appends the names of the chosen list to *names. When the list cannot be had: the user's default UI language
// as "language-COUNTRY" (for a language with a region) and as "language"; false when that fails too.
bool GetPreferredUILanguageNames(PreferredUiLanguagesOf which, DWORD flags, std::vector<std::wstring>* names);

// Appends the thread's preferred UI languages with their fallbacks (MUI_UI_FALLBACK).
void GetThreadUILanguageNames(std::vector<std::wstring>* names);

}  // namespace zorvi::installer

#endif  // DESKTOP_WINDOWS_RC_L10N_HANDLER_PREFERRED_UI_LANGUAGES_H_
