// A read-only snapshot of a crashed process as the crash log prints it: the crash itself, the threads with their
// registers, the loaded modules, and a reader of the process's memory. The reporter's snapshot is
// ProcessStateImpl (process_state_impl.h); tests print snapshots of their own making.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_PROCESS_STATE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_PROCESS_STATE_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zorvi {
namespace installer {

// One x87 register as the floating-point save area holds it: the 64-bit significand, then the sign and
// 15-bit exponent.
struct X87Register {
  uint64_t significand;
  uint16_t sign_exponent;
};

struct Xmm128 {
  uint64_t low;
  uint64_t high;
};

// A thread's registers, all zero until they are read.
struct ThreadRegisters {
  uint64_t rax, rbx, rcx, rdx, rsi, rdi, rbp, rsp;
  uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
  uint64_t rip;
  uint32_t flags;
  X87Register st[8];
  uint32_t status_word;   // 16-bit value
  uint32_t control_word;  // 16-bit value
  Xmm128 xmm[16];
};

class ModuleInfo {
 public:
  virtual ~ModuleInfo() = default;
  // At most 127 characters; empty when unknown.
  virtual const char* GetName() const = 0;
  virtual uint64_t GetBaseAddress() const = 0;
  virtual uint32_t GetSize() const = 0;
  virtual uint64_t GetLoadAddress() const = 0;  // the base address
  // Where the image's code ends, relative to the load address (0 when unknown).
  virtual uint64_t GetCodeEndOffset() const = 0;
  // The file version text, at most 127 characters; empty when unknown.
  virtual const char* GetVersion() const = 0;
  virtual uint32_t GetTimestamp() const = 0;
};

class ThreadInfo {
 public:
  virtual ~ThreadInfo() = default;
  virtual uint32_t GetThreadId() const = 0;
  virtual int32_t GetPriority() const = 0;
  virtual const ThreadRegisters& GetRegisters() const = 0;
  // Bytes from the stack pointer to the end of the stack's memory region; 0 when that is not a sound stack.
  virtual uint64_t GetStackSize() const = 0;
  virtual bool IsCrashed() const = 0;
};

// Reads a crashed process's memory into a buffer of its own, reused from read to read. The handle is the
// snapshot's, which must outlive the reader. Failed reads are logged, the first hundred of them.
class RemoteMemoryReader {
 public:
  static constexpr int kMaxLoggedFailures = 100;

  explicit RemoteMemoryReader(HANDLE process);
  virtual ~RemoteMemoryReader();
  RemoteMemoryReader(const RemoteMemoryReader&) = delete;
  RemoteMemoryReader& operator=(const RemoteMemoryReader&) = delete;

  // The bytes at `address`, valid until the next read; null with 0 in *bytes_read when they cannot be read.
  virtual const uint8_t* Read(uint64_t address, size_t size, size_t* bytes_read);

 private:
  const HANDLE process_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  int failures_ = 0;
};

class ProcessState {
 public:
  using Threads = std::vector<std::unique_ptr<ThreadInfo>>;
  using Modules = std::vector<std::unique_ptr<ModuleInfo>>;

  virtual ~ProcessState() = default;
  // Whether one byte at `address` can be read from the process.
  virtual bool IsAddressReadable(uint64_t address) const = 0;
  virtual uint32_t GetExceptionCode() const = 0;
  // A name for the exception code, or null when there is none (readers then print the code).
  virtual const char* GetExceptionName() const = 0;
  virtual uint64_t GetExceptionAddress() const = 0;
  // The crashed thread first, then the others in the order they were found.
  virtual const Threads& GetThreads() const = 0;
  // Null when the main executable was not found among the modules.
  virtual const ModuleInfo* GetMainModule() const = 0;
  virtual const Modules& GetModules() const = 0;
  // A new reader owned by the caller; null without a process to read.
  virtual std::unique_ptr<RemoteMemoryReader> CreateMemoryReader() const = 0;
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_PROCESS_STATE_H_
