#include "base/message_loop/guarded_window_proc.h"

#include "base/win/window_proc_exception_filter.h"

// The compiler has no __try/__except, so the guarded call is a small assembly function whose unwind data
// names the C runtime's scope-table handler: one scope around the call, with the filter below and, as the
// place to continue when the filter handles the exception, an exit that returns 0.

extern "C" {

LRESULT GuardedWindowProcCall(WNDPROC window_proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Called by the scope-table handler with the exception and the guarded frame.
LONG GuardedWindowProcFilter(EXCEPTION_POINTERS* exception, void* establisher_frame) {
  (void)establisher_frame;
  return base::win::CallWindowProcExceptionFilter(exception, nullptr);
}

}  // extern "C"

// Entry: rcx = window_proc, rdx = hwnd, r8 = message, r9 = wparam, lparam on the stack above the 32-byte
// home area. The procedure is called with its four arguments moved down one register.
asm(R"(
    .text
    .p2align 4
    .globl GuardedWindowProcCall
    .def GuardedWindowProcCall; .scl 2; .type 32; .endef
    .seh_proc GuardedWindowProcCall
GuardedWindowProcCall:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, %rax
    movq %rdx, %rcx
    movq %r8, %rdx
    movq %r9, %r8
    movq 80(%rsp), %r9
.Lguarded_call_begin:
    callq *%rax
    nop
.Lguarded_call_end:
    addq $40, %rsp
    retq
.Lguarded_call_handled:
    xorl %eax, %eax
    addq $40, %rsp
    retq
    .seh_handler __C_specific_handler, @except
    .seh_handlerdata
    .long 1
    .rva .Lguarded_call_begin, .Lguarded_call_end, GuardedWindowProcFilter, .Lguarded_call_handled
    .text
    .seh_endproc
)");

namespace base {

LRESULT CallWindowProcGuarded(WNDPROC window_proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return GuardedWindowProcCall(window_proc, hwnd, message, wparam, lparam);
}

}  // namespace base
