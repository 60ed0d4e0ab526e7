// A whole-tree workout on the 1,000-file tree that the Linux-side setup made: copy, a refused folder move to
// another volume and a copy and delete there instead, a rename there, a file moved back, a replace, wildcard deletes and a delete at the next restart.
// testdata_check.sh verifies the outcome with sha256sum and find, and performs the restart.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_test_util.h"
#include "base/files/file_util.h"
#include "testing/test_support.h"

namespace base {
namespace {

TEST(FileTreeTest, CopyMoveReplaceAndDeleteAcrossVolumes) {
  const FilePath data(test_support::TestDataDir());
  const FilePath tree = data.Append(L"tree");
  std::string letter;
  ASSERT_TRUE(test_support::ReadFileBytes(data.Append(L"second_drive").value(), &letter));
  ASSERT_EQ(1u, letter.size());
  const FilePath volume(std::wstring(1, static_cast<wchar_t>(letter[0])) + L":\\");
  ASSERT_TRUE(file_test::IsFolder(volume));

  const FilePath source = tree.Append(L"source");
  const FilePath work = tree.Append(L"work");
  ASSERT_TRUE(CreateDirectory(work));
  ASSERT_TRUE(CopyDirectory(source, work.Append(L"copy"), true));
  int files = 0;
  FileEnumerator copied(work.Append(L"copy"), true, FileEnumerator::FILES);
  for (FilePath path = copied.Next(); !path.empty(); path = copied.Next())
    ++files;
  EXPECT_EQ(1000, files);

  // A folder is not moved to another volume: the move fails as the system's own does, and leaves both sides as they
  // were. Its caller copies and deletes it itself; files cross by the system's copy.
  EXPECT_FALSE(MovePath(work.Append(L"copy"), volume.Append(L"moved")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SAME_DEVICE), GetLastError());
  EXPECT_FALSE(file_test::Exists(volume.Append(L"moved")));
  int left = 0;
  FileEnumerator kept(work.Append(L"copy"), true, FileEnumerator::FILES);
  for (FilePath path = kept.Next(); !path.empty(); path = kept.Next())
    ++left;
  EXPECT_EQ(files, left);
  ASSERT_TRUE(CopyAndDeleteDirectory(work.Append(L"copy"), volume.Append(L"moved")));
  ASSERT_TRUE(MovePath(volume.Append(L"moved"), volume.Append(L"renamed")));
  const FilePath renamed = volume.Append(L"renamed");
  ASSERT_TRUE(MovePath(renamed.Append(L"d07\\f070.bin"), work.Append(L"single.bin")));

  ASSERT_TRUE(CopyFile(tree.Append(L"replacement.txt"), volume.Append(L"replacement.txt")));
  FileError error = FileError::Ok;
  ASSERT_TRUE(ReplaceFile(volume.Append(L"replacement.txt"), renamed.Append(L"d03\\f042.bin"), &error));

  ASSERT_TRUE(DeleteFile(renamed.Append(L"d05\\*.tmp"), false));
  ASSERT_TRUE(DeleteFile(renamed.Append(L"d08\\s*"), true));
  ASSERT_TRUE(DeleteFileAfterReboot(tree.Append(L"doomed.txt")));
  EXPECT_TRUE(file_test::Exists(tree.Append(L"doomed.txt")));

  ASSERT_TRUE(file_test::WriteText(tree.Append(L"done"), "done"));
}

}  // namespace
}  // namespace base
