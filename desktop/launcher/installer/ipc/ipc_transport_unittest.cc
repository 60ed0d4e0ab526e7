// The mailslot between backend and runner: what one side writes reaches the other side's owner thread once,
// whole and in order, through the completion port where the system lets the mailslot join it, else through
// short synchronous reads; a pipe in message mode stands in for a mailslot to drive the completion-port reader
// where mailslots cannot join ports.
#include <windows.h>

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/profiler/task_profiler.h"
#include "base/run_loop.h"
#include "base/time/time.h"
#include "desktop/launcher/installer/ipc/installer_message.h"
#include "desktop/launcher/installer/ipc/ipc_receiver_proxy.h"
#include "desktop/launcher/installer/ipc/ipc_sender_proxy.h"
#include "desktop/launcher/installer/ipc/ipc_test_util.h"
#include "desktop/launcher/installer/records/installer_observer.h"
#include "testing/installer/installer_observer_recorder.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using test_support::InstallerObserverRecorder;

// Far beyond any run on a loaded machine: only a hang reaches it.
constexpr int64_t kHangLimitSeconds = 90;

enum class Transport { kMailslot, kPipeStandIn };

std::string TransportName(const testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::kMailslot ? "Mailslot" : "PipeStandIn";
}

// The runner's side: every delivery is decoded for the recorder, and the thread it arrived on is checked.
class Target : public IPCReceiver::Delegate {
 public:
  Target() { observers_.AddObserver(&recorder); }

  void OnMessageReceived(const base::PackedBuffer& message) override {
    EXPECT_EQ(owner_thread_, GetCurrentThreadId());
    ++deliveries;
    DispatchInstallerMessage(message, &observers_);
    QuitWhenDone();
  }

  // What the receiver's caller is told after the waiting messages, recorded as a success.
  void Told() {
    recorder.OnInstallerSuccess();
    QuitWhenDone();
  }

  // Runs the loop until `count` observer calls were recorded (or a hang is certain).
  void RunUntil(size_t count) {
    quit_after_ = count;
    base::RunLoop run_loop;
    run_loop_ = &run_loop;
    base::MessageLoop::current()->task_runner()->PostDelayedTask(FROM_HERE, run_loop.QuitClosure(),
                                                                 base::TimeDelta::FromSeconds(kHangLimitSeconds));
    if (recorder.lines().size() < count)
      run_loop.Run();
    run_loop_ = nullptr;
  }

  InstallerObserverRecorder recorder;
  size_t deliveries = 0;

 private:
  void QuitWhenDone() {
    if (recorder.lines().size() == quit_after_ && run_loop_)
      run_loop_->Quit();
  }

  base::ObserverList<InstallerObserver> observers_;
  size_t quit_after_ = 0;
  base::RunLoop* run_loop_ = nullptr;
  const DWORD owner_thread_ = GetCurrentThreadId();
};

// A receiver proxy connected over `transport`, with a plain writer of that transport.
class Connection {
 public:
  Connection(Transport transport, IPCReceiverProxy* proxy) {
    name_ = test_support::UniqueName(L"zorvi_installer_test\\C:\\Transport");
    if (transport == Transport::kMailslot) {
      EXPECT_TRUE(proxy->Connect(name_));
      // Answered on the IPC thread once the mailslot exists, so the writer can open it.
      through_port_ = proxy->ReadsThroughCompletionPortForTesting();
      writer_ = std::make_unique<RawWriter>(MailslotPath(name_));
    } else {
      const std::wstring path = L"\\\\.\\pipe\\" + test_support::UniqueName(L"ipc_stand_in");
      HANDLE pipe = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0,
                                     kMaxInstallerMessageSize, 0, nullptr);
      EXPECT_NE(INVALID_HANDLE_VALUE, pipe);
      // A pipe is read only once its client is connected.
      writer_ = std::make_unique<RawWriter>(path);
      EXPECT_TRUE(proxy->ConnectToHandleForTesting(pipe));
      through_port_ = proxy->ReadsThroughCompletionPortForTesting();
    }
    EXPECT_TRUE(writer_->valid());
  }
  const std::wstring& name() const { return name_; }
  RawWriter* writer() const { return writer_.get(); }
  bool through_port() const { return through_port_; }

 private:
  std::wstring name_;
  std::unique_ptr<RawWriter> writer_;
  bool through_port_ = false;
};

std::unique_ptr<base::PackedBuffer> TotalSteps(int steps) {
  std::unique_ptr<base::PackedBuffer> message = NewInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
  message->WriteInt(steps);
  return message;
}

class TransportTest : public testing::TestWithParam<Transport> {
 protected:
  base::MessageLoop loop_;
};

// The names the IPC proxies' tasks were posted under, as the task profiler counts them on every thread.
std::set<std::string> ProxyTaskNames() {
  std::set<std::string> names;
  for (const base::ThreadData* data = base::ThreadData::first(); data; data = data->next()) {
    base::ThreadData::BirthMap births;
    base::ThreadData::DeathMap deaths;
    data->SnapshotMaps(&births, &deaths);
    for (const auto& [location, tally] : births) {
      const std::string file = location.file_name();
      if (file.find("/ipc/ipc_") != std::string::npos)
        names.insert(location.function_name());
    }
  }
  return names;
}

TEST_P(TransportTest, ThreeThousandMessagesArriveOnceInOrderOnTheOwnerThread) {
  constexpr int kMessages = 3000;
  base::ThreadData::Initialize();
  Target target;
  IPCReceiverProxy proxy(&target);
  Connection connection(GetParam(), &proxy);
  // Only the pipe joins the port under wine; a mailslot does wherever the system allows it.
  EXPECT_EQ(GetParam() == Transport::kPipeStandIn || !test_support::IsRunningUnderWine(), connection.through_port());

  std::vector<std::string> expected;
  for (int i = 0; i < kMessages; ++i)
    expected.push_back(InstallerObserverRecorder::TotalStepsLine(i));
  std::thread writer;
  IPCSenderProxy sender;
  if (GetParam() == Transport::kMailslot) {
    // The backend's way: the sender proxy, fed from this thread.
    ASSERT_TRUE(sender.Connect(connection.name()));
    for (int i = 0; i < kMessages; ++i)
      sender.Send(TotalSteps(i));
  } else {
    // A full pipe blocks its writer until the reader catches up, so the writing has a thread of its own.
    writer = std::thread([&connection] {
      for (int i = 0; i < kMessages; ++i)
        ASSERT_TRUE(connection.writer()->Write(BytesOf(*TotalSteps(i))));
    });
  }
  target.RunUntil(kMessages);
  if (writer.joinable())
    writer.join();
  sender.Close();
  proxy.Close();
  EXPECT_EQ(expected, target.recorder.lines());
  EXPECT_EQ(static_cast<size_t>(kMessages), target.deliveries);
  if (GetParam() == Transport::kMailslot) {
    const std::set<std::string> names = ProxyTaskNames();
    for (const char* name : {"zorvi::installer::IPCReceiverProxy::Connect",
                             "zorvi::installer::IPCReceiverProxy::OnMessageReceived",
                             "zorvi::installer::IPCReceiverProxy::Close", "zorvi::installer::IPCSenderProxy::Connect",
                             "zorvi::installer::IPCSenderProxy::Send", "zorvi::installer::IPCSenderProxy::Close"}) {
      EXPECT_EQ(1u, names.count(name)) << name;
    }
  }
}

TEST_P(TransportTest, WaitingMessagesAreDeliveredBeforeTheCallerIsTold) {
  Target target;
  IPCReceiverProxy proxy(&target);
  Connection connection(GetParam(), &proxy);
  std::vector<std::string> expected;
  for (int round = 0; round < 20; ++round) {
    // Written just before the caller asks, as a backend's last messages are just before its exit.
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(connection.writer()->Write(BytesOf(*TotalSteps(round * 5 + i))));
      expected.push_back(InstallerObserverRecorder::TotalStepsLine(round * 5 + i));
    }
    expected.push_back("told");
    proxy.DeliverWaitingMessagesThen(base::Bind(&Target::Told, base::Unretained(&target)));
    target.RunUntil(expected.size());
  }
  proxy.Close();
  std::vector<std::string> lines = target.recorder.lines();
  for (std::string& line : lines) {
    if (line == InstallerObserverRecorder::SimpleLine("OnInstallerSuccess"))
      line = "told";
  }
  EXPECT_EQ(expected, lines);
}

INSTANTIATE_TEST_SUITE_P(Transports, TransportTest, testing::Values(Transport::kMailslot, Transport::kPipeStandIn),
                         TransportName);

TEST(MailslotReceiverTest, DamagedAndEmptyDatagramsNeitherStopReceptionNorReachObservers) {
  base::MessageLoop loop;
  Target target;
  IPCReceiverProxy proxy(&target);
  Connection connection(Transport::kMailslot, &proxy);
  RawWriter& writer = *connection.writer();
  const std::string valid = BytesOf(*TotalSteps(5));
  size_t nonempty = 0;
  for (int i = 0; i < 300; ++i) {
    std::string damaged = valid.substr(0, i % valid.size());
    if (i % 3 == 0)
      damaged = std::string(i % 50, static_cast<char>(i));
    nonempty += !damaged.empty();
    ASSERT_TRUE(writer.Write(damaged));
  }
  // Messages cut one to three bytes into their last field, with the header telling the cut length: whole datagrams
  // that are no messages, which the delivery must not make whole by padding.
  std::unique_ptr<base::PackedBuffer> starting = NewInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  starting->WriteInt(1);
  const std::string error = BytesOf(*NewInstallerErrorMessage(37050, L"detail", "message text"));
  for (const std::string& whole : {BytesOf(*starting), error}) {
    for (size_t cut = 1; cut <= 3; ++cut) {
      std::string damaged = whole.substr(0, whole.size() - cut);
      uint32_t payload = 0;
      memcpy(&payload, damaged.data(), sizeof(payload));
      payload -= static_cast<uint32_t>(cut);
      memcpy(damaged.data(), &payload, sizeof(payload));
      ++nonempty;
      ASSERT_TRUE(writer.Write(damaged));
    }
  }
  ASSERT_TRUE(writer.Write(valid));
  target.RunUntil(1);
  proxy.Close();
  EXPECT_EQ(std::vector<std::string>{InstallerObserverRecorder::TotalStepsLine(5)}, target.recorder.lines());
  // Every datagram with bytes was handed over once; empty ones carry nothing to hand over.
  EXPECT_EQ(nonempty + 1, target.deliveries);
}

TEST(MailslotReceiverTest, MailslotCanBeOpenedOnceConnectReturns) {
  // The runner starts its backend right after Connect: a backend that found no mailslot would send nothing.
  base::MessageLoop loop;
  Target target;
  for (int round = 0; round < 20; ++round) {
    IPCReceiverProxy proxy(&target);
    const std::wstring name = test_support::UniqueName(L"zorvi_installer_test\\C:\\Connect") + std::to_wstring(round);
    ASSERT_TRUE(proxy.Connect(name));
    EXPECT_TRUE(RawWriter(MailslotPath(name)).valid()) << "round " << round;
    proxy.Close();
  }
}

// Reads whole messages from a pipe until `count` arrived or the pipe fails (its writer gone and it is empty).
std::vector<std::string> ReadPipe(HANDLE pipe, size_t count) {
  std::vector<std::string> messages;
  char buffer[kMaxInstallerMessageSize];
  DWORD read = 0;
  while (messages.size() < count && ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr))
    messages.emplace_back(buffer, read);
  return messages;
}

TEST(IPCSenderTest, ClosingWritesTheQueueFirstAndCountsWhatRemains) {
  constexpr size_t kMessages = 200;
  for (const bool reader_reads : {true, false}) {
    SCOPED_TRACE(reader_reads ? "a reader reads" : "nobody reads until the sender is closed");
    // A pipe with almost no buffer keeps the sender's writes pending until they are read, as a busy mailslot
    // may on any system.
    const std::wstring path = L"\\\\.\\pipe\\" + test_support::UniqueName(reader_reads ? L"read" : L"unread");
    test_support::ScopedTestHandle pipe(CreateNamedPipeW(path.c_str(), PIPE_ACCESS_INBOUND,
                                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0,
                                                         64, 0, nullptr));
    ASSERT_TRUE(pipe.valid());
    HANDLE client = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, client);
    std::vector<std::string> sent;
    std::vector<std::string> received;
    test_support::ScopedLogCapture log;
    {
      IPCSenderProxy sender;
      ASSERT_TRUE(sender.ConnectToHandleForTesting(client));
      for (size_t i = 0; i < kMessages; ++i) {
        std::unique_ptr<base::PackedBuffer> message = TotalSteps(static_cast<int>(i));
        sent.push_back(BytesOf(*message));
        sender.Send(std::move(message));
      }
      std::thread reader;
      if (reader_reads)
        reader = std::thread([&] { received = ReadPipe(pipe.get(), kMessages); });
      sender.Close();
      if (reader.joinable())
        reader.join();
    }
    if (!reader_reads)
      received = ReadPipe(pipe.get(), kMessages);
    // What was written arrived whole and in order; what was not is counted.
    ASSERT_LE(received.size(), kMessages);
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + received.size()), received);
    EXPECT_TRUE(log.HasLineStartingWith("Messages unsent: " + std::to_string(kMessages - received.size()))) << log.Text();
    EXPECT_EQ(reader_reads, received.size() == kMessages);
  }
}

int CountOwnThreads() {
  test_support::ScopedTestHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int threads = 0;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
    threads += entry.th32OwnerProcessID == GetCurrentProcessId();
  return threads;
}

TEST(IPCProxyTest, ClosingWithoutTrafficLeavesNoThreadOrHandle) {
  base::MessageLoop loop;
  Target target;
  {
    // Whatever the first use sets up for good (the thread-name registry, the loop's own objects) is made here.
    IPCReceiverProxy proxy(&target);
    Connection connection(Transport::kMailslot, &proxy);
  }
  const int handles = test_support::CountOpenHandles();
  const int threads = CountOwnThreads();
  for (int round = 0; round < 3; ++round) {
    for (Transport transport : {Transport::kMailslot, Transport::kPipeStandIn}) {
      IPCReceiverProxy proxy(&target);
      Connection connection(transport, &proxy);
      IPCSenderProxy sender;
      ASSERT_TRUE(sender.Connect(connection.name()));
      const base::TimeTicks start = base::TimeTicks::Now();
      sender.Close();
      proxy.Close();
      // One read time-out, with room for a machine loaded many times over: only a close that waits for
      // traffic (or for good) reaches the bound.
      EXPECT_LT((base::TimeTicks::Now() - start).InMilliseconds(), 100 * IPCReceiver::kSynchronousReadTimeoutMs);
    }
    IPCSenderProxy unconnected;
    unconnected.Send(TotalSteps(1));
    unconnected.Close();
  }
  EXPECT_EQ(handles, test_support::CountOpenHandles());
  EXPECT_EQ(threads, CountOwnThreads());
  EXPECT_EQ(0u, target.deliveries);
}

}  // namespace
}  // namespace zorvi::installer
