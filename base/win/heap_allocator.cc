#include "base/win/heap_allocator.h"

#include <malloc.h>

#include <atomic>

namespace base {
namespace win {
namespace {

std::atomic<HANDLE> g_heap{nullptr};

void* AllocateBlock(size_t size, DWORD flags) {
  if (size >= kMaxHeapAllocationSize)
    return nullptr;
  return HeapAlloc(GetAllocatorHeap(), flags, size);
}

}  // namespace

HANDLE GetAllocatorHeap() {
  // The C runtime DLL is initialised before this module runs any code, so its heap exists; racing first
  // callers store the same value.
  HANDLE heap = g_heap.load(std::memory_order_relaxed);
  if (!heap) {
    heap = reinterpret_cast<HANDLE>(_get_heap_handle());
    g_heap.store(heap, std::memory_order_relaxed);
  }
  return heap;
}

}  // namespace win
}  // namespace base

// These definitions take the place of the C runtime DLL's: the linker resolves every reference in the module
// to them (see area.cmake, which makes every module link them). None of them calls another, so the compiler
// cannot fold one into a call of another.
extern "C" {

void* malloc(size_t size) {
  return base::win::AllocateBlock(size, 0);
}

void* calloc(size_t count, size_t size) {
  // A count or size of 0 asks for a zero-byte block; otherwise the product must not overflow.
  const size_t total = count * size;
  if (size != 0 && total / size != count)
    return nullptr;
  return base::win::AllocateBlock(total, HEAP_ZERO_MEMORY);
}

void* realloc(void* block, size_t size) {
  if (!block)
    return base::win::AllocateBlock(size, 0);
  if (size == 0) {
    HeapFree(base::win::GetAllocatorHeap(), 0, block);
    return nullptr;
  }
  if (size >= base::win::kMaxHeapAllocationSize)
    return nullptr;  // the block stays as it was
  return HeapReAlloc(base::win::GetAllocatorHeap(), 0, block, size);
}

void free(void* block) {
  if (block)
    HeapFree(base::win::GetAllocatorHeap(), 0, block);
}

}  // extern "C"
