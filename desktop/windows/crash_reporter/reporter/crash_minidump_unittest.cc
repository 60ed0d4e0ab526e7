#include "desktop/windows/crash_reporter/reporter/crash_minidump.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "base/strings/string_number_conversions.h"
#include "desktop/common/product/product_info.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"
#include "desktop/windows/crash_reporter/fake_dump_library_test_util.h"
#include "desktop/windows/crash_reporter/reporter/crash_dump_server_test_util.h"

namespace zorvi {
namespace installer {
namespace {

using Answer = FakeDumpLibraries::DumpAnswer;

constexpr DWORD kInvalidArgument = 0x80070057;
constexpr size_t kTooLarge = 3500000, kFits = 1000;

std::string VersionText() {
  return GetFullVersionString() + " " + std::to_string(GetBuildNumber());
}

// The dump kinds tried in turn and what is left on disk, for scripted answers of the dump function; the crash
// facts come from this process, read as a crashed client's are.
TEST(CrashMinidumpTest, DumpsThatDoNotFitAreCutAndTriedSmallerThenDropped) {
  const std::wstring folder = FreshRecordFolder(test_support::UniqueName(L"minidump"));
  const CapturedException crash(EXCEPTION_ACCESS_VIOLATION);
  CrashInformationRecord record = {};
  record.thread_id = GetCurrentThreadId();
  record.exception_pointers = AddressOf(&crash.pointers);
  wcscpy(record.assertion.expression, L"index < count");
  record.assertion.line = 99;

  const struct {
    const char* name;
    uint32_t assertion_type;
    std::vector<Answer> answers;
    bool self_dump;            // through the crashed reporter's record instead of the client's addresses
    const void* thread_field;  // where the client keeps its thread id
    bool written;
    std::vector<MINIDUMP_TYPE> tried;
    uint64_t size;
  } kCases[] = {
      {"fits at once", kInvalidParameterAssertion, {{true, 0, kFits}}, false, &record.thread_id, true,
       {MiniDumpWithIndirectlyReferencedMemory}, kFits},
      {"too large, then fits", kPureCallAssertion, {{true, 0, kTooLarge}, {true, 0, kFits}}, false,
       &record.thread_id, true, {MiniDumpWithIndirectlyReferencedMemory, MiniDumpNormal}, kFits},
      {"too large twice", kNoAssertion, {{true, 0, kTooLarge}, {true, 0, kTooLarge}}, false, &record.thread_id,
       false, {MiniDumpWithIndirectlyReferencedMemory, MiniDumpNormal}, 0},
      {"invalid argument, then too large", kInvalidParameterAssertion,
       {{false, kInvalidArgument, 0}, {true, 0, kTooLarge}}, false, &record.thread_id, false,
       {MiniDumpWithIndirectlyReferencedMemory, MiniDumpNormal}, 0},
      {"invalid argument, then fits", kNoAssertion, {{false, kInvalidArgument, 0}, {true, 0, kFits}}, true,
       &record.thread_id, true, {MiniDumpWithIndirectlyReferencedMemory, MiniDumpNormal}, kFits},
      {"other failure", kInvalidParameterAssertion, {{false, ERROR_ACCESS_DENIED, 0}}, true, &record.thread_id,
       false, {MiniDumpWithIndirectlyReferencedMemory}, 0},
      {"unreadable thread id", kNoAssertion, {}, false, kUnmappedAddress, false, {}, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    record.assertion.type = c.assertion_type;
    FakeDumpLibraries libraries;
    libraries.set_dump_answers(c.answers);
    const std::wstring path = folder + L"\\" + test_support::UniqueName(L"dump") + L".dmp";
    const bool written =
        c.self_dump ? WriteSelfMinidump(GetCurrentProcessId(), AddressOf(&record), base::FilePath(path),
                                        kClientMinidumpSizeLimit)
                    : WriteClientMinidump(GetCurrentProcessId(), AddressOf(c.thread_field),
                                          AddressOf(&record.exception_pointers), AddressOf(&record.assertion),
                                          base::FilePath(path), kClientMinidumpSizeLimit);
    EXPECT_EQ(c.written, written);
    EXPECT_EQ(0, libraries.libraries_held());
    std::string contents;
    EXPECT_EQ(c.written, test_support::ReadFileBytes(path, &contents)) << "no file unless a dump fits";
    EXPECT_EQ(c.size, contents.size()) << "each attempt starts from an empty file";

    const auto calls = libraries.dump_calls();
    ASSERT_EQ(c.tried.size(), calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "attempt " << i);
      EXPECT_EQ(c.tried[i], calls[i].type);
      EXPECT_TRUE(calls[i].has_exception);
      EXPECT_EQ(record.thread_id, calls[i].thread_id);
      EXPECT_EQ(record.exception_pointers, calls[i].exception_pointers);
      EXPECT_TRUE(calls[i].client_pointers);
      ASSERT_EQ(c.assertion_type == kInvalidParameterAssertion ? 2u : 1u, calls[i].streams.size());
      EXPECT_EQ(kVersionStreamType, calls[i].streams[0].first);
      EXPECT_EQ(VersionText(), calls[i].streams[0].second) << "no terminator";
      if (calls[i].streams.size() == 2) {
        EXPECT_EQ(kAssertionTextStreamType, calls[i].streams[1].first);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record.assertion), sizeof(record.assertion)),
                  calls[i].streams[1].second);
      }
    }
  }
}

uint64_t ReadPointerOf(HANDLE process, uint64_t address) {
  uint64_t value = 0;
  EXPECT_TRUE(ReadClientMemory(process, address, &value, sizeof(value)));
  return value;
}

// A client stopped in its crash, dumped by the system's dump function from the dump server's callback with the
// client limit. The Linux-side check reads the dump with obj2yaml-14 and lldb-14 against expected.txt. (A dump
// that fits no limit is the table above: wine's dump function reads the client's memory through the wine server,
// one request per read, so every real dump of a client costs seconds, and minutes on a loaded machine.)
TEST(CrashMinidumpTest, ACrashedClientIsDumpedWithinItsLimit) {
  const std::wstring folder = FreshRecordFolder(L"client_dump");
  const std::wstring path = folder + L"\\client.dmp";
  RecordingCrashServer server;
  bool written = false;
  uint64_t exception_address = 0;
  long long ms = 0;  // for the record: wine's dumps are slow
  server.set_dump_handler([&](const CrashClientRecord& client, const std::wstring*) {
    const auto start = std::chrono::steady_clock::now();
    written = WriteClientMinidump(client.process_id(), client.thread_id_address(),
                                  client.exception_pointers_address(), client.assertion_address(),
                                  base::FilePath(path), kClientMinidumpSizeLimit);
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    // Where the crash happened, read through the pointers the client published.
    const uint64_t pointers = ReadPointerOf(client.process_handle(), client.exception_pointers_address());
    const uint64_t exception_record = ReadPointerOf(client.process_handle(), pointers);
    exception_address =
        ReadPointerOf(client.process_handle(), exception_record + offsetof(EXCEPTION_RECORD, ExceptionAddress));
  });
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
            RunCrashingClient(L"null-write", server.pipe_name(), folder));
  ASSERT_EQ(1u, server.dump_requests());
  ASSERT_TRUE(written);
  std::string dump;
  ASSERT_TRUE(test_support::ReadFileBytes(path, &dump));
  EXPECT_LE(dump.size(), kClientMinidumpSizeLimit);

  const auto client = ReadRecordFields(folder, L"client.txt");
  const uint64_t function = std::stoull(client.at("function"), nullptr, 16);
  EXPECT_GE(exception_address, function);
  EXPECT_LT(exception_address, function + 32) << "the write inside the crashing function";
  const std::string version = VersionText();
  ASSERT_TRUE(test_support::WriteFileBytes(
      folder + L"\\expected.txt", "thread=" + client.at("thread") + "\naddress=" + std::to_string(exception_address) +
                                      "\nversion=" + base::HexEncode(version.data(), version.size()) + "\nsize=" + std::to_string(dump.size()) +
                                      "\nms=" + std::to_string(ms) + "\n"));
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
