#include "base/pending_task.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "base/bind.h"

namespace base {
namespace {

void DoNothing() {}

PendingTask MakeTask(TimeTicks due, int32_t sequence_num) {
  PendingTask task(FROM_HERE, Bind(&DoNothing), due, true);
  task.sequence_num = sequence_num;
  return task;
}

TEST(PendingTaskTest, ConstructorsSetTheDefaults) {
  PendingTask immediate(FROM_HERE, Bind(&DoNothing));
  EXPECT_TRUE(immediate.delayed_run_time.is_null());
  EXPECT_TRUE(immediate.nestable);
  EXPECT_FALSE(immediate.is_high_res);
  EXPECT_EQ(0, immediate.sequence_num);
  EXPECT_EQ(__LINE__ - 5, immediate.posted_from.line_number());

  const TimeTicks due = TimeTicks::Now() + TimeDelta::FromSeconds(1);
  PendingTask delayed(FROM_HERE, Bind(&DoNothing), due, false);
  EXPECT_EQ(due, delayed.delayed_run_time);
  EXPECT_FALSE(delayed.nestable);
  EXPECT_FALSE(delayed.is_high_res);
}

TEST(PendingTaskTest, LaterDueTimeIsLessUrgentWhateverTheSequence) {
  const TimeTicks now = TimeTicks::Now();
  PendingTask early = MakeTask(now, 100);
  PendingTask late = MakeTask(now + TimeDelta::FromMicroseconds(1), 1);
  EXPECT_TRUE(late < early);
  EXPECT_FALSE(early < late);
}

TEST(PendingTaskTest, EqualDueTimesFollowPostingOrderAcrossTheWrap) {
  const TimeTicks due = TimeTicks::Now();
  PendingTask last_before_wrap = MakeTask(due, INT32_MAX);
  PendingTask first_after_wrap = MakeTask(due, INT32_MIN);
  // INT32_MIN was posted after INT32_MAX: it is the less urgent one.
  EXPECT_TRUE(first_after_wrap < last_before_wrap);
  EXPECT_FALSE(last_before_wrap < first_after_wrap);
  EXPECT_FALSE(last_before_wrap < last_before_wrap);

  PendingTask a = MakeTask(due, 5);
  PendingTask b = MakeTask(due, 6);
  EXPECT_TRUE(b < a);
  EXPECT_FALSE(a < b);
}

TEST(PendingTaskTest, DelayedQueuePopsEarliestThenInPostingOrder) {
  const TimeTicks now = TimeTicks::Now();
  const TimeTicks later = now + TimeDelta::FromMilliseconds(5);
  // Posting order, with the counter wrapping in the middle: INT32_MAX - 2 ... INT32_MIN + 2.
  std::vector<int32_t> sequence;
  for (uint32_t n = static_cast<uint32_t>(INT32_MAX) - 2; n != static_cast<uint32_t>(INT32_MIN) + 3; ++n)
    sequence.push_back(static_cast<int32_t>(n));
  ASSERT_EQ(6u, sequence.size());

  DelayedTaskQueue queue;
  // Pushed in a scrambled order; the tasks due later were posted first.
  const size_t scramble[] = {3, 0, 5, 1, 4, 2};
  for (size_t i : scramble)
    queue.push(MakeTask(i < 2 ? later : now, sequence[i]));

  std::vector<int32_t> popped;
  std::vector<TimeTicks> due_times;
  while (!queue.empty()) {
    popped.push_back(queue.top().sequence_num);
    due_times.push_back(queue.top().delayed_run_time);
    queue.pop();
  }
  const std::vector<int32_t> expected = {sequence[2], sequence[3], sequence[4], sequence[5], sequence[0],
                                         sequence[1]};
  EXPECT_EQ(expected, popped);
  EXPECT_EQ(now, due_times[0]);
  EXPECT_EQ(later, due_times[5]);
}

}  // namespace
}  // namespace base
