#include "desktop/windows/crash_reporter/reporter/thread_info_impl.h"

#include <cstring>

#include "base/logging.h"
#include "base/win/scoped_handle.h"

namespace zorvi {
namespace installer {
namespace {

constexpr DWORD kThreadAccess = THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION;
static_assert(kThreadAccess == 0x48);
static_assert(CONTEXT_FULL == 0x10000B && sizeof(CONTEXT) == 1232);
// Where the context keeps the x87 and SSE state (the FXSAVE layout): control word first, status word after it,
// the eight x87 registers in 16-byte slots, then the XMM registers.
static_assert(offsetof(CONTEXT, FltSave) == 0x100 && offsetof(CONTEXT, FltSave.FloatRegisters) == 0x120 &&
              offsetof(CONTEXT, Xmm0) == 0x1A0);

}  // namespace

ThreadInfoImpl::ThreadInfoImpl(uint32_t thread_id, bool crashed) : thread_id_(thread_id), crashed_(crashed) {}

ThreadInfoImpl::~ThreadInfoImpl() = default;

bool ThreadInfoImpl::Init(HANDLE process) {
  base::win::ScopedHandle thread(OpenThread(kThreadAccess, FALSE, thread_id_));
  if (!thread.IsValid()) {
    PLOG(ERROR) << "OpenThread failed for 0x" << std::hex << thread_id_;
    return false;
  }
  CONTEXT context;
  memset(&context, 0, sizeof(context));
  context.ContextFlags = CONTEXT_FULL;
  if (!GetThreadContext(thread.Get(), &context)) {
    PLOG(ERROR) << "GetThreadContext failed for 0x" << std::hex << thread_id_;
    return false;
  }
  CopyRegisters(context);
  ReadPriority(thread.Get());
  CheckStack(process);
  return true;
}

void ThreadInfoImpl::InitWithContext(HANDLE process, const CONTEXT& context) {
  CopyRegisters(context);
  base::win::ScopedHandle thread(OpenThread(kThreadAccess, FALSE, thread_id_));
  if (thread.IsValid())
    ReadPriority(thread.Get());
  CheckStack(process);
}

uint32_t ThreadInfoImpl::GetThreadId() const {
  return thread_id_;
}

int32_t ThreadInfoImpl::GetPriority() const {
  return priority_;
}

const ThreadRegisters& ThreadInfoImpl::GetRegisters() const {
  return registers_;
}

uint64_t ThreadInfoImpl::GetStackSize() const {
  return stack_size_;
}

bool ThreadInfoImpl::IsCrashed() const {
  return crashed_;
}

void ThreadInfoImpl::CopyRegisters(const CONTEXT& context) {
  ThreadRegisters& r = registers_;
  r.rax = context.Rax;
  r.rbx = context.Rbx;
  r.rcx = context.Rcx;
  r.rdx = context.Rdx;
  r.rsi = context.Rsi;
  r.rdi = context.Rdi;
  r.rbp = context.Rbp;
  r.rsp = context.Rsp;
  r.r8 = context.R8;
  r.r9 = context.R9;
  r.r10 = context.R10;
  r.r11 = context.R11;
  r.r12 = context.R12;
  r.r13 = context.R13;
  r.r14 = context.R14;
  r.r15 = context.R15;
  r.rip = context.Rip;
  r.flags = context.EFlags;
  for (int i = 0; i < 8; ++i) {
    const uint8_t* slot = reinterpret_cast<const uint8_t*>(&context.FltSave.FloatRegisters[i]);
    memcpy(&r.st[i].significand, slot, sizeof(r.st[i].significand));
    memcpy(&r.st[i].sign_exponent, slot + sizeof(r.st[i].significand), sizeof(r.st[i].sign_exponent));
  }
  r.status_word = context.FltSave.StatusWord;
  r.control_word = context.FltSave.ControlWord;
  for (int i = 0; i < 16; ++i) {
    const M128A& xmm = (&context.Xmm0)[i];
    r.xmm[i] = {xmm.Low, static_cast<uint64_t>(xmm.High)};
  }
}

void ThreadInfoImpl::ReadPriority(HANDLE thread) {
  const int priority = GetThreadPriority(thread);
  if (priority == THREAD_PRIORITY_ERROR_RETURN) {
    PLOG(ERROR) << "GetThreadPriority failed for 0x" << std::hex << thread_id_;
    priority_ = 0;
    return;
  }
  priority_ = priority;
}

// Only memory that a thread's stack is made of counts: committed, private and read-write. Anything else (a
// guard page, a mapped view, a stack pointer gone astray) gives no stack size, so nothing reads through it.
void ThreadInfoImpl::CheckStack(HANDLE process) {
  const uint64_t sp = registers_.rsp;
  MEMORY_BASIC_INFORMATION region;
  const SIZE_T result =
      VirtualQueryEx(process, reinterpret_cast<const void*>(static_cast<uintptr_t>(sp)), &region, sizeof(region));
  if (result != sizeof(region)) {
    PLOG(ERROR) << "VirtualQueryEx failed, address=0x" << std::hex << sp << ", result=" << std::dec << result
                << ", expected=" << sizeof(region);
    stack_size_ = 0;
    return;
  }
  const uint64_t base = reinterpret_cast<uintptr_t>(region.BaseAddress);
  if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE && region.Protect == PAGE_READWRITE && base <= sp &&
      sp < base + region.RegionSize) {
    stack_size_ = base + region.RegionSize - sp;
    return;
  }
  LOG(ERROR) << "Sanity checks failed" << std::hex << ", state=0x" << region.State << ", type=0x" << region.Type
             << ", protect=0x" << region.Protect << ", sp=0x" << sp << ", base=0x" << base << std::dec
             << ", size=" << region.RegionSize;
  stack_size_ = 0;
}

}  // namespace installer
}  // namespace zorvi
