#include "base/message_loop/message_loop_task_runner.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/minimal_task_loop_test_util.h"
#include "base/profiler/task_profiler.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread_task_runner_handle.h"

namespace base {
namespace {

// A loop on its own thread, for the far side of cross-thread posts.
class LoopThread {
 public:
  LoopThread() {
    WaitableEvent bound(true, false);
    thread_ = std::thread([this, &bound] {
      MinimalTaskLoop loop;
      loop.BindToCurrentThread();
      thread_id_ = GetCurrentThreadId();
      runner_ = loop.task_runner();
      loop_ = &loop;
      bound.Signal();
      loop.Run();
      loop_ = nullptr;
      // The loop (and with it the incoming queue's link to it) goes here: later posts fail.
    });
    bound.Wait();
  }
  ~LoopThread() { Stop(); }

  scoped_refptr<MessageLoopTaskRunner> runner() const { return runner_; }
  DWORD thread_id() const { return thread_id_; }

  // Runs what was posted so far, then ends the thread and its loop.
  void Stop() {
    if (!thread_.joinable())
      return;
    runner_->PostTask(FROM_HERE, Bind(&LoopThread::QuitLoop, Unretained(this)));
    thread_.join();
  }

 private:
  void QuitLoop() { loop_->Quit(); }

  std::thread thread_;
  DWORD thread_id_ = 0;
  MinimalTaskLoop* loop_ = nullptr;
  scoped_refptr<MessageLoopTaskRunner> runner_;
};

// Records the thread on which the last reference to it was dropped.
class ThreadRecorder : public RefCountedThreadSafe<ThreadRecorder> {
 public:
  explicit ThreadRecorder(std::atomic<DWORD>* destroyed_on) : destroyed_on_(destroyed_on) {}

 private:
  friend class RefCountedThreadSafe<ThreadRecorder>;
  ~ThreadRecorder() { destroyed_on_->store(GetCurrentThreadId()); }
  std::atomic<DWORD>* destroyed_on_;
};

struct TaskAndReplyLog {
  std::atomic<DWORD> task_thread{0};
  std::atomic<DWORD> reply_thread{0};
  std::atomic<int> order{0};
  std::atomic<int> task_step{0};
  std::atomic<int> reply_step{0};
};

void RecordTask(TaskAndReplyLog* log, scoped_refptr<ThreadRecorder>) {
  log->task_thread = GetCurrentThreadId();
  log->task_step = ++log->order;
}

void RecordReply(TaskAndReplyLog* log, MinimalTaskLoop* origin_loop, scoped_refptr<ThreadRecorder>) {
  log->reply_thread = GetCurrentThreadId();
  log->reply_step = ++log->order;
  origin_loop->Quit();
}

TEST(MessageLoopTaskRunnerTest, RunsTasksOnTheBoundThreadOnly) {
  MinimalTaskLoop loop;
  EXPECT_FALSE(loop.task_runner()->RunsTasksOnCurrentThread()) << "not bound yet";
  loop.BindToCurrentThread();
  EXPECT_TRUE(loop.task_runner()->RunsTasksOnCurrentThread());
  EXPECT_TRUE(loop.task_runner()->BelongsToCurrentThread());
  bool elsewhere = true;
  std::thread([&] { elsewhere = loop.task_runner()->RunsTasksOnCurrentThread(); }).join();
  EXPECT_FALSE(elsewhere);
}

TEST(MessageLoopTaskRunnerTest, NonNestablePostsAreMarked) {
  MinimalTaskLoop loop;
  EXPECT_TRUE(loop.task_runner()->PostNonNestableTask(FROM_HERE, Bind([] {})));
  EXPECT_TRUE(loop.task_runner()->PostTask(FROM_HERE, Bind([] {})));
  TaskQueue work;
  loop.incoming_queue()->ReloadWorkQueue(&work);
  ASSERT_EQ(2u, work.size());
  EXPECT_FALSE(work.front().nestable);
  work.pop();
  EXPECT_TRUE(work.front().nestable);
}

TEST(ThreadTaskRunnerHandleTest, PublishesTheRunnerForItsLifetime) {
  std::thread([] {
    EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
    MinimalTaskLoop loop;
    {
      ThreadTaskRunnerHandle handle(loop.task_runner());
      EXPECT_TRUE(ThreadTaskRunnerHandle::IsSet());
      EXPECT_EQ(loop.task_runner().get(), ThreadTaskRunnerHandle::Get().get());
      bool set_elsewhere = true;
      std::thread([&] { set_elsewhere = ThreadTaskRunnerHandle::IsSet(); }).join();
      EXPECT_FALSE(set_elsewhere) << "the handle is per thread";
    }
    EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
  }).join();
}

TEST(ThreadTaskRunnerHandleDeathTest, GetWithoutAHandleIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(ThreadTaskRunnerHandle::Get(), "");
}

TEST(PostTaskAndReplyTest, ReplyRunsOnThePostingThreadAfterTheTask) {
  MinimalTaskLoop origin;
  origin.BindToCurrentThread();
  LoopThread destination;

  TaskAndReplyLog log;
  std::atomic<DWORD> task_value_destroyed_on{0};
  std::atomic<DWORD> reply_value_destroyed_on{0};
  ASSERT_TRUE(destination.runner()->PostTaskAndReply(
      FROM_HERE, Bind(&RecordTask, &log, MakeRefCounted<ThreadRecorder>(&task_value_destroyed_on)),
      Bind(&RecordReply, &log, &origin, MakeRefCounted<ThreadRecorder>(&reply_value_destroyed_on))));
  origin.Run();

  EXPECT_EQ(destination.thread_id(), log.task_thread.load());
  EXPECT_EQ(GetCurrentThreadId(), log.reply_thread.load());
  EXPECT_EQ(1, log.task_step.load());
  EXPECT_EQ(2, log.reply_step.load());
  // Both closures, with their bound values, end on the posting thread.
  EXPECT_EQ(GetCurrentThreadId(), task_value_destroyed_on.load());
  EXPECT_EQ(GetCurrentThreadId(), reply_value_destroyed_on.load());
}

TEST(PostTaskAndReplyTest, RefusedPostRunsNeitherAndDestroysBothHere) {
  MinimalTaskLoop origin;
  origin.BindToCurrentThread();
  scoped_refptr<MessageLoopTaskRunner> gone_runner;
  {
    LoopThread destination;
    gone_runner = destination.runner();
  }

  TaskAndReplyLog log;
  std::atomic<DWORD> task_value_destroyed_on{0};
  std::atomic<DWORD> reply_value_destroyed_on{0};
  EXPECT_FALSE(gone_runner->PostTaskAndReply(
      FROM_HERE, Bind(&RecordTask, &log, MakeRefCounted<ThreadRecorder>(&task_value_destroyed_on)),
      Bind(&RecordReply, &log, &origin, MakeRefCounted<ThreadRecorder>(&reply_value_destroyed_on))));
  EXPECT_EQ(0, log.order.load());
  EXPECT_EQ(GetCurrentThreadId(), task_value_destroyed_on.load());
  EXPECT_EQ(GetCurrentThreadId(), reply_value_destroyed_on.load());
  origin.RunUntilIdle();
  EXPECT_EQ(0, log.order.load()) << "nothing was posted back";
}

class DeletionRecorder {
 public:
  DeletionRecorder(std::atomic<DWORD>* deleted_on, WaitableEvent* deleted)
      : deleted_on_(deleted_on), deleted_(deleted) {}
  ~DeletionRecorder() {
    deleted_on_->store(GetCurrentThreadId());
    deleted_->Signal();
  }

 private:
  std::atomic<DWORD>* deleted_on_;
  WaitableEvent* deleted_;
};

TEST(SequencedTaskRunnerTest, DeleteSoonDeletesOnTheRunnersThread) {
  LoopThread destination;
  std::atomic<DWORD> deleted_on{0};
  WaitableEvent deleted(true, false);
  EXPECT_TRUE(destination.runner()->DeleteSoon(FROM_HERE, new DeletionRecorder(&deleted_on, &deleted)));
  deleted.Wait();
  EXPECT_EQ(destination.thread_id(), deleted_on.load());
}

void CountRun(std::atomic<int>* runs) {
  runs->fetch_add(1);
}

// The post sites of the births test; their locations are distinct from every other post in this program.
void PostFromSiteA(TaskRunner* runner, std::atomic<int>* runs) {
  ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind(&CountRun, runs)));
}
void PostFromSiteB(TaskRunner* runner, std::atomic<int>* runs) {
  ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind(&CountRun, runs)));
}

// Births and deaths of the tasks posted from `function`, over every thread's record.
void CountBirthsAndDeaths(const char* function, int64_t* births, int64_t* deaths) {
  *births = 0;
  *deaths = 0;
  for (ThreadData* data = ThreadData::first(); data; data = data->next()) {
    ThreadData::BirthMap birth_map;
    ThreadData::DeathMap death_map;
    data->SnapshotMaps(&birth_map, &death_map);
    for (const auto& [location, birth] : birth_map) {
      if (std::string(location.function_name()) == function)
        *births += birth.birth_count();
    }
    for (const auto& [birth, death] : death_map) {
      if (std::string(birth->location().function_name()) == function)
        *deaths += death.count();
    }
  }
}

TEST(TaskProfilerTest, BirthsEqualDeathsAcrossThreads) {
  ThreadData::Initialize();
  ASSERT_EQ(ThreadData::PROFILING_ACTIVE, ThreadData::status());
  constexpr int kProducers = 3;
  constexpr int kPostsEach = 500;

  std::atomic<int> runs{0};
  {
    LoopThread consumer;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
      producers.emplace_back([&, p] {
        if (p == 0)
          ThreadData::InitializeThreadContext("births test producer");
        for (int i = 0; i < kPostsEach; ++i) {
          if (i % 3 == 0)
            PostFromSiteA(consumer.runner().get(), &runs);
          else
            PostFromSiteB(consumer.runner().get(), &runs);
        }
      });
    }
    for (std::thread& producer : producers)
      producer.join();
    consumer.Stop();
  }
  ASSERT_EQ(kProducers * kPostsEach, runs.load());

  int64_t births_a = 0, deaths_a = 0, births_b = 0, deaths_b = 0;
  CountBirthsAndDeaths("PostFromSiteA", &births_a, &deaths_a);
  CountBirthsAndDeaths("PostFromSiteB", &births_b, &deaths_b);
  EXPECT_EQ(births_a + births_b, runs.load());
  EXPECT_EQ(births_a, deaths_a);
  EXPECT_EQ(births_b, deaths_b);
  EXPECT_GT(births_a, 0);
  EXPECT_GT(births_b, 0);
}

}  // namespace
}  // namespace base
