#include "base/files/memory_mapped_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/files/file.h"
#include "base/files/file_test_util.h"
#include "testing/test_support.h"

namespace base {
namespace {

using file_test::ScopedTestDir;
using file_test::WriteText;

TEST(MemoryMappedFileTest, MapsTheWholeFile) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  std::string data(70000, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 31 + (i >> 8));
  ASSERT_TRUE(WriteText(path, data));
  MemoryMappedFile mapped;
  EXPECT_FALSE(mapped.IsValid());
  EXPECT_EQ(nullptr, mapped.data());
  ASSERT_TRUE(mapped.Initialize(path));
  EXPECT_TRUE(mapped.IsValid());
  ASSERT_EQ(data.size(), mapped.length());
  EXPECT_TRUE(std::string(reinterpret_cast<const char*>(mapped.data()), mapped.length()) == data);
  EXPECT_FALSE(mapped.Initialize(path)) << "already mapped";
  EXPECT_EQ(data.size(), mapped.length());
}

TEST(MemoryMappedFileTest, RefusesWhatCannotBeMapped) {
  ScopedTestDir dir;
  MemoryMappedFile mapped;
  EXPECT_FALSE(mapped.Initialize(dir.Append(L"missing")));
  ASSERT_TRUE(WriteText(dir.Append(L"empty"), ""));
  EXPECT_FALSE(mapped.Initialize(dir.Append(L"empty")));
  EXPECT_FALSE(mapped.Initialize(dir.path()));
  ASSERT_TRUE(WriteText(dir.Append(L"ok"), "ok"));
  EXPECT_FALSE(mapped.Initialize(dir.Append(L"sub\\..\\ok")));
  EXPECT_FALSE(mapped.IsValid());
  EXPECT_EQ(0u, mapped.length());
  // The failures left nothing open: a good file maps now.
  EXPECT_TRUE(mapped.Initialize(dir.Append(L"ok")));
  EXPECT_EQ(2u, mapped.length());
}

TEST(MemoryMappedFileTest, LengthLimit) {
  ScopedTestDir dir;
  const FilePath largest = dir.Append(L"largest");
  const FilePath too_large = dir.Append(L"too_large");
  {
    // Sparse on the host's file system: nothing is written.
    File file(largest, FileFlags::CreateAlways | FileFlags::Write);
    ASSERT_TRUE(file.SetLength(0x7FFFFFFF));
    File other(too_large, FileFlags::CreateAlways | FileFlags::Write);
    ASSERT_TRUE(other.SetLength(0x80000000LL));
  }
  {
    MemoryMappedFile mapped;
    ASSERT_TRUE(mapped.Initialize(largest));
    EXPECT_EQ(0x7FFFFFFFu, mapped.length());
    EXPECT_EQ(0, mapped.data()[0x7FFFFFFE]);
  }
  MemoryMappedFile mapped;
  EXPECT_FALSE(mapped.Initialize(too_large));
  EXPECT_FALSE(mapped.IsValid());
}

TEST(MemoryMappedFileTest, DestructionReleasesTheFile) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, "mapped"));
  {
    MemoryMappedFile mapped;
    ASSERT_TRUE(mapped.Initialize(path));
    EXPECT_FALSE(DeleteFileW(path.value().c_str()));
    // Opened with read sharing: others may read it meanwhile.
    File reader(path, FileFlags::Open | FileFlags::Read);
    EXPECT_TRUE(reader.IsValid());
  }
  EXPECT_TRUE(DeleteFileW(path.value().c_str()));
}

// A file the caller opened, sharing only reading, stays so while it is mapped: nobody may write it. One that is not
// open or cannot be mapped (empty) is refused and closed.
TEST(MemoryMappedFileTest, MapsAFileTheCallerOpened) {
  ScopedTestDir dir;
  const FilePath path = dir.Append(L"f");
  ASSERT_TRUE(WriteText(path, "held"));
  {
    MemoryMappedFile mapped;
    ASSERT_TRUE(mapped.Initialize(File(path, FileFlags::Open | FileFlags::Read | FileFlags::ExclusiveWrite)));
    EXPECT_EQ("held", std::string(reinterpret_cast<const char*>(mapped.data()), mapped.length()));
    EXPECT_NE(nullptr, mapped.file_handle());
    EXPECT_FALSE(File(path, FileFlags::Open | FileFlags::Write).IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_TRUE(File(path, FileFlags::Open | FileFlags::Read).IsValid());
  }
  EXPECT_TRUE(File(path, FileFlags::Open | FileFlags::Write).IsValid());
  MemoryMappedFile mapped;
  EXPECT_FALSE(mapped.Initialize(File()));
  ASSERT_TRUE(WriteText(dir.Append(L"empty"), ""));
  EXPECT_FALSE(mapped.Initialize(File(dir.Append(L"empty"), FileFlags::Open | FileFlags::Read)));
  EXPECT_EQ(nullptr, mapped.file_handle());
  EXPECT_TRUE(DeleteFileW(dir.Append(L"empty").value().c_str())) << "closed when refused";
}

TEST(MemoryMappedFileOracleTest, MappedBytesMatchSha256sum) {
  MemoryMappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(FilePath(test_support::TestDataDir() + L"\\read_oracle.bin")));
  std::string expected;
  ASSERT_TRUE(test_support::ReadFileBytes(test_support::TestDataDir() + L"\\read_oracle.sha256", &expected));
  EXPECT_EQ(expected, file_test::Sha256Hex(mapped.data(), mapped.length()));
}

}  // namespace
}  // namespace base
