#include "base/value_arena.h"

#include <cstdlib>
#include <new>

#include "base/logging.h"

namespace base {
namespace internal {

namespace {

constexpr size_t kAlignment = 8;
constexpr size_t kMinChunkSize = 4096;
constexpr size_t kMaxChunkSize = 1 << 20;
// Far above any count of blocks, so that frees during the parse never bring the count to zero.
constexpr int64_t kCreatorBias = int64_t{1} << 62;

std::atomic<int64_t> g_live_arenas{0};
thread_local ValueArena* g_current_arena = nullptr;

size_t AlignUp(size_t value) {
  return (value + kAlignment - 1) & ~(kAlignment - 1);
}

}  // namespace

struct ValueArena::Chunk {
  Chunk* next;
};

ValueArena* ValueArena::Create(size_t expected_bytes) {
  return new ValueArena(expected_bytes);
}

ValueArena::ValueArena(size_t expected_bytes)
    : references_(kCreatorBias), allocated_(0), open_(true), chunks_(nullptr), next_(nullptr), end_(nullptr) {
  next_chunk_size_ = expected_bytes < kMinChunkSize ? kMinChunkSize : AlignUp(expected_bytes);
  g_live_arenas.fetch_add(1, std::memory_order_relaxed);
}

ValueArena::~ValueArena() {
  while (chunks_) {
    Chunk* next = chunks_->next;
    free(chunks_);
    chunks_ = next;
  }
  g_live_arenas.fetch_sub(1, std::memory_order_relaxed);
}

// static
int64_t ValueArena::LiveCountForTesting() {
  return g_live_arenas.load(std::memory_order_relaxed);
}

// static
ValueArena* ValueArena::current() {
  return g_current_arena;
}

ValueArena::ScopedCurrent::ScopedCurrent(ValueArena* arena) : previous_(g_current_arena) {
  g_current_arena = arena;
}

ValueArena::ScopedCurrent::~ScopedCurrent() {
  g_current_arena = previous_;
}

void ValueArena::Seal() {
  open_.store(false, std::memory_order_relaxed);
  // Trade the creator's bias for the blocks it allocated: what is left is the count of live blocks.
  if (references_.fetch_add(allocated_ - kCreatorBias, std::memory_order_acq_rel) == kCreatorBias - allocated_)
    delete this;
}

void ValueArena::Release() {
  // The last release sees every earlier one's writes to the blocks before the chunks are freed.
  if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1)
    delete this;
}

void* ValueArena::AllocateInNewChunk(size_t needed) {
  size_t chunk_size = next_chunk_size_;
  if (chunk_size < needed + AlignUp(sizeof(Chunk)))
    chunk_size = needed + AlignUp(sizeof(Chunk));
  Chunk* chunk = static_cast<Chunk*>(malloc(chunk_size));
  CHECK(chunk) << "out of memory for " << chunk_size << " bytes of values";
  chunk->next = chunks_;
  chunks_ = chunk;
  next_ = reinterpret_cast<char*>(chunk) + AlignUp(sizeof(Chunk));
  end_ = reinterpret_cast<char*>(chunk) + chunk_size;
  // After a first chunk sized by the caller's estimate, grow in steps that keep each chunk a small share of
  // the whole.
  next_chunk_size_ = next_chunk_size_ * 2 > kMaxChunkSize ? kMaxChunkSize : next_chunk_size_ * 2;
  return AllocateHere(needed - kHeaderSize);
}

// static
void* ValueArena::AllocateFromHeap(size_t size) {
  CHECK(size <= SIZE_MAX - kHeaderSize);
  char* block = static_cast<char*>(malloc(kHeaderSize + size));
  CHECK(block) << "out of memory for " << size << " bytes of values";
  *reinterpret_cast<ValueArena**>(block) = nullptr;
  return block + kHeaderSize;
}

// static
void ValueArena::Free(void* pointer) {
  if (!pointer)
    return;
  char* block = static_cast<char*>(pointer) - kHeaderSize;
  ValueArena* arena = *reinterpret_cast<ValueArena**>(block);
  if (arena)
    arena->Release();
  else
    free(block);
}

}  // namespace internal
}  // namespace base
