#include "desktop/launcher/installer/steps/uninstall_batch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

const base::FilePath kFolder(L"C:\\Zorvi Test\\App");

UninstallBatch MakeBatch(uint32_t initial, uint32_t other, bool with_files) {
  UninstallBatch batch(kFolder);
  batch.SetWatchedProcesses(4242, initial, other);
  if (with_files) {
    for (const wchar_t* file : {L"39.0\\zorvi.dll", L"39.0\\locales\\100%.pak", L"launcher.exe"})
      EXPECT_TRUE(batch.AddLeftoverFile(kFolder.Append(file))) << file;
  }
  return batch;
}

// Every batch the writer makes passes the check, also against the folder as another process spells it. The batch
// of an uninstallation that watches itself and a folder-permission helper and leaves three files in two nested
// folders is the text written by hand from the batch's grammar; files outside the folder never reach a batch.
TEST(UninstallBatchTest, WhatTheWriterMakesIsTheGrammarsTextAndPassesTheCheck) {
  const struct {
    uint32_t initial;
    uint32_t other;
    bool with_files;
  } cases[] = {{0, 0, false}, {0, 0, true}, {0, 77, true}, {31, 0, true}, {31, 77, false}, {31, 77, true}};
  std::string error;
  for (const auto& c : cases) {
    const std::string text = MakeBatch(c.initial, c.other, c.with_files).Format();
    SCOPED_TRACE(text);
    EXPECT_TRUE(CheckUninstallBatch(text, kFolder, &error)) << error;
    EXPECT_TRUE(CheckUninstallBatch(text, base::FilePath(L"c:\\zorvi test\\APP\\"), &error)) << error;
  }
  std::string expected;
  ASSERT_TRUE(base::ReadFileToString(test::TestDataFile(L"uninstall_batch.txt"), &expected));
  EXPECT_EQ(expected, MakeBatch(0, 77, true).Format());

  UninstallBatch batch(kFolder);
  for (const wchar_t* outside :
       {L"C:\\Zorvi Test\\Other\\x.dll", L"C:\\Zorvi Test\\App", L"C:\\Zorvi Test\\App\\..\\x.dll",
        L"C:\\Zorvi Test\\App2\\x.dll", L"App\\x.dll", L"C:\\Zorvi Test\\App\\a/b.dll", L"C:\\Zorvi Test\\App\\ . \\x"}) {
    EXPECT_FALSE(batch.AddLeftoverFile(base::FilePath(outside))) << outside;
  }
  EXPECT_EQ(UninstallBatch(kFolder).Format(), batch.Format());
  EXPECT_TRUE(CheckUninstallBatch(batch.Format(), kFolder, &error)) << error;
}

// Each change to the batch that the writer would never make is refused, naming the line.
TEST(UninstallBatchTest, AnyOtherTextIsRefusedWithItsLine) {
  const std::string text = MakeBatch(31, 77, true).Format();
  const std::vector<std::string> good = base::SplitString(text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  ASSERT_EQ("", good.back());
  const size_t task_list = 5;      // TASKLIST of PID1
  const size_t first_delete = 20;  // the first left-over file
  const size_t first_rmdir = 23;   // the first folder
  const size_t delete_self = 26;   // "del %0"
  ASSERT_EQ("del %0", good[delete_self]);
  ASSERT_EQ(0u, good[first_rmdir].rfind("rmdir", 0));
  const struct {
    const char* name;
    size_t line;  // 0-based; the error names line + 1
    const char* replacement;  // null removes the line
    bool insert;
  } cases[] = {
      {"process id 0", task_list, "TASKLIST /FI \"PID eq 0\" | FIND /c /i \".exe\"", false},
      {"process id with a leading zero", task_list, "TASKLIST /FI \"PID eq 04242\" | FIND /c /i \".exe\"", false},
      {"process id with a command", task_list, "TASKLIST /FI \"PID eq 1\" | FIND /c /i \".exe\" & calc", false},
      {"a command of its own", delete_self, "calc.exe", true},
      {"a file outside the folder", first_delete, "del \"C:\\Zorvi Test\\Other\\x.dll\"", true},
      {"a way out of the folder", first_delete, "del \"C:\\Zorvi Test\\App\\..\\Other\\x.dll\"", true},
      {"a relative path", first_delete, "del \"x.dll\"", true},
      {"the folder deleted as a file", first_delete, "del \"C:\\Zorvi Test\\App\"", true},
      {"a sibling with the folder's name as prefix", first_delete, "del \"C:\\Zorvi Test\\App2\\x.dll\"", true},
      {"a lone percent sign", first_delete, "del \"C:\\Zorvi Test\\App\\%PATH%.txt\"", true},
      {"a quote inside the path", first_delete, "del \"C:\\Zorvi Test\\App\\a\" \"C:\\b\"", true},
      {"the parent folder removed", first_rmdir, "rmdir \"C:\\Zorvi Test\"", true},
      {"a folder removed twice", first_rmdir + 1, "rmdir \"C:\\Zorvi Test\\App\\39.0\\locales\"", true},
      {"folders out of order", first_rmdir + 1, "rmdir \"C:\\Zorvi Test\\App\\9\"", true},
      {"the watch of PID1 missing", task_list, nullptr, false},
      {"no self-deletion", delete_self, nullptr, false},
      {"a line after the end", delete_self + 1, "echo", true},
      {"a file after the folders", delete_self, "del \"C:\\Zorvi Test\\App\\x.dll\"", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines = good;
    if (!c.replacement)
      lines.erase(lines.begin() + c.line);
    else if (c.insert)
      lines.insert(lines.begin() + c.line, c.replacement);
    else
      lines[c.line] = c.replacement;
    std::string error;
    EXPECT_FALSE(CheckUninstallBatch(base::JoinString(lines, "\n"), kFolder, &error));
    EXPECT_EQ(0u, error.rfind("line " + std::to_string(c.line + 1) + ": ", 0)) << error;
  }

  std::string error;
  EXPECT_FALSE(CheckUninstallBatch(base::JoinString(good, "\r\n"), kFolder, &error));
  EXPECT_EQ(0u, error.rfind("line 1: ", 0)) << error;
  EXPECT_FALSE(CheckUninstallBatch("", kFolder, &error));
  EXPECT_FALSE(CheckUninstallBatch(text.substr(0, text.size() - 1), kFolder, &error)) << "unterminated";
  EXPECT_FALSE(CheckUninstallBatch(text, base::FilePath(L"C:\\Zorvi Test\\Other"), &error)) << "another folder";
}

// A left-over whose name the command processor's code page cannot carry is named by its short name, which the
// system maps back to the same file; its folders too, up to the installation folder, also when that folder's
// own name needs the short form. The checker accepts the folder in either spelling.
TEST(UninstallBatchTest, NamesTheCodePageCannotCarryAreWrittenShort) {
  test_support::ScopedTestFolder root(L"batch");
  const std::wstring oem_only = L"A%\u00e9";                     // "%" and a letter every Latin OEM page has
  const std::wstring foreign = L"\u0444\u0430\u0439\u043b \u65e5\u672c";  // Cyrillic and CJK
  for (const std::wstring& folder_name : {oem_only, foreign}) {
    SCOPED_TRACE(base::WideToUTF8(folder_name));
    const base::FilePath folder = base::FilePath(root.path()).Append(folder_name);
    const base::FilePath file = folder.Append(foreign).Append(foreign + L".dll");
    ASSERT_TRUE(base::CreateDirectory(file.DirName()));
    ASSERT_TRUE(test_support::WriteFileBytes(file.value(), "x"));
    UninstallBatch batch(folder);
    ASSERT_TRUE(batch.AddLeftoverFile(file));
    const std::string text = batch.Format();
    std::string error;
    EXPECT_TRUE(CheckUninstallBatch(text, folder, &error)) << error << "\n" << text;
    const std::vector<std::string> lines = base::SplitString(text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
    const auto del = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("del \"", 0) == 0; });
    ASSERT_NE(lines.end(), del);
    std::string named = del->substr(5, del->size() - 6);
    EXPECT_TRUE(base::IsStringASCII(named)) << named;
    base::ReplaceSubstringsAfterOffset(&named, 0, "%%", "%");
    wchar_t long_name[MAX_PATH] = {};
    ASSERT_NE(0u, GetLongPathNameW(base::ASCIIToUTF16(named).c_str(), long_name, MAX_PATH)) << named;
    EXPECT_EQ(0, base::FilePath::CompareIgnoreCase(file.value(), long_name)) << named;
  }
}

}  // namespace
}  // namespace zorvi::installer
