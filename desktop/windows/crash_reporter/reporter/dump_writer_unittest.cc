#include "desktop/windows/crash_reporter/reporter/dump_writer.h"

#include <windows.h>
#include <avrfsdk.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "desktop/windows/crash_reporter/reporter/crash_dump_server_test_util.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"
#include "desktop/windows/crash_reporter/fake_dump_library_test_util.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"

namespace zorvi {
namespace installer {
namespace {

using Verifier = FakeDumpLibraries::Verifier;

constexpr DWORD kInvalidHandleCode = EXCEPTION_INVALID_HANDLE;
constexpr uint32_t kHandleTraceStream = 18;
constexpr size_t kHandleTraceHeaderSize = 16, kHandleTraceRecordSize = 288;

// The stream of that type in a recorded call, or null.
const std::string* FindStream(const FakeDumpLibraries::DumpCall& call, uint32_t type) {
  for (const auto& stream : call.streams) {
    if (stream.first == type)
      return &stream.second;
  }
  return nullptr;
}

std::string Bytes(const void* data, size_t size) {
  return std::string(static_cast<const char*>(data), size);
}

uint64_t FileSize(const std::wstring& path) {
  std::string contents;
  test_support::ReadFileBytes(path, &contents);
  return contents.size();
}

// A handle trace of three handles: 0x20 is the one a bad reference names.
std::vector<AVRF_HANDLE_OPERATION> TraceWithBadReference() {
  using F = FakeDumpLibraries;
  return {F::HandleRecord(0x10, OperationDbOPEN, 3), F::HandleRecord(0x20, OperationDbOPEN, 4),
          F::HandleRecord(0x10, OperationDbCLOSE, 2), F::HandleRecord(0x20, OperationDbBADREF, 5),
          F::HandleRecord(0x30, OperationDbOPEN, 1), F::HandleRecord(0x20, OperationDbCLOSE, 32)};
}

// Without a bad reference, the records kept are those of handle 0.
std::vector<AVRF_HANDLE_OPERATION> TraceWithoutBadReference() {
  using F = FakeDumpLibraries;
  return {F::HandleRecord(0, OperationDbOPEN, 1), F::HandleRecord(0x40, OperationDbOPEN, 2),
          F::HandleRecord(0, OperationDbCLOSE, 3)};
}

TEST(DumpWriterTest, WritesItsStreamsAndRefusesWhatItCannotDump) {
  const std::wstring folder = FreshRecordFolder(test_support::UniqueName(L"writer"));
  const CapturedException access_violation(EXCEPTION_ACCESS_VIOLATION), invalid_handle(kInvalidHandleCode);
  const EXCEPTION_POINTERS& access_violation_pointers = access_violation.pointers;
  const EXCEPTION_POINTERS& invalid_handle_pointers = invalid_handle.pointers;
  CrashAssertionRecord assertion = {};
  wcscpy(assertion.expression, L"handle != nullptr");
  assertion.line = 17;
  assertion.type = kInvalidParameterAssertion;
  const DWORD crashing_thread = 4242, requesting_thread = GetCurrentThreadId();

  const struct {
    const char* name;
    const void* pointers;  // EXCEPTION_POINTERS or, in the dumped process, where they live
    bool client_pointers;
    const void* assertion;
    uint32_t dump_type;
    Verifier verifier;
    std::vector<AVRF_HANDLE_OPERATION> trace;
    bool written;
    std::vector<size_t> kept;  // indices into `trace` of the handle-trace stream's records
    bool trace_stream;
    int enumerations;
  } kCases[] = {
      {"own pointers", &access_violation_pointers, false, &assertion, MiniDumpNormal, Verifier::kMissing, {}, true,
       {}, false, 0},
      {"client pointers", &access_violation_pointers, true, &assertion, MiniDumpWithIndirectlyReferencedMemory,
       Verifier::kMissing, {}, true, {}, false, 0},
      {"no assertion", &access_violation_pointers, true, nullptr, MiniDumpNormal, Verifier::kMissing, {}, true, {},
       false, 0},
      {"full memory", &access_violation_pointers, true, &assertion, MiniDumpWithFullMemory, Verifier::kMissing, {},
       false, {}, false, 0},
      {"unreadable assertion", &access_violation_pointers, true, kUnmappedAddress, MiniDumpNormal,
       Verifier::kMissing, {}, false, {}, false, 0},
      {"unreadable crash", kUnmappedAddress, true, &assertion, MiniDumpNormal, Verifier::kMissing, {}, false, {},
       false, 0},
      {"bad reference", &invalid_handle_pointers, true, &assertion, MiniDumpNormal, Verifier::kRecords,
       TraceWithBadReference(), true, {1, 3, 5}, true, 1},
      {"no bad reference", &invalid_handle_pointers, false, &assertion, MiniDumpNormal, Verifier::kRecords,
       TraceWithoutBadReference(), true, {0, 2}, true, 1},
      {"no verifier", &invalid_handle_pointers, true, &assertion, MiniDumpNormal, Verifier::kMissing, {}, true, {},
       false, 0},
      {"verifier fails", &invalid_handle_pointers, true, &assertion, MiniDumpNormal, Verifier::kFailing,
       TraceWithBadReference(), true, {}, false, 1},
      {"handle data asked", &invalid_handle_pointers, true, &assertion, MiniDumpWithHandleData, Verifier::kRecords,
       TraceWithBadReference(), true, {}, false, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FakeDumpLibraries libraries;
    libraries.set_dump_answers({{true, 0, 64}});
    libraries.set_verifier(c.verifier, c.trace);
    std::wstring path, second_path = L"untouched";
    bool written = false;
    {
      DumpWriter writer(folder, GetCurrentProcess(), GetCurrentProcessId(), crashing_thread, requesting_thread,
                        AddressOf(c.pointers), AddressOf(c.assertion), c.dump_type, c.client_pointers);
      ASSERT_TRUE(writer.CreateDumpFile(&path));
      EXPECT_FALSE(writer.CreateDumpFile(&second_path)) << "one file per writer";
      EXPECT_EQ(L"untouched", second_path);
      written = writer.WriteMinidump();
    }
    EXPECT_EQ(0, libraries.libraries_held()) << "every library is freed";
    EXPECT_EQ(c.written, written);
    // "<folder>\<36 characters of GUID>.dmp", a new file whatever happened.
    ASSERT_EQ(folder.size() + 1 + 36 + 4, path.size());
    EXPECT_EQ(folder + L"\\", path.substr(0, folder.size() + 1));
    EXPECT_EQ(L".dmp", path.substr(path.size() - 4));
    EXPECT_EQ(c.written ? 64u : 0u, FileSize(path));
    EXPECT_EQ(c.enumerations, libraries.enumerations());
    const auto calls = libraries.dump_calls();
    ASSERT_EQ(c.written ? 1u : 0u, calls.size());
    if (!c.written)
      continue;
    const FakeDumpLibraries::DumpCall& call = calls[0];
    EXPECT_EQ(static_cast<MINIDUMP_TYPE>(c.dump_type), call.type);
    EXPECT_EQ(GetCurrentProcessId(), call.process_id);
    EXPECT_FALSE(call.has_callback);
    EXPECT_TRUE(call.has_exception);
    EXPECT_EQ(crashing_thread, call.thread_id);
    EXPECT_EQ(AddressOf(c.pointers), call.exception_pointers);
    EXPECT_EQ(c.client_pointers, call.client_pointers);

    ASSERT_GE(call.streams.size(), 2u);
    EXPECT_EQ(DumpWriter::kInfoStreamType, call.streams[0].first);
    const uint32_t info[3] = {3, static_cast<uint32_t>(requesting_thread), crashing_thread};
    const uint32_t no_info[3] = {};
    EXPECT_EQ(Bytes(c.client_pointers ? no_info : info, sizeof(info)), call.streams[0].second);
    EXPECT_EQ(DumpWriter::kAssertionStreamType, call.streams[1].first);
    const CrashAssertionRecord no_assertion = {};
    EXPECT_EQ(Bytes(c.assertion ? &assertion : &no_assertion, sizeof(assertion)), call.streams[1].second);

    const std::string* trace = FindStream(call, kHandleTraceStream);
    ASSERT_EQ(c.trace_stream, trace != nullptr);
    if (!trace)
      continue;
    ASSERT_EQ(kHandleTraceHeaderSize + kHandleTraceRecordSize * c.kept.size(), trace->size());
    const uint32_t header[4] = {kHandleTraceHeaderSize, kHandleTraceRecordSize,
                                static_cast<uint32_t>(c.kept.size()), 0};
    EXPECT_EQ(Bytes(header, sizeof(header)), trace->substr(0, kHandleTraceHeaderSize));
    for (size_t i = 0; i < c.kept.size(); ++i) {
      EXPECT_EQ(Bytes(&c.trace[c.kept[i]], kHandleTraceRecordSize),
                trace->substr(kHandleTraceHeaderSize + i * kHandleTraceRecordSize, kHandleTraceRecordSize))
          << "record " << i;
    }
  }
}

// A server that writes its clients' dumps itself, for a client that crashed on an invalid handle: the dump
// carries the faulting handle's history. The Linux-side check reads the dump with obj2yaml-14 and Python's
// struct against expected.txt.
TEST(DumpWriterTest, AServerWritingDumpsRecordsTheFaultingHandlesHistory) {
  const std::wstring folder = FreshRecordFolder(L"server_dump");
  FakeDumpLibraries libraries;
  libraries.set_verifier(Verifier::kRecords, TraceWithBadReference());
  RecordingCrashServer server(/*generate_dumps=*/true, folder);
  std::wstring dump_path;
  server.set_dump_handler([&](const CrashClientRecord&, const std::wstring* path) {
    if (path)
      dump_path = *path;
  });
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(static_cast<DWORD>(kInvalidHandleCode), RunCrashingClient(L"invalid-handle", server.pipe_name(), folder));
  ASSERT_EQ(1u, server.dump_requests());
  ASSERT_FALSE(dump_path.empty());
  std::string dump;
  ASSERT_TRUE(test_support::ReadFileBytes(dump_path, &dump));
  EXPECT_EQ("MDMP", dump.substr(0, 4));
  ASSERT_EQ(1u, libraries.dump_calls().size());
  EXPECT_EQ(1, libraries.enumerations());

  const auto client = ReadRecordFields(folder, L"client.txt");
  std::string expected = "dump=" + std::string(dump_path.begin() + folder.size() + 1, dump_path.end()) +
                         "\nthread=" + client.at("thread") + "\nhandles=";
  for (size_t index : {1, 3, 5}) {
    const AVRF_HANDLE_OPERATION record = TraceWithBadReference()[index];
    expected += std::to_string(record.Handle) + ":" + std::to_string(record.OperationType) + ":" +
                std::to_string(record.BackTraceInformation.Depth) + ",";
  }
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\expected.txt", expected + "\n"));
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
