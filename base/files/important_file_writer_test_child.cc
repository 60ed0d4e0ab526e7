// Started by the process tests of ImportantFileWriter, which kill it at chosen and at random moments, or have it
// write while others write the same file. It writes generation `first` of the test file, signals "ready", waits
// for "go", and then writes the following generations one after the other, signalling "created" whenever a write
// has made its temporary file and releasing the "progress" semaphore after each completed write, until it is
// killed. With "resume", each write then also holds until that event is set, so that the test can kill it at
// exactly that step or start counting from the very start of the write. With "turns", each write after the
// first waits for "go" again, so that writers of one file can take turns.
//
// Switches: target (the file), first (a generation number), ready, go, created, progress, resume (optional),
// turns (optional, no value) (kernel-object names).
// Exit codes: 2 bad switches, 3 a kernel object could not be opened, 4 a write failed.
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "base/files/important_file_writer_test_content.h"

namespace {

HANDLE g_created = nullptr;
HANDLE g_resume = nullptr;

void SignalTempFileCreated(const base::FilePath&) {
  ::SetEvent(g_created);
  if (g_resume)
    ::WaitForSingleObject(g_resume, INFINITE);
}

}  // namespace

int main() {
  if (!base::CommandLine::Init())
    return 2;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const base::FilePath target = command_line.GetSwitchValuePath("target");
  const std::string first = command_line.GetSwitchValueASCII("first");
  if (target.empty() || first.empty())
    return 2;
  uint32_t generation = static_cast<uint32_t>(std::stoul(first));

  HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, command_line.GetSwitchValueNative("ready").c_str());
  HANDLE go = ::OpenEventW(SYNCHRONIZE, FALSE, command_line.GetSwitchValueNative("go").c_str());
  HANDLE progress =
      ::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, command_line.GetSwitchValueNative("progress").c_str());
  g_created = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, command_line.GetSwitchValueNative("created").c_str());
  if (!ready || !go || !progress || !g_created)
    return 3;
  if (command_line.HasSwitch("resume") &&
      !(g_resume = ::OpenEventW(SYNCHRONIZE, FALSE, command_line.GetSwitchValueNative("resume").c_str())))
    return 3;

  if (!base::ImportantFileWriter::WriteFileAtomically(target, important_file_test::MakeGenerationContent(generation)))
    return 4;
  ::SetEvent(ready);
  ::WaitForSingleObject(go, INFINITE);
  base::ImportantFileWriter::SetTempFileCreatedHookForTesting(&SignalTempFileCreated);
  const bool turns = command_line.HasSwitch("turns");
  for (bool first_write = true;; first_write = false) {
    if (turns && !first_write)
      ::WaitForSingleObject(go, INFINITE);
    ++generation;
    if (!base::ImportantFileWriter::WriteFileAtomically(target,
                                                        important_file_test::MakeGenerationContent(generation)))
      return 4;
    ::ReleaseSemaphore(progress, 1, nullptr);
  }
}
