// The IO loop: overlapped file reads completing on the loop, observers, and runs nested inside a completion.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/md5.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_loop_test_util.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "gtest/gtest.h"
#include "testing/test_support.h"

namespace base {
namespace {

// Reads a whole file in overlapped chunks, one read in flight at a time, each started by the completion of
// the one before; quits the loop at the end of the file.
class ChunkedFileReader : public MessageLoopForIO::IOHandler {
 public:
  ChunkedFileReader(HANDLE file, DWORD chunk_size, Closure done)
      : file_(file), chunk_(chunk_size), done_(std::move(done)) {
    context_.handler = this;
  }

  void Start() { ReadNext(); }

  void OnIOCompleted(MessageLoopForIO::IOContext* context, DWORD bytes_transfered, DWORD error) override {
    EXPECT_EQ(&context_, context);
    EXPECT_EQ(GetCurrentThreadId(), loop_thread_);
    ++completions_;
    if (error == ERROR_HANDLE_EOF || (error == 0 && bytes_transfered == 0)) {
      done_.Run();
      return;
    }
    ASSERT_EQ(0u, error);
    data_.append(chunk_.data(), bytes_transfered);
    ReadNext();
  }

  const std::string& data() const { return data_; }
  int completions() const { return completions_; }

 private:
  void ReadNext() {
    context_.overlapped = {};
    const uint64_t offset = data_.size();
    context_.overlapped.Offset = static_cast<DWORD>(offset);
    context_.overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    if (!ReadFile(file_, chunk_.data(), static_cast<DWORD>(chunk_.size()), nullptr, &context_.overlapped)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) {
        // The end was found at once; no completion will come.
        done_.Run();
        return;
      }
      ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), error);
    }
  }

  HANDLE file_;
  std::vector<char> chunk_;
  Closure done_;
  MessageLoopForIO::IOContext context_ = {};
  std::string data_;
  int completions_ = 0;
  DWORD loop_thread_ = GetCurrentThreadId();
};

TEST(MessageLoopForIOTest, OverlappedReadsOfAWholeFileCompleteOnTheLoop) {
  const std::wstring data_dir = test_support::TestDataDir();
  ASSERT_FALSE(data_dir.empty());
  std::string expected_md5;
  ASSERT_TRUE(test_support::ReadFileBytes(data_dir + L"\\io_input.md5", &expected_md5));
  expected_md5 = expected_md5.substr(0, 32);

  MessageLoopForIO loop;
  test_support::ScopedTestHandle file(CreateFileW((data_dir + L"\\io_input.bin").c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                                  nullptr));
  ASSERT_TRUE(file.valid());
  RunLoop run_loop;
  ChunkedFileReader reader(file.get(), 65536, run_loop.QuitClosure());
  ASSERT_TRUE(MessageLoopForIO::current()->RegisterIOHandler(file.get(), &reader));
  // A handle bound to another port can never join this one; its caller has to read some other way.
  OverlappedFile bound("x");
  test_support::ScopedTestHandle other_port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  ASSERT_TRUE(other_port.valid() && CreateIoCompletionPort(bound.get(), other_port.get(), 0, 1));
  EXPECT_FALSE(loop.RegisterIOHandler(bound.get(), &reader));
  // Tasks keep flowing between the completions.
  int ticks = 0;
  Closure tick;
  tick = Bind([&] {
    ++ticks;
    if (run_loop.running())
      loop.PostTask(FROM_HERE, tick);
  });
  loop.PostTask(FROM_HERE, Bind([&] { reader.Start(); }));
  loop.PostTask(FROM_HERE, tick);
  run_loop.Run();
  tick.Reset();

  MD5Digest digest;
  MD5Sum(reader.data().data(), reader.data().size(), &digest);
  EXPECT_EQ(1048699u, reader.data().size());
  EXPECT_EQ(expected_md5, ToLowerASCII(HexEncode(digest.a, sizeof(digest.a))));
  EXPECT_GE(reader.completions(), 17);
  EXPECT_GE(ticks, 2);
}

class CountingObserver : public MessageLoopForIO::IOObserver {
 public:
  void WillProcessIOEvent() override { ++will; }
  void DidProcessIOEvent() override { ++did; }
  int will = 0;
  int did = 0;
};

TEST(MessageLoopForIOTest, NestedRunStartedByACompletionRunsNestableTasksAndDefersTheOthers) {
  MessageLoopForIO loop;
  CountingObserver observer;
  loop.AddIOObserver(&observer);
  std::vector<std::string> order;
  auto record = [&order](const char* name) { order.push_back(name); };

  class NestingHandler : public MessageLoopForIO::IOHandler {
   public:
    explicit NestingHandler(std::function<void()> on_completion) : on_completion_(std::move(on_completion)) {}
    void OnIOCompleted(MessageLoopForIO::IOContext*, DWORD, DWORD) override { on_completion_(); }

   private:
    std::function<void()> on_completion_;
  } handler([&] {
    RunLoop nested;
    loop.task_runner()->PostNonNestableTask(FROM_HERE, Bind(record, "non-nestable"));
    loop.PostTask(FROM_HERE, Bind(record, "nestable"));
    loop.PostTask(FROM_HERE, nested.QuitClosure());
    nested.Run();
    order.push_back("nested ended");
    loop.QuitWhenIdle();
  });

  OverlappedFile file("nesting");
  loop.RegisterIOHandler(file.get(), &handler);
  MessageLoopForIO::IOContext context = {};
  context.handler = &handler;
  char buffer[16];
  ASSERT_TRUE(file.StartRead(&context, buffer, sizeof(buffer), 0));
  loop.Run();
  EXPECT_EQ((std::vector<std::string>{"nestable", "nested ended", "non-nestable"}), order);
  EXPECT_EQ(1, observer.will);
  EXPECT_EQ(1, observer.did);
}

TEST(MessageLoopForIOTest, WaitForIOCompletionFromATaskDeliversOnlyTheFilteredHandler) {
  MessageLoopForIO loop;
  class Handler : public MessageLoopForIO::IOHandler {
   public:
    void OnIOCompleted(MessageLoopForIO::IOContext*, DWORD bytes, DWORD) override { received.push_back(bytes); }
    std::vector<DWORD> received;
  } wanted, other;
  OverlappedFile first("0123456789");
  OverlappedFile second("0123456789", L"_2");
  loop.RegisterIOHandler(first.get(), &other);
  loop.RegisterIOHandler(second.get(), &wanted);
  MessageLoopForIO::IOContext other_context = {};
  other_context.handler = &other;
  MessageLoopForIO::IOContext wanted_context = {};
  wanted_context.handler = &wanted;
  char other_buffer[4];
  char wanted_buffer[7];
  DWORD bytes = 0;
  ASSERT_TRUE(first.StartRead(&other_context, other_buffer, 4, 0));
  ASSERT_TRUE(GetOverlappedResult(first.get(), &other_context.overlapped, &bytes, TRUE));
  ASSERT_TRUE(second.StartRead(&wanted_context, wanted_buffer, 7, 0));

  loop.PostTask(FROM_HERE, Bind([&] {
                  // A task waiting for its own handler's completion: the other one is held for the loop.
                  while (wanted.received.empty())
                    EXPECT_TRUE(loop.WaitForIOCompletion(INFINITE, &wanted));
                  EXPECT_TRUE(other.received.empty());
                  loop.QuitWhenIdle();
                }));
  loop.Run();
  EXPECT_EQ((std::vector<DWORD>{7}), wanted.received);
  EXPECT_EQ((std::vector<DWORD>{4}), other.received);
}

}  // namespace
}  // namespace base
