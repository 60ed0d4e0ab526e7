#include "desktop/windows/crash_reporter/reporter/memory_range_set.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace zorvi {
namespace installer {

MemoryRangeSet::MemoryRangeSet() = default;

MemoryRangeSet::~MemoryRangeSet() = default;

bool MemoryRangeSet::AddRange(uint64_t start, uint64_t end) {
  if (start >= end)
    return true;
  // The first range that ends at or after the new start: the one before it, when it reaches the new start, or
  // the first one that starts after it.
  auto it = ranges_.upper_bound(start);
  if (it != ranges_.begin() && std::prev(it)->second >= start)
    --it;
  if (it == ranges_.end() || it->first > end) {
    try {
      ranges_.emplace_hint(it, start, end);
    } catch (const std::bad_alloc&) {
      return false;
    }
    total_bytes_ += end - start;
    return true;
  }
  // The first range reached takes in the new one and every later range the union reaches; it keeps its node, so
  // nothing is allocated and nothing can be lost halfway.
  auto next = std::next(it);
  auto merged = ranges_.extract(it);
  it = next;
  uint64_t covered = merged.mapped() - merged.key();
  merged.key() = std::min(merged.key(), start);
  merged.mapped() = std::max(merged.mapped(), end);
  while (it != ranges_.end() && it->first <= merged.mapped()) {
    covered += it->second - it->first;
    merged.mapped() = std::max(merged.mapped(), it->second);
    it = ranges_.erase(it);
  }
  total_bytes_ += (merged.mapped() - merged.key()) - covered;
  ranges_.insert(it, std::move(merged));
  return true;
}

void MemoryRangeSet::Clear() {
  ranges_.clear();
  total_bytes_ = 0;
}

}  // namespace installer
}  // namespace zorvi
