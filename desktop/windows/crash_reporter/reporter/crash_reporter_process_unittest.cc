// The reporter end to end: crash_reporter_test_child.exe starts up as an installer process (starting itself again
// as its reporter) and fails; the run ends when its job (host, reporter, what they start) is empty.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/reporter/reporter_self_crash.h"
#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"
#include "testing/loopback_server.h"
#include "testing/test_support.h"

namespace zorvi {
namespace installer {
namespace {

// The crash server: the check (GET) and the log (POST) go to the crash URL, whose path picks the verdict.
constexpr char kServerFaults[] = R"({
  "/accept": [{"status": 303, "location": "http://127.0.0.1:{port}/crashes?id=abc&crash=1"},
              {"status": 200, "body": "ok", "times": "all"}],
  "/e2e": [{"status": 303, "location": "http://127.0.0.1:{port}/crashes?id=e2e&crash=1"},
           {"status": 200, "body": "ok", "times": "all"}],
  "/error": [{"status": 500}, {"status": 200, "body": "ok", "times": "all"}],
  "/reject": [{"status": 503}, {"status": 200, "body": "ok", "times": "all"}],
  "/self": [{"status": 200, "body": "ok", "times": "all"}],
  "/slow": [{"status": 303, "location": "http://127.0.0.1:{port}/crashes?id=slow&crash=1"},
            {"status": 200, "body": "ok", "delay": 2, "times": "all"}],
  "/collector/submit": [{"status": 200, "body": "ok", "times": "all"}],
  "/never": [{"silent": true, "times": "all"}]
})";

// Long enough for a dump written on a loaded machine, short of the test's limit.
constexpr DWORD kRunLimitMs = 250000;
constexpr DWORD kReporterStartWaitMs = 60000;

struct HostRun {
  std::unique_ptr<test_support::LoopbackServer> server;  // of this run alone, so that verdicts count from 1
  std::wstring dir;
  DWORD exit_code = 0;
  uint32_t reporter = 0;
  uint64_t start_ms = 0;
  DWORD thread = 0;
  std::string modules;
  base::win::ScopedHandle host;
  base::win::ScopedHandle reporter_process;
  base::win::ScopedHandle job;
  base::win::ScopedHandle port;
  base::win::ScopedHandle go;  // set by StartHost unless the test holds the host
};

std::vector<std::wstring> ListFolder(const std::wstring& dir, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  base::FileEnumerator found(base::FilePath(dir), false,
                             base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES, pattern);
  for (base::FilePath path = found.Next(); !path.empty(); path = found.Next())
    names.push_back(path.BaseName().value());
  return names;
}

class CrashReporterProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    // The host's product is the installer's (its resources): its variables carry that name.
    SetEnvironmentVariableW(L"ZORVI_CRASH_KEEP_LOGS", L"1");
    SetEnvironmentVariableW(L"ZORVI_CRASH_ORIGIN", L"Pellow");
    // The reporter's own log and a self-reporter's files go to the temporary folder.
    SetEnvironmentVariableW(L"TMP", folder_.path().c_str());
    SetEnvironmentVariableW(L"TEMP", folder_.path().c_str());
  }
  void TearDown() override {
    for (const wchar_t* name : {L"ZORVI_CRASH_KEEP_LOGS", L"ZORVI_CRASH_ORIGIN", L"ZORVI_CRASH_SERVER_URL",
                                L"ZORVI_CRASH_LOG_DIR", L"ZORVI_TEST_SEAMS"})
      SetEnvironmentVariableW(name, nullptr);
  }

  // A folder of the run's own, and its crash server with the crash URL at `url_path`; the reporter that the run
  // starts takes both from the environment.
  void PrepareRun(const std::string& url_path, HostRun* run) {
    run->dir = folder_.path() + L"\\" + test_support::UniqueName(L"run") + L"_" + std::to_wstring(++runs_);
    ASSERT_TRUE(CreateDirectoryW(run->dir.c_str(), nullptr));
    run->server = std::make_unique<test_support::LoopbackServer>();
    std::string error;
    ASSERT_TRUE(run->server->Start(served_.path(), kServerFaults, &error)) << error;
    SetEnvironmentVariableW(L"ZORVI_CRASH_SERVER_URL", run->server->Url(url_path).c_str());
    SetEnvironmentVariableW(L"ZORVI_CRASH_LOG_DIR", run->dir.c_str());
  }

  // Starts `command` in a job that tells the run when it and everything it started have ended.
  // With `application`, the process runs that file whatever the command line's first word says.
  static void Launch(std::wstring command, HostRun* run, DWORD* process_id, const std::wstring& application = L"") {
    run->job.Set(CreateJobObjectW(nullptr, nullptr));
    run->port.Set(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {run->job.Get(), run->port.Get()};
    ASSERT_TRUE(SetInformationJobObject(run->job.Get(), JobObjectAssociateCompletionPortInformation, &association,
                                        sizeof(association)));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(CreateProcessW(application.empty() ? nullptr : application.c_str(), &command[0], nullptr, nullptr,
                               FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &started));
    run->host.Set(started.hProcess);
    base::win::ScopedHandle thread(started.hThread);
    ASSERT_TRUE(AssignProcessToJobObject(run->job.Get(), run->host.Get()));
    ResumeThread(thread.Get());
    *process_id = started.dwProcessId;
  }

  // Starts the host in a folder of its own with the crash URL at `url_path`, and lets it go once its facts and
  // its reporter's handle are had (unless `hold`: then the test sets run->go).
  // A `first_word` stands first on the host's command line in place of its path.
  void StartHost(const std::wstring& mode, const std::string& url_path, const std::wstring& switches, HostRun* run,
                 bool hold = false, const std::wstring& first_word = L"") {
    ASSERT_NO_FATAL_FAILURE(PrepareRun(url_path, run));
    const std::wstring base = run->dir.substr(run->dir.rfind(L'\\') + 1);
    base::win::ScopedHandle ready(CreateEventW(nullptr, TRUE, FALSE, (base + L"_ready").c_str()));
    run->go.Set(CreateEventW(nullptr, TRUE, FALSE, (base + L"_go").c_str()));
    // A reporter may take longer than the product's 2 s to get ready on a loaded machine.
    DWORD process_id = 0;
    const std::wstring host = test_support::ExecutableDir() + L"\\crash_reporter_test_child.exe";
    ASSERT_NO_FATAL_FAILURE(Launch((first_word.empty() ? L"\"" + host + L"\"" : first_word) + L" " + mode + L" \"" +
                                       run->dir + L"\" --test-start-wait=" + std::to_wstring(kReporterStartWaitMs) +
                                       L" " + switches,
                                   run, &process_id, first_word.empty() ? L"" : host));

    const HANDLE objects[] = {ready.Get(), run->host.Get()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, objects, FALSE, 60000)) << "the host ended before it was ready";
    auto facts = ReadRecordFields(run->dir, L"client-" + std::to_wstring(process_id) + L".txt");
    unsigned reporter = 0, thread_id = 0;
    ASSERT_TRUE(base::StringToUint(facts["reporter"], &reporter) && base::StringToUint(facts["thread"], &thread_id));
    ASSERT_TRUE(base::StringToUint64(facts["start_ms"], &run->start_ms));
    run->reporter = reporter;
    run->thread = thread_id;
    run->modules = facts["modules"];
    if (reporter)
      run->reporter_process.Set(OpenProcess(PROCESS_ALL_ACCESS, FALSE, reporter));
    if (!hold)
      SetEvent(run->go.Get());
  }

  // The real host, installer.exe, with the test build of the library (the crash client's waits set for a loaded
  // machine) in a folder of the run's own, unattended, asking for its package at a path that never answers.
  // Returns once that request has arrived, which is after the crash client has connected (it connects before any
  // role runs), and a thread of the installer has been started at address 0 (its id in run->thread).
  void StartInstaller(HostRun* run) {
    ASSERT_NO_FATAL_FAILURE(PrepareRun("/e2e", run));
    const std::wstring host = run->dir + L"\\host";
    const std::wstring bin = test_support::ExecutableDir();
    ASSERT_TRUE(CreateDirectoryW(host.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((bin + L"\\installer.exe").c_str(), (host + L"\\installer.exe").c_str(), TRUE));
    ASSERT_TRUE(CopyFileW((bin + L"\\test_build\\zorvi.dll").c_str(), (host + L"\\zorvi.dll").c_str(), TRUE));
    SetEnvironmentVariableW(L"ZORVI_TEST_SEAMS", (L"crash-reporter-start-wait=" +
                                                  std::to_wstring(kReporterStartWaitMs) + L";crash-dump-wait=" +
                                                  std::to_wstring(kRunLimitMs) + L";crash-collector=plain")
                                                     .c_str());
    // Wine starts the prefix's desktop process (explorer.exe) for the first program that asks for the desktop,
    // and it lives on: asked for here, it is started outside the run's job, which the test waits to empty.
    ASSERT_TRUE(GetDesktopWindow());
    DWORD process_id = 0;
    // An install folder of its own: installer runs into one folder take turns through a machine-wide mutex, and
    // other tests' runs use the default folder.
    ASSERT_NO_FATAL_FAILURE(Launch(L"\"" + host + L"\\installer.exe\" --silent "
                                       L"--with-feature:alternative-crash-logging=on --internal-package-server=" +
                                       run->server->Url("/never") + L" \"--installfolder=" + host + L"\\Zorvi\"",
                                   run, &process_id));
    ASSERT_TRUE(run->server->WaitForRequest("/never", kRunLimitMs)) << "no request for the package";
    // The installer starts its backend while it asks for the package. A thread started from outside enters a
    // process through a signal, which wine also takes inside fork(); creating the thread there waits for a lock
    // that fork holds, and the installer hangs for good. The crash is struck once the reporter and the backend
    // run, which is after the installer's last fork.
    ASSERT_NO_FATAL_FAILURE(WaitUntilOtherProcessesRun(run, 2));
    base::win::ScopedHandle thread(
        CreateRemoteThread(run->host.Get(), nullptr, 0, nullptr, nullptr, 0, &run->thread));
    ASSERT_TRUE(thread.IsValid()) << GetLastError();
  }

  // Waits until `count` processes of the job besides the host have started running: their loaders have listed
  // modules, which a process still being made has not.
  static void WaitUntilOtherProcessesRun(HostRun* run, size_t count) {
    const DWORD host_id = GetProcessId(run->host.Get());
    const ULONGLONG deadline = GetTickCount64() + kRunLimitMs;
    for (;;) {
      size_t running = 0;
      for (const DWORD id : JobProcessIds(run)) {
        base::win::ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
        HMODULE module = nullptr;
        DWORD needed = 0;
        running += id != host_id && process.IsValid() &&
                   K32EnumProcessModules(process.Get(), &module, sizeof(module), &needed);
      }
      if (running >= count)
        return;
      ASSERT_LT(GetTickCount64(), deadline) << "processes of the run:" << JobProcesses(run);
      ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(run->host.Get(), 20)) << "the host ended";
    }
  }

  // Waits for the host's end and then for every process of its job.
  void FinishHost(HostRun* run) {
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(run->host.Get(), kRunLimitMs));
    GetExitCodeProcess(run->host.Get(), &run->exit_code);
    WaitForEmptyJob(run);
  }

  // The ids of the job's processes.
  static std::vector<DWORD> JobProcessIds(HostRun* run) {
    struct {
      JOBOBJECT_BASIC_PROCESS_ID_LIST list;
      ULONG_PTR more[63];
    } ids = {};
    QueryInformationJobObject(run->job.Get(), JobObjectBasicProcessIdList, &ids, sizeof(ids), nullptr);
    return std::vector<DWORD>(ids.list.ProcessIdList, ids.list.ProcessIdList + ids.list.NumberOfProcessIdsInList);
  }

  // The job's processes, " <pid> <image>" each.
  static std::string JobProcesses(HostRun* run) {
    std::string text;
    for (const DWORD id : JobProcessIds(run)) {
      base::win::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
      wchar_t image[MAX_PATH] = {};
      DWORD size = MAX_PATH;
      if (process.IsValid())
        QueryFullProcessImageNameW(process.Get(), 0, image, &size);
      text += base::StringPrintf(" %lu %s", id, base::WideToUTF8(image).c_str());
    }
    return text;
  }

  static void WaitForEmptyJob(HostRun* run) {
    for (;;) {
      DWORD message = 0;
      ULONG_PTR key = 0;
      OVERLAPPED* value = nullptr;
      ASSERT_TRUE(GetQueuedCompletionStatus(run->port.Get(), &message, &key, &value, kRunLimitMs))
          << "processes of the run still alive:" << JobProcesses(run);
      if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
        return;
    }
  }

  // The run's requests on one path; the server is stopped first, so that its log is complete.
  static std::vector<test_support::LoggedRequest> RequestsTo(HostRun* run, const std::string& path) {
    run->server->Stop();
    std::vector<test_support::LoggedRequest> requests;
    for (const auto& request : run->server->Requests()) {
      if (request.path == path)
        requests.push_back(request);
    }
    return requests;
  }

  // The run's requests on the crash URL at `path`: the check (a GET with the origin and without a client URL),
  // then `posts` log posts.
  static std::vector<test_support::LoggedRequest> ExpectCheckThenPosts(HostRun* run, const std::string& path,
                                                                        size_t posts) {
    const auto requests = RequestsTo(run, path);
    EXPECT_EQ(1 + posts, requests.size());
    for (size_t i = 0; i < requests.size(); ++i)
      EXPECT_EQ(i ? "POST" : "GET", requests[i].method) << path << " #" << i;
    if (!requests.empty()) {
      EXPECT_EQ("Pellow", requests[0].Header("X-Origin"));
      EXPECT_EQ("", requests[0].Header("X-Zorvi-Crash-URL"));
    }
    return requests;
  }

  test_support::ScopedTestFolder folder_{L"reporter"};
  test_support::ScopedTestFolder served_{L"reporter_served"};
  int runs_ = 0;
};

TEST_F(CrashReporterProcessTest, EachWayOfFailingIsReportedOnceWithTheServersVerdict) {
  struct Row {
    const wchar_t* mode;
    const char* path;
    DWORD exit_code;
    const char* logged_code;  // in "caused exception ..."
    bool log_posted;
    const char* stacktrace_id;  // null: none
    const char* inject = nullptr;  // a thread started in the waiting host at this ntdll export, or at address 0
  };
  const Row rows[] = {
      {L"breakpoint", "/accept", 0x80000003, "80000003", true, "abc"},
      {L"pure-call", "/error", 0xC0000025, "C0000025", true, nullptr},
      {L"invalid-parameter", "/reject", 0xC000000D, "C000000D", false, nullptr},
      {L"window-proc", "/accept", 1, "C0000005", true, "abc"},
      {L"two-threads", "/accept", 0xC0000005, "C0000005", true, "abc"},
      {L"handle-trace", "/accept", 0xC0000005, "C0000005", true, "abc"},
      // From outside, as a crash the process cannot have asked for: a jump to 0 and a breakpoint.
      {L"wait", "/accept", 0xC0000005, "C0000005 at address 000000000000 ", true, "abc", ""},
      {L"wait", "/accept", 0x80000003, "80000003", true, "abc", "DbgBreakPoint"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(row.mode) + " " + (row.inject ? row.inject : ""));
    HostRun run;
    ASSERT_NO_FATAL_FAILURE(StartHost(row.mode, row.path, L"", &run));
    ASSERT_NE(0u, run.reporter);
    DWORD injected_thread = 0;
    if (row.inject) {
      // ntdll lies at the same address in every process.
      const auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<uintptr_t>(
          *row.inject ? GetProcAddress(GetModuleHandleW(L"ntdll.dll"), row.inject) : nullptr));
      ASSERT_TRUE(!*row.inject || start);
      base::win::ScopedHandle thread(
          CreateRemoteThread(run.host.Get(), nullptr, 0, start, nullptr, 0, &injected_thread));
      ASSERT_TRUE(thread.IsValid()) << GetLastError();
    }
    ASSERT_NO_FATAL_FAILURE(FinishHost(&run));
    EXPECT_EQ(row.exit_code, run.exit_code) << std::hex << run.exit_code;

    // One crash, one log, kept on disk (keep-logs is set), named after the reporter; nothing else but the
    // host's facts: no dump (the setting is off) and no crash id file, whose path nothing answers.
    const std::wstring suffix = L"-crashlog-" + std::to_wstring(run.reporter) + L"-1.txt";
    const std::vector<std::wstring> logs = ListFolder(run.dir, L"*-crashlog-*");
    ASSERT_EQ(1u, logs.size());
    EXPECT_TRUE(base::EndsWith(logs[0], suffix, base::CompareCase::SENSITIVE)) << logs[0];
    EXPECT_EQ(2u, ListFolder(run.dir, L"*").size());
    EXPECT_TRUE(ListFolder(folder_.path(), run.dir.substr(run.dir.rfind(L'\\') + 1) + L"-*").empty());
    std::string log;
    ASSERT_TRUE(test_support::ReadFileBytes(run.dir + L"\\" + logs[0], &log));
    EXPECT_NE(std::string::npos, log.find(std::string("caused exception ") + row.logged_code)) << log.substr(0, 300);
    EXPECT_NE(std::string::npos, log.find("\r\nCrash Logger:\r\n"));
    if (injected_thread) {
      char crashed[64];
      snprintf(crashed, sizeof(crashed), "\r\nThreadInfo: %08lX\r\nPriority=", injected_thread);
      const size_t block = log.find(crashed);
      EXPECT_NE(std::string::npos, block) << "the injected thread " << injected_thread;
      EXPECT_EQ(block, log.find("\r\nThreadInfo: ")) << "the injected thread is not the crashed one";
    }
    if (std::wstring(row.mode) == L"handle-trace") {
      // The suspect's two records, newest first; the other handle's left out.
      const size_t newest = log.find("Handle 0000000000000044, timestamp 102, info record 2, type Event");
      const size_t oldest = log.find("Handle 0000000000000044, timestamp 100, info record 0, type Event");
      EXPECT_NE(std::string::npos, newest);
      EXPECT_LT(newest, oldest);
      EXPECT_NE(std::string::npos, oldest);
      EXPECT_EQ(std::string::npos, log.find("Handle 0000000000000045"));
    }

    const auto requests = ExpectCheckThenPosts(&run, row.path, row.log_posted ? 1 : 0);
    EXPECT_TRUE(RequestsTo(&run, "/collector/submit").empty());
    std::string last_post_body;
    if (row.log_posted && requests.size() == 2) {
      ASSERT_TRUE(run.server->ReadBody(requests[1], &last_post_body));
      EXPECT_NE(std::string::npos, last_post_body.find("name=\"file\"; filename="));
      EXPECT_EQ(row.stacktrace_id != nullptr, last_post_body.find("name=\"stacktraceId\"") != std::string::npos);
      if (row.stacktrace_id) {
        EXPECT_NE(std::string::npos, last_post_body.find(row.stacktrace_id));
      }
    }
  }
}

TEST_F(CrashReporterProcessTest, StartUpFindsOrStartsItsReporter) {
  struct Row {
    const wchar_t* mode;
    const wchar_t* switches;
    bool own_reporter;  // a reporter was started and is the one recorded
    uint32_t named;     // otherwise the reporter recorded
    const wchar_t* first_word = L"";  // of the host's command line, in place of its path
  };
  const Row rows[] = {
      {L"start-only", L"", true, 0},
      // The reporter is this program again, whatever the command line's first word names.
      {L"start-only", L"", true, 0, L"setup"},
      {L"start-only", L"--crash-reporter-pid=-5", true, 0},
      {L"start-only", L"--crash-reporter-pid=abc", true, 0},
      {L"start-only", L"--crash-reporter-pid=4294967295", false, 4294967295u},
      // Switches that give a reporter its role are not passed on to the one started.
      {L"start-only", L"--crash-reporter-exception-info=1 /Crash-Reporter-Minidump=1", true, 0},
      {L"reporter-exits", L"", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(std::wstring(row.mode) + L" " + row.switches));
    HostRun run;
    ASSERT_NO_FATAL_FAILURE(StartHost(row.mode, "/accept", row.switches, &run, false, row.first_word));
    if (row.own_reporter) {
      EXPECT_NE(0u, run.reporter);
      ASSERT_TRUE(run.reporter_process.IsValid());
      wchar_t image[MAX_PATH];
      DWORD size = MAX_PATH;
      ASSERT_TRUE(QueryFullProcessImageNameW(run.reporter_process.Get(), 0, image, &size));
      EXPECT_TRUE(base::EndsWith(image, L"\\crash_reporter_test_child.exe", base::CompareCase::INSENSITIVE_ASCII))
          << base::WideToUTF8(image);
    } else {
      EXPECT_EQ(row.named, run.reporter);
    }
    if (std::wstring(row.mode) == L"reporter-exits") {
      // The reporter's end ended the wait, long before the time it was given to get ready.
      EXPECT_LT(run.start_ms, kReporterStartWaitMs / 2);
    }
    // The reporter ends with the host, which leaves the job empty.
    ASSERT_NO_FATAL_FAILURE(FinishHost(&run));
    EXPECT_EQ(0u, run.exit_code);
    if (run.reporter_process.IsValid()) {
      DWORD reporter_exit = STILL_ACTIVE;
      GetExitCodeProcess(run.reporter_process.Get(), &reporter_exit);
      EXPECT_EQ(0u, reporter_exit);
    }
    ASSERT_TRUE(test_support::WriteFileBytes(test_support::TestDataDir() + L"\\modules.txt", run.modules));
  }
}

// The whole way of a crash, for the test host failing in its own code and for the real installer.exe, unattended,
// struck from outside once its start-up is over: the log and the minidump kept, the log checked with the crash
// server and posted, the dump posted; the area's Linux check reads what each run kept and posted.
TEST_F(CrashReporterProcessTest, ACrashedHostIsLoggedDumpedAndUploaded) {
  for (const bool real_installer : {false, true}) {
    const std::string module = real_installer ? "installer.exe" : "crash_reporter_test_child.exe";
    SCOPED_TRACE(module);
    HostRun run;
    if (real_installer) {
      ASSERT_NO_FATAL_FAILURE(StartInstaller(&run));
    } else {
      // The host waits for its dump as long as this test may run; the product's client gives up after 15 s.
      ASSERT_NO_FATAL_FAILURE(StartHost(L"null-write", "/e2e",
                                        L"--with-feature:alternative-crash-logging=on --test-dump-wait=240000", &run));
    }
    ASSERT_NO_FATAL_FAILURE(FinishHost(&run));
    EXPECT_EQ(0xC0000005, run.exit_code) << std::hex << run.exit_code;

    // Named after the reporter, which only the test host tells.
    const std::wstring name = L"-crashlog-" + (run.reporter ? std::to_wstring(run.reporter) : L"*") + L"-1";
    const std::vector<std::wstring> logs = ListFolder(run.dir, L"*" + name + L".txt");
    const std::vector<std::wstring> dumps = ListFolder(run.dir, L"*" + name + L".dmp");
    ASSERT_EQ(1u, logs.size());
    ASSERT_EQ(1u, dumps.size());
    EXPECT_EQ(3u, ListFolder(run.dir, L"*").size());  // with the host's facts or the installer's folder
    std::string log, dump;
    ASSERT_TRUE(test_support::ReadFileBytes(run.dir + L"\\" + logs[0], &log));
    ASSERT_TRUE(test_support::ReadFileBytes(run.dir + L"\\" + dumps[0], &dump));

    const auto checks = ExpectCheckThenPosts(&run, "/e2e", 1);
    const auto dump_posts = RequestsTo(&run, "/collector/submit");
    ASSERT_EQ(2u, checks.size());
    ASSERT_EQ(1u, dump_posts.size());
    EXPECT_EQ("POST", dump_posts[0].method);

    // For the Linux check: the files as kept, the forms as posted, the crashed thread and the module.
    const std::wstring data = test_support::TestDataDir() + (real_installer ? L"\\installer_e2e" : L"\\reporter_e2e");
    CreateDirectoryW(data.c_str(), nullptr);
    std::string log_body, dump_body;
    ASSERT_TRUE(run.server->ReadBody(checks[1], &log_body));
    ASSERT_TRUE(run.server->ReadBody(dump_posts[0], &dump_body));
    const std::string expected = "thread=" + std::to_string(run.thread) + "\nmodule=" + module + "\nlog_type=" +
                                 checks[1].Header("Content-Type") + "\ndump_type=" +
                                 dump_posts[0].Header("Content-Type") + "\nzip=" +
                                 base::WideToUTF8(logs[0].substr(0, logs[0].size() - 4)) + ".zip\n";
    for (const auto& [file, bytes] : {std::pair<const wchar_t*, const std::string&>{L"crash.txt", log},
                                      {L"crash.dmp", dump}, {L"log.body", log_body}, {L"dump.body", dump_body},
                                      {L"expected.txt", expected}}) {
      ASSERT_TRUE(test_support::WriteFileBytes(data + L"\\" + file, bytes));
    }
  }
}

// A second client of the reporter (an installer process that reuses it) crashes after the parent's end, when the
// reporter has seen the parent gone and no crash in flight and is about to stop its pipe. The crash is handled
// while the pipe stops, and the reporter stays until the upload it queued is answered (the server takes 2 s).
TEST_F(CrashReporterProcessTest, ACrashAfterTheParentsEndIsStillUploaded) {
  HostRun parent, client;
  ASSERT_NO_FATAL_FAILURE(StartHost(L"start-only", "/slow", L"--test-hold-stopping", &parent, true));
  ASSERT_TRUE(parent.reporter_process.IsValid());
  ASSERT_NO_FATAL_FAILURE(StartHost(L"null-write", "/accept",
                                    L"--test-dump-wait=240000 --crash-reporter-pid=" + std::to_wstring(parent.reporter),
                                    &client, true));
  EXPECT_EQ(parent.reporter, client.reporter);
  const std::wstring base = parent.dir.substr(parent.dir.rfind(L'\\') + 1);
  base::win::ScopedHandle stopping(CreateEventW(nullptr, TRUE, FALSE, (base + L"_stopping").c_str()));
  base::win::ScopedHandle resume(CreateEventW(nullptr, TRUE, FALSE, (base + L"_resume").c_str()));

  SetEvent(parent.go.Get());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(parent.host.Get(), kRunLimitMs));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stopping.Get(), kRunLimitMs));
  // The client ends once the reporter has handled its crash and queued the upload.
  SetEvent(client.go.Get());
  ASSERT_NO_FATAL_FAILURE(FinishHost(&client));
  EXPECT_EQ(0xC0000005, client.exit_code) << std::hex << client.exit_code;
  SetEvent(resume.Get());
  ASSERT_NO_FATAL_FAILURE(WaitForEmptyJob(&parent));
  DWORD reporter_exit = STILL_ACTIVE;
  GetExitCodeProcess(parent.reporter_process.Get(), &reporter_exit);
  EXPECT_EQ(0u, reporter_exit);

  // The reporter's crash folder is the parent's.
  const std::vector<std::wstring> logs =
      ListFolder(parent.dir, L"*-crashlog-" + std::to_wstring(parent.reporter) + L"-1.txt");
  ASSERT_EQ(1u, logs.size());
  std::string log;
  ASSERT_TRUE(test_support::ReadFileBytes(parent.dir + L"\\" + logs[0], &log));
  EXPECT_NE(std::string::npos, log.find("caused exception C0000005"));
  const auto requests = ExpectCheckThenPosts(&parent, "/slow", 1);
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(200, requests[1].status);
  EXPECT_TRUE(requests[1].complete) << "the reporter ended before its upload was answered";
}

TEST_F(CrashReporterProcessTest, AReporterCrashIsReportedOnceInThreeDays) {
  // The host's branding names the company "Zorvi".
  base::win::RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, L"Software\\Zorvi", KEY_ALL_ACCESS));
  key.DeleteValue(kLastReporterCrashValue);
  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  uint64_t reported = 0;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    HostRun run;
    ASSERT_NO_FATAL_FAILURE(StartHost(L"wait", "/self", L"", &run));
    ASSERT_TRUE(run.reporter_process.IsValid());
    // A thread of the reporter starts at address 0, as if the reporter had jumped through a null pointer.
    const ULONGLONG injected = GetTickCount64();
    base::win::ScopedHandle thread(CreateRemoteThread(run.reporter_process.Get(), nullptr, 0, nullptr, nullptr, 0,
                                                      nullptr));
    ASSERT_TRUE(thread.IsValid()) << GetLastError();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(run.reporter_process.Get(), 60000));
    EXPECT_LT(GetTickCount64() - injected, 20000u);
    DWORD reporter_exit = 0;
    GetExitCodeProcess(run.reporter_process.Get(), &reporter_exit);
    EXPECT_EQ(0xC0000005, reporter_exit) << std::hex << reporter_exit;
    // The host stays until it is ended; the self-reporter ends once its upload is done.
    TerminateProcess(run.host.Get(), 0);
    ASSERT_NO_FATAL_FAILURE(WaitForEmptyJob(&run));

    const auto posts = RequestsTo(&run, "/self");
    uint64_t stored = 0;
    DWORD size = sizeof(stored), type = 0;
    ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(kLastReporterCrashValue, &stored, &size, &type));
    EXPECT_EQ(static_cast<DWORD>(REG_QWORD), type);
    if (round == 0) {
      ASSERT_EQ(1u, posts.size());
      std::string body;
      ASSERT_TRUE(run.server->ReadBody(posts[0], &body));
      // The zipped log's metadata names the reporter as the crashed process (the Linux check reads it).
      ASSERT_TRUE(test_support::WriteFileBytes(test_support::TestDataDir() + L"\\self_log.body", body));
      ASSERT_TRUE(test_support::WriteFileBytes(test_support::TestDataDir() + L"\\self_log.type",
                                               posts[0].Header("Content-Type")));
      FILETIME after;
      GetSystemTimeAsFileTime(&after);
      const uint64_t low = (uint64_t{before.dwHighDateTime} << 32) | before.dwLowDateTime;
      const uint64_t high = (uint64_t{after.dwHighDateTime} << 32) | after.dwLowDateTime;
      EXPECT_GE(stored, low - low % 10000);  // the stored time has whole milliseconds
      EXPECT_LE(stored, high);
      reported = stored;
      ASSERT_TRUE(test_support::WriteFileBytes(test_support::TestDataDir() + L"\\reporter_crash_time.txt",
                                               std::to_string(stored)));
    } else {
      // Within three days: the crashed reporter is only released.
      EXPECT_TRUE(posts.empty());
      EXPECT_EQ(reported, stored);
    }
    // The self-reporter leaves no file of its own behind.
    EXPECT_TRUE(ListFolder(folder_.path(), L"*-crashlog-*").empty());
  }
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
