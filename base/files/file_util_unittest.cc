#include "base/files/file_util.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_test_util.h"
#include "base/logging.h"
#include "testing/test_support.h"

namespace base {
namespace {

using file_test::Exists;
using file_test::IsFolder;
using file_test::ReadText;
using file_test::ScopedTestDir;
using file_test::WriteText;

FilePath DataPath(const std::wstring& name) { return FilePath(test_support::TestDataDir() + L"\\" + name); }

std::string DataText(const std::wstring& name) { return ReadText(DataPath(name)); }

// A path of exactly `length` characters: `dir` + "\" + a name padded with 'n' (+ `suffix`).
FilePath PathOfLength(const FilePath& dir, size_t length, const std::wstring& suffix = L"") {
  const size_t name_length = length - dir.value().size() - 1;
  return dir.Append(std::wstring(name_length - suffix.size(), L'n') + suffix);
}

// Every entry below `root` as "relative path" or "relative path\" for folders, sorted; listed with the
// system's own search.
std::vector<std::wstring> ListTree(const std::wstring& root, const std::wstring& prefix = L"") {
  std::vector<std::wstring> entries;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((root + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE)
    return entries;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..")
      continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      entries.push_back(prefix + name + L"\\");
      for (const std::wstring& inner : ListTree(root + L"\\" + name, prefix + name + L"\\"))
        entries.push_back(inner);
    } else {
      entries.push_back(prefix + name);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(entries.begin(), entries.end());
  return entries;
}

// a\x.txt, a\y.tmp, a\sub\z.txt, a\sub\deeper\w.tmp, a\empty\ under the test folder.
class FileUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* folder : {L"a", L"a\\sub", L"a\\sub\\deeper", L"a\\empty"})
      ASSERT_TRUE(::CreateDirectoryW(dir_.Append(folder).value().c_str(), nullptr));
    for (const wchar_t* file : {L"a\\x.txt", L"a\\y.tmp", L"a\\sub\\z.txt", L"a\\sub\\deeper\\w.tmp"})
      ASSERT_TRUE(WriteText(dir_.Append(file), std::string("contents of ") + FilePath(file).AsUTF8()));
  }

  std::vector<std::wstring> SourceTree() { return ListTree(dir_.Append(L"a").value()); }

  ScopedTestDir dir_;
};

TEST_F(FileUtilTest, WriteFileCreatesOrTruncates) {
  const FilePath path = dir_.Append(L"w");
  EXPECT_EQ(0, WriteFile(path, "", 0));
  EXPECT_TRUE(Exists(path));
  EXPECT_EQ("", ReadText(path));
  EXPECT_EQ(11, WriteFile(path, "long enough", 11));
  EXPECT_EQ(3, WriteFile(path, "abc", 3));
  EXPECT_EQ("abc", ReadText(path));
  EXPECT_EQ(-1, WriteFile(path, "xyz", -1));
  EXPECT_EQ("abc", ReadText(path));
  EXPECT_EQ(-1, WriteFile(dir_.Append(L"none\\w"), "abc", 3));
  EXPECT_EQ(-1, WriteFile(dir_.Append(L"negative"), "abc", -5));
  EXPECT_FALSE(Exists(dir_.Append(L"negative")));
  // No sharing: a reader holding the file open makes the write fail.
  FILE* reader = OpenFile(path, "rb");
  ASSERT_NE(nullptr, reader);
  EXPECT_EQ(-1, WriteFile(path, "new", 3));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_TRUE(CloseFile(reader));
  EXPECT_EQ("abc", ReadText(path));
}

// Collects log lines while alive.
class ScopedLogCapture {
 public:
  ScopedLogCapture() {
    lines_ = &captured_;
    logging::SetLogMessageHandler(&Handler);
    logging::SetMinLogLevel(-1);
  }
  ~ScopedLogCapture() {
    logging::SetLogMessageHandler(nullptr);
    logging::SetMinLogLevel(logging::LOG_INFO);
    lines_ = nullptr;
  }
  const std::vector<std::string>& lines() const { return captured_; }

 private:
  static bool Handler(int, const char*, int, size_t message_start, const std::string& text) {
    lines_->push_back(text.substr(message_start));
    return true;
  }
  static std::vector<std::string>* lines_;
  std::vector<std::string> captured_;
};
std::vector<std::string>* ScopedLogCapture::lines_ = nullptr;

TEST_F(FileUtilTest, AppendToFileNeedsAnExistingFile) {
  const FilePath path = dir_.Append(L"log");
  {
    ScopedLogCapture capture;
    EXPECT_FALSE(AppendToFile(path, "x", 1));
    ASSERT_EQ(1u, capture.lines().size());
    EXPECT_EQ("CreateFile failed for path " + path.AsUTF8() + ": " +
                  logging::SystemErrorCodeToString(ERROR_FILE_NOT_FOUND) + "\n",
              capture.lines()[0]);
  }
  EXPECT_FALSE(Exists(path));
  ASSERT_TRUE(WriteText(path, "one\n"));
  EXPECT_TRUE(AppendToFile(path, "two\n", 4));
  EXPECT_TRUE(AppendToFile(path, "", 0));
  EXPECT_FALSE(AppendToFile(path, "three", -1));
  EXPECT_EQ("one\ntwo\n", ReadText(path));
  // Not shared: an open reader makes it fail.
  FILE* reader = OpenFile(path, "rb");
  EXPECT_FALSE(AppendToFile(path, "x", 1));
  CloseFile(reader);
  // Without verbose logging nothing is written.
  ScopedLogCapture capture;
  logging::SetMinLogLevel(logging::LOG_INFO);
  EXPECT_FALSE(AppendToFile(dir_.Append(L"missing"), "x", 1));
  EXPECT_TRUE(capture.lines().empty());
}

TEST_F(FileUtilTest, ReadFileReadsOnceUpToTheLimit) {
  const FilePath path = dir_.Append(L"r");
  ASSERT_TRUE(WriteText(path, "0123456789"));
  char buffer[16] = {};
  EXPECT_EQ(4, ReadFile(path, buffer, 4));
  EXPECT_EQ("0123", std::string(buffer, 4));
  EXPECT_EQ(10, ReadFile(path, buffer, sizeof(buffer)));
  EXPECT_EQ(0, ReadFile(path, buffer, 0));
  EXPECT_EQ(-1, ReadFile(path, buffer, -1));
  EXPECT_EQ(-1, ReadFile(dir_.Append(L"missing"), buffer, 4));
  // Shares reading and writing with a writer.
  File writer(path, FileFlags::Open | FileFlags::Write);
  ASSERT_TRUE(writer.IsValid());
  EXPECT_EQ(10, ReadFile(path, buffer, sizeof(buffer)));
}

TEST_F(FileUtilTest, ReadFileToStringWithLimits) {
  const FilePath path = dir_.Append(L"twenty");
  const std::string twenty = "abcdefghijklmnopqrst";
  ASSERT_TRUE(WriteText(path, twenty));
  std::string contents = "old";
  EXPECT_FALSE(ReadFileToStringWithMaxSize(path, &contents, 10));
  EXPECT_EQ(twenty.substr(0, 10), contents);
  EXPECT_TRUE(ReadFileToStringWithMaxSize(path, &contents, 20));
  EXPECT_EQ(twenty, contents);
  EXPECT_FALSE(ReadFileToStringWithMaxSize(path, &contents, 19));
  EXPECT_EQ(twenty.substr(0, 19), contents);
  EXPECT_FALSE(ReadFileToStringWithMaxSize(path, &contents, 0));
  EXPECT_EQ("", contents);
  EXPECT_TRUE(ReadFileToString(path, &contents));
  EXPECT_EQ(twenty, contents);
  EXPECT_TRUE(ReadFileToString(path, nullptr));
  EXPECT_FALSE(ReadFileToStringWithMaxSize(path, nullptr, 5));

  const FilePath empty = dir_.Append(L"empty");
  ASSERT_TRUE(WriteText(empty, ""));
  contents = "old";
  EXPECT_TRUE(ReadFileToStringWithMaxSize(empty, &contents, 0));
  EXPECT_EQ("", contents);

  contents = "old";
  EXPECT_FALSE(ReadFileToString(dir_.Append(L"missing"), &contents));
  EXPECT_EQ("", contents);
  contents = "old";
  EXPECT_FALSE(ReadFileToString(dir_.Append(L"a\\..\\twenty"), &contents));
  EXPECT_EQ("", contents);
  EXPECT_FALSE(ReadFileToString(dir_.path(), &contents)) << "a folder is not a file";
}

TEST_F(FileUtilTest, ReadFileToStringAcrossChunks) {
  // Sizes around the 64 KiB chunk.
  for (size_t size : {size_t{65535}, size_t{65536}, size_t{65537}, size_t{131072}, size_t{200001}}) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
      data[i] = static_cast<char>((i * 2654435761u) >> 13);
    const FilePath path = dir_.Append(L"chunks");
    ASSERT_TRUE(WriteText(path, data));
    std::string contents;
    EXPECT_TRUE(ReadFileToString(path, &contents)) << size;
    EXPECT_TRUE(contents == data) << size;
    EXPECT_EQ(size <= 65536, ReadFileToStringWithMaxSize(path, &contents, 65536)) << size;
    EXPECT_TRUE(contents == data.substr(0, std::min<size_t>(size, 65536))) << size;
    EXPECT_TRUE(ReadFileToStringWithMaxSize(path, &contents, size)) << size;
    EXPECT_EQ(size, contents.size());
  }
}

TEST(FileUtilOracleTest, ReadFileToStringMatchesSha256sum) {
  std::string contents;
  ASSERT_TRUE(ReadFileToString(DataPath(L"read_oracle.bin"), &contents));
  EXPECT_EQ(1048579u, contents.size());
  EXPECT_EQ(DataText(L"read_oracle.sha256"), file_test::Sha256Hex(contents.data(), contents.size()));
  // Untranslated: carriage returns and the text-mode end-of-file byte stay.
  ASSERT_TRUE(ReadFileToString(DataPath(L"binary.bin"), &contents));
  EXPECT_EQ(std::string("line\r\nctrl-z\x1a after\r\n\n"), contents);
}

TEST(FileUtilOracleTest, FileInfoMatchesTheLinuxSide) {
  File::Info info;
  ASSERT_TRUE(GetFileInfo(DataPath(L"dated.txt"), &info));
  EXPECT_EQ(12, info.size);
  EXPECT_FALSE(info.is_directory);
  EXPECT_EQ(std::stoll(DataText(L"dated.epoch")), info.last_modified.ToTimeT());
  int64_t size = 0;
  ASSERT_TRUE(GetFileSize(DataPath(L"read_oracle.bin"), &size));
  EXPECT_EQ(1048579, size);
  ASSERT_TRUE(GetFileInfo(FilePath(test_support::TestDataDir()), &info));
  EXPECT_TRUE(info.is_directory);
  EXPECT_FALSE(GetFileInfo(DataPath(L"missing"), &info));
  EXPECT_FALSE(GetFileSize(DataPath(L"missing"), &size));
}

TEST_F(FileUtilTest, CopyFileOverwritesAndClearsReadOnly) {
  const FilePath from = dir_.Append(L"a\\x.txt");
  const FilePath to = dir_.Append(L"copy.txt");
  ASSERT_TRUE(WriteText(to, "old and longer"));
  ASSERT_TRUE(SetFileAttributesW(from.value().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(CopyFile(from, to));
  EXPECT_EQ(ReadText(from), ReadText(to));
  EXPECT_FALSE(file_test::Attributes(to) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(file_test::Attributes(from) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(CopyFile(dir_.Append(L"missing"), to));
  EXPECT_FALSE(CopyFile(from, dir_.Append(L"none\\copy")));
}

TEST_F(FileUtilTest, CopyFileRefusals) {
  const FilePath from = dir_.Append(L"a\\x.txt");
  EXPECT_FALSE(CopyFile(dir_.Append(L"a\\sub\\..\\x.txt"), dir_.Append(L"c1")));
  EXPECT_FALSE(CopyFile(from, dir_.Append(L"a\\..\\c2")));
  EXPECT_FALSE(Exists(dir_.Append(L"c2")));
  // 259 characters are passed to the system; 260 are refused.
  ASSERT_LT(dir_.path().value().size(), 200u);
  const FilePath longest = PathOfLength(dir_.path(), MAX_PATH - 1);
  EXPECT_TRUE(CopyFile(from, longest));
  EXPECT_EQ(ReadText(from), ReadText(longest));
  const FilePath too_long = PathOfLength(dir_.path(), MAX_PATH, L"x");
  EXPECT_FALSE(CopyFile(from, too_long));
  EXPECT_FALSE(Exists(too_long));
  EXPECT_FALSE(CopyFile(too_long, dir_.Append(L"c3")));
}

TEST_F(FileUtilTest, CopyDirectoryFlatCopiesFilesOnly) {
  const FilePath to = dir_.Append(L"flat");
  EXPECT_TRUE(CopyDirectory(dir_.Append(L"a"), to, false));
  EXPECT_EQ((std::vector<std::wstring>{L"x.txt", L"y.tmp"}), ListTree(to.value()));
  EXPECT_EQ(ReadText(dir_.Append(L"a\\y.tmp")), ReadText(to.Append(L"y.tmp")));
}

TEST_F(FileUtilTest, CopyDirectoryRecursiveIntoANewFolder) {
  const FilePath to = dir_.Append(L"copy");
  EXPECT_TRUE(CopyDirectory(dir_.Append(L"a"), to, true));
  EXPECT_EQ(SourceTree(), ListTree(to.value()));
  EXPECT_EQ(ReadText(dir_.Append(L"a\\sub\\deeper\\w.tmp")), ReadText(to.Append(L"sub\\deeper\\w.tmp")));
  // Again: the folder exists now, so the tree goes into copy\a.
  EXPECT_TRUE(CopyDirectory(dir_.Append(L"a"), to, true));
  EXPECT_EQ(SourceTree(), ListTree(to.Append(L"a").value()));
}

TEST_F(FileUtilTest, CopyDirectoryRefusesToCopyIntoItself) {
  const FilePath from = dir_.Append(L"a");
  EXPECT_FALSE(CopyDirectory(from, dir_.Append(L"a\\b"), true));
  EXPECT_FALSE(CopyDirectory(from, from, true));
  // Letter case does not make another folder.
  EXPECT_FALSE(CopyDirectory(from, dir_.Append(L"A\\b"), true));
  EXPECT_FALSE(CopyDirectory(from, dir_.Append(L"A"), true));
  EXPECT_FALSE(CopyDirectory(from, dir_.Append(L"A\\SUB"), true));
  EXPECT_FALSE(Exists(dir_.Append(L"a\\b")));
  EXPECT_FALSE(Exists(dir_.Append(L"a\\a")));
  EXPECT_EQ((std::vector<std::wstring>{L"empty\\", L"sub\\", L"sub\\deeper\\", L"sub\\deeper\\w.tmp",
                                       L"sub\\z.txt", L"x.txt", L"y.tmp"}),
            SourceTree());
}

TEST_F(FileUtilTest, CopyDirectoryComparesWholeComponents) {
  // "ab" starts with the text "a" but is another folder.
  ASSERT_TRUE(::CreateDirectoryW(dir_.Append(L"ab").value().c_str(), nullptr));
  EXPECT_TRUE(CopyDirectory(dir_.Append(L"a"), dir_.Append(L"ab"), true));
  EXPECT_EQ(SourceTree(), ListTree(dir_.Append(L"ab\\a").value()));
  EXPECT_TRUE(CopyDirectory(dir_.Append(L"a\\sub"), dir_.Append(L"a\\subway"), true));
  EXPECT_EQ((std::vector<std::wstring>{L"deeper\\", L"deeper\\w.tmp", L"z.txt"}),
            ListTree(dir_.Append(L"a\\subway").value()));
}

TEST_F(FileUtilTest, CopyDirectoryFailures) {
  EXPECT_FALSE(CopyDirectory(dir_.Append(L"missing"), dir_.Append(L"to"), true));
  EXPECT_FALSE(Exists(dir_.Append(L"to")));
  // A file where a folder must go: into an existing folder the tree goes as "blocked\a".
  ASSERT_TRUE(::CreateDirectoryW(dir_.Append(L"blocked").value().c_str(), nullptr));
  ASSERT_TRUE(WriteText(dir_.Append(L"blocked\\a"), "file"));
  EXPECT_FALSE(CopyDirectory(dir_.Append(L"a"), dir_.Append(L"blocked"), true));
  EXPECT_EQ("file", ReadText(dir_.Append(L"blocked\\a")));
  const FilePath too_long = PathOfLength(dir_.path(), MAX_PATH);
  EXPECT_FALSE(CopyDirectory(dir_.Append(L"a"), too_long, true));
}

TEST_F(FileUtilTest, CopyAndDeleteDirectoryKeepsTheSourceWhenTheCopyFails) {
  // The copy cannot make "to\sub": a file is in the way.
  const FilePath to = dir_.Append(L"to");
  ASSERT_TRUE(::CreateDirectoryW(to.value().c_str(), nullptr));
  ASSERT_TRUE(WriteText(to.Append(L"a"), "in the way"));
  const std::vector<std::wstring> before = SourceTree();
  EXPECT_FALSE(CopyAndDeleteDirectory(dir_.Append(L"a"), to));
  EXPECT_EQ(before, SourceTree());
  // A source file that cannot be read stops the copy too.
  File locked(dir_.Append(L"a\\sub\\z.txt"),
              FileFlags::Open | FileFlags::Read | FileFlags::ExclusiveRead | FileFlags::ExclusiveWrite);
  ASSERT_TRUE(locked.IsValid());
  EXPECT_FALSE(CopyAndDeleteDirectory(dir_.Append(L"a"), dir_.Append(L"elsewhere")));
  locked.Close();
  EXPECT_EQ(before, SourceTree());
  EXPECT_TRUE(CopyAndDeleteDirectory(dir_.Append(L"a"), dir_.Append(L"moved")));
  EXPECT_FALSE(Exists(dir_.Append(L"a")));
  EXPECT_EQ(before, ListTree(dir_.Append(L"moved").value()));
}

TEST_F(FileUtilTest, MovePathMovesAndReplaces) {
  const FilePath from = dir_.Append(L"a\\x.txt");
  const std::string text = ReadText(from);
  const FilePath to = dir_.Append(L"moved.txt");
  ASSERT_TRUE(WriteText(to, "replaced"));
  EXPECT_TRUE(MovePath(from, to));
  EXPECT_FALSE(Exists(from));
  EXPECT_EQ(text, ReadText(to));
  const std::vector<std::wstring> tree = SourceTree();
  EXPECT_TRUE(MovePath(dir_.Append(L"a"), dir_.Append(L"b")));
  EXPECT_EQ(tree, ListTree(dir_.Append(L"b").value()));
  EXPECT_FALSE(Exists(dir_.Append(L"a")));
}

TEST_F(FileUtilTest, MovePathRefusals) {
  const FilePath from = dir_.Append(L"a\\x.txt");
  EXPECT_FALSE(MovePath(dir_.Append(L"a\\sub\\..\\x.txt"), dir_.Append(L"m1")));
  EXPECT_FALSE(MovePath(from, dir_.Append(L"a\\..\\m2")));
  EXPECT_TRUE(Exists(from));
  // MoveUnsafe leaves parent references to the system.
  EXPECT_TRUE(MoveUnsafe(dir_.Append(L"a\\sub\\..\\x.txt"), dir_.Append(L"a\\sub\\..\\m3")));
  EXPECT_TRUE(Exists(dir_.Append(L"a\\m3")));
  const FilePath too_long = PathOfLength(dir_.path(), MAX_PATH);
  EXPECT_FALSE(MovePath(dir_.Append(L"a\\m3"), too_long));
  EXPECT_FALSE(MoveUnsafe(dir_.Append(L"a\\m3"), too_long));
  const FilePath longest = PathOfLength(dir_.path(), MAX_PATH - 1);
  EXPECT_TRUE(MovePath(dir_.Append(L"a\\m3"), longest));
  EXPECT_TRUE(Exists(longest));
}

TEST_F(FileUtilTest, FailedMoveKeepsTheSystemError) {
  EXPECT_FALSE(MovePath(dir_.Append(L"missing"), dir_.Append(L"to")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  // A folder that cannot be moved onto a file, nor copied there.
  ASSERT_TRUE(WriteText(dir_.Append(L"file"), "x"));
  File locked(dir_.Append(L"file"), FileFlags::Open | FileFlags::Read | FileFlags::ExclusiveRead |
                                         FileFlags::ExclusiveWrite);
  EXPECT_FALSE(MovePath(dir_.Append(L"a"), dir_.Append(L"file")));
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  EXPECT_TRUE(IsFolder(dir_.Append(L"a")));
  // A folder held open cannot be renamed: it stays whole, and nothing is copied beside it.
  const std::vector<std::wstring> tree = SourceTree();
  {
    File held(dir_.Append(L"a"), FileFlags::Open | FileFlags::Read | FileFlags::BackupSemantics);
    ASSERT_TRUE(held.IsValid());
    EXPECT_FALSE(MovePath(dir_.Append(L"a"), dir_.Append(L"b")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  }
  EXPECT_EQ(tree, SourceTree());
  EXPECT_FALSE(Exists(dir_.Append(L"b")));
}

TEST_F(FileUtilTest, ReplaceFile) {
  const FilePath from = dir_.Append(L"new");
  const FilePath to = dir_.Append(L"target");
  ASSERT_TRUE(WriteText(from, "new contents"));
  FileError error = FileError::Ok;
  EXPECT_TRUE(ReplaceFile(from, to, &error));  // plain move: the target did not exist
  EXPECT_EQ("new contents", ReadText(to));
  EXPECT_FALSE(Exists(from));
  ASSERT_TRUE(WriteText(from, "newer"));
  EXPECT_TRUE(ReplaceFile(from, to, nullptr));
  EXPECT_EQ("newer", ReadText(to));
  EXPECT_FALSE(Exists(from));
  EXPECT_FALSE(ReplaceFile(dir_.Append(L"missing"), to, &error));
  EXPECT_EQ(FileError::NotFound, error);
  EXPECT_EQ("newer", ReadText(to));
  // A target held open without delete sharing cannot be replaced.
  ASSERT_TRUE(WriteText(from, "newest"));
  {
    File holder(to, FileFlags::Open | FileFlags::Read);
    error = FileError::Ok;
    EXPECT_FALSE(ReplaceFile(from, to, &error));
    EXPECT_NE(FileError::Ok, error);
  }
  EXPECT_EQ("newer", ReadText(to));
  EXPECT_EQ("newest", ReadText(from));
}

TEST_F(FileUtilTest, DeleteFileOfNothingIsTrue) {
  EXPECT_TRUE(DeleteFile(FilePath(), false));
  EXPECT_TRUE(DeleteFile(dir_.Append(L"missing"), false));
  EXPECT_TRUE(DeleteFile(dir_.Append(L"missing\\deeper"), true));
}

TEST_F(FileUtilTest, DeleteFileOfAnInvalidNameFails) {
  const FilePath invalid = dir_.Append(L"a<b>|\"");
  SetLastError(0);
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(invalid.value().c_str()));
  const DWORD error = GetLastError();
  if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND)
    GTEST_SKIP() << "wine accepts the name as a missing file";
  EXPECT_FALSE(DeleteFile(invalid, false)) << "error " << error << " is not a missing file";
}

TEST_F(FileUtilTest, DeleteFileFilesAndFolders) {
  const FilePath file = dir_.Append(L"a\\x.txt");
  ASSERT_TRUE(SetFileAttributesW(file.value().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DeleteFile(file, false));
  EXPECT_FALSE(Exists(file));
  EXPECT_FALSE(DeleteFile(dir_.Append(L"a\\sub"), false)) << "not empty";
  EXPECT_TRUE(IsFolder(dir_.Append(L"a\\sub")));
  EXPECT_TRUE(DeleteFile(dir_.Append(L"a\\empty"), false));
  EXPECT_FALSE(Exists(dir_.Append(L"a\\empty")));
  ASSERT_TRUE(SetFileAttributesW(dir_.Append(L"a\\sub\\z.txt").value().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DeleteFile(dir_.Append(L"a"), true));
  EXPECT_FALSE(Exists(dir_.Append(L"a")));
}

// Folders that hold links to what lies outside them (the setup makes them). A deletion removes the links or,
// where the system cannot remove one (wine removes no link to a folder), stops there: what they point to stays,
// which the Linux side checks by its digests too.
TEST(FileUtilOracleTest, DeletingRemovesLinksNotWhatTheyPointTo) {
  const FilePath links = DataPath(L"links");
  const DWORD attributes = file_test::Attributes(links.Append(L"top_link"));
  ASSERT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) << attributes;
  const std::string precious = ReadText(links.Append(L"outside\\precious.txt"));
  ASSERT_FALSE(precious.empty());
  for (const wchar_t* doomed : {L"doomed\\sub\\*", L"doomed", L"top_link"}) {
    SCOPED_TRACE(testing::Message() << doomed);
    const FilePath path = links.Append(doomed);
    if (DeleteFile(path, true)) {
      EXPECT_FALSE(Exists(path.BaseName().value() == L"*" ? path.DirName().Append(L"to_outside") : path));
    }
    EXPECT_EQ(precious, ReadText(links.Append(L"outside\\precious.txt")));
    EXPECT_TRUE(Exists(links.Append(L"outside\\inner\\kept.bin")));
  }
  ASSERT_TRUE(file_test::WriteText(links.Append(L"done"), "done"));
}

TEST_F(FileUtilTest, DeleteFileStopsAtAnOpenFile) {
  File open(dir_.Append(L"a\\sub\\z.txt"), FileFlags::Open | FileFlags::Read);
  ASSERT_TRUE(open.IsValid());
  EXPECT_FALSE(DeleteFile(dir_.Append(L"a\\sub\\z.txt"), false));
  EXPECT_FALSE(DeleteFile(dir_.Append(L"a"), true));
  EXPECT_TRUE(Exists(dir_.Append(L"a\\sub\\z.txt")));
}

TEST_F(FileUtilTest, DeleteFileWithWildcards) {
  ASSERT_TRUE(::CreateDirectoryW(dir_.Append(L"a\\folder.tmp").value().c_str(), nullptr));
  ASSERT_TRUE(WriteText(dir_.Append(L"a\\folder.tmp\\kept.txt"), "x"));
  ASSERT_TRUE(WriteText(dir_.Append(L"a\\ro.tmp"), "x"));
  ASSERT_TRUE(SetFileAttributesW(dir_.Append(L"a\\ro.tmp").value().c_str(), FILE_ATTRIBUTE_READONLY));
  // Names are matched without regard to case, and only the long name counts: the system's search finds
  // "notes.tmpl" through its short name "NOTES~1.TMP".
  ASSERT_TRUE(WriteText(dir_.Append(L"a\\UPPER.TMP"), "x"));
  ASSERT_TRUE(WriteText(dir_.Append(L"a\\notes.tmpl"), "x"));
  // Files only: the matching folder stays when not recursive.
  EXPECT_TRUE(DeleteFile(dir_.Append(L"a\\*.tmp"), false));
  EXPECT_EQ((std::vector<std::wstring>{L"empty\\", L"folder.tmp\\", L"folder.tmp\\kept.txt", L"notes.tmpl",
                                       L"sub\\", L"sub\\deeper\\", L"sub\\deeper\\w.tmp", L"sub\\z.txt",
                                       L"x.txt"}),
            SourceTree());
  // Recursive: the matching folder goes with everything in it; other folders are not searched.
  EXPECT_TRUE(DeleteFile(dir_.Append(L"a\\*.tmp"), true));
  EXPECT_EQ((std::vector<std::wstring>{L"empty\\", L"notes.tmpl", L"sub\\", L"sub\\deeper\\",
                                       L"sub\\deeper\\w.tmp", L"sub\\z.txt", L"x.txt"}),
            SourceTree());
  EXPECT_TRUE(DeleteFile(dir_.Append(L"a\\?.txt"), false));
  EXPECT_FALSE(Exists(dir_.Append(L"a\\x.txt")));
  EXPECT_TRUE(DeleteFile(dir_.Append(L"a\\*"), true));
  EXPECT_TRUE(ListTree(dir_.Append(L"a").value()).empty());
  EXPECT_TRUE(IsFolder(dir_.Append(L"a")));
  EXPECT_TRUE(DeleteFile(dir_.Append(L"nothing\\*"), true));
}

TEST_F(FileUtilTest, DeleteFileRefusesLongPaths) {
  const FilePath longest = PathOfLength(dir_.path(), MAX_PATH - 1);
  ASSERT_TRUE(WriteText(longest, "x"));
  EXPECT_TRUE(DeleteFile(longest, false));
  EXPECT_FALSE(Exists(longest));
  const FilePath too_long = PathOfLength(dir_.path(), MAX_PATH);
  EXPECT_FALSE(DeleteFile(too_long, false));
  EXPECT_FALSE(DeleteFileAfterReboot(too_long));
}

// The entries of PendingFileRenameOperations: pairs of source and target.
std::vector<std::wstring> PendingRenames() {
  std::vector<std::wstring> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return entries;
  }
  DWORD size = 0;
  DWORD type = 0;
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
      data.resize(size / sizeof(wchar_t));
      // A multi-string: entries end in NUL; the list ends with an empty entry.
      for (size_t start = 0, end; start < data.size(); start = end + 1) {
        end = data.find(L'\0', start);
        if (end == std::wstring::npos)
          end = data.size();
        entries.push_back(data.substr(start, end - start));
      }
    }
  }
  RegCloseKey(key);
  return entries;
}

TEST_F(FileUtilTest, DeleteFileAfterRebootIsScheduled) {
  const FilePath doomed = dir_.Append(L"doomed");
  ASSERT_TRUE(WriteText(doomed, "x"));
  EXPECT_TRUE(DeleteFileAfterReboot(doomed));
  EXPECT_TRUE(Exists(doomed));
  const std::vector<std::wstring> entries = PendingRenames();
  const auto found = std::find(entries.begin(), entries.end(), L"\\??\\" + doomed.value());
  ASSERT_NE(entries.end(), found);
  ASSERT_NE(entries.end(), found + 1);
  EXPECT_EQ(L"", *(found + 1)) << "a deletion has no target";
}

TEST_F(FileUtilTest, CreateDirectoryMakesParents) {
  const FilePath deep = dir_.Append(L"n1\\n2\\n3");
  FileError error = FileError::Ok;
  EXPECT_TRUE(CreateDirectoryAndGetError(deep, &error));
  EXPECT_TRUE(IsFolder(deep));
  EXPECT_TRUE(CreateDirectory(deep));
  EXPECT_TRUE(CreateDirectory(dir_.Append(L"trailing\\")));
  EXPECT_TRUE(IsFolder(dir_.Append(L"trailing")));
}

TEST_F(FileUtilTest, CreateDirectoryBelowAFile) {
  FileError error = FileError::Ok;
  EXPECT_FALSE(CreateDirectoryAndGetError(dir_.Append(L"a\\x.txt\\sub\\deeper"), &error));
  EXPECT_EQ(FileError::NotADirectory, error);
  error = FileError::Ok;
  EXPECT_FALSE(CreateDirectoryAndGetError(dir_.Append(L"a\\x.txt"), &error));
  EXPECT_EQ(FileError::NotADirectory, error);
  EXPECT_FALSE(CreateDirectory(dir_.Append(L"a\\x.txt")));
}

TEST_F(FileUtilTest, CreateDirectoryOnAMissingDrive) {
  wchar_t letter = 0;
  const DWORD drives = GetLogicalDrives();
  for (int i = 25; i >= 3 && !letter; --i) {
    const std::wstring root = std::wstring(1, static_cast<wchar_t>(L'A' + i)) + L":\\";
    // Drives mapped after start-up are missing from the bit mask but reachable.
    if (!(drives & (1u << i)) && GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES)
      letter = static_cast<wchar_t>(L'A' + i);
  }
  ASSERT_NE(0, letter);
  FileError error = FileError::Ok;
  EXPECT_FALSE(CreateDirectoryAndGetError(FilePath(std::wstring(1, letter) + L":\\x\\y"), &error));
  EXPECT_EQ(FileError::NotFound, error);
}

TEST_F(FileUtilTest, ConcurrentCreatorsAllSucceed) {
  const FilePath deep = dir_.Append(L"race\\b\\c\\d\\e\\f");
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> successes{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      WaitForSingleObject(start, INFINITE);
      if (CreateDirectory(deep))
        ++successes;
    });
  }
  SetEvent(start);
  for (std::thread& thread : threads)
    thread.join();
  CloseHandle(start);
  EXPECT_EQ(8, successes.load());
  EXPECT_TRUE(IsFolder(deep));
}

TEST_F(FileUtilTest, TemporaryFiles) {
  FilePath first;
  FilePath second;
  ASSERT_TRUE(CreateTemporaryFileInDir(dir_.path(), &first));
  ASSERT_TRUE(CreateTemporaryFileInDir(dir_.path(), &second));
  EXPECT_NE(first, second);
  EXPECT_EQ(dir_.path(), first.DirName());
  EXPECT_EQ("", ReadText(first));
  EXPECT_EQ(std::wstring::npos, first.value().find(L'~'));
  FilePath out = dir_.Append(L"unchanged");
  EXPECT_FALSE(CreateTemporaryFileInDir(dir_.Append(L"missing"), &out));
  EXPECT_EQ(dir_.Append(L"unchanged"), out);

  FilePath temp_dir;
  ASSERT_TRUE(GetTempDir(&temp_dir));
  FilePath in_temp;
  ASSERT_TRUE(CreateTemporaryFile(&in_temp));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(temp_dir.value(), in_temp.DirName().value()));
  EXPECT_TRUE(::DeleteFileW(in_temp.value().c_str()));
}

// Sets an environment variable for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t old[32768];
    const DWORD length = GetEnvironmentVariableW(name, old, 32768);
    had_ = length > 0 && length < 32768;
    old_.assign(old, had_ ? length : 0);
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }

 private:
  const wchar_t* name_;
  bool had_;
  std::wstring old_;
};

TEST_F(FileUtilTest, TempDirComesFromTheEnvironment) {
  ScopedEnvironment tmp(L"TMP", dir_.path().value() + L"\\\\");
  FilePath temp_dir;
  ASSERT_TRUE(GetTempDir(&temp_dir));
  EXPECT_EQ(dir_.path(), temp_dir);
  ScopedEnvironment long_tmp(L"TMP", PathOfLength(dir_.path(), MAX_PATH + 5).value());
  EXPECT_FALSE(GetTempDir(&temp_dir));
}

TEST_F(FileUtilTest, HomeDirIsTheProfile) {
  wchar_t profile[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(std::wstring(profile, length), GetHomeDir().value()));
}

TEST_F(FileUtilTest, CurrentDirectory) {
  FilePath saved;
  ASSERT_TRUE(GetCurrentDirectory(&saved));
  ASSERT_TRUE(SetCurrentDirectory(dir_.Append(L"a")));
  FilePath current;
  ASSERT_TRUE(GetCurrentDirectory(&current));
  EXPECT_EQ(dir_.Append(L"a"), current);
  EXPECT_EQ(dir_.Append(L"b"), MakeAbsoluteFilePath(FilePath(L"sub\\..\\..\\b")));
  EXPECT_EQ(dir_.Append(L"a\\x.txt"), MakeAbsoluteFilePath(FilePath(L"x.txt")));
  EXPECT_FALSE(SetCurrentDirectory(dir_.Append(L"missing")));
  ASSERT_TRUE(SetCurrentDirectory(saved));
  EXPECT_TRUE(MakeAbsoluteFilePath(PathOfLength(dir_.path(), MAX_PATH)).empty());
  EXPECT_EQ(PathOfLength(dir_.path(), MAX_PATH - 1), MakeAbsoluteFilePath(PathOfLength(dir_.path(), MAX_PATH - 1)));
}

TEST_F(FileUtilTest, ExistenceAndWritability) {
  EXPECT_TRUE(PathExists(dir_.Append(L"a\\x.txt")));
  EXPECT_FALSE(DirectoryExists(dir_.Append(L"a\\x.txt")));
  EXPECT_TRUE(DirectoryExists(dir_.Append(L"a")));
  EXPECT_FALSE(PathExists(dir_.Append(L"missing")));
  EXPECT_FALSE(DirectoryExists(dir_.Append(L"missing")));
  EXPECT_TRUE(PathIsWritable(dir_.Append(L"a\\x.txt")));
  EXPECT_TRUE(PathIsWritable(dir_.Append(L"a")));
  EXPECT_FALSE(PathIsWritable(dir_.Append(L"missing")));
  File exclusive(dir_.Append(L"a\\x.txt"),
                 FileFlags::Open | FileFlags::Read | FileFlags::ExclusiveRead | FileFlags::ExclusiveWrite);
  EXPECT_FALSE(PathIsWritable(dir_.Append(L"a\\x.txt")));
}

TEST_F(FileUtilTest, OpenFileSharesEverything) {
  const FilePath path = dir_.Append(L"stream");
  FILE* writer = OpenFile(path, "wb");
  ASSERT_NE(nullptr, writer);
  EXPECT_EQ(5u, fwrite("a\nb\r\n", 1, 5, writer));
  // Others may open, write and even delete it meanwhile.
  File other(path, FileFlags::Open | FileFlags::Read | FileFlags::Write);
  EXPECT_TRUE(other.IsValid());
  other.Close();
  EXPECT_TRUE(CloseFile(writer));
  EXPECT_EQ("a\nb\r\n", ReadText(path));
  FILE* text = OpenFile(path, "r");
  ASSERT_NE(nullptr, text);
  char buffer[16] = {};
  EXPECT_EQ(4u, fread(buffer, 1, sizeof(buffer), text)) << "text mode drops the carriage return";
  EXPECT_TRUE(CloseFile(text));
  EXPECT_EQ(nullptr, OpenFile(dir_.Append(L"missing"), "rb"));
  EXPECT_TRUE(CloseFile(nullptr));
}

// The second drive letter that the setup maps to another file system (tmpfs), or empty.
std::wstring SecondVolume() {
  const std::string letter = DataText(L"second_drive");
  if (letter.size() != 1)
    return std::wstring();
  return std::wstring(1, static_cast<wchar_t>(letter[0])) + L":";
}

TEST_F(FileUtilTest, MovesAcrossVolumes) {
  const std::wstring volume = SecondVolume();
  ASSERT_FALSE(volume.empty()) << "the setup maps a second drive";
  ScopedTestDir other(volume);
  ASSERT_TRUE(IsFolder(other.path()));
  const std::vector<std::wstring> tree = SourceTree();
  // The system refuses to move a folder across volumes, and so does MovePath (a link to another volume's root looks
  // the same), with the system's error: nothing is copied, nothing leaves. A caller copies and deletes itself.
  ASSERT_FALSE(MoveFileExW(dir_.Append(L"a\\empty").value().c_str(), other.Append(L"probe").value().c_str(),
                           MOVEFILE_COPY_ALLOWED));
  EXPECT_FALSE(MovePath(dir_.Append(L"a"), other.Append(L"moved")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SAME_DEVICE), GetLastError());
  EXPECT_EQ(tree, SourceTree());
  EXPECT_FALSE(Exists(other.Append(L"moved")));
  ASSERT_TRUE(CopyAndDeleteDirectory(dir_.Append(L"a"), other.Append(L"moved")));
  EXPECT_EQ(tree, ListTree(other.Append(L"moved").value()));
  // A file moves by copy.
  EXPECT_TRUE(MovePath(other.Append(L"moved\\x.txt"), dir_.Append(L"back.txt")));
  EXPECT_EQ("contents of a\\x.txt", ReadText(dir_.Append(L"back.txt")));
  EXPECT_FALSE(Exists(other.Append(L"moved\\x.txt")));
}

}  // namespace
}  // namespace base
