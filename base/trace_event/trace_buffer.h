// Trace events are stored in chunks of 64 records. A chunk is taken out of the buffer by one writer, filled
// without locking and returned; the buffer owns returned chunks and finds any event again by its handle. The
// ring buffer recycles the oldest returned chunks; the vector buffer only grows and reports itself full at its
// chunk limit. The buffers have no lock of their own: the trace log calls them under its lock.
#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {
namespace trace_event {

// Names under which the buffers account for themselves.
inline constexpr char kTraceBufferChunkOverheadName[] = "TraceBufferChunk";
inline constexpr char kTraceBufferRingBufferOverheadName[] = "TraceBufferRingBuffer";
inline constexpr char kTraceBufferVectorOverheadName[] = "TraceBufferVector";

class TraceBufferChunk {
 public:
  static constexpr size_t kTraceBufferChunkSize = 64;

  explicit TraceBufferChunk(uint32_t seq);
  TraceBufferChunk(const TraceBufferChunk&) = delete;
  TraceBufferChunk& operator=(const TraceBufferChunk&) = delete;
  ~TraceBufferChunk();

  // Empties the chunk for reuse under a new sequence number.
  void Reset(uint32_t new_seq);
  // The next free slot; callers test IsFull first.
  TraceEvent* AddTraceEvent(size_t* event_index);
  bool IsFull() const { return next_free_ == kTraceBufferChunkSize; }

  uint32_t seq() const { return seq_; }
  size_t size() const { return next_free_; }
  size_t capacity() const { return kTraceBufferChunkSize; }
  TraceEvent* GetEventAt(size_t index) { return &chunk_[index]; }
  const TraceEvent* GetEventAt(size_t index) const { return &chunk_[index]; }

  // Events of a full chunk are estimated once and the result is kept.
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

 private:
  size_t next_free_ = 0;
  std::unique_ptr<TraceEventMemoryOverhead> cached_overhead_estimate_;
  TraceEvent chunk_[kTraceBufferChunkSize];
  uint32_t seq_;
};

class TraceBuffer {
 public:
  virtual ~TraceBuffer() = default;

  // Hands out a chunk and its index; null when no chunk can be had.
  virtual std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) = 0;
  virtual void ReturnChunk(size_t index, std::unique_ptr<TraceBufferChunk> chunk) = 0;

  virtual bool IsFull() const = 0;
  virtual size_t Size() const = 0;
  virtual size_t Capacity() const = 0;
  // Null for an unknown or stale handle.
  virtual TraceEvent* GetEventByHandle(TraceEventHandle handle) = 0;
  // The following returned chunk for reading, or null at the end.
  virtual const TraceBufferChunk* ChunkForIteration() = 0;
  virtual void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) = 0;
  // The sequence number the next hand-out would get. A buffer that replaces this one starts there, so that
  // handles into this one never resolve in it.
  virtual uint32_t NextChunkSeq() const = 0;

  // Chunk sequence numbers start at `first_chunk_seq` (never 0, which marks "no event" in a handle).
  static std::unique_ptr<TraceBuffer> CreateTraceBufferRingBuffer(size_t max_chunks, uint32_t first_chunk_seq = 1);
  static std::unique_ptr<TraceBuffer> CreateTraceBufferVectorOfSize(size_t max_chunks, uint32_t first_chunk_seq = 1);
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_H_
