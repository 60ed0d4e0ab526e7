#include "base/value_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace base {
namespace internal {
namespace {

TEST(ValueArenaTest, BlocksAreAlignedAndIndependent) {
  ValueArena* arena = ValueArena::Create(100);
  std::vector<char*> blocks;
  for (size_t size : {1u, 7u, 8u, 13u, 4096u, 100000u, 0u}) {
    char* block = static_cast<char*>(ValueArena::Allocate(size, arena));
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % 8) << size;
    memset(block, static_cast<int>(size & 0xFF), size);
    blocks.push_back(block);
  }
  // Writing each block to its end left the others alone.
  const size_t sizes[] = {1, 7, 8, 13, 4096, 100000};
  for (size_t i = 0; i < 6; ++i) {
    for (size_t j = 0; j < sizes[i]; ++j)
      ASSERT_EQ(static_cast<char>(sizes[i] & 0xFF), blocks[i][j]) << i;
  }
  for (char* block : blocks)
    ValueArena::Free(block);
  arena->Seal();
  ValueArena::Free(nullptr);
}

TEST(ValueArenaTest, ArenaGoesWithItsLastBlock) {
  const int64_t before = ValueArena::LiveCountForTesting();
  ValueArena* arena = ValueArena::Create(0);
  EXPECT_EQ(before + 1, ValueArena::LiveCountForTesting());
  void* first = ValueArena::Allocate(16, arena);
  void* second = ValueArena::Allocate(16, arena);
  ValueArena::Free(first);  // while open: the creator still holds the arena
  EXPECT_EQ(before + 1, ValueArena::LiveCountForTesting());
  arena->Seal();
  EXPECT_FALSE(arena->is_open());
  // After sealing, requests through the arena go to the heap and do not keep it.
  void* heap = ValueArena::Allocate(16, arena);
  EXPECT_EQ(before + 1, ValueArena::LiveCountForTesting());
  ValueArena::Free(second);
  EXPECT_EQ(before, ValueArena::LiveCountForTesting());
  ValueArena::Free(heap);

  // An arena sealed with nothing left goes at once.
  ValueArena* empty = ValueArena::Create(10);
  ValueArena::Free(ValueArena::Allocate(8, empty));
  empty->Seal();
  EXPECT_EQ(before, ValueArena::LiveCountForTesting());
}

TEST(ValueArenaTest, BlocksFreedOnManyThreads) {
  const int64_t before = ValueArena::LiveCountForTesting();
  ValueArena* arena = ValueArena::Create(1 << 16);
  constexpr int kThreads = 8, kPerThread = 20000;
  std::vector<std::vector<void*>> blocks(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i)
      blocks[t].push_back(ValueArena::Allocate(24 + (i % 5) * 8, arena));
  }
  arena->Seal();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&blocks, t] {
      for (void* block : blocks[t])
        ValueArena::Free(block);
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(before, ValueArena::LiveCountForTesting());
}

TEST(ValueArenaTest, AllocatorServesStandardContainers) {
  const int64_t before = ValueArena::LiveCountForTesting();
  ValueArena* arena = ValueArena::Create(64);
  std::vector<int, ValueAllocator<int>> numbers;
  {
    ValueArena::ScopedCurrent current(arena);
    EXPECT_EQ(arena, ValueArena::current());
    {
      ValueArena::ScopedCurrent heap(nullptr);
      EXPECT_EQ(nullptr, ValueArena::current());
    }
    EXPECT_EQ(arena, ValueArena::current());
    for (int i = 0; i < 1000; ++i)
      numbers.push_back(i);  // regrowth frees earlier blocks into the arena
  }
  EXPECT_EQ(nullptr, ValueArena::current());
  arena->Seal();
  EXPECT_EQ(before + 1, ValueArena::LiveCountForTesting());  // the vector's block keeps it
  numbers.shrink_to_fit();  // moves to a heap block
  EXPECT_EQ(before, ValueArena::LiveCountForTesting());
  for (int i = 1000; i < 5000; ++i)
    numbers.push_back(i);  // the heap from now on: nothing refers to the arena any more
  std::vector<int, ValueAllocator<int>> other;
  other.swap(numbers);
  ASSERT_EQ(5000u, other.size());
  for (int i = 0; i < 5000; ++i)
    ASSERT_EQ(i, other[static_cast<size_t>(i)]);
}

}  // namespace
}  // namespace internal
}  // namespace base
