// The module's own malloc, calloc, realloc and free. Every C and C++ allocation of the code linked into a
// module goes through them: this project's code, the C++ runtime's operator new, the threading and runtime
// support libraries, libcrypto and the archive readers. Requests of kMaxHeapAllocationSize bytes or more fail
// with null instead of reaching the heap.
//
// The blocks come from the C runtime DLL's own heap (msvcrt keeps a private one), the heap that msvcrt's
// functions allocate from internally (strdup, fopen buffers, ...). A block may therefore be freed by either
// side: the runtime may free what this module allocated and this module may free what the runtime returned.
#ifndef BASE_WIN_HEAP_ALLOCATOR_H_
#define BASE_WIN_HEAP_ALLOCATOR_H_

#include <windows.h>

#include <cstddef>

namespace base {
namespace win {

// 4096 bytes below 2^31 - 1.
constexpr size_t kMaxHeapAllocationSize = 0x7FFFEFFF;

// The heap behind malloc and free: the C runtime's.
HANDLE GetAllocatorHeap();

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_HEAP_ALLOCATOR_H_
