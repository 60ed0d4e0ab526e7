#include "base/files/file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/files/file_test_util.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/process_wide_histograms.h"
#include "base/metrics/sample_set.h"

namespace base {
namespace {

using file_test::ReadText;
using file_test::ScopedTestDir;
using file_test::WriteText;

constexpr uint32_t kOpenRead = FileFlags::Open | FileFlags::Read;
constexpr uint32_t kOpenReadWrite = FileFlags::Open | FileFlags::Read | FileFlags::Write;

HistogramBase::Count UnknownErrorCount(DWORD code) {
  return GetProcessWideSparseHistogram("PlatformFile.UnknownErrors.Windows", 1)
      ->SnapshotSamples()
      ->GetCount(static_cast<HistogramBase::Sample>(code));
}

HistogramBase::Count FlushCount() {
  return GetProcessWideHistogram("PlatformFile.FlushTime", 1, 10000, 50, 1)->SnapshotSamples()->TotalCount();
}

TEST(FileTest, DefaultIsInvalidAndFailed) {
  File file;
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(FileError::Failed, file.error_details());
  EXPECT_EQ(-1, file.Read(0, nullptr, 0));
}

TEST(FileTest, ParentReferenceIsRefusedWithoutTouchingTheDisk) {
  ScopedTestDir dir;
  const FilePath sneaky = dir.Append(L"sub").Append(L"..").Append(L"made.txt");
  File file(sneaky, FileFlags::CreateAlways | FileFlags::Write);
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(FileError::AccessDenied, file.error_details());
  EXPECT_FALSE(file_test::Exists(dir.Append(L"made.txt")));
  File rooted(FilePath(L"C:\\a\\..\\b"), kOpenRead);
  EXPECT_EQ(FileError::AccessDenied, rooted.error_details());
  // Dots that do not climb are ordinary names.
  File dotted(dir.Append(L"a..b"), FileFlags::CreateAlways | FileFlags::Write);
  EXPECT_TRUE(dotted.IsValid());
}

TEST(FileTest, FlagsWithoutDispositionOpenNothing) {
  ScopedTestDir dir;
  File file(dir.Append(L"x"), FileFlags::Read | FileFlags::Write);
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(FileError::Failed, file.error_details());
  EXPECT_FALSE(file_test::Exists(dir.Append(L"x")));
}

TEST(FileTest, OpenErrorsAndTheLastError) {
  ScopedTestDir dir;
  File missing(dir.Append(L"missing"), kOpenRead);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(missing.IsValid());
  EXPECT_EQ(FileError::NotFound, missing.error_details());
  File no_folder(dir.Append(L"none").Append(L"x"), kOpenRead);
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_EQ(FileError::NotFound, no_folder.error_details());
  ASSERT_TRUE(WriteText(dir.Append(L"there"), "x"));
  File exists(dir.Append(L"there"), FileFlags::Create | FileFlags::Write);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), GetLastError());
  EXPECT_EQ(FileError::Exists, exists.error_details());
}

TEST(FileTest, CreatedTellsWhetherTheOpenMadeTheFile) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  {
    File file(path, FileFlags::OpenAlways | FileFlags::Write);
    ASSERT_TRUE(file.IsValid());
    EXPECT_EQ(FileError::Ok, file.error_details());
    EXPECT_TRUE(file.created());
  }
  {
    File file(path, FileFlags::OpenAlways | FileFlags::Write);
    ASSERT_TRUE(file.IsValid());
    EXPECT_FALSE(file.created());
  }
  {
    File file(path, FileFlags::CreateAlways | FileFlags::Write);
    EXPECT_TRUE(file.created());
  }
  {
    File file(path, kOpenRead);
    EXPECT_FALSE(file.created());
  }
  {
    File file(path, FileFlags::OpenTruncated | FileFlags::Write);
    ASSERT_TRUE(file.IsValid());
    EXPECT_FALSE(file.created());
  }
  File fresh(dir.Append(L"g"), FileFlags::Create | FileFlags::Write);
  EXPECT_TRUE(fresh.created());
}

TEST(FileTest, DispositionPrecedence) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, "contents"));
  {
    // CreateAlways wins over Open: the file is truncated.
    File file(path, FileFlags::CreateAlways | FileFlags::Open | FileFlags::Write);
    ASSERT_TRUE(file.IsValid());
  }
  EXPECT_EQ("", ReadText(path));
  ASSERT_TRUE(WriteText(path, "contents"));
  {
    // OpenAlways wins over Create: no "exists" failure.
    File file(path, FileFlags::OpenAlways | FileFlags::Create | FileFlags::Read);
    ASSERT_TRUE(file.IsValid());
    EXPECT_EQ(8, file.GetLength());
  }
  {
    // Create wins over Open.
    File file(path, FileFlags::Create | FileFlags::Open | FileFlags::Read);
    EXPECT_EQ(FileError::Exists, file.error_details());
  }
  {
    // OpenTruncated wins over everything: it never creates.
    File file(dir.Append(L"new"), FileFlags::OpenTruncated | FileFlags::CreateAlways | FileFlags::Write);
    EXPECT_EQ(FileError::NotFound, file.error_details());
    EXPECT_FALSE(file_test::Exists(dir.Append(L"new")));
    File existing(path, FileFlags::OpenTruncated | FileFlags::Open | FileFlags::Write);
    ASSERT_TRUE(existing.IsValid());
  }
  EXPECT_EQ("", ReadText(path));
}

TEST(FileTest, ReadsAndWritesAtOffsets) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  File file(path, FileFlags::CreateAlways | FileFlags::Read | FileFlags::Write);
  ASSERT_TRUE(file.IsValid());
  EXPECT_EQ(5, file.Write(0, "hello", 5));
  EXPECT_EQ(5, file.Write(10, "world", 5));  // leaves a gap of zeros
  EXPECT_EQ(15, file.GetLength());
  char buffer[32] = {};
  EXPECT_EQ(15, file.Read(0, buffer, sizeof(buffer)));
  EXPECT_EQ(std::string("hello\0\0\0\0\0world", 15), std::string(buffer, 15));
  EXPECT_EQ(3, file.Read(12, buffer, 3));
  EXPECT_EQ("rld", std::string(buffer, 3));
  EXPECT_EQ(3, file.Read(12, buffer, 10));  // short at the end
  // At and past the end: 0, not a failure.
  EXPECT_EQ(0, file.Read(15, buffer, 4));
  EXPECT_EQ(0, file.Read(1000, buffer, 4));
  EXPECT_EQ(0, file.Read(0, buffer, 0));
  file.Close();
  EXPECT_EQ(std::string("hello\0\0\0\0\0world", 15), ReadText(path));
}

TEST(FileTest, NegativeSizesAreRefused) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, "keep"));
  File file(path, kOpenReadWrite);
  ASSERT_TRUE(file.IsValid());
  char buffer[8];
  EXPECT_EQ(-1, file.Read(0, buffer, -1));
  EXPECT_EQ(-1, file.Write(0, "xxxxxxxx", -1));
  // With a buffer that the size, taken as unsigned, would cover: nothing may be written.
  void* huge = VirtualAlloc(nullptr, 0x80000000u, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
  if (huge) {
    EXPECT_EQ(-1, file.Write(0, static_cast<const char*>(huge), INT32_MIN));
    EXPECT_EQ(-1, file.Read(0, static_cast<char*>(huge), INT32_MIN));
    VirtualFree(huge, 0, MEM_RELEASE);
  }
  EXPECT_EQ(4, file.GetLength());
  file.Close();
  EXPECT_EQ("keep", ReadText(path));
}

TEST(FileTest, OffsetsBeyondFourGigabytes) {
  ScopedTestDir dir;
  File file(dir.Append(L"sparse"), FileFlags::CreateAlways | FileFlags::Read | FileFlags::Write);
  ASSERT_TRUE(file.IsValid());
  const int64_t distant = (int64_t{5} << 30) + 7;  // the high half of the offset is 1
  ASSERT_EQ(3, file.Write(distant, "xyz", 3));
  EXPECT_EQ(distant + 3, file.GetLength());
  char buffer[4] = {};
  ASSERT_EQ(3, file.Read(distant, buffer, 4));
  EXPECT_EQ("xyz", std::string(buffer, 3));
  // The same low half without the high half is inside the zeros.
  ASSERT_EQ(3, file.Read(distant & 0xFFFFFFFF, buffer, 3));
  EXPECT_EQ(std::string(3, '\0'), std::string(buffer, 3));
  EXPECT_TRUE(file.SetLength(0));
}

TEST(FileTest, SetLengthKeepsThePosition) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, "0123456789"));
  File file(path, kOpenReadWrite);
  ASSERT_TRUE(file.IsValid());
  LARGE_INTEGER move;
  move.QuadPart = 4;
  ASSERT_TRUE(SetFilePointerEx(file.GetPlatformFile(), move, nullptr, FILE_BEGIN));
  EXPECT_TRUE(file.SetLength(6));
  EXPECT_EQ(6, file.GetLength());
  LARGE_INTEGER zero = {};
  LARGE_INTEGER position;
  ASSERT_TRUE(SetFilePointerEx(file.GetPlatformFile(), zero, &position, FILE_CURRENT));
  EXPECT_EQ(4, position.QuadPart);
  EXPECT_TRUE(file.SetLength(9));
  EXPECT_FALSE(file.SetLength(-1));
  file.Close();
  EXPECT_EQ(std::string("012345\0\0\0", 9), ReadText(path));
}

TEST(FileTest, ReadOnlyHandleCannotWrite) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, "abc"));
  File file(path, kOpenRead);
  EXPECT_EQ(-1, file.Write(0, "x", 1));
  EXPECT_FALSE(file.SetLength(0));
  file.Close();
  EXPECT_EQ("abc", ReadText(path));
}

TEST(FileTest, AppendWritesAtTheEnd) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, "12345"));
  {
    File file(path, FileFlags::Open | FileFlags::Append);
    ASSERT_TRUE(file.IsValid());
    EXPECT_EQ(3, file.Write(0, "abc", 3));
    char byte;
    EXPECT_EQ(-1, file.Read(0, &byte, 1)) << "append-only access cannot read";
  }
  EXPECT_EQ("12345abc", ReadText(path));
  {
    // Append replaces write access: the offset cannot overwrite.
    File file(path, FileFlags::Open | FileFlags::Append | FileFlags::Write);
    EXPECT_EQ(2, file.Write(1, "yz", 2));
  }
  EXPECT_EQ("12345abcyz", ReadText(path));
}

TEST(FileTest, SharingFlags) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, "abc"));
  {
    File first(path, kOpenRead);
    File second(path, kOpenReadWrite);
    EXPECT_TRUE(second.IsValid()) << "read and write sharing are on by default";
    EXPECT_FALSE(DeleteFileW(path.value().c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  }
  {
    File exclusive(path, kOpenRead | FileFlags::ExclusiveRead);
    ASSERT_TRUE(exclusive.IsValid());
    File reader(path, kOpenRead);
    EXPECT_EQ(FileError::InUse, reader.error_details());
  }
  {
    File exclusive(path, kOpenRead | FileFlags::ExclusiveWrite);
    File reader(path, kOpenRead);
    EXPECT_TRUE(reader.IsValid());
    File writer(path, kOpenReadWrite);
    EXPECT_EQ(FileError::InUse, writer.error_details());
  }
  {
    // A handle that may delete its file admits only openers that share deletion.
    File owner(path, kOpenRead | FileFlags::Delete);
    ASSERT_TRUE(owner.IsValid());
    File reader(path, kOpenRead);
    EXPECT_EQ(FileError::InUse, reader.error_details());
    File sharing(path, kOpenRead | FileFlags::ShareDelete);
    EXPECT_TRUE(sharing.IsValid());
  }
  {
    File deletable(path, kOpenRead | FileFlags::ShareDelete);
    EXPECT_TRUE(DeleteFileW(path.value().c_str()));
  }
  EXPECT_FALSE(file_test::Exists(path));
}

TEST(FileTest, ReadOnlyFileCannotBeOpenedForDeletion) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, "abc"));
  ASSERT_TRUE(SetFileAttributesW(path.value().c_str(), FILE_ATTRIBUTE_READONLY));
  File doomed(path, kOpenRead | FileFlags::DeleteOnClose);
  EXPECT_EQ(FileError::AccessDenied, doomed.error_details());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  doomed.Close();
  EXPECT_EQ("abc", ReadText(path));
  File reader(path, kOpenRead);
  EXPECT_TRUE(reader.IsValid());
}

TEST(FileTest, AttributeFlags) {
  ScopedTestDir dir;
  const FilePath hidden = dir.Append(L"hidden");
  {
    File file(hidden, FileFlags::CreateAlways | FileFlags::Write | FileFlags::Hidden | FileFlags::Temporary);
    ASSERT_TRUE(file.IsValid());
  }
  const DWORD attributes = file_test::Attributes(hidden);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);

  const FilePath doomed = dir.Append(L"doomed");
  {
    File file(doomed, FileFlags::CreateAlways | FileFlags::Write | FileFlags::DeleteOnClose);
    ASSERT_TRUE(file.IsValid());
    EXPECT_TRUE(file_test::Exists(doomed));
  }
  EXPECT_FALSE(file_test::Exists(doomed));
}

TEST(FileTest, FoldersOpenWithBackupSemantics) {
  ScopedTestDir dir;
  File plain(dir.path(), kOpenRead);
  EXPECT_FALSE(plain.IsValid());
  EXPECT_EQ(FileError::AccessDenied, plain.error_details());
  File folder(dir.path(), kOpenRead | FileFlags::BackupSemantics);
  EXPECT_TRUE(folder.IsValid());
}

TEST(FileTest, AsynchronousHandleReadsAndWrites) {
  ScopedTestDir dir;
  File file(dir.Append(L"f"), FileFlags::CreateAlways | FileFlags::Read | FileFlags::Write | FileFlags::Async);
  ASSERT_TRUE(file.IsValid());
  EXPECT_TRUE(file.async());
  EXPECT_EQ(6, file.Write(2, "abcdef", 6));
  char buffer[16] = {};
  EXPECT_EQ(4, file.Read(4, buffer, sizeof(buffer)));
  EXPECT_EQ("cdef", std::string(buffer, 4));
  EXPECT_EQ(0, file.Read(100, buffer, 4));
  File sync(dir.Append(L"g"), FileFlags::CreateAlways | FileFlags::Write);
  EXPECT_FALSE(sync.async());
}

TEST(FileTest, CloseReleasesTheFile) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  File file(path, FileFlags::CreateAlways | FileFlags::Write | FileFlags::ExclusiveRead |
                      FileFlags::ExclusiveWrite);
  ASSERT_TRUE(file.IsValid());
  EXPECT_FALSE(DeleteFileW(path.value().c_str()));
  file.Close();
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(nullptr, file.GetPlatformFile());
  file.Close();
  EXPECT_TRUE(DeleteFileW(path.value().c_str()));
}

TEST(FileTest, MovesKeepTheHandle) {
  ScopedTestDir dir;
  File first(dir.Append(L"f"), FileFlags::CreateAlways | FileFlags::Read | FileFlags::Write);
  const HANDLE handle = first.GetPlatformFile();
  File second(std::move(first));
  EXPECT_EQ(handle, second.GetPlatformFile());
  EXPECT_FALSE(first.IsValid());
  File third;
  third = std::move(second);
  EXPECT_EQ(handle, third.GetPlatformFile());
  EXPECT_TRUE(third.created());
  EXPECT_EQ(2, third.Write(0, "ok", 2));
}

TEST(FileTest, FlushIsTimed) {
  ScopedTestDir dir;
  File file(dir.Append(L"f"), FileFlags::CreateAlways | FileFlags::Write);
  ASSERT_EQ(4, file.Write(0, "data", 4));
  const HistogramBase::Count before = FlushCount();
  EXPECT_TRUE(file.Flush());
  EXPECT_EQ(before + 1, FlushCount());
  File invalid;
  EXPECT_FALSE(invalid.Flush());
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(FileTest, ErrorTable) {
  struct Case {
    DWORD code;
    FileError expected;
  } cases[] = {
      {0, FileError::Ok},         {2, FileError::NotFound},       {3, FileError::NotFound},
      {4, FileError::TooManyOpened}, {5, FileError::AccessDenied}, {8, FileError::NoMemory},
      {14, FileError::NoMemory},  {21, FileError::Io},            {27, FileError::Io},
      {55, FileError::Io},        {1117, FileError::Io},          {1392, FileError::Io},
      {1393, FileError::Io},      {32, FileError::InUse},         {39, FileError::NoSpace},
      {112, FileError::NoSpace},  {314, FileError::NoSpace},      {80, FileError::Exists},
      {1224, FileError::InvalidRequest},
  };
  for (const Case& c : cases) {
    const HistogramBase::Count before = UnknownErrorCount(c.code);
    EXPECT_EQ(c.expected, File::OsErrorToFileError(c.code)) << c.code;
    EXPECT_EQ(before, UnknownErrorCount(c.code)) << c.code << " is not unknown";
  }
  EXPECT_EQ(-16, static_cast<int>(FileError::Io));
  EXPECT_EQ(-10, static_cast<int>(FileError::InvalidRequest));
}

TEST(FileTest, UnknownErrorsAreCounted) {
  for (DWORD code : {DWORD{87}, DWORD{183}, DWORD{0xDEADBEEF}}) {
    const HistogramBase::Count before = UnknownErrorCount(code);
    SetLastError(1234);
    EXPECT_EQ(FileError::Failed, File::OsErrorToFileError(code));
    EXPECT_EQ(1234u, GetLastError());
    EXPECT_EQ(before + 1, UnknownErrorCount(code)) << code;
  }
}

TEST(FileTest, MappedFileCannotBeTruncated) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, std::string(8192, 'm')));
  File file(path, kOpenReadWrite);
  ASSERT_TRUE(file.IsValid());
  HANDLE mapping = CreateFileMappingW(file.GetPlatformFile(), nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(nullptr, mapping);
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(nullptr, view);
  File truncating(path, FileFlags::OpenTruncated | FileFlags::Write);
  const FileError error = truncating.error_details();
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  if (error == FileError::Ok)
    GTEST_SKIP() << "wine lacks the user-mapped-file check on truncation";
  EXPECT_EQ(FileError::InvalidRequest, error);
}

}  // namespace
}  // namespace base
