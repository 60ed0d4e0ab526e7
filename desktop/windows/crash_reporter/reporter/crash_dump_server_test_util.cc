#include "desktop/windows/crash_reporter/reporter/crash_dump_server_test_util.h"

namespace zorvi {
namespace installer {
namespace {

DWORD RunTestChild(const std::wstring& program, const std::wstring& arguments, std::string* output = nullptr) {
  const std::wstring command = L"\"" + test_support::ExecutableDir() + L"\\" + program + L"\" " + arguments;
  DWORD exit_code = 0;
  return test_support::RunProcess(command, &exit_code, output) ? exit_code : static_cast<DWORD>(-1);
}

// How long a crashing client waits for its dump when the test writes real minidumps of it: wine's first dumps
// in a process take 16-20 s each on a loaded machine, and three of them took 94 s, so the client waits nearly
// as long as those tests may run (300 s).
constexpr DWORD kDumpedClientWaitMs = 280000;

}  // namespace

RecordingCrashServer::RecordingCrashServer(bool generate_dumps, const std::wstring& dump_folder)
    : pipe_name_(std::wstring(kCrashPipeNamePrefix) + test_support::UniqueName(L"Server")),
      connect_semaphore_(CreateSemaphoreW(nullptr, 0, 100000, nullptr)),
      exits_reached_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  const CrashDumpServerCallbacks callbacks = {&OnConnect, this, &OnDump, this, &OnExit, this, &OnUpload, this};
  server_ = std::make_unique<CrashDumpServer>(pipe_name_, nullptr, callbacks, generate_dumps, dump_folder);
}

RecordingCrashServer::~RecordingCrashServer() {
  Destroy();
}

bool RecordingCrashServer::Start() {
  return server_->Start();
}

void RecordingCrashServer::Destroy() {
  server_.reset();
}

bool RecordingCrashServer::WaitForConnect(DWORD* process_id) {
  if (WaitForSingleObject(connect_semaphore_.get(), kHangWaitMs) != WAIT_OBJECT_0)
    return false;
  std::lock_guard<std::mutex> lock(mutex_);
  *process_id = connected_[connects_taken_++];
  return true;
}

bool RecordingCrashServer::WaitForExits(size_t count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    exits_awaited_ = count;
    if (exits_ >= count)
      return true;
  }
  return WaitForSingleObject(exits_reached_.get(), kHangWaitMs) == WAIT_OBJECT_0;
}

std::vector<DWORD> RecordingCrashServer::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

std::vector<DWORD> RecordingCrashServer::uploads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return uploads_;
}

size_t RecordingCrashServer::dump_requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dump_requests_;
}

void RecordingCrashServer::OnConnect(void* context, const CrashClientRecord* client) {
  auto* self = static_cast<RecordingCrashServer*>(context);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->connected_.push_back(client->process_id());
  }
  ReleaseSemaphore(self->connect_semaphore_.get(), 1, nullptr);
}

void RecordingCrashServer::OnDump(void* context, const CrashClientRecord* client, const std::wstring* dump_path) {
  auto* self = static_cast<RecordingCrashServer*>(context);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    ++self->dump_requests_;
  }
  if (self->dump_handler_)
    self->dump_handler_(*client, dump_path);
}

void RecordingCrashServer::OnExit(void* context, const CrashClientRecord*) {
  auto* self = static_cast<RecordingCrashServer*>(context);
  std::lock_guard<std::mutex> lock(self->mutex_);
  if (++self->exits_ >= self->exits_awaited_ && self->exits_awaited_ > 0)
    SetEvent(self->exits_reached_.get());
}

void RecordingCrashServer::OnUpload(void* context, DWORD process_id) {
  auto* self = static_cast<RecordingCrashServer*>(context);
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->uploads_.push_back(process_id);
}


DWORD RunPipeClient(const std::wstring& mode, const std::wstring& pipe_name, const std::wstring& argument,
                    std::string* output) {
  return RunTestChild(L"crash_pipe_client_test_child.exe", mode + L" \"" + pipe_name + L"\" " + argument, output);
}

DWORD RunCrashingClient(const std::wstring& mode, const std::wstring& pipe_name, const std::wstring& folder,
                        const std::wstring& arguments) {
  return RunTestChild(L"crash_client_test_child.exe", mode + L" \"" + pipe_name + L"\" \"" + folder + L"\" " +
                                                          test_support::UniqueName(L"Client") + L" " +
                                                          std::to_wstring(kDumpedClientWaitMs) + L" " + arguments);
}

}  // namespace installer
}  // namespace zorvi
