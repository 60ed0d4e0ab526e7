#include "base/trace_event/trace_buffer.h"

#include <utility>

namespace base {
namespace trace_event {

namespace {

constexpr size_t kChunkEstimatedSize = 24;        // the chunk without its events
constexpr size_t kRingBufferEstimatedSize = 80;
constexpr size_t kVectorEstimatedSize = 56;

// The sequence after `seq`, skipping 0.
uint32_t NextSeq(uint32_t seq) {
  return seq + 1 == 0 ? 1 : seq + 1;
}

TraceEvent* EventInChunks(std::vector<std::unique_ptr<TraceBufferChunk>>& chunks, TraceEventHandle handle) {
  if (handle.chunk_index >= chunks.size())
    return nullptr;
  TraceBufferChunk* chunk = chunks[handle.chunk_index].get();
  if (!chunk || chunk->seq() != handle.chunk_seq)
    return nullptr;
  return chunk->GetEventAt(handle.event_index);
}

class TraceBufferRingBuffer : public TraceBuffer {
 public:
  TraceBufferRingBuffer(size_t max_chunks, uint32_t first_chunk_seq)
      : max_chunks_(max_chunks),
        recyclable_chunks_queue_(new size_t[QueueCapacity()]),
        queue_head_(0),
        queue_tail_(max_chunks),
        current_chunk_seq_(first_chunk_seq ? first_chunk_seq : 1) {
    chunks_.reserve(max_chunks);
    for (size_t i = 0; i < max_chunks; ++i)
      recyclable_chunks_queue_[i] = i;
  }

  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override {
    // Every chunk is out: there is nothing to hand out (taking the head would hand out a stale index).
    if (QueueIsEmpty())
      return nullptr;
    *index = recyclable_chunks_queue_[queue_head_];
    queue_head_ = NextQueueIndex(queue_head_);
    current_iteration_index_ = queue_head_;
    if (*index >= chunks_.size())
      chunks_.resize(*index + 1);
    std::unique_ptr<TraceBufferChunk> chunk = std::move(chunks_[*index]);
    const uint32_t seq = current_chunk_seq_;
    current_chunk_seq_ = NextSeq(current_chunk_seq_);
    if (chunk)
      chunk->Reset(seq);
    else
      chunk = std::make_unique<TraceBufferChunk>(seq);
    return chunk;
  }

  void ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) override {
    if (index >= chunks_.size() || chunks_[index] || QueueIsFull())
      return;  // not a chunk this buffer handed out; dropping it keeps the queue consistent
    chunks_[index] = std::move(chunk);
    recyclable_chunks_queue_[queue_tail_] = index;
    queue_tail_ = NextQueueIndex(queue_tail_);
  }

  uint32_t NextChunkSeq() const override { return current_chunk_seq_; }

  bool IsFull() const override { return false; }
  size_t Size() const override { return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize; }
  size_t Capacity() const override { return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize; }

  TraceEvent* GetEventByHandle(TraceEventHandle handle) override { return EventInChunks(chunks_, handle); }

  const TraceBufferChunk* ChunkForIteration() override {
    if (chunks_.empty())
      return nullptr;
    while (current_iteration_index_ != queue_tail_) {
      const size_t chunk_index = recyclable_chunks_queue_[current_iteration_index_];
      current_iteration_index_ = NextQueueIndex(current_iteration_index_);
      if (chunk_index >= chunks_.size() || !chunks_[chunk_index])
        continue;
      return chunks_[chunk_index].get();
    }
    return nullptr;
  }

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override {
    overhead->Add(kTraceBufferRingBufferOverheadName, kRingBufferEstimatedSize);
    for (size_t queue_index = queue_head_; queue_index != queue_tail_; queue_index = NextQueueIndex(queue_index)) {
      const size_t chunk_index = recyclable_chunks_queue_[queue_index];
      if (chunk_index >= chunks_.size() || !chunks_[chunk_index])
        continue;
      chunks_[chunk_index]->EstimateTraceMemoryOverhead(overhead);
    }
  }

 private:
  size_t QueueCapacity() const { return max_chunks_ + 1; }  // one spare slot tells full from empty
  size_t NextQueueIndex(size_t index) const { return index + 1 == QueueCapacity() ? 0 : index + 1; }
  bool QueueIsEmpty() const { return queue_head_ == queue_tail_; }
  bool QueueIsFull() const { return NextQueueIndex(queue_tail_) == queue_head_; }

  size_t max_chunks_;
  std::vector<std::unique_ptr<TraceBufferChunk>> chunks_;
  std::unique_ptr<size_t[]> recyclable_chunks_queue_;
  size_t queue_head_;
  size_t queue_tail_;
  size_t current_iteration_index_ = 0;
  uint32_t current_chunk_seq_;  // rises with every hand-out
};

class TraceBufferVector : public TraceBuffer {
 public:
  TraceBufferVector(size_t max_chunks, uint32_t first_chunk_seq)
      : max_chunks_(max_chunks), first_chunk_seq_(first_chunk_seq ? first_chunk_seq : 1) {
    chunks_.reserve(max_chunks_);
  }

  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override {
    // Full is only reported: the log stops recording on it, but metadata may still need a chunk.
    *index = chunks_.size();
    chunks_.push_back(nullptr);
    ++in_flight_chunk_count_;
    return std::make_unique<TraceBufferChunk>(SeqOfIndex(*index));
  }

  void ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) override {
    if (index >= chunks_.size() || chunks_[index])
      return;
    --in_flight_chunk_count_;
    chunks_[index] = std::move(chunk);
  }

  uint32_t NextChunkSeq() const override { return SeqOfIndex(chunks_.size()); }

  bool IsFull() const override { return chunks_.size() >= max_chunks_; }
  size_t Size() const override { return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize; }
  size_t Capacity() const override { return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize; }

  TraceEvent* GetEventByHandle(TraceEventHandle handle) override { return EventInChunks(chunks_, handle); }

  const TraceBufferChunk* ChunkForIteration() override {
    while (current_iteration_index_ < chunks_.size()) {
      const TraceBufferChunk* chunk = chunks_[current_iteration_index_++].get();
      if (chunk)
        return chunk;
    }
    return nullptr;
  }

  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override {
    overhead->Add(kTraceBufferVectorOverheadName, kVectorEstimatedSize + sizeof(void*) * max_chunks_,
                  kVectorEstimatedSize + sizeof(void*) * chunks_.size());
    // Chunks in flight are counted by the threads' buffers that hold them.
    for (const auto& chunk : chunks_) {
      if (chunk)
        chunk->EstimateTraceMemoryOverhead(overhead);
    }
  }

 private:
  // The index plus the first sequence (1 for a first buffer), skipping 0.
  uint32_t SeqOfIndex(size_t index) const {
    const uint32_t seq = static_cast<uint32_t>(first_chunk_seq_ + index);
    return seq >= first_chunk_seq_ ? seq : seq + 1;
  }

  size_t in_flight_chunk_count_ = 0;
  size_t current_iteration_index_ = 0;
  size_t max_chunks_;
  uint32_t first_chunk_seq_;
  std::vector<std::unique_ptr<TraceBufferChunk>> chunks_;
};

}  // namespace

TraceBufferChunk::TraceBufferChunk(uint32_t seq) : seq_(seq) {}

TraceBufferChunk::~TraceBufferChunk() = default;

void TraceBufferChunk::Reset(uint32_t new_seq) {
  for (size_t i = 0; i < next_free_; ++i)
    chunk_[i].Reset();
  next_free_ = 0;
  seq_ = new_seq;
  cached_overhead_estimate_.reset();
}

TraceEvent* TraceBufferChunk::AddTraceEvent(size_t* event_index) {
  *event_index = next_free_++;
  return &chunk_[*event_index];
}

void TraceBufferChunk::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  if (!cached_overhead_estimate_) {
    cached_overhead_estimate_ = std::make_unique<TraceEventMemoryOverhead>();
    cached_overhead_estimate_->Add(kTraceBufferChunkOverheadName, kChunkEstimatedSize);
  }
  const size_t num_cached_estimated_events = cached_overhead_estimate_->GetCount(kTraceEventOverheadName);
  if (IsFull() && num_cached_estimated_events == kTraceBufferChunkSize) {
    overhead->Update(*cached_overhead_estimate_);
    return;
  }
  for (size_t i = num_cached_estimated_events; i < size(); ++i)
    chunk_[i].EstimateTraceMemoryOverhead(cached_overhead_estimate_.get());
  if (IsFull()) {
    cached_overhead_estimate_->AddSelf();
  } else {
    // Unused slots are estimated on every call: they are about to be filled.
    const size_t num_free_events = capacity() - size();
    overhead->Add(kUnusedTraceEventOverheadName, num_free_events * TraceEvent::kEstimatedSize);
  }
  overhead->Update(*cached_overhead_estimate_);
}

// static
std::unique_ptr<TraceBuffer> TraceBuffer::CreateTraceBufferRingBuffer(size_t max_chunks, uint32_t first_chunk_seq) {
  return std::make_unique<TraceBufferRingBuffer>(max_chunks, first_chunk_seq);
}

// static
std::unique_ptr<TraceBuffer> TraceBuffer::CreateTraceBufferVectorOfSize(size_t max_chunks,
                                                                       uint32_t first_chunk_seq) {
  return std::make_unique<TraceBufferVector>(max_chunks, first_chunk_seq);
}

}  // namespace trace_event
}  // namespace base
