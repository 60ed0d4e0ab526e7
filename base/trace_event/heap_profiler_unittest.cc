#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/json/json_reader.h"
#include "base/trace_event/heap_profiler_allocation_context_tracker.h"
#include "base/trace_event/heap_profiler_stack_frame_deduplicator.h"
#include "base/trace_event/heap_profiler_type_name_deduplicator.h"
#include "base/trace_event/memory_tracing_state.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/values.h"

namespace base {
namespace trace_event {
namespace {

TEST(AllocationContextTrackerTest, NoTrackerBeforeCaptureIsSwitchedOn) {
  EXPECT_FALSE(AllocationContextTracker::capture_enabled());
  EXPECT_EQ(nullptr, AllocationContextTracker::GetInstanceForCurrentThread());
  AllocationContextTracker::SetCurrentThreadName("ignored");  // does nothing, must not crash
}

TEST(AllocationContextTrackerTest, StacksAreBoundedAndPopsOnEmptyDoNothing) {
  AllocationContextTracker::SetCaptureEnabled(true);
  AllocationContextTracker* tracker = AllocationContextTracker::GetInstanceForCurrentThread();
  ASSERT_NE(nullptr, tracker);
  EXPECT_EQ(tracker, AllocationContextTracker::GetInstanceForCurrentThread());

  tracker->PopPseudoStackFrame("nothing");
  tracker->PopCurrentTaskContext("nothing");
  EXPECT_TRUE(tracker->pseudo_stack().empty());
  EXPECT_TRUE(tracker->task_contexts().empty());

  static const char kInner[] = "inner";
  static const char kDropped[] = "dropped";
  for (size_t i = 0; i < AllocationContextTracker::kMaxStackDepth; ++i)
    tracker->PushPseudoStackFrame(kInner);
  tracker->PushPseudoStackFrame(kDropped);  // the 129th
  EXPECT_EQ(128u, tracker->pseudo_stack().size());
  EXPECT_EQ(kInner, tracker->pseudo_stack().back());
  // The dropped push is not remembered: a pop takes an outer entry.
  tracker->PopPseudoStackFrame(kDropped);
  EXPECT_EQ(127u, tracker->pseudo_stack().size());

  for (size_t i = 0; i < AllocationContextTracker::kMaxTaskDepth; ++i)
    tracker->PushCurrentTaskContext("file.cc");
  tracker->PushCurrentTaskContext(kDropped);  // the 17th
  EXPECT_EQ(16u, tracker->task_contexts().size());
  EXPECT_STREQ("file.cc", tracker->task_contexts().back());
  for (size_t i = 0; i < 20; ++i)
    tracker->PopCurrentTaskContext("file.cc");
  EXPECT_TRUE(tracker->task_contexts().empty());
}

struct ThreadResult {
  AllocationContextTracker* tracker = nullptr;
  const char* thread_name = nullptr;
  size_t stack_size = 99;
};

DWORD WINAPI NameAndReport(void* param) {
  ThreadResult* result = static_cast<ThreadResult*>(param);
  AllocationContextTracker::SetCurrentThreadName("worker thread");
  result->tracker = AllocationContextTracker::GetInstanceForCurrentThread();
  result->thread_name = result->tracker ? result->tracker->thread_name() : nullptr;
  result->stack_size = result->tracker ? result->tracker->pseudo_stack().size() : 99;
  return 0;
}

TEST(AllocationContextTrackerTest, EachThreadHasItsOwnTrackerAndName) {
  AllocationContextTracker::SetCaptureEnabled(true);
  AllocationContextTracker* mine = AllocationContextTracker::GetInstanceForCurrentThread();
  ASSERT_NE(nullptr, mine);
  mine->PushPseudoStackFrame("main only");
  ThreadResult result;
  HANDLE thread = CreateThread(nullptr, 0, &NameAndReport, &result, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
  CloseHandle(thread);
  ASSERT_NE(nullptr, result.tracker);
  EXPECT_NE(mine, result.tracker);
  EXPECT_STREQ("worker thread", result.thread_name);
  EXPECT_EQ(0u, result.stack_size);
  EXPECT_EQ(nullptr, mine->thread_name());
  EXPECT_EQ(1u, mine->pseudo_stack().size());
}

TEST(StackFrameDeduplicatorTest, EmptyTablePrintsEmptyDictionary) {
  StackFrameDeduplicator dedup;
  std::string out;
  dedup.AppendAsTraceFormat(&out);
  EXPECT_EQ("{}", out);
}

TEST(StackFrameDeduplicatorTest, EventNameAndThreadNameNodes) {
  static const char kA[] = "A";
  static const char kT[] = "T";
  StackFrameDeduplicator dedup;
  const StackFrame path[] = {StackFrame::FromTraceEventName(kA), StackFrame::FromThreadName(kT)};
  EXPECT_EQ(1, dedup.Insert(path, path + 2));
  std::string out;
  dedup.AppendAsTraceFormat(&out);
  EXPECT_EQ(R"({"0":{"name":"A"},"1":{"name":"[Thread: T]","parent":"0"}})", out);
}

TEST(StackFrameDeduplicatorTest, SharedPrefixesAreStoredOnce) {
  static const char kBrowser[] = "Browser";
  static const char kRun[] = "Run";
  static const char kPaint[] = "Paint";
  StackFrameDeduplicator dedup;
  const StackFrame run[] = {StackFrame::FromTraceEventName(kBrowser), StackFrame::FromTraceEventName(kRun)};
  const StackFrame paint[] = {StackFrame::FromTraceEventName(kBrowser), StackFrame::FromTraceEventName(kPaint)};
  EXPECT_EQ(1, dedup.Insert(run, run + 2));
  EXPECT_EQ(2, dedup.Insert(paint, paint + 2));
  EXPECT_EQ(1, dedup.Insert(run, run + 2));
  EXPECT_EQ(0, dedup.Insert(run, run + 1));
  EXPECT_EQ(StackFrameDeduplicator::kInvalidFrameIndex, dedup.Insert(run, run));
  ASSERT_EQ(3u, dedup.frames().size());

  std::string out;
  dedup.AppendAsTraceFormat(&out);
  std::unique_ptr<Value> parsed = JsonReader::Read(out);
  ASSERT_TRUE(parsed) << out;
  std::unique_ptr<Value> expected = JsonReader::Read(
      R"({"0": {"name": "Browser"}, "1": {"name": "Run", "parent": "0"}, "2": {"name": "Paint", "parent": "0"}})");
  EXPECT_TRUE(parsed->Equals(expected.get())) << out;

  TraceEventMemoryOverhead overhead;
  dedup.EstimateTraceMemoryOverhead(&overhead);
  // One root and two children, 24 bytes an entry.
  const uint64_t resident = overhead.GetResidentBytes(kStackFrameDeduplicatorOverheadName);
  EXPECT_EQ(sizeof(StackFrameDeduplicator) + 3 * 24 + 3 * sizeof(StackFrameDeduplicator::FrameNode), resident);
  EXPECT_LE(resident, overhead.GetAllocatedBytes(kStackFrameDeduplicatorOverheadName));
}

TEST(TypeNameDeduplicatorTest, CategoriesOfTypeNames) {
  struct Case {
    const char* type_name;
    const char* category;
  } cases[] = {
      {"a/b/c.cc", "a/b"},
      {"../../b/c.cc", "b"},
      {"..\\..\\b\\c.cc", "b"},
      {"c.cc", "c.cc"},
      {"int", "int"},
      {"a\\b/c.h", "a\\b"},
      {"../x.cc", ""},  // nothing but the parent step before the file
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.category, TypeNameDeduplicator::ExtractCategoryFromTypeName(c.type_name)) << c.type_name;
  EXPECT_EQ("", TypeNameDeduplicator::ExtractCategoryFromTypeName(nullptr));
}

TEST(TypeNameDeduplicatorTest, PrintsTheUnknownTypeFirst) {
  TypeNameDeduplicator dedup;
  std::string out;
  dedup.AppendAsTraceFormat(&out);
  EXPECT_EQ(R"({"0":"[unknown]"})", out);

  static const char kFirst[] = "base/trace_event/x.cc";
  static const char kSecond[] = "quote\"/y.h";
  EXPECT_EQ(1, dedup.Insert(kFirst));
  EXPECT_EQ(2, dedup.Insert(kSecond));
  EXPECT_EQ(1, dedup.Insert(kFirst));
  EXPECT_EQ(0, dedup.Insert(nullptr));
  out.clear();
  dedup.AppendAsTraceFormat(&out);
  std::unique_ptr<Value> parsed = JsonReader::Read(out);
  ASSERT_TRUE(parsed) << out;
  std::unique_ptr<Value> expected =
      JsonReader::Read(R"({"0": "[unknown]", "1": "base/trace_event", "2": "quote\""})");
  EXPECT_TRUE(parsed->Equals(expected.get())) << out;

  TraceEventMemoryOverhead overhead;
  dedup.EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(sizeof(TypeNameDeduplicator) + 3 * 16, overhead.GetAllocatedBytes(kTypeNameDeduplicatorOverheadName));
}

TEST(MemoryTracingStateTest, SettersReplaceTheTables) {
  scoped_refptr<MemoryTracingState> state = MakeRefCounted<MemoryTracingState>();
  EXPECT_EQ(nullptr, state->stack_frame_deduplicator());
  EXPECT_EQ(nullptr, state->type_name_deduplicator());
  state->SetStackFrameDeduplicator(std::make_unique<StackFrameDeduplicator>());
  state->SetTypeNameDeduplicator(std::make_unique<TypeNameDeduplicator>());
  StackFrameDeduplicator* first = state->stack_frame_deduplicator();
  ASSERT_NE(nullptr, first);
  EXPECT_NE(nullptr, state->type_name_deduplicator());
  auto replacement = std::make_unique<StackFrameDeduplicator>();
  StackFrameDeduplicator* second = replacement.get();
  state->SetStackFrameDeduplicator(std::move(replacement));
  EXPECT_EQ(second, state->stack_frame_deduplicator());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
