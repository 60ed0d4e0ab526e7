#include "base/win/window_proc_exception_filter.h"

#include <atomic>

namespace base {
namespace win {
namespace {

std::atomic<WinProcExceptionFilter> g_filter{nullptr};

}  // namespace

WinProcExceptionFilter SetWindowProcExceptionFilter(WinProcExceptionFilter filter) {
  return g_filter.exchange(filter, std::memory_order_seq_cst);
}

int CallWindowProcExceptionFilter(EXCEPTION_POINTERS* info, void* value) {
  WinProcExceptionFilter filter = g_filter.load(std::memory_order_seq_cst);
  return filter ? filter(info, value) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace win
}  // namespace base
