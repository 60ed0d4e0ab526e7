#include "desktop/windows/crash_reporter/reporter/crash_counter.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "testing/test_support.h"

namespace zorvi {
namespace installer {
namespace {

TEST(CrashCounterTest, TheFileHoldsTheNewTotalInHexadecimal) {
  test_support::ScopedTestFolder folder(L"crash_counter");
  const struct {
    const char* before;  // null: no file
    uint32_t count;
    const char* after;
  } rows[] = {
      {nullptr, 3, "3"},
      {"", 2, "2"},
      {"ff", 1, "100"},
      {"0xFF", 1, "100"},
      {"not hex", 7, "7"},
      {"0x00000ff plus a tail", 1, "100"},  // only the first 9 bytes count, the whole file is replaced
      {"ffffffff", 2, "1"},                 // 32 bits
  };
  int index = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.before ? row.before : "(none)");
    const std::wstring path = folder.path() + L"\\count" + std::to_wstring(++index);
    if (row.before) {
      ASSERT_TRUE(test_support::WriteFileBytes(path, row.before));
    }
    EXPECT_TRUE(AddToCounterFile(base::FilePath(path), row.count));
    std::string after;
    ASSERT_TRUE(test_support::ReadFileBytes(path, &after));
    EXPECT_EQ(row.after, after);
  }
  EXPECT_FALSE(AddToCounterFile(base::FilePath(), 1));
  EXPECT_FALSE(AddToCounterFile(base::FilePath(folder.path() + L"\\missing\\count"), 1));
}

std::atomic<int> g_failed_attempts{0};
std::atomic<int> g_written_attempts{0};
HANDLE g_attempts_event = nullptr;  // signalled after every attempt

void CountAttempt(bool written) {
  ++(written ? g_written_attempts : g_failed_attempts);
  SetEvent(g_attempts_event);
}

// Waits until `counter` reaches `target`; each attempt signals the event.
bool WaitForAttempts(const std::atomic<int>& counter, int target) {
  while (counter.load() < target) {
    if (WaitForSingleObject(g_attempts_event, 60000) != WAIT_OBJECT_0)
      return false;
  }
  return true;
}

TEST(CrashCounterTest, AFileHeldElsewhereIsRetriedAndFlushedAtTheEnd) {
  test_support::ScopedTestFolder folder(L"crash_counter_thread");
  const std::wstring path = folder.path() + L"\\count";
  ASSERT_TRUE(test_support::WriteFileBytes(path, "a"));
  test_support::ScopedTestHandle attempts(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  g_attempts_event = attempts.get();
  CrashCounterThread::SetAttemptObserverForTesting(&CountAttempt);
  CrashCounterThread::SetRetryDelaysForTesting(base::TimeDelta::FromMilliseconds(1),
                                               base::TimeDelta::FromMilliseconds(1));
  {
    CrashCounterThread counter{base::FilePath(path)};
    counter.Add(1, true);
    ASSERT_TRUE(WaitForAttempts(g_written_attempts, 1));
    std::string text;
    ASSERT_TRUE(test_support::ReadFileBytes(path, &text));
    EXPECT_EQ("b", text);

    // Another process holds the file without sharing: ten attempts, then the count waits for the next crash.
    test_support::ScopedTestHandle held(
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    counter.Add(2, true);
    ASSERT_TRUE(WaitForAttempts(g_failed_attempts, 10));
    counter.Add(3, false);  // counted, not written yet
    held.reset();
    EXPECT_EQ(10, g_failed_attempts.load());
    EXPECT_EQ(1, g_written_attempts.load());
  }
  // The end wrote everything pending at once.
  EXPECT_EQ(2, g_written_attempts.load());
  std::string text;
  ASSERT_TRUE(test_support::ReadFileBytes(path, &text));
  EXPECT_EQ("10", text);  // 0xa + 1 + 2 + 3
  CrashCounterThread::SetAttemptObserverForTesting(nullptr);
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
