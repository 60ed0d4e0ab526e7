#include "base/message_loop/message_pump_for_io.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/message_loop/message_loop_test_util.h"
#include "base/message_loop/message_pump_test_util.h"
#include "gtest/gtest.h"
#include "testing/test_support.h"

namespace base {
namespace {

using IOContext = MessagePumpForIO::IOContext;

struct Completion {
  IOContext* context;
  DWORD bytes;
  DWORD error;
};

class RecordingHandler : public MessagePumpForIO::IOHandler {
 public:
  void OnIOCompleted(IOContext* context, DWORD bytes_transfered, DWORD error) override {
    completions.push_back({context, bytes_transfered, error});
  }
  std::vector<Completion> completions;
};

class RecordingObserver : public MessagePumpForIO::IOObserver {
 public:
  explicit RecordingObserver(std::vector<std::string>* events) : events_(events) {}
  void WillProcessIOEvent() override { events_->push_back("will"); }
  void DidProcessIOEvent() override { events_->push_back("did"); }

 private:
  std::vector<std::string>* events_;
};

TEST(MessagePumpForIOTest, OverlappedReadCompletesToItsHandler) {
  MessagePumpForIO pump;
  RecordingHandler handler;
  OverlappedFile file("completion port contents");
  pump.RegisterIOHandler(file.get(), &handler);
  IOContext context{{}, &handler};
  char buffer[64] = {};
  ASSERT_TRUE(file.StartRead(&context, buffer, sizeof(buffer), 11));
  EXPECT_TRUE(pump.WaitForIOCompletion(INFINITE, nullptr));
  ASSERT_EQ(1u, handler.completions.size());
  EXPECT_EQ(&context, handler.completions[0].context);
  EXPECT_EQ(13u, handler.completions[0].bytes);
  EXPECT_EQ(0u, handler.completions[0].error);
  EXPECT_EQ("port contents", std::string(buffer));
  // Nothing more arrives.
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
}

TEST(MessagePumpForIOTest, FailedOperationReachesTheHandlerWithItsError) {
  MessagePumpForIO pump;
  RecordingHandler handler;
  const std::wstring name = L"\\\\.\\pipe\\" + test_support::UniqueName(L"io_pump");
  test_support::ScopedTestHandle server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                                         PIPE_TYPE_BYTE, 1, 0, 4096, 0, nullptr));
  ASSERT_TRUE(server.valid());
  test_support::ScopedTestHandle client(
      CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(client.valid());
  pump.RegisterIOHandler(server.get(), &handler);
  IOContext context{{}, &handler};
  char buffer[16];
  ASSERT_FALSE(ReadFile(server.get(), buffer, sizeof(buffer), nullptr, &context.overlapped));
  ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
  client.reset();  // the writer goes: the pending read fails
  EXPECT_TRUE(pump.WaitForIOCompletion(INFINITE, nullptr));
  ASSERT_EQ(1u, handler.completions.size());
  EXPECT_EQ(&context, handler.completions[0].context);
  EXPECT_EQ(0u, handler.completions[0].bytes);
  EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), handler.completions[0].error);
}

TEST(MessagePumpForIOTest, FilteredWaitKeepsOtherCompletionsForLaterInArrivalOrder) {
  MessagePumpForIO pump;
  RecordingHandler first_handler;
  RecordingHandler second_handler;
  OverlappedFile first_file("first file");
  OverlappedFile second_file("second file", L"_2");
  pump.RegisterIOHandler(first_file.get(), &first_handler);
  pump.RegisterIOHandler(second_file.get(), &second_handler);

  IOContext first_a{{}, &first_handler};
  IOContext first_b{{}, &first_handler};
  IOContext second{{}, &second_handler};
  char buffer_a[32] = {};
  char buffer_b[32] = {};
  char buffer_second[32] = {};
  DWORD bytes = 0;
  // Each read is complete (its packet queued) before the next starts, so the port holds them in this order.
  ASSERT_TRUE(first_file.StartRead(&first_a, buffer_a, 5, 0));
  ASSERT_TRUE(GetOverlappedResult(first_file.get(), &first_a.overlapped, &bytes, TRUE));
  ASSERT_TRUE(first_file.StartRead(&first_b, buffer_b, 4, 6));
  ASSERT_TRUE(GetOverlappedResult(first_file.get(), &first_b.overlapped, &bytes, TRUE));
  ASSERT_TRUE(second_file.StartRead(&second, buffer_second, 6, 0));
  ASSERT_TRUE(GetOverlappedResult(second_file.get(), &second.overlapped, &bytes, TRUE));

  // Waiting for the second handler: the first handler's completions are taken off the port and kept.
  EXPECT_TRUE(pump.WaitForIOCompletion(INFINITE, &second_handler));
  EXPECT_TRUE(pump.WaitForIOCompletion(INFINITE, &second_handler));
  EXPECT_TRUE(first_handler.completions.empty());
  EXPECT_TRUE(second_handler.completions.empty());
  EXPECT_TRUE(pump.WaitForIOCompletion(INFINITE, &second_handler));
  ASSERT_EQ(1u, second_handler.completions.size());
  EXPECT_EQ(&second, second_handler.completions[0].context);
  EXPECT_TRUE(first_handler.completions.empty());

  // Later waits deliver the kept completions, oldest first, without touching the port.
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_TRUE(pump.WaitForIOCompletion(0, &first_handler));
  ASSERT_EQ(2u, first_handler.completions.size());
  EXPECT_EQ(&first_a, first_handler.completions[0].context);
  EXPECT_EQ(5u, first_handler.completions[0].bytes);
  EXPECT_EQ(&first_b, first_handler.completions[1].context);
  EXPECT_EQ(4u, first_handler.completions[1].bytes);
  EXPECT_EQ("first", std::string(buffer_a));
  EXPECT_EQ("file", std::string(buffer_b));
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
}

TEST(MessagePumpForIOTest, CompletionOfAHandlerThatWentAwayIsDroppedWithoutACall) {
  MessagePumpForIO pump;
  RecordingHandler handler;
  std::vector<std::string> events;
  RecordingObserver observer(&events);
  pump.AddIOObserver(&observer);
  OverlappedFile file("abandoned read");
  pump.RegisterIOHandler(file.get(), &handler);
  // The handler leaves its pending context to the pump, which frees it.
  auto* context = new IOContext{{}, &handler};
  char buffer[32];
  ASSERT_TRUE(file.StartRead(context, buffer, sizeof(buffer), 0));
  context->handler = nullptr;
  EXPECT_TRUE(pump.WaitForIOCompletion(INFINITE, nullptr));
  EXPECT_TRUE(handler.completions.empty());
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
}

TEST(MessagePumpForIOTest, ObserversSurroundEachDeliveredCompletion) {
  MessagePumpForIO pump;
  std::vector<std::string> events;
  RecordingObserver observer(&events);
  RecordingObserver second_observer(&events);
  class OrderHandler : public MessagePumpForIO::IOHandler {
   public:
    explicit OrderHandler(std::vector<std::string>* events) : events_(events) {}
    void OnIOCompleted(IOContext*, DWORD, DWORD) override { events_->push_back("completed"); }

   private:
    std::vector<std::string>* events_;
  } handler(&events);
  pump.AddIOObserver(&observer);
  pump.AddIOObserver(&observer);  // listed once
  pump.AddIOObserver(&second_observer);
  OverlappedFile file("observed");
  pump.RegisterIOHandler(file.get(), &handler);
  IOContext context{{}, &handler};
  char buffer[16];
  ASSERT_TRUE(file.StartRead(&context, buffer, sizeof(buffer), 0));
  EXPECT_TRUE(pump.WaitForIOCompletion(INFINITE, nullptr));
  EXPECT_EQ((std::vector<std::string>{"will", "will", "completed", "did", "did"}), events);

  pump.RemoveIOObserver(&observer);
  events.clear();
  ASSERT_TRUE(file.StartRead(&context, buffer, sizeof(buffer), 0));
  EXPECT_TRUE(pump.WaitForIOCompletion(INFINITE, nullptr));
  EXPECT_EQ((std::vector<std::string>{"will", "completed", "did"}), events);
}

TEST(MessagePumpForIOTest, OneWakeUpPacketIsInFlightAtATime) {
  MessagePumpForIO pump;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&pump] {
      for (int i = 0; i < 1000; ++i)
        pump.ScheduleWork();
    });
  }
  for (auto& thread : threads)
    thread.join();
  // One packet: taking it is work done, then the port is empty.
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
  // Taking it let the next wake-up through.
  pump.ScheduleWork();
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_EQ(0, pump.schedule_work_error_count());
}

TEST(MessagePumpForIOTest, RunAlternatesTasksAndCompletionsAndWakesForEither) {
  MessagePumpForIO pump;
  FakePumpDelegate delegate;
  RecordingHandler handler;
  OverlappedFile file("run");
  pump.RegisterIOHandler(file.get(), &handler);
  IOContext context{{}, &handler};
  char buffer[8];
  std::thread waker;
  std::atomic<bool> woken{false};
  // First idle: start a read; the completion ends the wait. Second idle: another thread wakes the pump.
  delegate.do_idle_work = [&] {
    if (delegate.idle_work_calls == 1) {
      EXPECT_TRUE(file.StartRead(&context, buffer, sizeof(buffer), 0));
    } else if (!waker.joinable()) {
      waker = std::thread([&] {
        woken = true;
        pump.ScheduleWork();
      });
    }
    return false;
  };
  delegate.do_work = [&] {
    if (woken)
      pump.Quit();
    return false;
  };
  pump.Run(&delegate);
  waker.join();
  ASSERT_EQ(1u, handler.completions.size());
  EXPECT_EQ(3u, handler.completions[0].bytes);
}

}  // namespace
}  // namespace base
