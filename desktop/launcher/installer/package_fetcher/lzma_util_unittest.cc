#include "desktop/launcher/installer/package_fetcher/lzma_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/package_fetcher/package_test_util.h"
#include "desktop/launcher/installer/package_fetcher/temp_file_mapping_allocator.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using package_test::DataPath;
using package_test::Exists;
using package_test::FreshOutputFolder;
using package_test::ListFolder;
using package_test::ReadBytes;
using test_support::ScopedLogCapture;

// Records the progress calls in order: ('T', total) and ('C', index).
class ProgressRecorder : public PackageFetcherDelegate {
 public:
  void SetTotalProgress(int total) override { calls.emplace_back('T', total); }
  void SetCurrentProgress(int value) override { calls.emplace_back('C', value); }
  void NotifyStalled() override { calls.emplace_back('S', 0); }
  void NotifyStatusChanged(int status) override { calls.emplace_back('N', status); }
  void NotifyTrackingDataObtained(const std::string&) override { calls.emplace_back('D', 0); }

  std::vector<std::pair<char, int>> calls;
};

// One entry of `7zz l -slt`.
struct ListedEntry {
  std::wstring path;  // with backslashes
  bool folder = false;
  std::string modified;  // "2020-01-02 03:04:05.0000000" (UTC), empty when not stored
};

std::vector<ListedEntry> ReadListing(const std::wstring& slt) {
  std::istringstream lines(ReadBytes(DataPath(slt)));
  std::vector<ListedEntry> entries;
  bool in_entries = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == "----------") {
      in_entries = true;
    } else if (in_entries && line.rfind("Path = ", 0) == 0) {
      entries.emplace_back();
      entries.back().path = base::UTF8ToWide(line.substr(7));
      for (wchar_t& c : entries.back().path)
        c = c == L'/' ? L'\\' : c;
    } else if (in_entries && !entries.empty() && line.rfind("Attributes = D", 0) == 0) {
      entries.back().folder = true;
    } else if (in_entries && !entries.empty() && line.rfind("Modified = ", 0) == 0) {
      entries.back().modified = line.substr(11);
    }
  }
  return entries;
}

// The listing's time as a FILETIME: 7-Zip prints 100-nanosecond digits.
FILETIME ListedTime(const std::string& text) {
  SYSTEMTIME time = {};
  unsigned fraction = 0;
  sscanf(text.c_str(), "%hu-%hu-%hu %hu:%hu:%hu.%7u", &time.wYear, &time.wMonth, &time.wDay, &time.wHour,
         &time.wMinute, &time.wSecond, &fraction);
  FILETIME file_time;
  SystemTimeToFileTime(&time, &file_time);
  ULARGE_INTEGER value = {{file_time.dwLowDateTime, file_time.dwHighDateTime}};
  value.QuadPart += fraction;
  return {value.LowPart, value.HighPart};
}

uint64_t LastWriteTime(const base::FilePath& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard, &data))
    return 0;
  return ULARGE_INTEGER{{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime}}.QuadPart;
}

uint64_t Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}.QuadPart;
}

DWORD Unpack(const base::FilePath& archive, const base::FilePath& target, PackageFetcherDelegate* delegate) {
  LzmaUtil unpacker;
  unpacker.set_delegate(delegate);
  const DWORD opened = unpacker.OpenArchive(archive);
  return opened != ERROR_SUCCESS ? opened : unpacker.UnPack(target);
}

// Every archive variant that 7-Zip made (LZMA, LZMA2, BCJ, BCJ2, solid and not, times stored or not): the
// entries come out in archive order with their times, the progress counts them, and nothing else is left in
// the folder. testdata_check.sh then compares each folder with what `7zz x` extracts (diff -r) and each file's
// time with 7-Zip's.
TEST(LzmaUtilTest, UnpacksEveryVariantAs7ZipLists) {
  const base::FilePath unpacked = FreshOutputFolder(L"unpack");
  std::string done;
  for (const auto& row : package_test::ReadTable(L"archives\\variants.txt", ' ')) {
    const std::wstring variant = base::UTF8ToWide(row[0]);
    SCOPED_TRACE(row[0]);
    const std::vector<ListedEntry> entries = ReadListing(L"archives\\" + variant + L".slt");
    ASSERT_FALSE(entries.empty());
    const base::FilePath target = unpacked.Append(variant);
    ProgressRecorder progress;
    const uint64_t started = Now();
    ScopedLogCapture log;
    ASSERT_EQ(0u, Unpack(DataPath(L"archives\\" + variant + L".7z"), target, &progress)) << log.Text();

    std::vector<std::pair<char, int>> expected_progress = {{'T', static_cast<int>(entries.size())}};
    for (size_t i = 0; i < entries.size(); ++i)
      expected_progress.emplace_back('C', static_cast<int>(i));
    EXPECT_EQ(expected_progress, progress.calls);

    for (const ListedEntry& entry : entries) {
      const base::FilePath path = target.Append(entry.path);
      SCOPED_TRACE(base::WideToUTF8(entry.path));
      EXPECT_EQ(entry.folder, (GetFileAttributesW(path.value().c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0);
      if (entry.folder)
        continue;
      if (entry.modified.empty()) {
        EXPECT_GE(LastWriteTime(path) + 20'000'000, started) << "an entry without a time keeps its writing time";
      } else {
        const FILETIME listed = ListedTime(entry.modified);
        EXPECT_EQ(ULARGE_INTEGER({{listed.dwLowDateTime, listed.dwHighDateTime}}).QuadPart, LastWriteTime(path));
      }
    }
    // The temporary file of the solid block is gone: the top level holds the archive's top-level names only.
    size_t top_level = 0;
    for (const ListedEntry& entry : entries)
      top_level += entry.path.find(L'\\') == std::wstring::npos;
    EXPECT_EQ(top_level, ListFolder(target).size());
    done += row[0] + "\n";
  }
  EXPECT_TRUE(test_support::WriteFileBytes(unpacked.Append(L"done.txt").value(), done));
}

TEST(LzmaUtilTest, DamagedArchivesFailWithTheReadersCode) {
  const base::FilePath out = FreshOutputFolder(L"damaged");
  for (const auto& row : package_test::ReadTable(L"archives\\damaged.txt", ' ')) {
    SCOPED_TRACE(row[0]);
    ScopedLogCapture log;
    EXPECT_EQ(LzmaUtil::kUnpackFailed,
              Unpack(DataPath(L"archives\\" + base::UTF8ToWide(row[0]) + L".7z"), out.Append(base::UTF8ToWide(row[0])),
                     nullptr));
    EXPECT_TRUE(log.HasLineStartingWith("Error returned by " + row[1] + ": ", logging::LOG_ERROR)) << log.Text();
  }
}

// Unpacks `archive` (a name under archives\\ with its .list) into a folder where the place of the entry at
// `blocked` (counted from the end when negative) is taken by `block`, which makes it and returns false when it
// could not: the unpacking must end with access denied and keep every earlier file.
void ExpectAccessDeniedAfterEarlierFiles(const wchar_t* folder_name, bool (*block)(const base::FilePath& path),
                                         const std::wstring& archive = L"ordered", int blocked = -1) {
  const std::vector<std::vector<std::string>> order =
      package_test::ReadTable(L"archives\\" + archive + L".list", '\t');
  ASSERT_FALSE(order.empty());
  const size_t blocked_index = blocked < 0 ? order.size() + blocked : static_cast<size_t>(blocked);
  ASSERT_LT(blocked_index, order.size());
  const base::FilePath target = FreshOutputFolder(folder_name);
  ASSERT_TRUE(block(target.Append(base::UTF8ToWide(order[blocked_index][0]))));
  ScopedLogCapture log;
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
            Unpack(DataPath(L"archives\\" + archive + L".7z"), target, nullptr));
  EXPECT_TRUE(log.HasLineStartingWith("Error returned by CreateFile: 5", logging::LOG_ERROR)) << log.Text();
  for (size_t i = 0; i < blocked_index; ++i) {
    const std::wstring name = base::UTF8ToWide(order[i][0]);
    EXPECT_EQ(ReadBytes(DataPath(L"archives\\" + archive + L"\\" + name)), ReadBytes(target.Append(name)));
  }
}

TEST(LzmaUtilTest, ReadOnlyFileOfAnEntryStopsTheUnpacking) {
  if (test_support::IsRunningUnderWine())
    GTEST_SKIP() << "wine runs the tests as root, whose opens for writing ignore the read-only attribute";
  ExpectAccessDeniedAfterEarlierFiles(L"read_only", [](const base::FilePath& path) {
    return test_support::WriteFileBytes(path.value(), "kept") &&
           SetFileAttributesW(path.value().c_str(), FILE_ATTRIBUTE_READONLY) != FALSE;
  });
}

// The last of a few files one by one, and one amid a solid block's files, which several threads write.
TEST(LzmaUtilTest, FolderInThePlaceOfAnEntryStopsTheUnpacking) {
  const auto make_folder = [](const base::FilePath& path) {
    return CreateDirectoryW(path.value().c_str(), nullptr) != FALSE;
  };
  ExpectAccessDeniedAfterEarlierFiles(L"folder_in_the_way", make_folder);
  ExpectAccessDeniedAfterEarlierFiles(L"folder_in_the_way_solid", make_folder, L"ordered_solid", 20);
}

// "same_X.txt" and "same_x.txt" name one file here: it holds the later entry, as when the files are written one by
// one, although several threads write this block.
TEST(LzmaUtilTest, TwoNamesOfOnePlaceHoldTheLaterEntry) {
  const base::FilePath target = FreshOutputFolder(L"same_place");
  const std::vector<std::vector<std::string>> last = package_test::ReadTable(L"archives\\same_place.last", '\t');
  ASSERT_EQ(1u, last.size());
  ScopedLogCapture log;
  ASSERT_EQ(0u, Unpack(DataPath(L"archives\\same_place.7z"), target, nullptr)) << log.Text();
  EXPECT_EQ(ReadBytes(DataPath(L"archives\\same_place\\" + base::UTF8ToWide(last[0][0]))),
            ReadBytes(target.Append(L"same_x.txt")));
  EXPECT_EQ(11u, ListFolder(target).size());
}

// Unpacks `archive` (under archives\\) into `target` holding the files named `names`, which end in *held.
DWORD UnpackHolding(const std::wstring& archive, const base::FilePath& target, std::vector<std::wstring> names,
                    std::vector<base::File>* held) {
  LzmaUtil unpacker;
  unpacker.set_files_to_hold(std::move(names));
  const DWORD opened = unpacker.OpenArchive(DataPath(L"archives\\" + archive));
  const DWORD result = opened != ERROR_SUCCESS ? opened : unpacker.UnPack(target);
  *held = unpacker.TakeHeldFiles();
  return result;
}

BOOL WINAPI WriteFirstByteFlipped(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  std::string changed(static_cast<const char*>(data), size);
  if (size)
    changed[0] ^= 0x20;
  return WriteFile(file, changed.data(), size, written, overlapped);
}

// Files to hold, directly in the target only (letter case aside): while held, nobody can overwrite them or rename
// them away, and they hold the archive's bytes (as 7-Zip made it from the test data); once let go, they can be
// replaced. Of two entries of one place the later is held; a file that does not read back as written fails the
// unpacking.
TEST(LzmaUtilTest, FilesToHoldAreHeldAsWritten) {
  const base::FilePath replacement = FreshOutputFolder(L"hold").Append(L"replacement.bin");
  ASSERT_TRUE(test_support::WriteFileBytes(replacement.value(), "a replacement"));
  const std::vector<std::vector<std::string>> last = package_test::ReadTable(L"archives\\same_place.last", '\t');
  ASSERT_EQ(1u, last.size());
  struct Held {
    std::wstring unpacked;   // in the target
    std::wstring reference;  // in the test data's archives folder
  };
  const struct {
    const char* name;
    std::wstring archive;
    std::vector<std::wstring> hold;
    std::vector<Held> held;
    std::vector<std::wstring> not_held;
  } kRows[] = {
      // The tree's installer.exe lies in a subfolder.
      {"top-level files", L"lzma_solid.7z", {L"random.bin", L"ZERO.TXT", L"installer.exe"},
       {{L"random.bin", L"tree\\random.bin"}, {L"zero.txt", L"tree\\zero.txt"}},
       {L"a\\installer.exe", L"repeated.bin"}},
      {"two entries of one place", L"same_place.7z", {L"same_x.txt"},
       {{L"same_x.txt", L"same_place\\" + base::UTF8ToWide(last[0][0])}}, {L"other1.txt"}},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.name);
    const base::FilePath target = FreshOutputFolder(L"hold\\" + base::UTF8ToWide(row.name));
    std::vector<base::File> files;
    ScopedLogCapture log;
    ASSERT_EQ(0u, UnpackHolding(row.archive, target, row.hold, &files)) << log.Text();
    EXPECT_EQ(row.held.size(), files.size());
    for (const Held& held : row.held) {
      SCOPED_TRACE(base::WideToUTF8(held.unpacked));
      const base::FilePath file = target.Append(held.unpacked);
      const test_support::ReplacementAttempt attempt =
          test_support::TryToReplaceFile(file.value(), replacement.value());
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), attempt.overwrite_error);
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), attempt.rename_error);
      EXPECT_TRUE(ReadBytes(DataPath(L"archives\\" + held.reference)) == ReadBytes(file)) << "changed";
    }
    for (const std::wstring& unpacked : row.not_held) {
      EXPECT_EQ(0u, test_support::TryToReplaceFile(target.Append(unpacked).value(), replacement.value())
                        .overwrite_error)
          << base::WideToUTF8(unpacked);
    }
    files.clear();
    for (const Held& held : row.held) {
      EXPECT_EQ(0u, test_support::TryToReplaceFile(target.Append(held.unpacked).value(), replacement.value())
                        .overwrite_error)
          << "let go: " << base::WideToUTF8(held.unpacked);
    }
  }

  const base::FilePath target = FreshOutputFolder(L"hold\\changed");
  LzmaUtil::SetWriteFileForTesting(&WriteFirstByteFlipped);
  std::vector<base::File> files;
  ScopedLogCapture log;
  const DWORD result = UnpackHolding(L"ordered.7z", target, {L"second.txt"}, &files);
  LzmaUtil::SetWriteFileForTesting(nullptr);
  EXPECT_EQ(LzmaUtil::kChangedFile, result);
  EXPECT_TRUE(files.empty());
  EXPECT_TRUE(log.HasLineStartingWith("The unpacked " + target.Append(L"second.txt").AsUTF8() +
                                          " changed before it was held",
                                      logging::LOG_ERROR))
      << log.Text();
}

TEST(LzmaUtilTest, UnpackingNeedsAnOpenArchive) {
  const base::FilePath target = FreshOutputFolder(L"no_archive");
  LzmaUtil unpacker;
  EXPECT_EQ(LzmaUtil::kUnpackFailed, unpacker.UnPack(target));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), unpacker.OpenArchive(DataPath(L"archives\\missing.7z")));
  EXPECT_EQ(LzmaUtil::kUnpackFailed, unpacker.UnPack(target));
  EXPECT_TRUE(ListFolder(target).empty());
}

TEST(LzmaUtilTest, StreamCallbacksOverAFileHandle) {
  const base::FilePath path = FreshOutputFolder(L"stream").Append(L"ten.bin");
  ASSERT_TRUE(test_support::WriteFileBytes(path.value(), "0123456789"));
  test_support::ScopedTestHandle file(CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid());
  LzmaFileStream stream(file.get());
  struct {
    Int64 position;
    int origin;
    SRes result;
    Int64 new_position;
    size_t read;  // bytes asked for after the seek
    const char* bytes;
  } const kSteps[] = {
      {4, SZ_SEEK_SET, SZ_OK, 4, 3, "456"},
      {-2, SZ_SEEK_CUR, SZ_OK, 5, 2, "56"},
      {-3, SZ_SEEK_END, SZ_OK, 7, 100, "789"},  // fewer bytes only at the end
      {0, SZ_SEEK_END, SZ_OK, 10, 5, ""},
      {0, 3, SZ_ERROR_PARAM, 0, 0, ""},
      {-20, SZ_SEEK_SET, SZ_ERROR_FAIL, -20, 0, ""},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(testing::Message() << step.position << " from " << step.origin);
    Int64 position = step.position;
    EXPECT_EQ(step.result, LzmaFileSeek(&stream.vt, &position, static_cast<ESzSeek>(step.origin)));
    EXPECT_EQ(step.new_position, position);
    std::string buffer(step.read, '\0');
    size_t size = step.read;
    EXPECT_EQ(SZ_OK, LzmaFileRead(&stream.vt, buffer.data(), &size));
    EXPECT_EQ(step.bytes, buffer.substr(0, size));
  }
}

// Entry names that would leave the unpack folder: "..", a root, a drive, a server, a device. Each archive was made by
// 7-Zip with a placeholder name that the setup patched (with the header's CRCs recomputed).
TEST(LzmaUtilTest, EntriesLeadingOutsideTheFolderAreRefused) {
  const base::FilePath out = FreshOutputFolder(L"escape");
  const std::vector<std::vector<std::string>> cases = package_test::ReadTable(L"archives\\escapes.txt", '\t');
  std::vector<std::wstring> case_names;
  for (const auto& row : cases) {
    SCOPED_TRACE(row[0] + ": " + row[1]);
    ASSERT_EQ(3u, row.size());
    case_names.push_back(base::UTF8ToWide(row[0]));
    const base::FilePath target = out.Append(case_names.back());
    ScopedLogCapture log;
    EXPECT_EQ(LzmaUtil::kUnpackFailed,
              Unpack(DataPath(L"archives\\escape_" + base::UTF8ToWide(row[0]) + L".7z"), target, nullptr));
    std::string logged_name = row[1];
    std::replace(logged_name.begin(), logged_name.end(), '/', '\\');
    EXPECT_TRUE(log.HasLineStartingWith("Refusing archive entry outside the unpack folder: " + logged_name,
                                        logging::LOG_ERROR))
        << log.Text();
    if (row[2] != "-") {
      EXPECT_FALSE(Exists(base::FilePath(base::UTF8ToWide(row[2]))));
    }
    EXPECT_TRUE(ListFolder(target).empty()) << "not even the temporary file is left";
  }
  EXPECT_EQ(11u, case_names.size());
  for (const std::wstring& name : ListFolder(out))
    EXPECT_NE(case_names.end(), std::find(case_names.begin(), case_names.end(), name)) << "left beside the targets";
}

BOOL WINAPI WriteHalf(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  return WriteFile(file, data, size / 2, written, overlapped);
}

TEST(LzmaUtilTest, AShortWriteIsAFailure) {
  const base::FilePath target = FreshOutputFolder(L"short_write");
  LzmaUtil::SetWriteFileForTesting(&WriteHalf);
  ScopedLogCapture log;
  const DWORD result = Unpack(DataPath(L"archives\\ordered.7z"), target, nullptr);
  LzmaUtil::SetWriteFileForTesting(nullptr);
  EXPECT_NE(0u, result);
  EXPECT_NE(LzmaUtil::kUnpackFailed, result) << "the result is a Windows error";
  EXPECT_TRUE(log.HasLineStartingWith("Error returned by WriteFile: " + std::to_string(result), logging::LOG_ERROR))
      << log.Text();
}

TEST(LzmaUtilTest, EachFolderIsCreatedOnce) {
  const base::FilePath folder = FreshOutputFolder(L"create_once").Append(L"a").Append(L"b");
  LzmaUtil unpacker;
  EXPECT_TRUE(unpacker.CreateFolder(folder));
  EXPECT_TRUE(Exists(folder));
  ASSERT_TRUE(RemoveDirectoryW(folder.value().c_str()));
  // Remembered: the second request does not touch the disk.
  EXPECT_TRUE(unpacker.CreateFolder(folder));
  EXPECT_FALSE(Exists(folder));
  // A new archive starts a new unpacking.
  unpacker.CloseArchive();
  EXPECT_TRUE(unpacker.CreateFolder(folder));
  EXPECT_TRUE(Exists(folder));
}

// What kind of memory a buffer is: a view of a file (MEM_MAPPED) or the heap's (MEM_PRIVATE).
DWORD MemoryType(const void* address) {
  MEMORY_BASIC_INFORMATION info = {};
  VirtualQuery(address, &info, sizeof(info));
  return info.Type;
}

TEST(LzmaUtilTest, AllocatorMapsOneBufferAtATimeAndLeavesNoFile) {
  const base::FilePath folder = FreshOutputFolder(L"allocator");
  {
    TempFileMappingAllocator allocator(folder);
    ASSERT_TRUE(allocator.has_temp_file());
    EXPECT_EQ(folder, allocator.temp_file_path().DirName());
    EXPECT_EQ(nullptr, allocator.Alloc(0));

    char* block = static_cast<char*>(allocator.Alloc(1 << 20));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(static_cast<DWORD>(MEM_MAPPED), MemoryType(block));
    block[0] = 'a';
    block[(1 << 20) - 1] = 'z';
    // A second buffer while the first is mapped comes from the heap, and freeing it leaves the view alone.
    char* other = static_cast<char*>(allocator.Alloc(4096));
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(static_cast<DWORD>(MEM_PRIVATE), MemoryType(other));
    ISzAlloc_Free(allocator.sdk_allocator(), other);
    EXPECT_EQ('a', block[0]);
    EXPECT_EQ('z', block[(1 << 20) - 1]);
    allocator.Free(block);
    EXPECT_EQ(0u, MemoryType(block) & MEM_MAPPED) << "unmapped";

    void* again = ISzAlloc_Alloc(allocator.sdk_allocator(), 3 << 20);
    EXPECT_EQ(static_cast<DWORD>(MEM_MAPPED), MemoryType(again));
    EXPECT_EQ(1u, ListFolder(folder).size()) << "the temporary file lives while the allocator does";
    // The destructor unmaps what is still held.
  }
  EXPECT_TRUE(ListFolder(folder).empty());

  // Without a folder to put the file in, the heap serves.
  TempFileMappingAllocator heap_only(folder.Append(L"missing"));
  EXPECT_FALSE(heap_only.has_temp_file());
  void* block = ISzAlloc_Alloc(heap_only.sdk_allocator(), 1 << 20);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(static_cast<DWORD>(MEM_PRIVATE), MemoryType(block));
  ISzAlloc_Free(heap_only.sdk_allocator(), block);
  EXPECT_TRUE(ListFolder(folder).empty());
}

// A large view has its pages faulted in by a second thread while the decoder writes: no store of the writer may
// be undone, whichever of the two reaches a page first, and a view freed at once stops that thread before it is
// unmapped.
TEST(LzmaUtilTest, LargeViewKeepsEveryStoreAndFreesAtOnce) {
  const base::FilePath folder = FreshOutputFolder(L"large_view");
  constexpr size_t kSize = 64 << 20;
  constexpr size_t kPage = 4096;
  {
    TempFileMappingAllocator allocator(folder);
    ASSERT_TRUE(allocator.has_temp_file());
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(round);
      auto* block = static_cast<volatile uint32_t*>(allocator.Alloc(kSize));
      ASSERT_NE(nullptr, block);
      EXPECT_EQ(static_cast<DWORD>(MEM_MAPPED), MemoryType(const_cast<uint32_t*>(block)));
      // The first word of each page is the one the other thread touches; the writer goes from both ends.
      constexpr size_t kWordsPerPage = kPage / sizeof(uint32_t);
      constexpr size_t kPages = kSize / kPage;
      for (size_t page = 0; page < kPages / 2; ++page) {
        block[page * kWordsPerPage] = static_cast<uint32_t>(page * 2654435761u + round + 1);
        const size_t back = kPages - 1 - page;
        block[back * kWordsPerPage] = static_cast<uint32_t>(back * 2654435761u + round + 1);
      }
      size_t lost = 0;
      for (size_t page = 0; page < kPages; ++page)
        lost += block[page * kWordsPerPage] != static_cast<uint32_t>(page * 2654435761u + round + 1);
      EXPECT_EQ(0u, lost);
      allocator.Free(const_cast<uint32_t*>(block));
    }
    // Freed right after it was made, while the pages are still being faulted in.
    for (int round = 0; round < 10; ++round)
      allocator.Free(allocator.Alloc(kSize));
  }
  EXPECT_TRUE(ListFolder(folder).empty());
}

}  // namespace
}  // namespace zorvi::installer
