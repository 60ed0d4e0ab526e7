#include "base/profiler/task_profiler.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>

#include "base/command_line.h"
#include "base/location.h"
#include "base/strings/stringprintf.h"
#include "base/tracking_info.h"

namespace base {
namespace {

// Each test runs in its own process, so the process-wide profiler state starts fresh in each.

TEST(TrackedTimeTest, DifferencesSurviveTheWrapOfTheClock) {
  const TrackedTime before_wrap(INT32_MAX - 5);
  const TrackedTime after_wrap(INT32_MIN + 4);
  EXPECT_EQ(10, after_wrap.MillisecondsSince(before_wrap));
  EXPECT_EQ(-10, before_wrap.MillisecondsSince(after_wrap));
  EXPECT_EQ(0, after_wrap.MillisecondsSince(after_wrap));
}

TEST(TrackedTimeTest, TicksAreTruncatedToTheLow32BitsOfTheirMilliseconds) {
  const int64_t ms = (int64_t{5} << 32) + 7;
  EXPECT_EQ(7, TrackedTime(TimeTicks::FromInternalValue(ms * 1000 + 999)).ToMilliseconds());
  const int64_t high_half = (int64_t{1} << 31) + 3;  // bit 31 set: reads as negative
  EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(high_half)),
            TrackedTime(TimeTicks::FromInternalValue(high_half * 1000)).ToMilliseconds());
  EXPECT_LT(TrackedTime(TimeTicks::FromInternalValue(high_half * 1000)).ToMilliseconds(), 0);
}

TEST(TaskProfilerTest, NothingIsCountedBeforeInitialize) {
  EXPECT_EQ(ThreadData::UNINITIALIZED, ThreadData::status());
  EXPECT_EQ(nullptr, ThreadData::Get());
  EXPECT_TRUE(ThreadData::Now().is_null());
  EXPECT_EQ(nullptr, ThreadData::TallyABirthIfActive(FROM_HERE));
  TrackingInfo info(FROM_HERE, TimeTicks());
  EXPECT_EQ(nullptr, info.birth_tally);
  EXPECT_TRUE(info.time_posted.is_null());
  TaskStopwatch stopwatch;
  stopwatch.Start();
  stopwatch.Stop();
  EXPECT_EQ(nullptr, stopwatch.GetThreadData());
  EXPECT_EQ(0, stopwatch.RunDurationMs());
}

TEST(TaskProfilerTest, BirthsAreCountedPerLocation) {
  ThreadData::Initialize();
  ASSERT_EQ(ThreadData::PROFILING_ACTIVE, ThreadData::status());
  const Location here = FROM_HERE;
  Births* first = ThreadData::TallyABirthIfActive(here);
  ASSERT_NE(nullptr, first);
  Births* again = ThreadData::TallyABirthIfActive(here);
  EXPECT_EQ(first, again);
  EXPECT_EQ(2, first->birth_count());
  EXPECT_EQ(ThreadData::Get(), first->birth_thread());

  // The same place in another copy of the text is the same location.
  const std::string file_copy = here.file_name();
  const std::string function_copy = here.function_name();
  Location copy(function_copy.c_str(), file_copy.c_str(), here.line_number(), nullptr);
  EXPECT_EQ(first, ThreadData::TallyABirthIfActive(copy));
  EXPECT_EQ(3, first->birth_count());

  Births* other_line = ThreadData::TallyABirthIfActive(FROM_HERE);
  EXPECT_NE(first, other_line);
  EXPECT_EQ(1, other_line->birth_count());
}

TEST(TaskProfilerTest, BirthCountsStopAtTheLargest32BitValue) {
  ThreadData::Initialize();
  Births births(FROM_HERE, *ThreadData::Get());
  for (int64_t i = 1; i < int64_t{INT32_MAX} + 3; ++i)
    births.RecordBirth();
  EXPECT_EQ(INT32_MAX, births.birth_count());
}

TEST(TaskProfilerTest, DeathSumsWrapAndMaximaRise) {
  DeathData death;
  death.RecordDeath(INT32_MAX, 1, 0);
  EXPECT_EQ(1, death.count());
  EXPECT_EQ(INT32_MAX, death.queue_duration_sample()) << "the only run so far is the sample";
  EXPECT_EQ(1, death.run_duration_sample());

  death.RecordDeath(1, 40, 1);  // 1 % 2 != 0: not sampled
  EXPECT_EQ(2, death.count());
  EXPECT_EQ(2, death.sample_probability_count());
  EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(INT32_MAX) + 1u), death.queue_duration_sum());
  EXPECT_EQ(41, death.run_duration_sum());
  EXPECT_EQ(INT32_MAX, death.queue_duration_max());
  EXPECT_EQ(40, death.run_duration_max());
  EXPECT_EQ(INT32_MAX, death.queue_duration_sample());

  death.RecordDeath(3, 7, 6);  // 6 % 3 == 0: this run becomes the sample
  EXPECT_EQ(3, death.queue_duration_sample());
  EXPECT_EQ(7, death.run_duration_sample());
  EXPECT_EQ(40, death.run_duration_max());
}

TEST(TaskProfilerTest, RunsAreTalliedWithTheirQueueingTime) {
  ThreadData::Initialize();
  const TimeTicks due = TimeTicks::Now() - TimeDelta::FromMilliseconds(50);
  TrackingInfo delayed(FROM_HERE, due);
  ASSERT_NE(nullptr, delayed.birth_tally);
  ASSERT_FALSE(delayed.time_posted.is_null());

  TaskStopwatch stopwatch;
  stopwatch.Start();
  stopwatch.Stop();
  const TrackedTime after = TrackedTime::Now();
  ThreadData::TallyRunOnNamedThreadIfTracking(delayed, stopwatch);

  ThreadData::BirthMap births;
  ThreadData::DeathMap deaths;
  ThreadData::Get()->SnapshotMaps(&births, &deaths);
  ASSERT_EQ(1u, deaths.count(delayed.birth_tally));
  const DeathData& death = deaths.at(delayed.birth_tally);
  EXPECT_EQ(1, death.count());
  // A delayed task queues from its due time, not from its posting.
  EXPECT_GE(death.queue_duration_sum(), 50);
  EXPECT_LE(death.queue_duration_sum(), after.MillisecondsSince(TrackedTime(due)));
  EXPECT_GE(death.run_duration_sum(), 0);

  // Without a birth record nothing is tallied.
  TrackingInfo untracked;
  ThreadData::TallyRunOnNamedThreadIfTracking(untracked, stopwatch);
  ThreadData::Get()->SnapshotMaps(&births, &deaths);
  EXPECT_EQ(1u, deaths.size());
}

TEST(TaskProfilerTest, NestedRunTimeIsLeftOutOfTheEnclosingRun) {
  ThreadData::Initialize();
  const TrackedTime before_outer = TrackedTime::Now();
  TaskStopwatch outer;
  outer.Start();
  const TrackedTime outer_started = TrackedTime::Now();

  TaskStopwatch inner;
  inner.Start();
  // The nested task is busy for 30 ms of the profiler clock.
  const TrackedTime inner_started = TrackedTime::Now();
  while (TrackedTime::Now().MillisecondsSince(inner_started) < 30) {
  }
  inner.Stop();

  const TrackedTime outer_stopping = TrackedTime::Now();
  outer.Stop();
  const TrackedTime after_outer = TrackedTime::Now();

  EXPECT_GE(inner.RunDurationMs(), 30);
  // outer's own time plus the nested time is its wall-clock time, which the readings around it bound.
  const int32_t outer_wallclock = outer.RunDurationMs() + inner.RunDurationMs();
  EXPECT_GE(outer_wallclock, outer_stopping.MillisecondsSince(outer_started));
  EXPECT_LE(outer_wallclock, after_outer.MillisecondsSince(before_outer));
  EXPECT_GE(outer.RunDurationMs(), 0);
}

TEST(TaskProfilerTest, AnEndedUnnamedThreadsRecordGoesToTheNextOne) {
  ThreadData::Initialize();
  ThreadData* first = nullptr;
  std::thread([&] { first = ThreadData::Get(); }).join();
  ASSERT_NE(nullptr, first);
  EXPECT_GT(first->worker_thread_number(), 0);
  EXPECT_EQ(StringPrintf("WorkerThread-%d", first->worker_thread_number()), first->thread_name());
  EXPECT_EQ(1, ThreadData::cleanup_count());
  const int32_t created = ThreadData::worker_thread_data_creation_count();

  ThreadData* second = nullptr;
  std::thread([&] { second = ThreadData::Get(); }).join();
  EXPECT_EQ(first, second);
  EXPECT_EQ(created, ThreadData::worker_thread_data_creation_count()) << "no new record was numbered";
  EXPECT_EQ(2, ThreadData::cleanup_count());

  // Two unnamed threads alive at once need two records.
  ThreadData* third = nullptr;
  ThreadData* fourth = nullptr;
  std::thread outer_thread([&] {
    third = ThreadData::Get();
    std::thread([&] { fourth = ThreadData::Get(); }).join();
  });
  outer_thread.join();
  EXPECT_NE(third, fourth);
  EXPECT_EQ(created + 1, ThreadData::worker_thread_data_creation_count());
}

TEST(TaskProfilerTest, NamedRecordsAreNotReused) {
  ThreadData* named = nullptr;
  std::thread([&] {
    ThreadData::InitializeThreadContext("Named worker");
    ThreadData::InitializeThreadContext("Renamed worker");  // a thread keeps its first record
    named = ThreadData::Get();
  }).join();
  ASSERT_NE(nullptr, named);
  EXPECT_EQ("Named worker", named->thread_name());
  EXPECT_EQ(0, named->worker_thread_number());
  EXPECT_EQ(1, ThreadData::cleanup_count());

  ThreadData* unnamed = nullptr;
  std::thread([&] { unnamed = ThreadData::Get(); }).join();
  EXPECT_NE(named, unnamed);
  EXPECT_GT(unnamed->worker_thread_number(), 0);

  bool listed = false;
  for (ThreadData* data = ThreadData::first(); data; data = data->next())
    listed |= data == named;
  EXPECT_TRUE(listed);
}


TEST(ProfilerTimingSwitchTest, ZeroTurnsTimesOffButCountsGoOn) {
  ASSERT_TRUE(CommandLine::Init());
  CommandLine::ForCurrentProcess()->AppendSwitchASCII("profiler-timing", "0");
  ThreadData::Initialize();
  EXPECT_TRUE(ThreadData::Now().is_null());

  TrackingInfo posted(FROM_HERE, TimeTicks());
  ASSERT_NE(nullptr, posted.birth_tally);
  EXPECT_TRUE(posted.time_posted.is_null());
  TrackingInfo delayed(FROM_HERE, TimeTicks::Now() - TimeDelta::FromMilliseconds(50));
  ASSERT_NE(nullptr, delayed.birth_tally);

  TaskStopwatch stopwatch;
  stopwatch.Start();
  const TrackedTime busy_start = TrackedTime::Now();
  while (TrackedTime::Now().MillisecondsSince(busy_start) < 5) {
  }
  stopwatch.Stop();
  EXPECT_TRUE(stopwatch.StartTime().is_null());
  EXPECT_EQ(0, stopwatch.RunDurationMs());
  ThreadData::TallyRunOnNamedThreadIfTracking(posted, stopwatch);
  ThreadData::TallyRunOnNamedThreadIfTracking(delayed, stopwatch);

  ThreadData::BirthMap births;
  ThreadData::DeathMap deaths;
  ThreadData::Get()->SnapshotMaps(&births, &deaths);
  for (const Births* birth : {posted.birth_tally, delayed.birth_tally}) {
    ASSERT_EQ(1u, deaths.count(birth));
    const DeathData& death = deaths.at(birth);
    EXPECT_EQ(1, death.count());
    EXPECT_EQ(0, death.queue_duration_sum());
    EXPECT_EQ(0, death.run_duration_sum());
  }
}

TEST(ProfilerTimingSwitchTest, OtherValuesLeaveTimingOn) {
  ASSERT_TRUE(CommandLine::Init());
  CommandLine::ForCurrentProcess()->AppendSwitchASCII("profiler-timing", "1");
  ThreadData::Initialize();
  EXPECT_FALSE(ThreadData::Now().is_null());
}

TEST(ProfilerTimingSwitchTest, TimingCountsAsOnUntilTheCommandLineExistsThenItsAnswerIsKept) {
  ThreadData::Initialize();
  ASSERT_FALSE(CommandLine::IsInitialized());
  EXPECT_FALSE(ThreadData::Now().is_null());
  // The first answer came without a command line and was not kept: the switch counts once it exists.
  ASSERT_TRUE(CommandLine::Init());
  CommandLine::ForCurrentProcess()->AppendSwitchASCII("profiler-timing", "0");
  EXPECT_TRUE(ThreadData::Now().is_null());
  // Read once, the answer stays.
  CommandLine::ForCurrentProcess()->AppendSwitchASCII("profiler-timing", "1");
  EXPECT_TRUE(ThreadData::Now().is_null());
}

}  // namespace
}  // namespace base
