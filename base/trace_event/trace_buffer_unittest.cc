#include "base/trace_event/trace_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {
namespace {

// Fills the next slot of `chunk` with an instant event named `name` and returns its handle.
TraceEventHandle AddNamedEvent(TraceBufferChunk* chunk, size_t chunk_index, const char* name) {
  size_t event_index = 0;
  TraceEvent* event = chunk->AddTraceEvent(&event_index);
  event->Initialize(1, TimeTicks(), ThreadTicks(), 'I', TraceLog::GetCategoryGroupEnabled("toplevel"), name,
                    nullptr, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, 0);
  TraceEventHandle handle;
  handle.chunk_seq = chunk->seq();
  handle.chunk_index = static_cast<uint32_t>(chunk_index);
  handle.event_index = static_cast<uint32_t>(event_index);
  return handle;
}

TEST(TraceEventHandleTest, LayoutKeepsAllTwentySixChunkIndexBits) {
  TraceEventHandle handle;
  handle.chunk_seq = 0x89ABCDEF;
  handle.chunk_index = (1u << 26) - 1;
  handle.event_index = 63;
  EXPECT_EQ((1u << 26) - 1, handle.chunk_index);
  EXPECT_EQ(63u, handle.event_index);
  uint64_t word = 0;
  memcpy(&word, &handle, sizeof(word));
  EXPECT_EQ(0x89ABCDEFu, word & 0xFFFFFFFFu);
  EXPECT_EQ((1u << 26) - 1, (word >> 32) & ((1u << 26) - 1));
  EXPECT_EQ(63u, word >> 58);

  handle.chunk_index = 70000;  // above 16 bits
  handle.event_index = 5;
  memcpy(&word, &handle, sizeof(word));
  EXPECT_EQ(70000u, (word >> 32) & ((1u << 26) - 1));
  EXPECT_EQ(5u, word >> 58);
}

TEST(TraceBufferChunkTest, HandsOutSlotsInOrderAndResets) {
  TraceBufferChunk chunk(7);
  EXPECT_EQ(7u, chunk.seq());
  for (size_t i = 0; i < TraceBufferChunk::kTraceBufferChunkSize; ++i) {
    EXPECT_FALSE(chunk.IsFull());
    size_t index = 99;
    TraceEvent* event = chunk.AddTraceEvent(&index);
    EXPECT_EQ(i, index);
    EXPECT_EQ(chunk.GetEventAt(i), event);
  }
  EXPECT_TRUE(chunk.IsFull());
  chunk.Reset(8);
  EXPECT_EQ(0u, chunk.size());
  EXPECT_EQ(8u, chunk.seq());
  EXPECT_FALSE(chunk.IsFull());
}

TEST(TraceBufferChunkTest, MemoryEstimateCountsUnusedSlotsAndCachesFullChunks) {
  TraceBufferChunk chunk(1);
  for (int i = 0; i < 10; ++i)
    AddNamedEvent(&chunk, 0, "e");
  TraceEventMemoryOverhead partial;
  chunk.EstimateTraceMemoryOverhead(&partial);
  EXPECT_EQ(54u * TraceEvent::kEstimatedSize, partial.GetAllocatedBytes(kUnusedTraceEventOverheadName));
  EXPECT_EQ(10u, partial.GetCount(kTraceEventOverheadName));

  // A second estimate must not count the first ten events twice.
  TraceEventMemoryOverhead again;
  chunk.EstimateTraceMemoryOverhead(&again);
  EXPECT_EQ(10u, again.GetCount(kTraceEventOverheadName));

  while (!chunk.IsFull())
    AddNamedEvent(&chunk, 0, "e");
  TraceEventMemoryOverhead full;
  chunk.EstimateTraceMemoryOverhead(&full);
  EXPECT_EQ(64u, full.GetCount(kTraceEventOverheadName));
  EXPECT_EQ(0u, full.GetCount(kUnusedTraceEventOverheadName));
  EXPECT_EQ(1u, full.GetCount(kOverheadSelfName));
  TraceEventMemoryOverhead cached;
  chunk.EstimateTraceMemoryOverhead(&cached);
  EXPECT_EQ(64u, cached.GetCount(kTraceEventOverheadName));
  EXPECT_EQ(full.GetAllocatedBytes(kOverheadSelfName), cached.GetAllocatedBytes(kOverheadSelfName));
}

TEST(TraceBufferRingBufferTest, RecyclesTheOldestReturnedChunk) {
  std::unique_ptr<TraceBuffer> buffer = TraceBuffer::CreateTraceBufferRingBuffer(2);
  EXPECT_EQ(2u * 64, buffer->Capacity());
  EXPECT_FALSE(buffer->IsFull());
  size_t index0 = 99, index1 = 99;
  std::unique_ptr<TraceBufferChunk> chunk0 = buffer->GetChunk(&index0);
  std::unique_ptr<TraceBufferChunk> chunk1 = buffer->GetChunk(&index1);
  ASSERT_TRUE(chunk0 && chunk1);
  EXPECT_EQ(0u, index0);
  EXPECT_EQ(1u, index1);
  EXPECT_EQ(2u * 64, buffer->Size());
  const uint32_t first_seq = chunk0->seq();
  EXPECT_NE(0u, first_seq);
  EXPECT_LT(first_seq, chunk1->seq());

  const TraceEventHandle old_handle = AddNamedEvent(chunk0.get(), index0, "old");
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(old_handle));  // the chunk is out
  TraceBufferChunk* chunk0_address = chunk0.get();
  buffer->ReturnChunk(index0, std::move(chunk0));
  TraceEvent* found = buffer->GetEventByHandle(old_handle);
  ASSERT_NE(nullptr, found);
  EXPECT_STREQ("old", found->name());

  size_t index2 = 99;
  std::unique_ptr<TraceBufferChunk> chunk2 = buffer->GetChunk(&index2);
  ASSERT_TRUE(chunk2);
  EXPECT_EQ(0u, index2);
  EXPECT_EQ(chunk0_address, chunk2.get());  // reused in place
  EXPECT_GT(chunk2->seq(), chunk1->seq());
  EXPECT_EQ(0u, chunk2->size());
  buffer->ReturnChunk(index2, std::move(chunk2));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(old_handle));  // stale sequence
}

TEST(TraceBufferRingBufferTest, HandsOutNothingWhenEveryChunkIsOut) {
  std::unique_ptr<TraceBuffer> buffer = TraceBuffer::CreateTraceBufferRingBuffer(1);
  size_t index = 0;
  std::unique_ptr<TraceBufferChunk> chunk = buffer->GetChunk(&index);
  ASSERT_TRUE(chunk);
  EXPECT_EQ(nullptr, buffer->GetChunk(&index));
  buffer->ReturnChunk(0, std::move(chunk));
  EXPECT_NE(nullptr, buffer->GetChunk(&index));
}

TEST(TraceBufferRingBufferTest, IterationFollowsTheQueueFromOldestToNewest) {
  std::unique_ptr<TraceBuffer> buffer = TraceBuffer::CreateTraceBufferRingBuffer(3);
  EXPECT_EQ(nullptr, buffer->ChunkForIteration());
  std::vector<std::unique_ptr<TraceBufferChunk>> chunks(3);
  size_t indices[3];
  for (int i = 0; i < 3; ++i)
    chunks[i] = buffer->GetChunk(&indices[i]);
  const uint32_t seqs[] = {chunks[0]->seq(), chunks[1]->seq(), chunks[2]->seq()};
  // Returned out of order: iteration follows the order of return.
  buffer->ReturnChunk(indices[2], std::move(chunks[2]));
  buffer->ReturnChunk(indices[0], std::move(chunks[0]));
  buffer->ReturnChunk(indices[1], std::move(chunks[1]));
  std::vector<uint32_t> seen;
  while (const TraceBufferChunk* chunk = buffer->ChunkForIteration())
    seen.push_back(chunk->seq());
  EXPECT_EQ(std::vector<uint32_t>({seqs[2], seqs[0], seqs[1]}), seen);

  TraceEventMemoryOverhead overhead;
  buffer->EstimateTraceMemoryOverhead(&overhead);
  EXPECT_EQ(1u, overhead.GetCount(kTraceBufferRingBufferOverheadName));
  EXPECT_EQ(80u, overhead.GetAllocatedBytes(kTraceBufferRingBufferOverheadName));
  EXPECT_EQ(3u, overhead.GetCount(kTraceBufferChunkOverheadName));  // every returned chunk
}

TEST(TraceBufferVectorTest, ReportsFullButKeepsHandingOut) {
  std::unique_ptr<TraceBuffer> buffer = TraceBuffer::CreateTraceBufferVectorOfSize(1);
  EXPECT_FALSE(buffer->IsFull());
  size_t index = 99;
  std::unique_ptr<TraceBufferChunk> first = buffer->GetChunk(&index);
  EXPECT_EQ(0u, index);
  EXPECT_EQ(1u, first->seq());
  EXPECT_TRUE(buffer->IsFull());
  std::unique_ptr<TraceBufferChunk> second = buffer->GetChunk(&index);
  ASSERT_TRUE(second);
  EXPECT_EQ(1u, index);
  EXPECT_EQ(2u, second->seq());
  EXPECT_EQ(2u * 64, buffer->Size());
  EXPECT_EQ(64u, buffer->Capacity());
}

TEST(TraceBufferVectorTest, HandlesResolveOnlyInsideTheEntries) {
  std::unique_ptr<TraceBuffer> buffer = TraceBuffer::CreateTraceBufferVectorOfSize(4);
  size_t index = 0;
  std::unique_ptr<TraceBufferChunk> chunk = buffer->GetChunk(&index);
  const TraceEventHandle handle = AddNamedEvent(chunk.get(), index, "v");
  buffer->ReturnChunk(index, std::move(chunk));
  ASSERT_NE(nullptr, buffer->GetEventByHandle(handle));

  TraceEventHandle past_the_end = handle;
  past_the_end.chunk_index = 1;  // equal to the number of entries
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(past_the_end));
  TraceEventHandle wrong_seq = handle;
  wrong_seq.chunk_seq = handle.chunk_seq + 1;
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(wrong_seq));
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(TraceEventHandle()));
}

TEST(TraceBufferVectorTest, HandleAboveSixteenBitsOfChunkIndexResolves) {
  // 70001 chunks, of which only the last is given back; the others stay "in flight" (and are freed here),
  // so the buffer holds 70001 entries without their memory.
  const size_t kChunks = 70001;
  std::unique_ptr<TraceBuffer> buffer = TraceBuffer::CreateTraceBufferVectorOfSize(kChunks);
  std::unique_ptr<TraceBufferChunk> last;
  size_t index = 0;
  for (size_t i = 0; i < kChunks; ++i)
    last = buffer->GetChunk(&index);
  ASSERT_EQ(kChunks - 1, index);
  const TraceEventHandle handle = AddNamedEvent(last.get(), index, "deep");
  buffer->ReturnChunk(index, std::move(last));
  EXPECT_EQ(70000u, handle.chunk_index);
  TraceEvent* found = buffer->GetEventByHandle(handle);
  ASSERT_NE(nullptr, found);
  EXPECT_STREQ("deep", found->name());
  // The same index cut to 16 bits names an entry whose chunk is out.
  TraceEventHandle truncated = handle;
  truncated.chunk_index = handle.chunk_index & 0xFFFF;
  EXPECT_EQ(nullptr, buffer->GetEventByHandle(truncated));
}

TEST(TraceBufferVectorTest, IterationSkipsChunksInFlightAndEstimateCountsEntries) {
  std::unique_ptr<TraceBuffer> buffer = TraceBuffer::CreateTraceBufferVectorOfSize(10);
  size_t i0, i1, i2;
  auto c0 = buffer->GetChunk(&i0);
  auto c1 = buffer->GetChunk(&i1);
  auto c2 = buffer->GetChunk(&i2);
  const uint32_t s0 = c0->seq(), s2 = c2->seq();
  buffer->ReturnChunk(i2, std::move(c2));
  buffer->ReturnChunk(i0, std::move(c0));
  std::vector<uint32_t> seen;
  while (const TraceBufferChunk* chunk = buffer->ChunkForIteration())
    seen.push_back(chunk->seq());
  EXPECT_EQ(std::vector<uint32_t>({s0, s2}), seen);  // index order; chunk 1 is still out

  TraceEventMemoryOverhead overhead;
  buffer->EstimateTraceMemoryOverhead(&overhead);
  // Room for the maximum is allocated; the entries made so far are resident.
  EXPECT_EQ(56u + 8u * 10, overhead.GetAllocatedBytes(kTraceBufferVectorOverheadName));
  EXPECT_EQ(56u + 8u * 3, overhead.GetResidentBytes(kTraceBufferVectorOverheadName));
  // The two returned (empty) chunks; the one in flight is its holder's to count.
  EXPECT_EQ(2u, overhead.GetCount(kTraceBufferChunkOverheadName));
  EXPECT_EQ(2u * 64 * TraceEvent::kEstimatedSize, overhead.GetAllocatedBytes(kUnusedTraceEventOverheadName));
}

}  // namespace
}  // namespace trace_event
}  // namespace base

namespace base {
namespace trace_event {
namespace {

TEST(TraceBufferSequenceTest, ABufferCanContinueAnotherOnesSequence) {
  std::unique_ptr<TraceBuffer> first = TraceBuffer::CreateTraceBufferVectorOfSize(4);
  size_t index = 0;
  std::unique_ptr<TraceBufferChunk> old_chunk = first->GetChunk(&index);
  const TraceEventHandle old_handle = AddNamedEvent(old_chunk.get(), index, "old");
  first->ReturnChunk(index, std::move(old_chunk));
  EXPECT_EQ(2u, first->NextChunkSeq());

  for (bool ring : {false, true}) {
    std::unique_ptr<TraceBuffer> next = ring ? TraceBuffer::CreateTraceBufferRingBuffer(4, first->NextChunkSeq())
                                             : TraceBuffer::CreateTraceBufferVectorOfSize(4, first->NextChunkSeq());
    std::unique_ptr<TraceBufferChunk> chunk = next->GetChunk(&index);
    EXPECT_EQ(0u, index);
    EXPECT_EQ(2u, chunk->seq());
    AddNamedEvent(chunk.get(), index, "new");
    next->ReturnChunk(index, std::move(chunk));
    // Same chunk index and slot, but the old handle names nothing here.
    EXPECT_EQ(nullptr, next->GetEventByHandle(old_handle));
    EXPECT_EQ(3u, next->NextChunkSeq());
  }
}

TEST(TraceBufferSequenceTest, SequencesSkipZeroWhenTheyWrap) {
  for (bool ring : {false, true}) {
    std::unique_ptr<TraceBuffer> buffer = ring ? TraceBuffer::CreateTraceBufferRingBuffer(4, 0xFFFFFFFFu)
                                               : TraceBuffer::CreateTraceBufferVectorOfSize(4, 0xFFFFFFFFu);
    size_t index = 0;
    EXPECT_EQ(0xFFFFFFFFu, buffer->GetChunk(&index)->seq());
    EXPECT_EQ(1u, buffer->NextChunkSeq());
    EXPECT_EQ(1u, buffer->GetChunk(&index)->seq());
    EXPECT_EQ(2u, buffer->GetChunk(&index)->seq());
  }
}

}  // namespace
}  // namespace trace_event
}  // namespace base
