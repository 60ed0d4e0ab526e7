#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

#include <windows.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer {
namespace {

// The fixture host carries testdata/languages.txt as its list; the plain child carries none.
constexpr wchar_t kListHost[] = L"rc_l10n_handler_host.exe";
constexpr wchar_t kNoListHost[] = L"rc_l10n_handler_test_child.exe";

std::map<std::string, std::string> RunHost(const wchar_t* host, const std::wstring& arguments) {
  const std::wstring command = L"\"" + test_support::ExecutableDir() + L"\\" + host + L"\" " + arguments;
  DWORD exit_code = 1;
  std::string output;
  EXPECT_TRUE(test_support::RunProcess(command, &exit_code, &output)) << base::WideToUTF8(command);
  EXPECT_EQ(0u, exit_code) << base::WideToUTF8(command) << ": " << output;
  return test_support::ParseNameValueLines(output);
}

// The host's list is its resource line by line, as Python splits and strips the fixture (testdata_setup.sh);
// whether a tag is available follows from it, the empty tag never counting although the list ends with a line
// end.
TEST(UiLanguageListTest, TheHostsListIsItsResourceLineByLine) {
  std::string expected;
  ASSERT_TRUE(base::ReadFileToString(
      base::FilePath(test_support::TestDataDir()).Append(L"languages_expected.txt"), &expected));
  EXPECT_EQ(expected, RunHost(kListHost, L"available")["languages"]);
  EXPECT_EQ("", RunHost(kNoListHost, L"available")["languages"]);

  struct {
    const wchar_t* tag;
    const char* in_list_host;
  } const cases[] = {
      {L"es", "1"},      // listed as "ES"
      {L"EN-gb", "1"},   // letter case
      {L"zh-TW", "1"},   // listed with blanks around it
      {L"es-419", "1"},  // listed before a CR LF
      {L"pt", "0"},      // only "pt-PT" is listed
      {L"fr", "0"},
      {L"d\u00e9", "0"},  // not ASCII
  };
  std::wstring arguments = L"available \"\"";
  for (const auto& test_case : cases)
    arguments += L" " + std::wstring(test_case.tag);
  const std::map<std::string, std::string> report = RunHost(kListHost, arguments);
  // The list holds an empty line (and ends with a line end): still no language has an empty tag.
  EXPECT_EQ("0", report.at("available.")) << "the empty tag";
  for (const auto& test_case : cases) {
    const std::string key = "available." + base::WideToUTF8(test_case.tag);
    EXPECT_EQ(test_case.in_list_host, report.at(key)) << key;
  }
}

// The run's language from a requested tag and the system's preferred languages (given through the seam):
// the tag when the host has it (after the "pt", "no", "tl" renames), else the first preferred language the host
// has as written or adjusted to the host's naming, else English. The chosen tag and id come back together.
TEST(UiLanguageSelectionTest, RequestedTagThenSystemPreferenceThenEnglish) {
  struct {
    const wchar_t* host;
    const wchar_t* tag;
    const wchar_t* preferred;
    const char* chosen_tag;
    const char* langid;
  } const cases[] = {
      {kListHost, L"fr", L"es-MX", "es-419", "0x080A"},        // Latin-American Spanish
      {kListHost, L"fr", L"es-ES", "es", "0x0C0A"},            // Spain's tried as "es" (listed as "ES")
      {kListHost, L"fr", L"zh-HK,en-US", "zh-TW", "0x0404"},   // Hong Kong reads traditional Chinese
      {kListHost, L"fr", L"zh-SG", "en", "0x0409"},            // simplified Chinese is not listed
      {kListHost, L"fr", L"en-AU", "en-GB", "0x0809"},         // British English regions
      {kListHost, L"fr", L"no-NO", "nb", "0x0414"},            // Norwegian is "nb"
      {kListHost, L"fr", L"fil-PH", "tl", "0x0400"},           // Filipino is tried as "tl"
      {kListHost, L"fr", L"pt-PT,de-DE", "pt-PT", "0x0816"},   // as written before any adjustment
      {kListHost, L"fr", L"xx-YY,ja-JP,ja", "en", "0x0409"},   // nothing available: English
      {kListHost, L"pt", L"de-DE", "pt-PT", "0x0816"},         // "pt" is "pt-PT"; the system is not asked
      {kListHost, L"no", L"de-DE", "nb", "0x0414"},            // "no" is tried as "nb"
      {kListHost, L"EN-GB", L"de-DE", "EN-GB", "0x0809"},      // letter case kept, id found all the same
      {kListHost, L"", L"de-AT", "de", "0x0407"},              // the empty tag asks the system (the mend)
      {kListHost, L"", L"", "en", "0x0409"},                   // ... and falls back without an answer
      {kNoListHost, L"de", L"de-DE,nb", "en", "0x0409"},       // no list: always English
  };
  for (const auto& test_case : cases) {
    const std::wstring arguments =
        base::StringPrintf(L"select \"%ls\" \"%ls\"", test_case.tag, test_case.preferred);
    std::map<std::string, std::string> report = RunHost(test_case.host, arguments);
    const std::string context = base::WideToUTF8(arguments) + " on " + base::WideToUTF8(test_case.host);
    EXPECT_EQ(test_case.chosen_tag, report["tag"]) << context;
    EXPECT_EQ(test_case.langid, report["langid"]) << context;
  }
}

// Tags that stand for a language, and how Windows names a language id.
std::string LanguageOf(const std::wstring& name) {
  return base::ToLowerASCII(base::WideToUTF8(name.substr(0, name.find(L'-'))));
}

std::wstring LocaleNameOf(LANGID language_id) {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"";
  return LCIDToLocaleName(MAKELCID(language_id, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) > 0 ? name : L"";
}

// Every tag of the table maps to Windows' own id of its language, and of its region when it names one (the
// platform's locale names are the oracle); a few tags are special on purpose.
TEST(UiLanguageTableTest, TagsMapToThePlatformsLanguageIds) {
  const wchar_t* const ordinary[] = {
      L"af", L"am", L"ar", L"az", L"be", L"bg", L"bn", L"ca", L"cs", L"da", L"de", L"el", L"en", L"en-gb",
      L"es", L"et", L"eu", L"fa", L"fi", L"fil", L"fr", L"fr-ca", L"fy", L"gd", L"gl", L"gu", L"he", L"hi",
      L"hr", L"hu", L"id", L"is", L"it", L"ja", L"kk", L"kn", L"ko", L"lt", L"lv", L"mk", L"ml", L"mr",
      L"ms", L"nb", L"ne", L"nl", L"nn", L"or", L"pa", L"pl", L"pt-br", L"pt-pt", L"ro", L"ru", L"sa", L"si",
      L"sk", L"sl", L"sv", L"sw", L"ta", L"te", L"th", L"ti", L"tr", L"uk", L"ur", L"uz", L"vi",
      L"zh-cn", L"zh-hk", L"zh-tw", L"zu"};
  for (const wchar_t* tag : ordinary) {
    const std::wstring name = LocaleNameOf(LookupLcid(tag));
    EXPECT_EQ(LanguageOf(tag), LanguageOf(name)) << base::WideToUTF8(tag) << " is " << base::WideToUTF8(name);
    const std::wstring tag_text = tag;
    if (tag_text.find(L'-') != std::wstring::npos) {
      const std::wstring region = base::UTF8ToWide(base::ToUpperASCII(base::WideToUTF8(tag_text.substr(3))));
      EXPECT_TRUE(base::EndsWith(name, L"-" + region, base::CompareCase::SENSITIVE))
          << base::WideToUTF8(tag) << " is " << base::WideToUTF8(name);
    }
  }

  struct {
    const wchar_t* tag;
    const char* platform_language;  // of the id, as the platform names it
  } const renamed[] = {
      {L"iw", "he"},         // Hebrew's former code
      {L"fake-bidi", "he"},  // a right-to-left pseudo-language shown with Hebrew's id
      {L"no", "nb"},
      {L"es-419", "es"},     // Windows has no region 419 in this id: Mexico's stands for it
  };
  for (const auto& row : renamed)
    EXPECT_EQ(row.platform_language, LanguageOf(LocaleNameOf(LookupLcid(row.tag)))) << base::WideToUTF8(row.tag);
  // Serbian's ids date from Serbia and Montenegro, which wine does not name: the SDK's constants say them.
  EXPECT_EQ(MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_CYRILLIC), LookupLcid(L"sr"));
  EXPECT_EQ(MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_LATIN), LookupLcid(L"me")) << "Serbian in Latin script";
  EXPECT_EQ(MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), LookupLcid(L"tl")) << "the user default, not Filipino";
  EXPECT_EQ(MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), LookupLcid(L"userdefault"));
  EXPECT_EQ(0, LookupLcid(L"neutral"));
  EXPECT_EQ(LookupLcid(L"en-gb"), LookupLcid(L"EN-GB"));
  EXPECT_EQ(0, LookupLcid(L""));
  EXPECT_EQ(0, LookupLcid(L"en-us")) << "only the listed tags have ids";
}

TEST(UiLanguageTableTest, NormalizedTagsAreTheHostsNames) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"no", L"nb"}, {L"NO", L"nb"}, {L"pt", L"pt-PT"}, {L"Pt", L"pt-PT"}, {L"tl", L"fil"},
      {L"nb", L"nb"}, {L"pt-BR", L"pt-BR"}, {L"", L""},  {L"fil", L"fil"},
  };
  for (const auto& [tag, normalized] : cases)
    EXPECT_EQ(normalized, NormalizeLanguageTag(tag)) << base::WideToUTF8(tag);
}

}  // namespace
}  // namespace zorvi::installer
