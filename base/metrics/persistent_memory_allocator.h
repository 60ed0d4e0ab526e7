// Hands out blocks of one contiguous memory segment that several processes may share (a mapped file, say).
// Nothing is ever freed: allocation only moves the free offset forward, so a block stays at its offset for the
// segment's life. A block is named by its offset (a reference; 0 is none), carries a type id chosen by the
// caller and can be made iterable: appended to one lock-free list through which every process finds the blocks
// made by the others. Every header read is checked, because another process may have damaged the segment; a
// failed check marks the segment corrupt, after which no process allocates from it.
//
// Segment layout (little-endian):
//   0   28  creation data: segment size (u32), page size (u32), zeros
//   28   4  flags: 0x1 corrupt, 0x2 full
//   32   4  free offset
//   36   4  tail offset: the last block of the iterable list
//   40  16  list head: a block header whose next is the first iterable block (40 when the list is empty)
//   56  ..  blocks, each a 16-byte header (size, cookie, type id, next) and its data, 8-byte aligned, never
//           crossing a page boundary
#ifndef BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace base {

class HistogramBase;

class PersistentMemoryAllocator {
 public:
  using Reference = uint32_t;

  static constexpr uint32_t kAllocAlignment = 8;
  static constexpr uint32_t kBlockHeaderSize = 16;
  static constexpr uint32_t kListHeadReference = 40;
  static constexpr uint32_t kSegmentHeaderSize = 56;  // offset of the first block
  static constexpr uint32_t kBlockCookieAllocated = 0xC8799269;
  static constexpr uint32_t kBlockCookieWasted = 0xFFFFFFFF;
  static constexpr uint32_t kSegmentFlagCorrupt = 0x1;
  static constexpr uint32_t kSegmentFlagFull = 0x2;
  static constexpr size_t kMaxRequestSize = 0x3FFFFFF0;  // larger requests are refused

  // Walks the iterable list. Several threads may share one iterator; each block is returned once.
  class Iterator {
   public:
    explicit Iterator(const PersistentMemoryAllocator* allocator);
    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;

    // The next iterable block of `type_id`, 0 at the end of the list.
    Reference FindOfType(uint32_t type_id);

   private:
    const PersistentMemoryAllocator* const allocator_;
    std::atomic<Reference> last_record_{kListHeadReference};
    std::atomic<uint32_t> record_count_{0};
  };

  // Works on the segment at `base` of `size` bytes, which is 8-byte aligned, at least 56 bytes long and
  // zero-filled beyond its free offset. A writable segment whose free offset is still 0 is set up as a new,
  // empty segment: the process that creates it must do so before any other process opens it. `page_size` 0
  // means the whole segment; otherwise it is a multiple of 8 no larger than the segment.
  PersistentMemoryAllocator(void* base, size_t size, size_t page_size, bool readonly);
  PersistentMemoryAllocator(const PersistentMemoryAllocator&) = delete;
  PersistentMemoryAllocator& operator=(const PersistentMemoryAllocator&) = delete;
  ~PersistentMemoryAllocator();

  // A new block of `size` data bytes and `type_id`; 0 when the request is 0 or too large for a page, or the
  // segment is full or corrupt.
  Reference Allocate(size_t size, uint32_t type_id);
  // Usable bytes of the block (its size less the header); 0 for a bad reference.
  size_t GetAllocSize(Reference ref) const;
  // The block's data when it holds at least `size` bytes and has `type_id` (0: any); null otherwise.
  void* GetAsObject(Reference ref, uint32_t type_id, size_t size) const;
  template <typename T>
  T* GetAsObject(Reference ref, uint32_t type_id) const {
    return static_cast<T*>(GetAsObject(ref, type_id, sizeof(T)));
  }
  // Appends the block to the iterable list, once.
  void MakeIterable(Reference ref);
  // Changes a block's type id (0 abandons the block).
  void SetType(Reference ref, uint32_t type_id);

  bool IsFull() const;
  bool IsCorrupt() const;
  // Logs the corruption and marks it here and, unless read-only, in the segment.
  void SetCorrupt() const;

  // Receives every requested size (0 for a failed request); optional, not owned.
  void SetAllocationSizeHistogram(HistogramBase* histogram) { allocation_size_histogram_ = histogram; }

  const void* data() const { return base_; }
  size_t size() const { return mem_size_; }
  size_t used() const;  // bytes below the free offset

 private:
  struct SegmentHeader;
  struct BlockHeader;

  SegmentHeader* segment() const;
  // The header at `ref` when every check passes (see the .cc); null otherwise.
  BlockHeader* GetBlock(Reference ref, uint32_t type_id, uint32_t size, bool list_head_ok) const;
  Reference AllocateImpl(size_t size, uint32_t type_id);
  uint32_t FreeOffset() const;

  char* const base_;
  const uint32_t mem_size_;
  const uint32_t page_size_;
  const bool readonly_;
  mutable std::atomic<bool> corrupt_{false};
  HistogramBase* allocation_size_histogram_ = nullptr;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
