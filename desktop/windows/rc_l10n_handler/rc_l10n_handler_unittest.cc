#include "desktop/windows/rc_l10n_handler/rc_l10n_handler.h"

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "testing/scoped_log_capture.h"
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
      {kListHost, L"fr", L"en-US,de-DE", "en", "0x0409"},      // other English is "en", before later choices
      {kListHost, L"fr", L"no-NO", "nb", "0x0414"},            // Norwegian is "nb"
      {kListHost, L"fr", L"fil-PH", "fil", "0x0464"},          // Filipino is tried as "fil", the host's name
      {kListHost, L"fr", L"pt-PT,de-DE", "pt-PT", "0x0816"},   // as written before any adjustment
      {kListHost, L"fr", L"xx-YY,ja-JP,ja", "en", "0x0409"},   // nothing available: English
      {kListHost, L"pt", L"de-DE", "pt-PT", "0x0816"},         // "pt" is "pt-PT"; the system is not asked
      {kListHost, L"no", L"de-DE", "nb", "0x0414"},            // "no" is tried as "nb"
      {kListHost, L"tl", L"de-DE", "fil", "0x0464"},           // "tl" is tried as "fil"
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

  // Normalized tags are the host's names.
  const std::pair<const wchar_t*, const wchar_t*> normalized[] = {
      {L"no", L"nb"}, {L"NO", L"nb"}, {L"pt", L"pt-PT"}, {L"Pt", L"pt-PT"}, {L"tl", L"fil"},
      {L"nb", L"nb"}, {L"pt-BR", L"pt-BR"}, {L"", L""},  {L"fil", L"fil"},
  };
  for (const auto& [tag, name] : normalized)
    EXPECT_EQ(name, NormalizeLanguageTag(tag)) << base::WideToUTF8(tag);
}

// The host strings that this test program carries, as pefile reads them (testdata_setup.sh): the language list
// and, per language id ("0x0407"), every non-empty entry by block and entry ("2313:9").
class HostStringsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string json;
    ASSERT_TRUE(base::ReadFileToString(
        base::FilePath(test_support::TestDataDir()).Append(L"host_strings.json"), &json));
    oracle_ = base::JsonReader::Read(json);
    ASSERT_TRUE(oracle_ && oracle_->GetAsDictionary(&root_)) << json;
    const base::ListValue* languages = nullptr;
    ASSERT_TRUE(root_->GetList("languages", &languages));
    for (const auto& language : *languages) {
      std::wstring tag;
      ASSERT_TRUE(language->GetAsString(&tag));
      tags_.push_back(tag);
    }
    ASSERT_GE(tags_.size(), 2u) << "English and at least one more language";
  }
  void TearDown() override { *GetUiLanguageId() = 0; }

  // The entry as pefile read it; empty when the table lacks it.
  std::wstring Entry(const std::wstring& tag, const std::string& block_and_entry) {
    const base::Value* value = nullptr;
    const base::DictionaryValue* tables = nullptr;
    const base::DictionaryValue* table = nullptr;
    std::wstring result;
    if (root_->Get("tables", &value) && value->GetAsDictionary(&tables) &&
        tables->GetWithoutPathExpansion(base::StringPrintf("0x%04x", LookupLcid(tag)), &value) &&
        value->GetAsDictionary(&table) && table->GetWithoutPathExpansion(block_and_entry, &value)) {
      value->GetAsString(&result);
    }
    return result;
  }

  std::unique_ptr<base::Value> oracle_;
  const base::DictionaryValue* root_ = nullptr;
  std::vector<std::wstring> tags_;
};

// Each listed language reads its own table: string n is entry n % 16 of block n / 16 + 1, through the run's
// language id and through the language's tag alike; the languages' own names differ, so no language fell back to
// another's table.
TEST_F(HostStringsTest, EachListedLanguageReadsItsOwnTable) {
  EXPECT_EQ(tags_, GetAvailableUiLanguages());
  const struct {
    int id;
    const char* block_and_entry;
  } rows[] = {{37000, "2313:8"}, {37001, "2313:9"}, {37007, "2313:15"},
              {37008, "2314:0"}, {37046, "2316:6"}, {37060, "2317:4"}};
  std::set<std::wstring> own_names;
  for (const std::wstring& tag : tags_) {
    ASSERT_NE(0, LookupLcid(tag)) << base::WideToUTF8(tag);
    *GetUiLanguageId() = LookupLcid(tag);
    for (const auto& row : rows) {
      const std::wstring expected = Entry(tag, row.block_and_entry);
      EXPECT_FALSE(expected.empty()) << base::WideToUTF8(tag) << " " << row.block_and_entry;
      EXPECT_EQ(expected, GetLocalizedString(row.id)) << base::WideToUTF8(tag) << " " << row.id;
      EXPECT_EQ(expected, GetLocalizedString(tag, row.id)) << base::WideToUTF8(tag) << " " << row.id;
    }
    own_names.insert(GetLocalizedString(37046));
  }
  EXPECT_EQ(tags_.size(), own_names.size());
}

// "$1" takes the argument once, even when the argument holds placeholders itself; without an argument the text
// keeps its placeholder.
TEST_F(HostStringsTest, ArgumentFillsThePlaceholder) {
  const std::wstring argument = L"C:\\Programs\\$1 $2";
  for (const std::wstring& tag : tags_) {
    *GetUiLanguageId() = LookupLcid(tag);
    const std::wstring with_placeholder = Entry(tag, "2316:14");  // 37054, the folder that could not be made
    const size_t placeholder = with_placeholder.find(L"$1");
    ASSERT_NE(std::wstring::npos, placeholder) << base::WideToUTF8(tag);
    std::wstring expected = with_placeholder;
    expected.replace(placeholder, 2, argument);
    EXPECT_EQ(expected, GetLocalizedString(37054, argument)) << base::WideToUTF8(tag);
    EXPECT_EQ(with_placeholder, GetLocalizedString(37054)) << base::WideToUTF8(tag);
  }
}

// What the tables lack reads as empty text: a missing block or language with an error line, an unused entry of a
// block that exists without one.
TEST_F(HostStringsTest, WhatTheTablesLackIsEmpty) {
  const struct {
    const wchar_t* tag;
    int id;
    bool error_logged;
  } cases[] = {
      {L"en", 1, true},         // no block 1
      {L"en", 40000, true},     // no block past the installer's
      {L"fr", 37001, true},     // a language the host does not carry
      {L"en", 36999, false},    // the first block holds ids from 36992 on; below 37000 they are unused
      {L"de", 37061, false},    // past the last id, in the last block
  };
  for (const auto& test_case : cases) {
    test_support::ScopedLogCapture log;
    EXPECT_EQ(L"", LoadLocalizedString(LookupLcid(test_case.tag), test_case.id, {L"x"})) << test_case.id;
    EXPECT_EQ(test_case.error_logged, log.HasLineStartingWith("Failed to find string", logging::LOG_ERROR))
        << base::WideToUTF8(test_case.tag) << " " << test_case.id << ": " << log.Text();
  }
}

}  // namespace
}  // namespace zorvi::installer
