// A host of the installer's UI languages for the tests, built once per "TXT" 134 fixture (area.cmake). Prints
// "name=value" lines:
//   select TAG [PREFERRED]  the choice for TAG: "tag" and "langid", as stored in the process-wide UI language id;
//                           PREFERRED (comma-separated, possibly empty) stands for the system's list
//   text TAG ID...          the choice for TAG with the system's list, then "text.ID" = each string in that language
//   available TAG...        "available.TAG" = 1 or 0 for each
//   preferred               "preferred.N" = the names of preference list N (0 system to 3 thread), comma-joined,
//                           and "found.N" = 1 or 0
// Every mode also prints "languages", the host's list joined with '|'.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/windows/rc_l10n_handler/preferred_ui_languages.h"
#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

namespace {

void Print(const std::string& name, const std::wstring& value) {
  std::printf("%s=%s\n", name.c_str(), base::WideToUTF8(value).c_str());
}

}  // namespace

int main() {
  using namespace zorvi::installer;
  base::AtExitManager exit_manager;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2)
    return 2;
  const std::wstring mode = argv[1];
  Print("languages", base::JoinString(GetAvailableUiLanguages(), L"|"));
  if ((mode == L"select" || mode == L"text") && argc >= 3) {
    const bool preference_given = mode == L"select" && argc >= 4;
    if (preference_given) {
      const std::vector<std::wstring> preferred =
          base::SplitString(argv[3], L",", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
      SetPreferredUiLanguagesForTesting(&preferred);
    }
    std::wstring tag = argv[2];
    SelectUiLanguage(GetUiLanguageId(), &tag);
    Print("tag", tag);
    std::printf("langid=0x%04X\n", *GetUiLanguageId());
    for (int i = 3; mode == L"text" && i < argc; ++i)
      Print("text." + base::WideToUTF8(argv[i]), GetLocalizedString(_wtoi(argv[i])));
    return 0;
  }
  if (mode == L"available") {
    for (int i = 2; i < argc; ++i)
      std::printf("available.%s=%d\n", base::WideToUTF8(argv[i]).c_str(), IsUiLanguageAvailable(argv[i]) ? 1 : 0);
    return 0;
  }
  if (mode == L"preferred") {
    for (int which = 0; which <= 3; ++which) {
      std::vector<std::wstring> names;
      const bool found =
          GetPreferredUILanguageNames(static_cast<PreferredUiLanguagesOf>(which), MUI_UI_FALLBACK, &names);
      Print("preferred." + std::to_string(which), base::JoinString(names, L","));
      std::printf("found.%d=%d\n", which, found ? 1 : 0);
    }
    return 0;
  }
  return 2;
}
