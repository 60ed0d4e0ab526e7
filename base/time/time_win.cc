// The Windows clocks behind Time, TimeTicks and ThreadTicks, and the calendar conversions.
#include <windows.h>
#include <mmsystem.h>
#include <x86intrin.h>

#include <atomic>

#include "base/cpu.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"
#include "base/time/time_win_internal.h"

namespace base {
namespace time_internal {

int64_t QPCValueToMicroseconds(int64_t qpc_value, int64_t frequency) {
  constexpr int64_t kMicrosecondsPerSecond = 1000000;
  // Below this the product with 10^6 fits in 64 bits.
  constexpr int64_t kQPCOverflowThreshold = 9223372036855;
  if (qpc_value < kQPCOverflowThreshold)
    return qpc_value * kMicrosecondsPerSecond / frequency;
  const int64_t whole_seconds = qpc_value / frequency;
  const int64_t leftover_ticks = qpc_value % frequency;
  return whole_seconds * kMicrosecondsPerSecond + leftover_ticks * kMicrosecondsPerSecond / frequency;
}

bool IsAmdFamily0F(const CPU& cpu) {
  // The real family is the base family plus the extended family; every later AMD family also reports a
  // base family of 15, so the extended family must be 0.
  return cpu.vendor_name() == "AuthenticAMD" && cpu.family() == 15 && cpu.extended_family() == 0;
}

TimeDelta RolloverClock::Advance(DWORD now_ms) {
  AutoLock hold(lock_);
  if (now_ms < last_seen_ms_)
    rollover_ms_ += 0x100000000;
  last_seen_ms_ = now_ms;
  return TimeDelta::FromMilliseconds(static_cast<int64_t>(now_ms) + rollover_ms_);
}

void TimeAnchor::TryStore(int64_t time_us, int64_t ticks_us) {
  uint64_t sequence = sequence_.load(std::memory_order_relaxed);
  if ((sequence & 1) || !sequence_.compare_exchange_strong(sequence, sequence + 1, std::memory_order_relaxed))
    return;
  // The odd sequence becomes visible before either half changes.
  std::atomic_thread_fence(std::memory_order_release);
  time_us_.store(time_us, std::memory_order_relaxed);
  ticks_us_.store(ticks_us, std::memory_order_relaxed);
  sequence_.store(sequence + 2, std::memory_order_release);
}

bool TimeAnchor::Load(int64_t* time_us, int64_t* ticks_us) const {
  for (;;) {
    const uint64_t before = sequence_.load(std::memory_order_acquire);
    if (before == 0)
      return false;
    const int64_t time = time_us_.load(std::memory_order_relaxed);
    const int64_t ticks = ticks_us_.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    // An odd or changed sequence means a store overlapped the reads: read again.
    if ((before & 1) == 0 && sequence_.load(std::memory_order_relaxed) == before) {
      *time_us = time;
      *ticks_us = ticks;
      return true;
    }
    YieldProcessor();
  }
}

namespace {

std::atomic<TimerPeriodFunction> g_begin_period_for_testing{nullptr};
std::atomic<TimerPeriodFunction> g_end_period_for_testing{nullptr};

}  // namespace

void SetTimerPeriodFunctionsForTesting(TimerPeriodFunction begin, TimerPeriodFunction end) {
  g_begin_period_for_testing.store(begin);
  g_end_period_for_testing.store(end);
}

}  // namespace time_internal

namespace {

constexpr int64_t kMaxTimeNowDriftMs = 60000;
constexpr UINT kHighResolutionTimerPeriodMs = 4;
constexpr double kMinimumTscMeasuringSeconds = 0.05;

// --- TimeTicks clock -------------------------------------------------------------------------------------

using time_internal::TickFunction;  // microseconds of the chosen clock
int64_t InitialNowFunction();

// Starts at the initialiser, which chooses the clock, stores it here and calls it.
std::atomic<TickFunction> g_tick_function{&InitialNowFunction};
std::atomic<int64_t> g_qpc_frequency{0};
constinit time_internal::RolloverClock g_rollover_clock;

int64_t RolloverProtectedNow() {
  return g_rollover_clock.Advance(timeGetTime()).InMicroseconds();
}

int64_t QPCNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return time_internal::QPCValueToMicroseconds(now.QuadPart, g_qpc_frequency.load(std::memory_order_relaxed));
}

int64_t InitialNowFunction() {
  LARGE_INTEGER frequency;
  const int64_t ticks_per_second = QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
  const CPU cpu;
  // The performance counter is only trusted where it rests on an invariant time-stamp counter that agrees
  // between cores.
  const TickFunction chosen = ticks_per_second > 0 && cpu.has_non_stop_time_stamp_counter() &&
                                      !time_internal::IsAmdFamily0F(cpu)
                                  ? &QPCNow
                                  : &RolloverProtectedNow;
  g_qpc_frequency.store(ticks_per_second, std::memory_order_relaxed);
  g_tick_function.store(chosen, std::memory_order_release);  // publishes the frequency with it
  return chosen();
}

// --- Time::Now anchor ------------------------------------------------------------------------------------

constinit time_internal::TimeAnchor g_now_anchor;

void TakeNowAnchor() {
  const int64_t ticks = TimeTicks::Now().ToInternalValue();
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  g_now_anchor.TryStore(Time::FromFileTime(now).ToInternalValue(), ticks);
}

// --- High-resolution system timer ------------------------------------------------------------------------

constinit LazyInstance<Lock>::Leaky g_high_resolution_lock;
int g_high_resolution_activations = 0;  // guarded by g_high_resolution_lock

void BeginTimerPeriod() {
  if (auto begin = time_internal::g_begin_period_for_testing.load())
    begin(kHighResolutionTimerPeriodMs);
  else
    timeBeginPeriod(kHighResolutionTimerPeriodMs);
}

void EndTimerPeriod() {
  if (auto end = time_internal::g_end_period_for_testing.load())
    end(kHighResolutionTimerPeriodMs);
  else
    timeEndPeriod(kHighResolutionTimerPeriodMs);
}

// --- Thread CPU time -------------------------------------------------------------------------------------

struct InitialTscReadings {
  uint64_t tsc;
  int64_t performance_counter;
};

// Cycles per second of the time-stamp counter, measured against the performance counter; 0 until at least
// 0.05 s passed since the first call.
double TscTicksPerSecond() {
  static std::atomic<double> cached_rate{0.0};
  const double cached = cached_rate.load(std::memory_order_relaxed);
  if (cached != 0.0)
    return cached;

  // A higher priority keeps a context switch from landing between the two readings.
  const HANDLE thread = GetCurrentThread();
  const int previous_priority = GetThreadPriority(thread);
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  static const InitialTscReadings initial = [] {
    InitialTscReadings readings;
    readings.tsc = __rdtsc();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    readings.performance_counter = counter.QuadPart;
    return readings;
  }();
  const uint64_t tsc_now = __rdtsc();
  LARGE_INTEGER counter_now;
  QueryPerformanceCounter(&counter_now);
  SetThreadPriority(thread, previous_priority);

  LARGE_INTEGER frequency;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
    return 0.0;
  const double elapsed_seconds =
      static_cast<double>(counter_now.QuadPart - initial.performance_counter) / static_cast<double>(frequency.QuadPart);
  if (elapsed_seconds < kMinimumTscMeasuringSeconds)
    return 0.0;
  const double rate = static_cast<double>(tsc_now - initial.tsc) / elapsed_seconds;
  cached_rate.store(rate, std::memory_order_relaxed);
  return rate;
}

void ClearExploded(Time::Exploded* exploded) {
  *exploded = Time::Exploded{};
}

bool FitsInWord(int value) {
  return value >= 0 && value <= 0xFFFF;
}

// Whether the day exists in that month of the Gregorian calendar. Some implementations of the system's
// conversion roll February 29 of a common year over to March 1 instead of refusing it.
bool IsDayOfMonth(int year, int month, int day) {
  static const int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1)
    return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace

// static
TimeTicks TimeTicks::Now() {
  return TimeTicks() + TimeDelta::FromMicroseconds(g_tick_function.load(std::memory_order_acquire)());
}

namespace time_internal {

TickFunction SetTickFunctionForTesting(TickFunction function) {
  TimeTicks::Now();  // settles the start-up choice first, so that it is what the caller gets back
  return g_tick_function.exchange(function, std::memory_order_acq_rel);
}

}  // namespace time_internal

// static
Time Time::Now() {
  for (;;) {
    int64_t anchor_time, anchor_ticks;
    if (!g_now_anchor.Load(&anchor_time, &anchor_ticks)) {
      TakeNowAnchor();
      continue;
    }
    const TimeDelta elapsed = TimeTicks::Now() - TimeTicks::FromInternalValue(anchor_ticks);
    if (elapsed.InMilliseconds() > kMaxTimeNowDriftMs) {
      TakeNowAnchor();
      continue;
    }
    return Time(anchor_time) + elapsed;
  }
}

bool Time::Explode(bool is_local, Exploded* exploded) const {
  // A file time counts 100 ns units in 64 bits: larger times have no file time.
  if (us_ < 0 || us_ > time_internal::kMax / 10) {
    ClearExploded(exploded);
    return false;
  }
  const uint64_t units = static_cast<uint64_t>(us_) * 10;
  FILETIME file_time;
  file_time.dwLowDateTime = static_cast<DWORD>(units);
  file_time.dwHighDateTime = static_cast<DWORD>(units >> 32);
  SYSTEMTIME utc, result;
  bool converted = FileTimeToSystemTime(&file_time, &utc) != FALSE;
  if (converted && is_local)
    converted = SystemTimeToTzSpecificLocalTime(nullptr, &utc, &result) != FALSE;
  else
    result = utc;
  if (!converted) {
    ClearExploded(exploded);
    return false;
  }
  exploded->year = result.wYear;
  exploded->month = result.wMonth;
  exploded->day_of_week = result.wDayOfWeek;
  exploded->day_of_month = result.wDay;
  exploded->hour = result.wHour;
  exploded->minute = result.wMinute;
  exploded->second = result.wSecond;
  exploded->millisecond = result.wMilliseconds;
  return true;
}

// static
Time Time::FromExploded(bool is_local, const Exploded& exploded) {
  // A field outside the 16-bit range would wrap into a different, valid-looking date.
  if (!FitsInWord(exploded.year) || !FitsInWord(exploded.month) || !FitsInWord(exploded.day_of_month) ||
      !FitsInWord(exploded.hour) || !FitsInWord(exploded.minute) || !FitsInWord(exploded.second) ||
      !FitsInWord(exploded.millisecond) || !IsDayOfMonth(exploded.year, exploded.month, exploded.day_of_month)) {
    return Time();
  }
  SYSTEMTIME fields = {};
  fields.wYear = static_cast<WORD>(exploded.year);
  fields.wMonth = static_cast<WORD>(exploded.month);
  fields.wDayOfWeek = FitsInWord(exploded.day_of_week) ? static_cast<WORD>(exploded.day_of_week) : 0;
  fields.wDay = static_cast<WORD>(exploded.day_of_month);
  fields.wHour = static_cast<WORD>(exploded.hour);
  fields.wMinute = static_cast<WORD>(exploded.minute);
  fields.wSecond = static_cast<WORD>(exploded.second);
  fields.wMilliseconds = static_cast<WORD>(exploded.millisecond);

  SYSTEMTIME utc;
  if (is_local) {
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &fields, &utc))
      return Time();
  } else {
    utc = fields;
  }
  FILETIME file_time;
  if (!SystemTimeToFileTime(&utc, &file_time))
    return Time();
  return FromFileTime(file_time);
}

// static
void Time::ActivateHighResolutionTimer(bool activate) {
  AutoLock hold(g_high_resolution_lock.Get());
  if (activate) {
    if (g_high_resolution_activations++ == 0)
      BeginTimerPeriod();
    return;
  }
  if (g_high_resolution_activations == 0) {
    LOG(ERROR) << "High-resolution timer deactivated more often than activated";
    return;
  }
  if (--g_high_resolution_activations == 0)
    EndTimerPeriod();
}

// static
bool ThreadTicks::IsSupported() {
  static const bool supported = [] {
    const CPU cpu;
    if (!cpu.has_non_stop_time_stamp_counter() || time_internal::IsAmdFamily0F(cpu))
      return false;
    // Some systems do not count thread cycles at all.
    ULONG64 cycles = 0;
    return QueryThreadCycleTime(GetCurrentThread(), &cycles) != FALSE;
  }();
  return supported;
}

// static
ThreadTicks ThreadTicks::Now() {
  return GetForThread(GetCurrentThread());
}

// static
ThreadTicks ThreadTicks::GetForThread(HANDLE thread) {
  ULONG64 cycles = 0;
  if (!QueryThreadCycleTime(thread, &cycles))
    return ThreadTicks();
  const double rate = TscTicksPerSecond();
  if (rate == 0.0)
    return ThreadTicks();
  return ThreadTicks(static_cast<int64_t>(static_cast<double>(cycles) / rate * 1000000.0));
}

}  // namespace base
