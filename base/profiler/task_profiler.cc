#include "base/profiler/task_profiler.h"

#include <climits>
#include <cstring>

#include "base/command_line.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/threading/thread_local_storage.h"
#include "base/tracking_info.h"

namespace base {
namespace {

// Sums of durations wrap like the clock they come from.
int32_t WrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t WrappingSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

int CompareText(const char* a, const char* b) {
  if (a == b)
    return 0;
  if (!a || !b)
    return a ? 1 : -1;
  return std::strcmp(a, b);
}

std::atomic<int32_t> g_status{ThreadData::UNINITIALIZED};
constinit ThreadLocalStorage::Slot g_thread_data_slot;

// Guards the lists and counters below.
constinit LazyInstance<Lock>::Leaky g_list_lock;
std::atomic<ThreadData*> g_all_thread_data_head{nullptr};
ThreadData* g_first_retired_worker = nullptr;
int32_t g_worker_thread_data_creation_count = 0;
int32_t g_incarnation_counter = 0;
int32_t g_cleanup_count = 0;

constexpr char kProfilerTimingSwitch[] = "profiler-timing";

// The "profiler-timing" switch once read: 0 not read yet, 1 timing on, 2 timing off.
enum TimingSwitch : int { kTimingUnread = 0, kTimingEnabled = 1, kTimingDisabled = 2 };
std::atomic<int> g_timing_switch{kTimingUnread};

// Reads "profiler-timing" into *timing; false while the process command line does not exist yet.
bool ReadTimingSwitch(int* timing) {
  if (!CommandLine::IsInitialized())
    return false;
  *timing = CommandLine::ForCurrentProcess()->GetSwitchValueASCII(kProfilerTimingSwitch) == "0" ? kTimingDisabled
                                                                                               : kTimingEnabled;
  return true;
}

}  // namespace

TrackedTime::TrackedTime(TimeTicks ticks)
    : ms_(static_cast<int32_t>(static_cast<uint32_t>(
          static_cast<uint64_t>(ticks.ToInternalValue() / 1000)))) {}

void Births::RecordBirth() {
  if (birth_count_ < INT32_MAX)
    ++birth_count_;
}

void DeathData::RecordDeath(int32_t queue_duration, int32_t run_duration, uint32_t random_number) {
  if (count_ < INT32_MAX)
    ++count_;
  if (sample_probability_count_ < INT32_MAX)
    ++sample_probability_count_;

  queue_duration_sum_ = WrappingAdd(queue_duration_sum_, queue_duration);
  run_duration_sum_ = WrappingAdd(run_duration_sum_, run_duration);
  if (queue_duration_max_ < queue_duration)
    queue_duration_max_ = queue_duration;
  if (run_duration_max_ < run_duration)
    run_duration_max_ = run_duration;

  // Run n replaces the sample with probability 1/n: a uniform choice among all runs so far.
  if (random_number % static_cast<uint32_t>(sample_probability_count_) == 0) {
    queue_duration_sample_ = queue_duration;
    run_duration_sample_ = run_duration;
  }
}

bool LocationLess::operator()(const Location& a, const Location& b) const {
  if (a.line_number() != b.line_number())
    return a.line_number() < b.line_number();
  if (int order = CompareText(a.file_name(), b.file_name()))
    return order < 0;
  return CompareText(a.function_name(), b.function_name()) < 0;
}

// static
void ThreadData::Initialize() {
  if (g_status.load(std::memory_order_acquire) >= DEACTIVATED)
    return;
  AutoLock lock(g_list_lock.Get());
  if (g_status.load(std::memory_order_relaxed) >= DEACTIVATED)
    return;
  if (!g_thread_data_slot.initialized())
    g_thread_data_slot.Initialize(&ThreadData::OnThreadTermination);
  ++g_incarnation_counter;
  g_status.store(PROFILING_ACTIVE, std::memory_order_release);
}

// static
void ThreadData::InitializeThreadContext(const std::string& name) {
  Initialize();
  if (g_thread_data_slot.Get())
    return;
  g_thread_data_slot.Set(new ThreadData(name));
}

// static
ThreadData* ThreadData::Get() {
  // The slot is made by Initialize before the status leaves UNINITIALIZED.
  if (g_status.load(std::memory_order_acquire) == UNINITIALIZED)
    return nullptr;
  if (ThreadData* registered = static_cast<ThreadData*>(g_thread_data_slot.Get()))
    return registered;

  ThreadData* worker = nullptr;
  int32_t worker_number = 0;
  {
    AutoLock lock(g_list_lock.Get());
    if (g_first_retired_worker) {
      worker = g_first_retired_worker;
      g_first_retired_worker = worker->next_retired_worker_;
      worker->next_retired_worker_ = nullptr;
    } else {
      worker_number = ++g_worker_thread_data_creation_count;
    }
  }
  // A new record takes the list lock itself to link in.
  if (!worker)
    worker = new ThreadData(worker_number);
  g_thread_data_slot.Set(worker);
  return worker;
}

// static
ThreadData::Status ThreadData::status() {
  return static_cast<Status>(g_status.load(std::memory_order_acquire));
}

ThreadData::ThreadData(const std::string& name) : thread_name_(name) {
  PushToHeadOfList();
}

ThreadData::ThreadData(int32_t worker_thread_number) : worker_thread_number_(worker_thread_number) {
  CHECK_GT(worker_thread_number, 0);
  thread_name_ = StringPrintf("WorkerThread-%d", worker_thread_number);
  PushToHeadOfList();
}

void ThreadData::PushToHeadOfList() {
  // A cheap per-record seed for the samples: the record's address and the clock.
  random_number_ += static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this) / sizeof(ThreadData));
  random_number_ ^= static_cast<uint32_t>(Now().ToMilliseconds());

  AutoLock lock(g_list_lock.Get());
  incarnation_count_for_pool_ = g_incarnation_counter;
  next_ = g_all_thread_data_head.load(std::memory_order_relaxed);
  g_all_thread_data_head.store(this, std::memory_order_release);
}

// static
ThreadData* ThreadData::first() {
  return g_all_thread_data_head.load(std::memory_order_acquire);
}

// static
int32_t ThreadData::worker_thread_data_creation_count() {
  AutoLock lock(g_list_lock.Get());
  return g_worker_thread_data_creation_count;
}

// static
int32_t ThreadData::cleanup_count() {
  AutoLock lock(g_list_lock.Get());
  return g_cleanup_count;
}

// static
void ThreadData::OnThreadTermination(void* thread_data) {
  if (thread_data)
    static_cast<ThreadData*>(thread_data)->OnThreadTerminationCleanup();
}

void ThreadData::OnThreadTerminationCleanup() {
  AutoLock lock(g_list_lock.Get());
  if (incarnation_count_for_pool_ != g_incarnation_counter)
    return;
  ++g_cleanup_count;
  // Named records stay with their name; unnamed ones go to the next unnamed thread.
  if (worker_thread_number_ == 0)
    return;
  next_retired_worker_ = g_first_retired_worker;
  g_first_retired_worker = this;
}

// static
bool ThreadData::IsTimingEnabled() {
  int timing = g_timing_switch.load(std::memory_order_relaxed);
  if (timing == kTimingUnread) {
    // Until the process command line exists the answer is "on", and it is asked again next time.
    if (!ReadTimingSwitch(&timing))
      return true;
    g_timing_switch.store(timing, std::memory_order_relaxed);
  }
  return timing == kTimingEnabled;
}

// static
TrackedTime ThreadData::Now() {
  if (g_status.load(std::memory_order_acquire) == PROFILING_ACTIVE && IsTimingEnabled())
    return TrackedTime::Now();
  return TrackedTime();
}

// static
Births* ThreadData::TallyABirthIfActive(const Location& location) {
  if (status() != PROFILING_ACTIVE)
    return nullptr;
  ThreadData* current = Get();
  if (!current)
    return nullptr;
  return current->TallyABirth(location);
}

Births* ThreadData::TallyABirth(const Location& location) {
  AutoLock lock(map_lock_);
  auto it = birth_map_.find(location);
  if (it != birth_map_.end()) {
    it->second.RecordBirth();
    return &it->second;
  }
  return &birth_map_.emplace(location, Births(location, *this)).first->second;
}

void ThreadData::TallyADeath(const Births& births, int32_t queue_duration, const TaskStopwatch& stopwatch) {
  const int32_t run_duration = stopwatch.RunDurationMs();
  random_number_ += static_cast<uint32_t>(queue_duration) + static_cast<uint32_t>(run_duration) + 0x7FFFFFFFu;
  random_number_ ^= static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&births) / sizeof(Births));

  AutoLock lock(map_lock_);
  death_map_[&births].RecordDeath(queue_duration, run_duration, random_number_);
}

// static
void ThreadData::TallyRunOnNamedThreadIfTracking(const TrackingInfo& completed_task,
                                                 const TaskStopwatch& stopwatch) {
  TallyRunOnWorkerThreadIfTracking(completed_task.birth_tally, completed_task.EffectivePostTime(), stopwatch);
}

// static
void ThreadData::TallyRunOnWorkerThreadIfTracking(const Births* births, const TrackedTime& time_posted,
                                                  const TaskStopwatch& stopwatch) {
  if (!births)
    return;
  ThreadData* current = stopwatch.GetThreadData();
  if (!current)
    return;
  const TrackedTime start = stopwatch.StartTime();
  const int32_t queue_duration = start.is_null() ? 0 : start.MillisecondsSince(time_posted);
  current->TallyADeath(*births, queue_duration, stopwatch);
}

void ThreadData::SnapshotMaps(BirthMap* births, DeathMap* deaths) const {
  AutoLock lock(map_lock_);
  *births = birth_map_;
  *deaths = death_map_;
}

void TaskStopwatch::Start() {
  start_time_ = ThreadData::Now();
  current_thread_data_ = ThreadData::Get();
  if (!current_thread_data_)
    return;
  parent_ = current_thread_data_->current_stopwatch_;
  current_thread_data_->current_stopwatch_ = this;
}

void TaskStopwatch::Stop() {
  const TrackedTime end_time = ThreadData::Now();
  if (!start_time_.is_null() && !end_time.is_null())
    wallclock_duration_ms_ = end_time.MillisecondsSince(start_time_);
  if (!current_thread_data_)
    return;
  current_thread_data_->current_stopwatch_ = parent_;
  if (parent_)
    parent_->excluded_duration_ms_ = WrappingAdd(parent_->excluded_duration_ms_, wallclock_duration_ms_);
}

int32_t TaskStopwatch::RunDurationMs() const {
  return WrappingSub(wallclock_duration_ms_, excluded_duration_ms_);
}

}  // namespace base
