// The task profiler: an always-on, per-thread tally of posted tasks. For every posting location a thread
// counts births (tasks posted there); for every task run the running thread records a death with its queueing
// and run durations. Stopwatches around runs nest, so time spent in a nested loop or a nested task is left out
// of the enclosing task's run time.
//
// Times are 32-bit milliseconds of the tick clock (TrackedTime); they wrap after about 24 days, so every
// difference and sum is taken in unsigned arithmetic and read back as signed.
//
// Each thread's record (ThreadData) lives in a thread-local-storage slot and is never freed: other threads
// may read its maps under its map lock at any time. Records of unnamed threads are given back when the
// thread ends and reused by the next unnamed thread.
#ifndef BASE_PROFILER_TASK_PROFILER_H_
#define BASE_PROFILER_TASK_PROFILER_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "base/location.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace base {

struct TrackingInfo;

// Milliseconds of the tick clock, truncated to 32 bits; 0 means "no time" (profiling or timing is off).
class TrackedTime {
 public:
  constexpr TrackedTime() = default;
  constexpr explicit TrackedTime(int32_t ms) : ms_(ms) {}
  explicit TrackedTime(TimeTicks ticks);

  static TrackedTime Now() { return TrackedTime(TimeTicks::Now()); }

  bool is_null() const { return ms_ == 0; }
  int32_t ToMilliseconds() const { return ms_; }
  // The signed distance from `earlier`, correct across the 32-bit wrap of the clock.
  int32_t MillisecondsSince(TrackedTime earlier) const {
    return static_cast<int32_t>(static_cast<uint32_t>(ms_) - static_cast<uint32_t>(earlier.ms_));
  }
  bool operator==(const TrackedTime& other) const { return ms_ == other.ms_; }

 private:
  int32_t ms_ = 0;
};

class ThreadData;

// Tasks posted from one location on one thread. Never freed.
class Births {
 public:
  Births(const Location& location, const ThreadData& birth_thread)
      : location_(location), birth_thread_(&birth_thread) {}

  const Location& location() const { return location_; }
  const ThreadData* birth_thread() const { return birth_thread_; }
  int32_t birth_count() const { return birth_count_; }
  // Counts one more task, stopping at the largest 32-bit count.
  void RecordBirth();

 private:
  Location location_;
  const ThreadData* birth_thread_;
  int32_t birth_count_ = 1;
};

// What one thread saw of the runs of tasks born at one Births.
class DeathData {
 public:
  // Counts one run (count and the sampling count stop at the largest 32-bit value), adds its durations to
  // the sums (wrapping), raises the maxima, and keeps this run as the sample when `random_number` picks it:
  // every recorded run is equally likely to be the sample.
  void RecordDeath(int32_t queue_duration, int32_t run_duration, uint32_t random_number);

  int32_t count() const { return count_; }
  int32_t sample_probability_count() const { return sample_probability_count_; }
  int32_t run_duration_sum() const { return run_duration_sum_; }
  int32_t queue_duration_sum() const { return queue_duration_sum_; }
  int32_t run_duration_max() const { return run_duration_max_; }
  int32_t queue_duration_max() const { return queue_duration_max_; }
  int32_t run_duration_sample() const { return run_duration_sample_; }
  int32_t queue_duration_sample() const { return queue_duration_sample_; }

 private:
  int32_t count_ = 0;
  int32_t sample_probability_count_ = 0;
  int32_t run_duration_sum_ = 0;
  int32_t queue_duration_sum_ = 0;
  int32_t run_duration_max_ = 0;
  int32_t queue_duration_max_ = 0;
  int32_t run_duration_sample_ = 0;
  int32_t queue_duration_sample_ = 0;
  void* last_phase_snapshot_ = nullptr;  // phases are not kept here
};

class TaskStopwatch;

struct LocationLess {
  bool operator()(const Location& a, const Location& b) const;
};

class ThreadData {
 public:
  enum Status : int32_t {
    UNINITIALIZED = 0,
    DEACTIVATED = 2,
    PROFILING_ACTIVE = 3,
  };

  using BirthMap = std::map<Location, Births, LocationLess>;
  using DeathMap = std::map<const Births*, DeathData>;

  ThreadData(const ThreadData&) = delete;
  ThreadData& operator=(const ThreadData&) = delete;

  // Turns profiling on for the process (once).
  static void Initialize();
  // Initialize, then gives the calling thread a named record unless it already has a record.
  static void InitializeThreadContext(const std::string& name);
  // The calling thread's record: null before Initialize; a "WorkerThread-%d" record (reused from an ended
  // unnamed thread when one is free) for a thread that was never named.
  static ThreadData* Get();
  static Status status();

  // The profiler clock: null unless profiling is active and timing is enabled (the switch
  // "profiler-timing" turns it off with the value "0").
  static TrackedTime Now();

  // Counts a task posted from `location` on this thread; null (nothing counted) unless profiling is active.
  static Births* TallyABirthIfActive(const Location& location);
  // Records a run of a posted task on this thread, timed by `stopwatch`.
  static void TallyRunOnNamedThreadIfTracking(const TrackingInfo& completed_task,
                                              const TaskStopwatch& stopwatch);
  static void TallyRunOnWorkerThreadIfTracking(const Births* births, const TrackedTime& time_posted,
                                               const TaskStopwatch& stopwatch);

  const std::string& thread_name() const { return thread_name_; }
  // Above 0 for unnamed (worker) records, 0 for named ones.
  int32_t worker_thread_number() const { return worker_thread_number_; }

  // Copies of this record's tallies, taken under its map lock (any thread may call it).
  void SnapshotMaps(BirthMap* births, DeathMap* deaths) const;

  // Every record of the process, newest first.
  static ThreadData* first();
  ThreadData* next() const { return next_; }

  // Records made, and records given back by ending threads, since the process started.
  static int32_t worker_thread_data_creation_count();
  static int32_t cleanup_count();

 private:
  friend class TaskStopwatch;

  explicit ThreadData(const std::string& name);  // a named thread
  explicit ThreadData(int32_t worker_thread_number);
  // Links a new record into the process-wide list and seeds its random number.
  void PushToHeadOfList();

  static void OnThreadTermination(void* thread_data);
  void OnThreadTerminationCleanup();

  Births* TallyABirth(const Location& location);
  void TallyADeath(const Births& births, int32_t queue_duration, const TaskStopwatch& stopwatch);

  static bool IsTimingEnabled();

  ThreadData* next_ = nullptr;
  ThreadData* next_retired_worker_ = nullptr;
  std::string thread_name_;
  int32_t worker_thread_number_ = 0;
  BirthMap birth_map_;
  DeathMap death_map_;
  // Guards insertions into both maps, which other threads may read.
  mutable Lock map_lock_;
  uint32_t random_number_ = 0;
  int32_t incarnation_count_for_pool_ = -1;
  TaskStopwatch* current_stopwatch_ = nullptr;
};

// Times one task run on the calling thread. While it runs it is the thread's current stopwatch; when it
// stops, its wall-clock time is left out of the enclosing stopwatch's run time.
class TaskStopwatch {
 public:
  TaskStopwatch() = default;
  TaskStopwatch(const TaskStopwatch&) = delete;
  TaskStopwatch& operator=(const TaskStopwatch&) = delete;

  void Start();
  void Stop();

  TrackedTime StartTime() const { return start_time_; }
  // Wall-clock time less the time of nested stopwatches.
  int32_t RunDurationMs() const;
  ThreadData* GetThreadData() const { return current_thread_data_; }

 private:
  TrackedTime start_time_;
  int32_t wallclock_duration_ms_ = 0;
  ThreadData* current_thread_data_ = nullptr;
  int32_t excluded_duration_ms_ = 0;
  TaskStopwatch* parent_ = nullptr;
};

}  // namespace base

#endif  // BASE_PROFILER_TASK_PROFILER_H_
