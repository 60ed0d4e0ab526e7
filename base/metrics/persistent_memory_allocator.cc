#include "base/metrics/persistent_memory_allocator.h"

#include <algorithm>

#include "base/logging.h"
#include "base/metrics/histogram_base.h"

namespace base {

// The segment's fixed header; every field is shared with other processes.
struct PersistentMemoryAllocator::SegmentHeader {
  uint32_t creation_size;
  uint32_t creation_page_size;
  uint32_t creation_reserved[5];
  std::atomic<uint32_t> flags;
  std::atomic<uint32_t> freeptr;
  std::atomic<uint32_t> tailptr;
};

struct PersistentMemoryAllocator::BlockHeader {
  std::atomic<uint32_t> size;    // whole block, header included
  std::atomic<uint32_t> cookie;  // kBlockCookieAllocated, kBlockCookieWasted, or 0 before allocation
  std::atomic<uint32_t> type_id;
  std::atomic<uint32_t> next;    // next iterable block; 0 while not iterable, the list head for the last one
};

static_assert(sizeof(std::atomic<uint32_t>) == 4 && std::atomic<uint32_t>::is_always_lock_free,
              "segment fields are shared between processes as plain 32-bit words");

namespace {

constexpr uint32_t kOffsetFlags = 28;
constexpr uint32_t kOffsetFreePtr = 32;
constexpr uint32_t kOffsetTailPtr = 36;
// The smallest possible block: a header and one aligned data word.
constexpr uint32_t kMinBlockSize = 24;

}  // namespace

PersistentMemoryAllocator::PersistentMemoryAllocator(void* base, size_t size, size_t page_size, bool readonly)
    : base_(static_cast<char*>(base)),
      mem_size_(static_cast<uint32_t>(size)),
      page_size_(static_cast<uint32_t>(page_size ? page_size : size)),
      readonly_(readonly) {
  static_assert(sizeof(SegmentHeader) == kListHeadReference && sizeof(BlockHeader) == kBlockHeaderSize);
  static_assert(offsetof(SegmentHeader, flags) == kOffsetFlags && offsetof(SegmentHeader, freeptr) == kOffsetFreePtr &&
                offsetof(SegmentHeader, tailptr) == kOffsetTailPtr);
  CHECK(base_);
  CHECK(reinterpret_cast<uintptr_t>(base_) % kAllocAlignment == 0);
  CHECK(size >= kSegmentHeaderSize && size <= 0xFFFFFFFFu);
  CHECK(page_size_ % kAllocAlignment == 0 && page_size_ <= mem_size_ && page_size_ > 0);

  SegmentHeader* header = segment();
  if (!readonly_ && header->freeptr.load(std::memory_order_acquire) == 0) {
    header->creation_size = mem_size_;
    header->creation_page_size = page_size_;
    header->tailptr.store(kListHeadReference, std::memory_order_relaxed);
    BlockHeader* head = reinterpret_cast<BlockHeader*>(base_ + kListHeadReference);
    head->size.store(kBlockHeaderSize, std::memory_order_relaxed);
    head->next.store(kListHeadReference, std::memory_order_relaxed);
    // Publishing the free offset publishes the rest.
    header->freeptr.store(kSegmentHeaderSize, std::memory_order_release);
  }
}

PersistentMemoryAllocator::~PersistentMemoryAllocator() = default;

PersistentMemoryAllocator::SegmentHeader* PersistentMemoryAllocator::segment() const {
  return reinterpret_cast<SegmentHeader*>(base_);
}

uint32_t PersistentMemoryAllocator::FreeOffset() const {
  return segment()->freeptr.load(std::memory_order_acquire);
}

size_t PersistentMemoryAllocator::used() const {
  return std::min(FreeOffset(), mem_size_);
}

// A reference is valid when it is aligned, at least 56 (40 where the list head is allowed), its header and
// `size` data bytes lie inside both the segment and the allocated space, the header's size covers them and
// stays inside the allocated space, the cookie marks an allocated block (not checked for the list head), and
// the type matches when one is asked for.
PersistentMemoryAllocator::BlockHeader* PersistentMemoryAllocator::GetBlock(Reference ref, uint32_t type_id,
                                                                            uint32_t size,
                                                                            bool list_head_ok) const {
  const uint64_t wanted_end = uint64_t{ref} + kBlockHeaderSize + size;
  if (ref % kAllocAlignment != 0 || ref < (list_head_ok ? kListHeadReference : kSegmentHeaderSize) ||
      wanted_end > mem_size_) {
    return nullptr;
  }
  const uint64_t end = std::min(FreeOffset(), mem_size_);
  if (wanted_end > end)
    return nullptr;
  BlockHeader* block = reinterpret_cast<BlockHeader*>(base_ + ref);
  const uint32_t block_size = block->size.load(std::memory_order_relaxed);
  if (block_size < uint64_t{kBlockHeaderSize} + size || uint64_t{ref} + block_size > end)
    return nullptr;
  if (ref != kListHeadReference && block->cookie.load(std::memory_order_acquire) != kBlockCookieAllocated)
    return nullptr;
  if (type_id != 0 && block->type_id.load(std::memory_order_relaxed) != type_id)
    return nullptr;
  return block;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Allocate(size_t size, uint32_t type_id) {
  Reference ref = AllocateImpl(size, type_id);
  if (allocation_size_histogram_)
    allocation_size_histogram_->Add(ref ? static_cast<HistogramBase::Sample>(size) : 0);
  return ref;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::AllocateImpl(size_t size, uint32_t type_id) {
  if (readonly_ || size >= kMaxRequestSize + 1)
    return 0;
  uint32_t size_wanted =
      (static_cast<uint32_t>(size) + kBlockHeaderSize + kAllocAlignment - 1) & ~(kAllocAlignment - 1);
  if (size_wanted <= kBlockHeaderSize || size_wanted > page_size_)
    return 0;

  SegmentHeader* header = segment();
  uint32_t freeptr = header->freeptr.load(std::memory_order_acquire);
  for (;;) {
    if (IsCorrupt())
      return 0;
    if (uint64_t{freeptr} + size_wanted > mem_size_) {
      header->flags.fetch_or(kSegmentFlagFull, std::memory_order_relaxed);
      return 0;
    }
    if (freeptr % kAllocAlignment != 0 || freeptr < kSegmentHeaderSize ||
        uint64_t{freeptr} + kBlockHeaderSize > mem_size_) {
      SetCorrupt();
      return 0;
    }

    // Blocks never cross a page boundary: what is left of a page too small for this block is wasted. The end of
    // a segment that is no whole number of pages ends its last page.
    const uint32_t page_free = std::min(page_size_ - freeptr % page_size_, mem_size_ - freeptr);
    if (size_wanted > page_free) {
      if (page_free <= kBlockHeaderSize) {
        SetCorrupt();
        return 0;
      }
      const uint32_t new_freeptr = freeptr + page_free;
      if (header->freeptr.compare_exchange_strong(freeptr, new_freeptr, std::memory_order_acq_rel)) {
        BlockHeader* wasted = reinterpret_cast<BlockHeader*>(base_ + freeptr);
        wasted->size.store(page_free, std::memory_order_relaxed);
        wasted->cookie.store(kBlockCookieWasted, std::memory_order_release);
        freeptr = new_freeptr;
      }
      continue;  // compare_exchange left the current free offset in freeptr on failure
    }

    // A remainder too small for any block goes with this one.
    uint32_t block_size = size_wanted;
    if (page_free - size_wanted < kMinBlockSize)
      block_size = page_free;
    const uint32_t new_freeptr = freeptr + block_size;
    if (new_freeptr > mem_size_) {
      SetCorrupt();
      return 0;
    }
    if (!header->freeptr.compare_exchange_strong(freeptr, new_freeptr, std::memory_order_acq_rel))
      continue;

    // Space beyond the free offset is zero unless someone scribbled on it.
    BlockHeader* block = reinterpret_cast<BlockHeader*>(base_ + freeptr);
    if (block->size.load(std::memory_order_relaxed) != 0 || block->cookie.load(std::memory_order_relaxed) != 0 ||
        block->type_id.load(std::memory_order_relaxed) != 0 || block->next.load(std::memory_order_relaxed) != 0) {
      SetCorrupt();
      return 0;
    }
    block->size.store(block_size, std::memory_order_relaxed);
    block->type_id.store(type_id, std::memory_order_relaxed);
    block->cookie.store(kBlockCookieAllocated, std::memory_order_release);
    return freeptr;
  }
}

size_t PersistentMemoryAllocator::GetAllocSize(Reference ref) const {
  BlockHeader* block = GetBlock(ref, 0, 0, false);
  if (!block)
    return 0;
  const uint32_t size = block->size.load(std::memory_order_relaxed);
  if (size <= kBlockHeaderSize || uint64_t{ref} + size > mem_size_) {
    SetCorrupt();
    return 0;
  }
  return size - kBlockHeaderSize;
}

void* PersistentMemoryAllocator::GetAsObject(Reference ref, uint32_t type_id, size_t size) const {
  if (size > kMaxRequestSize)
    return nullptr;
  BlockHeader* block = GetBlock(ref, type_id, static_cast<uint32_t>(size), false);
  return block ? reinterpret_cast<char*>(block) + kBlockHeaderSize : nullptr;
}

void PersistentMemoryAllocator::SetType(Reference ref, uint32_t type_id) {
  if (readonly_)
    return;
  if (BlockHeader* block = GetBlock(ref, 0, 0, false))
    block->type_id.store(type_id, std::memory_order_relaxed);
}

void PersistentMemoryAllocator::MakeIterable(Reference ref) {
  if (readonly_ || IsCorrupt())
    return;
  BlockHeader* block = GetBlock(ref, 0, 0, false);
  if (!block)
    return;
  // Claiming the next field makes a second call, from any thread or process, a no-op.
  uint32_t expected = 0;
  if (!block->next.compare_exchange_strong(expected, kListHeadReference, std::memory_order_acq_rel))
    return;

  SegmentHeader* header = segment();
  uint32_t tail = header->tailptr.load(std::memory_order_acquire);
  for (uint32_t steps = 0;; ++steps) {
    // A list that another process made loop back on itself would otherwise be walked for good: no list is
    // longer than the segment holds blocks, as the iterator counts too.
    if (steps > std::min(FreeOffset(), mem_size_) / kMinBlockSize) {
      SetCorrupt();
      return;
    }
    BlockHeader* tail_block = GetBlock(tail, 0, 0, true);
    if (!tail_block) {
      SetCorrupt();
      return;
    }
    uint32_t next = kListHeadReference;
    if (tail_block->next.compare_exchange_strong(next, ref, std::memory_order_acq_rel)) {
      // Another appender may already have moved the tail on for us.
      header->tailptr.compare_exchange_strong(tail, ref, std::memory_order_acq_rel);
      return;
    }
    // Someone appended first and may have died before moving the tail: finish that for them.
    header->tailptr.compare_exchange_strong(tail, next, std::memory_order_acq_rel);
    tail = header->tailptr.load(std::memory_order_acquire);
  }
}

bool PersistentMemoryAllocator::IsFull() const {
  return (segment()->flags.load(std::memory_order_relaxed) & kSegmentFlagFull) != 0;
}

bool PersistentMemoryAllocator::IsCorrupt() const {
  const bool local = corrupt_.load(std::memory_order_relaxed);
  const bool shared = (segment()->flags.load(std::memory_order_relaxed) & kSegmentFlagCorrupt) != 0;
  if (!local && !shared)
    return false;
  corrupt_.store(true, std::memory_order_relaxed);
  if (!shared && !readonly_)
    segment()->flags.fetch_or(kSegmentFlagCorrupt, std::memory_order_relaxed);
  return true;
}

void PersistentMemoryAllocator::SetCorrupt() const {
  LOG(ERROR) << "Corruption detected in shared-memory segment.";
  corrupt_.store(true, std::memory_order_relaxed);
  if (!readonly_)
    segment()->flags.fetch_or(kSegmentFlagCorrupt, std::memory_order_relaxed);
}

PersistentMemoryAllocator::Iterator::Iterator(const PersistentMemoryAllocator* allocator) : allocator_(allocator) {}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Iterator::FindOfType(uint32_t type_id) {
  for (;;) {
    const uint32_t count = record_count_.load(std::memory_order_relaxed);
    Reference last = last_record_.load(std::memory_order_acquire);
    Reference next;
    for (;;) {
      BlockHeader* block = allocator_->GetBlock(last, 0, 0, true);
      if (!block)
        return 0;
      next = block->next.load(std::memory_order_acquire);
      if (next == kListHeadReference)
        return 0;
      if (!allocator_->GetBlock(next, 0, 0, false)) {
        allocator_->SetCorrupt();
        return 0;
      }
      // Another thread sharing this iterator may have moved on: continue from where it got to.
      if (last_record_.compare_exchange_strong(last, next, std::memory_order_acq_rel))
        break;
    }

    // A list that loops back on itself would otherwise never end.
    const uint32_t max_records = std::min(allocator_->FreeOffset(), allocator_->mem_size_) / kMinBlockSize;
    if (count > max_records) {
      allocator_->SetCorrupt();
      return 0;
    }
    record_count_.fetch_add(1, std::memory_order_relaxed);

    BlockHeader* found = allocator_->GetBlock(next, 0, 0, false);
    if (found && found->type_id.load(std::memory_order_relaxed) == type_id)
      return next;
  }
}

}  // namespace base
