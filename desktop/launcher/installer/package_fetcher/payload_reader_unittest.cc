#include "desktop/launcher/installer/package_fetcher/payload_reader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/package_fetcher/package_test_util.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using package_test::DataPath;
using package_test::Exists;
using package_test::ReadBytes;
using test_support::ScopedLogCapture;

// Where the block must end, as pefile and the file's length tell.
enum class BlockEnd { kNone, kFileEnd, kCertificateTable };

struct PayloadCase {
  const char* name;
  bool read;
  bool full_package;
  bool corrupted;
  BlockEnd block_end;
  const char* logged;  // a message the read must log (at the given severity), or null
  int severity;
};

constexpr int kVerbose = -1;
constexpr int kWarning = logging::LOG_WARNING;
constexpr int kError = logging::LOG_ERROR;

// The files are made by testdata_setup.sh; cases.txt holds pefile's Security offset and size of each.
const PayloadCase kPayloadCases[] = {
    {"unsigned_full", true, true, false, BlockEnd::kFileEnd, nullptr, 0},
    {"unsigned_tracking", true, false, false, BlockEnd::kFileEnd, nullptr, 0},
    {"unsigned_empty_payload", true, false, false, BlockEnd::kFileEnd, nullptr, 0},
    {"unsigned_short_7z", true, false, false, BlockEnd::kFileEnd, nullptr, 0},
    {"override_over_100", true, false, false, BlockEnd::kFileEnd, nullptr, 0},
    {"security_at_end", true, false, false, BlockEnd::kFileEnd, nullptr, 0},
    {"signed_full_before_table", true, true, false, BlockEnd::kCertificateTable, nullptr, 0},
    {"signed_tracking_before_table", true, false, false, BlockEnd::kCertificateTable, nullptr, 0},
    {"signed_tracking_after_table", true, false, false, BlockEnd::kFileEnd, nullptr, 0},
    {"signed_full_after_table", false, false, false, BlockEnd::kFileEnd,
     "Found full package that is not covered by the signature", kError},
    {"unsigned_none", false, false, false, BlockEnd::kNone, "No valid payload found", kWarning},
    {"length_past_start", false, false, false, BlockEnd::kNone, "Could not find a valid starting position", kVerbose},
    {"length_fffffff0", false, false, false, BlockEnd::kNone, "Could not find a valid starting position", kVerbose},
    {"length_fffffffe", false, false, false, BlockEnd::kNone, "Could not find a valid starting position", kVerbose},
    {"marker_zrw", false, false, false, BlockEnd::kNone, "Payload data invalid", kVerbose},
    {"security_past_end", false, false, true, BlockEnd::kNone,
     "Security directory is located past the image file length", kError},
    {"security_below_4", false, false, false, BlockEnd::kNone, "No valid payload found", kWarning},
    {"ten_bytes", false, false, false, BlockEnd::kNone, "No valid payload found", kWarning},
    {"three_bytes", false, false, false, BlockEnd::kNone, "No valid payload found", kWarning},
    {"pe_offset_past_end", false, false, false, BlockEnd::kNone, "No valid payload found", kWarning},
    {"pe_header_past_end", false, false, false, BlockEnd::kNone, "No valid payload found", kWarning},
    // Signed after the block without aligning it first: the signing tool's padding keeps the block from
    // ending at the table, and nothing is found.
    {"signed_unaligned_block", false, false, false, BlockEnd::kNone, "No valid payload found", kWarning},
};

struct PefileFacts {
  std::string security_offset;  // "-" for a file pefile cannot read
  std::string security_size;
  uint64_t length = 0;
};

std::map<std::string, PefileFacts> ReadPefileFacts() {
  std::map<std::string, PefileFacts> facts;
  for (const auto& row : package_test::ReadTable(L"payload\\cases.txt", ' ')) {
    if (row.size() == 4)
      facts[row[0]] = {row[1], row[2], std::strtoull(row[3].c_str(), nullptr, 10)};
  }
  return facts;
}

// Every case of the table, read, handed out and written; testdata_check.sh compares what was written with
// the payload files (cmp) and tests the written packages with 7-Zip.
TEST(PayloadReaderTest, PayloadMatrix) {
  const std::map<std::string, PefileFacts> facts = ReadPefileFacts();
  ASSERT_EQ(std::size(kPayloadCases), facts.size()) << "every case the setup made is in the table";
  const base::FilePath written = package_test::FreshOutputFolder(L"payload");
  std::string written_list;  // the files testdata_check.sh compares: "name full|tracking"
  for (const PayloadCase& expected : kPayloadCases) {
    SCOPED_TRACE(expected.name);
    const std::wstring name = base::UTF8ToWide(expected.name);
    ASSERT_TRUE(facts.count(expected.name));
    const PefileFacts& file = facts.at(expected.name);
    PayloadReader reader(DataPath(L"payload\\" + name + L".exe"));
    ScopedLogCapture log;
    EXPECT_EQ(expected.read, reader.ReadPayload());
    EXPECT_EQ(expected.read || expected.corrupted, reader.payload_read());
    EXPECT_EQ(expected.full_package, reader.is_full_package());
    EXPECT_EQ(expected.corrupted, reader.is_corrupted());
    if (expected.logged) {
      EXPECT_TRUE(log.HasLineStartingWith(expected.logged, expected.severity)) << log.Text();
    }

    if (expected.block_end != BlockEnd::kNone) {
      const uint64_t end = expected.block_end == BlockEnd::kFileEnd
                               ? file.length
                               : std::strtoull(file.security_offset.c_str(), nullptr, 10);
      EXPECT_EQ(end, reader.payload_offset() + reader.payload_length() + 4) << "the block ends where pefile says";
      if (expected.block_end == BlockEnd::kCertificateTable) {
        EXPECT_NE("0", file.security_size) << "the file is signed";
      }
    }
    const std::string payload_file = ReadBytes(DataPath(L"payload\\" + name + L".payload"));
    if (expected.read) {
      EXPECT_TRUE(reader.GetPayload() == payload_file) << "the payload's bytes";
      EXPECT_TRUE(reader.ReadPayload()) << "a second read answers at once";
    } else {
      EXPECT_EQ("", reader.GetPayload());
    }

    const base::FilePath target = written.Append(name + L".written");
    EXPECT_EQ(!expected.corrupted, reader.WritePayloadToFile(target));
    EXPECT_EQ(!expected.corrupted, Exists(target));
    if (!expected.corrupted) {
      EXPECT_TRUE(ReadBytes(target) == reader.GetPayload());
    }
    if (expected.read)
      written_list += std::string(expected.name) + (expected.full_package ? " full\n" : " tracking\n");
  }
  EXPECT_TRUE(test_support::WriteFileBytes(written.Append(L"written.txt").value(), written_list));
}

TEST(PayloadReaderTest, OverrideTextReplacesThePayload) {
  const base::FilePath written = package_test::FreshOutputFolder(L"payload_override");
  struct {
    const wchar_t* file;
    bool read_from_file;
  } const kCases[] = {
      {L"override_over_100", true},   // the file's own trailer says 100 bytes
      {L"unsigned_none", false},      // tracking data from the command line: no block at all
      {L"length_fffffffe", false},    // a length field that points far outside the file
  };
  for (const auto& item : kCases) {
    SCOPED_TRACE(base::WideToUTF8(item.file));
    PayloadReader reader(DataPath(L"payload\\" + std::wstring(item.file) + L".exe"));
    EXPECT_EQ(item.read_from_file, reader.ReadPayload());
    if (!item.read_from_file) {
      // Marked read without text: the bytes of a block that was never found are not handed out.
      reader.set_payload_read(true);
      EXPECT_EQ("", reader.GetPayload());
    }
    reader.set_override_text("abc");
    EXPECT_EQ("abc", reader.GetPayload());
    const base::FilePath target = written.Append(std::wstring(item.file) + L".written");
    EXPECT_TRUE(reader.WritePayloadToFile(target));
    EXPECT_EQ("abc", ReadBytes(target));
  }
}

TEST(PayloadReaderTest, CorruptedFileRefusesEvenOverrideText) {
  PayloadReader reader(DataPath(L"payload\\security_past_end.exe"));
  EXPECT_FALSE(reader.ReadPayload());
  reader.set_override_text("abc");
  EXPECT_EQ("", reader.GetPayload());
  const base::FilePath target = package_test::FreshOutputFolder(L"payload_corrupted").Append(L"refused");
  EXPECT_FALSE(reader.WritePayloadToFile(target));
  EXPECT_FALSE(Exists(target));
}

TEST(PayloadReaderTest, UnreadableFilesGiveNoPayload) {
  const base::FilePath empty = package_test::FreshOutputFolder(L"payload_unreadable").Append(L"empty.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(empty.value(), ""));
  for (const base::FilePath& path : {empty, DataPath(L"payload\\no such file.exe")}) {
    SCOPED_TRACE(base::WideToUTF8(path.value()));
    PayloadReader reader(path);
    ScopedLogCapture log;
    EXPECT_FALSE(reader.ReadPayload());
    EXPECT_TRUE(log.HasLineStartingWith("Could not initialize memory mapped file", kError)) << log.Text();
    EXPECT_FALSE(reader.payload_read() || reader.is_full_package() || reader.is_corrupted());
  }
}

}  // namespace
}  // namespace zorvi::installer
