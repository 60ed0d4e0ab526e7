#include "desktop/windows/crash_reporter/reporter/crash_reporter_main.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/windows/crash_reporter/client/crash_keys.h"
#include "desktop/windows/crash_reporter/crash_common.h"
#include "desktop/windows/crash_reporter/reporter/crash_metadata.h"
#include "desktop/windows/crash_reporter/reporter/custom_info_entries_test_util.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi {
namespace installer {
namespace {

using Entries = CustomInfoEntries;

TEST(CrashReporterMainTest, ModuleListsNumbersAndSwitchesAreReadAsFarAsTheyAreWellFormed) {
  struct ModuleRow {
    std::wstring list;
    std::vector<ModuleListEntry> expected;
  };
  const ModuleRow module_rows[] = {
      {L"", {}},
      {L"a.exe:140000000:2f000:C:\\x\\a.exe::", {{L"a.exe", L"C:\\x\\a.exe", 0x140000000, 0x2f000}}},
      // The second entry's base is not hexadecimal: only the first remains.
      {L"a.exe:10:20:C:\\a.exe::b.dll:zz:20:C:\\b.dll::", {{L"a.exe", L"C:\\a.exe", 0x10, 0x20}}},
      {L"a.exe:10:20:C:\\a.exe::b.dll:0000000000000030:1a:D:\\p:q\\b.dll::",
       {{L"a.exe", L"C:\\a.exe", 0x10, 0x20}, {L"b.dll", L"D:\\p:q\\b.dll", 0x30, 0x1a}}},
      {L":10:20:C:\\a.exe::", {}},                // empty name
      {L"a.exe:10::C:\\a.exe::", {}},             // empty size
      {L"a.exe:10:20:C:\\a.exe", {}},             // no "::"
      {L"a.exe:10:20:::", {}},                    // empty path
      {L"a.exe:10:20:C:\\a.exe::tail", {{L"a.exe", L"C:\\a.exe", 0x10, 0x20}}},
  };
  for (const ModuleRow& row : module_rows) {
    SCOPED_TRACE(base::WideToUTF8(row.list));
    const std::vector<ModuleListEntry> modules = ParseModuleList(row.list);
    ASSERT_EQ(row.expected.size(), modules.size());
    for (size_t i = 0; i < modules.size(); ++i) {
      EXPECT_EQ(row.expected[i].name, modules[i].name);
      EXPECT_EQ(row.expected[i].path, modules[i].path);
      EXPECT_EQ(row.expected[i].base, modules[i].base);
      EXPECT_EQ(row.expected[i].size, modules[i].size);
    }
  }

  struct NumberRow {
    const wchar_t* value;  // null: no entry
    bool read;
    uint64_t expected;
  };
  const NumberRow number_rows[] = {{nullptr, false, 0},          {L"1f", true, 0x1f},
                                   {L"0x1F", true, 0x1f},        {L"0X00a0", true, 0xa0},
                                   {L"ffffffffffffffff", true, ~0ULL}, {L"0x", false, 0},
                                   {L"12g", false, 0},           {L"", false, 0},
                                   {L"10000000000000000", false, 0}};
  for (const NumberRow& row : number_rows) {
    SCOPED_TRACE(row.value ? base::WideToUTF8(row.value) : "(none)");
    Entries entries;
    entries.Add(L"other", L"5");
    if (row.value)
      entries.Add(L"handle_info_items", row.value);
    uint64_t value = 77;
    EXPECT_EQ(row.read, GetMetadataNumber(entries.info(), L"handle_info_items", &value));
    EXPECT_EQ(row.read ? row.expected : 77u, value);
  }

  // The product of this test program is its test branding's; the variable is named after it.
  SetBrandingTextForTesting(R"({"product_name": "Kx Test"})");
  const std::wstring keep_variable = GetProductVariableName("_CRASH_KEEP_LOGS");
  EXPECT_EQ(L"KX TEST_CRASH_KEEP_LOGS", keep_variable);
  struct KeepRow {
    const wchar_t* value;
    bool keep;
  };
  const KeepRow keep_rows[] = {{nullptr, false}, {L"1", true},   {L"yes", true},  {L"YeS", true},
                               {L"0", false},    {L"no", false}, {L"yess", false}, {L"1111", false}};
  for (const KeepRow& row : keep_rows) {
    SCOPED_TRACE(row.value ? base::WideToUTF8(row.value) : "(none)");
    SetEnvironmentVariableW(keep_variable.c_str(), row.value);
    EXPECT_EQ(row.keep, ShouldKeepLogs());
  }
  SetEnvironmentVariableW(keep_variable.c_str(), nullptr);

  // Values of 511 characters are read whole; 512 and more are absent, as are empty ones.
  const std::wstring variable = test_support::UniqueName(L"ZORVI_TEST_VARIABLE");
  for (size_t length : {0u, 1u, 511u, 512u, 4000u}) {
    const std::wstring value(length, L'v');
    SetEnvironmentVariableW(variable.c_str(), value.c_str());
    EXPECT_EQ(length < 512 ? value : std::wstring(), ReadEnvironmentVariable(variable.c_str())) << length;
  }
  SetEnvironmentVariableW(variable.c_str(), nullptr);
  EXPECT_EQ(L"", ReadEnvironmentVariable(variable.c_str()));

  // The largest process id still names the reporter's objects.
  const std::wstring event = FormatCrashObjectName(kCrashReporterInitEventPrefix, 4294967295u);
  const std::wstring pipe = FormatCrashObjectName(kCrashPipeNamePrefix, 4294967295u);
  EXPECT_EQ(std::wstring(kCrashReporterInitEventPrefix) + L"4294967295", event);
  EXPECT_EQ(std::wstring(kCrashPipeNamePrefix) + L"4294967295", pipe);
  EXPECT_LT(event.size(), kCrashObjectNameSize);
  EXPECT_EQ(std::wstring(36, L'p') + L"1", FormatCrashObjectName(std::wstring(36, L'p').c_str(), 1));
  EXPECT_EQ(L"", FormatCrashObjectName(std::wstring(37, L'p').c_str(), 1));
}

// The expected line of a record, written out field by field as the reporter's log shows it.
std::string ExpectedHandleLine(const HandleTraceRecord& record) {
  char head[256];
  snprintf(head, sizeof(head), "Handle %016llX, timestamp %x, info %.15s, type %.15s, thread id %x, inherit %d, "
           "protect from close %d, backtrace ", static_cast<unsigned long long>(record.handle), record.timestamp,
           record.info, record.type, record.thread_id, record.inherit, record.protect_from_close);
  std::string line = head;
  for (int i = 0; i < std::min<int>(record.frame_count, 20); ++i) {
    char frame[20];
    snprintf(frame, sizeof(frame), "%016llX ", static_cast<unsigned long long>(record.frames[i]));
    line += frame;
  }
  return line;
}

TEST(CrashReporterMainTest, TheHandleTraceIsLoggedNewestFirstAtMost200Records) {
  // This process plays the crashed client: its ring is read through its own process handle.
  auto trace = std::make_unique<HandleTraceBuffer>();
  // 600 records written through the 500 slots: record i lies in slot i % 500; the oldest kept is 101.
  for (uint32_t i = 0; i < 600; ++i) {
    HandleTraceRecord& record = trace->records[i % 500];
    record = {};
    record.handle = i % 2 == 0 ? 0x44 : 0x1000 + i;
    record.thread_id = 0xabc0 + i;
    record.timestamp = 0x10000 + i;
    record.frame_count = i == 598 ? 25 : i % 4;
    for (uint64_t& frame : record.frames)
      frame = 0x7ff000000000ULL + i;
    memcpy(record.type, "Event", 6);
    memset(record.info, 'a' + i % 26, sizeof(record.info));  // unterminated: cut at 15
    record.inherit = static_cast<int32_t>(i % 2);
    record.protect_from_close = -1;
  }
  wchar_t address[32];
  swprintf(address, 32, L"0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(trace.get())));

  struct Row {
    const char* name;
    uint64_t begin, end;
    const wchar_t* address;
    const wchar_t* filter;  // null: none
    std::vector<uint32_t> shown;  // records, in order
  };
  std::vector<uint32_t> all_suspects, unfiltered, short_ring;
  for (uint32_t i = 598; all_suspects.size() < 200; i -= 2)
    all_suspects.push_back(i);
  for (uint32_t i = 599; unfiltered.size() < 200; --i)
    unfiltered.push_back(i);
  for (uint32_t i = 505; i >= 498; --i)  // slots 5..0 (records 505..500), then 499 and 498
    short_ring.push_back(i);
  const Row rows[] = {
      {"wrapped, filtered", 101, 100, address, L"44", all_suspects},
      {"wrapped, no filter", 101, 100, address, nullptr, unfiltered},
      {"across slot 0", 498, 6, address, nullptr, short_ring},
      {"empty", 7, 7, address, nullptr, {}},
      {"filter matching nothing", 101, 100, address, L"45", {}},
      {"begin beyond the ring", 500, 100, address, nullptr, {}},
      {"end beyond the ring", 0, 500, address, nullptr, {}},
      {"unreadable", 0, 5, L"1000", nullptr, {}},
      {"no address", 0, 5, L"not hex", nullptr, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    trace->begin = row.begin;
    trace->end = row.end;
    Entries entries;
    entries.Add(L"handle_info_items", row.address);
    if (row.filter)
      entries.Add(L"invalid_handle", row.filter);
    std::vector<std::string> lines;
    {
      test_support::ScopedLogCapture capture;
      LogHandleInfo(entries.info(), GetCurrentProcess());
      for (const auto& line : capture.lines())
        lines.push_back(line.text);
    }
    ASSERT_EQ(row.shown.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(ExpectedHandleLine(trace->records[row.shown[i] % 500]), lines[i]) << i;
    }
  }
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
