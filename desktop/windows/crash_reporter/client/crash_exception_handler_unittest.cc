#include "desktop/windows/crash_reporter/client/crash_exception_handler.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"

namespace zorvi {
namespace installer {
namespace {

constexpr DWORD kInvalidParameterCode = 0xC000000D;
constexpr DWORD kPureCallCode = 0xC0000025;
constexpr DWORD kUncaughtCxxExceptionCode = 0xE06D7363;
constexpr LONG kPredecessorResult = 0x5EED;

// What the in-process handlers of a test saw, in order.
std::vector<std::string> g_seen;
bool g_nest_once = false;

LONG WINAPI Predecessor(EXCEPTION_POINTERS*) {
  g_seen.push_back("predecessor");
  return kPredecessorResult;
}

LPTOP_LEVEL_EXCEPTION_FILTER InstalledFilter() {
  LPTOP_LEVEL_EXCEPTION_FILTER filter = SetUnhandledExceptionFilter(nullptr);
  SetUnhandledExceptionFilter(filter);
  return filter;
}

// Refuses every dump (so that no test writes one) after noting who was asked; the first handler asked may
// crash again inside its hook, as a broken reporter would (which needs a handler whose filter runs on the
// crashing thread: an out-of-process one).
template <char kName>
bool NotingFilter(void*, EXCEPTION_POINTERS* pointers, CrashAssertionRecord*) {
  g_seen.push_back(std::string(1, kName));
  if (g_nest_once) {
    g_nest_once = false;
    g_seen.push_back("nested:" + std::to_string(InstalledFilter()(pointers)));
  }
  return false;
}

CrashExceptionHandler* NewInProcessHandler(CrashExceptionHandler::FilterCallback filter) {
  return new CrashExceptionHandler(std::wstring(), filter, nullptr, nullptr, CrashExceptionHandler::kHandleAll, 0,
                                   std::wstring(), nullptr);
}

class CrashExceptionHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    original_ = SetUnhandledExceptionFilter(&Predecessor);
  }
  void TearDown() override { SetUnhandledExceptionFilter(original_); }

 private:
  LPTOP_LEVEL_EXCEPTION_FILTER original_ = nullptr;
};

TEST_F(CrashExceptionHandlerTest, TheNewestHandlerAnswersAndACrashInsideItReachesTheOneBelow) {
  ScriptedCrashServer server(L"serve", FreshRecordFolder(test_support::UniqueName(L"stack")));
  ASSERT_TRUE(server.started());
  EXPECT_EQ(-1, CrashExceptionHandler::LiveHandlerCountForTesting()) << "no stack lock before the first handler";
  CrashExceptionHandler* lower = NewInProcessHandler(&NotingFilter<'A'>);
  CrashExceptionHandler* upper = new CrashExceptionHandler(std::wstring(), &NotingFilter<'B'>, nullptr, nullptr,
                                                           CrashExceptionHandler::kHandleAll, 0,
                                                           server.pipe_name(), nullptr);
  EXPECT_FALSE(lower->IsOutOfProcess());
  EXPECT_TRUE(upper->IsOutOfProcess());
  EXPECT_EQ(2, CrashExceptionHandler::LiveHandlerCountForTesting());
  EXPECT_EQ(&CrashExceptionHandler::HandleException, InstalledFilter());

  EXCEPTION_RECORD record = {};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  EXCEPTION_POINTERS pointers = {&record, nullptr};
  g_nest_once = true;
  // B refuses and crashes again inside its hook: that crash goes to A, which refuses and passes it on to the
  // filter that was there before the handlers; then B passes its own on to A's hook, whose verdict is the same.
  const LONG result = InstalledFilter()(&pointers);
  EXPECT_EQ(kPredecessorResult, result);
  const std::vector<std::string> expected = {
      "B", "A", "predecessor", "nested:" + std::to_string(kPredecessorResult), "A", "predecessor"};
  EXPECT_EQ(expected, g_seen);
  EXPECT_EQ(&CrashExceptionHandler::HandleException, InstalledFilter()) << "the hooks are back after the crash";

  delete upper;
  EXPECT_EQ(&CrashExceptionHandler::HandleException, InstalledFilter()) << "A's hook";
  EXPECT_EQ(1, CrashExceptionHandler::LiveHandlerCountForTesting());
  delete lower;
  EXPECT_EQ(&Predecessor, InstalledFilter());
  EXPECT_EQ(-1, CrashExceptionHandler::LiveHandlerCountForTesting()) << "the last handler deletes the stack lock";

  // A filter that chained to the hook may still call it: it passes the crash on and leaves no lock behind.
  g_seen.clear();
  EXPECT_EQ(EXCEPTION_CONTINUE_SEARCH, CrashExceptionHandler::HandleException(&pointers));
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(-1, CrashExceptionHandler::LiveHandlerCountForTesting());
}

TEST_F(CrashExceptionHandlerTest, DebugAndInvalidHandleExceptionsFollowTheFlags) {
  const struct {
    DWORD code;
    bool report_debug;
    bool consume_invalid_handle;
    LONG result;
    bool asked;
  } kCases[] = {
      {EXCEPTION_BREAKPOINT, false, false, kPredecessorResult, false},
      {EXCEPTION_SINGLE_STEP, false, false, kPredecessorResult, false},
      {EXCEPTION_BREAKPOINT, true, false, kPredecessorResult, true},  // reported, but the filter refuses
      {EXCEPTION_SINGLE_STEP, true, false, kPredecessorResult, true},
      {EXCEPTION_INVALID_HANDLE, false, true, EXCEPTION_CONTINUE_EXECUTION, false},
      {EXCEPTION_INVALID_HANDLE, false, false, kPredecessorResult, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code << " debug " << c.report_debug << " consume "
                                    << c.consume_invalid_handle);
    g_seen.clear();
    CrashExceptionHandler* handler = NewInProcessHandler(&NotingFilter<'H'>);
    handler->set_report_debug_exceptions(c.report_debug);
    handler->set_consume_invalid_handle_exceptions(c.consume_invalid_handle);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = c.code;
    EXCEPTION_POINTERS pointers = {&record, nullptr};
    EXPECT_EQ(c.result, CrashExceptionHandler::HandleException(&pointers));
    EXPECT_EQ(c.asked, !g_seen.empty() && g_seen.front() == "H");
    delete handler;
  }
}

TEST_F(CrashExceptionHandlerTest, HandlersDestroyedOutOfOrderWarnOnce) {
  std::string output;
  EXPECT_EQ(0u, RunCrashClient(L"handler-order", nullptr, FreshRecordFolder(test_support::UniqueName(L"order")),
                               std::wstring(), &output));
  size_t count = 0;
  for (size_t at = output.find("warning: removing crash handler out of order"); at != std::string::npos;
       at = output.find("warning: removing crash handler out of order", at + 1)) {
    ++count;
  }
  EXPECT_EQ(1u, count) << output;
}

// A crash client child against a scripted reporter, per way of failing: what the process ended with and what
// the reporter read out of its memory. A reporter that holds its answer shows that a second crashing thread
// waits while the first reports: only one request arrives.
TEST_F(CrashExceptionHandlerTest, EachWayOfFailingReachesTheReporter) {
  const std::wstring long_expression(200, L'e'), long_function(128, L'f'), long_file(127, L'g');
  const struct {
    const wchar_t* mode;
    std::wstring arguments;
    DWORD exit_code;
    int requests;
    DWORD code;
    uint32_t assertion_type;
    const wchar_t* script = L"serve";
  } kCases[] = {
      {L"null-write", L"", EXCEPTION_ACCESS_VIOLATION, 1, EXCEPTION_ACCESS_VIOLATION, kNoAssertion},
      {L"invalid-parameter", long_expression + L" " + long_function + L" " + long_file + L" 4321",
       kInvalidParameterCode, 1, kInvalidParameterCode, kInvalidParameterAssertion},
      {L"pure-call", L"", kPureCallCode, 1, kPureCallCode, kPureCallAssertion},
      {L"breakpoint-reported", L"", EXCEPTION_BREAKPOINT, 1, EXCEPTION_BREAKPOINT, kNoAssertion},
      {L"breakpoint", L"", EXCEPTION_BREAKPOINT, 0, 0, kNoAssertion},
      {L"uncaught", L"", kUncaughtCxxExceptionCode, 1, kUncaughtCxxExceptionCode, kNoAssertion},
      {L"two-threads", L"", EXCEPTION_ACCESS_VIOLATION, 1, EXCEPTION_ACCESS_VIOLATION, kNoAssertion, L"hold"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.mode);
    const std::wstring folder = FreshRecordFolder(test_support::UniqueName(c.mode));
    ScriptedCrashServer server(c.script, folder);
    ASSERT_TRUE(server.started());
    EXPECT_EQ(c.exit_code, RunCrashClient(c.mode, &server, folder, c.arguments));
    DWORD server_exit = 1;
    ASSERT_TRUE(server.WaitForExit(&server_exit));
    EXPECT_EQ(0u, server_exit);
    EXPECT_EQ(std::to_string(c.requests) + "\n", ReadRecord(folder, L"requests.txt"));
    EXPECT_EQ("", ReadRecord(folder, L"second_request.txt"));
    if (c.requests == 0)
      continue;
    const auto crash = ReadRecordFields(folder, L"crash1.txt");
    std::ostringstream code;
    code << std::hex << c.code;
    EXPECT_EQ(code.str(), crash.at("code"));
    CrashAssertionRecord assertion = {};
    const std::string bytes = ReadRecord(folder, L"assertion1.bin");
    ASSERT_EQ(sizeof(assertion), bytes.size());
    std::memcpy(&assertion, bytes.data(), sizeof(assertion));
    EXPECT_EQ(c.assertion_type, assertion.type);
    if (c.assertion_type == kInvalidParameterAssertion) {
      // Texts are cut to 127 units and terminated; the line travels as given.
      EXPECT_EQ(long_expression.substr(0, 127), assertion.expression);
      EXPECT_EQ(long_function.substr(0, 127), assertion.function);
      EXPECT_EQ(long_file, assertion.file);
      EXPECT_EQ(4321u, assertion.line);
      EXPECT_EQ("3", crash.at("parameters"));
    }
    if (c.mode == std::wstring(L"null-write")) {
      // The reporter finds the crashing thread and the faulting instruction inside the function that wrote.
      const auto client = ReadRecordFields(folder, L"client.txt");
      EXPECT_EQ(client.at("thread"), crash.at("thread"));
      const uint64_t function = std::stoull(client.at("function"), nullptr, 16);
      const uint64_t address = std::stoull(crash.at("address"), nullptr, 16);
      EXPECT_GE(address, function);
      EXPECT_LT(address, function + 32);
      EXPECT_EQ("1", crash.at("parameter0")) << "a write";
      EXPECT_EQ("0", crash.at("parameter1")) << "to address 0";
    }
  }
}

// The Linux-side check reads the two dumps (obj2yaml-14) and their names: two, the first the zero GUID (written
// without UuidCreate).
TEST_F(CrashExceptionHandlerTest, InProcessDumpsAreNamedAfterTheirIds) {
  const std::wstring folder = FreshRecordFolder(L"dumps");
  EXPECT_EQ(kInvalidParameterCode, RunCrashClient(L"in-process-dumps", nullptr, folder));
  std::istringstream lines(ReadRecord(folder, L"dump_ids.txt"));
  std::vector<std::string> ids;
  for (std::string id, succeeded; lines >> id >> succeeded; ids.push_back(id)) {
    EXPECT_EQ("1", succeeded) << id;
    EXPECT_EQ(36u, id.size());
  }
  ASSERT_EQ(2u, ids.size());
  EXPECT_NE(ids[0], ids[1]);
}

// An installer started from a downloads folder, beside a file a page dropped there as "dbghelp.dll": the dump
// writers and the in-process handler take the system's library. No dump is written: under load one takes wine
// minutes.
TEST_F(CrashExceptionHandlerTest, AFileNamedLikeTheDumpLibraryBesideTheProgramIsNotLoaded) {
  test_support::ScopedTestFolder beside(L"PlantedDumpLibrary");
  const std::wstring program_name = test_support::UniqueName(L"planted_crash_client") + L".exe";
  const std::wstring program = beside.path() + L"\\" + program_name;
  ASSERT_TRUE(CopyFileW((test_support::ExecutableDir() + L"\\crash_client_test_child.exe").c_str(), program.c_str(),
                        FALSE));
  const test_support::ScopedPlantedLibraries planted(
      beside.path(), program_name, test_support::ExecutableDir() + L"\\native_library_dependency_test_dll.dll",
      {L"dbghelp"});
  const std::wstring folder = FreshRecordFolder(test_support::UniqueName(L"planted_dump_library"));
  EXPECT_EQ(0u, RunCrashClientCopy(program, L"dump-libraries", nullptr, folder));
  wchar_t system_folder[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryW(system_folder, MAX_PATH));
  std::string expected(system_folder, system_folder + wcslen(system_folder));
  expected += "\\dbghelp.dll";
  std::istringstream lines(ReadRecord(folder, L"libraries.txt"));
  int loads = 0;
  for (std::string line; std::getline(lines, line); ++loads)
    EXPECT_EQ(0, _stricmp(expected.c_str(), line.c_str())) << line;
  EXPECT_EQ(2, loads) << "the dump writers' library and the handler's";
  test_support::RemoveTree(folder);
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
