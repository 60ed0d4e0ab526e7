#include "desktop/launcher/installer/roles/installer_help.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_host_test_util.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

std::string ReadTestData(const wchar_t* name) {
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(test::TestDataFile(name), &text)) << name;
  return text;
}

// The language list of the help's test host, as wrestool extracted it (testdata_setup.sh).
std::vector<std::wstring> HelpHostLanguages() {
  return base::SplitString(base::UTF8ToWide(ReadTestData(L"help_languages.txt")), L"\n", base::TRIM_WHITESPACE,
                           base::SPLIT_WANT_ALL);
}

// `text` as a console of `columns` columns shows it: rows wrap at the last column and tabs stop every 8 columns;
// trailing blanks are cut.
std::vector<std::string> ConsoleRows(const std::string& text, size_t columns) {
  std::vector<std::string> rows(1);
  auto put = [&](char c) {
    if (rows.back().size() == columns)
      rows.emplace_back();
    rows.back() += c;
  };
  for (char c : text) {
    if (c == '\n') {
      rows.emplace_back();
    } else if (c == '\t') {
      do {
        put(' ');
      } while (rows.back().size() % 8 != 0);
    } else {
      put(c);
    }
  }
  for (std::string& row : rows)
    row.erase(row.find_last_not_of(' ') + 1);
  return rows;
}

// Byte for byte the text of testdata/installer_help.txt, which was written from the table of documented switches
// for the product's branding (as the host carries it) and the help host's languages; and that text as a user sees
// it: a windowed host run with "--help" opens a console, writes the text there and pauses; the pause ends at once
// since the program's input holds no key.
TEST(InstallerHelpTest, ConsoleShowsTheTableForTheProductTheLanguagesAndTheFeatures) {
  SetBrandingTextForTesting(ReadTestData(L"branding\\installer.json"));
  const std::string help = FormatInstallerHelp(HelpHostLanguages());
  EXPECT_EQ(ReadTestData(L"installer_help.txt"), help);

  test_support::ScopedTestFolder folder(L"HelpConsole");
  const base::FilePath base_folder(folder.path());
  const base::FilePath console_text = base_folder.Append(L"console.txt");
  test::ProgramRun run;
  ASSERT_TRUE(test::RunProgram(L"\"" + test::TestProgram(L"help_console_host.exe").value() +
                                   L"\" --help --set-folder-permission=X --console-text=\"" + console_text.value() +
                                   L"\"",
                               base_folder, base_folder, &run));
  EXPECT_EQ(0u, run.exit_code);
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(console_text, &text));
  if (base::StartsWith(text, "no console: ", base::CompareCase::SENSITIVE))
    GTEST_SKIP() << "the console could not be read back: " << text;
  std::vector<std::string> shown = base::SplitString(text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  ASSERT_TRUE(base::StartsWith(shown[0], "columns=", base::CompareCase::SENSITIVE)) << shown[0];
  const size_t columns = std::stoul(shown[0].substr(8));
  shown.erase(shown.begin());

  std::vector<std::string> expected = ConsoleRows(help, columns);
  expected.pop_back();  // the row the last line end opened, where the pause writes
  ASSERT_GT(shown.size(), expected.size());
  for (size_t row = 0; row < expected.size(); ++row)
    EXPECT_EQ(expected[row], shown[row]) << "row " << row;
  EXPECT_NE("", shown[expected.size()]) << "the pause's prompt follows the help";
  EXPECT_EQ(std::string::npos, run.errors.find("Not available")) << "help only: " << run.errors;
}

}  // namespace
}  // namespace zorvi::installer
