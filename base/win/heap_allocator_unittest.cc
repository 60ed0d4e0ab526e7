#include "base/win/heap_allocator.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace base {
namespace win {
namespace {

// The C runtime DLL's own allocator, reached past this module's definitions.
struct RuntimeAllocator {
  RuntimeAllocator() {
    HMODULE runtime = GetModuleHandleW(L"msvcrt.dll");
    malloc_ = reinterpret_cast<void* (*)(size_t)>(reinterpret_cast<void*>(GetProcAddress(runtime, "malloc")));
    free_ = reinterpret_cast<void (*)(void*)>(reinterpret_cast<void*>(GetProcAddress(runtime, "free")));
    realloc_ = reinterpret_cast<void* (*)(void*, size_t)>(reinterpret_cast<void*>(GetProcAddress(runtime, "realloc")));
    msize_ = reinterpret_cast<size_t (*)(void*)>(reinterpret_cast<void*>(GetProcAddress(runtime, "_msize")));
    strdup_ = reinterpret_cast<char* (*)(const char*)>(reinterpret_cast<void*>(GetProcAddress(runtime, "_strdup")));
  }
  void* (*malloc_)(size_t);
  void (*free_)(void*);
  void* (*realloc_)(void*, size_t);
  size_t (*msize_)(void*);
  char* (*strdup_)(const char*);
};

bool HeapIsSound() {
  return HeapValidate(GetAllocatorHeap(), 0, nullptr) != 0;
}

// The functions are called through volatile pointers, so that the compiler cannot reason about the calls.
void* (*volatile g_malloc)(size_t) = &malloc;
void* (*volatile g_calloc)(size_t, size_t) = &calloc;
void* (*volatile g_realloc)(void*, size_t) = &realloc;
void (*volatile g_free)(void*) = &free;

TEST(HeapAllocatorTest, RequestsAtTheLimitFailAndJustBelowReachTheHeap) {
  EXPECT_EQ(nullptr, g_malloc(kMaxHeapAllocationSize));
  EXPECT_EQ(nullptr, g_malloc(SIZE_MAX));
  // The heap itself could give that much: the refusal is the allocator's.
  void* direct = HeapAlloc(GetAllocatorHeap(), 0, kMaxHeapAllocationSize);
  ASSERT_NE(nullptr, direct);
  HeapFree(GetAllocatorHeap(), 0, direct);
  void* below = g_malloc(kMaxHeapAllocationSize - 1);
  ASSERT_NE(nullptr, below);
  EXPECT_EQ(kMaxHeapAllocationSize - 1, HeapSize(GetAllocatorHeap(), 0, below));
  g_free(below);
  EXPECT_TRUE(HeapIsSound());
}

TEST(HeapAllocatorTest, CppAllocationsGoThroughTheModulesAllocator) {
  // The C++ runtime's operator new calls malloc: the limit applies to it too.
  EXPECT_EQ(nullptr, new (std::nothrow) char[kMaxHeapAllocationSize]);
  char* small = new char[100];
  EXPECT_EQ(100u, HeapSize(GetAllocatorHeap(), 0, small));
  delete[] small;
}

TEST(HeapAllocatorTest, ZeroByteRequestsGiveFreeableBlocks) {
  void* empty = g_malloc(0);
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ(0u, HeapSize(GetAllocatorHeap(), 0, empty));
  g_free(empty);
  // A zero count or size is a zero-byte request, not a division by zero.
  for (auto [count, size] : {std::pair<size_t, size_t>{0, 16}, {16, 0}, {0, 0}, {0, SIZE_MAX}, {SIZE_MAX, 0}}) {
    void* block = g_calloc(count, size);
    ASSERT_NE(nullptr, block) << count << " x " << size;
    EXPECT_EQ(0u, HeapSize(GetAllocatorHeap(), 0, block));
    g_free(block);
  }
  g_free(nullptr);
  EXPECT_TRUE(HeapIsSound());
}

TEST(HeapAllocatorTest, CallocRefusesOverflowAndTheLimitAndZeroesTheBlock) {
  EXPECT_EQ(nullptr, g_calloc(size_t{1} << 33, size_t{1} << 33));
  EXPECT_EQ(nullptr, g_calloc(SIZE_MAX / 2 + 1, 2));
  EXPECT_EQ(nullptr, g_calloc(0x40000000, 2));  // 2^31 bytes: above the limit

  // Dirty a block, give it back, and ask for the same size again: it must come zeroed.
  for (int round = 0; round < 8; ++round) {
    unsigned char* dirty = static_cast<unsigned char*>(g_malloc(4000));
    memset(dirty, 0xab, 4000);
    g_free(dirty);
    unsigned char* clean = static_cast<unsigned char*>(g_calloc(1000, 4));
    ASSERT_NE(nullptr, clean);
    for (int i = 0; i < 4000; ++i)
      ASSERT_EQ(0, clean[i]) << i;
    g_free(clean);
  }
}

TEST(HeapAllocatorTest, ReallocRules) {
  // A null block: as malloc.
  char* block = static_cast<char*>(g_realloc(nullptr, 10));
  ASSERT_NE(nullptr, block);
  memcpy(block, "012345678", 10);
  // Growing keeps the contents.
  block = static_cast<char*>(g_realloc(block, 100000));
  ASSERT_NE(nullptr, block);
  EXPECT_STREQ("012345678", block);
  // At the limit: null, and the block is untouched and still owned by the caller.
  EXPECT_EQ(nullptr, g_realloc(block, kMaxHeapAllocationSize));
  EXPECT_TRUE(HeapValidate(GetAllocatorHeap(), 0, block));
  EXPECT_STREQ("012345678", block);
  EXPECT_EQ(100000u, HeapSize(GetAllocatorHeap(), 0, block));
  // Size 0 frees the block.
  EXPECT_EQ(nullptr, g_realloc(block, 0));
  EXPECT_FALSE(HeapValidate(GetAllocatorHeap(), 0, block));
  EXPECT_TRUE(HeapIsSound());
}

TEST(HeapAllocatorTest, BlocksCrossFreelyBetweenThisModuleAndTheCRuntime) {
  RuntimeAllocator runtime;
  ASSERT_TRUE(runtime.malloc_ && runtime.free_ && runtime.realloc_ && runtime.msize_ && runtime.strdup_);

  // The runtime's blocks, released here.
  g_free(runtime.malloc_(1000));
  char* copy = runtime.strdup_("made by the runtime");
  ASSERT_NE(nullptr, copy);
  EXPECT_STREQ("made by the runtime", copy);
  copy = static_cast<char*>(g_realloc(copy, 5000));
  EXPECT_STREQ("made by the runtime", copy);
  g_free(copy);

  // This module's blocks, measured, resized and released by the runtime.
  char* ours = static_cast<char*>(g_malloc(300));
  strcpy(ours, "made here");
  EXPECT_EQ(300u, runtime.msize_(ours));
  ours = static_cast<char*>(runtime.realloc_(ours, 70000));
  ASSERT_NE(nullptr, ours);
  EXPECT_STREQ("made here", ours);
  runtime.free_(ours);
  runtime.free_(g_calloc(10, 10));

  EXPECT_TRUE(HeapIsSound());
}

}  // namespace
}  // namespace win
}  // namespace base
