#include "desktop/windows/crash_reporter/reporter/process_state_impl.h"

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/reporter/crash_dump_server_test_util.h"
#include "desktop/windows/crash_reporter/reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/reporter/crash_minidump.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"
#include "testing/scoped_log_capture.h"

namespace zorvi {
namespace installer {
namespace {

constexpr char kChildName[] = "crash_client_test_child.exe";

const ThreadInfo* FindThread(const ProcessState& state, uint32_t id) {
  for (const auto& thread : state.GetThreads()) {
    if (thread->GetThreadId() == id)
      return thread.get();
  }
  return nullptr;
}

// What the test keeps of the snapshot, which lives only while the child is stopped.
struct SnapshotFacts {
  bool attached = false, initialized = false, logged = false, self_logged = false, detached = false;
  uint32_t code = 0;
  uint64_t address = 0;
  std::string main_module;
  std::vector<uint32_t> thread_ids;
  bool first_is_crashed = false;
  uint64_t crashed_stack_size = 0, mapped_stack_size = 1;
  std::vector<std::string> modules_without_version;
};

// Everything the reporter does while it is attached to the child.
void TakeSnapshot(const CrashClientRecord& client, const std::map<std::string, std::string>& child,
                  const CrashLogInfo& info, const std::wstring& folder, SnapshotFacts* facts) {
  ProcessStateImpl state;
  facts->initialized =
      state.Init(client.process_id(), client.exception_pointers_address(), client.thread_id_address(), {});
  if (!facts->initialized || child.size() < 5)
    return;
  facts->code = state.GetExceptionCode();
  facts->address = state.GetExceptionAddress();
  facts->main_module = state.GetMainModule() ? state.GetMainModule()->GetName() : "";
  for (const auto& thread : state.GetThreads())
    facts->thread_ids.push_back(thread->GetThreadId());
  facts->first_is_crashed = state.GetThreads().front()->IsCrashed();
  facts->crashed_stack_size = state.GetThreads().front()->GetStackSize();
  if (const ThreadInfo* mapped = FindThread(state, std::stoul(child.at("mapped"))))
    facts->mapped_stack_size = mapped->GetStackSize();
  for (const auto& module : state.GetModules()) {
    if (*module->GetVersion() == '\0')
      facts->modules_without_version.push_back(module->GetName());
  }
  MemoryRangeSet ranges;
  facts->logged = WriteCrashLogFile(&ranges, state, info, base::FilePath(folder + L"\\crash.txt"));
  facts->self_logged = WriteSelfCrashLog(client.process_id(), std::stoull(child.at("record")), info,
                                         base::FilePath(folder + L"\\self.txt"), kClientMinidumpSizeLimit);
}

// A child stopped in its crash, seen as the reporter sees it: attached to as a debugger, its snapshot taken and
// its text log written, then its self log (whose embedded minidump is the scenario's one dump, written during
// the same attach), and released. The Linux-side check compares the log with that dump through obj2yaml-14 and
// lldb-14, the module rows with the files through pefile, and the x87 thread's eight registers with the values
// it loaded.
TEST(ProcessStateImplTest, ACrashedChildIsSnapshotLoggedAndDumpedInOneAttach) {
  const std::wstring folder = FreshRecordFolder(L"crashed_child");
  const CrashLogInfo info = {"_test", "39.0.2234.0", "651521", {{"ptype", "installer"}, {"quote", "say \"hi\""}}};
  SnapshotFacts facts;
  std::map<std::string, std::string> child;
  test_support::ScopedLogCapture capture;
  RecordingCrashServer server;
  server.set_dump_handler([&](const CrashClientRecord& client, const std::wstring*) {
    child = ReadRecordFields(folder, L"child.txt");
    facts.attached = DebugActiveProcess(client.process_id());
    TakeSnapshot(client, child, info, folder, &facts);
    facts.detached = facts.attached && DebugActiveProcessStop(client.process_id());
  });
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), RunCrashingClient(L"snapshot", server.pipe_name(), folder, L"3"));
  ASSERT_EQ(1u, server.dump_requests());
  EXPECT_TRUE(facts.attached);
  EXPECT_TRUE(facts.detached);
  ASSERT_TRUE(facts.initialized) << capture.Text();

  EXPECT_EQ(static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION), facts.code);
  EXPECT_EQ(kChildName, facts.main_module);
  ASSERT_FALSE(facts.thread_ids.empty());
  EXPECT_TRUE(facts.first_is_crashed);
  EXPECT_EQ(std::stoul(child["main"]), facts.thread_ids.front());
  // The child's main, x87, mapped-stack and 3 parked threads, and the one the attach adds.
  EXPECT_LE(6u, facts.thread_ids.size());
  EXPECT_NE(0u, facts.crashed_stack_size);
  EXPECT_EQ(0u, facts.mapped_stack_size) << "a stack pointer in a mapped view";
  EXPECT_TRUE(capture.HasLineStartingWith("Sanity checks failed, state=0x1000, type=0x40000, protect=0x4")) << capture.Text();
  for (const std::string& name : facts.modules_without_version) {
    EXPECT_TRUE(capture.HasLineStartingWith("Could not find resources directory in " + name) ||
                capture.HasLineStartingWith("Could not find version resource in " + name) ||
                capture.HasLineStartingWith("Could not find version info in " + name))
        << name;
  }

  ASSERT_TRUE(facts.logged) << capture.Text();
  const std::string log = ReadRecord(folder, L"crash.txt");
  EXPECT_EQ(0u, log.find("ZORVI-CRASHLOG V1 desktop_test 39.0.2234.0 651521 windows x64 release\r\n" +
                         std::string(kChildName) + " caused exception C0000005 at address "));
  EXPECT_NE(std::string::npos, log.find("\r\n\r\nmetadata:\r\nptype=\"installer\"\r\nquote=\"say \"hi\"\"\r\n"));

  ASSERT_TRUE(facts.self_logged) << capture.Text();
  char expected_head[512];
  snprintf(expected_head, sizeof(expected_head),
           "ZORVI-CRASHLOG V1 desktop_test 39.0.2234.0 651521 windows x64 release\r\n%s caused exception C0000005 at "
           "address %012llX (BASE: 00000000)\r\n\r\nmetadata:\r\nptype=\"installer\"\r\nquote=\"say \"hi\"\"\r\n"
           "\r\nminidump:\r\nMDMP",
           kChildName, static_cast<unsigned long long>(facts.address));
  EXPECT_EQ(0u, ReadRecord(folder, L"self.txt").find(expected_head));
}

// Crash facts in this process, where a crashed client keeps them: the field holding the address of its
// EXCEPTION_POINTERS, and the thread id.
struct OwnCrash : CapturedException {
  OwnCrash() : CapturedException(EXCEPTION_ACCESS_VIOLATION) {}
  EXCEPTION_POINTERS* pointers_address = &pointers;
  const uint64_t pointers_field = AddressOf(&pointers_address);
  DWORD thread_id = GetCurrentThreadId();
};

// The module and thread lists of a process, as the system gives them, unless the script says otherwise.
struct SnapshotScript {
  int module_failures = 0;  // the first this many module lists fail with `module_error`
  DWORD module_error = ERROR_BAD_LENGTH;
  bool thread_list_fails = false;
  int module_calls = 0;
} g_script;

HANDLE WINAPI ScriptedSnapshot(DWORD flags, DWORD process_id) {
  if (flags == TH32CS_SNAPMODULE && ++g_script.module_calls <= g_script.module_failures) {
    SetLastError(g_script.module_error);
    return INVALID_HANDLE_VALUE;
  }
  if (flags == TH32CS_SNAPTHREAD && g_script.thread_list_fails) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return CreateToolhelp32Snapshot(flags, process_id);
}

// Only a process that cannot be opened and a crash that cannot be read fail the snapshot; everything else is
// logged and left out. The snapshots are of this process, its crash made up in its own memory.
TEST(ProcessStateImplTest, OnlyAnUnopenedProcessOrAnUnreadCrashFailsTheSnapshot) {
  OwnCrash crash;
  wchar_t own_path[MAX_PATH];
  ASSERT_NE(0u, GetModuleFileNameW(nullptr, own_path, MAX_PATH));
  wchar_t system[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
  std::wstring own_upper = own_path;  // found ignoring case
  for (wchar_t& c : own_upper)
    c = base::ToUpperASCII(c);
  const std::wstring kernel32 = std::wstring(system) + L"\\kernel32.dll", gone = L"Z:\\nowhere\\gone.dll";
  const std::vector<ModuleListEntry> with_own = {
      {L"own.exe", own_upper, 0x140000000, 0x100000}, {L"", kernel32, 0x7B600000, 0x190000}};
  const std::vector<ModuleListEntry> without_own = {{L"gone.dll", gone, 0x10000000, 0x1000}};
  EXCEPTION_POINTERS to_nowhere = {static_cast<EXCEPTION_RECORD*>(const_cast<void*>(kUnmappedAddress)),
                                   &crash.context};
  EXCEPTION_POINTERS no_context = {&crash.record, static_cast<CONTEXT*>(const_cast<void*>(kUnmappedAddress))};
  EXCEPTION_POINTERS* to_nowhere_address = &to_nowhere;
  EXCEPTION_POINTERS* no_context_address = &no_context;
  const uint64_t to_nowhere_field = reinterpret_cast<uintptr_t>(&to_nowhere_address);
  const uint64_t no_context_field = reinterpret_cast<uintptr_t>(&no_context_address);
  const uint64_t unmapped = reinterpret_cast<uintptr_t>(kUnmappedAddress);
  const uint64_t own_thread_field = reinterpret_cast<uintptr_t>(&crash.thread_id);

  const struct {
    const char* name;
    DWORD process_id;
    uint64_t pointers_field, thread_field;
    SnapshotScript script;
    std::vector<ModuleListEntry> fallback;
    bool succeeds;
    int module_calls;
    const char* main_module;  // null: none found
    size_t module_count;      // 0: the system's list
    std::vector<std::string> lines;
  } kCases[] = {
      {"no such process", 0, crash.pointers_field, own_thread_field, {}, {}, false, 0, nullptr, 0, {}},
      {"unreadable pointers field", GetCurrentProcessId(), unmapped, own_thread_field, {}, {}, false, 1, "", 0, {}},
      {"record out of reach", GetCurrentProcessId(), to_nowhere_field, own_thread_field, {}, {}, false, 1, "", 0, {}},
      {"context out of reach", GetCurrentProcessId(), no_context_field, own_thread_field, {}, {}, false, 1, "", 0, {}},
      {"unreadable thread id", GetCurrentProcessId(), crash.pointers_field, unmapped, {}, {}, true, 1, "", 0,
       {"Could not read ID of crashed thread"}},
      {"module list busy ten times", GetCurrentProcessId(), crash.pointers_field, own_thread_field, {10}, with_own,
       true, 10, "own.exe", 2,
       {"TH32CS_SNAPMODULE failed, retries_left=0", "Using fallback modules",
        "Module " + base::WideToUTF8(kernel32) + " has no name"}},
      {"module list busy three times", GetCurrentProcessId(), crash.pointers_field, own_thread_field, {3},
       with_own, true, 4, "", 0, {}},
      {"module list refused", GetCurrentProcessId(), crash.pointers_field, own_thread_field,
       {1, ERROR_ACCESS_DENIED}, without_own, true, 1, nullptr, 1,
       {"TH32CS_SNAPMODULE failed, retries_left=9", "Using fallback modules", "CreateFile failed for Z:\\nowhere\\gone.dll",
        "CreateFileMappingFailed for gone.dll", "Couldn't find main module for '", "Module path: Z:\\nowhere\\gone.dll"}},
      {"thread list refused", GetCurrentProcessId(), crash.pointers_field, own_thread_field,
       {0, ERROR_BAD_LENGTH, true}, {}, true, 1, "", 0, {"TH32CS_SNAPTHREAD failed"}},
  };
  const std::string own_name = base::WideToUTF8(base::FilePath(own_path).BaseName().value());
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    g_script = c.script;
    ProcessStateImpl::SetSnapshotFunctionForTesting(&ScriptedSnapshot);
    test_support::ScopedLogCapture capture;
    ProcessStateImpl state;
    const bool succeeded = state.Init(c.process_id, c.pointers_field, c.thread_field, c.fallback);
    ProcessStateImpl::SetSnapshotFunctionForTesting(nullptr);
    ASSERT_EQ(c.succeeds, succeeded) << capture.Text();
    EXPECT_EQ(c.module_calls, g_script.module_calls);
    for (const std::string& line : c.lines)
      EXPECT_TRUE(capture.HasLineStartingWith(line)) << line << "\n" << capture.Text();
    if (!succeeded)
      continue;

    EXPECT_EQ(static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION), state.GetExceptionCode());
    EXPECT_EQ(crash.context.Rip, state.GetExceptionAddress());
    EXPECT_EQ(nullptr, state.GetExceptionName());
    ASSERT_NE(nullptr, state.CreateMemoryReader());
    const auto& threads = state.GetThreads();
    ASSERT_FALSE(threads.empty());
    EXPECT_TRUE(threads[0]->IsCrashed());
    EXPECT_EQ(crash.context.Rsp, threads[0]->GetRegisters().rsp) << "the crash's context";
    EXPECT_EQ(crash.context.Rip, threads[0]->GetRegisters().rip);
    EXPECT_NE(0u, threads[0]->GetStackSize()) << "a stack pointer in its stack";
    const bool id_read = c.thread_field == own_thread_field;
    EXPECT_EQ(id_read ? crash.thread_id : 0u, threads[0]->GetThreadId());
    const bool this_thread_listed =
        std::any_of(threads.begin() + 1, threads.end(),
                    [&](const auto& thread) { return thread->GetThreadId() == crash.thread_id; });
    EXPECT_EQ(!id_read && !c.script.thread_list_fails, this_thread_listed) << "the crashed thread once";
    if (c.script.thread_list_fails) {
      EXPECT_EQ(1u, threads.size());
    }

    const std::string main = c.main_module ? (*c.main_module ? c.main_module : own_name) : "";
    EXPECT_EQ(main, state.GetMainModule() ? state.GetMainModule()->GetName() : "");
    if (c.module_count) {
      EXPECT_EQ(c.module_count, state.GetModules().size());
    } else {
      EXPECT_LT(3u, state.GetModules().size()) << "the system's list";
    }
    for (const auto& module : state.GetModules())
      EXPECT_NE('\0', *module->GetName()) << "named from its file when the list gives no name";
  }
}

// The reader logs its first hundred failures, the hundredth with a note that it stops there.
TEST(ProcessStateImplTest, ReadFailuresAreLoggedAHundredTimes) {
  RemoteMemoryReader reader(GetCurrentProcess());
  test_support::ScopedLogCapture capture;
  const uint64_t unmapped = reinterpret_cast<uintptr_t>(kUnmappedAddress);
  size_t read = 1;
  for (int i = 1; i <= 99; ++i)
    ASSERT_EQ(nullptr, reader.Read(unmapped, 8, &read));
  EXPECT_EQ(0u, read);
  ASSERT_EQ(99u, capture.lines().size());
  EXPECT_EQ(0u, capture.lines().back().text.find("ReadProcessMemory failed for address 0x1000 and size 8, bytes_read=0"));
  EXPECT_EQ(nullptr, reader.Read(unmapped, 16, &read));
  ASSERT_EQ(101u, capture.lines().size()) << "the hundredth: two lines";
  EXPECT_EQ(0u, capture.lines()[99].text.find("ReadProcessMemory failed for address 0x1000 and size 16, bytes_read=0"));
  EXPECT_EQ("Reached limit of logged memory read errors", capture.lines()[100].text);
  EXPECT_EQ(nullptr, reader.Read(unmapped, 8, &read));
  EXPECT_EQ(101u, capture.lines().size()) << "the hundred-and-first: none";

  const char kText[] = "read back through the reader";
  const uint8_t* bytes = reader.Read(reinterpret_cast<uintptr_t>(kText), sizeof(kText), &read);
  ASSERT_NE(nullptr, bytes);
  EXPECT_EQ(sizeof(kText), read);
  EXPECT_STREQ(kText, reinterpret_cast<const char*>(bytes));
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
