#include "base/message_loop/incoming_task_queue.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/debug/task_annotator.h"
#include "base/message_loop/message_loop_task_runner.h"
#include "base/message_loop/minimal_task_loop_test_util.h"
#include "base/synchronization/waitable_event.h"

namespace base {
namespace {

// Counts wake-ups and nothing else.
class CountingLoop : public IncomingTaskQueue::Loop {
 public:
  void ScheduleWork() override { ++wake_ups; }
  debug::TaskAnnotator* task_annotator() override { return &annotator; }

  std::atomic<int> wake_ups{0};
  debug::TaskAnnotator annotator;
};

void DoNothing() {}

void Append(std::vector<int>* log, int value) {
  log->push_back(value);
}

TEST(IncomingTaskQueueTest, OneWakeUpPerEmptyToNonEmptyTransition) {
  CountingLoop loop;
  auto queue = MakeRefCounted<IncomingTaskQueue>(&loop);
  queue->StartScheduling();
  EXPECT_EQ(0, loop.wake_ups);

  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta(), true));
  EXPECT_EQ(1, loop.wake_ups) << "three posts into an empty queue wake the loop once";

  TaskQueue work;
  queue->ReloadWorkQueue(&work);
  EXPECT_EQ(3u, work.size());
  work = TaskQueue();

  // The loop took the tasks but has not yet found the queue empty: it is awake and needs no new wake-up.
  EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta(), true));
  EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta(), true));
  EXPECT_EQ(1, loop.wake_ups);

  queue->ReloadWorkQueue(&work);
  EXPECT_EQ(2u, work.size());
  work = TaskQueue();
  queue->ReloadWorkQueue(&work);  // finds nothing: the loop is about to sleep
  EXPECT_TRUE(work.empty());
  EXPECT_EQ(1, loop.wake_ups);

  EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta(), true));
  EXPECT_EQ(2, loop.wake_ups);
  EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta(), true));
  EXPECT_EQ(2, loop.wake_ups);
  queue->WillDestroyCurrentMessageLoop();
}

TEST(IncomingTaskQueueTest, PostsBeforeSchedulingStartsWakeOnceWhenItStarts) {
  CountingLoop loop;
  auto queue = MakeRefCounted<IncomingTaskQueue>(&loop);
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta(), true));
  EXPECT_EQ(0, loop.wake_ups);
  queue->StartScheduling();
  EXPECT_EQ(1, loop.wake_ups);
  EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta(), true));
  EXPECT_EQ(1, loop.wake_ups);
  TaskQueue work;
  queue->ReloadWorkQueue(&work);
  EXPECT_EQ(6u, work.size());
  queue->WillDestroyCurrentMessageLoop();
}

TEST(IncomingTaskQueueTest, StartingOnAnEmptyQueueWakesNothing) {
  CountingLoop loop;
  auto queue = MakeRefCounted<IncomingTaskQueue>(&loop);
  queue->StartScheduling();
  EXPECT_EQ(0, loop.wake_ups);
  queue->WillDestroyCurrentMessageLoop();
}

TEST(IncomingTaskQueueTest, SequenceNumbersFollowPostingOrder) {
  CountingLoop loop;
  auto queue = MakeRefCounted<IncomingTaskQueue>(&loop);
  for (int i = 0; i < 10; ++i) {
    const TimeDelta delay = TimeDelta::FromMilliseconds(i % 2 ? 100 : 0);
    EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), delay, i % 3 != 0));
  }
  TaskQueue work;
  queue->ReloadWorkQueue(&work);
  ASSERT_EQ(10u, work.size());
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(i, work.front().sequence_num);
    EXPECT_EQ(i % 3 != 0, work.front().nestable);
    EXPECT_EQ(i % 2 == 1, !work.front().delayed_run_time.is_null());
    work.pop();
  }
  queue->WillDestroyCurrentMessageLoop();
}

TEST(IncomingTaskQueueTest, DueTimeIsNowPlusAPositiveDelay) {
  CountingLoop loop;
  auto queue = MakeRefCounted<IncomingTaskQueue>(&loop);
  const TimeDelta delay = TimeDelta::FromMilliseconds(250);
  const TimeTicks before = TimeTicks::Now();
  EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), delay, true));
  const TimeTicks after = TimeTicks::Now();
  EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta::Max(), true));
  EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta::FromMicroseconds(-1), true));
  TaskQueue work;
  queue->ReloadWorkQueue(&work);
  ASSERT_EQ(3u, work.size());
  EXPECT_GE(work.front().delayed_run_time, before + delay);
  EXPECT_LE(work.front().delayed_run_time, after + delay);
  work.pop();
  EXPECT_TRUE(work.front().delayed_run_time.is_max()) << "the due time saturates instead of wrapping";
  work.pop();
  EXPECT_TRUE(work.front().delayed_run_time.is_null()) << "a negative delay means due at once";
  queue->WillDestroyCurrentMessageLoop();
}

TEST(IncomingTaskQueueTest, ShortPositiveDelaysAreHighResolution) {
  CountingLoop loop;
  auto queue = MakeRefCounted<IncomingTaskQueue>(&loop);
  struct Case {
    TimeDelta delay;
    bool high_res;
  } cases[] = {
      {TimeDelta::FromMilliseconds(31), true},
      {TimeDelta::FromMicroseconds(31999), true},
      {TimeDelta::FromMicroseconds(1), true},
      {TimeDelta::FromMilliseconds(32), false},
      {TimeDelta(), false},
      {TimeDelta::FromMilliseconds(-5), false},
      {TimeDelta::Max(), false},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(queue->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), c.delay, true));
  TaskQueue work;
  EXPECT_EQ(3, queue->ReloadWorkQueue(&work));
  for (const Case& c : cases) {
    EXPECT_EQ(c.high_res, work.front().is_high_res) << c.delay.InMicroseconds() << " us";
    work.pop();
  }
  work = TaskQueue();
  EXPECT_EQ(0, queue->ReloadWorkQueue(&work)) << "the count starts again after each hand-over";
  queue->WillDestroyCurrentMessageLoop();
}

// Holds a value whose destruction is observed: thread and whether the queue's lock was free then.
class Probe : public RefCountedThreadSafe<Probe> {
 public:
  Probe(scoped_refptr<IncomingTaskQueue> queue, DWORD* destroyed_on, bool* repost_returned)
      : queue_(std::move(queue)), destroyed_on_(destroyed_on), repost_returned_(repost_returned) {}

 private:
  friend class RefCountedThreadSafe<Probe>;
  ~Probe() {
    *destroyed_on_ = GetCurrentThreadId();
    // Posting from a destructor of a refused task must not deadlock on the queue's own lock.
    *repost_returned_ = queue_->AddToIncomingQueue(FROM_HERE, Bind(&DoNothing), TimeDelta(), true);
  }

  scoped_refptr<IncomingTaskQueue> queue_;
  DWORD* destroyed_on_;
  bool* repost_returned_;
};

void Touch(scoped_refptr<Probe>) {}

TEST(IncomingTaskQueueTest, PostAfterTheLoopIsGoneFailsAndReleasesTheClosureHere) {
  CountingLoop loop;
  auto queue = MakeRefCounted<IncomingTaskQueue>(&loop);
  queue->StartScheduling();
  queue->WillDestroyCurrentMessageLoop();

  DWORD destroyed_on = 0;
  bool repost_returned = true;
  {
    Closure task = Bind(&Touch, MakeRefCounted<Probe>(queue, &destroyed_on, &repost_returned));
    EXPECT_FALSE(queue->AddToIncomingQueue(FROM_HERE, std::move(task), TimeDelta(), true));
  }
  EXPECT_EQ(GetCurrentThreadId(), destroyed_on);
  EXPECT_FALSE(repost_returned);
  EXPECT_EQ(0, loop.wake_ups);
}

// Four threads post 10^5 tasks each while the loop runs them: each producer's tasks run in its posting
// order, every task runs once, and the loop is woken only after finding the queue empty.
TEST(IncomingTaskQueueTest, FourProducersKeepTheirOrder) {
  constexpr int kProducers = 4;
  constexpr int kPostsEach = 100000;
  MinimalTaskLoop loop;
  loop.BindToCurrentThread();
  scoped_refptr<MessageLoopTaskRunner> runner = loop.task_runner();

  std::vector<std::vector<int>> ran(kProducers);
  std::atomic<int> finished_producers{0};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPostsEach; ++i)
        ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind(&Append, &ran[p], i)));
      if (finished_producers.fetch_add(1) + 1 == kProducers)
        runner->PostTask(FROM_HERE, Bind(&MinimalTaskLoop::Quit, Unretained(&loop)));
    });
  }
  loop.Run();
  for (std::thread& producer : producers)
    producer.join();
  loop.RunUntilIdle();

  for (int p = 0; p < kProducers; ++p) {
    ASSERT_EQ(static_cast<size_t>(kPostsEach), ran[p].size()) << "producer " << p;
    for (int i = 0; i < kPostsEach; ++i)
      ASSERT_EQ(i, ran[p][i]) << "producer " << p;
  }
  // Every wake-up but the first follows a reload that found the queue empty.
  EXPECT_GE(loop.schedule_work_count(), 1);
  EXPECT_LE(loop.schedule_work_count(), loop.empty_reload_count() + 1);
}

}  // namespace
}  // namespace base
