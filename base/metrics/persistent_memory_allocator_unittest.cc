#include "base/metrics/persistent_memory_allocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr uint32_t kTypeA = 0x1111;
constexpr uint32_t kTypeB = 0x2222;

// A zeroed, 8-byte aligned segment, read back as little-endian words at byte offsets.
class Segment {
 public:
  explicit Segment(size_t size) : words_(size / 8, 0), size_(size) {}
  void* data() { return words_.data(); }
  size_t size() const { return size_; }
  uint32_t Word(uint32_t offset) const {
    uint32_t value;
    memcpy(&value, reinterpret_cast<const char*>(words_.data()) + offset, 4);
    return value;
  }
  void SetWord(uint32_t offset, uint32_t value) {
    memcpy(reinterpret_cast<char*>(words_.data()) + offset, &value, 4);
  }

 private:
  std::vector<uint64_t> words_;
  size_t size_;
};

TEST(PersistentMemoryAllocatorTest, NewSegmentHasTheDocumentedHeader) {
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 1024, false);
  EXPECT_EQ(4096u, segment.Word(0));
  EXPECT_EQ(1024u, segment.Word(4));
  EXPECT_EQ(0u, segment.Word(28));   // flags
  EXPECT_EQ(56u, segment.Word(32));  // free offset
  EXPECT_EQ(40u, segment.Word(36));  // tail
  EXPECT_EQ(16u, segment.Word(40));  // list head size
  EXPECT_EQ(40u, segment.Word(52));  // list head next: empty list
  EXPECT_FALSE(allocator.IsFull());
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, BlocksCarryHeaderAndAreAligned) {
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, false);
  EXPECT_EQ(0u, allocator.Allocate(0, kTypeA));  // a bare header is no block
  Reference first = allocator.Allocate(1, kTypeA);
  EXPECT_EQ(56u, first);
  EXPECT_EQ(24u, segment.Word(first));                // size
  EXPECT_EQ(0xC8799269u, segment.Word(first + 4));    // cookie
  EXPECT_EQ(kTypeA, segment.Word(first + 8));         // type
  EXPECT_EQ(0u, segment.Word(first + 12));            // not iterable
  EXPECT_EQ(8u, allocator.GetAllocSize(first));
  Reference second = allocator.Allocate(101, kTypeB);  // a 20-character name's record: a 120-byte block
  EXPECT_EQ(first + 24, second);
  EXPECT_EQ(120u, segment.Word(second));
  EXPECT_EQ(104u, allocator.GetAllocSize(second));
  EXPECT_EQ(second + 120, segment.Word(32));
  EXPECT_EQ(0u, allocator.Allocate(0x3FFFFFF1, kTypeA));
}

TEST(PersistentMemoryAllocatorTest, SmallRemainderOfAPageGoesWithTheBlock) {
  Segment segment(1024);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 128, false);
  Reference a = allocator.Allocate(16, kTypeA);  // 32 bytes at 56: 40 bytes left in the page
  ASSERT_EQ(56u, a);
  Reference b = allocator.Allocate(8, kTypeA);  // wants 24; 16 would remain, so it takes all 40
  ASSERT_EQ(88u, b);
  EXPECT_EQ(40u, segment.Word(b));
  EXPECT_EQ(24u, allocator.GetAllocSize(b));
  EXPECT_EQ(128u, segment.Word(32));
}

// A segment that is no whole number of pages: its end ends the last page, and a block that fits before it is
// no corruption.
TEST(PersistentMemoryAllocatorTest, SegmentOfAPartialLastPageServesItsEnd) {
  Segment segment(1016);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 512, false);
  ASSERT_NE(0u, allocator.Allocate(440, kTypeA));  // the free offset reaches 512
  const Reference last = allocator.Allocate(480, kTypeB);  // a 496-byte block; 504 bytes are left
  EXPECT_EQ(512u, last);
  EXPECT_EQ(504u, segment.Word(last));  // the 8 bytes after it go with it
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, BlockThatDoesNotFitThePageStartsTheNextOne) {
  Segment segment(1024);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 128, false);
  ASSERT_EQ(56u, allocator.Allocate(8, kTypeA));  // 24 bytes: 48 left in the page
  Reference big = allocator.Allocate(64, kTypeB);  // 80 bytes do not fit
  EXPECT_EQ(128u, big);
  EXPECT_EQ(48u, segment.Word(80));                // the wasted rest of the first page
  EXPECT_EQ(0xFFFFFFFFu, segment.Word(84));
  EXPECT_EQ(0u, allocator.GetAllocSize(80));       // and it is no allocated block
  EXPECT_EQ(0u, allocator.Allocate(121, kTypeA));  // larger than a page
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, FullSegmentStillServesSmallerRequests) {
  Segment segment(256);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, false);
  ASSERT_NE(0u, allocator.Allocate(100, kTypeA));  // 120 bytes: 80 left
  EXPECT_EQ(0u, allocator.Allocate(100, kTypeA));
  EXPECT_TRUE(allocator.IsFull());
  EXPECT_EQ(2u, segment.Word(28));
  EXPECT_NE(0u, allocator.Allocate(40, kTypeA));
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, ObjectsAreCheckedForTypeSizeAndCookie) {
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, false);
  Reference ref = allocator.Allocate(16, kTypeA);
  char* data = static_cast<char*>(allocator.GetAsObject(ref, kTypeA, 16));
  ASSERT_EQ(static_cast<char*>(segment.data()) + ref + 16, data);
  EXPECT_EQ(data, allocator.GetAsObject(ref, 0, 8));         // any type
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref, kTypeB, 16));
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref, kTypeA, 17));
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref + 8, kTypeA, 0));  // not a block
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref + 4, 0, 0));       // misaligned
  EXPECT_EQ(nullptr, allocator.GetAsObject(4096, 0, 0));          // beyond the segment
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref + 32, 0, 0));      // beyond the free offset
  // The list head at 40 is a valid header only where the list head is allowed.
  EXPECT_EQ(nullptr, allocator.GetAsObject(40, 0, 0));
  EXPECT_EQ(0u, allocator.GetAllocSize(40));
  allocator.SetType(ref, kTypeB);
  EXPECT_EQ(data, allocator.GetAsObject(ref, kTypeB, 16));
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref, kTypeA, 16));
  segment.SetWord(ref + 4, 0x12345678);  // damaged cookie
  EXPECT_EQ(nullptr, allocator.GetAsObject(ref, kTypeB, 16));
}

TEST(PersistentMemoryAllocatorTest, IterationFollowsTheOrderBlocksWereMadeIterable) {
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, false);
  Reference a1 = allocator.Allocate(8, kTypeA);
  Reference b1 = allocator.Allocate(8, kTypeB);
  Reference a2 = allocator.Allocate(8, kTypeA);
  Reference hidden = allocator.Allocate(8, kTypeA);
  allocator.MakeIterable(a2);
  allocator.MakeIterable(b1);
  allocator.MakeIterable(a1);
  allocator.MakeIterable(a2);  // a second call appends nothing
  EXPECT_EQ(a1, segment.Word(36));
  EXPECT_EQ(40u, segment.Word(a1 + 12));

  PersistentMemoryAllocator::Iterator only_a(&allocator);
  EXPECT_EQ(a2, only_a.FindOfType(kTypeA));
  EXPECT_EQ(a1, only_a.FindOfType(kTypeA));
  EXPECT_EQ(0u, only_a.FindOfType(kTypeA));
  PersistentMemoryAllocator::Iterator only_b(&allocator);
  EXPECT_EQ(b1, only_b.FindOfType(kTypeB));
  EXPECT_EQ(0u, only_b.FindOfType(kTypeB));
  // An iterator at the end sees blocks appended later.
  allocator.MakeIterable(hidden);
  EXPECT_EQ(hidden, only_a.FindOfType(kTypeA));
  EXPECT_FALSE(allocator.IsCorrupt());
}

// A list that another process made loop back on itself: walking it, or appending to it, ends and finds it
// corrupt.
TEST(PersistentMemoryAllocatorTest, ListThatLoopsBackIsCorruptionNotAnEndlessWalk) {
  for (const bool append : {false, true}) {
    SCOPED_TRACE(append ? "append" : "walk");
    Segment segment(4096);
    PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, false);
    Reference a = allocator.Allocate(8, kTypeA);
    Reference b = allocator.Allocate(8, kTypeA);
    Reference c = allocator.Allocate(8, kTypeA);
    allocator.MakeIterable(a);
    allocator.MakeIterable(b);
    segment.SetWord(b + 12, a);  // b's next points back at a
    if (append) {
      allocator.MakeIterable(c);
    } else {
      PersistentMemoryAllocator::Iterator iter(&allocator);
      int found = 0;
      while (iter.FindOfType(kTypeA) != 0)
        ++found;
      EXPECT_GT(found, 2);
      EXPECT_LE(found, 4096 / 24 + 1);
    }
    EXPECT_TRUE(allocator.IsCorrupt());
    EXPECT_EQ(1u, segment.Word(28) & 1);
  }
}

TEST(PersistentMemoryAllocatorTest, ScribbledFreeSpaceMarksEveryUserCorrupt) {
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, false);
  Reference a = allocator.Allocate(8, kTypeA);
  segment.SetWord(a + 24 + 8, 7);  // a type id written into unallocated space
  EXPECT_EQ(0u, allocator.Allocate(8, kTypeA));
  EXPECT_TRUE(allocator.IsCorrupt());
  // Another user of the same segment sees the flag and refuses work as well.
  PersistentMemoryAllocator other(segment.data(), segment.size(), 0, false);
  EXPECT_TRUE(other.IsCorrupt());
  EXPECT_EQ(0u, other.Allocate(8, kTypeA));
  Reference b_before = segment.Word(36);
  other.MakeIterable(a);
  EXPECT_EQ(b_before, segment.Word(36));
}

TEST(PersistentMemoryAllocatorTest, MisalignedFreeOffsetIsCorruption) {
  Segment segment(4096);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 0, false);
  segment.SetWord(32, 61);
  EXPECT_EQ(0u, allocator.Allocate(8, kTypeA));
  EXPECT_TRUE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, ReadOnlyUserDoesNotWriteTheSegment) {
  Segment segment(4096);
  {
    PersistentMemoryAllocator writer(segment.data(), segment.size(), 0, false);
    writer.MakeIterable(writer.Allocate(8, kTypeA));
  }
  PersistentMemoryAllocator reader(segment.data(), segment.size(), 0, true);
  EXPECT_EQ(0u, reader.Allocate(8, kTypeA));
  PersistentMemoryAllocator::Iterator iter(&reader);
  EXPECT_EQ(56u, iter.FindOfType(kTypeA));
  reader.SetCorrupt();
  EXPECT_TRUE(reader.IsCorrupt());
  EXPECT_EQ(0u, segment.Word(28));
}

TEST(PersistentMemoryAllocatorTest, ConcurrentAllocationsAndAppendsAreEachMadeOnce) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 2000;
  Segment segment(1 << 20);
  PersistentMemoryAllocator allocator(segment.data(), segment.size(), 4096, false);
  std::vector<std::vector<Reference>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        Reference ref = allocator.Allocate(8 + (i % 5) * 8, kTypeA);
        if (!ref)
          return;
        *allocator.GetAsObject<uint32_t>(ref, kTypeA) = static_cast<uint32_t>(t * kPerThread + i);
        allocator.MakeIterable(ref);
        made[t].push_back(ref);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();

  std::set<Reference> all;
  for (const std::vector<Reference>& refs : made) {
    EXPECT_EQ(static_cast<size_t>(kPerThread), refs.size());
    all.insert(refs.begin(), refs.end());
  }
  ASSERT_EQ(static_cast<size_t>(kThreads * kPerThread), all.size());
  // Blocks never overlap and their payloads survived.
  Reference previous_end = 0;
  for (Reference ref : all) {
    EXPECT_GE(ref, previous_end);
    previous_end = ref + segment.Word(ref);
    EXPECT_EQ(ref / 4096, (previous_end - 1) / 4096) << "block crosses a page";
  }

  // Several threads sharing one iterator get every block exactly once.
  PersistentMemoryAllocator::Iterator shared(&allocator);
  std::vector<std::vector<Reference>> seen(kThreads);
  threads.clear();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (Reference ref = shared.FindOfType(kTypeA))
        seen[t].push_back(ref);
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  std::multiset<Reference> seen_all;
  for (const std::vector<Reference>& refs : seen)
    seen_all.insert(refs.begin(), refs.end());
  EXPECT_EQ(std::multiset<Reference>(all.begin(), all.end()), seen_all);
  EXPECT_FALSE(allocator.IsCorrupt());
}

}  // namespace
}  // namespace base
