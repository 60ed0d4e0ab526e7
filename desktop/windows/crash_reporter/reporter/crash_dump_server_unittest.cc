#include "desktop/windows/crash_reporter/reporter/crash_dump_server.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "desktop/windows/crash_reporter/reporter/crash_dump_server_test_util.h"
#include "desktop/windows/crash_reporter/client/crash_keys.h"
#include "desktop/windows/crash_reporter/client/crash_server_client.h"

namespace zorvi {
namespace installer {
namespace {

class CrashDumpServerTest : public ::testing::Test {
 protected:
  void SetUp() override { CrashServerClient::SetPipeWaitForTesting(kHangWaitMs); }
  void TearDown() override {
    CrashServerClient::SetPipeWaitForTesting(2000);
    CrashServerClient::SetDumpWaitForTesting(15000);
    CrashDumpServer::SetDumpRequestTakenHookForTesting(nullptr);
    CrashDumpServer::SetDestructionStartHookForTesting(nullptr);
  }
};

// A registration from this process, which stays registered until the server goes.
bool RegisterHere(RecordingCrashServer* server, std::unique_ptr<CrashServerClient>* client) {
  *client = std::make_unique<CrashServerClient>(server->pipe_name(), 0, nullptr);
  DWORD connected = 0;
  return (*client)->Register() && server->WaitForConnect(&connected) && connected == GetCurrentProcessId();
}

// Whatever a connection does wrong, the server goes back to accepting: the good registration after each one
// works, and only good registrations are reported.
TEST_F(CrashDumpServerTest, BrokenAndMalformedConnectionsReturnToAccepting) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  const struct {
    const wchar_t* mode;
    std::wstring argument;
    size_t uploads;
  } kCases[] = {
      {L"close", L"", 0},
      {L"short", L"", 0},  // 40 bytes
      {L"upload", L"", 1},
      {L"zero-thread", L"", 0},
      // Names this test process, which the server would otherwise open with full access for a child.
      {L"forged", std::to_wstring(GetCurrentProcessId()), 0},
  };
  std::vector<std::unique_ptr<CrashServerClient>> clients;
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.mode);
    const size_t uploads_before = server.uploads().size();
    EXPECT_EQ(0u, RunPipeClient(c.mode, server.pipe_name(), c.argument)) << "reply bytes the client received";
    clients.emplace_back();
    ASSERT_TRUE(RegisterHere(&server, &clients.back()));
    // The registration was served after the broken connection had been dealt with in full.
    const std::vector<DWORD> uploads = server.uploads();
    ASSERT_EQ(uploads_before + c.uploads, uploads.size());
    if (c.uploads) {
      EXPECT_NE(GetCurrentProcessId(), uploads.back()) << "the child named itself";
    }
  }
  EXPECT_EQ(std::vector<DWORD>(std::size(kCases), GetCurrentProcessId()), server.connected());
}

// Holds the server's first pipe step until a client has come and gone.
HANDLE g_first_step_release = nullptr;

void HoldTheFirstStep(int state) {
  if (state == CrashDumpServer::kInitial && g_first_step_release)
    WaitForSingleObject(std::exchange(g_first_step_release, nullptr), kHangWaitMs);
}

// A new pipe takes a connection before the server first waits for one: a client that hangs up in between leaves
// the pipe closing, not broken, and the server goes on accepting.
TEST_F(CrashDumpServerTest, AClientGoneBeforeTheFirstStepLeavesThePipeInService) {
  base::win::ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_first_step_release = release.Get();
  CrashDumpServer::SetPipeStepHookForTesting(&HoldTheFirstStep);
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(0u, RunPipeClient(L"close", server.pipe_name(), L"")) << "reply bytes the client received";
  SetEvent(release.Get());
  std::unique_ptr<CrashServerClient> client;
  EXPECT_TRUE(RegisterHere(&server, &client));
  EXPECT_EQ(std::vector<DWORD>{GetCurrentProcessId()}, server.connected());
  server.Destroy();
  CrashDumpServer::SetPipeStepHookForTesting(nullptr);
}

// The server copies a client's table at each dump request and appends the client's up-time; a client
// announcing more than the limit is served without a copy.
TEST_F(CrashDumpServerTest, DumpRequestsCopyTheClientsTableWithItsUpTime) {
  const CrashKeys own_keys;  // a child's table holds the same build facts
  const struct {
    const wchar_t* count;
    size_t entries;  // what the server hands its owner
  } kCases[] = {{L"keys", CrashKeys::kEntryCount + 1}, {L"0", 1}, {L"5000", 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.count);
    RecordingCrashServer server;
    ASSERT_TRUE(server.Start());
    std::vector<CrashCustomInfoEntry> seen;
    bool had_copy = false;
    uint64_t up_time_after = 0;
    server.set_dump_handler([&](const CrashClientRecord& client, const std::wstring* dump_path) {
      EXPECT_EQ(nullptr, dump_path) << "this server writes no dumps";
      up_time_after = MillisecondsSinceCreation(client.process_handle());
      const CrashCustomClientInfo info = client.GetCustomInfo();
      had_copy = info.entries != nullptr;
      seen.assign(info.entries, info.entries + info.count);
    });
    std::string output;
    EXPECT_EQ(0u, RunPipeClient(L"request", server.pipe_name(), c.count, &output)) << output;
    EXPECT_EQ(1u, server.dump_requests());
    ASSERT_EQ(c.entries, seen.size());
    EXPECT_EQ(c.entries > 0, had_copy);
    if (seen.empty())
      continue;
    const CrashCustomInfoEntry& last = seen.back();
    EXPECT_STREQ(L"ptime", last.name);
    const uint64_t before = std::stoull(output.substr(output.find("before=") + 7));
    const uint64_t ptime = std::stoull(last.value);
    EXPECT_EQ(std::to_wstring(ptime), last.value) << "decimal";
    EXPECT_LE(before, ptime);
    EXPECT_LE(ptime, up_time_after);
    for (size_t i = 0; i + 1 < seen.size(); ++i) {
      EXPECT_STREQ(own_keys.entries()[i].name, seen[i].name) << i;
      EXPECT_STREQ(own_keys.entries()[i].value, seen[i].value) << i;
    }
  }
}

TEST_F(CrashDumpServerTest, ClientsThatComeAndGoLeaveNoHandlesBehind) {
  constexpr int kChildren = 4, kRegistrationsEach = 50;
  {
    // The system's thread pool keeps threads (and handles) once it has made them: let it make them first.
    RecordingCrashServer warm_up;
    ASSERT_TRUE(warm_up.Start());
    ASSERT_EQ(0u, RunPipeClient(L"register-many", warm_up.pipe_name(), std::to_wstring(kRegistrationsEach)));
    ASSERT_TRUE(warm_up.WaitForExits(kRegistrationsEach));
  }
  const int handles_before = test_support::CountOpenHandles();
  ASSERT_GT(handles_before, 0);
  {
    RecordingCrashServer server;
    ASSERT_TRUE(server.Start());
    for (int child = 0; child < kChildren; ++child)
      ASSERT_EQ(0u, RunPipeClient(L"register-many", server.pipe_name(), std::to_wstring(kRegistrationsEach)));
    ASSERT_TRUE(server.WaitForExits(kChildren * kRegistrationsEach));
    EXPECT_EQ(static_cast<size_t>(kChildren * kRegistrationsEach), server.connected().size());
  }
  EXPECT_EQ(handles_before, test_support::CountOpenHandles());
}

// Holds a client's exit step after it destroyed the record, where it still uses the server.
struct ExitStepHold {
  base::win::ScopedHandle entered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  base::win::ScopedHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<bool> ended{false};
};
ExitStepHold* g_exit_step_hold = nullptr;

void HoldExitStep() {
  SetEvent(g_exit_step_hold->entered.Get());
  WaitForSingleObject(g_exit_step_hold->release.Get(), INFINITE);
  g_exit_step_hold->ended = true;
}

// A client that exits just before the server goes: the server's destruction waits for the client's exit step,
// which goes on using the server after the record is gone.
TEST_F(CrashDumpServerTest, DestructionWaitsForTheExitStepsOfItsClients) {
  ExitStepHold hold;
  g_exit_step_hold = &hold;
  CrashDumpServer::SetExitStepEndHookForTesting(&HoldExitStep);
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  ASSERT_EQ(0u, RunPipeClient(L"register-many", server.pipe_name(), L"1"));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hold.entered.Get(), kHangWaitMs));

  std::atomic<bool> returned{false}, ended_at_return{false};
  std::thread destroy([&] {
    server.Destroy();
    ended_at_return = hold.ended.load();
    returned = true;
  });
  // The pipe goes early in the destruction, before the wait for the exit steps.
  const ULONGLONG deadline = GetTickCount64() + kHangWaitMs;
  bool pipe_gone = false;
  while (!(pipe_gone = !WaitNamedPipeW(server.pipe_name().c_str(), 1) && GetLastError() == ERROR_FILE_NOT_FOUND) &&
         GetTickCount64() < deadline) {
    SwitchToThread();
  }
  EXPECT_TRUE(pipe_gone);
  EXPECT_FALSE(returned.load());
  SetEvent(hold.release.Get());
  destroy.join();
  CrashDumpServer::SetExitStepEndHookForTesting(nullptr);
  EXPECT_TRUE(ended_at_return.load());
}

// Holds a registration between registering its client's exit wait and storing it until the client has ended,
// and notes whether the client's exit step, which destroys the record, ended meanwhile.
struct RegistrationHold {
  base::win::ScopedHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  bool exit_step_ended = false;
};
RegistrationHold* g_registration_hold = nullptr;

void WaitForTheClientsEnd(HANDLE client_process) {
  g_registration_hold->exit_step_ended = WaitForSingleObject(client_process, kHangWaitMs) == WAIT_OBJECT_0 &&
                                         WaitForSingleObject(g_exit_step_hold->entered.Get(), 2000) == WAIT_OBJECT_0;
  SetEvent(g_registration_hold->done.Get());
}

// A client that ends as soon as it has the reply: its exit step fires while the registration is still being
// finished, and must not destroy the record the registration goes on writing to.
TEST_F(CrashDumpServerTest, AClientEndingRightAfterTheReplyOutlivesNoRecordInUse) {
  ExitStepHold hold;
  SetEvent(hold.release.Get());  // the exit steps only report their end
  g_exit_step_hold = &hold;
  RegistrationHold registration;
  g_registration_hold = &registration;
  CrashDumpServer::SetExitStepEndHookForTesting(&HoldExitStep);
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  // Enough registrations that the thread pool watches the next client's exit on a wait thread other than the
  // pipe's (one thread watches at most 63 objects), where the exit step could run at once.
  std::vector<std::unique_ptr<CrashServerClient>> clients(40);
  for (auto& client : clients)
    ASSERT_TRUE(RegisterHere(&server, &client));
  CrashDumpServer::SetProcessWaitRegisteredHookForTesting(&WaitForTheClientsEnd);
  EXPECT_EQ(80u, RunPipeClient(L"no-ack", server.pipe_name(), L"")) << "reply bytes the client received";
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(registration.done.Get(), kHangWaitMs));
  ASSERT_TRUE(server.WaitForExits(1));
  CrashDumpServer::SetProcessWaitRegisteredHookForTesting(nullptr);
  EXPECT_FALSE(registration.exit_step_ended);
  server.Destroy();
  CrashDumpServer::SetExitStepEndHookForTesting(nullptr);
}

// Holds the pipe step that follows a failed read of the acknowledgement until the server's destruction has begun.
HANDLE g_client_ended = nullptr;
HANDLE g_step_held = nullptr;
HANDLE g_destruction_started = nullptr;

void WaitForTheClientsEndOnly(HANDLE client_process) {
  WaitForSingleObject(client_process, kHangWaitMs);
  SetEvent(g_client_ended);
}

void HoldTheStepAfterTheAckRead(int state) {
  if (state == CrashDumpServer::kDisconnecting && SetEvent(g_step_held))
    WaitForSingleObject(g_destruction_started, kHangWaitMs);
}

void SignalTheDestructionsStart() {
  SetEvent(g_destruction_started);
}

// A client that has ended before the server reads its acknowledgement makes that read fail at once, which leaves
// the read's status at pending with nothing that will ever complete it: a destruction that comes before the next
// step must not wait for that read.
TEST_F(CrashDumpServerTest, ADestructionWaitsForNoReadThatFailedAtOnce) {
  base::win::ScopedHandle client_ended(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::win::ScopedHandle step_held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::win::ScopedHandle destruction_started(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_client_ended = client_ended.Get();
  g_step_held = step_held.Get();
  g_destruction_started = destruction_started.Get();
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  // The registration waits for its client's end, so the acknowledgement is read from a broken pipe.
  CrashDumpServer::SetProcessWaitRegisteredHookForTesting(&WaitForTheClientsEndOnly);
  CrashDumpServer::SetPipeStepHookForTesting(&HoldTheStepAfterTheAckRead);
  CrashDumpServer::SetDestructionStartHookForTesting(&SignalTheDestructionsStart);
  EXPECT_EQ(80u, RunPipeClient(L"no-ack", server.pipe_name(), L"")) << "reply bytes the client received";
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(client_ended.Get(), kHangWaitMs));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(step_held.Get(), kHangWaitMs));
  const ULONGLONG start = GetTickCount64();
  server.Destroy();  // waited for good before
  EXPECT_LT(GetTickCount64() - start, static_cast<ULONGLONG>(kHangWaitMs));
  CrashDumpServer::SetDestructionStartHookForTesting(nullptr);
  CrashDumpServer::SetPipeStepHookForTesting(nullptr);
  CrashDumpServer::SetProcessWaitRegisteredHookForTesting(nullptr);
}

TEST_F(CrashDumpServerTest, ADestroyedServerEndsItsClientsRequestsAtOnce) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  std::unique_ptr<CrashServerClient> client;
  ASSERT_TRUE(RegisterHere(&server, &client));
  server.Destroy();
  // With the real 15 s limit: only the released mutex ends the wait this soon. Asked from another thread, as
  // a crashing client would: this one created the mutex and could take it whenever it liked.
  bool requested = true;
  long long milliseconds = 0;
  std::thread crashing_thread([&] {
    const auto start = std::chrono::steady_clock::now();
    requested = client->RequestDump(nullptr, nullptr);
    milliseconds = MillisecondsSince(start);
  });
  crashing_thread.join();
  EXPECT_FALSE(requested);
  EXPECT_LT(milliseconds, 1000);
  EXPECT_EQ(0u, server.dump_requests());
}

// Holds the first capture handed to it after each Arm until released, and counts every capture.
struct CaptureHold {
  void Arm() {
    ResetEvent(entered.Get());
    ResetEvent(release.Get());
    ended = false;
    armed = true;
  }
  void Capture() {
    ++captures;
    if (!armed.exchange(false))
      return;
    SetEvent(entered.Get());
    released_in_time = WaitForSingleObject(release.Get(), kHangWaitMs) == WAIT_OBJECT_0;
    ended = true;
  }
  bool Entered() const { return WaitForSingleObject(entered.Get(), kHangWaitMs) == WAIT_OBJECT_0; }

  base::win::ScopedHandle entered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  base::win::ScopedHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<bool> armed{true};
  std::atomic<int> captures{0};
  std::atomic<bool> released_in_time{false};
  std::atomic<bool> ended{false};
};

// A dump request made on a thread of its own, as a crashing client makes it (the test's thread owns the server's
// alive mutex, which a wait of that thread would take at once). Unless `held`, it is waited for at once; however
// the test ends, the hold is released and the thread joined.
class Request {
 public:
  Request(CaptureHold* hold, CrashServerClient* client, EXCEPTION_POINTERS* pointers, bool held = true)
      : hold_(held ? hold : nullptr), thread_([this, client, pointers] {
          served_ = client->RequestDump(pointers, nullptr);
          returned_ = true;
        }) {
    if (!held)
      thread_.join();
  }
  ~Request() { Finish(); }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  bool returned() const { return returned_; }
  bool served() const { return served_; }
  // Releases the hold (of a held request) and gives the request's result once it has returned.
  bool Finish() {
    if (hold_)
      SetEvent(hold_->release.Get());
    if (thread_.joinable())
      thread_.join();
    return served_;
  }

 private:
  CaptureHold* const hold_;  // null unless held
  std::atomic<bool> served_{false};
  std::atomic<bool> returned_{false};
  std::thread thread_;
};

// Each dump request the server takes, and whether it queued a capture for it; and the start of its destruction.
HANDLE g_request_left_to_running_capture = nullptr;
std::atomic<int> g_captures_queued{0};
HANDLE g_destruction_began = nullptr;

// A crash can take over a minute to capture. Meanwhile the other clients' crashes are captured too and new clients
// register; a client whose wait ran out and asks again is answered by its running capture, never captured twice at
// once, and its next request is a capture again. The server's destruction waits for a capture that still runs.
TEST_F(CrashDumpServerTest, CapturesRunBesideThePipeAndEachOther) {
  base::win::ScopedHandle left(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  base::win::ScopedHandle began(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_request_left_to_running_capture = left.Get();
  g_destruction_began = began.Get();
  g_captures_queued = 0;
  CrashDumpServer::SetDumpRequestTakenHookForTesting([](bool queued) {
    queued ? void(++g_captures_queued) : void(SetEvent(g_request_left_to_running_capture));
  });
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  std::unique_ptr<CrashServerClient> first, second, third;
  ASSERT_TRUE(RegisterHere(&server, &first));
  ASSERT_TRUE(RegisterHere(&server, &second));
  CaptureHold hold;
  server.set_dump_handler([&hold](const CrashClientRecord&, const std::wstring*) { hold.Capture(); });
  CapturedException crash(EXCEPTION_ACCESS_VIOLATION);
  CrashServerClient::SetDumpWaitForTesting(0);
  EXPECT_FALSE(Request(&hold, first.get(), &crash.pointers, false).served()) << "a wait of 0 ms ended with the dump";
  ASSERT_TRUE(hold.Entered()) << "the first capture never began";
  // No client gives up on its own from here: only a server that makes a request wait for the held capture would.
  CrashServerClient::SetDumpWaitForTesting(kHangWaitMs);

  EXPECT_TRUE(Request(&hold, second.get(), &crash.pointers, false).served()) << "the second client's crash was lost";
  EXPECT_FALSE(hold.ended.load()) << "the second client's crash was captured only after the first capture";
  EXPECT_EQ(2, hold.captures.load());
  EXPECT_TRUE(RegisterHere(&server, &third));
  EXPECT_FALSE(hold.ended.load()) << "the registration waited for another client's capture";
  {
    Request again(&hold, first.get(), &crash.pointers);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(left.Get(), kHangWaitMs))
        << "the repeated request was not left to the running capture";
    EXPECT_FALSE(again.returned()) << "the first client was released before its capture ended";
    EXPECT_TRUE(again.Finish()) << "the running capture's end did not answer the repeated request";
  }
  EXPECT_TRUE(hold.released_in_time.load());
  EXPECT_EQ(2, hold.captures.load());
  EXPECT_EQ(2, g_captures_queued.load());
  EXPECT_TRUE(Request(&hold, first.get(), &crash.pointers, false).served());
  EXPECT_EQ(3, hold.captures.load());
  EXPECT_EQ(3, g_captures_queued.load());
  EXPECT_EQ(3u, server.dump_requests());
  EXPECT_EQ(std::vector<DWORD>(3, GetCurrentProcessId()), server.connected());

  hold.Arm();
  Request held(&hold, third.get(), &crash.pointers);
  ASSERT_TRUE(hold.Entered()) << "the last capture never began";
  CrashDumpServer::SetDestructionStartHookForTesting([] { SetEvent(g_destruction_began); });
  std::atomic<bool> returned{false}, ended_at_return{false};
  std::thread destroy([&] {
    server.Destroy();
    ended_at_return = hold.ended.load();
    returned = true;
  });
  const DWORD began_wait = WaitForSingleObject(began.Get(), kHangWaitMs);
  const bool returned_while_held = returned.load();
  EXPECT_TRUE(held.Finish()) << "the client was not released at the end of its capture";
  destroy.join();
  EXPECT_EQ(WAIT_OBJECT_0, began_wait) << "the destruction never began";
  EXPECT_FALSE(returned_while_held);
  EXPECT_TRUE(ended_at_return.load()) << "the destruction returned while the capture ran";
  EXPECT_TRUE(hold.released_in_time.load());
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
