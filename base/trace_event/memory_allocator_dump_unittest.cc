#include "base/trace_event/memory_allocator_dump.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/strings/stringprintf.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/trace_log.h"
#include "base/values.h"
#include "testing/test_support.h"

namespace base {
namespace trace_event {
namespace {

TEST(ProcessMemoryDumpTest, SameNameGivesTheSameDump) {
  ProcessMemoryDump pmd;
  MemoryAllocatorDump* first = pmd.CreateAllocatorDump("tracing/a");
  first->AddScalar("size", MemoryAllocatorDump::kUnitsBytes, 1);
  MemoryAllocatorDump* second = pmd.CreateAllocatorDump("tracing/a");
  EXPECT_EQ(first, second);
  EXPECT_EQ(1u, pmd.allocator_dumps().size());
  EXPECT_EQ(&pmd, first->process_memory_dump());
  EXPECT_EQ("tracing/a", first->absolute_name());
  EXPECT_NE(first, pmd.CreateAllocatorDump("tracing/b"));
  EXPECT_EQ(nullptr, pmd.GetAllocatorDump("tracing/c"));
}

TEST(MemoryAllocatorDumpTest, ScalarsAreLowercaseHexTexts) {
  ProcessMemoryDump pmd;
  MemoryAllocatorDump* dump = pmd.CreateAllocatorDump("tracing/scalars");
  const unsigned long long values[] = {0, 984, 0xABCDEFull, 18446744073709551615ull};
  static const char* const kNames[] = {"zero", "small", "mixed", "max"};
  for (int i = 0; i < 4; ++i)
    dump->AddScalar(kNames[i], MemoryAllocatorDump::kUnitsObjects, values[i]);
  std::unique_ptr<DictionaryValue> attributes = dump->attributes()->ToBaseValue();
  for (int i = 0; i < 4; ++i) {
    char expected[24];
    snprintf(expected, sizeof(expected), "%llx", values[i]);  // the C library as the oracle
    std::string text;
    ASSERT_TRUE(attributes->GetString(std::string(kNames[i]) + ".value", &text)) << kNames[i];
    EXPECT_EQ(expected, text);
    const Value* node = nullptr;
    const DictionaryValue* scalar = nullptr;
    ASSERT_TRUE(attributes->Get(kNames[i], &node));
    ASSERT_TRUE(node->GetAsDictionary(&scalar));
    EXPECT_EQ(3u, scalar->size());
  }
  std::string zero;
  ASSERT_TRUE(attributes->GetString("zero.value", &zero));
  EXPECT_EQ("0", zero);
}

// Ids are written for testdata_check.sh, which recomputes them with Python's SHA-1.
TEST(MemoryAllocatorDumpTest, IdsAreStableAndWrittenForTheOracle) {
  const char* names[] = {"tracing/main_trace_log/TraceLog", "tracing/thread_1234/TraceEvent", "", "x"};
  std::string lines;
  for (const char* name : names) {
    const uint64_t id = MemoryAllocatorDump::GetDumpIdFromName(name);
    ProcessMemoryDump pmd;
    EXPECT_EQ(id, pmd.CreateAllocatorDump(name)->guid());
    lines += StringPrintf("%d:%s\t%016llx\n", TraceLog::GetInstance()->process_id(), name,
                          static_cast<unsigned long long>(id));
  }
  EXPECT_NE(MemoryAllocatorDump::GetDumpIdFromName("a"), MemoryAllocatorDump::GetDumpIdFromName("b"));
  EXPECT_EQ(static_cast<int>(GetCurrentProcessId()), TraceLog::GetInstance()->process_id());
  const std::wstring data_dir = test_support::TestDataDir();
  ASSERT_FALSE(data_dir.empty());
  ASSERT_TRUE(test_support::WriteFileBytes(data_dir + L"\\out\\allocator_dump_ids.txt", lines));
}

}  // namespace
}  // namespace trace_event
}  // namespace base
