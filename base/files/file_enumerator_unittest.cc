#include "base/files/file_enumerator.h"

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_test_util.h"
#include "testing/test_support.h"

namespace base {
namespace {

using file_test::ScopedTestDir;
using file_test::WriteText;

std::vector<FilePath> Collect(FileEnumerator* enumerator, size_t limit = 100000) {
  std::vector<FilePath> paths;
  for (FilePath path = enumerator->Next(); !path.empty() && paths.size() < limit; path = enumerator->Next())
    paths.push_back(path);
  return paths;
}

// Names relative to `root`, sorted.
std::vector<std::wstring> Relative(const FilePath& root, const std::vector<FilePath>& paths) {
  std::vector<std::wstring> names;
  for (const FilePath& path : paths) {
    const std::wstring& text = path.value();
    EXPECT_EQ(0u, text.find(root.value() + L"\\")) << path.value();
    names.push_back(text.substr(root.value().size() + 1));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// root: a.txt b.dat sub.txt\ (x.dat, deep\y.txt) other\ (z.txt) empty\ .
class FileEnumeratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* folder : {L"sub.txt", L"sub.txt\\deep", L"other", L"empty"})
      ASSERT_TRUE(CreateDirectoryW(dir_.Append(folder).value().c_str(), nullptr));
    for (const wchar_t* file : {L"a.txt", L"b.dat", L"sub.txt\\x.dat", L"sub.txt\\deep\\y.txt", L"other\\z.txt"})
      ASSERT_TRUE(WriteText(dir_.Append(file), "12345"));
  }

  ScopedTestDir dir_;
};

TEST_F(FileEnumeratorTest, OneLevelByType) {
  FileEnumerator files(dir_.path(), false, FileEnumerator::FILES);
  EXPECT_EQ((std::vector<std::wstring>{L"a.txt", L"b.dat"}), Relative(dir_.path(), Collect(&files)));
  FileEnumerator folders(dir_.path(), false, FileEnumerator::DIRECTORIES);
  EXPECT_EQ((std::vector<std::wstring>{L"empty", L"other", L"sub.txt"}), Relative(dir_.path(), Collect(&folders)));
  FileEnumerator none(dir_.path(), false, 0);
  EXPECT_TRUE(none.Next().empty());
}

TEST_F(FileEnumeratorTest, RecursiveWalkReturnsEverything) {
  FileEnumerator all(dir_.path(), true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  EXPECT_EQ((std::vector<std::wstring>{L"a.txt", L"b.dat", L"empty", L"other", L"other\\z.txt", L"sub.txt",
                                       L"sub.txt\\deep", L"sub.txt\\deep\\y.txt", L"sub.txt\\x.dat"}),
            Relative(dir_.path(), Collect(&all)));
}

TEST_F(FileEnumeratorTest, PatternSelectsAmongTheRootsEntriesOnly) {
  FileEnumerator matching(dir_.path(), true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES, L"*.txt");
  // "other" does not match and is not entered; "sub.txt" matches and everything in it is returned.
  EXPECT_EQ((std::vector<std::wstring>{L"a.txt", L"sub.txt", L"sub.txt\\deep", L"sub.txt\\deep\\y.txt",
                                       L"sub.txt\\x.dat"}),
            Relative(dir_.path(), Collect(&matching)));
  FileEnumerator flat(dir_.path(), false, FileEnumerator::FILES, L"?.dat");
  EXPECT_EQ((std::vector<std::wstring>{L"b.dat"}), Relative(dir_.path(), Collect(&flat)));
}

TEST_F(FileEnumeratorTest, FoldersAreSearchedLastInFirstOut) {
  FileEnumerator all(dir_.path(), true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  std::vector<FilePath> found = Collect(&all);
  // Group the entries by the folder they came from, in the order of the walk.
  std::vector<FilePath> searched;
  for (const FilePath& path : found) {
    if (searched.empty() || searched.back() != path.DirName())
      searched.push_back(path.DirName());
  }
  // Each folder with entries must be the most recently returned folder not yet searched; folders without
  // entries ("empty") are searched without showing up.
  std::vector<FilePath> pending = {dir_.path()};
  size_t position = 0;
  for (const FilePath& folder : searched) {
    while (!pending.empty() && pending.back() != folder) {
      EXPECT_EQ(L"empty", pending.back().BaseName().value()) << "searched " << folder.AsUTF8() << " early";
      pending.pop_back();
    }
    ASSERT_FALSE(pending.empty()) << folder.AsUTF8() << " was never pending";
    pending.pop_back();
    for (; position < found.size() && found[position].DirName() == folder; ++position) {
      if (file_test::IsFolder(found[position]))
        pending.push_back(found[position]);
    }
  }
  EXPECT_EQ(found.size(), position);
}

TEST_F(FileEnumeratorTest, InfoDescribesTheLastEntry) {
  FileEnumerator files(dir_.Append(L"sub.txt"), false, FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  EXPECT_EQ(0, files.GetInfo().find_data().cFileName[0]) << "nothing returned yet";
  std::map<std::wstring, bool> seen;
  for (FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    const FileEnumerator::FileInfo info = files.GetInfo();
    EXPECT_EQ(path.BaseName().value(), info.GetName().value());
    seen[info.GetName().value()] = info.IsDirectory();
    if (!info.IsDirectory()) {
      EXPECT_EQ(5, info.GetSize());
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, info.find_data().ftLastWriteTime.dwLowDateTime);
  }
  EXPECT_EQ((std::map<std::wstring, bool>{{L"deep", true}, {L"x.dat", false}}), seen);
  const FileEnumerator::FileInfo after = files.GetInfo();
  EXPECT_EQ(0, after.find_data().cFileName[0]);
  EXPECT_EQ(0u, after.find_data().dwFileAttributes);
}

TEST_F(FileEnumeratorTest, EmptyAndMissingRootsEndAtOnce) {
  FileEnumerator empty(dir_.Append(L"empty"), true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  EXPECT_TRUE(empty.Next().empty());
  EXPECT_TRUE(empty.Next().empty());
  FileEnumerator missing(dir_.Append(L"missing"), true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  EXPECT_TRUE(missing.Next().empty());
  FileEnumerator file_as_root(dir_.Append(L"a.txt"), true, FileEnumerator::FILES);
  EXPECT_TRUE(file_as_root.Next().empty());
}

TEST_F(FileEnumeratorTest, DotDotIsReturnedOnRequestButNeverEntered) {
  FileEnumerator walk(dir_.path(), true,
                      FileEnumerator::FILES | FileEnumerator::DIRECTORIES | FileEnumerator::INCLUDE_DOT_DOT);
  // Climbing into ".." would walk the whole disk over and over: stop counting well before that.
  const std::vector<FilePath> found = Collect(&walk, 1000);
  std::multiset<std::wstring> dot_dots;
  size_t others = 0;
  for (const FilePath& path : found) {
    ASSERT_NE(L".", path.BaseName().value());
    if (path.BaseName().value() == L"..")
      dot_dots.insert(path.DirName().value());
    else
      ++others;
  }
  EXPECT_EQ(9u, others);
  // One ".." from each folder searched; every folder is searched once.
  EXPECT_EQ((std::multiset<std::wstring>{dir_.path().value(), dir_.Append(L"empty").value(),
                                         dir_.Append(L"other").value(), dir_.Append(L"sub.txt").value(),
                                         dir_.Append(L"sub.txt\\deep").value()}),
            dot_dots);
}

// A junction "link" to `target` made through the reparse-point control code.
bool MakeJunction(const FilePath& link, const FilePath& target) {
  if (!CreateDirectoryW(link.value().c_str(), nullptr))
    return false;
  test_support::ScopedTestHandle handle(CreateFileW(link.value().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                    nullptr));
  if (!handle.valid())
    return false;
  const std::wstring substitute = L"\\??\\" + target.value();
  const std::wstring print = target.value();
  std::vector<BYTE> buffer(sizeof(ULONG) + 2 * sizeof(USHORT) + 4 * sizeof(USHORT) +
                           (substitute.size() + print.size() + 2) * sizeof(wchar_t));
  BYTE* p = buffer.data();
  auto put16 = [&p](USHORT value) {
    memcpy(p, &value, 2);
    p += 2;
  };
  const ULONG tag = IO_REPARSE_TAG_MOUNT_POINT;
  memcpy(p, &tag, 4);
  p += 4;
  put16(static_cast<USHORT>(buffer.size() - 8));
  put16(0);
  put16(0);
  put16(static_cast<USHORT>(substitute.size() * 2));
  put16(static_cast<USHORT>((substitute.size() + 1) * 2));
  put16(static_cast<USHORT>(print.size() * 2));
  memcpy(p, substitute.c_str(), (substitute.size() + 1) * 2);
  p += (substitute.size() + 1) * 2;
  memcpy(p, print.c_str(), (print.size() + 1) * 2);
  DWORD returned = 0;
  return DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                         nullptr, 0, &returned, nullptr) != FALSE;
}

TEST_F(FileEnumeratorTest, JunctionsAreReturnedButNotEntered) {
  const FilePath link = dir_.Append(L"other\\loop");
  if (!MakeJunction(link, dir_.path()) ||
      !(GetFileAttributesW(link.value().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "wine lacks junctions (reparse points on folders)";
  }
  FileEnumerator walk(dir_.path(), true, FileEnumerator::DIRECTORIES);
  const std::vector<std::wstring> found = Relative(dir_.path(), Collect(&walk, 1000));
  EXPECT_EQ((std::vector<std::wstring>{L"empty", L"other", L"other\\loop", L"sub.txt", L"sub.txt\\deep"}), found);
  RemoveDirectoryW(link.value().c_str());
}

// The tree that the Linux-side setup made, listed by `find` with each file's size ("d" for folders).
TEST(FileEnumeratorOracleTest, WalkMatchesFind) {
  const FilePath root(test_support::TestDataDir() + L"\\enum_tree");
  std::string listing;
  ASSERT_TRUE(test_support::ReadFileBytes(test_support::TestDataDir() + L"\\enum_tree.list", &listing));
  std::vector<std::string> expected;
  for (size_t start = 0, end; start < listing.size(); start = end + 1) {
    end = listing.find('\n', start);
    expected.push_back(listing.substr(start, end - start));
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_GT(expected.size(), 50u);

  FileEnumerator walk(root, true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  std::vector<std::string> found;
  for (FilePath path = walk.Next(); !path.empty(); path = walk.Next()) {
    std::string relative = path.AsUTF8().substr(root.AsUTF8().size() + 1);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const FileEnumerator::FileInfo info = walk.GetInfo();
    found.push_back(relative + "\t" + (info.IsDirectory() ? std::string("d") : std::to_string(info.GetSize())));
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(expected, found);
}

}  // namespace
}  // namespace base
