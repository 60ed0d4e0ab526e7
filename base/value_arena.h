// Memory for value-tree nodes. A parse result has many small nodes that live and die together, so the JSON
// parser places them in one arena: allocation is a pointer bump, and the arena's chunks go back to the heap
// when the last of its blocks has been freed. Every block carries a header naming its arena (or none, for a
// heap block), so any node can still be deleted on its own, on any thread, like one from the heap. Nodes ask
// for an arena explicitly; the storage of containers comes from the arena that the thread has made current,
// so that no container keeps a pointer to an arena that may be gone.
#ifndef BASE_VALUE_ARENA_H_
#define BASE_VALUE_ARENA_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace base {
namespace internal {

class ValueArena {
 public:
  // An open arena that expects about `expected_bytes` of blocks. The creator holds one reference, dropped by
  // Seal.
  static ValueArena* Create(size_t expected_bytes);

  ValueArena(const ValueArena&) = delete;
  ValueArena& operator=(const ValueArena&) = delete;

  // Ends allocation from this arena (later requests through it go to the heap) and drops the creator's
  // reference. Only the thread that created the arena allocates from it, and only until it is sealed.
  void Seal();
  bool is_open() const { return open_.load(std::memory_order_relaxed); }

  // A block of `size` bytes, 8-byte aligned: from `arena` while it is open, else from the heap.
  static void* Allocate(size_t size, ValueArena* arena) {
    return arena && arena->is_open() ? arena->AllocateHere(size) : AllocateFromHeap(size);
  }
  // Frees a block from Allocate, wherever it came from.
  static void Free(void* block);

  // Arenas that still hold chunks, in the whole process.
  static int64_t LiveCountForTesting();

  // The arena that container storage on this thread comes from, or null for the heap.
  static ValueArena* current();

  // Makes `arena` current on this thread for the holder's lifetime.
  class ScopedCurrent {
   public:
    explicit ScopedCurrent(ValueArena* arena);
    ScopedCurrent(const ScopedCurrent&) = delete;
    ScopedCurrent& operator=(const ScopedCurrent&) = delete;
    ~ScopedCurrent();

   private:
    ValueArena* previous_;
  };

 private:
  struct Chunk;
  // Every block starts with the arena it came from (null for the heap); the caller's bytes follow.
  static constexpr size_t kHeaderSize = 8;

  explicit ValueArena(size_t expected_bytes);
  ~ValueArena();

  static void* AllocateFromHeap(size_t size);
  // The common case inline: a bump within the current chunk.
  void* AllocateHere(size_t size) {
    const size_t needed = kHeaderSize + ((size + 7) & ~size_t{7});
    if (static_cast<size_t>(end_ - next_) < needed)
      return AllocateInNewChunk(needed);
    char* block = next_;
    next_ += needed;
    ++allocated_;
    *reinterpret_cast<ValueArena**>(block) = this;
    return block + kHeaderSize;
  }
  void* AllocateInNewChunk(size_t needed);
  void Release();

  // Live blocks once sealed. While open, allocations are counted in `allocated_` (only the creating thread
  // allocates) and `references_` holds a large bias for the creator, which frees merely lower.
  std::atomic<int64_t> references_;
  int64_t allocated_;
  std::atomic<bool> open_;
  Chunk* chunks_;
  char* next_;
  char* end_;
  size_t next_chunk_size_;
};

// A standard allocator for the storage of value containers: from the thread's current arena (while the
// parser fills a result), else from the heap. It holds no state; a block is freed through its header.
template <typename T>
class ValueAllocator {
 public:
  using value_type = T;
  using is_always_equal = std::true_type;

  ValueAllocator() noexcept = default;
  template <typename U>
  ValueAllocator(const ValueAllocator<U>&) noexcept {}

  T* allocate(size_t count) {
    return static_cast<T*>(ValueArena::Allocate(count * sizeof(T), ValueArena::current()));
  }
  void deallocate(T* block, size_t) noexcept { ValueArena::Free(block); }

  template <typename U>
  bool operator==(const ValueAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace internal
}  // namespace base

#endif  // BASE_VALUE_ARENA_H_
