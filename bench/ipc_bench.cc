// The installer's IPC from a backend process to the runner's observer: 10,000 notifications sent as fast as
// the sender takes them (messages per second, first to last arrival), and the relay latency by ping-pong (the
// observer sets an event the sending process waits on before its next message; median and 99th percentile).
// The references, in the same run: a bare mailslot loop (a plain thread reading synchronously and a sender writing
// synchronously), and a bare loop that makes the runner's thread hops (the sender hands each message to a thread of
// its own that writes it, a plain thread reads it and hands it to the owner's thread), which shows what the
// product adds on top of the hops themselves. The same executable plays the sending process (started with --send).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/at_exit.h"
#include "base/command_line.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "bench/bench_util.h"
#include "desktop/launcher/installer/ipc/installer_message.h"
#include "desktop/launcher/installer/ipc/ipc_receiver_proxy.h"
#include "desktop/launcher/installer/ipc/ipc_sender_proxy.h"
#include "desktop/launcher/installer/records/installer_observer.h"

namespace {

using namespace zorvi::installer;

const int kThroughputMessages = bench::Sized(10000, 200);
const int kPingPongs = bench::Sized(2000, 50);

std::unique_ptr<base::PackedBuffer> Step() {
  return NewInstallerMessage(IPC_MESSAGE_STEP);
}

enum class Side { kProduct, kBare, kHops };

// A hand-off between two threads: a locked queue and an event that the taker waits on.
class HandOff {
 public:
  HandOff() : ready_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~HandOff() { CloseHandle(ready_); }
  void Put(std::string item) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      items_.push_back(std::move(item));
    }
    SetEvent(ready_);
  }
  // Waits for at least one item and takes every item there is.
  std::deque<std::string> TakeAll() {
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (!items_.empty())
          return std::exchange(items_, {});
      }
      WaitForSingleObject(ready_, INFINITE);
    }
  }

 private:
  HANDLE ready_;
  std::mutex lock_;
  std::deque<std::string> items_;
};

// The sending process: `count` messages, each after the pong event when one is named; the round trips in
// microseconds go to `results`.
int RunSender(const base::CommandLine& command_line) {
  const std::wstring name = command_line.GetSwitchValueNative("send");
  const bool bare = command_line.HasSwitch("bare") || command_line.HasSwitch("hops");
  const bool hops = command_line.HasSwitch("hops");
  const int count = std::stoi(command_line.GetSwitchValueASCII("count"));
  HANDLE pong = command_line.HasSwitch("pong")
                    ? OpenEventW(SYNCHRONIZE, FALSE, command_line.GetSwitchValueNative("pong").c_str())
                    : nullptr;
  IPCSenderProxy sender;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (bare) {
    file = CreateFileW((L"\\\\.\\mailslot\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  } else {
    sender.Connect(name);
  }
  // With hops, a thread of the sender's own writes what the sending thread hands it, as the sender proxy's does.
  HandOff outgoing;
  std::thread writer;
  if (hops) {
    writer = std::thread([&] {
      for (int written_count = 0; written_count < count;) {
        for (const std::string& message : outgoing.TakeAll()) {
          DWORD written = 0;
          WriteFile(file, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
          ++written_count;
        }
      }
    });
  }
  std::vector<double> round_trips;
  for (int i = 0; i < count; ++i) {
    const double start = bench::NowSeconds();
    if (hops) {
      std::unique_ptr<base::PackedBuffer> message = Step();
      outgoing.Put(std::string(static_cast<const char*>(message->data()), message->size()));
    } else if (bare) {
      std::unique_ptr<base::PackedBuffer> message = Step();
      DWORD written = 0;
      WriteFile(file, message->data(), static_cast<DWORD>(message->size()), &written, nullptr);
    } else {
      sender.Send(Step());
    }
    if (pong) {
      WaitForSingleObject(pong, INFINITE);
      round_trips.push_back((bench::NowSeconds() - start) * 1e6);
    }
  }
  if (writer.joinable())
    writer.join();
  // Closing would give up on what is still queued after a second; the measuring side says when it has all.
  HANDLE done = OpenEventW(SYNCHRONIZE, FALSE, command_line.GetSwitchValueNative("done").c_str());
  WaitForSingleObject(done, 60000);
  CloseHandle(done);
  sender.Close();
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
  if (!round_trips.empty()) {
    FILE* results = _wfopen(command_line.GetSwitchValueNative("results").c_str(), L"wb");
    for (double round_trip : round_trips)
      std::fprintf(results, "%.3f\n", round_trip);
    std::fclose(results);
  }
  return 0;
}

struct Outcome {
  double messages_per_second = 0;
  double median_us = 0;
  double p99_us = 0;
};

std::wstring OwnPath() {
  base::FilePath exe;
  base::PathService::Get(base::kExeFile, &exe);
  return exe.value();
}

std::wstring DoneEventName(const std::wstring& mailslot) {
  std::wstring name = mailslot;
  std::replace(name.begin(), name.end(), L'\\', L'_');
  return name + L"_done";
}

HANDLE StartSender(const std::wstring& name, Side side, int count, const std::wstring& pong,
                   const std::wstring& results) {
  std::wstring command_line = L"\"" + OwnPath() + L"\" --send=\"" + name + L"\" --count=" + std::to_wstring(count) +
                              L" --done=" + DoneEventName(name);
  if (side == Side::kBare)
    command_line += L" --bare";
  if (side == Side::kHops)
    command_line += L" --hops";
  if (!pong.empty())
    command_line += L" --pong=" + pong + L" --results=\"" + results + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

void ReadRoundTrips(const std::wstring& results, Outcome* outcome) {
  std::vector<double> values;
  FILE* file = _wfopen(results.c_str(), L"rb");
  double value = 0;
  while (file && std::fscanf(file, "%lf", &value) == 1)
    values.push_back(value);
  if (file)
    std::fclose(file);
  std::sort(values.begin(), values.end());
  if (!values.empty()) {
    outcome->median_us = values[values.size() / 2];
    outcome->p99_us = values[values.size() * 99 / 100];
  }
}

// Counts the steps the runner's way decodes and sets the pong event at each.
class CountingObserver : public IPCReceiver::Delegate, public InstallerObserver {
 public:
  CountingObserver(int expected, HANDLE pong, base::RunLoop* run_loop)
      : expected_(expected), pong_(pong), run_loop_(run_loop) {
    observers_.AddObserver(this);
  }
  void OnMessageReceived(const base::PackedBuffer& message) override { DispatchInstallerMessage(message, &observers_); }
  void OnStep() override {
    if (++received_ == 1)
      first_ = bench::NowSeconds();
    last_ = bench::NowSeconds();
    if (pong_)
      SetEvent(pong_);
    if (received_ == expected_)
      run_loop_->Quit();
  }
  void OnInstallFolderReady() override {}
  void OnStartingNewMainProcess(bool) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int) override {}
  void OnInstallerError(int, const std::wstring&, const std::string&) override {}
  void OnInstallerSuccess() override {}
  void OnInstallerTerminated(bool) override {}
  double seconds() const { return last_ - first_; }

 private:
  const int expected_;
  HANDLE pong_;
  base::RunLoop* run_loop_;
  int received_ = 0;
  double first_ = 0;
  double last_ = 0;
  base::ObserverList<InstallerObserver> observers_;
};

// Serves `count` messages sent to the mailslot `name`, setting `pong` (when given) at each, and starts the
// sending process through `start_sender` once the mailslot exists; the seconds from the first to the last.
using Receiver = std::function<double(const std::wstring& name, int count, HANDLE pong,
                                      const std::function<void()>& start_sender)>;

// The runner's way: the receiver proxy on this thread's loop, each message decoded for an observer.
double ReceiveThroughTheProduct(const std::wstring& name, int count, HANDLE pong,
                                const std::function<void()>& start_sender) {
  base::RunLoop run_loop;
  CountingObserver observer(count, pong, &run_loop);
  IPCReceiverProxy proxy(&observer);
  proxy.Connect(name);
  proxy.ReadsThroughCompletionPortForTesting();  // waits until the mailslot exists
  start_sender();
  run_loop.Run();
  return observer.seconds();
}

// The reference: a plain thread reading the mailslot synchronously.
double ReceiveBare(const std::wstring& name, int count, HANDLE pong, const std::function<void()>& start_sender) {
  const std::wstring path = L"\\\\.\\mailslot\\" + name;
  HANDLE slot = CreateMailslotW(path.c_str(), kMaxInstallerMessageSize, MAILSLOT_WAIT_FOREVER, nullptr);
  double first = 0;
  double last = 0;
  std::thread reader([&] {
    char buffer[kMaxInstallerMessageSize];
    DWORD read = 0;
    for (int i = 0; i < count && ReadFile(slot, buffer, sizeof(buffer), &read, nullptr); ++i) {
      (i == 0 ? first : last) = bench::NowSeconds();
      if (pong)
        SetEvent(pong);
    }
  });
  start_sender();
  reader.join();
  CloseHandle(slot);
  return last - first;
}

// The runner's hops without the product: a plain thread reads the mailslot synchronously and hands each message to
// this thread (the owner's), which counts it and sets the pong.
double ReceiveWithHops(const std::wstring& name, int count, HANDLE pong, const std::function<void()>& start_sender) {
  const std::wstring path = L"\\\\.\\mailslot\\" + name;
  HANDLE slot = CreateMailslotW(path.c_str(), kMaxInstallerMessageSize, MAILSLOT_WAIT_FOREVER, nullptr);
  HandOff incoming;
  std::thread reader([&] {
    std::string buffer(kMaxInstallerMessageSize, '\0');
    DWORD read = 0;
    for (int i = 0; i < count && ReadFile(slot, &buffer[0], static_cast<DWORD>(buffer.size()), &read, nullptr); ++i)
      incoming.Put(buffer.substr(0, read));
  });
  start_sender();
  double first = 0;
  double last = 0;
  for (int received = 0; received < count;) {
    for (const std::string& message : incoming.TakeAll()) {
      bench::DoNotOptimize(message.data());
      (received++ == 0 ? first : last) = bench::NowSeconds();
      if (pong)
        SetEvent(pong);
    }
  }
  reader.join();
  CloseHandle(slot);
  return last - first;
}

// The flow and the ping-pong through one receiving side, against a sender of the same side.
Outcome Measure(const std::wstring& tag, Side which) {
  Outcome outcome;
  const std::wstring side = which == Side::kBare ? L"bare_" : which == Side::kHops ? L"hops_" : L"";
  const std::wstring results = OwnPath() + L"." + tag + L"." + (side.empty() ? L"product_" : side) + L".txt";
  const Receiver receive = which == Side::kBare   ? Receiver(ReceiveBare)
                           : which == Side::kHops ? Receiver(ReceiveWithHops)
                                                  : Receiver(ReceiveThroughTheProduct);
  for (const bool ping_pong : {false, true}) {
    const std::wstring name = L"zorvi_ipc_bench\\" + side + tag + (ping_pong ? L"_pong" : L"_flow");
    const std::wstring pong_name = ping_pong ? L"zorvi_ipc_bench_" + side + L"pong_" + tag : L"";
    HANDLE pong = ping_pong ? CreateEventW(nullptr, FALSE, FALSE, pong_name.c_str()) : nullptr;
    const int count = ping_pong ? kPingPongs : kThroughputMessages;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, DoneEventName(name).c_str());
    HANDLE sender = nullptr;
    const double seconds =
        receive(name, count, pong, [&] { sender = StartSender(name, which, count, pong_name, results); });
    SetEvent(done);
    WaitForSingleObject(sender, INFINITE);
    CloseHandle(sender);
    CloseHandle(done);
    if (ping_pong) {
      ReadRoundTrips(results, &outcome);
      DeleteFileW(results.c_str());
      CloseHandle(pong);
    } else {
      outcome.messages_per_second = (count - 1) / seconds;
    }
  }
  return outcome;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  base::AtExitManager exit_manager;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch("send"))
    return RunSender(command_line);
  base::MessageLoop loop;
  const std::wstring tag = std::to_wstring(GetCurrentProcessId());
  // Best of three for each side, alternating, so that load on the machine touches every side alike.
  const Side sides[] = {Side::kProduct, Side::kBare, Side::kHops};
  Outcome best[3];
  for (int run = 0; run < bench::Sized(3, 1); ++run) {
    for (int i = 0; i < 3; ++i) {
      const Outcome o = Measure(tag + L"_" + std::to_wstring(run), sides[i]);
      best[i].messages_per_second = std::max(best[i].messages_per_second, o.messages_per_second);
      best[i].median_us = run == 0 ? o.median_us : std::min(best[i].median_us, o.median_us);
      best[i].p99_us = run == 0 ? o.p99_us : std::min(best[i].p99_us, o.p99_us);
    }
  }
  const std::string flow = "installer IPC, " + std::to_string(kThroughputMessages) + " notifications";
  for (int i : {1, 2}) {
    const std::string reference = i == 1 ? "bare mailslot loop" : "bare loop with the runner's thread hops";
    bench::Report(flow, best[0].messages_per_second, "messages/s", reference, best[i].messages_per_second);
    bench::Report("installer IPC ping-pong, median relay", best[0].median_us, "us", reference, best[i].median_us,
                  bench::Better::kLower);
    bench::Report("installer IPC ping-pong, 99th percentile", best[0].p99_us, "us", reference, best[i].p99_us,
                  bench::Better::kLower);
  }
  return 0;
}
