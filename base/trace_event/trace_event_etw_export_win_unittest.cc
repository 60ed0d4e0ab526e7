#include "base/trace_event/trace_event_etw_export_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {
namespace {

// What the captured platform functions saw.
struct Captured {
  int registrations = 0;
  int unregistrations = 0;
  GUID provider = {};
  PENABLECALLBACK callback = nullptr;
  void* context = nullptr;
  REGHANDLE unregistered_handle = 0;
  std::vector<EVENT_DESCRIPTOR> descriptors;
  std::vector<std::vector<std::string>> events;          // item texts, without their terminators
  std::vector<std::vector<ULONG>> sizes;
} g_captured;

constexpr REGHANDLE kFakeHandle = 0x1234;

ULONG WINAPI FakeEventRegister(LPCGUID provider, PENABLECALLBACK callback, PVOID context, PREGHANDLE handle) {
  ++g_captured.registrations;
  g_captured.provider = *provider;
  g_captured.callback = callback;
  g_captured.context = context;
  *handle = kFakeHandle;
  return ERROR_SUCCESS;
}

ULONG WINAPI FakeEventWrite(REGHANDLE handle, PCEVENT_DESCRIPTOR descriptor, ULONG count,
                            PEVENT_DATA_DESCRIPTOR data) {
  EXPECT_EQ(kFakeHandle, handle);
  g_captured.descriptors.push_back(*descriptor);
  std::vector<std::string> items;
  std::vector<ULONG> sizes;
  for (ULONG i = 0; i < count; ++i) {
    const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(data[i].Ptr));
    sizes.push_back(data[i].Size);
    EXPECT_EQ('\0', text[data[i].Size - 1]) << "item " << i << " lacks its terminator";
    items.emplace_back(text, data[i].Size - 1);
  }
  g_captured.events.push_back(items);
  g_captured.sizes.push_back(sizes);
  return ERROR_SUCCESS;
}

ULONG WINAPI FakeEventUnregister(REGHANDLE handle) {
  ++g_captured.unregistrations;
  g_captured.unregistered_handle = handle;
  return ERROR_SUCCESS;
}

class EtwTraceExportTest : public testing::Test {
 protected:
  void SetUp() override {
    g_captured = Captured();
    export_ = EtwTraceExport::GetInstance();
    ASSERT_NE(nullptr, export_);
    EtwTraceExport::PlatformFunctions fakes;
    fakes.event_register = &FakeEventRegister;
    fakes.event_write = &FakeEventWrite;
    fakes.event_unregister = &FakeEventUnregister;
    export_->SetPlatformFunctionsForTesting(fakes);
  }

  // What a session does: calls the callback that registration handed over.
  void Enable(UCHAR level, ULONGLONG match_any, ULONGLONG match_all) {
    ASSERT_NE(nullptr, g_captured.callback);
    g_captured.callback(&kEtwProviderGuid, 1, level, match_any, match_all, nullptr, g_captured.context);
  }
  void Disable() { g_captured.callback(&kEtwProviderGuid, 0, 0, 0, 0, nullptr, g_captured.context); }

  EtwTraceExport* export_ = nullptr;
};

TEST(EtwTraceExportPlatformTest, RegistersWithTheSystemProvider) {
  // The real Advapi32 functions: the system gives a registration handle.
  ASSERT_NE(nullptr, EtwTraceExport::GetInstance());
  EXPECT_NE(0u, EtwTraceExport::provider_handle());
}

TEST(EtwTraceExportLifetimeTest, DestroyedAtExitAndNotMadeAgain) {
  g_captured = Captured();
  {
    AtExitManager exit_manager;
    EtwTraceExport* instance = EtwTraceExport::GetInstance();  // the first use registers the clean-up
    ASSERT_NE(nullptr, instance);
    instance->SetPlatformFunctionsForTesting({&FakeEventRegister, &FakeEventWrite, &FakeEventUnregister});
    instance->SetExportEnabledForTesting(true);
    instance->SetCategoryEnabledForTesting("toplevel", true);
    EXPECT_TRUE(EtwTraceExport::IsCategoryGroupEnabled("toplevel"));
    EXPECT_EQ(0, g_captured.unregistrations);
  }
  EXPECT_EQ(1, g_captured.unregistrations);
  EXPECT_EQ(kFakeHandle, g_captured.unregistered_handle);
  EXPECT_EQ(0u, EtwTraceExport::provider_handle());
  EXPECT_EQ(nullptr, EtwTraceExport::GetInstance());
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled("toplevel"));
  EtwTraceExport::AddCompleteEndEvent("after exit");  // does nothing
  EXPECT_TRUE(g_captured.events.empty());
  EXPECT_EQ(1, g_captured.registrations);
}

TEST_F(EtwTraceExportTest, RegistersTheProviderGuid) {
  EXPECT_EQ(1, g_captured.registrations);
  EXPECT_TRUE(IsEqualGUID(kEtwProviderGuid, g_captured.provider));
  // {D2D578D9-2936-45B6-A09F-30E32715F42D}, field by field.
  EXPECT_EQ(0xD2D578D9u, g_captured.provider.Data1);
  EXPECT_EQ(0x2936, g_captured.provider.Data2);
  EXPECT_EQ(0x45B6, g_captured.provider.Data3);
  const unsigned char tail[8] = {0xA0, 0x9F, 0x30, 0xE3, 0x27, 0x15, 0xF4, 0x2D};
  EXPECT_EQ(0, memcmp(tail, g_captured.provider.Data4, 8));
  EXPECT_EQ(kFakeHandle, EtwTraceExport::provider_handle());
  // Re-registering through other functions first unregisters the handle.
  export_->SetPlatformFunctionsForTesting({&FakeEventRegister, &FakeEventWrite, &FakeEventUnregister});
  EXPECT_EQ(1, g_captured.unregistrations);
  EXPECT_EQ(kFakeHandle, g_captured.unregistered_handle);
  EXPECT_EQ(2, g_captured.registrations);
  // Missing platform functions: nothing is registered and writes do nothing.
  export_->SetPlatformFunctionsForTesting({});
  EXPECT_EQ(2, g_captured.unregistrations);
  EXPECT_EQ(0u, EtwTraceExport::provider_handle());
  export_->SetExportEnabledForTesting(true);
  EtwTraceExport::AddCompleteEndEvent("unwritten");
  EXPECT_TRUE(g_captured.events.empty());
}

TEST_F(EtwTraceExportTest, EnableCallbackSetsTheEventBitByLevelAndKeywords) {
  EXPECT_FALSE(EtwTraceExport::IsProviderEventEnabled());
  Enable(0, 0, 0);  // the event's keyword is not 0, so no keyword matches
  EXPECT_FALSE(EtwTraceExport::IsProviderEventEnabled());
  Enable(0, 0x8000000000000000ull, 0);
  EXPECT_TRUE(EtwTraceExport::IsProviderEventEnabled());
  Enable(0, 0x8000000000000000ull, 1);  // match-all demands bit 0 too
  EXPECT_FALSE(EtwTraceExport::IsProviderEventEnabled());
  Enable(4, 0xFFFFFFFFFFFFFFFFull, 0x8000000000000000ull);
  EXPECT_TRUE(EtwTraceExport::IsProviderEventEnabled());
  Enable(3, 0xFFFFFFFFFFFFFFFFull, 0);  // the event's level 4 is above the session's 3
  EXPECT_FALSE(EtwTraceExport::IsProviderEventEnabled());
  Enable(5, 0x8000000000000000ull, 0);
  EXPECT_TRUE(EtwTraceExport::IsProviderEventEnabled());
  g_captured.callback(&kEtwProviderGuid, 2, 0, 0, 0, nullptr, g_captured.context);  // other codes: no change
  EXPECT_TRUE(EtwTraceExport::IsProviderEventEnabled());
  Disable();
  EXPECT_FALSE(EtwTraceExport::IsProviderEventEnabled());
}

TEST_F(EtwTraceExportTest, CategoriesAreOffUntilExportIsOn) {
  for (const char* group : {"toplevel", "startup", "anything", "disabled-by-default-x", "", "a,b"})
    EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled(group)) << group;
  export_->SetExportEnabledForTesting(true);
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled("toplevel"));  // every status is off
  export_->SetCategoryEnabledForTesting("__OTHER_EVENTS", true);
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled("toplevel"));  // named: its own status
  EXPECT_TRUE(EtwTraceExport::IsCategoryGroupEnabled("somewhere"));
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled("disabled-by-default-somewhere"));
  EXPECT_TRUE(EtwTraceExport::IsCategoryGroupEnabled("toplevel,somewhere"));
  export_->SetCategoryEnabledForTesting("__DISABLED_OTHER_EVENTS", true);
  EXPECT_TRUE(EtwTraceExport::IsCategoryGroupEnabled("disabled-by-default-somewhere"));
  export_->SetCategoryEnabledForTesting("toplevel", true);
  EXPECT_TRUE(EtwTraceExport::IsCategoryGroupEnabled("toplevel"));
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled(""));
  export_->SetExportEnabledForTesting(false);
  EXPECT_FALSE(EtwTraceExport::IsCategoryGroupEnabled("toplevel"));
}

TEST_F(EtwTraceExportTest, PhaseNames) {
  const std::pair<char, const char*> table[] = {
      {'B', "Begin"}, {'C', "Phase Counter"}, {'D', "Phase Delete Object"}, {'E', "End"}, {'F', "Async End"},
      {'I', "Instant"}, {'M', "Phase Metadata"}, {'N', "Phase Create Object"}, {'O', "Phase Snapshot Object"},
      {'P', "Phase Sample"}, {'S', "Async Begin"}, {'T', "Async Step Into"}, {'X', "Complete"},
      {'b', "Nestable Async Begin"}, {'e', "Nestable Async End"}, {'f', "Phase Flow End"},
      {'n', "Nestable Async Instant"}, {'p', "Async Step Past"}, {'s', "Phase Flow Begin"},
      {'t', "Phase Flow Step"}, {'R', "R"}};
  for (const auto& row : table)
    EXPECT_EQ(row.second, EtwTraceExport::PhaseName(row.first)) << row.first;
}

TEST_F(EtwTraceExportTest, WritesNothingUnlessExportAndTheEventAreOn) {
  EtwTraceExport::AddEvent('I', nullptr, "n", 0, 0, nullptr, nullptr, nullptr);
  export_->SetExportEnabledForTesting(true);
  EtwTraceExport::AddEvent('I', nullptr, "n", 0, 0, nullptr, nullptr, nullptr);
  EtwTraceExport::AddCompleteEndEvent("n");
  EXPECT_TRUE(g_captured.events.empty());
  export_->SetExportEnabledForTesting(false);
  Enable(0, 0x8000000000000000ull, 0);
  EtwTraceExport::AddEvent('I', nullptr, "n", 0, 0, nullptr, nullptr, nullptr);
  EXPECT_TRUE(g_captured.events.empty());
}

TEST_F(EtwTraceExportTest, ItemsOfAKnownEvent) {
  export_->SetExportEnabledForTesting(true);
  Enable(0, 0x8000000000000000ull, 0);
  const char* names[] = {"src_file", "count"};
  const unsigned char types[] = {kTraceValueTypeString, kTraceValueTypeInt};
  const char* file = "a\\b \"c\".cc";
  const unsigned long long values[] = {reinterpret_cast<uintptr_t>(file), static_cast<unsigned long long>(-3ll)};
  EtwTraceExport::AddEvent('X', nullptr, "MessageLoop::RunTask", 77, 2, names, types, values);
  ASSERT_EQ(1u, g_captured.events.size());
  const std::vector<std::string> expected = {
      "MessageLoop::RunTask", "Complete", "src_file", "\"a\\\\b \\\"c\\\".cc\"", "count", "-3", "", ""};
  EXPECT_EQ(expected, g_captured.events[0]);
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(expected[i].size() + 1, g_captured.sizes[0][i]);
  const EVENT_DESCRIPTOR& descriptor = g_captured.descriptors[0];
  EXPECT_EQ(1, descriptor.Id);
  EXPECT_EQ(0, descriptor.Version);
  EXPECT_EQ(8, descriptor.Channel);
  EXPECT_EQ(4, descriptor.Level);
  EXPECT_EQ(0, descriptor.Opcode);
  EXPECT_EQ(0, descriptor.Task);
  EXPECT_EQ(0x8000000000000000ull, descriptor.Keyword);

  EtwTraceExport::AddCompleteEndEvent("MessageLoop::RunTask");
  ASSERT_EQ(2u, g_captured.events.size());
  EXPECT_EQ(std::vector<std::string>({"MessageLoop::RunTask", "Complete End", "", "", "", "", "", ""}),
            g_captured.events[1]);
}

TEST_F(EtwTraceExportTest, NullTextsAreSentAsNULLAndConvertablesAsEmpty) {
  export_->SetExportEnabledForTesting(true);
  Enable(0, 0x8000000000000000ull, 0);
  const char* names[] = {nullptr, "c", "third"};
  const unsigned char types[] = {kTraceValueTypeBool, kTraceValueTypeConvertable, kTraceValueTypeUint};
  const unsigned long long values[] = {1, 12345, 9};
  EtwTraceExport::AddEvent('R', nullptr, nullptr, 0, 3, names, types, values);
  ASSERT_EQ(1u, g_captured.events.size());
  EXPECT_EQ(std::vector<std::string>({"NULL", "R", "NULL", "true", "c", "", "third", "9"}), g_captured.events[0]);
  EXPECT_EQ(5u, g_captured.sizes[0][0]);
}

TEST_F(EtwTraceExportTest, TraceLogSetsTheExportBitAndHandsEventsOver) {
  export_->SetExportEnabledForTesting(true);
  Enable(0, 0x8000000000000000ull, 0);
  export_->SetCategoryEnabledForTesting("startup", true);
  const unsigned char* startup = TraceLog::GetCategoryGroupEnabled("startup");
  const unsigned char* other = TraceLog::GetCategoryGroupEnabled("etw-test-other");
  EXPECT_EQ(kCategoryEnabledForEtwExport, LoadCategoryFlags(startup));
  EXPECT_EQ(0, LoadCategoryFlags(other));

  const char* names[] = {"message"};
  const unsigned char types[] = {kTraceValueTypeUint};
  const unsigned long long values[] = {513};
  TraceLog* log = TraceLog::GetInstance();
  const TraceEventHandle handle = log->AddTraceEventWithThreadIdAndTimestamp(
      'X', startup, "MessagePumpForUI::ProcessMessageHelper", nullptr, 0, 0, static_cast<int>(GetCurrentThreadId()),
      TimeTicks::Now(), 1, names, types, values, nullptr, 0);
  EXPECT_EQ(0u, handle.chunk_seq);  // exported, not recorded
  log->UpdateTraceEventDuration(startup, "MessagePumpForUI::ProcessMessageHelper", handle);
  log->AddTraceEventWithThreadIdAndTimestamp('I', other, "ignored", nullptr, 0, 0, 0, TimeTicks::Now(), 0, nullptr,
                                             nullptr, nullptr, nullptr, 0);
  ASSERT_EQ(2u, g_captured.events.size());
  EXPECT_EQ(std::vector<std::string>(
                {"MessagePumpForUI::ProcessMessageHelper", "Complete", "message", "513", "", "", "", ""}),
            g_captured.events[0]);
  EXPECT_EQ("Complete End", g_captured.events[1][1]);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
