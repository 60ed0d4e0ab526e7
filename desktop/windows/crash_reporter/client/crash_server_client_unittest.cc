#include "desktop/windows/crash_reporter/client/crash_server_client.h"

#include <windows.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/strings/string_number_conversions.h"
#include "desktop/windows/crash_reporter/reporter/crash_dump_server_test_util.h"
#include "desktop/windows/crash_reporter/client/crash_keys.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"

namespace zorvi {
namespace installer {
namespace {

using Clock = std::chrono::steady_clock;

// The access the system granted on a handle, asked of the kernel rather than of the code under test.
ACCESS_MASK GrantedAccess(HANDLE handle) {
  using NtQueryObjectFunction = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<NtQueryObjectFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  PUBLIC_OBJECT_BASIC_INFORMATION info = {};
  if (!query || query(handle, ObjectBasicInformation, &info, sizeof(info), nullptr) != 0)
    return 0;
  return info.GrantedAccess;
}

CrashPipeMessage ReadMessage(const std::wstring& folder, const std::wstring& name) {
  CrashPipeMessage message = {};
  const std::string bytes = ReadRecord(folder, name);
  if (bytes.size() == sizeof(message))
    std::memcpy(&message, bytes.data(), sizeof(message));
  return message;
}

// Ends every test with the real waits, whatever a test shortened.
class CrashServerClientTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CrashServerClient::SetPipeWaitForTesting(2000);
    CrashServerClient::SetDumpWaitForTesting(15000);
  }
};

TEST_F(CrashServerClientTest, RegistersRequestsDumpsAndNoticesTheReporterDying) {
  // The Linux-side check decodes this folder's request with Python's struct against expected.txt.
  const std::wstring folder = FreshRecordFolder(L"registration");
  ScriptedCrashServer server(L"serve", folder);
  ASSERT_TRUE(server.started());
  const CrashCustomClientInfo custom_info = CrashKeys::GetInstance()->custom_client_info();
  CrashServerClient client(server.pipe_name(), 0, &custom_info);
  ASSERT_TRUE(client.Register());
  EXPECT_TRUE(client.Register()) << "a registered client stays registered";
  ASSERT_TRUE(server.WaitForRegistration());
  EXPECT_EQ(GetProcessId(server.process()), client.server_process_id());
  char expected[128];
  snprintf(expected, sizeof(expected), "pid=%lu\ncustom_info=%llu\n", GetCurrentProcessId(),
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(custom_info.entries)));
  test_support::WriteFileBytes(folder + L"\\expected.txt", expected);

  const CrashPipeMessage reply = ReadMessage(folder, L"reply.bin");
  const struct {
    uint64_t handle;
    ACCESS_MASK access;
  } kHandedOver[] = {{reply.dump_request_event, EVENT_MODIFY_STATE},
                     {reply.dump_done_event, SYNCHRONIZE | EVENT_MODIFY_STATE},
                     {reply.server_alive_mutex, SYNCHRONIZE}};
  for (const auto& object : kHandedOver) {
    EXPECT_EQ(object.access, GrantedAccess(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(object.handle))))
        << "handle " << object.handle;
  }
  EXPECT_EQ(kCrashRegistrationAck, ReadMessage(folder, L"ack.bin").tag);

  // Two requests, the second without a record: the reporter must see a zeroed record, not the first one.
  CapturedException crash(EXCEPTION_ACCESS_VIOLATION);
  EXCEPTION_POINTERS& pointers = crash.pointers;
  CrashAssertionRecord assertion = {};
  wcscpy(assertion.expression, L"index < size");
  assertion.line = 77;
  assertion.type = kInvalidParameterAssertion;
  ASSERT_TRUE(client.RequestDump(&pointers, &assertion));
  ASSERT_TRUE(client.RequestDump(&pointers, nullptr));
  for (int number : {1, 2}) {
    const auto crash = ReadRecordFields(folder, L"crash" + std::to_wstring(number) + L".txt");
    EXPECT_EQ(std::to_string(GetCurrentThreadId()), crash.at("thread"));
    EXPECT_EQ("c0000005", crash.at("code"));
    const std::string bytes = ReadRecord(folder, L"assertion" + std::to_wstring(number) + L".bin");
    ASSERT_EQ(sizeof(assertion), bytes.size());
    const CrashAssertionRecord zeroed = {};
    EXPECT_EQ(0, std::memcmp(bytes.data(), number == 1 ? &assertion : &zeroed, sizeof(assertion)))
        << "request " << number;
  }

  // A reporter that dies abandons its mutex: the request fails at once, long before the 15 s limit.
  server.Kill();
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(client.RequestDump(&pointers, nullptr));
  EXPECT_LT(MillisecondsSince(start), 1000);
}

// A malformed reply may still carry handles the server placed in this process: they are closed again. Numbers
// that are no handles are left alone.
TEST_F(CrashServerClientTest, MalformedRepliesAreRefusedWithoutAcknowledgementOrHandles) {
  const struct {
    const wchar_t* mode;
    int placed;  // handles the scripted server duplicates into this process
  } kCases[] = {{L"bad-tag", 0}, {L"zero-pid", 3}, {L"zero-handle", 2}, {L"made-up", 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.mode);
    const std::wstring folder = FreshRecordFolder(test_support::UniqueName(c.mode));
    ScriptedCrashServer server(c.mode, folder);
    ASSERT_TRUE(server.started());
    CrashServerClient client(server.pipe_name(), 0, nullptr);
    const int handles_before = test_support::CountOpenHandles();
    EXPECT_FALSE(client.Register());
    EXPECT_EQ(handles_before, test_support::CountOpenHandles())
        << "the pipe is closed and nothing of the reply is kept";
    ASSERT_TRUE(server.WaitForRegistration());
    EXPECT_FALSE(ReadRecord(folder, L"no_ack.txt").empty()) << "the server got an acknowledgement";
    EXPECT_EQ(kCrashRegistrationRequest, ReadMessage(folder, L"request.bin").tag);
    // The count above covers the reply's handles only if they were really placed here.
    EXPECT_EQ(std::to_string(c.placed), ReadRecord(folder, L"placed.txt"));

    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(client.RequestDump(nullptr, nullptr));
    EXPECT_LT(MillisecondsSince(start), 1000) << "an unregistered client fails at once";
  }
}

TEST_F(CrashServerClientTest, ABusyPipeIsWaitedForOnceThenGivenUp) {
  // The first row keeps the real wait for the pipe.
  for (DWORD wait_ms : {2000u, 50u}) {
    SCOPED_TRACE(testing::Message() << wait_ms << " ms");
    CrashServerClient::SetPipeWaitForTesting(wait_ms);
    const std::wstring name = std::wstring(kCrashPipeNamePrefix) + test_support::UniqueName(L"Busy");
    test_support::ScopedTestHandle pipe(CreateCrashServerPipe(name, nullptr));
    ASSERT_TRUE(pipe.valid());
    // Another client holds the only instance.
    test_support::ScopedTestHandle other(
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(other.valid());
    CrashServerClient client(name, 0, nullptr);
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(client.Register());
    EXPECT_GE(MillisecondsSince(start), static_cast<long long>(wait_ms) - 20) << "the busy pipe was waited for";
  }
}

TEST_F(CrashServerClientTest, ASlowReporterFailsTheRequestAtTheLimit) {
  const std::wstring folder = FreshRecordFolder(test_support::UniqueName(L"slow"));
  ScriptedCrashServer server(L"silent", folder);
  ASSERT_TRUE(server.started());
  CrashServerClient client(server.pipe_name(), 0, nullptr);
  ASSERT_TRUE(client.Register());
  constexpr DWORD kLimitMs = 150;
  CrashServerClient::SetDumpWaitForTesting(kLimitMs);
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(client.RequestDump(nullptr, nullptr));
  EXPECT_GE(MillisecondsSince(start), static_cast<long long>(kLimitMs) - 20);
}

TEST_F(CrashServerClientTest, GuidTextIsWrittenForPythonToCompare) {
  // Python's uuid reads the same bytes in the Linux-side check; here only the shape is checked.
  GUID guids[5] = {};
  std::memset(&guids[1], 0xFF, sizeof(GUID));
  guids[2] = {0x01234567, 0x89AB, 0xCDEF, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};
  UuidCreate(&guids[3]);
  UuidCreate(&guids[4]);
  std::string lines;
  for (const GUID& guid : guids) {
    const std::wstring text = GuidToString(guid);
    ASSERT_EQ(36u, text.size());
    EXPECT_EQ(std::wstring::npos, text.find_first_not_of(L"0123456789abcdef-")) << "lower-case hexadecimal";
    lines += base::HexEncode(&guid, sizeof(guid)) + ' ';
    lines.append(text.begin(), text.end());
    lines += '\n';
  }
  const std::wstring folder = FreshRecordFolder(L"guids");
  ASSERT_TRUE(test_support::WriteFileBytes(folder + L"\\guids.txt", lines));
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
