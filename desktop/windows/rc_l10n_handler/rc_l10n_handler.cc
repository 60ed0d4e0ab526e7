#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

#include <iterator>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/product_resource_ids.h"
#include "desktop/windows/rc_l10n_handler/preferred_ui_languages.h"

namespace zorvi::installer {

namespace {

constexpr int kLanguageListResourceId = IDR_LANGUAGES;

struct LanguageRow {
  const wchar_t* tag;
  LANGID language_id;
};

// The ids are Windows' own for each language and region, except for a few rows: "fake-bidi" (a pseudo-language
// for right-to-left tests) and "iw" (Hebrew's former code) take Hebrew's id, "me" is Serbian in Latin script,
// "sr" Serbian in Cyrillic, "ti" Tigrinya of Eritrea, and "tl", "userdefault" and "neutral" are the user-default
// and neutral ids rather than languages.
constexpr LanguageRow kLanguageRows[] = {
    {L"af", 0x0436},        {L"am", 0x045E},     {L"ar", 0x0401},          {L"az", 0x042C},    {L"be", 0x0423},
    {L"bg", 0x0402},        {L"bn", 0x0445},     {L"ca", 0x0403},          {L"cs", 0x0405},    {L"da", 0x0406},
    {L"de", 0x0407},        {L"el", 0x0408},     {L"en", 0x0409},          {L"en-gb", 0x0809}, {L"es", 0x0C0A},
    {L"es-419", 0x080A},    {L"et", 0x0425},     {L"eu", 0x042D},          {L"fa", 0x0429},    {L"fake-bidi", 0x040D},
    {L"fi", 0x040B},        {L"fil", 0x0464},    {L"fr", 0x040C},          {L"fr-ca", 0x0C0C}, {L"fy", 0x0462},
    {L"gd", 0x0491},        {L"gl", 0x0456},     {L"gu", 0x0447},          {L"he", 0x040D},    {L"hi", 0x0439},
    {L"hr", 0x041A},        {L"hu", 0x040E},     {L"id", 0x0421},          {L"is", 0x040F},    {L"it", 0x0410},
    {L"iw", 0x040D},        {L"ja", 0x0411},     {L"kk", 0x043F},          {L"kn", 0x044B},    {L"ko", 0x0412},
    {L"lt", 0x0427},        {L"lv", 0x0426},     {L"me", 0x081A},          {L"mk", 0x042F},    {L"ml", 0x044C},
    {L"mr", 0x044E},        {L"ms", 0x043E},     {L"nb", 0x0414},          {L"ne", 0x0461},    {L"neutral", 0x0000},
    {L"nl", 0x0413},        {L"nn", 0x0814},     {L"no", 0x0414},          {L"or", 0x0448},    {L"pa", 0x0446},
    {L"pl", 0x0415},        {L"pt-br", 0x0416},  {L"pt-pt", 0x0816},       {L"ro", 0x0418},    {L"ru", 0x0419},
    {L"sa", 0x044F},        {L"si", 0x045B},     {L"sk", 0x041B},          {L"sl", 0x0424},    {L"sr", 0x0C1A},
    {L"sv", 0x041D},        {L"sw", 0x0441},     {L"ta", 0x0449},          {L"te", 0x044A},    {L"th", 0x041E},
    {L"ti", 0x0873},        {L"tl", 0x0400},     {L"tr", 0x041F},          {L"uk", 0x0422},    {L"ur", 0x0420},
    {L"userdefault", 0x0400}, {L"uz", 0x0443},   {L"vi", 0x042A},          {L"zh-cn", 0x0804}, {L"zh-hk", 0x0C04},
    {L"zh-tw", 0x0404},     {L"zu", 0x0435},
};
static_assert(std::size(kLanguageRows) == 82);

// Regions whose English the host carries as British English.
bool UsesBritishEnglish(const std::wstring& region) {
  for (const char* british : {"au", "ca", "nz", "za"}) {
    if (base::LowerCaseEqualsASCII(region, british))
      return true;
  }
  return false;
}

// What the host's list would call a system language "language-region": the language alone, or the variant
// the host has of it.
std::wstring AdjustSystemLanguage(const std::wstring& tag) {
  const size_t dash = tag.find(L'-');
  if (dash == std::wstring::npos || dash == 0)
    return tag;
  const std::wstring language = tag.substr(0, dash);
  const std::wstring region = tag.substr(dash + 1);
  if (base::LowerCaseEqualsASCII(language, "es"))
    return base::LowerCaseEqualsASCII(region, "es") ? language : language + L"-419";
  if (base::LowerCaseEqualsASCII(language, "zh")) {
    const bool traditional = base::LowerCaseEqualsASCII(region, "hk") || base::LowerCaseEqualsASCII(region, "mo");
    return language + (traditional ? L"-TW" : L"-CN");
  }
  // American English is "en" alone: "en-US" has no id and is in no list, so a later preferred language would win
  // over the user's English.
  if (base::LowerCaseEqualsASCII(language, "en"))
    return UsesBritishEnglish(region) ? language + L"-GB" : language;
  if (base::LowerCaseEqualsASCII(language, "no"))
    return L"nb";
  // Filipino ("fil-PH") stays "fil" rather than becoming "tl": the host lists Filipino as "fil", and "tl" is the
  // row of the user-default id, not of Filipino, so that rename would pick a tag the host lacks or the wrong
  // strings. Requested tags go the other way ("tl" to "fil", NormalizeLanguageTag) for the same reason.
  return language;
}

// The first of the system's preferred languages that the host carries, as written or adjusted; empty when none.
std::wstring FindSystemLanguage() {
  std::vector<std::wstring> preferred;
  GetThreadUILanguageNames(&preferred);
  for (const std::wstring& entry : preferred) {
    LOG(INFO) << "Trying language from system preferred list: " << entry;
    if (IsUiLanguageAvailable(entry))
      return entry;
    const std::wstring adjusted = AdjustSystemLanguage(entry);
    LOG(INFO) << "Retrying after adjustments: " << adjusted;
    if (IsUiLanguageAvailable(adjusted))
      return adjusted;
  }
  return std::wstring();
}

constinit base::LazyInstance<LANGID> g_ui_language_id;

// A string table block holds 16 strings, each a length in characters followed by that many characters.
constexpr int kStringsPerBlock = 16;

}  // namespace

std::wstring LoadLocalizedString(LANGID language, int id, const std::vector<std::wstring>& substitutions) {
  const int block = id / kStringsPerBlock + 1;
  HRSRC resource = FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(block), language);
  if (!resource) {
    PLOG(ERROR) << "Failed to find string " << id << " in language " << language;
    return std::wstring();
  }
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (!loaded) {
    PLOG(ERROR) << "Failed to load string " << id;
    return std::wstring();
  }
  const auto* entry = static_cast<const wchar_t*>(LockResource(loaded));
  if (!entry) {
    PLOG(ERROR) << "Failed to lock string " << id;
    return std::wstring();
  }
  // Walk to the entry within the block's size: a damaged table must not lead the walk past its end.
  const wchar_t* const end = entry + SizeofResource(nullptr, resource) / sizeof(wchar_t);
  for (int skip = id % kStringsPerBlock; skip > 0 && entry < end; --skip)
    entry += 1 + static_cast<size_t>(*entry);
  if (entry >= end || static_cast<size_t>(end - entry - 1) < static_cast<size_t>(*entry)) {
    LOG(ERROR) << "String " << id << " lies outside its table";
    return std::wstring();
  }
  const std::wstring text(entry + 1, *entry);
  return substitutions.empty() ? text : base::ReplaceStringPlaceholders(text, substitutions, nullptr);
}

bool LanguageTagsEqual(const std::wstring& a, const std::wstring& b) {
  // The rows and the host's list are ASCII.
  return a.size() == b.size() && base::StartsWith(a, b, base::CompareCase::INSENSITIVE_ASCII);
}

std::wstring GetLocalizedString(int id) {
  return LoadLocalizedString(*GetUiLanguageId(), id, {});
}

std::wstring GetLocalizedString(int id, const std::wstring& argument) {
  return LoadLocalizedString(*GetUiLanguageId(), id, {argument});
}

std::wstring GetLocalizedString(const std::wstring& language_tag, int id) {
  return LoadLocalizedString(LookupLcid(language_tag), id, {});
}

std::vector<std::wstring> GetAvailableUiLanguages() {
  std::wstring text;
  if (HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(kLanguageListResourceId), L"TXT")) {
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const auto* bytes = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
    if (bytes) {
      // The list is ASCII; each byte becomes one character.
      text.assign(bytes, bytes + SizeofResource(nullptr, resource));
    }
  }
  return base::SplitString(text, L"\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_ALL);
}

bool IsUiLanguageAvailable(const std::wstring& tag) {
  // A list that ends with a line end holds an empty entry, which must not make the empty tag (the settings'
  // request for the system's language) count as a language the host has.
  if (tag.empty() || !base::IsStringASCII(tag))
    return false;
  for (const std::wstring& available : GetAvailableUiLanguages()) {
    if (LanguageTagsEqual(available, tag))
      return true;
  }
  return false;
}

LANGID LookupLcid(const std::wstring& tag) {
  VLOG(1) << "Looking up LCID for " << tag;
  if (tag.empty())
    return 0;
  for (const LanguageRow& row : kLanguageRows) {
    if (LanguageTagsEqual(row.tag, tag))
      return row.language_id;
  }
  return 0;
}

std::wstring NormalizeLanguageTag(const std::wstring& tag) {
  if (base::LowerCaseEqualsASCII(tag, "no"))
    return L"nb";
  if (base::LowerCaseEqualsASCII(tag, "pt"))
    return L"pt-PT";
  if (base::LowerCaseEqualsASCII(tag, "tl"))
    return L"fil";
  return tag;
}

void SelectUiLanguage(LANGID* language_id, std::wstring* tag) {
  *tag = NormalizeLanguageTag(*tag);
  VLOG(1) << "Language converted from ISO631:" << *tag;
  if (!IsUiLanguageAvailable(*tag)) {
    LOG(INFO) << "Language not in the available languages list: " << *tag;
    *tag = FindSystemLanguage();
    if (tag->empty()) {
      *tag = L"en";
      LOG(WARNING) << "Falling back to english";
    }
  }
  *language_id = LookupLcid(*tag);
}

LANGID* GetUiLanguageId() {
  return g_ui_language_id.Pointer();
}

}  // namespace zorvi::installer
