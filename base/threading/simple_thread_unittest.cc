#include "base/threading/simple_thread.h"

#include <windows.h>

#include <string>

#include "base/threading/thread_name_registry.h"
#include "base/threading/thread_refusal_test_util.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class RecordingThread : public SimpleThread {
 public:
  explicit RecordingThread(const std::string& prefix) : SimpleThread(prefix) {}

  void Run() override {
    run_thread_id = ::GetCurrentThreadId();
    name_seen_by_run = name();
    registered_name = PlatformThread::GetName();
  }

  DWORD run_thread_id = 0;
  std::string name_seen_by_run;
  std::string registered_name;
};

TEST(SimpleThreadTest, NamedPrefixSlashThreadIdOnceStarted) {
  RecordingThread thread("SimpleThreadTest");
  EXPECT_EQ(thread.name(), "SimpleThreadTest");
  EXPECT_FALSE(thread.HasBeenStarted());
  ASSERT_TRUE(thread.Start());
  // Start returns only after the thread has named itself.
  ASSERT_NE(thread.tid(), 0u);
  const std::string expected = "SimpleThreadTest/" + std::to_string(thread.tid());
  EXPECT_EQ(thread.name(), expected);
  EXPECT_TRUE(thread.HasBeenStarted());
  thread.Join();
  EXPECT_TRUE(thread.HasBeenJoined());
  EXPECT_EQ(thread.run_thread_id, thread.tid());
  EXPECT_EQ(thread.name_seen_by_run, expected);
  EXPECT_EQ(thread.registered_name, expected);
  EXPECT_EQ(thread.name_prefix(), "SimpleThreadTest");
}

// Without a thread nothing would signal the start event: Start must say so instead of waiting for it.
TEST(SimpleThreadTest, StartReportsAThreadThatCannotBeCreated) {
  {
    ScopedThreadRefusal refusal;
    RecordingThread thread("SimpleThreadTest refused");
    EXPECT_FALSE(thread.Start());
    EXPECT_FALSE(thread.HasBeenStarted());
    EXPECT_EQ(thread.tid(), 0u);
    EXPECT_EQ(thread.name(), "SimpleThreadTest refused");
  }  // destroyed without a join

  RecordingThread later("SimpleThreadTest later");
  ASSERT_TRUE(later.Start());
  later.Join();
  EXPECT_NE(later.run_thread_id, 0u);
}

TEST(SimpleThreadTest, JoiningAThreadNeverStartedIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        RecordingThread thread("SimpleThreadTest unstarted");
        thread.Join();
      },
      ::testing::ExitedWithCode(0x80000003), "");
}

}  // namespace
}  // namespace base
