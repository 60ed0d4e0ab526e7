#include "desktop/windows/rc_l10n_handler/preferred_ui_languages.h"

#include <cwchar>

#include "desktop/common/product/test_seams.h"

namespace zorvi::installer {

namespace {

// The four preference functions share one signature.
using GetPreferredUILanguagesFunction = BOOL(WINAPI*)(DWORD flags, PULONG language_count, PZZWSTR buffer,
                                                      PULONG buffer_size);

constexpr const char* kPreferredUiLanguageFunctions[] = {
    "GetSystemPreferredUILanguages",
    "GetUserPreferredUILanguages",
    "GetProcessPreferredUILanguages",
    "GetThreadPreferredUILanguages",
};

// The custom UI default, which names no language.
constexpr LANGID kCustomUiDefault = 0x1400;
// LOCALE_SISO639LANGNAME and LOCALE_SISO3166CTRYNAME answer with at most 9 characters.
constexpr int kLocaleNameBufferSize = 9;
// Language ids above this one carry a region.
constexpr LANGID kLastNeutralLanguageId = 0x3FF;

GetPreferredUILanguagesFunction LookUpFunction(PreferredUiLanguagesOf which) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return nullptr;
  return reinterpret_cast<GetPreferredUILanguagesFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, kPreferredUiLanguageFunctions[static_cast<int>(which)])));
}

// The user's default UI language, for systems without the preference functions.
bool GetUserDefaultUILanguageNames(std::vector<std::wstring>* names) {
  const LANGID language_id = GetUserDefaultUILanguage();
  if (language_id == kCustomUiDefault)
    return false;
  wchar_t language[kLocaleNameBufferSize] = L"";
  if (GetLocaleInfoW(language_id, LOCALE_SISO639LANGNAME, language, kLocaleNameBufferSize) < 2)
    return false;
  if (language_id > kLastNeutralLanguageId) {
    wchar_t country[kLocaleNameBufferSize] = L"";
    if (GetLocaleInfoW(language_id, LOCALE_SISO3166CTRYNAME, country, kLocaleNameBufferSize) > 1)
      names->push_back(std::wstring(language) + L"-" + country);
  }
  names->push_back(language);
  return true;
}

}  // namespace

bool QueryPreferredUILanguages(PreferredUiLanguagesOf which, DWORD flags, std::vector<wchar_t>* buffer) {
  const GetPreferredUILanguagesFunction get_languages = LookUpFunction(which);
  if (!get_languages)
    return false;
  flags |= MUI_LANGUAGE_NAME;
  ULONG language_count = 0;
  ULONG size = 0;
  get_languages(flags, &language_count, nullptr, &size);
  if (size == 0)
    return false;
  buffer->assign(size, L'\0');
  return get_languages(flags, &language_count, buffer->data(), &size) && language_count > 0;
}

bool GetPreferredUILanguageNames(PreferredUiLanguagesOf which, DWORD flags, std::vector<std::wstring>* names) {
  std::vector<wchar_t> buffer;
  if (!QueryPreferredUILanguages(which, flags, &buffer))
    return GetUserDefaultUILanguageNames(names);
  const wchar_t* const end = buffer.data() + buffer.size();
  for (const wchar_t* name = buffer.data(); name < end && *name;) {
    const size_t length = wcsnlen(name, end - name);
    names->emplace_back(name, length);
    name += length + 1;
  }
  return true;
}

void GetThreadUILanguageNames(std::vector<std::wstring>* names) {
  if (const std::vector<std::wstring>* preferred = GetPreferredUiLanguagesSeam()) {
    names->insert(names->end(), preferred->begin(), preferred->end());
    return;
  }
  GetPreferredUILanguageNames(PreferredUiLanguagesOf::kThread, MUI_UI_FALLBACK, names);
}

}  // namespace zorvi::installer
