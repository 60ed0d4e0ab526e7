// The installer's texts and UI language: strings from the host executable's string tables in a language,
// which languages the host carries (its "TXT" resource 134, one language tag a line), how a language tag maps to
// a Windows language id, and the choice of the run's language from a requested tag and the system's preferred UI
// languages. The chosen id is kept for the whole process.
#ifndef DESKTOP_WINDOWS_RC_L10N_HANDLER_RC_L10N_HANDLER_H_
#define DESKTOP_WINDOWS_RC_L10N_HANDLER_RC_L10N_HANDLER_H_

#include <windows.h>

#include <string>
#include <vector>

namespace zorvi::installer {

// The host's string `id` in `language`, with "$1" and onwards replaced by `substitutions` in order. Empty, with an
// error logged, when the host has no string table for the id in that language (language 0 lets the system choose).
std::wstring LoadLocalizedString(LANGID language, int id, const std::vector<std::wstring>& substitutions);
// The string in the run's UI language (GetUiLanguageId), as it is or with `argument` for "$1".
std::wstring GetLocalizedString(int id);
std::wstring GetLocalizedString(int id, const std::wstring& argument);
// The string in the language of `language_tag` (LookupLcid), as the language list shows each language's own name.
std::wstring GetLocalizedString(const std::wstring& language_tag, int id);

// The host's language list: each line of resource 134 trimmed of white space, empty lines kept. Empty without
// the resource.
std::vector<std::wstring> GetAvailableUiLanguages();

// Whether the host carries the language (letter case ignored). Never for an empty or non-ASCII tag.
bool IsUiLanguageAvailable(const std::wstring& tag);

// Whether two language tags name the same language: ASCII letters compare without case.
bool LanguageTagsEqual(const std::wstring& a, const std::wstring& b);

// The Windows language id of the tag (letter case ignored); 0 for an empty or unknown tag.
LANGID LookupLcid(const std::wstring& tag);

// The tag the host's list uses for a language of several names: "no" is "nb", "pt" is "pt-PT", "tl" is "fil".
std::wstring NormalizeLanguageTag(const std::wstring& tag);

// Chooses the UI language for the requested *tag: the tag itself when the host carries it, else the first of
// the system's preferred languages that it carries (as written, or reduced to what the host's list uses for
// that language and region), else English. *tag receives the chosen tag and *language_id its id. An empty tag
// asks the system.
void SelectUiLanguage(LANGID* language_id, std::wstring* tag);

// The process-wide UI language id, 0 until the settings choose a language. Made on first use.
LANGID* GetUiLanguageId();

}  // namespace zorvi::installer

#endif  // DESKTOP_WINDOWS_RC_L10N_HANDLER_RC_L10N_HANDLER_H_
