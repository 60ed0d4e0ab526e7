#include "base/time/time.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/cpu.h"
#include "base/time/time_source.h"
#include "base/time/time_win_internal.h"
#include "base/timer/elapsed_timer.h"
#include "testing/test_support.h"

namespace base {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// The exact result clamped to [-INT64_MAX, INT64_MAX], computed in 128 bits.
int64_t Clamp128(__int128 exact) {
  if (exact > kMax)
    return kMax;
  if (exact < -static_cast<__int128>(kMax))
    return -kMax;
  return static_cast<int64_t>(exact);
}

TEST(SaturatedArithmeticTest, MatchesClampedExactResults) {
  std::mt19937_64 random(12345);
  std::vector<int64_t> edges = {0, 1, -1, kMax, kMax - 1, kMin, kMin + 1, kMin + 2, kMax / 2, kMin / 2};
  std::vector<int64_t> values = edges;
  for (int i = 0; i < 20000; ++i)
    values.push_back(static_cast<int64_t>(random()) >> (random() % 64));
  for (size_t i = 0; i < values.size(); ++i) {
    for (size_t j = i < edges.size() ? 0 : i % 50; j < values.size(); j += (i < edges.size() ? 1 : 997)) {
      const int64_t a = values[i], b = values[j];
      ASSERT_EQ(Clamp128(static_cast<__int128>(a) + b), time_internal::SaturatedAdd(a, b)) << a << " + " << b;
      ASSERT_EQ(Clamp128(static_cast<__int128>(a) - b), time_internal::SaturatedSub(a, b)) << a << " - " << b;
    }
  }
}

TEST(SaturatedArithmeticTest, InstantsSaturateAtTheMaximumAndItsNegative) {
  EXPECT_TRUE((TimeTicks::Max() + TimeDelta::FromMicroseconds(1)).is_max());
  EXPECT_TRUE((Time::Max() + TimeDelta::Max()).is_max());
  EXPECT_TRUE((Time::Max() - Time::Min()).is_max());
  const TimeTicks very_negative = TimeTicks::FromInternalValue(kMin + 10);
  EXPECT_EQ(-kMax, (very_negative - TimeDelta::FromMicroseconds(kMax / 2)).ToInternalValue());
  EXPECT_EQ(-kMax, (Time::Min() - TimeDelta::FromMicroseconds(1)).ToInternalValue());
  EXPECT_EQ(-kMax, (Time::Min() - Time::Max()).InMicroseconds());
  EXPECT_EQ(-kMax, (-TimeDelta::Max()).InMicroseconds());
  EXPECT_TRUE((-TimeDelta::FromMicroseconds(kMin)).is_max());
  EXPECT_EQ(-kMax, (TimeDelta::FromMicroseconds(-kMax) - TimeDelta::FromMicroseconds(1)).InMicroseconds());
  // Results inside the range are exact.
  EXPECT_EQ(kMax - 1, (Time::Max() - TimeDelta::FromMicroseconds(1)).ToInternalValue());
  EXPECT_EQ(-kMax + 1, (Time::Min() + TimeDelta::FromMicroseconds(1)).ToInternalValue());
}

TEST(TimeDeltaTest, MillisecondAndSecondConstructorsSaturate) {
  EXPECT_EQ(1500000, TimeDelta::FromMilliseconds(1500).InMicroseconds());
  EXPECT_EQ(-7000000, TimeDelta::FromSeconds(-7).InMicroseconds());
  EXPECT_EQ(kMax / 1000 * 1000, TimeDelta::FromMilliseconds(kMax / 1000).InMicroseconds());
  EXPECT_TRUE(TimeDelta::FromMilliseconds(kMax / 1000 + 1).is_max());
  EXPECT_TRUE(TimeDelta::FromSeconds(kMax / 1000000 + 1).is_max());
  EXPECT_EQ(-kMax, TimeDelta::FromMilliseconds(kMin / 1000 - 1).InMicroseconds());
  EXPECT_EQ(-kMax, TimeDelta::FromSeconds(kMin).InMicroseconds());
}

TEST(TimeDeltaTest, FromCheckedValueMapsTheValidityCodes) {
  EXPECT_EQ(42, TimeDelta::FromCheckedValue(CheckedInt64(42, CHECKED_VALID)).InMicroseconds());
  EXPECT_EQ(-kMax, TimeDelta::FromCheckedValue(CheckedInt64(42, CHECKED_UNDERFLOW)).InMicroseconds());
  EXPECT_TRUE(TimeDelta::FromCheckedValue(CheckedInt64(42, CHECKED_OVERFLOW)).is_max());
  CheckedInt64 product(kMax / 3);
  product.MultiplyBy(4);
  EXPECT_TRUE(TimeDelta::FromCheckedValue(product).is_max());
}

TEST(TimeDeltaTest, MillisecondConversions) {
  EXPECT_EQ(-1, TimeDelta::FromMicroseconds(-1500).InMilliseconds());
  EXPECT_EQ(1, TimeDelta::FromMicroseconds(1999).InMilliseconds());
  EXPECT_EQ(kMax, TimeDelta::Max().InMilliseconds());
  EXPECT_EQ(1, TimeDelta::FromMicroseconds(1).InMillisecondsRoundedUp());
  EXPECT_EQ(-1, TimeDelta::FromMicroseconds(-1500).InMillisecondsRoundedUp());
  EXPECT_EQ(0, TimeDelta::FromMicroseconds(-999).InMillisecondsRoundedUp());
  EXPECT_EQ(1, TimeDelta::FromMicroseconds(1000).InMillisecondsRoundedUp());
  EXPECT_EQ(kMax, TimeDelta::Max().InMillisecondsRoundedUp());
  EXPECT_EQ(kMax / 1000 + 1, TimeDelta::FromMicroseconds(kMax - 1).InMillisecondsRoundedUp());
  EXPECT_EQ(1.5, TimeDelta::FromMicroseconds(1500).InMillisecondsF());
  EXPECT_EQ(std::numeric_limits<double>::infinity(), TimeDelta::Max().InMillisecondsF());
}

TEST(TimeDeltaTest, RoundedUpIsTheCeilingForRandomDurations) {
  std::mt19937_64 random(777);
  for (int i = 0; i < 200000; ++i) {
    // Below 2^60 the 64-bit mantissa of long double keeps the quotient's fraction.
    const int64_t us = static_cast<int64_t>(random()) >> (4 + random() % 60);
    const long double ceiling = std::ceil(static_cast<long double>(us) / 1000.0L);
    ASSERT_EQ(static_cast<int64_t>(ceiling), TimeDelta::FromMicroseconds(us).InMillisecondsRoundedUp()) << us;
    ASSERT_EQ(static_cast<int64_t>(std::trunc(static_cast<long double>(us) / 1000.0L)),
              TimeDelta::FromMicroseconds(us).InMilliseconds())
        << us;
  }
}

FILETIME MakeFileTime(uint64_t value) {
  FILETIME file_time;
  file_time.dwLowDateTime = static_cast<DWORD>(value);
  file_time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return file_time;
}

TEST(TimeTest, FromFileTime) {
  EXPECT_TRUE(Time::FromFileTime(MakeFileTime(0)).is_null());
  EXPECT_TRUE(Time::FromFileTime(MakeFileTime(UINT64_MAX)).is_max());
  EXPECT_EQ(123456, Time::FromFileTime(MakeFileTime(1234569)).ToInternalValue());
  // The file-time count is unsigned: the upper half of its range is far in the future, not before 1601.
  EXPECT_EQ(static_cast<int64_t>(0x8000000000000000ull / 10),
            Time::FromFileTime(MakeFileTime(0x8000000000000000ull)).ToInternalValue());
  EXPECT_EQ(static_cast<int64_t>((UINT64_MAX - 1) / 10), Time::FromFileTime(MakeFileTime(UINT64_MAX - 1)).ToInternalValue());
}

TEST(TimeTest, ToTimeT) {
  Time::Exploded epoch = {1970, 1, 4, 1, 0, 0, 0, 0};
  Time unix_epoch = Time::FromUTCExploded(epoch);
  ASSERT_FALSE(unix_epoch.is_null());
  EXPECT_EQ(0, unix_epoch.ToTimeT());
  EXPECT_EQ(0, Time().ToTimeT());
  EXPECT_EQ(kMax, Time::Max().ToTimeT());
  const int64_t threshold = 0x7FD6A169B779BFFF;
  EXPECT_EQ(kMax, Time::FromInternalValue(threshold).ToTimeT());
  EXPECT_EQ((threshold - 1 - Time::kTimeTToMicrosecondsOffset) / 1000000,
            Time::FromInternalValue(threshold - 1).ToTimeT());
  // Before 1970 the seconds are truncated toward zero.
  EXPECT_EQ(-1, (unix_epoch - TimeDelta::FromMilliseconds(1500)).ToTimeT());
  EXPECT_EQ(0, (unix_epoch - TimeDelta::FromMilliseconds(500)).ToTimeT());
  // The C library agrees on the current time.
  const int64_t before = static_cast<int64_t>(time(nullptr));
  const int64_t now = Time::Now().ToTimeT();
  const int64_t after = static_cast<int64_t>(time(nullptr));
  EXPECT_LE(before, now);
  EXPECT_GE(after, now);
}

bool AllZero(const Time::Exploded& e) {
  return e.year == 0 && e.month == 0 && e.day_of_week == 0 && e.day_of_month == 0 && e.hour == 0 &&
         e.minute == 0 && e.second == 0 && e.millisecond == 0;
}

Time::Exploded Garbage() {
  return Time::Exploded{-1, -1, -1, -1, -1, -1, -1, -1};
}

TEST(TimeTest, ExplodeFailuresClearEveryField) {
  // Negative times, and times whose count of 100 ns units no longer fits in a 64-bit file time.
  const Time unconvertible[] = {Time::FromInternalValue(-1), Time::Min(), Time::Max(),
                                Time::FromInternalValue(kMax / 10 + 1)};
  for (bool local : {false, true}) {
    for (const Time& time : unconvertible) {
      Time::Exploded exploded = Garbage();
      EXPECT_FALSE(time.Explode(local, &exploded)) << time.ToInternalValue();
      EXPECT_TRUE(AllZero(exploded)) << time.ToInternalValue();
    }
  }
}

TEST(TimeTest, LargestFileTimeExplodes) {
  // 0x7FFFFFFFFFFFFFF6 hundred-nanosecond units: 30828-09-14 02:48:05.477 UTC.
  Time::Exploded exploded = Garbage();
  ASSERT_TRUE(Time::FromInternalValue(kMax / 10).UTCExplode(&exploded));
  EXPECT_EQ(30828, exploded.year);
  EXPECT_EQ(9, exploded.month);
  EXPECT_EQ(14, exploded.day_of_month);
  EXPECT_EQ(477, exploded.millisecond);
}

TEST(TimeTest, FromExplodedRejectsImpossibleDates) {
  const Time::Exploded valid = {2024, 2, 4, 29, 23, 59, 59, 999};
  ASSERT_FALSE(Time::FromUTCExploded(valid).is_null());
  auto with = [&](int Time::Exploded::*field, int value) {
    Time::Exploded changed = valid;
    changed.*field = value;
    return changed;
  };
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::year, 2023)).is_null());  // 2023-02-29
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::year, 1900)).is_null());  // not a leap year
  EXPECT_FALSE(Time::FromUTCExploded(with(&Time::Exploded::year, 2000)).is_null());  // a leap year
  EXPECT_TRUE(Time::FromLocalExploded(with(&Time::Exploded::year, 2023)).is_null());
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::month, 13)).is_null());
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::month, 0)).is_null());
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::day_of_month, 30)).is_null());
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::hour, 24)).is_null());
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::second, 60)).is_null());
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::millisecond, 1000)).is_null());
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::year, 1600)).is_null());
  // 2024 + 65536 would become 2024 again in a 16-bit field.
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::year, 2024 + 65536)).is_null());
  EXPECT_TRUE(Time::FromUTCExploded(with(&Time::Exploded::hour, -65536 + 23)).is_null());
  EXPECT_TRUE(Time::FromLocalExploded(with(&Time::Exploded::month, 13)).is_null());
  // The weekday is not checked.
  EXPECT_EQ(Time::FromUTCExploded(valid), Time::FromUTCExploded(with(&Time::Exploded::day_of_week, 6)));
}

struct OracleLine {
  int64_t us;
  Time::Exploded fields;
  int64_t time_t_value;
};

std::vector<OracleLine> ReadGmtimeOracle() {
  std::string text;
  std::vector<OracleLine> lines;
  if (!test_support::ReadFileBytes(test_support::TestDataDir() + L"\\gmtime.txt", &text))
    return lines;
  std::istringstream in(text);
  OracleLine line;
  Time::Exploded& f = line.fields;
  while (in >> line.us >> f.year >> f.month >> f.day_of_week >> f.day_of_month >> f.hour >> f.minute >> f.second >>
         f.millisecond >> line.time_t_value) {
    lines.push_back(line);
  }
  return lines;
}

// glibc's gmtime_r is the oracle for 100,000 random instants from 1601 to 30827 (made by testdata_setup.sh).
TEST(TimeTest, UtcRoundTripsAgreeWithTheCLibrary) {
  const std::vector<OracleLine> lines = ReadGmtimeOracle();
  ASSERT_EQ(100009u, lines.size());
  for (const OracleLine& line : lines) {
    const Time time = Time::FromInternalValue(line.us);
    Time::Exploded exploded = Garbage();
    ASSERT_TRUE(time.UTCExplode(&exploded)) << line.us;
    const Time::Exploded& expected = line.fields;
    ASSERT_EQ(expected.year, exploded.year) << line.us;
    ASSERT_EQ(expected.month, exploded.month) << line.us;
    ASSERT_EQ(expected.day_of_week, exploded.day_of_week) << line.us;
    ASSERT_EQ(expected.day_of_month, exploded.day_of_month) << line.us;
    ASSERT_EQ(expected.hour, exploded.hour) << line.us;
    ASSERT_EQ(expected.minute, exploded.minute) << line.us;
    ASSERT_EQ(expected.second, exploded.second) << line.us;
    ASSERT_EQ(expected.millisecond, exploded.millisecond) << line.us;
    // Back from the fields: the instant without its microseconds below the millisecond.
    ASSERT_EQ(line.us - line.us % 1000, Time::FromUTCExploded(expected).ToInternalValue()) << line.us;
    if (!time.is_null()) {  // the null time stands for "no time" and gives 0
      ASSERT_EQ(line.time_t_value, time.ToTimeT()) << line.us;
    }
  }
}

// The C runtime's own local-time conversion is the oracle for the local forms.
TEST(TimeTest, LocalRoundTripsAgreeWithTheCRuntime) {
  // The runtime reads a TZ variable in its own format, and wine passes the Linux one (TZ=Area/City) through, which
  // it would take for a zone without offset. Windows sets none: without it the runtime asks the system's zone.
  ASSERT_EQ(0, _putenv_s("TZ", ""));
  _tzset();
  std::mt19937_64 random(4242);
  constexpr int64_t kYear3000 = 32503680000;  // seconds from 1970 to 3000, the C runtime's limit
  for (int i = 0; i < 20000; ++i) {
    const __time64_t seconds = static_cast<__time64_t>(random() % kYear3000);
    const int milliseconds = static_cast<int>(random() % 1000);
    const Time time = Time::FromInternalValue((seconds * 1000 + milliseconds) * 1000 + Time::kTimeTToMicrosecondsOffset);
    struct tm local;
    ASSERT_EQ(0, _localtime64_s(&local, &seconds)) << seconds;
    Time::Exploded exploded = Garbage();
    ASSERT_TRUE(time.LocalExplode(&exploded));
    ASSERT_EQ(local.tm_year + 1900, exploded.year) << seconds;
    ASSERT_EQ(local.tm_mon + 1, exploded.month) << seconds;
    ASSERT_EQ(local.tm_wday, exploded.day_of_week) << seconds;
    ASSERT_EQ(local.tm_mday, exploded.day_of_month) << seconds;
    ASSERT_EQ(local.tm_hour, exploded.hour) << seconds;
    ASSERT_EQ(local.tm_min, exploded.minute) << seconds;
    ASSERT_EQ(local.tm_sec, exploded.second) << seconds;
    ASSERT_EQ(milliseconds, exploded.millisecond) << seconds;
    // The hour that repeats at the end of summer time has two answers, an hour apart, that read alike.
    const Time back = Time::FromLocalExploded(exploded);
    if (back != time) {
      ASSERT_EQ(TimeDelta::FromSeconds(3600), back > time ? back - time : time - back) << seconds;
      Time::Exploded again = Garbage();
      ASSERT_TRUE(back.LocalExplode(&again)) << seconds;
      ASSERT_EQ(std::make_tuple(exploded.year, exploded.month, exploded.day_of_month, exploded.hour, exploded.minute,
                                exploded.second, exploded.millisecond),
                std::make_tuple(again.year, again.month, again.day_of_month, again.hour, again.minute, again.second,
                                again.millisecond))
          << seconds;
    }
  }
}

TEST(TimeTest, NowFollowsTheSystemTime) {
  FILETIME before_file_time, after_file_time;
  GetSystemTimeAsFileTime(&before_file_time);
  const Time now = Time::Now();
  GetSystemTimeAsFileTime(&after_file_time);
  const Time before = Time::FromFileTime(before_file_time);
  const Time after = Time::FromFileTime(after_file_time);
  EXPECT_LE(before, now);
  // The anchor's ticks are read just before the system time, so the result may trail by the clocks' steps.
  EXPECT_LE(now, after + TimeDelta::FromMilliseconds(20));
  SystemTimeSource source;
  EXPECT_LE(now, source.Now());
}

// Measured against the 32-bit millisecond tick count, an independent clock of coarser resolution.
TEST(TimeTicksTest, AdvancesWithTheTickCount) {
  const ElapsedTimer timer;
  const TimeTicks start = TimeTicks::Now();
  const ULONGLONG start_count = GetTickCount64();
  TimeTicks previous = start;
  while (GetTickCount64() - start_count < 200) {
    const TimeTicks now = TimeTicks::Now();
    ASSERT_LE(previous, now);
    previous = now;
  }
  const TimeDelta elapsed = TimeTicks::Now() - start;
  const int64_t count_elapsed = static_cast<int64_t>(GetTickCount64() - start_count);
  EXPECT_NEAR(static_cast<double>(count_elapsed), elapsed.InMillisecondsF(), 40.0);
  EXPECT_LE(elapsed, timer.Elapsed());
}

TEST(TimeTicksTest, MonotonicAcrossThreads) {
  std::atomic<int64_t> latest{0};
  std::atomic<int> backwards{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        const int64_t seen = latest.load();
        const int64_t now = TimeTicks::Now().ToInternalValue();
        if (now < seen)
          backwards.fetch_add(1);
        int64_t expected = seen;
        while (expected < now && !latest.compare_exchange_weak(expected, now)) {
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(0, backwards.load());
}

TEST(ClockTest, PerformanceCounterConversionIsExact) {
  std::mt19937_64 random(99);
  // Real counters tick between a few MHz and a few GHz.
  for (int64_t frequency : {int64_t{10000000}, int64_t{3579545}, int64_t{2648437}, int64_t{1000}, int64_t{9999999999}}) {
    std::vector<int64_t> readings = {0, 1, 9223372036854, 9223372036855, 9223372036856, kMax, kMax - 1};
    for (int i = 0; i < 5000; ++i)
      readings.push_back(static_cast<int64_t>(random() >> (1 + random() % 63)));
    for (int64_t q : readings) {
      const __int128 exact = static_cast<__int128>(q) * 1000000 / frequency;
      if (exact > kMax)
        continue;  // not a reading any machine reaches
      ASSERT_EQ(static_cast<int64_t>(exact), time_internal::QPCValueToMicroseconds(q, frequency))
          << q << " at " << frequency;
    }
  }
}

TEST(ClockTest, RolloverClockMovesForwardAcrossTheWrap) {
  time_internal::RolloverClock clock;
  EXPECT_EQ(0xFFFFFFF0LL * 1000, clock.Advance(0xFFFFFFF0).InMicroseconds());
  const TimeDelta before_wrap = clock.Advance(0xFFFFFFF0);
  const TimeDelta after_wrap = clock.Advance(0x10);
  EXPECT_EQ(32000, (after_wrap - before_wrap).InMicroseconds());
  // A second wrap adds another 2^32 ms.
  clock.Advance(0xFFFFFFFF);
  EXPECT_EQ((2 * 0x100000000LL + 5) * 1000, clock.Advance(5).InMicroseconds());
  // Equal readings do not wrap.
  EXPECT_EQ((2 * 0x100000000LL + 5) * 1000, clock.Advance(5).InMicroseconds());
}

CPU CpuWithSignature(const char* vendor, uint32_t signature, bool non_stop_tsc) {
  CPU::Leaves leaves;
  leaves.max_leaf = 1;
  memcpy(leaves.vendor, vendor, 12);
  leaves.leaf1_eax = signature;
  leaves.max_extended_leaf = 0x80000007;
  leaves.leaf80000007_edx = non_stop_tsc ? 1u << 8 : 0;
  return CPU(leaves);
}

TEST(ClockTest, OnlyTheRealAmdFamily0FIsExcluded) {
  // Family 0x0F itself (Athlon 64, Opteron): base family 15, extended family 0.
  EXPECT_TRUE(time_internal::IsAmdFamily0F(CpuWithSignature("AuthenticAMD", 0x00020F12, true)));
  // Every later AMD family also reports base family 15, with the difference in the extended family: family
  // 0x19 (Zen 3, this build machine's 0x00A10F11) and 0x10.
  EXPECT_FALSE(time_internal::IsAmdFamily0F(CpuWithSignature("AuthenticAMD", 0x00A10F11, true)));
  EXPECT_FALSE(time_internal::IsAmdFamily0F(CpuWithSignature("AuthenticAMD", 0x00100F42, true)));
  // Intel's family 15 (Pentium 4) is not affected.
  EXPECT_FALSE(time_internal::IsAmdFamily0F(CpuWithSignature("GenuineIntel", 0x00000F29, true)));
  EXPECT_FALSE(time_internal::IsAmdFamily0F(CpuWithSignature("AuthenticAMD", 0x00800F82, false)));
}

// Writers store pairs (t, 7t + 3) while readers load; a reader must never see a time with another pair's
// ticks.
TEST(ClockTest, AnchorIsAlwaysReadAsTheStoredPair) {
  time_internal::TimeAnchor anchor;
  int64_t time_us = -1, ticks_us = -1;
  EXPECT_FALSE(anchor.Load(&time_us, &ticks_us));
  constexpr int kWriters = 2, kReaders = 4;
  constexpr int64_t kLoadsPerReader = 200000;
  std::atomic<int> readers_done{0};
  std::atomic<int64_t> mismatches{0};
  std::atomic<int64_t> stores{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int64_t i = 1 + w; readers_done.load() < kReaders; i += kWriters) {
        anchor.TryStore(i, 7 * i + 3);
        stores.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      for (int64_t loads = 0; loads < kLoadsPerReader;) {
        int64_t t, k;
        if (!anchor.Load(&t, &k))
          continue;  // no writer has stored yet
        ++loads;
        if (k != 7 * t + 3)
          mismatches.fetch_add(1);
      }
      readers_done.fetch_add(1);
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_GT(stores.load(), 0);
  EXPECT_EQ(0, mismatches.load());
  ASSERT_TRUE(anchor.Load(&time_us, &ticks_us));
  EXPECT_EQ(7 * time_us + 3, ticks_us);
}

std::atomic<int> g_begin_calls{0};
std::atomic<int> g_end_calls{0};
std::atomic<UINT> g_period{0};
MMRESULT WINAPI FakeBegin(UINT period) {
  g_period = period;
  ++g_begin_calls;
  return TIMERR_NOERROR;
}
MMRESULT WINAPI FakeEnd(UINT period) {
  g_period = period;
  ++g_end_calls;
  return TIMERR_NOERROR;
}

TEST(HighResolutionTimerTest, NestedActivationsChangeThePeriodOnce) {
  time_internal::SetTimerPeriodFunctionsForTesting(&FakeBegin, &FakeEnd);
  Time::ActivateHighResolutionTimer(true);
  Time::ActivateHighResolutionTimer(true);
  EXPECT_EQ(1, g_begin_calls.load());
  EXPECT_EQ(4u, g_period.load());
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ(0, g_end_calls.load());
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ(1, g_end_calls.load());
  // One deactivation too many changes nothing, and the next activation begins a period again.
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ(1, g_end_calls.load());
  Time::ActivateHighResolutionTimer(true);
  EXPECT_EQ(2, g_begin_calls.load());
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ(2, g_end_calls.load());

  // Threads toggling it concurrently keep the count consistent.
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 5000; ++i) {
        Time::ActivateHighResolutionTimer(true);
        Time::ActivateHighResolutionTimer(false);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(g_begin_calls.load(), g_end_calls.load());
  time_internal::SetTimerPeriodFunctionsForTesting(nullptr, nullptr);
}

TEST(ThreadTicksTest, UnsupportedWithoutThreadCycleCounts) {
  ULONG64 cycles = 0;
  if (QueryThreadCycleTime(GetCurrentThread(), &cycles))
    GTEST_SKIP() << "this system counts thread cycles";
  EXPECT_FALSE(ThreadTicks::IsSupported());
  EXPECT_TRUE(ThreadTicks::Now().is_null());
  EXPECT_TRUE(ThreadTicks::GetForThread(GetCurrentThread()).is_null());
}

TEST(ThreadTicksTest, CountsTheThreadsWork) {
  if (!ThreadTicks::IsSupported())
    GTEST_SKIP() << (test_support::IsRunningUnderWine() ? "wine lacks QueryThreadCycleTime"
                                                        : "no invariant time-stamp counter");
  // The rate needs 0.05 s between the first and a later measurement: spin the clock past that.
  ThreadTicks::Now();
  const TimeTicks start = TimeTicks::Now();
  while (TimeTicks::Now() - start < TimeDelta::FromMilliseconds(100)) {
  }
  const ThreadTicks begin = ThreadTicks::Now();
  ASSERT_FALSE(begin.is_null());
  volatile uint64_t sink = 0;
  const TimeTicks busy_start = TimeTicks::Now();
  while (TimeTicks::Now() - busy_start < TimeDelta::FromMilliseconds(50))
    sink = sink + 1;
  const TimeDelta used = ThreadTicks::Now() - begin;
  EXPECT_GT(used, TimeDelta::FromMilliseconds(10));
  EXPECT_LE(used, TimeTicks::Now() - busy_start + TimeDelta::FromMilliseconds(5));
}

}  // namespace
}  // namespace base
