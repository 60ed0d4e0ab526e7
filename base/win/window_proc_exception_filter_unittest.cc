#include "base/win/window_proc_exception_filter.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

namespace base {
namespace win {
namespace {

EXCEPTION_POINTERS* g_seen_info = nullptr;
void* g_seen_value = nullptr;

int HandlingFilter(EXCEPTION_POINTERS* info, void* value) {
  g_seen_info = info;
  g_seen_value = value;
  return EXCEPTION_EXECUTE_HANDLER;
}

int ContinuingFilter(EXCEPTION_POINTERS*, void*) {
  return EXCEPTION_CONTINUE_EXECUTION;
}

class WindowProcExceptionFilterTest : public ::testing::Test {
 protected:
  void TearDown() override { SetWindowProcExceptionFilter(nullptr); }
};

TEST_F(WindowProcExceptionFilterTest, WithoutFilterTheSearchContinues) {
  SetWindowProcExceptionFilter(nullptr);
  EXCEPTION_POINTERS info = {};
  EXPECT_EQ(EXCEPTION_CONTINUE_SEARCH, CallWindowProcExceptionFilter(&info, nullptr));
  EXPECT_EQ(0, CallWindowProcExceptionFilter(nullptr, &info));
}

TEST_F(WindowProcExceptionFilterTest, FilterGetsBothArgumentsAndGivesTheVerdict) {
  EXPECT_EQ(nullptr, SetWindowProcExceptionFilter(&HandlingFilter));
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  EXCEPTION_POINTERS info = {&record, nullptr};
  int passed_through = 0;
  EXPECT_EQ(EXCEPTION_EXECUTE_HANDLER, CallWindowProcExceptionFilter(&info, &passed_through));
  EXPECT_EQ(&info, g_seen_info);
  EXPECT_EQ(&passed_through, g_seen_value);

  EXPECT_EQ(&HandlingFilter, SetWindowProcExceptionFilter(&ContinuingFilter));
  EXPECT_EQ(EXCEPTION_CONTINUE_EXECUTION, CallWindowProcExceptionFilter(&info, nullptr));
  EXPECT_EQ(&ContinuingFilter, SetWindowProcExceptionFilter(nullptr));
  EXPECT_EQ(EXCEPTION_CONTINUE_SEARCH, CallWindowProcExceptionFilter(&info, nullptr));
}

// Eight distinct filters for the exchange test.
template <int kId>
int NumberedFilter(EXCEPTION_POINTERS*, void*) {
  return 100 + kId;
}
constexpr std::array<WinProcExceptionFilter, 8> kFilters = {
    &NumberedFilter<0>, &NumberedFilter<1>, &NumberedFilter<2>, &NumberedFilter<3>,
    &NumberedFilter<4>, &NumberedFilter<5>, &NumberedFilter<6>, &NumberedFilter<7>};

int IndexOf(WinProcExceptionFilter filter) {
  for (size_t i = 0; i < kFilters.size(); ++i) {
    if (kFilters[i] == filter)
      return static_cast<int>(i);
  }
  return filter ? -2 : -1;
}

TEST_F(WindowProcExceptionFilterTest, ConcurrentExchangesLoseNoFilter) {
  // Every filter installed is handed back exactly once by a later exchange, or is the one left installed.
  constexpr int kThreads = 4, kExchanges = 20000;
  std::vector<std::array<int, 8>> installed(kThreads), returned(kThreads);
  std::vector<int> returned_null(kThreads), returned_unknown(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    installed[t].fill(0);
    returned[t].fill(0);
    threads.emplace_back([&, t] {
      for (int i = 0; i < kExchanges; ++i) {
        const int mine = (t * 3 + i) % 8;
        ++installed[t][mine];
        const int previous = IndexOf(SetWindowProcExceptionFilter(kFilters[mine]));
        if (previous >= 0)
          ++returned[t][previous];
        else if (previous == -1)
          ++returned_null[t];
        else
          ++returned_unknown[t];
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  const int left_installed = IndexOf(SetWindowProcExceptionFilter(nullptr));
  ASSERT_GE(left_installed, 0);
  int nulls = 0;
  for (int t = 0; t < kThreads; ++t) {
    nulls += returned_null[t];
    EXPECT_EQ(0, returned_unknown[t]);
  }
  EXPECT_EQ(1, nulls);  // the initial empty filter, handed back once
  for (int f = 0; f < 8; ++f) {
    int in = 0, out = f == left_installed ? 1 : 0;
    for (int t = 0; t < kThreads; ++t) {
      in += installed[t][f];
      out += returned[t][f];
    }
    EXPECT_EQ(in, out) << "filter " << f;
  }
}

}  // namespace
}  // namespace win
}  // namespace base
